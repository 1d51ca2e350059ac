// The platform's headless twin: a clock the test advances, a queue of scripted events, keyboard and
// joystick states set by the test, and a window that keeps what was presented and records message
// boxes, pointer calls and opened documents. Whole-program tests run on it deterministically.
#pragma once

#include <deque>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace plat {

class THeadlessPlatform : public TPlatform {
 public:
  THeadlessPlatform();

  // --- scripting ---
  void PushEvent(const TEvent& event) { Queue.push_back(event); }
  void AdvanceClock(uint32_t ms) { Clock += ms; }
  void SetKey(int scan, bool down);
  void SetJoystick(int index, const TJoystickState& state);
  void SetGamePad(int index, const TPadState& state);
  // A pad's button pressed or released: its event, if it makes one, joins the queue.
  void PushPadButton(TPadButton button, bool down);
  // As if the graphics device had been reset: the next TakePresentationLost reports it.
  void LosePresentation() { PresentationLost = true; }

  // --- TPlatform ---
  void OpenWindow(const std::string& caption) override;
  bool WindowOpen() const override { return IsOpen; }
  // Also what a test calls for the player moving or sizing the window.
  void PlaceWindow(const TWindowPlacement& placement) override;
  TWindowPlacement WindowPlacement() const override { return Placement; }
  void SetFullScreen(bool fullScreen) override;
  bool FullScreen() const override { return IsFullScreen; }
  void Present(const uint32_t* pixels, int pitch) override;
  bool TakePresentationLost() override;
  void SetIcon(const std::string& pngPath) override { Icon = pngPath; }
  void Minimize() override;
  bool Minimized() const override { return IsMinimized; }
  bool Foreground() const override { return IsForeground; }
  int ShowCursor(bool show) override;
  void SetCursorPos(int x, int y) override;
  void GetCursorPos(int& x, int& y) const override;
  void MessageBox(const std::string& text, const std::string& caption) override;
  bool PollEvent(TEvent& event) override;
  // With no event waiting, the clock jumps ahead by timeoutMs: an idle wait costs no real time.
  void WaitEvent(uint32_t timeoutMs) override;
  uint32_t Milliseconds() override { return Clock; }
  uint32_t ClockSeed() override { return Seed; }
  void KeyboardState(bool* state) override;
  TJoystickState Joystick(int index) override;
  TPadState GamePad(int index) override;
  bool OpenDocument(const std::string& target) override;
  // A headless device (or none, with AudioPresent false); the test pulls its samples through Audio.
  std::unique_ptr<TAudioOutput> OpenAudio() override;

  // --- records ---
  std::string Caption;
  std::string Icon;
  int FullScreenSwitches = 0;                      // calls of SetFullScreen that changed the mode
  uint64_t PresentCount = 0;                       // frames presented since start
  std::vector<uint32_t> LastFrame;                 // 800 x 600, empty until the first present
  std::deque<std::vector<uint32_t>> RecentFrames;  // the last FramesKept frames, oldest first
  size_t FramesKept = 8;
  bool KeepFrames = true;                 // false: presenting only counts (benchmarks)
  std::vector<std::string> MessageBoxes;  // texts, in order
  std::vector<std::string> OpenedDocuments;
  int CursorCount = 0;           // display count; the pointer shows while it is >= 0
  int CursorX = 0, CursorY = 0;  // where the last SetCursorPos or pointer event put it; no history is
                                 // kept, so a game that moves the pointer every tick holds no more memory
  int WaitCalls = 0;
  std::vector<TRectArea> DesktopAreas{{0, 0, 1920, 1080}};  // the displays' usable areas, primary first
  TWindowPlacement Placement;  // the window's; before OpenWindow, what PlaceWindow gave
  bool AudioPresent = true;
  THeadlessAudio* Audio = nullptr;  // the last output opened; owned by whoever opened it

  uint32_t Clock = 0;
  uint32_t Seed = 1;  // what ClockSeed hands the random generator
  bool IsForeground = true;
  bool RefuseFullScreen = false;  // a desktop that cannot go full screen: SetFullScreen(true) is ignored
  bool RefuseDocuments = false;   // a desktop with no browser: OpenDocument records the target, fails

 private:
  std::deque<TEvent> Queue;
  std::vector<bool> Keys;
  TJoystickState Sticks[2];
  TPadState Pads[2];
  bool IsOpen = false;
  bool Placed = false;  // PlaceWindow came since the last OpenWindow
  bool IsFullScreen = false;
  bool IsMinimized = false;
  bool PresentationLost = false;
};

}  // namespace plat
