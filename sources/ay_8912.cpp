#include "ay_8912.h"

#include <cstring>
#include <iterator>

#include "log.h"
#include "state.h"

// Output level of a 4-bit amplitude.
constexpr uint32_t voltab[16] = {
    0, 128, 207, 309, 480, 809, 1231, 2277, 2586, 4469, 6170, 7610, 9711, 11817, 14100, 16383,
};
static_assert(std::size(voltab) == 16);

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
    speaker_entry speaker_queue[AY_SPEAKER_QUEUE];
    write_entry write_queue[AY_WRITE_QUEUE];
} ay;

audio_record *audio = &ay.audio;

// These outlive a reset, as settings do.
static int ay_exact;
static ay_8912_wiring wiring;
static struct {
    uint32_t sound;
    uint32_t speaker;
} settings;

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
        ay.cycle_counter = ay.rebase_value;
        ay.rebase_pending = 0;
    }
}

static void queue_write(uint8_t reg, uint8_t value) {
    lock_audio();
    rebase_if_due();
    if (ay.write_count < AY_WRITE_QUEUE) {
        ay.write_queue[ay.write_count++] = {ay.cycle_counter, reg, value};
    } else if (!(reg == 13 && value == 0xFF)) { // 0xFF must not hide a real shape write
        ay.dropped |= static_cast<uint16_t>(1 << reg);
        ay.dropped_value[reg] = value;
    }
    unlock_audio();
}

static void queue_speaker(uint8_t level) {
    lock_audio();
    rebase_if_due();
    if (ay.speaker_count < AY_SPEAKER_QUEUE) {
        ay.speaker_queue[ay.speaker_count++] = {ay.cycle_counter, level};
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
    if (!(a == 13 && v == 0xFF)) ay.readback[a] = v;
    if (ay.audio.paused || (wiring.speed && *wiring.speed > 1)) {
        apply_now(a, v);
    } else {
        queue_write(a, v);
    }
}

// ---- synthesis (audio thread, under the audio lock) ----

static void set_envelope_amplitudes() {
    uint32_t level = voltab[ay.envelope[ay.envelope_step]];
    for (int k = 0; k < 3; k++) {
        if (ay.r[8 + k] & 0x10) {
            ay.amplitude[k] = static_cast<uint16_t>(level);
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
    ay.cycle_counter += static_cast<uint32_t>(cycles);
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
    if (ay.cycle_counter < ay.next_frame_cycle) return 0;
    uint64_t passed = ay.cycle_counter - ay.next_frame_cycle;
    if (!ay_exact) return passed / AY_CYCLES_PER_FRAME + 1;
    constexpr uint64_t step = AY_CYCLES_PER_FRAME * AY_FRAME_DIVISOR + AY_FRAME_REMAINDER;
    return (AY_FRAME_DIVISOR * (passed + 1) - ay.frame_remainder - 1) / step + 1;
}

void ay_8912_callback(void *, uint8_t *stream, int len) {
    bool speaker_on = ay.sound_setting != 0;
    if (!speaker_on) ay.speaker_sample = 0;
    int frames = len > 0 ? len / 4 : 0;
    uint32_t wi = 0;
    uint32_t si = 0;
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
        if (ay_exact) {
            ay.frame_remainder += AY_FRAME_REMAINDER;
            if (ay.frame_remainder >= AY_FRAME_DIVISOR) {
                ay.frame_remainder -= AY_FRAME_DIVISOR;
                ay.next_frame_cycle++;
            }
        }
    }
    // Whatever the emulation queued past this buffer's end still counts.
    drain_writes(wi);
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
    ay.speaker_count = 0;
    ay.synthesised = 0;
}

int ay_8912_render(uint8_t *stream, int cap) {
    // The lazy rebase serves a device whose buffers are not tied to the
    // machine's cycles; here they are, so the base moves exactly.
    rebase_if_due();
    uint64_t due = frames_due();
    int frames = due < static_cast<uint64_t>(cap) ? static_cast<int>(due) : cap;
    if (frames <= 0) return 0;
    uint32_t last = frame_ahead(static_cast<uint32_t>(frames - 1));
    ay_8912_callback(nullptr, stream, 4 * frames);
    ay.cycle_counter -= last;
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
    ay.cycle_counter = 0;
    return 0;
}

int ay_8912_exact(int on) {
    lock_audio();
    ay_exact = on != 0;
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
    case 5: {
        ay.r[reg] = value;
        int k = reg >> 1;
        ay.tone_period[k] = ((((ay.r[2 * k + 1] << 8) & 0xF00) | ay.r[2 * k]) * 8u);
        break;
    }
    case 6:
        ay.r[6] = value;
        ay.noise_period = (value & 0x1Fu) * 8;
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
        ay.amplitude[k] = static_cast<uint16_t>(voltab[level]);
        ay.changed |= 1 << k;
        break;
    }
    case 11:
    case 12:
        ay.r[reg] = value;
        ay.envelope_period = ((ay.r[12] << 8) | ay.r[11]) * 16u;
        break;
    case 13:
        if (value == 0xFF) break; // 0xFF leaves the running envelope as it is
        ay.r[13] = value;
        ay.envelope = eshapes[value & 0x0F];
        ay.envelope_step = 0;
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

// R14 drives the keyboard's columns. R7's port direction is not looked at:
// programs that clear bit 6 with their tone and noise bits keep their
// keyboard here, as they always have.
uint8_t ay_8912_portb_r() {
    uint8_t sense = wiring.sense ? wiring.sense(via_port_b & 7, ay.r14) : 0;
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
        via_port_a = ay.latched <= 14 ? ay.readback[ay.latched] : 0;
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
    unlock_audio();
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
    if (in.finish("ay")) return 1;
    if (shape > 15 || a.envelope_step >= shape_steps(eshapes[shape]))
        return state_refuse("ay: envelope shape %d step %u out of range", shape, a.envelope_step);
    bool flags_ok = true;
    for (int k = 0; k < 3; k++)
        flags_ok = flags_ok && (a.tone_off[k] | a.noise_off[k] | a.tone_out[k]) <= 1;
    if (!flags_ok || a.bus > 3 || a.speaker_level > 1 || a.noise_out > 1 || a.noise_shift >> 17 ||
        a.dropped >> 14 || a.speaker_dropped > 2 || a.rebase_pending > 1 ||
        a.frame_remainder >= AY_FRAME_DIVISOR)
        return state_refuse("ay: a counter or flag value out of range");
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
    unlock_audio();
    via_port_a = port_a;
    via_port_b = port_b;
    if (wiring.keys) memcpy(wiring.keys, keys, sizeof keys);
    return 0;
}
