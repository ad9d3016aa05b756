// Shared by the fuzz targets: a private folder to work in, files in and
// out, a known memory to start from, and checks that abort when a promise
// is broken (libFuzzer then keeps the input).
#pragma once
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "board.h"
#include "mem.h"
#include "ram.h"
#include "vdc.h"
#include "via_6522.h"
#include "sys_file.h"

using bytes = std::vector<uint8_t>;

inline std::string fuzz_folder;

// The machine as the program starts it.
inline void fuzz_machine() {
    board_init();
}

inline void fuzz_leave_folder() {
    std::error_code ec;
    std::filesystem::remove_all(fuzz_folder, ec);
}

#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            fprintf(stderr, "promise broken: %s (%s:%d)\n", #cond, __FILE__, __LINE__);            \
            fuzz_leave_folder();                                                                   \
            abort();                                                                               \
        }                                                                                          \
    } while (0)

// Enters a fresh folder once per process and the machine's memory is set
// up; every file a target writes stays in that folder, removed at exit. In
// memory where there is a tmpfs: every save syncs, which a disk makes slow.
inline void fuzz_start() {
    if (!fuzz_folder.empty()) return;
    char shm[] = "/dev/shm/kestrel_fuzz_XXXXXX", tmp[] = "/tmp/kestrel_fuzz_XXXXXX";
    char *templ = mkdtemp(shm) ? shm : mkdtemp(tmp);
    if (!templ || chdir(templ) != 0) abort();
    fuzz_folder = templ;
    atexit(fuzz_leave_folder);
    fuzz_machine();
}

inline void fuzz_write(const char *path, const uint8_t *data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
}

inline bytes fuzz_read(const char *path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The files in the folder; a temporary one left behind shows here.
inline size_t fuzz_files() {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("."), {}));
}

// Memory as a load finds it: 0x41 everywhere, both program pointers 0.
inline void fuzz_fresh_memory() {
    memset(ram_getptr(), 0x41, RAM_SIZE);
    memset(ram_getptr() + 0x9A, 0, 4);
    hiram = 0;
}

inline bytes fuzz_memory(unsigned from = 0, unsigned to = RAM_SIZE) {
    return {ram_getptr() + from, ram_getptr() + to};
}

inline unsigned fuzz_word(unsigned addr) {
    return ram_getptr()[addr] | ram_getptr()[addr + 1] << 8;
}

// A program file through sys_file: a refused file leaves memory and the file
// as they were; a program loaded, saved in the same format and loaded again
// comes back byte for byte. A save may refuse what its loader would refuse
// only when `may_refuse` (a tape block may have overwritten the pointers).
// Returns the first load's result.
inline int fuzz_program(const char *in, const char *out, const uint8_t *data, size_t size,
                        bool may_refuse = false) {
    fuzz_start();
    fuzz_write(in, data, size);
    fuzz_fresh_memory();
    bytes before = fuzz_memory();
    int result = sys_file_load(in);
    FUZZ_CHECK(fuzz_read(in) == bytes(data, data + size));
    if (result != 0) FUZZ_CHECK(fuzz_memory() == before);
    unsigned start = fuzz_word(0x9A), end = fuzz_word(0x9C);
    if (result != 0 || end <= start) return result; // no program set up
    bytes program = fuzz_memory(start, end);
    int saved = sys_file_save(out);
    FUZZ_CHECK(saved == 0 || may_refuse);
    if (saved != 0) return result;
    fuzz_fresh_memory();
    FUZZ_CHECK(sys_file_load(out) == 0);
    FUZZ_CHECK(fuzz_word(0x9A) == start && fuzz_word(0x9C) == end);
    FUZZ_CHECK(fuzz_memory(start, end) == program);
    FUZZ_CHECK(fuzz_files() == 2);
    return result;
}
