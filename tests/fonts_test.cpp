// The font tool, driven as the build drives it: a BDF in, a BMP out.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

const std::string TOOL = KESTREL_RUN_DIR "/../fonts/kestrel_fontgen";

int run_tool(const std::string &args) {
    const std::string cmd = "'" + TOOL + "' " + args + " 2>fontgen.err";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

uint32_t le(const std::vector<uint8_t> &b, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | b[at + i];
    return v;
}

// A decoded 24-bit BMP: 'W' ink (white), '.' magenta, '?' anything else.
struct image {
    int w = 0, h = 0;
    std::vector<std::string> rows; // top row first
    char at(int x, int y) const { return rows[y][x]; }
    std::string cell(int code, int cell_w, int y) const {
        return rows[y].substr(code * cell_w, cell_w);
    }
};

image read_bmp(const std::string &path) {
    const std::vector<uint8_t> b = read_file(path);
    image img;
    if (b.size() < 54 || b[0] != 'B' || b[1] != 'M') {
        ADD_FAILURE() << path << " is no BMP";
        return img;
    }
    EXPECT_EQ(b.size(), le(b, 2, 4));
    EXPECT_EQ(40u, le(b, 14, 4));
    EXPECT_EQ(24u, le(b, 28, 2));
    EXPECT_EQ(0u, le(b, 30, 4));
    img.w = static_cast<int>(le(b, 18, 4));
    img.h = static_cast<int>(le(b, 22, 4)); // positive: bottom-up
    const size_t offset = le(b, 10, 4);
    const size_t row_bytes = (img.w * 3 + 3) & ~3u;
    EXPECT_EQ(offset + row_bytes * img.h, b.size());
    if (offset + row_bytes * img.h > b.size()) return img;
    for (int y = 0; y < img.h; ++y) {
        const uint8_t *p = &b[offset + (img.h - 1 - y) * row_bytes];
        std::string row;
        for (int x = 0; x < img.w; ++x, p += 3) {
            if (p[0] == 255 && p[1] == 255 && p[2] == 255)
                row += 'W';
            else if (p[0] == 255 && p[1] == 0 && p[2] == 255)
                row += '.';
            else
                row += '?';
        }
        img.rows.push_back(row);
    }
    return img;
}

// A 4 x 6 font, ascent 5, descent 1.
const std::string HEADER = "STARTFONT 2.1\n"
                           "FONT -test-tiny\n"
                           "SIZE 6 75 75\n"
                           "FONTBOUNDINGBOX 4 6 0 -1\n"
                           "STARTPROPERTIES 2\n"
                           "FONT_ASCENT 5\n"
                           "FONT_DESCENT 1\n"
                           "ENDPROPERTIES\n";

std::string glyph(int encoding, const std::string &bbx, const std::vector<std::string> &rows) {
    std::string s = "STARTCHAR g" + std::to_string(encoding) + "\nENCODING " +
                    std::to_string(encoding) + "\nSWIDTH 500 0\nDWIDTH 4 0\nBBX " + bbx +
                    "\nBITMAP\n";
    for (const std::string &r : rows)
        s += r + "\n";
    return s + "ENDCHAR\n";
}

std::string font(const std::string &glyphs, int count) {
    return HEADER + "CHARS " + std::to_string(count) + "\n" + glyphs + "ENDFONT\n";
}

struct FontTool : ::testing::Test {
    TempDir dir;
    void SetUp() override {
        ASSERT_TRUE(std::filesystem::exists(TOOL)) << TOOL << ": build the default target first";
    }
};

TEST_F(FontTool, LaysOutTwoHundredFiftySixCellsInOneRow) {
    write_text("t.bdf", font(glyph('A', "4 6 0 -1", {"60", "90", "F0", "90", "90", "00"}), 1));
    ASSERT_EQ(0, run_tool("t.bdf t.bmp 4 6"));
    const image img = read_bmp("t.bmp");
    ASSERT_EQ(1024, img.w);
    ASSERT_EQ(6, img.h);
    const std::vector<std::string> want = {".WW.", "W..W", "WWWW", "W..W", "W..W", "...."};
    for (int y = 0; y < 6; ++y) {
        EXPECT_EQ(want[y], img.cell('A', 4, y)) << "row " << y;
        EXPECT_EQ("....", img.cell('A' - 1, 4, y));
        EXPECT_EQ("....", img.cell('A' + 1, 4, y));
    }
}

TEST_F(FontTool, PlacesGlyphsByTheirBoxOnTheCentredBaseline) {
    // In an 8 x 10 cell the 6-row font gets 2 spare rows above and 2 below:
    // ascent rows 2..6, descender row 7; the 4-wide font gets 2 spare columns left.
    const std::string glyphs = glyph('.', "1 1 1 0", {"80"}) +              // on the baseline
                               glyph('g', "2 3 0 -1", {"C0", "40", "80"}) + // one row below it
                               glyph('^', "3 1 1 4", {"E0"});               // at the top
    write_text("t.bdf", font(glyphs, 3));
    ASSERT_EQ(0, run_tool("t.bdf t.bmp 8 10"));
    const image img = read_bmp("t.bmp");
    ASSERT_EQ(2048, img.w);
    ASSERT_EQ(10, img.h);
    for (int y = 0; y < 10; ++y) {
        EXPECT_EQ(y == 6 ? "...W...." : "........", img.cell('.', 8, y)) << "row " << y;
        const char *g = y == 5   ? "..WW...."
                        : y == 6 ? "...W...."
                        : y == 7 ? "..W....."
                                 : "........";
        EXPECT_EQ(g, img.cell('g', 8, y)) << "row " << y;
        EXPECT_EQ(y == 2 ? "...WWW.." : "........", img.cell('^', 8, y)) << "row " << y;
    }
}

TEST_F(FontTool, DropsPixelsOutsideTheCellAndCodesPast255) {
    const std::string glyphs =
        glyph('B', "6 8 0 -2", {"FC", "FC", "FC", "FC", "FC", "FC", "FC", "FC"}) +
        glyph(300, "4 6 0 -1", {"F0", "F0", "F0", "F0", "F0", "F0"}) +
        glyph(-1, "4 6 0 -1", {"F0", "F0", "F0", "F0", "F0", "F0"});
    write_text("t.bdf", font(glyphs, 3));
    ASSERT_EQ(0, run_tool("t.bdf t.bmp 4 6"));
    const image img = read_bmp("t.bmp");
    ASSERT_EQ(6, img.h);
    int ink = 0;
    for (int y = 0; y < 6; ++y) {
        EXPECT_EQ("WWWW", img.cell('B', 4, y));
        EXPECT_EQ("....", img.cell('C', 4, y)); // the overhang stays in its own cell
        for (char c : img.rows[y])
            ink += c == 'W';
        EXPECT_EQ(std::string::npos, img.rows[y].find('?'));
    }
    EXPECT_EQ(24, ink);
}

TEST_F(FontTool, RejectsBrokenInputAndLeavesNoFile) {
    const std::string good = glyph('A', "4 6 0 -1", {"60", "90", "F0", "90", "90", "00"});
    const std::vector<std::string> broken = {
        "not a font\n",
        font(glyph('A', "4 6 0 -1", {"60", "90", "F0"}), 1),                   // rows missing
        font(glyph('A', "4 6 0 -1", {"60", "90", "Z0", "90", "90", "00"}), 1), // not hex
        font(glyph('A', "4 6 0 -1", {"6", "9", "F", "9", "9", "0"}), 1),       // rows too short
        font(glyph('A', "4 x 0 -1", {}), 1),                                   // bad box
        HEADER + "STARTCHAR A\nENCODING 65\nBBX 4 6 0 -1\nBITMAP\n60\n",       // cut off
        "STARTFONT 2.1\n" + good + "ENDFONT\n",                                // no bounding box
    };
    for (size_t i = 0; i < broken.size(); ++i) {
        write_text("t.bdf", broken[i]);
        EXPECT_EQ(1, run_tool("t.bdf t.bmp 4 6")) << "case " << i;
        EXPECT_FALSE(std::filesystem::exists("t.bmp")) << "case " << i;
        EXPECT_FALSE(read_text("fontgen.err").empty()) << "case " << i;
    }
    write_text("t.bdf", font(good, 1));
    EXPECT_EQ(1, run_tool("missing.bdf t.bmp 4 6"));
    EXPECT_EQ(1, run_tool("t.bdf t.bmp 0 6"));
    EXPECT_EQ(1, run_tool("t.bdf t.bmp 4 x"));
    EXPECT_EQ(1, run_tool("t.bdf t.bmp 4"));
    EXPECT_EQ(1, run_tool("t.bdf no_such_dir/t.bmp 4 6"));
    EXPECT_FALSE(std::filesystem::exists("t.bmp"));
    EXPECT_EQ(0, run_tool("t.bdf t.bmp 4 6"));
    EXPECT_TRUE(std::filesystem::exists("t.bmp"));
}

} // namespace
