// Disk controller figures: cost of one disk byte read, of a mount (35 tracks
// built) and of a write-back (the track written decoded, the file read back
// and compared, the image rewritten and synced).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fdc.h"

using bench_clock = std::chrono::steady_clock;

static double seconds_since(bench_clock::time_point start) {
    return std::chrono::duration<double>(bench_clock::now() - start).count();
}

int main() {
    char dir[] = "/tmp/kestrel_bench_XXXXXX";
    if (!mkdtemp(dir)) return 1;
    std::string image = std::string(dir) + "/bench.dsk";
    fdc_init();

    constexpr int MOUNTS = 50;
    auto start = bench_clock::now();
    for (int n = 0; n < MOUNTS; n++)
        if (fdc_mount(image.c_str(), 0, 0) != 0) return 1;
    printf("mount:      %8.1f us per image\n", seconds_since(start) / MOUNTS * 1e6);

    uint8_t byte = 0;
    fdc_read(0x0319, &byte); // motor on
    constexpr int READS = 20'000'000;
    unsigned sum = 0;
    start = bench_clock::now();
    for (int n = 0; n < READS; n++) {
        fdc_read(0x031C, &byte);
        sum += byte;
    }
    printf("data read:  %8.2f ns per byte (sum %u)\n", seconds_since(start) / READS * 1e9, sum);

    constexpr int RUNS = 100'000'000;
    start = bench_clock::now();
    for (int n = 0; n < RUNS; n++)
        fdc_run(1);
    printf("fdc_run:    %8.2f ns per cycle\n", seconds_since(start) / RUNS * 1e9);

    constexpr int WRITE_BACKS = 50;
    double total = 0;
    // From byte 5000 (20,000,000 reads) on to 6000: the bytes written below land in
    // the gap at the end of the track, where no sector is cut.
    for (int n = 0; n < 1000; n++)
        fdc_read(0x031C, &byte);
    for (int n = 0; n < WRITE_BACKS; n++) {
        fdc_read(0x031F, &byte); // write latch
        fdc_read(0x031C, &byte);
        fdc_write(0x031D, 0xFF); // one gap byte makes the drive dirty
        fdc_read(0x031E, &byte);
        start = bench_clock::now();
        fdc_read(0x0318, &byte); // motor off: write-back
        total += seconds_since(start);
        fdc_read(0x0319, &byte);
    }
    printf("write-back: %8.1f us per image\n", total / WRITE_BACKS * 1e6);

    fdc_flush();
    unlink(image.c_str());
    rmdir(dir);
    return 0;
}
