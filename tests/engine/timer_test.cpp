#include "engine/timer.h"

#include <vector>

#include "tests/support/headless.h"

namespace {

class TimerTest : public THeadlessTest {
 protected:
  void SetUp() override {
    THeadlessTest::SetUp();
    for (TDXTimer* timer : {&Menu, &Game}) {
      timer->SetInterval(16);
      timer->OnTimer = [this](TDXTimer& sender, int lag) { Ticks.push_back({&sender, lag}); };
      timer->OnActivate = [this](TDXTimer& sender) { Events.push_back(&sender == &Menu ? "menu+" : "game+"); };
      timer->OnDeactivate = [this](TDXTimer& sender) { Events.push_back(&sender == &Menu ? "menu-" : "game-"); };
    }
    Game.SetActiveOnly(false);
    Game.SetEnabled(false);
    Menu.Loaded();
    Game.Loaded();
  }

  // Advances the clock and gives the installed timer its idle call.
  void After(uint32_t ms) {
    Headless.AdvanceClock(ms);
    Application.Idle();
  }

  struct TTick {
    TDXTimer* timer;
    int lag;
  };
  TDXTimer Menu, Game;
  std::vector<TTick> Ticks;
  std::vector<std::string> Events;
};

TEST_F(TimerTest, LagCountCountsWholeIntervals) {
  const struct {
    uint32_t after;
    int lag;
  } cases[] = {{16, 1}, {31, 1}, {32, 2}, {47, 2}, {48, 3}};
  for (const auto& c : cases) {
    Ticks.clear();
    After(c.after);
    ASSERT_EQ(Ticks.size(), 1u) << c.after;
    EXPECT_EQ(Ticks[0].lag, c.lag) << c.after;
  }
  Ticks.clear();
  After(15);
  EXPECT_TRUE(Ticks.empty());
  EXPECT_EQ(Menu.MillisecondsToNextTick(), 1);
}

TEST_F(TimerTest, OneIdleSlotStoppingEmptiesItWhoeverTookIt) {
  Menu.SetEnabled(false);
  Game.SetEnabled(true);
  // Game running: enabling the menu timer takes the slot, disabling the game timer then empties it.
  Menu.SetEnabled(true);
  Game.SetEnabled(false);
  EXPECT_EQ(Application.IdleHandler, nullptr);
  After(16);
  EXPECT_TRUE(Ticks.empty());
  // The other order leaves the menu timer ticking.
  Menu.SetEnabled(false);
  Game.SetEnabled(true);
  Game.SetEnabled(false);
  Menu.SetEnabled(true);
  After(16);
  ASSERT_EQ(Ticks.size(), 1u);
  EXPECT_EQ(Ticks[0].timer, &Menu);
}

TEST_F(TimerTest, ActiveOnlyTimerStopsWhileInactiveAndRestartsItsClock) {
  After(16);
  Application.Deactivate();
  EXPECT_EQ(Events, (std::vector<std::string>{"menu-", "game-"}));
  After(100);
  EXPECT_EQ(Ticks.size(), 1u);
  Headless.AdvanceClock(500);
  Application.Activate();
  EXPECT_EQ(Events.back(), "game+");
  EXPECT_EQ(Events[2], "menu+");
  After(20);
  ASSERT_EQ(Ticks.size(), 2u);
  EXPECT_EQ(Ticks[1].lag, 1);  // measured from the activation, not from the last tick
}

TEST_F(TimerTest, GameTimerKeepsTickingWhileInactive) {
  Menu.SetEnabled(false);
  Game.SetEnabled(true);
  Application.Deactivate();
  After(16);
  ASSERT_EQ(Ticks.size(), 1u);
  EXPECT_EQ(Ticks[0].timer, &Game);
}

TEST_F(TimerTest, FrameRateIsMeasuredOverASecond) {
  for (int i = 0; i < 62; ++i) After(16);
  EXPECT_EQ(Menu.FrameRate(), 0);
  After(16);  // 63 ticks over 1008 ms: 62.5 per second, rounded to the even neighbour
  EXPECT_EQ(Menu.FrameRate(), 62);
}

}  // namespace
