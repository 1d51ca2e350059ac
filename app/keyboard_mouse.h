// The state kept by the main window's key and mouse handlers (TmainForm::FormKeyDown and the others,
// in keyboard_mouse.cpp): the key latch that swallows auto-repeat, the steering steps of the mouse
// during play and the mouse buttons, which the hero reads and clears. Global by design; reset by
// ResetKeyboardMouseState (tests).
#pragma once

#include <cstdint>

extern bool KeyLatch;  // set by a key-down that reached the dispatcher, cleared by any key-up
// The last mouse movement during play as half the pointer's travel in pixels; one of each pair is 0.
extern uint8_t MouseStepLeft, MouseStepRight, MouseStepUp, MouseStepDown;
extern bool LeftButtonDown, RightButtonDown;  // held over the display

// BossKeyName from BossKey: "Space", a digit, a letter, "Window Key" or "F1" to "F12"; for any other
// key the name is left as it was.
void UpdateBossKeyName();

void ResetKeyboardMouseState();
