#include "game/replay.h"

#include <type_traits>
#include <utility>

#include "engine/display.h"
#include "engine/rtl.h"
#include "engine/surface.h"
#include "game/frame_hash.h"
#include "game/game_input.h"
#include "game/game_state.h"

// A recorded tick keeps the input states as the game reads them.
static_assert(std::is_same_v<decltype(TReplayTick::Input), TInputStates>);
static_assert(kReplayInputMask == (TInputStates{1} << kInputStateCount) - 1);

namespace {

TReplayState CurrentState(uint32_t tick, uint64_t frames) {
  return {.Tick = tick,
          .Seed = RandSeedGet(),
          .Score = Game.Score,
          .Level = Game.Level,
          .Lives = Game.Lives,
          .Frames = frames};
}

enum class TMode { Off, Recording, Finished, Playing };

struct TReplayGlobals {
  TMode Mode = TMode::Off;
  TReplay Recording;                     // the game being recorded, or the one played back
  std::vector<uint8_t> PendingCommands;  // given since the last recorded tick
  uint32_t Ticks = 0;                    // ticks recorded or played
  uint64_t Frames = 0;                   // the frames drawn in those ticks (ChainFrames)
  TDXDraw* Display = nullptr;            // of the current tick
  // Playback
  bool Armed = false;  // the next CreateGameField plays Recording back
  size_t RunIndex = 0;
  uint16_t RunDone = 0;  // ticks of the current run already played
  size_t CheckpointIndex = 0;
  TReplayCheck Check = TReplayCheck::EveryFrame;
  TReplayOutcome Outcome;
};

TReplayGlobals Replay;

uint64_t DisplayHash() { return Replay.Display ? FrameHash(Replay.Display->Surface) : 0; }

// Records a checkpoint every kReplayCheckpointSpan ticks (recording), or compares the one recorded for
// the start of this tick, whatever its tick (playback): no recorded checkpoint goes unchecked.
void Checkpoint() {
  const TReplayState now = CurrentState(Replay.Ticks, Replay.Frames);
  if (Replay.Mode == TMode::Recording) {
    if (Replay.Ticks > 0 && Replay.Ticks % kReplayCheckpointSpan == 0)
      Replay.Recording.Checkpoints.push_back(now);
    return;
  }
  const auto& checkpoints = Replay.Recording.Checkpoints;
  if (Replay.CheckpointIndex >= checkpoints.size() || checkpoints[Replay.CheckpointIndex].Tick != now.Tick)
    return;
  if (!SameReplayState(checkpoints[Replay.CheckpointIndex], now, Replay.Check) &&
      Replay.Outcome.FirstDifferenceTick < 0)
    Replay.Outcome.FirstDifferenceTick = now.Tick;
  Replay.Outcome.Checkpoints.push_back(now);
  ++Replay.CheckpointIndex;
}

void ApplyCommand(TGameHost& host, uint8_t command) {
  switch (command) {
    case rcPause:
      PauseGame(host);
      break;
    case rcResume:
      if (Game.GamePhase == gpPause) ResumeGame(host);
      break;
    case rcOpenExitQuery:
      OpenExitQuery(host);
      break;
    case rcConfirmExitQuery:
      ConfirmExitQuery(host);
      break;
    case rcCancelExitQuery:
      CancelExitQuery(host);
      break;
    default:
      break;
  }
}

}  // namespace

void ReplayGameStarts() {
  if (Replay.Armed) {
    Replay.Armed = false;
    Replay.Mode = TMode::Playing;
    const TReplayStart& s = Replay.Recording.Start;
    RandSeedSet(s.Seed);
    Game.EnemySpawnCountdown = s.EnemySpawnCountdown;
    Game.BonusSpawnCountdown = s.BonusSpawnCountdown;
    Game.WeaponTime = s.WeaponTime;
    Game.ShieldTime = s.ShieldTime;
    Game.BombTime = s.BombTime;
    Game.LastBonusTime = s.LastBonusTime;
    Game.HeroDownCountdown = s.HeroDownCountdown;
  } else {
    Replay.Mode = TMode::Recording;
    Replay.Recording = TReplay{};
    Replay.Recording.Start = {.Seed = RandSeedGet(),
                              .EnemySpawnCountdown = Game.EnemySpawnCountdown,
                              .BonusSpawnCountdown = Game.BonusSpawnCountdown,
                              .WeaponTime = Game.WeaponTime,
                              .ShieldTime = Game.ShieldTime,
                              .BombTime = Game.BombTime,
                              .LastBonusTime = Game.LastBonusTime,
                              .HeroDownCountdown = Game.HeroDownCountdown};
  }
  Replay.PendingCommands.clear();
  Replay.Ticks = 0;
  Replay.Frames = 0;
  Replay.Display = nullptr;
}

TInputStates ReplayTickInput(TGameHost& host, TDXDraw& display, TInputStates states, int lagCount) {
  Replay.Display = &display;
  if (Replay.Mode == TMode::Recording) {
    Checkpoint();
    TReplayTick tick{.Input = states & kReplayInputMask,
                     .Lag = static_cast<uint8_t>(lagCount < 0     ? 0
                                                 : lagCount > 255 ? 255
                                                                  : lagCount),
                     .StepLeft = Game.MouseStepLeft,
                     .StepRight = Game.MouseStepRight,
                     .StepUp = Game.MouseStepUp,
                     .StepDown = Game.MouseStepDown,
                     .LeftButton = Game.LeftButtonDown,
                     .RightButton = Game.RightButtonDown,
                     .Commands = {}};
    tick.Commands.swap(Replay.PendingCommands);
    if (tick.Commands.size() > 255) tick.Commands.resize(255);
    std::vector<TReplayRun>& runs = Replay.Recording.Runs;
    if (!runs.empty() && runs.back().Repeat < 0xFFFF && runs.back().Tick == tick)
      ++runs.back().Repeat;
    else
      runs.push_back({.Repeat = 1, .Tick = std::move(tick)});
    ++Replay.Ticks;
    return states;
  }
  if (Replay.Mode != TMode::Playing) return states;
  Checkpoint();
  const std::vector<TReplayRun>& runs = Replay.Recording.Runs;
  if (Replay.RunIndex >= runs.size()) return 0;
  const TReplayTick& tick = runs[Replay.RunIndex].Tick;
  if (++Replay.RunDone >= runs[Replay.RunIndex].Repeat) {
    ++Replay.RunIndex;
    Replay.RunDone = 0;
  }
  ++Replay.Ticks;
  // The recorded end's frame is the only one a last-frame check draws: a game that ends on another tick
  // differs in its end state anyway.
  display.Surface.DiscardDrawing =
      Replay.Check == TReplayCheck::LastFrame && Replay.Ticks != Replay.Recording.End.Tick;
  for (uint8_t command : tick.Commands) ApplyCommand(host, command);
  Game.MouseStepLeft = tick.StepLeft;
  Game.MouseStepRight = tick.StepRight;
  Game.MouseStepUp = tick.StepUp;
  Game.MouseStepDown = tick.StepDown;
  Game.LeftButtonDown = tick.LeftButton;
  Game.RightButtonDown = tick.RightButton;
  return tick.Input;
}

void ReplayFrameDrawn(const TDXDraw& display) {
  const bool live =
      Replay.Mode == TMode::Recording ||
      (Replay.Mode == TMode::Playing && !Replay.Outcome.Ended && Replay.Check == TReplayCheck::EveryFrame);
  if (live && Game.GamePhase != gpExitQuery)
    Replay.Frames = ChainFrames(Replay.Frames, FrameHash(display.Surface));
}

void ReplayNoteCommand(TReplayCommand command) {
  if (Replay.Mode == TMode::Recording) Replay.PendingCommands.push_back(command);
}

bool ReplayGameOver() {
  if (Replay.Mode == TMode::Recording) {
    Replay.Recording.End = CurrentState(Replay.Ticks, Replay.Frames);
    Replay.Recording.FrameHash = DisplayHash();
    Replay.Mode = TMode::Finished;
    return false;
  }
  if (Replay.Mode != TMode::Playing || Replay.Outcome.Ended) return false;
  Replay.Outcome.Ended = true;
  Replay.Outcome.End = CurrentState(Replay.Ticks, Replay.Frames);
  Replay.Outcome.FrameHash = DisplayHash();
  return true;
}

std::optional<TReplay> TakeFinishedRecording() {
  if (Replay.Mode != TMode::Finished) return std::nullopt;
  Replay.Mode = TMode::Off;
  return std::move(Replay.Recording);
}

void StartReplayPlayback(const TReplay& replay, TReplayCheck check) {
  Replay = TReplayGlobals{};
  Replay.Recording = replay;
  Replay.Check = check;
  Replay.Armed = true;
}

bool SameReplayState(const TReplayState& a, const TReplayState& b, TReplayCheck check) {
  if (check == TReplayCheck::EveryFrame) return a == b;
  TReplayState withoutFrames = b;  // every other field, as many as the state has
  withoutFrames.Frames = a.Frames;
  return a == withoutFrames;
}

bool ReplayHasNextTick(int& lag) {
  if (Replay.Mode == TMode::Playing && Replay.Outcome.Ended) return false;
  const std::vector<TReplayRun>& runs = Replay.Recording.Runs;
  if (Replay.RunIndex >= runs.size()) return false;
  lag = runs[Replay.RunIndex].Tick.Lag;
  return true;
}

TReplayOutcome StopReplayPlayback() {
  TReplayOutcome outcome = Replay.Outcome;
  if (!outcome.Ended) {
    outcome.End = CurrentState(Replay.Ticks, Replay.Frames);
    outcome.FrameHash = DisplayHash();
  }
  if (Replay.Display) Replay.Display->Surface.DiscardDrawing = false;
  Replay = TReplayGlobals{};
  return outcome;
}

void ResetReplayState() { Replay = TReplayGlobals{}; }
