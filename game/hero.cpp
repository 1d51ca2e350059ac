#include "game/hero.h"

#include "engine/image_archive.h"
#include "engine/rtl.h"
#include "game/enemies.h"
#include "game/explosions_bonuses.h"
#include "game/game_services.h"
#include "game/game_state.h"
#include "game/ground_enemies.h"
#include "game/weapons.h"

namespace {

constexpr int32_t kLeftBound = 5;
constexpr int32_t kTopBound = 40;
constexpr int32_t kRightEdge = 795;   // the hero's right side stays left of this
constexpr int32_t kBottomEdge = 520;  // the hero's bottom stays above this
constexpr int32_t kTiltTicks = 30;
constexpr int32_t kBonusTime = 15000;     // milliseconds of a weapon, bombs or the shield
constexpr int32_t kLastBonusTime = 2000;  // milliseconds the last-bonus icon shows
constexpr int32_t kMaxLives = 5;

bool Active(TDXInputState state) { return (Game.Input & InputBit(state)) != 0; }

void SizeToPattern(TImageSprite& sprite) {
  sprite.Width = sprite.Image->PatternWidth;
  sprite.Height = sprite.Image->PatternHeight;
}

}  // namespace

THeroSprite::THeroSprite(TSprite* parent) : TImageSprite(parent) {
  Image = GamePictures().PictureAt(9);
  FrameStart = 0;
  X = 4;
  Y = 200;
  SetZ(7);
  FireRate = 24;
  FrameLoop = false;
  FrameSpeed = 1.0;
  FrameCount = 3;
  FireDelay = 0;
  WeaponKind = 1;
  Visible = false;
  PixelCheck = false;
  SizeToPattern(*this);
}

void THeroSprite::FollowX() {
  Game.Propeller->X = X + Width;
  if (Game.Shield->Visible) Game.Shield->X = X + Width + Game.Propeller->Width - 9;
  if (Game.Smoke->Visible) Game.Smoke->X = X - 240;
}

void THeroSprite::FollowY() {
  Game.Propeller->Y = Y;
  if (Game.Shield->Visible) Game.Shield->Y = Y - 7;
  if (Game.Smoke->Visible) Game.Smoke->Y = Y + 16;
}

void THeroSprite::Advance(int moveCount) {
  if (!Visible) return;
  TImageSprite::Advance(moveCount);
  if (HealthPoints <= 0) {
    Die();
    return;
  }

  // Mouse steps are clamped to the bounds; key and stick steps of 8 may pass them by up to 7 pixels.
  if (X > kLeftBound && (Active(isLeft) || Game.MouseStepLeft > 0)) {
    if (Game.MouseStepLeft > 0) {
      X -= Game.MouseStepLeft;
      if (X <= kLeftBound) X = kLeftBound;
      Game.MouseStepLeft = 0;
    } else {
      X -= kHeroSpeed;
    }
    FollowX();
  }
  const int32_t rightLimit = kRightEdge - Width;
  if (X < rightLimit && (Active(isRight) || Game.MouseStepRight > 0)) {
    if (Game.MouseStepRight > 0) {
      X += Game.MouseStepRight;
      if (X >= rightLimit) X = rightLimit;
      Game.MouseStepRight = 0;
    } else {
      X += kHeroSpeed;
    }
    FollowX();
  }
  if (Y > kTopBound && (Active(isUp) || Game.MouseStepUp > 0)) {
    if (Game.MouseStepUp > 0) {
      Y -= Game.MouseStepUp;
      if (Y <= kTopBound) Y = kTopBound;
    } else {
      Y -= kHeroSpeed;
    }
    FollowY();
  }
  const int32_t bottomLimit = kBottomEdge - Height;
  if (Y < bottomLimit && (Active(isDown) || Game.MouseStepDown > 0)) {
    if (Game.MouseStepDown > 0) {
      Y += Game.MouseStepDown;
      if (Y >= bottomLimit) Y = bottomLimit;
    } else {
      Y += kHeroSpeed;
    }
    FollowY();
  }

  // Pattern 0 in level flight, 1 diving, 2 climbing; the tilt outlasts the input by TiltHold ticks.
  if (Active(isUp) || Game.MouseStepUp > 0) {
    FrameIndex = 2;
    TiltHold = kTiltTicks;
  } else if (Active(isDown) || Game.MouseStepDown > 0) {
    FrameIndex = 1;
    TiltHold = kTiltTicks;
  } else if (TiltHold == 0) {
    FrameIndex = 0;
  } else {
    --TiltHold;
  }
  Game.MouseStepDown = 0;
  Game.MouseStepUp = 0;

  if (FireDelay > 0) --FireDelay;
  if (BombDelay > 0) --BombDelay;
  if ((Active(isButton1) || Game.LeftButtonDown) && FireDelay == 0) FireMainWeapon();
  if ((Active(isButton2) || Game.RightButtonDown) && BombDelay == 0 && HasBombs) {
    new THeroWeaponSprite(X + Width / 2 - 20, Y + Height / 2, 6, hdDown, Engine());
    BombDelay = 200 / BombRate;
  }
  CheckCollisions();
}

void THeroSprite::FireMainWeapon() {
  const int32_t x = X + Width;
  const int32_t quarter = Y + Height / 4, middle = Y + Height / 2, threeQuarters = Y + (3 * Height) / 4;
  TSprite* root = Engine();
  switch (WeaponKind) {
    case 1:
      new THeroWeaponSprite(x, middle, 1, hdRight, root);
      break;
    case 2:
      new THeroWeaponSprite(x, quarter, 2, hdRight, root);
      new THeroWeaponSprite(x, threeQuarters, 2, hdRight, root);
      break;
    case 3:
      new THeroWeaponSprite(x, middle, 3, hdUpRight, root);
      new THeroWeaponSprite(x, middle, 3, hdDownRight, root);
      new THeroWeaponSprite(x, middle, 3, hdRight, root);
      break;
    case 4:
      new THeroWeaponSprite(x, middle, 4, hdRight, root);
      break;
    case 5:
      new THeroWeaponSprite(x, quarter, 5, hdRight, root);
      new THeroWeaponSprite(x, threeQuarters, 5, hdRight, root);
      break;
    default:
      break;
  }
  FireDelay = 200 / FireRate;
}

// The shield takes the damage; what the hero touches explodes or dies all the same. A rammed enemy
// counts and scores as if shot.
void THeroSprite::HandleCollision(TSprite* other, bool&) {
  // The hero went down earlier in this test: its wreck touches nothing more and cannot die twice. An
  // enemy killed earlier in this tick (by a mega-bomb taken in this test) is still there until it is
  // freed: ramming its wreck costs what the table says, and its Die does nothing the second time.
  if (!Visible) return;
  const bool shielded = Game.Shield->Visible;
  if (auto* shot = dynamic_cast<TWeaponSprite*>(other)) {
    if (!shielded) HealthPoints -= shot->Damage;
    shot->Explode();
  } else if (auto* groundShot = dynamic_cast<TGroundEnemyWeaponSprite*>(other)) {
    if (!shielded) HealthPoints -= groundShot->Damage;
    groundShot->Explode();
  } else if (auto* aircraft = dynamic_cast<TFlyingEnemySprite*>(other)) {
    if (!shielded) HealthPoints -= aircraft->HitPoints;
    aircraft->Die();
  } else if (auto* position = dynamic_cast<TGroundEnemySprite*>(other)) {
    if (!shielded) HealthPoints -= position->HitPoints;
    position->Die();
  } else if (auto* bonus = dynamic_cast<TBonusSprite*>(other)) {
    TakeBonus(*bonus);
  } else if (auto* kamikaze = dynamic_cast<TKamikazeSprite*>(other)) {
    if (!shielded) HealthPoints -= 1;
    kamikaze->Die();
  } else if (auto* paratrooper = dynamic_cast<TParatrooperSprite*>(other)) {
    paratrooper->Die();
  } else {
    return;  // nothing else touches the hero
  }
  if (!Game.Smoke->Visible && HealthPoints < 40) {
    Game.Smoke->Visible = true;
    Game.Smoke->X = X - 240;
    Game.Smoke->Y = Y + 16;
  }
  if (HealthPoints <= 0) Die();
}

void THeroSprite::TakeBonus(TSprite& sprite) {
  auto& bonus = static_cast<TBonusSprite&>(sprite);
  bonus.Kill();
  PlayGameSound("bonus");
  switch (bonus.Kind) {
    case bkWeapon: {
      Game.WeaponIndicator->Visible = true;
      const int32_t r = Random(Game.Level <= 4 ? Game.Level : 5);
      if (r == 0) {
        HasBombs = true;
        BombRate = 6;
        Game.BombTime = kBonusTime;
      } else if (r == 1) {
        FireRate = 12;
        WeaponKind = 2;
        Game.WeaponTime = kBonusTime;
      } else if (r == 2) {
        FireRate = 12;
        WeaponKind = 3;
        Game.WeaponTime = kBonusTime;
      } else if (r == 3) {
        FireRate = 18;
        WeaponKind = 4;
        Game.WeaponTime = kBonusTime;
      } else if (r == 4) {
        WeaponKind = 5;
        FireRate = 9;
        Game.WeaponTime = kBonusTime;
      }
      break;
    }
    case bkShield:
      Game.ShieldIndicator->Visible = true;
      Game.ShieldTime = kBonusTime;
      Game.Shield->Visible = true;
      Game.Shield->X = X + Width + Game.Propeller->Width - 9;
      Game.Shield->Y = Y - 7;
      break;
    case bkMegaBomb: {
      Game.LastBonusIndicator->ShowPicture("bonusmegabomb");
      Game.LastBonusTime = kLastBonusTime;
      // Every enemy on the field dies; their shots fly on. The explosions made meanwhile are not visited.
      TSprite& root = *Engine();
      const int32_t count = root.Count();
      for (int32_t i = 0; i < count; ++i) {
        TSprite* child = root.Items(i);
        if (auto* aircraft = dynamic_cast<TFlyingEnemySprite*>(child))
          aircraft->Die();
        else if (auto* kamikaze = dynamic_cast<TKamikazeSprite*>(child))
          kamikaze->Die();
        else if (auto* paratrooper = dynamic_cast<TParatrooperSprite*>(child))
          paratrooper->Die();
        else if (auto* position = dynamic_cast<TGroundEnemySprite*>(child))
          position->Die();
      }
      break;
    }
    case bkLife:
      if (Game.Lives < kMaxLives) {
        Game.LastBonusIndicator->ShowPicture("bonuslife");
        Game.LastBonusTime = kLastBonusTime;
        ++Game.Lives;
      }
      break;
    case bkPoints:
      Game.LastBonusIndicator->ShowPicture("bonuspoints");
      Game.LastBonusTime = kLastBonusTime;
      Game.Score = static_cast<uint16_t>(Game.Score + 100);
      break;
    default:
      break;
  }
}

void THeroSprite::Die() {
  Visible = false;
  Game.Propeller->Visible = false;
  Game.Smoke->Visible = false;
  Game.GamePhase = gpHeroDown;
  Game.HeroDownCountdown = 190;
  Game.WeaponIndicator->Visible = false;
  Game.ShieldTime = 0;
  Game.WeaponTime = 0;
  Game.BombTime = 0;
  TiltHold = 0;
  HasBombs = false;
  Game.Shield->Visible = false;
  Game.ShieldIndicator->Visible = false;
  ExplodeAt(*this, -80, 4, "explosion1");
  --Game.Lives;
}

TPropellerSprite::TPropellerSprite(TSprite* parent, const THeroSprite& hero) : TImageSprite(parent) {
  Image = GamePicture("propeller");
  X = hero.X + hero.Width;
  Y = hero.Y;
  SetZ(7);
  FrameLoop = true;
  FrameSpeed = 1.0;
  FrameCount = 3;
  PixelCheck = false;
  Visible = false;
  SizeToPattern(*this);
}

TSmokeSprite::TSmokeSprite(TSprite* parent, const THeroSprite& hero) : TImageSprite(parent) {
  Image = GamePicture("smoke");
  X = hero.X - 260;
  Y = hero.Y + 16;
  SetZ(7);
  FrameLoop = false;
  FrameCount = Image->PatternTotal();
  FrameIndex = FrameCount - 1;
  PixelCheck = false;
  Visible = false;
  SizeToPattern(*this);
}

void TSmokeSprite::Advance(int) {
  if (FrameIndex != 0)
    --FrameIndex;
  else
    FrameIndex = FrameCount - 1;
}

TShieldSprite::TShieldSprite(TSprite* parent, const THeroSprite& hero, const TPropellerSprite& propeller)
    : TImageSprite(parent) {
  Image = GamePicture("shield");
  X = hero.X + hero.Width + propeller.Width - 9;
  Y = hero.Y - 7;
  SetZ(7);
  FrameLoop = false;
  PixelCheck = false;
  Visible = false;
  SizeToPicture(*this);
}

TRocketFire::TRocketFire(bool heroFlame, int32_t x, int32_t y, TSprite* parent) : TImageSprite(parent) {
  Image = GamePicture(heroFlame ? "rocketfire1" : "rocketfire");
  X = x;
  Y = y;
  SetZ(7);
  FrameLoop = true;
  FrameSpeed = 1.0;
  FrameCount = Image->PatternTotal();
  PixelCheck = false;
  Visible = true;
  SizeToPicture(*this);
}

TRocketFire::~TRocketFire() {
  if (Owner) *Owner = nullptr;
}

void TRocketFire::Advance(int moveCount) {
  TImageSprite::Advance(moveCount);
  if (X <= 0 || X >= 799 - Width) Kill();
}

TMountain::TMountain(TPictureCollectionItem* picture, int32_t x, int32_t y, int32_t z, uint16_t factor,
                     TSprite* parent)
    : TImageSprite(parent), Factor(factor) {
  Image = picture;
  X = x;
  Y = y;
  SetZ(z);
  PixelCheck = false;
  Visible = true;
  SizeToPicture(*this);
}

void TMountain::Advance(int moveCount) {
  TImageSprite::Advance(moveCount);
  X -= Game.ScrollSpeed * Factor;
  if (X + Width < 0) X += 2 * Width;
}
