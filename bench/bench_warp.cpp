// The whole program headless: how long it takes to start and stop, and how
// many emulated seconds it runs per host second in warp on the demo tape's
// program (which draws, then plays its tune and waits for a key).
// Usage: kestrel_bench_warp [emulated seconds, default 300] [runs, default 3]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

static double child_cpu() {
    rusage ru{};
    getrusage(RUSAGE_CHILDREN, &ru);
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec +
           (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

static double run(const std::string &args) {
    std::string cmd =
        "cd " KESTREL_RUN_DIR " && " KESTREL_BINARY " --headless " + args + " >/dev/null 2>&1";
    auto t0 = std::chrono::steady_clock::now();
    if (system(cmd.c_str()) != 0) {
        fprintf(stderr, "failed: %s\n", cmd.c_str());
        exit(1);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

int main(int argc, char **argv) {
    const int seconds = argc > 1 ? atoi(argv[1]) : 300;
    const int runs = argc > 2 ? atoi(argv[2]) : 3;
    double start = 1e9, warp = 1e9, cpu = 1e9;
    for (int i = 0; i < runs; i++) {
        double s = run("--frames 1");
        start = s < start ? s : start;
        double before = child_cpu();
        double w = run("--warp --seconds " + std::to_string(seconds) + " demo.tap");
        warp = w < warp ? w : warp;
        double c = child_cpu() - before;
        cpu = c < cpu ? c : cpu;
    }
    printf("headless start and stop: %.1f ms\n", start * 1000);
    printf("warp: %d emulated s in %.2f host s: %.0f emulated s per host s\n", seconds, warp,
           seconds / warp);
    // On a busy host the wall clock understates it; the program's own CPU time does not.
    printf("warp: %.2f s of the program's CPU time: %.0f emulated s per CPU second\n", cpu,
           seconds / cpu);
    return 0;
}
