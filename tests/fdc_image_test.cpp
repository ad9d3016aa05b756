#include "fdc_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

using bytes = std::vector<uint8_t>;

bytes encode(const bytes &sectors, int t) {
    bytes track(FDC_TRACK_BYTES, 0x00);
    fdc_image_encode_track(sectors.data(), t, 254, track.data());
    return track;
}

bytes slice(const bytes &b, size_t from, size_t count) {
    return bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(from + count));
}

bytes random_sectors(unsigned seed) {
    std::mt19937 gen(seed);
    bytes b(FDC_IMAGE_TRACK_BYTES);
    for (auto &x : b)
        x = static_cast<uint8_t>(gen());
    return b;
}

// 4-and-4 pair of a value, as the address field holds it.
std::pair<uint8_t, uint8_t> pair44(unsigned x) {
    return {static_cast<uint8_t>((x >> 1) | 0xAA), static_cast<uint8_t>(x | 0xAA)};
}

} // namespace

TEST(FdcImageEncoding, PhysicalSectorsCarrySkewedImageSectors) {
    // Each image sector filled with its own number shows which one a slot holds.
    bytes sectors(FDC_IMAGE_TRACK_BYTES);
    for (int l = 0; l < 16; l++)
        std::memset(sectors.data() + l * 256, l * 17, 256);
    bytes track = encode(sectors, 2);
    const int expected_image_sector[16] = {0, 7, 14, 6, 13, 5, 12, 4, 11, 3, 10, 2, 9, 1, 8, 15};
    for (int s = 0; s < 16; s++) {
        bytes one(FDC_IMAGE_TRACK_BYTES, 0);
        std::memset(one.data(), expected_image_sector[s] * 17, 256);
        bytes reference = encode(one, 2); // physical sector 0 holds image sector 0
        EXPECT_EQ(slice(reference, 28, 343), slice(track, s * FDC_SLOT_BYTES + 28, 343))
            << "physical sector " << s;
    }
}

TEST(FdcImageEncoding, AddressFieldsNumberEverySectorAndTheGapEndsTheTrack) {
    bytes track = encode(random_sectors(1), 34);
    for (unsigned s = 0; s < 16; s++) {
        size_t at = s * FDC_SLOT_BYTES;
        auto [t1, t2] = pair44(34);
        auto [s1, s2] = pair44(s);
        auto [c1, c2] = pair44(254 ^ 34 ^ s);
        EXPECT_EQ((bytes{0xD5, 0xAA, 0x96, 0xFF, 0xFE, t1, t2, s1, s2, c1, c2, 0xDE, 0xAA, 0xEB}),
                  slice(track, at + 6, 14));
        EXPECT_EQ((bytes{0xDE, 0xAA, 0xEB}), slice(track, at + 371, 3));
    }
    EXPECT_EQ(bytes(216, 0xFF), slice(track, 5984, 216));
}

TEST(FdcImageEncoding, DataBytesAreAlwaysDiskBytes) {
    // No data byte may look like a mark or fall below the lowest disk byte.
    bytes track = encode(random_sectors(2), 9);
    for (int s = 0; s < 16; s++)
        for (int j = 28; j <= 370; j++) {
            uint8_t b = track[s * FDC_SLOT_BYTES + j];
            ASSERT_GE(b, 0x96);
            ASSERT_NE(0xD5, b);
            ASSERT_NE(0xAA, b);
        }
}

TEST(FdcImageDecoding, RoundTripGivesEverySectorBack) {
    for (unsigned seed = 10; seed < 14; seed++) {
        bytes sectors = random_sectors(seed);
        bytes track = encode(sectors, 5);
        bytes back(FDC_IMAGE_TRACK_BYTES, 0);
        unsigned pos = seed * 977; // any starting point of the ring
        EXPECT_EQ(0xFFFFu, fdc_image_decode_track(track.data(), &pos, back.data()));
        EXPECT_EQ(sectors, back);
    }
}

TEST(FdcImageDecoding, StopsAfterTheLastDataFieldOfAFullTrack) {
    bytes track = encode(random_sectors(3), 0);
    bytes back(FDC_IMAGE_TRACK_BYTES, 0);
    unsigned pos = 0;
    fdc_image_decode_track(track.data(), &pos, back.data());
    EXPECT_EQ(15u * FDC_SLOT_BYTES + 28 + 342, pos); // just past sector 15's data
}

TEST(FdcImageDecoding, TrackWithoutMarksEndsAndKeepsTheBuffer) {
    bytes before = random_sectors(4);
    for (uint8_t fill : {0xFF, 0x96, 0xD5}) {
        bytes track(FDC_TRACK_BYTES, fill);
        bytes back = before;
        unsigned pos = 17;
        EXPECT_EQ(0u, fdc_image_decode_track(track.data(), &pos, back.data()));
        EXPECT_EQ(before, back);
    }
}

TEST(FdcImageDecoding, AddressFieldsWithoutDataFieldsEnd) {
    // Address prologues everywhere and no data field: the scan must still end.
    bytes track(FDC_TRACK_BYTES);
    for (size_t i = 0; i < track.size(); i++)
        track[i] = bytes{0xD5, 0xAA, 0x96}[i % 3];
    bytes back(FDC_IMAGE_TRACK_BYTES, 0);
    unsigned pos = 0;
    EXPECT_EQ(0u, fdc_image_decode_track(track.data(), &pos, back.data()));
}

TEST(FdcImageDecoding, PartlyOverwrittenTrackGivesTheSectorsLeft) {
    bytes sectors = random_sectors(5);
    bytes track = encode(sectors, 7);
    // Software wiped physical sectors 3 and 4 (image sectors 6 and 13).
    std::memset(track.data() + 3 * FDC_SLOT_BYTES, 0xFF, 2 * FDC_SLOT_BYTES);
    bytes back(FDC_IMAGE_TRACK_BYTES, 0xA5);
    unsigned pos = 0;
    unsigned found = fdc_image_decode_track(track.data(), &pos, back.data());
    EXPECT_EQ(0xFFFFu & ~(1u << 6) & ~(1u << 13), found);
    for (int l = 0; l < 16; l++) {
        bytes expected = (l == 6 || l == 13) ? bytes(256, 0xA5) : slice(sectors, l * 256, 256);
        EXPECT_EQ(expected, slice(back, l * 256, 256)) << "image sector " << l;
    }
}

TEST(FdcImageDecoding, SectorNumbersAbove15AreSkipped) {
    bytes sectors = random_sectors(6);
    bytes track = encode(sectors, 1);
    for (unsigned wild : {16u, 0x5Au, 0xFFu}) {
        bytes changed = track;
        auto [s1, s2] = pair44(wild);
        changed[2 * FDC_SLOT_BYTES + 13] = s1; // physical sector 2: image sector 14
        changed[2 * FDC_SLOT_BYTES + 14] = s2;
        bytes back(FDC_IMAGE_TRACK_BYTES, 0);
        unsigned pos = 0;
        EXPECT_EQ(0xFFFFu & ~(1u << 14), fdc_image_decode_track(changed.data(), &pos, back.data()));
        EXPECT_EQ(slice(sectors, 0, 14 * 256), slice(back, 0, 14 * 256));
        EXPECT_EQ(bytes(256, 0), slice(back, 14 * 256, 256));
    }
}

TEST(FdcImageDecoding, DuplicateSectorNumberLaterCopyWins) {
    bytes sectors = random_sectors(7);
    bytes track = encode(sectors, 1);
    // Physical slot 6 claims to be sector 5 too: image sector 5 appears twice.
    auto [s1, s2] = pair44(5);
    track[6 * FDC_SLOT_BYTES + 13] = s1;
    track[6 * FDC_SLOT_BYTES + 14] = s2;
    bytes back(FDC_IMAGE_TRACK_BYTES, 0);
    unsigned pos = 0;
    unsigned found = fdc_image_decode_track(track.data(), &pos, back.data());
    EXPECT_EQ(0xFFFFu & ~(1u << 12), found); // image sector 12 (physical 6) is never named
    EXPECT_EQ(slice(sectors, 12 * 256, 256), slice(back, 5 * 256, 256)); // slot 6's data
}
