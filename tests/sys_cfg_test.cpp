#include "sys_cfg.h"

#include "fixture.h"

TEST(CfgFile, MissingFileIsWrittenWithEveryKeyAndItsComments) {
    TempDir dir;
    sys_cfg_defaults();
    EXPECT_EQ(0, sys_cfg_load());
    EXPECT_EQ(
        "########################################\n# delete or rename this file to create #\n#     "
        "new one with default values      #\n########################################\n\n# set "
        "verbosity level: 0,1,2\n# 1: title speed, 2: also log\nverbosity = 0\n\n# set refresh "
        "interval in ms, e.g.,\n# 20 ms gives 50 Hz refresh\n# reasonable range is 20..50 ms,\n# "
        "for fast machines 20 should be ok\nrefresh = 20\n\n# set initial zoom level: 0, 1, "
        "2\nzoom = 1\n\n# set 6502 speed multiplier: 1, 2, 4\nspeed = 1\n\n# disable/enable sound: "
        "0, 1\nsound = 1\n\n# set active charset cyr/lat = 0, 1\ncharset = 1\n\n# select console "
        "font 6x13, 7x14, 8x15, 9x15 = 0, 1, 2, 3\nfont = 1\n\n# disable/enable speaker loopback = "
        "0, 1\n# emulate wire connection between pins 1 and 5 of cassette jack\nspeaker = 1\n\n",
        read_text("kestrel.cfg"));
}

TEST(CfgFile, LinesSetTheirKeyOrNothing) {
    TempDir dir;
    // Plain records: a tuple of std::string here made GCC's link-time
    // optimiser warn about its inlined copies.
    struct row {
        std::string text;
        int key, value;
    };
    const row rows[] = {
        {"   SPEED   =   4\r\n", CFG_SPEED, 4},
        {"verbosity extra = 2\n", CFG_VERBOSITY, 2},
        {"refresh = 30\nrefresh = 10\n", CFG_REFRESH, 10},
        {"speed = fast\n", CFG_SPEED, 1},
        {"sound 0\n", CFG_SOUND, 1},
        {"= 3\n", CFG_VERBOSITY, 0},
        {"speakers = 0\n", CFG_SPEAKER, 1},
        {std::string(255, '#') + "zoom = 0\n", CFG_ZOOM, 1}, // one line, however long
        {std::string(300, ' ') + "zoom = 2 # or 0\n", CFG_ZOOM, 2},
        {"zoom # = 2\n", CFG_ZOOM, 1},
    };
    for (const auto &[text, key, value] : rows) {
        sys_cfg_defaults();
        write_text("kestrel.cfg", text);
        EXPECT_EQ(0, sys_cfg_load());
        EXPECT_EQ(value, config[key].value) << text;
    }
    std::filesystem::remove("kestrel.cfg");
    std::filesystem::create_directory("kestrel.cfg"); // neither read nor replaced
    testing::internal::CaptureStderr();
    log_verbosity(1);
    EXPECT_EQ(1, sys_cfg_load() + sys_cfg_save());
    log_verbosity(0);
    EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find("kestrel.cfg"));
    EXPECT_TRUE(std::filesystem::is_directory("kestrel.cfg"));
    EXPECT_EQ(1, std::distance(std::filesystem::directory_iterator("."), {}));
}

TEST(SplitStr, BlanksSeparateWordsQuotesJoinThemBackslashEscapes) {
    const std::tuple<const char *, int, const char *> rows[] = {
        {"  load \"my \\\"file\"\ta\\ b  c\\\"d end\\", 8, "load|my \"file|a b|c\"d|end|"},
        {"one two three", 2, "one|two|"},
        {"", 4, ""},
        {"word", 0, ""},
    };
    for (const auto &[text, cap, want] : rows) {
        char line[64], *words[8];
        snprintf(line, sizeof line, "%s", text);
        std::string got;
        for (int i = 0, n = splitstr(words, cap, line); i < n; i++)
            got += std::string(words[i]) + "|";
        EXPECT_EQ(want, got) << text;
    }
    EXPECT_EQ(1 - 99 + 104, // the first unequal bytes, lowered and unsigned, subtracted
              strings_cmpi("B", "a") + strings_cmpi("ab", "abc") + strings_cmpi("\xC9", "A"));
}

static std::string said;
static void keep_line(const char *line) {
    said += line;
    said += '|';
}

// A value the machine cannot run goes back to its default for the run, said once; the file
// keeps what the user wrote.
TEST(CfgFile, OutOfRangeSettingsUseTheirDefaultForTheRun) {
    TempDir dir;
    sys_cfg_defaults();
    write_text("kestrel.cfg", "refresh = 5000\nspeed = -1\nzoom = 3\nsound = 2\nfont = 4\n"
                              "speaker = -1\nverbosity = 7\ncharset = 9\n");
    ASSERT_EQ(0, sys_cfg_read());
    said.clear();
    EXPECT_EQ(6, sys_cfg_bound(keep_line));
    ASSERT_EQ(0, sys_cfg_save()); // with what it said
    EXPECT_EQ("kestrel.cfg: refresh = 5000 is not 20 to 100; this run uses 20|"
              "kestrel.cfg: zoom = 3 is not 0, 1 or 2; this run uses 1|"
              "kestrel.cfg: speed = -1 is not 1, 2 or 4; this run uses 1|"
              "kestrel.cfg: sound = 2 is not 0 or 1; this run uses 1|"
              "kestrel.cfg: font = 4 is not 0 to 3; this run uses 1|"
              "kestrel.cfg: speaker = -1 is not 0 or 1; this run uses 1|",
              said);
    const int want[CFG_ENTRIES] = {7, 20, 1, 1, 1, 9, 1, 1};
    for (int i = 0; i < CFG_ENTRIES; i++)
        EXPECT_EQ(want[i], config[i].value) << config[i].name;
    const std::string file = read_text("kestrel.cfg");
    EXPECT_NE(std::string::npos, file.find("\nrefresh = 5000\n")) << file;
    EXPECT_NE(std::string::npos, file.find("\nspeed = -1\n")) << file;
    for (const char *edge : {"refresh = 100\nspeed = 4\nzoom = 0\nfont = 3\nsound = 0\n",
                             "refresh = 20\nspeed = 2\nzoom = 2\nfont = 0\nspeaker = 0\n"}) {
        sys_cfg_defaults();
        write_text("kestrel.cfg", edge);
        sys_cfg_load();
        EXPECT_EQ(0, sys_cfg_bound(keep_line)) << edge;
    }
    for (const char *out : {"refresh = 19\n", "refresh = 101\n", "speed = 3\n", "speed = 8\n"}) {
        sys_cfg_defaults();
        write_text("kestrel.cfg", out);
        sys_cfg_load();
        EXPECT_EQ(1, sys_cfg_bound(nullptr)) << out;
    }
}
