// The settings, the event queue, and the emulation step: one instruction, then
// the VIA and the disk controller catch up, a cycle taking at most one event.
#include "sys_core.h"

#include "fixture.h"
#include "sys_cfg.h"

namespace {

TEST(SysCoreQueue, FullRingAcrossTheWrapDropsTheNewcomerAndEmptyGivesNone) {
    sys_queue_reset();
    event ev;
    for (int i = 0; i < 120; i++) // both indices near the end of the ring
        push_event({EV_KEY_DOWN, 0}), pull_event(&ev);
    for (int i = 0; i < QUEUE_SLOTS - 1; i++)
        ASSERT_EQ(0, push_event({EV_KEY_UP, uint64_t(1000 + i)}));
    EXPECT_EQ(1, push_event({EV_KEY_UP, 999}));
    for (int i = 0; i < QUEUE_SLOTS - 1; i++) {
        ASSERT_EQ(0, pull_event(&ev));
        EXPECT_EQ(uint64_t(1000 + i), ev.value);
    }
    EXPECT_EQ(2, pull_event(&ev));
    EXPECT_EQ(0u, ev.code | ev.value);
    EXPECT_EQ(0, push_event({EV_KEY_UP, 5})); // room again once drained
}

class SysCoreStep : public Machine {
  protected:
    void SetUp() override {
        Machine::SetUp();
        ASSERT_EQ(0, via_6522_init());
        sys_queue_reset();
        zoom = speed = 1;
    }
    // One step of `bytes` at 0x1000 with `events` queued first; its cycles.
    int step(const std::vector<uint8_t> &bytes, const std::vector<int32_t> &events) {
        code(0x1000, bytes);
        for (int32_t ev : events)
            EXPECT_EQ(0, push_event({ev, 0}));
        int cycles = 0;
        EXPECT_EQ(0, sys_systemloop(&cycles));
        return cycles;
    }
    int pending() {
        int n = 0;
        for (event ev; pull_event(&ev) == 0;)
            n++;
        return n;
    }
};

TEST_F(SysCoreStep, ConfigSetsTheSettingsWithARefreshFloor) {
    config[CFG_ZOOM].value = 2;
    config[CFG_SPEED].value = 4;
    config[CFG_SOUND].value = 0;
    for (auto [given, used] : {std::pair{5, 20}, {19, 20}, {50, 50}}) {
        config[CFG_REFRESH].value = given;
        sys_apply_config();
        EXPECT_EQ(used, refresh);
    }
    EXPECT_EQ((std::tuple{2, 4, 0}), std::tuple(zoom.load(), speed.load(), sound));
    sys_cfg_defaults();
}

TEST_F(SysCoreStep, ZoomAndSpeedEventsStayInRange) {
    const std::tuple<std::atomic<int> *, int, int32_t, int> rows[] = {
        {&speed, 1, EV_SPEED_UP, 2},   {&speed, 3, EV_SPEED_UP, 4},   {&speed, 4, EV_SPEED_UP, 4},
        {&speed, 0, EV_SPEED_UP, 0},   {&speed, 4, EV_SPEED_DOWN, 2}, {&speed, 3, EV_SPEED_DOWN, 1},
        {&speed, 1, EV_SPEED_DOWN, 1}, {&speed, 0, EV_SPEED_DOWN, 1}, {&zoom, 1, EV_ZOOM_IN, 2},
        {&zoom, 2, EV_ZOOM_IN, 2},     {&zoom, 2, EV_ZOOM_OUT, 1},    {&zoom, 0, EV_ZOOM_OUT, 0},
    };
    for (const auto &[setting, from, ev, to] : rows) {
        *setting = from;
        step({0xEA}, {ev});
        EXPECT_EQ(to, *setting) << "from " << from << ", event " << ev;
    }
}

// Steps clocked in one go, and those within which a timer runs out and that
// go cycle by cycle, both poll the queue once per cycle and count every cycle.
TEST_F(SysCoreStep, EachCycleTakesAtMostOneEvent) {
    for (bool timer_runs_out : {true, false}) {
        via_6522_write(VIA_BASE + VIA_T1C_L, timer_runs_out ? 3 : 0xFF);
        via_6522_write(VIA_BASE + VIA_T1C_H, 0);
        EXPECT_EQ(7, step({0xFE, 0x00, 0x20}, std::vector<int32_t>(9, EV_KEY_UP))); // INC $2000,X
        EXPECT_EQ(2, pending()) << timer_runs_out;
    }
    uint8_t t1 = 0; // the steps clocked in one go came last
    via_6522_read(VIA_BASE + VIA_T1C_L, &t1);
    EXPECT_EQ(0xFF - 7, t1);
}

// A reset at the second cycle step comes before the timer's time-out at the
// fifth, so the IRQ line it forgot is raised again.
TEST_F(SysCoreStep, ResetEventLetsTheInstructionFinishAndTheCyclesRunOn) {
    via_6522_write(VIA_BASE + VIA_IER, 0x80 | VIA_INT_T1);
    via_6522_write(VIA_BASE + VIA_T1C_L, 3);
    via_6522_write(VIA_BASE + VIA_T1C_H, 0); // counts 3, 2, 1, 0, then runs out
    EXPECT_EQ(6, step({0xEE, 0x00, 0x20}, {EV_KEY_DOWN, EV_RESET, EV_ZOOM_IN})); // INC $2000
    EXPECT_EQ(1, ram_getptr()[0x2000]);
    EXPECT_EQ(FIX_RESET, cpu_6502.pcreg);
    EXPECT_EQ(7u, cpu_6502_cycles()); // counted from the reset
    EXPECT_EQ(2, zoom);
    EXPECT_EQ(2, cpu_6502.flagirq);
}

// A frame picks the step of the timing in force; any other step passes as it
// is. LDA $10FF,X with X = 1 shows the timing each step ran.
TEST_F(SysCoreStep, FramesTakeTheStepOfTheTimingInForce) {
    for (int exact : {0, 1, 0}) {
        sys_exact_timing(exact);
        const sys_step_fn timed = sys_timed_step(sys_systemloop);
        EXPECT_EQ(exact ? sys_systemloop_exact : sys_systemloop_simplified, timed);
        EXPECT_EQ(sys_systemloop_exact, sys_timed_step(sys_systemloop_exact));
        for (sys_step_fn f : {sys_systemloop, timed}) {
            code(0x1000, {0xBD, 0xFF, 0x10});
            cpu_6502.xreg = 1;
            int cycles = 0;
            EXPECT_EQ(0, f(&cycles));
            EXPECT_EQ(4 + exact, cycles) << "exact " << exact;
        }
    }
}

// While a recorder listens, the frame's step is one that counts the frame's
// cycles: an event queued before the third LDA $10FF,X (4 cycles each) is
// heard at cycle 9 of the frame, in both timings' counts (5 cycles exact).
TEST_F(SysCoreStep, AListenedFrameHearsEachEventAtItsCycle) {
    static std::vector<uint64_t> heard;
    for (int exact : {0, 1}) {
        sys_exact_timing(exact);
        heard.clear();
        sys_input.heard = [](const event &, uint64_t at) { heard.push_back(at); };
        const sys_step_fn timed = sys_timed_step(sys_systemloop);
        EXPECT_NE(exact ? sys_systemloop_exact : sys_systemloop_simplified, timed);
        sys_frame_begin();
        for (int i = 0; i < 3; i++) {
            code(0x1000, {0xBD, 0xFF, 0x10});
            cpu_6502.xreg = 1;
            if (i == 2) {
                EXPECT_EQ(0, push_event({EV_ZOOM_IN, 0}));
            }
            int cycles = 0;
            EXPECT_EQ(0, timed(&cycles));
        }
        sys_input.heard = nullptr;
        EXPECT_EQ(std::vector<uint64_t>{2u * (4 + exact) + 1}, heard) << "exact " << exact;
    }
    sys_exact_timing(0);
}

TEST_F(SysCoreStep, NmiEventIsEnteredAfterTheNextInstruction) {
    poke(FIX_NMI, {0xEA});
    EXPECT_EQ(2, step({0xEA}, {EV_NMI_SET, EV_NMI_CLEAR}));
    EXPECT_EQ(2 + 7, step({0xEA}, {})); // the latched edge outlives the release
    EXPECT_EQ(FIX_NMI, cpu_6502.pcreg);
}

} // namespace
