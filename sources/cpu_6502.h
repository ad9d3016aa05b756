// cpu_6502: the processor, an NMOS 6502 with its undocumented opcodes.
// Runs on the timer thread; every access, opcode fetches included, goes
// through mem_read/mem_write. The VIA drives the IRQ input (a level), host
// events drive NMI (an edge) and reset. Two system ROM tape routines are
// served straight from the mounted tape.
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

int cpu_6502_init(); // reset: takes the vector at 0xFFFC/0xFFFD
// Each in the simplified timing, and as _exact in the exact one: an indexed
// read crossing a page takes its extra cycle, indexed accesses make the
// part's read before the carry, read-modify-write writes the byte unchanged
// first, a device access brings the VIA to its own cycle first
// (via_6522_catch_up), an interrupt entry leaves D alone. The caller picks
// the pair once, so that a step tests no mode.
int cpu_6502_run(); // tape short-cuts, trace hook, one step; cycles used (>= 2)
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
