#include "sys_sdl.h"

#include <SDL.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "log.h"
#include "rom.h"
#include "sys_cfg.h"
#include "sys_core.h"
#include "sys_debug.h"
#include "sys_sdl_console.h"
#include "vdc.h"

static struct {
    int quit;
    int sysconsole;
    SDL_TimerID systimer;
    // Set under the machine lock when the loop ends: no frame starts after.
    bool stopped;
    // A wake-up event waits in SDL's queue: frames push no more until the
    // loop has taken it, so a loop that lags never finds the queue full of
    // wake-ups and the user's keys dropped.
    std::atomic<bool> wake_pending;
    // Timer thread only: the speed measurement and the frame schedule.
    uint32_t startime;
    uint32_t totalcycles;
    uint32_t due;
} host;

sys_sdl_clock_slots sys_sdl_clock;

static uint32_t ticks() {
    return sys_sdl_clock.ticks ? sys_sdl_clock.ticks() : SDL_GetTicks();
}

static void push(int32_t code, uint64_t value = 0) {
    push_event({code, value});
}

// The timer thread's entry: the step function rides in the parameter.
static Uint32 tick(Uint32 interval, void *param) {
    return sys_sdl_run_cb(interval, reinterpret_cast<step_fn>(param));
}

int sys_sdl_init() {
    if (SDL_Init(SDL_INIT_TIMER | SDL_INIT_NOPARACHUTE) < 0) {
        log_error("unable to init SDL: %s", SDL_GetError());
        return 1;
    }
    return 0;
}

// Keys the loop looks at before the console: F1 and Escape may spend the
// event (type cleared); F5-F8 change speed and zoom even with the console
// open and then go on like any key.
static void take_before_console(SDL_Event &ev) {
    switch (ev.key.keysym.sym) {
    case SDLK_F1:
        if (SDLCON_Visible())
            SDLCON_Hide();
        else
            SDLCON_Show();
        ev.type = SDL_NOEVENT;
        break;
    case SDLK_ESCAPE:
        if (SDLCON_Visible()) {
            SDLCON_Hide();
            ev.type = SDL_NOEVENT;
        }
        break;
    case SDLK_F5:
        push(EV_SPEED_DOWN);
        break;
    case SDLK_F6:
        push(EV_SPEED_UP);
        break;
    case SDLK_F7:
        push(EV_ZOOM_OUT);
        break;
    case SDLK_F8:
        push(EV_ZOOM_IN);
        break;
    default:
        break;
    }
}

static void key_down(SDLKey sym) {
    switch (sym) {
    case SDLK_F4: {
        machine_guard hold; // the timer thread may be drawing with this set
        rom_toggle_charset();
    }
        push(EV_NMI_SET);
        break;
    case SDLK_F10:
    case SDLK_F12: // quit and reset act on the release
        break;
    case SDLK_F11:
        push(EV_NMI_SET);
        break;
    default:
        push(EV_KEY_DOWN, sym);
        break;
    }
}

// Returns 1 when the key ends the loop.
static int key_up(SDLKey sym) {
    switch (sym) {
    case SDLK_F4:
    case SDLK_F11:
        push(EV_NMI_CLEAR);
        return 0;
    case SDLK_F10:
        return 1;
    case SDLK_F12:
        push(EV_RESET);
        return 0;
    default:
        push(EV_KEY_UP, sym);
        return 0;
    }
}

int sys_sdl_event(SDL_Event &ev) {
    if (ev.type == SDL_QUIT) return 1;
    if (ev.type == SDL_USEREVENT) {
        host.wake_pending = false;
        SDLCON_Notice();
    }
    if (ev.type == SDL_KEYDOWN) take_before_console(ev);
    if (ev.type == SDL_NOEVENT) return 0;
    if (SDLCON_ProcessEvent(ev) == 0) return 0;
    if (ev.type == SDL_KEYDOWN) key_down(ev.key.keysym.sym);
    if (ev.type == SDL_KEYUP) return key_up(ev.key.keysym.sym);
    return 0;
}

int sys_sdl_run(step_fn step) {
    host.quit = 0;
    host.wake_pending = false;
    {
        machine_guard hold;
        host.stopped = false;
    }
    if (!host.sysconsole) {
        if (SDLCON_Init() == 0) {
            host.sysconsole = 1;
        } else {
            log_error("can't create console");
            host.quit = 1;
        }
    }
    SDL_EnableKeyRepeat(0, 0);
    if (!host.quit && !host.systimer) {
        host.systimer = SDL_AddTimer(refresh, tick, reinterpret_cast<void *>(step));
        if (!host.systimer) {
            log_error("can't create timer: %s", SDL_GetError());
            host.quit = 1;
        }
    }
    while (!host.quit) {
        SDL_Event ev;
        if (!SDL_WaitEvent(&ev)) continue;
        if (sys_sdl_event(ev)) host.quit = 1;
    }
    if (host.systimer) {
        SDL_RemoveTimer(host.systimer);
        host.systimer = nullptr;
    }
    {
        // Removing the timer does not stop a callback already running; its
        // frame holds this lock, so once we have it no frame is left.
        machine_guard hold;
        host.stopped = true;
    }
    if (host.sysconsole) {
        SDLCON_Quit();
        host.sysconsole = 0;
    }
    return 0;
}

// Runs scan lines until the video output reports the frame complete. A
// step that reports no cycles ends its scan line, so a stalled processor
// cannot hold the frame forever.
static void run_frame(uint32_t interval, step_fn step) {
    uint32_t height = video->height > 0 ? video->height : VDC_HEIGHT;
    uint32_t line = 0;
    for (;;) {
        int32_t budget = static_cast<int32_t>(speed * 1000u * interval / height);
        while (budget > 0) {
            int cycles = 0;
            step(&cycles);
            if (cycles <= 0) break;
            budget -= cycles;
            host.totalcycles += cycles;
        }
        if (video->update) {
            if (video->update() == 0) return;
        } else if (++line >= height) {
            return; // no video output: a frame is still `height` lines
        }
    }
}

// Cycles of the frames that ran since `startime`, over the time up to the
// start of this frame; the frame just run opens the next measurement.
static void show_speed(uint32_t now, uint32_t before, uint32_t interval) {
    uint32_t measured = now - host.startime;
    if (config[CFG_VERBOSITY].value != 0 && measured > 0) {
        char title[256];
        snprintf(title, sizeof title, "kestrel | <F1> for console | %3.3f MHz | %3.2f fps",
                 before / (measured * 1000.0), 1000.0 / interval);
        SDL_WM_SetCaption(title, nullptr);
    }
    host.startime = now;
    host.totalcycles -= before;
}

// Frames keep to a schedule of one every `interval` ms. SDL calls back a
// little late every period; sleeping to the next due time instead of for
// a period from our own start keeps that lateness from adding up. A frame
// far off the schedule (the first, or after a stall) starts a new one.
static uint32_t ms_to_next_frame(uint32_t now, uint32_t t, uint32_t interval) {
    auto off = static_cast<int32_t>(now - host.due);
    if (host.due == 0 || off > 4 * static_cast<int32_t>(interval) ||
        off < -static_cast<int32_t>(interval))
        host.due = now;
    host.due += interval;
    auto rest = static_cast<int32_t>(host.due - t);
    return rest < 1 ? 1 : rest;
}

uint32_t sys_sdl_run_cb(uint32_t interval, step_fn step) {
    uint32_t rest;
    {
        machine_guard hold;
        if (host.stopped) return interval;
        uint32_t now = ticks();
        if (host.startime == 0) {
            host.startime = now;
            host.totalcycles = 0;
        }
        uint32_t before = host.totalcycles;
        // The monitor's checks cost a frame nothing until one is armed.
        run_frame(interval, sys_debug_active() ? sys_debug_systemloop : step);
        uint32_t t = ticks();
        if (t - host.startime > 1000) show_speed(now, before, interval);
        if (!host.wake_pending.exchange(true)) {
            SDL_Event wake = {};
            wake.type = SDL_USEREVENT;
            wake.user.type = SDL_USEREVENT;
            if (SDL_PushEvent(&wake) != 0) host.wake_pending = false;
        }
        rest = ms_to_next_frame(now, t, interval);
    }
    if (sys_sdl_clock.sleep)
        sys_sdl_clock.sleep(rest);
    else
        SDL_Delay(rest);
    return interval;
}

int sys_sdl_finish() {
    SDL_Quit();
    return 0;
}

int sys_sdl_log(const char *fmt, ...) {
    char line[2048];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(line, 2047, fmt, ap);
    va_end(ap);
    SDLCON_Log("%s", line);
    return 0;
}
