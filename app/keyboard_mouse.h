// The state kept by the main window's key handlers (TmainForm::FormKeyDown and the others, in
// keyboard_mouse.cpp): the key latch that swallows auto-repeat, and the keys held down. The game's own
// keys, its mouse steering and pause are the game's (game/game_input.h). Global by design; reset by
// ResetKeyboardMouseState (tests).
#pragma once

#include <cstdint>
#include <set>

extern bool KeyLatch;                 // set by a key-down that reached the dispatcher, cleared by any key-up
extern std::set<uint16_t> HeldKeys;   // down and not yet up, by virtual-key code
extern std::set<uint16_t> StaleKeys;  // held when the current entry screen opened; ignored until released
extern bool SwallowKeyPress;          // the next key-press comes from a stale key's repeat

// A screen that takes typing and Enter opens (the name entry): keys still down from before it, such as
// the arrows and fire keys of play, act on it only once released and pressed again; their auto-repeat,
// and the characters it types, are ignored.
void IgnoreHeldKeys();

// BossKeyName from BossKey: "Space", a digit, a letter, "Window Key" or "F1" to "F12"; for any other
// key the name is left as it was.
void UpdateBossKeyName();

void ResetKeyboardMouseState();
