// Shared test fixture: a private working directory, file and log helpers,
// RAM words, and a machine with RAM under every address outside the I/O page,
// the vectors set and the processor reset.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "board.h"
#include "cpu_6502.h"
#include "keyboard.h"
#include "log.h"
#include "mem.h"
#include "ram.h"
#include "sys_cfg.h"
#include "sys_core.h"
#include "vdc.h"
#include "via_6522.h"

// The sanitizers cost the emulated machine most of its speed: the longest
// runs do a smaller share of their work under them.
#ifdef KESTREL_SANITIZED
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif

// Makes a fresh directory, enters it, and on destruction leaves and removes it.
class TempDir {
  public:
    TempDir() {
        char templ[] = "/tmp/kestrel_test_XXXXXX";
        char *made = mkdtemp(templ);
        if (!made) std::abort();
        path_ = made;
        old_ = std::filesystem::current_path();
        std::filesystem::current_path(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::current_path(old_, ec);
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path_, ec);
    }
    const std::string &path() const { return path_; }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

  private:
    std::string path_;
    std::filesystem::path old_;
};

// The cell of the key that types `c` ('\r' and '\n' are Return), shift aside.
inline uint64_t cell_of(char c) {
    uint8_t cell = 0;
    bool shift = false;
    return keyboard_find(c == '\r' ? '\n' : c, &cell, &shift) == 0 ? cell : KEY_CELLS;
}

inline std::vector<uint8_t> read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string read_text(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_file(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline void write_text(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

// As root, file permissions do not stop writes.
inline bool running_as_root() {
    return geteuid() == 0;
}

// The lines given to keep_log_line, oldest first; clear it before use.
inline std::vector<std::string> logged;

// A log hook (log_info_hook and the like) that keeps each line in `logged`.
inline int keep_log_line(const char *fmt, va_list ap) {
    char line[512];
    vsnprintf(line, sizeof line, fmt, ap);
    logged.emplace_back(line);
    return 0;
}

// The kept lines, each followed by "|", for comparing a run in one string.
inline std::string joined_log() {
    std::string all;
    for (const std::string &line : logged)
        all += line + '|';
    return all;
}

inline uint16_t word(unsigned addr) {
    const uint8_t *mem = ram_getptr();
    return static_cast<uint16_t>(mem[addr & 0xFFFF] | mem[(addr + 1) & 0xFFFF] << 8);
}

inline void set_word(unsigned addr, unsigned value) {
    uint8_t *mem = ram_getptr();
    mem[addr & 0xFFFF] = static_cast<uint8_t>(value);
    mem[(addr + 1) & 0xFFFF] = static_cast<uint8_t>(value >> 8);
}

inline std::vector<uint8_t> ram_range(unsigned addr, unsigned n) {
    const uint8_t *mem = ram_getptr();
    return {mem + addr, mem + addr + n};
}

// Bytes straight into RAM, whatever the decoder would show there.
inline void poke(unsigned addr, const std::vector<uint8_t> &bytes) {
    uint8_t *mem = ram_getptr();
    for (uint8_t b : bytes)
        mem[addr++ & 0xFFFF] = b;
}

constexpr uint16_t FIX_RESET = 0x0400;
constexpr uint16_t FIX_IRQ = 0x0700;
constexpr uint16_t FIX_NMI = 0x0800;

// The machine as wired, with RAM at 0xC000-0xFFFF (hiram), reset to FIX_RESET, IRQ and
// NMI vectors at FIX_IRQ and FIX_NMI. TearDown puts the switches, traces and
// log hooks back so the next test starts clean.
class Machine : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(0, board_init());
        hiram = 1;
        set_word(0xFFFC, FIX_RESET);
        set_word(0xFFFE, FIX_IRQ);
        set_word(0xFFFA, FIX_NMI);
        ASSERT_EQ(0, cpu_6502_init());
    }
    void TearDown() override {
        sys_exact_timing(0);
        tr[0] = tr[1] = 0;
        log_info_hook(nullptr);
        log_verbosity(0);
        hiram = 0;
    }
    // Places code at `addr` and points the processor at it.
    void code(uint16_t addr, const std::vector<uint8_t> &bytes) {
        poke(addr, bytes);
        cpu_6502.pcreg = addr;
    }
};

// A sound-chip register write as the system ROM makes it, through the VIA:
// port A carries the number, then the value, each strobed by BDIR (CB2) with
// BC1 (CA2) through PCR.
inline void ay_write(uint8_t reg, uint8_t value) {
    via_6522_write(VIA_BASE + VIA_DDRA, 0xFF);
    via_6522_write(VIA_BASE + VIA_IORA, reg);
    via_6522_write(VIA_BASE + VIA_PCR, 0xFF); // BC1 = BDIR = 1: latch address
    via_6522_write(VIA_BASE + VIA_PCR, 0xDD);
    via_6522_write(VIA_BASE + VIA_IORA, value);
    via_6522_write(VIA_BASE + VIA_PCR, 0xFD); // BDIR = 1, BC1 = 0: write
    via_6522_write(VIA_BASE + VIA_PCR, 0xDD);
}

// The machine as the program starts it: default settings, an empty event
// queue, then memory, display, VIA and processor in start-up order.
inline void start_machine() {
    sys_cfg_defaults();
    sys_apply_config();
    sys_queue_reset();
    board_init();
}
