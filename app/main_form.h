// The main window TmainForm: the components it owns (created in this order, which is also the order
// their activation handlers run), the start-up sequence, the display mode, close requests and the
// message loop that drives everything. All game state lives in the modules' globals, not here.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/display.h"
#include "engine/image_archive.h"
#include "engine/input.h"
#include "engine/sound.h"
#include "engine/sprite_engine.h"
#include "engine/timer.h"
#include "engine/wave_archive.h"
#include "game/game_host.h"
#include "menu/menu_host.h"
#include "online/challenge.h"
#include "online/score_submission.h"
#include "platform/platform.h"

class TmainForm : public TMenuHost, public TGameHost {
 public:
  // Builds the components, ends their loading, opens the window and runs FormCreate. An error out of
  // FormCreate is shown in a message box and the steps after it are not carried out.
  TmainForm();
  ~TmainForm() override;
  TmainForm(const TmainForm&) = delete;
  TmainForm& operator=(const TmainForm&) = delete;

  // The message loop: until the window closes, dispatch waiting events, let the installed frame timer
  // tick, then sleep until the next due tick or the next event.
  void Run();
  // One pass of the loop.
  void ProcessMessages();
  bool Closed() const { return IsClosed; }

  // The window's close operation: asks FormClose whether to close.
  void Close();
  void Dispatch(const plat::TEvent& event);

  void FormCreate();
  // Builds the game field and starts a game (the menu's start action has switched the timers).
  void CreateGameField();
  void ChangeMode() override;
  void FormClose(bool& allowClose);
  void WMGetSysCommand(uint32_t command);
  void DXTimer1Timer(TDXTimer& sender, int lagCount);
  void DXTimer2Timer(TDXTimer& sender, int lagCount);
  void DXTimer1Activate(TDXTimer& sender);
  void DXTimer1Deactivate(TDXTimer& sender);
  void DXTimer2Activate(TDXTimer& sender);
  void DXTimer2Deactivate(TDXTimer& sender);

  // Keys and mouse (keyboard_mouse.cpp). Key codes are virtual-key codes; alt: Alt was held.
  void FormKeyDown(uint16_t key, bool alt);
  void FormKeyUp(uint16_t key, bool alt);
  void FormKeyPress(char c);
  // (x, y): the pointer on the display, 800 x 600 picture coordinates.
  void DXDrawMouseMove(int x, int y);
  void DXDrawMouseDown(plat::TMouseButton button);
  void DXDrawMouseUp(plat::TMouseButton button);
  void DXDrawClick();

  // TMenuHost and TGameHost
  TSpriteEngine& SpriteRoot() override { return DXSpriteEngine1.Engine; }
  TDXImageList& ImageList() override { return DXImageList1; }
  void PlaySound(const char* name) override;
  void StartMusic(const char* path) override;
  void SetCursorVisible(bool visible) override;
  void RequestClose() override { Close(); }
  void OpenHomePage() override;
  void OpenWorldHighScorePage() override;
  void BackToMenu() override;
  bool MenuPhase() const override;
  void StartGame() override;
  void QuitQueryDeclined() override;
  void OpenNameEntry() override;
  void PaintItemScreen(TDirectDrawSurfaceCanvas& canvas) override;
  void NameEntryConfirmed() override;
  // Draws the "Please Wait..." notice, enters gpSending and starts the exchange with the server.
  void SubmitScore() override;
  void PollSubmission() override;

  // Components, in creation order.
  TDXDraw DXDraw;
  TDXSpriteEngine DXSpriteEngine1;
  TDXImageList DXImageList1;
  TDXTimer DXTimer1;  // the menu's frame timer: runs the menu loop, only while the application is active
  TDXInput DXInput1;
  TDXTimer DXTimer2;  // the game's frame timer: runs the game loop, also while inactive (the pause draws)
  TWaveCollection DXWaveList1;
  TDXSound DXSound1;
  TScoreSubmitter IdHTTP1;       // the score submission's HTTP exchange, off the game thread
  TChallengeFetcher Challenges;  // the world server's seed for the next game, fetched ahead

  static constexpr uint32_t kScMaximize = 0xF030;
  static constexpr uint32_t kScMinimize = 0xF020;

 private:
  // Runs a handler; an error out of it is shown in a message box and the program goes on.
  void Guarded(const std::function<void()>& handler);
  void MenuKeyDown(uint16_t key, bool alt);
  // A tick of a pause whose picture is already on the back buffer and on the screen: the tick is
  // recorded with that same frame, and nothing is drawn or presented but a refresh now and then.
  void StillPauseTick(int lagCount);

  bool IsClosed = false;
  std::string GameChallenge;  // the challenge the last game started from; empty: it used its own seed
  plat::TWindowPlacement KeptPlacement;  // as read from window.txt at start
  bool PlacementKept = false;            // window.txt was read
  // The back buffer holds the pause's picture, drawn by the last game tick, and no event came since. A
  // paused game changes nothing from tick to tick, so until then the next ticks need not draw it again.
  bool PauseFrameKept = false;
  int StillTicks = 0;  // ticks since the kept picture was last presented
};

// Loads a song and plays it as the current one; a song that cannot be loaded is reported and turns the
// music off (in memory).
void StartMusic(const char* path);

// One line on standard error when the sound could not be opened: the game goes on without it.
void SayWhenSilent(TDXSound& sound);

// Forces the mouse pointer shown or hidden, whatever show and hide calls were made before.
void SetCursorVisible(bool visible);

// Opens play.url with the desktop's default program when it exists; an Internet shortcut file opens the
// address it holds.
void OpenPlayUrl();
