// The hero's plane and what flies with it or frames it: the propeller at its nose, the smoke trail of a
// damaged plane, the shield, the flame behind a rocket, the scrolling mountain strips and the status
// bar. Owned by the sprite tree; the game field makes them and keeps pointers to the hero, propeller,
// smoke and shield (Game). The hero reads the input states and mouse steps each tick, moves, fires,
// runs the only collision test that involves it and applies what it touches.
#pragma once

#include <cstdint>

#include "engine/sprite.h"

class TPictureCollectionItem;

class THeroSprite : public TImageSprite {
 public:
  explicit THeroSprite(TSprite* parent);

  // The hero is destroyed: hidden with its companions, the bonuses lost, gpHeroDown for 190 ticks, an
  // explosion where it was, one life less.
  void Die();

  void Advance(int moveCount) override;
  // Never sets done: every sprite the hero overlaps is handled in the same tick.
  void HandleCollision(TSprite* other, bool& done) override;

  int32_t FireRate = 24;     // the main weapon fires every 200 div FireRate ticks
  int32_t BombRate = 0;      // bombs every 200 div BombRate ticks; 6 once bombs are taken
  int32_t FireDelay = 0;     // ticks until the main weapon may fire again
  int32_t BombDelay = 0;     // ticks until the next bomb
  int32_t WeaponKind = 1;    // main weapon 1 to 5; 1 is the basic machine gun
  int32_t HealthPoints = 0;  // 50 at the start of every life; destroyed at 0 or below
  bool HasBombs = false;     // the bomb bonus is active: button 2 drops bombs
  int32_t TiltHold = 0;      // ticks the climb or dive picture stays after vertical input stops

 private:
  void TakeBonus(TSprite& bonus);
  void FollowX();
  void FollowY();
  void FireMainWeapon();
};

class TPropellerSprite : public TImageSprite {
 public:
  TPropellerSprite(TSprite* parent, const THeroSprite& hero);
};

// Plays its patterns backwards in a loop, one per tick.
class TSmokeSprite : public TImageSprite {
 public:
  TSmokeSprite(TSprite* parent, const THeroSprite& hero);
  void Advance(int moveCount) override;
};

class TShieldSprite : public TImageSprite {
 public:
  TShieldSprite(TSprite* parent, const THeroSprite& hero, const TPropellerSprite& propeller);
};

// The flame behind a rocket; the rocket moves it and it kills itself at the edges of the field.
class TRocketFire : public TImageSprite {
 public:
  // heroFlame: the flame of the hero's rockets, which fly right; otherwise of enemy rockets.
  TRocketFire(bool heroFlame, int32_t x, int32_t y, TSprite* parent);
  // Clears the rocket's pointer to it: a flame that reached the edge is freed while its rocket may still
  // fly for a tick.
  ~TRocketFire() override;
  void Advance(int moveCount) override;

  // The rocket's field that points here, or null; the rocket clears this when it is freed first.
  TRocketFire** Owner = nullptr;
};

// A landscape strip; two copies per layer follow each other without end.
class TMountain : public TImageSprite {
 public:
  TMountain(TPictureCollectionItem* picture, int32_t x, int32_t y, int32_t z, uint16_t factor,
            TSprite* parent);
  void Advance(int moveCount) override;
  TRect OpaqueRect() const override { return PatternOpaqueRect(); }

  uint16_t Factor;  // speed as a multiple of ScrollSpeed
};

// The status bar picture over which the game tick writes level, lives, score and bonus times.
class TStatusSprite : public TImageSprite {
 public:
  using TImageSprite::TImageSprite;
  TRect OpaqueRect() const override { return PatternOpaqueRect(); }
};

constexpr int32_t kHeroSpeed = 8;  // pixels per tick of key and stick steering
