// The real program in a window on a private X server, driven with keys as a
// person presses them, watched through its caption, its pixels and the RAM
// snapshots it writes.
#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "program_util.h"
#include "sys_sdl_fixture.h"

namespace fs = std::filesystem;

namespace {

[[maybe_unused]] auto *x_server = ::testing::AddGlobalTestEnvironment(new XServer(73));

// A 16 KiB system image of our own: reset counts itself in 0x0010, NMI in
// 0x0011, then the processor idles in a loop. The code keeps clear of the
// character patch at 0xFE70.
std::vector<uint8_t> counting_rom() {
    std::vector<uint8_t> rom(0x4000, 0xEA);
    const uint8_t reset[] = {0xE6, 0x10, 0x4C, 0x02, 0xC0}; // INC $10; JMP $C002
    const uint8_t nmi[] = {0xE6, 0x11, 0x40};               // INC $11; RTI
    std::copy(std::begin(reset), std::end(reset), rom.begin());
    std::copy(std::begin(nmi), std::end(nmi), rom.begin() + 0x10);
    rom[0x20] = 0x40; // IRQ: RTI
    const uint8_t vectors[] = {0x10, 0xC0, 0x00, 0xC0, 0x20, 0xC0};
    std::copy(std::begin(vectors), std::end(vectors), rom.end() - 6);
    return rom;
}

// One run of the program in a fresh working directory.
class Kestrel : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const auto &entry : fs::directory_iterator(KESTREL_RUN_DIR))
            if (entry.is_regular_file())
                fs::copy_file(entry.path(), entry.path().filename(),
                              fs::copy_options::overwrite_existing);
        if (!fs::exists("kestrel_font_7x14.bmp")) {
            // Until the build ships fonts, a plain one of our own will do.
            ASSERT_EQ(0, SDL_Init(SDL_INIT_VIDEO | SDL_INIT_NOPARACHUTE));
            ASSERT_TRUE(make_font("kestrel_font_7x14.bmp"));
            SDL_Quit();
        }
    }
    void start() {
        program.start();
        ASSERT_GT(program.pid(), 0);
    }
    int wait_exit(int ms) { return program.wait_exit(ms); }

    void find_window() {
        window_ = find_program_window();
        ASSERT_FALSE(window_.empty()) << "no window";
    }

    void press(const std::string &key, int hold_ms = 60) { press_key(window_, key, hold_ms, 40); }

    void type_line(const std::string &text) {
        for (char c : text)
            press(std::string(1, c));
        press("Return");
    }

    std::vector<uint8_t> screenshot() { return window_pixels(window_); }

    // Runs "dump" in the open console; the snapshot's bytes once written.
    std::vector<uint8_t> dump() {
        remove("kestrel_ram.bin");
        type_line("dump");
        for (int i = 0; i < 300; i++) {
            std::vector<uint8_t> ram = read_file("kestrel_ram.bin");
            if (ram.size() == 65536) return ram;
            sleep_ms(10);
        }
        return read_file("kestrel_ram.bin");
    }

    // Processor seconds the program has used so far.
    double cpu_seconds() {
        std::string stat = read_text("/proc/" + std::to_string(program.pid()) + "/stat");
        size_t close = stat.rfind(')');
        if (program.pid() <= 0 || close == std::string::npos) return 0;
        std::vector<std::string> fields;
        std::string field;
        for (size_t i = close + 2; i <= stat.size(); i++) {
            if (i == stat.size() || stat[i] == ' ') {
                fields.push_back(field);
                field.clear();
            } else {
                field += stat[i];
            }
        }
        // utime and stime are fields 14 and 15 of the line, 12 and 13 here.
        return (std::stod(fields[11]) + std::stod(fields[12])) / sysconf(_SC_CLK_TCK);
    }

    double cpu_share_over(int ms) {
        double before = cpu_seconds();
        sleep_ms(ms);
        return (cpu_seconds() - before) * 1000.0 / ms;
    }

    TempDir dir;
    ChildProgram program; // declared after dir: ends before the directory goes
    std::string window_;
};

// Pixels that differ between two shots inside a rectangle of a 480-wide window.
int changed_pixels(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b, int x0, int y0,
                   int w, int h) {
    int changed = 0;
    for (int y = y0; y < y0 + h; y++)
        for (int x = x0; x < x0 + w; x++) {
            size_t i = (static_cast<size_t>(y) * 480 + x) * 3;
            changed += a[i] != b[i] || a[i + 1] != b[i + 1] || a[i + 2] != b[i + 2];
        }
    return changed;
}

TEST_F(Kestrel, WindowConsoleDumpAndQuit) {
    start();
    find_window();
    EXPECT_EQ("kestrel | <F1> for console", shell("xdotool getwindowname " + window_));
    sleep_ms(300);
    std::vector<uint8_t> before = screenshot();
    ASSERT_EQ(480u * 448u * 3u, before.size()) << "zoom 1 opens a 480 x 448 window";

    press("F1");
    sleep_ms(200);
    std::vector<uint8_t> open = screenshot();
    ASSERT_EQ(before.size(), open.size());
    EXPECT_GT(changed_pixels(before, open, 8, 32, 464, 408), 100) << "console text drawn";
    EXPECT_EQ(0, changed_pixels(before, open, 0, 0, 480, 32)) << "nothing above the console";

    std::vector<uint8_t> ram = dump();
    EXPECT_EQ(65536u, ram.size());

    press("F1");
    sleep_ms(200);
    std::vector<uint8_t> closed = screenshot();
    ASSERT_EQ(before.size(), closed.size());
    // Allow the console's blinking cursor a frame; the rest must be gone.
    EXPECT_LT(changed_pixels(before, closed, 0, 0, 480, 448), 60);

    press("F10");
    EXPECT_EQ(0, wait_exit(5000));
}

TEST_F(Kestrel, F12ResetsAlsoWithTheConsoleOpenAndF11RaisesOneNmi) {
    write_file("z5.rom", counting_rom());
    start();
    find_window();
    sleep_ms(300);
    press("F1");
    std::vector<uint8_t> ram = dump();
    ASSERT_EQ(65536u, ram.size());
    EXPECT_EQ(1, ram[0x10]) << "one reset at power-on";
    EXPECT_EQ(0, ram[0x11]);

    press("F12");
    sleep_ms(100);
    ram = dump();
    ASSERT_EQ(65536u, ram.size());
    EXPECT_EQ(2, ram[0x10]) << "F12 released: reset";

    press("F11"); // taken by the open console: no NMI
    press("Escape");
    press("F11", 300); // held: one edge, one NMI
    press("F1");
    ram = dump();
    ASSERT_EQ(65536u, ram.size());
    EXPECT_EQ(1, ram[0x11]);
    EXPECT_EQ(2, ram[0x10]);

    press("F10");
    EXPECT_EQ(0, wait_exit(5000));
}

TEST_F(Kestrel, MissingFontEndsAtStartWithAMessage) {
    for (const char *font : {"kestrel_font_6x13.bmp", "kestrel_font_7x14.bmp",
                             "kestrel_font_8x15.bmp", "kestrel_font_9x15.bmp"})
        remove(font);
    write_text("kestrel.cfg", "verbosity = 1\n");
    start();
    EXPECT_EQ(0, wait_exit(10000));
    EXPECT_NE(std::string::npos, read_text("stderr.txt").find("can't create console"))
        << read_text("stderr.txt");
}

TEST_F(Kestrel, PacedFramesRunAtSpeedAndLeaveTheProcessorMostlyIdle) {
    for (int level : {1, 4}) {
        write_text("kestrel.cfg", "verbosity = 1\nspeed = " + std::to_string(level) + "\n");
        start();
        find_window();
        sleep_ms(500);
        double share = cpu_share_over(3000);
        printf("speed %d: %.1f%% of one core\n", level, share * 100);
        RecordProperty("cpu_share_speed_" + std::to_string(level), std::to_string(share));
        // A loop that forgot to sleep would use a whole core.
        EXPECT_LT(share, level == 1 ? 0.5 : 0.8);

        std::string title = shell("xdotool getwindowname " + window_);
        std::smatch m;
        ASSERT_TRUE(std::regex_match(
            title, m,
            std::regex(R"(kestrel \| <F1> for console \| (\d+\.\d{3}) MHz \| 50\.00 fps)")))
            << title;
        double mhz = std::stod(m[1].str());
        // Slow only when the machine is crowded (tests run side by side).
        EXPECT_GT(mhz, 0.7 * level) << title;
        EXPECT_LT(mhz, 1.1 * level) << title;

        press("F10");
        EXPECT_EQ(0, wait_exit(5000));
        window_.clear();
    }
}

} // namespace
