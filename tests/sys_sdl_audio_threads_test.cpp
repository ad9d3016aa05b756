// The three threads of the running system around the sound chip: the
// emulation thread queues register writes and speaker changes, the host
// audio thread plays them, the main thread pauses and resumes (console).
#include <SDL/SDL.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "ay_8912.h"
#include "ay_bus.h"
#include "sys_cfg.h"
#include "sys_core.h"
#include "sys_sdl_audio.h"
#include "test_util.h"
#include "via_6522.h"

namespace {

std::atomic<int> callbacks{0};

void counting_fill(void *user, uint8_t *stream, int len) {
    ay_8912_callback(user, stream, len);
    callbacks++;
}

TEST(SysSdlAudioThreads, EmulationAudioAndConsoleShareTheChipWithoutRaces) {
    TempDir dir;
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", "out.raw", 1);
    setenv("SDL_DISKAUDIODELAY", "1", 1);
    sys_cfg_defaults();
    sys_apply_config();
    ASSERT_EQ(0, via_6522_init());
    audio->fill = counting_fill;
    audio->paused = 0;
    ASSERT_EQ(0, audio_sdl_init());

    std::atomic<bool> stop{false};
    std::thread emulation([&] {
        wr(VIA_DDRB, 0xFF);
        wr(VIA_ACR, 0xC0);
        wr(VIA_T1C_L, 0x40);
        wr(VIA_T1C_H, 0x00); // the speaker toggles every 65 cycles by itself
        unsigned n = 0;
        while (!stop) {
            n++;
            ay_write(static_cast<uint8_t>(n % 14), static_cast<uint8_t>(n * 37));
            wr(VIA_IORB, static_cast<uint8_t>(n & 7));
            via_6522_event(event{(n & 1) ? EV_KEY_DOWN : EV_KEY_UP, 97});
            speed = (n % 64 == 0) ? 2 : 1; // now and then the immediate path
            via_6522_run(300);
        }
        speed = 1;
        wr(VIA_ACR, 0x00);
        // Faster than real time the queues overflow; the final levels must survive.
        wr(VIA_IORB, 0x00);
        ay_write(7, 0x3F);
        for (uint8_t r = 8; r <= 10; r++)
            ay_write(r, 0);
    });

    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(800);
    int rounds = 0;
    while (std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        audio->pause();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        audio->unpause();
        rounds++;
    }
    stop = true;
    emulation.join();
    int seen = callbacks;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (callbacks < seen + 3 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_GE(callbacks, seen + 3);
    EXPECT_GT(seen, rounds) << "the device kept playing between pauses";

    // Whatever piled up, the last state wins once the machine goes quiet.
    audio_sdl_lock();
    std::vector<uint8_t> buf(4 * 64);
    ay_8912_callback(nullptr, buf.data(), static_cast<int>(buf.size()));
    ay_8912_callback(nullptr, buf.data(), static_cast<int>(buf.size()));
    audio_sdl_unlock();
    int16_t last;
    memcpy(&last, &buf[4 * 63], 2);
    EXPECT_EQ(-32768, last);
    audio_sdl_finish();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    sys_cfg_defaults();
    sys_apply_config();
}

} // namespace
