// The AOT window's controls: their names, the site's pressure and ozone, erasing, the linked zoom and
// the ASCII export, on a run of the real Morvane.
#include <gtest/gtest.h>

#include <QAbstractAxis>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QValueAxis>

#include "common/AsciiExport.h"
#include "common/IniFile.h"
#include "common/Prompt.h"
#include "plugins/aot/tests/AotTestEnv.h"

using namespace aot_test;

namespace {

const char kDay[] = "--sun-days 1 --start 2025-06-20 --interval 1800 --param SITE=12 --param LAT=28.31 "
                    "--param LON=-16.50";
const char kAskCompute[] = "Do you want to compute with new values ?";

void LeaveEdit(QWidget& w, const char* name, const QString& text) {
  auto* edit = w.findChild<QLineEdit*>(name);
  edit->setText(text);
  QFocusEvent out(QEvent::FocusOut);
  QApplication::sendEvent(edit, &out);
}

// The visible bottom axis range of a chart.
std::pair<double, double> BottomRange(QWidget& w, const char* chart) {
  for (QAbstractAxis* a : w.findChild<QChartView*>(chart)->chart()->axes(Qt::Horizontal)) {
    auto* v = qobject_cast<QValueAxis*>(a);
    if (v && a->isVisible()) return {v->min(), v->max()};
  }
  return {0, 0};
}

class AotWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    station.LoadSunDays("SITE0601.q5", kDay);
    Station::WriteCalibration(12);
  }
  Station station;
};

}  // namespace

TEST_F(AotWindow, ControlsCarryTheirNames) {
  ScopedPromptScript prompts;
  station.Run([&](QWidget& w) {
    EXPECT_EQ(w.windowTitle(), "AOT");
    const std::pair<const char*, const char*> buttons[] = {
        {"CBJulian", "Use julian date"}, {"Button1", "Unzoom"},        {"Button2", "ASCII Export"},
        {"CBPression", "Manual pressure"}, {"CBOzone", "Manual Ozone"}, {"RBLvl1", "Level 1"},
        {"RBLvl15", "Level 1.5"},          {"RbLvlWv", "WV"},           {"ZommBtn", nullptr},
        {"EraseBtn", nullptr}};
    for (const auto& [name, caption] : buttons) {
      auto* b = w.findChild<QAbstractButton*>(name);
      ASSERT_NE(b, nullptr) << name;
      if (caption) {
        EXPECT_EQ(b->text(), caption) << name;
      }
    }
    for (const char* name : {"Panel1", "Panel2", "Label2", "EPression", "EOzone", "CLBFiltre", "StringGrid1",
                             "GfxChart", "ChartRatio", "Splitter1"})
      EXPECT_NE(w.findChild<QWidget*>(name), nullptr) << name;
    EXPECT_EQ(w.findChild<QLabel*>("Label2")->text(), "Data from a previous computation");
    EXPECT_TRUE(w.findChild<QRadioButton*>("RBLvl1")->isChecked());
    auto* pages = w.findChild<QTabWidget*>();
    ASSERT_NE(pages, nullptr);
    EXPECT_EQ(pages->tabText(0), "Table");
    EXPECT_EQ(pages->tabText(1), "Graphic");
    const std::pair<const char*, const char*> actions[] = {
        {"Open1", "Open"},          {"Restartcalculation1", "Restart calculation"},
        {"Siteposition1", "Site position"}, {"About1", "About..."},
        {"Invertselection1", "Invert selection"}, {"Selectall1", "Select all"},
        {"Unselectall1", "Unselect all"}};
    for (const auto& [name, caption] : actions) {
      auto* a = w.findChild<QAction*>(name);
      ASSERT_NE(a, nullptr) << name;
      EXPECT_EQ(a->text(), caption);
    }
    // The filter pop-up menu.
    auto* list = w.findChild<QListWidget*>("CLBFiltre");
    Trigger(w, "Unselectall1");
    for (int i = 0; i < list->count(); ++i) EXPECT_EQ(list->item(i)->checkState(), Qt::Unchecked);
    list->item(2)->setCheckState(Qt::Checked);
    Trigger(w, "Invertselection1");
    EXPECT_EQ(list->item(2)->checkState(), Qt::Unchecked);
    EXPECT_EQ(list->item(3)->checkState(), Qt::Checked);
    EXPECT_FALSE(SeriesOf(w, "GfxChart")[2]->Visible());
    EXPECT_TRUE(SeriesOf(w, "GfxChart")[3]->Visible());
    Trigger(w, "Selectall1");
    EXPECT_TRUE(SeriesOf(w, "GfxChart")[2]->Visible());

    if (const char* shot = std::getenv("ZELT_AOT_SCREENSHOT")) {
      w.resize(1000, 640);
      QApplication::processEvents();
      w.grab().save(shot);
    }
  });
  EXPECT_TRUE(prompts.Texts().empty());
}

// Pressure and ozone: kept per site in the site file, asked whether to compute again, written into
// the parameter file; an empty edit is a value not given.
TEST_F(AotWindow, PressureAndOzoneOfTheSite) {
  ScopedPromptScript prompts({PromptYes, PromptNo});
  const auto parameters = station.AotFolder() / "inputpar.dat";
  station.Run([&](QWidget& w) {
    EXPECT_FALSE(w.findChild<QLineEdit*>("EOzone")->isEnabled());
    EXPECT_EQ(w.findChild<QLineEdit*>("EOzone")->text(), "300");
    EXPECT_EQ(w.findChild<QLineEdit*>("EPression")->text(), "-1");
    w.findChild<QCheckBox*>("CBOzone")->setChecked(true);
    EXPECT_TRUE(w.findChild<QLineEdit*>("EOzone")->isEnabled());
    LeaveEdit(w, "EOzone", "250");  // Yes: computed again
    EXPECT_EQ(Lines(parameters)[8], "250");
    w.findChild<QCheckBox*>("CBPression")->setChecked(true);
    LeaveEdit(w, "EPression", "");  // not given, as before: nothing asked
    EXPECT_EQ(prompts.Texts().size(), 1u);
    w.findChild<QLineEdit*>("EPression")->setText("850");  // asked when the window closes: No
  });
  EXPECT_EQ(prompts.Texts(), (std::vector<std::string>{kAskCompute, kAskCompute}));
  TIniFile infos{station.home.Root() / "data/zelt/Calibration/infos.ini"};
  std::vector<std::string> sections = infos.ReadSections();
  ASSERT_EQ(sections.size(), 1u);
  EXPECT_EQ(infos.ReadString(sections[0], "SiteOzone", ""), "250");
  EXPECT_EQ(infos.ReadString(sections[0], "SitePression", ""), "850");
  EXPECT_EQ(Lines(parameters)[12], "-1");  // the closing run was declined

  // Opened again: the site's values, and a daily ozone file named only when the user has one.
  ScopedTestHome::Write(station.AotFolder() / "ozonodiario.dat", "2025 6 20 310\r\n");
  ScopedPromptScript again;
  station.Run([&](QWidget& w) {
    EXPECT_TRUE(w.findChild<QCheckBox*>("CBPression")->isChecked());
    EXPECT_EQ(w.findChild<QLineEdit*>("EPression")->text(), "850");
    EXPECT_EQ(w.findChild<QLineEdit*>("EOzone")->text(), "250");
    Trigger(w, "Restartcalculation1");
    auto lines = Lines(parameters);
    ASSERT_EQ(lines.size(), 14u);
    EXPECT_EQ(lines[8], "250");
    EXPECT_EQ(lines[12], "850");
    w.findChild<QCheckBox*>("CBOzone")->setChecked(false);
    EXPECT_EQ(w.findChild<QLineEdit*>("EOzone")->text(), "300");
    Trigger(w, "Restartcalculation1");
    lines = Lines(parameters);
    ASSERT_EQ(lines.size(), 15u);
    EXPECT_EQ(lines[8], "-1");
    EXPECT_EQ(lines[9], "ozonodiario.dat");
    w.findChild<QCheckBox*>("CBPression")->setChecked(false);
  });
}

// The pressure is typed into the edit as it comes once "Manual pressure" is ticked; a pressure or an
// ozone out of its range is refused, the value kept before stays, and nothing is computed with it.
TEST_F(AotWindow, ManualValuesAreTypedAndOutOfRangeOnesRefused) {
  const char kPressureRefused[] = "The pressure must be a positive number of hPa, up to 1100.";
  const char kOzoneRefused[] = "The ozone must be a number of Dobson units from 50 to 800.";
  ScopedPromptScript prompts({PromptYes});
  const auto parameters = station.AotFolder() / "inputpar.dat";
  station.Run([&](QWidget& w) {
    auto* pressure = w.findChild<QLineEdit*>("EPression");
    Click(w, "CBPression");
    ASSERT_TRUE(pressure->isEnabled());
    QTest::keyClicks(pressure, "850");
    EXPECT_EQ(pressure->text().toStdString(), "850");
    LeaveEdit(w, "EPression", pressure->text());  // Yes: computed with it
    EXPECT_EQ(Lines(parameters).at(12), "850");

    pressure->clear();
    QTest::keyClicks(pressure, "0");
    LeaveEdit(w, "EPression", pressure->text());
    EXPECT_EQ(pressure->text().toStdString(), "850");

    auto* ozone = w.findChild<QLineEdit*>("EOzone");
    Click(w, "CBOzone");
    ozone->selectAll();
    QTest::keyClicks(ozone, "5000");
    LeaveEdit(w, "EOzone", ozone->text());
    EXPECT_EQ(ozone->text().toStdString(), "300");

    // Typed and not left: the computation refuses it as well.
    const std::string before = ScopedTestHome::Read(parameters);
    pressure->setText("2000");
    Trigger(w, "Restartcalculation1");
    EXPECT_EQ(ScopedTestHome::Read(parameters), before);
    EXPECT_EQ(pressure->text().toStdString(), "850");
    Click(w, "CBOzone");  // unticked: back to the usual ozone, nothing to ask when the window closes
  });
  EXPECT_EQ(prompts.Texts(),
            (std::vector<std::string>{kAskCompute, kPressureRefused, kOzoneRefused, kPressureRefused}));
  TIniFile infos{station.home.Root() / "data/zelt/Calibration/infos.ini"};
  const std::vector<std::string> sections = infos.ReadSections();
  ASSERT_EQ(sections.size(), 1u);
  EXPECT_EQ(infos.ReadString(sections[0], "SitePression", ""), "850");
  EXPECT_EQ(infos.ReadString(sections[0], "SiteOzone", "none"), "none");
}

// Erasing with a rubber band over every point empties the series and their table cells; the zoom of one
// chart is followed by the other, and so is its undoing.
TEST_F(AotWindow, EraseAndLinkedZoom) {
  ScopedPromptScript prompts;
  station.Run([&](QWidget& w) {
    w.resize(1000, 700);
    w.findChild<QRadioButton*>("RBLvl15")->setChecked(true);
    QApplication::processEvents();
    const auto whole = BottomRange(w, "ChartRatio");
    Drag(w, "GfxChart", {0.25, 0.0}, {0.75, 1.0});
    const auto zoomed = BottomRange(w, "GfxChart");
    EXPECT_GT(zoomed.first, whole.first);
    EXPECT_EQ(BottomRange(w, "ChartRatio"), zoomed);
    Click(w, "Button1");  // "Unzoom"
    EXPECT_EQ(BottomRange(w, "GfxChart"), whole);
    EXPECT_EQ(BottomRange(w, "ChartRatio"), whole);

    ASSERT_FALSE(Cell(w, 1, 1).isEmpty());
    Click(w, "EraseBtn");
    Drag(w, "GfxChart", {-0.02, -0.02}, {1.02, 1.02});
    for (TChartSeries* s : SeriesOf(w, "GfxChart")) EXPECT_EQ(s->Count(), 0) << s->Title().toStdString();
    EXPECT_TRUE(Cell(w, 1, 1).isEmpty());
    EXPECT_FALSE(Cell(w, 1, 0).isEmpty());  // the time stays
    const auto alpha = SeriesOf(w, "ChartRatio");
    ASSERT_EQ(alpha.size(), 1u);
    EXPECT_GT(alpha[0]->Count(), 0);  // Alpha is not erased
  });
  EXPECT_TRUE(prompts.Texts().empty());
}

// "Level 1.5" gives the optical thickness half the page: its legend, like the Angstrom chart's, keeps
// every entry whole inside the chart and beside the plot, on a tall window and on a short one.
TEST_F(AotWindow, Level15LegendsKeepEveryEntryWhole) {
  ScopedPromptScript prompts;
  station.Run([&](QWidget& w) {
    w.findChild<QRadioButton*>("RBLvl15")->setChecked(true);
    for (int height : {700, 520, 420}) {
      SCOPED_TRACE(height);
      w.resize(1000, height);
      QApplication::processEvents();
      QStringList filters;
      for (TChartSeries* s : SeriesOf(w, "GfxChart")) filters << s->Title();
      ASSERT_EQ(filters.size(), 8);
      for (auto [name, expected] : {std::pair{"GfxChart", filters}, std::pair{"ChartRatio", QStringList{"Angstrom"}}}) {
        auto* chart = w.findChild<TChart*>(name);
        ASSERT_LT(chart->height(), height / 2) << name;
        QStringList listed;
        for (const TChart::TLegendEntry& e : chart->LegendEntries()) {
          listed << e.Name;
          EXPECT_TRUE(QRectF(chart->viewport()->rect()).contains(e.Rect)) << e.Name.toStdString() << " cut";
          EXPECT_FALSE(chart->PlotArea().intersects(e.Rect)) << e.Name.toStdString();
        }
        EXPECT_EQ(listed.join(", "), expected.join(", ")) << name;
      }
    }
  });
  EXPECT_TRUE(prompts.Texts().empty());
}

// "Site position" computes again with the site as edited; "Open" shows a chosen result file.
TEST_F(AotWindow, SitePositionAndOpen) {
  ScopedPromptScript prompts;
  station.Run([&](QWidget& w) {
    WhenShown("SitePropsFrm", [](QWidget& d) {
      d.findChild<QLineEdit*>("LatEdit")->setText("30.5");
      d.findChild<QLineEdit*>("AltEdit")->setText("2373");
      Click(d, "OKBtn");
    });
    Trigger(w, "Siteposition1");
    const auto lines = Lines(station.AotFolder() / "inputpar.dat");
    ASSERT_EQ(lines.size(), 14u);
    EXPECT_EQ(lines[4], "30.5");
    EXPECT_EQ(lines[6], "2373");

    WhenFileDialogShown("OpenDialog1", (station.ResultFolder() / "SITE0601.ta2").string());
    const int level1 = SeriesOf(w, "GfxChart")[0]->Count();
    Trigger(w, "Open1");
    // The screened records: no more than Level 1 has, one character to the right.
    const int screened = SeriesOf(w, "GfxChart")[0]->Count();
    EXPECT_GT(screened, 0);
    EXPECT_LE(screened, level1);
    EXPECT_EQ(screened, static_cast<int>(Lines(station.ResultFolder() / "SITE0601.ta2").size()) - 1);
  });
  EXPECT_TRUE(prompts.Texts().empty());
}

// "ASCII Export": the table, each cell followed by the host's list separator, under the proposed name.
TEST_F(AotWindow, AsciiExportOfTheTable) {
  station.lists.Scn().SepList = ";";
  const auto txt = station.home.Root() / "SITE0601.txt";
  ScopedPromptScript prompts;
  station.Run([&](QWidget& w) {
    WhenShown("SaveDialog1", [&](QWidget& d) {
      auto& dialog = static_cast<QFileDialog&>(d);
      EXPECT_EQ(dialog.selectedFiles().value(0).toStdString(), txt.string());
      AnswerFileDialog(dialog);
    });
    Click(w, "Button2");
  });
  EXPECT_EQ(prompts.Texts(), std::vector<std::string>{"Exportation finished"});
  const auto lines = Lines(txt);
  ASSERT_GT(lines.size(), 5u);
  EXPECT_EQ(lines[0].rfind("Day/Hour;1020 nm;870 nm;", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1].back(), ';');
  EXPECT_EQ(std::count(lines[1].begin(), lines[1].end(), ';'), 9);
}

// "About...": the product line and the plug-in's version; a click on the version shows its build.
TEST_F(AotWindow, AboutBoxShowsTheBuild) {
  ScopedPromptScript prompts;
  station.Run([&](QWidget& w) {
    WhenShown("AboutBox", [](QWidget& about) {
      auto* version = about.findChild<QLabel*>("Version");
      ASSERT_NE(version, nullptr);
      EXPECT_EQ(version->text(), "5.12");
      QTest::mouseClick(version, Qt::LeftButton);
      static_cast<QDialog&>(about).accept();
    });
    Trigger(w, "About1");
  });
  EXPECT_EQ(prompts.Texts(), std::vector<std::string>{"Build 5.12.0.0"});
}
