// Rewind and input recording figures: what keeping one state a second
// costs the timer thread (its share of a core at speed 1), the ring's memory
// after a minute, and the size of a minute's recording of busy typing; for
// the machine that booted the demo disk, then with random RAM and a second
// drive (a worst case).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

#include "ay_8912.h"
#include "board.h"
#include "cpu_6502.h"
#include "fdc.h"
#include "keyboard.h"
#include "ram.h"
#include "sys_cfg.h"
#include "sys_core.h"
#include "sys_replay.h"
#include "sys_rewind.h"
#include "vdc.h"

static double cpu_ms() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

static double ring_ms; // CPU time spent keeping states

// Frames as the host runs them, a key pressed and released every
// `typing` frames (0: none).
static void frames(int n, int typing = 0) {
    static uint8_t cell = 0;
    for (int f = 0; f < n; f++) {
        sys_frame_begin();
        sys_replay_frame(0);
        double t = cpu_ms();
        sys_rewind_frame();
        ring_ms += cpu_ms() - t;
        if (typing && f % typing == 0) push_event({EV_KEY_DOWN, cell = (cell + 1) % 48});
        if (typing && f % typing == typing / 2) push_event({EV_KEY_UP, cell});
        for (int line = 0; line < 224; line++) {
            for (int used = 0, c = 0; used < 89; used += c)
                sys_systemloop(&c);
            video->render();
        }
        uint8_t samples[909 * 4];
        ay_8912_callback(nullptr, samples, sizeof samples);
    }
}

static void measure(const char *what) {
    constexpr int MINUTE = 60 * 50;
    double before = cpu_ms();
    ring_ms = 0;
    sys_rewind_clear();
    std::string why;
    sys_replay_record("bench.rec", &why);
    frames(MINUTE, 10);
    sys_replay_finish(&why);
    double all = cpu_ms() - before;
    printf("%s:\n  ring: %d s kept, %.0f KiB; %.2f ms a second kept, %.2f %% of a core at "
           "speed 1 (%.1f %% of the emulation's own time)\n",
           what, sys_rewind_count(), sys_rewind_bytes() / 1024.0, ring_ms / 60, ring_ms / 60 / 10,
           100 * ring_ms / all);
    printf("  recording of a minute, a key every 0.2 s: %.1f KiB\n",
           std::filesystem::file_size("bench.rec") / 1024.0);
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
    measure("demo disk booted");
    std::filesystem::copy_file("demo.dsk", "second.dsk");
    if (fdc_mount("second.dsk", 1, 0) != 0) return 1;
    uint32_t seed = 12345;
    for (uint32_t a = 0; a < RAM_SIZE; a++)
        ram_getptr()[a] = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
    // The processor waits in a loop of its own, interrupts masked, as random
    // code would not.
    ram_getptr()[0x0400] = 0x4C, ram_getptr()[0x0401] = 0x00, ram_getptr()[0x0402] = 0x04;
    cpu_6502.pcreg = 0x0400;
    cpu_6502.flags |= 0x04;
    measure("random RAM, two drives");
    fdc_flush();
    std::filesystem::remove_all(dir);
    return 0;
}
