#include "sys_rewind.h"

#include <cstdint>
#include <deque>
#include <vector>

#include "fdc.h"
#include "sys_core.h"
#include "sys_replay.h"
#include "sys_state.h"

struct kept_second {
    long frame;  // whose start it is
    size_t mark; // the input recording's length then
    std::vector<uint8_t> state;
};

static struct {
    std::deque<kept_second> ring;
    size_t bytes;
} rewind_ring;

static long frames_per_second() {
    return 1000 / (refresh > 0 ? refresh : 20);
}

static void drop_oldest() {
    rewind_ring.bytes -= rewind_ring.ring.front().state.size();
    rewind_ring.ring.pop_front();
}

void sys_rewind_frame() {
    long frame = sys_replay_now();
    if (frame % frames_per_second() != 0) return;
    kept_second k{frame, sys_replay_mark(), {}};
    if (sys_state_write(k.state) != 0) return;
    rewind_ring.bytes += k.state.size();
    rewind_ring.ring.push_back(std::move(k));
    while (!rewind_ring.ring.empty() &&
           (rewind_ring.ring.size() > REWIND_SECONDS || rewind_ring.bytes > REWIND_BYTES))
        drop_oldest();
}

int sys_rewind(int seconds, double *back) {
    std::deque<kept_second> &ring = rewind_ring.ring;
    if (ring.empty()) return 1;
    long next = sys_replay_now() + 1;
    long target = next - seconds * frames_per_second();
    size_t k = ring.size() - 1;
    while (k > 0 && ring[k].frame > target)
        k--;
    fdc_state_rewinding(1);
    int failed = sys_state_read(ring[k].state.data(), ring[k].state.size());
    fdc_state_rewinding(0);
    if (failed) return 1;
    long frame = ring[k].frame;
    sys_replay_rewound(frame, ring[k].mark);
    // The second gone back to is kept again when its frame starts.
    while (ring.size() > k) {
        rewind_ring.bytes -= ring.back().state.size();
        ring.pop_back();
    }
    *back = static_cast<double>(next - frame) / frames_per_second();
    return 0;
}

void sys_rewind_clear() {
    rewind_ring.ring.clear();
    rewind_ring.bytes = 0;
}

int sys_rewind_count() {
    return static_cast<int>(rewind_ring.ring.size());
}

size_t sys_rewind_bytes() {
    return rewind_ring.bytes;
}
