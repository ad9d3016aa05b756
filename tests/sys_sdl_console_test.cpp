// The console over a dummy-driver screen, and what each command line does.
#include "sys_sdl_console.h"

#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <csignal>

#include "ay_8912.h"
#include "ram.h"
#include "sys_data.h"
#include "sys_record.h"
#include "sys_sdl_fixture.h"
#include "via_6522_tapein.h"

namespace {

std::string view(int n) {
    std::string out;
    for (const std::string &line : console_lines(n))
        out += line + "|";
    return out;
}

// Runs one command line as the console would; returns what it printed.
std::string run(const char *line) {
    SDLCON_Log("#");
    std::string cut = line; // the handler cuts it up in place
    Console_CommandHandler(SDLCON_Console(), cut.data());
    const std::string all = view(40);
    return all.substr(all.rfind("#|") + 2);
}

using SysSdlConsole = SdlScreen;

// Fonts 4 and -1 are unknown. A font that gives fewer than 64 columns makes
// way for the widest that gives them, or the narrowest at the smallest zoom.
// The last console is never made topmost, which the library remembers:
// nothing may touch a freed one (the sanitizer sees).
TEST_F(SysSdlConsole, ZoomSetsTheRectangleAndAFontThatFitsTheLines) {
    SDLCON_Quit();
    ASSERT_TRUE(make_font("kestrel_font_9x15.bmp", 9, 15));
    ASSERT_TRUE(make_font("kestrel_font_4x6.bmp", 4, 6));
    const struct {
        int zoom, font, x, y, w, h, cell, cols;
    } cases[] = {{0, 4, 0, 16, 240, 204, 4, 59},
                 {1, 3, 8, 32, 464, 408, 7, 65},
                 {2, -1, 8, 32, 464, 408, 7, 65},
                 {1, 1, 8, 32, 464, 408, 7, 65}};
    for (const auto &c : cases) {
        video->zoom = c.zoom;
        config[CFG_FONT].value = c.font;
        ASSERT_EQ(0, SDLCON_Init());
        ConsoleInformation *con = SDLCON_Console();
        EXPECT_EQ(std::tuple(c.x, c.y, c.w, c.h, c.cell, c.cols, 255),
                  std::tuple(con->DispX, con->DispY, con->ConsoleSurface->w, con->ConsoleSurface->h,
                             con->FontWidth, con->VChars, con->ConsoleAlpha));
        EXPECT_STREQ("Z5>", con->Prompt);
        EXPECT_EQ("||type '?' to see brief help||", view(4)) << "the library's line is gone";
        if (c.font != 1) SDLCON_Show();
        SDLCON_Quit();
    }
    config[CFG_FONT].value = 0; // kestrel_font_6x13.bmp is not there
    EXPECT_EQ(1, SDLCON_Init());
    EXPECT_EQ(0, SDLCON_Log("%s", "nobody sees this") + SDLCON_Show() + SDLCON_Update());
}

// A program that cannot start says why in its window: the surface cleared,
// the text in 7-pixel cells wrapped to (480 - 2 * 7) / 7 = 66 columns, one
// 14-pixel band a line; with no font readable there is nothing to draw with.
TEST_F(SysSdlConsole, NoticeWrapsItsTextOverAClearedWindow) {
    SDLCON_Quit();
    auto *s = static_cast<SDL_Surface *>(video->surface);
    SDL_FillRect(s, nullptr, 0x00FF00);
    auto px = [s](int x, int y) {
        return static_cast<uint32_t *>(s->pixels)[y * s->w + x] & 0xFFFFFF;
    };
    auto white_cells = [&](int band) { // cells of text line `band` drawn white
        int n = 0;
        for (int col = 0; col < 68; col++)
            n += px(7 + col * 7 + 3, 7 + band * 14 + 7) == 0xFFFFFF;
        return n;
    };
    std::string text =
        "missing\n\n" + std::string(60, 'x') + " abcdefghij\n" + std::string(70, 'y');
    ASSERT_EQ(0, SDLCON_Notice(text.c_str()));
    std::vector<int> expected = {7, 0, 60, 10, 66, 4, 0}; // at the space, else at the edge
    std::vector<int> got;
    for (int band = 0; band < 7; band++)
        got.push_back(white_cells(band));
    EXPECT_EQ(expected, got);
    int green = 0;
    for (int y = 0; y < s->h; y++)
        for (int x = 0; x < s->w; x++)
            green += px(x, y) == 0x00FF00;
    EXPECT_EQ(0, green) << "cleared";
    for (const char *f : {"kestrel_font_6x13.bmp", "kestrel_font_7x14.bmp", "kestrel_font_8x15.bmp",
                          "kestrel_font_9x15.bmp"})
        sys_data_override(f, "no/such/font.bmp");
    EXPECT_EQ(1, SDLCON_Notice("unseen"));
    for (const char *f : {"kestrel_font_6x13.bmp", "kestrel_font_7x14.bmp", "kestrel_font_8x15.bmp",
                          "kestrel_font_9x15.bmp"})
        sys_data_override(f, nullptr);
}

// A zoom change or the user may give the window another size: the console
// is refitted to cover it, less its margins.
TEST_F(SysSdlConsole, ShowOpensFullyAtOnceHideClosesAndAWindowChangeRefits) {
    SDLCON_Show();
    video->overlay();
    EXPECT_EQ(std::pair(1, 408), std::pair(SDLCON_Visible(), SDLCON_Console()->RaiseOffset));
    const struct {
        int w, h, x, y, cw, ch;
    } sizes[] = {{240, 224, 0, 16, 240, 204},
                 {480, 448, 8, 32, 464, 408},
                 {1000, 900, 8, 32, 984, 860},
                 {480, 448, 8, 32, 464, 408}};
    for (const auto &s : sizes) {
        video->surface = SDL_SetVideoMode(s.w, s.h, 32, SDL_SWSURFACE);
        video->overlay();
        const ConsoleInformation *con = SDLCON_Console();
        EXPECT_EQ(std::tuple(s.x, s.y, s.cw, s.ch),
                  std::tuple(con->DispX, con->DispY, con->ConsoleSurface->w,
                             con->ConsoleSurface->h))
            << s.w;
    }
    SDLCON_Hide();
    EXPECT_EQ(std::pair(0, 0), std::pair(SDLCON_Visible(), SDLCON_Console()->RaiseOffset));
}

class SysSdlConsoleCommands : public SdlScreen {
  protected:
    void SetUp() override {
        SdlScreen::SetUp();
        ASSERT_EQ(0, ram_init() | cpu_6502_init());
        write_file("p.bin", {0xA5, 0x3C});
        write_file("a b.bin", {0x77});
        write_file("t.tap", {0xC3, 0x16});
        audio->pause = [] { return audio->paused = 1, 0; };
        audio->unpause = [] { return audio->paused = 0, 0; };
    }
};

constexpr int TAPE = 0x10000, PAUSED = 0x10001; // not RAM: the next tape byte, audio->paused
constexpr int EXACT = 0x10002; // not RAM: the cycle LDA abs,X pays for a page crossing

TEST_F(SysSdlConsoleCommands, EachLinePrintsItsReplyAndDoesItsWork) {
    for (const char *line : {"frobnicate x", "   ", "??", "mnt1 a b", "load", "load a b c", "save",
                             "save x.bin A0500", "save x.bin 0500 L0100", "save x.bin A0500 X0100",
                             "save x.bin A L0100", "save x.bin A0500 E"})
        EXPECT_EQ("? syntax error|", run(line)) << line;
    struct {
        const char *line, *reply;
        int at = -1, value = 0; // afterwards RAM at `at` holds `value`
    } rows[] = {
        {"MNT1 g.dsk", "mounting 'g.dsk' in drive 1|ready|"},
        {"mnt2 g.dsk", "mounting 'g.dsk' in drive 2|error|"}, // in drive 1 already
        {"mnt1", "unmounting drive 1|ready|"},
        {"mnt2 g.dsk", "mounting 'g.dsk' in drive 2|ready|"},
        {"umnt2 extra words", "unmounting drive 2|ready|"},
        {"mnt2 g.dsk RO", "mounting 'g.dsk' in drive 2 write-protected|ready|"},
        {"umnt2", "unmounting drive 2|ready|"},
        {"load p.bin a0500", "loading 'p.bin'|start : 0500|end   : 0502|size  : 0002|ready|", 0x501,
         0x3C},
        {"load p.bin 0600", "the address is written with an A: load file.bin A0500|? syntax error|",
         0x0601, 0},
        {"load p.bin A06zz",
         "the address is written with an A: load file.bin A0500|? syntax error|", 0x0601, 0},
        {"load \"a b.bin\" A1C000",
         "loading 'a b.bin'|start : C000|end   : C001|size  : 0001|ready|", 0xC000, 0x77},
        {"load missing.tap", "loading 'missing.tap'|error: no such file|"},
        {"tape missing.tap", "error: no such file|"},
        {"save l.bin A0500 L0100", "saving 'l.bin' $0500 - $05FF (size = $0100)|ready|"},
        {"save o.bin A1FFFF L10", "saving 'o.bin' $FFFF - $000E (size = $0010)|ready|"},
        {"save o.bin A0000 EFFFF", "saving 'o.bin' $0000 - $FFFF (size = $0000)|ready|"},
        {"save p.xyz", "saving 'p.xyz'|error: unknown kind of file (.tap .dat .bas .txt .hrs)|"},
        {"dump", "dumping ram to: 'kestrel_ram.bin'|ready|"},
        {"tape t.tap", "ready|", TAPE, 0xC3},
        {"NoTape", "ready|", TAPE, 0xFF},
        {"tape t.tap x", "ready|", TAPE, 0xC3},
        {"UTape", "ready|", TAPE, 0xFF},
        {"tape", "ready|", TAPE, 0xFF},
        {"soundoff", "ready|", PAUSED, 1},
        {"SoundOn", "ready|", PAUSED, 0},
        {"volume 30", "volume 30|ready|"},
        {"volume 101", "the volume is 0 to 100: volume 70|? syntax error|"},
        {"Volume", "volume 30|ready|"},
        {"DASM", "? syntax error|"},
        {"e 0500 A9 42 zz", "? syntax error|"},
        {"e A0500 A9 42", "ready|", 0x0501, 0x42},
        {"b 0500", "ready|"},
        {"w 0501 E0502", "ready|"},
        {"b", "break $0500|watch $0501-$0502|ready|"},
        {"bc 0500", "ready|"},
        {"bc 0500", "none there|ready|"},
        {"asm none.s", "assembling 'none.s'|asm: cannot open 'none.s'|error: no such file|"},
        {"dasm A0500 L2 d.asm",
         "disassembling $0500-$0501 to 'd.asm'|2 bytes from $0500 to 'd.asm'|ready|"},
        {"asm d.asm A", "assembling 'd.asm'|2 bytes from $0500 into memory|ready|"},
        {"exacton", "ready|", EXACT, 1},
        {"ExactOff", "ready|", EXACT, 0},
        {"shot s.png", "screenshot 's.png'|ready|"},
        {"save s.bmp", "saving 's.bmp'|ready|"},
        {"record r.wav", "recording to 'r.wav'|ready|"},
        {"record off", "ready|"},
        {"record", "? syntax error|"},
        {"shot /no/such/dir/s.png",
         "screenshot '/no/such/dir/s.png'|error: '/no/such/dir/s.png': its folder '/no/such/dir' "
         "does not e|xist|"},
        {"state save s.state", "saving state 's.state'|ready|"},
        {"state load s.state", "restoring state 's.state'|ready|"},
        {"state load n", "restoring state 'n'|state 'n' refused: No such file or "
                         "directory|error|"},
        {"state s.state", "? syntax error|"},
        {"rewind 0", "? syntax error|"},
        {"rewind 3", "error: nothing kept to go back to|"}};
    for (const auto &r : rows) {
        EXPECT_EQ(r.reply, run(r.line)) << r.line;
        uint8_t byte = r.at >= 0 && r.at < TAPE ? ram_getptr()[r.at] : audio->paused & 1;
        if (r.at == TAPE) via_6522_tapein_byte(&byte);
        if (r.at == EXACT) {
            poke(0x1000, {0xBD, 0xFF, 0x10}); // LDA $10FF,X with X = 1
            cpu_6502.pcreg = 0x1000, cpu_6502.xreg = 1;
            int cycles = 0;
            sys_systemloop(&cycles);
            byte = static_cast<uint8_t>(cycles - 4);
        }
        EXPECT_TRUE(r.at < 0 || byte == r.value) << r.line << ": " << int{byte};
    }
    run("wc");
    EXPECT_EQ("0500  A9 42     lda #$42    |ready|", run("d 0500 1"));
    const std::vector<uint8_t> saved = read_file("l.bin");
    EXPECT_EQ(std::pair(0x100ul, 0xA5), std::pair(saved.size(), int{saved.at(0)}));
    // The screen as PNG and as a 24-bit BMP of 240 x 224; an empty recording is a WAV header.
    EXPECT_EQ(0, read_text("s.png").compare(1, 3, "PNG"));
    EXPECT_EQ(54u + 240 * 224 * 3, read_file("s.bmp").size());
    EXPECT_EQ(0, read_text("r.wav").compare(8, 4, "WAVE"));
    // Help clears the view, then lists 25 lines, 6 more, 5 on states and rewind, the
    // monitor's 22, 2 on timing (or 32 keys) and ready.
    run("? mnt1");
    EXPECT_EQ(0u, view(62).find("|=== HELP/COMMANDS ==="));
    EXPECT_EQ(0u, view(25).find("=== MONITOR ==="));
    run("?KEYS");
    EXPECT_EQ(0u, view(36).find("|=== HELP/KEYS ==="));
}

// Names the assembler and the disassembler make up replace only what they
// made themselves and nobody changed since; a name the user gives is theirs.
TEST_F(SysSdlConsoleCommands, AsmAndDasmNeverReplaceTheUsersFiles) {
    const std::string source = "        .org $0600\n        lda #$42\n        rts\n";
    write_text("hello.asm", source);
    EXPECT_EQ("assembling 'hello.asm'|3 bytes from $0600 to 'hello.bin'|ready|",
              run("asm hello.asm"));
    EXPECT_EQ("assembling 'hello.asm'|3 bytes from $0600 to 'hello.bin'|ready|",
              run("asm hello.asm"));
    EXPECT_EQ("disassembling 'hello.bin'|error: 'hello.asm' exists and is not what kestrel wrote "
              "there: na|me another output|",
              run("dasm hello.bin 0600"));
    EXPECT_EQ(source, read_text("hello.asm"));
    write_text("notes.asm", "; my notes\n");
    EXPECT_EQ("disassembling 'notes.asm'|error: 'notes.asm' is the file being read: name another "
              "output|",
              run("dasm notes.asm"));
    EXPECT_EQ("; my notes\n", read_text("notes.asm"));
    // A binary the user had stays, also when its disassembly is assembled.
    write_file("game.bin", {0xEA, 0x60});
    write_text("game.asm", "        .org $0600\n        rts\n");
    EXPECT_NE(std::string::npos, run("asm game.asm").find("'game.bin' exists and is not what"));
    EXPECT_EQ((std::vector<uint8_t>{0xEA, 0x60}), read_file("game.bin"));
    EXPECT_EQ("disassembling 'game.bin'|2 bytes from $0600 to 'copy.asm'|ready|",
              run("dasm game.bin 0600 copy.asm"));
    EXPECT_EQ("disassembling 'game.bin'|2 bytes from $0600 to 'copy.asm'|ready|",
              run("dasm game.bin A0600 copy.asm"));
    EXPECT_EQ("assembling 'copy.asm'|2 bytes from $0600 to 'out.bin'|ready|",
              run("asm copy.asm out.bin"));
    EXPECT_EQ(read_file("game.bin"), read_file("out.bin"));
    EXPECT_EQ(
        "disassembling $0600-$0601 to 'kestrel.asm'|2 bytes from $0600 to 'kestrel.asm'|ready|",
        run("dasm A0600 L2"));
    write_text("kestrel.asm", "; edited\n"); // by the user, after
    EXPECT_NE(std::string::npos, run("dasm A0600 L2").find("'kestrel.asm' exists and is not what"));
    EXPECT_EQ("; edited\n", read_text("kestrel.asm"));
}

// Every command that writes a file, against a read-only file, a pipe and a
// full disk: the reply says why and the old file stays.
TEST_F(SysSdlConsoleCommands, WritesThatCannotBeDoneSayWhyAndKeepTheOldFile) {
    std::string source = "        .org $0600\n";
    for (int i = 0; i < 40; i++)
        source += "        .byte 1,2,3,4,5,6,7,8\n";
    write_text("src.s", source);
    const std::pair<const char *, const char *> commands[] = {
        {"save %s A0000 L2000", "o.bin"},
        {"dump", "kestrel_ram.bin"},
        {"shot %s", "o.png"},
        {"state save %s", "o.state"},
        {"asm src.s %s", "o.bin"},
        {"dasm A0000 L0400 %s", "o.asm"},
        {"record %s", "o.wav"},
    };
    for (const auto &[format, file] : commands) {
        char line[64];
        snprintf(line, sizeof line, format, file);
        write_text(file, "old");
        chmod(file, 0444);
        EXPECT_NE(std::string::npos, run(line).find("is read-only (mode 0444)")) << line;
        std::filesystem::remove(file);
        mkfifo(file, 0644);
        EXPECT_NE(std::string::npos, run(line).find("is not a regular file")) << line;
        std::filesystem::remove(file);
        write_text(file, "old");
        pid_t pid = fork(); // a file system with room for 200 bytes of each file
        if (pid == 0) {
            signal(SIGXFSZ, SIG_IGN);
            rlimit limit = {200, 200};
            setrlimit(RLIMIT_FSIZE, &limit);
            std::string said = run(line);
            if (strncmp(line, "record", 6) == 0) { // the recording fills up as it runs
                std::vector<uint8_t> noise(65536, 0x5A);
                sys_record_samples(noise.data(), 16384);
                said = run("record off");
            }
            std::erase(said, '|'); // lines wrapped at the console's width
            _exit(said.find("error: ") != std::string::npos &&
                          said.find("File too large") != std::string::npos
                      ? 0
                      : 1);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_EQ(0, status) << line;
        const bool grows = strncmp(line, "record", 6) == 0; // replaced by an empty one first
        EXPECT_EQ(grows ? "" : "old", grows ? "" : read_text(file)) << line;
        std::filesystem::remove(file);
    }
    for (const auto &f : std::filesystem::directory_iterator("."))
        EXPECT_EQ(std::string::npos, f.path().string().find(".tmp")) << f.path();
}

// Tab completes the command word when one command begins so, types what
// several share and lists them.
TEST_F(SysSdlConsoleCommands, TypedLinesRunOnReturnAndTabCompletesTheCommand) {
    SDLCON_Show();
    type_keys("asm");
    EXPECT_EQ("Z5>asm|? syntax error|", view(2));
    auto tab = [] {
        SDL_Event ev = key_event(SDL_KEYDOWN, SDLK_TAB);
        EXPECT_EQ(0, SDLCON_ProcessEvent(ev));
        return std::string(SDLCON_Console()->Command);
    };
    type_keys("s", false);
    EXPECT_EQ("s", tab());
    EXPECT_EQ("|save|soundon|soundoff|shot|state|s|", view(7));
    type_keys("o", false);
    EXPECT_EQ("soundo", tab());
    EXPECT_EQ("|soundon|soundoff|", view(3));
    type_keys("f", false);
    EXPECT_EQ("soundoff ", tab());
    type_keys("");
    EXPECT_EQ("Z5>soundoff |ready|", view(2));
    type_keys("ut", false);
    EXPECT_EQ("utape ", tab());
    type_keys("");
    EXPECT_EQ("Z5>utape |ready|", view(2));
}

// PgUp and PgDn move a page less a line; a command's output comes into view.
// Help and the monitor's lines fit the narrowest console, 59 columns.
TEST_F(SysSdlConsoleCommands, PagesScrollAndEveryLineFitsTheNarrowestConsole) {
    SDLCON_Show();
    run("?");
    video->overlay();
    const ConsoleInformation *c = SDLCON_Console();
    const int page = c->ConsoleSurface->h / c->FontHeight - 2; // less the command line
    const int oldest = c->TotalConsoleLines - page - 1;        // the first line at the top
    ASSERT_TRUE(oldest > page && oldest < 2 * page) << oldest;
    for (auto [key, back] : {std::pair{SDLK_PAGEUP, page},
                             {SDLK_PAGEUP, oldest},
                             {SDLK_PAGEDOWN, oldest - page},
                             {SDLK_PAGEDOWN, 0},
                             {SDLK_PAGEDOWN, 0}}) {
        SDL_Event ev = key_event(SDL_KEYDOWN, key);
        EXPECT_EQ(0, SDLCON_ProcessEvent(ev));
        EXPECT_EQ(back, SDLCON_Console()->ConsoleScrollBack) << key;
    }
    SDL_Event up = key_event(SDL_KEYDOWN, SDLK_PAGEUP);
    SDLCON_ProcessEvent(up);
    type_keys("s 2");
    EXPECT_EQ(0, SDLCON_Console()->ConsoleScrollBack);
    run("?keys");
    run("m 0 L10");
    run("d 0 2");
    run("r");
    for (const std::string &line : console_lines(150))
        EXPECT_LE(line.size(), 59u) << line;
}

// Long listings come a page at a time, with the command that goes on; with the console open,
// lines are added without redrawing it each time (about 10 ms a line), and the next frame
// draws them.
TEST_F(SysSdlConsoleCommands, LongListingsArePagedAndHoldTheMachineBriefly) {
    SDLCON_Show();
    video->overlay();
    auto surface = [] {
        SDL_Surface *c = SDLCON_Console()->ConsoleSurface;
        const auto *p = static_cast<const uint8_t *>(c->pixels);
        return std::vector<uint8_t>(p, p + c->pitch * c->h);
    };
    const std::vector<uint8_t> before = surface();
    // Line, its first and last lines but one: 256 lines and "more".
    const std::tuple<const char *, const char *, std::string> rows[] = {
        {"d 0 300000", "0000  00 ", "more: d A0100 299744|"}, // BRKs of a byte each
        {"d 0500 99999999999999999999", "0500  00 ", "more: d A0600 9223372036854775551|"},
        {"m A0000 LFFFF", "0000  00 ", "more: m A0800 LF7FF|"},
    };
    for (const auto &[line, first, more] : rows) {
        auto t0 = std::chrono::steady_clock::now();
        run(line);
        double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        EXPECT_LT(took, 0.1) << line;
        EXPECT_EQ(0u, view(258).find(first)) << line;
        EXPECT_EQ(more + "ready|", view(2)) << line;
    }
    run("m A0000 L0800"); // a page exactly: no "more"
    EXPECT_EQ("|ready|", view(2).substr(view(2).find('|')));
    EXPECT_TRUE(before == surface()) << "not drawn line by line";
    video->overlay();
    EXPECT_FALSE(before == surface()) << "drawn at the frame";
}

} // namespace
