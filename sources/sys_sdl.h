// sys_sdl: the host loop. The main thread runs the event loop; the host
// library's timer thread runs one frame of the machine every `refresh` ms.
#pragma once
#include <cstdint>

using step_fn = int (*)(int *cycles);

int sys_sdl_init();
int sys_sdl_run(step_fn step);  // returns when the user quits
uint32_t sys_sdl_run_cb(uint32_t interval, step_fn step);
int sys_sdl_finish();
int sys_sdl_log(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
