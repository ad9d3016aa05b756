#include "sys_file.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

#include "mem.h"
#include "ram.h"
#include "ram_util.h"
#include "rom.h"
#include "test_util.h"

static std::vector<std::string> listed;

static int record(const char *fmt, ...) {
    char line[1024];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    listed.push_back(line);
    return 0;
}

// A fresh machine in a private directory, with the listing recorded.
class SysFile : public ::testing::Test {
  protected:
    void SetUp() override {
        mem_init();
        listed.clear();
        sys_file_set_logger(record);
        mem = ram_getptr();
    }
    void TearDown() override { sys_file_set_logger(nullptr); }
    TempDir dir;
    uint8_t *mem = nullptr;
};

// Two lines at 0x0501: 10 PRINT "AB" and 20 END, then the end marker.
static const std::vector<uint8_t> program = {0x0B, 0x05, 0x0A, 0x00, 0xBA, 0x22, 'A',  'B',  0x22,
                                             0x00, 0x11, 0x05, 0x14, 0x00, 0x80, 0x00, 0x00, 0x00};

static std::vector<uint8_t> tape_block(uint8_t type, unsigned start, unsigned end,
                                       const std::string &name, const std::vector<uint8_t> &data,
                                       int syncs = 3, uint8_t autorun = 0) {
    std::vector<uint8_t> b(static_cast<size_t>(syncs), 0x16);
    b.insert(b.end(), {0x24, 0x00, 0x00, type, autorun, static_cast<uint8_t>(end >> 8),
                       static_cast<uint8_t>(end), static_cast<uint8_t>(start >> 8),
                       static_cast<uint8_t>(start), 0x00});
    b.insert(b.end(), name.begin(), name.end());
    b.push_back(0);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

static std::vector<uint8_t> concat(std::vector<uint8_t> a, const std::vector<uint8_t> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// ---- tape images

TEST_F(SysFile, TapeTwoBlocksLoadsFirstAndListsSecondAsSkip) {
    write_file("two.tap",
               concat(tape_block(0x80, 0x2000, 0x2004, "FIRST", {0xA5, 0x3C, 0x5A, 0xC3}),
                      tape_block(0x00, 0x3000, 0x3002, "SECOND", {1, 2}, 4, 1)));
    ASSERT_EQ(0, sys_file_load("two.tap"));
    std::vector<std::string> expected = {"",
                                         "name  : 'FIRST'",
                                         "start : 2000",
                                         "end   : 2004",
                                         "size  : 0004",
                                         "auto  : no",
                                         "type  : machine code",
                                         "",
                                         "skip  : 'SECOND'",
                                         "start : 3000",
                                         "end   : 3002",
                                         "size  : 0002",
                                         "auto  : yes",
                                         "type  : basic"};
    EXPECT_EQ(expected, listed);
    // The end address is inclusive: the second block's first sync byte comes along.
    EXPECT_EQ((std::vector<uint8_t>{0xA5, 0x3C, 0x5A, 0xC3, 0x16}), ram_range(0x2000, 5));
    EXPECT_EQ((std::vector<uint8_t>{0, 0}), ram_range(0x3000, 2));
}

TEST_F(SysFile, TapeSecondBlockWithThreeSyncBytesIsSwallowed) {
    write_file("two.tap", concat(tape_block(0x80, 0x2000, 0x2002, "ONE", {7, 8}),
                                 tape_block(0x80, 0x3000, 0x3002, "TWO", {1, 2}, 3)));
    ASSERT_EQ(0, sys_file_load("two.tap"));
    EXPECT_EQ(7u, listed.size());
    EXPECT_EQ(0x16, mem[0x2002]);
}

TEST_F(SysFile, TapeArrayTypeAndDatExtensionInAnyCase) {
    write_file("arr.DaT", tape_block(0x40, 0x4000, 0x4001, "", {0x99}));
    ASSERT_EQ(0, sys_file_load("arr.DaT"));
    EXPECT_EQ("name  : ''", listed[1]);
    EXPECT_EQ("type  : array", listed[6]);
    EXPECT_EQ(0x99, mem[0x4000]);
}

TEST_F(SysFile, TapeBasicRoundTripRestoresBytesAndPointers) {
    memcpy(mem + 0x0501, program.data(), program.size());
    set_word(0x9A, 0x0501);
    set_word(0x9C, 0x0501 + static_cast<unsigned>(program.size()));
    ASSERT_EQ(0, sys_file_save("prog.TAP"));
    std::vector<uint8_t> header = {0x16, 0x16, 0x16, 0x24, 0,    0, 0,
                                   0,    0x05, 0x13, 0x05, 0x01, 0, 0};
    EXPECT_EQ(concat(header, program), read_file("prog.TAP"));
    EXPECT_TRUE(listed.empty());

    mem_init();
    ASSERT_EQ(0, sys_file_load("prog.TAP"));
    EXPECT_EQ(program, ram_range(0x0501, static_cast<unsigned>(program.size())));
    EXPECT_EQ(0x0501, word(0x9A));
    EXPECT_EQ(0x0513, word(0x9C));
    EXPECT_EQ("type  : basic", listed[6]);
}

TEST_F(SysFile, TapeMachineCodeBlockSkipsChainCheckAndKeepsPointers) {
    const std::vector<uint8_t> code = {0xA9, 0x01, 0xFF, 0xFF, 0x60}; // no line chain at all
    memcpy(mem + 0x6000, code.data(), code.size());
    ASSERT_EQ(0, sys_file_save_bin("code.tap", 0x6000, 5));
    std::vector<uint8_t> header = {0x16, 0x16, 0x16, 0x24, 0,    0, 0x80,
                                   0,    0x60, 0x05, 0x60, 0x00, 0, 0};
    EXPECT_EQ(concat(header, code), read_file("code.tap"));

    mem_init();
    set_word(0x9A, 0x1234);
    set_word(0x9C, 0x5678);
    ASSERT_EQ(0, sys_file_load("code.tap"));
    EXPECT_EQ(code, ram_range(0x6000, 5));
    EXPECT_EQ(0x1234, word(0x9A));
    EXPECT_EQ(0x5678, word(0x9C));
}

TEST_F(SysFile, TapeEndBeforeStartLoadsOneByteAndListsWideSize) {
    write_file("odd.tap", tape_block(0x80, 0x3000, 0x2FF0, "ODD", {0x11, 0x22, 0x33}));
    ASSERT_EQ(0, sys_file_load("odd.tap"));
    EXPECT_EQ((std::vector<uint8_t>{0x11, 0x00}), ram_range(0x3000, 2));
    EXPECT_EQ("size  : FFFFFFF0", listed[4]);
}

TEST_F(SysFile, TapeBytesBeforeTheSyncAreSkipped) {
    std::vector<uint8_t> junk = {0x00, 0x16, 0x24, 0x16, 0x16, 0x41, 0x16};
    write_file("junk.tap", concat(junk, tape_block(0x80, 0x2000, 0x2001, "J", {0xA5}, 6)));
    ASSERT_EQ(0, sys_file_load("junk.tap"));
    EXPECT_EQ("name  : 'J'", listed[1]);
    EXPECT_EQ(0xA5, mem[0x2000]);
}

TEST_F(SysFile, TapeWithoutSyncFailsAndWritesNothing) {
    write_file("none.tap", {0x16, 0x16, 0x24, 0x16, 0x16, 0x16, 0x25, 1, 2, 3});
    write_file("empty.tap", {});
    EXPECT_EQ(1, sys_file_load("none.tap"));
    EXPECT_EQ(1, sys_file_load("empty.tap"));
    EXPECT_EQ(1, sys_file_load("missing.tap"));
    std::filesystem::create_directory("folder.tap");
    EXPECT_EQ(1, sys_file_load("folder.tap"));
    EXPECT_TRUE(listed.empty());
}

TEST_F(SysFile, TapeCutInsideHeaderOrNameFails) {
    write_file("hdr.tap", {0x16, 0x16, 0x16, 0x24, 0, 0, 0x80, 0});
    EXPECT_EQ(1, sys_file_load("hdr.tap"));
    std::vector<uint8_t> cut = tape_block(0x80, 0x2000, 0x2002, "NAME", {});
    cut.pop_back(); // the name's terminator
    write_file("name.tap", cut);
    listed.clear();
    EXPECT_EQ(1, sys_file_load("name.tap"));
    EXPECT_EQ("name  : 'NAME'", listed.at(1));
    std::vector<uint8_t> bare(cut.begin(), cut.end() - 4); // no name byte at all
    write_file("bare.tap", bare);
    listed.clear();
    EXPECT_EQ(1, sys_file_load("bare.tap"));
    EXPECT_EQ("name  : 'noname'", listed.at(1));
    EXPECT_EQ(0, mem[0x2000]);
}

TEST_F(SysFile, TapeShortDataStopsAtEndOfFileAndSucceeds) {
    write_file("short.tap", tape_block(0x80, 0x2000, 0x2010, "S", {1, 2, 3}));
    ASSERT_EQ(0, sys_file_load("short.tap"));
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3, 0}), ram_range(0x2000, 4));
}

TEST_F(SysFile, TapeHugeNameIsListedCutAndDataStillLoads) {
    std::string name(100000, 'N');
    name[5] = '\x01';
    write_file("long.tap", tape_block(0x80, 0x2000, 0x2001, name, {0x5A}));
    ASSERT_EQ(0, sys_file_load("long.tap"));
    std::string shown = "NNNNN?" + std::string(26, 'N') + "...";
    EXPECT_EQ("name  : '" + shown + "'", listed[1]);
    EXPECT_EQ(0x5A, mem[0x2000]);
}

TEST_F(SysFile, TapeDataStopsAtTopOfMemory) {
    memset(mem, 0xEE, 0x100);
    std::vector<uint8_t> data(64);
    for (size_t i = 0; i < data.size(); i++)
        data[i] = static_cast<uint8_t>(i + 1);
    write_file("top.tap", tape_block(0x80, 0xFFF0, 0xFFFF, "TOP", data));
    ASSERT_EQ(0, sys_file_load("top.tap"));
    EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.begin() + 16), ram_range(0xFFF0, 16));
    EXPECT_EQ(std::vector<uint8_t>(0x100, 0xEE), ram_range(0, 0x100));

    write_file("wrap.tap", tape_block(0x80, 0xFFFF, 0x0010, "WRAP", data));
    ASSERT_EQ(0, sys_file_load("wrap.tap"));
    EXPECT_EQ(1, mem[0xFFFF]);
    EXPECT_EQ(std::vector<uint8_t>(0x100, 0xEE), ram_range(0, 0x100));
}

TEST_F(SysFile, TapeBrokenLineChainFailsAndKeepsPointers) {
    set_word(0x9A, 0x1111);
    set_word(0x9C, 0x2222);
    std::vector<uint8_t> bad = program;
    bad[9] = 0x41; // line 10 loses its terminator
    write_file("bad.tap", tape_block(0x00, 0x0501, 0x0513, "BAD", bad));
    EXPECT_EQ(1, sys_file_load("bad.tap"));
    EXPECT_EQ("error found: 0x50b line: 20", listed.back());
    EXPECT_EQ(0x1111, word(0x9A));
    EXPECT_EQ(0x2222, word(0x9C));
    EXPECT_EQ(0x41, mem[0x050A]); // the bytes stay
}

TEST_F(SysFile, TapeLinksBackwardsIntoItselfOrRoundACycleFail) {
    std::vector<uint8_t> self = program;
    self[0] = 0x01; // line 10 links to itself
    std::vector<uint8_t> back = program;
    back[10] = 0x01; // line 20 links back to line 10: a cycle
    std::vector<uint8_t> before = program;
    before[0] = 0x00;
    before[1] = 0x04; // before the program start
    for (auto *image : {&self, &back, &before}) {
        write_file("loop.tap", tape_block(0x00, 0x0501, 0x0513, "L", *image));
        listed.clear();
        EXPECT_EQ(1, sys_file_load("loop.tap"));
        EXPECT_EQ(0, listed.back().rfind("error found: ", 0));
    }
}

// ---- memory images

TEST_F(SysFile, BasRoundTripListsAndRestoresPointers) {
    memcpy(mem + 0x0501, program.data(), program.size());
    set_word(0x9A, 0x0501);
    set_word(0x9C, 0x0513);
    ASSERT_EQ(0, sys_file_save("prog.bas"));
    EXPECT_EQ(program, read_file("prog.bas"));

    mem_init();
    ASSERT_EQ(0, sys_file_load("prog.bas"));
    EXPECT_EQ(program, ram_range(0x0501, 0x12));
    EXPECT_EQ(0x0501, word(0x9A));
    EXPECT_EQ(0x0513, word(0x9C));
    EXPECT_EQ((std::vector<std::string>{"start : 0501", "end   : 0513", "size  : 0012"}), listed);
}

TEST_F(SysFile, BasBadChainsFailAndKeepPointers) {
    std::vector<uint8_t> unterminated = program;
    unterminated[9] = 0x41;
    std::vector<uint8_t> backwards = program;
    backwards[10] = 0x01;
    backwards[11] = 0x05;
    std::vector<uint8_t> beyond = program;
    beyond.resize(12); // line 20's link would lie past the loaded bytes
    std::vector<uint8_t> far = program;
    far[10] = 0x00;
    far[11] = 0x90; // 0x9000 is far past the image
    for (auto *image : {&unterminated, &backwards, &beyond, &far}) {
        set_word(0x9A, 0x1111);
        set_word(0x9C, 0x2222);
        write_file("bad.bas", *image);
        listed.clear();
        EXPECT_EQ(1, sys_file_load("bad.bas"));
        EXPECT_EQ("error found", listed.back());
        EXPECT_EQ(0x1111, word(0x9A));
        EXPECT_EQ(0x2222, word(0x9C));
    }
    write_file("empty.bas", {});
    EXPECT_EQ(1, sys_file_load("empty.bas"));
}

TEST_F(SysFile, BasLargerThanMemoryIsRefusedUntouched) {
    std::vector<uint8_t> big(0xFAFF, 0x77);
    write_file("big.bas", big);
    EXPECT_EQ(1, sys_file_load("big.bas"));
    EXPECT_EQ(0, mem[0x0501]);
    EXPECT_EQ(0, mem[0xFFFF]);

    big.pop_back(); // exactly fills memory to 0xFFFE
    big[0] = big[1] = 0;
    write_file("full.bas", big);
    ASSERT_EQ(0, sys_file_load("full.bas"));
    EXPECT_EQ(0x77, mem[0xFFFE]);
    EXPECT_EQ(0, mem[0xFFFF]);
    EXPECT_EQ(0xFFFF, word(0x9C));
}

TEST_F(SysFile, SaveWithEndNotAboveStartWritesEmptyFile) {
    set_word(0x9A, 0x0600);
    set_word(0x9C, 0x0600);
    ASSERT_EQ(0, sys_file_save("e.tap"));
    ASSERT_EQ(0, sys_file_save("e.bas"));
    EXPECT_TRUE(std::filesystem::exists("e.tap"));
    EXPECT_EQ(0u, read_file("e.tap").size());
    EXPECT_EQ(0u, read_file("e.bas").size());
}

// ---- screens and raw binaries

TEST_F(SysFile, HrsRoundTripCoversTheScreenOnly) {
    for (unsigned a = 0x9FFF; a <= 0xBF40; a++)
        mem[a] = static_cast<uint8_t>(a * 7 + 3);
    ASSERT_EQ(0, sys_file_save("s.HRS"));
    std::filesystem::rename("s.HRS", "s.hrs");
    std::vector<uint8_t> saved = read_file("s.hrs");
    ASSERT_EQ(8000u, saved.size());
    EXPECT_EQ(ram_range(0xA000, 8000), saved);

    mem_init();
    ASSERT_EQ(0, sys_file_load("s.hrs"));
    EXPECT_EQ(saved, ram_range(0xA000, 8000));
    EXPECT_EQ(0, mem[0x9FFF]);
    EXPECT_EQ(0, mem[0xBF40]);
    EXPECT_TRUE(listed.empty());
}

TEST_F(SysFile, HrsShortAndLongFilesStayInsideTheScreen) {
    write_file("short.hrs", {1, 2, 3});
    ASSERT_EQ(0, sys_file_load("short.hrs"));
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3, 0}), ram_range(0xA000, 4));
    write_file("long.hrs", std::vector<uint8_t>(9000, 0x55));
    ASSERT_EQ(0, sys_file_load("long.hrs"));
    EXPECT_EQ(0x55, mem[0xBF3F]);
    EXPECT_EQ(0, mem[0xBF40]);
}

TEST_F(SysFile, BinSaveRangeAndLoadAtAnotherAddress) {
    for (unsigned a = 0x0500; a < 0x0600; a++)
        mem[a] = static_cast<uint8_t>(a ^ 0xA5);
    ASSERT_EQ(0, sys_file_save_bin("out.bin", 0x0500, 0x0100));
    std::vector<uint8_t> saved = read_file("out.bin");
    EXPECT_EQ(ram_range(0x0500, 0x100), saved);

    ASSERT_EQ(0, sys_file_load_bin("out.bin", 0x7000));
    EXPECT_EQ(saved, ram_range(0x7000, 0x100));
    EXPECT_EQ((std::vector<std::string>{"start : 7000", "end   : 7100", "size  : 0100"}), listed);
}

TEST_F(SysFile, BinRangesWrapPastFFFF) {
    hiram = 1; // so reads of the top page see RAM
    for (unsigned a = 0; a < 8; a++) {
        mem[0xFFF8 + a] = static_cast<uint8_t>(0xF0 + a);
        mem[a] = static_cast<uint8_t>(0x10 + a);
    }
    ASSERT_EQ(0, sys_file_save_bin("wrap.bin", 0xFFF8, 0x10));
    EXPECT_EQ(concat(ram_range(0xFFF8, 8), ram_range(0, 8)), read_file("wrap.bin"));

    write_file("eight.bin", {1, 2, 3, 4, 5, 6, 7, 8});
    ASSERT_EQ(0, sys_file_load_bin("eight.bin", 0xFFFC));
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3, 4}), ram_range(0xFFFC, 4));
    EXPECT_EQ((std::vector<uint8_t>{5, 6, 7, 8}), ram_range(0, 4));
    EXPECT_EQ((std::vector<std::string>{"start : FFFC", "end   : 0004", "size  : 0008"}), listed);
}

TEST_F(SysFile, BinSaveReadsTheBusAsTheProcessorSeesIt) {
    mem[0xC000] = 0x12; // hidden under the ROM
    ASSERT_EQ(0, sys_file_save_bin("rom.img", 0xC000, 0x4000));
    std::vector<uint8_t> saved = read_file("rom.img");
    ASSERT_EQ(0x4000u, saved.size());
    EXPECT_EQ(std::vector<uint8_t>(rom.data, rom.data + 0x4000), saved);
}

TEST_F(SysFile, BinSizeZeroAndOversizedFiles) {
    ASSERT_EQ(0, sys_file_save_bin("none.bin", 0x1234, 0));
    EXPECT_EQ(0u, read_file("none.bin").size());
    ASSERT_EQ(0, sys_file_save_bin("none.tap", 0x1234, 0));
    EXPECT_EQ(
        (std::vector<uint8_t>{0x16, 0x16, 0x16, 0x24, 0, 0, 0x80, 0, 0x12, 0x34, 0x12, 0x34, 0, 0}),
        read_file("none.tap"));
    write_file("huge.bin", std::vector<uint8_t>(0x10001, 0x99));
    EXPECT_EQ(1, sys_file_load_bin("huge.bin", 0x0000));
    EXPECT_EQ(0, mem[0x1000]);
    EXPECT_EQ(1, sys_file_load_bin("missing.bin", 0x1000));
}

// ---- choosing the format, failures

TEST_F(SysFile, DirectoriesAreNotFiles) {
    for (const char *name : {"d.bas", "d.hrs", "d.txt", "d.bin"}) {
        std::filesystem::create_directory(name);
        EXPECT_EQ(1, sys_file_load(name)) << name;
    }
    EXPECT_EQ(1, sys_file_load_bin("d.bin", 0x1000));
    EXPECT_EQ(1, sys_file_save("d.bas"));
}

TEST_F(SysFile, UnknownOrMissingExtensionsFailQuietly) {
    write_file("noext", {1});
    write_file("file.xyz", {1});
    EXPECT_EQ(1, sys_file_load("noext"));
    EXPECT_EQ(1, sys_file_load("file.xyz"));
    EXPECT_EQ(1, sys_file_save("noext"));
    EXPECT_EQ(1, sys_file_save("file.xyz"));
    EXPECT_FALSE(std::filesystem::exists("file.xyz.tap"));
    EXPECT_TRUE(listed.empty());
}

TEST_F(SysFile, BmpIsRecognisedButNotImplemented) {
    write_file("pic.bmp", {1});
    EXPECT_EQ(1, sys_file_load("pic.bmp"));
    EXPECT_EQ(1, sys_file_save("out.BMP"));
    EXPECT_EQ((std::vector<std::string>{"sys_file_load_bmp: pic.bmp -> not implemented yet",
                                        "sys_file_save_bmp: out.BMP -> not implemented yet"}),
              listed);
    EXPECT_FALSE(std::filesystem::exists("out.BMP"));
}

TEST_F(SysFile, SavesToAFullDiskFail) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    memcpy(mem + 0x0501, program.data(), program.size());
    set_word(0x9A, 0x0501);
    set_word(0x9C, 0x0513);
    for (const char *name : {"full.tap", "full.bas", "full.hrs", "full.txt", "full.bin"})
        std::filesystem::create_symlink("/dev/full", name);
    EXPECT_EQ(1, sys_file_save("full.tap"));
    EXPECT_EQ(1, sys_file_save("full.bas"));
    EXPECT_EQ(1, sys_file_save("full.hrs"));
    EXPECT_EQ(1, sys_file_save("full.txt"));
    EXPECT_EQ(1, sys_file_save_bin("full.bin", 0x0500, 0x100));
    EXPECT_EQ(1, sys_file_save_bin("full.tap", 0x0500, 0x100));
}

TEST_F(SysFile, SavesToAnUncreatableFileFail) {
    EXPECT_EQ(1, sys_file_save("no/such/dir.tap"));
    EXPECT_EQ(1, sys_file_save("no/such/dir.txt"));
    EXPECT_EQ(1, sys_file_save_bin("no/such/dir.bin", 0, 1));
}

TEST_F(SysFile, EmptyLoggerSlotIsLegal) {
    sys_file_set_logger(nullptr);
    write_file("one.tap", tape_block(0x80, 0x2000, 0x2001, "ONE", {0x42}));
    EXPECT_EQ(0, sys_file_load("one.tap"));
    EXPECT_EQ(0x42, mem[0x2000]);
    EXPECT_EQ(1, sys_file_load("x.bmp"));
    EXPECT_TRUE(listed.empty());
}
