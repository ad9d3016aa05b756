// Emulated speed on the functional conformance program, run to its success
// trap: the processor alone; the whole emulation step (processor, VIA, disk
// controller, event queue); and the whole machine, the step in frames of scan
// lines as the timer thread runs it, each line drawn and copied to a window
// surface (SDL's dummy driver), each frame's sound synthesised.
//   kestrel_bench_cpu [cpu|step|machine|all] [rounds, default 11] [exact]
//
// What made the figures wander, and what holds them still:
// - The step was a template argument, so link-time optimisation inlined it
//   into this file's loop and timed a copy the program never runs (61 host
//   instructions an emulated instruction against the real function's 73). The
//   step and the machine now call it through a pointer the optimiser cannot
//   see through, as the frame does; the processor alone is called directly,
//   as the step calls it.
// - Best of three short passes, the processor alone always first: one lucky
//   pass set the figure, and whatever drifted over the run (the host's clock,
//   other work on it) fell on one part more than another. Parts now run in
//   rounds, the order turned each round after an untimed one, and the median
//   is reported with the spread.
// - Where the processor's code lands did not matter here (shifts of 64 to
//   3008 bytes stayed within the spread), nor did the loop's exit test.
// - Cycles came from the step's own count, which in the simplified timing
//   leaves out page crossings. They are now counted as the hardware does,
//   from the instructions, and checked against the processor's counter in
//   the exact timing.
#include <SDL/SDL.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ay_8912.h"
#include "board.h"
#include "cpu_6502.h"
#include "mem.h"
#include "ram.h"
#include "sys_cfg.h"
#include "sys_core.h"
#include "sys_sdl_video.h"
#include "vdc.h"

namespace {

constexpr uint16_t START = 0x0400;
constexpr uint16_t SUCCESS = 0x3469;

// clang-format off
// NMOS cycles per opcode before page crossings and branches.
constexpr uint8_t base_cycles[] = {
//  x0 x1 x2 x3 x4 x5 x6 x7 x8 x9 xA xB xC xD xE xF
     7, 6, 2, 8, 3, 3, 5, 5, 3, 2, 2, 2, 4, 4, 6, 6, // 0x
     2, 5, 2, 8, 4, 4, 6, 6, 2, 4, 2, 7, 4, 4, 7, 7, // 1x
     6, 6, 2, 8, 3, 3, 5, 5, 4, 2, 2, 2, 4, 4, 6, 6, // 2x
     2, 5, 2, 8, 4, 4, 6, 6, 2, 4, 2, 7, 4, 4, 7, 7, // 3x
     6, 6, 2, 8, 3, 3, 5, 5, 3, 2, 2, 2, 3, 4, 6, 6, // 4x
     2, 5, 2, 8, 4, 4, 6, 6, 2, 4, 2, 7, 4, 4, 7, 7, // 5x
     6, 6, 2, 8, 3, 3, 5, 5, 4, 2, 2, 2, 5, 4, 6, 6, // 6x
     2, 5, 2, 8, 4, 4, 6, 6, 2, 4, 2, 7, 4, 4, 7, 7, // 7x
     2, 6, 2, 6, 3, 3, 3, 3, 2, 2, 2, 2, 4, 4, 4, 4, // 8x
     2, 6, 2, 6, 4, 4, 4, 4, 2, 5, 2, 5, 5, 5, 5, 5, // 9x
     2, 6, 2, 6, 3, 3, 3, 3, 2, 2, 2, 2, 4, 4, 4, 4, // Ax
     2, 5, 2, 5, 4, 4, 4, 4, 2, 4, 2, 4, 4, 4, 4, 4, // Bx
     2, 6, 2, 8, 3, 3, 5, 5, 2, 2, 2, 2, 4, 4, 6, 6, // Cx
     2, 5, 2, 8, 4, 4, 6, 6, 2, 4, 2, 7, 4, 4, 7, 7, // Dx
     2, 6, 2, 8, 3, 3, 5, 5, 2, 2, 2, 2, 4, 4, 6, 6, // Ex
     2, 5, 2, 8, 4, 4, 6, 6, 2, 4, 2, 7, 4, 4, 7, 7, // Fx
};
static_assert(std::size(base_cycles) == 256);

// Reads that pay a cycle when indexing carries into the next page: by their
// mode, 'x' absolute,X, 'y' absolute,Y, 'i' (zero page),Y; '.' none.
constexpr char crossing_modes[] =
//   0123456789ABCDEF
    "................"  // 0x
    ".i.......y..xx.."  // 1x
    "................"  // 2x
    ".i.......y..xx.."  // 3x
    "................"  // 4x
    ".i.......y..xx.."  // 5x
    "................"  // 6x
    ".i.......y..xx.."  // 7x
    "................"  // 8x
    "................"  // 9x
    "................"  // Ax
    ".i.i.....y.yxxyy"  // Bx
    "................"  // Cx
    ".i.......y..xx.."  // Dx
    "................"  // Ex
    ".i.......y..xx.."; // Fx
static_assert(std::size(crossing_modes) == 257);
// clang-format on

struct program {
    uint64_t instructions; // to the trap, its first jump included
    uint64_t cycles;       // as the hardware counts them
    uint64_t simplified;   // as the simplified timing counts them
};

std::vector<uint8_t> image;
program prog;

bool load_image() {
    const char *path = KESTREL_TEST_DATA "/6502-functional/6502_functional_test.bin";
    FILE *f = fopen(path, "rb");
    if (!f) {
        fprintf(stderr, "cannot open %s\n", path);
        return false;
    }
    image.resize(0x10000);
    size_t got = fread(image.data(), 1, image.size(), f);
    fclose(f);
    return got == image.size();
}

void prepare() {
    board_init();
    hiram = 1;
    memcpy(ram_getptr(), image.data(), image.size());
    cpu_6502_init();
    cpu_6502.pcreg = START;
    sys_queue_reset();
}

// The cycles the hardware takes for the instruction at the program counter,
// from the registers and memory before it runs.
int hardware_cycles(const uint8_t *m) {
    const cpu_6502_registers &r = cpu_6502;
    const unsigned pc = r.pcreg, op = m[pc];
    int cycles = base_cycles[op];
    unsigned base = 0, index = 0;
    switch (crossing_modes[op]) {
    case 'x':
        base = m[(pc + 1) & 0xFFFF] | m[(pc + 2) & 0xFFFF] << 8, index = r.xreg;
        break;
    case 'y':
        base = m[(pc + 1) & 0xFFFF] | m[(pc + 2) & 0xFFFF] << 8, index = r.yreg;
        break;
    case 'i': {
        const unsigned p = m[(pc + 1) & 0xFFFF];
        base = m[p] | m[(p + 1) & 0xFF] << 8, index = r.yreg;
        break;
    }
    }
    if ((base & 0xFF) + index > 0xFF) cycles++;
    if ((op & 0x1F) == 0x10) { // branch: flag N, V, C or Z by bits 7-6, wanted value by bit 5
        constexpr uint8_t flag[] = {0x80, 0x40, 0x01, 0x02};
        if (((r.flags & flag[op >> 6]) != 0) == ((op & 0x20) != 0)) {
            const unsigned next = (pc + 2) & 0xFFFF;
            const unsigned target = (next + static_cast<int8_t>(m[(pc + 1) & 0xFFFF])) & 0xFFFF;
            cycles += 1 + ((target ^ next) > 0xFF);
        }
    }
    return cycles;
}

// Runs the program to its trap once in each timing, instruction by
// instruction, counting the hardware's cycles alongside. 0 when the counts
// agree: the same instructions in both timings, and in the exact timing the
// processor's counter, the steps' sum and ours equal.
int measure_program() {
    uint64_t steps[2] = {}, counters[2] = {}, sums[2] = {}, ours = 0;
    for (int exact = 0; exact <= 1; exact++) {
        sys_exact_timing(exact);
        prepare();
        int (*run)() = exact ? cpu_6502_run_exact : cpu_6502_run;
        const uint8_t *m = ram_getptr();
        uint16_t previous;
        do {
            previous = cpu_6502.pcreg;
            if (exact) ours += static_cast<uint64_t>(hardware_cycles(m));
            sums[exact] += static_cast<uint64_t>(run());
            steps[exact]++;
        } while (cpu_6502.pcreg != previous);
        counters[exact] = cpu_6502_cycles() - 7;
        if (cpu_6502.pcreg != SUCCESS) {
            printf("stopped at %04X, not at the success trap\n", cpu_6502.pcreg);
            return 1;
        }
    }
    printf("program: %llu instructions, %llu cycles as the hardware counts them\n",
           static_cast<unsigned long long>(steps[1]), static_cast<unsigned long long>(ours));
    printf("  (page crossings and taken branches included); the simplified timing counts "
           "%llu, %.2f%% fewer\n",
           static_cast<unsigned long long>(counters[0]), 100.0 * (ours - counters[0]) / ours);
    if (steps[0] != steps[1] || counters[1] != ours || sums[1] != ours || sums[0] != counters[0]) {
        printf("counts disagree: instructions %llu simplified, %llu exact; exact counter %llu, "
               "its steps' sum %llu\n",
               static_cast<unsigned long long>(steps[0]), static_cast<unsigned long long>(steps[1]),
               static_cast<unsigned long long>(counters[1]),
               static_cast<unsigned long long>(sums[1]));
        return 1;
    }
    prog = {steps[1], ours, counters[0]};
    return 0;
}

// Time spent by this thread only: other work on the host and SDL's own
// threads do not count.
double cpu_seconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// A direct call, as the step makes it. The same loop calling through a
// pointer ran 13% slower here, the call's cost alone.
template <int (*RUN)()> [[gnu::noinline]] double time_processor() {
    const uint64_t n = prog.instructions;
    const double t0 = cpu_seconds();
    for (uint64_t i = 0; i < n; i++)
        RUN();
    return cpu_seconds() - t0;
}

// The frame calls the step through a pointer, and so do we; the optimiser
// must not see which function it holds, or it inlines the step into our loop
// and times a copy the program never runs.
template <typename F> F opaque(F f) {
    asm("" : "+r"(f));
    return f;
}

[[gnu::noinline]] double time_step(sys_step_fn step) {
    step = opaque(step);
    const uint64_t n = prog.instructions;
    const double t0 = cpu_seconds();
    for (uint64_t i = 0; i < n; i++) {
        int cycles = 0;
        step(&cycles);
    }
    return cpu_seconds() - t0;
}

// The timer thread's frame at the configured speed and period: each scan
// line's budget of cycles, then the line drawn and copied, the frame shown
// after the last; then the frame's sound, as the audio device would take it.
// Stops at the end of the line that reached the trap.
[[gnu::noinline]] double time_machine(sys_step_fn step) {
    static uint8_t sound[4 * 8192];
    step = opaque(step);
    int32_t (*update)() = opaque(video->update ? video->update : video->render);
    const int32_t budget = speed * 1000 * refresh / VDC_HEIGHT;
    const uint64_t most = prog.cycles + static_cast<uint64_t>(budget); // a missed trap
    uint64_t cycles = 0;
    const double t0 = cpu_seconds();
    while (cpu_6502.pcreg != SUCCESS && cycles < most) {
        for (int32_t line = 1; line && cpu_6502.pcreg != SUCCESS;) {
            for (int32_t left = budget; left > 0;) {
                int n = 0;
                step(&n);
                if (n <= 0) break;
                left -= n;
                cycles += static_cast<uint64_t>(n);
            }
            line = update();
        }
        ay_8912_render(sound, static_cast<int>(std::size(sound) / 4));
    }
    return cpu_seconds() - t0;
}

enum part { PROCESSOR, STEP, MACHINE, PARTS };
constexpr const char *part_names[PARTS] = {"processor alone", "whole emulation step",
                                           "whole machine"};

double time_part(part p, bool exact) {
    prepare();
    if (p == MACHINE) { // the window stays open across the machine's resets
        video->zoom = zoom;
        video->update = video_sdl_update;
    }
    double seconds;
    if (p == PROCESSOR)
        seconds = exact ? time_processor<cpu_6502_run_exact>() : time_processor<cpu_6502_run>();
    else if (p == STEP)
        seconds = time_step(sys_timed_step(sys_systemloop));
    else
        seconds = time_machine(sys_timed_step(sys_systemloop));
    if (cpu_6502.pcreg != SUCCESS) {
        printf("%s: stopped at %04X, not at the success trap\n", part_names[p], cpu_6502.pcreg);
        exit(1);
    }
    return seconds;
}

double quantile(const std::vector<double> &sorted, double q) {
    const double at = q * static_cast<double>(sorted.size() - 1);
    const size_t lo = static_cast<size_t>(at);
    const size_t hi = std::min(lo + 1, sorted.size() - 1);
    return sorted[lo] + (sorted[hi] - sorted[lo]) * (at - static_cast<double>(lo));
}

} // namespace

int main(int argc, char **argv) {
    const char *which = argc > 1 ? argv[1] : "all";
    const int rounds = std::max(1, argc > 2 ? atoi(argv[2]) : 11);
    const bool exact = argc > 3 && strcmp(argv[3], "exact") == 0;
    bool wanted[PARTS] = {};
    wanted[PROCESSOR] = strcmp(which, "all") == 0 || strcmp(which, "cpu") == 0;
    wanted[STEP] = strcmp(which, "all") == 0 || strcmp(which, "step") == 0;
    wanted[MACHINE] = strcmp(which, "all") == 0 || strcmp(which, "machine") == 0;
    if (!load_image()) return 1;
    sys_cfg_defaults();
    sys_apply_config();
    if (measure_program()) return 1;
    sys_exact_timing(exact);
    if (wanted[MACHINE]) {
        setenv("SDL_VIDEODRIVER", "dummy", 0);
        prepare();
        video->zoom = zoom;
        if (video_sdl_init()) {
            printf("no window surface: %s\n", SDL_GetError());
            return 1;
        }
    }
    std::vector<double> seconds[PARTS];
    // Round 0 only warms the caches and the host's clock; each round starts
    // with the next part, so no part always runs first or after another.
    for (int round = 0; round <= rounds; round++)
        for (int k = 0; k < PARTS; k++) {
            const part p = static_cast<part>((round + k) % PARTS);
            if (!wanted[p]) continue;
            const double s = time_part(p, exact);
            if (round > 0) seconds[p].push_back(s);
        }
    printf("%s timing, speed %d, refresh %d ms, zoom %d; median of %d interleaved rounds "
           "(min-max, quartiles):\n",
           exact ? "exact" : "simplified", speed.load(), refresh, zoom.load(), rounds);
    for (int p = 0; p < PARTS; p++) {
        if (!wanted[p]) continue;
        std::vector<double> mhz;
        for (double s : seconds[p])
            mhz.push_back(static_cast<double>(prog.cycles) / s / 1e6);
        std::sort(mhz.begin(), mhz.end());
        const double median = quantile(mhz, 0.5);
        printf("  %-21s %7.1f emulated MHz (%.1f-%.1f; %.1f-%.1f)  %6.1f M instructions/s\n",
               part_names[p], median, mhz.front(), mhz.back(), quantile(mhz, 0.25),
               quantile(mhz, 0.75),
               median * 1e6 / static_cast<double>(prog.cycles) *
                   static_cast<double>(prog.instructions) / 1e6);
    }
    if (wanted[MACHINE]) video_sdl_finish();
    return 0;
}
