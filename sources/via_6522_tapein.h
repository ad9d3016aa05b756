// via_6522_tapein: the mounted tape image, read by the processor's
// short-cuts into the system ROM's tape routines (timer thread). Mounting
// happens on the main thread under the machine lock.
#pragma once
#include <cstdint>

int via_6522_tapein(uint8_t *buffer, long size);  // takes ownership; nullptr releases
int via_6522_tapein_sync();                // 0 at a block header, 1 otherwise
int via_6522_tapein_byte(uint8_t *out);    // 0; 0xFF when there is no tape left
