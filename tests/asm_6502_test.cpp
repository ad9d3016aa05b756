// The assembler against the datasheet's encodings, its directives and its
// errors, and the disassembler's sources assembling back to the same bytes.
#include "asm_6502.h"

#include <random>

#include "dasm_6502.h"
#include "fixture.h"
#include "sys_file.h"

namespace {

int keep_listing(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    keep_log_line(fmt, ap);
    va_end(ap);
    return 0;
}

std::vector<uint8_t> assemble(const std::string &source) {
    asm_6502_image image{};
    EXPECT_EQ(0, asm_6502_text("t.s", source.c_str(), &image)) << source;
    return image.bytes;
}

// Every documented opcode in every mode, with its encoding from the datasheet.
const std::pair<const char *, std::vector<uint8_t>> datasheet[] = {
    {"adc #$44", {0x69, 0x44}},
    {"adc $44", {0x65, 0x44}},
    {"adc $44,x", {0x75, 0x44}},
    {"adc $4400", {0x6D, 0x00, 0x44}},
    {"adc $4400,x", {0x7D, 0x00, 0x44}},
    {"adc $4400,y", {0x79, 0x00, 0x44}},
    {"adc ($44,x)", {0x61, 0x44}},
    {"adc ($44),y", {0x71, 0x44}},
    {"and #$44", {0x29, 0x44}},
    {"and $44", {0x25, 0x44}},
    {"and $44,x", {0x35, 0x44}},
    {"and $4400", {0x2D, 0x00, 0x44}},
    {"and $4400,x", {0x3D, 0x00, 0x44}},
    {"and $4400,y", {0x39, 0x00, 0x44}},
    {"and ($44,x)", {0x21, 0x44}},
    {"and ($44),y", {0x31, 0x44}},
    {"cmp #$44", {0xC9, 0x44}},
    {"cmp $44", {0xC5, 0x44}},
    {"cmp $44,x", {0xD5, 0x44}},
    {"cmp $4400", {0xCD, 0x00, 0x44}},
    {"cmp $4400,x", {0xDD, 0x00, 0x44}},
    {"cmp $4400,y", {0xD9, 0x00, 0x44}},
    {"cmp ($44,x)", {0xC1, 0x44}},
    {"cmp ($44),y", {0xD1, 0x44}},
    {"eor #$44", {0x49, 0x44}},
    {"eor $44", {0x45, 0x44}},
    {"eor $44,x", {0x55, 0x44}},
    {"eor $4400", {0x4D, 0x00, 0x44}},
    {"eor $4400,x", {0x5D, 0x00, 0x44}},
    {"eor $4400,y", {0x59, 0x00, 0x44}},
    {"eor ($44,x)", {0x41, 0x44}},
    {"eor ($44),y", {0x51, 0x44}},
    {"lda #$44", {0xA9, 0x44}},
    {"lda $44", {0xA5, 0x44}},
    {"lda $44,x", {0xB5, 0x44}},
    {"lda $4400", {0xAD, 0x00, 0x44}},
    {"lda $4400,x", {0xBD, 0x00, 0x44}},
    {"lda $4400,y", {0xB9, 0x00, 0x44}},
    {"lda ($44,x)", {0xA1, 0x44}},
    {"lda ($44),y", {0xB1, 0x44}},
    {"ora #$44", {0x09, 0x44}},
    {"ora $44", {0x05, 0x44}},
    {"ora $44,x", {0x15, 0x44}},
    {"ora $4400", {0x0D, 0x00, 0x44}},
    {"ora $4400,x", {0x1D, 0x00, 0x44}},
    {"ora $4400,y", {0x19, 0x00, 0x44}},
    {"ora ($44,x)", {0x01, 0x44}},
    {"ora ($44),y", {0x11, 0x44}},
    {"sbc #$44", {0xE9, 0x44}},
    {"sbc $44", {0xE5, 0x44}},
    {"sbc $44,x", {0xF5, 0x44}},
    {"sbc $4400", {0xED, 0x00, 0x44}},
    {"sbc $4400,x", {0xFD, 0x00, 0x44}},
    {"sbc $4400,y", {0xF9, 0x00, 0x44}},
    {"sbc ($44,x)", {0xE1, 0x44}},
    {"sbc ($44),y", {0xF1, 0x44}},
    {"sta $44", {0x85, 0x44}},
    {"sta $44,x", {0x95, 0x44}},
    {"sta $4400", {0x8D, 0x00, 0x44}},
    {"sta $4400,x", {0x9D, 0x00, 0x44}},
    {"sta $4400,y", {0x99, 0x00, 0x44}},
    {"sta ($44,x)", {0x81, 0x44}},
    {"sta ($44),y", {0x91, 0x44}},
    {"asl a", {0x0A}},
    {"asl $44", {0x06, 0x44}},
    {"asl $44,x", {0x16, 0x44}},
    {"asl $4400", {0x0E, 0x00, 0x44}},
    {"asl $4400,x", {0x1E, 0x00, 0x44}},
    {"lsr a", {0x4A}},
    {"lsr $44", {0x46, 0x44}},
    {"lsr $44,x", {0x56, 0x44}},
    {"lsr $4400", {0x4E, 0x00, 0x44}},
    {"lsr $4400,x", {0x5E, 0x00, 0x44}},
    {"rol a", {0x2A}},
    {"rol $44", {0x26, 0x44}},
    {"rol $44,x", {0x36, 0x44}},
    {"rol $4400", {0x2E, 0x00, 0x44}},
    {"rol $4400,x", {0x3E, 0x00, 0x44}},
    {"ror a", {0x6A}},
    {"ror $44", {0x66, 0x44}},
    {"ror $44,x", {0x76, 0x44}},
    {"ror $4400", {0x6E, 0x00, 0x44}},
    {"ror $4400,x", {0x7E, 0x00, 0x44}},
    {"dec $44", {0xC6, 0x44}},
    {"dec $44,x", {0xD6, 0x44}},
    {"dec $4400", {0xCE, 0x00, 0x44}},
    {"dec $4400,x", {0xDE, 0x00, 0x44}},
    {"inc $44", {0xE6, 0x44}},
    {"inc $44,x", {0xF6, 0x44}},
    {"inc $4400", {0xEE, 0x00, 0x44}},
    {"inc $4400,x", {0xFE, 0x00, 0x44}},
    {"cpx #$44", {0xE0, 0x44}},
    {"cpx $44", {0xE4, 0x44}},
    {"cpx $4400", {0xEC, 0x00, 0x44}},
    {"cpy #$44", {0xC0, 0x44}},
    {"cpy $44", {0xC4, 0x44}},
    {"cpy $4400", {0xCC, 0x00, 0x44}},
    {"ldx #$44", {0xA2, 0x44}},
    {"ldx $44", {0xA6, 0x44}},
    {"ldx $44,y", {0xB6, 0x44}},
    {"ldx $4400", {0xAE, 0x00, 0x44}},
    {"ldx $4400,y", {0xBE, 0x00, 0x44}},
    {"ldy #$44", {0xA0, 0x44}},
    {"ldy $44", {0xA4, 0x44}},
    {"ldy $44,x", {0xB4, 0x44}},
    {"ldy $4400", {0xAC, 0x00, 0x44}},
    {"ldy $4400,x", {0xBC, 0x00, 0x44}},
    {"stx $44", {0x86, 0x44}},
    {"stx $44,y", {0x96, 0x44}},
    {"stx $4400", {0x8E, 0x00, 0x44}},
    {"sty $44", {0x84, 0x44}},
    {"sty $44,x", {0x94, 0x44}},
    {"sty $4400", {0x8C, 0x00, 0x44}},
    {"bit $44", {0x24, 0x44}},
    {"bit $4400", {0x2C, 0x00, 0x44}},
    {"jmp $4400", {0x4C, 0x00, 0x44}},
    {"jmp ($4400)", {0x6C, 0x00, 0x44}},
    {"jsr $4400", {0x20, 0x00, 0x44}},
    {"bcc $1012", {0x90, 0x10}},
    {"bcs $1012", {0xB0, 0x10}},
    {"beq $1012", {0xF0, 0x10}},
    {"bmi $1012", {0x30, 0x10}},
    {"bne $1012", {0xD0, 0x10}},
    {"bpl $1012", {0x10, 0x10}},
    {"bvc $1012", {0x50, 0x10}},
    {"bvs $1012", {0x70, 0x10}},
    {"brk", {0x00}},
    {"clc", {0x18}},
    {"cld", {0xD8}},
    {"cli", {0x58}},
    {"clv", {0xB8}},
    {"dex", {0xCA}},
    {"dey", {0x88}},
    {"inx", {0xE8}},
    {"iny", {0xC8}},
    {"nop", {0xEA}},
    {"pha", {0x48}},
    {"php", {0x08}},
    {"pla", {0x68}},
    {"plp", {0x28}},
    {"rti", {0x40}},
    {"rts", {0x60}},
    {"sec", {0x38}},
    {"sed", {0xF8}},
    {"sei", {0x78}},
    {"tax", {0xAA}},
    {"tay", {0xA8}},
    {"tsx", {0xBA}},
    {"txa", {0x8A}},
    {"txs", {0x9A}},
    {"tya", {0x98}},
};
static_assert(std::size(datasheet) == 151);

TEST(Asm6502, EveryOpcodeAndModeEncodesAsTheDatasheetSays) {
    for (const auto &[line, bytes] : datasheet)
        EXPECT_EQ(bytes, assemble(std::string("*=$1000\n ") + line)) << line;
}

TEST(Asm6502, LabelsDirectivesAndExpressions) {
    const char *source = "zp = $10\n"
                         "        *= $2000\n"
                         "start:  lda #<msg\n"
                         "        LDX #>msg\n"
                         "        ldy zp         ; known in pass one: zero page\n"
                         "        sta later      ; not yet known: absolute\n"
                         "        lda a:$12\n"
                         "        jmp (vec)\n"
                         "        bne start\n"
                         "later = $20\n"
                         "msg     .text \"hi;\"\n"
                         "        .byte 'A', %101, 3*4+(10-8)/2, -1\n"
                         "        .word msg, $1234\n"
                         "vec     .word start\n";
    asm_6502_image image{};
    ASSERT_EQ(0, asm_6502_text("t.s", source, &image));
    EXPECT_EQ(0x2000, image.origin);
    EXPECT_EQ((std::vector<uint8_t>{0xA9, 0x11, 0xA2, 0x20, 0xA4, 0x10, 0x8D, 0x20, 0x00, 0xAD,
                                    0x12, 0x00, 0x6C, 0x1C, 0x20, 0xD0, 0xEF, 0x68, 0x69, 0x3B,
                                    0x41, 0x05, 0x0D, 0xFF, 0x11, 0x20, 0x34, 0x12, 0x00, 0x20}),
              image.bytes);
    EXPECT_TRUE(assemble("; nothing placed\n").empty());
}

TEST(Asm6502, EveryErrorIsReportedWithFileAndLineAndNothingIsWritten) {
    TempDir dir;
    logged.clear();
    sys_file_set_logger(keep_listing);
    write_text("bad.s", "        *= $1000\n"
                        "        ldz #1\n"
                        "        stx $4400,x\n"
                        "        jmp nowhere\n"
                        "        bne $1100\n"
                        "        lda #$100\n"
                        "        lda ($100),y\n"
                        "        .byte 256\n"
                        "        lda #\n"
                        "here    nop\n"
                        "here    nop\n"
                        "        inx $44\n"
                        "        .fill 3\n"
                        "        lda $44,z\n");
    EXPECT_EQ(1, asm_6502_file("bad.s", 0));
    sys_file_set_logger(nullptr);
    EXPECT_EQ("bad.s:11: label 'here' defined twice|"
              "bad.s:2: unknown mnemonic 'ldz'|"
              "bad.s:3: bad mode for this opcode|"
              "bad.s:4: undefined label 'nowhere'|"
              "bad.s:5: branch out of range: 254 bytes|"
              "bad.s:6: value too large: 256|"
              "bad.s:7: value too large: 256|"
              "bad.s:8: value too large: 256|"
              "bad.s:9: syntax error|"
              "bad.s:12: bad mode for this opcode|"
              "bad.s:13: unknown directive '.fill'|"
              "bad.s:14: syntax error|",
              joined_log());
    EXPECT_FALSE(std::filesystem::exists("bad.bin"));
}

// The text's errors, one line each, as the console would print them.
std::string errors_of(const std::string &source) {
    logged.clear();
    sys_file_set_logger(keep_listing);
    asm_6502_image image{};
    int result = asm_6502_text("e.s", source.c_str(), &image);
    sys_file_set_logger(nullptr);
    EXPECT_EQ(1, result) << source;
    return joined_log();
}

// Whatever a later label turns out to be, pass one must size each line as
// pass two emits it, or every later label moves.
TEST(Asm6502Passes, ForwardReferencesKeepEveryLineItsSize) {
    const std::pair<const char *, std::vector<uint8_t>> rows[] = {
        {"*=$2000\n lda fwd-1,x\n jmp fwd\nfwd: rts", {0xBD, 0x05, 0x20, 0x4C, 0x06, 0x20, 0x60}},
        {"*=$2000\n lda #300-fwd\n .byte 300-fwd\n jmp (fwd-1)\n .word end\nfwd=$100\nend: rts",
         {0xA9, 0x2C, 0x2C, 0x6C, 0xFF, 0x00, 0x08, 0x20, 0x60}},
        // A byte part is one byte wide even before its label is known.
        {"*=$2000\n lda <fwd\n ldx >fwd,y\n ora #>fwd\nfwd: rts",
         {0xA5, 0x06, 0xB6, 0x20, 0x09, 0x20, 0x60}},
        // Constants that wait for later labels, used before they are defined.
        {"*=$2000\n lda c\n ldy d,x\nc = d+1\nd = fwd-$2000\nfwd: rts",
         {0xAD, 0x07, 0x00, 0xBC, 0x06, 0x00, 0x60}},
        // Known by its use through later constants, zero page; through a
        // label below its definition, absolute, as the standard assemblers do.
        {"*=$2000\nc = d+1\nd = 5\n lda c\ne = fwd-$2000\nfwd: lda e",
         {0xA5, 0x06, 0xAD, 0x02, 0x00}},
        // Through a constant below that holds an address, absolute; one
        // that holds a number (a difference, a scaled address), zero page.
        {"*=$2000\ns: nop\nc = d-$2000+1\nd = s\n lda c\ne = f-$1000+1\nf = s/2\n lda e",
         {0xEA, 0xAD, 0x01, 0x00, 0xAD, 0x01, 0x00}},
        {"*=$2000\ns: nop\nt: nop\nc = d+e\nd = s*2\ne = 3-t*2\n lda c\nf = g+1\ng = t-s\n lda f",
         {0xEA, 0xEA, 0xA5, 0x01, 0xA5, 0x02}},
        {"*=$2000\n bne fwd\n lda 2*(fwd-*)-4\nfwd: .byte fwd-*+1",
         {0xD0, 0x03, 0xAD, 0x02, 0x00, 0x01}},
    };
    for (const auto &[source, bytes] : rows)
        EXPECT_EQ(bytes, assemble(source)) << source;
}

TEST(Asm6502Passes, WhatPassOneCannotSizeOrPlaceIsAnError) {
    EXPECT_EQ("e.s:2: the origin depends on a later label 'fwd'|",
              errors_of("nop\n*=fwd\nfwd: nop\n"));
    EXPECT_EQ("e.s:3: label 'c' defined twice|", errors_of(" lda c\nc = fwd\nc = 5\nfwd: nop"));
    EXPECT_EQ("e.s:1: undefined label 'p'|e.s:2: undefined label 'q'|e.s:3: undefined label 'p'|",
              errors_of(" lda p\np = q\nq = p\n"));
    EXPECT_EQ("e.s:4: $2001 is written twice|",
              errors_of("*=$2000\n .byte 1,2\n*=$2001\n .byte 3\n"));
}

TEST(Asm6502Passes, HostileExpressionsAreErrorsNotCrashesOrWrongBytes) {
    EXPECT_EQ("e.s:1: number too large|", errors_of(" lda #$10000000000000000-$FFFFFFFFFFFFFFFF"));
    EXPECT_EQ("e.s:1: arithmetic overflow|", errors_of(" lda #65536*65536*65536*65536\n"));
    EXPECT_EQ("e.s:2: arithmetic overflow|", errors_of("c = 4611686018427387904\n .byte c+c-c"));
    EXPECT_EQ("e.s:1: value too small: -129|", errors_of(" .byte 10-139"));
    EXPECT_EQ("e.s:2: value too large: 4294967314|", errors_of("c = $100000012\n lda c"));
    std::string deep(" lda ");
    deep.append(200000, '(').append("1").append(200000, ')');
    EXPECT_EQ("e.s:1: expression nested too deeply|", errors_of(deep));
    std::string negated(" lda #");
    negated.append(200000, '-').append("1");
    EXPECT_EQ("e.s:1: expression nested too deeply|", errors_of(negated));
    std::string chain = " lda c0\n"; // each constant waits for the next one
    for (int i = 0; i < 5000; i++)
        chain.append("c")
            .append(std::to_string(i))
            .append(" = c")
            .append(std::to_string(i + 1))
            .append("\n");
    chain += "c5000 = 1\n";
    EXPECT_NE(std::string::npos, errors_of(chain).find("e.s:1: expression nested too deeply|"));
}

// Round trips: the system ROM, then random blocks with undocumented opcodes,
// page-zero addresses in absolute form and branches that wrap.
TEST(Dasm6502, SourcesAssembleBackToTheSameBytes) {
    std::vector<uint8_t> rom = read_file(KESTREL_RUN_DIR "/z5.rom");
    ASSERT_EQ(0x4000u, rom.size());
    std::mt19937 random(14);
    const std::pair<uint16_t, std::vector<uint8_t>> blocks[] = {
        {0xC000, rom}, {0x0000, {}}, {0x1000, {}}, {0xFF00, {}}};
    for (auto [origin, bytes] : blocks) {
        if (bytes.empty())
            for (unsigned i = 0; i < 0x100 + (origin == 0x1000 ? 0x3000u : 0u); i++)
                bytes.push_back(static_cast<uint8_t>(random()));
        std::string source;
        ASSERT_EQ(0, dasm_6502_source(origin, bytes.data(), bytes.size(), &source));
        asm_6502_image image{};
        ASSERT_EQ(0, asm_6502_text("r.s", source.c_str(), &image)) << origin;
        EXPECT_EQ(origin, image.origin);
        EXPECT_TRUE(bytes == image.bytes) << "origin " << origin;
        if (origin == 0x1000) {
            EXPECT_NE(std::string::npos, source.find(" a:$00"));
            EXPECT_NE(std::string::npos, source.find(".byte $02 "));
        }
    }
}

TEST(Dasm6502, LinesShowModesTargetsAndCutInstructions) {
    const std::tuple<std::vector<uint8_t>, int, const char *> rows[] = {
        {{0xAD, 0x12, 0x00}, 3, "lda a:$0012"},
        {{0xB9, 0x34, 0x12}, 3, "lda $1234,y"},
        {{0xD0, 0xFE}, 2, "bne $1000"},
        {{0x6C, 0x00, 0x44}, 3, "jmp ($4400)"},
        {{0x96, 0x44}, 2, "stx $44,y"},
        {{0x0A}, 1, "asl"},
        {{0x02}, 1, ".byte $02"},
        {{0x20, 0x00}, 2, ".byte $20, $00"},
    };
    for (const auto &[bytes, size, text] : rows) {
        char line[64];
        EXPECT_EQ(size, dasm_6502_line(0x1000, bytes.data(), bytes.size(), line, sizeof line));
        EXPECT_STREQ(text, line);
    }
}

class Dasm6502Files : public Machine {};

// A tape block and a memory range to sources, those back to a binary and to
// memory.
TEST_F(Dasm6502Files, TapeAndMemoryGoThroughFilesAndBack) {
    TempDir dir;
    std::vector<uint8_t> code = {0xA9, 0x01, 0x8D, 0x00, 0x30, 0xD0, 0xF9, 0x60, 0x02};
    poke(0x2000, code);
    ASSERT_EQ(0, sys_file_save_bin("p.tap", 0x2000, static_cast<uint16_t>(code.size())));
    ASSERT_EQ(0, dasm_6502_file("p.tap", 0));
    ASSERT_EQ(0, dasm_6502_memory(0x2000, static_cast<uint32_t>(code.size()), "m.asm"));
    EXPECT_EQ(read_text("p.asm"), read_text("m.asm"));
    EXPECT_NE(std::string::npos, read_text("p.asm").find("L2000:  lda #$01"));
    ASSERT_EQ(0, asm_6502_file("p.asm", 0));
    EXPECT_EQ(code, read_file("p.bin"));
    poke(0x2000, std::vector<uint8_t>(code.size(), 0xEE));
    write_text("two.s", "*=$2004\n .byte 7\n*=$2000\n .byte 5\n");
    ASSERT_EQ(0, asm_6502_file("p.asm", 1));
    ASSERT_EQ(0, asm_6502_file("two.s", 1));
    code[0] = 5;
    code[4] = 7;
    EXPECT_EQ(code, ram_range(0x2000, static_cast<unsigned>(code.size())));
}

} // namespace
