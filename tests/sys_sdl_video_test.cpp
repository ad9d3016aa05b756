// The window on SDL's dummy driver; our render's pixel (x, y) is red 0xA5, green x, blue y.
#include "sys_sdl_video.h"

#include <SDL/SDL.h>

#include <thread>

#include "sys_sdl_fixture.h"

namespace {

int next_line, overlays;
uint32_t seen_by_overlay; // the picture's last pixel as the overlay found it

int32_t render_xy() {
    for (int x = 0; x < VDC_WIDTH; ++x)
        video->pixels[next_line * VDC_WIDTH + x] = next_line << 16 | x << 8 | 0xA5;
    return next_line = (next_line + 1) % VDC_HEIGHT;
}

SDL_Surface *surface() {
    return static_cast<SDL_Surface *>(video->surface);
}

uint32_t host(int h, int r) {
    SDL_Surface *s = surface();
    return *reinterpret_cast<uint32_t *>(static_cast<uint8_t *>(s->pixels) + r * s->pitch + h * 4);
}

// The host pixel that shows picture pixel (x, y), or its square's last one.
uint32_t shown(int x, int y, bool last = false) {
    video_fit fit = video_sdl_fit(surface()->w, surface()->h);
    int d = last ? fit.scale - 1 : 0;
    return host(fit.x + x * fit.scale + d, fit.y + y * fit.scale + d);
}

constexpr uint32_t xy(int x, int y) {
    return 0xA50000u | x << 8 | y;
}

void count_overlay() {
    overlays++;
    seen_by_overlay = shown(239, 223);
}

void frame() {
    for (int i = 0; i < VDC_HEIGHT; ++i)
        video->update();
}

// A window at `level` with one frame drawn and handed over.
void open(int level) {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    vdc_init();
    video->render = render_xy;
    video->overlay = count_overlay;
    next_line = overlays = 0;
    zoom = video->zoom = level;
    ASSERT_EQ(0, video_sdl_init());
    frame();
}

TEST(SysSdlVideo, TheLargestWholeScaleFitsCentred) {
    // window w, h, then scale, x, y
    int rows[][5] = {{240, 224, 1, 0, 0},     {480, 448, 2, 0, 0},     {800, 700, 3, 40, 14},
                     {1024, 768, 3, 152, 48}, {719, 700, 2, 119, 126}, {1920, 1080, 4, 480, 92},
                     {200, 100, 1, -20, -62}};
    for (const auto &[w, h, scale, x, y] : rows) {
        video_fit fit = video_sdl_fit(w, h);
        EXPECT_EQ(std::tuple(scale, x, y), std::tuple(fit.scale, fit.x, fit.y)) << w << "x" << h;
    }
}

// Zoom 2 fills each square, zoom 1 lights its top-left part; the user's size
// sets the scale, the zoom keys size the window again.
TEST(SysSdlVideo, PresentScalesTheNewestPictureAtTheZoomsLook) {
    open(2);
    EXPECT_EQ(std::pair(480, 448), std::pair(surface()->w, surface()->h));
    EXPECT_EQ(0u, host(0, 0)) << "nothing shown before the main thread presents";
    EXPECT_EQ(0, video_sdl_present());
    EXPECT_EQ(std::tuple(xy(1, 2), xy(1, 2), xy(239, 223)),
              std::tuple(shown(1, 2), shown(1, 2, true), shown(239, 223, true)));
    EXPECT_EQ(std::pair(1, xy(239, 223)), std::pair(overlays, seen_by_overlay))
        << "the console draws over the whole picture";
    zoom = 1;
    video_sdl_present();
    video_sdl_resize(800, 700);
    video_sdl_present();
    EXPECT_EQ(std::pair(800, 700), std::pair(surface()->w, surface()->h))
        << "zoom 1 keeps the size";
    EXPECT_EQ(std::tuple(xy(5, 7), xy(5, 7), 0u, 0u),
              std::tuple(shown(5, 7), host(40 + 16, 14 + 22), shown(5, 7, true), host(39, 14)))
        << "scale 3 at (40, 14): a 2 x 2 dot, black beside it";
    video_sdl_resize(100, 100);
    EXPECT_EQ(std::pair(240, 224), std::pair(surface()->w, surface()->h)) << "never below 1:1";
    zoom = 0;
    video_sdl_present();
    EXPECT_EQ(std::pair(240, 224), std::pair(surface()->w, surface()->h));
    EXPECT_EQ(xy(239, 223), host(239, 223));
    zoom = 2;
    video_sdl_present();
    EXPECT_EQ(std::pair(480, 448), std::pair(surface()->w, surface()->h)) << "zoom keys size it";
    EXPECT_EQ(0, video_sdl_fullscreen(1));
    EXPECT_EQ(1, video_sdl_is_fullscreen());
    zoom = 1;
    video_sdl_present();
    EXPECT_EQ(0, video_sdl_fullscreen(0));
    EXPECT_EQ(std::pair(480, 448), std::pair(surface()->w, surface()->h))
        << "the zoom's size, taken in fullscreen, when it ends";
    video_sdl_finish();
}

// The timer thread's frames and title reach the window only through the
// main thread's present; a frame drawn since replaces one not yet shown.
TEST(SysSdlVideo, FramesAndTitlesFromAnotherThreadShowAtPresent) {
    open(0);
    video_sdl_present();
    std::thread timer([] {
        video->render = [] { // every pixel 0x3C, then 0x5A: the second frame wins
            static int n = 0;
            std::fill(video->pixels, video->pixels + VDC_WIDTH * VDC_HEIGHT,
                      n < VDC_HEIGHT ? 0x3Cu : 0x5Au);
            return ++n % VDC_HEIGHT;
        };
        frame();
        frame();
        video_sdl_title("from the timer");
    });
    timer.join();
    char *title = nullptr;
    SDL_WM_GetCaption(&title, nullptr);
    EXPECT_STREQ(VIDEO_SDL_TITLE, title);
    EXPECT_EQ(xy(9, 9), host(9, 9));
    video_sdl_present();
    SDL_WM_GetCaption(&title, nullptr);
    EXPECT_STREQ("from the timer", title);
    EXPECT_EQ(0x5A0000u, host(9, 9) & 0xFFFFFF);
    // Closed, or failed to open: frames still run and nothing is drawn.
    EXPECT_EQ(0, video_sdl_finish());
    setenv("SDL_VIDEODRIVER", "no_such_driver", 1);
    log_verbosity(1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(1, video_sdl_init());
    EXPECT_EQ(0u, testing::internal::GetCapturedStderr().find("unable to set 240 x 224 x 32bpp"));
    log_verbosity(0);
    EXPECT_TRUE(video->surface == nullptr && video->update == nullptr);
    for (int line = 1; line <= VDC_HEIGHT; ++line)
        ASSERT_EQ(line % VDC_HEIGHT, video_sdl_update());
    EXPECT_EQ(0, video_sdl_present());
}

// A message lasts two seconds, in the window only: the picture the
// screenshots read stays as the machine drew it.
TEST(SysSdlVideo, MessagesShowForTwoSecondsOverThePictureOnly) {
    TempDir dir;
    ASSERT_TRUE(make_font("kestrel_font_7x14.bmp"));
    open(2);
    video->overlay = nullptr;
    video_sdl_say(5000, "speed 2 MHz");
    EXPECT_STREQ("speed 2 MHz", video_sdl_message(6999));
    EXPECT_STREQ("", video_sdl_message(7000));
    EXPECT_STREQ("", video_sdl_message(5000)) << "gone for good";
    auto lit = [] { // white host pixels in the picture's bottom-left corner
        int n = 0;
        for (int r = 448 - 40; r < 448; r++)
            for (int h = 0; h < 200; h++)
                n += (host(h, r) & 0xFFFFFF) == 0xFFFFFF;
        return n;
    };
    video_sdl_present();
    EXPECT_EQ(0, lit());
    video_sdl_say(SDL_GetTicks(), "speed 2 MHz");
    video_sdl_present();
    EXPECT_LT(100, lit()) << "the message's glyphs";
    EXPECT_EQ(220u << 16 | 10 << 8 | 0xA5, video->pixels[220 * VDC_WIDTH + 10])
        << "not in the picture";
    video_sdl_paused(1);
    video_sdl_present();
    int top = 0;
    for (int h = 0; h < 200; h++)
        top += (host(h, 16) & 0xFFFFFF) == 0xFFFFFF;
    EXPECT_LT(10, top) << "the pause notice";
    video_sdl_paused(0);
    video_sdl_finish();
}

} // namespace
