#include "game/ground_enemies.h"

#include <cmath>
#include <numbers>

#include "engine/image_archive.h"
#include "engine/rtl.h"
#include "engine/sprite.h"
#include "game/explosions_bonuses.h"
#include "game/game_services.h"
#include "game/game_state.h"
#include "game/hero.h"

namespace {

struct TGroundEnemyTraits {
  const char* Body;
  const char* Gun;
  int32_t Y;
  int32_t HitPoints;  // and ScoreValue
  uint16_t GunX, GunY, GunWidth, GunHeight;
  double GunPivotX, GunPivotY;
  int32_t MuzzleDistance;  // from the pivot along the gun, pixels
  const char* Explosion;
  int32_t ExplosionOffset;
};

// By kind - 7. The soldier's pictures are those of a soldier aiming left.
const TGroundEnemyTraits kGroundEnemies[3] = {
    {"soldier", "soldiergun", 520, 5, 12, 18, 13, 35, 3.0 / 13.0, 31.0 / 35.0, 16, "bloodexplosion", -36},
    {"tower", "towergun", 480, 10, 20, 66, 17, 44, 8.0 / 17.0, 33.0 / 44.0, 50, "explosion1", -80},
    {"nru", "nrugun", 510, 20, 56, 20, 48, 62, 1.0 / 2.0, 45.0 / 62.0, 50, "explosion1", -80},
};

const TGroundEnemyTraits& KindOf(uint8_t kind) {
  return kGroundEnemies[kind >= gkSoldier && kind <= gkLauncher ? kind - gkSoldier : 0];
}

constexpr uint16_t kFireCycleTop = 100;  // the cycle runs 100 down to 0
constexpr uint16_t kIdleFrom = 50;       // idle while the cycle is at or above this
constexpr int32_t kGroundSpeed = 3;      // pixels per tick the positions roll left
constexpr uint8_t kRightHalfBelow = 65;  // gun angles below this aim into the right half
constexpr uint8_t kLeftHalfAbove = 191;  // gun angles above this aim into the left half

// The launcher's rocket and its flame, as drawn.
constexpr int32_t kRocketWidth = 11, kRocketHeight = 62;
constexpr int32_t kFlameSize = 36;
constexpr int32_t kFlameLag = 3;  // the flame is drawn this many steps behind the rocket

}  // namespace

// ------------------------------------------------------------------------------------ TGroundEnemySprite

TGroundEnemySprite::TGroundEnemySprite(uint8_t kind, TSprite* parent) : TImageSprite(parent), Kind(kind) {
  const TGroundEnemyTraits& traits = KindOf(kind);
  Image = GamePicture(traits.Body);
  GunPicture = traits.Gun;
  GunPivotX = traits.GunPivotX;
  GunPivotY = traits.GunPivotY;
  GunX = traits.GunX;
  GunY = traits.GunY;
  GunWidth = traits.GunWidth;
  GunHeight = traits.GunHeight;
  Y = traits.Y;
  HitPoints = traits.HitPoints;
  ScoreValue = static_cast<int16_t>(HitPoints);
  SizeToPicture(*this);
  PixelCheck = false;
  X = 800;
  SetZ(7);
  Visible = true;
  FireRate = 9;
  FireDelay = static_cast<uint16_t>(Random(200 / FireRate));
}

// The cycle jumps to 100 in the first tick, so a position is idle for its first 51 ticks and then for
// 51 of every 101; FireDelay counts only in the other 50. Fires along the angle of the last drawing.
void TGroundEnemySprite::Advance(int moveCount) {
  TImageSprite::Advance(moveCount);
  if (-Width >= X) Kill();
  X -= kGroundSpeed;
  FireCycle = FireCycle == 0 ? kFireCycleTop : static_cast<uint16_t>(FireCycle - 1);
  if (FireCycle >= kIdleFrom) return;
  if (FireDelay > 0) {
    --FireDelay;
    return;
  }
  // The muzzle in 16-bit arithmetic, as the shot takes it.
  const int32_t distance = KindOf(Kind).MuzzleDistance;
  const auto x = static_cast<uint16_t>(X + GunX + Round(Sin256(GunAngle) * distance));
  const auto y = static_cast<uint16_t>(Y + GunY - Round(Cos256(GunAngle) * distance));
  new TGroundEnemyWeaponSprite(Kind, GunAngle, x, y, Engine());
  FireDelay = static_cast<uint16_t>(200 / FireRate);
}

void TGroundEnemySprite::Render() {
  const THeroSprite& hero = *Game.Hero;
  const int32_t aimX = hero.X + hero.Width / 2, aimY = hero.Y + hero.Height / 2;
  const int32_t pivotX = X + GunX, pivotY = Y + GunY;
  double theta = std::numbers::pi / 2;
  if (aimY != pivotY)
    theta = std::atan(static_cast<double>(aimX - pivotX) / static_cast<double>(pivotY - aimY));
  const auto angle = static_cast<uint8_t>(Trunc(theta * 64 / std::numbers::pi * 2) & 255);

  if (Kind == gkSoldier) {
    if (GunAngle < kRightHalfBelow && angle > kLeftHalfAbove) {
      Image = GamePicture("soldier");
      GunPicture = "soldiergun";
    } else if (GunAngle > kLeftHalfAbove && angle < kRightHalfBelow) {
      Image = GamePicture("soldier2");
      GunPicture = "soldiergun2";
    }
  }
  TImageSprite::Render();
  if (TDirectDrawSurface* surface = Engine()->Surface())
    GamePicture(GunPicture)
        ->DrawPatternRotated(*surface, pivotX, pivotY, GunWidth, GunHeight, 0, GunPivotX, GunPivotY, angle,
                             255);
  GunAngle = angle;
}

void TGroundEnemySprite::Die() {
  if (IsDead()) return;
  Game.Score = static_cast<uint16_t>(Game.Score + ScoreValue);
  ++Game.LevelKills;
  Kill();
  const TGroundEnemyTraits& traits = KindOf(Kind);
  ExplodeAt(*this, traits.ExplosionOffset, kGroundSpeed, traits.Explosion);
}

// ------------------------------------------------------------------------------ TGroundEnemyWeaponSprite

TGroundEnemyWeaponSprite::TGroundEnemyWeaponSprite(uint8_t kind, uint8_t angle, uint16_t x, uint16_t y,
                                                   TSprite* parent)
    : TImageSprite(parent), Kind(kind) {
  switch (Kind) {
    case gkLauncher:
      Image = GamePicture("nruweapon");
      PivotX = 5.0 / 11.0;
      PivotY = 29.0 / 62.0;
      Angle = angle;
      Damage = 20;
      PlayGameSound("rocket");
      break;  // no size: the rocket's bounds are one point
    default:
      Image = GamePicture(Kind == gkTower ? "towerweapon" : "machinegun");
      SizeToPicture(*this);
      Damage = Kind == gkTower ? 5 : 1;
      PlayGameSound("machinegun");
      break;
  }
  PixelCheck = false;
  DX = static_cast<int32_t>(Trunc(Sin256(angle) * kGroundWeaponSpeed));
  DY = -static_cast<int32_t>(Trunc(Cos256(angle) * kGroundWeaponSpeed));
  X = x;
  Y = y;
  SetZ(7);
  Visible = true;
}

void TGroundEnemyWeaponSprite::Advance(int moveCount) {
  TImageSprite::Advance(moveCount);
  if (Kind == gkLauncher)
    FlameFrame = FlameFrame == 10 ? 0 : static_cast<uint8_t>(FlameFrame + 1);
  else
    ++FlameFrame;
  if (-Width >= X || X > Width + 800 || Y < -Height || Y > Height + 600) Kill();
  X += DX - kGroundSpeed * Game.ScrollSpeed;
  Y += DY;
}

void TGroundEnemyWeaponSprite::Render() {
  if (Kind != gkLauncher) {
    TImageSprite::Render();
    return;
  }
  TDirectDrawSurface* surface = Engine()->Surface();
  if (!surface) return;
  GamePicture("rocketfire1")
      ->DrawPatternRotated(*surface, X - kFlameLag * DX, Y - kFlameLag * DY, kFlameSize, kFlameSize,
                           FlameFrame, 1.0, 0.4, Angle - 64, 255);
  Image->DrawPatternRotated(*surface, X, Y, kRocketWidth, kRocketHeight, 0, PivotX, PivotY, Angle, 255);
}

void TGroundEnemyWeaponSprite::Explode() {
  Kill();
  if (Kind == gkLauncher)
    ExplodeAt(*this, -64, 4, "rocketexplosion");  // no size: at (X - 64, Y - 64)
  else
    ExplodeAt(*this, -16, 4, "gunexplosion");
}
