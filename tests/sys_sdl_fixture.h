// Host test helpers: a dummy-driver screen, our console font, key events.
#pragma once
#include "fixture.h"
#include "sys_cfg.h"
#include "sys_core.h"
#include "sys_sdl.h"
#include "sys_sdl_console.h"
#include "vdc.h"

// A font in the console's layout: 256 cells in one row on magenta, each
// printable code a white block, so drawn text shows as white pixels.
inline bool make_font(const char *path, int cell_w = 7, int cell_h = 14) {
    SDL_Surface *f =
        SDL_CreateRGBSurface(SDL_SWSURFACE, 256 * cell_w, cell_h, 24, 0xFF0000, 0xFF00, 0xFF, 0);
    if (!f) return false;
    SDL_FillRect(f, nullptr, 0xFF00FF);
    for (int c = 33; c < 127; c++) {
        SDL_Rect glyph = {Sint16(c * cell_w + 1), 2, Uint16(cell_w - 2), Uint16(cell_h - 4)};
        SDL_FillRect(f, &glyph, 0xFFFFFF);
    }
    int saved = SDL_SaveBMP(f, path);
    SDL_FreeSurface(f);
    return saved == 0;
}

inline SDL_Event key_event(Uint8 type, SDLKey sym, SDLMod mod = KMOD_NONE, Uint16 unicode = 0) {
    SDL_Event ev = {};
    ev.type = ev.key.type = type;
    ev.key.keysym = {0, sym, mod, unicode};
    return ev;
}

// Each lower-case character's key through the host loop, then maybe Return.
inline void type_keys(const char *text, bool enter = true) {
    for (char c : std::string(text) + (enter ? "\r" : ""))
        for (SDL_Event ev : {key_event(SDL_KEYDOWN, SDLKey(c), KMOD_NONE, Uint8(c)),
                             key_event(SDL_KEYUP, SDLKey(c))})
            sys_sdl_event(ev);
}

// The console's last `n` lines, oldest first.
inline std::vector<std::string> console_lines(int n) {
    std::vector<std::string> out;
    for (int i = n - 1; SDLCON_Console() && i >= 0; i--)
        out.emplace_back(SDLCON_Console()->ConsoleLines[i]);
    return out;
}

// A private directory, a 480 x 448 screen at zoom 1 and the console on it.
class SdlScreen : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        sys_cfg_defaults();
        sys_queue_reset();
        ASSERT_TRUE(make_font("kestrel_font_7x14.bmp"));
        ASSERT_EQ(0, SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER | SDL_INIT_NOPARACHUTE));
        vdc_init();
        video->zoom = 1;
        video->surface = SDL_SetVideoMode(2 * VDC_WIDTH, 2 * VDC_HEIGHT, 32, SDL_SWSURFACE);
        ASSERT_EQ(0, SDLCON_Init());
    }
    void TearDown() override {
        SDLCON_Quit();
        SDL_Quit();
    }
    TempDir dir;
};
