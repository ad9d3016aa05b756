#include "sys_sdl_keys.h"

#include <iterator>

#include "keyboard.h"
#include "sys_core.h"

// Host keys that are no character of their own on the host's main block.
struct host_key {
    SDLKey sym;
    uint8_t cell;
    uint8_t with;
};
constexpr host_key named_keys[] = {
    {SDLK_RETURN, KEY_RETURN, SDL_KEYS_NONE},
    {SDLK_KP_ENTER, KEY_RETURN, SDL_KEYS_NONE},
    {SDLK_BACKSPACE, KEY_DELETE, SDL_KEYS_NONE},
    {SDLK_DELETE, KEY_DELETE, SDL_KEYS_NONE},
    {SDLK_ESCAPE, KEY_ESC, SDL_KEYS_NONE},
    {SDLK_HOME, KEY_L, KEY_LCTRL},
    {SDLK_UP, KEY_UP, SDL_KEYS_NONE},
    {SDLK_DOWN, KEY_DOWN, SDL_KEYS_NONE},
    {SDLK_LEFT, KEY_LEFT, SDL_KEYS_NONE},
    {SDLK_RIGHT, KEY_RIGHT, SDL_KEYS_NONE},
    {SDLK_LSHIFT, KEY_LSHIFT, SDL_KEYS_NONE},
    {SDLK_RSHIFT, KEY_RSHIFT, SDL_KEYS_NONE},
    {SDLK_LCTRL, KEY_LCTRL, SDL_KEYS_NONE},
    {SDLK_RCTRL, KEY_RCTRL, SDL_KEYS_NONE},
    {SDLK_LALT, KEY_LALT, SDL_KEYS_NONE},
    {SDLK_RALT, KEY_RALT, SDL_KEYS_NONE},
    {SDLK_CAPSLOCK, KEY_CAPS, SDL_KEYS_NONE},
    {SDLK_SCROLLOCK, KEY_CAPS, SDL_KEYS_NONE},
};

// The keypad by the character each key types.
struct pad_key {
    SDLKey sym;
    char types;
};
constexpr pad_key keypad[] = {
    {SDLK_KP0, '0'},         {SDLK_KP1, '1'},      {SDLK_KP2, '2'},       {SDLK_KP3, '3'},
    {SDLK_KP4, '4'},         {SDLK_KP5, '5'},      {SDLK_KP6, '6'},       {SDLK_KP7, '7'},
    {SDLK_KP8, '8'},         {SDLK_KP9, '9'},      {SDLK_KP_PERIOD, '.'}, {SDLK_KP_DIVIDE, '/'},
    {SDLK_KP_MULTIPLY, '*'}, {SDLK_KP_MINUS, '-'}, {SDLK_KP_PLUS, '+'},   {SDLK_KP_EQUALS, '='},
};
static_assert(std::size(keypad) == 16);

static int cell_typing(char c, uint8_t *cell, uint8_t *with) {
    bool shift = false;
    if (keyboard_find(c, cell, &shift) != 0) return 1;
    *with = shift ? uint8_t{KEY_LSHIFT} : SDL_KEYS_NONE;
    return 0;
}

int sys_sdl_keys_cell(SDLKey sym, uint8_t *cell, uint8_t *with) {
    for (const host_key &k : named_keys) {
        if (k.sym != sym) continue;
        *cell = k.cell;
        *with = k.with;
        return 0;
    }
    for (const pad_key &k : keypad)
        if (k.sym == sym) return cell_typing(k.types, cell, with);
    // The host numbers its character keys by their unshifted character.
    if (sym < ' ' || sym >= 127) return 1;
    if (cell_typing(static_cast<char>(sym), cell, with) != 0 || *with != SDL_KEYS_NONE) return 1;
    return 0;
}

int sys_sdl_keys_press(SDLKey sym, bool down) {
    uint8_t cell = 0, with = SDL_KEYS_NONE;
    if (sys_sdl_keys_cell(sym, &cell, &with) != 0) return 1;
    int32_t code = down ? EV_KEY_DOWN : EV_KEY_UP;
    if (down && with != SDL_KEYS_NONE) push_event({code, with});
    push_event({code, cell});
    if (!down && with != SDL_KEYS_NONE) push_event({code, with});
    return 0;
}

int sys_sdl_keys_sync() {
    if (SDL_GetModState() & KMOD_CAPS) push_event({EV_KEY_DOWN, KEY_CAPS});
    return 0;
}
