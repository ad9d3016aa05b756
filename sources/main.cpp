#include "main.h"

#include <SDL.h>

#include <algorithm>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ay_8912.h"
#include "board.h"
#include "cpu_6502.h"
#include "fdc.h"
#include "labels.h"
#include "log.h"
#include "mem.h"
#include "ram.h"
#include "sys_args.h"
#include "sys_atomic.h"
#include "sys_cfg.h"
#include "sys_core.h"
#include "sys_data.h"
#include "sys_pad.h"
#include "sys_file.h"
#include "sys_record.h"
#include "sys_replay.h"
#include "sys_runner.h"
#include "sys_sdl.h"
#include "sys_sdl_audio.h"
#include "sys_sdl_console.h"
#include "sys_sdl_video.h"
#include "sys_shot.h"
#include "sys_state.h"
#include "sys_type.h"
#include "vdc.h"
#include "via_6522.h"

#ifndef KESTREL_VERSION
#define KESTREL_VERSION "0"
#endif

static sys_options opts;
static int load_failed; // timer thread: FILE did not load after all

// Start-up failures go to stderr whatever the verbosity: a program that
// cannot open its window must not just vanish.
static int fail(const char *what) {
    fprintf(stderr, "kestrel: %s: %s\n", what, SDL_GetError());
    return 1;
}

static long frames_per_second() {
    return 1000 / refresh;
}

// Timer thread, at each frame start. The ROM clears memory as it starts, so
// programs go in and typing begins once it has had an emulated second.
static void at_frame(long frame) {
    if (frame == frames_per_second()) {
        // Checked before the run; a file changed since is still no program to RUN.
        if ((opts.kind == KIND_PROGRAM && sys_file_load(opts.file.c_str()) != 0) ||
            (opts.kind == KIND_BIN &&
             sys_file_load_bin(opts.file.c_str(), static_cast<uint16_t>(opts.load_at)) != 0)) {
            fprintf(stderr, "kestrel: FILE %s: cannot be loaded: %s\n", opts.file.c_str(),
                    *sys_file_why() ? sys_file_why() : "refused");
            load_failed = 1;
            sys_sdl_plan.stop_after = frame + 1;
            return;
        }
        // From verbosity 1 the loader has said it already.
        if (opts.kind == KIND_BIN && sys_file_skipped() && config[CFG_VERBOSITY].value == 0)
            fprintf(stderr, "kestrel: FILE %s: %d bytes for the I/O page 0300-03FF skipped\n",
                    opts.file.c_str(), sys_file_skipped());
        if (opts.kind == KIND_PROGRAM || opts.kind == KIND_BIN) sys_replay_changed();
        std::string text = std::string(sys_args_autostart_text(opts)) + opts.type;
        if (!text.empty()) sys_type_start(text.c_str(), frame); // a paste may be typing

    }
    sys_type_frame(frame);
}

// Timer thread: an exit condition was met; the frame under way is the last.
static void exit_condition_met() {
    sys_sdl_plan.stop_after = 1;
}

// The status of a run given --exit-when or --exit-on-brk: the condition's,
// 124 when the time limit came first, 128 + the signal that stopped it.
static int runner_status() {
    int status = 0;
    if (sys_runner_status(&status) == 0) {
        if (*sys_runner_report()) fprintf(stderr, "kestrel: %s\n", sys_runner_report());
        return status;
    }
    return sys_sdl_signalled() ? 128 + sys_sdl_signalled() : RUNNER_TIME_LIMIT;
}

// A setting the run cannot use is said once, at every verbosity.
static void say_setting(const char *line) {
    fprintf(stderr, "kestrel: %s\n", line);
}

// One line for an output that failed, with the writer's reason.
static int say_unwritten(const char *option, const std::string &path, const char *why) {
    fprintf(stderr, "kestrel: %s %s: %s\n", option, path.c_str(), *why ? why : "cannot be written");
    return 1;
}

// Media named on the command line go in before the first frame.
static int insert_media() {
    int wp = opts.write_protect ? 1 : 0;
    if (opts.kind == KIND_DISK && fdc_mount(opts.file.c_str(), 0, wp) != 0) {
        fprintf(stderr, "kestrel: FILE %s: cannot be used as a disk\n", opts.file.c_str());
        return 1;
    }
    if (!opts.disk2.empty() && fdc_mount(opts.disk2.c_str(), 1, wp) != 0) {
        fprintf(stderr, "kestrel: --disk2 %s: cannot be used as a disk\n", opts.disk2.c_str());
        return 1;
    }
    if (opts.kind == KIND_TAPE && sys_file_mount_tap(opts.file.c_str()) != 0) {
        fprintf(stderr, "kestrel: FILE %s: cannot be used as a tape\n", opts.file.c_str());
        return 1;
    }
    return 0;
}

// The state's lines (a refusal, a drive left empty) at start-up, before the
// console exists.
static int say_on_stderr(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    fputs("kestrel: ", stderr);
    vfprintf(stderr, fmt, ap);
    fputc('\n', stderr);
    va_end(ap);
    return 0;
}

// A state named on the command line replaces the machine the options made.
static int restore_state() {
    if (opts.state.empty()) return 0;
    sys_file_set_logger(say_on_stderr);
    int failed = sys_state_load(opts.state.c_str());
    sys_file_set_logger(nullptr);
    return failed;
}

// What the run leaves behind; 1 when any of it could not be written.
static int write_outputs() {
    int failed = 0;
    std::string why;
    if (sys_record_stop(&why) != 0) failed = say_unwritten("--record", opts.record, why.c_str());
    if (sys_replay_finish(&why) != 0)
        failed = say_unwritten("--record-input", opts.record_input, why.c_str());
    sys_atomic_forget();
    if (!opts.screenshot.empty() && sys_shot_png(opts.screenshot.c_str()) != 0)
        failed = say_unwritten("--screenshot", opts.screenshot, sys_atomic_error());
    sys_atomic_forget();
    if (!opts.dump_ram.empty() && ram_dump(opts.dump_ram.c_str()) != 0)
        failed = say_unwritten("--dump-ram", opts.dump_ram, sys_atomic_error());
    sys_atomic_forget();
    if (!opts.save_state.empty() && sys_state_save(opts.save_state.c_str()) != 0)
        failed = say_unwritten("--save-state", opts.save_state, sys_atomic_error());
    return failed;
}

// Without its ROMs the machine is a black screen and without the font no
// console opens: say what is missing and where it was looked for, and stop.
// The same lines go to the window, for a start from a menu, where nobody reads
// stderr: `window` collects them.
static int check_data_files(std::string *window) {
    std::vector<std::string> missing = sys_data_missing({"z5.rom", "z5dos.rom", SDLCON_FontFile()});
    if (missing.empty()) return 0;
    char line[4200];
    *window = "kestrel cannot start: data files are missing.\n\n";
    for (const std::string &name : missing) {
        if (name == "z5.rom" && !opts.rom.empty())
            snprintf(line, sizeof line, "--rom %s: cannot be read", opts.rom.c_str());
        else if (name == "z5dos.rom" && !opts.disk_rom.empty())
            snprintf(line, sizeof line, "--disk-rom %s: cannot be read", opts.disk_rom.c_str());
        else
            snprintf(line, sizeof line, "data file \"%s\" not found", name.c_str());
        fprintf(stderr, "kestrel: %s\n", line);
        window->append(line).append("\n");
    }
    std::string folders;
    for (const std::string &dir : sys_data_folders())
        folders.append(folders.empty() ? "" : ", ").append(dir);
    fprintf(stderr, "kestrel: looked in %s\n", folders.c_str());
    window->append("\nlooked in ").append(folders).append("\n\npress a key to close");
    return 1;
}

// Shows `text` in a window until a key, a click or closing it; a planned run
// (--frames, --seconds) only for its length. Nothing when no window opens.
static void tell_in_window(const std::string &text) {
    if (opts.headless || sys_sdl_init() != 0) return;
    vdc_init();
    video->zoom = zoom;
    if (video_sdl_init() == 0 && SDLCON_Notice(text.c_str()) == 0) {
        long planned =
            opts.frames ? opts.frames : static_cast<long>(opts.seconds * 1000.0 / refresh);
        uint32_t until = SDL_GetTicks() + static_cast<uint32_t>(planned * refresh);
        for (bool done = false; !done && !sys_sdl_signalled();) {
            SDL_Event ev;
            while (!done && SDL_PollEvent(&ev))
                done =
                    ev.type == SDL_QUIT || ev.type == SDL_KEYDOWN || ev.type == SDL_MOUSEBUTTONDOWN;
            if (planned > 0 && static_cast<int32_t>(SDL_GetTicks() - until) >= 0) done = true;
            SDL_Delay(20);
        }
    }
    video_sdl_finish();
    sys_sdl_finish();
}

static std::string folder_of(const std::string &path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Temporaries that killed runs left where this one writes.
static void sweep_folders() {
    std::vector<std::string> folders = {"."};
    for (const std::string *path :
         {&opts.screenshot, &opts.dump_ram, &opts.record, &opts.save_state, &opts.disk2})
        if (!path->empty()) folders.push_back(folder_of(*path));
    if (opts.kind == KIND_DISK) folders.push_back(folder_of(opts.file));
    std::sort(folders.begin(), folders.end());
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    for (const std::string &folder : folders)
        sys_atomic_sweep(folder.c_str());
}

int main(int argc, char **argv) {
    sys_data_beside_program(1); // FILE is looked up while parsing
    std::string error;
    // A menu launch works in the user's own folder: first, so that every
    // name on the command line is taken from there.
    std::vector<const char *> args(argv, argv + argc);
    auto user = std::find_if(args.begin() + 1, args.end(),
                             [](const char *a) { return strcmp(a, "--user-folder") == 0; });
    if (user != args.end()) {
        args.erase(user);
        if (sys_data_user_folder(&error) != 0) {
            fprintf(stderr, "kestrel: --user-folder: %s\n", error.c_str());
            return 1;
        }
    }
    int parsed = sys_args_parse(static_cast<int>(args.size()), args.data(), &opts, &error);
    if (parsed != ARGS_OK) {
        fprintf(stderr, "%s\n", error.c_str());
        return parsed;
    }
    if (opts.help) return fputs(sys_args_usage(), stdout), 0;
    if (opts.version) return printf("kestrel %s\n", KESTREL_VERSION), 0;
    if (opts.headless) {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
    }
    if (!opts.rom.empty()) sys_data_override("z5.rom", opts.rom.c_str());
    if (!opts.disk_rom.empty()) sys_data_override("z5dos.rom", opts.disk_rom.c_str());
    // A full disk is a failed write to report, not a reason to die.
    signal(SIGXFSZ, SIG_IGN);
    sys_sdl_catch_signals();

    // A missing file means defaults; it is written once every check passed.
    sys_cfg_read();
    sys_cfg_bound(say_setting); // the file is written with what it said
    log_verbosity(config[CFG_VERBOSITY].value);
    sweep_folders();
    sys_apply_config();
    sys_pad_defaults();
    std::vector<std::string> refused; // the gamepad's lines left out
    sys_pad_load(PAD_FILE, &refused);
    for (const std::string &line : refused)
        say_setting(line.c_str());
    if (std::string notice; check_data_files(&notice) != 0) {
        tell_in_window(notice);
        return 1;
    }
    // The command line overrides the file for this run only.
    if (opts.speed) speed = opts.speed;
    if (opts.zoom >= 0) zoom = opts.zoom;
    if (opts.headless || opts.mute) sound = 0;
    // The processor reset reads its vector through memory: ROM first.
    if (board_init() != 0) {
        fprintf(stderr, "kestrel: the machine could not be set up\n");
        return 1;
    }
    if (opts.exact_timing) sys_exact_timing(1);
    if (!opts.labels.empty()) labels_load(opts.labels.c_str(), 1); // checked with the options
    std::string why;
    if (!opts.replay.empty()) {
        if (sys_replay_open(opts.replay.c_str(), &why) != 0) {
            fprintf(stderr, "kestrel: --replay %s refused: %s\n", opts.replay.c_str(), why.c_str());
            fdc_flush();
            return 1;
        }
        refresh = static_cast<int>(sys_replay_refresh());
    }
    if (insert_media() != 0 || restore_state() != 0 ||
        (!opts.record_input.empty() && sys_replay_record(opts.record_input.c_str(), &why) != 0 &&
         say_unwritten("--record-input", opts.record_input, why.c_str())) ||
        (!opts.record.empty() && sys_record_start(opts.record.c_str(), &why) != 0 &&
         say_unwritten("--record", opts.record, why.c_str()))) {
        fdc_flush();
        return 1;
    }
    sys_cfg_save(); // an unwritable file is left alone
    if (sys_sdl_init() != 0) return fail("cannot start SDL");
    video->zoom = zoom;
    if (video_sdl_init() != 0) {
        sys_sdl_finish();
        return fail("cannot open the window");
    }
    // Without a device the machine's clock drives the sound: writes keep their cycle.
    audio->paused = 0;
    if (audio_sdl_init() != 0) fprintf(stderr, "kestrel: no sound: %s\n", SDL_GetError());
    sys_sdl_plan.stop_after = sys_args_frames(opts, refresh);
    sys_sdl_plan.at_frame = at_frame;
    if (opts.warp) sys_sdl_warp(1);
    sys_runner_arm(opts.exit_when, opts.exit_on_brk ? 1 : 0, exit_condition_met);
    // Only a run that asks for an exit condition steps through its check.
    sys_sdl_run(sys_runner_armed() ? sys_runner_step : sys_systemloop);
    int failed = write_outputs() | load_failed;
    if (opts.print_screen) {
        machine_guard hold;
        fputs(sys_runner_screen().c_str(), stdout);
        fflush(stdout);
    }
    audio_sdl_finish();
    video_sdl_finish();
    sys_sdl_finish();
    // The disks last: a write-back that fails has said which and why, and
    // the run must not then look like a success.
    if (fdc_flush() != 0) failed = 1;
    if (!sys_runner_armed() || load_failed) return failed;
    // A run that could not write what was asked has failed, whatever A says.
    int status = runner_status();
    return failed && status == 0 ? 1 : status;
}
