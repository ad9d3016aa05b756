// The host loop: keys to machine events; the frame's cycle budget, schedule
// and title on the test's clock (SDL's own runs in the threads test).
#include "sys_sdl.h"

#include "cpu_6502.h"
#include "keyboard.h"
#include "ram.h"
#include "sys_debug.h"
#include "sys_sdl_audio.h"
#include "sys_sdl_console.h"
#include "sys_sdl_fixture.h"
#include "sys_sdl_keys.h"
#include "sys_pad.h"
#include "sys_sdl_video.h"
#include "sys_state.h"

using queued = std::vector<std::pair<int32_t, uint64_t>>;

static queued drain() {
    queued out;
    for (event ev; pull_event(&ev) == 0;)
        out.emplace_back(ev.code, ev.value);
    return out;
}

using HostKeys = SdlScreen;

// Each key pressed and released. The open console takes presses, not
// releases; F1, Escape and F5 to F8 act before it.
TEST_F(HostKeys, BecomeMachineEventsOrConsoleInput) {
    constexpr int32_t D = EV_KEY_DOWN, U = EV_KEY_UP;
    // console open before, key, its character, release ends the loop, console
    // open after, charset flipped, machine events
    std::tuple<bool, SDLKey, Uint16, int, int, bool, queued> rows[] = {
        {0, SDLK_a, 'a', 0, 0, 0, {{D, KEY_A}, {U, KEY_A}}},
        {0, SDLK_ESCAPE, 27, 0, 0, 0, {{D, KEY_ESC}, {U, KEY_ESC}}},
        {0,
         SDLK_KP_PLUS,
         '+',
         0,
         0,
         0,
         {{D, KEY_LSHIFT}, {D, KEY_EQUALS}, {U, KEY_EQUALS}, {U, KEY_LSHIFT}}},
        {0, SDLK_HOME, 0, 0, 0, 0, {{D, KEY_LCTRL}, {D, KEY_L}, {U, KEY_L}, {U, KEY_LCTRL}}},
        {0, SDLK_F12, 0, 0, 0, 0, {{EV_RESET, 0}}},
        {0, SDLK_F11, 0, 0, 0, 0, {{EV_NMI_CLEAR, 0}}}, // the press went to fullscreen
        {0, SDLK_F4, 0, 0, 0, 1, {{EV_NMI_SET, 0}, {EV_NMI_CLEAR, 0}}},
        {0, SDLK_F5, 0, 0, 0, 0, {{EV_SPEED_DOWN, 0}}},
        {0, SDLK_F6, 0, 0, 0, 0, {{EV_SPEED_UP, 0}}},
        {0, SDLK_F7, 0, 0, 0, 0, {{EV_ZOOM_OUT, 0}}},
        {0, SDLK_F8, 0, 0, 0, 0, {{EV_ZOOM_IN, 0}}},
        {0, SDLK_F10, 0, 1, 0, 0, {}},
        {0, SDLK_F1, 0, 0, 1, 0, {}},
        {1, SDLK_a, 'a', 0, 1, 0, {{U, KEY_A}}},
        {1, SDLK_F5, 0, 0, 1, 0, {{EV_SPEED_DOWN, 0}}},
        {1, SDLK_ESCAPE, 27, 0, 0, 0, {{U, KEY_ESC}}},
        {1, SDLK_F1, 0, 0, 0, 0, {}},
    };
    for (const auto &[open, sym, unicode, ends, open_after, flips, events] : rows) {
        open ? SDLCON_Show() : SDLCON_Hide();
        const int charset = config[CFG_CHARSET].value;
        SDL_Event down = key_event(SDL_KEYDOWN, sym, KMOD_NONE, unicode);
        SDL_Event up = key_event(SDL_KEYUP, sym);
        EXPECT_EQ(0, sys_sdl_event(down)) << sym;
        EXPECT_EQ(ends, sys_sdl_event(up)) << sym;
        EXPECT_EQ(open_after, SDLCON_Visible()) << sym;
        EXPECT_EQ(flips, charset != config[CFG_CHARSET].value) << sym;
        EXPECT_EQ(events, drain()) << sym << (open ? " open" : "");
    }
    // With Ctrl, F11 holds the NMI and F5/F6 set the volume; Alt+Enter is no Return.
    std::tuple<SDLKey, SDLMod, int, queued> modded[] = {
        {SDLK_F11, KMOD_LCTRL, 100, {{EV_NMI_SET, 0}, {EV_NMI_CLEAR, 0}}},
        {SDLK_F5, KMOD_LCTRL, 90, {}},
        {SDLK_F6, KMOD_RCTRL, 100, {}},
        {SDLK_RETURN, KMOD_LALT, 100, {{U, KEY_RETURN}}}, // a release changes nothing
    };
    for (const auto &[sym, mod, volume, events] : modded) {
        SDL_Event down = key_event(SDL_KEYDOWN, sym, mod), up = key_event(SDL_KEYUP, sym, mod);
        sys_sdl_event(down);
        sys_sdl_event(up);
        EXPECT_EQ(volume, audio_sdl_volume(-1)) << sym;
        EXPECT_EQ(events, drain()) << sym;
    }
    SDL_Event wake = {SDL_USEREVENT}, close = {SDL_QUIT};
    EXPECT_EQ(0, sys_sdl_event(wake));
    EXPECT_EQ(1, sys_sdl_event(close));
}

// Host character keys are the machine's key for their unshifted character;
// every one of the machine's 62 keys has a host key.
TEST_F(HostKeys, EveryMachineKeyHasAHostKeyAndCharacterKeysTypeTheirCharacter) {
    std::vector<bool> reached(KEY_CELLS);
    for (int sym = 1; sym < SDLK_LAST; sym++) {
        uint8_t cell = 0, with = 0;
        if (sys_sdl_keys_cell(SDLKey(sym), &cell, &with) != 0) continue;
        ASSERT_LT(cell, KEY_CELLS) << sym;
        reached[cell] = true;
        if (sym >= ' ' && sym < 127) {
            EXPECT_EQ(sym, keyboard_layout[cell].plain) << sym;
            EXPECT_EQ(SDL_KEYS_NONE, with) << sym;
        }
    }
    EXPECT_EQ(62, std::count(reached.begin(), reached.end(), true));
    uint8_t cell = 0, with = 0;
    EXPECT_EQ(1, sys_sdl_keys_cell(SDLK_F1, &cell, &with));
    EXPECT_EQ(0, sys_sdl_keys_cell(SDLK_KP_MULTIPLY, &cell, &with));
    EXPECT_EQ(std::pair(KEY_8, KEY_LSHIFT), std::pair(key_name(cell), key_name(with)));
    EXPECT_EQ(0, sys_sdl_keys_cell(SDLK_CAPSLOCK, &cell, &with));
    EXPECT_EQ(KEY_CAPS, cell);
    // A gamepad's hat and button reach the machine as keys.
    sys_pad_defaults();
    drain();
    SDL_Event hat = {}, button = {};
    hat.type = hat.jhat.type = SDL_JOYHATMOTION;
    hat.jhat.value = SDL_HAT_LEFT;
    button.type = button.jbutton.type = SDL_JOYBUTTONDOWN;
    EXPECT_EQ(0, sys_sdl_event(hat) + sys_sdl_event(button));
    EXPECT_EQ(queued({{EV_KEY_DOWN, KEY_LEFT}, {EV_KEY_DOWN, KEY_SPACE}}), drain());
}

// F2 writes the quick state, F3 brings the machine back to it; neither is a
// key of the machine.
TEST_F(HostKeys, F2SavesAndF3RestoresTheQuickState) {
    ASSERT_EQ(0, board_init());
    uint8_t *ram = ram_getptr();
    ram[0x5000] = 0xA5;
    auto press = [](SDLKey sym) {
        for (Uint8 type : {SDL_KEYDOWN, SDL_KEYUP}) {
            SDL_Event ev = key_event(type, sym);
            EXPECT_EQ(0, sys_sdl_event(ev));
        }
    };
    press(SDLK_F2);
    ASSERT_TRUE(std::filesystem::exists(STATE_QUICK_FILE));
    ram[0x5000] = 0x3C;
    press(SDLK_F3);
    EXPECT_EQ(0xA5, ram[0x5000]);
    EXPECT_EQ(queued{}, drain());
}

// Steps of fixed cycles, a video output counting lines, and the test's clock:
// a frame takes `frame_ms` of it, a sleep passes at once.
struct HostFrame : SdlScreen {
    static inline int steps, lines, cycles;
    static inline uint32_t clock = 1000, frame_ms, slept;
    static int step(int *c) { return *c = cycles, steps++, 0; }
    static int32_t update() { return ++lines % VDC_HEIGHT ? 1 : (clock += frame_ms, 0); }
    void SetUp() override {
        SdlScreen::SetUp();
        steps = lines = frame_ms = 0;
        cycles = 1;
        video->update = update;
        sys_sdl_clock = {[] { return clock; }, [](uint32_t ms) { clock += slept = ms; }};
    }
    std::string frames(int n, uint32_t interval) { // the title after them
        char *title = nullptr;
        for (int i = 0; i < n; i++)
            sys_sdl_run_cb(interval, step);
        video_sdl_present(); // the main thread sets the caption the frames asked for
        SDL_WM_GetCaption(&title, nullptr);
        return title ? title : "";
    }
};

// 1000 cycles a ms at speed 1 over 224 lines; 13 steps of 7 cover 89 (no
// carry); a step without cycles ends its line; no video: still 224 lines.
TEST_F(HostFrame, EachScanLineRunsItsShareOfTheFramesCycles) {
    // speed, interval, cycles of a step, video output, steps per line
    int rows[][5] = {{1, 20, 1, 1, 89},  {1, 40, 1, 1, 178}, {1, 30, 1, 1, 133}, {2, 20, 1, 1, 178},
                     {4, 20, 1, 1, 357}, {1, 20, 7, 1, 13},  {1, 20, 0, 1, 1},   {1, 20, 1, 0, 89}};
    for (const auto &[s, interval, c, with_video, steps_per_line] : rows) {
        steps = 0;
        cycles = c;
        speed = s;
        video->update = with_video ? update : nullptr;
        EXPECT_EQ(interval, static_cast<int>(sys_sdl_run_cb(interval, step)));
        EXPECT_EQ(steps_per_line * VDC_HEIGHT, steps) << s << " " << interval << " " << c;
    }
}

// One frame every 40 ms: lateness is made up by a shorter sleep; a stall of
// more than four periods, or a call more than one early, starts anew.
TEST_F(HostFrame, SleepsUntilTheNextFrameIsDue) {
    // ms late after the last sleep, ms the frame takes, sleep after it
    int rows[][3] = {{100000, 0, 40}, {5, 0, 35},   {0, 10, 30},  {0, 40, 1}, {0, 0, 39},
                     {161, 0, 40},    {-41, 0, 40}, {-40, 0, 80}, {160, 0, 1}};
    for (const auto &[late, frame, sleep] : rows) {
        clock += late;
        frame_ms = frame;
        sys_sdl_run_cb(40, step);
        EXPECT_EQ(sleep, static_cast<int>(slept)) << "late " << late << " frame " << frame;
    }
}

// The title shows the cycles of the frames begun since the last title over
// the time since, at the first frame more than a second after it.
TEST_F(HostFrame, TitleShowsTheSpeedOnceASecond) {
    config[CFG_VERBOSITY].value = 1;
    // speed, interval, the first frame past a second, its title
    std::tuple<int, int, int, const char *> rows[] = {
        {1, 20, 51, "kestrel | <F1> for console | 0.997 MHz | 50.00 fps"}, // 89 x 224 / 20 ms
        {1, 30, 34, "kestrel | <F1> for console | 0.993 MHz | 33.33 fps"}, // 133 x 224 / 30 ms
        {2, 40, 26, "kestrel | <F1> for console | 1.999 MHz | 25.00 fps"}, // 357 x 224 / 40 ms
    };
    for (const auto &[s, interval, first, title] : rows) {
        speed = s;
        clock += 100000;
        frames(1, interval); // long after the last title: one now
        for (int second = 0; second < 2; second++) {
            SDL_WM_SetCaption("start", nullptr);
            EXPECT_EQ("start", frames(first - 1, interval)) << interval;
            EXPECT_EQ(title, frames(1, interval)) << "second " << second;
        }
    }
    config[CFG_VERBOSITY].value = 0;
    SDL_WM_SetCaption("start", nullptr);
    EXPECT_EQ("start", frames(60, 20)) << "silent: no title";
}

// F9 twice at verbosity 0: the factor shows while warping, then the title
// the window opened with comes back instead of a stale factor.
TEST_F(HostFrame, WarpTitleGoesWhenWarpEnds) {
    config[CFG_VERBOSITY].value = 0;
    speed = 1;
    // Skipped frames draw nothing, so the clock moves on every reading.
    sys_sdl_clock.ticks = [] { return clock += 1; };
    SDL_WM_SetCaption("start", nullptr);
    clock += 100000;
    sys_sdl_warp(1);
    std::string warping = frames(200, 20);
    EXPECT_EQ(0u, warping.find("kestrel | <F1> for console | warp \u00d7")) << warping;
    sys_sdl_warp(0);
    EXPECT_EQ(VIDEO_SDL_TITLE, frames(60, 20));
    SDL_WM_SetCaption("start", nullptr);
    EXPECT_EQ("start", frames(60, 20)) << "set once, not every second";
}

TEST_F(HostFrame, AtMostOneWakeUpWaitsForTheLoop) {
    SDL_Event ev = {SDL_USEREVENT}, evs[4];
    for (int taken : {1, 0, 1}) {
        if (taken) sys_sdl_event(ev); // the loop has taken the last wake-up
        frames(4, 20);
        EXPECT_EQ(taken, SDL_PeepEvents(evs, 4, SDL_GETEVENT, SDL_EVENTMASK(SDL_USEREVENT)));
    }
}

// Armed, frames step through the monitor: stopped, they draw every line
// and take no step; the wake-up after a stop a frame made opens the console.
TEST_F(HostFrame, TheMonitorStopsTheMachineNotThePicture) {
    ASSERT_EQ(0, ram_init());
    speed = 1;
    ram_getptr()[0x0400] = 0xEA; // nop
    cpu_6502.pcreg = 0x0400;
    sys_debug_init();
    sys_debug_break(0x0401);
    SDL_Event wake = {SDL_USEREVENT};
    for (int frame = 0; frame < 2; frame++) {
        lines = 0;
        frames(1, 20);
        EXPECT_EQ(std::tuple(0, VDC_HEIGHT, 0x0401), std::tuple(steps, lines, +cpu_6502.pcreg));
        sys_sdl_event(wake);
        EXPECT_EQ(1 - frame, SDLCON_Visible()) << "only a new stop opens it";
        SDLCON_Hide();
    }
    sys_debug_init(); // nothing armed: the frame's own step again
    steps = 0;
    frames(1, 20);
    EXPECT_EQ(89 * VDC_HEIGHT, steps);
}
