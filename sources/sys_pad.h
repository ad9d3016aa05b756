// sys_pad: a gamepad or joystick as keys of the machine. Each input (a
// button, one direction of an axis, one direction of a hat) holds a machine
// key while it is pressed; by default the first two axes and the first hat
// are the arrow keys and the first four buttons SPACE, the usual fire.
//
// The mapping may be changed in the plain text file "kestrel-pad.cfg" in the
// working directory, read once at start-up, one input a line:
//     button 0 = SPACE
//     axis 1 - = UP          (axis N - or +)
//     hat 0 left = LEFT      (hat N up, down, left or right)
//     button 2 = none        (the input does nothing)
// Keys are the machine's labels (A, 7, SPACE, RETURN, LSHIFT, UP, ...); "#"
// starts a comment. A line of the file replaces the default for its input.
//
// Threads: main thread (parsing, the host loop's joystick events).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

constexpr const char *PAD_FILE = "kestrel-pad.cfg";
constexpr int PAD_BUTTONS = 32, PAD_AXES = 8, PAD_HATS = 4;
constexpr int PAD_PRESS = 16384; // an axis past this either way presses its key
constexpr uint8_t PAD_NONE = 0xFF;

int sys_pad_defaults(); // the default mapping, nothing pressed
// Reads `path` over the defaults. A missing file is no fault. Each line that
// cannot be used is left out with a line in `refused` naming the file, the
// line number and why; 1 when any was.
int sys_pad_load(const char *path, std::vector<std::string> *refused);
// The machine key an input holds (PAD_NONE: none); `direction` is -1 or +1
// for an axis, 1 up, 2 right, 4 down, 8 left for a hat, 0 for a button.
uint8_t sys_pad_key(char kind, int index, int direction);
// An input's new state: key events for the keys that go down or up. Two
// inputs on one key hold it until both are let go.
int sys_pad_button(int button, bool down);
int sys_pad_axis(int axis, int value); // -32768 to 32767
int sys_pad_hat(int hat, int bits);    // the directions held, as above
