// The whole program without a display: SDL's dummy drivers, ended by a
// termination signal, which the host library turns into a window-close.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "sys_sdl_fixture.h"

namespace {

void sleep_ms(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

class Program : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(0, SDL_Init(SDL_INIT_NOPARACHUTE));
        ASSERT_TRUE(make_font("kestrel_font_7x14.bmp"));
        SDL_Quit();
    }
    void TearDown() override {
        if (signal_program(SIGKILL)) waitpid(pid_, nullptr, 0);
    }
    void start(const char *video_driver = "dummy") {
        fflush(stdout);
        pid_ = fork();
        if (pid_ == 0) {
            setenv("SDL_VIDEODRIVER", video_driver, 1);
            setenv("SDL_AUDIODRIVER", "dummy", 1);
            unsetenv("DISPLAY");
            freopen("stdout.txt", "w", stdout);
            freopen("stderr.txt", "w", stderr);
            execl(KESTREL_BINARY, KESTREL_BINARY, static_cast<char *>(nullptr));
            _exit(127);
        }
        ASSERT_GT(pid_, 0);
    }
    // Signals the program we started, never anything else.
    bool signal_program(int sig) { return pid_ > 0 && kill(pid_, sig) == 0; }
    // Exit status, or -1 when still running after `ms`.
    int wait_exit(int ms) {
        if (pid_ <= 0) return -2; // nothing of ours is running
        for (int i = 0; i < ms / 10; i++) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            sleep_ms(10);
        }
        return -1;
    }
    TempDir dir;
    pid_t pid_ = -1;
};

TEST_F(Program, RunsUntilClosedThenExitsCleanly) {
    write_text("kestrel.cfg", "speed = 2\nverbosity = 1\n");
    start();
    EXPECT_EQ(-1, wait_exit(700)) << "the event loop keeps the program running";
    ASSERT_GT(pid_, 0);
    signal_program(SIGTERM);
    EXPECT_EQ(0, wait_exit(5000));
    std::string cfg = read_text("kestrel.cfg");
    EXPECT_NE(std::string::npos, cfg.find("speed = 2\n")) << "settings written back";
    EXPECT_NE(std::string::npos, cfg.find("font = 1\n")) << "every key written";
    EXPECT_EQ(std::string::npos, read_text("stderr.txt").find("can't create"))
        << read_text("stderr.txt");
}

TEST_F(Program, WithoutAWindowTheConsoleCannotExistAndTheProgramEnds) {
    write_text("kestrel.cfg", "verbosity = 1\n");
    start("no_such_driver");
    EXPECT_EQ(0, wait_exit(5000));
    std::string err = read_text("stderr.txt");
    EXPECT_NE(std::string::npos, err.find("can't create console")) << err;
}

TEST_F(Program, MissingFontEndsTheProgramSilentlyAtVerbosityZero) {
    remove("kestrel_font_7x14.bmp");
    start();
    EXPECT_EQ(0, wait_exit(5000));
    // Only the console library's own complaint about the font; none of ours.
    EXPECT_EQ(std::string::npos, read_text("stderr.txt").find("can't create console"));
}

} // namespace
