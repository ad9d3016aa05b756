#include "sys_type.h"

#include <cstring>
#include <string>
#include <vector>

#include "keyboard.h"
#include "sys_core.h"

struct key_step {
    long frame;
    event ev;
};

static struct {
    std::vector<key_step> steps; // in frame order
    size_t next;
    bool at_next_frame; // the steps count from the next frame seen
} typist;

int sys_type_check(const char *text) {
    for (int i = 0; text[i]; i++) {
        uint8_t cell;
        bool shift;
        if (keyboard_find(text[i], &cell, &shift) != 0) return i;
    }
    return -1;
}

int sys_type_start(const char *text, long first) {
    typist.steps.clear();
    typist.next = 0;
    typist.at_next_frame = first < 0;
    long t = first < 0 ? 0 : first;
    for (const char *p = text; *p; p++, t += TYPE_FRAMES_PER_KEY) {
        uint8_t cell;
        bool shift;
        if (keyboard_find(*p, &cell, &shift) != 0) continue;
        auto key = [](int32_t code, uint8_t c) { return event{code, c}; };
        if (shift) typist.steps.push_back({t, key(EV_KEY_DOWN, KEY_LSHIFT)});
        typist.steps.push_back({t + 1, key(EV_KEY_DOWN, cell)});
        typist.steps.push_back({t + 4, key(EV_KEY_UP, cell)});
        if (shift) typist.steps.push_back({t + 5, key(EV_KEY_UP, KEY_LSHIFT)});
    }
    return 0;
}

int sys_type_frame(long frame) {
    if (typist.at_next_frame) {
        for (key_step &step : typist.steps)
            step.frame += frame;
        typist.at_next_frame = false;
    }
    while (typist.next < typist.steps.size() && typist.steps[typist.next].frame <= frame)
        sys_apply_event(typist.steps[typist.next++].ev);
    return 0;
}
