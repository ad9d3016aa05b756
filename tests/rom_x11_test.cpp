// The real program with our own ROMs, in a fresh run folder on a private X
// server: the banner is on the screen, and keys pressed on the host keyboard
// reach the monitor and show on the screen.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "program_util.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace {

constexpr int ZOOM = 2; // zoom level 1 doubles every pixel
constexpr int WIN_W = 240 * ZOOM, WIN_H = 224 * ZOOM;
constexpr int FONT_OFFSET = 0x3C78; // shapes of code 0x20 in the ROM image

[[maybe_unused]] auto *x_server = ::testing::AddGlobalTestEnvironment(new XServer(151));

class KestrelWithOurRoms : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const auto &entry : fs::directory_iterator(KESTREL_RUN_DIR))
            if (entry.is_regular_file()) fs::copy_file(entry.path(), entry.path().filename());
        if (!fs::exists("kestrel_font_7x14.bmp"))
            GTEST_SKIP() << "the build has no console fonts yet";
        rom = read_file("z5.rom");
        ASSERT_EQ(16384u, rom.size());
    }
    void start() {
        program.start();
        ASSERT_GT(program.pid(), 0);
        window = find_program_window();
        ASSERT_FALSE(window.empty()) << "no window";
    }
    void key(const std::string &name) { press_key(window, name, 80, 60); }
    std::vector<uint8_t> shot() { return window_pixels(window); }
    // Whether text cell (col, row) shows character c in the given colours.
    static bool cell_shows(const std::vector<uint8_t> &s, const std::vector<uint8_t> &rom, int col,
                           int row, char c, uint32_t ink, uint32_t paper) {
        for (int line = 0; line < 8; line++) {
            uint8_t shape = rom[FONT_OFFSET + (c - 0x20) * 8 + line];
            for (int bit = 0; bit < 6; bit++) {
                int x = (col * 6 + bit) * ZOOM, y = (row * 8 + line) * ZOOM;
                size_t i = (static_cast<size_t>(y) * WIN_W + x) * 3;
                uint32_t rgb = s[i] << 16 | s[i + 1] << 8 | s[i + 2];
                if (rgb != ((shape >> (5 - bit)) & 1 ? ink : paper)) return false;
            }
        }
        return true;
    }
    // Waits up to `ms` for the text to show from cell (col, row), white on black.
    bool wait_text(const std::string &text, int col, int row, int ms) {
        for (int t = 0; t < ms; t += 100) {
            std::vector<uint8_t> s = shot();
            bool all = s.size() == static_cast<size_t>(WIN_W) * WIN_H * 3;
            for (size_t k = 0; all && k < text.size(); k++)
                all =
                    cell_shows(s, rom, col + static_cast<int>(k), row, text[k], 0xFFFFFF, 0x000000);
            if (all) return true;
            sleep_ms(100);
        }
        return false;
    }

    TempDir dir;
    ChildProgram program; // declared after dir: ends before the directory goes
    std::string window;
    std::vector<uint8_t> rom;
};

TEST_F(KestrelWithOurRoms, BannerShowsAndTypedTextAppears) {
    start();
    // Status row: title in yellow on blue from cell 2; banner on row 1.
    ASSERT_TRUE(wait_text("KESTREL OPEN ROM", 0, 1, 5000)) << "banner not drawn";
    std::vector<uint8_t> s = shot();
    ASSERT_EQ(static_cast<size_t>(WIN_W) * WIN_H * 3, s.size());
    EXPECT_TRUE(cell_shows(s, rom, 2, 0, 'K', 0xFFFF00, 0x0000FF)) << "status row";
    // Capitals with shift, as a hand types them; the prompt is on row 4.
    for (const char *k : {"shift+h", "shift+e", "shift+l", "shift+p"})
        key(k);
    EXPECT_TRUE(wait_text(">HELP", 0, 4, 3000)) << "typed text not shown";
    key("Return");
    EXPECT_TRUE(wait_text("DUMP [FROM [TO]]", 0, 7, 3000)) << "the monitor did not answer";
}

} // namespace
