// The menu as a player drives it: key and mouse scripts over a few frames on the headless platform,
// checked against the screen, the selection, what the frame shows and what config.dat holds.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/keyboard_mouse.h"
#include "app/main_form.h"
#include "engine/canvas.h"
#include "engine/image_archive.h"
#include "game/game_state.h"
#include "game/hero.h"
#include "menu/menu_sprites.h"
#include "menu/menu_state.h"
#include "music/music.h"
#include "settings/settings.h"
#include "tests/support/game_test.h"

namespace {

using plat::TEvent;
using plat::TEventKind;

constexpr uint32_t kRedPixel = 0xFF0000;
constexpr uint32_t kWhitePixel = 0xFFFFFF;
constexpr uint32_t kBlackPixel = 0;

struct TBox {
  int Left, Top, Right, Bottom;  // right and bottom excluded
};

class Menu : public TGameTest {
 protected:
  void SetUp() override {
    TGameTest::SetUp();
    InstallGameData();
    ResetKeyboardMouseState();
  }
  void TearDown() override {
    Form.reset();
    TGameTest::TearDown();
  }

  void Start() {
    Form = std::make_unique<TmainForm>();
    RunFrames(2);
  }
  // Passes of the message loop; with nothing waiting each pass is one tick of the enabled timer.
  void RunFrames(int passes) {
    for (int i = 0; i < passes && !Form->Closed(); ++i) Form->ProcessMessages();
  }
  void Down(uint16_t key, bool alt = false) {
    Headless.PushEvent({.Kind = TEventKind::KeyDown, .Key = key, .Alt = alt});
  }
  void Up(uint16_t key, bool alt = false) {
    Headless.PushEvent({.Kind = TEventKind::KeyUp, .Key = key, .Alt = alt});
  }
  void Press(uint16_t key, int times = 1) {
    for (int i = 0; i < times; ++i) {
      Down(key);
      Up(key);
    }
    RunFrames(2);
  }
  void Type(const std::string& text) {
    for (char c : text) {
      Down(static_cast<uint16_t>(c));  // the key's own code; its key-press carries the character
      Headless.PushEvent({.Kind = TEventKind::KeyPress, .Char = c});
      Up(static_cast<uint16_t>(c));
    }
    RunFrames(2);
  }
  void MoveMouse(int x, int y) {
    Headless.PushEvent({.Kind = TEventKind::MouseMove, .X = x, .Y = y});
    RunFrames(1);
  }
  void Click() {
    Headless.PushEvent({.Kind = TEventKind::Click});
    RunFrames(2);
  }
  // Main menu entry item (1-based) from msMain.
  void Open(int item) {
    if (item > SelectedItem) Press(plat::VK_DOWN, item - SelectedItem);
    if (item < SelectedItem) Press(plat::VK_UP, SelectedItem - item);
    Press(plat::VK_RETURN);
  }

  // The record as config.dat holds it now.
  TSettings Stored() {
    TSettings memory = Settings;
    LoadSettings();
    TSettings stored = Settings;
    Settings = memory;
    return stored;
  }
  int Count(const TBox& box, uint32_t pixel) const {
    int n = 0;
    for (int y = box.Top; y < box.Bottom; ++y)
      for (int x = box.Left; x < box.Right; ++x)
        n += (Headless.LastFrame[static_cast<size_t>(y * plat::kFrameWidth + x)] & 0xFFFFFF) == pixel;
    return n;
  }
  std::vector<uint32_t> Cut(const TBox& box) const {
    std::vector<uint32_t> pixels;
    for (int y = box.Top; y < box.Bottom; ++y)
      for (int x = box.Left; x < box.Right; ++x)
        pixels.push_back(Headless.LastFrame[static_cast<size_t>(y * plat::kFrameWidth + x)]);
    return pixels;
  }

  std::unique_ptr<TmainForm> Form;
};

TEST_F(Menu, StartShowsTheMainMenuOnItemOneWithTheMenuSong) {
  Start();
  EXPECT_EQ(MenuScreen, msMain);
  EXPECT_EQ(SelectedItem, 1);
  for (size_t i = 1; i <= 6; ++i) EXPECT_EQ(MenuItems[i]->Visible, i == 1) << i;
  EXPECT_NE(PlayingSong(), 0u);
  EXPECT_EQ(PlayingSong(), CurrentSong);
  // The hot rectangles of the entries are the sizes of their pictures.
  const uint16_t widths[] = {296, 206, 290, 120, 354, 108};
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(ItemWidth[msMain - 1][i], widths[i]) << i;
    EXPECT_EQ(ItemHeight[msMain - 1][i], 52) << i;
  }
  // The mark moves with the selection: both entries' areas change on the next frame.
  const TBox first{252, 176, 548, 228}, second{297, 237, 503, 289};
  std::vector<uint32_t> firstMarked = Cut(first), secondPlain = Cut(second);
  Press(plat::VK_DOWN);
  EXPECT_EQ(SelectedItem, 2);
  EXPECT_FALSE(MenuItems[1]->Visible);
  EXPECT_TRUE(MenuItems[2]->Visible);
  EXPECT_NE(Cut(first), firstMarked);
  EXPECT_NE(Cut(second), secondPlain);
  // Up from the first entry wraps to the last; a held key moves once.
  Press(plat::VK_UP, 2);
  EXPECT_EQ(SelectedItem, 6);
  Down(plat::VK_DOWN);
  Down(plat::VK_DOWN);
  Down(plat::VK_DOWN);
  RunFrames(2);
  EXPECT_EQ(SelectedItem, 1);
  Up(plat::VK_DOWN);
  RunFrames(1);
}

// The three switches of the options screen are written at once and drawn with the current word red.
TEST_F(Menu, OptionsSwitchesSaveAtOnce) {
  Start();
  Open(2);
  ASSERT_EQ(MenuScreen, msOptions);
  EXPECT_EQ(SelectedItem, 1);
  EXPECT_EQ(SubBackground->Visible, true);
  struct TCase {
    int Row;
    TBox FirstWord, SecondWordOff;  // "Window"/"On" red while on; the second word red once switched
    uint8_t TSettings::*Field;
  } cases[] = {
      {1, {400, 256, 450, 272}, {505, 256, 560, 272}, &TSettings::WindowMode},
      {2, {400, 282, 420, 298}, {446, 282, 470, 298}, &TSettings::MusicOn},
      {3, {400, 308, 420, 324}, {446, 308, 470, 324}, &TSettings::SoundOn},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Row);
    ASSERT_EQ(SelectedItem, c.Row);
    const int frameTop = 226 + 26 * c.Row;
    EXPECT_GT(Count({390, frameTop + 4, 392, frameTop + 20}, kRedPixel), 0);  // the row's frame
    EXPECT_GT(Count(c.FirstWord, kRedPixel), 0);
    EXPECT_EQ(Count(c.SecondWordOff, kRedPixel), 0);
    Press(plat::VK_RIGHT);
    EXPECT_EQ(Settings.*c.Field, 0);
    EXPECT_EQ(Stored().*c.Field, 0);
    EXPECT_EQ(Count(c.FirstWord, kRedPixel), 0);
    EXPECT_GT(Count(c.SecondWordOff, kRedPixel), 0);
    Press(plat::VK_DOWN);
  }
  EXPECT_TRUE(Headless.FullScreen());
  EXPECT_EQ(PlayingSong(), 0u);
  // Music back on starts the menu song again and is stored.
  Press(plat::VK_UP, 2);
  Press(plat::VK_LEFT);
  EXPECT_EQ(Stored().MusicOn, 1);
  EXPECT_NE(PlayingSong(), 0u);
  EXPECT_EQ(MenuScreen, msOptions);
  // "Back..." is red only while selected, and then no row is framed.
  const TBox back{144, 419, 200, 435};
  EXPECT_EQ(Count(back, kRedPixel), 0);
  Press(plat::VK_UP, 2);
  EXPECT_EQ(SelectedItem, 6);
  EXPECT_GT(Count(back, kRedPixel), 0);
  EXPECT_EQ(Count({390, 240, 392, 420}, kRedPixel), 0);
}

TEST_F(Menu, MusicThatCannotBeLoadedIsReportedOnceAndStoredOff) {
  Start();
  Open(2);
  Press(plat::VK_DOWN);
  Press(plat::VK_RETURN);  // off
  std::filesystem::remove("sound");
  std::filesystem::create_directory("sound");
  Press(plat::VK_RETURN);  // on: the song is missing
  EXPECT_EQ(Headless.MessageBoxes, std::vector<std::string>{"Can't load music."});
  EXPECT_EQ(Settings.MusicOn, 0);
  EXPECT_EQ(Stored().MusicOn, 0);
  EXPECT_GT(Count({446, 282, 470, 298}, kRedPixel), 0);  // "Off" stays red
}

TEST_F(Menu, CountryIsTypedUpToTenCharactersAndStoredWhenOptionsAreLeft) {
  Start();
  Open(2);
  Press(plat::VK_DOWN, 3);
  Press(plat::VK_RETURN);
  ASSERT_TRUE(TextEntryActive);
  Type("Ger-many 12XY");  // '-' is not taken; the text stops at ten characters
  EXPECT_EQ(Settings.Country.Text(), "Germany 12");
  EXPECT_GT(Count({400, 334, 480, 350}, kRedPixel), 0);
  // Backspace repeats while held: three key-downs, one key-up.
  Down(plat::VK_BACK);
  Down(plat::VK_BACK);
  Down(plat::VK_BACK);
  Up(plat::VK_BACK);
  RunFrames(1);
  EXPECT_EQ(Settings.Country.Text(), "Germany");
  EXPECT_EQ(Stored().Country.Text(), "");  // not written while editing
  // Leaving the row ends editing; typing then does nothing.
  Press(plat::VK_DOWN);
  EXPECT_FALSE(TextEntryActive);
  Type("x");
  EXPECT_EQ(Settings.Country.Text(), "Germany");
  Press(plat::VK_ESCAPE);
  EXPECT_EQ(MenuScreen, msMain);
  EXPECT_EQ(SelectedItem, 2);  // the entry that opened options
  EXPECT_TRUE(MenuItems[2]->Visible);
  EXPECT_EQ(SubBackground, nullptr);
  EXPECT_EQ(Stored().Country.Text(), "Germany");
}

TEST_F(Menu, BackspaceEmptiesTheCountryAndStopsThere) {
  Start();
  Settings.Country.Assign("ab");
  Open(2);
  Press(plat::VK_DOWN, 3);
  Press(plat::VK_RETURN);
  Press(plat::VK_BACK, 3);
  EXPECT_EQ(Settings.Country.Text(), "");
  Press(plat::VK_ESCAPE);  // Escape while editing leaves the screen
  EXPECT_FALSE(TextEntryActive);
  EXPECT_EQ(MenuScreen, msMain);
}

TEST_F(Menu, BossKeyCaptureRefusesModifiersAndKeepsTheNameOfUnnamedKeys) {
  Start();
  EXPECT_EQ(BossKeyName, "F12");
  Open(2);
  Press(plat::VK_DOWN, 4);
  Press(plat::VK_RETURN);
  ASSERT_EQ(MenuScreen, msBossKeyCapture);
  EXPECT_TRUE(ClosingWindow->Visible);
  for (uint16_t key : {plat::VK_SHIFT, plat::VK_CONTROL, plat::VK_MENU}) Press(key);
  EXPECT_EQ(MenuScreen, msBossKeyCapture);
  EXPECT_EQ(Settings.BossKey, plat::VK_F12);
  Press(plat::VK_NUMPAD0 + 5);
  EXPECT_EQ(MenuScreen, msOptions);
  EXPECT_FALSE(ClosingWindow->Visible);
  EXPECT_EQ(Settings.BossKey, plat::VK_NUMPAD0 + 5);
  EXPECT_EQ(BossKeyName, "F12");
  EXPECT_EQ(SelectedItem, 5);
  Press(plat::VK_RETURN);
  Press('B');
  EXPECT_EQ(Settings.BossKey, 'B');
  EXPECT_EQ(BossKeyName, "B");
  EXPECT_GT(Count({400, 361, 420, 377}, kRedPixel), 0);
  EXPECT_EQ(Stored().BossKey, plat::VK_F12);  // written when options are left
  Press(plat::VK_ESCAPE);
  EXPECT_EQ(Stored().BossKey, 'B');
  EXPECT_FALSE(Headless.Minimized());
}

TEST(BossKeyName, NamesTheKeysItKnows) {
  struct TCase {
    uint16_t Key;
    const char* Name;
  } cases[] = {{32, "Space"},      {'0', "0"},     {'9', "9"},      {'A', "A"},     {'Z', "Z"},
               {91, "Window Key"}, {112, "F1"},    {121, "F10"},    {123, "F12"},   {31, "before"},
               {58, "before"},     {92, "before"}, {111, "before"}, {124, "before"}};
  for (const TCase& c : cases) {
    BossKeyName = "before";
    Settings.BossKey = c.Key;
    UpdateBossKeyName();
    EXPECT_EQ(BossKeyName, c.Name) << c.Key;
  }
  Settings = TSettings{};
  BossKeyName.clear();
}

TEST_F(Menu, HighScoresShowTheTableAndClearItAfterYes) {
  Start();
  for (size_t k = 0; k < 10; ++k) {
    Settings.HighScores[k].EntryName.Assign('P' + std::to_string(k));
    Settings.HighScores[k].EntryScore = static_cast<uint16_t>(50 + k);
  }
  Open(3);
  ASSERT_EQ(MenuScreen, msHighScores);
  EXPECT_EQ(Headless.LastFrame[300 * plat::kFrameWidth + 212] & 0xFFFFFF, kBlackPixel);  // column rule
  EXPECT_GT(Count({140, 175, 200, 192}, kWhitePixel), 0);                                // "Place"
  for (int n = 1; n <= 10; ++n) EXPECT_GT(Count({220, 177 + 20 * n, 260, 193 + 20 * n}, kWhitePixel), 0) << n;
  EXPECT_GT(Count({144, 423, 200, 439}, kRedPixel), 0);  // "Back..." selected
  // Up wraps to "Clear high score"; "No" keeps the table.
  Press(plat::VK_UP);
  EXPECT_EQ(SelectedItem, 3);
  Press(plat::VK_RETURN);
  ASSERT_EQ(MenuScreen, msClearQuery);
  EXPECT_TRUE(ClosingWindow->Visible);
  EXPECT_GT(Count({355, 292, 390, 308}, kRedPixel), 0);  // "Yes"
  Press(plat::VK_ESCAPE);                                // selects "No", which stays selected on the way back
  EXPECT_EQ(MenuScreen, msHighScores);
  EXPECT_EQ(SelectedItem, 2);
  EXPECT_FALSE(ClosingWindow->Visible);
  EXPECT_EQ(Settings.HighScores[0].EntryName.Text(), "P0");
  Press(plat::VK_DOWN);
  Press(plat::VK_RETURN);
  Press(plat::VK_RETURN);  // "Yes"
  EXPECT_EQ(MenuScreen, msHighScores);
  EXPECT_FALSE(ClosingWindow->Visible);
  TSettings stored = Stored();
  EXPECT_EQ(stored.HighScores[0].EntryName.Text(), "Anonymous");
  EXPECT_EQ(stored.HighScores[0].EntryScore, 1000);
  EXPECT_EQ(stored.HighScores[9].EntryScore, 100);
  Press(plat::VK_ESCAPE);
  EXPECT_EQ(MenuScreen, msMain);
  EXPECT_EQ(SelectedItem, 3);
}

TEST_F(Menu, HelpPagesRunFromOneToSixAndStopAtBothEnds) {
  Start();
  Open(4);
  ASSERT_EQ(MenuScreen, msHelp);
  const TBox title{144, 178, 330, 200};
  std::vector<std::vector<uint32_t>> titles;
  auto checkPage = [&](int page) {
    EXPECT_EQ(HelpPage, page);
    EXPECT_EQ(HelpImage->Image, Form->DXImageList1.Items.PictureAt(page + 8));
    EXPECT_GT(Count(title, kBlackPixel), 0);
    titles.push_back(Cut(title));
  };
  checkPage(1);
  Press(plat::VK_RIGHT);  // "Previous" on page 1
  EXPECT_EQ(SelectedItem, 2);
  Press(plat::VK_RETURN);
  checkPage(1);
  Press(plat::VK_RIGHT);  // "Next"
  for (int page = 2; page <= 6; ++page) {
    Press(plat::VK_RETURN);
    checkPage(page);
  }
  Press(plat::VK_RETURN);  // "Next" on page 6
  checkPage(6);
  EXPECT_GT(Count({427, 422, 460, 438}, kRedPixel), 0);  // "Next" selected
  // Pages 2 and 3 share the title "Controls"; the others differ.
  EXPECT_EQ(titles[2], titles[3]);
  EXPECT_NE(titles[1], titles[2]);
  EXPECT_NE(titles[3], titles[4]);
  EXPECT_NE(titles[5], titles[6]);
  Press(plat::VK_ESCAPE);
  EXPECT_EQ(MenuScreen, msMain);
  EXPECT_EQ(SelectedItem, 4);
  EXPECT_EQ(HelpImage, nullptr);
  Press(plat::VK_RETURN);
  EXPECT_EQ(HelpPage, 1);  // help always opens on page 1
}

TEST_F(Menu, HoverSelectsInsideTheHotRectangleEdgesIncluded) {
  Start();
  // Entry 3 of the main menu: (255, 302), 290 x 52.
  struct TCase {
    int X, Y;
    bool Hit;
  } cases[] = {{255, 302, true},  {545, 354, true},  {400, 330, true}, {254, 330, false},
               {546, 330, false}, {400, 301, false}, {400, 355, false}};
  for (const TCase& c : cases) {
    MoveMouse(10, 10);
    SelectedItem = 1;
    MoveMouse(c.X, c.Y);
    EXPECT_EQ(MouseOverItem, c.Hit) << c.X << "," << c.Y;
    EXPECT_EQ(SelectedItem, c.Hit ? 3 : 1) << c.X << "," << c.Y;
  }
  // A click after leaving every item does nothing, though an item is still selected.
  MoveMouse(400, 330);
  MoveMouse(10, 10);
  Click();
  EXPECT_EQ(MenuScreen, msMain);
  EXPECT_EQ(SelectedItem, 3);
  // A click on an item performs it.
  MoveMouse(400, 250);
  EXPECT_TRUE(MenuItems[2]->Visible);
  Click();
  EXPECT_EQ(MenuScreen, msOptions);
  // "Back..." at (144, 417), 120 x 18: its bottom-right corner is inside.
  MoveMouse(264, 435);
  EXPECT_EQ(SelectedItem, 6);
  Click();
  EXPECT_EQ(MenuScreen, msMain);
  EXPECT_EQ(SelectedItem, 2);
}

TEST_F(Menu, QuitQuestionNoReturnsAndYesEndsTheProgram) {
  Start();
  Open(2);
  Headless.PushEvent({.Kind = TEventKind::Close});  // the window's close button
  RunFrames(2);
  ASSERT_EQ(MenuScreen, msQuitQuery);
  EXPECT_EQ(SelectedItem, 1);
  EXPECT_TRUE(ClosingWindow->Visible);
  EXPECT_GT(Count({355, 282, 390, 298}, kRedPixel), 0);  // "Yes"
  Press(plat::VK_RIGHT);
  EXPECT_EQ(SelectedItem, 2);
  EXPECT_GT(Count({405, 282, 435, 298}, kRedPixel), 0);  // "No"
  Press(plat::VK_RETURN);
  EXPECT_FALSE(Form->Closed());
  EXPECT_EQ(MenuScreen, msOptions);
  EXPECT_EQ(SelectedItem, 1);
  EXPECT_EQ(Game.GamePhase, gpMenu);
  EXPECT_FALSE(ClosingWindow->Visible);
  Press(plat::VK_ESCAPE);  // back to the main menu on "Options"
  Press(plat::VK_ESCAPE);  // the quit question
  ASSERT_EQ(MenuScreen, msQuitQuery);
  Press(plat::VK_RETURN);  // "Yes"
  EXPECT_TRUE(Form->Closed());
}

// A close request over an open question must leave a way back: "No" returns to a screen that can be
// left, never into the question itself.
TEST_F(Menu, NoAfterACloseRequestOverAQuestionReturnsToAScreenThatCanBeLeft) {
  struct TCase {
    int MainItem, Row;  // the main-menu entry and the row whose Enter opens the question
    TMenuScreen Question, Under;
  } cases[] = {
      {3, 3, msClearQuery, msHighScores}, {2, 5, msBossKeyCapture, msOptions}, {1, 1, msMain, msMain}};
  Start();
  for (const TCase& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.Question));
    if (c.Question != msMain) {
      Open(c.MainItem);
      Press(plat::VK_DOWN, c.Row - 1);
      Press(plat::VK_RETURN);
      ASSERT_EQ(MenuScreen, c.Question);
    }
    Headless.PushEvent({.Kind = TEventKind::Close});
    Headless.PushEvent({.Kind = TEventKind::Close});  // asked twice
    RunFrames(2);
    ASSERT_EQ(MenuScreen, msQuitQuery);
    Press(plat::VK_ESCAPE);  // "No"
    EXPECT_EQ(MenuScreen, c.Under);
    EXPECT_FALSE(ClosingWindow->Visible);
    Press(plat::VK_ESCAPE);
    EXPECT_EQ(MenuScreen, c.Under == msMain ? msQuitQuery : msMain);
    if (MenuScreen == msQuitQuery) Press(plat::VK_ESCAPE);
  }
  EXPECT_FALSE(Form->Closed());
}

TEST_F(Menu, TheLastEntryAsksToQuit) {
  Start();
  Open(6);
  EXPECT_EQ(MenuScreen, msQuitQuery);
  EXPECT_EQ(ReturnItem, 6);
  Press(plat::VK_ESCAPE);  // "No"
  EXPECT_EQ(MenuScreen, msMain);
  EXPECT_EQ(SelectedItem, 6);
  EXPECT_TRUE(MenuItems[6]->Visible);
  EXPECT_FALSE(Form->Closed());
}

TEST_F(Menu, AltEnterSwitchesTheModeAndSavesWithoutActivating) {
  Start();
  Down(plat::VK_MENU, true);
  Down(plat::VK_RETURN, true);
  Up(plat::VK_RETURN, true);
  Up(plat::VK_MENU);
  RunFrames(2);
  EXPECT_TRUE(Headless.FullScreen());
  EXPECT_EQ(Stored().WindowMode, 0);
  EXPECT_EQ(MenuScreen, msMain);
  Down(plat::VK_RETURN, true);
  Up(plat::VK_RETURN, true);
  RunFrames(2);
  EXPECT_FALSE(Headless.FullScreen());
  EXPECT_EQ(Stored().WindowMode, 1);
  EXPECT_EQ(MenuScreen, msMain);
}

TEST_F(Menu, TheBossKeyMinimisesAndTheMenuSongStops) {
  Start();
  ASSERT_NE(PlayingSong(), 0u);
  Press(plat::VK_F12);
  EXPECT_TRUE(Headless.Minimized());
  EXPECT_EQ(PlayingSong(), 0u);
  EXPECT_EQ(Game.GamePhase, gpMenu);
}

// The game keys, in a game started from the menu and past its level intro.
TEST_F(Menu, InAGamePPausesAndResumesAndTheBossKeyPausesAndMinimises) {
  Start();
  Press(plat::VK_RETURN);
  while (Game.GamePhase == gpLevelIntro) RunFrames(1);
  ASSERT_EQ(Game.GamePhase, gpPlaying);
  Press('P');
  EXPECT_EQ(Game.GamePhase, gpPause);
  EXPECT_EQ(Game.PhaseBeforePause, gpPlaying);
  EXPECT_GE(Headless.CursorCount, 0);
  Press('P');
  EXPECT_EQ(Game.GamePhase, gpPlaying);
  EXPECT_LT(Headless.CursorCount, 0);
  EXPECT_EQ(Headless.CursorX, 400);
  EXPECT_EQ(Headless.CursorY, 300);
  // Mouse travel during play steers the hero by half of it, and the pointer goes back to the centre.
  const int heroX = Game.Hero->X, heroY = Game.Hero->Y;
  MoveMouse(451, 250);
  EXPECT_EQ(Game.Hero->X, heroX + 25);
  EXPECT_EQ(Game.Hero->Y, heroY - 25);
  EXPECT_EQ(Headless.CursorX, 400);
  EXPECT_EQ(Headless.CursorY, 300);
  Headless.PushEvent({.Kind = TEventKind::MouseDown, .Button = plat::TMouseButton::Right});
  RunFrames(1);
  EXPECT_TRUE(Game.RightButtonDown);
  EXPECT_FALSE(Game.LeftButtonDown);
  // Escape asks "Exit the game?"; "No" goes back to play and hides the pointer again.
  Press(plat::VK_ESCAPE);
  ASSERT_EQ(Game.GamePhase, gpExitQuery);
  EXPECT_EQ(MenuScreen, msQuitQuery);
  EXPECT_GE(Headless.CursorCount, 0);
  Press(plat::VK_RIGHT);
  Press(plat::VK_RETURN);
  EXPECT_EQ(Game.GamePhase, gpPlaying);
  EXPECT_EQ(MenuScreen, msMain);
  EXPECT_LT(Headless.CursorCount, 0);
  Press(plat::VK_F12);
  EXPECT_EQ(Game.GamePhase, gpPause);
  EXPECT_EQ(Game.PhaseBeforePause, gpPlaying);
  EXPECT_TRUE(Headless.Minimized());
  EXPECT_GE(Headless.CursorCount, 0);
}

// Plays a game from the menu into the name entry: the last life lost with a score that places.
void LoseTheLastLife(const std::function<void()>& ticks) {
  Game.Lives = 1;
  Game.Score = 950;
  Game.Hero->HealthPoints = 0;
  for (int i = 0; i < 400 && Game.GamePhase != gpNameEntry; ++i) ticks();
}

// Keys still down from play, the arrows and fire, do not act on the name entry until released and
// pressed again: neither their auto-repeat nor the blanks a held Space types.
TEST_F(Menu, KeysHeldFromPlayDoNotActOnTheNameEntryUntilPressedAgain) {
  Start();
  Press(plat::VK_RETURN);
  Down(plat::VK_DOWN);  // steering down and firing with both keys as the last life goes
  Down(plat::VK_SPACE);
  Down(plat::VK_CONTROL);
  LoseTheLastLife([this] { RunFrames(1); });
  ASSERT_EQ(Game.GamePhase, gpNameEntry);
  ASSERT_EQ(SelectedItem, 1);
  Up(plat::VK_CONTROL);  // a key-up ends the latch that held the other keys' repeats back before
  for (int repeat = 0; repeat < 3; ++repeat) {
    Down(plat::VK_DOWN);
    Down(plat::VK_SPACE);
    Headless.PushEvent({.Kind = TEventKind::KeyPress, .Char = ' '});
    RunFrames(1);
  }
  EXPECT_EQ(SelectedItem, 1);
  EXPECT_TRUE(TextEntryActive);
  EXPECT_EQ(NewEntry.EntryName.Text(), "");
  Up(plat::VK_SPACE);
  Type("Ace");
  EXPECT_EQ(NewEntry.EntryName.Text(), "Ace");
  Up(plat::VK_DOWN);
  Press(plat::VK_DOWN);  // released and pressed again: it moves
  EXPECT_EQ(SelectedItem, 2);
}

// The caret: a bar just after the name while the name takes typing, 16 frames on and 16 off; none in
// the name once "OK" or "Cancel" is selected (editing stops there) nor back on the name until Enter.
TEST_F(Menu, TheNameFieldShowsACaretWhileItTakesTyping) {
  Start();
  Press(plat::VK_RETURN);
  LoseTheLastLife([this] { RunFrames(1); });
  ASSERT_EQ(Game.GamePhase, gpNameEntry);
  ASSERT_TRUE(TextEntryActive);
  // Red pixels in each of 32 frames, in the 12 pixels after the name (centred on x 400, at y 260).
  auto caretFrames = [this](const std::string& name) {
    TDirectDrawSurfaceCanvas& canvas = Form->DXDraw.Surface.SurfaceCanvas();
    const int width = canvas.TextWidth(name);  // the frame's font, size 14, is still set
    canvas.ReleaseCanvas();
    const int right = 400 - width / 2 + width;
    int shown = 0;
    for (int frame = 0; frame < 32; ++frame) {
      RunFrames(1);
      shown += Count({right, 258, right + 12, 284}, kRedPixel) > 8;
    }
    return shown;
  };
  EXPECT_EQ(caretFrames(""), 16);  // empty: the caret alone shows where typing goes
  Type("Ace");
  EXPECT_EQ(caretFrames("Ace"), 16);
  Press(plat::VK_DOWN, 3);  // "Cancel"
  EXPECT_FALSE(TextEntryActive);
  EXPECT_EQ(caretFrames("Ace"), 0);
  Press(plat::VK_DOWN);  // round to the name: Enter starts editing again
  EXPECT_EQ(caretFrames("Ace"), 0);
  Press(plat::VK_RETURN);
  EXPECT_EQ(caretFrames("Ace"), 16);
}

TEST_F(Menu, TheWebEntriesOpenTheServersPagesAndStayPut) {
  WriteFile("server.url", "http://localhost:8080\n");
  Start();
  Open(5);
  EXPECT_EQ(Headless.OpenedDocuments, std::vector<std::string>{"http://localhost:8080/"});
  EXPECT_EQ(MenuScreen, msMain);
  EXPECT_EQ(SelectedItem, 5);
  Press(plat::VK_UP, 2);
  Press(plat::VK_RETURN);
  Press(plat::VK_RIGHT);
  Press(plat::VK_RETURN);
  Press(plat::VK_RETURN);
  const std::string page = "http://localhost:8080/cgi/version.pl?prg=Pellorin&show&type=0";
  EXPECT_EQ(Headless.OpenedDocuments, (std::vector<std::string>{"http://localhost:8080/", page, page}));
  EXPECT_EQ(MenuScreen, msHighScores);
  EXPECT_EQ(SelectedItem, 2);
}

}  // namespace
