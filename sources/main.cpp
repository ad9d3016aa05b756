#include "main.h"

#include <SDL.h>

#include <cstdio>

#include "ay_8912.h"
#include "cpu_6502.h"
#include "fdc.h"
#include "log.h"
#include "mem.h"
#include "sys_cfg.h"
#include "sys_core.h"
#include "sys_sdl.h"
#include "sys_sdl_audio.h"
#include "sys_sdl_video.h"
#include "vdc.h"
#include "via_6522.h"

// Start-up failures go to stderr whatever the verbosity: a program that
// cannot open its window must not just vanish.
static int fail(const char *what) {
    fprintf(stderr, "kestrel: %s: %s\n", what, SDL_GetError());
    return 1;
}

int main() {
    // Both always succeed: a missing file means defaults, an unwritable one is left alone.
    sys_cfg_load();
    sys_cfg_save();
    log_verbosity(config[CFG_VERBOSITY].value);
    sys_apply_config();
    // The processor reset reads its vector through memory: ROM first.
    if (mem_init() != 0 || vdc_init() != 0 || via_6522_init() != 0 || cpu_6502_init() != 0) {
        fprintf(stderr, "kestrel: the machine could not be set up\n");
        return 1;
    }
    if (sys_sdl_init() != 0) return fail("cannot start SDL");
    video->zoom = zoom;
    if (video_sdl_init() != 0) {
        sys_sdl_finish();
        return fail("cannot open the window");
    }
    audio->paused = sound == 0 ? 1 : 0;
    if (audio_sdl_init() != 0) fprintf(stderr, "kestrel: no sound: %s\n", SDL_GetError());
    sys_sdl_run(sys_systemloop);
    audio_sdl_finish();
    video_sdl_finish();
    sys_sdl_finish();
    fdc_flush();
    return 0;
}
