#include "sys_file.h"

#include "fdc.h"
#include "fixture.h"
#include "sys_file_txt.h"

using bytes = std::vector<uint8_t>;

static int record(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    keep_log_line(fmt, ap);
    va_end(ap);
    return 0;
}

struct SysFile : ::testing::Test {
    TempDir dir;
    void SetUp() override {
        mem_init();
        logged.clear();
        sys_file_set_logger(record);
        poke(0x0501, bytes(64, 0x41));
        poke(0x9A, {0x11, 0x11, 0x22, 0x22});
    }
};

// 10 PRINT"AB" and 20 END at 0x0501, then the end marker.
static const bytes program = {0x0B, 0x05, 0x0A, 0x00, 0xBA, 0x22, 'A',  'B',  0x22,
                              0x00, 0x11, 0x05, 0x14, 0x00, 0x80, 0x00, 0x00, 0x00};

static bytes operator+(bytes a, const bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

static bytes of(const std::string &text) {
    return {text.begin(), text.end()};
}

static bytes block(unsigned start, unsigned end, const bytes &data, uint8_t type = 0x80,
                   const std::string &name = "") {
    const bytes head = {0x16, 0x16, 0x16, 0x24, 0, 0, type, 0, uint8_t(end >> 8), uint8_t(end)};
    return head + bytes{uint8_t(start >> 8), uint8_t(start), 0} + of(name) + bytes{0} + data;
}

// Only a tape's first block loads, to its end address inclusive; refusals keep memory as it was.
TEST_F(SysFile, LoadsTakeTheFirstTapeBlockAndRefuseBadFiles) {
    const bytes named = block(0x0501, 0x0503, {}, 0x80, "NAME"), hdr = {0x16, 0x16, 0x16, 0x24, 0};
    const bytes self = {1, 5, 0x0A, 0, 0, 0, 0}, open = {7, 5, 0x0A, 0, 'A', 'B', 0, 0, 0x14, 0};
    // Junk, machine code failing the line check, an auto-run array after four syncs, a cut header.
    const bytes all = bytes{0, 0x16, 0x24, 0x16, 0x16, 0x41, 0x16} +
                      block(0x0501, 0x0505, {1, 5, 0x0A, 0}, 0x80, "FIRST") +
                      bytes{0x16, 0x16, 0x16, 0x16, 0x24, 0, 0, 0x40, 1, 5, 4, 5, 2, 0, '2', 0} +
                      block(0x3000, 0x2FF0, {}, 0xC0, "NNNNN\x01" + std::string(99, 'N')) + hdr;
    const char *listed =
        "|name  : 'FIRST'|start : 0501|end   : 0505|size  : 0004|auto  : no|type  : machine code|"
        "|skip  : '2'|start : 0502|end   : 0504|size  : 0002|auto  : yes|type  : array|"
        "|skip  : 'NNNNN?NNNNNNNNNNNNNNNNNNNNNNNNNN...'|start : 3000|end   : 2FF0|"
        "size  : FFFFFFF0|auto  : no|type  : machine code|";
    // File ("m" missing, "d" directory, "x" raw), result, bytes at 0x0501 (was 0x41), log.
    const std::tuple<const char *, bytes, int, bytes, std::string> rows[] = {
        {"all.tap", all, 0, {1, 5, 0x0A, 0, 0x16, 0x41}, listed},
        {"end.tap", block(0x0501, 0x04F0, {0x11, 0x22}), 0, {0x11, 0x41}, ""},
        {"short.tap", block(0x0501, 0x0510, {1, 2, 3}), 1, {0x41}, "after 3 of the block's 15"},
        {"top.tap", block(0xFFFE, 0xFFFF, {1, 2, 3, 4}), 0, {0x41}, ""},
        {"hdr.tap", hdr + bytes{0, 0x80, 0}, 1, {0x41}, "ends inside a block header|"},
        {"name.tap", bytes(named.begin(), named.end() - 1), 1, {0x41}, "inside a block name|"},
        {"bare.tap", bytes(named.begin(), named.end() - 5), 1, {0x41}, "'noname'|"},
        {"open.tap", block(0x0501, 0x050B, open, 0), 1, {0x41}, "error found: 0x507 line: 20|"},
        {"self.tap", block(0x0501, 0x0508, self, 0), 1, {0x41}, "error found: 0x501 line: 10|"},
        {"open.bas", open, 1, {0x41}, "error found|"},
        {"self.bas", self, 1, {0x41}, "error found|"},
        {"empty.bas", {}, 1, {0x41}, "size  : 0000|error found|"},
        {"big.bas", bytes(0xFAFF, 0), 1, {0x41}, "larger than memory above 0501|"},
        {"x.bin", bytes(0x10001, 0), 1, {0x41}, "'x.bin' is larger than 64 KiB|"},
        {"bad.txt", of("HELLO\n"), 1, {0x41}, "'bad.txt' text line 1 has no line number|"},
        {"long.txt", of("10 A\n20 " + std::string(256, 'x')), 1, {0x41}, "line 20 longer than 255"},
        {"m.tap", {}, 1, {0x41}, ""},
        {"d.bas", {}, 1, {0x41}, "bas load: unable to read 'd.bas'|"},
        {"d.hrs", {}, 1, {0x41}, "hrs load: unable to read 'd.hrs'|"},
        {"p.bmp", {1}, 1, {0x41}, "sys_file_load_bmp: p.bmp -> not implemented yet|"},
    };
    for (const auto &[name, file, result, at, listing] : rows) {
        SetUp();
        if (name[0] == 'd') std::filesystem::create_directory(name);
        if (name[0] != 'd' && name[0] != 'm') write_file(name, file);
        EXPECT_EQ(result, name[0] == 'x' ? sys_file_load_bin(name, 0x0501) : sys_file_load(name))
            << name;
        EXPECT_EQ(at, ram_range(0x0501, static_cast<unsigned>(at.size()))) << name;
        EXPECT_NE(std::string::npos, joined_log().find(listing)) << joined_log();
        EXPECT_EQ((bytes{0x11, 0x11, 0x22, 0x22}), ram_range(0x9A, 4)) << name;
        EXPECT_EQ(0, word(0x0000)) << name; // nothing wraps round
    }
}

TEST_F(SysFile, ProgramsRoundTripThroughEachKind) {
    const std::tuple<const char *, bytes, const char *> rows[] = {
        {"p.TAP", block(0x0501, 0x0513, program, 0), "size  : 0012|auto  : no|type  : basic|"},
        {"p.bas", program, "start : 0501|end   : 0513|size  : 0012|"},
        {"p.Txt", of("10 PRINT\"AB\"\n20 END\n"), ""},
    };
    for (const auto &[name, file, listing] : rows) {
        SetUp();
        poke(0x0501, program);
        poke(0x9A, {0x01, 0x05, 0x13, 0x05});
        ASSERT_EQ(0, sys_file_save(name));
        EXPECT_EQ(file, read_file(name)) << name;
        mem_init();
        ASSERT_EQ(0, sys_file_load(name));
        EXPECT_EQ(program, ram_range(0x0501, 18)) << name;
        EXPECT_EQ((bytes{0x01, 0x05, 0x13, 0x05}), ram_range(0x9A, 4)) << name;
        EXPECT_TRUE(joined_log().ends_with(listing)) << joined_log();
    }
    std::string text; // 251 lines of 255 bytes and one of 247 fill 0x0501-0xFFFE exactly
    for (int i = 1; i <= 252; i++)
        text += std::to_string(i) + " " + std::string(i < 252 ? 250 : 242, 'z') + "\n";
    write_text("full.txt", text);
    write_file("full.bas", bytes(0xFAFE, 0)); // likewise
    ASSERT_EQ(0, sys_file_load("full.txt") + sys_file_load("full.bas"));
    EXPECT_EQ(0xFFFF, word(0x9C));
    std::filesystem::create_symlink("/dev/full", "f.tap");
    for (const char *name : {"noext", "f.xyz", "no/d.tap", "no/d.txt", "f.tap", "p.BMP"})
        EXPECT_EQ(1, sys_file_save(name)) << name;
    EXPECT_NE(std::string::npos,
              joined_log().find("write 'f.tap'|bmp save: unable to write 'p.BMP'"));
    poke(0x9C, {0x01, 0x05}); // an end not above the start: an empty file
    EXPECT_TRUE(sys_file_save("e.tap") == 0 && read_file("e.tap").empty());
    poke(0x9A, {0x01, 0x05, 0x13, 0x05});
    poke(0x0501, {0x01, 0x05}); // a link into itself: what the loaders refuse is not saved
    EXPECT_EQ(2, sys_file_save("b.tap") + sys_file_save("b.bas"));
    poke(0x0501, program);
    poke(0x9A, {0x02, 0x05});
    EXPECT_EQ(1, sys_file_save("b.bas")); // a .bas loads at 0x0501 only
    EXPECT_FALSE(std::filesystem::exists("b.tap") || std::filesystem::exists("b.bas"));
}

TEST_F(SysFile, ProgramsUnderTheRomAreSavedFromRam) {
    std::string text; // 200 lines of 255 bytes: up to 0xC739, under the ROM after reset
    for (int i = 1; i <= 200; i++)
        text += std::to_string(i) + " " + std::string(250, 'z') + "\n";
    write_text("big.txt", text);
    ASSERT_EQ(0, sys_file_load("big.txt"));
    bytes area = ram_range(0x0501, word(0x9C) - 0x0501u);
    ASSERT_EQ(0, sys_file_save("big2.txt") + sys_file_save("big.bas") + sys_file_save("big.tap"));
    EXPECT_EQ(text, read_text("big2.txt"));
    EXPECT_EQ(area, read_file("big.bas"));
    for (const char *name : {"big.bas", "big.tap"}) {
        mem_init();
        ASSERT_EQ(0, sys_file_load(name)) << name;
        EXPECT_EQ(area, ram_range(0x0501, unsigned(area.size()))) << name;
    }
}

TEST_F(SysFile, ScreenCodeAndTextImagesGoThroughTheBus) {
    for (unsigned a = 0xA000; a < 0xBF40; a++)
        ram_getptr()[a] = uint8_t(a * 7 + 3);
    poke(0xFFFF, {0x5A, 0x33}); // the ROM hides the first, the second is at 0x0000
    ASSERT_EQ(0, sys_file_save("s.HRS") + sys_file_save_bin("w.tap", 0xFFFF, 2));
    EXPECT_EQ(ram_range(0xA000, 8000), read_file("s.HRS"));
    EXPECT_EQ(block(0xFFFF, 0x0001, {0, 0x33}), read_file("w.tap"));
    write_file("l.hrs", bytes(8001, 0x55));
    write_file("s.hrs", {1, 2, 3}); // a short file is refused whole
    ASSERT_EQ(0, sys_file_load("l.hrs"));
    EXPECT_EQ(1, sys_file_load("s.hrs"));
    EXPECT_STREQ("truncated: 3 of 8000 bytes", sys_file_why());
    EXPECT_EQ((bytes{0, 0x55, 0x55}), ram_range(0x9FFF, 3));
    EXPECT_EQ((bytes{0x55, 0}), ram_range(0xBF3F, 2));
    // Undefined tokens and control bytes go; a line lacking its 0x00 ends at the end pointer.
    poke(0x0501,
         {0x0D, 5, 7, 0, 0xE0, 1, 'A', 0xF7, 0xFF, 0x1F, 0x7E, 0xF6, 0, 1, 5, 2, 0, 'B', 'D'});
    poke(0x9A, {0x01, 0x05, 0x13, 0x05});
    ASSERT_EQ(0, sys_file_save("t.txt"));
    EXPECT_EQ("7 LN???\?A~MID$\n2 B\n", read_text("t.txt"));
}

// A raw load never reaches the chips: a RAM dump loaded at 0x0000 keeps the ROM in and the
// VIA's registers as they were, a .bin at 0x0310 puts nothing on a mounted disk.
TEST_F(SysFile, RawLoadsSkipTheIoPageAndSaySoOnce) {
    bytes dump(65536);
    for (size_t i = 0; i < dump.size(); i++)
        dump[i] = uint8_t(i * 13 + 1);
    write_file("ram.bin", dump);
    write_file("disk.bin", bytes(16, 0xD5)); // each a disk byte, written twice per switch pair
    ASSERT_EQ(0, fdc_mount("d.dsk", 0, 0));
    fdc_write(0x0319, 0); // motor on, drive 1, write latches set below
    for (unsigned pass = 0; pass < 2; pass++) {
        uint8_t ier = 0;
        via_6522_read(VIA_BASE + VIA_IER, &ier);
        logged.clear();
        ASSERT_EQ(0,
                  pass ? sys_file_load_bin("disk.bin", 0x0310) : sys_file_load_bin("ram.bin", 0));
        EXPECT_EQ(0, hiram);
        uint8_t after = 0;
        via_6522_read(VIA_BASE + VIA_IER, &after);
        EXPECT_EQ(ier, after);
        const std::string line =
            pass ? "bin load: 16 bytes of 'disk.bin' for the I/O page 0300-03FF skipped"
                 : "bin load: 256 bytes of 'ram.bin' for the I/O page 0300-03FF skipped";
        EXPECT_EQ(1, std::count(logged.begin(), logged.end(), line)) << joined_log();
    }
    EXPECT_EQ(bytes(dump.begin(), dump.begin() + 0x0300), ram_range(0, 0x0300));
    EXPECT_EQ(bytes(dump.begin() + 0x0400, dump.begin() + 0xC000), ram_range(0x0400, 0xBC00));
    EXPECT_EQ(0, fdc_flush());
    EXPECT_EQ(bytes(143360, 0), read_file("d.dsk")); // never dirty: not even rewritten
}

// Text, its first line's bytes after the number (octal escapes: tokens), the text saved back.
TEST_F(SysFile, TextTokensAndRoundTrips) {
    const std::tuple<std::string, std::string, std::string> rows[] = {
        {"1 REM PRINT \"A: DATA", "\235 PRINT \"A: DATA", "1 REM PRINT \"A: DATA\n"},
        {"1 X=1'PRINT", "X\3241'PRINT", "1 X=1'PRINT\n"},
        {"1 DATA 1,\"TO:PRINT", "\221 1,\"TO:\272", "1 DATA 1,\"TO:PRINT\n"},
        {"10   PRINT\t\"TO\":TO", "\272 \"TO\":\303", "10 PRINT \"TO\":TO\n"},
        {"\r\n10\tPRINT\tX\r\n   \r\n20   END\r\n", "\272 X", "10 PRINT X\n20 END\n"},
        {"9 \001\200\272A\177\tB\n", "A\177 B", "9 A\177 B\n"}, // bytes above 0x7F go
        {"1 RETURN" + std::string(249, 'x') + "\n2 B", "\234x", // the longest; next link 0x0600
         "1 RETURN" + std::string(249, 'x') + "\n2 B\n"},
    };
    for (const auto &[text, tokens, saved] : rows) {
        SetUp();
        write_text("in.txt", text);
        EXPECT_EQ(0, sys_file_load("in.txt") + sys_file_save("out.txt")) << text;
        EXPECT_EQ(of(tokens), ram_range(0x0505, unsigned(tokens.size()))) << text;
        EXPECT_EQ(saved, read_text("out.txt")) << text;
    }
    uint8_t out[4];
    EXPECT_EQ(3, sys_file_txt_tokenise("ABCD", out, 4) + sys_file_txt_tokenise("ABCDE", out, 4));
}

// What typing the lines at the prompt would leave: in order, a repeated number replacing the
// earlier line, a number alone deleting it; a number past 65535 refuses the file by its line.
TEST_F(SysFile, TextLoadsAsTypingWould) {
    const std::tuple<std::string, int, std::string, std::string> rows[] = {
        {"30 GOTO 10\n10 A\n20 B\n", 0, "10 A\n20 B\n30 GOTO 10\n", ""},
        {"10 A\n20 B\n10 C\n", 0, "10 C\n20 B\n", ""},
        {"10 A\n20 B\n10\n 20 \t\n5 D\n", 0, "5 D\n", ""},
        {"65535 Z\n0 Y\n", 0, "0 Y\n65535 Z\n", ""},
        {"10 A\n\n20 B\n70000 C\n", 1, "", "text line 4: line number over 65535"},
        {"1 A\n99999999999999999999 B\n", 1, "", "text line 2: line number over 65535"},
        {"10 A\n\n HELLO\n20 B\n", 1, "", "text line 3: no line number"},
        {"1 A\n2 " + std::string(256, 'x') + "\n", 1, "",
         "text line 2: longer than 255 characters"},
    };
    for (const auto &[text, result, saved, why] : rows) {
        SetUp();
        write_text("in.txt", text);
        EXPECT_EQ(result, sys_file_load("in.txt")) << text;
        EXPECT_EQ(why, sys_file_why()) << text;
        if (result) {
            EXPECT_EQ((bytes{0x11, 0x11, 0x22, 0x22}), ram_range(0x9A, 4)) << text;
            EXPECT_EQ(bytes(4, 0x41), ram_range(0x0501, 4)) << text;
            continue;
        }
        ASSERT_EQ(0, sys_file_save("out.txt"));
        EXPECT_EQ(saved, read_text("out.txt")) << text;
        for (unsigned p = 0x0501; word(p) != 0; p = word(p)) // links lead forward, in order
            EXPECT_TRUE(word(p) > p && (word(p + 2) < word(word(p) + 2) || word(word(p)) == 0));
    }
}

// Every failure leaves a reason for the console; a tape cut short loads nothing.
TEST_F(SysFile, FailuresSayWhyAndCutTapesLoadNothing) {
    write_file("code.tap", block(0x1000, 0x1100, bytes(16, 0xA5)));
    write_file("prog.tap", block(0x0501, 0x0701, bytes{0x07, 0x05, 0x0A, 0x00, 0x80, 0x00}, 0));
    write_file("whole.tap", block(0x1000, 0x1004, {1, 2, 3, 4}));
    write_file("p.bas", {0x05, 0x06, 0x0A});
    std::filesystem::create_directory("dir.bin");
    const std::tuple<const char *, std::string> rows[] = {
        {"code.tap", "truncated: 16 of 256 bytes"},
        {"prog.tap", "truncated: 6 of 512 bytes"},
        {"gone.tap", "no such file"},
        {"gone.txt", "no such file"},
        {"gone.bin", "no such file"},
        {"dir.bin", "cannot be read"},
        {"p.bas", "not a program: its line links break"},
        {"p.xyz", "unknown kind of file (.tap .dat .bas .txt .hrs)"},
        {"whole.tap", ""},
    };
    for (const auto &[name, why] : rows) {
        SetUp();
        poke(0x1000, {0x3C});
        bool bin = std::string(name).ends_with(".bin");
        EXPECT_EQ(why.empty() ? 0 : 1, bin ? sys_file_load_bin(name, 0x1000) : sys_file_load(name))
            << name;
        EXPECT_EQ(why, sys_file_why()) << name;
        EXPECT_EQ(why.empty() ? 1 : 0x3C, ram_range(0x1000, 1)[0]) << name;
        EXPECT_EQ((bytes{0x11, 0x11, 0x22, 0x22}), ram_range(0x9A, 4)) << name;
        EXPECT_EQ(bytes(4, 0x41), ram_range(0x0501, 4)) << name;
    }
    EXPECT_EQ(1, sys_file_mount_tap("gone.tap"));
    EXPECT_STREQ("no such file", sys_file_why());
    EXPECT_EQ(1, sys_file_save("no/such/dir.tap"));
    EXPECT_STREQ("'no/such/dir.tap': its folder 'no/such' does not exist", sys_file_why());
    std::vector<uint8_t> data;
    uint16_t start = 0;
    EXPECT_EQ(1, sys_file_read_tap("code.tap", &start, &data)); // what dasm reads
    EXPECT_STREQ("truncated: 16 of 256 bytes", sys_file_why());
    if (running_as_root()) return;
    write_file("locked.txt", of("10 A\n"));
    std::filesystem::permissions("locked.txt", std::filesystem::perms::none);
    EXPECT_EQ(1, sys_file_load("locked.txt"));
    EXPECT_STREQ("permission denied", sys_file_why());
}
