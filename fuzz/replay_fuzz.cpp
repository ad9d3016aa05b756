// Input recordings: a refused one leaves the machine exactly as it was; one
// that is taken replays its frames and then ends.
#include "cpu_6502.h"
#include "fuzz.h"
#include "sys_core.h"
#include "sys_replay.h"
#include "sys_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_start();
    static bool reset = (cpu_6502_init(), true);
    (void)reset;
    bytes before, after;
    std::string why;
    FUZZ_CHECK(sys_state_write(before) == 0);
    if (sys_replay_parse(data, size, 1, &why) != 0) {
        FUZZ_CHECK(!why.empty() && sys_replay_left() == 0);
        FUZZ_CHECK(sys_state_write(after) == 0);
        FUZZ_CHECK(before == after);
        return 0;
    }
    // A few frames of a thousand cycles: every event due in them is applied.
    for (int f = 0; f < 4 && sys_replay_left() > 0; f++) {
        sys_frame_begin();
        sys_replay_frame(0);
        for (int used = 0, c = 0; used < 1000 && sys_replay_left() > 0; used += c > 0 ? c : 1)
            sys_systemloop(&c);
    }
    FUZZ_CHECK(sys_replay_finish(&why) == 0 && sys_replay_left() == 0);
    FUZZ_CHECK(sys_state_write(after) == 0);
    return 0;
}
