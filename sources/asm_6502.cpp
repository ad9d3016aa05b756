#include "asm_6502.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "cpu_6502_debug.h"
#include "mem.h"
#include "sys_file.h"

constexpr int ASM_SOURCE_MAX = 4 << 20; // bytes of source text
constexpr int STOP_SYNTAX = 1;          // a syntax error, reported at the line's end
constexpr int STOP_DONE = 2;            // reported already

// One run: the symbol table outlives pass one, everything else is reset
// per pass.
struct asm_run {
    const char *name;
    std::map<std::string, int> symbols;
    std::vector<int8_t> zero_page; // per line, pass one's choice: 1 zero page
    int pass;
    int line;
    int errors;
    long pc;
    int stop;       // STOP_*: the rest of the line is skipped
    bool undefined; // the expression just read named an unknown symbol
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
    if (run.pass != 2) return;
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

// Marks the line bad; readers return 0 and their callers give up.
static long syntax(asm_run &run) {
    if (!run.stop) run.stop = STOP_SYNTAX;
    return 0;
}

// Expressions: sums of products of primaries.

static long expr_sum(asm_run &run, const char *&s);

static long expr_primary(asm_run &run, const char *&s) {
    s = skip_space(s);
    char c = *s;
    if (c == '-') return -expr_primary(run, ++s);
    if (c == '(') {
        long v = expr_sum(run, ++s);
        s = skip_space(s);
        if (run.stop || *s != ')') return syntax(run);
        s++;
        return v;
    }
    if (c == '*') {
        s++;
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
        long v = strtol(s, &end, base);
        if (end == s || ident_char(*end)) return syntax(run);
        s = end;
        return v;
    }
    if (base != 10 || !ident_start(c)) return syntax(run);
    std::string name = read_ident(s);
    auto found = run.symbols.find(name);
    if (found != run.symbols.end()) return found->second;
    if (!run.undefined) run.missing = name;
    run.undefined = true;
    return 0;
}

static long expr_product(asm_run &run, const char *&s) {
    long v = expr_primary(run, s);
    for (;;) {
        const char *t = skip_space(s);
        char op = *t;
        if (op != '*' && op != '/') return v;
        long rhs = expr_primary(run, ++t);
        s = t;
        if (run.stop) return 0;
        if (op == '*') {
            v *= rhs;
        } else if (rhs != 0) {
            v /= rhs;
        } else if (!run.undefined) {
            return syntax(run); // a division by an unknown label waits for pass two
        }
    }
}

static long expr_sum(asm_run &run, const char *&s) {
    long v = expr_product(run, s);
    for (;;) {
        const char *t = skip_space(s);
        char op = *t;
        if (op != '+' && op != '-') return v;
        long rhs = expr_product(run, ++t);
        if (run.stop) return 0;
        v = op == '+' ? v + rhs : v - rhs;
        s = t;
    }
}

// A whole operand: a leading < or > takes the low or high byte of the rest.
// `known` is false while a label is not defined yet (pass one only).
static long expression(asm_run &run, const char *&s, bool *known) {
    run.undefined = false;
    s = skip_space(s);
    char part = 0;
    if (*s == '<' || *s == '>') part = *s++;
    long v = expr_sum(run, s);
    if (run.stop) return 0;
    if (part == '<') v &= 0xFF;
    if (part == '>') v = (v >> 8) & 0xFF;
    if (known) *known = !run.undefined;
    if (run.undefined && run.pass == 2) {
        fail(run, "undefined label '%s'", run.missing.c_str());
        run.stop = STOP_DONE;
        return 0;
    }
    return v;
}

// False (reported) outside low..high.
static bool in_range(asm_run &run, long v, long low, long high) {
    if (v >= low && v <= high) return true;
    fail(run, "value too large: %ld", v);
    run.stop = STOP_DONE;
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
        run.image[run.pc] = static_cast<uint8_t>(byte);
        run.used[run.pc] = 1;
    }
    run.pc++;
}

static void define(asm_run &run, const std::string &name, long value, bool known) {
    if (run.pass == 1) {
        if (run.symbols.count(name)) {
            fail_now(run, "label '%s' defined twice", name.c_str());
            return;
        }
        // A constant that waits for a later label gets its value in pass two.
        if (known) run.symbols[name] = static_cast<int>(value);
        return;
    }
    run.symbols[name] = static_cast<int>(value);
}

static bool at_end(const char *s) {
    return *skip_space(s) == '\0';
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

static void directive(asm_run &run, const char *s) {
    const char *t = s + 1;
    std::string name = lower(read_ident(t));
    bool known = true;
    if (name == "org") {
        long v = expression(run, t, &known);
        if (run.stop || !in_range(run, v, 0, 0xFFFF)) return;
        if (known) run.pc = v; // pass two names the missing label
    } else if (name == "byte" || name == "word" || name == "text") {
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
                if (name == "byte" && in_range(run, v, -128, 0xFF)) {
                    emit(run, v);
                } else if (name == "word" && in_range(run, v, -32768, 0xFFFF)) {
                    emit(run, v & 0xFF);
                    emit(run, (v >> 8) & 0xFF);
                }
            }
            t = skip_space(t);
            if (run.stop || *t == '\0') return;
            if (*t != ',') return (void)syntax(run);
            t++;
        }
    } else {
        fail(run, "unknown directive '.%s'", name.c_str());
        return;
    }
    if (!at_end(t)) syntax(run);
}

// Indexed and plain operands: the zero-page form when pass one knew the
// value to fit, else the absolute one; branches take their offset.
static void plain_operand(asm_run &run, const std::string &mn, const char *s) {
    bool forced = (s[0] == 'a' || s[0] == 'A') && s[1] == ':';
    if (forced) s += 2;
    bool known = true;
    long v = expression(run, s, &known);
    char index = run.stop ? 0 : read_index(run, s);
    if (run.stop) return;
    if (!at_end(s)) return (void)syntax(run);
    int branch = find_opcode(mn, MODE_REL);
    if (branch >= 0 && !index && !forced) {
        // Offsets wrap with the address space, as the processor adds them.
        long offset = (v - (run.pc + 2)) & 0xFFFF;
        if (offset >= 0x8000) offset -= 0x10000;
        if (run.pass == 2 && (offset < -128 || offset > 127)) {
            fail(run, "branch out of range: %ld bytes", offset);
            return;
        }
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
        bool fits = known && v >= 0 && v <= 0xFF;
        run.zero_page[line] = zp_op >= 0 && !forced && (abs_op < 0 || fits);
    }
    if (run.zero_page[line]) {
        if (!in_range(run, v, 0, 0xFF)) return;
        emit(run, zp_op);
        emit(run, v);
        return;
    }
    if (!in_range(run, v, 0, 0xFFFF)) return;
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
        if (!in_range(run, v, 0, 0xFFFF)) return;
        emit(run, v & 0xFF);
        emit(run, (v >> 8) & 0xFF);
        return;
    }
    if (!in_range(run, v, mode == MODE_IMM ? -128 : 0, 0xFF)) return;
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
        if (*after == '=') {
            after++;
            bool known = true;
            long v = expression(run, after, &known);
            if (run.stop) return;
            if (!at_end(after)) return (void)syntax(run);
            define(run, name, v, known);
            return;
        }
        if (colon || (s == line.c_str() && !is_mnemonic(name))) {
            define(run, name, run.pc, true);
            s = after;
        }
    }
    if (*s == '*') {
        const char *t = skip_space(s + 1);
        if (*t != '=') return (void)syntax(run);
        std::string org = ".org " + std::string(t + 1);
        return directive(run, org.c_str());
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
    run.pc = 0;
    run.line = 0;
    const char *p = source;
    while (*p) {
        const char *end = strchr(p, '\n');
        size_t len = end ? static_cast<size_t>(end - p) : strlen(p);
        run.line++;
        if (run.zero_page.size() <= static_cast<size_t>(run.line))
            run.zero_page.resize(run.line + 1);
        run.stop = 0;
        assemble_line(run, strip_comment(p, len));
        if (run.stop == STOP_SYNTAX) fail(run, "syntax error");
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

int asm_6502_file(const char *path, int to_memory) {
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
    std::string out = path;
    size_t dot = out.rfind('.');
    size_t slash = out.rfind('/');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) out.resize(dot);
    out += ".bin";
    FILE *o = fopen(out.c_str(), "wb");
    size_t written =
        o && !image.bytes.empty() ? fwrite(image.bytes.data(), 1, image.bytes.size(), o) : 0;
    if (!o || (o && fclose(o) != 0) || written != image.bytes.size()) {
        sys_file_report("asm: unable to write '%s'", out.c_str());
        return sys_file_set_why("'%s' cannot be written", out.c_str());
    }
    sys_file_list("%zu bytes from $%.4X to '%s'", image.bytes.size(), image.origin, out.c_str());
    return 0;
}
