// Saved state figures: size, save (to memory, and to a file with the drives'
// write-back and the sync) and restore, for the machine that booted the
// demo disk, then again with random RAM and a second drive (a worst case).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ay_8912.h"
#include "cpu_6502.h"
#include "fdc.h"
#include "mem.h"
#include "ram.h"
#include "sys_cfg.h"
#include "sys_core.h"
#include "sys_state.h"
#include "vdc.h"
#include "via_6522.h"

using bench_clock = std::chrono::steady_clock;

static double ms_since(bench_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(bench_clock::now() - start).count();
}

static void frames(int n) {
    for (int f = 0; f < n; f++) {
        for (int line = 0; line < 224; line++) {
            for (int used = 0, c = 0; used < 89; used += c)
                sys_systemloop(&c);
            video->render();
        }
        uint8_t samples[909 * 4];
        ay_8912_callback(nullptr, samples, sizeof samples);
    }
}

static int measure(const char *what) {
    constexpr int RUNS = 40;
    std::vector<uint8_t> file;
    auto start = bench_clock::now();
    for (int n = 0; n < RUNS; n++)
        if (sys_state_write(file) != 0) return 1;
    double to_memory = ms_since(start) / RUNS;
    start = bench_clock::now();
    for (int n = 0; n < RUNS; n++)
        if (sys_state_save("bench.state") != 0) return 1;
    double to_file = ms_since(start) / RUNS;
    start = bench_clock::now();
    for (int n = 0; n < RUNS; n++)
        if (sys_state_load("bench.state") != 0) return 1;
    double restore = ms_since(start) / RUNS;
    printf("%-28s %7.1f KiB  save %6.2f ms (file %6.2f ms)  restore %6.2f ms\n", what,
           file.size() / 1024.0, to_memory, to_file, restore);
    return 0;
}

int main() {
    char dir[] = "/tmp/kestrel_bench_XXXXXX";
    if (!mkdtemp(dir)) return 1;
    for (const char *name : {"z5.rom", "z5dos.rom", "demo.dsk"})
        std::filesystem::copy_file(std::string(KESTREL_RUN_DIR) + "/" + name,
                                   std::string(dir) + "/" + name);
    if (chdir(dir) != 0) return 1;
    sys_cfg_defaults();
    sys_apply_config();
    mem_init();
    vdc_init();
    via_6522_init();
    cpu_6502_init();
    if (fdc_mount("demo.dsk", 0, 0) != 0) return 1;
    frames(40);
    for (char c : std::string("boot\r")) {
        push_event({EV_KEY_DOWN, static_cast<uint64_t>(c)});
        frames(3);
        push_event({EV_KEY_UP, static_cast<uint64_t>(c)});
        frames(3);
    }
    frames(100);
    if (measure("demo disk booted") != 0) return 1;
    std::filesystem::copy_file("demo.dsk", "second.dsk");
    if (fdc_mount("second.dsk", 1, 0) != 0) return 1;
    uint32_t seed = 12345;
    for (uint32_t a = 0; a < RAM_SIZE; a++)
        ram_getptr()[a] = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
    if (measure("random RAM, two drives") != 0) return 1;
    fdc_flush();
    std::filesystem::remove_all(dir);
    return 0;
}
