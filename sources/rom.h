// rom: the 16 KiB system ROM at 0xC000-0xFFFF, loaded from "z5.rom", with one
// of two built-in character sets written over the shapes of codes 0x5F-0x7F.
// rom_toggle_charset runs on the main thread (F4) under the machine lock.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "mem_block.h"

constexpr uint32_t ROM_BASE = 0xC000;
constexpr uint32_t ROM_SIZE = 0x4000;
constexpr uint32_t ROM_CHARSET_OFFSET = 0x3E70; // bus 0xFE70
constexpr int ROM_CHARSET_BYTES = 264;          // 33 glyphs of 8 rows

extern mem_block rom;
extern const uint8_t cyr_chars[ROM_CHARSET_BYTES];
extern const uint8_t lat_chars[ROM_CHARSET_BYTES];

int rom_init(); // a missing or short "z5.rom" leaves the rest zero
// 32-bit FNV-1a of the image as read by the last rom_init, before the
// character set went in: which ROM this is.
uint32_t rom_image_hash();
int rom_read(unsigned addr, uint8_t *out);
int rom_init_charset();   // the set chosen by config "charset"
int rom_toggle_charset(); // flips config "charset" (not saved) and applies it

// Saved state (sys_state): which character set is in. The ROM image itself
// is the one read at start. apply as for cpu_6502_state_load.
void rom_state_save(std::vector<uint8_t> &out);
int rom_state_load(const uint8_t *data, size_t size, int apply);
