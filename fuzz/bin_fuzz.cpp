// Raw binaries at any address (the input's first two bytes, low first): the
// bytes land in RAM, wrapping at 0xFFFF, and a save of the range with RAM
// shown over the ROM gives them back. The I/O page is skipped: its switches
// keep their settings.
#include "fuzz.h"

static bool in_io_page(unsigned addr) {
    return addr >= 0x0300 && addr < 0x0400;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    fuzz_start();
    unsigned addr = data[0] | data[1] << 8;
    fuzz_write("in.bin", data + 2, size - 2);
    fuzz_fresh_memory();
    extdev = 0;
    FUZZ_CHECK(sys_file_load_bin("in.bin", uint16_t(addr)) == 0);
    FUZZ_CHECK(hiram == 0 && extdev == 0);
    const uint8_t *mem = ram_getptr();
    for (size_t i = 2; i < size; i++) {
        unsigned at = (addr + unsigned(i) - 2) & 0xFFFF;
        if (!in_io_page(at)) FUZZ_CHECK(mem[at] == data[i]);
    }
    hiram = 1;
    FUZZ_CHECK(sys_file_save_bin("out.bin", uint16_t(addr), uint16_t(size - 2)) == 0);
    bytes out = fuzz_read("out.bin");
    FUZZ_CHECK(out.size() == size - 2);
    for (size_t i = 0; i < out.size(); i++) {
        unsigned at = (addr + unsigned(i)) & 0xFFFF;
        if (!in_io_page(at)) FUZZ_CHECK(out[i] == mem[at]);
    }
    fuzz_machine(); // writes to the I/O page may have switched the decoder
    return 0;
}
