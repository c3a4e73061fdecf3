// End-to-end runs of the computation on tables and data written by the test.

#include "MorvaneFixture.h"

#include "morvane/core/Compute.h"
#include "morvane/core/Physics.h"
#include "morvane/core/ResultFiles.h"
#include "morvane/core/RunDriver.h"
#include "morvane/core/RunParams.h"
#include "morvane/core/Screening.h"
#include "morvane/core/Tables.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <sstream>

using namespace morvane;
using namespace morvane::test;

namespace {

const std::vector<double> kFour = {1020, 870, 670, 440};
constexpr double kLat = 37.18, kLon = -3.6, kAlt = 680;

double Col(const std::string &row, int i, bool screened = false) {
  return std::stod(row.substr(static_cast<size_t>(64 + (screened ? 1 : 0) + 15 * (i - 1)), 15));
}

double Tau(double lambda, double alpha, double beta) { return beta * std::pow(lambda / 1000, -alpha); }

class RunTest : public ::testing::Test {
protected:
  void SetUp() override {
    WriteSyntheticTables(dir.path());
    WriteFile(dir.file("cal.cal"), "2020 1 1 1000000 1000000 1000000 1000000 \n2021 1 1 1e6 1e6 1e6 1e6 \n");
  }
  // A day of measurements every 30 minutes, 07:00 to 17:00 UT.
  std::string Day(int y, int mo, int d, double alpha, double beta, int triplets = 1, const double *factors = nullptr,
                  const std::vector<double> &extra = {}) {
    std::string s;
    for (int k = 0; k <= 20; ++k)
      s += SunLine({y, mo, d, 7 + k / 2, (k % 2) * 30, 0}, kFour, alpha, beta, 1e6, kLat, kLon, triplets, factors, extra);
    return s;
  }
  RunParams Params(const std::vector<std::string> &files, float pressure = 0) {
    RunParams p;
    p.instrumentCode = 7;
    p.calibrationFile = "cal.cal";
    p.outputFile = "out.tao";
    p.cloudScreening = false;
    p.latitude = static_cast<float>(kLat);
    p.longitude = static_cast<float>(kLon);
    p.altitude = static_cast<float>(kAlt);
    p.ozone = 300;
    p.no2 = 0;
    p.pressure = pressure;
    p.useWavelength.fill(true);
    p.combinations = {{1, 2, 3, 4}};
    p.dataFiles = files;
    return p;
  }
  TempDir dir;
  ChangeDir cd{dir.path()};
  std::ostringstream diag;
};

TEST_F(RunTest, OpticalDepthAndAngstromMatchTheSyntheticAerosol) {
  WriteFile("day.sun", Day(2020, 6, 15, 1.3, 0.08));
  const ComputeSummary s = RunMorvane(Params({"day.sun"}), diag);
  EXPECT_EQ(s.records, 21);
  EXPECT_EQ(s.valueColumns, 2 * 4 + 8);
  EXPECT_EQ(s.place440, 4);
  const auto lines = ReadLines("out.tao");
  ASSERT_EQ(lines.size(), 22u);
  EXPECT_EQ(lines[0].size(), 500u);
  for (size_t r = 1; r < lines.size(); ++r) {
    const std::string &row = lines[r];
    ASSERT_EQ(row.size(), 64u + 15 * 16);
    for (int w = 0; w < 4; ++w) {
      EXPECT_NEAR(Col(row, w + 1), Tau(kFour[static_cast<size_t>(w)], 1.3, 0.08), 2e-5) << row;
      EXPECT_EQ(Col(row, w + 1), Col(row, w + 5)); // one reading: both passes agree
    }
    EXPECT_NEAR(Col(row, 9), 0.08, 2e-5);  // beta
    EXPECT_NEAR(Col(row, 10), 1.3, 2e-4);  // alpha
    EXPECT_NEAR(Col(row, 11), 0, 1e-4);    // sd
    EXPECT_NEAR(Col(row, 12), 1, 1e-5);    // r2
    for (int i = 9; i <= 12; ++i)
      EXPECT_EQ(Col(row, i), Col(row, i + 4));
    EXPECT_EQ(row.substr(61, 3), "  0"); // no zero count, one reading: clear
  }
  // Rows ascend in time; the air mass column is the Rayleigh air mass of the row's time.
  EXPECT_EQ(lines[1].substr(0, 28), " 2020   6  15   7   0  0.000");
  const DayCount dc = DayNumber(2020, 6, 15, 7, 0, 0);
  EXPECT_NEAR(std::stod(lines[1].substr(28, 13)), dc.n, 1e-5);
  const double h = SunPsa(dc.hours, static_cast<float>(kLat), static_cast<float>(kLon), dc.n - 0.5).elevation;
  EXPECT_NEAR(std::stod(lines[1].substr(41, 12)), ComputeAirMasses(h).rayleigh, 1e-5);
}

TEST_F(RunTest, RayleighFromAltitudeIsRemoved) {
  const double p = PressureFromAltitude(kLat, kAlt) / 1013.25;
  std::vector<double> rayleigh;
  for (double l : kFour)
    rayleigh.push_back(p / RayleighQ(l));
  WriteFile("day.sun", Day(2020, 6, 15, 1.3, 0.08, 1, nullptr, rayleigh));
  RunMorvane(Params({"day.sun"}, -1), diag);
  const auto lines = ReadLines("out.tao");
  ASSERT_EQ(lines.size(), 22u);
  for (size_t r = 1; r < lines.size(); ++r)
    for (int w = 0; w < 4; ++w)
      EXPECT_NEAR(Col(lines[r], w + 1), Tau(kFour[static_cast<size_t>(w)], 1.3, 0.08), 3e-4);
}

TEST_F(RunTest, TripletsGiveMeanAndFirstReadingPassesAndTheCloudFlag) {
  const double steady[3] = {1, 1, 1};
  const double varying[3] = {1.0, 0.8, 0.9}; // ln(max/min)/m well above 0.02
  WriteFile("a.nsu", SunLine({2020, 6, 15, 10, 0, 0}, kFour, 1.3, 0.08, 1e6, kLat, kLon, 3, steady) +
                         SunLine({2020, 6, 15, 11, 0, 0}, kFour, 1.3, 0.08, 1e6, kLat, kLon, 3, varying));
  RunMorvane(Params({"a.nsu"}), diag);
  const auto lines = ReadLines("out.tao");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].substr(61, 3), "  0");
  EXPECT_EQ(lines[2].substr(61, 3), "  1");
  // Pass 1 on the mean of 1.0, 0.8, 0.9; pass 2 on the first reading.
  const double mass = std::stod(lines[2].substr(41, 12));
  EXPECT_NEAR(Col(lines[2], 4), Tau(440, 1.3, 0.08) - std::log(0.9) / mass, 2e-5);
  EXPECT_NEAR(Col(lines[2], 8), Tau(440, 1.3, 0.08), 2e-5);
}

TEST_F(RunTest, ZeroCountMarksCloudAndBadCalibrationWritesTheMarker) {
  WriteFile("cal.cal", "2020 1 1 1e6 1e6 0 1e6\n");
  // The second record has a zero count on the 440 nm channel.
  std::istringstream tokens(SunLine({2020, 6, 15, 11, 0, 0}, kFour, 1.3, 0.08, 1e6, kLat, kLon, 1));
  std::vector<std::string> t{std::istream_iterator<std::string>(tokens), {}};
  t[9] = "0";
  std::string zeroed;
  for (const auto &x : t)
    zeroed += x + " ";
  WriteFile("z.sun", SunLine({2020, 6, 15, 10, 0, 0}, kFour, 1.3, 0.08, 1e6, kLat, kLon, 1) + zeroed + "\n");
  RunParams p = Params({"z.sun"});
  p.combinations = {{1, 2}};
  RunMorvane(p, diag);
  const auto lines = ReadLines("out.tao");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2].substr(61, 3), "  1");
  EXPECT_EQ(lines[1].substr(64 + 15 * 2, 15), "   0.100000E-04"); // 670 nm: constant 0
  const std::string all = ReadFile("out.tao");
  EXPECT_EQ(all.find("nan"), std::string::npos);
  EXPECT_EQ(all.find("inf"), std::string::npos);
  EXPECT_EQ(all.find("NaN"), std::string::npos);
}

TEST_F(RunTest, MalformedLinesAndNightRecordsAreSkippedAndCounted) {
  std::string good = SunLine({2020, 6, 15, 10, 0, 0}, kFour, 1.3, 0.08, 1e6, kLat, kLon, 1);
  WriteFile("m.sun", good + "15 6 2020 10 30 0 123 abc 456 789 25\n" + "15 6 2020 10 40 0 1 2 3\n" +
                         "15 6 2020 23 0 0 1000 1000 1000 1000 25\n\n" + good);
  RunMorvane(Params({"m.sun"}), diag);
  EXPECT_EQ(ReadLines("out.tao").size(), 3u);
  EXPECT_NE(diag.str().find("2 líneas mal formadas"), std::string::npos) << "[" << diag.str() << "]";
  EXPECT_NE(diag.str().find("1 registros con el sol bajo el horizonte"), std::string::npos) << diag.str();
}

TEST_F(RunTest, OnlyTheFirstChannelIsTemperatureCorrectedAndCalibrationEndsHold) {
  // Records before the first and after the last calibration date use those lines' constants.
  WriteFile("cal.cal", "2020 3 1 1e6 1e6 1e6 1e6\n2020 9 1 2e6 2e6 2e6 2e6\n");
  Measurement hot{2020, 1, 15, 11, 0, 0, 35.0}, cold{2020, 11, 15, 11, 0, 0, 5.0};
  WriteFile("t.sun", SunLine(hot, kFour, 1.3, 0.08, 1e6, kLat, kLon, 1) + SunLine(cold, kFour, 1.3, 0.08, 2e6, kLat, kLon, 1));
  RunMorvane(Params({"t.sun"}), diag);
  const auto lines = ReadLines("out.tao");
  ASSERT_EQ(lines.size(), 3u);
  for (size_t r = 1; r <= 2; ++r)
    for (int w = 0; w < 4; ++w)
      EXPECT_NEAR(Col(lines[r], w + 1), Tau(kFour[static_cast<size_t>(w)], 1.3, 0.08), 2e-5) << r << " " << w;
  EXPECT_EQ(lines[1].substr(53, 8), "   35.00");
}

TEST_F(RunTest, RowsAreSortedByTimeAndEqualTimesKeepTheirOrder) {
  // b.sun is in time order; c.sun goes back in time after a record equal in time to b's last one.
  WriteFile("b.sun", SunLine({2020, 6, 15, 9, 0, 0}, kFour, 1.3, 0.08, 1e6, kLat, kLon, 1) +
                         SunLine({2020, 6, 15, 12, 0, 0}, kFour, 1.0, 0.2, 1e6, kLat, kLon, 1) + "15 6 2020 x\n");
  WriteFile("c.sun", SunLine({2020, 6, 15, 12, 0, 0}, kFour, 1.3, 0.05, 1e6, kLat, kLon, 1) +
                         SunLine({2020, 6, 15, 8, 0, 0}, kFour, 1.3, 0.08, 1e6, kLat, kLon, 1));
  const ComputeSummary s = RunMorvane(Params({"b.sun", "c.sun"}), diag);
  const auto lines = ReadLines("out.tao");
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(s.records, 4);
  EXPECT_EQ(lines[1].substr(14, 3), "  8");
  EXPECT_EQ(lines[2].substr(14, 3), "  9");
  EXPECT_NEAR(Col(lines[3], 9), 0.2, 1e-4);
  EXPECT_NEAR(Col(lines[4], 9), 0.05, 1e-4);
  // The notes of the run are said once, however the rows came to be sorted.
  const std::string note = "b.sun: 1 líneas mal formadas ignoradas";
  ASSERT_NE(diag.str().find(note), std::string::npos) << diag.str();
  EXPECT_EQ(diag.str().find(note), diag.str().rfind(note)) << diag.str();
}

TEST_F(RunTest, CalibrationIsSortedAndInterpolatesBefore2000) {
  // Constants rise linearly from 1e6 (1999-06-01) to 2e6 (2001-06-01); lines out of order.
  WriteFile("cal.cal", "2001 6 1 2e6 2e6 2e6 2e6\n1999 6 1 1e6 1e6 1e6 1e6\n");
  const double n1 = DayNumber(1999, 6, 1, 0, 0, 0).n, n2 = DayNumber(2001, 6, 1, 0, 0, 0).n;
  const DayCount dc = DayNumber(2000, 6, 1, 10, 0, 0);
  const double v0 = 1e6 + 1e6 * (dc.n - n1) / (n2 - n1);
  WriteFile("x.sun", SunLine({2000, 6, 1, 10, 0, 0}, kFour, 1.3, 0.08, v0, kLat, kLon, 1));
  RunMorvane(Params({"x.sun"}), diag);
  const auto lines = ReadLines("out.tao");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NEAR(Col(lines[1], 4), Tau(440, 1.3, 0.08), 2e-5);
}

TEST_F(RunTest, FailuresStopBeforeAnyOutput) {
  WriteFile("day.sun", Day(2020, 6, 15, 1.3, 0.08));
  auto kindOf = [&](RunParams p) {
    try {
      RunMorvane(p, diag);
    } catch (const Failure &f) {
      return static_cast<int>(f.kind());
    }
    return 0;
  };
  RunParams p = Params({"day.sun"});
  p.instrumentCode = 99;
  EXPECT_EQ(kindOf(p), static_cast<int>(FailureKind::Instrument));
  p = Params({"day.sun"});
  p.calibrationFile = "missing.cal";
  EXPECT_EQ(kindOf(p), static_cast<int>(FailureKind::Calibration));
  WriteFile("empty.cal", "\n\n");
  p.calibrationFile = "empty.cal";
  EXPECT_EQ(kindOf(p), static_cast<int>(FailureKind::Calibration));
  p = Params({"day.sun", "absent.sun"});
  EXPECT_EQ(kindOf(p), static_cast<int>(FailureKind::DataFile));
  p = Params({"day.sun"});
  p.combinations = {{1, 5}};
  EXPECT_EQ(kindOf(p), static_cast<int>(FailureKind::ParameterFile));
  p.combinations = {{2, 2}};
  EXPECT_EQ(kindOf(p), static_cast<int>(FailureKind::ParameterFile));
  p.combinations = {{1, 2}};
  p.useWavelength[1] = false;
  EXPECT_EQ(kindOf(p), static_cast<int>(FailureKind::ParameterFile));
  WriteFile("espectro.dat", "Tabla\n500 1\n");
  EXPECT_EQ(kindOf(Params({"day.sun"})), static_cast<int>(FailureKind::Table));
  EXPECT_FALSE(std::ifstream("out.tao").good());
}

TEST_F(RunTest, VapourChannelGivesPrecipitableWaterAndTwoMoreColumns) {
  const double p = 912.0 / 1013.25;
  const std::vector<double> five = {1020, 870, 670, 440, 936};
  std::string data;
  for (int hour = 8; hour <= 16; ++hour) {
    const DayCount dc = DayNumber(2020, 6, 15, hour, 0, 0);
    const SunPosition sun = SunPsa(dc.hours, static_cast<float>(kLat), static_cast<float>(kLon), dc.n - 0.5);
    const AirMasses am = ComputeAirMasses(sun.elevation);
    std::ostringstream line;
    line << "15 6 2020 " << hour << " 0 0";
    for (double l : five) {
      double t = std::exp(-(p / RayleighQ(l)) * am.rayleigh);
      if (l == 936)
        t *= BandModelTransmittance(am.water, 1.5, p);
      line << ' ' << std::llround(1e7 * t / (sun.distance * sun.distance));
    }
    data += line.str() + " 25\n";
  }
  WriteFile("v.sun", data);
  WriteFile("cal.cal", "2020 1 1 1e7 1e7 1e7 1e7 1e7\n");
  RunParams prm = Params({"v.sun"}, 912);
  prm.instrumentCode = 8;
  const ComputeSummary s = RunMorvane(prm, diag);
  EXPECT_TRUE(s.vapour);
  EXPECT_EQ(s.nsel, 4); // the vapour channel has no optical depth of its own
  EXPECT_EQ(s.valueColumns, 2 * 4 + 8 + 2);
  const auto lines = ReadLines("out.tao");
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[0].substr(51, 28), " Ta1020 Ta0870 Ta0670 Ta0440");
  EXPECT_NE(lines[0].find(" RT Vapor VaporT"), std::string::npos);
  for (size_t r = 1; r < lines.size(); ++r) {
    ASSERT_EQ(lines[r].size(), 64u + 15 * 18);
    EXPECT_NEAR(Col(lines[r], 17), 1.5, 0.1) << lines[r];
    EXPECT_EQ(Col(lines[r], 17), Col(lines[r], 18));
  }
}

TEST_F(RunTest, GasFilesLastLineAndNo2Fallback) {
  // NO2 absorbs 1e-19 cm2 at every wavelength: tau_NO2 = amount * 2.68719.
  std::string no2 = "Tabla\n";
  for (int nm = 250; nm <= 1750; ++nm)
    no2 += std::to_string(nm) + " 1e-19 0\n";
  WriteFile("no2.dat", no2);
  WriteFile("day.sun", SunLine({2020, 6, 15, 10, 0, 0}, kFour, 1.3, 0.08, 1e6, kLat, kLon, 1));
  WriteFile("no2day.txt", "2020 6 14 0.0001\n2020 6 15 0.0004\n");
  RunParams prm = Params({"day.sun"});
  prm.no2Mode = -1;
  prm.no2File = "no2day.txt";
  RunMorvane(prm, diag);
  auto expectNo2 = [&](double amount) {
    const auto lines = ReadLines("out.tao");
    ASSERT_EQ(lines.size(), 2u);
    const DayCount dc = DayNumber(2020, 6, 15, 10, 0, 0);
    const AirMasses am =
        ComputeAirMasses(SunPsa(dc.hours, static_cast<float>(kLat), static_cast<float>(kLon), dc.n - 0.5).elevation);
    const double tauNo2 = amount * (1 - kAlt * 8.98e-6) * 2.68719;
    EXPECT_NEAR(Col(lines[1], 4), Tau(440, 1.3, 0.08) - am.no2 / am.rayleigh * tauNo2, 2e-5);
  };
  expectNo2(0.0004); // the file's last line matches and is used
  WriteFile("no2day.txt", "2020 6 14 0.0001\n");
  RunMorvane(prm, diag);
  expectNo2(2.1841e-4); // no match: the summer mid-latitude value, said on diag
  EXPECT_NE(diag.str().find("latitudes medias"), std::string::npos);
}

TEST_F(RunTest, OzoneFileLastLineMatchesAndMissingDaysTake300) {
  // Ozone absorbs 1e-21 cm2 at every wavelength whatever the temperature.
  std::string ozone = "Tabla\n";
  for (int nm = 250; nm <= 1750; ++nm)
    ozone += std::to_string(nm) + " 1e-21 0 0\n";
  WriteFile("ozono.dat", ozone);
  WriteFile("day.sun", SunLine({2020, 6, 15, 10, 0, 0}, kFour, 1.3, 0.08, 1e6, kLat, kLon, 1) +
                           SunLine({2020, 6, 16, 10, 0, 0}, kFour, 1.3, 0.08, 1e6, kLat, kLon, 1));
  WriteFile("o3.txt", "2020 6 14 280\n2020 6 15 350\n");
  RunParams prm = Params({"day.sun"});
  prm.ozoneMode = -1;
  prm.ozoneFile = "o3.txt";
  RunMorvane(prm, diag);
  const auto lines = ReadLines("out.tao");
  ASSERT_EQ(lines.size(), 3u);
  const double amounts[2] = {350, 300}; // the last line's day, then a day the file lacks
  for (int r = 0; r < 2; ++r) {
    const DayCount dc = DayNumber(2020, 6, 15 + r, 10, 0, 0);
    const AirMasses am =
        ComputeAirMasses(SunPsa(dc.hours, static_cast<float>(kLat), static_cast<float>(kLon), dc.n - 0.5).elevation);
    const double tauO3 = amounts[r] * (1 - kAlt * 8.98e-6) / 1000 * 2.68719e19 * 1e-21;
    EXPECT_NEAR(Col(lines[static_cast<size_t>(r + 1)], 4), Tau(440, 1.3, 0.08) - am.ozone / am.rayleigh * tauO3, 2e-5);
  }
  EXPECT_NE(diag.str().find("300 DU"), std::string::npos);
}

TEST(ParameterFile, ReadsEveryLineAndItsEdgeCases) {
  TempDir dir;
  const std::string path = dir.file("inputpar.dat");
  RunParams p;
  std::string why;
  WriteFile(path, "2\r\ncal.cal\r\nout.tao\r\n1\r\n-33.9\r\n18.4\r\n10\r\n-2\r\n-1\r\nozono.txt\r\n1\r\n4\r\n2 3 4 5\r\n-1\r\n"
                  "data.nsu\r\n\r\n");
  ASSERT_TRUE(ReadParameterFile(path, p, why)) << why;
  EXPECT_EQ(p.instrumentCode, 2);
  EXPECT_EQ(p.calibrationFile, "cal.cal");
  EXPECT_TRUE(p.cloudScreening);
  EXPECT_FLOAT_EQ(p.latitude, -33.9f);
  EXPECT_EQ(p.no2Mode, -2);
  EXPECT_EQ(p.ozoneMode, -1);
  EXPECT_EQ(p.ozoneFile, "ozono.txt");
  ASSERT_EQ(p.combinations.size(), 1u);
  EXPECT_EQ(p.combinations[0], (std::vector<int>{2, 3, 4, 5}));
  EXPECT_EQ(p.pressure, -1.0f);
  EXPECT_EQ(p.dataFiles, (std::vector<std::string>{"data.nsu", ""})); // a blank line counts as a name

  // Ends after the pressure line: read, no data file.
  WriteFile(path, "1\ncal\nout\n0\n1\n2\n3\n0\n300\n0\n-1\n");
  ASSERT_TRUE(ReadParameterFile(path, p, why)) << why;
  EXPECT_FALSE(p.cloudScreening);
  EXPECT_TRUE(p.dataFiles.empty());

  // A thirty-second data line is not read.
  std::string many = "1\ncal\nout\n0\n1\n2\n3\n0\n300\n0\n-1\n";
  for (int i = 1; i <= 32; ++i)
    many += "f" + std::to_string(i) + ".sun\n";
  WriteFile(path, many);
  ASSERT_TRUE(ReadParameterFile(path, p, why));
  EXPECT_EQ(p.dataFiles.size(), 31u);

  for (const char *bad : {"1\ncal\nout\n0\n1\n2\n", "1\ncal\nout\n0\nx\n2\n3\n0\n300\n0\n-1\n",
                          "1\ncal\nout\n0\n1\n2\n3\n0\n300\n11\n-1\n", "1\ncal\nout\n0\n1\n2\n3\n0\n300\n1\n1\n3\n-1\n",
                          "1\ncal\nout\n0\n1\n2\n3\n0\n300\n1\n2\n3 12\n-1\n"}) {
    WriteFile(path, bad);
    EXPECT_FALSE(ReadParameterFile(path, p, why)) << bad;
  }
  EXPECT_FALSE(ReadParameterFile(dir.file("absent.dat"), p, why));
}

TEST_F(RunTest, DriverWritesScreenedFileAndGraphHandOff) {
  WriteFile("day.sun", Day(2020, 6, 15, 1.3, 0.08));
  WriteFile("inputpar.dat", ParameterFile(7, "cal.cal", "result", 1, kLat, kLon, kAlt, "0\n", "300\n", {{1, 2, 3, 4}}, 0,
                                          {"day.sun"}));
  RunParams p;
  const RunResult r = ProcesoCalculo(p, InputMode::ParameterFile, "inputpar.dat", diag);
  ASSERT_EQ(r.status, 0) << r.message;
  EXPECT_EQ(r.message, "Terminated ");
  EXPECT_EQ(r.resultFile, "result.ta2");
  EXPECT_EQ(ReadLines("result.ta2").size(), 22u);
  EXPECT_EQ(ReadFile("temporalg"), "result.ta2\n          26\n           4\n           1\n F\n");

  // A parameter file that cannot be read: status -1 and the fixed message.
  RunParams q;
  const RunResult bad = ProcesoCalculo(q, InputMode::ParameterFile, "absent.dat", diag);
  EXPECT_EQ(bad.status, -1);
  EXPECT_EQ(bad.message, "Fallo en el fichero de datos de entrada ");
  EXPECT_NE(bad.exitCode, 0);

  // Without screening the hand-off names the .tao in its 256-character field.
  WriteFile("inputpar.dat", ParameterFile(7, "cal.cal", "plain.tao", 0, kLat, kLon, kAlt, "0\n", "300\n", {}, 0,
                                          {"day.sun"}));
  ASSERT_EQ(ProcesoCalculo(p, InputMode::ParameterFile, "inputpar.dat", diag).status, 0);
  const auto handOff = ReadLines("temporalg");
  EXPECT_EQ(handOff[0].size(), 256u);
  EXPECT_EQ(handOff[0].substr(0, 10), "plain.tao ");
  EXPECT_EQ(handOff[1], "          18");
}

TEST(ResultNames, ScreenedNameNeverEqualsTheInput) {
  EXPECT_EQ(ScreenedName("out.tao"), "out.ta2");
  EXPECT_EQ(ScreenedName("result"), "result.ta2");
  EXPECT_EQ(ScreenedName("x.ta2"), "x.ta2.ta2");
  EXPECT_EQ(ScreenedName("dir.v23/result"), "dir.v23/result.ta2");
  EXPECT_EQ(ScreenedName("a.bc"), "a.bc.ta2");
  EXPECT_EQ(ScreenedName("/tmp/SITE0601.tao   "), "/tmp/SITE0601.ta2");
}

} // namespace

namespace {

// The screening of the rows as they are written equals the screening of the .tao file read back, on
// days that keep, thin out and drop records, with cloudy records and a field overflowing into asterisks.
TEST_F(RunTest, ScreeningRowsAsWrittenEqualsReadingTheFileBack) {
  std::string data;
  for (int d = 1; d <= 4; ++d)
    for (int k = 0; k <= 40; ++k) {
      Measurement m{2020, 6, d, 6 + k / 4, (k % 4) * 15, k % 60, k == 7 ? 12345.6 : 25.0 + k % 5};
      const double factors[3] = {1.0, k % 9 == 4 ? 0.7 : 0.999, 1.001};
      const std::vector<double> spike(4, d == 2 && k % 6 == 1 ? 0.4 : 0.0);
      data += SunLine(m, kFour, 1.2, 0.05 + 0.01 * d + 0.003 * (k % 3), 1e6, kLat, kLon, 3, factors, spike);
    }
  WriteFile("days.nsu", data);
  const ComputeSummary s = RunMorvane(Params({"days.nsu"}), diag, "direct.ta2");
  ASSERT_GT(s.records, 100);
  const ScreeningSummary back = ScreenClouds("out.tao", "back.ta2", s.valueColumns, s.place440, diag);
  EXPECT_GT(back.malformed, 0);
  EXPECT_GT(back.written, 20);
  EXPECT_LT(back.written, back.read - back.malformed);
  EXPECT_TRUE(ReadFile("direct.ta2") == ReadFile("back.ta2"));
}

} // namespace
