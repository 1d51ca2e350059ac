#include "app/replay_host.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "app/kept_replays.h"
#include "app/main_form.h"
#include "app/window_placement.h"
#include "engine/canvas.h"
#include "engine/display.h"
#include "engine/image_archive.h"
#include "engine/input.h"
#include "engine/sound.h"
#include "engine/sprite_engine.h"
#include "engine/surface.h"
#include "engine/timer.h"
#include "engine/wave_archive.h"
#include "game/game_field.h"
#include "game/game_host.h"
#include "game/game_services.h"
#include "game/game_state.h"
#include "game/replay_file.h"
#include "menu/menu_loop.h"
#include "menu/menu_state.h"
#include "music/music.h"
#include "platform/files.h"
#include "platform/headless_platform.h"
#include "platform/platform.h"
#include "platform/sdl_platform.h"
#include "protocol/verifier_report.h"
#include "settings/settings.h"

using plat::Platform;

namespace {

constexpr uint32_t kTickInterval = 16;

// The parts a game needs from a main window, for a game played back: no menu, no settings written, no
// name entry, nothing sent. Audio: the window's playback plays sounds and music as the settings say.
class TReplayHost : public TGameHost {
 public:
  // watched: in a window with sound and music (else checked headless); fullScreen: the desktop's
  // full-screen window.
  explicit TReplayHost(bool watched, bool fullScreen = false) {
    Display.SetOptions(OptionBit(doAllowReboot) | OptionBit(doCenter) | OptionBit(doFlip) |
                       OptionBit(doDirectX7Mode) | OptionBit(doHardware) | OptionBit(doSelectDriver) |
                       (watched ? OptionBit(doWaitVBlank) : 0) | (fullScreen ? OptionBit(doFullScreen) : 0));
    Timer.SetInterval(static_cast<int>(kTickInterval));
    Sprites.SetDXDraw(&Display);
    Images.SetDXDraw(&Display);
    if (watched) {
      Waves.BindSound(&Sound);
      Sound.Initialize(Platform().OpenAudio());
      SayWhenSilent(Sound);
      AttachMusicOutput(&Sound);
      Waves.LoadWaveArchive("sound\\gamesound.dxw");
      // Where play left the window; the platform falls back to its own choice when it no longer fits.
      plat::TWindowPlacement placement;
      if (LoadWindowPlacement(placement)) Platform().PlaceWindow(placement);
    }
    Platform().OpenWindow("Pellorin replay");
    if (watched) Platform().SetIcon(plat::ResolvePath("data\\icon.png"));
    Display.InitializeDisplay();
    Watched = watched;
  }
  ~TReplayHost() override {
    SongStop(CurrentSong);
    if (Watched) {
      AttachMusicOutput(nullptr);
      Waves.BindSound(nullptr);
    }
    Sprites.Engine.Clear();
    ForgetGameSprites();
    SetGameHost(nullptr);
  }
  TReplayHost(const TReplayHost&) = delete;
  TReplayHost& operator=(const TReplayHost&) = delete;

  // One recorded tick; false once the game has ended or the ticks are used up.
  bool Step() {
    int lag = 1;
    if (Ended || !ReplayHasNextTick(lag)) return false;
    GameFrame(*this, Display, Sprites, Input, Timer, lag);
    return !Ended;
  }

  TSpriteEngine& SpriteRoot() override { return Sprites.Engine; }
  TDXImageList& ImageList() override { return Images; }
  void PlaySound(const char* name) override {
    if (Watched) Waves.FindWave(name)->PlayWave(false);
  }
  void StartMusic(const char* path) override {
    if (Watched) ::StartMusic(path);
  }
  void SetCursorVisible(bool visible) override {
    if (Watched) ::SetCursorVisible(visible);  // hidden in play, as in the game
  }
  void RequestClose() override {}
  void BackToMenu() override { Ended = true; }
  void OpenNameEntry() override {}
  void PaintItemScreen(TDirectDrawSurfaceCanvas& canvas) override {
    MenuScreen = msQuitQuery;
    SelectedItem = 1;
    PaintGameItemScreen(canvas, Game.Score);
  }
  void PollSubmission() override {}

  TDXDraw Display;
  TDXSpriteEngine Sprites;
  TDXImageList Images;
  TDXInput Input;
  TDXTimer Timer;
  TWaveCollection Waves;
  TDXSound Sound;
  bool Ended = false;
  bool Watched = false;
};

// Loads the replay; a file that is not one is said on standard error.
bool LoadOrSay(const std::string& path, TReplay& replay) {
  try {
    replay = LoadReplay(path);
    return true;
  } catch (const EReplayError& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return false;
  }
}

// Whether the file is there; a missing one is said on standard error.
bool ExistsOrSay(const std::string& path) {
  if (plat::FileExists(path)) return true;
  std::fprintf(stderr, "The replay %s does not exist.\n", path.c_str());
  return false;
}

// The report of --verify-replay, which a world server reads: the played end, the recorded end, and
// whether they are equal. The played "frames" is known only when every frame was drawn.
TReportState ReportStateOf(const TReplayState& state, uint64_t frameHash, bool framesKnown) {
  TReportState out{state.Tick, state.Score, state.Level, state.Lives, frameHash, std::nullopt};
  if (framesKnown) out.Frames = state.Frames;
  return out;
}

TVerifierReport VerifyReportOf(const std::string& path, const TReplay& replay, const TReplayOutcome& outcome,
                               TReplayCheck check, bool equal) {
  TVerifierReport report;
  report.File = path;
  report.Played = ReportStateOf(outcome.End, outcome.FrameHash, check == TReplayCheck::EveryFrame);
  report.Recorded = ReportStateOf(replay.End, replay.FrameHash, true);
  report.Equal = equal;
  report.FirstDifferenceTick = outcome.FirstDifferenceTick;
  return report;
}

}  // namespace

std::string CheckReplay(const TReplay& replay, TReplayCheck check, TReplayOutcome& outcome) {
  std::string reason = ImpossibleReplayReason(replay);
  if (!reason.empty()) return reason;
  outcome = VerifyReplay(replay, check);
  if (!outcome.Refusal.empty()) return outcome.Refusal;
  const uint32_t ticks = replay.TickCount();
  if (!outcome.Ended)
    reason = "it stops at tick " + std::to_string(outcome.End.Tick) +
             " with the game in play: \"Game over\" has not run to its end";
  else if (outcome.End.Tick != ticks)
    reason = "\"Game over\" ran to its end at tick " + std::to_string(outcome.End.Tick) +
             ", but it goes on to tick " + std::to_string(ticks);
  if (!reason.empty() && outcome.FirstDifferenceTick >= 0)
    reason +=
        " (it plays otherwise than recorded from tick " + std::to_string(outcome.FirstDifferenceTick) + ")";
  return reason;
}

int VerifyReplayFile(const std::string& path, TReplayCheck check) {
  TReplay replay;
  if (!ExistsOrSay(path) || !LoadOrSay(path, replay)) return 2;
  plat::THeadlessPlatform headless;
  headless.KeepFrames = false;
  headless.AudioPresent = false;
  plat::SetPlatform(&headless);
  TReplayOutcome outcome;
  std::string refusal;
  try {
    refusal = CheckReplay(replay, check, outcome);
  } catch (const std::exception& error) {
    plat::SetPlatform(nullptr);
    std::fprintf(stderr, "The replay %s could not be played: %s\n", path.c_str(), error.what());
    return 2;
  }
  plat::SetPlatform(nullptr);
  if (!refusal.empty()) {
    std::fprintf(stderr, "The replay %s is refused: %s.\n", path.c_str(), refusal.c_str());
    return 2;
  }
  // Equal only when every recorded checkpoint was met as well.
  const bool equal = SameReplayState(outcome.End, replay.End, check) &&
                     outcome.FrameHash == replay.FrameHash && outcome.FirstDifferenceTick < 0;
  std::printf("%s\n", WriteVerifierReport(VerifyReportOf(path, replay, outcome, check, equal)).c_str());
  return equal ? 0 : 1;
}

// The platform as the watch presents through it: every call goes to the platform it wraps, but each frame
// is shown with the watch's captions drawn over a copy of it, and the last one can be shown again when
// the captions change. The game's own surface, which the replay's frame hashes read, is never written.
class TReplayWatch::TScreen : public plat::TPlatform {
 public:
  explicit TScreen(plat::TPlatform& inner) : Inner(inner) {
    Last.assign(static_cast<size_t>(plat::kFrameWidth) * plat::kFrameHeight, 0);
    Shown.CreateOffscreen(plat::kFrameWidth, plat::kFrameHeight);
  }

  // The captions: the small line at the bottom left ("Replay", then the end's), and "Pause" or not.
  void SetCaption(const std::string& line, bool paused) {
    Line = line;
    ShowPause = paused;
  }
  plat::TPlatform& Wrapped() { return Inner; }
  // The last frame again, with the captions as they are now.
  void ShowAgain() {
    if (HasFrame) ShowLast();
  }

  void OpenWindow(const std::string& caption) override { Inner.OpenWindow(caption); }
  bool WindowOpen() const override { return Inner.WindowOpen(); }
  void PlaceWindow(const plat::TWindowPlacement& placement) override { Inner.PlaceWindow(placement); }
  plat::TWindowPlacement WindowPlacement() const override { return Inner.WindowPlacement(); }
  void SetFullScreen(bool fullScreen) override { Inner.SetFullScreen(fullScreen); }
  bool FullScreen() const override { return Inner.FullScreen(); }
  void Present(const uint32_t* pixels, int pitch) override {
    for (int y = 0; y < plat::kFrameHeight; ++y)
      std::copy_n(pixels + static_cast<ptrdiff_t>(y) * pitch, plat::kFrameWidth,
                  Last.begin() + static_cast<ptrdiff_t>(y) * plat::kFrameWidth);
    HasFrame = true;
    ShowLast();
  }
  bool TakePresentationLost() override { return Inner.TakePresentationLost(); }
  void SetIcon(const std::string& pngPath) override { Inner.SetIcon(pngPath); }
  void Minimize() override { Inner.Minimize(); }
  bool Minimized() const override { return Inner.Minimized(); }
  bool Foreground() const override { return Inner.Foreground(); }
  int ShowCursor(bool show) override { return Inner.ShowCursor(show); }
  void SetCursorPos(int x, int y) override { Inner.SetCursorPos(x, y); }
  void GetCursorPos(int& x, int& y) const override { Inner.GetCursorPos(x, y); }
  void MessageBox(const std::string& text, const std::string& caption) override {
    Inner.MessageBox(text, caption);
  }
  bool PollEvent(plat::TEvent& event) override { return Inner.PollEvent(event); }
  void WaitEvent(uint32_t timeoutMs) override { Inner.WaitEvent(timeoutMs); }
  uint32_t Milliseconds() override { return Inner.Milliseconds(); }
  uint32_t ClockSeed() override { return Inner.ClockSeed(); }
  void KeyboardState(bool* state) override { Inner.KeyboardState(state); }
  plat::TJoystickState Joystick(int index) override { return Inner.Joystick(index); }
  plat::TPadState GamePad(int index) override { return Inner.GamePad(index); }
  std::unique_ptr<plat::TAudioOutput> OpenAudio() override { return Inner.OpenAudio(); }
  bool OpenDocument(const std::string& target) override { return Inner.OpenDocument(target); }

 private:
  void ShowLast() {
    std::copy(Last.begin(), Last.end(), Shown.Bits());
    TDirectDrawSurfaceCanvas& canvas = Shown.SurfaceCanvas();
    canvas.SetFrameTextStyle("Cargo", 14);
    // White on a one-pixel dark shadow: readable over the sky and the mountains alike.
    canvas.Font.Color = 0x202020;
    canvas.TextOut(11, 575, Line);
    canvas.Font.Color = 0xFFFFFF;
    canvas.TextOut(10, 574, Line);
    if (ShowPause) {
      // The game's "Pause", red, but under the place of its own big texts ("Level 2", "Game over").
      canvas.Font.Size = 30;
      canvas.Font.Color = 255;
      canvas.TextOut(320, 330, "Pause");
    }
    canvas.ReleaseCanvas();
    Inner.Present(Shown.Bits(), Shown.Pitch());
  }

  plat::TPlatform& Inner;
  std::vector<uint32_t> Last;  // the game's last frame, as it presented it
  TDirectDrawSurface Shown;    // that frame with the captions
  bool HasFrame = false;
  std::string Line;
  bool ShowPause = false;
};

class TReplayWatch::THost : public TReplayHost {
 public:
  explicit THost(bool fullScreen) : TReplayHost(true, fullScreen) {}
};

TReplayWatch::TReplayWatch(const TReplay& replay, bool fullScreen)
    : Screen(std::make_unique<TScreen>(Platform())) {
  Screen->SetCaption("Replay", false);
  plat::TPlatform& inner = Platform();
  plat::SetPlatform(Screen.get());
  try {
    Host = std::make_unique<THost>(fullScreen);
    StartReplayPlayback(replay);
    CreateGameField(*Host);
  } catch (...) {
    StopReplayPlayback();
    Host.reset();
    plat::SetPlatform(&inner);
    throw;
  }
  Next = Platform().Milliseconds();
}

TReplayWatch::~TReplayWatch() {
  StopPlayback();
  Host.reset();
  plat::SetPlatform(&Screen->Wrapped());
}

void TReplayWatch::StopPlayback() {
  if (Stopped) return;
  Stopped = true;
  Result = StopReplayPlayback();
}

bool TReplayWatch::Pass() {
  if (IsOver) return false;
  plat::TEvent event;
  while (!IsOver && Platform().PollEvent(event)) {
    const bool key = event.Kind == plat::TEventKind::KeyDown;
    if (event.Kind == plat::TEventKind::Close || event.Kind == plat::TEventKind::Terminate ||
        (key && (event.Key == plat::VK_ESCAPE || IsHolding))) {
      IsOver = true;
    } else if (key && event.Key == 'P') {
      IsPaused = !IsPaused;
      if (IsPaused)
        SongStop(CurrentSong);
      else if (Settings.MusicOn)
        SongPlay(CurrentSong);
      Screen->SetCaption("Replay", IsPaused);
      Screen->ShowAgain();
      Next = Platform().Milliseconds();
    }
  }
  if (IsOver) {
    StopPlayback();
    return false;
  }
  if (!IsPaused && !IsHolding && static_cast<int32_t>(Platform().Milliseconds() - Next) >= 0) {
    if (!Host->Step()) {
      // The game's last frame stays, with its score, until the player is done with it.
      IsHolding = true;
      StopPlayback();
      SongStop(CurrentSong);
      Screen->SetCaption("Replay over: score " + std::to_string(Game.Score) + ". Press a key to close.",
                         false);
      Screen->ShowAgain();
    }
    Next += kTickInterval;
  }
  const int32_t wait = IsPaused || IsHolding ? 250 : static_cast<int32_t>(Next - Platform().Milliseconds());
  if (wait > 0) Platform().WaitEvent(static_cast<uint32_t>(wait));
  return true;
}

// P pauses, Escape or closing the window ends it; at the end, any key or the close.
int WatchReplay(const std::string& file, int windowMode) {
  std::string path = file;
  if (path.empty()) {
    const std::vector<std::string> kept = KeptReplays();
    if (kept.empty()) {
      const std::string text = "No kept replay in " + ReplayFolder() + ".";
      std::fprintf(stderr, "%s\n", text.c_str());
      // Started from the desktop's "Watch your best game", nobody reads standard error.
      std::string error;
      if (std::unique_ptr<plat::TPlatform> platform = plat::CreateSdlPlatform(error)) {
        plat::SetPlatform(platform.get());
        Platform().MessageBox(
            text + "\nEach game that enters the high-score table is kept there, to be watched again.",
            "Pellorin");
        plat::SetPlatform(nullptr);
      }
      return 2;
    }
    path = kept.front();
  }
  TReplay replay;
  if (!ExistsOrSay(path) || !LoadOrSay(path, replay)) return 2;
  std::string error;
  std::unique_ptr<plat::TPlatform> platform = plat::CreateSdlPlatform(error);
  if (!platform) {
    std::fprintf(stderr, "pellorin: no display to open a window on: %s\n", error.c_str());
    return 1;
  }
  plat::SetPlatform(platform.get());
  Settings = TSettings{};
  ReadSettings();  // never written by a replay
  {
    TReplayWatch watch(replay, (windowMode >= 0 ? windowMode : Settings.WindowMode) == 0);
    while (watch.Pass()) {
    }
  }
  plat::SetPlatform(nullptr);
  return 0;
}

class TReplayVerification::THost : public TReplayHost {
 public:
  THost() : TReplayHost(false) {}
};

TReplayVerification::TReplayVerification(const TReplay& replay, TReplayCheck check) : Saved(Settings) {
  Settings.SoundOn = 0;
  Settings.MusicOn = 0;
  try {
    Host = std::make_unique<THost>();
    StartReplayPlayback(replay, check);
    CreateGameField(*Host);
  } catch (...) {
    StopReplayPlayback();
    Host.reset();
    Settings = Saved;
    throw;
  }
}

TReplayVerification::~TReplayVerification() {
  if (!Stopped) StopReplayPlayback();
  Host.reset();
  Settings = Saved;
}

TReplayOutcome TReplayVerification::Play() {
  for (;;) {
    SkipPausedReplayTicks();
    if (!Host->Step()) break;
  }
  Stopped = true;
  return StopReplayPlayback();
}

TReplayOutcome VerifyReplay(const TReplay& replay, TReplayCheck check) {
  TReplayVerification verification(replay, check);
  return verification.Play();
}
