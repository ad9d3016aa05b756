// PLACEHOLDER until the VIA lands: lets the other modules link.
#include "via_6522.h"

int via_6522_init() { return 0; }
int via_6522_read(unsigned, uint8_t *out) {
    *out = 0;
    return 0;
}
int via_6522_write(unsigned, uint8_t) { return 0; }
int via_6522_run(int) { return 0; }
void via_6522_event(const event &) {}
