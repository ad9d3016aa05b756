#include "sys_state.h"

#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

#include "ay_8912.h"
#include "cpu_6502.h"
#include "fdc.h"
#include "mem.h"
#include "ram.h"
#include "rom.h"
#include "sys_atomic.h"
#include "sys_core.h"
#include "sys_file.h"
#include "vdc.h"
#include "via_6522.h"
#include "via_6522_tapein.h"

constexpr char STATE_MAGIC[8] = {'K', 'E', 'S', 'T', 'R', 'E', 'L', 0x1A};
constexpr size_t STATE_HEADER = 16;           // magic, version, body length
constexpr uint32_t STATE_BODY_MAX = 4u << 20; // far beyond two drives, RAM and the queues
constexpr long STATE_FILE_MAX = 8L << 20;

struct state_section {
    const char *name;
    void (*save)(std::vector<uint8_t> &out);
    int (*load)(const uint8_t *data, size_t size, int apply);
};

// Applied in this order: the character set and the switches before memory
// is looked at, the drives last, as they may report.
constexpr state_section sections[] = {
    {"core", sys_core_state_save, sys_core_state_load},
    {"rom", rom_state_save, rom_state_load},
    {"mem", mem_state_save, mem_state_load},
    {"ram", ram_state_save, ram_state_load},
    {"cpu", cpu_6502_state_save, cpu_6502_state_load},
    {"via", via_6522_state_save, via_6522_state_load},
    {"ay", ay_8912_state_save, ay_8912_state_load},
    {"vdc", vdc_state_save, vdc_state_load},
    {"tape", via_6522_tapein_state_save, via_6522_tapein_state_load},
    {"fdc", fdc_state_save, fdc_state_load},
};
constexpr size_t STATE_SECTIONS = std::size(sections);

// Refusals and reports from the sections reach the user as the file
// commands' do: the error log and the console.
static int report_to_user(const char *line) {
    return sys_file_report("%s", line);
}

static const char *loading = ""; // the file being read, for the refusal line

static uint32_t crc_of(const uint8_t *data, size_t size) {
    return static_cast<uint32_t>(crc32(crc32(0, nullptr, 0), data, static_cast<uInt>(size)));
}

int sys_state_write(std::vector<uint8_t> &file) {
    state_set_reporter(report_to_user);
    std::vector<uint8_t> body, data;
    for (const state_section &s : sections) {
        data.clear();
        s.save(data);
        state_put(body, static_cast<uint8_t>(strlen(s.name)));
        state_put_bytes(body, s.name, strlen(s.name));
        state_put(body, static_cast<uint32_t>(data.size()));
        state_put(body, crc_of(data.data(), data.size()));
        state_put_bytes(body, data.data(), data.size());
    }
    uLongf packed = compressBound(body.size());
    file.assign(STATE_HEADER + packed, 0);
    memcpy(file.data(), STATE_MAGIC, sizeof STATE_MAGIC);
    std::vector<uint8_t> words;
    state_put(words, STATE_VERSION);
    state_put(words, static_cast<uint32_t>(body.size()));
    memcpy(file.data() + sizeof STATE_MAGIC, words.data(), words.size());
    // Level 1: the tracks and memory are mostly runs; more effort buys little.
    if (compress2(file.data() + STATE_HEADER, &packed, body.data(), body.size(), 1) != Z_OK)
        return state_report("can't compress the state"), 1;
    file.resize(STATE_HEADER + packed);
    return 0;
}

// Splits the body into sections by name; 1 refused.
static int split(const std::vector<uint8_t> &body, const uint8_t *found[], size_t sizes[]) {
    state_reader in{body.data(), body.size()};
    while (in.at < in.size) {
        uint8_t length = 0;
        uint32_t size = 0, crc = 0;
        in.get(length);
        const uint8_t *name = in.take(length);
        in.get(size);
        in.get(crc);
        const uint8_t *data = in.take(size);
        if (in.bad) return state_refuse("truncated inside a section");
        std::string text(reinterpret_cast<const char *>(name), length);
        size_t k = 0;
        while (k < STATE_SECTIONS && text != sections[k].name)
            k++;
        if (k == STATE_SECTIONS) return state_refuse("unknown section '%s'", text.c_str());
        if (found[k]) return state_refuse("section '%s' twice", text.c_str());
        if (crc_of(data, size) != crc)
            return state_refuse("section '%s' fails its CRC", text.c_str());
        found[k] = data;
        sizes[k] = size;
    }
    for (size_t k = 0; k < STATE_SECTIONS; k++)
        if (!found[k]) return state_refuse("section '%s' missing", sections[k].name);
    return 0;
}

// The body after a header that passed, in the version state_format() gives,
// checked whole: its sections found in `body`. 1 refused.
static int check_body(const uint8_t *file, size_t size, uint32_t body_size,
                      std::vector<uint8_t> &body, const uint8_t *found[], size_t sizes[]) {
    if (body_size > STATE_BODY_MAX) return state_refuse("body of %u bytes", body_size);
    body.assign(body_size, 0);
    uLongf unpacked = body_size;
    uLong packed = size - STATE_HEADER;
    int z = uncompress2(body.data(), &unpacked, file + STATE_HEADER, &packed);
    if (z != Z_OK || unpacked != body_size || packed != size - STATE_HEADER)
        return state_refuse("truncated or damaged (zlib %d)", z);
    if (split(body, found, sizes) != 0) return 1;
    for (size_t k = 0; k < STATE_SECTIONS; k++)
        if (sections[k].load(found[k], sizes[k], 0) != 0) return 1;
    return 0;
}

static int read_body(const uint8_t *file, size_t size, uint32_t body_size, int apply) {
    std::vector<uint8_t> body;
    const uint8_t *found[STATE_SECTIONS] = {};
    size_t sizes[STATE_SECTIONS] = {};
    if (check_body(file, size, body_size, body, found, sizes) != 0) return 1;
    if (!apply) return 0;
    // The running drives' changes are the user's: stored before their tracks go.
    for (int n = 0; n < 2; n++)
        if (fdc_write_image(n) != 0)
            return state_refuse("drive %d's changes could not be stored first", n + 1);
    for (size_t k = 0; k < STATE_SECTIONS; k++)
        sections[k].load(found[k], sizes[k], 1);
    return 0;
}

static int read_state(const uint8_t *file, size_t size, int apply) {
    if (size < STATE_HEADER) return state_refuse("too short for a state file");
    if (memcmp(file, STATE_MAGIC, sizeof STATE_MAGIC) != 0)
        return state_refuse("not a kestrel state file");
    state_reader header{file + sizeof STATE_MAGIC, 8};
    uint32_t version = 0, body_size = 0;
    header.get(version);
    header.get(body_size);
    // Older versions lack fields at the end of some sections; their loaders
    // ask which version they read.
    if (version < 1 || version > STATE_VERSION)
        return state_refuse("format version %u, this kestrel reads versions 1 to %u", version,
                            STATE_VERSION);
    state_begin(version, loading);
    int result = read_body(file, size, body_size, apply);
    state_begin(STATE_VERSION, loading);
    return result;
}

int sys_state_read(const uint8_t *file, size_t size) {
    state_set_reporter(report_to_user);
    return read_state(file, size, 1);
}

int sys_state_check(const uint8_t *file, size_t size) {
    return read_state(file, size, 0);
}

int sys_state_save(const char *path) {
    state_set_reporter(report_to_user);
    // The drives' changes go to their images first, so that the state and the
    // files agree: a later write-back would otherwise make the files differ
    // from the hashes kept, and a restore would leave the drives empty.
    fdc_write_image(0);
    fdc_write_image(1);
    std::vector<uint8_t> file;
    if (sys_state_write(file) != 0) return 1;
    // What a restore would refuse is no state: checked as a restore checks it.
    std::vector<uint8_t> body;
    const uint8_t *found[STATE_SECTIONS] = {};
    size_t sizes[STATE_SECTIONS] = {};
    uint32_t body_size = file[12] | file[13] << 8 | file[14] << 16 | uint32_t{file[15]} << 24;
    state_begin(STATE_VERSION, nullptr);
    int refused = check_body(file.data(), file.size(), body_size, body, found, sizes);
    state_end();
    if (refused) return state_report("not saved to '%s': a restore would refuse it", path), 1;
    errno = 0;
    if (sys_atomic_write(path, file.data(), file.size()) != 0)
        return state_report("can't write '%s': %s", path, strerror(errno ? errno : EIO)), 1;
    return 0;
}

int sys_state_load(const char *path) {
    state_set_reporter(report_to_user);
    loading = path;
    state_begin(STATE_VERSION, path);
    FILE *f = fopen(path, "rb");
    if (!f) {
        state_refuse("%s", strerror(errno));
        loading = "";
        state_end();
        return 1;
    }
    std::vector<uint8_t> file;
    uint8_t chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, f)) > 0 &&
           file.size() <= static_cast<size_t>(STATE_FILE_MAX))
        file.insert(file.end(), chunk, chunk + got);
    bool failed = ferror(f) != 0;
    fclose(f);
    int result = failed ? state_refuse("can't read it") : sys_state_read(file.data(), file.size());
    loading = "";
    state_end();
    return result;
}
