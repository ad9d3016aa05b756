// The assembler against a standard one (ca65 and ld65): random sources over
// every documented opcode and mode, with labels and constants defined before
// and after their use, must give the same bytes from both.
//
// The sources keep to what both read alike: "<" and ">" stand before a name
// or a parenthesis only (elsewhere the standard one takes the byte of the
// first term, we of the whole), no negative byte values (it refuses them),
// no operand that opens with a parenthesis unless it is indirect, and no
// sums of a byte-part constant that waits for a later label (it guesses
// zero page, we take the absolute form that cannot overflow).
#include <cstdlib>
#include <random>
#include <sstream>

#include "asm_6502.h"
#include "fixture.h"

namespace {

constexpr unsigned ORIGIN = 0x2000;

enum Mode { IMP, ACC, IMM, ZP, ZPX, ZPY, ABS, ABX, ABY, IZX, IZY, IND, REL };

// The documented instruction set by mnemonic and addressing mode.
struct Pair {
    const char *mn;
    Mode mode;
};

std::vector<Pair> every_pair() {
    const std::pair<const char *, std::vector<Mode>> rows[] = {
        {"adc ora and eor lda cmp sbc", {IMM, ZP, ZPX, ABS, ABX, ABY, IZX, IZY}},
        {"sta", {ZP, ZPX, ABS, ABX, ABY, IZX, IZY}},
        {"asl lsr rol ror", {ACC, ZP, ZPX, ABS, ABX}},
        {"inc dec", {ZP, ZPX, ABS, ABX}},
        {"cpx cpy", {IMM, ZP, ABS}},
        {"ldx", {IMM, ZP, ZPY, ABS, ABY}},
        {"ldy", {IMM, ZP, ZPX, ABS, ABX}},
        {"stx", {ZP, ZPY, ABS}},
        {"sty", {ZP, ZPX, ABS}},
        {"bit", {ZP, ABS}},
        {"jmp", {ABS, IND}},
        {"jsr", {ABS}},
        {"bcc bcs beq bmi bne bpl bvc bvs", {REL}},
        {"brk clc cld cli clv dex dey inx iny nop pha php pla plp rti rts sec sed sei tax tay "
         "tsx txa txs tya",
         {IMP}},
    };
    static std::vector<std::string> names; // keeps the split mnemonics alive
    names.reserve(64);
    std::vector<Pair> pairs;
    for (const auto &[list, modes] : rows) {
        std::istringstream words(list);
        std::string mn;
        while (words >> mn) {
            names.push_back(mn);
            for (Mode mode : modes)
                pairs.push_back({names.back().c_str(), mode});
        }
    }
    return pairs;
}

// One random source. Lines are laid out first with an upper bound on their
// size, so that branches stay in reach and label differences stay small;
// operands are written afterwards and may name anything above or below.
class Generator {
  public:
    explicit Generator(unsigned seed) : rng_(seed) {}

    std::string source(const std::vector<Pair> &pairs, size_t &next_pair) {
        lay_out(pairs, next_pair);
        std::string text = pick(2) ? " .org $2000\n" : "\t.org\t8192 ; start\n";
        for (size_t i = 0; i < lines_.size(); i++)
            text += write_line(i);
        return text;
    }

  private:
    enum Kind { INSTR, BYTES, WORDS, ZCONST, KCONST, BLANK };
    struct Line {
        Kind kind;
        Pair pair;
        int label; // -1: none
        int count; // data items
        int name;  // the constant defined
        int most;  // bytes at most
    };

    unsigned pick(unsigned n) { return static_cast<unsigned>(rng_() % n); }

    void lay_out(const std::vector<Pair> &pairs, size_t &next_pair) {
        int n = 30 + static_cast<int>(pick(60));
        for (int i = 0; i < n; i++) {
            Line line{BLANK, {"nop", IMP}, -1, 0, -1, 0};
            unsigned roll = pick(100);
            if (roll < 62) {
                line.kind = INSTR;
                line.pair = pick(3) ? pairs[next_pair++ % pairs.size()]
                                    : pairs[pick(static_cast<unsigned>(pairs.size()))];
                Mode m = line.pair.mode;
                line.most = m == IMP || m == ACC                           ? 1
                            : m == IMM || m == REL || m == IZX || m == IZY ? 2
                                                                           : 3;
            } else if (roll < 70) {
                line.kind = pick(2) ? BYTES : WORDS;
                line.count = 1 + static_cast<int>(pick(3));
                line.most = (line.kind == BYTES ? 3 : 2) * line.count; // a string is 3 bytes
            } else if (roll < 80) {
                line.kind = ZCONST;
                line.name = static_cast<int>(zvalue_.size());
                zvalue_.push_back(0x10 + static_cast<int>(pick(0xD0)));
            } else if (roll < 88) {
                line.kind = KCONST;
                line.name = static_cast<int>(byte_part_.size());
                byte_part_.push_back(pick(3) == 0);
            }
            if (line.kind != ZCONST && line.kind != KCONST && pick(100) < 40) {
                line.label = static_cast<int>(label_line_.size());
                label_line_.push_back(i);
            }
            lines_.push_back(line);
        }
        // Two word constants, each defined once, above or below their uses.
        wvalue_ = {0x0300 + static_cast<int>(pick(0x100)), 0x4000 + static_cast<int>(pick(0x8000))};
        wline_ = {static_cast<int>(pick(static_cast<unsigned>(n))),
                  static_cast<int>(pick(static_cast<unsigned>(n)))};
    }

    // Bytes at most from the start of line `from` to the start of line `to`.
    int reach(int from, int to) const {
        int sum = 0;
        for (int i = std::min(from, to); i < std::max(from, to); i++)
            sum += lines_[static_cast<size_t>(i)].most;
        return sum;
    }

    std::string hex(unsigned v, int digits) {
        char text[16];
        snprintf(text, sizeof text, pick(2) ? "$%0*X" : "$%0*x", digits, v);
        return text;
    }

    std::string number(unsigned v) {
        switch (pick(v < 127 && v >= 32 && v != '\'' && v != '"' && v != '\\' ? 5 : 4)) {
        case 0:
            return std::to_string(v);
        case 1:
            return hex(v, v > 0xFF ? 4 : 2);
        case 2:
            return hex(v, 4); // leading zeros do not make it absolute
        case 3: {
            std::string bits = "%";
            for (int b = v > 0xFF ? 15 : 7; b >= 0; b--)
                bits += static_cast<char>('0' + ((v >> b) & 1));
            return bits;
        }
        default:
            return std::string("'") + static_cast<char>(v) + "'";
        }
    }

    static std::string named(char letter, int n) {
        return std::string(1, letter).append(std::to_string(n));
    }
    std::string label(int l) { return named('l', l); }
    std::string z(int k) { return named('z', k); }

    // A label, any one; -1 when there is none.
    int any_label() {
        return label_line_.empty()
                   ? -1
                   : static_cast<int>(pick(static_cast<unsigned>(label_line_.size())));
    }

    // An expression worth 0 to 255 on line i.
    std::string byte_expr(int i, bool plain) {
        for (;;) {
            switch (pick(9)) {
            case 0:
                return number(pick(256));
            case 1:
                if (zvalue_.empty()) break;
                {
                    int k = static_cast<int>(pick(static_cast<unsigned>(zvalue_.size())));
                    unsigned d = pick(16);
                    switch (pick(3)) {
                    case 0:
                        return z(k);
                    case 1:
                        return z(k) + "+" + number(d);
                    default:
                        return z(k) + " - " + number(d);
                    }
                }
            case 2:
            case 3: {
                int l = any_label();
                if (l < 0) break;
                const char *part = pick(2) ? "<" : ">";
                if (pick(3)) return part + label(l);
                return std::string(part) + "(" + label(l) + (pick(2) ? "+" : "-") +
                       number(pick(300)) + ")";
            }
            case 4: {
                // A byte part constant, defined before this line (zero page
                // in both) or after it (absolute in both).
                std::vector<int> bytes;
                for (size_t k = 0; k < byte_part_.size(); k++)
                    if (byte_part_[k]) bytes.push_back(static_cast<int>(k));
                if (bytes.empty()) break;
                return named('k', bytes[pick(static_cast<unsigned>(bytes.size()))]);
            }
            case 5: {
                int a = any_label(), b = any_label();
                if (a < 0) break;
                if (label_line_[static_cast<size_t>(a)] < label_line_[static_cast<size_t>(b)])
                    std::swap(a, b);
                if (reach(label_line_[static_cast<size_t>(b)],
                          label_line_[static_cast<size_t>(a)]) > 255)
                    break;
                return label(a) + "-" + label(b);
            }
            case 6: {
                int l = any_label();
                if (l < 0) break;
                int at = label_line_[static_cast<size_t>(l)];
                if (reach(at, i) > 240) break;
                return at <= i ? "*-" + label(l) : label(l) + "-*";
            }
            case 7: {
                unsigned a = pick(16), b = 1 + pick(15), c = pick(16);
                if (plain || pick(2)) return number(a) + "*" + number(b) + "+" + number(c);
                return "(" + number(a) + "+" + number(c) + ")*" + number(b % 8) + "/" +
                       number(1 + pick(4));
            }
            default: {
                unsigned a = 100 + pick(156), b = pick(100);
                return number(a) + "-" + number(b) + (pick(2) ? "" : "/" + number(1 + pick(9)));
            }
            }
        }
    }

    // An expression worth 0 to 0xFFFF on line i.
    std::string word_expr(int i) {
        for (;;) {
            switch (pick(8)) {
            case 0:
            case 1: {
                int l = any_label();
                if (l < 0) break;
                switch (pick(3)) {
                case 0:
                    return label(l);
                case 1:
                    return label(l) + "+" + number(pick(200));
                default:
                    return label(l) + "-" + number(1 + pick(200)); // negative while unknown
                }
            }
            case 2:
                return named('w', pick(2)) + (pick(2) ? "" : "+" + number(pick(64)));
            case 3: {
                std::vector<int> words;
                for (size_t k = 0; k < byte_part_.size(); k++)
                    if (!byte_part_[k]) words.push_back(static_cast<int>(k));
                if (words.empty()) break;
                std::string k = named('k', words[pick(static_cast<unsigned>(words.size()))]);
                return pick(2) ? k : k + "+" + number(pick(32));
            }
            case 4:
                return pick(2) ? "*+" + number(pick(100)) : "*-" + number(pick(100));
            case 5:
                return number(0x100 + pick(0xFF00));
            case 6:
                return byte_expr(i, true);
            default:
                return number(ORIGIN) + "+" + number(pick(40)) + "*" + number(pick(40));
            }
        }
    }

    // A branch target no more than about 120 bytes away.
    std::string target(int i) {
        for (int tries = 0; tries < 8; tries++) {
            int l = any_label();
            if (l < 0) break;
            int at = label_line_[static_cast<size_t>(l)];
            if (reach(at, i) + 3 <= 120) return label(l);
        }
        return pick(2) ? "*+" + number(2 + pick(20)) : "*-" + number(pick(60));
    }

    std::string operand(int i, Mode mode, const std::string &mn) {
        bool only_zp = (mn == "stx" && mode == ZPY) || (mn == "sty" && mode == ZPX);
        std::string forced = !only_zp && pick(12) == 0 ? "a:" : "";
        switch (mode) {
        case IMP:
            return "";
        case ACC:
            return pick(2) ? " a" : "";
        case IMM:
            return " #" + byte_expr(i, false);
        case ZP:
            return " " + forced + byte_expr(i, true);
        case ZPX:
            return " " + forced + byte_expr(i, true) + (pick(2) ? ",x" : ", X");
        case ZPY:
            return " " + forced + byte_expr(i, true) + ",y";
        case ABS:
            return " " + forced + word_expr(i);
        case ABX:
            return " " + word_expr(i) + ",x";
        case ABY:
            return " " + word_expr(i) + (pick(2) ? ",y" : ",Y");
        case IZX:
            return " (" + byte_expr(i, false) + ",x)";
        case IZY:
            return " (" + byte_expr(i, false) + "),y";
        case IND:
            return " (" + word_expr(i) + ")";
        case REL:
            return " " + target(i);
        }
        return "";
    }

    std::string mnemonic(const char *mn) {
        std::string text = mn;
        if (pick(4) == 0)
            for (char &c : text)
                c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        return text;
    }

    std::string write_line(size_t at) {
        const Line &line = lines_[at];
        int i = static_cast<int>(at);
        std::string text;
        for (int w = 0; w < 2; w++)
            if (wline_[static_cast<size_t>(w)] == i)
                text += named('w', w) + " = " +
                        number(static_cast<unsigned>(wvalue_[static_cast<size_t>(w)])) + "\n";
        if (line.label >= 0) text += label(line.label) + ":";
        switch (line.kind) {
        case INSTR:
            text += (pick(2) ? "\t" : " ") + mnemonic(line.pair.mn) +
                    operand(i, line.pair.mode, line.pair.mn);
            break;
        case BYTES:
            text += " .byte ";
            for (int k = 0; k < line.count; k++)
                text += (k ? ", " : "") + (pick(5) ? byte_expr(i, false) : std::string("\"a;b\""));
            break;
        case WORDS:
            text += " .word ";
            for (int k = 0; k < line.count; k++)
                text += (k ? "," : "") + word_expr(i);
            break;
        case ZCONST: {
            int k = line.name;
            int other =
                pick(3) == 0 ? static_cast<int>(pick(static_cast<unsigned>(zvalue_.size()))) : -1;
            if (other >= 0 && other != k &&
                zvalue_[static_cast<size_t>(other)] < zvalue_[static_cast<size_t>(k)]) {
                // Defined through another constant, above or below.
                text += z(k) + " = " + z(other) + "+" +
                        number(static_cast<unsigned>(zvalue_[static_cast<size_t>(k)] -
                                                     zvalue_[static_cast<size_t>(other)]));
            } else {
                text +=
                    z(k) + " = " + number(static_cast<unsigned>(zvalue_[static_cast<size_t>(k)]));
            }
            break;
        }
        case KCONST: {
            std::string k = named('k', line.name);
            int l = any_label();
            if (l < 0) {
                text += k + (byte_part_[static_cast<size_t>(line.name)] ? " = <*" : " = *");
            } else if (byte_part_[static_cast<size_t>(line.name)]) {
                text += k + " = " + (pick(2) ? "<" : ">") + label(l);
            } else {
                int m = any_label();
                if (label_line_[static_cast<size_t>(l)] < label_line_[static_cast<size_t>(m)])
                    std::swap(l, m);
                size_t below = static_cast<size_t>(line.name) + 1 + pick(4);
                bool chain = below < byte_part_.size() && !byte_part_[below];
                switch (pick(4)) {
                case 3:
                    // Through a constant below: known early when that one
                    // is a number, not when it holds an address.
                    if (chain) {
                        text +=
                            k + " = " + named('k', static_cast<int>(below)) + "+" + number(pick(9));
                        break;
                    }
                    [[fallthrough]];
                case 0:
                    text += k + " = " + label(l) + "-" + label(m);
                    break;
                case 1:
                    text += k + " = " + label(l) + "+" + number(pick(99));
                    break;
                default:
                    text += k + " = *+" + number(pick(99));
                    break;
                }
            }
            break;
        }
        case BLANK:
            break;
        }
        if (pick(5) == 0) text += " ; note: 'x', \"y\"";
        return text + "\n";
    }

    std::mt19937 rng_;
    std::vector<Line> lines_;
    std::vector<int> label_line_;
    std::vector<int> zvalue_;
    std::vector<int> wvalue_, wline_;
    std::vector<bool> byte_part_; // per k constant: "<" or ">" of a label
};

bool have_reference() {
    return std::system("command -v ca65 >/dev/null 2>&1 && command -v ld65 >/dev/null 2>&1") == 0;
}

// The standard assembler's bytes for each source, linked flat at ORIGIN.
// One run takes them all, each in its own scope, segment and output file,
// as starting the tools is most of the time; false with `log` set when it
// refused.
bool reference(const std::vector<std::string> &sources, std::vector<std::vector<uint8_t>> *out,
               std::string *log) {
    std::string text, memory, segments;
    for (size_t k = 0; k < sources.size(); k++) {
        std::string n = std::to_string(k);
        text.append(".segment \"S").append(n).append("\"\n.scope s").append(n).append("\n");
        text.append(sources[k]).append(".endscope\n");
        memory.append("M").append(n).append(": start = $2000, size = $E000, file = \"r");
        memory.append(n).append(".bin\";\n");
        segments.append("S").append(n).append(": load = M").append(n).append(", type = rw;\n");
    }
    write_text("r.s", text);
    write_text("flat.cfg", std::string("MEMORY {\n")
                               .append(memory)
                               .append("}\nSEGMENTS {\n")
                               .append(segments)
                               .append("}\n"));
    int status = std::system("ca65 -o r.o r.s >r.log 2>&1 && ld65 -C flat.cfg r.o >>r.log 2>&1");
    *log = read_text("r.log");
    out->clear();
    for (size_t k = 0; k < sources.size(); k++)
        out->push_back(read_file(std::string("r").append(std::to_string(k)).append(".bin")));
    return status == 0;
}

std::string hex_dump(const std::vector<uint8_t> &bytes) {
    std::string text;
    char cell[8];
    for (size_t i = 0; i < bytes.size(); i++) {
        snprintf(cell, sizeof cell, "%s%02X", i % 16 ? " " : i ? "\n" : "", bytes[i]);
        text += cell;
    }
    return text;
}

TEST(Asm6502Reference, RandomSourcesGiveTheStandardAssemblersBytes) {
    if (!have_reference()) GTEST_SKIP() << "ca65/ld65 not installed";
    TempDir dir;
    const std::vector<Pair> pairs = every_pair();
    ASSERT_EQ(151u, pairs.size());
    size_t next_pair = 0, compared = 0, failures = 0;
    constexpr unsigned SOURCES = 300, BATCH = 30;
    for (unsigned first = 1; first <= SOURCES && failures < 3; first += BATCH) {
        std::vector<std::string> sources;
        for (unsigned seed = first; seed < first + BATCH; seed++)
            sources.push_back(Generator(seed).source(pairs, next_pair));
        std::vector<std::vector<uint8_t>> theirs;
        std::string log;
        ASSERT_TRUE(reference(sources, &theirs, &log))
            << "seeds from " << first << ": the reference refused\n"
            << log;
        for (unsigned k = 0; k < BATCH; k++) {
            const std::string &source = sources[k];
            unsigned seed = first + k;
            asm_6502_image ours{};
            ASSERT_EQ(0, asm_6502_text("r.s", source.c_str(), &ours)) << "seed " << seed << "\n"
                                                                      << source;
            EXPECT_EQ(ORIGIN, ours.origin);
            compared += theirs[k].size();
            if (theirs[k] != ours.bytes && failures++ < 3)
                ADD_FAILURE() << "seed " << seed << "\n"
                              << source << "reference:\n"
                              << hex_dump(theirs[k]) << "\nours:\n"
                              << hex_dump(ours.bytes);
        }
    }
    EXPECT_GE(next_pair, 151u * 20); // every pair many times over
    EXPECT_GT(compared, 20000u);
}

} // namespace
