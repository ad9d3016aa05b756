// sys_data: where the program finds the files it ships (ROM images, console
// fonts, demo media). A name is looked up in the working directory first,
// then in the folder "run" beside the program (where a build stages them, so
// ./build/kestrel works from the source tree), then in the installed data
// folder "share/kestrel" beside the program's own "bin" folder, then in the
// folder of the install prefix the build was configured with. Overrides
// (--rom, --disk-rom) replace a name outright.
// Set up by main before any other thread exists; read-only afterwards.
#pragma once
#include <string>
#include <vector>

// The path to open for `name`: the override, the first folder that has it,
// or `name` itself when none has it (so the open fails with the usual message).
std::string sys_data_path(const char *name);
// From now on `name` opens `path` whatever the folders hold; nullptr clears it.
int sys_data_override(const char *name, const char *path);
// The folders a name is looked up in, in order, each once; the working
// directory as its full path.
std::vector<std::string> sys_data_folders();
// Of `names`, those that cannot be read where sys_data_path leads, in order.
std::vector<std::string> sys_data_missing(const std::vector<const char *> &names);
// The two folders found from the program's own place are searched only once
// the program asks: a test binary in the build folder is not the program.
int sys_data_beside_program(int on);
// The per-user working folder for launches from a desktop menu:
// $XDG_DATA_HOME/kestrel, or ~/.local/share/kestrel without it. Made when
// missing, with the demo media copied in from the data folder, then made the
// working directory. 1, with `why`, when it cannot be made or entered.
int sys_data_user_folder(std::string *why);
