// The music player interface: tracker songs loaded by file name and played one at a time through the
// sound device's mixer, repeating at their end. The main window attaches its sound device; tests reset
// the state with ResetMusicState. Called from the game thread only.
#pragma once

#include <cstdint>

class TDXSound;

// The songs of the menu and of a game, as the game names its files.
constexpr const char* kMenuSong = "sound\\1.xm";
constexpr const char* kGameSong = "sound\\2.xm";

// The handle of the song the program started last (the music start keeps it); 0 when none was loaded.
extern uint32_t CurrentSong;

// Loads the song (a name as the game writes it, "Sound\1.xm" included). Returns its handle, 0 when the
// file cannot be read or parsed. Songs that were played and have since been stopped or replaced are
// released at the next load; their handles then do nothing.
uint32_t SongLoadFromFile(const char* path);
// Starts the song from its beginning, silencing any other song. An unknown handle does nothing.
int32_t SongPlay(uint32_t handle);
// Stops the song if it is the one playing; 0, an unknown handle or a stopped song does nothing.
int32_t SongStop(uint32_t handle);

// The device the songs play on (null: none, songs still load but are silent).
void AttachMusicOutput(TDXSound* sound);
// The handle of the song playing now, 0 when none.
uint32_t PlayingSong();
void ResetMusicState();
