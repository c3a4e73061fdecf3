// The map of doubles the data set and the Langley window keep their values in: keys as a standard map
// compares them, through the growth of the table.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "common/analysis/ValueMap.h"

TEST(ValueMap, KeysCompareAsEqualDoublesThroughGrowth) {
  TValueMap map;
  EXPECT_EQ(map.Find(1.0), nullptr);
  // Times a quarter of an hour apart over a year: many times the first table.
  const int count = 35040;
  for (int i = 0; i < count; ++i) EXPECT_TRUE(map.Insert(46000 + i / 96.0, i));
  EXPECT_EQ(map.Size(), static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    const double* value = map.Find(46000 + i / 96.0);
    ASSERT_NE(value, nullptr) << i;
    EXPECT_EQ(*value, i);
  }
  EXPECT_EQ(map.Find(46000 + 0.5 / 96.0), nullptr);
  // A key already there keeps its value.
  EXPECT_FALSE(map.Insert(46000, -1));
  EXPECT_EQ(*map.Find(46000), 0);
  // 0 and -0 are one key; a key that is not a number is never kept.
  EXPECT_TRUE(map.Insert(0.0, 7));
  EXPECT_FALSE(map.Insert(-0.0, 8));
  EXPECT_EQ(*map.Find(-0.0), 7);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(map.Insert(nan, 1));
  EXPECT_EQ(map.Find(nan), nullptr);
  map.Clear();
  EXPECT_EQ(map.Size(), 0u);
  EXPECT_EQ(map.Find(46000), nullptr);
  EXPECT_TRUE(map.Insert(46000, 3));
}
