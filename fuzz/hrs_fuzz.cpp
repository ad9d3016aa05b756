// High-resolution screens: a file of at least 8000 bytes fills 0xA000-0xBF3F
// from its first 8000, and the screen saved is what was loaded; a shorter
// one is refused and the memory left as it was.
#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_start();
    fuzz_write("in.hrs", data, size);
    fuzz_fresh_memory();
    const bytes before = fuzz_memory(0xA000, 0xBF40);
    if (size < 8000) {
        FUZZ_CHECK(sys_file_load("in.hrs") != 0);
        FUZZ_CHECK(fuzz_memory(0xA000, 0xBF40) == before);
        return 0;
    }
    FUZZ_CHECK(sys_file_load("in.hrs") == 0);
    FUZZ_CHECK(fuzz_memory(0xA000, 0xBF40) == bytes(data, data + 8000));
    FUZZ_CHECK(sys_file_save("out.hrs") == 0);
    FUZZ_CHECK(fuzz_read("out.hrs") == fuzz_memory(0xA000, 0xBF40));
    return 0;
}
