// Single-instruction conformance: 200 recorded cases per opcode, each a
// start state, the state after one instruction and its bus cycle count.
// Every case runs through the real address decoder with the upper 16 KiB
// switched to RAM; cases that touch the I/O page cannot be flat RAM and
// are skipped.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cpu_6502.h"
#include "mem.h"
#include "ram.h"
#include "test_util.h"

namespace {

struct machine_state {
    int pc = 0, s = 0, a = 0, x = 0, y = 0, p = 0;
    std::vector<std::pair<int, int>> ram;
};

struct step_case {
    std::string name;
    machine_state initial, final;
    int cycles = 0;
};

// A reader for exactly the shape of these lines: objects, arrays of
// integer pairs, integers and plain strings.
class line_parser {
  public:
    explicit line_parser(const char *text) : p_(text) {}

    bool parse(step_case *out) {
        return object([&](const std::string &key) {
            if (key == "name") return string(&out->name);
            if (key == "initial") return state(&out->initial);
            if (key == "final") return state(&out->final);
            if (key == "cycles") return number(&out->cycles);
            return false;
        });
    }

  private:
    char peek() {
        while (*p_ == ' ')
            p_++;
        return *p_;
    }
    bool expect(char c) {
        if (peek() != c) return false;
        p_++;
        return true;
    }
    bool string(std::string *out) {
        if (!expect('"')) return false;
        const char *end = strchr(p_, '"');
        if (!end) return false;
        out->assign(p_, end);
        p_ = end + 1;
        return true;
    }
    bool number(int *out) {
        peek();
        if (*p_ < '0' || *p_ > '9') return false;
        int value = 0;
        while (*p_ >= '0' && *p_ <= '9')
            value = value * 10 + (*p_++ - '0');
        *out = value;
        return true;
    }
    // {"key": value, ...}: `field` reads the value after each key; false for
    // a key it does not know or a value it cannot read.
    template <typename Field> bool object(Field field) {
        if (!expect('{')) return false;
        while (true) {
            std::string key;
            if (!string(&key) || !expect(':') || !field(key)) return false;
            if (peek() != ',') return expect('}');
            p_++;
        }
    }
    bool state(machine_state *out) {
        return object([&](const std::string &key) {
            if (key == "ram") return pairs(&out->ram);
            const std::pair<const char *, int *> registers[] = {
                {"pc", &out->pc}, {"s", &out->s}, {"a", &out->a},
                {"x", &out->x},   {"y", &out->y}, {"p", &out->p},
            };
            for (const auto &[name, reg] : registers)
                if (key == name) return number(reg);
            return false;
        });
    }
    bool pairs(std::vector<std::pair<int, int>> *out) {
        if (!expect('[')) return false;
        if (peek() == ']') return ++p_, true;
        while (true) {
            int addr, value;
            if (!expect('[') || !number(&addr) || !expect(',') || !number(&value) || !expect(']'))
                return false;
            out->emplace_back(addr, value);
            if (peek() == ',') {
                p_++;
                continue;
            }
            return expect(']');
        }
    }

    const char *p_;
};

TEST(Cpu6502SingleStepParser, ReadsEveryField) {
    step_case c;
    line_parser parser(
        R"({"name":"69 1b 91","initial":{"pc":49119,"s":46,"a":76,"x":36,"y":4,"p":228,)"
        R"("ram":[[49119,105],[49120,27]]},"final":{"pc":49121,"s":46,"a":103,"x":36,)"
        R"("y":4,"p":36,"ram":[[49119,105]]},"cycles":2})");
    ASSERT_TRUE(parser.parse(&c));
    EXPECT_EQ("69 1b 91", c.name);
    EXPECT_EQ(49119, c.initial.pc);
    EXPECT_EQ(228, c.initial.p);
    ASSERT_EQ(2u, c.initial.ram.size());
    EXPECT_EQ(27, c.initial.ram[1].second);
    EXPECT_EQ(103, c.final.a);
    EXPECT_EQ(1u, c.final.ram.size());
    EXPECT_EQ(2, c.cycles);
    step_case broken;
    line_parser bad(R"({"name":"69","initial":{"pc":1,"s":)");
    EXPECT_FALSE(bad.parse(&broken));
}

std::vector<step_case> load_cases(int opcode) {
    char path[256];
    snprintf(path, sizeof path, "%s/6502-singlestep/%02x.jsonl", KESTREL_TEST_DATA, opcode);
    std::vector<step_case> cases;
    FILE *f = fopen(path, "r");
    if (!f) return cases;
    std::vector<char> line(1 << 16);
    while (fgets(line.data(), static_cast<int>(line.size()), f)) {
        step_case c;
        if (!line_parser(line.data()).parse(&c)) {
            cases.clear();
            break;
        }
        cases.push_back(std::move(c));
    }
    fclose(f);
    return cases;
}

// Where this processor's defined behaviour departs from the recordings.
bool is_halt(int op) {
    for (int h : {0x02, 0x12, 0x22, 0x32, 0x42, 0x52, 0x62, 0x72, 0x92, 0xB2, 0xD2, 0xF2})
        if (op == h) return true;
    return false;
}

// Our ANE (0x8B) is A = X AND immediate; the recordings fold in (A OR 0xEE)
// as one of the unstable chips does. Only cases where A would clear one of
// bits 0 and 4 of X AND immediate tell the two apart.
// Our ARR (0x6B) in decimal mode tests the digits of the rotated value; the
// recordings test the digits of the AND result before the rotate. Cases
// where both tests choose the same corrections must still match.
// The unstable stores (0x93, 0x9B, 0x9C, 0x9E, 0x9F) were recorded with an
// older model of what happens when the index crosses a page.
bool state_differs_by_definition(int op, const step_case &c, uint8_t imm, bool crossed) {
    if (op == 0x8B) return ((c.initial.x & imm) & ~(c.initial.a | 0xEE)) != 0;
    if (op == 0x6B && (c.initial.p & 0x08)) {
        int t = c.initial.a & imm;
        int r = (t >> 1) | (c.initial.p & 1) << 7;
        bool low_r = (r & 0x0F) + (r & 0x01) > 5, low_t = (t & 0x0F) + (t & 0x01) > 5;
        bool high_r = (r & 0xF0) + (r & 0x10) > 0x50, high_t = (t & 0xF0) + (t & 0x10) > 0x50;
        return low_r != low_t || high_r != high_t;
    }
    if (op == 0x93 || op == 0x9B || op == 0x9C || op == 0x9E || op == 0x9F) return crossed;
    return false;
}

enum class crossing { none, abs_x, abs_y, ind_y };

// Indexed and indirect-indexed addressing whose page crossing matters: the
// recordings count one more cycle when such a read crosses a page, which
// this processor never does, so that cycle is taken off before comparing.
crossing page_cross_kind(int op) {
    switch (op) {
    case 0x1D:
    case 0x3D:
    case 0x5D:
    case 0x7D:
    case 0xBC:
    case 0xBD:
    case 0xDD:
    case 0xFD:
        return crossing::abs_x;
    case 0x19:
    case 0x39:
    case 0x59:
    case 0x79:
    case 0xB9:
    case 0xBE:
    case 0xD9:
    case 0xF9:
    case 0xBF:
    case 0xBB:
        return crossing::abs_y;
    case 0x9C:
        return crossing::abs_x;
    case 0x9B:
    case 0x9E:
    case 0x9F:
        return crossing::abs_y;
    case 0x11:
    case 0x31:
    case 0x51:
    case 0x71:
    case 0xB1:
    case 0xD1:
    case 0xF1:
    case 0xB3:
    case 0x93:
        return crossing::ind_y;
    default:
        return crossing::none;
    }
}

// Undocumented NOP abs,X: the recordings are one cycle short (a lost dummy
// read), and count a page crossing we do not.
bool cycles_unreliable(int op) {
    for (int n : {0x0C, 0x1C, 0x3C, 0x5C, 0x7C, 0xDC, 0xFC})
        if (op == n) return true;
    return is_halt(op); // recorded as 3 bus cycles; we spend 2 per halted step
}

class Cpu6502SingleStep : public ::testing::TestWithParam<int> {};

TEST_P(Cpu6502SingleStep, MatchesRecordedStateAndCycles) {
    const int op = GetParam();
    std::vector<step_case> cases = load_cases(op);
    ASSERT_EQ(200u, cases.size()) << "unreadable case file for opcode " << op;
    ASSERT_EQ(0, mem_init());
    uint8_t *memory = ram_getptr();
    static uint8_t expected[0x10000];

    int run = 0, skipped = 0, state_failures = 0, cycle_failures = 0, excused = 0;
    std::string first_failure;
    for (const step_case &c : cases) {
        bool io_page = false;
        for (const auto *list : {&c.initial.ram, &c.final.ram})
            for (const auto &[addr, value] : *list)
                if (addr >= 0x0300 && addr <= 0x03FF) io_page = true;
        if (io_page) {
            skipped++;
            continue;
        }
        hiram = 1;
        extdev = 0;
        memset(memory, 0, 0x10000);
        for (const auto &[addr, value] : c.initial.ram)
            memory[addr] = static_cast<uint8_t>(value);
        auto at = [&](int addr) { return memory[addr & 0xFFFF]; };
        uint8_t imm = at(c.initial.pc + 1);
        unsigned base = 0;
        unsigned index = 0;
        switch (page_cross_kind(op)) {
        case crossing::abs_x:
            base = at(c.initial.pc + 1) | at(c.initial.pc + 2) << 8;
            index = c.initial.x;
            break;
        case crossing::abs_y:
            base = at(c.initial.pc + 1) | at(c.initial.pc + 2) << 8;
            index = c.initial.y;
            break;
        case crossing::ind_y:
            base = at(imm) | at((imm + 1) & 0xFF) << 8;
            index = c.initial.y;
            break;
        case crossing::none:
            break;
        }
        bool crossed = page_cross_kind(op) != crossing::none && ((base ^ (base + index)) & 0xFF00);

        cpu_6502.pcreg = static_cast<uint16_t>(c.initial.pc);
        cpu_6502.stack = static_cast<uint16_t>(0x0100 | c.initial.s);
        cpu_6502.areg = static_cast<uint8_t>(c.initial.a);
        cpu_6502.xreg = static_cast<uint8_t>(c.initial.x);
        cpu_6502.yreg = static_cast<uint8_t>(c.initial.y);
        cpu_6502.flags = static_cast<uint8_t>(c.initial.p);
        cpu_6502.flagirq = 0;
        cpu_6502.flanknmi = 0;
        int cycles = cpu_6502_step();
        run++;

        memset(expected, 0, sizeof expected);
        for (const auto &[addr, value] : c.initial.ram)
            expected[addr] = static_cast<uint8_t>(value);
        for (const auto &[addr, value] : c.final.ram)
            expected[addr] = static_cast<uint8_t>(value);
        // B has no latch: our status byte reads it as 1 between instructions.
        bool state_ok = cpu_6502.pcreg == c.final.pc && cpu_6502.stack == (0x0100 | c.final.s) &&
                        cpu_6502.areg == c.final.a && cpu_6502.xreg == c.final.x &&
                        cpu_6502.yreg == c.final.y && (cpu_6502.flags & ~0x10) == c.final.p &&
                        memcmp(memory, expected, sizeof expected) == 0;
        if (!state_ok && state_differs_by_definition(op, c, imm, crossed)) {
            excused++;
            continue;
        }
        bool store = op == 0x93 || op == 0x9B || op == 0x9C || op == 0x9E || op == 0x9F;
        int expected_cycles = c.cycles - (crossed && !store ? 1 : 0);
        bool cycles_ok = cycles_unreliable(op) || cycles == expected_cycles;
        if (!state_ok) state_failures++;
        if (!cycles_ok) cycle_failures++;
        if ((!state_ok || !cycles_ok) && first_failure.empty()) {
            char text[256];
            snprintf(text, sizeof text,
                     "%s: got pc %04X s %02X a %02X x %02X y %02X p %02X cycles %d; "
                     "want pc %04X s %02X a %02X x %02X y %02X p %02X cycles %d",
                     c.name.c_str(), cpu_6502.pcreg, cpu_6502.stack & 0xFF, cpu_6502.areg,
                     cpu_6502.xreg, cpu_6502.yreg, cpu_6502.flags & ~0x10, cycles, c.final.pc,
                     c.final.s, c.final.a, c.final.x, c.final.y, c.final.p, expected_cycles);
            first_failure = text;
        }
    }
    hiram = 0;
    EXPECT_EQ(0, state_failures) << first_failure;
    EXPECT_EQ(0, cycle_failures) << first_failure;
    EXPECT_GE(run + excused, 150) << "too many cases skipped: " << skipped;
    // Each excused opcode must still have cases that are checked.
    EXPECT_LT(excused, 150);
}

INSTANTIATE_TEST_SUITE_P(AllOpcodes, Cpu6502SingleStep, ::testing::Range(0, 256),
                         [](const ::testing::TestParamInfo<int> &info) {
                             char name[8];
                             snprintf(name, sizeof name, "op%02X", info.param);
                             return std::string(name);
                         });

} // namespace
