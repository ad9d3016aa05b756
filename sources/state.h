// state: what every module needs to write its own section of a saved state
// and to read it back, below the chips and knowing none of them. The file
// around the sections, and which module owns which section, are sys_state's.
//
// Threads: whoever saves or restores, holding the machine lock.
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

// Where report lines go: sys_state installs the user's channel (error log
// and console); nullptr, the default, sends them to the error log alone.
using state_report_fn = int (*)(const char *line);
int state_set_reporter(state_report_fn fn);

// The state being read: its format version (the sections' loaders ask it)
// and its file name for refusal lines (nullptr or "": none). state_end puts
// back STATE_VERSION and no name.
int state_begin(uint32_t format, const char *path);
int state_end();

// The format version of the state being read; STATE_VERSION otherwise.
uint32_t state_format();
// The file of the state being read, as given; "" when none (bytes in memory).
const char *state_path();

// A line for the user, "state: " first.
int state_report(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// "state refused: " (with the file's name when known) and the reason, as a
// report; returns 1.
int state_refuse(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// 64-bit FNV-1a, the identity kept for files a state refers to.
uint64_t state_hash(const uint8_t *bytes, size_t size);

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
        return state_refuse("section '%s' has %zu bytes, not what this format holds", section,
                            size);
    }
};
