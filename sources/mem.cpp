#include "mem.h"

#include <cassert>

#include "fdc.h"
#include "log.h"
#include "ram.h"
#include "rom.h"
#include "rom_dos.h"
#include "state.h"
#include "vdc.h"
#include "via_6522.h"

int hiram;
int extdev;
void (*mem_watch)(unsigned addr, uint8_t value);

int mem_init() {
    hiram = 0;
    extdev = 0;
    fdc_init();
    ram_init();
    rom_init();
    rom_dos_init();
    return 0;
}

int mem_read_decoded(unsigned addr, uint8_t *out) {
    addr &= 0xFFFF;
    if (addr < 0x0300) return ram_read(addr, out);
    if (addr < 0x0310) return via_6522_read(addr, out);
    if (addr < 0x0320) return fdc_read(addr, out);
    if (addr < 0x0400) return rom_dos_read(addr, out, extdev);
    if (addr < 0xC000) return ram_read(addr, out);
    if (addr <= 0xFFFF) return hiram ? ram_read(addr, out) : rom_read(addr, out);
    assert(0 && "sources/mem");
    return 0;
}

int mem_write_decoded(unsigned addr, int value) {
    addr &= 0xFFFF;
    uint8_t byte = static_cast<uint8_t>(value);
    if ((tr[0] & TR_WATCH) && mem_watch) mem_watch(addr, byte);
    if (addr < 0x0300) return ram_write(addr, byte);
    if (addr < 0x0310) return via_6522_write(addr, byte);
    if (addr < 0x0320) return fdc_write(addr, byte);
    if (addr < 0x0400) {
        if (addr >= 0x0380 && addr <= 0x0383) {
            hiram = addr & 1;
            extdev = (addr >> 1) & 1;
        } else {
            log_error("{W} %.4X : %.2X - unhandled hardware switch", addr, byte);
        }
        return 0;
    }
    if (addr < 0xC000) {
        if (addr >= 0x9800) vdc_write(static_cast<uint16_t>(addr), byte);
        return ram_write(addr, byte);
    }
    if (addr <= 0xFFFF) return ram_write(addr, byte);
    assert(0 && "sources/mem");
    return 0;
}

// ---- saved state ----

void mem_state_save(std::vector<uint8_t> &out) {
    state_put(out, static_cast<uint8_t>(hiram));
    state_put(out, static_cast<uint8_t>(extdev));
}

int mem_state_load(const uint8_t *data, size_t size, int apply) {
    uint8_t high = 0, ext = 0;
    state_reader in{data, size};
    in.get(high);
    in.get(ext);
    if (in.finish("mem")) return 1;
    if (high > 1 || ext > 1) return state_refuse("mem: switches %d %d out of range", high, ext);
    if (apply) {
        hiram = high;
        extdev = ext;
    }
    return 0;
}
