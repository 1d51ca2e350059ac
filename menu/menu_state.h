// Where the menu is: the screen shown, the item selected, what the question windows go back to, the
// help page, the country editing and the item layout tables. These also select the question and entry
// screens shown during and after a game. Global by design; ResetMenuState puts back a fresh start (tests).
#pragma once

#include <array>
#include <cstdint>
#include <string>

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

constexpr int kMenuScreens = 9;
constexpr int kMaxItems = 6;

extern TMenuScreen MenuScreen;
extern uint8_t SelectedItem;      // 1-based item of the screen; 0 means none
extern uint8_t LastMainItem;      // the main-menu item that opened the current sub-screen
extern bool QuitConfirmed;        // the quit question was answered "Yes"
extern TMenuScreen ReturnScreen;  // where a question window or the boss-key prompt goes back to
extern uint8_t ReturnItem;
extern uint8_t HelpPage;         // 1 to 6
extern bool TextEntryActive;     // the country (or on msNameEntry the name or country) is being edited
extern uint8_t BlinkCounter;     // wraps at 256; counts frames while editing, for the text cursor
extern bool MouseOverItem;       // the last mouse movement was inside an item's hot rectangle
extern std::string BossKeyName;  // the boss key as the options screen shows it

extern const std::array<const char*, 6> HelpTitles;  // by page - 1

// Layout of the selectable items, by screen - 1 and item - 1: the hot rectangles of the mouse and the
// text positions of the screens. The msMain widths and heights are 0 until CreateMainMenu takes them
// from the entry pictures; everything else is constant.
extern const std::array<uint8_t, kMenuScreens> ItemCount;
extern const std::array<std::array<uint16_t, kMaxItems>, kMenuScreens> ItemLeft;
extern const std::array<std::array<uint16_t, kMaxItems>, kMenuScreens> ItemTop;
extern std::array<std::array<uint16_t, kMaxItems>, kMenuScreens> ItemWidth;
extern std::array<std::array<uint16_t, kMaxItems>, kMenuScreens> ItemHeight;

// The number of items of a screen.
int ItemsOf(TMenuScreen screen);
// Whether (x, y) lies in the hot rectangle of item (1-based) of screen; both edges belong to it.
bool ItemHit(TMenuScreen screen, int item, int x, int y);

void ResetMenuState();
