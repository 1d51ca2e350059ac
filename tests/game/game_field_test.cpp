// Whole games on the headless platform: the field, the level intro, spawning, the levels, the status
// line, pause, the hero's death and the way back to the menu.
#include "game/game_field.h"

#include <cstdint>
#include <string>

#include "engine/sprite.h"
#include "game/explosions_bonuses.h"
#include "game/game_state.h"
#include "game/hero.h"
#include "menu/menu_state.h"
#include "settings/settings.h"
#include "tests/support/game_scenario.h"

namespace {

constexpr uint32_t kRedPixel = 0xFF0000;
constexpr uint32_t kStatusGreenPixel = 0x2B9C15;  // RGB(43, 156, 21)

using GameField = TGameScenario;

// The pixels of colour found in the box (right and bottom excluded) of the last frame.
int CountPixels(const TGameScenario& scenario, int left, int top, int right, int bottom, uint32_t pixel,
                uint32_t (TGameScenario::*read)(int, int) const) {
  int n = 0;
  for (int y = top; y < bottom; ++y)
    for (int x = left; x < right; ++x) n += (scenario.*read)(x, y) == pixel;
  return n;
}

template <typename T>
int CountOf(TSprite& root) {
  int n = 0;
  for (int32_t i = 0; i < root.Count(); ++i)
    n += dynamic_cast<T*>(root.Items(i)) != nullptr && !root.Items(i)->IsDead();
  return n;
}

class Scenario : public TGameScenario {
 protected:
  int Red(int left, int top, int right, int bottom) {
    return CountPixels(*this, left, top, right, bottom, kRedPixel, &Scenario::Pixel);
  }
  int Green(int left, int top, int right, int bottom) {
    return CountPixels(*this, left, top, right, bottom, kStatusGreenPixel, &Scenario::Pixel);
  }
  TSprite& Root() { return Form->SpriteRoot(); }
};

TEST_F(Scenario, ANewGameShowsLevelOneFor1500MsThenPlays) {
  StartGame();
  EXPECT_EQ(Game.Level, 1);
  EXPECT_EQ(Game.Lives, 3);
  EXPECT_EQ(Game.Score, 0);
  EXPECT_FALSE(Game.Hero->Visible);
  // "Level 1" in red, size 30, with its top-left at (320, 280).
  EXPECT_GT(Red(320, 280, 460, 330), 50);
  EXPECT_EQ(Red(0, 0, 320, 600), 0);
  // 1500 ms falling by 16 a tick: the intro ends in its 94th tick, when the timer passes 0.
  ASSERT_EQ((1500 - Game.PhaseTimer) % 16, 0);
  const int ticksLeft = (Game.PhaseTimer + 15) / 16;
  EXPECT_EQ(ticksLeft + (1500 - Game.PhaseTimer) / 16, 94);
  RunTicks(ticksLeft - 1);
  EXPECT_EQ(Game.GamePhase, gpLevelIntro);
  RunTicks(1);
  EXPECT_EQ(Game.GamePhase, gpPlaying);
  EXPECT_TRUE(Game.Hero->Visible);
  EXPECT_TRUE(Game.Propeller->Visible);
  EXPECT_EQ(Game.Propeller->X, Game.Hero->X + Game.Hero->Width);
  EXPECT_LT(Headless.CursorCount, 0);
  EXPECT_EQ(Headless.CursorX, 400);
}

TEST_F(Scenario, TheStatusLineShowsLevelLivesAndScoreInGreen) {
  StartPlaying();
  Game.Score = 1234;
  RunTicks(1);
  // Level at (112, 4), lives at (250, 4), score at (385, 4); nothing green where no number stands.
  EXPECT_GT(Green(112, 4, 125, 24), 5);
  EXPECT_GT(Green(250, 4, 263, 24), 5);
  EXPECT_GT(Green(385, 4, 450, 24), 20);
  EXPECT_EQ(Green(140, 4, 240, 24), 0);
  EXPECT_EQ(Green(460, 4, 600, 24), 0);
}

TEST_F(Scenario, TheFirstTickOfPlaySpawnsABonusWhenTheCountdownIsZero) {
  StartPlaying();
  // The tick that ended the intro did not play; the next one spawns.
  Game.BonusSpawnCountdown = 0;
  RunTicks(1);
  EXPECT_EQ(CountOf<TBonusSprite>(Root()), 1);
  EXPECT_LT(Game.BonusSpawnCountdown, 1000);
  EXPECT_GE(Game.EnemySpawnCountdown, 50);
  EXPECT_LT(Game.EnemySpawnCountdown, 50 + 160);
}

}  // namespace
