#include "mem.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "log.h"
#include "ram.h"
#include "rom.h"
#include "rom_dos.h"
#include "sys_cfg.h"
#include "test_util.h"

namespace {

uint8_t peek(unsigned addr) {
    uint8_t b = 0xEE;
    mem_read(addr, &b);
    return b;
}

// A ROM image whose byte i is (i * 7 + 3) & 0xFF, so crossed offsets show.
std::vector<uint8_t> pattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; i++) bytes[i] = uint8_t(i * 7 + 3);
    return bytes;
}

struct Memory : ::testing::Test {
    TempDir dir;
    void SetUp() override {
        sys_cfg_defaults();
        write_file("z5.rom", pattern(0x4000));
        write_file("z5dos.rom", pattern(512));
        mem_init();
    }
    void TearDown() override {
        sys_cfg_defaults();
        log_verbosity(0);
    }
};

TEST_F(Memory, RomAnswersUntilHiramShowsTheRamUnderIt) {
    uint8_t rom_byte = pattern(0x4000)[0x2000];
    mem_write(0xE000, 0x55);
    EXPECT_EQ(rom_byte, peek(0xE000));
    mem_write(0x0381, 0x00);
    EXPECT_EQ(1, hiram);
    EXPECT_EQ(0x55, peek(0xE000));
    mem_write(0x0380, 0xFF);
    EXPECT_EQ(0, hiram);
    EXPECT_EQ(rom_byte, peek(0xE000));
}

TEST_F(Memory, SwitchAddressSelectsTheBootRomPage) {
    EXPECT_EQ(pattern(512)[0x020], peek(0x0320));
    mem_write(0x0382, 0xA5);
    EXPECT_EQ(1, extdev);
    EXPECT_EQ(0, hiram);
    EXPECT_EQ(pattern(512)[0x120], peek(0x0320));
    EXPECT_EQ(pattern(512)[0x1FF], peek(0x03FF));
    mem_write(0x0383, 0);
    EXPECT_EQ(1, hiram);
    EXPECT_EQ(1, extdev);
    peek(0x0381);  // reads never flip the switches
    EXPECT_EQ(1, extdev);
}

TEST_F(Memory, OtherWritesInTheBootRomPageAreReportedOnly) {
    log_verbosity(1);
    testing::internal::CaptureStderr();
    mem_write(0x0390, 0x3C);
    mem_write(0x0321, 0x01);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ("{W} 0390 : 3C - unhandled hardware switch\n"
              "{W} 0321 : 01 - unhandled hardware switch\n",
              err);
    EXPECT_EQ(0, hiram);
    EXPECT_EQ(0, extdev);
    EXPECT_EQ(pattern(512)[0x090], peek(0x0390));
}

TEST_F(Memory, RamRangesReadBackAndTheDecoderWrapsAt64K) {
    for (unsigned addr : {0x0000u, 0x02FFu, 0x0400u, 0x97FFu, 0x9800u, 0xA000u, 0xBFFFu}) {
        mem_write(addr, int(addr >> 4));
        EXPECT_EQ(uint8_t(addr >> 4), peek(addr)) << std::hex << addr;
        EXPECT_EQ(uint8_t(addr >> 4), ram_getptr()[addr]);
    }
    mem_write(0x10010, 0x77);  // the low 16 bits count
    EXPECT_EQ(0x77, ram_getptr()[0x0010]);
    mem_write(0x0010, 0x1FF);  // low 8 bits of the value
    EXPECT_EQ(0xFF, peek(0x0010));
}

TEST_F(Memory, RamTraceLinesNeedTheMasterAndRamSwitches) {
    std::string lines;
    static std::string *sink;
    sink = &lines;
    log_verbosity(1);
    log_info_hook([](const char *fmt, va_list ap) {
        char buf[128];
        vsnprintf(buf, sizeof buf, fmt, ap);
        *sink += buf;
        *sink += '\n';
        return 0;
    });
    tr[0] = TR_RAM;
    mem_write(0x1234, 0xA5);
    tr[0] = TR_RAM | TR_MASTER;
    mem_write(0x1234, 0x3C);
    peek(0x1234);
    tr[0] = 0;
    log_info_hook(nullptr);
    EXPECT_EQ("{W} ram: 1234:3C\n{R} ram: 1234:3C\n", lines);
}

TEST_F(Memory, CharsetPatchAndToggle) {
    EXPECT_EQ(0x0C, peek(0xFE78));  // Latin by default: code 0x60, first row
    EXPECT_EQ(0, memcmp(lat_chars, rom.data + ROM_CHARSET_OFFSET, ROM_CHARSET_BYTES));
    EXPECT_EQ(pattern(0x4000)[0x3E6F], peek(0xFE6F));  // just below the patch
    EXPECT_EQ(pattern(0x4000)[0x3F78], peek(0xFF78));  // just above it
    rom_toggle_charset();
    EXPECT_EQ(0, config[CFG_CHARSET].value);
    EXPECT_EQ(0x24, peek(0xFE78));
    rom_toggle_charset();
    EXPECT_EQ(0x0C, peek(0xFE78));
}

TEST_F(Memory, AnyNonZeroCharsetIsLatinAndTogglesToCyrillic) {
    config[CFG_CHARSET].value = 5;
    rom_init_charset();
    EXPECT_EQ(0x0C, peek(0xFE78));
    rom_toggle_charset();
    EXPECT_EQ(0, config[CFG_CHARSET].value);
    EXPECT_EQ(0x24, peek(0xFE78));
}

TEST(RomImage, MissingFileLeavesZerosButTheCharsetAndNamesTheFile) {
    TempDir dir;
    sys_cfg_defaults();
    log_verbosity(1);
    testing::internal::CaptureStderr();
    mem_init();
    std::string err = testing::internal::GetCapturedStderr();
    log_verbosity(0);
    EXPECT_NE(std::string::npos, err.find("can't load 'z5.rom'"));
    EXPECT_NE(std::string::npos, err.find("can't load 'z5dos.rom'"));
    for (unsigned a = 0xC000; a <= 0xFFFF; a++) {
        uint8_t expect = (a >= 0xFE70 && a <= 0xFF77) ? lat_chars[a - 0xFE70] : 0;
        ASSERT_EQ(expect, peek(a)) << std::hex << a;
    }
    EXPECT_EQ(0, peek(0x0320));
}

TEST(RomImage, ShortFileFillsItsStartAndLongFileIsCut) {
    TempDir dir;
    sys_cfg_defaults();
    write_file("z5.rom", std::vector<uint8_t>(0x2000, 0xAB));
    mem_init();
    EXPECT_EQ(0xAB, peek(0xC000));
    EXPECT_EQ(0xAB, peek(0xDFFF));
    EXPECT_EQ(0x00, peek(0xE000));
    EXPECT_EQ(0x00, peek(0xFFFF));
    std::vector<uint8_t> big(0x5000, 0x11);
    big[0x3FFF] = 0x22;
    write_file("z5.rom", big);
    write_file("z5dos.rom", std::vector<uint8_t>(600, 0x33));
    mem_init();
    EXPECT_EQ(0x22, peek(0xFFFF));
    EXPECT_EQ(0x33, peek(0x03FF));
}

TEST(RamDump, SnapshotIsTheRamInAddressOrder) {
    TempDir dir;
    mem_init();
    for (unsigned a = 0; a < RAM_SIZE; a++) ram_getptr()[a] = uint8_t(a ^ (a >> 8));
    ASSERT_EQ(0, ram_dump("kestrel_ram.bin"));
    auto bytes = read_file("kestrel_ram.bin");
    ASSERT_EQ(65536u, bytes.size());
    for (unsigned a = 0; a < RAM_SIZE; a++) ASSERT_EQ(uint8_t(a ^ (a >> 8)), bytes[a]);
}

TEST(RamDump, UnwritablePlacesFailWithAnErrorLine) {
    TempDir dir;
    mem_init();
    log_verbosity(1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(1, ram_dump("no/such/dir/kestrel_ram.bin"));
    EXPECT_EQ(1, ram_dump("/dev/full"));  // opens, but the write cannot land
    std::string err = testing::internal::GetCapturedStderr();
    log_verbosity(0);
    EXPECT_NE(std::string::npos, err.find("ram: unable to write dump 'no/such/dir/kestrel_ram.bin'"));
    EXPECT_NE(std::string::npos, err.find("ram: unable to write dump '/dev/full'"));
}

}  // namespace
