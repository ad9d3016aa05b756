// BASIC text: tokenised on load, spelt out on save, the same tokens again.
#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_program("in.txt", "out.txt", data, size);
    return 0;
}
