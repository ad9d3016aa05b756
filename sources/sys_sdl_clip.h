// sys_sdl_clip: the X clipboard and primary selection, through a connection
// of our own to the X server (SDL's is its event loop's), with a window of
// our own that never maps. Pasting types the text on the machine as --type
// does; copying offers the text screen to other programs.
//
// Threads: main thread only. While we own the clipboard, requests for it are
// answered at each frame's wake-up (sys_sdl_clip_poll).
#pragma once
#include <string>

// The selection's text: the clipboard, or the primary selection (what was
// last selected with the mouse). 1 when there is no X display, no owner or
// no text within a second; `why` says which.
int sys_sdl_clip_read(bool primary, std::string *text, std::string *why);
// Offers `text` as the clipboard until another program takes it. 1 when
// there is no X display or the server refused.
int sys_sdl_clip_own(const std::string &text);
// Answers the requests that wait; cheap when there are none.
int sys_sdl_clip_poll();
int sys_sdl_clip_close();

// Text pasted as the machine's keys: Return for each line end, a space for a
// tab; what no key types is passed over. The text starts at the next frame.
int sys_sdl_clip_type(const std::string &text);
// Shift+Insert, Ctrl+Shift+V (clipboard) and the middle button (primary
// selection): reads and types it, or into the console's command line when
// the console is open. Says in the console why nothing came.
int sys_sdl_clip_paste(bool primary);
