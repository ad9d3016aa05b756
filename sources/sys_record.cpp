#include "sys_record.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "log.h"
#include "sys_atomic.h"

constexpr uint32_t RECORD_RATE = 44100;
constexpr uint32_t RECORD_CHANNELS = 2;
constexpr uint32_t RECORD_FRAME = 2 * RECORD_CHANNELS; // bytes of one stereo frame
constexpr uint32_t WAV_HEADER = 44;
constexpr uint32_t WAV_RIFF_SIZE_AT = 4;
constexpr uint32_t WAV_DATA_SIZE_AT = 40;
// The sizes are 32-bit: past this the header could no longer count the data.
constexpr uint64_t WAV_DATA_MAX = 0xFFFFFFFFull - WAV_HEADER - RECORD_FRAME;

static struct {
    std::mutex lock;
    sys_atomic out;
    int fd = -1;         // the open recording's descriptor; -1 when none
    uint64_t data = 0;   // sample bytes on disk after the header
    std::string failure; // why the recording stopped early; empty while it runs well
} rec;

static void put32(uint8_t *at, uint32_t v) {
    for (int i = 0; i < 4; i++)
        at[i] = static_cast<uint8_t>(v >> (8 * i));
}

static int write_all(int fd, const uint8_t *bytes, size_t n, size_t *done) {
    *done = 0;
    while (*done < n) {
        ssize_t got = write(fd, bytes + *done, n - *done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return 1;
        *done += static_cast<size_t>(got);
    }
    return 0;
}

// The header's two sizes, from the bytes on disk. They sit in blocks the
// file already has, so a full disk does not stop them.
static int update_sizes() {
    uint8_t riff[4], data[4];
    put32(riff, static_cast<uint32_t>(rec.data + WAV_HEADER - 8));
    put32(data, static_cast<uint32_t>(rec.data));
    return pwrite(rec.fd, riff, 4, WAV_RIFF_SIZE_AT) != 4 ||
           pwrite(rec.fd, data, 4, WAV_DATA_SIZE_AT) != 4;
}

// An empty recording, put in place whole so that the name always holds a
// playable file: the old one until this one is there.
static int write_header(const char *path) {
    uint8_t h[WAV_HEADER] = {'R', 'I', 'F', 'F', 0,  0, 0, 0, 'W', 'A', 'V', 'E',
                             'f', 'm', 't', ' ', 16, 0, 0, 0, 1,   0,   0,   0};
    h[22] = RECORD_CHANNELS;
    put32(h + 24, RECORD_RATE);
    put32(h + 28, RECORD_RATE * RECORD_FRAME);
    h[32] = RECORD_FRAME;
    h[34] = 16;
    memcpy(h + 36, "data", 4);
    put32(h + WAV_RIFF_SIZE_AT, WAV_HEADER - 8);
    return sys_atomic_write(path, h, sizeof h);
}

// Stops taking samples after a failed write: what reached the disk is cut
// to whole frames and the header made to say exactly that.
static void give_up(const char *what, int err) {
    int cut = ftruncate(rec.fd, static_cast<off_t>(WAV_HEADER + rec.data));
    if (cut == 0) update_sizes(); // else the header still counts no more than is there
    char line[512];
    snprintf(line, sizeof line, "the recording '%s' stopped after %.1f s: %s%s",
             rec.out.path.c_str(), static_cast<double>(rec.data) / (RECORD_RATE * RECORD_FRAME),
             what, err ? strerror(err) : "");
    rec.failure = line;
    log_error("%s", line);
}

// Closes the file; 0 when everything written is on the disk.
static int finish(std::string *why) {
    rec.fd = -1;
    int failed = sys_atomic_commit(&rec.out);
    if (failed && rec.failure.empty()) rec.failure = sys_atomic_error();
    if (!rec.failure.empty()) failed = 1;
    if (why) *why = rec.failure;
    rec.failure.clear();
    return failed;
}

int sys_record_start(const char *path, std::string *why) {
    sys_record_stop();
    std::lock_guard<std::mutex> hold(rec.lock);
    rec.failure.clear();
    rec.data = 0;
    if (write_header(path) != 0 || sys_atomic_open_in_place(&rec.out, path) != 0) {
        if (why) *why = sys_atomic_error();
        return 1;
    }
    rec.fd = fileno(rec.out.file);
    // Someone may have changed the file in between: it must be our header alone.
    if (lseek(rec.fd, 0, SEEK_CUR) != WAV_HEADER) {
        rec.failure = std::string("'") + path + "' changed as the recording began";
        finish(why);
        return 1;
    }
    return 0;
}

int sys_record_stop(std::string *why) {
    std::lock_guard<std::mutex> hold(rec.lock);
    if (why) why->clear();
    if (rec.fd < 0) return 0;
    return finish(why);
}

bool sys_record_active() {
    std::lock_guard<std::mutex> hold(rec.lock);
    return rec.fd >= 0 && rec.failure.empty();
}

void sys_record_samples(const uint8_t *stream, int frames) {
    std::lock_guard<std::mutex> hold(rec.lock);
    if (rec.fd < 0 || !rec.failure.empty() || frames <= 0) return;
    size_t n = static_cast<size_t>(frames) * RECORD_FRAME;
    if (rec.data + n > WAV_DATA_MAX) {
        give_up("a WAV file holds no more", 0);
        return;
    }
    // The device format is little-endian, as the host is, and so is WAV.
    size_t done = 0;
    int failed = write_all(rec.fd, stream, n, &done);
    int err = errno;
    rec.data += done - done % RECORD_FRAME;
    if (failed) {
        give_up("", err);
        return;
    }
    if (update_sizes() != 0) give_up("", errno);
}
