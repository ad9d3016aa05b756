// mem: the address decoder. Every processor access, and every load or save
// from the console, passes through mem_read/mem_write, which hand it to RAM,
// the system ROM, the VIA (0x0300-0x030F), the disk controller
// (0x0310-0x031F), the disk boot ROM (reads of 0x0320-0x03FF) or the two
// hardware switches (writes of 0x0380-0x0383).
// Called on the timer thread, and on the main thread under the machine lock.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "log.h"
#include "mem_block.h"

extern int hiram;  // 1: 0xC000-0xFFFF read from RAM
extern int extdev; // selects the disk boot ROM page shown at 0x0320-0x03FF
// With the watch switch (TR_WATCH) on, every store passes the decoder,
// which hands it here first; nullptr: nothing watches.
extern void (*mem_watch)(unsigned addr, uint8_t value);

int mem_init(); // switches, disk controller, RAM, ROM, boot ROM, in that order
// The full decoder, traces included.
int mem_read_decoded(unsigned addr, uint8_t *out);
int mem_write_decoded(unsigned addr, int value);

extern mem_block ram;
extern mem_block rom;

// Plain memory: reads and stores anywhere but the I/O page need no decoder.
// The display generator reads its RAM when it draws; through the decoder a
// store there only adds its trace line. The processor's fast paths use the
// same rules.
__attribute__((always_inline)) inline bool mem_plain_read(unsigned addr) {
    return addr - 0x0300u >= 0x0100u;
}
__attribute__((always_inline)) inline bool mem_plain_write(unsigned addr) {
    return addr - 0x0300u >= 0x0100u;
}
// The byte a plain read sees: RAM, or the system ROM over the high half.
__attribute__((always_inline)) inline uint8_t mem_plain_byte(unsigned addr) {
    return addr < 0xC000 || hiram ? ram.data[addr] : rom.data[addr - 0xC000];
}

// With the traces off, plain accesses stay free of calls.
__attribute__((always_inline)) inline int mem_read(unsigned addr, uint8_t *out) {
    addr &= 0xFFFF;
    if (!(tr[0] & TR_MASTER) && mem_plain_read(addr)) {
        *out = mem_plain_byte(addr);
        return 0;
    }
    return mem_read_decoded(addr, out);
}

// 0 always; the low 8 bits of value are written.
__attribute__((always_inline)) inline int mem_write(unsigned addr, int value) {
    addr &= 0xFFFF;
    if (!(tr[0] & (TR_MASTER | TR_WATCH)) && mem_plain_write(addr)) {
        ram.data[addr] = static_cast<uint8_t>(value);
        return 0;
    }
    return mem_write_decoded(addr, value);
}

// Saved state (sys_state): the two switches. apply as for cpu_6502_state_load.
void mem_state_save(std::vector<uint8_t> &out);
int mem_state_load(const uint8_t *data, size_t size, int apply);
