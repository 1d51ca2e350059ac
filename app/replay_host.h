// The replay host: a recorded game played back outside the menu, in a window to watch (--replay) or
// headless to check (--verify-replay, and the tests and benchmarks through VerifyReplay), with a
// stand-in for the main window as the game's host. Called by main before the normal start.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "game/replay.h"
#include "settings/settings.h"

// The replay options of the command line, once main has read it. Statuses: 2 for a file that is missing,
// not a replay, damaged or of other rules (said on standard error).
// --replay [FILE]: plays FILE (empty: the best kept game) in a window at the game's pace, full screen
// for windowMode 0, in a window for 1, as config.dat says for -1; 0 when it ended or was ended, 1 when
// there is no display, 2 as above or when no game is kept.
int WatchReplay(const std::string& path, int windowMode);
// The loop of --replay on the installed platform, one pass at a time: the recorded ticks at the game's
// pace, P to pause and go on, Escape or the window's close to end it. A small "Replay" caption, and
// "Pause" while P holds it, go onto the presented picture only: the game's frames and their hashes stay
// as when it was recorded. Once the game has ended its last frame stays, with the final score, until a
// key is pressed or the window closed. The window opens where play left it (window.txt), which a replay
// reads but never writes.
class TReplayWatch {
 public:
  // fullScreen: the desktop's full-screen window. The game starts at once.
  TReplayWatch(const TReplay& replay, bool fullScreen);
  ~TReplayWatch();
  TReplayWatch(const TReplayWatch&) = delete;
  TReplayWatch& operator=(const TReplayWatch&) = delete;

  // The waiting events, then the next tick when it is due, then a wait for what comes next; false once
  // the watch is over.
  bool Pass();
  bool Paused() const { return IsPaused; }
  // The game has ended: its last frame stays until a key.
  bool Holding() const { return IsHolding; }
  // Where the playback ended; set once the game has ended or the watch was ended.
  const TReplayOutcome& Outcome() const { return Result; }

 private:
  class TScreen;
  class THost;
  void StopPlayback();

  std::unique_ptr<TScreen> Screen;
  std::unique_ptr<THost> Host;
  bool IsPaused = false;
  bool IsHolding = false;
  bool IsOver = false;
  bool Stopped = false;
  uint32_t Next = 0;  // when the next tick is due (platform milliseconds)
  TReplayOutcome Result;
};

// --verify-replay FILE [--every-frame]: plays it headless and prints one JSON line; 0 equal to its
// recording, 1 diverged, 2 as above or refused (CheckReplay; "The replay FILE is refused: REASON." on
// standard error, no JSON line). Without --every-frame only the last frame is drawn and the played
// states' "frames" are null.
int VerifyReplayFile(const std::string& path, TReplayCheck check);

// The check of --verify-replay on a loaded replay. Refuses, with the reason, a replay the game could not
// have recorded (ImpossibleReplayReason), then plays it (VerifyReplay) and refuses one that gives a phase
// command where the game does not offer it, or that does not end with "Game over" run to its end on its
// last tick (cut off before, or going on after). Empty when admitted; outcome then tells whether it
// plays back as recorded.
std::string CheckReplay(const TReplay& replay, TReplayCheck check, TReplayOutcome& outcome);

// Plays the replay headless as fast as it can and returns where it ended; runs of paused ticks that
// change nothing are skipped (SkipPausedReplayTicks). Needs the headless platform installed and the
// game's data in reach.
TReplayOutcome VerifyReplay(const TReplay& replay, TReplayCheck check);

// VerifyReplay in two steps, for the benchmarks that time the ticks apart from the start: the
// constructor makes the headless window, loads the game's pictures and starts the game; Play plays
// every tick (once).
class TReplayVerification {
 public:
  TReplayVerification(const TReplay& replay, TReplayCheck check);
  ~TReplayVerification();
  TReplayVerification(const TReplayVerification&) = delete;
  TReplayVerification& operator=(const TReplayVerification&) = delete;
  TReplayOutcome Play();

 private:
  class THost;
  TSettings Saved;
  std::unique_ptr<THost> Host;
  bool Stopped = false;
};
