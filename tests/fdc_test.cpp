#include "fdc.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <sys/resource.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "log.h"
#include "test_util.h"

namespace {

using bytes = std::vector<uint8_t>;

constexpr size_t IMAGE = 143360;
constexpr int TRACK = 6200;
constexpr int SLOT = 374;
constexpr int SKEW[16] = {0, 7, 14, 6, 13, 5, 12, 4, 11, 3, 10, 2, 9, 1, 8, 15};

constexpr uint8_t DISK_BYTES[64] = {
    0x96, 0x97, 0x9A, 0x9B, 0x9D, 0x9E, 0x9F, 0xA6, 0xA7, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF, 0xB2, 0xB3,
    0xB4, 0xB5, 0xB6, 0xB7, 0xB9, 0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF, 0xCB, 0xCD, 0xCE, 0xCF, 0xD3,
    0xD6, 0xD7, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF, 0xE5, 0xE6, 0xE7, 0xE9, 0xEA, 0xEB, 0xEC,
    0xED, 0xEE, 0xEF, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF};

size_t offset_of(int track, int image_sector) {
    return (static_cast<size_t>(track) * 16 + image_sector) * 256;
}

bytes random_bytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    bytes b(n);
    for (auto &x : b)
        x = static_cast<uint8_t>(gen());
    return b;
}

// Joins pieces of a byte stream.
bytes cat(std::initializer_list<bytes> parts) {
    bytes out;
    for (const bytes &p : parts)
        for (uint8_t b : p)
            out.push_back(b);
    return out;
}

bytes slice(const bytes &b, size_t from, size_t count) {
    return bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(from + count));
}

unsigned bit_pair(unsigned x) {
    return ((x & 1) << 1) | ((x >> 1) & 1);
}

// The data field a disk program writes for a sector: 342 disk bytes and the checksum.
bytes encode_data(const bytes &d) {
    std::vector<unsigned> values;
    for (int k = 0; k < 86; k++) {
        unsigned third = k + 172 < 256 ? d[k + 172] : 0;
        values.push_back(bit_pair(d[k]) | bit_pair(d[k + 86]) << 2 | bit_pair(third) << 4);
    }
    for (int k = 0; k < 256; k++)
        values.push_back(d[k] >> 2);
    bytes out;
    unsigned previous = 0;
    for (unsigned v : values) {
        out.push_back(DISK_BYTES[(v ^ previous) & 0x3F]);
        previous = v;
    }
    out.push_back(DISK_BYTES[previous]);
    return out;
}

int value_of(uint8_t disk_byte) {
    for (int i = 0; i < 64; i++)
        if (DISK_BYTES[i] == disk_byte) return i;
    return -1;
}

// Lines the controller traces, collected through the information hook.
// A disk program in the small: everything goes through the soft switches.
struct Disk {
    int halftrack = 0;

    static uint8_t rd(unsigned addr) {
        uint8_t v = 0x5A;
        EXPECT_EQ(0, fdc_read(addr, &v));
        return v;
    }
    static void wr(unsigned addr, uint8_t v) { EXPECT_EQ(0, fdc_write(addr, v)); }
    void motor_on() { rd(0x0319); }
    void motor_off() { rd(0x0318); }
    void read_mode() {
        rd(0x031E);
        rd(0x031C);
    }
    uint8_t next() { return rd(0x031C); }
    // Phase on, then off, one half-track at a time, as a stepping routine does.
    void seek_half(int target) {
        while (halftrack != target) {
            int phase = halftrack < target ? (halftrack + 1) % 4 : (halftrack + 3) % 4;
            rd(0x0311 + 2 * phase);
            rd(0x0310 + 2 * phase);
            halftrack += halftrack < target ? 1 : -1;
        }
    }
    void seek(int track) { seek_half(2 * track); }
    // Reads up to the address field of physical sector `sector` and through its
    // epilogue; the track number in it must be `track`.
    bool find_address(int track, int sector) {
        for (int n = 0; n < 3 * TRACK; n++) {
            if (next() != 0xD5 || next() != 0xAA || next() != 0x96) continue;
            uint8_t f[11];
            for (auto &b : f)
                b = next();
            auto get = [&](int i) { return ((f[i] << 1) | 0x55) & f[i + 1] & 0xFF; };
            int volume = get(0), t = get(2), s = get(4), check = get(6);
            EXPECT_EQ(volume ^ t ^ s, check);
            EXPECT_EQ(0xDE, f[8]);
            if (s != sector) continue;
            EXPECT_EQ(254, volume);
            EXPECT_EQ(track, t);
            return t == track;
        }
        return false;
    }
    // After find_address: the sector's 256 bytes, checksum verified.
    bytes read_data() {
        for (int n = 0; n < 64; n++)
            if (next() == 0xD5 && next() == 0xAA && next() == 0xAD) break;
        bytes d(256, 0);
        unsigned v = 0;
        for (int n = 0; n < 342; n++) {
            int x = value_of(next());
            EXPECT_GE(x, 0);
            v ^= static_cast<unsigned>(x);
            if (n < 86) {
                d[n] = static_cast<uint8_t>(bit_pair(v));
                d[n + 86] = static_cast<uint8_t>(bit_pair(v >> 2));
                if (n + 172 < 256) d[n + 172] = static_cast<uint8_t>(bit_pair(v >> 4));
            } else {
                d[n - 86] |= static_cast<uint8_t>(v << 2);
            }
        }
        EXPECT_EQ(value_of(next()), static_cast<int>(v)) << "data checksum";
        return d;
    }
    // After find_address: a new data field, one byte per handshake.
    void write_data(const bytes &d) {
        write_bytes(cat({bytes(5, 0xFF), {0xD5, 0xAA, 0xAD}, encode_data(d), {0xDE, 0xAA, 0xEB}}));
    }
    void write_bytes(const bytes &field) {
        rd(0x031F); // write latch
        for (uint8_t b : field) {
            EXPECT_EQ(0x80, rd(0x031C)); // write status: ready; buffer latch off
            wr(0x031D, b);               // buffer latch on: the byte goes out
        }
        read_mode();
    }
    bytes read_sector(int track, int sector) {
        if (!find_address(track, sector)) return {};
        return read_data();
    }
};

// Finds the descriptor the process holds on `path`.
int fd_of(const std::string &path) {
    std::string want = std::filesystem::canonical(path).string();
    for (const auto &e : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        auto target = std::filesystem::read_symlink(e.path(), ec);
        if (!ec && target.string() == want) return std::stoi(e.path().filename().string());
    }
    return -1;
}

// Puts /dev/full under the image's descriptor: every write fails for lack of space.
struct DiskFull {
    int fd, saved;
    explicit DiskFull(const std::string &path) : fd(fd_of(path)), saved(dup(fd)) {
        int full = open("/dev/full", O_RDWR);
        dup2(full, fd);
        close(full);
    }
    void end() {
        if (saved < 0) return;
        dup2(saved, fd);
        close(saved);
        saved = -1;
    }
    ~DiskFull() { end(); }
};

timespec mtime_of(const std::string &path) {
    struct stat st = {};
    stat(path.c_str(), &st);
    return st.st_mtim;
}

// Makes the file look a day old, so that any write shows in its time stamp.
void age(const std::string &path) {
    timespec old[2] = {{time(nullptr) - 86400, 0}, {time(nullptr) - 86400, 0}};
    utimensat(AT_FDCWD, path.c_str(), old, 0);
}

bool same_time(timespec a, timespec b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

class FdcTest : public ::testing::Test {
  protected:
    TempDir dir;
    Disk disk;
    void SetUp() override {
        fdc_init();
        log_verbosity(1);
        logged.clear();
    }
    void TearDown() override {
        fdc_flush();
        fdc_init();
        log_info_hook(nullptr);
        tr[0] = tr[1] = 0;
        log_verbosity(0);
    }
    static void trace(uint8_t byte1) {
        log_info_hook(keep_log_line);
        tr[0] = TR_MASTER;
        tr[1] = byte1;
        logged.clear();
    }
    static bytes one_revolution() { // by position, for a drive just mounted and spinning
        bytes track(TRACK);
        for (int n = 1; n <= TRACK; n++)
            track[n % TRACK] = Disk::rd(0x031C);
        return track;
    }
};

using FdcController = FdcTest;
using FdcImages = FdcTest;
using FdcWriteBack = FdcTest;
using FdcMountFailures = FdcTest;

} // namespace

TEST_F(FdcController, DiskTurnsOnlyWithTheMotorAndAdvancesBeforeTheRead) {
    ASSERT_EQ(0, fdc_mount("a.dsk", 0, 0));
    uint8_t first = disk.next();
    for (int n = 0; n < 10; n++)
        EXPECT_EQ(first, disk.next()); // motor off: no turning
    disk.motor_on();
    bytes got;
    for (int n = 0; n < 7; n++)
        got.push_back(disk.next());
    // Positions 1..7: gap, then the address prologue at 6.
    EXPECT_EQ((bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xD5, 0xAA}), got);
}

TEST_F(FdcController, EmptyDriveReadsFFAndDropsWrites) {
    disk.motor_on();
    EXPECT_EQ(0xFF, disk.next());
    EXPECT_EQ(0x20, (disk.rd(0x031D), disk.rd(0x031E))); // sense: motor on, not protected
    disk.rd(0x031F);
    EXPECT_EQ(0x80, disk.rd(0x031C));
    disk.wr(0x031D, 0xAB);
    disk.read_mode();
    EXPECT_EQ(0xFF, disk.next());
    EXPECT_EQ(0, fdc_umount(0)); // nothing to store
}

TEST_F(FdcController, SenseStatusShowsWriteProtectAndMotor) {
    write_file("ro.dsk", bytes(IMAGE, 0));
    ASSERT_EQ(0, fdc_mount("ro.dsk", 0, 1));
    auto sense = [&] {
        disk.rd(0x031D);
        return disk.rd(0x031E);
    };
    EXPECT_EQ(0x01, sense());
    disk.motor_on();
    EXPECT_EQ(0x21, sense());
    ASSERT_EQ(0, fdc_mount("rw.dsk", 0, 0));
    EXPECT_EQ(0x20, sense());
    disk.motor_off();
    EXPECT_EQ(0x00, sense());
    EXPECT_EQ(0, disk.rd(0x0319)); // odd addresses read 0
}

TEST_F(FdcController, WriteHandshakeTakesOneByteAndOnlyDiskBytes) {
    ASSERT_EQ(0, fdc_mount("a.dsk", 0, 0));
    disk.motor_on();
    disk.rd(0x031F);
    EXPECT_EQ(0x80, disk.rd(0x031C));
    disk.wr(0x031D, 0x95); // position 1: below the lowest disk byte, dropped
    disk.wr(0x031D, 0x97); // not ready: ignored, the disk does not move
    EXPECT_EQ(0x80, disk.rd(0x031C));
    disk.wr(0x031D, 0x96); // position 2
    disk.wr(0x031D, 0x9A); // ignored
    EXPECT_EQ(0x80, disk.rd(0x031C));
    disk.wr(0x031D, 0xD5); // position 3
    disk.read_mode();      // its last read takes position 4
    bytes track(TRACK);
    for (int n = 5; n < 5 + TRACK; n++)
        track[n % TRACK] = disk.next();
    EXPECT_EQ((bytes{0xFF, 0xFF, 0x96, 0xD5, 0xFF}), slice(track, 0, 5));
}

TEST_F(FdcController, WritesNeedTheMotorAndBothLatches) {
    write_file("a.dsk", bytes(IMAGE, 0));
    age("a.dsk");
    timespec before = mtime_of("a.dsk");
    ASSERT_EQ(0, fdc_mount("a.dsk", 0, 0));
    disk.rd(0x031F);
    disk.rd(0x031C);
    disk.wr(0x031D, 0x96); // motor off: not taken
    disk.motor_on();
    disk.rd(0x031C);
    disk.wr(0x031F, 0x97); // buffer latch off after the read: mode 2, not taken
    disk.motor_off();      // a byte taken would make the drive write back
    EXPECT_TRUE(same_time(before, mtime_of("a.dsk")));
    disk.motor_on();
    disk.rd(0x031D);
    disk.wr(0x031F, 0x97); // both latches: taken
    disk.motor_off();
    EXPECT_FALSE(same_time(before, mtime_of("a.dsk")));
    EXPECT_EQ(bytes(IMAGE, 0), read_file("a.dsk")); // a gap byte: no sector changed
}

TEST_F(FdcController, PhasesStepByHalfTracksWithinTheEnds) {
    ASSERT_EQ(0, fdc_mount("a.dsk", 0, 0));
    trace(TR_FDU);
    disk.rd(0x0313); // phase 1 on at half-track 0
    disk.rd(0x0315); // phase 2
    disk.rd(0x0314); // phase 2 off
    disk.rd(0x0311); // phase 0 on at half-track 2: two away, stays
    disk.rd(0x0313); // phase 1 on at 2: one back
    disk.rd(0x0311); // phase 0: back to 0
    disk.rd(0x0317); // phase 3 on at 0: stays
    std::vector<std::string> expected = {
        "{I} fdu: phase 1 on  T:00+",   "{I} fdu: phase 2 on  T:01 ", "{I} fdu: phase 2 off T:01 ",
        "{R} fdu: T:01  S:00.000 [FF]", // an even address reads a byte in read mode
        "{I} fdu: phase 0 on  T:01 ",   "{I} fdu: phase 1 on  T:00+", "{I} fdu: phase 0 on  T:00 ",
        "{I} fdu: phase 3 on  T:00 "};
    EXPECT_EQ(expected, logged);
}

TEST_F(FdcController, HeadStopsAtTheLastHalfTrack) {
    ASSERT_EQ(0, fdc_mount("a.dsk", 0, 0));
    disk.seek(34);
    trace(TR_FDU);
    disk.rd(0x0313); // offset 1 at half-track 68
    EXPECT_EQ(std::vector<std::string>{"{I} fdu: phase 1 on  T:34 "}, logged);
    disk.motor_on();
    EXPECT_TRUE(disk.find_address(34, 0));
}

TEST_F(FdcController, DescendingPhasesRecalibrateFromAnyHalfTrack) {
    // A boot routine does not know where the head is: 18 rounds of phases
    // 3, 2, 1, 0 bring it to track 0 from anywhere, ending on a whole track.
    ASSERT_EQ(0, fdc_mount("a.dsk", 0, 0));
    for (int start : {0, 1, 2, 3, 33, 50, 67, 68}) {
        disk.seek_half(start);
        trace(TR_FDU);
        for (int round = 0; round < 18; round++)
            for (int phase = 3; phase >= 0; phase--)
                disk.wr(0x0311 + 2 * phase, 0);
        ASSERT_EQ(72u, logged.size());
        EXPECT_EQ("{I} fdu: phase 0 on  T:00 ", logged.back()) << "from half-track " << start;
        disk.halftrack = 0;
    }
}

TEST_F(FdcController, TraceLinesForRegistersAndDiskBytes) {
    ASSERT_EQ(0, fdc_mount("a.dsk", 0, 0));
    disk.motor_on();
    for (int n = 0; n < 375; n++)
        disk.next(); // to position 375: slot 1, offset 1
    trace(TR_FDC | TR_FDU);
    disk.next();
    disk.rd(0x031F);
    disk.rd(0x031C);
    disk.wr(0x031D, 0xB7);
    EXPECT_EQ((std::vector<std::string>{"{R} fdu: T:00  S:01.002 [FF]", "{R} fdc: 031C:FF",
                                        "{R} fdc: 031F:00", "{R} fdc: 031C:80", "{W} fdc: 031D:B7",
                                        "{W} fdu: T:00  S:01.003 [B7]"}),
              logged);
    tr[1] = TR_FDC; // register lines only
    logged.clear();
    disk.rd(0x0311);
    EXPECT_EQ(std::vector<std::string>{"{R} fdc: 0311:00"}, logged);
}

TEST_F(FdcController, SelectingTheCurrentDriveWritesNothingBack) {
    bytes image = random_bytes(IMAGE, 1);
    write_file("b.dsk", image);
    ASSERT_EQ(0, fdc_mount("b.dsk", 1, 0));
    disk.rd(0x031B); // drive 2
    disk.motor_on();
    ASSERT_TRUE(disk.find_address(0, 3));
    disk.write_data(bytes(256, 0x42));
    disk.rd(0x031B); // drive 2 again: no write-back
    EXPECT_EQ(image, read_file("b.dsk"));
    disk.rd(0x031A); // drive 1: drive 2 goes back to its file
    bytes expected = image;
    std::fill_n(expected.begin() + static_cast<long>(offset_of(0, SKEW[3])), 256, 0x42);
    EXPECT_EQ(expected, read_file("b.dsk"));
}

TEST_F(FdcController, EachDriveKeepsItsHeadAcrossSelection) {
    write_file("a.dsk", random_bytes(IMAGE, 2));
    write_file("b.dsk", random_bytes(IMAGE, 3));
    ASSERT_EQ(0, fdc_mount("a.dsk", 0, 0));
    ASSERT_EQ(0, fdc_mount("b.dsk", 1, 0));
    disk.motor_on();
    disk.seek(9);
    disk.rd(0x031B);
    Disk other;
    other.seek(20);
    EXPECT_TRUE(other.find_address(20, 4));
    disk.rd(0x031A);
    EXPECT_TRUE(disk.find_address(9, 4));
}

TEST_F(FdcImages, MissingFileBecomesABlankImageWithByteExactTracks) {
    ASSERT_EQ(0, fdc_mount("new.dsk", 0, 0));
    EXPECT_EQ(bytes(IMAGE, 0), read_file("new.dsk"));
    disk.motor_on();
    bytes track = one_revolution();
    bytes slot0 = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xD5, 0xAA, 0x96, 0xFF,
                   0xFE, 0xAA, 0xAA, 0xAA, 0xAA, 0xFF, 0xFE, 0xDE, 0xAA, 0xEB,
                   0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xD5, 0xAA, 0xAD};
    slot0 = cat({slot0, bytes(343, 0x96), {0xDE, 0xAA, 0xEB}});
    EXPECT_EQ(slot0, slice(track, 0, SLOT));
    EXPECT_EQ(bytes(216, 0xFF), slice(track, 16 * SLOT, 216));
}

TEST_F(FdcImages, Track17Sector5AddressField) {
    ASSERT_EQ(0, fdc_mount("new.dsk", 0, 0));
    disk.seek(17);
    disk.motor_on();
    bytes track = one_revolution();
    EXPECT_EQ(
        (bytes{0xD5, 0xAA, 0x96, 0xFF, 0xFE, 0xAA, 0xBB, 0xAA, 0xAF, 0xFF, 0xEA, 0xDE, 0xAA, 0xEB}),
        slice(track, 5 * SLOT + 6, 14));
}

TEST_F(FdcImages, SectorOfFFBytesAndSkewingOfTrack2) {
    bytes image(IMAGE, 0);
    std::fill_n(image.begin() + 9984, 256, 0xFF); // track 2, image sector 7
    write_file("ff.dsk", image);
    ASSERT_EQ(0, fdc_mount("ff.dsk", 0, 0));
    disk.seek(2);
    disk.motor_on();
    bytes track = one_revolution();
    bytes expected = cat({{0xFF}, bytes(83, 0x96), {0xED, 0x96, 0xED}, bytes(255, 0x96), {0xFF}});
    EXPECT_EQ(expected, slice(track, 1 * SLOT + 28, 343)); // physical sector 1
    EXPECT_EQ(bytes(343, 0x96), slice(track, 0 * SLOT + 28, 343));
    EXPECT_EQ(bytes(343, 0x96), slice(track, 7 * SLOT + 28, 343)); // physical 7 is image 4
}

TEST_F(FdcImages, ReadingFindsTheImageBytesAcrossTracksAndHalfTracks) {
    bytes image = random_bytes(IMAGE, 4);
    write_file("r.dsk", image);
    ASSERT_EQ(0, fdc_mount("r.dsk", 0, 0));
    disk.motor_on();
    struct {
        int halftrack, track, sector;
    } visits[] = {{0, 0, 0},   {0, 0, 13}, {3, 1, 1}, {34, 17, 5}, {68, 34, 15},
                  {68, 34, 7}, {11, 5, 9}, {1, 0, 6}, {40, 20, 2}};
    for (auto v : visits) {
        disk.seek_half(v.halftrack);
        EXPECT_EQ(slice(image, offset_of(v.track, SKEW[v.sector]), 256),
                  disk.read_sector(v.track, v.sector))
            << "track " << v.track << " sector " << v.sector;
    }
}

TEST_F(FdcImages, ReadOnlyMountDropsWritesAndNeverTouchesTheFile) {
    bytes image = random_bytes(IMAGE, 5);
    write_file("ro.dsk", image);
    age("ro.dsk");
    timespec before = mtime_of("ro.dsk");
    ASSERT_EQ(0, fdc_mount("ro.dsk", 0, 1));
    disk.motor_on();
    ASSERT_TRUE(disk.find_address(0, 2));
    disk.write_data(bytes(256, 0x11));
    disk.motor_off();
    ASSERT_EQ(0, fdc_umount(0));
    EXPECT_EQ(image, read_file("ro.dsk"));
    EXPECT_TRUE(same_time(before, mtime_of("ro.dsk")));
}

TEST_F(FdcImages, ImageNeverWrittenIsNeverTouched) {
    bytes image = random_bytes(IMAGE, 6);
    write_file("a.dsk", image);
    write_file("b.dsk", image);
    age("a.dsk");
    age("b.dsk");
    timespec a = mtime_of("a.dsk"), b = mtime_of("b.dsk");
    ASSERT_EQ(0, fdc_mount("a.dsk", 0, 0));
    ASSERT_EQ(0, fdc_mount("b.dsk", 1, 0));
    disk.motor_on();
    disk.seek(3);
    disk.read_sector(3, 3);
    disk.motor_off();
    disk.rd(0x031B);
    disk.motor_on();
    disk.read_sector(0, 0);
    disk.rd(0x031A);
    disk.motor_off();
    EXPECT_EQ(0, fdc_umount(0));
    EXPECT_EQ(0, fdc_flush());
    EXPECT_EQ(image, read_file("a.dsk"));
    EXPECT_EQ(image, read_file("b.dsk"));
    EXPECT_TRUE(same_time(a, mtime_of("a.dsk")));
    EXPECT_TRUE(same_time(b, mtime_of("b.dsk")));
}

TEST_F(FdcImages, EmptyExistingFileBecomesABlankImage) {
    write_file("empty.dsk", {});
    EXPECT_EQ(0, fdc_mount("empty.dsk", 1, 0));
    EXPECT_EQ(bytes(IMAGE, 0), read_file("empty.dsk"));
}

TEST_F(FdcImages, EjectingAnEmptyDriveDoesNothing) {
    EXPECT_EQ(0, fdc_umount(0));
    EXPECT_EQ(0, fdc_umount(1));
    EXPECT_EQ(0, fdc_flush());
    EXPECT_TRUE(std::filesystem::is_empty("."));
}

// Writes a new data field into one sector the way disk software does and
// checks that exactly that sector changed once `store` has run.
static void write_one_sector(Disk &disk, const std::function<void()> &store) {
    bytes image = random_bytes(IMAGE, 7);
    write_file("w.dsk", image);
    ASSERT_EQ(0, fdc_mount("w.dsk", 0, 0));
    disk.motor_on();
    disk.seek(12);
    disk.seek_half(25); // half-tracks reach the lower track
    ASSERT_TRUE(disk.find_address(12, 10));
    bytes fresh = random_bytes(256, 8);
    disk.write_data(fresh);
    EXPECT_EQ(image, read_file("w.dsk")); // nothing stored while the drive runs
    store();
    bytes expected = image;
    std::copy(fresh.begin(), fresh.end(), expected.begin() + static_cast<long>(offset_of(12, 10)));
    bytes now = read_file("w.dsk");
    ASSERT_EQ(IMAGE, now.size());
    for (size_t at = 0; at < IMAGE; at += 256)
        EXPECT_EQ(slice(expected, at, 256), slice(now, at, 256)) << "image offset " << at;
}

TEST_F(FdcWriteBack, MotorOffStoresExactlyTheSectorWritten) {
    write_one_sector(disk, [&] { disk.motor_off(); });
    // Still mounted: the new data reads back.
    disk.motor_on();
    EXPECT_EQ(random_bytes(256, 8), disk.read_sector(12, 10));
}

TEST_F(FdcWriteBack, DriveChangeStoresExactlyTheSectorWritten) {
    write_one_sector(disk, [&] { disk.rd(0x031B); });
}

TEST_F(FdcWriteBack, EjectStoresExactlyTheSectorWritten) {
    write_one_sector(disk, [&] { EXPECT_EQ(0, fdc_umount(0)); });
    disk.motor_on();
    EXPECT_EQ(0xFF, disk.next()); // the drive is empty now
}

TEST_F(FdcWriteBack, ExitStoresExactlyTheSectorWritten) {
    write_one_sector(disk, [&] { EXPECT_EQ(0, fdc_flush()); });
}

TEST_F(FdcWriteBack, RemountStoresTheOldImageFirst) {
    write_one_sector(disk, [&] { EXPECT_EQ(0, fdc_mount("other.dsk", 0, 0)); });
}

TEST_F(FdcWriteBack, UnreadableTrackKeepsItsSectorsAndTheRestIsStored) {
    bytes image = random_bytes(IMAGE, 9);
    write_file("g.dsk", image);
    ASSERT_EQ(0, fdc_mount("g.dsk", 0, 0));
    disk.motor_on();
    disk.seek(3);
    // Software rewrites track 3 in a layout of its own: address marks only.
    ASSERT_TRUE(disk.find_address(3, 0));
    bytes marks;
    for (int n = 0; n < TRACK; n++)
        marks.push_back(bytes{0xD5, 0xAA, 0x96, 0xFF}[n % 4]);
    disk.write_bytes(marks);
    disk.seek(20);
    ASSERT_TRUE(disk.find_address(20, 0));
    disk.write_data(bytes(256, 0xC3));
    testing::internal::CaptureStderr();
    disk.motor_off();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, err.find("track 3: 0 of 16 sectors")) << err;
    bytes expected = image;
    std::fill_n(expected.begin() + static_cast<long>(offset_of(20, 0)), 256, 0xC3);
    EXPECT_EQ(expected, read_file("g.dsk"));
}

TEST_F(FdcWriteBack, DiskFullKeepsTheChangesForTheNextWriteBack) {
    bytes image = random_bytes(IMAGE, 10);
    write_file("f.dsk", image);
    ASSERT_EQ(0, fdc_mount("f.dsk", 0, 0));
    disk.motor_on();
    ASSERT_TRUE(disk.find_address(0, 4));
    disk.write_data(bytes(256, 0x77));
    {
        DiskFull full("f.dsk");
        testing::internal::CaptureStderr();
        disk.motor_off();
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(std::string::npos, err.find("writing 'f.dsk' failed")) << err;
        EXPECT_NE(std::string::npos, err.find(strerror(ENOSPC))) << err;
    }
    EXPECT_EQ(image, read_file("f.dsk"));
    disk.motor_off(); // space again: the pending changes go out now
    bytes expected = image;
    std::fill_n(expected.begin() + static_cast<long>(offset_of(0, SKEW[4])), 256, 0x77);
    EXPECT_EQ(expected, read_file("f.dsk"));
}

TEST_F(FdcWriteBack, EjectThatCannotStoreSaysSo) {
    write_file("f.dsk", bytes(IMAGE, 0));
    ASSERT_EQ(0, fdc_mount("f.dsk", 1, 0));
    disk.rd(0x031B);
    disk.motor_on();
    ASSERT_TRUE(disk.find_address(0, 1));
    disk.write_data(bytes(256, 0x10));
    {
        DiskFull full("f.dsk");
        testing::internal::CaptureStderr();
        EXPECT_EQ(1, fdc_flush());
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(std::string::npos, err.find("drive 2 ejected, its changes are lost")) << err;
        close(full.saved); // the eject closed the descriptor itself
        full.saved = -1;
    }
    EXPECT_EQ(bytes(IMAGE, 0), read_file("f.dsk"));
    EXPECT_EQ(0xFF, disk.next()); // ejected all the same
}

TEST_F(FdcMountFailures, MissingDirectory) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(1, fdc_mount("nodir/a.dsk", 0, 0));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, err.find("nodir/a.dsk")) << err;
    EXPECT_FALSE(std::filesystem::exists("nodir"));
    disk.motor_on();
    EXPECT_EQ(0xFF, disk.next());
}

TEST_F(FdcMountFailures, WrongSizeIsLeftUntouched) {
    for (size_t size : {IMAGE - 1, IMAGE + 1, size_t{256}}) {
        bytes odd = random_bytes(size, 11);
        write_file("odd.dsk", odd);
        age("odd.dsk");
        timespec before = mtime_of("odd.dsk");
        testing::internal::CaptureStderr();
        EXPECT_EQ(1, fdc_mount("odd.dsk", 0, 0));
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(std::string::npos, err.find(std::to_string(size) + " bytes")) << err;
        EXPECT_EQ(odd, read_file("odd.dsk"));
        EXPECT_TRUE(same_time(before, mtime_of("odd.dsk")));
    }
    disk.motor_on();
    EXPECT_EQ(0xFF, disk.next());
}

TEST_F(FdcMountFailures, FailedMountLeavesThePreviousDiskEjectedAndStored) {
    write_file("a.dsk", bytes(IMAGE, 0));
    write_file("odd.dsk", bytes(100, 0));
    ASSERT_EQ(0, fdc_mount("a.dsk", 0, 0));
    disk.motor_on();
    ASSERT_TRUE(disk.find_address(0, 0));
    disk.write_data(bytes(256, 0xEE));
    EXPECT_EQ(1, fdc_mount("odd.dsk", 0, 0));
    EXPECT_EQ(bytes(256, 0xEE), slice(read_file("a.dsk"), 0, 256));
    EXPECT_EQ(0xFF, disk.next());
}

TEST_F(FdcMountFailures, ReadOnlyFileCannotBeMountedForWriting) {
    if (running_as_root()) GTEST_SKIP() << "permissions do not stop root";
    bytes image = random_bytes(IMAGE, 12);
    write_file("ro.dsk", image);
    chmod("ro.dsk", 0444);
    testing::internal::CaptureStderr();
    EXPECT_EQ(1, fdc_mount("ro.dsk", 0, 0));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, err.find("ro.dsk")) << err;
    EXPECT_EQ(image, read_file("ro.dsk"));
    EXPECT_EQ(0, fdc_mount("ro.dsk", 0, 1)); // read-only it works
}

TEST_F(FdcMountFailures, BlankImageThatCannotBeWrittenOut) {
    // A file size limit makes the blank image fail half-way, as a full disk would.
    write_file("empty.dsk", {});
    signal(SIGXFSZ, SIG_IGN);
    rlimit old = {};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = {4096, old.rlim_max};
    setrlimit(RLIMIT_FSIZE, &small);
    testing::internal::CaptureStderr();
    int created = fdc_mount("new.dsk", 0, 0);
    int existing = fdc_mount("empty.dsk", 1, 0);
    std::string err = testing::internal::GetCapturedStderr();
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(1, created);
    EXPECT_EQ(1, existing);
    EXPECT_NE(std::string::npos, err.find("can't make 'new.dsk' a blank disk image")) << err;
    EXPECT_FALSE(std::filesystem::exists("new.dsk"));  // made by the mount, so removed
    EXPECT_TRUE(std::filesystem::exists("empty.dsk")); // the user's: kept, emptied again
    EXPECT_EQ(0u, std::filesystem::file_size("empty.dsk"));
}

TEST_F(FdcMountFailures, ReadOnlyMountOfAMissingFileCreatesNothing) {
    EXPECT_EQ(1, fdc_mount("none.dsk", 0, 1));
    EXPECT_FALSE(std::filesystem::exists("none.dsk"));
}

TEST_F(FdcMountFailures, NoNameMountsNothing) {
    EXPECT_EQ(1, fdc_mount(nullptr, 0, 0));
    EXPECT_EQ(1, fdc_mount("", 1, 0));
    EXPECT_TRUE(std::filesystem::is_empty("."));
}

TEST_F(FdcMountFailures, DirectoryIsNoImage) {
    std::filesystem::create_directory("d.dsk");
    EXPECT_EQ(1, fdc_mount("d.dsk", 0, 0));
    EXPECT_TRUE(std::filesystem::is_directory("d.dsk"));
}

TEST_F(FdcMountFailures, OneFileIsNeverInBothDrives) {
    write_file("a.dsk", bytes(IMAGE, 0));
    ASSERT_EQ(0, fdc_mount("a.dsk", 0, 0));
    testing::internal::CaptureStderr();
    EXPECT_EQ(1, fdc_mount("./a.dsk", 1, 0));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, err.find("in drive 1 already")) << err;
    EXPECT_EQ(0, fdc_mount("a.dsk", 0, 0)); // the same drive again is fine
}

TEST_F(FdcMountFailures, NothingIsLoggedAtVerbosityZero) {
    log_verbosity(0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(1, fdc_mount("nodir/a.dsk", 0, 0));
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
}
