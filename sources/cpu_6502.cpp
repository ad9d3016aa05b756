// PLACEHOLDER until the processor lands: lets the other modules link.
#include "cpu_6502.h"

int cpu_6502_init() { return 0; }
int cpu_6502_run() { return 2; }
int cpu_6502_step() { return 2; }
int cpu_6502_setnmi() { return 0; }
int cpu_6502_clrnmi() { return 0; }
int cpu_6502_setirq() { return 0; }
int cpu_6502_clrirq() { return 0; }
uint64_t cpu_6502_cycles() { return 0; }
