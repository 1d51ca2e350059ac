// Explosions, bonus boxes and the bonus icons of the status bar. Owned by the sprite tree; explosions
// are made by every death and every projectile that ends on a target, bonuses by the game loop, the
// three indicators with the game field.
#pragma once

#include <cstdint>
#include <string>

#include "engine/sprite.h"

// A one-shot animation: every pattern of its picture once, one per tick, drifting left; it sounds by its
// picture's name when created and kills itself after its last pattern.
class TExplosionSprite : public TImageSprite {
 public:
  // (x, y): the top-left corner.
  TExplosionSprite(int32_t x, int32_t y, int32_t drift, const std::string& pictureName, TSprite* parent);
  void Advance(int moveCount) override;

  int32_t Drift;  // pixels per tick to the left
};

// A bonus box falling diagonally across the field; the hero collects it by touching it.
class TBonusSprite : public TImageSprite {
 public:
  explicit TBonusSprite(TSprite* parent);
  void Advance(int moveCount) override;

  uint16_t Kind = 1;  // 1 weapon, 2 shield, 3 mega-bomb, 4 life, 5 points
};

enum TBonusKind : uint16_t { bkWeapon = 1, bkShield = 2, bkMegaBomb = 3, bkLife = 4, bkPoints = 5 };

// An icon in the status bar that shows an active bonus; made hidden.
class TBonusIndicatorSprite : public TImageSprite {
 public:
  TBonusIndicatorSprite(uint16_t x, const std::string& pictureName, TSprite* parent);
  // Takes another picture (the last bonus taken) at the same place.
  void ShowPicture(const std::string& pictureName);
};

// The explosion over a sprite: its top-left corner at the sprite's centre plus offset on both axes.
void ExplodeAt(const TSprite& sprite, int32_t offset, int32_t drift, const std::string& pictureName);
