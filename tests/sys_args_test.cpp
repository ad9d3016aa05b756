// The command line: what each option asks for, and every kind of bad input
// answered with its one line and status before anything is written.
#include "fixture.h"
#include "sys_args.h"
#include "sys_type.h"

static int parse(std::vector<const char *> args, sys_options *o, std::string *err) {
    args.insert(args.begin(), "kestrel");
    return sys_args_parse(static_cast<int>(args.size()), args.data(), o, err);
}

TEST(SysArgs, OptionsAndTheFileKindAreTaken) {
    TempDir dir;
    write_file("a.dsk", std::vector<uint8_t>(143360));
    write_file("b.dsk", std::vector<uint8_t>(143360));
    write_file("p.BIN", {1, 2});
    write_file("t.dat", {0});
    sys_options o;
    std::string err;
    ASSERT_EQ(ARGS_OK, parse({"--speed", "4", "--zoom=0", "--warp", "--headless", "--mute",
                              "--exact-timing", "--write-protect", "--seconds", "2.5", "--type",
                              "A\\nb\\\\", "--disk2", "b.dsk", "--screenshot", "x.png", "a.dsk"},
                             &o, &err))
        << err;
    EXPECT_EQ(std::tuple(4, 0, true, true, true, true, true, 2.5, KIND_DISK),
              std::tuple(o.speed, o.zoom, o.warp, o.headless, o.mute, o.exact_timing,
                         o.write_protect, o.seconds, o.kind));
    EXPECT_EQ("A\nb\\", o.type);
    EXPECT_EQ(std::string("BOOT\n"), sys_args_autostart_text(o));
    ASSERT_EQ(ARGS_OK, parse({"--load-at", "C0de", "--no-autostart", "p.BIN"}, &o, &err)) << err;
    EXPECT_EQ(std::tuple(0xC0DE, KIND_BIN, 0), std::tuple(o.load_at, o.kind, o.autostart));
    ASSERT_EQ(ARGS_OK, parse({"t.dat", "--frames", "7"}, &o, &err)) << err;
    EXPECT_EQ(std::string("LOAD\n"), sys_args_autostart_text(o));
    EXPECT_EQ(7, o.frames);
    // A tape's first block: BASIC not marked to run needs BASIC and RUN typed;
    // marked to run, machine code, or no block at all, LOAD alone.
    for (auto [bytes, typed] :
         {std::pair<std::vector<uint8_t>, const char *>{{0x16, 0x16, 0x16, 0x24, 0, 0, 0x00, 0x00},
                                                        "LOAD\nBASIC\nRUN\n"},
          {{0x16, 0x16, 0x16, 0x24, 0, 0, 0x00, 0x80}, "LOAD\n"},
          {{0x16, 0x16, 0x16, 0x24, 0, 0, 0x80, 0x00}, "LOAD\n"},
          {{0x16, 0x16, 0x16, 0x24, 0, 0, 0x00}, "LOAD\n"},
          {{0x16, 0x16, 0x24, 0, 0, 0x00, 0x00, 0, 0}, "LOAD\n"}}) {
        write_file("b.tap", bytes);
        ASSERT_EQ(ARGS_OK, parse({"b.tap"}, &o, &err)) << err;
        EXPECT_EQ(std::string(typed), sys_args_autostart_text(o)) << bytes.size();
    }
    write_file("p.bas", {0, 0}); // an empty program
    ASSERT_EQ(ARGS_OK, parse({"p.bas"}, &o, &err)) << err;
    EXPECT_EQ(std::string("BASIC\nRUN\n"), sys_args_autostart_text(o));
    ASSERT_EQ(ARGS_OK, parse({}, &o, &err));
    EXPECT_EQ(std::tuple(KIND_NONE, 0, 0, -1), std::tuple(o.kind, o.autostart, o.speed, o.zoom));
}

TEST(SysArgs, BadInputNamesTheOptionOrFile) {
    TempDir dir;
    write_file("short.dsk", std::vector<uint8_t>(1000));
    write_file("a.dsk", std::vector<uint8_t>(143360));
    write_file("p.bin", {1});
    write_file("small.rom", {1});
    write_text("bad.txt", "10 PRINT\n70000 END\n");
    write_file("bad.bas", {0x05, 0x06, 0x0A}); // a link past its own bytes
    write_file("big.bin", std::vector<uint8_t>(0x10001));
    struct {
        std::vector<const char *> args;
        int status;
        const char *says;
    } rows[] = {
        {{"--speed", "3"}, ARGS_USAGE, "--speed 3: must be 1, 2 or 4"},
        {{"--speed"}, ARGS_USAGE, "--speed needs a value"},
        {{"--zoom", "x"}, ARGS_USAGE, "--zoom x: must be 0, 1 or 2"},
        {{"--zoom", "3"}, ARGS_USAGE, "--zoom 3"},
        {{"--frames", "0"}, ARGS_USAGE, "--frames 0"},
        {{"--frames", "5x"}, ARGS_USAGE, "--frames 5x"},
        {{"--seconds", "-1"}, ARGS_USAGE, "--seconds -1"},
        {{"--seconds", "nan"}, ARGS_USAGE, "--seconds nan"},
        {{"--frames", "5", "--seconds", "1"}, ARGS_USAGE, "give one of them"},
        {{"--load-at", "12345", "p.bin"}, ARGS_USAGE, "--load-at 12345"},
        {{"--load-at", "G0", "p.bin"}, ARGS_USAGE, "--load-at G0"},
        {{"p.bin"}, ARGS_USAGE, "needs --load-at"},
        {{"--load-at", "400", "a.dsk"}, ARGS_USAGE, "--load-at needs a .bin FILE"},
        {{"--type", "caf\xC3\xA9"}, ARGS_USAGE, "is not on the machine's keyboard"},
        {{"--warp=1"}, ARGS_USAGE, "--warp takes no value"},
        {{"--exact-timing=1"}, ARGS_USAGE, "--exact-timing takes no value"},
        {{"--bogus"}, ARGS_USAGE, "unknown option --bogus"},
        {{"a.dsk", "p.bin"}, ARGS_USAGE, "more than one FILE"},
        {{"notes.doc"}, ARGS_USAGE, "notes.doc: unknown kind of file"},
        {{"--screenshot", "x.jpg"}, ARGS_USAGE, "must end in .png"},
        {{"--record", "x.mp3"}, ARGS_USAGE, "must end in .wav"},
        {{"--rom"}, ARGS_USAGE, "--rom needs a file name"},
        {{"missing.dsk"}, ARGS_FILE_ERROR, "FILE missing.dsk: no such file"},
        {{"short.dsk"}, ARGS_FILE_ERROR, "short.dsk: 1000 bytes, not 143360"},
        {{"--disk2", "a.dsk", "a.dsk"}, ARGS_FILE_ERROR, "already in drive 1"},
        {{"--rom", "small.rom"}, ARGS_FILE_ERROR, "--rom small.rom: 1 bytes, not 16384"},
        {{"--disk-rom", "."}, ARGS_FILE_ERROR, "not a regular file"},
        {{"--dump-ram", "no/such/ram.bin"}, ARGS_USAGE, "its folder 'no/such' does not exist"},
        // Outputs: never an input of the run, never two at once, only files.
        {{"--save-state", "./a.dsk", "a.dsk"}, ARGS_USAGE, "./a.dsk: is the file of FILE"},
        {{"--disk2", "a.dsk", "--dump-ram", "link"}, ARGS_USAGE, "link: is the file of --disk2"},
        {{"--state", "p.bin", "--save-state", "p.bin"}, ARGS_USAGE, "is the file of --state"},
        {{"--dump-ram", "new", "--save-state", "./new"}, ARGS_USAGE, "is the file of --dump-ram"},
        {{"--record", "pipe.wav"}, ARGS_USAGE, "'pipe.wav' is not a regular file"},
        {{"--screenshot", "ro.png"}, ARGS_USAGE, "'ro.png' is read-only (mode 0444)"},
        {{"--dump-ram", "."}, ARGS_USAGE, "'.' is a folder"},
        {{"bad.txt"}, ARGS_FILE_ERROR, "FILE bad.txt: cannot be loaded: text line 2: line number"},
        {{"bad.bas"}, ARGS_FILE_ERROR, "FILE bad.bas: cannot be loaded: not a program"},
        {{"--load-at", "400", "big.bin"}, ARGS_FILE_ERROR, "big.bin: cannot be loaded: larger"},
    };
    symlink("a.dsk", "link");
    mkfifo("pipe.wav", 0644);
    write_file("ro.png", {});
    chmod("ro.png", 0444);
    for (const auto &r : rows) {
        sys_options o;
        std::string err;
        EXPECT_EQ(r.status, parse(r.args, &o, &err)) << r.says;
        EXPECT_NE(std::string::npos, err.find(r.says)) << err;
        EXPECT_EQ(0u, err.rfind("kestrel: ", 0)) << err;
    }
}

TEST(SysType, EveryPrintableCharacterButAFewHasAKey) {
    std::string missing;
    for (int c = 32; c < 127; c++) {
        const char text[2] = {static_cast<char>(c), 0};
        if (sys_type_check(text) >= 0) missing += text;
    }
    EXPECT_EQ("", missing); // the keyboard makes all of ASCII's printable characters
    EXPECT_EQ(-1, sys_type_check("LOAD\n"));
    EXPECT_EQ(2, sys_type_check("ab\tc"));
}

// A run of S seconds is whole frames, never none: 0 frames would mean "until the user quits".
TEST(SysArgs, SecondsBecomeAtLeastOneFrame) {
    const std::tuple<long, double, int, long> rows[] = {
        {0, 0.009, 20, 1}, {0, 0.011, 20, 1}, {0, 2, 20, 100},    {0, 2, 100, 20},
        {0, 0.5, 30, 17},  {7, 0, 20, 7},     {0, 1e-300, 20, 1}, {0, 0, 20, 0},
    };
    for (const auto &[frames, seconds, refresh, want] : rows) {
        sys_options o;
        o.frames = frames;
        o.seconds = seconds;
        EXPECT_EQ(want, sys_args_frames(o, refresh)) << seconds << " " << refresh;
    }
}
