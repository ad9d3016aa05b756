// The monitor: breakpoints, watches and steps stop the machine where they
// should, a stopped machine stands still but resets, and a run broken up by
// stops ends as an uninterrupted one.
#include "sys_debug.h"

#include "fixture.h"
#include "sys_core.h"

namespace {

int keep_monitor_line(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    keep_log_line(fmt, ap);
    va_end(ap);
    return 0;
}

class SysDebug : public Machine {
  protected:
    void SetUp() override {
        Machine::SetUp();
        sys_queue_reset();
        ASSERT_EQ(0, sys_debug_init());
        logged.clear();
        sys_debug_set_printer(keep_monitor_line);
        // 0400: ldx #0; jsr 0410; inx; sta $2000; jmp 0409
        // 0410: lda #$42; sta $80; rts
        code(FIX_RESET, {0xA2, 0x00, 0x20, 0x10, 0x04, 0xE8, 0x8D, 0x00, 0x20, 0x4C, 0x09, 0x04});
        poke(0x0410, {0xA9, 0x42, 0x85, 0x80, 0x60});
    }
    void TearDown() override {
        sys_debug_init();
        sys_debug_set_printer(nullptr);
        Machine::TearDown();
    }
    // Steps as frames do until the machine stops; the state it stopped in.
    int32_t run(int limit = 100) {
        dbg_stop stop{};
        for (int i = 0; i < limit && stop.state == DBG_RUNNING; i++) {
            int cycles = 0;
            sys_debug_systemloop(&cycles);
            sys_debug_state(&stop);
        }
        return stop.state;
    }
};

TEST_F(SysDebug, ArmedOnlyWhileSomethingIsSet) {
    EXPECT_EQ(0, sys_debug_active());
    sys_debug_break(0x0405);
    sys_debug_watch(0x2000, 0x2001);
    EXPECT_EQ(1, sys_debug_active());
    EXPECT_EQ(TR_WATCH, tr[0] & TR_WATCH);
    EXPECT_EQ(0, sys_debug_unbreak(0x0405));
    EXPECT_EQ(1, sys_debug_unbreak(0x0405));
    EXPECT_EQ(1, sys_debug_unwatch(0x2001));
    EXPECT_EQ(0, sys_debug_unwatch(0x2000));
    EXPECT_EQ(0, sys_debug_active());
    EXPECT_EQ(0, tr[0] & TR_WATCH);
}

TEST_F(SysDebug, BreakpointStopsBeforeItsInstructionAndContinuePassesIt) {
    sys_debug_break(0x0405);
    EXPECT_EQ(DBG_BREAK, run());
    EXPECT_EQ(0x0405, cpu_6502.pcreg);
    EXPECT_EQ(0x42, cpu_6502.areg);
    EXPECT_EQ(0x00, cpu_6502.xreg);
    EXPECT_EQ(1, sys_debug_take_notice());
    EXPECT_EQ(0, sys_debug_take_notice());
    EXPECT_EQ("break at $0405|"
              "> 0405  E8        inx          A=42 X=00 Y=FF S=FC .V-B.I.C|",
              joined_log());
    sys_debug_continue();
    EXPECT_EQ(DBG_RUNNING, run(10));
    EXPECT_EQ(0x0409, cpu_6502.pcreg);
    EXPECT_EQ(0x01, cpu_6502.xreg);
}

TEST_F(SysDebug, WatchStopsAfterTheStoreIntoItsRange) {
    sys_debug_watch(0x0080, 0x0081);
    sys_debug_watch(0x2000, 0x2000);
    EXPECT_EQ(DBG_WATCH, run());
    dbg_stop stop{};
    sys_debug_state(&stop);
    EXPECT_EQ(0x0080, stop.addr);
    EXPECT_EQ(0x42, stop.value);
    EXPECT_EQ(0x0414, cpu_6502.pcreg);
    EXPECT_EQ(0x42, ram_range(0x80, 1)[0]);
    sys_debug_continue();
    EXPECT_EQ(DBG_WATCH, run());
    sys_debug_state(&stop);
    EXPECT_EQ(0x2000, stop.addr);
    EXPECT_EQ(0x0409, cpu_6502.pcreg);
}

TEST_F(SysDebug, StepsShowEachInstructionOverAndReturnRunSubroutines) {
    sys_debug_pause();
    EXPECT_EQ(DBG_PAUSED, run());
    sys_debug_step(2); // ldx, then into the subroutine
    EXPECT_EQ(DBG_STEPPED, run());
    EXPECT_EQ(0x0410, cpu_6502.pcreg);
    sys_debug_return();
    EXPECT_EQ(DBG_STEPPED, run());
    EXPECT_EQ(0x0405, cpu_6502.pcreg);
    EXPECT_EQ(0x42, cpu_6502.areg);
    cpu_6502.pcreg = 0x0402;
    logged.clear();
    sys_debug_over();
    EXPECT_EQ(DBG_STEPPED, run());
    EXPECT_EQ(0x0405, cpu_6502.pcreg);
    EXPECT_EQ(0x01FC, cpu_6502.stack);
    EXPECT_EQ(1u, logged.size()); // only the stop: the subroutine ran unshown
    logged.clear();
    sys_debug_over(); // not at a JSR: one step
    EXPECT_EQ(DBG_STEPPED, run());
    EXPECT_EQ("  0405  E8        inx          A=42 X=00 Y=FF S=FC .V-B.I.C|"
              "> 0406  8D 00 20  sta $2000    A=42 X=01 Y=FF S=FC .V-B.I.C|",
              joined_log());
}

TEST_F(SysDebug, StoppedMachineStandsStillButResetsAndContinues) {
    sys_debug_pause();
    int cycles = 1;
    EXPECT_EQ(0, sys_debug_systemloop(&cycles));
    EXPECT_EQ(0, cycles);
    EXPECT_EQ(FIX_RESET, cpu_6502.pcreg);
    sys_debug_step(2);
    EXPECT_EQ(DBG_STEPPED, run());
    EXPECT_EQ(0x0410, cpu_6502.pcreg);
    sys_debug_pause(); // already stopped: no change
    push_event({EV_RESET, 0});
    EXPECT_EQ(DBG_STEPPED, run(3));
    EXPECT_EQ(FIX_RESET, cpu_6502.pcreg);
    sys_debug_break(0x0409);
    sys_debug_continue();
    EXPECT_EQ(DBG_BREAK, run());
}

// Stops and continues change nothing the program sees, cycles included.
TEST_F(SysDebug, ContinuedRunEndsAsAnUninterruptedOne) {
    std::vector<uint64_t> ends;
    for (bool interrupted : {false, true}) {
        ASSERT_EQ(0, cpu_6502_init());
        if (interrupted) {
            sys_debug_break(0x0410);
            sys_debug_watch(0x0080, 0x0080);
        }
        int stops = 0;
        for (int i = 0; i < 100 && cpu_6502.pcreg != 0x0409; i++) {
            int cycles = 0;
            sys_debug_systemloop(&cycles);
            dbg_stop stop{};
            sys_debug_state(&stop);
            if (stop.state != DBG_RUNNING) stops++, sys_debug_continue();
        }
        EXPECT_EQ(interrupted ? 2 : 0, stops);
        ends.push_back(cpu_6502_cycles() << 24 | cpu_6502.areg << 16 | cpu_6502.xreg << 8 |
                       (cpu_6502.stack & 0xFF));
        sys_debug_init();
    }
    EXPECT_EQ(ends[0], ends[1]);
}

} // namespace
