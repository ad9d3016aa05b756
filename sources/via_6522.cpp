#include "via_6522.h"

#include <cassert>
#include <climits>
#include <cstring>
#include <iterator>

#include "log.h"
#include "state.h"

// Register names for trace lines.
constexpr const char *via_sym[] = {
    "VIA_IORB",  "VIA_IORA",  "VIA_DDRB",  "VIA_DDRA",  "VIA_T1C_L", "VIA_T1C_H",
    "VIA_T1L_L", "VIA_T1L_H", "VIA_T2C_L", "VIA_T2C_H", "VIA_SR",    "VIA_ACR",
    "VIA_PCR",   "VIA_IFR",   "VIA_IER",   "VIA_IORA2",
};
static_assert(std::size(via_sym) == 16);

static via_state via;

// A count the VIA keeps rather than a call through a slot: the step pays for
// it at every instruction, and the call cost 5 % of the whole step.
static uint32_t timeline;

// Outlives a reset.
static via_wiring wiring;

static void drive_irq(uint8_t level) {
    if (wiring.irq) wiring.irq(level);
}

// The timing mode outlives a reset. `gate` keeps via_6522_run from counting in
// one go while a counter load waits for its cycle, or while `ahead` cycles of
// the running instruction have been clocked already (via_6522_catch_up).
static struct {
    int exact;
    int gate;
    int ahead;
} via_timing;

// ---- interrupt logic: IFR bit 7 always equals the IRQ output ----

static void raise_flag(uint8_t flag) {
    via.ifr |= flag;
    if (via.ifr & via.ier & 0x7F) {
        via.ifr |= VIA_INT_ANY;
        drive_irq(1);
    }
}

// Timer and shift flags fire once: a flag still set means nothing new to say.
static void raise_flag_once(uint8_t flag) {
    if (via.ifr & flag) return;
    raise_flag(flag);
}

static void clear_flags(uint8_t mask) {
    via.ifr = via.ifr & ~mask & 0x7F;
    if (via.ifr & via.ier) {
        via.ifr |= VIA_INT_ANY;
    } else {
        drive_irq(0);
    }
}

// CA2/CB2 set up as independent-interrupt inputs keep their flag on port access.
static void clear_ca_flags() {
    bool ca2_independent = (via.pcr & 0x0A) == 0x02;
    clear_flags(ca2_independent ? VIA_INT_CA1 : VIA_INT_CA1 | VIA_INT_CA2);
}

static void clear_cb_flags() {
    bool cb2_independent = (via.pcr & 0xA0) == 0x20;
    clear_flags(cb2_independent ? VIA_INT_CB1 : VIA_INT_CB1 | VIA_INT_CB2);
}

// ---- lines ----

static uint8_t porta_out() {
    return static_cast<uint8_t>(~via.ddra | via.ora);
}
static uint8_t portb_out() {
    return static_cast<uint8_t>(~via.ddrb | via.orb);
}

static void put_porta() {
    if (via.handlers.pa_w) via.handlers.pa_w(porta_out());
}
static void put_portb() {
    if (via.handlers.pb_w) via.handlers.pb_w(portb_out());
}

static void set_ca2(uint8_t level) {
    via.ca2_out = level;
    if (via.handlers.ca2_w) via.handlers.ca2_w(level);
}
static void set_cb2(uint8_t level) {
    via.cb2_out = level;
    if (via.handlers.cb2_w) via.handlers.cb2_w(level);
}

static void sample_porta() {
    if (via.handlers.pa_r) {
        via.porta_in = via.handlers.pa_r();
    } else {
        log_info_if(tr_on(0, TR_VIA_NOHANDLER), "{!} via Port A is being read but has no handler");
    }
}
static void sample_portb() {
    if (via.handlers.pb_r) {
        via.portb_in = via.handlers.pb_r();
    } else {
        log_info_if(tr_on(0, TR_VIA_NOHANDLER), "{!} via Port B is being read but has no handler");
    }
}

static bool ca2_handshake() {
    return (via.pcr & 0x0C) == 0x08;
}
static bool cb2_handshake() {
    return (via.pcr & 0xC0) == 0x80;
}

// A handshake mode drops its output line when the processor touches the port.
static void ca2_acknowledge() {
    if (ca2_handshake() && via.ca2_out == 1) set_ca2(0);
}
static void cb2_acknowledge() {
    if (cb2_handshake() && via.cb2_out == 1) set_cb2(0);
}

static uint8_t read_porta_value() {
    return static_cast<uint8_t>((via.porta_in & ~via.ddra) | (via.ora & via.ddra));
}

// Stopped in timed mode, timer 2 reads as if it had run on past zero.
static uint8_t read_t2(bool high) {
    uint8_t lo = via.t2c & 0xFF;
    uint8_t hi = via.t2c >> 8;
    if (via.t2_running || (via.acr & 0x20) || via_timing.exact) return high ? hi : lo;
    return high ? 0xFF : static_cast<uint8_t>(0xFF - (hi | lo));
}

// Time-outs are rare next to the per-cycle decrements: keep them out of line.
__attribute__((noinline, cold)) static void timeout_t1() {
    via.t1c = via.t1l;
    if (via.acr & 0x40) {
        if (via.acr & 0x80) via.orb ^= 0x80;
    } else {
        if (via.acr & 0x80) via.orb |= 0x80;
        via.t1_running = 0;
    }
    put_portb();
    raise_flag_once(VIA_INT_T1);
}

__attribute__((noinline, cold)) static void timeout_t2() {
    via.t2_running = 0;
    via.t2c = via.t2l;
    raise_flag_once(VIA_INT_T2);
}

// Exact timing: the counter has just passed from 0 to 0xFFFF.
__attribute__((noinline, cold)) static void wrap_t1() {
    if (via.acr & 0x40) {
        via.t1_load = 1;
        via_timing.gate = INT_MAX;
        if (via.acr & 0x80) via.orb ^= 0x80;
    } else if (via.t1_armed) {
        via.t1_armed = 0;
        if (via.acr & 0x80) via.orb |= 0x80;
    } else {
        return;
    }
    put_portb();
    raise_flag(VIA_INT_T1);
}

__attribute__((noinline, cold)) static void wrap_t2() {
    if (!via.t2_armed) return;
    via.t2_armed = 0;
    raise_flag(VIA_INT_T2);
}

static void load_later() {
    if (via_timing.exact) via_timing.gate = INT_MAX;
}

// ---- public ----

int via_6522_init() {
    memset(&via, 0, sizeof via);
    via_timing.ahead = 0;
    via.base = VIA_BASE;
    return 0;
}

int via_6522_wire(const via_wiring &w) {
    wiring = w;
    return 0;
}

uint32_t *via_6522_timeline() {
    return &timeline;
}

int via_6522_read(unsigned address, uint8_t *out) {
    unsigned addr = address - via.base;
    uint8_t value = 0;
    if (addr > 0x0F) {
        *out = 0;
        return 0;
    }
    switch (addr) {
    case VIA_IORB: {
        if (!(via.acr & 0x02)) sample_portb();
        clear_cb_flags();
        uint8_t m = via.ddrb | ((via.acr & 0x80) ? 0x80 : 0x00);
        value = static_cast<uint8_t>((via.portb_in & ~m) | (via.orb & m));
        break;
    }
    case VIA_IORA:
        if (!(via.acr & 0x01) && via.ddra != 0xFF) sample_porta();
        value = read_porta_value();
        clear_ca_flags();
        ca2_acknowledge();
        break;
    case VIA_DDRB:
        value = via.ddrb;
        break;
    case VIA_DDRA:
        value = via.ddra;
        break;
    case VIA_T1C_L:
        clear_flags(VIA_INT_T1);
        value = via.t1c & 0xFF;
        break;
    case VIA_T1C_H:
        value = via.t1c >> 8;
        break;
    case VIA_T1L_L:
        value = via.t1l & 0xFF;
        break;
    case VIA_T1L_H:
        value = via.t1l >> 8;
        break;
    case VIA_T2C_L:
        clear_flags(VIA_INT_T2);
        value = read_t2(false);
        break;
    case VIA_T2C_H:
        value = read_t2(true);
        break;
    case VIA_SR:
        value = via.sr;
        clear_flags(VIA_INT_SR);
        if ((via.acr & 0x1C) == 0x18) via.shift_count = 0;
        break;
    case VIA_ACR:
        value = via.acr;
        break;
    case VIA_PCR:
        value = via.pcr;
        break;
    case VIA_IFR:
        value = via.ifr;
        break;
    case VIA_IER:
        value = via.ier | 0x80;
        break;
    case VIA_IORA2:
        if (!(via.acr & 0x01)) sample_porta();
        value = read_porta_value();
        break;
    }
    log_info_if(tr_on(0, TR_VIA), "{R} via: %10s %04X:%02X", via_sym[addr], address, value);
    *out = value;
    return 0;
}

int via_6522_write(unsigned address, uint8_t value) {
    unsigned addr = address - via.base;
    assert(addr <= 0x0F);
    log_info_if(tr_on(0, TR_VIA), "{W} via: %10s %04X:%02X", via_sym[addr], address, value);
    switch (addr) {
    case VIA_IORB:
        via.orb =
            (via.acr & 0x80) ? static_cast<uint8_t>((via.orb & 0x80) | (value & 0x7F)) : value;
        put_portb();
        clear_cb_flags();
        cb2_acknowledge();
        break;
    case VIA_IORA:
        via.ora = value;
        if (via.ddra) put_porta();
        clear_ca_flags();
        if ((via.pcr & 0x0E) == 0x0A) { // pulse: one cycle low, back high
            if (via.handlers.ca2_w) via.handlers.ca2_w(0);
            set_ca2(1);
        } else if ((via.pcr & 0x0E) == 0x08) {
            ca2_acknowledge();
        }
        break;
    case VIA_DDRB:
        if (value != via.ddrb) {
            via.ddrb = value;
            put_portb();
        }
        break;
    case VIA_DDRA:
        if (value != via.ddra) {
            via.ddra = value;
            put_porta();
        }
        break;
    case VIA_T1C_L:
    case VIA_T1L_L:
        via.t1l = static_cast<uint16_t>((via.t1l & 0xFF00) | value);
        break;
    case VIA_T1C_H:
        via.t1l = static_cast<uint16_t>((value << 8) | (via.t1l & 0xFF));
        via.t1c = via.t1l;
        via.t1_load = via.t1_armed = 1;
        load_later();
        clear_flags(VIA_INT_T1);
        if (via.acr & 0x80) {
            via.orb &= 0x7F;
            put_portb();
        }
        via.t1_running = 1;
        break;
    case VIA_T1L_H:
        via.t1l = static_cast<uint16_t>((value << 8) | (via.t1l & 0xFF));
        clear_flags(VIA_INT_T1);
        break;
    case VIA_T2C_L:
        via.t2l = static_cast<uint16_t>((via.t2l & 0xFF00) | value);
        break;
    case VIA_T2C_H:
        via.t2l = static_cast<uint16_t>((value << 8) | (via.t2l & 0xFF));
        via.t2c = via.t2l;
        via.t2_load = via.t2_armed = 1;
        load_later();
        clear_flags(VIA_INT_T2);
        // Pulse counting is not modelled: the counter loads and stays put.
        if (!(via.acr & 0x20)) via.t2_running = 1;
        break;
    case VIA_SR:
        via.sr = value;
        via.shift_count = 0;
        clear_flags(VIA_INT_SR);
        break;
    case VIA_ACR:
        via.acr = value;
        if (value & 0x80) {
            via.orb = via.t1_running ? (via.orb & 0x7F) : (via.orb | 0x80);
            put_portb();
        }
        if (value & 0x40) via.t1_running = 1;
        break;
    case VIA_PCR: {
        via.pcr = value;
        log_info_if(tr_on(0, TR_VIA), "{!} via PCR = %02X", value);
        // CA2 before CB2: the sound chip bus acts on the BDIR change only.
        if ((value & 0x0C) == 0x0C) {
            uint8_t level = (value >> 1) & 1;
            if (level != via.ca2_out) set_ca2(level);
        }
        if ((value & 0xC0) == 0xC0) {
            uint8_t level = (value >> 5) & 1;
            if (level != via.cb2_out) set_cb2(level);
        }
        break;
    }
    case VIA_IFR:
        clear_flags((value & 0x80) ? 0x7F : value);
        break;
    case VIA_IER:
        if (value & 0x80) {
            via.ier |= value & 0x7F;
        } else {
            via.ier &= ~value & 0x7F;
        }
        if (via.ifr & via.ier) {
            via.ifr |= VIA_INT_ANY;
            drive_irq(1);
        } else {
            via.ifr &= 0x7F;
            drive_irq(0);
        }
        break;
    case VIA_IORA2:
        via.ora = value;
        if (via.ddra) put_porta();
        break;
    }
    return 0;
}

static inline void clock_timers() {
    if (via.t1_running) {
        if (via.t1c == 0) {
            timeout_t1();
        } else {
            via.t1c--;
        }
    }
    if (via.t2_running) {
        if (via.t2c == 0) {
            timeout_t2();
        } else {
            via.t2c--;
        }
    }
}

// A counter that has just been loaded holds its value for one cycle.
static inline void clock_timers_exact() {
    if (via.t1_running) {
        if (via.t1_load) {
            via.t1_load = 0;
            via.t1c = via.t1l;
        } else if (via.t1c-- == 0) {
            wrap_t1();
        }
    }
    if (via.t2_running) {
        if (via.t2_load) {
            via.t2_load = 0;
        } else if (via.t2c-- == 0) {
            wrap_t2();
        }
    }
}

// Runs that may time out or are traced: cycle by cycle, kept apart so the
// counting path needs no frame. Cycles clocked ahead are not clocked again.
__attribute__((noinline)) static int run_cycles(int cycles) {
    int skip = cycles < via_timing.ahead ? cycles : via_timing.ahead;
    via_timing.ahead -= skip;
    for (int i = skip; i < cycles; i++) {
        if (via_timing.exact)
            clock_timers_exact();
        else
            clock_timers();
        timeline++;
    }
    if (via_timing.exact)
        via_timing.gate = via.t1_load || via.t2_load || via_timing.ahead ? INT_MAX : 0;
    if (cycles > 0) {
        log_info_if(tr_on(0, TR_VIA_TIMER), "; via T1L:%.04X T1C:%.04X T2L:%.04X T2C:%.04X",
                    via.t1l, via.t1c, via.t2l, via.t2c);
    }
    return 0;
}

int via_6522_can_batch(int cycles) {
    if (tr[0] & TR_MASTER) return 0;
    unsigned n = static_cast<unsigned>(cycles);
    if (via.t1_running && via.t1c < n) return 0;
    if (via.t2_running && via.t2c < n) return 0;
    return 1;
}

int via_6522_can_batch_exact(int cycles) {
    return cycles > via_timing.gate && via_6522_can_batch(cycles);
}

int via_6522_count(int cycles) {
    if (via.t1_running) via.t1c = static_cast<uint16_t>(via.t1c - cycles);
    if (via.t2_running) via.t2c = static_cast<uint16_t>(via.t2c - cycles);
    timeline += static_cast<uint32_t>(cycles);
    return 0;
}

int via_6522_run(int cycles) {
    if (via_6522_can_batch_exact(cycles)) return via_6522_count(cycles);
    return run_cycles(cycles);
}

int via_6522_catch_up(int cycles) {
    if (cycles <= via_timing.ahead) return 0;
    int ahead = via_timing.ahead;
    via_timing.ahead = 0;
    run_cycles(cycles - ahead);
    via_timing.ahead = cycles;
    via_timing.gate = INT_MAX;
    return 0;
}

void via_6522_event(const event &ev) {
    if (wiring.event) wiring.event(ev);
}

int via_6522_exact(int on) {
    via_timing.exact = on != 0;
    via_timing.ahead = 0;
    via_timing.gate = on ? INT_MAX : 0; // the next run settles it
    return 0;
}

int via_6522_getctx(via_state **out) {
    *out = &via;
    return 0;
}

// ---- pin interface ----

void via_porta_w(uint8_t byte) {
    via.porta_in = byte;
}
uint8_t via_portb_r() {
    return via.portb_in;
}
void via_portb_w(uint8_t byte) {
    via.portb_in = byte;
}
uint8_t via_ca1_r() {
    return via.ca1;
}
uint8_t via_ca2_r() {
    return via.ca2_in;
}
uint8_t via_cb1_r() {
    return via.cb1;
}
uint8_t via_cb2_r() {
    return via.cb2_in;
}

void via_ca1_w(uint8_t level) {
    if (level == via.ca1) return;
    log_info_if(tr_on(0, TR_VIA), "{!} via CA1 = %02X", level);
    bool rising = via.pcr & 0x01;
    if (rising ? level && !via.ca1 : !level && via.ca1) {
        if (via.acr & 0x01) sample_porta();
        raise_flag(VIA_INT_CA1);
        if (ca2_handshake() && via.ca2_out == 0) set_ca2(1);
    }
    via.ca1 = level;
}

void via_cb1_w(uint8_t level) {
    if (level == via.cb1) return;
    bool rising = via.pcr & 0x10;
    if (rising ? level && !via.cb1 : !level && via.cb1) {
        if (via.acr & 0x02) sample_portb();
        uint8_t mode = via.acr & 0x1C;
        if (mode == 0x0C || mode == 0x1C) {
            if (mode == 0x0C) { // shift in under CB1
                via.cb2_in = via.handlers.cb2_r ? via.handlers.cb2_r() : 0;
                via.sr = static_cast<uint8_t>((via.sr << 1) | (via.cb2_in & 1));
            } else { // shift out under CB1, rotating
                uint8_t out = via.sr >> 7;
                via.sr = static_cast<uint8_t>((via.sr << 1) | out);
                set_cb2(out);
            }
            via.shift_count = (via.shift_count + 1) & 7;
            if (via.shift_count == 0) raise_flag_once(VIA_INT_SR);
        }
        raise_flag(VIA_INT_CB1);
        if (cb2_handshake() && via.cb2_out == 0) set_cb2(1);
    }
    via.cb1 = level;
}

void via_ca2_w(uint8_t level) {
    if ((via.pcr & 0x08) || level == via.ca2_in) return;
    raise_flag(VIA_INT_CA2);
    via.ca2_in = level;
}

void via_cb2_w(uint8_t level) {
    if ((via.pcr & 0x80) || level == via.cb2_in) return;
    bool rising = via.pcr & 0x40;
    if (rising ? level && !via.cb2_in : !level && via.cb2_in) raise_flag(VIA_INT_CB2);
    via.cb2_in = level;
}

// ---- saved state ----

// One field list for both directions, so the two cannot drift apart. The
// exact timing's loads and armed flags came with format version 2.
template <class F> static void each_field(via_state &v, uint32_t format, F &&field) {
    field(v.porta_in), field(v.ca1), field(v.ca2_in), field(v.ora), field(v.ca2_out);
    field(v.ddra), field(v.portb_in), field(v.cb1), field(v.cb2_in), field(v.orb);
    field(v.cb2_out), field(v.ddrb), field(v.t1c), field(v.t1l), field(v.t2c), field(v.t2l);
    field(v.sr), field(v.pcr), field(v.acr), field(v.ier), field(v.ifr);
    field(v.t1_running), field(v.t2_running), field(v.shift_count);
    if (format >= 2) field(v.t1_load), field(v.t2_load), field(v.t1_armed), field(v.t2_armed);
}

void via_6522_state_save(std::vector<uint8_t> &out) {
    each_field(via, STATE_VERSION, [&](auto &f) { state_put(out, f); });
}

int via_6522_state_load(const uint8_t *data, size_t size, int apply) {
    via_state v = via;
    v.t1_load = v.t2_load = v.t1_armed = v.t2_armed = 0;
    state_reader in{data, size};
    each_field(v, state_format(), [&](auto &f) { in.get(f); });
    if (in.finish("via")) return 1;
    if ((v.ca1 | v.ca2_in | v.ca2_out | v.cb1 | v.cb2_in | v.cb2_out) > 1 ||
        (v.t1_running | v.t2_running) > 1 || v.shift_count > 7 || v.ier > 0x7F ||
        !(v.ifr & 0x80) != !(v.ifr & v.ier & 0x7F) ||
        (v.t1_load | v.t2_load | v.t1_armed | v.t2_armed) > 1)
        return state_refuse("via: a line, timer or flag value out of range");
    if (apply) {
        via = v;
        load_later(); // a load may be pending: the next run settles it
    }
    return 0;
}
