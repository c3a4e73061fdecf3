// A year of direct-sun measurements (8 wavelengths, triplets, every 5 minutes of daylight) computed and
// screened; prints the time of the run against the time spent only reading and parsing its input.

#include "MorvaneFixture.h"

#include "morvane/core/Compute.h"
#include "morvane/core/ResultFiles.h"
#include "morvane/core/Screening.h"

#include <chrono>
#include <ctime>
#include <cstdio>
#include <iostream>
#include <sstream>

using namespace morvane;
using namespace morvane::test;

int main() {
  TempDir dir;
  ChangeDir cd(dir.path());
  setenv("ZELT_DATA_DIR", DataDir().c_str(), 1);
  // An 8-wavelength model in the canonical order, with its water channel; the other tables installed.
  WriteFile("instruments.dat", "bench\neight\nwavelengths\n1\n8\n1020 870 670 440 500 936 380 340\n"
                               "10 10 10 10 10 10 4 2\n6\n2 2 1\n0\n");
  WriteFile("cal.cal", "2019 1 1 1e6 1e6 1e6 1e6 1e6 1e6 1e6 1e6\n2021 1 1 1.1e6 1.1e6 1.1e6 1.1e6 1.1e6 1.1e6 1.1e6 1.1e6\n");
  const std::vector<double> lambdas = {1020, 870, 670, 440, 500, 936, 380, 340};
  const int daysInMonth[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  RunParams p;
  p.instrumentCode = 1;
  p.calibrationFile = "cal.cal";
  p.outputFile = "year.tao";
  p.latitude = 37.18f;
  p.longitude = -3.6f;
  p.altitude = 680;
  p.no2Mode = -2;
  p.ozone = 300;
  p.pressure = -1;
  p.useWavelength.fill(true);
  p.combinations = {{2, 3, 4, 5}};
  const double factors[3] = {1.0, 0.999, 1.001};
  long generated = 0;
  for (int month = 1; month <= 12; ++month) {
    std::string data;
    for (int day = 1; day <= daysInMonth[month - 1]; ++day)
      for (int minute = 6 * 60 + 40; minute <= 17 * 60 + 50; minute += 5) {
        data += SunLine({2020, month, day, minute / 60, minute % 60, 0}, lambdas, 1.2, 0.05 + 0.001 * (day % 7), 1e6,
                        37.18, -3.6, 3, factors);
        ++generated;
      }
    const std::string name = "m" + std::to_string(month) + ".nsu";
    WriteFile(name, data);
    p.dataFiles.push_back(name);
  }
  std::ostringstream diag;
  const auto t0 = std::chrono::steady_clock::now();
  const std::clock_t c0 = std::clock();
  const ComputeSummary s = RunMorvane(p, diag);
  const std::clock_t c1 = std::clock();
  const auto t1 = std::chrono::steady_clock::now();
  ScreenClouds("year.tao", ScreenedName("year.tao"), s.valueColumns, s.place440, diag);
  const auto t2 = std::chrono::steady_clock::now();
  const double compute = std::chrono::duration<double>(t1 - t0).count();
  const double screen = std::chrono::duration<double>(t2 - t1).count();
  std::printf("records generated %ld, written %ld (%d value columns)\n", generated, s.records, s.valueColumns);
  std::printf("read and parse only: %.3f s\n", s.readSeconds);
  std::printf("computation (reading included): %.3f s, %.0f records/s, %.2f x the reading\n", compute,
              static_cast<double>(s.records) / compute, compute / s.readSeconds);
  std::printf("  processor time of the computation: %.3f s\n", static_cast<double>(c1 - c0) / CLOCKS_PER_SEC);
  std::printf("  of which sorting and writing the .tao: %.3f s\n", s.writeSeconds);
  std::printf("screening: %.3f s\n", screen);
  std::cerr << diag.str();
  return 0;
}
