// sys_sdl_keys: which host key is which key of the machine. Character keys
// are the machine's key for their unshifted character; the keypad types its
// digits and operators (Shift held for those the machine shifts); Caps Lock,
// which the host holds down while it is on, is the machine's caps key; Home
// is Ctrl+L, the editor's clear-and-home, and Delete the machine's DEL.
//
// Threads: main thread (the host event loop).
#pragma once
#include <SDL.h>

#include <cstdint>

constexpr uint8_t SDL_KEYS_NONE = 0xFF; // no cell

// The machine's cell for host key `sym` and a cell held around it (Shift or
// Ctrl, SDL_KEYS_NONE when none); 1 when the key is not the machine's.
int sys_sdl_keys_cell(SDLKey sym, uint8_t *cell, uint8_t *with);
// Pushes the key events for host key `sym` going down or up; 1 when the key
// is not the machine's, and nothing is pushed.
int sys_sdl_keys_press(SDLKey sym, bool down);
// Holds the caps key when the host's Caps Lock is on as the loop starts: the
// host tells only of later changes.
int sys_sdl_keys_sync();
