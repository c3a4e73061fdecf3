// Cloud screening on made-up series with known outcome.

#include "MorvaneFixture.h"

#include "morvane/core/ResultFiles.h"
#include "morvane/core/Screening.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

using namespace morvane;
using namespace morvane::test;

namespace {

std::vector<double> Times(size_t n, double start = 7000.3, double step = 0.01) {
  std::vector<double> t;
  for (size_t i = 0; i < n; ++i)
    t.push_back(start + step * static_cast<double>(i));
  return t;
}

TEST(ScreenDay, ShortOrStableDaysAreKeptWhole) {
  EXPECT_EQ(ScreenDay({0.1, 0.5}, Times(2)).size(), 2u);
  // Standard deviation 0.01: kept even though the series is not smooth.
  const std::vector<double> stable = {0.10, 0.12, 0.10, 0.12, 0.10};
  EXPECT_EQ(ScreenDay(stable, Times(5, 7000.3, 0.0001)).size(), 5u);
}

TEST(ScreenDay, SmoothVariableDayIsKept) {
  std::vector<double> tau;
  for (int i = 0; i < 10; ++i)
    tau.push_back(0.1 + 0.01 * i); // sd 0.03, gentle trend
  EXPECT_EQ(ScreenDay(tau, Times(10, 7000.3, 0.02)).size(), 10u);
}

TEST(ScreenDay, SpikeIsRemovedAndTheRestKept) {
  std::vector<double> tau = {0.10, 0.10, 0.10, 0.60, 0.10, 0.10, 0.10};
  const auto keep = ScreenDay(tau, Times(7, 7000.3, 0.001));
  EXPECT_EQ(keep, (std::vector<size_t>{0, 1, 2, 4, 5, 6}));
}

TEST(ScreenDay, DayReducedBelowThreePointsIsDropped) {
  EXPECT_TRUE(ScreenDay({0.1, 0.9, 0.1}, Times(3, 7000.3, 0.001)).empty());
}

TEST(ScreenDay, PairsWithoutTimeBetweenAreLeftOut) {
  // Equal times would divide by zero; with no valid difference the day is accepted as it is.
  const std::vector<double> tau = {0.1, 0.5, 0.2};
  EXPECT_EQ(ScreenDay(tau, {7000.5, 7000.5, 7000.5}).size(), 3u);
}

std::string TaoRow(int hour, double n, int cloud, double tau440, double other) {
  ResultRow r;
  r.year = 2020;
  r.month = 6;
  r.day = 15;
  r.hour = hour;
  r.minute = 0;
  r.second = 0;
  r.n = n;
  r.mass = 1.5;
  r.temperature = 25;
  r.cloud = cloud;
  const double v[2] = {other, tau440};
  std::string s;
  AppendResultRow(s, r, v, 2, false);
  return s + "\n";
}

TEST(ScreenClouds, DropsCloudyAndNonPositiveRecordsAndShiftsColumns) {
  TempDir dir;
  const std::string tao = dir.file("r.tao"), ta2 = dir.file("r.ta2");
  std::string header(500, ' ');
  header.replace(0, 5, "Year ");
  WriteFile(tao, header + "\n" + TaoRow(8, 7471.33, 0, 0.1, 0.2) + TaoRow(9, 7471.37, 1, 0.1, 0.2) +
                     TaoRow(10, 7471.41, 0, -0.01, 0.2) + TaoRow(11, 7471.45, 0, 0.11, 0.3) +
                     // next day: only cloudy records
                     TaoRow(8, 7472.33, 1, 0.1, 0.2) + TaoRow(9, 7472.37, 1, 0.1, 0.2) + "garbage line\n");
  std::ostringstream diag;
  const ScreeningSummary s = ScreenClouds(tao, ta2, 2, 2, diag);
  EXPECT_EQ(s.written, 2);
  EXPECT_EQ(s.malformed, 1);
  const auto lines = ReadLines(ta2);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], header);
  const auto taoLines = ReadLines(tao);
  EXPECT_EQ(lines[1], " " + taoLines[1]);
  EXPECT_EQ(lines[2], " " + taoLines[4]);
}

TEST(ScreenClouds, WithoutA440ChannelOnlyTheCloudFlagCounts) {
  TempDir dir;
  WriteFile(dir.file("r.tao"), std::string(500, ' ') + "\n" + TaoRow(8, 7471.33, 0, -1, 0.2) +
                                   TaoRow(9, 7471.37, 1, 0.1, 0.2));
  std::ostringstream diag;
  EXPECT_EQ(ScreenClouds(dir.file("r.tao"), dir.file("r.ta2"), 2, 0, diag).written, 1);
  EXPECT_FALSE(diag.str().empty());
}

} // namespace
