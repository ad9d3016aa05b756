#include "ay_8912.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <numeric>
#include <tuple>

#include "fixture.h"
#include "keyboard.h"
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
    // Row on port B bits 0-2, active-low columns on the chip's I/O port (R14)
    // as an output (R7 bit 6, as the ROM sets it), sense on bit 3.
    static bool sensed(int row, uint8_t columns) {
        chip({{7, 0x7F}, {14, columns}});
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
using Ay8912Measured = Ay;

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
    const int keys[][3] = {{KEY_7, 0, 0},    {KEY_R, 1, 2},        {KEY_C, 2, 7},
                           {KEY_CAPS, 3, 5}, {KEY_LSHIFT, 4, 4},   {KEY_UP, 4, 3},
                           {KEY_S, 6, 6},    {KEY_LBRACKET, 5, 7}, {KEY_L, 7, 1}};
    for (auto [cell, krow, kcol] : keys) {
        key(EV_KEY_DOWN, cell);
        key(EV_KEY_DOWN, cell);         // twice, released once below
        for (int at = 0; at < 64; at++) // row, column
            ASSERT_EQ(at == krow * 8 + kcol, sensed(at / 8, uint8_t(~(1 << at % 8)))) << cell << at;
        key(EV_KEY_UP, cell);
    }
    key(EV_ZOOM_IN, KEY_A);                   // not a key event
    key(EV_KEY_DOWN, KEY_CELLS);              // past the matrix
    key(EV_KEY_DOWN, 0x100000000ull + KEY_A); // not a cell
    for (int row = 0; row < 8; row++)
        EXPECT_FALSE(sensed(row, 0x00)) << row;
}

// The columns are what R14 holds, whatever the data bus carries at the read,
// and only while R7 bit 6 makes the port an output: as an input (after a
// reset, or R7 = 0x3E) it drives no column.
TEST_F(Ay8912Port, ColumnsComeFromRegisterFourteenWhileThePortIsAnOutput) {
    key(EV_KEY_DOWN, KEY_Q); // row 1, column 6
    chip({{7, 0x40}, {14, 0xFF}});
    via({{VIA_IORA, 0x00}, {VIA_DDRB, 0xF7}, {VIA_IORB, 0x01}});
    EXPECT_FALSE(rd(VIA_IORB) & 0x08) << "every column low on the bus alone";
    chip({{14, 0xBF}});
    via({{VIA_IORA, 0xFF}});
    EXPECT_TRUE(rd(VIA_IORB) & 0x08);
    for (uint8_t r7 : {0x3E, 0x00}) {
        chip({{7, r7}});
        EXPECT_FALSE(rd(VIA_IORB) & 0x08) << int{r7};
    }
    ASSERT_EQ(0, board_init_io());
    chip({{14, 0xBF}});
    EXPECT_FALSE(rd(VIA_IORB) & 0x08) << "R7 is 0 after a reset";
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
// exact timing holds exactly the chip's 75,000 edges: sound time keeps to machine time. The
// exact output is filtered and centred: its edges are sign changes, once the coupling settled.
TEST_F(Ay8912Synthesis, TonePitchAndSoundTimeFollowTheTiming) {
    const int long_run = sanitized ? 20 : 60; // seconds of sound
    for (auto [exact, seconds, hz] :
         {std::tuple{0, 1, 606.375}, {1, 1, 625.0}, {1, long_run, 625.0}}) {
        ASSERT_EQ(0, board_init_io());
        sys_exact_timing(exact);
        chip({{8, 15}, {0, 100}, {1, 0}, {7, 0x3E}});
        auto high = [&](int level) { return exact ? level >= 0 : level != SILENT; };
        long edges = 0;
        bool last = high(play(1)[0]);
        for (int buffer = exact ? -10 : 0; buffer < seconds * 10; buffer++)
            for (int level : play(4410)) {
                edges += buffer >= 0 && high(level) != last;
                last = high(level);
            }
        EXPECT_NEAR(hz, edges / 2.0 / seconds, hz / 1000) << "exact " << exact;
        if (seconds == long_run) {
            EXPECT_NEAR(1250 * long_run, edges, 1);
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

// ---- measured in recordings of small register programs, in both timings ----

// The chip's published levels for 1-14 over 15, as measured on real chips (the
// second of the two sets; the first reads .0136, .0177, ... at the quiet end).
constexpr double measured_levels[16] = {0,     .0100, .0145, .0211, .0307, .0455, .0645, .1074,
                                        .1266, .2050, .2922, .3728, .4925, .6353, .8056, 1};

// Cycles per output frame, and what a chip frequency is heard at: frames of 22 cycles
// play the chip 3 % slow.
double cycles_per_frame(int exact) {
    return exact ? 1e6 / 44100 : 22;
}
double heard(double hz, int exact) {
    return hz * cycles_per_frame(exact) / cycles_per_frame(1);
}

// `seconds` of output, as the device asks for it.
std::vector<int> listen(double seconds) {
    std::vector<int> out;
    for (int n = int(seconds * 44100); n > 0; n -= 4410) {
        std::vector<int> part = Ay::play(std::min(n, 4410));
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

// Amplitude of the sine at `hz` in s[from, from + n), Hann windowed.
double amplitude_at(const std::vector<int> &s, size_t from, size_t n, double hz) {
    std::complex<double> sum;
    double mean =
        std::accumulate(s.begin() + long(from), s.begin() + long(from + n), 0.0) / double(n);
    for (size_t i = 0; i < n; i++) {
        double w = 0.5 - 0.5 * std::cos(2 * M_PI * double(i) / double(n));
        sum += w * (s[from + i] - mean) * std::polar(1.0, -2 * M_PI * hz * double(i) / 44100);
    }
    return 4 * std::abs(sum) / double(n);
}

// Power per bin of s[from, from + 2^bits), Blackman-Harris windowed (side lobes -92 dB).
std::vector<double> spectrum(const std::vector<int> &s, size_t from, int bits) {
    const size_t n = size_t{1} << bits;
    std::vector<std::complex<double>> x(n);
    for (size_t i = 0; i < n; i++) {
        double a = 2 * M_PI * double(i) / double(n);
        double w = 0.35875 - 0.48829 * cos(a) + 0.14128 * cos(2 * a) - 0.01168 * cos(3 * a);
        size_t r = 0; // bit-reversed place
        for (int b = 0; b < bits; b++)
            r |= ((i >> b) & 1) << (bits - 1 - b);
        x[r] = w * s[from + i];
    }
    for (size_t len = 2; len <= n; len *= 2)
        for (size_t at = 0; at < n; at += len)
            for (size_t k = 0; k < len / 2; k++) {
                auto t = std::polar(1.0, -2 * M_PI * double(k) / double(len)) * x[at + k + len / 2];
                x[at + k + len / 2] = x[at + k] - t;
                x[at + k] += t;
            }
    std::vector<double> p(n / 2);
    for (size_t i = 0; i < n / 2; i++)
        p[i] = std::norm(x[i]);
    return p;
}

// Energy of the fundamental `hz`, and of everything from 20 Hz to 20 kHz that is no
// harmonic of it: the aliases (and noise).
std::pair<double, double> tone_and_aliases(const std::vector<double> &p, double hz) {
    const double bin = 22050.0 / double(p.size());
    double tone = 0, alias = 0;
    for (size_t i = size_t(20 / bin); i * bin < 20000; i++) {
        double harmonic = std::round(double(i) * bin / hz);
        bool own = harmonic >= 1 && std::abs(double(i) * bin - harmonic * hz) < 8 * bin;
        if (own && harmonic == 1) tone += p[i];
        if (!own) alias += p[i];
    }
    return {tone, alias};
}

// The noise generator's bits, read from where the output jumps by half the level or
// more: the bit time (frames) from the jumps' spacing, the bits from the gaps.
std::pair<double, std::vector<int>> noise_bits(const std::vector<int> &s, int level) {
    std::vector<std::pair<double, int>> edges; // time, rising
    double weight = 0, at = 0;
    for (size_t n = 1; n + 2 < s.size(); n++) {
        int d = s[n + 1] - s[n - 1];
        if (std::abs(d) > level / 2) {
            weight += std::abs(d), at += double(n) * std::abs(d);
            if (std::abs(s[n + 2] - s[n]) > level / 2 && (s[n + 2] - s[n] > 0) == (d > 0)) continue;
            edges.push_back({at / weight, d > 0});
            weight = at = 0;
        }
    }
    if (edges.size() < 100) return {};
    double shortest = 1e9, sum = 0, count = 0;
    for (size_t i = 1; i < edges.size(); i++)
        shortest = std::min(shortest, edges[i].first - edges[i - 1].first);
    for (size_t i = 1; i < edges.size(); i++)
        if (double gap = edges[i].first - edges[i - 1].first; gap < 1.5 * shortest)
            sum += gap, count++;
    double bit = sum / count, slots = 0;
    for (size_t i = 1; i < edges.size(); i++)
        slots += std::round((edges[i].first - edges[i - 1].first) / bit);
    bit = (edges.back().first - edges.front().first) / slots;
    std::vector<int> bits;
    for (size_t i = 1; i < edges.size(); i++)
        bits.insert(bits.end(), size_t(std::lround((edges[i].first - edges[i - 1].first) / bit)),
                    edges[i - 1].second);
    return {bit, bits};
}

// Noise alone on A at full level. The real chip: a bit every 16 N cycles from a 17-bit
// register fed back from bits 0 and 3 and heard at bit 0 (so b[k+17] = b[k] ^ b[k+3]),
// repeating after 131,071 bits. The simplified one steps every 8 N cycles and its output
// toggles with the feedback, taken from bits 0 and 2.
TEST_F(Ay8912Measured, NoiseRateAndGeneratorFollowTheTiming) {
    for (auto [exact, n, seconds] : {std::tuple{1, 31, 2.0}, {1, 16, 34.0}, {0, 31, 2.0}}) {
        ASSERT_EQ(0, board_init_io());
        sys_exact_timing(exact);
        chip({{6, uint8_t(n)}, {7, 0x37}, {8, 15}});
        std::vector<int> heard = listen(seconds);
        heard.erase(heard.begin(), heard.begin() + 100); // from the first frame's 0
        auto [bit, bits] = noise_bits(heard, exact ? 8570 : 16383);
        ASSERT_GT(bits.size(), 1000u) << exact;
        EXPECT_NEAR(1e6 / ((exact ? 16 : 8) * n), 1e6 / (bit * cycles_per_frame(exact)),
                    1e4 / ((exact ? 16 : 8) * n))
            << "bits per second, exact " << exact << " N " << n;
        int wrong = 0;
        for (size_t k = 0; k + 18 < bits.size(); k++)
            wrong += exact ? bits[k + 17] != (bits[k] ^ bits[k + 3])
                           : (bits[k + 17] ^ bits[k + 18]) !=
                                 (bits[k] ^ bits[k + 1] ^ bits[k + 2] ^ bits[k + 3]);
        EXPECT_EQ(0, wrong) << "exact " << exact << " N " << n;

        if (bits.size() > 131071 + 200) {
            size_t period = 1;
            while (!std::equal(bits.begin(), bits.begin() + 200, bits.begin() + long(period)))
                period++;
            EXPECT_EQ(131071u, period);
        }
    }
    sys_exact_timing(0);
}

// A 625 Hz tone on A at each fixed level, its fundamental against level 15's.
TEST_F(Ay8912Measured, LevelsAreTheRealChipsInExactTiming) {
    for (int exact : {0, 1}) {
        sys_exact_timing(exact);
        const double hz = heard(625, exact);
        double full = 0;
        for (int level = 15; level >= 1; level--) {
            ASSERT_EQ(0, board_init_io());
            chip({{0, 100}, {7, 0x3E}, {8, uint8_t(level)}});
            std::vector<int> s = listen(1.2);
            double a = amplitude_at(s, 8820, 44100, hz);
            if (level == 15) full = a;
            double want = exact ? measured_levels[level] : level_of[level] / 16383.0;
            EXPECT_NEAR(want, a / full, want * (exact ? 0.02 : 0.001))
                << "level " << level << " exact " << exact;
        }
    }
    sys_exact_timing(0);
}

// A 2.5 kHz tone on A under the envelope: its amplitude per 4 ms from `at` seconds.
std::vector<double> envelope_levels(const std::vector<int> &s, double at, int windows, int exact) {
    std::vector<double> out;
    for (int w = 0; w < windows; w++)
        out.push_back(
            amplitude_at(s, size_t(at * 44100) + 176 * size_t(w), 176, heard(2500, exact)));
    return out;
}

// Decay to 0 (shape 0, 16 ms a step), then R13 = 0xFF: the real chip starts shape 15
// afresh (rise, then 0), the simplified one stays silent. A second write of the same
// shape restarts it in both, from a whole first step in exact timing.
TEST_F(Ay8912Measured, ShapeWriteRestartsTheEnvelope) {
    for (int exact : {0, 1}) {
        ASSERT_EQ(0, board_init_io());
        sys_exact_timing(exact);
        const double full = 2 / M_PI * (exact ? 8570 : 16383); // the fundamental at level 15
        chip({{0, 25}, {7, 0x3E}, {11, 0xE8}, {12, 0x03}, {8, 0x10}, {13, 0x00}});
        std::vector<int> s = listen(0.3);
        chip({{13, 0xFF}});
        std::vector<int> more = listen(0.3);
        s.insert(s.end(), more.begin(), more.end());
        std::vector<double> after = envelope_levels(s, 0.3, 70, exact);
        EXPECT_LT(envelope_levels(s, 0.28, 1, exact)[0], full / 1000) << exact;
        if (!exact) {
            EXPECT_LT(*std::max_element(after.begin(), after.end()), full / 1000) << "no write";
        } else {
            EXPECT_LT(after[1], full / 1000);                 // level 0
            EXPECT_GT(after[32], 3 * after[16]) << after[16]; // rising through 8
            EXPECT_NEAR(full, after[62], full / 20);          // 15 near 256 ms
            EXPECT_LT(after[67], full / 1000);                // then 0 and held
            EXPECT_EQ(0x0F, ay_read(13));
        }
        chip({{13, 0x0D}}); // rises to 15 and holds
        std::vector<int> held = listen(0.3);
        chip({{13, 0x0D}});
        held = listen(0.1);
        std::vector<double> again = envelope_levels(held, 0.001, 12, exact);
        // From 0, and the simplified chip's first step may be short: at most level 1 then.
        EXPECT_LT(again[1], exact ? full / 1000 : 2 / M_PI * level_of[2]) << "restarted";
        if (exact) {
            EXPECT_LT(again[3], full / 1000) << "the first step lasts 16 ms";
            EXPECT_NEAR(full * measured_levels[1], again[5], full / 1000); // level 1 from 16 ms
        }
    }
    sys_exact_timing(0);
}

// 0xFF written to every register reads back the bits the real chip keeps in exact timing.
TEST_F(Ay8912Measured, ReadBackKeepsTheChipsBitsInExactTiming) {
    for (int exact : {0, 1}) {
        ASSERT_EQ(0, board_init_io());
        sys_exact_timing(exact);
        audio->paused = 1;
        std::string read;
        for (uint8_t r = 0; r <= 14; r++)
            ay_write(r, 0xFF);
        for (uint8_t r = 0; r <= 14; r++) {
            char hex[4];
            snprintf(hex, sizeof hex, "%02X ", ay_read(r));
            read += hex;
        }
        EXPECT_EQ(exact ? "FF 0F FF 0F FF 0F 1F FF 1F 1F 1F FF FF 0F FF "
                        : "FF FF FF FF FF FF FF FF FF FF FF FF FF 00 FF ",
                  read);
    }
    sys_exact_timing(0);
}

// Periods of 0 play as 1 on the real chip: tone, noise and envelope alike.
TEST_F(Ay8912Measured, PeriodZeroPlaysAsOneInExactTiming) {
    const Writes setups[] = {{{8, 12}, {7, 0x3E}, {0, 1}},
                             {{8, 12}, {7, 0x37}, {6, 1}},
                             {{8, 0x10}, {7, 0x3F}, {11, 1}, {13, 0x0E}}};
    for (int exact : {0, 1})
        for (const Writes &setup : setups) {
            std::vector<int> heard[2];
            for (int zero : {0, 1}) {
                ASSERT_EQ(0, board_init_io());
                sys_exact_timing(exact);
                Writes w = setup;
                if (zero) w.back()[0] == 13 ? w[2][1] = 0 : w.back()[1] = 0;
                chip(w);
                heard[zero] = listen(0.2);
            }
            EXPECT_EQ(exact == 1, heard[0] == heard[1]) << int(setup.back()[0]);
        }
    sys_exact_timing(0);
}

// Tones from 62.5 kHz down to 2.5 kHz: their aliases below 20 kHz against the fundamental
// (a 2.5 kHz tone's at the same level for those above 20 kHz). Sampled at 22 cycles, the
// simplified output folds them back; the exact one keeps them 40 dB down.
TEST_F(Ay8912Measured, TonesAliasFortyDecibelsDownInExactTiming) {
    for (int exact : {0, 1}) {
        sys_exact_timing(exact);
        double reference = 0;
        for (int period : {25, 1, 2, 3, 4, 5, 7, 11}) {
            ASSERT_EQ(0, board_init_io());
            chip({{0, uint8_t(period)}, {7, 0x3E}, {8, 15}});
            const double hz = heard(1e6 / (16 * period), exact);
            auto [tone, alias] = tone_and_aliases(spectrum(listen(0.6), 8192, 14), hz);
            if (period == 25) reference = tone;
            double db = 10 * std::log10(alias / (hz > 20000 ? reference : tone));
            if (exact) {
                EXPECT_LT(db, -40) << "period " << period;
            } else if (period < 7) {
                EXPECT_GT(db, -40) << "period " << period;
            }
        }
    }
    sys_exact_timing(0);
}

// The speaker on timer 1's square wave, half periods of 7 to 33 cycles: 71 kHz to 15 kHz.
TEST_F(Ay8912Measured, SpeakerAliasesFortyDecibelsDownInExactTiming) {
    sys_exact_timing(1);
    double reference = 0;
    for (int half : {33, 7, 17, 23, 29}) {
        ASSERT_EQ(0, board_init_io());
        via({{VIA_DDRB, 0xFF}, {VIA_ACR, 0xC0}, {VIA_T1C_L, uint8_t(half - 2)}, {VIA_T1C_H, 0}});
        std::vector<int> s;
        std::vector<uint8_t> buf(4 * 200);
        while (s.size() < 26000) {
            via_6522_run(2000);
            int frames = ay_8912_render(buf.data(), 200);
            for (int f = 0; f < frames; f++)
                s.push_back(int16_t(buf[4 * f] | buf[4 * f + 1] << 8));
        }
        const double hz = 1e6 / (2 * half);
        auto [tone, alias] = tone_and_aliases(spectrum(s, 8192, 14), hz);
        if (half == 33) reference = tone;
        EXPECT_LT(10 * std::log10(alias / (hz > 20000 ? reference : tone)), -40) << half;
    }
    sys_exact_timing(0);
}

// The output is AC-coupled in exact timing: it starts at 0, a held level fades back to 0,
// and all three channels and the speaker stepping on together do not clip.
TEST_F(Ay8912Measured, ExactOutputStartsAndStaysCentred) {
    for (int exact : {0, 1}) {
        ASSERT_EQ(0, board_init_io());
        sys_exact_timing(exact);
        std::vector<int> s = listen(0.1);
        EXPECT_EQ(0, s[0]);
        EXPECT_EQ(exact ? 0 : SILENT, *std::min_element(s.begin() + 1, s.end()));
        EXPECT_EQ(exact ? 0 : SILENT, *std::max_element(s.begin() + 1, s.end()));
        chip({{7, 0x3F}, {8, 15}, {9, 15}, {10, 15}});
        via({{VIA_DDRB, 0xFF}, {VIA_IORB, 0x80}});
        s = listen(0.5);
        int peak = *std::max_element(s.begin(), s.end());
        if (exact) {
            EXPECT_GT(peak, 29000);
            EXPECT_LT(peak, 32767) << "clipped";
            EXPECT_EQ(0, s.back()) << "back to the centre";
        } else {
            EXPECT_EQ(3 * 16383 - 32768 + AY_SPEAKER_LEVEL, s.back());
        }
    }
    sys_exact_timing(0);
}

} // namespace
