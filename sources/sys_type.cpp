#include "sys_type.h"

#include <cstring>
#include <string>
#include <vector>

#include "ay_8912.h"
#include "sys_core.h"

// What each matrix cell types, by row and column as in keytab, without and
// with Shift; blanks are keys that make no character (or Space itself).
constexpr char legend[64 + 1] = "7n5v 1x3jtrf  qdm6b4 z2ck9;-  \\'" //
                                " ,.     uiop  ][yhge asw8l0/  `=";
constexpr char legend_shift[64 + 1] = "&N%V !X#JTRF  QDM^B$ Z@CK(:_  |\"" //
                                      " <>     UIOP  }{YHGE ASW*L)?  ~+";
static_assert(sizeof legend == 65 && sizeof legend_shift == 65);
constexpr int SYM_RETURN = 13;
constexpr int SYM_LSHIFT = 304;
constexpr int SPACE_CELL = 32;

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
    *sym = 0;
    *shift = false;
    if (c == '\n') {
        *sym = SYM_RETURN;
        return;
    }
    if (c == ' ') {
        *sym = keytab[SPACE_CELL];
        return;
    }
    for (int i = 0; i < 64; i++) {
        if (c == legend[i] && c != ' ') *sym = keytab[i];
        if (c == legend_shift[i] && c != ' ') {
            *sym = keytab[i];
            *shift = true;
        }
        if (*sym) return;
    }
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
        if (shift) typist.steps.push_back({t, key(EV_KEY_DOWN, SYM_LSHIFT)});
        typist.steps.push_back({t + 1, key(EV_KEY_DOWN, sym)});
        typist.steps.push_back({t + 4, key(EV_KEY_UP, sym)});
        if (shift) typist.steps.push_back({t + 5, key(EV_KEY_UP, SYM_LSHIFT)});
    }
    return 0;
}

int sys_type_frame(long frame) {
    while (typist.next < typist.steps.size() && typist.steps[typist.next].frame <= frame)
        sys_apply_event(typist.steps[typist.next++].ev);
    return 0;
}
