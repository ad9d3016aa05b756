#include "sys_sdl_console.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "ay_8912.h"
#include "ram.h"
#include "sys_sdl_fixture.h"

namespace {

// Runs one command line as the console would.
void run(const char *line) {
    char buf[CON_CHARS_PER_LINE + 1];
    snprintf(buf, sizeof buf, "%s", line);
    Console_CommandHandler(SDLCON_Console(), buf);
}

using lines = std::vector<std::string>;

class ConsoleSetUp : public SdlScreen {
  protected:
    void SetUp() override { open_screen(false); }
};

TEST_F(ConsoleSetUp, GeometryFollowsTheZoomAtCreation) {
    struct {
        int level;
        int x, y, w, h;
    } cases[] = {{0, 4, 16, 232, 204}, {1, 8, 32, 464, 408}, {2, 8, 32, 464, 408}};
    for (const auto &c : cases) {
        video->zoom = c.level;
        ASSERT_EQ(0, SDLCON_Init());
        ConsoleInformation *con = SDLCON_Console();
        EXPECT_EQ(c.x, con->DispX) << "zoom " << c.level;
        EXPECT_EQ(c.y, con->DispY) << "zoom " << c.level;
        EXPECT_EQ(c.w, con->ConsoleSurface->w) << "zoom " << c.level;
        EXPECT_EQ(c.h, con->ConsoleSurface->h) << "zoom " << c.level;
        SDLCON_Quit();
    }
}

TEST_F(ConsoleSetUp, OpensWithPromptGreetingAndAHiddenConsole) {
    ASSERT_EQ(0, SDLCON_Init());
    ConsoleInformation *con = SDLCON_Console();
    EXPECT_STREQ("Z5>", con->Prompt);
    EXPECT_EQ(220, con->ConsoleAlpha);
    // The library's own greeting is cleared away.
    EXPECT_EQ(lines({"", "", "type '?' to see brief help", ""}), console_lines(4));
    EXPECT_EQ(0, SDLCON_Visible());
    EXPECT_EQ(0, CON_isVisible(con));
}

TEST_F(ConsoleSetUp, FontKeyPicksTheFileAndAnUnknownValueFallsBackToTheDefault) {
    ASSERT_TRUE(make_font("kestrel_font_9x15.bmp", 9, 15));
    config[CFG_FONT].value = 3;
    ASSERT_EQ(0, SDLCON_Init());
    EXPECT_EQ(9, SDLCON_Console()->FontWidth);
    EXPECT_EQ(15, SDLCON_Console()->FontHeight);
    SDLCON_Quit();
    config[CFG_FONT].value = 7;
    ASSERT_EQ(0, SDLCON_Init());
    EXPECT_EQ(7, SDLCON_Console()->FontWidth);
    SDLCON_Quit();
    config[CFG_FONT].value = 0; // kestrel_font_6x13.bmp is not there
    EXPECT_EQ(1, SDLCON_Init());
    EXPECT_EQ(nullptr, SDLCON_Console());
}

// The library keeps pointing at the console last made topmost; a console
// made after that one was closed must take over without touching freed
// memory (the sanitizer build proves it).
TEST_F(ConsoleSetUp, ConsoleCanBeClosedAndMadeAgain) {
    for (int round = 0; round < 3; round++) {
        ASSERT_EQ(0, SDLCON_Init());
        SDLCON_Show();
        SDLCON_Update();
        type_keys("dump");
        EXPECT_EQ("ready", console_lines(1)[0]) << "round " << round;
        SDLCON_Quit();
        EXPECT_EQ(nullptr, SDLCON_Console());
    }
    ASSERT_EQ(0, SDLCON_Init()); // never shown before it goes
    SDLCON_Quit();
}

TEST_F(ConsoleSetUp, WithoutAConsolePrintingAndEventsAreHarmless) {
    EXPECT_EQ(0, SDLCON_Log("%s", "nobody sees this"));
    SDL_Event ev = key_event(SDL_KEYDOWN, SDLK_a, KMOD_NONE, 'a');
    EXPECT_EQ(1, SDLCON_ProcessEvent(ev));
    EXPECT_EQ(0, SDLCON_Show());
    EXPECT_EQ(0, SDLCON_Visible());
    EXPECT_EQ(0, SDLCON_Update());
}

class ConsoleDrawing : public SdlScreen {
  protected:
    // Fills the screen grey, draws the console over it and counts the
    // pixels inside its rectangle that changed.
    int changed_after_frame() {
        Uint32 grey = SDL_MapRGB(screen->format, 0x40, 0x40, 0x40);
        SDL_FillRect(screen, nullptr, grey);
        SDLCON_Update();
        int changed = 0;
        auto *px = static_cast<Uint32 *>(screen->pixels);
        for (int y = 32; y < 32 + 408; y++)
            for (int x = 8; x < 8 + 464; x++)
                changed += px[y * screen->pitch / 4 + x] != grey;
        return changed;
    }
};

TEST_F(ConsoleDrawing, ShowOpensFullyAtTheNextFrame) {
    EXPECT_EQ(0, changed_after_frame());
    SDLCON_Show();
    EXPECT_EQ(1, SDLCON_Visible());
    int changed = changed_after_frame();
    ConsoleInformation *con = SDLCON_Console();
    EXPECT_EQ(CON_OPEN, con->Visible);
    EXPECT_EQ(408, con->RaiseOffset);
    // The whole rectangle is tinted, bottom row included: no slide.
    EXPECT_EQ(464 * 408, changed);
}

TEST_F(ConsoleDrawing, HideIsGoneAtTheNextFrame) {
    SDLCON_Show();
    changed_after_frame();
    SDLCON_Hide();
    EXPECT_EQ(0, SDLCON_Visible());
    EXPECT_EQ(0, changed_after_frame());
    EXPECT_EQ(CON_CLOSED, SDLCON_Console()->Visible);
}

TEST_F(ConsoleDrawing, ShowThenHideBeforeAFrameDrawsNothing) {
    SDLCON_Show();
    SDLCON_Hide();
    EXPECT_EQ(0, changed_after_frame());
    EXPECT_EQ(0, changed_after_frame());
}

TEST_F(ConsoleDrawing, DrawsAsTheVideoOverlay) {
    ASSERT_NE(nullptr, video->overlay);
    SDLCON_Show();
    Uint32 grey = SDL_MapRGB(screen->format, 0x40, 0x40, 0x40);
    SDL_FillRect(screen, nullptr, grey);
    video->overlay();
    auto *px = static_cast<Uint32 *>(screen->pixels);
    EXPECT_NE(grey, px[100 * screen->pitch / 4 + 100]);
    EXPECT_EQ(grey, px[2 * screen->pitch / 4 + 2]) << "outside the console";
}

TEST_F(ConsoleDrawing, ShrunkenWindowRefitsTheConsole) {
    SDLCON_Show();
    screen = SDL_SetVideoMode(VDC_WIDTH, VDC_HEIGHT, 32, SDL_SWSURFACE);
    video->surface = screen;
    SDLCON_Update();
    ConsoleInformation *con = SDLCON_Console();
    EXPECT_EQ(4, con->DispX);
    EXPECT_EQ(16, con->DispY);
    EXPECT_EQ(232, con->ConsoleSurface->w);
    EXPECT_EQ(204, con->ConsoleSurface->h);
    EXPECT_EQ(lines({"type '?' to see brief help", ""}), console_lines(2)) << "lines kept";
    screen = SDL_SetVideoMode(VDC_WIDTH * 3, VDC_HEIGHT * 3, 32, SDL_SWSURFACE);
    video->surface = screen;
    SDLCON_Update();
    EXPECT_EQ(464, con->ConsoleSurface->w);
}

class ConsoleCommands : public SdlScreen {};

const lines help_keys = {
    "=== HELP/KEYS ======================================",
    " F1                             - show/hide console",
    " F10                                         - quit",
    " F11                                          - nmi",
    " F12                                        - reset",
    "----------------------------------------------------",
    " F4                                - toggle charset",
    " F5/F6                              - speed down/up",
    " F7/F8                                - zoom out/in",
    "----------------------------------------------------",
    " TAB                              - word completion",
    " Up/Down                   - prev/next line history",
    " PgUp/PgDown                       - scroll console",
    " Ctrl c                       - cancel current line",
    " Ctrl l                             - clear console",
    "----------------------------------------------------",
    "ready",
};

TEST_F(ConsoleCommands, HelpTextsAreListedAfterClearingTheOutput) {
    run("?");
    lines out = console_lines(26);
    EXPECT_EQ("", out[0]) << "earlier output was cleared";
    EXPECT_EQ("=== HELP/COMMANDS ==================================", out[1]);
    EXPECT_EQ(" mnt{1|2} image.dsk      - insert/create disk image", out[4]);
    EXPECT_EQ("                      '$$$' is {tap|dat|bas|txt|hrs}", out[16]);
    EXPECT_EQ(" dasm A#### {E|L}####     - disassemble to file.asm", out[23]);
    EXPECT_EQ("ready", out[25]);
    for (int i = 1; i <= 24; i++) {
        bool entry = out[i][0] == ' ' && out[i][1] != ' ';
        EXPECT_EQ(entry ? 51u : 52u, out[i].size()) << out[i];
    }
    run("?KEYS");
    lines keys = console_lines(18);
    EXPECT_EQ("", keys[0]);
    EXPECT_EQ(help_keys, lines(keys.begin() + 1, keys.end()));
}

TEST_F(ConsoleCommands, QuestionMarkTakesExtraWordsButMustStandAlone) {
    run("? mnt1");
    EXPECT_EQ(lines({"----------------------------------------------------", "ready"}),
              console_lines(2));
    run("??");
    EXPECT_EQ(lines({"ready", "? syntax error"}), console_lines(2));
}

TEST_F(ConsoleCommands, UnknownWordsAndBlankLinesAreSyntaxErrors) {
    for (const char *line : {"utape", "   ", "frobnicate x", "load", "load a b c", "save",
                             "save x.bin A0500", "mnt1 a b"}) {
        run("?keys");
        run(line);
        EXPECT_EQ(lines({"ready", "? syntax error"}), console_lines(2)) << line;
    }
}

TEST_F(ConsoleCommands, DumpWritesTheWholeRam) {
    uint8_t *ram_bytes = ram_getptr();
    ram_bytes[0x0000] = 0xA5;
    ram_bytes[0xFFFF] = 0x3C;
    run("DUMP");
    EXPECT_EQ(lines({"dumping ram to: 'kestrel_ram.bin'", "ready"}), console_lines(2));
    std::vector<uint8_t> dump = read_file("kestrel_ram.bin");
    ASSERT_EQ(65536u, dump.size());
    EXPECT_EQ(0xA5, dump[0x0000]);
    EXPECT_EQ(0x3C, dump[0xFFFF]);
}

TEST_F(ConsoleCommands, DumpThatCannotWriteSaysError) {
    std::filesystem::create_directory("kestrel_ram.bin"); // not a file anyone can open
    run("dump");
    EXPECT_EQ(lines({"dumping ram to: 'kestrel_ram.bin'", "error"}), console_lines(2));
}

struct audio_probe {
    static inline int pauses = 0, unpauses = 0;
    static int pause() {
        pauses++;
        return 0;
    }
    static int unpause() {
        unpauses++;
        return 0;
    }
};

TEST_F(ConsoleCommands, SoundCommandsCallTheAudioRecord) {
    auto saved_pause = audio->pause;
    auto saved_unpause = audio->unpause;
    audio->pause = audio_probe::pause;
    audio->unpause = audio_probe::unpause;
    run("soundoff");
    EXPECT_EQ(1, audio_probe::pauses);
    EXPECT_EQ(0, audio_probe::unpauses);
    EXPECT_EQ("ready", console_lines(1)[0]);
    run("SoundOn");
    EXPECT_EQ(1, audio_probe::pauses);
    EXPECT_EQ(1, audio_probe::unpauses);
    EXPECT_EQ("ready", console_lines(1)[0]);
    audio->pause = nullptr; // audio never opened: still answers
    audio->unpause = nullptr;
    run("soundoff");
    run("soundon");
    EXPECT_EQ(lines({"ready", "ready"}), console_lines(2));
    audio->pause = saved_pause;
    audio->unpause = saved_unpause;
}

TEST_F(ConsoleCommands, DiskCommandsMountCreateAndEject) {
    run("MNT1 game.dsk");
    EXPECT_EQ(lines({"mounting 'game.dsk' in drive 1", "ready"}), console_lines(2));
    EXPECT_TRUE(std::filesystem::exists("game.dsk")) << "a missing image is created";
    run("mnt2 game.dsk"); // the same image cannot sit in both drives
    EXPECT_EQ(lines({"mounting 'game.dsk' in drive 2", "error"}), console_lines(2));
    std::filesystem::create_directory("folder.dsk");
    run("mnt2 folder.dsk");
    EXPECT_EQ(lines({"mounting 'folder.dsk' in drive 2", "error"}), console_lines(2));
    run("mnt1");
    EXPECT_EQ(lines({"unmounting drive 1", "ready"}), console_lines(2));
    run("mnt2 game.dsk"); // free again once drive 1 let it go
    EXPECT_EQ(lines({"mounting 'game.dsk' in drive 2", "ready"}), console_lines(2));
    run("umnt2 extra words");
    EXPECT_EQ(lines({"unmounting drive 2", "ready"}), console_lines(2));
    run("UMNT1");
    EXPECT_EQ(lines({"unmounting drive 1", "ready"}), console_lines(2));
}

TEST_F(ConsoleCommands, LoadRawFilesOnlyWithAnAddressLetter) {
    write_file("prog.bin", {0xA5, 0x3C});
    uint8_t *mem = ram_getptr();
    mem[0x0500] = mem[0x0501] = mem[0x0000] = 0;
    run("load prog.bin a0500");
    EXPECT_EQ(
        lines({"loading 'prog.bin'", "start : 0500", "end   : 0502", "size  : 0002", "ready"}),
        console_lines(5));
    EXPECT_EQ(0xA5, mem[0x0500]);
    EXPECT_EQ(0x3C, mem[0x0501]);

    run("?keys");
    mem[0x0500] = 0;
    run("load prog.bin 0500"); // no A: nothing is loaded
    EXPECT_EQ(lines({"----------------------------------------------------", "ready", "ready"}),
              console_lines(3));
    EXPECT_EQ(0, mem[0x0500]);

    run("load prog.bin A"); // a bare A is address 0
    EXPECT_EQ(0xA5, mem[0x0000]);
    EXPECT_EQ("ready", console_lines(1)[0]);

    write_file("with blank.bin", {0x77});
    run("load \"with blank.bin\" A1C000"); // beyond 64 KiB: taken modulo
    EXPECT_EQ("loading 'with blank.bin'", console_lines(5)[0]);
    EXPECT_EQ("ready", console_lines(1)[0]);
    EXPECT_EQ(0x77, mem[0xC000]);
}

TEST_F(ConsoleCommands, FailedLoadsSayError) {
    run("load missing.tap");
    EXPECT_EQ(lines({"loading 'missing.tap'", "error"}), console_lines(2));
    run("load missing.bin a0500");
    EXPECT_EQ(lines({"loading 'missing.bin'", "error"}), console_lines(2));
}

TEST_F(ConsoleCommands, SaveRangeArithmetic) {
    struct {
        const char *line;
        const char *shown;
    } cases[] = {
        {"save out.bin A0500 L0100", "saving 'out.bin' $0500 - $05FF (size = $0100)"},
        {"save out.bin a0500 e05ff", "saving 'out.bin' $0500 - $05FF (size = $0100)"},
        {"save out.bin A0000 EFFFF", "saving 'out.bin' $0000 - $FFFF (size = $0000)"},
        {"save out.bin A0500 E0400", "saving 'out.bin' $0500 - $0400 (size = $FF01)"},
        {"save out.bin A1FFFF L10", "saving 'out.bin' $FFFF - $000E (size = $0010)"},
        {"save out.bin AFFF0 L0", "saving 'out.bin' $FFF0 - $FFEF (size = $0000)"},
    };
    for (const auto &c : cases) {
        run(c.line);
        EXPECT_EQ(lines({c.shown, "ready"}), console_lines(2)) << c.line;
    }
    for (const char *bad : {"save out.bin 0500 L0100", "save out.bin A0500 X0100",
                            "save out.bin A L0100", "save out.bin A0500 E"}) {
        run("?keys");
        run(bad);
        EXPECT_EQ(lines({"ready", "? syntax error"}), console_lines(2)) << bad;
    }
}

TEST_F(ConsoleCommands, SavedRangeHoldsThoseBytes) {
    uint8_t *mem = ram_getptr();
    for (int i = 0; i < 0x100; i++)
        mem[0x0500 + i] = static_cast<uint8_t>(i ^ 0xA5);
    run("save out.bin A0500 L0100");
    std::vector<uint8_t> saved = read_file("out.bin");
    ASSERT_EQ(0x100u, saved.size());
    for (int i = 0; i < 0x100; i++)
        ASSERT_EQ(i ^ 0xA5, saved[i]) << i;
    std::filesystem::create_directory("dir.bin");
    run("save dir.bin A0500 L0100");
    EXPECT_EQ("error", console_lines(1)[0]);
}

TEST_F(ConsoleCommands, TapeAttachesAndReleases) {
    run("tape missing.tap");
    EXPECT_EQ("error", console_lines(1)[0]);
    write_file("some.tap", {0x16, 0x16, 0x16, 0x24});
    run("?keys");
    run("tape some.tap");
    EXPECT_EQ(lines({"----------------------------------------------------", "ready", "ready"}),
              console_lines(3));
    run("tape");
    EXPECT_EQ(lines({"ready", "ready"}), console_lines(2)) << "released, no line of its own";
    run("NoTape");
    EXPECT_EQ("ready", console_lines(1)[0]);
}

TEST_F(ConsoleCommands, AssemblerCommandsAreNotThereYet) {
    run("asm x.s");
    EXPECT_EQ(lines({"not implemented yet ...", "ready"}), console_lines(2));
    run("DASM");
    EXPECT_EQ(lines({"not implemented yet ...", "ready"}), console_lines(2));
}

TEST_F(ConsoleCommands, TabListsMatchingCommandsAndKeepsTheLine) {
    SDLCON_Show();
    type_keys("s", false);
    SDL_Event tab = key_event(SDL_KEYDOWN, SDLK_TAB, KMOD_NONE, '\t');
    SDLCON_ProcessEvent(tab);
    EXPECT_EQ(lines({"", "save", "soundon", "soundoff"}), console_lines(4));
    EXPECT_STREQ("s", SDLCON_Console()->LCommand);

    char upper[] = "S";
    Console_TabCompletionHandler(upper);
    EXPECT_EQ(lines({"soundoff", ""}), console_lines(2));

    char empty[] = "";
    EXPECT_EQ(nullptr, Console_TabCompletionHandler(empty));
    lines all = console_lines(16);
    EXPECT_EQ(lines({"", "?", "?keys", "mnt1", "umnt1", "mnt2", "umnt2", "load", "save", "tape",
                     "utape", "soundon", "soundoff", "dump", "asm", "dasm"}),
              all);
}

TEST_F(ConsoleCommands, LogPrintsTextLiterally) {
    SDLCON_Log("%s", "100% sure %d");
    EXPECT_EQ("100% sure %d", console_lines(1)[0]);
    sys_sdl_log("name  : '%s' %d%%", "PROG", 7);
    EXPECT_EQ("name  : 'PROG' 7%", console_lines(1)[0]);
}

TEST_F(ConsoleCommands, EnteredLineIsEchoedAndRunOnReturn) {
    SDLCON_Show();
    type_keys("Dump");
    EXPECT_EQ(lines({"Z5>Dump", "dumping ram to: 'kestrel_ram.bin'", "ready"}), console_lines(3));
    EXPECT_EQ(65536u, read_file("kestrel_ram.bin").size());
}

} // namespace
