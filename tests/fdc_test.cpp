// The disk controller's soft switches and the image files behind its two drives.
#include "fdc.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <csignal>
#include <random>
#include <tuple>

#include "fdc_image.h"
#include "fixture.h"

namespace {

using bytes = std::vector<uint8_t>;

uint8_t rd(unsigned addr) {
    uint8_t v = 0x5A;
    EXPECT_EQ(0, fdc_read(addr, &v));
    return v;
}

bytes random_bytes(size_t n, unsigned seed) {
    bytes b(n);
    std::generate(b.begin(), b.end(), std::mt19937(seed)); // the low byte of each number
    return b;
}

// One turn of the disk in read mode, from the byte after the head on.
bytes revolution() {
    bytes r(6200);
    std::generate(r.begin(), r.end(), [] { return rd(0x031C); });
    return r;
}

// The head from half-track `from` to `to`, a phase at a time: the phase of
// the half-track wanted pulls it there.
void seek(int from, int to) {
    for (int h = from; h != to;) {
        h += to > h ? 1 : -1;
        rd(0x0311 + 2 * (h % 4));
    }
}

void up(int n) {
    seek(0, n);
}

// What f logs; with a limit, no file grows past that many bytes, as on a full disk.
template <typename F> std::string errors_of(const F &f, rlim_t limit = 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit old = {};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit now = {limit ? limit : old.rlim_cur, old.rlim_max};
    setrlimit(RLIMIT_FSIZE, &now);
    testing::internal::CaptureStderr();
    f();
    setrlimit(RLIMIT_FSIZE, &old);
    return testing::internal::GetCapturedStderr();
}

class FdcDrive : public ::testing::Test {
    TempDir dir;
    void SetUp() override { log_verbosity(1); }
    void TearDown() override {
        EXPECT_EQ(0, fdc_flush()); // before the directory goes
        EXPECT_EQ(0, fdc_init());
        log_info_hook(nullptr);
    }
};
using FdcImageFiles = FdcDrive;

} // namespace

TEST_F(FdcDrive, BlankDiskTurnsByteForByteOnlyWithTheMotor) {
    EXPECT_EQ(0, fdc_init());
    ASSERT_EQ(0, fdc_mount("new.dsk", 0, 0));
    EXPECT_EQ(bytes(143360, 0), read_file("new.dsk"));
    EXPECT_EQ(0xFF, rd(0x0310) & rd(0x031C)); // read mode, motor off: the disk stands
    rd(0x0319);
    EXPECT_EQ(0, fdc_run(100000)); // nor does it turn with time
    bytes turn = revolution();     // each read moves first: positions 1 to 6199, then 0
    EXPECT_EQ(
        (bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xD5, 0xAA, 0x96, 0xFF, 0xFE, 0xAA, 0xAA, 0xAA, 0xAA,
               0xFF, 0xFE, 0xDE, 0xAA, 0xEB, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xD5, 0xAA, 0xAD}),
        bytes(turn.begin(), turn.begin() + 27));
    EXPECT_EQ(bytes(343, 0x96), bytes(turn.begin() + 27, turn.begin() + 370)); // zeros in 6-and-2
    EXPECT_EQ((bytes{0xDE, 0xAA, 0xEB}), bytes(turn.begin() + 370, turn.begin() + 373));
    EXPECT_EQ(bytes(217, 0xFF), bytes(turn.end() - 217, turn.end()));
}

TEST_F(FdcDrive, SenseAndWritesNeedTheRightLatchesMotorAndDisk) {
    // Sense: write protect 0x01 | motor 0x20. A byte lands next with both latches set (a
    // write to 13 sets the buffer latch), the motor on, an odd address and a disk byte.
    write_file("ro.dsk", bytes(143360, 0));
    const std::tuple<const char *, bool, int, int, uint8_t, int, bool> rows[] = {
        {"rw.dsk", 1, 13, 13, 0x97, 0x20, 1}, {"rw.dsk", 1, 12, 13, 0x96, 0x20, 1},
        {"rw.dsk", 1, 13, 15, 0xFE, 0x20, 1}, {"rw.dsk", 1, 13, 13, 0x95, 0x20, 0},
        {"rw.dsk", 0, 13, 13, 0x97, 0x00, 0}, {"rw.dsk", 1, 12, 15, 0x97, 0x20, 0},
        {"rw.dsk", 1, 13, 0, 0x97, 0x20, 0},  {"ro.dsk", 1, 13, 13, 0x97, 0x21, 0},
        {"ro.dsk", 0, 13, 13, 0x97, 0x01, 0}, {"none.dsk", 1, 13, 13, 0x97, 0x20, 0},
    };
    for (auto &[disk, motor, latch, addr, value, sense, taken] : rows) {
        errors_of([&] { fdc_mount(disk, 0, std::string(disk) != "rw.dsk"); });
        rd(motor ? 0x0319 : 0x0318);
        EXPECT_EQ(0, rd(0x031D)); // odd addresses read 0
        EXPECT_EQ(sense, rd(0x031E)) << disk << motor;
        rd(0x031F);
        rd(0x0310 + latch);
        EXPECT_EQ(0, fdc_write(0x0310 + addr, value));
        EXPECT_EQ(0, fdc_write(0x0310 + addr, 0x9A)); // no read since: not taken
        rd(0x031E);
        bytes turn = revolution(); // the byte written comes round last
        EXPECT_EQ(taken ? value : 0xFF, turn.back()) << disk << addr << value;
    }
}

TEST_F(FdcDrive, PhasesPullTheHeadHalfATrackWithinTheEndsOfEachDrive) {
    // Switches (hex digits) from half-track `from` of drive 1: 2n + 1 turns
    // phase n on, 2n off, A and B select drive 1 and 2. The trace of phase 3
    // turned off names the track reached, '+' for half a track further in.
    const std::tuple<int, std::string, std::string> rows[] = {
        {0, "3", "00+"},     {0, "35", "01 "},       {0, "5", "00 "}, {0, "7", "00 "},
        {0, "73", "00+"},    {0, "31", "00 "},       {3, "5", "01 "}, {5, "5", "03 "},
        {6, "1", "03 "},     {6, "7", "03+"},        {68, "", "34 "}, {68, "3", "34 "},
        {68, "37", "33+"},   {0, "32541076", "01+"}, {6, "B", "00 "}, {6, "B35A", "03 "},
        {6, "B35AB", "01 "},
    };
    log_info_hook(keep_log_line);
    for (auto &[from, switches, track] : rows) {
        fdc_umount(1);
        rd(0x031A);
        fdc_mount("a.dsk", 0, 0);
        up(from);
        for (char n : switches)
            rd(0x0310 + std::stoi(std::string(1, n), nullptr, 16));
        tr[1] = TR_FDU;
        tr[0] = TR_MASTER;
        logged.clear();
        rd(0x0316);
        tr[0] = tr[1] = 0;
        EXPECT_EQ("{I} fdu: phase 3 off T:" + track, logged.at(0)) << from << switches;
    }
}

TEST_F(FdcImageFiles, StoreWritesTheTracksWrittenAndNothingElse) {
    // A track written `up` half-tracks in, then stored (a switch read counts as 0): now, at
    // the next store, or never. With `wipe`, physical sector 3 (image sector 6) is unreadable.
    write_file("odd.dsk", bytes(100, 0));
    enum { NOW, PENDING, LOST };
    const std::tuple<int, int, bool, rlim_t, int (*)(), int, int, const char *> rows[] = {
        {0, 0, 0, 0, [] { return rd(0x0318) * 0; }, 0, NOW, ""},
        {25, 12, 0, 0, [] { return rd(0x031B) * 0; }, 0, NOW, ""},
        {8, 4, 0, 0, [] { return rd(0x031A) * 0; }, 0, PENDING, ""},
        {68, 34, 0, 0, [] { return fdc_umount(0); }, 0, NOW, ""},
        {40, 20, 0, 0, [] { return fdc_mount("odd.dsk", 0, 0); }, 1, NOW, "'odd.dsk' has 100"},
        {10, 5, 1, 0, [] { return rd(0x0318) * 0; }, 0, NOW,
         "drive 1: track 5: no readable sector 3;"},
        {4, 2, 0, 4096, [] { return rd(0x0318) * 0; }, 0, PENDING,
         "drive 1: 'w.dsk' could not be written back: File too large; the file keeps its old"},
        {4, 2, 0, 4096, fdc_flush, 1, LOST,
         "drive 1: 'w.dsk' could not be written back: File too large; the drive's changes are "
         "lost"}};
    for (auto &[up_by, t, wipe, limit, store, result, fate, error] : rows) {
        bytes image = random_bytes(143360, t), fresh = image, ring(6200);
        std::fill_n(fresh.begin() + t * 4096, 4096, t * 3 + 1);
        fdc_image_encode_track(fresh.data() + t * 4096, t, 254, ring.data());
        if (wipe) std::fill_n(ring.begin() + 3 * 374, 374, 0xFF);
        if (wipe) std::copy_n(&image[t * 4096 + 6 * 256], 256, &fresh[t * 4096 + 6 * 256]);
        write_file("w.dsk", image);
        rd(0x031A);
        ASSERT_EQ(0, fdc_mount("w.dsk", 0, 0));
        rd(0x0319);
        up(up_by);
        rd(0x031F);
        for (uint8_t b : ring) {
            EXPECT_EQ(0x80, rd(0x031C)); // write status: ready
            fdc_write(0x031D, b);
        }
        std::string err = errors_of([&] { EXPECT_EQ(result, store()); }, limit);
        EXPECT_TRUE(*error ? err.find(error) != std::string::npos : err.empty()) << err;
        EXPECT_EQ(fate == NOW ? fresh : image, read_file("w.dsk")) << "track " << t;
        EXPECT_EQ(0, fdc_flush());
        EXPECT_EQ(fate == LOST ? image : fresh, read_file("w.dsk")) << "track " << t;
    }
}

TEST_F(FdcImageFiles, AnotherWritersChangeStaysAndOursGoToAFileBeside) {
    // Unwritten, the disk is not stored, which would undo the change; written,
    // the changed file is left alone and the drive moves to the first free
    // sibling, where its later stores go too. The image is locked throughout,
    // also across the stores that replace it.
    log_verbosity(0);
    bytes mine = random_bytes(143360, 1), theirs(143360, 0), want = mine;
    write_file("a.dsk", mine);
    write_file("a.dsk.1", {1});
    ASSERT_EQ(0, fdc_mount("a.dsk", 1, 0));
    auto locked = [](const char *path) {
        int fd = open(path, O_RDONLY);
        bool held = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
        close(fd);
        return held;
    };
    EXPECT_TRUE(locked("a.dsk"));
    write_file("a.dsk", theirs);
    rd(0x031B);
    EXPECT_EQ("", errors_of([] { rd(0x0318); }));
    EXPECT_EQ(theirs, read_file("a.dsk"));
    int head = 0;
    for (int t : {3, 30}) {
        bytes ring(6200);
        std::fill_n(want.begin() + t * 4096, 4096, t);
        fdc_image_encode_track(&want[t * 4096], t, 254, ring.data());
        rd(0x0319);
        seek(head, 2 * t);
        head = 2 * t;
        rd(0x031F);
        for (uint8_t b : ring) {
            rd(0x031C);
            fdc_write(0x031D, b);
        }
        std::string said = errors_of([] { rd(0x0318); });
        if (t == 3) {
            EXPECT_EQ("kestrel: drive 2: 'a.dsk' was changed by another program since kestrel read "
                      "it, so it is left as it is; the drive's disk, with kestrel's changes, is "
                      "now 'a.dsk.2'\n",
                      said);
            EXPECT_TRUE(locked("a.dsk.2"));
            EXPECT_FALSE(locked("a.dsk"));
        } else {
            EXPECT_EQ("", said);
        }
        EXPECT_EQ(theirs, read_file("a.dsk"));
        EXPECT_EQ(want, read_file("a.dsk.2")) << t;
        EXPECT_TRUE(locked("a.dsk.2")) << "replaced, still ours";
    }
    EXPECT_EQ(bytes{1}, read_file("a.dsk.1"));
    EXPECT_EQ(0, fdc_umount(1));
    EXPECT_FALSE(locked("a.dsk.2"));
    // A second owner gets the disk write-protected, with the reason.
    int fd = open("a.dsk.2", O_RDONLY);
    ASSERT_EQ(0, flock(fd, LOCK_EX));
    std::string said = errors_of([] { EXPECT_EQ(0, fdc_mount("a.dsk.2", 0, 0)); });
    EXPECT_EQ("kestrel: drive 1: 'a.dsk.2' mounted write-protected: another program (a second "
              "kestrel?) has it in use\n",
              said);
    close(fd);
    rd(0x031A);
    rd(0x031E);
    EXPECT_EQ(0x01, rd(0x031C) & rd(0x031E) & 0x01); // sense: protected
}

TEST_F(FdcImageFiles, FilesThatAreNoImageMountNothingAndStayAsTheyWere) {
    ASSERT_EQ(0, fdc_mount("a.dsk", 0, 0));
    const std::tuple<const char *, long, int, rlim_t, const char *> rows[] = {
        {nullptr, -1, 0, 0, "can't open ''"},
        {"nodir/a.dsk", -1, 0, 0, "can't open 'nodir/a.dsk' for writing"},
        {"none.dsk", -1, 1, 0, "can't open 'none.dsk': "}, // read-only: none made
        {"/dev/null", -1, 0, 0, "'/dev/null' is not a disk image file"},
        {"./a.dsk", -1, 0, 0, "'./a.dsk' is in drive 1 already"},
        {"e.dsk", 0, 1, 0, "'e.dsk' is empty"},
        {"short.dsk", 143359, 0, 0, "'short.dsk' has 143359 bytes"},
        {"long.dsk", 143361, 1, 0, "'long.dsk' has 143361 bytes"},
        {"new.dsk", -1, 0, 4096, "can't make 'new.dsk' a blank disk image"}, // removed again
        {"e2.dsk", 0, 0, 4096, "can't make 'e2.dsk' a blank disk image"},    // emptied again
    };
    for (auto &[path, size, read_only, limit, error] : rows) {
        bytes content = random_bytes(std::max(size, 0L), 2);
        if (size >= 0) write_file(path, content);
        std::string err = errors_of([&] { EXPECT_EQ(1, fdc_mount(path, 1, read_only)); }, limit);
        EXPECT_NE(std::string::npos, err.find(error)) << err;
        EXPECT_TRUE(size < 0 || content == read_file(path)) << error;
    }
    EXPECT_EQ(5, std::distance(std::filesystem::directory_iterator("."), {}));
    rd(0x031B);
    rd(0x0319);
    EXPECT_EQ(0xFF, rd(0x031C));
    EXPECT_EQ(0, fdc_mount("b.dsk", 1, 0));
}

TEST_F(FdcImageFiles, WriteBackKilledAnywhereLeavesTheOldDiskOrTheNew) {
    // The child fills every sector of the disk with v and stores it (the next mount writes
    // the drive back), v = 1, 2, ...; the parent kills it at a random moment, in odd
    // rounds once the child has reported its first store through the pipe.
    write_file("k.dsk", bytes(143360, 0));
    std::mt19937 random(7);
    int newest = 0;
    for (int round = 0; round < 30; round++) {
        int done[2];
        ASSERT_EQ(0, pipe(done));
        pid_t pid = fork();
        if (pid == 0) {
            for (int v = 1; v < 250; v++) {
                fdc_mount("k.dsk", 0, 0);
                if (v > 1 && write(done[1], "s", 1) != 1) _exit(1);
                rd(0x0319);
                rd(0x031F);
                for (int t = 0; t < 35; t++) {
                    bytes ring(6200);
                    fdc_image_encode_track(bytes(4096, uint8_t(v)).data(), t, 254, ring.data());
                    for (uint8_t b : ring) {
                        rd(0x031C);
                        fdc_write(0x031D, b);
                    }
                    rd(0x0311 + 2 * ((2 * t + 1) % 4));
                    rd(0x0311 + 2 * ((2 * t + 2) % 4));
                }
            }
            _exit(0);
        }
        close(done[1]);
        char c;
        if (round % 2 && read(done[0], &c, 1) != 1) ADD_FAILURE() << "no store";
        usleep(std::uniform_int_distribution<useconds_t>(0, 20000)(random));
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        close(done[0]);
        bytes disk = read_file("k.dsk");
        ASSERT_EQ(143360u, disk.size()) << round;
        EXPECT_EQ(disk.size(), size_t(std::count(disk.begin(), disk.end(), disk[0]))) << round;
        newest = std::max(newest, int(disk[0]));
    }
    EXPECT_GT(newest, 0); // some stores finished before their kill
}

namespace {

// Runs f in a child process as the user nobody when we are root (root writes
// anything); f's result is the child's exit status, its standard error lands in
// "child.txt".
template <typename F> int as_a_user(const F &f) {
    pid_t pid = fork();
    if (pid == 0) {
        if (!freopen("child.txt", "w", stderr)) _exit(99);
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(98);
        _exit(f());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Mounts `path` read-write in drive 1 and tries to write a byte: 0 when it came up
// write-protected (sense bit set), the byte refused and the file untouched.
int mounts_protected(const char *path) {
    bytes before = read_file(path);
    if (fdc_mount(path, 0, 0) != 0) return 1;
    rd(0x0319);
    rd(0x031F);
    rd(0x031D);
    fdc_write(0x031D, 0xE7);
    rd(0x031D);
    int sense = rd(0x031E); // buffer latch alone: write protect | motor
    if (fdc_flush() != 0 || !(sense & 1)) return 2;
    return read_file(path) == before ? 0 : 3;
}

} // namespace

TEST_F(FdcImageFiles, DisksTheUserCannotStoreMountWriteProtectedAndSayWhy) {
    // As installed (a root-owned 0644 image in a root-owned folder), in a folder that
    // takes no new file, in a sticky folder of someone else's; then a disk that works.
    log_verbosity(0);
    chmod(".", 0755);
    const bool root = running_as_root();
    const std::tuple<const char *, mode_t, mode_t, const char *> rows[] = {
        {"ro/demo.dsk", 0755, 0644,
         "'ro/demo.dsk' mounted write-protected: it may not be written "
         "(Permission denied)\n"},
        {"shut/a.dsk", 0555, 0666, "mounted write-protected: its folder "},
        {"sticky/a.dsk", 01777, 0666, "sticky and the file is not yours to replace\n"},
        {"open/a.dsk", 0777, 0666, ""},
    };
    for (auto &[path, folder_mode, file_mode, says] : rows) {
        if (!root && std::string(path).find("sticky") == 0) continue; // needs two users
        std::string folder = std::string(path).substr(0, std::string(path).find('/'));
        mkdir(folder.c_str(), 0700);
        write_file(path, random_bytes(143360, 5));
        chmod(path, root ? file_mode : file_mode & 0555);
        chmod(folder.c_str(), root ? folder_mode : folder_mode & 01555);
        if (*says) {
            EXPECT_EQ(0, as_a_user([&] { return mounts_protected(path); })) << path;
            std::string said = read_text("child.txt");
            EXPECT_NE(std::string::npos, said.find(says)) << said;
            EXPECT_EQ(1, std::count(said.begin(), said.end(), '\n')) << said;
        } else {
            EXPECT_EQ(2, as_a_user([&] { return mounts_protected(path); })) << path;
            EXPECT_EQ("", read_text("child.txt"));
        }
    }
}

TEST_F(FdcImageFiles, AFullFileSystemIsSaidAtMountAndAtEveryFailedStore) {
    // A 400 KiB file system: b.dsk mounts with room for its next copy, which a.dsk
    // then takes; the failed stores keep the old file and leave nothing behind.
    log_verbosity(0);
    mkdir("small", 0755);
    if (mount("tmpfs", "small", "tmpfs", 0, "size=400k") != 0) GTEST_SKIP() << "no tmpfs here";
    bytes old = random_bytes(143360, 6);
    write_file("small/b.dsk", old);
    write_file("small/filler", bytes(100 * 1024, 1));
    std::string said = errors_of([] { EXPECT_EQ(0, fdc_mount("small/b.dsk", 1, 0)); });
    EXPECT_EQ("", said);
    write_file("small/a.dsk", old);
    said = errors_of([] { EXPECT_EQ(0, fdc_mount("small/a.dsk", 0, 0)); });
    EXPECT_EQ("kestrel: drive 1: 'small/a.dsk' mounted write-protected: its file system has 20 "
              "KiB free, a write-back needs 140\n",
              said);
    rd(0x031B);
    rd(0x0319);
    rd(0x031F);
    for (int i = 0; i < 3; i++) {
        rd(0x031C);
        fdc_write(0x031D, 0xFF); // over the end gap: no sector changes, yet the disk is written
        said = errors_of([] {
            rd(0x0318);
            rd(0x0319);
        });
        EXPECT_EQ(i == 0 ? "kestrel: drive 2: 'small/b.dsk' could not be written back: No space "
                           "left on device; the file keeps its old contents, the changes stay in "
                           "the drive for the next write-back\n"
                         : "",
                  said);
    }
    said = errors_of([] { EXPECT_EQ(1, fdc_flush()); });
    EXPECT_EQ("kestrel: drive 2: 'small/b.dsk' could not be written back: No space left on device; "
              "the drive's changes are lost, the file keeps its old contents\n",
              said);
    EXPECT_EQ(old, read_file("small/b.dsk"));
    EXPECT_EQ(old, read_file("small/a.dsk"));
    EXPECT_EQ(3, std::distance(std::filesystem::directory_iterator("small"), {}));
    umount("small");
}
