#include "game/game_state.h"

TGamePhase GamePhase = gpStartup;
TGamePhase PhaseBeforePause = gpStartup;
TGamePhase PhaseBeforeExitQuery = gpStartup;
int32_t PhaseTimer = 0;
uint32_t CurrentSong = 0;

void ResetGameState() {
  GamePhase = gpStartup;
  PhaseBeforePause = gpStartup;
  PhaseBeforeExitQuery = gpStartup;
  PhaseTimer = 0;
  CurrentSong = 0;
}
