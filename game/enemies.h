// The airborne enemies: aircraft of six kinds that cross the field from the right and fire, launch
// kamikazes or drop paratroopers; the kamikazes, which home in on the hero's height; the paratroopers,
// who drift down and shoot. Owned by the sprite tree; aircraft are made by CreateEnemy, the others by
// aircraft. They start no collision test: the hero and its projectiles hit them and call Die.
#pragma once

#include <cstdint>

#include "engine/sprite.h"

constexpr int32_t kFlyingEnemySpeed = 5;  // pixels per tick, to the left
constexpr int32_t kKamikazeSpeed = 10;    // pixels per tick, to the left

class TFlyingEnemySprite : public TImageSprite {
 public:
  // kind 1 to 6; enters just beyond the right edge at a random height.
  TFlyingEnemySprite(uint16_t kind, TSprite* parent);

  // Destroyed by the player: counted in LevelKills, scored, exploded. An aircraft already killed (a
  // second hit in the same tick) is left as it is.
  void Die();

  void Advance(int moveCount) override;

  int32_t HitPoints = 0;         // damage still needed; also what it takes from the hero when rammed
  int16_t ScoreValue = 0;        // added to Score by Die; the kind's first HitPoints
  uint16_t FireRate = 1;         // the fire countdown restarts at 200 div FireRate
  uint16_t FireDelay = 0;        // ticks until the next fire opportunity
  uint16_t FireCycle = 0;        // 100 down to 0, round and round; kinds 1 to 3 fire only below 50
  uint16_t Kind = 1;             // 1 to 6
  int16_t KamikazesLeft = 0;     // kind 4: kamikazes it may still launch
  uint8_t ParatroopersLeft = 0;  // kind 6: paratroopers it may still drop

 private:
  void Attack();
};

// Sinks or climbs one pixel a tick toward the hero's height while it flies left; harms only by ramming.
class TKamikazeSprite : public TImageSprite {
 public:
  // (x, y): the top-left corner.
  TKamikazeSprite(int32_t x, int32_t y, TSprite* parent);

  // Counted, scored 1 and exploded where it is; a kamikaze already killed is left as it is.
  void Die();

  void Advance(int moveCount) override;
};

enum TParatrooperKind : int16_t { pkMachineGunner = 1, pkRocketMan = 2 };

// Drifts down and left at a fixed rate and fires at intervals; any hit destroys it.
class TParatrooperSprite : public TImageSprite {
 public:
  // kind: TParatrooperKind.
  TParatrooperSprite(int32_t x, int32_t y, int16_t kind, TSprite* parent);

  // Counted, scored and bloodily exploded; a paratrooper already killed is left as it is.
  void Die();

  void Advance(int moveCount) override;

  int16_t ScoreValue = 0;  // 2 for a machine gunner, 5 for a rocket man
  uint16_t FireRate = 1;   // 6 or 3: fires every 200 div FireRate + 1 ticks
  uint16_t FireDelay = 0;  // ticks until the next shot
  int16_t Kind = pkMachineGunner;
};
