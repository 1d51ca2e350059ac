#include "menu/menu_state.h"

TMenuScreen MenuScreen = msMain;
uint8_t SelectedItem = 1;
bool QuitConfirmed = false;
TMenuScreen ReturnScreen = msMain;
uint8_t ReturnItem = 1;

void ResetMenuState() {
  MenuScreen = msMain;
  SelectedItem = 1;
  QuitConfirmed = false;
  ReturnScreen = msMain;
  ReturnItem = 1;
}
