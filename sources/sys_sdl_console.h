// sys_sdl_console: the drop-down command console over the emulated screen.
// The console library draws, scrolls, edits the line and keeps the history;
// this glue creates it, routes host events to it, prints to it and runs the
// commands typed on it.
//
// Threads: the main thread shows, hides, feeds events, prints, runs
// commands and draws the console over each frame it shows (SDLCON_Update,
// the video record's overlay); the timer thread may print. Every call into
// the console library is made under the console lock. Commands that touch
// the machine take the machine lock first and never while the console lock
// is held: the library's execute callback only records the line, and the
// command runs after the library has returned.
#pragma once
#include <SDL.h>
#include <SDL_console.h>

constexpr int SDLCON_LINES = 300;    // scroll-back
constexpr int SDLCON_ALPHA = 255;    // opaque: the picture's text showing through clashed with it
constexpr int SDLCON_COLUMNS = 64;   // the console's width in characters, at least
constexpr int SDLCON_MAX_WORDS = 32; // words of one command line
constexpr const char *SDLCON_PROMPT = "Z5>";
constexpr const char *SDLCON_RAM_FILE = "kestrel_ram.bin";

// 0 created (hidden); 1 when the font file or the console surfaces cannot
// be made. Needs the video record's surface.
int SDLCON_Init();
// The font file SDLCON_Init opens for the configured font setting.
const char *SDLCON_FontFile();
// Clears the window surface and draws `text` on it, lines split at '\n' and
// wrapped to the width, with the first console font that can be read, then
// shows it. For a program that cannot start; no console may exist. 1 when
// there is no surface or no font.
int SDLCON_Notice(const char *text);
int SDLCON_Quit(); // destroys the console when there is one
int SDLCON_Visible();
int SDLCON_Show(); // fully open at the next frame, no slide
int SDLCON_Hide(); // gone at the next frame
// 0 when the console took the event, 1 when it is left to the caller.
// A command line entered with this event has run when it returns.
int SDLCON_ProcessEvent(SDL_Event &ev);
int SDLCON_Update(); // main thread: draws the console over the frame
// Adds the first line of `text` to the command line at the cursor, as far
// as the line has room; printable characters only.
int SDLCON_Paste(const char *text);
// The library's record of the console (nullptr when there is none); its
// lines, newest first, are what the user sees.
ConsoleInformation *SDLCON_Console();
// Prints the formatted text (at most 1022 characters; the console keeps 126
// of them) as one line; nothing while there is no console.
int SDLCON_Log(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Main thread, at each frame's wake-up: when a frame stopped the machine
// (breakpoint, watch, end of a step) opens the console and silences the
// sound. 1 when it did.
int SDLCON_Notice();
// Main thread: a machine the monitor stopped runs on, as `c` does (the
// sound comes back). 1 when it was stopped.
int SDLCON_Continue();

// The interpreter. `command` is cut up in place. Takes the machine lock for
// commands that touch the machine, so it must not be called with the console
// lock held.
void Console_CommandHandler(ConsoleInformation *console, char *command);
// Lists the command words that begin with `text`; always returns nullptr,
// leaving the command line as typed.
char *Console_TabCompletionHandler(char *text);
