#include "log.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "test_util.h"

namespace {

struct Logging : ::testing::Test {
    void SetUp() override {
        logged.clear();
        memset(tr, 0, sizeof tr);
    }
    void TearDown() override {
        log_info_hook(nullptr);
        log_verbosity(0);
        memset(tr, 0, sizeof tr);
    }
};

TEST_F(Logging, LevelZeroWritesNoErrorButDebugLinesAlways) {
    log_verbosity(0);
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    log_error("can't load '%s'", "z5.rom");
    log_debug("invalid opcode: %.4X: %.2X", 0x1234, 0x02);
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
    EXPECT_EQ("invalid opcode: 1234: 02\n", testing::internal::GetCapturedStdout());
}

TEST_F(Logging, LevelOneWritesErrorsToStderrAndInfoToStdout) {
    TempDir dir;
    log_verbosity(1);
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    log_error("bad %d", 7);
    log_info("info %s", "line");
    EXPECT_EQ("bad 7\n", testing::internal::GetCapturedStderr());
    EXPECT_EQ("info line\n", testing::internal::GetCapturedStdout());
    EXPECT_FALSE(std::filesystem::exists("kestrel_log.txt"));
}

TEST_F(Logging, HookTakesInfoLinesWithoutNewline) {
    log_verbosity(1);
    log_info_hook(keep_log_line);
    log_info("a=%d", 1);
    log_info_if(0, "never");
    log_info_if(1, "b=%d", 2);
    EXPECT_EQ("a=1|b=2|", joined_log());
    log_verbosity(0);
    log_info("silent");
    EXPECT_EQ("a=1|b=2|", joined_log());
}

TEST_F(Logging, TraceNeedsTheMasterSwitch) {
    tr[0] = TR_RAM;
    EXPECT_FALSE(tr_on(0, TR_RAM));
    tr[0] = TR_RAM | TR_MASTER;
    EXPECT_TRUE(tr_on(0, TR_RAM));
    EXPECT_FALSE(tr_on(0, TR_ROM));
    tr[1] = TR_FDC;
    EXPECT_TRUE(tr_on(1, TR_FDC));
}

// The log file is opened once per process, so this runs last in its own
// directory and checks that level 2 creates it empty and sends info there.
TEST_F(Logging, LevelTwoCreatesTheLogFileAndWritesInfoThere) {
    TempDir dir;
    write_text("kestrel_log.txt", "old contents\n");
    log_verbosity(2);
    EXPECT_EQ("", read_text("kestrel_log.txt"));
    testing::internal::CaptureStdout();
    log_info("to file %d", 3);
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
}

}  // namespace
