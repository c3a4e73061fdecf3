// The AOT window on calibrations that Morvane refuses or that leave a filter not calibrated (a constant
// of 0): what it says, how often, and what it draws.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QRadioButton>
#include <QTableWidget>

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

// A calibration line of that date with q5gen's own constants but the one at `uncalibratedNm`, written 0
// (a filter not calibrated yet).
std::string CalibratedBut(const std::string& date, double uncalibratedNm) {
  std::string line = date + " ";
  for (double nm : {1020.0, 870.0, 675.0, 440.0, 500.0, 940.0, 380.0, 340.0, 1640.0})
    line += (nm == uncalibratedNm ? std::string("0") : std::to_string(q5gen::SunV0(nm))) + " ";
  return line + "\r\n";
}

// Three days of q5gen's quarter-hour triplets with noise from 1 March 2025, at its site 1, with these
// calibration lines (by default, one on 15 June 2025 with every filter but `uncalibratedNm` calibrated).
void LoadDaysCalibratedBut(Station& station, double uncalibratedNm, const std::string& lines = {}) {
  station.LoadSunDays("A.Q5", "--sun-days 3 --interval 900 --start 2025-03-01T00:00:00 --sun-noise 0.01");
  WriteCalibrationFile(station, 1, lines.empty() ? CalibratedBut("2025 6 15", uncalibratedNm) : lines);
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

// Opens the window on a calibration that Morvane refuses and tries every level: nothing is drawn, and
// Morvane's refusal is the one message, said at the opening. Returns it as shown (Morvane's UTF-8).
std::string TheOneRefusal(Station& station) {
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
  if (texts.size() != 1) {
    ADD_FAILURE() << texts.size() << " messages, the last: " << (texts.empty() ? "" : texts.back());
    return {};
  }
  EXPECT_EQ(texts[0].rfind("Morvane failed: morvane:", 0), 0u) << texts[0];
  return prompts.Asked()[0].shown;
}

}  // namespace

// A calibration that Morvane refuses, at the first opening: its message once, then nothing more at any
// change of level, and nothing drawn.
TEST(AotCalibration, ARefusedCalibrationIsSaidOnce) {
  Station station;
  station.LoadSunDays("SITE0601.q5", kDay);
  WriteCalibrationFile(station, 12, "2025 6 1 not numbers\r\n");
  const std::string shown = TheOneRefusal(station);
  EXPECT_NE(shown.find("calibr12.cal"), std::string::npos) << shown;
}

// 440 nm not calibrated: Morvane refuses the Angstrom fit through it (it showed alpha near -9.7, beta
// near 1.7, where q5gen's aerosol has 1.3 and 0.08) and the window says so once, naming the wavelength
// and the calibration line, and draws nothing.
TEST(AotCalibration, AFilterNotCalibratedInTheAngstromFitIsRefused) {
  Station station;
  LoadDaysCalibratedBut(station, 440);
  const std::string shown = TheOneRefusal(station);
  EXPECT_NE(shown.find("calibr1.cal: l\xC3\xADnea 1 de calibrado rechazada (la constante de 440 nm es 0"),
            std::string::npos)
      << shown;
  EXPECT_FALSE(std::filesystem::exists(station.ResultFolder() / "A.tao"));
}

// 1020 nm not calibrated lies outside the fit: computed, its optical thickness left out of the window
// (no series, empty cells, nor the water vapour that takes it as a reference), and the window says once
// which filter it is.
TEST(AotCalibration, AFilterNotCalibratedOutsideTheFitIsLeftOutAndNamedOnce) {
  Station station;
  LoadDaysCalibratedBut(station, 1020);
  ScopedPromptScript prompts;
  bool driven = false;
  station.Run([&](QWidget& w) {
    driven = true;
    EXPECT_EQ(prompts.Texts().size(), 1u);  // when the results are first shown
    auto titles = [&] {
      QStringList t;
      for (TChartSeries* s : SeriesOf(w, "GfxChart")) t << s->Title();
      return t.join(", ").toStdString();
    };
    const std::string others = "870 nm, 675 nm, 440 nm, 500 nm, 380 nm, 340 nm, 1640 nm";
    EXPECT_EQ(titles(), others);
    auto* grid = w.findChild<QTableWidget*>("StringGrid1");
    const int rows = grid->rowCount();
    ASSERT_GT(rows, 50);
    EXPECT_EQ(Cell(w, 0, 1), "1020 nm");
    for (int r = 1; r < rows; ++r) {
      ASSERT_EQ(Cell(w, r, 1), "") << "row " << r;
      ASSERT_NE(Cell(w, r, 2), "") << "row " << r;
    }

    w.findChild<QRadioButton*>("RBLvl15")->setChecked(true);
    EXPECT_EQ(titles(), others);
    const auto alpha = SeriesOf(w, "ChartRatio");
    ASSERT_EQ(alpha.size(), 1u);
    ASSERT_GT(alpha[0]->Count(), 10);
    for (int i = 0; i < alpha[0]->Count(); ++i) ASSERT_NEAR(alpha[0]->YValue(i), 1.3, 0.2) << i;

    w.findChild<QRadioButton*>("RbLvlWv")->setChecked(true);
    EXPECT_EQ(SeriesOf(w, "GfxChart").at(0)->Count(), 0);
    EXPECT_EQ(Cell(w, 1, 1), "");

    w.findChild<QRadioButton*>("RBLvl1")->setChecked(true);
    w.findChild<QCheckBox*>("CBJulian")->toggle();
    Trigger(w, "Restartcalculation1");
    EXPECT_EQ(titles(), others);

    // Erasing every point empties each filter's own cells.
    w.resize(1000, 700);
    QApplication::processEvents();
    Click(w, "EraseBtn");
    Drag(w, "GfxChart", {-0.02, -0.02}, {1.02, 1.02});
    for (int c = 1; c <= 8; ++c) EXPECT_EQ(Cell(w, 1, c), "") << c;
  });
  EXPECT_TRUE(driven);
  const std::vector<std::string> texts = prompts.Texts();
  ASSERT_EQ(texts.size(), 1u) << ::testing::PrintToString(texts);
  EXPECT_NE(texts[0].find("not calibrated"), std::string::npos) << texts[0];
  EXPECT_NE(texts[0].find("calibr1.cal"), std::string::npos) << texts[0];
  EXPECT_NE(texts[0].find("): 1020 nm."), std::string::npos) << texts[0];
}

// 940 nm, the water-vapour channel, not calibrated: every optical thickness is shown without a word; the
// water vapour is left out, and said once when it is shown.
TEST(AotCalibration, TheVapourChannelNotCalibratedLeavesOutOnlyTheWaterVapour) {
  Station station;
  LoadDaysCalibratedBut(station, 940);
  ScopedPromptScript prompts;
  bool driven = false;
  station.Run([&](QWidget& w) {
    driven = true;
    ASSERT_EQ(SeriesOf(w, "GfxChart").size(), 8u);
    for (TChartSeries* s : SeriesOf(w, "GfxChart")) EXPECT_GT(s->Count(), 50) << s->Title().toStdString();
    EXPECT_TRUE(prompts.Texts().empty());
    w.findChild<QRadioButton*>("RbLvlWv")->setChecked(true);
    EXPECT_EQ(SeriesOf(w, "GfxChart").at(0)->Count(), 0);
    w.findChild<QRadioButton*>("RBLvl1")->setChecked(true);
    w.findChild<QRadioButton*>("RbLvlWv")->setChecked(true);
  });
  EXPECT_TRUE(driven);
  EXPECT_EQ(prompts.Texts(), std::vector<std::string>{
                                 "Filters not calibrated (a calibration constant of 0 in " +
                                 (station.home.Root() / "data/zelt/Calibration/calibr1.cal").string() +
                                 "): 940 nm. No water vapour is shown where it is computed from them."});
}

// A filter not calibrated at an earlier date only, the data after a date where it is: its optical
// thickness is Morvane's, shown whole, and there is nothing to say.
TEST(AotCalibration, AFilterNotCalibratedAtAnEarlierDateOnlyIsShown) {
  Station station;
  LoadDaysCalibratedBut(station, 0, CalibratedBut("2025 1 10", 1020) + CalibratedBut("2025 2 20", 0));
  ScopedPromptScript prompts;
  bool driven = false;
  station.Run([&](QWidget& w) {
    driven = true;
    const auto series = SeriesOf(w, "GfxChart");
    ASSERT_EQ(series.size(), 8u);
    EXPECT_EQ(series[0]->Title(), "1020 nm");
    EXPECT_GT(series[0]->Count(), 50);
    EXPECT_EQ(series[0]->Count(), series[1]->Count());
    EXPECT_NE(Cell(w, 1, 1), "");
  });
  EXPECT_TRUE(driven);
  EXPECT_TRUE(prompts.Texts().empty()) << ::testing::PrintToString(prompts.Texts());
}

// A calibration file is the station's history: a line of years before the data with 440 nm not
// calibrated refused every run of the station (the window always fits 870, 675, 440 and 500 nm). The
// constants in force decide: the results are those of the file without that line, the Angstrom
// exponent is drawn, and there is nothing to say.
TEST(AotCalibration, AnOldLineWithAFilterOfTheFitNotCalibratedChangesNothing) {
  std::string without;
  {
    Station station;
    LoadDaysCalibratedBut(station, 0, CalibratedBut("2025 2 20", 0));
    ScopedPromptScript prompts;
    station.Run([](QWidget&) {});
    EXPECT_TRUE(prompts.Texts().empty()) << prompts.Texts().front();
    without = ScopedTestHome::Read(station.ResultFolder() / "A.tao");
  }
  ASSERT_FALSE(without.empty());
  Station station;
  LoadDaysCalibratedBut(station, 0, CalibratedBut("2015 3 1", 440) + CalibratedBut("2025 2 20", 0));
  ScopedPromptScript prompts;
  bool driven = false;
  station.Run([&](QWidget& w) {
    driven = true;
    w.findChild<QRadioButton*>("RBLvl15")->setChecked(true);
    const auto series = SeriesOf(w, "ChartRatio");
    ASSERT_EQ(series.size(), 1u);
    EXPECT_GT(series[0]->Count(), 50);
  });
  EXPECT_TRUE(driven);
  EXPECT_TRUE(prompts.Texts().empty()) << prompts.Texts().front();
  EXPECT_TRUE(ScopedTestHome::Read(station.ResultFolder() / "A.tao") == without);
}
