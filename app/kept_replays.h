// The kept replays: every game's recording written when it hands back to the menu, as last.replay in
// replays/ beside config.dat, under its score and date when it entered the local table (the ten best
// kept), and to the --record file. Called by main for --record, by the main window at the end of a
// game, and by the replay host for the best kept game.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// --record FILE: every game of this run is also written to FILE when it hands back to the menu.
void RecordGamesTo(const std::string& path);

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

void ResetReplayRunState();
