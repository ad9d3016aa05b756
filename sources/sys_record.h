// sys_record: the sound as a WAV file (44,100 Hz, 16-bit stereo), sample for
// sample what the sound chip produced. Samples come from the host audio
// thread (what the device plays) or from the timer thread (runs without a
// device, and warp); start and stop come from the main thread. All of it
// under the recorder's own lock, taken last (after the machine and audio
// locks). The file's header is kept up to date after every write, so even a
// run that is killed leaves a playable file; a clean stop moves it into place.
#pragma once
#include <cstdint>

int sys_record_start(
    const char *path); // stops a recording in progress first; 1 (logged) on failure
int sys_record_stop(); // 0 also when none runs; 1 when the file could not be finished
bool sys_record_active();
// `frames` stereo frames of signed 16-bit samples, as the device takes them.
void sys_record_samples(const uint8_t *stream, int frames);
