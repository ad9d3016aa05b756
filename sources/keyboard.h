// keyboard: the machine's 8 x 8 key matrix. Port B bits 0-2 of the VIA pick
// a row; the sound chip's I/O port drives the columns, a pressed key pulling
// its column's line low onto the sense input (port B bit 3). Keys go up and
// down through key events, whose value is the host key symbol of the layout
// table below.
//
// Threads: events and senses on the timer thread.
#pragma once
#include <cstddef>
#include <cstdint>

#include "sys_event.h"

// A key by its place on the matrix: row * 8 + column.
constexpr uint8_t key_cell(int row, int column) {
    return static_cast<uint8_t>(row * 8 + column);
}

// Key names, by the cell they close.
enum key_name : uint8_t {
    KEY_7 = key_cell(0, 0),
    KEY_N,
    KEY_5,
    KEY_V,
    KEY_RCTRL,
    KEY_1,
    KEY_X,
    KEY_3,
    KEY_J = key_cell(1, 0),
    KEY_T,
    KEY_R,
    KEY_F,
    KEY_NONE1,
    KEY_ESC,
    KEY_Q,
    KEY_D,
    KEY_M = key_cell(2, 0),
    KEY_6,
    KEY_B,
    KEY_4,
    KEY_LCTRL,
    KEY_Z,
    KEY_2,
    KEY_C,
    KEY_K = key_cell(3, 0),
    KEY_9,
    KEY_SEMICOLON,
    KEY_MINUS,
    KEY_NONE3,
    KEY_CAPS, // capitals while held
    KEY_BACKSLASH,
    KEY_QUOTE,
    KEY_SPACE = key_cell(4, 0),
    KEY_COMMA,
    KEY_PERIOD,
    KEY_UP,
    KEY_LSHIFT,
    KEY_LEFT,
    KEY_DOWN,
    KEY_RIGHT,
    KEY_U = key_cell(5, 0),
    KEY_I,
    KEY_O,
    KEY_P,
    KEY_LALT,
    KEY_DELETE,
    KEY_RBRACKET,
    KEY_LBRACKET,
    KEY_Y = key_cell(6, 0),
    KEY_H,
    KEY_G,
    KEY_E,
    KEY_RALT,
    KEY_A,
    KEY_S,
    KEY_W,
    KEY_8 = key_cell(7, 0),
    KEY_L,
    KEY_0,
    KEY_SLASH,
    KEY_RSHIFT,
    KEY_RETURN,
    KEY_BACKQUOTE,
    KEY_EQUALS,
};

// One cell of the layout: the label of the key on it (nullptr: no key),
// and the characters it types without and with Shift (0: none).
struct key_layout {
    const char *name;
    char plain;
    char shifted;
};

constexpr int KEY_CELLS = 64;
extern const key_layout keyboard_layout[KEY_CELLS];

int keyboard_init(); // no key held
// Key down / key up events press and release the cell that is the event's
// value; other events and values past the last cell change nothing.
int keyboard_event(const event &ev);
// 1 when a held key of `row` (0-7) sits on a column that `columns` drives
// low; columns driven high, or left floating, sense nothing.
uint8_t keyboard_sense(uint8_t row, uint8_t columns);
// The matrix, one byte a row, bit c for column c: kept in saved states.
uint8_t *keyboard_matrix();
// The cell that types `c`, and whether Shift is held for it; 1 when no key
// types it. '\n' is Return.
int keyboard_find(char c, uint8_t *cell, bool *shift);
// The cell whose key carries the label `name` (any case); 1 when none does.
int keyboard_named(const char *name, uint8_t *cell);
