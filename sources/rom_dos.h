// rom_dos: the disk controller's 512-byte boot ROM from "z5dos.rom", shown
// one 256-byte page at a time at 0x0320-0x03FF (offsets 0x00-0x1F of each
// page lie under the I/O registers). The page is the `extdev` switch.
#pragma once
#include <cstdint>

#include "mem_block.h"

constexpr uint32_t ROM_DOS_SIZE = 512;

extern mem_block rom_dos;

int rom_dos_init(); // a missing or short "z5dos.rom" leaves the rest zero
int rom_dos_read(unsigned addr, uint8_t *out, int page); // addr 0x0320-0x03FF
