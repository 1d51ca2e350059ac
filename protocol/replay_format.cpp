#include "protocol/replay_format.h"

#include <algorithm>
#include <array>

#include "common/crc32.h"
#include "common/binary_io.h"  // inline only: nothing of the engine is linked

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
    if (tick.Input == 0 || (tick.Input & ~kReplayInputMask) != 0)
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

}  // namespace

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

uint32_t ReplayChecksum(const uint8_t* data, size_t size) { return Crc32(data, size); }
