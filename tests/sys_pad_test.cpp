// The gamepad's mapping file and the keys its inputs hold.
#include "sys_pad.h"

#include "fixture.h"

namespace {

std::vector<std::pair<int32_t, uint64_t>> drain() {
    std::vector<std::pair<int32_t, uint64_t>> out;
    for (event ev; pull_event(&ev) == 0;)
        out.emplace_back(ev.code, ev.value);
    return out;
}

// Good lines replace their input's default, in any case and spacing; each
// bad line is left out with the file, its number and why.
TEST(PadFile, LinesMapInputsAndBadLinesAreNamed) {
    TempDir dir;
    sys_pad_defaults();
    std::vector<std::string> refused;
    EXPECT_EQ(0, sys_pad_load("absent.cfg", &refused));
    EXPECT_TRUE(refused.empty());
    const std::string text = "# my pad\n"
                             "BUTTON 1 = return   # start\n"
                             "axis 0 + = d\n"
                             "\n"
                             "hat 0 Left=A\n"
                             "button 0 = none\n"
                             "button 32 = SPACE\n"
                             "axis 1 up = UP\n"
                             "hat 0 middle = UP\n"
                             "button 2 = FIRE\n"
                             "button 3\n"
                             "trigger 0 = SPACE\n";
    write_file("pad.cfg", std::vector<uint8_t>(text.begin(), text.end()));
    EXPECT_EQ(1, sys_pad_load("pad.cfg", &refused));
    const std::vector<std::string> expected = {
        "pad.cfg:7: buttons are 0 to 31",
        "pad.cfg:8: an axis direction is - or +",
        "pad.cfg:9: a hat direction is up, down, left or right",
        "pad.cfg:10: no machine key is called 'FIRE'",
        "pad.cfg:11: expected INPUT = KEY",
        "pad.cfg:12: expected button N, axis N -|+ or hat N up|down|left|right",
    };
    EXPECT_EQ(expected, refused);
    const std::tuple<char, int, int, int> keys[] = {
        {'b', 1, 0, KEY_RETURN}, {'a', 0, 1, KEY_D},     {'h', 0, 8, KEY_A},
        {'b', 0, 0, PAD_NONE},   {'a', 0, -1, KEY_LEFT}, {'a', 1, -1, KEY_UP},
        {'h', 0, 4, KEY_DOWN},   {'b', 2, 0, KEY_SPACE}, {'b', 4, 0, PAD_NONE},
    };
    for (auto [kind, index, direction, cell] : keys)
        EXPECT_EQ(cell, sys_pad_key(kind, index, direction)) << kind << index << direction;
}

// By default the axes and the hat are the arrows and the first buttons
// SPACE; an input held twice presses once, and a key two inputs hold goes
// up when the last lets go.
TEST(PadInputs, HoldTheirKeysUntilTheLastInputLetsGo) {
    sys_pad_defaults();
    sys_queue_reset();
    sys_pad_axis(0, -30000);
    sys_pad_axis(0, -20000);
    sys_pad_hat(0, 8 | 1); // left and up
    sys_pad_axis(0, 100);
    sys_pad_button(3, true);
    sys_pad_button(3, true);
    sys_pad_hat(0, 0);
    sys_pad_axis(1, 32767);
    sys_pad_button(3, false);
    sys_pad_axis(1, -32768);
    constexpr int32_t D = EV_KEY_DOWN, U = EV_KEY_UP;
    const std::vector<std::pair<int32_t, uint64_t>> expected = {
        {D, KEY_LEFT}, {D, KEY_UP},    {D, KEY_SPACE}, {U, KEY_UP}, {U, KEY_LEFT},
        {D, KEY_DOWN}, {U, KEY_SPACE}, {U, KEY_DOWN},  {D, KEY_UP},
    };
    EXPECT_EQ(expected, drain());
}

} // namespace
