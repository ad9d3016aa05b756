#include "sys_replay.h"

#include <zlib.h>

#include <atomic>
#include <cstdarg>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fdc.h"
#include "state.h"
#include "sys_atomic.h"
#include "sys_core.h"
#include "sys_data.h"
#include "sys_file.h"
#include "sys_state.h"
#include "via_6522_tapein.h"

constexpr char REPLAY_MAGIC[8] = {'K', 'E', 'S', 'T', 'R', 'P', 'L', 0x1A};
constexpr size_t REPLAY_HEADER = 16;             // magic, version, body length
constexpr uint32_t REPLAY_BODY_MAX = 256u << 20; // hours of typing, hundreds of loads
constexpr long REPLAY_FILE_MAX = 64L << 20;
constexpr uint8_t TAG_EVENT = 'E', TAG_STATE = 'S', TAG_FILE = 'F';

struct replay_entry {
    uint8_t tag;
    uint32_t frame;
    uint32_t at;                // 'E': cycle in the frame
    event ev;                   // 'E'
    uint8_t drive;              // 'F'
    uint64_t hash;              // 'F'
    std::string name;           // 'F'
    std::vector<uint8_t> state; // 'S'
};

static struct {
    // Recording: its file, the entries so far, the lock count seen last.
    bool recording;
    std::string path;
    std::vector<replay_entry> entries;
    uint64_t takes;
    uint32_t refresh;
    uint64_t rom_hash, dos_hash;
    // Both: the frame now running and the next one.
    long now, next;
    // Replaying: the entries, the next one to apply, the frames in all.
    std::vector<replay_entry> replay;
    size_t cursor;
    long length;
    std::atomic<long> left{0};
} rec;

static int refuse(std::string *why, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
static int refuse(std::string *why, const char *fmt, ...) {
    char line[512];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    *why = line;
    return 1;
}

// 1 when the file cannot be read whole (or is longer than `limit`).
static int read_whole(const char *path, std::vector<uint8_t> &out, long limit) {
    FILE *f = fopen(path, "rb");
    if (!f) return 1;
    uint8_t chunk[65536];
    size_t got;
    out.clear();
    while ((got = fread(chunk, 1, sizeof chunk, f)) > 0 && out.size() <= static_cast<size_t>(limit))
        out.insert(out.end(), chunk, chunk + got);
    bool failed = ferror(f) != 0 || out.size() > static_cast<size_t>(limit);
    fclose(f);
    return failed ? 1 : 0;
}

// The file's hash; 0 when it cannot be read.
static uint64_t hash_of(const char *path) {
    std::vector<uint8_t> bytes;
    if (read_whole(path, bytes, 1L << 20) != 0) return 0;
    return state_hash(bytes.data(), bytes.size());
}

static void rom_hashes(uint64_t *rom, uint64_t *dos) {
    *rom = hash_of(sys_data_path("z5.rom").c_str());
    *dos = hash_of(sys_data_path("z5dos.rom").c_str());
}

constexpr uint8_t TAPE = 2; // an 'F' entry's drive number for the tape

// "drive 1: disk image 'x.dsk'" or "tape 'x.tap'", for refusal lines.
static std::string what(const replay_entry &e) {
    if (e.drive == TAPE) return "tape '" + e.name + "'";
    return "drive " + std::to_string(e.drive + 1) + ": disk image '" + e.name + "'";
}

static void add_images(uint32_t frame) {
    for (int n = 0; n <= TAPE; n++) {
        const char *path = n == TAPE ? via_6522_tapein_path() : fdc_image_path(n);
        if (!*path) continue;
        replay_entry e{};
        e.tag = TAG_FILE;
        e.frame = frame;
        e.drive = static_cast<uint8_t>(n);
        e.hash = hash_of(path);
        e.name = path;
        rec.entries.push_back(std::move(e));
    }
}

// The whole machine at the start of the frame now running.
static int add_state(uint32_t frame) {
    replay_entry e{};
    e.tag = TAG_STATE;
    e.frame = frame;
    if (sys_state_write(e.state) != 0) return 1;
    add_images(frame);
    rec.entries.push_back(std::move(e));
    return 0;
}

static void heard(const event &ev, uint64_t at) {
    // The zoom is the window's, not the machine's.
    if (ev.code == EV_ZOOM_IN || ev.code == EV_ZOOM_OUT) return;
    replay_entry e{};
    e.tag = TAG_EVENT;
    e.frame = static_cast<uint32_t>(rec.now);
    e.at = static_cast<uint32_t>(at);
    e.ev = ev;
    rec.entries.push_back(std::move(e));
}

int sys_replay_record(const char *path, std::string *why) {
    rec.entries.clear();
    rec.path = path;
    rec.now = 0;
    rec.next = 0;
    rec.refresh = static_cast<uint32_t>(refresh);
    rom_hashes(&rec.rom_hash, &rec.dos_hash);
    if (add_state(0) != 0) return refuse(why, "the machine's start could not be kept");
    rec.takes = sys_machine_takes();
    rec.recording = true;
    sys_input.heard = heard;
    return 0;
}

static std::vector<uint8_t> encode() {
    std::vector<uint8_t> body;
    state_put(body, static_cast<uint16_t>(rec.refresh));
    state_put(body, rec.rom_hash);
    state_put(body, rec.dos_hash);
    state_put(body, static_cast<uint32_t>(rec.next));
    for (const replay_entry &e : rec.entries) {
        state_put(body, e.tag);
        state_put(body, e.frame);
        if (e.tag == TAG_EVENT) {
            state_put(body, e.at);
            state_put(body, static_cast<uint8_t>(e.ev.code));
            state_put(body, static_cast<uint32_t>(e.ev.value));
        } else if (e.tag == TAG_STATE) {
            state_put(body, static_cast<uint32_t>(e.state.size()));
            state_put_bytes(body, e.state.data(), e.state.size());
        } else {
            state_put(body, e.drive);
            state_put(body, e.hash);
            state_put(body, static_cast<uint16_t>(e.name.size()));
            state_put_bytes(body, e.name.data(), e.name.size());
        }
    }
    uLongf packed = compressBound(body.size());
    std::vector<uint8_t> file(REPLAY_HEADER + packed);
    memcpy(file.data(), REPLAY_MAGIC, sizeof REPLAY_MAGIC);
    std::vector<uint8_t> words;
    state_put(words, REPLAY_VERSION);
    state_put(words, static_cast<uint32_t>(body.size()));
    memcpy(file.data() + sizeof REPLAY_MAGIC, words.data(), words.size());
    compress2(file.data() + REPLAY_HEADER, &packed, body.data(), body.size(), 6);
    file.resize(REPLAY_HEADER + packed);
    return file;
}

static void end_replay() {
    rec.left = 0;
    sys_input.feed = nullptr;
    sys_input_due(SYS_INPUT_NONE);
    rec.replay.clear();
}

int sys_replay_finish(std::string *why) {
    end_replay();
    if (!rec.recording) return 0;
    rec.recording = false;
    sys_input.heard = nullptr;
    std::vector<uint8_t> file = encode();
    rec.entries.clear();
    errno = 0;
    if (sys_atomic_write(rec.path.c_str(), file.data(), file.size()) != 0)
        return refuse(why, "%s",
                      *sys_atomic_error() ? sys_atomic_error() : strerror(errno ? errno : EIO));
    return 0;
}

static bool is_input(int32_t code) {
    return code == EV_RESET || code == EV_NMI_SET || code == EV_NMI_CLEAR || code == EV_SPEED_UP ||
           code == EV_SPEED_DOWN || code == EV_KEY_UP || code == EV_KEY_DOWN;
}

static std::string state_refusal;
static int keep_refusal(const char *line) {
    if (state_refusal.empty()) state_refusal = line;
    return 0;
}

// The body, checked whole: every entry in order and every state as a
// restore would check it. 1 with the reason.
static int decode(const std::vector<uint8_t> &body, std::vector<replay_entry> &out,
                  uint32_t *period, uint64_t *rom, uint64_t *dos, uint32_t *frames,
                  std::string *why) {
    state_reader in{body.data(), body.size()};
    uint16_t ms = 0;
    in.get(ms);
    in.get(*rom);
    in.get(*dos);
    in.get(*frames);
    *period = ms;
    if (in.bad) return refuse(why, "truncated before its entries");
    if (ms < 20 || ms > 100) return refuse(why, "frame period %u ms out of range", ms);
    uint32_t frame = 0, at = 0;
    out.clear();
    while (in.at < in.size) {
        replay_entry e{};
        in.get(e.tag);
        in.get(e.frame);
        if (in.bad) return refuse(why, "truncated inside entry %zu", out.size() + 1);
        if (e.frame < frame || e.frame > *frames)
            return refuse(why, "entry %zu at frame %u, out of order", out.size() + 1, e.frame);
        if (e.frame != frame) at = 0;
        frame = e.frame;
        if (e.tag == TAG_EVENT) {
            uint8_t code = 0;
            uint32_t value = 0;
            in.get(e.at);
            in.get(code);
            in.get(value);
            if (!in.bad && !is_input(code))
                return refuse(why, "entry %zu: unknown event %u", out.size() + 1, code);
            if (!in.bad && (e.at < at || e.frame == *frames))
                return refuse(why, "entry %zu at cycle %u, out of order", out.size() + 1, e.at);
            at = e.at;
            e.ev = {code, value};
        } else if (e.tag == TAG_STATE) {
            uint32_t size = 0;
            in.get(size);
            const uint8_t *bytes = in.take(size);
            if (bytes) e.state.assign(bytes, bytes + size);
            if (!in.bad && at != 0)
                return refuse(why, "entry %zu: a state inside a frame", out.size() + 1);
            state_refusal.clear();
            state_set_reporter(keep_refusal);
            state_begin(STATE_VERSION, nullptr);
            int bad = bytes ? sys_state_check(bytes, size) : 0;
            state_end();
            state_set_reporter(nullptr);
            if (bad) return refuse(why, "entry %zu: %s", out.size() + 1, state_refusal.c_str());
        } else if (e.tag == TAG_FILE) {
            uint16_t length = 0;
            in.get(e.drive);
            in.get(e.hash);
            in.get(length);
            const uint8_t *name = in.take(length);
            if (name) e.name.assign(reinterpret_cast<const char *>(name), length);
            if (!in.bad &&
                (e.drive > TAPE || length == 0 || e.name.find('\0') != std::string::npos))
                return refuse(why, "entry %zu: a bad disk entry", out.size() + 1);
        } else {
            return refuse(why, "entry %zu of unknown kind %u", out.size() + 1, e.tag);
        }
        if (in.bad) return refuse(why, "truncated inside entry %zu", out.size() + 1);
        out.push_back(std::move(e));
    }
    size_t first_state = 0;
    while (first_state < out.size() && out[first_state].tag == TAG_FILE)
        first_state++;
    if (first_state == out.size() || out[first_state].tag != TAG_STATE ||
        out[first_state].frame != 0)
        return refuse(why, "no start state");
    return 0;
}

static int parse(const uint8_t *file, size_t size, std::vector<replay_entry> &out, uint32_t *period,
                 uint64_t *rom, uint64_t *dos, uint32_t *frames, std::string *why) {
    if (size < REPLAY_HEADER || memcmp(file, REPLAY_MAGIC, sizeof REPLAY_MAGIC) != 0)
        return refuse(why, "not a kestrel input recording");
    state_reader header{file + sizeof REPLAY_MAGIC, 8};
    uint32_t version = 0, body_size = 0;
    header.get(version);
    header.get(body_size);
    if (version != REPLAY_VERSION)
        return refuse(why, "format version %u, this kestrel reads version %u", version,
                      REPLAY_VERSION);
    // zlib packs at most about 1032 to 1: a larger claim is a lie, not memory to take.
    if (body_size > REPLAY_BODY_MAX || body_size / 1032 > size)
        return refuse(why, "body of %u bytes", body_size);
    std::vector<uint8_t> body(body_size);
    uLongf unpacked = body_size;
    uLong packed = size - REPLAY_HEADER;
    int z = uncompress2(body.data(), &unpacked, file + REPLAY_HEADER, &packed);
    if (z != Z_OK || unpacked != body_size || packed != size - REPLAY_HEADER)
        return refuse(why, "truncated or damaged (zlib %d)", z);
    return decode(body, out, period, rom, dos, frames, why);
}

static uint64_t feed(uint64_t at);

// Applies the start (the entries of frame 0 before its first event) and
// arms the replay.
static void start(std::vector<replay_entry> &entries, uint32_t frames) {
    rec.replay = std::move(entries);
    rec.cursor = 0;
    rec.length = frames;
    rec.now = 0;
    rec.next = 0;
    for (; rec.cursor < rec.replay.size() && rec.replay[rec.cursor].tag != TAG_EVENT &&
           rec.replay[rec.cursor].frame == 0;
         rec.cursor++)
        if (rec.replay[rec.cursor].tag == TAG_STATE)
            sys_state_read(rec.replay[rec.cursor].state.data(),
                           rec.replay[rec.cursor].state.size());
    rec.left = frames;
    sys_input.feed = frames > 0 ? feed : nullptr;
}

int sys_replay_parse(const uint8_t *file, size_t size, int apply, std::string *why) {
    std::vector<replay_entry> entries;
    uint32_t period = 0, frames = 0;
    uint64_t rom = 0, dos = 0;
    if (parse(file, size, entries, &period, &rom, &dos, &frames, why) != 0) return 1;
    if (apply) {
        rec.refresh = period;
        start(entries, frames);
    }
    return 0;
}

int sys_replay_open(const char *path, std::string *why) {
    std::vector<uint8_t> file;
    if (read_whole(path, file, REPLAY_FILE_MAX) != 0)
        return refuse(why, "can't be read whole: %s", errno ? strerror(errno) : "too long");
    std::vector<replay_entry> entries;
    uint32_t period = 0, frames = 0;
    uint64_t rom = 0, dos = 0;
    if (parse(file.data(), file.size(), entries, &period, &rom, &dos, &frames, why) != 0) return 1;
    uint64_t rom_now = 0, dos_now = 0;
    rom_hashes(&rom_now, &dos_now);
    if (rom != rom_now) return refuse(why, "the system ROM differs from the recording's");
    if (dos != dos_now) return refuse(why, "the disk boot ROM differs from the recording's");
    // Each image must be as it was when the recording first met it; later
    // entries may see it changed by the recorded machine's own write-backs.
    std::vector<std::string> seen;
    for (const replay_entry &e : entries) {
        if (e.tag != TAG_FILE) continue;
        bool known = false;
        for (const std::string &s : seen)
            known = known || s == e.name;
        if (known) continue;
        seen.push_back(e.name);
        std::vector<uint8_t> bytes;
        if (read_whole(e.name.c_str(), bytes, 1L << 20) != 0)
            return refuse(why, "%s is missing", what(e).c_str());
        if (state_hash(bytes.data(), bytes.size()) != e.hash)
            return refuse(why, "%s differs from the recording's", what(e).c_str());
    }
    // The start's drives go in first: a state takes the drives in place.
    for (const replay_entry &e : entries) {
        if (e.tag == TAG_EVENT || e.frame != 0) break;
        if (e.tag != TAG_FILE) continue;
        int failed = e.drive == TAPE ? sys_file_mount_tap(e.name.c_str())
                                     : fdc_mount(e.name.c_str(), e.drive, 0);
        if (failed) return refuse(why, "%s can't be used", what(e).c_str());
    }
    rec.refresh = period;
    start(entries, frames);
    return 0;
}

long sys_replay_left() {
    return rec.left;
}

long sys_replay_length() {
    return rec.length;
}

uint32_t sys_replay_refresh() {
    return rec.refresh;
}

// Applies the events due at `at` in the frame now running; the next position.
static uint64_t feed(uint64_t at) {
    while (rec.cursor < rec.replay.size()) {
        const replay_entry &e = rec.replay[rec.cursor];
        if (e.frame != rec.now || e.tag != TAG_EVENT) return SYS_INPUT_NONE;
        if (e.at > at) return e.at;
        sys_apply_at(e.ev, at);
        rec.cursor++;
    }
    return SYS_INPUT_NONE;
}

// What the replay has at the start of the frame now running: states and
// the events of its start, then the position of its first event inside it.
static void replay_frame() {
    if (rec.now >= rec.length) return end_replay();
    rec.left = rec.length - rec.now;
    // An event past its frame's end (a made-up file) is passed over.
    while (rec.cursor < rec.replay.size() && rec.replay[rec.cursor].frame < rec.now)
        rec.cursor++;
    for (; rec.cursor < rec.replay.size(); rec.cursor++) {
        const replay_entry &e = rec.replay[rec.cursor];
        if (e.frame != rec.now || (e.tag == TAG_EVENT && e.at > 0)) break;
        if (e.tag == TAG_STATE) sys_state_read(e.state.data(), e.state.size());
        if (e.tag == TAG_EVENT) sys_apply_at(e.ev, 0);
    }
    bool inside = rec.cursor < rec.replay.size() && rec.replay[rec.cursor].frame == rec.now;
    sys_input_due(inside ? rec.replay[rec.cursor].at : SYS_INPUT_NONE);
}

void sys_replay_frame(int debugging) {
    rec.now = rec.next++;
    if (rec.left > 0) return replay_frame();
    if (!rec.recording) return;
    // A frame takes the lock once at most (frames in warp share one take):
    // a second take since the last frame was another thread's.
    uint64_t takes = sys_machine_takes();
    if (rec.now > 0 && (takes > rec.takes + 1 || debugging))
        add_state(static_cast<uint32_t>(rec.now));
    rec.takes = takes;
}

long sys_replay_now() {
    return rec.now;
}

void sys_replay_changed() {
    if (rec.recording) add_state(static_cast<uint32_t>(rec.now));
}

size_t sys_replay_mark() {
    return rec.entries.size();
}

void sys_replay_rewound(long frame, size_t mark) {
    rec.now = frame - 1; // as if the frame before had just run
    rec.next = frame;
    if (rec.recording && mark < rec.entries.size()) rec.entries.resize(mark);
}
