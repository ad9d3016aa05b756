// ay_8912: the sound chip, with the speaker line mixed into its output.
// The board wires VIA port A to its data bus, CA2 to its BC1 and CB2 to its
// BDIR, and port B to the port B functions below: bits 0-2 pick a keyboard
// row, bit 3 senses it against the columns the chip's I/O port (R14)
// drives low, bit 7 is the speaker.
//
// Threads: the bus handlers, key events and ay_8912_run run on the timer
// thread; ay_8912_callback runs on the host audio thread. They meet only in
// the queues of cycle-stamped register writes and speaker changes and in the
// synthesis state, both touched under the audio lock (audio->lock/unlock;
// the host holds it around the callback). `paused` is written by the main
// thread and read by the timer thread, hence atomic. The timing mode is set
// under the audio lock.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

// The head of the sound chip state: how the host audio layer and the console
// reach the chip, and how the chip reaches the host lock without knowing SDL.
struct audio_record {
    std::atomic<uint32_t> paused; // 1: no callbacks, register writes apply at once
    void (*fill)(void *user, uint8_t *stream, int len);
    int (*lock)(); // nullptr until the host audio layer is set up
    int (*unlock)();
    int (*pause)();
    int (*unpause)();
};

extern audio_record *audio;

constexpr int AY_CYCLES_PER_FRAME = 22; // emulated cycles per output frame
// Exact timing: the real clock over the host rate, 1,000,000 / 44,100 cycles
// a frame, as 22 and a remainder of 298 in 441.
constexpr int AY_FRAME_REMAINDER = 298;
constexpr int AY_FRAME_DIVISOR = 441;
constexpr int AY_WRITE_QUEUE = 12288;  // register writes per audio buffer
constexpr int AY_SPEAKER_QUEUE = 1024; // speaker changes per audio buffer
constexpr int AY_SPEAKER_LEVEL = 8192; // what the speaker adds to the mix

// What the chip is handed, wired once by the board; a reset keeps it.
// nullptr: not wired (no key senses, speed 1, no matrix saved).
struct ay_8912_wiring {
    // The keyboard behind the I/O port: 1 when a held key of `row` sits on
    // a column that `columns` drives low.
    uint8_t (*sense)(uint8_t row, uint8_t columns);
    uint8_t *keys; // the key matrix, 8 rows: saved states keep it in this chip's section
    const std::atomic<int> *speed; // above 1, nobody plays the queue in time
    // The machine's cycle count, which stamps the queues; nullptr: the
    // chip's own, counted by ay_8912_run.
    uint32_t *timeline;
};
int ay_8912_wire(const ay_8912_wiring &wiring); // 0

int ay_8912_init();          // clears the chip; the settings are then as handed before
int ay_8912_run(int cycles); // timeline clock, once per emulated cycle
// The host's settings: sound (0 silences the speaker) and speaker (0 keeps
// port B bit 7 out of the mix). Kept until the next call.
int ay_8912_settings(int sound, int speaker);
// Host fill callback: len bytes of signed 16-bit stereo, 22 cycles per frame
// (22.676 in exact timing, which gives the chip's real pitch).
void ay_8912_callback(void *user, uint8_t *stream, int len);
// The machine's own clock in place of the host device's: renders every output
// frame the emulated cycles have completed since the last call (at most
// `cap`) into `stream`, and returns how many. Timer thread, audio lock held
// when a device is open; for recordings and runs without a device.
int ay_8912_render(uint8_t *stream, int cap);
// As render, when nobody listens (warp without a recording): the queued
// writes take effect, but no output is synthesised. Same thread and lock.
int ay_8912_discard();
int ay_8912_exact(int on); // 1: exact timing; takes the audio lock
// Applies one register write to the sound parameters (queue or immediate path;
// the caller holds the audio lock when the callback may run).
void ay_8912_dowrite(uint8_t reg, uint8_t value);

// The VIA's lines (see the top). ay_8912_portb_r senses the keyboard row.
uint8_t ay_8912_porta_r();
void ay_8912_porta_w(uint8_t byte);
uint8_t ay_8912_portb_r();
void ay_8912_portb_w(uint8_t byte);
void ay_8912_set_bc1(uint8_t level);
void ay_8912_set_bdir(uint8_t level);

// Saved state (sys_state): registers, synthesis counters, envelope, noise,
// key matrix, speaker and both queues of cycle-stamped changes, so the
// samples go on as they would have. Host settings and the audio record stay.
// Takes the audio lock. apply as for cpu_6502_state_load.
void ay_8912_state_save(std::vector<uint8_t> &out);
int ay_8912_state_load(const uint8_t *data, size_t size, int apply);
