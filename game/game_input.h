// The player's commands during a game: the game keys (Escape, P, the boss key), the mouse turned into
// the hero's steering steps and fire buttons, pause and resume, the exit question's phase changes, and
// what the game timer does when the application gains or loses the focus. Called by the main window's
// key, mouse, close and activation handlers.
#pragma once

#include <cstdint>

#include "game/game_state.h"
#include "platform/platform.h"
#include "protocol/replay_format.h"

class TGameHost;

// The pointer is put back to this point of the picture after every steering step.
constexpr int kSteerCentreX = 400, kSteerCentreY = 300;
// The largest steering steps: half the pointer's farthest travel from the centre inside the picture
// (a pointer beyond the picture's edge, in a bar beside it, counts as at the edge).
constexpr uint8_t kMaxStepLeft = kSteerCentreX / 2;
constexpr uint8_t kMaxStepRight = (plat::kFrameWidth - 1 - kSteerCentreX) / 2;
constexpr uint8_t kMaxStepUp = kSteerCentreY / 2;
constexpr uint8_t kMaxStepDown = (plat::kFrameHeight - 1 - kSteerCentreY) / 2;

// A key-down in gpPlaying, gpHeroDown, gpLevelIntro or gpPause (key latch already applied).
void GameKeyDown(TGameHost& host, uint16_t key);
// The pointer moved during gpPlaying: steering steps from its distance to the centre (400, 300), to
// which it is put back.
void GameMouseMove();
void GameMouseButton(bool left, bool down);

// Pauses (the phase kept to resume to) with the pointer shown; an existing pause keeps its phase.
void PauseGame(TGameHost& host);
// From gpPause back to the phase before it, the pointer hidden in play and centred.
void ResumeGame(TGameHost& host);

// Whether a close request in this phase opens the exit question over the game.
bool ExitQueryPhase();
// Whether the game offers the phase operation in this phase: pause where P, the boss key or the loss of
// the focus pauses, resume in the pause, the exit question where a close request opens it, its "Yes" and
// "No" while it is open. The main window calls the operations only there; a replay is held to the same.
bool PhaseOffers(TReplayCommand command, TGamePhase phase);
// Opens "Exit the game?" over the frozen field: the phase is kept, the dialog frame and the pointer shown.
void OpenExitQuery(TGameHost& host);
// "Yes": the game ends through "Game over".
void ConfirmExitQuery(TGameHost& host);
// "No" or Escape: back to the phase before the question.
void CancelExitQuery(TGameHost& host);

// The game timer gained or lost the focus of the application.
void GameTimerActivated(TGameHost& host);
void GameTimerDeactivated(TGameHost& host);
