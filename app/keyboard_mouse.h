// The state kept by the main window's key handlers (TmainForm::FormKeyDown and the others, in
// keyboard_mouse.cpp): the key latch that swallows auto-repeat. The game's own keys, its mouse steering
// and pause are the game's (game/game_input.h). Global by design; reset by ResetKeyboardMouseState (tests).
#pragma once

#include <cstdint>

extern bool KeyLatch;  // set by a key-down that reached the dispatcher, cleared by any key-up

// BossKeyName from BossKey: "Space", a digit, a letter, "Window Key" or "F1" to "F12"; for any other
// key the name is left as it was.
void UpdateBossKeyName();

void ResetKeyboardMouseState();
