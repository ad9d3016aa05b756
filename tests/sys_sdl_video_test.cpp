// The window on SDL's dummy driver; our render's pixel (x, y) is red 0xA5, green x, blue y.
#include "sys_sdl_video.h"

#include <SDL/SDL.h>

#include "fixture.h"
#include "sys_core.h"
#include "vdc.h"

namespace {

int next_line, overlays;
uint32_t seen_by_overlay; // host pixel (239, 223) as the overlay found it

int32_t render_xy() {
    for (int x = 0; x < VDC_WIDTH; ++x)
        video->pixels[next_line * VDC_WIDTH + x] = next_line << 16 | x << 8 | 0xA5;
    return next_line = (next_line + 1) % VDC_HEIGHT;
}

uint32_t host(int h, int r) {
    auto *s = static_cast<SDL_Surface *>(video->surface);
    return *reinterpret_cast<uint32_t *>(static_cast<uint8_t *>(s->pixels) + r * s->pitch + h * 4);
}

void count_overlay() {
    overlays++;
    seen_by_overlay = host(239, 223);
}

// A window at `level`; without an overlay, every byte of it is then 0xAB.
SDL_Surface *open(int level, void (*overlay)() = nullptr) {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    vdc_init();
    video->render = render_xy;
    video->overlay = overlay;
    next_line = overlays = 0;
    zoom = video->zoom = level;
    EXPECT_EQ(0, video_sdl_init());
    auto *s = static_cast<SDL_Surface *>(video->surface);
    if (!overlay) memset(s->pixels, 0xAB, s->pitch * s->h);
    return s;
}

// The zoom at opening sizes the window; one taken later is clipped to it.
TEST(SysSdlVideo, EachZoomWritesItsHostPixelsAndNoOthers) {
    struct {
        int window, level, h, r, x, y; // x < 0: the host pixel is not written
    } cases[] = {
        {0, 0, 0, 0, 0, 0},         {1, 1, 3, 2, -1, 0},        {1, 1, 0, 3, -1, 0},
        {1, 1, 478, 446, 239, 223}, {2, 2, 3, 3, 1, 1},         {2, 2, 479, 447, 239, 223},
        {0, 2, 239, 223, 119, 111}, {0, 1, 238, 222, 119, 111}, {0, 1, 239, 223, -1, 0},
        {2, 0, 239, 223, 239, 223}, {2, 0, 240, 0, -1, 0},      {2, 3, 5, 7, 5, 7},
    };
    for (const auto &c : cases) {
        SDL_Surface *s = open(c.window);
        EXPECT_EQ(c.window ? std::pair(480, 448) : std::pair(240, 224), std::pair(s->w, s->h));
        zoom = video->zoom = c.level;
        for (int i = 0; i < VDC_HEIGHT; ++i)
            video->update();
        EXPECT_EQ(c.x < 0 ? 0xABABABABu : 0xABA50000u | c.x << 8 | c.y, host(c.h, c.r))
            << "window " << c.window << " zoom " << c.level << " at " << c.h << "," << c.r;
        video_sdl_finish();
    }
}

TEST(SysSdlVideo, FrameEndShowsTheOverlayTakesTheZoomAndClears) {
    open(0, count_overlay);
    EXPECT_EQ(0x1000u, host(0, 0)) << "dark green around the small picture";
    zoom = 2;
    for (int line = 1; line < VDC_HEIGHT; ++line)
        ASSERT_EQ(line, video_sdl_update());
    EXPECT_EQ(0, overlays + video->zoom);
    EXPECT_EQ(0, video_sdl_update());
    EXPECT_EQ(0xA5EFDFu, seen_by_overlay) << "the whole frame, then the overlay";
    EXPECT_EQ(std::pair(1, 2), std::pair(overlays, video->zoom));
    EXPECT_EQ(0u, host(239, 223)) << "black when zoomed";
    // Closed, or failed to open: frames still run and nothing is drawn.
    EXPECT_EQ(0, video_sdl_finish());
    setenv("SDL_VIDEODRIVER", "no_such_driver", 1);
    log_verbosity(1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(1, video_sdl_init());
    EXPECT_EQ(0u, testing::internal::GetCapturedStderr().find("unable to set 480 x 448 x 32bpp"));
    log_verbosity(0);
    EXPECT_TRUE(video->surface == nullptr && video->update == nullptr);
    for (int line = 1; line <= VDC_HEIGHT; ++line)
        ASSERT_EQ(line % VDC_HEIGHT, video_sdl_update());
    EXPECT_EQ(1, overlays);
}

} // namespace
