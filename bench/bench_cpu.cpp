// Emulated speed of the processor, alone and inside the whole emulation step,
// running the functional conformance program to its success trap.
//   kestrel_bench_cpu [cpu|step|both] [passes] [exact]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "board.h"
#include "cpu_6502.h"
#include "mem.h"
#include "ram.h"
#include "sys_core.h"
#include "via_6522.h"

namespace {

constexpr uint16_t START = 0x0400;
constexpr uint16_t SUCCESS = 0x3469;

std::vector<uint8_t> image;

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

// Processor time of this process: other work on the host does not count.
double cpu_seconds() {
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct result {
    double seconds;
    uint64_t cycles;
    uint64_t instructions;
    bool passed;
};

// The trap is a jump to itself: the program counter stops changing. Each
// timing's step is called as the host calls it, its choice made beforehand.
template <int (*RUN)()> result run_cpu() {
    prepare();
    uint64_t instructions = 0;
    uint16_t previous;
    double t0 = cpu_seconds();
    do {
        previous = cpu_6502.pcreg;
        RUN();
        instructions++;
    } while (cpu_6502.pcreg != previous);
    double t1 = cpu_seconds();
    return {t1 - t0, cpu_6502_cycles() - 7, instructions, cpu_6502.pcreg == SUCCESS};
}

template <int (*STEP)(int *)> result run_step() {
    prepare();
    uint64_t instructions = 0;
    uint64_t cycles = 0;
    uint16_t previous;
    double t0 = cpu_seconds();
    do {
        previous = cpu_6502.pcreg;
        int n = 0;
        STEP(&n);
        cycles += static_cast<uint64_t>(n);
        instructions++;
    } while (cpu_6502.pcreg != previous);
    double t1 = cpu_seconds();
    return {t1 - t0, cycles, instructions, cpu_6502.pcreg == SUCCESS};
}

int report(const char *what, result (*run)(), int passes) {
    result best{};
    for (int i = 0; i < passes; i++) {
        result r = run();
        if (!r.passed) {
            printf("%s: stopped at %04X, not at the success trap\n", what, cpu_6502.pcreg);
            return 1;
        }
        if (i == 0 || r.seconds < best.seconds) best = r;
    }
    printf("%-22s %8.1f emulated MHz  %7.1f M instructions/s  (%llu cycles, %llu "
           "instructions, best of %d: %.3f s of processor time)\n",
           what, best.cycles / best.seconds / 1e6, best.instructions / best.seconds / 1e6,
           static_cast<unsigned long long>(best.cycles),
           static_cast<unsigned long long>(best.instructions), passes, best.seconds);
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    const char *mode = argc > 1 ? argv[1] : "both";
    int passes = argc > 2 ? atoi(argv[2]) : 3;
    if (passes < 1) passes = 1;
    const bool exact = argc > 3 && strcmp(argv[3], "exact") == 0;
    sys_exact_timing(exact);
    if (!load_image()) return 1;
    int failed = 0;
    if (strcmp(mode, "step") != 0)
        failed |=
            report("processor alone:", exact ? run_cpu<cpu_6502_run_exact> : run_cpu<cpu_6502_run>,
                   passes);
    if (strcmp(mode, "cpu") != 0)
        failed |= report(
            "whole emulation step:",
            exact ? run_step<sys_systemloop_exact> : run_step<sys_systemloop_simplified>, passes);
    return failed;
}
