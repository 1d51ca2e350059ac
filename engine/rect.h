// Rectangles: left, top, right, bottom with right and bottom exclusive, so a rectangle covers the pixels
// from left to right - 1. Rectangles that only touch do not overlap.
#pragma once

#include <algorithm>
#include <cstdint>

struct TRect {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Right = 0;
  int32_t Bottom = 0;

  int32_t Width() const { return Right - Left; }
  int32_t Height() const { return Bottom - Top; }
  bool Empty() const { return Right <= Left || Bottom <= Top; }
  bool operator==(const TRect&) const = default;
};

inline TRect Bounds(int32_t x, int32_t y, int32_t width, int32_t height) {
  return {x, y, x + width, y + height};
}

inline bool RectsOverlap(const TRect& a, const TRect& b) {
  return a.Left < b.Right && b.Left < a.Right && a.Top < b.Bottom && b.Top < a.Bottom;
}

// The common part of two rectangles; empty (right <= left or bottom <= top) when they do not overlap.
inline TRect IntersectRects(const TRect& a, const TRect& b) {
  return {std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
          std::min(a.Bottom, b.Bottom)};
}

inline TRect OffsetRect(const TRect& r, int32_t dx, int32_t dy) {
  return {r.Left + dx, r.Top + dy, r.Right + dx, r.Bottom + dy};
}

// The remainder of a by b made non-negative.
inline int32_t Mod2(int32_t a, int32_t b) {
  if (b == 0) return 0;
  int32_t r = a % b;
  return r < 0 ? r + (b < 0 ? -b : b) : r;
}
