// mem: the address decoder. Every processor access, and every load or save
// from the console, passes through mem_read/mem_write, which hand it to RAM,
// the system ROM, the VIA (0x0300-0x030F), the disk controller
// (0x0310-0x031F), the disk boot ROM (reads of 0x0320-0x03FF) or the two
// hardware switches (writes of 0x0380-0x0383).
// Called on the timer thread, and on the main thread under the machine lock.
#pragma once
#include <cstdint>

// A stretch of the bus backed by bytes: RAM, the system ROM, the boot ROM.
struct mem_block {
    uint32_t base;
    uint32_t size;
    uint8_t *data;
};

extern int hiram;   // 1: 0xC000-0xFFFF read from RAM
extern int extdev;  // selects the disk boot ROM page shown at 0x0320-0x03FF

int mem_init();  // switches, disk controller, RAM, ROM, boot ROM, in that order
int mem_read(unsigned addr, uint8_t *out);  // 0 always
int mem_write(unsigned addr, int value);    // 0 always; low 8 bits written
