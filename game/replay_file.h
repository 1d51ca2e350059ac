// Replay files on disk: a whole file read and decoded, or encoded and put in place of the old one at
// once. Called by the replay host and the kept replays of the main window, and by the tests.
#pragma once

#include <string>

#include "protocol/replay_format.h"

// Raises EReplayError naming the file when it cannot be read or is not a replay of these rules.
TReplay LoadReplay(const std::string& path);
// Replaces the file at once; the folder must exist.
void SaveReplay(const std::string& path, const TReplay& replay);
