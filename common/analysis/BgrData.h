#pragma once
// The analysis data set of the plug-ins: the instrument's sun filters, one series of digital counts per
// filter, and the measurement site with its two stores (the plug-in's settings key and "infos.ini").
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/analysis/ValueMap.h"

class TFilterDef;
class TCNSerie;

class TFilter {
 public:
  explicit TFilter(const TFilterDef* filterDef, uint32_t color = 0);
  std::string GetName() const;  // the wavelength text of the filter definition
  int32_t Number() const;

  const TFilterDef* FilterDef = nullptr;  // not owned
  uint32_t Color = 0;                     // 0x00BBGGRR
  uint8_t Visible = 1;
};

// One point of a series.
struct TCN {
  TCNSerie* Serie = nullptr;
  double CN = 0;           // count, the 1020 nm sun channel already temperature-corrected
  double Temperature = 0;  // instrument temperature of the sequence, degrees C
  double Time = 0;         // working date-time (shifted for triplets by the window)
  double OriginalTime = 0;
  uint8_t Enabled = 1;
  uint8_t TimeShifted = 0;

  // Air mass at Time over the global data set's site; false at 85 degrees of zenith angle or more.
  bool GetAirMass(double& airMass) const;
  // The count divided by the Earth-Sun distance factor of Time.
  double GetCorrectedCN() const;
};

class TCNSerie {
 public:
  explicit TCNSerie(int32_t filterNumber) : FilterNumber(filterNumber) {}
  int Count() const { return static_cast<int>(Points.size()); }
  TCN* Add(double cn, double temperature, double time);
  void Delete(int index);

  // Langley fit of ln(count / distance factor) against air mass over the enabled usable points.
  bool ComputeLangley(double& slope, double& intercept, double& r2);
  double GetCN0() const;
  double LineValue(double x) const { return Slope * x + Intercept; }

  std::vector<std::unique_ptr<TCN>> Points;
  double Slope = 0, Intercept = 0;
  double MeanTemperature = 0;
  double MeanDate = 0;
  int32_t FilterNumber = 0;
  double CN0 = 0;
  double R2 = 0;
};

class TSite {
 public:
  TSite();  // empty name, then ReadFromRegistry(-1)

  // number < 0: every value of the plug-in key; else "Site <number>" at 0, 0 with the key's altitude.
  void ReadFromRegistry(int number);
  // The section of "infos.ini": country, district and site number joined ("0012").
  std::string InfosSection() const;
  // Name and position from the site's section where present; always true.
  bool ReadFromInfos();
  // Creates the calibration folder and writes number, name and position; false when it cannot.
  bool WriteToInfos();

  std::string Name;
  double Lat = 0, Lon = 0, Alt = 0;
  int32_t CountryId = 0;
  int32_t DistrictId = 0;
  int32_t SiteNumber = 0;
};

// The solar geometry of the times of a data set, each time worked out once: the series share their
// times (every filter is read in the same sequence) and each view and each fit reads them again.
class TSolarMemo {
 public:
  double DistanceFactor(double time);
  // The air mass at time over the site at (latitude, longitude); the memo of another position is
  // dropped.
  double AirMass(double time, double latitude, double longitude, double altitude);

 private:
  static constexpr size_t kMostTimes = size_t(1) << 20;  // beyond, started again
  TValueMap distanceFactors_, airMasses_;
  double latitude_ = 0, longitude_ = 0, altitude_ = 0;
};

class TBgrData {
 public:
  TBgrData();
  ~TBgrData();
  TBgrData(const TBgrData&) = delete;
  TBgrData& operator=(const TBgrData&) = delete;

  TFilter* FindFilter(int32_t filterNumber) const;
  // The series of a filter, created (and the list sorted again) when the instrument has the filter;
  // null when it has not.
  TCNSerie* GetSerie(int32_t filterNumber);
  int GetNbTotalCN() const;
  void SortSeries();

  std::vector<std::unique_ptr<TFilter>> FilterList;  // canonical order
  std::vector<std::unique_ptr<TCNSerie>> SerieList;  // sorted by CompareSeries
  std::unique_ptr<TSite> Site;
  uint8_t Computed = 0;
  TSolarMemo SolarMemo;
};

// The data set of the running plug-in (one per run); the points and the sort reach it here.
extern TBgrData* gBgrData;

// Longest wavelength first (less than 1 nm apart counts as equal), then unpolarised before polarised,
// then ascending polarisation channel; 0 when a filter is unknown.
int CompareSeries(const TCNSerie& a, const TCNSerie& b);

// The plug-in's settings key and the folder of its calibration files and site file.
extern const char kTessalyRegistryKey[];
std::string CalibrationFolder();              // the per-user data folder's "Calibration/", ending in '/'
std::string InfosFileName();                  // CalibrationFolder() + "infos.ini"
// Where an older copy beside the data files may be: the data file's folder + "../Calibration/".
void SetLegacyDataFolder(const std::string& dataFileName);
std::string LegacyCalibrationFolder();

// Reals of grids and files: sign, digits, one decimal mark ('.' or ','), exponent. Nothing else.
bool TryReadReal(const std::string& text, double& value);
// Text of a real with '.' as the decimal mark, shortest exact form ("1.5e-05" style is avoided).
std::string RealTextDot(double value);
