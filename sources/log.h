// log: error, information and debug lines, the verbosity level and the
// trace switches. Lines come from the main thread (console commands) and the
// timer thread (device traces); no lock, so two lines may interleave.
#pragma once
#include <cstdarg>
#include <cstdint>

// Trace switches. Byte 0 bit 0 is the master switch; a device traces when
// its own bit and the master bit are both set. Only the processor trace
// (it clears the master bit around its own reads) and the monitor's write
// watches (the watch bit, under the machine lock) write here.
extern uint8_t tr[4];

constexpr uint8_t TR_MASTER = 0x01;  // byte 0
constexpr uint8_t TR_WATCH = 0x02;   // byte 0: stores take the decoder, traces stay off
constexpr uint8_t TR_CPU = 0x04;     // byte 0
constexpr uint8_t TR_VIA_TIMER = 0x08;
constexpr uint8_t TR_VIA_NOHANDLER = 0x10;
constexpr uint8_t TR_VIA = 0x20;
constexpr uint8_t TR_RAM = 0x40;
constexpr uint8_t TR_ROM = 0x80;
constexpr uint8_t TR_VDC = 0x01;  // byte 1
constexpr uint8_t TR_FDC = 0x02;  // byte 1
constexpr uint8_t TR_FDU = 0x04;  // byte 1
constexpr uint8_t TR_AY = 0x08;   // byte 1

// True when the master switch and `bit` of byte `idx` are both set.
inline bool tr_on(int idx, uint8_t bit) {
    return (tr[0] & TR_MASTER) && (tr[idx] & bit);
}

using log_hook_fn = int (*)(const char *fmt, va_list ap);

int log_verbosity(int level);  // returns the previous level
int log_error(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
int log_info(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
int log_info_if(int cond, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
int log_debug(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
int log_info_hook(log_hook_fn hook);  // nullptr removes the hook
