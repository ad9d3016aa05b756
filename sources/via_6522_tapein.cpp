#include "via_6522_tapein.h"

constexpr uint8_t TAPE_SYNC = 0x16;
constexpr uint32_t TAPE_NAME_OFFSET = 10; // from the header's first byte

static struct {
    uint8_t *tape; // nullptr: no tape mounted
    uint32_t tapesize;
    uint32_t tapeoff;  // next byte to deliver
    uint32_t tapesync; // first byte after the last sync run found
} tapein;

int via_6522_tapein(uint8_t *buffer, long size) {
    delete[] tapein.tape;
    if (size <= 0 && buffer) {
        delete[] buffer;
        buffer = nullptr;
    }
    tapein.tape = buffer;
    tapein.tapesize = buffer ? static_cast<uint32_t>(size) : 0;
    tapein.tapeoff = 0;
    tapein.tapesync = 0;
    return 0;
}

int via_6522_tapein_sync() {
    if (!tapein.tape) return 1;
    if (tapein.tapeoff >= tapein.tapesize) {
        tapein.tapeoff = 0;
        return 1;
    }
    uint32_t pos = tapein.tapeoff;
    while (pos < tapein.tapesize && tapein.tape[pos] == TAPE_SYNC)
        pos++;
    if (pos >= tapein.tapesize) {
        tapein.tapeoff = 0;
        return 1;
    }
    tapein.tapeoff = pos;
    tapein.tapesync = pos;
    return 0;
}

int via_6522_tapein_byte(uint8_t *out) {
    if (!tapein.tape || tapein.tapeoff >= tapein.tapesize) {
        *out = 0xFF;
        return 0;
    }
    if (tapein.tapeoff == tapein.tapesync + TAPE_NAME_OFFSET) {
        while (tapein.tapeoff < tapein.tapesize && tapein.tape[tapein.tapeoff] != 0)
            tapein.tapeoff++;
        if (tapein.tapeoff >= tapein.tapesize) {
            *out = 0;
            return 0;
        }
    }
    *out = tapein.tape[tapein.tapeoff++];
    return 0;
}
