// Import of the host's sun data: filter order, counts of the sun triplets with the 1020 nm correction
// and the markers left out, the site from the station parameters, and whole days made by q5gen.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>

#include "common/DataPaths.h"
#include "common/FileUtils.h"
#include "common/Instrument.h"
#include "common/Q5File.h"
#include "common/StaParametre.h"
#include "common/analysis/BgrData.h"
#include "common/analysis/ImportData.h"
#include "common/analysis/ZeltUtils.h"
#include "common/tests/DescTestEnv.h"
#include "common/tests/PlatformTestEnv.h"
#include "common/tests/support/Q5Images.h"

namespace {

class ImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lists.LoadFolder(InstalledDataDir());
    data = std::make_unique<TBgrData>();
    gBgrData = data.get();
  }
  void TearDown() override { gBgrData = nullptr; }

  std::unique_ptr<TQ5File> Load(const q5test::Bytes& image) {
    auto file = std::make_unique<TQ5File>();
    file->LoadFromBytes(image.data(), image.size());
    file->AttachInstrument(lists.Ins().FindByID(file->InstrumentId));
    return file;
  }
  std::unique_ptr<TParamsList> Params(const TQ5File& file) {
    TDecodDorax decoder;
    return std::unique_ptr<TParamsList>(decoder.Decode(file.ParamBloc(), file.InstrumentId, PathToBytes(InstalledDataDir())));
  }
  // An NSU record: three blocks of nine counts (1020 870 675 440 500 940 380 340 1640) and a temperature.
  static q5test::Bytes Nsu(const q5test::RecordDate& date, const std::vector<int>& counts, double celsius) {
    q5test::Bytes values;
    for (int k = 0; k < 27; ++k) {
      const int v = counts[static_cast<size_t>(k % counts.size())];
      values.push_back(static_cast<uint8_t>(v >> 8));
      values.push_back(static_cast<uint8_t>(v));
    }
    const int raw = static_cast<int>(std::lround(celsius * 10 + 400));
    values.push_back(static_cast<uint8_t>(raw >> 8));
    values.push_back(static_cast<uint8_t>(raw));
    return q5test::MakeRecord(0x12, date, values);
  }

  ScopedTestHome home;
  ScopedDescLists lists;
  std::unique_ptr<TBgrData> data;
};

}  // namespace

TEST_F(ImportTest, TenFiltersTakeTheCanonicalOrder) {
  lists.Ins().LoadFromText("T SPTEN\nN ten\nF 1,340,SUN,1\nF 2,380,SUN,2\nF 3,440,SUN,3\nF 4,500,SUN,4\nF 5,670,SUN,5\n"
                           "F 6,870,SUN,6\nF 7,936,SUN,7\nF 8,1020,SUN,8\nF 9,1020,SUNI,9\nF 10,1640,SUN,10\nF 11,870,SKY,1\n");
  TQ5File file;
  file.Instrument = lists.Ins().FindByID("SPTEN");
  TImportData import(*data, &file, nullptr);
  EXPECT_EQ(import.Status, TImportData::NoSunCount);
  std::vector<std::string> order;
  for (const auto& f : data->FilterList) order.push_back(f->FilterDef->Group + " " + f->GetName());
  EXPECT_EQ(order, (std::vector<std::string>{"SUN 1020 nm", "SUN 1640 nm", "SUN 870 nm", "SUN 670 nm", "SUN 440 nm",
                                             "SUN 500 nm", "SUNI 1020 nm", "SUN 936 nm", "SUN 380 nm", "SUN 340 nm"}));
  // Colours follow the instrument's order: the 340 nm filter took the first.
  EXPECT_EQ(data->FilterList.back()->Color, 0x0000FFu);
  EXPECT_EQ(FilterColor(10), 0xFF0080u);
  EXPECT_EQ(FilterColor(11), 0xFF0000u);
}

TEST_F(ImportTest, NoInstrumentOrNoSunFilter) {
  TQ5File none;
  EXPECT_EQ(TImportData(*data, &none, nullptr).Status, TImportData::NoSunFilter);
  lists.Ins().LoadFromText("T SPSKY\nN sky\nF 1,870,SKY,1\n");
  none.Instrument = lists.Ins().FindByID("SPSKY");
  EXPECT_EQ(TImportData(*data, &none, nullptr).Status, TImportData::NoSunFilter);
  lists.Ins().LoadFromText("T SPSUNI\nN suni\nF 1,870,SUNI,1\nF 2,1020,SUNI,2\n");
  none.Instrument = lists.Ins().FindByID("SPSUNI");
  TImportData onlySuni(*data, &none, nullptr);
  EXPECT_EQ(onlySuni.Status, TImportData::NoSunCount);
  EXPECT_EQ(data->FilterList.size(), 2u);
}

TEST_F(ImportTest, TripletCountsWithTheTemperatureCorrectionAndWithoutMarkers) {
  const std::vector<int> counts = {1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000, 0xFFFB};
  const q5test::Bytes sun = q5test::MakeRecord(0x10, {2025, 6, 1, 9, 0, 0}, q5test::Bytes(20, 0x10));
  std::unique_ptr<TQ5File> file =
      Load(q5test::MakeImage(q5test::MakeParamBlock(0x0A, "SP0A0123"),
                             {Nsu({2025, 6, 1, 10, 0, 0}, counts, 35), Nsu({2025, 6, 1, 10, 15, 0}, counts, 15), sun}));
  TImportData import(*data, file.get(), nullptr);
  ASSERT_EQ(import.Status, TImportData::ImportOk);
  ASSERT_EQ(data->FilterList.size(), 9u);
  EXPECT_EQ(data->FilterList[0]->GetName(), "1020 nm");
  EXPECT_EQ(data->FilterList[8]->GetName(), "1640 nm");
  TCNSerie* s1020 = data->GetSerie(8);
  ASSERT_EQ(s1020->Count(), 6);  // three readings of two triplets
  EXPECT_DOUBLE_EQ(s1020->Points[0]->CN, 975);
  EXPECT_DOUBLE_EQ(s1020->Points[3]->CN, 1025);
  EXPECT_DOUBLE_EQ(s1020->Points[0]->Temperature, 35);
  EXPECT_DOUBLE_EQ(s1020->Points[0]->Time, s1020->Points[2]->Time);
  EXPECT_DOUBLE_EQ(data->GetSerie(6)->Points[0]->CN, 2000);  // 870 nm: no correction
  // The absent marker of the 1640 nm filter is no count; the plain SUN record adds nothing.
  EXPECT_EQ(data->GetSerie(9)->Count(), 0);
  EXPECT_EQ(data->GetNbTotalCN(), 6 * 8);
}

TEST_F(ImportTest, WithoutTemperatureThe1020CountIsCorrectedFromTen) {
  // An SSK record without temperature is not possible with the descriptions: take an instrument and
  // a type description of our own.
  lists.El().LoadFromText("EL_SUN,3,\"sun\",3,\"Sun\"\n");
  lists.Scn().LoadFromText("S 9,0x55,NSU,\"bare\",0\nE VAL_DATE,4,Date\nE VAL_TIME,7,Time\nE VAL_CN,10,EL_SUN,F=8,T=SUN\n");
  q5test::Bytes values = {0x03, 0xE8};  // 1000
  std::unique_ptr<TQ5File> file = Load(q5test::MakeImage(q5test::MakeParamBlock(0x0A, "SP0A0123"),
                                                         {q5test::MakeRecord(0x55, {2025, 6, 1, 10, 0, 0}, values)}));
  TImportData import(*data, file.get(), nullptr);
  ASSERT_EQ(import.Status, TImportData::ImportOk);
  EXPECT_DOUBLE_EQ(data->GetSerie(8)->Points[0]->CN, 1037.5);
}

TEST_F(ImportTest, SitePositionAndIdsFromTheStationParameters) {
  TParamsList params;
  auto add = [&params](const char* code, double value) {
    auto p = std::make_unique<TStaParametre>();
    p->Code = code;
    p->Value = value;
    params.Items.push_back(std::move(p));
  };
  add("NHEU", -1);
  add("NMIN", 30);
  add("NSEC", 0);
  TSitePosition position = ReadSitePosition(params);
  EXPECT_TRUE(position.HasLongitude);
  EXPECT_DOUBLE_EQ(position.Longitude, -7.5);
  EXPECT_FALSE(position.HasLatitude);
  EXPECT_EQ(position.Altitude, -999);
  EXPECT_EQ(ReadSiteIds(params).SiteNumber, -1);
  add("NLAT", 1698.54);
  add("NNUM", 12.7);
  add("NDEP", 3);
  add("NCOM", 45);
  EXPECT_DOUBLE_EQ(ReadSitePosition(params).Latitude, 28.309);
  const TSiteIds ids = ReadSiteIds(params);
  EXPECT_EQ(ids.SiteNumber, 12);
  EXPECT_EQ(ids.CountryId, 3);
  EXPECT_EQ(ids.DistrictId, 45);
  // Only NHEU and NMIN: no longitude.
  params.Items.erase(params.Items.begin() + 2);
  EXPECT_FALSE(ReadSitePosition(params).HasLongitude);
}

TEST_F(ImportTest, WholeDaysFromQ5genGiveV0BackAndTheSiteOfTheParameters) {
  const std::string q5gen = std::string(std::getenv("ZELT_BIN_DIR") ? std::getenv("ZELT_BIN_DIR") : "") + "/q5gen";
  const std::string out = (home.Root() / "days.q5").string();
  const std::string command = "'" + q5gen + "' --sun-days 1 --start 2025-06-20 --interval 300 --sun-temp 31 " +
                              "--param LAT=28.31 --param LON=-16.50 --param SITE=12 --param ALT=2373 '" + out + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  std::string bytes;
  ASSERT_TRUE(ReadFileBytes(out, bytes));
  std::unique_ptr<TQ5File> file = Load(q5test::Bytes(bytes.begin(), bytes.end()));
  std::unique_ptr<TParamsList> params = Params(*file);
  ASSERT_NE(params, nullptr);
  TImportData import(*data, file.get(), params.get());
  ASSERT_EQ(import.Status, TImportData::ImportOk);
  EXPECT_EQ(data->Site->SiteNumber, 12);
  EXPECT_EQ(data->Site->Name, "Site 12");
  EXPECT_DOUBLE_EQ(data->Site->Lat, 28.31);
  EXPECT_DOUBLE_EQ(data->Site->Lon, -16.5);
  // The morning's Langley of every filter gives V0 back (counts are whole numbers, a few tens at 340 nm:
  // to 1e-3).
  const std::map<int, double> v0 = {{1020, 20190}, {870, 26323}, {675, 30932}, {440, 26695}, {500, 28686},
                                     {940, 23523},  {380, 24349}, {340, 22687}, {1640, 9174}};
  ASSERT_EQ(data->SerieList.size(), 9u);
  for (size_t k = 0; k < 9; ++k) {
    TCNSerie* serie = data->SerieList[k].get();
    const int nm = static_cast<int>(data->FindFilter(serie->FilterNumber)->FilterDef->Wavelength);
    // The triplet's readings were taken 30 s apart: the window shifts them so before a fit.
    for (int i = 0; i < serie->Count(); ++i) serie->Points[static_cast<size_t>(i)]->Time += (i % 3) * 30 / 86400.0;
    // Morning only, air masses 2 to 5, as a calibration would take them.
    for (auto& p : serie->Points) {
      double m = 0;
      p->Enabled = p->GetAirMass(m) && m >= 2 && m <= 5 && std::fmod(p->Time, 1.0) < 0.5;
    }
    double slope = 0, intercept = 0, r2 = 0;
    ASSERT_TRUE(serie->ComputeLangley(slope, intercept, r2)) << k;
    EXPECT_NEAR(std::exp(intercept) / v0.at(nm), 1.0, 1e-3) << nm;
  }
}

TEST_F(ImportTest, TripletsWithDarkCountsImportTheSameCounts) {
  const std::string q5gen = std::string(std::getenv("ZELT_BIN_DIR") ? std::getenv("ZELT_BIN_DIR") : "") + "/q5gen";
  auto import = [&](const std::string& name, const std::string& extra) {
    const std::string out = (home.Root() / name).string();
    const std::string command = "'" + q5gen + "' --sun-days 1 --start 2025-06-20 --interval 1800 " + extra + " '" + out + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::string bytes;
    EXPECT_TRUE(ReadFileBytes(out, bytes));
    std::unique_ptr<TQ5File> file = Load(q5test::Bytes(bytes.begin(), bytes.end()));
    TBgrData set;
    gBgrData = &set;
    TImportData run(set, file.get(), nullptr);
    EXPECT_EQ(run.Status, TImportData::ImportOk);
    std::vector<double> counts;
    for (const auto& serie : set.SerieList)
      for (const auto& p : serie->Points) counts.push_back(p->CN);
    gBgrData = data.get();
    return counts;
  };
  const std::vector<double> plain = import("nsu.q5", "");
  const std::vector<double> withDark = import("ssk.q5", "--sun-extras");
  ASSERT_GT(plain.size(), 9u * 3 * 20);
  EXPECT_EQ(plain, withDark);  // the dark counts are no sun counts
}
