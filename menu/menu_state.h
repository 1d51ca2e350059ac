// Where the menu is: the screen shown, the item selected, and what the quit question goes back to.
// These also select the question and entry screens shown during and after a game.
#pragma once

#include <cstdint>

enum TMenuScreen : uint8_t {
  msMain = 1,
  msOptions = 2,
  msHighScores = 3,
  msHelp = 4,
  msQuitQuery = 5,
  msClearQuery = 6,
  msBossKeyCapture = 7,
  msNameEntry = 8,
  msSendQuery = 9,
};

extern TMenuScreen MenuScreen;
extern uint8_t SelectedItem;  // 1-based item of the screen; 0 on screens without items
extern bool QuitConfirmed;    // the quit question was answered "Yes"
extern TMenuScreen ReturnScreen;
extern uint8_t ReturnItem;

void ResetMenuState();
