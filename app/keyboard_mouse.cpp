// Key and mouse dispatch of the main window, by game phase and menu screen.
#include "app/keyboard_mouse.h"

#include <string>

#include "app/main_form.h"
#include "game/game_input.h"
#include "game/game_state.h"
#include "menu/menu_loop.h"
#include "menu/menu_sprites.h"
#include "menu/menu_state.h"
#include "music/music.h"
#include "settings/settings.h"

using plat::Platform;

bool KeyLatch = false;
std::set<uint16_t> HeldKeys;
std::set<uint16_t> StaleKeys;
bool SwallowKeyPress = false;

namespace {

constexpr int kMaxTypedLength = 10;

// The text being edited on the current screen, or null.
TShortString11* EditedText() {
  if (MenuScreen == msOptions) return &Settings.Country;
  if (MenuScreen == msNameEntry && SelectedItem == 1) return &NewEntry.EntryName;
  if (MenuScreen == msNameEntry && SelectedItem == 2) return &Settings.Country;
  return nullptr;
}

bool MenuKeysPhase(TGamePhase phase) {
  return phase == gpMenu || phase == gpExitQuery || phase == gpNameEntry || phase == gpSendQuery;
}

// The screens where Left and Right move the selection.
bool SidewaysScreen(TMenuScreen screen) {
  return screen == msHighScores || screen == msHelp || screen == msQuitQuery || screen == msClearQuery ||
         screen == msNameEntry || screen == msSendQuery;
}

bool OptionsValueRow() { return MenuScreen == msOptions && SelectedItem >= 1 && SelectedItem <= 3; }

}  // namespace

void UpdateBossKeyName() {
  const uint16_t key = Settings.BossKey;
  if (key == 32) {
    BossKeyName = "Space";
  } else if (key >= '0' && key <= '9') {
    BossKeyName = std::string(1, static_cast<char>(key));
  } else if (key >= 'A' && key <= 'Z') {
    BossKeyName = std::string(1, static_cast<char>(key));
  } else if (key == plat::VK_LWIN) {
    BossKeyName = "Window Key";
  } else if (key >= plat::VK_F1 && key <= plat::VK_F12) {
    BossKeyName = 'F' + std::to_string(key - plat::VK_F1 + 1);
  }
}

void ResetKeyboardMouseState() {
  KeyLatch = false;
  HeldKeys.clear();
  StaleKeys.clear();
  SwallowKeyPress = false;
}

void IgnoreHeldKeys() {
  StaleKeys = HeldKeys;
  SwallowKeyPress = false;
}

void TmainForm::FormKeyDown(uint16_t key, bool alt) {
  HeldKeys.insert(key);
  SwallowKeyPress = false;
  // A key held since before the screen opened: its repeats are not the player's answer to it.
  if (StaleKeys.count(key) != 0) {
    SwallowKeyPress = true;
    return;
  }
  if (TextEntryActive && key == plat::VK_BACK) {
    if (TShortString11* text = EditedText()) {
      std::string value = text->Text();
      if (!value.empty()) text->Assign(value.substr(0, value.size() - 1));
    }
  }
  if (!KeyLatch) {
    if (GameKeysPhase(Game.GamePhase))
      ::GameKeyDown(*this, key);
    else if (MenuKeysPhase(Game.GamePhase))
      MenuKeyDown(key, alt);
  }
  KeyLatch = true;
}

void TmainForm::MenuKeyDown(uint16_t key, bool alt) {
  switch (key) {
    case plat::VK_RETURN:
      if (!alt) ActivateItem(*this);
      break;
    case plat::VK_ESCAPE:
      switch (MenuScreen) {
        case msMain:
          Close();
          break;
        case msOptions:
          SelectedItem = 6;
          TextEntryActive = false;
          ActivateItem(*this);
          break;
        case msHighScores:
        case msHelp:
          SelectedItem = 1;
          ActivateItem(*this);
          break;
        case msQuitQuery:
        case msClearQuery:
          SelectedItem = 2;
          ActivateItem(*this);
          break;
        default:
          break;
      }
      break;
    case plat::VK_LEFT:
      if (OptionsValueRow())
        ActivateItem(*this);
      else if (SidewaysScreen(MenuScreen))
        SelectPrevious(*this);
      break;
    case plat::VK_RIGHT:
      if (OptionsValueRow())
        ActivateItem(*this);
      else if (SidewaysScreen(MenuScreen))
        SelectNext(*this);
      break;
    case plat::VK_UP:
      SelectPrevious(*this);
      break;
    case plat::VK_DOWN:
      SelectNext(*this);
      break;
    default:
      if (MenuScreen == msBossKeyCapture && key != plat::VK_SHIFT && key != plat::VK_CONTROL &&
          key != plat::VK_MENU) {
        Settings.BossKey = key;
        ShowClosingWindow(false);
        MenuScreen = ReturnScreen;
        UpdateBossKeyName();
      } else if (key == Settings.BossKey) {
        Platform().Minimize();
      }
      break;
  }
}

void TmainForm::FormKeyUp(uint16_t key, bool alt) {
  HeldKeys.erase(key);
  StaleKeys.erase(key);
  KeyLatch = false;
  if (alt && key == plat::VK_RETURN) {
    Settings.WindowMode = static_cast<uint8_t>(1 - Settings.WindowMode);
    ChangeMode();
    SaveSettingsScrambled();
  }
}

void TmainForm::FormKeyPress(char c) {
  if (SwallowKeyPress) {
    SwallowKeyPress = false;
    return;
  }
  if (!TextEntryActive) return;
  TShortString11* text = EditedText();
  if (!text) return;
  bool accepted = c == ' ' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  std::string value = text->Text();
  if (accepted && value.size() < kMaxTypedLength) text->Assign(value + c);
}

void TmainForm::DXDrawMouseMove(int x, int y) {
  if (MenuKeysPhase(Game.GamePhase))
    MenuHover(*this, x, y);
  else if (Game.GamePhase == gpPlaying)
    GameMouseMove();
}

void TmainForm::DXDrawMouseDown(plat::TMouseButton button) {
  if (button != plat::TMouseButton::Middle) GameMouseButton(button == plat::TMouseButton::Left, true);
}

void TmainForm::DXDrawMouseUp(plat::TMouseButton button) {
  if (button != plat::TMouseButton::Middle) GameMouseButton(button == plat::TMouseButton::Left, false);
}

void TmainForm::DXDrawClick() {
  if (MenuKeysPhase(Game.GamePhase)) MenuClick(*this);
}
