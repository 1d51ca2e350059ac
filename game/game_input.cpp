#include "game/game_input.h"

#include <algorithm>

#include "engine/sprite.h"
#include "game/game_host.h"
#include "game/game_state.h"
#include "game/replay.h"
#include "music/music.h"
#include "platform/platform.h"
#include "settings/settings.h"

using plat::Platform;

namespace {

constexpr int kCentreX = kSteerCentreX, kCentreY = kSteerCentreY;

void CentrePointer() { Platform().SetCursorPos(kCentreX, kCentreY); }

bool Active(TDXInputState state) { return (Game.Input & InputBit(state)) != 0; }

// P pauses in these phases; the boss key in these and the pause; the loss of the focus in these and
// "Game over".
bool PauseKeyPhase(TGamePhase phase) {
  return phase == gpPlaying || phase == gpHeroDown || phase == gpLevelIntro;
}

}  // namespace

void GameKeyDown(TGameHost& host, uint16_t key) {
  if (key == plat::VK_ESCAPE) {
    host.RequestClose();
  } else if (key == 'P') {
    if (Game.GamePhase == gpPause)
      ResumeGame(host);
    else if (PauseKeyPhase(Game.GamePhase))
      PauseGame(host);
  } else if (key == Settings.BossKey) {
    if (Settings.MusicOn) SongStop(CurrentSong);
    PauseGame(host);
    Platform().Minimize();
  }
}

void PauseGame(TGameHost& host) {
  ReplayNoteCommand(rcPause);
  host.SetCursorVisible(true);
  if (Game.GamePhase != gpPause) Game.PhaseBeforePause = Game.GamePhase;
  Game.GamePhase = gpPause;
}

void ResumeGame(TGameHost& host) {
  ReplayNoteCommand(rcResume);
  Game.GamePhase = Game.PhaseBeforePause;
  if (Game.GamePhase == gpPlaying) host.SetCursorVisible(false);
  CentrePointer();
}

// Halves of the travel, truncated; both axes use the one position read first, taken to the picture's
// edge when it lies beyond (so a step never passes its kMaxStep bound).
void GameMouseMove() {
  int x = 0, y = 0;
  Platform().GetCursorPos(x, y);
  x = std::clamp(x, 0, plat::kFrameWidth - 1);
  y = std::clamp(y, 0, plat::kFrameHeight - 1);
  if (x > kCentreX && !Active(isRight)) {
    Game.MouseStepLeft = 0;
    Game.MouseStepRight = static_cast<uint8_t>((x - kCentreX) / 2);
    CentrePointer();
  }
  if (x < kCentreX && !Active(isLeft)) {
    Game.MouseStepLeft = static_cast<uint8_t>((kCentreX - x) / 2);
    Game.MouseStepRight = 0;
    CentrePointer();
  }
  if (y > kCentreY && !Active(isDown)) {
    Game.MouseStepUp = 0;
    Game.MouseStepDown = static_cast<uint8_t>((y - kCentreY) / 2);
    CentrePointer();
  }
  if (y < kCentreY && !Active(isUp)) {
    Game.MouseStepUp = static_cast<uint8_t>((kCentreY - y) / 2);
    Game.MouseStepDown = 0;
    CentrePointer();
  }
}

void GameMouseButton(bool left, bool down) {
  if (left)
    Game.LeftButtonDown = down;
  else
    Game.RightButtonDown = down;
}

bool ExitQueryPhase() { return GameKeysPhase(Game.GamePhase); }

bool PhaseOffers(TReplayCommand command, TGamePhase phase) {
  switch (command) {
    case rcPause:
      return GameKeysPhase(phase) || phase == gpGameOver;
    case rcResume:
      return phase == gpPause;
    case rcOpenExitQuery:
      return GameKeysPhase(phase);
    case rcConfirmExitQuery:
    case rcCancelExitQuery:
      return phase == gpExitQuery;
    case kReplayCommandCount:
      break;
  }
  return false;
}

void OpenExitQuery(TGameHost& host) {
  ReplayNoteCommand(rcOpenExitQuery);
  Game.PhaseBeforeExitQuery = Game.GamePhase;
  if (Game.ClosingWindow) Game.ClosingWindow->Visible = true;
  host.SetCursorVisible(true);
  Game.GamePhase = gpExitQuery;
}

void ConfirmExitQuery(TGameHost& host) {
  ReplayNoteCommand(rcConfirmExitQuery);
  Game.PhaseTimer = 1500;
  Game.GamePhase = gpGameOver;
  if (Game.ClosingWindow) Game.ClosingWindow->Visible = false;
  if (Settings.SoundOn) host.PlaySound("looser");
}

void CancelExitQuery(TGameHost& host) {
  ReplayNoteCommand(rcCancelExitQuery);
  Game.GamePhase = Game.PhaseBeforeExitQuery;
  if (Game.ClosingWindow) Game.ClosingWindow->Visible = false;
  if (Game.GamePhase == gpPlaying) host.SetCursorVisible(false);
}

void GameTimerActivated(TGameHost& host) {
  if (Game.GamePhase == gpPlaying) {
    host.SetCursorVisible(false);
    CentrePointer();
  }
  if (Game.GamePhase != gpMenu && Settings.MusicOn) host.StartMusic(kGameSong);
}

void GameTimerDeactivated(TGameHost& host) {
  SongStop(CurrentSong);
  const TGamePhase phase = Game.GamePhase;
  if (PauseKeyPhase(phase) || phase == gpGameOver) PauseGame(host);
}
