// cpu_6502: the processor. Runs on the timer thread; every access goes
// through mem_read/mem_write.
#pragma once
#include <cstdint>

int cpu_6502_init();  // reset: takes the vector at 0xFFFC/0xFFFD
int cpu_6502_run();   // tape short-cuts, trace hook, one step; cycles used (>= 2)
int cpu_6502_step();  // one instruction (+7 when an interrupt was entered)
int cpu_6502_setnmi();
int cpu_6502_clrnmi();
int cpu_6502_setirq();  // level input, driven by the VIA
int cpu_6502_clrirq();
uint64_t cpu_6502_cycles();
