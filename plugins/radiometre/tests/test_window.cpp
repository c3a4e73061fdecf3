// The radiometer plug-in run as the station runs it: a download of the radiometer model in memory
// with its station parameters, or no data and a ".q5x" file chosen in the open dialog; the window
// and the calibration editor driven through their controls' object names while they are modal.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDateEdit>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>
#include <filesystem>
#include <functional>
#include <map>

#include "common/IniFile.h"
#include "common/Prompt.h"
#include "common/analysis/tests/support/PlugInTestHost.h"
#include "common/chart/ChartServices.h"

namespace fs = std::filesystem;

namespace {

using plugin_test::BinDir;
using plugin_test::WhenShown;

// The chart of the plug-in's own copy of the chart services: found as the Qt class it derives from.
TChart* ChartOf(QWidget& w)
{
    auto* view = w.findChild<QChartView*>("GfxChart");
    if (!view) ADD_FAILURE() << "no control GfxChart";
    return static_cast<TChart*>(view);
}

template <class W>
W* Child(QWidget& w, const char* name)
{
    W* child = w.findChild<W*>(name);
    if (!child) ADD_FAILURE() << "no control " << name;
    return child;
}

void ChooseFile(const char* dialog, const std::string& path)
{
    plugin_test::WhenFileDialogShown(dialog, path);
}

std::string Golden(const std::string& name) { return std::string(ZELT_TEST_SOURCE_DIR) + "/plugins/radiometre/tests/golden/" + name; }

// The export against its golden file (written anew with ZELT_UPDATE_GOLDEN=1).
void ExpectGolden(const fs::path& exported, const std::string& name)
{
    const std::string bytes = ScopedTestHome::Read(exported);
    ASSERT_FALSE(bytes.empty());
    if (std::getenv("ZELT_UPDATE_GOLDEN")) ScopedTestHome::Write(Golden(name), bytes);
    EXPECT_EQ(bytes, ScopedTestHome::Read(Golden(name))) << name;
}

class Station : public ::testing::Test, public plugin_test::PlugInStation {
protected:
    Station() : PlugInStation("radiometre_tests", ZELT_RADIOMETRE_PLUGIN, "radiometre", "RadiometreFrm") {}
    void Download(const std::string& options)
    {
        path = (home.Root() / "IR250621.q5").string();
        const std::string command = "'" + BinDir() + "/q5gen' " + options + " '" + path + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        LoadFile();
    }
    // Runs the plug-in; `drive` gets its window once shown, and the window must come.
    int Run(const std::function<void(QWidget&)>& drive)
    {
        bool shown = false;
        const int result = PlugInStation::Run([&](QWidget& w) {
            shown = true;
            drive(w);
        });
        EXPECT_TRUE(shown);
        return result;
    }
    // Exports the table through "Export ASCII" and the save dialog.
    fs::path Export(QWidget& w, const std::string& name)
    {
        const fs::path out = home.Root() / name;
        ChooseFile("SaveDialog1", out.string());
        Child<QPushButton>(w, "Button1")->click();
        return out;
    }

    ScopedPromptScript prompts;
};

bool Contains(const std::vector<std::string>& texts, const std::string& text)
{
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

}  // namespace

TEST_F(Station, DownloadOfTheRadiometerModelShowsItsCountsPerPositionAndExportsThem)
{
    Download("--id SP0B0001 --records 36 --interval 300 --start 2025-06-21T04:00:00 --param SITE=12");
    Run([&](QWidget& w) {
        // The calibrations are kept under the site of the station parameters.
        WhenShown("fCalibration", [](QWidget& editor) {
            EXPECT_EQ(Child<QLabel>(editor, "Label2")->text(), "0/0/12");
            editor.close();
        });
        w.findChild<QAction*>("Calibration1")->trigger();
        EXPECT_EQ(w.windowTitle(), "Radiometer data viewer");
        auto* positions = Child<QListWidget>(w, "CLBPosition");
        ASSERT_EQ(positions->count(), 3);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(positions->item(i)->text(), QString::number(i));
            EXPECT_EQ(positions->item(i)->checkState(), i == 0 ? Qt::Checked : Qt::Unchecked);
        }
        auto* filters = Child<QListWidget>(w, "CLBFiltre");
        ASSERT_EQ(filters->count(), 3);
        EXPECT_EQ(filters->item(0)->text(), "10800 nm");
        EXPECT_FALSE(Child<QRadioButton>(w, "RadioButton2")->isEnabled());
        EXPECT_FALSE(Child<QRadioButton>(w, "RadioButton3")->isEnabled());
        EXPECT_TRUE(Child<QRadioButton>(w, "RadioButton1")->isChecked());
        // Points of position 0 only: every third record.
        auto* chart = ChartOf(w);
        ASSERT_EQ(chart->SeriesCount(), 3);
        EXPECT_EQ(chart->Series(0)->Count(), 12);
        EXPECT_EQ(chart->Title(), "Digital Count");
        // Curves: one per filter and position, on the positions checked.
        positions->item(1)->setCheckState(Qt::Checked);
        Child<QRadioButton>(w, "RadioButton5")->click();
        ASSERT_EQ(chart->SeriesCount(), 9);
        EXPECT_EQ(chart->Series(0)->Count(), 12);
        EXPECT_EQ(chart->Series(1)->Count(), 12);
        EXPECT_EQ(chart->Series(2)->Count(), 0);
        // The table of positions 0 and 1, exported with the list separator after every cell.
        Child<QTabWidget>(w, "PageControl1")->setCurrentIndex(0);
        EXPECT_EQ(Child<QTableWidget>(w, "StringGrid1")->rowCount(), 24);
        ExpectGolden(Export(w, "counts.txt"), "download-counts.txt");
        // Help / Index: the plug-in's help pages in the help window.
        w.findChild<QAction*>("Index1")->trigger();
        QTextBrowser* help = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* browser = qobject_cast<QTextBrowser*>(top); browser && browser->isVisible()) help = browser;
        ASSERT_NE(help, nullptr);
        EXPECT_TRUE(help->source().toString().endsWith("radiometre.html"));
        EXPECT_TRUE(help->toPlainText().contains("Radiometer plug-in"));
        help->close();
    });
    EXPECT_TRUE(Contains(prompts.Texts(), "Calibration missing, only source data could be display"));
    EXPECT_TRUE(Contains(prompts.Texts(), "Export succeeded"));
}

// A download over a month: the time axis labels days, not "00:00"; zoomed within a day, the date
// and the time.
TEST_F(Station, DownloadOverAMonthTellsTheDaysOnTheTimeAxis)
{
    Download("--id SP0B0001 --records 360 --interval 7200 --start 2025-06-01T00:30:00 --param SITE=12");
    Run([&](QWidget& w) {
        w.resize(1000, 640);
        QApplication::processEvents();
        TChart* chart = ChartOf(w);
        auto expectLabels = [&](const char* pattern) {
            QStringList labels = chart->BottomDateTimeLabels();
            EXPECT_GE(labels.size(), 3) << labels.join(' ').toStdString();
            EXPECT_EQ(labels.removeDuplicates(), 0) << labels.join(' ').toStdString();
            for (const QString& l : labels) EXPECT_TRUE(QRegularExpression(pattern).match(l).hasMatch()) << l.toStdString();
        };
        expectLabels("^[0-3][0-9]/0[67]$");
        const double june10 = 45818;
        chart->ZoomBottomRange(june10 + 0.25, june10 + 0.75);
        expectLabels("^10/06 [0-2][0-9]:[0-5][0-9]$");
    });
}

TEST_F(Station, ColdNightFileCalibratedInTheEditorGivesItsKnownSkyTemperatures)
{
    const std::string q5x = std::string(ZELT_TEST_SOURCE_DIR) + "/data/q5x/cold-night.q5x";
    ChooseFile("OpenDialog1", q5x);
    Run([&](QWidget& w) {
        auto* chart = ChartOf(w);
        ASSERT_EQ(chart->SeriesCount(), 2);
        ASSERT_EQ(chart->Series(0)->Count(), 12);

        // Zone removal: a zone around the first point removes that acquisition for every filter.
        Child<QToolButton>(w, "SpeedButton1")->click();
        const double x = chart->Series(0)->XValue(0), y = chart->Series(0)->YValue(0);
        const QPoint a(int(chart->XValueToScreen(x)) - 4, int(chart->YValueToScreen(y, chart->Series(0))) - 4);
        const QPoint b = a + QPoint(8, 8);
        QTest::mousePress(chart->viewport(), Qt::LeftButton, {}, a);
        QMouseEvent move(QEvent::MouseMove, b, chart->viewport()->mapToGlobal(b), Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(chart->viewport(), &move);
        QTest::mouseRelease(chart->viewport(), Qt::LeftButton, {}, b);
        ASSERT_EQ(chart->SeriesCount(), 2);
        EXPECT_EQ(chart->Series(0)->Count(), 11);
        EXPECT_EQ(chart->Series(1)->Count(), 11);

        // The calibration of the file's known series, typed in the editor.
        WhenShown("fCalibration", [](QWidget& editor) {
            EXPECT_EQ(Child<QLabel>(editor, "Label2")->text(), "SP0A0123");
            EXPECT_FALSE(Child<QWidget>(editor, "GroupBox1")->isVisible());
            Child<QPushButton>(editor, "Button1")->click();  // New
            Child<QPushButton>(editor, "Button1")->click();  // a second "New" the same day: nothing
            EXPECT_EQ(Child<QListWidget>(editor, "ListBox1")->count(), 1);
            Child<QDateEdit>(editor, "DateTimePicker1")->setDate(QDate(2025, 1, 1));
            Child<QLineEdit>(editor, "Edit1")->setText("+21,5");
            auto* grid = Child<QTableWidget>(editor, "StringGrid1");
            const char* rows[2][6] = {{"810.57", "1332.22", "1", "1", "2500", "0"},
                                      {"478.63", "1199,00", "1", "1", "3000", "1.5E-5"}};
            ASSERT_EQ(grid->rowCount(), 2);
            for (int r = 0; r < 2; ++r)
                for (int c = 0; c < 6; ++c) grid->item(r, 2 + c)->setText(rows[r][c]);
            Child<QPushButton>(editor, "Button3")->click();  // Save
            EXPECT_EQ(grid->item(1, 3)->text(), "1199.00");
            EXPECT_EQ(grid->item(1, 7)->text(), "1.5E-5");
            EXPECT_EQ(Child<QListWidget>(editor, "ListBox1")->item(0)->text(), "01/01/2025");
            editor.close();
        });
        w.findChild<QAction*>("Calibration1")->trigger();

        const fs::path store = home.Root() / "data" / "zelt" / "radiometre.ini";
        TIniFile ini(store);
        EXPECT_EQ(ini.ReadSection("SP0A0123").size(), 4u);  // two filters, TEMP and USETEMP of 01/01/2025
        EXPECT_EQ(ini.ReadString("SP0A0123", "45658-3", ""), "478.63;1199;1;1;3000;1.5E-5");
        EXPECT_EQ(ini.ReadString("SP0A0123", "45658-TEMP", ""), "21.5");

        // Temperatures: the known sky series Tsky = -52 + 0.5 i, acquisition 0 removed above.
        auto* temperature = Child<QRadioButton>(w, "RadioButton3");
        ASSERT_TRUE(temperature->isEnabled());
        temperature->click();
        EXPECT_EQ(chart->Title(), "Temperature");
        ASSERT_EQ(chart->Series(0)->Count(), 11);
        for (int i = 0; i < 11; ++i) EXPECT_NEAR(chart->Series(0)->YValue(i), -52 + 0.5 * (i + 1), 0.01) << i;
        // Every value is below zero: the axis still frames them.
        EXPECT_LT(chart->AxisMaximum(TChart::Left), 0);
        EXPECT_LT(chart->AxisMinimum(TChart::Left), -51.5);
        EXPECT_GT(chart->AxisMaximum(TChart::Left), -46.5);

        Child<QCheckBox>(w, "CBBlack")->click();
        EXPECT_EQ(chart->SeriesCount(), 3);  // the black body's series after the filters'
        EXPECT_TRUE(Child<QRadioButton>(w, "RadioButton4")->isChecked());  // the zone tool took nothing
        // The picture of the documentation: ZELT_SCREENSHOT=docs/radiometre-window.png
        if (const char* shot = std::getenv("ZELT_SCREENSHOT")) {
            Child<QToolButton>(w, "SpeedButton2")->click();
            QApplication::processEvents();
            w.grab().save(shot);
        }
        Child<QTabWidget>(w, "PageControl1")->setCurrentIndex(0);
        auto* grid = Child<QTableWidget>(w, "StringGrid1");
        ASSERT_EQ(grid->columnCount(), 5);
        EXPECT_EQ(grid->horizontalHeaderItem(2)->text(), "Black");
        ExpectGolden(Export(w, "cold.txt"), "cold-night-temperature.txt");
        Child<QCheckBox>(w, "CBJulien")->click();
        EXPECT_EQ(grid->item(0, 0)->text(), "20.84375");  // 20 January 20:15 (20:00 was removed)
    });
    EXPECT_TRUE(Contains(prompts.Texts(), "No data in memory"));
}

TEST_F(Station, EditorKeepsDatesLatestFirstMovesAndDeletesWholeCalibrations)
{
    const std::string q5x = std::string(ZELT_TEST_SOURCE_DIR) + "/data/q5x/zenith-day.q5x";
    ChooseFile("OpenDialog1", q5x);
    const fs::path store = home.Root() / "data" / "zelt" / "radiometre.ini";
    Run([&](QWidget& w) {
        WhenShown("fCalibration", [&](QWidget& editor) {
            auto* list = Child<QListWidget>(editor, "ListBox1");
            auto* picker = Child<QDateEdit>(editor, "DateTimePicker1");
            auto* save = Child<QPushButton>(editor, "Button3");
            for (const QDate& date : {QDate(2025, 3, 1), QDate(2025, 3, 10), QDate(2025, 2, 2)}) {
                Child<QPushButton>(editor, "Button1")->click();  // New, dated today
                picker->setDate(date);
                EXPECT_TRUE(save->isEnabled());
                save->click();
            }
            ASSERT_EQ(list->count(), 3);
            EXPECT_EQ(list->item(0)->text(), "10/03/2025");
            EXPECT_EQ(list->item(1)->text(), "01/03/2025");
            EXPECT_EQ(list->item(2)->text(), "02/02/2025");
            // Today's keys went with each move: three dates of three filters, TEMP and USETEMP.
            EXPECT_EQ(TIniFile(store).ReadSection("SP0A0123").size(), 15u);
            // A date that has a calibration already is refused.
            list->setCurrentRow(0);
            picker->setDate(QDate(2025, 3, 1));
            save->click();
            EXPECT_TRUE(Contains(prompts.Texts(), "A calibration already exist for this date "));
            EXPECT_EQ(picker->date(), QDate(2025, 3, 10));
            // Deleting asks first; No keeps it.
            prompts.Queue(PromptNo);
            Child<QPushButton>(editor, "Button2")->click();
            EXPECT_EQ(list->count(), 3);
            for (int i = 0; i < 3; ++i) {
                prompts.Queue(PromptYes);
                Child<QPushButton>(editor, "Button2")->click();
            }
            EXPECT_EQ(list->count(), 0);
            EXPECT_FALSE(Child<QWidget>(editor, "GroupBox1")->isVisible());
            EXPECT_TRUE(TIniFile(store).ReadSection("SP0A0123").empty());
            editor.close();
        });
        Child<QRadioButton>(w, "RadioButton1")->click();
        w.findChild<QAction*>("Calibration1")->trigger();
        EXPECT_FALSE(Child<QRadioButton>(w, "RadioButton2")->isEnabled());
        EXPECT_FALSE(Child<QRadioButton>(w, "RadioButton3")->isEnabled());
        EXPECT_TRUE(Child<QRadioButton>(w, "RadioButton1")->isChecked());
        // zenith-day: positions 0 and 1, only 0 checked.
        EXPECT_EQ(Child<QListWidget>(w, "CLBPosition")->count(), 2);
        EXPECT_EQ(ChartOf(w)->Series(0)->Count(), 144);
    });
    EXPECT_TRUE(Contains(prompts.Texts(), "Are you sure to clear calibration ? (can't be canceled)"));
}

TEST_F(Station, FileThatIsNotARadiometerFileKeepsTheOpenDialogGoingUntilCancelled)
{
    const fs::path bogus = home.Root() / "bogus.q5x";
    ScopedTestHome::Write(bogus, "<q5x><ins><n>X</n><f id=\"1\">8700</f></ins><data><acq><d>nope</d></acq></data>");
    int dialogs = 0;
    WhenShown("OpenDialog1", [&](QWidget& w) {
        ++dialogs;
        plugin_test::AnswerFileDialog(w, bogus.string());
        WhenShown("OpenDialog1", [&](QWidget& again) {
            ++dialogs;
            static_cast<QDialog&>(again).reject();
        });
    });
    EXPECT_EQ(plugIns->RunByName("radiometre"), 1);
    EXPECT_EQ(dialogs, 2);
    const std::vector<std::string> texts = prompts.Texts();
    ASSERT_GE(texts.size(), 3u);
    EXPECT_EQ(texts.front(), "No data in memory");
    EXPECT_NE(texts[1].find("bogus.q5x"), std::string::npos) << texts[1];
    EXPECT_EQ(texts.back(), "No data in memory. Please load a data file to use plugin");
}

TEST_F(Station, OpeningAFileThatIsCancelledOrFailsKeepsTheWayBackToTheDownload)
{
    Download("--id SP0B0001 --records 36 --interval 300 --start 2025-06-21T04:00:00 --param SITE=12");
    const fs::path bogus = home.Root() / "bogus.q5x";
    ScopedTestHome::Write(bogus, "<q5x><ins><n>X</n></ins><data/></q5x>");
    Run([&](QWidget& w) {
        auto* positions = Child<QListWidget>(w, "CLBPosition");
        auto* filters = Child<QListWidget>(w, "CLBFiltre");
        auto* chart = ChartOf(w);
        auto* reopen = w.findChild<QAction*>("ReOuvrirlefichierQ51");
        ASSERT_NE(reopen, nullptr);
        // Cancelled before a file was chosen: the download stays on show and can be viewed as before.
        WhenShown("OpenDialog1", [](QWidget& d) { static_cast<QDialog&>(d).reject(); });
        w.findChild<QAction*>("Ouvrir1")->trigger();
        EXPECT_EQ(positions->count(), 3);
        EXPECT_EQ(filters->count(), 3);
        Child<QRadioButton>(w, "RadioButton5")->click();
        ASSERT_EQ(chart->SeriesCount(), 9);
        EXPECT_EQ(chart->Series(0)->Count(), 12);
        EXPECT_FALSE(reopen->isEnabled());
        // A file that fails empties the window; once the dialog is cancelled the download can be re-opened.
        WhenShown("OpenDialog1", [&](QWidget& d) {
            plugin_test::AnswerFileDialog(d, bogus.string());
            WhenShown("OpenDialog1", [](QWidget& again) { static_cast<QDialog&>(again).reject(); });
        });
        w.findChild<QAction*>("Ouvrir1")->trigger();
        EXPECT_EQ(positions->count(), 0);
        EXPECT_EQ(chart->SeriesCount(), 0);
        ASSERT_TRUE(reopen->isEnabled());
        reopen->trigger();
        EXPECT_EQ(positions->count(), 3);
        EXPECT_EQ(filters->count(), 3);
        EXPECT_EQ(chart->Series(0)->Count(), 12);
        EXPECT_FALSE(reopen->isEnabled());
    });
    EXPECT_TRUE(Contains(prompts.Texts(), "Unknown instrument"));
}

namespace {

// A download of the radiometer model at site 0/0/12 with its user's store holding `store`.
class Calibrated : public Station {
protected:
    fs::path Store() const { return home.Root() / "data" / "zelt" / "radiometre.ini"; }
    void WriteStore(const std::string& text)
    {
        fs::create_directories(Store().parent_path());
        ScopedTestHome::Write(Store(), text);
    }
    void Start(const std::string& site, const std::string& store)
    {
        Download("--id SP0B0001 --records 36 --interval 300 --start 2025-06-21T04:00:00 --param SITE=" + site);
        WriteStore(store);
    }
    // Runs the editor from the window's "Calibration" menu; `drive` gets it once shown.
    static void Edit(QWidget& window, const std::function<void(QWidget&)>& drive)
    {
        bool shown = false;
        WhenShown("fCalibration", [&](QWidget& editor) {
            shown = true;
            drive(editor);
            if (editor.isVisible()) editor.close();
        });
        window.findChild<QAction*>("Calibration1")->trigger();
        EXPECT_TRUE(shown);
    }
    int Count(const std::string& text) const
    {
        int n = 0;
        for (const std::string& t : prompts.Texts()) n += t.find(text) != std::string::npos;
        return n;
    }
};

// One calibration of 1 January 2025 for the three filters of the model.
const char kOneCalibration[] =
    "45658-1=810.57;1332.22;1;1;2500;0\r\n45658-2=478.63;1199;1;1;3000;0\r\n45658-3=500;1200;1;1;2800;0\r\n"
    "45658-TEMP=21.5\r\n45658-USETEMP=0\r\n";

std::vector<std::string> Keys(const fs::path& store, const std::string& section)
{
    TIniFile ini(store);
    std::vector<std::string> keys = ini.ReadSection(section);
    std::sort(keys.begin(), keys.end());
    return keys;
}

}  // namespace

TEST_F(Calibrated, AWriteTheStoreRefusesLeavesTheEditorAndTheWindowOnWhatTheStoreHolds)
{
    Start("12", std::string("[0/0/12]\r\n") + kOneCalibration);
    const std::string before = ScopedTestHome::Read(Store());
    Run([&](QWidget& w) {
        Child<QRadioButton>(w, "RadioButton2")->click();
        auto* chart = ChartOf(w);
        ASSERT_EQ(chart->Title(), "Radiance");
        ASSERT_GT(chart->Series(0)->Count(), 0);
        const double stored = chart->Series(0)->YValue(0);
        Edit(w, [&](QWidget& editor) {
            auto* list = Child<QListWidget>(editor, "ListBox1");
            auto* grid = Child<QTableWidget>(editor, "StringGrid1");
            auto* picker = Child<QDateEdit>(editor, "DateTimePicker1");
            auto* save = Child<QPushButton>(editor, "Button3");
            ASSERT_EQ(list->count(), 1);
            // Writes fail as on a full disk (root too): new coefficients, a new date, a move.
            grid->item(0, 2)->setText("999.5");
            ScopedTestHome::WithFileSizeLimit(16, [&] { save->click(); });
            EXPECT_EQ(grid->item(0, 2)->text(), "810.57");
            EXPECT_FALSE(save->isEnabled());
            ScopedTestHome::WithFileSizeLimit(16, [&] { Child<QPushButton>(editor, "Button1")->click(); });
            EXPECT_EQ(list->count(), 1);
            picker->setDate(QDate(2025, 2, 2));
            ScopedTestHome::WithFileSizeLimit(16, [&] { save->click(); });
            EXPECT_EQ(picker->date(), QDate(2025, 1, 1));
            EXPECT_EQ(list->item(0)->text(), "01/01/2025");
            EXPECT_FALSE(save->isEnabled());
        });
        EXPECT_EQ(ScopedTestHome::Read(Store()), before);
        // The window computes with the stored coefficients.
        ASSERT_GT(chart->Series(0)->Count(), 0);
        EXPECT_EQ(chart->Series(0)->YValue(0), stored);
    });
    EXPECT_EQ(Count("The calibrations cannot be saved in " + Store().string()), 3);
}

TEST_F(Calibrated, CalibrationsUnderTheSiteIdsJoinedWithoutSeparatorAreFoundAndKeptThere)
{
    Start("7", std::string("[007]\r\n") + kOneCalibration);
    Run([&](QWidget& w) {
        EXPECT_TRUE(Child<QRadioButton>(w, "RadioButton2")->isEnabled());
        Edit(w, [&](QWidget& editor) {
            EXPECT_EQ(Child<QLabel>(editor, "Label2")->text(), "0/0/7");
            ASSERT_EQ(Child<QListWidget>(editor, "ListBox1")->count(), 1);
            auto* grid = Child<QTableWidget>(editor, "StringGrid1");
            EXPECT_EQ(grid->item(1, 2)->text(), "478.63");
            grid->item(1, 2)->setText("478.5");
            Child<QPushButton>(editor, "Button3")->click();
        });
    });
    EXPECT_EQ(Count("Calibration missing"), 0);
    TIniFile ini(Store());
    EXPECT_EQ(ini.ReadString("007", "45658-2", ""), "478.5;1199;1;1;3000;0");
    EXPECT_FALSE(ini.SectionExists("0/0/7"));
}

TEST_F(Calibrated, DeletingOrMovingACalibrationRemovesItsKeysUnderEverySpelling)
{
    Start("12",
          "[0/0/12]\r\n45658-01=1;1;1;1;1;1\r\n045658-2=2;2;2;2;2;2\r\n45658-3=3;3;3;3;3;3\r\n"
          "045658-temp=20\r\n45658-USETEMP=1\r\n"
          "45700-01=7;7;7;7;7;7\r\n45700-2=7;7;7;7;7;7\r\n045700-3=7;7;7;7;7;7\r\n45700-TEMP=21\r\n045700-UseTemp=0\r\n");
    Run([&](QWidget& w) {
        Edit(w, [&](QWidget& editor) {
            auto* list = Child<QListWidget>(editor, "ListBox1");
            ASSERT_EQ(list->count(), 2);
            EXPECT_EQ(list->item(1)->text(), "01/01/2025");
            list->setCurrentRow(1);
            prompts.Queue(PromptYes);
            Child<QPushButton>(editor, "Button2")->click();
            ASSERT_EQ(list->count(), 1);
            // The one left (12 February 2025): a new value for filter 1, moved to 1 March.
            Child<QTableWidget>(editor, "StringGrid1")->item(0, 2)->setText("8");
            Child<QDateEdit>(editor, "DateTimePicker1")->setDate(QDate(2025, 3, 1));
            Child<QPushButton>(editor, "Button3")->click();
            EXPECT_EQ(list->item(0)->text(), "01/03/2025");
        });
    });
    EXPECT_EQ(Keys(Store(), "0/0/12"),
              (std::vector<std::string>{"45717-1", "45717-2", "45717-3", "45717-TEMP", "45717-USETEMP"}));
    // The next run finds the moved calibration alone, with its saved values.
    Run([&](QWidget& w) {
        Edit(w, [&](QWidget& editor) {
            auto* list = Child<QListWidget>(editor, "ListBox1");
            ASSERT_EQ(list->count(), 1);
            EXPECT_EQ(list->item(0)->text(), "01/03/2025");
            EXPECT_EQ(Child<QTableWidget>(editor, "StringGrid1")->item(0, 2)->text(), "8");
        });
    });
}

TEST_F(Calibrated, SavingOverAnotherSpellingOfAKeyIsWhatTheNextRunReads)
{
    Start("12", "[0/0/12]\r\n45658-01=1;1;1;1;1;1\r\n45658-2=2;2;2;2;2;2\r\n45658-3=3;3;3;3;3;3\r\n"
                "45658-TEMP=20\r\n45658-USETEMP=0\r\n");
    Run([&](QWidget& w) {
        Edit(w, [&](QWidget& editor) {
            Child<QTableWidget>(editor, "StringGrid1")->item(0, 2)->setText("5");
            Child<QPushButton>(editor, "Button3")->click();
        });
    });
    Run([&](QWidget& w) {
        Edit(w, [&](QWidget& editor) {
            EXPECT_EQ(Child<QTableWidget>(editor, "StringGrid1")->item(0, 2)->text(), "5");
        });
    });
    EXPECT_EQ(Count("a second key"), 0);
}

TEST_F(Calibrated, AnUnreadableStoreIsNamedWithItsReasonAndAValueEndingInASemicolonKeepsSixFields)
{
    Download("--id SP0B0001 --records 36 --interval 300 --start 2025-06-21T04:00:00 --param SITE=12");
    fs::create_directories(Store());  // a folder where the file should be
    Run([&](QWidget& w) { EXPECT_FALSE(Child<QRadioButton>(w, "RadioButton2")->isEnabled()); });
    const std::vector<std::string> texts = prompts.Texts();
    ASSERT_FALSE(texts.empty());
    EXPECT_NE(texts.front().find("The calibrations cannot be read from " + Store().string()), std::string::npos)
        << texts.front();
    EXPECT_NE(texts.front().find(std::strerror(EISDIR)), std::string::npos) << texts.front();

    fs::remove(Store());
    WriteStore("[0/0/12]\r\n45658-1=810.57;1332.22;1;1;2500;\r\n45658-TEMP=21.5\r\n");
    const size_t asked = prompts.Texts().size();
    Run([&](QWidget& w) {
        Edit(w, [&](QWidget& editor) {
            auto* grid = Child<QTableWidget>(editor, "StringGrid1");
            const char* expected[] = {"810.57", "1332.22", "1", "1", "2500", "0"};
            for (int c = 0; c < 6; ++c) EXPECT_EQ(grid->item(0, 2 + c)->text(), expected[c]) << c;
        });
    });
    EXPECT_EQ(prompts.Texts().size(), asked) << prompts.Texts().back();
}

TEST_F(Calibrated, TheStoresWarningBoxShowsItsFirstLinesAndHowManyMore)
{
    std::string store = "[0/0/12]\r\n";
    for (int i = 0; i < 50; ++i) store += "day" + std::to_string(i) + "-1=1;2;3;4;5;6\r\n";
    Start("12", store);
    Run([](QWidget&) {});
    std::string box;
    for (const std::string& t : prompts.Texts())
        if (t.find("could not be read") != std::string::npos) box = t;
    ASSERT_FALSE(box.empty());
    EXPECT_LE(std::count(box.begin(), box.end(), '\n'), 20) << box;
    EXPECT_NE(box.find("\"day0-1\""), std::string::npos) << box;
    EXPECT_EQ(box.substr(box.rfind('\n') + 1), "... and 31 more");
}

TEST_F(Calibrated, BlackTemperatureGoesWithTemperaturesTheEditorShowsEveryColumnAndCellsKeepThreeDecimals)
{
    // A small gain: radiances in the thousands.
    Start("12", "[0/0/12]\r\n45658-1=810.57;1332.22;1;1;0.0123;0\r\n45658-TEMP=21.5\r\n45658-USETEMP=0\r\n");
    Run([&](QWidget& w) {
        auto* black = Child<QCheckBox>(w, "CBBlack");
        EXPECT_FALSE(black->isVisible());
        Child<QRadioButton>(w, "RadioButton2")->click();
        EXPECT_FALSE(black->isVisible());
        Child<QRadioButton>(w, "RadioButton3")->click();
        EXPECT_TRUE(black->isVisible());
        Child<QRadioButton>(w, "RadioButton1")->click();
        EXPECT_FALSE(black->isVisible());

        Edit(w, [&](QWidget& editor) {
            auto* grid = Child<QTableWidget>(editor, "StringGrid1");
            ASSERT_EQ(grid->columnCount(), 8);
            for (int c = 0; c < 8; ++c)
                EXPECT_LE(grid->columnViewportPosition(c) + grid->columnWidth(c), grid->viewport()->width())
                    << grid->horizontalHeaderItem(c)->text().toStdString();
        });

        // The radiances of filter 1 (the first filter column) in the table, three decimals each.
        Child<QRadioButton>(w, "RadioButton2")->click();
        std::multiset<std::string> plotted;
        bool large = false;
        const TChartSeries* first = ChartOf(w)->Series(0);
        for (int i = 0; i < first->Count(); ++i) {
            plotted.insert(QString::number(first->YValue(i), 'f', 3).toStdString());
            large = large || std::fabs(first->YValue(i)) >= 1000;
        }
        ASSERT_TRUE(large);
        Child<QTabWidget>(w, "PageControl1")->setCurrentIndex(0);
        auto* table = Child<QTableWidget>(w, "StringGrid1");
        ASSERT_EQ(table->horizontalHeaderItem(2)->text(), "10800 nm");
        std::multiset<std::string> shown;
        for (int r = 0; r < table->rowCount(); ++r) shown.insert(table->item(r, 2)->text().toStdString());
        EXPECT_EQ(shown, plotted);
    });
}

namespace {

// The points of the first series (filter 1, position 0) of the window's chart: x, y.
std::map<double, double> FirstSeries(QWidget& w)
{
    std::map<double, double> points;
    const TChartSeries* first = ChartOf(w)->Series(0);
    for (int i = 0; i < first->Count(); ++i) points[first->XValue(i)] = first->YValue(i);
    return points;
}

}  // namespace

// Instrument codes where the download holds an infrared count, a mirror count and the head temperature
// (over range, no value, hardware error): no count is drawn for them and no radiance is made of them;
// the mirror count and the temperature are taken from the nearest acquisition, as when they are missing.
TEST_F(Calibrated, InstrumentCodesAreNeitherCountsNorRadiances)
{
    Start("12", std::string("[0/0/12]\r\n") + kOneCalibration);
    std::map<double, double> cleanCounts, cleanRadiances, counts, radiances;
    auto show = [&](std::map<double, double>& countPoints, std::map<double, double>& radiancePoints) {
        Run([&](QWidget& w) {
            countPoints = FirstSeries(w);
            Child<QRadioButton>(w, "RadioButton2")->click();
            radiancePoints = FirstSeries(w);
        });
    };
    show(cleanCounts, cleanRadiances);
    ASSERT_EQ(cleanRadiances.size(), 12u);

    // The first three acquisitions at mirror position 0 (byte 10): the count of filter 1 (byte 16)
    // over range, the mirror count of filter 1 (byte 22) without value, the head temperature (byte 12)
    // in hardware error.
    std::string bytes = ScopedTestHome::Read(path);
    const std::pair<int, uint16_t> codes[] = {{16, 0xFFFD}, {22, 0xFFFF}, {12, 0xFFFE}};
    size_t coded = 0;
    for (size_t p = Q5ParamBlockSize; p + 30 <= bytes.size() && coded < 3; p += static_cast<uint8_t>(bytes[p + 1])) {
        if (static_cast<uint8_t>(bytes[p]) != 0x50 || bytes[p + 10] != 0) continue;
        const auto [offset, code] = codes[coded++];
        bytes[p + offset] = static_cast<char>(code >> 8);
        bytes[p + offset + 1] = static_cast<char>(code & 0xFF);
    }
    ASSERT_EQ(coded, 3u);
    LoadBytes("IR250621.q5", bytes);
    show(counts, radiances);

    // The coded count (the first acquisition drawn) is no point; every other count is as before.
    auto clean = cleanCounts;
    const double codedCount = cleanCounts.begin()->first;
    clean.erase(codedCount);
    EXPECT_EQ(counts, clean);
    // The radiances of the acquisitions without codes are as before; the one of the coded count is
    // gone, those of the coded mirror count and temperature stay near their values of before.
    ASSERT_EQ(radiances.size(), 11u);
    EXPECT_EQ(radiances.count(codedCount), 0u);
    int near = 0;
    for (const auto& [x, radiance] : radiances) {
        const double before = cleanRadiances.at(x);
        if (radiance == before) continue;
        EXPECT_NEAR(radiance, before, std::fabs(before) * 0.05) << x;
        ++near;
    }
    EXPECT_EQ(near, 2);
}
