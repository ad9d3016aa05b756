// Nibble tracks: the bytes an encoded track holds, and what decoding finds on
// whole, damaged and hostile tracks.
#include "fdc_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

using bytes = std::vector<uint8_t>;

bytes encode(const bytes &sectors, int t) {
    bytes track(6200, 0x00);
    fdc_image_encode_track(sectors.data(), t, 254, track.data());
    return track;
}

bytes random_sectors(unsigned seed) {
    bytes b(4096);
    std::generate(b.begin(), b.end(), std::mt19937(seed)); // the low byte of each number
    return b;
}

} // namespace

TEST(FdcImageEncoding, DataFieldsHoldTheSkewedSectorsIn6And2Code) {
    // Image sector l holds l << 2 | 3 throughout: its checksum is the disk byte of l.
    bytes sectors(4096);
    for (int l = 0; l < 16; l++)
        std::fill_n(sectors.begin() + l * 256, 256, l << 2 | 3);
    bytes sector7(343, 0x96); // 0x96 where a value repeats the one before
    for (auto [at, b] : {std::pair{0, 0xFF}, {84, 0xED}, {86, 0xA7}, {342, 0xA6}})
        sector7[at] = static_cast<uint8_t>(b);
    bytes track = encode(sectors, 2);
    EXPECT_EQ(sector7, bytes(track.begin() + 374 + 28, track.begin() + 2 * 374 - 3)); // physical 1
}

TEST(FdcImageDecoding, WholeTrackGivesEverySectorBackFromAnyStart) {
    // The scan ends just past the data field of the sector it found last.
    for (auto [start, end] : {std::pair{0u, 5980u}, {100u, 370u}, {1876u, 1866u}, {6199u, 5980u}}) {
        bytes sectors = random_sectors(start), back(4096, 0);
        unsigned pos = start;
        EXPECT_EQ(0xFFFFu, fdc_image_decode_track(encode(sectors, 5).data(), &pos, back.data()));
        EXPECT_EQ(sectors, back) << start;
        EXPECT_EQ(end, pos) << start;
    }
}

TEST(FdcImageDecoding, DamagedMarksAndSectorNumbersLoseOnlyTheirSectors) {
    // A patch at `at`, and with `wipe` sector 0's data field gone: stray marks
    // before physical sector 1 (image 7), its prologue cut, physical sector 2
    // named 16 and 255 (address checksum wrong), whole tracks without a sector.
    std::string ff(6200, '\xFF'), d5(6200, '\xD5'), marks, lone = ff;
    for (int i = 0; i < 2066; i++)
        marks += "\xD5\xAA\x96";
    lone.replace(100, 3, "\xD5\xAA\x96");
    const std::tuple<bool, size_t, std::string, unsigned> rows[] = {
        {0, 378, "\xD5\x97", 0},      {0, 377, "\xD5\xAA\x97", 0},  {0, 379, "\xD5", 0},
        {0, 378, "\xD5\xAA", 0},      {1, 378, "\xD5\x97", 1},      {1, 377, "\xD5\xAA\x97", 1},
        {1, 379, "\xD5", 1},          {1, 378, "\xD5\xAA", 1},      {0, 381, "\xAB", 0x80},
        {0, 761, "\xAA\xBA", 0x4000}, {0, 761, "\xFF\xFF", 0x4000}, {0, 0, ff, 0xFFFF},
        {0, 0, d5, 0xFFFF},           {0, 0, marks, 0xFFFF},        {0, 0, lone, 0xFFFF},
    };
    bytes sectors = random_sectors(2);
    for (auto &[wipe, at, patch, lost] : rows) {
        bytes track = encode(sectors, 7), back(4096, 0xA5);
        if (wipe) std::fill_n(track.begin() + 25, 374 - 25, 0xFF);
        std::copy(patch.begin(), patch.end(), track.begin() + long(at));
        unsigned pos = 0;
        EXPECT_EQ(0xFFFF & ~lost, fdc_image_decode_track(track.data(), &pos, back.data())) << at;
        bytes want = sectors; // and the buffer keeps what it had for the sectors lost
        for (int l = 0; l < 16; l++)
            if (lost >> l & 1) std::fill_n(want.begin() + l * 256, 256, 0xA5);
        EXPECT_EQ(want, back) << at;
    }
}

TEST(FdcImageDecoding, ChecksumsAndCutWritesKeepTheSectorAndSayWhy) {
    // A change at byte `at` of physical sector 3's slot (image sector 6); with
    // `part`, the write that made the slot stopped after `part` bytes of it.
    // Slot bytes: address prologue 6, checksum 15-16, epilogue 17, data prologue
    // 25, values 28-369, checksum 370, epilogue 371.
    const std::tuple<int, std::string, int, int> rows[] = {
        {200, "\x97", 0, FDC_DATA_CHECKSUM},    {370, "\xFF", 0, FDC_DATA_CHECKSUM},
        {371, "\xFF", 0, FDC_DATA_CHECKSUM},    {200, "\x80", 0, FDC_DATA_CUT},
        {15, "\xAB", 0, FDC_BAD_ADDRESS},       {17, "\xFF", 0, FDC_BAD_ADDRESS},
        {25, "\xFF", 0, FDC_NO_DATA_FIELD},     {0, "", 200, FDC_DATA_CUT},
        {0, "", 12, FDC_BAD_ADDRESS},           {20, "\xD5\xAA\x96", 0, -1},
        {0, "\xFF\xFF\xD5\xAA\x96\xFF", 0, -1}, {0, "", 374, -1},
    };
    bytes sectors = random_sectors(3);
    for (auto &[at, patch, part, kind] : rows) {
        bytes track = encode(sectors, 9), back(4096, 0xA5), burst(6200, 0);
        std::copy(patch.begin(), patch.end(), track.begin() + 3 * 374 + at);
        std::fill_n(burst.begin() + 3 * 374, part, 7); // the rest of the slot is older
        unsigned pos = 0;
        fdc_track_scan scan;
        fdc_image_decode_track(track.data(), &pos, back.data(), &scan, burst.data());
        bytes want = sectors;
        if (kind >= 0) std::fill_n(want.begin() + 6 * 256, 256, 0xA5);
        EXPECT_EQ(want, back) << at << " " << part;
        EXPECT_EQ(kind < 0 ? 0xFFFFu : 0xFFBFu, scan.found) << at;
        ASSERT_EQ(kind < 0 ? 0 : 1, scan.damaged) << at << " " << part;
        if (kind >= 0) {
            EXPECT_EQ(std::pair(3, kind), std::pair(+scan.damage[0].sector, +scan.damage[0].kind));
        }
    }
}

TEST(FdcImageDecoding, ACopyTheMachineWroteBeatsAnOlderOneLeftOnTheTrack) {
    // Physical sector 4's slot copied over slot 9 (later on the track), from
    // the old sectors; the new copy in slot 4 was written, or nothing was.
    bytes old_sectors = random_sectors(4), new_sectors = old_sectors;
    std::fill_n(new_sectors.begin() + 13 * 256, 256, 0x3C); // image sector of physical 4
    for (bool written : {true, false}) {
        bytes track = encode(new_sectors, 1), old_track = encode(old_sectors, 1), burst(6200, 0);
        std::copy_n(old_track.begin() + 4 * 374, 374, track.begin() + 9 * 374);
        if (written) std::fill_n(burst.begin() + 4 * 374, 374, 2);
        bytes back(4096, 0);
        unsigned pos = 0;
        fdc_image_decode_track(track.data(), &pos, back.data(), nullptr, burst.data());
        const bytes &winner = written ? new_sectors : old_sectors;
        EXPECT_EQ(bytes(winner.begin() + 13 * 256, winner.begin() + 14 * 256),
                  bytes(back.begin() + 13 * 256, back.begin() + 14 * 256))
            << written;
    }
}
