#include "engine/image_archive.h"
#include "game/explosions_bonuses.h"
#include "game/game_services.h"
#include "game/hero.h"
#include "game/weapons.h"

TWeaponSprite::TWeaponSprite(int32_t x, int32_t y, int32_t damage, bool isRocket,
                             const std::string& pictureName, TSprite* parent)
    : TImageSprite(parent), IsRocket(isRocket), Damage(damage) {
  PixelCheck = false;
  Image = GamePicture(pictureName);
  X = x;
  Y = y;
  SetZ(7);
  Visible = true;
  SizeToPicture(*this);
  if (IsRocket) {
    Flame = new TRocketFire(false, X + Width, Y + Height / 2 - 16, parent);
    Flame->Owner = &Flame;
    PlayGameSound("rocket");
  } else {
    PlayGameSound("machinegun");
  }
}

TWeaponSprite::~TWeaponSprite() {
  if (Flame) Flame->Owner = nullptr;
}

void TWeaponSprite::Advance(int moveCount) {
  TImageSprite::Advance(moveCount);
  X -= kEnemyWeaponSpeed;
  if (IsRocket && Flame) Flame->X = X + Width;
  if (X < -Width) Kill();
}

void TWeaponSprite::Explode() {
  if (IsRocket && Flame) Flame->Kill();
  Kill();
  if (IsRocket)
    ExplodeAt(*this, -64, 4, "rocketexplosion");
  else
    ExplodeAt(*this, -16, 4, "gunexplosion");
}
