#include "sys_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cctype>
#include <cstring>
#include <iterator>
#include <new>
#include <vector>

#include "log.h"
#include "mem.h"
#include "ram.h"
#include "sys_atomic.h"
#include "sys_cfg.h"
#include "sys_file_txt.h"
#include "sys_shot.h"
#include "via_6522_tapein.h"

constexpr unsigned BASIC_START = 0x0501;
constexpr unsigned PTR_START = 0x009A;
constexpr unsigned PTR_END = 0x009C;
// A ".bas" image ends at most at 0xFFFE, so its end pointer stays 16-bit.
constexpr size_t BAS_MAX = 0xFFFF - BASIC_START;
constexpr unsigned HRS_BASE = 0xA000;
constexpr unsigned HRS_SIZE = 8000;
constexpr size_t BIN_MAX = 0x10000; // more would wrap over its own start

constexpr uint32_t TAPE_SYNC_PATTERN = 0x16161624;
constexpr uint8_t TAPE_TYPE_BASIC = 0x00;
constexpr uint8_t TAPE_TYPE_ARRAY = 0x40;
constexpr uint8_t TAPE_TYPE_MACHINE = 0x80;
constexpr int TAPE_NAME_SHOWN = 32; // longer names are listed cut, with "..."

constexpr int LIST_LINE_MAX = 256; // one listing line

constexpr int WHY_MAX = 128; // the console shows 126 characters of a line

static struct {
    sys_file_log_fn logger;
    char why[WHY_MAX];
    int skipped;                  // by the last raw load
    std::vector<uint8_t> scratch; // sys_file_check's memory; empty otherwise
} sys_file;

static FILE *open_file(const char *path, const char *mode) {
    FILE *f = fopen(path, mode);
    if (!f) sys_file_set_why_errno(errno);
    return f;
}

struct tape_header {
    uint8_t type;
    uint8_t autorun;
    uint16_t end; // just past the last data byte when we write it
    uint16_t start;
};

static uint16_t peek_word(const uint8_t *mem, unsigned addr) {
    return static_cast<uint16_t>(mem[addr & 0xFFFF] | mem[(addr + 1) & 0xFFFF] << 8);
}

static void poke_word(uint8_t *mem, unsigned addr, unsigned value) {
    mem[addr & 0xFFFF] = static_cast<uint8_t>(value);
    mem[(addr + 1) & 0xFFFF] = static_cast<uint8_t>(value >> 8);
}

static void append_bus(std::vector<uint8_t> &bytes, unsigned start, unsigned size) {
    for (unsigned i = 0; i < size; i++) {
        uint8_t byte = 0;
        mem_read((start + i) & 0xFFFF, &byte);
        bytes.push_back(byte);
    }
}

// Programs are saved from RAM, where the loaders put them: above 0xC000 the
// bus shows the system ROM after reset, and the I/O page reads have effects.
static void append_ram(std::vector<uint8_t> &bytes, unsigned start, unsigned size) {
    const uint8_t *mem = ram_getptr();
    for (unsigned i = 0; i < size; i++)
        bytes.push_back(mem[(start + i) & 0xFFFF]);
}

static void append_tape_header(std::vector<uint8_t> &bytes, uint8_t type, unsigned start,
                               unsigned end) {
    const uint8_t end_hi = static_cast<uint8_t>(end >> 8), end_lo = static_cast<uint8_t>(end);
    const uint8_t start_hi = static_cast<uint8_t>(start >> 8),
                  start_lo = static_cast<uint8_t>(start);
    const uint8_t header[] = {
        0x16,   0x16,   0x16,     0x24,     // sync run, sync end
        0x00,   0x00,   type,     0x00,     // reserved, type, auto-run off
        end_hi, end_lo, start_hi, start_lo, // high byte first
        0x00,   0x00,                       // reserved, empty name
    };
    static_assert(sizeof header == 14);
    // Byte by byte: g++ 12 misreads a range insert into an empty vector.
    for (uint8_t b : header)
        bytes.push_back(b);
}

static int write_whole(const char *path, const std::vector<uint8_t> &bytes) {
    errno = 0;
    if (sys_atomic_write(path, bytes.data(), bytes.size()) != 0) {
        sys_file_set_why("%s", sys_atomic_error());
        sys_file_report("unable to write '%s'", path);
        return 1;
    }
    return 0;
}

// Reads at most `cap` bytes; 1 on a read error (a directory, say).
static int read_up_to(FILE *f, std::vector<uint8_t> &bytes, size_t cap) {
    bytes.resize(cap);
    size_t n = fread(bytes.data(), 1, cap, f);
    bytes.resize(n);
    return ferror(f) ? 1 : 0;
}

// Reads on to just past the next 16 16 16 24; false when the file ends first.
static bool find_sync(FILE *f) {
    uint32_t shift = 0;
    for (int c = getc(f); c != EOF; c = getc(f)) {
        shift = shift << 8 | static_cast<uint32_t>(c);
        if (shift == TAPE_SYNC_PATTERN) return true;
    }
    return false;
}

static bool read_tape_header(FILE *f, tape_header *h) {
    int b[9];
    for (int &x : b) {
        x = getc(f);
        if (x == EOF) return false;
    }
    h->type = static_cast<uint8_t>(b[2]);
    h->autorun = static_cast<uint8_t>(b[3]);
    h->end = static_cast<uint16_t>(b[4] << 8 | b[5]);
    h->start = static_cast<uint16_t>(b[6] << 8 | b[7]);
    return true;
}

// Reads the block name through its 0x00, however long, keeping a printable
// copy of its start. False when the file ends before the terminator.
static bool read_tape_name(FILE *f, char *shown) {
    int count = 0;
    bool longer = false;
    int c;
    while ((c = getc(f)) != EOF && c != 0) {
        if (count == TAPE_NAME_SHOWN) {
            longer = true;
            continue;
        }
        shown[count++] = (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    }
    shown[count] = 0;
    if (longer) strcat(shown, "...");
    if (c == EOF && count == 0) strcpy(shown, "noname");
    return c != EOF;
}

static const char *tape_type_name(uint8_t type) {
    if (type == TAPE_TYPE_BASIC) return "basic";
    if (type == TAPE_TYPE_ARRAY) return "array";
    return "machine code";
}

static void list_tape_block(bool first, const char *name, const tape_header &h) {
    sys_file_list("%s", "");
    sys_file_list("%s: '%s'", first ? "name  " : "skip  ", name);
    sys_file_list("start : %.4X", h.start);
    sys_file_list("end   : %.4X", h.end);
    sys_file_list("size  : %.4X", static_cast<uint32_t>(h.end - h.start));
    sys_file_list("auto  : %s", h.autorun ? "yes" : "no");
    sys_file_list("type  : %s", tape_type_name(h.type));
}

// Follows the links from the program start; each must lead forward, so a
// link back, into itself or round a cycle ends the walk as a failure. On
// failure *bad is the link that failed. Only bytes before `end` count, so
// the program saved (without the byte at `end`) checks as it did loaded.
static bool check_tape_chain(const uint8_t *mem, unsigned start, unsigned end, unsigned *bad) {
    unsigned p = start;
    for (;;) {
        if (p + 2 > end) return true;
        unsigned q = peek_word(mem, p);
        if (q == 0 || q >= end) return true;
        if (q <= p || mem[q - 1] != 0) {
            *bad = q;
            return false;
        }
        p = q;
    }
}

// As above, and every link must also lie among the `n` bytes loaded.
static bool check_bas_chain(const uint8_t *mem, size_t n) {
    unsigned limit = BASIC_START + static_cast<unsigned>(n);
    unsigned p = BASIC_START;
    for (;;) {
        if (p + 2 > limit) return false;
        unsigned q = peek_word(mem, p);
        if (q == 0) return true;
        if (q <= p || mem[q - 1] != 0) return false;
        p = q;
    }
}

static int load_tape(const char *path) {
    FILE *f = open_file(path, "rb");
    if (!f) return 1;
    // The block is loaded and checked in a copy of memory, so a refused
    // tape leaves memory as it was.
    uint8_t *ram_mem = sys_file_ram();
    std::vector<uint8_t> staged(ram_mem, ram_mem + RAM_SIZE);
    uint8_t *mem = staged.data();
    int blocks = 0;
    int result = 0;
    char name[TAPE_NAME_SHOWN + 8];
    while (find_sync(f)) {
        tape_header h;
        if (!read_tape_header(f, &h)) {
            if (blocks == 0) {
                sys_file_report("tape load: '%s' ends inside a block header", path);
                result = sys_file_set_why("truncated inside the block header");
            }
            break;
        }
        bool named = read_tape_name(f, name);
        bool first = blocks == 0;
        list_tape_block(first, name, h);
        blocks++;
        if (!first) continue;
        if (!named) {
            sys_file_report("tape load: '%s' ends inside a block name", path);
            result = sys_file_set_why("truncated inside the block name");
            break;
        }
        // The end address is inclusive here. Counting in 32 bits, the copy
        // ends at 0xFFFF at the latest and never wraps to page zero; an end
        // below the start still takes one byte.
        uint32_t addr = h.start;
        int c;
        do {
            if ((c = getc(f)) == EOF) break;
            mem[addr++] = static_cast<uint8_t>(c);
        } while (addr <= h.end);
        // A block we write holds end - start bytes; fewer is a cut tape,
        // and half a program or routine is no load.
        uint32_t got = addr - h.start, want = h.end > h.start ? h.end - h.start : 0u;
        if (got < want) {
            sys_file_report("tape load: '%s' ends after %u of the block's %u bytes", path, got,
                            want);
            result = sys_file_set_why("truncated: %u of %u bytes", got, want);
            break;
        }
        unsigned bad = 0;
        if (h.type == TAPE_TYPE_BASIC && !check_tape_chain(mem, h.start, h.end, &bad)) {
            unsigned line = peek_word(mem, bad + 2);
            sys_file_report("error found: 0x%x line: %u", bad, line);
            result = sys_file_set_why("broken program: line %u has no end", line);
            break;
        }
        memcpy(ram_mem + h.start, mem + h.start, addr - h.start);
        if (h.type != TAPE_TYPE_BASIC) continue;
        poke_word(ram_mem, PTR_START, h.start);
        poke_word(ram_mem, PTR_END, h.end);
    }
    fclose(f);
    if (blocks == 0) return sys_file_set_why("no tape block in it");
    return result;
}

static int load_bas(const char *path) {
    FILE *f = open_file(path, "rb");
    if (!f) return 1;
    std::vector<uint8_t> bytes;
    int failed = read_up_to(f, bytes, BAS_MAX + 1);
    fclose(f);
    if (failed) {
        sys_file_report("bas load: unable to read '%s'", path);
        return sys_file_set_why("cannot be read");
    }
    if (bytes.size() > BAS_MAX) {
        sys_file_report("bas load: '%s' is larger than memory above %.4X", path, BASIC_START);
        return sys_file_set_why("too large");
    }
    // Checked in a copy of memory, so a refused file leaves memory as it was.
    uint8_t *mem = sys_file_ram();
    std::vector<uint8_t> staged(mem, mem + RAM_SIZE);
    size_t n = bytes.size();
    if (n) memcpy(staged.data() + BASIC_START, bytes.data(), n);
    sys_file_list("start : %.4X", BASIC_START);
    sys_file_list("end   : %.4X", static_cast<unsigned>(BASIC_START + n));
    sys_file_list("size  : %.4X", static_cast<unsigned>(n));
    if (!check_bas_chain(staged.data(), n)) {
        sys_file_report("error found");
        return sys_file_set_why("not a program: its line links break");
    }
    if (n) memcpy(mem + BASIC_START, bytes.data(), n);
    poke_word(mem, PTR_START, BASIC_START);
    poke_word(mem, PTR_END, BASIC_START + static_cast<unsigned>(n));
    return 0;
}

static int load_hrs(const char *path) {
    FILE *f = open_file(path, "rb");
    if (!f) return 1;
    std::vector<uint8_t> bytes;
    int failed = read_up_to(f, bytes, HRS_SIZE);
    fclose(f);
    if (failed) {
        sys_file_report("hrs load: unable to read '%s'", path);
        return sys_file_set_why("cannot be read");
    }
    // Half a screen over the old one would pass for a picture that loaded.
    if (bytes.size() < HRS_SIZE) {
        sys_file_report("hrs load: '%s' ends after %zu of %u bytes", path, bytes.size(), HRS_SIZE);
        return sys_file_set_why("truncated: %zu of %u bytes", bytes.size(), HRS_SIZE);
    }
    for (unsigned i = 0; i < HRS_SIZE && sys_file.scratch.empty(); i++)
        mem_write(HRS_BASE + i, bytes[i]);
    return 0;
}

// The savers refuse what their loader would refuse, so a save that succeeds
// loads back.
static int save_tape(const char *path) {
    const uint8_t *mem = ram_getptr();
    unsigned start = peek_word(mem, PTR_START);
    unsigned end = peek_word(mem, PTR_END);
    unsigned bad = 0;
    if (end > start && !check_tape_chain(mem, start, end, &bad)) {
        sys_file_report("tape save: no program there, its links break at 0x%x", bad);
        return sys_file_set_why("no program to save");
    }
    std::vector<uint8_t> bytes;
    if (end > start) {
        append_tape_header(bytes, TAPE_TYPE_BASIC, start, end);
        append_ram(bytes, start, end - start);
    }
    return write_whole(path, bytes);
}

static int save_bas(const char *path) {
    const uint8_t *mem = ram_getptr();
    unsigned start = peek_word(mem, PTR_START);
    unsigned end = peek_word(mem, PTR_END);
    if (end > start && (start != BASIC_START || !check_bas_chain(mem, end - start))) {
        sys_file_report("bas save: no program at %.4X", BASIC_START);
        return sys_file_set_why("no program to save");
    }
    std::vector<uint8_t> bytes;
    if (end > start) append_ram(bytes, start, end - start);
    return write_whole(path, bytes);
}

static int save_hrs(const char *path) {
    std::vector<uint8_t> bytes;
    append_bus(bytes, HRS_BASE, HRS_SIZE);
    return write_whole(path, bytes);
}

static bool has_extension(const char *ext, const char *want) {
    return ext && strings_cmpi(ext, want) == 0;
}

// Pictures are known by name but cannot be read or written yet.
static int load_bmp(const char *path) {
    sys_file_report("sys_file_load_bmp: %s -> %s", path, "not implemented yet");
    return sys_file_set_why("pictures cannot be loaded");
}

static int save_bmp(const char *path) {
    if (sys_shot_bmp(path) == 0) return 0;
    sys_file_report("bmp save: unable to write '%s'", path);
    return sys_file_set_why("cannot be written");
}

// The kinds of file by their extension (any case), with their loader and saver.
struct file_kind {
    const char *ext;
    int (*load)(const char *path);
    int (*save)(const char *path);
};

constexpr file_kind file_kinds[] = {
    {".tap", load_tape, save_tape}, {".dat", load_tape, save_tape},
    {".bas", load_bas, save_bas},   {".txt", sys_file_load_txt, sys_file_txt_save},
    {".hrs", load_hrs, save_hrs},   {".bmp", load_bmp, save_bmp},
};
static_assert(std::size(file_kinds) == 6);

// The kind of file `path` names by its extension; nullptr when none.
static const file_kind *find_kind(const char *path) {
    const char *ext = strrchr(path, '.');
    for (const file_kind &kind : file_kinds)
        if (has_extension(ext, kind.ext)) return &kind;
    return nullptr;
}

constexpr const char *UNKNOWN_KIND = "unknown kind of file (.tap .dat .bas .txt .hrs)";

int sys_file_load(const char *path) {
    sys_file.why[0] = 0;
    const file_kind *kind = find_kind(path);
    return kind ? kind->load(path) : sys_file_set_why("%s", UNKNOWN_KIND);
}

int sys_file_save(const char *path) {
    sys_file.why[0] = 0;
    const file_kind *kind = find_kind(path);
    return kind ? kind->save(path) : sys_file_set_why("%s", UNKNOWN_KIND);
}

int sys_file_load_bin(const char *path, uint16_t addr) {
    sys_file.why[0] = 0;
    sys_file.skipped = 0;
    FILE *f = open_file(path, "rb");
    if (!f) return 1;
    std::vector<uint8_t> bytes;
    int failed = read_up_to(f, bytes, BIN_MAX + 1);
    fclose(f);
    if (failed) {
        sys_file_report("bin load: unable to read '%s'", path);
        return sys_file_set_why("cannot be read");
    }
    if (bytes.size() > BIN_MAX) {
        sys_file_report("bin load: '%s' is larger than 64 KiB", path);
        return sys_file_set_why("larger than 64 KiB");
    }
    sys_file_list("start : %.4X", addr);
    // The I/O page is the chips' registers and switches, not memory: a store
    // there would drive the disk or switch the ROM out. A check stores nothing.
    size_t skipped = 0;
    for (size_t i = 0; i < bytes.size() && sys_file.scratch.empty(); i++) {
        unsigned at = (addr + i) & 0xFFFF;
        if (mem_plain_read(at))
            mem_write(at, bytes[i]);
        else
            skipped++;
    }
    if (skipped)
        sys_file_report("bin load: %zu bytes of '%s' for the I/O page 0300-03FF skipped", skipped,
                        path);
    sys_file.skipped = static_cast<int>(skipped);
    sys_file_list("end   : %.4X", static_cast<unsigned>((addr + bytes.size()) & 0xFFFF));
    sys_file_list("size  : %.4X", static_cast<unsigned>(bytes.size() & 0xFFFF));
    return 0;
}

int sys_file_skipped() {
    return sys_file.skipped;
}

int sys_file_save_bin(const char *path, uint16_t start, uint16_t size) {
    sys_file.why[0] = 0;
    std::vector<uint8_t> bytes;
    if (has_extension(strrchr(path, '.'), ".tap"))
        append_tape_header(bytes, TAPE_TYPE_MACHINE, start, (start + size) & 0xFFFF);
    append_bus(bytes, start, size);
    return write_whole(path, bytes);
}

int sys_file_mount_tap(const char *path) {
    sys_file.why[0] = 0;
    if (!path) return via_6522_tapein(nullptr, 0);
    switch (via_6522_tapein_load(path)) {
    case TAPE_LOADED:
        return 0;
    case TAPE_UNOPENED:
        return sys_file_set_why_errno(errno);
    case TAPE_NOT_AN_IMAGE:
        sys_file_report("tape: '%s' is not a tape image", path);
        return sys_file_set_why("not a tape image");
    case TAPE_NO_MEMORY:
        sys_file_report("tape: no memory for '%s'", path);
        return sys_file_set_why("no memory for it");
    default:
        sys_file_report("tape: unable to read '%s'", path);
        return sys_file_set_why("cannot be read");
    }
}

int sys_file_set_logger(sys_file_log_fn fn) {
    sys_file.logger = fn;
    return 0;
}

static void vformat(char *line, const char *fmt, va_list ap) {
    vsnprintf(line, LIST_LINE_MAX, fmt, ap);
}

int sys_file_list(const char *fmt, ...) {
    if (!sys_file.logger) return 0;
    char line[LIST_LINE_MAX];
    va_list ap;
    va_start(ap, fmt);
    vformat(line, fmt, ap);
    va_end(ap);
    sys_file.logger("%s", line);
    return 0;
}

int sys_file_report(const char *fmt, ...) {
    char line[LIST_LINE_MAX];
    va_list ap;
    va_start(ap, fmt);
    vformat(line, fmt, ap);
    va_end(ap);
    log_error("%s", line);
    if (sys_file.logger) sys_file.logger("%s", line);
    return 0;
}

int sys_file_check(const char *path, int bin) {
    sys_file.scratch.assign(RAM_SIZE, 0);
    sys_file_log_fn logger = sys_file.logger; // no listing for a check
    sys_file.logger = nullptr;
    int result = bin ? sys_file_load_bin(path, 0) : sys_file_load(path);
    sys_file.logger = logger;
    sys_file.scratch.clear();
    sys_file.scratch.shrink_to_fit();
    return result;
}

uint8_t *sys_file_ram() {
    return sys_file.scratch.empty() ? ram_getptr() : sys_file.scratch.data();
}

const char *sys_file_why() {
    return sys_file.why;
}

int sys_file_set_why(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(sys_file.why, sizeof sys_file.why, fmt, ap);
    va_end(ap);
    return 1;
}

int sys_file_set_why_errno(int err) {
    if (err == ENOENT) return sys_file_set_why("no such file");
    if (err == EACCES || err == EPERM) return sys_file_set_why("permission denied");
    if (err == EISDIR) return sys_file_set_why("a folder, not a file");
    if (err == ENOSPC || err == EDQUOT) return sys_file_set_why("the disk is full");
    if (err == EFBIG) return sys_file_set_why("the file would be too large");
    sys_file_set_why("%s", strerror(err));
    sys_file.why[0] = static_cast<char>(tolower(static_cast<unsigned char>(sys_file.why[0])));
    return 1;
}

int sys_file_read_tap(const char *path, uint16_t *start, std::vector<uint8_t> *bytes) {
    sys_file.why[0] = 0;
    FILE *f = open_file(path, "rb");
    if (!f) {
        sys_file_report("tape: cannot open '%s'", path);
        return 1;
    }
    tape_header h{};
    char name[TAPE_NAME_SHOWN + 8];
    bool whole = find_sync(f) && read_tape_header(f, &h) && read_tape_name(f, name);
    bytes->clear();
    // The end address is inclusive, as when the tape loads.
    for (uint32_t addr = h.start; whole && addr <= h.end; addr++) {
        int c = getc(f);
        if (c == EOF) break;
        bytes->push_back(static_cast<uint8_t>(c));
    }
    fclose(f);
    if (!whole) {
        sys_file_report("tape: no whole block in '%s'", path);
        return sys_file_set_why("no whole tape block in it");
    }
    uint32_t want = h.end > h.start ? h.end - h.start : 0u;
    if (bytes->size() < want) {
        sys_file_report("tape: '%s' ends after %zu of the block's %u bytes", path, bytes->size(),
                        want);
        return sys_file_set_why("truncated: %zu of %u bytes", bytes->size(), want);
    }
    *start = h.start;
    return 0;
}
