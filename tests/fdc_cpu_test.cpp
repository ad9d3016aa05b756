// A disk read routine in 6502 code, run by the processor from RAM: motor on,
// recalibrate, seek by phases, find the address field, decode the data field.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "cpu_6502.h"
#include "fdc.h"
#include "mem.h"
#include "ram.h"
#include "sys_core.h"
#include "test_util.h"

namespace {

// Reads physical sector ($F1) of track ($F0) into $0900 and leaves $F8 = 0,
// or 1 on a checksum mismatch. $0A00 holds the value of each disk byte,
// $0C00 receives the 86 auxiliary values. Ends in the loop at 0x08E4.
const std::vector<uint8_t> read_sector = {
    0xAD, 0x19, 0x03, // 0800  lda $0319            ; motor on
    0xAD, 0x1E, 0x03, // 0803  lda $031E            ; write latch off
    0xA2, 0x12,       // 0806  ldx #18
    0xAD, 0x17, 0x03, // 0808  recal: lda $0317     ; phases 3, 2, 1, 0 on, 18 times: track 0
    0xAD, 0x15, 0x03, // 080B  lda $0315
    0xAD, 0x13, 0x03, // 080E  lda $0313
    0xAD, 0x11, 0x03, // 0811  lda $0311
    0xCA,             // 0814  dex
    0xD0, 0xF1,       // 0815  bne recal
    0xA9, 0x00,       // 0817  lda #0
    0x85, 0xF2,       // 0819  sta $F2
    0xA5, 0xF0,       // 081B  lda $F0
    0x0A,             // 081D  asl a
    0x85, 0xF3,       // 081E  sta $F3
    0xA5, 0xF2,       // 0820  seek: lda $F2
    0xC5, 0xF3,       // 0822  cmp $F3
    0xF0, 0x12,       // 0824  beq seeked
    0x18,             // 0826  clc
    0x69, 0x01,       // 0827  adc #1
    0x85, 0xF2,       // 0829  sta $F2
    0x29, 0x03,       // 082B  and #3
    0x0A,             // 082D  asl a
    0xAA,             // 082E  tax
    0xBD, 0x11, 0x03, // 082F  lda $0311,x          ; phase (half-track mod 4) on
    0xBD, 0x10, 0x03, // 0832  lda $0310,x          ; and off
    0x4C, 0x20, 0x08, // 0835  jmp seek
    0xAD, 0x1C, 0x03, // 0838  seeked: lda $031C    ; buffer latch off: read data
    0xAD, 0x1C, 0x03, // 083B  find: lda $031C      ; address prologue D5 AA 96
    0xC9, 0xD5,       // 083E  cmp #$D5
    0xD0, 0xF9,       // 0840  bne find
    0xAD, 0x1C, 0x03, // 0842  lda $031C
    0xC9, 0xAA,       // 0845  cmp #$AA
    0xD0, 0xF2,       // 0847  bne find
    0xAD, 0x1C, 0x03, // 0849  lda $031C
    0xC9, 0x96,       // 084C  cmp #$96
    0xD0, 0xEB,       // 084E  bne find
    0xA0, 0x04,       // 0850  ldy #4               ; volume and track
    0xAD, 0x1C, 0x03, // 0852  skip: lda $031C
    0x88,             // 0855  dey
    0xD0, 0xFA,       // 0856  bne skip
    0xAD, 0x1C, 0x03, // 0858  lda $031C
    0x38,             // 085B  sec
    0x2A,             // 085C  rol a                ; 4-and-4: (first << 1 | 1) & second
    0x85, 0xF4,       // 085D  sta $F4
    0xAD, 0x1C, 0x03, // 085F  lda $031C
    0x25, 0xF4,       // 0862  and $F4
    0xC5, 0xF1,       // 0864  cmp $F1
    0xD0, 0xD3,       // 0866  bne find
    0xAD, 0x1C, 0x03, // 0868  dfind: lda $031C     ; data prologue D5 AA AD
    0xC9, 0xD5,       // 086B  cmp #$D5
    0xD0, 0xF9,       // 086D  bne dfind
    0xAD, 0x1C, 0x03, // 086F  lda $031C
    0xC9, 0xAA,       // 0872  cmp #$AA
    0xD0, 0xF2,       // 0874  bne dfind
    0xAD, 0x1C, 0x03, // 0876  lda $031C
    0xC9, 0xAD,       // 0879  cmp #$AD
    0xD0, 0xEB,       // 087B  bne dfind
    0xA9, 0x00,       // 087D  lda #0
    0x85, 0xF5,       // 087F  sta $F5
    0xA0, 0x00,       // 0881  ldy #0
    0xAE, 0x1C, 0x03, // 0883  aux: ldx $031C       ; running XOR of the values
    0xBD, 0x00, 0x0A, // 0886  lda $0A00,x
    0x45, 0xF5,       // 0889  eor $F5
    0x85, 0xF5,       // 088B  sta $F5
    0x99, 0x00, 0x0C, // 088D  sta $0C00,y
    0xC8,             // 0890  iny
    0xC0, 0x56,       // 0891  cpy #86
    0xD0, 0xEE,       // 0893  bne aux
    0xA0, 0x00,       // 0895  ldy #0
    0xAE, 0x1C, 0x03, // 0897  main: ldx $031C
    0xBD, 0x00, 0x0A, // 089A  lda $0A00,x
    0x45, 0xF5,       // 089D  eor $F5
    0x85, 0xF5,       // 089F  sta $F5
    0x99, 0x00, 0x09, // 08A1  sta $0900,y
    0xC8,             // 08A4  iny
    0xD0, 0xF0,       // 08A5  bne main
    0xAE, 0x1C, 0x03, // 08A7  ldx $031C
    0xBD, 0x00, 0x0A, // 08AA  lda $0A00,x
    0xC5, 0xF5,       // 08AD  cmp $F5
    0xD0, 0x36,       // 08AF  bne fail
    0xA9, 0x00,       // 08B1  lda #0
    0x85, 0xF6,       // 08B3  sta $F6
    0xA6, 0xF6,       // 08B5  comb: ldx $F6        ; byte = value << 2 | next bit pair, exchanged
    0xBD, 0x00, 0x0C, // 08B7  lda $0C00,x
    0x4A,             // 08BA  lsr a
    0x9D, 0x00, 0x0C, // 08BB  sta $0C00,x
    0xB9, 0x00, 0x09, // 08BE  lda $0900,y
    0x2A,             // 08C1  rol a
    0x85, 0xF7,       // 08C2  sta $F7
    0xBD, 0x00, 0x0C, // 08C4  lda $0C00,x
    0x4A,             // 08C7  lsr a
    0x9D, 0x00, 0x0C, // 08C8  sta $0C00,x
    0xA5, 0xF7,       // 08CB  lda $F7
    0x2A,             // 08CD  rol a
    0x99, 0x00, 0x09, // 08CE  sta $0900,y
    0xE6, 0xF6,       // 08D1  inc $F6
    0xA5, 0xF6,       // 08D3  lda $F6
    0xC9, 0x56,       // 08D5  cmp #86
    0xD0, 0x04,       // 08D7  bne next
    0xA9, 0x00,       // 08D9  lda #0
    0x85, 0xF6,       // 08DB  sta $F6
    0xC8,             // 08DD  next: iny
    0xD0, 0xD5,       // 08DE  bne comb
    0xA9, 0x00,       // 08E0  lda #0
    0x85, 0xF8,       // 08E2  sta $F8
    0x4C, 0xE4, 0x08, // 08E4  done: jmp done
    0xA9, 0x01,       // 08E7  fail: lda #1
    0x85, 0xF8,       // 08E9  sta $F8
    0x4C, 0xE4, 0x08, // 08EB  jmp done
};
constexpr uint16_t DONE = 0x08E4;

constexpr uint8_t DISK_BYTES[64] = {
    0x96, 0x97, 0x9A, 0x9B, 0x9D, 0x9E, 0x9F, 0xA6, 0xA7, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF, 0xB2, 0xB3,
    0xB4, 0xB5, 0xB6, 0xB7, 0xB9, 0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF, 0xCB, 0xCD, 0xCE, 0xCF, 0xD3,
    0xD6, 0xD7, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF, 0xE5, 0xE6, 0xE7, 0xE9, 0xEA, 0xEB, 0xEC,
    0xED, 0xEE, 0xEF, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF};
constexpr int SKEW[16] = {0, 7, 14, 6, 13, 5, 12, 4, 11, 3, 10, 2, 9, 1, 8, 15};

class FdcProcessor : public ::testing::Test {
  protected:
    TempDir dir;
    uint8_t *mem = nullptr;
    void SetUp() override {
        ASSERT_EQ(0, mem_init());
        ASSERT_EQ(0, cpu_6502_init());
        sys_queue_reset();
        mem = ram_getptr();
        for (size_t i = 0; i < read_sector.size(); i++)
            mem[0x0800 + i] = read_sector[i];
        for (int b = 0; b < 256; b++)
            mem[0x0A00 + b] = 0x80;
        for (int v = 0; v < 64; v++)
            mem[0x0A00 + DISK_BYTES[v]] = static_cast<uint8_t>(v);
    }
    void TearDown() override { fdc_flush(); }
    // Runs the routine through the emulation step; false when it never ends.
    bool run(int track, int sector) {
        mem[0xF0] = static_cast<uint8_t>(track);
        mem[0xF1] = static_cast<uint8_t>(sector);
        mem[0xF8] = 0xA5;
        cpu_6502.pcreg = 0x0800;
        for (long cycles = 0; cycles < 20'000'000;) {
            if (cpu_6502.pcreg == DONE) return true;
            int used = 0;
            sys_systemloop(&used);
            cycles += used;
        }
        return false;
    }
};

} // namespace

TEST_F(FdcProcessor, RoutineReadsTheImageSectorsOfSeveralTracks) {
    std::mt19937 gen(21);
    std::vector<uint8_t> image(143360);
    for (auto &b : image)
        b = static_cast<uint8_t>(gen());
    write_file("prog.dsk", image);
    ASSERT_EQ(0, fdc_mount("prog.dsk", 0, 0));
    struct {
        int track, sector;
    } cases[] = {{0, 0}, {0, 1}, {1, 13}, {17, 5}, {34, 15}, {6, 8}, {0, 9}};
    for (auto c : cases) {
        ASSERT_TRUE(run(c.track, c.sector)) << "track " << c.track << " sector " << c.sector;
        EXPECT_EQ(0, mem[0xF8]) << "checksum, track " << c.track << " sector " << c.sector;
        size_t at = (static_cast<size_t>(c.track) * 16 + SKEW[c.sector]) * 256;
        std::vector<uint8_t> expected(image.begin() + static_cast<long>(at),
                                      image.begin() + static_cast<long>(at + 256));
        EXPECT_EQ(expected, std::vector<uint8_t>(mem + 0x0900, mem + 0x0A00))
            << "track " << c.track << " sector " << c.sector;
    }
}

TEST_F(FdcProcessor, EmptyDriveNeverYieldsASector) {
    // 0xFF for ever: the routine keeps looking and the step stays bounded.
    EXPECT_FALSE(run(0, 0));
}
