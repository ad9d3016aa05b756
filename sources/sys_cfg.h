// sys_cfg: the settings table and "kestrel.cfg" in the working directory.
// Read and written once by main before any other thread exists; at run time
// the timer thread reads "verbosity" and F4 flips "charset".
#pragma once
#include <cstdint>

constexpr int CFG_VERBOSITY = 0;
constexpr int CFG_REFRESH = 1;
constexpr int CFG_ZOOM = 2;
constexpr int CFG_SPEED = 3;
constexpr int CFG_SOUND = 4;
constexpr int CFG_CHARSET = 5;
constexpr int CFG_FONT = 6;
constexpr int CFG_SPEAKER = 7;
constexpr int CFG_ENTRIES = 8;
constexpr int CFG_MAX_COMMENTS = 16;

struct cfg_entry {
    int32_t value;
    const char *name;
    const char *comments[CFG_MAX_COMMENTS]; // ends at the first nullptr
};

extern cfg_entry config[CFG_ENTRIES];

int sys_cfg_load();      // a missing file is created with the current values
int sys_cfg_read();      // reads only; 1 when there is no file (none is made)
int sys_cfg_save();      // 1 (logged) when it cannot be replaced; the old file stays
void sys_cfg_defaults(); // puts every value back to its default (tests, start)

// Settings outside what the machine can run (refresh 20 to 100 ms, zoom 0 to
// 2, speed 1, 2 or 4, sound and speaker 0 or 1, font 0 to 3) are put back to
// their default in the table, for this run only, and `say` gets one line for
// each. sys_cfg_save still writes the values as read: the file keeps what
// the user wrote. Returns the number of settings put back.
int sys_cfg_bound(void (*say)(const char *line));

// Splits `line` in place into at most `cap` words, honouring double quotes
// and backslash escapes. Returns the number of words stored in `words`.
int splitstr(char **words, int cap, char *line);

// Case-insensitive compare; the difference of the first differing lowered
// bytes, 0 when equal.
int strings_cmpi(const char *a, const char *b);
