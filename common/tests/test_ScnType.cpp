// Measurement-type descriptions: loading "ScnList.dat"-style files and finding a record's type.
#include <gtest/gtest.h>

#include "common/tests/DescTestEnv.h"

namespace {

class ScnTypeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lists.El().LoadFromText("Date,1,\"Date\",1,\"Date\"\nTime,2,\"Time\",2,\"Time\"\n"
                            "SunCN,3,\"Sun count\",3,\"Sun\"\nTemp,4,\"Temperature\",5,\"Temp\"\n");
  }
  bool Load(const std::string& text) {
    std::filesystem::path file = home.Root() / "ScnList.dat";
    ScopedTestHome::Write(file, text);
    return lists.Scn().LoadFromFile(file.string());
  }
  ScopedTestHome home;
  ScopedDescLists lists;
};

TEST_F(ScnTypeTest, LoadsTypesItemsAndOptions) {
  ASSERT_TRUE(Load("; comment\r\n"
                   "S 7,0x10,SUN,\"Direct sun\",32\r\n"
                   "I SP0A0000-SP0AFFFF\r\n"
                   "E VAL_DATE,4,Date\r\n"
                   "E VAL_CN,10,SunCN,F=3,T=SUN,ANG=2.5,D=2\r\n"
                   "E VAL_TEMP2,12,Temp,SIG_0=\"Off\",SIG_1=\"On\",D=hex\r\n"
                   "E VAL_CN,14,SunCN,F=FilterPos\r\n"
                   "E VAL_CN,16,Unknown\r\n"
                   "E VAL_NOPE,16,SunCN\r\n"));
  ASSERT_EQ(lists.Scn().Count(), 1);
  const TScnType& type = *lists.Scn()[0];
  EXPECT_EQ(type.Number, 7);
  EXPECT_EQ(type.Code, 0x10);
  EXPECT_EQ(type.Extension, "SUN");
  EXPECT_EQ(type.Description, "Direct sun");
  EXPECT_EQ(type.Length, 32);
  ASSERT_EQ(type.IdRanges.size(), 2u);
  ASSERT_EQ(type.Count(), 4);  // unknown value name and unknown kind dropped
  EXPECT_EQ(type[0]->ValueKind, VAL_DATE);
  const TScnTypeItem& sun = *type[1];
  EXPECT_EQ(sun.Offset, 10);
  EXPECT_EQ(sun.FilterPosition, 3);
  EXPECT_EQ(sun.FilterGroup, "SUN");
  EXPECT_TRUE(sun.AngleGiven);
  EXPECT_FLOAT_EQ(sun.Angle, 2.5f);
  EXPECT_EQ(sun.Decimals, 2);
  EXPECT_EQ(sun.GetTitle(), "Sun Filter SUN n\xB0" "3 Angle 2.5");
  const TScnTypeItem& temp = *type[2];
  EXPECT_EQ(temp.ValueKind, VAL_TEMP2);  // not VAL_TEMP
  EXPECT_EQ(temp.DisplayMode, DISPLAY_HEX);
  ASSERT_TRUE(temp.Labels);
  ASSERT_NE(temp.FindLabel(1), nullptr);
  EXPECT_EQ(temp.FindLabel(1)->Text, "On");
  EXPECT_EQ(type[3]->FilterPosition, -1);
  EXPECT_EQ(type[3]->FilterSibling, "FilterPos");
  EXPECT_EQ(type[3]->GetTitle(), "Sun");
}

TEST_F(ScnTypeTest, MalformedLinesAreSkipped) {
  ASSERT_TRUE(Load("S 1,12,BAD,\"no 0x\",10\n"  // starts no type: following lines ignored
                   "E VAL_CN,10,SunCN\n"
                   "S 2,0x00,ZERO,\"code 0\",10\n"
                   "S 3,0x20,FEW,\"four fields\"\n"
                   "S x,0x21,OK,\"number not a number\",abc\n"
                   "C &BEQ,abc,3\n"      // not an integer: skipped
                   "C &BEQ,2\n"          // missing value: skipped
                   "C BEQ,2,300\n"       // not a byte: skipped
                   "C XYZ,1,1\n"         // kept, never true
                   "I SP01-SP02-SP03\n"  // not two fields
                   "E VAL_CN\n"
                   "\n\x01\xff\n"
                   "S\n"));
  ASSERT_EQ(lists.Scn().Count(), 1);
  const TScnType& type = *lists.Scn()[0];
  EXPECT_EQ(type.Code, 0x21);
  EXPECT_EQ(type.Number, -1);
  EXPECT_EQ(type.Length, 0);
  EXPECT_TRUE(type.IdRanges.empty());
  ASSERT_EQ(type.Conditions.size(), 1u);
  EXPECT_EQ(type.Conditions[0].Kind, 0);
  // The never-true condition keeps every record out.
  EXPECT_EQ(lists.Scn().FindType(RecordHex(0x21, "0000"), "SP0A0000"), nullptr);
}

TEST_F(ScnTypeTest, MissingFileLeavesListAsItWas) {
  ASSERT_TRUE(Load("S 1,0x10,SUN,\"Sun\",0\n"));
  EXPECT_FALSE(lists.Scn().LoadFromFile((home.Root() / "nothing.dat").string()));
  EXPECT_FALSE(lists.Scn().LoadFromFile(home.Root().string()));  // a folder is no file
  EXPECT_EQ(lists.Scn().Count(), 1);
}

TEST_F(ScnTypeTest, ConditionsChooseAmongTypesOfOneCode) {
  ASSERT_TRUE(Load("S 1,0x20,ALM,\"first\",0\nC &BEQ,12,3\nS 2,0x20,PPL,\"second\",0\n"));
  std::string rec3 = RecordHex(0x20, std::string(20, '0').replace(20, 0, "03"));  // byte 12 = 3
  std::string rec4 = RecordHex(0x20, std::string(20, '0').replace(20, 0, "04"));
  ASSERT_EQ(rec3.substr(24, 2), "03");
  EXPECT_EQ(lists.Scn().FindType(rec3, "SP0A0000")->Extension, "ALM");
  EXPECT_EQ(lists.Scn().FindType(rec4, "SP0A0000")->Extension, "PPL");
  // A condition past the record is false, so only the second matches.
  EXPECT_EQ(lists.Scn().FindType(RecordHex(0x20, "00"), "SP0A0000")->Extension, "PPL");
}

TEST_F(ScnTypeTest, OptionalConditionsNeedOneTrue) {
  ASSERT_TRUE(Load("S 1,0x20,ANY,\"any\",0\nC BEQ,2,1\nC BEQ,2,2\nC &BEQ,3,9\n"
                   "S 2,0x21,OPT,\"optional only\",0\nC BEQ,2,1\nC BEQ,2,2\n"));
  EXPECT_NE(lists.Scn().FindType(RecordHex(0x20, "0209"), ""), nullptr);
  EXPECT_NE(lists.Scn().FindType(RecordHex(0x20, "0309"), ""), nullptr);  // the mandatory one is true
  EXPECT_EQ(lists.Scn().FindType(RecordHex(0x20, "0108"), ""), nullptr);  // mandatory false
  EXPECT_NE(lists.Scn().FindType(RecordHex(0x21, "0208"), ""), nullptr);
  EXPECT_EQ(lists.Scn().FindType(RecordHex(0x21, "0308"), ""), nullptr);  // none true
}

TEST_F(ScnTypeTest, CodeLengthAndIdentifierRanges) {
  ASSERT_TRUE(Load("S 1,0x10,A,\"a\",6\nI SP010000-SP01FFFF\nS 2,0x10,B,\"b\",0\n"));
  std::string record = RecordHex(0x10, "0000");  // 6 bytes
  EXPECT_EQ(lists.Scn().FindType(record, "SP0105A0")->Extension, "A");
  EXPECT_EQ(lists.Scn().FindType(record, "SP020000")->Extension, "B");
  EXPECT_EQ(lists.Scn().FindType(RecordHex(0x10, "000000"), "SP0105A0")->Extension, "B");
  EXPECT_EQ(lists.Scn().FindType(RecordHex(0x11, "0000"), "SP0105A0"), nullptr);
  EXPECT_EQ(lists.Scn().FindType("", "SP0105A0"), nullptr);
  EXPECT_EQ(lists.Scn().FindType("1", "SP0105A0"), nullptr);
}

TEST_F(ScnTypeTest, SecondFileTypesComeAfterTheFirst) {
  ASSERT_TRUE(Load("S 1,0x10,FIRST,\"a\",0\n"));
  std::filesystem::path extra = home.Root() / "ExtraScn.dat";
  ScopedTestHome::Write(extra, "S 2,0x10,EXTRA,\"b\",0\nS 3,0x11,OWN,\"c\",0\n");
  ASSERT_TRUE(lists.Scn().LoadFromFile(extra.string()));
  EXPECT_EQ(lists.Scn().FindType(RecordHex(0x10, ""), "")->Extension, "FIRST");
  EXPECT_EQ(lists.Scn().FindType(RecordHex(0x11, ""), "")->Extension, "OWN");
}

TEST(ScnTextHelpers, IntegersAsThePlatformReadsThem) {
  int32_t v = 0;
  EXPECT_TRUE(desc::ParseInteger(" 12 ", v));
  EXPECT_EQ(v, 12);
  EXPECT_TRUE(desc::ParseInteger("$1F", v));
  EXPECT_EQ(v, 31);
  EXPECT_TRUE(desc::ParseInteger("-$10", v));
  EXPECT_EQ(v, -16);
  EXPECT_FALSE(desc::ParseInteger("12a", v));
  EXPECT_FALSE(desc::ParseInteger("$", v));
  EXPECT_FALSE(desc::ParseInteger("99999999999", v));
  EXPECT_FALSE(desc::ParseDecimal("$10", v));
  double d = 0;
  EXPECT_FALSE(desc::ParseFloatDot("nan", d));
  EXPECT_FALSE(desc::ParseFloatDot("1e999", d));
  EXPECT_TRUE(desc::ParseFloatDot("2.5", d));
  EXPECT_EQ(desc::SplitFields("a,,b", ","), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(desc::SplitFields("a,b,", ","), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(desc::SplitFields("  a   b ", " ", true), (std::vector<std::string>{"a", "b"}));
}

}  // namespace
