#include "engine/input.h"

#include <algorithm>
#include <cstdlib>

#include "engine/rtl.h"
#include "platform/platform.h"

using namespace plat;

uint8_t ScanToKey(int scan) {
  if (scan >= SCAN_A && scan <= SCAN_Z) return static_cast<uint8_t>('A' + scan - SCAN_A);
  if (scan >= SCAN_1 && scan < SCAN_0) return static_cast<uint8_t>('1' + scan - SCAN_1);
  if (scan >= SCAN_F1 && scan <= SCAN_F12) return static_cast<uint8_t>(VK_F1 + scan - SCAN_F1);
  if (scan >= SCAN_KP_1 && scan <= SCAN_KP_9) return static_cast<uint8_t>(VK_NUMPAD0 + 1 + scan - SCAN_KP_1);
  switch (scan) {
    case SCAN_0: return '0';
    case SCAN_KP_0: return VK_NUMPAD0;
    case SCAN_KP_MINUS: return VK_SUBTRACT;
    case SCAN_KP_PLUS: return VK_ADD;
    case SCAN_KP_PERIOD: return VK_DECIMAL;
    case SCAN_KP_DIVIDE: return VK_DIVIDE;
    case SCAN_KP_MULTIPLY: return 42;
    case SCAN_ESCAPE: return VK_ESCAPE;
    case SCAN_BACKSPACE: return VK_BACK;
    case SCAN_TAB: return VK_TAB;
    case SCAN_RETURN:
    case SCAN_KP_ENTER: return VK_RETURN;
    case SCAN_LCTRL:
    case SCAN_RCTRL: return VK_CONTROL;
    case SCAN_LSHIFT:
    case SCAN_RSHIFT: return VK_SHIFT;
    case SCAN_LALT:
    case SCAN_RALT: return VK_MENU;
    case SCAN_SPACE: return VK_SPACE;
    case SCAN_CAPSLOCK: return VK_CAPITAL;
    case SCAN_NUMLOCK: return VK_NUMLOCK;
    case SCAN_SCROLLLOCK: return VK_SCROLL;
    case SCAN_LEFT: return VK_LEFT;
    case SCAN_UP: return VK_UP;
    case SCAN_RIGHT: return VK_RIGHT;
    case SCAN_DOWN: return VK_DOWN;
    case SCAN_HOME: return VK_HOME;
    case SCAN_END: return VK_END;
    case SCAN_PAGEUP: return VK_PRIOR;
    case SCAN_PAGEDOWN: return VK_NEXT;
    case SCAN_INSERT: return VK_INSERT;
    case SCAN_DELETE: return VK_DELETE;
    case SCAN_LGUI: return VK_LWIN;
    case SCAN_RGUI: return VK_RWIN;
    case SCAN_APPLICATION: return VK_APPS;
    // Punctuation keys take the code of their unshifted character, so some share a code with another
    // key: the apostrophe counts as Right, "." as Delete, the brackets and backslash as the Windows keys.
    case SCAN_SEMICOLON: return ';';
    case SCAN_EQUALS: return '=';
    case SCAN_COMMA: return ',';
    case SCAN_PERIOD: return '.';
    case SCAN_SLASH: return '/';
    case SCAN_LEFTBRACKET: return '[';
    case SCAN_BACKSLASH: return '\\';
    case SCAN_RIGHTBRACKET: return ']';
    case SCAN_APOSTROPHE: return '\'';
    default: return 0;
  }
}

TKeyboard::TKeyboard() { SetDefaultAssigns(); }

void TKeyboard::SetDefaultAssigns() {
  Assigns.fill(0);
  auto set = [this](int state, int a, int b, int c) {
    Assigns[static_cast<size_t>(state * 3)] = a;
    Assigns[static_cast<size_t>(state * 3 + 1)] = b;
    Assigns[static_cast<size_t>(state * 3 + 2)] = c;
  };
  set(isUp, 'K', VK_UP, VK_NUMPAD0 + 8);
  set(isDown, 'J', VK_DOWN, VK_NUMPAD0 + 2);
  set(isLeft, 'H', VK_LEFT, VK_NUMPAD0 + 4);
  set(isRight, 'L', VK_RIGHT, VK_NUMPAD0 + 6);
  set(isButton1, 'Z', VK_SPACE, 0);
  set(isButton2, 'X', VK_RETURN, 0);
  set(isButton9, VK_F2, 0, 0);
}

void TKeyboard::Update(bool activeOnly) {
  Keys.fill(0);
  States = 0;
  if (!Enabled) return;
  if (activeOnly && !Platform().Foreground()) return;
  bool held[kScanCount];
  Platform().KeyboardState(held);
  for (int scan = 0; scan < kScanCount; ++scan)
    if (held[scan]) {
      uint8_t key = ScanToKey(scan);
      if (key != 0) Keys[key] = 0x80;
    }
  for (int state = 0; state < kInputStateCount; ++state)
    for (int slot = 0; slot < 3; ++slot) {
      int32_t key = Assigns[static_cast<size_t>(state * 3 + slot)];
      if (key >= 1 && key <= 255 && KeyDown(key)) States |= InputBit(state);
    }
}

int32_t TJoystick::ScaleAxis(int32_t raw, int32_t min, int32_t max, int32_t deadZone, int32_t range) {
  int64_t half = (static_cast<int64_t>(max) - min) / 2;
  int64_t dz = deadZone * half / 100;
  if (half == dz) return 0;
  int64_t a = raw - half;
  if (std::llabs(a) <= dz) return 0;
  int64_t beyond = a > 0 ? a - dz : a + dz;
  return static_cast<int32_t>(Round(static_cast<double>(beyond * range) / static_cast<double>(half - dz)));
}

void TJoystick::SetDeadZone(int axis, int percent) {
  if (axis >= 0 && axis < 3) DeadZone[static_cast<size_t>(axis)] = std::clamp(percent, 0, 100);
}

void TJoystick::SetRange(int axis, int range) {
  if (axis >= 0 && axis < 3) Range[static_cast<size_t>(axis)] = range;
}

TJoystickState PadAsJoystick(const TPadState& pad) {
  TJoystickState stick;
  stick.Present = pad.Present;
  if (!pad.Present) return stick;
  stick.Min = 0;
  stick.Max = 65535;
  auto axis = [&pad](int16_t value, TPadButton less, TPadButton more) -> int32_t {
    if (pad.Buttons & PadBit(less)) return 0;
    if (pad.Buttons & PadBit(more)) return 65535;
    return value + 32768;
  };
  stick.Axis[0] = axis(pad.LeftX, TPadButton::DpadLeft, TPadButton::DpadRight);
  stick.Axis[1] = axis(pad.LeftY, TPadButton::DpadUp, TPadButton::DpadDown);
  stick.Axis[2] = 32767;
  if (pad.Buttons & PadBit(TPadButton::South)) stick.Buttons |= 1u;
  if (pad.Buttons & (PadBit(TPadButton::East) | PadBit(TPadButton::West))) stick.Buttons |= 2u;
  return stick;
}

void TJoystick::Update(bool activeOnly) {
  States = 0;
  Axis.fill(0);
  if (!Enabled) return;
  if (activeOnly && !Platform().Foreground()) return;
  TPadState pad = Platform().GamePad(ID);
  TJoystickState raw = pad.Present ? PadAsJoystick(pad) : Platform().Joystick(ID);
  if (!raw.Present) return;
  for (size_t a = 0; a < 3; ++a) Axis[a] = ScaleAxis(raw.Axis[a], raw.Min, raw.Max, DeadZone[a], Range[a]);
  for (int button = 0; button < 32; ++button)
    if (raw.Buttons & (1u << button)) States |= InputBit(isButton1 + button);
  if (Axis[0] < 0) States |= InputBit(isLeft);
  if (Axis[0] > 0) States |= InputBit(isRight);
  if (Axis[1] < 0) States |= InputBit(isUp);
  if (Axis[1] > 0) States |= InputBit(isDown);
}

void TDXInput::UpdateInput() {
  TInputStates merged = 0;
  Joystick.Update(ActiveOnly);
  if (Joystick.BindInputStates) merged |= Joystick.States;
  Keyboard.Update(ActiveOnly);
  if (Keyboard.BindInputStates) merged |= Keyboard.States;
  for (int state = 0; state < kInputStateCount; ++state) {
    TInputStates bit = InputBit(state);
    if ((merged & bit) && !(InputStates & bit)) States |= bit;
    if (!(merged & bit) && (InputStates & bit)) States &= ~bit;
  }
  InputStates = merged;
}
