// The game's state: the phase every handler dispatches on, the level, score and lives, the countdowns,
// the bonus times, the mouse steering the hero reads, and plain pointers to the sprites the game keeps
// for its whole length. Global by design, gathered in one struct; ResetGameState puts back the values of
// a fresh start (tests). The sprites themselves belong to the sprite tree.
#pragma once

#include <cstdint>

#include "engine/input.h"

class THeroSprite;
class TPropellerSprite;
class TSmokeSprite;
class TShieldSprite;
class TBonusIndicatorSprite;
class TImageSprite;

enum TGamePhase : uint8_t {
  gpStartup = 0,     // start-up not finished; keys are ignored
  gpMenu = 1,        // the menu loop runs (DXTimer1)
  gpPlaying = 2,     // from here on the game loop runs (DXTimer2)
  gpExitQuery = 3,   // "Exit the game?" over the frozen field
  gpHeroDown = 4,    // the hero was destroyed; the field moves on for HeroDownCountdown ticks
  gpLevelIntro = 5,  // "Level n" over the frozen field for PhaseTimer
  gpGameOver = 6,
  gpPause = 7,
  gpNameEntry = 8,
  gpSendQuery = 9,
  gpSending = 10,
  gpSendFailed = 11,
};

// The highest level; the level counter is one byte and stops here instead of wrapping to 0.
constexpr uint8_t kLastLevel = 255;

struct TGameGlobals {
  TGamePhase GamePhase = gpStartup;
  TGamePhase PhaseBeforePause = gpMenu;         // restored when the pause ends
  TGamePhase PhaseBeforeExitQuery = gpStartup;  // restored when the exit question is answered "No"
  int32_t PhaseTimer = 0;                       // milliseconds of gpLevelIntro, gpGameOver, gpSendFailed

  uint8_t Level = 1;
  uint16_t LevelKills = 0;  // enemies destroyed in this level; the level ends at Level x 10
  uint16_t Score = 0;       // wraps modulo 65536
  int32_t Lives = 3;        // including the one being played
  uint16_t ScrollSpeed = 1;
  uint16_t EnemySpawnCountdown = 0;                                         // ticks; not reset between games
  uint16_t BonusSpawnCountdown = 0;                                         // ticks; not reset between games
  int32_t HeroDownCountdown = 0;                                            // ticks of gpHeroDown
  int32_t WeaponTime = 0, ShieldTime = 0, BombTime = 0, LastBonusTime = 0;  // milliseconds
  uint8_t ScoreRank = 11;  // place 1..10 the score takes in the local table; 11: none

  // The input states of the current tick, as the frame read them.
  TInputStates Input = 0;
  // The last mouse movement during play as half the pointer's travel in pixels; one of each pair is 0.
  // The hero reads and clears them.
  uint8_t MouseStepLeft = 0, MouseStepRight = 0, MouseStepUp = 0, MouseStepDown = 0;
  bool LeftButtonDown = false, RightButtonDown = false;  // held over the display

  // The sprites of the whole game; null outside a game.
  THeroSprite* Hero = nullptr;
  TPropellerSprite* Propeller = nullptr;
  TSmokeSprite* Smoke = nullptr;
  TShieldSprite* Shield = nullptr;
  TImageSprite* ClosingWindow = nullptr;  // the dialog frame behind the game's questions
  TBonusIndicatorSprite* WeaponIndicator = nullptr;
  TBonusIndicatorSprite* ShieldIndicator = nullptr;
  TBonusIndicatorSprite* LastBonusIndicator = nullptr;
};

extern TGameGlobals Game;

// Whether the game loop runs in this phase, i.e. DXTimer2 is the enabled timer.
bool GameTimerPhase(TGamePhase phase);
// The phases in which the game keys (Escape, P, the boss key) act.
bool GameKeysPhase(TGamePhase phase);

void ResetGameState();
// Forgets the sprite pointers (the tree was cleared).
void ForgetGameSprites();
