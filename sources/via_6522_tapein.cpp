// PLACEHOLDER until tape input lands: lets the other modules link.
#include "via_6522_tapein.h"

int via_6522_tapein(uint8_t *buffer, long) {
    delete[] buffer;
    return 0;
}
int via_6522_tapein_sync() { return 1; }
int via_6522_tapein_byte(uint8_t *out) {
    *out = 0xFF;
    return 0;
}
