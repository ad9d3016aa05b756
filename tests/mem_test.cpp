#include "mem.h"

#include "fixture.h"

using MemoryDecoder = Machine;

// Trace lines name who takes a read and then a write; with the master switch off none
// appear, and the byte read tells RAM (0x5A) from the ROMs: the system ROM without its
// image is zero but for the charset at 0xFE70-0xFF77; boot ROM byte i is i ^ (i >> 8).
TEST_F(MemoryDecoder, EachRangeReachesItsDeviceAndFourAddressesSetTheSwitches) {
    TempDir dir;
    std::vector<uint8_t> boot(512);
    for (unsigned i = 0; i < 512; i++)
        boot[i] = uint8_t(i ^ (i >> 8));
    write_file("z5dos.rom", boot);
    ASSERT_EQ(0, mem_init() + via_6522_init());
    // Address, switches before and after (hiram + 2 * extdev), devices, byte read (-1: not RAM's).
    const std::tuple<unsigned, int, int, const char *, int> rows[] = {
        {0x0000, 0, 0, "ram ram", 0x5A},     {0x02FF, 0, 0, "ram ram", 0x5A},
        {0x0300, 0, 0, "via via", -1},       {0x030F, 0, 0, "via via", -1},
        {0x0310, 0, 0, "fdc fdc", 0xFF},     {0x031F, 0, 0, "fdc fdc", -1},
        {0x0320, 0, 0, "rom", 0x20},         {0x0320, 2, 2, "rom", 0x21},
        {0x03FF, 0, 0, "rom", 0xFF},         {0x03FF, 2, 2, "rom", 0xFE},
        {0x037F, 1, 1, "rom", 0x7F},         {0x0380, 3, 0, "rom", 0x81},
        {0x0381, 0, 1, "rom", 0x81},         {0x0382, 1, 2, "rom", 0x82},
        {0x0383, 0, 3, "rom", 0x83},         {0x0384, 1, 1, "rom", 0x84},
        {0x0400, 0, 0, "ram ram", 0x5A},     {0x97FF, 0, 0, "ram ram", 0x5A},
        {0x9800, 0, 0, "ram vdc ram", 0x5A}, {0xBFFF, 0, 0, "ram vdc ram", 0x5A},
        {0xC000, 0, 0, "rom ram", 0x00},     {0xFE70, 2, 2, "rom ram", 0x0E},
        {0xFF77, 0, 0, "rom ram", 0x3F},     {0xC000, 1, 1, "ram ram", 0x5A},
        {0xFFFF, 1, 1, "ram ram", 0x5A},     {0x10000, 0, 0, "ram ram", 0x5A},
        {0x1FF77, 0, 0, "rom ram", 0x3F},
    };
    tr[1] = TR_FDC | TR_VDC;
    log_verbosity(1); // the hook takes trace lines
    log_info_hook(keep_log_line);
    testing::internal::CaptureStderr();
    for (const auto &[addr, before, after, devices, seen] : rows) {
        for (uint8_t master : {TR_MASTER, uint8_t(0)}) {
            mem_write(0x0380 + before, 0);
            poke(addr, {0x5A});
            tr[0] = master | TR_RAM | TR_VIA | (strstr(devices, "rom") ? TR_ROM : 0);
            logged.clear();
            uint8_t read = 0xEE;
            mem_read(addr, &read);
            mem_write(addr, 0x1D0); // the low 8 bits are the byte
            std::string by;
            for (const std::string &line : logged)
                by.append(by.empty() ? "" : " ").append(line, 4, 3);
            EXPECT_EQ(master ? devices : "", by) << std::hex << addr;
            EXPECT_TRUE(seen < 0 ? read != 0x5A : read == seen) << std::hex << addr;
            EXPECT_EQ(std::string(devices).ends_with("ram") ? 0xD0 : 0x5A, ram.data[addr & 0xFFFF]);
            EXPECT_EQ(after, hiram + 2 * extdev) << std::hex << addr;
        }
    }
    EXPECT_EQ(6 * 2 * 42u, testing::internal::GetCapturedStderr().size()); // rows, passes, bytes
}

// Each device switch of trace byte 1 lets only its own device's lines through.
TEST_F(MemoryDecoder, EachTraceSwitchShowsOnlyItsDevice) {
    ASSERT_EQ(0, mem_init() + via_6522_init());
    log_verbosity(1);
    log_info_hook(keep_log_line);
    const std::pair<uint8_t, const char *> rows[] = {
        {TR_VDC, "vdc"}, {TR_FDC, "fdc"}, {0, ""}, {TR_VDC | TR_FDC, "vdc fdc"}};
    for (auto [bit, devices] : rows) {
        tr[0] = TR_MASTER;
        tr[1] = bit;
        logged.clear();
        uint8_t b = 0;
        mem_write(0x9800, 0x41);
        mem_read(0x0310, &b);
        std::string by;
        for (const std::string &line : logged)
            by.append(by.empty() ? "" : " ").append(line, 4, 3);
        EXPECT_EQ(devices, by) << int(bit);
    }
    tr[1] = 0;
}
