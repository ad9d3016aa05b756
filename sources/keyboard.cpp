#include "keyboard.h"

#include <cstring>
#include <iterator>

#include "sys_cfg.h"

// By cell: the key's label, then what it types without and with Shift.
// Rows 1 and 3 have no key in column 4.
// clang-format off
constexpr key_layout keyboard_layout[KEY_CELLS] = {
//   column 0 / 4          column 1 / 5          column 2 / 6         column 3 / 7
    {"7", '7', '&'},       {"N", 'n', 'N'},      {"5", '5', '%'},     {"V", 'v', 'V'},    // row 0
    {"RCTRL", 0, 0},       {"1", '1', '!'},      {"X", 'x', 'X'},     {"3", '3', '#'},
    {"J", 'j', 'J'},       {"T", 't', 'T'},      {"R", 'r', 'R'},     {"F", 'f', 'F'},    // row 1
    {nullptr, 0, 0},       {"ESC", 0, 0},        {"Q", 'q', 'Q'},     {"D", 'd', 'D'},
    {"M", 'm', 'M'},       {"6", '6', '^'},      {"B", 'b', 'B'},     {"4", '4', '$'},    // row 2
    {"LCTRL", 0, 0},       {"Z", 'z', 'Z'},      {"2", '2', '@'},     {"C", 'c', 'C'},
    {"K", 'k', 'K'},       {"9", '9', '('},      {";", ';', ':'},     {"-", '-', '_'},    // row 3
    {nullptr, 0, 0},       {"CAPS", 0, 0},       {"\\", '\\', '|'},  {"'", '\'', '"'},
    {"SPACE", ' ', 0},     {",", ',', '<'},      {".", '.', '>'},     {"UP", 0, 0},       // row 4
    {"LSHIFT", 0, 0},      {"LEFT", 0, 0},       {"DOWN", 0, 0},      {"RIGHT", 0, 0},
    {"U", 'u', 'U'},       {"I", 'i', 'I'},      {"O", 'o', 'O'},     {"P", 'p', 'P'},    // row 5
    {"LALT", 0, 0},        {"DEL", 0, 0},        {"]", ']', '}'},     {"[", '[', '{'},
    {"Y", 'y', 'Y'},       {"H", 'h', 'H'},      {"G", 'g', 'G'},     {"E", 'e', 'E'},    // row 6
    {"RALT", 0, 0},        {"A", 'a', 'A'},      {"S", 's', 'S'},     {"W", 'w', 'W'},
    {"8", '8', '*'},       {"L", 'l', 'L'},      {"0", '0', ')'},     {"/", '/', '?'},    // row 7
    {"RSHIFT", 0, 0},      {"RETURN", 0, 0},     {"`", '`', '~'},     {"=", '=', '+'},
};
// clang-format on
static_assert(std::size(keyboard_layout) == KEY_CELLS);

static struct {
    uint8_t keys[8]; // bit c of row r: the key at (r, c) is held
} keyboard;

int keyboard_init() {
    memset(&keyboard, 0, sizeof keyboard);
    return 0;
}

int keyboard_event(const event &ev) {
    if ((ev.code != EV_KEY_DOWN && ev.code != EV_KEY_UP) || ev.value >= KEY_CELLS) return 0;
    auto bit = static_cast<uint8_t>(1 << (ev.value & 7));
    if (ev.code == EV_KEY_DOWN)
        keyboard.keys[ev.value >> 3] |= bit;
    else
        keyboard.keys[ev.value >> 3] &= static_cast<uint8_t>(~bit);
    return 0;
}

uint8_t keyboard_sense(uint8_t row, uint8_t columns) {
    return (static_cast<uint8_t>(~columns) & keyboard.keys[row & 7]) != 0;
}

uint8_t *keyboard_matrix() {
    return keyboard.keys;
}

int keyboard_find(char c, uint8_t *cell, bool *shift) {
    *shift = false;
    if (c == '\n') {
        *cell = KEY_RETURN;
        return 0;
    }
    if (c == 0) return 1;
    for (int i = 0; i < KEY_CELLS; i++) {
        *cell = static_cast<uint8_t>(i);
        if (c == keyboard_layout[i].plain) return 0;
        if (c == keyboard_layout[i].shifted) return *shift = true, 0;
    }
    return 1;
}

int keyboard_named(const char *name, uint8_t *cell) {
    for (int i = 0; i < KEY_CELLS; i++) {
        if (keyboard_layout[i].name && strings_cmpi(keyboard_layout[i].name, name) == 0) {
            *cell = static_cast<uint8_t>(i);
            return 0;
        }
    }
    return 1;
}
