#include "game/replay.h"

#include <array>
#include <bit>
#include <cstdarg>
#include <cstring>

#include "engine/binary_io.h"
#include "engine/display.h"
#include "common/format.h"
#include "engine/rtl.h"
#include "engine/surface.h"
#include "game/game_input.h"
#include "game/game_state.h"
#include "platform/files.h"

// File layout, little-endian:
//   magic "PLNREPLY", u16 format version, u16 rules version
//   start: u32 seed, u16 enemy countdown, u16 bonus countdown, i32 weapon, shield, bomb, last-bonus and
//          hero-down times
//   u32 run count, runs: u16 repeat, u8 flags, then the fields the flags name:
//          1 input (u32 low bits, u8 high bits), 2 lag (u8; absent: 1), 4 steps (u8 left, right, up,
//          down), 8 left button, 16 right button, 32 commands (u8 count, count x u8)
//   u32 checkpoint count, checkpoints: u32 tick, u32 seed, u16 score, u8 level, i32 lives, u64 frames
//   end: u32 ticks, u32 seed, u16 score, u8 level, i32 lives, u64 frames, u64 frame hash (last frame)
//   u32 CRC-32 of everything before it
namespace {

constexpr std::array<uint8_t, 8> kMagic = {'P', 'L', 'N', 'R', 'E', 'P', 'L', 'Y'};
constexpr size_t kStartSize = 4 + 2 + 2 + 5 * 4;
constexpr size_t kStateSize = 4 + 4 + 2 + 1 + 4 + 8;
constexpr size_t kMinRunSize = 3;
enum : uint8_t { kHasInput = 1, kHasLag = 2, kHasSteps = 4, kLeft = 8, kRight = 16, kHasCommands = 32 };
constexpr TInputStates kInputMask = (TInputStates{1} << kInputStateCount) - 1;

uint32_t Crc32(const uint8_t* data, size_t size) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

void AppendState(std::vector<uint8_t>& out, const TReplayState& state) {
  AppendU32(out, state.Tick);
  AppendU32(out, state.Seed);
  AppendU16(out, state.Score);
  AppendU8(out, state.Level);
  AppendI32(out, state.Lives);
  AppendU32(out, static_cast<uint32_t>(state.Frames));
  AppendU32(out, static_cast<uint32_t>(state.Frames >> 32));
}

// Reads fields from a byte range; every read is checked against what is left.
class TReader {
 public:
  TReader(const uint8_t* data, size_t size, const std::string& name) : Data(data), Size(size), Name(name) {}
  size_t Left() const { return Size - At; }
  void Need(size_t count, const char* what) const {
    if (count > Left())
      throw EReplayError("The replay %s is damaged: it ends inside %s.", Name.c_str(), what);
  }
  uint8_t U8(const char* what) {
    Need(1, what);
    return Data[At++];
  }
  uint16_t U16(const char* what) {
    Need(2, what);
    At += 2;
    return LoadU16(Data + At - 2);
  }
  uint32_t U32(const char* what) {
    Need(4, what);
    At += 4;
    return LoadU32(Data + At - 4);
  }
  int32_t I32(const char* what) { return static_cast<int32_t>(U32(what)); }
  uint64_t U64(const char* what) {
    const uint64_t low = U32(what);
    return low | (static_cast<uint64_t>(U32(what)) << 32);
  }
  [[noreturn]] void Damaged(const char* what) const {
    throw EReplayError("The replay %s is damaged: %s.", Name.c_str(), what);
  }
  TReplayState State(const char* what) {
    Need(kStateSize, what);
    TReplayState state;
    state.Tick = U32(what);
    state.Seed = U32(what);
    state.Score = U16(what);
    state.Level = U8(what);
    state.Lives = I32(what);
    state.Frames = U64(what);
    return state;
  }

 private:
  const uint8_t* Data;
  size_t Size;
  size_t At = 0;
  const std::string& Name;
};

TReplayRun ReadRun(TReader& in) {
  TReplayRun run;
  run.Repeat = in.U16("a run of ticks");
  if (run.Repeat == 0) in.Damaged("a run of ticks is empty");
  const uint8_t flags = in.U8("a run of ticks");
  if (flags & ~(kHasInput | kHasLag | kHasSteps | kLeft | kRight | kHasCommands))
    in.Damaged("a tick has unknown fields");
  TReplayTick& tick = run.Tick;
  if (flags & kHasInput) {
    const uint64_t low = in.U32("the input of a tick");
    tick.Input = low | (static_cast<uint64_t>(in.U8("the input of a tick")) << 32);
    if (tick.Input == 0 || (tick.Input & ~kInputMask) != 0)
      in.Damaged("a tick has input states that do not exist");
  }
  if (flags & kHasLag) {
    tick.Lag = in.U8("the lag of a tick");
    if (tick.Lag == 1) in.Damaged("a tick stores the usual lag");
  }
  if (flags & kHasSteps) {
    tick.StepLeft = in.U8("the steering of a tick");
    tick.StepRight = in.U8("the steering of a tick");
    tick.StepUp = in.U8("the steering of a tick");
    tick.StepDown = in.U8("the steering of a tick");
    if ((tick.StepLeft | tick.StepRight | tick.StepUp | tick.StepDown) == 0)
      in.Damaged("a tick stores no steering");
  }
  tick.LeftButton = (flags & kLeft) != 0;
  tick.RightButton = (flags & kRight) != 0;
  if (flags & kHasCommands) {
    const uint8_t count = in.U8("the commands of a tick");
    if (count == 0) in.Damaged("a tick has an empty command list");
    in.Need(count, "the commands of a tick");
    tick.Commands.reserve(count);
    for (uint8_t i = 0; i < count; ++i) {
      const uint8_t command = in.U8("the commands of a tick");
      if (command >= kReplayCommandCount) in.Damaged("a tick has an unknown command");
      tick.Commands.push_back(command);
    }
  }
  return run;
}

void AppendRun(std::vector<uint8_t>& out, const TReplayRun& run) {
  const TReplayTick& tick = run.Tick;
  uint8_t flags = 0;
  if (tick.Input != 0) flags |= kHasInput;
  if (tick.Lag != 1) flags |= kHasLag;
  if (tick.StepLeft | tick.StepRight | tick.StepUp | tick.StepDown) flags |= kHasSteps;
  if (tick.LeftButton) flags |= kLeft;
  if (tick.RightButton) flags |= kRight;
  if (!tick.Commands.empty()) flags |= kHasCommands;
  AppendU16(out, run.Repeat);
  AppendU8(out, flags);
  if (flags & kHasInput) {
    AppendU32(out, static_cast<uint32_t>(tick.Input));
    AppendU8(out, static_cast<uint8_t>(tick.Input >> 32));
  }
  if (flags & kHasLag) AppendU8(out, tick.Lag);
  if (flags & kHasSteps) {
    AppendU8(out, tick.StepLeft);
    AppendU8(out, tick.StepRight);
    AppendU8(out, tick.StepUp);
    AppendU8(out, tick.StepDown);
  }
  if (flags & kHasCommands) {
    AppendU8(out, static_cast<uint8_t>(tick.Commands.size()));
    for (uint8_t command : tick.Commands) AppendU8(out, command);
  }
}

TReplayState CurrentState(uint32_t tick, uint64_t frames) {
  return {.Tick = tick,
          .Seed = RandSeedGet(),
          .Score = Game.Score,
          .Level = Game.Level,
          .Lives = Game.Lives,
          .Frames = frames};
}

constexpr uint64_t kHashMultiplier = 0x9E3779B97F4A7C15ull;

// The finaliser of SplitMix64: a bijection that spreads every bit over the word.
uint64_t Mix(uint64_t x) {
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBull;
  return x ^ (x >> 31);
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

EReplayError::EReplayError(const char* format, ...) : std::runtime_error("") {
  va_list args;
  va_start(args, format);
  static_cast<std::runtime_error&>(*this) = std::runtime_error(FormatTextV(format, args));
  va_end(args);
}

uint32_t TReplay::TickCount() const {
  uint32_t ticks = 0;
  for (const TReplayRun& run : Runs) ticks += run.Repeat;
  return ticks;
}

std::vector<uint8_t> EncodeReplay(const TReplay& replay) {
  std::vector<uint8_t> out(kMagic.begin(), kMagic.end());
  AppendU16(out, kReplayFormatVersion);
  AppendU16(out, kReplayRulesVersion);
  const TReplayStart& s = replay.Start;
  AppendU32(out, s.Seed);
  AppendU16(out, s.EnemySpawnCountdown);
  AppendU16(out, s.BonusSpawnCountdown);
  for (int32_t value : {s.WeaponTime, s.ShieldTime, s.BombTime, s.LastBonusTime, s.HeroDownCountdown})
    AppendI32(out, value);
  AppendU32(out, static_cast<uint32_t>(replay.Runs.size()));
  for (const TReplayRun& run : replay.Runs) AppendRun(out, run);
  AppendU32(out, static_cast<uint32_t>(replay.Checkpoints.size()));
  for (const TReplayState& checkpoint : replay.Checkpoints) AppendState(out, checkpoint);
  AppendState(out, replay.End);
  AppendU32(out, static_cast<uint32_t>(replay.FrameHash));
  AppendU32(out, static_cast<uint32_t>(replay.FrameHash >> 32));
  AppendU32(out, Crc32(out.data(), out.size()));
  return out;
}

TReplay DecodeReplay(const uint8_t* data, size_t size, const std::string& name) {
  if (size < kMagic.size() + 4 || !std::equal(kMagic.begin(), kMagic.end(), data))
    throw EReplayError("The file %s is not a replay.", name.c_str());
  if (size < kMagic.size() + 4 + 4 || Crc32(data, size - 4) != LoadU32(data + size - 4))
    throw EReplayError("The replay %s is damaged: its checksum does not match.", name.c_str());
  TReader in(data, size - 4, name);
  for (size_t i = 0; i < kMagic.size(); ++i) in.U8("the magic");
  const uint16_t format = in.U16("the format version");
  if (format != kReplayFormatVersion)
    throw EReplayError("The replay %s has format version %u; this game reads version %u.", name.c_str(),
                       format, kReplayFormatVersion);
  const uint16_t rules = in.U16("the rules version");
  if (rules != kReplayRulesVersion)
    throw EReplayError("The replay %s was recorded under rules version %u; this game plays version %u.",
                       name.c_str(), rules, kReplayRulesVersion);
  TReplay replay;
  in.Need(kStartSize, "the start state");
  TReplayStart& s = replay.Start;
  s.Seed = in.U32("the start state");
  s.EnemySpawnCountdown = in.U16("the start state");
  s.BonusSpawnCountdown = in.U16("the start state");
  s.WeaponTime = in.I32("the start state");
  s.ShieldTime = in.I32("the start state");
  s.BombTime = in.I32("the start state");
  s.LastBonusTime = in.I32("the start state");
  s.HeroDownCountdown = in.I32("the start state");

  const uint32_t runs = in.U32("the run count");
  if (runs > in.Left() / kMinRunSize) in.Damaged("it counts more runs of ticks than it holds");
  replay.Runs.reserve(runs);
  uint64_t ticks = 0;
  for (uint32_t i = 0; i < runs; ++i) {
    replay.Runs.push_back(ReadRun(in));
    ticks += replay.Runs.back().Repeat;
    if (ticks > kReplayMaxTicks) in.Damaged("it holds more ticks than a day of play");
  }
  const uint32_t checkpoints = in.U32("the checkpoint count");
  if (checkpoints > in.Left() / kStateSize) in.Damaged("it counts more checkpoints than it holds");
  replay.Checkpoints.reserve(checkpoints);
  for (uint32_t i = 0; i < checkpoints; ++i) {
    replay.Checkpoints.push_back(in.State("a checkpoint"));
    const uint32_t tick = replay.Checkpoints.back().Tick;
    if (tick > ticks || (i > 0 && tick <= replay.Checkpoints[i - 1].Tick))
      in.Damaged("a checkpoint is out of order");
  }
  replay.End = in.State("the end state");
  if (replay.End.Tick != ticks) in.Damaged("its tick count does not match its ticks");
  replay.FrameHash = in.U64("the frame hash");
  if (in.Left() != 0) in.Damaged("it has bytes after its end");
  return replay;
}

TReplay LoadReplay(const std::string& path) {
  std::vector<uint8_t> bytes;
  std::string error;
  if (!plat::ReadFileBytes(path, bytes, error))
    throw EReplayError("The replay %s cannot be read: %s", path.c_str(), error.c_str());
  return DecodeReplay(bytes.data(), bytes.size(), path);
}

void SaveReplay(const std::string& path, const TReplay& replay) {
  const std::vector<uint8_t> bytes = EncodeReplay(replay);
  std::string error;
  if (!plat::WriteFileAtomically(path, bytes.data(), bytes.size(), error))
    throw EReplayError("The replay %s cannot be written: %s", path.c_str(), error.c_str());
}

uint32_t ReplayChecksum(const uint8_t* data, size_t size) { return Crc32(data, size); }

// Four lanes of two pixels each, so that the multiplications do not wait on one another. Each step of a
// lane is a bijection of the lane, so a change in one pixel reaches the result. Pixels are read two at a
// time as they lie in memory, which is the order of the file's little-endian words.
uint64_t FrameHash(const TDirectDrawSurface& surface) {
  static_assert(std::endian::native == std::endian::little,
                "frame hashes are defined on little-endian words");
  const uint32_t* bits = surface.Bits();
  if (!bits) return Mix(0);
  const size_t count = static_cast<size_t>(surface.Pitch()) * static_cast<size_t>(surface.Height());
  constexpr uint64_t kColours = 0x00FFFFFF00FFFFFFull;
  uint64_t lanes[4] = {1, 2, 3, 4};
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    uint64_t words[4];
    std::memcpy(words, bits + i, sizeof words);
    for (size_t lane = 0; lane < 4; ++lane)
      lanes[lane] = (lanes[lane] ^ (words[lane] & kColours)) * kHashMultiplier;
  }
  for (; i < count; ++i) lanes[0] = (lanes[0] ^ (bits[i] & 0xFFFFFFu)) * kHashMultiplier;
  uint64_t hash = count;
  for (uint64_t lane : lanes) hash = Mix(hash * kHashMultiplier + lane);
  return hash;
}

uint64_t ChainFrames(uint64_t frames, uint64_t frameHash) {
  return Mix(frames * kHashMultiplier + frameHash);
}

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
    TReplayTick tick{.Input = states & kInputMask,
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

bool ReplayPlaying() { return Replay.Mode == TMode::Playing || Replay.Armed; }

void ResetReplayState() { Replay = TReplayGlobals{}; }
