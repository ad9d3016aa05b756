// via_6522_tapein: the mounted tape image. No tape signal is emulated: the
// processor's short-cuts into the system ROM's sync search (0xE735) and
// read-a-byte routine (0xE6C9) ask this module for the next block and byte.
//
// A block is a run of 0x16 sync bytes, then the header starting with 0x24;
// the block's name starts 10 bytes into the header and ends with 0x00. The
// name's characters are never delivered: after the header the ROM gets the
// terminator at once, as if the name were empty, then the data.
//
// Threads: the short-cuts run on the timer thread inside a frame; mounting
// runs on the main thread under the machine lock, so the two never overlap.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// Takes ownership of `buffer` (allocated with new[]) and rewinds; the
// previous image is freed. nullptr (or size <= 0) releases the tape.
int via_6522_tapein(uint8_t *buffer, long size);
// Reads the tape image at `path` whole and mounts it, rewound, with its name.
// TAPE_UNOPENED leaves the reason in errno; on any failure the tape mounted
// before stays.
enum { TAPE_LOADED, TAPE_UNOPENED, TAPE_NOT_AN_IMAGE, TAPE_NO_MEMORY, TAPE_UNREADABLE };
int via_6522_tapein_load(const char *path);
// The file the tape came from, kept for saved states (after a mount).
void via_6522_tapein_name(const char *path);
const char *via_6522_tapein_path(); // "" with no tape or no name
// 0 when positioned at a block header (past any sync run), 1 otherwise. A
// search at or running into the end of the image rewinds it and fails.
int via_6522_tapein_sync();
// 0 with the next byte; 1 (and 0xFF) with no tape or past its end, so the
// ROM's own routine runs and tells its caller that no byte came.
int via_6522_tapein_byte(uint8_t *out);

// Saved state (sys_state): the tape's file, a hash of its bytes and the
// position. Restoring reads the file again; a file that is gone or changed
// leaves no tape, with a line saying so. apply as for cpu_6502_state_load.
void via_6522_tapein_state_save(std::vector<uint8_t> &out);
int via_6522_tapein_state_load(const uint8_t *data, size_t size, int apply);
