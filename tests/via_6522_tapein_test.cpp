#include "via_6522_tapein.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "sys_file.h"
#include "test_util.h"

// Hands a copy of `bytes` to the tape input, as a mount would.
static void mount(const std::vector<uint8_t> &bytes) {
    uint8_t *buffer = new uint8_t[bytes.size() ? bytes.size() : 1];
    if (!bytes.empty()) memcpy(buffer, bytes.data(), bytes.size());
    via_6522_tapein(buffer, static_cast<long>(bytes.size()));
}

static std::vector<uint8_t> fetch(int count) {
    std::vector<uint8_t> got;
    for (int i = 0; i < count; i++) {
        uint8_t b = 0;
        EXPECT_EQ(0, via_6522_tapein_byte(&b));
        got.push_back(b);
    }
    return got;
}

// Sync run, the header's nine bytes after 0x24, the name "AB", data A5 3C.
static const std::vector<uint8_t> one_block = {0x16, 0x16, 0x16, 0x24, 0x00, 0x00,
                                               0x80, 0x00, 0x20, 0x02, 0x20, 0x00,
                                               0x00, 'A',  'B',  0x00, 0xA5, 0x3C};

TEST(Via6522TapeIn, HeaderThenTerminatorThenDataWithNameSkipped) {
    mount(one_block);
    ASSERT_EQ(0, via_6522_tapein_sync());
    std::vector<uint8_t> expected = {0x24, 0x00, 0x00, 0x80, 0x00, 0x20, 0x02,
                                     0x20, 0x00, 0x00, 0x00, 0xA5, 0x3C};
    EXPECT_EQ(expected, fetch(13));
}

TEST(Via6522TapeIn, EndOfTapeGivesFFThenSyncRewindsToFirstBlock) {
    mount(one_block);
    ASSERT_EQ(0, via_6522_tapein_sync());
    fetch(13);
    EXPECT_EQ((std::vector<uint8_t>{0xFF, 0xFF, 0xFF}), fetch(3));
    EXPECT_EQ(1, via_6522_tapein_sync()); // at the end: rewinds and fails
    ASSERT_EQ(0, via_6522_tapein_sync());
    EXPECT_EQ((std::vector<uint8_t>{0x24, 0x00}), fetch(2));
}

TEST(Via6522TapeIn, SyncOnOtherByteSucceedsWithoutMoving) {
    mount({0x41, 0x16, 0x16, 0x24});
    ASSERT_EQ(0, via_6522_tapein_sync());
    EXPECT_EQ((std::vector<uint8_t>{0x41}), fetch(1));
    ASSERT_EQ(0, via_6522_tapein_sync()); // now on the run: skips it
    EXPECT_EQ((std::vector<uint8_t>{0x24, 0xFF}), fetch(2));
}

TEST(Via6522TapeIn, OnlySyncBytesNeverSyncAndKeepRewinding) {
    mount({0x16, 0x16, 0x16, 0x16});
    EXPECT_EQ(1, via_6522_tapein_sync());
    EXPECT_EQ(1, via_6522_tapein_sync());
    EXPECT_EQ((std::vector<uint8_t>{0x16}), fetch(1)); // rewound to the first byte
}

TEST(Via6522TapeIn, NoTapeFailsSyncAndReadsFF) {
    via_6522_tapein(nullptr, 0);
    EXPECT_EQ(1, via_6522_tapein_sync());
    EXPECT_EQ((std::vector<uint8_t>{0xFF, 0xFF}), fetch(2));
    mount({});
    EXPECT_EQ(1, via_6522_tapein_sync());
    EXPECT_EQ((std::vector<uint8_t>{0xFF}), fetch(1));
}

TEST(Via6522TapeIn, NameRunningToTheEndGivesZeroThenFF) {
    mount({0x16, 0x24, 1, 2, 3, 4, 5, 6, 7, 8, 9, 'A', 'B', 'C'});
    ASSERT_EQ(0, via_6522_tapein_sync());
    EXPECT_EQ((std::vector<uint8_t>{0x24, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x00, 0xFF}), fetch(12));
}

TEST(Via6522TapeIn, SecondBlockNameSkippedFromItsOwnHeader) {
    std::vector<uint8_t> image = one_block;
    image.insert(image.end(), {0x16, 0x16, 0x16, 0x16, 0x24, 9, 9, 0x80, 0, 0x30, 0x01, 0x30, 0x00,
                               0, 'X', 'Y', 'Z', 0, 0x5A});
    mount(image);
    ASSERT_EQ(0, via_6522_tapein_sync());
    fetch(13);
    ASSERT_EQ(0, via_6522_tapein_sync());
    EXPECT_EQ((std::vector<uint8_t>{0x24, 9, 9, 0x80, 0, 0x30, 0x01, 0x30, 0x00, 0, 0, 0x5A}),
              fetch(12));
}

TEST(Via6522TapeInMount, FileIsReadWholeAndRemountRewinds) {
    TempDir dir;
    write_file("game.tap", one_block);
    ASSERT_EQ(0, sys_file_mount_tap("game.tap"));
    ASSERT_EQ(0, via_6522_tapein_sync());
    EXPECT_EQ((std::vector<uint8_t>{0x24, 0x00}), fetch(2));
    ASSERT_EQ(0, sys_file_mount_tap("game.tap"));
    EXPECT_EQ((std::vector<uint8_t>{0x16}), fetch(1));
}

TEST(Via6522TapeInMount, FailedMountKeepsTheCurrentTape) {
    TempDir dir;
    write_file("game.tap", one_block);
    std::filesystem::create_directory("folder.tap");
    ASSERT_EQ(0, sys_file_mount_tap("game.tap"));
    ASSERT_EQ(0, via_6522_tapein_sync());
    EXPECT_EQ(1, sys_file_mount_tap("missing.tap"));
    EXPECT_EQ(1, sys_file_mount_tap("folder.tap"));
    EXPECT_EQ((std::vector<uint8_t>{0x24}), fetch(1));
}

TEST(Via6522TapeInMount, NullPathReleasesAndEmptyFileMounts) {
    TempDir dir;
    write_file("game.tap", one_block);
    write_file("empty.tap", {});
    ASSERT_EQ(0, sys_file_mount_tap("game.tap"));
    EXPECT_EQ(0, sys_file_mount_tap(nullptr));
    EXPECT_EQ(1, via_6522_tapein_sync());
    EXPECT_EQ((std::vector<uint8_t>{0xFF}), fetch(1));
    EXPECT_EQ(0, sys_file_mount_tap("empty.tap"));
    EXPECT_EQ(1, via_6522_tapein_sync());
    EXPECT_EQ((std::vector<uint8_t>{0xFF}), fetch(1));
}
