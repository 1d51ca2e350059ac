#include "engine/sprite.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/display.h"
#include "engine/image_archive.h"
#include "engine/sprite_engine.h"
#include "tests/engine/picture_display.h"
#include "tests/engine/pixel_grid.h"
#include "tests/support/headless.h"

namespace {

// A sprite that writes what happens to it into a shared log.
class TLogSprite : public TSprite {
 public:
  TLogSprite(TSprite* parent, std::string name, std::vector<std::string>& log, TRect box = {0, 0, 10, 10})
      : TSprite(parent), Name(std::move(name)), Log(log) {
    X = box.Left;
    Y = box.Top;
    Width = box.Width();
    Height = box.Height();
  }
  void Advance(int moveCount) override {
    Log.push_back("tick " + Name);
    if (OnAdvance) OnAdvance(moveCount);
  }
  void Render() override { Log.push_back("paint " + Name); }
  void HandleCollision(TSprite* other, bool& done) override {
    Log.push_back("hit " + Name + ">" + static_cast<TLogSprite*>(other)->Name);
    if (OnHit) OnHit(other, done);
  }
  std::string Name;
  std::vector<std::string>& Log;
  std::function<void(int)> OnAdvance;
  std::function<void(TSprite*, bool&)> OnHit;
};

class SpriteTree : public ::testing::Test {
 protected:
  TLogSprite* Make(const std::string& name, TRect box = {0, 0, 10, 10}, TSprite* parent = nullptr) {
    return new TLogSprite(parent ? parent : &Root, name, Log, box);
  }
  std::vector<std::string> Take() {
    std::vector<std::string> out;
    out.swap(Log);
    return out;
  }
  TSpriteEngine Root;
  std::vector<std::string> Log;
};

using Lines = std::vector<std::string>;

TEST_F(SpriteTree, FlagsPruneTheirSubtrees) {
  TLogSprite* a = Make("a");
  Make("a1", {0, 0, 10, 10}, a);
  Make("b");
  a->CanMove = false;
  Root.Tick(1);
  EXPECT_EQ(Take(), (Lines{"tick b"}));
  a->CanMove = true;
  a->Visible = false;
  Root.Paint();
  EXPECT_EQ(Take(), (Lines{"paint b"}));
  EXPECT_EQ(Root.DrawCount, 1);
  a->Visible = true;
  a->CanCollide = false;
  TLogSprite* tester = Make("t");
  EXPECT_EQ(tester->CheckCollisions(), 1);
  EXPECT_EQ(Take(), (Lines{"hit t>b"}));
}

TEST_F(SpriteTree, TouchingRectanglesNeitherHitNorDraw) {
  TLogSprite* tester = Make("t", {10, 10, 20, 20});
  Make("right", {20, 10, 30, 20});
  Make("below", {10, 20, 20, 30});
  Make("inside", {19, 19, 25, 25});
  Make("offscreen", {-10, 0, 0, 10});  // its right edge is x = 0
  EXPECT_EQ(tester->CheckCollisions(), 1);
  EXPECT_EQ(Take(), (Lines{"hit t>inside"}));
  Root.Paint();
  EXPECT_EQ(Root.DrawCount, 4);
  for (const auto& line : Take()) EXPECT_NE(line, "paint offscreen");
}

TEST_F(SpriteTree, KilledSpritesLiveUntilReapedAndDieOnce) {
  TLogSprite* a = Make("a");
  TLogSprite* b = Make("b");
  b->Kill();
  b->Kill();
  Root.Kill();
  EXPECT_TRUE(b->IsDead());
  EXPECT_FALSE(Root.IsDead());
  Root.Tick(1);
  Root.Paint();
  EXPECT_EQ(a->CheckCollisions(), 1);
  EXPECT_EQ(Take(), (Lines{"tick a", "tick b", "paint b", "paint a", "hit a>b"}));
  EXPECT_EQ(Root.AllCount, 2);
  Root.ReapDead();
  EXPECT_EQ(Root.Count(), 1);
  EXPECT_EQ(Root.AllCount, 1);
  EXPECT_EQ(Root.Items(0), a);
  Root.ReapDead();  // nothing left to free
  EXPECT_EQ(Root.Count(), 1);
}

TEST_F(SpriteTree, KilledChildFreedWithItsParentLeavesTheDeadList) {
  TLogSprite* parent = Make("p");
  TLogSprite* child = Make("c", {0, 0, 10, 10}, parent);
  child->Kill();
  parent->Kill();
  Root.ReapDead();  // frees the parent, and the child with it, once
  EXPECT_EQ(Root.Count(), 0);
  EXPECT_EQ(Root.AllCount, 0);
}

TEST_F(SpriteTree, EqualZIsDrawnNewestFirst) {
  Make("first")->SetZ(7);
  Make("second")->SetZ(7);
  TLogSprite* third = Make("third");
  third->SetZ(7);
  Make("low")->SetZ(5);
  Root.Paint();
  EXPECT_EQ(Take(), (Lines{"paint low", "paint third", "paint second", "paint first"}));
  third->SetZ(5);
  Root.Paint();
  EXPECT_EQ(Take(), (Lines{"paint third", "paint low", "paint second", "paint first"}));
}

TEST_F(SpriteTree, ChildrenAddedDuringTickWaitForTheNextFrame) {
  TLogSprite* spawner = Make("s");
  spawner->OnAdvance = [this](int) {
    if (Root.Count() < 3) Make("new" + std::to_string(Root.Count()));
  };
  Root.Tick(1);
  EXPECT_EQ(Take(), (Lines{"tick s"}));
  Root.Tick(1);
  EXPECT_EQ(Take(), (Lines{"tick s", "tick new1"}));
}

TEST_F(SpriteTree, AHandlerThatKillsTheTesterStopsTheTest) {
  TLogSprite* shot = Make("shot");
  Make("x");
  Make("y");
  shot->OnHit = [shot](TSprite*, bool&) { shot->Kill(); };
  EXPECT_EQ(shot->CheckCollisions(), 1);
  EXPECT_EQ(Take(), (Lines{"hit shot>x"}));
  EXPECT_EQ(shot->CheckCollisions(), 0);  // a dead tester tests nothing
  EXPECT_TRUE(Take().empty());
}

TEST_F(SpriteTree, ItemsReportsBothErrors) {
  TLogSprite* lonely = Make("l");
  try {
    lonely->Items(0);
    FAIL();
  } catch (const ESpriteError& error) {
    EXPECT_STREQ(error.what(), "Index of the list exceeds the range. (0)");
  }
  try {
    Root.Items(3);
    FAIL();
  } catch (const ESpriteError& error) {
    EXPECT_STREQ(error.what(), "List index out of bounds (3)");
  }
}

TEST_F(SpriteTree, ClearFreesEverything) {
  TLogSprite* a = Make("a");
  Make("a1", {0, 0, 1, 1}, a);
  Make("b")->Kill();
  Root.Clear();
  EXPECT_EQ(Root.Count(), 0);
  EXPECT_EQ(Root.AllCount, 0);
  Root.ReapDead();  // the dead list was emptied with the sprites
}

struct TAnimationCase {
  const char* name;
  int32_t count;
  bool loop;
  double speed;
  int moveCount;
  std::vector<int32_t> frames;  // FrameIndex after each Advance
  double finalSpeed;
};

class Animation : public ::testing::TestWithParam<TAnimationCase> {};

TEST_P(Animation, StepsFramesByRoundedSpeed) {
  TSpriteEngine root;
  auto* sprite = new TImageSprite(&root);
  const TAnimationCase& c = GetParam();
  sprite->FrameCount = c.count;
  sprite->FrameLoop = c.loop;
  sprite->FrameSpeed = c.speed;
  for (int32_t expected : c.frames) {
    sprite->Advance(c.moveCount);
    EXPECT_EQ(sprite->FrameIndex, expected) << c.name;
  }
  EXPECT_EQ(sprite->FrameSpeed, c.finalSpeed) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Animation,
    ::testing::Values(TAnimationCase{"stops on the last frame", 4, false, 1.0, 1, {1, 2, 3, 3}, 0.0},
                      TAnimationCase{"no frames stays on 0", 0, false, 1.0, 1, {0, 0}, 0.0},
                      TAnimationCase{"loops", 3, true, 1.0, 1, {1, 2, 0, 1}, 1.0},
                      TAnimationCase{"loops by two", 3, true, 1.0, 2, {2, 1, 0}, 1.0},
                      TAnimationCase{"half rounds to even", 8, true, 0.5, 1, {0, 0, 0}, 0.5},
                      TAnimationCase{"one and a half rounds up", 8, true, 0.5, 3, {2, 4, 6}, 0.5},
                      TAnimationCase{"backwards loop", 4, true, -1.0, 1, {3, 2, 1, 0, 3}, -1.0}));

TEST(TiledBounds, WrapAroundTheSurface) {
  TSpriteEngine root;
  auto* sprite = new TImageSprite(&root);
  sprite->Width = 100;
  sprite->Height = 50;
  sprite->Tile = true;
  sprite->X = -10;
  EXPECT_EQ(sprite->GetBounds(), (TRect{-10, 0, 90, 50}));
  sprite->X = 850;  // 850 mod 900 = 850 > 800: one lap back
  EXPECT_EQ(sprite->GetBounds(), (TRect{-50, 0, 50, 50}));
  sprite->X = 800;
  EXPECT_EQ(sprite->GetBounds(), (TRect{800, 0, 900, 50}));
}

TEST(BackgroundMap, SizeCellsAndOutside) {
  TSpriteEngine root;
  auto* background = new TBackgroundSprite(&root);
  EXPECT_FALSE(background->CanCollide);
  background->SetMapSize(2, 3);
  EXPECT_EQ(background->Chip(1, 2), 0);
  EXPECT_TRUE(background->CollisionCell(1, 2));
  EXPECT_EQ(background->Chip(2, 0), -1);
  EXPECT_FALSE(background->CollisionCell(-1, 0));
  background->SetMapSize(0, 5);
  EXPECT_EQ(background->MapWidth(), 0);
  EXPECT_EQ(background->MapHeight(), 0);
  EXPECT_EQ(background->Chip(0, 0), -1);
  EXPECT_TRUE(background->Overlaps(background));  // an empty map overlaps everything
}

// ------------------------------------------------------------------------------ drawing on the display

// A bitmap whose every pixel is different and none is black.
TPictureBitmap NumberedPixels(int32_t width, int32_t height) {
  TPictureBitmap bitmap;
  bitmap.Width = width;
  bitmap.Height = height;
  for (int32_t i = 0; i < width * height; ++i) bitmap.Pixels.push_back(static_cast<uint32_t>(0x10000 + i));
  return bitmap;
}

// The form's arrangement: a display, the image list and the sprite engine component bound to it.
class SpriteDrawing : public TPictureDisplayTest {
 protected:
  void SetUp() override {
    TPictureDisplayTest::SetUp();
    Sprites = std::make_unique<TDXSpriteEngine>();
    Sprites->SetDXDraw(Draw.get());
  }
  void TearDown() override {
    Sprites.reset();
    TPictureDisplayTest::TearDown();
  }

  TPictureCollectionItem* Add(TPictureBitmap bitmap, int32_t patternWidth = 0, int32_t patternHeight = 0) {
    TPictureCollectionItem* picture =
        TPictureDisplayTest::Add(std::move(bitmap), patternWidth, patternHeight);
    picture->BuildPatterns();
    return picture;
  }
  TImageSprite* Image(TPictureCollectionItem* picture, int32_t x, int32_t y) {
    auto* sprite = new TImageSprite(&Sprites->Engine);
    sprite->Image = picture;
    sprite->X = x;
    sprite->Y = y;
    sprite->Width = picture->EffectiveWidth();
    sprite->Height = picture->EffectiveHeight();
    return sprite;
  }
  // One frame as the loops draw it: black, then the tree.
  void PaintFrame() {
    Draw->Surface.FillSurface(GridPixel('#'));
    Sprites->Paint();
  }

  std::unique_ptr<TDXSpriteEngine> Sprites;
};

TEST_F(SpriteDrawing, AnImageSpriteDrawsItsCurrentPatternCentredInItsBox) {
  TPictureCollectionItem* picture = Add(GridBitmap({"rgcm", "bwyk"}), 2, 2);
  auto* parent = new TSprite(&Sprites->Engine);
  parent->X = 100;
  auto* sprite = new TImageSprite(parent);
  sprite->Image = picture;
  sprite->X = 10;
  sprite->Y = 20;
  sprite->Width = 6;
  sprite->Height = 5;
  sprite->FrameStart = 1;
  PaintFrame();
  EXPECT_EQ(ReadGrid(Draw->Surface, 110, 20, 6, 5), (Grid{"######", "##cm##", "##yk##", "######", "######"}));
  EXPECT_EQ(Sprites->Engine.DrawCount, 1);  // the parent has no area

  // A box narrower than the picture: (1 - 2) div 2 is 0, the pattern starts at the box.
  sprite->Width = 1;
  sprite->Height = 1;
  sprite->FrameIndex = -1;
  PaintFrame();
  EXPECT_EQ(ReadGrid(Draw->Surface, 110, 20, 3, 3), (Grid{"rg#", "bw#", "###"}));

  // A pattern the picture does not have draws nothing.
  sprite->FrameIndex = 1;
  PaintFrame();
  EXPECT_EQ(ReadGrid(Draw->Surface, 110, 20, 3, 3), (Grid{"###", "###", "###"}));
}

TEST_F(SpriteDrawing, ATiledBackgroundCoversTheWholeSurface) {
  TPictureBitmap cell;
  cell.Width = 30;
  cell.Height = 20;
  for (int32_t y = 0; y < 20; ++y)
    for (int32_t x = 0; x < 30; ++x) cell.Pixels.push_back(static_cast<uint32_t>(0x010000 * (x + 1) + y + 1));
  TPictureCollectionItem* picture = Add(cell);
  auto* background = new TBackgroundSprite(&Sprites->Engine);
  background->SetMapSize(1, 1);
  background->Image = picture;
  background->Tile = true;
  background->Width = 30;
  background->Height = 20;
  EXPECT_EQ(background->GetBounds(), (TRect{0, 0, 800, 600}));
  struct Offset {
    int32_t x, y;
  };
  for (Offset offset : {Offset{-10, 0}, Offset{10, -7}, Offset{-65, 43}}) {
    SCOPED_TRACE(std::to_string(offset.x) + "," + std::to_string(offset.y));
    background->X = offset.x;
    background->Y = offset.y;
    PaintFrame();
    int wrong = 0;
    for (int y = 0; y < 600; ++y)
      for (int x = 0; x < 800; ++x) {
        // Copies start one cell left of and above the offset, so the cell column of x is (x - offset) mod 30.
        uint32_t expected = cell.Pixel(Mod2(x - offset.x, 30), Mod2(y - offset.y, 20));
        if (Draw->Surface.ReadPixel(x, y) != expected && wrong++ < 3)
          ADD_FAILURE() << "pixel " << x << "," << y;
      }
    EXPECT_EQ(wrong, 0);
  }
}

TEST_F(SpriteDrawing, ABoundedBackgroundDrawsOnlyItsMap) {
  TPictureCollectionItem* picture = Add(GridBitmap({"rg", "by"}), 1, 1);
  auto* background = new TBackgroundSprite(&Sprites->Engine);
  background->SetMapSize(3, 2);
  background->Image = picture;
  background->X = -1;
  background->Y = 1;
  background->SetChip(1, 0, 3);
  background->SetChip(2, 0, -1);
  background->SetChip(2, 1, 1);
  PaintFrame();
  EXPECT_EQ(ReadGrid(Draw->Surface, 0, 0, 4, 4), (Grid{"####", "y###", "rg##", "####"}));
}

TEST_F(SpriteDrawing, PixelCheckComparesOpaquePixels) {
  TPictureCollectionItem* falling = Add(GridBitmap({"r..", ".r.", "..r"}));
  TPictureCollectionItem* rising = Add(GridBitmap({"..g", ".g.", "g.."}));
  struct Case {
    int32_t x, y;
    bool pixelCheck;
    int32_t hits;
  };
  const std::vector<Case> cases = {
      {0, 0, true, 1},    // the middle pixels meet
      {1, 0, true, 0},    // boxes overlap, pixels do not
      {1, 1, true, 1},    // (2, 2) of both
      {-2, -2, true, 0},  // one shared pixel, keyed in the rising line
      {1, 0, false, 1},   // without the check the boxes decide
      {3, 0, true, 0},    // boxes only touch
  };
  TImageSprite* tester = Image(falling, 0, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
    TImageSprite* target = Image(rising, c.x, c.y);
    tester->PixelCheck = c.pixelCheck;
    EXPECT_EQ(tester->CheckCollisions(), c.hits);
    delete target;
  }
}

// A picture sprite that promises its opaque band, as the game's mountains do.
class TOpaqueStrip : public TImageSprite {
 public:
  using TImageSprite::TImageSprite;
  TRect OpaqueRect() const override { return PatternOpaqueRect(); }
};

// A picture sprite that notes the picture clip it was drawn with.
class TClipProbe : public TImageSprite {
 public:
  using TImageSprite::TImageSprite;
  void Render() override {
    Clip = Engine()->Surface()->PictureClip;
    TImageSprite::Render();
  }
  TRect Clip;
};

// A strip of 500 x 100: rows 0-39 every third pixel keyed (black), rows 40-99 opaque.
TPictureBitmap MountainStrip() {
  TPictureBitmap strip = NumberedPixels(500, 100);
  for (int32_t y = 0; y < 40; ++y)
    for (int32_t x = y % 3; x < 500; x += 3) strip.Pixels[static_cast<size_t>(y * 500 + x)] = 0;
  return strip;
}

TEST_F(SpriteDrawing, PicturesLeaveOutOnlyRowsThatLaterSpritesCoverWhole) {
  struct Case {
    const char* Name;
    int32_t LeftX, RightX, Y;  // the two strips
    bool Sky;                  // an opaque tiled background under everything
    int32_t ProbeY;            // of two small sprites, beneath the strips and above them
    TRect BeneathClip;         // of the one drawn before the strips
  };
  const Case cases[] = {
      {"two strips side by side cover the bottom", -100, 400, 500, true, 538, {0, 0, 800, 540}},
      {"a gap of one pixel covers nothing", -100, 401, 500, true, 538, {0, 0, 800, 600}},
      {"strips over the top edge cover the top", -100, 400, -60, true, 38, {0, 40, 800, 600}},
      {"without a background the fill shows above", -100, 400, 500, false, 538, {0, 0, 800, 540}},
      {"overlapping strips", -50, 300, 500, false, 538, {0, 0, 800, 540}},
      {"a band in the middle is drawn", -100, 400, 400, true, 438, {0, 0, 800, 600}},
  };
  TPictureCollectionItem* strip = Add(MountainStrip());
  TPictureCollectionItem* sky = Add(NumberedPixels(30, 20));
  sky->Transparent = false;
  TPictureCollectionItem* plane = Add(GridBitmap({"r.g.b", "ywmck", "..w..", "yy.cc"}));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Sprites->Engine.Clear();
    if (c.Sky) {
      auto* background = new TBackgroundSprite(&Sprites->Engine);
      background->SetMapSize(1, 1);
      background->Image = sky;
      background->Tile = true;
      background->X = -7;
    }
    for (int32_t x : {c.LeftX, c.RightX}) {
      auto* sprite = new TOpaqueStrip(&Sprites->Engine);
      sprite->Image = strip;
      sprite->X = x;
      sprite->Y = c.Y;
      sprite->Width = 500;
      sprite->Height = 100;
      sprite->SetZ(2);
    }
    // Beneath the strips across their edge, and above them inside their band.
    std::vector<TClipProbe*> probes;
    for (auto [y, z] : {std::pair{c.ProbeY, 1}, std::pair{c.ProbeY + 12, 3}}) {
      auto* probe = new TClipProbe(&Sprites->Engine);
      probe->Image = plane;
      probe->X = 397;
      probe->Y = y;
      probe->Width = 5;
      probe->Height = 4;
      probe->SetZ(z);
      probes.push_back(probe);
    }

    Draw->Surface.FillSurface(GridPixel('#'));
    static_cast<TSprite&>(Sprites->Engine).Paint();  // every sprite drawn whole
    const std::vector<uint32_t> whole(Draw->Surface.Bits(), Draw->Surface.Bits() + 800 * 600);
    Draw->Surface.FillSurface(GridPixel('w'));
    Sprites->Paint(GridPixel('#'));
    const std::vector<uint32_t> clipped(Draw->Surface.Bits(), Draw->Surface.Bits() + 800 * 600);
    EXPECT_EQ(probes[0]->Clip, c.BeneathClip);
    EXPECT_EQ(probes[1]->Clip, (TRect{0, 0, 800, 600}));
    int wrong = 0;
    for (size_t i = 0; i < whole.size(); ++i)
      if (clipped[i] != whole[i] && wrong++ < 3) ADD_FAILURE() << "pixel " << i % 800 << "," << i / 800;
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(Draw->Surface.PictureClip, kNoPictureClip);
  }
}

TEST_F(SpriteDrawing, APatternIsOpaqueOverItsLongestBandOfWholeRows) {
  struct Case {
    const char* Name;
    Grid Rows;
    bool Transparent;
    TRect At21;  // OpaqueRect of pattern 0 at (2, 1)
  };
  const Case cases[] = {
      {"the longer of two bands", {"rgb", "r.b", "rgb", "rgb", ".gb"}, true, {2, 3, 5, 5}},
      {"a band at the top", {"rgb", "rgb", "..b"}, true, {2, 1, 5, 3}},
      {"no whole row", {"r.b", ".gb"}, true, {}},
      {"not keyed: everything", {"r.b", ".gb"}, false, {2, 1, 5, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TPictureCollectionItem* picture = TPictureDisplayTest::Add(GridBitmap(c.Rows));
    picture->Transparent = c.Transparent;
    picture->BuildPatterns();
    EXPECT_EQ(picture->OpaqueRect(0, 2, 1), c.At21);
    EXPECT_EQ(picture->OpaqueRect(1, 2, 1), TRect{});
  }
}

// Alt+Enter: the display is finalised and initialised full screen, then again in a window. The pictures
// are rebuilt each time and the next frame is the same as before.
TEST_F(SpriteDrawing, AModeSwitchKeepsThePicturesAndRedrawsTheSameFrame) {
  TPictureBitmap ground = NumberedPixels(40, 30);
  auto* background = new TBackgroundSprite(&Sprites->Engine);
  background->SetMapSize(1, 1);
  background->Image = Add(ground);
  background->Tile = true;
  background->X = -7;
  TPictureCollectionItem* plane = Add(GridBitmap({"r.g.b", "ywmck", "..w..", "yy.cc"}), 5, 2);
  for (int32_t i = 0; i < 6; ++i) {
    TImageSprite* sprite = Image(plane, 100 + 97 * i, 50 + 83 * i);
    sprite->FrameStart = i % 2;
    sprite->SetZ(1);
  }
  auto frame = [&] {
    EXPECT_TRUE(Draw->CanDraw());
    PaintFrame();
    Draw->FlipDisplay();
    return Headless.LastFrame;
  };
  const std::vector<uint32_t> windowed = frame();
  ASSERT_EQ(windowed.size(), 800u * 600u);
  EXPECT_EQ(windowed[50 * 800 + 100], GridPixel('r'));

  Draw->SetOptions(Draw->Options() | OptionBit(doFullScreen));
  Draw->InitializeDisplay();
  ASSERT_TRUE(Headless.FullScreen());
  EXPECT_EQ(plane->PatternTotal(), 2);
  EXPECT_TRUE(frame() == windowed);

  Draw->SetOptions(static_cast<TDXDrawOptions>(Draw->Options() & ~OptionBit(doFullScreen)));
  Draw->InitializeDisplay();
  ASSERT_FALSE(Headless.FullScreen());
  EXPECT_TRUE(frame() == windowed);
  EXPECT_EQ(Headless.PresentCount, 3u);
}

}  // namespace
