// Day numbers, solar position, air masses, pressure, Rayleigh optical depth and the line fit against
// published values.

#include "morvane/core/Physics.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace morvane;

namespace {

TEST(DayNumber, EpochAndMeeusExamples) {
  EXPECT_DOUBLE_EQ(DayNumber(2000, 1, 1, 0, 0, 0).n, 0.0);
  EXPECT_DOUBLE_EQ(DayNumber(2000, 1, 1, 12, 0, 0).n, 0.5);
  // Julian days of Meeus, Astronomical Algorithms, example 7.a and the table of 7.1.
  const double jd0 = 2451544.5;
  EXPECT_NEAR(DayNumber(1957, 10, 4, 19, 26, 24).n + jd0, 2436116.31, 1e-6);
  EXPECT_DOUBLE_EQ(DayNumber(1987, 1, 27, 0, 0, 0).n + jd0, 2446822.5);
  EXPECT_DOUBLE_EQ(DayNumber(1987, 6, 19, 12, 0, 0).n + jd0, 2446966.0);
  EXPECT_DOUBLE_EQ(DayNumber(1988, 1, 27, 0, 0, 0).n + jd0, 2447187.5);
  EXPECT_DOUBLE_EQ(DayNumber(1999, 1, 1, 0, 0, 0).n + jd0, 2451179.5);
  EXPECT_DOUBLE_EQ(DayNumber(1900, 1, 1, 0, 0, 0).n + jd0, 2415020.5);
  EXPECT_DOUBLE_EQ(DayNumber(1600, 12, 31, 0, 0, 0).n + jd0, 2305812.5);
  EXPECT_NEAR(DayNumber(2024, 3, 1, 6, 30, 30.5).hours, 6.5084722222, 1e-9);
}

TEST(SunPsa, MatchesTheReferenceSolarPosition) {
  // Reference case of the NREL solar position algorithm (Reda and Andreas 2004): 2003-10-17 19:30:30 UT,
  // 39.742476 N, 105.1786 W; topocentric zenith 50.11162 deg including 0.0135 deg of refraction, which
  // this algorithm leaves out.
  const DayCount d = DayNumber(2003, 10, 17, 19, 30, 30);
  const SunPosition s = SunPsa(d.hours, 39.742476f, -105.1786f, d.n - 0.5);
  EXPECT_NEAR(90.0 - s.elevation, 50.11162 + 0.0135, 0.01);
  EXPECT_NEAR(s.distance, 0.9965422974, 2e-4);
}

TEST(SunPsa, EarthSunDistanceAtPerihelionAndAphelion) {
  DayCount d = DayNumber(2020, 1, 5, 8, 0, 0); // perihelion 2020-01-05 08 UT, 0.98324 AU
  EXPECT_NEAR(SunPsa(d.hours, 0, 0, d.n - 0.5).distance, 0.98324, 1e-4);
  d = DayNumber(2020, 7, 4, 12, 0, 0); // aphelion, 1.01669 AU
  EXPECT_NEAR(SunPsa(d.hours, 0, 0, d.n - 0.5).distance, 1.01669, 1e-4);
}

TEST(AirMass, OneAtZenithAboutTwoAtSixtyDegreesGrowingTowardsTheHorizon) {
  const AirMasses zenith = ComputeAirMasses(90);
  EXPECT_DOUBLE_EQ(zenith.rayleigh, 1.0);
  EXPECT_DOUBLE_EQ(zenith.ozone, 1.0);
  EXPECT_DOUBLE_EQ(zenith.no2, 1.0);
  EXPECT_DOUBLE_EQ(zenith.water, 1.0);
  const AirMasses m30 = ComputeAirMasses(30);
  for (double m : {m30.rayleigh, m30.ozone, m30.no2, m30.water})
    EXPECT_NEAR(m, 1.995, 0.01);
  // Rayleigh air mass at the horizon from the same expression: 38.17.
  EXPECT_NEAR(ComputeAirMasses(0).rayleigh, 38.17, 0.05);
  EXPECT_GT(ComputeAirMasses(5).ozone, ComputeAirMasses(10).ozone);
  // The ozone layer lies high: its air mass stays below the Rayleigh one near the horizon.
  EXPECT_LT(ComputeAirMasses(2).ozone, ComputeAirMasses(2).rayleigh);
}

TEST(Rayleigh, AgreesWithTheBodhaineReferenceWithinATenthOfAPercent) {
  const double lambda[] = {340, 380, 440, 500, 675, 870, 936, 1020, 1640};
  const double tau[] = {0.7125, 0.4462, 0.2426, 0.1434, 0.04221, 0.01513, 0.01127, 0.007975, 0.001185};
  for (size_t i = 0; i < 9; ++i)
    EXPECT_NEAR(1.0 / RayleighQ(lambda[i]), tau[i], tau[i] * 0.0012) << lambda[i];
}

TEST(Pressure, FromAltitudeAndLatitude) {
  EXPECT_NEAR(PressureFromAltitude(45, 0), 1013.25 * std::exp(0.00177), 1e-9);
  EXPECT_NEAR(PressureFromAltitude(-45, 0), 1013.25 * std::exp(0.00177), 1e-9);
  // Granada: F = 0.993 + 0.0077 - 0.0016 + (0.008855 - 0.005665 - 0.001284) * 0.68
  const double phi = 37.18, f = (0.993 + 0.00020783 * phi - 1.1589e-6 * phi * phi) +
                                (0.008855 - 0.00015236 * phi - 9.2907e-7 * phi * phi) * 0.68;
  EXPECT_NEAR(PressureFromAltitude(37.18, 680), std::exp(0.00177 - 0.00011963 * 680 - 1.36e-9 * 680 * 680) * f * 1013.25,
              1e-9);
  EXPECT_NEAR(PressureFromAltitude(37.18, 680), 937.0, 2.0);
  // Southern sites use the absolute latitude.
  EXPECT_DOUBLE_EQ(PressureFromAltitude(-37.18, 680), PressureFromAltitude(37.18, 680));
}

TEST(Seasons, SwappedInTheSouth) {
  EXPECT_TRUE(IsSummer(6, 37));
  EXPECT_FALSE(IsSummer(12, 37));
  EXPECT_TRUE(IsSummer(12, -34));
  EXPECT_TRUE(IsSummer(2, -34));
  EXPECT_FALSE(IsSummer(6, -34));
  EXPECT_DOUBLE_EQ(EffectiveTemperature(false, 0), 232.1);
  EXPECT_DOUBLE_EQ(EffectiveTemperature(true, 1500), 218.7 + 0.5 * (217.0 - 218.7));
  // Above 4 km the last two rows extrapolate.
  EXPECT_NEAR(EffectiveTemperature(false, 5000), 224.9 + 2 * (222.4 - 224.9), 1e-12);
}

TEST(Fit, ExactLineAndAngstromLaw) {
  const double x[] = {1, 2, 3, 4};
  const double y[] = {-1, -4, -7, -10};
  FitResult f = Fit(x, y, 4);
  EXPECT_NEAR(f.a, 2, 1e-12);
  EXPECT_NEAR(f.b, -3, 1e-12);
  EXPECT_NEAR(f.sd, 0, 1e-12);
  EXPECT_NEAR(f.r2, 1, 1e-12);
  // tau = 0.1 * (lambda/1000)^-1.4 at 440, 670, 870 nm: beta = exp(a) = 0.1, alpha = -b = 1.4.
  double lx[3], ly[3];
  const double lambda[] = {440, 670, 870};
  for (int i = 0; i < 3; ++i) {
    lx[i] = std::log(lambda[i] / 1000);
    ly[i] = std::log(0.1 * std::pow(lambda[i] / 1000, -1.4));
  }
  f = Fit(lx, ly, 3);
  EXPECT_NEAR(std::exp(f.a), 0.1, 1e-12);
  EXPECT_NEAR(-f.b, 1.4, 1e-12);
  // A flat series has no correlation to report.
  const double flat[] = {5, 5, 5};
  EXPECT_EQ(Fit(lx, flat, 3).r2, 0.0);
}

} // namespace
