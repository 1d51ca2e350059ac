// Replays: whole games recorded through the main window, played back headless, and kept in replays/.
#include "game/replay.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/kept_replays.h"
#include "app/replay_host.h"
#include "engine/rtl.h"
#include "engine/timer.h"
#include "game/game_input.h"
#include "game/game_state.h"
#include "game/replay_file.h"
#include "menu/menu_state.h"
#include "tests/support/game_scenario.h"
#include "tests/support/game_test.h"

namespace {

TReplay Golden(const char* name) {
  return LoadReplay(std::string(PELLORIN_GOLDEN_DIR "/") + name + ".replay");
}

// A run boundary at tick at: the run that holds it split in two.
void SplitAt(TReplay& replay, uint32_t at) {
  uint32_t first = 0;
  for (size_t i = 0; i < replay.Runs.size(); first += replay.Runs[i].Repeat, ++i) {
    const uint32_t repeat = replay.Runs[i].Repeat;
    if (at > first && at < first + repeat) {
      TReplayRun tail = replay.Runs[i];
      tail.Repeat = static_cast<uint16_t>(first + repeat - at);
      replay.Runs[i].Repeat = static_cast<uint16_t>(at - first);
      replay.Runs.insert(replay.Runs.begin() + static_cast<std::ptrdiff_t>(i) + 1, tail);
      return;
    }
  }
}

// Tick at as a run of its own.
TReplayTick& TickAt(TReplay& replay, uint32_t at) {
  SplitAt(replay, at);
  SplitAt(replay, at + 1);
  uint32_t first = 0;
  for (TReplayRun& run : replay.Runs) {
    if (first == at) return run.Tick;
    first += run.Repeat;
  }
  throw std::out_of_range("no such tick");
}

// Runs of the tick, 65535 ticks at most each.
void AppendRuns(std::vector<TReplayRun>& runs, const TReplayTick& tick, uint32_t ticks) {
  for (; ticks > 0; ticks -= std::min<uint32_t>(ticks, 0xFFFF))
    runs.push_back({.Repeat = static_cast<uint16_t>(std::min<uint32_t>(ticks, 0xFFFF)), .Tick = tick});
}

// The replay as the file holds it: encoded and read back, so that the decoder takes every crafted one.
TReplay Sealed(const TReplay& replay) {
  const std::vector<uint8_t> bytes = EncodeReplay(replay);
  return DecodeReplay(bytes.data(), bytes.size(), "crafted.replay");
}

// A pause of length ticks (a whole number of checkpoint spans) put in before tick at, a checkpoint's
// tick in play: paused on the first, resumed by tick at. The game stands still through it, so the
// checkpoints in it are the one at tick at with other ticks, and the later ones move by length. The
// frames' chain is the recording's: this replay is for the check that draws the last frame only.
TReplay WithPause(TReplay replay, uint32_t at, uint32_t length) {
  TReplayTick& resumed = TickAt(replay, at);
  resumed.Commands.insert(resumed.Commands.begin(), rcResume);
  TReplayTick paused = resumed;
  paused.Commands.clear();
  paused.Lag = 1;
  std::vector<TReplayRun> pause;
  TReplayTick pausing = paused;
  pausing.Commands = {rcPause};
  pause.push_back({.Repeat = 1, .Tick = pausing});
  AppendRuns(pause, paused, length - 1);
  uint32_t first = 0;
  auto run = replay.Runs.begin();
  for (; first < at; ++run) first += run->Repeat;
  replay.Runs.insert(run, pause.begin(), pause.end());
  auto checkpoint = replay.Checkpoints.begin();
  while (checkpoint->Tick != at) ++checkpoint;
  for (auto later = checkpoint; later != replay.Checkpoints.end(); ++later) later->Tick += length;
  std::vector<TReplayState> still;
  for (uint32_t tick = at; tick < at + length; tick += kReplayCheckpointSpan) {
    still.push_back(*checkpoint);
    still.back().Tick = tick;
  }
  replay.Checkpoints.insert(checkpoint, still.begin(), still.end());
  replay.End.Tick += length;
  return replay;
}

// The check of --verify-replay on crafted replays, headless over the game's data.
class ReplayCheck : public TGameTest {
 protected:
  void SetUp() override {
    TGameTest::SetUp();
    InstallGameData();
    Headless.KeepFrames = false;
    ResetReplayState();
  }
};

// Crafted replays, each one edit away from a golden game, that the game could not have recorded: the
// check refuses each with its reason, before or while playing it.
TEST_F(ReplayCheck, RefusesEveryReplayTheGameCannotProduce) {
  const TReplay golden = Golden("exit-question");
  const uint32_t ticks = golden.TickCount();
  ASSERT_GT(ticks, 1300u);
  const struct {
    const char* Name;
    std::function<void(TReplay&)> Edit;
    const char* Reason;
  } cases[] = {
      {"cut off in play",
       [](TReplay& r) {
         SplitAt(r, 1000);
         uint32_t first = 0;
         size_t keep = 0;
         while (first < 1000) first += r.Runs[keep++].Repeat;
         r.Runs.resize(keep);
         std::erase_if(r.Checkpoints, [](const TReplayState& c) { return c.Tick >= 1000; });
         r.End.Tick = 1000;
       },
       "it stops at tick 1000 with the game in play"},
      {"bonus time of 2^31-1", [](TReplay& r) { r.Start.WeaponTime = INT32_MAX; },
       "the weapon time is 2147483647, not 0"},
      {"enemy countdown", [](TReplay& r) { r.Start.EnemySpawnCountdown = 5; },
       "the enemy spawn countdown is 5, not 0"},
      {"hero-down countdown", [](TReplay& r) { r.Start.HeroDownCountdown = -1; },
       "the hero-down countdown is -1, not 0"},
      {"resume in play", [](TReplay& r) { TickAt(r, 300).Commands = {rcResume}; },
       "tick 300 gives the command \"resume\" in the phase \"playing\""},
      {"exit question confirmed in play", [](TReplay& r) { TickAt(r, 300).Commands = {rcConfirmExitQuery}; },
       "tick 300 gives the command \"confirm the exit question\" in the phase \"playing\""},
      {"exit question cancelled in play", [](TReplay& r) { TickAt(r, 300).Commands = {rcCancelExitQuery}; },
       "tick 300 gives the command \"cancel the exit question\" in the phase \"playing\""},
      {"pause over the exit question",
       [](TReplay& r) {
         TickAt(r, 300).Commands = {rcOpenExitQuery, rcPause};
       },
       "tick 300 gives the command \"pause\" in the phase \"exit question\""},
      {"exit question opened twice",
       [](TReplay& r) {
         TickAt(r, 300).Commands = {rcOpenExitQuery, rcOpenExitQuery};
       },
       "tick 300 gives the command \"open the exit question\" in the phase \"exit question\""},
      {"lag 0", [](TReplay& r) { TickAt(r, 400).Lag = 0; }, "tick 400 has the timer lag 0"},
      {"step right past the picture", [](TReplay& r) { TickAt(r, 400).StepRight = kMaxStepRight + 1; },
       "tick 400 steers 200 pixels right, more than the pointer can give (199)"},
      {"step up past the picture", [](TReplay& r) { TickAt(r, 400).StepUp = kMaxStepUp + 1; },
       "tick 400 steers 151 pixels up, more than the pointer can give (150)"},
      {"steps left and right at once",
       [](TReplay& r) {
         TReplayTick& t = TickAt(r, 400);
         t.StepLeft = 3;
         t.StepRight = 3;
       },
       "tick 400 steers both left and right"},
      {"a checkpoint left out", [](TReplay& r) { r.Checkpoints.erase(r.Checkpoints.begin()); },
       "it has no checkpoint at tick 600"},
      {"a checkpoint out of place", [](TReplay& r) { --r.Checkpoints.front().Tick; },
       "it has a checkpoint at tick 599, where the game keeps none"},
      {"ticks after \"Game over\"",
       [&](TReplay& r) {
         r.Runs.push_back({.Repeat = 10, .Tick = {}});
         r.End.Tick += 10;
       },
       "\"Game over\" ran to its end at tick "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TReplay crafted = golden;
    c.Edit(crafted);
    crafted = Sealed(crafted);
    TReplayOutcome outcome;
    const std::string reason = CheckReplay(crafted, TReplayCheck::LastFrame, outcome);
    EXPECT_NE(reason.find(c.Reason), std::string::npos) << reason;
  }
  TReplayOutcome outcome;
  EXPECT_EQ(CheckReplay(Sealed(golden), TReplayCheck::LastFrame, outcome), "");
  EXPECT_EQ(outcome.End.Tick, ticks);
}

// A day of pause costs the check nothing: the game stands still, so its ticks are counted rather than
// played, and the checkpoints in it are still compared. Played paused tick by tick this takes many
// seconds of CPU.
TEST_F(ReplayCheck, ADayOfPauseIsCheckedAtOnce) {
  const TReplay golden = Golden("exit-question");
  const uint32_t length =
      (kReplayMaxTicks - golden.TickCount()) / kReplayCheckpointSpan * kReplayCheckpointSpan;
  const TReplay paused = Sealed(WithPause(golden, kReplayCheckpointSpan, length));
  ASSERT_GT(paused.TickCount(), kReplayMaxTicks - kReplayCheckpointSpan);

  const auto start = std::chrono::steady_clock::now();
  TReplayOutcome outcome;
  EXPECT_EQ(CheckReplay(paused, TReplayCheck::LastFrame, outcome), "");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_EQ(outcome.FirstDifferenceTick, -1);
  EXPECT_EQ(outcome.Checkpoints.size(), paused.Checkpoints.size());
  EXPECT_TRUE(SameReplayState(outcome.End, paused.End, TReplayCheck::LastFrame));
  EXPECT_EQ(outcome.FrameHash, paused.FrameHash);

  // A checkpoint in the pause that tells of another score is still met and differs.
  TReplay forged = paused;
  forged.Checkpoints[5].Score += 1;
  EXPECT_EQ(CheckReplay(Sealed(forged), TReplayCheck::LastFrame, outcome), "");
  EXPECT_EQ(outcome.FirstDifferenceTick, forged.Checkpoints[5].Tick);

  // The same pause to the last tick: the game never ends, and the check says so as quickly.
  TReplay cut = paused;
  size_t pausing = 0;
  while (cut.Runs[pausing].Tick.Commands != std::vector<uint8_t>{rcPause}) ++pausing;
  cut.Runs.resize(pausing + 2);  // up to the pause and the first run of it
  AppendRuns(cut.Runs, cut.Runs.back().Tick, kReplayMaxTicks - cut.TickCount());
  cut.End.Tick = cut.TickCount();
  std::erase_if(cut.Checkpoints, [&](const TReplayState& c) { return c.Tick >= cut.End.Tick; });
  const auto cutStart = std::chrono::steady_clock::now();
  const std::string reason = CheckReplay(Sealed(cut), TReplayCheck::LastFrame, outcome);
  EXPECT_NE(reason.find("it stops at tick 5443200 with the game in play"), std::string::npos) << reason;
  EXPECT_LT(std::chrono::steady_clock::now() - cutStart, std::chrono::seconds(3));
}

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
  // The check skips the pause rather than playing it, and comes out where the recording did: at each
  // of the checkpoints in it (the frames' chain too, when every frame counts) and at the end.
  for (TReplayCheck check : {TReplayCheck::EveryFrame, TReplayCheck::LastFrame}) {
    TReplayOutcome outcome;
    EXPECT_EQ(CheckReplay(replay, check, outcome), "");
    EXPECT_TRUE(outcome.Ended);
    EXPECT_TRUE(SameReplayState(outcome.End, replay.End, check));
    EXPECT_EQ(outcome.FrameHash, replay.FrameHash);
    EXPECT_EQ(outcome.FirstDifferenceTick, -1);
    EXPECT_EQ(outcome.Checkpoints.size(), replay.Checkpoints.size());
  }
}

// What the timer and the pointer give at their extremes is recorded as the game played it, and the
// check admits it: a tick five seconds late (passed the most lag a tick keeps) and the pointer far
// beyond the picture (taken at the picture's edge).
TEST_F(ReplayScenario, AStalledTickAndAPointerBeyondThePictureAreRecordedAsPlayedAndAdmitted) {
  Headless.KeepFrames = false;
  StartPlaying();
  RunTicks(40);
  Headless.AdvanceClock(5000);
  RunTicks(1);
  Hold(plat::SCAN_SPACE);
  MoveMouse(1500, -400);
  RunTicks(20);
  MoveMouse(-900, 2000);
  RunTicks(20);
  Press(plat::VK_ESCAPE);
  Press(plat::VK_RETURN);  // "Yes"
  for (int i = 0; i < 300 && Game.GamePhase != gpMenu && Game.GamePhase != gpNameEntry; ++i) RunTicks(1);
  ASSERT_TRUE(Game.GamePhase == gpMenu || Game.GamePhase == gpNameEntry);
  Form.reset();

  const TReplay replay = LoadReplay("replays/last.replay");
  bool stalled = false, right = false, up = false, left = false, down = false;
  for (const TReplayRun& run : replay.Runs) {
    stalled |= run.Tick.Lag == kMaxLagCount;
    right |= run.Tick.StepRight == kMaxStepRight;
    up |= run.Tick.StepUp == kMaxStepUp;
    left |= run.Tick.StepLeft == kMaxStepLeft;
    down |= run.Tick.StepDown == kMaxStepDown;
  }
  EXPECT_TRUE(stalled && right && up && left && down);
  TReplayOutcome outcome;
  EXPECT_EQ(CheckReplay(replay, TReplayCheck::EveryFrame, outcome), "");
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
    const TReplay replay = Golden(name);
    TReplayOutcome drawn, lastOnly;
    EXPECT_EQ(CheckReplay(replay, TReplayCheck::EveryFrame, drawn), "");
    EXPECT_EQ(CheckReplay(replay, TReplayCheck::LastFrame, lastOnly), "");
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
