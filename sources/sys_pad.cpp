#include "sys_pad.h"

#include <cstdio>
#include <cstring>
#include <fstream>

#include "keyboard.h"
#include "sys_cfg.h"
#include "sys_core.h"

constexpr int HAT_DIRECTIONS[] = {1, 2, 4, 8};
constexpr const char *HAT_NAMES[] = {"up", "right", "down", "left"};

static struct {
    uint8_t buttons[PAD_BUTTONS];
    uint8_t axes[PAD_AXES][2]; // the key of the - and the + direction
    uint8_t hats[PAD_HATS][4]; // by HAT_DIRECTIONS
    // What is held: buttons, axis directions, hat directions, and how many
    // held inputs hold each cell.
    bool button_held[PAD_BUTTONS];
    int axis_held[PAD_AXES]; // -1, 0, +1
    int hat_held[PAD_HATS];
    int holds[KEY_CELLS];
} pad;

int sys_pad_defaults() {
    memset(&pad, 0, sizeof pad);
    memset(pad.buttons, PAD_NONE, sizeof pad.buttons);
    memset(pad.axes, PAD_NONE, sizeof pad.axes);
    memset(pad.hats, PAD_NONE, sizeof pad.hats);
    for (int b = 0; b < 4; b++)
        pad.buttons[b] = KEY_SPACE;
    const uint8_t arrows[4] = {KEY_UP, KEY_RIGHT, KEY_DOWN, KEY_LEFT};
    memcpy(pad.hats[0], arrows, 4);
    pad.axes[0][0] = KEY_LEFT, pad.axes[0][1] = KEY_RIGHT;
    pad.axes[1][0] = KEY_UP, pad.axes[1][1] = KEY_DOWN;
    return 0;
}

// The slot a line's left side names, or nullptr with `why`.
static uint8_t *slot_named(char **w, int n, std::string *why) {
    char *end = nullptr;
    long index = n >= 2 ? strtol(w[1], &end, 10) : -1;
    bool number = n >= 2 && *w[1] && !*end && index >= 0;
    if (strings_cmpi(w[0], "button") == 0 && n == 2) {
        if (number && index < PAD_BUTTONS) return &pad.buttons[index];
        return *why = "buttons are 0 to " + std::to_string(PAD_BUTTONS - 1), nullptr;
    }
    if (strings_cmpi(w[0], "axis") == 0 && n == 3) {
        if (!number || index >= PAD_AXES)
            return *why = "axes are 0 to " + std::to_string(PAD_AXES - 1), nullptr;
        if (strcmp(w[2], "-") == 0 || strcmp(w[2], "+") == 0) return &pad.axes[index][*w[2] == '+'];
        return *why = "an axis direction is - or +", nullptr;
    }
    if (strings_cmpi(w[0], "hat") == 0 && n == 3) {
        if (!number || index >= PAD_HATS)
            return *why = "hats are 0 to " + std::to_string(PAD_HATS - 1), nullptr;
        for (int d = 0; d < 4; d++)
            if (strings_cmpi(w[2], HAT_NAMES[d]) == 0) return &pad.hats[index][d];
        return *why = "a hat direction is up, down, left or right", nullptr;
    }
    return *why = "expected button N, axis N -|+ or hat N up|down|left|right", nullptr;
}

int sys_pad_load(const char *path, std::vector<std::string> *refused) {
    std::ifstream in(path);
    int line_no = 0, bad = 0;
    for (std::string line; std::getline(in, line);) {
        line_no++;
        line = line.substr(0, line.find('#'));
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        std::string why;
        size_t eq = line.find('=');
        char *left[4], *right[2];
        std::string lhs = line.substr(0, eq),
                    rhs = eq == std::string::npos ? "" : line.substr(eq + 1);
        int nl = splitstr(left, 4, lhs.data()), nr = splitstr(right, 2, rhs.data());
        uint8_t *slot = nullptr, cell = PAD_NONE;
        if (eq == std::string::npos || nr != 1 || !*right[0])
            why = "expected INPUT = KEY";
        else if ((slot = slot_named(left, nl, &why)) == nullptr)
            ;
        else if (strings_cmpi(right[0], "none") != 0 && keyboard_named(right[0], &cell) != 0)
            why = std::string("no machine key is called '") + right[0] + "'";
        if (why.empty()) {
            *slot = cell;
            continue;
        }
        refused->push_back(std::string(path) + ":" + std::to_string(line_no) + ": " + why);
        bad = 1;
    }
    return bad;
}

uint8_t sys_pad_key(char kind, int index, int direction) {
    if (kind == 'b' && index >= 0 && index < PAD_BUTTONS) return pad.buttons[index];
    if (kind == 'a' && index >= 0 && index < PAD_AXES && direction)
        return pad.axes[index][direction > 0];
    for (int d = 0; kind == 'h' && index >= 0 && index < PAD_HATS && d < 4; d++)
        if (direction == HAT_DIRECTIONS[d]) return pad.hats[index][d];
    return PAD_NONE;
}

static void hold(uint8_t cell, bool down) {
    if (cell >= KEY_CELLS) return;
    int &n = pad.holds[cell];
    if (down && n++ == 0) push_event({EV_KEY_DOWN, cell});
    if (!down && n > 0 && --n == 0) push_event({EV_KEY_UP, cell});
}

int sys_pad_button(int button, bool down) {
    if (button < 0 || button >= PAD_BUTTONS || pad.button_held[button] == down) return 0;
    pad.button_held[button] = down;
    hold(pad.buttons[button], down);
    return 0;
}

int sys_pad_axis(int axis, int value) {
    if (axis < 0 || axis >= PAD_AXES) return 0;
    int now = value <= -PAD_PRESS ? -1 : value >= PAD_PRESS ? 1 : 0;
    int &was = pad.axis_held[axis];
    if (now == was) return 0;
    if (was) hold(pad.axes[axis][was > 0], false);
    if (now) hold(pad.axes[axis][now > 0], true);
    was = now;
    return 0;
}

int sys_pad_hat(int hat, int bits) {
    if (hat < 0 || hat >= PAD_HATS) return 0;
    int &was = pad.hat_held[hat];
    for (int d = 0; d < 4; d++) {
        bool before = was & HAT_DIRECTIONS[d], after = bits & HAT_DIRECTIONS[d];
        if (before != after) hold(pad.hats[hat][d], after);
    }
    was = bits & 15;
    return 0;
}
