// dasm_6502: the disassembler behind the console's dasm command and the
// monitor's listings. A source it writes assembles again with asm_6502 to
// the same bytes: one instruction a line with its address and bytes in a
// comment, labels (L1234) on branch and jump targets inside the range,
// "a:" where an absolute address would fit in page zero, and .byte for
// undocumented opcodes and for an instruction cut off by the range's end.
// Main thread; the memory readers run under the machine lock.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// The instruction at `pc` as text (lower case, "$" hex), from `avail` bytes;
// returns the bytes it took, 1 to 3.
int dasm_6502_line(uint16_t pc, const uint8_t *bytes, size_t avail, char *text, size_t room);
// The label of the address the instruction's operand names (a branch's
// target, an absolute or zero-page address), or nullptr.
const char *dasm_6502_operand_label(uint16_t pc, const uint8_t *bytes, size_t avail);
// A whole source for `n` bytes placed at `origin`, into *out. Labels of the
// trace and the user's stand in comments: "; name:" above their address,
// "(name)" after an operand that names one.
int dasm_6502_source(uint16_t origin, const uint8_t *bytes, size_t n, std::string *out);
// "x.bin" (at `origin`) or "x.tap" (its first block, at its own address)
// into `out_path`, or when that is nullptr into "x.asm" beside it, which
// replaces only a source an earlier disassembly made and nobody changed
// since, and never the input. 0 success, 1 failure (reported).
int dasm_6502_file(const char *path, uint16_t origin, const char *out_path = nullptr);
// `size` bytes of emulated memory from `start`, read as the processor
// would, into the file `out_path`; `named` 0 when the user did not name it
// (then only an earlier disassembly is replaced).
int dasm_6502_memory(uint16_t start, uint32_t size, const char *out_path, int named = 1);
