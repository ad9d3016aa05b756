// Labels: our ROM's from its own build, the original table for other images,
// and the user's files, shown by the trace, the disassembler and the monitor.
#include "labels.h"

#include <map>
#include <set>

#include "cpu_6502_debug.h"
#include "dasm_6502.h"
#include "fixture.h"
#include "sys_data.h"
#include "sys_debug.h"
#include "sys_file.h"

namespace {

int keep_line(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    keep_log_line(fmt, ap);
    va_end(ap);
    return 0;
}

class Labels : public Machine {
  protected:
    TempDir dir;
    void SetUp() override {
        Machine::SetUp();
        logged.clear();
        sys_file_set_logger(keep_line);
    }
    void TearDown() override {
        labels_clear();
        sys_file_set_logger(nullptr);
        sys_debug_set_printer(nullptr);
        sys_data_override("z5.rom", nullptr);
        Machine::TearDown();
        board_init(); // back to the image the other tests see
    }
    // The machine started on `rom`, as the program starts it.
    void boot(const char *rom) {
        sys_data_override("z5.rom", rom);
        ASSERT_EQ(0, board_init());
    }
    static std::string at(uint16_t addr) {
        const char *name = cpu_6502_debug_label(addr);
        return name ? name : "";
    }
};

// Checked against the linker's own label file from the ROM's build: every
// global label names its address, none of the original table's entry
// points is left, and the I/O registers keep their names. Another image, and
// the same image changed by one byte, get the original table back.
TEST_F(Labels, OurRomIsNamedByTheLabelsOfItsOwnBuild) {
    boot(KESTREL_RUN_DIR "/z5.rom");
    std::ifstream lbl(KESTREL_BUILD_DIR "/rom/z5.lbl");
    std::string al, addr, name;
    int global = 0, matched = 0;
    std::map<unsigned, std::set<std::string>> names;
    while (lbl >> al >> addr >> name)
        if (name.size() > 1 && name[1] != '@')
            names[std::stoul(addr, nullptr, 16)].insert(name.substr(1));
    for (const auto &[a, set] : names) {
        global++;
        matched += set.count(at(static_cast<uint16_t>(a)));
    }
    EXPECT_GT(global, 300);
    EXPECT_EQ(global, matched);
    EXPECT_EQ("VIA_IFR", at(0x030D));
    EXPECT_EQ("", at(0xF88F)); // the original ROM's reset
    std::vector<uint8_t> other = read_file(KESTREL_RUN_DIR "/z5.rom");
    other[0x100] ^= 1;
    write_file("other.rom", other);
    boot("other.rom");
    EXPECT_EQ("Reset", at(0xF88F));
    EXPECT_EQ("", at(0xC033));
}

// A file in each form joins the labels over the ROM's; a bad line refuses the
// whole file with one line naming it and the line; no file argument drops them.
TEST_F(Labels, UserFilesInEachFormAndBadOnesRefusedWhole) {
    write_text("u.lbl", "; comment\nal 000500 .start\n\n  loop = $0503\n0510 msg_text\n"
                        "F88F my_reset ; over the ROM's\n");
    ASSERT_EQ(0, labels_load("u.lbl", 1));
    EXPECT_EQ("start loop msg_text my_reset",
              at(0x0500) + " " + at(0x0503) + " " + at(0x0510) + " " + at(0xF88F));
    for (const char *bad : {"0500 ok\nal 010000 .big\n", "0500 ok\n12345 five\n",
                            "0500 ok\nname = 1234\n", "0500 ok\n0600 two words\n"}) {
        logged.clear();
        write_text("bad.lbl", bad);
        EXPECT_EQ(1, labels_load("bad.lbl", 1)) << bad;
        EXPECT_STREQ("line 2 is not a label", sys_file_why()) << bad;
        EXPECT_EQ("labels: 'bad.lbl' line 2 is not a label (al 00C000 .name, name = $C000 or "
                  "C000 name)|",
                  joined_log())
            << bad;
        EXPECT_EQ("start", at(0x0500)) << "a refused file changes nothing";
    }
    EXPECT_EQ(1, labels_load("missing.lbl", 1));
    EXPECT_STREQ("no such file", sys_file_why());
    labels_clear();
    EXPECT_EQ("", at(0x0500));
    EXPECT_EQ("Reset", at(0xF88F));
}

// The same labels in the trace line, the disassembler's source (as comments,
// so it still assembles to the same bytes) and the monitor's listing.
TEST_F(Labels, ShownInTraceSourceAndMonitor) {
    write_text("u.lbl", "0600 entry\n0610 helper\n");
    ASSERT_EQ(0, labels_load("u.lbl", 1));
    code(0x0600, {0x20, 0x10, 0x06, 0x60}); // jsr helper; rts
    log_verbosity(1);
    log_info_hook(keep_log_line);
    logged.clear();
    tr[0] = TR_MASTER | TR_CPU;
    cpu_6502_run();
    tr[0] = 0;
    EXPECT_NE(std::string::npos, joined_log().find("\n @ | entry|")) << joined_log();
    EXPECT_NE(std::string::npos, joined_log().find("JSR $0610 ; helper [ 1 ]")) << joined_log();
    std::string source;
    const uint8_t bytes[] = {0x20, 0x10, 0x06, 0x60};
    dasm_6502_source(0x0600, bytes, sizeof bytes, &source);
    EXPECT_NE(std::string::npos, source.find("; entry:\n        jsr $0610               ; 0600  "
                                             "20 10 06  (helper)\n"))
        << source;
    logged.clear();
    sys_debug_set_printer(keep_line);
    sys_debug_disassemble(0x0600, 2);
    EXPECT_EQ("0600  20 10 06  jsr $0610    entry: (helper)|"
              "0603  60        rts         |",
              joined_log());
}

} // namespace
