#include "engine/rtl.h"

#include <gtest/gtest.h>

TEST(Rtl, RoundTakesHalvesToEven) {
  const struct {
    double in;
    int64_t out;
  } cases[] = {{0.5, 0}, {1.5, 2}, {2.5, 2}, {-0.5, 0}, {-1.5, -2}, {2.4999, 2}, {2.5001, 3}};
  for (const auto& c : cases) EXPECT_EQ(Round(c.in), c.out) << c.in;
}

TEST(Rtl, TruncCutsTowardZero) {
  EXPECT_EQ(Trunc(2.9), 2);
  EXPECT_EQ(Trunc(-2.9), -2);
}

TEST(Rtl, RandomRepeatsForASeedAndStaysInRange) {
  RandSeedSet(99);
  int first[20];
  for (int& value : first) value = Random(7);
  RandSeedSet(99);
  bool seen[7] = {};
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(Random(7), first[i]);
    seen[first[i]] = true;
  }
  for (int i = 0; i < 1000; ++i) {
    int value = Random(7);
    ASSERT_GE(value, 0);
    ASSERT_LT(value, 7);
    seen[value] = true;
  }
  for (bool s : seen) EXPECT_TRUE(s);
  EXPECT_EQ(Random(0), 0);
}
