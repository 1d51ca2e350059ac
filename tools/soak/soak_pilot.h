// The soak's pilot: a player that presses random inputs from a seed of its own. Before every pass of the
// main window's message loop it looks at where the game stands (phase, menu screen, selected item) and
// holds or releases the game keys and queues key, mouse and focus events on the headless platform: it
// starts games from the main menu, flies, fires and drops bombs, pauses and resumes, opens the exit
// question and answers it either way, loses and regains the focus, types a name or cancels the entry, and
// always answers "No" to the send question. The soak run owns it; it never touches the game's state.
#pragma once

#include <cstdint>
#include <deque>
#include <random>
#include <string>

#include "platform/headless_platform.h"

class TSoakPilot {
 public:
  TSoakPilot(plat::THeadlessPlatform& headless, uint32_t seed);

  // Acts for the next pass. With wrapUp the pilot ends the game in progress as soon as it can (the exit
  // question answered "Yes", the name entry cancelled) and starts no new one.
  void Act(bool wrapUp);
  // Set when the pilot met a state it must not be in (a result being sent, a screen it cannot leave).
  const std::string& Fault() const { return FaultText; }

  int NameEntries = 0;    // games that reached the name entry
  int SendQuestions = 0;  // of them, those confirmed: the send question was asked

 private:
  // One planned step: a key (pressed and released), a character typed, or nothing (a pause in the plan).
  struct TStep {
    uint16_t Key = 0;
    char Char = 0;
  };

  void ActInMenu(bool wrapUp);
  void ActInPlay(bool wrapUp);
  void ActInPause(bool wrapUp);
  void ActInExitQuery(bool wrapUp);
  void PlanNameEntry(bool wrapUp);
  void ActInNameEntry(bool wrapUp);
  void ActInSendQuery();
  void HoldGameKeys();
  void ReleaseGameKeys();
  void Press(uint16_t key);
  void Type(char c);
  int Ticks(int low, int high);  // uniform in low..high
  bool Chance(int oneIn);        // true once in oneIn calls on average

  plat::THeadlessPlatform& Headless;
  std::mt19937 Random;
  std::string FaultText;

  uint8_t LastPhase = 0;    // the game phase at the last call
  int Wait = 0;             // ticks before the pilot's next step in a question, pause or menu
  int BackgroundTicks = 0;  // ticks left before the lost focus is given back
  std::deque<TStep> Plan;   // the name entry's typing, one step a tick
  bool ConfirmName = true;  // after the typing: "OK" (else "Cancel")
  bool Held[6] = {};        // up, down, left, right, fire, bombs
  bool LeftButton = false, RightButton = false;  // mouse buttons held
};
