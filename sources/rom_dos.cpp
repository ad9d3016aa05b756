#include "rom_dos.h"

#include <cstdio>
#include <cstring>

#include "log.h"
#include "sys_data.h"

static uint8_t rom_data[ROM_DOS_SIZE];
mem_block rom_dos = {0x0300, ROM_DOS_SIZE, rom_data};

int rom_dos_init() {
    memset(rom_data, 0, sizeof rom_data);
    FILE *f = fopen(sys_data_path("z5dos.rom").c_str(), "rb");
    if (!f) {
        log_error("can't load '%s'", "z5dos.rom");
        return 0;
    }
    size_t got = fread(rom_data, 1, sizeof rom_data, f);
    (void)got;  // a short image leaves the rest zero
    fclose(f);
    return 0;
}

int rom_dos_read(unsigned addr, uint8_t *out, int page) {
    addr &= 0xFFFF;
    *out = rom_data[((addr - 0x0300) & 0xFF) + (page ? 256 : 0)];
    log_info_if(tr_on(0, TR_ROM), "{R} rom: %04X:%02X", addr, *out);
    return 0;
}
