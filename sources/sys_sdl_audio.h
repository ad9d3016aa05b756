// sys_sdl_audio: the host audio device, 44100 Hz signed 16-bit stereo. The
// device's thread pulls samples through audio->fill with the host audio lock
// held; the sound chip never calls SDL, it uses these through the audio
// record. The volume scales what the device plays (not what is recorded);
// it is set under the audio lock and read by the device's thread with it
// held. Opened and closed on the main thread; lock/unlock come from the
// timer thread and, under the machine lock, from the main thread (console,
// saved states); pause/unpause from the main thread (start-up, console).
// With `sound` 0 (off by configuration, or the device failed to open) every
// operation does nothing. Whatever the device plays is also recorded when a
// recording runs.
#pragma once
#include <cstdint>

constexpr int AUDIO_SDL_VOLUME_MAX = 100;

int audio_sdl_init();   // 0 opened or sound off; 1 when the device cannot be opened
int audio_sdl_finish(); // closes the device; `sound` is 0 afterwards
int audio_sdl_lock();   // counted: the device is free again at the last unlock
int audio_sdl_unlock(); // without a lock held: nothing
int audio_sdl_pause();
int audio_sdl_unpause();
// Main thread, machine lock held: warp silences the device; the machine's
// own clock then drives the sound, so recordings go on.
int audio_sdl_warp(int on);
// Timer thread, after each frame: when no device is playing (none opened,
// paused, or warp), renders the frame's sound on the machine's clock and
// hands it to the recorder. Keeps the chip's queues drained either way.
int audio_sdl_frame();
// Main thread, without the machine lock (it takes it): sets the playing volume, 0 (silent) to 100
// (as the machine makes it), when level is one; -1 changes nothing. Returns the volume.
int audio_sdl_volume(int level);
// Scales `count` 16-bit samples to `level` percent, rounding toward zero.
void audio_sdl_scale(int16_t *samples, int count, int level);
