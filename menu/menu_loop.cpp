#include "menu/menu_loop.h"

#include <string>

#include "engine/canvas.h"
#include "engine/display.h"
#include "engine/image_archive.h"
#include "engine/input.h"
#include "engine/sprite_engine.h"
#include "menu/menu_host.h"
#include "menu/menu_sprites.h"
#include "menu/menu_state.h"
#include "music/music.h"
#include "settings/settings.h"

namespace {

constexpr int32_t kBlack = 0;
constexpr int32_t kRed = 255;
constexpr int32_t kWhite = 0xFFFFFF;
constexpr int32_t kGreen = 43 | (156 << 8) | (21 << 16);

int32_t SelectionColor(int item) { return item == SelectedItem ? kRed : kBlack; }

void Text(TDirectDrawSurfaceCanvas& canvas, int x, int y, const std::string& text, int32_t color) {
  canvas.Font.Color = color;
  canvas.TextOut(x, y, text);
}

// The text cursor of a field that takes typing: a bar two pixels wide and as high as the letters, just
// after the field's text drawn at (x, y). A drawn bar rather than the font's "|", which many faces make a
// hairline that blends away to almost nothing.
void Caret(TDirectDrawSurfaceCanvas& canvas, int x, int y, const std::string& text, int32_t color) {
  const int left = x + canvas.TextWidth(text) + 1;
  const int height = canvas.TextHeight(text);
  canvas.Pen.Style = psSolid;
  canvas.Pen.Width = 1;
  canvas.Pen.Color = color;
  for (int column = left; column < left + 2; ++column) {
    canvas.MoveTo(column, y + height / 6);
    canvas.LineTo(column, y + height - height / 6);
  }
}

// "first" at x 400 and "second" at x 400 + offset, the current value red.
void ValueRow(TDirectDrawSurfaceCanvas& canvas, int y, bool firstIsCurrent, const char* first,
              int firstOffset, const char* firstSlash, const char* second, int secondOffset,
              const char* slashSecond) {
  if (firstIsCurrent) {
    Text(canvas, 400, y, first, kRed);
    Text(canvas, 400 + firstOffset, y, slashSecond, kBlack);
  } else {
    Text(canvas, 400, y, firstSlash, kBlack);
    Text(canvas, 400 + secondOffset, y, second, kRed);
  }
}

void PaintOptions(TDirectDrawSurfaceCanvas& canvas) {
  canvas.Font.Size = 16;
  Text(canvas, 144, 178, "Options", kBlack);
  canvas.Font.Size = 14;
  const char* labels[] = {"Display:", "Music:", "Sound:", "Your Country:", "Boss Key:"};
  for (int row = 0; row < 5; ++row)
    Text(canvas, 144, ItemTop[msOptions - 1][static_cast<size_t>(row)], labels[row], kBlack);
  ValueRow(canvas, 254, Settings.WindowMode == 1, "Window", 93, "Window /", "Full Screen", 105,
           "/ Full Screen");
  ValueRow(canvas, 280, Settings.MusicOn != 0, "On", 34, "On /", "Off", 46, "/ Off");
  ValueRow(canvas, 306, Settings.SoundOn != 0, "On", 34, "On /", "Off", 46, "/ Off");

  std::string country = Settings.Country.Text();
  if (TextEntryActive) {
    ++BlinkCounter;
    if (BlinkCounter % 32 >= 16) country = (country + "|").substr(0, 11);
  }
  Text(canvas, 400, 332, country, kRed);
  Text(canvas, 400, 359, BossKeyName, kRed);
  Text(canvas, 144, 417, "Back...", SelectionColor(6));

  if (SelectedItem != 6) {
    canvas.Pen.Width = 2;
    canvas.Pen.Color = kRed;
    canvas.Rectangle(390, 226 + 26 * SelectedItem, 650, 254 + 26 * SelectedItem);
  }
}

void PaintHighScores(TDirectDrawSurfaceCanvas& canvas) {
  canvas.Pen.Color = kBlack;
  canvas.Pen.Width = 4;
  canvas.Rectangle(134, 173, 662, 397);
  canvas.Pen.Width = 2;
  for (int x : {212, 482}) {
    canvas.MoveTo(x, 173);
    canvas.LineTo(x, 397);
  }
  canvas.Font.Size = 14;
  Text(canvas, 140, 173, "Place", kWhite);
  Text(canvas, 220, 173, "Name", kWhite);
  Text(canvas, 490, 173, "Score", kWhite);
  canvas.Font.Size = 12;
  for (int n = 1; n <= 10; ++n) {
    int y = 175 + 20 * n;
    const THighScoreEntry& entry = Settings.HighScores[static_cast<size_t>(n - 1)];
    canvas.MoveTo(134, y);
    canvas.LineTo(662, y);
    Text(canvas, 140, y, std::to_string(n), kWhite);
    Text(canvas, 220, y, entry.EntryName.Text(), kWhite);
    Text(canvas, 490, y, std::to_string(entry.EntryScore), kWhite);
  }
  canvas.Font.Size = 14;
  Text(canvas, 144, 421, "Back...", SelectionColor(1));
  Text(canvas, 267, 403, "View world's high score", SelectionColor(2));
  Text(canvas, 281, 428, "Clear high score", SelectedItem == 3 ? kRed : kGreen);
}

void PaintHelp(TDirectDrawSurfaceCanvas& canvas) {
  canvas.Font.Size = 16;
  Text(canvas, 144, 178, HelpTitles[static_cast<size_t>(HelpPage - 1)], kBlack);
  canvas.Font.Size = 14;
  Text(canvas, 144, 420, "Back...", SelectionColor(1));
  Text(canvas, 286, 420, "Previous", SelectionColor(2));
  Text(canvas, 427, 420, "Next", SelectionColor(3));
}

void YesNo(TDirectDrawSurfaceCanvas& canvas, int y) {
  Text(canvas, 355, y, "Yes", SelectionColor(1));
  Text(canvas, 395, y, "/", kBlack);
  Text(canvas, 405, y, "No", SelectedItem == 1 ? kBlack : kRed);
}

void Save() { SaveSettingsScrambled(); }

void EnterSubScreen(TMenuHost& host) {
  DestroyMenu();
  MenuScreen = static_cast<TMenuScreen>(SelectedItem);
  LastMainItem = SelectedItem;
  SelectedItem = 1;
  CreateSubMenu(host);
}

void ShowHelpPage(TMenuHost& host) {
  TPictureCollectionItem* picture = host.ImageList().Items.PictureAt(HelpPage + 8);
  HelpImage->Image = picture;
  HelpImage->Width = picture->EffectiveWidth();
  HelpImage->Height = picture->EffectiveHeight();
}

void OpenQuestion(TMenuScreen question) {
  ReturnScreen = MenuScreen;
  MenuScreen = question;
  ShowClosingWindow(true);
}

void PlayMenuSound(TMenuHost& host) {
  if (Settings.SoundOn) host.PlaySound("menu");
}

void ActivateMain(TMenuHost& host) {
  switch (SelectedItem) {
    case 1:
      host.StartGame();
      break;
    case 2:
    case 3:
      EnterSubScreen(host);
      break;
    case 4:
      EnterSubScreen(host);
      HelpPage = 1;
      HelpImage = new THelpImageSprite(&host.SpriteRoot(), host.ImageList().Items);
      break;
    case 5:
      host.OpenHomePage();
      break;
    case 6:
      host.RequestClose();
      break;
    default:
      break;
  }
}

void ActivateOptions(TMenuHost& host) {
  switch (SelectedItem) {
    case 1:
      Settings.WindowMode = static_cast<uint8_t>(1 - Settings.WindowMode);
      host.ChangeMode();
      Save();
      break;
    case 2:
      Settings.MusicOn = static_cast<uint8_t>(1 - Settings.MusicOn);
      if (Settings.MusicOn)
        host.StartMusic(kMenuSong);
      else
        SongStop(CurrentSong);
      Save();
      break;
    case 3:
      Settings.SoundOn = static_cast<uint8_t>(1 - Settings.SoundOn);
      Save();
      break;
    case 4:
      TextEntryActive = !TextEntryActive;
      break;
    case 5:
      OpenQuestion(msBossKeyCapture);
      break;
    case 6:
      Save();
      ReturnToMainMenu(host);
      break;
    default:
      break;
  }
}

void ActivateHighScores(TMenuHost& host) {
  switch (SelectedItem) {
    case 1:
      ReturnToMainMenu(host);
      break;
    case 2:
      host.OpenWorldHighScorePage();
      break;
    case 3:
      OpenQuestion(msClearQuery);
      SelectedItem = 1;
      break;
    default:
      break;
  }
}

void ActivateHelp(TMenuHost& host) {
  switch (SelectedItem) {
    case 1:
      delete HelpImage;
      HelpImage = nullptr;
      ReturnToMainMenu(host);
      break;
    case 2:
      if (HelpPage > 1) --HelpPage;
      ShowHelpPage(host);
      break;
    case 3:
      if (HelpPage < 6) ++HelpPage;
      ShowHelpPage(host);
      break;
    default:
      break;
  }
}

void ActivateQuitQuery(TMenuHost& host) {
  if (SelectedItem == 1) {
    QuitConfirmed = true;
    MenuScreen = ReturnScreen;
    host.RequestClose();
  } else if (SelectedItem == 2) {
    MenuScreen = ReturnScreen;
    SelectedItem = ReturnItem;
    ShowClosingWindow(false);
    host.QuitQueryDeclined();
  }
}

void ActivateClearQuery() {
  if (SelectedItem == 1) {
    ResetHighScores();
    Save();
  } else if (SelectedItem != 2) {
    return;
  }
  MenuScreen = ReturnScreen;
  ShowClosingWindow(false);
}

// The name and country fields, "OK" and "Cancel" of the end-of-game entry.
void ActivateNameEntry(TMenuHost& host) {
  switch (SelectedItem) {
    case 1:
      if (TextEntryActive) {
        SelectedItem = 3;
        ActivateItem(host);
        TextEntryActive = false;
      } else {
        TextEntryActive = true;
      }
      break;
    case 2:
      TextEntryActive = !TextEntryActive;
      break;
    case 3:
      host.NameEntryConfirmed();
      MenuScreen = msSendQuery;
      SelectedItem = 1;
      break;
    case 4:
      host.BackToMenu();
      break;
    default:
      break;
  }
}

}  // namespace

void PaintMenuScreen(TDirectDrawSurfaceCanvas& canvas) {
  canvas.Font.Size = 14;
  switch (MenuScreen) {
    case msOptions:
      PaintOptions(canvas);
      break;
    case msHighScores:
      PaintHighScores(canvas);
      break;
    case msHelp:
      PaintHelp(canvas);
      break;
    case msQuitQuery:
      Text(canvas, 240, 240, "Do you really want to quit?", kBlack);
      YesNo(canvas, 280);
      break;
    case msClearQuery:
      Text(canvas, 270, 230, "Do you really want to", kBlack);
      Text(canvas, 290, 260, "clear high score?", kBlack);
      YesNo(canvas, 290);
      break;
    case msBossKeyCapture:
      Text(canvas, 285, 250, "Press any key to set", kBlack);
      Text(canvas, 320, 270, "new boss key", kBlack);
      break;
    default:
      break;
  }
}

void OpenNameEntryScreen() {
  MenuScreen = msNameEntry;
  SelectedItem = 1;
  TextEntryActive = true;
}

void PaintGameItemScreen(TDirectDrawSurfaceCanvas& canvas, uint16_t score) {
  canvas.Font.Size = 14;
  switch (MenuScreen) {
    case msNameEntry: {
      Text(canvas, 300, 190, "Your scores is " + std::to_string(score), kBlack);
      Text(canvas, 260, 230, "Please, enter your name:", kBlack);
      const std::string label = "Your Country: ";
      const std::string country = Settings.Country.Text();
      const int left = 400 - canvas.TextWidth(label + country) / 2;
      const int valueX = left + canvas.TextWidth(label);
      Text(canvas, left, 320, "Your Country:", kBlack);
      ++BlinkCounter;
      const bool caretOn = TextEntryActive && BlinkCounter % 32 < 16;
      const std::string name = NewEntry.EntryName.Text();
      const int nameX = 400 - canvas.TextWidth(name) / 2;
      Text(canvas, nameX, 260, name, SelectionColor(1));
      Text(canvas, valueX, 320, country, SelectionColor(2));
      if (caretOn && SelectedItem == 1) Caret(canvas, nameX, 260, name, SelectionColor(1));
      if (caretOn && SelectedItem == 2) Caret(canvas, valueX, 320, country, SelectionColor(2));
      Text(canvas, 325, 360, "OK", SelectionColor(3));
      Text(canvas, 410, 360, "Cancel", SelectionColor(4));
      break;
    }
    case msSendQuery:
      Text(canvas, 290, 240, "Send the result to", kBlack);
      Text(canvas, 260, 280, "world's highscore page?", kBlack);
      YesNo(canvas, 320);
      break;
    case msQuitQuery:
      Text(canvas, 320, 240, "Exit the game?", kBlack);
      YesNo(canvas, 280);
      break;
    default:
      break;
  }
}

void MenuFrame(TDXDraw& display, TDXSpriteEngine& sprites, TDXInput& input, int lagCount) {
  if (!display.CanDraw()) return;
  input.UpdateInput();
  sprites.Tick(lagCount);
  sprites.ReapDead();
  sprites.Paint(0);  // over black
  TDirectDrawSurfaceCanvas& canvas = display.Surface.SurfaceCanvas();
  canvas.SetFrameTextStyle("Cargo", 14);
  PaintMenuScreen(canvas);
  canvas.ReleaseCanvas();
  display.FlipDisplay();
}

void SelectPrevious(TMenuHost& host) {
  SelectedItem =
      SelectedItem > 1 ? static_cast<uint8_t>(SelectedItem - 1) : static_cast<uint8_t>(ItemsOf(MenuScreen));
  PlayMenuSound(host);
  UpdateHighlight();
}

void SelectNext(TMenuHost& host) {
  SelectedItem = SelectedItem < ItemsOf(MenuScreen) ? static_cast<uint8_t>(SelectedItem + 1) : uint8_t{1};
  PlayMenuSound(host);
  UpdateHighlight();
}

void MenuHover(TMenuHost& host, int x, int y) {
  MouseOverItem = false;
  for (int i = 1; i <= ItemsOf(MenuScreen); ++i) {
    if (!ItemHit(MenuScreen, i, x, y)) continue;
    if (i != SelectedItem && Settings.SoundOn) host.PlaySound("menu");
    SelectedItem = static_cast<uint8_t>(i);
    MouseOverItem = true;
    UpdateHighlight();
    return;
  }
}

void MenuClick(TMenuHost& host) {
  if (MouseOverItem) ActivateItem(host);
}

void ActivateItem(TMenuHost& host) {
  PlayMenuSound(host);
  switch (MenuScreen) {
    case msMain:
      ActivateMain(host);
      break;
    case msOptions:
      ActivateOptions(host);
      break;
    case msHighScores:
      ActivateHighScores(host);
      break;
    case msHelp:
      ActivateHelp(host);
      break;
    case msQuitQuery:
      ActivateQuitQuery(host);
      break;
    case msClearQuery:
      ActivateClearQuery();
      break;
    case msNameEntry:
      ActivateNameEntry(host);
      break;
    case msSendQuery:
      if (SelectedItem == 1)
        host.SubmitScore();
      else if (SelectedItem == 2)
        host.BackToMenu();
      break;
    default:
      break;
  }
}
