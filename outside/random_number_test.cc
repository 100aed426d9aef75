#include "outside/random_number.h"

#include <climits>
#include <map>

#include <gtest/gtest.h>

namespace teska {
namespace {

TEST(RandomNumberTest, PasswordRangeStaysInsideAndReachesEveryValue) {
  RandomNumber random(33, 126);
  std::map<int, int> seen;
  constexpr int kDraws = 94 * 1000;
  for (int i = 0; i < kDraws; ++i) {
    const int value = random.getNextNumber();
    ASSERT_GE(value, 33);
    ASSERT_LE(value, 126);
    ++seen[value];
  }
  ASSERT_EQ(seen.size(), 94u);
  EXPECT_EQ(seen.begin()->first, 33);
  EXPECT_EQ(seen.rbegin()->first, 126);
  // About 1000 each (standard deviation about 31); these bounds only catch a broken source.
  for (const auto& [value, count] : seen) {
    EXPECT_GT(count, 700) << value;
    EXPECT_LT(count, 1300) << value;
  }
}

TEST(RandomNumberTest, DegenerateAndExtremeRanges) {
  RandomNumber single(5, 5);
  RandomNumber swapped(10, 1);
  RandomNumber whole(INT_MIN, INT_MAX);
  bool negative = false;
  bool positive = false;
  for (int i = 0; i < 1000; ++i) {
    EXPECT_EQ(single.getNextNumber(), 5);
    const int value = swapped.getNextNumber();
    EXPECT_GE(value, 1);
    EXPECT_LE(value, 10);
    const int any = whole.getNextNumber();
    negative = negative || any < 0;
    positive = positive || any > 0;
  }
  EXPECT_TRUE(negative);
  EXPECT_TRUE(positive);
}

}  // namespace
}  // namespace teska
