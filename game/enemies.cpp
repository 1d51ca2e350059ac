#include "game/enemies.h"

#include "engine/image_archive.h"
#include "engine/rtl.h"
#include "game/explosions_bonuses.h"
#include "game/game_services.h"
#include "game/game_state.h"
#include "game/hero.h"
#include "game/weapons.h"

namespace {

struct TFlyingEnemyTraits {
  const char* Picture;
  int32_t HitPoints;  // and ScoreValue
  uint16_t FireRate;
  const char* Explosion;
  int32_t ExplosionOffset;
};

// By kind - 1.
constexpr TFlyingEnemyTraits kFlyingEnemies[6] = {
    {"enemy1", 10, 15, "explosion1", -80}, {"enemy2", 20, 15, "explosion1", -80},
    {"enemy3", 30, 15, "explosion1", -80}, {"enemy4", 40, 5, "explosion2", -100},
    {"enemy5", 50, 3, "explosion1", -80},  {"enemy6", 100, 6, "explosion3", -100},
};

constexpr uint16_t kFireCycleTop = 100;  // the cycle runs 100 down to 0
constexpr uint16_t kBurstBelow = 50;     // kinds 1 to 3 fire only while the cycle is below this
constexpr int16_t kKamikazesPerLauncher = 5;

const TFlyingEnemyTraits& KindOf(uint16_t kind) {
  return kFlyingEnemies[kind >= 1 && kind <= 6 ? kind - 1 : 0];
}

void AddScore(int32_t points) { Game.Score = static_cast<uint16_t>(Game.Score + points); }

}  // namespace

// ------------------------------------------------------------------------------------ TFlyingEnemySprite

TFlyingEnemySprite::TFlyingEnemySprite(uint16_t kind, TSprite* parent) : TImageSprite(parent) {
  X = 800;
  Y = 50 + Random(350);
  SetZ(7);
  Visible = true;
  PixelCheck = false;
  FrameLoop = true;
  FrameSpeed = 1.0;
  FrameCount = 3;
  FrameStart = 0;
  const TFlyingEnemyTraits& traits = KindOf(kind);
  Image = GamePicture(traits.Picture);
  Kind = kind;
  HitPoints = traits.HitPoints;
  FireRate = traits.FireRate;
  if (Kind == 4) KamikazesLeft = kKamikazesPerLauncher;
  if (Kind == 6) ParatroopersLeft = Game.Level;
  ScoreValue = static_cast<int16_t>(HitPoints);
  FireDelay = static_cast<uint16_t>(Random(200 / FireRate));
  Width = Image->PatternWidth;
  Height = Image->PatternHeight;
}

// A fire opportunity comes every 200 div FireRate + 1 ticks; kinds 1 to 3 use it only in the lower half
// of FireCycle, so they fire in bursts.
void TFlyingEnemySprite::Advance(int moveCount) {
  TImageSprite::Advance(moveCount);
  X -= kFlyingEnemySpeed;
  if (X < -Width) Kill();  // it still fires in this tick
  FireCycle = FireCycle == 0 ? kFireCycleTop : static_cast<uint16_t>(FireCycle - 1);
  if (FireDelay > 0) {
    --FireDelay;
    return;
  }
  Attack();
  FireDelay = static_cast<uint16_t>(200 / FireRate);
}

void TFlyingEnemySprite::Attack() {
  TSprite* root = Engine();
  const int32_t middle = Y + Height / 2;
  const bool burst = FireCycle < kBurstBelow;
  switch (Kind) {
    case 1:
      if (burst) new TWeaponSprite(X, middle, 1, false, "machinegun", root);
      break;
    case 2:
      if (burst) new TWeaponSprite(X, middle, 3, false, "shell", root);
      break;
    case 3:
      if (!burst) break;
      if (Random(2) == 1)
        new TWeaponSprite(X + 2, Y + 43, 1, false, "machinegun", root);
      else
        new TWeaponSprite(X + 66, Y + 55, 10, true, "rocket1", root);
      break;
    case 4:
      if (KamikazesLeft != 0) {
        new TKamikazeSprite(X, middle, root);
        --KamikazesLeft;
      }
      break;
    case 5:
      new TWeaponSprite(X, middle, 20, true, "rocket1", root);
      break;
    case 6:
      if (ParatroopersLeft > 0) {
        const auto kind = static_cast<int16_t>(Game.Level <= 2 ? 1 : 1 + Random(2));
        new TParatrooperSprite(X + 30, Y, kind, root);
        --ParatroopersLeft;
      }
      break;
    default:
      break;
  }
}

void TFlyingEnemySprite::Die() {
  if (IsDead()) return;
  ++Game.LevelKills;
  Kill();
  const TFlyingEnemyTraits& traits = KindOf(Kind);
  ExplodeAt(*this, traits.ExplosionOffset, 4, traits.Explosion);
  AddScore(ScoreValue);
}

// --------------------------------------------------------------------------------------- TKamikazeSprite

TKamikazeSprite::TKamikazeSprite(int32_t x, int32_t y, TSprite* parent) : TImageSprite(parent) {
  PixelCheck = false;
  Image = GamePicture("kamikaze");
  X = x;
  Y = y;
  SetZ(7);
  Visible = true;
  SizeToPicture(*this);
}

// At the hero's height it climbs, so it swings one pixel about that height.
void TKamikazeSprite::Advance(int moveCount) {
  TImageSprite::Advance(moveCount);
  if (Game.Hero->Y > Y)
    ++Y;
  else
    --Y;
  X -= kKamikazeSpeed;
  if (X < -Width) Kill();
}

void TKamikazeSprite::Die() {
  if (IsDead()) return;
  ++Game.LevelKills;
  Kill();
  ExplodeAt(*this, -80, 0, "explosion1");
  AddScore(1);
}

// ------------------------------------------------------------------------------------ TParatrooperSprite

TParatrooperSprite::TParatrooperSprite(int32_t x, int32_t y, int16_t kind, TSprite* parent)
    : TImageSprite(parent), Kind(kind) {
  X = x;
  Y = y;
  SetZ(7);
  Visible = true;
  PixelCheck = false;
  FrameLoop = false;
  const bool rocketMan = Kind == pkRocketMan;
  Image = GamePicture(rocketMan ? "paratrooperrocket" : "paratroopermachinegun");
  ScoreValue = rocketMan ? 5 : 2;
  FireRate = rocketMan ? 3 : 6;
  FireDelay = static_cast<uint16_t>(200 / FireRate);
  SizeToPicture(*this);
}

// Leaves at the left or the bottom edge; fires from where it is after the tick's drift.
void TParatrooperSprite::Advance(int moveCount) {
  TImageSprite::Advance(moveCount);
  if (-Width >= X || Y >= Height + 600) Kill();
  X -= 3;
  Y += 2;
  if (FireDelay > 0) {
    --FireDelay;
    return;
  }
  if (Kind == pkRocketMan)
    new TWeaponSprite(X, Y + 37, 5, true, "rocket2", Engine());
  else
    new TWeaponSprite(X, Y + 51, 1, false, "machinegun", Engine());
  FireDelay = static_cast<uint16_t>(200 / FireRate);
}

void TParatrooperSprite::Die() {
  if (IsDead()) return;
  ++Game.LevelKills;
  Kill();
  ExplodeAt(*this, -36, 3, "bloodexplosion");
  AddScore(ScoreValue);
}
