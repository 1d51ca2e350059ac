#include "tools/soak/soak_pilot.h"

#include <string>

#include "game/game_state.h"
#include "menu/menu_state.h"
#include "settings/settings.h"

using plat::TEvent;
using plat::TEventKind;

namespace {

// The keys the pilot holds, in the order of TSoakPilot::Held: the arrows, fire (Space) and bombs (Shift).
constexpr int kGameScans[6] = {plat::SCAN_UP,    plat::SCAN_DOWN,  plat::SCAN_LEFT,
                               plat::SCAN_RIGHT, plat::SCAN_SPACE, plat::SCAN_LSHIFT};
constexpr int kFire = 4, kBombs = 5;

constexpr char kNameLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 ";

bool PlayPhase(uint8_t phase) { return phase == gpPlaying || phase == gpLevelIntro || phase == gpHeroDown; }

// The virtual-key code of the key that types c.
uint16_t KeyOf(char c) {
  if (c >= 'a' && c <= 'z') return static_cast<uint16_t>(c - 'a' + 'A');
  return static_cast<uint16_t>(static_cast<unsigned char>(c));
}

}  // namespace

TSoakPilot::TSoakPilot(plat::THeadlessPlatform& headless, uint32_t seed) : Headless(headless), Random(seed) {}

int TSoakPilot::Ticks(int low, int high) { return std::uniform_int_distribution<int>(low, high)(Random); }

bool TSoakPilot::Chance(int oneIn) { return Ticks(1, oneIn) == 1; }

void TSoakPilot::Press(uint16_t key) {
  Headless.PushEvent({.Kind = TEventKind::KeyDown, .Key = key});
  Headless.PushEvent({.Kind = TEventKind::KeyUp, .Key = key});
}

void TSoakPilot::Type(char c) {
  Headless.PushEvent({.Kind = TEventKind::KeyDown, .Key = KeyOf(c)});
  Headless.PushEvent({.Kind = TEventKind::KeyPress, .Char = c});
  Headless.PushEvent({.Kind = TEventKind::KeyUp, .Key = KeyOf(c)});
}

void TSoakPilot::Act(bool wrapUp) {
  const uint8_t phase = Game.GamePhase;
  const bool phaseChanged = phase != LastPhase;
  LastPhase = phase;
  if (!PlayPhase(phase) && phase != gpPause) ReleaseGameKeys();

  // Away from the program (focus lost or the boss key): back after a while, and nothing else meanwhile.
  if (!Headless.IsForeground) {
    if (BackgroundTicks > 0)
      --BackgroundTicks;
    else
      Headless.PushEvent({.Kind = TEventKind::Activate});
    return;
  }

  if (phaseChanged) {
    Plan.clear();
    switch (phase) {
      case gpMenu:
        Wait = Ticks(1, 40);
        break;
      case gpPause:
        Wait = Ticks(1, 240);
        break;
      case gpExitQuery:
        Wait = Ticks(1, 90);
        break;
      case gpNameEntry:
        ++NameEntries;
        PlanNameEntry(wrapUp);
        break;
      case gpSendQuery:
        ++SendQuestions;
        Wait = Ticks(1, 30);
        break;
      default:
        break;
    }
  }

  switch (phase) {
    case gpMenu:
      ActInMenu(wrapUp);
      break;
    case gpPlaying:
    case gpLevelIntro:
    case gpHeroDown:
      ActInPlay(wrapUp);
      break;
    case gpPause:
      ActInPause(wrapUp);
      break;
    case gpExitQuery:
      ActInExitQuery(wrapUp);
      break;
    case gpNameEntry:
      ActInNameEntry(wrapUp);
      break;
    case gpSendQuery:
      ActInSendQuery();
      break;
    case gpSending:
    case gpSendFailed:
      FaultText = "the result was being sent to the world high-score page";
      break;
    default:
      break;  // "Game over" and start-up: nothing to press
  }
}

void TSoakPilot::ActInMenu(bool wrapUp) {
  if (wrapUp) return;
  if (MenuScreen == msQuitQuery) {
    Press(plat::VK_ESCAPE);
    return;
  }
  if (MenuScreen != msMain) {
    FaultText = "the menu shows screen " + std::to_string(MenuScreen) + " after a game";
    return;
  }
  if (Wait > 0) {
    --Wait;
    return;
  }
  Press(SelectedItem == 1 ? plat::VK_RETURN : plat::VK_UP);
  Wait = 2;
}

void TSoakPilot::ActInPlay(bool wrapUp) {
  if (wrapUp) {
    ReleaseGameKeys();
    Press(plat::VK_ESCAPE);
    return;
  }
  HoldGameKeys();
  if (Chance(1800)) {
    Press('P');
  } else if (Chance(2400)) {
    Press(plat::VK_ESCAPE);
  } else if (Chance(5000)) {
    // Focus lost to another window, or the boss key, which also hides the window.
    if (Chance(2))
      Headless.PushEvent({.Kind = TEventKind::Deactivate});
    else
      Press(Settings.BossKey);
    BackgroundTicks = Ticks(1, 120);
  } else if (Chance(60)) {
    Headless.PushEvent({.Kind = TEventKind::MouseMove, .X = 400 + Ticks(-80, 80), .Y = 300 + Ticks(-60, 60)});
  } else if (Chance(200)) {
    const bool left = Chance(2);
    bool& down = left ? LeftButton : RightButton;
    down = !down;
    Headless.PushEvent({.Kind = down ? TEventKind::MouseDown : TEventKind::MouseUp,
                        .Button = left ? plat::TMouseButton::Left : plat::TMouseButton::Right,
                        .X = Headless.CursorX,
                        .Y = Headless.CursorY});
  }
}

void TSoakPilot::ActInPause(bool wrapUp) {
  if (!wrapUp && Wait > 0) {
    --Wait;
    return;
  }
  Press('P');
  Wait = 2;
}

void TSoakPilot::ActInExitQuery(bool wrapUp) {
  if (!wrapUp && Wait > 0) {
    --Wait;
    return;
  }
  if (wrapUp || Chance(3))
    Press(SelectedItem == 1 ? plat::VK_RETURN : plat::VK_LEFT);  // "Yes": the game ends
  else
    Press(plat::VK_ESCAPE);  // "No"
  Wait = 2;
}

// A pause, some of the last name rubbed out, a new one typed, a pause; then "OK" or, once in four,
// "Cancel".
void TSoakPilot::PlanNameEntry(bool wrapUp) {
  ConfirmName = !wrapUp && !Chance(4);
  for (int i = Ticks(0, 20); i > 0; --i) Plan.push_back({});
  for (int i = Ticks(0, 10); i > 0; --i) Plan.push_back({.Key = plat::VK_BACK});
  for (int i = Ticks(1, 10); i > 0; --i)
    Plan.push_back({.Char = kNameLetters[Ticks(0, static_cast<int>(sizeof kNameLetters) - 2)]});
  for (int i = Ticks(0, 20); i > 0; --i) Plan.push_back({});
}

void TSoakPilot::ActInNameEntry(bool wrapUp) {
  if (wrapUp) {
    Plan.clear();
    ConfirmName = false;
  }
  if (!Plan.empty()) {
    const TStep step = Plan.front();
    Plan.pop_front();
    if (step.Char != 0)
      Type(step.Char);
    else if (step.Key != 0)
      Press(step.Key);
  } else if (ConfirmName) {
    // Enter in the edited name goes on to "OK"; elsewhere Down walks there.
    Press((SelectedItem == 1 && TextEntryActive) || SelectedItem == 3 ? plat::VK_RETURN : plat::VK_DOWN);
  } else {
    Press(SelectedItem == 4 ? plat::VK_RETURN : plat::VK_UP);  // Up from the name wraps round to "Cancel"
  }
}

void TSoakPilot::ActInSendQuery() {
  if (Wait > 0) {
    --Wait;
    return;
  }
  Press(SelectedItem == 2 ? plat::VK_RETURN : plat::VK_RIGHT);  // always "No"
  Wait = 2;
}

// Each key changes now and then: the arrows every twelve ticks or so, fire held most of the time, bombs
// now and then for a moment.
void TSoakPilot::HoldGameKeys() {
  for (int k = 0; k < 6; ++k) {
    int oneIn = 12;
    if (k == kFire) oneIn = Held[k] ? 40 : 4;
    if (k == kBombs) oneIn = Held[k] ? 6 : 150;
    if (Chance(oneIn)) {
      Held[k] = !Held[k];
      Headless.SetKey(kGameScans[k], Held[k]);
    }
  }
}

void TSoakPilot::ReleaseGameKeys() {
  for (int k = 0; k < 6; ++k)
    if (Held[k]) {
      Held[k] = false;
      Headless.SetKey(kGameScans[k], false);
    }
  if (LeftButton || RightButton) {
    for (bool left : {true, false}) {
      bool& down = left ? LeftButton : RightButton;
      if (!down) continue;
      down = false;
      Headless.PushEvent({.Kind = TEventKind::MouseUp,
                          .Button = left ? plat::TMouseButton::Left : plat::TMouseButton::Right,
                          .X = Headless.CursorX,
                          .Y = Headless.CursorY});
    }
  }
}
