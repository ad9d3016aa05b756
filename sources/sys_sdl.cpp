#include "sys_sdl.h"

#include <SDL.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <csignal>
#include <cstdarg>
#include <cstdio>

#include "log.h"
#include "rom.h"
#include "sys_cfg.h"
#include "sys_core.h"
#include "sys_debug.h"
#include "sys_record.h"
#include "sys_replay.h"
#include "sys_rewind.h"
#include "sys_sdl_audio.h"
#include "sys_sdl_clip.h"
#include "sys_sdl_console.h"
#include "sys_sdl_keys.h"
#include "sys_sdl_video.h"
#include "sys_shot.h"
#include "sys_state.h"
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
    long frames;          // run so far
    long measured_frames; // timer thread: since the title was last set
    bool warp_titled;     // timer thread: the title shows a warp factor
    long replay_shown;    // timer thread: the replay's seconds left in the title (0: none)
    // Written by the main thread under the machine lock, read by frames.
    bool warp;
} host;

// The signal that asked the run to end; the handler's only write, read by
// the frames, which end the loop as a planned run's end does.
static volatile sig_atomic_t host_signal;

constexpr uint32_t WARP_SHOW_MS = 20; // at most 50 pictures a second of host time

sys_sdl_clock_slots sys_sdl_clock;
sys_sdl_plan_record sys_sdl_plan;

static uint32_t ticks() {
    return sys_sdl_clock.ticks ? sys_sdl_clock.ticks() : SDL_GetTicks();
}

static void push(int32_t code, uint64_t value = 0) {
    push_event({code, value});
}

static void say(const char *text) {
    video_sdl_say(SDL_GetTicks(), text);
}

__attribute__((format(printf, 1, 2))) static void sayf(const char *fmt, ...) {
    char line[256];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    say(line);
}

// Speed and zoom change on the timer thread a moment after the key: their
// messages read the setting as it is when drawn.
static std::string speed_text() {
    return "speed " + std::to_string(speed.load()) + " MHz";
}

static std::string zoom_text() {
    return "zoom " + std::to_string(zoom.load());
}

static std::string volume_text() {
    return "volume " + std::to_string(audio_sdl_volume(-1));
}

static void toggle_fullscreen() {
    const int on = !video_sdl_is_fullscreen();
    if (video_sdl_fullscreen(on) != 0)
        say("fullscreen refused");
    else
        say(on ? "fullscreen: F11 leaves" : "window");
    video_sdl_present();
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

// Keys the loop looks at before the console: F1, Escape, F11, Alt+Enter
// and Ctrl+F5/F6 (volume) may spend the event (type cleared); F5-F8 change
// speed and zoom even with the console open and then go on like any key.
static void take_before_console(SDL_Event &ev) {
    const int mod = ev.key.keysym.mod;
    const SDLKey sym = ev.key.keysym.sym;
    if ((sym == SDLK_RETURN && (mod & KMOD_ALT)) || (sym == SDLK_F11 && !(mod & KMOD_CTRL))) {
        toggle_fullscreen();
        ev.type = SDL_NOEVENT;
        return;
    }
    if ((sym == SDLK_F5 || sym == SDLK_F6) && (mod & KMOD_CTRL)) {
        const int level = audio_sdl_volume(-1);
        audio_sdl_volume(sym == SDLK_F6 ? std::min(100, level + 10) : std::max(0, level - 10));
        video_sdl_say_live(SDL_GetTicks(), volume_text);
        ev.type = SDL_NOEVENT;
        return;
    }
    switch (sym) {
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
    case SDLK_F6:
        push(sym == SDLK_F5 ? EV_SPEED_DOWN : EV_SPEED_UP);
        video_sdl_say_live(SDL_GetTicks(), speed_text);
        break;
    case SDLK_F7:
    case SDLK_F8:
        push(sym == SDLK_F7 ? EV_ZOOM_OUT : EV_ZOOM_IN);
        video_sdl_say_live(SDL_GetTicks(), zoom_text);
        break;
    default:
        break;
    }
}

static void take_screenshot() {
    std::string name = sys_shot_next_name();
    int failed;
    {
        machine_guard hold; // a whole frame, not one being drawn
        failed = sys_shot_png(name.c_str());
    }
    SDLCON_Log(failed ? "can't write the screenshot '%s'" : "screenshot '%s'", name.c_str());
    sayf(failed ? "can't write %s" : "screenshot %s", name.c_str());
}

static void save_quick_state() {
    int failed;
    {
        machine_guard hold;
        failed = sys_state_save(STATE_QUICK_FILE);
    }
    if (!failed) log_info("state saved: %s", STATE_QUICK_FILE);
    sayf(failed ? "%s not saved (F1 says why)" : "state saved: %s", STATE_QUICK_FILE);
}

static void load_quick_state() {
    if (access(STATE_QUICK_FILE, F_OK) != 0) {
        sayf("no state file %s (F2 saves one)", STATE_QUICK_FILE);
        return;
    }
    int failed;
    {
        machine_guard hold;
        failed = sys_state_load(STATE_QUICK_FILE);
    }
    if (!failed) log_info("state restored: %s", STATE_QUICK_FILE);
    sayf(failed ? "%s refused (F1 says why)" : "state restored: %s", STATE_QUICK_FILE);
}

// One emulated second back per press; the title says where the run now is.
static void rewind_one() {
    double back = 0;
    long frame;
    {
        machine_guard hold;
        if (sys_rewind(1, &back) != 0) return;
        frame = sys_replay_now() + 1;
    }
    char title[128];
    snprintf(title, sizeof title, "%s | back %.1f s, at %.1f s", VIDEO_SDL_TITLE, back,
             frame * refresh / 1000.0);
    SDL_WM_SetCaption(title, nullptr);
}

static void key_down(SDLKey sym) {
    switch (sym) {
    case SDLK_F4: {
        machine_guard hold; // the timer thread may be drawing with this set
        rom_toggle_charset();
    }
        push(EV_NMI_SET);
        // The machine copies its characters at reset: the new ones show then.
        sayf("charset: %s\nshown after a reset (F12)",
             config[CFG_CHARSET].value ? "Latin" : "Cyrillic");
        break;
    case SDLK_F2: // quick state, between two frames
        save_quick_state();
        break;
    case SDLK_F3:
        load_quick_state();
        break;
    case SDLK_F9:
        sys_sdl_warp(!host.warp);
        say(host.warp ? "warp on: F9 ends it" : "warp off");
        break;
    case SDLK_PAGEUP:
        rewind_one();
        break;
    case SDLK_PRINT:
        take_screenshot();
        break;
    case SDLK_F10:
    case SDLK_F12: // quit and reset act on the release
        break;
    case SDLK_F11: // Ctrl+F11: the plain key went to fullscreen before
        push(EV_NMI_SET);
        say("NMI");
        break;
    default:
        sys_sdl_keys_press(sym, true);
        break;
    }
}

// Returns 1 when the key ends the loop.
static int key_up(SDLKey sym) {
    switch (sym) {
    case SDLK_F2:
    case SDLK_F3:
        return 0;
    case SDLK_F4:
    case SDLK_F11:
        push(EV_NMI_CLEAR);
        return 0;
    case SDLK_F9:
    case SDLK_PAGEUP:
    case SDLK_PRINT:
        return 0;
    case SDLK_F10:
        return 1;
    case SDLK_F12:
        push(EV_RESET);
        // A machine the monitor stopped runs again from the reset.
        if (SDLCON_Continue())
            say("reset, running");
        else
            say("reset");
        return 0;
    default:
        sys_sdl_keys_press(sym, false);
        return 0;
    }
}

// The reason a frame stopped the machine, briefly over the picture; the
// pause notice stays while it stands.
static void say_stop() {
    dbg_stop stop;
    {
        machine_guard hold;
        sys_debug_state(&stop);
    }
    if (stop.state == DBG_BREAK)
        sayf("breakpoint at $%04X", stop.addr);
    else if (stop.state == DBG_WATCH)
        sayf("watch: $%02X stored at $%04X", stop.value, stop.addr);
    else if (stop.state == DBG_STEPPED)
        say("step done");
}

// Shift+Insert and Ctrl+Shift+V paste the clipboard.
static bool is_paste_key(const SDL_keysym &k) {
    return (k.sym == SDLK_INSERT && (k.mod & KMOD_SHIFT)) ||
           (k.sym == SDLK_v && (k.mod & KMOD_CTRL) && (k.mod & KMOD_SHIFT));
}

int sys_sdl_event(SDL_Event &ev) {
    if (ev.type == SDL_QUIT) return 1;
    if (ev.type == SDL_USEREVENT) {
        host.wake_pending = false;
        if (SDLCON_Notice()) say_stop();
        sys_sdl_clip_poll();
        video_sdl_present();
    }
    // A replay is the recorded run's input alone; F10 still ends it.
    if ((ev.type == SDL_KEYDOWN || ev.type == SDL_KEYUP) && sys_replay_left() > 0 &&
        ev.key.keysym.sym != SDLK_F10)
        return 0;
    if (sys_replay_left() == 0 && sys_sdl_keys_pad_event(ev) == 0) return 0;
    if (ev.type == SDL_MOUSEBUTTONDOWN && ev.button.button == SDL_BUTTON_MIDDLE &&
        sys_replay_left() == 0)
        sys_sdl_clip_paste(true);
    if (ev.type == SDL_KEYDOWN && is_paste_key(ev.key.keysym)) {
        sys_sdl_clip_paste(false);
        return 0;
    }
    if (ev.type == SDL_VIDEORESIZE) {
        video_sdl_resize(ev.resize.w, ev.resize.h);
        video_sdl_present();
    }
    if (ev.type == SDL_VIDEOEXPOSE) video_sdl_present();
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
    sys_sdl_keys_sync();
    sys_sdl_keys_pad_open();
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
    sys_sdl_clip_close();
    sys_sdl_keys_pad_close();
    return 0;
}

// Runs scan lines until the video output reports the frame complete. A
// step that reports no cycles ends its scan line, so a stalled processor
// cannot hold the frame forever.
// How much of a frame the host sees: shown, drawn but not shown, or neither.
enum frame_view { FRAME_SHOW, FRAME_DRAW, FRAME_SKIP };

static void run_frame(uint32_t interval, step_fn step, frame_view view) {
    uint32_t height = video->height > 0 ? video->height : VDC_HEIGHT;
    uint32_t line = 0;
    sys_frame_begin();
    sys_replay_frame(sys_debug_active());
    sys_rewind_frame();
    if (sys_sdl_plan.at_frame) sys_sdl_plan.at_frame(host.frames);
    for (;;) {
        int32_t budget = static_cast<int32_t>(speed * 1000u * interval / height);
        while (budget > 0) {
            int cycles = 0;
            step(&cycles);
            if (cycles <= 0) break;
            budget -= cycles;
            host.totalcycles += cycles;
        }
        if (video->update && view == FRAME_SHOW) {
            if (video->update() == 0) break;
        } else if (video->update && video->render && view == FRAME_DRAW) {
            if (video->render() == 0) break; // drawn, not shown
        } else if (++line >= height) {
            vdc_skip_frame(); // not drawn, but the picture's blink moves on
            break;            // no video output: a frame is still `height` lines
        }
    }
    host.frames++;
    audio_sdl_frame();
}

static bool stop_due() {
    return host_signal || (sys_sdl_plan.stop_after > 0 && host.frames >= sys_sdl_plan.stop_after);
}

static bool ending() {
    return sys_sdl_plan.stop_after > 0 && host.frames + 2 >= sys_sdl_plan.stop_after;
}

// Cycles of the frames that ran since `startime`, over the time up to the
// start of this frame; the frame just run opens the next measurement.
static void show_speed(uint32_t now, uint32_t before, uint32_t interval, long frames) {
    uint32_t measured = now - host.startime;
    if (host.warp && measured > 0) {
        char title[256];
        snprintf(title, sizeof title, "kestrel | <F1> for console | warp \u00d7%.0f",
                 static_cast<double>(frames) * interval / measured);
        video_sdl_title(title);
        host.warp_titled = true;
    } else if (config[CFG_VERBOSITY].value != 0 && measured > 0) {
        char title[256];
        snprintf(title, sizeof title, "kestrel | <F1> for console | %3.3f MHz | %3.2f fps",
                 before / (measured * 1000.0), 1000.0 / interval);
        video_sdl_title(title);
        host.warp_titled = false;
    } else if (host.warp_titled) {
        // Warp is over and no speed is shown: a factor left up would be stale.
        video_sdl_title(VIDEO_SDL_TITLE);
        host.warp_titled = false;
    }
    host.startime = now;
    host.totalcycles -= before;
}

// A replay running says so in the title, with the seconds it has left.
static void show_replay() {
    long left = sys_replay_left();
    long seconds = (left * refresh + 999) / 1000;
    if (left > 0 && seconds != host.replay_shown) {
        char title[128];
        snprintf(title, sizeof title, "%s | replay: %ld s left, keys ignored", VIDEO_SDL_TITLE,
                 seconds);
        SDL_WM_SetCaption(title, nullptr);
        host.replay_shown = seconds;
    } else if (left == 0 && host.replay_shown) {
        SDL_WM_SetCaption(VIDEO_SDL_TITLE, nullptr);
        host.replay_shown = 0;
    }
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
        // The monitor's checks cost a frame nothing until one is armed, nor
        // the timing's choice, made here for the frame's steps.
        step_fn machine_step = sys_debug_active() ? sys_debug_systemloop : sys_timed_step(step);
        long frames_before = host.frames;
        if (host.warp) {
            // Frames back to back; only the last of each stretch is shown. A
            // display mode lasts from one frame into the next, so the one
            // before it is drawn too, and so are the last two of a planned run.
            while (!stop_due() && ticks() - now < WARP_SHOW_MS - 1)
                run_frame(interval, machine_step, ending() ? FRAME_DRAW : FRAME_SKIP);
            if (!stop_due()) run_frame(interval, machine_step, FRAME_DRAW);
            if (!stop_due()) run_frame(interval, machine_step, FRAME_SHOW);
        } else {
            run_frame(interval, machine_step, FRAME_SHOW);
        }
        dbg_stop stop = {DBG_RUNNING, 0, 0};
        if (sys_debug_active()) sys_debug_state(&stop);
        video_sdl_paused(stop.state != DBG_RUNNING);
        uint32_t t = ticks();
        show_replay();
        host.measured_frames += host.frames - frames_before;
        if (t - host.startime > 1000) {
            show_speed(now, before, interval, host.measured_frames);
            host.measured_frames = 0;
        }
        if (stop_due()) {
            // The planned run is over: no frame after this one.
            host.stopped = true;
            SDL_Event quit = {};
            quit.type = SDL_QUIT;
            SDL_PushEvent(&quit);
            return interval;
        }
        if (!host.wake_pending.exchange(true)) {
            SDL_Event wake = {};
            wake.type = SDL_USEREVENT;
            wake.user.type = SDL_USEREVENT;
            if (SDL_PushEvent(&wake) != 0) host.wake_pending = false;
        }
        rest = host.warp ? 0 : ms_to_next_frame(now, t, interval);
    }
    if (rest == 0) return interval;
    if (sys_sdl_clock.sleep)
        sys_sdl_clock.sleep(rest);
    else
        SDL_Delay(rest);
    return interval;
}

int sys_sdl_warp(int on) {
    machine_guard hold;
    host.warp = on != 0;
    audio_sdl_warp(on);
    if (!host.warp) host.due = 0; // pacing starts afresh
    return 0;
}

static void on_signal(int sig) {
    host_signal = sig;
}

int sys_sdl_catch_signals() {
    struct sigaction sa = {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        sigaction(sig, &sa, nullptr);
    return 0;
}

int sys_sdl_signalled() {
    return host_signal;
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
