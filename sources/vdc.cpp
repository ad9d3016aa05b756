#include "vdc.h"

#include <array>
#include <cassert>
#include <iterator>

#include "log.h"
#include "ram.h"
#include "state.h"

// Colour number: bit 0 red, bit 1 green, bit 2 blue. Red sits in the low byte.
static constexpr uint32_t pal[] = {
    // black   red       green     yellow    blue      magenta   cyan      white
    0x000000, 0x0000FF, 0x00FF00, 0x00FFFF, 0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF,
};
static_assert(std::size(pal) == 8);

constexpr int VDC_CELLS = 40; // 6-pixel cells per line
constexpr int VDC_HIRES_LINES = 200;
constexpr uint16_t VDC_BASE = 0x9800;
constexpr uint16_t VDC_TEXT_SCREEN = 0xBB80;
constexpr uint16_t VDC_HIRES_SCREEN = 0xA000;

// Pattern tables, in the order of `charset`: text mode standard and
// alternate, then the hires mode ones used by the three text rows.
static constexpr uint16_t charset_addr[] = {0xB400, 0xB800, 0x9800, 0x9C00};
static_assert(std::size(charset_addr) == 4);

// Character style bits, as the low three bits of attributes 0x08-0x0F.
constexpr uint8_t STYLE_ALTERNATE = 0x01;
constexpr uint8_t STYLE_DOUBLE = 0x02;
constexpr uint8_t STYLE_BLANK = 0x04;

// For each 6-bit pattern, the six pixels left to right as all-ones (ink) or
// zero (background) masks, so a cell is drawn without a branch per pixel.
static constexpr auto pattern_masks = [] {
    std::array<std::array<uint32_t, 6>, 64> m{};
    for (int p = 0; p < 64; ++p)
        for (int i = 0; i < 6; ++i)
            m[p][i] = ((p >> (5 - i)) & 1) ? ~0u : 0u;
    return m;
}();

static uint32_t pix[VDC_WIDTH * VDC_HEIGHT];

static struct {
    int32_t line;
    video_record record;
    int32_t hires; // the mode attribute stores 0 or 4; lasts across lines and frames
    const uint8_t *base;
    const uint8_t *text_ptr;
    const uint8_t *hires_ptr;
    const uint8_t *charset[4];
    uint32_t frames; // frames drawn, modulo the blink cycle
    int exact;       // exact timing: blink as the real generator does
} vdc;

// The real generator's blink: 16 frames as drawn, then 16 of background only.
constexpr uint32_t VDC_BLINK_FRAMES = 32;

video_record *video = nullptr;

int vdc_init() {
    uint8_t *ram_bytes = ram_getptr();
    vdc.line = 0;
    vdc.hires = 0;
    vdc.frames = 0; // the timing (exact) is a setting and stays
    vdc.base = ram_bytes + VDC_BASE;
    for (int i = 0; i < 4; ++i)
        vdc.charset[i] = ram_bytes + charset_addr[i];
    vdc.text_ptr = ram_bytes + VDC_TEXT_SCREEN;
    vdc.hires_ptr = ram_bytes + VDC_HIRES_SCREEN;
    vdc.record = {0, VDC_WIDTH, VDC_HEIGHT, nullptr, pix, vdc_render, nullptr, nullptr};
    video = &vdc.record;
    return 0;
}

int32_t vdc_render() {
    assert(vdc.base && "sources/vdc");
    const int32_t l = vdc.line;
    uint32_t *out = pix + l * VDC_WIDTH;
    const bool hires_area = l < VDC_HIRES_LINES;
    const int row = l & 7;
    const int double_row = (l >> 1) & 7;
    int32_t hires = vdc.hires;
    // The blank style hides the cells for good in the simplified timing and
    // for the blink's second half in the exact one.
    const bool blank_now = !vdc.exact || vdc.frames >= VDC_BLINK_FRAMES / 2;

    // Attributes last to the end of the line only.
    int ink = 7;
    int paper = 0;
    uint8_t style = 0;

    for (int n = 0; n < VDC_CELLS; ++n) {
        // The mode is read per cell: a mode attribute acts from the next cell.
        const bool hires_cell = hires && hires_area;
        const uint8_t b = hires_cell ? vdc.hires_ptr[n] : vdc.text_ptr[n];
        uint8_t pattern = 0;
        if ((b & 0x7F) < 0x20) {
            switch (b & 0x18) {
            case 0x00:
                ink = b & 7;
                break;
            case 0x08:
                style = b & 7;
                break;
            case 0x10:
                paper = b & 7;
                break;
            default:
                hires = b & 4;
                break;
            }
        } else if (hires_cell) {
            pattern = b & 0x3F;
        } else {
            const int set = (hires ? 2 : 0) + (style & STYLE_ALTERNATE);
            const int r = (style & STYLE_DOUBLE) ? double_row : row;
            pattern = vdc.charset[set][(b & 0x7F) * 8 + r] & 0x3F;
        }
        if ((style & STYLE_BLANK) && blank_now) pattern = 0;

        const int inv = (b & 0x80) ? 7 : 0; // 7 - c is c ^ 7 for colour numbers
        const uint32_t bg = pal[paper ^ inv];
        const uint32_t diff = pal[ink ^ inv] ^ bg;
        const auto &mask = pattern_masks[pattern];
        for (int i = 0; i < 6; ++i)
            out[i] = bg ^ (diff & mask[i]);
        out += 6;
    }
    vdc.hires = hires;

    // Both screens advance on every line, so either mode finds its row.
    vdc.hires_ptr += VDC_CELLS;
    if (row == 7) vdc.text_ptr += VDC_CELLS;
    if (++vdc.line == VDC_HEIGHT) {
        vdc.text_ptr = vdc.base + (VDC_TEXT_SCREEN - VDC_BASE);
        vdc.hires_ptr = vdc.base + (VDC_HIRES_SCREEN - VDC_BASE);
        vdc.line = 0;
        vdc.frames = (vdc.frames + 1) % VDC_BLINK_FRAMES;
    }
    return vdc.line;
}

int vdc_write(uint16_t addr, uint8_t value) {
    log_info_if(tr_on(1, TR_VDC), "{W} vdc: %04X:%02X", addr, value);
    return 0;
}

int vdc_hires(uint32_t flag) {
    vdc.hires = static_cast<int32_t>(flag);
    return 0;
}

int vdc_exact(int on) {
    vdc.exact = on != 0;
    return 0;
}

int vdc_skip_frame() {
    vdc.frames = (vdc.frames + 1) % VDC_BLINK_FRAMES;
    return 0;
}

void vdc_state_save(std::vector<uint8_t> &out) {
    state_put(out, vdc.line);
    state_put(out, int32_t{VDC_CELLS}); // the column: lines are drawn whole, kept for the format
    state_put(out, vdc.hires);
    state_put(out, static_cast<uint8_t>(vdc.frames));
}

int vdc_state_load(const uint8_t *data, size_t size, int apply) {
    int32_t line = 0, column = 0, hires = 0;
    state_reader in{data, size};
    in.get(line);
    in.get(column);
    in.get(hires);
    uint8_t frames = 0; // before format 3: the blink's start
    if (state_format() >= 3) in.get(frames);
    if (in.finish("vdc")) return 1;
    if (line < 0 || line >= VDC_HEIGHT || column < 0 || column > VDC_CELLS)
        return state_refuse("vdc: line %d or column %d out of range", line, column);
    if (frames >= VDC_BLINK_FRAMES) return state_refuse("vdc: blink count %d out of range", frames);
    if (!apply) return 0;
    uint8_t *ram_bytes = ram_getptr();
    vdc.line = line;
    vdc.hires = hires;
    vdc.frames = frames;
    vdc.text_ptr = ram_bytes + VDC_TEXT_SCREEN + (line / 8) * VDC_CELLS;
    vdc.hires_ptr = ram_bytes + VDC_HIRES_SCREEN + line * VDC_CELLS;
    return 0;
}
