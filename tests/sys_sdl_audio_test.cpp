#include "sys_sdl_audio.h"

#include <SDL/SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "ay_8912.h"
#include "log.h"
#include "sys_cfg.h"
#include "sys_core.h"
#include "test_util.h"
#include "via_6522.h"

namespace {

constexpr double RATE = 44100.0;
constexpr int BUFFER_CYCLES = 1024 * AY_CYCLES_PER_FRAME;

std::atomic<int> callbacks{0};

// Stands in the fill slot so the test can pace the machine by the device.
void counting_fill(void *user, uint8_t *stream, int len) {
    ay_8912_callback(user, stream, len);
    callbacks++;
}

void wr(uint8_t reg, uint8_t v) {
    via_6522_write(VIA_BASE + reg, v);
}

void ay_write(uint8_t reg, uint8_t value) {
    wr(VIA_DDRA, 0xFF);
    wr(VIA_IORA, reg);
    wr(VIA_PCR, 0xFF);
    wr(VIA_PCR, 0xDD);
    wr(VIA_IORA, value);
    wr(VIA_PCR, 0xFD);
    wr(VIA_PCR, 0xDD);
}

bool wait_for_callbacks(int count, int timeout_ms = 5000) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (callbacks < count) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

// Left channel of a recorded 16-bit stereo stream, without the silence
// (zeros) the device writes while paused before and after the machine plays.
std::vector<int> left_channel(const std::vector<uint8_t> &raw) {
    std::vector<int> out;
    for (size_t i = 0; i + 3 < raw.size(); i += 4) {
        int16_t l = static_cast<int16_t>(raw[i] | (raw[i + 1] << 8));
        int16_t r = static_cast<int16_t>(raw[i + 2] | (raw[i + 3] << 8));
        EXPECT_EQ(l, r);
        out.push_back(l);
    }
    while (!out.empty() && out.back() == 0)
        out.pop_back();
    size_t lead = 0;
    while (lead < out.size() && out[lead] == 0)
        lead++;
    out.erase(out.begin(), out.begin() + static_cast<long>(lead));
    return out;
}

// Frequency of a two-level square wave: half waves between the first and
// the last level change.
double measured_frequency(const std::vector<int> &s) {
    int lo = *std::min_element(s.begin(), s.end());
    int hi = *std::max_element(s.begin(), s.end());
    int mid = (lo + hi) / 2;
    long first = -1, last = -1, changes = 0;
    for (size_t i = 1; i < s.size(); i++) {
        if ((s[i] > mid) != (s[i - 1] > mid)) {
            if (first < 0) first = static_cast<long>(i);
            last = static_cast<long>(i);
            changes++;
        }
    }
    if (changes < 3) return 0;
    return (changes - 1) / 2.0 / ((last - first) / RATE);
}

struct Audio : ::testing::Test {
    TempDir dir;
    void SetUp() override {
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", "out.raw", 1);
        setenv("SDL_DISKAUDIODELAY", "10", 1); // a buffer every 10 ms: faster than real time
        sys_cfg_defaults();
        sys_apply_config();
        speed = 1;
        ASSERT_EQ(0, via_6522_init());
        audio->fill = counting_fill;
        callbacks = 0;
    }
    void TearDown() override {
        audio_sdl_finish();
        SDL_QuitSubSystem(SDL_INIT_AUDIO); // the next test opens the device afresh
        sys_cfg_defaults();
        sys_apply_config();
        log_verbosity(0);
    }
    // Opens the device and runs the machine one buffer's worth of cycles per
    // callback, holding the audio lock so a buffer never splits a batch.
    void record(int buffers, void (*program)()) {
        audio->paused = 0;
        ASSERT_EQ(0, audio_sdl_init());
        audio_sdl_lock();
        program();
        audio_sdl_unlock();
        for (int done = 0; done < buffers; done++) {
            ASSERT_TRUE(wait_for_callbacks(done + 1));
            audio_sdl_lock();
            via_6522_run(BUFFER_CYCLES);
            audio_sdl_unlock();
        }
        audio_sdl_finish();
    }
};

using SysSdlAudioStream = Audio;
using SysSdlAudioControl = Audio;

TEST_F(SysSdlAudioStream, ToneRecordsAtItsPeriodFrequency) {
    record(100, [] {
        ay_write(0, 100); // period 100: 1600 cycles per wave
        ay_write(1, 0);
        ay_write(8, 15);
        ay_write(7, 0x3E);
    });
    std::vector<int> s = left_channel(read_file("out.raw"));
    ASSERT_GT(s.size(), 90u * 1024);
    double expected = RATE * AY_CYCLES_PER_FRAME / (16 * 100);
    EXPECT_NEAR(expected, measured_frequency(s), expected * 0.01);
}

TEST_F(SysSdlAudioStream, TimerOneSpeakerRecordsAtItsLatchFrequency) {
    record(100, [] {
        wr(VIA_DDRB, 0xFF);
        wr(VIA_ACR, 0xC0);
        wr(VIA_T1C_L, 0xE7);
        wr(VIA_T1C_H, 0x03); // latch 999: PB7 inverts every 1000 cycles
    });
    std::vector<int> s = left_channel(read_file("out.raw"));
    ASSERT_GT(s.size(), 90u * 1024);
    double expected = RATE * AY_CYCLES_PER_FRAME / (2 * 1000);
    EXPECT_NEAR(expected, measured_frequency(s), expected * 0.01);
}

TEST_F(SysSdlAudioControl, SoundOffOpensNoDeviceAndCannotBeTurnedOn) {
    sound = 0;
    audio->paused = 1;
    EXPECT_EQ(0, audio_sdl_init());
    EXPECT_NE(nullptr, audio->lock);
    EXPECT_NE(nullptr, audio->unpause);
    audio->unpause();
    EXPECT_EQ(1u, audio->paused.load());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(0, callbacks);
    EXPECT_FALSE(std::filesystem::exists("out.raw"));
}

TEST_F(SysSdlAudioControl, OpenFailureIsReportedAndTheMachineRunsOnSilently) {
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    log_verbosity(1);
    audio->paused = 0;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(1, audio_sdl_init());
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, err.find("SDL_OpenAudio failed")) << err;
    EXPECT_EQ(0, sound);
    audio->unpause();
    EXPECT_EQ(1u, audio->paused.load()) << "nothing will play the queues: writes apply at once";
    ay_write(8, 15);
    audio->lock();
    audio->unlock();
    EXPECT_EQ(0, audio_sdl_finish());
    EXPECT_EQ(0, callbacks);
}

TEST_F(SysSdlAudioControl, SecondLockIsHarmlessAndOneUnlockReleases) {
    audio->paused = 0;
    ASSERT_EQ(0, audio_sdl_init());
    ASSERT_TRUE(wait_for_callbacks(2));
    audio_sdl_lock();
    audio_sdl_lock();
    int held = callbacks;
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(held, callbacks) << "the callback must wait while the lock is held";
    audio_sdl_unlock();
    EXPECT_TRUE(wait_for_callbacks(held + 3, 2000)) << "one unlock must release the device";
    audio_sdl_unlock(); // unpaired: nothing happens
    EXPECT_TRUE(wait_for_callbacks(held + 4, 2000));
}

TEST_F(SysSdlAudioControl, PauseStopsTheCallbackAndWritesApplyAtOnce) {
    audio->paused = 0;
    ASSERT_EQ(0, audio_sdl_init());
    ASSERT_TRUE(wait_for_callbacks(2));
    audio->pause();
    EXPECT_EQ(1u, audio->paused.load());
    std::this_thread::sleep_for(std::chrono::milliseconds(30)); // one call may be in flight
    int held = callbacks;
    for (int i = 0; i < AY_WRITE_QUEUE + 10; i++)
        ay_write(8, 15); // would overflow a queue
    ay_write(7, 0x3F);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(held, callbacks);
    audio->unpause();
    EXPECT_EQ(0u, audio->paused.load());
    ASSERT_TRUE(wait_for_callbacks(held + 2, 2000));
    audio_sdl_finish();
    std::vector<int> s = left_channel(read_file("out.raw"));
    ASSERT_FALSE(s.empty());
    EXPECT_EQ(-32768 + 16383, s.back());
}

} // namespace
