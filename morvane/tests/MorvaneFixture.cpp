#include "MorvaneFixture.h"

#include "morvane/core/Physics.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace morvane::test {

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "morvane-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data()))
    throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

ChangeDir::ChangeDir(const std::string &dir) {
  old_ = std::filesystem::current_path().string();
  std::filesystem::current_path(dir);
}

ChangeDir::~ChangeDir() {
  std::error_code ec;
  std::filesystem::current_path(old_, ec);
}

std::string DataDir() {
  const char *dir = std::getenv("ZELT_DATA_DIR");
  return dir && *dir ? dir : MORVANE_TEST_DATA_DIR;
}

std::string BinDir() {
  const char *dir = std::getenv("ZELT_BIN_DIR");
  return dir && *dir ? dir : MORVANE_TEST_BIN_DIR;
}

void WriteFile(const std::string &path, const std::string &content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::string> ReadLines(const std::string &path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line))
    lines.push_back(line);
  return lines;
}

double BandModelTransmittance(double m, double w, double p) {
  return std::exp(-0.5 * std::pow(m * w, 0.6) * std::pow(p, 0.3));
}

std::string BandModelTable() {
  std::string out;
  const int16_t count = 10000;
  out.append(reinterpret_cast<const char *>(&count), 2);
  for (int a = 0; a < 25; ++a)
    for (int b = 0; b < 20; ++b)
      for (int c = 0; c < 20; ++c) {
        const float row[4] = {static_cast<float>(1.0 + 0.25 * a), static_cast<float>(0.5 + 0.03 * b),
                              static_cast<float>(0.4 * c),
                              static_cast<float>(BandModelTransmittance(1.0 + 0.25 * a, 0.4 * c, 0.5 + 0.03 * b))};
        out.append(reinterpret_cast<const char *>(row), 16);
      }
  return out;
}

void WriteSyntheticTables(const std::string &dir) {
  std::string spectrum = "Tabla: flat test spectrum\n";
  std::string ozone = "Tabla: no ozone\n";
  std::string no2 = "Tabla: no NO2\n";
  for (int nm = 250; nm <= 1750; ++nm) {
    spectrum += std::to_string(nm) + " 1.5\n";
    ozone += std::to_string(nm) + " 0 0 0\n";
    no2 += std::to_string(nm) + " 0 0\n";
  }
  WriteFile(dir + "/espectro.dat", spectrum);
  WriteFile(dir + "/ozono.dat", ozone);
  WriteFile(dir + "/no2.dat", no2);
  WriteFile(dir + "/tw.dat", BandModelTable());
  WriteFile(dir + "/instruments.dat", "test instruments\n"
                                      "four channels\nno vapour\n7\n4\n1020 870 670 440\n10 10 10 10\n0\n0\n"
                                      "five channels\nwith vapour\n8\n5\n1020 870,670 440\n936\n10 10 10 10 10\n5\n"
                                      "2 2 1\n0\n");
}

std::string SunLine(const Measurement &m, const std::vector<double> &lambdas, double alpha, double beta, double v0,
                    double latitude, double longitude, int triplets, const double *factors,
                    const std::vector<double> &extraTau) {
  const DayCount dc = DayNumber(m.year, m.month, m.day, m.hour, m.minute, m.second);
  const SunPosition sun = SunPsa(dc.hours, static_cast<float>(latitude), static_cast<float>(longitude), dc.n - 0.5);
  // Below the horizon any count will do: the program skips such records.
  const double mass = sun.elevation > 0 ? ComputeAirMasses(sun.elevation).rayleigh : 40.0;
  const double r2 = sun.distance * sun.distance;
  char buf[128];
  std::snprintf(buf, sizeof buf, "%d %d %d %d %d %d", m.day, m.month, m.year, m.hour, m.minute, m.second);
  std::string line = buf;
  for (int j = 0; j < triplets; ++j)
    for (size_t w = 0; w < lambdas.size(); ++w) {
      double tau = beta * std::pow(lambdas[w] / 1000, -alpha);
      if (w < extraTau.size())
        tau += extraTau[w];
      double count = v0 * std::exp(-tau * mass) / r2;
      if (factors)
        count *= factors[j];
      // The first channel is read back with its temperature correction.
      if (w == 0)
        count /= 1 - (m.temperature - 25) * 0.0025;
      std::snprintf(buf, sizeof buf, " %.0f", count);
      line += buf;
    }
  std::snprintf(buf, sizeof buf, " %.2f\n", m.temperature);
  return line + buf;
}

std::string ParameterFile(int code, const std::string &calibration, const std::string &output, int cloud,
                          double lat, double lon, double alt, const std::string &no2Lines,
                          const std::string &ozoneLines, const std::vector<std::vector<int>> &combinations,
                          double pressure, const std::vector<std::string> &dataFiles) {
  std::ostringstream s;
  s << code << "\n" << calibration << "\n" << output << "\n" << cloud << "\n" << lat << "\n" << lon << "\n" << alt
    << "\n" << no2Lines << ozoneLines << combinations.size() << "\n";
  for (const auto &c : combinations) {
    s << c.size() << "\n";
    for (size_t i = 0; i < c.size(); ++i)
      s << (i ? " " : "") << c[i];
    s << "\n";
  }
  s << pressure << "\n";
  for (const auto &f : dataFiles)
    s << f << "\n";
  return s.str();
}

} // namespace morvane::test
