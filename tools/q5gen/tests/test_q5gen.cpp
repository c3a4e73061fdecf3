// The generator's files read back through the data-file model as the descriptions say they should.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "common/DateTime.h"
#include "common/Evenement.h"
#include "common/Instrument.h"
#include "common/Q5File.h"
#include "common/ScnElement.h"
#include "common/ScnType.h"
#include "common/StaParametre.h"
#include "common/tests/DescTestEnv.h"
#include "tools/q5gen/Q5Gen.h"

namespace {

std::string DataDir() {
  return (std::filesystem::path(ZELT_TEST_SOURCE_DIR) / "data").string();
}

class Q5GenTest : public ::testing::Test {
 protected:
  void SetUp() override { lists.LoadFolder(DataDir()); }

  std::unique_ptr<TQ5File> Generate(q5gen::Options options, q5gen::Report& report) {
    options.dataDir = DataDir();
    std::string bytes;
    std::string error;
    EXPECT_TRUE(q5gen::Generate(options, bytes, report, error)) << error;
    auto file = std::make_unique<TQ5File>();
    file->LoadFromBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    file->AttachInstrument(lists.Ins().FindByID(file->InstrumentId));
    return file;
  }
  ScopedTestHome home;
  ScopedDescLists lists;
};

TEST_F(Q5GenTest, ValidRecordsDecodeIntoPlausibleValues) {
  q5gen::Options options;
  options.records = 60;
  options.erasedTail = 700;
  q5gen::Report report;
  std::unique_ptr<TQ5File> file = Generate(options, report);
  EXPECT_EQ(report.typed, 60);
  EXPECT_EQ(file->InstrumentId, "SP0A0123");
  EXPECT_EQ(file->InstruName(), "Q5 sun photometer, 9 filters 340-1640 nm");
  ASSERT_EQ(file->Events.Count(), 60);  // the erased tail adds nothing
  EXPECT_EQ(file->NbEvt(), 60);
  std::map<std::string, int> perType;
  for (int i = 0; i < file->Events.Count(); ++i) {
    TEvenement* event = file->Events[i];
    ASSERT_TRUE(event->Valid);
    ASSERT_NE(event->ScnType, nullptr) << event->Evt();
    EXPECT_NE(event->Date, 0.0);
    ++perType[event->ScnType->Extension];
    for (int k = 0; k < event->Count(); ++k) {
      std::string text = event->Items(k)->GetASCIIString();
      EXPECT_FALSE(text == "----" || text == "Abs." || text == "<<<<" || text == ">>>>" || text == "HErr" ||
                   text == "****" || text == "!!!!" || text == "???" || text.empty())
          << event->ScnType->Extension << " " << event->Items(k)->GetTitle() << " " << event->AsciiString();
    }
  }
  EXPECT_EQ(perType.size(), 8u);
  // Sky scans walk the filter positions; their titles name the filter.
  for (int i = 0; i < file->Events.Count(); ++i)
    if (file->Events[i]->ScnType->Extension == "ALM") {
      EXPECT_EQ(file->Events[i]->Items(4)->GetTitle().rfind("3.0\xB0 SKY ", 0), 0u);
      break;
    }
  // The parameter block decodes with the station's PAR file.
  TDecodDorax decoder;
  std::unique_ptr<TParamsList> params(decoder.Decode(file->ParamBloc(), file->InstrumentId, DataDir()));
  ASSERT_NE(params, nullptr) << decoder.ErrorString();
  EXPECT_EQ(params->FindByNameID("LAT")->GetValueText(), "+48.71");
  EXPECT_EQ(params->FindByNameID("TYPE")->GetValueText(), "0A");
  EXPECT_NE(file->PcUtc, 0.0);
}

TEST_F(Q5GenTest, SunCountsFallAsTheSunGoesDown) {
  q5gen::Options options;
  options.records = 8 * 30;  // 8 hours at 2 minutes (one record of each type in turn): noon to evening
  ASSERT_TRUE(q5gen::ParseDateTime("2025-06-21T11:00:00", options.start));
  q5gen::Report report;
  std::unique_ptr<TQ5File> file = Generate(options, report);
  std::vector<double> counts440;
  for (int i = 0; i < file->Events.Count(); ++i) {
    TEvenement* event = file->Events[i];
    if (event->ScnType && event->ScnType->Extension == "SUN")
      counts440.push_back(std::atof(event->Items(5)->GetASCIIString().c_str()));
  }
  ASSERT_GE(counts440.size(), 30u);
  EXPECT_GT(counts440.front(), 10000);
  EXPECT_LT(counts440.back(), counts440.front() / 2);
}

// Counts of a file's events as the station reads them.
struct Kinds {
  int invalid = 0, undated = 0, unknown = 0, typedDated = 0;
  explicit Kinds(const TQ5File& file) {
    for (int i = 0; i < file.Events.Count(); ++i) {
      TEvenement* event = file.Events[i];
      if (!event->Valid) ++invalid;
      else if (event->Date == 0) ++undated;
      else if (!event->ScnType) ++unknown;
      else ++typedDated;
    }
  }
};

TEST_F(Q5GenTest, DamagedRecordsReadAsReported) {
  q5gen::Options options;
  options.records = 200;
  options.damaged = 40;
  options.seed = 7;
  options.damageKinds = q5gen::DAMAGE_ALL & ~q5gen::DAMAGE_FRAME;
  q5gen::Report report;
  std::unique_ptr<TQ5File> file = Generate(options, report);
  EXPECT_EQ(report.typed, 160);
  EXPECT_EQ(report.endCorrupted + report.undated + report.unknownCode + report.markers, 40);
  EXPECT_GT(report.endCorrupted, 0);
  EXPECT_GT(report.undated, 0);
  EXPECT_GT(report.unknownCode, 0);
  EXPECT_GT(report.markers, 0);
  Kinds kinds(*file);
  EXPECT_EQ(kinds.invalid, report.endCorrupted);
  EXPECT_EQ(kinds.undated, report.undated);
  EXPECT_EQ(kinds.unknown, report.unknownCode);
  EXPECT_EQ(kinds.typedDated, report.typed + report.markers);
}

TEST_F(Q5GenTest, BrokenFramesAreSkippedAndReadingGoesOn) {
  q5gen::Options options;
  options.records = 100;
  options.damaged = 10;
  options.damageKinds = q5gen::DAMAGE_FRAME;
  q5gen::Report report;
  std::unique_ptr<TQ5File> file = Generate(options, report);
  EXPECT_EQ(report.brokenFrame, 10);
  Kinds kinds(*file);
  EXPECT_GE(kinds.typedDated, 80);  // chance frames inside a broken record may swallow a few
  EXPECT_LE(kinds.typedDated, 90);
}

TEST_F(Q5GenTest, Repeatability) {
  q5gen::Options options;
  options.dataDir = DataDir();
  options.records = 50;
  options.damaged = 10;
  std::string a, b, c, error;
  q5gen::Report r;
  ASSERT_TRUE(q5gen::Generate(options, a, r, error));
  ASSERT_TRUE(q5gen::Generate(options, b, r, error));
  options.seed = 8;
  ASSERT_TRUE(q5gen::Generate(options, c, r, error));
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  options.records = 0;
  options.targetSize = 100000;
  ASSERT_TRUE(q5gen::Generate(options, a, r, error));
  EXPECT_NEAR(static_cast<double>(a.size()), 100000.0, 300.0);
}

TEST_F(Q5GenTest, ParametersAndErrors) {
  q5gen::Options options;
  options.dataDir = DataDir();
  options.records = 1;
  options.params = {{"LAT", "-33.45"}, {"NHEU", "-5"}};
  std::string bytes, error;
  q5gen::Report report;
  ASSERT_TRUE(q5gen::Generate(options, bytes, report, error)) << error;
  TQ5File file;
  file.LoadFromBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  TDecodDorax decoder;
  std::unique_ptr<TParamsList> params(decoder.Decode(file.ParamBloc(), "SP0A0123", DataDir()));
  ASSERT_NE(params, nullptr);
  EXPECT_EQ(params->FindByNameID("LAT")->GetValueText(), "-33.45");
  EXPECT_EQ(params->FindByNameID("NHEU")->GetValueText(), "W5");

  options.params = {{"NOPE", "1"}};
  EXPECT_FALSE(q5gen::Generate(options, bytes, report, error));
  EXPECT_NE(error.find("NOPE"), std::string::npos);
  options.params = {{"LAT", "95"}};
  EXPECT_FALSE(q5gen::Generate(options, bytes, report, error));
  options.params.clear();
  options.identifier = "SP990000";
  EXPECT_FALSE(q5gen::Generate(options, bytes, report, error));
  options.dataDir = home.Root().string();  // no descriptions at all
  options.identifier = "SP0A0123";
  EXPECT_FALSE(q5gen::Generate(options, bytes, report, error));
}

TEST_F(Q5GenTest, CommandLineWritesTheFile) {
  std::string out = (home.Root() / "sub dir" / "gen.q5").string();
  std::filesystem::create_directories(home.Root() / "sub dir");
  std::string command = "'" + std::string(ZELT_Q5GEN_BIN) + "' --data '" + DataDir() +
                        "' --records 12 --size 0 --erased 300 --seed 3 --start 2025-06-01T06:00:00 '" + out +
                        "' > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  TQ5File file(out);
  EXPECT_EQ(file.Events.Count(), 12);
  EXPECT_EQ(file.Events[0]->AsciiString().substr(0, 17), "1/6/2025,6:0:0,0,");
  EXPECT_NE(std::system(("'" + std::string(ZELT_Q5GEN_BIN) + "' --records x out.q5 2> /dev/null").c_str()), 0);
}

}  // namespace

TEST_F(Q5GenTest, SunDaysAreTripletsInDaylightAtTheSiteOfTheParameters) {
  q5gen::Options options;
  options.sunDays = 2;
  options.interval = 600;
  options.params = {{"LAT", "28.31"}, {"LON", "-16.50"}, {"SITE", "12"}};
  ASSERT_TRUE(q5gen::ParseDateTime("2025-03-10T13:00:00", options.start));
  q5gen::Report report;
  std::unique_ptr<TQ5File> file = Generate(options, report);
  // Two whole days from midnight; at 28 N in March the sun is above 5 degrees for about 11 hours.
  EXPECT_GT(report.typed, 2 * 60);
  EXPECT_LT(report.typed, 2 * 72);
  ASSERT_EQ(file->Events.Count(), report.typed);
  double previous = 0;
  for (int i = 0; i < file->Events.Count(); ++i) {
    TEvenement* event = file->Events[i];
    ASSERT_EQ(event->ScnType->Extension, "NSU");
    EXPECT_GT(event->Date, previous);
    previous = event->Date;
    // Date, time, 27 counts, the temperature.
    ASSERT_EQ(event->Count(), 30);
    EXPECT_EQ(event->Items(29)->GetASCIIString(), "25.0");
    // The first block holds the 1020 nm count, the third block's last the 1640 nm one.
    EXPECT_EQ(event->Items(2)->GetTitle(), "SUN 1020 nm");
    EXPECT_EQ(event->Items(28)->GetTitle(), "SUN 1640 nm InGaAs");
  }
  int year, month, day;
  DecodeDate(file->Events[0]->Date, year, month, day);
  EXPECT_EQ(day, 10);
  DecodeDate(previous, year, month, day);
  EXPECT_EQ(day, 11);
  // The plug-ins' site: station number, latitude in minutes and longitude in time.
  TDecodDorax decoder;
  std::unique_ptr<TParamsList> params(decoder.Decode(file->ParamBloc(), "SP0A0123", DataDir()));
  ASSERT_NE(params, nullptr);
  EXPECT_EQ(params->FindByNameID("NNUM")->Value, 12);
  EXPECT_NEAR(params->FindByNameID("NLAT")->Value, 28.31 * 60, 1e-9);
  EXPECT_EQ(params->FindByNameID("NHEU")->GetValueText(), "W2");
  EXPECT_EQ(params->FindByNameID("NMIN")->Value, 6);
  EXPECT_EQ(params->FindByNameID("NSEC")->Value, 0);

  options.sunExtras = true;
  file = Generate(options, report);
  ASSERT_GT(file->Events.Count(), 0);
  EXPECT_EQ(file->Events[0]->ScnType->Extension, "SSK");
  EXPECT_EQ(file->Events[0]->Count(), 33);
}
