#pragma once
// Test helpers: a temporary working folder, synthetic tables and data written by the tests themselves.

#include <string>
#include <vector>

namespace morvane::test {

class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
  std::string path_;
};

// Makes dir the working folder for the life of the object.
class ChangeDir {
public:
  explicit ChangeDir(const std::string &dir);
  ~ChangeDir();

private:
  std::string old_;
};

// The installed data folder and the program folder: the environment's, else the build tree's.
std::string DataDir();
std::string BinDir();

void WriteFile(const std::string &path, const std::string &content);
std::string ReadFile(const std::string &path);
std::vector<std::string> ReadLines(const std::string &path);

// Synthetic tables in dir: a flat solar spectrum, no ozone or NO2 absorption, the band-model "tw.dat",
// and "instruments.dat" with
//   code 7: 1020 870 670 440 nm, no vapour channel;
//   code 8: 1020 870 670 440 936 nm, vapour channel 5 with references 870 and 1020.
void WriteSyntheticTables(const std::string &dir);
// The band-model water table: T = exp(-0.5 (m W)^0.6 p^0.3).
std::string BandModelTable();
double BandModelTransmittance(double m, double w, double p);

struct Measurement {
  int year, month, day, hour, minute, second;
  double temperature = 25;
};

// Counts giving aerosol optical depth tau(lambda) = beta * (lambda/1000)^-alpha with no gas absorption
// (pressure 0) for calibration constant v0 at every wavelength; triplet readings scaled by the factors.
std::string SunLine(const Measurement &m, const std::vector<double> &lambdas, double alpha, double beta, double v0,
                    double latitude, double longitude, int triplets, const double *factors = nullptr,
                    const std::vector<double> &extraTau = {});

// A parameter file; data files one per line at the end.
std::string ParameterFile(int code, const std::string &calibration, const std::string &output, int cloud,
                          double lat, double lon, double alt, const std::string &no2Lines,
                          const std::string &ozoneLines, const std::vector<std::vector<int>> &combinations,
                          double pressure, const std::vector<std::string> &dataFiles);

} // namespace morvane::test
