#include "sys_record.h"

#include <sndfile.h>

#include <mutex>

#include "log.h"
#include "sys_atomic.h"

constexpr int RECORD_RATE = 44100;

static struct {
    std::mutex lock;
    sys_atomic out;
    SNDFILE *wav;
} rec;

int sys_record_start(const char *path) {
    sys_record_stop();
    std::lock_guard<std::mutex> hold(rec.lock);
    if (sys_atomic_open(&rec.out, path) != 0) return 1;
    SF_INFO info{};
    info.samplerate = RECORD_RATE;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    rec.wav = sf_open_fd(fileno(rec.out.file), SFM_WRITE, &info, 0);
    if (!rec.wav) {
        log_error("can't record to '%s': %s", path, sf_strerror(nullptr));
        sys_atomic_abort(&rec.out);
        return 1;
    }
    sf_command(rec.wav, SFC_SET_UPDATE_HEADER_AUTO, nullptr, SF_TRUE);
    return 0;
}

int sys_record_stop() {
    std::lock_guard<std::mutex> hold(rec.lock);
    if (!rec.wav) return 0;
    int failed = sf_close(rec.wav) != 0;
    rec.wav = nullptr;
    if (failed) {
        log_error("can't finish the recording '%s'", rec.out.path.c_str());
        sys_atomic_abort(&rec.out);
        return 1;
    }
    return sys_atomic_commit(&rec.out);
}

bool sys_record_active() {
    std::lock_guard<std::mutex> hold(rec.lock);
    return rec.wav != nullptr;
}

void sys_record_samples(const uint8_t *stream, int frames) {
    std::lock_guard<std::mutex> hold(rec.lock);
    if (!rec.wav || frames <= 0) return;
    // The device format is little-endian, as the host is.
    sf_writef_short(rec.wav, reinterpret_cast<const short *>(stream), frames);
}
