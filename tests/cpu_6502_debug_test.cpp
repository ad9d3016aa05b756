// The instruction trace: one exact line per instruction, labels from the
// built-in table, and no bus traces from its own reads.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "cpu_6502.h"
#include "cpu_6502_debug.h"
#include "log.h"
#include "mem.h"
#include "ram.h"
#include "test_util.h"

namespace {

class Cpu6502Trace : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(0, mem_init());
        hiram = 1;
        mem = ram_getptr();
        mem[0xFFFC] = 0x00;
        mem[0xFFFD] = 0x10;
        ASSERT_EQ(0, cpu_6502_init());
        logged.clear();
        log_verbosity(1);
        log_info_hook(keep_log_line);
        tr[0] = TR_MASTER | TR_CPU;
    }
    void TearDown() override {
        tr[0] = tr[1] = 0;
        log_info_hook(nullptr);
        log_verbosity(0);
        hiram = 0;
    }
    void code(uint16_t addr, const std::vector<uint8_t> &bytes) {
        for (size_t i = 0; i < bytes.size(); i++)
            mem[(addr + i) & 0xFFFF] = bytes[i];
        cpu_6502.pcreg = addr;
    }
    uint8_t *mem = nullptr;
};

// After reset: A, X, Y = FF, S = FC, flags N V - B . I Z C.
constexpr const char *RESET_REGS = "| FF | FF | FF | FC | NV-B.IZC | ";

TEST_F(Cpu6502Trace, LabelledAddressGetsBlankAndLabelLine) {
    code(0xF88F, {0xEA});
    cpu_6502_run();
    ASSERT_EQ(2u, logged.size());
    EXPECT_EQ("\n @ | Reset", logged[0]);
    EXPECT_EQ(std::string(" 0 | F88F: EA       ") + RESET_REGS + "NOP", logged[1]);
}

TEST_F(Cpu6502Trace, OneLinePerInstructionWithoutLabel) {
    code(0x1000, {0xA9, 0x44, 0xA2, 0x00, 0xE8}); // LDA #$44; LDX #0; INX
    cpu_6502_run();
    cpu_6502_run();
    cpu_6502_run();
    ASSERT_EQ(3u, logged.size());
    EXPECT_EQ(std::string(" 0 | 1000: A9 44    ") + RESET_REGS + "LDA #$44", logged[0]);
    EXPECT_EQ(" 0 | 1002: A2 00    | 44 | FF | FF | FC | .V-B.I.C | LDX #$00", logged[1]);
    EXPECT_EQ(" 0 | 1004: E8       | 44 | 00 | FF | FC | .V-B.IZC | INX", logged[2]);
}

TEST_F(Cpu6502Trace, JsrToLabelShowsLabelAndSwitch) {
    code(0x1000, {0x20, 0xC9, 0xE6});
    cpu_6502_run();
    ASSERT_EQ(1u, logged.size());
    EXPECT_EQ(std::string(" 0 | 1000: 20 C9 E6 ") + RESET_REGS + "JSR $E6C9 ; GetTapeByte [ 1 ]",
              logged[0]);
}

TEST_F(Cpu6502Trace, AbsoluteOperandsWithAndWithoutLabels) {
    code(0x1000, {0x20, 0x00, 0x20}); // JSR to an unlabelled address
    cpu_6502_run();
    code(0x1000, {0xAD, 0x0D, 0x03}); // LDA VIA_IFR
    cpu_6502_run();
    code(0x1000, {0x8D, 0x00, 0x20}); // STA $2000
    cpu_6502_run();
    code(0x1000, {0x6C, 0xDA, 0xDA}); // two labels share 0xDADA: the first wins
    cpu_6502_run();
    ASSERT_EQ(4u, logged.size());
    EXPECT_NE(std::string::npos, logged[0].find("| JSR $2000 ; [ 1 ]"));
    EXPECT_EQ(" 0 | 1000: 20 00 20 ", logged[0].substr(0, 20));
    EXPECT_NE(std::string::npos, logged[1].find("| LDA $030D ; VIA_IFR"));
    EXPECT_EQ(logged[2].size() - 9, logged[2].rfind("STA $2000")); // nothing after it
    EXPECT_NE(std::string::npos, logged[3].find("| JMP ($DADA) ; KEY"));
}

TEST_F(Cpu6502Trace, BackwardBranchShowsTarget) {
    cpu_6502.flags = 0x30; // Z clear: taken
    code(0x1010, {0xD0, 0xFC});
    cpu_6502_run();
    ASSERT_EQ(1u, logged.size());
    EXPECT_EQ(" 0 | 1010: D0 FC    | FF | FF | FF | FC | ..-B.... | BNE $100E", logged[0]);
}

TEST_F(Cpu6502Trace, UndocumentedOpcodeShowsAsOneByte) {
    testing::internal::CaptureStdout();
    code(0x1000, {0xA7, 0x44}); // loads A and X from zero page, two bytes long
    cpu_6502_run();
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(1u, logged.size());
    EXPECT_EQ(std::string(" 0 | 1000: A7       ") + RESET_REGS + "???", logged[0]);
}

TEST_F(Cpu6502Trace, OperandFormatsPerMode) {
    struct {
        std::vector<uint8_t> bytes;
        const char *text;
    } cases[] = {
        {{0xB5, 0x10}, "LDA $10,X"},         {{0xB6, 0x10}, "LDX $10,Y"},
        {{0xA1, 0x10}, "LDA ($10,X)"},       {{0xB1, 0x10}, "LDA ($10),Y"},
        {{0xBD, 0x34, 0x12}, "LDA $1234,X"}, {{0xB9, 0x34, 0x12}, "LDA $1234,Y"},
        {{0xA5, 0x10}, "LDA $10"},           {{0x0A}, "ASL"},
    };
    for (const auto &c : cases) {
        logged.clear();
        code(0x1000, c.bytes);
        cpu_6502_run();
        ASSERT_EQ(1u, logged.size());
        std::string tail = std::string("| ") + c.text;
        EXPECT_EQ(logged[0].size() - tail.size(), logged[0].rfind(tail)) << logged[0];
    }
}

TEST_F(Cpu6502Trace, IrqLevelIsShown) {
    cpu_6502_setirq(); // I is set after reset, so it is only shown
    code(0x1000, {0xEA});
    cpu_6502_run();
    ASSERT_EQ(1u, logged.size());
    EXPECT_EQ(" 2 | 1000: EA", logged[0].substr(0, 13));
}

TEST_F(Cpu6502Trace, OwnReadsLeaveNoBusTrace) {
    tr[0] = TR_MASTER | TR_CPU | TR_RAM;
    code(0x1000, {0xAD, 0x00, 0x20}); // LDA $2000
    cpu_6502_run();
    // The trace line first, then exactly the instruction's own four reads.
    ASSERT_EQ(5u, logged.size());
    EXPECT_NE(std::string::npos, logged[0].find("LDA $2000"));
    EXPECT_EQ("{R} ram: 1000:AD", logged[1]);
    EXPECT_EQ("{R} ram: 2000:00", logged[4]);
    EXPECT_EQ(TR_MASTER | TR_CPU | TR_RAM, tr[0]); // the master switch is back
}

TEST_F(Cpu6502Trace, NeedsBothSwitches) {
    code(0x1000, {0xEA, 0xEA, 0xEA});
    tr[0] = TR_CPU;
    cpu_6502_run();
    tr[0] = TR_MASTER;
    cpu_6502_run();
    EXPECT_TRUE(logged.empty());
    log_verbosity(0); // the lines go through the information log
    tr[0] = TR_MASTER | TR_CPU;
    cpu_6502_run();
    EXPECT_TRUE(logged.empty());
}

TEST_F(Cpu6502Trace, LabelIndexIsBuiltOnce) {
    const symboldef **index = cpu_6502_debug_symbols();
    ASSERT_NE(nullptr, index);
    ASSERT_NE(nullptr, index[0xF88F]);
    EXPECT_STREQ("Reset", index[0xF88F]->label);
    EXPECT_STREQ("KEY", index[0xDADA]->label);
    EXPECT_EQ(nullptr, index[0x1000]);
    // A rebuild would restore the entry taken out here.
    const symboldef *saved = index[0xF88F];
    index[0xF88F] = nullptr;
    cpu_6502_init();
    cpu_6502_init();
    EXPECT_EQ(index, cpu_6502_debug_symbols());
    EXPECT_EQ(nullptr, index[0xF88F]);
    index[0xF88F] = saved;
}

TEST(Cpu6502Tables, DocumentedOpcodesAndLengths) {
    int documented = 0;
    for (int op = 0; op < 256; op++)
        documented += std::string(opnames[op]) != "???";
    EXPECT_EQ(151, documented);
    EXPECT_STREQ("JSR", opnames[0x20]);
    EXPECT_EQ(MODE_ABS, opmodes[0x20]);
    EXPECT_EQ(3, opsizes[0x20]);
    EXPECT_EQ(MODE_IND, opmodes[0x6C]);
    EXPECT_EQ(MODE_ZPY, opmodes[0xB6]);
    EXPECT_EQ(1, opsizes[0x00]); // BRK and RTI count as one byte
    EXPECT_EQ(1, opsizes[0x40]);
    EXPECT_EQ(1, opsizes[0xA7]);
    EXPECT_EQ(0x0021, symboldef_z5[0].address);
    EXPECT_STREQ("KeyCodeTab", symboldef_z5[SYMBOLDEF_COUNT - 1].label);
}

} // namespace
