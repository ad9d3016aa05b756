#include "keyboard.h"

#include <cstring>
#include <iterator>

// By cell: the host key (SDL 1.2 symbols: ASCII for the character keys,
// 256 and up for arrows, shifts, controls, alts and scroll lock), then what
// the key types without and with Shift. Rows 1 and 3 have no key in
// column 4.
// clang-format off
constexpr key_layout keyboard_layout[KEY_CELLS] = {
//   column 0 / 4     column 1 / 5     column 2 / 6     column 3 / 7
    {55, '7', '&'},  {110, 'n', 'N'}, {53, '5', '%'},  {118, 'v', 'V'},  // row 0
    {305, 0, 0},     {49, '1', '!'},  {120, 'x', 'X'}, {51, '3', '#'},
    {106, 'j', 'J'}, {116, 't', 'T'}, {114, 'r', 'R'}, {102, 'f', 'F'},  // row 1
    {0, 0, 0},       {27, 0, 0},      {113, 'q', 'Q'}, {100, 'd', 'D'},
    {109, 'm', 'M'}, {54, '6', '^'},  {98, 'b', 'B'},  {52, '4', '$'},  // row 2
    {306, 0, 0},     {122, 'z', 'Z'}, {50, '2', '@'},  {99, 'c', 'C'},
    {107, 'k', 'K'}, {57, '9', '('},  {59, ';', ':'},  {45, '-', '_'},  // row 3
    {0, 0, 0},       {302, 0, 0},     {92, '\\', '|'}, {39, '\'', '"'},
    {32, ' ', 0},    {44, ',', '<'},  {46, '.', '>'},  {273, 0, 0},  // row 4
    {304, 0, 0},     {276, 0, 0},     {274, 0, 0},     {275, 0, 0},
    {117, 'u', 'U'}, {105, 'i', 'I'}, {111, 'o', 'O'}, {112, 'p', 'P'},  // row 5
    {308, 0, 0},     {8, 0, 0},       {93, ']', '}'},  {91, '[', '{'},
    {121, 'y', 'Y'}, {104, 'h', 'H'}, {103, 'g', 'G'}, {101, 'e', 'E'},  // row 6
    {307, 0, 0},     {97, 'a', 'A'},  {115, 's', 'S'}, {119, 'w', 'W'},
    {56, '8', '*'},  {108, 'l', 'L'}, {48, '0', ')'},  {47, '/', '?'},  // row 7
    {303, 0, 0},     {13, 0, 0},      {96, '`', '~'},  {61, '=', '+'},
};
// clang-format on
static_assert(std::size(keyboard_layout) == KEY_CELLS);

const int32_t keytab[KEY_CELLS] = {
#define ROW(r)                                                                                     \
    keyboard_layout[r * 8 + 0].sym, keyboard_layout[r * 8 + 1].sym,                                \
        keyboard_layout[r * 8 + 2].sym, keyboard_layout[r * 8 + 3].sym,                            \
        keyboard_layout[r * 8 + 4].sym, keyboard_layout[r * 8 + 5].sym,                            \
        keyboard_layout[r * 8 + 6].sym, keyboard_layout[r * 8 + 7].sym
    ROW(0), ROW(1), ROW(2), ROW(3), ROW(4), ROW(5), ROW(6), ROW(7),
#undef ROW
};

static struct {
    uint8_t keys[8]; // bit c of row r: the key at (r, c) is held
} keyboard;

int keyboard_init() {
    memset(&keyboard, 0, sizeof keyboard);
    return 0;
}

int keyboard_event(const event &ev) {
    if (ev.code != EV_KEY_DOWN && ev.code != EV_KEY_UP) return 0;
    for (int i = 0; i < KEY_CELLS; i++) {
        if (static_cast<uint64_t>(keytab[i]) != ev.value) continue;
        uint8_t bit = static_cast<uint8_t>(1 << (i & 7));
        if (ev.code == EV_KEY_DOWN) {
            keyboard.keys[i >> 3] |= bit;
        } else {
            keyboard.keys[i >> 3] &= static_cast<uint8_t>(~bit);
        }
        break;
    }
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
