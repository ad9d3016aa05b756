// The host audio layer on SDL's dummy driver; wrappers record its SDL calls.
#include "sys_sdl_audio.h"

#include <SDL/SDL.h>
#include <dlfcn.h>

#include "ay_8912.h"
#include "fixture.h"
#include "sys_record.h"

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
constexpr int16_t LOUD[4] = {32767, -32768, 1001, -3};
void fill(void *, uint8_t *stream, int len) {
    filled += len;
    memcpy(stream, LOUD, std::min<size_t>(len, sizeof LOUD));
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
    // The device's callback passes through the record's fill. The device's
    // own thread calls it too: paused and locked, it cannot while we count.
    uint8_t buffer[16];
    SDL_PauseAudio(1);
    SDL_LockAudio();
    filled = 0;
    wanted.callback(nullptr, buffer, sizeof buffer);
    int got = filled;
    SDL_UnlockAudio();
    EXPECT_EQ(16, got);
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

// The volume, set under the audio lock, scales what the device plays and
// leaves the recording as the machine made it.
TEST_F(SysSdlAudio, VolumeScalesThePlayedSamplesNotTheRecording) {
    TempDir dir;
    ASSERT_EQ(0, audio_sdl_init());
    SDL_PauseAudio(1); // from here only our calls fill the recording
    SDL_LockAudio();
    ASSERT_EQ(0, sys_record_start("r.wav"));
    SDL_UnlockAudio();
    // volume asked, volume kept, the samples played
    std::tuple<int, int, std::vector<int16_t>> rows[] = {
        {50, 50, {16383, -16384, 500, -1}},
        {0, 0, {0, 0, 0, 0}},
        {130, 100, {32767, -32768, 1001, -3}},
        {-1, 100, {32767, -32768, 1001, -3}},
    };
    for (const auto &[asked, kept, played] : rows) {
        calls.clear();
        EXPECT_EQ(kept, audio_sdl_volume(asked));
        EXPECT_EQ(asked < 0 ? "" : "LU", calls) << asked;
        int16_t out[4];
        SDL_LockAudio();
        wanted.callback(nullptr, reinterpret_cast<uint8_t *>(out), sizeof out);
        SDL_UnlockAudio();
        EXPECT_EQ(played, std::vector<int16_t>(out, out + 4)) << asked;
    }
    ASSERT_EQ(0, sys_record_stop());
    std::vector<uint8_t> wav = read_file("r.wav");
    ASSERT_EQ(44u + 4 * sizeof LOUD, wav.size());
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(0, memcmp(LOUD, wav.data() + 44 + i * sizeof LOUD, sizeof LOUD)) << i;
}

} // namespace
