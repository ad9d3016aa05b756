#include "main.h"

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

int main() {
    sys_cfg_load();
    sys_cfg_save();
    log_verbosity(config[CFG_VERBOSITY].value);
    sys_apply_config();
    mem_init();  // the processor reset below needs the ROM in place
    vdc_init();
    via_6522_init();
    cpu_6502_init();
    sys_sdl_init();
    video->zoom = zoom;
    video_sdl_init();
    audio->paused = sound == 0 ? 1 : 0;
    audio_sdl_init();
    sys_sdl_run(sys_systemloop);
    audio_sdl_finish();
    video_sdl_finish();
    sys_sdl_finish();
    fdc_flush();
    return 0;
}
