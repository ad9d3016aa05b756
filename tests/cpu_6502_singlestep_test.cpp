// 200 recorded single instructions per opcode, start and end state and cycles,
// with RAM under the whole address space (cases touching the I/O page skipped),
// each run on the quick path and again with every access through the decoder,
// in the simplified timing and in the exact one.
#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>

#include "fixture.h"

namespace {

enum { PC, S, A, X, Y, P };
using registers = std::array<int, 6>;

// Reads the registers of the "initial" or "final" object of a case line, and
// its RAM cells into `image`; false when a cell lies in the I/O page.
bool read_state(const std::string &line, const char *which, registers &r, uint8_t *image) {
    const char *p = strstr(line.c_str(), which);
    int used = 0;
    sscanf(p, "%*[^{]{\"pc\":%d,\"s\":%d,\"a\":%d,\"x\":%d,\"y\":%d,\"p\":%d,\"ram\":[%n", &r[PC],
           &r[S], &r[A], &r[X], &r[Y], &r[P], &used);
    bool plain = true;
    for (int addr, value, n; sscanf(p += used, "[%d,%d]%n", &addr, &value, &n) == 2;
         used = n + (p[n] == ',')) {
        image[addr] = static_cast<uint8_t>(value);
        plain &= addr >> 8 != 0x03;
    }
    return plain;
}

bool among(int op, std::initializer_list<int> ops) {
    return std::count(ops.begin(), ops.end(), op) > 0;
}

// Whether an indexed access's index carries into the high byte of its address.
bool crosses_page(int op, const registers &r, const uint8_t *mem) {
    auto at = [&](int addr) { return mem[addr & 0xFFFF]; };
    unsigned base = at(r[PC] + 1) | at(r[PC] + 2) << 8, index = r[Y];
    if (among(op, {0x1D, 0x3D, 0x5D, 0x7D, 0xBC, 0xBD, 0xDD, 0xFD, 0x9C}))
        index = r[X];
    else if (among(op, {0x11, 0x31, 0x51, 0x71, 0xB1, 0xD1, 0xF1, 0xB3, 0x93}))
        base = at(at(r[PC] + 1)) | at((at(r[PC] + 1) + 1) & 0xFF) << 8;
    else if (!among(op,
                    {0x19, 0x39, 0x59, 0x79, 0xB9, 0xBE, 0xD9, 0xF9, 0xBF, 0xBB, 0x9B, 0x9E, 0x9F}))
        return false;
    return ((base + index) ^ base) & 0xFF00;
}

class Cpu6502SingleStep : public ::testing::TestWithParam<int> {};

TEST_P(Cpu6502SingleStep, MatchesRecordedStateAndCycles) {
    const int op = GetParam();
    char path[256];
    snprintf(path, sizeof path, "%s/6502-singlestep/%02x.jsonl", KESTREL_TEST_DATA, op);
    std::ifstream in(path);
    ASSERT_EQ(0, mem_init());
    hiram = 1;
    static uint8_t start[0x10000], want[0x10000];
    auto u8 = [](int v) { return static_cast<uint8_t>(v); };
    auto u16 = [](int v) { return static_cast<uint16_t>(v); };
    int cases = 0, run = 0, excused = 0, failures = 0;
    for (std::string line; std::getline(in, line); cases++) {
        registers from{}, to{};
        memset(start, 0, sizeof start);
        if (!read_state(line, "\"initial\"", from, start)) continue;
        memcpy(want, start, sizeof want);
        if (!read_state(line, "\"final\"", to, want)) continue;
        run++;
        // Departures by design: ANE (8B) is A = X AND immediate, recorded with
        // A OR 0xEE folded in; decimal ARR (6B) corrects by the digits after the
        // rotate; the unstable stores follow a newer model of a page crossing.
        // Recorded cycles: one more for an indexed read crossing a page (exact
        // timing takes it too), 3 for a halt where a halted step takes 2, and
        // one short for NOP abs,X.
        const bool crossed = crosses_page(op, from, start);
        const bool store = among(op, {0x93, 0x9B, 0x9C, 0x9E, 0x9F});
        const int imm = start[(from[PC] + 1) & 0xFFFF], t = from[A] & imm;
        const int r = t >> 1 | (from[P] & 1) << 7; // ARR's rotate
        auto fixes = [](int v) {
            return ((v & 0x0F) + (v & 0x01) > 5) + 2 * ((v & 0xF0) + (v & 0x10) > 0x50);
        };
        const bool may_differ = (op == 0x8B && ((from[X] & imm) & ~(from[A] | 0xEE))) ||
                                (op == 0x6B && (from[P] & 0x08) && fixes(r) != fixes(t)) ||
                                (store && crossed);
        const int recorded = atoi(strstr(line.c_str(), "\"cycles\":") + 9);
        const bool any_cycles =
            among(op, {0x02, 0x12, 0x22, 0x32, 0x42, 0x52, 0x62, 0x72, 0x92, 0xB2, 0xD2, 0xF2, 0x0C,
                       0x1C, 0x3C, 0x5C, 0x7C, 0xDC, 0xFC});
        for (int exact : {0, 1})
            for (int traced : {0, 1}) {
                const int want_cycles = recorded - (crossed && !store && !exact);
                memcpy(ram_getptr(), start, sizeof start);
                cpu_6502 = {
                    u8(from[A]),           u8(from[X]), u8(from[Y]), u8(from[P]), u16(from[PC]),
                    u16(0x0100 | from[S]), 0,           0,           0,           0};
                tr[0] = traced ? TR_MASTER : 0;
                const int cycles = exact ? cpu_6502_step_exact() : cpu_6502_step();
                tr[0] = 0;
                // B has no latch: the status byte reads it as 1 between instructions.
                const registers got{cpu_6502.pcreg, cpu_6502.stack & 0xFF, cpu_6502.areg,
                                    cpu_6502.xreg,  cpu_6502.yreg,         cpu_6502.flags & ~0x10};
                const bool state_ok = got == to && memcmp(ram_getptr(), want, sizeof want) == 0;
                if (!state_ok && may_differ)
                    excused++;
                else if ((!state_ok || (!any_cycles && cycles != want_cycles)) && failures++ < 3)
                    ADD_FAILURE() << line.substr(9, 8) << (traced ? " decoded" : " quick")
                                  << (exact ? " exact" : "") << ": got "
                                  << testing::PrintToString(got) << " in " << cycles << ", want "
                                  << testing::PrintToString(to) << " in " << want_cycles;
            }
    }
    hiram = 0;
    EXPECT_EQ(200, cases) << path;
    EXPECT_EQ(0, failures);
    EXPECT_GE(run, 150) << "too many cases skipped";
    // Four runs a case: each excused opcode still has cases that count.
    EXPECT_LT(excused, 2 * run);
}

INSTANTIATE_TEST_SUITE_P(AllOpcodes, Cpu6502SingleStep, ::testing::Range(0, 256));

} // namespace
