// Input states: the keyboard and an optional joystick or game pad polled once a frame into a small set
// of states (up, down, left, right, buttons) that the hero and the menus read. Owned by the main window;
// the frame handlers call UpdateInput right after the display says it can draw.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

// State numbers; the set holds 36 of them, member k in bit k (byte k div 8, bit k mod 8).
enum TDXInputState : int {
  isUp = 0, isDown = 1, isLeft = 2, isRight = 3, isButton1 = 4, isButton2 = 5,
  isButton3 = 6,  // buttons 3 to 32 are states 6 to 35
  isButton9 = 12,
};
constexpr int kInputStateCount = 36;
using TInputStates = uint64_t;
constexpr TInputStates InputBit(int state) { return TInputStates{1} << state; }

// The desktop's virtual-key code for a physical key; 0 for keys that never count as down.
uint8_t ScanToKey(int scan);

class TKeyboard {
 public:
  TKeyboard();
  // Reads the platform's keys into the key table and the states. With activeOnly, a window without the
  // focus reads no keys.
  void Update(bool activeOnly);
  bool KeyDown(int key) const { return key > 0 && key < 256 && (Keys[static_cast<size_t>(key)] & 0x80) != 0; }

  // 36 states x 3 slots of virtual-key codes, state-major; 0 is an empty slot, only 1-255 count.
  std::array<int32_t, kInputStateCount * 3> Assigns{};
  // The table a keyboard starts with: K, J, H, L and the arrows and keypad; Z, Space; X, Enter; F2.
  void SetDefaultAssigns();

  bool Enabled = true;
  bool BindInputStates = true;
  TInputStates States = 0;
  std::array<uint8_t, 256> Keys{};  // bit 0x80: down
};

// A game pad read as a joystick of two buttons: the left stick gives X and Y (0 to 65535), the d-pad
// pushes its axis to the end; South is button 1 (fire), East and West are button 2 (bombs).
plat::TJoystickState PadAsJoystick(const plat::TPadState& pad);

// Joystick ID: the game pad of that index when one is plugged in, else the raw joystick. Either way the
// dead zone and range apply, so a direction needs the stick pushed more than the dead zone.
class TJoystick {
 public:
  // Scales one raw axis reading to -range..+range with the dead-zone rule; min/max from the device.
  static int32_t ScaleAxis(int32_t raw, int32_t min, int32_t max, int32_t deadZone, int32_t range);
  void Update(bool activeOnly);

  void SetDeadZone(int axis, int percent);  // clamped to 0-100
  void SetRange(int axis, int range);

  int ID = 0;
  bool Enabled = true;
  bool BindInputStates = true;
  bool AutoCenter = true;
  TInputStates States = 0;
  std::array<int32_t, 3> DeadZone{50, 50, 50};  // percent of the half travel: X, Y, Z
  std::array<int32_t, 3> Range{1000, 1000, 1000};
  std::array<int32_t, 3> Axis{};  // the last scaled readings
};

class TDXInput {
 public:
  // Polls every device and merges the bound ones into the states.
  void UpdateInput();

  bool ActiveOnly = true;
  TJoystick Joystick;
  TKeyboard Keyboard;
  // The states the game reads: each state turns on and off as the merged devices change.
  TInputStates States = 0;

 private:
  TInputStates InputStates = 0;  // the merged devices at the last update
};
