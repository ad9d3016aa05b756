// The host audio layer on SDL's dummy driver; wrappers record its SDL calls.
#include "sys_sdl_audio.h"

#include <SDL/SDL.h>
#include <dlfcn.h>

#include "ay_8912.h"
#include "fixture.h"

std::string calls; // O open, L lock, U unlock, P pause, R resume, Q quit
SDL_AudioSpec wanted;
#define PASS_ON(ret, name, params, args, mark)                                                     \
    extern "C" ret name params {                                                                   \
        calls += mark;                                                                             \
        return reinterpret_cast<ret(*) params>(dlsym(RTLD_NEXT, #name)) args;                      \
    }
PASS_ON(int, SDL_OpenAudio, (SDL_AudioSpec * w, SDL_AudioSpec *g), (w, g), (wanted = *w, 'O'))
PASS_ON(void, SDL_LockAudio, (), (), 'L')
PASS_ON(void, SDL_UnlockAudio, (), (), 'U')
PASS_ON(void, SDL_PauseAudio, (int on), (on), on ? 'P' : 'R')
PASS_ON(void, SDL_AudioQuit, (), (), 'Q')

namespace {

int filled;
void fill(void *, uint8_t *, int len) {
    filled += len;
}

class SysSdlAudio : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        calls.clear();
        sound = 1;
        audio->paused = 0;
        audio->fill = fill;
        audio->lock = audio->unlock = audio->pause = audio->unpause = nullptr;
    }
    void TearDown() override {
        audio_sdl_finish();
        SDL_QuitSubSystem(SDL_INIT_AUDIO); // a driver SDL_AudioQuit closed cannot open again
    }
};

TEST_F(SysSdlAudio, OpensStereo16BitAt44100WithTheRecordsFill) {
    ASSERT_EQ(0, audio_sdl_init());
    EXPECT_EQ(std::make_tuple("OR", 44100, AUDIO_S16LSB, 2, 0, 1024),
              std::make_tuple(calls, wanted.freq, wanted.format, wanted.channels, wanted.silence,
                              wanted.samples));
    uint8_t buffer[16]; // the device's callback passes through the record's fill
    filled = 0;
    wanted.callback(nullptr, buffer, sizeof buffer);
    EXPECT_EQ(16, filled);
}

// The first unlock has nothing to release, the second lock nothing to take.
TEST_F(SysSdlAudio, OpensPausedTakesTheLockOnceAndFinishPausesUnderIt) {
    audio->paused = 1;
    ASSERT_EQ(0, audio_sdl_init());
    audio->unpause();
    EXPECT_EQ(0u, audio->paused.load());
    for (auto op : {audio->unlock, audio->lock, audio->lock, audio->unlock, audio->unlock,
                    audio->pause, audio_sdl_finish})
        op();
    EXPECT_EQ("OPRLUPLPUQ", calls);
    EXPECT_EQ(std::pair(0, 1u), std::pair(sound, audio->paused.load()));
}

// An inner lock and unlock, as a state load inside a locked section makes
// them, leave the outer lock held until its own unlock.
TEST_F(SysSdlAudio, NestedLocksReleaseTheDeviceAtTheOuterUnlock) {
    ASSERT_EQ(0, audio_sdl_init());
    calls.clear();
    audio->lock();
    audio->lock();
    audio->unlock();
    EXPECT_EQ("L", calls) << "still held for the outer section";
    audio->unlock();
    EXPECT_EQ("LU", calls);
}

TEST_F(SysSdlAudio, SoundOffOrAFailedOpenLeavesEveryOperationInert) {
    sound = 0;
    EXPECT_EQ(0, audio_sdl_init());
    sound = 1;
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    log_verbosity(1);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(1, audio_sdl_init());
    EXPECT_EQ("SDL_OpenAudio failed\n", ::testing::internal::GetCapturedStderr());
    log_verbosity(0);
    EXPECT_EQ(std::pair(0, 1u), std::pair(sound, audio->paused.load())) << "writes apply at once";
    for (auto op : {audio->lock, audio->unpause, audio->unlock, audio_sdl_finish})
        op();
    EXPECT_EQ("O", calls);
}

} // namespace
