// Host video output cost for a full frame at each zoom level, on SDL's dummy
// video driver so that only our work and the final flip are measured: the
// timer thread's per-line step (render, and the picture handed over at the
// frame's end) and the main thread's present (scale into the window, flip).
#include <SDL/SDL.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ram.h"
#include "sys_core.h"
#include "sys_sdl_video.h"
#include "vdc.h"

int main() {
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    ram_init();
    uint8_t *m = ram_getptr();
    for (int a = 0xB400; a < 0xBB80; ++a)
        m[a] = static_cast<uint8_t>(a * 37 >> 3) & 0x3F;
    for (int a = 0xBB80; a < 0xBFE0; ++a)
        m[a] = (a % 13 == 0) ? 0x11 + a % 7 : 0x20 + a % 0x5F;
    vdc_init();
    constexpr int FRAMES = 500;
    printf("host video output (render, hand-over, present) on the %s driver, best of 5 runs of %d "
           "frames\n",
           getenv("SDL_VIDEODRIVER"), FRAMES);
    for (int level = 0; level < 3; ++level) {
        zoom = level;
        video->zoom = level;
        if (video_sdl_init()) {
            printf("  zoom %d: no window: %s\n", level, SDL_GetError());
            return 1;
        }
        for (int l = 0; l < 100 * VDC_HEIGHT; ++l)
            video->update();
        const auto start = std::chrono::steady_clock::now();
        for (int l = 0; l < FRAMES * VDC_HEIGHT; ++l)
            if (video->update() == 0) video_sdl_present();
        const std::chrono::duration<double, std::micro> took =
            std::chrono::steady_clock::now() - start;
        const double frame = took.count() / FRAMES;
        printf("  zoom %d: %8.1f ns per scan line, %7.1f us per frame (%.3f%% of 20 ms)\n", level,
               1000.0 * frame / VDC_HEIGHT, frame, frame / 200.0);
        video_sdl_finish();
    }
    return 0;
}
