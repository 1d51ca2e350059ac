#include "engine/surface.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>

#include "engine/canvas.h"
#include "common/format.h"

namespace {

static_assert(sizeof(wchar_t) == sizeof(uint32_t), "pixels are filled as wide characters");

// Larger requests fail as the display's allocator would: 2^28 pixels is a gigabyte.
constexpr int64_t kMaxPixels = int64_t{1} << 28;

}  // namespace

TDirectDrawSurface::TDirectDrawSurface() = default;

TDirectDrawSurface::~TDirectDrawSurface() = default;

void TDirectDrawSurface::CreateOffscreen(int width, int height) {
  Release();
  if (width <= 0 || height <= 0) return;
  if (int64_t{width} * height > kMaxPixels) {
    LastResult = DDERR_INVALIDOBJECT;
    throw EDirectDrawSurfaceError("%s cannot be made", "Surface");
  }
  try {
    Pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0u);
  } catch (const std::bad_alloc&) {
    LastResult = DDERR_INVALIDOBJECT;
    throw EDirectDrawSurfaceError("%s cannot be made", "Surface");
  }
  SurfaceWidth = width;
  SurfaceHeight = height;
  LastResult = DD_OK;
}

void TDirectDrawSurface::Release() {
  if (Canvas) Canvas->ReleaseCanvas();
  std::vector<uint32_t>().swap(Pixels);
  SurfaceWidth = SurfaceHeight = 0;
  Locks = 0;
  KeySet = false;
  Key = 0;
}

void TDirectDrawSurface::FillSurface(uint32_t value) { FillRows(0, SurfaceHeight, value); }

void TDirectDrawSurface::FillRows(int top, int bottom, uint32_t value) {
  if (Pixels.empty()) {
    LastResult = DDERR_INVALIDOBJECT;
    return;
  }
  if (Locks > 0) {
    LastResult = DDERR_SURFACEBUSY;
    return;
  }
  LastResult = DD_OK;
  if (DiscardDrawing) return;
  top = std::max(top, 0);
  bottom = std::min(bottom, SurfaceHeight);
  if (top >= bottom) return;
  uint32_t* first = Pixels.data() + static_cast<size_t>(top) * static_cast<size_t>(SurfaceWidth);
  const size_t count = static_cast<size_t>(bottom - top) * static_cast<size_t>(SurfaceWidth);
  // The C library's fills use the widest stores the processor has, which a plain loop does not reach.
  if (value == (value & 0xFFu) * 0x01010101u)
    std::memset(first, static_cast<int>(value & 0xFFu), count * sizeof(uint32_t));
  else
    std::wmemset(reinterpret_cast<wchar_t*>(first), static_cast<wchar_t>(value), count);
}

uint32_t TDirectDrawSurface::ReadPixel(int x, int y) {
  if (x < 0 || y < 0 || x >= SurfaceWidth || y >= SurfaceHeight) return 0;
  TDDSurfaceDesc desc;
  if (!LockSurface(nullptr, desc)) return 0;
  uint32_t value = desc.Bits[static_cast<ptrdiff_t>(y) * desc.Pitch + x];
  UnlockSurface();
  return value;
}

void TDirectDrawSurface::WritePixel(int x, int y, uint32_t value) {
  if (DiscardDrawing) return;
  if (x < 0 || y < 0 || x >= SurfaceWidth || y >= SurfaceHeight) return;
  TDDSurfaceDesc desc;
  if (!LockSurface(nullptr, desc)) return;
  desc.Bits[static_cast<ptrdiff_t>(y) * desc.Pitch + x] = value;
  UnlockSurface();
}

uint32_t TDirectDrawSurface::MatchColor(int32_t color) {
  // A 32-bit XRGB surface stores an RGB colour exactly; what a one-pixel draw would read back.
  if (Pixels.empty()) return 0;
  return ColorToPixel(color);
}

void TDirectDrawSurface::SetSourceKey(uint32_t value) {
  Key = value;
  KeySet = true;
  LastResult = DD_OK;
}

bool TDirectDrawSurface::LockSurface(const TRect* rect, TDDSurfaceDesc& desc) {
  if (Pixels.empty()) {
    LastResult = DDERR_INVALIDOBJECT;
    return false;
  }
  if (Locks > 0) {
    LastResult = DDERR_SURFACEBUSY;
    return false;
  }
  TRect area = ClientRect();
  if (rect) {
    if (rect->Left < 0 || rect->Top < 0 || rect->Right > SurfaceWidth || rect->Bottom > SurfaceHeight ||
        rect->Empty()) {
      LastResult = DDERR_INVALIDRECT;
      return false;
    }
    area = *rect;
  }
  LockDesc.Bits = Pixels.data() + static_cast<ptrdiff_t>(area.Top) * SurfaceWidth + area.Left;
  LockDesc.Width = area.Width();
  LockDesc.Height = area.Height();
  LockDesc.Pitch = SurfaceWidth;
  LockDesc.BitCount = 32;
  desc = LockDesc;
  ++Locks;
  LastResult = DD_OK;
  return true;
}

void TDirectDrawSurface::UnlockSurface() {
  if (Locks <= 0) {
    LastResult = DDERR_NOTLOCKED;
    return;
  }
  --Locks;
  LastResult = DD_OK;
}

bool TDirectDrawSurface::RestoreSurface() {
  LastResult = Pixels.empty() ? DDERR_INVALIDOBJECT : DD_OK;
  return LastResult == DD_OK;
}

TDirectDrawSurfaceCanvas& TDirectDrawSurface::SurfaceCanvas() {
  if (!Canvas) Canvas = std::make_unique<TDirectDrawSurfaceCanvas>(*this);
  return *Canvas;
}
