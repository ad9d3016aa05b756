// The ROM images and demo media the build leaves in the run folder, checked
// as files: sizes, fixed addresses, and where the demo programs sit.
#include <cstring>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

const std::string run_dir = KESTREL_RUN_DIR;

uint16_t word_at(const std::vector<uint8_t> &rom, unsigned addr) {
    return static_cast<uint16_t>(rom[addr - 0xC000] | rom[addr - 0xC000 + 1] << 8);
}

TEST(RomImages, SystemRomHasVectorsJumpTableAndTapeEntries) {
    std::vector<uint8_t> rom = read_file(run_dir + "/z5.rom");
    ASSERT_EQ(16384u, rom.size());
    for (unsigned vec : {0xFFFAu, 0xFFFCu, 0xFFFEu}) {
        uint16_t target = word_at(rom, vec);
        EXPECT_GE(target, 0xC000) << std::hex << vec;
        EXPECT_LT(target, 0xFC78) << "vectors point at code, not at the shapes";
    }
    for (unsigned entry = 0xC000; entry <= 0xC01B; entry += 3) {
        EXPECT_EQ(0x4C, rom[entry - 0xC000]) << "JMP at " << std::hex << entry;
        EXPECT_LT(word_at(rom, entry + 1), 0xE6C9);
    }
    // The tape routines: something to run at both entries and both ends.
    for (unsigned addr : {0xE6C9u, 0xE6FBu, 0xE735u, 0xE759u})
        EXPECT_NE(0xFF, rom[addr - 0xC000]) << std::hex << addr;
    EXPECT_EQ(0x38, rom[0xE735 - 0xC000]) << "no tape: SEC, nothing found";
    EXPECT_EQ(0x18, rom[0xE759 - 0xC000]) << "found: CLC";
}

TEST(RomImages, ShapesOfPrintableCodesAreSixPixelsWide) {
    std::vector<uint8_t> rom = read_file(run_dir + "/z5.rom");
    ASSERT_EQ(16384u, rom.size());
    const size_t font = 0xFC78 - 0xC000;
    int blank = 0;
    for (int code = 0x20; code < 0x5F; code++) {
        int lit = 0;
        for (int row = 0; row < 8; row++) {
            uint8_t b = rom[font + (code - 0x20) * 8 + row];
            EXPECT_EQ(0, b & 0xC0) << "code " << code << " row " << row;
            lit += b != 0;
        }
        blank += lit == 0;
    }
    EXPECT_EQ(1, blank) << "only the space is empty";
    // 'A' and 'B' differ: the table is not one glyph repeated.
    EXPECT_NE(0, std::memcmp(&rom[font + ('A' - 0x20) * 8], &rom[font + ('B' - 0x20) * 8], 8));
}

TEST(RomImages, DiskBootRomKeepsItsRegisterHoles) {
    std::vector<uint8_t> dos = read_file(run_dir + "/z5dos.rom");
    ASSERT_EQ(512u, dos.size());
    for (int page : {0, 0x100})
        for (int i = 0; i < 0x20; i++)
            EXPECT_EQ(0, dos[page + i]);
    // Both pages start with a write of the page switch at 0x0320.
    for (int page : {0, 0x100}) {
        EXPECT_EQ(0x8D, dos[page + 0x20]);
        EXPECT_EQ(0x03, dos[page + 0x22]);
        EXPECT_EQ(0x80, dos[page + 0x21] & 0xFC);
    }
}

TEST(DemoMedia, TapeIsOneMachineCodeBlockMarkedToRun) {
    std::vector<uint8_t> tap = read_file(run_dir + "/demo.tap");
    ASSERT_GT(tap.size(), 40u);
    size_t i = 0;
    while (i < tap.size() && tap[i] == 0x16)
        i++;
    ASSERT_GE(i, 3u);
    ASSERT_EQ(0x24, tap[i]);
    EXPECT_EQ(0x80, tap[i + 3]) << "machine code";
    EXPECT_NE(0, tap[i + 4]) << "auto-run";
    unsigned end = tap[i + 5] << 8 | tap[i + 6];
    unsigned start = tap[i + 7] << 8 | tap[i + 8];
    EXPECT_EQ(0x1000u, start);
    size_t data = i + 10;
    while (data < tap.size() && tap[data] != 0)
        data++;
    data++;
    EXPECT_EQ(end - start, tap.size() - data) << "exactly end - start data bytes";
    EXPECT_EQ(0x20, tap[data]) << "starts with a JSR";
}

TEST(DemoMedia, DiskHasBootSectorAndStagesWhereTheBootSectorLooks) {
    std::vector<uint8_t> dsk = read_file(run_dir + "/demo.dsk");
    ASSERT_EQ(143360u, dsk.size());
    EXPECT_NE(0, dsk[0]) << "track 0, image sector 0 is the boot sector";
    // Physical sector 1 of track 1 is image sector 7.
    auto sector = [&](int track, int image_sector) {
        return &dsk[(track * 16 + image_sector) * 256];
    };
    EXPECT_EQ(0xAD, sector(1, 0)[0]) << "second stage begins LDA $0318";
    std::string line(reinterpret_cast<const char *>(sector(3, 3)));
    EXPECT_EQ("THIS LINE CAME FROM TRACK 3, SECTOR 9\r", line) << "physical 9 is image 3";
    std::string last(reinterpret_cast<const char *>(sector(4, 8)));
    EXPECT_EQ("THIS LINE CAME FROM TRACK 4, SECTOR 14\r", last) << "physical 14 is image 8";
}

} // namespace
