// Saved states: a refused file leaves the machine exactly as it was, and
// whatever is taken can be saved again.
#include "cpu_6502.h"
#include "fuzz.h"
#include "sys_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_start();
    static bool reset = (cpu_6502_init(), true);
    (void)reset;
    bytes before, after;
    FUZZ_CHECK(sys_state_write(before) == 0);
    if (sys_state_read(data, size) != 0) {
        FUZZ_CHECK(sys_state_write(after) == 0);
        FUZZ_CHECK(before == after);
    } else {
        FUZZ_CHECK(sys_state_write(after) == 0);
    }
    return 0;
}
