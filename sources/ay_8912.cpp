#include "ay_8912.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <iterator>

#include "log.h"
#include "state.h"

// Output level of a 4-bit amplitude.
constexpr uint32_t voltab[16] = {
    0, 128, 207, 309, 480, 809, 1231, 2277, 2586, 4469, 6170, 7610, 9711, 11817, 14100, 16383,
};
static_assert(std::size(voltab) == 16);

// Exact timing: the real chip's logarithmic DAC, level 15 = 1 (the lower of
// the two published sets of measurements at the quiet end; the other one
// bunches levels 1-5 together as an offset in the meter would). Scaled so
// three channels at 15 and the speaker, stepping on together, fit the 16-bit
// range with the resampling filter's 9 % ringing on top.
constexpr uint16_t voltab_exact[16] = {
    0, 86, 124, 181, 263, 390, 553, 920, 1085, 1757, 2504, 3195, 4221, 5445, 6904, 8570,
};
static_assert(std::size(voltab_exact) == 16);
constexpr float AY_SPEAKER_EXACT = 4285; // the simplified output's ratio to a channel
static_assert((3 * voltab_exact[15] + AY_SPEAKER_EXACT) * 1.091 <= 32767);

// What a bus read returns of each register in exact timing: the bits the chip has.
constexpr uint8_t AY_PORT_OUT = 0x40; // R7 bit 6: port A drives its pins

constexpr uint8_t readback_mask[15] = {
    // R0    R1    R2    R3    R4    R5    R6    R7    R8    R9    R10   R11   R12   R13   R14
    0xFF, 0x0F, 0xFF, 0x0F, 0xFF, 0x0F, 0x1F, 0xFF, 0x1F, 0x1F, 0x1F, 0xFF, 0xFF, 0x0F, 0xFF,
};
static_assert(std::size(readback_mask) == 15);

// Envelope shapes: levels, then a code with bit 7 set whose low bits give the
// step to continue from (128 repeats, 143/144 hold the last level).
constexpr uint8_t eshape0[] = {15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 143};
constexpr uint8_t eshape4[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0, 144};
constexpr uint8_t eshape8[] = {15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 128};
constexpr uint8_t eshapeA[] = {15, 14, 13, 12, 11, 10, 9, 8, 7, 6,  5,  4,  3,  2,  1,  0,  0,
                               1,  2,  3,  4,  5,  6,  7, 8, 9, 10, 11, 12, 13, 14, 15, 128};
constexpr uint8_t eshapeB[] = {15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 15, 144};
constexpr uint8_t eshapeC[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 128};
constexpr uint8_t eshapeD[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 143};
constexpr uint8_t eshapeE[] = {0,  1,  2,  3,  4,  5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 15,
                               14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4,  3,  2,  1,  0,  128};
static_assert(std::size(eshape0) == 17 && std::size(eshape4) == 18 && std::size(eshapeA) == 33 &&
              std::size(eshapeE) == 33);

// By the low nibble of R13.
constexpr const uint8_t *eshapes[16] = {
    eshape0, eshape0, eshape0, eshape0, eshape4, eshape4, eshape4, eshape4,
    eshape8, eshape0, eshapeA, eshapeB, eshapeC, eshapeD, eshapeE, eshape4,
};
static_assert(std::size(eshapes) == 16);

// Exact timing runs the chip at its own tick (1 MHz / 8: tones toggle every
// P ticks, noise and envelope step every 2N and 2E), then band-limits that
// 125 kHz stream to the host rate with a windowed-sinc kernel, flat to 17 kHz
// and at least 70 dB down from 20.5 kHz, so nothing folds back as an alias.
// The speaker's edges fall between ticks: each is spread over nine ticks as
// a band-limited step, which the tick stream alone could not carry.
constexpr int AY_TICK = 8;     // cycles per chip tick
constexpr int FIR_TAPS = 192;  // ticks under the kernel: 1.5 ms, half of it latency
constexpr int FIR_PHASES = 64; // kernel rows per tick, interpolated between
constexpr int TICK_RING = 256; // ticks kept: the kernel's and a frame's
constexpr int STEP_TAPS = 9;   // ticks a speaker edge is spread over
constexpr int STEP_BEFORE = 4; // of those, the ticks before the edge's own
constexpr double FIR_CUTOFF = 19000.0 / 125000.0; // cycles per tick
constexpr double FIR_BETA = 7.0;
constexpr double STEP_BETA = 8.0;
// AC coupling: a one-pole high-pass at 10 Hz, as a coupling capacitor would.
constexpr float AY_DC_POLE = 0.998576f; // exp(-2 pi 10 / 44100)
static_assert(FIR_TAPS + 4 <= TICK_RING && (TICK_RING & (TICK_RING - 1)) == 0);

struct write_entry {
    uint32_t stamp;
    uint8_t reg;
    uint8_t value;
};

struct speaker_entry {
    uint32_t stamp;
    uint8_t level;
};

static struct ay_state {
    audio_record audio; // must stay first: `audio` points here
    uint32_t speaker_level;
    uint32_t sound_setting;
    uint32_t speaker_setting;
    const uint8_t *envelope;
    uint8_t bus; // bit 0 BC1, bit 1 BDIR
    uint8_t latched;
    uint8_t r[14];
    uint8_t r14;
    uint8_t readback[15];
    uint32_t tone_period[3];
    uint32_t noise_period;
    uint32_t envelope_period;
    uint16_t tone_off[3];
    uint16_t noise_off[3];
    uint16_t amplitude[3];
    uint16_t changed; // bits 0-2: channel outputs to recompute
    uint32_t tone_counter[3];
    uint32_t noise_counter;
    uint32_t envelope_counter;
    uint32_t tone_out[3];
    uint32_t channel_out[3];
    uint32_t envelope_step;
    int16_t mixed;
    uint16_t speaker_sample;
    uint32_t noise_out;
    uint32_t noise_shift;
    uint32_t frame_cycle;
    uint32_t next_frame_cycle;
    uint32_t frame_remainder; // exact timing: the fraction of a cycle, in 441ths
    uint32_t synthesised;     // timeline cycle the synthesis has reached
    uint32_t write_count;
    uint32_t speaker_count;
    uint32_t cycle_counter;
    uint32_t rebase_value;
    uint32_t rebase_pending;
    // Past a full queue only the latest value per register (and the latest
    // speaker level) is kept; the callback applies it after the buffer, so an
    // overflow loses timing but never leaves a note stuck.
    uint16_t dropped; // bit r: dropped_value[r] is waiting
    uint8_t dropped_value[14];
    uint32_t speaker_dropped; // 0, or 1 + the level
    // Exact timing's output filter. Ticks wait in `pending` until the speaker
    // edges that reach them are in, then move to `ring`.
    uint32_t tick_phase;       // cycles into the tick under way
    uint32_t ring_head;        // the slot the next tick goes to
    float pending[STEP_TAPS];  // ticks from STEP_BEFORE back to 4 ahead of the current one
    float dc_in;               // AC coupling: last input
    float dc_out;              // and last output
    float ring[2 * TICK_RING]; // each tick twice, so any window is contiguous
    speaker_entry speaker_queue[AY_SPEAKER_QUEUE];
    write_entry write_queue[AY_WRITE_QUEUE];
} ay;

audio_record *audio = &ay.audio;

// These outlive a reset, as settings do.
static int ay_exact;
static ay_8912_wiring wiring;

// The count the queues are stamped with: the machine's, once wired, else the
// chip's own. `cycle_counter` also carries it through saved states.
static uint32_t &timeline() {
    return wiring.timeline ? *wiring.timeline : ay.cycle_counter;
}
static struct {
    uint32_t sound;
    uint32_t speaker;
} settings;

static uint16_t level_amplitude(uint8_t level) {
    return ay_exact ? voltab_exact[level] : static_cast<uint16_t>(voltab[level]);
}

static uint8_t via_port_a; // the sound chip data bus
static uint8_t via_port_b; // last port B output, bit 3 the keyboard sense

// ---- the audio lock, when the host layer has installed it ----

static void lock_audio() {
    if (ay.audio.lock) ay.audio.lock();
}
static void unlock_audio() {
    if (ay.audio.unlock) ay.audio.unlock();
}

// ---- timeline queues (emulation thread, under the audio lock) ----

// Stamps count from the first entry after a callback, which lands on the next
// buffer's first frame: the gap between a callback and that entry is not kept.
static void rebase_if_due() {
    if (ay.rebase_pending) {
        timeline() = ay.rebase_value;
        ay.rebase_pending = 0;
    }
}

static void queue_write(uint8_t reg, uint8_t value) {
    lock_audio();
    rebase_if_due();
    if (ay.write_count < AY_WRITE_QUEUE) {
        ay.write_queue[ay.write_count++] = {timeline(), reg, value};
    } else if (ay_exact || !(reg == 13 && value == 0xFF)) { // a no-op must not hide a shape
        ay.dropped |= static_cast<uint16_t>(1 << reg);
        ay.dropped_value[reg] = value;
    }
    unlock_audio();
}

static void queue_speaker(uint8_t level) {
    lock_audio();
    rebase_if_due();
    if (ay.speaker_count < AY_SPEAKER_QUEUE) {
        ay.speaker_queue[ay.speaker_count++] = {timeline(), level};
    } else {
        ay.speaker_dropped = 1u + level;
    }
    unlock_audio();
}

// Register order puts R8-R10 before R13, as the envelope restart needs.
static void apply_dropped() {
    for (uint8_t r = 0; r < 14; r++) {
        if (ay.dropped & (1 << r)) ay_8912_dowrite(r, ay.dropped_value[r]);
    }
    ay.dropped = 0;
}

// The one way the write queue empties: the writes from `first` on take
// effect in order, then those kept past a full queue.
static void drain_writes(uint32_t first) {
    for (uint32_t i = first; i < ay.write_count; i++)
        ay_8912_dowrite(ay.write_queue[i].reg, ay.write_queue[i].value);
    ay.write_count = 0;
    apply_dropped();
}

// Nobody will play the queue in time (paused, or faster than real time):
// catch up with what is waiting, then apply this write at once.
static void apply_now(uint8_t reg, uint8_t value) {
    lock_audio();
    drain_writes(0);
    ay_8912_dowrite(reg, value);
    unlock_audio();
}

// ---- bus ----

static void write_register() {
    uint8_t a = ay.latched;
    uint8_t v = via_port_a;
    if (a > 14) return;
    if (a == 14) {
        ay.readback[14] = v;
        ay.r14 = v;
        return;
    }
    if (ay_exact || !(a == 13 && v == 0xFF)) ay.readback[a] = v;
    if (ay.audio.paused || (wiring.speed && *wiring.speed > 1)) {
        apply_now(a, v);
    } else {
        queue_write(a, v);
    }
}

// ---- synthesis (audio thread, under the audio lock) ----

static void set_envelope_amplitudes() {
    uint16_t level = level_amplitude(ay.envelope[ay.envelope_step]);
    for (int k = 0; k < 3; k++) {
        if (ay.r[8 + k] & 0x10) {
            ay.amplitude[k] = level;
            ay.changed |= 1 << k;
        }
    }
}

static void synthesise(uint32_t cycles) {
    uint16_t noisy = 0;
    for (int k = 0; k < 3; k++) {
        if (!ay.noise_off[k]) noisy |= 1 << k;
    }
    for (uint32_t c = 0; c < cycles; c++) {
        if (++ay.noise_counter >= ay.noise_period) {
            uint32_t feedback = (ay.noise_shift ^ (ay.noise_shift >> 2)) & 1;
            ay.noise_shift = (ay.noise_shift >> 1) | (feedback << 16);
            ay.noise_out ^= feedback;
            ay.noise_counter = 0;
        }
        for (int k = 0; k < 3; k++) {
            // A period of 0 behaves as 1: inverted at every cycle.
            if (++ay.tone_counter[k] >= ay.tone_period[k]) {
                ay.tone_counter[k] = 0;
                ay.tone_out[k] ^= 1;
                ay.changed |= 1 << k;
            }
        }
        ay.changed |= noisy;
        if (++ay.envelope_counter >= ay.envelope_period) {
            ay.envelope_counter = 0;
            uint8_t entry = ay.envelope[++ay.envelope_step];
            if (entry & 0x80) ay.envelope_step = entry & 0x7F;
            set_envelope_amplitudes();
        }
    }
}

// Counter limits in cycles from the period registers. The real chip counts a
// period of 0 as 1 and steps noise at half the tone clock; the simplified
// one runs noise at the tone clock and a zero tone or envelope every cycle.
static void derive_periods() {
    for (int k = 0; k < 3; k++) {
        uint32_t p = ((ay.r[2 * k + 1] & 0x0Fu) << 8) | ay.r[2 * k];
        ay.tone_period[k] = (ay_exact && p == 0 ? 1 : p) * 8;
    }
    uint32_t n = ay.r[6] & 0x1Fu;
    ay.noise_period = ay_exact ? (n == 0 ? 1 : n) * 16 : n * 8;
    uint32_t e = (uint32_t{ay.r[12]} << 8) | ay.r[11];
    ay.envelope_period = (ay_exact && e == 0 ? 1 : e) * 16;
}

static void mix() {
    for (int k = 0; k < 3; k++) {
        if (ay.changed & (1 << k)) {
            uint32_t on = (ay.tone_off[k] | ay.tone_out[k]) & (ay.noise_off[k] | ay.noise_out);
            ay.channel_out[k] = on ? ay.amplitude[k] : 0;
        }
    }
    int32_t sum =
        -32768 + static_cast<int32_t>(ay.channel_out[0] + ay.channel_out[1] + ay.channel_out[2]);
    ay.mixed = static_cast<int16_t>(sum > 32767 ? 32767 : sum);
    ay.changed = 0;
}

// ---- exact timing: the chip's own tick, band-limited (audio thread, lock) ----

struct filter_tables {
    float rows[FIR_PHASES + 1][FIR_TAPS]; // row p: tick weights at p / FIR_PHASES past a tick
    float step[AY_TICK][STEP_TAPS];       // a speaker edge at cycle c of a tick, less a plain step
};

static double bessel_i0(double x) {
    double sum = 1, term = 1;
    for (int k = 1; k < 40; k++) {
        term *= (x / (2 * k)) * (x / (2 * k));
        sum += term;
    }
    return sum;
}

// Kaiser-windowed sinc over [-half, half] ticks, cutoff in cycles per tick.
static double windowed_sinc(double t, double half, double cutoff, double beta) {
    double r = t / half;
    if (r <= -1 || r >= 1) return 0;
    double a = 2 * cutoff * t;
    double sinc = a == 0 ? 1 : std::sin(M_PI * a) / (M_PI * a);
    return 2 * cutoff * sinc * bessel_i0(beta * std::sqrt(1 - r * r)) / bessel_i0(beta);
}

static filter_tables make_tables() {
    filter_tables t{};
    for (int p = 0; p <= FIR_PHASES; p++) {
        double sum = 0, w[FIR_TAPS];
        for (int i = 0; i < FIR_TAPS; i++) { // i = FIR_TAPS - 1 is the newest tick
            double at = double(p) / FIR_PHASES + (FIR_TAPS - 1 - i) - FIR_TAPS / 2;
            sum += w[i] = windowed_sinc(at, FIR_TAPS / 2, FIR_CUTOFF, FIR_BETA);
        }
        // Each row passes a constant unchanged, or a held level would hum at the phase rate.
        for (int i = 0; i < FIR_TAPS; i++)
            t.rows[p][i] = static_cast<float>(w[i] / sum);
    }
    // The band-limited step, integrated on a fine grid; cutoff at the tick's Nyquist.
    constexpr int FINE = 1024; // points per tick
    constexpr int SPAN = 2 * STEP_BEFORE * FINE;
    std::vector<double> rise(SPAN + 1);
    for (int k = 1; k <= SPAN; k++) {
        double t0 = double(k - 1) / FINE - STEP_BEFORE, t1 = double(k) / FINE - STEP_BEFORE;
        rise[k] = rise[k - 1] + (windowed_sinc(t0, STEP_BEFORE, 0.5, STEP_BETA) +
                                 windowed_sinc(t1, STEP_BEFORE, 0.5, STEP_BETA)) /
                                    (2 * FINE);
    }
    for (int c = 0; c < AY_TICK; c++)
        for (int i = 0; i < STEP_TAPS; i++) {
            // Tick i - STEP_BEFORE, at its centre, seen from an edge c cycles into tick 0.
            double x = (i - STEP_BEFORE) + 0.5 - double(c) / AY_TICK;
            double at = std::clamp((x + STEP_BEFORE) * FINE, 0.0, double(SPAN));
            double b = rise[static_cast<size_t>(at)] / rise[SPAN];
            t.step[c][i] = static_cast<float>(b - (i >= STEP_BEFORE ? 1 : 0));
        }
    return t;
}

static const filter_tables &tables() {
    static const filter_tables t = make_tables(); // once, whichever thread comes first
    return t;
}

// The chip and the speaker as they are now, as one tick's value.
static float held_level() {
    float v = ay.speaker_sample ? AY_SPEAKER_EXACT : 0;
    for (int k = 0; k < 3; k++)
        if ((ay.tone_off[k] | ay.tone_out[k]) & (ay.noise_off[k] | ay.noise_out))
            v += ay.amplitude[k];
    return v;
}

// The filter as if the present level had always been: the output starts at
// 0, without a step, whatever the chip is playing.
static void settle_filter() {
    float v = held_level();
    for (int i = 0; i < STEP_TAPS; i++)
        ay.pending[i] = i < STEP_BEFORE ? v : 0;
    for (float &r : ay.ring)
        r = v;
    ay.ring_head = 0;
    ay.dc_in = v;
    ay.dc_out = 0;
}

static void speaker_edge(uint8_t level, uint32_t cycle) {
    float was = ay.speaker_sample ? AY_SPEAKER_EXACT : 0;
    ay.speaker_sample = level ? AY_SPEAKER_LEVEL : 0;
    float delta = (level ? AY_SPEAKER_EXACT : 0) - was;
    if (delta == 0) return;
    const float *step = tables().step[cycle];
    for (int i = 0; i < STEP_TAPS; i++)
        ay.pending[i] += delta * step[i];
}

// One tick of the chip: the counters advance by a tick's cycles, periods of
// 0 having been taken as 1 (see derive_periods).
static void complete_tick() {
    if ((ay.noise_counter += AY_TICK) >= ay.noise_period) {
        ay.noise_counter = 0;
        uint32_t feedback = (ay.noise_shift ^ (ay.noise_shift >> 3)) & 1;
        ay.noise_shift = (ay.noise_shift >> 1) | (feedback << 16);
        ay.noise_out = ay.noise_shift & 1;
    }
    for (int k = 0; k < 3; k++) {
        if ((ay.tone_counter[k] += AY_TICK) >= ay.tone_period[k]) {
            ay.tone_counter[k] = 0;
            ay.tone_out[k] ^= 1;
        }
    }
    if ((ay.envelope_counter += AY_TICK) >= ay.envelope_period) {
        ay.envelope_counter = 0;
        uint8_t entry = ay.envelope[++ay.envelope_step];
        if (entry & 0x80) ay.envelope_step = entry & 0x7F;
        set_envelope_amplitudes();
    }
    ay.pending[STEP_BEFORE] += held_level();
    float done = ay.pending[0];
    memmove(ay.pending, ay.pending + 1, sizeof ay.pending - sizeof ay.pending[0]);
    ay.pending[STEP_TAPS - 1] = 0;
    ay.ring[ay.ring_head] = ay.ring[ay.ring_head + TICK_RING] = done;
    ay.ring_head = (ay.ring_head + 1) & (TICK_RING - 1);
}

// Runs the chip to timeline cycle `upto`; queued writes take effect at the
// end of the tick they fall in, speaker changes at their own cycle.
static void run_ticks(uint32_t upto, uint32_t &wi, uint32_t &si, bool speaker_on) {
    while (ay.synthesised < upto) {
        uint32_t end = ay.synthesised + (AY_TICK - ay.tick_phase);
        uint32_t reach = end < upto ? end : upto;
        while (speaker_on && si < ay.speaker_count && ay.speaker_queue[si].stamp < reach) {
            uint32_t stamp = ay.speaker_queue[si].stamp;
            uint32_t late = stamp > ay.synthesised ? stamp - ay.synthesised : 0;
            speaker_edge(ay.speaker_queue[si++].level, ay.tick_phase + late);
        }
        if (end > upto) {
            ay.tick_phase += upto - ay.synthesised;
            ay.synthesised = upto;
            return;
        }
        while (wi < ay.write_count && ay.write_queue[wi].stamp < end) {
            ay_8912_dowrite(ay.write_queue[wi].reg, ay.write_queue[wi].value);
            wi++;
        }
        ay.synthesised = end;
        ay.tick_phase = 0;
        complete_tick();
    }
}

typedef float float4 __attribute__((vector_size(16)));

// The output at the frame `offset` ticks (0 to 1) after the newest tick's
// start, a constant latency behind it: the two nearest kernel rows, blended.
static float resample(const filter_tables &t, float offset) {
    float at = offset * FIR_PHASES;
    int p = static_cast<int>(at);
    if (p >= FIR_PHASES) p = FIR_PHASES - 1;
    float blend = at - static_cast<float>(p);
    const float *w = ay.ring + ((ay.ring_head - FIR_TAPS) & (TICK_RING - 1));
    const float *r0 = t.rows[p], *r1 = t.rows[p + 1];
    float4 a0 = {}, a1 = {};
    for (int i = 0; i < FIR_TAPS; i += 4) {
        float4 v, k0, k1;
        memcpy(&v, w + i, sizeof v);
        memcpy(&k0, r0 + i, sizeof k0);
        memcpy(&k1, r1 + i, sizeof k1);
        a0 += v * k0;
        a1 += v * k1;
    }
    float s0 = (a0[0] + a0[1]) + (a0[2] + a0[3]);
    float s1 = (a1[0] + a1[1]) + (a1[2] + a1[3]);
    return s0 + blend * (s1 - s0);
}

static void fill_exact(uint8_t *stream, int frames, uint32_t &wi, uint32_t &si, bool speaker_on) {
    const filter_tables &t = tables();
    for (int f = 0; f < frames; f++) {
        ay.frame_cycle = ay.next_frame_cycle;
        if (ay.frame_cycle > ay.synthesised) run_ticks(ay.frame_cycle, wi, si, speaker_on);
        float offset = (static_cast<float>(ay.tick_phase) +
                        static_cast<float>(ay.frame_remainder) / AY_FRAME_DIVISOR) /
                       AY_TICK;
        float in = resample(t, offset);
        float out = in - ay.dc_in + AY_DC_POLE * ay.dc_out;
        if (std::fabs(out) < 1e-3f) out = 0; // no denormals in a long silence
        ay.dc_in = in;
        ay.dc_out = out;
        long level = std::lrint(out);
        int16_t sample = static_cast<int16_t>(level > 32767    ? 32767
                                              : level < -32768 ? -32768
                                                               : level);
        memcpy(stream + 4 * f, &sample, 2);
        memcpy(stream + 4 * f + 2, &sample, 2);
        ay.next_frame_cycle += AY_CYCLES_PER_FRAME;
        ay.frame_remainder += AY_FRAME_REMAINDER;
        if (ay.frame_remainder >= AY_FRAME_DIVISOR) {
            ay.frame_remainder -= AY_FRAME_DIVISOR;
            ay.next_frame_cycle++;
        }
    }
}

// ---- public ----

int ay_8912_init() {
    memset(static_cast<void *>(&ay), 0, sizeof ay);
    for (int k = 0; k < 3; k++) {
        ay.tone_off[k] = 1;
        ay.noise_off[k] = 1;
    }
    ay.changed = 0x07;
    ay.envelope = eshape0;
    ay.noise_shift = 1;
    ay.sound_setting = settings.sound;
    ay.speaker_setting = settings.speaker;
    via_port_a = 0;
    via_port_b = 0;

    ay.audio.fill = ay_8912_callback;
    ay.audio.paused = 0;
    audio = &ay.audio;
    return 0;
}

int ay_8912_wire(const ay_8912_wiring &w) {
    wiring = w;
    return 0;
}

int ay_8912_settings(int sound, int speaker) {
    settings.sound = static_cast<uint32_t>(sound);
    settings.speaker = static_cast<uint32_t>(speaker);
    ay.sound_setting = settings.sound;
    ay.speaker_setting = settings.speaker;
    return 0;
}

int ay_8912_run(int cycles) {
    timeline() += static_cast<uint32_t>(cycles);
    return 0;
}

// Frames lie 22 cycles apart, or 10,000 in 441 in exact timing.
static uint32_t frame_ahead(uint32_t k) {
    if (!ay_exact) return ay.next_frame_cycle + AY_CYCLES_PER_FRAME * k;
    constexpr uint64_t step = AY_CYCLES_PER_FRAME * AY_FRAME_DIVISOR + AY_FRAME_REMAINDER;
    return ay.next_frame_cycle +
           static_cast<uint32_t>((ay.frame_remainder + step * k) / AY_FRAME_DIVISOR);
}

// How many frames the cycles counted so far have reached.
static uint64_t frames_due() {
    if (timeline() < ay.next_frame_cycle) return 0;
    uint64_t passed = timeline() - ay.next_frame_cycle;
    if (!ay_exact) return passed / AY_CYCLES_PER_FRAME + 1;
    constexpr uint64_t step = AY_CYCLES_PER_FRAME * AY_FRAME_DIVISOR + AY_FRAME_REMAINDER;
    return (AY_FRAME_DIVISOR * (passed + 1) - ay.frame_remainder - 1) / step + 1;
}

// The simplified output: the mix at each frame's cycle, no filter.
static void fill_simplified(uint8_t *stream, int frames, uint32_t &wi, uint32_t &si,
                            bool speaker_on) {
    for (int f = 0; f < frames; f++) {
        ay.frame_cycle = ay.next_frame_cycle;
        while (wi < ay.write_count && ay.write_queue[wi].stamp <= ay.frame_cycle) {
            ay_8912_dowrite(ay.write_queue[wi].reg, ay.write_queue[wi].value);
            wi++;
        }
        if (speaker_on && si < ay.speaker_count && ay.speaker_queue[si].stamp <= ay.frame_cycle) {
            while (si < ay.speaker_count && ay.speaker_queue[si].stamp <= ay.frame_cycle)
                si++;
            ay.speaker_sample = ay.speaker_queue[si - 1].level ? AY_SPEAKER_LEVEL : 0;
        }
        if (ay.frame_cycle > ay.synthesised) {
            synthesise(ay.frame_cycle - ay.synthesised);
            if (ay.changed) mix();
            ay.synthesised = ay.frame_cycle;
        }
        int16_t sample = static_cast<int16_t>(ay.speaker_sample + ay.mixed);
        memcpy(stream + 4 * f, &sample, 2);
        memcpy(stream + 4 * f + 2, &sample, 2);
        ay.next_frame_cycle += AY_CYCLES_PER_FRAME;
    }
}

// The changes stamped past the last frame move to the front of the queues,
// restamped from it: when the machine's clock drives the output, they belong
// to the next frames, and the exact filter hears where they fall.
static void carry_late(uint32_t wi, uint32_t si) {
    uint32_t base = ay.synthesised;
    uint32_t n = 0;
    for (; wi < ay.write_count; wi++, n++) {
        ay.write_queue[n] = ay.write_queue[wi];
        uint32_t &stamp = ay.write_queue[n].stamp;
        stamp = stamp > base ? stamp - base : 0;
    }
    ay.write_count = n;
    for (n = 0; si < ay.speaker_count; si++, n++) {
        ay.speaker_queue[n] = ay.speaker_queue[si];
        uint32_t &stamp = ay.speaker_queue[n].stamp;
        stamp = stamp > base ? stamp - base : 0;
    }
    ay.speaker_count = n;
}

static void fill(uint8_t *stream, int len, bool carry) {
    bool speaker_on = ay.sound_setting != 0;
    if (!speaker_on) ay.speaker_sample = 0;
    int frames = len > 0 ? len / 4 : 0;
    uint32_t wi = 0;
    uint32_t si = 0;
    if (ay_exact) {
        fill_exact(stream, frames, wi, si, speaker_on);
    } else {
        fill_simplified(stream, frames, wi, si, speaker_on);
    }
    carry = carry && !ay.dropped && !ay.speaker_dropped; // after an overflow: all now, in order
    if (carry) {
        carry_late(wi, speaker_on ? si : ay.speaker_count);
        wi = ay.write_count;
        si = ay.speaker_count;
    }
    // Whatever the emulation queued past this buffer's end still counts.
    if (!carry) drain_writes(wi);
    if (ay_exact && speaker_on) { // the filter hears these as edges now
        for (; si < ay.speaker_count; si++)
            speaker_edge(ay.speaker_queue[si].level, ay.tick_phase);
        if (ay.speaker_dropped)
            speaker_edge(static_cast<uint8_t>(ay.speaker_dropped - 1), ay.tick_phase);
    }
    if (speaker_on && si < ay.speaker_count) {
        ay.speaker_sample = ay.speaker_queue[ay.speaker_count - 1].level ? AY_SPEAKER_LEVEL : 0;
    }
    if (speaker_on && ay.speaker_dropped) {
        ay.speaker_sample = (ay.speaker_dropped - 1) ? AY_SPEAKER_LEVEL : 0;
    }
    ay.speaker_dropped = 0;
    ay.next_frame_cycle -= ay.synthesised;
    ay.rebase_value = ay.next_frame_cycle;
    ay.rebase_pending = 1;
    if (!carry) ay.speaker_count = 0;
    ay.synthesised = 0;
}

void ay_8912_callback(void *, uint8_t *stream, int len) {
    fill(stream, len, false);
}

int ay_8912_render(uint8_t *stream, int cap) {
    // The lazy rebase serves a device whose buffers are not tied to the
    // machine's cycles; here they are, so the base moves exactly.
    rebase_if_due();
    uint64_t due = frames_due();
    int frames = due < static_cast<uint64_t>(cap) ? static_cast<int>(due) : cap;
    if (frames <= 0) return 0;
    uint32_t last = frame_ahead(static_cast<uint32_t>(frames - 1));
    fill(stream, 4 * frames, ay_exact);
    timeline() -= last;
    ay.rebase_pending = 0;
    return frames;
}

int ay_8912_discard() {
    rebase_if_due();
    drain_writes(0);
    if (ay.sound_setting && ay.speaker_count)
        ay.speaker_sample = ay.speaker_queue[ay.speaker_count - 1].level ? AY_SPEAKER_LEVEL : 0;
    if (ay.sound_setting && ay.speaker_dropped)
        ay.speaker_sample = (ay.speaker_dropped - 1) ? AY_SPEAKER_LEVEL : 0;
    ay.speaker_count = ay.speaker_dropped = 0;
    // The timeline starts again here, one output frame ahead.
    ay.synthesised = 0;
    ay.next_frame_cycle = AY_CYCLES_PER_FRAME;
    timeline() = 0;
    return 0;
}

int ay_8912_exact(int on) {
    lock_audio();
    if (ay_exact != (on != 0)) {
        ay_exact = on != 0;
        derive_periods();
        for (int k = 0; k < 3; k++) {
            uint8_t r = ay.r[8 + k];
            ay.amplitude[k] =
                level_amplitude((r & 0x10) ? ay.envelope[ay.envelope_step] : (r & 0x0F));
        }
        ay.changed = 0x07;
        if (ay_exact) settle_filter();
    }
    unlock_audio();
    return 0;
}

void ay_8912_dowrite(uint8_t reg, uint8_t value) {
    log_info_if(tr_on(1, TR_AY), "%s| %.2X : %.2X", "ay_8912_dowrite", reg, value);
    switch (reg) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
    case 11:
    case 12:
        ay.r[reg] = value;
        derive_periods();
        break;
    case 7:
        ay.r[7] = value;
        for (int k = 0; k < 3; k++) {
            ay.tone_off[k] = (value >> k) & 1;
            ay.noise_off[k] = (value >> (k + 3)) & 1;
        }
        ay.changed = 0x07;
        break;
    case 8:
    case 9:
    case 10: {
        ay.r[reg] = value;
        int k = reg - 8;
        uint8_t level = (value & 0x10) ? ay.envelope[ay.envelope_step] : (value & 0x0F);
        ay.amplitude[k] = level_amplitude(level);
        ay.changed |= 1 << k;
        break;
    }
    case 13:
        // The real chip restarts on every write, 0xFF too; the simplified one
        // takes 0xFF as "leave the envelope running".
        if (value == 0xFF && !ay_exact) break;
        ay.r[13] = value;
        ay.envelope = eshapes[value & 0x0F];
        ay.envelope_step = 0;
        if (ay_exact) ay.envelope_counter = 0;
        set_envelope_amplitudes();
        break;
    default:
        break;
    }
}

uint8_t ay_8912_porta_r() {
    log_info_if(tr_on(1, TR_AY), "%s| %.2X", "ay_8912_porta_r", via_port_a);
    return via_port_a;
}

void ay_8912_porta_w(uint8_t byte) {
    via_port_a = byte;
    log_info_if(tr_on(1, TR_AY), "%s| %.2X", "ay_8912_porta_w", via_port_a);
}

// R14 drives the keyboard's columns while R7 bit 6 makes port A an output;
// as an input it drives nothing and the pulled-up columns sense no key.
uint8_t ay_8912_portb_r() {
    const uint8_t columns = ay.readback[7] & AY_PORT_OUT ? ay.r14 : 0xFF;
    uint8_t sense = wiring.sense ? wiring.sense(via_port_b & 7, columns) : 0;
    via_port_b = static_cast<uint8_t>(sense ? via_port_b | 0x08 : via_port_b & ~0x08);
    log_info_if(tr_on(1, TR_AY), "%s| %.2X", "ay_8912_portb_r", via_port_b);
    return via_port_b;
}

void ay_8912_portb_w(uint8_t byte) {
    if ((byte ^ via_port_b) & 0x80) {
        ay.speaker_level = byte >> 7;
        if (ay.sound_setting && ay.speaker_setting) {
            queue_speaker(static_cast<uint8_t>(ay.speaker_level));
            log_info_if(tr_on(1, TR_AY), "speaker=%d", ay.speaker_level);
        }
    }
    via_port_b = byte;
    log_info_if(tr_on(1, TR_AY), "%s| %.2X", "ay_8912_portb_w", via_port_b);
}

void ay_8912_set_bc1(uint8_t level) {
    ay.bus = static_cast<uint8_t>((ay.bus & 0x02) | (level ? 1 : 0));
}

void ay_8912_set_bdir(uint8_t level) {
    ay.bus = static_cast<uint8_t>((ay.bus & 0x01) | (level ? 2 : 0));
    switch (ay.bus) {
    case 3:
        ay.latched = via_port_a;
        break;
    case 2:
        write_register();
        break;
    case 1:
        via_port_a = ay.latched > 14 ? 0
                     : ay_exact      ? ay.readback[ay.latched] & readback_mask[ay.latched]
                                     : ay.readback[ay.latched];
        break;
    default:
        break;
    }
}

// ---- saved state ----

// One field list for both directions, so the two cannot drift apart. The
// envelope pointer, the queues and the audio record are handled apart.
template <class F> static void each_field(ay_state &a, uint8_t (&keys)[8], F &&field) {
    field(a.speaker_level), field(a.bus), field(a.latched), field(a.r), field(a.r14);
    field(a.readback), field(a.tone_period), field(a.noise_period), field(a.envelope_period);
    field(a.tone_off), field(a.noise_off), field(a.amplitude), field(a.changed);
    field(a.tone_counter), field(a.noise_counter), field(a.envelope_counter), field(a.tone_out);
    field(a.channel_out), field(a.envelope_step), field(a.mixed), field(a.speaker_sample);
    field(a.noise_out), field(a.noise_shift), field(a.frame_cycle), field(a.next_frame_cycle);
    field(a.synthesised), field(keys), field(a.cycle_counter), field(a.rebase_value);
    field(a.rebase_pending), field(a.dropped), field(a.dropped_value), field(a.speaker_dropped);
    field(a.write_count), field(a.speaker_count);
}

// Steps of a shape before its end code.
static uint32_t shape_steps(const uint8_t *shape) {
    uint32_t n = 0;
    while (!(shape[n] & 0x80))
        n++;
    return n;
}

void ay_8912_state_save(std::vector<uint8_t> &out) {
    lock_audio();
    uint8_t shape = 0; // also for a chip never set up
    for (uint8_t k = 0; k < 16; k++)
        if (eshapes[k] == ay.envelope) shape = k;
    uint8_t keys[8] = {};
    if (wiring.keys) memcpy(keys, wiring.keys, sizeof keys);
    ay.cycle_counter = timeline();
    each_field(ay, keys, [&](auto &f) { state_put(out, f); });
    state_put(out, shape);
    state_put(out, via_port_a);
    state_put(out, via_port_b);
    for (uint32_t i = 0; i < ay.write_count; i++) {
        state_put(out, ay.write_queue[i].stamp);
        state_put(out, ay.write_queue[i].reg);
        state_put(out, ay.write_queue[i].value);
    }
    for (uint32_t i = 0; i < ay.speaker_count; i++) {
        state_put(out, ay.speaker_queue[i].stamp);
        state_put(out, ay.speaker_queue[i].level);
    }
    state_put(out, ay.frame_remainder);
    // Format 3: exact timing's filter, the ticks under the kernel oldest first.
    state_put(out, ay.tick_phase);
    for (float v : ay.pending)
        state_put(out, std::bit_cast<uint32_t>(v));
    for (int i = 0; i < FIR_TAPS; i++)
        state_put(
            out, std::bit_cast<uint32_t>(ay.ring[(ay.ring_head - FIR_TAPS + i) & (TICK_RING - 1)]));
    state_put(out, std::bit_cast<uint32_t>(ay.dc_in));
    state_put(out, std::bit_cast<uint32_t>(ay.dc_out));
    unlock_audio();
}

// A filter value a saved state may hold: a sum of levels that fit 16 bits,
// with some overshoot; never a NaN, which would reach the output.
static bool plausible(float v) {
    return std::fabs(v) <= 131072.0f;
}

// Reads into `a` (the chip, or scratch when only checking); 1 refused, with
// `a` then partly written.
static int take_state(state_reader &in, ay_state &a, uint8_t (&keys)[8], uint8_t *port_a,
                      uint8_t *port_b) {
    uint8_t shape = 0;
    each_field(a, keys, [&](auto &f) { in.get(f); });
    in.get(shape);
    in.get(*port_a);
    in.get(*port_b);
    if (in.bad || a.write_count > AY_WRITE_QUEUE || a.speaker_count > AY_SPEAKER_QUEUE)
        return in.finish("ay");
    for (uint32_t i = 0; i < a.write_count; i++) {
        write_entry &e = a.write_queue[i];
        in.get(e.stamp);
        in.get(e.reg);
        in.get(e.value);
        if (e.reg > 13) return state_refuse("ay: queued write to register %d", e.reg);
    }
    for (uint32_t i = 0; i < a.speaker_count; i++) {
        in.get(a.speaker_queue[i].stamp);
        in.get(a.speaker_queue[i].level);
    }
    a.frame_remainder = 0; // format version 1 ran whole cycles only
    if (state_format() >= 2) in.get(a.frame_remainder);
    bool filter_ok = true;
    if (state_format() >= 3) {
        auto get_float = [&](float &v) {
            uint32_t bits = 0;
            in.get(bits);
            v = std::bit_cast<float>(bits);
            filter_ok = filter_ok && plausible(v);
        };
        in.get(a.tick_phase);
        for (float &v : a.pending)
            get_float(v);
        for (int i = 0; i < FIR_TAPS; i++) {
            get_float(a.ring[i]);
            a.ring[i + TICK_RING] = a.ring[i];
        }
        get_float(a.dc_in);
        get_float(a.dc_out);
        a.ring_head = FIR_TAPS;
    }
    if (in.finish("ay")) return 1;
    if (shape > 15 || a.envelope_step >= shape_steps(eshapes[shape]))
        return state_refuse("ay: envelope shape %d step %u out of range", shape, a.envelope_step);
    bool flags_ok = true;
    for (int k = 0; k < 3; k++)
        flags_ok = flags_ok && (a.tone_off[k] | a.noise_off[k] | a.tone_out[k]) <= 1;
    if (!flags_ok || a.bus > 3 || a.speaker_level > 1 || a.noise_out > 1 || a.noise_shift >> 17 ||
        a.dropped >> 14 || a.speaker_dropped > 2 || a.rebase_pending > 1 ||
        a.frame_remainder >= AY_FRAME_DIVISOR || a.tick_phase >= AY_TICK)
        return state_refuse("ay: a counter or flag value out of range");
    if (!filter_ok) return state_refuse("ay: an output filter value out of range");
    a.envelope = eshapes[shape];
    return 0;
}

int ay_8912_state_load(const uint8_t *data, size_t size, int apply) {
    static ay_state scratch; // the chip's size: kept off the stack
    uint8_t port_a = 0, port_b = 0, keys[8] = {};
    state_reader check{data, size};
    if (take_state(check, scratch, keys, &port_a, &port_b)) return 1;
    if (!apply) return 0;
    state_reader in{data, size};
    lock_audio();
    take_state(in, ay, keys, &port_a, &port_b);
    timeline() = ay.cycle_counter;
    if (state_format() < 3) { // older files: the filter starts from the level as it is
        ay.tick_phase = 0;
        settle_filter();
    }
    unlock_audio();
    via_port_a = port_a;
    via_port_b = port_b;
    if (wiring.keys) memcpy(wiring.keys, keys, sizeof keys);
    return 0;
}
