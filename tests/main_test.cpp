// The whole program run headless, as scripts and CI run it: media from the
// command line, typed keys, and what it leaves behind (screenshot, RAM dump,
// recording, exit status). The window itself is the x11 test's.
#include <png.h>
#include <sndfile.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <random>
#include <thread>

#include "sys_sdl_fixture.h"

// A private folder holding what the build ships (ROMs, fonts, demo media).
struct Headless : ::testing::Test {
    TempDir dir;
    void SetUp() override {
        for (const char *f :
             {"z5.rom", "z5dos.rom", "demo.tap", "demo.dsk", "kestrel_font_7x14.bmp"})
            std::filesystem::copy(std::string(KESTREL_RUN_DIR "/") + f, f);
    }
    // Exit status; what the program printed lands in "out.txt".
    int run(const std::string &args, int limit = 60, int grace = 1) {
        std::string cmd = "timeout -k " + std::to_string(grace) + " " + std::to_string(limit);
        cmd.append(" " KESTREL_BINARY " ").append(args).append(" >out.txt 2>&1");
        int status = system(cmd.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string text_screen() { // the 28 rows of the text screen in the RAM dump
        std::vector<uint8_t> ram = read_file("ram.bin");
        std::string s;
        for (int i = 0; ram.size() == 0x10000 && i < 40 * 28; i++) {
            if (i % 40 == 0) s.push_back('|');
            s.push_back(char(ram[0xBB80 + i] & 0x7F));
        }
        return s;
    }
};

// The picture of a PNG as red-low pixels, empty when it is not 240 x 224 RGB.
static std::vector<uint32_t> png_pixels(const char *path) {
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    std::vector<uint32_t> px;
    if (!png_image_begin_read_from_file(&img, path)) return px;
    img.format = PNG_FORMAT_RGBA;
    std::vector<uint8_t> rgba(PNG_IMAGE_SIZE(img));
    if (img.width == 240 && img.height == 224 &&
        png_image_finish_read(&img, nullptr, rgba.data(), 0, nullptr))
        for (size_t i = 0; i < rgba.size(); i += 4)
            px.push_back(rgba[i] | rgba[i + 1] << 8 | rgba[i + 2] << 16);
    png_image_free(&img);
    return px;
}

// A recording's samples, interleaved; empty when it cannot be read.
static std::vector<short> read_wav(const char *path, SF_INFO *info) {
    SNDFILE *wav = sf_open(path, SFM_READ, info);
    std::vector<short> s(wav ? static_cast<size_t>(info->frames) * info->channels : 0);
    if (wav) sf_readf_short(wav, s.data(), info->frames);
    if (wav) sf_close(wav);
    return s;
}

// The display generator's own picture of a RAM dump: two frames, so that a
// mode that lasts across frames has settled.
static std::vector<uint32_t> reference_picture(const std::vector<uint8_t> &ram) {
    ram_init();
    memcpy(ram_getptr(), ram.data(), ram.size());
    vdc_init();
    for (int i = 0; i < 2 * VDC_HEIGHT; i++)
        vdc_render();
    return {video->pixels, video->pixels + VDC_WIDTH * VDC_HEIGHT};
}

// Both demos in both timings.
TEST_F(Headless, DemoDiskBootsByItselfAndTheScreenshotIsTheScreen) {
    for (std::string timing : {"", "--exact-timing "}) {
        ASSERT_EQ(0, run("--headless --warp --seconds 6 --screenshot out.png --dump-ram ram.bin " +
                         timing + "demo.dsk"))
            << read_text("out.txt");
        EXPECT_NE(std::string::npos, text_screen().find("|DISK DEMO DONE")) << timing;
        std::vector<uint32_t> shot = png_pixels("out.png");
        ASSERT_EQ(size_t{VDC_WIDTH * VDC_HEIGHT}, shot.size());
        EXPECT_TRUE(shot == reference_picture(read_file("ram.bin")));
    }
}

TEST_F(Headless, DemoTapeLoadsByItselfDrawsAndPlays) {
    for (int exact : {0, 1}) {
        ASSERT_EQ(0,
                  run("--headless --warp --seconds 8 --screenshot out.png --dump-ram ram.bin " +
                      std::string(exact ? "--exact-timing " : "") + "--record tune.wav demo.tap"))
            << read_text("out.txt");
        std::vector<uint32_t> shot = png_pixels("out.png");
        ASSERT_EQ(size_t{VDC_WIDTH * VDC_HEIGHT}, shot.size());
        EXPECT_TRUE(shot == reference_picture(read_file("ram.bin")));
        int lit = 0; // the hires drawing, not a text screen
        for (int i = 0; i < VDC_WIDTH * 200; i++)
            lit += shot[i] != shot[0];
        EXPECT_GT(lit, 500);
        SF_INFO info{};
        std::vector<short> s = read_wav("tune.wav", &info);
        ASSERT_FALSE(s.empty());
        EXPECT_EQ(std::pair(44100, 2), std::pair(info.samplerate, info.channels));
        const double frames = 8.0 * (exact ? 44100 : 1e6 / 22); // emulated time, not the host's
        EXPECT_NEAR(frames, double(info.frames), frames * 0.02);
        EXPECT_NE(*std::min_element(s.begin(), s.end()), *std::max_element(s.begin(), s.end()));
    }
}

// A tone program typed into the monitor: channel A at period 100 and full
// volume; its pitch in the recording is the chip's at 22 cycles a sample, or
// in exact timing the chip's own, 1,000,000 / (16 x 100) Hz, within 0.1 %.
TEST_F(Headless, TypedKeysReachTheMonitorAndTheRecordingHasTheTonesPitch) {
    for (auto [timing, want, within] :
         {std::tuple{"", 606.4, 3.0}, {"--exact-timing ", 625.0, 0.625}}) {
        write_file("tone.bin", {0xA2, 0x00, 0xA9, 0x64, 0x20, 0x12, 0xC0, 0xA2, 0x01, 0xA9,
                                0x00, 0x20, 0x12, 0xC0, 0xA2, 0x07, 0xA9, 0x7E, 0x20, 0x12,
                                0xC0, 0xA2, 0x08, 0xA9, 0x0F, 0x20, 0x12, 0xC0, 0x60});
        ASSERT_EQ(0, run("--headless --warp --seconds 5 --load-at 0600 --record tone.wav " +
                         std::string(timing) +
                         "--dump-ram ram.bin --type 'GO 600\\nDUMP 600\\n' tone.bin"))
            << read_text("out.txt");
        EXPECT_NE(std::string::npos, text_screen().find("|0600 A2 00 A9 64")) << text_screen();
        SF_INFO info{};
        std::vector<short> s = read_wav("tone.wav", &info);
        ASSERT_FALSE(s.empty());
        // Rising edges over the last second, left channel.
        const size_t from = s.size() - 2 * 44100;
        int rises = 0, first = -1, last = -1;
        const int mid = (*std::min_element(s.begin() + from, s.end()) +
                         *std::max_element(s.begin() + from, s.end())) /
                        2;
        for (size_t i = from + 2; i < s.size(); i += 2)
            if (s[i - 2] < mid && s[i] >= mid) {
                rises++;
                last = int(i / 2);
                if (first < 0) first = last;
            }
        ASSERT_GT(rises, 100);
        const double hz = (rises - 1) * 44100.0 / (last - first);
        EXPECT_NEAR(want, hz, within) << timing; // 606.4: 44,100 / (2 * 8 * 100 / 22)
    }
}

TEST_F(Headless, ABasicProgramFromTheCommandLineRunsByItself) {
    write_text("p.txt", "10 FOR I=1 TO 3\n20 PRINT \"LINE\";I*I\n30 NEXT\n");
    ASSERT_EQ(0, run("--headless --warp --seconds 6 --dump-ram ram.bin p.txt"))
        << read_text("out.txt");
    const std::string t = text_screen();
    const size_t one = t.find("|LINE 1 "), four = t.find("|LINE 4 "), nine = t.find("|LINE 9 ");
    EXPECT_TRUE(one < four && four < nine && nine != std::string::npos) << t;
}

// A program that passed the check at start (kestrel.cfg is written once every check has
// passed) but cannot be loaded when its time comes: one line, exit 1, and nothing typed.
TEST_F(Headless, AProgramThatNoLongerLoadsEndsTheRunUntyped) {
    write_text("p.txt", "10 PRINT 42\n");
    std::string cmd = "(for i in $(seq 1000); do [ -e kestrel.cfg ] && break; sleep 0.01; done; "
                      "printf '70000 X\\n' >p.txt) & timeout -k 1 20 " KESTREL_BINARY
                      " --headless --seconds 5 --dump-ram ram.bin p.txt >out.txt 2>&1";
    EXPECT_EQ(1, WEXITSTATUS(system(cmd.c_str())));
    EXPECT_EQ("kestrel: FILE p.txt: cannot be loaded: text line 1: line number over 65535\n",
              read_text("out.txt"));
    EXPECT_EQ(std::string::npos, text_screen().find("RUN")) << text_screen();
    EXPECT_NE(std::string::npos, text_screen().find("KESTREL OPEN ROM")) << text_screen();
}

// At verbosity 0 the loader's own line is silent; the run still says once what it left out.
TEST_F(Headless, ARawFileOverTheIoPageIsSaidOnce) {
    write_file("x.bin", {0x11, 0x22, 0x33, 0x44});
    EXPECT_EQ(0, run("--headless --warp --seconds 1.5 --dump-ram ram.bin --load-at 02FE x.bin"));
    EXPECT_EQ("kestrel: FILE x.bin: 2 bytes for the I/O page 0300-03FF skipped\n",
              read_text("out.txt"));
    const std::vector<uint8_t> ram = read_file("ram.bin");
    ASSERT_EQ(65536u, ram.size());
    EXPECT_EQ(0x11, ram[0x02FE]);
    EXPECT_EQ(0x22, ram[0x02FF]);
}

// Runs end however short, and settings out of range are said once and do not hold the run.
TEST_F(Headless, RunsEndAndOutOfRangeSettingsAreSaid) {
    EXPECT_EQ(0, run("--headless --seconds 0.009", 20)) << read_text("out.txt");
    write_text("kestrel.cfg", "refresh = 5000\nspeed = -1\n");
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(0, run("--headless --seconds 1 --dump-ram ram.bin", 20));
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_LT(took, 10.0); // paced at 50 frames a second, not 0.2
    EXPECT_EQ("kestrel: kestrel.cfg: refresh = 5000 is not 20 to 100; this run uses 20\n"
              "kestrel: kestrel.cfg: speed = -1 is not 1, 2 or 4; this run uses 1\n",
              read_text("out.txt"));
    EXPECT_NE(std::string::npos, text_screen().find("KESTREL OPEN ROM")) << text_screen();
    EXPECT_NE(std::string::npos, read_text("kestrel.cfg").find("\nrefresh = 5000\n"));
    write_text("kestrel.cfg", "speed = 1000\n"); // a state saved from it loads
    EXPECT_EQ(0, run("--headless --warp --seconds 0.5 --save-state s.state", 20));
    EXPECT_EQ(0, run("--headless --warp --state s.state --seconds 0.5", 20))
        << read_text("out.txt");
}

TEST_F(Headless, BadInputIsOneLineWithItsStatusAndNothingIsWritten) {
    std::pair<const char *, int> rows[] = {
        {"--zoom 9", 2},       {"--frobnicate", 2}, {"missing.dsk", 1},
        {"--rom demo.tap", 1}, {"x.bin", 2},        {"bad.txt", 1},
    };
    write_text("bad.txt", "10 PRINT\n70000 END\n");
    for (const auto &[args, status] : rows) {
        EXPECT_EQ(status, run(std::string("--headless ") + args)) << args;
        const std::string said = read_text("out.txt");
        EXPECT_EQ(1, std::count(said.begin(), said.end(), '\n')) << said;
        EXPECT_FALSE(std::filesystem::exists("kestrel.cfg")) << args;
    }
    EXPECT_EQ(0, run("--version"));
    EXPECT_EQ(0u, read_text("out.txt").find("kestrel "));
    EXPECT_EQ(0, run("--help"));
    EXPECT_NE(std::string::npos, read_text("out.txt").find("--record F.wav"));
}

TEST_F(Headless, WarpRunsAMinuteInAFractionOfIt) {
    // Paced, the run would take its emulated time; the machine itself manages
    // far more, even with the sanitizers' checks (half a minute there).
    const int frames = sanitized ? 1500 : 3000;
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(0, run("--headless --warp --frames " + std::to_string(frames) +
                     " --dump-ram ram.bin demo.tap"));
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_LT(took, frames / 50 / 4 * (sanitized ? 3 : 1));
    EXPECT_EQ(65536u, read_file("ram.bin").size());
}

TEST_F(Headless, ASignalEndsTheRunWithACompleteRecording) {
    // Paced, so the signal comes while it runs; it then has ten seconds to end.
    EXPECT_EQ(124, run("--headless --record r.wav", 3, 10));
    SF_INFO info{};
    ASSERT_FALSE(read_wav("r.wav", &info).empty()) << sf_strerror(nullptr);
    EXPECT_GT(info.frames, 44100 / 2);
    EXPECT_EQ(44 + info.frames * 4, long(read_file("r.wav").size()));
    for (const auto &f : std::filesystem::directory_iterator("."))
        EXPECT_EQ(std::string::npos, f.path().string().find(".tmp")) << f.path();
}
// Drive 2's motor on, 6000 bytes read (into the gap at the end of track 0), ten 0xFF
// written there, the motor off: the disk is stored with no sector changed.
static const std::vector<uint8_t> gap_writer = {
    0xAD, 0x1B, 0x03, 0xAD, 0x19, 0x03, 0xAD, 0x1C, 0x03, 0xAD, 0x1E, 0x03, 0xA0, 0x18, 0xA2, 0xFA,
    0xAD, 0x1C, 0x03, 0xCA, 0xD0, 0xFA, 0x88, 0xD0, 0xF5, 0xAD, 0x1F, 0x03, 0xA2, 0x0A, 0xA9, 0xFF,
    0x8D, 0x1D, 0x03, 0xAD, 0x1C, 0x03, 0xCA, 0xD0, 0xF5, 0xAD, 0x1E, 0x03, 0xAD, 0x18, 0x03, 0x60};

TEST_F(Headless, AFailedWriteBackIsSaidAtEveryVerbosityAndTheRunEndsWithStatus1) {
    // Files up to 64 KiB (RLIMIT_FSIZE): the stores fail; the run ends by itself or
    // by SIGTERM. Without the limit the disk is stored, a new file in its place.
    write_file("w.bin", gap_writer);
    write_text("kestrel.cfg", "verbosity = 0\n");
    // The motor-off store during the run, then the last one at the end.
    const std::string lost =
        "kestrel: drive 2: 'd2.dsk' could not be written back: File too large; the file keeps "
        "its old contents, the changes stay in the drive for the next write-back\n"
        "kestrel: drive 2: 'd2.dsk' could not be written back: File too large; the drive's "
        "changes are lost, the file keeps its old contents\n";
    // Write-protected, nothing is stored and nothing fails.
    for (auto [limit, seconds, status, wp] : {std::tuple{false, 3, 0, ""},
                                              {true, 3, 1, ""},
                                              {true, 60, 1, ""},
                                              {true, 3, 0, "--write-protect "}}) {
        std::filesystem::remove("d2.dsk");
        std::filesystem::copy("demo.dsk", "d2.dsk");
        struct stat before = {}, after = {};
        stat("d2.dsk", &before);
        std::string cmd = std::string(limit ? "trap '' XFSZ; ulimit -f 128; " : "") +
                          "timeout --preserve-status -k 5 4 " KESTREL_BINARY " --headless " + wp +
                          (seconds < 60 ? "--warp --seconds " : "--seconds ") +
                          std::to_string(seconds) +
                          " --disk2 d2.dsk --load-at 0600 --type 'GO 600\\n' w.bin >out.txt 2>&1";
        int got = system(cmd.c_str());
        EXPECT_EQ(status, WIFEXITED(got) ? WEXITSTATUS(got) : -1) << read_text("out.txt");
        const std::string said = read_text("out.txt");
        EXPECT_EQ(status ? lost : "", said);
        EXPECT_EQ(read_file("demo.dsk"), read_file("d2.dsk"));
        stat("d2.dsk", &after);
        EXPECT_EQ(limit, before.st_ino == after.st_ino) << "stored unless limited or protected";
        for (const auto &f : std::filesystem::directory_iterator("."))
            EXPECT_EQ(std::string::npos, f.path().string().find(".tmp")) << f.path();
    }
}

// A run split by a saved state ends in the state of one run of the whole
// length; a file that is no state stops the start with the reason.
TEST_F(Headless, RunSplitByASavedStateEndsAsOneRun) {
    ASSERT_EQ(0, run("--headless --warp --seconds 5 --save-state whole.state demo.dsk"));
    ASSERT_EQ(0, run("--headless --warp --seconds 3 --save-state half.state demo.dsk"));
    ASSERT_EQ(0, run("--headless --warp --state half.state --seconds 2 --save-state end.state"))
        << read_text("out.txt");
    EXPECT_EQ(read_file("whole.state"), read_file("end.state"));
    write_text("bad.state", "KESTREL state?");
    EXPECT_EQ(1, run("--headless --state bad.state --seconds 1"));
    EXPECT_EQ("kestrel: state 'bad.state' refused: too short for a state file\n",
              read_text("out.txt"));
}

// The program as a child: `limit` bytes as its largest file when not 0, and
// `sig` sent `after` ms into the run when not 0. Its exit status, 128 + the
// signal that ended it, or -1 when it had to be killed after 30 s. What it
// printed lands in "out.txt".
static int spawn(std::vector<std::string> args, int after = 0, int sig = 0, rlim_t limit = 0) {
    args.insert(args.begin(), KESTREL_BINARY);
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int out = open("out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(out, 2);
        rlimit r = {limit, limit};
        if (limit) setrlimit(RLIMIT_FSIZE, &r);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (sig) {
        std::this_thread::sleep_for(std::chrono::milliseconds(after));
        kill(pid, sig);
    }
    int status = 0;
    for (int waited = 0; waitpid(pid, &status, WNOHANG) == 0; waited++) {
        if (waited == 3000) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A recording whose header says exactly the samples that follow it; its
// frame count, or -1 when it is no such file. One killed between a write of
// samples and the header's update (`killed`) may hold samples past its count.
static long whole_wav(const char *path, bool killed = false) {
    SF_INFO info{};
    std::vector<short> s = read_wav(path, &info);
    const long size = long(read_file(path).size()), counted = 44 + info.frames * 4;
    if (size < 44 || info.channels != 2 || counted > size || (!killed && counted != size)) return -1;
    return long(info.frames);
}

static bool temporaries_here() {
    for (const auto &f : std::filesystem::directory_iterator("."))
        if (f.path().string().find(".tmp") != std::string::npos) return true;
    return false;
}

// Outputs that would fail or harm an input are refused before anything is
// written: one line, status 2, the settings file not made, the input kept.
TEST_F(Headless, OutputsAreCheckedBeforeTheRun) {
    const std::vector<uint8_t> disk = read_file("demo.dsk");
    mkfifo("pipe.wav", 0644);
    std::filesystem::create_directory("folder");
    write_text("ro.png", "mine");
    chmod("ro.png", 0444);
    std::filesystem::create_hard_link("demo.tap", "twin.bin");
    std::pair<const char *, const char *> rows[] = {
        {"--save-state demo.dsk demo.dsk", "--save-state demo.dsk: is the file of FILE"},
        {"--record pipe.wav", "'pipe.wav' is not a regular file"},
        {"--dump-ram folder", "'folder' is a folder"},
        {"--screenshot ro.png", "'ro.png' is read-only (mode 0444)"},
        {"--dump-ram twin.bin", "'twin.bin' has 2 names (hard links)"},
        {"--dump-ram s --save-state ./s", "--save-state ./s: is the file of --dump-ram"},
    };
    for (const auto &[args, says] : rows) {
        EXPECT_EQ(2, run(std::string("--headless --frames 5 ") + args, 10)) << args;
        const std::string said = read_text("out.txt");
        EXPECT_EQ(1, std::count(said.begin(), said.end(), '\n')) << said;
        EXPECT_NE(std::string::npos, said.find(says)) << said;
        EXPECT_FALSE(std::filesystem::exists("kestrel.cfg")) << args;
    }
    EXPECT_TRUE(disk == read_file("demo.dsk"));
    EXPECT_EQ("mine", read_text("ro.png"));
    EXPECT_TRUE(std::filesystem::is_fifo("pipe.wav"));
    EXPECT_FALSE(std::filesystem::exists("s"));
}

// The settings file is rewritten only by a run that passed every check.
TEST_F(Headless, SettingsAreRewrittenOnlyAfterEveryCheck) {
    write_text("kestrel.cfg", "zoom=2\n");
    write_text("bad.state", "KESTREL state?");
    EXPECT_EQ(1, run("--headless --frames 5 --state bad.state"));
    EXPECT_EQ(1, run("--headless --frames 5 --record r.wav --state bad.state"));
    EXPECT_EQ("zoom=2\n", read_text("kestrel.cfg"));
    EXPECT_FALSE(std::filesystem::exists("r.wav"));
    EXPECT_EQ(0, run("--headless --frames 5"));
    EXPECT_NE(std::string::npos, read_text("kestrel.cfg").find("\nzoom = 2\n"));
}

// Hang-up and quit end a run as terminate does: outputs written, status 0.
TEST_F(Headless, EverySignalToStopEndsTheRunCleanly) {
    for (int sig : {SIGHUP, SIGQUIT, SIGTERM, SIGINT}) {
        std::filesystem::remove("ram.bin");
        EXPECT_EQ(0, spawn({"--headless", "--record", "r.wav", "--dump-ram", "ram.bin"}, 700, sig))
            << strsignal(sig) << ": " << read_text("out.txt");
        EXPECT_EQ(65536u, read_file("ram.bin").size()) << strsignal(sig);
        EXPECT_GT(whole_wav("r.wav"), 44100 / 4) << strsignal(sig);
        EXPECT_FALSE(temporaries_here());
    }
}

// Killed at any moment, every file is the old one or a whole new one, the
// recording is playable, and the next run clears the temporaries left.
TEST_F(Headless, AKillAtAnyMomentLeavesOldOrWholeFiles) {
    const std::string old = "old content";
    const std::vector<std::string> args = {"--headless",   "--warp",  "--frames",     "60",
                                           "--record",     "r.wav",   "--dump-ram",   "ram.bin",
                                           "--save-state", "s.state", "--screenshot", "s.png",
                                           "demo.dsk"};
    // Kills spread over one whole run, however fast this machine runs it.
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(0, spawn(args));
    const int whole = int(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
            .count());
    std::mt19937 random(22);
    int recorded = 0, replaced = 0;
    for (int i = 0; i < 16; i++) {
        for (const char *f : {"ram.bin", "s.state", "s.png", "kestrel.cfg"})
            write_text(f, old);
        std::filesystem::remove("r.wav");
        // The first is killed at once and the last not at all, so that both
        // ends are seen however the machine's load changes the run's length.
        const int after = std::uniform_int_distribution<int>(0, whole + whole / 8)(random);
        spawn(args, i ? after : 1, i < 15 ? SIGKILL : 0);
        const std::string ram = read_text("ram.bin"), state = read_text("s.state");
        EXPECT_TRUE(ram == old || ram.size() == 65536) << after;
        EXPECT_TRUE(state == old || state.rfind("KESTREL", 0) == 0) << after;
        EXPECT_TRUE(read_text("s.png") == old || png_pixels("s.png").size() == 240 * 224) << after;
        const std::string cfg = read_text("kestrel.cfg");
        EXPECT_TRUE(cfg == old || (cfg.size() == 753 && cfg.find("\nzoom = 1\n"))) << after;
        EXPECT_EQ(143360u, read_file("demo.dsk").size());
        if (std::filesystem::exists("r.wav")) {
            EXPECT_GE(whole_wav("r.wav", true), 0) << after;
            recorded++;
        }
        replaced += ram != old;
    }
    EXPECT_TRUE(recorded > 0 && replaced > 0 && replaced < 16)
        << recorded << " " << replaced << " of 16 in " << whole << " ms";
    EXPECT_EQ(0, spawn({"--headless", "--frames", "1"}));
    EXPECT_FALSE(temporaries_here());
}

// A small file system of its own when this test may mount one, else a cap
// on the size of every file the program writes.
struct SmallDisk {
    bool mounted = false;
    SmallDisk() {
        std::filesystem::create_directory("small");
        mounted = geteuid() == 0 && mount("tmpfs", "small", "tmpfs", 0, "size=256k") == 0;
    }
    ~SmallDisk() {
        if (mounted) umount("small");
    }
    rlim_t limit() const { return mounted ? 0 : 256 * 1024; }
};

// A full disk stops the recording: the header counts exactly the samples
// that reached the file, the run says so and ends with status 1.
TEST_F(Headless, AFullDiskEndsTheRecordingSaidAndWhole) {
    SmallDisk small;
    EXPECT_EQ(1, spawn({"--headless", "--warp", "--frames", "200", "--record", "small/r.wav",
                        "--dump-ram", "ram.bin"},
                       0, 0, small.limit()));
    const std::string said = read_text("out.txt");
    EXPECT_NE(std::string::npos,
              said.find("kestrel: --record small/r.wav: the recording 'small/r.wav' stopped after"))
        << said;
    const long frames = whole_wav("small/r.wav");
    EXPECT_GT(frames, 44100 / 2);
    EXPECT_LT(frames, 44100 * 2);
    EXPECT_EQ(65536u, read_file("ram.bin").size()) << "the rest is still written";
}

// The program copied to "build/kestrel" under the test's folder, so that only
// the folders given here hold its data: none beside it unless staged.
static std::string copy_program(const char *to = "build/kestrel") {
    std::filesystem::create_directories(std::filesystem::path(to).parent_path());
    std::filesystem::copy_file(KESTREL_BINARY, to);
    return std::filesystem::absolute(to).string();
}

TEST(Program, StopsAtStartWithTheReason) {
    TempDir dir;
    const std::string here = std::filesystem::current_path().string();
    const std::string alone = copy_program();
    std::filesystem::create_directory("fonts");
    std::filesystem::copy_file(KESTREL_RUN_DIR "/kestrel_font_7x14.bmp",
                               "fonts/kestrel_font_7x14.bmp");
    // program, folder, settings, video driver, exit status, on stderr, not on stderr
    std::tuple<std::string, const char *, const char *, const char *, int, std::string, std::string>
        rows[] = {
            // the build's own data, found beside it from anywhere; no window
            {KESTREL_BINARY, ".", "verbosity = 0", "no_such_driver", 1,
             "kestrel: cannot open the window: ", "not found"},
            // nothing anywhere: every file named, then where it was looked for
            {alone + " --frames 5", ".", "verbosity = 1", "dummy", 1,
             "kestrel: data file \"z5.rom\" not found\n"
             "kestrel: data file \"z5dos.rom\" not found\n"
             "kestrel: data file \"kestrel_font_7x14.bmp\" not found\n"
             "kestrel: looked in " +
                 here + ", " + here + "/build/run, " + here + "/share/kestrel",
             "can't create console"},
            // the font present, the ROMs not: no black window running forever,
            // the window tells it until the planned run's end
            {alone + " --frames 5", "fonts", "verbosity = 0", "dummy", 1,
             "kestrel: data file \"z5.rom\"", "kestrel_font"},
        };
    for (const auto &[program, folder, cfg, video, status, says, not_says] : rows) {
        write_text(std::string(folder) + "/kestrel.cfg", cfg);
        std::string cmd = std::string("cd ") + folder +
                          " && SDL_AUDIODRIVER=dummy SDL_VIDEODRIVER=" + video +
                          " timeout -k 1 10 " + program + " >" + here + "/stderr.txt 2>&1";
        EXPECT_EQ(status, WEXITSTATUS(system(cmd.c_str()))) << video;
        const std::string err = read_text(here + "/stderr.txt");
        EXPECT_NE(std::string::npos, err.find(says)) << err;
        EXPECT_EQ(std::string::npos, err.find(not_says)) << err;
        // rewritten only once every check passed
        EXPECT_EQ(says.find("data file") != std::string::npos,
                  cfg == read_text(std::string(folder) + "/kestrel.cfg"));
    }
}

// "./build/kestrel" started from the source tree finds what the build staged
// in "build/run", and the working directory still comes first.
TEST(Program, FindsTheBuildsDataFromTheSourceTree) {
    TempDir dir;
    copy_program();
    std::filesystem::create_directory("build/run");
    for (const char *f : {"z5.rom", "z5dos.rom", "kestrel_font_7x14.bmp"})
        std::filesystem::copy_file(std::string(KESTREL_RUN_DIR "/") + f,
                                   std::string("build/run/") + f);
    const char *cmd = "./build/kestrel --headless --frames 60 --dump-ram ram.bin >out.txt 2>&1";
    ASSERT_EQ(0, WEXITSTATUS(system(cmd))) << read_text("out.txt");
    std::vector<uint8_t> ram = read_file("ram.bin");
    ASSERT_EQ(0x10000u, ram.size());
    // a bad ROM here wins over the good one there: the machine never starts
    write_file("z5.rom", std::vector<uint8_t>(16384, 0x00));
    ASSERT_EQ(0, WEXITSTATUS(system(cmd))) << read_text("out.txt");
    EXPECT_NE(ram, read_file("ram.bin"));
}

// A BASIC program on tape ends in its RUN: typed after LOAD, or started by
// the ROM when the tape marks it to run.
TEST_F(Headless, BasicTapeRunsAfterLoad) {
    for (uint8_t autorun : {0x00, 0x80}) {
        write_file("p.tap",
                   {0x16, 0x16, 0x16, 0x24, 0,    0,    0x00, autorun, 0x05, 0x0C, 0x05, 0x01, 0,
                    'P',  0,    0x0C, 0x05, 0x0A, 0x00, 0xBA, ' ',     '4',  '2',  0,    0,    0});
        ASSERT_EQ(0, run("--headless --warp --seconds 4 --dump-ram ram.bin p.tap"));
        const std::string t = text_screen();
        EXPECT_NE(std::string::npos, t.find("| 42 ")) << t;
        EXPECT_EQ(autorun == 0, t.find("|RUN ") != std::string::npos) << t;
    }
}

// A test of a program written for the machine, as a CI job runs one: the
// program in a .bin started from the monitor, its end the exit status.
struct Runner : Headless {
    // Exit status; stdout in "out.txt", stderr in "err.txt".
    int run_split(const std::string &args) {
        std::string cmd =
            "timeout -k 1 60 " KESTREL_BINARY " --headless --warp " + args + " >out.txt 2>err.txt";
        int status = system(cmd.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    void program(const std::vector<uint8_t> &bytes) { write_file("t.bin", bytes); }
    const std::string go = " --load-at 600 --type 'GO 600\\n' t.bin";
};

TEST_F(Runner, TheExitAddressEndsTheRunWithAAndTheScreenIsText) {
    program({
        0xA9, 0x60, 0x8D, 0xB8, 0xBF, 0xA9, 0xFF, 0x8D, 0xB9, 0xBF, // row 27: 0x60, inverse 0x7F,
        0xA9, 0x05, 0x8D, 0xBA, 0xBF, 0xA9, 0xDA, 0x8D, 0xBB, 0xBF, // an ink attribute, inverse Z
        0xA9, 0x20, 0xA0, 0x06, 0x20, 0x03, 0xC0,                   // print the text at 0x0620
        0xA9, 0x2A,                                                 // A = 42
        0x4C, 0x1D, 0x06,                                           // 0x061D: the end, for ever
        'C',  'I',  ' ',  'O',  'K',  0x00,
    });
    EXPECT_EQ(42, run_split("--seconds 5 --exit-when 061d --print-screen" + go))
        << read_text("err.txt");
    const std::string screen = read_text("out.txt");
    EXPECT_EQ(28, std::count(screen.begin(), screen.end(), '\n')) << screen;
    EXPECT_NE(std::string::npos, screen.find("\nCI OK\n")) << screen;
    EXPECT_NE(std::string::npos, screen.find("GO 600")) << screen;
    // Each built-in set as it draws 0x60 and 0x7F, in the last row.
    EXPECT_EQ(screen.size() - strlen("©█ Z\n"), screen.rfind("\n©█ Z\n") + 1) << screen;
    write_text("kestrel.cfg", "charset = 0\n");
    EXPECT_EQ(42, run_split("--seconds 5 --exit-when 061d --print-screen" + go));
    const std::string other = read_text("out.txt");
    EXPECT_EQ(other.size() - strlen("Ю▕ Z\n"), other.rfind("\nЮ▕ Z\n") + 1) << other;
    EXPECT_EQ(std::string::npos, screen.find(" \n")) << screen; // no trailing blanks
    // The machine stands where it ended: RAM at exit holds the same text.
    EXPECT_EQ(42, run_split("--seconds 5 --exit-when 61D --dump-ram ram.bin" + go));
    EXPECT_NE(std::string::npos, text_screen().find("|CI OK ")) << text_screen();
}

TEST_F(Runner, ABrkEndsTheRunWithStatus1AndItsRegisters) {
    program({0xA2, 0x33, 0xA0, 0x44, 0xA9, 0x55, 0x38, 0x00, 0xEA});
    EXPECT_EQ(1, run_split("--seconds 5 --exit-on-brk" + go)) << read_text("err.txt");
    EXPECT_NE(std::string::npos,
              read_text("err.txt").find("kestrel: BRK at 0607: A=55 X=33 Y=44 S="))
        << read_text("err.txt");
    EXPECT_EQ("", read_text("out.txt"));
    // An exit address the program never reaches does not hide the BRK.
    EXPECT_EQ(1, run_split("--seconds 5 --exit-on-brk --exit-when 9000" + go));
}

TEST_F(Runner, TheTimeLimitEndsAnUnfinishedTestWith124) {
    program({0x4C, 0x00, 0x06}); // never ends
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(124, run_split("--seconds 3 --exit-when 0603 --exit-on-brk" + go));
    EXPECT_EQ(124, run_split("--frames 100 --exit-when 0603" + go));
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 20);
    // Without an exit condition the time limit is the plan: status 0 as before.
    EXPECT_EQ(0, run_split("--seconds 1 --print-screen"));
    EXPECT_NE(std::string::npos, read_text("out.txt").find("KESTREL OPEN ROM"));
}

TEST_F(Runner, AnAddressThatIsNotOneIsRefusedWith2) {
    for (const char *bad : {"10000", "xyz", "-1", "0x12", " 12", "", "+FF"}) {
        EXPECT_EQ(2, run_split(std::string("--exit-when '") + bad + "'")) << bad;
        EXPECT_NE(std::string::npos, read_text("err.txt").find("--exit-when")) << bad;
    }
    EXPECT_EQ(2, run_split("--exit-on-brk=1"));
    EXPECT_EQ(2, run_split("--print-screen=yes"));
    EXPECT_EQ(2, run_split("--exit-when"));
}

// A bug report as a file: the recorded run replayed from the command line
// ends in the same machine; a recording that is no recording is one line.
TEST_F(Runner, ARecordedRunReplaysToTheSameMachineAndABadOneIsOneLine) {
    ASSERT_EQ(0, run_split("--seconds 4 --record-input r.rec --save-state a.state "
                           "--type 'DUMP C000\\n' --exact-timing demo.dsk"))
        << read_text("err.txt");
    ASSERT_EQ(0, run_split("--seconds 4 --replay r.rec --save-state b.state"))
        << read_text("err.txt");
    EXPECT_EQ(read_file("a.state"), read_file("b.state"));
    EXPECT_GT(read_file("a.state").size(), 1000u);
    write_text("x.rec", "KESTRPL\x1A");
    EXPECT_EQ(1, run_split("--seconds 1 --replay x.rec --save-state c.state"));
    EXPECT_EQ("kestrel: --replay x.rec refused: not a kestrel input recording\n",
              read_text("err.txt"));
    EXPECT_FALSE(std::filesystem::exists("c.state"));
    EXPECT_EQ(2, run_split("--replay r.rec demo.dsk"));
    EXPECT_EQ(0u, read_text("err.txt").find("kestrel: --replay: FILE comes from the recording"));
}

// A menu launch works in the XDG data folder, or ~/.local/share without one:
// made on first start with the demos (not again once the user deleted one),
// and the working directory, where names on the command line are found.
TEST_F(Headless, UserFolderIsMadeWithTheDemosAndIsTheWorkingDirectory) {
    const std::string here = std::filesystem::current_path();
    setenv("HOME", (here + "/home").c_str(), 1);
    for (auto [xdg, folder] : {std::pair{here + "/xdg", "xdg/kestrel/"},
                               {std::string("relative"), "home/.local/share/kestrel/"}}) {
        setenv("XDG_DATA_HOME", xdg.c_str(), 1);
        ASSERT_EQ(0, run("--user-folder --headless --frames 1 demo.tap")) << read_text("out.txt");
        for (const char *f : {"demo.tap", "demo.dsk", "kestrel.cfg"})
            EXPECT_TRUE(std::filesystem::exists(folder + std::string(f))) << folder << f;
        std::filesystem::remove(folder + std::string("demo.dsk"));
        write_file(folder + std::string("mine.txt"), {'1', ' ', '?', '\n'});
        ASSERT_EQ(0, run("--user-folder --headless --frames 1 mine.txt")) << read_text("out.txt");
        EXPECT_FALSE(std::filesystem::exists(folder + std::string("demo.dsk")));
    }
    EXPECT_FALSE(std::filesystem::exists("kestrel.cfg"));
    unsetenv("XDG_DATA_HOME");
}
