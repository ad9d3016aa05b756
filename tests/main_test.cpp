// The whole program's start-up, and why it stops there. Its clean run and
// end are seen in the window test.
#include "sys_sdl_fixture.h"

TEST(Program, StopsAtStartWithTheReason) {
    TempDir dir;
    // settings, video driver, exit status, on stderr, not on stderr
    std::tuple<const char *, const char *, int, const char *, const char *> rows[] = {
        {"verbosity = 0", "no_such_driver", 1, "kestrel: cannot open the window: ", "can't load"},
        {"verbosity = 1", "no_such_driver", 1, "can't load 'z5.rom'", "can't create console"},
        {"verbosity = 1", "dummy", 0, "can't create console", "kestrel:"},
    };
    for (const auto &[cfg, video, status, says, not_says] : rows) {
        write_text("kestrel.cfg", cfg);
        std::string cmd = std::string("SDL_AUDIODRIVER=dummy SDL_VIDEODRIVER=") + video +
                          " timeout -k 1 10 " KESTREL_BINARY " >stderr.txt 2>&1";
        EXPECT_EQ(status, WEXITSTATUS(system(cmd.c_str()))) << video;
        const std::string err = read_text("stderr.txt");
        EXPECT_NE(std::string::npos, err.find(says)) << err;
        EXPECT_EQ(std::string::npos, err.find(not_says)) << err;
        EXPECT_NE(std::string::npos, read_text("kestrel.cfg").find("\nfont = 1\n")) << "rewritten";
    }
}
