#include "settings/settings.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>

#include "tests/support/game_test.h"

namespace {

// The file a first start writes: switches, F12, an empty country, "Anonymous" 1000 down to 100.
std::string DefaultFile() {
  std::string bytes = {0, 0, 0, 0, 0x7B, 0, 0};
  bytes += std::string(10, '\xFF');
  bytes += '\0';
  const unsigned char scores[10][2] = {{0x17, 0xFC}, {0x7B, 0xFC}, {0xDF, 0xFC}, {0x43, 0xFD}, {0xA7, 0xFD},
                                       {0x0B, 0xFE}, {0x6F, 0xFE}, {0xD3, 0xFE}, {0x37, 0xFF}, {0x9B, 0xFF}};
  for (const auto& score : scores) {
    bytes += "\x09\xBE\x91\x90\x91\x86\x92\x90\x8A\x8C\xFF";
    bytes += '\0';
    bytes += static_cast<char>(score[0]);
    bytes += static_cast<char>(score[1]);
  }
  return bytes;
}

using SettingsFile = TGameTest;

TEST_F(SettingsFile, FirstStartWritesTheDefaultBytes) {
  LoadSettings();
  EXPECT_EQ(ReadFile("config.dat"), DefaultFile());
  EXPECT_EQ(Settings.WindowMode, 1);
  EXPECT_EQ(Settings.MusicOn, 1);
  EXPECT_EQ(Settings.SoundOn, 1);
  EXPECT_EQ(Settings.BossKey, 123);
  EXPECT_EQ(Settings.Country.Text(), "");
  EXPECT_EQ(Settings.HighScores[0].EntryName.Text(), "Anonymous");
  EXPECT_EQ(Settings.HighScores[9].EntryScore, 100);
}

TEST_F(SettingsFile, LoadThenSaveKeepsEveryByteIncludingAlignment) {
  std::string file = DefaultFile();
  file[0] = 1;       // full screen on disk (1 XOR 1 = 0)
  file[3] = '\x5A';  // the alignment byte
  file[6] = 3;       // country "ABC" stored inverted
  file[7] = static_cast<char>(~'A');
  file[8] = static_cast<char>(~'B');
  file[9] = static_cast<char>(~'C');
  file[17] = '\x42';       // the never-used eleventh character
  file[18 + 13] = '\x44';  // a byte past an entry's name
  WriteFile("config.dat", file);
  LoadSettings();
  EXPECT_EQ(Settings.WindowMode, 0);
  EXPECT_EQ(Settings.Country.Text(), "ABC");
  SaveSettingsScrambled();
  EXPECT_EQ(ReadFile("config.dat"), file);
  EXPECT_EQ(Settings.Country.Text(), "ABC");  // plain again after the save
}

TEST_F(SettingsFile, ShortFileIsReplacedLongFileIsRead) {
  std::string custom = DefaultFile();
  custom[4] = 0x71;  // F2 as boss key
  WriteFile("config.dat", custom.substr(0, 157));
  LoadSettings();
  EXPECT_EQ(Settings.BossKey, 123);
  EXPECT_EQ(ReadFile("config.dat"), DefaultFile());

  WriteFile("config.dat", custom + std::string(42, 'x'));
  LoadSettings();
  EXPECT_EQ(Settings.BossKey, 0x71);
  SaveSettingsScrambled();
  EXPECT_EQ(ReadFile("config.dat"), custom);  // the tail goes with the next save
}

TEST_F(SettingsFile, ScrambleTwiceRestores) {
  LoadSettings();
  Settings.Country.Assign("Norway");
  Settings.Alignment = 7;
  auto before = EncodeSettings(Settings);
  ScrambleSettings();
  EXPECT_NE(EncodeSettings(Settings), before);
  EXPECT_EQ(Settings.BossKey, 123);  // untouched by scrambling
  ScrambleSettings();
  EXPECT_EQ(EncodeSettings(Settings), before);
}

struct TInsertCase {
  uint16_t score;
  int expectedPlace;  // 1-10, or 0 when the table stays as it was
};

class InsertNewEntryTest : public TGameTest, public ::testing::WithParamInterface<TInsertCase> {};

TEST_P(InsertNewEntryTest, PlacesBelowEqualScores) {
  ResetHighScores();
  auto before = Settings.HighScores;
  NewEntry.EntryName.Assign("Pilot");
  NewEntry.EntryScore = GetParam().score;
  InsertNewEntry();
  int place = GetParam().expectedPlace;
  if (place == 0) {
    for (size_t k = 0; k < 10; ++k) EXPECT_EQ(Settings.HighScores[k].EntryScore, before[k].EntryScore);
    return;
  }
  size_t index = static_cast<size_t>(place - 1);
  EXPECT_EQ(Settings.HighScores[index].EntryName.Text(), "Pilot");
  EXPECT_EQ(Settings.HighScores[index].EntryScore, GetParam().score);
  for (size_t k = 0; k < index; ++k) EXPECT_EQ(Settings.HighScores[k].EntryScore, before[k].EntryScore);
  for (size_t k = index + 1; k < 10; ++k)
    EXPECT_EQ(Settings.HighScores[k].EntryScore, before[k - 1].EntryScore);
}

INSTANTIATE_TEST_SUITE_P(Scores, InsertNewEntryTest,
                         ::testing::Values(TInsertCase{500, 7}, TInsertCase{0, 0}, TInsertCase{100, 0},
                                           TInsertCase{101, 10}, TInsertCase{65535, 1},
                                           TInsertCase{1000, 2}));

// A read-only directory, or a read-only config.dat, refuses the save.
TEST_F(SettingsFile, FailedSaveKeepsTheOldFileAndThePlainRecord) {
  const struct {
    const char* what;
    const char* path;
    mode_t mode;
  } cases[] = {{"read-only directory", ".", 0500}, {"read-only config.dat", "config.dat", 0400}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    LoadSettings();
    std::string before = ReadFile("config.dat");
    Settings.Country.Assign("Chile");
    ASSERT_EQ(::chmod(c.path, c.mode), 0);
    WithoutOverridingRights([&] {
      ASSERT_NE(::access(c.path, W_OK), 0) << "this system lets anyone write a read-only " << c.path;
      try {
        SaveSettingsScrambled();
        ADD_FAILURE() << "the save succeeded";
      } catch (const EInOutError& error) {
        EXPECT_STREQ(error.what(), "Permission denied");
      }
    });
    EXPECT_EQ(Settings.Country.Text(), "Chile");
    EXPECT_EQ(Settings.WindowMode, 1);
    ::chmod(Dir.c_str(), 0700);
    EXPECT_EQ(ReadFile("config.dat"), before);
  }
}

// A disk that runs out of room half-way through the write: the file-size limit makes the write fail
// after 64 bytes, as a full disk would, even for root.
TEST_F(SettingsFile, WriteFailingHalfWayKeepsTheOldFile) {
  LoadSettings();
  std::string before = ReadFile("config.dat");
  Settings.HighScores[0].EntryScore = 4242;
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = 64;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string message;
  try {
    SaveSettingsScrambled();
  } catch (const EInOutError& error) {
    message = error.what();
  }
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(message, "File too large");
  EXPECT_EQ(Settings.HighScores[0].EntryScore, 4242);
  EXPECT_EQ(Settings.HighScores[0].EntryName.Text(), "Anonymous");
  EXPECT_EQ(ReadFile("config.dat"), before);
  int leftovers = 0;
  for (const auto& entry : std::filesystem::directory_iterator(Dir))
    if (entry.path().filename() != "config.dat") ++leftovers;
  EXPECT_EQ(leftovers, 0) << "the temporary file was left behind";
}

}  // namespace
