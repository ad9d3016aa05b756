// sys_sdl_video: the window. The display generator draws each frame line by
// line into the video record's pixels on the timer thread; at the frame's end
// the whole picture goes into a mailbox. The main thread, which set the video
// mode and alone calls the library's video functions (mode, flip, caption),
// takes the newest picture, scales it into the window, lets the console draw
// over it (the video record's overlay), adds the on-screen message and shows
// it.
//
// The window opens at the zoom level's size (240 x 224 at zoom 0, 480 x 448
// at 1 or 2) and the user may resize it; the zoom keys size it again. The
// picture takes the largest whole scale that fits, centred on black. Zoom 1
// lights only the top-left quarter of each machine pixel's square (one host
// pixel in four at scale 2), zoom 0 and 2 the whole square. Fullscreen uses
// the screen's size with the same rule.
//
// Threads: the mailbox (the picture, its number, the title) belongs to
// whoever holds its mutex; update runs on the timer thread, which writes the
// mailbox and nothing else here; the paused flag is an atomic. Everything
// else (surface, window size, fullscreen, the picture shown, the message) is
// the main thread's.
#pragma once
#include <cstdint>
#include <string>

// The caption the window opens with, and returns to when no speed is shown.
constexpr const char *VIDEO_SDL_TITLE = "kestrel | <F1> for console";
constexpr int VIDEO_SDL_MESSAGE_MS = 2000; // how long a message stays up

// Where the picture goes in a window of w x h host pixels: the largest whole
// scale (at least 1) at which it fits, centred; x and y may be negative when
// even scale 1 does not fit.
struct video_fit {
    int scale, x, y;
};
video_fit video_sdl_fit(int w, int h);
// Window size for a zoom level, in host pixels.
void video_sdl_zoom_size(int level, int *w, int *h);

// Opens the window at the video record's zoom and installs update in the
// record. 0 opened; 1 failed (an error line; no surface and no update).
int video_sdl_init();
// Timer thread. Renders one line; after the last line of a frame hands the
// picture to the main thread and takes the global zoom. Returns render's
// result: non-zero while the frame goes on, 0 at the frame's end.
int32_t video_sdl_update();
// Main thread: the window as it should be now. Sets a caption that was
// asked for, sizes the window again when the zoom changed (not in
// fullscreen), then draws the newest picture, the overlay and the message
// and shows them. 0 always; nothing is drawn without a window.
int video_sdl_present();
// Any thread: the caption the next present sets.
int video_sdl_title(const char *text);
// Timer thread, once a frame: 1 while the machine stands (monitor, breakpoint).
int video_sdl_paused(int stopped);
// Main thread: the user made the window w x h (kept at least 240 x 224).
int video_sdl_resize(int w, int h);
// Main thread: 1 fullscreen, 0 back to the window's last size. 0 done, 1 the
// library refused (the window stays as it was).
int video_sdl_fullscreen(int on);
int video_sdl_is_fullscreen();
// Main thread: shows `text` (lines split at '\n') over the picture from the
// ms count `now` for VIDEO_SDL_MESSAGE_MS; never in screenshots.
int video_sdl_say(uint32_t now, const char *text);
// The same with a text made afresh at each drawing (a setting the timer
// thread changes a moment later).
int video_sdl_say_live(uint32_t now, std::string (*text)());
// The message up at `now`, "" when none.
const char *video_sdl_message(uint32_t now);
int video_sdl_finish(); // closes SDL's video subsystem; 0 always
