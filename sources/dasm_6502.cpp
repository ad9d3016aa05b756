#include "dasm_6502.h"

#include <cctype>
#include <cstdio>
#include <vector>

#include "cpu_6502_debug.h"
#include "mem.h"
#include "sys_atomic.h"
#include "sys_file.h"

// Bytes of one ".byte" line for a cut-off instruction at most.
constexpr size_t DASM_LINE = 96;

// `labelled` (per byte of the range from `origin`, or nullptr) names the
// targets that get a label instead of a number.
struct dasm_range {
    uint32_t origin;
    const std::vector<uint8_t> *labelled;
};

static uint16_t target_of(uint16_t pc, const uint8_t *b) {
    if (opmodes[b[0]] == MODE_REL) return static_cast<uint16_t>(pc + 2 + static_cast<int8_t>(b[1]));
    return static_cast<uint16_t>(b[1] | b[2] << 8);
}

// Branches, JMP and JSR: their operand is where the code goes next.
static bool jumps(uint8_t op) {
    return opmodes[op] == MODE_REL || op == 0x4C || op == 0x20;
}

static void address_text(uint16_t addr, const dasm_range *range, char *text, size_t room) {
    uint32_t at = addr - (range ? range->origin : 0);
    if (range && addr >= range->origin && at < range->labelled->size() && (*range->labelled)[at])
        snprintf(text, room, "L%.4X", addr);
    else
        snprintf(text, room, "$%.4X", addr);
}

static int format(uint16_t pc, const uint8_t *b, size_t avail, const dasm_range *range, char *text,
                  size_t room) {
    uint8_t op = b[0];
    size_t size = static_cast<size_t>(opsizes[op]);
    if (opnames[op][0] == '?' || size > avail) {
        size_t n = opnames[op][0] == '?' ? 1 : avail;
        int used = snprintf(text, room, ".byte $%.2X", op);
        for (size_t i = 1; i < n && used > 0 && static_cast<size_t>(used) < room; i++)
            used += snprintf(text + used, room - static_cast<size_t>(used), ", $%.2X", b[i]);
        return static_cast<int>(n);
    }
    char name[4] = {};
    for (int i = 0; i < 3; i++)
        name[i] = static_cast<char>(tolower(static_cast<unsigned char>(opnames[op][i])));
    unsigned word = size == 3 ? static_cast<unsigned>(b[1] | b[2] << 8) : size == 2 ? b[1] : 0;
    // The assembler would take a page-zero address for the zero-page form.
    const char *force = word < 0x100 ? "a:" : "";
    char target[8];
    if (jumps(op)) address_text(target_of(pc, b), range, target, sizeof target);
    switch (opmodes[op]) {
    case MODE_IMP:
        snprintf(text, room, "%s", name);
        break;
    case MODE_IMM:
        snprintf(text, room, "%s #$%.2X", name, word);
        break;
    case MODE_ZP:
        snprintf(text, room, "%s $%.2X", name, word);
        break;
    case MODE_ZPX:
        snprintf(text, room, "%s $%.2X,x", name, word);
        break;
    case MODE_ZPY:
        snprintf(text, room, "%s $%.2X,y", name, word);
        break;
    case MODE_IZX:
        snprintf(text, room, "%s ($%.2X,x)", name, word);
        break;
    case MODE_IZY:
        snprintf(text, room, "%s ($%.2X),y", name, word);
        break;
    case MODE_IND:
        snprintf(text, room, "%s ($%.4X)", name, word);
        break;
    case MODE_REL:
        snprintf(text, room, "%s %s", name, target);
        break;
    case MODE_ABX:
        snprintf(text, room, "%s %s$%.4X,x", name, force, word);
        break;
    case MODE_ABY:
        snprintf(text, room, "%s %s$%.4X,y", name, force, word);
        break;
    default:
        if (jumps(op))
            snprintf(text, room, "%s %s", name, target);
        else
            snprintf(text, room, "%s %s$%.4X", name, force, word);
        break;
    }
    return static_cast<int>(size);
}

int dasm_6502_line(uint16_t pc, const uint8_t *bytes, size_t avail, char *text, size_t room) {
    return format(pc, bytes, avail, nullptr, text, room);
}

const char *dasm_6502_operand_label(uint16_t pc, const uint8_t *bytes, size_t avail) {
    const uint8_t op = bytes[0];
    const size_t size = static_cast<size_t>(opsizes[op]);
    if (opnames[op][0] == '?' || size < 2 || size > avail || opmodes[op] == MODE_IMM)
        return nullptr;
    const bool word = size == 3 || opmodes[op] == MODE_REL;
    return cpu_6502_debug_label(word ? target_of(pc, bytes) : bytes[1]);
}

int dasm_6502_source(uint16_t origin, const uint8_t *bytes, size_t n, std::string *out) {
    // First walk: where the lines start; the second labels the targets
    // that land on one.
    std::vector<uint8_t> starts(n, 0), labelled(n, 0);
    char text[DASM_LINE * 6];
    for (size_t at = 0; at < n;) {
        starts[at] = 1;
        at += static_cast<size_t>(format(static_cast<uint16_t>(origin + at), bytes + at, n - at,
                                         nullptr, text, sizeof text));
    }
    for (size_t at = 0; at < n;) {
        const uint8_t *b = bytes + at;
        auto pc = static_cast<uint16_t>(origin + at);
        size_t size = static_cast<size_t>(opsizes[b[0]]);
        if (opnames[b[0]][0] == '?' || size > n - at) size = 1;
        if (opnames[b[0]][0] != '?' && size > 1 && jumps(b[0])) {
            uint32_t to = static_cast<uint16_t>(target_of(pc, b) - origin);
            if (target_of(pc, b) >= origin && to < n && starts[to]) labelled[to] = 1;
        }
        at += size;
    }
    char line[DASM_LINE * 6 + 64];
    snprintf(line, sizeof line, "; kestrel disassembly of $%.4X-$%.4X\n        .org $%.4X\n",
             origin, static_cast<unsigned>((origin + n - 1) & 0xFFFF), origin);
    *out = line;
    dasm_range range{origin, &labelled};
    for (size_t at = 0; at < n;) {
        auto pc = static_cast<uint16_t>(origin + at);
        int size = format(pc, bytes + at, n - at, &range, text, sizeof text);
        char label[8] = "";
        if (labelled[at]) snprintf(label, sizeof label, "L%.4X:", pc);
        int used = snprintf(line, sizeof line, "%-8s%-24s; %.4X ", label, text, pc);
        for (int i = 0; i < size && used > 0 && static_cast<size_t>(used) < sizeof line - 4; i++)
            used += snprintf(line + used, sizeof line - static_cast<size_t>(used), " %.2X",
                             bytes[at + static_cast<size_t>(i)]);
        const char *named = dasm_6502_operand_label(pc, bytes + at, n - at);
        if (named && used > 0 && static_cast<size_t>(used) < sizeof line)
            snprintf(line + used, sizeof line - static_cast<size_t>(used), "  (%s)", named);
        if (const char *here = cpu_6502_debug_label(pc)) *out += std::string("; ") + here + ":\n";
        *out += line;
        *out += '\n';
        at += static_cast<size_t>(size);
    }
    return 0;
}

// `input`: the file disassembled when the output's name was made up from
// it, which then replaces only a source an earlier disassembly made.
static int write_source(const char *path, uint16_t origin, const std::vector<uint8_t> &bytes,
                        bool named, const char *input) {
    std::string source;
    dasm_6502_source(origin, bytes.data(), bytes.size(), &source);
    int failed = named ? sys_atomic_write(path, source.data(), source.size())
                       : sys_atomic_write_derived(path, input, source.data(), source.size());
    if (failed) return sys_file_set_why("%s", sys_atomic_error());
    sys_file_list("%zu bytes from $%.4X to '%s'", bytes.size(), origin, path);
    return 0;
}

int dasm_6502_file(const char *path, uint16_t origin, const char *out_path) {
    std::string name = path;
    size_t dot = name.rfind('.');
    size_t slash = name.rfind('/');
    bool has_ext = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    std::string ext = has_ext ? name.substr(dot) : "";
    for (char &c : ext)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    std::vector<uint8_t> bytes;
    if (ext == ".tap") {
        if (sys_file_read_tap(path, &origin, &bytes) != 0) return 1;
    } else {
        FILE *f = fopen(path, "rb");
        if (!f) {
            sys_file_report("dasm: cannot open '%s'", path);
            return 1;
        }
        bytes.resize(0x10000u - origin); // the source may not run past 0xFFFF
        bytes.resize(fread(bytes.data(), 1, bytes.size(), f));
        fclose(f);
    }
    if (out_path) return write_source(out_path, origin, bytes, true, path);
    if (has_ext) name.resize(dot);
    return write_source((name + ".asm").c_str(), origin, bytes, false, path);
}

int dasm_6502_memory(uint16_t start, uint32_t size, const char *out_path, int named) {
    std::vector<uint8_t> bytes(size);
    for (uint32_t i = 0; i < size; i++)
        mem_read((start + i) & 0xFFFF, &bytes[i]);
    return write_source(out_path, start, bytes, named != 0, nullptr);
}
