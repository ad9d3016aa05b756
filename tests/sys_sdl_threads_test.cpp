// The machine runs on SDL's real timer thread while the event loop on this
// thread handles keys, console commands and F4 that another thread keeps
// sending, and a third thread keeps printing to the console. Run under
// ThreadSanitizer this proves the locking; a watchdog catches a deadlock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "ay_8912.h"
#include "cpu_6502.h"
#include "mem.h"
#include "sys_sdl.h"
#include "sys_sdl_audio.h"
#include "sys_sdl_fixture.h"
#include "sys_sdl_video.h"
#include "via_6522.h"

// SDL's timer starts its thread before it creates the mutex that thread
// locks: a fault of the library's start-up, not of ours.
extern "C" const char *__tsan_default_suppressions() {
    return "race:SDL_CreateMutex\n";
}

namespace {

std::atomic<int> frames{0};
std::atomic<long> steps{0};
int32_t (*real_update)() = nullptr;

int32_t counting_update() {
    int32_t more = real_update();
    if (!more) frames++;
    return more;
}

int counting_step(int *cycles) {
    steps++;
    return sys_systemloop(cycles);
}

// SDL's queue holds a limited number of events: wait for room.
void send(SDL_Event ev) {
    while (SDL_PushEvent(&ev) != 0)
        SDL_Delay(1);
}

void tap(SDLKey sym, Uint16 unicode = 0) {
    send(key_event(SDL_KEYDOWN, sym, KMOD_NONE, unicode));
    SDL_Delay(1);
    send(key_event(SDL_KEYUP, sym));
}

void type_line(const char *text) {
    for (const char *p = text; *p; p++)
        tap(static_cast<SDLKey>(*p), static_cast<Uint8>(*p));
    tap(SDLK_RETURN, '\r');
}

void wait_for_frames(int n) {
    int target = frames.load() + n;
    while (frames.load() < target)
        SDL_Delay(1);
}

class HostThreads : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        sys_cfg_defaults();
        sys_apply_config();
        sys_queue_reset();
        ASSERT_TRUE(make_font("kestrel_font_7x14.bmp"));
        // The order main uses.
        mem_init();
        vdc_init();
        via_6522_init();
        cpu_6502_init();
        ASSERT_EQ(0, sys_sdl_init());
        video->zoom = zoom;
        ASSERT_EQ(0, video_sdl_init());
        real_update = video->update;
        video->update = counting_update;
        audio->paused = 0;
        audio_sdl_init();
    }
    void TearDown() override {
        audio_sdl_finish();
        video_sdl_finish();
        sys_sdl_finish();
    }
    TempDir dir;
};

TEST_F(HostThreads, CommandsKeysAndPrintingWhileFramesRun) {
    constexpr int rounds = 12;
    int charset_before = config[CFG_CHARSET].value;
    std::atomic<bool> done{false};

    // Fails the run instead of hanging when the loop never returns.
    std::mutex m;
    std::condition_variable cv;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> hold(m);
        if (!cv.wait_for(hold, std::chrono::seconds(240), [&] { return done.load(); })) {
            fprintf(stderr, "deadlock: the event loop did not end\n");
            std::abort();
        }
    });

    std::thread printer([&] {
        for (int i = 0; !done; i++) {
            sys_sdl_log("printed %d%%", i);
            SDLCON_Log("%s", "log line");
            SDL_Delay(1);
        }
    });

    write_file("data.bin", {0xA5, 0x3C, 0xA5, 0x3C});
    write_file("some.tap", {0x16, 0x16, 0x16, 0x24});
    std::thread keys([&] {
        wait_for_frames(2);
        for (int i = 0; i < rounds; i++) {
            tap(SDLK_F4); // console closed: toggles the charset
            tap(SDLK_F1);
            type_line("dump");
            type_line("soundoff");
            type_line("soundon");
            type_line(i % 2 ? "?" : "?keys");
            type_line("load data.bin a0400");
            type_line("mnt1 disk.dsk");
            type_line("tape some.tap");
            type_line("save out.bin a0400 l0010");
            type_line("umnt1");
            tap(SDLK_ESCAPE);
            tap(SDLK_F6);
            tap(SDLK_F5);
            tap(SDLK_F8);
            tap(SDLK_F7);
            wait_for_frames(1);
        }
        tap(SDLK_F12);
        wait_for_frames(2);
        tap(SDLK_F10);
    });

    EXPECT_EQ(0, sys_sdl_run(counting_step));
    int frames_at_end = frames.load();
    {
        std::lock_guard<std::mutex> hold(m);
        done = true;
    }
    cv.notify_one();
    keys.join();
    printer.join();
    watchdog.join();

    EXPECT_GE(frames_at_end, rounds + 4);
    EXPECT_GT(steps.load(), 0);
    EXPECT_EQ(65536u, read_file("kestrel_ram.bin").size());
    EXPECT_EQ(16u, read_file("out.bin").size());
    EXPECT_EQ(143360u, read_file("disk.dsk").size());
    EXPECT_EQ(charset_before ^ (rounds % 2), config[CFG_CHARSET].value);
    EXPECT_EQ(1, speed.load()); // every speed-up was followed by a speed-down
    SDL_Delay(50);
    EXPECT_EQ(frames_at_end, frames.load()) << "a frame ran after the loop ended";
}

} // namespace
