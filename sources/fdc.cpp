#include "fdc.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fdc_image.h"
#include "log.h"
#include "sys_atomic.h"
#include "state.h"

constexpr unsigned FDC_BASE = 0x0310;
// Traces name a byte by slot and offset; the end gap shows as slot 0x10.
static_assert(FDC_SECTORS * FDC_SLOT_BYTES + 216 == FDC_TRACK_BYTES);

enum : uint8_t {
    SELECT_BUFFER = 0x01, // mode bit 0
    SELECT_WRITE = 0x02,  // mode bit 1
    SELECT_READ_DATA = 0,
    SELECT_SENSE = 1,
    SELECT_WRITE_STATUS = 2,
    SELECT_WRITE_DATA = 3,
};
constexpr uint8_t MOTOR_ON = 0x20;
constexpr uint8_t WRITE_READY = 0x80;
constexpr uint8_t LOWEST_DISK_BYTE = 0x96;
constexpr uint16_t LAST_HALFTRACK = 2 * (FDC_TRACKS - 1);

struct fdc_drive {
    int32_t dirty;         // tracks written since the last write-back
    int32_t write_protect; // mounted read-only
    uint16_t position;     // byte under the head, kept across steps
    uint16_t halftrack;    // 0..68; odd values reach the lower track
    int32_t loaded;        // 0: no disk
    std::string path;
    uint8_t tracks[FDC_TRACKS * FDC_TRACK_BYTES];
    // Per ring byte, the write that put it there (0: none since the mount),
    // so that the decoder knows a field cut short by a stopped write.
    uint8_t burst[FDC_TRACKS * FDC_TRACK_BYTES];
    uint64_t dirty_tracks; // bit t: track t written since the last write-back
    // The image as it was read or last stored: the content a write-back
    // expects to find in the file, and what sectors that cannot be decoded keep.
    uint8_t stored[FDC_IMAGE_SIZE];
    int lock_fd = -1;  // holds the advisory lock on the image (-1: none)
    bool store_failed; // a failed write-back has been said and not yet made good
};

static struct {
    fdc_drive disk_drive[2];
    fdc_drive *current_drive = disk_drive;
    uint8_t fdc_select = 0;   // bit 0 buffer latch, bit 1 write latch
    uint8_t fdc_motor_on = 0; // 0 or MOTOR_ON
    uint8_t fdc_write_ready = WRITE_READY;
    uint8_t fdc_volume = 254;      // written into every address field
    uint8_t burst = 1;             // number of the current write (never 0)
    uint8_t image[FDC_IMAGE_SIZE]; // scratch for mount and write-back
    uint8_t check[FDC_IMAGE_SIZE]; // the file as a write-back finds it
    fdc_teller_fn teller = nullptr;
    bool rewinding; // restores take the drives in place whatever their files hold
} fdc;

static int number_of(const fdc_drive &d) {
    return static_cast<int>(&d - fdc.disk_drive);
}

static char half_mark(uint16_t halftrack) {
    return (halftrack & 1) ? '+' : ' ';
}

static void trace_phase(int phase, const char *state) {
    uint16_t h = fdc.current_drive->halftrack;
    log_info_if(tr_on(1, TR_FDU), "{I} fdu: phase %d %s T:%.2d%c", phase, state, h / 2,
                half_mark(h));
}

static void trace_disk_byte(const char *tag, uint8_t value) {
    const fdc_drive &d = *fdc.current_drive;
    log_info_if(tr_on(1, TR_FDU), "%s fdu: T:%.2d%c S:%.2X.%.3d [%.2X]", tag, d.halftrack / 2,
                half_mark(d.halftrack), d.position / FDC_SLOT_BYTES, d.position % FDC_SLOT_BYTES,
                value);
}

static uint8_t *track_under_head(fdc_drive &d) {
    return d.tracks + (d.halftrack / 2) * FDC_TRACK_BYTES;
}

static void fdc_update_position() {
    if (!fdc.fdc_motor_on) return;
    fdc_drive &d = *fdc.current_drive;
    d.position = static_cast<uint16_t>((d.position + 1) % FDC_TRACK_BYTES);
}

// The head follows the phase turned on when it lies half a track away.
static void step_towards(int phase) {
    uint16_t &h = fdc.current_drive->halftrack;
    int offset = (phase + 4 - h % 4) % 4;
    if (offset == 1 && h < LAST_HALFTRACK) h++;
    if (offset == 3 && h > 0) h--;
    trace_phase(phase, "on ");
}

static void select_drive(int n) {
    if (fdc.current_drive == &fdc.disk_drive[n]) return;
    fdc_write_image(number_of(*fdc.current_drive));
    fdc.current_drive = &fdc.disk_drive[n];
}

static void fdc_switch(unsigned n) {
    switch (n) {
    case 0:
    case 2:
    case 4:
    case 6:
        trace_phase(static_cast<int>(n / 2), "off");
        break;
    case 1:
    case 3:
    case 5:
    case 7:
        step_towards(static_cast<int>((n - 1) / 2));
        break;
    case 8:
        fdc.fdc_motor_on = 0;
        fdc_write_image(number_of(*fdc.current_drive));
        break;
    case 9:
        fdc.fdc_motor_on = MOTOR_ON;
        break;
    case 10:
        select_drive(0);
        break;
    case 11:
        select_drive(1);
        break;
    case 12:
        fdc.fdc_select &= static_cast<uint8_t>(~SELECT_BUFFER);
        break;
    case 13:
        fdc.fdc_select |= SELECT_BUFFER;
        break;
    case 14:
        fdc.fdc_select &= static_cast<uint8_t>(~SELECT_WRITE);
        break;
    case 15:
        // Each stretch in write mode is one write: fields it cuts short
        // hold its bytes beside older ones.
        if (!(fdc.fdc_select & SELECT_WRITE))
            fdc.burst = static_cast<uint8_t>(fdc.burst == 255 ? 1 : fdc.burst + 1);
        fdc.fdc_select |= SELECT_WRITE;
        break;
    }
}

// --- image files ---------------------------------------------------------

// The file holds no handle for writing between mount and write-back: each
// store replaces it whole (sys_atomic), so a crash leaves the old image or
// the new. A read-write mount holds an advisory lock on the file, and each
// new copy is locked before it replaces the old one, so the lock never
// lapses and two kestrels never both own one image.

// A line the user sees whatever the verbosity: standard error, and the
// console when it is open.
static void tell(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
static void tell(const char *fmt, ...) {
    char line[600];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    fprintf(stderr, "kestrel: %s\n", line);
    fflush(stderr);
    if (fdc.teller) fdc.teller("%s", line);
}

// Reads the whole image at `path` into `into`; 1 when it is not exactly one
// image long. `size` gets the file's length (-1: no such file).
static int read_image(const char *path, uint8_t *into, long *size) {
    *size = -1;
    FILE *f = fopen(path, "rb");
    if (!f) return 1;
    struct stat st = {};
    int result = 1;
    if (fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode)) {
        *size = static_cast<long>(st.st_size);
        result = fread(into, 1, FDC_IMAGE_SIZE, f) != size_t{FDC_IMAGE_SIZE} || getc(f) != EOF;
    }
    fclose(f);
    return result;
}

static bool same_file(const char *a, const char *b) {
    struct stat sa, sb;
    return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// Why a write-back could not replace the image at `path`, or "" when it
// could: the new copy is made beside the file (a link's target) and renamed
// over it.
static std::string store_problem(const char *path) {
    char real[PATH_MAX];
    std::string target = realpath(path, real) ? real : path;
    std::string folder = target.substr(0, target.rfind('/') + 1);
    if (folder.empty()) folder = "./";
    if (faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) != 0)
        return std::string("it may not be written (") + strerror(errno) + ")";
    if (faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        return "its folder " + folder + " takes no new file (" + strerror(errno) + ")";
    struct stat file = {}, dir = {};
    uid_t me = geteuid();
    if (stat(target.c_str(), &file) == 0 && stat(folder.c_str(), &dir) == 0 &&
        (dir.st_mode & S_ISVTX) && me != 0 && file.st_uid != me && dir.st_uid != me)
        return "its folder " + folder + " is sticky and the file is not yours to replace";
    // What the writer itself refuses: a read-only file (root too), a file
    // with other names, one of another owner.
    std::string refused;
    if (sys_atomic_check(path, ATOMIC_REPLACE, &refused) != 0) return refused;
    struct statvfs fs = {};
    if (statvfs(folder.c_str(), &fs) == 0) {
        unsigned long long room = (me == 0 ? fs.f_bfree : fs.f_bavail) * fs.f_frsize;
        if (room < static_cast<unsigned long long>(FDC_IMAGE_SIZE))
            return "its file system has " + std::to_string(room / 1024) +
                   " KiB free, a write-back needs " + std::to_string(FDC_IMAGE_SIZE / 1024);
    }
    return "";
}

// The descriptor that holds the advisory lock on the file at `path`, or -1
// with errno EWOULDBLOCK when another process holds it. Where the file
// system keeps no locks the descriptor comes back unlocked.
static int lock_image(const char *path) {
    for (int tries = 0; tries < 10; tries++) {
        int fd = open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) return -1;
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            int err = errno;
            if (err != EWOULDBLOCK) return fd;
            close(fd);
            errno = err;
            return -1;
        }
        // The holder may have replaced the file before letting go: the lock
        // counts only on the file that is at `path` now.
        struct stat held, now;
        if (fstat(fd, &held) == 0 && stat(path, &now) == 0 && held.st_dev == now.st_dev &&
            held.st_ino == now.st_ino)
            return fd;
        close(fd);
    }
    errno = EWOULDBLOCK;
    return -1;
}

// Reads the image for drive d into its `stored` copy and builds its tracks;
// 1 with the reason logged. A read-write mount makes a missing or empty
// file a blank image.
static int open_image(fdc_drive &d, const char *path, int read_only) {
    FILE *f = fopen(path, "rb");
    bool missing = !f && !read_only && errno == ENOENT;
    if (!f && !missing) {
        log_error("fdc: can't open '%s': %s", path, strerror(errno));
        return 1;
    }
    struct stat st = {};
    bool regular = missing || (fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode));
    if (f) fclose(f);
    if (!regular) {
        log_error("fdc: '%s' is not a disk image file", path);
        return 1;
    }
    const fdc_drive &other = fdc.disk_drive[1 - number_of(d)];
    if (!missing && other.loaded && same_file(path, other.path.c_str())) {
        log_error("fdc: '%s' is in drive %d already", path, number_of(other) + 1);
        return 1;
    }
    if (missing || st.st_size == 0) {
        if (read_only) {
            log_error("fdc: '%s' is empty", path);
            return 1;
        }
        memset(fdc.image, 0, sizeof fdc.image);
        if (sys_atomic_write(path, fdc.image, sizeof fdc.image) != 0) {
            log_error("fdc: can't make '%s' a blank disk image", path);
            if (missing) log_error("fdc: can't open '%s' for writing", path);
            return 1;
        }
    }
    long size = 0;
    if (read_image(path, d.stored, &size) != 0) {
        if (size >= 0 && size != FDC_IMAGE_SIZE)
            log_error("fdc: '%s' has %ld bytes, a disk image has %ld", path, size, FDC_IMAGE_SIZE);
        else
            log_error("fdc: can't read '%s': %s", path, strerror(errno));
        return 1;
    }
    for (int t = 0; t < FDC_TRACKS; t++)
        fdc_image_encode_track(d.stored + t * FDC_IMAGE_TRACK_BYTES, t, fdc.fdc_volume,
                               d.tracks + t * FDC_TRACK_BYTES);
    return 0;
}

// A read-write mount keeps the disk writable only when its changes can be
// stored and no other process owns the image; otherwise it is write-protected,
// and the user is told why.
static void claim_image(fdc_drive &d) {
    const char *path = d.path.c_str();
    std::string why = store_problem(path);
    int fd = why.empty() ? lock_image(path) : -1;
    if (why.empty() && fd < 0)
        why = errno == EWOULDBLOCK ? "another program (a second kestrel?) has it in use"
                                   : std::string("it cannot be opened (") + strerror(errno) + ")";
    if (!why.empty()) {
        d.write_protect = 1;
        tell("drive %d: '%s' mounted write-protected: %s", number_of(d) + 1, path, why.c_str());
        return;
    }
    d.lock_fd = fd;
}

static void release_lock(fdc_drive &d) {
    if (d.lock_fd >= 0) close(d.lock_fd);
    d.lock_fd = -1;
}

// The first free name `path`.1, `path`.2, ..., made as an empty file so
// that nobody else takes it; "" when none can be made.
static std::string claim_sibling(const std::string &path) {
    for (int n = 1; n < 1000; n++) {
        std::string name = path + "." + std::to_string(n);
        int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            close(fd);
            return name;
        }
        if (errno != EEXIST) break;
    }
    return "";
}

// Replaces `path` with fdc.image; 0 with *lock_fd holding the lock on the
// new file, or 1 with the reason in *why and the old file as it was.
static int write_locked(const std::string &path, int *lock_fd, std::string *why) {
    sys_atomic a;
    errno = 0;
    if (sys_atomic_open(&a, path.c_str()) != 0) {
        *why = std::string("no new copy can be made beside it (") + strerror(errno) + ")";
        return 1;
    }
    // The new copy is locked before it takes the name, through a descriptor
    // that outlives the writer's own.
    int fd = dup(fileno(a.file));
    if (fd >= 0) flock(fd, LOCK_EX | LOCK_NB);
    // A short write leaves the stream's error set and errno saying why;
    // commit reports it.
    errno = 0;
    static_cast<void>(fwrite(fdc.image, 1, sizeof fdc.image, a.file));
    if (sys_atomic_commit(&a) != 0) {
        *why = strerror(errno ? errno : EIO);
        if (fd >= 0) close(fd);
        return 1;
    }
    *lock_fd = fd;
    return 0;
}

// One line per sector that keeps its old contents on a track the machine
// wrote: damaged, or not found at all.
static void report_damage(const fdc_drive &d, int t, const fdc_track_scan &scan) {
    unsigned missing = ~scan.found & 0xFFFF;
    for (int n = 0; n < scan.damaged; n++) {
        const fdc_damage &e = scan.damage[n];
        tell("drive %d: track %d sector %d: %s; the sector keeps its old contents in '%s'",
             number_of(d) + 1, t, e.sector, fdc_image_damage_text(e.kind), d.path.c_str());
        missing &= ~(1u << skewing[e.sector]);
    }
    std::string list;
    for (int s = 0; s < FDC_SECTORS; s++) {
        if (!(missing >> skewing[s] & 1)) continue;
        // Appended piece by piece: a "const char * + string" here made GCC's
        // link-time optimiser warn about a copy it cannot bound.
        if (!list.empty()) list += ", ";
        list += std::to_string(s);
    }
    if (!list.empty())
        tell("drive %d: track %d: no readable sector %s; the image keeps the old contents in '%s'",
             number_of(d) + 1, t, list.c_str(), d.path.c_str());
}

// Stores the tracks the machine wrote over the image as last read or
// stored. A file that changed since then is another writer's: it is left
// alone and the drive's disk moves to a sibling file. 0, or 1 with the
// reason in *why and the changes still pending.
static int store(fdc_drive &d, std::string *why) {
    if (!d.dirty || !d.loaded || d.write_protect) return 0;
    memcpy(fdc.image, d.stored, sizeof fdc.image);
    unsigned p = 0; // carries over from track to track, as the head would
    for (int t = 0; t < FDC_TRACKS; t++) {
        if (!(d.dirty_tracks >> t & 1)) continue; // decodes as it was stored
        fdc_track_scan scan;
        fdc_image_decode_track(d.tracks + t * FDC_TRACK_BYTES, &p,
                               fdc.image + t * FDC_IMAGE_TRACK_BYTES, &scan,
                               d.burst + t * FDC_TRACK_BYTES);
        report_damage(d, t, scan);
    }
    long size = 0;
    bool changed = read_image(d.path.c_str(), fdc.check, &size) != 0 ||
                   memcmp(fdc.check, d.stored, sizeof fdc.check) != 0;
    std::string target = changed ? claim_sibling(d.path) : d.path;
    if (target.empty()) {
        *why = "it was changed by another program, and no file beside it can be made for "
               "the drive's changes";
        return 1;
    }
    int fd = -1;
    if (write_locked(target, &fd, why) != 0) {
        if (changed) unlink(target.c_str());
        return 1;
    }
    release_lock(d);
    d.lock_fd = fd;
    if (changed) {
        tell("drive %d: '%s' was changed by another program since kestrel read it, so it is "
             "left as it is; the drive's disk, with kestrel's changes, is now '%s'",
             number_of(d) + 1, d.path.c_str(), target.c_str());
        d.path = target;
    }
    memcpy(d.stored, fdc.image, sizeof d.stored);
    d.dirty = 0;
    d.dirty_tracks = 0;
    return 0;
}

// --- public --------------------------------------------------------------

int fdc_init() {
    fdc.current_drive = &fdc.disk_drive[0];
    fdc.fdc_write_ready = WRITE_READY;
    fdc.fdc_volume = 254;
    fdc.fdc_select = 0;
    fdc.fdc_motor_on = 0;
    return 0;
}

void fdc_set_teller(fdc_teller_fn fn) {
    fdc.teller = fn;
}

int fdc_read(unsigned addr, uint8_t *out) {
    unsigned n = (addr - FDC_BASE) & 0x0F;
    fdc_switch(n);
    uint8_t result = 0;
    if (!(n & 1)) {
        if (fdc.fdc_write_ready == 0) fdc.fdc_write_ready = WRITE_READY;
        fdc_drive &d = *fdc.current_drive;
        switch (fdc.fdc_select) {
        case SELECT_READ_DATA:
            fdc_update_position();
            if (!d.loaded) {
                result = 0xFF;
                break;
            }
            result = track_under_head(d)[d.position];
            trace_disk_byte("{R}", result);
            break;
        case SELECT_SENSE:
            result = static_cast<uint8_t>(d.write_protect | fdc.fdc_motor_on);
            break;
        case SELECT_WRITE_STATUS:
            result = fdc.fdc_write_ready;
            break;
        default:
            break;
        }
    }
    *out = result;
    log_info_if(tr_on(1, TR_FDC), "{R} fdc: %04X:%02X", addr & 0xFFFF, result);
    return 0;
}

int fdc_write(unsigned addr, uint8_t value) {
    log_info_if(tr_on(1, TR_FDC), "{W} fdc: %04X:%02X", addr & 0xFFFF, value);
    unsigned n = (addr - FDC_BASE) & 0x0F;
    fdc_switch(n);
    if (!(n & 1) || fdc.fdc_select != SELECT_WRITE_DATA || !fdc.fdc_motor_on ||
        !fdc.fdc_write_ready)
        return 0;
    fdc_update_position();
    fdc_drive &d = *fdc.current_drive;
    if (d.loaded && !d.write_protect && value >= LOWEST_DISK_BYTE) {
        track_under_head(d)[d.position] = value;
        unsigned track = d.halftrack / 2;
        d.burst[track * FDC_TRACK_BYTES + d.position] = fdc.burst;
        d.dirty_tracks |= uint64_t{1} << track;
        d.dirty = 1;
        trace_disk_byte("{W}", value);
    }
    fdc.fdc_write_ready = 0;
    return 0;
}

int fdc_mount(const char *path, int drive, int read_only) {
    fdc_drive &d = fdc.disk_drive[drive & 1];
    fdc_umount(drive & 1); // a failure is said there
    d.path = path ? path : "";
    d.loaded = open_image(d, d.path.c_str(), read_only) == 0;
    d.write_protect = d.loaded && read_only ? 1 : 0;
    if (d.loaded && !read_only) claim_image(d);
    d.dirty = 0;
    d.dirty_tracks = 0;
    d.store_failed = false;
    memset(d.burst, 0, sizeof d.burst);
    d.position = 0;
    d.halftrack = 0;
    return d.loaded ? 0 : 1;
}

int fdc_umount(int drive) {
    fdc_drive &d = fdc.disk_drive[drive & 1];
    int result = 0;
    std::string why;
    if (d.loaded && store(d, &why) != 0) {
        tell("drive %d: '%s' could not be written back: %s; the drive's changes are lost, the "
             "file keeps its old contents",
             (drive & 1) + 1, d.path.c_str(), why.c_str());
        result = 1;
    }
    release_lock(d);
    d.loaded = 0;
    d.position = 0;
    d.dirty = 0;
    d.halftrack = 0;
    return result;
}

void fdc_state_rewinding(int on) {
    fdc.rewinding = on != 0;
}

const char *fdc_image_path(int drive) {
    const fdc_drive &d = fdc.disk_drive[drive & 1];
    return d.loaded ? d.path.c_str() : "";
}

int fdc_flush() {
    int first = fdc_umount(0);
    int second = fdc_umount(1);
    return first | second;
}

int fdc_write_image(int drive) {
    fdc_drive &d = fdc.disk_drive[drive & 1];
    std::string why;
    if (store(d, &why) == 0) {
        d.store_failed = false;
        return 0;
    }
    // Said once: the machine may turn the motor off many times before it works.
    if (!d.store_failed)
        tell("drive %d: '%s' could not be written back: %s; the file keeps its old contents, "
             "the changes stay in the drive for the next write-back",
             (drive & 1) + 1, d.path.c_str(), why.c_str());
    d.store_failed = true;
    return 1;
}

// ---- saved state ----

// The image file as it is, hashed; 1 when it is not a whole image.
static int hash_file(const char *path, uint64_t *hash) {
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return 1; // a FIFO would hold us
    FILE *f = fopen(path, "rb");
    if (!f) return 1;
    size_t got = fread(fdc.image, 1, sizeof fdc.image, f);
    bool longer = fgetc(f) != EOF;
    fclose(f);
    if (got != sizeof fdc.image || longer) return 1;
    *hash = state_hash(fdc.image, sizeof fdc.image);
    return 0;
}

void fdc_state_save(std::vector<uint8_t> &out) {
    state_put(out, static_cast<uint8_t>(number_of(*fdc.current_drive)));
    state_put(out, fdc.fdc_select);
    state_put(out, fdc.fdc_motor_on);
    state_put(out, fdc.fdc_write_ready);
    state_put(out, fdc.fdc_volume);
    for (fdc_drive &d : fdc.disk_drive) {
        bool mounted = d.loaded != 0;
        uint64_t hash = 0;
        // The file as it is now, whatever the tracks hold that it does not.
        if (mounted) hash_file(d.path.c_str(), &hash);
        state_put(out, static_cast<uint8_t>(mounted));
        state_put(out, static_cast<uint8_t>(d.write_protect));
        state_put(out, static_cast<uint8_t>(d.dirty));
        state_put(out, d.position);
        state_put(out, d.halftrack);
        state_put(out, static_cast<uint16_t>(mounted ? d.path.size() : 0));
        if (mounted) state_put_bytes(out, d.path.data(), d.path.size());
        state_put(out, hash);
        if (mounted) state_put_bytes(out, d.tracks, sizeof d.tracks);
    }
}

struct saved_drive {
    uint8_t mounted, write_protect, dirty;
    uint16_t position, halftrack;
    std::string path;
    uint64_t hash;
    const uint8_t *tracks;
};

// Every link resolved; "" when it is not there.
static std::string real_path(const char *path) {
    char *real = realpath(path, nullptr);
    if (!real) return "";
    std::string r = real;
    free(real);
    return r;
}

// The folder a file is in; "" when the file is not there.
static std::string folder_of(const char *path) {
    std::string r = real_path(path);
    size_t slash = r.rfind('/');
    return slash == std::string::npos ? "" : r.substr(0, slash > 0 ? slash : 1);
}

// Files the user had in the drives when a restore began: theirs to go on with.
struct file_id {
    dev_t dev;
    ino_t ino;
};

static bool same_file(const char *path, const file_id &id) {
    struct stat st;
    return stat(path, &st) == 0 && st.st_dev == id.dev && st.st_ino == id.ino;
}

// A state names its images itself, and one from a stranger could name any
// file whose contents are known, to be overwritten at the next write-back.
// Only images beside the state file or in the working folder are taken, or
// the ones the user had mounted.
static bool image_allowed(const char *path, const file_id *mounted, int count) {
    for (int i = 0; i < count; i++)
        if (same_file(path, mounted[i])) return true;
    std::string folder = folder_of(path);
    if (folder.empty()) return true; // not there: the hash says it is gone
    std::string here = real_path(".");
    if (folder == here) return true;
    const char *state_file = state_path();
    return *state_file && folder == folder_of(state_file);
}

static bool image_in_place(const char *path, const file_id *mounted, int count) {
    for (int i = 0; i < count; i++)
        if (same_file(path, mounted[i])) return true;
    return false;
}

// Mounts a saved drive when its file is unchanged, without ever writing it.
static void restore_drive(int n, const saved_drive &s, const file_id *mounted, int count) {
    fdc_drive &d = fdc.disk_drive[n];
    uint64_t hash = 0;
    if (s.mounted) {
        const char *path = s.path.c_str();
        if (!image_allowed(path, mounted, count))
            state_report("drive %d: '%s' is neither beside the state nor in the working folder: "
                         "left empty (mount it to use it)",
                         n + 1, path);
        else if ((hash_file(path, &hash) != 0 || hash != s.hash) &&
                 !(fdc.rewinding && image_in_place(path, mounted, count)))
            state_report("drive %d: '%s' is gone or changed since the state was saved: "
                         "left empty, the file as it is",
                         n + 1, path);
        else if (fdc_mount(path, n, s.write_protect) != 0)
            state_report("drive %d: '%s' can't be opened: left empty", n + 1, path);
        else {
            memcpy(d.tracks, s.tracks, sizeof d.tracks);
            // Unknown which tracks: all are decoded at the next write-back.
            // A rewound disk differs from its file by what the future wrote.
            bool rewound = hash != s.hash;
            d.dirty = (s.dirty || rewound) && !d.write_protect;
            d.dirty_tracks = d.dirty ? (uint64_t{1} << FDC_TRACKS) - 1 : 0;
            if (s.dirty && d.write_protect)
                state_report("drive %d: the state's unstored changes to '%s' cannot be "
                             "stored, the disk is write-protected",
                             n + 1, path);
        }
    }
    d.position = s.position;
    d.halftrack = s.halftrack;
}

int fdc_state_load(const uint8_t *data, size_t size, int apply) {
    uint8_t current = 0, select = 0, motor = 0, write_ready = 0, volume = 0;
    saved_drive drive[2];
    state_reader in{data, size};
    in.get(current);
    in.get(select);
    in.get(motor);
    in.get(write_ready);
    in.get(volume);
    for (saved_drive &s : drive) {
        uint16_t length = 0;
        in.get(s.mounted);
        in.get(s.write_protect);
        in.get(s.dirty);
        in.get(s.position);
        in.get(s.halftrack);
        in.get(length);
        const uint8_t *name = in.take(length);
        if (name) s.path.assign(reinterpret_cast<const char *>(name), length);
        in.get(s.hash);
        s.tracks = s.mounted ? in.take(FDC_TRACKS * FDC_TRACK_BYTES) : nullptr;
    }
    if (in.finish("fdc")) return 1;
    if (current > 1 || select > 3 || (motor != 0 && motor != MOTOR_ON) ||
        (write_ready != 0 && write_ready != WRITE_READY))
        return state_refuse("fdc: controller value out of range");
    for (int n = 0; n < 2; n++) {
        const saved_drive &s = drive[n];
        if (s.halftrack > LAST_HALFTRACK)
            return state_refuse("fdc: drive %d at track %d, past the last (%d)", n + 1,
                                s.halftrack / 2, FDC_TRACKS - 1);
        if (s.position >= FDC_TRACK_BYTES || (s.mounted | s.write_protect | s.dirty) > 1 ||
            (s.mounted && s.path.empty()))
            return state_refuse("fdc: drive %d value out of range", n + 1);
    }
    if (!apply) return 0;
    file_id mounted[2];
    int count = 0;
    struct stat st;
    for (fdc_drive &d : fdc.disk_drive)
        if (d.loaded && stat(d.path.c_str(), &st) == 0) mounted[count++] = {st.st_dev, st.st_ino};
    fdc_flush();
    fdc.current_drive = &fdc.disk_drive[current];
    fdc.fdc_select = select;
    fdc.fdc_motor_on = motor;
    fdc.fdc_write_ready = write_ready;
    fdc.fdc_volume = volume;
    for (int n = 0; n < 2; n++)
        restore_drive(n, drive[n], mounted, count);
    return 0;
}
