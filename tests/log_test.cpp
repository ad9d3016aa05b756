#include "log.h"

#include "fixture.h"

// Errors need level 1; information a level not 0, and takes the hook; debug always shows.
TEST(Logging, LevelAndHookDecideWhereLinesGo) {
    std::string seen;
    for (int level : {-1, 0, 1})
        for (log_hook_fn hook : {log_hook_fn(nullptr), keep_log_line}) {
            log_verbosity(level);
            log_info_hook(hook);
            logged.clear();
            testing::internal::CaptureStdout();
            testing::internal::CaptureStderr();
            log_error("e%d", 1);
            log_info("i%d", 2);
            log_info_if(0, "never");
            log_info_if(1, "j%d", 3);
            log_debug("d%d", 4);
            seen += testing::internal::GetCapturedStderr() + "/" +
                    testing::internal::GetCapturedStdout() + "/" + joined_log() + ";";
        }
    EXPECT_EQ("/d4\n/;/d4\n/i2|j3|;/d4\n/;/d4\n/;e1\n/i2\nj3\nd4\n/;e1\n/d4\n/i2|j3|;", seen);
    log_info_hook(nullptr);
    TempDir dir; // level 2 opens the log file afresh, once
    write_text("kestrel_log.txt", "old\n");
    EXPECT_EQ(1, log_verbosity(2)); // the previous level
    EXPECT_EQ("", read_text("kestrel_log.txt"));
    log_verbosity(0);
}
