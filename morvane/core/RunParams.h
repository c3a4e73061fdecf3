#pragma once
// Parameters of one optical-depth run, from the dialog or from the parameter file "inputpar.dat".

#include <array>
#include <string>
#include <vector>

namespace morvane {

constexpr int kMaxDataFiles = 31;
constexpr int kMaxCombinations = 10;
// The site's possible range; the computation's tables stop well within these altitudes.
constexpr float kMaxLatitude = 90, kMaxLongitude = 180, kMinAltitude = -500, kMaxAltitude = 9000;

struct RunParams {
  int instrumentCode = 1;
  std::string calibrationFile;
  std::string outputFile;
  bool cloudScreening = true;
  float latitude = 0, longitude = 0, altitude = 0; // degrees (east positive), metres
  int no2Mode = 0;                                 // 0 value, -1 file, -2 mid-latitude values
  float no2 = 0;                                   // atm-cm
  std::string no2File;
  int ozoneMode = 0; // 0 value, -1 file
  float ozone = 300; // Dobson units
  std::string ozoneFile;
  float pressure = -1; // hPa; -1 = from altitude
  std::array<bool, 10> useWavelength{};
  std::vector<std::vector<int>> combinations; // 1-based wavelength positions
  std::vector<std::string> dataFiles;
};

// The site's latitude (-90..90), longitude (-180..180) and altitude (-500..9000 m): the name of the
// first one out of its range ("la latitud", "la longitud", "la altura"), or null when all lie within.
const char *SiteOutOfRange(const RunParams &params);

// Reads "inputpar.dat". False, with the reason in why, when the file cannot be read or is incomplete
// or a combination is malformed; params then hold what was read so far.
bool ReadParameterFile(const std::string &path, RunParams &params, std::string &why);

} // namespace morvane
