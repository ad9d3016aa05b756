// The interface adapter through its registers, its pin interface and its
// handler slots; one program shows the processor taking its interrupt.
#include "via_6522.h"

#include <array>
#include <functional>
#include <map>
#include <sstream>
#include <utility>

#include "fixture.h"

namespace {

class Via6522 : public Machine {
  protected:
    static inline std::string calls; // every handler call in order: "pa_w F0 "
    static constexpr char hex[] = "0123456789ABCDEF";
    static inline unsigned pa_pins, pb_pins, cb2_bits; // what the read handlers give
    static void note(std::string s, int v) { calls += s + ' ' + hex[v >> 4] + hex[v & 15] + ' '; }
    static uint8_t pa_r() { return note("pa_r", pa_pins), pa_pins; }
    static uint8_t pb_r() { return note("pb_r", pb_pins), pb_pins; }
    static uint8_t cb2_r() { return (cb2_bits <<= 1) >> 8 & 1; }
    static constexpr const char *outs[] = {"pa_w", "pb_w", "ca2_w", "cb2_w"};
    template <int n> static void put(uint8_t v) { note(outs[n], v); }
    static uint8_t rd(uint8_t r) { return via_6522_read(VIA_BASE + r, &r) ? 0xEE : r; }

    // Plays space-separated steps, checking as it goes, and gives the handler calls they made.
    // Numbers in hex. R=VV, R?VV: write, read and expect register R, numbered as on the
    // datasheet (R? only reads). ca1=1, ca1?1: drive, expect a line of the pin interface (ca1
    // ca2 cb1 cb2); cb1*N: N pulses, up then down. pa=VV, pb=VV: what the port read handlers
    // return; cb2r=VV: the CB2 one, bit 7 first. +N: run N cycles. batch=N: N cycles may go in
    // one batch, N+1 may not. irq?1: expect the processor's IRQ input.
    static std::string play(const char *script) {
        // clang-format off
        using get = std::function<unsigned()>; using set = std::function<void(unsigned)>;
        auto pin = [](unsigned &x) { return std::pair<get, set>{{}, [&x](unsigned v) { x = v; }}; };
        std::map<std::string, std::pair<get, set>> names = {
            {"ca1", {via_ca1_r, via_ca1_w}}, {"ca2", {via_ca2_r, via_ca2_w}},
            {"cb1", {via_cb1_r, via_cb1_w}}, {"cb2", {via_cb2_r, via_cb2_w}},
            {"pa", pin(pa_pins)}, {"pb", pin(pb_pins)}, {"cb2r", pin(cb2_bits)},
            {"", {nullptr, [](unsigned n) { EXPECT_EQ(0, via_6522_run(n)); }}},
            {"batch", {nullptr, [](unsigned n) {
                EXPECT_EQ(1, via_6522_can_batch(n) - via_6522_can_batch(n + 1)); }}},
            {"irq", {[] { return cpu_6502.flagirq >> 1 & 1; }, nullptr}}};
        // clang-format on
        for (uint8_t r = 0; r < 16; r++)
            names[{hex[r]}] = {[r] { return rd(r); },
                               [r](unsigned v) { EXPECT_EQ(0, via_6522_write(VIA_BASE + r, v)); }};
        std::istringstream in(script);
        for (std::string step; in >> step;) {
            SCOPED_TRACE(step + " in " + script);
            const size_t at = step.find_first_of("+=?*"); // every step has one
            const std::string arg = step.substr(at + 1);
            const unsigned v = arg.empty() ? 0 : std::stoul(arg, nullptr, 16);
            const auto &[get_it, set_it] = names.at(step.substr(0, at));
            if (step[at] == '=' || step[at] == '+') set_it(v);
            const unsigned got = step[at] == '?' ? get_it() : 0;
            EXPECT_EQ(step[at] == '?' && !arg.empty() ? v : got, got);
            for (unsigned i = 0; step[at] == '*' && i < v; i++)
                set_it(1), set_it(0);
        }
        return std::exchange(calls, "");
    }
    void SetUp() override { Machine::SetUp(), reset(); }
    std::string fresh(const char *script) { return reset(), play(script); } // on a new chip
    void reset() {
        ASSERT_EQ(0, via_6522_init() | via_6522_getctx(&via));
        via->handlers = {pa_r, put<0>, pb_r, put<1>, put<2>, cb2_r, put<3>};
        pa_pins = 0x5A, pb_pins = 0xC3, cb2_bits = 0, calls.clear();
    }
    via_state *via = nullptr;
};

using Via6522Timers = Via6522;
using Via6522Interrupts = Via6522;
using Via6522Ports = Via6522;

// A counter loaded with N times out on the (N+1)-th cycle, checked across a batch and cycle by
// cycle; a stopped timer holds its latch. Rows: T1 one-shot, T1 free-running from 0, 5 and 300,
// T2 timed (stopped, it reads as if run on past 0), T2 pulse counting (loads, never counts).
TEST_F(Via6522Timers, TimeOutOnTheCycleTheModeSays) {
    for (const char *script : {
             "4=34 5=02 4?34 5?02 6?34 7?02 batch=234 +234 D?00 +1 D?40 4? +10000 D?00 4?34 5?02"
             " 6=78 7=56 6?78 7?56 4?34 +10000 D?00", // latch writes neither load nor start it
             "B=40 4=00 5=00 4?00 5?00 batch=0 +0 D?00 +1 D?40 4? +1 D?40 4?00 5?00",
             "B=40 4=05 5=00 4?05 5?00 batch=5 +5 D?00 +1 D?40 4? +6 D?40 4?05 5?00 6=04 6?04",
             "B=40 4=2C 5=01 6?2C 7?01 batch=12C +12C D?00 +1 D?40 4? +12D D?40 4?2C 5?01",
             "B=01 8=07 9=01 8?07 batch=107 +107 D?00 +1 D?20 9=00 +6 D?00 +2 D?20 8?F8 9?FF",
             "B=20 8=23 9=11 8=22 9=11 +10000 D?00 8?22 9?11",
         })
        fresh(script);
}

// Exact timing: a loaded counter shows N from the next cycle, passes 0xFFFF at its time-out
// and counts on; timer 1 free-running reloads after 0xFFFF. Rows: T1 one-shot, T1
// free-running (a period of N+2), T2 one-shot; neither one-shot flags its second pass.
TEST_F(Via6522Timers, ExactCountersPassFfffAndOneShotsCountOn) {
    via_6522_exact(1);
    for (const char *script : {
             "4=04 5=00 +1 4?04 +4 4?00 D?00 +1 D?40 5?FF 4?FF D?00 +1 4?FE +FFFE 4?00 5?00 +1 "
             "4?FF D?00",
             "B=40 4=04 5=00 +1 4?04 +4 4?00 +1 D?40 4?FF +1 4?04 5?00 +5 D?40 4?FF +1 4?04",
             "8=04 9=00 +1 8?04 +4 8?00 D?00 +1 D?20 9?FF 8?FF D?00 +FFFF 8?00 9?00 +1 8?FF D?00",
         })
        fresh(script);
}

TEST_F(Via6522Timers, Timer1DrivesPb7WhileAcrBit7IsSet) {
    EXPECT_EQ("pb_w 00 pb_w 80 pb_w 00 pb_w 80 pb_w 00 pb_w 80 pb_w 81 pb_w 82 pb_w 02 pb_w 82 "
              "pb_w 82 pb_w 02 pb_w 02 pb_w 00 pb_w 00 pb_w 81 pb_w 81 pb_r 03 ",
              play("2=FF B=C0 4=02 5=00 +9 0=01 0=02" // free-running: low at load, then toggling
                   " B=80 +6 B=C0 +3"                 // one-shot: high at the time-out
                   " B=41 +3 0=00 B=01 5=00 +3" // without ACR bit 7: left alone, still reported
                   " 2=7E B=80 pb=03 0?81"));   // an input pin, yet read from the timer
}

// One behaviour a line; IFR bit 7 is the processor's IRQ input throughout.
TEST_F(Via6522Interrupts, EnableAndFlagRegistersGateTheIrqLine) {
    play("5=00 9=00 +1 D?60 E?80 irq?0" // flags without enable: no IRQ
         " E=C0 D?E0 E?C0 irq?1"        // enabling a pending source asserts at once
         " E=A0 E?E0 5? D?E0"           // reading the T1 high counter clears nothing
         " 4? D?A0 irq?1"               // the low one clears T1; T2 holds the line
         " E=20 E?C0 D?20 irq?0"        // disabling releases the line, the flag stays
         " E=B0 E?F0 D?A0 irq?1 8? D?00 irq?0"
         " 5=00 +1 D?C0 7=00 D?00"                           // a T1 latch high write acknowledges
         " 5=00 9=00 +1 D=40 D?A0 D=11 D?A0 D=80 D?00 irq?0" // IFR bit 7 clears every flag
         " E=7F E?80");
}

// Rises, then falls, on CA1 CA2 CB1 CB2, then port reads: CA2/CB2 as independent inputs
// keep their flags.
TEST_F(Via6522Interrupts, LinesFlagTheirActiveEdgeAndPortAccessClears) {
    for (const char *script : {
             "C=00 ca1=1 ca2=1 cb1=1 cb2=1 D?01 D=7F ca1=0 ca2=0 cb1=0 cb2=0 D?1B 1? 0? D?00",
             "C=55 ca1=1 ca2=1 cb1=1 cb2=1 D?1B D=7F ca1=0 ca2=0 cb1=0 cb2=0 D?01 1? 0? D?00",
             "C=23 ca1=1 ca2=1 cb1=1 cb2=1 D?03 D=7F ca1=0 ca2=0 cb1=0 cb2=0 D?19 1? 0? D?09",
             "C=66 ca1=1 ca2=1 cb1=1 cb2=1 D?09 D=7F ca1=0 ca2=0 cb1=0 cb2=0 D?13 1? 0? D?01",
             "C=88 ca1=1 ca2=1 cb1=1 cb2=1 D?00 ca1?1 ca2?0 cb1?1 cb2?0 ca1=0 cb1=0 D?12",
             "C=00 ca2=1 D=01 ca2=1 D?00 ca1=1 ca1?1 ca2?1 cb1?0 cb2?0 cb2=1 cb2?1 cb1=1 cb1?1",
         })
        fresh(script);
}

TEST_F(Via6522Ports, OutputsMixDirectionAndRegisterInputsMixPins) {
    EXPECT_EQ("pa_w F0 pa_w F5 pb_w 0F pb_w BF pa_r 5A pb_r C3 pa_r 5A "
              "pa_w A5 pa_w 7E pa_w 81 pa_r 5A pa_w FF ",
              play("3=0F 1=A5 2=F0 0=BC 2=F0 3?0F 2?F0" // out: ~DDR | OR; same DDR: no call
                   " 1?55 0?B3 F?55"                    // pins on inputs, OR on outputs
                   " 3=FF F=7E 1=81 1?81 F?81"          // all outputs: only ORA2 reads the pins
                   " 3=00 1=12 F=34"));                 // all inputs: writes reach nobody
    // Latched: the byte the active CA1 or CB1 edge saw, not the pins.
    EXPECT_EQ("pa_r 99 pb_r C3 pb_r 66 pa_r 11 pb_w 00 pb_w 80 ",
              fresh("B=01 ca1=1 pa=99 ca1=0 pa=11 1?99 F?99 0?C3"              // port A only
                    " B=02 C=10 pb=66 cb1=1 pb=22 0?66 1?11 B=01 2=FF 0=80")); // port B only
}

// With tracing on, a port read without a read handler says so, and so does every run of cycles.
TEST_F(Via6522Ports, MissingReadHandlerKeepsTheStoredInputAndSaysSo) {
    via->handlers.pa_r = via->handlers.pb_r = nullptr;
    via_porta_w(0x24), via_portb_w(0x6C);
    log_verbosity(1), log_info_hook(keep_log_line), logged.clear();
    tr[0] = TR_MASTER | TR_VIA_NOHANDLER | TR_VIA_TIMER;
    play("1?24 0?6C +0 8=21 +1");
    EXPECT_EQ(0x6C, via_portb_r());
    EXPECT_EQ("{!} via Port A is being read but has no handler|"
              "{!} via Port B is being read but has no handler|"
              "; via T1L:0000 T1C:0000 T2L:0021 T2C:0000|",
              joined_log());
}

TEST_F(Via6522Ports, HandshakeLinesFollowPcrAndPortAccess) {
    EXPECT_EQ("ca2_w 01 pa_r 5A ca2_w 00 pa_r 5A ca2_w 01 ca2_w 00 ca2_w 00 ca2_w 01 "
              "cb2_w 01 pb_w FF cb2_w 00 pb_w FF ca2_w 00 ca2_w 01 cb2_w 01 cb2_w 00 ",
              play("C=09 ca1*1 1? 1? ca1*1 1=01"  // CA2 handshake: up on CA1, down on port A use
                   " C=0B 1=02 F=03"              // pulse: low, then high, on an ORA write
                   " C=91 cb1=1 0=42 0=43"        // CB2 handshake: up on CB1, down on an ORB write
                   " C=DD C=FF C=FF C=DF C?DF")); // manual: CA2 before CB2, changes only
}

// CB1 rising. The bit count restarts on an SR write, or an SR read in mode 6, not otherwise.
TEST_F(Via6522Ports, ShiftRegisterShiftsOnCb1AndFlagsEveryEighthBit) {
    EXPECT_EQ("cb2_w 01 cb2_w 00 cb2_w 01 cb2_w 00 cb2_w 00 cb2_w 00 cb2_w 01 cb2_w 01 ",
              play("B=0D C=10 cb1*3 A=00 cb2r=B2 cb1*4 A? cb1*3 D?10 cb1*1 D?14 A?B2 D?10" // in
                   " B=1D A=A3 cb1*7 D?10 cb1*1 D?14 A?A3 D?10"           // out onto CB2, rotating
                   " B=04 A=5A cb1*8 +100 D?10 A?5A B=18 cb1*8 D?10 A?5A" // timer-clocked: none
                   " B=0D cb1*3 B=19 A? B=0D cb1*7 D?10 cb1*1 D?14"));
}

TEST_F(Via6522, AddressesOutsideTheChipReadZeroAndWritesStop) {
    EXPECT_EQ(0, rd(0x10));
    EXPECT_DEATH(via_6522_write(VIA_BASE + 0x10, 0), "addr <= 0x0F");
}

// Free-running with latch 99: a period of 100 cycles, 101 in exact timing.
TEST_F(Via6522Interrupts, ProcessorTakesTheTimerInterruptEveryPeriod) {
    for (int exact : {0, 1}) {
        sys_exact_timing(exact);
        reset();
        ram_getptr()[0x10] = 0;
        poke(FIX_IRQ, {0xAD, 0x04, 0x03, 0xE6, 0x10, 0x40}); // LDA T1C_L, INC $10, RTI
        code(FIX_RESET, {0x58, 0x4C, 0x01, 0x04});           // CLI, JMP *
        play("B=40 E=C0 4=63 5=00");
        for (int cycles = 0, n = 0; cycles < 20200; cycles += n)
            via_6522_run(n = exact ? cpu_6502_run_exact() : cpu_6502_run());
        EXPECT_NEAR(exact ? 200 : 202, ram_range(0x10, 1)[0], 1);
    }
}

// A program loads a counter with 4 (STA abs, whose write is its last cycle), then reads its
// low byte six times, 4, 11, ... 39 cycles after the write (LDA abs; PHA). Exact timing gives
// what the chip's timing diagrams give; the simplified one its own counts.
TEST_F(Via6522Timers, ProgramReadsTheCountersAtKnownCycles) {
    using reads = std::array<uint8_t, 6>;
    for (auto [exact, acr, reg, want] : {
             std::tuple{1, 0x00, 4, reads{0x01, 0xFA, 0xF3, 0xEC, 0xE5, 0xDE}}, // T1 one-shot
             {1, 0x40, 4, reads{0x01, 0x00, 0xFF, 0x04, 0x03, 0x02}},           // T1 free-running
             {1, 0x00, 8, reads{0x01, 0xFA, 0xF3, 0xEC, 0xE5, 0xDE}},           // T2 one-shot
             {0, 0x00, 4, reads{0x00, 0x04, 0x04, 0x04, 0x04, 0x04}},
             {0, 0x40, 4, reads{0x00, 0x03, 0x01, 0x04, 0x02, 0x00}},
             {0, 0x00, 8, reads{0x00, 0xFB, 0xFB, 0xFB, 0xFB, 0xFB}},
         }) {
        sys_exact_timing(exact);
        reset();
        ASSERT_EQ(0, cpu_6502_init());
        const uint8_t lo = static_cast<uint8_t>(reg), hi = static_cast<uint8_t>(reg + 1);
        std::vector<uint8_t> program = {0xA9, uint8_t(acr), 0x8D, 0x0B, 0x03, 0xA9, 0x04, 0x8D,
                                        lo,   0x03,         0xA9, 0x00, 0x8D, hi,   0x03};
        for (int i = 0; i < 6; i++)
            program.insert(program.end(), {0xAD, lo, 0x03, 0x48});
        code(FIX_RESET, program);
        for (int i = 0; i < 6 + 12; i++)
            via_6522_run(exact ? cpu_6502_run_exact() : cpu_6502_run());
        reads got;
        for (int i = 0; i < 6; i++)
            got[i] = ram_range(0x01FC - i, 1)[0]; // pushed from 0x01FC down
        EXPECT_EQ(want, got) << "exact " << exact << ", register " << reg;
    }
}

// Exact timing times each access at its own cycle of the instruction: T1
// loaded with 0xFF by STA abs (its 4th cycle) or STA abs,X (its 5th), then
// read by LDA abs (4th), LDA abs,X carrying (5th), LDA (zp),Y carrying (6th)
// and LDA abs again, each followed by PHA: 4, 12, 21 and 28 cycles after the
// load the counter reads 0xFF less 3, 11, 20 and 27.
TEST_F(Via6522Timers, ExactTimingTimesEachAccessAtItsOwnCycle) {
    using reads = std::array<uint8_t, 4>;
    for (auto [exact, store, want] : {
             std::tuple{1, std::vector<uint8_t>{0x8D, 0x05, 0x03}, reads{0xFC, 0xF4, 0xEB, 0xE4}},
             {1, {0x9D, 0xF5, 0x02}, reads{0xFC, 0xF4, 0xEB, 0xE4}},
             {0, {0x8D, 0x05, 0x03}, reads{0xFB, 0xF4, 0xED, 0xE5}},
         }) {
        reset();
        ASSERT_EQ(0, cpu_6502_init());
        poke(0x80, {0xF4, 0x02});
        std::vector<uint8_t> program = {0xA2, 0x10, 0xA0, 0x10, 0xA9, 0xFF,
                                        0x8D, 0x04, 0x03, 0xA9, 0x00};
        program.insert(program.end(), store.begin(), store.end());
        program.insert(program.end(), {0xAD, 0x04, 0x03, 0x48, 0xBD, 0xF4, 0x02, 0x48, 0xB1, 0x80,
                                       0x48, 0xAD, 0x04, 0x03, 0x48});
        code(FIX_RESET, program);
        sys_exact_timing(exact);
        for (int i = 0; i < 6 + 8; i++)
            via_6522_run(exact ? cpu_6502_run_exact() : cpu_6502_run());
        const std::vector<uint8_t> pushed = ram_range(0x01F9, 4); // the last pushed lowest
        EXPECT_EQ(want, (reads{pushed[3], pushed[2], pushed[1], pushed[0]})) << "exact " << exact;
    }
}

// Exact timing's extra bus cycles, seen in the flags: an indexed store reads
// the address before the carry ($0304, T1C_L, whose read clears T1's flag),
// an indexed read when it carries; read-modify-write writes the byte
// unchanged before the result (LSR IFR: 0x20 clears T2's flag, 0x10 would not).
TEST_F(Via6522Timers, ExactTimingMakesThePartialReadsAndTheUnchangedWrite) {
    using bytes = std::vector<uint8_t>;
    for (auto [exact, program, flag] : {
             std::tuple{0, bytes{0x9D, 0xF4, 0x03}, 0x40}, // STA $03F4,X
             {1, bytes{0x9D, 0xF4, 0x03}, 0x00},
             {0, bytes{0xBD, 0xF4, 0x03}, 0x40}, // LDA $03F4,X
             {1, bytes{0xBD, 0xF4, 0x03}, 0x00},
             {1, bytes{0x91, 0x80}, 0x00},       // STA ($80),Y
             {1, bytes{0x1E, 0xF4, 0x03}, 0x00}, // ASL $03F4,X
             {0, bytes{0x4E, 0x0D, 0x03}, 0x20}, // LSR IFR
             {1, bytes{0x4E, 0x0D, 0x03}, 0x00},
         }) {
        reset();
        const bool t2 = program[0] == 0x4E;
        play(t2 ? "B=00 8=01 9=00 +5" : "B=00 4=01 5=00 +5"); // one shot: the flag, IRQ off
        poke(0x80, {0xF4, 0x03});
        code(0x1000, program);
        cpu_6502.xreg = 0x10, cpu_6502.yreg = 0x10;
        via_6522_run(exact ? cpu_6502_run_exact() : cpu_6502_run());
        EXPECT_EQ(flag, rd(VIA_IFR)) << "exact " << exact << ", opcode " << int{program[0]};
    }
}

} // namespace
