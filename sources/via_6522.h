// via_6522: the interface adapter at 0x0300-0x030F. Two ports, two timers,
// a shift register and one IRQ output. It knows no other chip: its ports and
// control lines reach their devices through the handler table, and its IRQ
// output and the events it hands on through its wiring; the board fills
// both. It counts the machine's cycles, which the board hands the sound
// chip. Every entry point runs on the timer thread.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sys_event.h"

constexpr uint16_t VIA_BASE = 0x0300;

// Register numbers (address - VIA_BASE).
constexpr uint8_t VIA_IORB = 0x0;
constexpr uint8_t VIA_IORA = 0x1;
constexpr uint8_t VIA_DDRB = 0x2;
constexpr uint8_t VIA_DDRA = 0x3;
constexpr uint8_t VIA_T1C_L = 0x4;
constexpr uint8_t VIA_T1C_H = 0x5;
constexpr uint8_t VIA_T1L_L = 0x6;
constexpr uint8_t VIA_T1L_H = 0x7;
constexpr uint8_t VIA_T2C_L = 0x8;
constexpr uint8_t VIA_T2C_H = 0x9;
constexpr uint8_t VIA_SR = 0xA;
constexpr uint8_t VIA_ACR = 0xB;
constexpr uint8_t VIA_PCR = 0xC;
constexpr uint8_t VIA_IFR = 0xD;
constexpr uint8_t VIA_IER = 0xE;
constexpr uint8_t VIA_IORA2 = 0xF;

// Interrupt flag / enable bits.
constexpr uint8_t VIA_INT_CA2 = 0x01;
constexpr uint8_t VIA_INT_CA1 = 0x02;
constexpr uint8_t VIA_INT_SR = 0x04;
constexpr uint8_t VIA_INT_CB2 = 0x08;
constexpr uint8_t VIA_INT_CB1 = 0x10;
constexpr uint8_t VIA_INT_T2 = 0x20;
constexpr uint8_t VIA_INT_T1 = 0x40;
constexpr uint8_t VIA_INT_ANY = 0x80; // IFR: IRQ asserted; IER write: set (1) or clear (0)

// What the devices put on the VIA's lines. A read slot returns the byte (ports)
// or level (control lines) on the line; a write slot gets the VIA's new output.
// nullptr: nothing wired.
// CA1 and CB1 are inputs only; the chip never asks what drives CA2.
struct via_handlers {
    uint8_t (*pa_r)();
    void (*pa_w)(uint8_t);
    uint8_t (*pb_r)();
    void (*pb_w)(uint8_t);
    void (*ca2_w)(uint8_t);
    uint8_t (*cb2_r)();
    void (*cb2_w)(uint8_t);
};

struct via_state {
    uint16_t base;
    uint8_t porta_in; // last byte sampled from the port A pins
    uint8_t ca1;
    uint8_t ca2_in;
    uint8_t ora;
    uint8_t ca2_out;
    uint8_t ddra;
    uint8_t portb_in;
    uint8_t cb1;
    uint8_t cb2_in;
    uint8_t orb; // bit 7 is the timer 1 output while ACR bit 7 is set
    uint8_t cb2_out;
    uint8_t ddrb;
    uint16_t t1c; // counters and latches as 16-bit values: one decrement per cycle
    uint16_t t1l;
    uint16_t t2c;
    uint16_t t2l;
    uint8_t sr;
    uint8_t pcr;
    uint8_t acr;
    uint8_t ier; // bits 0-6
    uint8_t ifr; // bit 7 mirrors the IRQ output
    uint32_t t1_running;
    uint32_t t2_running;
    uint8_t t1_load; // exact timing: the latch reaches the counter at the next cycle
    uint8_t t2_load;
    uint8_t t1_armed; // exact timing: a one-shot time-out still raises its flag
    uint8_t t2_armed;
    uint8_t shift_count;
    via_handlers handlers;
};

// The VIA's outputs other than its lines, wired once by the board; a reset
// keeps them. nullptr: nothing wired.
struct via_wiring {
    void (*irq)(uint8_t level);    // the IRQ output, 1 while asserted
    int (*event)(const event &ev); // where via_6522_event hands events
};
int via_6522_wire(const via_wiring &wiring); // 0
// The cycles the VIA has been clocked, wrapping: the machine's timeline, which
// the board hands the sound chip. Timer thread, or the machine lock.
uint32_t *via_6522_timeline();

int via_6522_init(); // clears registers, lines and the handler table

int via_6522_read(unsigned addr, uint8_t *out); // 0 always; 0 outside the registers
int via_6522_write(unsigned addr, uint8_t value);
int via_6522_run(int cycles); // clocks the timers and counts the cycles in via_6522_timeline
// 1 when the next `cycles` cycles would only count: no timer runs out within
// them and no trace is on, so they may be clocked in one go. The exact
// timing's test adds that no counter load waits for its cycle and that none
// of them was clocked ahead (via_6522_catch_up).
int via_6522_can_batch(int cycles);
int via_6522_can_batch_exact(int cycles);
// Clocks cycles in one go, as via_6522_run does once the timing's test above
// has given 1: the step makes that test itself, and it costs no second one.
int via_6522_count(int cycles);
void via_6522_event(const event &ev); // handed on through the wiring
// 1: the timers as the chip has them: a write to a counter's high byte shows
// the value from the next cycle on, each counter passes 0xFFFF at its time-out
// (timer 1 free-running reloads after it, a period of N + 2; one-shot timers
// count on, with no second flag), and reads give the counter as it is.
// 0: the simplified timers. Either way an access is timed as an absolute one,
// at the same point of its instruction, unless the exact processor has caught
// the VIA up to its own cycle first.
int via_6522_exact(int on);
// Exact timing, from the processor before a device access that falls
// `cycles` cycles later in its instruction than an absolute one's: clocks the
// VIA up to there. The instruction's own via_6522_run skips what was clocked.
int via_6522_catch_up(int cycles);
int via_6522_getctx(via_state **out); // 0; the state record, for installing handlers

// Pin interface: devices drive the VIA's inputs. Port A's pins are read
// through the pa_r handler only, so there is no via_porta_r.
void via_porta_w(uint8_t byte);
uint8_t via_portb_r();
void via_portb_w(uint8_t byte);
uint8_t via_ca1_r();
void via_ca1_w(uint8_t level);
uint8_t via_ca2_r();
void via_ca2_w(uint8_t level);
uint8_t via_cb1_r();
void via_cb1_w(uint8_t level);
uint8_t via_cb2_r();
void via_cb2_w(uint8_t level);

// Saved state (sys_state): registers, timers, lines; the handlers stay.
// apply as for cpu_6502_state_load.
void via_6522_state_save(std::vector<uint8_t> &out);
int via_6522_state_load(const uint8_t *data, size_t size, int apply);
