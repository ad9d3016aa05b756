// sys_sdl_video: the window. Copies each scan line the display generator
// drew to the surface at the zoom level; shows the frame after the overlay.
#pragma once
#include <cstdint>

int video_sdl_init();  // 0 opened, 1 failed
int32_t video_sdl_update();
int video_sdl_finish();
