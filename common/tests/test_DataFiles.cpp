// The description files shipped in data/: they load, and records of the simulated instrument decode
// into the physical values they were made from.
#include <gtest/gtest.h>

#include <cstdlib>

#include "common/StaParametre.h"
#include "common/tests/DescTestEnv.h"

namespace {

std::filesystem::path DataDir() {
  if (const char* dir = std::getenv("ZELT_DATA_DIR")) return dir;
  // The tree's own data folder, beside common/.
  return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "data";
}

class DataFilesTest : public ::testing::Test {
 protected:
  void SetUp() override { lists.LoadFolder(DataDir()); }

  // Texts and titles of a record's values, decoded as an event would decode them.
  std::vector<std::pair<std::string, std::string>> Decode(const std::string& hex) {
    std::vector<std::pair<std::string, std::string>> values;
    const TScnType* type = lists.Scn().FindType(hex, "SP0A0123");
    if (!type) return values;
    const TInstrument* instrument = lists.Ins().FindByID("SP0A0123");
    for (const auto& item : type->Items) {
      std::unique_ptr<TScnElement> element(CreateScnElement(item.get(), nullptr, hex));
      element->ResolveFilter(instrument);
      values.emplace_back(element->GetTitle(), element->GetASCIIString());
    }
    return values;
  }
  ScopedDescLists lists;
};

TEST_F(DataFilesTest, ListsLoad) {
  ASSERT_EQ(lists.Ins().Count(), 2);
  EXPECT_EQ(lists.Ins()[0]->Filters.size(), 22u);
  EXPECT_EQ(lists.Ins().GetInstrumentName("SP0A0123"), "Q5 sun photometer, 9 filters 340-1640 nm");
  EXPECT_EQ(lists.El().Count(), 23);
  ASSERT_EQ(lists.Scn().Count(), 9);
  for (const auto& type : lists.Scn().Items) {
    EXPECT_GT(type->Count(), 3) << type->Extension;  // every E line named a known value
    EXPECT_EQ(type->Items[0]->ValueKind, VAL_DATE);
    EXPECT_EQ(type->Items[1]->ValueKind, VAL_TIME);
  }
}

TEST_F(DataFilesTest, SunRecord) {
  // 21 June 2025 10:30:15, counts 1000..9000 for filters 1-9, head at 25.0 degrees (raw 650).
  std::string hex = "1020" "0007" "250621103015";
  for (int i = 1; i <= 9; ++i) {
    char count[8];
    std::snprintf(count, sizeof count, "%04X", i * 1000);
    hex += count;
  }
  hex += "028A" "FE20";
  auto values = Decode(hex);
  ASSERT_EQ(values.size(), 13u);
  EXPECT_EQ(values[0].second, "21/6/2025");
  EXPECT_EQ(values[1].second, "10:30:15");
  EXPECT_EQ(values[2].second, "7");
  EXPECT_EQ(values[3], (std::pair<std::string, std::string>("SUN 340 nm", "1000")));
  EXPECT_EQ(values[5].first, "SUN 440 nm");
  EXPECT_EQ(values[11], (std::pair<std::string, std::string>("SUN 1640 nm InGaAs", "9000")));
  EXPECT_EQ(values[12].first, "Head temp. (\xB0" "C)");
  EXPECT_EQ(values[12].second, "25.0");
}

TEST_F(DataFilesTest, HousekeepingRecord) {
  // Head 21.5 C, detector -10.00 C, battery 12.48 V, clock battery 3.04 V, humidity 35.5 %, dry,
  // status 0x81.
  std::string hex = "3016" "0001" "250621103000" "0267" "0960" "04E0" "4C" "47" "00" "81" "FE16";
  auto values = Decode(hex);
  ASSERT_EQ(values.size(), 10u);
  EXPECT_EQ(values[3].second, "21.5");
  EXPECT_EQ(values[4].second, "-10.00");
  EXPECT_EQ(values[5].second, "12.48");
  EXPECT_EQ(values[6].second, "3.04");
  EXPECT_EQ(values[7].second, "35.5");
  EXPECT_EQ(values[8].second, "Dry");
  EXPECT_EQ(values[9].second, "0x81");
}

TEST_F(DataFilesTest, SkyScansAreToldApartByTheirVariant) {
  std::string body = "250621110000" "0400" + std::string(32, '1') + "028A";
  EXPECT_EQ(lists.Scn().FindType("2020" "0102" + body + "FE20", "SP0A0123")->Extension, "ALM");
  EXPECT_EQ(lists.Scn().FindType("2020" "0202" + body + "FE20", "SP0A0123")->Extension, "PPL");
  EXPECT_EQ(lists.Scn().FindType("2020" "0302" + body + "FE20", "SP0A0123"), nullptr);
  EXPECT_EQ(lists.Scn().FindType("2020" "0102" + body + "FE20", "SP0B0000"), nullptr);
  // The extra file's types follow: dark counts are signed.
  std::string dark = "401E" "0003" "250621110000" "8005" + std::string(32, '0') + "FE1E";
  auto values = Decode(dark);
  ASSERT_EQ(values.size(), 12u);
  EXPECT_EQ(values[3], (std::pair<std::string, std::string>("SUN 340 nm", "-5")));
}

TEST_F(DataFilesTest, StationParameters) {
  std::string block(512, '0');
  auto set = [&block](int pos, const char* hex) { block.replace(static_cast<size_t>(pos) * 2, strlen(hex), hex); };
  set(0, "0A");
  set(4, "3B1E");  // latitude (15134 - 9000) / 100 = 61.34
  set(12, "0F");   // time zone +3
  set(18, "C3");   // battery low 195 * 4 / 100 = 7.80
  TDecodDorax decoder;
  std::unique_ptr<TParamsList> list(decoder.Decode(block, "SP0A0123", DataDir().string()));
  ASSERT_NE(list, nullptr) << decoder.ErrorString();
  EXPECT_EQ(decoder.Detail, (DataDir() / "SP0A0000.PAR").string());
  EXPECT_EQ(list->FindByNameID("TYPE")->GetValueText(), "0A");
  EXPECT_TRUE(list->FindByNameID("TYPE")->System);
  EXPECT_EQ(list->FindByNameID("LAT")->GetValueText(), "+61.34");
  EXPECT_EQ(list->FindByNameID("NHEU")->GetValueText(), "E3");
  EXPECT_EQ(list->FindByNameID("BATL")->GetValueText(), "7.80");
  EXPECT_EQ(list->FindByNameID("TSET")->Min, -40.0);
  EXPECT_FALSE(list->FindByNameID("ELMN")->DescText.empty());

  // Without a directory: the settings object's, else the installed data folder.
  ScopedTestHome home;
  home.Set("ZELT_DATA_DIR", DataDir().string());
  std::unique_ptr<TParamsList> installed(TDecodDorax().Decode(block, "SP0A0123"));
  ASSERT_NE(installed, nullptr);
  EXPECT_EQ(installed->FindByNameID("LAT")->GetValueText(), "+61.34");
}

}  // namespace
