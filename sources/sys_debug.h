// sys_debug: the monitor's breakpoints, write watches and stepping. While
// nothing is armed and the machine runs, frames call sys_systemloop straight
// and this costs nothing; otherwise they call sys_debug_systemloop, which
// checks the breakpoints before each instruction and stops the machine on a
// breakpoint, a watched store or the end of a step. A stopped machine takes
// no steps (the frame still draws) but still acts on events, reset included.
//
// Threads: every call and all state belong to the machine lock: the timer
// thread steps under it, console commands take it. The one exception is
// the stop notice, an atomic the main thread takes without the lock to
// learn that a frame has stopped the machine.
#pragma once
#include <cstdint>

constexpr int DBG_BREAKS = 16;
constexpr int DBG_WATCHES = 8;

enum dbg_state : int32_t {
    DBG_RUNNING = 0,
    DBG_PAUSED = 1,  // by the user
    DBG_BREAK = 2,   // a breakpoint at the program counter, not yet run
    DBG_WATCH = 3,   // after the instruction that stored to a watched address
    DBG_STEPPED = 4, // a step, step over or run to RTS has ended
};

// Why the machine stands, and for a watch what was stored where.
struct dbg_stop {
    int32_t state;
    uint16_t addr;
    uint8_t value;
};

// Where the monitor's lines go (the console installs its printer); nullptr
// drops them.
using sys_debug_print_fn = int (*)(const char *fmt, ...);
int sys_debug_set_printer(sys_debug_print_fn fn);

int sys_debug_init(); // no breakpoint, no watch, running
// 1 while frames must step through sys_debug_systemloop.
int sys_debug_active();
// The step frames use while active: as sys_systemloop, or no cycles (and
// one event taken) while stopped.
int sys_debug_systemloop(int *cycles);
int sys_debug_state(dbg_stop *out);

int sys_debug_break(uint16_t addr);                 // 1 when all slots are taken
int sys_debug_unbreak(int addr);                    // -1: all; 1 when none was there
int sys_debug_watch(uint16_t first, uint16_t last); // stores to first..last
int sys_debug_unwatch(int first);                   // -1: all; 1 when none began there
int sys_debug_list();                               // prints breakpoints and watches

int sys_debug_pause();
int sys_debug_continue();
int sys_debug_step(int count); // runs `count` instructions, printing each
int sys_debug_over();          // a JSR runs through its return; else one step
int sys_debug_return();        // runs through the RTS that leaves this routine
// 1 once after each stop a frame made, for the main thread (no lock needed).
int sys_debug_take_notice();

// Prints the instruction at the program counter with the registers. The
// monitor reads the VIA and disk controller registers as 0: reading them
// would change them.
int sys_debug_show();
// Prints `size` bytes from `addr` as hex and text, DEBUG_DUMP_ROW a line
// (a line of 39 characters).
constexpr int DEBUG_DUMP_ROW = 8;
int sys_debug_dump(uint16_t addr, int size);
// Prints `lines` instructions from `addr`, as the processor reads them;
// *next (when given) is the address after the last one.
int sys_debug_disassemble(uint16_t addr, int lines, uint16_t *next = nullptr);
// Sets a register by name: a x y s p pc. 1 for an unknown name.
int sys_debug_set_register(const char *name, unsigned value);
