#include "game/replay.h"

#include <algorithm>
#include <climits>
#include <type_traits>
#include <utility>

#include "engine/display.h"
#include "engine/rtl.h"
#include "engine/surface.h"
#include "engine/timer.h"
#include "game/frame_hash.h"
#include "game/game_input.h"
#include "game/game_state.h"

// A recorded tick keeps the input states as the game reads them.
static_assert(std::is_same_v<decltype(TReplayTick::Input), TInputStates>);
static_assert(kReplayInputMask == (TInputStates{1} << kInputStateCount) - 1);
// A tick keeps its lag and steering in one byte each.
static_assert(kMinLagCount >= 0 && kMaxLagCount <= UINT8_MAX);

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
  const TReplayTick* LastTick = nullptr;  // the tick played last
  uint64_t LastFrameHash = 0;             // of the frame it drew (EveryFrame)
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

const char* CommandName(uint8_t command) {
  static constexpr const char* kNames[kReplayCommandCount] = {
      "pause", "resume", "open the exit question", "confirm the exit question", "cancel the exit question"};
  return command < kReplayCommandCount ? kNames[command] : "unknown";
}

const char* PhaseName(TGamePhase phase) {
  static constexpr const char* kNames[] = {"start-up",   "menu",          "playing",   "exit question",
                                           "hero down",  "level intro",   "game over", "pause",
                                           "name entry", "send question", "sending",   "send failed"};
  return phase < std::size(kNames) ? kNames[phase] : "unknown";
}

void ApplyCommand(TGameHost& host, uint8_t command) {
  switch (command) {
    case rcPause:
      PauseGame(host);
      break;
    case rcResume:
      ResumeGame(host);
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

std::string TickText(uint32_t tick) { return "tick " + std::to_string(tick); }

std::string StartReason(const TReplayStart& s) {
  const struct {
    const char* Name;
    int64_t Value;
  } fields[] = {{"the enemy spawn countdown", s.EnemySpawnCountdown},
                {"the bonus spawn countdown", s.BonusSpawnCountdown},
                {"the weapon time", s.WeaponTime},
                {"the shield time", s.ShieldTime},
                {"the bomb time", s.BombTime},
                {"the last-bonus time", s.LastBonusTime},
                {"the hero-down countdown", s.HeroDownCountdown}};
  for (const auto& field : fields)
    if (field.Value != 0)
      return std::string("it does not start as a new program's game does: ") + field.Name + " is " +
             std::to_string(field.Value) + ", not 0";
  return {};
}

// A step and the other of its pair within what the pointer gives.
std::string StepReason(uint32_t tick, const char* name, uint8_t step, uint8_t most, const char* otherName,
                       uint8_t other) {
  if (step > most)
    return TickText(tick) + " steers " + std::to_string(step) + " pixels " + name +
           ", more than the pointer can give (" + std::to_string(most) + ")";
  if (step != 0 && other != 0)
    return TickText(tick) + " steers both " + name + " and " + otherName + ", which the pointer cannot";
  return {};
}

std::string TickReason(uint32_t tick, const TReplayTick& t) {
  const int lag = t.Lag;
  if (lag < kMinLagCount || lag > kMaxLagCount)
    return TickText(tick) + " has the timer lag " + std::to_string(lag) +
           ", which the game's timer never gives (" + std::to_string(kMinLagCount) + " to " +
           std::to_string(kMaxLagCount) + ")";
  for (const std::string& reason : {StepReason(tick, "left", t.StepLeft, kMaxStepLeft, "right", t.StepRight),
                                    StepReason(tick, "right", t.StepRight, kMaxStepRight, "left", t.StepLeft),
                                    StepReason(tick, "up", t.StepUp, kMaxStepUp, "down", t.StepDown),
                                    StepReason(tick, "down", t.StepDown, kMaxStepDown, "up", t.StepUp)})
    if (!reason.empty()) return reason;
  if ((t.Input & ~kReplayInputMask) != 0) return TickText(tick) + " has input states that do not exist";
  return {};
}

// Whether the next tick may be skipped as a paused tick that changes nothing (see SkipPausedReplayTicks).
bool PausedTickAhead() {
  if (Replay.Mode != TMode::Playing || Replay.Outcome.Ended || !Replay.Outcome.Refusal.empty() ||
      Game.GamePhase != gpPause || Game.LevelKills >= Game.Level * 10 || Replay.LastTick == nullptr)
    return false;
  const std::vector<TReplayRun>& runs = Replay.Recording.Runs;
  if (Replay.RunIndex >= runs.size()) return false;
  const TReplayTick& next = runs[Replay.RunIndex].Tick;
  return next.Commands.empty() && next == *Replay.LastTick;
}

}  // namespace

std::string ImpossibleReplayReason(const TReplay& replay) {
  std::string reason = StartReason(replay.Start);
  if (!reason.empty()) return reason;
  // The recorder keeps the state at the start of every span's tick that begins.
  const uint32_t ticks = replay.End.Tick;
  const size_t expected = ticks == 0 ? 0 : (ticks - 1) / kReplayCheckpointSpan;
  for (size_t i = 0; i < std::max(expected, replay.Checkpoints.size()); ++i) {
    const uint64_t tick = (i + 1) * uint64_t{kReplayCheckpointSpan};
    if (i < replay.Checkpoints.size() && (i >= expected || replay.Checkpoints[i].Tick < tick))
      return "it has a checkpoint at tick " + std::to_string(replay.Checkpoints[i].Tick) +
             ", where the game keeps none";
    if (i >= replay.Checkpoints.size() || replay.Checkpoints[i].Tick != tick)
      return "it has no checkpoint at tick " + std::to_string(tick) + " (the game keeps one every " +
             std::to_string(kReplayCheckpointSpan) + " ticks)";
  }
  uint32_t tick = 0;
  for (const TReplayRun& run : replay.Runs) {
    reason = TickReason(tick, run.Tick);
    if (!reason.empty()) return reason;
    tick += run.Repeat;
  }
  return {};
}

void PutStartState(const TReplayStart& start) {
  RandSeedSet(start.Seed);
  Game.EnemySpawnCountdown = start.EnemySpawnCountdown;
  Game.BonusSpawnCountdown = start.BonusSpawnCountdown;
  Game.WeaponTime = start.WeaponTime;
  Game.ShieldTime = start.ShieldTime;
  Game.BombTime = start.BombTime;
  Game.LastBonusTime = start.LastBonusTime;
  Game.HeroDownCountdown = start.HeroDownCountdown;
}

void ReplayGameStarts() {
  if (Replay.Armed) {
    Replay.Armed = false;
    Replay.Mode = TMode::Playing;
    PutStartState(Replay.Recording.Start);
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
                     .Lag = static_cast<uint8_t>(std::clamp(lagCount, kMinLagCount, kMaxLagCount)),
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
  Replay.LastTick = &tick;
  for (uint8_t command : tick.Commands) {
    if (!PhaseOffers(static_cast<TReplayCommand>(command), Game.GamePhase)) {
      Replay.Outcome.Refusal = TickText(Replay.Ticks - 1) + " gives the command \"" + CommandName(command) +
                               "\" in the phase \"" + PhaseName(Game.GamePhase) +
                               "\", where the game does not offer it";
      break;
    }
    ApplyCommand(host, command);
  }
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
  if (live && Game.GamePhase != gpExitQuery) {
    Replay.LastFrameHash = FrameHash(display.Surface);
    Replay.Frames = ChainFrames(Replay.Frames, Replay.LastFrameHash);
  }
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
  if (Replay.Mode == TMode::Playing && (Replay.Outcome.Ended || !Replay.Outcome.Refusal.empty()))
    return false;
  const std::vector<TReplayRun>& runs = Replay.Recording.Runs;
  if (Replay.RunIndex >= runs.size()) return false;
  lag = runs[Replay.RunIndex].Tick.Lag;
  return true;
}

void SkipPausedReplayTicks() {
  if (!PausedTickAhead()) return;
  const std::vector<TReplayRun>& runs = Replay.Recording.Runs;
  const std::vector<TReplayState>& checkpoints = Replay.Recording.Checkpoints;
  const uint32_t last = Replay.Recording.End.Tick - 1;  // played, for its frame
  while (Replay.RunIndex < runs.size() && Replay.Ticks < last) {
    const TReplayRun& run = runs[Replay.RunIndex];
    if (!run.Tick.Commands.empty() || !(run.Tick == *Replay.LastTick)) break;
    Checkpoint();  // the one recorded for the start of this tick, if any
    uint32_t skip = std::min<uint32_t>(run.Repeat - Replay.RunDone, last - Replay.Ticks);
    if (Replay.CheckpointIndex < checkpoints.size() &&
        checkpoints[Replay.CheckpointIndex].Tick > Replay.Ticks)
      skip = std::min(skip, checkpoints[Replay.CheckpointIndex].Tick - Replay.Ticks);
    if (Replay.Check == TReplayCheck::EveryFrame)
      for (uint32_t i = 0; i < skip; ++i) Replay.Frames = ChainFrames(Replay.Frames, Replay.LastFrameHash);
    Replay.Ticks += skip;
    Replay.RunDone = static_cast<uint16_t>(Replay.RunDone + skip);
    if (Replay.RunDone >= run.Repeat) {
      Replay.LastTick = &run.Tick;
      ++Replay.RunIndex;
      Replay.RunDone = 0;
    }
  }
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
