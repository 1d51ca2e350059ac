#include "game/game_state.h"

#include "engine/rtl.h"

TGameGlobals Game;

bool GameTimerPhase(TGamePhase phase) { return phase >= gpPlaying; }

bool GameKeysPhase(TGamePhase phase) {
  return phase == gpPlaying || phase == gpHeroDown || phase == gpLevelIntro || phase == gpPause;
}

void ResetGameState() { Game = TGameGlobals{}; }

void StartFromSeed(uint32_t seed) {
  const TGameGlobals fresh;
  Game.EnemySpawnCountdown = fresh.EnemySpawnCountdown;
  Game.BonusSpawnCountdown = fresh.BonusSpawnCountdown;
  Game.WeaponTime = fresh.WeaponTime;
  Game.ShieldTime = fresh.ShieldTime;
  Game.BombTime = fresh.BombTime;
  Game.LastBonusTime = fresh.LastBonusTime;
  Game.HeroDownCountdown = fresh.HeroDownCountdown;
  RandSeedSet(seed);
}

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
