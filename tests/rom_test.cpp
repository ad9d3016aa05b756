// The system ROM and the disk boot ROM built from rom/, run on the whole
// machine: frames of 224 scan lines with the real cycle budget, keys typed
// as host key events, the text screen read back from RAM.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "ay_8912.h"
#include "cpu_6502.h"
#include "fdc.h"
#include "mem.h"
#include "ram.h"
#include "sys_cfg.h"
#include "sys_core.h"
#include "sys_file.h"
#include "test_util.h"
#include "vdc.h"
#include "via_6522.h"

namespace {

// Host key symbols, as the host loop sends them.
constexpr int K_BACKSPACE = 8, K_RETURN = 13, K_ESCAPE = 27;
constexpr int K_UP = 273, K_DOWN = 274, K_RIGHT = 275, K_LEFT = 276;
constexpr int K_SCROLLOCK = 302, K_RSHIFT = 303, K_LSHIFT = 304;
constexpr int K_RCTRL = 305, K_LCTRL = 306, K_RALT = 307, K_LALT = 308;

constexpr uint16_t SCREEN = 0xBB80;
constexpr int ROWS = 28, COLS = 40;
constexpr uint32_t PAL_RED = 0x0000FF, PAL_BLUE = 0xFF0000, PAL_YELLOW = 0x00FFFF;

const std::string run_dir = KESTREL_RUN_DIR;

std::vector<uint8_t> rom_image() {
    return read_file(run_dir + "/z5.rom");
}

// Unshifted character of each host key that has one, and its shifted one.
struct key_char {
    int sym;
    uint8_t plain, shifted;
};
const key_char matrix_keys[] = {
    {'7', '7', '&'},    {'n', 'n', 'N'},   {'5', '5', '%'},         {'v', 'v', 'V'},
    {'1', '1', '!'},    {'x', 'x', 'X'},   {'3', '3', '#'},         {'j', 'j', 'J'},
    {'t', 't', 'T'},    {'r', 'r', 'R'},   {'f', 'f', 'F'},         {K_ESCAPE, 27, 27},
    {'q', 'q', 'Q'},    {'d', 'd', 'D'},   {'m', 'm', 'M'},         {'6', '6', '^'},
    {'b', 'b', 'B'},    {'4', '4', '$'},   {'z', 'z', 'Z'},         {'2', '2', '@'},
    {'c', 'c', 'C'},    {'k', 'k', 'K'},   {'9', '9', '('},         {';', ';', ':'},
    {'-', '-', '_'},    {'\\', '\\', '|'}, {'\'', '\'', '"'},       {' ', ' ', ' '},
    {',', ',', '<'},    {'.', '.', '>'},   {K_UP, 11, 11},          {K_LEFT, 8, 8},
    {K_DOWN, 10, 10},   {K_RIGHT, 9, 9},   {'u', 'u', 'U'},         {'i', 'i', 'I'},
    {'o', 'o', 'O'},    {'p', 'p', 'P'},   {K_BACKSPACE, 127, 127}, {']', ']', '}'},
    {'[', '[', '{'},    {'y', 'y', 'Y'},   {'h', 'h', 'H'},         {'g', 'g', 'G'},
    {'e', 'e', 'E'},    {'a', 'a', 'A'},   {'s', 's', 'S'},         {'w', 'w', 'W'},
    {'8', '8', '*'},    {'l', 'l', 'L'},   {'0', '0', ')'},         {'/', '/', '?'},
    {K_RETURN, 13, 13}, {'`', '`', '~'},   {'=', '=', '+'},
};

// Host key (and whether shift is needed) that types character c.
bool key_for(char c, int *sym, bool *shift) {
    if (c == '\r' || c == '\n') {
        *sym = K_RETURN;
        *shift = false;
        return true;
    }
    for (const key_char &k : matrix_keys) {
        if (k.sym >= 256 || k.sym < 32) continue;
        if (k.plain == static_cast<uint8_t>(c)) {
            *sym = k.sym;
            *shift = false;
            return true;
        }
        if (k.shifted == static_cast<uint8_t>(c)) {
            *sym = k.sym;
            *shift = true;
            return true;
        }
    }
    return false;
}

class RomMachine : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::copy_file(run_dir + "/z5.rom", dir.path() + "/z5.rom");
        std::filesystem::copy_file(run_dir + "/z5dos.rom", dir.path() + "/z5dos.rom");
        sys_cfg_defaults();
        sys_apply_config();
        sys_queue_reset();
        mem_init();
        vdc_init();
        via_6522_init();
        cpu_6502_init();
        ram = ram_getptr();
    }
    void TearDown() override {
        fdc_umount(0);
        fdc_umount(1);
        sys_file_mount_tap(nullptr);
    }

    // One frame as the host runs it: 224 lines, each after its share of cycles,
    // then the sound chip's buffer for the frame, as the audio device asks.
    void frame() {
        int budget = speed * 1000 * refresh / 224;
        for (int line = 0; line < 224; line++) {
            int used = 0;
            while (used < budget) {
                int c = 0;
                sys_systemloop(&c);
                used += c;
            }
            video->render();
        }
        std::vector<uint8_t> buf(static_cast<size_t>(budget) * 224 / AY_CYCLES_PER_FRAME * 4);
        ay_8912_callback(nullptr, buf.data(), static_cast<int>(buf.size()));
        int lo = 32767, hi = -32768;
        for (size_t i = 0; i + 1 < buf.size(); i += 4) {
            int16_t v = static_cast<int16_t>(buf[i] | buf[i + 1] << 8);
            lo = std::min<int>(lo, v);
            hi = std::max<int>(hi, v);
        }
        loud = hi - lo > 1000;
    }
    void frames(int n) {
        for (int i = 0; i < n; i++)
            frame();
    }
    // Runs frames until `done` holds; false after max_frames.
    bool run_until(const std::function<bool()> &done, int max_frames) {
        for (int i = 0; i < max_frames; i++) {
            if (done()) return true;
            frame();
        }
        return done();
    }

    std::string row(int r) const {
        std::string s;
        for (int c = 0; c < COLS; c++) {
            uint8_t b = ram[SCREEN + r * COLS + c] & 0x7F;
            s += b < 0x20 ? ' ' : static_cast<char>(b);
        }
        return s;
    }
    std::string screen() const {
        std::string s;
        for (int r = 0; r < ROWS; r++)
            s += row(r) + "\n";
        return s;
    }
    bool shows(const std::string &text) const { return screen().find(text) != std::string::npos; }
    int row_of(const std::string &text) const {
        for (int r = ROWS - 1; r >= 0; r--)
            if (row(r).find(text) != std::string::npos) return r;
        return -1;
    }
    bool wait_for(const std::string &text, int max_frames = 150) {
        return run_until([&] { return shows(text); }, max_frames);
    }
    // The prompt waits on a fresh line: the last non-empty row is ">".
    bool at_prompt() const {
        for (int r = ROWS - 1; r >= 1; r--) {
            std::string s = row(r);
            if (s.find_first_not_of(' ') == std::string::npos) continue;
            return s.rfind(">", 0) == 0 && s.find_first_not_of(' ', 1) == std::string::npos;
        }
        return false;
    }
    bool wait_prompt(int max_frames = 150) {
        return run_until([&] { return at_prompt(); }, max_frames);
    }
    void boot() { ASSERT_TRUE(wait_prompt(100)) << screen(); }

    void down(int sym) { push_event({EV_KEY_DOWN, static_cast<uint64_t>(sym)}); }
    void up(int sym) { push_event({EV_KEY_UP, static_cast<uint64_t>(sym)}); }
    void press(int sym, int mod = 0) {
        if (mod) down(mod);
        down(sym);
        frames(2);
        up(sym);
        if (mod) up(mod);
        frames(2);
    }
    void type(const std::string &text) {
        for (char c : text) {
            int sym = 0;
            bool shift = false;
            ASSERT_TRUE(key_for(c, &sym, &shift)) << "no key for " << c;
            press(sym, shift ? K_LSHIFT : 0);
        }
    }
    // Types a command line and waits until the prompt is back.
    void command(const std::string &line, int max_frames = 300) {
        type(line + "\r");
        ASSERT_TRUE(wait_prompt(max_frames)) << screen();
    }
    void poke(uint16_t addr, const std::vector<uint8_t> &bytes) {
        for (size_t i = 0; i < bytes.size(); i++)
            ram[addr + i] = bytes[i];
    }
    uint32_t pixel(int x, int y) const { return video->pixels[y * VDC_WIDTH + x]; }

    TempDir dir;
    uint8_t *ram = nullptr;
    bool loud = false;
};

// A program that stores every key code from the ROM's read-key entry at
// 0x5000 upward, the count in 0x00F0.
const std::vector<uint8_t> key_logger = {
    0x20, 0x06, 0xC0, // jsr getkey
    0xA4, 0xF0,       // ldy $F0
    0x99, 0x00, 0x50, // sta $5000,y
    0xE6, 0xF0,       // inc $F0
    0x4C, 0x00, 0x40, // jmp $4000
};

TEST_F(RomMachine, BootsToBannerFreeMemoryAndPromptWithinTwoSeconds) {
    bool banner = run_until([&] { return shows("KESTREL OPEN ROM"); }, 100);
    ASSERT_TRUE(banner) << screen();
    std::printf("[ figures  ] banner after %llu emulated cycles\n",
                static_cast<unsigned long long>(cpu_6502_cycles()));
    ASSERT_TRUE(wait_prompt(100));
    EXPECT_NE(std::string::npos, row(0).find("KESTREL OPEN ROM"));
    EXPECT_TRUE(shows("37632 BYTES FREE")) << screen();
    EXPECT_EQ(0x01, ram[0x9A]);
    EXPECT_EQ(0x05, ram[0x9B]);
}

TEST_F(RomMachine, WorksAtFourTimesTheSpeed) {
    speed = 4;
    cpu_6502_init();
    boot();
    command("e 4000 a9 66 8d 01 40 60");
    command("go 4000");
    EXPECT_EQ(0x66, ram[0x4001]);
    std::filesystem::copy_file(run_dir + "/demo.dsk", dir.path() + "/demo.dsk");
    fdc_mount("demo.dsk", 0, 1);
    command("boot", 100);
    EXPECT_GE(row_of("DISK DEMO DONE"), 1) << screen();
    speed = 1;
}

TEST_F(RomMachine, StatusRowIsDrawnWithTheRomsOwnShapes) {
    boot();
    std::vector<uint8_t> rom = rom_image();
    // Row 0: paper blue, ink yellow, then the title from cell 2: 'K'.
    ASSERT_EQ('K', ram[SCREEN + 2]);
    frames(1);
    for (int line = 0; line < 8; line++) {
        uint8_t shape = rom[0x3C78 + ('K' - 0x20) * 8 + line];
        for (int bit = 0; bit < 6; bit++) {
            uint32_t want = (shape >> (5 - bit)) & 1 ? PAL_YELLOW : PAL_BLUE;
            EXPECT_EQ(want, pixel(12 + bit, line)) << "line " << line << " pixel " << bit;
        }
    }
}

TEST_F(RomMachine, EveryMatrixKeyArrivesWithAndWithoutShift) {
    boot();
    poke(0x4000, key_logger);
    type("go 4000\r"); // the logger never returns
    frames(2);
    ram[0xF0] = 0;
    std::vector<uint8_t> want;
    for (const key_char &k : matrix_keys) {
        press(k.sym);
        want.push_back(k.plain);
        press(k.sym, K_RSHIFT);
        want.push_back(k.shifted);
    }
    frames(2);
    ASSERT_EQ(want.size(), ram[0xF0]);
    for (size_t i = 0; i < want.size(); i++)
        EXPECT_EQ(want[i], ram[0x5000 + i]) << "key " << i / 2 << (i & 1 ? " shifted" : "");
}

TEST_F(RomMachine, ControlCapitalsModifiersAndRepeat) {
    boot();
    poke(0x4000, key_logger);
    type("go 4000\r");
    frames(2);
    ram[0xF0] = 0;
    press('a', K_LCTRL);
    press('z', K_RCTRL);
    down(K_SCROLLOCK); // held down while the lock is on
    frames(2);
    EXPECT_EQ("CAPS", row(0).substr(35, 4));
    press('q');
    press('5');
    up(K_SCROLLOCK);
    frames(2);
    EXPECT_EQ("    ", row(0).substr(35, 4));
    press('q');
    for (int mod : {K_LSHIFT, K_RSHIFT, K_LCTRL, K_RCTRL, K_LALT, K_RALT})
        press(mod);
    ASSERT_EQ(5, ram[0xF0]) << "modifiers alone give nothing";
    EXPECT_EQ(0x01, ram[0x5000]);
    EXPECT_EQ(0x1A, ram[0x5001]);
    EXPECT_EQ('Q', ram[0x5002]);
    EXPECT_EQ('5', ram[0x5003]);
    EXPECT_EQ('q', ram[0x5004]);
    // Held for a second: one key, then repeats after the delay.
    ram[0xF0] = 0;
    down('m');
    frames(50);
    up('m');
    frames(2);
    EXPECT_GE(ram[0xF0], 8);
    EXPECT_LE(ram[0xF0], 25);
    for (int i = 0; i < ram[0xF0]; i++)
        EXPECT_EQ('m', ram[0x5000 + i]);
}

TEST_F(RomMachine, KeyboardScanLeavesTheSpeakerLineAlone) {
    boot();
    command("e 4000 a9 80 8d 00 03 60"); // lda #$80 / sta $0300 / rts
    command("go 4000");
    frames(3);
    uint8_t orb = 0;
    mem_read(0x0300, &orb);
    EXPECT_EQ(0x80, orb & 0x80);
    type("x");
    frames(2);
    mem_read(0x0300, &orb);
    EXPECT_EQ(0x80, orb & 0x80) << "still up after scanning a key";
}

TEST_F(RomMachine, DumpShowsTheRomBytes) {
    boot();
    std::vector<uint8_t> rom = rom_image();
    command("dump c000 c00f");
    for (int line = 0; line < 2; line++) {
        char want[64];
        int n = std::snprintf(want, sizeof want, "C%03X", line * 8);
        for (int i = 0; i < 8; i++)
            n += std::snprintf(want + n, sizeof want - n, " %02X", rom[line * 8 + i]);
        int r = row_of(want);
        EXPECT_GE(r, 1) << want << "\n" << screen();
    }
    EXPECT_EQ(-1, row_of("C010 ")) << "the dump ends at the address asked for";
    // Without arguments the dump goes on where it stopped, 64 bytes a time,
    // and it stops at the top of memory.
    command("dump");
    EXPECT_GE(row_of("C010 "), 1);
    EXPECT_GE(row_of("C048 "), 1);
    EXPECT_EQ(-1, row_of("C050 "));
    command("d fff8");
    EXPECT_GE(row_of("FFF8 "), 1);
    EXPECT_EQ(-1, row_of("0000 "));
    // Text column: printable bytes as themselves. The name sits at 0xC01E.
    command("D C01E");
    EXPECT_GE(row_of("C01E 4B 45 53 54 52 45 4C 20  KESTREL "), 1) << screen();
}

TEST_F(RomMachine, EnteredProgramRunsAndReturnsToThePrompt) {
    boot();
    // lda #$2A / sta $4100 / lda #'K' / jsr print char / rts; a line is one row
    command("enter 4000 a9 2a 8d 00 41 a9 4b");
    command("e 4007 20 00 c0 60");
    EXPECT_EQ(0xA9, ram[0x4000]);
    EXPECT_EQ(0x60, ram[0x400A]);
    command("GO 4000");
    EXPECT_EQ(0x2A, ram[0x4100]);
    EXPECT_GE(row_of("K"), 1);
    // A second run from the same prompt still works: the stack came back.
    ram[0x4100] = 0;
    command("g 4000");
    EXPECT_EQ(0x2A, ram[0x4100]);
}

TEST_F(RomMachine, FillWritesExactlyTheRange) {
    boot();
    command("fill 4001 40fe 5a");
    EXPECT_EQ(0x00, ram[0x4000]);
    EXPECT_EQ(0x5A, ram[0x4001]);
    EXPECT_EQ(0x5A, ram[0x40FE]);
    EXPECT_EQ(0x00, ram[0x40FF]);
    command("f 5000 5000 $11");
    EXPECT_EQ(0x11, ram[0x5000]);
    EXPECT_EQ(0x00, ram[0x5001]);
}

TEST_F(RomMachine, BadInputGetsOneLineErrors) {
    boot();
    const std::pair<const char *, const char *> cases[] = {
        {"xyzzy", "? UNKNOWN COMMAND - TRY HELP"},
        {"fill 4000", "? USAGE: FILL FROM TO BB"},
        {"enter 4000 123", "? USAGE: ENTER ADDR BB .."},
        {"dump 5000 4000", "? USAGE: DUMP [FROM [TO]]"},
        {"go 12345", "? USAGE: GO ADDR"},
        {"cls now", "? USAGE: CLS"},
    };
    for (const auto &[line, error] : cases) {
        command(line);
        EXPECT_GE(row_of(error), 1) << line << "\n" << screen();
    }
}

TEST_F(RomMachine, HelpListsEveryCommand) {
    boot();
    command("help");
    for (const char *c : {"HELP", "HIRES", "DUMP [FROM [TO]]", "ENTER ADDR BB ..",
                          "FILL FROM TO BB", "GO ADDR", "LOAD", "BOOT", "CLS"})
        EXPECT_TRUE(shows(c)) << c << "\n" << screen();
    command("?");
    EXPECT_TRUE(shows("NUMBERS ARE HEX"));
}

TEST_F(RomMachine, ScreenEditorDeletesScrollsAndReentersLines) {
    boot();
    type("dumx");
    press(K_BACKSPACE);
    command("p 4000 4007");
    EXPECT_GE(row_of("4000 00 00 00 00 00 00 00 00"), 1) << screen();
    // Many lines scroll the screen; the status row stays.
    command("dump 0 2ff", 600);
    EXPECT_NE(std::string::npos, row(0).find("KESTREL OPEN ROM"));
    EXPECT_GE(row_of("02F8 "), 20);
    command("cls");
    EXPECT_EQ(1, row_of(">"));
    EXPECT_EQ(-1, row_of("02F8 "));
    // Back up to an earlier command line and take it again with Return; the
    // new prompt takes the row below it.
    command("e 4000 11");
    command("e 4000 22");
    ASSERT_EQ(0x22, ram[0x4000]);
    press(K_UP);
    press(K_UP);
    press(K_RETURN);
    frames(5);
    EXPECT_EQ(0x11, ram[0x4000]);
    EXPECT_EQ(">", row(2).substr(0, 2).substr(0, 1));
    EXPECT_EQ(std::string::npos, row(2).find("22"));
    press(K_DOWN);
    command("e 4000 33");
    EXPECT_EQ(0x33, ram[0x4000]);
}

TEST_F(RomMachine, BreakAndNmiReturnToTheMonitor) {
    boot();
    command("e 4000 ea 00");
    command("go 4000");
    EXPECT_GE(row_of("BRK AT 4001"), 1) << screen();
    command("e 4000 4c 00 40"); // a loop that never ends
    type("go 4000\r");
    frames(10);
    EXPECT_FALSE(at_prompt());
    push_event({EV_NMI_SET, 0});
    push_event({EV_NMI_CLEAR, 0});
    ASSERT_TRUE(wait_prompt()) << screen();
    EXPECT_GE(row_of("BREAK"), 1);
    command("e 4100 77");
    EXPECT_EQ(0x77, ram[0x4100]);
}

TEST_F(RomMachine, HiresTestPatternAndBack) {
    boot();
    type("hires\r");
    ASSERT_TRUE(wait_for("PRESS A KEY")) << screen();
    frames(2);
    EXPECT_EQ(PAL_RED, pixel(20, 0)) << "top line of the pattern, first band red";
    EXPECT_EQ(0x1E, ram[0xBF68]);
    EXPECT_EQ(0x7F, ram[0xA000 + 5]);
    press('x');
    ASSERT_TRUE(wait_prompt()) << screen();
    frames(2);
    EXPECT_EQ(PAL_BLUE, pixel(0, 0)) << "the status row again";
    EXPECT_NE(std::string::npos, row(0).find("KESTREL OPEN ROM"));
    command("e 4000 33");
    EXPECT_EQ(0x33, ram[0x4000]);
}

TEST_F(RomMachine, TapeDemoLoadsRunsDrawsAndPlays) {
    boot();
    std::vector<uint8_t> tap = read_file(run_dir + "/demo.tap");
    ASSERT_GT(tap.size(), 40u);
    ASSERT_EQ(0, sys_file_mount_tap((run_dir + "/demo.tap").c_str()));
    type("load");
    uint64_t start = cpu_6502_cycles();
    press(K_RETURN);
    ASSERT_TRUE(wait_for("LOADED 1000-")) << screen();
    std::printf("[ figures  ] tape demo: Return to loaded within %llu cycles\n",
                static_cast<unsigned long long>(cpu_6502_cycles() - start));
    // The data follows the name's zero after the 10-byte header.
    size_t off = 0;
    while (tap[off] == 0x16)
        off++;
    off += 10;
    while (tap[off] != 0)
        off++;
    off++;
    for (size_t i = off; i < tap.size(); i++)
        ASSERT_EQ(tap[i], ram[0x1000 + i - off]) << i;
    ASSERT_TRUE(wait_for("PLAYING A TUNE")) << screen();
    int loud_frames = 0;
    ASSERT_TRUE(run_until(
        [&] {
            loud_frames += loud;
            return shows("PRESS A KEY");
        },
        500));
    EXPECT_GE(loud_frames, 50) << "the tune lasts more than a second";
    EXPECT_EQ(0x1E, ram[0xBF68]);
    EXPECT_NE(std::string::npos, row(25).find("KESTREL TAPE DEMO"));
    int drawn = 0;
    for (int i = 0; i < 8000; i++)
        drawn += (ram[0xA000 + i] & 0x40) && ram[0xA000 + i] != 0x40;
    EXPECT_GT(drawn, 500);
    frames(3);
    EXPECT_FALSE(loud);
    press(' ');
    ASSERT_TRUE(wait_prompt()) << screen();
    EXPECT_GE(row_of("TAPE DEMO FINISHED"), 1);
}

// push_back, since a vector insert here trips a false warning of the compiler.
void append(std::vector<uint8_t> &to, const std::vector<uint8_t> &from) {
    for (uint8_t b : from)
        to.push_back(b);
}

// A tape block as the machine writes them: sync, header, name, data.
std::vector<uint8_t> tape_block(uint8_t type, uint8_t autorun, uint16_t start,
                                const std::vector<uint8_t> &data) {
    uint16_t end = static_cast<uint16_t>(start + data.size());
    std::vector<uint8_t> t = {0x16,
                              0x16,
                              0x16,
                              0x24,
                              0x00,
                              0x00,
                              type,
                              autorun,
                              static_cast<uint8_t>(end >> 8),
                              static_cast<uint8_t>(end),
                              static_cast<uint8_t>(start >> 8),
                              static_cast<uint8_t>(start),
                              0x00,
                              'N',
                              'A',
                              'M',
                              'E',
                              0x00};
    append(t, data);
    return t;
}

TEST_F(RomMachine, TapeBlocksOneAfterAnotherByType) {
    boot();
    // One BASIC line "10 END" (token 0x80), a code block below 0x0400, a code
    // block not marked to run.
    std::vector<uint8_t> basic = {0x07, 0x05, 0x0A, 0x00, 0x80, 0x00, 0x00, 0x00};
    std::vector<uint8_t> tap = tape_block(0x00, 0, 0x0501, basic);
    std::vector<uint8_t> low = tape_block(0x80, 1, 0x0200, {0xEA, 0x60});
    std::vector<uint8_t> code = tape_block(0x80, 0, 0x6000, {0xA9, 0x5C, 0x8D, 0x00, 0x61, 0x60});
    append(tap, low);
    append(tap, code);
    write_file("three.tap", tap);
    ASSERT_EQ(0, sys_file_mount_tap("three.tap"));
    command("load");
    EXPECT_GE(row_of("LOADED 0501-0509 BASIC"), 1) << screen();
    for (size_t i = 0; i < basic.size(); i++)
        EXPECT_EQ(basic[i], ram[0x0501 + i]);
    EXPECT_EQ(0x01, ram[0x9A]);
    EXPECT_EQ(0x05, ram[0x9B]);
    EXPECT_EQ(0x09, ram[0x9C]);
    EXPECT_EQ(0x05, ram[0x9D]);
    command("load");
    EXPECT_GE(row_of("? LOAD ADDRESS BELOW 0400"), 1) << screen();
    EXPECT_NE(0xEA, ram[0x0200]);
    command("load");
    EXPECT_GE(row_of("LOADED 6000-6006 CODE"), 1) << screen();
    EXPECT_EQ(0x00, ram[0x6100]) << "not marked to run";
    command("go 6000");
    EXPECT_EQ(0x5C, ram[0x6100]);
    // At the end the tape rewinds: the first block again.
    ram[0x0505] = 0;
    command("load");
    EXPECT_EQ(0x80, ram[0x0505]);
}

TEST_F(RomMachine, LoadWithoutTapeGivesUp) {
    boot();
    command("load", 50);
    EXPECT_GE(row_of("? NO TAPE BLOCK FOUND"), 1) << screen();
}

TEST_F(RomMachine, DiskDemoBootsGreetsAndRunsTheSecondStage) {
    boot();
    std::filesystem::copy_file(run_dir + "/demo.dsk", dir.path() + "/demo.dsk");
    fdc_mount("demo.dsk", 0, 1);
    type("boot");
    uint64_t start = cpu_6502_cycles();
    press(K_RETURN);
    ASSERT_TRUE(wait_for("DISK DEMO DONE", 200)) << screen();
    std::printf("[ figures  ] disk demo: Return to second stage done within %llu cycles\n",
                static_cast<unsigned long long>(cpu_6502_cycles() - start));
    ASSERT_TRUE(wait_prompt());
    EXPECT_GE(row_of("HELLO FROM THE KESTREL DEMO DISK"), 1);
    EXPECT_GE(row_of("LOADING THE SECOND STAGE....."), 1) << screen();
    EXPECT_GE(row_of("SECOND STAGE RUNNING AT 4000"), 1);
    EXPECT_GE(row_of("THIS LINE CAME FROM TRACK 2, SECTOR 5"), 1);
    EXPECT_GE(row_of("THIS LINE CAME FROM TRACK 3, SECTOR 9"), 1);
    EXPECT_GE(row_of("THIS LINE CAME FROM TRACK 4, SECTOR 14"), 1);
    EXPECT_EQ(std::string::npos, screen().find("ERROR"));
    EXPECT_EQ(4 * 2, ram[0xE3]) << "the head rests on track 4";
}

// Reads the 16 physical sectors of track 0xE0 into pages 0x50-0x5F through
// the boot ROM's read entry; 0x00F1 ends 0 when all were read, 1 if not.
const std::vector<uint8_t> track_reader = {
    0xA2, 0x00,       // 6000 ldx #0
    0x86, 0xE1,       // 6002 stx $E1
    0x8A,             // 6004 txa
    0x18,             // 6005 clc
    0x69, 0x50,       // 6006 adc #$50
    0x85, 0xE7,       // 6008 sta $E7
    0x86, 0xF0,       // 600A stx $F0
    0x20, 0x23, 0x03, // 600C jsr $0323
    0xA6, 0xF0,       // 600F ldx $F0
    0xB0, 0x0B,       // 6011 bcs $601E
    0xE8,             // 6013 inx
    0xE0, 0x10,       // 6014 cpx #16
    0xD0, 0xEA,       // 6016 bne $6002
    0xA9, 0x00,       // 6018 lda #0
    0x85, 0xF1,       // 601A sta $F1
    0xF0, 0x04,       // 601C beq $6022
    0xA9, 0x01,       // 601E lda #1
    0x85, 0xF1,       // 6020 sta $F1
    0xAD, 0x18, 0x03, // 6022 lda $0318
    0x60,             // 6025 rts
};

TEST_F(RomMachine, ReadSectorEntryDecodesEveryByteValueOnAnyTrack) {
    boot();
    std::filesystem::copy_file(run_dir + "/demo.dsk", dir.path() + "/demo.dsk");
    fdc_mount("demo.dsk", 0, 1);
    command("boot", 300); // builds the decoding table, leaves the head on track 4
    ASSERT_TRUE(shows("DISK DEMO DONE"));
    // An image of pseudo-random bytes: every value, in every position.
    std::vector<uint8_t> image(143360);
    uint32_t x = 12345;
    for (uint8_t &b : image) {
        x = x * 1103515245 + 12345;
        b = static_cast<uint8_t>(x >> 16);
    }
    write_file("random.dsk", image);
    fdc_mount("random.dsk", 0, 1);
    poke(0x6000, track_reader);
    const int skewing[16] = {0, 7, 14, 6, 13, 5, 12, 4, 11, 3, 10, 2, 9, 1, 8, 15};
    for (int track : {17, 34, 0, 1}) {
        ram[0xE0] = static_cast<uint8_t>(track);
        ram[0xF1] = 0xFF;
        command("go 6000", 200);
        ASSERT_EQ(0, ram[0xF1]) << "track " << track;
        for (int s = 0; s < 16; s++)
            for (int i = 0; i < 256; i++)
                ASSERT_EQ(image[(track * 16 + skewing[s]) * 256 + i], ram[0x5000 + s * 256 + i])
                    << "track " << track << " sector " << s << " byte " << i;
    }
    // A track past the end is not found, in bounded time, and the head
    // stays in step: track 17 reads again afterwards.
    ram[0xE0] = 40;
    command("go 6000", 200);
    EXPECT_EQ(1, ram[0xF1]);
    ram[0xE0] = 17;
    command("go 6000", 200);
    EXPECT_EQ(0, ram[0xF1]);
    EXPECT_EQ(image[(17 * 16 + 15) * 256 + 9], ram[0x5F09]);
}

TEST_F(RomMachine, ResetStartsAgainAlsoFromHires) {
    boot();
    type("hires\r");
    ASSERT_TRUE(wait_for("PRESS A KEY"));
    frames(2);
    ASSERT_EQ(PAL_RED, pixel(20, 0));
    push_event({EV_RESET, 0});
    ASSERT_TRUE(wait_prompt()) << screen();
    frames(2);
    EXPECT_EQ(PAL_BLUE, pixel(0, 0)) << "text mode with the status row";
    EXPECT_EQ(1, row_of("KESTREL OPEN ROM"));
    command("e 4000 55");
    EXPECT_EQ(0x55, ram[0x4000]);
}

TEST_F(RomMachine, BootWithoutDiskReturnsWithMessage) {
    boot();
    type("boot");
    uint64_t start = cpu_6502_cycles();
    press(K_RETURN);
    ASSERT_TRUE(wait_for("? NO BOOTABLE DISK IN DRIVE 1", 200)) << screen();
    ASSERT_TRUE(wait_prompt());
    std::printf("[ figures  ] boot without disk: Return to message within %llu cycles\n",
                static_cast<unsigned long long>(cpu_6502_cycles() - start));
    command("e 4000 44");
    EXPECT_EQ(0x44, ram[0x4000]);
    // A blank disk has sectors, but an empty boot sector: not bootable either.
    fdc_mount("blank.dsk", 0, 0);
    command("boot", 200);
    EXPECT_EQ(2, [&] {
        int n = 0;
        std::string s = screen();
        for (size_t p = 0; (p = s.find("NO BOOTABLE DISK", p)) != std::string::npos; p++)
            n++;
        return n;
    }());
}

} // namespace
