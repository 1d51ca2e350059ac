// Records the golden games of tests/golden/ on the headless platform, through the real main window:
// a scripted pilot from a fixed seed, each game ended its own way. Run by tests/golden/record.sh when a
// change alters play on purpose; PELLORIN_GOLDEN_OUT names the folder the replays are written to.
#include <cstdlib>
#include <filesystem>
#include <string>

#include "game/game_state.h"
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

}  // namespace
