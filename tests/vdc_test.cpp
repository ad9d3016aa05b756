#include "vdc.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "log.h"
#include "mem.h"
#include "ram.h"
#include "test_util.h"

namespace {

constexpr uint16_t TEXT_SCREEN = 0xBB80;
constexpr uint16_t HIRES_SCREEN = 0xA000;
constexpr uint16_t TEXT_STD = 0xB400;
constexpr uint16_t TEXT_ALT = 0xB800;
constexpr uint16_t HIRES_STD = 0x9800;
constexpr uint16_t HIRES_ALT = 0x9C00;

// Four glyphs for 'A' that share no row, so a wrong table or a wrong row
// shows. Bits 7 and 6 are set in some rows: they must never reach the picture.
// The text-mode tables lie under the hires screen: no mode attribute in them.
constexpr uint8_t glyph_std[8] = {0x0C, 0xD2, 0x21, 0x33, 0x3F, 0x61, 0x2D, 0x01};
constexpr uint8_t glyph_alt[8] = {0x30, 0x0F, 0x26, 0x24, 0x3C, 0x05, 0x0A, 0x11};
constexpr uint8_t glyph_hstd[8] = {0x3E, 0x02, 0x04, 0x08, 0x10, 0x20, 0x1B, 0x26};
constexpr uint8_t glyph_halt[8] = {0x07, 0x38, 0x29, 0x16, 0x2E, 0x1D, 0x3B, 0x37};

// Colour numbers as the picture must show them: red low byte, blue high.
uint32_t rgb(int c) {
    return ((c & 1) ? 0x0000FFu : 0) | ((c & 2) ? 0x00FF00u : 0) | ((c & 4) ? 0xFF0000u : 0);
}

// One digit per pixel, '0'..'7' the colour number, '?' a value off the palette.
std::string colours(int line) {
    std::string s;
    for (int x = 0; x < VDC_WIDTH; ++x) {
        const uint32_t v = video->pixels[line * VDC_WIDTH + x];
        char c = '?';
        for (int n = 0; n < 8; ++n)
            if (v == rgb(n)) c = static_cast<char>('0' + n);
        s += c;
    }
    return s;
}

// The six pixels of one cell.
std::string cell(uint8_t pattern, int fg, int bg) {
    std::string s;
    for (int bit = 5; bit >= 0; --bit)
        s += static_cast<char>('0' + ((pattern >> bit) & 1 ? fg : bg));
    return s;
}

std::string cells(int count, int colour) {
    return std::string(6 * count, static_cast<char>('0' + colour));
}

struct Vdc : ::testing::Test {
    uint8_t *ram_bytes = nullptr;

    void SetUp() override {
        ASSERT_EQ(0, ram_init());
        ram_bytes = ram_getptr();
        // Spaces (blank glyph) everywhere, so only the bytes a test stores act.
        memset(ram_bytes + TEXT_SCREEN, 0x20, 28 * 40);
        put_glyph(TEXT_STD, glyph_std);
        put_glyph(TEXT_ALT, glyph_alt);
        put_glyph(HIRES_STD, glyph_hstd);
        put_glyph(HIRES_ALT, glyph_halt);
        ASSERT_EQ(0, vdc_init());
    }
    void put_glyph(uint16_t table, const uint8_t *g) { memcpy(ram_bytes + table + 'A' * 8, g, 8); }
    void text(int row, int col, std::initializer_list<uint8_t> bytes) {
        memcpy(ram_bytes + TEXT_SCREEN + row * 40 + col, bytes.begin(), bytes.size());
    }
    void hires(int line, int col, std::initializer_list<uint8_t> bytes) {
        memcpy(ram_bytes + HIRES_SCREEN + line * 40 + col, bytes.begin(), bytes.size());
    }
    // Renders up to and including `line`; returns what vdc_render said last.
    int32_t render_through(int line) {
        int32_t next = 0;
        for (int l = 0; l <= line; ++l)
            next = vdc_render();
        return next;
    }
    void render_frame() { render_through(VDC_HEIGHT - 1); }
};

TEST_F(Vdc, InitFillsTheVideoRecord) {
    ASSERT_NE(nullptr, video);
    EXPECT_EQ(0, video->zoom);
    EXPECT_EQ(240, video->width);
    EXPECT_EQ(224, video->height);
    EXPECT_EQ(nullptr, video->surface);
    EXPECT_NE(nullptr, video->pixels);
    EXPECT_EQ(&vdc_render, video->render);
    EXPECT_EQ(nullptr, video->update);
    EXPECT_EQ(nullptr, video->overlay);
}

TEST_F(Vdc, InitClearsWhatAnEarlierRunLeft) {
    vdc_hires(1);
    render_through(9);
    video->overlay = [] {};
    ASSERT_EQ(0, vdc_init());
    EXPECT_EQ(nullptr, video->overlay);
    text(0, 0, {'A'});
    EXPECT_EQ(1, video->render()); // back at line 0, text mode
    EXPECT_EQ(cell(glyph_std[0], 7, 0) + cells(39, 0), colours(0));
}

// ---------------------------------------------------------------- text mode

TEST(VdcBlankRam, LineOfZeroBytesIsBlack) {
    ASSERT_EQ(0, ram_init());
    ASSERT_EQ(0, vdc_init());
    EXPECT_EQ(1, vdc_render());
    EXPECT_EQ(cells(40, 0), colours(0));
}

TEST_F(Vdc, CharacterShowsOnePatternRowPerLineOnlyLowSixBits) {
    text(2, 3, {'A'});
    render_through(15);
    for (int r = 0; r < 8; ++r) {
        const int line = 16 + r;
        vdc_render();
        EXPECT_EQ(cells(3, 0) + cell(glyph_std[r], 7, 0) + cells(36, 0), colours(line))
            << "line " << line;
    }
    EXPECT_EQ(cells(40, 0), colours(15));
}

TEST_F(Vdc, EveryPixelIsAPaletteValueWithTopByteClear) {
    text(0, 0, {0x11, 0x06, 'A', 0x83, 0xC1, 0x15, 0x0A, 'A'});
    vdc_render();
    for (int x = 0; x < VDC_WIDTH; ++x)
        EXPECT_EQ(0u, video->pixels[x] >> 24);
    EXPECT_EQ(std::string::npos, colours(0).find('?'));
}

// ---------------------------------------------------------------- attributes

TEST_F(Vdc, PaperAttributeColoursItsCellAndTheRestOfTheLineOnly) {
    text(0, 0, {0x14, 'A'});
    text(1, 1, {'A'});
    vdc_render();
    EXPECT_EQ(cells(1, 4) + cell(glyph_std[0], 7, 4) + cells(38, 4), colours(0));
    render_through(7); // lines 1..8
    EXPECT_EQ(cells(1, 0) + cell(glyph_std[0], 7, 0) + cells(38, 0), colours(8));
}

TEST_F(Vdc, InkAttributeColoursFollowingCharacters) {
    text(0, 5, {0x03, 'A', 0x01, 'A'});
    vdc_render();
    EXPECT_EQ(cells(6, 0) + cell(glyph_std[0], 3, 0) + cells(1, 0) + cell(glyph_std[0], 1, 0) +
                  cells(31, 0),
              colours(0));
}

TEST_F(Vdc, ZeroByteIsInkBlackAttributeNotACharacter) {
    text(0, 0, {0x00, 'A'});
    vdc_render();
    EXPECT_EQ(cells(40, 0), colours(0)); // black ink on black paper
}

TEST_F(Vdc, InverseAttributeCellDrawsItselfInvertedAndLeavesThePaper) {
    text(0, 0, {0x90, 0xC1, 'A'});
    vdc_render();
    EXPECT_EQ(cells(1, 7) + cell(glyph_std[0], 0, 7) + cell(glyph_std[0], 7, 0) + cells(37, 0),
              colours(0));
}

TEST_F(Vdc, InverseCellInvertsEveryColourBit) {
    text(0, 0, {0x01, 0x14, 0xC1, 0x82});
    vdc_render();
    // ink 1 / paper 4 inverted is 6 on 3; the ink attribute 0x82 sets ink 2
    // and shows the inverted paper 3.
    EXPECT_EQ(cells(1, 0) + cells(1, 4) + cell(glyph_std[0], 6, 3) + cells(1, 3) + cells(36, 4),
              colours(0));
}

TEST_F(Vdc, AlternateSetAttributeSwitchesThePatternTable) {
    text(0, 0, {'A', 0x09, 'A', 0x08, 'A'});
    render_through(4);
    EXPECT_EQ(cell(glyph_std[4], 7, 0) + cells(1, 0) + cell(glyph_alt[4], 7, 0) + cells(1, 0) +
                  cell(glyph_std[4], 7, 0) + cells(35, 0),
              colours(4));
}

TEST_F(Vdc, DoubleHeightShowsTopHalfOnEvenRowsAndBottomHalfOnOdd) {
    text(0, 0, {0x0A, 'A'});
    text(1, 0, {0x0A, 'A'});
    for (int line = 0; line < 16; ++line) {
        vdc_render();
        const int r = (line / 2) % 8;
        EXPECT_EQ(cells(1, 0) + cell(glyph_std[r], 7, 0) + cells(38, 0), colours(line))
            << "line " << line;
    }
}

TEST_F(Vdc, DoubleHeightWithAlternateSet) {
    text(0, 0, {0x0B, 'A'});
    render_through(5);
    EXPECT_EQ(cells(1, 0) + cell(glyph_alt[2], 7, 0) + cells(38, 0), colours(5));
}

TEST_F(Vdc, BlankStyleShowsOnlyBackgroundUntilClearedOnTheLine) {
    text(0, 0, {0x12, 0x0C, 'A', 0xC1, 0x08, 'A'});
    text(1, 0, {'A'});
    vdc_render();
    EXPECT_EQ(cells(3, 2) + cells(1, 5) + cells(1, 2) + cell(glyph_std[0], 7, 2) + cells(34, 2),
              colours(0));
    render_through(7);
    EXPECT_EQ(cell(glyph_std[0], 7, 0) + cells(39, 0), colours(8)); // not carried
}

TEST_F(Vdc, StyleAttributeSetsAllThreeBitsAtOnce) {
    text(0, 0, {0x0F, 'A', 0x0B, 'A'}); // 0x0B drops blank, keeps alt + double
    render_through(2);
    EXPECT_EQ(cells(3, 0) + cell(glyph_alt[1], 7, 0) + cells(36, 0), colours(2));
}

// ---------------------------------------------------------------- hires mode

TEST_F(Vdc, ModeAttributeSwitchesToHiresFromTheNextCellAndStays) {
    text(0, 0, {0x1C});
    hires(0, 0, {0x06, 0x7F, 0x40, 0xFF, 0x55}); // 0x06 is text-covered on the first line
    hires(1, 0, {0x7F});
    vdc_render();
    EXPECT_EQ(cells(1, 0) + cells(1, 7) + cells(1, 0) + cells(1, 0) + cell(0x15, 7, 0) +
                  cells(35, 0),
              colours(0));
    vdc_render();
    EXPECT_EQ(cells(1, 7) + cells(39, 0), colours(1)); // read from 0xA028
    render_frame(); // rest of frame and line 0 of the next: still hires
    EXPECT_EQ(cells(1, 0) + cells(1, 6) + cells(1, 0) + cells(1, 1) + cell(0x15, 6, 0) +
                  cells(35, 0),
              colours(0));
}

TEST_F(Vdc, HiresInverseByteUsesInvertedInk) {
    vdc_hires(1);
    hires(0, 0, {0x01, 0xFF, 0xC0, 0x93, 0x7F});
    vdc_render();
    // The zero bytes after it are ink 0 attributes on paper 3.
    EXPECT_EQ(cells(1, 0) + cells(1, 6) + cells(1, 7) + cells(1, 4) + cells(1, 1) + cells(35, 3),
              colours(0));
}

TEST_F(Vdc, HiresAttributesWork) {
    vdc_hires(1);
    hires(3, 0, {0x16, 0x05, 0x2A, 0x0C, 0x7F});
    render_through(3);
    EXPECT_EQ(cells(2, 6) + cell(0x2A, 5, 6) + cells(37, 6), colours(3));
}

TEST_F(Vdc, TextModeAttributeInHiresSwitchesBackMidLine) {
    vdc_hires(1);
    hires(5, 0, {0x7F, 0x1A, 'A'});
    text(0, 2, {'A'}); // line 5 belongs to text row 0
    render_through(5);
    EXPECT_EQ(cells(1, 7) + cells(1, 0) + cell(glyph_std[5], 7, 0) + cells(37, 0), colours(5));
    vdc_render(); // line 6 is text from its first cell
    EXPECT_EQ(cells(2, 0) + cell(glyph_std[6], 7, 0) + cells(37, 0), colours(6));
}

TEST_F(Vdc, EveryModeAttributeSelectsByBitTwo) {
    const uint8_t hires_codes[] = {0x1C, 0x1D, 0x1E, 0x1F, 0x9C};
    for (uint8_t code : hires_codes) {
        ASSERT_EQ(0, vdc_init());
        text(0, 0, {code});
        hires(0, 1, {0x7F});
        vdc_render();
        EXPECT_EQ('7', colours(0)[6]) << std::hex << int(code);
    }
    const uint8_t text_codes[] = {0x18, 0x19, 0x1A, 0x1B, 0x98};
    for (uint8_t code : text_codes) {
        ASSERT_EQ(0, vdc_init());
        vdc_hires(1);
        hires(0, 0, {code, 0x7F});
        vdc_render();
        EXPECT_EQ('0', colours(0)[6]) << std::hex << int(code); // a text space
    }
}

TEST_F(Vdc, HiresTextRowsUseTheHiresPatternTablesAndRows25To27) {
    vdc_hires(1);
    text(25, 0, {'A', 0x09, 'A'});
    text(27, 39, {'A'});
    text(24, 0, {0x17}); // never shown in hires: lines 192..199 are hires
    render_through(199);
    std::string spaces_as_hires; // line 199 lies in the text screen's spaces
    for (int n = 0; n < 40; ++n)
        spaces_as_hires += cell(0x20, 7, 0);
    EXPECT_EQ(spaces_as_hires, colours(199));
    for (int line = 200; line < 208; ++line) {
        vdc_render();
        const int r = line % 8;
        EXPECT_EQ(cell(glyph_hstd[r], 7, 0) + cells(1, 0) + cell(glyph_halt[r], 7, 0) +
                      cells(37, 0),
                  colours(line))
            << "line " << line;
    }
    render_through(15); // to line 223
    EXPECT_EQ(cells(39, 0) + cell(glyph_hstd[7], 7, 0), colours(223));
}

TEST_F(Vdc, TextModeReadsRows25To27FromTextTables) {
    text(25, 0, {'A'});
    render_through(200);
    EXPECT_EQ(cell(glyph_std[0], 7, 0) + cells(39, 0), colours(200));
}

TEST_F(Vdc, HiresFlagSetAndCleared) {
    hires(0, 0, {0x7F});
    EXPECT_EQ(0, vdc_hires(4));
    vdc_render();
    EXPECT_EQ(cells(1, 7) + cells(39, 0), colours(0));
    EXPECT_EQ(0, vdc_hires(0));
    render_frame();
    EXPECT_EQ(cells(40, 0), colours(0)); // 0x7F now only a blank text row
}

// ---------------------------------------------------------------- frames

TEST_F(Vdc, FrameWrapsAfter224Lines) {
    for (int line = 0; line < VDC_HEIGHT - 1; ++line)
        ASSERT_EQ(line + 1, vdc_render());
    EXPECT_EQ(0, vdc_render());
    text(0, 0, {0x11});
    EXPECT_EQ(1, vdc_render()); // line 0 again, from 0xBB80
    EXPECT_EQ(cells(40, 1), colours(0));
}

TEST_F(Vdc, HiresPointerRestartsAtFrameStart) {
    vdc_hires(1);
    hires(0, 0, {0x12});
    hires(1, 0, {0x14});
    render_frame();
    render_frame();
    render_through(1);
    EXPECT_EQ(cells(40, 2), colours(0));
    EXPECT_EQ(cells(40, 4), colours(1));
}

TEST_F(Vdc, ScreenChangesShowFromTheNextLineDrawn) {
    render_through(3);
    text(0, 0, {0x13}); // row 0 still has lines 4..7 to draw
    vdc_render();
    EXPECT_EQ(cells(40, 0), colours(3));
    EXPECT_EQ(cells(40, 3), colours(4));
}

TEST_F(Vdc, RenderNeverWritesRam) {
    text(0, 0, {0x1C, 0x0A, 0x95});
    std::string before(reinterpret_cast<char *>(ram_bytes), RAM_SIZE);
    render_frame();
    render_frame();
    EXPECT_TRUE(before == std::string(reinterpret_cast<char *>(ram_bytes), RAM_SIZE));
}

TEST_F(Vdc, ProcessorWritesThroughTheDecoderShowOnTheNextLine) {
    mem_write(TEXT_SCREEN, 0x16);
    mem_write(TEXT_SCREEN + 1, 0x81);
    vdc_render();
    EXPECT_EQ(cells(1, 6) + cells(1, 1) + cells(38, 6), colours(0)); // 0x81 shows paper 7 - 6
    EXPECT_EQ(0x16, ram_bytes[TEXT_SCREEN]);
}

// ---------------------------------------------------------------- trace

TEST(VdcTrace, WriteTracesOnlyWithMasterAndVideoSwitches) {
    log_verbosity(1);
    log_info_hook(keep_log_line);
    logged.clear();
    tr[0] = TR_MASTER;
    tr[1] = 0;
    EXPECT_EQ(0, vdc_write(0xBB80, 0x41));
    tr[1] = TR_VDC;
    EXPECT_EQ(0, vdc_write(0xBB81, 0x5A));
    mem_write(0xA000, 0x7F); // the decoder reports processor writes
    mem_write(0x97FF, 0x01); // below the video range: no line
    tr[0] = 0;
    EXPECT_EQ(0, vdc_write(0xBB82, 0x42));
    log_info_hook(nullptr);
    log_verbosity(0);
    tr[0] = tr[1] = 0;
    EXPECT_EQ("{W} vdc: BB81:5A|{W} vdc: A000:7F|", joined_log());
}

} // namespace
