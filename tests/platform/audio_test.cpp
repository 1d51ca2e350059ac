// The SDL audio output on SDL's file-writing driver: a real device thread pulls from the source.
#include "platform/audio.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

class TConstantSource : public plat::TAudioSource {
 public:
  void Render(int16_t* out, int frames) override {
    for (int i = 0; i < frames * Channels; ++i) out[i] = 1234;
    Frames += frames;
  }
  int Channels = 2;
  std::atomic<int> Frames{0};
};

TEST(SdlAudioTest, DeviceThreadPullsFromTheSourceUntilItIsRemoved) {
  std::string file = testing::TempDir() + "pellorin-audio-test.raw";
  ::setenv("SDL_AUDIODRIVER", "disk", 1);
  ::setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
  auto output = plat::OpenSdlAudio();
  ::unsetenv("SDL_AUDIODRIVER");
  if (!output->Running()) GTEST_SKIP() << "SDL has no disk audio driver here";
  EXPECT_GT(output->Format().Rate, 0);
  EXPECT_EQ(output->Format().Channels, 2);
  TConstantSource source;
  output->SetSource(&source);
  for (int i = 0; i < 200 && source.Frames < 4096; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_GE(source.Frames, 4096);
  output->SetSource(nullptr);
  int after = source.Frames;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(source.Frames, after);  // once SetSource returns, the old source is no longer called
  output.reset();
  std::remove(file.c_str());
}

TEST(SdlAudioTest, NoUsableDriverIsSilenceNotAnError) {
  ::setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  auto output = plat::OpenSdlAudio();
  ::unsetenv("SDL_AUDIODRIVER");
  EXPECT_FALSE(output->Running());
  EXPECT_NE(output->Problem().find("no-such-driver"), std::string::npos) << output->Problem();
  TConstantSource source;
  output->SetSource(&source);
  output->SetSource(nullptr);
  EXPECT_EQ(source.Frames, 0);
}

// A machine without a sound card: ALSA's search for one (here for a card of a name no machine has, and
// through no sound server) fails without a word on standard error, and the output says why it is silent.
TEST(SdlAudioTest, NoSoundCardIsQuiet) {
  const char* kNowhere[][2] = {{"SDL_AUDIODRIVER", "alsa"},
                               {"ALSA_CARD", "PellorinNoSuchCard"},
                               {"PULSE_SERVER", "unix:/nonexistent/pellorin"},
                               {"PIPEWIRE_REMOTE", "/nonexistent/pellorin"}};
  for (const auto& variable : kNowhere) ::setenv(variable[0], variable[1], 1);
  testing::internal::CaptureStderr();
  bool running = false;
  std::string problem;
  {
    auto output = plat::OpenSdlAudio();
    running = output->Running();
    problem = output->Problem();
  }
  const std::string said = testing::internal::GetCapturedStderr();
  for (const auto& variable : kNowhere) ::unsetenv(variable[0]);
  if (!running && problem.find("alsa") != std::string::npos) GTEST_SKIP() << "no ALSA here: " << problem;
  ASSERT_FALSE(running) << "a sound card named PellorinNoSuchCard";
  EXPECT_EQ(said, "");
  EXPECT_NE(problem.find("ALSA"), std::string::npos) << problem;
}

}  // namespace
