#include "tests/support/game_scenario.h"

#include <chrono>
#include <thread>

#include "engine/wave_archive.h"
#include "menu/menu_state.h"

void TGameScenario::SetUp() {
  TGameTest::SetUp();
  InstallGameData();
  // The menu asks the world server for a challenge: by default nobody listens there, so the answer is
  // at once and the game plays from its own seed. Tests of the submission name their own server.
  WriteFile("server.url", "http://127.0.0.1:9\n");
}

void TGameScenario::TearDown() {
  Form.reset();
  TGameTest::TearDown();
}

void TGameScenario::OpenMenu() {
  Form = std::make_unique<TmainForm>();
  RunTicks(2);
}

void TGameScenario::StartGame() {
  OpenMenu();
  // A game started before the challenge's answer plays without one, as a player's would; the tests
  // start once it is in, so that which seed a game plays from does not race the server.
  for (int waited = 0; waited < 10000 && Form->Challenges.Fetching(); waited += 5)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(MenuScreen, msMain);
  ASSERT_EQ(SelectedItem, 1);
  Press(plat::VK_RETURN);
  ASSERT_EQ(Game.GamePhase, gpLevelIntro);
}

void TGameScenario::StartPlaying() {
  StartGame();
  for (int i = 0; i < 200 && Game.GamePhase == gpLevelIntro; ++i) RunTicks(1);
  ASSERT_EQ(Game.GamePhase, gpPlaying);
}

void TGameScenario::RunTicks(int ticks) {
  for (int i = 0; i < ticks && !Form->Closed(); ++i) Form->ProcessMessages();
}

void TGameScenario::Press(uint16_t key) {
  Headless.PushEvent({.Kind = plat::TEventKind::KeyDown, .Key = key});
  Headless.PushEvent({.Kind = plat::TEventKind::KeyUp, .Key = key});
  RunTicks(2);
}

uint32_t TGameScenario::Pixel(int x, int y) const {
  return Headless.LastFrame.at(static_cast<size_t>(y) * 800 + static_cast<size_t>(x)) & 0xFFFFFF;
}

int TGameScenario::CountPixels(int left, int top, int right, int bottom, uint32_t pixel) const {
  int n = 0;
  for (int y = top; y < bottom; ++y)
    for (int x = left; x < right; ++x) n += Pixel(x, y) == pixel;
  return n;
}

bool TGameScenario::Sounding(const char* name) const {
  return Form->DXWaveList1.FindWave(name)->Playback.Playing();
}
