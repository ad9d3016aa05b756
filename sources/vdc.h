// vdc: the display generator. It has no registers: it draws 240 x 224
// pixels in eight colours straight from RAM, one scan line per call, either a
// 40 x 28 text screen (0xBB80) or a 200-line hires screen (0xA000) with three
// text rows below it. Serial attributes in screen memory set ink, paper,
// character style and display mode for the rest of a line.
// Owns the video record through which the host video output, the host loop
// and the console find each other. Rendering runs on the timer thread.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

constexpr int VDC_WIDTH = 240;
constexpr int VDC_HEIGHT = 224;

struct video_record {
    int32_t zoom; // 0, 1 or 2: how the host surface is drawn
    int32_t width;
    int32_t height;
    void *surface;       // the host's SDL_Surface, set by the video output
    uint32_t *pixels;    // width x height, row-major, red in the low byte
    int32_t (*render)(); // draws one line: vdc_render
    int32_t (*update)(); // host step per line; 0 when the frame was shown
    void (*overlay)();   // optional: drawn over each finished frame
};

extern video_record *video;

// Line 0, text mode, pointers at the frame start; fills the video record
// (zoom 0, no surface, update or overlay). Needs RAM initialised. 0 always.
int vdc_init();
int32_t vdc_render();                        // next line to draw; 0 when line 223 was just drawn
int vdc_write(uint16_t addr, uint8_t value); // trace only; 0 always
int vdc_hires(uint32_t flag);                // non-zero: hires mode; 0 always
// Exact timing: blank-style cells blink, 16 frames drawn and 16 background
// only, counted from vdc_init. Otherwise they show background only. 0 always.
int vdc_exact(int on);
// A frame the host ran without drawing it still counts for the blink. 0 always.
int vdc_skip_frame();

// Saved state (sys_state): the line reached, the mode and the blink count;
// the screen pointers follow from the line. apply as for cpu_6502_state_load.
void vdc_state_save(std::vector<uint8_t> &out);
int vdc_state_load(const uint8_t *data, size_t size, int apply);
