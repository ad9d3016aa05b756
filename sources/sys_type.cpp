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
} typist;

// The host key symbol and shift for one character; sym 0 when no key makes it.
static void key_for(char c, int *sym, bool *shift) {
    uint8_t cell = 0;
    *sym = keyboard_find(c, &cell, shift) == 0 ? keytab[cell] : 0;
}

int sys_type_check(const char *text) {
    for (int i = 0; text[i]; i++) {
        int sym;
        bool shift;
        key_for(text[i], &sym, &shift);
        if (!sym) return i;
    }
    return -1;
}

int sys_type_start(const char *text, long first) {
    typist.steps.clear();
    typist.next = 0;
    long t = first;
    for (const char *p = text; *p; p++, t += TYPE_FRAMES_PER_KEY) {
        int sym;
        bool shift;
        key_for(*p, &sym, &shift);
        if (!sym) continue;
        auto key = [](int32_t code, int s) { return event{code, static_cast<uint64_t>(s)}; };
        if (shift) typist.steps.push_back({t, key(EV_KEY_DOWN, keytab[KEY_LSHIFT])});
        typist.steps.push_back({t + 1, key(EV_KEY_DOWN, sym)});
        typist.steps.push_back({t + 4, key(EV_KEY_UP, sym)});
        if (shift) typist.steps.push_back({t + 5, key(EV_KEY_UP, keytab[KEY_LSHIFT])});
    }
    return 0;
}

int sys_type_frame(long frame) {
    while (typist.next < typist.steps.size() && typist.steps[typist.next].frame <= frame)
        sys_apply_event(typist.steps[typist.next++].ev);
    return 0;
}
