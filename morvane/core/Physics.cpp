#include "morvane/core/Physics.h"

#include <cmath>

namespace morvane {

namespace {
constexpr double kTwoPi = 6.283185307179586;
constexpr double kRad = 0.017453292519943295;
} // namespace

DayCount DayNumber(int year, int month, int day, int hour, int minute, double second) {
  DayCount d;
  d.hours = hour + (minute + second / 60.0) / 60.0;
  // Integer divisions truncate toward zero, as the day-number formula needs.
  const long y = year, m = month;
  const long a = (m - 14) / 12;
  const long jdn = 1461 * (y + 4800 + a) / 4 + 367 * (m - 2 - 12 * a) / 12 - 3 * ((y + 4900 + a) / 100) / 4 + day - 32075;
  const double jd = static_cast<double>(jdn) - 0.5 + d.hours / 24.0;
  d.n = jd - 2451544.5;
  return d;
}

SunPosition SunPsa(double hours, double latitude, double longitude, double e) {
  const double omega = 2.1429 - 0.0010394594 * e;
  const double meanLongitude = 4.895063 + 0.017202791698 * e;
  const double g = 6.24006 + 0.0172019699 * e;
  const double eclipticLongitude = meanLongitude + 0.03341607 * std::sin(g) + 0.00034894 * std::sin(2 * g) - 0.0001134 -
                                   2.03e-05 * std::sin(omega);
  const double obliquity = 0.4090928 - 6.214e-09 * e + 3.96e-05 * std::cos(omega);
  const double sinLambda = std::sin(eclipticLongitude);
  double ra = std::atan2(std::cos(obliquity) * sinLambda, std::cos(eclipticLongitude));
  if (ra < 0)
    ra += kTwoPi;
  const double declination = std::asin(std::sin(obliquity) * sinLambda);
  const double gmst = 6.6974243242 + 0.0657098283 * e + hours;
  const double lmst = (gmst * 15 + longitude) * kRad;
  const double hourAngle = lmst - ra;
  const double phi = latitude * kRad;
  double zenith = std::acos(std::cos(phi) * std::cos(hourAngle) * std::cos(declination) +
                            std::sin(declination) * std::sin(phi));
  zenith = (zenith + (6371.01 / 149597890.0) * std::sin(zenith)) / kRad;
  SunPosition s;
  s.elevation = 90.0 - zenith;
  s.distance = 1.00014 - 0.01671 * std::cos(g) - 0.00014 * std::cos(2 * g);
  return s;
}

AirMasses ComputeAirMasses(double h) {
  const double z = 90.0 - h;
  const double sinH = std::sin(h / 57.29577951308232);
  AirMasses m;
  m.rayleigh = 1.0 / (sinH + 0.48353 * std::pow(z, 0.095846) * std::pow(h + 6.741, -1.754));
  m.no2 = 1.0 / (sinH + 1.1212 * std::pow(z, 1.6132) * std::pow(h + 21.55, -3.2629));
  m.ozone = 1.0 / (sinH + 1.0651 * std::pow(z, 0.6379) * std::pow(h + 11.8, -2.2694));
  m.water = 1.0 / (sinH + 0.10649 * std::pow(z, 0.11423) * std::pow(h + 3.781, -1.9203));
  return m;
}

double EffectiveTemperature(bool summer, double altitude) {
  static const double kTable[5][2] = {
      {232.1, 220.6}, {229.7, 218.7}, {227.3, 217.0}, {224.9, 215.4}, {222.4, 213.9}};
  const int s = summer ? 1 : 0;
  int k = static_cast<int>(altitude / 1000.0);
  if (k > 3)
    k = 3;
  if (k < 0)
    k = 0;
  return kTable[k][s] + (altitude / 1000.0 - k) * (kTable[k + 1][s] - kTable[k][s]);
}

double PressureFromAltitude(double latitude, double altitude) {
  const double phi = std::fabs(latitude);
  double f = 1.0;
  if (phi != 45.0)
    f = (0.993 + 0.00020783 * phi - 1.1589e-6 * phi * phi) +
        (0.008855 - 0.00015236 * phi - 9.2907e-7 * phi * phi) * altitude * 0.001;
  return std::exp(0.00177 - 0.00011963 * altitude - 1.36e-9 * altitude * altitude) * f * 1013.25;
}

bool IsSummer(int month, double latitude) {
  if (latitude < 0)
    return month >= 11 || month <= 2;
  return month >= 5 && month <= 8;
}

double RayleighQ(double l) {
  const double l2 = l * l;
  return 1.173405e-10 * l2 * l2 - 1.5107e-6 * l2 + 0.017535 - 877.43 / l2;
}

FitResult Fit(const double *x, const double *y, int n) {
  double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
  for (int i = 0; i < n; ++i) {
    sx += x[i];
    sy += y[i];
    sxx += x[i] * x[i];
    syy += y[i] * y[i];
    sxy += x[i] * y[i];
  }
  const double mean = sx / n;
  double num = 0, den = 0;
  for (int i = 0; i < n; ++i) {
    num += (x[i] - mean) * y[i];
    den += (x[i] - mean) * (x[i] - mean);
  }
  FitResult f;
  f.b = num / den;
  f.a = (sy - sx * f.b) / n;
  double ss = 0;
  for (int i = 0; i < n; ++i) {
    const double r = y[i] - f.a - f.b * x[i];
    ss += r * r;
  }
  f.sd = std::sqrt(ss / (n - 1));
  const double d = (n * sxx - sx * sx) * (n * syy - sy * sy);
  const double c = n * sxy - sx * sy;
  f.r2 = d == 0 ? 0.0 : c * c / d;
  return f;
}

} // namespace morvane
