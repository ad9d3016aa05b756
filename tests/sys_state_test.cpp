// Saved states: the same future after a restore, refusals that leave the
// machine alone, and the drives' image files kept safe.
#include "sys_state.h"

#include <sys/stat.h>
#include <utime.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ay_8912.h"
#include "fdc.h"
#include "fixture.h"
#include "sys_cfg.h"
#include "sys_core.h"
#include "sys_file.h"
#include "vdc.h"
#include "via_6522_tapein.h"

namespace {

const std::string run_dir = KESTREL_RUN_DIR;

std::vector<std::string> said; // the lines reported, as the console gets them

int keep_line(const char *fmt, ...) {
    char line[512];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    said.emplace_back(line);
    return 0;
}

[[maybe_unused]] uint64_t hash_of(const std::vector<uint8_t> &bytes) {
    return state_hash(bytes.data(), bytes.size());
}

// The whole machine as a state file holds it.
[[maybe_unused]] std::vector<uint8_t> machine_bytes() {
    std::vector<uint8_t> file;
    EXPECT_EQ(0, sys_state_write(file));
    return file;
}

// A state file's body, and a file made around a body, as the format lays
// them out: magic, version, body length, zlib stream.
std::vector<uint8_t> unpack(const std::vector<uint8_t> &file) {
    uint32_t size = 0;
    memcpy(&size, file.data() + 12, 4);
    std::vector<uint8_t> body(size);
    uLongf n = size;
    EXPECT_EQ(Z_OK, uncompress(body.data(), &n, file.data() + 16, file.size() - 16));
    return body;
}

std::vector<uint8_t> pack(const std::vector<uint8_t> &body, uint32_t version = STATE_VERSION) {
    uLongf n = compressBound(body.size());
    std::vector<uint8_t> file(16 + n);
    uint32_t words[2] = {version, static_cast<uint32_t>(body.size())};
    memcpy(file.data(), "KESTREL\x1A", 8);
    memcpy(file.data() + 8, words, 8);
    EXPECT_EQ(Z_OK, compress(file.data() + 16, &n, body.data(), body.size()));
    file.resize(16 + n);
    return file;
}

// Where a section's length field lies in a body; its data follows the CRC.
size_t section_at(const std::vector<uint8_t> &body, const std::string &name) {
    for (size_t at = 0; at < body.size();) {
        std::string here(body.begin() + at + 1, body.begin() + at + 1 + body[at]);
        at += 1 + body[at];
        if (here == name) return at;
        uint32_t size = 0;
        memcpy(&size, &body[at], 4);
        at += 8 + size;
    }
    ADD_FAILURE() << name;
    return 0;
}

uint32_t section_size(const std::vector<uint8_t> &body, size_t at) {
    uint32_t size = 0;
    memcpy(&size, &body[at], 4);
    return size;
}

// After a change in a section's data, its length and CRC made right again.
void seal(std::vector<uint8_t> &body, size_t at) {
    uint32_t size = section_size(body, at);
    uint32_t crc = static_cast<uint32_t>(crc32(0, body.data() + at + 8, size));
    memcpy(&body[at + 4], &crc, 4);
}

// Format 3's sound filter, the last bytes of the sound section: the phase of the
// chip's tick, the nine ticks waiting for the speaker, the 192 under the kernel, and the
// coupling's input and output.
constexpr uint32_t AY_FILTER = 4 * (1 + 9 + 192 + 2);

// The system ROM and the demo media in a private folder, the machine as the
// program starts it, frames as the host runs them (without SDL).
class StateMachine : public ::testing::Test {
  protected:
    TempDir dir;
    void SetUp() override {
        for (const char *name : {"z5.rom", "z5dos.rom", "demo.dsk", "demo.tap"})
            std::filesystem::copy_file(run_dir + "/" + name, name);
        start_machine();
        sys_file_set_logger(keep_line);
        said.clear();
    }
    void TearDown() override {
        fdc_flush();
        sys_file_mount_tap(nullptr);
        sys_file_set_logger(nullptr);
    }
    // 224 lines of 89 cycles, then the audio device's buffer for them: the
    // samples it was given.
    std::vector<uint8_t> frame(const std::vector<event> &events = {}) {
        for (const event &ev : events)
            push_event(ev);
        emulate();
        return sound();
    }
    void emulate() {
        int budget = speed * 1000 * refresh / 224;
        for (int line = 0; line < 224; line++) {
            for (int used = 0, c = 0; used < budget; used += c)
                sys_systemloop(&c);
            video->render();
        }
    }
    // Makes drive 1's tracks differ from its image (a gap byte written).
    void write_gap_byte() {
        uint8_t byte = 0;
        fdc_read(0x0319, &byte); // motor on
        fdc_read(0x031F, &byte); // write latch
        fdc_read(0x031C, &byte);
        fdc_write(0x031D, 0xFF);
        fdc_read(0x031E, &byte);
    }
    std::vector<uint8_t> sound() {
        std::vector<uint8_t> samples(20000 / AY_CYCLES_PER_FRAME * 4);
        ay_8912_callback(nullptr, samples.data(), static_cast<int>(samples.size()));
        return samples;
    }
};

// The demo disk booted by typed keys (each held three frames), a key held
// at the prompt; the ROM's 100 Hz tick scans the keys and clicks on each.
std::map<int, std::vector<event>> script() {
    std::map<int, std::vector<event>> at;
    int f = 40;
    for (char c : std::string("boot\r")) {
        at[f].push_back({EV_KEY_DOWN, cell_of(c)});
        at[f + 3].push_back({EV_KEY_UP, cell_of(c)});
        f += 6;
    }
    at[100].push_back({EV_KEY_DOWN, KEY_Q});
    at[108].push_back({EV_KEY_UP, KEY_Q});
    return at;
}

// Saved between a frame's steps and its sound, so the queued register
// writes are in the state: during start-up, with a key held, in the middle
// of the disk read, after it. In each timing; the machine is switched to the
// other one before each restore, which the state must undo.
TEST_F(StateMachine, RestoredMachineRunsTheSameFutureFromManyMoments) {
    const int N = sanitized ? 10 : 20;
    const int moments[] = {3, 37, 41, 55, 66, 68, 70, 73, 76, 79, 104, 112};
    auto events = script();
    // Each frame's samples and whole machine afterwards.
    auto fingerprint = [](const std::vector<uint8_t> &samples) {
        return std::pair{hash_of(samples), hash_of(machine_bytes())};
    };
    for (int exact : {0, 1}) {
        fdc_flush();
        start_machine();
        fdc_init();
        sys_exact_timing(exact);
        ASSERT_EQ(0, fdc_mount("demo.dsk", 0, 0));
        std::map<int, std::vector<uint8_t>> saved;
        std::vector<std::pair<uint64_t, uint64_t>> reference;
        int in_disk_rom = 0;
        for (int f = 0; f <= 112 + N; f++) {
            for (const event &ev : events[f])
                push_event(ev);
            emulate();
            if (std::count(std::begin(moments), std::end(moments), f)) {
                saved[f] = machine_bytes();
                in_disk_rom += cpu_6502.pcreg >= 0x0320 && cpu_6502.pcreg < 0x0400;
            }
            reference.push_back(fingerprint(sound()));
        }
        EXPECT_GE(in_disk_rom, 3) << exact; // the boot ROM was reading sectors then
        std::vector<uint8_t> text = ram_range(0xBB80, 28 * 40);
        EXPECT_NE(std::string::npos, std::string(text.begin(), text.end()).find("DISK DEMO DONE"));
        int restored = 0;
        for (const auto &[t, state] : saved) {
            if (sanitized && restored++ % 3) continue; // every third moment there
            sys_exact_timing(!exact);
            ASSERT_EQ(0, sys_state_read(state.data(), state.size())) << t;
            EXPECT_EQ(reference[t], fingerprint(sound())) << "frame " << t;
            for (int f = t + 1; f <= t + N; f++)
                ASSERT_EQ(reference[f], fingerprint(frame(events[f])))
                    << "exact " << exact << ", saved " << t << ", frame " << f;
        }
    }
    EXPECT_EQ(std::vector<std::string>{}, said);
}

using edit = std::function<void(std::vector<uint8_t> &body, std::vector<uint8_t> &file)>;

// Each broken state is refused with its reason, and the machine (which has
// moved on since the save) stays exactly as it was. The intact one restores
// the saved machine to the byte.
TEST_F(StateMachine, BrokenStatesAreRefusedWithTheirReasonAndChangeNothing) {
    ASSERT_EQ(0, fdc_mount("demo.dsk", 0, 0));
    ay_write(8, 0x0F); // one queued write, the last bytes of the sound section
    const std::vector<uint8_t> good = machine_bytes();
    const std::vector<uint8_t> body = unpack(good);
    for (int f = 0; f < 30; f++)
        frame();
    const std::vector<uint8_t> now = machine_bytes();
    ASSERT_NE(good, now);
    auto poke_section = [](const char *name, size_t offset, std::vector<uint8_t> bytes,
                           bool from_end = false) {
        return [=](std::vector<uint8_t> &b, std::vector<uint8_t> &) {
            size_t at = section_at(b, name);
            size_t data = at + 8 + (from_end ? section_size(b, at) - offset : offset);
            std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<long>(data));
            seal(b, at);
        };
    };
    const std::pair<edit, std::string> rows[] = {
        {[](auto &, auto &f) { f.resize(f.size() / 2); }, "truncated or damaged"},
        {[](auto &, auto &f) { f.resize(12); }, "too short for a state file"},
        {[](auto &, auto &f) { f[0] = 'k'; }, "not a kestrel state file"},
        {[](auto &b, auto &f) { f = pack(b, 4); },
         "format version 4, this kestrel reads versions 1 to 3"},
        {[](auto &b, auto &f) { f = pack(b, 0); }, "format version 0"},
        {[](auto &b, auto &) { b[section_at(b, "ram") + 8 + 0x1234] ^= 1; },
         "section 'ram' fails its CRC"},
        {[](auto &b, auto &) {
             size_t at = section_at(b, "mem");
             b.erase(b.begin() + static_cast<long>(at) + 8);
             b[at] = 1;
             seal(b, at);
         },
         "section 'mem' has 1 bytes"},
        {[](auto &b, auto &) { b[section_at(b, "vdc") - 1] = 'x'; }, "unknown section 'vdx'"},
        {poke_section("fdc", 10, {70, 0}), "drive 1 at track 35, past the last (34)"},
        {poke_section("ay", AY_FILTER + 6, {14}, true), "queued write to register 14"},
        {poke_section("ay", AY_FILTER + 4, {0xB9, 0x01}, true), "ay: a counter or flag"}, // 441
        {poke_section("ay", AY_FILTER, {8}, true), "ay: a counter or flag value"}, // tick phase
        {poke_section("ay", 4, {0, 0, 0xC0, 0x7F}, true), "ay: an output filter value"}, // NaN
        {poke_section("ay", 8, {0, 0, 0x80, 0x7F}, true), "ay: an output filter value"}, // inf
        {poke_section("vdc", 1, {32}, true), "vdc: blink count 32"},
        {poke_section("cpu", 6, {0x00, 0x02}), "stack at 0200"},
        {poke_section("via", 5, {9}, true), "via: a line, timer or flag value"},
        {poke_section("via", 2, {2}, true), "via: a line, timer or flag value"},
        {poke_section("core", 0, {8}), "speed 8"},
        {poke_section("core", 1, {2}), "core: timing 2"},
        {poke_section("mem", 0, {2}), "switches 2 0"},
        {poke_section("vdc", 0, {0xE0, 0}), "line 224"},
        {poke_section("tape", 0, {2}), "tape: position"},
    };
    for (const auto &[change, reason] : rows) {
        std::vector<uint8_t> b = body, file = good;
        change(b, file);
        if (b != body) file = pack(b);
        said.clear();
        EXPECT_EQ(1, sys_state_read(file.data(), file.size())) << reason;
        ASSERT_EQ(1u, said.size()) << reason;
        EXPECT_NE(std::string::npos, said[0].find(reason)) << said[0];
        EXPECT_EQ(0u, said[0].find("state refused: ")) << said[0];
        EXPECT_TRUE(now == machine_bytes()) << reason;
    }
    EXPECT_EQ(0, sys_state_read(good.data(), good.size()));
    EXPECT_EQ(good, machine_bytes());
}

// Version 1 lacked the timing byte, the VIA's pending loads and armed flags
// and the sound chip's fraction; version 2 the sound filter and the blink
// count: the last bytes of their sections. Such files load with those at
// zero (version 1 as the simplified timing), and the filter settled on the
// level then held: every tick it holds the same, the coupling's output 0.
TEST_F(StateMachine, OlderVersionsLoadWithTheNewFieldsAtTheirStart) {
    using cuts = std::vector<std::pair<const char *, uint32_t>>;
    for (auto [version, cut] :
         {std::pair{2u, cuts{{"ay", AY_FILTER}, {"vdc", 1}}},
          {1u, cuts{{"core", 1}, {"via", 4}, {"ay", AY_FILTER + 4}, {"vdc", 1}}}}) {
        start_machine();
        sys_exact_timing(1);
        for (int f = 0; f < 5; f++)
            frame(); // the system ROM's timer set, a sound fraction on its way
        audio->paused = 1; // applied at once: a level held, A on without tone or noise
        ay_write(7, 0x3F);
        ay_write(8, 9);
        audio->paused = 0;
        const std::vector<uint8_t> body = unpack(machine_bytes());
        std::vector<uint8_t> old = body, zeroed = body;
        for (auto [name, n] : cut) {
            size_t at = section_at(zeroed, name);
            auto end = zeroed.begin() + static_cast<long>(at + 8 + section_size(zeroed, at));
            EXPECT_NE(std::vector<uint8_t>(n, 0), std::vector<uint8_t>(end - n, end)) << name;
            std::fill(end - n, end, 0);
            seal(zeroed, at);
            at = section_at(old, name);
            uint32_t size = section_size(old, at) - n;
            auto from = old.begin() + static_cast<long>(at + 8 + size);
            old.erase(from, from + n);
            memcpy(&old[at], &size, 4);
            seal(old, at);
        }
        const std::vector<uint8_t> file = pack(old, version);
        ASSERT_EQ(0, sys_state_read(file.data(), file.size()));
        std::vector<uint8_t> loaded = unpack(machine_bytes());
        size_t at = section_at(loaded, "ay");
        auto filter =
            loaded.begin() + static_cast<long>(at + 8 + section_size(loaded, at) - AY_FILTER);
        std::vector<float> v((AY_FILTER - 4) / 4);
        memcpy(v.data(), &*filter + 4, AY_FILTER - 4);
        EXPECT_EQ(0u, filter[0] | filter[1] | filter[2] | filter[3]) << "tick phase";
        EXPECT_NE(0.0f, v[0]) << "a level is held";
        EXPECT_EQ(std::vector<float>(4, v[0]), std::vector<float>(v.begin(), v.begin() + 4));
        EXPECT_EQ(std::vector<float>(5, 0.0f), std::vector<float>(v.begin() + 4, v.begin() + 9));
        EXPECT_EQ(std::vector<float>(193, v[0]), std::vector<float>(v.begin() + 9, v.end() - 1));
        EXPECT_EQ(0.0f, v.back()) << "the coupling's output";
        std::fill(filter, filter + AY_FILTER, 0);
        seal(loaded, at);
        EXPECT_TRUE(zeroed == loaded) << version;
        EXPECT_EQ(std::vector<std::string>{}, said);
    }
}

// The image file a saved drive came from, between the save and the restore:
// written back unchanged, changed by someone else, removed, or still in the
// drive with changes of the running machine's own.
TEST_F(StateMachine, DrivesComeBackOnlyToTheirUnchangedImageAndRestoreWritesNone) {
    namespace fs = std::filesystem;
    const fs::file_time_type long_ago = fs::file_time_type::clock::now() - std::chrono::hours(99);
    struct row {
        std::function<void()> between;
        bool mounted;
        std::string line;
        bool written; // the image rewritten during the restore
    } rows[] = {
        {[] { fdc_flush(); }, true, "", false},
        {[] {
             fdc_flush();
             std::vector<uint8_t> image = read_file("demo.dsk");
             image[5000] ^= 0x5A;
             write_file("demo.dsk", image);
         },
         false, "drive 1: 'demo.dsk' is gone or changed since the state was saved", false},
        {[] {
             fdc_flush();
             fs::remove("demo.dsk");
         },
         false, "drive 1: 'demo.dsk' is gone or changed since the state was saved", false},
        {[this] { write_gap_byte(); }, true, "", true},
    };
    for (const row &r : rows) {
        fs::copy_file(run_dir + "/demo.dsk", "demo.dsk", fs::copy_options::overwrite_existing);
        ASSERT_EQ(0, fdc_mount("demo.dsk", 0, 0));
        write_gap_byte(); // unwritten changes, kept in the state
        const std::vector<uint8_t> state = machine_bytes();
        r.between();
        bool existed = fs::exists("demo.dsk");
        if (existed) fs::last_write_time("demo.dsk", long_ago);
        const std::vector<uint8_t> image = read_file("demo.dsk");
        said.clear();
        ASSERT_EQ(0, sys_state_read(state.data(), state.size())) << r.line;
        EXPECT_EQ(r.mounted, state == machine_bytes()) << r.line;
        EXPECT_EQ(r.line.empty() ? 0u : 1u, said.size()) << r.line;
        EXPECT_TRUE(r.line.empty() || said.at(0).find(r.line) != std::string::npos) << r.line;
        EXPECT_EQ(existed, fs::exists("demo.dsk")) << r.line;
        EXPECT_EQ(image, read_file("demo.dsk")) << r.line;
        EXPECT_EQ(r.written, existed && fs::last_write_time("demo.dsk") != long_ago) << r.line;
        // The state's own changes reach the image at the machine's write-back.
        uint8_t byte = 0;
        if (existed) fs::last_write_time("demo.dsk", long_ago);
        fdc_read(0x0318, &byte); // motor off
        EXPECT_EQ(r.mounted, existed && fs::last_write_time("demo.dsk") != long_ago) << r.line;
        EXPECT_EQ(image, read_file("demo.dsk")) << r.line;
        fdc_flush();
    }
}

// A state names its images itself: only those beside the state file, in the working folder or
// in a drive when the restore begins are taken, so a stranger's state with a changed drive
// cannot have the next write-back overwrite a file elsewhere whose contents are known.
TEST_F(StateMachine, DrivesBindOnlyToImagesBesideTheStateHereOrMounted) {
    namespace fs = std::filesystem;
    const fs::file_time_type long_ago = fs::file_time_type::clock::now() - std::chrono::hours(99);
    fs::create_directory("far");
    fs::create_directory("states");
    fs::copy_file(run_dir + "/demo.dsk", "far/demo.dsk");
    const std::string far = fs::absolute("far/demo.dsk").string();
    fs::create_symlink(far, "link.dsk");
    // Image the state names, the state's file ("": bytes in memory), mounted first, taken.
    const std::tuple<std::string, std::string, bool, bool> rows[] = {
        {far, "", false, false},
        {"link.dsk", "", false, false},
        {"../" + fs::current_path().filename().string() + "/far/demo.dsk", "", false, false},
        {far, "states/s.state", false, false},
        {far, "far/s.state", false, true},
        {far, "", true, true},
        {"demo.dsk", "states/s.state", false, true},
    };
    for (const auto &[image, file, mounted, taken] : rows) {
        ASSERT_EQ(0, fdc_mount(image.c_str(), 0, 0)) << image;
        write_gap_byte(); // a change not yet written back
        const std::vector<uint8_t> state = machine_bytes();
        fdc_flush();
        if (!file.empty()) write_file(file, state);
        EXPECT_EQ(0, mounted ? fdc_mount(image.c_str(), 1, 0) : 0);
        fs::last_write_time(image, long_ago);
        said.clear();
        ASSERT_EQ(0, file.empty() ? sys_state_read(state.data(), state.size())
                                  : sys_state_load(file.c_str()));
        EXPECT_EQ(taken, state == machine_bytes()) << image << " " << file;
        EXPECT_EQ(taken ? 0u : 1u, said.size()) << image << " " << file;
        EXPECT_TRUE(taken || said.at(0).find("neither beside the state nor in the working") !=
                                 std::string::npos);
        uint8_t byte = 0;
        fdc_read(0x0318, &byte); // motor off: a taken drive writes its change back
        fdc_flush();
        EXPECT_EQ(taken, fs::last_write_time(image) != long_ago) << image << " " << file;
    }
}

// Saving checks the state as a restore would: what a restore refuses is never stored.
TEST_F(StateMachine, SavingNeverStoresWhatARestoreRefuses) {
    ASSERT_EQ(0, sys_state_save("s.state"));
    const std::vector<uint8_t> earlier = read_file("s.state");
    said.clear();
    speed = 100;
    EXPECT_EQ(1, sys_state_save("s.state"));
    speed = 1;
    EXPECT_EQ(earlier, read_file("s.state"));
    ASSERT_EQ(2u, said.size());
    EXPECT_EQ("state refused: core: speed 100 out of range", said[0]);
    EXPECT_EQ("state: not saved to 's.state': a restore would refuse it", said[1]);
    EXPECT_EQ(0, sys_state_load("s.state"));
}

// The quick file goes through a new file and a rename: a state that cannot
// be written leaves the earlier one whole, and no temporary file behind.
TEST_F(StateMachine, FailedSaveKeepsTheEarlierFile) {
    ASSERT_EQ(0, sys_state_save("kept.state"));
    const std::vector<uint8_t> earlier = read_file("kept.state");
    frame();
    said.clear();
    std::filesystem::create_directory("kept.state.d");
    EXPECT_EQ(1, sys_state_save("no/such/folder.state"));
    EXPECT_EQ(1, sys_state_save("kept.state.d")); // a folder cannot be replaced by a file
    EXPECT_EQ(2u, said.size());
    EXPECT_EQ(earlier, read_file("kept.state"));
    // The four media, the state and the folder: no temporary file left.
    EXPECT_EQ(6, std::distance(std::filesystem::directory_iterator("."), {}));
    EXPECT_EQ(0, sys_state_load("kept.state"));
    EXPECT_EQ(earlier, machine_bytes());
}

// The tape comes back at its place when its file is unchanged, else not at all.
TEST_F(StateMachine, TapeComesBackAtItsPlaceOnlyFromTheSameFile) {
    auto next_bytes = [] {
        std::vector<uint8_t> bytes(6);
        for (uint8_t &b : bytes)
            via_6522_tapein_byte(&b);
        return bytes;
    };
    for (bool changed : {false, true}) {
        ASSERT_EQ(0, sys_file_mount_tap("demo.tap"));
        ASSERT_EQ(0, via_6522_tapein_sync());
        next_bytes();
        const std::vector<uint8_t> state = machine_bytes();
        const std::vector<uint8_t> ahead = next_bytes();
        if (changed) write_file("demo.tap", {0x16, 0x16, 0x24});
        said.clear();
        ASSERT_EQ(0, sys_state_read(state.data(), state.size()));
        EXPECT_EQ(changed ? std::vector<uint8_t>(6, 0xFF) : ahead, next_bytes());
        EXPECT_EQ(changed ? 1u : 0u, said.size());
    }
}

} // namespace
