// sys_runner: ends a run for a test script. The processor reaching an exit
// address ends it with A as the status; a BRK ends it with status 1 and the
// registers. Its step wraps the machine's own, and main hands the host loop
// that step only when a condition is armed: a run without one pays nothing.
//
// Threads: the step runs on the timer thread under the machine lock; main
// arms the runner before the loop starts and reads the outcome after it.
#pragma once
#include <string>

constexpr int RUNNER_TIME_LIMIT = 124; // the limit came first, as timeout(1) says it

// exit_addr -1: none. `done` (may be nullptr) is called once, on the timer
// thread, when a condition is met; main ends the run there.
int sys_runner_arm(int exit_addr, int on_brk, void (*done)());
int sys_runner_armed(); // 1 when a condition is armed
// The step for the host loop: no cycles once a condition is met, so the
// machine stands where it ended while the frame finishes.
int sys_runner_step(int *cycles);
// 0 with the run's status once a condition was met, 1 while none was.
int sys_runner_status(int *status);
// For a BRK: the line with its address and the registers; "" otherwise.
const char *sys_runner_report();
// The 40 x 28 text screen as 28 lines of UTF-8, trailing blanks dropped:
// attributes as spaces, each character as the text nearest its shape in
// the character set in force.
std::string sys_runner_screen();
