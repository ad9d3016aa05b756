// asm_6502: the console's two-pass assembler for the 151 documented
// opcodes. Source lines: an optional label ("name" in the first column or
// "name:"), then a mnemonic with its operand, a directive (.org or "*=",
// .byte, .word, .text) or "name = expression"; ";" starts a comment.
// Expressions take decimal, $hex, %binary, 'c', labels, "*" (this address),
// + - * / and parentheses, and a leading < or > for the low or high byte.
// "a:" before an operand forces the absolute form of a zero-page address.
// An operand takes the zero-page form when its value is known by its line
// and fits a byte, or when it is a < or > byte part or a constant defined
// as one; a name defined further down gives the absolute form. Constants
// may name later names; such a constant is known once they are, except an
// address (a label, "*", or a constant holding one) defined below it, as
// in the standard assemblers. An origin must be known where it stands.
// Values are 64-bit; overflow, bytes placed twice and nesting past 64
// levels are errors.
//
// Errors name the file, the line and the reason, every one of them in a
// single run, through sys_file_report; nothing is written after one.
// Main thread, from console commands; memory writes hold the machine lock.
#pragma once
#include <cstdint>
#include <vector>

// What a source assembled to: `bytes` from the lowest address written,
// `used` 1 where the source put a byte (gaps between origins stay 0).
struct asm_6502_image {
    uint16_t origin;
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> used;
};

// `name` only labels the error lines. 0 success, 1 with every error reported.
int asm_6502_text(const char *name, const char *source, asm_6502_image *out);
// Assembles the file and writes the image to `out_path`, or when that is
// nullptr to the file's name with ".bin" for its extension (which replaces
// only a binary an earlier assembly made and nobody changed since); with
// `to_memory` 1 stores the bytes through the bus at their own addresses.
int asm_6502_file(const char *path, int to_memory, const char *out_path = nullptr);
