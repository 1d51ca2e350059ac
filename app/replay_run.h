// Replays seen from the program: the replay options of the command line (--record, --replay,
// --verify-replay), the playback window and the headless check, and the keeping of recorded games in
// replays/ beside config.dat (last.replay always; games that enter the local table under their score and
// date, the ten best kept). Called by main before the normal start and by the main window when a game
// hands back to the menu.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "game/replay.h"

// The replay options of the command line, once main has read it. Statuses: 2 for a file that is missing,
// not a replay, damaged or of other rules (said on standard error).
// --record FILE: every game of this run is also written to FILE when it hands back to the menu.
void RecordGamesTo(const std::string& path);
// --replay [FILE]: plays FILE (empty: the best kept game) in a window at the game's pace, full screen
// for windowMode 0, in a window for 1, as config.dat says for -1; 0 when it ended or was ended, 1 when
// there is no display, 2 as above or when no game is kept.
int WatchReplay(const std::string& path, int windowMode);
// --verify-replay FILE [--every-frame]: plays it headless and prints one JSON line; 0 equal to its
// recording, 1 diverged, 2 as above. Without --every-frame only the last frame is drawn and the played
// states' "frames" are null.
int VerifyReplayFile(const std::string& path, TReplayCheck check);

// The folder of the kept replays: replays/ in the folder config.dat is resolved in.
std::string ReplayFolder();
// The kept games (not last.replay), best first: higher score first, the older of equal scores first.
std::vector<std::string> KeptReplays();
// The name a game that entered the table is kept under: "SSSSS-YYYYMMDD-HHMMSS.replay" (local time).
std::string KeptReplayName(uint16_t score, std::time_t when);

// The replay file's bytes of the game that just finished, when it ended with score; empty otherwise.
// The recording stays for KeepGameReplay.
std::string FinishedGameReplayBytes(uint16_t score);
// The game that enters the local table will be kept (the name entry was confirmed).
void NoteReplayEnteredTable();
// At the hand-back to the menu: writes the finished recording, if any, as last.replay, keeps it when it
// entered the table (removing the kept games beyond the ten best), and writes it to the --record file.
// Failures are shown in a message box naming the file; the game goes on.
void KeepGameReplay(std::time_t now);

// Plays the replay headless as fast as it can and returns where it ended. Needs the headless platform
// installed and the game's data in reach.
TReplayOutcome VerifyReplay(const TReplay& replay, TReplayCheck check);

void ResetReplayRunState();
