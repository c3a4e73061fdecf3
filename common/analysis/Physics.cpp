#include "common/analysis/Physics.h"

#include <cmath>

#include "common/DateTime.h"

namespace Uphysics {
namespace {
constexpr double kDegToRad = 0.0174532925;
constexpr double kPi = 3.14159265358979;
constexpr double kPiDistance = 3.141592653589793;
}  // namespace

int DaysInMonth(int month, int year) {
  switch (month) {
    case 2: return year % 4 == 0 ? 29 : 28;
    case 4:
    case 6:
    case 9:
    case 11: return 30;
    default: return 31;
  }
}

double DayOfYear(const TDateRec& date) {
  double days = 0;
  for (int i = 1; i < date.Month; ++i) days += DaysInMonth(i, date.Year);
  days += date.Day - 1;
  return days + (date.Hour * 3600.0 + date.Minute * 60.0 + date.Second) / 86400.0;
}

double PositiveModulo(double a, double b) { return a - b * std::floor(a / b); }

double DayOffsetInYear(double dateTime, int& daysInYear) {
  int year, month, day;
  DecodeDate(dateTime, year, month, day);
  double first = 0;
  TryEncodeDate(year, 1, 1, first);
  daysInYear = IsLeapYear(year) ? 366 : 365;
  return dateTime - first;
}

double SolarZenithAngle(const TDateRec& date, const TPositionRec& position) {
  const double d = DayOfYear(date) + 1;
  const double hour = (d - std::floor(d)) * 24;
  const double delta = (date.Year - 1900) - 49;
  const double leap = std::floor(delta * 0.25);
  const double jd = delta * 365 + 32916.5 + leap + std::floor(d) + hour / 24;
  const double t = jd - 51545;
  const double l = PositiveModulo(280.46 + 0.9856474 * t, 360);
  const double g = PositiveModulo(357.528 + 0.9856003 * t, 360) * kDegToRad;
  const double lambda = PositiveModulo(l + 1.915 * std::sin(g) + 0.02 * std::sin(2 * g), 360) * kDegToRad;
  const double epsilon = (23.439 - 0.0000004 * t) * kDegToRad;
  const double num = std::cos(epsilon) * std::sin(lambda);
  const double den = std::cos(lambda);
  double ra = std::atan(num / den);
  if (den < 0) ra += kPi;
  else if (num < 0) ra += 2 * kPi;
  const double dec = std::asin(std::sin(epsilon) * std::sin(lambda));
  const double gmst = PositiveModulo(6.697375 + 0.0657098242 * t + hour, 24);
  const double lmst = PositiveModulo(gmst + position.Longitude / 15, 24) * 15 * kDegToRad;
  double ha = lmst - ra;
  if (ha < -kPi) ha += 2 * kPi;
  else if (ha > kPi) ha -= 2 * kPi;
  const double phi = position.Latitude * kDegToRad;
  double el = std::asin(std::sin(dec) * std::sin(phi) + std::cos(dec) * std::cos(phi) * std::cos(ha));
  el = el / kDegToRad;
  double r = 0;
  if (el >= 19.225) r = 0.0159023996 / std::tan(el * kDegToRad);
  else if (el > -0.766) r = 3.51823 * (0.1594 + 0.0196 * el + 0.00002 * el * el) / (1 + 0.505 * el + 0.0845 * el * el);
  return 90 - (el + r);
}

double AirMass(double zenithAngle) {
  if (zenithAngle >= 85) return 0;
  return 1 / (std::cos(zenithAngle * kPi / 180) + 0.15 * std::pow(93.885 - zenithAngle, -1.253));
}

double EarthSunDistanceFactor(double dateTime) {
  int daysInYear = 365;
  const double n = DayOffsetInYear(dateTime, daysInYear);
  const double gamma = (n + 1) * 2 * kPiDistance / daysInYear;
  return 1.00011 + 0.034221 * std::cos(gamma) + 0.00128 * std::sin(gamma) + 0.000719 * std::cos(2 * gamma) +
         0.000077 * std::sin(2 * gamma);
}

TDateRec DateRecOf(double dateTime) {
  TDateRec r;
  int ms = 0;
  DecodeDateTime(dateTime, r.Year, r.Month, r.Day, r.Hour, r.Minute, r.Second, ms);
  return r;
}

}  // namespace Uphysics

namespace Umathematic {

int LeastSquaresLine(const double* x, const double* y, int n, double& slope, double& intercept) {
  if (n <= 0) return 1;
  double sx = 0, sy = 0;
  for (int i = 0; i < n; ++i) {
    sx += x[i];
    sy += y[i];
  }
  const double mean = sx / n;
  double num = 0, den = 0;
  for (int i = 0; i < n; ++i) {
    num += (x[i] - mean) * y[i];
    den += (x[i] - mean) * (x[i] - mean);
  }
  if (den == 0) return 1;
  slope = num / den;
  intercept = (sy - sx * slope) / n;
  return 0;
}

double CorrelationR2(const double* a, const double* b, int n) {
  if (n <= 0) return 0;
  double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
  for (int i = 0; i < n; ++i) {
    sa += a[i];
    sb += b[i];
    saa += a[i] * a[i];
    sbb += b[i] * b[i];
    sab += a[i] * b[i];
  }
  const double spread = (n * saa - sa * sa) * (n * sbb - sb * sb);
  if (spread <= 0) return 0;
  const double r = (n * sab - sa * sb) / std::sqrt(spread);
  return r * r;
}

}  // namespace Umathematic
