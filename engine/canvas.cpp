#include "engine/canvas.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "engine/surface.h"
#include "platform/font.h"

namespace {

// The strings a frame draws are mostly the same from frame to frame: their masks are kept, the
// oldest replaced first.
// A run of covered pixels in one row of a mask, x0 .. x1-1.
struct TSpan {
  int Y, X0, X1;
};

struct TCachedText {
  std::string Family;
  int PixelSize = 0;
  uint8_t Style = 0;
  std::string Text;
  plat::TTextMask Mask;
  std::vector<TSpan> Spans;  // most of a text's cell is uncovered; drawing visits only these
};

void FindSpans(TCachedText& entry) {
  const plat::TTextMask& mask = entry.Mask;
  for (int y = 0; y < mask.Height && mask.Width > 0; ++y) {
    const uint8_t* row = &mask.Coverage[static_cast<size_t>(y) * static_cast<size_t>(mask.Width)];
    for (int x = 0; x < mask.Width;) {
      while (x < mask.Width && row[x] == 0) ++x;
      int start = x;
      while (x < mask.Width && row[x] != 0) ++x;
      if (x > start) entry.Spans.push_back({y, start, x});
    }
  }
}
constexpr size_t kCachedTexts = 64;
std::vector<TCachedText> CachedTexts;
size_t NextCachedText = 0;

plat::TFontRequest Request(const TCanvasFont& font) {
  plat::TFontRequest request;
  request.Family = font.Name;
  request.PixelSize = font.PixelSize();
  request.Style = static_cast<uint8_t>(((font.Style & fsBold) ? plat::kFontBold : 0) |
                                       ((font.Style & fsItalic) ? plat::kFontItalic : 0) |
                                       ((font.Style & fsUnderline) ? plat::kFontUnderline : 0));
  return request;
}

// Null when no face could be opened.
const TCachedText* RenderedText(const TCanvasFont& font, const std::string& text) {
  int pixelSize = font.PixelSize();
  for (const TCachedText& cached : CachedTexts)
    if (cached.PixelSize == pixelSize && cached.Style == font.Style && cached.Text == text &&
        cached.Family == font.Name)
      return &cached;
  TCachedText entry{font.Name, pixelSize, font.Style, text, {}, {}};
  if (!plat::RenderText(Request(font), text, entry.Mask)) return nullptr;
  FindSpans(entry);
  if (CachedTexts.size() < kCachedTexts) {
    CachedTexts.push_back(std::move(entry));
    return &CachedTexts.back();
  }
  TCachedText& slot = CachedTexts[NextCachedText];
  NextCachedText = (NextCachedText + 1) % kCachedTexts;
  slot = std::move(entry);
  return &slot;
}

// Dash patterns of one-pixel pens: lengths of alternating on and off runs.
const std::vector<int>& DashPattern(TPenStyle style) {
  static const std::vector<int> none;
  static const std::vector<int> dash{18, 6};
  static const std::vector<int> dot{3, 3};
  static const std::vector<int> dashDot{9, 6, 3, 6};
  static const std::vector<int> dashDotDot{9, 3, 3, 3, 3, 3};
  switch (style) {
    case psDash: return dash;
    case psDot: return dot;
    case psDashDot: return dashDot;
    case psDashDotDot: return dashDotDot;
    default: return none;
  }
}

// src over dst in proportion to coverage a (0-255), red and blue in one multiply, green in another.
inline uint32_t Blend(uint32_t dst, uint32_t src, uint32_t a) {
  uint32_t a256 = a + (a >> 7);  // 0-256, 255 -> 256
  uint32_t keep = 256 - a256;
  uint32_t rb = (((src & 0xFF00FFu) * a256 + (dst & 0xFF00FFu) * keep) >> 8) & 0xFF00FFu;
  uint32_t g = (((src & 0x00FF00u) * a256 + (dst & 0x00FF00u) * keep) >> 8) & 0x00FF00u;
  return rb | g;
}

}  // namespace

int TCanvasFont::PixelSize() const {
  // Rounded half away from zero, as the desktop's MulDiv does.
  return Size <= 0 ? 0 : (Size * 96 + 36) / 72;
}

TDirectDrawSurfaceCanvas::TDirectDrawSurfaceCanvas(TDirectDrawSurface& surface) : Surface(surface) {}

TDirectDrawSurfaceCanvas::~TDirectDrawSurfaceCanvas() { ReleaseCanvas(); }

bool TDirectDrawSurfaceCanvas::Acquire() {
  if (Surface.DiscardDrawing) return false;  // every drawing method stops here
  if (Holding) return true;
  TDDSurfaceDesc desc;
  if (!Surface.LockSurface(nullptr, desc)) return false;
  Bits = desc.Bits;
  Pitch = desc.Pitch;
  Holding = true;
  return true;
}

void TDirectDrawSurfaceCanvas::SetFrameTextStyle(const std::string& face, int size) {
  Brush.Style = bsClear;
  Font.Style = 0;
  Pen.Style = psSolid;
  Font.Color = 0;
  Font.Name = face;
  Font.Size = size;
}

void TDirectDrawSurfaceCanvas::ReleaseCanvas() {
  if (!Holding) return;
  Holding = false;
  Bits = nullptr;
  Surface.UnlockSurface();
}

int TDirectDrawSurfaceCanvas::TextWidth(const std::string& text) {
  int width = 0, height = 0;
  plat::MeasureText(Request(Font), text, width, height);
  return width;
}

int TDirectDrawSurfaceCanvas::TextHeight(const std::string& text) {
  int width = 0, height = 0;
  plat::MeasureText(Request(Font), text, width, height);
  return height;
}

void TDirectDrawSurfaceCanvas::TextOut(int x, int y, const std::string& text) {
  if (Font.PixelSize() <= 0) return;
  const TCachedText* rendered = RenderedText(Font, text);
  if (!rendered) return;
  const plat::TTextMask& mask = rendered->Mask;
  PenX = x + mask.Width;
  PenY = y;
  if (!Acquire()) return;
  if (Brush.Style == bsSolid) FillRect(x, y, x + mask.Width, y + mask.Height, ColorToPixel(Brush.Color));
  uint32_t color = ColorToPixel(Font.Color);
  // The mask's visible part, in mask coordinates.
  int left = std::max(0, -x), top = std::max(0, -y);
  int right = std::min(mask.Width, Surface.Width() - x), bottom = std::min(mask.Height, Surface.Height() - y);
  for (const TSpan& span : rendered->Spans) {
    if (span.Y < top || span.Y >= bottom) continue;
    const uint8_t* coverage = &mask.Coverage[static_cast<size_t>(span.Y) * static_cast<size_t>(mask.Width)];
    uint32_t* row = Bits + static_cast<ptrdiff_t>(y + span.Y) * Pitch + x;
    for (int mx = std::max(span.X0, left), end = std::min(span.X1, right); mx < end; ++mx) {
      uint32_t a = coverage[mx];
      row[mx] = a == 255 ? color : Blend(row[mx], color, a);
    }
  }
}

void TDirectDrawSurfaceCanvas::MoveTo(int x, int y) {
  PenX = x;
  PenY = y;
}

void TDirectDrawSurfaceCanvas::LineTo(int x, int y) {
  DrawLine(PenX, PenY, x, y, false);
  PenX = x;
  PenY = y;
}

void TDirectDrawSurfaceCanvas::Rectangle(int x1, int y1, int x2, int y2) {
  if (x2 < x1) std::swap(x1, x2);
  if (y2 < y1) std::swap(y1, y2);
  if (x2 == x1 || y2 == y1) return;
  if (Brush.Style == bsSolid && Acquire()) FillRect(x1, y1, x2, y2, ColorToPixel(Brush.Color));
  int r = x2 - 1, b = y2 - 1;
  DrawLine(x1, y1, r, y1, false);
  DrawLine(r, y1, r, b, false);
  DrawLine(r, b, x1, b, false);
  DrawLine(x1, b, x1, y1, false);
  if (r == x1 && b == y1) DrawLine(x1, y1, x1, y1, true);
}

void TDirectDrawSurfaceCanvas::Plot(int x, int y, uint32_t pixel) {
  int w = std::max(Pen.Width, 1);
  if (w == 1) {
    if (x >= 0 && y >= 0 && x < Surface.Width() && y < Surface.Height()) Bits[static_cast<ptrdiff_t>(y) * Pitch + x] = pixel;
    return;
  }
  int left = x - (w - 1) / 2, top = y - (w - 1) / 2;
  FillRect(left, top, left + w, top + w, pixel);
}

void TDirectDrawSurfaceCanvas::FillRect(int left, int top, int right, int bottom, uint32_t pixel) {
  left = std::max(left, 0);
  top = std::max(top, 0);
  right = std::min(right, Surface.Width());
  bottom = std::min(bottom, Surface.Height());
  if (left >= right || top >= bottom) return;  // wholly off the surface
  for (int y = top; y < bottom; ++y) {
    uint32_t* row = Bits + static_cast<ptrdiff_t>(y) * Pitch;
    std::fill(row + left, row + right, pixel);
  }
}

void TDirectDrawSurfaceCanvas::DrawLine(int x0, int y0, int x1, int y1, bool lastPixel) {
  if (Pen.Style == psClear || !Acquire()) return;
  uint32_t pixel = ColorToPixel(Pen.Color);
  const std::vector<int>& dashes = Pen.Width > 1 ? DashPattern(psSolid) : DashPattern(Pen.Style);
  size_t dash = 0;
  int dashLeft = dashes.empty() ? 0 : dashes[0];
  int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
  int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
  int err = dx + dy;
  int x = x0, y = y0;
  for (;;) {
    bool end = x == x1 && y == y1;
    if (end && !lastPixel) break;
    if (dashes.empty() || dash % 2 == 0) Plot(x, y, pixel);
    if (!dashes.empty() && --dashLeft == 0) {
      dash = (dash + 1) % dashes.size();
      dashLeft = dashes[dash];
    }
    if (end) break;
    int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y += sy;
    }
  }
}
