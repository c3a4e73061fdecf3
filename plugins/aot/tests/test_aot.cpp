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
#include <algorithm>
#include <cstdio>
#include <sstream>

#include "common/AsciiExport.h"
#include "common/Prompt.h"
#include "plugins/aot/AotRun.h"
#include "plugins/aot/tests/AotTestEnv.h"

using namespace aot_test;

namespace {

const char kDay[] = "--sun-days 1 --start 2025-06-20 --interval 900 --param SITE=12 --param LAT=28.31 "
                    "--param LON=-16.50";

// A result file of Morvane read through its own header: each value column under the name the header
// gives it (" TT0440" the second-pass optical thickness at 440 nm, " AlphaT1" the second-pass alpha,
// " VaporT" the second-pass water vapour).
struct MorvaneFile {
  MorvaneFile(const std::filesystem::path& path, bool screened) : screened_(screened) {
    const std::vector<std::string> lines = Lines(path);
    if (lines.empty()) throw std::runtime_error("no result file " + path.string());
    std::istringstream header(lines[0]);
    std::string name;
    for (int i = 0; header >> name; ++i)
      if (i >= 10) labels_.push_back(name);  // after Year ... Cloud
    records_.assign(lines.begin() + 1, lines.end());
  }
  size_t Records() const { return records_.size(); }
  bool Has(const std::string& label) const {
    return std::find(labels_.begin(), labels_.end(), label) != labels_.end();
  }
  double Value(size_t record, const std::string& label) const {
    const size_t column = static_cast<size_t>(std::find(labels_.begin(), labels_.end(), label) - labels_.begin());
    return std::stod(records_.at(record).substr((screened_ ? 65 : 64) + 15 * column, 15));
  }

 private:
  bool screened_;
  std::vector<std::string> labels_, records_;
};

// A series against the column `label` of `file`, point by point; the first point that differs.
void ExpectColumn(const TChartSeries& s, const MorvaneFile& file, const std::string& label) {
  ASSERT_TRUE(file.Has(label)) << label;
  ASSERT_EQ(static_cast<size_t>(s.Count()), file.Records()) << label;
  for (int i = 0; i < s.Count(); ++i) {
    const double written = file.Value(static_cast<size_t>(i), label);
    if (s.YValue(i) != written) {
      ADD_FAILURE() << s.Title().toStdString() << " shows " << s.YValue(i) << " at record " << i << ", " << label
                    << " is " << written;
      return;
    }
  }
}

// Every filter series of the window against the second-pass optical thickness of its wavelength.
void ExpectFilterSeries(QWidget& w, const MorvaneFile& file) {
  for (TChartSeries* s : SeriesOf(w, "GfxChart")) {
    char label[16];
    std::snprintf(label, sizeof label, "TT%04d", std::stoi(s->Title().toStdString()));
    ExpectColumn(*s, file, label);
  }
}

}  // namespace

// What the window shows is what Morvane wrote, for an instrument with and one without a water-vapour
// channel (as Morvane's instrument table has it): the second-pass optical thickness of each filter, the
// second-pass alpha, and the water vapour when there is one.
TEST(AotPlugIn, ShowsMorvanesColumnsWithAndWithoutWaterVapour) {
  for (const bool vapour : {true, false}) {
    SCOPED_TRACE(vapour ? "with water vapour" : "without water vapour");
    Station station;
    station.LoadSunDays("SITE0601.q5", kDay);
    Station::WriteCalibration(12);
    if (!vapour) {
      // Code 1 with the same nine wavelengths, none of them the vapour channel: 940 nm gets an optical
      // thickness of its own.
      std::filesystem::create_directories(station.AotFolder());
      ScopedTestHome::Write(station.AotFolder() / "instruments.dat",
                            "Instrumentos\nSin vapor\n9 filtros\n1\n9\n1020 870 675 440 500 940 380 340 1640\n"
                            "10 10 10 10 10 10 4 2 25\n0\n1\n");
    }
    ScopedPromptScript prompts;
    bool driven = false;
    station.Run([&](QWidget& w) {
      driven = true;
      const MorvaneFile tao(station.ResultFolder() / "SITE0601.tao", false);
      const MorvaneFile ta2(station.ResultFolder() / "SITE0601.ta2", true);
      ASSERT_EQ(tao.Has("VaporT"), vapour);
      ASSERT_GT(ta2.Records(), 10u);
      ASSERT_EQ(SeriesOf(w, "GfxChart").size(), 8u);
      ExpectFilterSeries(w, tao);

      w.findChild<QRadioButton*>("RBLvl15")->setChecked(true);
      ExpectFilterSeries(w, ta2);
      auto alpha = SeriesOf(w, "ChartRatio");
      ASSERT_EQ(alpha.size(), 1u);
      ExpectColumn(*alpha[0], ta2, "AlphaT1");
      EXPECT_NEAR(alpha[0]->YValue(0), 1.3, 0.2);  // q5gen's aerosol
      EXPECT_EQ(Cell(w, 0, 9), "Alpha");
      EXPECT_NEAR(Cell(w, 1, 9).toDouble(), ta2.Value(0, "AlphaT1"), 0.0005);

      w.findChild<QRadioButton*>("RbLvlWv")->setChecked(true);
      auto water = SeriesOf(w, "GfxChart");
      ASSERT_EQ(water.size(), 1u);
      if (vapour)
        ExpectColumn(*water[0], ta2, "VaporT");
      else
        EXPECT_EQ(water[0]->Count(), 0);
    });
    EXPECT_TRUE(driven);
    for (const auto& t : prompts.Texts()) ADD_FAILURE() << "unexpected message: " << t;
  }
}

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
    EXPECT_TRUE(std::filesystem::exists(station.ResultFolder() / "SITE0601.tao"));
    EXPECT_TRUE(std::filesystem::exists(station.ResultFolder() / "SITE0601.ta2"));
    EXPECT_FALSE(w.findChild<QLabel*>("Label2")->isVisible());

    // Level 1: eight filters (940 nm is the vapour channel), aerosol + Rayleigh as q5gen made them.
    auto series = SeriesOf(w, "GfxChart");
    ASSERT_EQ(series.size(), 8u);
    EXPECT_EQ(series[3]->Title(), "440 nm");
    const int records = static_cast<int>(Lines(station.ResultFolder() / "SITE0601.tao").size()) - 1;
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

// Data files of the same name in two folders (automatic names recur across stations and years): each
// gets its own results, and neither run replaces the other's.
TEST(AotPlugIn, SameNamedDataFilesOfOtherFoldersKeepTheirOwnResults) {
  Station station;
  Station::WriteCalibration(12);
  const std::pair<const char*, const char*> files[] = {
      {"june", "--sun-days 1 --start 2025-06-20 --interval 1800 --param SITE=12 --param LAT=28.31 --param LON=-16.50"},
      {"march", "--sun-days 1 --start 2024-03-10 --interval 1800 --param SITE=12 --param LAT=28.31 --param LON=-16.50"}};
  const char* firstDay[] = {"20/06/2025", "10/03/2024"};
  std::string juneResults;
  for (int round = 0; round < 2; ++round)
    for (int i = 0; i < 2; ++i) {
      SCOPED_TRACE(std::string(files[i].first) + (round ? ", opened again" : ""));
      std::filesystem::create_directories(station.home.Root() / files[i].first);
      if (round == 0) station.LoadSunDays(std::string(files[i].first) + "/12091347.q5", files[i].second);
      station.path = (station.home.Root() / files[i].first / "12091347.q5").string();
      station.LoadFile();
      ScopedPromptScript prompts;
      bool driven = false;
      station.Run([&](QWidget& w) {
        driven = true;
        // Computed the first time, the folder's own results afterwards.
        EXPECT_EQ(w.findChild<QLabel*>("Label2")->isVisible(), round == 1);
        EXPECT_TRUE(Cell(w, 1, 0).startsWith(firstDay[i])) << Cell(w, 1, 0).toStdString();
      });
      EXPECT_TRUE(driven);
      EXPECT_TRUE(prompts.Texts().empty());
      const std::string results = ScopedTestHome::Read(station.ResultFolder() / "12091347.tao");
      if (i == 0 && round == 0) juneResults = results;
      if (i == 0) {
        EXPECT_EQ(results, juneResults);
      }
    }
}

// A data file replaced by another of its name (copied over it, written again) gets its results computed
// again: the earlier ones are not shown as its own. Opened again unchanged, it keeps them.
TEST(AotPlugIn, ResultsAreReusedOnlyForTheDataFileAsItIsNow) {
  Station station;
  Station::WriteCalibration(12);
  const char site[] = " --interval 1800 --param SITE=12 --param LAT=28.31 --param LON=-16.50";
  std::filesystem::create_directories(station.home.Root() / "c");
  station.LoadSunDays("other.Q5", std::string("--sun-days 1 --start 2025-06-20") + site);
  const std::filesystem::path other = station.path;
  station.LoadSunDays("c/X.Q5", std::string("--sun-days 1 --start 2025-06-14") + site);
  const std::filesystem::path data = station.path;
  struct Opening {
    const char* says;
    bool previous;
    const char* firstDay;  // in the table, then in the result file
    const char* firstRecord;
  };
  const Opening openings[] = {{"computed", false, "14/06/2025", " 2025   6  14"},
                              {"another file copied over it", false, "20/06/2025", " 2025   6  20"},
                              {"opened again unchanged", true, "20/06/2025", " 2025   6  20"}};
  ScopedPromptScript prompts;
  for (const Opening& o : openings) {
    SCOPED_TRACE(o.says);
    if (&o == &openings[1]) std::filesystem::copy_file(other, data, std::filesystem::copy_options::overwrite_existing);
    station.path = data.string();
    station.LoadFile();
    bool driven = false;
    station.Run([&](QWidget& w) {
      driven = true;
      EXPECT_EQ(w.findChild<QLabel*>("Label2")->isVisible(), o.previous);
      EXPECT_TRUE(Cell(w, 1, 0).startsWith(o.firstDay)) << Cell(w, 1, 0).toStdString();
    });
    EXPECT_TRUE(driven);
    const std::vector<std::string> tao = Lines(station.ResultFolder() / "X.tao");
    ASSERT_GT(tao.size(), 1u);
    EXPECT_EQ(tao[1].substr(0, 13), o.firstRecord);
  }
  EXPECT_TRUE(prompts.Texts().empty()) << prompts.Texts().front();
}

// "Restart calculation" once the calibration file is gone says so as the opening does, before any run of
// Morvane; the earlier results stay on show.
TEST(AotPlugIn, RestartWithoutTheCalibrationFileSaysSoAsTheOpeningDoes) {
  Station station;
  station.LoadSunDays("SITE0601.q5", kDay);
  Station::WriteCalibration(12);
  ScopedPromptScript prompts;
  bool driven = false;
  station.Run([&](QWidget& w) {
    driven = true;
    const std::string results = ScopedTestHome::Read(station.ResultFolder() / "SITE0601.tao");
    std::filesystem::remove(station.AotFolder() / "inputpar.dat");
    std::filesystem::remove(station.home.Root() / "data/zelt/Calibration/calibr12.cal");
    Trigger(w, "Restartcalculation1");
    EXPECT_FALSE(std::filesystem::exists(station.AotFolder() / "inputpar.dat"));  // Morvane never ran
    EXPECT_EQ(ScopedTestHome::Read(station.ResultFolder() / "SITE0601.tao"), results);
    EXPECT_TRUE(w.findChild<QLabel*>("Label2")->isVisible());
    EXPECT_TRUE(Cell(w, 1, 0).startsWith("20/06/2025")) << Cell(w, 1, 0).toStdString();
  });
  EXPECT_TRUE(driven);
  station.RunWithoutWindow();
  const std::vector<std::string> texts = prompts.Texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], texts[1]);
  EXPECT_EQ(texts[0].rfind("No calibration file for this instrument (..\\Calibration\\calibr12.cal)\n", 0), 0u)
      << texts[0];
}

// Refusals before the window: no data, a name that is not a ".q5", no Morvane, no calibration file.
TEST(AotPlugIn, RefusesWithItsMessages) {
  Station station;
  ScopedPromptScript prompts;
  station.RunWithoutWindow();
  station.LoadSunDays("day.dat", kDay);
  station.RunWithoutWindow();
  station.LoadSunDays("SITE.Q5", kDay);
  station.RunWithoutWindow();
  station.home.Set("PATH", "/usr/bin:/bin");
  station.RunWithoutWindow();
  const auto texts = prompts.Texts();
  ASSERT_EQ(texts.size(), 4u);
  EXPECT_EQ(texts[0], "No data in memory.");
  EXPECT_NE(texts[1].find(".q5"), std::string::npos) << texts[1];
  // The classic text, then the file this station looks for and what writes it.
  EXPECT_EQ(texts[2], "No calibration file for this instrument (..\\Calibration\\calibr12.cal)\n" +
                          (station.home.Root() / "data/zelt/Calibration/calibr12.cal").string() +
                          " does not exist: the Bouguer-Langley calibration writes it.");
  EXPECT_EQ(texts[3], "Please install AOT binaries");
}

// A data file without direct-sun measurements (a polar night): said before any run of Morvane, and
// nothing about the calibration.
TEST(AotPlugIn, NoDirectSunMeasurementsIsSaidBeforeAnyRun) {
  Station station;
  station.LoadSunDays("POLE1221.q5", "--sun-days 1 --start 2025-12-21 --param SITE=12 --param LAT=85 --param LON=10");
  Station::WriteCalibration(12);
  ScopedPromptScript prompts;
  bool driven = false;
  station.Run([&](QWidget& w) {
    driven = true;
    EXPECT_FALSE(std::filesystem::exists(station.AotFolder() / "inputpar.dat"));  // Morvane never ran
    EXPECT_EQ(SeriesOf(w, "GfxChart")[0]->Count(), 0);
    EXPECT_FALSE(w.findChild<QLabel*>("Label2")->isVisible());
  });
  EXPECT_TRUE(driven);
  EXPECT_EQ(prompts.Texts(),
            std::vector<std::string>{"This data file holds no direct-sun measurements: there is no AOT to compute."});
}
