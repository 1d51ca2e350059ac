// The game's top-level state: the phase every handler dispatches on, its countdown and the phases
// remembered across pause and the exit question. Global by design; ResetGameState puts the values of a
// fresh start back (tests).
#pragma once

#include <cstdint>

enum TGamePhase : uint8_t {
  gpStartup = 0,     // start-up not finished; keys are ignored
  gpMenu = 1,        // the menu loop runs (DXTimer1)
  gpPlaying = 2,     // from here on the game loop runs (DXTimer2)
  gpExitQuery = 3,
  gpHeroDown = 4,
  gpLevelIntro = 5,
  gpGameOver = 6,
  gpPause = 7,
  gpNameEntry = 8,
  gpSendQuery = 9,
  gpSending = 10,
  gpSendFailed = 11,
};

extern TGamePhase GamePhase;
extern TGamePhase PhaseBeforePause;      // restored when the pause ends
extern TGamePhase PhaseBeforeExitQuery;  // restored when the exit question is answered "No"
extern int32_t PhaseTimer;               // milliseconds; falls by the game timer's interval per tick
extern uint32_t CurrentSong;             // the music player's current handle; 0 when none was loaded

void ResetGameState();
