#include "sys_args.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <tuple>
#include <vector>

#include "fdc_image.h"
#include "sys_cfg.h"
#include "sys_atomic.h"
#include "sys_data.h"

#ifndef KESTREL_DATA_DIR
#define KESTREL_DATA_DIR "/usr/share/kestrel"
#endif
#include "labels.h"
#include "sys_file.h"
#include "sys_type.h"

constexpr long ROM_IMAGE_BYTES = 16384;
constexpr long DISK_ROM_IMAGE_BYTES = 512;

constexpr const char *usage_text =
    "usage: kestrel [options] [FILE]\n"
    "FILE: .dsk into drive 1, .tap/.dat as the tape, .bas/.txt/.hrs loaded after\n"
    "start-up, .bin loaded at --load-at\n"
    "  --type TEXT          type TEXT after start-up (\\n is Return)\n"
    "  --autostart          type what starts FILE (on when FILE is given):\n"
    "                       LOAD (then BASIC and RUN for a BASIC tape\n"
    "                       not marked to run), BOOT, or BASIC and RUN\n"
    "                       for a program\n"
    "  --no-autostart       do not\n"
    "  --load-at HHHH       load address of a .bin FILE (hexadecimal)\n"
    "  --rom FILE           system ROM image (16384 bytes)\n"
    "  --disk-rom FILE      disk boot ROM image (512 bytes)\n"
    "  --disk2 FILE         disk image for drive 2\n"
    "  --write-protect      the disks named here are mounted write-protected\n"
    "  --speed 1|2|4        processor speed\n"
    "  --zoom 0|1|2         window zoom\n"
    "  --mute               no sound from the host\n"
    "  --warp               run as fast as the host allows\n"
    "  --headless           no window and no audio device\n"
    "  --user-folder        work in ~/.local/share/kestrel (made with the demos)\n"
    "  --exact-timing       the chips' real timing: page-crossing cycles, timers, pitch\n"
    "  --frames N           run N frames of emulated time, then exit\n"
    "  --seconds S          run S seconds of emulated time, then exit\n"
    "  --exit-when HHHH     end the run when the processor reaches HHHH\n"
    "                       (hexadecimal); the exit status is A\n"
    "  --exit-on-brk        end the run at a BRK: status 1, registers on stderr\n"
    "                       with either: --frames/--seconds limit the run,\n"
    "                       status 124 when the limit comes first\n"
    "  --print-screen       write the text screen to stdout at exit\n"
    "  --screenshot F.png   write the screen at exit\n"
    "  --dump-ram FILE      write the 64 KiB of RAM at exit\n"
    "  --record F.wav       record the sound\n"
    "  --labels FILE        label file for the trace and the monitor\n"
    "  --state FILE         start from a saved state\n"
    "  --save-state FILE    save the machine's state at exit\n"
    "  --record-input FILE  record every input, to replay the run exactly\n"
    "  --replay FILE        start and run as recorded, then go on live\n"
    "  --help, --version\n"
    "ROMs, fonts and a FILE not in the working directory are looked for in the\n"
    "working directory, then in run/ beside the program (a build's own data),\n"
    "then in share/kestrel beside its bin/ folder and " KESTREL_DATA_DIR "\n";

const char *sys_args_usage() {
    return usage_text;
}

static bool ends_with(const std::string &s, const char *tail) {
    size_t n = strlen(tail);
    if (s.size() < n) return false;
    return strings_cmpi(s.c_str() + s.size() - n, tail) == 0;
}

static sys_file_kind kind_of(const std::string &path) {
    if (ends_with(path, ".dsk")) return KIND_DISK;
    if (ends_with(path, ".tap") || ends_with(path, ".dat")) return KIND_TAPE;
    if (ends_with(path, ".bas") || ends_with(path, ".txt") || ends_with(path, ".hrs"))
        return KIND_PROGRAM;
    if (ends_with(path, ".bin")) return KIND_BIN;
    return KIND_NONE;
}

static bool parse_int(const char *text, long lo, long hi, long *out) {
    char *end = nullptr;
    long v = strtol(text, &end, 10);
    if (!*text || *end || v < lo || v > hi) return false;
    *out = v;
    return true;
}

// One to four hexadecimal digits and nothing else: strtol alone would take
// a sign, a "0x" or blanks.
static bool parse_address(const std::string &text, long *out) {
    if (text.empty() || text.size() > 4) return false;
    for (char c : text)
        if (!isxdigit(static_cast<unsigned char>(c))) return false;
    *out = strtol(text.c_str(), nullptr, 16);
    return true;
}

// "\n" is Return and "\\" a backslash; other characters stand for themselves.
static std::string unescape(const char *text) {
    std::string out;
    for (const char *p = text; *p; p++) {
        if (*p == '\\' && p[1] == 'n') {
            out += '\n';
            p++;
        } else if (*p == '\\' && p[1] == '\\') {
            out += '\\';
            p++;
        } else {
            out += *p;
        }
    }
    return out;
}

// One line naming what is wrong with a file the run needs, or "" when it can
// be read (and, when `size` is given, has exactly that many bytes).
static std::string file_problem(const std::string &what, const std::string &path, long size) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return what + " " + path + ": no such file";
    if (!S_ISREG(st.st_mode)) return what + " " + path + ": not a regular file";
    if (access(path.c_str(), R_OK) != 0) return what + " " + path + ": cannot be read";
    if (size >= 0 && st.st_size != size)
        return what + " " + path + ": " + std::to_string(st.st_size) + " bytes, not " +
               std::to_string(size);
    return "";
}

// The same inode, or for a file not made yet the same name once links and
// dots are resolved.
static bool same_file(const std::string &a, const std::string &b) {
    struct stat sa, sb;
    if (stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    std::error_code ea, eb;
    auto ca = std::filesystem::weakly_canonical(std::filesystem::absolute(a), ea);
    auto cb = std::filesystem::weakly_canonical(std::filesystem::absolute(b), eb);
    return !ea && !eb && ca == cb;
}

// One line when an output cannot be written as asked: a folder, a pipe or a
// device, a read-only file, a folder that takes no new files, or a file this
// run reads or writes already. Checked before anything is written, so a
// refusal costs the user nothing.
static std::string output_problem(const std::string &what, const std::string &path, int how,
                                  const std::vector<std::pair<std::string, std::string>> &used) {
    std::string why;
    if (sys_atomic_check(path.c_str(), how, &why) != 0) return what + " " + path + ": " + why;
    for (const auto &[role, other] : used)
        if (same_file(path, other))
            return what + " " + path + ": is the file of " + role + " in this run";
    return "";
}

// A FILE not in the working directory may be one we ship.
static std::string find_media(const std::string &path) {
    if (access(path.c_str(), F_OK) == 0 || path.find('/') != std::string::npos) return path;
    return sys_data_path(path.c_str());
}

int sys_args_parse(int argc, const char *const *argv, sys_options *out, std::string *error) {
    sys_options o;
    auto usage = [error](const std::string &line) {
        *error = "kestrel: " + line + " (kestrel --help lists the options)";
        return ARGS_USAGE;
    };
    bool options_end = false;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (options_end || arg.empty() || arg[0] != '-' || arg == "-") {
            if (!o.file.empty()) return usage("more than one FILE: " + o.file + ", " + arg);
            o.file = arg;
            continue;
        }
        if (arg == "--") {
            options_end = true;
            continue;
        }
        std::string value;
        bool inline_value = false;
        auto eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
            inline_value = true;
        }
        auto take = [&](std::string *dst) {
            if (inline_value) {
                *dst = value;
                return true;
            }
            if (i + 1 >= argc) return false;
            *dst = argv[++i];
            return true;
        };
        auto flag = [&](bool *dst) {
            if (inline_value) return false;
            *dst = true;
            return true;
        };
        long n = 0;
        std::string v;
        if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--version") {
            o.version = true;
        } else if (arg == "--write-protect") {
            if (!flag(&o.write_protect)) return usage("--write-protect takes no value");
        } else if (arg == "--mute") {
            if (!flag(&o.mute)) return usage("--mute takes no value");
        } else if (arg == "--warp") {
            if (!flag(&o.warp)) return usage("--warp takes no value");
        } else if (arg == "--headless") {
            if (!flag(&o.headless)) return usage("--headless takes no value");
        } else if (arg == "--exit-on-brk") {
            if (!flag(&o.exit_on_brk)) return usage("--exit-on-brk takes no value");
        } else if (arg == "--print-screen") {
            if (!flag(&o.print_screen)) return usage("--print-screen takes no value");
        } else if (arg == "--exact-timing") {
            if (!flag(&o.exact_timing)) return usage("--exact-timing takes no value");
        } else if (arg == "--autostart" || arg == "--no-autostart") {
            if (inline_value) return usage(arg + " takes no value");
            o.autostart = arg == "--autostart" ? 1 : 0;
        } else if (arg == "--speed") {
            if (!take(&v)) return usage("--speed needs a value");
            if (!parse_int(v.c_str(), 1, 4, &n) || n == 3)
                return usage("--speed " + v + ": must be 1, 2 or 4");
            o.speed = static_cast<int>(n);
        } else if (arg == "--zoom") {
            if (!take(&v)) return usage("--zoom needs a value");
            if (!parse_int(v.c_str(), 0, 2, &n))
                return usage("--zoom " + v + ": must be 0, 1 or 2");
            o.zoom = static_cast<int>(n);
        } else if (arg == "--frames") {
            if (!take(&v)) return usage("--frames needs a value");
            if (!parse_int(v.c_str(), 1, 1000000000L, &n))
                return usage("--frames " + v + ": must be a whole number from 1");
            o.frames = n;
        } else if (arg == "--seconds") {
            if (!take(&v)) return usage("--seconds needs a value");
            char *end = nullptr;
            double s = strtod(v.c_str(), &end);
            if (v.empty() || *end || !(s > 0) || s > 1e7)
                return usage("--seconds " + v + ": must be a number above 0");
            o.seconds = s;
        } else if (arg == "--load-at" || arg == "--exit-when") {
            if (!take(&v)) return usage(arg + " needs a value");
            long a = 0;
            if (!parse_address(v, &a))
                return usage(arg + " " + v + ": must be a hexadecimal address 0000-FFFF");
            (arg == "--load-at" ? o.load_at : o.exit_when) = static_cast<int>(a);
        } else if (arg == "--type") {
            if (!take(&v)) return usage("--type needs a value");
            o.type = unescape(v.c_str());
            int bad = sys_type_check(o.type.c_str());
            if (bad >= 0)
                return usage("--type: '" + std::string(1, o.type[bad]) +
                             "' is not on the machine's keyboard");
        } else if (arg == "--rom" || arg == "--disk-rom" || arg == "--disk2" ||
                   arg == "--screenshot" || arg == "--dump-ram" || arg == "--record" ||
                   arg == "--state" || arg == "--save-state" || arg == "--record-input" ||
                   arg == "--replay" || arg == "--labels") {
            if (!take(&v) || v.empty()) return usage(arg + " needs a file name");
            if (arg == "--rom") o.rom = v;
            if (arg == "--disk-rom") o.disk_rom = v;
            if (arg == "--disk2") o.disk2 = v;
            if (arg == "--screenshot") o.screenshot = v;
            if (arg == "--dump-ram") o.dump_ram = v;
            if (arg == "--record") o.record = v;
            if (arg == "--state") o.state = v;
            if (arg == "--save-state") o.save_state = v;
            if (arg == "--labels") o.labels = v;
            if (arg == "--record-input") o.record_input = v;
            if (arg == "--replay") o.replay = v;
        } else {
            return usage("unknown option " + arg);
        }
    }
    if (o.help || o.version) {
        *out = o;
        return ARGS_OK;
    }
    if (!o.file.empty()) {
        o.kind = kind_of(o.file);
        if (o.kind == KIND_NONE)
            return usage(o.file + ": unknown kind of file (.dsk .tap .dat .bas .txt .hrs .bin)");
    }
    if (o.kind == KIND_BIN && o.load_at < 0) return usage(o.file + ": a .bin FILE needs --load-at");
    if (o.kind != KIND_BIN && o.load_at >= 0) return usage("--load-at needs a .bin FILE");
    if (o.frames && o.seconds > 0) return usage("--frames and --seconds: give one of them");
    if (!o.screenshot.empty() && !ends_with(o.screenshot, ".png"))
        return usage("--screenshot " + o.screenshot + ": the name must end in .png");
    if (!o.record.empty() && !ends_with(o.record, ".wav"))
        return usage("--record " + o.record + ": the name must end in .wav");
    if (o.autostart < 0) o.autostart = o.file.empty() ? 0 : 1;
    // A replay's start and input are the recording's own.
    if (!o.replay.empty()) {
        if (!o.record_input.empty()) return usage("--replay and --record-input: give one of them");
        for (const auto &[given, role] : {std::pair{!o.file.empty(), "FILE"},
                                          {!o.disk2.empty(), "--disk2"},
                                          {!o.state.empty(), "--state"},
                                          {!o.type.empty(), "--type"},
                                          {o.speed != 0, "--speed"},
                                          {o.exact_timing, "--exact-timing"}})
            if (given) return usage(std::string("--replay: ") + role + " comes from the recording");
    }

    // Files the run reads must be there now, before anything is written.
    std::string problem;
    auto check = [&problem](const std::string &p) {
        if (problem.empty()) problem = p;
    };
    if (!o.file.empty()) {
        o.file = find_media(o.file);
        check(file_problem("FILE", o.file, o.kind == KIND_DISK ? FDC_IMAGE_SIZE : -1));
        // A program that would not load must not start a run that types RUN.
        bool program = o.kind == KIND_PROGRAM || o.kind == KIND_BIN;
        if (problem.empty() && program && sys_file_check(o.file.c_str(), o.kind == KIND_BIN) != 0)
            check("FILE " + o.file + ": cannot be loaded: " + sys_file_why());
    }
    if (!o.disk2.empty()) {
        o.disk2 = find_media(o.disk2);
        check(file_problem("--disk2", o.disk2, FDC_IMAGE_SIZE));
        if (o.kind == KIND_DISK && problem.empty()) {
            struct stat a, b;
            if (stat(o.file.c_str(), &a) == 0 && stat(o.disk2.c_str(), &b) == 0 &&
                a.st_dev == b.st_dev && a.st_ino == b.st_ino)
                check("--disk2 " + o.disk2 + ": already in drive 1");
        }
    }
    if (!o.rom.empty()) check(file_problem("--rom", o.rom, ROM_IMAGE_BYTES));
    if (!o.disk_rom.empty()) check(file_problem("--disk-rom", o.disk_rom, DISK_ROM_IMAGE_BYTES));
    if (!o.state.empty()) check(file_problem("--state", o.state, -1));
    if (!o.labels.empty() && problem.empty()) {
        check(file_problem("--labels", o.labels, -1));
        if (problem.empty() && labels_load(o.labels.c_str(), 0) != 0)
            check("--labels " + o.labels + ": " + sys_file_why());
    }
    if (!o.replay.empty()) check(file_problem("--replay", o.replay, -1));
    if (!problem.empty()) {
        *error = "kestrel: " + problem;
        return ARGS_FILE_ERROR;
    }
    // What the run reads, and what it writes as each output is checked.
    std::vector<std::pair<std::string, std::string>> used;
    for (const auto &[role, path] : {std::pair{"FILE", &o.file},
                                     {"--disk2", &o.disk2},
                                     {"--state", &o.state},
                                     {"--labels", &o.labels},
                                     {"--replay", &o.replay},
                                     {"--rom", &o.rom},
                                     {"--disk-rom", &o.disk_rom}})
        if (!path->empty()) used.emplace_back(role, *path);
    for (const auto &[role, path, how] : {std::tuple{"--screenshot", &o.screenshot, ATOMIC_REPLACE},
                                          {"--dump-ram", &o.dump_ram, ATOMIC_REPLACE},
                                          {"--record", &o.record, ATOMIC_REPLACE},
                                          {"--save-state", &o.save_state, ATOMIC_REPLACE},
                                          {"--record-input", &o.record_input, ATOMIC_REPLACE}}) {
        if (path->empty()) continue;
        check(output_problem(role, *path, how, used));
        used.emplace_back(role, *path);
    }
    if (!problem.empty()) {
        *error = "kestrel: " + problem;
        return ARGS_USAGE;
    }
    *out = o;
    return ARGS_OK;
}

long sys_args_frames(const sys_options &opts, int refresh) {
    if (opts.frames) return opts.frames;
    if (!(opts.seconds > 0)) return 0;
    // A run shorter than half a frame still ends: 0 would mean "until quit".
    double frames = opts.seconds * 1000.0 / (refresh > 0 ? refresh : 20) + 0.5;
    return frames < 1 ? 1 : static_cast<long>(frames);
}

// A tape whose first block is a BASIC program not marked to run: the
// monitor's LOAD leaves it in memory, so BASIC must be entered and RUN typed.
// A block marked to run is started by the ROM itself.
static bool tape_waits_for_run(const std::string &path) {
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return false;
    uint32_t shift = 0;
    int c = 0;
    while (shift != 0x16161624 && (c = fgetc(f)) != EOF)
        shift = shift << 8 | static_cast<uint8_t>(c);
    unsigned char head[4] = {}; // two reserved bytes, the type, the auto-run flag
    bool found = shift == 0x16161624 && fread(head, 1, 4, f) == 4;
    fclose(f);
    return found && head[2] == 0x00 && head[3] == 0x00;
}

const char *sys_args_autostart_text(const sys_options &opts) {
    if (!opts.autostart) return "";
    if (opts.kind == KIND_TAPE)
        return tape_waits_for_run(opts.file) ? "LOAD\nBASIC\nRUN\n" : "LOAD\n";
    if (opts.kind == KIND_DISK) return "BOOT\n";
    if (ends_with(opts.file, ".bas") || ends_with(opts.file, ".txt")) return "BASIC\nRUN\n";
    return "";
}
