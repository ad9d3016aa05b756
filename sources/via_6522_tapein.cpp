#include "via_6522_tapein.h"

#include <sys/stat.h>

#include <cstdio>
#include <new>
#include <string>

#include "state.h"

constexpr uint8_t TAPE_SYNC = 0x16;
constexpr uint32_t TAPE_NAME_OFFSET = 10;    // from the header's first byte
constexpr long TAPE_MAX = 16L * 1024 * 1024; // far beyond any real tape

static struct {
    uint8_t *tape; // nullptr: no tape mounted
    uint32_t tapesize;
    uint32_t tapeoff;  // next byte to deliver
    uint32_t tapesync; // first byte after the last sync run found
    std::string path;
} tapein;

int via_6522_tapein(uint8_t *buffer, long size) {
    delete[] tapein.tape;
    if (size <= 0 && buffer) {
        delete[] buffer;
        buffer = nullptr;
    }
    tapein.tape = buffer;
    tapein.tapesize = buffer ? static_cast<uint32_t>(size) : 0;
    tapein.tapeoff = 0;
    tapein.tapesync = 0;
    tapein.path.clear();
    return 0;
}

int via_6522_tapein_load(const char *path) {
    FILE *f = fopen(path, "rb");
    if (!f) return TAPE_UNOPENED;
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > TAPE_MAX) {
        fclose(f);
        return TAPE_NOT_AN_IMAGE;
    }
    const long size = static_cast<long>(st.st_size);
    uint8_t *buffer = new (std::nothrow) uint8_t[size > 0 ? size : 1];
    if (!buffer) {
        fclose(f);
        return TAPE_NO_MEMORY;
    }
    const size_t got = size > 0 ? fread(buffer, 1, static_cast<size_t>(size), f) : 0;
    fclose(f);
    if (got != static_cast<size_t>(size)) {
        delete[] buffer;
        return TAPE_UNREADABLE;
    }
    via_6522_tapein(buffer, size);
    via_6522_tapein_name(path);
    return TAPE_LOADED;
}

void via_6522_tapein_name(const char *path) {
    tapein.path = tapein.tape && path ? path : "";
}

const char *via_6522_tapein_path() {
    return tapein.path.c_str();
}

int via_6522_tapein_sync() {
    if (!tapein.tape) return 1;
    if (tapein.tapeoff >= tapein.tapesize) {
        tapein.tapeoff = 0;
        return 1;
    }
    uint32_t pos = tapein.tapeoff;
    while (pos < tapein.tapesize && tapein.tape[pos] == TAPE_SYNC)
        pos++;
    if (pos >= tapein.tapesize) {
        tapein.tapeoff = 0;
        return 1;
    }
    tapein.tapeoff = pos;
    tapein.tapesync = pos;
    return 0;
}

int via_6522_tapein_byte(uint8_t *out) {
    if (!tapein.tape || tapein.tapeoff >= tapein.tapesize) {
        *out = 0xFF;
        return 1;
    }
    if (tapein.tapeoff == tapein.tapesync + TAPE_NAME_OFFSET) {
        while (tapein.tapeoff < tapein.tapesize && tapein.tape[tapein.tapeoff] != 0)
            tapein.tapeoff++;
        if (tapein.tapeoff >= tapein.tapesize) {
            *out = 0;
            return 0;
        }
    }
    *out = tapein.tape[tapein.tapeoff++];
    return 0;
}

// ---- saved state ----

void via_6522_tapein_state_save(std::vector<uint8_t> &out) {
    bool mounted = tapein.tape && !tapein.path.empty();
    state_put(out, static_cast<uint8_t>(mounted));
    state_put(out, static_cast<uint16_t>(mounted ? tapein.path.size() : 0));
    if (mounted) state_put_bytes(out, tapein.path.data(), tapein.path.size());
    state_put(out, tapein.tapesize);
    state_put(out, mounted ? state_hash(tapein.tape, tapein.tapesize) : 0);
    state_put(out, tapein.tapeoff);
    state_put(out, tapein.tapesync);
}

int via_6522_tapein_state_load(const uint8_t *data, size_t size, int apply) {
    uint8_t mounted = 0;
    uint16_t length = 0;
    uint32_t tapesize = 0, tapeoff = 0, tapesync = 0;
    uint64_t hash = 0;
    state_reader in{data, size};
    in.get(mounted);
    in.get(length);
    const uint8_t *name = in.take(length);
    in.get(tapesize);
    in.get(hash);
    in.get(tapeoff);
    in.get(tapesync);
    if (in.finish("tape")) return 1;
    if (mounted > 1 || (mounted && length == 0) || tapeoff > tapesize || tapesync > tapesize)
        return state_refuse("tape: position %u or %u past its end %u", tapeoff, tapesync, tapesize);
    if (!apply) return 0;
    via_6522_tapein(nullptr, 0);
    if (!mounted) return 0;
    std::string path(reinterpret_cast<const char *>(name), length);
    if (via_6522_tapein_load(path.c_str()) != TAPE_LOADED || tapein.tapesize != tapesize ||
        state_hash(tapein.tape, tapein.tapesize) != hash) {
        via_6522_tapein(nullptr, 0);
        state_report("tape '%s' is gone or changed since the state was saved: no tape",
                     path.c_str());
        return 0;
    }
    tapein.tapeoff = tapeoff;
    tapein.tapesync = tapesync;
    return 0;
}
