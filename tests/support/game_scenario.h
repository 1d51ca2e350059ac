// Test support for whole games on the headless platform: the real main window over the game's data, a
// game started from the menu, and the player's keys, mouse and ticks. The seed of the random generator
// is the platform's clock seed, so a scenario repeats exactly.
#pragma once

#include <cstdint>
#include <memory>

#include "app/main_form.h"
#include "game/game_state.h"
#include "tests/support/game_test.h"

class TGameScenario : public TGameTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The main window at the main menu.
  void OpenMenu();
  // "Start game" from the main menu; the game stands in its level intro.
  void StartGame();
  // StartGame, then ticks until the level intro is over and play begins.
  void StartPlaying();
  // Passes of the message loop; with nothing waiting each pass is one tick of the enabled timer.
  void RunTicks(int ticks);
  // A key pressed and released (key-down and key-up events) and two ticks.
  void Press(uint16_t key);
  // A key held down or released in the keyboard state the input reads each tick.
  void Hold(int scan, bool down = true) { Headless.SetKey(scan, down); }
  // The pixel of the last presented frame, as 0xRRGGBB.
  uint32_t Pixel(int x, int y) const;

  std::unique_ptr<TmainForm> Form;
};
