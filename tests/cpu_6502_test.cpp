// The processor through its public functions: reset, addressing corner
// cases, decimal arithmetic, interrupts, halting opcodes and their message,
// bus traffic per instruction, and the tape short-cuts.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cpu_6502.h"
#include "log.h"
#include "mem.h"
#include "ram.h"
#include "rom.h"
#include "test_util.h"
#include "via_6522.h"
#include "via_6522_tapein.h"

namespace {

constexpr uint16_t RESET_TARGET = 0x0400;
constexpr uint16_t IRQ_HANDLER = 0x0700;
constexpr uint16_t NMI_HANDLER = 0x0800;

// A machine with RAM everywhere outside the I/O page and the vectors set.
class Cpu6502 : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(0, mem_init());
        hiram = 1;
        mem = ram_getptr();
        poke16(0xFFFC, RESET_TARGET);
        poke16(0xFFFE, IRQ_HANDLER);
        poke16(0xFFFA, NMI_HANDLER);
        ASSERT_EQ(0, cpu_6502_init());
    }
    void TearDown() override {
        via_6522_tapein(nullptr, 0);
        tr[0] = tr[1] = 0;
        log_info_hook(nullptr);
        log_verbosity(0);
        hiram = 0;
    }
    void poke16(uint16_t addr, uint16_t value) {
        mem[addr] = value & 0xFF;
        mem[(addr + 1) & 0xFFFF] = value >> 8;
    }
    void load(uint16_t addr, const std::vector<uint8_t> &bytes) {
        for (uint8_t b : bytes)
            mem[addr++] = b;
    }
    // Places code at `addr` and points the processor at it.
    void code(uint16_t addr, const std::vector<uint8_t> &bytes) {
        load(addr, bytes);
        cpu_6502.pcreg = addr;
    }
    // Records every RAM access made from here on as "{R} ram: AAAA:VV" lines.
    void watch_bus() {
        logged.clear();
        log_verbosity(1);
        log_info_hook(keep_log_line);
        tr[0] = TR_MASTER | TR_RAM;
    }
    bool bus_touched(const char *tag, uint16_t addr) {
        char prefix[32];
        snprintf(prefix, sizeof prefix, "%s ram: %04X:", tag, addr);
        for (const std::string &line : logged)
            if (line.rfind(prefix, 0) == 0) return true;
        return false;
    }
    int bus_count(const char *tag) {
        int n = 0;
        for (const std::string &line : logged)
            n += line.rfind(tag, 0) == 0;
        return n;
    }
    uint8_t *mem = nullptr;
};

TEST_F(Cpu6502, ResetLoadsVectorAndKnownState) {
    cpu_6502_setirq();
    cpu_6502_setnmi();
    poke16(0xFFFC, 0xC123);
    ASSERT_EQ(0, cpu_6502_init());
    EXPECT_EQ(0xC123, cpu_6502.pcreg);
    EXPECT_EQ(0x01FC, cpu_6502.stack);
    EXPECT_EQ(0xF7, cpu_6502.flags);
    EXPECT_EQ(0xFF, cpu_6502.areg);
    EXPECT_EQ(0xFF, cpu_6502.xreg);
    EXPECT_EQ(0xFF, cpu_6502.yreg);
    EXPECT_EQ(7u, cpu_6502_cycles());
    // Both inputs are forgotten; nothing was pushed.
    EXPECT_EQ(0, cpu_6502.flagirq);
    EXPECT_EQ(0, cpu_6502.flagnmi);
    EXPECT_EQ(0, cpu_6502.flanknmi);
    EXPECT_EQ(0, mem[0x01FF] | mem[0x01FE] | mem[0x01FD]);
}

TEST_F(Cpu6502, StepCountsCyclesSinceReset) {
    code(0x0400, {0xEA, 0xEE, 0x00, 0x20}); // NOP; INC $2000
    EXPECT_EQ(2, cpu_6502_run());
    EXPECT_EQ(6, cpu_6502_step());
    EXPECT_EQ(7u + 2 + 6, cpu_6502_cycles());
}

TEST_F(Cpu6502, StackWrapsWithinPageOne) {
    cpu_6502.stack = 0x0100;
    cpu_6502.areg = 0xA5;
    code(0x0400, {0x48, 0x68}); // PHA; PLA
    cpu_6502_step();
    EXPECT_EQ(0xA5, mem[0x0100]);
    EXPECT_EQ(0x01FF, cpu_6502.stack);
    mem[0x0100] = 0x3C;
    cpu_6502_step();
    EXPECT_EQ(0x3C, cpu_6502.areg);
    EXPECT_EQ(0x0100, cpu_6502.stack);
}

TEST_F(Cpu6502, TransfersBetweenXAndStack) {
    cpu_6502.xreg = 0x80;
    code(0x0400, {0x9A, 0xA2, 0x00, 0xBA}); // TXS; LDX #0; TSX
    cpu_6502_step();
    EXPECT_EQ(0x0180, cpu_6502.stack);
    cpu_6502_step();
    cpu_6502_step();
    EXPECT_EQ(0x80, cpu_6502.xreg);
    EXPECT_EQ(0x80, cpu_6502.flags & 0x82); // N from the stack byte, Z clear
}

TEST_F(Cpu6502, ZeroPagePointersWrapAtPageEnd) {
    mem[0x00FF] = 0x34;
    mem[0x0000] = 0x12;
    mem[0x0100] = 0x56; // would be the high byte if the pointer left page zero
    mem[0x1234] = 0xA5;
    mem[0x1236] = 0x3C;
    cpu_6502.xreg = 0;
    code(0x0400, {0xA1, 0xFF}); // LDA ($FF,X)
    cpu_6502_step();
    EXPECT_EQ(0xA5, cpu_6502.areg);
    cpu_6502.yreg = 2;
    code(0x0400, {0xB1, 0xFF}); // LDA ($FF),Y
    cpu_6502_step();
    EXPECT_EQ(0x3C, cpu_6502.areg);
    cpu_6502.xreg = 0x10;
    code(0x0400, {0xA1, 0xEF}); // ($EF + $10) wraps to $FF
    cpu_6502_step();
    EXPECT_EQ(0xA5, cpu_6502.areg);
}

TEST_F(Cpu6502, IndirectJumpStaysInPointerPage) {
    mem[0x10FF] = 0x34;
    mem[0x1000] = 0x12;
    mem[0x1100] = 0x56;
    code(0x0400, {0x6C, 0xFF, 0x10});
    EXPECT_EQ(5, cpu_6502_step());
    EXPECT_EQ(0x1234, cpu_6502.pcreg);
}

TEST_F(Cpu6502, JsrPushesItsLastByteAndRtsAddsOne) {
    code(0x1000, {0x20, 0x00, 0x30});
    load(0x3000, {0x60});
    EXPECT_EQ(6, cpu_6502_step());
    EXPECT_EQ(0x3000, cpu_6502.pcreg);
    EXPECT_EQ(0x10, mem[0x01FC]);
    EXPECT_EQ(0x02, mem[0x01FB]);
    EXPECT_EQ(0x01FA, cpu_6502.stack);
    EXPECT_EQ(6, cpu_6502_step());
    EXPECT_EQ(0x1003, cpu_6502.pcreg);
}

TEST_F(Cpu6502, BrkPushesBAndKeepsDecimal) {
    code(0x1000, {0xF8, 0x00, 0xFF}); // SED; BRK (and its skipped byte)
    cpu_6502_step();
    cpu_6502.flags &= ~0x04;
    EXPECT_EQ(7, cpu_6502_step());
    EXPECT_EQ(IRQ_HANDLER, cpu_6502.pcreg);
    EXPECT_EQ(0x10, mem[0x01FC]);
    EXPECT_EQ(0x03, mem[0x01FB]);           // BRK at 0x1001, so 0x1001 + 2
    EXPECT_EQ(0x38, mem[0x01FA] & 0x3C);    // B, bit 5 and D set, I clear
    EXPECT_EQ(0x0C, cpu_6502.flags & 0x0C); // I set, D left as it was
}

TEST_F(Cpu6502, IrqEntryClearsBAndDecimal) {
    code(0x1000, {0xF8, 0x58, 0xEA}); // SED; CLI; NOP
    cpu_6502_step();
    cpu_6502_setirq();
    EXPECT_EQ(2 + 7, cpu_6502_step()); // CLI, then straight into the handler
    EXPECT_EQ(IRQ_HANDLER, cpu_6502.pcreg);
    EXPECT_EQ(0x10, mem[0x01FC]);
    EXPECT_EQ(0x02, mem[0x01FB]);
    EXPECT_EQ(0x28, mem[0x01FA] & 0x3C); // bit 5 and D set, B and I clear
    EXPECT_EQ(0x04, cpu_6502.flags & 0x0C);
    EXPECT_EQ(0x30, cpu_6502.flags & 0x30); // B reads 1 again between steps
}

TEST_F(Cpu6502, IrqIsALevelRetakenAfterRti) {
    load(IRQ_HANDLER, {0x40}); // RTI
    code(0x1000, {0x58, 0xEA, 0xEA});
    cpu_6502_setirq();
    EXPECT_EQ(9, cpu_6502_step()); // CLI + entry
    EXPECT_EQ(IRQ_HANDLER, cpu_6502.pcreg);
    EXPECT_EQ(6 + 7, cpu_6502_step()); // RTI restores I clear: taken again
    EXPECT_EQ(IRQ_HANDLER, cpu_6502.pcreg);
    cpu_6502_clrirq();
    EXPECT_EQ(6, cpu_6502_step());
    EXPECT_EQ(0x1001, cpu_6502.pcreg);
    EXPECT_EQ(2, cpu_6502_step());
}

TEST_F(Cpu6502, IrqWaitsWhileIIsSetAndComesAfterPlp) {
    cpu_6502_setirq();
    code(0x1000, {0x78, 0xEA, 0xA9, 0x00, 0x48, 0x28}); // SEI; NOP; LDA #0; PHA; PLP
    cpu_6502.flags &= ~0x04;
    EXPECT_EQ(2, cpu_6502_step()); // SEI: no entry right after it
    EXPECT_EQ(2, cpu_6502_step());
    EXPECT_EQ(2, cpu_6502_step());
    EXPECT_EQ(3, cpu_6502_step());
    EXPECT_EQ(0x1005, cpu_6502.pcreg);
    EXPECT_EQ(4 + 7, cpu_6502_step()); // PLP clears I: taken at once
    EXPECT_EQ(IRQ_HANDLER, cpu_6502.pcreg);
}

TEST_F(Cpu6502, NmiIsAnEdgeLatchedOnce) {
    load(NMI_HANDLER, {0xEA, 0xEA, 0xEA, 0xEA});
    code(0x1000, {0xEA, 0xEA, 0xEA, 0xEA});
    int entries = 0;
    auto step = [&] { entries += cpu_6502_step() > 7; };
    cpu_6502_setnmi();
    step();
    cpu_6502_setnmi(); // still active: no new edge
    step();
    cpu_6502_clrnmi();
    step();
    cpu_6502_setnmi();
    step();
    step();
    EXPECT_EQ(2, entries);
    // Two edges before a step are one NMI.
    cpu_6502_clrnmi();
    cpu_6502_setnmi();
    cpu_6502_clrnmi();
    cpu_6502_setnmi();
    entries = 0;
    step();
    step();
    EXPECT_EQ(1, entries);
}

TEST_F(Cpu6502, NmiWinsOverIrqAndMasksIt) {
    load(NMI_HANDLER, {0xEA});
    code(0x1000, {0x58}); // CLI
    cpu_6502_setirq();
    cpu_6502_setnmi();
    EXPECT_EQ(9, cpu_6502_step());
    EXPECT_EQ(NMI_HANDLER, cpu_6502.pcreg);
    EXPECT_EQ(2, cpu_6502_step()); // the entry set I: the IRQ waits
    EXPECT_EQ(NMI_HANDLER + 1, cpu_6502.pcreg);
    EXPECT_EQ(0x20, mem[0x01FA] & 0x3C); // pushed: bit 5 set, B, D and I clear
}

TEST_F(Cpu6502, BranchCyclesAndTargets) {
    cpu_6502.flags = 0x30; // Z clear: BNE taken
    code(0x10F0, {0xD0, 0x20});
    EXPECT_EQ(4, cpu_6502_step());
    EXPECT_EQ(0x1112, cpu_6502.pcreg);
    code(0x1000, {0xD0, 0x10});
    EXPECT_EQ(3, cpu_6502_step());
    EXPECT_EQ(0x1012, cpu_6502.pcreg);
    code(0x1100, {0xD0, 0xFC}); // backwards into the previous page
    EXPECT_EQ(4, cpu_6502_step());
    EXPECT_EQ(0x10FE, cpu_6502.pcreg);
    code(0x1010, {0xD0, 0xEE}); // backwards within the page
    EXPECT_EQ(3, cpu_6502_step());
    EXPECT_EQ(0x1000, cpu_6502.pcreg);
    code(0x1000, {0xF0, 0x10}); // BEQ not taken
    EXPECT_EQ(2, cpu_6502_step());
    EXPECT_EQ(0x1002, cpu_6502.pcreg);
}

TEST_F(Cpu6502, IndexedReadTakesNoPageCrossingCycle) {
    mem[0x1100] = 0x5A;
    cpu_6502.xreg = 1;
    code(0x0400, {0xBD, 0xFF, 0x10});
    EXPECT_EQ(4, cpu_6502_step());
    EXPECT_EQ(0x5A, cpu_6502.areg);
}

TEST_F(Cpu6502, DecimalAdditionAndSubtraction) {
    struct {
        uint8_t op, a, m, carry_in, a_out, flags_out; // flags: N V Z C of the result
    } cases[] = {
        {0x69, 0x09, 0x01, 0, 0x10, 0x00},
        {0x69, 0x99, 0x01, 0, 0x00, 0x81}, // Z from the binary sum 0x9A: clear
        {0x69, 0x58, 0x46, 1, 0x05, 0xC1}, // N and V from the digits before the carry fix
        {0x69, 0x0F, 0x0F, 0, 0x14, 0x00}, // invalid digits
        {0xE9, 0x00, 0x01, 1, 0x99, 0x80}, // borrow out: carry clear
        {0xE9, 0x46, 0x12, 1, 0x34, 0x01},
        {0xE9, 0x40, 0x13, 0, 0x26, 0x01},
        {0xE9, 0x32, 0x02, 1, 0x30, 0x01},
    };
    for (const auto &c : cases) {
        cpu_6502.areg = c.a;
        cpu_6502.flags = static_cast<uint8_t>(0x38 | c.carry_in); // D set
        code(0x0400, {c.op, c.m});
        EXPECT_EQ(2, cpu_6502_step());
        EXPECT_EQ(c.a_out, cpu_6502.areg)
            << std::hex << int(c.op) << " " << int(c.a) << " " << int(c.m);
        EXPECT_EQ(c.flags_out, cpu_6502.flags & 0xC3) << std::hex << int(c.op) << " " << int(c.a);
    }
}

TEST_F(Cpu6502, UndocumentedDecrementCompareAndIncrementSubtract) {
    mem[0x0010] = 0x00;
    cpu_6502.areg = 0xFF;
    cpu_6502.flags = 0x30;
    code(0x0400, {0xC7, 0x10}); // M-1 = 0xFF, compared with A = 0xFF
    EXPECT_EQ(5, cpu_6502_step());
    EXPECT_EQ(0xFF, mem[0x0010]);
    EXPECT_EQ(0x03, cpu_6502.flags & 0x83); // carry and Z set, N clear
    mem[0x0010] = 0xFF;
    cpu_6502.areg = 0x40;
    cpu_6502.flags = 0x31;      // carry set: no borrow
    code(0x0400, {0xE7, 0x10}); // M+1 = 0x00, then A - 0
    EXPECT_EQ(5, cpu_6502_step());
    EXPECT_EQ(0x00, mem[0x0010]);
    EXPECT_EQ(0x40, cpu_6502.areg);
    EXPECT_EQ(0x01, cpu_6502.flags & 0xC3);
}

TEST_F(Cpu6502, ReadModifyWriteReadsOnceAndWritesOnce) {
    mem[0x2000] = 0x41;
    watch_bus();
    code(0x0400, {0xEE, 0x00, 0x20}); // INC $2000
    cpu_6502_step();
    EXPECT_EQ(0x42, mem[0x2000]);
    EXPECT_EQ(4, bus_count("{R}")); // opcode, two operand bytes, the target
    EXPECT_EQ(1, bus_count("{W}"));
    EXPECT_TRUE(bus_touched("{W}", 0x2000));
    logged.clear();
    mem[0x0030] = 0x81;
    code(0x0400, {0x07, 0x30}); // undocumented shift-then-OR, same rule
    cpu_6502_step();
    EXPECT_EQ(3, bus_count("{R}"));
    EXPECT_EQ(1, bus_count("{W}"));
    EXPECT_EQ(0x02, mem[0x0030]);
}

TEST_F(Cpu6502, StoresDoNotReadTheirTarget) {
    watch_bus();
    cpu_6502.areg = 0x77;
    code(0x0400, {0x8D, 0x00, 0x20, 0x91, 0x40}); // STA $2000; STA ($40),Y
    poke16(0x0040, 0x3000);
    cpu_6502.yreg = 5;
    cpu_6502_step();
    cpu_6502_step();
    EXPECT_FALSE(bus_touched("{R}", 0x2000));
    EXPECT_FALSE(bus_touched("{R}", 0x3005));
    EXPECT_EQ(0x77, mem[0x2000]);
    EXPECT_EQ(0x77, mem[0x3005]);
}

TEST_F(Cpu6502, UndocumentedNopsReadOnlyTheirOperandBytes) {
    struct {
        std::vector<uint8_t> bytes;
        int cycles;
        int reads;
        uint16_t untouched;
    } nops[] = {
        {{0x0C, 0x34, 0x12}, 4, 3, 0x1234}, // absolute
        {{0x1C, 0x34, 0x12}, 4, 3, 0x1235}, // absolute,X
        {{0x04, 0x34}, 3, 2, 0x0034},       // zero page
        {{0x14, 0x34}, 4, 2, 0x0035},       // zero page,X
        {{0x80, 0x34}, 2, 1, 0x0401},       // immediate: not even the operand
        {{0x1A}, 2, 1, 0x0401},
    };
    for (const auto &nop : nops) {
        cpu_6502.xreg = 1;
        code(0x0400, nop.bytes);
        uint8_t a = cpu_6502.areg, x = cpu_6502.xreg, y = cpu_6502.yreg, p = cpu_6502.flags;
        watch_bus();
        EXPECT_EQ(nop.cycles, cpu_6502_step());
        tr[0] = 0;
        EXPECT_EQ(nop.reads, bus_count("{R}")) << int(nop.bytes[0]);
        EXPECT_EQ(0, bus_count("{W}"));
        EXPECT_FALSE(bus_touched("{R}", nop.untouched)) << int(nop.bytes[0]);
        EXPECT_EQ(0x0400 + nop.bytes.size(), cpu_6502.pcreg);
        EXPECT_EQ(a, cpu_6502.areg);
        EXPECT_EQ(x, cpu_6502.xreg);
        EXPECT_EQ(y, cpu_6502.yreg);
        EXPECT_EQ(p, cpu_6502.flags);
    }
}

TEST_F(Cpu6502, PushedAndPulledStatusBits) {
    cpu_6502.flags = 0x00;
    code(0x0400, {0x08, 0xA9, 0xC3, 0x48, 0x28}); // PHP; LDA #$C3; PHA; PLP
    cpu_6502_step();
    EXPECT_EQ(0x30, mem[0x01FC]);
    cpu_6502_step();
    cpu_6502_step();
    cpu_6502_step();
    EXPECT_EQ(0xF3, cpu_6502.flags); // pulled byte OR 0x30
}

TEST_F(Cpu6502, HaltingOpcodeHoldsUntilInterrupt) {
    load(NMI_HANDLER, {0xEA});
    code(0x2000, {0x02});
    testing::internal::CaptureStdout();
    for (int i = 0; i < 1000; i++) {
        EXPECT_EQ(2, cpu_6502_run());
        ASSERT_EQ(0x2000, cpu_6502.pcreg);
    }
    cpu_6502_setnmi();
    EXPECT_EQ(9, cpu_6502_step());
    EXPECT_EQ(NMI_HANDLER, cpu_6502.pcreg);
    EXPECT_EQ(0x20, mem[0x01FC]); // the halt's own address was pushed
    EXPECT_EQ(0x00, mem[0x01FB]);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ("invalid opcode: 2000: 02\n", out); // once, not once per step
}

TEST_F(Cpu6502, InvalidOpcodeMessageOncePerAddressUntilReset) {
    testing::internal::CaptureStdout();
    code(0x3000, {0x1A, 0x1A, 0xFA});
    for (int i = 0; i < 3; i++)
        cpu_6502_step();
    code(0x3000, {0x1A});
    cpu_6502_step(); // same address and opcode: already reported
    code(0x3000, {0x3A});
    cpu_6502_step(); // same address, other opcode: reported
    cpu_6502_init();
    code(0x3000, {0x1A});
    cpu_6502_step(); // reset forgets what was reported
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ("invalid opcode: 3000: 1A\n"
              "invalid opcode: 3001: 1A\n"
              "invalid opcode: 3002: FA\n"
              "invalid opcode: 3000: 3A\n"
              "invalid opcode: 3000: 1A\n",
              out);
}

TEST_F(Cpu6502, InvalidOpcodeMessagesAreBounded) {
    for (int i = 0; i < 4000; i++)
        mem[0x4000 + i] = 0x1A;
    cpu_6502.pcreg = 0x4000;
    testing::internal::CaptureStdout();
    for (int i = 0; i < 4000; i++)
        cpu_6502_step();
    std::string out = testing::internal::GetCapturedStdout();
    int lines = 0;
    for (char ch : out)
        lines += ch == '\n';
    EXPECT_GT(lines, 100); // many distinct places are each reported...
    EXPECT_LT(lines, 300); // ...but not without end
    EXPECT_NE(std::string::npos, out.find("invalid opcode: 4000: 1A\n"));
    EXPECT_EQ(0x4000 + 4000, cpu_6502.pcreg); // all of them still executed
}

TEST_F(Cpu6502, TapeByteShortCutFillsAAndRam) {
    // With no tape mounted the reader delivers 0xFF.
    mem[0x002F] = 0x00;
    mem[0x02B1] = 0x55;
    load(0xE6FB, {0xEA});
    cpu_6502.pcreg = 0xE6C9;
    cpu_6502.flags = 0x30;
    EXPECT_EQ(2, cpu_6502_run()); // the NOP at the routine's exit
    EXPECT_EQ(0xFF, cpu_6502.areg);
    EXPECT_EQ(0xFF, mem[0x002F]);
    EXPECT_EQ(0x00, mem[0x02B1]);
    EXPECT_EQ(0xE6FC, cpu_6502.pcreg);
    EXPECT_EQ(0x30, cpu_6502.flags); // flags untouched by the short-cut
}

TEST_F(Cpu6502, TapeSyncWithoutTapeRunsTheRom) {
    code(0xE735, {0xE8}); // INX
    load(0xE759, {0xCA});
    cpu_6502.xreg = 5;
    EXPECT_EQ(2, cpu_6502_run());
    EXPECT_EQ(6, cpu_6502.xreg);
    EXPECT_EQ(0xE736, cpu_6502.pcreg);
}

TEST_F(Cpu6502, TapeShortCutsServeTheMountedTape) {
    uint8_t *tape = new uint8_t[5]{0x16, 0x16, 0x16, 0x24, 0x5A};
    ASSERT_EQ(0, via_6522_tapein(tape, 5));
    code(0xE735, {0xE8}); // the ROM's own sync loop: skipped
    load(0xE759, {0xC8}); // INY, where the ROM goes once in sync
    cpu_6502.xreg = 5;
    cpu_6502.yreg = 7;
    EXPECT_EQ(2, cpu_6502_run());
    EXPECT_EQ(5, cpu_6502.xreg);
    EXPECT_EQ(8, cpu_6502.yreg);
    EXPECT_EQ(0xE75A, cpu_6502.pcreg);
    load(0xE6FB, {0xEA});
    cpu_6502.pcreg = 0xE6C9;
    cpu_6502_run();
    EXPECT_EQ(0x24, cpu_6502.areg); // the header's first byte, after the sync run
    EXPECT_EQ(0x24, mem[0x002F]);
    cpu_6502.pcreg = 0xE6C9;
    cpu_6502_run();
    EXPECT_EQ(0x5A, cpu_6502.areg);
    EXPECT_EQ(0x5A, mem[0x002F]);
}

TEST_F(Cpu6502, IrqInputUsesBitOne) {
    cpu_6502_setirq();
    EXPECT_EQ(2, cpu_6502.flagirq);
    cpu_6502_clrirq();
    EXPECT_EQ(0, cpu_6502.flagirq);
    cpu_6502_setnmi();
    EXPECT_EQ(2, cpu_6502.flagnmi);
    EXPECT_EQ(1, cpu_6502.flanknmi);
    cpu_6502_clrnmi();
    EXPECT_EQ(0, cpu_6502.flagnmi);
    EXPECT_EQ(1, cpu_6502.flanknmi); // the edge stays latched
}

// Code in plain memory takes the quick path; an access that must reach a
// device sends the instruction through the decoder, and it still acts once.
TEST_F(Cpu6502, ReadModifyWriteOnTheDisplayRangeActsOnce) {
    mem[0x9800] = 0x80;
    mem[0xBFF0] = 0x01;
    cpu_6502.flags = 0x30; // carry clear: a rotate applied twice would bring it in
    code(0x1000, {0x2E, 0x00, 0x98, 0x7E, 0xEF, 0xBF}); // ROL $9800; ROR $BFEF,X
    cpu_6502.xreg = 1;
    EXPECT_EQ(6, cpu_6502_run());
    EXPECT_EQ(0x00, mem[0x9800]);
    EXPECT_EQ(0x03, cpu_6502.flags & 0x83); // carry and Z, N clear
    EXPECT_EQ(7, cpu_6502_run());
    EXPECT_EQ(0x80, mem[0xBFF0]); // the carry went in once
    EXPECT_EQ(0x81, cpu_6502.flags & 0x83);
    EXPECT_EQ(0x1006, cpu_6502.pcreg);
}

TEST_F(Cpu6502, PlainCodeReachesTheVia) {
    ASSERT_EQ(0, via_6522_init());
    cpu_6502.areg = 0xA5;
    cpu_6502.xreg = 0x3C;
    // STA $0306; LDX $0306; INC $0306; LDY $0306
    code(0x1000, {0x8D, 0x06, 0x03, 0xAE, 0x06, 0x03, 0xEE, 0x06, 0x03, 0xAC, 0x06, 0x03});
    EXPECT_EQ(4, cpu_6502_run());
    EXPECT_EQ(4, cpu_6502_run());
    EXPECT_EQ(0xA5, cpu_6502.xreg); // the timer latch, not RAM
    EXPECT_EQ(0x80, cpu_6502.flags & 0x82);
    EXPECT_EQ(6, cpu_6502_run());
    EXPECT_EQ(4, cpu_6502_run());
    EXPECT_EQ(0xA6, cpu_6502.yreg);
    EXPECT_EQ(0x00, mem[0x0306]); // RAM under the I/O page untouched
    EXPECT_EQ(0x100C, cpu_6502.pcreg);
}

TEST_F(Cpu6502, InstructionBytesComeFromRomOrTheRamUnderIt) {
    hiram = 0;
    rom.data[0x0000] = 0x5A; // 0xC000
    rom.data[0x0010] = 0xA2; // 0xC010: LDX #$3C
    rom.data[0x0011] = 0x3C;
    mem[0xC000] = 0x11;
    mem[0xC010] = 0xA2;
    mem[0xC011] = 0x77;
    code(0xBFFF, {0xA9}); // LDA #imm, its operand the first ROM byte
    EXPECT_EQ(2, cpu_6502_run());
    EXPECT_EQ(0x5A, cpu_6502.areg);
    EXPECT_EQ(0xC001, cpu_6502.pcreg);
    cpu_6502.pcreg = 0xC010;
    cpu_6502_run();
    EXPECT_EQ(0x3C, cpu_6502.xreg);
    hiram = 1;
    cpu_6502.pcreg = 0xC010;
    cpu_6502_run();
    EXPECT_EQ(0x77, cpu_6502.xreg);
    // A switch written by the instruction itself counts from the next one.
    hiram = 0;
    code(0x1000, {0x8D, 0x81, 0x03, 0xAD, 0x00, 0xC0}); // STA $0381; LDA $C000
    cpu_6502_run();
    EXPECT_EQ(1, hiram);
    cpu_6502_run();
    EXPECT_EQ(0x11, cpu_6502.areg);
}

TEST_F(Cpu6502, CodeAtTheEdgesOfThePlainRangesRuns) {
    code(0x00FE, {0xA9, 0x42}); // LDA #$42 at the end of page zero
    EXPECT_EQ(2, cpu_6502_run());
    EXPECT_EQ(0x42, cpu_6502.areg);
    EXPECT_EQ(0x0100, cpu_6502.pcreg);
    mem[0x0010] = 0x3C;
    code(0x02FB, {0xAE, 0x10, 0x00, 0xA0, 0x24}); // LDX $0010; LDY #$24 up to 0x02FF
    EXPECT_EQ(4, cpu_6502_run());
    EXPECT_EQ(0x3C, cpu_6502.xreg);
    EXPECT_EQ(2, cpu_6502_run());
    EXPECT_EQ(0x24, cpu_6502.yreg);
    EXPECT_EQ(0x0300, cpu_6502.pcreg);
    code(0xBFFE, {0xA2, 0x24}); // LDX #$24 in the last two bytes below the ROM
    cpu_6502.xreg = 0;
    EXPECT_EQ(2, cpu_6502_run());
    EXPECT_EQ(0x24, cpu_6502.xreg);
    EXPECT_EQ(0xC000, cpu_6502.pcreg);
}

TEST_F(Cpu6502, DecimalArithmeticIsFollowedByTheInterruptCheck) {
    cpu_6502.flags = 0x38; // D set, I clear, carry clear
    cpu_6502.areg = 0x19;
    cpu_6502_setirq();
    code(0x1000, {0x69, 0x01}); // ADC #$01
    EXPECT_EQ(2 + 7, cpu_6502_run());
    EXPECT_EQ(0x20, cpu_6502.areg);
    EXPECT_EQ(IRQ_HANDLER, cpu_6502.pcreg);
    EXPECT_EQ(0x28, mem[0x01FA] & 0x38);    // pushed with D, without B
    EXPECT_EQ(0x04, cpu_6502.flags & 0x0C); // I set, D cleared
    EXPECT_EQ(0x10, mem[0x01FC]);
    EXPECT_EQ(0x02, mem[0x01FB]);
    EXPECT_EQ(7u + 9, cpu_6502_cycles());
}

} // namespace
