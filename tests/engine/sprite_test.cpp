#include "engine/sprite.h"

#include <gtest/gtest.h>

#include <functional>

#include <string>
#include <vector>

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

}  // namespace
