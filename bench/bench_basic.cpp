// The ROM's BASIC on the eight classic benchmark programs: each is loaded
// with the text loader, RUN is typed, and the emulated time to READY is
// printed against the best published 1 MHz figures of its era.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "board.h"
#include "cpu_6502.h"
#include "mem.h"
#include "ram.h"
#include "sys_cfg.h"
#include "sys_core.h"
#include "sys_file.h"
#include "vdc.h"
#include "via_6522.h"

static uint8_t *mem;
static long long cycles;

static std::string last_row() {
    for (int r = 27; r > 0; r--) {
        std::string s;
        for (int c = 0; c < 40; c++)
            s += static_cast<char>(mem[0xBB80 + r * 40 + c] & 0x7F);
        size_t end = s.find_last_not_of(' ');
        if (end != std::string::npos) return s.substr(0, end + 1);
    }
    return "";
}

// Runs until the last row with text is `text` and the key buffer is empty.
static bool run_until(const char *text, long long max_cycles) {
    for (long long start = cycles; cycles - start < max_cycles;) {
        for (int used = 0, c = 0; used < 20000; used += c, cycles += c)
            sys_systemloop(&c);
        if (mem[0x0B] == mem[0x0C] && last_row() == text) return true;
    }
    return false;
}

static void type(const std::string &keys) { // into the ROM's key buffer
    for (char k : keys) {
        mem[0x0240 + mem[0x0C]] = k == '\n' ? 13 : static_cast<uint8_t>(k);
        mem[0x0C] = (mem[0x0C] + 1) & 15;
    }
}

static const char *const common = "100 K=0\n200 K=K+1\n";
struct bench {
    const char *lines;
    double published;
};
static const bench benches[] = {
    {"100 FOR K=1 TO 1000\n200 NEXT K\n", 1.2},
    {"300 IF K<1000 THEN 200\n", 8.5},
    {"210 A=K/K*K+K-K\n300 IF K<1000 THEN 200\n", 16.0},
    {"210 A=K/2*3+4-5\n300 IF K<1000 THEN 200\n", 17.8},
    {"210 A=K/2*3+4-5\n220 GOSUB 500\n300 IF K<1000 THEN 200\n500 RETURN\n", 19.1},
    {"110 DIM M(5)\n210 A=K/2*3+4-5\n220 GOSUB 500\n230 FOR L=1 TO 5\n240 NEXT L\n"
     "300 IF K<1000 THEN 200\n500 RETURN\n",
     28.6},
    {"110 DIM M(5)\n210 A=K/2*3+4-5\n220 GOSUB 500\n230 FOR L=1 TO 5\n235 M(L)=A\n240 NEXT L\n"
     "300 IF K<1000 THEN 200\n500 RETURN\n",
     44.8},
    {"210 A=K^2\n220 B=LOG(K)\n230 C=SIN(K)\n300 IF K<1000 THEN 200\n", 0},
};

int main() {
    if (chdir(KESTREL_RUN_DIR) != 0) return 1;
    // One file per run: two benchmarks may run at once.
    const std::string file = "/tmp/kestrel_bench_basic." + std::to_string(getpid()) + ".txt";
    const char *path = file.c_str();
    sys_cfg_defaults();
    sys_apply_config();
    sys_queue_reset();
    board_init();
    mem = ram_getptr();
    run_until(">", 3000000);
    type("BASIC\n");
    if (!run_until("READY", 1000000)) return 1;
    printf("BASIC benchmarks, emulated seconds at 1 MHz (published best of the era)\n");
    int n = 1;
    for (const bench &b : benches) {
        std::string text = n == 1 ? b.lines : std::string(common) + b.lines;
        // Lines in number order, as the loader takes them.
        std::string sorted;
        for (int number = 0; number < 1000; number++) {
            std::string key = std::to_string(number) + " ";
            for (size_t at = 0; (at = text.find(key, at)) != std::string::npos; at++)
                if (at == 0 || text[at - 1] == '\n')
                    sorted += text.substr(at, text.find('\n', at) - at + 1);
        }
        FILE *f = fopen(path, "w");
        if (!f) return 1;
        fputs(sorted.c_str(), f);
        fclose(f);
        if (sys_file_load_txt(path) != 0) return 1;
        type("CLS:RUN\n");
        long long start = cycles;
        bool done = run_until("READY", 400000000);
        double seconds = static_cast<double>(cycles - start) / 1e6;
        if (b.published > 0)
            printf("  BM%d  %7.2f s  (%5.1f s)%s\n", n, seconds, b.published,
                   done ? "" : "  unfinished");
        else
            printf("  BM%d  %7.2f s%s\n", n, seconds, done ? "" : "  unfinished");
        n++;
    }
    // Ten square roots of N, then ten squares, summed over N = 1 to 100.
    FILE *f = fopen(path, "w");
    if (!f) return 1;
    fputs("100 S=0:FOR N=1 TO 100:A=N\n110 FOR I=1 TO 10:A=SQR(A):NEXT\n"
          "120 FOR I=1 TO 10:A=A*A:NEXT\n130 S=S+A:NEXT:PRINT ABS(1010-S/5)\n",
          f);
    fclose(f);
    if (sys_file_load_txt(path) != 0) return 1;
    type("CLS:RUN\n");
    if (!run_until("READY", 400000000)) return 1;
    std::string result;
    for (int c = 0; c < 40; c++)
        result += static_cast<char>(mem[0xBB80 + 40 + c] & 0x7F);
    printf("accuracy: ABS(1010-S/5) =%s\n",
           result.substr(0, result.find_last_not_of(' ') + 1).c_str());
    unlink(path);
    return 0;
}
