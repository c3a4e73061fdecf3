// Instrument models and filters of "InsList.dat".
#include <gtest/gtest.h>

#include "common/tests/DescTestEnv.h"

namespace {

TEST(InstrumentList, LoadsModelsAndFilters) {
  ScopedTestHome home;
  std::filesystem::path file = home.Root() / "InsList.dat";
  ScopedTestHome::Write(file,
                        "N \"before any T\"\r\n"
                        "F 1,500,SUN,1\r\n"
                        "T SP0A0000, SP0A0001\r\n"
                        "N \"Photometer \"\"A\"\"\"\r\n"
                        "F 3,440,SUN,2\r\n"
                        "F 9,1020-1640,SUN,5\r\n"
                        "F 1,870,SKY,4,POLAR=2,DETECT=InGaAs\r\n"
                        "F 2,870.5,SKY,6,polar=x,detect=Si\r\n"
                        "F 4,abc,SUN,7\r\n"     // neither a number nor a band: skipped
                        "F 5,675\r\n"           // too few fields: an empty filter
                        "T SP0B0000,SP0A0001\r\n"
                        "N B\r\n");
  TInstrumentList list;
  ASSERT_TRUE(list.LoadFromFile(file.string()));
  ASSERT_EQ(list.Count(), 2);
  const TInstrument& a = *list[0];
  EXPECT_EQ(a.InstruName, "Photometer A");
  EXPECT_EQ(a.Ids, (std::vector<std::string>{"SP0A0000", "SP0A0001"}));
  ASSERT_EQ(a.Filters.size(), 5u);
  const TFilterDef* f440 = a.FindFilter(2, "SUN");
  ASSERT_NE(f440, nullptr);
  EXPECT_EQ(f440->Number, 3);
  EXPECT_DOUBLE_EQ(f440->Wavelength, 440.0);
  EXPECT_EQ(f440->GetLabel(), "SUN 440 nm");
  const TFilterDef* band = a.FindFilter(5, "SUN");
  ASSERT_NE(band, nullptr);
  EXPECT_EQ(band->Wavelength, 0.0);
  EXPECT_EQ(band->GetLabel(), "SUN Large");
  EXPECT_EQ(a.FindFilter(4, "SKY")->GetLabel(), "SKY 870 P2 InGaAs");
  const TFilterDef* odd = a.FindFilter(6, "SKY");
  ASSERT_NE(odd, nullptr);
  EXPECT_TRUE(odd->Polarised);
  EXPECT_EQ(odd->PolarChannel, 0);
  EXPECT_EQ(odd->Detector, "Si");
  EXPECT_EQ(a.FindFilter(2, "sun"), nullptr);
  EXPECT_EQ(a.FindFilter(7, "SUN"), nullptr);
  const TFilterDef& empty = *a.Filters.back();
  EXPECT_EQ(empty.Position, 0);
  EXPECT_TRUE(empty.Group.empty());
  // An identifier listed twice belongs to the first instrument.
  EXPECT_EQ(list.FindByID("SP0A0001"), list[0]);
  EXPECT_EQ(list.GetInstrumentName("SP0B0000"), "B");
  EXPECT_EQ(list.GetInstrumentName("SP990000"), "Inconnu (SP990000)");
  EXPECT_EQ(list.FindByID("SP0A000"), nullptr);
}

TEST(InstrumentList, MissingFileAndOddBytes) {
  ScopedTestHome home;
  TInstrumentList list;
  EXPECT_FALSE(list.LoadFromFile((home.Root() / "none.dat").string()));
  EXPECT_EQ(list.Count(), 0);
  const char raw[] = "T\0\n\xff\xfe\nF ,,,,,=,==\nF -,-,-,-\nT \nT";
  list.LoadFromText(std::string(raw, sizeof raw - 1));
  ASSERT_EQ(list.Count(), 2);  // "T" alone is too short to count
  ASSERT_EQ(list[0]->Filters.size(), 1u);  // an empty wavelength is no number: skipped
  EXPECT_EQ(list[0]->Filters[0]->GetLabel(), "- Large");
  EXPECT_TRUE(list[1]->Ids.empty());
}

}  // namespace
