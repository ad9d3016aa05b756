// BASIC typed at its prompt: whatever is typed and run, Esc brings the
// prompt back within a few frames, a known line is answered, the processor
// never leaves the ROM, the program's lines stay linked and the variable
// areas in order. Inputs that may run machine code or change memory at
// will (CALL USR POKE DOKE CLOAD MON) are skipped.
#include <algorithm>

#include "cpu_6502.h"
#include "fuzz.h"
#include "sys_cfg.h"
#include "sys_core.h"
#include "sys_data.h"
#include "sys_state.h"

namespace {

constexpr unsigned KHEAD = 0x0B, KTAIL = 0x0C, KBUF = 0x0240, SCREEN = 0xBB80;
uint8_t *mem;

// The ROM's instructions reached, as coverage: the emulator's own code
// hardly tells one BASIC statement from another.
__attribute__((section("__libfuzzer_extra_counters"))) uint8_t reached[0x4000];

// One frame as the host runs it; the processor must stay in the ROM.
void frame() {
    int budget = speed * 1000 * refresh;
    for (int used = 0, c = 0; used < budget; used += c) {
        sys_systemloop(&c);
        unsigned pc = cpu_6502.pcreg;
        FUZZ_CHECK(pc >= 0xC000 && !hiram);
        reached[pc - 0xC000] = 1;
    }
}

std::string row(int r) {
    std::string s;
    for (int c = 0; c < 40; c++)
        s += static_cast<char>(std::max(mem[SCREEN + r * 40 + c] & 0x7F, 0x20));
    size_t from = s.find_first_not_of(' ');
    return from == std::string::npos ? "" : s.substr(from, s.find_last_not_of(' ') + 1 - from);
}

std::string last_row() {
    for (int r = 27; r > 0; r--)
        if (!row(r).empty()) return row(r);
    return "";
}

// Every key taken and READY the last row with text.
bool at_prompt() {
    return mem[KHEAD] == mem[KTAIL] && last_row() == "READY";
}

bool run_until_prompt(int max_frames) {
    for (; max_frames > 0 && !at_prompt(); max_frames--)
        frame();
    return at_prompt();
}

bool key(uint8_t c) {
    if (((mem[KTAIL] + 1) & 15) == mem[KHEAD]) return false;
    mem[KBUF + mem[KTAIL]] = c;
    mem[KTAIL] = (mem[KTAIL] + 1) & 15;
    return true;
}

// Keys wait while a program runs. Lines go in whole (a line cut short
// would run into the next one) while the frames last; a line not taken
// within more frames is dropped, as Esc drops keys typed ahead.
void type(const std::string &text, int max_frames) {
    size_t at = 0;
    while (at < text.size() && max_frames > 0) {
        int more = 200;
        for (; at < text.size(); at++) {
            while (!key(static_cast<uint8_t>(text[at]))) {
                if (--more < 0) {
                    mem[KHEAD] = mem[KTAIL];
                    return;
                }
                max_frames--;
                frame();
            }
            if (text[at] == '\r') break;
        }
        at++;
    }
}

// Lines of printable characters, at most 39 to a line.
std::string lines(const uint8_t *data, size_t size) {
    std::string text;
    size_t width = 0;
    for (size_t i = 0; i < size; i++) {
        uint8_t b = data[i];
        if (b == '\n' || b == '\r' || width == 39) {
            text += '\r';
            width = 0;
            if (b == '\n' || b == '\r') continue;
        }
        text += static_cast<char>(b >= 0x20 && b < 0x7F ? b : 0x20 + b % 95);
        width++;
    }
    return text + '\r';
}

bool skipped(std::string text) {
    for (char &c : text)
        c = static_cast<char>(toupper(c));
    for (const char *word : {"CALL", "USR", "POKE", "DOKE", "CLOAD", "MON"})
        if (text.find(word) != std::string::npos) return true;
    return false;
}

// From 0x0501 the links lead, each further on, to the zero link just
// before the end pointer.
bool program_linked() {
    unsigned start = fuzz_word(0x9A), end = fuzz_word(0x9C), at = start;
    if (start != 0x0501 || end < start + 2 || end > 0x9800) return false;
    while (fuzz_word(at) != 0) {
        unsigned next = fuzz_word(at);
        if (next <= at + 4 || next + 2 > end) return false;
        at = next;
    }
    if (at + 2 != end) return false;
    // Then the simple variables, the arrays, free room and the strings.
    unsigned vars = fuzz_word(0x71), arrays = fuzz_word(0xAB), varend = fuzz_word(0x73);
    return vars == end && vars <= arrays && arrays <= varend && varend <= fuzz_word(0xCB) &&
           fuzz_word(0xCB) <= 0x9800;
}

// A broken promise shows the screen it left.
#define PROMISE(cond)                                                                              \
    do {                                                                                           \
        if (!(cond))                                                                               \
            for (int r = 0; r < 28; r++)                                                           \
                fprintf(stderr, "|%s\n", row(r).c_str());                                          \
        FUZZ_CHECK(cond);                                                                          \
    } while (0)

bytes booted;

void boot() {
    sys_data_override("z5.rom", KESTREL_RUN_DIR "/z5.rom");
    sys_data_override("z5dos.rom", KESTREL_RUN_DIR "/z5dos.rom");
    sys_cfg_defaults();
    sys_apply_config();
    sys_queue_reset();
    fuzz_machine();
    cpu_6502_init();
    mem = ram_getptr();
    for (int n = 0; n < 100 && last_row() != ">"; n++)
        frame();
    type("BASIC\r", 100);
    if (!run_until_prompt(100) || sys_state_write(booted) != 0) abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_start();
    static bool started = (boot(), true);
    (void)started;
    std::string text = lines(data, size);
    if (skipped(text)) return 0;
    FUZZ_CHECK(sys_state_read(booted.data(), booted.size()) == 0);
    type(text, 60);
    const char *show = getenv("BASIC_FUZZ_SHOW"); // to see what an input does
    run_until_prompt(show ? atoi(show) : 20);
    PROMISE(!show);
    if (((mem[KTAIL] + 1) & 15) == mem[KHEAD]) mem[KHEAD] = mem[KTAIL];
    key(0x1B);
    int frames = 50;
    for (; frames > 0 && mem[KHEAD] != mem[KTAIL]; frames--)
        frame();
    PROMISE(frames > 0);
    frame();
    type("TEXT:?\"OK7\"\r", 20);
    PROMISE(run_until_prompt(50));
    bool answered = false;
    for (int r = 1; r < 28; r++)
        answered |= row(r) == "OK7";
    PROMISE(answered);
    PROMISE(program_linked());
    return 0;
}
