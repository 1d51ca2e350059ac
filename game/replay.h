// Replays of whole games: the file format, the recorder that follows every game from CreateGameField to
// the end of "Game over", and the player that feeds a recorded game back tick by tick. The game calls the
// hooks below at the points where it reads its input; the main window (or the replay runner) decides
// what to do with a finished recording. State is global by design and reset by ResetReplayState (tests).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/input.h"

class TGameHost;
class TDXDraw;
class TDirectDrawSurface;

constexpr uint16_t kReplayFormatVersion = 2;
// Bumped by every change that alters play, so that old replays are refused instead of diverging.
constexpr uint16_t kReplayRulesVersion = 2;
constexpr uint32_t kReplayCheckpointSpan = 600;          // ticks between checkpoints (about ten seconds)
constexpr uint32_t kReplayMaxTicks = 24u * 3600u * 63u;  // a day of play; longer files are refused

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
  TInputStates Input = 0;  // states 0..35 only
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
class EReplayError : public std::runtime_error {
 public:
  explicit EReplayError(const char* format, ...) __attribute__((format(printf, 2, 3)));
};

std::vector<uint8_t> EncodeReplay(const TReplay& replay);
// Checks every size and count against the bytes left before reading them, and the checksum; name is
// the file's, for the messages.
TReplay DecodeReplay(const uint8_t* data, size_t size, const std::string& name);
TReplay LoadReplay(const std::string& path);
// Replaces the file at once; the folder must exist.
void SaveReplay(const std::string& path, const TReplay& replay);

// CRC-32 (the zip polynomial) as the file's last four bytes hold it over the bytes before them.
uint32_t ReplayChecksum(const uint8_t* data, size_t size);

// A 64-bit hash of the colour of every pixel (the unused top byte ignored), row by row, fast enough for
// every frame of a game. Two frames that differ in one pixel always hash differently.
uint64_t FrameHash(const TDirectDrawSurface& surface);
// The hash of the frames so far followed by one more frame's hash.
uint64_t ChainFrames(uint64_t frames, uint64_t frameHash);

// --- recording: on unless a replay is playing ---

// Hook at the start of CreateGameField: a recording starts (or, in playback, the recorded start state is
// put in place).
void ReplayGameStarts();
// Hook where the tick reads its input, once the display can draw: records the tick, or in playback puts
// the recorded tick's steering, buttons and commands in place. Returns the input states the tick uses.
TInputStates ReplayTickInput(TGameHost& host, TDXDraw& display, TInputStates states, int lagCount);
// Hook at the end of a tick that drew a frame: the frame joins the hash of the frames so far. Not a frame
// of the exit question, whose selection follows keys the replay does not keep.
void ReplayFrameDrawn(const TDXDraw& display);
// Hook in the game's phase operations (pause, resume, the exit question's three).
void ReplayNoteCommand(TReplayCommand command);
// Hook where "Game over" has run its time: the recording is finished with the frame of this tick. True
// when a replay is playing: the game then ends here, without the name entry.
bool ReplayGameOver();
// The finished recording of the last game, once; nothing when no game finished since the last call.
std::optional<TReplay> TakeFinishedRecording();

// --- playback ---

// How much of the picture a playback draws.
enum class TReplayCheck : uint8_t {
  // Every frame drawn and hashed into the states' Frames, as when the game was recorded.
  EveryFrame,
  // Every tick's frame painted onto a surface that discards drawing (every sprite's Render still runs,
  // so the state it sets is the same), but the last recorded tick's frame drawn: only FrameHash tells
  // of the picture, and states are compared without Frames (left 0).
  LastFrame,
};

struct TReplayOutcome {
  TReplayState End;  // where the game stood when it ended or the ticks ran out
  uint64_t FrameHash = 0;
  int64_t FirstDifferenceTick = -1;       // the first checkpoint that differed; -1: none did
  bool Ended = false;                     // "Game over" ran its time
  std::vector<TReplayState> Checkpoints;  // the states met at the recorded checkpoints' ticks
};

// Whether two states agree as far as a check of this kind sees them.
bool SameReplayState(const TReplayState& a, const TReplayState& b, TReplayCheck check);

// The next CreateGameField plays the replay back instead of recording.
void StartReplayPlayback(const TReplay& replay, TReplayCheck check = TReplayCheck::EveryFrame);
// Whether the playback has ticks left and the game has not ended; lag: the timer lag of the next tick.
bool ReplayHasNextTick(int& lag);
// Playback ends (the runner's Escape or the last tick); the outcome so far. Recording is on again after.
TReplayOutcome StopReplayPlayback();
bool ReplayPlaying();

void ResetReplayState();
