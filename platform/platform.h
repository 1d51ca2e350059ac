// The program's view of the desktop: one window, its events, the clock, keyboard and joysticks,
// message boxes and the desktop's "open" verb. Two implementations: SDL (sdl_platform.cpp) for
// players, and the headless twin (headless_platform.h) that tests script frame by frame.
// Exactly one platform is current at a time; the application installs it at start and every layer
// above reaches it through Platform().
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/audio.h"

namespace plat {

// Platform virtual-key codes, as the game's key handlers compare them.
enum : uint16_t {
  VK_BACK = 8, VK_TAB = 9, VK_RETURN = 13, VK_SHIFT = 16, VK_CONTROL = 17, VK_MENU = 18,
  VK_PAUSE = 19, VK_CAPITAL = 20, VK_ESCAPE = 27, VK_SPACE = 32, VK_PRIOR = 33, VK_NEXT = 34,
  VK_END = 35, VK_HOME = 36, VK_LEFT = 37, VK_UP = 38, VK_RIGHT = 39, VK_DOWN = 40,
  VK_INSERT = 45, VK_DELETE = 46, VK_LWIN = 91, VK_RWIN = 92, VK_APPS = 93,
  VK_NUMPAD0 = 96, VK_MULTIPLY = 106, VK_ADD = 107, VK_SUBTRACT = 109, VK_DECIMAL = 110,
  VK_DIVIDE = 111, VK_F1 = 112, VK_F2 = 113, VK_F12 = 123, VK_NUMLOCK = 144, VK_SCROLL = 145,
  VK_OEM_1 = 186, VK_OEM_PLUS = 187, VK_OEM_COMMA = 188, VK_OEM_MINUS = 189, VK_OEM_PERIOD = 190,
  VK_OEM_2 = 191, VK_OEM_3 = 192, VK_OEM_4 = 219, VK_OEM_5 = 220, VK_OEM_6 = 221, VK_OEM_7 = 222,
};

// Physical key positions: USB HID keyboard usage IDs (the numbering SDL's scancodes use too).
enum : uint16_t {
  SCAN_A = 4, SCAN_Z = 29, SCAN_1 = 30, SCAN_0 = 39, SCAN_RETURN = 40, SCAN_ESCAPE = 41,
  SCAN_BACKSPACE = 42, SCAN_TAB = 43, SCAN_SPACE = 44, SCAN_MINUS = 45, SCAN_EQUALS = 46,
  SCAN_LEFTBRACKET = 47, SCAN_RIGHTBRACKET = 48, SCAN_BACKSLASH = 49, SCAN_NONUSHASH = 50,
  SCAN_SEMICOLON = 51, SCAN_APOSTROPHE = 52, SCAN_GRAVE = 53, SCAN_COMMA = 54, SCAN_PERIOD = 55,
  SCAN_SLASH = 56, SCAN_CAPSLOCK = 57, SCAN_F1 = 58, SCAN_F12 = 69, SCAN_PRINTSCREEN = 70,
  SCAN_SCROLLLOCK = 71, SCAN_PAUSE = 72, SCAN_INSERT = 73, SCAN_HOME = 74, SCAN_PAGEUP = 75,
  SCAN_DELETE = 76, SCAN_END = 77, SCAN_PAGEDOWN = 78, SCAN_RIGHT = 79, SCAN_LEFT = 80,
  SCAN_DOWN = 81, SCAN_UP = 82, SCAN_NUMLOCK = 83, SCAN_KP_DIVIDE = 84, SCAN_KP_MULTIPLY = 85,
  SCAN_KP_MINUS = 86, SCAN_KP_PLUS = 87, SCAN_KP_ENTER = 88, SCAN_KP_1 = 89, SCAN_KP_9 = 97,
  SCAN_KP_0 = 98, SCAN_KP_PERIOD = 99, SCAN_APPLICATION = 101, SCAN_LCTRL = 224,
  SCAN_LSHIFT = 225, SCAN_LALT = 226, SCAN_LGUI = 227, SCAN_RCTRL = 228, SCAN_RSHIFT = 229,
  SCAN_RALT = 230, SCAN_RGUI = 231,
};
constexpr int kScanCount = 512;

// The virtual-key code of a key that is not a letter or digit, by its physical position (0: none).
// Letters and digits follow the keyboard layout instead, so each platform names those itself.
uint16_t VirtualKeyOfScan(uint16_t scan);

enum class TEventKind : uint8_t {
  KeyDown,     // Key: virtual-key code; Alt: Alt held
  KeyUp,       // Key, Alt
  KeyPress,    // Char: the typed character (8-bit)
  MouseMove,   // X, Y: pointer in the 800 x 600 picture's coordinates
  MouseDown,   // Button, X, Y
  MouseUp,     // Button, X, Y
  Click,       // left button pressed and released over the picture
  Activate,    // the application gained the focus
  Deactivate,  // the application lost the focus
  Close,       // the user asked to close the window
  Maximize,    // asked to maximise a window that cannot grow (the SDL window can: it maximises itself)
  Terminate,   // the session or a signal ends the program (not the user closing the window)
};

enum class TMouseButton : uint8_t { Left, Right, Middle };

struct TEvent {
  TEventKind Kind = TEventKind::KeyDown;
  uint16_t Key = 0;
  bool Alt = false;
  char Char = 0;
  TMouseButton Button = TMouseButton::Left;
  int X = 0, Y = 0;
};

// Raw joystick reading in the shape the game's scaling expects: each axis from Min to Max.
struct TJoystickState {
  bool Present = false;
  int32_t Axis[3] = {0, 0, 0};  // X, Y, Z
  int32_t Min = 0, Max = 65535;
  uint32_t Buttons = 0;  // bit i: button i pressed
};

// A game controller in SDL's mapping of common pads: buttons named by their place, as on an Xbox pad
// (South is A, East B, West X, North Y).
enum class TPadButton : uint8_t {
  South, East, West, North, Back, Guide, Start, LeftStick, RightStick, LeftShoulder, RightShoulder,
  DpadUp, DpadDown, DpadLeft, DpadRight,
};

struct TPadState {
  bool Present = false;
  int16_t LeftX = 0, LeftY = 0;  // the left stick: -32768 left or up to 32767 right or down
  uint32_t Buttons = 0;          // bit b: TPadButton b held
};

constexpr uint32_t PadBit(TPadButton button) { return 1u << static_cast<unsigned>(button); }

// A pad's buttons as events: Start stands for the pause key (P), so that a player on the sofa can pause
// and resume; the other buttons make no events (they are read as input states). Returns false for them.
bool PadButtonEvent(TPadButton button, bool down, TEvent& event);

// One 800 x 600 picture, 32-bit XRGB (blue in the low byte), rows top to bottom.
constexpr int kFrameWidth = 800;
constexpr int kFrameHeight = 600;

struct TRectArea {
  int X = 0, Y = 0, Width = 0, Height = 0;
  bool operator==(const TRectArea&) const = default;
};

// Where the picture lands in an output of the given size (in pixels): as large as fits with its 4:3
// aspect exact, centred, with black bars where the output's aspect differs.
TRectArea FitPicture(int outputWidth, int outputHeight);
// The picture is drawn at a whole multiple of its size (pixel for pixel, sharp) in that rectangle.
bool WholeMultiple(const TRectArea& picture);

// The window's place in window mode, in the desktop's coordinates (points, which are pixels unless the
// desktop scales): the corner of its frame (where a window manager puts a new window), the size of its
// client area, and whether it was maximised.
struct TWindowPlacement {
  int X = 0, Y = 0;
  int Width = 0, Height = 0;
  bool Maximized = false;
  bool operator==(const TWindowPlacement&) const = default;
};

// The smallest window the player can make: half the picture's size.
constexpr int kMinWindowWidth = kFrameWidth / 2;
constexpr int kMinWindowHeight = kFrameHeight / 2;

// Where a window opens on a desktop whose displays have these usable areas (without panels and docks;
// the first is the primary display). A stored placement is kept when it is at least the smallest window,
// fits in a display's area and has its centre on it. Otherwise the window opens on the primary display,
// centred, at the largest whole multiple of the picture's size that leaves room there for the window's
// frame and title bar, and at 800 x 600 when even that does not.
TWindowPlacement ChooseWindowPlacement(const TWindowPlacement* stored, const std::vector<TRectArea>& areas);

class TPlatform {
 public:
  virtual ~TPlatform() = default;

  // Window. Open shows a window the player may resize and maximise, placed by ChooseWindowPlacement with
  // what PlaceWindow gave before (if anything). The picture is scaled to the window as FitPicture says.
  virtual void OpenWindow(const std::string& caption) = 0;
  virtual bool WindowOpen() const = 0;
  // Before OpenWindow: the placement kept from an earlier run. Afterwards: moves and sizes the window in
  // window mode (in full screen, the place it goes back to).
  virtual void PlaceWindow(const TWindowPlacement& placement) = 0;
  // The window's placement in window mode; while maximised or full screen, the one it returns to.
  virtual TWindowPlacement WindowPlacement() const = 0;
  // Full screen is the desktop's full-screen window with the picture scaled to fit, letterboxed; leaving
  // it gives the window its placement back.
  virtual void SetFullScreen(bool fullScreen) = 0;
  virtual bool FullScreen() const = 0;
  // Presents one frame (pitch in pixels), waiting for the vertical blank where the desktop has one.
  virtual void Present(const uint32_t* pixels, int pitch) = 0;
  // True once after the presentation side lost what it keeps on the graphics device (the renderer's
  // device or render targets were reset); asking clears it. The display then restores its surfaces.
  virtual bool TakePresentationLost() = 0;
  // The window's icon, from a PNG file; a file that cannot be read leaves the desktop's default.
  virtual void SetIcon(const std::string& pngPath) = 0;
  virtual void Minimize() = 0;
  virtual bool Minimized() const = 0;
  // The window has the keyboard focus (the foreground window).
  virtual bool Foreground() const = 0;

  // Pointer. ShowCursor adds one (show) or takes one (hide) from the display count and returns the new
  // count; the pointer is visible while the count is 0 or more. Positions are in picture coordinates.
  virtual int ShowCursor(bool show) = 0;
  virtual void SetCursorPos(int x, int y) = 0;
  virtual void GetCursorPos(int& x, int& y) const = 0;

  // A modal message box with an OK button.
  virtual void MessageBox(const std::string& text, const std::string& caption) = 0;

  // Events: PollEvent takes the next waiting event; WaitEvent sleeps until one is waiting or
  // timeoutMs have passed.
  virtual bool PollEvent(TEvent& event) = 0;
  virtual void WaitEvent(uint32_t timeoutMs) = 0;

  // Milliseconds since an arbitrary start; wraps at 2^32.
  virtual uint32_t Milliseconds() = 0;
  // A seed for the random generator that differs from run to run (the time of day).
  virtual uint32_t ClockSeed() = 0;

  // Keys held now, by physical position: state[scan] is true while held (kScanCount entries).
  virtual void KeyboardState(bool* state) = 0;
  virtual TJoystickState Joystick(int index) = 0;
  // The game controllers plugged in now, in the order they came; index 0 is the first.
  virtual TPadState GamePad(int index) = 0;

  // The sound output: the desktop's audio device, silent when there is none.
  virtual std::unique_ptr<TAudioOutput> OpenAudio() = 0;

  // Opens an address or a file with the desktop's default program; returns at once.
  virtual bool OpenDocument(const std::string& target) = 0;
};

// The current platform; set by the application (or a test) before anything uses it.
TPlatform& Platform();
void SetPlatform(TPlatform* platform);

}  // namespace plat
