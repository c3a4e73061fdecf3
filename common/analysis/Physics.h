#pragma once
// Solar geometry, air mass and Earth-Sun distance of the Langley calibration (Uphysics), and the
// straight-line least squares with its squared correlation (Umathematic). Pure functions in doubles;
// angles in degrees.
#include <cstdint>

namespace Uphysics {

// Universal time as the instrument stores it.
struct TDateRec {
  int32_t Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
};

// Longitude east positive, latitude north positive (decimal degrees), altitude in metres (not used by
// the solar position).
struct TPositionRec {
  double Longitude = 0, Latitude = 0, Altitude = 0;
};

// February has 29 days in every year divisible by 4 (no century rule).
int DaysInMonth(int month, int year);
// Zero-based day of the year with the fraction of the day.
double DayOfYear(const TDateRec& date);
double PositiveModulo(double a, double b);
// Days since 1 January 0:00 of the date-time's year, and the number of days of that year.
double DayOffsetInYear(double dateTime, int& daysInYear);
// Zenith angle in degrees, refraction included.
double SolarZenithAngle(const TDateRec& date, const TPositionRec& position);
// Relative optical air mass; 0 at 85 degrees and beyond.
double AirMass(double zenithAngle);
// (mean distance / actual distance)^2, by which a count is divided.
double EarthSunDistanceFactor(double dateTime);
// The date record of a date-time value.
TDateRec DateRecOf(double dateTime);

}  // namespace Uphysics

namespace Umathematic {

// 0 on success; 1 when n <= 0 or every x is equal (outputs then untouched).
int LeastSquaresLine(const double* x, const double* y, int n, double& slope, double& intercept);
// Squared linear correlation coefficient; 0 when n <= 0 or a spread is 0.
double CorrelationR2(const double* a, const double* b, int n);

}  // namespace Umathematic
