#include "via_6522.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "log.h"
#include "sys_cfg.h"
#include "test_util.h"

namespace {

// Every handler call in order: line name and the value passed or returned.
struct call {
    std::string line;
    int value;
    bool operator==(const call &o) const { return line == o.line && value == o.value; }
};
std::vector<call> calls;
uint8_t pa_pins = 0x5A;
uint8_t pb_pins = 0xC3;
uint8_t cb2_pin = 0;

uint8_t rec_pa_r() {
    calls.push_back({"pa_r", pa_pins});
    return pa_pins;
}
void rec_pa_w(uint8_t v) {
    calls.push_back({"pa_w", v});
}
uint8_t rec_pb_r() {
    calls.push_back({"pb_r", pb_pins});
    return pb_pins;
}
void rec_pb_w(uint8_t v) {
    calls.push_back({"pb_w", v});
}
void rec_ca2_w(uint8_t v) {
    calls.push_back({"ca2_w", v});
}
void rec_cb2_w(uint8_t v) {
    calls.push_back({"cb2_w", v});
}
uint8_t rec_cb2_r() {
    return cb2_pin;
}

uint8_t rd(uint8_t reg) {
    uint8_t v = 0xEE;
    via_6522_read(VIA_BASE + reg, &v);
    return v;
}
void wr(uint8_t reg, uint8_t v) {
    via_6522_write(VIA_BASE + reg, v);
}
uint8_t ifr() {
    return rd(VIA_IFR);
}

// Cycles until the timer 1 flag shows, at most `limit`.
int cycles_until_t1(int limit) {
    for (int n = 1; n <= limit; n++) {
        via_6522_run(1);
        if (ifr() & VIA_INT_T1) return n;
    }
    return -1;
}

struct Via : ::testing::Test {
    via_state *via = nullptr;
    void SetUp() override {
        sys_cfg_defaults();
        ASSERT_EQ(0, via_6522_init());
        ASSERT_EQ(0, via_6522_getctx(&via));
        via->handlers = {rec_pa_r, rec_pa_w,  rec_pb_r, rec_pb_w, nullptr,   nullptr,
                         nullptr,  rec_ca2_w, nullptr,  nullptr,  rec_cb2_r, rec_cb2_w};
        calls.clear();
        logged.clear();
        pa_pins = 0x5A;
        pb_pins = 0xC3;
        cb2_pin = 0;
    }
    void TearDown() override {
        tr[0] = tr[1] = 0;
        log_info_hook(nullptr);
        log_verbosity(0);
    }
};

using Via6522Timer1 = Via;
using Via6522Timer2 = Via;
using Via6522Interrupts = Via;
using Via6522Ports = Via;
using Via6522Handshake = Via;
using Via6522ShiftRegister = Via;
using Via6522Registers = Via;

TEST_F(Via6522Timer1, FreeRunningTimesOutEveryNPlusOneCycles) {
    for (int n : {0, 1, 5, 300}) {
        SCOPED_TRACE(n);
        wr(VIA_ACR, 0x40);
        wr(VIA_T1C_L, static_cast<uint8_t>(n & 0xFF));
        wr(VIA_T1C_H, static_cast<uint8_t>(n >> 8));
        EXPECT_EQ(n + 1, cycles_until_t1(1000));
        for (int period = 0; period < 3; period++) {
            rd(VIA_T1C_L); // acknowledge
            EXPECT_EQ(n + 1, cycles_until_t1(1000));
        }
    }
}

TEST_F(Via6522Timer1, OneShotInterruptsOnceStopsAndHoldsTheLatch) {
    wr(VIA_IER, 0xC0);
    wr(VIA_T1C_L, 0x34);
    wr(VIA_T1C_H, 0x02); // 0x0234
    EXPECT_EQ(0x235, cycles_until_t1(0x1000));
    EXPECT_EQ(0xC0, ifr());
    rd(VIA_T1C_L);
    EXPECT_EQ(0x00, ifr());
    via_6522_run(0x1000);
    EXPECT_EQ(0x00, ifr()) << "a one-shot timer must not fire twice";
    EXPECT_EQ(0x34, rd(VIA_T1C_L));
    EXPECT_EQ(0x02, rd(VIA_T1C_H));
}

TEST_F(Via6522Timer1, LowCounterReadReleasesIrqButHighReadDoesNot) {
    wr(VIA_IER, 0xC0);
    wr(VIA_T1C_L, 3);
    wr(VIA_T1C_H, 0);
    via_6522_run(4);
    ASSERT_EQ(0xC0, ifr());
    rd(VIA_T1C_H);
    EXPECT_EQ(0xC0, ifr());
    rd(VIA_T1C_L);
    EXPECT_EQ(0x00, ifr());
}

TEST_F(Via6522Timer1, LatchHighWriteClearsFlagWithoutStarting) {
    wr(VIA_T1C_L, 2);
    wr(VIA_T1C_H, 0);
    via_6522_run(3);
    ASSERT_EQ(VIA_INT_T1, ifr());
    wr(VIA_T1L_L, 0x10);
    wr(VIA_T1L_H, 0x00);
    EXPECT_EQ(0, ifr());
    EXPECT_EQ(0x02, rd(VIA_T1C_L)) << "counter still holds the old reload";
    via_6522_run(100);
    EXPECT_EQ(0, ifr()) << "a latch write must not start the timer";
    EXPECT_EQ(0x10, rd(VIA_T1L_L));
}

TEST_F(Via6522Timer1, FreeRunningWithPb7MakesASquareWaveOnPortB) {
    wr(VIA_DDRB, 0xFF);
    wr(VIA_ACR, 0xC0); // free-running, PB7 output; timer not loaded yet but running
    wr(VIA_T1C_L, 9);
    wr(VIA_T1C_H, 0);
    ASSERT_EQ(0, rd(VIA_IORB) & 0x80) << "loading the counter drives PB7 low";
    calls.clear();
    std::vector<int> pb7;
    for (int i = 0; i < 60; i++) {
        via_6522_run(1);
        if (!calls.empty()) {
            EXPECT_EQ("pb_w", calls.back().line);
            pb7.push_back(i);
            EXPECT_EQ((pb7.size() & 1) ? 0x80 : 0x00, calls.back().value & 0x80);
            calls.clear();
        }
    }
    EXPECT_EQ((std::vector<int>{9, 19, 29, 39, 49, 59}), pb7);
    wr(VIA_IORB, 0x80); // bit 7 belongs to the timer
    EXPECT_EQ(0x00, rd(VIA_IORB) & 0x80);
    via_6522_run(10);
    wr(VIA_IORB, 0x00);
    EXPECT_EQ(0x80, rd(VIA_IORB) & 0x80);
}

TEST_F(Via6522Timer1, OneShotPb7GoesHighAtTimeout) {
    wr(VIA_DDRB, 0x7F); // PB7 is an input, yet the timer owns it
    wr(VIA_ACR, 0x80);
    EXPECT_EQ(0x80, rd(VIA_IORB) & 0x80) << "ACR write with timer stopped: PB7 high";
    wr(VIA_T1C_L, 4);
    wr(VIA_T1C_H, 0);
    EXPECT_EQ(0x00, rd(VIA_IORB) & 0x80);
    via_6522_run(4);
    EXPECT_EQ(0x00, rd(VIA_IORB) & 0x80);
    via_6522_run(1);
    EXPECT_EQ(0x80, rd(VIA_IORB) & 0x80);
    wr(VIA_ACR, 0xC0); // PB7 follows the stopped timer, then it restarts from the reload
    EXPECT_EQ(0x80, rd(VIA_IORB) & 0x80);
    via_6522_run(4);
    EXPECT_EQ(0x80, rd(VIA_IORB) & 0x80);
    via_6522_run(1);
    EXPECT_EQ(0x00, rd(VIA_IORB) & 0x80);
}

TEST_F(Via6522Timer2, TimedModeStopsAndReadsAsRunningPastZero) {
    EXPECT_EQ(0xFF, rd(VIA_T2C_H)) << "never started";
    EXPECT_EQ(0xFF, rd(VIA_T2C_L));
    wr(VIA_IER, 0xA0);
    wr(VIA_T2C_L, 0x07);
    wr(VIA_T2C_H, 0x01);
    EXPECT_EQ(0x07, rd(VIA_T2C_L));
    EXPECT_EQ(0x01, rd(VIA_T2C_H));
    via_6522_run(0x107);
    EXPECT_EQ(0x00, ifr());
    EXPECT_EQ(0x00, rd(VIA_T2C_L));
    via_6522_run(1);
    EXPECT_EQ(0xA0, ifr());
    EXPECT_EQ(0xFF, rd(VIA_T2C_H));
    EXPECT_EQ(0xF8, rd(VIA_T2C_L)) << "complement of (0x01 | 0x07); the read also acknowledges";
    EXPECT_EQ(0x00, ifr());
    via_6522_run(0x1000);
    EXPECT_EQ(0x00, ifr()) << "timer 2 is one-shot";
}

TEST_F(Via6522Timer2, PulseCountingLoadsButDoesNotCount) {
    wr(VIA_ACR, 0x20);
    wr(VIA_T2C_L, 0x22);
    wr(VIA_T2C_H, 0x11);
    via_6522_run(0x2000);
    EXPECT_EQ(0x22, rd(VIA_T2C_L));
    EXPECT_EQ(0x11, rd(VIA_T2C_H));
    EXPECT_EQ(0x00, ifr());
}

TEST_F(Via6522Interrupts, FlagRegisterWritesClearSelectedOrAllFlags) {
    wr(VIA_IER, 0xE0);
    wr(VIA_T1C_L, 0);
    wr(VIA_T1C_H, 0);
    wr(VIA_T2C_L, 0);
    wr(VIA_T2C_H, 0);
    via_6522_run(1);
    ASSERT_EQ(0xE0, ifr());
    wr(VIA_IFR, 0x40);
    EXPECT_EQ(0xA0, ifr()) << "0x40 clears timer 1 only; timer 2 keeps the IRQ asserted";
    wr(VIA_T1C_H, 0);
    via_6522_run(1);
    ASSERT_EQ(0xE0, ifr());
    wr(VIA_IFR, 0x80);
    EXPECT_EQ(0x00, ifr()) << "bit 7 clears every flag";
}

TEST_F(Via6522Interrupts, EnableRegisterReadsWithBit7SetAndGatesTheIrq) {
    EXPECT_EQ(0x80, rd(VIA_IER));
    wr(VIA_T1C_L, 0);
    wr(VIA_T1C_H, 0);
    via_6522_run(1);
    EXPECT_EQ(VIA_INT_T1, ifr()) << "flag without enable: no IRQ";
    wr(VIA_IER, 0xC0);
    EXPECT_EQ(0xC0, ifr()) << "enabling a pending source asserts at once";
    EXPECT_EQ(0xC0, rd(VIA_IER));
    wr(VIA_IER, 0x90);
    EXPECT_EQ(0xD0, rd(VIA_IER));
    wr(VIA_IER, 0x40);
    EXPECT_EQ(0x90, rd(VIA_IER));
    EXPECT_EQ(VIA_INT_T1, ifr()) << "disabling releases the line, the flag stays";
}

TEST_F(Via6522Interrupts, PinEdgesRaiseTheirFlagsOnTheActiveEdgeOnly) {
    wr(VIA_IER, 0x9B);
    via_ca1_w(1); // PCR bit 0 = 0: falling edge is active
    EXPECT_EQ(0x00, ifr());
    via_ca1_w(0);
    EXPECT_EQ(0x82, ifr());
    rd(VIA_IORA);
    EXPECT_EQ(0x00, ifr());
    wr(VIA_PCR, 0x51); // CA1 rising, CB1 rising, CB2 rising input
    via_cb1_w(1);
    EXPECT_EQ(0x90, ifr());
    via_cb2_w(1);
    EXPECT_EQ(0x98, ifr());
    rd(VIA_IORB);
    EXPECT_EQ(0x00, ifr());
    via_ca2_w(1); // CA2 input: any change flags
    EXPECT_EQ(0x81, ifr());
    EXPECT_EQ(1, via_ca2_r());
    EXPECT_EQ(1, via_cb2_r());
    EXPECT_EQ(1, via_cb1_r());
    EXPECT_EQ(0, via_ca1_r());
}

TEST_F(Via6522Interrupts, IndependentInputsKeepTheirFlagOnPortAccess) {
    wr(VIA_PCR, 0x22); // CA2 and CB2 independent-interrupt inputs, falling edge
    via_ca2_w(1);
    via_cb2_w(1);
    via_cb2_w(0);
    EXPECT_EQ(VIA_INT_CA2 | VIA_INT_CB2, ifr());
    rd(VIA_IORA);
    rd(VIA_IORB);
    EXPECT_EQ(VIA_INT_CA2 | VIA_INT_CB2, ifr());
    wr(VIA_PCR, 0x00);
    rd(VIA_IORA);
    rd(VIA_IORB);
    EXPECT_EQ(0, ifr());
}

TEST_F(Via6522Ports, OutputByteMixesDirectionAndOutputRegister) {
    wr(VIA_DDRA, 0x0F);
    wr(VIA_IORA, 0xA5);
    wr(VIA_DDRB, 0xF0);
    wr(VIA_IORB, 0x3C);
    std::vector<call> expected = {{"pa_w", 0xF0}, {"pa_w", 0xF5}, {"pb_w", 0x0F}, {"pb_w", 0x3F}};
    EXPECT_EQ(expected, calls);
    calls.clear();
    EXPECT_EQ(0x55, rd(VIA_IORA)) << "pins 0x5A on inputs, ORA 0xA5 on outputs";
    EXPECT_EQ(0x33, rd(VIA_IORB)) << "pins 0xC3 on inputs, ORB 0x3C on outputs";
    EXPECT_EQ((std::vector<call>{{"pa_r", 0x5A}, {"pb_r", 0xC3}}), calls);
}

TEST_F(Via6522Ports, DirectionWritesReportOnlyChanges) {
    wr(VIA_DDRA, 0x00);
    wr(VIA_DDRB, 0x00);
    EXPECT_TRUE(calls.empty());
    wr(VIA_DDRA, 0xFF);
    wr(VIA_DDRA, 0x00);
    EXPECT_EQ((std::vector<call>{{"pa_w", 0x00}, {"pa_w", 0xFF}}), calls);
    calls.clear();
    wr(VIA_IORA, 0x12);
    wr(VIA_IORA2, 0x34);
    EXPECT_TRUE(calls.empty()) << "all-input port A writes reach nobody";
}

TEST_F(Via6522Ports, LatchingAndAllOutputPortsSkipTheReadHandler) {
    wr(VIA_ACR, 0x03);
    pb_pins = 0x77;
    EXPECT_EQ(0x00, rd(VIA_IORB)) << "latched: the stored byte, not the pins";
    EXPECT_EQ(0x00, rd(VIA_IORA));
    EXPECT_EQ(0x00, rd(VIA_IORA2));
    EXPECT_TRUE(calls.empty());
    wr(VIA_ACR, 0x00);
    wr(VIA_DDRA, 0xFF);
    wr(VIA_IORA, 0x81);
    calls.clear();
    EXPECT_EQ(0x81, rd(VIA_IORA));
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(0x81, rd(VIA_IORA2)) << "the second port A register samples anyway";
    EXPECT_EQ((std::vector<call>{{"pa_r", 0x5A}}), calls);
}

TEST_F(Via6522Ports, CA1EdgeLatchesPortAWhenLatchingIsOn) {
    wr(VIA_ACR, 0x01);
    pa_pins = 0x99;
    via_ca1_w(1);
    via_ca1_w(0); // active falling edge
    pa_pins = 0x11;
    EXPECT_EQ(0x99, rd(VIA_IORA));
}

TEST_F(Via6522Ports, MissingReadHandlerKeepsTheStoredInput) {
    via->handlers.pb_r = nullptr;
    via->handlers.pa_r = nullptr;
    via_portb_w(0x6C);
    via_porta_w(0x24);
    log_verbosity(1);
    log_info_hook(keep_log_line);
    tr[0] = TR_MASTER | TR_VIA_NOHANDLER;
    EXPECT_EQ(0x6C, rd(VIA_IORB));
    EXPECT_EQ(0x24, rd(VIA_IORA));
    EXPECT_EQ(0x6C, via_portb_r());
    EXPECT_EQ((std::vector<std::string>{"{!} via Port B is being read but has no handler",
                                        "{!} via Port A is being read but has no handler"}),
              logged);
}

TEST_F(Via6522Handshake, PcrRaisesCa2BeforeCb2AndOnlyOnChange) {
    wr(VIA_PCR, 0xDD);
    EXPECT_TRUE(calls.empty());
    wr(VIA_PCR, 0xFF);
    EXPECT_EQ((std::vector<call>{{"ca2_w", 1}, {"cb2_w", 1}}), calls);
    calls.clear();
    wr(VIA_PCR, 0xFF);
    EXPECT_TRUE(calls.empty());
    wr(VIA_PCR, 0xDF);
    EXPECT_EQ((std::vector<call>{{"cb2_w", 0}}), calls);
    EXPECT_EQ(0xDF, rd(VIA_PCR));
}

TEST_F(Via6522Handshake, Ca2HandshakeDropsOnPortAReadAndRisesOnCa1) {
    wr(VIA_PCR, 0x08); // CA2 handshake output, CA1 falling
    via_ca1_w(1);
    via_ca1_w(0);
    EXPECT_EQ((std::vector<call>{{"ca2_w", 1}}), calls);
    calls.clear();
    rd(VIA_IORA);
    rd(VIA_IORA);
    EXPECT_EQ((std::vector<call>{{"pa_r", 0x5A}, {"ca2_w", 0}, {"pa_r", 0x5A}}), calls);
}

TEST_F(Via6522Handshake, Ca2PulseModeGivesALowThenHighOnEveryPortAWrite) {
    wr(VIA_PCR, 0x0A);
    wr(VIA_IORA, 0x01);
    wr(VIA_IORA2, 0x02); // no handshake on the second register
    EXPECT_EQ((std::vector<call>{{"ca2_w", 0}, {"ca2_w", 1}}), calls);
}

TEST_F(Via6522Handshake, Cb2HandshakeDropsOnPortBWriteAndRisesOnCb1) {
    wr(VIA_PCR, 0x90); // CB2 handshake, CB1 rising
    via_cb1_w(1);
    EXPECT_EQ((std::vector<call>{{"cb2_w", 1}}), calls);
    calls.clear();
    wr(VIA_IORB, 0x42);
    EXPECT_EQ((std::vector<call>{{"pb_w", 0xFF}, {"cb2_w", 0}}), calls);
}

TEST_F(Via6522ShiftRegister, ShiftsInOnCb1EdgesAndFlagsAfterEightBits) {
    wr(VIA_ACR, 0x0C);
    wr(VIA_PCR, 0x10); // CB1 rising edge
    const int bits[8] = {1, 0, 1, 1, 0, 0, 1, 0};
    for (int i = 0; i < 8; i++) {
        EXPECT_EQ(0, ifr() & VIA_INT_SR) << i;
        cb2_pin = static_cast<uint8_t>(bits[i]);
        via_cb1_w(1);
        via_cb1_w(0);
    }
    EXPECT_EQ(VIA_INT_SR, ifr() & VIA_INT_SR);
    EXPECT_EQ(0xB2, rd(VIA_SR));
    EXPECT_EQ(0, ifr() & VIA_INT_SR);
}

TEST_F(Via6522ShiftRegister, ShiftsOutRotatingOntoCb2) {
    wr(VIA_ACR, 0x1C);
    wr(VIA_PCR, 0x10);
    wr(VIA_SR, 0xA3);
    calls.clear();
    for (int i = 0; i < 8; i++) {
        via_cb1_w(1);
        via_cb1_w(0);
    }
    std::vector<int> out;
    for (const call &c : calls) {
        if (c.line == "cb2_w") out.push_back(c.value);
    }
    EXPECT_EQ((std::vector<int>{1, 0, 1, 0, 0, 0, 1, 1}), out);
    EXPECT_EQ(0xA3, rd(VIA_SR)) << "eight rotations restore the byte";
}

TEST_F(Via6522ShiftRegister, TimerClockedModesShiftNothing) {
    wr(VIA_ACR, 0x04);
    wr(VIA_SR, 0x5A);
    via_cb1_w(1);
    via_cb1_w(0);
    via_6522_run(100);
    EXPECT_EQ(0x5A, rd(VIA_SR));
}

TEST_F(Via6522Registers, TraceLinesNameTheRegister) {
    log_verbosity(1);
    log_info_hook(keep_log_line);
    tr[0] = TR_MASTER | TR_VIA | TR_VIA_TIMER;
    wr(VIA_DDRA, 0x3C);
    rd(VIA_DDRA);
    wr(VIA_T1L_L, 0x12);
    via_6522_run(2);
    EXPECT_EQ((std::vector<std::string>{
                  "{W} via:   VIA_DDRA 0303:3C", "{R} via:   VIA_DDRA 0303:3C",
                  "{W} via:  VIA_T1L_L 0306:12", "; via T1L:0012 T1C:0000 T2L:0000 T2C:0000"}),
              logged);
}

TEST_F(Via6522Registers, AddressesOutsideTheChipReadZero) {
    uint8_t v = 0xEE;
    EXPECT_EQ(0, via_6522_read(VIA_BASE + 0x10, &v));
    EXPECT_EQ(0, v);
    EXPECT_EQ(0, via_6522_read(0x02FF, &v));
    EXPECT_EQ(0, v);
}

TEST(Via6522RegistersDeathTest, WriteOutsideTheChipStopsTheProgram) {
    via_6522_init();
    EXPECT_DEATH(via_6522_write(VIA_BASE + 0x10, 0), "addr <= 0x0F");
    EXPECT_DEATH(via_porta_r(), "sources/via_6522");
}

} // namespace
