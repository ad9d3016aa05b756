// The program with our ROM in a window on an X server of its own, driven as
// a person does (a BASIC program typed and run included); every outside
// command runs under a time limit.
#include <filesystem>

#include "sys_sdl_fixture.h"

// A command under a time limit: the shell names its pid, then becomes it.
struct Child {
    FILE *out = nullptr;
    pid_t pid = 0;
    void start(const std::string &cmd, int seconds = 40) {
        out = popen(("echo $$; exec timeout -k 1 " + std::to_string(seconds) + " " + cmd).c_str(),
                    "r");
        pid = atoi(line().c_str());
    }
    std::string line() {
        char text[64] = "";
        return out && fgets(text, sizeof text, out) ? std::string(text, strcspn(text, "\n")) : "";
    }
    int wait_exit() { // 124 when the time ran out
        int status = out ? pclose(out) : -1;
        return out = nullptr, WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    ~Child() {
        if (out) kill(pid, SIGTERM);
        wait_exit();
    }
};

struct ProgramWindow : ::testing::Test {
    void TearDown() override { // what the program, the commands and Xvfb said
        if (HasFailure() && system("tail -n 20 *.log; wc -c shot.rgb")) puts("(no screenshot)");
    }
    std::string run(const std::string &cmd) { // the first line it prints
        Child c;
        c.start(cmd + " 2>>commands.log", 10);
        return c.line();
    }
    void hold(const std::string &key) { // press, a moment, let go
        run("xdotool keydown --window " + window + " " + key + " sleep 0.15 keyup --window " +
            window + " " + key);
    }
    // Waits up to 10 s for a shape in text cell (col, row), or none: some lit.
    void type(const std::string &text) { // each key held, one after another
        std::string chain;
        for (char c : text) {
            std::string key = c == ' '    ? "space"
                              : c == ','  ? "comma"
                              : c == '\r' ? "Return"
                                          : std::string(1, c);
            chain += " keydown --window " + window + " " + key + " sleep 0.12 keyup --window " +
                     window + " " + key + " sleep 0.04";
        }
        run("xdotool" + chain);
    }
    bool shape_within_10s(int col, int row, bool want = true) {
        for (int t = 0; t < 100; t++, usleep(100000)) {
            run("import -window " + window + " -depth 8 rgb:shot.rgb");
            shot = read_file("shot.rgb");
            int lit = 0;
            for (int i = 0; i < 48 && shot.size() == 480 * 448 * 3; i++) // zoom 1: 2 x 2 blocks
                lit += shot[((row * 8 + i / 6) * 960 + (col * 6 + i % 6) * 2) * 3] == 0xFF;
            if (shot.size() == 480 * 448 * 3 && (lit > 0 && lit < 48) == want) return true;
        }
        return false;
    }
    // Our ROM and font, an X server of its own and the program in it.
    void start() {
        for (const char *f : {"z5.rom", "z5dos.rom", "kestrel_font_7x14.bmp"})
            ASSERT_TRUE(std::filesystem::copy_file(std::string(KESTREL_RUN_DIR) + "/" + f, f))
                << f << " not built (targets roms, kestrel_fonts)";
        // Xvfb takes the first free display itself and names it once it accepts
        // connections: test programs run side by side never share one.
        x.start("Xvfb -displayfd 1 -noreset -screen 0 1024x768x24 -nolisten tcp 2>xvfb.log");
        const std::string display = x.line();
        ASSERT_FALSE(display.empty()) << "no X server";
        setenv("DISPLAY", std::string(1, ':').append(display).c_str(), 1);
        kestrel.start("env SDL_AUDIODRIVER=dummy " KESTREL_BINARY " >kestrel.log 2>&1");
        window = run("xdotool search --sync --onlyvisible --name '^kestrel'"); // alone here
        ASSERT_FALSE(window.empty()) << "no window";
    }
    // Waits up to 10 s for the window to be w x h.
    bool size_within_10s(int w, int h) {
        std::string want = "WIDTH=" + std::to_string(w) + "xHEIGHT=" + std::to_string(h);
        for (int t = 0; t < 100; t++, usleep(100000))
            if (run("xdotool getwindowgeometry --shell " + window +
                    " | grep -E 'WIDTH|HEIGHT' | paste -sd x") == want)
                return true;
        return false;
    }
    // White pixels in rows y0..y1, columns 0..x1 of an RGB dump `w` wide.
    static int white(const std::vector<uint8_t> &rgb, int w, int x1, int y0, int y1) {
        int n = 0;
        for (int y = y0; y < y1; y++)
            for (int x = 0; x < x1 && (y * w + x) * 3 + 2 < static_cast<int>(rgb.size()); x++)
                n += rgb[(y * w + x) * 3] == 0xFF && rgb[(y * w + x) * 3 + 1] == 0xFF &&
                     rgb[(y * w + x) * 3 + 2] == 0xFF;
        return n;
    }
    TempDir dir;
    Child x, kestrel; // the program ends before its X server, both before the directory
    std::string window;
    std::vector<uint8_t> shot;
};

TEST_F(ProgramWindow, KeysReachTheMachineF1OpensTheConsoleF10Quits) {
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_TRUE(shape_within_10s(0, 4)) << "no prompt: the picture is not drawn";
    hold("shift+h");
    ASSERT_TRUE(shape_within_10s(1, 4)) << "the key did not reach the machine";
    hold("F1");
    ASSERT_TRUE(shape_within_10s(1, 4, false)) << "the console did not dim the picture";
    hold("F1");
    type("\rbasic\rcls\r10 plot 30,9,42\r");
    EXPECT_TRUE(shape_within_10s(30, 10, false)) << "the line ran before RUN";
    type("run\r");
    EXPECT_TRUE(shape_within_10s(30, 10)) << "a typed BASIC program did not run";
    hold("F10");
    EXPECT_EQ(0, kestrel.wait_exit());
}

// The user's size scales the picture in whole steps; a message shows in the
// window and not in the screenshot it announces; fullscreen comes and goes;
// the zoom keys size the window.
TEST_F(ProgramWindow, ResizesGoesFullscreenAndShowsMessagesOutsideScreenshots) {
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_TRUE(shape_within_10s(0, 4)) << "no prompt";
    run("xdotool windowsize " + window + " 720 672");
    ASSERT_TRUE(size_within_10s(720, 672)) << "not resized";
    hold("Print");
    bool shown = false; // scale 3: the message's white glyphs near the foot
    for (int t = 0; t < 100 && !shown; t++, usleep(100000)) {
        run("import -window " + window + " -depth 8 rgb:shot.rgb");
        shot = read_file("shot.rgb");
        shown = shot.size() == 720 * 672 * 3 && white(shot, 720, 300, 600, 672) > 50;
    }
    ASSERT_TRUE(shown) << "no message in the window";
    // The prompt '>' in text cell (0, 4) at scale 3, from the window's corner.
    EXPECT_LT(0, white(shot, 720, 18, 4 * 8 * 3, 5 * 8 * 3)) << "the picture is not at scale 3";
    ASSERT_TRUE(std::filesystem::exists("kestrel_0001.png"));
    run("convert kestrel_0001.png -depth 8 rgb:png.rgb");
    std::vector<uint8_t> png = read_file("png.rgb");
    ASSERT_EQ(240u * 224 * 3, png.size());
    EXPECT_LT(0, white(png, 240, 6, 32, 40)) << "the screenshot has the prompt";
    EXPECT_EQ(0, white(png, 240, 240, 196, 224)) << "and no message";
    hold("F11");
    EXPECT_TRUE(size_within_10s(1024, 768)) << "not fullscreen";
    hold("alt+Return");
    EXPECT_TRUE(size_within_10s(720, 672)) << "not back to the window's size";
    hold("F7");
    EXPECT_TRUE(size_within_10s(240, 224)) << "zoom 0 did not size the window";
    hold("F10");
    EXPECT_EQ(0, kestrel.wait_exit());
}

// Shift+Insert types the clipboard, the middle button the primary selection,
// each as held keys with Return at the line end; the console's "copy" offers
// the text screen as the clipboard.
TEST_F(ProgramWindow, PasteTypesTheSelectionsAndCopyOffersTheScreen) {
    for (const char *f : {"z5.rom", "z5dos.rom", "kestrel_font_7x14.bmp"})
        ASSERT_TRUE(std::filesystem::copy_file(std::string(KESTREL_RUN_DIR) + "/" + f, f));
    x.start("Xvfb -displayfd 1 -noreset -screen 0 640x480x24 -nolisten tcp 2>xvfb.log");
    const std::string display = x.line();
    ASSERT_FALSE(display.empty()) << "no X server";
    setenv("DISPLAY", std::string(1, ':').append(display).c_str(), 1);
    kestrel.start("env SDL_AUDIODRIVER=dummy " KESTREL_BINARY
                  " --seconds 12 --print-screen >screen.txt 2>kestrel.log");
    window = run("xdotool search --sync --onlyvisible --name '^kestrel'");
    ASSERT_FALSE(window.empty()) << "no window";
    ASSERT_TRUE(shape_within_10s(0, 4)) << "no prompt";
    Child clipboard, primary; // each owns its selection while it runs
    auto offer = [&](Child &owner, const std::string &selection, const std::string &text) {
        write_file(selection, std::vector<uint8_t>(text.begin(), text.end()));
        owner.start("xclip -quiet -selection " + selection + " -i " + selection + " 2>/dev/null");
        const std::string first_line = text.substr(0, text.find('\n'));
        for (int t = 0; t < 50 && run("xclip -o -selection " + selection) != first_line; t++)
            usleep(100000);
    };
    offer(clipboard, "clipboard", "dump c01e c025\n");
    hold("shift+Insert");
    ASSERT_TRUE(shape_within_10s(1, 5)) << "nothing pasted";
    offer(primary, "primary", "d c000 c001\n");
    run("xdotool mousemove --window " + window + " 10 10 click 2");
    ASSERT_TRUE(shape_within_10s(1, 7)) << "nothing pasted";
    hold("F1");
    type("copy\r");
    hold("F1");
    Child out;
    out.start("xclip -o -selection clipboard", 10);
    std::string copied;
    for (int row = 0; row < 3; row++)
        copied += out.line() + "\n";
    EXPECT_NE(std::string::npos, copied.find("KESTREL OPEN ROM 1.0\n")) << copied;
    EXPECT_EQ(0, kestrel.wait_exit());
    const std::string screen = read_text("screen.txt");
    EXPECT_NE(std::string::npos,
              screen.find(">dump c01e c025\nC01E 4B 45 53 54 52 45 4C 20  KESTREL"))
        << screen;
    EXPECT_NE(std::string::npos, screen.find(">d c000 c001\nC000 4C ")) << screen;
}

// A replay in the window says so in its title and takes no key until it
// ends: its memory is the headless replay's.
TEST_F(ProgramWindow, AReplayShowsItselfAndIgnoresTheKeys) {
    for (const char *f : {"z5.rom", "z5dos.rom", "kestrel_font_7x14.bmp"})
        ASSERT_TRUE(std::filesystem::copy_file(std::string(KESTREL_RUN_DIR) + "/" + f, f));
    const std::string k = KESTREL_BINARY " --seconds 5 ";
    ASSERT_EQ(0, system((k + "--headless --warp --type 'HELP\\n' --record-input r.rec").c_str()));
    ASSERT_EQ(0, system((k + "--headless --replay r.rec --dump-ram quiet.bin").c_str()));
    x.start("Xvfb -displayfd 1 -screen 0 640x480x24 -nolisten tcp 2>xvfb.log");
    const std::string display = x.line();
    ASSERT_FALSE(display.empty()) << "no X server";
    setenv("DISPLAY", std::string(1, ':').append(display).c_str(), 1);
    kestrel.start("env SDL_AUDIODRIVER=dummy " + k + "--replay r.rec --dump-ram window.bin " +
                  ">kestrel.log 2>&1");
    window = run("xdotool search --sync --onlyvisible --name '^kestrel'");
    ASSERT_FALSE(window.empty()) << "no window";
    run("xdotool mousemove --window " + window + " 10 10");
    type("q1");
    hold("Prior");
    EXPECT_NE(std::string::npos, run("xdotool getwindowname " + window).find("| replay: "));
    EXPECT_EQ(0, kestrel.wait_exit());
    EXPECT_EQ(read_file("quiet.bin"), read_file("window.bin"));
}
