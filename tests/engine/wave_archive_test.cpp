#include "engine/wave_archive.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/audio.h"
#include "tests/engine/archive_bytes.h"
#include "tools/archive/archive_writer.h"

using namespace archive_bytes;

namespace {

const std::string kFormat = U16(1) + U16(1) + U32(22050) + U32(22050) + U16(1) + U16(8);

std::string Sound(const std::string& name, const std::string& riff, const std::string& more = "") {
  return Item(Prop("Name", Str(name)) + more + Prop("Wave.WAVE", Binary(riff)));
}

std::string LoadError(TWaveCollection& archive, const std::string& bytes) {
  try {
    archive.LoadWaveArchiveData(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), "test.dxw");
  } catch (const EArchiveError& error) {
    EXPECT_EQ(error.File, "test.dxw");
    return error.what();
  }
  return "(no error)";
}

}  // namespace

TEST(WaveArchive, ReadsWhatTheWriterWrites) {
  TPackedSound explode;
  explode.Name = "explode";
  explode.MaxPlayingCount = 3;
  explode.Wave.Format = std::vector<uint8_t>(kFormat.begin(), kFormat.end());
  explode.Wave.Data = {1, 2, 3, 4, 5};  // odd: the writer pads the chunk
  TPackedSound music;
  music.Name = "loop";
  music.Looped = true;
  music.Wave.Format = explode.Wave.Format;
  music.Wave.Format.push_back(0);  // an odd format block with an extra byte
  music.Wave.Data = std::vector<uint8_t>(1000, 0x80);
  std::vector<uint8_t> bytes = WriteWaveArchive({explode, music});

  TWaveCollection archive;
  archive.LoadWaveArchiveData(bytes.data(), bytes.size(), "packed.dxw");
  ASSERT_EQ(archive.Count(), 2);
  const TWaveCollectionItem& a = *archive.FindWave("EXPLODE");
  EXPECT_EQ(a.Index(), 0);
  EXPECT_FALSE(a.Looped);
  EXPECT_EQ(a.MaxPlayingCount, 3);
  EXPECT_EQ(a.Wave.Format, explode.Wave.Format);
  EXPECT_EQ(a.Wave.Data, explode.Wave.Data);
  EXPECT_EQ(a.Wave.FormatTag(), 1);
  EXPECT_EQ(a.Wave.SamplesPerSec(), 22050u);
  EXPECT_EQ(a.Wave.BitsPerSample(), 8);
  const TWaveCollectionItem& b = *archive.WaveAt(1);
  EXPECT_TRUE(b.Looped);
  EXPECT_EQ(b.Wave.Format.size(), 17u);
  EXPECT_EQ(b.Wave.Data, music.Wave.Data);
}

TEST(WaveArchive, ReadsChunksExactlyAsStored) {
  const struct {
    const char* what;
    std::string riff;
    std::string data;
    size_t formatSize;
  } cases[] = {
      {"LIST chunk before data", Riff(Chunk("fmt ", kFormat) + Chunk("LIST", "INFOISFT") + Chunk("data", "abcd")),
       "abcd", 16},
      // No padding byte is skipped after an odd size: "data" starts right after "odd".
      {"odd chunk read unpadded", Riff(Chunk("fmt ", kFormat) + Chunk("junk", "odd") + Chunk("data", "xyz")), "xyz",
       16},
      {"identifier 0 ends the chunks", Riff(Chunk("data", "ab") + U32(0) + "garbage that is never read"), "ab", 0},
      {"data before fmt, short tail ignored", Riff(Chunk("data", "ab") + Chunk("fmt ", "12") + "xy"), "ab", 2},
      {"no chunks at all", Riff(""), "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TWaveCollection archive;
    EXPECT_EQ(LoadError(archive, WaveArchive(Sound("s", c.riff))), "(no error)");
    ASSERT_EQ(archive.Count(), 1);
    const TWave& wave = archive.WaveAt(0)->Wave;
    EXPECT_EQ(std::string(wave.Data.begin(), wave.Data.end()), c.data);
    EXPECT_EQ(wave.Format.size(), c.formatSize);
  }
}

TEST(WaveArchive, PropertiesInAnyFormAndLookUp) {
  std::string riff = Riff(Chunk("fmt ", kFormat) + Chunk("data", "a"));
  TWaveCollection archive;
  EXPECT_EQ(LoadError(archive, WaveArchive(Int16(1) + Sound("Bonus", riff, Prop("Looped", Ident("True")) +
                                                                              Prop("MaxPlayingCount", Int32(-5))) +
                                           Item(Prop("maxplayingcount", Int8(4)) + Prop("Name", Str("bonus"))))),
            "(no error)");
  ASSERT_EQ(archive.Count(), 2);
  EXPECT_TRUE(archive.WaveAt(0)->Looped);
  EXPECT_EQ(archive.WaveAt(0)->MaxPlayingCount, 0);  // negative counts become 0
  EXPECT_EQ(archive.FindWave("BONUS"), archive.WaveAt(1));  // the one read last
  EXPECT_TRUE(archive.WaveAt(1)->Wave.Data.empty());
  try {
    archive.FindWave("rocket");
    ADD_FAILURE();
  } catch (const EArchiveError& error) {
    EXPECT_STREQ(error.what(), "Wave 'rocket' not found");
  }
}

TEST(WaveArchive, DamagedFilesFailWithTheirTextAndKeepWhatWasReadWhole) {
  std::string good = Sound("first", Riff(Chunk("fmt ", kFormat) + Chunk("data", "ab")));
  const struct {
    const char* what;
    std::string file;
    const char* message;
    int count;
  } cases[] = {
      {"not a resource", "RIFF", "Invalid stream format", 0},
      {"no RIFF", WaveArchive(good + Sound("x", "RIFX" + U32(4) + "WAVE")),
       "Error reading TWaveCollectionItem.Wave.WAVE: Wave is invalid", 1},
      {"no WAVE", WaveArchive(good + Sound("x", "RIFF" + U32(4) + "AVI ")),
       "Error reading TWaveCollectionItem.Wave.WAVE: Wave is invalid", 1},
      {"shorter than a RIFF header", WaveArchive(good + Sound("x", "RIFF")),
       "Error reading TWaveCollectionItem.Wave.WAVE: Wave is invalid", 1},
      {"data chunk longer than the blob", WaveArchive(good + Sound("x", Riff("data" + U32(0xFFFFFFF0) + "ab"))),
       "Error reading TWaveCollectionItem.Wave.WAVE: Stream read error", 1},
      {"unknown property", WaveArchive(good + Item(Prop("Volume", Int8(1)))),
       "Error reading TWaveCollectionItem.Volume: Property Volume does not exist", 1},
      {"count with an identifier", WaveArchive(good + Item(Prop("MaxPlayingCount", Ident("clRed")))),
       "Error reading TWaveCollectionItem.MaxPlayingCount: Invalid property value", 1},
      {"list with another tag", Container("X", "Y", Prop("List", Int8(0))),
       "Error reading TWaveCollectionComponent.List: Invalid property value", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TWaveCollection archive;
    EXPECT_EQ(LoadError(archive, WaveArchive(good + good)), "(no error)");
    EXPECT_EQ(LoadError(archive, c.file), c.message);
    EXPECT_EQ(archive.Count(), c.count);
  }
}

// A sound the mixer cannot play is reported, and the sounds after it still play.
TEST(WaveArchive, AnUnplayableSoundDoesNotSilenceTheOthers) {
  TPackedSound adpcm;
  adpcm.Name = "adpcm";
  const std::string adpcmFormat = U16(2) + U16(1) + U32(22050) + U32(11025) + U16(1) + U16(4);
  adpcm.Wave.Format = std::vector<uint8_t>(adpcmFormat.begin(), adpcmFormat.end());
  adpcm.Wave.Data = std::vector<uint8_t>(64, 0);
  TPackedSound click;
  click.Name = "click";
  click.Wave.Format = std::vector<uint8_t>(kFormat.begin(), kFormat.end());
  click.Wave.Data = std::vector<uint8_t>(64, 0xF0);
  std::vector<uint8_t> bytes = WriteWaveArchive({adpcm, click});

  TDXSound sound;
  sound.Initialize(std::make_unique<plat::THeadlessAudio>(true));
  TWaveCollection archive;
  archive.LoadWaveArchiveData(bytes.data(), bytes.size(), "mixed.dxw");
  EXPECT_THROW(archive.BindSound(&sound), ESoundError);
  EXPECT_TRUE(archive.FindWave("click")->Playback.Bound());
  archive.FindWave("click")->PlayWave(false);
  EXPECT_TRUE(archive.FindWave("click")->Playback.Playing());
  archive.BindSound(nullptr);
}
