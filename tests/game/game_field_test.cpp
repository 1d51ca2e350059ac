// Whole games on the headless platform: the field, the level intro, spawning, the levels, the status
// line, pause, the hero's death and the way back to the menu.
#include "game/game_field.h"

#include <cstdint>
#include <string>
#include <vector>

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

class Scenario : public TGameScenario {
 protected:
  int Red(int left, int top, int right, int bottom) {
    return CountPixels(left, top, right, bottom, kRedPixel);
  }
  int Green(int left, int top, int right, int bottom) {
    return CountPixels(left, top, right, bottom, kStatusGreenPixel);
  }
  TSprite& Root() { return Form->SpriteRoot(); }
  // The hero is hit for good; the tick after this one destroys it.
  void ShootDownHero() { Game.Hero->HealthPoints = 0; }
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
  Game.BonusSpawnCountdown = 0;
  RunTicks(1);
  EXPECT_EQ(CountOf<TBonusSprite>(), 1);
  EXPECT_LT(Game.BonusSpawnCountdown, 1000);
  EXPECT_GE(Game.EnemySpawnCountdown, 50);
  EXPECT_LT(Game.EnemySpawnCountdown, 50 + 160);
}

TEST_F(Scenario, TheMountainsScrollByTheirFactorAndFollowEachOtherWithoutEnd) {
  StartPlaying();
  std::vector<TMountain*> strips;
  for (int32_t i = 0; i < Root().Count(); ++i)
    if (auto* strip = dynamic_cast<TMountain*>(Root().Items(i))) strips.push_back(strip);
  ASSERT_EQ(strips.size(), 6u);
  std::vector<int32_t> before;
  for (TMountain* strip : strips) before.push_back(strip->X);
  RunTicks(1);
  for (size_t i = 0; i < strips.size(); ++i) EXPECT_EQ(strips[i]->X, before[i] - strips[i]->Factor);
  // A strip that has left the field whole goes behind its twin.
  TMountain& near = *strips[4];
  near.X = -near.Width + 2;
  RunTicks(1);
  EXPECT_EQ(near.X, -near.Width - 1 + 2 * near.Width);
}

// The kill quota is tested at the start of every tick, whatever the phase of the game loop.
TEST_F(Scenario, TenKillsAtLevelOneStartLevelTwoEvenWhilePausedOrHeroDown) {
  for (TGamePhase phase : {gpPlaying, gpPause, gpHeroDown}) {
    SCOPED_TRACE(static_cast<int>(phase));
    StartPlaying();
    new TBonusSprite(&Root());
    if (phase == gpPause) Press('P');
    if (phase == gpHeroDown) {
      ShootDownHero();
      RunTicks(1);
    }
    ASSERT_EQ(Game.GamePhase, phase);
    Game.LevelKills = 10;
    RunTicks(1);
    EXPECT_EQ(Game.Level, 2);
    EXPECT_EQ(Game.LevelKills, 0);
    EXPECT_EQ(Game.GamePhase, gpLevelIntro);
    EXPECT_EQ(Game.Hero->HealthPoints, 50);
    EXPECT_EQ(Game.Hero->X, 4);
    EXPECT_EQ(Game.Hero->Y, 200);
    EXPECT_EQ(CountOf<TBonusSprite>(), 0);
    EXPECT_GT(Red(320, 280, 460, 330), 50);  // "Level 2"
    Form.reset();
  }
}

// The level counter is one byte: past 255 it stays at 255 and the game goes on.
TEST_F(Scenario, LevelTwoHundredFiftyFivePlaysOn) {
  StartPlaying();
  Game.Level = 255;
  Game.LevelKills = 2550;
  RunTicks(1);
  EXPECT_EQ(Game.Level, 255);
  EXPECT_EQ(Game.GamePhase, gpLevelIntro);
  RunTicks(100);
  EXPECT_EQ(Game.GamePhase, gpPlaying);
  Game.EnemySpawnCountdown = 0;
  Game.BonusSpawnCountdown = 0;
  RunTicks(1);
  EXPECT_EQ(Game.EnemySpawnCountdown, 50);  // Random(160 div 255) is Random(0), which is 0
  EXPECT_LT(Game.BonusSpawnCountdown, 1000 / 255);
  EXPECT_EQ(Game.Level, 255);
}

TEST_F(Scenario, WhilePausedNothingMovesAndNoTimeRunsDown) {
  StartPlaying();
  Game.WeaponTime = 9000;
  Game.Hero->WeaponKind = 2;
  Game.ShieldTime = 9000;
  Game.Shield->Visible = true;
  auto* bonus = new TBonusSprite(&Root());
  Press('P');
  ASSERT_EQ(Game.GamePhase, gpPause);
  EXPECT_GE(Headless.CursorCount, 0);
  const int32_t heroX = Game.Hero->X, bonusX = bonus->X, bonusY = bonus->Y;
  const int32_t weaponTime = Game.WeaponTime, shieldTime = Game.ShieldTime;
  const uint16_t enemyCountdown = Game.EnemySpawnCountdown;
  Hold(plat::SCAN_RIGHT);
  RunTicks(30);
  EXPECT_EQ(Game.Hero->X, heroX);
  EXPECT_EQ(bonus->X, bonusX);
  EXPECT_EQ(bonus->Y, bonusY);
  EXPECT_EQ(Game.WeaponTime, weaponTime);
  EXPECT_EQ(Game.ShieldTime, shieldTime);
  EXPECT_EQ(Game.EnemySpawnCountdown, enemyCountdown);
  EXPECT_GT(Red(320, 280, 420, 330), 50);  // "Pause"
  Hold(plat::SCAN_RIGHT, false);
  Press('P');
  EXPECT_EQ(Game.GamePhase, gpPlaying);
  EXPECT_LT(Game.WeaponTime, weaponTime);
}

struct TGameOverCase {
  const char* Name;
  uint16_t Score;
  TGamePhase Then;
};

// The last life lost: 190 ticks that count down and the one that acts, then "Game over" for 1500 ms,
// then the name entry for a score that places and the menu for one that does not.
TEST_F(Scenario, LosingTheLastLifeShowsGameOverThenTheNameEntryOrTheMenu) {
  for (const TGameOverCase& c :
       {TGameOverCase{"places", 950, gpNameEntry}, TGameOverCase{"equals the 10th", 100, gpMenu},
        TGameOverCase{"places nowhere", 0, gpMenu}}) {
    SCOPED_TRACE(c.Name);
    StartPlaying();
    Game.Lives = 1;
    Game.Score = c.Score;
    ShootDownHero();
    RunTicks(1);
    ASSERT_EQ(Game.GamePhase, gpHeroDown);
    EXPECT_EQ(Game.Lives, 0);
    EXPECT_FALSE(Game.Hero->Visible);
    EXPECT_EQ(CountOf<TExplosionSprite>(), 1);
    int ticks = 0;
    while (Game.GamePhase == gpHeroDown && ticks < 500) {
      RunTicks(1);
      ++ticks;
    }
    EXPECT_EQ(ticks, 191);
    ASSERT_EQ(Game.GamePhase, gpGameOver);
    EXPECT_TRUE(Sounding("looser"));
    EXPECT_GT(Red(290, 280, 460, 330), 50);  // "Game over", drawn in the tick that lost the life
    RunTicks(92);
    EXPECT_EQ(Game.GamePhase, gpGameOver);
    RunTicks(2);
    EXPECT_EQ(Game.GamePhase, c.Then);
    EXPECT_GE(Headless.CursorCount, 0);
    if (c.Then == gpNameEntry) {
      EXPECT_EQ(MenuScreen, msNameEntry);
      EXPECT_EQ(SelectedItem, 1);
      EXPECT_TRUE(TextEntryActive);
      EXPECT_TRUE(Game.ClosingWindow->Visible);
      EXPECT_EQ(Game.ScoreRank, 2);
    } else {
      EXPECT_EQ(MenuScreen, msMain);
      EXPECT_TRUE(Form->DXTimer1.Enabled());
      EXPECT_FALSE(Form->DXTimer2.Enabled());
      EXPECT_EQ(Game.Hero, nullptr);
    }
    Form.reset();
  }
}

TEST_F(Scenario, EscapeThenYesEndsTheGameBackInTheMenu) {
  StartPlaying();
  Press(plat::VK_ESCAPE);
  ASSERT_EQ(Game.GamePhase, gpExitQuery);
  EXPECT_TRUE(Game.ClosingWindow->Visible);
  EXPECT_GT(CountPixels(320, 280, 400, 300, kRedPixel), 10);  // "Yes" selected
  Press(plat::VK_RETURN);
  EXPECT_EQ(Game.GamePhase, gpGameOver);
  RunTicks(100);
  EXPECT_EQ(Game.GamePhase, gpMenu);
  EXPECT_EQ(MenuScreen, msMain);
  // The menu runs again: its frames come and the selection moves.
  Press(plat::VK_DOWN);
  EXPECT_EQ(SelectedItem, 2);
}

// The same seed and the same input each tick give the same game, tick for tick and pixel for pixel. The
// spawn countdowns run on from one game to the next, so each game starts from a fresh program's state.
TEST_F(Scenario, AGameRepeatsExactlyForTheSameSeedAndInput) {
  struct TRun {
    uint16_t Score;
    int32_t HeroX, HeroY, Sprites;
    std::vector<uint32_t> Frame;
  };
  auto play = [this]() {
    ResetGameState();
    Headless.Seed = 4242;
    StartPlaying();
    for (int tick = 0; tick < 900; ++tick) {
      Hold(plat::SCAN_SPACE, tick % 40 < 30);
      Hold(plat::SCAN_UP, tick % 100 < 20);
      Hold(plat::SCAN_DOWN, tick % 100 >= 50 && tick % 100 < 70);
      Hold(plat::SCAN_RIGHT, tick % 300 < 60);
      RunTicks(1);
    }
    TRun run{Game.Score, Game.Hero->X, Game.Hero->Y, Root().Count(), Headless.LastFrame};
    Form.reset();
    return run;
  };
  const TRun first = play();
  const TRun second = play();
  EXPECT_EQ(first.Score, second.Score);
  EXPECT_EQ(first.HeroX, second.HeroX);
  EXPECT_EQ(first.HeroY, second.HeroY);
  EXPECT_EQ(first.Sprites, second.Sprites);
  EXPECT_GT(first.Sprites, 13);  // the fixed sprites and at least some of play
  EXPECT_TRUE(first.Frame == second.Frame);
}

}  // namespace
