// The installed tables and the table readers' faults.

#include "MorvaneFixture.h"

#include "morvane/core/Tables.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <numeric>

using namespace morvane;
using namespace morvane::test;

namespace {

std::string Installed(const std::string &name) { return DataDir() + "/morvane/" + name; }

TEST(InstalledTables, InstrumentsFollowTheCalibrationOrder) {
  // The station's sun photometer: its nine sun filters in the order the calibration plug-in sorts them.
  const InstrumentDesc q5 = ReadInstrument(Installed("instruments.dat"), 1);
  EXPECT_EQ(q5.nwl, 9);
  const double order[] = {1020, 870, 675, 440, 500, 940, 380, 340, 1640};
  for (int w = 0; w < 9; ++w)
    EXPECT_EQ(q5.lambda[static_cast<size_t>(w)], order[w]);
  EXPECT_EQ(q5.vapour, 6);
  EXPECT_EQ(q5.references, (std::vector<int>{2, 1}));
  const InstrumentDesc ten = ReadInstrument(Installed("instruments.dat"), 2);
  EXPECT_EQ(ten.nwl, 10);
  EXPECT_EQ(ten.lambda[1], 1640);
  EXPECT_EQ(ten.lambda[6], 1020);
  EXPECT_EQ(ten.vapour, 8);
  EXPECT_EQ(ten.Label(2), "1640");
  EXPECT_EQ(ten.Label(10), "0340");
  const InstrumentDesc polar = ReadInstrument(Installed("instruments.dat"), 3);
  EXPECT_EQ(polar.vapour, 7);
  try {
    ReadInstrument(Installed("instruments.dat"), 42);
    FAIL();
  } catch (const Failure &f) {
    EXPECT_EQ(f.kind(), FailureKind::Instrument);
    EXPECT_STREQ(f.what(), "Instrument unknown ");
  }
}

TEST(InstalledTables, BandWeightsSumToOneAndGasCoefficientsAreSane) {
  const InstrumentDesc ten = ReadInstrument(Installed("instruments.dat"), 2);
  SpectralTables t;
  CalTrans(Installed("espectro.dat"), ten, t);
  KOzono(Installed("ozono.dat"), ten, t);
  KNo2(Installed("no2.dat"), ten, t);
  for (int w = 0; w < ten.nwl; ++w) {
    const auto &f = t.weight[static_cast<size_t>(w)];
    EXPECT_NEAR(std::accumulate(f.begin(), f.end(), 0.0), 1.0, 1e-12);
  }
  // 500 nm (position 6), centre: ozone 1.21e-21 cm2 at 223 K; 440 nm (position 5): NO2 of order 1e-19.
  EXPECT_NEAR(t.k1[5][30], 1.21e-21, 0.02e-21);
  EXPECT_GT(t.n1[4][30], 1e-19);
  EXPECT_EQ(t.n1[1][30], 0.0f); // 1640 nm: no NO2
  const VapourTable tw = ReadVapourTable(Installed("tw.dat"));
  // On a grid point the inversion gives the grid amount back: m = 2, p = 0.89, W = 2 cm.
  const double tr = std::exp(-0.5 * std::pow(2.0 * 2.0, 0.6) * std::pow(0.89, 0.3));
  EXPECT_NEAR(Vapor(tw, tr, 2.0, 0.89), 2.0, 1e-3);
}

TEST(Tables, WeightsDoNotDependOnTheSpectrumScale) {
  TempDir dir;
  WriteSyntheticTables(dir.path());
  const InstrumentDesc d = ReadInstrument(dir.file("instruments.dat"), 8);
  EXPECT_EQ(d.nwl, 5); // its wavelengths span two lines
  EXPECT_EQ(d.lambda[4], 936);
  SpectralTables a;
  CalTrans(dir.file("espectro.dat"), d, a);
  EXPECT_NEAR(a.weight[0][30], 1.0 / (10 / 2.3548200450309493 * 2.5066282746310002) /
                                   [&] {
                                     double s = 0;
                                     const double sigma = 10 / 2.3548200450309493;
                                     for (int k = -30; k <= 30; ++k)
                                       s += std::exp(-k * k / (2 * sigma * sigma)) / (sigma * 2.5066282746310002);
                                     return s;
                                   }(),
              1e-12);
}

TEST(Tables, FaultsStopWithTheirMessages) {
  TempDir dir;
  WriteSyntheticTables(dir.path());
  const InstrumentDesc d = ReadInstrument(dir.file("instruments.dat"), 7);
  SpectralTables t;
  WriteFile(dir.file("espectro.dat"), "Tabla\n900 1\n901 1\n");
  try {
    CalTrans(dir.file("espectro.dat"), d, t);
    FAIL();
  } catch (const Failure &f) {
    EXPECT_STREQ(f.what(), "--- Fallo en el fichero del espectro solar ---");
  }
  // A missing band leaves zero coefficients and the run goes on; a malformed line is a fault.
  WriteFile(dir.file("ozono.dat"), "Tabla\n400 1 2 3\n");
  EXPECT_NO_THROW(KOzono(dir.file("ozono.dat"), d, t));
  EXPECT_EQ(t.k1[3][30], 0.0f);
  WriteFile(dir.file("ozono.dat"), "Tabla\n400 1 2 3\n401 x 2 3\n");
  EXPECT_THROW(KOzono(dir.file("ozono.dat"), d, t), Failure);
  EXPECT_THROW(KNo2(dir.file("absent.dat"), d, t), Failure);
}

TEST(Tables, WaterTableMustHaveItsSizeAndMonotoneAxes) {
  TempDir dir;
  std::string good = BandModelTable();
  WriteFile(dir.file("tw.dat"), good);
  const VapourTable tw = ReadVapourTable(dir.file("tw.dat"));
  // Above every air mass and above every transmittance the inversion extrapolates.
  EXPECT_TRUE(std::isfinite(Vapor(tw, 0.5, 9.0, 0.9)));
  EXPECT_LT(Vapor(tw, 1.2, 2.0, 0.9), 0.0);

  std::string shortTable = good.substr(0, good.size() - 16);
  WriteFile(dir.file("tw.dat"), shortTable);
  EXPECT_THROW(ReadVapourTable(dir.file("tw.dat")), Failure);
  std::string wrongCount = good;
  wrongCount[0] = 1;
  WriteFile(dir.file("tw.dat"), wrongCount);
  EXPECT_THROW(ReadVapourTable(dir.file("tw.dat")), Failure);
  // Second block with the air mass of the first: not ascending.
  std::string flat = good;
  for (size_t row = 400; row < 800; ++row)
    flat.replace(2 + row * 16, 4, good.substr(2, 4));
  WriteFile(dir.file("tw.dat"), flat);
  EXPECT_THROW(ReadVapourTable(dir.file("tw.dat")), Failure);
}

} // namespace
