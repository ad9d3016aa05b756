#include "keyboard.h"

#include <cstring>
#include <string>

#include "fixture.h"

namespace {

// The host keyboard's own pairs, unshifted then shifted (US layout), the
// reference for what each character key types.
constexpr char US_PAIRS[] = "1!2@3#4$5%6^7&8*9(0)-_=+[{]}\\|;:'\",<.>/?`~";

char us_shifted(char plain) {
    const char *at = strchr(US_PAIRS, plain);
    if (plain >= 'a' && plain <= 'z') return static_cast<char>(plain - 'a' + 'A');
    return at && (at - US_PAIRS) % 2 == 0 ? at[1] : '?';
}

// The host numbers its character keys by their unshifted character; each
// key types its host key's pair, and 48 cells type at all.
TEST(KeyboardLayout, CharacterKeysAreTheirHostKeysAndTypeItsPair) {
    int typing = 0;
    for (int cell = 0; cell < KEY_CELLS; cell++) {
        const key_layout &k = keyboard_layout[cell];
        EXPECT_EQ(k.sym, keytab[cell]) << cell;
        if (!k.plain) continue;
        typing++;
        EXPECT_EQ(k.plain, k.sym) << cell;
        if (k.plain != ' ') {
            EXPECT_EQ(us_shifted(k.plain), k.shifted) << k.plain;
        }
    }
    EXPECT_EQ(48, typing);
}

// Every printable character but the few the machine lacks is typed by one
// cell, shifted or not; Return ends a line.
TEST(KeyboardLayout, TypedTextFindsTheCellAndTheShift) {
    int found = 0;
    for (int c = 32; c < 127; c++) {
        uint8_t cell = 0xFF;
        bool shift = true;
        if (keyboard_find(static_cast<char>(c), &cell, &shift) != 0) continue;
        found++;
        ASSERT_LT(cell, KEY_CELLS);
        EXPECT_EQ(c, shift ? keyboard_layout[cell].shifted : keyboard_layout[cell].plain);
    }
    EXPECT_EQ(95, found); // every printable ASCII character
    uint8_t cell = 0;
    bool shift = true;
    EXPECT_EQ(0, keyboard_find('\n', &cell, &shift));
    EXPECT_EQ(std::pair(KEY_RETURN, false), std::pair(key_name(cell), shift));
    EXPECT_EQ(13, keytab[KEY_RETURN]);
    EXPECT_EQ(1, keyboard_find('\t', &cell, &shift));
    EXPECT_EQ(1, keyboard_find('\x7F', &cell, &shift));
}

// A held key senses only on its own row, and only while its column is driven low.
TEST(KeyboardMatrix, HeldKeySensesAtItsRowAndColumn) {
    ASSERT_EQ(0, keyboard_init());
    keyboard_event({EV_KEY_DOWN, 'z'}); // row 2, column 5
    keyboard_event({EV_ZOOM_IN, 'x'});  // not a key event
    EXPECT_EQ(1, keyboard_sense(2, 0xDF));
    EXPECT_EQ(0, keyboard_sense(2, 0xFF)); // every column high
    EXPECT_EQ(0, keyboard_sense(3, 0x00));
    EXPECT_EQ(0, keyboard_matrix()[0] | keyboard_matrix()[6]);
    keyboard_event({EV_KEY_UP, 'z'});
    EXPECT_EQ(0, keyboard_sense(2, 0x00));
}

} // namespace
