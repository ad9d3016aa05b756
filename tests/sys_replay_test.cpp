// Input recording, replay and rewind: the replayed machine is the recorded
// one at every frame, a rewound run given the same inputs again is the
// first one, and a recording that does not fit is refused whole.
#include "sys_replay.h"

#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "ay_8912.h"
#include "fdc.h"
#include "fixture.h"
#include "keyboard.h"
#include "sys_core.h"
#include "sys_file.h"
#include "sys_rewind.h"
#include "sys_state.h"

namespace {

const std::string run_dir = KESTREL_RUN_DIR;

// Per frame: the sound it made, the RAM and registers after it, and every
// tenth frame the whole machine (a state file's bytes).
struct print {
    uint64_t sound, ram, whole;
    bool operator==(const print &o) const {
        return sound == o.sound && ram == o.ram && whole == o.whole;
    }
};
std::ostream &operator<<(std::ostream &os, const print &p) {
    return os << p.sound << '/' << p.ram << '/' << p.whole;
}

// The demo disk booted by keys pressed at odd moments inside frames, a key
// held at the prompt, an NMI, and the speed changed twice: (frame, scan line).
std::map<std::pair<int, int>, event> script() {
    std::map<std::pair<int, int>, event> at;
    int f = 40;
    for (char c : std::string("boot\r")) {
        at[{f, 17 + f % 50}] = {EV_KEY_DOWN, cell_of(c)};
        at[{f + 3, 101}] = {EV_KEY_UP, cell_of(c)};
        f += 6;
    }
    at[{100, 5}] = {EV_KEY_DOWN, KEY_Q};
    at[{104, 150}] = {EV_SPEED_UP, 0};
    at[{108, 223}] = {EV_KEY_UP, KEY_Q};
    at[{110, 60}] = {EV_NMI_SET, 0};
    at[{110, 61}] = {EV_NMI_CLEAR, 0};
    at[{115, 0}] = {EV_SPEED_DOWN, 0};
    return at;
}

class Replay : public ::testing::Test {
  protected:
    TempDir dir;
    std::map<std::pair<int, int>, event> events = script();
    void SetUp() override {
        for (const char *name : {"z5.rom", "z5dos.rom", "demo.dsk", "demo.tap"})
            std::filesystem::copy_file(run_dir + "/" + name, name);
        sys_rewind_clear();
    }
    void TearDown() override {
        std::string why;
        sys_replay_finish(&why);
        fdc_flush();
        sys_file_mount_tap(nullptr);
        sys_exact_timing(0);
    }
    void boot(int exact) {
        fdc_flush();
        start_machine();
        sys_exact_timing(exact);
        ASSERT_EQ(0, fdc_mount("demo.dsk", 0, 0));
    }
    // A frame as the host runs it; `live` pushes the script's keys, a replay
    // brings its own.
    print frame(int f, bool live) {
        machine_guard hold;
        sys_frame_begin();
        sys_replay_frame(0);
        sys_rewind_frame();
        int budget = speed * 1000 * refresh / 224;
        for (int line = 0; line < 224; line++) {
            auto ev = events.find({f, line});
            if (live && ev != events.end()) push_event(ev->second);
            for (int used = 0, c = 0; used < budget; used += c)
                sys_systemloop(&c);
            video->render();
        }
        std::vector<uint8_t> samples(20000 / AY_CYCLES_PER_FRAME * 4), whole;
        ay_8912_callback(nullptr, samples.data(), static_cast<int>(samples.size()));
        if (f % 10 == 0) {
            EXPECT_EQ(0, sys_state_write(whole));
        }
        return {state_hash(samples.data(), samples.size()), state_hash(ram_getptr(), 65536),
                state_hash(whole.data(), whole.size()) ^ cpu_6502.pcreg};
    }
};

TEST_F(Replay, ReplayIsTheRecordedMachineAtEveryFrameFromPowerOnOrAState) {
    constexpr int FRAMES = 125;
    for (int exact : {0, 1}) {
        for (int from : {0, 70}) {
            boot(exact);
            std::vector<print> recorded;
            std::string why;
            for (int f = 0; f < FRAMES; f++) {
                if (f == from) {
                    ASSERT_EQ(0, sys_replay_record("r.rec", &why)) << why;
                }
                recorded.push_back(frame(f, true));
                if (f == 80) { // a change between frames, as a console command makes one
                    machine_guard hold;
                    poke(0x9000, {0xA5, 0x3C});
                }
            }
            ASSERT_EQ(0, sys_replay_finish(&why)) << why;
            std::vector<uint8_t> text = ram_range(0xBB80, 28 * 40);
            EXPECT_NE(std::string::npos,
                      std::string(text.begin(), text.end()).find("DISK DEMO DONE"));

            boot(!exact); // the recording's start must undo the other timing
            ASSERT_EQ(0, sys_replay_open("r.rec", &why)) << why;
            EXPECT_EQ(FRAMES - from, sys_replay_length());
            for (int f = from; f < FRAMES; f++)
                ASSERT_EQ(recorded[f], frame(f, false))
                    << "exact " << exact << ", from " << from << ", frame " << f;
            EXPECT_EQ(1, sys_replay_left()); // the last frame's own
            frame(FRAMES, false);
            EXPECT_EQ(0, sys_replay_left());
        }
    }
}

// Back one second and the same inputs again: every frame as the first time,
// and the recording made meanwhile replays the run that was kept.
TEST_F(Replay, RewoundRunGivenTheSameInputsIsTheFirstRunAndItsRecordingDropsTheRest) {
    for (int exact : {0, 1}) {
        boot(exact);
        sys_rewind_clear();
        std::string why;
        ASSERT_EQ(0, sys_replay_record("r.rec", &why)) << why;
        std::vector<print> first;
        for (int f = 0; f < 111; f++)
            first.push_back(frame(f, true));
        events[{111, 3}] = {EV_KEY_DOWN, KEY_Z}; // dropped by the rewind
        frame(111, true);
        double back = 0;
        {
            machine_guard hold;
            ASSERT_EQ(0, sys_rewind(1, &back));
        }
        EXPECT_DOUBLE_EQ(1.24, back); // to the second kept at frame 50
        EXPECT_EQ(1, sys_rewind_count());
        events.erase({111, 3});
        for (int f = 50; f < 111; f++)
            ASSERT_EQ(first[f], frame(f, true)) << "exact " << exact << ", frame " << f;
        frame(111, true);
        ASSERT_EQ(0, sys_replay_finish(&why)) << why;
        std::vector<uint8_t> end;
        ASSERT_EQ(0, sys_state_write(end));

        boot(exact);
        ASSERT_EQ(0, sys_replay_open("r.rec", &why)) << why;
        EXPECT_EQ(112, sys_replay_length());
        for (int f = 0; f < 112; f++)
            frame(f, false);
        std::vector<uint8_t> replayed;
        ASSERT_EQ(0, sys_state_write(replayed));
        EXPECT_EQ(end, replayed) << "exact " << exact;
    }
}

// Each refused with a line naming what differs; the machine runs on as it was.
TEST_F(Replay, RecordingsThatDoNotFitAreRefusedWithTheReasonAndChangeNothing) {
    boot(0);
    ASSERT_EQ(0, sys_file_mount_tap("demo.tap"));
    std::string why;
    ASSERT_EQ(0, sys_replay_record("r.rec", &why));
    for (int f = 0; f < 3; f++)
        frame(f, true);
    ASSERT_EQ(0, sys_replay_finish(&why));
    std::vector<uint8_t> good = read_file("r.rec"), before, after;
    ASSERT_EQ(0, sys_state_write(before));

    auto refused = [&](const std::vector<uint8_t> &file) {
        write_file("x.rec", file);
        why.clear();
        EXPECT_EQ(1, sys_replay_open("x.rec", &why));
        EXPECT_EQ(0, sys_replay_left());
        EXPECT_EQ(0, sys_state_write(after));
        EXPECT_EQ(before, after) << why;
        return why;
    };
    std::vector<uint8_t> cut(good.begin(), good.end() - 9), version = good;
    version[8] = 2;
    EXPECT_EQ("truncated or damaged (zlib -3)", refused(cut));
    EXPECT_EQ("format version 2, this kestrel reads version 1", refused(version));
    EXPECT_EQ("not a kestrel input recording", refused({'K', 'E', 'S'}));

    std::vector<uint8_t> rom = read_file("z5.rom");
    rom[0x100] ^= 1;
    write_file("z5.rom", rom);
    EXPECT_EQ("the system ROM differs from the recording's", refused(good));
    rom[0x100] ^= 1;
    write_file("z5.rom", rom);

    fdc_flush();
    ASSERT_EQ(0, sys_state_write(before));
    std::vector<uint8_t> disk = read_file("demo.dsk");
    disk[5000] ^= 0x80;
    write_file("demo.dsk", disk);
    EXPECT_EQ("drive 1: disk image 'demo.dsk' differs from the recording's", refused(good));
    std::filesystem::remove("demo.dsk");
    EXPECT_EQ("drive 1: disk image 'demo.dsk' is missing", refused(good));
    disk[5000] ^= 0x80;
    write_file("demo.dsk", disk);
    write_file("demo.tap", {0x16, 0x16, 0x16, 0x24});
    EXPECT_EQ("tape 'demo.tap' differs from the recording's", refused(good));
}

} // namespace
