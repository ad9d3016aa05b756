// The whole machine on the ROMs built from rom/ and the demo media, as the
// host runs it: frames of 224 scan lines, host key events, the text screen
// read back from RAM. Shared by the ROM's tests and the BASIC's.
#pragma once
#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "ay_8912.h"
#include "fdc.h"
#include "fixture.h"
#include "rom.h"
#include "sys_cfg.h"
#include "sys_core.h"
#include "sys_file.h"
#include "vdc.h"

constexpr uint32_t RED = 0x0000FF, BLUE = 0xFF0000, YELLOW = 0x00FFFF;

// The character keys, each over the character it gives with shift.
const char PLAIN[] = "1234567890-=\\`qwertyuiop[]asdfghjkl;'zxcvbnm,./ ";
const char SHIFTED[] = "!@#$%^&*()_+|~QWERTYUIOP{}ASDFGHJKL:\"ZXCVBNM<>? ";

const std::string run_dir = KESTREL_RUN_DIR;

class RomMachine : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char *name : {"z5.rom", "z5dos.rom", "demo.dsk"})
            std::filesystem::copy_file(run_dir + "/" + name, name);
        start_machine();
        ram = ram_getptr();
    }
    void TearDown() override {
        fdc_umount(0);
        sys_file_mount_tap(nullptr);
    }
    // 224 lines, each after its share of cycles, then the frame's sound as the
    // audio device asks for it; loud when it swings.
    void frame() {
        int budget = speed * 1000 * refresh / 224;
        for (int line = 0; line < 224; line++) {
            for (int used = 0, c = 0; used < budget; used += c)
                sys_systemloop(&c);
            video->render();
        }
        std::vector<int16_t> buf(static_cast<size_t>(budget) * 224 / AY_CYCLES_PER_FRAME * 2);
        ay_8912_callback(nullptr, reinterpret_cast<uint8_t *>(buf.data()), buf.size() * 2);
        auto [lo, hi] = std::minmax_element(buf.begin(), buf.end());
        loud = *hi - *lo > 1000;
    }
    void frames(int n) {
        while (n-- > 0)
            frame();
    }
    bool run_until(const std::function<bool()> &done, int max_frames = 150) {
        for (; max_frames > 0 && !done(); max_frames--)
            frame();
        return done();
    }
    std::string row(int r) const {
        std::string s;
        for (int c = 0; c < 40; c++)
            s += static_cast<char>(std::max(ram[0xBB80 + r * 40 + c] & 0x7F, 0x20));
        return s;
    }
    std::string screen() const {
        std::string s;
        for (int r = 0; r < 28; r++)
            s += row(r) + "\n";
        return s;
    }
    int row_of(const std::string &text) const { // the lowest row showing it
        size_t at = screen().rfind(text);
        return at == std::string::npos ? -1 : static_cast<int>(at / 41);
    }
    bool wait_for(const std::string &text, int max = 150) {
        return run_until([&] { return row_of(text) >= 0; }, max);
    }
    // The prompt waits on a fresh line: the last row with text is ">".
    bool at_prompt() const {
        size_t last = screen().find_last_not_of(" \n");
        return last % 41 == 0 && screen()[last] == '>';
    }
    void boot() {
        ASSERT_TRUE(run_until([&] { return at_prompt(); }, 100)) << screen();
    }
    // A cell, with another (a shift, control or caps) held around it.
    void press(uint64_t cell, int mod = -1) {
        if (mod >= 0) push_event({EV_KEY_DOWN, static_cast<uint64_t>(mod)});
        push_event({EV_KEY_DOWN, cell});
        frames(2);
        push_event({EV_KEY_UP, cell});
        if (mod >= 0) push_event({EV_KEY_UP, static_cast<uint64_t>(mod)});
        frames(2);
    }
    void type(const std::string &text) { // lower case and digits; '\r' is Return
        for (char c : text)
            press(cell_of(c));
    }
    // Types a command line and waits until the prompt is back.
    void command(const std::string &line, int max_frames = 300) {
        type(line + "\r");
        ASSERT_TRUE(run_until([&] { return at_prompt(); }, max_frames)) << screen();
    }
    uint32_t pixel(int x, int y) const { return video->pixels[y * VDC_WIDTH + x]; }
    // BASIC's keys go straight into the ROM's key buffer (head 0x0B, tail
    // 0x0C, 16 codes at 0x0240): the matrix is proven above, and this is fast.
    void keys(const std::string &text) {
        for (char c : text) {
            while (((ram[0x0C] + 1) & 15) == ram[0x0B])
                frame();
            ram[0x0240 + ram[0x0C]] = c == '\n' ? 13 : static_cast<uint8_t>(c);
            ram[0x0C] = (ram[0x0C] + 1) & 15;
        }
    }
    // Every key taken, READY the last row and the ROM waiting for a key (its
    // cursor on: a scroll is over): the rows from 1 up to it.
    std::string basic(const std::string &text, int max_frames = 3000) {
        keys(text);
        std::string out;
        bool ok = run_until(
            [&] {
                std::string s = screen();
                size_t last = s.find_last_not_of(" \n");
                size_t from = s.rfind('\n', last) + 1;
                out = s.substr(41, from - 41);
                return ram[0x0B] == ram[0x0C] && ram[0x09] &&
                       s.substr(from, last + 1 - from) == "READY";
            },
            max_frames);
        EXPECT_TRUE(ok) << screen();
        std::string trimmed;
        for (size_t at = 0; at < out.size(); at += 41)
            trimmed += out.substr(at, out.find_last_not_of(' ', at + 39) + 1 - at) + "\n";
        return trimmed;
    }
    std::vector<uint8_t> program() const { return ram_range(word(0x9A), word(0x9C) - word(0x9A)); }

    TempDir dir;
    uint8_t *ram = nullptr;
    bool loud = false;
};
