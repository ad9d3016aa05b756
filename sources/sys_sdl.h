// sys_sdl: the host loop. The main thread runs the event loop, turning host
// keys into machine events or console input, and shows each frame when the
// frame's wake-up reaches it (the window belongs to the thread that set its
// mode); the host library's timer thread runs one frame of the machine every
// `refresh` ms and hands the picture and the title over.
//
// Threads: the frame (steps, scan lines) runs under the machine lock; the
// main thread takes it for F2-F4 and for commands.
// The speed measurement and the frame schedule belong to the timer thread;
// everything else here to the main thread. Ending the loop waits for a frame
// in progress, so main may close audio and video right after. The timer
// thread does not read host events: SDL's event queue is the main thread's.
#pragma once
#include <cstdint>

union SDL_Event;

using step_fn = int (*)(int *cycles);

// The frame schedule's clock in ms: SDL's ticks and delay where a slot is
// empty. Set before the loop starts; the timer thread calls them.
struct sys_sdl_clock_slots {
    uint32_t (*ticks)();
    void (*sleep)(uint32_t ms);
};
extern sys_sdl_clock_slots sys_sdl_clock;

// A run's plan, set by main before the loop starts: how many frames to run
// (0: until the user quits), and what the timer thread does at the start of
// each frame, counted from 0 (typing, loading a program after start-up).
struct sys_sdl_plan_record {
    long stop_after;
    void (*at_frame)(long frame);
};
extern sys_sdl_plan_record sys_sdl_plan;

int sys_sdl_init();            // timer subsystem; 1 (logged) on failure
int sys_sdl_run(step_fn step); // returns when the user quits
// One frame: 224 scan lines of `speed` * 1000 * interval / 224 cycles each,
// then the title (about once a second) and the sleep until the next frame is
// due, one interval after this one was. Returns the interval.
uint32_t sys_sdl_run_cb(uint32_t interval, step_fn step);
int sys_sdl_finish();
// Hang-up, quit, interrupt and terminate end the run as F10 does: the
// frame under way finishes, then outputs and disks are written. Installed
// by main before the host library starts, which then leaves them alone.
int sys_sdl_catch_signals();
int sys_sdl_signalled(); // the signal that ended the run, 0 when none
// Warp: frames run back to back, as fast as the host allows; only the last
// of every 20 ms of host time is shown, the sound device is silent and the
// title shows the factor. Main thread (F9, --warp).
int sys_sdl_warp(int on);
// Shows the formatted text in the console as one line (at most 2046
// characters formatted; the console keeps 126).
int sys_sdl_log(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Handles one host event as the event loop does: F-keys, console routing,
// machine events. Returns 1 when the event ends the loop (F10 released,
// window closed), else 0.
int sys_sdl_event(SDL_Event &ev);
