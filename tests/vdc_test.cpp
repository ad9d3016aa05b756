#include "vdc.h"

#include <sstream>
#include <string>

#include "fixture.h"

namespace {

constexpr unsigned TEXT = 0xBB80, HIRES = 0xA000;

// 'A' in each pattern table, no two rows alike; bits 7 and 6 must never reach the picture.
constexpr unsigned tables[4] = {0xB400, 0xB800, 0x9800, 0x9C00};
constexpr uint8_t glyphs[4][8] = {{0x0C, 0xD2, 0x21, 0x33, 0x3F, 0x61, 0x2D, 0x01},
                                  {0x30, 0x0F, 0x26, 0x24, 0x3C, 0x05, 0x0A, 0x11},
                                  {0x3E, 0x02, 0x04, 0x08, 0x10, 0x20, 0x1B, 0x26},
                                  {0x07, 0x38, 0x29, 0x16, 0x2E, 0x1D, 0x3B, 0x37}};

// The line as a colour number per pixel (red in the low byte), '?' off the palette.
std::string colours(int line) {
    std::string s;
    for (int x = 0; x < 240; ++x) {
        const uint32_t v = video->pixels[line * 240 + x];
        const int c = (v & 1) | (v >> 7 & 2) | (v >> 14 & 4);
        s += v == (c & 1) * 0xFFu + (c & 2) * 0x7F80u + (c & 4) * 0x3FC000u ? char('0' + c) : '?';
    }
    return s;
}

// A line by cells, "cell" or "cell*n": a colour digit, six for each pixel, or "Tfb" ink f on
// paper b from table T (S, A text, H, h hires mode, D, E text double height; std., alt.).
std::string expect(int line, const char *spec) {
    std::istringstream in(spec);
    std::string out, t;
    while (in >> t) {
        const size_t star = t.find('*');
        std::string cell = t.substr(0, star);
        if (cell.size() == 1) cell.assign(6, cell[0]);
        if (cell.size() == 3) {
            const size_t kind = std::string("SAHhDE").find(cell[0]);
            const int pattern = glyphs[kind % 4][kind > 3 ? line / 2 % 8 : line % 8];
            for (int i = 0; i < 6; ++i)
                cell += cell[(pattern >> (5 - i) & 1) ? 1 : 2];
            cell.erase(0, 3);
        }
        for (int n = star == std::string::npos ? 1 : std::stoi(t.substr(star + 1)); n > 0; --n)
            out += cell;
    }
    return out;
}

struct VdcText : ::testing::Test {
    void SetUp() override {
        ASSERT_EQ(0, ram_init());
        poke(TEXT, std::vector<uint8_t>(28 * 40, 0x20)); // blank glyphs: only stored bytes act
        for (int t = 0; t < 4; ++t)
            poke(tables[t] + 'A' * 8, {glyphs[t], glyphs[t] + 8});
        ASSERT_EQ(0, vdc_init());
    }
};
using VdcHires = VdcText;

TEST_F(VdcText, AttributesLastToTheEndOfTheLineAndStylesCombine) {
    poke(TEXT, {0x14, 0x03, 'A', 0x96, 0xC1, 0x81, 'A', 0x00, 'A'});
    poke(TEXT + 41, {'A'});                      // white ink on black again
    for (unsigned row : {TEXT + 80, TEXT + 120}) // even, odd: a double-height glyph's halves
        poke(row, {0x12, 'A', 0x09, 'A', 0x0A, 'A', 0x0B, 'A', 0x0F, 0xC1, 0x08, 'A'});
    const char *rows[] = {"4*2 S34 1 S41 1 S16 6 S06 6*31", "0 S70 0*38",
                          "2 S72 2 A72 2 D72 2 E72 2 5 2 S72 2*28"};
    for (int line = 0; line < 32; ++line) {
        vdc_render();
        EXPECT_EQ(expect(line, rows[std::min(line / 8, 2)]), colours(line)) << line;
    }
}

TEST_F(VdcHires, ModeAttributeSwitchesFromTheNextCellAndLasts) {
    poke(TEXT, {0x1C, 0x20, 'A'});
    poke(HIRES, {0x06, 0x7F, 0x40, 0x55, 0x16, 0x05, 0x2A, 0xFF, 0xD5, 0x92, 0x20});
    poke(HIRES + 40, {0x7F, 0x1B}); // bit 2 clear: text for the rest of line 1
    vdc_render();
    vdc_render();
    EXPECT_EQ(expect(0, "0 7 0 070707 6 6 565656 2 121212 5 522222 2*29"), colours(0));
    EXPECT_EQ(expect(1, "7 0 S70 0*37"), colours(1));
    for (int line = 2; line <= 224; ++line) // to line 0 of the next frame: hires from its start
        vdc_render();
    EXPECT_EQ(expect(0, "0 6 0 060606 6 6 565656 2 121212 5 522222 2*29"), colours(0));
}

TEST_F(VdcHires, FramesEndWithTextRows25To27AndWrap) {
    vdc_hires(1);
    poke(HIRES, {0x12});
    poke(TEXT + 24 * 40, {0x17, 'A'}); // under hires line 200: never shown
    poke(TEXT + 25 * 40, {'A', 0x09, 'A'});
    poke(TEXT + 27 * 40 + 39, {'A'});
    for (int n = 1; n <= 2 * 224; ++n) // the second frame must start over
        ASSERT_EQ(n % 224, vdc_render()) << n;
    EXPECT_EQ(expect(0, "2*40"), colours(0));
    EXPECT_EQ(expect(199, "700000*40"), colours(199)) << "text row 23 read as hires";
    EXPECT_EQ(expect(200, "H70 0 h70 0*37"), colours(200));
    EXPECT_EQ(expect(207, "H70 0 h70 0*37"), colours(207));
    EXPECT_EQ(expect(223, "0*39 H70"), colours(223));
    vdc_hires(0);
    poke(TEXT, {0x13});
    for (int line = 0; line <= 200; ++line)
        vdc_render();
    EXPECT_EQ(expect(0, "3*40"), colours(0));
    EXPECT_EQ(expect(200, "S70 0 A70 0*37"), colours(200)) << "text mode: the text tables";
    EXPECT_EQ(0, video->zoom);
    EXPECT_EQ(0, vdc_hires(1) + vdc_write(TEXT, 0x41)); // the decoder's write call: trace only
}

// A blank style hides the rest of the line: for good in the simplified timing; in the
// exact one for the second 16 frames of every 32, in text and hires cells alike. A state
// keeps the blink's place, and frames the host does not draw count.
TEST_F(VdcHires, BlankStyleBlinksOnlyInExactTiming) {
    poke(TEXT, {0x0C, 'A', 0x14, 'A'});
    poke(HIRES, {0x0D, 0x7F});
    for (int exact : {0, 1})
        for (int hires : {0, 1}) {
            ASSERT_EQ(0, vdc_init());
            vdc_exact(exact);
            vdc_hires(hires);
            std::vector<uint8_t> saved;
            for (int frame = 0; frame < 70; ++frame) {
                if (frame % 3 == 2) { // run by the host without drawing
                    vdc_skip_frame();
                    continue;
                }
                vdc_render();
                const bool shown = exact && frame % 32 < 16;
                const char *text = shown ? "0 S70 4 S74 4*36" : "0 0 4 4 4*36";
                ASSERT_EQ(expect(0, hires ? (shown ? "0 7 0*38" : "0*40") : text), colours(0))
                    << "exact " << exact << " hires " << hires << " frame " << frame;
                if (frame == 19) vdc_state_save(saved);
                for (int line = 1; line < 224; ++line)
                    vdc_render();
            }
            ASSERT_EQ(0, vdc_init());
            ASSERT_EQ(0, vdc_state_load(saved.data(), saved.size(), 1));
            for (int line = 1; line <= 224; ++line) // the rest of frame 19, then 20's first
                vdc_render();
            EXPECT_EQ(expect(0, hires ? "0*40" : "0 0 4 4 4*36"), colours(0)) << "frame 20 hides";
        }
    vdc_exact(0);
}

} // namespace
