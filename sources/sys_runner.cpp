#include "sys_runner.h"

#include <cstdint>
#include <cstdio>
#include <iterator>

#include "cpu_6502.h"
#include "mem.h"
#include "ram.h"
#include "sys_cfg.h"
#include "sys_core.h"

constexpr uint8_t OP_BRK = 0x00;
constexpr unsigned SCREEN_TEXT = 0xBB80;
constexpr int SCREEN_COLUMNS = 40;
constexpr int SCREEN_ROWS = 28;

// Codes 0x5F-0x7F as the two built-in sets draw them; below 0x5F both are ASCII.
constexpr const char *latin_text[] = {
    // 5F, then x0 to xF of 6x and 7x
    "£",                                                                            // 5x
    "©", "a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "n", "o", // 6x
    "p", "q", "r", "s", "t", "u", "v", "w", "x", "y", "z", "{", "|", "}", "▒", "█", // 7x
};
static_assert(std::size(latin_text) == 33);
constexpr const char *cyrillic_text[] = {
    // 5F, then x0 to xF of 6x and 7x
    "#",                                                                            // 5x
    "Ю", "А", "Б", "Ц", "Д", "Е", "Ф", "Г", "Х", "И", "Й", "К", "Л", "М", "Н", "О", // 6x
    "П", "Я", "Р", "С", "Т", "У", "Ж", "В", "Ь", "Ы", "З", "Ш", "Э", "Щ", "Ч", "▕", // 7x
};
static_assert(std::size(cyrillic_text) == 33);

static struct {
    int exit_addr; // -1: none
    int on_brk;
    void (*done)();
    int ended;
    int status;
    char report[96];
} runner = {-1, 0, nullptr, 0, 0, ""};

// The I/O page answers reads by changing state; no program runs from it.
static uint8_t peek(unsigned addr) {
    addr &= 0xFFFF;
    if (addr - 0x0300u < 0x20u) return 0xEA;
    uint8_t value = 0;
    mem_read(addr, &value);
    return value;
}

static void end_run(int status) {
    runner.ended = 1;
    runner.status = status;
    if (runner.done) runner.done();
}

int sys_runner_arm(int exit_addr, int on_brk, void (*done)()) {
    runner.exit_addr = exit_addr;
    runner.on_brk = on_brk;
    runner.done = done;
    runner.ended = 0;
    runner.status = 0;
    runner.report[0] = 0;
    return 0;
}

int sys_runner_armed() {
    return runner.exit_addr >= 0 || runner.on_brk;
}

int sys_runner_step(int *cycles) {
    *cycles = 0;
    if (runner.ended) return 0;
    const cpu_6502_registers &r = cpu_6502;
    // Checked before the instruction runs: the state is the one at ADDR.
    if (r.pcreg == runner.exit_addr) {
        end_run(r.areg);
        return 0;
    }
    if (runner.on_brk && peek(r.pcreg) == OP_BRK) {
        snprintf(runner.report, sizeof runner.report,
                 "BRK at %.4X: A=%.2X X=%.2X Y=%.2X S=%.2X P=%.2X", r.pcreg, r.areg, r.xreg, r.yreg,
                 r.stack & 0xFF, r.flags);
        end_run(1);
        return 0;
    }
    return sys_systemloop(cycles);
}

int sys_runner_status(int *status) {
    if (!runner.ended) return 1;
    *status = runner.status;
    return 0;
}

const char *sys_runner_report() {
    return runner.report;
}

std::string sys_runner_screen() {
    const uint8_t *ram = ram_getptr();
    const char *const *high = config[CFG_CHARSET].value ? latin_text : cyrillic_text;
    std::string out;
    for (int row = 0; row < SCREEN_ROWS; row++) {
        std::string line;
        size_t kept = 0; // length up to the last character that is not a blank
        for (int col = 0; col < SCREEN_COLUMNS; col++) {
            // Bit 7 only inverts the colours; the shape is the same.
            uint8_t c = ram[SCREEN_TEXT + row * SCREEN_COLUMNS + col] & 0x7F;
            if (c < 0x20) {
                line += ' ';
            } else if (c < 0x5F) {
                line += static_cast<char>(c);
                if (c != ' ') kept = line.size();
            } else {
                line += high[c - 0x5F];
                kept = line.size();
            }
        }
        line.resize(kept);
        out += line;
        out += '\n';
    }
    return out;
}
