// --fullscreen and --window: the display mode for one run, which config.dat does not take over until the
// player changes the mode in the game.
#include "app/main_form.h"
#include "settings/settings.h"
#include "tests/support/game_test.h"

namespace {

using plat::TEventKind;

class RunMode : public TGameTest {
 protected:
  void SetUp() override {
    TGameTest::SetUp();
    InstallGameData();
  }
  void StoreWindowMode(uint8_t mode) {
    LoadSettings();
    Settings.WindowMode = mode;
    SaveSettingsScrambled();
    ResetSettingsState();
  }
  void AltEnter(TmainForm& form) {
    Headless.PushEvent({.Kind = TEventKind::KeyDown, .Key = plat::VK_RETURN, .Alt = true});
    Headless.PushEvent({.Kind = TEventKind::KeyUp, .Key = plat::VK_RETURN, .Alt = true});
    form.ProcessMessages();
  }
  char StoredModeByte() { return ReadFile("config.dat").at(0); }  // the mode XOR 1
};

TEST_F(RunMode, FullScreenForOneRunKeepsTheStoredWindowUntilThePlayerSwitches) {
  StoreWindowMode(1);
  SetWindowModeForRun(0);
  TmainForm form;
  EXPECT_TRUE(Headless.FullScreen());
  Settings.SoundOn = 0;  // any save on the way
  SaveSettingsScrambled();
  EXPECT_EQ(StoredModeByte(), '\x00');
  EXPECT_EQ(ReadFile("config.dat").at(2), '\x01');
  // Alt+Enter twice: a window, then full screen again, now the player's choice, which is kept.
  AltEnter(form);
  EXPECT_FALSE(Headless.FullScreen());
  EXPECT_EQ(StoredModeByte(), '\x00');
  AltEnter(form);
  EXPECT_TRUE(Headless.FullScreen());
  EXPECT_EQ(StoredModeByte(), '\x01');
}

TEST_F(RunMode, WindowForOneRunOverAStoredFullScreen) {
  StoreWindowMode(0);
  SetWindowModeForRun(1);
  TmainForm form;
  EXPECT_FALSE(Headless.FullScreen());
  EXPECT_EQ(Settings.WindowMode, 1);
  Settings.MusicOn = 0;
  SaveSettingsScrambled();
  EXPECT_EQ(StoredModeByte(), '\x01');
}

TEST_F(RunMode, FirstStartWithAModeWritesTheDefaultWindowMode) {
  SetWindowModeForRun(0);
  TmainForm form;
  EXPECT_TRUE(Headless.FullScreen());
  EXPECT_EQ(StoredModeByte(), '\x00');
}

}  // namespace
