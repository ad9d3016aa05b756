// sys_sdl_video: the window. Copies each scan line the display generator drew
// to the window surface at the zoom level, lets the console draw over the
// finished frame and shows it.
//
// Window size is fixed when it opens: 240 x 224 at zoom 0, 480 x 448 at zoom
// 1 or 2. Zoom 0 maps a picture pixel to one host pixel, zoom 1 to the top
// left host pixel of a 2 x 2 block, zoom 2 to the whole block. A zoom change
// at run time never resizes the window: host pixels outside the surface are
// not written (clipped), so zoom 1 or 2 in a window opened at zoom 0 shows the
// picture's top-left quarter.
//
// Host pixels are 4 bytes: blue, green, red, and a fourth byte never written.
//
// Threads: init and finish on the main thread; update on the timer thread
// that runs the machine. XInitThreads is called by init, before the window
// opens: nothing may start SDL's video subsystem before video_sdl_init.
#pragma once
#include <cstdint>

// The caption the window opens with, and returns to when no speed is shown.
constexpr const char *VIDEO_SDL_TITLE = "kestrel | <F1> for console";

// Opens the window at the video record's zoom and installs update in the
// record. 0 opened; 1 failed (an error line; no surface and no update).
int video_sdl_init();
// Renders one line and copies it to the surface; after the last line of a
// frame draws the overlay, shows the frame and takes the global zoom.
// Returns render's result: non-zero while the frame goes on, 0 when shown.
int32_t video_sdl_update();
int video_sdl_finish(); // closes SDL's video subsystem; 0 always
