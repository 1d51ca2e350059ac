#include "game/game_state.h"

TGameGlobals Game;

bool GameTimerPhase(TGamePhase phase) { return phase >= gpPlaying; }

bool GameKeysPhase(TGamePhase phase) {
  return phase == gpPlaying || phase == gpHeroDown || phase == gpLevelIntro || phase == gpPause;
}

void ResetGameState() { Game = TGameGlobals{}; }

void ForgetGameSprites() {
  Game.Hero = nullptr;
  Game.Propeller = nullptr;
  Game.Smoke = nullptr;
  Game.Shield = nullptr;
  Game.ClosingWindow = nullptr;
  Game.WeaponIndicator = nullptr;
  Game.ShieldIndicator = nullptr;
  Game.LastBonusIndicator = nullptr;
}
