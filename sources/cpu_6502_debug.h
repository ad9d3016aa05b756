// cpu_6502_debug: the instruction trace and the labels. With the master and
// processor trace switches both on, cpu_6502_run has one line written before
// every instruction: IRQ level, address, bytes, registers, flags and the
// instruction disassembled, with labels. The labels are those of the ROM
// that is loaded: our own ROM's, made from its sources at build time, or for
// any other image the table of the original ROM's entry points and
// variables; both with the I/O registers, and under the user's own labels.
// The trace runs on the timer thread; labels change under the machine lock.
#pragma once
#include <cstdint>

struct symboldef {
    uint16_t address;
    const char *label;
};

constexpr int SYMBOLDEF_COUNT = 303;
extern const symboldef symboldef_z5[SYMBOLDEF_COUNT]; // ascending addresses

// Our own system ROM's labels, from the linker's label file (ascending
// addresses), and the 32-bit FNV-1a of the image they belong to.
extern const symboldef rom_labels[];
extern const int rom_labels_count;
extern const uint32_t rom_labels_hash;

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

// Builds the label index on the first call (65,536 entries, never freed),
// for the ROM image loaded; later calls do nothing unless another image was
// loaded since. Called by every reset.
int cpu_6502_debug_init();
// Writes the trace line for the instruction at `pc` through log_info when
// the master and processor switches are on. Reads only the instruction bytes.
int cpu_6502_debug_run(int pc, int irq, int a, int x, int y, int stack, int flags);
// The label index: one entry per address, nullptr where there is no label;
// nullptr before the first cpu_6502_debug_init.
const symboldef **cpu_6502_debug_symbols();

// The label shown for `addr`, or nullptr.
const char *cpu_6502_debug_label(uint16_t addr);
// A label of the user's, copied, over any other at `addr` (a later one for the
// same address wins). 0, or 1 when there is no index to put it in.
int cpu_6502_debug_add_label(uint16_t addr, const char *name);
// Drops every label of the user's.
int cpu_6502_debug_clear_labels();
