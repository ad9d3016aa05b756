// fdc_image: disk images and the nibble tracks a drive head sees.
// An image is 35 tracks of 16 sectors of 256 bytes, no header. On a nibble
// track every sector has an address field (4-and-4 code) and a data field
// (6-and-2 code with a running XOR) in a slot of 374 bytes; physical sector
// s carries image sector skewing[s]. Pure conversions, no state: called by
// the disk controller on mount and write-back.
#pragma once
#include <cstdint>

constexpr int FDC_TRACKS = 35;
constexpr int FDC_SECTORS = 16;
constexpr int FDC_SECTOR_BYTES = 256;
constexpr int FDC_IMAGE_TRACK_BYTES = FDC_SECTORS * FDC_SECTOR_BYTES;     // 4096
constexpr long FDC_IMAGE_SIZE = long{FDC_TRACKS} * FDC_IMAGE_TRACK_BYTES; // 143360
constexpr int FDC_TRACK_BYTES = 6200; // one revolution of a nibble track
constexpr int FDC_SLOT_BYTES = 374;   // one sector's address and data field
constexpr int FDC_DATA_BYTES = 342;   // 6-and-2 values of one sector

extern const uint8_t skewing[FDC_SECTORS]; // physical sector -> image sector

// Builds nibble track t (6200 bytes into `track`) from that track's 16 image
// sectors (`sectors`, 4096 bytes in image order).
void fdc_image_encode_track(const uint8_t *sectors, int t, uint8_t volume, uint8_t *track);

// What a scan found on a track that it could not store: the sector keeps
// the image's previous contents. `sector` is the physical sector number the
// address field gives (0..15).
enum fdc_damage_kind : uint8_t {
    FDC_BAD_ADDRESS,   // checksum or epilogue wrong, or written only in part
    FDC_NO_DATA_FIELD, // no data prologue within reach of the address field
    FDC_DATA_CUT,      // a byte that is no disk byte, or written only in part
    FDC_DATA_CHECKSUM, // checksum or epilogue wrong
};
struct fdc_damage {
    uint8_t sector;
    uint8_t kind; // fdc_damage_kind
};
struct fdc_track_scan {
    unsigned found = 0; // image sectors stored (bit l: sector l)
    int damaged = 0;    // entries in `damage`, each (sector, kind) once
    fdc_damage damage[32];
};
const char *fdc_image_damage_text(int kind); // "data checksum wrong" and the like

// Scans the nibble ring from *pos for address fields each followed, within
// the reach the disk software allows, by a data field (found by its own
// prologue), checks both checksums, and decodes good sectors into `sectors`
// (4096 bytes, image order); other sectors are left as they were. With
// `burst` (one byte per ring position: 0 never written, else the number of
// the write that put it there), a field whose bytes come from different
// writes counts as cut, and of two good copies of a sector one that was
// written wins over one that was not; otherwise the later one wins. The scan
// ends when all 16 sectors have been found or after one revolution without
// a sector not yet found; address fields naming a sector above 15 are passed
// over. *pos is left where the scan ended. Returns the mask of image sectors
// found; `scan` (optional) gets that mask and the damage met on sectors
// that were not found good.
unsigned fdc_image_decode_track(const uint8_t *track, unsigned *pos, uint8_t *sectors,
                                fdc_track_scan *scan = nullptr, const uint8_t *burst = nullptr);
