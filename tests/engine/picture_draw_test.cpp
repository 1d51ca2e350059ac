// Pictures on display surfaces: how they are cut into patterns, the keyed and the rotated blit, and
// how the image list rebuilds them when the display changes.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/canvas.h"
#include "engine/display.h"
#include "engine/image_archive.h"
#include "engine/surface.h"
#include "tests/engine/picture_display.h"
#include "tests/engine/pixel_grid.h"
#include "tests/engine/shipped_fonts.h"
#include "tests/support/headless.h"

namespace {

using Pictures = TPictureDisplayTest;

// The keyed blit copies with masked moves where the processor has them and with plain copies
// elsewhere; the keyed drawing tests run with each.
class KeyedDrawing : public TPictureDisplayTest, public testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    TPictureDisplayTest::SetUp();
    UseMaskedPieceMoves(GetParam());
  }
  void TearDown() override {
    UseMaskedPieceMoves(true);
    TPictureDisplayTest::TearDown();
  }
};
INSTANTIATE_TEST_SUITE_P(Copies, KeyedDrawing, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& param) {
                           return param.param ? "MaskedMoves" : "PlainCopies";
                         });

// A bitmap whose every pixel is different and none is black.
TPictureBitmap NumberedBitmap(int32_t width, int32_t height) {
  TPictureBitmap bitmap;
  bitmap.Width = width;
  bitmap.Height = height;
  for (int32_t i = 0; i < width * height; ++i) bitmap.Pixels.push_back(static_cast<uint32_t>(i + 1));
  return bitmap;
}

struct GeometryCase {
  const char* What;
  int32_t Width, Height, PatternWidth, PatternHeight, SkipWidth, SkipHeight;
  bool SystemMemory;
  int32_t Total;
  std::vector<std::pair<int32_t, TRect>> Rects;  // pattern index, its rectangle on its surface
};

TEST_F(Pictures, PatternGeometry) {
  const std::vector<GeometryCase> cases = {
      {"no cell size: the whole picture, skips ignored", 50, 20, 0, 0, 5, 5, false, 1, {{0, {0, 0, 50, 20}}}},
      {"cell size of the picture", 50, 20, 50, 20, 3, 3, true, 1, {{0, {0, 0, 50, 20}}}},
      {"100x40 in 30x40 cells", 100, 40, 30, 40, 0, 0, false, 3, {{0, {0, 0, 30, 40}}, {2, {60, 0, 90, 40}}}},
      {"skip 2, 64 wide", 64, 20, 20, 20, 2, 0, false, 3, {{1, {22, 0, 42, 20}}, {2, {44, 0, 64, 20}}}},
      {"skip 2, 64 wide, system memory", 64, 20, 20, 20, 2, 0, true, 3, {{2, {44, 0, 64, 20}}}},
      {"skip 2, 62 wide", 62, 20, 20, 20, 2, 0, false, 2, {{1, {22, 0, 42, 20}}}},
      {"two rows, system memory",
       42,
       42,
       20,
       20,
       2,
       2,
       true,
       4,
       {{1, {22, 0, 42, 20}}, {2, {0, 22, 20, 42}}}},
      {"cells wider than the picture", 20, 20, 30, 20, 0, 0, false, 0, {}},
      {"cells wider than the picture, system memory", 20, 20, 30, 20, 0, 0, true, 0, {}},
      {"2000x32 strip of 32x32 cells",
       2000,
       32,
       32,
       32,
       0,
       0,
       false,
       62,
       {{15, {480, 0, 512, 32}}, {20, {128, 0, 160, 32}}, {61, {416, 0, 448, 32}}}},
      {"2000x32 strip of 30x32 cells",
       2000,
       32,
       30,
       32,
       0,
       0,
       false,
       66,
       {{17, {510, 0, 540, 32}}, {18, {0, 0, 30, 32}}}},
      {"1100 high column of 32x32 cells", 32, 1100, 32, 32, 0, 0, false, 34, {{17, {0, 32, 32, 64}}}},
      {"1100x1100 of 100x100 cells",
       1100,
       1100,
       100,
       100,
       0,
       0,
       false,
       121,
       {{61, {0, 500, 100, 600}}, {72, {0, 0, 100, 100}}}},
  };
  for (const GeometryCase& c : cases) {
    SCOPED_TRACE(c.What);
    TPictureCollectionItem* picture = Add(NumberedBitmap(c.Width, c.Height), c.PatternWidth, c.PatternHeight);
    picture->SkipWidth = c.SkipWidth;
    picture->SkipHeight = c.SkipHeight;
    picture->SystemMemory = c.SystemMemory;
    picture->BuildPatterns();
    EXPECT_EQ(picture->PatternTotal(), c.Total);
    for (const auto& [index, rect] : c.Rects)
      EXPECT_EQ(picture->PatternRect(index), rect) << "pattern " << index;
    EXPECT_EQ(picture->PatternRect(c.Total), TRect{});
    EXPECT_EQ(picture->PatternRect(-1), TRect{});
    EXPECT_EQ(picture->PatternSurface(c.Total), nullptr);
  }
}

TEST_F(Pictures, TilesHoldWholeCellsOfAboutFiveHundredPixels) {
  TPictureCollectionItem* strip = Add(NumberedBitmap(2000, 32), 32, 32);
  strip->BuildPatterns();
  std::set<TDirectDrawSurface*> tiles;
  for (int32_t i = 0; i < strip->PatternTotal(); ++i) tiles.insert(strip->PatternSurface(i));
  EXPECT_EQ(tiles.size(), 4u);
  EXPECT_EQ(strip->PatternSurface(0)->Width(), 512);
  EXPECT_EQ(strip->PatternSurface(0)->Height(), 32);
  EXPECT_EQ(strip->PatternSurface(61)->Width(), 464);
  EXPECT_EQ(strip->PatternSurface(20), strip->PatternSurface(16));
  EXPECT_NE(strip->PatternSurface(16), strip->PatternSurface(15));

  // Pattern 20 is the picture's columns 640 .. 671.
  strip->Transparent = false;
  TDirectDrawSurface dest;
  dest.CreateOffscreen(32, 32);
  strip->DrawPattern(dest, 0, 0, 20);
  for (int y : {0, 31})
    for (int x : {0, 31}) EXPECT_EQ(dest.ReadPixel(x, y), strip->Picture.Pixel(640 + x, y)) << x << "," << y;

  TPictureCollectionItem* thirty = Add(NumberedBitmap(2000, 32), 30, 32);
  thirty->BuildPatterns();
  EXPECT_EQ(thirty->PatternSurface(0)->Width(), 540);
  EXPECT_NE(thirty->PatternSurface(18), thirty->PatternSurface(17));

  TPictureCollectionItem* square = Add(NumberedBitmap(1100, 1100), 100, 100);
  square->BuildPatterns();
  EXPECT_EQ(square->PatternSurface(0)->Width(), 600);
  EXPECT_EQ(square->PatternSurface(72)->Width(), 500);  // the fourth tile: columns and rows 600 .. 1099
  EXPECT_EQ(square->PatternSurface(72)->Height(), 500);

  TPictureCollectionItem* system = Add(NumberedBitmap(2000, 32), 32, 32);
  system->SystemMemory = true;
  system->BuildPatterns();
  EXPECT_EQ(system->PatternSurface(61), system->PatternSurface(0));
  EXPECT_EQ(system->PatternSurface(0)->Width(), 2000);
}

TEST_F(Pictures, WithoutABitmapThereIsNothingToDraw) {
  TPictureCollectionItem* picture = Add(TPictureBitmap{}, 10, 10);
  picture->BuildPatterns();
  EXPECT_EQ(picture->PatternTotal(), 0);
  EXPECT_EQ(picture->PatternSurface(0), nullptr);
  TDirectDrawSurface dest;
  MakeGreySurface(dest, 4, 4);
  picture->DrawPattern(dest, 0, 0, 0);
  picture->DrawPatternRotated(dest, 2, 2, 4, 4, 0, 0.5, 0.5, 0, 255);
  EXPECT_EQ(ReadGrid(dest), (Grid{"####", "####", "####", "####"}));
}

// Cells overlapping by a negative skip may straddle two tiles; each pattern keeps what its tile holds.
TEST_F(Pictures, CellsStraddlingTilesAreCutAtTheTileEdge) {
  TPictureCollectionItem* picture = Add(NumberedBitmap(600, 4), 20, 4);
  picture->SkipWidth = -10;
  picture->Transparent = false;
  picture->BuildPatterns();
  ASSERT_EQ(picture->PatternTotal(), 59);
  EXPECT_EQ(picture->PatternSurface(51)->Width(), 520);
  TDirectDrawSurface dest;
  dest.CreateOffscreen(20, 4);
  picture->DrawPattern(dest, 0, 0, 51);
  EXPECT_EQ(dest.ReadPixel(9, 3), picture->Picture.Pixel(519, 3));
  EXPECT_EQ(dest.ReadPixel(10, 3), 0u);
}

const Grid kPattern = {
    "rgbw",
    "c.my",
    "kwgb",
};

TEST_P(KeyedDrawing, DrawPatternClipsAtEveryEdgeAndSkipsTheKey) {
  struct Case {
    int x, y;
    Grid expected;
  };
  const std::vector<Case> cases = {
      {1, 1, {"######", "#rgbw#", "#c#my#", "#kwgb#", "######"}},
      {-1, -1, {"#my###", "wgb###", "######", "######", "######"}},
      {3, 3, {"######", "######", "######", "###rgb", "###c#m"}},
      {2, -2, {"##kwgb", "######", "######", "######", "######"}},
      {-3, 2, {"######", "######", "w#####", "y#####", "b#####"}},
      {5, 4, {"######", "######", "######", "######", "#####r"}},  // one pixel in the corner
      {-10, -10, {"######", "######", "######", "######", "######"}},
      {6, 0, {"######", "######", "######", "######", "######"}},  // left edge on the right edge: off
      {0, 5, {"######", "######", "######", "######", "######"}},
      {-4, 0, {"######", "######", "######", "######", "######"}},
  };
  TPictureCollectionItem* picture = Add(GridBitmap(kPattern));
  picture->BuildPatterns();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
    TDirectDrawSurface dest;
    MakeGreySurface(dest, 6, 5);
    picture->DrawPattern(dest, c.x, c.y, 0);
    EXPECT_EQ(ReadGrid(dest), c.expected);
  }
}

TEST_P(KeyedDrawing, EachPatternKeepsItsOwnHoles) {
  TPictureCollectionItem* picture = Add(GridBitmap({"r.gb.y", ".mcw.."}), 3, 2);
  picture->BuildPatterns();
  TDirectDrawSurface dest;
  MakeGreySurface(dest, 5, 2);
  picture->DrawPattern(dest, 1, 0, 1);
  EXPECT_EQ(ReadGrid(dest), (Grid{"#b#y#", "#w###"}));
  MakeGreySurface(dest, 5, 2);
  picture->DrawPattern(dest, -1, 0, 1);
  picture->DrawPattern(dest, 3, 1, 0);
  EXPECT_EQ(ReadGrid(dest), (Grid{"#y###", "###r#"}));
}

// Opaque runs of every length class, each followed by one keyed pixel, the second row holding them in
// the reverse order, drawn whole and cut on every side, some cuts inside a run and some past whole
// runs: every pixel must be the picture's, or untouched where the picture has the key or does not
// reach, and nothing may spill into the rows above and below.
TEST_P(KeyedDrawing, RunsOfAnyLengthCopyExactly) {
  const std::vector<int32_t> lengths = {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65, 200};
  TPictureBitmap bitmap;
  auto addRow = [&bitmap](auto first, auto last) {
    for (; first != last; ++first) {
      for (int32_t k = 0; k < *first; ++k)
        bitmap.Pixels.push_back(static_cast<uint32_t>(bitmap.Pixels.size() + 1));
      bitmap.Pixels.push_back(0);
    }
  };
  addRow(lengths.begin(), lengths.end());
  bitmap.Width = static_cast<int32_t>(bitmap.Pixels.size());
  addRow(lengths.rbegin(), lengths.rend());
  bitmap.Height = 2;
  TPictureCollectionItem* picture = Add(bitmap);
  picture->BuildPatterns();
  const uint32_t grey = GridPixel('#');
  const std::vector<std::pair<int32_t, int32_t>> places = {{0, 1},   {-3, 1}, {5, 1},     {-300, 1},
                                                           {250, 1}, {0, -1}, {-300, -1}, {0, 3}};
  for (auto [x, y] : places) {
    SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
    TDirectDrawSurface dest;
    MakeGreySurface(dest, bitmap.Width, 4);
    picture->DrawPattern(dest, x, y, 0);
    int wrong = 0;
    for (int32_t dy = 0; dy < 4; ++dy)
      for (int32_t dx = 0; dx < bitmap.Width; ++dx) {
        int32_t sx = dx - x, sy = dy - y;
        bool inside = sx >= 0 && sx < bitmap.Width && sy >= 0 && sy < bitmap.Height;
        uint32_t expected = !inside || bitmap.Pixel(sx, sy) == 0 ? grey : bitmap.Pixel(sx, sy);
        if (dest.ReadPixel(dx, dy) != expected && wrong++ < 3) ADD_FAILURE() << "pixel " << dx << "," << dy;
      }
    EXPECT_EQ(wrong, 0);
  }
}

TEST_P(KeyedDrawing, TheKeyIsTheTransparentColourAndOnlyWhenTransparent) {
  TPictureCollectionItem* picture = Add(GridBitmap({"i.r", "rig"}));
  picture->TransparentColor = static_cast<int32_t>(0xFF000018);  // the tooltip background system colour
  picture->BuildPatterns();
  TDirectDrawSurface dest;
  MakeGreySurface(dest, 3, 2);
  picture->DrawPattern(dest, 0, 0, 0);
  EXPECT_EQ(ReadGrid(dest), (Grid{"#.r", "r#g"}));

  picture->Transparent = false;
  picture->DrawPattern(dest, 0, 0, 0);
  EXPECT_EQ(ReadGrid(dest), (Grid{"i.r", "rig"}));
}

TEST_F(Pictures, DrawPatternOutOfRangeOrLockedDrawsNothing) {
  TPictureCollectionItem* picture = Add(GridBitmap(kPattern));
  picture->BuildPatterns();
  TDirectDrawSurface dest;
  MakeGreySurface(dest, 4, 3);
  picture->DrawPattern(dest, 0, 0, 1);
  picture->DrawPattern(dest, 0, 0, -1);
  EXPECT_EQ(ReadGrid(dest), (Grid{"####", "####", "####"}));
  TDDSurfaceDesc desc;
  ASSERT_TRUE(dest.LockSurface(nullptr, desc));
  picture->DrawPattern(dest, 0, 0, 0);
  EXPECT_EQ(dest.LastResult, DDERR_SURFACEBUSY);
  dest.UnlockSurface();
  EXPECT_EQ(ReadGrid(dest), (Grid{"####", "####", "####"}));
  picture->DrawPattern(dest, 0, 0, 0);
  EXPECT_EQ(dest.LastResult, DD_OK);
}

// A surface that discards drawing lets every kind of draw run to its end and succeed, and keeps its
// pixels; the same draws on a surface that draws do change them.
TEST_F(Pictures, EveryDrawOntoADiscardingSurfaceSucceedsAndLeavesThePixels) {
  LinkShippedFonts(Dir);
  TPictureCollectionItem* picture = Add(GridBitmap(kPattern));
  picture->BuildPatterns();
  const std::vector<std::pair<const char*, std::function<void(TDirectDrawSurface&)>>> draws = {
      {"FillSurface", [](TDirectDrawSurface& s) { s.FillSurface(0); }},
      {"FillRows", [](TDirectDrawSurface& s) { s.FillRows(1, 2, 0); }},
      {"WritePixel", [](TDirectDrawSurface& s) { s.WritePixel(2, 2, 0); }},
      {"DrawPattern", [&](TDirectDrawSurface& s) { picture->DrawPattern(s, 1, 1, 0); }},
      {"DrawPatternRotated",
       [&](TDirectDrawSurface& s) { picture->DrawPatternRotated(s, 4, 4, 4, 3, 0, 0.5, 0.5, 64, 255); }},
      {"canvas text",
       [](TDirectDrawSurface& s) {
         TDirectDrawSurfaceCanvas& canvas = s.SurfaceCanvas();
         canvas.SetFrameTextStyle("Cargo", 14);
         canvas.Font.Color = 0xFFFFFF;
         canvas.TextOut(0, -4, "W");
         canvas.ReleaseCanvas();
       }},
      {"canvas shapes",
       [](TDirectDrawSurface& s) {
         TDirectDrawSurfaceCanvas& canvas = s.SurfaceCanvas();
         canvas.Brush.Style = bsSolid;
         canvas.Rectangle(1, 1, 5, 5);
         canvas.MoveTo(0, 7);
         canvas.LineTo(7, 0);
         canvas.ReleaseCanvas();
       }},
  };
  for (const auto& [name, draw] : draws) {
    SCOPED_TRACE(name);
    TDirectDrawSurface drawn, discarding;
    MakeGreySurface(drawn, 8, 8);
    MakeGreySurface(discarding, 8, 8);
    const Grid grey = ReadGrid(drawn);
    draw(drawn);
    EXPECT_NE(ReadGrid(drawn), grey);
    discarding.DiscardDrawing = true;
    discarding.LastResult = DDERR_SURFACELOST;
    draw(discarding);
    EXPECT_EQ(ReadGrid(discarding), grey);
    // The surface's own fills and the blits say how they went; pixel writes and the canvas do not.
    if (std::set<std::string>{"FillSurface", "FillRows", "DrawPattern", "DrawPatternRotated"}.count(name)) {
      EXPECT_EQ(discarding.LastResult, DD_OK);
    }
  }
}

// The pattern rgb/cmy/w.k scaled to 6 x 6 about its middle at (5, 5). The truncated corners of the
// bounding box trim one edge row or column at quarter turns.
TEST_F(Pictures, DrawPatternRotatedTurnsClockwise) {
  struct Case {
    int angle;
    Grid expected;
  };
  const Grid upright = {
      "##########", "##########", "##rrggbb##", "##rrggbb##", "##ccmmyy##",
      "##ccmmyy##", "##ww##kk##", "##ww##kk##", "##########", "##########",
  };
  const std::vector<Case> cases = {
      {0, upright},
      {64,
       {"##########", "##########", "###wwccr##", "###wwccr##", "#####mmg##", "#####mmg##", "###kkyyb##",
        "###kkyyb##", "##########", "##########"}},
      {128,
       {"##########", "##########", "##########", "###kk##w##", "###kk##w##", "###yymmc##", "###yymmc##",
        "###bbggr##", "##########", "##########"}},
      {192,
       {"##########", "##########", "##########", "##bbyykk##", "##bbyykk##", "##ggmm####", "##ggmm####",
        "##rrccww##", "##########", "##########"}},
      {256, upright},
  };
  TPictureCollectionItem* picture = Add(GridBitmap({"rgb", "cmy", "w.k"}));
  picture->BuildPatterns();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.angle);
    TDirectDrawSurface dest;
    MakeGreySurface(dest, 10, 10);
    picture->DrawPatternRotated(dest, 5, 5, 6, 6, 0, 0.5, 0.5, c.angle, 255);
    EXPECT_EQ(ReadGrid(dest), c.expected);
  }
}

TEST_F(Pictures, DrawPatternRotatedPlacesThePivot) {
  TPictureCollectionItem* picture = Add(GridBitmap({"rgb", "cmy", "w.k"}));
  picture->BuildPatterns();
  struct Case {
    double centerX, centerY;
    Grid expected;
  };
  const std::vector<Case> cases = {
      {0.0, 0.0, {"######", "######", "######", "######", "######", "#rgb##", "#cmy##", "#w#k##"}},
      {1.0, 1.0, {"######", "######", "##rgb#", "##cmy#", "##w#k#", "######", "######", "######"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.centerX) + "," + std::to_string(c.centerY));
    TDirectDrawSurface dest;
    MakeGreySurface(dest, 6, 8);
    picture->DrawPatternRotated(dest, 1 + (c.centerX > 0 ? 4 : 0), 5, 3, 3, 0, c.centerX, c.centerY, 0, 255);
    EXPECT_EQ(ReadGrid(dest), c.expected);
  }
}

TEST_F(Pictures, DrawPatternRotatedDrawsNothingWithoutAlphaOrSize) {
  TPictureCollectionItem* picture = Add(GridBitmap({"rgb", "cmy", "w.k"}));
  picture->BuildPatterns();
  TDirectDrawSurface dest;
  MakeGreySurface(dest, 6, 6);
  const Grid grey = {"######", "######", "######", "######", "######", "######"};
  picture->DrawPatternRotated(dest, 3, 3, 3, 3, 0, 0.5, 0.5, 0, 0);
  picture->DrawPatternRotated(dest, 3, 3, 3, 3, 0, 0.5, 0.5, 0, -5);
  picture->DrawPatternRotated(dest, 3, 3, 0, 3, 0, 0.5, 0.5, 0, 255);
  picture->DrawPatternRotated(dest, 3, 3, 3, 0, 0, 0.5, 0.5, 0, 255);
  picture->DrawPatternRotated(dest, 3, 3, 3, 3, 1, 0.5, 0.5, 0, 255);
  picture->DrawPatternRotated(dest, 30, 3, 3, 3, 0, 0.5, 0.5, 0, 255);
  EXPECT_EQ(ReadGrid(dest), grey);
  // Without the key every pixel is copied.
  picture->Transparent = false;
  picture->DrawPatternRotated(dest, 0, 0, 3, 3, 0, 0.0, 0.0, 0, 255);
  EXPECT_EQ(ReadGrid(dest, 0, 0, 3, 3), (Grid{"rgb", "cmy", "w.k"}));
}

TEST_F(Pictures, AngleTableQuarters) {
  EXPECT_DOUBLE_EQ(Cos256(0), 1.0);
  EXPECT_DOUBLE_EQ(Sin256(64), 1.0);
  EXPECT_DOUBLE_EQ(Cos256(128), -1.0);
  EXPECT_DOUBLE_EQ(Sin256(192), -1.0);
  EXPECT_DOUBLE_EQ(Cos256(-64), Cos256(192));
  EXPECT_DOUBLE_EQ(Sin256(256 + 32), Sin256(32));
  EXPECT_NEAR(Sin256(32), 0.70710678, 1e-8);
}

// Overwrites a pixel of pattern 0's surface, so a rebuild shows as the pixel coming back.
void Scribble(TPictureCollectionItem& picture) { picture.PatternSurface(0)->WritePixel(0, 0, 0x123456); }

TEST_F(Pictures, EveryPictureIsRebuiltAfterAModeSwitchAndARestore) {
  std::vector<TPictureCollectionItem*> pictures = {Add(GridBitmap(kPattern), 2, 3),
                                                   Add(GridBitmap({"gy", "yg"}))};
  for (TPictureCollectionItem* picture : pictures) picture->BuildPatterns();
  auto expectBuilt = [&](const char* when) {
    SCOPED_TRACE(when);
    EXPECT_EQ(pictures[0]->PatternTotal(), 2);
    EXPECT_EQ(pictures[1]->PatternTotal(), 1);
    EXPECT_EQ(pictures[0]->PatternSurface(0)->ReadPixel(0, 0), GridPixel('r'));
    EXPECT_EQ(pictures[1]->PatternSurface(0)->ReadPixel(0, 0), GridPixel('g'));
  };
  expectBuilt("built");

  Draw->FinalizeDisplay();
  for (TPictureCollectionItem* picture : pictures) {
    EXPECT_FALSE(picture->Bound());
    EXPECT_EQ(picture->PatternTotal(), 0);
    EXPECT_FALSE(picture->Picture.Empty());
  }
  Draw->SetOptions(OptionBit(doFullScreen));
  Draw->InitializeDisplay();
  ASSERT_TRUE(Headless.FullScreen());
  expectBuilt("full screen");

  for (TPictureCollectionItem* picture : pictures) Scribble(*picture);
  Draw->SetOptions(0);
  Draw->InitializeDisplay();  // finalises first
  ASSERT_FALSE(Headless.FullScreen());
  expectBuilt("window again");

  for (TPictureCollectionItem* picture : pictures) Scribble(*picture);
  Headless.LosePresentation();
  ASSERT_TRUE(Draw->CanDraw());
  expectBuilt("restored after a loss");

  for (TPictureCollectionItem* picture : pictures) Scribble(*picture);
  Draw->RestoreDisplay();
  expectBuilt("restored");
}

TEST_F(Pictures, PicturesMadeBeforeTheDisplayAreBuiltWhenItComes) {
  Draw->FinalizeDisplay();
  TPictureCollectionItem* picture = Add(GridBitmap(kPattern), 2, 3);
  picture->BuildPatterns();
  EXPECT_FALSE(picture->Bound());
  EXPECT_EQ(picture->PatternTotal(), 0);
  EXPECT_THROW(picture->Bind(), EDXImageError);
  Draw->InitializeDisplay();
  EXPECT_TRUE(picture->Bound());
  EXPECT_EQ(picture->PatternTotal(), 2);
}

}  // namespace
