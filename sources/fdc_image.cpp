#include "fdc_image.h"

#include <cassert>
#include <cstring>
#include <iterator>

const uint8_t skewing[FDC_SECTORS] = {0, 7, 14, 6, 13, 5, 12, 4, 11, 3, 10, 2, 9, 1, 8, 15};

// One table both ways: entries 0x00-0x3F give the disk byte of a 6-bit value,
// entries 0x96-0xFF the 6-bit value of a disk byte (0x80: not a disk byte).
constexpr int32_t translate[256] = {
    //  x0    x1    x2    x3    x4    x5    x6    x7    x8    x9    xA    xB    xC    xD    xE    xF
    0x96, 0x97, 0x9A, 0x9B, 0x9D, 0x9E, 0x9F, 0xA6,
    0xA7, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF, 0xB2, 0xB3, // 0x
    0xB4, 0xB5, 0xB6, 0xB7, 0xB9, 0xBA, 0xBB, 0xBC,
    0xBD, 0xBE, 0xBF, 0xCB, 0xCD, 0xCE, 0xCF, 0xD3, // 1x
    0xD6, 0xD7, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE,
    0xDF, 0xE5, 0xE6, 0xE7, 0xE9, 0xEA, 0xEB, 0xEC, // 2x
    0xED, 0xEE, 0xEF, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6,
    0xF7, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF, // 3x
    0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
    0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, // 4x
    0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
    0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, // 5x
    0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
    0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, // 6x
    0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
    0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, // 7x
    0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
    0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, // 8x
    0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00, 0x01,
    0x80, 0x80, 0x02, 0x03, 0x80, 0x04, 0x05, 0x06, // 9x
    0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x07, 0x08,
    0x80, 0x80, 0x80, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, // Ax
    0x80, 0x80, 0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13,
    0x80, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, // Bx
    0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
    0x80, 0x80, 0x80, 0x1B, 0x80, 0x1C, 0x1D, 0x1E, // Cx
    0x80, 0x80, 0x80, 0x1F, 0x80, 0x80, 0x20, 0x21,
    0x80, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, // Dx
    0x80, 0x80, 0x80, 0x80, 0x80, 0x29, 0x2A, 0x2B,
    0x80, 0x2C, 0x2D, 0x2E, 0x2F, 0x30, 0x31, 0x32, // Ex
    0x80, 0x80, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38,
    0x80, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F, // Fx
};
static_assert(std::size(translate) == 256);

constexpr int AUX_VALUES = 86; // low bit pairs of three sector bytes each

// Exchanges the two low bits: the drive stores each pair bit-reversed.
static unsigned swap_pair(unsigned x) {
    return ((x & 1) << 1) | ((x >> 1) & 1);
}

static uint8_t *put_4and4(uint8_t *out, unsigned x) {
    *out++ = static_cast<uint8_t>((x >> 1) | 0xAA);
    *out++ = static_cast<uint8_t>(x | 0xAA);
    return out;
}

static unsigned get_4and4(uint8_t first, uint8_t second) {
    return ((first << 1) | 0x55) & second & 0xFF;
}

static uint8_t *put_bytes(uint8_t *out, uint8_t value, int count) {
    memset(out, value, count);
    return out + count;
}

static uint8_t *put_mark(uint8_t *out, uint8_t a, uint8_t b, uint8_t c) {
    *out++ = a;
    *out++ = b;
    *out++ = c;
    return out;
}

// The 342 data bytes and the checksum of one sector.
static uint8_t *put_data(uint8_t *out, const uint8_t *sector_buf) {
    unsigned eor = 0;
    auto put_value = [&](unsigned v) {
        *out++ = static_cast<uint8_t>(translate[(v ^ eor) & 0x3F]);
        eor = v;
    };
    for (int k = 0; k < AUX_VALUES; k++) {
        unsigned third = k + 2 * AUX_VALUES < FDC_SECTOR_BYTES ? sector_buf[k + 2 * AUX_VALUES] : 0;
        put_value(swap_pair(sector_buf[k]) | swap_pair(sector_buf[k + AUX_VALUES]) << 2 |
                  swap_pair(third) << 4);
    }
    for (int k = 0; k < FDC_SECTOR_BYTES; k++)
        put_value(sector_buf[k] >> 2);
    *out++ = static_cast<uint8_t>(translate[eor & 0x3F]);
    return out;
}

void fdc_image_encode_track(const uint8_t *sectors, int t, uint8_t volume, uint8_t *track) {
    uint8_t *out = track;
    for (int s = 0; s < FDC_SECTORS; s++) {
        uint8_t *slot = out;
        out = put_bytes(out, 0xFF, 6);
        out = put_mark(out, 0xD5, 0xAA, 0x96);
        out = put_4and4(out, volume);
        out = put_4and4(out, t);
        out = put_4and4(out, s);
        out = put_4and4(out, volume ^ t ^ s);
        out = put_mark(out, 0xDE, 0xAA, 0xEB);
        out = put_bytes(out, 0xFF, 5);
        out = put_mark(out, 0xD5, 0xAA, 0xAD);
        out = put_data(out, sectors + skewing[s] * FDC_SECTOR_BYTES);
        out = put_mark(out, 0xDE, 0xAA, 0xEB);
        assert(out - slot == FDC_SLOT_BYTES && "sources/fdc_image");
    }
    put_bytes(out, 0xFF, static_cast<int>(track + FDC_TRACK_BYTES - out));
}

constexpr unsigned ADDRESS_FIELD = 14; // prologue, four 4-and-4 pairs, epilogue
// The disk software gives up on a sector when the data prologue has not
// begun this many bytes after the address field.
constexpr unsigned DATA_REACH = 32;
constexpr unsigned DATA_FIELD = 3 + FDC_DATA_BYTES + 1; // prologue, values, checksum

// Decodes the 342 values and the checksum starting at ring distance `from`
// into D; -1 when they are whole and add up, else the damage kind.
template <typename Ring> static int get_data(Ring at, unsigned from, uint8_t *sector_buf) {
    memset(sector_buf, 0, FDC_SECTOR_BYTES);
    unsigned v = 0;
    for (unsigned n = 0; n < FDC_DATA_BYTES; n++) {
        unsigned six = static_cast<unsigned>(translate[at(from + n)]);
        if (six & 0x80) return FDC_DATA_CUT;
        v ^= six;
        if (n < AUX_VALUES) {
            sector_buf[n] = static_cast<uint8_t>(swap_pair(v));
            sector_buf[n + AUX_VALUES] = static_cast<uint8_t>(swap_pair(v >> 2));
            if (n + 2 * AUX_VALUES < FDC_SECTOR_BYTES)
                sector_buf[n + 2 * AUX_VALUES] = static_cast<uint8_t>(swap_pair(v >> 4));
        } else {
            sector_buf[n - AUX_VALUES] |= static_cast<uint8_t>(v << 2);
        }
    }
    unsigned sum = static_cast<unsigned>(translate[at(from + FDC_DATA_BYTES)]);
    if (sum & 0x80) return FDC_DATA_CUT;
    return sum == v ? -1 : FDC_DATA_CHECKSUM;
}

const char *fdc_image_damage_text(int kind) {
    switch (kind) {
    case FDC_BAD_ADDRESS:
        return "address field damaged";
    case FDC_NO_DATA_FIELD:
        return "no data field after the address field";
    case FDC_DATA_CUT:
        return "data field cut short";
    case FDC_DATA_CHECKSUM:
        return "data checksum wrong";
    }
    return "damaged";
}

static void note_damage(fdc_track_scan &scan, unsigned sector, int kind) {
    for (int n = 0; n < scan.damaged; n++)
        if (scan.damage[n].sector == sector && scan.damage[n].kind == kind) return;
    if (scan.damaged < static_cast<int>(std::size(scan.damage)))
        scan.damage[scan.damaged++] = {static_cast<uint8_t>(sector), static_cast<uint8_t>(kind)};
}

unsigned fdc_image_decode_track(const uint8_t *track, unsigned *pos, uint8_t *sectors,
                                fdc_track_scan *scan, const uint8_t *burst) {
    // Distances run from the starting position and may exceed one revolution.
    const unsigned base = *pos % FDC_TRACK_BYTES;
    auto at = [track, base](unsigned q) { return track[(base + q) % FDC_TRACK_BYTES]; };
    // A write stopped part way leaves a field of new bytes and old ones.
    auto one_write = [burst, base](unsigned from, unsigned n) {
        if (!burst) return true;
        uint8_t first = burst[(base + from) % FDC_TRACK_BYTES];
        for (unsigned j = 1; j < n; j++)
            if (burst[(base + from + j) % FDC_TRACK_BYTES] != first) return false;
        return true;
    };
    auto is_mark = [&at](unsigned q, uint8_t third) {
        return at(q) == 0xD5 && at(q + 1) == 0xAA && at(q + 2) == third;
    };
    fdc_track_scan local;
    fdc_track_scan &out = scan ? *scan : local;
    out = fdc_track_scan{};
    unsigned found = 0;
    unsigned written = 0; // image sectors whose stored copy was written by the machine
    unsigned q = 0;
    unsigned last_new = 0; // distance where the last sector not seen before was taken
    uint8_t sector_buf[FDC_SECTOR_BYTES];
    while (found != 0xFFFF && q - last_new < FDC_TRACK_BYTES) {
        if (!is_mark(q, 0x96)) {
            q++;
            continue;
        }
        const unsigned i = q;
        q = i + 3; // a field that fails is passed over from just after its prologue
        unsigned volume = get_4and4(at(i + 3), at(i + 4));
        unsigned t = get_4and4(at(i + 5), at(i + 6));
        unsigned s = get_4and4(at(i + 7), at(i + 8));
        unsigned sum = get_4and4(at(i + 9), at(i + 10));
        if ((volume ^ t ^ s) != sum || at(i + 11) != 0xDE || at(i + 12) != 0xAA ||
            !one_write(i, ADDRESS_FIELD - 1)) {
            note_damage(out, s, FDC_BAD_ADDRESS);
            continue;
        }
        // The data field by its own prologue: a stray address prologue left
        // by an earlier write in the gap must not stand in for it.
        unsigned k = i + ADDRESS_FIELD;
        while (k < i + ADDRESS_FIELD + DATA_REACH && !is_mark(k, 0xAD))
            k++;
        if (!is_mark(k, 0xAD)) {
            note_damage(out, s, FDC_NO_DATA_FIELD);
            continue;
        }
        if (s >= FDC_SECTORS) continue; // no place for it in the image
        int damage = one_write(k, DATA_FIELD) ? get_data(at, k + 3, sector_buf) : FDC_DATA_CUT;
        if (damage < 0 && (at(k + DATA_FIELD) != 0xDE || at(k + DATA_FIELD + 1) != 0xAA))
            damage = FDC_DATA_CHECKSUM;
        if (damage >= 0) {
            note_damage(out, s, damage);
            continue;
        }
        q = k + 3 + FDC_DATA_BYTES;
        const unsigned bit = 1u << skewing[s];
        const bool by_machine = burst && burst[(base + k) % FDC_TRACK_BYTES] != 0;
        if ((found & bit) && (written & bit) && !by_machine) continue; // an older copy
        memcpy(sectors + skewing[s] * FDC_SECTOR_BYTES, sector_buf, FDC_SECTOR_BYTES);
        written = by_machine ? written | bit : written & ~bit;
        if (!(found & bit)) {
            found |= bit;
            last_new = q;
        }
    }
    // Damage on a sector found good elsewhere on the track cost nothing, and
    // a number past 15 (a stray prologue's, say) names no sector of the image.
    int kept = 0;
    for (int n = 0; n < out.damaged; n++) {
        const fdc_damage &d = out.damage[n];
        if (d.sector >= FDC_SECTORS || (found >> skewing[d.sector] & 1)) continue;
        out.damage[kept++] = d;
    }
    out.damaged = kept;
    out.found = found;
    *pos = (base + q) % FDC_TRACK_BYTES;
    return found;
}
