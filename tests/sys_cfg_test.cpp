#include "sys_cfg.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "test_util.h"

namespace {

struct CfgFile : ::testing::Test {
    TempDir dir;
    void SetUp() override { sys_cfg_defaults(); }
    void TearDown() override { sys_cfg_defaults(); }

    // Loads a file holding `text`, then writes it back as start-up does.
    void load(const std::string &text) {
        write_text("kestrel.cfg", text);
        sys_cfg_load();
        sys_cfg_save();
    }
};

const char *const default_file =
    "########################################\n"
    "# delete or rename this file to create #\n"
    "#     new one with default values      #\n"
    "########################################\n"
    "\n"
    "# set verbosity level: 0,1,2\n"
    "# used only in debug versions\n"
    "verbosity = 0\n"
    "\n"
    "# set refresh interval in ms, e.g.,\n"
    "# 20 ms gives 50 Hz refresh\n"
    "# reasonable range is 20..50 ms,\n"
    "# for fast machines 20 should be ok\n"
    "refresh = 20\n"
    "\n"
    "# set initial zoom level: 0, 1, 2\n"
    "zoom = 1\n"
    "\n"
    "# set 6502 speed multiplier: 1, 2, 4\n"
    "speed = 1\n"
    "\n"
    "# disable/enable sound: 0, 1\n"
    "sound = 1\n"
    "\n"
    "# set active charset cyr/lat = 0, 1\n"
    "charset = 1\n"
    "\n"
    "# select console font 6x13, 7x14, 8x15, 9x15 = 0, 1, 2, 3\n"
    "font = 1\n"
    "\n"
    "# disable/enable speaker loopback = 0, 1\n"
    "# emulate wire connection between pins 1 and 5 of cassette jack\n"
    "speaker = 1\n"
    "\n";

TEST_F(CfgFile, MissingFileIsCreatedWithTheDefaultLayout) {
    sys_cfg_load();
    std::string text = read_text("kestrel.cfg");
    EXPECT_EQ(753u, text.size());
    EXPECT_EQ(default_file, text);
    EXPECT_EQ(34, std::count(text.begin(), text.end(), '\n'));
}

TEST_F(CfgFile, KeysAreCaseInsensitiveAndBlanksAreSkipped) {
    load("Zoom=2\n   SPEED   =   4\nfont = 2 # bigger\n");
    EXPECT_EQ(2, config[CFG_ZOOM].value);
    EXPECT_EQ(4, config[CFG_SPEED].value);
    EXPECT_EQ(2, config[CFG_FONT].value);
    EXPECT_NE(std::string::npos, read_text("kestrel.cfg").find("\nspeed = 4\n"));
}

TEST_F(CfgFile, MalformedLinesChangeNothing) {
    load("speed = 2\nspeed = fast\nsound 0\nzoom = 1.9\nverbosity extra = 2\n# refresh = 40\n");
    EXPECT_EQ(2, config[CFG_SPEED].value);  // the earlier valid line stands
    EXPECT_EQ(1, config[CFG_SOUND].value);
    EXPECT_EQ(1, config[CFG_ZOOM].value);
    EXPECT_EQ(2, config[CFG_VERBOSITY].value);  // first word before "=" counts
    EXPECT_EQ(20, config[CFG_REFRESH].value);
}

TEST_F(CfgFile, LastOfRepeatedKeysWinsAndValuesAreWrittenAsRead) {
    load("refresh = 30\nrefresh = 10\n");
    EXPECT_EQ(10, config[CFG_REFRESH].value);
    EXPECT_NE(std::string::npos, read_text("kestrel.cfg").find("\nrefresh = 10\n"));
}

TEST_F(CfgFile, FileOfUnknownKeysIsReplacedByTheDefaultFile) {
    load("colour = 3\nbeep = 1\n");
    EXPECT_EQ(default_file, read_text("kestrel.cfg"));
}

TEST_F(CfgFile, OverlongLineIsTakenInPieces) {
    // The key sits 300 characters in: the second piece holds it.
    load(std::string(300, 'x') + " zoom = 0\n");
    EXPECT_EQ(1, config[CFG_ZOOM].value);  // first piece: "xxx...", no "="
    load(std::string(255, '#') + "zoom = 0\n");
    EXPECT_EQ(0, config[CFG_ZOOM].value);
}

TEST_F(CfgFile, UnwritableFileIsLeftAloneSilently) {
    std::filesystem::create_directory("kestrel.cfg");  // cannot be opened as a file
    EXPECT_EQ(0, sys_cfg_load());
    EXPECT_EQ(0, sys_cfg_save());
    EXPECT_TRUE(std::filesystem::is_directory("kestrel.cfg"));
}

std::vector<std::string> split(const char *text, int cap) {
    static char line[256];
    strcpy(line, text);
    char *words[16];
    int n = splitstr(words, cap, line);
    return std::vector<std::string>(words, words + n);
}

TEST(SplitStr, BlanksSeparateWordsAndQuotesJoinThem) {
    EXPECT_EQ((std::vector<std::string>{"load", "my file.tap"}), split("load \"my file.tap\"", 8));
    EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), split("  a\tb   c  ", 8));
    EXPECT_EQ((std::vector<std::string>{"abcdef"}), split("ab\"cd\"ef", 8));
}

TEST(SplitStr, BackslashTakesTheNextCharacterLiterally) {
    EXPECT_EQ((std::vector<std::string>{"a b", "c\"d"}), split("a\\ b c\\\"d", 8));
    EXPECT_EQ((std::vector<std::string>{"x\"y"}), split("\"x\\\"y\"", 8));
    EXPECT_EQ((std::vector<std::string>{"end"}), split("end\\", 8));
    EXPECT_EQ((std::vector<std::string>{"open"}), split("\"open\\", 8));
}

TEST(SplitStr, CapacityStopsTheSplitAndEmptyLinesGiveNothing) {
    EXPECT_EQ((std::vector<std::string>{"one", "two"}), split("one two three", 2));
    EXPECT_EQ(std::vector<std::string>{}, split("", 4));
    EXPECT_EQ(std::vector<std::string>{}, split("word", 0));
    EXPECT_EQ(std::vector<std::string>{""}, split("   ", 4));
}

TEST(StringsCmpi, ComparesWithoutCaseAndGivesTheDifference) {
    EXPECT_EQ(0, strings_cmpi("SPEED", "speed"));
    EXPECT_EQ(0, strings_cmpi("", ""));
    const char *same = "x";
    EXPECT_EQ(0, strings_cmpi(same, same));
    EXPECT_EQ('b' - 'a', strings_cmpi("B", "a"));
    EXPECT_EQ('t', strings_cmpi("tap", "ap") + 'a');
    EXPECT_LT(strings_cmpi("ab", "abc"), 0);
}

}  // namespace
