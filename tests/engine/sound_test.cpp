// The effects mixer and the buffer rules of one sound, on the headless audio output (no device thread:
// the test pulls the mixed samples itself).
#include "engine/sound.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

constexpr plat::TAudioFormat kMono{22050, 1};

std::vector<uint8_t> Pcm16(const std::vector<int16_t>& samples) {
  std::vector<uint8_t> bytes;
  for (int16_t s : samples) {
    bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s) & 0xFF));
    bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8));
  }
  return bytes;
}

std::shared_ptr<const TSampleData> Samples(const std::vector<int16_t>& values) {
  auto data = std::make_shared<TSampleData>();
  data->Samples = values;
  data->Frames = static_cast<int>(values.size());
  data->Channels = 1;
  return data;
}

// A ramp 1, 2, 3, ... so that the output shows where a voice stands.
std::vector<int16_t> Ramp(int frames) {
  std::vector<int16_t> r;
  for (int i = 1; i <= frames; ++i) r.push_back(static_cast<int16_t>(i));
  return r;
}

class TSoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto output = std::make_unique<plat::THeadlessAudio>(true, kMono);
    Audio = output.get();
    Sound.Initialize(std::move(output));
    ASSERT_TRUE(Sound.Initialized());
  }

  std::vector<int16_t> Pull(int frames) {
    std::vector<int16_t> out(static_cast<size_t>(frames));
    Audio->Pull(out.data(), frames);
    return out;
  }

  void MakeEffect(TSoundEffect& effect, const std::vector<int16_t>& samples, int32_t maxCount = 0) {
    effect.SetPcm(TPcmFormat{1, 1, 22050, 16}, Pcm16(samples));
    effect.SetMaxPlayingCount(maxCount);
    effect.Bind(Sound);
  }

  TDXSound Sound;
  plat::THeadlessAudio* Audio = nullptr;
};

TEST_F(TSoundTest, MixesTwoVoicesSampleBySampleAndEndsThem) {
  TMixer& mixer = *Sound.GetMixer();
  auto a = mixer.CreateVoice(Samples({1000, 2000, 3000}));
  auto b = mixer.CreateVoice(Samples({100, -200}));
  mixer.Play(a, false);
  mixer.Play(b, false);
  EXPECT_TRUE(mixer.Playing(*a));
  EXPECT_EQ(Pull(4), (std::vector<int16_t>{1100, 1800, 3000, 0}));
  EXPECT_FALSE(mixer.Playing(*a));
  EXPECT_FALSE(mixer.Playing(*b));
}

// A sum over the ceiling is turned down to it at once, neither wrapped nor clipped, whatever its sign.
TEST_F(TSoundTest, ALoudSumIsBroughtToTheCeiling) {
  struct TCase {
    int16_t A, B;
    int16_t Expected;
  } cases[] = {{30000, 10000, kMixCeiling}, {-30000, -10000, -kMixCeiling}, {32767, 32767, kMixCeiling},
               {-32768, -32768, -kMixCeiling}};
  for (const TCase& c : cases) {
    TDXSound sound;
    auto output = std::make_unique<plat::THeadlessAudio>(true, kMono);
    plat::THeadlessAudio* audio = output.get();
    sound.Initialize(std::move(output));
    TMixer& mixer = *sound.GetMixer();
    auto a = mixer.CreateVoice(Samples({c.A}));
    auto b = mixer.CreateVoice(Samples({c.B}));
    mixer.Play(a, false);
    mixer.Play(b, false);
    int16_t out = 0;
    audio->Pull(&out, 1);
    EXPECT_EQ(out, c.Expected) << c.A << " + " << c.B;
  }
}

// Over the ceiling the waveform is scaled, not flattened: samples around a peak keep their proportions,
// the gain holds for a moment, then comes back to 1 and a quiet sound passes sample for sample again.
TEST_F(TSoundTest, TheLimiterScalesTheMixHoldsThenLetsGo) {
  TMixer& mixer = *Sound.GetMixer();
  // Two copies of 30000, 32000, 20000, 10000: sums 60000, 64000 (the peak), 40000, 20000.
  auto loud = Samples({30000, 32000, 20000, 10000});
  auto a = mixer.CreateVoice(loud);
  auto b = mixer.CreateVoice(loud);
  mixer.Play(a, false);
  mixer.Play(b, false);
  std::vector<int16_t> out = Pull(4);
  const double gain = static_cast<double>(kMixCeiling) / 64000;  // set by the peak 64000
  EXPECT_EQ(out[0], kMixCeiling);
  EXPECT_EQ(out[1], kMixCeiling);
  EXPECT_NEAR(out[2], 40000 * gain, 1.0);
  EXPECT_NEAR(out[3], 20000 * gain, 1.0);

  // A steady quiet tone: held at the lowered gain first, whole again within two seconds.
  std::vector<int16_t> quiet(static_cast<size_t>(kMono.Rate) * 2, 1000);
  auto tone = mixer.CreateVoice(Samples(quiet));
  mixer.Play(tone, false);
  out = Pull(kMono.Rate * 2);
  const int holdFrames = kMono.Rate * TMixer::kLimiterHoldMs / 1000;
  EXPECT_NEAR(out[static_cast<size_t>(holdFrames - 10)], 1000 * gain, 1.0);
  EXPECT_GT(out[static_cast<size_t>(holdFrames + kMono.Rate / 20)], out[static_cast<size_t>(holdFrames)]);
  EXPECT_EQ(out.back(), 1000);
  for (int16_t s : out) ASSERT_LE(s, 1000);
}

// Both sides are turned down by the same gain, so a loud effect on one side does not shift the picture.
TEST(LimiterStereoTest, BothSidesShareTheGain) {
  TDXSound sound;
  auto output = std::make_unique<plat::THeadlessAudio>(true, plat::TAudioFormat{44100, 2});
  plat::THeadlessAudio* audio = output.get();
  sound.Initialize(std::move(output));
  TMixer& mixer = *sound.GetMixer();
  auto data = std::make_shared<TSampleData>();
  data->Samples = {8000, 32000, 8000, 32000};  // left quiet, right loud
  data->Frames = 2;
  data->Channels = 2;
  auto a = mixer.CreateVoice(data);
  auto b = mixer.CreateVoice(data);
  mixer.Play(a, false);
  mixer.Play(b, false);
  int16_t out[4] = {};
  audio->Pull(out, 2);
  EXPECT_EQ(out[1], kMixCeiling);
  EXPECT_NEAR(out[0], 16000.0 * kMixCeiling / 64000, 1.0);
}

TEST(ConvertPcmTest, ConvertsDepthChannelsAndRateOnce) {
  // 8-bit unsigned mono at half the rate: each frame doubles, interpolated, onto both sides.
  std::vector<uint8_t> eight = {128, 192, 64};
  auto stereo = ConvertPcm(TPcmFormat{1, 1, 11025, 8}, eight.data(), eight.size(), {22050, 2});
  ASSERT_TRUE(stereo);
  EXPECT_EQ(stereo->Frames, 6);
  EXPECT_EQ(stereo->Samples,
            (std::vector<int16_t>{0, 0, 8192, 8192, 16384, 16384, 0, 0, -16384, -16384, -16384, -16384}));
  // 16-bit stereo to mono: the sides are averaged.
  std::vector<uint8_t> sixteen = Pcm16({1000, 3000, -32768, -32768});
  auto mono = ConvertPcm(TPcmFormat{1, 2, 22050, 16}, sixteen.data(), sixteen.size(), {22050, 1});
  ASSERT_TRUE(mono);
  EXPECT_EQ(mono->Samples, (std::vector<int16_t>{2000, -32768}));
  // What cannot be played is refused.
  EXPECT_FALSE(ConvertPcm(TPcmFormat{3, 1, 22050, 32}, sixteen.data(), sixteen.size(), kMono));
  EXPECT_FALSE(ConvertPcm(TPcmFormat{1, 1, 22050, 16}, sixteen.data(), 1, kMono));
  EXPECT_FALSE(ConvertPcm(TPcmFormat{1, 6, 22050, 16}, sixteen.data(), sixteen.size(), kMono));
}

TEST(PcmFormatTest, ReadsTheFormatBlockOfAWave) {
  // tag 1, 2 channels, 44100 Hz, 176400 bytes/s, align 4, 16 bits, then two extra bytes
  const uint8_t block[] = {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0, 0, 0};
  TPcmFormat format;
  ASSERT_TRUE(PcmFormatFromFmtChunk(block, sizeof block, format));
  EXPECT_EQ(format.FormatTag, 1);
  EXPECT_EQ(format.Channels, 2);
  EXPECT_EQ(format.SamplesPerSec, 44100u);
  EXPECT_EQ(format.BitsPerSample, 16);
  EXPECT_FALSE(PcmFormatFromFmtChunk(block, 15, format));
}

TEST_F(TSoundTest, AWaveBindsThroughItsFormatBlock) {
  // tag 1, mono, 22050 Hz, 44100 bytes/s, align 2, 16 bits
  const std::vector<uint8_t> block = {1, 0, 1, 0, 0x22, 0x56, 0, 0, 0x44, 0xAC, 0, 0, 2, 0, 16, 0};
  TSoundEffect menu;
  menu.SetWave(block, Pcm16({300, -300}));
  menu.Bind(Sound);
  menu.PlayWave(false);
  EXPECT_EQ(Pull(3), (std::vector<int16_t>{300, -300, 0}));
  TSoundEffect broken;
  broken.SetWave(std::vector<uint8_t>(block.begin(), block.begin() + 14), Pcm16({300, -300}));
  EXPECT_THROW(broken.Bind(Sound), ESoundError);
}

TEST_F(TSoundTest, AWaveTheMixerCannotPlayCannotBeMadeIntoABuffer) {
  TSoundEffect adpcm;
  adpcm.SetPcm(TPcmFormat{2, 1, 22050, 4}, std::vector<uint8_t>(100, 0));
  try {
    adpcm.Bind(Sound);
    FAIL() << "no error";
  } catch (const ESoundError& e) {
    EXPECT_STREQ(e.what(), "Sound Buffer cannot be made");
  }
  adpcm.PlayWave(false);  // bound without a buffer: plays nothing
  EXPECT_FALSE(adpcm.Playing());
}

TEST_F(TSoundTest, OverlappingPlaysMakeDuplicatesAndReuseFinishedOnes) {
  TSoundEffect explode;
  MakeEffect(explode, Ramp(100));
  explode.PlayWave(false);
  explode.PlayWave(false);
  explode.PlayWave(false);
  ASSERT_EQ(explode.ExtraBuffers().size(), 3u);
  EXPECT_EQ(Pull(2), (std::vector<int16_t>{3, 6}));  // three copies in step
  for (const auto& voice : explode.ExtraBuffers()) EXPECT_EQ(&voice->Data(), &explode.MainBuffer()->Data());

  Pull(200);
  EXPECT_FALSE(explode.Playing());
  auto first = explode.ExtraBuffers()[0];
  explode.PlayWave(false);
  EXPECT_EQ(explode.ExtraBuffers().size(), 3u);
  EXPECT_EQ(explode.ExtraBuffers()[0], first);
  EXPECT_TRUE(Sound.GetMixer()->Playing(*first));
  EXPECT_EQ(Pull(2), (std::vector<int16_t>{1, 2}));
}

TEST_F(TSoundTest, MaxPlayingCountRestartsTheHeadOfTheList) {
  TSoundEffect shot;
  MakeEffect(shot, Ramp(100), 2);
  shot.PlayWave(false);
  Pull(10);
  shot.PlayWave(false);
  Pull(10);  // the first copy is at frame 20, the second at 10
  auto head = shot.ExtraBuffers()[0];
  auto second = shot.ExtraBuffers()[1];
  shot.PlayWave(false);
  ASSERT_EQ(shot.ExtraBuffers().size(), 2u);
  EXPECT_EQ(shot.ExtraBuffers()[0], second);
  EXPECT_EQ(shot.ExtraBuffers()[1], head);
  EXPECT_EQ(Pull(1)[0], 1 + 11);  // the head restarted from its first frame; the other goes on
}

TEST_F(TSoundTest, LoopedSoundRestartsInsteadOfOverlapping) {
  TSoundEffect engine;
  MakeEffect(engine, {10, 20, 30, 40});
  engine.Looped = true;
  engine.PlayWave(false);
  EXPECT_EQ(Pull(6), (std::vector<int16_t>{10, 20, 30, 40, 10, 20}));
  engine.PlayWave(true);  // waiting plays no part in a loop: this returns
  EXPECT_EQ(Pull(3), (std::vector<int16_t>{10, 20, 30}));
  EXPECT_TRUE(engine.ExtraBuffers().empty());
  engine.Stop();
  EXPECT_EQ(Pull(2), (std::vector<int16_t>{0, 0}));
}

TEST_F(TSoundTest, PlayWaveWithWaitReturnsWhenTheSoundHasEnded) {
  TSoundEffect bonus;
  MakeEffect(bonus, std::vector<int16_t>(2205, 100));  // 100 ms
  std::atomic<bool> run{true};
  std::thread device([&] {
    std::vector<int16_t> buffer(256);
    while (run) {
      Audio->Pull(buffer.data(), 256);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  auto start = std::chrono::steady_clock::now();
  bonus.PlayWave(true);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(bonus.Playing());
  EXPECT_GE(waited, std::chrono::milliseconds(10));
  run = false;
  device.join();
}

TEST(SoundNoDeviceTest, EverythingIsSilentAndNothingWaits) {
  TDXSound sound;
  auto output = std::make_unique<plat::THeadlessAudio>(false, kMono);
  plat::THeadlessAudio* audio = output.get();
  sound.Initialize(std::move(output));
  EXPECT_FALSE(sound.Initialized());
  TSoundEffect effect;
  effect.SetPcm(TPcmFormat{1, 1, 22050, 16}, Pcm16(std::vector<int16_t>(22050 * 5, 1000)));
  effect.Bind(sound);
  auto start = std::chrono::steady_clock::now();
  effect.PlayWave(true);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  EXPECT_FALSE(effect.Playing());
  std::vector<int16_t> out(4, 7);
  audio->Pull(out.data(), 4);
  EXPECT_EQ(out, (std::vector<int16_t>{0, 0, 0, 0}));
}

// Rebuilds the main buffers the way the wave list does, and tries to restore again from inside.
class TRestoringList : public TSoundListener {
 public:
  void SoundInitialized(TDXSound& sound) override { Effect.Bind(sound); }
  void SoundRestored(TDXSound& sound) override {
    ++Restores;
    Effect.Restore();
    sound.Restore();
  }
  void SoundFinalized(TDXSound&) override { Effect.Unbind(); }
  TSoundEffect Effect;
  int Restores = 0;
};

TEST(SoundDeviceTest, ListenersBindRestoreOnceAndUnbind) {
  TDXSound sound;
  TRestoringList list;
  list.Effect.SetPcm(TPcmFormat{1, 1, 22050, 16}, Pcm16({5, 6}));
  sound.AddListener(&list);
  sound.Initialize(std::make_unique<plat::THeadlessAudio>(true, kMono));
  EXPECT_EQ(list.Restores, 1);
  ASSERT_TRUE(list.Effect.MainBuffer());
  list.Effect.PlayWave(false);
  auto oldMain = list.Effect.MainBuffer();
  sound.Restore();
  EXPECT_EQ(list.Restores, 2);
  EXPECT_NE(list.Effect.MainBuffer(), oldMain);
  EXPECT_TRUE(list.Effect.ExtraBuffers().empty());
  sound.Finalize();
  EXPECT_FALSE(list.Effect.Bound());
  sound.RemoveListener(&list);
}

}  // namespace
