// The desktop build's frames that the browser build's page is compared with (tests/web/page_test.py):
// the menu's first frame, the level's announcement just after "Start game", and the exit question in
// play. Played on the headless platform from the game's data; written as raw RGB (800 x 600 x 3) into
// the folder PELLORIN_WEB_FRAMES names.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "menu/menu_state.h"
#include "tests/support/game_scenario.h"

namespace {

class ReferenceFrames : public TGameScenario {
 protected:
  void Keep(const char* name) {
    ASSERT_EQ(Headless.LastFrame.size(), 800u * 600u);
    const char* folder = std::getenv("PELLORIN_WEB_FRAMES");
    ASSERT_NE(folder, nullptr) << "PELLORIN_WEB_FRAMES names the folder the frames go to";
    const std::string path = std::string(folder) + "/" + name + ".rgb";
    FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr) << path;
    for (uint32_t pixel : Headless.LastFrame) {
      const unsigned char rgb[3] = {static_cast<unsigned char>(pixel >> 16), static_cast<unsigned char>(pixel >> 8),
                                    static_cast<unsigned char>(pixel)};
      std::fwrite(rgb, 1, 3, out);
    }
    ASSERT_EQ(std::fclose(out), 0) << path;
  }
};

TEST_F(ReferenceFrames, MenuAnnouncementAndExitQuestion) {
  // The page has no world server: neither has this game.
  WriteFile("server.url", "");
  Form = std::make_unique<TmainForm>();
  while (Headless.PresentCount == 0 && !Form->Closed()) Form->ProcessMessages();
  Keep("menu");
  RunTicks(2);
  ASSERT_EQ(MenuScreen, msMain);
  Press(plat::VK_RETURN);
  ASSERT_EQ(Game.GamePhase, gpLevelIntro);
  Keep("announcement");
  for (int i = 0; i < 200 && Game.GamePhase == gpLevelIntro; ++i) RunTicks(1);
  ASSERT_EQ(Game.GamePhase, gpPlaying);
  Press(plat::VK_ESCAPE);
  Keep("question");
}

}  // namespace
