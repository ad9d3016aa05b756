// The console fonts the build made, as the host library and the console
// library see them.
#include <SDL/SDL.h>
#include <SDL_console.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

// The console library keeps some of its surfaces after CON_Destroy and its
// record when CON_Init fails; those leaks are not ours to report.
extern "C" const char *__lsan_default_suppressions() {
    return "leak:libSDL_console\nleak:SDL_CreateRGBSurface\n";
}

namespace {

struct font_file {
    const char *name;
    int w, h;
};
constexpr font_file fonts[] = {{"kestrel_font_6x13.bmp", 6, 13},
                               {"kestrel_font_7x14.bmp", 7, 14},
                               {"kestrel_font_8x15.bmp", 8, 15},
                               {"kestrel_font_9x15.bmp", 9, 15}};

std::string path_of(const font_file &f) {
    return std::string(KESTREL_RUN_DIR "/") + f.name;
}

void rgb_at(SDL_Surface *s, int x, int y, Uint8 *r, Uint8 *g, Uint8 *b) {
    const auto *p =
        static_cast<const Uint8 *>(s->pixels) + y * s->pitch + x * s->format->BytesPerPixel;
    Uint32 v = 0;
    switch (s->format->BytesPerPixel) {
    case 1:
        v = *p;
        break;
    case 2:
        v = *reinterpret_cast<const Uint16 *>(p);
        break;
    case 3:
        v = p[0] | p[1] << 8 | p[2] << 16;
        break;
    default:
        v = *reinterpret_cast<const Uint32 *>(p);
        break;
    }
    SDL_GetRGB(v, s->format, r, g, b);
}

struct ConsoleFonts : ::testing::Test {
    static void SetUpTestSuite() { setenv("SDL_VIDEODRIVER", "dummy", 1); }
    void SetUp() override { ASSERT_EQ(0, SDL_InitSubSystem(SDL_INIT_VIDEO)); }
    void TearDown() override { SDL_QuitSubSystem(SDL_INIT_VIDEO); }
};

TEST_F(ConsoleFonts, LoadAsOneRowOfCellsOnMagenta) {
    for (const font_file &f : fonts) {
        SDL_Surface *s = SDL_LoadBMP(path_of(f).c_str());
        ASSERT_NE(nullptr, s) << f.name << ": " << SDL_GetError();
        EXPECT_EQ(256 * f.w, s->w) << f.name;
        EXPECT_EQ(f.h, s->h) << f.name;
        int magenta = 0, white = 0, other = 0;
        for (int y = 0; y < s->h; ++y)
            for (int x = 0; x < s->w; ++x) {
                Uint8 r, g, b;
                rgb_at(s, x, y, &r, &g, &b);
                if (r == 255 && g == 0 && b == 255)
                    ++magenta;
                else if (r == 255 && g == 255 && b == 255)
                    ++white;
                else
                    ++other;
            }
        EXPECT_EQ(0, other) << f.name;
        EXPECT_GT(magenta, 4 * white) << f.name; // thin strokes on a transparent ground
        // Ink rows per code: every printable ASCII glyph has some, space none,
        // and '_' reaches below 'A' (one baseline for all).
        auto ink_rows = [&](int code, int *lowest) {
            int ink = 0;
            for (int y = 0; y < f.h; ++y)
                for (int x = 0; x < f.w; ++x) {
                    Uint8 r, g, b;
                    rgb_at(s, code * f.w + x, y, &r, &g, &b);
                    if (g == 255) {
                        ++ink;
                        *lowest = y;
                    }
                }
            return ink;
        };
        int lowest = -1;
        for (int code = 0x21; code < 0x7F; ++code)
            EXPECT_GT(ink_rows(code, &lowest), 0) << f.name << " code " << code;
        EXPECT_EQ(0, ink_rows(' ', &lowest)) << f.name;
        int a_bottom = -1, underscore = -1;
        EXPECT_GT(ink_rows('A', &a_bottom), 8) << f.name;
        ink_rows('_', &underscore);
        EXPECT_GT(underscore, a_bottom) << f.name;
        SDL_FreeSurface(s);
    }
}

// The window the console opens over, at both geometries it uses.
TEST_F(ConsoleFonts, ConsoleAcceptsEachAndDrawsInkWithoutMagenta) {
    const struct {
        int w, h;
        SDL_Rect rect;
    } windows[] = {{480, 448, {8, 32, 464, 408}}, {240, 224, {4, 16, 232, 204}}};
    for (const auto &win : windows)
        for (const font_file &f : fonts) {
            SDL_Surface *screen = SDL_SetVideoMode(win.w, win.h, 32, SDL_HWPALETTE | SDL_DOUBLEBUF);
            ASSERT_NE(nullptr, screen);
            SDL_FillRect(screen, nullptr, 0);
            SDL_Rect rect = win.rect;
            ConsoleInformation *con = CON_Init(path_of(f).c_str(), screen, 300, rect);
            ASSERT_NE(nullptr, con) << f.name;
            EXPECT_EQ(f.w, con->FontWidth) << f.name;
            EXPECT_EQ(f.h, con->FontHeight) << f.name;
            CON_Out(con, "%s", "AAAAAAAAAAAAAAAAAAAAAAAAA");
            CON_Show(con);
            con->RaiseOffset = screen->w;
            CON_DrawConsole(con);
            int bright = 0, magenta = 0, outside = 0;
            for (int y = 0; y < screen->h; ++y)
                for (int x = 0; x < screen->w; ++x) {
                    Uint8 r, g, b;
                    rgb_at(screen, x, y, &r, &g, &b);
                    const bool inside =
                        x >= rect.x && x < rect.x + rect.w && y >= rect.y && y < rect.y + rect.h;
                    if (r > 200 && g > 200 && b > 200) bright += inside;
                    if (r > 200 && g < 60 && b > 200) ++magenta;
                    if (!inside && (r || g || b)) ++outside;
                }
            EXPECT_GT(bright, 25 * 8) << f.name << " in " << win.w; // the row of A's
            EXPECT_EQ(0, magenta) << f.name << " in " << win.w;
            EXPECT_EQ(0, outside) << f.name << " in " << win.w;
            CON_Destroy(con);
        }
}

TEST_F(ConsoleFonts, MissingFontMakesNoConsole) {
    SDL_Surface *screen = SDL_SetVideoMode(480, 448, 32, SDL_HWPALETTE | SDL_DOUBLEBUF);
    ASSERT_NE(nullptr, screen);
    SDL_Rect rect = {8, 32, 464, 408};
    testing::internal::CaptureStderr();
    ConsoleInformation *con = CON_Init(KESTREL_RUN_DIR "/no_such_font.bmp", screen, 300, rect);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(nullptr, con);
}

} // namespace
