// The VIA's interrupt output as the processor sees it: 6502 programs in RAM.
#include <gtest/gtest.h>

#include <vector>

#include "cpu_6502.h"
#include "mem.h"
#include "ram.h"
#include "sys_cfg.h"
#include "sys_core.h"
#include "test_util.h"
#include "via_6522.h"

namespace {

constexpr uint16_t PROGRAM = 0x0400;
constexpr uint16_t HANDLER = 0x0500;
constexpr uint16_t COUNT = 0x0010; // IRQs taken, counted by the handler

void poke(unsigned addr, std::vector<uint8_t> bytes) {
    for (uint8_t b : bytes)
        ram_write(addr++, b);
}

uint8_t peek(unsigned addr) {
    uint8_t v = 0;
    ram_read(addr, &v);
    return v;
}

// Runs whole instructions until at least `cycles` cycles have passed.
long run_cycles(long cycles) {
    long used = 0;
    while (used < cycles) {
        int n = 0;
        sys_systemloop(&n);
        used += n;
    }
    return used;
}

struct Machine : ::testing::Test {
    TempDir dir;
    void SetUp() override {
        sys_cfg_defaults();
        sys_apply_config();
        sys_queue_reset();
        mem_init();
        mem_write(0x0381, 0); // vectors from the RAM under the ROM
        ASSERT_EQ(0, via_6522_init());
        poke(0xFFFC, {PROGRAM & 0xFF, PROGRAM >> 8});
        poke(0xFFFE, {HANDLER & 0xFF, HANDLER >> 8});
        // Handler: acknowledge timer 1 by reading its low counter, count.
        poke(HANDLER, {
                          0x48,             // PHA
                          0xAD, 0x04, 0x03, // LDA T1C_L
                          0xE6, COUNT,      // INC COUNT
                          0x68,             // PLA
                          0x40,             // RTI
                      });
    }
    void start(std::vector<uint8_t> program) {
        poke(PROGRAM, program);
        ASSERT_EQ(0, cpu_6502_init());
    }
};

using Via6522ProcessorIrq = Machine;

TEST_F(Via6522ProcessorIrq, FreeRunningTimerInterruptsEveryLatchPlusOneCycles) {
    start({
        0x78,             // SEI
        0xA9, 0xC0,       // LDA #$C0
        0x8D, 0x0E, 0x03, // STA IER: enable timer 1
        0xA9, 0x40,       // LDA #$40
        0x8D, 0x0B, 0x03, // STA ACR: free-running
        0xA9, 0xE7,       // LDA #$E7
        0x8D, 0x04, 0x03, // STA T1C_L
        0xA9, 0x03,       // LDA #$03
        0x8D, 0x05, 0x03, // STA T1C_H: latch 999, go
        0x58,             // CLI
        0x4C, 0x16, 0x04, // JMP *
    });
    run_cycles(40); // set-up done, timer just started
    EXPECT_EQ(0, peek(COUNT));
    run_cycles(100000);
    // 1000 cycles per interrupt, whatever the handler costs.
    EXPECT_GE(peek(COUNT), 99);
    EXPECT_LE(peek(COUNT), 100);
    run_cycles(100000);
    EXPECT_GE(peek(COUNT), 199);
    EXPECT_LE(peek(COUNT), 200);
}

TEST_F(Via6522ProcessorIrq, MaskedSourceNeverReachesTheProcessor) {
    start({
        0xA9, 0x40,       // LDA #$40
        0x8D, 0x0B, 0x03, // STA ACR: free-running, interrupt not enabled
        0xA9, 0x10,       // LDA #$10
        0x8D, 0x05, 0x03, // STA T1C_H
        0x58,             // CLI
        0x4C, 0x0B, 0x04, // JMP *
    });
    run_cycles(50000);
    EXPECT_EQ(0, peek(COUNT));
    uint8_t ifr = 0;
    via_6522_read(VIA_BASE + VIA_IFR, &ifr);
    EXPECT_EQ(VIA_INT_T1, ifr);
}

TEST_F(Via6522ProcessorIrq, IrqInputFollowsTheSummaryBit) {
    start({0x4C, 0x00, 0x04}); // JMP *, interrupts masked from reset
    via_6522_write(VIA_BASE + VIA_IER, 0xA0);
    via_6522_write(VIA_BASE + VIA_T2C_L, 5);
    via_6522_write(VIA_BASE + VIA_T2C_H, 0);
    via_6522_run(5);
    EXPECT_EQ(0, cpu_6502.flagirq & 2);
    via_6522_run(1);
    EXPECT_EQ(2, cpu_6502.flagirq & 2);
    via_6522_write(VIA_BASE + VIA_IER, 0x20); // disable: released
    EXPECT_EQ(0, cpu_6502.flagirq & 2);
    via_6522_write(VIA_BASE + VIA_IER, 0xA0); // enable again: asserted at once
    EXPECT_EQ(2, cpu_6502.flagirq & 2);
    uint8_t v = 0;
    via_6522_read(VIA_BASE + VIA_T2C_L, &v); // acknowledge
    EXPECT_EQ(0, cpu_6502.flagirq & 2);
}

TEST_F(Via6522ProcessorIrq, KeyEventsFromTheQueueReachTheMatrix) {
    // Scan row 6 with column 5 low and store port B at $20, forever.
    start({
        0xA9, 0xFF,       // LDA #$FF
        0x8D, 0x03, 0x03, // STA DDRA
        0xA9, 0xDF,       // LDA #$DF
        0x8D, 0x01, 0x03, // STA IORA: column mask on the data bus
        0xA9, 0xF7,       // LDA #$F7
        0x8D, 0x02, 0x03, // STA DDRB
        0xA9, 0x06,       // LDA #$06
        0x8D, 0x00, 0x03, // STA IORB: row 6
        0xAD, 0x00, 0x03, // loop: LDA IORB
        0x85, 0x20,       // STA $20
        0x4C, 0x14, 0x04, // JMP loop
    });
    run_cycles(200);
    EXPECT_EQ(0x06, peek(0x20));
    push_event({EV_KEY_DOWN, 97}); // 'a': row 6, column 5
    run_cycles(200);
    EXPECT_EQ(0x0E, peek(0x20));
    push_event({EV_KEY_UP, 97});
    run_cycles(200);
    EXPECT_EQ(0x06, peek(0x20));
}

} // namespace
