#include "board.h"

#include "cpu_6502.h"
#include "mem.h"
#include "vdc.h"
#include "via_6522.h"

int board_init_io() {
    return via_6522_init();
}

int board_init() {
    int failed = mem_init();
    failed |= vdc_init();
    failed |= board_init_io();
    failed |= cpu_6502_init();
    return failed != 0;
}
