#pragma once
// Site position and ids read from the station parameters that the host decodes from a data file.
class TParamsList;

struct TSitePosition {
  double Latitude = 0, Longitude = 0, Altitude = -999;
  bool HasLatitude = false, HasLongitude = false;
};

struct TSiteIds {
  int SiteNumber = -1, CountryId = -1, DistrictId = -1;
};

// Latitude = NLAT / 60; longitude from NHEU, NMIN and NSEC (hours, minutes and seconds of time; a
// negative NHEU is a western longitude stored as -(hours + 1) with the minutes and seconds
// complemented), both rounded to 5 decimals; the altitude is never given (-999).
TSitePosition ReadSitePosition(const TParamsList& params);
// NNUM; NCOU else NDEP; NDIS else NCOM; -1 for an id the parameters do not hold.
TSiteIds ReadSiteIds(const TParamsList& params);
// Rounds to the given number of decimals, half away from zero.
double RoundToDecimals(double value, int decimals);
