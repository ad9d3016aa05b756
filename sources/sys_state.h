// sys_state: the whole machine in one file and back. The file is the magic
// "KESTREL" and a 0x1A byte, the format version and the body's length (two
// 32-bit little-endian words), then the body compressed with zlib. The body
// is one section per module: a name (length byte and characters), the data's
// length and its CRC-32 (32-bit little-endian words), the data. Each module
// writes and reads its own section; host matters (window, zoom, console,
// audio device, the event queue) are not kept.
//
// A state is read and checked whole (container, every section, every value)
// before anything is applied, so a refused state leaves the machine as it
// was. Disk drives come back only when their image file is unchanged since
// the save (a hash is kept); see fdc.h.
//
// Threads: the main thread, holding the machine lock (console, quick keys,
// start-up and exit); the sound chip's section also takes the audio lock.
#pragma once
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

// Version 2 added the timing (core), the VIA's pending loads and armed
// timers, and the sound chip's fraction of a cycle; version 1 files still
// load, as the simplified timing with those at zero. Version 3 added the
// sound chip's output filter and the display's blink count; older files
// start them settled at the level then held, and at 0.
constexpr uint32_t STATE_VERSION = 3;
constexpr const char *STATE_QUICK_FILE = "kestrel.state"; // F2 / F3

// Writes the drives' changes back to their images, then the machine to
// `path` through a temporary file in the same folder, so an earlier file
// stays intact when the write fails. 1 with the reason reported.
int sys_state_save(const char *path);
// Reads, checks and applies a state. 1 with the reason reported (one line);
// the machine is then unchanged.
int sys_state_load(const char *path);
// The same on bytes in memory (a whole state file's), without the write-back.
int sys_state_write(std::vector<uint8_t> &file);
int sys_state_read(const uint8_t *file, size_t size);

// The format version of the state being read, for the sections' loaders;
// STATE_VERSION otherwise.
uint32_t sys_state_format();

// A line for the user: the error log and the console.
int sys_state_report(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// "state refused: " and the reason, as a report; returns 1.
int sys_state_refuse(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// 64-bit FNV-1a, the identity kept for files a state refers to.
uint64_t sys_state_hash(const uint8_t *bytes, size_t size);

// Section data: little-endian fields in the order the owning module writes them.
template <class T> void state_put(std::vector<uint8_t> &out, T value) {
    static_assert(std::is_integral_v<T>);
    auto bits = static_cast<std::make_unsigned_t<T>>(value);
    for (size_t i = 0; i < sizeof(T); i++)
        out.push_back(static_cast<uint8_t>(bits >> (8 * i)));
}
template <class T, size_t N> void state_put(std::vector<uint8_t> &out, const T (&values)[N]) {
    for (const T &v : values)
        state_put(out, v);
}
inline void state_put_bytes(std::vector<uint8_t> &out, const void *bytes, size_t size) {
    const auto *b = static_cast<const uint8_t *>(bytes);
    out.insert(out.end(), b, b + size);
}

// Reads a section; a read past its end gives zeros and marks it bad.
struct state_reader {
    const uint8_t *data;
    size_t size;
    size_t at = 0;
    bool bad = false;

    template <class T> void get(T &value) {
        static_assert(std::is_integral_v<T>);
        std::make_unsigned_t<T> bits = 0;
        if (size - at < sizeof(T)) {
            bad = true;
            at = size;
        } else {
            for (size_t i = 0; i < sizeof(T); i++)
                bits = static_cast<decltype(bits)>(bits | uint64_t{data[at++]} << (8 * i));
        }
        value = static_cast<T>(bits);
    }
    template <class T, size_t N> void get(T (&values)[N]) {
        for (T &v : values)
            get(v);
    }
    // The next `n` bytes in place; nullptr (and bad) when fewer are left.
    const uint8_t *take(size_t n) {
        if (size - at < n) {
            bad = true;
            at = size;
            return nullptr;
        }
        at += n;
        return data + at - n;
    }
    // 0 when the section was read to its last byte and no further; else refuses.
    int finish(const char *section) const {
        if (!bad && at == size) return 0;
        return sys_state_refuse("section '%s' has %zu bytes, not what this format holds", section,
                                size);
    }
};
