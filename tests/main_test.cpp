// The whole program without a display: SDL's dummy drivers, ended by a
// termination signal, which the host library turns into a window-close.
#include <string>

#include "program_util.h"
#include "sys_sdl_fixture.h"

namespace {

class Program : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(0, SDL_Init(SDL_INIT_NOPARACHUTE));
        ASSERT_TRUE(make_font("kestrel_font_7x14.bmp"));
        SDL_Quit();
    }
    void start(const char *video_driver = "dummy") {
        program.start(video_driver);
        ASSERT_GT(program.pid(), 0);
    }
    int wait_exit(int ms) { return program.wait_exit(ms); }
    TempDir dir;
    ChildProgram program; // declared after dir: ends before the directory goes
};

TEST_F(Program, RunsUntilClosedThenExitsCleanly) {
    write_text("kestrel.cfg", "speed = 2\nverbosity = 1\n");
    start();
    EXPECT_EQ(-1, wait_exit(700)) << "the event loop keeps the program running";
    ASSERT_GT(program.pid(), 0);
    program.signal(SIGTERM);
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
