// The analysis data set: series order, the Langley fit on synthetic counts, the site stores and the
// number texts of grids and files.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "common/DateTime.h"
#include "common/FileUtils.h"
#include "common/Instrument.h"
#include "common/SettingsStore.h"
#include "common/analysis/BgrData.h"
#include "common/analysis/Physics.h"
#include "common/tests/PlatformTestEnv.h"

namespace {

// A data set over an instrument described by InsList.dat lines, installed as the global one.
class DataSetTest : public ::testing::Test {
 protected:
  void Make(const std::string& insList) {
    instruments.LoadFromText("T SP0A0000\nN \"test\"\n" + insList);
    data = std::make_unique<TBgrData>();
    gBgrData = data.get();
    for (const auto& def : instruments[0]->Filters) data->FilterList.push_back(std::make_unique<TFilter>(def.get()));
  }
  void TearDown() override { gBgrData = nullptr; }

  ScopedTestHome home;
  TInstrumentList instruments;
  std::unique_ptr<TBgrData> data;
};

double Date(int y, int mo, int d, int h, int mi, int s) {
  double v = 0;
  TryEncodeDateTime(y, mo, d, h, mi, s, 0, v);
  return v;
}

}  // namespace

TEST_F(DataSetTest, SeriesAreOrderedByWavelengthThenPolarisation) {
  Make("F 1,440,SUN,1\nF 2,500.4,SUN,2,POLAR=2\nF 3,500.9,SUN,3\nF 4,1020,SUN,4\nF 5,500.6,SUN,5,POLAR=1\n");
  for (int number : {1, 2, 3, 4, 5}) ASSERT_NE(data->GetSerie(number), nullptr);
  std::vector<int> order;
  for (const auto& s : data->SerieList) order.push_back(s->FilterNumber);
  // 1020 first; 500.4, 500.6 and 500.9 nm count as one wavelength: unpolarised first, then channels.
  EXPECT_EQ(order, (std::vector<int>{4, 3, 5, 2, 1}));
  // A filter the instrument lacks gives no series and adds nothing.
  EXPECT_EQ(data->GetSerie(42), nullptr);
  EXPECT_EQ(data->SerieList.size(), 5u);
  EXPECT_EQ(data->GetSerie(3), data->GetSerie(3));
}

TEST_F(DataSetTest, SyntheticLangleyRecoversV0) {
  Make("F 7,870,SUN,6\n");
  data->Site->Lat = 28.309;
  data->Site->Lon = -16.499;
  data->Site->Alt = 2373;
  const double v0 = 26323.0, tau = 0.1111;
  TCNSerie* serie = data->GetSerie(7);
  ASSERT_NE(serie, nullptr);
  // A morning of points every 4 minutes, the counts made through the fit's own air mass and distance;
  // night points and points below 5 degrees are in the series too, and never enter the fit.
  for (int minute = 0; minute < 8 * 60; minute += 4) {
    TCN probe;
    probe.Time = Date(2025, 6, 20, 4, 0, 0) + minute / 1440.0;
    double m = 0;
    const double count = probe.GetAirMass(m) ? v0 * Uphysics::EarthSunDistanceFactor(probe.Time) * std::exp(-m * tau) : 3.0;
    serie->Add(count, 20 + minute / 60.0, probe.Time);
  }
  double slope = 0, intercept = 0, r2 = 0;
  ASSERT_TRUE(serie->ComputeLangley(slope, intercept, r2));
  EXPECT_NEAR(std::exp(intercept) / v0, 1.0, 1e-6);
  EXPECT_NEAR(-slope, tau, 1e-6);
  EXPECT_NEAR(r2, 1.0, 1e-9);
  EXPECT_DOUBLE_EQ(serie->GetCN0(), std::exp(intercept));
  EXPECT_DOUBLE_EQ(serie->LineValue(2), slope * 2 + intercept);
  EXPECT_DOUBLE_EQ(serie->MeanDate, std::trunc(Date(2025, 6, 20, 8, 0, 0)));
  EXPECT_NEAR(serie->MeanTemperature, 20 + 4 - 4 / 120.0, 0.01);

  // Disabled points stay out of the fit.
  for (auto& p : serie->Points) p->Enabled = p.get() == serie->Points.back().get();
  EXPECT_FALSE(serie->ComputeLangley(slope, intercept, r2));
  EXPECT_EQ(slope, 0.0);
}

// The data set keeps the solar geometry of the times it has seen: what a point gives must still follow
// a new time, a moved site and another data set's site.
TEST_F(DataSetTest, AirMassAndCorrectedCountFollowTheTimeAndTheSite) {
  Make("F 7,870,SUN,6\n");
  data->Site->Lat = 28.309;
  data->Site->Lon = -16.499;
  TCN& p = *data->GetSerie(7)->Add(20000, 20, Date(2025, 6, 20, 9, 0, 0));
  auto expect = [&p](double lat, double lon, const char* when) {
    Uphysics::TPositionRec position;
    position.Latitude = lat;
    position.Longitude = lon;
    const double want = Uphysics::AirMass(Uphysics::SolarZenithAngle(Uphysics::DateRecOf(p.Time), position));
    for (int read = 0; read < 2; ++read) {
      double m = 0;
      EXPECT_EQ(p.GetAirMass(m), want != 0) << when;
      EXPECT_EQ(m, want) << when;
      EXPECT_EQ(p.GetCorrectedCN(), 20000 / Uphysics::EarthSunDistanceFactor(p.Time)) << when;
    }
  };
  expect(28.309, -16.499, "at first");
  p.Time += 30 / 86400.0;
  expect(28.309, -16.499, "the next reading of a triplet");
  p.Time = Date(2025, 12, 20, 15, 30, 0);
  expect(28.309, -16.499, "another time");
  data->Site->Lat = 45.25;
  expect(45.25, -16.499, "the site moved north");
  data->Site->Lon = 10;
  expect(45.25, 10, "the site moved east");
  TBgrData other;
  other.Site->Lat = -34.9;
  other.Site->Lon = 138.6;
  gBgrData = &other;
  expect(-34.9, 138.6, "another data set");
  gBgrData = data.get();
  expect(45.25, 10, "the first data set again");
}

TEST_F(DataSetTest, NoFitBelowFiveDegreesOrWithOnePoint) {
  Make("F 7,870,SUN,6\n");
  data->Site->Lat = 48.7;
  TCNSerie* serie = data->GetSerie(7);
  serie->Add(500, 20, Date(2025, 6, 20, 23, 0, 0));  // night
  serie->Add(500, 20, Date(2025, 6, 20, 23, 30, 0));
  double slope = 1, intercept = 1, r2 = 1;
  EXPECT_FALSE(serie->ComputeLangley(slope, intercept, r2));
  EXPECT_EQ(serie->Slope, 0.0);
  serie->Add(9000, 20, Date(2025, 6, 20, 12, 0, 0));  // one usable point
  EXPECT_FALSE(serie->ComputeLangley(slope, intercept, r2));
  EXPECT_EQ(data->GetNbTotalCN(), 3);
}

TEST_F(DataSetTest, SiteFromTheSettingsKeyAndTheSiteFile) {
  {
    TRegistryIniFile key(kTessalyRegistryKey);
    key.WriteString("", "SiteName", "Izana");
    key.WriteString("", "SiteLat", "28,309");  // either decimal mark
    key.WriteString("", "SiteLon", "-16.499");
    key.WriteString("", "SiteAlt", "2373");
    key.WriteString("", "SiteNumber", "12");
    ASSERT_TRUE(key.UpdateFile());
  }
  TSite site;
  EXPECT_EQ(site.Name, "Izana");
  EXPECT_DOUBLE_EQ(site.Lat, 28.309);
  EXPECT_DOUBLE_EQ(site.Lon, -16.499);
  EXPECT_EQ(site.SiteNumber, 12);
  site.ReadFromRegistry(7);
  EXPECT_EQ(site.Name, "Site 7");
  EXPECT_EQ(site.Lat, 0.0);
  EXPECT_EQ(site.Lon, 0.0);
  EXPECT_EQ(site.Alt, 2373.0);
  EXPECT_EQ(site.SiteNumber, 7);

  site.CountryId = 3;
  site.DistrictId = 45;
  site.SiteNumber = 1;
  EXPECT_EQ(site.InfosSection(), "3451");
  site.Name = "Roof";
  site.Lat = 1.5e-5;
  site.Lon = -7.25;
  ASSERT_TRUE(site.WriteToInfos());
  const std::string written = ScopedTestHome::Read(InfosFileName());
  EXPECT_NE(written.find("[3451]"), std::string::npos) << written;
  EXPECT_NE(written.find("SiteLat=1.5e-05"), std::string::npos) << written;
  EXPECT_NE(written.find("SiteLon=-7.25"), std::string::npos) << written;
  EXPECT_EQ(InfosFileName(), (home.Root() / "data" / "zelt" / "Calibration" / "infos.ini").string());

  TSite other;
  other.CountryId = 3;
  other.DistrictId = 45;
  other.SiteNumber = 1;
  ASSERT_TRUE(other.ReadFromInfos());
  EXPECT_EQ(other.Name, "Roof");
  EXPECT_DOUBLE_EQ(other.Lat, 1.5e-5);
  EXPECT_DOUBLE_EQ(other.Lon, -7.25);
  EXPECT_EQ(other.Alt, 2373.0);  // not in the section: the current value stays
}

TEST(NumberTexts, EitherDecimalMarkSignAndExponent) {
  double v = 0;
  EXPECT_TRUE(TryReadReal("1.5E-5", v));
  EXPECT_DOUBLE_EQ(v, 1.5e-5);
  EXPECT_TRUE(TryReadReal("-1,25", v));
  EXPECT_DOUBLE_EQ(v, -1.25);
  EXPECT_TRUE(TryReadReal(" +3 ", v));
  EXPECT_DOUBLE_EQ(v, 3);
  EXPECT_FALSE(TryReadReal("1.2.3", v));
  EXPECT_FALSE(TryReadReal("", v));
  EXPECT_FALSE(TryReadReal("12a", v));
  EXPECT_EQ(RealTextDot(1.5e-5), "1.5e-05");
  EXPECT_EQ(RealTextDot(28.309), "28.309");
  EXPECT_EQ(RealTextDot(-16), "-16");
}
