// The replay file format: every field through its bytes, and the decoder's refusals of cut, changed
// and damaged files. Links the format's library alone.
#include "protocol/replay_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/binary_io.h"

namespace {

// Input states as the game numbers them (one bit a state): up, the first button, the last of the 36.
constexpr uint64_t kUp = 1, kButton1 = uint64_t{1} << 4, kLastState = uint64_t{1} << 35;

TReplay SmallReplay() {
  TReplay replay;
  replay.Start = {.Seed = 0xDEADBEEF,
                  .EnemySpawnCountdown = 17,
                  .BonusSpawnCountdown = 300,
                  .WeaponTime = 0,
                  .ShieldTime = -16,
                  .BombTime = 4000,
                  .LastBonusTime = 2,
                  .HeroDownCountdown = 191};
  TReplayTick moving;
  moving.Input = kUp | kLastState;
  moving.Lag = 2;
  moving.StepRight = 7;
  moving.StepDown = 1;
  moving.LeftButton = true;
  TReplayTick commands;
  commands.RightButton = true;
  commands.Commands = {rcPause, rcResume, rcOpenExitQuery};
  TReplayTick firing;
  firing.Input = kButton1;
  firing.Lag = 0;
  replay.Runs = {{94, TReplayTick{}}, {3, moving}, {1, commands}, {65535, firing}};
  replay.Checkpoints.push_back({.Tick = 600, .Seed = 5, .Score = 40, .Level = 1, .Lives = 3, .Frames = 11});
  replay.Checkpoints.push_back(
      {.Tick = 1200, .Seed = 6, .Score = 65535, .Level = 2, .Lives = -1, .Frames = 0xFEDCBA9876543210ull});
  replay.End = {
      .Tick = 94 + 3 + 1 + 65535, .Seed = 9, .Score = 1234, .Level = 3, .Lives = 0, .Frames = 1u << 31};
  replay.FrameHash = 0x0123456789ABCDEFull;
  return replay;
}

// The bytes with the checksum made to match again, as a damaged writer (not a bit flip) would leave them.
std::vector<uint8_t> Resealed(std::vector<uint8_t> bytes) {
  StoreU32(bytes, bytes.size() - 4, ReplayChecksum(bytes.data(), bytes.size() - 4));
  return bytes;
}

std::string DecodeError(const std::vector<uint8_t>& bytes) {
  try {
    DecodeReplay(bytes.data(), bytes.size(), "games/x.replay");
  } catch (const EReplayError& error) {
    return error.what();
  }
  return "(loaded)";
}

TEST(ReplayFormat, EveryFieldSurvivesTheFileAndEqualTicksShareARun) {
  const TReplay replay = SmallReplay();
  const std::vector<uint8_t> bytes = EncodeReplay(replay);
  const TReplay loaded = DecodeReplay(bytes.data(), bytes.size(), "x.replay");
  EXPECT_EQ(EncodeReplay(loaded), bytes);
  ASSERT_EQ(loaded.Runs.size(), 4u);
  EXPECT_EQ(loaded.Runs[1].Tick, replay.Runs[1].Tick);
  EXPECT_EQ(loaded.Runs[2].Tick.Commands, (std::vector<uint8_t>{rcPause, rcResume, rcOpenExitQuery}));
  EXPECT_EQ(loaded.Runs[3].Repeat, 65535);
  EXPECT_EQ(loaded.Start.BombTime, 4000);
  EXPECT_EQ(loaded.Start.ShieldTime, -16);
  EXPECT_EQ(loaded.Checkpoints[1], replay.Checkpoints[1]);
  EXPECT_EQ(loaded.End, replay.End);
  EXPECT_EQ(loaded.FrameHash, replay.FrameHash);
  // 65633 ticks in a few dozen bytes: runs of equal ticks cost one run.
  EXPECT_LT(bytes.size(), 200u);
}

TEST(ReplayFormat, EveryCutAndEveryChangedByteIsRefusedWithTheFilesName) {
  const std::vector<uint8_t> bytes = EncodeReplay(SmallReplay());
  for (size_t size = 0; size < bytes.size(); ++size) {
    const std::string message = DecodeError({bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(size)});
    EXPECT_NE(message.find("games/x.replay"), std::string::npos) << size << ": " << message;
  }
  for (size_t at = 0; at < bytes.size(); ++at) {
    std::vector<uint8_t> changed = bytes;
    changed[at] ^= 0x10;
    EXPECT_NE(DecodeError(changed).find("games/x.replay"), std::string::npos) << at;
  }
}

TEST(ReplayFormat, DamageBehindAMatchingChecksumIsRefusedBeforeItIsRead) {
  const std::vector<uint8_t> good = EncodeReplay(SmallReplay());
  constexpr size_t kRuns = 8 + 4 + 28;  // the run count's offset
  struct TCase {
    const char* Name;
    size_t At;
    std::vector<uint8_t> Bytes;
    const char* Message;
  };
  const TCase cases[] = {
      {"magic", 0, {'X'}, "The file games/x.replay is not a replay."},
      {"format", 8, {1, 0}, "The replay games/x.replay has format version 1; this game reads version 2."},
      {"rules",
       10,
       {7, 0},
       "The replay games/x.replay was recorded under rules version 7; this game plays version 2."},
      {"run count",
       kRuns,
       {0xFF, 0xFF, 0xFF, 0x7F},
       "The replay games/x.replay is damaged: it counts more runs of ticks than it holds."},
      {"empty run", kRuns + 4, {0, 0}, "The replay games/x.replay is damaged: a run of ticks is empty."},
      {"unknown field",
       kRuns + 6,
       {0x40},
       "The replay games/x.replay is damaged: a tick has unknown fields."},
      {"stored usual lag",
       kRuns + 15,
       {1},
       "The replay games/x.replay is damaged: a tick stores the usual lag."},
      {"unknown command",
       kRuns + 24,
       {kReplayCommandCount},
       "The replay games/x.replay is damaged: a tick has an unknown command."},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<uint8_t> bytes = good;
    std::copy(c.Bytes.begin(), c.Bytes.end(), bytes.begin() + static_cast<ptrdiff_t>(c.At));
    EXPECT_EQ(DecodeError(Resealed(bytes)), c.Message);
  }
  // A tick count at the end that the runs do not add up to, and bytes after the end.
  TReplay wrongEnd = SmallReplay();
  ++wrongEnd.End.Tick;
  EXPECT_EQ(DecodeError(EncodeReplay(wrongEnd)),
            "The replay games/x.replay is damaged: its tick count does not match its ticks.");
  std::vector<uint8_t> longer = good;
  longer.insert(longer.end() - 4, 0);
  EXPECT_EQ(DecodeError(Resealed(longer)),
            "The replay games/x.replay is damaged: it has bytes after its end.");
}

}  // namespace
