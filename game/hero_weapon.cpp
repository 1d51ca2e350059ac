#include "engine/image_archive.h"
#include "game/enemies.h"
#include "game/explosions_bonuses.h"
#include "game/game_services.h"
#include "game/ground_enemies.h"
#include "game/hero.h"
#include "game/weapons.h"

namespace {

struct THeroWeaponKind {
  const char* Picture;
  uint16_t Damage;
  const char* Sound;
};

// By kind - 1.
constexpr THeroWeaponKind kHeroWeapons[6] = {
    {"machinegun", 2, "machinegun"}, {"shell", 4, "machinegun"},    {"boomerang", 4, "machinegun"},
    {"herorocket1", 8, "rocket"},    {"herorocket2", 10, "rocket"}, {"bomb", 20, "rocket"},
};

bool IsRocket(uint8_t kind) { return kind == 4 || kind == 5; }

constexpr int32_t kBombGround = 550;  // a bomb below this line explodes on the ground

}  // namespace

THeroWeaponSprite::THeroWeaponSprite(int32_t x, int32_t y, uint8_t kind, uint16_t direction, TSprite* parent)
    : TImageSprite(parent), Direction(direction), Kind(kind) {
  const THeroWeaponKind& traits = kHeroWeapons[kind >= 1 && kind <= 6 ? kind - 1 : 0];
  Damage = traits.Damage;
  Image = GamePicture(traits.Picture);
  PlayGameSound(traits.Sound);
  SizeToPicture(*this);
  X = x;
  Y = y;
  SetZ(5);
  Visible = true;
  PixelCheck = false;
  FrameLoop = false;
  if (IsRocket(Kind)) {
    Flame = new TRocketFire(true, X - 36, Y + Height / 2 - 16, parent);
    Flame->Owner = &Flame;
  }
}

THeroWeaponSprite::~THeroWeaponSprite() {
  if (Flame) Flame->Owner = nullptr;
}

void THeroWeaponSprite::Advance(int moveCount) {
  TImageSprite::Advance(moveCount);
  switch (Direction) {
    case hdUpRight:
      Y -= kHeroWeaponSpeed;
      X += kHeroWeaponSpeed;
      break;
    case hdDownRight:
      Y += kHeroWeaponSpeed;
      X += kHeroWeaponSpeed;
      break;
    case hdRight:
      X += kHeroWeaponSpeed;
      break;
    case hdDown:
      Y += kHeroWeaponSpeed;
      break;
    default:
      break;
  }
  if (Kind == 6 && Y > kBombGround) Explode();
  if (IsRocket(Kind) && Flame) Flame->X = X - 36;
  if (X >= 800 || Y < 0 || Y >= 600) Kill();
  CheckCollisions();
}

// Enemies are the only targets; everything else the projectile overlaps is passed over. The wreck of an
// enemy killed earlier in this tick is still a target until it is freed: the projectile ends on it, and
// its Die does nothing the second time. The projectile explodes first, which ends its test: it hits one
// enemy at most.
void THeroWeaponSprite::HandleCollision(TSprite* other, bool&) {
  auto* aircraft = dynamic_cast<TFlyingEnemySprite*>(other);
  auto* kamikaze = dynamic_cast<TKamikazeSprite*>(other);
  auto* position = dynamic_cast<TGroundEnemySprite*>(other);
  auto* paratrooper = dynamic_cast<TParatrooperSprite*>(other);
  if (!aircraft && !kamikaze && !position && !paratrooper) return;
  Explode();
  if (aircraft) {
    aircraft->HitPoints -= Damage;
    if (aircraft->HitPoints <= 0) aircraft->Die();
  } else if (position) {
    position->HitPoints -= Damage;
    if (position->HitPoints <= 0) position->Die();
  } else if (kamikaze) {
    kamikaze->Die();
  } else {
    paratrooper->Die();
  }
}

void THeroWeaponSprite::Explode() {
  if (IsRocket(Kind) && Flame) Flame->Kill();
  Kill();
  if (Kind <= 3)
    ExplodeAt(*this, -16, 4, "gunexplosion");
  else
    ExplodeAt(*this, -64, 4, "rocketexplosion");
}
