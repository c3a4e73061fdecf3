#pragma once
// Solar position, day count, air masses, pressure and the straight-line fit of the optical-depth program.

namespace morvane {

struct DayCount {
  double n = 0;     // days since 2000-01-01 0 h UT, with fraction
  double hours = 0; // UT hour of the day, with fraction
};

// Day count of a UT date and time (Fliegel-Van Flandern day number).
DayCount DayNumber(int year, int month, int day, int hour, int minute, double second);

struct SunPosition {
  double elevation = 0; // degrees, parallax corrected
  double distance = 0;  // Earth-Sun distance, AU
};

// Solar position by the PSA algorithm; e = days since 2000-01-01 12 h UT.
SunPosition SunPsa(double hours, double latitude, double longitude, double e);

struct AirMasses {
  double rayleigh = 0, no2 = 0, ozone = 0, water = 0;
};
AirMasses ComputeAirMasses(double elevation);

// Effective ozone and NO2 temperature (K) by season and altitude (m).
double EffectiveTemperature(bool summer, double altitude);

// Station pressure (hPa) from altitude; southern sites use the absolute latitude.
double PressureFromAltitude(double latitude, double altitude);

// Summer is May to August in the north and November to February in the south.
bool IsSummer(int month, double latitude);

// Rayleigh denominator Q(lambda), lambda in nm: tau_R = p / Q.
double RayleighQ(double lambdaNm);

struct FitResult {
  double a = 0, b = 0, sd = 0, r2 = 0;
};
// Least-squares line y = a + b x over n points (n >= 2).
FitResult Fit(const double *x, const double *y, int n);

} // namespace morvane
