// sys_state: the whole machine in one file and back. The file is the magic
// "KESTREL" and a 0x1A byte, the format version and the body's length (two
// 32-bit little-endian words), then the body compressed with zlib. The body
// is one section per module: a name (length byte and characters), the data's
// length and its CRC-32 (32-bit little-endian words), the data. Each module
// writes and reads its own section; host matters (window, zoom, console,
// audio device, the event queue) are not kept.
//
// The section helpers every module uses are in state.h; this module alone
// knows which module owns which section.
//
// A state is read and checked whole (container, every section, every value)
// before anything is applied, so a refused state leaves the machine as it
// was. Disk drives come back only when their image file is unchanged since
// the save (a hash is kept); see fdc.h.
//
// Threads: the main thread, holding the machine lock (console, quick keys,
// start-up and exit); the sound chip's section also takes the audio lock.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "state.h"

constexpr const char *STATE_QUICK_FILE = "kestrel.state"; // F2 / F3

// Writes the drives' changes back to their images, then the machine to
// `path` through a temporary file in the same folder, so an earlier file
// stays intact when the write fails. 1 with the reason reported.
int sys_state_save(const char *path);
// Reads, checks and applies a state. 1 with the reason reported (one line);
// the machine is then unchanged.
int sys_state_load(const char *path);
// The same on bytes in memory (a whole state file's), without the write-back.
int sys_state_write(std::vector<uint8_t> &file);
int sys_state_read(const uint8_t *file, size_t size);
// Checks bytes as sys_state_read does and applies nothing; refusals go to
// the reporter set with state_set_reporter.
int sys_state_check(const uint8_t *file, size_t size);
