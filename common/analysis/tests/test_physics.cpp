// Solar geometry, air mass, distance factor and least squares against published references and
// hand-computed fits.
#include <gtest/gtest.h>

#include <cmath>

#include "common/DateTime.h"
#include "common/analysis/Physics.h"

using namespace Uphysics;

namespace {
double Date(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  double v = 0;
  TryEncodeDateTime(y, mo, d, h, mi, s, 0, v);
  return v;
}
}  // namespace

TEST(Calendar, DayOfYearUsesTheSimpleLeapRule) {
  EXPECT_DOUBLE_EQ(DayOfYear({2003, 3, 1, 12, 0, 0}), 59.5);
  EXPECT_DOUBLE_EQ(DayOfYear({2004, 3, 1, 12, 0, 0}), 60.5);
  EXPECT_DOUBLE_EQ(DayOfYear({1900, 3, 1, 12, 0, 0}), 60.5);
  EXPECT_EQ(Uphysics::DaysInMonth(2, 1900), 29);
  EXPECT_EQ(Uphysics::DaysInMonth(9, 2005), 30);
  EXPECT_DOUBLE_EQ(PositiveModulo(-30, 360), 330);
  int days = 0;
  EXPECT_DOUBLE_EQ(DayOffsetInYear(Date(2004, 3, 1, 6), days), 60.25);
  EXPECT_EQ(days, 366);
}

TEST(SolarPosition, AgreesWithTheReferenceAlgorithmWithinItsPrecision) {
  // NREL's solar position reference case (Reda and Andreas 2004): 17 October 2003 19:30:30 UT at
  // 39.742476 N, 105.1786 W, zenith 50.11162 degrees with the refraction of 820 hPa and 11 degrees C.
  // The almanac algorithm (Michalsky 1988) is good to 0.01 degree; its refraction is that of the
  // standard atmosphere, 0.004 degree more here.
  TPositionRec denver;
  denver.Latitude = 39.742476;
  denver.Longitude = -105.1786;
  EXPECT_NEAR(SolarZenithAngle({2003, 10, 17, 19, 30, 30}, denver), 50.11162 + 0.004, 0.012);
  // Solar noon at the equinox on the equator: the sun is overhead within the declination of the day.
  TPositionRec equator;
  EXPECT_NEAR(SolarZenithAngle({2005, 3, 20, 12, 7, 0}, equator), 0.0, 0.5);
  // At night the refraction is zero and the zenith angle is beyond 90.
  EXPECT_GT(SolarZenithAngle({2005, 3, 20, 0, 0, 0}, equator), 170);
}

TEST(AirMass, KastenValues) {
  EXPECT_NEAR(AirMass(0), 0.99949, 5e-6);
  EXPECT_NEAR(AirMass(60), 1.9928, 5e-5);
  EXPECT_NEAR(AirMass(84.99), 10.3, 0.05);
  EXPECT_EQ(AirMass(85), 0.0);
  EXPECT_EQ(AirMass(120), 0.0);
  // Near the zenith the atmosphere is a flat slab: sec z within two tenths of a percent.
  for (double z : {10.0, 30.0, 45.0})
    EXPECT_NEAR(AirMass(z), 1 / std::cos(z * M_PI / 180), 2e-3 / std::cos(z * M_PI / 180)) << z;
}

TEST(Distance, SpencerFactorAgreesWithTheAlmanacDistance) {
  // The almanac's radius vector r = 1.00014 - 0.01671 cos g - 0.00014 cos 2g (AU): Spencer's series
  // keeps within 1e-3 of 1/r^2 (its amplitude is a little larger). The calibration counts the day from 1 where Spencer counts from 0, so
  // its factor is Spencer's of the next day.
  for (int month = 1; month <= 12; ++month) {
    const double when = Date(2010, month, 15, 0);
    const double n = when + 1 - 36526.5;  // days since J2000.0 (2000-01-01 12:00), one day on
    const double g = (357.529 + 0.98560028 * (n - 0.0)) * M_PI / 180;
    const double r = 1.00014 - 0.01671 * std::cos(g) - 0.00014 * std::cos(2 * g);
    EXPECT_NEAR(EarthSunDistanceFactor(when), 1 / (r * r), 1e-3) << month;
  }
  // 1 January at 0:00 uses the angle 2 pi / N, not 0.
  const double gamma = 2 * 3.141592653589793 / 365;
  const double expected = 1.00011 + 0.034221 * std::cos(gamma) + 0.00128 * std::sin(gamma) +
                          0.000719 * std::cos(2 * gamma) + 0.000077 * std::sin(2 * gamma);
  EXPECT_DOUBLE_EQ(EarthSunDistanceFactor(Date(2005, 1, 1)), expected);
}

TEST(Refraction, BranchesAtTheirLimits) {
  // The refraction's branches are seen through the zenith angle: just above and below 19.225 degrees
  // of elevation the two formulas agree to a hundredth of a degree, so the angle stays continuous.
  TPositionRec site;
  site.Latitude = 45;
  double previous = SolarZenithAngle({2005, 6, 21, 5, 0, 0}, site);
  for (int minute = 1; minute < 240; ++minute) {
    const double z = SolarZenithAngle({2005, 6, 21, 5 + minute / 60, minute % 60, 0}, site);
    EXPECT_LT(z, previous);
    EXPECT_LT(previous - z, 0.3);
    previous = z;
  }
}

TEST(LeastSquares, HandComputedFits) {
  const double x[] = {1, 2, 3};
  const double y[] = {1, 2, 2};
  double slope = 7, intercept = 7;
  ASSERT_EQ(Umathematic::LeastSquaresLine(x, y, 3, slope, intercept), 0);
  EXPECT_DOUBLE_EQ(slope, 0.5);
  EXPECT_DOUBLE_EQ(intercept, 2.0 / 3.0);
  EXPECT_DOUBLE_EQ(Umathematic::CorrelationR2(x, y, 3), 0.75);

  const double x4[] = {1, 2, 3, 4};
  const double y4[] = {2, 4.1, 5.9, 8.1};
  ASSERT_EQ(Umathematic::LeastSquaresLine(x4, y4, 4, slope, intercept), 0);
  EXPECT_NEAR(slope, 2.01, 1e-12);
  EXPECT_NEAR(intercept, 0.0, 1e-12);

  slope = intercept = 9;
  EXPECT_EQ(Umathematic::LeastSquaresLine(x, y, 0, slope, intercept), 1);
  EXPECT_EQ(slope, 9);
  EXPECT_EQ(intercept, 9);
  const double same[] = {2, 2, 2};
  EXPECT_EQ(Umathematic::LeastSquaresLine(same, y, 3, slope, intercept), 1);
  EXPECT_EQ(Umathematic::CorrelationR2(same, y, 3), 0.0);
  EXPECT_EQ(Umathematic::CorrelationR2(x, y, 0), 0.0);
}
