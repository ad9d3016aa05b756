// Display generator cost: one scan line and one full frame, in text mode and
// in hires mode, over a busy screen (characters, attributes, inverse cells).
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "ram.h"
#include "vdc.h"

static void fill_screens(uint8_t *m) {
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return static_cast<uint8_t>(seed >> 16);
    };
    for (int a = 0x9800; a < 0xA000; ++a)
        m[a] = next() & 0x3F; // hires-mode glyphs
    for (int a = 0xA000; a < 0xBF40; ++a)
        m[a] = next() | 0x40; // hires bytes
    for (int a = 0xB400; a < 0xBB80; ++a)
        m[a] = next() & 0x3F; // text glyphs
    for (int a = 0xBB80; a < 0xBFE0; ++a) {
        const uint8_t b = next();
        m[a] = (b & 0x0F) == 0 ? (b >> 4) & 0x17 : 0x20 + (b & 0x5F); // one cell in 16 an attribute
    }
}

static double time_frames(int frames) {
    const auto start = std::chrono::steady_clock::now();
    for (int f = 0; f < frames; ++f)
        for (int l = 0; l < VDC_HEIGHT; ++l)
            vdc_render();
    const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
    return took.count() / frames;
}

int main() {
    ram_init();
    fill_screens(ram_getptr());
    vdc_init();
    constexpr int FRAMES = 1000;
    time_frames(200); // warm caches
    const double text_frame = time_frames(FRAMES);
    vdc_hires(1);
    const double hires_frame = time_frames(FRAMES);
    uint64_t sum = 0; // keep the pixels alive
    for (int i = 0; i < VDC_WIDTH * VDC_HEIGHT; ++i)
        sum += video->pixels[i];
    printf("display generator, best of 5 runs of %d frames (checksum %llx)\n", FRAMES,
           static_cast<unsigned long long>(sum));
    printf("  text mode : %8.1f ns per scan line, %7.1f us per frame\n",
           1000.0 * text_frame / VDC_HEIGHT, text_frame);
    printf("  hires mode: %8.1f ns per scan line, %7.1f us per frame\n",
           1000.0 * hires_frame / VDC_HEIGHT, hires_frame);
    printf("  share of a 20 ms frame period: %.3f%% (text), %.3f%% (hires)\n", text_frame / 200.0,
           hires_frame / 200.0);
    return 0;
}
