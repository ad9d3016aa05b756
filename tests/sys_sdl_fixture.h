// Helpers for the host loop and console tests: an SDL screen on the dummy
// driver, a console font of our own, key events and the console's lines.
#pragma once
#include <SDL.h>
#include <SDL_console.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sys_cfg.h"
#include "sys_core.h"
#include "sys_sdl.h"
#include "sys_sdl_console.h"
#include "test_util.h"
#include "vdc.h"

// A font in the console's layout: 256 cells of 7 x 14 in one row on magenta,
// each printable code a white block, so drawn text shows as white pixels.
inline bool make_font(const char *path, int cell_w = 7, int cell_h = 14) {
    SDL_Surface *font =
        SDL_CreateRGBSurface(SDL_SWSURFACE, 256 * cell_w, cell_h, 24, 0xFF0000, 0xFF00, 0xFF, 0);
    if (!font) return false;
    SDL_FillRect(font, nullptr, SDL_MapRGB(font->format, 255, 0, 255));
    for (int c = 33; c < 127; c++) {
        SDL_Rect glyph = {static_cast<Sint16>(c * cell_w + 1), 2, static_cast<Uint16>(cell_w - 2),
                          static_cast<Uint16>(cell_h - 4)};
        SDL_FillRect(font, &glyph, SDL_MapRGB(font->format, 255, 255, 255));
    }
    int saved = SDL_SaveBMP(font, path);
    SDL_FreeSurface(font);
    return saved == 0;
}

inline SDL_Event key_event(Uint8 type, SDLKey sym, SDLMod mod = KMOD_NONE, Uint16 unicode = 0) {
    SDL_Event ev;
    memset(&ev, 0, sizeof ev);
    ev.type = type;
    ev.key.type = type;
    ev.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    ev.key.keysym.sym = sym;
    ev.key.keysym.mod = mod;
    ev.key.keysym.unicode = unicode;
    return ev;
}

// Presses and releases each character's key through the host loop's event
// handler, then Return when `enter` is set.
inline void type_keys(const char *text, bool enter = true) {
    for (const char *p = text; *p; p++) {
        char c = *p;
        bool upper = c >= 'A' && c <= 'Z';
        auto sym = static_cast<SDLKey>(upper ? c - 'A' + 'a' : c);
        SDL_Event down = key_event(SDL_KEYDOWN, sym, upper ? KMOD_LSHIFT : KMOD_NONE,
                                   static_cast<Uint16>(static_cast<unsigned char>(c)));
        sys_sdl_event(down);
        SDL_Event up = key_event(SDL_KEYUP, sym);
        sys_sdl_event(up);
    }
    if (enter) {
        SDL_Event down = key_event(SDL_KEYDOWN, SDLK_RETURN, KMOD_NONE, '\r');
        sys_sdl_event(down);
        SDL_Event up = key_event(SDL_KEYUP, SDLK_RETURN);
        sys_sdl_event(up);
    }
}

// Every event waiting in the machine's queue, oldest first.
inline std::vector<event> drain_queue() {
    std::vector<event> out;
    event ev;
    while (pull_event(&ev) == 0)
        out.push_back(ev);
    return out;
}

// The console's last `n` lines, oldest first.
inline std::vector<std::string> console_lines(int n) {
    std::vector<std::string> out;
    ConsoleInformation *con = SDLCON_Console();
    if (!con) return out;
    for (int i = n - 1; i >= 0; i--)
        out.emplace_back(con->ConsoleLines[i]);
    return out;
}

// A private working directory with a font, a 480 x 448 screen on the dummy
// driver in the video record, and (unless told not to) the console.
class SdlScreen : public ::testing::Test {
  protected:
    void SetUp() override { open_screen(true); }
    void TearDown() override {
        SDLCON_Quit();
        SDL_Quit();
    }
    void open_screen(bool with_console, int level = 1) {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        sys_cfg_defaults();
        sys_queue_reset();
        ASSERT_TRUE(make_font("kestrel_font_7x14.bmp"));
        ASSERT_EQ(0, SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER | SDL_INIT_NOPARACHUTE));
        int scale = level == 0 ? 1 : 2;
        screen = SDL_SetVideoMode(VDC_WIDTH * scale, VDC_HEIGHT * scale, 32, SDL_SWSURFACE);
        ASSERT_NE(nullptr, screen);
        vdc_init();
        video->zoom = level;
        video->surface = screen;
        if (with_console) {
            ASSERT_EQ(0, SDLCON_Init());
        }
    }
    TempDir dir;
    SDL_Surface *screen = nullptr;
};
