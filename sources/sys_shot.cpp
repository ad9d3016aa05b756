#include "sys_shot.h"

#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "log.h"
#include "sys_atomic.h"
#include "vdc.h"

// Before the display generator has started there is nothing to save.
static bool have_picture(const char *path) {
    if (video && video->pixels) return true;
    log_error("can't write '%s': no picture", path);
    return false;
}

// The picture as rows of red, green, blue bytes, top row first.
static std::vector<uint8_t> rgb_rows() {
    std::vector<uint8_t> rgb(static_cast<size_t>(VDC_WIDTH) * VDC_HEIGHT * 3);
    for (int i = 0; i < VDC_WIDTH * VDC_HEIGHT; i++) {
        uint32_t v = video->pixels[i];
        rgb[3 * i] = static_cast<uint8_t>(v);
        rgb[3 * i + 1] = static_cast<uint8_t>(v >> 8);
        rgb[3 * i + 2] = static_cast<uint8_t>(v >> 16);
    }
    return rgb;
}

// libpng reports failures by long jump: nothing here needs unwinding.
static int encode_png(FILE *f, const std::vector<uint8_t> &rgb) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return 1;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, info ? &info : nullptr);
        return 1;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, VDC_WIDTH, VDC_HEIGHT, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < VDC_HEIGHT; y++)
        png_write_row(png, rgb.data() + static_cast<size_t>(y) * VDC_WIDTH * 3);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return 0;
}

int sys_shot_png(const char *path) {
    if (!have_picture(path)) return 1;
    sys_atomic out;
    if (sys_atomic_open(&out, path) != 0) return 1;
    if (encode_png(out.file, rgb_rows()) != 0) {
        log_error("can't write '%s': PNG encoding failed", path);
        sys_atomic_abort(&out);
        return 1;
    }
    return sys_atomic_commit(&out);
}

static void put_le(std::vector<uint8_t> &b, size_t at, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; i++)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// 24-bit, bottom row first, blue-green-red; a row of 720 bytes needs no padding.
int sys_shot_bmp(const char *path) {
    constexpr uint32_t HEADER = 54, ROW = VDC_WIDTH * 3;
    static_assert(ROW % 4 == 0);
    if (!have_picture(path)) return 1;
    std::vector<uint8_t> b(HEADER + ROW * VDC_HEIGHT);
    b[0] = 'B';
    b[1] = 'M';
    put_le(b, 2, static_cast<uint32_t>(b.size()), 4);
    put_le(b, 10, HEADER, 4);
    put_le(b, 14, 40, 4);
    put_le(b, 18, VDC_WIDTH, 4);
    put_le(b, 22, VDC_HEIGHT, 4);
    put_le(b, 26, 1, 2);
    put_le(b, 28, 24, 2);
    put_le(b, 34, ROW * VDC_HEIGHT, 4);
    put_le(b, 38, 2835, 4); // 72 dpi
    put_le(b, 42, 2835, 4);
    std::vector<uint8_t> rgb = rgb_rows();
    for (int y = 0; y < VDC_HEIGHT; y++) {
        const uint8_t *src = rgb.data() + static_cast<size_t>(VDC_HEIGHT - 1 - y) * ROW;
        uint8_t *dst = b.data() + HEADER + static_cast<size_t>(y) * ROW;
        for (int x = 0; x < VDC_WIDTH; x++) {
            dst[3 * x] = src[3 * x + 2];
            dst[3 * x + 1] = src[3 * x + 1];
            dst[3 * x + 2] = src[3 * x];
        }
    }
    return sys_atomic_write(path, b.data(), b.size());
}

std::string sys_shot_next_name() {
    char name[32];
    for (int i = 1; i < 10000; i++) {
        snprintf(name, sizeof name, "kestrel_%04d.png", i);
        if (access(name, F_OK) != 0) return name;
    }
    return "kestrel_9999.png";
}
