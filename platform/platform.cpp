#include "platform/platform.h"

#include <algorithm>
#include <cassert>

namespace plat {

uint16_t VirtualKeyOfScan(uint16_t scan) {
  if (scan >= SCAN_F1 && scan <= SCAN_F12)
    return static_cast<uint16_t>(VK_F1 + (scan - SCAN_F1));
  if (scan >= SCAN_KP_1 && scan <= SCAN_KP_9)
    return static_cast<uint16_t>(VK_NUMPAD0 + 1 + (scan - SCAN_KP_1));
  switch (scan) {
    case SCAN_KP_0: return VK_NUMPAD0;
    case SCAN_BACKSPACE: return VK_BACK;
    case SCAN_TAB: return VK_TAB;
    case SCAN_RETURN:
    case SCAN_KP_ENTER: return VK_RETURN;
    case SCAN_LSHIFT:
    case SCAN_RSHIFT: return VK_SHIFT;
    case SCAN_LCTRL:
    case SCAN_RCTRL: return VK_CONTROL;
    case SCAN_LALT:
    case SCAN_RALT: return VK_MENU;
    case SCAN_PAUSE: return VK_PAUSE;
    case SCAN_CAPSLOCK: return VK_CAPITAL;
    case SCAN_ESCAPE: return VK_ESCAPE;
    case SCAN_SPACE: return VK_SPACE;
    case SCAN_PAGEUP: return VK_PRIOR;
    case SCAN_PAGEDOWN: return VK_NEXT;
    case SCAN_END: return VK_END;
    case SCAN_HOME: return VK_HOME;
    case SCAN_LEFT: return VK_LEFT;
    case SCAN_UP: return VK_UP;
    case SCAN_RIGHT: return VK_RIGHT;
    case SCAN_DOWN: return VK_DOWN;
    case SCAN_INSERT: return VK_INSERT;
    case SCAN_DELETE: return VK_DELETE;
    case SCAN_LGUI: return VK_LWIN;
    case SCAN_RGUI: return VK_RWIN;
    case SCAN_APPLICATION: return VK_APPS;
    case SCAN_KP_MULTIPLY: return VK_MULTIPLY;
    case SCAN_KP_PLUS: return VK_ADD;
    case SCAN_KP_MINUS: return VK_SUBTRACT;
    case SCAN_KP_PERIOD: return VK_DECIMAL;
    case SCAN_KP_DIVIDE: return VK_DIVIDE;
    case SCAN_NUMLOCK: return VK_NUMLOCK;
    case SCAN_SCROLLLOCK: return VK_SCROLL;
    case SCAN_SEMICOLON: return VK_OEM_1;
    case SCAN_EQUALS: return VK_OEM_PLUS;
    case SCAN_COMMA: return VK_OEM_COMMA;
    case SCAN_MINUS: return VK_OEM_MINUS;
    case SCAN_PERIOD: return VK_OEM_PERIOD;
    case SCAN_SLASH: return VK_OEM_2;
    case SCAN_GRAVE: return VK_OEM_3;
    case SCAN_LEFTBRACKET: return VK_OEM_4;
    case SCAN_BACKSLASH: return VK_OEM_5;
    case SCAN_RIGHTBRACKET: return VK_OEM_6;
    case SCAN_APOSTROPHE: return VK_OEM_7;
    default: return 0;
  }
}

namespace {
TPlatform* Current = nullptr;
}

TPlatform& Platform() {
  assert(Current && "Platform: no platform installed");
  return *Current;
}

void SetPlatform(TPlatform* platform) { Current = platform; }

bool PadButtonEvent(TPadButton button, bool down, TEvent& event) {
  if (button != TPadButton::Start) return false;
  event = TEvent{};
  event.Kind = down ? TEventKind::KeyDown : TEventKind::KeyUp;
  event.Key = 'P';
  return true;
}

TRectArea FitPicture(int outputWidth, int outputHeight) {
  if (outputWidth <= 0 || outputHeight <= 0) return {0, 0, 0, 0};
  // Whole steps of 4 x 3 pixels keep the aspect exact.
  const int steps = std::min(outputWidth / 4, outputHeight / 3);
  const int width = steps * 4, height = steps * 3;
  return {(outputWidth - width) / 2, (outputHeight - height) / 2, width, height};
}

bool WholeMultiple(const TRectArea& picture) {
  return picture.Width >= kFrameWidth && picture.Width % kFrameWidth == 0 &&
         picture.Height == picture.Width / kFrameWidth * kFrameHeight;
}

namespace {

// Room a window needs around its client area for the frame and title bar of a usual desktop.
constexpr int kFrameRoomX = 32;
constexpr int kFrameRoomY = 80;

bool Contains(const TRectArea& area, int x, int y) {
  return x >= area.X && y >= area.Y && x < area.X + area.Width && y < area.Y + area.Height;
}

}  // namespace

TWindowPlacement ChooseWindowPlacement(const TWindowPlacement* stored, const std::vector<TRectArea>& areas) {
  if (stored && stored->Width >= kMinWindowWidth && stored->Height >= kMinWindowHeight) {
    const int centreX = stored->X + stored->Width / 2, centreY = stored->Y + stored->Height / 2;
    for (const TRectArea& area : areas)
      if (Contains(area, centreX, centreY) && stored->Width <= area.Width && stored->Height <= area.Height)
        return *stored;
  }
  const TRectArea area = areas.empty() ? TRectArea{0, 0, kFrameWidth, kFrameHeight} : areas.front();
  const int scale = std::max(1, std::min((area.Width - kFrameRoomX) / kFrameWidth,
                                         (area.Height - kFrameRoomY) / kFrameHeight));
  TWindowPlacement placement;
  placement.Width = kFrameWidth * scale;
  placement.Height = kFrameHeight * scale;
  placement.X = area.X + (area.Width - placement.Width) / 2;
  placement.Y = area.Y + (area.Height - placement.Height) / 2;
  return placement;
}

}  // namespace plat
