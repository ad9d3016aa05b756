#include "board.h"

#include "ay_8912.h"
#include "fixture.h"
#include "keyboard.h"
#include "via_6522_tapein.h"

namespace {

using bytes = std::vector<uint8_t>;

using BoardWiring = Machine;

// Timer 1's flag, enabled, holds the processor's IRQ input until it is read off.
TEST_F(BoardWiring, ViaInterruptIsTheProcessorsIrq) {
    via_6522_write(VIA_BASE + VIA_IER, 0xC0);
    via_6522_write(VIA_BASE + VIA_T1C_L, 0x03);
    via_6522_write(VIA_BASE + VIA_T1C_H, 0x00);
    via_6522_run(3);
    EXPECT_EQ(0, cpu_6502.flagirq);
    via_6522_run(1); // loaded with 3: out on the 4th cycle
    EXPECT_EQ(2, cpu_6502.flagirq);
    uint8_t low = 0;
    via_6522_read(VIA_BASE + VIA_T1C_L, &low);
    EXPECT_EQ(0, cpu_6502.flagirq);
}

// The sound chip's timeline runs on the VIA's cycles: ten output frames of
// 22 cycles each, counted one by one or in one go.
TEST_F(BoardWiring, SoundChipCountsTheViasCycles) {
    uint8_t stream[4 * 16];
    for (int batch : {1, 220}) {
        ay_8912_discard(); // the timeline starts over, one frame ahead
        for (int done = 0; done < 22 * 10; done += batch)
            via_6522_run(batch);
        EXPECT_EQ(10, ay_8912_render(stream, 16)) << batch;
    }
}

// Key events the step hands the VIA close and open the key's cell.
TEST_F(BoardWiring, KeyEventsThroughTheViaReachTheMatrix) {
    via_6522_event({EV_KEY_DOWN, KEY_Q});
    via_6522_event({EV_KEY_DOWN, KEY_RSHIFT});
    EXPECT_EQ(0x40, keyboard_matrix()[1]); // q: row 1, column 6
    EXPECT_EQ(0x10, keyboard_matrix()[7]); // right shift: row 7, column 4
    via_6522_event({EV_KEY_UP, KEY_Q});
    EXPECT_EQ(0x00, keyboard_matrix()[1]);
}

using BoardTape = Machine;

TEST_F(BoardTape, ShortCutsServeTheMountedTapeToRunOnly) {
    poke(0x02B1, {0x55});
    poke(0xE6FB, {0xEA});       // NOP at the byte reader's exit
    poke(0xE735, {0xE8});       // INX in the ROM's own sync loop
    poke(0xE759, {0xC8});       // INY, where the ROM goes once in sync
    code(0xE6C9, {0xA9, 0x11}); // LDA #$11: the ROM's own reader, which says "no byte"
    auto run_at = [](uint16_t pc) { return cpu_6502.pcreg = pc, cpu_6502_run(); };
    EXPECT_EQ(2, run_at(0xE6C9));
    EXPECT_EQ(bytes({0xCB, 0xE6, 0x11, 0x00}), // no tape: the ROM's code runs
              bytes({uint8_t(cpu_6502.pcreg), uint8_t(cpu_6502.pcreg >> 8), cpu_6502.areg,
                     ram_getptr()[0x2F]}));
    run_at(0xE735);
    EXPECT_EQ(0xE736, cpu_6502.pcreg);
    ASSERT_EQ(0, via_6522_tapein(new uint8_t[5]{0x16, 0x16, 0x16, 0x24, 0x5A}, 5));
    run_at(0xE735);
    EXPECT_EQ(0xE75A, cpu_6502.pcreg);
    for (uint8_t want : {0x24, 0x5A}) {       // the header's first byte after the sync run
        tr[0] = want == 0x5A ? TR_MASTER : 0; // the traced run serves it as well
        run_at(0xE6C9);
        EXPECT_EQ(bytes({want, want}), bytes({cpu_6502.areg, ram_getptr()[0x002F]}));
    }
    tr[0] = 0;
    run_at(0xE6C9); // past the tape's end, the ROM's code again
    EXPECT_EQ(bytes({0xCB, 0xE6, 0x11}),
              bytes({uint8_t(cpu_6502.pcreg), uint8_t(cpu_6502.pcreg >> 8), cpu_6502.areg}));
    ASSERT_EQ(0, via_6522_tapein(new uint8_t[5]{0x16, 0x16, 0x16, 0x24, 0x5A}, 5));
    run_at(0xE735);
    cpu_6502.pcreg = 0xE6C9; // a bare step runs the ROM
    cpu_6502.areg = 0;
    cpu_6502_step();
    EXPECT_EQ(0x11, cpu_6502.areg);
    via_6522_tapein(nullptr, 0);
}

} // namespace
