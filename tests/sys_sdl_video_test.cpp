#include "sys_sdl_video.h"

#include <SDL/SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "log.h"
#include "ram.h"
#include "sys_core.h"
#include "vdc.h"

namespace {

constexpr uint16_t TEXT_SCREEN = 0xBB80;
constexpr uint16_t TEXT_STD = 0xB400;
constexpr uint8_t UNTOUCHED = 0xAB;

int overlay_calls = 0;
std::vector<uint8_t> seen_by_overlay; // the surface as the overlay found it

SDL_Surface *surface() {
    return static_cast<SDL_Surface *>(video->surface);
}

void record_overlay() {
    ++overlay_calls;
    SDL_Surface *s = surface();
    const auto *p = static_cast<const uint8_t *>(s->pixels);
    seen_by_overlay.assign(p, p + s->pitch * s->h);
}

// Blue, green, red of host pixel (h, r) in `bytes`, laid out like the surface.
std::string host_bgr(const uint8_t *bytes, int h, int r) {
    const uint8_t *p = bytes + r * surface()->pitch + h * 4;
    return {static_cast<char>(p[0]), static_cast<char>(p[1]), static_cast<char>(p[2])};
}
std::string host_bgr(int h, int r) {
    return host_bgr(static_cast<const uint8_t *>(surface()->pixels), h, r);
}

// What a picture value must become on the host: blue, green, red.
std::string expected_bgr(uint32_t v) {
    return {static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}
std::string picture_bgr(int x, int line) {
    return expected_bgr(video->pixels[line * VDC_WIDTH + x]);
}
std::string bgr(int b, int g, int r) {
    return {static_cast<char>(b), static_cast<char>(g), static_cast<char>(r)};
}

struct VideoSdl : ::testing::Test {
    static void SetUpTestSuite() { setenv("SDL_VIDEODRIVER", "dummy", 1); }

    void SetUp() override {
        overlay_calls = 0;
        seen_by_overlay.clear();
        ASSERT_EQ(0, ram_init());
        paint_screen();
        ASSERT_EQ(0, vdc_init());
    }
    void TearDown() override {
        video_sdl_finish();
        zoom = 1;
    }

    // Every row: a paper and an ink attribute that change with the row, then
    // a glyph, so neighbouring pixels and lines differ in colour.
    static void paint_screen() {
        uint8_t *ram_bytes = ram_getptr();
        const uint8_t glyph[8] = {0x21, 0x12, 0x0C, 0x3F, 0x2A, 0x15, 0x33, 0x1E};
        memcpy(ram_bytes + TEXT_STD + 'A' * 8, glyph, 8);
        for (int row = 0; row < 28; ++row) {
            uint8_t *p = ram_bytes + TEXT_SCREEN + row * 40;
            for (int col = 0; col < 40; ++col)
                p[col] = (col % 3 == 2) ? 0xC1 : 'A';
            p[0] = static_cast<uint8_t>(0x10 | (row & 7));
            p[1] = static_cast<uint8_t>((row + 3) & 7);
            p[20] = 0x11; // paper red from column 20: a known red cell at x 120..125
            p[21] = 0x20;
        }
    }
    void open(int level) {
        zoom = level;
        video->zoom = level;
        ASSERT_EQ(0, video_sdl_init());
        ASSERT_NE(nullptr, surface());
        memset(surface()->pixels, UNTOUCHED, surface()->pitch * surface()->h);
    }
    static void run_frame() {
        for (int i = 0; i < VDC_HEIGHT; ++i)
            video->update();
    }
};

TEST_F(VideoSdl, WindowSizeFollowsZoomWhenOpened) {
    const int sizes[3][2] = {{240, 224}, {480, 448}, {480, 448}};
    for (int level = 0; level < 3; ++level) {
        open(level);
        EXPECT_EQ(sizes[level][0], surface()->w) << "zoom " << level;
        EXPECT_EQ(sizes[level][1], surface()->h) << "zoom " << level;
        EXPECT_EQ(4, surface()->format->BytesPerPixel);
        video_sdl_finish();
    }
}

TEST_F(VideoSdl, InitInstallsUpdateSurfaceAndCaption) {
    open(1);
    EXPECT_EQ(&video_sdl_update, video->update);
    EXPECT_EQ(SDL_GetVideoSurface(), surface());
    char *title = nullptr;
    char *icon = nullptr;
    SDL_WM_GetCaption(&title, &icon);
    ASSERT_NE(nullptr, title);
    EXPECT_STREQ("kestrel | <F1> for console", title);
}

TEST_F(VideoSdl, ZoomZeroMapsEachPicturePixelToOneHostPixel) {
    open(0);
    run_frame();
    for (int r = 0; r < 224; ++r)
        for (int h = 0; h < 240; ++h)
            ASSERT_EQ(picture_bgr(h, r), host_bgr(h, r)) << h << "," << r;
}

TEST_F(VideoSdl, RedIsWrittenBlueGreenRedAndTheFourthByteIsLeft) {
    open(0);
    run_frame();
    // Column 20 is a paper red attribute on every line.
    EXPECT_EQ(bgr(0, 0, 255), host_bgr(120, 0));
    EXPECT_EQ(bgr(0, 0, 255), host_bgr(125, 223));
    for (int r = 0; r < 224; ++r)
        for (int h = 0; h < 240; ++h) {
            const uint8_t *p = static_cast<uint8_t *>(surface()->pixels) + r * surface()->pitch;
            ASSERT_EQ(UNTOUCHED, p[h * 4 + 3]) << h << "," << r;
        }
}

TEST_F(VideoSdl, ZoomTwoFillsEachTwoByTwoBlock) {
    open(2);
    run_frame();
    for (int r = 0; r < 448; ++r)
        for (int h = 0; h < 480; ++h)
            ASSERT_EQ(picture_bgr(h / 2, r / 2), host_bgr(h, r)) << h << "," << r;
}

TEST_F(VideoSdl, ZoomOneWritesOnlyEvenColumnsOfEvenRows) {
    open(1);
    run_frame();
    const std::string untouched = bgr(UNTOUCHED, UNTOUCHED, UNTOUCHED);
    for (int r = 0; r < 448; ++r)
        for (int h = 0; h < 480; ++h) {
            const std::string want =
                (r % 2 == 0 && h % 2 == 0) ? picture_bgr(h / 2, r / 2) : untouched;
            ASSERT_EQ(want, host_bgr(h, r)) << h << "," << r;
        }
}

TEST_F(VideoSdl, FrameEndsOnlyWhenRenderReturnsZero) {
    open(1);
    video->overlay = record_overlay;
    for (int line = 0; line < VDC_HEIGHT - 1; ++line) {
        ASSERT_EQ(line + 1, video_sdl_update());
        ASSERT_EQ(0, overlay_calls) << "line " << line;
    }
    EXPECT_EQ(0, video_sdl_update());
    EXPECT_EQ(1, overlay_calls);
    EXPECT_EQ(1, video_sdl_update()); // the next frame begins
}

TEST_F(VideoSdl, OverlaySeesTheWholeFrameThenZoomOneIsClearedToBlack) {
    open(1);
    video->overlay = record_overlay;
    run_frame();
    ASSERT_EQ(1, overlay_calls);
    // The overlay found the last line drawn ...
    EXPECT_EQ(picture_bgr(120, 223), host_bgr(seen_by_overlay.data(), 240, 446));
    // ... and after the frame everything is black, byte 3 included.
    const auto *p = static_cast<const uint8_t *>(surface()->pixels);
    for (int i = 0; i < surface()->pitch * surface()->h; ++i)
        ASSERT_EQ(0, p[i]) << i;
    run_frame();
    ASSERT_EQ(2, overlay_calls);
    EXPECT_EQ(bgr(0, 0, 0), host_bgr(seen_by_overlay.data(), 1, 0));
    EXPECT_EQ(bgr(0, 0, 0), host_bgr(seen_by_overlay.data(), 0, 1));
    EXPECT_EQ(picture_bgr(7, 100), host_bgr(seen_by_overlay.data(), 14, 200));
}

TEST_F(VideoSdl, ZoomChangeTakesEffectFromTheNextFrame) {
    open(2);
    for (int i = 0; i < 100; ++i)
        video_sdl_update();
    zoom = 0;
    EXPECT_EQ(2, video->zoom);
    for (int i = 100; i < VDC_HEIGHT - 1; ++i)
        video_sdl_update();
    EXPECT_EQ(2, video->zoom);
    video_sdl_update();
    EXPECT_EQ(0, video->zoom);
}

TEST_F(VideoSdl, ZoomTwoToZeroShowsPictureTopLeftOnDarkGreen) {
    open(2);
    video->overlay = record_overlay;
    run_frame();
    zoom = 0;
    run_frame(); // still drawn at 2; the clear after it is already dark green
    run_frame();
    ASSERT_EQ(3, overlay_calls);
    EXPECT_EQ(480, surface()->w); // the window keeps its size
    const std::string dark_green = bgr(0, 16, 0);
    for (int r = 0; r < 448; ++r)
        for (int h = 0; h < 480; ++h) {
            const std::string want = (h < 240 && r < 224) ? picture_bgr(h, r) : dark_green;
            ASSERT_EQ(want, host_bgr(seen_by_overlay.data(), h, r)) << h << "," << r;
        }
}

TEST_F(VideoSdl, ZoomingUpInTheSmallWindowClipsToTheSurface) {
    open(0);
    for (int level : {2, 1}) {
        zoom = level;
        run_frame(); // takes the zoom at its end
        memset(surface()->pixels, UNTOUCHED, surface()->pitch * surface()->h);
        run_frame();
        ASSERT_EQ(level, video->zoom);
        EXPECT_EQ(240, surface()->w);
        EXPECT_EQ(224, surface()->h);
        // The picture's top-left quarter, magnified; nothing past the edges
        // (the sanitizer build watches the bytes beyond the surface).
        const std::string untouched = bgr(UNTOUCHED, UNTOUCHED, UNTOUCHED);
        for (int r = 0; r < 224; ++r)
            for (int h = 0; h < 240; ++h) {
                const bool drawn = level == 2 || (h % 2 == 0 && r % 2 == 0);
                const std::string want = drawn ? picture_bgr(h / 2, r / 2) : untouched;
                ASSERT_EQ(want, host_bgr(h, r)) << "zoom " << level << " " << h << "," << r;
            }
    }
}

TEST_F(VideoSdl, OverlayPresentAtOpeningClearsTheSurface) {
    video->overlay = record_overlay;
    zoom = 0;
    video->zoom = 0;
    ASSERT_EQ(0, video_sdl_init());
    EXPECT_EQ(bgr(0, 16, 0), host_bgr(0, 0));
    EXPECT_EQ(bgr(0, 16, 0), host_bgr(239, 223));
}

TEST_F(VideoSdl, FailedOpenLeavesNoSurfaceAndTheMachineRuns) {
    open(1);  // a window that SDL then loses behind our back
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    setenv("SDL_VIDEODRIVER", "no_such_driver", 1);
    video->zoom = 1;
    const int level = log_verbosity(1);
    testing::internal::CaptureStderr();
    const int result = video_sdl_init();
    const std::string err = testing::internal::GetCapturedStderr();
    log_verbosity(level);
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    EXPECT_EQ(1, result);
    EXPECT_EQ(0u, err.find("unable to set 480 x 448 x 32bpp video: ")) << err;
    EXPECT_EQ(nullptr, video->surface);
    EXPECT_EQ(nullptr, video->update);
    // Driven anyway, the output renders lines and draws nothing.
    video->overlay = record_overlay;
    for (int line = 1; line < VDC_HEIGHT; ++line)
        ASSERT_EQ(line, video_sdl_update());
    EXPECT_EQ(0, video_sdl_update());
    EXPECT_EQ(0, overlay_calls);
}

TEST_F(VideoSdl, FinishClosesVideoAndLaterUpdatesDrawNothing) {
    open(2);
    EXPECT_EQ(0, video_sdl_finish());
    EXPECT_EQ(0u, SDL_WasInit(SDL_INIT_VIDEO));
    EXPECT_EQ(nullptr, video->surface);
    video->overlay = record_overlay;
    run_frame();
    EXPECT_EQ(0, overlay_calls);
}

TEST_F(VideoSdl, WindowReopensAfterFinish) {
    open(0);
    run_frame();
    video_sdl_finish();
    open(2);
    run_frame();
    EXPECT_EQ(480, surface()->w);
    EXPECT_EQ(picture_bgr(239, 223), host_bgr(479, 447));
}

TEST_F(VideoSdl, UpdateWithoutRenderTakesTheLastLineAsAFrameEnd) {
    open(0);
    video->render = nullptr;
    video->overlay = record_overlay;
    for (int i = 0; i < VDC_HEIGHT; ++i)
        video->pixels[223 * VDC_WIDTH + i % VDC_WIDTH] = 0x0000FF;
    EXPECT_EQ(0, video_sdl_update());
    EXPECT_EQ(1, overlay_calls);
    EXPECT_EQ(bgr(0, 0, 255), host_bgr(seen_by_overlay.data(), 17, 223));
}

} // namespace
