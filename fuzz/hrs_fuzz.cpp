// High-resolution screens: the file's first 8000 bytes fill 0xA000-0xBF3F,
// and the screen saved is what was loaded.
#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_start();
    fuzz_write("in.hrs", data, size);
    fuzz_fresh_memory();
    FUZZ_CHECK(sys_file_load("in.hrs") == 0);
    size_t n = size < 8000 ? size : 8000;
    FUZZ_CHECK(fuzz_memory(0xA000, 0xA000 + unsigned(n)) == bytes(data, data + n));
    FUZZ_CHECK(sys_file_save("out.hrs") == 0);
    FUZZ_CHECK(fuzz_read("out.hrs") == fuzz_memory(0xA000, 0xBF40));
    return 0;
}
