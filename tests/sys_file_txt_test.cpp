#include "sys_file_txt.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "mem.h"
#include "ram.h"
#include "ram_util.h"
#include "sys_file.h"
#include "test_util.h"

class SysFileTxt : public ::testing::Test {
  protected:
    void SetUp() override {
        mem_init();
        mem = ram_getptr();
    }
    // Loads `text` from a file and saves it back as text.
    std::string round_trip(const std::string &text) {
        write_text("in.txt", text);
        EXPECT_EQ(0, sys_file_load("in.txt"));
        EXPECT_EQ(0, sys_file_save("out.txt"));
        return read_text("out.txt");
    }
    TempDir dir;
    uint8_t *mem = nullptr;
};

static std::vector<uint8_t> tokenise(const std::string &text) {
    uint8_t out[TXT_LINE_MAX];
    int n = sys_file_txt_tokenise(text.c_str(), out, TXT_LINE_MAX);
    EXPECT_GE(n, 0);
    return {out, out + (n < 0 ? 0 : n)};
}

static std::vector<uint8_t> bytes(const std::string &s) {
    return {s.begin(), s.end()};
}

static std::vector<uint8_t> cat(std::vector<uint8_t> a, const std::vector<uint8_t> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(SysFileTxtKeywords, TableHoldsTheTokensInOrder) {
    EXPECT_STREQ("END", keywords[0x80 - 0x80]);
    EXPECT_STREQ("DATA", keywords[0x91 - 0x80]);
    EXPECT_STREQ("REM", keywords[0x9D - 0x80]);
    EXPECT_STREQ("PRINT", keywords[0xBA - 0x80]);
    EXPECT_STREQ("LN????", keywords[0xE0 - 0x80]);
    EXPECT_STREQ("MID$", keywords[0xF6 - 0x80]);
    // No keyword may be a prefix of a later one, or the later could never match.
    for (int i = 0; i < KEYWORD_COUNT; i++)
        for (int j = i + 1; j < KEYWORD_COUNT; j++)
            EXPECT_NE(0, strncmp(keywords[j], keywords[i], strlen(keywords[i])))
                << keywords[i] << " hides " << keywords[j];
}

TEST(SysFileTxtTokenise, KeywordsAnywhereAndFirstMatchWins) {
    EXPECT_EQ((std::vector<uint8_t>{0x8D, 'M'}), tokenise("FORM"));
    EXPECT_EQ((std::vector<uint8_t>{'X', 0xD4, '1', 0xCC, '2'}), tokenise("X=1+2"));
    EXPECT_EQ((std::vector<uint8_t>{0xB3}), tokenise("STOP"));
    EXPECT_EQ(bytes("print x"), tokenise("print x"));
}

TEST(SysFileTxtTokenise, RemKeepsTheRestLiterally) {
    EXPECT_EQ(cat({0x9D}, bytes(" PRINT \"A: DATA")), tokenise("REM PRINT \"A: DATA"));
}

TEST(SysFileTxtTokenise, DataCopiesUpToTheColonThenTokenisesAgain) {
    EXPECT_EQ(cat(cat({0x91}, bytes(" 1,\"PRINT,TO:")), {0xBA}),
              tokenise("DATA 1,\"PRINT,TO:PRINT"));
}

TEST(SysFileTxtTokenise, QuotesProtectKeywordsAndApostropheEndsTokenising) {
    EXPECT_EQ(cat({0xBA, ' '}, bytes("\"PRINT\"")), tokenise("PRINT \"PRINT\""));
    EXPECT_EQ(cat(cat({0xBA, ' '}, bytes("\"A\":")), {0xBA}), tokenise("PRINT \"A\":PRINT"));
    EXPECT_EQ(cat({'X', 0xD4, '1'}, bytes("'PRINT")), tokenise("X=1'PRINT"));
}

TEST(SysFileTxtTokenise, LnNeedsItsFourQuestionMarks) {
    EXPECT_EQ((std::vector<uint8_t>{0xE0, '(', 'X', ')'}), tokenise("LN????"
                                                                    "(X)"));
    EXPECT_EQ(bytes("LN(X)"), tokenise("LN(X)"));
}

TEST(SysFileTxtTokenise, FullOutputIsRefused) {
    uint8_t out[4];
    EXPECT_EQ(4, sys_file_txt_tokenise("ABCD", out, 4));
    EXPECT_EQ(-1, sys_file_txt_tokenise("ABCDE", out, 4));
    EXPECT_EQ(1, sys_file_txt_tokenise("PRINT", out, 1));
}

TEST_F(SysFileTxt, PrintWithAQuotedWordGivesTheExactBytes) {
    write_text("p.txt", "10 PRINT \"HELLO\"\n");
    ASSERT_EQ(0, sys_file_load("p.txt"));
    std::vector<uint8_t> expected = {0x0F, 0x05, 0x0A, 0x00, 0xBA, 0x20, 0x22, 'H',
                                     'E',  'L',  'L',  'O',  0x22, 0x00, 0x00, 0x00};
    EXPECT_EQ(expected, ram_range(0x0501, 16));
    EXPECT_EQ(0x0501, word(0x9A));
    EXPECT_EQ(0x0511, word(0x9C));
}

TEST_F(SysFileTxt, CrLfTabsAndBlankLinesLoadLikePlainLines) {
    write_text("a.txt", "10 PRINT X\n\n20 END\n");
    ASSERT_EQ(0, sys_file_load("a.txt"));
    std::vector<uint8_t> plain = ram_range(0x0501, word(0x9C) - 0x0501);
    mem_init();
    write_text("b.TXT", "\r\n10\tPRINT\tX\r\n   \r\n20   END\r\n");
    ASSERT_EQ(0, sys_file_load("b.TXT"));
    std::vector<uint8_t> crlf = ram_range(0x0501, word(0x9C) - 0x0501);
    ASSERT_EQ(plain.size(), crlf.size());
    // The tab inside the line is a space; leading spaces and tabs are gone.
    EXPECT_EQ((std::vector<uint8_t>{0xBA, ' ', 'X', 0}),
              std::vector<uint8_t>(crlf.begin() + 4, crlf.begin() + 8));
    EXPECT_EQ(plain, crlf);
}

TEST_F(SysFileTxt, SaveGivesBackTheNormalisedText) {
    std::string text = "10   PRINT\t\"HI\"\n20 FORM=1:REM PRINT\n30 DATA 1,2:GOTO 10\n"
                       "40 X=LN????"
                       "(2)'note\n5 print \"lower\"\n10 END\n";
    std::string normalised = "10 PRINT \"HI\"\n20 FORM=1:REM PRINT\n30 DATA 1,2:GOTO 10\n"
                             "40 X=LN????"
                             "(2)'note\n5 print \"lower\"\n10 END\n";
    EXPECT_EQ(normalised, round_trip(text));
    EXPECT_EQ(normalised, round_trip(normalised));
}

TEST_F(SysFileTxt, LineNumbersKeepTheirLow16BitsAndLastLineNeedsNoNewline) {
    EXPECT_EQ("4464 A\n0 B\n", round_trip("70000 A\n65536 B"));
}

TEST_F(SysFileTxt, TextAfterAnUnnumberedLineIsIgnored) {
    EXPECT_EQ("10 A\n", round_trip("10 A\nHELLO\n20 B\n"));
}

TEST_F(SysFileTxt, EmptyFileGivesAnEmptyProgram) {
    write_text("e.txt", "\n  \n");
    set_word(0x0501, 0x4242);
    ASSERT_EQ(0, sys_file_load("e.txt"));
    EXPECT_EQ(0x0000, word(0x0501));
    EXPECT_EQ(0x0501, word(0x9A));
    EXPECT_EQ(0x0503, word(0x9C));
}

TEST_F(SysFileTxt, SaveSpellsTokensAndSkipsControlAndUndefinedBytes) {
    const std::vector<uint8_t> area = {0x0D, 0x05, 0x07, 0x00, 0xE0, 0x01, 'A', 0xF7,
                                       0xFF, 0x1F, 0x7E, 0xF6, 0x00, 0x00, 0x00};
    memcpy(mem + 0x0501, area.data(), area.size());
    set_word(0x9A, 0x0501);
    set_word(0x9C, 0x0501 + static_cast<unsigned>(area.size()));
    ASSERT_EQ(0, sys_file_save("t.txt"));
    EXPECT_EQ("7 LN????A~MID$\n", read_text("t.txt"));
}

TEST_F(SysFileTxt, SaveStopsAtTheEndPointerWithoutFollowingLinks) {
    // Links point backwards and the last line has no terminator before the end.
    const std::vector<uint8_t> area = {0x01, 0x05, 0x01, 0x00, 'A', 0x00,
                                       0x01, 0x05, 0x02, 0x00, 'B', 'C'};
    memcpy(mem + 0x0501, area.data(), area.size());
    mem[0x0501 + area.size()] = 'D';
    set_word(0x9A, 0x0501);
    set_word(0x9C, 0x0501 + static_cast<unsigned>(area.size()));
    ASSERT_EQ(0, sys_file_save("t.txt"));
    EXPECT_EQ("1 A\n2 BC\n", read_text("t.txt"));
    set_word(0x9C, 0x0400); // end below start: nothing
    ASSERT_EQ(0, sys_file_save("t.txt"));
    EXPECT_EQ("", read_text("t.txt"));
}

TEST_F(SysFileTxt, LongestLineAcceptedAndLongerOneRefusedUntouched) {
    std::string longest(TXT_LINE_MAX, 'x');
    EXPECT_EQ("1 " + longest + "\n", round_trip("1 " + longest + "\n"));

    mem_init();
    set_word(0x9A, 0x1111);
    write_text("long.txt", "10 A\n20 " + longest + "y\n");
    EXPECT_EQ(1, sys_file_load("long.txt"));
    EXPECT_EQ(0x1111, word(0x9A));
    EXPECT_EQ(0, mem[0x0501]);

    write_text("huge.txt", "10 REM " + std::string(100000, 'Q') + "\n");
    EXPECT_EQ(1, sys_file_load("huge.txt"));
    EXPECT_EQ(0x1111, word(0x9A));
}

TEST_F(SysFileTxt, ProgramLargerThanMemoryIsRefusedUntouched) {
    std::string text;
    for (int line = 1; line <= 300; line++)
        text += std::to_string(line) + " " + std::string(250, 'z') + "\n";
    write_text("big.txt", text);
    set_word(0x9A, 0x1111);
    set_word(0x9C, 0x2222);
    EXPECT_EQ(1, sys_file_load("big.txt"));
    EXPECT_EQ(0x1111, word(0x9A));
    EXPECT_EQ(0x2222, word(0x9C));
    EXPECT_EQ(0, mem[0x0501]);
    EXPECT_EQ(0, mem[0xFFFF]);
}

TEST_F(SysFileTxt, ProgramFillingMemoryExactlyLoads) {
    // Lines of 4 + 250 + 1 bytes from 0x0501; the last one is sized so that
    // its end marker ends at 0xFFFE and the end pointer reads 0xFFFF.
    const unsigned room = 0xFFFF - 0x0501 - 2;
    std::string text;
    unsigned used = 0;
    int line = 1;
    while (room - used > 255 + 5) {
        text += std::to_string(line++) + " " + std::string(250, 'z') + "\n";
        used += 255;
    }
    unsigned last = room - used - 5;
    ASSERT_LE(last, static_cast<unsigned>(TXT_LINE_MAX));
    text += std::to_string(line) + " " + std::string(last, 'y') + "\n";
    write_text("full.txt", text);
    ASSERT_EQ(0, sys_file_load("full.txt"));
    EXPECT_EQ(0xFFFF, word(0x9C));
    EXPECT_EQ(0, word(0xFFFD));

    write_text("over.txt", text + "9 Z\n");
    EXPECT_EQ(1, sys_file_load("over.txt"));
}

TEST_F(SysFileTxt, BinaryNoiseGivesAClearResult) {
    std::vector<uint8_t> noise(4096);
    uint32_t seed = 12345;
    for (auto &b : noise) {
        seed = seed * 1103515245 + 12345;
        b = static_cast<uint8_t>(seed >> 16);
    }
    noise[0] = 0xFE; // not a digit: no program line at all
    write_file("noise.txt", noise);
    set_word(0x9A, 0x1111);
    EXPECT_EQ(1, sys_file_load("noise.txt"));
    EXPECT_EQ(0x1111, word(0x9A));

    // After a line number the noise is text: control bytes and bytes that
    // would read as tokens are dropped.
    noise[0] = '1';
    for (auto &b : noise)
        if (b == '\n') b = ' ';
    write_file("noise.txt", noise);
    ASSERT_EQ(1, sys_file_load("noise.txt")); // one line of ~4000 characters: too long
    std::vector<uint8_t> one = {'9', ' ', 0x01, 0x80, 0xBA, 'A', 0x7F, '\t', 'B', '\n'};
    write_file("one.txt", one);
    ASSERT_EQ(0, sys_file_load("one.txt"));
    EXPECT_EQ((std::vector<uint8_t>{'A', 0x7F, ' ', 'B', 0}), ram_range(0x0505, 5));
}

TEST_F(SysFileTxt, MissingFilesAndUnwritableSavesFail) {
    EXPECT_EQ(1, sys_file_load("missing.txt"));
    EXPECT_EQ(1, sys_file_load_txt("missing.txt"));
    EXPECT_EQ(1, sys_file_save("no/such/dir.txt"));
}
