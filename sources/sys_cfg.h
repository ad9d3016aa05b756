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

// Splits `line` in place into at most `cap` words, honouring double quotes
// and backslash escapes. Returns the number of words stored in `words`.
int splitstr(char **words, int cap, char *line);

// Case-insensitive compare; the difference of the first differing lowered
// bytes, 0 when equal.
int strings_cmpi(const char *a, const char *b);
