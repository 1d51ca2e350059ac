// Test fixture for drawing tests: a headless window with a display and the image list bound to it, as
// the main window arranges them, and pictures added straight from bitmaps.
#pragma once

#include <memory>

#include "engine/display.h"
#include "engine/image_archive.h"
#include "tests/support/headless.h"

class TPictureDisplayTest : public THeadlessTest {
 protected:
  void SetUp() override {
    THeadlessTest::SetUp();
    Headless.OpenWindow("test");
    Draw = std::make_unique<TDXDraw>();
    List = std::make_unique<TDXImageList>();
    List->SetDXDraw(Draw.get());
    Draw->InitializeDisplay();
  }
  void TearDown() override {
    List.reset();
    Draw.reset();
    THeadlessTest::TearDown();
  }

  // A new picture of the list; its patterns are built by the caller (or by the next display restore).
  TPictureCollectionItem* Add(TPictureBitmap bitmap, int32_t patternWidth = 0, int32_t patternHeight = 0) {
    TPictureCollectionItem* picture = List->Items.Add();
    picture->Picture = std::move(bitmap);
    picture->PatternWidth = patternWidth;
    picture->PatternHeight = patternHeight;
    return picture;
  }

  std::unique_ptr<TDXDraw> Draw;
  std::unique_ptr<TDXImageList> List;
};
