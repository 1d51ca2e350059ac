// What the drawing benchmarks share: a display on the headless platform with an image list, the
// pictures they draw (made here, in the shapes the game's pictures have) and their raw pixels for the
// peers.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/display.h"
#include "engine/image_archive.h"
#include "platform/headless_platform.h"

namespace bench {

// A sprite-like picture: a diamond (half of the box) with small keyed holes, key black.
inline TPictureBitmap SpriteBitmap(int32_t width, int32_t height) {
  TPictureBitmap bitmap;
  bitmap.Width = width;
  bitmap.Height = height;
  const double cx = width / 2.0, cy = height / 2.0;
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      bool inside = std::fabs(x + 0.5 - cx) / cx + std::fabs(y + 0.5 - cy) / cy <= 1.1;
      bool hole = (x * 7 + y * 13) % 17 == 0;
      uint32_t colour = 0x203040u + static_cast<uint32_t>((x * 5) & 0xFF) * 0x10000u +
                        static_cast<uint32_t>((y * 3) & 0xFF);
      bitmap.Pixels.push_back(inside && !hole ? colour : 0u);
    }
  return bitmap;
}

// A mountain strip: each column opaque from a wavy skyline down, about half of it, key black.
inline TPictureBitmap StripBitmap(int32_t width, int32_t height) {
  TPictureBitmap bitmap;
  bitmap.Width = width;
  bitmap.Height = height;
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      double sky = height * (0.5 + 0.3 * std::sin(x * 0.031) + 0.15 * std::sin(x * 0.17));
      bitmap.Pixels.push_back(y >= sky ? 0x405020u + static_cast<uint32_t>((x + y) & 0x3F) : 0u);
    }
  return bitmap;
}

// A picture without a key colour in it: a background.
inline TPictureBitmap SolidBitmap(int32_t width, int32_t height) {
  TPictureBitmap bitmap;
  bitmap.Width = width;
  bitmap.Height = height;
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x)
      bitmap.Pixels.push_back(0x102030u + static_cast<uint32_t>((x ^ y) & 0x7F));
  return bitmap;
}

// One display for the whole run, initialised, with an image list bound to it.
struct TBenchDisplay {
  TBenchDisplay() {
    plat::SetPlatform(&Platform);
    Platform.OpenWindow("bench");
    List.SetDXDraw(&Draw);
    Draw.InitializeDisplay();
  }
  // A new picture built on the display's surfaces.
  TPictureCollectionItem* Add(TPictureBitmap bitmap, bool transparent = true) {
    TPictureCollectionItem* picture = List.Items.Add();
    picture->Picture = std::move(bitmap);
    picture->Transparent = transparent;
    picture->BuildPatterns();
    return picture;
  }

  plat::THeadlessPlatform Platform;
  TDXDraw Draw;
  TDXImageList List;
};

inline TBenchDisplay& Display() {
  static TBenchDisplay* display = new TBenchDisplay;  // lives to the end of the run
  return *display;
}

}  // namespace bench
