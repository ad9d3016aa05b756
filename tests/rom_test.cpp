// The system ROM and the disk boot ROM built from rom/, and the demo media,
// run on the whole machine as the host runs it: frames of 224 scan lines,
// host key events, the text screen read back from RAM.
#include "rom_fixture.h"

namespace {

TEST_F(RomMachine, BootsToBannerAndPromptWithTheStatusRowInTheRomsShapes) {
    boot();
    EXPECT_EQ(0u, row(0).find("  KESTREL OPEN ROM"));
    EXPECT_EQ(1, row_of("KESTREL OPEN ROM 1.0"));
    EXPECT_GE(row_of("37632 BYTES FREE"), 1) << screen();
    // Row 0 is yellow on blue; its cell 2 holds the 'K' of the ROM's shapes.
    std::vector<uint8_t> rom = read_file(run_dir + "/z5.rom");
    frames(1);
    for (int line = 0; line < 8; line++)
        for (int bit = 0; bit < 6; bit++)
            EXPECT_EQ(rom[0x3C78 + ('K' - 0x20) * 8 + line] >> (5 - bit) & 1 ? YELLOW : BLUE,
                      pixel(12 + bit, line))
                << "line " << line << " pixel " << bit;
}

TEST_F(RomMachine, EveryKeyReachesTheRomsKeyReading) {
    struct key {
        int cell, mod, code;
    };
    std::vector<key> keys = {
        {KEY_ESC, -1, 27},      {KEY_UP, -1, 11},      {KEY_LEFT, KEY_RSHIFT, 8},
        {KEY_DOWN, -1, 10},     {KEY_RIGHT, -1, 9},    {KEY_DELETE, -1, 127},
        {KEY_RETURN, -1, 13},   {KEY_A, KEY_LCTRL, 1}, {KEY_Z, KEY_RCTRL, 0x1A},
        {KEY_Q, KEY_CAPS, 'Q'}, {KEY_5, KEY_CAPS, '5'}};
    for (size_t i = 0; PLAIN[i]; i++) {
        int cell = static_cast<int>(cell_of(PLAIN[i]));
        keys.push_back({cell, -1, PLAIN[i]});
        keys.push_back({cell, i & 1 ? KEY_LSHIFT : KEY_RSHIFT, SHIFTED[i]});
    }
    boot();
    // Stores each code from the ROM's read-key entry at 0x5000 on, the count in 0xF0.
    poke(0x4000, {0x20, 0x06, 0xC0, 0xA4, 0xF0, 0x99, 0x00, 0x50, 0xE6, 0xF0, 0x4C, 0x00, 0x40});
    type("go 4000\r");
    frames(2);
    ram[0xF0] = 0;
    for (const key &k : keys)
        press(k.cell, k.mod);
    for (int mod : {KEY_LSHIFT, KEY_RSHIFT, KEY_LCTRL, KEY_RCTRL, KEY_LALT, KEY_RALT, KEY_CAPS})
        press(mod); // alone they give nothing
    ASSERT_EQ(keys.size(), ram[0xF0]);
    for (size_t i = 0; i < keys.size(); i++)
        EXPECT_EQ(keys[i].code, ram[0x5000 + i])
            << "key " << keys[i].cell << " with " << keys[i].mod;
}

TEST_F(RomMachine, MonitorCommandsOnceEach) {
    boot();
    command("help");
    for (const char *usage :
         {"HELP", "HIRES", "DUMP [FROM [TO]]", "ENTER ADDR BB ..", "FILL FROM TO BB", "GO ADDR",
          "LOAD", "BOOT", "CLS", "BASIC (MON RETURNS)"})
        EXPECT_GE(row_of(usage), 1) << usage << "\n" << screen();
    // Printable bytes also as text; the ROM's name stands at 0xC01E.
    command("d c01e c025");
    EXPECT_GE(row_of("C01E 4B 45 53 54 52 45 4C 20  KESTREL "), 1) << screen();
    EXPECT_EQ(-1, row_of("C026 ")) << "the dump ends where asked";
    command("fill 4001 40fe 5a");
    EXPECT_EQ((std::vector<uint8_t>{0, 0x5A, 0x5A}), ram_range(0x4000, 3));
    EXPECT_EQ((std::vector<uint8_t>{0x5A, 0x5A, 0}), ram_range(0x40FD, 3));
    command("cls");
    EXPECT_EQ(1, row_of(">"));
    command("enter 4000 a9 2a 8d 00 41 60"); // lda #$2A / sta $4100 / rts
    command("go 4000");
    EXPECT_EQ(0x2A, ram[0x4100]);
    command("e 4000 ea 00");
    command("g 4000");
    EXPECT_GE(row_of("BRK AT 4001"), 1) << screen();
    command("e 4000 4c 00 40"); // a loop that never ends, but for the NMI
    type("go 4000\r");
    frames(10);
    EXPECT_FALSE(at_prompt());
    push_event({EV_NMI_SET, 0});
    push_event({EV_NMI_CLEAR, 0});
    ASSERT_TRUE(run_until([&] { return at_prompt(); })) << screen();
    EXPECT_GE(row_of("BREAK"), 1);
}

TEST_F(RomMachine, ResetStartsAgainFromTheHiresPattern) {
    boot();
    type("hires\r");
    ASSERT_TRUE(wait_for("PRESS A KEY")) << screen();
    frames(2);
    ASSERT_EQ(RED, pixel(20, 0)) << "the first band of the pattern";
    push_event({EV_RESET, 0});
    boot();
    frames(2);
    EXPECT_EQ(BLUE, pixel(0, 0)) << "text mode with the status row";
    EXPECT_EQ(1, row_of("KESTREL OPEN ROM"));
}

TEST_F(RomMachine, TapeDemoLoadsRunsDrawsAndPlays) {
    boot();
    ASSERT_EQ(0, sys_file_mount_tap((run_dir + "/demo.tap").c_str()));
    type("load\r");
    ASSERT_TRUE(wait_for("LOADED 1000-")) << screen();
    std::vector<uint8_t> program = read_file(run_dir + "/../tools/demo_tape.bin");
    EXPECT_EQ(program, ram_range(0x1000, program.size()));
    ASSERT_TRUE(wait_for("PLAYING A TUNE")) << screen();
    int loud_frames = 0;
    ASSERT_TRUE(run_until([&] { return (loud_frames += loud, row_of("PRESS A KEY") >= 0); }, 500));
    EXPECT_GE(loud_frames, 50) << "the tune lasts more than a second";
    int drawn = 0;
    for (int i = 0; i < 8000; i++)
        drawn += (ram[0xA000 + i] & 0x40) && ram[0xA000 + i] != 0x40;
    EXPECT_GT(drawn, 500);
    frames(3);
    EXPECT_FALSE(loud);
    press(KEY_SPACE);
    ASSERT_TRUE(run_until([&] { return at_prompt(); })) << screen();
    EXPECT_GE(row_of("TAPE DEMO FINISHED"), 1);
}

TEST_F(RomMachine, TapeBlocksLoadOneAfterAnotherThenTheTapeRewinds) {
    // Sync, header (type, auto-run, end, start), name, data: one BASIC line
    // "10 END" at 0x0501, then code at 0x6000 not marked to run.
    write_file("two.tap", {0x16, 0x16, 0x24, 0,    0,    0x00, 0,    0x05, 0x09, 0x05, 0x01,
                           0,    'A',  0,    0x07, 0x05, 0x0A, 0x00, 0x80, 0x00, 0x00, 0x00,
                           0x16, 0x16, 0x24, 0,    0,    0x80, 0,    0x60, 0x06, 0x60, 0x00,
                           0,    'B',  0,    0xA9, 0x5C, 0x8D, 0x00, 0x61, 0x60});
    boot();
    command("load", 50);
    EXPECT_GE(row_of("? NO TAPE BLOCK FOUND"), 1) << screen();
    ASSERT_EQ(0, sys_file_mount_tap("two.tap"));
    command("load");
    EXPECT_GE(row_of("LOADED 0501-0509 BASIC"), 1) << screen();
    EXPECT_EQ((std::vector<uint8_t>{0x07, 0x05, 0x0A, 0x00, 0x80, 0x00, 0x00, 0x00}),
              ram_range(0x0501, 8));
    EXPECT_EQ(0x0509, word(0x9C)) << "the end of the BASIC program";
    command("load");
    EXPECT_GE(row_of("LOADED 6000-6006 CODE"), 1) << screen();
    EXPECT_EQ(0xA9, ram[0x6000]);
    EXPECT_EQ(0x00, ram[0x6100]) << "not marked to run";
    ram[0x0505] = 0;
    command("load");
    EXPECT_EQ(0x80, ram[0x0505]) << "past the end the tape starts again";
}

// A block the tape ends inside is no load: no "LOADED", no program pointers, no auto-run.
TEST_F(RomMachine, TapeCutShortIsReportedNotLoaded) {
    // Code for 1000-10FF marked to run, with 16 of its 256 bytes; a BASIC block with 6 of 0x200.
    std::vector<uint8_t> code = {0x16, 0x16, 0x24, 0, 0, 0x80, 1, 0x11, 0x00, 0x10, 0x00, 0, 0};
    code.insert(code.end(), 16, 0x00); // BRK, were it run
    write_file("code.tap", code);
    write_file("prog.tap", {0x16, 0x16, 0x24, 0, 0, 0x00, 0, 0x07, 0x01, 0x05, 0x01, 0, 0, 0x07,
                            0x05, 0x0A, 0x00, 0x80, 0x00});
    boot();
    uint16_t pointers = word(0x9C);
    for (const char *name : {"code.tap", "prog.tap"}) {
        ASSERT_EQ(0, sys_file_mount_tap(name));
        command("load");
        EXPECT_GE(row_of("? BAD/SHORT TAPE"), 1) << name << screen();
        EXPECT_EQ(-1, row_of("LOADED")) << name << screen();
        EXPECT_TRUE(at_prompt()) << name << screen();
        EXPECT_EQ(pointers, word(0x9C)) << name;
        command("cls");
    }
}

TEST_F(RomMachine, DiskBootNeedsABootSectorAndRunsTheDemo) {
    boot();
    command("boot", 200);
    int no_disk = row_of("? NO BOOTABLE DISK IN DRIVE 1");
    EXPECT_GE(no_disk, 1) << screen();
    fdc_mount("blank.dsk", 0, 0); // sectors, but an empty boot sector
    command("boot", 200);
    EXPECT_GT(row_of("? NO BOOTABLE DISK IN DRIVE 1"), no_disk) << screen();
    ASSERT_EQ(0, fdc_mount("demo.dsk", 0, 1));
    command("boot", 200);
    for (const char *line : {"HELLO FROM THE KESTREL DEMO DISK", "SECOND STAGE RUNNING AT 4000",
                             "FROM TRACK 2, SECTOR 5", "FROM TRACK 3, SECTOR 9",
                             "FROM TRACK 4, SECTOR 14", "DISK DEMO DONE"})
        EXPECT_GE(row_of(line), 1) << line << "\n" << screen();
    EXPECT_EQ(-1, row_of("ERROR"));
    EXPECT_EQ(4 * 2, ram[0xE3]) << "the head rests on track 4";
}

} // namespace

// Codes 0x5F-0x7F in either set: one glyph drawn by hand each, all 264 bytes
// pinned by a hash, and the switch flipping the bytes the bus shows.
TEST(RomCharset, TheSwitchShowsEitherSetAtFE70) {
    TempDir dir; // no z5.rom: the set is all the image holds
    sys_cfg_defaults();
    hiram = 0;
    auto bytes = [](int code, int n) {
        std::vector<uint8_t> out(n);
        for (int i = 0; i < n; i++)
            mem_read_decoded(0xFE70 + (code - 0x5F) * 8 + i, &out[i]);
        return out;
    };
    auto hash = [&] {
        uint32_t h = 2166136261u;
        for (uint8_t b : bytes(0x5F, 264))
            h = (h ^ b) * 16777619u;
        return h;
    };
    ASSERT_EQ(0, rom_init());
    EXPECT_EQ((std::vector<uint8_t>{0, 0, 0x36, 0x2A, 0x2A, 0x2A, 0x22, 0}), bytes('m', 8));
    EXPECT_EQ(0xA2499373u, hash());
    ASSERT_EQ(0, rom_toggle_charset());
    EXPECT_EQ(0, config[CFG_CHARSET].value);
    EXPECT_EQ((std::vector<uint8_t>{0x2A, 0x2A, 0x2A, 0x1C, 0x2A, 0x2A, 0x2A, 0}), bytes(0x76, 8));
    EXPECT_EQ(0xBC5ACEA9u, hash());
    ASSERT_EQ(0, rom_toggle_charset());
    EXPECT_EQ(0xA2499373u, hash());
}
