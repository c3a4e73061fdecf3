// The calibration file's fields, number texts, and a round trip through the per-user folder.
#include <gtest/gtest.h>

#include "common/FileUtils.h"
#include "common/analysis/BgrData.h"
#include "common/analysis/CalibFile.h"
#include "common/tests/PlatformTestEnv.h"

TEST(CalibFields, BlankFields) {
  const std::string line = "2005 6 14 12345 23456 ";
  EXPECT_EQ(ExtractBlankField(line, 0), "2005");
  EXPECT_EQ(ExtractBlankField(line, 2), "14");
  EXPECT_EQ(ExtractBlankField(line, 4), "23456");
  EXPECT_EQ(ExtractBlankField(line, 5), "");
  EXPECT_EQ(ExtractBlankField("one", 3), "one");
}

TEST(CalibFields, GridCellsAsNumbers) {
  EXPECT_EQ(NormaliseRealText("1,5", '.'), "1.5");
  EXPECT_EQ(NormaliseRealText("1.5", ','), "1,5");
  EXPECT_EQ(NormaliseRealText("1.2.3", '.'), "1.2");
  EXPECT_EQ(NormaliseRealText("", '.'), "");
  EXPECT_EQ(NormaliseRealText("abc", '.'), "");
  EXPECT_EQ(NormaliseRealText("1.5E-5", '.'), "1.5E-5");
  EXPECT_EQ(NormaliseRealText("-2,5e+3", '.'), "-2.5E+3");
  EXPECT_EQ(NormaliseRealText("+7", '.'), "+7");
  EXPECT_EQ(NormaliseRealText("12E", '.'), "12");
  EXPECT_EQ(NormaliseRealText(" 20190 ", '.'), "20190");
}

TEST(CalibFile, ReadsWritesAndKeepsDuplicateDates) {
  ScopedTestHome home;
  TCalibFile file;
  file.Load(12);
  EXPECT_TRUE(file.Dates.empty());
  EXPECT_EQ(file.FileName, (home.Root() / "data" / "zelt" / "Calibration" / "calibr12.cal").string());
  ForceDirectories(BytesToPath(CalibrationFolder()));
  ScopedTestHome::Write(file.FileName, "2005  6 14 12345 23456 \r\n2006 3 3 1 2 \r\n2005 6 14 9 9 \r\n");
  file.Load(12);
  ASSERT_EQ(file.Dates.size(), 3u);
  EXPECT_EQ(file.Dates[0].DateText, "2005  6");  // fields split on single blanks, as the file reads
  file.Dates.clear();
  ScopedTestHome::Write(file.FileName, "2005 6 14 12345 23456 \r\n2006 3 3 1 2 \r\n2005 6 14 9 9 \r\n");
  file.Load(12);
  ASSERT_EQ(file.Dates.size(), 3u);
  EXPECT_EQ(file.Dates[0].DateText, "2005 6 14");
  EXPECT_EQ(file.Dates[0].CoefText, "12345 23456 ");
  EXPECT_EQ(file.Find("2005 6 14")->CoefText, "12345 23456 ");
  EXPECT_TRUE(file.Remove("2005 6 14"));
  EXPECT_EQ(file.Find("2005 6 14")->CoefText, "9 9 ");
  ASSERT_TRUE(file.Save());
  EXPECT_EQ(ScopedTestHome::Read(file.FileName), "2006 3 3 1 2 \r\n2005 6 14 9 9 \r\n");
}
