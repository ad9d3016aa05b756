// The instruction trace: a line per instruction with the registers, the
// disassembly and labels, and no bus traces from its own reads.
#include "cpu_6502_debug.h"

#include "fixture.h"

namespace {

class Cpu6502Trace : public Machine {
  protected:
    void SetUp() override {
        Machine::SetUp();
        logged.clear();
        log_verbosity(1);
        log_info_hook(keep_log_line);
        tr[0] = TR_MASTER | TR_CPU;
    }
};

TEST_F(Cpu6502Trace, RunWritesALineBeforeEachInstructionWithBothSwitchesOn) {
    cpu_6502_setirq();                                     // I is set after reset: only shown
    code(0xF88F, {0xA9, 0x44, 0xE8, 0xEA, 0xEA});          // LDA #$44; INX at a label; NOP; NOP
    for (int on : {+tr[0], +tr[0], +TR_CPU, +TR_MASTER}) { // both switches, then one
        tr[0] = static_cast<uint8_t>(on);
        cpu_6502_run();
    }
    EXPECT_EQ("\n @ | Reset|"
              " 2 | F88F: A9 44    | FF | FF | FF | FC | NV-B.IZC | LDA #$44|"
              " 2 | F891: E8       | 44 | FF | FF | FC | .V-B.I.C | INX|",
              joined_log());
}

TEST_F(Cpu6502Trace, OperandsShowByAddressingMode) {
    const std::tuple<std::vector<uint8_t>, const char *, const char *> rows[] = {
        {{0xA7, 0x44}, "A7      ", "???"},       // undocumented: one byte, whatever it takes
        {{0xD0, 0xFC}, "D0 FC   ", "BNE $0FFE"}, // a branch shows its target
        {{0xA1, 0x10}, "A1 10   ", "LDA ($10,X)"},
        {{0xB1, 0x10}, "B1 10   ", "LDA ($10),Y"},
        {{0x8D, 0x00, 0x20}, "8D 00 20", "STA $2000"},
        {{0xAD, 0x0D, 0x03}, "AD 0D 03", "LDA $030D ; VIA_IFR"},
        {{0x6C, 0xDA, 0xDA}, "6C DA DA", "JMP ($DADA) ; KEY"}, // of two labels, the first
        {{0x20, 0xC9, 0xE6}, "20 C9 E6", "JSR $E6C9 ; GetTapeByte [ 1 ]"},
        {{0x20, 0x00, 0x20}, "20 00 20", "JSR $2000 ; [ 1 ]"},
    };
    for (const auto &[bytes, shown, text] : rows) {
        poke(0x1000, bytes);
        logged.clear();
        cpu_6502_debug_run(0x1000, 0, 0x12, 0x34, 0x56, 0x01AB, 0x0A);
        EXPECT_EQ(std::string(" 0 | 1000: ") + shown + " | 12 | 34 | 56 | AB | ..-.D.Z. | " + text +
                      "|",
                  joined_log());
    }
}

TEST_F(Cpu6502Trace, OwnReadsLeaveNoBusTrace) {
    tr[0] = TR_MASTER | TR_CPU | TR_RAM;
    code(0x1000, {0xAD, 0x00, 0x20}); // LDA $2000
    cpu_6502_run();
    // The trace line, then the instruction's own four reads alone.
    ASSERT_EQ(5u, logged.size()) << joined_log();
    EXPECT_EQ("{R} ram: 1000:AD", logged[1]);
    EXPECT_EQ(TR_MASTER | TR_CPU | TR_RAM, tr[0]); // the master switch is back
}

TEST_F(Cpu6502Trace, LabelIndexIsBuiltOnce) {
    const symboldef **index = cpu_6502_debug_symbols();
    ASSERT_NE(nullptr, index);
    const symboldef *saved = std::exchange(index[0xF88F], nullptr); // a rebuild would restore it
    cpu_6502_init();
    EXPECT_EQ(index, cpu_6502_debug_symbols());
    EXPECT_EQ(nullptr, std::exchange(index[0xF88F], saved));
}

// 303 labels on 302 addresses (0xDADA has two; the first shows), pinned by a hash
// of every address and its label so that an edited entry shows.
TEST_F(Cpu6502Trace, LabelIndexHoldsEveryLabelOnce) {
    const symboldef **index = cpu_6502_debug_symbols();
    uint32_t h = 2166136261u;
    int labelled = 0;
    for (int a = 0; a < 0x10000; a++) {
        if (!index[a]) continue;
        labelled++;
        h = (h ^ a) * 16777619u;
        for (const char *p = index[a]->label; *p; p++)
            h = (h ^ uint8_t(*p)) * 16777619u;
    }
    EXPECT_EQ(302, labelled);
    EXPECT_STREQ("KEY", index[0xDADA]->label);
    EXPECT_EQ(0x9F5A2A2Bu, h);
}

} // namespace
