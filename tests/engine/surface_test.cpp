#include "engine/surface.h"

#include <gtest/gtest.h>

namespace {

TEST(Surface, ZeroSizeLeavesNoPixelsAndEverythingDoesNothing) {
  TDirectDrawSurface surface;
  surface.CreateOffscreen(4, 4);
  surface.CreateOffscreen(0, 10);
  EXPECT_FALSE(surface.HasPixels());
  EXPECT_EQ(surface.Bits(), nullptr);
  EXPECT_EQ(surface.Width(), 0);
  EXPECT_EQ(surface.Height(), 0);
  surface.FillSurface(7);
  EXPECT_EQ(surface.LastResult, DDERR_INVALIDOBJECT);
  surface.WritePixel(0, 0, 7);
  EXPECT_EQ(surface.ReadPixel(0, 0), 0u);
  TDDSurfaceDesc desc;
  EXPECT_FALSE(surface.LockSurface(nullptr, desc));
  EXPECT_EQ(surface.MatchColor(0x0000FF), 0u);
  EXPECT_FALSE(surface.RestoreSurface());
  surface.CreateOffscreen(10, -1);
  EXPECT_FALSE(surface.HasPixels());
}

TEST(Surface, ATooLargeSurfaceCannotBeMade) {
  TDirectDrawSurface surface;
  try {
    surface.CreateOffscreen(1 << 16, 1 << 16);
    FAIL() << "no error";
  } catch (const EDirectDrawSurfaceError& error) {
    EXPECT_STREQ(error.what(), "Surface cannot be made");
  }
  EXPECT_FALSE(surface.HasPixels());
}

TEST(Surface, PixelsReadBackAsWrittenAndOutsideReadsZero) {
  TDirectDrawSurface surface;
  surface.CreateOffscreen(5, 3);
  surface.FillSurface(0x00102030);
  EXPECT_EQ(surface.LastResult, DD_OK);
  surface.WritePixel(0, 0, 0x00FF0000);
  surface.WritePixel(4, 2, 0x0000FF00);
  surface.WritePixel(5, 0, 0x000000FF);   // one past the right edge: ignored
  surface.WritePixel(-1, 1, 0x000000FF);  // ignored
  const struct {
    int X, Y;
    uint32_t Value;
  } cases[] = {{0, 0, 0x00FF0000}, {4, 2, 0x0000FF00}, {1, 1, 0x00102030}, {3, 2, 0x00102030},
               {5, 0, 0},          {0, 3, 0},          {-1, 0, 0},          {0, -1, 0}};
  for (const auto& c : cases) EXPECT_EQ(surface.ReadPixel(c.X, c.Y), c.Value) << c.X << "," << c.Y;
  // Row 0 kept its fill beyond the written pixel: nothing wrote past the right edge into the next row.
  EXPECT_EQ(surface.ReadPixel(0, 1), 0x00102030u);
  EXPECT_EQ(surface.Bits()[2 * surface.Pitch() + 4], 0x0000FF00u);
}

TEST(Surface, LocksDoNotNest) {
  TDirectDrawSurface surface;
  surface.CreateOffscreen(8, 4);
  TDDSurfaceDesc desc;
  TRect rect{2, 1, 6, 3};
  ASSERT_TRUE(surface.LockSurface(&rect, desc));
  EXPECT_EQ(desc.Width, 4);
  EXPECT_EQ(desc.Height, 2);
  EXPECT_EQ(desc.Pitch, 8);
  EXPECT_EQ(desc.Bits, surface.Bits() + 8 + 2);
  TDDSurfaceDesc second;
  EXPECT_FALSE(surface.LockSurface(nullptr, second));
  EXPECT_EQ(surface.LastResult, DDERR_SURFACEBUSY);
  EXPECT_EQ(surface.LockCount(), 1);
  // Locked: pixel access and fills are refused.
  desc.Bits[0] = 9;
  EXPECT_EQ(surface.ReadPixel(2, 1), 0u);
  surface.FillSurface(1);
  EXPECT_EQ(surface.LastResult, DDERR_SURFACEBUSY);
  surface.UnlockSurface();
  EXPECT_EQ(surface.LockCount(), 0);
  EXPECT_EQ(surface.ReadPixel(2, 1), 9u);
  EXPECT_EQ(surface.ReadPixel(3, 1), 0u);
  surface.UnlockSurface();
  EXPECT_EQ(surface.LastResult, DDERR_NOTLOCKED);
  EXPECT_EQ(surface.LockCount(), 0);
  ASSERT_TRUE(surface.LockSurface(nullptr, desc));
  EXPECT_EQ(desc.Bits, surface.Bits());
  EXPECT_EQ(desc.Width, 8);
  surface.UnlockSurface();
}

TEST(Surface, ARectangleOutsideTheSurfaceCannotBeLocked) {
  TDirectDrawSurface surface;
  surface.CreateOffscreen(8, 4);
  TDDSurfaceDesc desc;
  for (TRect rect : {TRect{-1, 0, 4, 4}, TRect{0, 0, 9, 4}, TRect{0, 0, 8, 5}, TRect{3, 0, 3, 4}}) {
    EXPECT_FALSE(surface.LockSurface(&rect, desc));
    EXPECT_EQ(surface.LockCount(), 0);
  }
  TRect whole{0, 0, 8, 4};
  EXPECT_TRUE(surface.LockSurface(&whole, desc));
}

TEST(Surface, ColoursBecomeXrgbPixels) {
  TDirectDrawSurface surface;
  surface.CreateOffscreen(2, 2);
  EXPECT_EQ(surface.MatchColor(0x0000FF), 0x00FF0000u);  // red
  EXPECT_EQ(surface.MatchColor(0x159C2B), 0x002B9C15u);  // RGB(43, 156, 21)
  EXPECT_EQ(surface.MatchColor(0xFF0000), 0x000000FFu);  // blue
  EXPECT_EQ(PixelToColor(0x002B9C15u), 0x159C2B);
  surface.SetSourceKey(0x00FF00FF);
  EXPECT_TRUE(surface.HasSourceKey());
  EXPECT_EQ(surface.SourceKey(), 0x00FF00FFu);
  surface.CreateOffscreen(3, 3);  // a new surface has no key
  EXPECT_FALSE(surface.HasSourceKey());
}

}  // namespace
