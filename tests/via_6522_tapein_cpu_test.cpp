#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "cpu_6502.h"
#include "mem.h"
#include "ram.h"
#include "sys_file.h"
#include "test_util.h"
#include "via_6522_tapein.h"

// A stand-in for the ROM's tape loop, in the RAM under the ROM: the sync
// search spins at 0xE735 until the short-cut sends it on to 0xE759, which
// calls the byte reader at 0xE6C9 (its tail at 0xE6FB returns) and stores
// each byte at 0x1000,X.
class TapeShortCuts : public ::testing::Test {
  protected:
    void SetUp() override {
        mem_init();
        hiram = 1;
        mem = ram_getptr();
        const uint8_t spin[] = {0x4C, 0x35, 0xE7}; // JMP $E735
        const uint8_t loop[] = {0x20, 0xC9, 0xE6,  // JSR $E6C9
                                0x9D, 0x00, 0x10,  // STA $1000,X
                                0xE8,              // INX
                                0x4C, 0x59, 0xE7}; // JMP $E759
        memcpy(mem + 0xE735, spin, sizeof spin);
        memcpy(mem + 0xE759, loop, sizeof loop);
        mem[0xE6C9] = 0x00; // BRK: reached only if the byte short-cut fails
        mem[0xE6FB] = 0x60; // RTS
        mem[0x02B1] = 0x55;
        cpu_6502_init();
        cpu_6502.pcreg = 0xE735;
        cpu_6502.xreg = 0;
        cpu_6502.stack = 0x01FF;
    }
    void TearDown() override { via_6522_tapein(nullptr, 0); }
    // Five instructions per byte once the sync has been found.
    void run_bytes(int count) {
        cpu_6502_run(); // sync short-cut and the first JSR
        for (int i = 0; i < count * 5 - 1; i++)
            cpu_6502_run();
    }
    std::vector<uint8_t> stored(unsigned n) const { return {mem + 0x1000, mem + 0x1000 + n}; }
    TempDir dir;
    uint8_t *mem = nullptr;
};

TEST_F(TapeShortCuts, HeaderAndDataReachTheRomWithTheNameSkipped) {
    write_file("game.tap", {0x16, 0x16, 0x16, 0x24, 0x00, 0x00, 0x80, 0x00, 0x20, 0x02, 0x20, 0x00,
                            0x00, 'A', 'B', 0x00, 0xA5, 0x3C});
    ASSERT_EQ(0, sys_file_mount_tap("game.tap"));
    run_bytes(15);
    std::vector<uint8_t> expected = {0x24, 0x00, 0x00, 0x80, 0x00, 0x20, 0x02, 0x20,
                                     0x00, 0x00, 0x00, 0xA5, 0x3C, 0xFF, 0xFF};
    EXPECT_EQ(expected, stored(15));
    EXPECT_EQ(0xFF, mem[0x002F]);
    EXPECT_EQ(0x00, mem[0x02B1]);
    EXPECT_EQ(0xFF, cpu_6502.areg);
}

TEST_F(TapeShortCuts, TapeWrittenBySaveBinPlaysBack) {
    for (unsigned i = 0; i < 8; i++)
        mem[0x3000 + i] = static_cast<uint8_t>(0xC0 + i);
    ASSERT_EQ(0, sys_file_save_bin("code.tap", 0x3000, 8));
    ASSERT_EQ(0, sys_file_mount_tap("code.tap"));
    run_bytes(19);
    std::vector<uint8_t> expected = {0x24, 0x00, 0x00, 0x80, 0x00, 0x30,
                                     0x08, 0x30, 0x00, 0x00, 0x00};
    for (unsigned i = 0; i < 8; i++)
        expected.push_back(static_cast<uint8_t>(0xC0 + i));
    EXPECT_EQ(expected, stored(19));
}

TEST_F(TapeShortCuts, WithoutATapeTheRomRoutineRuns) {
    via_6522_tapein(nullptr, 0);
    for (int i = 0; i < 20; i++)
        cpu_6502_run();
    EXPECT_EQ(0xE735, cpu_6502.pcreg);
    EXPECT_EQ(0, mem[0x1000]);
    EXPECT_EQ(0x55, mem[0x02B1]);
}
