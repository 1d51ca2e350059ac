// Where the picture lands in a window or screen, and where a window opens on a desktop.
#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

using plat::TRectArea;
using plat::TWindowPlacement;

TEST(FitPictureTest, FillsOneWayWithTheAspectKeptAndBarsTheOther) {
  struct TCase {
    int Width, Height;
    TRectArea Expected;
    bool Whole;
  } cases[] = {
      {800, 600, {0, 0, 800, 600}, true},
      {1600, 1200, {0, 0, 1600, 1200}, true},
      {1000, 900, {0, 75, 1000, 750}, false},       // bars above and below
      {1920, 1080, {240, 0, 1440, 1080}, false},    // bars left and right
      {2560, 1440, {320, 0, 1920, 1440}, false},
      {3200, 2400, {0, 0, 3200, 2400}, true},
      {1601, 1202, {0, 1, 1600, 1200}, true},       // a column and two rows to spare
      {1366, 768, {171, 0, 1024, 768}, false},
      {400, 300, {0, 0, 400, 300}, false},          // smaller than the picture
      {0, 600, {0, 0, 0, 0}, false},
  };
  for (const TCase& c : cases) {
    const TRectArea fit = plat::FitPicture(c.Width, c.Height);
    EXPECT_EQ(fit, c.Expected) << c.Width << " x " << c.Height;
    EXPECT_EQ(plat::WholeMultiple(fit), c.Whole) << c.Width << " x " << c.Height;
  }
}

TEST(ChooseWindowPlacementTest, AFirstStartOpensAtTheLargestWholeMultipleThatFits) {
  struct TCase {
    TRectArea Usable;
    int Width;  // of the window's client area; the height is three quarters of it
  } cases[] = {
      {{0, 0, 1024, 768}, 800},     // small screens: the picture's own size
      {{0, 0, 800, 600}, 800},      // even where the frame will not fit
      {{0, 0, 1920, 1040}, 800},    // 1080p with a panel
      {{0, 27, 2560, 1413}, 1600},  // 1440p with a top bar
      {{0, 0, 2048, 1536}, 1600},
      {{0, 0, 3840, 2110}, 2400},   // 4K
  };
  for (const TCase& c : cases) {
    const TWindowPlacement placement = plat::ChooseWindowPlacement(nullptr, {c.Usable});
    EXPECT_EQ(placement.Width, c.Width) << c.Usable.Width << " x " << c.Usable.Height;
    EXPECT_EQ(placement.Height, c.Width * 3 / 4) << c.Usable.Width << " x " << c.Usable.Height;
    // Centred in the usable area.
    EXPECT_EQ(placement.X, c.Usable.X + (c.Usable.Width - placement.Width) / 2);
    EXPECT_EQ(placement.Y, c.Usable.Y + (c.Usable.Height - placement.Height) / 2);
    EXPECT_FALSE(placement.Maximized);
  }
}

TEST(ChooseWindowPlacementTest, AStoredPlacementIsKeptOnlyWhereItStillFits) {
  // The primary display, and a second one to its right.
  const std::vector<TRectArea> desktop{{0, 0, 1920, 1040}, {1920, 0, 2560, 1440}};
  const TWindowPlacement first = plat::ChooseWindowPlacement(nullptr, desktop);
  struct TCase {
    TWindowPlacement Stored;
    bool Kept;
  } cases[] = {
      {{100, 50, 1000, 900, false}, true},
      {{100, 50, 1000, 900, true}, true},          // maximised again
      {{2000, 100, 2000, 1300, false}, true},      // on the second display
      {{-300, 50, 1000, 900, false}, true},        // partly off the desktop, its middle on it
      {{-900, 50, 1000, 900, false}, false},       // its middle off the desktop
      {{5000, 100, 1000, 900, false}, false},      // a display since unplugged
      {{0, 0, 2200, 1300, false}, false},          // larger than the display its middle is on
      {{100, 50, 399, 300, false}, false},         // smaller than the smallest window
      {{100, 50, 0, 0, false}, false},
  };
  for (const TCase& c : cases) {
    const TWindowPlacement chosen = plat::ChooseWindowPlacement(&c.Stored, desktop);
    EXPECT_EQ(chosen, c.Kept ? c.Stored : first)
        << c.Stored.Width << "x" << c.Stored.Height << "+" << c.Stored.X << "+" << c.Stored.Y;
  }
}

}  // namespace
