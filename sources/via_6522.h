// via_6522: the interface adapter at 0x0300-0x030F. Its ports reach the
// sound chip and keyboard only through its handler table; its IRQ output is
// the processor's IRQ input. Runs on the timer thread.
#pragma once
#include <cstdint>

#include "sys_core.h"

constexpr uint16_t VIA_BASE = 0x0300;

int via_6522_init();  // also initialises the sound chip
int via_6522_read(unsigned addr, uint8_t *out);  // 0 always
int via_6522_write(unsigned addr, uint8_t value);
int via_6522_run(int cycles);
void via_6522_event(const event &ev);  // forwarded to the keyboard matrix
