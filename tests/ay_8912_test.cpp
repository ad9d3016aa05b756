#include "ay_8912.h"

#include <SDL/SDL_keysym.h>

#include <algorithm>
#include <array>
#include <tuple>

#include "fixture.h"
#include "sys_cfg.h"

namespace {

using Writes = std::vector<std::array<uint8_t, 2>>; // {register, value} in order

constexpr int SILENT = -32768;
// The chip's output level for each 4-bit amplitude.
constexpr int level_of[16] = {0,    128,  207,  309,  480,  809,   1231,  2277,
                              2586, 4469, 6170, 7610, 9711, 11817, 14100, 16383};

struct Ay : ::testing::Test {
    void SetUp() override {
        sys_cfg_defaults();
        speed = 1;
        ASSERT_EQ(0, board_init_io());
    }
    static void via(const Writes &writes) {
        for (auto [reg, v] : writes)
            via_6522_write(VIA_BASE + reg, v);
    }
    static void chip(const Writes &writes) {
        for (auto [reg, v] : writes)
            ay_write(reg, v);
    }
    static uint8_t rd(uint8_t r, uint8_t v = 0) { return via_6522_read(VIA_BASE + r, &v), v; }
    // Latch, then BDIR falls with BC1 high: the chip drives the bus.
    static uint8_t ay_read(uint8_t reg) {
        via({{VIA_DDRA, 0xFF}, {VIA_IORA, reg}, {VIA_PCR, 0xFF}, {VIA_DDRA, 0}, {VIA_PCR, 0xDF}});
        return rd(VIA_IORA);
    }
    // Row on port B bits 0-2, active-low columns on the chip's I/O port (R14),
    // sense on bit 3.
    static bool sensed(int row, uint8_t columns) {
        chip({{14, columns}});
        via({{VIA_DDRB, 0xF7}, {VIA_IORB, uint8_t(row)}});
        return rd(VIA_IORB) & 0x08;
    }
    static void key(int32_t code, uint64_t sym) { via_6522_event(event{code, sym}); }
    // One callback of `frames` frames: the left channel, or 99999 where the right differs.
    static std::vector<int> play(int frames) {
        std::vector<int16_t> buf(2 * frames + 2, 0x5A5A);
        audio->fill(nullptr, reinterpret_cast<uint8_t *>(buf.data()), frames * 4);
        EXPECT_EQ(0x5A5A, buf[2 * frames]) << "written past the frames";
        std::vector<int> left(frames);
        for (int f = 0; f < frames; f++)
            left[f] = buf[2 * f] == buf[2 * f + 1] ? buf[2 * f] : 99999;
        return left;
    }
    static int hex(char digit) { return digit <= '9' ? digit - '0' : digit - 'A' + 10; }
};
using Ay8912Port = Ay;
using Ay8912Synthesis = Ay;
using Ay8912Timeline = Ay;

TEST_F(Ay8912Port, RegistersReadBackAsWrittenUpToFourteen) {
    audio->paused = 1; // applied at once: R0 sets the tone period stored past the read-backs
    for (uint8_t r = 0; r <= 14; r++)
        ay_write(r, static_cast<uint8_t>(0x21 + 7 * r));
    chip({{15, 0x77}, {13, 0xFF}}); // 0xFF on R13 means "leave the envelope", not a value
    for (uint8_t r = 0; r <= 14; r++)
        EXPECT_EQ(0x21 + 7 * r, ay_read(r)) << int(r);
    EXPECT_EQ(0x00, ay_read(15));
}

TEST_F(Ay8912Port, KeySensesOnlyAtItsRowAndColumnUntilReleased) {
    const int keys[][3] = {{SDLK_7, 0, 0},         {SDLK_r, 1, 2},           {SDLK_c, 2, 7},
                           {SDLK_SCROLLOCK, 3, 5}, {SDLK_LSHIFT, 4, 4},      {SDLK_UP, 4, 3},
                           {SDLK_s, 6, 6},         {SDLK_LEFTBRACKET, 5, 7}, {SDLK_l, 7, 1}};
    for (auto [sym, krow, kcol] : keys) {
        key(EV_KEY_DOWN, sym);
        key(EV_KEY_DOWN, sym);          // twice, released once below
        for (int at = 0; at < 64; at++) // row, column
            ASSERT_EQ(at == krow * 8 + kcol, sensed(at / 8, uint8_t(~(1 << at % 8)))) << sym << at;
        key(EV_KEY_UP, sym);
    }
    key(EV_KEY_DOWN, SDLK_F5);                 // not on the matrix
    key(EV_ZOOM_IN, SDLK_a);                   // not a key event
    key(EV_KEY_DOWN, 0x100000000ull + SDLK_a); // not a key symbol
    for (int row = 0; row < 8; row++)
        EXPECT_FALSE(sensed(row, 0x00)) << row;
    key(EV_KEY_DOWN, 0); // the first empty cell only
    EXPECT_TRUE(sensed(1, 0xEF));
    EXPECT_FALSE(sensed(3, 0xEF));
}

// The columns are what R14 holds, whatever the data bus carries at the read.
TEST_F(Ay8912Port, ColumnsComeFromRegisterFourteenNotTheDataBus) {
    key(EV_KEY_DOWN, SDLK_q); // row 1, column 6
    chip({{14, 0xFF}});
    via({{VIA_IORA, 0x00}, {VIA_DDRB, 0xF7}, {VIA_IORB, 0x01}});
    EXPECT_FALSE(rd(VIA_IORB) & 0x08) << "every column low on the bus alone";
    chip({{14, 0xBF}});
    via({{VIA_IORA, 0xFF}});
    EXPECT_TRUE(rd(VIA_IORB) & 0x08);
}

// The keyboard has 62 keys on 64 cells: column 4 of rows 1 and 3 is empty, and no
// other host key may press anything.
TEST_F(Ay8912Port, SixtyTwoHostKeysReachSixtyTwoCells) {
    std::vector<int> owner(64, 0);
    for (int sym = 1; sym < 1024; sym++) {
        key(EV_KEY_DOWN, sym);
        for (int at = 0; at < 64; at++)
            if (sensed(at / 8, uint8_t(~(1 << at % 8)))) {
                EXPECT_EQ(0, owner[at]) << sym << " shares cell " << at;
                owner[at] = sym;
            }
        key(EV_KEY_UP, sym);
    }
    EXPECT_EQ(62, std::count_if(owner.begin(), owner.end(), [](int s) { return s != 0; }));
    EXPECT_EQ(0, owner[1 * 8 + 4] + owner[3 * 8 + 4]);
}

// Output level by step in hex, repeating. Cycles per step: a tone's 12-bit period x 8,
// noise R6 & 31 x 8, the envelope's 16-bit period x 16.
constexpr char NOISE[] = "0FFFFFFFFFFFFFFF00FFFFFFFFFFFFF0000FFFFFFFFFFF00FF00FFFFFFFFF000";

TEST_F(Ay8912Synthesis, ToneNoiseAndEnvelopeStepAtTheirPeriods) {
    const Writes env = {{11, 11}, {7, 0x3F}, {8, 0x1A}}; // 176 cycles; the envelope bit wins
    const std::tuple<Writes, int, int, std::string> rows[] = {
        {{{8, 15}, {0, 0x01}, {1, 0x10}, {7, 0x3E}}, 8, 400, "0F"},
        {{{10, 15}, {4, 0x40}, {5, 0x11}, {7, 0x3B}}, 2560, 400, "0F"},
        {{{8, 15}, {1, 15}, {6, 0x1F}, {7, 0x37}}, 248, 721, NOISE},
        {{{9, 15}, {3, 15}, {6, 0x25}, {7, 0x2F}}, 40, 116, NOISE},
        {{{13, 0x00}}, 176, 256, "FEDCBA98765432100000000000000000"},
        {{{12, 1}, {11, 0}, {13, 0x08}}, 4096, 5957, "FEDCBA9876543210"},
        {{{13, 0x0A}, {13, 0xFF}}, 176, 256, "FEDCBA98765432100123456789ABCDEF"},
        {{{13, 0x0B}}, 176, 256, "FEDCBA9876543210FFFFFFFFFFFFFFFF"},
        {{{13, 0x0C}}, 176, 256, "0123456789ABCDEF"},
        {{{13, 0x0D}}, 176, 256, "0123456789ABCDEFFFFFFFFFFFFFFFFF"},
        {{{13, 0x0E}}, 176, 256, "0123456789ABCDEFFEDCBA9876543210"},
        {{{13, 0x0F}}, 176, 256, "0123456789ABCDEF0000000000000000"},
    };
    for (const auto &[writes, cycles, frames, levels] : rows) {
        ASSERT_EQ(0, board_init_io());
        if (writes.back()[0] == 13) chip(env);
        chip(writes);
        std::vector<int> out = play(frames / 2), more = play(frames - frames / 2);
        out.insert(out.end(), more.begin(), more.end()); // two buffers, one timeline
        for (int f = 1; f < frames; f++)
            ASSERT_EQ(SILENT + level_of[hex(levels[(22 * f / cycles) % levels.size()])], out[f])
                << levels << " at " << f;
    }
}

// Tone period 100 on A, measured by its edges in the output: 1,000,000 / 1600 = 625 Hz on
// the chip's clock, heard at 22/22.676 of it in the simplified timing. A minute of output in
// exact timing holds exactly the chip's 75,000 edges: sound time keeps to machine time.
TEST_F(Ay8912Synthesis, TonePitchAndSoundTimeFollowTheTiming) {
    for (auto [exact, seconds, hz] : {std::tuple{0, 1, 606.375}, {1, 1, 625.0}, {1, 60, 625.0}}) {
        ASSERT_EQ(0, board_init_io());
        sys_exact_timing(exact);
        chip({{8, 15}, {0, 100}, {1, 0}, {7, 0x3E}});
        long edges = 0;
        int last = play(1)[0];
        for (int buffer = 0; buffer < seconds * 10; buffer++)
            for (int level : play(4410))
                edges += level != last, last = level;
        EXPECT_NEAR(hz, edges / 2.0 / seconds, hz / 1000) << "exact " << exact;
        if (seconds == 60) {
            EXPECT_NEAR(75000, edges, 1);
        }
    }
    sys_exact_timing(0);
}

TEST_F(Ay8912Timeline, WritesLandAtTheFrameOfTheirCycle) {
    play(100);
    via_6522_run(5000); // the gap after a callback is not counted
    ay_write(8, 4);
    via_6522_run(1000);
    ay_write(8, 0);
    via_6522_run(30000);
    ay_write(9, 15); // past this buffer's end
    std::vector<int> out = play(100);
    EXPECT_EQ(SILENT + level_of[4], out[0]) << "stamped 22: the buffer's first frame";
    EXPECT_EQ(SILENT + level_of[4], out[45]);
    EXPECT_EQ(SILENT, out[46]) << "stamped 1022: the frame at cycle 1034";
    EXPECT_EQ(SILENT + level_of[15], play(2)[0]) << "applied at the end of the buffer";
    EXPECT_EQ(SILENT + level_of[15], play(2)[0]) << "and not again";
}

TEST_F(Ay8912Timeline, FullQueueKeepsTheFirstWritesAndTheLatestRealValues) {
    chip({{11, 11}, {10, 0x10}}); // C falls to 0 within the buffer
    for (int i = 2; i < AY_WRITE_QUEUE; i++)
        ay_write(8, 5);
    chip({{9, 3}, {8, 15}, {8, 1}, {13, 0x0D}, {13, 0xFF}}); // past the end
    EXPECT_EQ(SILENT + level_of[5], play(1024)[1023]);
    EXPECT_EQ(SILENT + level_of[1] + level_of[3] + level_of[15], play(400)[399]) << "C holds";
    chip({{8, 9}, {8, 2}}); // queued over what the last buffer left
    via_6522_run(1000);
    speed = 2; // at once, not at cycle 1022: the queue, then this write
    ay_write(9, 4);
    std::vector<int> out = play(60);
    EXPECT_EQ(SILENT + level_of[2] + level_of[4] + level_of[15], out[1]);
    EXPECT_EQ(SILENT + level_of[2] + level_of[4] + level_of[15], out[59]) << "no replay";
}

TEST_F(Ay8912Timeline, BitSevenChangesPlayAtTheirCycleOrAfterTheBuffer) {
    via({{VIA_DDRB, 0xFF}});
    for (int k = 0; k < 200; k++) {
        via({{VIA_IORB, uint8_t((k & 1) ? 0x05 : 0x85)}});
        via_6522_run(100);
    }
    std::vector<int> out = play(800);
    for (int f = 1; f < 800; f++)
        ASSERT_EQ(SILENT + ((22 * f / 100) & 1 ? 0 : AY_SPEAKER_LEVEL), out[f]) << f;
    via({{VIA_IORB, 0x80}}); // the buffer's first frame
    via_6522_run(30000);
    via({{VIA_IORB, 0x00}, {VIA_IORB, 0x80}, {VIA_IORB, 0x00}}); // past its end
    EXPECT_EQ(SILENT + AY_SPEAKER_LEVEL, play(1024)[1023]);
    EXPECT_EQ(SILENT, play(2)[1]);
    via({{VIA_IORB, 0x07}}); // bit 7 unchanged: not a change
    for (int k = 1; k <= AY_SPEAKER_QUEUE; k++)
        via({{VIA_IORB, uint8_t((k & 1) ? 0x80 : 0x00)}}); // 1024 changes ending low
    via({{VIA_IORB, 0x80}});                               // the 1025th does not fit
    EXPECT_EQ(SILENT, play(4)[3]);
    EXPECT_EQ(SILENT + AY_SPEAKER_LEVEL, play(4)[0]) << "the line's level is not lost";
    config[CFG_SPEAKER].value = 0; // taken at start-up
    ASSERT_EQ(0, board_init_io());
    via({{VIA_DDRB, 0xFF}, {VIA_IORB, 0x80}});
    EXPECT_EQ(SILENT, play(4)[3]) << "speaker switched off";
}

} // namespace
