// Test support for whole games on the headless platform: the real main window over the game's data, a
// game started from the menu, and the player's keys, mouse and ticks. The seed of the random generator
// is the platform's clock seed, so a scenario repeats exactly.
#pragma once

#include <cstdint>
#include <memory>

#include "app/main_form.h"
#include "engine/sprite.h"
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
  // Pixels of that colour in the box (right and bottom excluded) of the last frame.
  int CountPixels(int left, int top, int right, int bottom, uint32_t pixel) const;
  // Whether the sound effect was started and has not been heard to its end.
  bool Sounding(const char* name) const;
  // Live (not killed) children of the root of the class.
  template <typename T>
  int CountOf() const {
    int n = 0;
    TSprite& root = Form->DXSpriteEngine1.Engine;
    for (int32_t i = 0; i < root.Count(); ++i)
      n += dynamic_cast<T*>(root.Items(i)) != nullptr && !root.Items(i)->IsDead();
    return n;
  }

  std::unique_ptr<TmainForm> Form;
};
