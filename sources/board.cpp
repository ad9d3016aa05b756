#include "board.h"

#include "ay_8912.h"
#include "cpu_6502.h"
#include "keyboard.h"
#include "mem.h"
#include "ram.h"
#include "sys_cfg.h"
#include "sys_core.h"
#include "vdc.h"
#include "via_6522.h"
#include "via_6522_tapein.h"

// The system ROM's tape routines, served from the mounted tape: the sync
// search goes on past its detection loop once a block is found; the byte
// reader returns with the byte in A and in the ROM's copy, and no error.
constexpr uint16_t TAPE_SYNC = 0xE735;
constexpr uint16_t TAPE_SYNC_DONE = 0xE759;
constexpr uint16_t TAPE_BYTE = 0xE6C9;
constexpr uint16_t TAPE_BYTE_DONE = 0xE6FB;
constexpr uint16_t TAPE_BYTE_RAM = 0x002F;
constexpr uint16_t TAPE_STATUS_RAM = 0x02B1;
static_assert(TAPE_BYTE < TAPE_SYNC);

// ---- the VIA's IRQ output is the processor's IRQ input ----

static void irq_line(uint8_t level) {
    level ? cpu_6502_setirq() : cpu_6502_clrirq();
}

// ---- tape short-cuts, before the instruction at either entry ----

static void serve_tape() {
    cpu_6502_registers &r = cpu_6502;
    if (r.pcreg == TAPE_SYNC) {
        if (via_6522_tapein_sync() == 0) r.pcreg = TAPE_SYNC_DONE;
    } else if (r.pcreg == TAPE_BYTE) {
        uint8_t byte = 0xFF;
        if (via_6522_tapein_byte(&byte) == 0) {
            uint8_t *mem = ram_getptr();
            r.areg = byte;
            mem[TAPE_BYTE_RAM] = byte;
            mem[TAPE_STATUS_RAM] = 0;
            r.pcreg = TAPE_BYTE_DONE;
        }
    }
}

// Port A is the sound chip's data bus, CA2 its BC1 and CB2 its BDIR; port B
// carries the keyboard row and sense and the speaker, which the sound chip
// module serves. CA1 and CB1 stay as the VIA leaves them: nothing drives them.
static void wire() {
    via_state *via = nullptr;
    via_6522_getctx(&via);
    via->handlers.pa_r = ay_8912_porta_r;
    via->handlers.pa_w = ay_8912_porta_w;
    via->handlers.pb_r = ay_8912_portb_r;
    via->handlers.pb_w = ay_8912_portb_w;
    via->handlers.ca2_w = ay_8912_set_bc1;
    via->handlers.cb2_w = ay_8912_set_bdir;
    via_6522_wire({irq_line, keyboard_event});
    // The sound chip stamps its queues with the VIA's count of cycles, those
    // the exact processor has the VIA catch up on included.
    ay_8912_wire({keyboard_sense, keyboard_matrix(), &speed, via_6522_timeline()});
    cpu_6502_wire({via_6522_catch_up, serve_tape, TAPE_BYTE, TAPE_SYNC});
}

int board_init_io() {
    int failed = via_6522_init();
    failed |= ay_8912_init();
    failed |= ay_8912_settings(config[CFG_SOUND].value, config[CFG_SPEAKER].value);
    failed |= keyboard_init();
    wire();
    return failed != 0;
}

int board_init() {
    int failed = mem_init();
    failed |= vdc_init();
    failed |= board_init_io();
    failed |= cpu_6502_init();
    return failed != 0;
}
