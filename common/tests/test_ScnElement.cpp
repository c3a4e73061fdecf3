// Value descriptions and the decoding of one value of a record into its text.
#include <gtest/gtest.h>

#include "common/DecimalSep.h"
#include "common/Utils.h"
#include "common/tests/DescTestEnv.h"

namespace {

class ScnElementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lists.El().LoadFromText("Date,1,\"Date\",1,\"Date\"\n"
                            "Time,2,\"Time\",2,\"Time\"\n"
                            "SunCN,3,\"Sun count\",3,\"Sun\"\n"
                            "Mes,4,\"A value\",5,\"Value\"\n"
                            "Plain,9,\"Plain\",5,\"Plain\"\n"
                            "Short,1,\"four fields\",1\n");
  }
  // An item of the given kind reading at byte 2 of the record.
  TScnTypeItem& Item(const std::string& name, int32_t kind, int32_t offset = 2) {
    items.push_back(std::make_unique<TScnTypeItem>());
    TScnTypeItem& item = *items.back();
    item.ValueDesc = lists.El().Find(name);
    item.ValueKind = kind;
    item.Offset = offset;
    return item;
  }
  // Text of the value whose bytes (hex) start at byte 2 of a record.
  std::string Text(TScnTypeItem& item, const std::string& valueHex) {
    std::unique_ptr<TScnElement> element(CreateScnElement(&item, nullptr, RecordHex(0x30, valueHex)));
    return element->GetASCIIString();
  }
  ScopedDescLists lists;
  std::vector<std::unique_ptr<TScnTypeItem>> items;
};

TEST_F(ScnElementTest, ValueDescriptionFile) {
  ASSERT_EQ(lists.El().Count(), 5);  // the four-field line is ignored
  const TValueDesc* plain = lists.El().Find("Plain");
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain->ValueClass, 9);
  EXPECT_EQ(plain->Icon, 5);
  EXPECT_EQ(plain->Title, "Plain");
  EXPECT_EQ(lists.El().Find("plain"), nullptr);
  TListElScn other;
  other.LoadFromText("X,one,\"d\",icon,\"t\"\n");
  ASSERT_EQ(other.Count(), 1);
  EXPECT_EQ(other[0]->ValueClass, 0);
  EXPECT_EQ(other[0]->Icon, 3);
}

TEST_F(ScnElementTest, SpecialCodesOfCounts) {
  TScnTypeItem& mes = Item("Mes", VAL_CN);
  TScnTypeItem& filter = Item("SunCN", VAL_CN);
  EXPECT_EQ(Text(mes, "FFFF"), "----");
  EXPECT_EQ(Text(mes, "FFFB"), "Abs.");
  EXPECT_EQ(Text(mes, "FFFC"), "<<<<");
  EXPECT_EQ(Text(mes, "FFFD"), ">>>>");
  EXPECT_EQ(Text(mes, "FFFE"), "HErr");
  EXPECT_EQ(Text(mes, "FFFA"), "****");
  EXPECT_EQ(Text(mes, "FFF9"), "65529");
  EXPECT_EQ(Text(filter, "FFF9"), "!!!!");
  EXPECT_EQ(Text(filter, "FFF7"), "65527");
  lists.Scn().ForceDisplayDecimalValue = 1;
  EXPECT_EQ(Text(mes, "FFFF"), "65535");
  EXPECT_EQ(Text(filter, "FFF9"), "65529");
}

TEST_F(ScnElementTest, PhysicalValues) {
  TScnTypeItem& temp = Item("Mes", VAL_TEMP);
  temp.Decimals = 1;
  EXPECT_EQ(Text(temp, "01F4"), "10.0");
  EXPECT_EQ(Text(temp, "0064"), "-30.0");
  TScnTypeItem& temp2 = Item("Mes", VAL_TEMP2);
  temp2.Decimals = 2;
  EXPECT_EQ(Text(temp2, "0C80"), "0.00");
  EXPECT_EQ(Text(temp2, "0FA0"), "10.00");
  EXPECT_EQ(Text(Item("Mes", VAL_BAT), "7D"), "5");
  TScnTypeItem& bat2 = Item("Mes", VAL_BAT2);
  bat2.Decimals = 2;
  EXPECT_EQ(Text(bat2, "0535"), "13.33");
  EXPECT_EQ(Text(Item("Mes", VAL_HUM), "F8"), "****");
  TScnTypeItem& hum = Item("Mes", VAL_HUM);
  hum.Decimals = 1;
  EXPECT_EQ(Text(hum, "65"), "50.5");
  EXPECT_EQ(Text(Item("Mes", VAL_BYTECN), "FF"), "255");  // no special codes for a byte count
  EXPECT_EQ(Text(Item("Mes", VAL_CN3BYTES), "FFFFFF"), "16777215");
  EXPECT_EQ(Text(Item("Mes", VAL_BYTEHEX), "12"), "----");  // no decoding for this kind
  EXPECT_EQ(Text(Item("SunCN", VAL_SCN), "8005"), "-5");
  EXPECT_EQ(Text(Item("SunCN", VAL_SCN), "0005"), "5");
  EXPECT_EQ(Text(Item("SunCN", VAL_TEMP), "0005"), "0");
}

TEST_F(ScnElementTest, ProcessDecimalSeparator) {
  TScnTypeItem& temp = Item("Mes", VAL_TEMP);
  temp.Decimals = 1;
  SetDecimalSeparator(',');
  std::string text = Text(temp, "01F4");
  TScnTypeItem& angled = Item("SunCN", VAL_CN);
  angled.AngleGiven = 1;
  angled.Angle = 2.5f;
  std::string angleTitle = angled.GetTitle();
  SetDecimalSeparator('.');
  EXPECT_EQ(text, "10,0");
  EXPECT_EQ(angleTitle, "Sun Angle 2,5");
}

TEST_F(ScnElementTest, DisplayModesAndLabels) {
  TScnTypeItem& hex = Item("Mes", VAL_BYTECN);
  hex.DisplayMode = DISPLAY_HEX;
  EXPECT_EQ(Text(hex, "0A"), "0x0A");
  TScnTypeItem& hex16 = Item("Mes", VAL_CN);
  hex16.DisplayMode = DISPLAY_HEX;
  EXPECT_EQ(Text(hex16, "00AB"), "0x00AB");
  TScnTypeItem& chr = Item("Mes", VAL_BYTECN);
  chr.DisplayMode = DISPLAY_CHAR;
  EXPECT_EQ(Text(chr, "41"), "A");
  TScnTypeItem& odd = Item("Mes", VAL_BYTECN);
  odd.DisplayMode = 7;
  EXPECT_EQ(Text(odd, "41"), "???");
  TScnTypeItem& wet = Item("Mes", VAL_BYTECN);
  wet.Labels = std::make_unique<std::vector<TScnLabel>>(
      std::vector<TScnLabel>{{"Off", 0}, {"On", 1}});
  EXPECT_EQ(Text(wet, "01"), "On");
  EXPECT_EQ(Text(wet, "00"), "Off");
  EXPECT_EQ(Text(wet, "02"), "2");
  lists.Scn().ForceDisplayDecimalValue = 1;
  EXPECT_EQ(Text(wet, "01"), "1");
}

TEST_F(ScnElementTest, NumberRounding) {
  EXPECT_EQ(FormatFixedDigits(0.52f, 8, 6, '.'), "0.52000000");
  EXPECT_EQ(FormatFixedDigits(12.345678, 2, 6, ','), "12,35");
  EXPECT_EQ(FormatFixedDigits(123456.78, 3, 6, '.'), "123457.000");
  EXPECT_EQ(FormatFixedDigits(16777215.0, 0, 6, '.'), "16777215");
  EXPECT_EQ(FormatFixedDigits(15.0, 1, 8, '.'), "15.0");
  EXPECT_EQ(FormatFixedDigits(-0.0125, 4, 6, '.'), "-0.0125");
  EXPECT_EQ(FormatFixedDigits(1.5, -3, 6, '.'), "2");
  EXPECT_EQ(FormatFixedDigits(1.0, 1000, 6, '.').size(), 32u);  // decimals capped
}

TEST_F(ScnElementTest, ExactHalvesRoundAwayFromZero) {
  EXPECT_EQ(FormatFixedDigits(40.5, 0, 6, '.'), "41");
  EXPECT_EQ(FormatFixedDigits(2.5, 0, 6, '.'), "3");
  EXPECT_EQ(FormatFixedDigits(-2.5, 0, 6, '.'), "-3");
  EXPECT_EQ(FormatFixedDigits(0.125, 2, 6, ','), "0,13");
  EXPECT_EQ(FormatFixedDigits(-0.375, 2, 6, '.'), "-0.38");
  EXPECT_EQ(FormatFixedDigits(-0.5, 0, 6, '.'), "-1");
  EXPECT_EQ(FormatFixedDigits(1234568.5, 0, 8, '.'), "1234569");
  EXPECT_EQ(FormatFixedDigits(1234568.5, 1, 8, '.'), "1234568.5");
  // The six-significant-digit limit rounds the same way: 12345.25 keeps one decimal.
  EXPECT_EQ(FormatFixedDigits(12345.25, 3, 6, '.'), "12345.300");
  // Not exactly half-way: the nearest text, whichever side (0.15 is stored just below it).
  EXPECT_EQ(FormatFixedDigits(0.15, 1, 6, '.'), "0.1");
  EXPECT_EQ(FormatFixedDigits(0.35, 1, 6, '.'), "0.3");
  // Humidity is counted in half percents: 81 reads 40.5 %, shown 41 without decimals.
  TScnTypeItem& humidity = Item("Mes", VAL_HUM);
  EXPECT_EQ(Text(humidity, "51"), "41");
  humidity.Decimals = 1;
  EXPECT_EQ(Text(humidity, "51"), "40.5");
}

TEST_F(ScnElementTest, DateAndTime) {
  TScnTypeItem& date = Item("Date", VAL_DATE);
  TScnTypeItem& time = Item("Time", VAL_TIME);
  EXPECT_EQ(Text(date, "210305"), "5/3/2021");
  EXPECT_EQ(Text(date, "990305"), "5/3/1999");
  lists.Scn().ShowZeroDate = 1;
  EXPECT_EQ(Text(date, "210305"), "05/03/2021");
  lists.Scn().Year4Digits = 0;
  EXPECT_EQ(Text(date, "210305"), "05/03/21");
  lists.Scn().ShowZeroDate = 0;
  EXPECT_EQ(Text(date, "210305"), "5/3/21");
  EXPECT_EQ(Text(date, "211A05"), "0/0/0");  // not decimal
  EXPECT_EQ(Text(time, "080907"), "8:9:7");
  // One pair that is not decimal sets all three parts to 0, wherever it stands.
  for (const char* bad : {"130F20", "13200F", "1A2020", "1320 2", "FFFFFF"})
    EXPECT_EQ(Text(time, bad), "0:0:0") << bad;
  EXPECT_EQ(Text(date, "25060F"), "0/0/0");
  lists.Scn().ShowZeroDate = 1;
  lists.Scn().QuotedDateTime = 1;
  lists.Scn().SepTime = "-";
  EXPECT_EQ(Text(time, "080907"), "\"08-09-07\"");
  EXPECT_EQ(Text(time, "130F20"), "\"00-00-00\"");
  // Only the date kind decodes a date.
  EXPECT_EQ(Text(Item("Date", VAL_CN), "210305"), "\"00/00/00\"");
}

TEST_F(ScnElementTest, ReadsOutsideTheRecordAreAbsent) {
  TScnTypeItem& past = Item("Mes", VAL_CN, 40);
  EXPECT_EQ(Text(past, "0001"), "----");
  TScnTypeItem& negative = Item("Mes", VAL_CN, -3);
  EXPECT_EQ(Text(negative, "0001"), "----");
  TScnTypeItem& edge = Item("SunCN", VAL_CN, 5);  // one byte short: hex of 6 bytes + end
  EXPECT_EQ(Text(edge, "00"), "----");
  TScnTypeItem& date = Item("Date", VAL_DATE, 4);
  EXPECT_EQ(Text(date, "2103"), "0/0/0");
  std::unique_ptr<TScnElement> none(CreateScnElement(nullptr, nullptr, ""));
  EXPECT_EQ(none->GetASCIIString(), "???");
  EXPECT_EQ(none->GetTitle(), "");
  TScnTypeItem& plain = Item("Plain", VAL_CN);
  EXPECT_EQ(Text(plain, "0001"), "???");
}

TEST_F(ScnElementTest, FilterResolutionAndTitles) {
  lists.Ins().LoadFromText("T SP0A0000\nN Test\nF 3,440,SUN,2\nF 1,870,SKY,4,POLAR=2,DETECT=InGaAs\n");
  const TInstrument* instrument = lists.Ins().FindByID("SP0A0000");
  ASSERT_NE(instrument, nullptr);
  TScnTypeItem& sun = Item("SunCN", VAL_CN);
  sun.FilterPosition = 2;
  sun.FilterGroup = "SUN";
  std::unique_ptr<TScnElement> element(CreateScnElement(&sun, nullptr, RecordHex(0x10, "1234")));
  EXPECT_EQ(element->GetTitle(), "Sun Filter SUN n\xB0" "2");
  element->ResolveFilter(instrument);
  EXPECT_EQ(element->GetTitle(), "SUN 440 nm");
  EXPECT_EQ(element->GetASCIIString(), "4660");
  TScnTypeItem& sky = Item("SunCN", VAL_CN);
  sky.FilterPosition = 4;
  sky.FilterGroup = "SKY";
  sky.AngleGiven = 1;
  sky.Angle = 3.0f;
  std::unique_ptr<TScnElement> skyElement(CreateScnElement(&sky, nullptr, RecordHex(0x10, "1234")));
  skyElement->ResolveFilter(instrument);
  EXPECT_EQ(skyElement->GetTitle(), "3.0\xB0 SKY 870 P2 InGaAs");
  TScnTypeItem& missing = Item("SunCN", VAL_CN);
  missing.FilterPosition = 9;
  missing.FilterGroup = "SUN";
  std::unique_ptr<TScnElement> unresolved(CreateScnElement(&missing, nullptr, RecordHex(0x10, "1234")));
  unresolved->ResolveFilter(instrument);
  EXPECT_EQ(unresolved->GetTitle(), "Sun Filter SUN n\xB0" "9");
}

}  // namespace

TEST_F(ScnElementTest, ARecordReadFromItsBytesReadsAsFromItsHex) {
  // Every kind of value, at offsets inside, across and past the end of the records below.
  TScnType type;
  const int32_t kinds[] = {VAL_DATE, VAL_TIME, VAL_CN, VAL_SCN, VAL_TEMP, VAL_TEMP2, VAL_BAT2,
                           VAL_BYTECN, VAL_BAT, VAL_HUM, VAL_CN3BYTES};
  const char* descs[] = {"Date", "Time", "SunCN", "Mes"};
  for (int32_t offset : {-1, 0, 2, 3, 5, 7, 9, 11, 12}) {
    for (int32_t kind : kinds) {
      TScnTypeItem& item = Item(descs[static_cast<size_t>(offset + 1 + kind) % 4], kind, offset);
      item.Decimals = kind % 3;
      item.DisplayMode = static_cast<uint8_t>(kind % 5 == 0 ? DISPLAY_HEX : DISPLAY_NUMBER);
      type.Items.push_back(std::move(items.back()));
      items.pop_back();
    }
  }
  uint32_t x = 7;
  auto next = [&x] { return static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 23); };
  // The display settings of the exports, a long separator among them.
  for (const char* sepTime : {":", "<- time ->"}) {
    lists.Scn().SepTime = sepTime;
    lists.Scn().SepDate = sepTime[1] == '\0' ? "/" : "date and more";
    lists.Scn().QuotedDateTime = sepTime[1] != '\0';
    lists.Scn().ShowZeroDate = sepTime[1] != '\0';
    for (int r = 0; r < 200; ++r) {
      std::vector<uint8_t> record(static_cast<size_t>(4 + r % 12));
      for (uint8_t& b : record) b = r % 3 == 0 ? static_cast<uint8_t>(next() % 0x26 + (next() % 2 ? 0 : 0xF8)) : next();
      std::string hex;
      BytesToHexInto(record.data(), record.size(), hex);
      std::string fromHex = "x", fromBytes = "x";
      AppendRecordValuesText(type, hex, fromHex);
      AppendRecordValuesText(type, record.data(), record.size(), fromBytes);
      ASSERT_EQ(fromBytes, fromHex) << hex;
      if (r == 0 && sepTime[1] != '\0') {
        EXPECT_NE(fromHex.find("<- time ->"), std::string::npos);
      }
    }
  }
}
