#include "sys_core.h"

#include <mutex>

#include "ay_8912.h"
#include "cpu_6502.h"
#include "fdc.h"
#include "sys_cfg.h"
#include "state.h"
#include "vdc.h"
#include "via_6522.h"

// The step's parts must vanish into it, as the processor's do into the step.
#define ALWAYS_INLINE __attribute__((always_inline))

int refresh = 20;
std::atomic<int> zoom{1};
std::atomic<int> speed{1};
int sound = 1;

static struct {
    event queue[QUEUE_SLOTS];
    std::atomic<int32_t> queueinptr{0};
    std::atomic<int32_t> queueoutptr{0};
    std::mutex machine;
    int exact; // the timing in force; machine lock
    // Timer thread: cycles run in this frame, and the next replayed event's
    // position in it (SYS_INPUT_NONE: none).
    uint64_t frame_cycles;
    uint64_t due = SYS_INPUT_NONE;
    uint64_t takes; // machine lock
} core;

sys_input_slots sys_input;

int push_event(const event &ev) {
    int32_t in = core.queueinptr.load(std::memory_order_relaxed);
    int32_t next = (in + 1) % QUEUE_SLOTS;
    // A full ring would read as empty after this push: drop the newcomer.
    if (next == core.queueoutptr.load(std::memory_order_acquire)) return 1;
    core.queue[in] = ev;
    core.queueinptr.store(next, std::memory_order_release);
    return 0;
}

int pull_event(event *ev) {
    int32_t out = core.queueoutptr.load(std::memory_order_relaxed);
    if (out == core.queueinptr.load(std::memory_order_acquire)) {
        *ev = {EV_NONE, 0};
        return 2;
    }
    *ev = core.queue[out];
    core.queueoutptr.store((out + 1) % QUEUE_SLOTS, std::memory_order_release);
    return 0;
}

void sys_queue_reset() {
    core.queueinptr.store(0);
    core.queueoutptr.store(0);
}

void sys_apply_config() {
    zoom = config[CFG_ZOOM].value;
    speed = config[CFG_SPEED].value;
    sound = config[CFG_SOUND].value;
    refresh = config[CFG_REFRESH].value < 20 ? 20 : config[CFG_REFRESH].value;
}

static void apply(const event &ev) {
    switch (ev.code) {
    case EV_NONE:
        break;
    case EV_RESET:
        cpu_6502_init();
        break;
    case EV_NMI_SET:
        cpu_6502_setnmi();
        break;
    case EV_NMI_CLEAR:
        cpu_6502_clrnmi();
        break;
    case EV_ZOOM_IN:
        zoom = zoom + 1 > 2 ? 2 : zoom + 1;
        break;
    case EV_ZOOM_OUT:
        zoom = zoom - 1 < 0 ? 0 : zoom - 1;
        break;
    case EV_SPEED_UP:
        speed = speed * 2 > 4 ? 4 : speed * 2;
        break;
    case EV_SPEED_DOWN:
        speed = speed / 2 == 0 ? 1 : speed / 2;
        break;
    default:
        via_6522_event(ev);
        break;
    }
}

void sys_apply_at(const event &ev, uint64_t at) {
    if (ev.code == EV_NONE) return;
    apply(ev);
    if (sys_input.heard) sys_input.heard(ev, at);
}

void sys_apply_event(const event &ev) {
    sys_apply_at(ev, core.frame_cycles);
}

void sys_input_due(uint64_t at) {
    core.due = at;
}

void sys_frame_begin() {
    core.frame_cycles = 0;
}

// What arrives after `at` cycles of the frame: a replayed event due there,
// then the oldest queued one.
template <bool INPUT> ALWAYS_INLINE static inline void take(uint64_t at) {
    if (INPUT && at >= core.due) core.due = sys_input.feed ? sys_input.feed(at) : SYS_INPUT_NONE;
    event ev;
    pull_event(&ev);
    sys_apply_at(ev, at);
}

// INPUT: a recorder or a replay is on its slots, so the frame's cycles are
// counted and the replay's next position watched. Without them the step
// keeps to the queue, as fast as it was before either existed; `at` is then
// heard by no one.
template <bool EXACT, bool INPUT> ALWAYS_INLINE static inline int systemloop(int *cycles) {
    int n = EXACT ? cpu_6502_run_exact() : cpu_6502_run();
    *cycles = n;
    if (n <= 0) return 0;
    uint64_t base = 0;
    if (INPUT) {
        base = core.frame_cycles;
        core.frame_cycles = base + static_cast<uint64_t>(n);
    }
    if (EXACT ? via_6522_can_batch_exact(n) : via_6522_can_batch(n)) {
        // No timer runs out within the step, so the VIA and the disk controller
        // change nothing an event acts on: they count the cycles in one go, and
        // the queue is still polled once per cycle.
        via_6522_count(n);
        fdc_run(static_cast<uint32_t>(n));
        // Only this thread moves the read index: a poll needs the write index alone.
        // An event pushed during the step is taken at the next one, a few cycles on.
        int32_t out = core.queueoutptr.load(std::memory_order_relaxed);
        if (core.queueinptr.load(std::memory_order_acquire) == out &&
            (!INPUT || core.due > core.frame_cycles))
            return 0;
        for (int i = 0; i < n; i++) {
            uint64_t at = base + static_cast<uint64_t>(i) + 1;
            if (core.queueinptr.load(std::memory_order_acquire) == out && (!INPUT || core.due > at))
                continue;
            take<INPUT>(at);
            out = core.queueoutptr.load(std::memory_order_relaxed);
        }
        return 0;
    }
    for (int i = 0; i < n; i++) {
        via_6522_run(1);
        fdc_run(1);
        take<INPUT>(base + static_cast<uint64_t>(i) + 1);
    }
    return 0;
}

int sys_systemloop(int *cycles) {
    return core.exact ? systemloop<true, true>(cycles) : systemloop<false, true>(cycles);
}

int sys_systemloop_simplified(int *cycles) {
    return systemloop<false, false>(cycles);
}

int sys_systemloop_exact(int *cycles) {
    return systemloop<true, false>(cycles);
}

static int watched_simplified(int *cycles) {
    return systemloop<false, true>(cycles);
}

static int watched_exact(int *cycles) {
    return systemloop<true, true>(cycles);
}

sys_step_fn sys_timed_step(sys_step_fn step) {
    if (step != sys_systemloop) return step;
    if (sys_input.heard || sys_input.feed) return core.exact ? watched_exact : watched_simplified;
    return core.exact ? sys_systemloop_exact : sys_systemloop_simplified;
}

int sys_exact_timing(int on) {
    core.exact = on != 0;
    via_6522_exact(on);
    ay_8912_exact(on);
    vdc_exact(on);
    return 0;
}

void sys_machine_lock() {
    core.machine.lock();
    core.takes++;
}

uint64_t sys_machine_takes() {
    return core.takes;
}
void sys_machine_unlock() {
    core.machine.unlock();
}

void sys_core_state_save(std::vector<uint8_t> &out) {
    state_put(out, static_cast<uint8_t>(speed));
    state_put(out, static_cast<uint8_t>(core.exact));
}

// Version 1 had no timing byte: those machines ran the simplified timing.
int sys_core_state_load(const uint8_t *data, size_t size, int apply) {
    uint8_t multiplier = 0, exact = 0;
    state_reader in{data, size};
    in.get(multiplier);
    if (state_format() >= 2) in.get(exact);
    if (in.finish("core")) return 1;
    if (multiplier < 1 || multiplier > 4)
        return state_refuse("core: speed %d out of range", multiplier);
    if (exact > 1) return state_refuse("core: timing %d out of range", exact);
    if (apply) {
        speed = multiplier;
        sys_exact_timing(exact);
    }
    return 0;
}
