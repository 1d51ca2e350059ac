// The projectiles of the air war. The hero fires THeroWeaponSprites of six kinds in four directions;
// each runs its own collision test every tick and damages the first enemy it touches. Enemy aircraft
// and paratroopers fire TWeaponSprites straight left, which only the hero's test finds. Owned by the
// sprite tree; made by the hero and the enemies.
#pragma once

#include <cstdint>
#include <string>

#include "engine/sprite.h"

class TRocketFire;

constexpr int32_t kHeroWeaponSpeed = 10;   // pixels per tick
constexpr int32_t kEnemyWeaponSpeed = 10;  // pixels per tick, to the left

enum THeroWeaponDirection : uint16_t { hdUpRight = 0, hdDownRight = 1, hdRight = 2, hdDown = 3 };

class THeroWeaponSprite : public TImageSprite {
 public:
  // kind 1 to 6: machine gun, shell, boomerang, rocket, big rocket, bomb. Plays the launch sound;
  // rockets (4 and 5) get a flame behind them.
  THeroWeaponSprite(int32_t x, int32_t y, uint8_t kind, uint16_t direction, TSprite* parent);
  ~THeroWeaponSprite() override;

  // The projectile ends on a target: its flame and itself killed, an explosion in its place.
  void Explode();

  void Advance(int moveCount) override;
  void HandleCollision(TSprite* other, bool& done) override;

  uint16_t Damage = 0;     // hit points taken from the enemy it hits
  uint16_t Direction = 0;  // THeroWeaponDirection; any other value: the projectile stays where it is
  uint8_t Kind = 0;
  TRocketFire* Flame = nullptr;  // kinds 4 and 5 until the flame is freed; a sprite of the tree, not owned
};

// A bullet, shell or rocket of an enemy; a rocket sounds "rocket" and carries a flame at its tail, the
// others sound "machinegun".
class TWeaponSprite : public TImageSprite {
 public:
  TWeaponSprite(int32_t x, int32_t y, int32_t damage, bool isRocket, const std::string& pictureName,
                TSprite* parent);
  ~TWeaponSprite() override;

  // The projectile ends on the hero (who has taken the damage): flame and projectile killed, an explosion
  // in its place. Leaving the field at the left edge only kills it.
  void Explode();

  void Advance(int moveCount) override;

  bool IsRocket = false;
  TRocketFire* Flame = nullptr;  // rockets until the flame is freed; a sprite of the tree, not owned
  int32_t Damage = 0;            // hit points the hero loses when hit without its shield
};
