// The emulation step with the real processor: one instruction, then one
// cycle step per cycle it took, each taking at most one queued event.
#include <gtest/gtest.h>

#include <vector>

#include "cpu_6502.h"
#include "mem.h"
#include "ram.h"
#include "sys_core.h"

namespace {

class SysCoreCpu : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(0, mem_init());
        hiram = 1;
        mem = ram_getptr();
        mem[0xFFFC] = 0x00; // reset vector 0x0400
        mem[0xFFFD] = 0x04;
        mem[0xFFFA] = 0x00; // NMI vector 0x0800
        mem[0xFFFB] = 0x08;
        ASSERT_EQ(0, cpu_6502_init());
        sys_queue_reset();
        speed = 1;
        zoom = 1;
    }
    void TearDown() override {
        sys_queue_reset();
        hiram = 0;
        speed = 1;
        zoom = 1;
    }
    void code(uint16_t addr, const std::vector<uint8_t> &bytes) {
        for (size_t i = 0; i < bytes.size(); i++)
            mem[addr + i] = bytes[i];
        cpu_6502.pcreg = addr;
    }
    void push(int32_t code) { ASSERT_EQ(0, push_event({code, 0})); }
    int pending() {
        int n = 0;
        event ev;
        while (pull_event(&ev) == 0)
            n++;
        return n;
    }
    uint8_t *mem = nullptr;
};

TEST_F(SysCoreCpu, SevenCycleInstructionTakesUpToSevenEvents) {
    code(0x1000, {0xFE, 0x00, 0x20}); // INC $2000,X: 7 cycles
    for (int i = 0; i < 3; i++)
        push(EV_KEY_DOWN);
    int cycles = 0;
    EXPECT_EQ(0, sys_systemloop(&cycles));
    EXPECT_EQ(7, cycles);
    EXPECT_EQ(0, pending()); // all three taken, the other four polls found nothing

    code(0x1000, {0xFE, 0x00, 0x20});
    for (int i = 0; i < 9; i++)
        push(EV_KEY_UP);
    EXPECT_EQ(0, sys_systemloop(&cycles));
    EXPECT_EQ(7, cycles);
    EXPECT_EQ(2, pending()); // one event per cycle step, no more
}

TEST_F(SysCoreCpu, EventsActBeforeTheNextCycleStep) {
    code(0x1000, {0xEA, 0xEA}); // two cycles
    push(EV_SPEED_UP);
    push(EV_SPEED_UP);
    push(EV_SPEED_UP);
    int cycles = 0;
    sys_systemloop(&cycles);
    EXPECT_EQ(2, cycles);
    EXPECT_EQ(4, speed); // two taken: 1 -> 2 -> 4
    EXPECT_EQ(1, pending());
}

TEST_F(SysCoreCpu, ResetInTheMiddleLetsTheCatchUpRunOn) {
    code(0x1000, {0xEE, 0x00, 0x20}); // INC $2000: 6 cycles
    push(EV_KEY_DOWN);
    push(EV_RESET);
    push(EV_ZOOM_IN);
    int cycles = 0;
    sys_systemloop(&cycles);
    EXPECT_EQ(6, cycles);
    EXPECT_EQ(1, mem[0x2000]);         // the instruction ran whole first
    EXPECT_EQ(0x0400, cpu_6502.pcreg); // then the reset took the vector
    EXPECT_EQ(7u, cpu_6502_cycles());  // counted from the reset
    EXPECT_EQ(2, zoom);                // and the cycle steps after it went on
    EXPECT_EQ(0, pending());
}

TEST_F(SysCoreCpu, NmiEventIsEnteredAfterTheNextInstruction) {
    mem[0x0800] = 0xEA;
    code(0x1000, {0xEA, 0xEA});
    push(EV_NMI_SET);
    push(EV_NMI_CLEAR);
    int cycles = 0;
    sys_systemloop(&cycles);
    EXPECT_EQ(2, cycles);
    EXPECT_EQ(0x1001, cpu_6502.pcreg);
    sys_systemloop(&cycles);
    EXPECT_EQ(2 + 7, cycles); // the latched edge survives the release
    EXPECT_EQ(0x0800, cpu_6502.pcreg);
    sys_systemloop(&cycles);
    EXPECT_EQ(2, cycles); // one edge, one entry
    EXPECT_EQ(0x0801, cpu_6502.pcreg);
}

// The step's result is never below 2 with this processor (every instruction
// takes at least two cycles), so the "nothing happens" branch for a result
// of 0 or less cannot be reached from here.

} // namespace
