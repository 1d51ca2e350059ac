// Records the golden games of tests/golden/ on the headless platform, through the real main window:
// pilots from a fixed seed, each game ended its own way. Run by tests/golden/record.sh when a change
// alters play on purpose; PELLORIN_GOLDEN_OUT names the folder the replays are written to.
//
// The long game is flown by a planning pilot that reads the live sprites: every tick it tries each of
// the nine ways to hold the arrow keys for the next ticks against where everything will be, and takes
// the one that costs the least health and lines the guns up best. Everything it reads follows from the
// seed and its own input, so a recording is the same every time.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "game/enemies.h"
#include "game/explosions_bonuses.h"
#include "game/game_state.h"
#include "game/ground_enemies.h"
#include "game/hero.h"
#include "game/weapons.h"
#include "settings/settings.h"
#include "tests/support/game_scenario.h"

namespace {

// What the pilot knows of one sprite: where it is, how it moves per tick, what touching it costs and
// what it is worth to hit or take.
struct TThing {
  int32_t X, Y, W, H;
  int32_t VX, VY;
  int32_t Cost = 0;   // health lost when the hero touches it (without the shield)
  int32_t Worth = 0;  // gained when the hero touches it (a bonus, a kill by ramming)
  int32_t Aim = 0;    // worth of lining the guns up with it; 0: not a target
  const TSprite* Sprite = nullptr;
};

bool Overlap(int32_t ax, int32_t ay, int32_t aw, int32_t ah, int32_t bx, int32_t by, int32_t bw, int32_t bh) {
  return ax < bx + bw && bx < ax + aw && ay < by + bh && by < ay + ah;
}

class GoldenGames : public TGameScenario {
 protected:
  void SetUp() override {
    TGameScenario::SetUp();
    Headless.KeepFrames = false;  // nothing here reads the frames; copying each costs most of the time
  }

  // Fires most of the time and weaves up and down; until the game leaves play or ticks run out. The
  // pattern goes on from where the last call left it.
  void Pilot(int ticks) {
    for (int i = 0; i < ticks && GameKeysPhase(Game.GamePhase); ++i) {
      const int tick = PilotTick++;
      Hold(plat::SCAN_SPACE, tick % 40 < 30);
      Hold(plat::SCAN_UP, tick % 100 < 20);
      Hold(plat::SCAN_DOWN, tick % 100 >= 50 && tick % 100 < 70);
      Hold(plat::SCAN_RIGHT, tick % 300 < 40);
      Hold(plat::SCAN_LEFT, tick % 300 >= 150 && tick % 300 < 190);
      RunTicks(1);
    }
  }

  int PilotTick = 0;

  // ----------------------------------------------------------------------------- the planning pilot

  // Whether the pilot rams a kind-1 aircraft on purpose: one undamaged, then one it has shot at first.
  enum TRamGoal { rgUndamaged, rgDamaged, rgDone };
  TRamGoal RamGoal = rgDone;
  bool PausedWithBonuses = false;
  bool CarelessOfGroundShots = false;  // flies into the shots of ground positions as if they were not there
  // PELLORIN_GOLDEN_PROGRESS set: the pilot says how the game goes on standard error, for tuning it.
  const bool Progress = std::getenv("PELLORIN_GOLDEN_PROGRESS") != nullptr;

  std::vector<TThing> Look() {
    std::vector<TThing> things;
    const THeroSprite& hero = *Game.Hero;
    TSprite& root = Form->DXSpriteEngine1.Engine;
    const int kamikazes = CountOf<TKamikazeSprite>();  // a mega-bomb is worth more among them
    for (int32_t i = 0; i < root.Count(); ++i) {
      TSprite* sprite = root.Items(i);
      if (sprite->IsDead()) continue;
      // Under a shield that lasts a while every enemy is worth ramming.
      const bool shielded = Game.Shield->Visible && Game.ShieldTime > 1000;
      TThing t{sprite->X, sprite->Y, sprite->Width, sprite->Height, 0, 0};
      t.Sprite = sprite;
      if (auto* shot = dynamic_cast<TWeaponSprite*>(sprite)) {
        t.VX = -kEnemyWeaponSpeed;
        t.Cost = shot->Damage;
      } else if (auto* groundShot = dynamic_cast<TGroundEnemyWeaponSprite*>(sprite)) {
        t.VX = groundShot->DX - 3;
        t.VY = groundShot->DY;
        t.Cost = CarelessOfGroundShots ? 0 : groundShot->Damage;
        if (t.W == 0) {  // the launcher's rocket is one point; keep clear of its whole picture
          t.X -= 6;
          t.Y -= 30;
          t.W = 12;
          t.H = 62;
        }
      } else if (auto* aircraft = dynamic_cast<TFlyingEnemySprite*>(sprite)) {
        t.VX = -kFlyingEnemySpeed;
        t.Cost = aircraft->HitPoints;
        t.Aim = 10 + aircraft->HitPoints / 4;
        const bool rammable = aircraft->Kind == 1 && ((RamGoal == rgUndamaged && aircraft->HitPoints == 10) ||
                                                      (RamGoal == rgDamaged && aircraft->HitPoints < 10));
        if (rammable && hero.HealthPoints > 30) t.Worth = 40;
        if (shielded) t.Worth = 15;
      } else if (dynamic_cast<TKamikazeSprite*>(sprite)) {
        t.VX = -kKamikazeSpeed;
        t.VY = hero.Y > sprite->Y ? 1 : -1;
        t.Cost = 1;
        t.Worth = 3;
        t.Aim = 12;
      } else if (dynamic_cast<TParatrooperSprite*>(sprite)) {
        t.VX = -3;
        t.VY = 2;
        t.Worth = 4;
        t.Aim = 12;
      } else if (auto* position = dynamic_cast<TGroundEnemySprite*>(sprite)) {
        t.VX = -3;
        t.Cost = position->HitPoints;
        t.Aim = position->Kind == gkSoldier ? 0 : 10;
        if (position->Kind == gkSoldier && hero.HealthPoints > 25) t.Worth = 20;
        if (shielded) t.Worth = 15;
      } else if (auto* bonus = dynamic_cast<TBonusSprite*>(sprite)) {
        t.VX = -3;
        t.VY = 2;
        t.Worth = bonus->Kind == bkMegaBomb ? 30 + 10 * kamikazes : bonus->Kind == bkShield ? 25 : 18;
      } else {
        continue;
      }
      things.push_back(t);
    }
    return things;
  }

  // The value of holding (dx, dy) for the next ticks.
  double Judge(const std::vector<TThing>& things, int dx, int dy) {
    const THeroSprite& hero = *Game.Hero;
    constexpr int kHorizon = 16;
    int32_t x = hero.X, y = hero.Y, health = hero.HealthPoints;
    const int32_t w = hero.Width, h = hero.Height;
    int32_t shieldTime = Game.Shield->Visible ? Game.ShieldTime : 0;
    std::vector<bool> met(things.size(), false);
    double value = 0;
    for (int t = 1; t <= kHorizon; ++t) {
      if (dx < 0 && x > 5) x -= kHeroSpeed;
      if (dx > 0 && x < 795 - w) x += kHeroSpeed;
      if (dy < 0 && y > 40) y -= kHeroSpeed;
      if (dy > 0 && y < 520 - h) y += kHeroSpeed;
      shieldTime -= 16;
      const double weight = 1.0 - 0.03 * t;
      // The hero moves first and meets the others where the last tick left them.
      for (size_t i = 0; i < things.size(); ++i) {
        if (met[i]) continue;
        const TThing& o = things[i];
        const int32_t ox = o.X + o.VX * (t - 1), oy = o.Y + o.VY * (t - 1);
        if (!Overlap(x - 2, y - 2, w + 4, h + 4, ox, oy, o.W, o.H)) continue;
        met[i] = true;
        const int32_t cost = shieldTime > 0 ? 0 : o.Cost;
        health -= cost;
        value += weight * (o.Worth - 3.0 * cost);
        if (health <= 0) value -= 1000;
      }
      // Lining up: the shots leave the nose at the middle of the hero and fly 10 a tick.
      const int32_t muzzle = y + h / 2 + 2;
      double best = 0;
      for (const TThing& o : things) {
        if (o.Aim == 0 || o.X + o.W < x + w) continue;
        const int32_t gap = o.X - (x + w);
        const int32_t meet = std::max(0, gap) / std::max(1, kHeroWeaponSpeed - o.VX);
        const int32_t top = o.Y + o.VY * (t + meet), bottom = top + o.H;
        if (muzzle >= top + 1 && muzzle < bottom - 1) {
          best = std::max(best, static_cast<double>(o.Aim));
        } else {
          const int32_t miss = muzzle < top ? top - muzzle : muzzle - bottom;
          best = std::max(best, o.Aim * 0.6 - miss * 0.05);
        }
      }
      value += 0.15 * weight * best;
    }
    // Keep to the left, where there is the most time to see what comes, and away from the edges.
    value -= 0.01 * x;
    return value;
  }

  // Flies until the game leaves play, the level reaches untilLevel or ticks run out.
  void PlanningPilot(int ticks, int untilLevel) {
    for (int tick = 0; tick < ticks && GameKeysPhase(Game.GamePhase) && Game.Level < untilLevel; ++tick) {
      if (Game.GamePhase != gpPlaying) {
        ReleaseKeys();
        RunTicks(1);
        continue;
      }
      const std::vector<TThing> things = Look();
      int bestX = 0, bestY = 0;
      double best = -1e18;
      for (int dy : {0, -1, 1})
        for (int dx : {-1, 0, 1}) {
          const double value = Judge(things, dx, dy);
          if (value > best + 1e-9) {
            best = value;
            bestX = dx;
            bestY = dy;
          }
        }
      Hold(plat::SCAN_LEFT, bestX < 0);
      Hold(plat::SCAN_RIGHT, bestX > 0);
      Hold(plat::SCAN_UP, bestY < 0);
      Hold(plat::SCAN_DOWN, bestY > 0);
      // A mega-bomb in reach of kamikazes is left to take them: the guns wait.
      const bool megaBombForKamikazes =
          CountOf<TKamikazeSprite>() > 0 && std::any_of(things.begin(), things.end(), [](const TThing& o) {
            const auto* bonus = dynamic_cast<const TBonusSprite*>(o.Sprite);
            return bonus && bonus->Kind == bkMegaBomb;
          });
      Hold(plat::SCAN_SPACE, Firing(things) && !megaBombForKamikazes);
      Hold(plat::SCAN_RSHIFT, Game.Hero->HasBombs);
      // Once, a pause while the shield and a weapon last: their times stand still meanwhile.
      if (!PausedWithBonuses && Game.Shield->Visible && (Game.WeaponTime > 0 || Game.BombTime > 0)) {
        PausedWithBonuses = true;
        Press('P');
        Press(plat::VK_F12);  // the boss key in a pause: the pause keeps the phase to go back to
        Headless.PushEvent({.Kind = plat::TEventKind::Activate});
        RunTicks(20);
        Press('P');
        continue;
      }
      const int32_t health = Game.Hero->HealthPoints;
      if (Progress && tick % 500 == 0)
        std::fprintf(stderr, "tick %d level %d kills %d score %d lives %d hp %d weapon %d ram %d\n", tick,
                     Game.Level, Game.LevelKills, Game.Score, Game.Lives, Game.Hero->HealthPoints,
                     Game.Hero->WeaponKind, RamGoal);
      const int kamikazesBefore = CountOf<TKamikazeSprite>();
      RunTicks(1);
      if (Progress && kamikazesBefore > 0 && Game.LastBonusTime == 2000 - 16 &&
          Game.LastBonusIndicator->Visible)
        std::fprintf(stderr, "tick %d: last bonus taken with %d kamikazes about\n", tick, kamikazesBefore);
      NoteRam(things, health);
    }
    ReleaseKeys();
  }

  // Fires, except at a kind-1 aircraft the pilot means to ram (the damaged one only once it is hit).
  bool Firing(const std::vector<TThing>& things) {
    if (RamGoal == rgDone) return true;
    const THeroSprite& hero = *Game.Hero;
    for (const TThing& o : things) {
      const auto* aircraft = dynamic_cast<const TFlyingEnemySprite*>(o.Sprite);
      if (!aircraft || aircraft->Kind != 1 || o.X < hero.X) continue;
      const bool inLine = hero.Y + hero.Height / 2 + 2 >= o.Y && hero.Y + hero.Height / 2 + 2 < o.Y + o.H;
      if (!inLine) continue;
      if (RamGoal == rgUndamaged || aircraft->HitPoints < 10) return false;
    }
    return true;
  }

  // A kind-1 aircraft that died this tick while the hero lost its hit points was rammed.
  void NoteRam(const std::vector<TThing>& before, int32_t health) {
    if (RamGoal == rgDone) return;
    TSprite& root = Form->DXSpriteEngine1.Engine;
    for (const TThing& o : before) {
      const auto* aircraft = dynamic_cast<const TFlyingEnemySprite*>(o.Sprite);
      if (!aircraft || aircraft->Kind != 1) continue;
      bool died = false;
      for (int32_t i = 0; i < root.Count(); ++i) died |= root.Items(i) == o.Sprite && o.Sprite->IsDead();
      if (!died || Game.Hero->HealthPoints >= health) continue;
      if (RamGoal == rgUndamaged && health - Game.Hero->HealthPoints == 10)
        RamGoal = rgDamaged;
      else if (RamGoal == rgDamaged && health - Game.Hero->HealthPoints < 10)
        RamGoal = rgDone;
    }
  }

  void ReleaseKeys() {
    for (int scan : {plat::SCAN_LEFT, plat::SCAN_RIGHT, plat::SCAN_UP, plat::SCAN_DOWN, plat::SCAN_SPACE,
                     plat::SCAN_RSHIFT})
      Hold(scan, false);
  }

  // The pointer moved by (dx, dy) from the centre: the hero steps half of it, within its bounds.
  void MoveMouse(int dx, int dy) {
    Headless.CursorX = 400 + dx;
    Headless.CursorY = 300 + dy;
    Headless.PushEvent({.Kind = plat::TEventKind::MouseMove, .X = 400 + dx, .Y = 300 + dy});
    RunTicks(1);
  }

  // ----------------------------------------------------------------------------------- the endings

  // Through "Game over", the name entry (if the score places) and the send question to the menu, then
  // keeps the game's replay under name. With send, "Yes" is tried first against a server that is not
  // there, and "No" given after the failure.
  void FinishAndKeep(const std::string& name, bool send = false) {
    for (int i = 0; i < 300 && Game.GamePhase != gpNameEntry && Game.GamePhase != gpMenu; ++i) RunTicks(1);
    if (Game.GamePhase == gpNameEntry) {
      Headless.PushEvent({.Kind = plat::TEventKind::KeyPress, .Char = 'G'});
      Press(plat::VK_RETURN);
      if (send) {
        ASSERT_EQ(Game.GamePhase, gpSendQuery);
        Press(plat::VK_RETURN);  // "Yes"
        for (int i = 0; i < 3000 && Game.GamePhase != gpSendQuery; ++i) RunTicks(1);
        ASSERT_EQ(Game.GamePhase, gpSendQuery);
      }
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

// The first time the hero is down: paused and resumed, and the exit question answered "No".
TEST_F(GoldenGames, LosesEveryLife) {
  Headless.Seed = 4242;
  StartPlaying();
  while (Game.GamePhase == gpPlaying) Pilot(1);
  ASSERT_EQ(Game.GamePhase, gpHeroDown);
  Press('P');
  ASSERT_EQ(Game.GamePhase, gpPause);
  RunTicks(10);
  Press('P');
  Press(plat::VK_ESCAPE);
  ASSERT_EQ(Game.GamePhase, gpExitQuery);
  Press(plat::VK_RIGHT);
  Press(plat::VK_RETURN);
  ASSERT_EQ(Game.GamePhase, gpHeroDown);
  Pilot(20000);
  // The last life may go with the level's last kill: the next level then starts with no life left, and
  // the game ends at the hero's next fall.
  ASSERT_EQ(Game.GamePhase, gpGameOver);
  ASSERT_LE(Game.Lives, 0);
  // The focus lost during "Game over" pauses it; "P" goes on. The score beats no entry of the table.
  RunTicks(10);
  Headless.PushEvent({.Kind = plat::TEventKind::Deactivate});
  RunTicks(5);
  ASSERT_EQ(Game.GamePhase, gpPause);
  Headless.PushEvent({.Kind = plat::TEventKind::Activate});
  Press('P');
  ASSERT_EQ(Game.GamePhase, gpGameOver);
  for (THighScoreEntry& entry : Settings.HighScores) entry.EntryScore = 65535;
  FinishAndKeep("loses-every-life.replay");
  EXPECT_EQ(Settings.HighScores[9].EntryScore, 65535);
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

// Level 6 and beyond: every kind of enemy, weapon and bonus, rams on purpose, the mouse, the pauses
// (the boss key, the focus lost in play and in the pause), the exit question answered "No", and at the
// end a score that takes the tenth place of the table and a send that fails.
TEST_F(GoldenGames, PlaysEveryRuleToLevelSix) {
  Headless.Seed = 2026;
  WriteFile("server.url", "http://127.0.0.1:9\n");  // nobody listens there: the send fails
  StartGame();
  Press('P');  // pause and resume in the level intro
  RunTicks(5);
  Press('P');
  for (int i = 0; i < 200 && Game.GamePhase == gpLevelIntro; ++i) RunTicks(1);
  ASSERT_EQ(Game.GamePhase, gpPlaying);
  // The mouse to each bound and back, its buttons, and an offset from the grid of key steps so that the
  // hero can fly low enough to ram soldiers and shoot launchers.
  for (int i = 0; i < 4; ++i) MoveMouse(399, 299);
  for (int i = 0; i < 4; ++i) MoveMouse(-399, -299);
  MoveMouse(16, 14);
  Headless.PushEvent({.Kind = plat::TEventKind::MouseDown, .Button = plat::TMouseButton::Left});
  Headless.PushEvent({.Kind = plat::TEventKind::MouseDown, .Button = plat::TMouseButton::Right});
  RunTicks(20);
  Headless.PushEvent({.Kind = plat::TEventKind::MouseUp, .Button = plat::TMouseButton::Left});
  Headless.PushEvent({.Kind = plat::TEventKind::MouseUp, .Button = plat::TMouseButton::Right});
  // A key held wins over the mouse on its axis.
  Hold(plat::SCAN_RIGHT);
  Hold(plat::SCAN_DOWN);
  MoveMouse(40, 40);
  ReleaseKeys();
  Hold(plat::SCAN_LEFT);
  Hold(plat::SCAN_UP);
  MoveMouse(-40, -40);
  ReleaseKeys();
  // The focus given back while playing (as when the window is clicked): play goes on.
  Headless.PushEvent({.Kind = plat::TEventKind::Activate});
  RunTicks(2);
  // A late frame: the tick after it moves the animations on by the lag.
  Headless.AdvanceClock(40);
  RunTicks(2);
  // The boss key: paused, minimised and the focus lost inside the pause; back, and resumed.
  Press(plat::VK_F12);
  ASSERT_EQ(Game.GamePhase, gpPause);
  RunTicks(30);
  Headless.PushEvent({.Kind = plat::TEventKind::Activate});
  RunTicks(5);
  Press('P');
  ASSERT_EQ(Game.GamePhase, gpPlaying);
  // The focus lost in play pauses; "P" resumes.
  Headless.PushEvent({.Kind = plat::TEventKind::Deactivate});
  RunTicks(5);
  ASSERT_EQ(Game.GamePhase, gpPause);
  Headless.PushEvent({.Kind = plat::TEventKind::Activate});
  Press('P');
  ASSERT_EQ(Game.GamePhase, gpPlaying);
  // The exit question answered "No".
  Press(plat::VK_ESCAPE);
  ASSERT_EQ(Game.GamePhase, gpExitQuery);
  Press(plat::VK_RIGHT);
  Press(plat::VK_RETURN);
  ASSERT_EQ(Game.GamePhase, gpPlaying);

  RamGoal = rgUndamaged;
  PlanningPilot(60000, 7);
  ASSERT_GE(Game.Level, 6);
  // A score that takes the tenth place: nine entries out of reach, the tenth below it.
  for (int i = 0; i < 9; ++i) Settings.HighScores[static_cast<size_t>(i)].EntryScore = 65535;
  Settings.HighScores[9].EntryScore = 0;
  if (GameKeysPhase(Game.GamePhase)) {
    Press(plat::VK_ESCAPE);
    Press(plat::VK_RETURN);  // "Yes"
  }
  FinishAndKeep("plays-every-rule.replay", true);
  EXPECT_EQ(Settings.HighScores[9].EntryScore, Game.Score);
}

// A second pilot, from another seed, that does not mind the shots of the ground positions: it takes
// every kind of them and goes down and on again in the higher levels; it leaves at level 7.
TEST_F(GoldenGames, TakesTheGroundsShotsToLevelSeven) {
  Headless.Seed = 99;
  StartPlaying();
  CarelessOfGroundShots = true;
  PlanningPilot(40000, 7);
  ASSERT_EQ(Game.Level, 7);
  for (int i = 0; i < 200 && Game.GamePhase == gpLevelIntro; ++i) RunTicks(1);
  Press(plat::VK_ESCAPE);
  Press(plat::VK_RETURN);  // "Yes"
  FinishAndKeep("takes-the-grounds-shots.replay");
}

}  // namespace
