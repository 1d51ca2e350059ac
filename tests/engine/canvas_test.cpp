#include "engine/canvas.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/surface.h"
#include "tests/engine/shipped_fonts.h"

namespace {

constexpr uint32_t kRed = 0x00FF0000;

// The surface as rows of characters: '.' for 0, '#' for the given pixel, '?' for anything else.
std::vector<std::string> Grid(TDirectDrawSurface& surface, uint32_t ink) {
  std::vector<std::string> rows;
  for (int y = 0; y < surface.Height(); ++y) {
    std::string row;
    for (int x = 0; x < surface.Width(); ++x) {
      uint32_t p = surface.ReadPixel(x, y);
      row += p == 0 ? '.' : p == ink ? '#' : '?';
    }
    rows.push_back(row);
  }
  return rows;
}

using Rows = std::vector<std::string>;

// Shapes wholly beside the surface draw nothing and touch no memory outside it.
TEST(Canvas, FillsWhollyOffTheSurfaceDrawNothing) {
  TDirectDrawSurface surface;
  surface.CreateOffscreen(8, 4);
  surface.FillSurface(0x123456);
  TDirectDrawSurfaceCanvas& canvas = surface.SurfaceCanvas();
  canvas.Pen.Width = 3;
  canvas.MoveTo(10, 1);
  canvas.LineTo(12, 1);
  canvas.Pen.Style = psClear;
  canvas.Rectangle(-20, 0, -10, 3);
  canvas.Rectangle(9, 0, 20, 3);
  canvas.ReleaseCanvas();
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(surface.ReadPixel(x, y), 0x123456u) << x << "," << y;
}

TEST(Canvas, PointSizesBecomePixelsAtNinetySixDpi) {
  TCanvasFont font;
  const int sizes[][2] = {{8, 11}, {12, 16}, {14, 19}, {16, 21}, {30, 40}, {0, 0}};
  for (const auto& s : sizes) {
    font.Size = s[0];
    EXPECT_EQ(font.PixelSize(), s[1]) << s[0] << " points";
  }
}

// Text is drawn in the fonts shipped with the game.
using CanvasText = TShippedFontsTest;

TEST_F(CanvasText, TextGrowsWithTheFontSize) {
  TDirectDrawSurface surface;
  surface.CreateOffscreen(8, 8);
  TDirectDrawSurfaceCanvas& canvas = surface.SurfaceCanvas();
  canvas.Font.Name = "Cargo";
  int lastWidth = 0, lastHeight = 0;
  for (int size : {12, 14, 16, 30}) {
    canvas.Font.Size = size;
    int width = canvas.TextWidth("Level 10");
    int height = canvas.TextHeight("Level 10");
    EXPECT_GT(width, lastWidth) << size;
    EXPECT_GT(height, lastHeight) << size;
    EXPECT_GE(height, canvas.Font.PixelSize()) << size;  // the cell holds the em and more
    lastWidth = width;
    lastHeight = height;
  }
  EXPECT_EQ(canvas.TextWidth(""), 0);
  canvas.Font.Style = fsBold;
  EXPECT_GT(canvas.TextWidth("Level 10"), lastWidth);
}

// A red "Yes" at (355, 280) on black: every touched pixel lies in the box the menu's hit test uses,
// fully covered pixels are pure red and the edges are anti-aliased.
TEST_F(CanvasText, TextLandsInsideItsCell) {
  TDirectDrawSurface surface;
  surface.CreateOffscreen(800, 600);
  TDirectDrawSurfaceCanvas& canvas = surface.SurfaceCanvas();
  canvas.Font.Name = "Cargo";
  canvas.Font.Size = 16;
  canvas.Font.Color = 0x0000FF;
  canvas.Brush.Style = bsClear;
  int width = canvas.TextWidth("Yes"), height = canvas.TextHeight("Yes");
  ASSERT_GT(width, 10);
  canvas.TextOut(355, 280, "Yes");
  canvas.ReleaseCanvas();
  EXPECT_EQ(canvas.PenX, 355 + width);
  int red = 0, partial = 0, outside = 0;
  int top = 600, bottom = 0;
  for (int y = 0; y < 600; ++y)
    for (int x = 0; x < 800; ++x) {
      uint32_t p = surface.ReadPixel(x, y);
      if (p == 0) continue;
      bool inside = x >= 355 && x < 355 + width && y >= 280 && y < 280 + height;
      if (!inside) ++outside;
      if (p == kRed)
        ++red;
      else if ((p & 0x0000FFFF) == 0)
        ++partial;  // only the red channel, partly
      top = std::min(top, y);
      bottom = std::max(bottom, y);
    }
  EXPECT_EQ(outside, 0);
  EXPECT_GT(red, 20);
  EXPECT_GT(partial, 0);
  EXPECT_LT(top - 280, height / 2);  // the capital's top is in the cell's upper half
  EXPECT_GT(bottom - 280, height / 2);
}

TEST_F(CanvasText, ASolidBrushGivesTheTextItsBackground) {
  TDirectDrawSurface surface;
  surface.CreateOffscreen(200, 60);
  TDirectDrawSurfaceCanvas& canvas = surface.SurfaceCanvas();
  canvas.Font.Name = "Cargo";
  canvas.Font.Size = 14;
  canvas.Brush.Color = 0xFFFFFF;
  canvas.TextOut(10, 10, "ii");
  canvas.ReleaseCanvas();
  EXPECT_EQ(surface.ReadPixel(10, 10), 0x00FFFFFFu);  // cell corner
  EXPECT_EQ(surface.ReadPixel(10 + canvas.TextWidth("ii") - 1, 9 + canvas.TextHeight("ii")), 0x00FFFFFFu);
  EXPECT_EQ(surface.ReadPixel(9, 10), 0u);
  EXPECT_EQ(surface.ReadPixel(10 + canvas.TextWidth("ii"), 10), 0u);
}

// Text across each edge and corner of a small surface leaves in it exactly what the same text leaves
// on a surface that holds it whole: a clipped row neither wraps onto the next row nor runs past the end.
TEST_F(CanvasText, TextIsClippedAtTheSurfaceEdges) {
  constexpr int kWidth = 60, kHeight = 30, kMargin = 64;  // the margin is wider than the text's cell
  auto draw = [](TDirectDrawSurface& surface, int x, int y) {
    surface.FillSurface(0);
    TDirectDrawSurfaceCanvas& canvas = surface.SurfaceCanvas();
    canvas.Font.Name = "Cargo";
    canvas.Font.Size = 16;
    canvas.Font.Color = 0x0000FF;
    canvas.Brush.Style = bsClear;
    canvas.TextOut(x, y, "WW");
    canvas.ReleaseCanvas();
  };
  TDirectDrawSurface whole;
  whole.CreateOffscreen(kWidth + 2 * kMargin, kHeight + 2 * kMargin);
  draw(whole, kMargin, kMargin);
  // The middle of the ink, from the text's origin: each case puts it on an edge or a corner.
  int left = whole.Width(), right = 0, top = whole.Height(), bottom = 0;
  for (int y = 0; y < whole.Height(); ++y)
    for (int x = 0; x < whole.Width(); ++x)
      if (whole.ReadPixel(x, y) != 0) {
        left = std::min(left, x), right = std::max(right, x);
        top = std::min(top, y), bottom = std::max(bottom, y);
      }
  ASSERT_LT(left, right);
  int midX = (left + right) / 2 - kMargin, midY = (top + bottom) / 2 - kMargin;
  const struct {
    const char* edge;
    int x, y;
  } cases[] = {
      {"left", -midX, kHeight / 2 - midY}, {"right", kWidth - midX, kHeight / 2 - midY},
      {"top", kWidth / 2 - midX, -midY},   {"bottom", kWidth / 2 - midX, kHeight - midY},
      {"top left corner", -midX, -midY},   {"bottom right corner", kWidth - midX, kHeight - midY},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.edge);
    TDirectDrawSurface surface;
    surface.CreateOffscreen(kWidth, kHeight);
    draw(surface, c.x, c.y);
    draw(whole, c.x + kMargin, c.y + kMargin);
    int inside = 0, outside = 0, different = 0;
    for (int y = 0; y < whole.Height(); ++y)
      for (int x = 0; x < whole.Width(); ++x) {
        uint32_t p = whole.ReadPixel(x, y);
        int sx = x - kMargin, sy = y - kMargin;
        if (sx < 0 || sy < 0 || sx >= kWidth || sy >= kHeight) {
          outside += p != 0;
          continue;
        }
        inside += p != 0;
        if (surface.ReadPixel(sx, sy) != p) ++different;
      }
    EXPECT_GT(inside, 0);
    EXPECT_GT(outside, 0);  // the text does cross the edge
    EXPECT_EQ(different, 0);
  }
}

TEST(Canvas, LinesLeaveOutTheirEndPoint) {
  TDirectDrawSurface surface;
  surface.CreateOffscreen(8, 5);
  TDirectDrawSurfaceCanvas& canvas = surface.SurfaceCanvas();
  canvas.Pen.Color = 0x0000FF;
  canvas.MoveTo(0, 0);
  canvas.LineTo(7, 0);
  canvas.LineTo(7, 4);
  canvas.MoveTo(0, 4);
  canvas.LineTo(3, 1);
  canvas.ReleaseCanvas();
  EXPECT_EQ(Grid(surface, kRed), (Rows{
                                     "########",  // the corner is the second line's start
                                     ".......#",
                                     "..#....#",
                                     ".#.....#",
                                     "#.......",
                                 }));
  EXPECT_EQ(canvas.PenX, 3);
  EXPECT_EQ(canvas.PenY, 1);
}

TEST(Canvas, RectanglesAreHalfOpenAndFilledOnlyWithASolidBrush) {
  TDirectDrawSurface surface;
  surface.CreateOffscreen(8, 6);
  TDirectDrawSurfaceCanvas& canvas = surface.SurfaceCanvas();
  canvas.Pen.Color = 0x0000FF;
  canvas.Brush.Style = bsClear;
  canvas.Rectangle(1, 1, 6, 5);
  canvas.ReleaseCanvas();
  EXPECT_EQ(Grid(surface, kRed), (Rows{
                                     "........",
                                     ".#####..",
                                     ".#...#..",
                                     ".#...#..",
                                     ".#####..",
                                     "........",
                                 }));
  canvas.Brush.Style = bsSolid;
  canvas.Brush.Color = 0x00FF00;
  canvas.Rectangle(0, 0, 3, 3);
  canvas.ReleaseCanvas();
  EXPECT_EQ(surface.ReadPixel(1, 1), 0x0000FF00u);  // inside: the brush
  EXPECT_EQ(surface.ReadPixel(2, 0), kRed);         // the outline over it
  EXPECT_EQ(surface.ReadPixel(3, 1), kRed);         // the first rectangle, untouched
}

TEST(Canvas, PenStyles) {
  TDirectDrawSurface surface;
  surface.CreateOffscreen(12, 5);
  TDirectDrawSurfaceCanvas& canvas = surface.SurfaceCanvas();
  canvas.Pen.Color = 0x0000FF;
  canvas.Pen.Style = psDot;
  canvas.MoveTo(0, 0);
  canvas.LineTo(12, 0);
  canvas.Pen.Style = psClear;
  canvas.LineTo(0, 4);
  canvas.Pen.Style = psDot;
  canvas.Pen.Width = 3;  // wide pens draw solid
  canvas.MoveTo(1, 3);
  canvas.LineTo(5, 3);
  canvas.ReleaseCanvas();
  EXPECT_EQ(Grid(surface, kRed), (Rows{
                                     "###...###...",
                                     "............",
                                     "######......",  // x = 1..4, each 3 wide about its centre
                                     "######......",
                                     "######......",
                                 }));
}

TEST(Canvas, TheCanvasHoldsItsSurfaceUntilReleased) {
  TDirectDrawSurface surface;
  surface.CreateOffscreen(4, 4);
  TDirectDrawSurfaceCanvas& canvas = surface.SurfaceCanvas();
  canvas.MoveTo(0, 0);
  canvas.LineTo(2, 0);
  EXPECT_TRUE(canvas.Held());
  surface.FillSurface(0x00FFFFFF);
  EXPECT_EQ(surface.LastResult, DDERR_SURFACEBUSY);
  canvas.ReleaseCanvas();
  EXPECT_FALSE(canvas.Held());
  surface.FillSurface(0x00FFFFFF);
  EXPECT_EQ(surface.ReadPixel(0, 0), 0x00FFFFFFu);
  // A surface locked elsewhere cannot be drawn on.
  TDDSurfaceDesc desc;
  ASSERT_TRUE(surface.LockSurface(nullptr, desc));
  canvas.Rectangle(0, 0, 4, 4);
  EXPECT_FALSE(canvas.Held());
  surface.UnlockSurface();
  EXPECT_EQ(surface.ReadPixel(0, 0), 0x00FFFFFFu);
}

}  // namespace
