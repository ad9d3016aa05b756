// mkmedia: wraps the assembled demo programs into the demo tape and disk.
//   mkmedia tap <program.bin> <load address, hex> <out.tap>
//   mkmedia dsk <boot.bin> <stage2.bin> <out.dsk>
// The tape block is machine code marked to run; the disk boots from track 0,
// sector 0 and its boot sector reads the second stage and three text
// sectors from tracks 1 to 4.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int DSK_TRACKS = 35;
constexpr int DSK_SECTORS = 16;
constexpr int DSK_SECTOR_BYTES = 256;
constexpr int DSK_BYTES = DSK_TRACKS * DSK_SECTORS * DSK_SECTOR_BYTES;
static_assert(DSK_BYTES == 143360);

// Image sector held by each physical sector of a track.
constexpr int skewing[DSK_SECTORS] = {0, 7, 14, 6, 13, 5, 12, 4, 11, 3, 10, 2, 9, 1, 8, 15};

constexpr uint8_t TAP_SYNC = 0x16;
constexpr uint8_t TAP_SYNC_END = 0x24;
constexpr uint8_t TAP_MACHINE_CODE = 0x80;
constexpr int TAP_SYNC_RUN = 16;

int read_all(const char *path, std::vector<uint8_t> &out) {
    FILE *f = std::fopen(path, "rb");
    if (!f) {
        std::fprintf(stderr, "mkmedia: can't read '%s'\n", path);
        return 1;
    }
    out.clear();
    int c;
    while ((c = std::fgetc(f)) != EOF)
        out.push_back(static_cast<uint8_t>(c));
    std::fclose(f);
    return 0;
}

int write_all(const char *path, const std::vector<uint8_t> &bytes) {
    FILE *f = std::fopen(path, "wb");
    if (!f) {
        std::fprintf(stderr, "mkmedia: can't write '%s'\n", path);
        return 1;
    }
    size_t n = std::fwrite(bytes.data(), 1, bytes.size(), f);
    int closed = std::fclose(f);
    if (n != bytes.size() || closed != 0) {
        std::fprintf(stderr, "mkmedia: short write to '%s'\n", path);
        return 1;
    }
    return 0;
}

int make_tap(const char *bin, const char *addr, const char *out) {
    std::vector<uint8_t> code;
    if (read_all(bin, code)) return 1;
    char *end = nullptr;
    unsigned long start = std::strtoul(addr, &end, 16);
    if (!end || *end || start > 0xFFFF || code.empty() || start + code.size() > 0x10000) {
        std::fprintf(stderr, "mkmedia: bad load address or program size\n");
        return 1;
    }
    unsigned stop = static_cast<unsigned>(start + code.size());
    std::vector<uint8_t> tap;
    tap.reserve(TAP_SYNC_RUN + 32 + code.size());
    for (int i = 0; i < TAP_SYNC_RUN; i++)
        tap.push_back(TAP_SYNC);
    const char name[] = "KESTREL DEMO";
    const uint8_t header[] = {TAP_SYNC_END,
                              0x00,
                              0x00,
                              TAP_MACHINE_CODE,
                              0x01, // run after loading
                              static_cast<uint8_t>(stop >> 8),
                              static_cast<uint8_t>(stop),
                              static_cast<uint8_t>(start >> 8),
                              static_cast<uint8_t>(start),
                              0x00};
    for (uint8_t b : header)
        tap.push_back(b);
    for (size_t i = 0; i <= std::strlen(name); i++)
        tap.push_back(static_cast<uint8_t>(name[i]));
    for (uint8_t b : code)
        tap.push_back(b);
    return write_all(out, tap);
}

// Puts up to 256 bytes into physical sector `sector` of `track`.
void put_sector(std::vector<uint8_t> &dsk, int track, int sector, const uint8_t *data, size_t n) {
    size_t off = (static_cast<size_t>(track) * DSK_SECTORS + skewing[sector]) * DSK_SECTOR_BYTES;
    std::memcpy(dsk.data() + off, data, n < DSK_SECTOR_BYTES ? n : DSK_SECTOR_BYTES);
}

int make_dsk(const char *boot_bin, const char *stage2_bin, const char *out) {
    std::vector<uint8_t> boot, stage2;
    if (read_all(boot_bin, boot) || read_all(stage2_bin, stage2)) return 1;
    if (boot.empty() || boot.size() > DSK_SECTOR_BYTES || stage2.size() > 2 * DSK_SECTOR_BYTES) {
        std::fprintf(stderr, "mkmedia: boot sector or second stage too large\n");
        return 1;
    }
    std::vector<uint8_t> dsk(DSK_BYTES, 0);
    put_sector(dsk, 0, 0, boot.data(), boot.size());
    put_sector(dsk, 1, 0, stage2.data(), stage2.size());
    if (stage2.size() > DSK_SECTOR_BYTES)
        put_sector(dsk, 1, 1, stage2.data() + DSK_SECTOR_BYTES, stage2.size() - DSK_SECTOR_BYTES);
    const struct {
        int track, sector;
        const char *text;
    } lines[] = {
        {2, 5, "THIS LINE CAME FROM TRACK 2, SECTOR 5\r"},
        {3, 9, "THIS LINE CAME FROM TRACK 3, SECTOR 9\r"},
        {4, 14, "THIS LINE CAME FROM TRACK 4, SECTOR 14\r"},
    };
    for (const auto &l : lines)
        put_sector(dsk, l.track, l.sector, reinterpret_cast<const uint8_t *>(l.text),
                   std::strlen(l.text) + 1);
    return write_all(out, dsk);
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 5 && std::strcmp(argv[1], "tap") == 0) return make_tap(argv[2], argv[3], argv[4]);
    if (argc == 5 && std::strcmp(argv[1], "dsk") == 0) return make_dsk(argv[2], argv[3], argv[4]);
    std::fprintf(stderr, "usage: mkmedia tap <program.bin> <load address> <out.tap>\n"
                         "       mkmedia dsk <boot.bin> <stage2.bin> <out.dsk>\n");
    return 1;
}
