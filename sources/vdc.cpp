// PLACEHOLDER until the display generator lands: lets the other modules link.
#include "vdc.h"

static uint32_t pix[VDC_WIDTH * VDC_HEIGHT];
static video_record record;
video_record *video = &record;

int vdc_init() {
    record = {0, VDC_WIDTH, VDC_HEIGHT, nullptr, pix, vdc_render, nullptr, nullptr};
    return 0;
}
int32_t vdc_render() { return 0; }
int vdc_write(uint16_t, uint8_t) { return 0; }
int vdc_hires(uint32_t) { return 0; }
