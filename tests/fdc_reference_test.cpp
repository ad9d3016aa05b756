// The disk controller against a codec written here from the format alone: the
// 64 disk bytes from their rule, 4-and-4 address fields, 6-and-2 data fields
// with the running XOR, the sector skew. It reads what the controller streams
// and writes sectors through the soft switches the way the disk software does:
// find the address field, write a gap, then the data field.
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <map>
#include <random>
#include <tuple>

#include "fdc.h"
#include "fixture.h"

namespace {

using bytes = std::vector<uint8_t>;

constexpr unsigned Q6L = 0x031C, Q6H = 0x031D, Q7L = 0x031E, Q7H = 0x031F;
constexpr int skew[16] = {0, 7, 14, 6, 13, 5, 12, 4, 11, 3, 10, 2, 9, 1, 8, 15};

// Disk bytes: the high bit set, two adjacent ones among the low seven bits, at
// most one pair of adjacent zeros; D5 and AA are kept for the marks.
struct disk_byte_table {
    std::array<uint8_t, 64> of{};
    std::array<int, 256> value{};
    disk_byte_table() {
        value.fill(-1);
        int n = 0;
        for (int b = 0x80; b < 0x100; b++) {
            bool ones = false;
            int zeros = 0;
            for (int i = 0; i < 6; i++) { // bit pairs 0-1 to 5-6; 6-7 cannot be two zeros
                ones |= (b >> i & 3) == 3;
                zeros += (b >> i & 3) == 0;
            }
            if (ones && zeros <= 1 && b != 0xD5 && b != 0xAA) {
                value[b] = n;
                of[n++] = uint8_t(b);
            }
        }
        EXPECT_EQ(64, n);
    }
};
const disk_byte_table table;

bytes operator+(bytes a, const bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

unsigned swap2(unsigned x) {
    return (x & 1) << 1 | (x >> 1 & 1);
}

bytes four_and_four(unsigned v) {
    return {uint8_t(v >> 1 | 0xAA), uint8_t(v | 0xAA)};
}

unsigned from_four_and_four(uint8_t a, uint8_t b) {
    return (a << 1 | 1) & b & 0xFF;
}

bytes address_field(int t, int s) {
    bytes f = {0xD5, 0xAA, 0x96};
    for (unsigned v : {254u, unsigned(t), unsigned(s), 254u ^ t ^ s})
        for (uint8_t b : four_and_four(v))
            f.push_back(b);
    return f + bytes{0xDE, 0xAA, 0xEB};
}

// Prologue, 86 values of low bit pairs, 256 of high six bits, each sent XOR the
// one before, the last value as checksum, epilogue.
bytes data_field(const uint8_t *d) {
    std::vector<unsigned> v;
    for (int k = 0; k < 86; k++)
        v.push_back(swap2(d[k]) | swap2(d[k + 86]) << 2 |
                    (k + 172 < 256 ? swap2(d[k + 172]) << 4 : 0));
    for (int k = 0; k < 256; k++)
        v.push_back(d[k] >> 2);
    bytes f = {0xD5, 0xAA, 0xAD};
    unsigned before = 0;
    for (unsigned x : v) {
        f.push_back(table.of[x ^ before]);
        before = x;
    }
    f.push_back(table.of[before]);
    return f + bytes{0xDE, 0xAA, 0xEB};
}

// The 343 bytes after a data prologue; false unless they are disk bytes that add up.
bool read_data(const uint8_t *in, uint8_t *d) {
    unsigned v[342], before = 0;
    for (int i = 0; i < 343; i++) {
        int x = table.value[in[i]];
        if (x < 0) return false;
        if (i == 342) return unsigned(x) == before;
        v[i] = before = unsigned(x) ^ before;
        if (i >= 86)
            d[i - 86] = uint8_t(v[i] << 2 | swap2(v[(i - 86) % 86] >> 2 * ((i - 86) / 86) & 3));
    }
    return false;
}

// The sectors of one revolution, by physical number: good address and data fields only.
std::map<int, bytes> read_track(const bytes &ring, int t) {
    bytes twice = ring + ring;
    std::map<int, bytes> found;
    for (size_t i = 0; i < ring.size(); i++) {
        const uint8_t *a = &twice[i];
        if (a[0] != 0xD5 || a[1] != 0xAA || a[2] != 0x96) continue;
        unsigned f[4];
        for (int k = 0; k < 4; k++)
            f[k] = from_four_and_four(a[3 + 2 * k], a[4 + 2 * k]);
        if ((f[0] ^ f[1] ^ f[2]) != f[3] || a[11] != 0xDE || a[12] != 0xAA || int(f[1]) != t)
            continue;
        for (size_t k = i + 14; k < i + 14 + 32; k++) {
            const uint8_t *p = &twice[k];
            bytes d(256);
            if (p[0] == 0xD5 && p[1] == 0xAA && p[2] == 0xAD) {
                if (read_data(p + 3, d.data()) && p[346] == 0xDE && p[347] == 0xAA)
                    found[int(f[2])] = d;
                break;
            }
        }
    }
    return found;
}

uint8_t rd(unsigned addr) {
    uint8_t v = 0;
    fdc_read(addr, &v);
    return v;
}

// The disk software's side of drive 1: a phase on, the last one off, a half-track
// at a time; bytes read in read mode; bytes written with the handshake.
struct software {
    int half = 0;
    void start() {
        rd(0x031A);
        rd(0x0319);
        rd(Q6L);
        rd(Q7L);
    }
    void seek(int t) {
        while (half != 2 * t) {
            int next = half + (2 * t > half ? 1 : -1);
            rd(0x0311 + 2 * (next % 4));
            rd(0x0310 + 2 * (half % 4));
            half = next;
        }
    }
    bytes revolution() {
        bytes r(6200);
        for (uint8_t &b : r)
            b = rd(Q6L);
        return r;
    }
    // Reads on to the address field of physical sector `want` (-1: the next one) on
    // track t, through its DE AA; the sector's number, -1 when none comes.
    int find_address(int t, int want) {
        for (int n = 0; n < 3 * 6200; n++) {
            if (rd(Q6L) != 0xD5 || rd(Q6L) != 0xAA || rd(Q6L) != 0x96) continue;
            uint8_t f[8];
            for (uint8_t &b : f)
                b = rd(Q6L);
            unsigned trk = from_four_and_four(f[2], f[3]), sec = from_four_and_four(f[4], f[5]);
            if ((from_four_and_four(f[0], f[1]) ^ trk ^ sec) != from_four_and_four(f[6], f[7]))
                continue;
            if (rd(Q6L) == 0xDE && rd(Q6L) == 0xAA && int(trk) == t &&
                (want < 0 || int(sec) == want))
                return int(sec);
        }
        return -1;
    }
    // Writes `b` from the next byte on; true when `stop` cut it short.
    bool write(const bytes &b, const volatile sig_atomic_t *stop = nullptr) {
        rd(Q7H);
        size_t n = 0;
        for (; n < b.size() && !(stop && *stop); n++) {
            fdc_write(Q6H, b[n]);
            rd(Q6L);
        }
        rd(Q7L);
        return n > 0 && n < b.size();
    }
};

bytes random_image(unsigned seed) {
    bytes b(143360);
    std::generate(b.begin(), b.end(), std::mt19937(seed));
    return b;
}

// What f prints on standard error.
template <typename F> std::string said_by(const F &f) {
    testing::internal::CaptureStderr();
    f();
    return testing::internal::GetCapturedStderr();
}

struct FdcReference : ::testing::Test {
    TempDir dir;
    void SetUp() override {
        log_verbosity(0);
        fdc_init();
    }
    void TearDown() override {
        fdc_flush();
        fdc_init();
    }
};

} // namespace

TEST_F(FdcReference, EveryTrackTheControllerStreamsDecodesToTheImage) {
    for (unsigned seed : {1u, 2u}) {
        bytes image = random_image(seed);
        if (seed == 2) std::fill(image.begin(), image.begin() + 4096, 0xFF); // all-ones sectors
        write_file("r.dsk", image);
        ASSERT_EQ(0, fdc_mount("r.dsk", 0, 1));
        software sw;
        sw.start();
        for (int t = 0; t < 35; t++) {
            sw.seek(t);
            std::map<int, bytes> found = read_track(sw.revolution(), t);
            ASSERT_EQ(16u, found.size()) << t;
            for (auto &[s, d] : found)
                EXPECT_TRUE(std::equal(d.begin(), d.end(), &image[(t * 16 + skew[s]) * 256]))
                    << "track " << t << " sector " << s;
        }
    }
}

TEST_F(FdcReference, SectorsWrittenAsTheDiskSoftwareDoesReachTheFile) {
    // Track, physical sector, the bytes written between the address field and the
    // data field, how the field is spoilt (none, checksum, cut after n bytes), what the
    // user is told. Sector -1: the track is formatted anew, a gap of `gap` bytes
    // between sectors, every sector zero.
    enum { WHOLE, BAD_SUM, CUT };
    const bytes ff5(5, 0xFF), ff3(3, 0xFF), ff9(9, 0xFF);
    const bytes stray = {0xFF, 0xFF, 0xD5, 0xAA, 0x96, 0xFF, 0xFF};
    const std::tuple<int, int, bytes, int, int, std::string> rows[] = {
        {0, 0, ff5, WHOLE, 0, ""},
        {17, 5, ff3, WHOLE, 0, ""},
        {34, 15, ff9, WHOLE, 0, ""},
        {9, 3, stray, WHOLE, 0, ""},
        {20, 7, ff5, BAD_SUM, 0, "track 20 sector 7: data checksum wrong;"},
        {21, 8, ff5, CUT, 200, "track 21 sector 8: data field cut short;"},
        {12, -1, {}, WHOLE, 16, ""}, // exactly one revolution
        {13, -1, {}, WHOLE, 8, ""},  // short: old bytes stay at its end
    };
    for (auto &[t, s, gap, spoil, n, says] : rows) {
        bytes image = random_image(unsigned(t)), want = image;
        write_file("w.dsk", image);
        ASSERT_EQ(0, fdc_mount("w.dsk", 0, 0));
        software sw;
        sw.start();
        sw.seek(t);
        if (s < 0) { // as the formatter does: one pass, from wherever the head is
            bytes track(40, 0xFF), zero(256, 0);
            for (int p = 0; p < 16; p++)
                track = track + address_field(t, p) + bytes(6, 0xFF) + data_field(zero.data()) +
                        bytes(size_t(n), 0xFF);
            sw.write(track);
            std::fill_n(want.begin() + t * 4096, 4096, 0);
        } else {
            bytes d(256);
            for (int i = 0; i < 256; i++)
                d[size_t(i)] = uint8_t(i * 7 + t);
            bytes field = gap + data_field(d.data());
            if (spoil == BAD_SUM)
                field[gap.size() + 345] = field[gap.size() + 345] == 0x96 ? 0x97 : 0x96;
            if (spoil == CUT) field.resize(gap.size() + size_t(n));
            ASSERT_EQ(s, sw.find_address(t, s));
            sw.write(field);
            if (spoil == WHOLE)
                std::copy(d.begin(), d.end(), want.begin() + (t * 16 + skew[s]) * 256);
        }
        std::string err = said_by([] { rd(0x0318); });
        EXPECT_EQ(want, read_file("w.dsk")) << "track " << t << " sector " << s;
        EXPECT_EQ(says.empty() ? ""
                               : "kestrel: drive 1: " + says +
                                     " the sector keeps its old contents in 'w.dsk'\n",
                  err);
        rd(0x0319);
        std::map<int, bytes> back = read_track(sw.revolution(), t); // as the machine sees it now
        EXPECT_EQ(size_t(spoil == WHOLE ? 16 : 15), back.size()) << t;
        for (auto &[p, d] : back) {
            EXPECT_TRUE(spoil != WHOLE ||
                        std::equal(d.begin(), d.end(), &want[(t * 16 + skew[p]) * 256]))
                << t << p;
        }
    }
}

namespace {
volatile sig_atomic_t stop_writing = 0;

// What the child writes in its v-th sector: v first, then bytes that differ (a field
// half old and half new, both of one value each, would decode to one value again).
bytes pattern(uint8_t v) {
    bytes d(256);
    for (int i = 0; i < 256; i++)
        d[size_t(i)] = uint8_t(v + i * 37);
    return d;
}
} // namespace

TEST_F(FdcReference, SigtermDuringWritesLeavesEverySectorOldOrNew) {
    // The child writes sector after sector, each with its own pattern, and on
    // SIGTERM stops between two bytes and ejects the disk, as the program does. Every
    // sector of the file must then be the old one or one written whole.
    bytes image = random_image(9);
    std::mt19937 random(11);
    int cuts = 0;
    for (int round = 0; round < 12; round++) {
        write_file("k.dsk", image);
        int ready[2];
        ASSERT_EQ(0, pipe(ready));
        pid_t pid = fork();
        if (pid == 0) {
            signal(SIGTERM, [](int) { stop_writing = 1; });
            if (!freopen("/dev/null", "w", stderr)) _exit(2);
            fdc_mount("k.dsk", 0, 0);
            software sw;
            sw.start();
            std::vector<bytes> fields(251); // made first: the signal should find it writing
            for (int v = 1; v <= 250; v++)
                fields[size_t(v)] = bytes(5, 0xFF) + data_field(pattern(uint8_t(v)).data());
            if (write(ready[1], "r", 1) != 1) _exit(3);
            bool cut = false;
            for (uint8_t v = 1; !stop_writing; v = uint8_t(v % 250 + 1)) {
                sw.seek(v % 3);
                if (sw.find_address(v % 3, -1) >= 0) cut = sw.write(fields[v], &stop_writing);
            }
            _exit(fdc_flush() != 0 ? 1 : cut ? 0 : 4);
        }
        close(ready[1]);
        char c;
        ASSERT_EQ(1, read(ready[0], &c, 1));
        close(ready[0]);
        usleep(std::uniform_int_distribution<useconds_t>(1000, 30000)(random));
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status)) << round;
        EXPECT_NE(1, WEXITSTATUS(status)) << round;
        cuts += WEXITSTATUS(status) == 0;
        bytes disk = read_file("k.dsk");
        ASSERT_EQ(image.size(), disk.size());
        for (size_t at = 0; at < disk.size(); at += 256) {
            bool old =
                std::equal(disk.begin() + long(at), disk.begin() + long(at) + 256, &image[at]);
            bool whole =
                pattern(disk[at]) == bytes(disk.begin() + long(at), disk.begin() + long(at) + 256);
            EXPECT_TRUE(old || whole) << "round " << round << " sector at " << at;
        }
    }
    EXPECT_GE(cuts, 6); // most stops fall inside a data field
}
