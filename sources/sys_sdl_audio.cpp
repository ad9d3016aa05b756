#include "sys_sdl_audio.h"

#include <SDL/SDL.h>

#include "ay_8912.h"
#include "log.h"
#include "sys_core.h"
#include "sys_record.h"

constexpr int AUDIO_RATE = 44100;
constexpr int AUDIO_FRAMES = 1024; // per buffer: about 23 ms

constexpr int AUDIO_RENDER_CAP = 8192; // output frames of one machine frame at 4x, with room

// How deep the host lock is held: an inner pair leaves the outer one's lock
// in place, and an unlock with none held does nothing. Its takers (timer
// thread, and the main thread's console and states) hold the machine lock.
static int lock_depth;
// Main thread writes, timer thread reads, both under the machine lock.
static bool warping;
// Main thread writes under the machine lock and the audio lock (when a
// device is open), the device's thread reads with the audio lock held.
static int volume = AUDIO_SDL_VOLUME_MAX;

// The device's thread: the chip fills the buffer, the recorder keeps a copy.
static void fill_and_record(void *user, uint8_t *stream, int len) {
    audio->fill(user, stream, len);
    sys_record_samples(stream, len / 4);
    if (volume != AUDIO_SDL_VOLUME_MAX)
        audio_sdl_scale(reinterpret_cast<int16_t *>(stream), len / 2, volume);
}

int audio_sdl_init() {
    audio->lock = audio_sdl_lock;
    audio->unlock = audio_sdl_unlock;
    audio->pause = audio_sdl_pause;
    audio->unpause = audio_sdl_unpause;
    if (sound == 0) return 0;
    if (SDL_WasInit(SDL_INIT_AUDIO) == 0) SDL_InitSubSystem(SDL_INIT_AUDIO);
    SDL_AudioSpec wanted{};
    wanted.freq = AUDIO_RATE;
    wanted.format = AUDIO_S16LSB;
    wanted.channels = 2;
    wanted.silence = 0;
    wanted.samples = AUDIO_FRAMES;
    wanted.callback = fill_and_record;
    wanted.userdata = nullptr;
    // No obtained format: the host converts to the device's own.
    if (SDL_OpenAudio(&wanted, nullptr) < 0) {
        sound = 0;
        audio->paused = 1; // nothing will play the queues: the chip applies writes at once
        log_error("SDL_OpenAudio failed");
        return 1;
    }
    if (audio->paused) {
        audio_sdl_pause();
    } else {
        audio_sdl_unpause();
    }
    return 0;
}

int audio_sdl_finish() {
    if (sound) {
        audio_sdl_lock();
        audio_sdl_pause();
        audio_sdl_unlock();
        SDL_AudioQuit();
    }
    sound = 0;
    lock_depth = 0;
    return 0;
}

int audio_sdl_lock() {
    if (sound && lock_depth++ == 0) SDL_LockAudio();
    return 0;
}

int audio_sdl_unlock() {
    if (sound && lock_depth > 0 && --lock_depth == 0) SDL_UnlockAudio();
    return 0;
}

int audio_sdl_pause() {
    if (sound) {
        audio->paused = 1;
        SDL_PauseAudio(1);
    }
    return 0;
}

int audio_sdl_unpause() {
    if (sound) {
        audio->paused = 0;
        SDL_PauseAudio(warping ? 1 : 0); // warp keeps the device quiet
    }
    return 0;
}

int audio_sdl_warp(int on) {
    warping = on != 0;
    if (sound && !audio->paused) {
        audio_sdl_lock();
        SDL_PauseAudio(warping ? 1 : 0);
        audio_sdl_unlock();
    }
    return 0;
}

int audio_sdl_frame() {
    if (sound && !audio->paused && !warping) return 0; // the device pulls
    static uint8_t buffer[4 * AUDIO_RENDER_CAP];
    audio_sdl_lock();
    // Synthesis costs more than the machine at warp speed: only for a recording.
    int frames = warping && !sys_record_active() ? ay_8912_discard()
                                                 : ay_8912_render(buffer, AUDIO_RENDER_CAP);
    audio_sdl_unlock();
    sys_record_samples(buffer, frames);
    return 0;
}

int audio_sdl_volume(int level) {
    if (level < 0) return volume; // the only writer's own read
    machine_guard hold;           // the audio lock's count belongs to the machine lock
    audio_sdl_lock();
    volume = level > AUDIO_SDL_VOLUME_MAX ? AUDIO_SDL_VOLUME_MAX : level;
    audio_sdl_unlock();
    return volume;
}

void audio_sdl_scale(int16_t *samples, int count, int level) {
    for (int i = 0; i < count; ++i)
        samples[i] = static_cast<int16_t>(samples[i] * level / AUDIO_SDL_VOLUME_MAX);
}
