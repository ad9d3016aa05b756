// ram: the machine's 64 KiB. The array is static and never moves, so the
// pointer from ram_getptr may be kept (video, tape short-cut, loaders).
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "mem_block.h"

constexpr uint32_t RAM_SIZE = 0x10000;

extern mem_block ram;

int ram_init(); // every byte 0
int ram_read(unsigned addr, uint8_t *out);
int ram_write(unsigned addr, uint8_t value);
// Writes all 65,536 bytes to `path`; 1 (and an error line) when the file
// cannot be created or the write fails.
int ram_dump(const char *path);
uint8_t *ram_getptr();

// Saved state (sys_state): all 65,536 bytes. apply as for cpu_6502_state_load.
void ram_state_save(std::vector<uint8_t> &out);
int ram_state_load(const uint8_t *data, size_t size, int apply);
