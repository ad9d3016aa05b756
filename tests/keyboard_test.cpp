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

// Each character key types its pair as a US keyboard does; 48 cells type,
// and each of the 62 keys is found by its label in any case.
TEST(KeyboardLayout, CharacterKeysTypeTheirPairAndEveryKeyIsFoundByName) {
    int typing = 0, named = 0;
    for (int cell = 0; cell < KEY_CELLS; cell++) {
        const key_layout &k = keyboard_layout[cell];
        if (k.name) {
            named++;
            std::string lower = k.name;
            for (char &c : lower)
                c = static_cast<char>(tolower(c));
            uint8_t found = 0xFF;
            EXPECT_EQ(0, keyboard_named(lower.c_str(), &found)) << k.name;
            EXPECT_EQ(cell, found) << k.name;
        }
        if (!k.plain) continue;
        typing++;
        if (k.plain != ' ') {
            EXPECT_EQ(us_shifted(k.plain), k.shifted) << k.plain;
        }
    }
    EXPECT_EQ(48, typing);
    EXPECT_EQ(62, named);
    uint8_t cell = 0;
    EXPECT_EQ(1, keyboard_named("F1", &cell));
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
    EXPECT_EQ(1, keyboard_find('\t', &cell, &shift));
    EXPECT_EQ(1, keyboard_find('\x7F', &cell, &shift));
}

// A held key senses only on its own row, and only while its column is driven low.
TEST(KeyboardMatrix, HeldKeySensesAtItsRowAndColumn) {
    ASSERT_EQ(0, keyboard_init());
    keyboard_event({EV_KEY_DOWN, KEY_Z}); // row 2, column 5
    keyboard_event({EV_ZOOM_IN, KEY_X});  // not a key event
    EXPECT_EQ(1, keyboard_sense(2, 0xDF));
    EXPECT_EQ(0, keyboard_sense(2, 0xFF)); // every column high
    EXPECT_EQ(0, keyboard_sense(3, 0x00));
    EXPECT_EQ(0, keyboard_matrix()[0] | keyboard_matrix()[6]);
    keyboard_event({EV_KEY_UP, KEY_Z});
    EXPECT_EQ(0, keyboard_sense(2, 0x00));
}

} // namespace
