// sys_args: the command line, `kestrel [options] [FILE]`. Parsed and checked
// by main before anything is written: a bad option or an output that cannot
// be written as asked is a usage error (exit status 2), an input file that
// cannot be used a file error (1), each with one line.
// The options override the settings file for one run; they never change it.
#pragma once
#include <string>

enum sys_file_kind : int { KIND_NONE, KIND_DISK, KIND_TAPE, KIND_PROGRAM, KIND_BIN };

struct sys_options {
    std::string file; // as found: the working directory first, then the data folder
    sys_file_kind kind = KIND_NONE;
    std::string rom, disk_rom, disk2;
    int speed = 0; // 0: the settings file's
    int zoom = -1; // -1: the settings file's
    bool mute = false, warp = false, headless = false;
    bool exact_timing = false;
    bool write_protect = false; // the disks named here go in write-protected
    long frames = 0;            // 0: run until the user quits
    double seconds = 0;         // emulated; turned into frames once `refresh` is known
    std::string screenshot, dump_ram, record;
    // A saved state to start from, and the file to save one in at exit.
    std::string state, save_state;
    std::string labels; // the user's label file
    // Every input recorded to a file, or a recording to replay.
    std::string record_input, replay;
    std::string type;   // keys to type after start-up, '\n' for Return
    int autostart = -1; // -1: on when a FILE is given
    int load_at = -1;   // .bin load address
    // A test's end: the address whose reaching ends the run (-1: none), a
    // BRK, and the text screen on stdout at exit.
    int exit_when = -1;
    bool exit_on_brk = false, print_screen = false;
    bool help = false, version = false;
};

constexpr int ARGS_OK = 0;
constexpr int ARGS_FILE_ERROR = 1;
constexpr int ARGS_USAGE = 2;

// Fills *out; on failure `error` holds the one line to print (no newline).
int sys_args_parse(int argc, const char *const *argv, sys_options *out, std::string *error);
// What --autostart types for the file's kind ("" when nothing).
const char *sys_args_autostart_text(const sys_options &opts);
// Frames the run lasts at `refresh` ms a frame: --frames, or --seconds to the
// nearest frame but at least one; 0 when neither was given (until the user quits).
long sys_args_frames(const sys_options &opts, int refresh);
// The --help text.
const char *sys_args_usage();
