// cpu_6502_debug: the instruction trace. With the master and processor
// trace switches both on, cpu_6502_run has one line written before every
// instruction: IRQ level, address, bytes, registers, flags and the
// instruction disassembled, with labels from the system ROM's entry points,
// its variables and the I/O registers. Timer thread only.
#pragma once
#include <cstdint>

struct symboldef {
    uint16_t address;
    const char *label;
};

constexpr int SYMBOLDEF_COUNT = 303;
extern const symboldef symboldef_z5[SYMBOLDEF_COUNT]; // ascending addresses

// Addressing-mode codes of opmodes; the trace formats operands by them.
enum cpu_6502_mode : int32_t {
    MODE_IMP = 0, // implied or accumulator
    MODE_IMM = 1,
    MODE_ABS = 2, // also the JMP and JSR targets
    MODE_ZP = 3,
    MODE_REL = 4,
    MODE_ABX = 5,
    MODE_ABY = 6,
    MODE_ZPX = 7,
    MODE_ZPY = 8,
    MODE_IZX = 9,  // (zero page,X)
    MODE_IZY = 10, // (zero page),Y
    MODE_IND = 11, // (absolute), JMP only
};

// Per opcode: addressing mode, length in bytes, mnemonic. Undocumented
// opcodes show as "???", mode 0, length 1. The processor does not use these.
extern const int32_t opmodes[256];
extern const int32_t opsizes[256];
extern const char *const opnames[256];

// Builds the label index on the first call (65,536 entries, never freed);
// later calls do nothing. Called by every reset.
int cpu_6502_debug_init();
// Writes the trace line for the instruction at `pc` through log_info when
// the master and processor switches are on. Reads only the instruction bytes.
int cpu_6502_debug_run(int pc, int irq, int a, int x, int y, int stack, int flags);
// The label index: one entry per address, nullptr where there is no label;
// nullptr before the first cpu_6502_debug_init.
const symboldef **cpu_6502_debug_symbols();
