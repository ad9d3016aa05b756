#include "sys_sdl.h"

#include <gtest/gtest.h>

#include <time.h>

#include <atomic>
#include <filesystem>
#include <regex>
#include <thread>

#include "cpu_6502.h"
#include "log.h"
#include "mem.h"
#include "sys_sdl_video.h"
#include "via_6522.h"
#include "sys_sdl_fixture.h"

namespace {

struct expected {
    int32_t code;
    uint64_t value;
};

void expect_events(const std::vector<expected> &want) {
    std::vector<event> got = drain_queue();
    ASSERT_EQ(want.size(), got.size());
    for (size_t i = 0; i < want.size(); i++) {
        EXPECT_EQ(want[i].code, got[i].code) << "event " << i;
        EXPECT_EQ(want[i].value, got[i].value) << "event " << i;
    }
}

int press(SDLKey sym, SDLMod mod = KMOD_NONE, Uint16 unicode = 0) {
    SDL_Event ev = key_event(SDL_KEYDOWN, sym, mod, unicode);
    return sys_sdl_event(ev);
}

int release(SDLKey sym) {
    SDL_Event ev = key_event(SDL_KEYUP, sym);
    return sys_sdl_event(ev);
}

class HostKeys : public SdlScreen {};

TEST_F(HostKeys, OrdinaryKeysBecomeKeyEventsWithTheirSymbol) {
    EXPECT_EQ(0, press(SDLK_a, KMOD_NONE, 'a'));
    EXPECT_EQ(0, release(SDLK_a));
    EXPECT_EQ(0, press(SDLK_ESCAPE));
    EXPECT_EQ(0, release(SDLK_ESCAPE));
    expect_events({{EV_KEY_DOWN, SDLK_a}, {EV_KEY_UP, SDLK_a}, {EV_KEY_DOWN, 27}, {EV_KEY_UP, 27}});
}

TEST_F(HostKeys, ResetAndNmiFollowTheirKeys) {
    press(SDLK_F12);
    release(SDLK_F12);
    press(SDLK_F11);
    release(SDLK_F11);
    expect_events({{EV_RESET_DOWN, 0}, {EV_RESET, 0}, {EV_NMI_SET, 0}, {EV_NMI_CLEAR, 0}});
}

TEST_F(HostKeys, F4TogglesTheCharsetBeforeRaisingTheNmi) {
    int before = config[CFG_CHARSET].value;
    press(SDLK_F4);
    EXPECT_EQ(!before, config[CFG_CHARSET].value);
    release(SDLK_F4);
    EXPECT_EQ(!before, config[CFG_CHARSET].value); // the release does not toggle back
    expect_events({{EV_NMI_SET, 0}, {EV_NMI_CLEAR, 0}});
}

TEST_F(HostKeys, SpeedAndZoomKeysAlsoReachTheMachineAsKeys) {
    press(SDLK_F5);
    press(SDLK_F6);
    press(SDLK_F7);
    press(SDLK_F8);
    release(SDLK_F8);
    expect_events({{EV_SPEED_DOWN, 0},
                   {EV_KEY_DOWN, 286},
                   {EV_SPEED_UP, 0},
                   {EV_KEY_DOWN, 287},
                   {EV_ZOOM_OUT, 0},
                   {EV_KEY_DOWN, 288},
                   {EV_ZOOM_IN, 0},
                   {EV_KEY_DOWN, 289},
                   {EV_KEY_UP, 289}});
}

TEST_F(HostKeys, F10QuitsOnReleaseOnly) {
    EXPECT_EQ(0, press(SDLK_F10));
    expect_events({});
    EXPECT_EQ(1, release(SDLK_F10));
    expect_events({});
}

TEST_F(HostKeys, WindowCloseQuitsAndTimerWakeUpsAreIgnored) {
    SDL_Event wake = {};
    wake.type = SDL_USEREVENT;
    EXPECT_EQ(0, sys_sdl_event(wake));
    SDL_Event close = {};
    close.type = SDL_QUIT;
    EXPECT_EQ(1, sys_sdl_event(close));
    expect_events({});
}

TEST_F(HostKeys, F1TogglesTheConsoleWithoutAMachineEventOnPress) {
    press(SDLK_F1);
    EXPECT_EQ(1, SDLCON_Visible());
    release(SDLK_F1);
    press(SDLK_F1);
    EXPECT_EQ(0, SDLCON_Visible());
    expect_events({{EV_KEY_UP, 282}});
}

TEST_F(HostKeys, OpenConsoleTakesKeyPressesButNotReleases) {
    SDLCON_Show();
    press(SDLK_a, KMOD_NONE, 'a');
    release(SDLK_a);
    press(SDLK_F12);
    release(SDLK_F12);
    press(SDLK_F11);
    release(SDLK_F11);
    expect_events({{EV_KEY_UP, SDLK_a}, {EV_RESET, 0}, {EV_NMI_CLEAR, 0}});
}

TEST_F(HostKeys, OpenConsoleStillChangesSpeedAndQuits) {
    SDLCON_Show();
    press(SDLK_F5);
    press(SDLK_F8);
    expect_events({{EV_SPEED_DOWN, 0}, {EV_ZOOM_IN, 0}});
    EXPECT_EQ(1, release(SDLK_F10));
}

TEST_F(HostKeys, OpenConsoleKeepsF4FromTheCharset) {
    SDLCON_Show();
    int before = config[CFG_CHARSET].value;
    press(SDLK_F4);
    EXPECT_EQ(before, config[CFG_CHARSET].value);
    release(SDLK_F4);
    expect_events({{EV_NMI_CLEAR, 0}});
}

TEST_F(HostKeys, EscapeClosesTheConsoleAndIsSpent) {
    SDLCON_Show();
    press(SDLK_ESCAPE);
    EXPECT_EQ(0, SDLCON_Visible());
    expect_events({});
    press(SDLK_ESCAPE); // closed now: an ordinary key
    expect_events({{EV_KEY_DOWN, 27}});
}

TEST_F(HostKeys, OpenConsoleLeavesAltAndMostCtrlKeysToTheMachine) {
    SDLCON_Show();
    press(SDLK_x, KMOD_LALT, 'x');
    press(SDLK_x, KMOD_LCTRL, 24);
    press(SDLK_c, KMOD_LCTRL, 3); // cancels the console's line instead
    expect_events({{EV_KEY_DOWN, SDLK_x}, {EV_KEY_DOWN, SDLK_x}});
}

TEST_F(HostKeys, TypedCommandRunsWhenReturnIsPressed) {
    SDLCON_Show();
    type_keys("dump");
    EXPECT_EQ(65536u, read_file("kestrel_ram.bin").size());
    expect_events({{EV_KEY_UP, 'd'},
                   {EV_KEY_UP, 'u'},
                   {EV_KEY_UP, 'm'},
                   {EV_KEY_UP, 'p'},
                   {EV_KEY_UP, SDLK_RETURN}});
}

// A frame with a step of fixed cycles and a video output that counts lines.
struct frame_probe {
    static inline std::atomic<int> steps{0};
    static inline std::atomic<int> lines{0};
    static inline int cycles_per_step = 1;
    static int step(int *cycles) {
        steps++;
        *cycles = cycles_per_step;
        return 0;
    }
    static int32_t update() {
        int line = ++lines;
        return line % VDC_HEIGHT == 0 ? 0 : 1;
    }
    static void reset(int cycles) {
        steps = 0;
        lines = 0;
        cycles_per_step = cycles;
        video->update = update;
    }
};

class HostFrame : public SdlScreen {
  protected:
    void SetUp() override {
        open_screen(false);
        speed = 1;
    }
    void TearDown() override {
        speed = 1;
        log_verbosity(0);
        SdlScreen::TearDown();
    }
};

TEST_F(HostFrame, ScanlineBudgetFollowsSpeedAndPeriod) {
    struct {
        int speed;
        uint32_t interval;
        int budget;
    } cases[] = {{1, 20, 89}, {1, 40, 178}, {1, 30, 133}, {2, 20, 178}, {4, 20, 357}};
    for (const auto &c : cases) {
        frame_probe::reset(1);
        speed = c.speed;
        EXPECT_EQ(c.interval, sys_sdl_run_cb(c.interval, frame_probe::step));
        EXPECT_EQ(VDC_HEIGHT, frame_probe::lines.load());
        EXPECT_EQ(c.budget * VDC_HEIGHT, frame_probe::steps.load())
            << "speed " << c.speed << " interval " << c.interval;
    }
}

TEST_F(HostFrame, OvershootOfALineIsNotCarried) {
    frame_probe::reset(7); // 13 steps of 7 cover 89 cycles, 91 run
    sys_sdl_run_cb(20, frame_probe::step);
    EXPECT_EQ(13 * VDC_HEIGHT, frame_probe::steps.load());
}

TEST_F(HostFrame, StepWithoutCyclesEndsItsLineInsteadOfHanging) {
    frame_probe::reset(0);
    sys_sdl_run_cb(20, frame_probe::step);
    EXPECT_EQ(VDC_HEIGHT, frame_probe::steps.load());
    EXPECT_EQ(VDC_HEIGHT, frame_probe::lines.load());
}

TEST_F(HostFrame, WithoutVideoOutputAFrameIsStill224Lines) {
    frame_probe::reset(1);
    video->update = nullptr;
    sys_sdl_run_cb(20, frame_probe::step);
    EXPECT_EQ(89 * VDC_HEIGHT, frame_probe::steps.load());
}

// Frames keep to a schedule: a late call-back (SDL's timer thread wakes a
// little after the due time) is made up by a shorter sleep, not added on.
TEST_F(HostFrame, FramesKeepToTheScheduleWhenCalledLate) {
    frame_probe::reset(1);
    SDL_Delay(200); // far off any earlier schedule: a new one starts
    Uint32 start = SDL_GetTicks();
    for (int i = 0; i < 5; i++) {
        sys_sdl_run_cb(40, frame_probe::step);
        SDL_Delay(5); // the late wake-up
    }
    Uint32 elapsed = SDL_GetTicks() - start;
    EXPECT_GE(elapsed, 4u * 40u + 5u); // the fifth frame's sleep ends on schedule
    EXPECT_LE(elapsed, 5u * 40u + 5u + 3u);
}

// Runs two frames more than a second apart, so the second shows the speed.
std::string title_after_two_frames(uint32_t interval) {
    SDL_WM_SetCaption("start", nullptr);
    frame_probe::reset(1);
    sys_sdl_run_cb(interval, frame_probe::step);
    SDL_Delay(1010);
    sys_sdl_run_cb(interval, frame_probe::step);
    char *title = nullptr;
    SDL_WM_GetCaption(&title, nullptr);
    return title ? title : "";
}

TEST_F(HostFrame, TitleShowsSpeedAndNominalFrameRateWhenVerbose) {
    config[CFG_VERBOSITY].value = 1;
    title_after_two_frames(20); // ends whatever measurement earlier frames began
    struct {
        uint32_t interval;
        const char *fps;
    } cases[] = {{20, "50.00"}, {40, "25.00"}, {30, "33.33"}};
    for (const auto &c : cases) {
        std::string title = title_after_two_frames(c.interval);
        std::smatch m;
        ASSERT_TRUE(std::regex_match(
            title, m, std::regex(R"(kestrel \| <F1> for console \| (\d+\.\d{3}) MHz \| (.*) fps)")))
            << title;
        EXPECT_EQ(c.fps, m[2].str());
        // Two frames of cycles (the titled frame of the case before, the
        // first of this one) over a second and a bit.
        double mhz = std::stod(m[1].str());
        EXPECT_GT(mhz, 0.030);
        EXPECT_LT(mhz, 0.080);
    }
}

TEST_F(HostFrame, TitleStaysWhenSilent) {
    config[CFG_VERBOSITY].value = 0;
    EXPECT_EQ("start", title_after_two_frames(20));
}

TEST_F(HostFrame, MeasurementRestartsAfterEachTitle) {
    config[CFG_VERBOSITY].value = 1;
    title_after_two_frames(20);
    SDL_WM_SetCaption("start", nullptr);
    sys_sdl_run_cb(20, frame_probe::step); // starts a new second: no title yet
    char *title = nullptr;
    SDL_WM_GetCaption(&title, nullptr);
    EXPECT_STREQ("start", title);
}

double thread_cpu_ms() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

// Processor time of one whole frame callback (the sleep costs none), as a
// share of the 20 ms period, with the real machine, picture and console.
double frame_share(int frames) {
    double start = thread_cpu_ms();
    for (int i = 0; i < frames; i++)
        sys_sdl_run_cb(20, sys_systemloop);
    return (thread_cpu_ms() - start) / frames / 20.0;
}

TEST_F(HostFrame, WholeFrameAtSpeedOneTakesASmallShareOfThePeriod) {
    std::string image = std::string(KESTREL_RUN_DIR) + "/z5.rom";
    if (std::filesystem::exists(image)) std::filesystem::copy_file(image, "z5.rom");
    mem_init();
    vdc_init();
    via_6522_init();
    cpu_6502_init();
    video->zoom = 1;
    ASSERT_EQ(0, video_sdl_init());
    ASSERT_EQ(0, SDLCON_Init());
    frame_share(5); // past the start-up
    double hidden = frame_share(50);
    SDLCON_Show();
    double shown = frame_share(50);
    printf("whole frame at speed 1: %.2f%% of the period, %.2f%% with the console open\n",
           hidden * 100, shown * 100);
    RecordProperty("frame_share_console_hidden", std::to_string(hidden));
    RecordProperty("frame_share_console_open", std::to_string(shown));
    EXPECT_LT(hidden, 0.5); // real time with room to spare
    EXPECT_LT(shown, 0.5);
    video_sdl_finish();
}

int wake_ups_queued() {
    SDL_Event evs[16];
    return SDL_PeepEvents(evs, 16, SDL_PEEKEVENT, SDL_EVENTMASK(SDL_USEREVENT));
}

TEST_F(HostFrame, AtMostOneWakeUpWaitsForTheLoop) {
    frame_probe::reset(1);
    SDL_Event ev = {};
    ev.type = SDL_USEREVENT;
    sys_sdl_event(ev); // the loop has taken any earlier wake-up
    for (int i = 0; i < 4; i++)
        sys_sdl_run_cb(20, frame_probe::step);
    ASSERT_EQ(1, wake_ups_queued()) << "a loop that lags is not flooded";
    ASSERT_EQ(1, SDL_PeepEvents(&ev, 1, SDL_GETEVENT, SDL_EVENTMASK(SDL_USEREVENT)));
    EXPECT_EQ(0, sys_sdl_event(ev));
    sys_sdl_run_cb(20, frame_probe::step);
    EXPECT_EQ(1, wake_ups_queued()) << "the next frame wakes the loop again";
}

// The event loop on the test's thread, the frame timer on SDL's.
class HostLoop : public SdlScreen {
  protected:
    void SetUp() override {
        open_screen(false);
        frame_probe::reset(1);
    }
    // Pushes `events` from another thread once `frames` frames have run.
    std::thread feed_after(int frames, std::vector<SDL_Event> events) {
        return std::thread([frames, events] {
            while (frame_probe::lines.load() < frames * VDC_HEIGHT)
                SDL_Delay(1);
            for (SDL_Event ev : events)
                SDL_PushEvent(&ev);
        });
    }
};

TEST_F(HostLoop, RunsFramesOnTheTimerUntilF10IsReleased) {
    std::thread feeder =
        feed_after(5, {key_event(SDL_KEYDOWN, SDLK_F10), key_event(SDL_KEYUP, SDLK_F10)});
    Uint32 start = SDL_GetTicks();
    EXPECT_EQ(0, sys_sdl_run(frame_probe::step));
    Uint32 elapsed = SDL_GetTicks() - start;
    feeder.join();
    int frames = frame_probe::lines.load() / VDC_HEIGHT;
    EXPECT_GE(frames, 5);
    // Paced: five frames span at least four periods (the timer ticks in 10 ms).
    EXPECT_GE(elapsed, 4u * 20u);
    EXPECT_EQ(nullptr, SDLCON_Console()) << "the loop destroys the console";
    SDL_Delay(60);
    EXPECT_EQ(frames, frame_probe::lines.load() / VDC_HEIGHT) << "no frame after the loop";
}

// On SDL's timer, with one cycle per step: 224 lines of 89 cycles, 50 times
// a second, is 0.997 MHz. Lateness of the timer must not add up, and the
// title must not count a frame more than the time it divides by.
TEST_F(HostLoop, TitleReadsTheScheduledSpeed) {
    config[CFG_VERBOSITY].value = 1;
    SDL_WM_SetCaption("start", nullptr);
    std::thread feeder([] {
        SDL_Delay(2300); // a second to settle the schedule, then a full measurement
        SDL_Event up = key_event(SDL_KEYUP, SDLK_F10);
        SDL_PushEvent(&up);
    });
    sys_sdl_run(frame_probe::step);
    feeder.join();
    config[CFG_VERBOSITY].value = 0;
    char *title = nullptr;
    SDL_WM_GetCaption(&title, nullptr);
    ASSERT_NE(nullptr, title);
    std::smatch m;
    std::string text = title;
    ASSERT_TRUE(std::regex_match(text, m, std::regex(R"(.* \| (\d+\.\d{3}) MHz \| 50\.00 fps)")))
        << text;
    double mhz = std::stod(m[1].str());
    EXPECT_GT(mhz, 0.97) << text;
    EXPECT_LT(mhz, 1.005) << text;
}

TEST_F(HostLoop, WindowCloseEndsTheLoop) {
    SDL_Event close = {};
    close.type = SDL_QUIT;
    std::thread feeder = feed_after(1, {close});
    EXPECT_EQ(0, sys_sdl_run(frame_probe::step));
    feeder.join();
}

// A frame that is still drawing when the loop ends must be finished before
// the loop returns, or main would close the window under it.
std::atomic<bool> in_slow_frame{false};
int32_t slow_update() {
    int line = ++frame_probe::lines;
    if (line % VDC_HEIGHT) return 1;
    in_slow_frame = true;
    SDL_Delay(80);
    in_slow_frame = false;
    return 0;
}

TEST_F(HostLoop, EndingWaitsForTheFrameInProgress) {
    video->update = slow_update;
    std::thread feeder([] {
        while (!in_slow_frame)
            SDL_Delay(1);
        SDL_Event up = key_event(SDL_KEYUP, SDLK_F10);
        SDL_PushEvent(&up);
    });
    sys_sdl_run(frame_probe::step);
    EXPECT_FALSE(in_slow_frame.load());
    feeder.join();
}

TEST_F(HostLoop, MissingFontEndsAtOnceWithoutRunningAFrame) {
    log_verbosity(1);
    remove("kestrel_font_7x14.bmp");
    testing::internal::CaptureStderr();
    EXPECT_EQ(0, sys_sdl_run(frame_probe::step));
    std::string err = testing::internal::GetCapturedStderr();
    log_verbosity(0);
    EXPECT_NE(std::string::npos, err.find("can't create console")) << err;
    SDL_Delay(50);
    EXPECT_EQ(0, frame_probe::steps.load());
}

} // namespace
