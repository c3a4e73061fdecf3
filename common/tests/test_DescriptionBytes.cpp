// Any bytes in the description files and records: the loaders and the decoding never crash, hang or
// read past what they were given (run under the sanitizers in CI).
#include <gtest/gtest.h>

#include <random>

#include "common/Prompt.h"
#include "common/StaParametre.h"
#include "common/tests/DescTestEnv.h"

namespace {

// Text made of the description grammar's pieces and random bytes.
std::string RandomText(std::mt19937& rng, size_t pieces) {
  static const char* const words[] = {"S ", "I ", "C ", "E ", "T ", "N ", "F ", "P ", "0 ", "\n", "\r\n", ",",
                                      "=", "-", "|", "$", "\"", "0x", "0X1F", "VAL_CN", "VAL_SCN", "VAL_DATE",
                                      "VAL_TIME", "VAL_BYTECN", "VAL_CN3BYTES", "&BEQ", "BEQ", "F=", "T=SUN",
                                      "SIG_1=", "D=HEX", "D=CHAR", "D=", "ANG=", "POLAR=", "DETECT=", "Date",
                                      "Time", "Sun", "Mes", "-1", "255", "99999999999", "1e308", " ", "\t",
                                      "SP0A0000", "SP0A0000.PAR", "NHEU", "4", "16", "33", "$FFFFFFFF"};
  std::string text;
  for (size_t i = 0; i < pieces; ++i) {
    if (rng() % 4 == 0) text += static_cast<char>(rng() % 256);
    else text += words[rng() % (sizeof words / sizeof words[0])];
  }
  return text;
}

std::string RandomHex(std::mt19937& rng) {
  static const char digits[] = "0123456789ABCDEFabz\xff";
  std::string hex;
  size_t length = rng() % 80;
  for (size_t i = 0; i < length; ++i) hex += digits[rng() % (sizeof digits - 1)];
  return hex;
}

TEST(DescriptionBytes, LoadersAndDecodingTakeAnyBytes) {
  std::mt19937 rng(12345);
  ScopedTestHome home;
  std::string dir = home.Root().string() + "/";
  ScopedPromptScript script;  // unknown kind warnings
  for (int round = 0; round < 300; ++round) {
    ScopedDescLists lists;
    lists.El().LoadFromText("Date,1,d,1,Date\nTime,2,t,1,Time\nSun,3,s,1,Sun\nMes,4,m,1,Mes\n" +
                            RandomText(rng, 20));
    lists.Ins().LoadFromText(RandomText(rng, 60));
    lists.Scn().LoadFromText(RandomText(rng, 120));
    const TInstrument* instrument = lists.Ins().Count() ? lists.Ins()[0] : nullptr;
    for (int r = 0; r < 20; ++r) {
      std::string hex = RandomHex(rng);
      const TScnType* type = lists.Scn().FindType(hex, "SP0A0000");
      for (const auto& scnType : lists.Scn().Items)
        for (const auto& item : scnType->Items) {
          std::unique_ptr<TScnElement> element(CreateScnElement(item.get(), nullptr, hex));
          element->ResolveFilter(instrument);
          EXPECT_LE(element->GetASCIIString().size(), 64u);
          element->GetTitle();
        }
      (void)type;
    }
    ScopedTestHome::Write(home.Root() / "SP0A0000.PAR", RandomText(rng, 80));
    ScopedTestHome::Write(home.Root() / "ParCorSP.dat", RandomText(rng, 20));
    ScopedTestHome::Write(home.Root() / "ParDesc.dat", RandomText(rng, 20));
    TDecodDorax decoder;
    std::unique_ptr<TParamsList> params(decoder.Decode(RandomHex(rng) + RandomHex(rng), "SP0A0000", dir));
    decoder.ErrorString();
    if (params) {
      std::string buffer(static_cast<size_t>(rng() % 600), '\0');
      for (const auto& parameter : params->Items) {
        parameter->GetValueText();
        parameter->SetValueText(RandomText(rng, 2));
        parameter->StoreInBlock(buffer);
      }
    }
  }
}

}  // namespace
