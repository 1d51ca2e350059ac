#include "platform/platform.h"

#include <algorithm>
#include <cassert>

namespace plat {
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
