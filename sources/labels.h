// labels: the user's label files, for the trace, the disassembler and the
// monitor. A line is one label in any of three forms:
//   al 00C000 .name      the cc65 linker's label file (ld65 -Ln)
//   name = $C000         an assembler constant
//   C000 name            an address and its name
// Blank lines and lines starting with ';' or '#' are passed over. Main
// thread, under the machine lock once the timer thread runs.
#pragma once

// Reads `path` whole; with `apply` 1 its labels then join the others. A file
// with a line in none of the forms is refused and changes nothing: one line
// names the file and the line (sys_file_report), the reason is left in
// sys_file_why. 0 success, 1 failure.
int labels_load(const char *path, int apply);
// Drops every label the user loaded.
int labels_clear();
