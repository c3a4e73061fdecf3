// The viewer window offscreen on the sample files: open loop, tree, table, chart, zone removal,
// exports compared with golden files, the about box.
#include "plugins/merrow/MerrowFrm.h"

#include "common/FileUtils.h"
#include "common/Prompt.h"
#include "common/analysis/ErreurFrm.h"
#include "plugins/merrow/MerrowChart.h"
#include "plugins/merrow/tests/MerrowTestSupport.h"
#include "common/chart/ChartServices.h"
#include "station/windows/tests/TestApp.h"

#include <QCheckBox>
#include <QGraphicsTextItem>
#include <QFileDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTreeView>

#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>

using merrow::TMerrowFrm;

namespace {

class MerrowWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApplication();
        ASSERT_TRUE(dir.isValid());
        setenv("XDG_CONFIG_HOME", dir.filePath("config").toLocal8Bit().constData(), 1);
        setenv("XDG_DATA_HOME", dir.filePath("data").toLocal8Bit().constData(), 1);
    }

    // A window on a sample file, opened through its open dialog.
    std::unique_ptr<TMerrowFrm> Open(const std::string& sample, merrow::TMerrowOptions options = {})
    {
        TModalDriver driver;
        driver.ChooseFile(SampleFile(sample));
        auto window = std::make_unique<TMerrowFrm>(data, errors, options);
        EXPECT_TRUE(driver.Done());
        EXPECT_TRUE(window->Loaded());
        return window;
    }

    std::string Path(const char* name) { return dir.filePath(name).toStdString(); }

    // The zenith sample's curves of both positions, on show.
    std::unique_ptr<TMerrowFrm> ShowCurvesOfBothPositions()
    {
        auto w = Open("zenith-day.q5x");
        w->CLBPosition->item(1)->setCheckState(Qt::Checked);
        w->RadioButton5->click();
        w->resize(1100, 680);
        w->show();
        QApplication::processEvents();
        return w;
    }

    // The legend names each curve by filter, infrared or mirror count and position, each entry whole
    // inside the chart; in "Point" mode one entry a filter.
    static void ExpectCurveLegend(TMerrowFrm& w)
    {
        TChart* chart = w.GfxChart;
        QStringList names;
        for (const auto& e : chart->LegendEntries()) {
            EXPECT_TRUE(QRectF(chart->viewport()->rect()).contains(e.Rect)) << e.Name.toStdString() << " not whole";
            names << e.Name;
        }
        QStringList expected;
        for (const char* filter : {"8700 nm", "10800 nm", "12000 nm"})
            for (const char* position : {"0", "1"})
                for (const char* kind : {"IR", "MIR"}) expected << QString("%1 %2 pos. %3").arg(filter, kind, position);
        expected << "Black" << "Head" << "Humidity";
        EXPECT_EQ(names.join(", "), expected.join(", "));
        // A position not on show lists no curve.
        w.CLBPosition->item(1)->setCheckState(Qt::Unchecked);
        QApplication::processEvents();
        names.clear();
        for (const auto& e : chart->LegendEntries()) names << e.Name;
        EXPECT_EQ(names.filter("pos. 1").join(", "), "");
        EXPECT_EQ(names.filter("pos. 0").size(), 6);
        w.RadioButton4->click();
        QApplication::processEvents();
        names.clear();
        for (const auto& e : chart->LegendEntries()) names << e.Name;
        EXPECT_EQ(names.join(", "), "8700 nm, 10800 nm, 12000 nm, Black, Head, Humidity");
        w.CLBPosition->item(1)->setCheckState(Qt::Checked);
        w.RadioButton5->click();
        QApplication::processEvents();
    }

    // Exports through the save dialog and compares with a golden file.
    void ExpectExport(TMerrowFrm& window, const std::string& golden)
    {
        const std::string out = Path("export.txt");
        DeleteFileIfExists(out);
        TModalDriver driver;
        driver.ChooseFile(out);
        window.Button1Click();
        EXPECT_TRUE(driver.Done());
        const std::string made = ReadBytes(out);
        if (std::getenv("ZELT_UPDATE_GOLDEN")) WriteFileAtomically(GoldenFile(golden), made);
        EXPECT_TRUE(made == ReadBytes(GoldenFile(golden))) << golden << " differs; made:\n" << made.substr(0, 600);
    }

    // Mouse events sent straight to a widget, as the window system delivers them.
    static void Mouse(QWidget* widget, QEvent::Type type, Qt::MouseButton button, QPoint at)
    {
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
        QMouseEvent event(type, QPointF(at), widget->mapToGlobal(QPointF(at)), type == QEvent::MouseMove ? Qt::NoButton : button,
                          held, Qt::NoModifier);
        QApplication::sendEvent(widget, &event);
    }

    // The text of a top node of the tree, or of its measure node `child`.
    static QString TreeText(TMerrowFrm& w, int top, int child = -1)
    {
        const QAbstractItemModel* model = w.TreeView1->model();
        const QModelIndex node = model->index(top, 0);
        return (child < 0 ? node : model->index(child, 0, node)).data().toString();
    }
    static int TreeNodes(TMerrowFrm& w) { return w.TreeView1->model()->rowCount(); }

    static QStringList Texts(QListWidget* list, bool checkedOnly = false)
    {
        QStringList texts;
        for (int i = 0; i < list->count(); ++i)
            if (!checkedOnly || list->item(i)->checkState() == Qt::Checked) texts << list->item(i)->text();
        return texts;
    }

    struct AppFirst {
        AppFirst() { MerrowTestApplication(); }
    } appFirst;   // widgets need the application before they are built
    QTemporaryDir dir;
    radio::TRadData data;
    radio::TErreurFrm errors;
    ScopedPromptScript prompts;
};

}  // namespace

TEST_F(MerrowWindowTest, SampleFileFillsTreeTableAndChart)
{
    auto w = Open("zenith-day.q5x");
    EXPECT_EQ(w->windowTitle(), "Q5x Viewer");
    EXPECT_EQ(w->FileName(), SampleFile("zenith-day.q5x"));
    EXPECT_EQ(Texts(w->CLBPosition), QStringList({"0", "1"}));
    EXPECT_EQ(Texts(w->CLBPosition, true), QStringList({"0"}));
    EXPECT_EQ(Texts(w->CLBFiltre, true), QStringList({"1", "2", "3"}));
    EXPECT_EQ(w->PageControl1->currentIndex(), 2);
    EXPECT_EQ(w->SerieKind(), 0);
    EXPECT_FALSE(w->ZoneTool());
    EXPECT_TRUE(w->GfxChart->AllowZoom());

    // Points: one series per filter and the three grey ones.
    ASSERT_EQ(w->GfxChart->SeriesCount(), 6);
    EXPECT_EQ(w->GfxChart->Series(0)->Title(), "8700 nm");
    EXPECT_EQ(w->GfxChart->Series(0)->Kind, TSeriesKind::Point);
    EXPECT_EQ(w->GfxChart->Series(0)->Color(), QColor(255, 0, 0));
    EXPECT_EQ(w->GfxChart->Series(3)->Title(), "Black");
    EXPECT_EQ(w->GfxChart->Series(3)->Color(), QColor(102, 102, 102));
    // 144 sky acquisitions with IR and MIR, one of them without the mirror count of filter 2.
    EXPECT_EQ(w->GfxChart->Series(1)->Count(), 144 * 2 - 1);

    const auto& cells = w->Cells();
    ASSERT_EQ(cells.size(), 145u);
    EXPECT_EQ(cells[0], (std::vector<std::string>{"Date/Hour", "Pos.", "Black", "Head", "Humidity", "8700 nm IR",
                                                  "8700 nm MIR", "10800 nm IR", "10800 nm MIR", "12000 nm IR",
                                                  "12000 nm MIR"}));
    EXPECT_EQ(cells[1][0], "15/01/2025 00:05:00");
    EXPECT_EQ(cells[1][1], "0");
    EXPECT_EQ(cells[1][3], "-5.330");   // head temperature, three decimals
    EXPECT_EQ(w->FixedCols(), 2);
    const QAbstractItemModel* grid = w->StringGrid1->model();
    EXPECT_EQ(grid->columnCount(), 11);
    EXPECT_EQ(grid->rowCount(), 145);
    EXPECT_EQ(w->StringGrid1->columnWidth(0), 110);
    EXPECT_EQ(grid->index(1, 0).data().toString(), "15/01/2025 00:05:00");
    EXPECT_EQ(grid->index(144, 10).data().toString(), QString::fromStdString(cells[144][10]));

    // The tree shows every acquisition of the file with its measures.
    ASSERT_EQ(TreeNodes(*w), 168);
    EXPECT_EQ(TreeText(*w, 0), "15/01/2025 00:00:30");
    ASSERT_EQ(w->TreeView1->model()->rowCount(w->TreeView1->model()->index(0, 0)), 9);
    EXPECT_EQ(TreeText(*w, 0, 0), QString::fromUtf8("Head temp.:-5.33 °C"));
    EXPECT_EQ(TreeText(*w, 0, 1), "Unknown measure");   // the black-body temperature
    EXPECT_EQ(TreeText(*w, 0, 2), "Head humidity: 93.0 %");
    EXPECT_EQ(TreeText(*w, 0, 3), "IR 8700 nm : 30162.8");
    EXPECT_EQ(TreeText(*w, 0, 4), "MIR 8700 nm : 29977");
    EXPECT_EQ(TreeText(*w, 167, 8), "MIR 12000 nm : 29970");

    ExpectExport(*w, "zenith-day-points.txt");
    EXPECT_EQ(prompts.Texts().back(), "Export finished");
}

TEST_F(MerrowWindowTest, CheckBoxesChooseColumnsAndSeries)
{
    auto w = Open("zenith-day.q5x");
    w->CBIr->click();
    w->CBMir->click();
    EXPECT_EQ(w->Cells()[0], (std::vector<std::string>{"Date/Hour", "Pos.", "Black", "Head", "Humidity"}));
    EXPECT_EQ(w->GfxChart->SeriesCount(), 3);
    for (QCheckBox* box : {w->CBBlack, w->CBHead, w->CBHum}) box->click();
    EXPECT_EQ(w->Cells()[0].size(), 2u);
    EXPECT_EQ(w->FixedCols(), 1);
    // An empty chart: -0.5 to 10.5.
    EXPECT_EQ(w->GfxChart->SeriesCount(), 0);
    EXPECT_DOUBLE_EQ(w->GfxChart->AxisMinimum(TChart::Left), -0.5);
    EXPECT_DOUBLE_EQ(w->GfxChart->AxisMaximum(TChart::Left), 10.5);

    // Both positions, curves: an infrared and a mirror curve per filter and position.
    w->CBIr->click();
    w->CBMir->click();
    w->CLBPosition->item(1)->setCheckState(Qt::Checked);
    EXPECT_EQ(w->Cells().size(), 169u);
    w->RadioButton5->click();
    EXPECT_EQ(w->SerieKind(), 1);
    EXPECT_FALSE(w->RadioButton4->isChecked());
    EXPECT_EQ(w->GfxChart->SeriesCount(), 12);
    const radio::TFilter* f = data.FilterList[0];
    ASSERT_EQ(f->IrCurves.size(), 2u);
    EXPECT_EQ(f->IrCurves[1]->Count(), 24);   // the hourly black-body views
    EXPECT_EQ(f->IrCurves[1]->Kind, TSeriesKind::Line);
    // One unchecked filter leaves its columns and curves out.
    w->CLBFiltre->item(1)->setCheckState(Qt::Unchecked);
    EXPECT_EQ(w->GfxChart->SeriesCount(), 8);
    EXPECT_EQ(w->Cells()[0][4], "12000 nm IR");
    ExpectExport(*w, "zenith-day-curves.txt");
}

TEST_F(MerrowWindowTest, NegativeAndConstantSeriesGetASoundAxis)
{
    auto w = Open("cold-night.q5x");
    // Only the head temperature: -12.5 throughout gives -13.6 to -11.4.
    for (QCheckBox* box : {w->CBIr, w->CBMir, w->CBBlack, w->CBHum}) box->click();
    ASSERT_EQ(w->GfxChart->SeriesCount(), 1);
    EXPECT_EQ(w->GfxChart->Series(0)->Count(), 12);
    EXPECT_NEAR(w->GfxChart->AxisMinimum(TChart::Left), -13.6, 1e-9);
    EXPECT_NEAR(w->GfxChart->AxisMaximum(TChart::Left), -11.4, 1e-9);
    // Black-body temperatures, all below zero and some missing.
    w->CBBlack->click();
    w->CBHead->click();
    EXPECT_EQ(w->GfxChart->Series(0)->Count(), 9);
    // -12.0 to -11.0: a range of 2 around -11.5, widened by 10 percent.
    EXPECT_NEAR(w->GfxChart->AxisMinimum(TChart::Left), -12.6, 1e-9);
    EXPECT_NEAR(w->GfxChart->AxisMaximum(TChart::Left), -10.4, 1e-9);
    EXPECT_EQ(w->Cells()[4][2], "");   // a missing black-body temperature leaves its cell empty
    EXPECT_EQ(merrow::LeftAxisRange(-5, -5).Minimum, -5 - 1.1);
    EXPECT_EQ(merrow::LeftAxisRange(merrow::InitialLowest(), merrow::InitialHighest()).Maximum, 10.5);
    for (QCheckBox* box : {w->CBIr, w->CBMir, w->CBHead, w->CBHum}) box->click();
    ExpectExport(*w, "cold-night.txt");
}

TEST_F(MerrowWindowTest, ZoneRemovesAcquisitionsByTheirInfraredCount)
{
    auto w = Open("cold-night.q5x");
    w->show();
    w->resize(980, 640);
    QApplication::processEvents();
    w->CBMir->click();
    w->CBBlack->click();
    w->CBHead->click();
    w->CBHum->click();
    // Points of filter 2's infrared counts; a zone around the fourth one.
    TChart* chart = w->GfxChart;
    ASSERT_EQ(chart->SeriesCount(), 2);
    const radio::TCNSerie* target = data.SerieList[3];
    const double x = target->DateTime, y = (*target)[0]->Count;
    const QPoint at(int(chart->XValueToScreen(x)), int(chart->YValueToScreen(y)));
    w->SpeedButton1->click();
    EXPECT_TRUE(w->ZoneTool());
    EXPECT_FALSE(w->SpeedButton2->isChecked());
    EXPECT_FALSE(chart->AllowZoom());
    QWidget* viewport = chart->viewport();
    Mouse(viewport, QEvent::MouseButtonPress, Qt::LeftButton, at - QPoint(4, 4));
    Mouse(viewport, QEvent::MouseMove, Qt::LeftButton, at + QPoint(4, 4));
    // The box is drawn on the canvas while dragging.
    EXPECT_EQ(QColor(chart->Canvas().pixel(at.x() - 4, at.y())), QColor(Qt::black));
    Mouse(viewport, QEvent::MouseButtonRelease, Qt::LeftButton, at + QPoint(4, 4));
    EXPECT_EQ(data.SerieList.Count(), 11);
    EXPECT_EQ(data.SerieList.IndexOf(target), -1);
    EXPECT_EQ(w->Cells().size(), 12u);
    EXPECT_EQ(chart->Series(0)->Count(), 11);
    EXPECT_EQ(TreeNodes(*w), 12);   // the tree shows the file

    // A zone around a mirror point in the curves view removes nothing: the infrared count decides.
    w->CBMir->click();
    w->RadioButton5->click();
    const radio::TCNSerie* other = data.SerieList[0];
    const QPoint mirror(int(chart->XValueToScreen(other->DateTime)), int(chart->YValueToScreen((*other)[0]->MirrorCount)));
    w->GfxChartMouseDown(Qt::LeftButton, mirror.x() - 4, mirror.y() - 4);
    w->GfxChartMouseMove(mirror.x() + 4, mirror.y() + 4);
    w->GfxChartMouseUp(Qt::LeftButton, mirror.x() + 4, mirror.y() + 4);
    EXPECT_EQ(data.SerieList.Count(), 11);

    // With the zoom tool the drag zooms and removes nothing; Unzoom undoes it.
    w->SpeedButton2->click();
    Mouse(viewport, QEvent::MouseButtonPress, Qt::LeftButton, QPoint(200, 100));
    Mouse(viewport, QEvent::MouseButtonRelease, Qt::LeftButton, QPoint(400, 300));
    EXPECT_TRUE(chart->Zoomed());
    EXPECT_EQ(data.SerieList.Count(), 11);
    w->Button2->click();
    EXPECT_FALSE(chart->Zoomed());

    // Without any series a zone removes nothing.
    for (QCheckBox* box : {w->CBIr, w->CBMir}) box->setChecked(false);
    w->RadioButton4->click();
    w->CBIr->click();
    w->CBIr->click();
    EXPECT_EQ(chart->SeriesCount(), 0);
    w->SpeedButton1->click();
    w->GfxChartMouseDown(Qt::LeftButton, 0, 0);
    w->GfxChartMouseUp(Qt::LeftButton, 900, 600);
    EXPECT_EQ(data.SerieList.Count(), 11);
}

// The right button moves along the time axis only; "Unzoom" after a pan returns to the whole view; the
// legend of the curves tells each apart.
TEST_F(MerrowWindowTest, PanAlongTimeUnzoomAndCurveLegend)
{
    auto w = ShowCurvesOfBothPositions();
    TChart* chart = w->GfxChart;
    const double x0 = chart->AxisMinimum(TChart::Bottom), x1 = chart->AxisMaximum(TChart::Bottom);
    const double y0 = chart->AxisMinimum(TChart::Left), y1 = chart->AxisMaximum(TChart::Left);
    const QPoint centre = chart->PlotArea().center().toPoint();
    QWidget* viewport = chart->viewport();
    Mouse(viewport, QEvent::MouseButtonPress, Qt::RightButton, centre);
    Mouse(viewport, QEvent::MouseMove, Qt::RightButton, centre + QPoint(-120, 80));
    Mouse(viewport, QEvent::MouseButtonRelease, Qt::RightButton, centre + QPoint(-120, 80));
    EXPECT_GT(chart->AxisMinimum(TChart::Bottom), x0);
    EXPECT_DOUBLE_EQ(chart->AxisMinimum(TChart::Left), y0);
    EXPECT_DOUBLE_EQ(chart->AxisMaximum(TChart::Left), y1);
    w->Button2->click();
    EXPECT_DOUBLE_EQ(chart->AxisMinimum(TChart::Bottom), x0);
    EXPECT_DOUBLE_EQ(chart->AxisMaximum(TChart::Bottom), x1);
    EXPECT_DOUBLE_EQ(chart->AxisMinimum(TChart::Left), y0);

    QApplication::processEvents();
    ExpectCurveLegend(*w);
    // A short window: the legend takes columns.
    w->resize(1100, 380);
    QApplication::processEvents();
    ExpectCurveLegend(*w);
    const QList<TChart::TLegendEntry> entries = chart->LegendEntries();
    EXPECT_LT(entries.front().Rect.left(), entries.back().Rect.left());
}

TEST_F(MerrowWindowTest, FailedLoadsWarnAndKeepTheDataOnShow)
{
    auto w = Open("cold-night.q5x");
    const auto cells = w->Cells();
    const std::string broken = Path("broken.q5x");
    WriteFileAtomically(broken, "<q5x><ins><f id=\"1\">8</f></ins>\n<data><a><d>2025-02-30</d><h>01:00:00</h>"
                                "<m id=\"EL_RAD\" t=\"IR\" f=\"1\">5</m></a></data></q5x>");
    const std::string noFilter = Path("nofilter.q5x");
    WriteFileAtomically(noFilter, "<q5x><ins><n>X</n></ins><data/></q5x>");
    const std::string noIns = Path("noins.q5x");
    WriteFileAtomically(noIns, "<q5x/>");
    const std::string noCounts = Path("nocounts.q5x");
    WriteFileAtomically(noCounts, "<q5x><ins><f id=\"1\">8</f></ins><data><a/></data></q5x>");
    TModalDriver driver;
    for (const std::string& f : {broken, noFilter, noIns, noCounts}) driver.ChooseFile(f);
    driver.CancelFileDialog();
    w->Ouvrir1Click();
    EXPECT_TRUE(driver.Done());
    const std::vector<std::string> texts = prompts.Texts();
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[0], "Unable to read the file " + broken + ", line 2, element d: the date \"2025-02-30 01:00:00\" "
                        "is not a valid date");
    EXPECT_EQ(texts[1], "Q5x file doesn't provide filters.");
    EXPECT_EQ(texts[2], "Unknown instrument or invalid file.");
    EXPECT_EQ(texts[3], "Q5x file doesn't contains IR numeric counts.");
    EXPECT_EQ(data.SerieList.Count(), 12);
    EXPECT_EQ(w->FileName(), SampleFile("cold-night.q5x"));
    EXPECT_TRUE(w->Cells() == cells);

    // A second file replaces the first whole.
    TModalDriver again;
    again.ChooseFile(SampleFile("zenith-day.q5x"));
    w->Ouvrir1Click();
    EXPECT_EQ(data.SerieList.Count(), 168);
    EXPECT_EQ(data.FilterList.Count(), 3);
    EXPECT_EQ(TreeNodes(*w), 168);
}

TEST_F(MerrowWindowTest, EncodingErrorsNameTheLineOfTheBadByte)
{
    auto w = Open("cold-night.q5x");
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<q5x><ins><f id=\"1\">8700</f></ins>\n";
    const std::string acquisition = "<a><d>2024-03-05</d><h>10:20:30</h><m id=\"EL_RAD\" t=\"IR\" f=\"1\">5</m></a>\n";
    // A bad byte on the third line of a small file.
    const std::string small = Path("small.q5x");
    WriteFileAtomically(small, head + "<data><a><d>2024-03-05</d>\xB0</a></data></q5x>\n");
    // And on line 20001 of a long one, far beyond what the decoder reads ahead.
    std::string text = head + "<data>\n";
    for (int line = 4; line < 20001; ++line) text += acquisition;
    text += "<a><d>2024-03-05</d><h>10:20:30</h><m id=\"EL_TEMPHEAD\">\xE9t\xE9</m></a>\n</data></q5x>\n";
    const std::string large = Path("large.q5x");
    WriteFileAtomically(large, text);
    TModalDriver driver;
    for (const std::string& f : {small, large}) driver.ChooseFile(f);
    driver.CancelFileDialog();
    w->Ouvrir1Click();
    EXPECT_TRUE(driver.Done());
    const std::vector<std::string> texts = prompts.Texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "Unable to read the file " + small + ", line 3: Encountered incorrectly encoded content.");
    EXPECT_EQ(texts[1], "Unable to read the file " + large + ", line 20001: Encountered incorrectly encoded content.");
}

TEST_F(MerrowWindowTest, AcquisitionsAtTheSameTimeKeepTheirOwnRows)
{
    // The sky and the black body at the same second (two mirror positions), then the sky again.
    const std::string file = Path("mirror.q5x");
    auto acquisition = [](const char* time, int position, const char* ir, const char* mir, const char* head) {
        return std::string("<a><d>2024-03-05</d><h>") + time + "</h><p>" + std::to_string(position) +
               "</p><m id=\"EL_TEMPHEAD\">" + head + "</m><m id=\"EL_RAD\" t=\"IR\" f=\"1\">" + ir +
               "</m><m id=\"EL_RAD\" t=\"MIR\" f=\"1\">" + mir + "</m></a>";
    };
    WriteFileAtomically(file, "<q5x><ins><f id=\"1\">8700</f></ins><data>" +
                                  acquisition("10:00:00", 0, "100.5", "200", "1.5") +
                                  acquisition("10:00:00", 1, "300.5", "400", "2.5") +
                                  acquisition("10:10:00", 0, "500.5", "600", "3.5") + "</data></q5x>");
    TModalDriver driver;
    driver.ChooseFile(file);
    TMerrowFrm w(data, errors, {});
    ASSERT_TRUE(w.Loaded());
    w.CLBPosition->item(1)->setCheckState(Qt::Checked);
    w.CBBlack->click();
    w.CBHum->click();
    const std::vector<std::vector<std::string>> expected = {
        {"Date/Hour", "Pos.", "Head", "8700 nm IR", "8700 nm MIR"},
        {"05/03/2024 10:00:00", "0", "1.500", "100.5", "200"},
        {"05/03/2024 10:00:00", "1", "2.500", "300.5", "400"},
        {"05/03/2024 10:10:00", "0", "3.500", "500.5", "600"}};
    EXPECT_EQ(w.Cells(), expected);
    EXPECT_EQ(w.StringGrid1->model()->index(2, 1).data().toString(), "1");

    // The export keeps both.
    const std::string out = Path("mirror.txt");
    TModalDriver save;
    save.ChooseFile(out);
    w.Button1Click();
    EXPECT_TRUE(save.Done());
    EXPECT_EQ(ReadBytes(out), "Date/Hour,Pos.,Head,8700 nm IR,8700 nm MIR,\r\n"
                              "05/03/2024 10:00:00,0,1.500,100.5,200,\r\n"
                              "05/03/2024 10:00:00,1,2.500,300.5,400,\r\n"
                              "05/03/2024 10:10:00,0,3.500,500.5,600,\r\n");
}

TEST_F(MerrowWindowTest, MixedContentReadsTheFirstText)
{
    const std::string file = Path("mixed.q5x");
    WriteFileAtomically(file, "<q5x><ins><f id=\"1\">8700</f></ins><data><a><d>2024-03-05</d><h>10:00:00</h>"
                              "<m id=\"EL_TEMPHEAD\">1.5<x/>9</m>"
                              "<m id=\"EL_RAD\" t=\"IR\" f=\"1\">12<x/>34</m>"
                              "<m id=\"EL_RAD\" t=\"MIR\" f=\"1\"><!-- mirror -->56<x>7</x>78</m>"
                              "</a></data></q5x>");
    TModalDriver driver;
    driver.ChooseFile(file);
    TMerrowFrm w(data, errors, {});
    ASSERT_TRUE(w.Loaded());
    EXPECT_EQ(w.Cells()[1], (std::vector<std::string>{"05/03/2024 10:00:00", "0", "", "1.500", "", "12", "56"}))
        << w.Cells()[1][5];
    EXPECT_EQ(TreeText(w, 0, 0), QString::fromUtf8("Head temp.:1.5 °C"));
    EXPECT_EQ(TreeText(w, 0, 1), "IR 8700 nm : 12");
    EXPECT_EQ(TreeText(w, 0, 2), "MIR 8700 nm : 56");
}

TEST_F(MerrowWindowTest, NoFileNoWindow)
{
    TModalDriver driver;
    driver.CancelFileDialog();
    TMerrowFrm w(data, errors, {});
    EXPECT_FALSE(w.Loaded());
    EXPECT_EQ(prompts.Texts(), std::vector<std::string>{"No data in memory. You must load a file before use plugin."});
}

TEST_F(MerrowWindowTest, ExportAsksBeforeReplacingAndUsesTheHostSeparator)
{
    merrow::TMerrowOptions options;
    options.ListSeparator = ";";
    auto w = Open("cold-night.q5x", options);
    const std::string out = Path("cold.txt");
    WriteFileAtomically(out, "keep me");
    {
        prompts.Queue(PromptNo);
        TModalDriver driver;
        driver.ChooseFile(out);
        driver.CancelFileDialog();   // No brings the dialog back
        w->Button1Click();
        EXPECT_TRUE(driver.Done());
        EXPECT_EQ(ReadBytes(out), "keep me");
    }
    prompts.Queue(PromptYes);
    TModalDriver driver;
    driver.ChooseFile(out);
    w->Button1Click();
    const std::string text = ReadBytes(out);
    EXPECT_EQ(text.substr(0, 20), "Date/Hour;Pos.;Black");
    EXPECT_EQ(text.substr(text.size() - 3), ";\r\n");
    EXPECT_EQ(prompts.Texts().back(), "Export finished");

    // The save dialog proposes the file's name with "txt".
    TModalDriver look;
    look.OnWindow("SaveDialog1", [](QWidget* dialog) {
        EXPECT_EQ(static_cast<QFileDialog*>(dialog)->selectedFiles().value(0).toStdString(),
                  SampleFile("cold-night.txt"));
    });
    w->Button1Click();
    EXPECT_TRUE(look.Done());

    // An unwritable target is reported, not announced as exported.
    merrow::TMerrowOptions quiet;
    TModalDriver fail;
    fail.ChooseFile(Path("no-such-folder/x.txt"));
    w->Button1Click();
    EXPECT_NE(prompts.Texts().back().find("Unable to write the file"), std::string::npos);
}

TEST_F(MerrowWindowTest, AboutBoxAndControlNames)
{
    merrow::TMerrowOptions options;
    options.FileVersion = "5.12.0.0";
    auto w = Open("cold-night.q5x", options);
    for (const char* name : {"GfxChart", "CLBFiltre", "CLBPosition", "CBIr", "CBMir", "CBBlack", "CBHead", "CBHum",
                             "RadioButton4", "RadioButton5", "SpeedButton1", "SpeedButton2", "Button1", "Button2"})
        EXPECT_NE(w->findChild<QWidget*>(name), nullptr) << name;
    EXPECT_NE(w->findChild<QAction*>("Ouvrir1"), nullptr);
    EXPECT_NE(w->findChild<QAction*>("Apropos1"), nullptr);
    EXPECT_EQ(errors.windowTitle(), "Error");
    EXPECT_FALSE(errors.HasMessages());
    errors.AddMessage("Caution");
    EXPECT_TRUE(errors.HasMessages());

    TModalDriver driver;
    driver.OnWindow("AboutBox", [](QWidget* about) {
        EXPECT_EQ(about->windowTitle(), "About");
        EXPECT_EQ(about->findChild<QLabel*>("ProductName")->text(), "Q5x Viewer");
        EXPECT_EQ(about->findChild<QLabel*>("Version")->text(), "Version 1.1");
        EXPECT_EQ(about->findChild<QLabel*>("Comments")->text(), "ZELTWin Plug-Ins");
        QLabel* version = about->findChild<QLabel*>("Version");
        Mouse(version, QEvent::MouseButtonPress, Qt::LeftButton, QPoint(2, 2));
        Mouse(version, QEvent::MouseButtonRelease, Qt::LeftButton, QPoint(2, 2));
    });
    w->Apropos1Click();
    EXPECT_TRUE(driver.Done());
    EXPECT_EQ(prompts.Texts().back(), "Build 5.12.0.0");
}

TEST_F(MerrowWindowTest, Screenshot)
{
    auto w = ShowCurvesOfBothPositions();
    const QImage shot = w->grab().toImage();
    EXPECT_EQ(shot.width(), 1100);
    const char* bin = std::getenv("ZELT_BIN_DIR");
    EXPECT_TRUE(shot.save(QString(bin ? bin : ".") + "/merrow-window.png"));
}
