// sys_data: where the program finds the files it ships (ROM images, console
// fonts, demo media). A name is looked up in the working directory first,
// then in the installed data folder "share/kestrel" beside the program's own
// "bin" folder, then in the folder of the install prefix the build was
// configured with. Overrides (--rom, --disk-rom) replace a name outright.
// Set up by main before any other thread exists; read-only afterwards.
#pragma once
#include <string>

// The path to open for `name`: the override, the first folder that has it,
// or `name` itself when none has it (so the open fails with the usual message).
std::string sys_data_path(const char *name);
// From now on `name` opens `path` whatever the folders hold; nullptr clears it.
int sys_data_override(const char *name, const char *path);
