#include "sys_cfg.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sys_atomic.h"

static constexpr const char *CFG_FILE = "kestrel.cfg";
static constexpr int32_t cfg_defaults[CFG_ENTRIES] = {0, 20, 1, 1, 1, 1, 1, 1};

cfg_entry config[CFG_ENTRIES] = {
    {0, "verbosity", {"set verbosity level: 0,1,2", "1: title speed, 2: also log"}},
    {20,
     "refresh",
     {"set refresh interval in ms, e.g.,", "20 ms gives 50 Hz refresh",
      "reasonable range is 20..50 ms,", "for fast machines 20 should be ok"}},
    {1, "zoom", {"set initial zoom level: 0, 1, 2"}},
    {1, "speed", {"set 6502 speed multiplier: 1, 2, 4"}},
    {1, "sound", {"disable/enable sound: 0, 1"}},
    {1, "charset", {"set active charset cyr/lat = 0, 1"}},
    {1, "font", {"select console font 6x13, 7x14, 8x15, 9x15 = 0, 1, 2, 3"}},
    {1,
     "speaker",
     {"disable/enable speaker loopback = 0, 1",
      "emulate wire connection between pins 1 and 5 of cassette jack"}},
};

// The values sys_cfg_bound put back, as the file said them: the file is
// rewritten with what the user wrote.
static struct {
    bool put_back[CFG_ENTRIES];
    int32_t as_read[CFG_ENTRIES];
} cfg_kept;

void sys_cfg_defaults() {
    for (int i = 0; i < CFG_ENTRIES; i++) {
        config[i].value = cfg_defaults[i];
        cfg_kept.put_back[i] = false;
    }
}

// What a run can use of each setting. Every verbosity and charset has a
// meaning (below 1 silent, above 2 as 2; 0 Cyrillic, else Latin). A frame
// longer than 100 ms makes typing and sound stutter; speed 3 has no key.
struct cfg_range {
    int32_t lo, hi;
    const char *allowed; // nullptr: any value
};
static constexpr cfg_range cfg_ranges[CFG_ENTRIES] = {
    {0, 0, nullptr},  {20, 100, "20 to 100"}, {0, 2, "0, 1 or 2"}, {1, 4, "1, 2 or 4"},
    {0, 1, "0 or 1"}, {0, 0, nullptr},        {0, 3, "0 to 3"},    {0, 1, "0 or 1"},
};

int sys_cfg_bound(void (*say)(const char *line)) {
    int replaced = 0;
    for (int i = 0; i < CFG_ENTRIES; i++) {
        const cfg_range &r = cfg_ranges[i];
        int32_t v = config[i].value;
        if (!r.allowed || (v >= r.lo && v <= r.hi && !(i == CFG_SPEED && v == 3))) continue;
        char line[160];
        snprintf(line, sizeof line, "%s: %s = %d is not %s; this run uses %d", CFG_FILE,
                 config[i].name, v, r.allowed, cfg_defaults[i]);
        cfg_kept.put_back[i] = true;
        cfg_kept.as_read[i] = v;
        config[i].value = cfg_defaults[i];
        replaced++;
        if (say) say(line);
    }
    return replaced;
}

static void parse_line(char *line) {
    line[strcspn(line, "#\r\n")] = 0;
    char *eq = strchr(line, '=');
    if (!eq) return;
    *eq = 0;
    char *words[1];
    if (splitstr(words, 1, line) != 1) return;
    int value;
    if (sscanf(eq + 1, "%d", &value) != 1) return;
    for (int i = 0; i < CFG_ENTRIES; i++) {
        if (strings_cmpi(words[0], config[i].name) != 0) continue;
        config[i].value = value;
        cfg_kept.put_back[i] = false;
    }
}

int sys_cfg_load() {
    if (sys_cfg_read() != 0) sys_cfg_save();
    return 0;
}

// 1 when there is no file to read.
int sys_cfg_read() {
    FILE *f = fopen(CFG_FILE, "rt");
    if (!f) return 1;
    // Whole lines, however long: a piece of one must never read as a setting.
    char *line = nullptr;
    size_t cap = 0;
    while (getline(&line, &cap, f) >= 0)
        parse_line(line);
    free(line);
    fclose(f);
    return 0;
}

int sys_cfg_save() {
    sys_atomic a;
    if (sys_atomic_open(&a, CFG_FILE) != 0) return 1;
    FILE *f = a.file;
    fputs("########################################\n"
          "# delete or rename this file to create #\n"
          "#     new one with default values      #\n"
          "########################################\n"
          "\n",
          f);
    for (int k = 0; k < CFG_ENTRIES; k++) {
        const cfg_entry &entry = config[k];
        for (int i = 0; i < CFG_MAX_COMMENTS && entry.comments[i]; i++)
            fprintf(f, "# %s\n", entry.comments[i]);
        fprintf(f, "%s = %d\n\n", entry.name,
                cfg_kept.put_back[k] ? cfg_kept.as_read[k] : entry.value);
    }
    return sys_atomic_commit(&a);
}

static bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

int splitstr(char **words, int cap, char *line) {
    if (!line || !*line || cap < 1) return 0;
    int count = 0;
    char *src = line;
    while (is_blank(*src))
        src++;
    while (true) {
        char *word = src;
        char *dst = src;
        bool quoted = false;
        while (*src) {
            char c = *src;
            if (quoted) {
                if (c == '"') {
                    quoted = false;
                    src++;
                } else if (c == '\\') {
                    src++;
                    if (*src) *dst++ = *src++;
                } else {
                    *dst++ = *src++;
                }
            } else if (is_blank(c)) {
                break;
            } else if (c == '"') {
                quoted = true;
                src++;
            } else if (c == '\\') {
                src++;
                if (!*src) break;
                *dst++ = *src++;
            } else {
                *dst++ = *src++;
            }
        }
        bool at_end = *src == 0;
        if (!at_end) src++; // past the blank that ended the word
        *dst = 0;
        words[count++] = word;
        while (is_blank(*src))
            src++;
        if (at_end || !*src || count >= cap) break;
    }
    return count;
}

int strings_cmpi(const char *a, const char *b) {
    if (a == b) return 0;
    const auto *x = reinterpret_cast<const unsigned char *>(a);
    const auto *y = reinterpret_cast<const unsigned char *>(b);
    while (true) {
        int cx = tolower(*x), cy = tolower(*y);
        if (cx != cy || !cx) return static_cast<unsigned char>(cx) - static_cast<unsigned char>(cy);
        x++;
        y++;
    }
}
