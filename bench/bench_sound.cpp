// Cost of the sound path: the VIA's per-cycle clock (which also clocks the
// sound chip's timeline) and the audio callback that synthesises the output.
#include <time.h>

#include <cstdio>
#include <vector>

#include "ay_8912.h"
#include "board.h"
#include "sys_cfg.h"
#include "sys_core.h"
#include "via_6522.h"

static void wr(uint8_t reg, uint8_t v) {
    via_6522_write(VIA_BASE + reg, v);
}

// A sound-chip register write as the system program makes it: the number,
// then the value on port A, each strobed through PCR (BC1 on CA2, BDIR on CB2).
static void ay_write(uint8_t reg, uint8_t value) {
    wr(VIA_DDRA, 0xFF);
    wr(VIA_IORA, reg);
    wr(VIA_PCR, 0xFF);
    wr(VIA_PCR, 0xDD);
    wr(VIA_IORA, value);
    wr(VIA_PCR, 0xFD);
    wr(VIA_PCR, 0xDD);
}

namespace {

// Thread CPU time: other processes sharing the machine do not count.
struct cpu_clock {
    using time_point = double;
    static double now() {
        timespec ts;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
    }
};
using clock_type = cpu_clock;

double seconds_since(double t0) {
    return clock_type::now() - t0;
}

// Both timers running, timer 1 free-running on PB7 (the speaker), so every
// branch of the per-cycle path is taken now and then.
double via_ns_per_cycle() {
    board_init_io();
    wr(VIA_DDRB, 0xFF);
    wr(VIA_ACR, 0xC0);
    wr(VIA_T1C_L, 0xFF);
    wr(VIA_T1C_H, 0x03);
    wr(VIA_T2C_L, 0xFF);
    wr(VIA_T2C_H, 0xFF);
    const long cycles = 200'000'000;
    auto t0 = clock_type::now();
    for (long i = 0; i < cycles; i++)
        via_6522_run(1);
    return seconds_since(t0) * 1e9 / static_cast<double>(cycles);
}

// One second of audio with all three tones, noise and a running envelope,
// fed like the running machine: a batch of register writes and speaker
// changes before every buffer.
double callback_ms_per_audio_second(int exact) {
    board_init_io();
    sys_exact_timing(exact);
    ay_write(0, 0x55);
    ay_write(2, 0x34);
    ay_write(4, 0x12);
    ay_write(6, 0x0F);
    ay_write(7, 0x30); // three tones, noise on A, B and C
    ay_write(8, 0x10);
    ay_write(9, 12);
    ay_write(10, 0x10);
    ay_write(11, 0x20);
    ay_write(13, 0x0E);
    audio->fill(nullptr, std::vector<uint8_t>(4096).data(), 4096);
    std::vector<uint8_t> buf(4 * 1024);
    const int buffers = 44100 / 1024 * 10; // ten seconds
    double busy = 0;
    for (int b = 0; b < buffers; b++) {
        for (int w = 0; w < 40; w++) {
            ay_write(static_cast<uint8_t>(w % 6), static_cast<uint8_t>(b + w));
            wr(VIA_IORB, static_cast<uint8_t>((w & 1) << 7));
            via_6522_run(500);
        }
        auto t0 = clock_type::now();
        audio->fill(nullptr, buf.data(), static_cast<int>(buf.size()));
        busy += seconds_since(t0);
    }
    double audio_seconds = buffers * 1024.0 / 44100.0;
    return busy * 1000.0 / audio_seconds;
}

} // namespace

int main() {
    sys_cfg_defaults();
    sys_apply_config();
    double via_ns = via_ns_per_cycle();
    std::printf("via_6522_run(1) incl. ay_8912_run(1): %.2f ns per emulated cycle (target < 3)\n",
                via_ns);
    for (int exact : {0, 1}) {
        double cb_ms = callback_ms_per_audio_second(exact);
        std::printf("ay_8912_callback%s: %.2f ms of one core per second of audio, %.2f%% (target "
                    "< 2%%)\n",
                    exact ? " (exact timing)" : "", cb_ms, cb_ms / 10.0);
    }
    return 0;
}
