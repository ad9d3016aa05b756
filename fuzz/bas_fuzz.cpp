// .bas program-area images: the saved image is the file loaded.
#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (fuzz_program("in.bas", "out.bas", data, size) == 0)
        FUZZ_CHECK(fuzz_read("out.bas") == bytes(data, data + size));
    return 0;
}
