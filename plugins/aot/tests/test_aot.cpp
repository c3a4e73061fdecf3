// The AOT plug-in through the plug-in host on q5gen's sun days, against the project's Morvane.
#include <gtest/gtest.h>

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressDialog>
#include <QRadioButton>
#include <QTableWidget>
#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>

#include "common/AsciiExport.h"
#include "common/Prompt.h"
#include "plugins/aot/AotRun.h"
#include "plugins/aot/tests/AotTestEnv.h"

using namespace aot_test;

namespace {

const char kDay[] = "--sun-days 1 --start 2025-06-20 --interval 900 --param SITE=12 --param LAT=28.31 "
                    "--param LON=-16.50";

}  // namespace

// The parameter file line by line, the run, and the optical thickness, Angstrom exponent and water vapour
// read from Morvane's result files into the charts and the table (an instrument with a vapour channel).
TEST(AotPlugIn, ComputesTheSunDayThroughMorvane) {
  Station station;
  station.LoadSunDays("SITE0601.q5", kDay);
  Station::WriteCalibration(12);
  // The host shows numbers with a decimal comma: Morvane's files still get points.
  station.lists.Scn().SepDec = ",";
  station.lists.Scn().SepList = ";";
  ScopedPromptScript prompts;
  bool driven = false;
  station.Run([&](QWidget& w) {
    driven = true;
    const auto aot = station.AotFolder();
    const std::vector<std::string> expected = {
        "1",
        (station.home.Root() / "data/zelt/Calibration/calibr12.cal").string(),
        (aot / "run/SITE0601.tao").string(),
        "1", "28.31", "-16.5", "0", "-2", "300", "1", "4", "2 3 4 5", "-1",
        (aot / "Ascii/SITE0601.NSU").string()};
    EXPECT_EQ(Lines(aot / "inputpar.dat"), expected);
    EXPECT_TRUE(std::filesystem::exists(aot / "SITE0601.tao"));
    EXPECT_TRUE(std::filesystem::exists(aot / "SITE0601.ta2"));
    EXPECT_FALSE(w.findChild<QLabel*>("Label2")->isVisible());

    // Level 1: eight filters (940 nm is the vapour channel), aerosol + Rayleigh as q5gen made them.
    auto series = SeriesOf(w, "GfxChart");
    ASSERT_EQ(series.size(), 8u);
    EXPECT_EQ(series[3]->Title(), "440 nm");
    const int records = static_cast<int>(Lines(aot / "SITE0601.tao").size()) - 1;
    ASSERT_GT(records, 10);
    EXPECT_EQ(series[3]->Count(), records);
    auto* grid = w.findChild<QTableWidget*>("StringGrid1");
    EXPECT_EQ(grid->rowCount(), records + 1);
    EXPECT_EQ(Cell(w, 0, 0), "Day/Hour");
    EXPECT_EQ(Cell(w, 0, 4), "440 nm");
    // Morvane's second-pass aerosol optical thickness at 440 nm: beta 0.08, alpha 1.3 -> 0.232.
    const double tau440 = series[3]->YValue(records / 2);
    EXPECT_NEAR(tau440, 0.08 * std::pow(0.44, -1.3), 0.03);
    EXPECT_TRUE(Cell(w, records / 2 + 1, 4).contains(',')) << Cell(w, records / 2 + 1, 4).toStdString();
    EXPECT_TRUE(Cell(w, 1, 0).startsWith("20/06/2025")) << Cell(w, 1, 0).toStdString();

    // Level 1.5: the Angstrom exponent on the second chart.
    w.findChild<QRadioButton*>("RBLvl15")->setChecked(true);
    EXPECT_TRUE(w.findChild<QChartView*>("ChartRatio")->isVisible());
    auto ratio = SeriesOf(w, "ChartRatio");
    ASSERT_EQ(ratio.size(), 1u);
    ASSERT_GT(ratio[0]->Count(), 0);
    EXPECT_NEAR(ratio[0]->YValue(0), 1.3, 0.2);
    EXPECT_EQ(Cell(w, 0, 9), "Alpha");

    // Water vapour: one series of the second pass.
    w.findChild<QRadioButton*>("RbLvlWv")->setChecked(true);
    EXPECT_FALSE(w.findChild<QChartView*>("ChartRatio")->isVisible());
    auto wv = SeriesOf(w, "GfxChart");
    ASSERT_EQ(wv.size(), 1u);
    EXPECT_EQ(wv[0]->Title(), "Water vapor");
    ASSERT_GT(wv[0]->Count(), 0);
    EXPECT_GT(wv[0]->YValue(0), 0.0);

    // Julian days on the bottom axis.
    w.findChild<QRadioButton*>("RBLvl1")->setChecked(true);
    w.findChild<QCheckBox*>("CBJulian")->setChecked(true);
    auto julian = SeriesOf(w, "GfxChart");
    ASSERT_EQ(julian.size(), 8u);
    EXPECT_NEAR(julian[0]->XValue(0), 9302.0, 1.0);  // 2025-06-20 counted from 2000-01-01

    // Unchecking a filter hides its series and its column.
    auto* list = w.findChild<QListWidget*>("CLBFiltre");
    ASSERT_EQ(list->count(), 8);
    list->item(0)->setCheckState(Qt::Unchecked);
    EXPECT_FALSE(SeriesOf(w, "GfxChart")[0]->Visible());
    EXPECT_TRUE(grid->isColumnHidden(1));

  });
  EXPECT_TRUE(driven);
  // The host's ASCII options are its own again.
  EXPECT_EQ(station.lists.Scn().SepDec, ",");
  EXPECT_EQ(station.lists.Scn().SepList, ";");
  EXPECT_EQ(station.lists.Scn().SepTime, ":");
  for (const auto& t : prompts.Texts()) ADD_FAILURE() << "unexpected message: " << t;
}

// The demo's download: the simulator's image with its sun days among the other records, at its site.
TEST(AotPlugIn, ComputesTheSimulatorsDownload) {
  Station station;
  station.LoadSimulatorImage("DEMO0101.Q5", "--sun-days 2 --image-time 1750680000");
  Station::WriteCalibration(1);
  ScopedPromptScript prompts;
  bool driven = false;
  station.Run([&](QWidget& w) {
    driven = true;
    const auto lines = Lines(station.AotFolder() / "inputpar.dat");
    ASSERT_EQ(lines.size(), 14u);
    EXPECT_EQ(lines[1], (station.home.Root() / "data/zelt/Calibration/calibr1.cal").string());
    EXPECT_EQ(lines[4], "48.71");
    EXPECT_EQ(lines[5], "2.20833");  // whole seconds of time in the station parameters
    auto series = SeriesOf(w, "GfxChart");
    ASSERT_EQ(series.size(), 8u);
    ASSERT_GT(series[3]->Count(), 20);  // two days of triplets every 15 minutes
    EXPECT_NEAR(series[3]->YValue(series[3]->Count() / 2), 0.08 * std::pow(0.44, -1.3), 0.03);
  });
  EXPECT_TRUE(driven);
  EXPECT_TRUE(prompts.Texts().empty()) << prompts.Texts().front();
}

// Refusals before the window: no data, a name that is not a ".q5", no Morvane, no calibration file.
TEST(AotPlugIn, RefusesWithItsMessages) {
  Station station;
  ScopedPromptScript prompts;
  station.Run([](QWidget&) { ADD_FAILURE() << "no window expected"; });
  station.LoadSunDays("day.dat", kDay);
  station.Run([](QWidget&) { ADD_FAILURE() << "no window expected"; });
  station.LoadSunDays("SITE.Q5", kDay);
  station.Run([](QWidget&) { ADD_FAILURE() << "no window expected"; });
  station.home.Set("PATH", "/usr/bin:/bin");
  station.Run([](QWidget&) { ADD_FAILURE() << "no window expected"; });
  const auto texts = prompts.Texts();
  ASSERT_EQ(texts.size(), 4u);
  EXPECT_EQ(texts[0], "No data in memory.");
  EXPECT_NE(texts[1].find(".q5"), std::string::npos) << texts[1];
  EXPECT_EQ(texts[2], "No calibration file for this instrument (..\\Calibration\\calibr12.cal)");
  EXPECT_EQ(texts[3], "Please install AOT binaries");
}
