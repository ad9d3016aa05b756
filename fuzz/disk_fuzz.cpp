// Disk images through the controller. Input: a flag byte, then bytes that
// fill the image (repeated) and are written onto one track as disk bytes.
// Flag bit 0: mount the bytes as they are (refused unless exactly an image,
// the file untouched); bit 1: read-only; bits 2-7: the track. A mounted track
// reads back as its image sectors; a write-back changes no other track and
// leaves no temporary file; a read-only disk is never written.
#include "fdc.h"
#include "fdc_image.h"
#include "fuzz.h"

static uint8_t rd(unsigned addr) {
    uint8_t v = 0;
    fdc_read(addr, &v);
    return v;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    fuzz_start();
    const uint8_t flags = data[0];
    const bytes payload(data + 1, data + size);
    const int track = (flags >> 2) % FDC_TRACKS, read_only = (flags >> 1) & 1;
    // Kept from run to run: a large block allocated each time costs more than the run.
    static bytes image(FDC_IMAGE_SIZE), stored(FDC_IMAGE_SIZE + 1);
    // Whole blocks, not byte loops: the harness's own compares are traced too.
    std::fill(image.begin(), image.end(), 0);
    size_t filled = std::min(payload.size(), image.size());
    if (filled) memcpy(image.data(), payload.data(), filled);
    for (; filled && filled < image.size(); filled *= 2)
        memcpy(image.data() + filled, image.data(), std::min(filled, image.size() - filled));
    if (flags & 1) {
        fuzz_write("d.dsk", payload.data(), payload.size());
        int result = fdc_mount("d.dsk", 0, read_only);
        FUZZ_CHECK(fuzz_read("d.dsk") == payload || (payload.empty() && !read_only));
        FUZZ_CHECK(result ==
                   (payload.size() == FDC_IMAGE_SIZE || (payload.empty() && !read_only) ? 0 : 1));
        FUZZ_CHECK(fdc_umount(0) == 0);
        return 0;
    }
    fuzz_write("d.dsk", image.data(), image.size());
    FUZZ_CHECK(fdc_mount("d.dsk", 0, read_only) == 0);
    for (int h = 1; h <= 2 * track; h++)
        rd(0x0311 + 2 * (h % 4));
    rd(0x0319);
    rd(0x031C);
    rd(0x031E);
    bytes ring(FDC_TRACK_BYTES), sectors(FDC_IMAGE_TRACK_BYTES);
    for (uint8_t &b : ring)
        b = rd(0x031C);
    unsigned pos = 0;
    FUZZ_CHECK(fdc_image_decode_track(ring.data(), &pos, sectors.data()) == 0xFFFF);
    FUZZ_CHECK(memcmp(sectors.data(), &image[track * FDC_IMAGE_TRACK_BYTES], sectors.size()) == 0);
    rd(0x031F);
    for (uint8_t b : payload) {
        rd(0x031C);
        fdc_write(0x031D, b);
    }
    rd(0x0318); // motor off: written back
    FILE *f = fopen("d.dsk", "rb");
    FUZZ_CHECK(f && fread(stored.data(), 1, stored.size(), f) == size_t(FDC_IMAGE_SIZE));
    fclose(f);
    for (int t = 0; t < FDC_TRACKS; t++)
        if (t != track || read_only)
            FUZZ_CHECK(memcmp(&stored[t * FDC_IMAGE_TRACK_BYTES], &image[t * FDC_IMAGE_TRACK_BYTES],
                              FDC_IMAGE_TRACK_BYTES) == 0);
    FUZZ_CHECK(fdc_umount(0) == 0 && fuzz_files() == 1);
    fdc_init();
    return 0;
}
