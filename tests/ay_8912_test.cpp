#include "ay_8912.h"

#include <SDL/SDL_keysym.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ay_bus.h"
#include "log.h"
#include "sys_cfg.h"
#include "sys_core.h"
#include "test_util.h"
#include "via_6522.h"

namespace {

constexpr int SILENT = -32768;
constexpr int FULL = 16383; // one channel at amplitude 15

// Amplitude levels as the chip outputs them, for expected values.
constexpr int level_of[16] = {0,    128,  207,  309,  480,  809,   1231,  2277,
                              2586, 4469, 6170, 7610, 9711, 11817, 14100, 16383};

uint8_t ay_read(uint8_t reg) {
    wr(VIA_DDRA, 0xFF);
    wr(VIA_IORA, reg);
    wr(VIA_PCR, 0xFF);
    wr(VIA_DDRA, 0x00); // the bus must be an input before the chip drives it
    wr(VIA_PCR, 0xDF);  // BDIR falls with BC1 high: read
    uint8_t v = rd(VIA_IORA);
    wr(VIA_PCR, 0xDD);
    return v;
}

// Row select on port B bits 0-2, column mask on the data bus; bit 3 senses.
bool key_sensed(int row, uint8_t columns_low) {
    wr(VIA_DDRA, 0xFF);
    wr(VIA_IORA, columns_low);
    wr(VIA_DDRB, 0xF7);
    wr(VIA_IORB, static_cast<uint8_t>(row));
    return rd(VIA_IORB) & 0x08;
}

void key(int32_t code, uint64_t sym) {
    via_6522_event(event{code, sym});
}

// One callback of `frames` frames; left and right must agree.
std::vector<int> play(int frames) {
    std::vector<uint8_t> buf(static_cast<size_t>(frames) * 4);
    audio->fill(nullptr, buf.data(), static_cast<int>(buf.size()));
    std::vector<int> left;
    for (int f = 0; f < frames; f++) {
        int16_t l, r;
        memcpy(&l, &buf[4 * f], 2);
        memcpy(&r, &buf[4 * f + 2], 2);
        EXPECT_EQ(l, r) << "frame " << f;
        left.push_back(l);
    }
    return left;
}

struct Ay : ::testing::Test {
    void SetUp() override {
        sys_cfg_defaults();
        speed = 1;
        ASSERT_EQ(0, via_6522_init());
    }
    void TearDown() override {
        tr[0] = tr[1] = 0;
        log_info_hook(nullptr);
        log_verbosity(0);
        speed = 1;
        sys_cfg_defaults();
    }
};

using Ay8912Bus = Ay;
using Ay8912Keyboard = Ay;
using Ay8912Speaker = Ay;
using Ay8912Synthesis = Ay;
using Ay8912Timeline = Ay;

// ---- bus ----

TEST_F(Ay8912Bus, WrittenRegistersReadBackAllEightBits) {
    for (uint8_t r = 0; r <= 14; r++)
        ay_write(r, static_cast<uint8_t>(0xA0 + r * 3));
    for (uint8_t r = 0; r <= 14; r++)
        EXPECT_EQ(0xA0 + r * 3, ay_read(r)) << int(r);
    ay_write(1, 0x1F);
    EXPECT_EQ(0x1F, ay_read(1));
}

TEST_F(Ay8912Bus, EnvelopeShapeFFLeavesTheReadBackAlone) {
    ay_write(13, 0x0A);
    ay_write(13, 0xFF);
    EXPECT_EQ(0x0A, ay_read(13));
}

TEST_F(Ay8912Bus, RegistersAboveFourteenReadZeroAndIgnoreWrites) {
    ay_write(15, 0x77);
    EXPECT_EQ(0x00, ay_read(15));
    EXPECT_EQ(0x00, ay_read(0x80));
    for (uint8_t r = 0; r <= 14; r++)
        EXPECT_EQ(0, ay_read(r));
}

TEST_F(Ay8912Bus, Bc1AloneStartsNoCycle) {
    ay_write(2, 0x11);  // leaves register 2 latched
    wr(VIA_DDRA, 0x00); // the bus floats high
    wr(VIA_PCR, 0xDF);  // only CA2 (BC1) rises: no read
    EXPECT_EQ(0xFF, rd(VIA_IORA));
    wr(VIA_PCR, 0xDD);
    wr(VIA_DDRA, 0xFF);
    wr(VIA_IORA, 5);
    wr(VIA_PCR, 0xDF); // no latch either
    wr(VIA_PCR, 0xDD);
    wr(VIA_IORA, 0x99);
    wr(VIA_PCR, 0xFD); // the write goes to register 2
    wr(VIA_PCR, 0xDD);
    EXPECT_EQ(0x99, ay_read(2));
    EXPECT_EQ(0x00, ay_read(5));
}

TEST_F(Ay8912Bus, OnlyABdirChangeStartsAnOperation) {
    ay_write(3, 0x42);
    wr(VIA_DDRA, 0xFF);
    wr(VIA_IORA, 3);
    wr(VIA_PCR, 0xFF); // latch
    wr(VIA_IORA, 0x24);
    wr(VIA_PCR, 0xFD); // BC1 falls, BDIR stays 1: no write
    wr(VIA_PCR, 0xDD);
    EXPECT_EQ(0x42, ay_read(3));
}

TEST_F(Ay8912Bus, TraceShowsTheDataBusAndAppliedWrites) {
    wr(VIA_DDRA, 0xFF);
    wr(VIA_DDRB, 0xFF);
    speed = 2; // applied at once, so the write shows here
    log_verbosity(1);
    log_info_hook(keep_log_line);
    tr[0] = TR_MASTER;
    tr[1] = TR_AY;
    wr(VIA_IORA, 0x08);
    wr(VIA_PCR, 0xFF);
    wr(VIA_PCR, 0xDD);
    wr(VIA_IORA, 0x0F);
    wr(VIA_PCR, 0xFD);
    wr(VIA_IORB, 0x81);
    std::vector<std::string> expected = {
        "ay_8912_porta_w| 08", "ay_8912_porta_w| 0F", "ay_8912_dowrite| 08 : 0F",
        "speaker=1",           "ay_8912_portb_w| 81",
    };
    EXPECT_EQ(expected, logged);
}

// ---- keyboard ----

TEST_F(Ay8912Keyboard, KeyTableMatchesTheMatrix) {
    const int32_t expected[8][8] = {
        {SDLK_7, SDLK_n, SDLK_5, SDLK_v, SDLK_RCTRL, SDLK_1, SDLK_x, SDLK_3},
        {SDLK_j, SDLK_t, SDLK_r, SDLK_f, 0, SDLK_ESCAPE, SDLK_q, SDLK_d},
        {SDLK_m, SDLK_6, SDLK_b, SDLK_4, SDLK_LCTRL, SDLK_z, SDLK_2, SDLK_c},
        {SDLK_k, SDLK_9, SDLK_SEMICOLON, SDLK_MINUS, 0, SDLK_SCROLLOCK, SDLK_BACKSLASH, SDLK_QUOTE},
        {SDLK_SPACE, SDLK_COMMA, SDLK_PERIOD, SDLK_UP, SDLK_LSHIFT, SDLK_LEFT, SDLK_DOWN,
         SDLK_RIGHT},
        {SDLK_u, SDLK_i, SDLK_o, SDLK_p, SDLK_LALT, SDLK_BACKSPACE, SDLK_RIGHTBRACKET,
         SDLK_LEFTBRACKET},
        {SDLK_y, SDLK_h, SDLK_g, SDLK_e, SDLK_RALT, SDLK_a, SDLK_s, SDLK_w},
        {SDLK_8, SDLK_l, SDLK_0, SDLK_SLASH, SDLK_RSHIFT, SDLK_RETURN, SDLK_BACKQUOTE, SDLK_EQUALS},
    };
    for (int i = 0; i < 64; i++)
        EXPECT_EQ(expected[i >> 3][i & 7], keytab[i]) << i;
}

TEST_F(Ay8912Keyboard, EveryKeySensesOnlyAtItsRowAndColumn) {
    for (int i = 0; i < 64; i++) {
        if (keytab[i] == 0) continue;
        key(EV_KEY_DOWN, static_cast<uint64_t>(keytab[i]));
        for (int row = 0; row < 8; row++) {
            for (int col = 0; col < 8; col++) {
                bool hit = key_sensed(row, static_cast<uint8_t>(~(1 << col)));
                ASSERT_EQ(row * 8 + col == i, hit) << "key " << i << " at " << row << "," << col;
            }
        }
        key(EV_KEY_UP, static_cast<uint64_t>(keytab[i]));
        for (int row = 0; row < 8; row++)
            ASSERT_FALSE(key_sensed(row, 0x00));
    }
}

TEST_F(Ay8912Keyboard, HeldKeySensesOnlyWithItsColumnLow) {
    for (int row = 0; row < 8; row++)
        EXPECT_FALSE(key_sensed(row, 0x00));
    key(EV_KEY_DOWN, SDLK_a);
    EXPECT_TRUE(key_sensed(6, 0xDF));
    EXPECT_FALSE(key_sensed(6, 0xFF));
    EXPECT_FALSE(key_sensed(6, 0xBF)) << "another column";
    EXPECT_FALSE(key_sensed(5, 0xDF));
    wr(VIA_DDRB, 0xFF); // bit 3 as an output reads the output register instead
    EXPECT_EQ(0x05, rd(VIA_IORB)) << "row 5 from the last scan, no sense bit";
}

TEST_F(Ay8912Keyboard, PressingTwiceAndReleasingOnceReleases) {
    key(EV_KEY_DOWN, SDLK_RETURN);
    key(EV_KEY_DOWN, SDLK_RETURN);
    EXPECT_TRUE(key_sensed(7, 0xDF));
    key(EV_KEY_UP, SDLK_RETURN);
    EXPECT_FALSE(key_sensed(7, 0xDF));
}

TEST_F(Ay8912Keyboard, UnknownKeysAndOtherEventsChangeNothing) {
    key(EV_KEY_DOWN, SDLK_F5);
    key(EV_ZOOM_IN, SDLK_a);
    key(EV_KEY_DOWN, 0x100000000ull + SDLK_a); // not a key symbol
    for (int row = 0; row < 8; row++)
        EXPECT_FALSE(key_sensed(row, 0x00)) << row;
    key(EV_KEY_DOWN, 0); // matches the first empty cell
    EXPECT_TRUE(key_sensed(1, 0xEF));
    EXPECT_FALSE(key_sensed(3, 0xEF));
}

// ---- synthesis, driven through the bus and read from the callback ----

TEST_F(Ay8912Synthesis, SilentChipGivesZeroThenMinimum) {
    std::vector<int> out = play(1024);
    EXPECT_EQ(0, out[0]);
    EXPECT_EQ(1023, std::count(out.begin() + 1, out.end(), SILENT));
}

TEST_F(Ay8912Synthesis, ToneInvertsEveryEightPeriodCyclesSampledEvery22) {
    ay_write(8, 15);
    ay_write(0, 1);
    ay_write(1, 0x10); // only the low nibble of R1 counts: period 1
    ay_write(7, 0x3E); // tone A on, every noise off
    std::vector<int> out = play(200);
    for (int f = 1; f < 200; f++) {
        int tone = ((22 * f) / 8) & 1;
        ASSERT_EQ(SILENT + tone * FULL, out[f]) << "frame " << f;
    }
    ay_write(7, 0x3F); // both sources off: the channel is always on
    out = play(50);
    for (int f = 0; f < 50; f++)
        ASSERT_EQ(SILENT + FULL, out[f]) << f;
}

TEST_F(Ay8912Synthesis, ZeroToneRegisterInvertsEveryCycle) {
    ay_write(9, 15);
    ay_write(7, 0x3D); // tone B on, period register 0
    std::vector<int> out = play(100);
    // 22 inversions per frame: back where it started at every sample.
    for (int f = 1; f < 100; f++)
        ASSERT_EQ(SILENT, out[f]) << f;
    ay_write(2, 1); // period 1 is a different wave: 8 cycles per half
    out = play(20);
    EXPECT_GT(std::count(out.begin(), out.end(), SILENT + FULL), 5);
}

TEST_F(Ay8912Synthesis, ThreeChannelsAndTheSpeakerAdd) {
    wr(VIA_DDRB, 0xFF);
    ay_write(7, 0x3F);
    ay_write(8, 15);
    ay_write(9, 15);
    ay_write(10, 15);
    EXPECT_EQ(SILENT + 3 * FULL, play(3)[2]);
    ay_write(9, 4);
    ay_write(10, 0x0F | 0xE0); // bits above the envelope bit are ignored
    EXPECT_EQ(SILENT + 2 * FULL + level_of[4], play(3)[2]);
    wr(VIA_IORB, 0x80);
    EXPECT_EQ(SILENT + 2 * FULL + level_of[4] + AY_SPEAKER_LEVEL, play(3)[2]);
}

TEST_F(Ay8912Synthesis, EnvelopeDecaysOneStepPerSixteenPeriodCyclesThenHolds) {
    ay_write(11, 11); // 176 cycles per step: 8 frames
    ay_write(12, 0);
    ay_write(7, 0x3F);
    ay_write(8, 0x10);
    ay_write(13, 0x00);
    std::vector<int> out = play(200);
    for (int f = 1; f < 200; f++) {
        int level = std::max(15 - f / 8, 0);
        ASSERT_EQ(SILENT + level_of[level], out[f]) << "frame " << f;
    }
}

TEST_F(Ay8912Synthesis, EnvelopeShapesFollowTheirTables) {
    struct shape {
        uint8_t r13;
        std::vector<int> levels; // per step, from the write on
    };
    std::vector<int> down, up;
    for (int i = 15; i >= 0; i--)
        down.push_back(i);
    for (int i = 0; i <= 15; i++)
        up.push_back(i);
    auto cat = [](std::vector<int> a, const std::vector<int> &b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const std::vector<int> zeros(16, 0), fifteens(16, 15);
    const shape shapes[] = {
        {0x00, cat(down, zeros)},    {0x09, cat(down, zeros)}, {0x04, cat(up, zeros)},
        {0x0F, cat(up, zeros)},      {0x08, cat(down, down)},  {0x0A, cat(down, up)},
        {0x0B, cat(down, fifteens)}, {0x0C, cat(up, up)},      {0x0D, cat(up, fifteens)},
        {0x0E, cat(up, down)},
    };
    for (const shape &s : shapes) {
        SCOPED_TRACE(int(s.r13));
        ASSERT_EQ(0, via_6522_init());
        ay_write(11, 11);
        ay_write(7, 0x3F);
        ay_write(8, 0x10);
        ay_write(13, s.r13);
        std::vector<int> out = play(8 * 32);
        for (int step = 1; step < 32; step++) {
            ASSERT_EQ(SILENT + level_of[s.levels[step]], out[8 * step + 1]) << "step " << step;
        }
    }
}

TEST_F(Ay8912Synthesis, ShapeFFChangesNeitherShapeNorStep) {
    ay_write(11, 11);
    ay_write(7, 0x3F);
    ay_write(8, 0x10);
    ay_write(13, 0x08);
    std::vector<int> before = play(44); // five steps down
    ay_write(13, 0xFF);
    std::vector<int> after = play(8 * 16);
    EXPECT_EQ(SILENT + level_of[10], before[43]);
    EXPECT_EQ(SILENT + level_of[10], after[0]) << "not restarted";
    EXPECT_EQ(SILENT + level_of[15], after[8 * 10 + 4]) << "still the repeating saw";
}

TEST_F(Ay8912Synthesis, NoiseChangesOnlyAtItsSteps) {
    ay_write(6, 0x1F); // 248 cycles per step
    ay_write(8, 15);
    ay_write(7, 0x37); // noise A only
    std::vector<int> out = play(1024);
    int changes = 0;
    for (int f = 2; f < 1024; f++) {
        if (out[f] == out[f - 1]) continue;
        changes++;
        bool stepped = (22 * f) / 248 != (22 * (f - 1)) / 248;
        ASSERT_TRUE(stepped) << "frame " << f;
        ASSERT_TRUE(out[f] == SILENT || out[f] == SILENT + FULL);
    }
    EXPECT_GT(changes, 10);
}

TEST_F(Ay8912Synthesis, NoiseFollowsTheSeventeenBitShiftRegister) {
    ay_write(6, 0); // a step every cycle
    ay_write(8, 15);
    ay_write(7, 0x37);
    std::vector<int> out = play(300);
    // The generator: shift right, feedback of bits 0 and 2 into bit 16,
    // the output toggling with every feedback 1; it starts from 1.
    uint32_t shift = 1, level = 0;
    for (int f = 1; f < 300; f++) {
        for (int c = 0; c < AY_CYCLES_PER_FRAME; c++) {
            uint32_t feedback = (shift ^ (shift >> 2)) & 1;
            shift = (shift >> 1) | (feedback << 16);
            level ^= feedback;
        }
        ASSERT_EQ(SILENT + static_cast<int>(level) * FULL, out[f]) << "frame " << f;
    }
}

// ---- timeline ----

TEST_F(Ay8912Timeline, WritesLandAtTheFrameOfTheirCycle) {
    via_6522_run(1000);
    ay_write(7, 0x3F);
    ay_write(8, 15);
    std::vector<int> out = play(100);
    // Stamped at cycle 1000: heard from the frame at cycle 1012 (frame 46).
    EXPECT_EQ(SILENT, out[45]);
    EXPECT_EQ(SILENT + FULL, out[46]);
}

TEST_F(Ay8912Timeline, PausedOrFastMachineAppliesWritesAtOnce) {
    for (int mode = 0; mode < 2; mode++) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(0, via_6522_init());
        if (mode == 0) speed = 2;
        if (mode == 1) audio->paused = 1;
        via_6522_run(1000);
        ay_write(7, 0x3F);
        ay_write(8, 15);
        speed = 1;
        audio->paused = 0;
        std::vector<int> out = play(100);
        EXPECT_EQ(SILENT + FULL, out[1]);
        EXPECT_EQ(SILENT + FULL, out[46]);
    }
}

TEST_F(Ay8912Timeline, ImmediateWriteFlushesTheQueueFirst) {
    ay_write(8, 15); // queued
    speed = 2;
    ay_write(8, 3); // applies the queued write, then this one
    speed = 1;
    ay_write(9, 2); // queued again
    EXPECT_EQ(SILENT + level_of[3] + level_of[2], play(3)[2]);
}

TEST_F(Ay8912Timeline, NextBufferStartsAtCycle22AfterTheCallback) {
    play(1024);
    via_6522_run(5000); // time between a callback and the next write is not counted
    ay_write(7, 0x3F);
    ay_write(8, 15);
    via_6522_run(1000);
    ay_write(8, 0);
    std::vector<int> out = play(100);
    EXPECT_EQ(SILENT + FULL, out[0]) << "stamped 22: the first frame of the buffer";
    EXPECT_EQ(SILENT + FULL, out[45]);
    EXPECT_EQ(SILENT, out[46]) << "stamped 1022: the frame at cycle 1034";
}

TEST_F(Ay8912Timeline, LateWritesApplyAtTheEndOfTheBuffer) {
    via_6522_run(30000); // past the 22528 cycles of one buffer
    ay_write(7, 0x3F);
    ay_write(8, 15);
    std::vector<int> out = play(1024);
    EXPECT_EQ(SILENT, out[1023]);
    EXPECT_EQ(SILENT + FULL, play(2)[0]);
}

TEST_F(Ay8912Timeline, FullWriteQueueKeepsTheFirst12288AndTheLatestValues) {
    ay_write(7, 0x3F);
    for (int i = 1; i < AY_WRITE_QUEUE; i++)
        ay_write(8, 5);
    ay_write(9, 3); // past the end: not in this buffer...
    ay_write(8, 15);
    ay_write(8, 1);
    std::vector<int> out = play(1024);
    EXPECT_EQ(SILENT + level_of[5], out[3]);
    EXPECT_EQ(SILENT + level_of[5], out[1023]);
    out = play(4); // ...but not lost: the last value of each register holds
    EXPECT_EQ(SILENT + level_of[1] + level_of[3], out[0]);
    ay_write(8, 15); // the queue is empty again after the callback
    EXPECT_EQ(SILENT + FULL + level_of[3], play(4)[3]);
}

TEST_F(Ay8912Timeline, OverflowKeepsTheLastRealEnvelopeShape) {
    ay_write(11, 11);
    ay_write(7, 0x3F);
    ay_write(8, 0x10);
    for (int i = 3; i < AY_WRITE_QUEUE; i++)
        ay_write(13, 0x0D); // rising, then holding 15
    ay_write(13, 0x00);     // past the end: falling
    ay_write(13, 0xFF);     // "leave it": must not replace the falling shape
    play(1024);
    std::vector<int> out = play(8 * 4);
    // Restarted at the top of the falling shape (the step clock runs on).
    EXPECT_GE(out[0], SILENT + level_of[14]);
    EXPECT_LT(out[8 * 3 + 1], out[0]) << "still holding: the shape write was lost";
}

TEST_F(Ay8912Timeline, OverflowThenImmediatePathKeepsTheOrder) {
    for (int i = 0; i < AY_WRITE_QUEUE; i++)
        ay_write(8, 5);
    ay_write(8, 9); // overflow
    speed = 2;
    ay_write(9, 2); // queue, then the overflow, then this write
    speed = 1;
    EXPECT_EQ(SILENT + level_of[9] + level_of[2], play(4)[1]);
}

TEST_F(Ay8912Timeline, ShortLengthsFillWholeFramesOnly) {
    ay_write(7, 0x3F);
    ay_write(8, 15);
    std::vector<uint8_t> buf(4 * 3 + 3, 0xAB);
    audio->fill(nullptr, buf.data(), static_cast<int>(buf.size()));
    EXPECT_EQ(0xAB, buf[12]);
    EXPECT_EQ(0xAB, buf[14]);
    int16_t s;
    memcpy(&s, &buf[8], 2);
    EXPECT_EQ(SILENT + FULL, s);
    via_6522_run(100000);
    ay_write(8, 3);
    uint8_t tiny[2] = {0xCD, 0xCD};
    audio->fill(nullptr, tiny, 2); // no frame, but the write is applied and the timeline rebased
    EXPECT_EQ(0xCD, tiny[0]);
    ay_write(9, 7); // first entry after the callback: stamped at the first frame
    std::vector<int> out = play(2);
    EXPECT_EQ(SILENT + level_of[3] + level_of[7], out[0]);
}

// ---- speaker ----

TEST_F(Ay8912Speaker, BitSevenChangesQueueASquareWave) {
    wr(VIA_DDRB, 0xFF);
    for (int k = 0; k < 200; k++) {
        wr(VIA_IORB, (k & 1) ? 0x05 : 0x85);
        wr(VIA_IORB, (k & 1) ? 0x03 : 0x83); // bit 7 unchanged: nothing queued
        via_6522_run(100);
    }
    std::vector<int> out = play(800);
    EXPECT_EQ(AY_SPEAKER_LEVEL, out[0]) << "the mix is 0 before the first frame";
    for (int f = 1; f < 800; f++) {
        int k = std::min(22 * f / 100, 199);
        int level = (k & 1) ? 0 : AY_SPEAKER_LEVEL;
        ASSERT_EQ(SILENT + level, out[f]) << "frame " << f;
    }
}

TEST_F(Ay8912Speaker, TimerOneOnPb7DrivesTheSpeaker) {
    wr(VIA_DDRB, 0xFF);
    wr(VIA_T1C_L, 99);
    wr(VIA_T1C_H, 0);  // running one-shot; PB7 output enabled next
    wr(VIA_ACR, 0xC0); // PB7 low while running: no change from 0
    via_6522_run(22528);
    std::vector<int> out = play(1024);
    for (int f = 1; f < 1024; f++) {
        // Time-outs at cycles 100, 200, ... invert PB7, starting from low.
        int level = ((22 * f) / 100) & 1 ? AY_SPEAKER_LEVEL : 0;
        ASSERT_EQ(SILENT + level, out[f]) << "frame " << f;
    }
}

TEST_F(Ay8912Speaker, LeftoverChangesSetTheLevelForTheNextBuffer) {
    wr(VIA_DDRB, 0xFF);
    via_6522_run(30000);
    wr(VIA_IORB, 0x80);
    via_6522_run(10);
    wr(VIA_IORB, 0x00);
    via_6522_run(10);
    wr(VIA_IORB, 0x80);
    EXPECT_EQ(SILENT, play(1024)[1023]);
    EXPECT_EQ(SILENT + AY_SPEAKER_LEVEL, play(2)[1]);
}

TEST_F(Ay8912Speaker, SpeakerSettingOffQueuesNothing) {
    config[CFG_SPEAKER].value = 0;
    ASSERT_EQ(0, via_6522_init());
    wr(VIA_DDRB, 0xFF);
    wr(VIA_IORB, 0x80);
    EXPECT_EQ(SILENT, play(4)[3]);
}

TEST_F(Ay8912Speaker, SoundSettingOffSilencesTheSpeakerOnly) {
    config[CFG_SOUND].value = 0;
    ASSERT_EQ(0, via_6522_init());
    audio->paused = 1;
    wr(VIA_DDRB, 0xFF);
    wr(VIA_IORB, 0x80);
    ay_write(7, 0x3F);
    ay_write(10, 15);
    audio->paused = 0;
    EXPECT_EQ(SILENT + FULL, play(4)[3]);
}

TEST_F(Ay8912Speaker, SpeakerQueueKeepsTheFirst1024Changes) {
    wr(VIA_DDRB, 0xFF);
    for (int k = 0; k < AY_SPEAKER_QUEUE; k++)
        wr(VIA_IORB, (k & 1) ? 0x00 : 0x80);
    // 1024 changes end low; the 1025th (high) does not fit in this buffer.
    wr(VIA_IORB, 0x80);
    std::vector<int> out = play(4);
    EXPECT_EQ(SILENT, out[3]);
    EXPECT_EQ(SILENT + AY_SPEAKER_LEVEL, play(4)[0]) << "the line's level is not lost";
}

} // namespace
