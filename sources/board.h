// board: how the machine is built. The one place that knows which chip
// answers which line, and in which order the machine starts: memory (the
// switches, the disk controller, RAM, ROM, boot ROM), the display
// generator, the VIA with the devices on its lines, then the processor,
// whose reset reads its vector through memory.
//
// The program, the tests, the fuzz targets and the benchmarks all start the
// machine here. Main thread before the timer thread runs, or the machine
// lock held.
#pragma once

// The whole machine from power-on. 0, or 1 when a part failed to start.
int board_init();
// The VIA and the devices on its lines, wired: what a test of the VIA's
// neighbours starts with. Part of board_init.
int board_init_io();
