// The parts of the sprite tree that draw or read pictures: image and background rendering, the pixel
// and map collision tests, the surface binding and the form's engine component.
#include <algorithm>

#include "engine/display.h"
#include "engine/image_archive.h"
#include "engine/rtl.h"
#include "engine/sprite.h"
#include "engine/sprite_engine.h"
#include "engine/surface.h"

// ----------------------------------------------------------------------------------------- TImageSprite

TRect TImageSprite::DrawRect() const {
  TRect bounds = GetBounds();
  if (!Image) return bounds;
  return OffsetRect(bounds, (Width - Image->EffectiveWidth()) / 2, (Height - Image->EffectiveHeight()) / 2);
}

TRect TImageSprite::PatternOpaqueRect() const {
  if (!Image) return {};
  const TRect at = DrawRect();
  return Image->OpaqueRect(CurrentPattern(), at.Left, at.Top);
}

void TImageSprite::Render() {
  if (!Image || !Engine() || !Engine()->Surface()) return;
  TRect at = DrawRect();
  Image->DrawPattern(*Engine()->Surface(), at.Left, at.Top, CurrentPattern());
}

namespace {

// The two current patterns placed at their draw corners share a pixel that neither key hides.
bool PixelsOverlap(TImageSprite& a, TImageSprite& b) {
  TPictureCollectionItem* imageA = a.Image;
  TPictureCollectionItem* imageB = b.Image;
  if (!imageA || !imageB) return true;
  // Each pattern in its surface's coordinates, cut to the surface (a cell may reach past its tile),
  // and where it lands on the screen.
  TRect rectA = imageA->PatternRect(a.CurrentPattern());
  TRect rectB = imageB->PatternRect(b.CurrentPattern());
  const int32_t dxA = a.DrawRect().Left - rectA.Left, dyA = a.DrawRect().Top - rectA.Top;
  const int32_t dxB = b.DrawRect().Left - rectB.Left, dyB = b.DrawRect().Top - rectB.Top;
  TDirectDrawSurface* surfaceA = imageA->PatternSurface(a.CurrentPattern());
  TDirectDrawSurface* surfaceB = imageB->PatternSurface(b.CurrentPattern());
  if (surfaceA) rectA = IntersectRects(rectA, surfaceA->ClientRect());
  if (surfaceB) rectB = IntersectRects(rectB, surfaceB->ClientRect());
  TRect common = IntersectRects(OffsetRect(rectA, dxA, dyA), OffsetRect(rectB, dxB, dyB));
  if (common.Empty()) return false;
  if (!surfaceA || !surfaceB || !surfaceA->HasPixels() || !surfaceB->HasPixels()) return true;
  if (surfaceA->LockCount() > 0 || surfaceB->LockCount() > 0) return false;
  const uint32_t keyA = surfaceA->SourceKey() & 0xFFFFFF, keyB = surfaceB->SourceKey() & 0xFFFFFF;
  for (int32_t y = common.Top; y < common.Bottom; ++y) {
    const uint32_t* rowA = surfaceA->Bits() + static_cast<ptrdiff_t>(y - dyA) * surfaceA->Pitch();
    const uint32_t* rowB = surfaceB->Bits() + static_cast<ptrdiff_t>(y - dyB) * surfaceB->Pitch();
    for (int32_t x = common.Left; x < common.Right; ++x) {
      uint32_t pa = rowA[x - dxA] & 0xFFFFFF;
      uint32_t pb = rowB[x - dxB] & 0xFFFFFF;
      if (pa != keyA && pb != keyB) return true;
    }
  }
  return false;
}

}  // namespace

bool TImageSprite::Overlaps(TSprite* other) {
  auto* image = dynamic_cast<TImageSprite*>(other);
  if (!image || !PixelCheck) return true;
  return PixelsOverlap(*this, *image);
}

// ------------------------------------------------------------------------------------ TBackgroundSprite

void TBackgroundSprite::Render() {
  if (!Image || MapW <= 0 || MapH <= 0 || !Engine() || !Engine()->Surface()) return;
  TRect cell = Image->PatternRect(0);
  const int32_t cw = cell.Width(), ch = cell.Height();
  if (cw <= 0 || ch <= 0) return;
  TDirectDrawSurface& surface = *Engine()->Surface();
  const TRect& r = Engine()->SurfaceRect;
  const int32_t dw = (r.Right + cw) / cw + 1, dh = (r.Bottom + ch) / ch + 1;
  const int32_t x = static_cast<int32_t>(Trunc(WorldX())), y = static_cast<int32_t>(Trunc(WorldY()));
  const int32_t ox = x % cw, oy = y % ch;
  int32_t sx = x / cw, sy = y / ch, sx0 = 0, sy0 = 0;
  if (sx < 0) sx0 = -sx, sx = 0;
  if (sy < 0) sy0 = -sy, sy = 0;
  auto draw = [&](int32_t mapX, int32_t mapY, int32_t cx, int32_t cy) {
    int32_t pattern = Chip(mapX, mapY);
    if (pattern >= 0) Image->DrawPattern(surface, cx * cw + ox, cy * ch + oy, pattern);
  };
  if (Tile) {
    for (int32_t cy = -1; cy <= dh; ++cy)
      for (int32_t cx = -1; cx <= dw; ++cx)
        draw(Mod2(cx + sx0 - sx, MapW), Mod2(cy + sy0 - sy, MapH), cx, cy);
    return;
  }
  const int32_t ex = std::min(sx + MapW - sx0, dw), ey = std::min(sy + MapH - sy0, dh);
  for (int32_t cy = sy; cy < ey; ++cy)
    for (int32_t cx = sx; cx < ex; ++cx) draw(cx + sx0 - sx, cy + sy0 - sy, cx, cy);
}

TRect TBackgroundSprite::GetBounds() const {
  if (Tile && Engine()) return Engine()->SurfaceRect;
  if (!Image) return {};
  return Bounds(static_cast<int32_t>(Trunc(WorldX())), static_cast<int32_t>(Trunc(WorldY())),
                Image->EffectiveWidth() * MapW, Image->EffectiveHeight() * MapH);
}

TRect TBackgroundSprite::OpaqueRect() const {
  if (!Tile || !Image || !Engine() || MapW <= 0 || MapH <= 0) return {};
  const TRect cell = Image->PatternRect(0);
  if (cell.Empty()) return {};
  const TRect whole = Bounds(0, 0, cell.Width(), cell.Height());
  for (int32_t y = 0; y < MapH; ++y)
    for (int32_t x = 0; x < MapW; ++x) {
      const int32_t pattern = Chip(x, y);
      if (pattern < 0 || Image->PatternRect(pattern).Width() != cell.Width() ||
          Image->PatternRect(pattern).Height() != cell.Height() || Image->OpaqueRect(pattern, 0, 0) != whole)
        return {};
    }
  return Engine()->SurfaceRect;
}

bool TBackgroundSprite::Overlaps(TSprite* other) {
  if (!Image || MapW <= 0 || MapH <= 0) return true;
  TRect cell = Image->PatternRect(0);
  const int32_t cw = cell.Width(), ch = cell.Height();
  if (cw <= 0 || ch <= 0) return true;
  const int32_t dx = -static_cast<int32_t>(Trunc(WorldX())), dy = -static_cast<int32_t>(Trunc(WorldY()));
  TRect b1 = other->GetBounds();
  TRect b = OffsetRect(IntersectRects(b1, GetBounds()), dx, dy);
  b1 = OffsetRect(b1, dx, dy);
  for (int32_t cy = (b.Top - ch + 1) / ch; cy <= b.Bottom / ch; ++cy)
    for (int32_t cx = (b.Left - cw + 1) / cw; cx <= b.Right / cw; ++cx)
      if (CollisionCell(Mod2(cx, MapW), Mod2(cy, MapH)) && RectsOverlap(Bounds(cx * cw, cy * ch, cw, ch), b1))
        return true;
  return false;
}

// ---------------------------------------------------------------------------------------- TSpriteEngine

void TSpriteEngine::SetSurface(TDirectDrawSurface* surface) {
  DrawSurface = surface;
  if (!surface) return;
  SurfaceRect = surface->ClientRect();
  Width = surface->Width();
  Height = surface->Height();
}

// ------------------------------------------------------------------------------------- TDXSpriteEngine

TDXSpriteEngine::~TDXSpriteEngine() { SetDXDraw(nullptr); }

void TDXSpriteEngine::SetDXDraw(TDXDraw* draw) {
  if (Draw) Draw->UnRegisterNotifyEvent(this);
  Draw = draw;
  if (!Draw) return;
  Draw->RegisterNotifyEvent(this, [this](TDXDraw& sender, TDXDrawNotifyType type) {
    switch (type) {
      case dxntInitialize:
        Engine.SetSurface(&sender.Surface);
        break;
      case dxntFinalize:
        Engine.SetSurface(nullptr);
        break;
      case dxntDestroying:
        Draw = nullptr;  // the display is going: nothing to leave
        Engine.SetSurface(nullptr);
        break;
      default:
        break;
    }
  });
  if (Draw->Initialized()) Engine.SetSurface(&Draw->Surface);
}

void TDXSpriteEngine::Paint() {
  if (Draw && Draw->Initialized()) Engine.Paint();
}

void TDXSpriteEngine::Paint(uint32_t fill) {
  if (Draw && Draw->Initialized()) Engine.Paint(fill);
}
