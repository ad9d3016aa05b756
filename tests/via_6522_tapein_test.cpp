// The mounted tape as the processor's short-cuts see it: sync searches and
// byte fetches; images handed over directly or mounted from files.
#include "via_6522_tapein.h"

#include <algorithm>

#include "fixture.h"
#include "sys_file.h"

namespace {

// Plays steps on the mounted tape, giving the fetched bytes in hex: 's' a sync
// search that must succeed, 'f' one that must fail, 'b' a byte fetch, 'e' one
// that must fail (no tape, or past its end).
std::string play(const char *script) {
    std::string got;
    for (const char *s = script; *s; s++) {
        uint8_t b = 0xEE;
        bool fetch = *s == 'b' || *s == 'e';
        EXPECT_EQ(*s == 'f' || *s == 'e', fetch ? via_6522_tapein_byte(&b) : via_6522_tapein_sync())
            << s;
        if (fetch) got += {"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15], ' '};
    }
    return got;
}

// A block named "AB": after the header its terminator comes at once, past the end FF until a
// search fails and rewinds; a search elsewhere stays put; sync only; a name to the end; nothing.
TEST(Via6522TapeIn, SyncSearchesAndBytesFollowTheImage) {
    const struct {
        const char *script, *read;
        std::vector<uint8_t> image;
    } cases[] = {
        {"s"
         "bbbbbbbbbbbbb"
         "eefsbb",
         "24 01 02 03 04 05 06 07 08 09 00 A5 3C FF FF 24 01 ",
         {0x16, 0x16, 0x24, 1, 2, 3, 4, 5, 6, 7, 8, 9, 'A', 'B', 0, 0xA5, 0x3C}},
        {"sbsbefb", "41 24 FF 41 ", {0x41, 0x16, 0x16, 0x24}},
        {"ffb", "16 ", {0x16, 0x16, 0x16}},
        {"s"
         "bbbbbbbbbbb"
         "e",
         "24 01 02 03 04 05 06 07 08 09 00 FF ",
         {0x16, 0x24, 1, 2, 3, 4, 5, 6, 7, 8, 9, 'A', 'B'}},
        {"fe", "FF ", {}},
    };
    for (const auto &c : cases) {
        uint8_t *buffer = new uint8_t[c.image.size() + 1];
        *std::copy(c.image.begin(), c.image.end(), buffer) = 0x77; // past the end: never read
        ASSERT_EQ(0, via_6522_tapein(buffer, static_cast<long>(c.image.size())));
        EXPECT_EQ(c.read, play(c.script));
    }
}

TEST(Via6522TapeIn, FailedMountsKeepTheTapeARemountRewindsNoneReleases) {
    TempDir dir;
    write_file("game.tap", {0x16, 0x24, 0x01, 0x02});
    std::filesystem::create_directory("folder.tap");
    ASSERT_EQ(0, sys_file_mount_tap("game.tap"));
    EXPECT_EQ("24 ", play("sb"));
    EXPECT_EQ(2, sys_file_mount_tap("missing.tap") + sys_file_mount_tap("folder.tap"));
    EXPECT_EQ("01 02 ", play("bb"));
    ASSERT_EQ(0, sys_file_mount_tap("game.tap"));
    EXPECT_EQ("16 ", play("b"));
    EXPECT_EQ(0, sys_file_mount_tap(nullptr));
    EXPECT_EQ("FF ", play("fe"));
}

} // namespace
