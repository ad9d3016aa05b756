// PLACEHOLDER until the sound chip lands: lets the other modules link.
#include "ay_8912.h"

#include <cstring>

static audio_record record;
audio_record *audio = &record;

int ay_8912_init() {
    record.fill = ay_8912_callback;
    record.paused = 0;
    return 0;
}
int ay_8912_run(int) { return 0; }
int ay_8912_event(const event &) { return 0; }
void ay_8912_callback(void *, uint8_t *stream, int len) { memset(stream, 0, len); }
