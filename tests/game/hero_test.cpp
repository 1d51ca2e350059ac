// The hero as the player flies it: keys, mouse, the tilt pictures, firing, bombs and bonuses.
#include "game/hero.h"

#include <cstdint>

#include "engine/sprite.h"
#include "game/explosions_bonuses.h"
#include "game/game_state.h"
#include "game/weapons.h"
#include "tests/support/game_scenario.h"

namespace {

using Hero = TGameScenario;

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

}  // namespace
