// The replay host: a recorded game played back outside the menu, in a window to watch (--replay) or
// headless to check (--verify-replay, and the tests and benchmarks through VerifyReplay), with a
// stand-in for the main window as the game's host. Called by main before the normal start.
#pragma once

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
