// The processor's reset, interrupts, undocumented opcodes, ways to memory and
// tape short-cuts; the single-step test checks each opcode, decimal mode too.
#include <cstring>

#include "fixture.h"
#include "rom.h"

namespace {

using bytes = std::vector<uint8_t>;

class Cpu6502Interrupts : public Machine {};

TEST_F(Cpu6502Interrupts, ResetTakesTheVectorAndForgetsTheInputs) {
    cpu_6502_setirq();
    cpu_6502_setnmi();
    set_word(0xFFFC, 0xC123);
    ASSERT_EQ(0, cpu_6502_init());
    EXPECT_EQ(0xC123, cpu_6502.pcreg);
    EXPECT_EQ(0x01FC, cpu_6502.stack);
    EXPECT_EQ(bytes({0xF7, 0xFF, 0xFF, 0xFF}),
              bytes({cpu_6502.flags, cpu_6502.areg, cpu_6502.xreg, cpu_6502.yreg}));
    EXPECT_EQ(0, cpu_6502.flagirq | cpu_6502.flagnmi | cpu_6502.flanknmi);
    EXPECT_EQ(7u, cpu_6502_cycles());
}

// From D set and I clear: an IRQ after decimal ADC #$01 on 0x19, and BRK, in
// both timings; only the exact one lets the IRQ entry keep D, as the NMOS part does.
TEST_F(Cpu6502Interrupts, IrqPushesWithoutBAndClearsDecimalUnlessExactBrkKeepsIt) {
    for (auto [brk, exact, cycles, pushed, after] : {std::tuple{0, 0, 2 + 7, 0x28, 0x34},
                                                     {0, 1, 2 + 7, 0x28, 0x3C},
                                                     {1, 0, 7, 0x38, 0x3C},
                                                     {1, 1, 7, 0x38, 0x3C}}) {
        ASSERT_EQ(0, cpu_6502_init());
        cpu_6502.flags = 0x08; // B and bit 5 read 1 again after the step
        cpu_6502.areg = 0x19;
        if (!brk) cpu_6502_setirq();
        code(0x1000, brk ? bytes{0x00, 0xFF} : bytes{0x69, 0x01}); // BRK skips a byte
        EXPECT_EQ(cycles, exact ? cpu_6502_run_exact() : cpu_6502_run());
        EXPECT_EQ(7u + cycles, cpu_6502_cycles());
        EXPECT_EQ(brk ? 0x19 : 0x20, cpu_6502.areg);
        EXPECT_EQ(FIX_IRQ, cpu_6502.pcreg);
        EXPECT_EQ(bytes({uint8_t(pushed), 0x02, 0x10}), ram_range(0x01FA, 3)); // status, 0x1002
        EXPECT_EQ(after, cpu_6502.flags) << "exact " << exact;                 // I set, B reads 1
    }
}

TEST_F(Cpu6502Interrupts, IrqIsALevelMaskedByI) {
    poke(FIX_IRQ, {0x40});                              // RTI
    code(0x1000, {0x58, 0x78, 0xA9, 0x00, 0x48, 0x28}); // CLI; SEI; LDA #0; PHA; PLP
    cpu_6502_setirq();
    EXPECT_EQ(2 + 7, cpu_6502_step());
    EXPECT_EQ(6 + 7, cpu_6502_step()); // RTI brings I back clear: taken again
    cpu_6502_clrirq();
    EXPECT_EQ(6, cpu_6502_step()); // back to 0x1001
    cpu_6502_setirq();
    for (int cycles : {2, 2, 3}) // SEI, LDA, PHA: the line waits
        EXPECT_EQ(cycles, cpu_6502_step());
    EXPECT_EQ(4 + 7, cpu_6502_step()); // PLP clears I: taken at once
    EXPECT_EQ(FIX_IRQ, cpu_6502.pcreg);
}

TEST_F(Cpu6502Interrupts, NmiIsAnEdgeThatWinsOverIrq) {
    poke(FIX_NMI, bytes(8, 0xEA));
    code(0x1000, {0x58}); // CLI
    cpu_6502_setirq();
    cpu_6502_setnmi();
    auto entered = [] { return cpu_6502_step() > 7; };
    EXPECT_TRUE(entered());
    EXPECT_EQ(FIX_NMI, cpu_6502.pcreg); // and the entry sets I: the IRQ waits
    cpu_6502_setnmi();                  // still active: no new edge
    EXPECT_FALSE(entered());
    cpu_6502_clrnmi();
    cpu_6502_setnmi();
    cpu_6502_clrnmi();
    cpu_6502_setnmi(); // two edges before a step are one NMI,
    cpu_6502_clrnmi(); // and the latch outlives the line
    EXPECT_TRUE(entered());
    EXPECT_FALSE(entered());
}

class Cpu6502Undocumented : public Machine {};

TEST_F(Cpu6502Undocumented, HaltHoldsUntilAnInterruptAndEachPlaceIsReportedOnce) {
    poke(FIX_NMI, {0xEA});
    code(0x2000, {0x02});
    testing::internal::CaptureStdout();
    for (int i = 0; i < 100; i++)
        ASSERT_EQ(2, cpu_6502_run());
    cpu_6502_setnmi();
    EXPECT_EQ(2 + 7, cpu_6502_step());
    EXPECT_EQ(0x2000, word(0x01FB)); // the halt's own address was pushed
    for (const bytes &ops : {bytes{0x1A, 0xFA}, {0x3A}, {0x1A}}) { // the last seen at 0x3000
        code(0x3000, ops);
        for (size_t i = 0; i < ops.size(); i++)
            cpu_6502_step();
    }
    cpu_6502_init(); // forgets what was reported
    code(0x3000, {0x1A});
    cpu_6502_step();
    EXPECT_EQ("invalid opcode: 2000: 02\ninvalid opcode: 3000: 1A\ninvalid opcode: 3001: FA\n"
              "invalid opcode: 3000: 3A\ninvalid opcode: 3000: 1A\n",
              testing::internal::GetCapturedStdout());
}

TEST_F(Cpu6502Undocumented, ReportsStopAfterACapWithOneNotice) {
    code(0x4000, bytes(1000, 0x1A));
    testing::internal::CaptureStdout();
    for (int i = 0; i < 1000; i++)
        cpu_6502_step();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(192 + 1, std::count(out.begin(), out.end(), '\n'));
}

class Cpu6502Memory : public Machine {};

// Plain code that meets a device or the display range goes through the
// decoder, and the instruction still acts once.
TEST_F(Cpu6502Memory, DevicesAndTheDisplayRangeAreReachedOnce) {
    ASSERT_EQ(0, via_6522_init());
    poke(0x9800, {0x80});
    poke(0xBFF0, {0x01});
    cpu_6502.flags = 0x30; // carry clear: a rotate applied twice would bring it in
    cpu_6502.areg = 0xA5;
    cpu_6502.xreg = 1;
    // ROL $9800; ROR $BFEF,X; STA $0306; LDX $0306; INC $0306; LDY $0306
    code(0x1000, {0x2E, 0x00, 0x98, 0x7E, 0xEF, 0xBF, 0x8D, 0x06, 0x03, 0xAE, 0x06, 0x03, 0xEE,
                  0x06, 0x03, 0xAC, 0x06, 0x03});
    for (int cycles : {6, 7, 4, 4, 6, 4})
        EXPECT_EQ(cycles, cpu_6502_run());
    EXPECT_EQ(bytes({0x00, 0x80}), bytes({ram_getptr()[0x9800], ram_getptr()[0xBFF0]}));
    EXPECT_EQ(0xA5, cpu_6502.xreg); // the timer latch, not RAM
    EXPECT_EQ(0xA6, cpu_6502.yreg);
    EXPECT_EQ(0x00, ram_getptr()[0x0306]); // RAM under the I/O page untouched
}

// Instruction bytes are read from plain RAM, the system ROM or the RAM under
// it, up to the last byte of each range: LDX #imm or LDX $1010 each time. The
// indirect jump reads its pointer within one page.
TEST_F(Cpu6502Memory, InstructionBytesComeFromWhereTheyLie) {
    rom.data[0x0000] = 0x5A;
    rom.data[0x0010] = 0xA2; // 0xC010: LDX #$3C in ROM, LDX #$77 in the RAM under it
    rom.data[0x0011] = 0x3C;
    poke(0xC010, {0xA2, 0x77});
    poke(0x1010, {0x3C});
    // clang-format off
    const std::tuple<int, uint16_t, const char *, uint8_t> rows[] = {
        {0, 0xBFFF, "\xA2", 0x5A}, {0, 0xC010, "", 0x3C}, {1, 0xC010, "", 0x77},
        {0, 0x00FE, "\xA2\x42", 0x42}, {0, 0x02FB, "\xAE\x10\x10", 0x3C},
        {0, 0x02FE, "\xA2\x24", 0x24}, {0, 0xBFFE, "\xA2\x24", 0x24}, {1, 0xFFFE, "\xA2\x42", 0x42}};
    // clang-format on
    for (const auto &[high_ram, at, ldx, x] : rows) {
        hiram = high_ram;
        code(at, bytes(ldx, ldx + strlen(ldx)));
        cpu_6502.xreg = 0;
        cpu_6502_run();
        EXPECT_EQ(x, cpu_6502.xreg) << std::hex << at;
        EXPECT_EQ((at + std::max<size_t>(strlen(ldx), 2)) & 0xFFFF, cpu_6502.pcreg);
    }
    poke(0x20FF, {0x34, 0x56}); // 0x2100 would be the high byte if it left the page
    poke(0x2000, {0x12});
    code(0x0400, {0x6C, 0xFF, 0x20}); // JMP ($20FF)
    EXPECT_EQ(5, cpu_6502_run());
    EXPECT_EQ(0x1234, cpu_6502.pcreg);
}

} // namespace
