// Tape images, loaded as a file and read by the processor's tape short-cuts
// byte by byte: the reader never runs past the image and a found block
// starts past its sync run.
#include "fuzz.h"
#include "via_6522_tapein.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_program("in.tap", "out.tap", data, size, true);
    if (sys_file_mount_tap("in.tap") != 0) return 0;
    for (int block = 0; block < 4; block++) {
        if (via_6522_tapein_sync() != 0) continue;
        uint8_t b = 0;
        via_6522_tapein_byte(&b);
        FUZZ_CHECK(b != 0x16);
        for (size_t i = 0; i < size + 2; i++)
            via_6522_tapein_byte(&b);
        FUZZ_CHECK(b == 0xFF || b == 0x00); // past the end
    }
    via_6522_tapein(nullptr, 0);
    return 0;
}
