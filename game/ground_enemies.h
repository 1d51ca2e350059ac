// The ground positions: a soldier, a gun tower and a rocket launcher that roll in from the right with
// the landscape, turn their guns toward the hero every frame and fire from the muzzle, and their shots.
// Owned by the sprite tree; positions are made by CreateEnemy, shots by the positions. The hero and its
// projectiles hit the positions; only the hero meets their shots.
#pragma once

#include <cstdint>
#include <string>

#include "engine/sprite.h"

constexpr int32_t kGroundWeaponSpeed = 7;  // pixels per tick along the gun's direction

enum TGroundEnemyKind : uint8_t { gkSoldier = 7, gkTower = 8, gkLauncher = 9 };

class TGroundEnemySprite : public TImageSprite {
 public:
  // kind: TGroundEnemyKind; enters at x = 800 at the kind's height.
  TGroundEnemySprite(uint8_t kind, TSprite* parent);

  // Destroyed by the player: scored, counted in LevelKills, exploded drifting with the ground. A position
  // already killed (a second hit in the same tick) is left as it is.
  void Die();

  void Advance(int moveCount) override;
  // Draws the body, then the gun turned toward the hero's centre, and keeps that angle in GunAngle for
  // the next shot. The one-argument arctangent cannot tell a hero below the pivot from one above, so the
  // gun then points at the mirrored place above; a hero level with the pivot gives 64 (right) on either
  // side. The soldier turns round when the aim swings between the left and the right half.
  void Render() override;

  int32_t HitPoints = 0;                 // damage still needed; also what it takes from the hero when rammed
  int16_t ScoreValue = 0;                // added to Score by Die; the kind's first HitPoints
  uint16_t FireRate = 9;                 // the fire countdown restarts at 200 div FireRate = 22
  uint16_t FireDelay = 0;                // active ticks until the next shot
  uint16_t FireCycle = 0;                // 100 down to 0, round and round; idle while 50 or above
  uint16_t GunX = 0, GunY = 0;           // gun pivot from the sprite's top-left corner, pixels
  uint16_t GunWidth = 0, GunHeight = 0;  // size the gun picture is drawn at, pixels
  uint8_t GunAngle = 0;                  // 1/256 turns, 0 up, clockwise; as last drawn
  std::string GunPicture;
  double GunPivotX = 0, GunPivotY = 0;  // the pivot as fractions of GunWidth and GunHeight
  uint8_t Kind = gkSoldier;
};

// A shot of a ground position, flying straight along the gun's direction at launch and drifting with
// the ground. The launcher's rocket (kind 9) is drawn turned, with its flame three steps behind it, and
// has no size: its bounds are the single point (X, Y).
class TGroundEnemyWeaponSprite : public TImageSprite {
 public:
  // kind: that of the position that fires; angle: the gun's. x and y are 16-bit, as the muzzle was
  // computed: a muzzle left of the field arrives far to the right and the shot leaves at once.
  TGroundEnemyWeaponSprite(uint8_t kind, uint8_t angle, uint16_t x, uint16_t y, TSprite* parent);

  // The shot ends on the hero (who has taken the damage): killed, an explosion in its place.
  void Explode();

  void Advance(int moveCount) override;
  void Render() override;

  uint8_t Angle = 0;              // kind 9: flight direction in 1/256 turns; 0 for the others
  int32_t DX = 0, DY = 0;         // pixels per tick, fixed at launch
  double PivotX = 0, PivotY = 0;  // kind 9: the rocket picture's pivot as fractions of 11 x 62
  uint8_t Kind = gkSoldier;
  uint8_t FlameFrame = 0;  // kind 9: pattern of the flame, 0 to 10
  int32_t Damage = 0;      // hit points the hero loses when hit without its shield
};
