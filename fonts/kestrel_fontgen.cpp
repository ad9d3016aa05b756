// kestrel_fontgen: turns a BDF bitmap font into a console font image: the
// 256 character cells side by side in one row, in code order, white ink on
// magenta (the console's transparent colour), as an uncompressed 24-bit BMP.
//
//   kestrel_fontgen <font.bdf> <out.bmp> <cell width> <cell height>
//
// A font smaller than the cell is centred in it (the baseline moves down by
// half the spare rows); pixels outside the cell are dropped. Codes the font
// lacks stay empty. Exit status 0 on success, 1 with a message otherwise; on
// failure no output file is left behind.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

constexpr int GLYPHS = 256;
constexpr int MAX_CELL = 64;
constexpr uint8_t INK[3] = {255, 255, 255}; // blue, green, red
constexpr uint8_t PAPER[3] = {255, 0, 255}; // magenta: transparent

struct glyph {
    int encoding;
    int w, h, xoff, yoff;          // BBX: size and offset of the bitmap from the origin
    std::vector<std::string> rows; // hex, top row first
};

static struct {
    int ascent, descent; // from the properties, else from FONTBOUNDINGBOX
    int box_w;
    std::vector<glyph> glyphs;
} font;

static int fail(const char *what, const std::string &detail) {
    fprintf(stderr, "kestrel_fontgen: %s%s%s\n", what, detail.empty() ? "" : ": ", detail.c_str());
    return 1;
}

static int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads the keywords this tool needs; the rest of BDF is skipped.
static int read_bdf(const char *path) {
    std::ifstream in(path);
    if (!in) return fail("can't read", path);
    std::string line;
    bool started = false;
    bool have_ascent = false, have_descent = false, have_box = false;
    int box_h = 0, box_yoff = 0;
    int line_no = 0;
    glyph g{};
    bool in_char = false;
    while (std::getline(in, line)) {
        ++line_no;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::istringstream words(line);
        std::string key;
        words >> key;
        const std::string where = std::string(path) + ":" + std::to_string(line_no);
        if (key == "STARTFONT") {
            started = true;
        } else if (!started) {
            return fail("not a BDF font", path);
        } else if (key == "FONTBOUNDINGBOX") {
            int x = 0;
            if (!(words >> font.box_w >> box_h >> x >> box_yoff))
                return fail("bad FONTBOUNDINGBOX", where);
            have_box = true;
        } else if (key == "FONT_ASCENT") {
            if (!(words >> font.ascent)) return fail("bad FONT_ASCENT", where);
            have_ascent = true;
        } else if (key == "FONT_DESCENT") {
            if (!(words >> font.descent)) return fail("bad FONT_DESCENT", where);
            have_descent = true;
        } else if (key == "STARTCHAR") {
            g = glyph{};
            g.encoding = -1;
            in_char = true;
        } else if (key == "ENCODING" && in_char) {
            if (!(words >> g.encoding)) return fail("bad ENCODING", where);
        } else if (key == "BBX" && in_char) {
            if (!(words >> g.w >> g.h >> g.xoff >> g.yoff) || g.w < 0 || g.h < 0 ||
                g.w > MAX_CELL || g.h > MAX_CELL)
                return fail("bad BBX", where);
        } else if (key == "BITMAP" && in_char) {
            const size_t digits = 2 * static_cast<size_t>((g.w + 7) / 8);
            for (int r = 0; r < g.h; ++r) {
                std::string row;
                if (!std::getline(in, row)) return fail("bitmap ends early", where);
                ++line_no;
                if (!row.empty() && row.back() == '\r') row.pop_back();
                if (row.size() < digits)
                    return fail("bitmap row too short", path + (":" + std::to_string(line_no)));
                for (char c : row)
                    if (hex_digit(c) < 0)
                        return fail("bitmap row not hex", path + (":" + std::to_string(line_no)));
                g.rows.push_back(row);
            }
        } else if (key == "ENDCHAR" && in_char) {
            if (static_cast<int>(g.rows.size()) != g.h)
                return fail("glyph without its bitmap", where);
            if (g.encoding >= 0 && g.encoding < GLYPHS) font.glyphs.push_back(g);
            in_char = false;
        }
    }
    if (!started) return fail("not a BDF font", path);
    if (in_char) return fail("font ends inside a glyph", path);
    if (!have_box) return fail("no FONTBOUNDINGBOX", path);
    if (!have_ascent) font.ascent = box_h + box_yoff;
    if (!have_descent) font.descent = -box_yoff;
    return 0;
}

static bool ink_at(const glyph &g, int col, int row) {
    const int digit = hex_digit(g.rows[row][col / 4]);
    return (digit >> (3 - col % 4)) & 1;
}

// Image rows top first, 3 bytes a pixel in BMP order.
static std::vector<uint8_t> draw_cells(int cell_w, int cell_h) {
    const int width = GLYPHS * cell_w;
    std::vector<uint8_t> image(static_cast<size_t>(width) * cell_h * 3);
    for (size_t i = 0; i < image.size(); i += 3)
        memcpy(&image[i], PAPER, 3);
    const int spare_rows = cell_h - (font.ascent + font.descent);
    const int baseline = (spare_rows > 0 ? spare_rows / 2 : 0) + font.ascent;
    const int spare_cols = cell_w - font.box_w;
    const int left = spare_cols > 0 ? spare_cols / 2 : 0;
    for (const glyph &g : font.glyphs) {
        const int top = baseline - (g.yoff + g.h);
        for (int r = 0; r < g.h; ++r)
            for (int c = 0; c < g.w; ++c) {
                const int x = left + g.xoff + c;
                const int y = top + r;
                if (x < 0 || x >= cell_w || y < 0 || y >= cell_h || !ink_at(g, c, r)) continue;
                const size_t at = (static_cast<size_t>(y) * width + g.encoding * cell_w + x) * 3;
                memcpy(&image[at], INK, 3);
            }
    }
    return image;
}

static void put_le(std::vector<uint8_t> &out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Bottom-up rows, each padded to 4 bytes, behind the two standard headers.
static int write_bmp(const char *path, const std::vector<uint8_t> &image, int width, int height) {
    const uint32_t row_bytes = (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
    const uint32_t data_bytes = row_bytes * height;
    std::vector<uint8_t> out;
    out.push_back('B');
    out.push_back('M');
    put_le(out, 54 + data_bytes, 4);
    put_le(out, 0, 4);
    put_le(out, 54, 4);
    put_le(out, 40, 4); // BITMAPINFOHEADER
    put_le(out, width, 4);
    put_le(out, height, 4);
    put_le(out, 1, 2);  // planes
    put_le(out, 24, 2); // bits per pixel
    put_le(out, 0, 4);  // no compression
    put_le(out, data_bytes, 4);
    put_le(out, 2835, 4); // 72 dpi
    put_le(out, 2835, 4);
    put_le(out, 0, 4);
    put_le(out, 0, 4);
    for (int y = height - 1; y >= 0; --y) {
        const uint8_t *row = &image[static_cast<size_t>(y) * width * 3];
        out.insert(out.end(), row, row + static_cast<size_t>(width) * 3);
        out.resize(out.size() + (row_bytes - width * 3));
    }
    const std::string tmp = std::string(path) + ".part";
    FILE *f = fopen(tmp.c_str(), "wb");
    if (!f) return fail("can't write", tmp);
    const bool written = fwrite(out.data(), 1, out.size(), f) == out.size();
    if (fclose(f) != 0 || !written) {
        remove(tmp.c_str());
        return fail("can't write", tmp);
    }
    if (rename(tmp.c_str(), path) != 0) {
        remove(tmp.c_str());
        return fail("can't write", path);
    }
    return 0;
}

static int read_size(const char *text, int *out) {
    char *end = nullptr;
    const long v = strtol(text, &end, 10);
    if (end == text || *end || v < 1 || v > MAX_CELL) return 1;
    *out = static_cast<int>(v);
    return 0;
}

int main(int argc, char **argv) {
    int cell_w = 0, cell_h = 0;
    if (argc != 5 || read_size(argv[3], &cell_w) || read_size(argv[4], &cell_h)) {
        fprintf(
            stderr,
            "usage: kestrel_fontgen <font.bdf> <out.bmp> <cell width 1-%d> <cell height 1-%d>\n",
            MAX_CELL, MAX_CELL);
        return 1;
    }
    if (read_bdf(argv[1])) return 1;
    return write_bmp(argv[2], draw_cells(cell_w, cell_h), GLYPHS * cell_w, cell_h);
}
