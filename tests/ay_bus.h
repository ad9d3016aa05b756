// The sound chip as the system's program reaches it: through the VIA, its
// port A as the data bus and CA2/CB2 (in PCR) as the chip's BC1 and BDIR.
#pragma once
#include <cstdint>

#include "via_6522.h"

inline void wr(uint8_t reg, uint8_t v) {
    via_6522_write(VIA_BASE + reg, v);
}

inline uint8_t rd(uint8_t reg) {
    uint8_t v = 0xEE;
    via_6522_read(VIA_BASE + reg, &v);
    return v;
}

// A register write as the system ROM makes it: latch the number, then the
// value, each strobed by BDIR through PCR.
inline void ay_write(uint8_t reg, uint8_t value) {
    wr(VIA_DDRA, 0xFF);
    wr(VIA_IORA, reg);
    wr(VIA_PCR, 0xFF); // BC1 = BDIR = 1: latch address
    wr(VIA_PCR, 0xDD);
    wr(VIA_IORA, value);
    wr(VIA_PCR, 0xFD); // BDIR = 1, BC1 = 0: write
    wr(VIA_PCR, 0xDD);
}
