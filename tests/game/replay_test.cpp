// Replays: whole games recorded through the main window, played back headless, and kept in replays/.
#include "game/replay.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "app/kept_replays.h"
#include "app/replay_host.h"
#include "engine/rtl.h"
#include "game/game_state.h"
#include "game/replay_file.h"
#include "menu/menu_state.h"
#include "tests/support/game_scenario.h"

namespace {

class ReplayScenario : public TGameScenario {
 protected:
  void SetUp() override {
    TGameScenario::SetUp();
    ResetReplayState();
    ResetReplayRunState();
  }
  void TearDown() override {
    TGameScenario::TearDown();
    ResetReplayState();
  }
  void MoveMouse(int x, int y) { Headless.PushEvent({.Kind = plat::TEventKind::MouseMove, .X = x, .Y = y}); }
  // A game of keys, mouse steering and buttons, a pause, the exit question answered "No", then Escape and
  // "Yes"; it ends in the menu.
  void PlayScriptedGame(int ticks) {
    StartPlaying();
    for (int tick = 0; tick < ticks; ++tick) {
      Hold(plat::SCAN_SPACE, tick % 40 < 30);
      Hold(plat::SCAN_UP, tick % 100 < 20);
      Hold(plat::SCAN_DOWN, tick % 100 >= 50 && tick % 100 < 70);
      if (tick % 150 == 75) MoveMouse(400 + (tick % 7) * 9, 300 - (tick % 5) * 11);
      if (tick % 200 == 10)
        Headless.PushEvent({.Kind = plat::TEventKind::MouseDown, .Button = plat::TMouseButton::Left});
      if (tick % 200 == 60)
        Headless.PushEvent({.Kind = plat::TEventKind::MouseUp, .Button = plat::TMouseButton::Left});
      if (tick == ticks / 3) {
        Press('P');
        RunTicks(20);
        Press('P');
      }
      if (tick == ticks / 2) {
        Press(plat::VK_ESCAPE);
        Press(plat::VK_RIGHT);
        Press(plat::VK_RETURN);
      }
      RunTicks(1);
    }
    if (GameKeysPhase(Game.GamePhase)) {
      Press(plat::VK_ESCAPE);
      Press(plat::VK_RETURN);
    }
    for (int i = 0; i < 300 && Game.GamePhase != gpNameEntry && Game.GamePhase != gpMenu; ++i) RunTicks(1);
    if (Game.GamePhase == gpNameEntry) {
      Headless.PushEvent({.Kind = plat::TEventKind::KeyPress, .Char = 'A'});
      Press(plat::VK_RETURN);  // "OK"
      Press(plat::VK_RIGHT);
      Press(plat::VK_RETURN);  // not sent
    }
  }
};

TEST_F(ReplayScenario, ARecordedGamePlaysBackEqualFromAnyStartingStateAndAChangedTickDiverges) {
  Headless.Seed = 4242;
  PlayScriptedGame(1300);  // a first game leaves countdowns and the generator somewhere
  Form.reset();
  PlayScriptedGame(1900);
  ASSERT_EQ(Game.GamePhase, gpMenu);
  const uint16_t score = Game.Score;
  const uint8_t level = Game.Level;
  const std::string config = ReadFile("config.dat");
  Form.reset();

  const TReplay replay = LoadReplay("replays/last.replay");
  EXPECT_EQ(replay.End.Score, score);
  EXPECT_EQ(replay.End.Level, level);
  EXPECT_GT(replay.End.Tick, 1900u);
  EXPECT_EQ(replay.Checkpoints.size(), replay.End.Tick / kReplayCheckpointSpan);
  EXPECT_NE(replay.FrameHash, 0u);
  std::vector<uint8_t> commands;
  bool steered = false;
  for (const TReplayRun& run : replay.Runs) {
    commands.insert(commands.end(), run.Tick.Commands.begin(), run.Tick.Commands.end());
    steered |= run.Tick.StepRight != 0 || run.Tick.StepUp != 0;
  }
  commands.resize(4);
  EXPECT_EQ(commands, (std::vector<uint8_t>{rcPause, rcResume, rcOpenExitQuery, rcCancelExitQuery}));
  EXPECT_TRUE(steered);

  // Played back from another program's state: the start state comes from the file.
  ResetGameState();
  RandSeedSet(99);
  TReplayOutcome outcome = VerifyReplay(replay, TReplayCheck::EveryFrame);
  EXPECT_TRUE(outcome.Ended);
  EXPECT_EQ(outcome.End, replay.End);
  EXPECT_EQ(outcome.FrameHash, replay.FrameHash);
  EXPECT_EQ(outcome.FirstDifferenceTick, -1);
  // Playing back writes nothing: config.dat is as it was and no replay is recorded.
  EXPECT_EQ(ReadFile("config.dat"), config);
  EXPECT_FALSE(TakeFinishedRecording().has_value());

  // The fire button let go for one stretch of play: the game diverges from its checkpoints.
  TReplay changed = replay;
  uint32_t at = 0;
  for (TReplayRun& run : changed.Runs) {
    if (at > 700 && at < 1100 && (run.Tick.Input & InputBit(isButton1)))
      run.Tick.Input &= ~InputBit(isButton1);
    at += run.Repeat;
  }
  outcome = VerifyReplay(changed, TReplayCheck::LastFrame);
  EXPECT_FALSE(outcome.End == replay.End && outcome.FrameHash == replay.FrameHash);
  EXPECT_EQ(outcome.FirstDifferenceTick, 1200);
}

// More equal ticks in a row than one run holds: the pause goes on in a second run of the same tick, and
// the game plays back equal.
TEST_F(ReplayScenario, APauseLongerThanARunIsKeptAndPlaysBackEqual) {
  constexpr int kPauseTicks = 65535 + 300;
  Headless.KeepFrames = false;  // no copy of each frame: the test reads none
  StartPlaying();
  RunTicks(30);
  Press('P');
  RunTicks(kPauseTicks);
  Press('P');
  RunTicks(30);
  Press(plat::VK_ESCAPE);
  Press(plat::VK_RETURN);  // "Yes"
  for (int i = 0; i < 300 && Game.GamePhase != gpMenu; ++i) RunTicks(1);
  ASSERT_EQ(Game.GamePhase, gpMenu);  // a score of 0 takes no place
  Form.reset();

  const TReplay replay = LoadReplay("replays/last.replay");
  EXPECT_GT(replay.End.Tick, static_cast<uint32_t>(kPauseTicks));
  size_t full = 0;
  for (size_t i = 0; i + 1 < replay.Runs.size(); ++i)
    if (replay.Runs[i].Repeat == 65535 && replay.Runs[i + 1].Tick == replay.Runs[i].Tick) full = i;
  ASSERT_GT(full, 0u) << "no run of 65535 equal ticks followed by more of them";
  EXPECT_GE(replay.Runs[full + 1].Repeat, 300 - 2);
  const TReplayOutcome outcome = VerifyReplay(replay, TReplayCheck::EveryFrame);
  EXPECT_TRUE(outcome.Ended);
  EXPECT_EQ(outcome.End, replay.End);
  EXPECT_EQ(outcome.FrameHash, replay.FrameHash);
  EXPECT_EQ(outcome.FirstDifferenceTick, -1);
}

// The check that draws only the last frame still runs every sprite's Render, which sets state (a gun's
// angle, a soldier's facing): it meets the states of the check that draws every frame at every
// checkpoint and at the end, and ends on the same picture.
TEST_F(ReplayScenario, TheGoldenGamesCheckAlikeDrawingEveryFrameOrTheLastOnly) {
  Headless.KeepFrames = false;
  for (const char* name :
       {"loses-every-life", "exit-question", "plays-every-rule", "takes-the-grounds-shots"}) {
    SCOPED_TRACE(name);
    const TReplay replay = LoadReplay(std::string(PELLORIN_GOLDEN_DIR "/") + name + ".replay");
    const TReplayOutcome drawn = VerifyReplay(replay, TReplayCheck::EveryFrame);
    const TReplayOutcome lastOnly = VerifyReplay(replay, TReplayCheck::LastFrame);
    EXPECT_EQ(drawn.FirstDifferenceTick, -1);
    EXPECT_EQ(lastOnly.FirstDifferenceTick, -1);
    ASSERT_EQ(drawn.Checkpoints.size(), replay.Checkpoints.size());
    ASSERT_EQ(lastOnly.Checkpoints.size(), drawn.Checkpoints.size());
    for (size_t i = 0; i < drawn.Checkpoints.size(); ++i)
      EXPECT_TRUE(SameReplayState(lastOnly.Checkpoints[i], drawn.Checkpoints[i], TReplayCheck::LastFrame))
          << "checkpoint at tick " << drawn.Checkpoints[i].Tick;
    EXPECT_TRUE(lastOnly.Ended && drawn.Ended);
    EXPECT_TRUE(SameReplayState(lastOnly.End, drawn.End, TReplayCheck::LastFrame));
    EXPECT_EQ(drawn.End, replay.End);
    EXPECT_EQ(lastOnly.End.Frames, 0u);  // not hashed: nothing was drawn
    EXPECT_EQ(drawn.FrameHash, replay.FrameHash);
    EXPECT_EQ(lastOnly.FrameHash, drawn.FrameHash);
  }
}

TEST_F(ReplayScenario, AGameThatEntersTheTableIsKeptWithTheTenBestTheLastAndTheRecordFile) {
  // Ten kept games already: five that any short game stays below, five of score 0 of different dates.
  std::vector<std::string> before;
  for (int i = 0; i < 5; ++i) {
    before.push_back("6553" + std::to_string(i) + "-20260101-00000" + std::to_string(i) + ".replay");
    before.push_back("00000-2026010" + std::to_string(i + 1) + "-120000.replay");
  }
  for (const std::string& name : before) WriteFile("replays/" + name, "old");
  WriteFile("replays/notes.txt", "mine");
  WriteFile("replays/00001-bad.replay", "not a kept name");
  RecordGamesTo("mine.replay");  // --record
  Headless.Seed = 4242;
  PlayScriptedGame(600);
  ASSERT_EQ(Game.GamePhase, gpMenu);
  ASSERT_GT(Game.Score, 0);

  std::vector<std::string> kept;
  for (const std::string& path : KeptReplays())
    kept.push_back(std::filesystem::path(path).filename().string());
  ASSERT_EQ(kept.size(), 10u);
  EXPECT_EQ(kept.front(), "65534-20260101-000004.replay");
  const std::string ours = kept[5];
  EXPECT_EQ(ours.substr(0, 6), KeptReplayName(Game.Score, 0).substr(0, 6));
  EXPECT_EQ(LoadReplay("replays/" + ours).End.Score, Game.Score);
  // The newest of the games of score 0 went; the oldest four stayed.
  EXPECT_EQ(kept.back(), "00000-20260104-120000.replay");
  EXPECT_FALSE(std::filesystem::exists("replays/00000-20260105-120000.replay"));
  EXPECT_EQ(ReadFile("replays/notes.txt"), "mine");
  EXPECT_EQ(ReadFile("replays/00001-bad.replay"), "not a kept name");
  EXPECT_EQ(LoadReplay("replays/last.replay").End.Score, Game.Score);
  EXPECT_EQ(ReadFile("mine.replay"), ReadFile("replays/last.replay"));
}

}  // namespace
