// Reading and setting the machine's RAM the way its programs lay it out:
// little-endian words, byte ranges.
#pragma once
#include <cstdint>
#include <vector>

#include "ram.h"

inline uint16_t word(unsigned addr) {
    const uint8_t *mem = ram_getptr();
    return static_cast<uint16_t>(mem[addr] | mem[addr + 1] << 8);
}

inline void set_word(unsigned addr, unsigned value) {
    uint8_t *mem = ram_getptr();
    mem[addr] = static_cast<uint8_t>(value);
    mem[addr + 1] = static_cast<uint8_t>(value >> 8);
}

inline std::vector<uint8_t> ram_range(unsigned addr, unsigned n) {
    const uint8_t *mem = ram_getptr();
    return {mem + addr, mem + addr + n};
}
