// sys_core: the global settings, the event queue between the host side and
// the machine, and the emulation step.
//
// Threads: the main thread is the only producer of events (push_event), the
// timer thread the only consumer (pull_event, via sys_systemloop). Each ring
// index is written by one thread and published with a release store.
// `zoom` and `speed` are changed only by the timer thread after start-up (and
// `speed` by a state restore on the main thread, under the machine lock), and
// are atomics because the main thread and the audio thread read them.
// The timing (sys_exact_timing) belongs to the machine lock.
//
// Machine lock: the timer thread holds it while it runs a frame; any other
// thread that touches machine state (memory, drives, tape, ROM charset)
// takes it first. Lock order: machine lock, then the console lock, then the
// audio lock.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sys_event.h"

extern int refresh;
extern std::atomic<int> zoom;
extern std::atomic<int> speed;
extern int sound;

constexpr int QUEUE_SLOTS = 128;

// 0 queued; 1 when 127 events are pending already (the new one is dropped).
int push_event(const event &ev);
// 0 with the oldest event; 2 with code 0 and value 0 when the queue is empty.
int pull_event(event *ev);
void sys_queue_reset(); // empties the ring (tests, start-up)

// Applies the configuration table to the settings (refresh floored at 20).
void sys_apply_config();

// Acts on one event at once, as the step does when it pulls it: the timer
// thread's own way in (typed keys), bypassing the queue. Heard by the input
// slot at the frame's cycle count so far.
void sys_apply_event(const event &ev);

// Every event the machine takes passes here, so a recorder listening on
// `heard` misses none: `at` is the cycles run in the frame when it took
// effect (0 at the frame's start, before any step). A replay names with
// sys_input_due the position of its next event; the step then calls `feed`
// at that position, which applies what is due there (with sys_apply_at) and
// returns the next position (SYS_INPUT_NONE: no more). Empty slots are
// legal. Timer thread; set while no frame runs.
constexpr uint64_t SYS_INPUT_NONE = UINT64_MAX;
struct sys_input_slots {
    void (*heard)(const event &ev, uint64_t at);
    uint64_t (*feed)(uint64_t at);
};
extern sys_input_slots sys_input;
void sys_input_due(uint64_t at);
void sys_apply_at(const event &ev, uint64_t at);
// Timer thread, at each frame's start: the frame's cycle count goes to 0.
void sys_frame_begin();

// One instruction, then the VIA and the disk controller are clocked for its
// cycles (in one go when no VIA timer runs out within them, else cycle by
// cycle), and at most one event is taken per cycle. Stores the cycles used
// in *cycles.
// The timing in force is looked up at each call.
int sys_systemloop(int *cycles);
// The same in one timing each, for callers that pick it once, with no
// recorder or replay on the input slots: they count no frame cycles.
int sys_systemloop_simplified(int *cycles);
int sys_systemloop_exact(int *cycles);

// For sys_systemloop, the one of the two above the timing in force runs
// (frames take it once each, so a step tests no mode), or, while a recorder
// or a replay is on the input slots, a step of that timing that counts the
// frame's cycles for them; any other step as it is. Machine lock.
using sys_step_fn = int (*)(int *cycles);
sys_step_fn sys_timed_step(sys_step_fn step);

// 1: the chips' real timing (processor page crossings and interrupt entry,
// the timers' counting, the sound chip's pitch); 0: the simplified timing,
// the default. The caller holds the machine lock once the timer thread runs.
// Saved states keep it.
int sys_exact_timing(int on);

void sys_machine_lock();
void sys_machine_unlock();
// Times the lock was taken since start-up; read it holding the lock. A
// frame takes it once, so more between two frames means another thread
// may have changed the machine.
uint64_t sys_machine_takes();

// Scoped holder of the machine lock.
struct machine_guard {
    machine_guard() { sys_machine_lock(); }
    ~machine_guard() { sys_machine_unlock(); }
    machine_guard(const machine_guard &) = delete;
    machine_guard &operator=(const machine_guard &) = delete;
};

// Saved state (sys_state): the speed setting and the timing. apply as for
// cpu_6502_state_load.
void sys_core_state_save(std::vector<uint8_t> &out);
int sys_core_state_load(const uint8_t *data, size_t size, int apply);
