// PLACEHOLDER until the host loop lands: lets the program link.
#include "sys_sdl.h"

int sys_sdl_init() { return 1; }
int sys_sdl_run(step_fn) { return 0; }
uint32_t sys_sdl_run_cb(uint32_t interval, step_fn) { return interval; }
int sys_sdl_finish() { return 0; }
int sys_sdl_log(const char *, ...) { return 0; }
