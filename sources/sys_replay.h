// sys_replay: recording every input that reaches the machine, and playing
// it back so that the machine is the recorded one at every frame.
//
// Inputs reach the machine two ways: events (keys, typed text, reset, NMI,
// speed), which all pass sys_core's input slot and are kept with the frame
// and the cycle in the frame they took effect at; and changes made between
// frames under the machine lock (console commands, loads and mounts, state
// restores, rewinds, the monitor), which are kept as the whole machine at
// the next frame's start. Frames count from the recording's start.
//
// File: "KESTRPL" 0x1A, the format version and the body's length (32-bit
// little-endian), then the body compressed with zlib. The body: the frame
// period in ms (u16), the hashes of the system ROM and the disk boot ROM
// (u64), the frames recorded (u32), then entries, each a tag byte and its
// frame (u32):
//   'E' an event: the cycle in the frame (u32), the code (u8), the value (u32)
//   'S' the whole machine at the frame's start: length (u32), a state file
//   'F' a disk image (drive 0 or 1) or tape (2) the machine uses from
//       here: drive (u8), hash (u64), name length (u16), name
// The first entry is the start: an 'S' at frame 0, after its 'F' entries.
//
// Threads: record and open run on the main thread before the frames start,
// finish after they end; frame and the slots on the timer thread under the
// machine lock; rewound on the main thread under the machine lock.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t REPLAY_VERSION = 1;

// Starts a recording of the machine as it is now (ROMs, drives, state):
// 1 with the reason in *why when the start cannot be captured.
int sys_replay_record(const char *path, std::string *why);
// Writes the recording made so far to its file (whole, replacing it); 0
// when none runs. 1 with the reason in *why. Ends a replay too.
int sys_replay_finish(std::string *why);

// Reads and checks a recording whole, then puts the machine in its start
// and arms the replay: 1 with one line in *why (a bad file, another ROM, a
// changed or missing disk image), the machine then as it was, except that
// drives named by the recording may have been mounted.
int sys_replay_open(const char *path, std::string *why);
// The same on bytes in memory, without the start's disk images: the check
// alone (apply 0) or the check and the start (apply 1).
int sys_replay_parse(const uint8_t *file, size_t size, int apply, std::string *why);
// Frames still to replay; 0 once the replay is over (the machine goes on live).
long sys_replay_left();
long sys_replay_length();      // frames of the replay opened, 0 without one
uint32_t sys_replay_refresh(); // the frame period the recording ran at (ms)

// Timer thread, at each frame's start, before anything else acts: records
// a change made between frames (or every frame while `debugging`, since the
// monitor may have held the machine), or applies what the replay has here.
void sys_replay_frame(int debugging);
// The frame now running, counted from the start (timer thread or machine lock).
long sys_replay_now();
// A change the events do not carry was made at this frame's start on the
// timer thread (a program loaded): kept as the whole machine now.
void sys_replay_changed();
// How far the recording has come (entries), for a rewind to go back to.
size_t sys_replay_mark();
// Machine lock, main thread: the machine went back to the start of `frame`,
// whose recording had `mark` entries; what came after is dropped.
void sys_replay_rewound(long frame, size_t mark);
