// sys_type: typing text on the machine's keyboard as a hand does, one key
// at a time, each held for a few frames so that the ROM's 100 Hz keyboard
// scan sees it go down and come up; shifted characters hold Shift around
// the key. Runs on the timer thread at frame starts, where it acts on the
// machine directly, so that a typed run is the same at every emulated moment.
#pragma once
#include <cstdint>

constexpr int TYPE_FRAMES_PER_KEY = 6;

// Index of the first character of `text` that no key makes, or -1.
int sys_type_check(const char *text);
// Types `text` from frame `first` on ('\n' is Return), or from the next
// frame when `first` is negative; replaces what waits. Characters no key
// makes are passed over.
int sys_type_start(const char *text, long first);
// Timer thread, at the start of frame `frame`: acts on the key events due.
int sys_type_frame(long frame);
