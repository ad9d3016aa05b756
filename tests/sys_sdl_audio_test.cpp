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
#include "ay_bus.h"
#include "cpu_6502.h"
#include "log.h"
#include "mem.h"
#include "ram.h"
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
    // Opens the device and, after each callback, runs the machine for one
    // buffer's worth of cycles: the pace the frame timer keeps in the program.
    // The host lock is held around each batch (it nests) so that a callback
    // never splits one.
    void record(int buffers, void (*setup)(), void (*batch)()) {
        audio->paused = 0;
        ASSERT_EQ(0, audio_sdl_init());
        SDL_LockAudio();
        setup();
        SDL_UnlockAudio();
        for (int done = 0; done < buffers; done++) {
            ASSERT_TRUE(wait_for_callbacks(done + 1));
            SDL_LockAudio();
            batch();
            SDL_UnlockAudio();
        }
        audio_sdl_finish();
    }
    // The recording is one steady tone of `expected` Hz, within 1 %.
    void expect_recorded_frequency(double expected) {
        std::vector<int> s = left_channel(read_file("out.raw"));
        ASSERT_GT(s.size(), 90u * 1024);
        EXPECT_NEAR(expected, measured_frequency(s), expected * 0.01);
    }
};

void run_via() {
    via_6522_run(BUFFER_CYCLES);
}

// The processor runs whole instructions; what one batch overshoots, the next
// one leaves out.
long cpu_debt;
void run_cpu() {
    while (cpu_debt < BUFFER_CYCLES) {
        int n = 0;
        sys_systemloop(&n);
        cpu_debt += n;
    }
    cpu_debt -= BUFFER_CYCLES;
}

void load_program(std::vector<uint8_t> program) {
    mem_init();
    mem_write(0x0381, 0); // the reset vector from the RAM under the ROM
    ram_write(0xFFFC, 0x00);
    ram_write(0xFFFD, 0x04);
    for (size_t i = 0; i < program.size(); i++)
        ram_write(0x0400 + static_cast<unsigned>(i), program[i]);
    cpu_6502_init();
    cpu_debt = 0;
}

using SysSdlAudioStream = Audio;
using SysSdlAudioControl = Audio;

TEST_F(SysSdlAudioStream, ToneRecordsAtItsPeriodFrequency) {
    record(
        100,
        [] {
            ay_write(0, 37); // period 37: 592 cycles per wave
            ay_write(1, 0);
            ay_write(8, 15);
            ay_write(7, 0x3E);
        },
        run_via);
    expect_recorded_frequency(RATE * AY_CYCLES_PER_FRAME / (16 * 37));
}

TEST_F(SysSdlAudioStream, ToneSetByAProgramRecordsAtItsPeriodFrequency) {
    record(
        100,
        [] {
            // For each of four (register, value) pairs: latch, then write.
            load_program({
                0xA9, 0xFF,             // LDA #$FF
                0x8D, 0x03, 0x03,       // STA DDRA
                0xA2, 0x00,             // LDX #0
                0xBD, 0x30, 0x04,       // next: LDA regs,X
                0x8D, 0x01, 0x03,       // STA IORA
                0xA9, 0xFF,             // LDA #$FF
                0x8D, 0x0C, 0x03,       // STA PCR: latch address
                0xA9, 0xDD,             // LDA #$DD
                0x8D, 0x0C, 0x03,       // STA PCR: idle
                0xBD, 0x34, 0x04,       // LDA vals,X
                0x8D, 0x01, 0x03,       // STA IORA
                0xA9, 0xFD,             // LDA #$FD
                0x8D, 0x0C, 0x03,       // STA PCR: write
                0xA9, 0xDD,             // LDA #$DD
                0x8D, 0x0C, 0x03,       // STA PCR: idle
                0xE8,                   // INX
                0xE0, 0x04,             // CPX #4
                0xD0, 0xDB,             // BNE next
                0x4C, 0x2C, 0x04,       // JMP *
                0x00,                   // padding to $0430
                0x00, 0x01, 0x08, 0x07, // regs
                0x64, 0x00, 0x0F, 0x3E, // vals: period 100, amplitude 15, tone A only
            });
        },
        run_cpu);
    expect_recorded_frequency(RATE * AY_CYCLES_PER_FRAME / (16 * 100));
}

TEST_F(SysSdlAudioStream, TimerOneSpeakerRecordsAtItsLatchFrequency) {
    record(
        100,
        [] {
            wr(VIA_DDRB, 0xFF);
            wr(VIA_ACR, 0xC0);
            wr(VIA_T1C_L, 0xE7);
            wr(VIA_T1C_H, 0x03); // latch 999: PB7 inverts every 1000 cycles
        },
        run_via);
    expect_recorded_frequency(RATE * AY_CYCLES_PER_FRAME / (2 * 1000));
}

TEST_F(SysSdlAudioStream, SpeakerToggledByAProgramsTimerRecordsAtItsLatchFrequency) {
    record(
        100,
        [] {
            load_program({
                0xA9, 0xFF,       // LDA #$FF
                0x8D, 0x02, 0x03, // STA DDRB
                0xA9, 0xC0,       // LDA #$C0
                0x8D, 0x0B, 0x03, // STA ACR: free-running, PB7 output
                0xA9, 0x56,       // LDA #$56
                0x8D, 0x04, 0x03, // STA T1C_L
                0xA9, 0x02,       // LDA #$02
                0x8D, 0x05, 0x03, // STA T1C_H: latch 598
                0x4C, 0x14, 0x04, // JMP *
            });
        },
        run_cpu);
    expect_recorded_frequency(RATE * AY_CYCLES_PER_FRAME / (2 * 599));
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
