// cpu_6502: the processor, an NMOS 6502 with its undocumented opcodes.
// Runs on the timer thread; every access goes through the decoder (mem.h),
// whose plain RAM and ROM the step reads and writes in place. Whoever the
// board wires drives the IRQ input (a level); host events drive NMI (an
// edge) and reset. It knows no other chip: the board hands it a hook for a
// range of entry points (the system ROM's tape routines) and, for exact
// timing, the device catch-up.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// The register file, published so that the console and tests can look at it
// between steps; within a step the registers live in the step's locals.
struct cpu_6502_registers {
    uint8_t areg;
    uint8_t xreg;
    uint8_t yreg;
    uint8_t flags; // NV-BDIZC; bits 4 and 5 read 1 after every step
    uint16_t pcreg;
    uint16_t stack; // full stack address, always 0x0100-0x01FF
    int flagirq;    // bit 1 while a source holds the IRQ line active
    int flanknmi;   // 1: an NMI edge waits to be serviced
    int flagnmi;    // bit 1 while the NMI line is active
    uint64_t totalcycles;
};

extern cpu_6502_registers cpu_6502;

// What the board hands the processor once; a reset keeps it. nullptr: none.
struct cpu_6502_wiring {
    // Exact timing, before a device access `cycles` cycles later in its
    // instruction than an absolute one's: brings the devices there.
    int (*catch_up)(int cycles);
    // Called before an instruction whose address lies in entry_first to
    // entry_last (within 0xC000-0xFFFD); may change the registers and the
    // program counter, and the instruction then runs from there.
    void (*entry)();
    uint16_t entry_first;
    uint16_t entry_last;
};
int cpu_6502_wire(const cpu_6502_wiring &wiring); // 0

int cpu_6502_init(); // reset: takes the vector at 0xFFFC/0xFFFD
// Each in the simplified timing, and as _exact in the exact one: an indexed
// read crossing a page takes its extra cycle, indexed accesses make the
// part's read before the carry, read-modify-write writes the byte unchanged
// first, a device access brings the VIA to its own cycle first
// (via_6522_catch_up), an interrupt entry leaves D alone. The caller picks
// the pair once, so that a step tests no mode.
int cpu_6502_run(); // entry hook, trace hook, one step; cycles used (>= 2)
int cpu_6502_run_exact();
int cpu_6502_step(); // one instruction (+7 when an interrupt was entered)
int cpu_6502_step_exact();
int cpu_6502_setnmi(); // an inactive-to-active edge latches one NMI
int cpu_6502_clrnmi();
int cpu_6502_setirq(); // level input, driven by the VIA
int cpu_6502_clrirq();
uint64_t cpu_6502_cycles(); // since the last reset, the reset's 7 included

// Saved state (sys_state): the register file and the interrupt lines.
// apply 0 only checks the section; 1 checks it, then takes it. 1 refused.
void cpu_6502_state_save(std::vector<uint8_t> &out);
int cpu_6502_state_load(const uint8_t *data, size_t size, int apply);
