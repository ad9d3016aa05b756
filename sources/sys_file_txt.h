// sys_file_txt: BASIC programs as plain text. Loading tokenises numbered text
// lines into the program area at 0x0501 (sys_file_load_txt, declared in
// sys_file.h); saving writes the program area back with every token spelt
// out. Reached through sys_file_load/sys_file_save for names ending in
// ".txt", on the main thread under the machine lock.
#pragma once
#include <cstdint>

constexpr int KEYWORD_COUNT = 119; // token bytes 0x80-0xF6
constexpr int TXT_LINE_MAX = 255;  // characters of one line's text, after its number

// keywords[i] is the keyword of token byte 0x80 + i.
extern const char *const keywords[KEYWORD_COUNT];

// Tokenises one line's text (NUL-terminated, without its number) into `out`.
// Returns the number of bytes stored, without a terminator, or -1 when they
// would not fit in `cap`.
int sys_file_txt_tokenise(const char *text, uint8_t *out, int cap);

// The program area as text, one "number text" line per program line. 0, or 1
// when the file cannot be created or written.
int sys_file_txt_save(const char *path);
