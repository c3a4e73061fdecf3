// The calibration plug-in on q5gen's sun days, run through the plug-in host: its refusals, the three
// chart kinds, deletion by a mouse rectangle, the calibration file (new, compute, save, reload,
// delete), the exports against golden files, and Morvane reading the calibration on the same data.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialog>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>
#include <cmath>
#include <map>

#include "common/Prompt.h"
#include "plugins/tessaly/tests/TessalyTestEnv.h"

using namespace tessaly_test;

namespace {

const std::map<int, double> kV0 = {{1020, 20190}, {870, 26323}, {675, 30932}, {440, 26695}, {500, 28686},
                                   {940, 23523},  {380, 24349}, {340, 22687}, {1640, 9174}};
// The site of the sun days: a station number, its latitude in minutes and longitude in time.
const char kDays[] = "--sun-days 2 --start 2025-06-20 --interval 600 --param SITE=12 --param LAT=28.31 "
                     "--param LON=-16.50 --param ALT=2373";

void Click(QWidget& window, const char* name) {
  auto* b = window.findChild<QAbstractButton*>(name);
  ASSERT_NE(b, nullptr) << name;
  b->click();
}

QString Text(QWidget& window, const char* label) { return window.findChild<QLabel*>(label)->text(); }

// Chooses the date in the calibration-date dialog and presses OK.
void ChooseDate(int y, int m, int d) {
  WhenShown("ChoixDateFrm", [y, m, d](QWidget& dialog) {
    dialog.findChild<QDateTimeEdit*>("DateTimePicker1")->setDate(QDate(y, m, d));
    static_cast<QDialog&>(dialog).accept();
  });
}

std::string Golden(const std::string& name) {
  return ScopedTestHome::Read(std::filesystem::path(ZELT_TEST_SOURCE_DIR) / "plugins" / "tessaly" / "tests" / "golden" / name);
}

// Manual edit on, and every filter's extraterrestrial count typed in its cell (the sun days' own).
void TypeV0(QWidget& w) {
  auto* manual = w.findChild<QCheckBox*>("CheckBox1");
  if (!manual->isChecked()) manual->click();
  auto* grid = w.findChild<QTableWidget*>("StringGrid1");
  for (int r = 0; r < grid->rowCount(); ++r)
    grid->item(r, 2)->setText(QString::number(kV0.at(grid->item(r, 1)->text().section(' ', 0, 0).toInt())));
}

}  // namespace

TEST(TessalyRun, RefusesWithoutDataOrSunCounts) {
  Station station;
  ScopedPromptScript prompts;
  // No data file: refused before anything is made.
  EXPECT_EQ(station.RunWithoutWindow(), 1);
  // A file of sky scans and temperatures only: no sun counts.
  station.LoadSunDays("sky.Q5", "--records 30");
  auto* keep = station.file.get();
  for (int i = keep->Events.Count() - 1; i >= 0; --i)
    if (keep->Events[i]->ScnType && (keep->Events[i]->ScnType->Extension == "NSU" || keep->Events[i]->ScnType->Extension == "SSK"))
      keep->Events.Delete(i);
  station.RunWithoutWindow();
  EXPECT_EQ(prompts.Texts(), (std::vector<std::string>{"No data in memory.", "The Q5 file data  doesn't contain SUN digital count."}));
}

// A download not yet saved has no file name: its calibration is kept under the user's folder all the same.
TEST(TessalyRun, ADownloadNotYetSavedIsCalibrated) {
  Station station;
  station.LoadSunDays("days.Q5", kDays);
  station.file->FileName.clear();
  ScopedPromptScript prompts({PromptYes});
  bool opened = false;
  station.Run([&](QWidget& w) {
    opened = true;
    ChooseDate(2025, 6, 20);
    Click(w, "Button1");
    TypeV0(w);
    Click(w, "SaveBgrResultBtn");  // confirmed
  });
  EXPECT_TRUE(opened);
  EXPECT_EQ(prompts.Texts(), (std::vector<std::string>{"Confirm overwriting coefficients ?", "Save done"}));
  const std::string calib = ScopedTestHome::Read(station.home.Root() / "data" / "zelt" / "Calibration" / "calibr12.cal");
  EXPECT_EQ(calib.rfind("2025 6 20 20190 26323 ", 0), 0u) << calib;
}

// A coefficient typed with a slip is no number, and an extraterrestrial count is a positive one: either
// refuses the save (a new date's zeros too) and the file keeps what it had.
TEST(TessalyRun, ACoefficientThatIsNoPositiveNumberCancelsTheSave) {
  Station station;
  station.LoadSunDays("days.Q5", kDays);
  const std::filesystem::path file = station.home.Root() / "data" / "zelt" / "Calibration" / "calibr12.cal";
  ScopedPromptScript prompts({PromptYes});
  const std::vector<const char*> slips = {"1-2", "1 2", "1.2.3", "", "12x"}, notPositive = {"-5", "0", "-0", "0,0"};
  station.Run([&](QWidget& w) {
    auto* grid = w.findChild<QTableWidget*>("StringGrid1");
    ChooseDate(2025, 6, 20);
    Click(w, "Button1");
    Click(w, "SaveBgrResultBtn");  // the new date's zeros
    EXPECT_FALSE(std::filesystem::exists(file));
    TypeV0(w);
    for (const auto& cells : {slips, notPositive})
      for (const char* typed : cells) {
        grid->item(0, 2)->setText(typed);
        Click(w, "SaveBgrResultBtn");
        EXPECT_FALSE(std::filesystem::exists(file)) << typed;
      }
    grid->item(0, 2)->setText("20190,5");
    Click(w, "SaveBgrResultBtn");  // confirmed
  });
  std::vector<std::string> expected(1, "Error : Some datas are not positive. Save canceled");
  expected.insert(expected.end(), slips.size(), "Error : Some datas are not real. Save canceled");
  expected.insert(expected.end(), notPositive.size(), "Error : Some datas are not positive. Save canceled");
  expected.insert(expected.end(), {"Confirm overwriting coefficients ?", "Save done"});
  EXPECT_EQ(prompts.Texts(), expected);
  EXPECT_EQ(ScopedTestHome::Read(file).rfind("2025 6 20 20190.5 26323 ", 0), 0u) << ScopedTestHome::Read(file);
}

// "Text labels" shows and hides the captions under the tool bar's pictures.
TEST(TessalyRun, TextLabelsShowAndHideTheCaptionsUnderPictures) {
  Station station;
  station.LoadSunDays("days.Q5", kDays);
  station.Run([&](QWidget& w) {
    auto* bar = w.findChild<QWidget*>("BtnToolBar");
    auto* labels = w.findChild<QAction*>("SeeEtiquettesTextMnu");
    ASSERT_NE(labels, nullptr);
    EXPECT_FALSE(labels->isChecked());
    QApplication::processEvents();
    const QImage pictures = bar->grab().toImage();
    for (const char* name : {"CNViewBtn", "BgrTripletViewBtn", "BgrLinesViewBtn", "FiltersEditBtn", "SitePosBtn",
                             "ZoomValuesBtn", "SupprValuesBtn"}) {
      auto* b = w.findChild<QToolButton*>(name);
      EXPECT_FALSE(b->icon().isNull()) << name;
      EXPECT_EQ(b->toolButtonStyle(), Qt::ToolButtonIconOnly) << name;
    }
    labels->trigger();
    QApplication::processEvents();
    EXPECT_TRUE(labels->isChecked());
    const QImage captions = bar->grab().toImage();
    EXPECT_NE(captions, pictures);  // the captions show
    auto* dc = w.findChild<QToolButton*>("CNViewBtn");
    EXPECT_EQ(dc->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    EXPECT_GT(dc->sizeHint().height(), dc->iconSize().height() + dc->fontMetrics().height() - 2);
    labels->trigger();
    QApplication::processEvents();
    EXPECT_EQ(bar->grab().toImage(), pictures);
  });
}

TEST(TessalyRun, KindsDeletionCalibrationAndReload) {
  Station station;
  station.LoadSunDays("days.Q5", kDays);
  ScopedPromptScript prompts({PromptYes, PromptYes, PromptYes});
  int total = 0;
  station.Run([&](QWidget& w) {
    EXPECT_EQ(w.windowTitle(), "Bouguer-Langley calibration");
    EXPECT_EQ(Text(w, "SiteNumLbl"), "12");
    EXPECT_EQ(Text(w, "SiteLatLbl"), "28.31000");
    EXPECT_EQ(Text(w, "SiteLonLbl"), "-16.50000");
    total = Text(w, "NbCNTotalLbl").toInt();
    EXPECT_GT(total, 9 * 3 * 100);
    // Kind 0: the temperature, then one series per filter, longest wavelength first.
    std::vector<TChartSeries*> series = ChartSeries(w);
    ASSERT_EQ(series.size(), 10u);
    EXPECT_EQ(series[0]->Title(), "Temperature");
    EXPECT_EQ(series[1]->Title(), "1640 nm");
    EXPECT_EQ(series[9]->Title(), "340 nm");
    EXPECT_EQ(series[1]->Count() * 9, total);

    // Kind 1: one dispersion per triplet; the readings of a triplet were shifted 30 s apart.
    Click(w, "BgrTripletViewBtn");
    series = ChartSeries(w);
    ASSERT_EQ(series.size(), 9u);
    EXPECT_EQ(series[0]->Count() * 3 * 9, total);
    EXPECT_LT(series[0]->YValue(0), 5.0);

    // Kind 2: ln(count) against air mass; a rectangle around the first point of the 870 nm series
    // in delete mode takes it away, and only it.
    Click(w, "BgrLinesViewBtn");
    QApplication::processEvents();  // the chart lays its axes out
    series = ChartSeries(w);
    ASSERT_EQ(series.size(), 10u);
    TChartSeries* s870 = series[4];
    ASSERT_EQ(s870->Title(), "870 nm");
    const int before = s870->Count();
    const QPointF target = s870->Points().at(0);
    const QPoint pixel = PixelOf(w, s870, target);
    DeleteByBox(w, pixel, 2);
    series = ChartSeries(w);
    int removed = 0;
    for (TChartSeries* s : series) {
      if (s->Title() == "870 nm") {
        EXPECT_LT(s->Count(), before);
      }
      for (int i = 0; i < s->Count(); ++i) EXPECT_FALSE(s->Points().at(i) == target && s->Title() == "870 nm");
    }
    removed = total - Text(w, "NbCNTotalLbl").toInt();
    EXPECT_GE(removed, 1);
    EXPECT_LE(removed, 3);

    // A calibration date, the fits, the save.
    auto* grid = w.findChild<QTableWidget*>("StringGrid1");
    EXPECT_FALSE(grid->isEnabled());
    ChooseDate(2025, 6, 20);
    Click(w, "Button1");
    EXPECT_TRUE(grid->isEnabled());
    EXPECT_EQ(w.findChild<QComboBox*>("CBAnnee")->currentText(), "2025 6 20");
    EXPECT_EQ(grid->item(0, 2)->text(), "0");
    w.findChild<QCheckBox*>("FitToLineOnChkBx")->click();  // confirmed
    for (int r = 0; r < grid->rowCount(); ++r) {
      const int nm = grid->item(r, 1)->text().section(' ', 0, 0).toInt();
      // Both mornings and afternoons of two days, low suns included (a few tens of counts at 340 nm):
      // V0 within one percent.
      EXPECT_NEAR(grid->item(r, 2)->text().toDouble() / kV0.at(nm), 1.0, 1e-2) << nm;
    }
    Click(w, "SaveBgrResultBtn");  // confirmed
    // A second date; deleting it shows the first again, so a save cannot write its values elsewhere.
    ChooseDate(2025, 7, 1);
    Click(w, "Button1");  // "Save current modifications ?" answered by the script
    Click(w, "Button2");
    EXPECT_EQ(w.findChild<QComboBox*>("CBAnnee")->currentText(), "2025 6 20");
    EXPECT_NE(grid->item(0, 2)->text(), "0");
    // The same date again is refused.
    ChooseDate(2025, 6, 20);
    Click(w, "Button1");
    EXPECT_EQ(w.findChild<QComboBox*>("CBAnnee")->count(), 1);
  });
  const std::string calib = ScopedTestHome::Read(station.home.Root() / "data" / "zelt" / "Calibration" / "calibr12.cal");
  ASSERT_FALSE(calib.empty());
  EXPECT_EQ(calib.rfind("2025 6 20 ", 0), 0u) << calib;
  EXPECT_EQ(std::count(calib.begin(), calib.end(), '\n'), 1);
  EXPECT_EQ(calib.find(','), std::string::npos);
  const std::vector<std::string> asked = prompts.Texts();
  EXPECT_NE(std::find(asked.begin(), asked.end(), "The date 2025 6 20 already exists."), asked.end());

  // Opened again: the date is there with its coefficients, in the canonical filter order.
  station.Run([&](QWidget& w) {
    auto* grid = w.findChild<QTableWidget*>("StringGrid1");
    EXPECT_TRUE(grid->isEnabled());
    EXPECT_EQ(w.findChild<QComboBox*>("CBAnnee")->currentText(), "2025 6 20");
    EXPECT_EQ(grid->item(0, 1)->text(), "1020 nm");
    EXPECT_EQ(grid->item(8, 1)->text(), "1640 nm");
    EXPECT_NEAR(grid->item(0, 2)->text().toDouble(), 20190, 100);
    EXPECT_EQ(Text(w, "NbCNTotalLbl").toInt(), total);  // deletions last one run only
  });
}

TEST(TessalyRun, ExportsMatchTheGoldenFiles) {
  Station station;
  station.LoadSunDays("small.Q5", "--sun-days 1 --start 2025-06-20 --interval 7200 --param SITE=3");
  ScopedPromptScript prompts;
  const char* kinds[] = {"CNViewBtn", "BgrTripletViewBtn", "BgrLinesViewBtn"};
  const char* names[] = {"CNData.txt", "Trip.txt", "BgrData.txt"};
  station.Run([&](QWidget& w) {
    for (int k = 0; k < 3; ++k) {
      Click(w, kinds[k]);
      const std::string out = (station.home.Root() / names[k]).string();
      WhenShown("SaveASCIIDialog", [&](QWidget& dialog) {
        auto& files = static_cast<QFileDialog&>(dialog);
        EXPECT_EQ(files.selectedFiles().value(0).section('/', -1), names[k]);
        AnswerFileDialog(files, out);
      });
      w.findChild<QAction*>("ExportGfxASCIIVal")->trigger();
      EXPECT_EQ(ScopedTestHome::Read(out), Golden(names[k])) << names[k];
      if (std::getenv("ZELT_WRITE_GOLDEN"))
        ScopedTestHome::Write(std::filesystem::path(ZELT_TEST_SOURCE_DIR) / "plugins" / "tessaly" / "tests" / "golden" / names[k],
                              ScopedTestHome::Read(out));
    }
  });
  EXPECT_TRUE(prompts.Texts().empty());
}

TEST(TessalyRun, LangleyPlotsWithTheirLinesOnScreen) {
  Station station;
  station.LoadSunDays("days.Q5", kDays);
  ScopedPromptScript prompts({PromptYes});
  QImage shot;
  station.Run([&](QWidget& w) {
    w.resize(1100, 650);
    ChooseDate(2025, 6, 20);
    Click(w, "Button1");
    Click(w, "BgrLinesViewBtn");
    w.findChild<QCheckBox*>("FitToLineOnChkBx")->click();
    // Nine fitted lines after the temperature and the nine point series.
    EXPECT_EQ(ChartSeries(w).size(), 19u);
    // What the event loop would do before the next paint: the chart's old axis items go.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
    shot = w.grab().toImage();
  });
  ASSERT_FALSE(shot.isNull());
  // The colour of the instrument's first sun filter (340 nm: red, 0x0000FF as 0x00BBGGRR) is drawn.
  int red = 0;
  for (int y = 0; y < shot.height(); ++y)
    for (int x = 0; x < shot.width(); ++x) {
      const QColor c = shot.pixelColor(x, y);
      if (c.red() > 200 && c.green() < 60 && c.blue() < 60) ++red;
    }
  EXPECT_GT(red, 50);
  if (const char* path = std::getenv("ZELT_WRITE_SCREENSHOT")) shot.save(path);
}
