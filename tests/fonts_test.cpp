// The console fonts the build leaves in the run folder, as the console reads
// them: 24-bit BMPs of 256 cells in one row, white ink on magenta.
#include <string>
#include <vector>

#include "fixture.h"

namespace {

uint32_t le32(const std::vector<uint8_t> &b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

TEST(ConsoleFonts, CellsInOneRowWhiteOnMagentaWithAGlyphInEveryPrintableCell) {
    for (auto [w, h] : {std::pair{4u, 6u}, {6u, 13u}, {7u, 14u}, {8u, 15u}, {9u, 15u}}) {
        const std::string name = std::to_string(w) + "x" + std::to_string(h);
        std::vector<uint8_t> b = read_file(KESTREL_RUN_DIR "/kestrel_font_" + name + ".bmp");
        ASSERT_GE(b.size(), 54u) << name;
        EXPECT_TRUE(b[0] == 'B' && b[1] == 'M' && b[28] == 24) << name << ": 24-bit BMP";
        ASSERT_EQ(256 * w, le32(b, 18)) << name;
        ASSERT_EQ(h, le32(b, 22)) << name << ": bottom row first";
        const size_t stride = (256 * w * 3 + 3) / 4 * 4, pixels = le32(b, 10);
        ASSERT_EQ(pixels + stride * h, b.size()) << name;
        for (unsigned code = 0; code < 256; code++) {
            int ink = 0, other = 0;
            for (unsigned y = 0; y < h; y++)
                for (unsigned x = 0; x < w; x++) {
                    const uint8_t *p = &b[pixels + y * stride + (code * w + x) * 3];
                    ink += p[0] == 255 && p[1] == 255 && p[2] == 255;
                    other += !(p[0] == 255 && p[2] == 255 && (p[1] == 255 || p[1] == 0));
                }
            EXPECT_EQ(0, other) << name << " code " << code;
            bool blank = code == ' ' || code == 0xA0,
                 printable = (code > ' ' && code < 0x7F) || code > 0xA0;
            EXPECT_TRUE(blank ? ink == 0 : !printable || ink > 0)
                << name << " ink " << ink << " at " << code;
        }
    }
}

} // namespace
