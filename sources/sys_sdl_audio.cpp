// PLACEHOLDER until host audio lands: lets the program link.
#include "sys_sdl_audio.h"

int audio_sdl_init() { return 1; }
int audio_sdl_finish() { return 0; }
int audio_sdl_lock() { return 0; }
int audio_sdl_unlock() { return 0; }
int audio_sdl_pause() { return 0; }
int audio_sdl_unpause() { return 0; }
