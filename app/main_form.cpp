#include "app/main_form.h"

#include <cstdio>
#include <ctime>
#include <exception>
#include <optional>
#include <string>

#include "app/kept_replays.h"
#include "app/keyboard_mouse.h"
#include "app/window_placement.h"
#include "engine/canvas.h"
#include "engine/rtl.h"
#include "game/game_field.h"
#include "game/game_input.h"
#include "game/game_services.h"
#include "game/game_state.h"
#include "game/replay.h"
#include "menu/menu_loop.h"
#include "menu/menu_sprites.h"
#include "menu/menu_state.h"
#include "music/music.h"
#include "online/score_submission.h"
#include "online/web_links.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "settings/settings.h"

using plat::Platform;
using plat::TEvent;
using plat::TEventKind;

namespace {

constexpr const char* kCaption = "Pellorin";
constexpr int kStillRefreshTicks = 15;  // a still pause's picture is presented again every 240 ms

// The keys of the form's input states, as stored: three slots per state.
void SetFormAssigns(TKeyboard& keyboard) {
  keyboard.Assigns.fill(0);
  auto set = [&keyboard](int state, int a, int b, int c) {
    keyboard.Assigns[static_cast<size_t>(state * 3)] = a;
    keyboard.Assigns[static_cast<size_t>(state * 3 + 1)] = b;
    keyboard.Assigns[static_cast<size_t>(state * 3 + 2)] = c;
  };
  set(isUp, 'W', plat::VK_UP, plat::VK_NUMPAD0 + 8);
  set(isDown, 'S', plat::VK_DOWN, plat::VK_NUMPAD0 + 2);
  set(isLeft, 'A', plat::VK_LEFT, plat::VK_NUMPAD0 + 4);
  set(isRight, 'D', plat::VK_RIGHT, plat::VK_NUMPAD0 + 6);
  set(isButton1, 'Z', plat::VK_SPACE, 0);
  set(isButton2, plat::VK_SHIFT, plat::VK_RETURN, 0);
  set(isButton9, plat::VK_F2, 0, 0);
}

}  // namespace

void SayWhenSilent(TDXSound& sound) {
  if (!sound.Initialized())
    std::fprintf(stderr, "pellorin: no sound device, the game plays without sound (%s)\n",
                 sound.Output() ? sound.Output()->Problem().c_str() : "no output");
}

void SetCursorVisible(bool visible) {
  int count = Platform().ShowCursor(true);
  if (visible) {
    while (count < 0) count = Platform().ShowCursor(true);
  } else {
    while (count >= 0) count = Platform().ShowCursor(false);
  }
}

void OpenPlayUrl() {
  std::string path = plat::UserFilePath("play.url");
  if (!plat::FileExists(path)) return;
  std::vector<uint8_t> bytes;
  std::string error;
  if (plat::ReadFileBytes(path, bytes, error)) {
    std::string text(bytes.begin(), bytes.end());
    size_t at = 0;
    while (at < text.size()) {
      size_t end = text.find_first_of("\r\n", at);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(at, end - at);
      if (line.rfind("URL=", 0) == 0 && line.size() > 4) {
        Platform().OpenDocument(line.substr(4));
        return;
      }
      at = end + 1;
    }
  }
  Platform().OpenDocument(plat::AbsolutePath(path));
}

TmainForm::TmainForm() {
  plat::ReturnLargeBlocksWhenFreed();  // the archives swapped at each game do not pile up
  DXDraw.SetOptions(OptionBit(doAllowReboot) | OptionBit(doWaitVBlank) | OptionBit(doCenter) |
                    OptionBit(doFlip) | OptionBit(doDirectX7Mode) | OptionBit(doHardware) |
                    OptionBit(doSelectDriver));
  DXTimer1.SetActiveOnly(true);
  DXTimer1.SetInterval(16);
  DXTimer1.OnTimer = [this](TDXTimer& t, int lag) { DXTimer1Timer(t, lag); };
  DXTimer1.OnActivate = [this](TDXTimer& t) { DXTimer1Activate(t); };
  DXTimer1.OnDeactivate = [this](TDXTimer& t) { DXTimer1Deactivate(t); };
  DXInput1.ActiveOnly = true;
  SetFormAssigns(DXInput1.Keyboard);
  for (int axis = 0; axis < 3; ++axis) {
    DXInput1.Joystick.SetDeadZone(axis, 50);
    DXInput1.Joystick.SetRange(axis, 1000);
  }
  DXTimer2.SetActiveOnly(false);
  DXTimer2.SetEnabled(false);
  DXTimer2.SetInterval(16);
  DXTimer2.OnTimer = [this](TDXTimer& t, int lag) { DXTimer2Timer(t, lag); };
  DXTimer2.OnActivate = [this](TDXTimer& t) { DXTimer2Activate(t); };
  DXTimer2.OnDeactivate = [this](TDXTimer& t) { DXTimer2Deactivate(t); };

  DXSpriteEngine1.SetDXDraw(&DXDraw);
  DXImageList1.SetDXDraw(&DXDraw);
  // Surfaces made again or restored no longer hold the pause's picture.
  DXDraw.RegisterNotifyEvent(this, [this](TDXDraw&, TDXDrawNotifyType) { PauseFrameKept = false; });
  DXWaveList1.BindSound(&DXSound1);
  DXSound1.Initialize(Platform().OpenAudio());
  AttachMusicOutput(&DXSound1);
  SayWhenSilent(DXSound1);

  PlacementKept = LoadWindowPlacement(KeptPlacement);
  if (PlacementKept) Platform().PlaceWindow(KeptPlacement);
  Platform().OpenWindow(kCaption);
  Platform().SetIcon(plat::ResolvePath("data\\icon.png"));
  DXTimer1.Loaded();
  DXTimer2.Loaded();
  Guarded([this] { FormCreate(); });
  // Start-up normally initialised the display already; if it stopped short, showing the window does.
  Guarded([this] { DXDraw.WindowShown(); });
}

TmainForm::~TmainForm() {
  // The window's size and place for the next start; written only when they changed.
  const plat::TWindowPlacement placement = Platform().WindowPlacement();
  std::string error;
  if (Platform().WindowOpen() && !(PlacementKept && placement == KeptPlacement) &&
      !SaveWindowPlacement(placement, error))
    std::fprintf(stderr, "pellorin: the window's size and place are not kept: %s\n", error.c_str());
  DXDraw.UnRegisterNotifyEvent(this);
  DXTimer1.SetEnabled(false);
  DXTimer2.SetEnabled(false);
  SongStop(CurrentSong);
  AttachMusicOutput(nullptr);
  DXWaveList1.BindSound(nullptr);
  DXSpriteEngine1.Engine.Clear();
  ForgetMenuSprites();
  ForgetGameSprites();
  SetGameHost(nullptr);
}

void TmainForm::Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    Platform().MessageBox(error.what(), kCaption);
  }
}

void TmainForm::FormCreate() {
  DXWaveList1.LoadWaveArchive("sound\\gamesound.dxw");
  RandSeedSet(Platform().ClockSeed());
  LoadSettings();
  UpdateBossKeyName();
  ChangeMode();
  DXInput1.Keyboard.Assigns[isButton1 * 3] = plat::VK_CONTROL;
  DXTimer2.SetEnabled(false);
  DXTimer1.SetEnabled(true);
  Game.PhaseBeforePause = gpMenu;
  Game.GamePhase = gpMenu;
  CreateMenuField(*this);
  Challenges.Fetch(ServerAddress());
}

// The platform's window keeps its own placement: leaving full screen gives back the window's border, size
// and place, and going full screen drops the border.
void TmainForm::ChangeMode() {
  DXDraw.FinalizeDisplay();
  if (Settings.WindowMode == 1) {
    Platform().SetFullScreen(false);
    DXDraw.SetOptions(static_cast<TDXDrawOptions>(DXDraw.Options() & ~OptionBit(doFullScreen)));
  } else {
    DXDraw.SetOptions(static_cast<TDXDrawOptions>(DXDraw.Options() | OptionBit(doFullScreen)));
  }
  DXDraw.InitializeDisplay();
}

void TmainForm::WMGetSysCommand(uint32_t command) {
  if (command == kScMaximize) {
    Settings.WindowMode = 0;
    ChangeMode();
    SaveSettingsScrambled();
  } else if (command == kScMinimize) {
    Platform().Minimize();
  }
}

void TmainForm::FormClose(bool& allowClose) {
  if (!QuitConfirmed) {
    allowClose = false;
    // Nothing can be asked over "Game over" or while the result is on its way.
    if (Game.GamePhase == gpGameOver || Game.GamePhase == gpSending) return;
    // Asked again while the question is open: it stays as it is. Saving the question as the screen to
    // return to would make "No" come back to the question itself, for ever.
    if (MenuScreen == msQuitQuery) return;
    // The clear question and the boss-key prompt return to the screen under them; the quit question
    // takes their place, so "No" goes back to that screen rather than into a prompt with no way out.
    if (MenuScreen == msClearQuery || MenuScreen == msBossKeyCapture) MenuScreen = ReturnScreen;
    ReturnScreen = MenuScreen;
    ReturnItem = SelectedItem;
    MenuScreen = msQuitQuery;
    SelectedItem = 1;
    if (ExitQueryPhase()) {
      OpenExitQuery(*this);
    } else {
      Game.PhaseBeforeExitQuery = Game.GamePhase;
      ShowClosingWindow(true);
    }
    return;
  }
  if (Game.GamePhase == gpExitQuery) {
    allowClose = false;
    QuitConfirmed = false;
    ConfirmExitQuery(*this);
    return;
  }
  allowClose = true;
}

void TmainForm::Close() {
  bool allowClose = true;
  FormClose(allowClose);
  if (allowClose) IsClosed = true;
}

void TmainForm::DXTimer1Timer(TDXTimer&, int lagCount) {
  MenuFrame(DXDraw, DXSpriteEngine1, DXInput1, lagCount);
}

// A paused game draws the same picture tick after tick; drawing, hashing for the replay and presenting it
// at 60 frames a second cost more than play. Once one paused frame is drawn, the ticks after it only
// record themselves with that frame (as the replay's verifier counts paused ticks) until an event comes.
void TmainForm::DXTimer2Timer(TDXTimer& sender, int lagCount) {
  if (!DXDraw.CanDraw()) return;  // as the game frame would; a restore here drops the kept picture
  // A level whose kills are met starts in the next tick, paused or not.
  if (Game.GamePhase == gpPause && PauseFrameKept && Game.LevelKills < Game.Level * 10) {
    StillPauseTick(lagCount);
    return;
  }
  GameFrame(*this, DXDraw, DXSpriteEngine1, DXInput1, sender, lagCount);
  PauseFrameKept = Game.GamePhase == gpPause;
  StillTicks = 0;
}

void TmainForm::StillPauseTick(int lagCount) {
  DXInput1.UpdateInput();
  Game.Input = ReplayTickInput(*this, DXDraw, DXInput1.States, lagCount);
  ReplayFrameDrawn(DXDraw);
  // Now and then the picture is shown again, for a window uncovered or resized meanwhile.
  if (++StillTicks >= kStillRefreshTicks) {
    StillTicks = 0;
    DXDraw.FlipDisplay();
  }
}

void TmainForm::CreateGameField() {
  ForgetMenuSprites();
  ::CreateGameField(*this);
}

void StartMusic(const char* path) {
  CurrentSong = SongLoadFromFile(path);
  if (CurrentSong == 0) {
    Platform().MessageBox("Can't load music.", kCaption);
    Settings.MusicOn = 0;
    return;
  }
  SongPlay(CurrentSong);
}

void TmainForm::PlaySound(const char* name) { DXWaveList1.FindWave(name)->PlayWave(false); }

void TmainForm::StartMusic(const char* path) { ::StartMusic(path); }

void TmainForm::SetCursorVisible(bool visible) { ::SetCursorVisible(visible); }

void TmainForm::OpenHomePage() { ::OpenHomePage(); }

void TmainForm::OpenWorldHighScorePage() { ::OpenWorldHighScorePage(); }

void TmainForm::BackToMenu() {
  KeepGameReplay(std::time(nullptr));
  Game.GamePhase = gpMenu;
  DXSpriteEngine1.Engine.Clear();
  ForgetMenuSprites();
  ForgetGameSprites();
  DXTimer2.SetEnabled(false);
  CreateMenuField(*this);
  DXTimer1.SetEnabled(true);
  plat::ReleaseFreeMemory();          // the game's pictures are gone
  Challenges.Fetch(ServerAddress());  // for the next game
}

bool TmainForm::MenuPhase() const { return Game.GamePhase == gpMenu; }

void TmainForm::StartGame() {
  DXTimer1.SetEnabled(false);
  DXTimer2.SetEnabled(true);
  Game.GamePhase = gpPlaying;
  // A game whose result the world server can verify starts as after a fresh start, from the seed the
  // server handed out for it; without one the game goes on from its own generator, as it always did.
  GameChallenge.clear();
  if (std::optional<TChallenge> challenge = Challenges.Take(ServerAddress())) {
    GameChallenge = challenge->Id;
    PutStartState(TReplayStart{.Seed = challenge->Seed});
  }
  CreateGameField();
}

void TmainForm::QuitQueryDeclined() {
  if (Game.GamePhase == gpExitQuery) CancelExitQuery(*this);
}

void TmainForm::OpenNameEntry() {
  OpenNameEntryScreen();
  IgnoreHeldKeys();
}

void TmainForm::PaintItemScreen(TDirectDrawSurfaceCanvas& canvas) { PaintGameItemScreen(canvas, Game.Score); }

void TmainForm::NameEntryConfirmed() {
  NewEntry.EntryScore = Game.Score;
  InsertNewEntry();
  NoteReplayEnteredTable();
  SaveSettingsScrambled();
  Game.GamePhase = gpSendQuery;
}

void TmainForm::SubmitScore() {
  DXDraw.Surface.FillSurface(0);
  DXSpriteEngine1.Paint();
  TDirectDrawSurfaceCanvas& canvas = DXDraw.Surface.SurfaceCanvas();
  canvas.Font.Color = 255;
  canvas.TextOut(330, 220, "Please Wait...");
  canvas.ReleaseCanvas();
  DXDraw.FlipDisplay();
  Game.GamePhase = gpSending;
  IdHTTP1.Start(ServerAddress(), NewEntry.EntryName.Text(), Settings.Country.Text(), Game.Score,
                FinishedGameReplayBytes(Game.Score), GameChallenge);
}

// The outcome arrives in a later tick; until then the tick only draws the frozen field and its notice.
void TmainForm::PollSubmission() {
  switch (IdHTTP1.Poll()) {
    case TScoreSubmitter::ssSucceeded:
      Game.GamePhase = gpSendQuery;
      SelectedItem = 2;
      ActivateItem(*this);
      break;
    case TScoreSubmitter::ssFailed:
      Game.PhaseTimer = 1500;
      Game.GamePhase = gpSendFailed;
      break;
    default:
      break;
  }
}

void TmainForm::DXTimer1Activate(TDXTimer&) {
  if (Game.GamePhase == gpMenu && Settings.MusicOn) StartMusic(kMenuSong);
}

void TmainForm::DXTimer1Deactivate(TDXTimer&) { SongStop(CurrentSong); }

void TmainForm::DXTimer2Activate(TDXTimer&) { GameTimerActivated(*this); }

void TmainForm::DXTimer2Deactivate(TDXTimer&) { GameTimerDeactivated(*this); }

void TmainForm::Dispatch(const TEvent& event) {
  PauseFrameKept = false;  // whatever the event does, the next game tick draws in full
  Guarded([&] {
    switch (event.Kind) {
      case TEventKind::Close:
        Close();
        break;
      case TEventKind::Terminate:
        IsClosed = true;
        break;
      case TEventKind::Maximize:
        WMGetSysCommand(kScMaximize);
        break;
      case TEventKind::KeyDown:
        FormKeyDown(event.Key, event.Alt);
        break;
      case TEventKind::KeyUp:
        FormKeyUp(event.Key, event.Alt);
        break;
      case TEventKind::KeyPress:
        FormKeyPress(event.Char);
        break;
      case TEventKind::MouseMove:
        DXDrawMouseMove(event.X, event.Y);
        break;
      case TEventKind::MouseDown:
        DXDrawMouseDown(event.Button);
        break;
      case TEventKind::MouseUp:
        DXDrawMouseUp(event.Button);
        break;
      case TEventKind::Click:
        DXDrawClick();
        break;
      case TEventKind::Activate:
        Application.Activate();
        break;
      case TEventKind::Deactivate:
        Application.Deactivate();
        break;
      default:
        break;
    }
  });
}

void TmainForm::ProcessMessages() {
  TEvent event;
  while (!IsClosed && Platform().PollEvent(event)) Dispatch(event);
  if (IsClosed) return;
  Guarded([] { Application.Idle(); });
  int64_t wait = Application.MillisecondsToNextTick();
  if (wait != 0) Platform().WaitEvent(wait < 0 ? 1000u : static_cast<uint32_t>(wait));
}

void TmainForm::Run() {
  while (!IsClosed) ProcessMessages();
}
