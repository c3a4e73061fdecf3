// Station parameters: PAR files, the bit fields of the parameter block and the value editors.
#include <gtest/gtest.h>

#include "common/Prompt.h"
#include "common/StaParametre.h"
#include "common/tests/PlatformTestEnv.h"

namespace {

// A 512-character block of zeros with the given bytes set.
std::string Block(std::initializer_list<std::pair<int, int>> bytes) {
  std::string block(512, '0');
  for (auto [position, value] : bytes) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", value);
    block.replace(static_cast<size_t>(position) * 2, 2, hex);
  }
  return block;
}

TParFileLine Line(int pos, int bits, int shift, int offset, int mult, int div) {
  TParFileLine line;
  line.BytePos = pos;
  line.BitCount = bits;
  line.Shift = shift;
  line.Offset = offset;
  line.Multiplier = mult;
  line.Divisor = div;
  return line;
}

TEST(ParFileLine, BitFieldsReadAndWrite) {
  EXPECT_EQ(Line(10, 4, 4, 0, 1, 1).DecodeValue(Block({{10, 0xA5}})), 10.0);
  EXPECT_EQ(Line(10, 4, 0, 0, 1, 1).DecodeValue(Block({{10, 0xA5}})), 5.0);
  EXPECT_EQ(Line(20, 16, 0, 0, 1, 1).DecodeValue(Block({{20, 0x12}, {21, 0x34}})), 0x1234);
  EXPECT_EQ(Line(11, 1, 7, 0, 1, 1).DecodeValue(Block({{11, 0x80}})), 1.0);
  EXPECT_EQ(Line(11, 0, 0, 0, 1, 1).DecodeValue(Block({{11, 0x03}})), 1.0);
  EXPECT_EQ(Line(5, 8, 0, 100, 1, 10).DecodeValue(Block({{5, 250}})), 15.0);
  EXPECT_EQ(Line(5, 8, 0, 0, 0, 0).DecodeValue(Block({{5, 7}})), 7.0);  // 0 multiplier/divisor unused
  // Outside the block: absent, never a read past it.
  double value = -1;
  EXPECT_FALSE(Line(255, 16, 0, 0, 1, 1).DecodeValue(Block({}), value));
  EXPECT_FALSE(Line(10, 8, 0, 0, 1, 1).DecodeValue("0A0B", value));
  EXPECT_EQ(value, -1);

  // Two 4-bit fields of one byte combine in one template buffer; NUL places are set.
  std::string buffer(512, '\0');
  Line(10, 4, 4, 0, 1, 1).EncodeValue(buffer, 0xA);
  Line(10, 4, 0, 0, 1, 1).EncodeValue(buffer, 0x5);
  EXPECT_EQ(buffer.substr(20, 2), "A5");
  EXPECT_EQ(buffer[19], '\0');
  EXPECT_EQ(buffer[22], '\0');
  Line(20, 16, 0, 0, 1, 1).EncodeValue(buffer, 0x1234);
  EXPECT_EQ(buffer.substr(40, 4), "1234");
  std::string tiny(4, '\0');
  Line(10, 8, 0, 0, 1, 1).EncodeValue(tiny, 5);  // no write past the buffer
  EXPECT_EQ(tiny, std::string(4, '\0'));
}

TEST(StaParametre, ValueTexts) {
  TParFileLine line = Line(0, 8, 0, 0, 1, 1);
  TStaParametre p;
  p.Desc = &line;
  p.Code = "NHEU";
  p.Value = -5;
  EXPECT_EQ(p.GetValueText(), "W5");
  p.Value = 0;
  EXPECT_EQ(p.GetValueText(), "E0");
  p.Value = 3.7;
  EXPECT_EQ(p.GetValueText(), "E3");
  p.Code = "X";
  p.DisplayKind = PARAM_YESNO;
  EXPECT_EQ(p.GetValueText(), "Yes");
  p.Value = 0;
  EXPECT_EQ(p.GetValueText(), "No");
  p.DisplayKind = PARAM_DECIMAL;
  p.Precision = 1;
  p.Value = 3;
  EXPECT_EQ(p.GetValueText(), "3.0");
  p.DisplayKind = PARAM_SIGNED;
  EXPECT_EQ(p.GetValueText(), "+3.0");
  p.Value = -3;
  EXPECT_EQ(p.GetValueText(), "-3.0");
  p.DisplayKind = PARAM_HEX;
  line.BitCount = 16;
  p.Value = 0xAB;
  EXPECT_EQ(p.GetValueText(), "00AB");
}

TEST(StaParametre, SetValueTextChecksAndStoresWhatTheFieldHolds) {
  TParFileLine line = Line(5, 8, 0, 100, 1, 10);
  line.SetMin(100);
  line.SetMax(255);
  TStaParametre p;
  p.Desc = &line;
  p.Min = line.MinValue;
  p.Max = line.MaxValue;
  p.Precision = 1;
  EXPECT_EQ(p.Max, 15.5);
  EXPECT_EQ(p.SetValueText("15.05"), PARAM_SET_OK);
  EXPECT_EQ(p.Value, 15.0);
  EXPECT_EQ(p.SetValueText("abc"), PARAM_SET_INVALID);
  EXPECT_EQ(p.SetValueText(""), PARAM_SET_INVALID);
  EXPECT_EQ(p.SetValueText("-1"), PARAM_SET_TOO_LOW);
  EXPECT_EQ(p.SetValueText("16"), PARAM_SET_TOO_HIGH);
  EXPECT_EQ(p.Value, 15.0);
  // A typed value that is a whole count of the field's unit is stored as typed.
  TParFileLine cents = Line(6, 16, 0, 0, 1, 100);
  cents.SetMax(60000);
  TStaParametre q;
  q.Desc = &cents;
  q.Max = cents.MaxValue;
  EXPECT_EQ(q.SetValueText("4.35"), PARAM_SET_OK);
  EXPECT_DOUBLE_EQ(q.Value, 4.35);
  std::string buffer(512, '\0');
  q.StoreInBlock(buffer);
  EXPECT_EQ(buffer.substr(12, 4), "01B3");
  // Hex kind reads up to four hex digits.
  TParFileLine hexLine = Line(8, 16, 0, 0, 1, 1);
  TStaParametre h;
  h.Desc = &hexLine;
  h.DisplayKind = PARAM_HEX;
  h.Max = 65535;
  EXPECT_EQ(h.SetValueText("1a2b3c"), PARAM_SET_OK);
  EXPECT_EQ(h.Value, 0x1A2B);
  EXPECT_EQ(h.SetValueText("xyz"), PARAM_SET_INVALID);
}

class DecodDoraxTest : public ::testing::Test {
 protected:
  std::string Dir() const { return home.Root().string() + "/"; }
  void Write(const std::string& name, const std::string& text) { ScopedTestHome::Write(home.Root() / name, text); }
  ScopedTestHome home;
};

const char* kPar =
    "0 Test  station   parameters\n"
    "T Text of the file\n"
    "P Latitude  LAT  0  4 16 0 0 18000 9000 1 100 2 S\n"
    "P Nibble_hi NHI  0 10  4 4 0 15 0 1 1 0 D\n"
    "P Nibble_lo NLO  0 10  4 0 0 15 0 1 1 0 d\n"
    "P Auto      AUTO 0 11  1 7 0 1 0 1 1 0 B\n"
    "P Zone      NHEU 0 12  8 0 0 24 12 1 1 0 S\n"
    "P Mask      MASK 0 14 16 0 0 $FFFF 0 1 1 0 H\n"
    "P Far       FAR  0 255 16 0 0 $FFFF 0 1 1 0 H\n";

TEST_F(DecodDoraxTest, DecodesTheBlockWithThePARFile) {
  Write("SP0A0000.PAR", kPar);
  Write("ParDesc.dat", "LAT|USER|Latitude of the site\nAUTO|SYSTEM|Runs by itself\nLAT|USER|second\n");
  TDecodDorax decoder;
  std::unique_ptr<TParamsList> list(decoder.Decode(
      Block({{4, 0x32}, {5, 0xC8}, {10, 0xA5}, {11, 0x80}, {12, 15}, {14, 0xBE}, {15, 0xEF}}), "SP0A0000", Dir()));
  ASSERT_NE(list, nullptr) << decoder.ErrorString();
  EXPECT_EQ(decoder.ErrorKind, 0);
  ASSERT_EQ(list->Count(), 6);  // the field at byte 255 lies outside the block
  TStaParametre* lat = list->FindByNameID("LAT");
  ASSERT_NE(lat, nullptr);
  EXPECT_DOUBLE_EQ(lat->Value, 40.0);  // 0x32C8 = 13000
  EXPECT_EQ(lat->GetValueText(), "+40.00");
  EXPECT_EQ(lat->DescText, "Latitude of the site");
  EXPECT_FALSE(lat->System);
  EXPECT_DOUBLE_EQ(lat->Min, -90.0);
  EXPECT_DOUBLE_EQ(lat->Max, 90.0);
  EXPECT_EQ(list->FindByNameID("NHI")->Value, 10);
  EXPECT_EQ(list->FindByNameID("NLO")->GetValueText(), "5");
  EXPECT_EQ(list->FindByNameID("AUTO")->GetValueText(), "Yes");
  EXPECT_TRUE(list->FindByNameID("AUTO")->System);
  EXPECT_EQ(list->FindByNameID("NHEU")->GetValueText(), "E3");
  EXPECT_EQ(list->FindByNameID("MASK")->GetValueText(), "BEEF");
  EXPECT_EQ(list->FindByNameID("FAR"), nullptr);
  EXPECT_EQ(list->ParFile->Title, "0Teststationparameters");
  EXPECT_EQ(list->ParFile->Text, " Text of the file");

  // The editor's template: every parameter stored into one NUL buffer reproduces the fields.
  std::string buffer(512, '\0');
  for (const auto& parameter : list->Items) parameter->StoreInBlock(buffer);
  EXPECT_EQ(buffer.substr(8, 4), "32C8");
  EXPECT_EQ(buffer.substr(20, 2), "A5");
  EXPECT_EQ(buffer.substr(22, 2), "80");
  EXPECT_EQ(buffer.substr(24, 2), "0F");
}

TEST_F(DecodDoraxTest, AliasFileServesAMissingPARFile) {
  Write("SP0B0000.PAR", kPar);
  Write("ParCorSP.dat", "\n|SP0A0000.PAR\nSP0B0000.PAR|SP0C0000.PAR|SP0A0000.PAR\nSP0D0000.PAR|SP0A0000.PAR\n");
  TDecodDorax decoder;
  std::unique_ptr<TParamsList> list(decoder.Decode(Block({}), "SP0A0000", Dir()));
  ASSERT_NE(list, nullptr) << decoder.ErrorString();
  EXPECT_EQ(decoder.ParFileName, Dir() + "SP0A0000.PAR");
  EXPECT_EQ(decoder.Detail, Dir() + "SP0B0000.PAR");
}

TEST_F(DecodDoraxTest, ErrorKinds) {
  TDecodDorax decoder;
  EXPECT_EQ(decoder.ErrorString(), "Unknown error!");
  EXPECT_EQ(decoder.Decode(Block({}), "SP0A0000", Dir()), nullptr);
  EXPECT_EQ(decoder.ErrorKind, TDecodDorax::ERR_NO_PAR);
  EXPECT_EQ(decoder.ErrorString(), Dir() + "SP0A0000.PAR\nUnable to load the parameters description file (PAR file)");
  EXPECT_EQ(decoder.Decode(Block({}), "../../etc/passwd", Dir()), nullptr);
  EXPECT_EQ(decoder.ErrorKind, TDecodDorax::ERR_NO_PAR);

  Write("SP0A0000.PAR", "P too few fields\n");
  EXPECT_EQ(decoder.Decode(Block({}), "SP0A0000", Dir()), nullptr);
  EXPECT_EQ(decoder.ErrorKind, TDecodDorax::ERR_BAD_PAR);
  EXPECT_EQ(decoder.ErrorString(), Dir() + "SP0A0000.PAR\nError while opening the parameters description file");
  Write("SP0A0000.PAR", "P Name CODE 0 x 8 0 0 1 0 1 1 0 D\n");
  EXPECT_EQ(decoder.Decode(Block({}), "SP0A0000", Dir()), nullptr);
  EXPECT_EQ(decoder.ErrorKind, TDecodDorax::ERR_BAD_PAR);
  Write("SP0A0000.PAR", "P Name CODE 0 1 99 0 0 1 0 1 1 0 D\n");  // a field wider than 32 bits
  EXPECT_EQ(decoder.Decode(Block({}), "SP0A0000", Dir()), nullptr);

  TParFile parFile;
  parFile.LoadFromText("P A A 0 1 8 0 0 1 0 1 1 0 D\nP short\nP B B 0 x 8 0 0 1 0 1 1 0 D\n");
  EXPECT_EQ(parFile.State, TParFile::STATE_BAD_FIELD_COUNT);
  EXPECT_EQ(parFile.Lines.size(), 1u);
}

TEST_F(DecodDoraxTest, UnknownKindWarnsAndShowsDecimal) {
  Write("sp0a0000.par", "P Name CODE 0 1 8 0 0 255 0 1 1 0 Q\n");  // found without case
  ScopedPromptScript script;
  TDecodDorax decoder;
  std::unique_ptr<TParamsList> list(decoder.Decode(Block({{1, 42}}), "SP0A0000", Dir()));
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->Items[0]->GetValueText(), "42");
  ASSERT_EQ(script.Texts().size(), 1u);
  EXPECT_EQ(script.Texts()[0], " Unknown Kind Q");
}

}  // namespace
