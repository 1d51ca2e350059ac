// The enemies in whole games on the headless platform: aircraft, kamikazes, paratroopers, ground
// positions and their shots; how the hero and its projectiles hit them, the shield, the mega-bomb, the
// rendered gun, and a level played through by a scripted pilot.
#include "game/enemies.h"

#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/image_archive.h"
#include "engine/sprite.h"
#include "game/explosions_bonuses.h"
#include "game/game_field.h"
#include "game/game_services.h"
#include "game/game_state.h"
#include "game/ground_enemies.h"
#include "game/hero.h"
#include "game/weapons.h"
#include "tests/support/game_scenario.h"

namespace {

constexpr uint16_t kStayPut = 99;  // a hero projectile direction that does not move

class Enemies : public TGameScenario {
 protected:
  // A game in play with no enemy or bonus spawning by itself.
  void StartQuietPlay() {
    StartPlaying();
    Game.EnemySpawnCountdown = 60000;
    Game.BonusSpawnCountdown = 60000;
  }
  // The same with the hero hidden, so that it neither moves nor meets anything.
  void StartQuietPlayWithoutHero() {
    StartQuietPlay();
    Game.Hero->Visible = false;
  }
  // The hero, visible and still, with its top-left corner at (x, y).
  void PlaceHero(int32_t x, int32_t y) {
    Game.Hero->Visible = true;
    Game.Hero->X = x;
    Game.Hero->Y = y;
  }
  TSprite& Root() { return Form->SpriteRoot(); }

  // The children of the root of class T (or derived) that are not killed, in creation order.
  template <typename T>
  std::vector<T*> Living() {
    std::vector<T*> found;
    for (int32_t i = 0; i < Root().Count(); ++i)
      if (auto* sprite = dynamic_cast<T*>(Root().Items(i)); sprite && !sprite->IsDead())
        found.push_back(sprite);
    return found;
  }
  // All children of the root of class T, killed or not.
  template <typename T>
  std::vector<T*> All() {
    std::vector<T*> found;
    for (int32_t i = 0; i < Root().Count(); ++i)
      if (auto* sprite = dynamic_cast<T*>(Root().Items(i))) found.push_back(sprite);
    return found;
  }
  // Explosions with that picture that are not killed.
  int Explosions(const std::string& picture) {
    int n = 0;
    for (TExplosionSprite* explosion : Living<TExplosionSprite>())
      n += explosion->Image == GamePicture(picture);
    return n;
  }
};

// ------------------------------------------------------------------------------------------- aircraft

TEST_F(Enemies, AnAircraftLeavesWhenItsRightEdgeHasCrossedTheLeftEdge) {
  StartQuietPlayWithoutHero();
  // (800 + width) div 5 + 1 ticks, with the widths of the six pictures: 64, 68, 88, 96, 96, 140.
  const struct {
    uint16_t Kind;
    int Ticks;
  } cases[] = {{1, 173}, {2, 174}, {3, 178}, {4, 180}, {5, 180}, {6, 189}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Kind);
    auto* aircraft = new TFlyingEnemySprite(c.Kind, &Root());
    EXPECT_EQ(aircraft->X, 800);
    RunTicks(c.Ticks - 1);
    EXPECT_FALSE(aircraft->IsDead());
    RunTicks(1);
    EXPECT_TRUE(aircraft->IsDead());
    RunTicks(1);
  }
}

TEST_F(Enemies, KindOneFiresOnlyInTheLowerHalfOfItsCycle) {
  StartQuietPlayWithoutHero();
  // Opportunities every 14 ticks from the first. The early one meets the cycle at 100, 86, 72, 58 (idle)
  // and then 44, 30, 16, 2; the late one at 50 (idle, the last idle value) and then 36, 22, 8.
  auto* early = new TFlyingEnemySprite(1, &Root());
  early->FireDelay = 0;
  auto* late = new TFlyingEnemySprite(1, &Root());
  late->FireDelay = 50;
  RunTicks(56);
  EXPECT_TRUE(Living<TWeaponSprite>().empty());
  RunTicks(1);
  ASSERT_EQ(Living<TWeaponSprite>().size(), 1u);
  TWeaponSprite& shot = *Living<TWeaponSprite>()[0];
  EXPECT_EQ(shot.X, early->X);
  EXPECT_EQ(shot.Y, early->Y + early->Height / 2);
  RunTicks(101 - 57);
  EXPECT_EQ(Living<TWeaponSprite>().size(), 4u + 3u);
}

TEST_F(Enemies, EachKindAttacksWithItsOwnShot) {
  StartQuietPlayWithoutHero();
  const struct {
    uint16_t Kind;
    const char* Picture;
    int32_t Damage;
    bool Rocket;
  } cases[] = {{1, "machinegun", 1, false}, {2, "shell", 3, false}, {5, "rocket1", 20, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Kind);
    auto* aircraft = new TFlyingEnemySprite(c.Kind, &Root());
    aircraft->FireDelay = 0;
    aircraft->FireCycle = 40;
    RunTicks(1);
    std::vector<TWeaponSprite*> shots = Living<TWeaponSprite>();
    ASSERT_EQ(shots.size(), 1u);
    EXPECT_EQ(shots[0]->Image, GamePicture(c.Picture));
    EXPECT_EQ(shots[0]->Damage, c.Damage);
    EXPECT_EQ(shots[0]->IsRocket, c.Rocket);
    EXPECT_EQ(shots[0]->Flame != nullptr, c.Rocket);
    EXPECT_EQ(shots[0]->X, aircraft->X);
    EXPECT_EQ(shots[0]->Y, aircraft->Y + aircraft->Height / 2);
    ClearGameField(Root());  // hides the hero too
    RunTicks(1);
  }
}

TEST_F(Enemies, KindThreeFiresBulletsFromItsNoseAndRocketsFromItsBelly) {
  StartQuietPlayWithoutHero();
  auto* aircraft = new TFlyingEnemySprite(3, &Root());
  int bullets = 0, rockets = 0;
  for (int i = 0; i < 16; ++i) {
    aircraft->FireDelay = 0;
    aircraft->FireCycle = 40;
    RunTicks(1);
    for (TWeaponSprite* shot : Living<TWeaponSprite>()) {
      if (shot->X == aircraft->X + 2 && shot->Y == aircraft->Y + 43 && shot->Damage == 1 && !shot->IsRocket)
        ++bullets;
      else if (shot->X == aircraft->X + 66 && shot->Y == aircraft->Y + 55 && shot->Damage == 10 &&
               shot->IsRocket)
        ++rockets;
    }
  }
  EXPECT_EQ(bullets + rockets, 16);  // one fresh shot per tick, one or the other
  EXPECT_GT(bullets, 0);
  EXPECT_GT(rockets, 0);
}

TEST_F(Enemies, ALauncherLaunchesAtMostFiveKamikazes) {
  StartQuietPlayWithoutHero();
  auto* launcher = new TFlyingEnemySprite(4, &Root());
  launcher->FireDelay = 0;
  launcher->FireRate = 201;  // an opportunity every tick
  RunTicks(1);
  ASSERT_EQ(Living<TKamikazeSprite>().size(), 1u);
  EXPECT_EQ(Living<TKamikazeSprite>()[0]->X, launcher->X);
  EXPECT_EQ(Living<TKamikazeSprite>()[0]->Y, launcher->Y + launcher->Height / 2);
  RunTicks(9);
  EXPECT_EQ(Living<TKamikazeSprite>().size(), 5u);
  EXPECT_EQ(launcher->KamikazesLeft, 0);
}

TEST_F(Enemies, ATransportDropsOneParatrooperPerLevelMachineGunnersOnlyOnLevelsOneAndTwo) {
  StartQuietPlayWithoutHero();
  for (int level : {1, 2, 3, 7}) {
    SCOPED_TRACE(level);
    Game.Level = static_cast<uint8_t>(level);
    auto* transport = new TFlyingEnemySprite(6, &Root());
    transport->FireDelay = 0;
    transport->FireRate = 201;  // an opportunity every tick
    RunTicks(1);
    ASSERT_EQ(Living<TParatrooperSprite>().size(), 1u);
    EXPECT_EQ(Living<TParatrooperSprite>()[0]->X, transport->X + 30);
    EXPECT_EQ(Living<TParatrooperSprite>()[0]->Y, transport->Y);
    RunTicks(12);
    std::vector<TParatrooperSprite*> dropped = Living<TParatrooperSprite>();
    EXPECT_EQ(dropped.size(), static_cast<size_t>(level));
    for (TParatrooperSprite* paratrooper : dropped) {
      if (level <= 2) {
        EXPECT_EQ(paratrooper->Kind, pkMachineGunner);
      }
      EXPECT_TRUE(paratrooper->Kind == pkMachineGunner || paratrooper->Kind == pkRocketMan);
    }
    ClearGameField(Root());  // hides the hero too
    RunTicks(1);
  }
}

TEST_F(Enemies, AParatrooperDriftsAndFiresOnItsThirtyFourthOrSixtySeventhTick) {
  StartQuietPlayWithoutHero();
  const struct {
    int16_t Kind;
    int Ticks;
    const char* Picture;
    int32_t Damage, Below;
  } cases[] = {{pkMachineGunner, 34, "machinegun", 1, 51}, {pkRocketMan, 67, "rocket2", 5, 37}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Kind);
    auto* paratrooper = new TParatrooperSprite(700, 60, c.Kind, &Root());
    RunTicks(c.Ticks - 1);
    EXPECT_TRUE(Living<TWeaponSprite>().empty());
    EXPECT_EQ(paratrooper->X, 700 - 3 * (c.Ticks - 1));
    EXPECT_EQ(paratrooper->Y, 60 + 2 * (c.Ticks - 1));
    RunTicks(1);
    std::vector<TWeaponSprite*> shots = Living<TWeaponSprite>();
    ASSERT_EQ(shots.size(), 1u);
    EXPECT_EQ(shots[0]->Image, GamePicture(c.Picture));
    EXPECT_EQ(shots[0]->Damage, c.Damage);
    EXPECT_EQ(shots[0]->X, paratrooper->X);
    EXPECT_EQ(shots[0]->Y, paratrooper->Y + c.Below);
    ClearGameField(Root());  // hides the hero too
    RunTicks(1);
  }
}

TEST_F(Enemies, AKamikazeLevelWithTheHeroClimbsSoItSwingsAboutTheHerosHeight) {
  StartQuietPlayWithoutHero();
  auto* kamikaze = new TKamikazeSprite(700, Game.Hero->Y, &Root());
  const int32_t level = Game.Hero->Y;
  RunTicks(1);
  EXPECT_EQ(kamikaze->Y, level - 1);
  EXPECT_EQ(kamikaze->X, 690);
  RunTicks(1);
  EXPECT_EQ(kamikaze->Y, level);
  RunTicks(1);
  EXPECT_EQ(kamikaze->Y, level - 1);
}

// --------------------------------------------------------------------------------- the hero's shots

TEST_F(Enemies, AHeroBulletPassesOverAnEnemyShotAndHitsTheAircraftBehindIt) {
  StartQuietPlayWithoutHero();
  // After their moves in the next tick all three overlap at (410, 300): the enemy shot was made first,
  // so the bullet meets it first.
  auto* enemyShot = new TWeaponSprite(420, 300, 1, false, "machinegun", &Root());
  auto* aircraft = new TFlyingEnemySprite(1, &Root());
  aircraft->X = 410;
  aircraft->Y = 290;
  aircraft->FireDelay = 1000;
  auto* bullet = new THeroWeaponSprite(400, 300, 1, hdRight, &Root());
  RunTicks(1);
  EXPECT_TRUE(bullet->IsDead());
  EXPECT_FALSE(enemyShot->IsDead());
  EXPECT_EQ(aircraft->HitPoints, 10 - 2);
  EXPECT_EQ(Explosions("gunexplosion"), 1);
}

TEST_F(Enemies, HitsNeededByWeaponAndAircraft) {
  StartQuietPlayWithoutHero();
  const struct {
    uint8_t Weapon;
    uint16_t Aircraft;
    int Hits;
  } cases[] = {{1, 1, 5}, {4, 1, 2}, {6, 1, 1}, {6, 2, 1}, {2, 2, 5}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "weapon " << int{c.Weapon} << ", aircraft " << c.Aircraft);
    const uint16_t scoreBefore = Game.Score, killsBefore = Game.LevelKills;
    auto* aircraft = new TFlyingEnemySprite(c.Aircraft, &Root());
    aircraft->X = 400;
    aircraft->Y = 200;
    aircraft->FireDelay = 1000;
    for (int hit = 1; hit <= c.Hits; ++hit) {
      new THeroWeaponSprite(aircraft->X + 20, aircraft->Y + 10, c.Weapon, kStayPut, &Root());
      RunTicks(1);
      ASSERT_EQ(aircraft->IsDead(), hit == c.Hits) << "hit " << hit;
    }
    EXPECT_EQ(Game.LevelKills, killsBefore + 1);
    EXPECT_EQ(Game.Score, scoreBefore + 10 * c.Aircraft);
    RunTicks(1);
  }
}

TEST_F(Enemies, ABombLaunchedAt540ExplodesInItsSecondTick) {
  StartQuietPlayWithoutHero();
  auto* bomb = new THeroWeaponSprite(400, 540, 6, hdDown, &Root());
  RunTicks(1);
  EXPECT_EQ(bomb->Y, 550);
  EXPECT_FALSE(bomb->IsDead());
  RunTicks(1);
  EXPECT_TRUE(bomb->IsDead());
  EXPECT_EQ(Explosions("rocketexplosion"), 1);
}

// ---------------------------------------------------------------------------------- the hero's rams

TEST_F(Enemies, TheShieldTakesTheDamageButWhatTheHeroTouchesStillEnds) {
  StartQuietPlay();
  PlaceHero(300, 200);
  Game.Shield->Visible = true;
  Game.ShieldTime = 15000;
  // Everything made after the hero sits where the hero meets it in the next tick, before it moves.
  auto* shot = new TWeaponSprite(310, 210, 10, true, "rocket1", &Root());
  auto* groundShot = new TGroundEnemyWeaponSprite(gkTower, 0, 320, 210, &Root());
  auto* aircraft = new TFlyingEnemySprite(2, &Root());
  auto* tower = new TGroundEnemySprite(gkTower, &Root());
  auto* kamikaze = new TKamikazeSprite(330, 215, &Root());
  auto* paratrooper = new TParatrooperSprite(320, 190, pkRocketMan, &Root());
  for (TImageSprite* enemy : std::vector<TImageSprite*>{aircraft, tower}) {
    enemy->X = 300;
    enemy->Y = 190;
  }
  RunTicks(1);
  EXPECT_EQ(Game.Hero->HealthPoints, 50);
  for (TSprite* sprite : std::vector<TSprite*>{shot, groundShot, aircraft, tower, kamikaze, paratrooper})
    EXPECT_TRUE(sprite->IsDead());
  EXPECT_EQ(Game.LevelKills, 4);
  EXPECT_EQ(Game.Score, 20 + 10 + 1 + 5);
}

TEST_F(Enemies, WithoutTheShieldEveryRowOfTheTableHurts) {
  StartQuietPlay();
  PlaceHero(300, 200);
  new TWeaponSprite(310, 210, 10, true, "rocket1", &Root());                   // 10
  new TGroundEnemyWeaponSprite(gkTower, 0, 320, 210, &Root());                 // 5
  new TKamikazeSprite(330, 215, &Root());                                      // 1
  auto* paratrooper = new TParatrooperSprite(320, 190, pkRocketMan, &Root());  // 0
  auto* soldier = new TGroundEnemySprite(gkSoldier, &Root());                  // its 5 hit points
  soldier->X = 340;
  soldier->Y = 190;
  RunTicks(1);
  EXPECT_EQ(Game.Hero->HealthPoints, 50 - 10 - 5 - 1 - 5);
  EXPECT_TRUE(paratrooper->IsDead());
  EXPECT_TRUE(Game.Smoke->Visible);  // below 40
}

TEST_F(Enemies, RammingATransportWithFiftyHealthPointsDestroysBoth) {
  StartQuietPlay();
  PlaceHero(300, 200);
  auto* transport = new TFlyingEnemySprite(6, &Root());
  transport->X = 320;
  transport->Y = 190;
  RunTicks(1);
  EXPECT_TRUE(transport->IsDead());
  EXPECT_EQ(Game.LevelKills, 1);
  EXPECT_EQ(Game.Score, 100);
  EXPECT_EQ(Game.Hero->HealthPoints, -50);
  EXPECT_EQ(Game.GamePhase, gpHeroDown);
  EXPECT_EQ(Game.Lives, 2);
  EXPECT_FALSE(Game.Hero->Visible);
}

TEST_F(Enemies, TheHeroGoesDownOnceWhenTwoShotsFinishItInOneTick) {
  StartQuietPlay();
  PlaceHero(300, 200);
  Game.Hero->HealthPoints = 1;
  new TWeaponSprite(310, 210, 1, false, "machinegun", &Root());
  new TWeaponSprite(330, 210, 1, false, "machinegun", &Root());
  RunTicks(1);
  EXPECT_EQ(Game.GamePhase, gpHeroDown);
  EXPECT_EQ(Game.Lives, 2);
  EXPECT_EQ(Explosions("explosion1"), 1);
}

TEST_F(Enemies, TheMegaBombKillsEveryEnemyOnceAndSparesTheirShots) {
  StartQuietPlay();
  PlaceHero(100, 200);
  auto* bonus = new TBonusSprite(&Root());
  bonus->Kind = bkMegaBomb;
  bonus->X = 110;
  bonus->Y = 210;
  auto* aircraft = new TFlyingEnemySprite(1, &Root());
  auto* transport = new TFlyingEnemySprite(6, &Root());
  auto* kamikaze = new TKamikazeSprite(600, 100, &Root());
  auto* paratrooper = new TParatrooperSprite(500, 100, pkMachineGunner, &Root());
  auto* tower = new TGroundEnemySprite(gkTower, &Root());
  auto* launcher = new TGroundEnemySprite(gkLauncher, &Root());
  auto* shot = new TWeaponSprite(600, 300, 1, false, "machinegun", &Root());
  auto* groundShot = new TGroundEnemyWeaponSprite(gkSoldier, 0, 600, 400, &Root());
  RunTicks(1);
  for (TSprite* enemy : std::vector<TSprite*>{aircraft, transport, kamikaze, paratrooper, tower, launcher})
    EXPECT_TRUE(enemy->IsDead());
  EXPECT_FALSE(shot->IsDead());
  EXPECT_FALSE(groundShot->IsDead());
  EXPECT_EQ(Game.LevelKills, 6);
  EXPECT_EQ(Game.Score, 10 + 100 + 1 + 2 + 10 + 20);
  EXPECT_EQ(Explosions("explosion3"), 1);
  EXPECT_EQ(Explosions("explosion1"), 4);
  EXPECT_EQ(Explosions("bloodexplosion"), 1);
  EXPECT_TRUE(Game.LastBonusIndicator->Visible);
}

// The second hit of a tick finds the enemy's wreck: it is not counted, scored or exploded again, but a
// bullet still ends on it and a ram still costs the hero.
TEST_F(Enemies, AnEnemyHitTwiceInOneTickDiesOnce) {
  StartQuietPlay();
  enum TTwoHits { thTwoBullets, thRamThenBullet, thMegaBombThenBullet, thRamThenMegaBomb };
  for (TTwoHits way : {thTwoBullets, thRamThenBullet, thMegaBombThenBullet, thRamThenMegaBomb}) {
    SCOPED_TRACE(way);
    ClearGameField(Root());
    RunTicks(1);
    const bool ram = way == thRamThenBullet || way == thRamThenMegaBomb;
    PlaceHero(ram ? 390 : 100, 200);
    Game.Hero->HealthPoints = 50;
    Game.Score = 0;
    Game.LevelKills = 0;
    // The hero meets what was made first first.
    auto megaBomb = [&](int32_t x) {
      auto* bonus = new TBonusSprite(&Root());
      bonus->Kind = bkMegaBomb;
      bonus->X = x;
      bonus->Y = 210;
    };
    if (way == thMegaBombThenBullet) megaBomb(110);
    auto* aircraft = new TFlyingEnemySprite(1, &Root());
    aircraft->X = 400;
    aircraft->Y = 200;
    aircraft->FireDelay = 1000;
    aircraft->HitPoints = 2;  // one bullet is enough
    if (way == thRamThenMegaBomb) megaBomb(420);
    THeroWeaponSprite* first = nullptr;
    THeroWeaponSprite* second = nullptr;
    if (way != thRamThenMegaBomb) first = new THeroWeaponSprite(420, 210, 1, kStayPut, &Root());
    if (way == thTwoBullets) second = new THeroWeaponSprite(430, 210, 1, kStayPut, &Root());
    RunTicks(1);
    EXPECT_TRUE(aircraft->IsDead());
    EXPECT_EQ(Game.LevelKills, 1);
    EXPECT_EQ(Game.Score, 10);
    EXPECT_EQ(Explosions("explosion1"), 1);
    const int bullets = (first != nullptr) + (second != nullptr);
    if (first) {
      EXPECT_TRUE(first->IsDead());
    }
    if (second) {
      EXPECT_TRUE(second->IsDead());
    }
    EXPECT_EQ(Explosions("gunexplosion"), bullets);
    EXPECT_EQ(Game.Hero->HealthPoints, ram ? 50 - 2 : 50);
  }
}

// A shot that reaches the wreck of an enemy killed earlier in the tick ends on it: it flies no further to
// the enemy behind.
TEST_F(Enemies, AHeroShotEndsOnAWreckAndSparesTheEnemyBehindIt) {
  StartQuietPlayWithoutHero();
  std::vector<TFlyingEnemySprite*> aircraft;
  for (int i = 0; i < 2; ++i) {
    auto* plane = aircraft.emplace_back(new TFlyingEnemySprite(1, &Root()));
    plane->X = 400;
    plane->Y = 200;
    plane->FireDelay = 1000;
    plane->HitPoints = 2;  // one bullet is enough
  }
  // The first bullet kills the front aircraft; the second meets its wreck first (it was made first).
  auto* first = new THeroWeaponSprite(420, 210, 1, kStayPut, &Root());
  auto* second = new THeroWeaponSprite(425, 210, 1, kStayPut, &Root());
  RunTicks(1);
  EXPECT_TRUE(aircraft[0]->IsDead());
  EXPECT_FALSE(aircraft[1]->IsDead());
  EXPECT_EQ(aircraft[1]->HitPoints, 2);
  EXPECT_TRUE(first->IsDead());
  EXPECT_TRUE(second->IsDead());
  EXPECT_EQ(Explosions("gunexplosion"), 2);
  EXPECT_EQ(Explosions("explosion1"), 1);
  EXPECT_EQ(Game.LevelKills, 1);
  EXPECT_EQ(Game.Score, 10);
}

// The mega-bomb taken first kills what the hero then rams in the same test: each wreck still costs the
// hero what the table says, and each enemy dies, scores and explodes once.
TEST_F(Enemies, RammingAWreckTheMegaBombLeftCostsTheHeroWhatTheTableSays) {
  StartQuietPlay();
  PlaceHero(100, 200);
  auto* bonus = new TBonusSprite(&Root());
  bonus->Kind = bkMegaBomb;
  bonus->X = 110;
  bonus->Y = 210;
  auto* aircraft = new TFlyingEnemySprite(2, &Root());  // 20 hit points, 3 of them shot away
  aircraft->X = 120;
  aircraft->Y = 190;
  aircraft->HitPoints = 17;
  auto* tower = new TGroundEnemySprite(gkTower, &Root());  // 10
  tower->X = 100;
  tower->Y = 190;
  auto* kamikaze = new TKamikazeSprite(130, 215, &Root());                     // 1
  auto* paratrooper = new TParatrooperSprite(110, 190, pkRocketMan, &Root());  // none
  RunTicks(1);
  for (TSprite* enemy : std::vector<TSprite*>{aircraft, tower, kamikaze, paratrooper})
    EXPECT_TRUE(enemy->IsDead());
  EXPECT_EQ(Game.Hero->HealthPoints, 50 - 17 - 10 - 1);
  EXPECT_TRUE(Game.Smoke->Visible);
  EXPECT_EQ(Game.LevelKills, 4);
  EXPECT_EQ(Game.Score, 20 + 10 + 1 + 5);
  EXPECT_EQ(Explosions("explosion1"), 3);  // the aircraft, the tower and the kamikaze
  EXPECT_EQ(Explosions("bloodexplosion"), 1);
  EXPECT_EQ(Game.GamePhase, gpPlaying);
}

TEST_F(Enemies, ANewLevelClearsEveryEnemyAndShot) {
  StartQuietPlayWithoutHero();
  std::vector<TSprite*> field = {
      new TFlyingEnemySprite(5, &Root()),
      new TKamikazeSprite(600, 100, &Root()),
      new TParatrooperSprite(500, 100, pkRocketMan, &Root()),
      new TGroundEnemySprite(gkLauncher, &Root()),
      new TWeaponSprite(600, 300, 20, true, "rocket1", &Root()),
      new TGroundEnemyWeaponSprite(gkLauncher, 0, 600, 400, &Root()),
  };
  field.push_back(static_cast<TWeaponSprite*>(field[4])->Flame);
  Game.LevelKills = 10;
  RunTicks(1);
  EXPECT_EQ(Game.Level, 2);
  for (TSprite* sprite : field) EXPECT_TRUE(sprite->IsDead());
}

// ---------------------------------------------------------------------------------- ground positions

TEST_F(Enemies, AGroundPositionIdlesItsFirst51TicksThenFiresEvery23) {
  StartQuietPlayWithoutHero();
  for (uint8_t kind : {gkSoldier, gkTower, gkLauncher}) {
    SCOPED_TRACE(int{kind});
    auto* position = new TGroundEnemySprite(kind, &Root());
    position->FireDelay = 0;
    RunTicks(51);
    EXPECT_TRUE(Living<TGroundEnemyWeaponSprite>().empty());
    RunTicks(1);
    EXPECT_EQ(Living<TGroundEnemyWeaponSprite>().size(), 1u);
    RunTicks(22);
    EXPECT_EQ(Living<TGroundEnemyWeaponSprite>().size(), 1u);
    RunTicks(1);
    EXPECT_EQ(Living<TGroundEnemyWeaponSprite>().size(), 2u);
    EXPECT_EQ(position->X, 800 - 3 * 75);
    ClearGameField(Root());  // hides the hero too
    RunTicks(1);
  }
}

// The hero's centre placed (dx, dy) from a tower's gun pivot before a frame is drawn.
class GunAim : public Enemies {
 protected:
  void AimFrom(TGroundEnemySprite& position, int32_t dx, int32_t dy) {
    // The position rolls 3 pixels left in the tick before it is drawn.
    const int32_t pivotX = position.X - 3 + position.GunX, pivotY = position.Y + position.GunY;
    Game.Hero->X = pivotX + dx - Game.Hero->Width / 2;
    Game.Hero->Y = pivotY + dy - Game.Hero->Height / 2;
    RunTicks(1);
  }
};

TEST_F(GunAim, TheGunTurnsTowardTheHeroAndMirrorsAHeroBelow) {
  StartQuietPlayWithoutHero();
  auto* tower = new TGroundEnemySprite(gkTower, &Root());
  tower->X = 400;
  // atan(0.5) is 18.9 steps of 1/256 turn; the one-argument arctangent folds a hero below onto the
  // place mirrored above, and a hero level with the pivot onto the right.
  const struct {
    int32_t Dx, Dy;
    uint8_t Angle;
  } cases[] = {
      {0, -100, 0},   {50, -100, 18}, {-50, -100, 238}, {-50, 100, 18},
      {50, 100, 238}, {-300, 0, 64},  {300, 0, 64},     {0, 100, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Dx << ", " << c.Dy);
    AimFrom(*tower, c.Dx, c.Dy);
    EXPECT_EQ(tower->GunAngle, c.Angle);
  }
}

TEST_F(GunAim, TheSoldierTurnsRoundOnlyWhenItsAimSwingsAcrossTheTop) {
  StartQuietPlayWithoutHero();
  auto* soldier = new TGroundEnemySprite(gkSoldier, &Root());
  soldier->X = 400;
  const int32_t width = soldier->Width;
  const struct {
    int32_t Dx, Dy;
    const char* Body;
    const char* Gun;
  } steps[] = {
      {-50, -100, "soldier", "soldiergun"},   // 0 -> 238: still facing left
      {50, -100, "soldier2", "soldiergun2"},  // 238 -> 18: turns right
      {-50, 100, "soldier2", "soldiergun2"},  // 18 -> 18 (a hero below, mirrored): no change
      {10, -100, "soldier2", "soldiergun2"},  // within the right half
      {-50, -100, "soldier", "soldiergun"},   // 4 -> 238: turns left
      {-300, 0, "soldier2", "soldiergun2"},   // level on the left is 64: turns right
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(testing::Message() << step.Dx << ", " << step.Dy);
    AimFrom(*soldier, step.Dx, step.Dy);
    EXPECT_EQ(soldier->Image, GamePicture(step.Body));
    EXPECT_EQ(soldier->GunPicture, step.Gun);
    EXPECT_EQ(soldier->Width, width);
  }
}

TEST_F(GunAim, AShotLeavesTheMuzzleAlongTheGunAndDriftsWithTheGround) {
  StartQuietPlayWithoutHero();
  auto* tower = new TGroundEnemySprite(gkTower, &Root());
  tower->X = 400;
  AimFrom(*tower, -300, 0);  // level: the gun points right (64)
  ASSERT_EQ(tower->GunAngle, 64);
  tower->FireCycle = 49;
  tower->FireDelay = 0;
  RunTicks(1);
  ASSERT_EQ(Living<TGroundEnemyWeaponSprite>().size(), 1u);
  TGroundEnemyWeaponSprite& shot = *Living<TGroundEnemyWeaponSprite>()[0];
  // The muzzle 50 pixels right of the pivot (20, 66).
  EXPECT_EQ(shot.X, tower->X + 20 + 50);
  EXPECT_EQ(shot.Y, tower->Y + 66);
  EXPECT_EQ(shot.DX, 7);
  EXPECT_EQ(shot.DY, 0);
  EXPECT_EQ(shot.Damage, 5);
  const int32_t x = shot.X;
  RunTicks(2);
  EXPECT_EQ(shot.X, x + 8);  // 7 along the gun, 3 back with the ground
  EXPECT_EQ(shot.Y, tower->Y + 66);
}

TEST_F(Enemies, AShotLeavesTheMuzzleAlongTheGun) {
  StartQuietPlayWithoutHero();
  // The muzzle rounded to the nearest pixel, the velocity cut toward zero (7 pixels a tick).
  const struct {
    uint8_t Kind, Angle;
    int32_t MuzzleX, MuzzleY;  // from the position's top-left corner
    int32_t Dx, Dy, Damage;
  } cases[] = {
      {gkSoldier, 238, 12 - 7, 18 - 14, -2, -6, 1},  // 16 x (-0.43, 0.90)
      {gkTower, 20, 20 + 24, 66 - 44, 3, -6, 5},     // 50 x (0.47, 0.88)
      {gkLauncher, 0, 56, 20 - 50, 0, -7, 20},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(int{c.Kind});
    auto* position = new TGroundEnemySprite(c.Kind, &Root());
    position->X = 400;
    position->GunAngle = c.Angle;
    position->FireCycle = 49;
    position->FireDelay = 0;
    RunTicks(1);
    ASSERT_EQ(Living<TGroundEnemyWeaponSprite>().size(), 1u);
    TGroundEnemyWeaponSprite& shot = *Living<TGroundEnemyWeaponSprite>()[0];
    EXPECT_EQ(shot.X, position->X + c.MuzzleX);
    EXPECT_EQ(shot.Y, position->Y + c.MuzzleY);
    EXPECT_EQ(shot.DX, c.Dx);
    EXPECT_EQ(shot.DY, c.Dy);
    EXPECT_EQ(shot.Damage, c.Damage);
    EXPECT_EQ(shot.Angle, c.Kind == gkLauncher ? c.Angle : 0);
    const int32_t x = shot.X, y = shot.Y;
    RunTicks(1);
    EXPECT_EQ(shot.X, x + c.Dx - 3);
    EXPECT_EQ(shot.Y, y + c.Dy);
    ClearGameField(Root());
    RunTicks(1);
  }
}

TEST_F(Enemies, AMuzzleLeftOfTheFieldWrapsFarRightAndTheShotIsGoneAtOnce) {
  StartQuietPlayWithoutHero();
  auto* soldier = new TGroundEnemySprite(gkSoldier, &Root());
  soldier->X = -17;         // -20 after the tick's roll, still on the field
  soldier->GunAngle = 192;  // left: the muzzle 16 pixels left of the pivot, at x = -20 + 12 - 16 = -24
  soldier->FireCycle = 49;
  soldier->FireDelay = 0;
  RunTicks(1);
  ASSERT_EQ(Living<TGroundEnemyWeaponSprite>().size(), 1u);
  TGroundEnemyWeaponSprite* shot = Living<TGroundEnemyWeaponSprite>()[0];
  EXPECT_EQ(shot->X, 65536 - 24);
  EXPECT_EQ(shot->Y, 520 + 18);
  RunTicks(1);
  EXPECT_TRUE(shot->IsDead());
}

TEST_F(Enemies, ALauncherRocketIsOnePointThatHitsOnlyStrictlyInsideTheHero) {
  StartQuietPlay();
  // The hero's bounds: (300, 200) to (372, 240), right and bottom excluded.
  const struct {
    int32_t X, Y;
    bool Hits;
  } cases[] = {{301, 220, true}, {300, 220, false}, {371, 239, true}, {372, 220, false}, {330, 240, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.X << ", " << c.Y);
    PlaceHero(300, 200);
    Game.Hero->HealthPoints = 50;
    auto* rocket = new TGroundEnemyWeaponSprite(gkLauncher, 64, static_cast<uint16_t>(c.X),
                                                static_cast<uint16_t>(c.Y), &Root());
    EXPECT_EQ(rocket->GetBounds(), (TRect{c.X, c.Y, c.X, c.Y}));
    RunTicks(1);
    EXPECT_EQ(rocket->IsDead(), c.Hits);
    EXPECT_EQ(Game.Hero->HealthPoints, c.Hits ? 30 : 50);
    ClearGameField(Root());
    RunTicks(1);
  }
}

// The tower's gun in the presented frame, against its own picture turned a quarter turn clockwise.
TEST_F(GunAim, AFrameShowsTheTowerGunTurnedTowardTheHero) {
  StartQuietPlayWithoutHero();
  auto* tower = new TGroundEnemySprite(gkTower, &Root());
  tower->X = 400;
  AimFrom(*tower, -300, 0);
  ASSERT_EQ(tower->GunAngle, 64);
  const int32_t pivotX = tower->X + 20, pivotY = tower->Y + 66;
  // Drawn 17 x 44 with the pivot at (8, 33) of the picture: source column c, row r lands at
  // (pivot x + 33 - r, pivot y + c - 8). The box ends before the column of row 0, so rows 1 to 43 show.
  TPictureCollectionItem& gun = *GamePicture("towergun");
  ASSERT_EQ(gun.Picture.Width, 17);
  ASSERT_EQ(gun.Picture.Height, 44);
  const uint32_t key = static_cast<uint32_t>(gun.TransparentColor);
  const uint32_t keyRgb = ((key & 0xFF) << 16) | (key & 0xFF00) | ((key >> 16) & 0xFF);
  int opaque = 0;
  for (int32_t r = 1; r < 44; ++r)
    for (int32_t c = 0; c < 17; ++c) {
      const uint32_t pixel = gun.Picture.Pixel(c, r) & 0xFFFFFF;
      if (pixel == keyRgb) continue;
      ++opaque;
      ASSERT_EQ(Pixel(pivotX + 33 - r, pivotY + c - 8), pixel) << "column " << c << ", row " << r;
    }
  EXPECT_GT(opaque, 100);
}

// A launcher rocket flying right (64): the rocket a quarter turn from its upright picture, the flame
// unturned three steps (21 pixels) behind it, ending there.
TEST_F(Enemies, AFrameShowsALauncherRocketWithItsFlameBehindIt) {
  StartQuietPlayWithoutHero();
  new TGroundEnemyWeaponSprite(gkLauncher, 64, 400, 300, &Root());
  RunTicks(1);  // moves 7 - 3 to (404, 300) and shows flame pattern 1
  const int32_t x = 404, y = 300;
  TPictureCollectionItem& rocket = *GamePicture("nruweapon");
  ASSERT_EQ(rocket.Picture.Width, 11);
  ASSERT_EQ(rocket.Picture.Height, 62);
  const uint32_t key = 0xFF00FF;
  // Pivot (5, 29) of the 11 x 62 picture: column c, row r lands at (x + 29 - r, y + c - 5).
  int opaque = 0;
  for (int32_t r = 1; r < 62; ++r)
    for (int32_t c = 0; c < 11; ++c) {
      const uint32_t pixel = rocket.Picture.Pixel(c, r) & 0xFFFFFF;
      if (pixel == key) continue;
      ++opaque;
      ASSERT_EQ(Pixel(x + 29 - r, y + c - 5), pixel) << "column " << c << ", row " << r;
    }
  EXPECT_GT(opaque, 100);
  // The flame: the colours of pattern 1 of "rocketfire1" (36 x 40 cells in a row), scaled to 36 x 36
  // with its right edge and 0.4 of its height at (x - 21, y).
  TPictureCollectionItem& flame = *GamePicture("rocketfire1");
  std::set<uint32_t> colours;
  for (int32_t r = 0; r < 40; ++r)
    for (int32_t c = 36; c < 72; ++c) colours.insert(flame.Picture.Pixel(c, r) & 0xFFFFFF);
  colours.erase(key);
  auto flamePixels = [&](int32_t left, int32_t top) {
    int n = 0;
    for (int32_t py = top; py < top + 36; ++py)
      for (int32_t px = left; px < left + 36; ++px) n += colours.count(Pixel(px, py)) != 0;
    return n;
  };
  const int behind = flamePixels(x - 21 - 36, y - 14);
  EXPECT_GT(behind, 150);
  EXPECT_LT(flamePixels(x + 40, y - 14), behind / 10);
  EXPECT_LT(flamePixels(x - 21 - 36, y - 14 - 40), behind / 10);
}

// ------------------------------------------------------------------------------------- a whole level

// A pilot that plays by sight: it keeps clear of aircraft that would kill it by ramming, takes the
// bonuses it sees, bombs soldiers and transports when it has bombs (its gun cannot reach the ground),
// lines up with aircraft, paratroopers and kamikazes, and always fires.
class Pilot : public Enemies {
 protected:
  void SteerTo(int32_t x, int32_t y) {
    const THeroSprite& hero = *Game.Hero;
    const int32_t cx = hero.X + hero.Width / 2, cy = hero.Y + hero.Height / 2;
    Hold(plat::SCAN_LEFT, cx > x + 4);
    Hold(plat::SCAN_RIGHT, cx < x - 4);
    Hold(plat::SCAN_UP, cy > y + 4);
    Hold(plat::SCAN_DOWN, cy < y - 4);
  }

  // Lines the hero up at height y to drop a bomb onto a target that moves speed pixels left a tick and
  // is met after moves of them, and drops it once lined up. A bomb falls from (X + 16, Y + 20), 12 wide.
  void BombOnto(const TImageSprite& target, int32_t speed, int32_t moves, int32_t y) {
    const THeroSprite& hero = *Game.Hero;
    const int32_t x = target.X - speed * moves + target.Width / 2 - 22;
    SteerTo(x + hero.Width / 2, y + hero.Height / 2);
    Hold(plat::SCAN_LSHIFT, std::abs(hero.X - x) <= 4 && std::abs(hero.Y - y) <= 8);
  }

  void Fly() {
    const THeroSprite& hero = *Game.Hero;
    const int32_t cy = hero.Y + hero.Height / 2;
    Hold(plat::SCAN_LCTRL, true);
    Hold(plat::SCAN_LSHIFT, false);
    auto deadly = [&](const TFlyingEnemySprite& aircraft) {
      return aircraft.HitPoints >= hero.HealthPoints - 5;
    };
    // Aircraft that would kill the hero by ramming, close ahead and in its band: climb or dive past.
    for (TFlyingEnemySprite* aircraft : Living<TFlyingEnemySprite>()) {
      const bool close =
          aircraft->X < hero.X + hero.Width + 220 && aircraft->X + aircraft->Width > hero.X - 10;
      if (close && deadly(*aircraft) && cy + 35 > aircraft->Y && cy - 35 < aircraft->Y + aircraft->Height) {
        const bool above = aircraft->Y > 140;
        SteerTo(hero.X + hero.Width / 2, above ? aircraft->Y - 60 : aircraft->Y + aircraft->Height + 60);
        return;
      }
    }
    for (TBonusSprite* bonus : Living<TBonusSprite>())
      if (bonus->Y > 20 && bonus->X > 20) {
        SteerTo(bonus->X + bonus->Width / 2, bonus->Y + bonus->Height / 2);
        return;
      }
    if (hero.HasBombs) {
      for (TGroundEnemySprite* position : Living<TGroundEnemySprite>())
        if (position->X > 40) {
          BombOnto(*position, 3, 2, 480);
          return;
        }
      for (TFlyingEnemySprite* aircraft : Living<TFlyingEnemySprite>())
        if (deadly(*aircraft) && aircraft->Y > 110 && aircraft->X > 100) {
          BombOnto(*aircraft, 5, 3, aircraft->Y - 65);
          return;
        }
    }
    int32_t nearest = INT32_MAX, targetY = 250;
    auto consider = [&](const TImageSprite& target) {
      if (target.X > hero.X + hero.Width && target.X < nearest) {
        nearest = target.X;
        targetY = target.Y + target.Height / 2;
      }
    };
    // A deadly aircraft is worn down from afar; the dodge above takes over when it comes close.
    for (TFlyingEnemySprite* aircraft : Living<TFlyingEnemySprite>()) consider(*aircraft);
    for (TParatrooperSprite* paratrooper : Living<TParatrooperSprite>()) consider(*paratrooper);
    for (TKamikazeSprite* kamikaze : Living<TKamikazeSprite>()) consider(*kamikaze);
    SteerTo(110, targetY);
  }
};

struct TKindLog {
  bool Fired = false, Died = false;
};

// The generator's seed is the headless clock's (see TGameScenario): a run in which every kind of the
// level comes before the tenth kill. What each kind does is read off the field after every tick.
TEST_F(Pilot, PlaysLevelOneThroughMeetingEveryKindTheLevelAllows) {
  StartPlaying();
  std::map<int, TKindLog> kinds;
  TGamePhase before = Game.GamePhase;
  int ticks = 0;
  for (; ticks < 20000 && Game.Level == 1 && Game.Lives > 0; ++ticks) {
    Fly();
    RunTicks(1);
    if (Game.Level != 1) break;  // the new level cleared the field
    // The end of gpHeroDown clears the field: what dies then was not destroyed by the player.
    const bool cleared = before == gpHeroDown && Game.GamePhase != gpHeroDown;
    before = Game.GamePhase;
    std::vector<TWeaponSprite*> shots = Living<TWeaponSprite>();
    std::vector<TParatrooperSprite*> paratroopers = Living<TParatrooperSprite>();
    for (TFlyingEnemySprite* aircraft : All<TFlyingEnemySprite>()) {
      TKindLog& log = kinds[aircraft->Kind];
      if (aircraft->IsDead() && !cleared && aircraft->X >= -aircraft->Width) log.Died = true;
      // What it fired in this tick has not moved yet.
      for (TWeaponSprite* shot : shots)
        if (shot->X == aircraft->X && shot->Y == aircraft->Y + aircraft->Height / 2) log.Fired = true;
      for (TParatrooperSprite* paratrooper : paratroopers)
        if (paratrooper->X == aircraft->X + 30 && paratrooper->Y == aircraft->Y) log.Fired = true;
    }
    for (TGroundEnemySprite* position : All<TGroundEnemySprite>()) {
      TKindLog& log = kinds[position->Kind];
      if (position->IsDead() && !cleared && position->X >= -position->Width) log.Died = true;
    }
    for (TGroundEnemyWeaponSprite* shot : Living<TGroundEnemyWeaponSprite>()) kinds[shot->Kind].Fired = true;
  }
  EXPECT_EQ(Game.Level, 2) << "after " << ticks << " ticks, " << Game.Lives << " lives, " << Game.LevelKills
                           << " kills";
  std::set<int> seen;
  for (const auto& [kind, log] : kinds) {
    seen.insert(kind);
    EXPECT_TRUE(log.Fired) << "kind " << kind;
    EXPECT_TRUE(log.Died) << "kind " << kind;
  }
  EXPECT_EQ(seen, (std::set<int>{1, 6, 7}));
}

// A flame that reaches the edge of the field burns out a tick or more before its rocket: an enemy rocket
// fired as its aircraft comes in, a hero rocket about to leave on the right. Once the flame is freed the
// rocket no longer points at it, and flies on and ends without it.
TEST_F(Enemies, ARocketWhoseFlameBurntOutAtTheEdgeFliesOnWithoutIt) {
  StartQuietPlayWithoutHero();
  auto* enemyRocket = new TWeaponSprite(770, 300, 20, true, "rocket1", &Root());
  auto* heroRocket = new THeroWeaponSprite(789, 100, 4, hdRight, &Root());
  ASSERT_NE(enemyRocket->Flame, nullptr);
  ASSERT_NE(heroRocket->Flame, nullptr);
  RunTicks(1);  // both flames are past the edge and kill themselves
  ASSERT_TRUE(enemyRocket->Flame->IsDead());
  ASSERT_TRUE(heroRocket->Flame->IsDead());
  EXPECT_FALSE(enemyRocket->IsDead());
  EXPECT_FALSE(heroRocket->IsDead());
  RunTicks(1);  // the flames are freed
  EXPECT_EQ(enemyRocket->Flame, nullptr);
  EXPECT_EQ(heroRocket->Flame, nullptr);
  EXPECT_TRUE(heroRocket->IsDead());  // gone off the right edge
  // The enemy rocket flies on into the hero and explodes there.
  PlaceHero(600, 290);
  for (int i = 0; i < 30 && !enemyRocket->IsDead(); ++i) RunTicks(1);
  EXPECT_TRUE(enemyRocket->IsDead());
  EXPECT_EQ(Explosions("rocketexplosion"), 1);
  EXPECT_EQ(Game.Hero->HealthPoints, 30);
}

}  // namespace
