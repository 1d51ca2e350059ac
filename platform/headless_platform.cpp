#include "platform/headless_platform.h"

#include <cstddef>
#include <cstring>

namespace plat {

THeadlessPlatform::THeadlessPlatform() : Keys(kScanCount, false) {}

void THeadlessPlatform::SetKey(int scan, bool down) {
  if (scan >= 0 && scan < kScanCount) Keys[static_cast<size_t>(scan)] = down;
}

void THeadlessPlatform::SetJoystick(int index, const TJoystickState& state) {
  if (index >= 0 && index < 2) Sticks[index] = state;
}

void THeadlessPlatform::SetGamePad(int index, const TPadState& state) {
  if (index >= 0 && index < 2) Pads[index] = state;
}

void THeadlessPlatform::PushPadButton(TPadButton button, bool down) {
  TEvent event;
  if (PadButtonEvent(button, down, event)) PushEvent(event);
}

void THeadlessPlatform::OpenWindow(const std::string& caption) {
  Caption = caption;
  Placement = ChooseWindowPlacement(Placed ? &Placement : nullptr, DesktopAreas);
  Placed = false;  // a window opened again (by another main window) starts afresh
  IsOpen = true;
  IsMinimized = false;
}

void THeadlessPlatform::PlaceWindow(const TWindowPlacement& placement) {
  Placement = placement;
  Placed = true;
}

void THeadlessPlatform::SetFullScreen(bool fullScreen) {
  if (fullScreen && RefuseFullScreen) return;
  if (fullScreen != IsFullScreen) ++FullScreenSwitches;
  IsFullScreen = fullScreen;
}

void THeadlessPlatform::Present(const uint32_t* pixels, int pitch) {
  ++PresentCount;
  if (!KeepFrames) return;
  LastFrame.resize(static_cast<size_t>(kFrameWidth) * kFrameHeight);
  for (int y = 0; y < kFrameHeight; ++y)
    std::memcpy(&LastFrame[static_cast<size_t>(y) * kFrameWidth], pixels + static_cast<ptrdiff_t>(y) * pitch,
                kFrameWidth * sizeof(uint32_t));
  if (FramesKept > 0) {
    if (RecentFrames.size() >= FramesKept) RecentFrames.pop_front();
    RecentFrames.push_back(LastFrame);
  }
}

bool THeadlessPlatform::TakePresentationLost() {
  bool lost = PresentationLost;
  PresentationLost = false;
  return lost;
}

void THeadlessPlatform::Minimize() {
  IsMinimized = true;
  if (IsForeground) PushEvent({.Kind = TEventKind::Deactivate});
}

int THeadlessPlatform::ShowCursor(bool show) { return show ? ++CursorCount : --CursorCount; }

void THeadlessPlatform::SetCursorPos(int x, int y) {
  CursorX = x;
  CursorY = y;
}

void THeadlessPlatform::GetCursorPos(int& x, int& y) const {
  x = CursorX;
  y = CursorY;
}

void THeadlessPlatform::MessageBox(const std::string& text, const std::string&) {
  MessageBoxes.push_back(text);
}

bool THeadlessPlatform::PollEvent(TEvent& event) {
  if (Queue.empty()) return false;
  event = Queue.front();
  Queue.pop_front();
  switch (event.Kind) {
    case TEventKind::Activate:
      IsForeground = true;
      IsMinimized = false;
      break;
    case TEventKind::Deactivate:
      IsForeground = false;
      break;
    case TEventKind::MouseMove:
    case TEventKind::MouseDown:
    case TEventKind::MouseUp:
      CursorX = event.X;
      CursorY = event.Y;
      break;
    default:
      break;
  }
  return true;
}

void THeadlessPlatform::WaitEvent(uint32_t timeoutMs) {
  ++WaitCalls;
  if (Queue.empty()) Clock += timeoutMs;
}

void THeadlessPlatform::KeyboardState(bool* state) {
  for (int i = 0; i < kScanCount; ++i) state[i] = Keys[static_cast<size_t>(i)];
}

TJoystickState THeadlessPlatform::Joystick(int index) {
  if (index < 0 || index >= 2) return {};
  return Sticks[index];
}

TPadState THeadlessPlatform::GamePad(int index) {
  if (index < 0 || index >= 2) return {};
  return Pads[index];
}

std::unique_ptr<TAudioOutput> THeadlessPlatform::OpenAudio() {
  auto output = std::make_unique<THeadlessAudio>(AudioPresent);
  Audio = output.get();
  return output;
}

bool THeadlessPlatform::OpenDocument(const std::string& target) {
  OpenedDocuments.push_back(target);
  return !RefuseDocuments;
}

}  // namespace plat
