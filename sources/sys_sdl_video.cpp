// PLACEHOLDER until host video lands: lets the program link.
#include "sys_sdl_video.h"

int video_sdl_init() { return 1; }
int32_t video_sdl_update() { return 0; }
int video_sdl_finish() { return 0; }
