// The AOT window on calibrations that Morvane refuses or that leave a filter not calibrated (a constant
// of 0): what it says, how often, and what it draws.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QRadioButton>

#include "common/Prompt.h"
#include "plugins/aot/tests/AotTestEnv.h"

using namespace aot_test;

namespace {

const char kDay[] = "--sun-days 1 --start 2025-06-20 --interval 1800 --param SITE=12 --param LAT=28.31 "
                    "--param LON=-16.50";

// The calibration file of a site as the Langley calibration keeps it, with these lines.
void WriteCalibrationFile(Station& station, int site, const std::string& lines) {
  const auto folder = station.home.Root() / "data/zelt/Calibration";
  std::filesystem::create_directories(folder);
  ScopedTestHome::Write(folder / ("calibr" + std::to_string(site) + ".cal"), lines);
}

// Every level, the julian dates on and off: what a user tries when the window shows nothing.
void ChangeEveryLevel(QWidget& w) {
  for (const char* level : {"RBLvl15", "RbLvlWv", "RBLvl1", "RBLvl15"}) {
    w.findChild<QRadioButton*>(level)->setChecked(true);
    w.findChild<QCheckBox*>("CBJulian")->toggle();
  }
}

// The points of every series of both charts.
int Points(QWidget& w) {
  int points = 0;
  for (const char* chart : {"GfxChart", "ChartRatio"})
    for (TChartSeries* s : SeriesOf(w, chart)) points += s->Count();
  return points;
}

}  // namespace

// A calibration that Morvane refuses, at the first opening: its message once, then nothing more at any
// change of level, and nothing drawn.
TEST(AotCalibration, ARefusedCalibrationIsSaidOnce) {
  Station station;
  station.LoadSunDays("SITE0601.q5", kDay);
  WriteCalibrationFile(station, 12, "2025 6 1 not numbers\r\n");
  ScopedPromptScript prompts;
  bool driven = false;
  station.Run([&](QWidget& w) {
    driven = true;
    EXPECT_EQ(prompts.Texts().size(), 1u);
    ChangeEveryLevel(w);
    EXPECT_EQ(Points(w), 0);
  });
  EXPECT_TRUE(driven);
  const std::vector<std::string> texts = prompts.Texts();
  ASSERT_EQ(texts.size(), 1u) << texts.back();
  EXPECT_EQ(texts[0].rfind("Morvane failed: morvane:", 0), 0u) << texts[0];
  EXPECT_NE(texts[0].find("calibr12.cal"), std::string::npos) << texts[0];
}
