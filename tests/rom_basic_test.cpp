// The ROM's BASIC typed at its prompt and fed by the text loader, on the
// scripts under rom/tests: programs, commands and the screen they leave.
#include "rom_fixture.h"

namespace {

// Each script under rom/tests is typed into BASIC and the screen from its
// last CLS compared with the .out file. Where the script's numbered lines
// are a program as written, the text loader's bytes must equal the typed
// ones. One case per script, so each has its own time limit.
struct BasicScript {
    const char *name;
    // 0: typed only; 1: the loader's bytes must equal the typed ones; 2: and
    // the commands run again on the loaded program.
    int loaded;
};

class BasicScripts : public RomMachine, public testing::WithParamInterface<BasicScript> {};

TEST_P(BasicScripts, TypedAndLoaded) {
    const std::string at = std::string(KESTREL_TEST_DATA) + "/../../rom/tests/";
    const BasicScript t = GetParam();
    boot();
    keys("basic\n");
    basic("NEW\n");
    std::string text = read_text(at + t.name + ".bas");
    std::string expected = read_text(at + t.name + ".out");
    EXPECT_EQ(expected, basic(text));
    if (!t.loaded) return;
    size_t commands = 0; // the numbered lines, then the commands
    while (text[commands] >= '0' && text[commands] <= '9')
        commands = text.find('\n', commands) + 1;
    std::vector<uint8_t> typed = program();
    basic("NEW\n");
    TempDir dir;
    write_text("p.txt", text.substr(0, commands));
    ASSERT_EQ(0, sys_file_load_txt("p.txt"));
    EXPECT_EQ(typed, program());
    if (t.loaded < 2) return;
    EXPECT_EQ(expected, basic(text.substr(commands)));
}

INSTANTIATE_TEST_SUITE_P(Rom, BasicScripts,
                         testing::Values(BasicScript{"tokens1", 1}, BasicScript{"tokens2", 1},
                                         BasicScript{"edit", 0}, BasicScript{"flow", 1},
                                         BasicScript{"primes", 2}, BasicScript{"errors", 1},
                                         BasicScript{"arrays", 1}, BasicScript{"maths", 1},
                                         BasicScript{"strings", 1}, BasicScript{"gfx", 1},
                                         BasicScript{"loops", 1}, BasicScript{"colour", 1},
                                         BasicScript{"faults", 1}, BasicScript{"direct", 0},
                                         BasicScript{"hex", 1}, BasicScript{"conv", 1}),
                         [](const testing::TestParamInfo<BasicScript> &info) {
                             return std::string(info.param.name);
                         });

TEST_F(RomMachine, BasicBreaksOnEscOrCtrlCAndMonLeaves) {
    boot();
    keys("basic\n");
    basic("");
    EXPECT_EQ(0u, row(0).find("  KESTREL OPEN ROM 1.0  BASIC"));
    // Also while GET or INPUT waits for keys; CONT goes on after the INPUT.
    struct stop {
        const char *program, *shown;
    };
    for (stop t : {stop{"10 A=A+1:GOTO 10", "BREAK IN 10\n"},
                   {"10 GET K$:GOTO 10", "BREAK IN 10\n"},
                   {"10 INPUT K:PRINT \"ON\"", "?\nBREAK IN 10\n"}})
        for (char key : {'\x1b', '\x03'}) {
            SCOPED_TRACE(t.program);
            keys(std::string("NEW\n") + t.program + "\nCLS:RUN\n");
            frames(20);
            EXPECT_EQ(t.shown, basic(std::string(1, key)));
            std::string more = t.program[3] == 'I' ? basic("CONT\n") : "CONT\nON\n";
            EXPECT_NE(std::string::npos, more.find("CONT\nON\n")) << "INPUT goes on";
            EXPECT_TRUE(t.program[3] != 'A' || word(word(0x9C) + 2) > 10) << "the loop ran: A";
        }
    keys("mon\n");
    ASSERT_TRUE(run_until([&] { return at_prompt(); })) << screen();
    EXPECT_EQ(0u, row(0).find("  KESTREL OPEN ROM 1.0  MONITOR"));
}

// A BASIC block on the attached tape: "10 PRINT 42" at 0x0501.
TEST_F(RomMachine, BasicLoadsATapeWithCload) {
    write_file("p.tap", {0x16, 0x16, 0x24, 0,    0,    0x00, 0,   0x05, 0x0C, 0x05, 0x01, 0, 'P',
                         0,    0x0A, 0x05, 0x0A, 0x00, 0xBA, ' ', '4',  '2',  0,    0,    0});
    boot();
    keys("basic\n");
    basic("");
    ASSERT_EQ(0, sys_file_mount_tap("p.tap"));
    std::string out = basic("CLS:CLOAD \"P\"\nRUN\n");
    EXPECT_NE(std::string::npos, out.find("LOADED 0501-050C BASIC\nREADY\nRUN\n 42\n")) << out;
    EXPECT_EQ(0x050C, word(0x9C));
    sys_file_mount_tap(nullptr);
}

// A block marked to run: BASIC runs it after CLOAD, and after the monitor's
// LOAD. The loader "800 CALL#50D" starts the machine code after it, which
// prints "HI" through the jump table and returns.
TEST_F(RomMachine, BasicRunsATapeMarkedToRun) {
    write_file("run.tap", {0x16, 0x16, 0x16, 0x24, 0, 0, 0x00, 0x80, 0x05, 0x0C, 0x05, 0x01, 0,
                           'P',  0,    0x0A, 0x05, 0x0A, 0x00, 0xBA, ' ', '4', '2', 0, 0, 0});
    write_file("call.tap",
               {0x16, 0x16, 0x16, 0x24, 0,    0,    0x00, 0x80, 0x05, 0x18, 0x05, 0x01, 0,   'C',
                0,    0x0B, 0x05, 0x20, 0x03, 0xBF, '#',  '5',  '0',  'D',  0,    0,    0,   0xA9,
                0x15, 0xA0, 0x05, 0x20, 0x03, 0xC0, 0x60, 'H',  'I',  0});
    boot();
    keys("basic\n");
    basic("");
    ASSERT_EQ(0, sys_file_mount_tap("run.tap"));
    std::string out = basic("CLS:CLOAD \"P\"\n");
    EXPECT_NE(std::string::npos, out.find("LOADED 0501-050C BASIC\n 42\n")) << out;
    keys("MON\n");
    ASSERT_TRUE(run_until([&] { return at_prompt(); })) << screen();
    ASSERT_EQ(0, sys_file_mount_tap("call.tap"));
    out = basic("load\n");
    EXPECT_NE(std::string::npos, out.find("LOADED 0501-0518 BASIC\nHI\n")) << out;
    EXPECT_EQ(0u, row(0).find("  KESTREL OPEN ROM 1.0  BASIC")) << "BASIC took over";
    EXPECT_NE(std::string::npos, basic("LIST\n").find("800 CALL#50D\n"));
}

// Keys typed while a program runs wait in a buffer of 15; the next is lost
// with the bell, which outlasts a key's click.
TEST_F(RomMachine, BasicKeysTypedAheadWaitOrRingTheBell) {
    boot();
    keys("basic\n");
    basic("");
    keys("CLS:WAIT 250:?\"END\"\n");
    frames(5);
    for (int n = 1; n <= 16; n++) {
        press(KEY_A);
        EXPECT_EQ(n == 16, loud) << "key " << n;
    }
    const std::string kept(15, 'a');
    ASSERT_TRUE(wait_for("END")) << screen();
    ASSERT_TRUE(wait_for(kept)) << screen();
    EXPECT_EQ(kept + " ", row(row_of(kept)).substr(0, 16)) << "at the prompt, 15 and no more";
}

// Each statement leaves the sound chip loud or quiet a few frames later.
TEST_F(RomMachine, BasicSoundStatementsReachTheChip) {
    boot();
    keys("basic\n");
    basic("");
    struct step {
        const char *line;
        bool loud;
    };
    for (step s : {step{"SOUND 1,100,15", true},
                   {"SOUND 1,100,0", false},
                   {"MUSIC 2,4,10,12", true},
                   {"PLAY 0,0,0,0", false},
                   {"PING", true},
                   {"PLAY 0,0,0,0", false},
                   {"SOUND 5,20,12", true},
                   {"SOUND 5,20,0", false},
                   {"EXPLODE", true},
                   {"PLAY 0,0,0,0", false},
                   {"SOUND 1,200,0", false},
                   {"PLAY 1,0,8,100", true},
                   {"PLAY 0,0,0,0", false}}) {
        basic(std::string(s.line) + "\n");
        frames(3);
        EXPECT_EQ(s.loud, loud) << s.line;
    }
}

// The colour statements as the display shows them: a pixel of each line's
// result, where the attributes it wrote take effect.
TEST_F(RomMachine, BasicColoursAndShapesReachThePicture) {
    constexpr uint32_t BLACK = 0, WHITE = 0xFFFFFF, GREEN = 0x00FF00;
    struct shot {
        const char *line;
        int x, y;
        uint32_t colour;
    };
    boot();
    keys("basic\n");
    basic("");
    basic("HIRES:PAPER 4:INK 3\n");
    for (shot s : {shot{"CURSET 60,20,3:FILL 1,1,127", 60, 20, YELLOW},
                   {"", 60, 21, BLUE},
                   {"", 0, 199, BLUE},
                   {"CURSET 60,30,3:CHAR 127,1,2", 60, 37, YELLOW},
                   {"", 63, 37, BLUE},
                   {"TEXT:INK 1:PAPER 2", 0, 8, GREEN},
                   {"PLOT 10,3,65", 200, 215, GREEN},
                   {"LORES 1:PLOT 10,3,79", 60, 39, BLACK},
                   {"", 63, 39, WHITE},
                   {"", 60, 32, WHITE}}) {
        if (*s.line) keys(std::string(s.line) + "\n"); // past the colour columns: no READY
        frames(20);
        EXPECT_EQ(s.colour, pixel(s.x, s.y)) << s.line << " at " << s.x << "," << s.y;
    }
}

// The first colour on the text screen moves every row 3 cells right, past
// the colour columns: old text stays readable, the cursor keeps its place.
TEST_F(RomMachine, BasicFirstTextColourKeepsTheScreensText) {
    boot();
    keys("basic\n");
    basic("");
    basic("A$=\"0123456789\"\n");
    basic("A$=A$+A$+A$+\"ABCDEFGHI\":?A$\n"); // 39 cells
    keys("?\"AB\";:INK 3:?\"+\"\n");          // READY past the colour columns
    frames(20);
    const std::string kept = "012345678901234567890123456789ABCDEFG";
    const int r = row_of(kept);
    ASSERT_GT(r, 0) << screen();
    EXPECT_EQ(kept, row(r).substr(3)) << "the row's last 3 cells are lost";
    EXPECT_EQ("AB+", row(row_of("AB+")).substr(3, 3)) << screen();
    EXPECT_EQ(3, ram[0x0238]) << "the editor's first column";
}

// CHAR and FILL draw up to the screen's last pixel and cell, and not past:
// a refused line stops before its TEXT, leaving the hires screen shown.
TEST_F(RomMachine, BasicShapesStopAtTheScreensEdges) {
    struct edge {
        const char *line;
        bool refused;
    };
    boot();
    keys("basic\n");
    basic("");
    for (edge e : {edge{"CURSET 234,192,3:CHAR 65,0,1", false},
                   {"CURSET 235,0,3:CHAR 65,0,1", true},
                   {"CURSET 0,193,3:CHAR 65,0,1", true},
                   {"CHAR 31,0,1", true},
                   {"CHAR 128,0,1", true},
                   {"CURSET 228,0,3:FILL 200,2,64", false},
                   {"CURSET 228,0,3:FILL 200,3,64", true},
                   {"CURSET 0,199,3:FILL 2,1,64", true},
                   {"FILL 1,1,256", true},
                   {"FILL 1,0,64", true},
                   {"INK 7:PAPER 0:PATTERN 0", false}}) {
        basic("HIRES:" + std::string(e.line) + ":TEXT\n");
        EXPECT_EQ(e.refused, ram[0x3E] != 0) << e.line;
    }
}

} // namespace
