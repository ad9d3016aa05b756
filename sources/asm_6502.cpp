#include "asm_6502.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "cpu_6502_debug.h"
#include "mem.h"
#include "sys_atomic.h"
#include "sys_file.h"

constexpr int ASM_SOURCE_MAX = 4 << 20; // bytes of source text
constexpr int ASM_NEST_MAX = 64;        // parentheses, signs and later constants in one operand

// Why a line stopped; all but STOP_DONE are reported at the line's end.
constexpr int STOP_SYNTAX = 1;
constexpr int STOP_DONE = 2; // reported already
constexpr int STOP_DEEP = 3;
constexpr int STOP_NUMBER = 4;
constexpr int STOP_OVERFLOW = 5;

constexpr int LATER_WAITING = 0;
constexpr int LATER_BUSY = 1; // being worked out: meeting it again is a loop
constexpr int LATER_FAILED = 2;

// A constant that names something defined further down. It is worked out
// where it is first used: in pass one once everything it names is known,
// addresses only if they were defined above it (the standard assemblers'
// rule, so that ported code keeps its sizes); in pass two in any case.
struct asm_later {
    std::string text; // the expression after "="
    long pc;          // "*" on its line
    int line;
    bool byte_part; // "<" or ">": one byte wide whatever the label
    int state;      // LATER_*
    size_t tried;   // pass one's symbol count when it last failed
};

// One run: the symbols and pass one's choices outlive pass one; the rest is
// reset per pass.
struct asm_run {
    const char *name;
    std::map<std::string, long> symbols;
    std::map<std::string, asm_later> later;
    // Labels, and constants that hold an address (their count of labels and
    // "*" is not 0): {line defined, that count}.
    std::map<std::string, std::pair<int, long>> address;
    std::vector<int8_t> choice; // per line, pass one's: 1 zero page, or origin taken
    std::vector<long> line_end; // per line, pass one's address after it
    int pass;
    int line;
    int errors;
    long pc;
    int stop;     // STOP_*: the rest of the line is skipped
    bool quiet;   // working out a later constant: its own line reports it
    bool overlap; // this line wrote over placed bytes (said once)
    // The operand being read:
    int depth;
    int horizon;    // pass one, working out a later constant: its line
    long rel;       // the value just read holds that many addresses
    bool undefined; // it named an unknown symbol
    bool byte_part; // pass one may size it as one byte
    std::string missing;
    std::vector<uint8_t> image; // 64 KiB
    std::vector<uint8_t> used;
};

static void report(asm_run &run, const char *fmt, va_list ap) {
    char reason[256];
    vsnprintf(reason, sizeof reason, fmt, ap);
    run.errors++;
    sys_file_report("%s:%d: %s", run.name, run.line, reason);
}

// Pass two reports the line's faults; pass one's guesses may not be faults.
__attribute__((format(printf, 2, 3))) static void fail(asm_run &run, const char *fmt, ...) {
    if (run.pass != 2 || run.quiet) return;
    va_list ap;
    va_start(ap, fmt);
    report(run, fmt, ap);
    va_end(ap);
}

// Faults that only pass one can see.
__attribute__((format(printf, 2, 3))) static void fail_now(asm_run &run, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    report(run, fmt, ap);
    va_end(ap);
}

static const char *skip_space(const char *s) {
    while (*s == ' ' || *s == '\t')
        s++;
    return s;
}

static bool ident_start(char c) {
    return isalpha(static_cast<unsigned char>(c)) || c == '_';
}
static bool ident_char(char c) {
    return isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.';
}

static std::string read_ident(const char *&s) {
    const char *start = s;
    while (ident_char(*s))
        s++;
    return std::string(start, s);
}

static std::string lower(std::string text) {
    for (char &c : text)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

// Opcode per lower-case mnemonic and addressing mode, -1 where there is none.
static const std::map<std::string, std::array<int, 12>> &opcode_index() {
    static const std::map<std::string, std::array<int, 12>> index = [] {
        std::map<std::string, std::array<int, 12>> made;
        for (int op = 0; op < 256; op++) {
            if (opnames[op][0] == '?') continue;
            auto [at, fresh] = made.try_emplace(lower(opnames[op]));
            if (fresh) at->second.fill(-1);
            at->second[static_cast<size_t>(opmodes[op])] = op;
        }
        return made;
    }();
    return index;
}

static int find_opcode(const std::string &name, int mode) {
    auto found = opcode_index().find(lower(name));
    return found == opcode_index().end() ? -1 : found->second[static_cast<size_t>(mode)];
}

static bool is_mnemonic(const std::string &name) {
    return opcode_index().count(lower(name)) > 0;
}

// Marks the line stopped; readers return 0 and their callers give up.
static long stop(asm_run &run, int why) {
    if (!run.stop) run.stop = why;
    return 0;
}

static long syntax(asm_run &run) {
    return stop(run, STOP_SYNTAX);
}

// Counts one level of nesting for as long as it lives.
struct asm_nest {
    asm_run &run;
    explicit asm_nest(asm_run &r) : run(r) { run.depth++; }
    ~asm_nest() { run.depth--; }
    asm_nest(const asm_nest &) = delete;
    asm_nest &operator=(const asm_nest &) = delete;
    bool too_deep() const { return run.depth > ASM_NEST_MAX; }
};

// Expressions: sums of products of primaries, in 64 bits; a result that
// does not fit is an error, never a wrapped value.

static long expression(asm_run &run, const char *&s, bool *known);
static long expr_sum(asm_run &run, const char *&s);

// Pass two's value of a constant that waited for a later label, worked out
// in its own line's setting; its own line reports what is wrong with it.
static bool resolve_later(asm_run &run, const std::string &name) {
    auto found = run.later.find(name);
    if (found == run.later.end() || found->second.state != LATER_WAITING) return false;
    asm_later &later = found->second;
    if (run.pass == 1 && later.tried == run.symbols.size()) return false; // nothing new yet
    later.state = LATER_BUSY;
    const bool quiet = run.quiet, undefined = run.undefined, byte_part = run.byte_part;
    const long pc = run.pc;
    const int stopped = run.stop, horizon = run.horizon;
    std::string missing = run.missing;
    run.quiet = true;
    run.pc = later.pc;
    run.stop = 0;
    run.horizon = run.pass == 1 ? later.line : 0;
    const char *s = later.text.c_str();
    bool known = false;
    long v = expression(run, s, &known);
    bool ok = !run.stop && known;
    run.stop = run.stop == STOP_DEEP ? STOP_DEEP : stopped;
    run.quiet = quiet;
    run.pc = pc;
    run.horizon = horizon;
    run.undefined = undefined;
    run.byte_part = byte_part;
    run.missing = missing;
    later.state = ok || run.pass == 1 ? LATER_WAITING : LATER_FAILED;
    if (ok) {
        run.symbols[name] = v;
        if (run.rel && run.pass == 1) run.address[name] = {later.line, run.rel};
    } else {
        later.tried = run.symbols.size();
    }
    return ok;
}

static long expr_primary(asm_run &run, const char *&s) {
    asm_nest nest(run);
    if (nest.too_deep()) return stop(run, STOP_DEEP);
    s = skip_space(s);
    char c = *s;
    if (c == '-') {
        long v = expr_primary(run, ++s);
        if (v == LONG_MIN) return stop(run, STOP_OVERFLOW);
        run.rel = -run.rel;
        return -v;
    }
    if (c == '(') {
        long v = expr_sum(run, ++s);
        s = skip_space(s);
        if (run.stop || *s != ')') return syntax(run);
        s++;
        return v;
    }
    run.rel = 0;
    if (c == '*') {
        s++;
        run.rel = 1;
        return run.pc;
    }
    if (c == '\'' && s[1] && s[2] == '\'') {
        long v = static_cast<unsigned char>(s[1]);
        s += 3;
        return v;
    }
    int base = 10;
    if (c == '$' || c == '%') {
        base = c == '$' ? 16 : 2;
        s++;
    }
    if (isxdigit(static_cast<unsigned char>(*s)) && (base != 10 || isdigit(*s))) {
        char *end = nullptr;
        errno = 0;
        long v = strtol(s, &end, base);
        if (end == s || ident_char(*end)) return syntax(run);
        if (errno == ERANGE) return stop(run, STOP_NUMBER);
        s = end;
        return v;
    }
    if (base != 10 || !ident_start(c)) return syntax(run);
    std::string name = read_ident(s);
    auto found = run.symbols.find(name);
    if (found == run.symbols.end() && resolve_later(run, name)) found = run.symbols.find(name);
    // Working out a constant in pass one, an address defined below it is
    // not known yet.
    auto address = run.address.find(name);
    bool hidden =
        run.horizon && address != run.address.end() && address->second.first > run.horizon;
    if (found != run.symbols.end() && !hidden) {
        run.rel = address == run.address.end() ? 0 : address->second.second;
        return found->second;
    }
    run.rel = 0;
    if (run.stop) return 0;
    if (!run.undefined) run.missing = name;
    run.undefined = true;
    return 0;
}

// A quotient of an address is still one, a product only when it is one
// times it: the standard assemblers take a scaled address for a number.
static long product_rel(long rel, char op, long rhs_rel, long v, long rhs) {
    if (rhs_rel) return op == '*' && v == 1 && !rel ? rhs_rel : 0;
    return op == '/' || rhs == 1 ? rel : 0;
}

static long expr_product(asm_run &run, const char *&s) {
    long v = expr_primary(run, s);
    long rel = run.rel;
    for (;;) {
        const char *t = skip_space(s);
        char op = *t;
        if (op != '*' && op != '/') {
            run.rel = rel;
            return v;
        }
        long rhs = expr_primary(run, ++t);
        s = t;
        if (run.stop) return 0;
        rel = product_rel(rel, op, run.rel, v, rhs);
        if (op == '*') {
            if (__builtin_mul_overflow(v, rhs, &v)) return stop(run, STOP_OVERFLOW);
        } else if (rhs == -1 && v == LONG_MIN) {
            return stop(run, STOP_OVERFLOW);
        } else if (rhs != 0) {
            v /= rhs;
        } else if (!run.undefined) {
            return syntax(run); // a division by an unknown label waits for pass two
        }
    }
}

static long expr_sum(asm_run &run, const char *&s) {
    long v = expr_product(run, s);
    long rel = run.rel;
    for (;;) {
        const char *t = skip_space(s);
        char op = *t;
        if (op != '+' && op != '-') {
            run.rel = rel;
            return v;
        }
        long rhs = expr_product(run, ++t);
        if (run.stop) return 0;
        if (op == '+' ? __builtin_add_overflow(v, rhs, &v) : __builtin_sub_overflow(v, rhs, &v))
            return stop(run, STOP_OVERFLOW);
        if (op == '+' ? __builtin_add_overflow(rel, run.rel, &rel)
                      : __builtin_sub_overflow(rel, run.rel, &rel))
            rel = 1;
        s = t;
    }
}

// A name alone that stands for a byte part still waiting for its label.
static bool later_byte(asm_run &run, const char *from, const char *to) {
    from = skip_space(from);
    if (!ident_start(*from)) return false;
    const char *s = from;
    std::string name = read_ident(s);
    if (skip_space(s) < to) return false;
    auto found = run.later.find(name);
    return found != run.later.end() && found->second.byte_part;
}

// A whole operand: a leading < or > takes the low or high byte of the rest.
// `known` is false while a label is not defined yet (pass one only);
// `run.byte_part` then says whether it is one byte wide all the same.
static long expression(asm_run &run, const char *&s, bool *known) {
    run.undefined = false;
    run.byte_part = false;
    s = skip_space(s);
    const char *start = s;
    char part = 0;
    if (*s == '<' || *s == '>') part = *s++;
    long v = expr_sum(run, s);
    if (run.stop) return 0;
    if (part == '<') v &= 0xFF;
    if (part == '>') v = (v >> 8) & 0xFF;
    *known = !run.undefined;
    run.byte_part = part || (run.undefined && later_byte(run, start, s));
    if (run.undefined && run.pass == 2 && !run.quiet) {
        fail(run, "undefined label '%s'", run.missing.c_str());
        run.stop = STOP_DONE;
        return 0;
    }
    return v;
}

// Reports a value outside low..high; the line keeps its size all the same,
// so that an error never moves the labels after it. Pass one may hold a
// guess for a later label and says nothing.
static bool in_range(asm_run &run, long v, long low, long high) {
    if (run.pass == 1 || (v >= low && v <= high)) return true;
    if (v > high)
        fail(run, "value too large: %ld", v);
    else
        fail(run, "value too small: %ld", v);
    return false;
}

static void emit(asm_run &run, long byte) {
    if (run.stop) return;
    if (run.pc > 0xFFFF) {
        fail(run, "code runs past $FFFF");
        run.stop = STOP_DONE;
        return;
    }
    if (run.pass == 2) {
        if (run.used[run.pc] && !run.overlap) {
            fail(run, "$%04lX is written twice", run.pc);
            run.overlap = true;
        }
        run.image[run.pc] = static_cast<uint8_t>(byte);
        run.used[run.pc] = 1;
    }
    run.pc++;
}

static bool at_end(const char *s) {
    return *skip_space(s) == '\0';
}

static void define_label(asm_run &run, const std::string &name) {
    if (run.pass == 2) {
        run.symbols[name] = run.pc;
    } else if (run.symbols.count(name) || run.later.count(name)) {
        fail_now(run, "label '%s' defined twice", name.c_str());
    } else {
        run.symbols[name] = run.pc;
        run.address[name] = {run.line, 1};
    }
}

// "name = expression": a value that waits for a later label is kept for
// pass two.
static void define_constant(asm_run &run, const std::string &name, const char *s) {
    const char *text = skip_space(s);
    bool known = true;
    long v = expression(run, s, &known);
    if (run.stop) return;
    if (!at_end(s)) return (void)syntax(run);
    if (run.pass == 2) {
        run.symbols[name] = v;
    } else if (run.symbols.count(name) || run.later.count(name)) {
        fail_now(run, "label '%s' defined twice", name.c_str());
    } else if (known) {
        run.symbols[name] = v;
        if (run.rel) run.address[name] = {run.line, run.rel};
    } else {
        run.later[name] = {text, run.pc, run.line, run.byte_part, LATER_WAITING, SIZE_MAX};
    }
}

// ",x" or ",y" after an operand: 'x', 'y', or 0 when there is none.
static char read_index(asm_run &run, const char *&s) {
    s = skip_space(s);
    if (*s != ',') return 0;
    s = skip_space(s + 1);
    char r = static_cast<char>(tolower(static_cast<unsigned char>(*s)));
    if ((r != 'x' && r != 'y') || ident_char(s[1])) return static_cast<char>(syntax(run));
    s++;
    return r;
}

// An origin must be known when its line is reached: every label after it
// hangs on it.
static void origin(asm_run &run, const char *t) {
    bool known = true;
    long v = expression(run, t, &known);
    if (run.stop) return;
    if (!at_end(t)) return (void)syntax(run);
    size_t line = static_cast<size_t>(run.line);
    if (run.pass == 1) {
        if (!known) {
            fail_now(run, "the origin depends on a later label '%s'", run.missing.c_str());
            return;
        }
        run.choice[line] = v >= 0 && v <= 0xFFFF;
    }
    if (in_range(run, v, 0, 0xFFFF) && run.choice[line]) run.pc = v;
}

static void directive(asm_run &run, const char *s) {
    const char *t = s + 1;
    std::string name = lower(read_ident(t));
    bool known = true;
    if (name == "org") return origin(run, t);
    if (name != "byte" && name != "word" && name != "text") {
        fail(run, "unknown directive '.%s'", name.c_str());
        return;
    }
    for (;;) {
        t = skip_space(t);
        if (*t == '"') {
            const char *close = strchr(t + 1, '"');
            if (!close) return (void)syntax(run);
            for (const char *c = t + 1; c < close; c++)
                emit(run, static_cast<unsigned char>(*c));
            t = close + 1;
        } else if (name == "text") {
            return (void)syntax(run);
        } else {
            long v = expression(run, t, &known);
            if (run.stop) return;
            if (name == "byte") {
                in_range(run, v, -128, 0xFF);
                emit(run, v & 0xFF);
            } else {
                in_range(run, v, -32768, 0xFFFF);
                emit(run, v & 0xFF);
                emit(run, (v >> 8) & 0xFF);
            }
        }
        t = skip_space(t);
        if (run.stop || *t == '\0') return;
        if (*t != ',') return (void)syntax(run);
        t++;
    }
}

// Indexed and plain operands: the zero-page form when pass one knew the
// operand to be one byte wide, else the absolute one; branches take their
// offset. Every choice hangs on the text alone or on pass one's record, so
// that both passes give each line the same size.
static void plain_operand(asm_run &run, const std::string &mn, const char *s) {
    bool forced = (s[0] == 'a' || s[0] == 'A') && s[1] == ':';
    if (forced) s += 2;
    bool known = true;
    long v = expression(run, s, &known);
    bool byte_part = run.byte_part;
    char index = run.stop ? 0 : read_index(run, s);
    if (run.stop) return;
    if (!at_end(s)) return (void)syntax(run);
    int branch = find_opcode(mn, MODE_REL);
    if (branch >= 0 && !index && !forced) {
        // Offsets wrap with the address space, as the processor adds them.
        long offset = (v - (run.pc + 2)) & 0xFFFF;
        if (offset >= 0x8000) offset -= 0x10000;
        if (offset < -128 || offset > 127) fail(run, "branch out of range: %ld bytes", offset);
        emit(run, branch);
        emit(run, offset & 0xFF);
        return;
    }
    int zp_mode = index == 'x' ? MODE_ZPX : index == 'y' ? MODE_ZPY : MODE_ZP;
    int abs_mode = index == 'x' ? MODE_ABX : index == 'y' ? MODE_ABY : MODE_ABS;
    int zp_op = find_opcode(mn, zp_mode);
    int abs_op = find_opcode(mn, abs_mode);
    if ((forced && abs_op < 0) || (zp_op < 0 && abs_op < 0)) {
        fail(run, "bad mode for this opcode");
        return;
    }
    size_t line = static_cast<size_t>(run.line);
    if (run.pass == 1) {
        bool fits = byte_part || (known && v >= 0 && v <= 0xFF);
        run.choice[line] = zp_op >= 0 && !forced && (abs_op < 0 || fits);
    }
    if (run.choice[line]) {
        in_range(run, v, 0, 0xFF);
        emit(run, zp_op);
        emit(run, v & 0xFF);
        return;
    }
    in_range(run, v, 0, 0xFFFF);
    emit(run, abs_op);
    emit(run, v & 0xFF);
    emit(run, (v >> 8) & 0xFF);
}

static void instruction(asm_run &run, const std::string &mn, const char *s) {
    s = skip_space(s);
    bool known = true;
    int mode = MODE_IMP;
    long v = 0;
    if (*s == '\0' || ((*s == 'a' || *s == 'A') && at_end(s + 1))) {
        mode = MODE_IMP;
    } else if (*s == '#') {
        s++;
        v = expression(run, s, &known);
        if (run.stop) return;
        if (!at_end(s)) return (void)syntax(run);
        mode = MODE_IMM;
    } else if (*s == '(') {
        // "(e,x)", "(e),y" or "(e)"; anything else is an expression that
        // happens to open with a parenthesis.
        const char *t = s + 1;
        v = expression(run, t, &known);
        if (run.stop) return;
        t = skip_space(t);
        char index = 0;
        if (*t == ',') {
            index = read_index(run, t);
            t = skip_space(t);
            if (index != 'x' || *t != ')' || !at_end(t + 1)) return (void)syntax(run);
            mode = MODE_IZX;
        } else if (*t == ')') {
            t++;
            index = read_index(run, t);
            if (run.stop) return;
            if (index == 'y' && at_end(t))
                mode = MODE_IZY;
            else if (!index && at_end(t))
                mode = MODE_IND;
            else
                return plain_operand(run, mn, s);
        } else {
            return (void)syntax(run);
        }
    } else {
        return plain_operand(run, mn, s);
    }
    int op = find_opcode(mn, mode);
    if (op < 0) {
        fail(run, "bad mode for this opcode");
        return;
    }
    emit(run, op);
    if (mode == MODE_IMP) return;
    if (mode == MODE_IND) {
        in_range(run, v, 0, 0xFFFF);
        emit(run, v & 0xFF);
        emit(run, (v >> 8) & 0xFF);
        return;
    }
    in_range(run, v, mode == MODE_IMM ? -128 : 0, 0xFF);
    emit(run, v & 0xFF);
}

// Drops the comment; a ';' inside quotes stays.
static std::string strip_comment(const char *text, size_t len) {
    std::string line;
    bool in_string = false;
    for (size_t i = 0; i < len; i++) {
        char c = text[i];
        if (c == '\'' && !in_string && i + 2 < len && text[i + 2] == '\'') {
            line.append(text + i, 3);
            i += 2;
            continue;
        }
        if (c == '"') in_string = !in_string;
        if (c == ';' && !in_string) break;
        if (c == '\r') continue;
        line += c;
    }
    return line;
}

static void assemble_line(asm_run &run, const std::string &line) {
    const char *s = skip_space(line.c_str());
    if (ident_start(*s)) {
        const char *t = s;
        std::string name = read_ident(t);
        bool colon = *t == ':';
        const char *after = skip_space(colon ? t + 1 : t);
        if (*after == '=') return define_constant(run, name, after + 1);
        if (colon || (s == line.c_str() && !is_mnemonic(name))) {
            define_label(run, name);
            s = after;
        }
    }
    if (*s == '*') {
        const char *t = skip_space(s + 1);
        if (*t != '=') return (void)syntax(run);
        return origin(run, t + 1);
    }
    if (*s == '\0') return;
    if (*s == '.') return directive(run, s);
    const char *t = s;
    std::string mn = read_ident(t);
    if (!is_mnemonic(mn)) {
        fail(run, "unknown mnemonic '%s'", mn.c_str());
        return;
    }
    if (*t != '\0' && *t != ' ' && *t != '\t') return (void)syntax(run);
    instruction(run, mn, t);
}

static void run_pass(asm_run &run, const char *source) {
    static const char *const why[] = {nullptr,
                                      "syntax error",
                                      nullptr,
                                      "expression nested too deeply",
                                      "number too large",
                                      "arithmetic overflow"};
    run.pc = 0;
    run.line = 0;
    const char *p = source;
    while (*p) {
        const char *end = strchr(p, '\n');
        size_t len = end ? static_cast<size_t>(end - p) : strlen(p);
        size_t line = static_cast<size_t>(++run.line);
        if (run.choice.size() <= line) {
            run.choice.resize(line + 1);
            run.line_end.resize(line + 1);
        }
        run.stop = 0;
        run.overlap = false;
        assemble_line(run, strip_comment(p, len));
        if (run.stop && why[run.stop]) fail(run, "%s", why[run.stop]);
        // Each line's size hangs on pass one's choices alone; should the
        // passes ever disagree, the code after this line would be wrong.
        if (run.pass == 1)
            run.line_end[line] = run.pc;
        else if (!run.errors && run.pc != run.line_end[line])
            fail(run, "internal error: this line ends at $%04lX, not $%04lX as first measured",
                 run.pc, run.line_end[line]);
        p += len;
        if (*p == '\n') p++;
    }
}

int asm_6502_text(const char *name, const char *source, asm_6502_image *out) {
    asm_run run{};
    run.name = name;
    run.image.assign(0x10000, 0);
    run.used.assign(0x10000, 0);
    for (run.pass = 1; run.pass <= 2; run.pass++)
        run_pass(run, source);
    if (run.errors) return 1;
    int first = 0, last = 0xFFFF;
    while (first <= 0xFFFF && !run.used[first])
        first++;
    while (last >= first && !run.used[last])
        last--;
    if (first > 0xFFFF) first = 0, last = -1; // nothing placed
    out->origin = static_cast<uint16_t>(first & 0xFFFF);
    out->bytes.assign(run.image.begin() + first, run.image.begin() + last + 1);
    out->used.assign(run.used.begin() + first, run.used.begin() + last + 1);
    return 0;
}

int asm_6502_file(const char *path, int to_memory, const char *out_path) {
    sys_file_set_why("%s", "");
    FILE *f = fopen(path, "rb");
    if (!f) {
        sys_file_set_why_errno(errno);
        sys_file_report("asm: cannot open '%s'", path);
        return 1;
    }
    std::string source(ASM_SOURCE_MAX, '\0');
    size_t n = fread(source.data(), 1, source.size(), f);
    fclose(f);
    source.resize(n);
    asm_6502_image image;
    if (asm_6502_text(path, source.c_str(), &image) != 0)
        return sys_file_set_why("the source has errors (listed above); nothing written");
    if (to_memory) {
        for (size_t i = 0; i < image.bytes.size(); i++)
            if (image.used[i]) mem_write(static_cast<unsigned>(image.origin + i), image.bytes[i]);
        sys_file_list("%zu bytes from $%.4X into memory", image.bytes.size(), image.origin);
        return 0;
    }
    std::string out = out_path ? out_path : path;
    if (!out_path) {
        size_t dot = out.rfind('.');
        size_t slash = out.rfind('/');
        if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
            out.resize(dot);
        out += ".bin";
    }
    // A name made up here may not replace a binary the user had.
    int failed = out_path ? sys_atomic_write(out.c_str(), image.bytes.data(), image.bytes.size())
                          : sys_atomic_write_derived(out.c_str(), path, image.bytes.data(),
                                                     image.bytes.size());
    if (failed) return sys_file_set_why("%s", sys_atomic_error());
    sys_file_list("%zu bytes from $%.4X to '%s'", image.bytes.size(), image.origin, out.c_str());
    return 0;
}
