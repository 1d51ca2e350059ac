// The player's commands during a game: the game keys (Escape, P, the boss key), the mouse turned into
// the hero's steering steps and fire buttons, pause and resume, the exit question's phase changes, and
// what the game timer does when the application gains or loses the focus. Called by the main window's
// key, mouse, close and activation handlers.
#pragma once

#include <cstdint>

class TGameHost;

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
// Opens "Exit the game?" over the frozen field: the phase is kept, the dialog frame and the pointer shown.
void OpenExitQuery(TGameHost& host);
// "Yes": the game ends through "Game over".
void ConfirmExitQuery(TGameHost& host);
// "No" or Escape: back to the phase before the question.
void CancelExitQuery(TGameHost& host);

// The game timer gained or lost the focus of the application.
void GameTimerActivated(TGameHost& host);
void GameTimerDeactivated(TGameHost& host);
