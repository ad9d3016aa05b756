// sys_event: what travels from the host to the machine, one event at a
// time: a code and a value. The queue that carries them is sys_core's.
#pragma once
#include <cstdint>

enum event_code : int32_t {
    EV_NONE = 0,
    // 1 was the reset key going down, which nothing acted on
    EV_RESET = 2,
    EV_NMI_SET = 3,
    EV_NMI_CLEAR = 4,
    EV_ZOOM_IN = 5,
    EV_ZOOM_OUT = 6,
    EV_SPEED_UP = 7,
    EV_SPEED_DOWN = 8,
    EV_KEY_UP = 9,
    EV_KEY_DOWN = 10,
};

struct event {
    int32_t code;
    uint64_t value; // host key symbol for key events, else 0
};
