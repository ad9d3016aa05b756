#include "sys_file_txt.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <vector>

#include "log.h"
#include "ram.h"
#include "sys_atomic.h"
#include "sys_file.h"

// Token bytes in order; the order is also the search order, and no keyword
// is a prefix of a later one. 0xE0 is spelt with its four question marks:
// "LN" alone stays two letters.
const char *const keywords[] = {
    // x0 .. xF
    "END",     "EDIT",  "STORE",   "RECALL", "TRON",    "TROFF",  "POP",     "PLOT", // 0x80
    "PULL",    "LORES", "DOKE",    "REPEAT", "UNTIL",   "FOR",    "LLIST",   "LPRINT",
    "NEXT",    "DATA",  "INPUT",   "DIM",    "CLS",     "READ",   "LET",     "GOTO", // 0x90
    "RUN",     "IF",    "RESTORE", "GOSUB",  "RETURN",  "REM",    "HIMEM",   "GRAB",
    "RELEASE", "TEXT",  "HIRES",   "SHOOT",  "EXPLODE", "ZAP",    "PING",    "SOUND", // 0xA0
    "MUSIC",   "PLAY",  "CURSET",  "CURMOV", "DRAW",    "CIRCLE", "PATTERN", "FILL",
    "CHAR",    "PAPER", "INK",     "STOP",   "ON",      "WAIT",   "CLOAD",   "CSAVE", // 0xB0
    "DEF",     "POKE",  "PRINT",   "CONT",   "LIST",    "CLEAR",  "GET",     "CALL",
    "!",       "NEW",   "TAB(",    "TO",     "FN",      "SPC(",   "@",       "AUTO", // 0xC0
    "ELSE",    "THEN",  "NOT",     "STEP",   "+",       "-",      "*",       "/",
    "^",       "AND",   "OR",      ">",      "=",       "<",      "SGN",     "INT", // 0xD0
    "ABS",     "USR",   "FRE",     "POS",    "HEX$",    "&",      "SQR",     "RND",
    "LN????",  "EXP",   "COS",     "SIN",    "TAN",     "ATN",    "PEEK",    "DEEK", // 0xE0
    "LOG",     "LEN",   "STR$",    "VAL",    "ASC",     "CHR$",   "PI",      "TRUE",
    "FALSE",   "KEY$",  "SCRN",    "POINT",  "LEFT$",   "RIGHT$", "MID$", // 0xF0
};
static_assert(std::size(keywords) == KEYWORD_COUNT);

constexpr uint8_t TOKEN_FIRST = 0x80;
constexpr uint8_t TOKEN_DATA = 0x91;
constexpr uint8_t TOKEN_REM = 0x9D;
constexpr unsigned BASIC_START = 0x0501;
constexpr unsigned PTR_START = 0x009A;
constexpr unsigned PTR_END = 0x009C;
// The end pointer must stay a 16-bit address.
constexpr unsigned BASIC_LIMIT = 0xFFFF;

enum class mode { normal, quote, data, literal };

static uint16_t peek_word(const uint8_t *mem, unsigned addr) {
    return static_cast<uint16_t>(mem[addr & 0xFFFF] | mem[(addr + 1) & 0xFFFF] << 8);
}

static void poke_word(uint8_t *mem, unsigned addr, unsigned value) {
    mem[addr & 0xFFFF] = static_cast<uint8_t>(value);
    mem[(addr + 1) & 0xFFFF] = static_cast<uint8_t>(value >> 8);
}

// From RAM, where the loader put the program, whatever the bus shows there.
static uint8_t read_byte(unsigned addr) {
    return ram_getptr()[addr & 0xFFFF];
}

// Index of the first keyword that `text` begins with, or -1.
static int match_keyword(const char *text) {
    for (int i = 0; i < KEYWORD_COUNT; i++) {
        size_t len = strlen(keywords[i]);
        if (strncmp(text, keywords[i], len) == 0) return i;
    }
    return -1;
}

int sys_file_txt_tokenise(const char *text, uint8_t *out, int cap) {
    mode m = mode::normal;
    int n = 0;
    while (*text) {
        if (n >= cap) return -1;
        char c = *text;
        if (m == mode::normal) {
            int k = match_keyword(text);
            if (k >= 0) {
                uint8_t token = static_cast<uint8_t>(TOKEN_FIRST + k);
                out[n++] = token;
                text += strlen(keywords[k]);
                if (token == TOKEN_REM) m = mode::literal;
                if (token == TOKEN_DATA) m = mode::data;
                continue;
            }
            if (c == '"') m = mode::quote;
            if (c == '\'') m = mode::literal;
        } else if (m == mode::quote) {
            if (c == '"') m = mode::normal;
        } else if (m == mode::data) {
            if (c == ':') m = mode::normal;
        }
        out[n++] = static_cast<uint8_t>(c);
        text++;
    }
    return n;
}

// Skips white space, newlines included, counting the newlines in *lines;
// returns the first other character.
static int skip_space(FILE *f, unsigned *lines) {
    int c;
    for (;;) {
        c = getc(f);
        if (c == '\n') ++*lines;
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != '\v' && c != '\f') return c;
    }
}

// The rest of the line up to its newline: tabs become spaces, control
// characters and bytes above 0x7F (which would read as tokens) are dropped,
// leading spaces go. Returns the length, or -1 when the text is longer than
// TXT_LINE_MAX (the line is still consumed).
static int read_line_text(FILE *f, char *buf) {
    int len = 0;
    bool too_long = false;
    for (int c = getc(f); c != EOF && c != '\n'; c = getc(f)) {
        if (c == '\t') c = ' ';
        if (c < 0x20 || c > 0x7F) continue;
        if (c == ' ' && len == 0) continue;
        if (len < TXT_LINE_MAX)
            buf[len++] = static_cast<char>(c);
        else
            too_long = true;
    }
    buf[len] = 0;
    return too_long ? -1 : len;
}

constexpr unsigned LINE_NUMBER_MAX = 65535;

// The program typing the file's lines would leave: numbered lines in order,
// a repeated number replacing the earlier line and a number alone deleting
// it, as at the prompt. 1 (reported) when the file cannot be taken whole.
static int read_program(FILE *f, const char *path, std::map<unsigned, std::vector<uint8_t>> *out) {
    char text[TXT_LINE_MAX + 1];
    uint8_t tokens[TXT_LINE_MAX];
    unsigned text_line = 1; // of the file, for the user
    for (;;) {
        int c = skip_space(f, &text_line);
        if (c == EOF) break;
        // Typed at the prompt, such a line would run at once, not join the program.
        if (c < '0' || c > '9') {
            sys_file_report("text load: '%s' text line %u has no line number", path, text_line);
            return sys_file_set_why("text line %u: no line number", text_line);
        }
        unsigned number = 0;
        bool too_big = false;
        for (; c >= '0' && c <= '9'; c = getc(f)) {
            number = number * 10 + static_cast<unsigned>(c - '0');
            if (number > LINE_NUMBER_MAX) {
                too_big = true;
                number = LINE_NUMBER_MAX + 1; // keeps counting digits from overflowing
            }
        }
        if (c != EOF) ungetc(c, f);
        if (too_big) {
            sys_file_report("text load: '%s' text line %u: line number over %u", path, text_line,
                            LINE_NUMBER_MAX);
            return sys_file_set_why("text line %u: line number over %u", text_line,
                                    LINE_NUMBER_MAX);
        }
        int len = read_line_text(f, text);
        if (len < 0) {
            sys_file_report("text load: line %u longer than %d characters", number, TXT_LINE_MAX);
            return sys_file_set_why("text line %u: longer than %d characters", text_line,
                                    TXT_LINE_MAX);
        }
        text_line++;
        if (len == 0) {
            out->erase(number);
            continue;
        }
        int n = sys_file_txt_tokenise(text, tokens, TXT_LINE_MAX);
        (*out)[number].assign(tokens, tokens + n);
    }
    if (ferror(f)) {
        sys_file_report("text load: unable to read '%s'", path);
        return sys_file_set_why("cannot be read");
    }
    return 0;
}

int sys_file_load_txt(const char *path) {
    sys_file_set_why("%s", "");
    FILE *f = fopen(path, "rt");
    if (!f) return sys_file_set_why_errno(errno);
    std::map<unsigned, std::vector<uint8_t>> lines;
    int result = read_program(f, path, &lines);
    fclose(f);
    if (result) return result;
    // The program is built aside and copied in only when it fits whole, so a
    // refused file leaves memory as it was.
    std::vector<uint8_t> area;
    for (const auto &[number, tokens] : lines) {
        size_t next = area.size() + 4 + tokens.size() + 1;
        if (BASIC_START + next + 2 > BASIC_LIMIT) {
            sys_file_report("text load: program does not fit in memory at line %u", number);
            return sys_file_set_why("does not fit in memory at line %u", number);
        }
        unsigned link = BASIC_START + static_cast<unsigned>(next);
        area.push_back(static_cast<uint8_t>(link));
        area.push_back(static_cast<uint8_t>(link >> 8));
        area.push_back(static_cast<uint8_t>(number));
        area.push_back(static_cast<uint8_t>(number >> 8));
        area.insert(area.end(), tokens.begin(), tokens.end());
        area.push_back(0);
    }
    area.push_back(0);
    area.push_back(0);
    uint8_t *mem = sys_file_ram();
    memcpy(mem + BASIC_START, area.data(), area.size());
    poke_word(mem, PTR_START, BASIC_START);
    poke_word(mem, PTR_END, BASIC_START + static_cast<unsigned>(area.size()));
    return 0;
}

int sys_file_txt_save(const char *path) {
    sys_atomic a;
    errno = 0;
    if (sys_atomic_open(&a, path) != 0) return sys_file_set_why_errno(errno ? errno : EIO);
    FILE *f = a.file;
    const uint8_t *mem = ram_getptr();
    unsigned p = peek_word(mem, PTR_START);
    unsigned e = peek_word(mem, PTR_END);
    // Lines are taken in order; links are not followed, so a broken chain
    // cannot loop. A line missing its 0x00 ends at the end pointer.
    while (p < e) {
        if (read_byte(p) == 0 && read_byte(p + 1) == 0) break;
        unsigned number = read_byte(p + 2) | read_byte(p + 3) << 8;
        fprintf(f, "%u ", number);
        unsigned a = p + 4;
        for (; a < e; a++) {
            uint8_t b = read_byte(a);
            if (b == 0) break;
            if (b >= TOKEN_FIRST + KEYWORD_COUNT) {
                log_error("text save: undefined token %.2X in line %u left out", b, number);
            } else if (b >= TOKEN_FIRST) {
                fputs(keywords[b - TOKEN_FIRST], f);
            } else if (b >= 0x20) {
                putc(b, f);
            }
        }
        putc('\n', f);
        p = a + 1;
    }
    errno = 0;
    if (sys_atomic_commit(&a) != 0) {
        sys_file_set_why_errno(errno ? errno : EIO);
        sys_file_report("text save: unable to write '%s'", path);
        return 1;
    }
    return 0;
}
