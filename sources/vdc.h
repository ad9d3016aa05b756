// vdc: the display generator. Draws one scan line at a time from RAM into
// its pixel buffer; owns the video record through which the host video
// output, host loop and console find each other. Timer thread.
#pragma once
#include <cstdint>

constexpr int VDC_WIDTH = 240;
constexpr int VDC_HEIGHT = 224;

struct video_record {
    int32_t zoom;
    int32_t width;
    int32_t height;
    void *surface;  // the host's SDL_Surface, set by the video output
    uint32_t *pixels;
    int32_t (*render)();
    int32_t (*update)();
    void (*overlay)();
};

extern video_record *video;

int vdc_init();
int32_t vdc_render();  // next line to draw; 0 when line 223 was just drawn
int vdc_write(uint16_t addr, uint8_t value);  // trace only
int vdc_hires(uint32_t flag);
