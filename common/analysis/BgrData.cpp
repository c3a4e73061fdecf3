#include "common/analysis/BgrData.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "common/DataPaths.h"
#include "common/FileUtils.h"
#include "common/IniFile.h"
#include "common/Instrument.h"
#include "common/SettingsStore.h"
#include "common/analysis/Physics.h"

TBgrData* gBgrData = nullptr;
const char kTessalyRegistryKey[] = "SOFTWARE\\DORAX Quenlith\\ZELT Win\\Tessaly";

namespace {
std::string gLegacyDataFolder;
}  // namespace

// ---- filters and points

TFilter::TFilter(const TFilterDef* filterDef, uint32_t color) : FilterDef(filterDef), Color(color) {}

std::string TFilter::GetName() const { return FilterDef ? FilterDef->GetWavelengthText() : std::string(); }

int32_t TFilter::Number() const { return FilterDef ? FilterDef->Number : 0; }

bool TCN::GetAirMass(double& airMass) const {
  if (gBgrData && gBgrData->Site) {
    const TSite& site = *gBgrData->Site;
    airMass = gBgrData->SolarMemo.AirMass(Time, site.Lat, site.Lon, site.Alt);
  } else {
    airMass = Uphysics::AirMass(Uphysics::SolarZenithAngle(Uphysics::DateRecOf(Time), Uphysics::TPositionRec()));
  }
  return airMass != 0;
}

double TCN::GetCorrectedCN() const {
  return CN / (gBgrData ? gBgrData->SolarMemo.DistanceFactor(Time) : Uphysics::EarthSunDistanceFactor(Time));
}

double TSolarMemo::DistanceFactor(double time) {
  if (const double* known = distanceFactors_.Find(time)) return *known;
  const double factor = Uphysics::EarthSunDistanceFactor(time);
  if (distanceFactors_.Size() >= kMostTimes) distanceFactors_.Clear();
  distanceFactors_.Insert(time, factor);
  return factor;
}

double TSolarMemo::AirMass(double time, double latitude, double longitude, double altitude) {
  // A position that is not a number equals none: nothing is kept for it.
  if (!(latitude == latitude_ && longitude == longitude_ && altitude == altitude_)) {
    airMasses_.Clear();
    latitude_ = latitude;
    longitude_ = longitude;
    altitude_ = altitude;
  } else if (const double* known = airMasses_.Find(time)) {
    return *known;
  }
  Uphysics::TPositionRec position;
  position.Latitude = latitude;
  position.Longitude = longitude;
  position.Altitude = altitude;
  const double airMass = Uphysics::AirMass(Uphysics::SolarZenithAngle(Uphysics::DateRecOf(time), position));
  if (airMasses_.Size() >= kMostTimes) airMasses_.Clear();
  airMasses_.Insert(time, airMass);
  return airMass;
}

// ---- series

TCN* TCNSerie::Add(double cn, double temperature, double time) {
  auto point = std::make_unique<TCN>();
  point->Serie = this;
  point->CN = cn;
  point->Temperature = temperature;
  point->Time = time;
  point->OriginalTime = time;
  Points.push_back(std::move(point));
  return Points.back().get();
}

void TCNSerie::Delete(int index) { Points.erase(Points.begin() + index); }

bool TCNSerie::ComputeLangley(double& slope, double& intercept, double& r2) {
  slope = intercept = r2 = 0;
  if (Count() < 2) return false;
  std::vector<double> x, y;
  for (const auto& p : Points) {
    double m = 0;
    if (!(p->CN > 0) || !p->Enabled || !p->GetAirMass(m)) continue;
    x.push_back(m);
    y.push_back(std::log(p->GetCorrectedCN()));
  }
  if (x.size() < 2) return false;
  const int n = static_cast<int>(x.size());
  if (Umathematic::LeastSquaresLine(x.data(), y.data(), n, slope, intercept) != 0) return false;
  Slope = slope;
  Intercept = intercept;
  std::vector<double> fitted(x.size());
  for (size_t i = 0; i < x.size(); ++i) fitted[i] = intercept + slope * x[i];
  r2 = Umathematic::CorrelationR2(fitted.data(), y.data(), n);
  R2 = r2;
  double temperatures = 0, times = 0;
  for (const auto& p : Points) {
    temperatures += p->Temperature;
    times += p->Time;
  }
  MeanTemperature = temperatures / Count();
  MeanDate = std::trunc(times / Count());
  return true;
}

double TCNSerie::GetCN0() const { return std::exp(Intercept); }

// ---- data set

TBgrData::TBgrData() : Site(std::make_unique<TSite>()) {}

TBgrData::~TBgrData() {
  if (gBgrData == this) gBgrData = nullptr;
}

TFilter* TBgrData::FindFilter(int32_t filterNumber) const {
  for (const auto& f : FilterList)
    if (f->FilterDef && f->FilterDef->Number == filterNumber) return f.get();
  return nullptr;
}

TCNSerie* TBgrData::GetSerie(int32_t filterNumber) {
  for (const auto& s : SerieList)
    if (s->FilterNumber == filterNumber) return s.get();
  if (!FindFilter(filterNumber)) return nullptr;
  SerieList.push_back(std::make_unique<TCNSerie>(filterNumber));
  TCNSerie* serie = SerieList.back().get();
  SortSeries();
  return serie;
}

int TBgrData::GetNbTotalCN() const {
  int n = 0;
  for (const auto& s : SerieList) n += s->Count();
  return n;
}

void TBgrData::SortSeries() {
  std::stable_sort(SerieList.begin(), SerieList.end(),
                   [](const auto& a, const auto& b) { return CompareSeries(*a, *b) < 0; });
}

int CompareSeries(const TCNSerie& a, const TCNSerie& b) {
  const TFilter* fa = gBgrData ? gBgrData->FindFilter(a.FilterNumber) : nullptr;
  const TFilter* fb = gBgrData ? gBgrData->FindFilter(b.FilterNumber) : nullptr;
  if (!fa || !fb || !fa->FilterDef || !fb->FilterDef) return 0;
  const int d = static_cast<int>(std::trunc(fb->FilterDef->Wavelength - fa->FilterDef->Wavelength));
  if (d != 0) return d;
  const bool pa = fa->FilterDef->Polarised != 0, pb = fb->FilterDef->Polarised != 0;
  if (!pa && !pb) return 0;
  if (pb && !pa) return -1;
  if (pa && !pb) return 1;
  return fa->FilterDef->PolarChannel - fb->FilterDef->PolarChannel;
}

// ---- site and its stores

TSite::TSite() { ReadFromRegistry(-1); }

void TSite::ReadFromRegistry(int number) {
  TRegistryIniFile key(kTessalyRegistryKey);
  auto real = [&key](const char* name) {
    double v = 0;
    return TryReadReal(key.ReadString("", name, "0"), v) ? v : 0.0;
  };
  Alt = real("SiteAlt");
  CountryId = DistrictId = 0;
  if (number < 0) {
    Name = key.ReadString("", "SiteName", "No Name");
    Lat = real("SiteLat");
    Lon = real("SiteLon");
    SiteNumber = key.ReadInteger("", "SiteNumber", 0);
  } else {
    Name = "Site " + std::to_string(number);
    Lat = Lon = 0;
    SiteNumber = number;
  }
}

std::string TSite::InfosSection() const {
  return std::to_string(CountryId) + std::to_string(DistrictId) + std::to_string(SiteNumber);
}

bool TSite::ReadFromInfos() {
  std::string path = InfosFileName();
  if (!FileExists(path) && !LegacyCalibrationFolder().empty() && FileExists(LegacyCalibrationFolder() + "infos.ini"))
    path = LegacyCalibrationFolder() + "infos.ini";
  TIniFile ini{BytesToPath(path)};
  const std::string section = InfosSection();
  auto real = [&](const char* name, double current) {
    double v = current;
    std::string text;
    if (ini.TryReadString(section, name, text) && TryReadReal(text, v)) return v;
    return current;
  };
  Alt = real("SiteAlt", Alt);
  Name = ini.ReadString(section, "SiteName", Name);
  Lat = real("SiteLat", Lat);
  Lon = real("SiteLon", Lon);
  return true;
}

bool TSite::WriteToInfos() {
  if (!ForceDirectories(BytesToPath(CalibrationFolder()))) return false;
  TIniFile ini{BytesToPath(InfosFileName())};
  const std::string section = InfosSection();
  // Morvane's caller copies these into its parameter file: always '.' as the decimal mark.
  ini.WriteString(section, "SiteNumber", std::to_string(SiteNumber));
  ini.WriteString(section, "SiteName", Name);
  ini.WriteString(section, "SiteLat", RealTextDot(Lat));
  ini.WriteString(section, "SiteLon", RealTextDot(Lon));
  ini.WriteString(section, "SiteAlt", RealTextDot(Alt));
  return ini.UpdateFile();
}

std::string CalibrationFolder() { return IncludeTrailingSlash(PathToBytes(UserDataDir(false) / "Calibration")); }

std::string InfosFileName() { return CalibrationFolder() + "infos.ini"; }

void SetLegacyDataFolder(const std::string& dataFileName) { gLegacyDataFolder = ExtractFileDir(dataFileName); }

std::string LegacyCalibrationFolder() {
  return gLegacyDataFolder.empty() ? std::string() : IncludeTrailingSlash(gLegacyDataFolder) + "../Calibration/";
}

// ---- numbers

bool TryReadReal(const std::string& text, double& value) {
  size_t b = 0, e = text.size();
  while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
  while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t' || text[e - 1] == '\r' || text[e - 1] == '\n')) --e;
  std::string s = text.substr(b, e - b);
  int marks = 0;
  for (char& c : s) {
    if (c == ',' || c == '.') {
      c = '.';
      ++marks;
    } else if (!((c >= '0' && c <= '9') || c == '+' || c == '-' || c == 'e' || c == 'E')) {
      return false;
    }
  }
  if (s.empty() || marks > 1) return false;
  const char* first = s.c_str();
  if (*first == '+') ++first;
  double v = 0;
  const auto res = std::from_chars(first, s.c_str() + s.size(), v);
  if (res.ec != std::errc() || res.ptr != s.c_str() + s.size() || !std::isfinite(v)) return false;
  value = v;
  return true;
}

std::string RealTextDot(double value) {
  char buffer[64];
  for (int precision = 1; precision <= 17; ++precision) {
    std::snprintf(buffer, sizeof buffer, "%.*g", precision, value);
    double back = 0;
    std::from_chars(buffer, buffer + std::char_traits<char>::length(buffer), back);
    if (back == value) break;
  }
  return buffer;
}
