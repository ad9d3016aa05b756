// sys_record: the sound as a WAV file (44,100 Hz, 16-bit stereo), sample for
// sample what the sound chip produced. Samples come from the host audio
// thread (what the device plays) or from the timer thread (runs without a
// device, and warp); start and stop come from the main thread. All of it
// under the recorder's own lock, taken last (after the machine and audio
// locks).
//
// An empty recording replaces the file whole (the old one stays until then),
// then grows where it is, its header brought up to date after every block
// of samples: killed at any moment, the name holds a playable file with
// what was recorded. When a write fails (a full disk) the file
// is cut back to the samples that reached it, its header says exactly
// those, and the recording stops; the stop then reports the failure.
#pragma once
#include <cstdint>
#include <string>

// Stops a recording in progress first; 1 (logged, reason in *why) on failure.
int sys_record_start(const char *path, std::string *why = nullptr);
// 0 also when none runs; 1 when the file could not be written whole, with
// the reason in *why.
int sys_record_stop(std::string *why = nullptr);
bool sys_record_active();
// `frames` stereo frames of signed 16-bit samples, as the device takes them.
void sys_record_samples(const uint8_t *stream, int frames);
