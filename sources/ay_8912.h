// ay_8912: the sound chip behind the VIA, its keyboard matrix and the
// speaker line. The audio record at the head of its state is how the host
// audio layer and the console reach it.
#pragma once
#include <cstdint>

#include "sys_core.h"

struct audio_record {
    uint32_t paused;
    void (*fill)(void *user, uint8_t *stream, int len);
    void (*lock)();
    void (*unlock)();
    void (*pause)();
    void (*unpause)();
};

extern audio_record *audio;

int ay_8912_init();
int ay_8912_run(int cycles);
int ay_8912_event(const event &ev);
void ay_8912_callback(void *user, uint8_t *stream, int len);
