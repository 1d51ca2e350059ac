// The hero as the player flies it: keys, mouse, the tilt pictures, firing, bombs and bonuses.
#include "game/hero.h"

#include <cstdint>
#include <string>

#include "engine/image_archive.h"
#include "engine/sprite.h"
#include "game/explosions_bonuses.h"
#include "game/game_services.h"
#include "game/game_state.h"
#include "game/weapons.h"
#include "tests/support/game_scenario.h"

namespace {

constexpr uint32_t kStatusGreenPixel = 0x2B9C15;

class Hero : public TGameScenario {
 protected:
  // A bonus of the kind right on the hero; the hero takes it in the next tick.
  TBonusSprite* DropBonus(uint16_t kind) {
    auto* bonus = new TBonusSprite(&Form->SpriteRoot());
    bonus->Kind = kind;
    bonus->X = Game.Hero->X;
    bonus->Y = Game.Hero->Y;
    return bonus;
  }
  void MoveMouse(int x, int y) {
    Headless.CursorX = x;
    Headless.CursorY = y;
    Headless.PushEvent({.Kind = plat::TEventKind::MouseMove, .X = x, .Y = y});
    RunTicks(1);
  }
};

TEST_F(Hero, HoldingLeftAtSixEndsAtMinusTwoAndNoFurther) {
  StartPlaying();
  Game.Hero->X = 6;
  Hold(plat::SCAN_LEFT);
  RunTicks(1);
  EXPECT_EQ(Game.Hero->X, -2);
  EXPECT_EQ(Game.Propeller->X, -2 + Game.Hero->Width);
  RunTicks(3);
  EXPECT_EQ(Game.Hero->X, -2);
}

// The stick pushed more than half way steers like the arrow keys; its first button fires.
TEST_F(Hero, TheStickSteersAndFires) {
  StartPlaying();
  const int32_t x = Game.Hero->X, y = Game.Hero->Y;
  plat::TJoystickState stick;
  stick.Present = true;
  stick.Axis[0] = 65535;
  stick.Axis[1] = 0;
  stick.Axis[2] = 32767;
  stick.Buttons = 0b1;
  Headless.SetJoystick(0, stick);
  RunTicks(2);
  EXPECT_EQ(Game.Hero->X, x + 16);
  EXPECT_EQ(Game.Hero->Y, y - 16);
  EXPECT_EQ(CountOf<THeroWeaponSprite>(), 1);
  stick.Axis[0] = 32767 + 32767 / 4;  // a quarter of the way: inside the dead zone
  stick.Axis[1] = 32767;
  stick.Buttons = 0;
  Headless.SetJoystick(0, stick);
  RunTicks(1);
  EXPECT_EQ(Game.Hero->X, x + 16);
}

// A game pad's Start button pauses and resumes like P.
TEST_F(Hero, APadsStartButtonPausesAndResumes) {
  StartPlaying();
  auto press = [&] {
    Headless.PushPadButton(plat::TPadButton::Start, true);
    Headless.PushPadButton(plat::TPadButton::Start, false);
    Headless.PushPadButton(plat::TPadButton::South, true);  // makes no event
    RunTicks(1);
  };
  press();
  EXPECT_EQ(Game.GamePhase, gpPause);
  EXPECT_EQ(Game.PhaseBeforePause, gpPlaying);
  press();
  EXPECT_EQ(Game.GamePhase, gpPlaying);
}

// Mouse steps are half the pointer's travel from the centre and stop at the bounds.
TEST_F(Hero, AMouseStepNeverPassesTheBound) {
  StartPlaying();
  THeroSprite& hero = *Game.Hero;
  hero.X = 20;
  hero.Y = 60;
  MoveMouse(0, 0);  // steps of 200 left and 150 up
  EXPECT_EQ(hero.X, 5);
  EXPECT_EQ(hero.Y, 40);
  EXPECT_EQ(Headless.CursorX, 400);
  EXPECT_EQ(Headless.CursorY, 300);
  MoveMouse(799, 599);
  EXPECT_EQ(hero.X, 5 + 199);
  EXPECT_EQ(hero.Y, 40 + 149);
  hero.X = 795 - hero.Width - 30;
  hero.Y = 520 - hero.Height - 30;
  MoveMouse(799, 599);
  EXPECT_EQ(hero.X, 795 - hero.Width);
  EXPECT_EQ(hero.Y, 520 - hero.Height);
  EXPECT_EQ(Game.Propeller->X, hero.X + hero.Width);
  EXPECT_EQ(Game.Propeller->Y, hero.Y);
}

TEST_F(Hero, TheClimbPictureHoldsThirtyTicksAfterUpIsReleased) {
  StartPlaying();
  Hold(plat::SCAN_UP);
  RunTicks(1);
  EXPECT_EQ(Game.Hero->FrameIndex, 2);
  Hold(plat::SCAN_UP, false);
  RunTicks(30);
  EXPECT_EQ(Game.Hero->FrameIndex, 2);
  RunTicks(1);
  EXPECT_EQ(Game.Hero->FrameIndex, 0);
  Hold(plat::SCAN_DOWN);
  RunTicks(1);
  EXPECT_EQ(Game.Hero->FrameIndex, 1);
}

// The basic gun fires every 8 ticks while the button is held; the shots fly right 10 pixels a tick.
TEST_F(Hero, HoldingFireSendsAShotEveryEightTicks) {
  StartPlaying();
  Game.BonusSpawnCountdown = 1000;
  Hold(plat::SCAN_SPACE);
  RunTicks(1);
  ASSERT_EQ(CountOf<THeroWeaponSprite>(), 1);
  EXPECT_TRUE(Sounding("machinegun"));
  RunTicks(7);
  EXPECT_EQ(CountOf<THeroWeaponSprite>(), 1);
  RunTicks(1);
  EXPECT_EQ(CountOf<THeroWeaponSprite>(), 2);
  Hold(plat::SCAN_SPACE, false);
  THeroWeaponSprite* shot = nullptr;
  TSprite& root = Form->SpriteRoot();
  for (int32_t i = 0; i < root.Count() && !shot; ++i) shot = dynamic_cast<THeroWeaponSprite*>(root.Items(i));
  const int32_t x = shot->X;
  RunTicks(1);
  EXPECT_EQ(shot->X, x + 10);
  EXPECT_EQ(shot->Y, Game.Hero->Y + Game.Hero->Height / 2);
}

// At level 1 the weapon bonus always gives bombs: their time shows at (630, 4), button 2 drops them, and
// when the time is up the basic weapon returns.
TEST_F(Hero, AWeaponBonusAtLevelOneGivesBombsAndShowsTheirTime) {
  StartPlaying();
  DropBonus(bkWeapon);
  RunTicks(1);
  EXPECT_TRUE(Sounding("bonus"));
  EXPECT_TRUE(Game.Hero->HasBombs);
  EXPECT_TRUE(Game.WeaponIndicator->Visible);
  EXPECT_EQ(Game.BombTime, 15000 - 16);
  EXPECT_GT(CountPixels(630, 4, 660, 24, kStatusGreenPixel), 5);  // "14"
  Hold(plat::SCAN_RSHIFT);
  RunTicks(1);
  EXPECT_EQ(CountOf<THeroWeaponSprite>(), 1);  // a bomb, straight down
  Hold(plat::SCAN_RSHIFT, false);
  Game.BombTime = 16;
  RunTicks(1);
  EXPECT_EQ(Game.BombTime, 0);
  RunTicks(1);
  EXPECT_FALSE(Game.Hero->HasBombs);
  EXPECT_FALSE(Game.WeaponIndicator->Visible);
  EXPECT_EQ(Game.Hero->WeaponKind, 1);
  EXPECT_EQ(CountPixels(630, 4, 660, 24, kStatusGreenPixel), 0);
}

struct TLifeCase {
  int32_t Lives;
  int32_t LivesAfter;
  bool IconShown;
};

TEST_F(Hero, ALifeBonusAddsALifeUpToFiveAndThenOnlySounds) {
  for (const TLifeCase& c : {TLifeCase{3, 4, true}, TLifeCase{4, 5, true}, TLifeCase{5, 5, false}}) {
    SCOPED_TRACE(c.Lives);
    StartPlaying();
    Game.Lives = c.Lives;
    DropBonus(bkLife);
    RunTicks(1);
    EXPECT_TRUE(Sounding("bonus"));
    EXPECT_EQ(Game.Lives, c.LivesAfter);
    EXPECT_EQ(Game.LastBonusIndicator->Visible, c.IconShown);
    if (c.IconShown) {
      EXPECT_EQ(Game.LastBonusIndicator->Image, GamePicture("bonuslife"));
    }
    Form.reset();
  }
}

TEST_F(Hero, PointsAndShieldBonuses) {
  StartPlaying();
  Game.Score = 65500;
  DropBonus(bkPoints);
  RunTicks(1);
  EXPECT_EQ(Game.Score, 64);  // 16 bits wrap
  EXPECT_EQ(Game.LastBonusIndicator->Image, GamePicture("bonuspoints"));
  DropBonus(bkShield);
  RunTicks(1);
  EXPECT_TRUE(Game.Shield->Visible);
  EXPECT_TRUE(Game.ShieldIndicator->Visible);
  EXPECT_EQ(Game.Shield->X, Game.Hero->X + Game.Hero->Width + Game.Propeller->Width - 9);
  // The shield lasts 15 s of play, then goes with its icon.
  Game.ShieldTime = 16;
  RunTicks(2);
  EXPECT_FALSE(Game.Shield->Visible);
  EXPECT_FALSE(Game.ShieldIndicator->Visible);
}

// Pattern by pattern, one per tick, drifting left; the sound goes by the picture's name.
TEST_F(Hero, AnExplosionPlaysEachPatternOnceAndSoundsByItsName) {
  StartPlaying();
  TSprite& root = Form->SpriteRoot();
  auto* explosion = new TExplosionSprite(300, 200, 4, "explosion1", &root);
  const int32_t patterns = explosion->FrameCount;
  ASSERT_GT(patterns, 1);
  EXPECT_TRUE(Sounding("explode"));
  for (int32_t frame = 1; frame < patterns; ++frame) {
    RunTicks(1);
    ASSERT_FALSE(explosion->IsDead());
    EXPECT_EQ(explosion->FrameIndex, frame);
    EXPECT_EQ(explosion->X, 300 - 4 * frame);
  }
  RunTicks(1);
  EXPECT_TRUE(explosion->IsDead());
  RunTicks(1);
  EXPECT_EQ(CountOf<TExplosionSprite>(), 0);

  struct TSoundCase {
    const char* Picture;
    const char* Sound;  // null: none
  };
  for (const TSoundCase& c :
       {TSoundCase{"bloodexplosion", "humandie"}, TSoundCase{"explosion3", "explode"},
        TSoundCase{"rocketexplosion", "explode"}, TSoundCase{"gunexplosion", nullptr}}) {
    SCOPED_TRACE(c.Picture);
    Form.reset();
    StartPlaying();
    new TExplosionSprite(300, 200, 0, c.Picture, &Form->SpriteRoot());
    EXPECT_EQ(Sounding("humandie"), c.Sound && std::string(c.Sound) == "humandie");
    EXPECT_EQ(Sounding("explode"), c.Sound && std::string(c.Sound) == "explode");
  }
}

TEST_F(Hero, BonusKindsComeInTheProportionFourOneThreeOneTwo) {
  StartPlaying();
  int counts[6] = {};
  for (int i = 0; i < 11000; ++i) {
    auto* bonus = new TBonusSprite(&Form->SpriteRoot());
    ++counts[bonus->Kind];
    EXPECT_GE(bonus->X, 200);
    EXPECT_LT(bonus->X, 800);
    delete bonus;
  }
  const int expected[6] = {0, 4000, 1000, 3000, 1000, 2000};
  for (int kind = 1; kind <= 5; ++kind)
    EXPECT_NEAR(counts[kind], expected[kind], expected[kind] / 10) << kind;
}

}  // namespace
