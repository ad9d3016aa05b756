// sys_rewind: the machine's recent past, to go back to. Once an emulated
// second the frame's start is kept as a compressed state in a ring of the
// last REWIND_SECONDS (at most REWIND_BYTES in all; the oldest go first).
// Going back restores one and drops what came after it, also from an input
// recording in progress; the run goes on from there.
//
// Threads: sys_rewind_frame on the timer thread at each frame's start;
// the rest on the main thread; all under the machine lock.
#pragma once
#include <cstddef>

constexpr int REWIND_SECONDS = 60;
constexpr size_t REWIND_BYTES = 8u << 20;

// Timer thread, at a frame's start after sys_replay_frame: keeps the machine
// when the frame begins an emulated second.
void sys_rewind_frame();
// Goes back to the kept second `seconds` before the frame to come (the
// oldest kept when the ring holds less); *back gets the seconds gone back.
// 1 when nothing is kept.
int sys_rewind(int seconds, double *back);
void sys_rewind_clear();   // forgets everything kept
int sys_rewind_count();    // seconds kept
size_t sys_rewind_bytes(); // their size, compressed
