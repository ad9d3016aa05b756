// sys_sdl_audio: the host audio device. The sound chip never calls SDL; it
// reaches these through the audio record.
#pragma once

int audio_sdl_init();  // 0 opened or sound off; 1 when the device cannot be opened
int audio_sdl_finish();
int audio_sdl_lock();
int audio_sdl_unlock();
int audio_sdl_pause();
int audio_sdl_unpause();
