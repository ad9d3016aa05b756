// Saved state figures: size, save (to memory; to a file, with the drives'
// write-back and the sync) and restore from the file, for the machine that
// booted the demo disk, then with random RAM and a second drive (a worst case).
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ay_8912.h"
#include "board.h"
#include "cpu_6502.h"
#include "fdc.h"
#include "keyboard.h"
#include "mem.h"
#include "ram.h"
#include "sys_cfg.h"
#include "sys_core.h"
#include "sys_state.h"
#include "vdc.h"
#include "via_6522.h"

using bench_clock = std::chrono::steady_clock;

// Wall time and the process's CPU time: on a busy host the two part.
struct span {
    bench_clock::time_point wall = bench_clock::now();
    std::clock_t cpu = std::clock();
    void print(const char *what, int runs) const {
        printf("  %-6s %6.2f ms (cpu %6.2f ms)", what,
               std::chrono::duration<double, std::milli>(bench_clock::now() - wall).count() / runs,
               1000.0 * static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC / runs);
    }
};

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
    if (sys_state_write(file) != 0) return 1;
    printf("%s: %.1f KiB\n", what, file.size() / 1024.0);
    span start;
    for (int n = 0; n < RUNS; n++)
        if (sys_state_write(file) != 0) return 1;
    start.print("save", RUNS);
    start = span();
    for (int n = 0; n < RUNS; n++)
        if (sys_state_save("bench.state") != 0) return 1;
    start.print("file", RUNS);
    start = span();
    for (int n = 0; n < RUNS; n++)
        if (sys_state_load("bench.state") != 0) return 1;
    start.print("load", RUNS);
    printf("\n");
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
    board_init();
    if (fdc_mount("demo.dsk", 0, 0) != 0) return 1;
    frames(40);
    for (char c : std::string("boot\n")) {
        uint8_t cell = 0;
        bool shift = false;
        keyboard_find(c, &cell, &shift);
        push_event({EV_KEY_DOWN, cell});
        frames(3);
        push_event({EV_KEY_UP, cell});
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
