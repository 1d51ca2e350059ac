#include "tests/support/game_test.h"

#include "app/keyboard_mouse.h"
#include "game/game_services.h"
#include "game/game_state.h"
#include "menu/menu_sprites.h"
#include "menu/menu_state.h"
#include "music/music.h"
#include "settings/settings.h"

void TGameTest::SetUp() {
  THeadlessTest::SetUp();
  ResetSettingsState();
  ResetMusicState();
  ResetMenuState();
  ForgetMenuSprites();
  ResetGameState();
  SetGameHost(nullptr);
  ResetKeyboardMouseState();
}
