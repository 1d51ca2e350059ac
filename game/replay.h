// Replays of whole games: the recorder that follows every game from CreateGameField to the end of "Game
// over", and the player that feeds a recorded game back tick by tick. The game calls the hooks below at
// the points where it reads its input; the main window (or the replay host) decides what to do with a
// finished recording. State is global by design and reset by ResetReplayState (tests).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/input.h"
#include "protocol/replay_format.h"

class TGameHost;
class TDXDraw;

// --- recording: on unless a replay is playing ---

// Hook at the start of CreateGameField: a recording starts (or, in playback, the recorded start state is
// put in place).
void ReplayGameStarts();
// Puts what a new game takes over from before it in place: the generator's seed, the spawn countdowns,
// the bonus times and the hero-down countdown. A game whose result a world server is to verify starts
// from TReplayStart{.Seed = the server's seed}, as after a fresh start of the program.
void PutStartState(const TReplayStart& start);
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
  // Why the game could not have played the replay: a phase command in a phase where the game does not
  // offer it. Playback stops at that tick. Empty: none.
  std::string Refusal;
};

// Why the game could not have recorded the replay, as far as the file tells without playing it: a start
// other than a fresh program's (any field but the seed not 0), checkpoints not every kReplayCheckpointSpan
// ticks, or a tick whose lag the game's timer cannot pass or whose steering the pointer cannot give.
// Empty when none; the phase commands are held to the game's phases as it plays (Refusal).
std::string ImpossibleReplayReason(const TReplay& replay);

// Whether two states agree as far as a check of this kind sees them.
bool SameReplayState(const TReplayState& a, const TReplayState& b, TReplayCheck check);

// The next CreateGameField plays the replay back instead of recording.
void StartReplayPlayback(const TReplay& replay, TReplayCheck check = TReplayCheck::EveryFrame);
// Whether the playback has ticks left and the game has not ended (nor been refused); lag: the timer lag of
// the next tick.
bool ReplayHasNextTick(int& lag);
// Skips the paused ticks ahead at once, as many as play in the pause with nothing that changes the game
// (no command, the same input as the tick before): the game stands still but for the tick count, so
// only the count moves, the recorded checkpoints among them are compared, and with EveryFrame the
// frames' chain takes the same frame once for each (a step of arithmetic a tick, nothing drawn). Never
// the replay's last tick, whose frame is the one a check draws. For the check: a watched replay plays
// its pauses.
void SkipPausedReplayTicks();
// Playback ends (the replay host's Escape or the last tick); the outcome so far. Recording is on again after.
TReplayOutcome StopReplayPlayback();

void ResetReplayState();
