// The calibration window's smaller commands: the warnings of "Compute plots", the filter and site
// dialogs, the coordinates, a triplet taken away in kind 1, the about box and the window's state; the
// Langley plots and lines after the site moved or points were taken away.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <cmath>

#include "common/Prompt.h"
#include "common/SettingsStore.h"
#include "common/analysis/Physics.h"
#include "common/tests/support/Q5Images.h"
#include "plugins/tessaly/tests/TessalyTestEnv.h"

using namespace tessaly_test;

namespace {
const char kDays[] = "--sun-days 1 --start 2025-06-20 --interval 1800 --param SITE=5";

QAction* Action(QWidget& w, const char* name) { return w.findChild<QAction*>(name); }
}  // namespace

TEST(TessalyWindow, ComputePlotsNeedsADate) {
  Station station;
  station.LoadSunDays("days.Q5", kDays);
  ScopedPromptScript prompts;
  station.Run([](QWidget& w) {
    w.findChild<QAbstractButton*>("BgrLinesViewBtn")->click();
    auto* box = w.findChild<QCheckBox*>("FitToLineOnChkBx");
    EXPECT_TRUE(box->isEnabled());
    box->click();
    EXPECT_FALSE(box->isChecked());
    EXPECT_EQ(ChartSeries(w).size(), 10u);  // no lines
    w.findChild<QAbstractButton*>("CNViewBtn")->click();
    EXPECT_FALSE(box->isEnabled());
  });
  EXPECT_EQ(prompts.Texts(), std::vector<std::string>{"Please choiose a date"});
}

TEST(TessalyWindow, FilterDialogHidesFiltersAndSiteDialogChecksNumbers) {
  Station station;
  station.LoadSunDays("days.Q5", kDays);
  ScopedPromptScript prompts;
  station.Run([&](QWidget& w) {
    WhenShown("FilterEditFrm", [](QWidget& dialog) {
      EXPECT_EQ(dialog.findChild<QLabel*>("NbFiltersLbl")->text(), "9");
      QTest::mouseClick(dialog.findChild<QLabel*>("Filter3Lbl"), Qt::LeftButton);
      EXPECT_EQ(dialog.findChild<QLineEdit*>("WaveLengthEdit")->text(), "675.0");
      EXPECT_FALSE(dialog.findChild<QLabel*>("ColorLbl")->isVisible());  // expert mode only
      for (int p = 1; p <= 9; ++p) {
        QTest::mouseClick(dialog.findChild<QLabel*>(QString("Filter%1Shape").arg(p)), Qt::LeftButton);
        dialog.findChild<QCheckBox*>("FilterVisibleChkBx")->setChecked(false);
      }
      static_cast<QDialog&>(dialog).accept();
    });
    w.findChild<QAbstractButton*>("FiltersEditBtn")->click();
    // Only the temperature is left in kind 0; the export has nothing to write.
    EXPECT_EQ(ChartSeries(w).size(), 1u);

    WhenShown("SitePropsFrm", [](QWidget& dialog) {
      dialog.findChild<QLineEdit*>("LatEdit")->setText("north");
      dialog.findChild<QLineEdit*>("SiteNameEdit")->setText("Roof");
      auto& d = static_cast<QDialog&>(dialog);
      dialog.findChild<QAbstractButton*>("OKBtn")->click();
      EXPECT_TRUE(d.isVisible());  // stays open at the first bad number
      dialog.findChild<QLineEdit*>("LatEdit")->setText("45,25");
      dialog.findChild<QAbstractButton*>("OKBtn")->click();
    });
    w.findChild<QAbstractButton*>("SitePosBtn")->click();
    EXPECT_EQ(w.findChild<QLabel*>("SiteNameLbl")->text(), "Roof");
    EXPECT_EQ(w.findChild<QLabel*>("SiteLatLbl")->text(), "45.25000");
  });
  EXPECT_EQ(prompts.Texts(), std::vector<std::string>{"The latitude isn't a correct real number!"});
  const std::string infos = ScopedTestHome::Read(station.home.Root() / "data" / "zelt" / "Calibration" / "infos.ini");
  EXPECT_NE(infos.find("[005]"), std::string::npos) << infos;
  EXPECT_NE(infos.find("SiteLat=45.25"), std::string::npos) << infos;
  // The next run reads the site file back.
  station.Run([](QWidget& w) { EXPECT_EQ(w.findChild<QLabel*>("SiteNameLbl")->text(), "Roof"); });
}

TEST(TessalyWindow, TripletBoxCoordinatesAboutAndState) {
  Station station;
  station.LoadSunDays("days.Q5", kDays);
  ScopedPromptScript prompts;
  RunLaidOut(station, [&](QWidget& w) {
    w.findChild<QAbstractButton*>("BgrTripletViewBtn")->click();
    QApplication::processEvents();  // the chart lays its axes out
    auto* view = w.findChild<QChartView*>("GfxChart");
    std::vector<TChartSeries*> series = ChartSeries(w);
    ASSERT_EQ(series.size(), 9u);
    const int total = w.findChild<QLabel*>("NbCNTotalLbl")->text().toInt();
    // The first triplet of the morning at 340 nm: its spread stands apart from the other filters'.
    TChartSeries* s340 = series[8];
    ASSERT_EQ(s340->Title(), "340 nm");
    const int triplets = s340->Count();
    const QPoint pixel = PixelOf(w, s340, s340->Points().at(0));
    // The coordinates window follows the mouse.
    Action(w, "SeeCoordWindowsMnu")->trigger();
    QTest::mouseMove(view->viewport(), pixel);
    EXPECT_NE(w.findChild<QLabel*>("XValLbl")->text(), "-");
    DeleteByBox(w, pixel, 1);
    // The whole triplet of that filter only.
    EXPECT_EQ(w.findChild<QLabel*>("NbCNTotalLbl")->text().toInt(), total - 3);
    series = ChartSeries(w);
    EXPECT_EQ(series[8]->Count(), triplets - 1);
    for (int k = 0; k < 8; ++k) EXPECT_EQ(series[static_cast<size_t>(k)]->Count(), triplets) << k;

    WhenShown("AboutBox", [](QWidget& about) {
      EXPECT_EQ(about.findChild<QLabel*>("Version")->text(), "5.12");
      static_cast<QDialog&>(about).accept();
    });
    Action(w, "AboutMnu")->trigger();
    w.findChild<QAction*>("SeeEtiquettesTextMnu")->trigger();
    w.move(40, 50);
  });
  TRegistryIniFile key("SOFTWARE\\DORAX Quenlith\\ZELT Win\\Tessaly");
  EXPECT_TRUE(key.ReadBool("", "ShowTBCaption", false));
  EXPECT_EQ(key.ReadInteger("Status", "TessalyFrm_Width", -1), 900);
  EXPECT_TRUE(key.ReadBool("Status", "SeeViewCoord", false));
  station.Run([](QWidget& w) {
    EXPECT_EQ(w.width(), 900);
    EXPECT_TRUE(w.findChild<QAction*>("SeeEtiquettesTextMnu")->isChecked());
  });
}

TEST(TessalyWindow, BoxInCountsMatchesThePlottedCounts) {
  Station station;
  station.LoadSunDays("days.Q5", kDays);
  ScopedPromptScript prompts;
  RunLaidOut(station, [&](QWidget& w) {
    std::vector<TChartSeries*> series = ChartSeries(w);
    ASSERT_EQ(series.size(), 10u);
    // In June the counts are plotted 3 % below the recorded ones (the Sun is far): a box drawn around
    // what is shown takes the point.
    TChartSeries* s870 = series[4];
    ASSERT_EQ(s870->Title(), "870 nm");
    const int before = s870->Count();
    const QPoint pixel = PixelOf(w, s870, s870->Points().at(before / 2));
    DeleteByBox(w, pixel, 2);
    series = ChartSeries(w);
    // The point, and the other readings of its triplet where they lie under the box too (30 s apart).
    EXPECT_LT(series[4]->Count(), before);
    EXPECT_GE(series[4]->Count(), before - 3);
    EXPECT_EQ(series[3]->Count(), before);
  });
}

// The window keeps what it plotted between views: a moved site gives the air masses of the new
// position, and points taken away after the fit give lines fitted to the points left.
TEST(TessalyWindow, LangleyPlotsFollowTheSiteAndLinesThePointsLeft) {
  Station station;
  station.LoadSunDays("days.Q5", kDays);
  ScopedPromptScript prompts({PromptYes});
  RunLaidOut(station, [&](QWidget& w) {
    auto click = [&w](const char* name) { w.findChild<QAbstractButton*>(name)->click(); };
    auto series870 = [&w]() -> TChartSeries* {
      for (TChartSeries* s : ChartSeries(w))
        if (s->Title() == "870 nm") return s;
      return nullptr;
    };
    click("BgrLinesViewBtn");
    ASSERT_NE(series870(), nullptr);
    const QList<QPointF> before = series870()->Points();
    WhenShown("SitePropsFrm", [](QWidget& dialog) {
      dialog.findChild<QLineEdit*>("LatEdit")->setText("45.25");
      dialog.findChild<QLineEdit*>("LonEdit")->setText("10");
      dialog.findChild<QAbstractButton*>("OKBtn")->click();
    });
    click("SitePosBtn");
    click("BgrLinesViewBtn");
    const QList<QPointF> langley = series870()->Points();
    click("CNViewBtn");
    // ln(count) against the air mass over the moved site, for each count of a sun 5 degrees up or more.
    Uphysics::TPositionRec moved;
    moved.Latitude = 45.25;
    moved.Longitude = 10;
    QList<QPointF> expected;
    for (const QPointF& p : series870()->Points()) {
      const double m = Uphysics::AirMass(Uphysics::SolarZenithAngle(Uphysics::DateRecOf(p.x()), moved));
      if (p.y() > 0 && m != 0) expected.append(QPointF(m, std::log(p.y())));
    }
    EXPECT_NE(langley, before);
    EXPECT_EQ(langley, expected);

    click("BgrLinesViewBtn");
    WhenShown("ChoixDateFrm", [](QWidget& dialog) { static_cast<QDialog&>(dialog).accept(); });
    click("Button1");
    w.findChild<QCheckBox*>("FitToLineOnChkBx")->click();  // confirmed
    QApplication::processEvents();  // the chart lays its axes out
    auto* grid = w.findChild<QTableWidget*>("StringGrid1");
    int row = -1;
    for (int r = 0; r < grid->rowCount(); ++r)
      if (grid->item(r, 1)->text() == "870 nm") row = r;
    ASSERT_GE(row, 0);
    const QString fitted = grid->item(row, 2)->text();
    const int count = series870()->Count();
    DeleteByBox(w, PixelOf(w, series870(), series870()->Points().at(count / 2)), 60);
    const QList<QPointF> left = series870()->Points();
    ASSERT_LT(left.size(), count);
    std::vector<double> x, y;
    for (const QPointF& p : left) {
      x.push_back(p.x());
      y.push_back(p.y());
    }
    double slope = 0, intercept = 0;
    ASSERT_EQ(Umathematic::LeastSquaresLine(x.data(), y.data(), static_cast<int>(x.size()), slope, intercept), 0);
    EXPECT_NE(grid->item(row, 2)->text(), fitted);
    EXPECT_NEAR(grid->item(row, 2)->text().toDouble(), std::exp(intercept), 0.5);  // shown as a whole count
  });
}

TEST(TessalyWindow, TripletsOfZeroCountsShowNoSpread) {
  // Two triplets; the second reads 0 on the 1640 nm channel three times.
  auto record = [](int minute, int count1640) {
    q5test::Bytes values;
    for (int k = 0; k < 27; ++k) {
      const int v = k % 9 == 8 ? count1640 : 9900 + 100 * (k / 9);
      values.push_back(static_cast<uint8_t>(v >> 8));
      values.push_back(static_cast<uint8_t>(v));
    }
    values.push_back(0x02);  // 25.0 degrees: raw 650
    values.push_back(0x8A);
    return q5test::MakeRecord(0x12, {2025, 6, 20, 12, minute, 0}, values);
  };
  const q5test::Bytes image = q5test::MakeImage(q5test::MakeParamBlock(0x0A, "SP0A0123"), {record(0, 5000), record(15, 0)});
  Station station;
  station.LoadBytes("zero.Q5", std::string(image.begin(), image.end()));
  ScopedPromptScript prompts;
  station.Run([](QWidget& w) {
    w.findChild<QAbstractButton*>("BgrTripletViewBtn")->click();
    std::vector<TChartSeries*> series = ChartSeries(w);
    ASSERT_EQ(series.size(), 9u);
    ASSERT_EQ(series[0]->Title(), "1640 nm");
    EXPECT_EQ(series[0]->Count(), 1);
    EXPECT_EQ(series[1]->Count(), 2);
    // 9900, 10000, 10100: a spread of 2 % of the mean.
    EXPECT_NEAR(series[1]->YValue(0), 2.0, 1e-4);
  });
}

TEST(TessalyWindow, ColourAndPrintDialogs) {
  Station station;
  station.LoadSunDays("days.Q5", kDays);
  ScopedPromptScript prompts;
  station.Run([&](QWidget& w) {
    WhenShown("FilterEditFrm", [](QWidget& dialog) {
      QTest::mouseClick(dialog.findChild<QLabel*>("Filter2Lbl"), Qt::LeftButton);
      ASSERT_EQ(dialog.findChild<QLineEdit*>("WaveLengthEdit")->text(), "870.0");
      WhenShown("ColorDialog", [](QWidget& colours) {
        static_cast<QColorDialog&>(colours).setCurrentColor(QColor(0x12, 0x34, 0x56));
        static_cast<QDialog&>(colours).accept();
      });
      // A colour dialog that the watch cannot find is closed unchanged rather than left waiting.
      QTimer::singleShot(3000, &dialog, [] {
        if (auto* open = qobject_cast<QColorDialog*>(QApplication::activeModalWidget())) open->reject();
      });
      QTest::mouseClick(dialog.findChild<QLabel*>("ColorShape"), Qt::LeftButton);
      EXPECT_EQ(dialog.findChild<QLabel*>("ColorLbl")->text(), "00563412");
      static_cast<QDialog&>(dialog).accept();
    });
    w.findChild<QAbstractButton*>("FiltersEditBtn")->click();
    bool found = false;
    for (TChartSeries* s : ChartSeries(w))
      if (s->Title() == "870 nm") {
        found = true;
        EXPECT_EQ(s->Color(), QColor(0x12, 0x34, 0x56));
      }
    EXPECT_TRUE(found);

    bool printDialogShown = false;
    WhenShown("PrintDialog", [&printDialogShown](QWidget& print) {
      printDialogShown = true;
      static_cast<QDialog&>(print).reject();
    });
    QTimer::singleShot(3000, &w, [] {
      QWidget* open = QApplication::activeModalWidget();
      if (open && open->inherits("QPrintDialog")) static_cast<QDialog*>(open)->reject();
    });
    Action(w, "PrintGfxMnu")->trigger();
    EXPECT_TRUE(printDialogShown);
  });
}

// The counts and triplets views label their time axis "hh:nn" within a day; on a year of data, and
// zoomed to five weeks, each label carries its date, so that the user can tell which days are shown.
TEST(TessalyWindow, TimeAxisTellsTheDatesOfALongSpan) {
  Station station;
  station.LoadSunDays("year.Q5", "--sun-days 365 --start 2025-01-01 --interval 1800 --param SITE=5");
  ScopedPromptScript prompts;
  RunLaidOut(station, [](QWidget& w) {
    auto* chart = w.findChild<TChart*>("GfxChart");
    const double start = 45658;  // 1 January 2025
    auto expectLabels = [&](const char* pattern, const char* what) {
      QApplication::processEvents();
      QStringList labels = chart->BottomDateTimeLabels();
      SCOPED_TRACE(what);
      EXPECT_GE(labels.size(), 3) << labels.join(' ').toStdString();
      EXPECT_EQ(labels.removeDuplicates(), 0) << labels.join(' ').toStdString();
      for (const QString& l : labels)
        EXPECT_TRUE(QRegularExpression(pattern).match(l).hasMatch()) << l.toStdString();
    };
    auto zoomTo = [&](double from, double to) {
      const QRectF area = chart->PlotArea();
      chart->ZoomRect(QRectF(QPointF(chart->XValueToScreen(from), area.top()), QPointF(chart->XValueToScreen(to), area.bottom())));
    };
    for (const char* view : {"CNViewBtn", "BgrTripletViewBtn"}) {
      SCOPED_TRACE(view);
      w.findChild<QAbstractButton*>(view)->click();
      expectLabels("^01/(0[1-9]|1[0-2])$", "a year: the first days of months");
      zoomTo(start + 40, start + 75);
      expectLabels("^[0-3][0-9]/0[23]$", "five weeks: days");
      zoomTo(start + 40.25, start + 40.8);
      expectLabels("^[0-2][0-9]:[0-5][0-9]$", "within a day: hours and minutes");
      chart->UndoZoom();
    }
  });
  EXPECT_TRUE(prompts.Texts().empty());
}
