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
// The site (the sun photometers' or the radiometer's) brought to the station parameters: another site
// number first reads that site's settings, then every value the parameters hold replaces the site's; an
// altitude is taken from `lowestAltitude` up.
template <class Site>
void ApplySiteParams(Site& site, const TParamsList& params, double lowestAltitude) {
  const TSitePosition position = ReadSitePosition(params);
  const TSiteIds ids = ReadSiteIds(params);
  if (ids.SiteNumber != site.SiteNumber) site.ReadFromRegistry(ids.SiteNumber);
  if (ids.SiteNumber >= 0) site.SiteNumber = ids.SiteNumber;
  if (ids.CountryId >= 0) site.CountryId = ids.CountryId;
  if (ids.DistrictId >= 0) site.DistrictId = ids.DistrictId;
  if (position.HasLatitude) site.Lat = position.Latitude;
  if (position.HasLongitude) site.Lon = position.Longitude;
  if (position.Altitude >= lowestAltitude) site.Alt = position.Altitude;
}
// Rounds to the given number of decimals, half away from zero.
double RoundToDecimals(double value, int decimals);
