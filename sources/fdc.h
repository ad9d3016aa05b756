// fdc: the floppy disk controller at 0x0310-0x031F and its two drives.
// Sixteen soft switches, each performed by any read or write of its address:
//   0x0310-0x0317  stepper phase 0-3 off (even) / on (odd); the head moves
//                  half a track towards the phase turned on
//   0x0318/0x0319  spindle motor off (writes the drive back) / on
//   0x031A/0x031B  select drive 1 / drive 2 (writes the other one back)
//   0x031C/0x031D  clear / set the buffer latch (mode bit 0)
//   0x031E/0x031F  clear / set the write latch (mode bit 1)
// Mode 0: reads of even addresses deliver the next disk byte (0xFF with no
// disk). Mode 1: even reads give write-protect | motor (0x01 | 0x20). Mode 3:
// a write to an odd address puts one byte (0x96-0xFF) on the disk and must be
// answered by a read of an even address before the next one is taken.
// The disk turns one byte per data access while the motor is on, not with time.
//
// Threads: registers and write-backs on motor off or drive change run on the
// timer thread; mount, eject and flush run on the main thread under the
// machine lock, so the timer thread never sees a half-built drive. The
// teller slot is set before the timer starts and cleared after it stops.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

int fdc_init(); // controller state only; mounted images stay in
// Lines the user must see whatever the verbosity (a failed write-back, a
// disk mounted write-protected, a damaged sector) go to standard error and
// to this slot, the console while it is open: one line per call, printf-like,
// without a newline. nullptr: standard error alone. Either thread may call it.
using fdc_teller_fn = int (*)(const char *fmt, ...);
void fdc_set_teller(fdc_teller_fn fn);
int fdc_read(unsigned addr, uint8_t *out); // 0 always
int fdc_write(unsigned addr, uint8_t value);
// 0; the disk turns with the controller's reads, not with these cycles, so the
// per-cycle step pays nothing for it.
inline int fdc_run(uint32_t) {
    return 0;
}
// 0 when the drive now holds the image, 1 when it stays empty (the reason is
// logged). read_only 0 asks for a writable disk and creates a missing file as
// a blank image; an image whose changes could not be stored (not writable,
// its folder takes no new file, no room for a new copy, locked by another
// process) goes in write-protected instead, told with the reason. A writable
// disk holds an advisory lock (flock) on its file until it is ejected.
int fdc_mount(const char *path, int drive, int read_only);
// Writes the drive's changes back and ejects it; 1 when the changes could
// not be stored (told), the drive is empty either way. drive: 0 or 1.
int fdc_umount(int drive);
const char *fdc_image_path(int drive); // the mounted image's file; "" when empty
int fdc_flush(); // writes both drives back and ejects them; 1 as for fdc_umount
// Stores the sectors of the tracks written since the last store in the
// drive's image; 0 when there was nothing to store or it was stored, 1 on a
// write error (told once; the changes stay pending for the next write-back).
// A sector with a bad checksum or a cut write keeps its old contents, told
// with its track and sector. A file changed by someone else since it was
// read or stored is left alone: the disk goes to the first free `path`.N
// instead, told, and stays there. The file is replaced whole and synced to
// the disk, so a store may take milliseconds; a crash leaves the old image.
int fdc_write_image(int drive);

// Saved state (sys_state): the controller, and per drive the head, the
// nibble tracks as they are in memory, the image file's name, whether it has
// unwritten changes and a hash of the file at the save. Restoring never
// writes to an image: a drive comes back only when its file is still there,
// a 143,360-byte image with the same hash; otherwise it stays empty, with a
// line saying so. Its unwritten changes are written at the machine's next
// write-back. Callers write the running drives back first (fdc_write_image).
// apply as for cpu_6502_state_load.
void fdc_state_save(std::vector<uint8_t> &out);
// 1: the machine is going back in its own past, so a drive whose image is the
// one in the drive now comes back even when its file has changed since (the
// machine itself wrote it), with all its tracks to be written back.
void fdc_state_rewinding(int on);
int fdc_state_load(const uint8_t *data, size_t size, int apply);
