// fdc: the floppy disk controller at 0x0310-0x031F and its two drives.
// Registers run on the timer thread; mount and eject run on the main thread
// under the machine lock.
#pragma once
#include <cstdint>

int fdc_init();
int fdc_read(unsigned addr, uint8_t *out);  // 0 always
int fdc_write(unsigned addr, uint8_t value);
int fdc_run(uint32_t cycles);
// 0 when the drive now holds the image, 1 when it stays empty.
int fdc_mount(const char *path, int drive, int read_only);
int fdc_umount(int drive);
int fdc_flush();  // writes both drives back and ejects them
