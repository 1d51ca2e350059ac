// The headless platform's pointer: it answers where the pointer is and keeps nothing of where it was,
// so that a replay that moves the pointer on every tick checks in the same memory as one that never does.
#include "platform/headless_platform.h"

#include <gtest/gtest.h>
#include <malloc.h>

namespace {

TEST(HeadlessPointer, KeepsTheLastPositionAndNoHistory) {
  plat::THeadlessPlatform headless;
  constexpr int kMoves = 1 << 21;  // a day of ticks is some 5 million; 2 million moves would hold 16 MB
  const auto held = [] {
    const struct mallinfo2 heap = mallinfo2();
    return heap.uordblks + heap.hblkhd;  // the heap's blocks in use, and those mapped on their own
  };
  const size_t before = held();
  for (int i = 0; i < kMoves; ++i) headless.SetCursorPos(i % 800, i % 600);
  const size_t after = held();
  EXPECT_LT(after, before + (1u << 20)) << "bytes held grew with the pointer's moves";
  int x = -1, y = -1;
  headless.GetCursorPos(x, y);
  EXPECT_EQ(x, (kMoves - 1) % 800);
  EXPECT_EQ(y, (kMoves - 1) % 600);

  // A pointer event moves it, too, and the last of either kind wins.
  headless.PushEvent({.Kind = plat::TEventKind::MouseMove, .X = 12, .Y = 34});
  plat::TEvent event;
  ASSERT_TRUE(headless.PollEvent(event));
  headless.GetCursorPos(x, y);
  EXPECT_EQ(x, 12);
  EXPECT_EQ(y, 34);
  headless.SetCursorPos(400, 300);
  headless.GetCursorPos(x, y);
  EXPECT_EQ(x, 400);
  EXPECT_EQ(y, 300);
}

}  // namespace
