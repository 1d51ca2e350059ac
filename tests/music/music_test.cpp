// The music player interface on the headless audio output, with small songs written by our XM writer;
// and the game's own songs, when the build made them.
#include "music/music.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "engine/sound.h"
#include "platform/files.h"
#include "platform/module_player.h"
#include "tests/support/game_test.h"
#include "tools/xm/score.h"
#include "tools/xm/xm_writer.h"

namespace {

constexpr plat::TAudioFormat kMono{22050, 1};

// One four-row pattern (0.48 s): "tone" holds a square wave, "quiet" is silent.
std::string SongScore(const std::string& pattern) {
  return "title test\nspeed 6\nbpm 125\nrows 4\nchannels a b\n"
         "instrument tone loop=1 len=0.2 volume=64\n  layer square dur=0.3 freq=262.5 amp=1\n"
         "phrase p tone : c4/4\npattern tone : a=p\npattern quiet :\norder " +
         pattern + "\n";
}

class TMusicTest : public TGameTest {
 protected:
  void SetUp() override {
    TGameTest::SetUp();
    ResetMusicState();
    auto output = std::make_unique<plat::THeadlessAudio>(true, kMono);
    Audio = output.get();
    Sound.Initialize(std::move(output));
    AttachMusicOutput(&Sound);
    WriteSong("sound/tone.xm", "tone");
    WriteSong("sound/quiet.xm", "quiet");
  }
  void TearDown() override {
    ResetMusicState();
    TGameTest::TearDown();
  }

  void WriteSong(const std::string& path, const std::string& pattern) {
    score::TSong song;
    std::string error;
    ASSERT_TRUE(score::ParseScore(SongScore(pattern), song, error)) << error;
    std::vector<uint8_t> bytes = xm::WriteModule(song);
    WriteFile(path, std::string(bytes.begin(), bytes.end()));
  }

  // The loudest sample over the next seconds of output.
  int Peak(double seconds) {
    std::vector<int16_t> out(static_cast<size_t>(seconds * kMono.Rate));
    Audio->Pull(out.data(), static_cast<int>(out.size()));
    int peak = 0;
    for (int16_t s : out) peak = std::max(peak, std::abs(static_cast<int>(s)));
    return peak;
  }

  TDXSound Sound;
  plat::THeadlessAudio* Audio = nullptr;
};

TEST_F(TMusicTest, UnreadableOrUnparsableFilesGiveHandleZero) {
  WriteFile("sound/empty.xm", "");
  WriteFile("sound/text.xm", "this is not a module at all, only a line of text\n");
  for (const char* path : {"sound\\missing.xm", "sound\\empty.xm", "sound\\text.xm", "sound"}) {
    EXPECT_EQ(SongLoadFromFile(path), 0u) << path;
  }
}

TEST_F(TMusicTest, GameNamesFindTheSongWithoutRegardToCase) {
  uint32_t handle = SongLoadFromFile("Sound\\TONE.xm");
  ASSERT_NE(handle, 0u);
  SongPlay(handle);
  EXPECT_GT(Peak(0.2), 1000);
}

TEST_F(TMusicTest, PlayingASongSilencesTheOther) {
  uint32_t tone = SongLoadFromFile("sound\\tone.xm");
  uint32_t quiet = SongLoadFromFile("sound\\quiet.xm");
  ASSERT_NE(tone, 0u);
  ASSERT_NE(quiet, 0u);
  EXPECT_NE(tone, quiet);
  SongPlay(tone);
  EXPECT_GT(Peak(0.2), 1000);
  SongPlay(quiet);  // no stop of the first song in between, as when a game starts
  EXPECT_EQ(Peak(0.2), 0);
  EXPECT_EQ(PlayingSong(), quiet);
}

TEST_F(TMusicTest, StopOfZeroOfAnotherOrOfAStoppedSongDoesNothing) {
  uint32_t tone = SongLoadFromFile("sound\\tone.xm");
  uint32_t other = SongLoadFromFile("sound\\tone.xm");
  SongPlay(tone);
  SongStop(0);
  SongStop(other);
  EXPECT_GT(Peak(0.2), 1000);
  SongStop(tone);
  EXPECT_EQ(Peak(0.2), 0);
  SongStop(tone);
  EXPECT_EQ(PlayingSong(), 0u);
  EXPECT_EQ(Peak(0.1), 0);
}

TEST_F(TMusicTest, SongsRepeatAtTheirEnd) {
  SongPlay(SongLoadFromFile("sound\\tone.xm"));
  Peak(1.3);  // well past the song's 0.48 s
  EXPECT_GT(Peak(0.2), 1000);
}

TEST_F(TMusicTest, SongsPlayWithTheEffectsInOneOutput) {
  uint32_t first = SongLoadFromFile("sound\\tone.xm");
  uint32_t second = SongLoadFromFile("sound\\tone.xm");
  SongPlay(first);
  std::vector<int16_t> songOnly(64);
  Audio->Pull(songOnly.data(), 64);
  SongPlay(second);  // the same song, from its beginning
  TMixer& mixer = *Sound.GetMixer();
  auto voice = mixer.CreateVoice([] {
    auto data = std::make_shared<TSampleData>();
    data->Samples.assign(64, 1000);
    data->Frames = 64;
    data->Channels = 1;
    return data;
  }());
  mixer.Play(voice, false);
  std::vector<int16_t> both(64);
  Audio->Pull(both.data(), 64);
  for (size_t i = 0; i < 64; ++i) EXPECT_EQ(both[i], std::clamp(songOnly[i] + 1000, -32768, 32767)) << i;
}

#ifdef PELLORIN_RUN_DIR
// The game's songs: they load without a word from libopenmpt, last at least a minute before they repeat
// and have at least four channels.
TEST(GameSongsTest, LoadCleanlyAndAreLongEnough) {
  for (const char* name : {"1.xm", "2.xm"}) {
    std::string path = std::string(PELLORIN_RUN_DIR) + "/sound/" + name;
    std::vector<uint8_t> bytes;
    std::string error;
    if (!plat::ReadFileBytes(path, bytes, error)) GTEST_SKIP() << "songs not built: " << path;
    std::vector<std::string> log;
    auto song = plat::LoadModule(bytes, &log);
    ASSERT_TRUE(song) << path;
    EXPECT_TRUE(log.empty()) << path << ": " << log.front();
    EXPECT_GE(song->DurationSeconds(), 60.0) << path;
    EXPECT_GE(song->ChannelCount(), 4) << path;
  }
}
#endif

}  // namespace
