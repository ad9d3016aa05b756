#include "sys_sdl_console.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <DT_drawtext.h>
#include <strings.h>
#include <unistd.h>
#include <iterator>
#include <mutex>

#include "ay_8912.h"
#include "fdc.h"
#include "labels.h"
#include "log.h"
#include "ram.h"
#include "asm_6502.h"
#include "dasm_6502.h"
#include "mem.h"
#include "cpu_6502.h"
#include "sys_atomic.h"
#include "sys_cfg.h"
#include "sys_core.h"
#include "sys_data.h"
#include "sys_debug.h"
#include "sys_file.h"
#include "sys_record.h"
#include "sys_runner.h"
#include "sys_sdl.h"
#include "sys_sdl_audio.h"
#include "sys_sdl_clip.h"
#include "sys_shot.h"
#include "sys_replay.h"
#include "sys_rewind.h"
#include "sys_state.h"
#include "vdc.h"

// Sanitizer builds: the console library loses surfaces it makes while it
// sets a console up or resizes it, and Xlib the input context SDL asks it
// for; those leaks are theirs. Full stacks at allocation let the
// suppressions see the libraries' frames.
extern "C" const char *__asan_default_options() {
    return "fast_unwind_on_malloc=0";
}
extern "C" const char *__lsan_default_suppressions() {
    return "leak:CON_Init\nleak:CON_Resize\nleak:XCreateIC\n";
}

// Console fonts by the configuration key "font", with their cell widths;
// the last is no setting's, the one for a window too narrow for the others.
struct console_font {
    const char *file;
    int width;
};
constexpr console_font fonts[] = {
    {"kestrel_font_6x13.bmp", 6}, {"kestrel_font_7x14.bmp", 7}, {"kestrel_font_8x15.bmp", 8},
    {"kestrel_font_9x15.bmp", 9}, {"kestrel_font_4x6.bmp", 4},
};
static_assert(std::size(fonts) == 5);
constexpr int FONT_DEFAULT = 1, FONT_SETTINGS = 4, FONT_NARROW = 4;

// The words tab completion offers, in the order it lists them.
constexpr const char *commands[] = {
    "?",      "?keys", "mnt1",    "umnt1",    "mnt2",   "umnt2", "load",  "save",
    "tape",   "utape", "soundon", "soundoff", "dump",   "asm",   "dasm",  "shot",
    "record", "state", "exacton", "exactoff", "rewind", "copy",  "labels", "volume",
};
static_assert(std::size(commands) == 24);

constexpr const char *help_keys[] = {
    "=== HELP/KEYS ======================================",
    " F1                             - show/hide console",
    " Esc            - hides the console, else ESC key",
    " F2/F3      - quick save/restore in kestrel.state",
    " F4               - toggle charset, raises an NMI",
    " F5/F6                              - speed down/up",
    " Ctrl+F5/F6                        - volume down/up",
    " F7/F8               - zoom out/in, sizes the window",
    " F9                                  - warp on/off",
    " F10                                         - quit",
    " F11, Alt+Enter                 - fullscreen/window",
    " Ctrl+F11                                     - nmi",
    " F12                - reset; a paused machine runs",
    " Print Screen        - screenshot kestrel_NNNN.png",
    " Shift+Insert, Ctrl+Shift+V  - type the clipboard",
    " middle mouse button         - type the selection",
    " PgUp        - back 1 s (console closed): rewind",
    "----------------------------------------------------",
    " host key                          - machine key",
    " letters, digits, signs      - the same key",
    " Backspace, Delete                          - DEL",
    " Caps Lock, Scroll Lock       - CAPS (capitals)",
    " Home              - CTRL+L: clear screen and home",
    " Shift, Ctrl, Alt, arrows         - the same keys",
    " keypad                 - its digits and operators",
    " End, Insert, Tab, Alt Gr        - no machine key",
    " _ ` ~ show as the machine's pound, (c), shade",
    "----------------------------------------------------",
    " TAB                         - complete the command",
    " Up/Down                   - prev/next line history",
    " PgUp/PgDown                 - scroll console a page",
    " Ctrl c                       - cancel current line",
    " Ctrl l                             - clear console",
    "----------------------------------------------------",
};

constexpr const char *help_text[] = {
    "=== HELP/COMMANDS ==================================",
    " ?|?keys                           - show some help",
    "----------------------------------------------------",
    " mnt{1|2} image.dsk      - insert/create disk image",
    " umnt{1|2}                       - eject disk image",
    "----------------------------------------------------",
    " tape file.tap            - insert/rewind tape file",
    " utape                               - release tape",
    "----------------------------------------------------",
    " load file.$$$                          - load file",
    " load file.bin A####         - load at address AAAA",
    " save file.$$$                          - save file",
    " save file.bin A#### {E|L}####        - save as bin",
    " save file.tap A#### {E|L}####        - save as tap",
    "                      ------------------------------",
    "                      '$$$' is {tap|dat|bas|txt|hrs}",
    "----------------------------------------------------",
    " sound{on|off}                  - turn sound on/off",
    " volume [0-100]             - playing volume (show)",
    " dump                        - take memory snapshot",
    "----------------------------------------------------",
    " asm file.{asm|s} [out.bin]   - assemble to file.bin",
    " dasm file.{bin|tap} [out]     - disassemble to .asm",
    " dasm A#### {E|L}####     - disassemble to file.asm",
    "----------------------------------------------------",
};
static_assert(std::size(help_text) == 25);

// Commands beyond the original set, listed after it.
constexpr const char *help_more[] = {
    " mnt{1|2} image.dsk ro   - insert write-protected",
    " shot [file.png]          - screenshot (numbered)",
    " save file.bmp                 - screen as bitmap",
    " record file.wav|off          - record the sound",
    " copy              - text screen to the clipboard",
    "----------------------------------------------------",
};

constexpr const char *help_state[] = {
    " state save file.state      - save the whole machine",
    " state load file.state     - restore a saved machine",
    " F2/F3            - quick save/restore kestrel.state",
    " rewind N              - back N s (60 s are kept)",
    "----------------------------------------------------",
};

// The monitor and the assembler's extra forms; "?" prints these after the
// lines above.
constexpr const char *help_monitor[] = {
    "=== MONITOR ========================================",
    " r                     - registers, next instruction",
    " r {a|x|y|s|p|pc} ####              - set a register",
    " m A#### [{E|L}####]                   - show memory",
    " e A#### ## ## ...                     - store bytes",
    " d [A####] [lines]             - disassemble (at pc)",
    " b [A####]                    - set/list breakpoints",
    " bc [A####]                   - clear one/all breaks",
    " w [A#### [{E|L}####]]            - set/list watches",
    " wc [A####]                  - clear one/all watches",
    " s [n]                    - step 1 or n instructions",
    " n                                 - step over a jsr",
    " ret                      - run through the next rts",
    " c                                        - continue",
    " p                                           - pause",
    "----------------------------------------------------",
    " asm file.s A                 - assemble into memory",
    " dasm file.bin A#### [out]     - disassemble at AAAA",
    " dasm A#### {E|L}#### file.asm     - to another file",
    " labels file.lbl     - your labels in trace, d, dasm",
    " labels                           - drop your labels",
    "----------------------------------------------------",
};
static_assert(std::size(help_monitor) == 22);

// The monitor's words for tab completion, listed after `commands`.
constexpr const char *monitor_commands[] = {"r",  "m", "e", "d",   "b", "bc", "w",
                                            "wc", "s", "n", "ret", "c", "p"};
static_assert(std::size(monitor_commands) == 13);

constexpr int MONITOR_DUMP = 0x80; // bytes "m" shows without a length
constexpr int MONITOR_LINES = 16;  // instructions "d" shows without a count
// Lines one "d" or "m" prints, within the scroll-back also when a dump row
// wraps in two. The rest is a command away, so no listing holds the machine.
constexpr int MONITOR_PAGE = 256;
constexpr uint32_t MONITOR_DUMP_PAGE = DEBUG_DUMP_ROW * MONITOR_PAGE;

constexpr const char *help_timing[] = {
    " exact{on|off}           - chips' real timing on/off",
    "----------------------------------------------------",
};

static struct {
    ConsoleInformation *console;
    int visible; // main thread only
    // Recursive: the tab callback prints from inside the library's event
    // handling, which already holds it.
    std::recursive_mutex lock;
    // The line the library handed to its execute callback, run once the
    // library has returned and the console lock is free.
    char pending[CON_CHARS_PER_LINE + 1];
    bool has_pending;
    int surface_w, surface_h; // output size the geometry was fitted to
    // The library remembers the console last made topmost, without telling
    // us, and draws on it when the next one is made topmost. So a console
    // that was topmost is only freed once another has taken its place; its
    // fonts, which the library frees all at once, are kept meanwhile.
    bool topmost;
    ConsoleInformation *retired;
    bool muted;                   // main thread: the monitor paused the sound and owes it back
    bool redraw;                  // lines were added since the console's surface was drawn
    int font;                     // of `fonts`, in use
    int loaded[std::size(fonts)]; // the library's number + 1 of each font loaded, 0: not yet
} sdlcon;

using console_guard = std::lock_guard<std::recursive_mutex>;

// Console rectangle over a window of w x h host pixels, laid out as for
// zoom `level`. The smallest takes the whole width: every column counts
// there. A larger window (resized, fullscreen) gets a console as large.
static SDL_Rect pick_rect(int level, int w, int h) {
    w = std::max(w, video->width);
    h = std::max(h, video->height);
    if (level == 0) return {0, 16, static_cast<Uint16>(w), static_cast<Uint16>(h - 20)};
    return {8, 32, static_cast<Uint16>(w - 16), static_cast<Uint16>(h - 40)};
}

// The rectangle for the window a zoom level opens.
static SDL_Rect pick_rect(int level) {
    int scale = level == 0 ? 1 : 2;
    return pick_rect(level, scale * video->width, scale * video->height);
}

static int columns(int font, int width) {
    return (width - CON_CHAR_BORDER) / fonts[font].width;
}

static int chosen_font();

// The configured font when it gives the console SDLCON_COLUMNS, else the
// widest font that does, else the narrowest there is.
static int font_for(int width) {
    int best = chosen_font();
    if (columns(best, width) >= SDLCON_COLUMNS) return best;
    best = FONT_NARROW;
    for (int f = 0; f < FONT_SETTINGS; f++)
        if (columns(f, width) >= SDLCON_COLUMNS && fonts[f].width > fonts[best].width) best = f;
    return best;
}

// Adds one line without drawing it (console lock held). The library redraws
// its whole surface for each line while the console is open, about 10 ms a
// line: a long listing held the machine for minutes. The next frame draws
// the console once.
static void out_line(const char *text) {
    sdlcon.console->ConsoleScrollBack = 0; // what is new is in view
    int shown = sdlcon.console->Visible;
    sdlcon.console->Visible = CON_CLOSED;
    CON_Out(sdlcon.console, "%s", text);
    sdlcon.console->Visible = shown;
    sdlcon.redraw = true;
}

// Prints one line; the text is never read as a format.
static void say(const char *text) {
    console_guard hold(sdlcon.lock);
    if (sdlcon.console) out_line(text);
}

__attribute__((format(printf, 1, 2))) static void sayf(const char *fmt, ...) {
    char line[1024];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    say(line);
}

// A failure says why when the file operation gave a reason.
static void say_result(int result) {
    if (result == 0)
        say("ready");
    else if (*sys_file_why())
        sayf("error: %s", sys_file_why());
    else
        say("error");
}

// A file written, or why not: the writer's reason when it gave one.
static void say_written(int result, const std::string &why) {
    if (result == 0 || why.empty())
        say_result(result);
    else
        sayf("error: %s", why.c_str());
}

// The same, for writers that leave their reason with the atomic writer;
// `write` runs with no earlier reason around.
template <typename F> static void say_written(F write) {
    sys_atomic_forget();
    int result = write();
    say_written(result, sys_atomic_error());
}

static void clear_output() {
    console_guard hold(sdlcon.lock);
    if (sdlcon.console) Clear_History(sdlcon.console);
}

static void record_command(ConsoleInformation *, char *command) {
    snprintf(sdlcon.pending, sizeof sdlcon.pending, "%s", command);
    sdlcon.has_pending = true;
}

// Frees a console the library no longer refers to, with the prompt the
// library copied and does not free itself. `fonts`: also every loaded font.
static void free_console(ConsoleInformation *console, bool fonts) {
    free(console->Prompt);
    console->Prompt = nullptr;
    if (fonts)
        CON_Destroy(console);
    else
        CON_Free(console);
}

static void draw_overlay() {
    SDLCON_Update();
}

// Reads the hexadecimal number after the first letter of `word`; false when
// none follows.
static bool read_hex_after_letter(const char *word, uint32_t *out) {
    if (!word[0]) return false;
    char *end = nullptr;
    unsigned long value = strtoul(word + 1, &end, 16);
    if (end == word + 1) return false;
    *out = static_cast<uint32_t>(value & 0xFFFF);
    return true;
}

static bool is_word(const char *word, const char *name) {
    return strings_cmpi(word, name) == 0;
}

static bool begins_with(const char *word, char letter) {
    return word[0] == letter || word[0] == letter - 'A' + 'a';
}

static void run_load(char **words, int n) {
    if (n == 2) {
        sayf("loading '%s'", words[1]);
        machine_guard hold;
        say_result(sys_file_load(words[1]));
        return;
    }
    if (n != 3) {
        say("? syntax error");
        return;
    }
    // "A" alone is 0; anything but hex digits after it is no address.
    const char *digits = words[2] + 1;
    if (!begins_with(words[2], 'A') || strspn(digits, "0123456789abcdefABCDEF") != strlen(digits)) {
        // A bare number would read "A000" and "B000" differently: ask for the letter.
        say("the address is written with an A: load file.bin A0500");
        say("? syntax error");
        return;
    }
    uint32_t addr = 0;
    read_hex_after_letter(words[2], &addr);
    sayf("loading '%s'", words[1]);
    machine_guard hold;
    say_result(sys_file_load_bin(words[1], static_cast<uint16_t>(addr)));
}

// "save name A#### L####" or "save name A#### E####"; the range wraps at
// 64 KiB, so the whole of memory cannot be named.
static void run_save_range(char **words) {
    uint32_t start = 0, end = 0, size = 0, number = 0;
    int fields = 0;
    if (begins_with(words[2], 'A') && read_hex_after_letter(words[2], &number)) {
        start = number;
        fields++;
    }
    if (begins_with(words[3], 'L') && read_hex_after_letter(words[3], &number)) {
        fields++;
        end = (start + number - 1) & 0xFFFF;
        size = (end - start + 1) & 0xFFFF;
    } else if (begins_with(words[3], 'E') && read_hex_after_letter(words[3], &number)) {
        fields++;
        size = (number - start + 1) & 0xFFFF;
        end = (start + size - 1) & 0xFFFF;
    }
    if (fields != 2) {
        say("? syntax error");
        return;
    }
    sayf("saving '%s' $%.4X - $%.4X (size = $%.4X)", words[1], start, end, size);
    machine_guard hold;
    say_result(
        sys_file_save_bin(words[1], static_cast<uint16_t>(start), static_cast<uint16_t>(size)));
}

static void run_save(char **words, int n) {
    if (n == 2) {
        sayf("saving '%s'", words[1]);
        machine_guard hold;
        say_result(sys_file_save(words[1]));
    } else if (n == 4) {
        run_save_range(words);
    } else {
        say("? syntax error");
    }
}

static void run_tape(const char *path) {
    machine_guard hold;
    say_result(sys_file_mount_tap(path));
}

static void run_shot(char **words, int n) {
    if (n > 2) {
        say("? syntax error");
        return;
    }
    std::string name = n == 2 ? words[1] : sys_shot_next_name();
    sayf("screenshot '%s'", name.c_str());
    machine_guard hold;
    say_written([&] { return sys_shot_png(name.c_str()); });
}

static void run_record(char **words, int n) {
    if (n != 2) {
        say("? syntax error");
        return;
    }
    std::string why;
    if (strings_cmpi(words[1], "off") == 0) {
        int failed = sys_record_stop(&why);
        say_written(failed, why);
        return;
    }
    sayf("recording to '%s'", words[1]);
    int failed = sys_record_start(words[1], &why);
    say_written(failed, why);
}

static void run_umount(char digit) {
    sayf("unmounting drive %c", digit);
    machine_guard hold;
    say_result(fdc_umount(digit - '1'));
}

// A monitor address: hex, with "$" or an "A" before four digits allowed.
static bool read_address(const char *word, uint32_t *out) {
    if (word[0] == '$') word++;
    if (strlen(word) == 5 && begins_with(word, 'A')) word++;
    char *end = nullptr;
    unsigned long value = strtoul(word, &end, 16);
    if (!word[0] || *end || value > 0xFFFF) return false;
    *out = static_cast<uint32_t>(value);
    return true;
}

// "E####" (last address) or "L####" (length) after `start`: the size.
static bool read_extent(const char *word, uint32_t start, uint32_t *size) {
    uint32_t number = 0;
    if (!read_hex_after_letter(word, &number)) return false;
    if (begins_with(word, 'L'))
        *size = number;
    else if (begins_with(word, 'E'))
        *size = ((number - start) & 0xFFFF) + 1;
    else
        return false;
    return *size > 0;
}

// A stopped machine is silent: the monitor pauses the sound and hands it
// back on "c". Main thread.
static void mute_if_stopped() {
    machine_guard hold;
    dbg_stop stop;
    sys_debug_state(&stop);
    if (stop.state == DBG_RUNNING || sdlcon.muted || !audio || audio->paused || !audio->pause)
        return;
    audio->pause();
    sdlcon.muted = true;
}

static void unmute() {
    machine_guard hold;
    if (sdlcon.muted && audio && audio->unpause) audio->unpause();
    sdlcon.muted = false;
}

// "volume" shows the playing volume, "volume N" sets it (0 to 100).
static void run_volume(const char *word) {
    if (word) {
        char *end = nullptr;
        long level = strtol(word, &end, 10);
        if (end == word || *end || level < 0 || level > AUDIO_SDL_VOLUME_MAX) {
            say("the volume is 0 to 100: volume 70");
            say("? syntax error");
            return;
        }
        audio_sdl_volume(static_cast<int>(level));
    }
    sayf("volume %d", audio_sdl_volume(-1));
    say("ready");
}

// "asm file [A]" or "asm file out.bin".
static void run_asm(char **words, int n) {
    if (n < 2 || n > 3) {
        say("? syntax error");
        return;
    }
    bool to_memory = n == 3 && strings_cmpi(words[2], "A") == 0;
    sayf("assembling '%s'", words[1]);
    machine_guard hold;
    say_result(asm_6502_file(words[1], to_memory, n == 3 && !to_memory ? words[2] : nullptr));
}

// "dasm file [A####] [out.asm]" or "dasm A#### {E|L}#### [out.asm]".
static void run_dasm(char **words, int n) {
    uint32_t start = 0, size = 0;
    bool range = n >= 3 && begins_with(words[1], 'A') && read_address(words[1], &start) &&
                 read_extent(words[2], start, &size);
    if (range && n <= 4) {
        const char *out = n == 4 ? words[3] : "kestrel.asm";
        sayf("disassembling $%.4X-$%.4X to '%s'", start, (start + size - 1) & 0xFFFF, out);
        machine_guard hold;
        say_result(dasm_6502_memory(static_cast<uint16_t>(start), size, out, n == 4));
        return;
    }
    bool has_address = n >= 3 && read_address(words[2], &start);
    const char *out = n == 4 || (n == 3 && !has_address) ? words[n - 1] : nullptr;
    if (n < 2 || n > 4 || (n == 4 && !has_address)) {
        say("? syntax error");
        return;
    }
    sayf("disassembling '%s'", words[1]);
    machine_guard hold;
    say_result(dasm_6502_file(words[1], static_cast<uint16_t>(start), out));
}

// The monitor's commands; false when `cmd` is none of them or its words
// do not fit.
static bool run_monitor(const char *cmd, char **words, int n) {
    auto is = [cmd](const char *word) { return strings_cmpi(cmd, word) == 0; };
    uint32_t addr = 0, size = 0;
    bool has_addr = n >= 2 && read_address(words[1], &addr);
    machine_guard hold;
    if (is("r") && n == 1) {
        sys_debug_show();
    } else if (is("r") && n == 3 && read_address(words[2], &size) &&
               sys_debug_set_register(words[1], size) == 0) {
        sys_debug_show();
    } else if (is("m") && has_addr && n <= 3) {
        size = MONITOR_DUMP;
        if (n == 3 && !read_extent(words[2], addr, &size)) return false;
        uint32_t shown = size > MONITOR_DUMP_PAGE ? MONITOR_DUMP_PAGE : size;
        sys_debug_dump(static_cast<uint16_t>(addr), static_cast<int>(shown));
        if (shown < size)
            sayf("more: m A%.4X L%.4X", (addr + shown) & 0xFFFF, (size - shown) & 0xFFFF);
    } else if (is("e") && has_addr && n >= 3) {
        for (int i = 2; i < n; i++) {
            uint32_t byte = 0;
            if (!read_address(words[i], &byte) || byte > 0xFF) return false;
            mem_write((addr + static_cast<uint32_t>(i) - 2) & 0xFFFF, static_cast<int>(byte));
        }
    } else if (is("d") && n <= 3 && (n == 1 || has_addr)) {
        long lines = n == 3 ? strtol(words[2], nullptr, 10) : MONITOR_LINES;
        if (lines <= 0) lines = MONITOR_LINES;
        int shown = lines > MONITOR_PAGE ? MONITOR_PAGE : static_cast<int>(lines);
        uint16_t next = 0;
        sys_debug_disassemble(n == 1 ? cpu_6502.pcreg : static_cast<uint16_t>(addr), shown, &next);
        if (shown < lines) sayf("more: d A%.4X %ld", next, lines - shown);
    } else if ((is("b") || is("w")) && n == 1) {
        sys_debug_list();
    } else if (is("b") && has_addr && n == 2) {
        if (sys_debug_break(static_cast<uint16_t>(addr)) != 0) say("too many breakpoints");
    } else if (is("w") && has_addr && n <= 3) {
        size = 1;
        if (n == 3 && !read_extent(words[2], addr, &size)) return false;
        uint32_t last = addr + size - 1;
        if (last > 0xFFFF ||
            sys_debug_watch(static_cast<uint16_t>(addr), static_cast<uint16_t>(last)) != 0)
            say("cannot set that watch");
    } else if ((is("bc") || is("wc")) && (n == 1 || (has_addr && n == 2))) {
        int which = n == 1 ? -1 : static_cast<int>(addr);
        if ((is("bc") ? sys_debug_unbreak(which) : sys_debug_unwatch(which)) != 0)
            say("none there");
    } else if (is("s") && n <= 2) {
        sys_debug_step(n == 2 ? atoi(words[1]) : 1);
    } else if (is("n") && n == 1) {
        sys_debug_over();
    } else if (is("ret") && n == 1) {
        sys_debug_return();
    } else if (is("c") && n == 1) {
        sys_debug_continue();
    } else if (is("p") && n == 1) {
        sys_debug_pause();
    } else {
        return false;
    }
    return true;
}

static int chosen_font() {
    int font = config[CFG_FONT].value;
    return font < 0 || font >= FONT_SETTINGS ? FONT_DEFAULT : font;
}

const char *SDLCON_FontFile() {
    return fonts[chosen_font()].file;
}

// `line` cut into pieces of at most `cols` characters, at a space where one is.
static std::vector<std::string> wrap(std::string line, size_t cols) {
    std::vector<std::string> out;
    while (line.size() > cols) {
        size_t cut = line.rfind(' ', cols);
        size_t next = cut == std::string::npos || cut == 0 ? (cut = cols) : cut + 1;
        out.push_back(line.substr(0, cut));
        line.erase(0, next);
    }
    out.push_back(line);
    return out;
}

int SDLCON_Notice(const char *text) {
    auto *surface = static_cast<SDL_Surface *>(video->surface);
    if (!surface) return 1;
    int font = -1;
    for (int i : {chosen_font(), 0, 1, 2, 3}) {
        std::string path = sys_data_path(fonts[i].file);
        // The library complains on stdout about a font it cannot open.
        if (access(path.c_str(), R_OK) == 0 && (font = DT_LoadFont(path.c_str(), TRANS_FONT)) >= 0)
            break;
    }
    if (font < 0) return 1;
    const int cw = DT_FontWidth(font), ch = DT_FontHeight(font), margin = cw;
    const size_t cols = static_cast<size_t>(std::max(1, (surface->w - 2 * margin) / cw));
    SDL_FillRect(surface, nullptr, SDL_MapRGB(surface->format, 0x40, 0, 0));
    int y = margin;
    std::string all = text;
    for (size_t start = 0; start <= all.size() && y + ch <= surface->h;) {
        size_t end = std::min(all.find('\n', start), all.size());
        for (const std::string &piece : wrap(all.substr(start, end - start), cols)) {
            if (y + ch > surface->h) break;
            DT_DrawText(piece.c_str(), surface, font, margin, y);
            y += ch;
        }
        start = end + 1;
    }
    SDL_Flip(surface);
    return 0;
}

// Changes the console's font to the one that fits `rect` (console lock
// held). The library keeps its fonts for good, so each is loaded once.
static void fit_font(SDL_Rect rect) {
    ConsoleInformation *c = sdlcon.console;
    int want = font_for(rect.w);
    if (want == sdlcon.font) return;
    if (sdlcon.loaded[want] == 0) {
        std::string path = sys_data_path(fonts[want].file);
        if (access(path.c_str(), R_OK) != 0) return; // the library would complain
        sdlcon.loaded[want] = DT_LoadFont(path.c_str(), TRANS_FONT) + 1;
    }
    if (sdlcon.loaded[want] <= 0) return;
    sdlcon.font = want;
    c->FontNumber = sdlcon.loaded[want] - 1;
    c->FontWidth = DT_FontWidth(c->FontNumber);
    c->FontHeight = DT_FontHeight(c->FontNumber);
    CON_Resize(c, rect);
    sdlcon.redraw = true;
}

int SDLCON_Init() {
    int font = chosen_font();
    if (font != config[CFG_FONT].value)
        log_error("font %d unknown, using %d", config[CFG_FONT].value, FONT_DEFAULT);
    auto *surface = static_cast<SDL_Surface *>(video->surface);
    if (!surface) return 1;
    {
        machine_guard machine; // before the console lock, as everywhere
        sys_debug_set_printer(sys_sdl_log);
    }
    console_guard hold(sdlcon.lock);
    if (sdlcon.console) return 0;
    SDL_Rect rect = pick_rect(video->zoom);
    ConsoleInformation *console =
        CON_Init(sys_data_path(fonts[font].file).c_str(), surface, SDLCON_LINES, rect);
    if (!console) return 1;
    sdlcon.console = console;
    for (int &n : sdlcon.loaded)
        n = 0;
    sdlcon.loaded[font] = console->FontNumber + 1;
    sdlcon.topmost = false;
    sdlcon.visible = 0;
    sdlcon.has_pending = false;
    sdlcon.surface_w = surface->w;
    sdlcon.surface_h = surface->h;
    sdlcon.font = font;
    fit_font(rect);
    CON_SetExecuteFunction(console, record_command);
    CON_SetPrompt(console, const_cast<char *>(SDLCON_PROMPT));
    SDL_EnableKeyRepeat(0, 0);
    CON_Alpha(console, SDLCON_ALPHA);
    Clear_History(console); // drops the library's own greeting
    CON_Out(console, "%s", "type '?' to see brief help");
    CON_Out(console, "%s", "");
    video->overlay = draw_overlay;
    sys_file_set_logger(sys_sdl_log); // the loaders' listing lines
    fdc_set_teller(sys_sdl_log);      // what the disks must tell
    return 0;
}

// The video record keeps pointing at draw_overlay, which draws nothing
// without a console: the frame that might be running needs no warning.
int SDLCON_Quit() {
    sys_file_set_logger(nullptr);
    fdc_set_teller(nullptr);
    {
        machine_guard machine;
        sys_debug_set_printer(nullptr);
    }
    console_guard hold(sdlcon.lock);
    if (!sdlcon.console) return 0;
    if (sdlcon.topmost)
        sdlcon.retired = sdlcon.console;
    else
        free_console(sdlcon.console, !sdlcon.retired);
    sdlcon.console = nullptr;
    sdlcon.visible = 0;
    return 0;
}

int SDLCON_Visible() {
    return sdlcon.visible;
}

int SDLCON_Show() {
    console_guard hold(sdlcon.lock);
    if (sdlcon.visible || !sdlcon.console) return 0;
    sdlcon.visible = 1;
    // The library trims this to the console's height: fully open at once.
    sdlcon.console->RaiseOffset = sdlcon.console->ConsoleSurface->w;
    SDL_EnableKeyRepeat(250, 30);
    CON_Topmost(sdlcon.console);
    sdlcon.topmost = true;
    if (sdlcon.retired) {
        free_console(sdlcon.retired, false);
        sdlcon.retired = nullptr;
    }
    CON_Show(sdlcon.console);
    return 0;
}

int SDLCON_Hide() {
    console_guard hold(sdlcon.lock);
    if (!sdlcon.visible || !sdlcon.console) return 0;
    sdlcon.visible = 0;
    sdlcon.console->RaiseOffset = 0;
    SDL_EnableKeyRepeat(0, 0);
    CON_Hide(sdlcon.console);
    return 0;
}

// PgUp and PgDn: a page less a line, so that one line stays in view.
static void scroll_page(int direction) {
    ConsoleInformation *c = sdlcon.console;
    int rows = c->ConsoleSurface->h / c->FontHeight - 1; // above the command line
    int page = std::max(1, rows - 1);
    int most = std::max(0, c->TotalConsoleLines - rows);
    c->ConsoleScrollBack = std::clamp(c->ConsoleScrollBack + direction * page, 0, most);
    sdlcon.redraw = true;
}

// Tab on the command word: its completion replaces what is typed.
static void complete_command_word() {
    ConsoleInformation *c = sdlcon.console;
    char typed[CON_CHARS_PER_LINE + 1];
    snprintf(typed, sizeof typed, "%s", c->LCommand);
    if (strchr(typed, ' ') || c->RCommand[0]) return; // only at the end of the first word
    const char *done = Console_TabCompletionHandler(typed);
    if (!done) return;
    snprintf(c->LCommand, sizeof c->LCommand, "%s", done);
    c->CursorPos = static_cast<int>(strlen(c->LCommand));
    Assemble_Command(c);
}

int SDLCON_ProcessEvent(SDL_Event &ev) {
    SDL_Event *left;
    {
        console_guard hold(sdlcon.lock);
        if (!sdlcon.console) return 1;
        if (ev.type == SDL_KEYDOWN && sdlcon.visible &&
            !(ev.key.keysym.mod & (KMOD_CTRL | KMOD_ALT))) {
            SDLKey sym = ev.key.keysym.sym; // only a key event has one
            if (sym == SDLK_TAB) {
                complete_command_word();
                return 0;
            }
            if (sym == SDLK_PAGEUP || sym == SDLK_PAGEDOWN) {
                scroll_page(sym == SDLK_PAGEUP ? 1 : -1);
                return 0;
            }
        }
        left = CON_Events(&ev);
    }
    if (sdlcon.has_pending) {
        char line[CON_CHARS_PER_LINE + 1];
        memcpy(line, sdlcon.pending, sizeof line);
        sdlcon.has_pending = false;
        Console_CommandHandler(sdlcon.console, line);
    }
    return left ? 1 : 0;
}

// A zoom change may have resized or replaced the window's surface under the
// console: refit it so that its command line stays in view.
static void fit_to_surface() {
    auto *out = static_cast<SDL_Surface *>(video->surface);
    if (!out) return;
    if (out == sdlcon.console->OutputScreen && out->w == sdlcon.surface_w &&
        out->h == sdlcon.surface_h)
        return;
    sdlcon.surface_w = out->w;
    sdlcon.surface_h = out->h;
    SDL_Rect rect = pick_rect(out->w < 2 * video->width ? 0 : 1, out->w, out->h);
    CON_Transfer(sdlcon.console, out, rect);
    fit_font(rect);
}

int SDLCON_Update() {
    console_guard hold(sdlcon.lock);
    if (!sdlcon.console) return 0;
    fit_to_surface();
    if (sdlcon.redraw) CON_UpdateConsole(sdlcon.console);
    sdlcon.redraw = false;
    CON_DrawConsole(sdlcon.console);
    return 0;
}

int SDLCON_Paste(const char *text) {
    console_guard hold(sdlcon.lock);
    if (!sdlcon.console) return 1;
    ConsoleInformation *c = sdlcon.console;
    size_t room = CON_CHARS_PER_LINE - strlen(c->LCommand) - strlen(c->RCommand);
    std::string add;
    for (const char *p = text; *p && *p != '\n' && *p != '\r' && add.size() < room; p++)
        if (*p >= ' ' && *p < 127) add += *p;
    strncat(c->LCommand, add.c_str(), sizeof c->LCommand - strlen(c->LCommand) - 1);
    c->CursorPos = static_cast<int>(strlen(c->LCommand));
    Assemble_Command(c);
    return 0;
}

ConsoleInformation *SDLCON_Console() {
    return sdlcon.console;
}

int SDLCON_Log(const char *fmt, ...) {
    console_guard hold(sdlcon.lock);
    if (!sdlcon.console) return 0;
    char line[1024];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(line, 1023, fmt, ap);
    va_end(ap);
    out_line(line);
    return 0;
}

// Back `seconds` in the ring; a replay in progress is not to be changed.
static void say_rewound(int seconds) {
    double back = 0;
    int failed;
    {
        machine_guard hold;
        failed = sys_replay_left() > 0 || sys_rewind(seconds, &back) != 0;
    }
    if (failed) return say("error: nothing kept to go back to");
    sayf("back %.1f s", back);
    say("ready");
}

void Console_CommandHandler(ConsoleInformation *, char *command) {
    char *words[SDLCON_MAX_WORDS];
    int n = splitstr(words, SDLCON_MAX_WORDS, command);
    if (n == 0) return;
    const char *cmd = words[0];
    auto is = [cmd](const char *word) { return strings_cmpi(cmd, word) == 0; };
    char digit = cmd[0] ? cmd[strlen(cmd) - 1] : 0;
    {
        machine_guard hold;         // the reason is the file module's, which frames use too
        sys_file_set_why("%s", ""); // a reason belongs to this command's failure only
    }

    if (strcmp(cmd, "?") == 0) {
        clear_output();
        for (const char *line : help_text)
            say(line);
        for (const char *line : help_more)
            say(line);
        for (const char *line : help_state)
            say(line);
        for (const char *line : help_monitor)
            say(line);
        for (const char *line : help_timing)
            say(line);
        say("ready");
    } else if (is("?keys")) {
        clear_output();
        for (const char *line : help_keys)
            say(line);
        say("ready");
    } else if ((is("mnt1") || is("mnt2")) &&
               (n == 2 || (n == 3 && strings_cmpi(words[2], "ro") == 0))) {
        sayf("mounting '%s' in drive %c%s", words[1], digit, n == 3 ? " write-protected" : "");
        machine_guard hold;
        say_result(fdc_mount(words[1], digit - '1', n == 3));
    } else if ((is("mnt1") || is("mnt2")) && n == 1) {
        run_umount(digit);
    } else if (is("umnt1") || is("umnt2")) {
        run_umount(digit);
    } else if (is("load")) {
        run_load(words, n);
    } else if (is("save")) {
        run_save(words, n);
    } else if (is("dump")) {
        sayf("dumping ram to: '%s'", SDLCON_RAM_FILE);
        machine_guard hold;
        say_written([] { return ram_dump(SDLCON_RAM_FILE); });
    } else if (is("soundon") || is("soundoff")) {
        {
            machine_guard hold;
            if (audio) {
                int (*op)() = is("soundon") ? audio->unpause : audio->pause;
                if (op) op();
            }
        }
        say("ready");
    } else if (is("volume") && n <= 2) {
        run_volume(n == 2 ? words[1] : nullptr);
    } else if (is("exacton") || is("exactoff")) {
        {
            machine_guard hold;
            sys_exact_timing(is("exacton"));
        }
        say("ready");
    } else if (is("tape")) {
        run_tape(n == 1 ? nullptr : words[1]);
    } else if (is("notape") || is("utape")) {
        run_tape(nullptr);
    } else if (is("shot")) {
        run_shot(words, n);
    } else if (is("copy") && n == 1) {
        std::string screen;
        {
            machine_guard hold;
            screen = sys_runner_screen();
        }
        if (sys_sdl_clip_own(screen) == 0) {
            say("text screen copied to the clipboard");
            say("ready");
        } else {
            say("error: no X display to copy to");
        }

    } else if (is("record")) {
        run_record(words, n);
    } else if (is("state") && n == 3 && (is_word(words[1], "save") || is_word(words[1], "load"))) {
        bool save = is_word(words[1], "save");
        sayf("%s state '%s'", save ? "saving" : "restoring", words[2]);
        machine_guard hold;
        if (save)
            say_written([&] { return sys_state_save(words[2]); });
        else
            say_result(sys_state_load(words[2]));
    } else if (is("rewind") && n == 2 && atoi(words[1]) > 0 &&
               strspn(words[1], "0123456789") == strlen(words[1])) {
        say_rewound(atoi(words[1]));
    } else if (is("asm")) {
        run_asm(words, n);
    } else if (is("dasm")) {
        run_dasm(words, n);
    } else if (is("labels") && n <= 2) {
        machine_guard hold;
        if (n == 2) sayf("labels from '%s'", words[1]);
        say_result(n == 2 ? labels_load(words[1], 1) : labels_clear());
    } else if (run_monitor(cmd, words, n)) {
        if (is("c")) unmute();
        if (is("p")) mute_if_stopped();
        say("ready");
    } else {
        say("? syntax error");
    }
}

char *Console_TabCompletionHandler(char *text) {
    static char completed[CON_CHARS_PER_LINE + 1];
    size_t len = strlen(text);
    std::vector<std::string> matches;
    auto match = [&](const char *word) {
        if (strncasecmp(word, text, len) == 0) matches.emplace_back(word);
    };
    std::for_each(std::begin(commands), std::end(commands), match);
    std::for_each(std::begin(monitor_commands), std::end(monitor_commands), match);
    if (matches.size() == 1) {
        snprintf(completed, sizeof completed, "%s ", matches[0].c_str());
        return completed;
    }
    say("");
    for (const std::string &word : matches)
        say(word.c_str());
    // What every match shares is typed: "sou" for "so".
    std::string common = matches.empty() ? "" : matches[0];
    for (const std::string &word : matches)
        while (strncasecmp(common.c_str(), word.c_str(), common.size()) != 0)
            common.pop_back();
    if (common.size() <= len) return nullptr;
    snprintf(completed, sizeof completed, "%s", common.c_str());
    return completed;
}

int SDLCON_Notice() {
    if (!sys_debug_take_notice()) return 0;
    SDLCON_Show();
    mute_if_stopped();
    return 1;
}

int SDLCON_Continue() {
    dbg_stop stop;
    {
        machine_guard hold;
        sys_debug_state(&stop);
        if (stop.state == DBG_RUNNING) return 0;
        sys_debug_continue();
    }
    unmute();
    return 1;
}
