#include "menu/menu_state.h"

TMenuScreen MenuScreen = msMain;
uint8_t SelectedItem = 1;
uint8_t LastMainItem = 1;
bool QuitConfirmed = false;
TMenuScreen ReturnScreen = msMain;
uint8_t ReturnItem = 1;
uint8_t HelpPage = 1;
bool TextEntryActive = false;
uint8_t BlinkCounter = 0;
bool MouseOverItem = false;
std::string BossKeyName;

const std::array<const char*, 6> HelpTitles = {"Overview", "Controls", "Controls",
                                               "Enemies",  "Bonuses",  "About"};

const std::array<uint8_t, kMenuScreens> ItemCount = {6, 6, 3, 3, 2, 2, 0, 4, 2};

const std::array<std::array<uint16_t, kMaxItems>, kMenuScreens> ItemLeft = {{
    {252, 297, 255, 340, 223, 346},
    {400, 400, 400, 400, 400, 144},
    {144, 267, 281, 0, 0, 0},
    {144, 286, 427, 0, 0, 0},
    {355, 405, 0, 0, 0, 0},
    {355, 405, 0, 0, 0, 0},
    {0, 0, 0, 0, 0, 0},
    {330, 350, 325, 410, 0, 0},
    {355, 405, 0, 0, 0, 0},
}};

const std::array<std::array<uint16_t, kMaxItems>, kMenuScreens> ItemTop = {{
    {176, 237, 302, 365, 424, 490},
    {254, 280, 306, 332, 359, 417},
    {421, 403, 428, 0, 0, 0},
    {420, 420, 420, 0, 0, 0},
    {280, 280, 0, 0, 0, 0},
    {290, 290, 0, 0, 0, 0},
    {0, 0, 0, 0, 0, 0},
    {260, 320, 360, 360, 0, 0},
    {320, 320, 0, 0, 0, 0},
}};

namespace {

constexpr std::array<std::array<uint16_t, kMaxItems>, kMenuScreens> kItemWidth = {{
    {0, 0, 0, 0, 0, 0},
    {200, 120, 120, 250, 120, 120},
    {80, 280, 200, 0, 0, 0},
    {80, 100, 60, 0, 0, 0},
    {40, 30, 0, 0, 0, 0},
    {40, 30, 0, 0, 0, 0},
    {0, 0, 0, 0, 0, 0},
    {200, 200, 30, 100, 0, 0},
    {40, 30, 0, 0, 0, 0},
}};

constexpr std::array<std::array<uint16_t, kMaxItems>, kMenuScreens> kItemHeight = {{
    {0, 0, 0, 0, 0, 0},
    {18, 18, 18, 18, 18, 18},
    {18, 18, 18, 0, 0, 0},
    {18, 18, 18, 0, 0, 0},
    {18, 18, 0, 0, 0, 0},
    {18, 18, 0, 0, 0, 0},
    {0, 0, 0, 0, 0, 0},
    {18, 18, 18, 18, 0, 0},
    {18, 18, 0, 0, 0, 0},
}};

}  // namespace

std::array<std::array<uint16_t, kMaxItems>, kMenuScreens> ItemWidth = kItemWidth;
std::array<std::array<uint16_t, kMaxItems>, kMenuScreens> ItemHeight = kItemHeight;

int ItemsOf(TMenuScreen screen) {
  if (screen < msMain || screen > msSendQuery) return 0;
  return ItemCount[screen - 1];
}

bool ItemHit(TMenuScreen screen, int item, int x, int y) {
  if (item < 1 || item > ItemsOf(screen)) return false;
  size_t s = static_cast<size_t>(screen - 1);
  size_t i = static_cast<size_t>(item - 1);
  int left = ItemLeft[s][i], top = ItemTop[s][i];
  return x >= left && x <= left + ItemWidth[s][i] && y >= top && y <= top + ItemHeight[s][i];
}

void ResetMenuState() {
  MenuScreen = msMain;
  SelectedItem = 1;
  LastMainItem = 1;
  QuitConfirmed = false;
  ReturnScreen = msMain;
  ReturnItem = 1;
  HelpPage = 1;
  TextEntryActive = false;
  BlinkCounter = 0;
  MouseOverItem = false;
  BossKeyName.clear();
  ItemWidth = kItemWidth;
  ItemHeight = kItemHeight;
}
