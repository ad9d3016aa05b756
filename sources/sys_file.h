// sys_file: programs, screens and tapes between host files and emulated
// memory. The format follows the file name's extension, in any letter case:
// ".tap"/".dat" tape images, ".bas" program-area images, ".txt" BASIC text,
// ".hrs" the high-resolution screen (0xA000-0xBF3F); raw binaries go through
// the _bin calls at an address the user names. Programs (.tap/.dat, .bas,
// .txt) are saved from RAM, where loading put them, also under the ROM;
// screens and raw binaries as the processor sees them.
//
// Called from console commands on the main thread, and at a frame's start
// on the timer thread for a program named on the command line; both hold
// the machine lock, so no call overlaps an emulation step. Listing lines go
// to the console through the logger slot.
#pragma once
#include <cstdint>
#include <vector>

int sys_file_load(const char *path); // by extension; 0 success, 1 failure
int sys_file_save(const char *path);
int sys_file_load_bin(const char *path, uint16_t addr);
// Bytes the last sys_file_load_bin left out because they fell on the I/O
// page 0300-03FF (reported through sys_file_report as well).
int sys_file_skipped();
// ".tap" in the name writes a machine-code tape block, else raw bytes; the
// range wraps from 0xFFFF to 0x0000.
int sys_file_save_bin(const char *path, uint16_t start, uint16_t size);
int sys_file_load_txt(const char *path);
int sys_file_mount_tap(const char *path); // nullptr releases the tape

// Where listing lines go, one line per call, without a newline: the console
// installs its printf-like output at start-up. nullptr (the default) drops
// them.
using sys_file_log_fn = int (*)(const char *fmt, ...);
int sys_file_set_logger(sys_file_log_fn fn);

// A listing line through the logger slot.
int sys_file_list(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// A failure worth telling the user: an error line and a console line.
int sys_file_report(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Why the last load, save or tape mount failed, in a few words for the
// console's closing line ("no such file", "truncated: 16 of 256 bytes");
// "" when it succeeded or gave no reason. Each of those calls clears it.
const char *sys_file_why();
// Records the reason; returns 1, the failure result.
int sys_file_set_why(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// The reason a file could not be opened, from errno (ENOENT: "no such file").
int sys_file_set_why_errno(int err);

// Runs the loader for `path` (sys_file_load's, or sys_file_load_bin's when
// `bin` is 1) on a scratch copy of memory: 0 when the file would load, else 1
// with the reason in sys_file_why. For files named before the machine runs.
int sys_file_check(const char *path, int bin);
// The RAM image loads write to: the machine's, or the scratch copy while
// sys_file_check runs.
uint8_t *sys_file_ram();

// The first block of a tape image: its start address and its data bytes
// (main thread, no memory touched). 0 success, 1 failure (reported).
int sys_file_read_tap(const char *path, uint16_t *start, std::vector<uint8_t> *bytes);
