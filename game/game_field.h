// The game field and the game loop: building the field when a game starts, one game tick per tick of
// the game timer (move, spawn, draw, status line, the texts of the phase), the level changes, clearing
// the field for a new life or level, and the score's place in the local table. Called by the main
// window: the menu's start action and DXTimer2Timer.
#pragma once

#include <cstdint>

class TGameHost;
class TDXDraw;
class TDXSpriteEngine;
class TDXInput;
class TDXTimer;
class TSprite;

// Frees the menu sprites, loads the game's pictures, builds background, dialog frame, mountains, status
// bar, hero, companions and indicators, and starts level 1 with 3 lives (gpLevelIntro).
void CreateGameField(TGameHost& host);
// One game tick; nothing at all happens while the display cannot draw. The timer gives the interval by
// which millisecond countdowns fall.
void GameFrame(TGameHost& host, TDXDraw& display, TDXSpriteEngine& sprites, TDXInput& input,
               const TDXTimer& timer, int lagCount);
// Spawns one enemy of a kind the level allows.
void CreateEnemy(TSprite& root);
// Kills every enemy, projectile, bonus, flame and explosion, and resets the hero for a new life.
void ClearGameField(TSprite& root);
// The place 1..10 that Score takes in the local table; 11 when it beats no entry.
uint8_t ComputeScoreRank();
// Whether the sprite belongs to the play that ClearGameField sweeps away.
bool IsClearedByField(const TSprite* sprite);
