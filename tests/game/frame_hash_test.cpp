// The frame hash that replays chain into their checkpoints.
#include "game/frame_hash.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>

#include "engine/surface.h"

namespace {

// The hash of each frame is chained into the checkpoints, so it must see every pixel's colour.
TEST(FrameHash, AFrameHashSeesEveryPixelsColourButNotTheTopByte) {
  TDirectDrawSurface surface;
  surface.CreateOffscreen(7, 3);  // 21 pixels: four lanes of eight and a rest
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 7; ++x) surface.WritePixel(x, y, static_cast<uint32_t>(0x010203 * (x + 7 * y)));
  const uint64_t hash = FrameHash(surface);
  std::set<uint64_t> seen = {hash};
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 7; ++x) {
      const uint32_t pixel = surface.ReadPixel(x, y);
      for (uint32_t bit : {1u, 0x8000u, 0x800000u}) {
        surface.WritePixel(x, y, pixel ^ bit);
        EXPECT_TRUE(seen.insert(FrameHash(surface)).second) << x << "," << y << " bit " << bit;
      }
      surface.WritePixel(x, y, pixel | 0xFF000000u);
      EXPECT_EQ(FrameHash(surface), hash) << x << "," << y;
      surface.WritePixel(x, y, pixel);
    }
  // The chain depends on each frame and on their order.
  const uint64_t a = FrameHash(surface), b = hash ^ 1;
  EXPECT_NE(ChainFrames(ChainFrames(0, a), b), ChainFrames(ChainFrames(0, b), a));
  EXPECT_NE(ChainFrames(ChainFrames(0, a), b), ChainFrames(ChainFrames(0, a), a));
}

}  // namespace
