// Records the golden games of tests/golden/ on the headless platform, through the real main window:
// a scripted pilot from a fixed seed, each game ended its own way. Run by tests/golden/record.sh when a
// change alters play on purpose; PELLORIN_GOLDEN_OUT names the folder the replays are written to.
#include <cstdlib>
#include <filesystem>
#include <string>

#include "game/enemies.h"
#include "game/game_state.h"
#include "game/hero.h"
#include "game/weapons.h"
#include "tests/support/game_scenario.h"

namespace {

class GoldenGames : public TGameScenario {
 protected:
  // Fires most of the time and weaves up and down; until the game leaves play or ticks run out.
  void Pilot(int ticks) {
    for (int tick = 0; tick < ticks && GameKeysPhase(Game.GamePhase); ++tick) {
      Hold(plat::SCAN_SPACE, tick % 40 < 30);
      Hold(plat::SCAN_UP, tick % 100 < 20);
      Hold(plat::SCAN_DOWN, tick % 100 >= 50 && tick % 100 < 70);
      Hold(plat::SCAN_RIGHT, tick % 300 < 40);
      Hold(plat::SCAN_LEFT, tick % 300 >= 150 && tick % 300 < 190);
      RunTicks(1);
    }
  }
  // Reads the live sprites: fires all the time, keeps to the left edge and steers the hero's middle to the
  // middle of the nearest enemy farther ahead; an enemy or enemy projectile that comes close in the hero's
  // line is left instead. Until the game leaves play, the level reaches untilLevel or ticks run out.
  void AimingPilot(int ticks, int untilLevel) {
    for (int tick = 0; tick < ticks && GameKeysPhase(Game.GamePhase) && Game.Level < untilLevel; ++tick) {
      const THeroSprite& hero = *Game.Hero;
      const int32_t heroTop = hero.Y, heroBottom = hero.Y + hero.Height, heroRight = hero.X + hero.Width;
      int32_t aim = -1, nearest = 1 << 30;
      int32_t threatLeft = 0, threatTop = 0, threatBottom = 0;
      bool threat = false;
      TSprite& root = Form->DXSpriteEngine1.Engine;
      for (int32_t i = 0; i < root.Count(); ++i) {
        TSprite* sprite = root.Items(i);
        if (sprite->IsDead()) continue;
        const int32_t top = sprite->Y, bottom = sprite->Y + sprite->Height;
        const bool projectile = dynamic_cast<TWeaponSprite*>(sprite) != nullptr;
        const bool enemy = dynamic_cast<TFlyingEnemySprite*>(sprite) != nullptr ||
                           dynamic_cast<TKamikazeSprite*>(sprite) != nullptr ||
                           dynamic_cast<TParatrooperSprite*>(sprite) != nullptr;
        if (!projectile && !enemy) continue;
        // Whatever comes close in the hero's line is left; farther enemies are aimed at.
        const bool inLine = bottom + 8 > heroTop && top - 8 < heroBottom;
        const bool close =
            sprite->X + sprite->Width > hero.X && sprite->X < heroRight + (projectile ? 200 : 140);
        if (inLine && close && (!threat || sprite->X < threatLeft)) {
          threat = true;
          threatLeft = sprite->X;
          threatTop = top;
          threatBottom = bottom;
        }
        if (enemy && !close && sprite->X < nearest) {
          nearest = sprite->X;
          aim = (top + bottom) / 2;
        }
      }
      const int32_t middle = (heroTop + heroBottom) / 2;
      bool up = false, down = false;
      if (threat) {
        // Out of the line on the side with more room to leave it.
        const int32_t threatMiddle = (threatTop + threatBottom) / 2;
        up = threatMiddle > middle ? heroTop > 60 : heroBottom > 480;
        down = !up;
      } else if (aim >= 0) {
        up = middle > aim + 4;
        down = middle < aim - 4;
      }
      Hold(plat::SCAN_SPACE);
      Hold(plat::SCAN_LEFT);
      Hold(plat::SCAN_UP, up);
      Hold(plat::SCAN_DOWN, down);
      RunTicks(1);
    }
    Hold(plat::SCAN_SPACE, false);
    Hold(plat::SCAN_LEFT, false);
    Hold(plat::SCAN_UP, false);
    Hold(plat::SCAN_DOWN, false);
  }
  // Through "Game over", the name entry (if the score places) and the send question ("No") to the menu,
  // then keeps the game's replay under name.
  void FinishAndKeep(const std::string& name) {
    for (int i = 0; i < 300 && Game.GamePhase != gpNameEntry && Game.GamePhase != gpMenu; ++i) RunTicks(1);
    if (Game.GamePhase == gpNameEntry) {
      Headless.PushEvent({.Kind = plat::TEventKind::KeyPress, .Char = 'G'});
      Press(plat::VK_RETURN);
      Press(plat::VK_RIGHT);
      Press(plat::VK_RETURN);
    }
    ASSERT_EQ(Game.GamePhase, gpMenu);
    const char* out = std::getenv("PELLORIN_GOLDEN_OUT");
    ASSERT_NE(out, nullptr) << "PELLORIN_GOLDEN_OUT names the folder for the replays";
    std::filesystem::copy_file("replays/last.replay", std::filesystem::path(out) / name,
                               std::filesystem::copy_options::overwrite_existing);
  }
};

TEST_F(GoldenGames, LosesEveryLife) {
  Headless.Seed = 4242;
  StartPlaying();
  Pilot(20000);
  ASSERT_EQ(Game.Lives, 0);
  FinishAndKeep("loses-every-life.replay");
}

TEST_F(GoldenGames, EndsThroughTheExitQuestionWithAPlacingScore) {
  Headless.Seed = 777;
  StartPlaying();
  for (int i = 0; i < 40 && Game.Score <= 100 && GameKeysPhase(Game.GamePhase); ++i) Pilot(100);
  ASSERT_GT(Game.Score, 100);
  ASSERT_TRUE(GameKeysPhase(Game.GamePhase));
  Press(plat::VK_ESCAPE);
  Press(plat::VK_RETURN);  // "Yes"
  FinishAndKeep("exit-question.replay");
}

TEST_F(GoldenGames, ReachesLevelThree) {
  Headless.Seed = 4;  // a life is lost on the way
  StartPlaying();
  AimingPilot(40000, 3);
  ASSERT_EQ(Game.Level, 3);
  // The new level's intro, then leave through the exit question.
  for (int i = 0; i < 200 && Game.GamePhase == gpLevelIntro; ++i) RunTicks(1);
  ASSERT_TRUE(GameKeysPhase(Game.GamePhase));
  Press(plat::VK_ESCAPE);
  Press(plat::VK_RETURN);  // "Yes"
  FinishAndKeep("reaches-level-3.replay");
}

}  // namespace
