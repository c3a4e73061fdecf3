#include "common/analysis/ZeltUtils.h"

#include <cmath>

#include "common/StaParametre.h"

namespace {
const TStaParametre* FindStaParam(const TParamsList& params, const char* code) { return params.FindByNameID(code); }
}  // namespace

double RoundToDecimals(double value, int decimals) {
  const double scale = std::pow(10.0, decimals);
  return std::round(value * scale) / scale;
}

TSitePosition ReadSitePosition(const TParamsList& params) {
  TSitePosition position;
  if (const TStaParametre* lat = FindStaParam(params, "NLAT")) {
    position.Latitude = RoundToDecimals(lat->Value / 60, 5);
    position.HasLatitude = true;
  }
  double r = 0;
  int found = 0;
  if (const TStaParametre* sec = FindStaParam(params, "NSEC")) {
    r = (sec->Value + r) / 60;
    ++found;
  }
  if (const TStaParametre* min = FindStaParam(params, "NMIN")) {
    r = (min->Value + r) / 60;
    ++found;
  }
  if (const TStaParametre* hours = FindStaParam(params, "NHEU")) {
    if (hours->Value < 0) r = 1 - r;
    r = (hours->Value + r) / 24;
    ++found;
  }
  if (found == 3) {
    position.Longitude = RoundToDecimals(r * 360, 5);
    position.HasLongitude = true;
  }
  return position;
}

TSiteIds ReadSiteIds(const TParamsList& params) {
  auto id = [&params](const char* code, const char* other) {
    const TStaParametre* p = FindStaParam(params, code);
    if (!p && other) p = FindStaParam(params, other);
    return p ? static_cast<int>(std::trunc(p->Value)) : -1;
  };
  TSiteIds ids;
  ids.SiteNumber = id("NNUM", nullptr);
  ids.CountryId = id("NCOU", "NDEP");
  ids.DistrictId = id("NDIS", "NCOM");
  return ids;
}
