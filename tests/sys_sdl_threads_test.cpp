// The three threads on SDL's own clock: the event loop takes keys and console
// commands from another thread (the monitor stops, steps and resumes the
// machine), the timer thread runs our ROM (its keyboard
// scan drives the sound chip), the audio thread plays. TSan proves the locks.
#include <atomic>
#include <filesystem>
#include <thread>

#include "ay_8912.h"
#include "cpu_6502.h"
#include "mem.h"
#include "sys_sdl_audio.h"
#include "sys_sdl_fixture.h"
#include "sys_sdl_video.h"
#include "via_6522.h"

// SDL's timer starts its thread before it creates the mutex that thread
// locks: a fault of the library's start-up, not of ours.
extern "C" const char *__tsan_default_suppressions() {
    return "race:SDL_CreateMutex\n";
}

static std::atomic<int> frames;
static std::atomic<bool> quit, last_done;
static int32_t (*window_update)();

static void wait_frames(int n) {
    for (int until = frames + n; frames < until;)
        SDL_Delay(1);
}

static void tap(SDLKey sym, Uint16 unicode = 0) {
    for (Uint8 type : {SDL_KEYDOWN, SDL_KEYUP})
        for (SDL_Event ev = key_event(type, sym, KMOD_NONE, unicode); SDL_PushEvent(&ev);)
            SDL_Delay(1); // SDL's queue is short: wait for room
}

TEST(HostThreads, CommandsKeysFramesAndSoundTogether) {
    TempDir dir;
    ASSERT_TRUE(std::filesystem::copy_file(KESTREL_RUN_DIR "/z5.rom", "z5.rom")) << "no ROM built";
    ASSERT_TRUE(make_font("kestrel_font_7x14.bmp"));
    write_file("data.bin", {0xA5, 0x3C, 0xA5, 0x3C});
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_FALSE(board_init() || sys_sdl_init());
    ASSERT_EQ(0, video_sdl_init());
    window_update = video->update;
    video->update = [] { // the frame that sends F10 still runs as the loop takes it
        const int32_t more = window_update();
        if (more == 0 && ++frames && quit.exchange(false)) {
            SDL_Event up = key_event(SDL_KEYUP, SDLK_F10);
            SDL_PushEvent(&up);
            SDL_Delay(100);
            last_done = true;
        }
        return more;
    };
    audio->paused = 0;
    ASSERT_EQ(0, audio_sdl_init());
    std::thread keys([] {
        for (int round = 0; round < 3; round++) {
            wait_frames(1);
            tap(SDLK_F4); // the console is closed: the charset toggles
            tap(SDLK_F2); // quick state saved and restored between frames
            tap(SDLK_F3);
            tap(SDLK_F9); // warp on: the machine's clock drives the sound
            tap(SDLK_F1);
            // clang-format off
            for (std::string line :
                 {"mnt1 disk.dsk", "exacton", "state save t.state", "exactoff",
                  "state load t.state", "load data.bin a0400", "record r.wav", "soundoff",
                  "save out.bin a0400 l0010", "shot s.png", "soundon", "record off", "exactoff",
                  "umnt1", "p", "s 5", "r", "d", "w a0000 l0100", "c", "wc", "b ac000", "bc",
                  "exacton", "c", "exactoff"})
                // clang-format on
                for (char c : line + "\r")
                    tap(static_cast<SDLKey>(c), c);
            tap(SDLK_ESCAPE);
            tap(SDLK_F9);
            tap(SDLK_F12);
        }
        for (SDL_Event ev; SDL_PeepEvents(&ev, 1, SDL_PEEKEVENT, SDL_KEYEVENTMASK) > 0;)
            SDL_Delay(1); // the loop has taken every key: F10 will not wait in the queue
        quit = true;
    });
    const Uint32 start = SDL_GetTicks();
    EXPECT_EQ(0, sys_sdl_run(sys_systemloop));
    const int ran = frames;
    EXPECT_GE(SDL_GetTicks() - start, (ran - 1) * 20u) << "faster than one frame an interval";
    EXPECT_TRUE(last_done.load()) << "the loop ended during a frame";
    EXPECT_EQ(nullptr, SDLCON_Console()) << "the loop destroys its console";
    keys.join();
    SDL_Delay(50);
    audio_sdl_finish();
    video_sdl_finish();
    sys_sdl_finish();
    EXPECT_EQ(ran, frames.load()) << "a frame ran after the loop ended";
    std::vector<uint8_t> saved = read_file("out.bin");
    saved.resize(4);
    EXPECT_EQ(std::vector<uint8_t>({0xA5, 0x3C, 0xA5, 0x3C}), saved) << "loaded, then saved";
    EXPECT_EQ(143360u, read_file("disk.dsk").size());
    EXPECT_EQ(0, read_text("r.wav").compare(8, 4, "WAVE")) << "recorded while warping";
    EXPECT_EQ(0, read_text("s.png").compare(1, 3, "PNG"));
    EXPECT_TRUE(std::filesystem::exists("kestrel.state") && std::filesystem::exists("t.state"));
}
