// The replay file format: a recorded game as data (start state, runs of equal ticks, checkpoints, end)
// and its bytes, with the checksum that seals them. Plain values and functions with no state, built as a
// library of its own (pellorin_replay_format) with no display, game or platform code: the game writes
// replays with it, the server reads uploads with it, and the replay fuzzer links it alone. Reading and
// writing the files is in game/replay_file.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/error.h"

constexpr uint16_t kReplayFormatVersion = 2;
// Bumped by every change that alters play, so that old replays are refused instead of diverging.
constexpr uint16_t kReplayRulesVersion = 2;
constexpr uint32_t kReplayCheckpointSpan = 600;          // ticks between checkpoints (about ten seconds)
constexpr uint32_t kReplayMaxTicks = 24u * 3600u * 63u;  // a day of play; longer files are refused
// The input states a tick keeps: states 0..35 of the game's input set (TInputStates, one bit a state).
constexpr uint64_t kReplayInputMask = (uint64_t{1} << 36) - 1;

// The phase changes the player makes between ticks through the game's own operations.
enum TReplayCommand : uint8_t {
  rcPause = 0,
  rcResume = 1,
  rcOpenExitQuery = 2,
  rcConfirmExitQuery = 3,
  rcCancelExitQuery = 4,
  kReplayCommandCount = 5,
};

// What one tick of the game reads: the input states, the timer's lag, the mouse steering steps and
// buttons as they stand at the start of the tick, and the phase commands given since the last tick.
struct TReplayTick {
  uint64_t Input = 0;  // the game's TInputStates; states 0..35 only (kReplayInputMask)
  uint8_t Lag = 1;
  uint8_t StepLeft = 0, StepRight = 0, StepUp = 0, StepDown = 0;
  bool LeftButton = false, RightButton = false;
  std::vector<uint8_t> Commands;  // TReplayCommand values, in the order given; at most 255
  bool operator==(const TReplayTick&) const = default;
};

struct TReplayRun {
  uint16_t Repeat = 1;  // 1..65535 equal ticks
  TReplayTick Tick;
};

// What a game carries over from the one before it and from the menu: the generator's state and the
// countdowns and bonus times that a new game does not reset.
struct TReplayStart {
  uint32_t Seed = 0;
  uint16_t EnemySpawnCountdown = 0, BonusSpawnCountdown = 0;
  int32_t WeaponTime = 0, ShieldTime = 0, BombTime = 0, LastBonusTime = 0, HeroDownCountdown = 0;
};

// The game's state at the start of a tick; recorded every kReplayCheckpointSpan ticks and at the end.
struct TReplayState {
  uint32_t Tick = 0;  // ticks played before this point
  uint32_t Seed = 0;
  uint16_t Score = 0;
  uint8_t Level = 1;
  int32_t Lives = 0;
  // Every frame the game drew before this point (but those of the exit question), hashed one after the
  // other (ChainFrames): a change that shows only in the picture differs here from the tick it shows on.
  uint64_t Frames = 0;
  bool operator==(const TReplayState&) const = default;
};

struct TReplay {
  TReplayStart Start;
  std::vector<TReplayRun> Runs;
  std::vector<TReplayState> Checkpoints;  // ascending ticks
  TReplayState End;                       // End.Tick: ticks played in all
  uint64_t FrameHash = 0;                 // of the last frame's pixels
  // Sum of the runs' repeats.
  uint32_t TickCount() const;
};

// A file that is not a replay, is damaged or is of another rules version. The message names the file.
using EReplayError = EAreaError<struct TReplayArea>;

std::vector<uint8_t> EncodeReplay(const TReplay& replay);
// Checks every size and count against the bytes left before reading them, and the checksum; name is
// the file's, for the messages.
TReplay DecodeReplay(const uint8_t* data, size_t size, const std::string& name);

// CRC-32 (the zip polynomial) as the file's last four bytes hold it over the bytes before them.
uint32_t ReplayChecksum(const uint8_t* data, size_t size);
