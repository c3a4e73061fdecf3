// The chart services offscreen: points drawn where the value<->screen mapping says on a date-time
// axis (labelled in UT whatever the local time zone) and on a right axis, zoom by dragging and its
// undo, hidden series, points under the mouse and printing through a PDF writer.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPen>
#include <QFontMetricsF>
#include <QChart>
#include <QGraphicsTextItem>
#include <QMouseEvent>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QXYSeries>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "common/tests/PlatformTestEnv.h"
#include "common/DateTime.h"
#include "common/chart/ChartServices.h"
#include "common/tests/support/WindowTestDriver.h"

namespace {

QApplication* App()
{
    // Labels must not follow the machine's zone: run the tests half an hour off a whole hour.
    ::setenv("TZ", "Asia/Kolkata", 1);
    ::tzset();
    static QApplication* app = &window_test::TestApplication("station_chart_tests");
    return app;
}

// 1 March 2026 as a day number, and a time of that day.
constexpr double kDay = 46082.0;
double At(int hour, int minute) { return kDay + (hour * 60 + minute) / 1440.0; }

bool IsColour(QRgb pixel, const QColor& colour)
{
    return std::abs(qRed(pixel) - colour.red()) < 60 && std::abs(qGreen(pixel) - colour.green()) < 60 &&
           std::abs(qBlue(pixel) - colour.blue()) < 60;
}

// Whether the colour is drawn within 2 pixels of (x, y) of the image.
bool DrawnNear(const QImage& image, double x, double y, const QColor& colour)
{
    for (int dx = -2; dx <= 2; ++dx)
        for (int dy = -2; dy <= 2; ++dy) {
            const QPoint p(int(std::lround(x)) + dx, int(std::lround(y)) + dy);
            if (image.rect().contains(p) && IsColour(image.pixel(p), colour)) return true;
        }
    return false;
}

// A colour of its own for each series of a test.
QColor Distinct(int i) { return QColor::fromHsv((i * 360 / 13) % 360, 255, 200); }

// Every entry of the legend whole inside the chart, beside the plot, apart from the others, wide
// enough for its name at the legend's font, and drawn: the series' colour in its marker.
void ExpectLegendWhole(TChart& chart, const QImage& shot, const QStringList& names)
{
    const QList<TChart::TLegendEntry> entries = chart.LegendEntries();
    QStringList listed;
    for (const auto& e : entries) listed << e.Name;
    EXPECT_EQ(listed.join(", "), names.join(", "));
    const QRectF view = chart.viewport()->rect(), plot = chart.PlotArea();
    const QFontMetricsF metrics(chart.LegendFont());
    EXPECT_GE(chart.LegendFont().pixelSize(), 8);
    for (int i = 0; i < entries.size(); ++i) {
        const auto& e = entries[i];
        const std::string name = e.Name.toStdString();
        EXPECT_TRUE(view.contains(e.Rect)) << name << " leaves the chart " << chart.height() << " high";
        EXPECT_FALSE(plot.intersects(e.Rect)) << name << " over the plot";
        EXPECT_GE(e.Rect.width(), metrics.horizontalAdvance(e.Name) + 16) << name << " cut";
        EXPECT_GE(e.Rect.height(), metrics.height() - 1) << name;
        for (int j = 0; j < i; ++j) EXPECT_FALSE(e.Rect.intersects(entries[j].Rect)) << name << " over " << entries[j].Name.toStdString();
        const QColor colour = chart.Series(names.size() == chart.SeriesCount() ? i : 0)->Color();
        bool drawn = false;
        for (int x = int(e.Rect.left()); x < int(e.Rect.left()) + 16 && !drawn; ++x)
            for (int y = int(e.Rect.top()); y < int(e.Rect.bottom()) && !drawn; ++y) drawn = IsColour(shot.pixel(x, y), colour);
        EXPECT_TRUE(drawn) << name << " has no marker in its colour";
    }
}

class Chart : public ::testing::Test {
protected:
    void SetUp() override
    {
        App();
        chart = std::make_unique<TChart>();
        chart->resize(640, 420);
        chart->show();
    }
    void Settle()
    {
        chart->Repaint();
        for (int i = 0; i < 5; ++i) QApplication::processEvents();
    }
    // Where Qt Charts draws a point of a series, in view pixels.
    QPointF Drawn(TChartSeries* s, double x, double y)
    {
        return chart->chart()->mapToScene(chart->chart()->mapToPosition(QPointF(x, y), s->Series));
    }
    std::unique_ptr<TChart> chart;
};

}  // namespace

TEST_F(Chart, PointsOnADateTimeAxisAreDrawnWhereTheMappingSays)
{
    chart->SetBottomDateTime(true, "hh:nn");
    TChartSeries* counts = chart->AddSeries(TSeriesKind::Point, "SUN 340 nm");
    counts->SetColor(QColor(255, 0, 0));
    const double times[] = {At(10, 0), At(10, 30), At(11, 15), At(12, 0)};
    const double values[] = {1000, 1500, 1200, 1800};
    for (int i = 0; i < 4; ++i) counts->AddXY(times[i], values[i]);
    Settle();
    // Automatic ranges are the data's, in day numbers.
    EXPECT_DOUBLE_EQ(chart->AxisMinimum(TChart::Bottom), At(10, 0));
    EXPECT_DOUBLE_EQ(chart->AxisMaximum(TChart::Bottom), At(12, 0));
    const QRectF area = chart->PlotArea();
    ASSERT_GT(area.width(), 100);
    const QImage shot = chart->Grab();
    for (int i = 0; i < 4; ++i) {
        const double px = chart->XValueToScreen(times[i]), py = chart->YValueToScreen(values[i]);
        const QPointF drawn = Drawn(counts, times[i], values[i]);
        EXPECT_NEAR(px, drawn.x(), 0.5) << i;
        EXPECT_NEAR(py, drawn.y(), 0.5) << i;
        EXPECT_TRUE(area.adjusted(-1, -1, 1, 1).contains(QPointF(px, py))) << i;
        // Exact inverses.
        EXPECT_NEAR(chart->XScreenToValue(px), times[i], 1e-9) << i;
        EXPECT_NEAR(chart->YScreenToValue(py), values[i], 1e-9) << i;
        EXPECT_TRUE(DrawnNear(shot, px, py, Qt::red)) << "point " << i << " is not drawn";
    }
}

TEST_F(Chart, DateTimeLabelsAreInUniversalTime)
{
    chart->SetBottomDateTime(true, "hh:nn");
    TChartSeries* s = chart->AddLineSeries("counts");
    s->AddXY(At(10, 0), 1);
    s->AddXY(At(13, 0), 2);
    Settle();
    const QStringList labels = chart->BottomDateTimeLabels();
    ASSERT_GE(labels.size(), 3);
    EXPECT_TRUE(labels.contains("10:00")) << labels.join(' ').toStdString();
    EXPECT_TRUE(labels.contains("13:00")) << labels.join(' ').toStdString();
    for (const QString& l : labels) EXPECT_TRUE(l.endsWith("0") || l.endsWith("5")) << l.toStdString();
    // A span of days steps by days on midnight UT; labels repeat as the format says.
    chart->SetBottomDateTime(true, "dd/mm");
    s->AddXY(kDay + 4.2, 3);
    Settle();
    EXPECT_TRUE(chart->BottomDateTimeLabels().contains("03/03")) << chart->BottomDateTimeLabels().join(' ').toStdString();
    // Back to plain numbers.
    chart->SetBottomDateTime(false);
    Settle();
    EXPECT_TRUE(chart->BottomDateTimeLabels().isEmpty());
    EXPECT_NEAR(chart->XValueToScreen(At(10, 0)), Drawn(s, At(10, 0), 1).x(), 0.5);
}

TEST_F(Chart, RightAxisSeriesIsDrawnAgainstItsOwnRange)
{
    chart->SetBottomDateTime(true);
    TChartSeries* counts = chart->AddPointSeries("counts");
    TChartSeries* temperature = chart->AddPointSeries("Temperature", TChart::Right);
    chart->SetAxisTitle(TChart::Right, QString::fromUtf8("Temperature (°C)"));
    temperature->SetColor(QColor(0, 0, 255));
    temperature->SetPointerStyle(psCross);
    const double temperatures[] = {23.5, 21.5, 25.5, 22.5, 24.5};
    for (int i = 0; i < 5; ++i) {
        counts->AddXY(At(9, i * 10), 24000 - i * 1000);
        temperature->AddXY(At(9, i * 10), temperatures[i]);
    }
    Settle();
    EXPECT_EQ(temperature->VerticalAxis(), TChart::Right);
    EXPECT_DOUBLE_EQ(chart->AxisMinimum(TChart::Right), 21.5);
    EXPECT_DOUBLE_EQ(chart->AxisMaximum(TChart::Right), 25.5);
    EXPECT_DOUBLE_EQ(chart->AxisMinimum(TChart::Left), 20000);
    EXPECT_DOUBLE_EQ(chart->AxisMaximum(TChart::Left), 24000);
    const QImage shot = chart->Grab();
    for (int i = 0; i < 5; ++i) {
        const double y = temperatures[i];
        const QPointF drawn = Drawn(temperature, At(9, i * 10), y);
        EXPECT_NEAR(chart->YValueToScreen(y, temperature), drawn.y(), 0.5);
        EXPECT_NEAR(chart->YScreenToValue(drawn.y(), temperature), y, 1e-6);
        EXPECT_TRUE(DrawnNear(shot, drawn.x(), drawn.y(), Qt::blue)) << i;
        EXPECT_EQ(temperature->Clicked(int(std::lround(drawn.x())), int(std::lround(drawn.y()))), i);
    }
    EXPECT_EQ(counts->Clicked(0, 0), -1);
    // A hidden series is neither drawn nor in the automatic range.
    temperature->SetVisible(false);
    counts->AddXY(At(11, 0), 90000);
    Settle();
    EXPECT_FALSE(temperature->Visible());
    EXPECT_DOUBLE_EQ(chart->AxisMaximum(TChart::Left), 90000);
    const QPointF hidden = Drawn(temperature, At(9, 10), 21.5);
    EXPECT_EQ(temperature->Clicked(int(std::lround(hidden.x())), int(std::lround(hidden.y()))), -1);
}

TEST_F(Chart, DraggingZoomsOnDateTimesAndDraggingBackUndoes)
{
    chart->SetBottomDateTime(true);
    TChartSeries* s = chart->AddLineSeries("counts");
    for (int i = 0; i <= 12; ++i) s->AddXY(At(8 + i / 2, (i % 2) * 30), i * 10.0);
    int zooms = 0, undos = 0;
    chart->OnZoom = [&] { ++zooms; };
    chart->OnUndoZoom = [&] { ++undos; };
    Settle();
    const QRectF area = chart->PlotArea();
    const QPoint from(int(area.left() + area.width() / 4), int(area.top() + area.height() / 4));
    const QPoint to(int(area.left() + area.width() * 3 / 4), int(area.top() + area.height() * 3 / 4));
    const double x0 = chart->XScreenToValue(from.x()), x1 = chart->XScreenToValue(to.x());
    const double y1 = chart->YScreenToValue(from.y()), y0 = chart->YScreenToValue(to.y());
    auto mouse = [&](QEvent::Type type, QPoint p, Qt::MouseButton button) {
        QMouseEvent e(type, p, chart->viewport()->mapToGlobal(p), button,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : button, Qt::NoModifier);
        QApplication::sendEvent(chart->viewport(), &e);
    };
    mouse(QEvent::MouseButtonPress, from, Qt::LeftButton);
    mouse(QEvent::MouseMove, to, Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, to, Qt::LeftButton);
    EXPECT_EQ(zooms, 1);
    EXPECT_TRUE(chart->Zoomed());
    EXPECT_NEAR(chart->AxisMinimum(TChart::Bottom), x0, 1e-9);
    EXPECT_NEAR(chart->AxisMaximum(TChart::Bottom), x1, 1e-9);
    EXPECT_NEAR(chart->AxisMinimum(TChart::Left), y0, 1e-9);
    EXPECT_NEAR(chart->AxisMaximum(TChart::Left), y1, 1e-9);
    Settle();
    EXPECT_NEAR(chart->XValueToScreen(At(10, 0)), Drawn(s, At(10, 0), 40).x(), 0.5);
    // Right-button pan moves the time axis.
    chart->SetPanning(TChart::PanHorizontal);
    mouse(QEvent::MouseButtonPress, to, Qt::RightButton);
    mouse(QEvent::MouseMove, to - QPoint(50, 30), Qt::RightButton);
    mouse(QEvent::MouseButtonRelease, to - QPoint(50, 30), Qt::RightButton);
    EXPECT_GT(chart->AxisMinimum(TChart::Bottom), x0);
    EXPECT_NEAR(chart->AxisMinimum(TChart::Left), y0, 1e-9);
    mouse(QEvent::MouseButtonPress, to, Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, from, Qt::LeftButton);
    EXPECT_EQ(undos, 1);
    EXPECT_FALSE(chart->Zoomed());
    EXPECT_DOUBLE_EQ(chart->AxisMinimum(TChart::Bottom), At(8, 0));
    EXPECT_DOUBLE_EQ(chart->AxisMaximum(TChart::Bottom), At(14, 0));
}

TEST_F(Chart, PrintsTheWholeChartThroughAPdfWriter)
{
    chart->SetTitle("Digital count");
    chart->SetColor(Qt::white);
    chart->SetBottomDateTime(true);
    TChartSeries* s = chart->AddPointSeries("SUN 500 nm");
    s->SetColor(QColor(255, 0, 0));
    for (int i = 0; i < 20; ++i) s->AddXY(At(10, i * 3), 100 + i);
    Settle();
    ScopedTestHome home;
    const std::string pdf = (home.Root() / "chart.pdf").string();
    {
        QPdfWriter writer(QString::fromStdString(pdf));
        writer.setResolution(150);
        chart->Print(writer);
    }
    const std::string bytes = ScopedTestHome::Read(pdf);
    ASSERT_GT(bytes.size(), 1000u);
    EXPECT_EQ(bytes.substr(0, 5), "%PDF-");
    EXPECT_NE(bytes.find("/Type /Page"), std::string::npos);
    // The same drawing on an image holds the series' points.
    QImage page(1200, 900, QImage::Format_ARGB32);
    page.fill(Qt::white);
    chart->Print(page);
    int red = 0;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x) red += IsColour(page.pixel(x, y), Qt::red) ? 1 : 0;
    EXPECT_GT(red, 20 * 9);
}

TEST_F(Chart, ASecondChartFollowsTheZoomOfTheFirst)
{
    TChart other;
    other.resize(640, 200);
    other.show();
    for (TChart* c : {chart.get(), &other}) {
        c->SetBottomDateTime(true);
        TChartSeries* s = c->AddLineSeries("values");
        for (int i = 0; i <= 10; ++i) s->AddXY(At(10, i * 6), c == &other ? 1.0 + i % 3 : i * 100.0);
        c->Repaint();
    }
    QApplication::processEvents();
    // Zooming one chart zooms the other to its bottom range, full height; undoing one undoes both.
    chart->OnZoom = [&] { other.ZoomBottomRange(chart->AxisMinimum(TChart::Bottom), chart->AxisMaximum(TChart::Bottom)); };
    chart->OnUndoZoom = [&] { other.UndoZoom(); };
    const QRectF area = chart->PlotArea();
    chart->ZoomRect(QRectF(area.left() + 100, area.top() + 10, 200, 100));
    EXPECT_TRUE(other.Zoomed());
    EXPECT_DOUBLE_EQ(other.AxisMinimum(TChart::Bottom), chart->AxisMinimum(TChart::Bottom));
    EXPECT_DOUBLE_EQ(other.AxisMaximum(TChart::Bottom), chart->AxisMaximum(TChart::Bottom));
    EXPECT_DOUBLE_EQ(other.AxisMinimum(TChart::Left), 1.0);
    EXPECT_DOUBLE_EQ(other.AxisMaximum(TChart::Left), 3.0);
    chart->UndoZoom();
    EXPECT_FALSE(other.Zoomed());
    EXPECT_DOUBLE_EQ(other.AxisMinimum(TChart::Bottom), At(10, 0));
    EXPECT_DOUBLE_EQ(other.AxisMaximum(TChart::Bottom), At(11, 0));
}

// What the user reads on a chart with many series: every legend entry whole, no tick reading "-0.0",
// and a pointer on the last point of the bottom axis drawn whole, not cut at the plot's edge.
TEST_F(Chart, LegendNamesTicksAndEdgePointersAreShownWhole)
{
    QStringList names{"Temperature"};
    for (int nm : {1640, 1020, 940, 870, 675, 500, 440, 380, 340, 1641, 1642, 1643}) names << QString("%1 nm").arg(nm);
    auto fill = [&](TChart& c) {
        c.resize(900, 500);
        for (int i = 0; i < names.size(); ++i) c.AddPointSeries(names[i])->SetColor(Distinct(i));
        TChartSeries* edge = c.Series(1);
        edge->SetColor(Qt::red);
        edge->SetPointerStyle(psCross);
        edge->AddXY(0, -0.9);
        edge->AddXY(10, 0.3);
        c.SetValueFormat(TChart::Left, "#,##0.0");
    };
    fill(*chart);
    // Switching the bottom axis to date-times and back (the julian-date box of the windows) leaves
    // nothing behind: the chart looks as one that never switched.
    chart->SetBottomDateTime(true, "dd/mm hh:nn");
    Settle();
    chart->SetBottomDateTime(false);
    Settle();
    TChart plain;
    fill(plain);
    plain.show();
    plain.Repaint();
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
    const QImage image = chart->Grab();
    EXPECT_TRUE(image == plain.Grab()) << "the switched chart differs";

    QStringList texts;
    for (QGraphicsItem* item : chart->scene()->items())
        if (auto* text = dynamic_cast<QGraphicsTextItem*>(item); text && text->isVisible()) texts << text->toPlainText();
    ExpectLegendWhole(*chart, image, names);
    for (const QString& text : texts) EXPECT_NE(text.trimmed(), "-0.0");
    EXPECT_TRUE(texts.contains("0.0"));

    // The cross is 7 pixels wide: its arms reach 3 pixels either side of the point.
    const double x = chart->XValueToScreen(10), y = chart->YValueToScreen(0.3);
    EXPECT_DOUBLE_EQ(x, chart->PlotArea().right());
    EXPECT_TRUE(IsColour(image.pixel(int(std::lround(x)) + 2, int(std::lround(y))), Qt::red)) << "right arm cut";
    EXPECT_TRUE(IsColour(image.pixel(int(std::lround(x)), int(std::lround(y)) - 2), Qt::red)) << "upper arm cut";
}

// However short the chart (the optical-thickness chart shares its page with the Angstrom chart), every
// entry of the legend is whole: the legend takes columns and a smaller font; a tall chart keeps one
// column at the full font; hidden series and those kept out of the legend are not listed.
TEST_F(Chart, LegendEntriesFitAShortChart)
{
    QStringList names;
    for (int nm : {1020, 870, 675, 440, 500, 380, 340, 1640, 936, 1641}) names << QString("%1 nm").arg(nm);
    for (int i = 0; i < names.size(); ++i) {
        TChartSeries* s = chart->AddLineSeries(names[i]);
        s->SetColor(Distinct(i));
        s->SetPointerVisible(true);
        s->SetPointerStyle(psTriangle);
        s->AddXY(i, i);
        s->AddXY(i + 1, i * 2);
    }
    chart->SetTitle("Optical Thickness");
    for (int height : {600, 260, 180, 120, 90}) {
        chart->resize(760, height);
        Settle();
        SCOPED_TRACE(height);
        ExpectLegendWhole(*chart, chart->Grab(), names);
    }
    chart->resize(760, 600);
    Settle();
    QList<TChart::TLegendEntry> entries = chart->LegendEntries();
    ASSERT_EQ(entries.size(), names.size());
    EXPECT_EQ(entries.front().Rect.left(), entries.back().Rect.left()) << "one column when the height allows";
    EXPECT_EQ(chart->LegendFont().pixelSize(), QFontInfo(QApplication::font()).pixelSize());

    chart->Series(2)->SetVisible(false);
    chart->Series(3)->SetShowInLegend(false);
    Settle();
    names.removeAt(3);
    names.removeAt(2);
    QStringList listed;
    for (const auto& e : chart->LegendEntries()) listed << e.Name;
    EXPECT_EQ(listed.join(", "), names.join(", "));
    chart->SetLegendVisible(false);
    Settle();
    EXPECT_TRUE(chart->LegendEntries().isEmpty());
    EXPECT_GT(chart->PlotArea().right(), 700) << "the plot takes the legend's room";
}

// "hh:nn" within a day; past a day each label carries its date: on a year, on five weeks, on three
// days, across a new year; a format that holds the date keeps it, without "00:00" on midnights.
TEST_F(Chart, DateTimeLabelsCarryTheDatePastADay)
{
    chart->resize(900, 420);
    chart->SetBottomDateTime(true, "hh:nn");
    TChartSeries* s = chart->AddPointSeries("SUN 500 nm");
    double start = 0;
    ASSERT_TRUE(TryEncodeDate(2025, 1, 1, start));
    for (int day = 0; day < 365; ++day)
        for (int hour : {8, 12, 16}) s->AddXY(start + day + hour / 24.0, day + hour);
    auto labels = [&] {
        Settle();
        return chart->BottomDateTimeLabels();
    };
    auto expectDates = [&](QStringList shown, const QString& pattern, const char* what) {
        SCOPED_TRACE(what);
        EXPECT_GE(shown.size(), 3) << shown.join(' ').toStdString();
        EXPECT_EQ(shown.removeDuplicates(), 0) << shown.join(' ').toStdString();
        for (const QString& l : shown) EXPECT_TRUE(QRegularExpression(pattern).match(l).hasMatch()) << l.toStdString();
    };
    // A year: the first days of months.
    const QStringList year = labels();
    expectDates(year, "^01/(0[1-9]|1[0-2])$", "a year");
    EXPECT_TRUE(year.contains("01/07")) << year.join(' ').toStdString();
    // Five weeks zoomed: days.
    chart->ZoomBottomRange(start + 40, start + 75);
    expectDates(labels(), "^[0-3][0-9]/0[23]$", "five weeks");
    // Three days: dates and hours.
    chart->ZoomBottomRange(start + 40.2, start + 43.1);
    const QStringList days = labels();
    expectDates(days, "^[0-3][0-9]/02 [0-2][0-9]:[0-5][0-9]$", "three days");
    EXPECT_TRUE(days.contains("11/02 00:00")) << days.join(' ').toStdString();
    // Within a day: hours and minutes only.
    chart->ZoomBottomRange(start + 40.3, start + 40.7);
    expectDates(labels(), "^[0-2][0-9]:[0-5][0-9]$", "one day");
    // Across a new year the year is told.
    chart->ZoomBottomRange(start - 20, start + 20);
    expectDates(labels(), "^[0-3][0-9]/(01|12)/(2024|2025)$", "new year");
    // A format with the date keeps it; midnights lose their "00:00".
    chart->UndoZoom();
    chart->SetBottomDateTime(true, "dd/mm hh:nn");
    expectDates(labels(), "^01/(0[1-9]|1[0-2])$", "a year, date format");
    chart->ZoomBottomRange(start + 40.2, start + 43.1);
    expectDates(labels(), "^[0-3][0-9]/02 [0-2][0-9]:[0-5][0-9]$", "three days, date format");
}

// A year of results a quarter of an hour apart, as the optical-depth window draws them: eight lines of
// a wide antialiased pen over a large chart. Each pixel column shows the highest and lowest points that
// fall in it. (How long it takes is the Langley benchmark's to show.)
TEST_F(Chart, DenseLinesAreDrawnWhole)
{
    chart->resize(1900, 1150);
    chart->SetBottomDateTime(true, "dd/mm");
    constexpr int kPoints = 16000;
    std::vector<TChartSeries*> lines;
    for (int s = 0; s < 8; ++s) {
        TChartSeries* line = chart->AddSeries(TSeriesKind::Line, QString("%1 nm").arg(340 + 100 * s));
        line->SetColor(Distinct(s));
        QPen pen = line->Series->pen();
        pen.setWidthF(2);
        line->Series->setPen(pen);
        QList<QPointF> points;
        for (int i = 0; i < kPoints; ++i)  // a daily swing with a spike now and then
            points << QPointF(kDay + i * 365.0 / kPoints, 0.1 * s + 0.05 * std::sin(i * 0.7) + (i % 997 == 0 ? 0.3 : 0));
        line->AddPoints(points);
        lines.push_back(line);
    }
    Settle();
    const QImage shot = chart->Grab();

    // The top line (drawn last, over the others): each spike reaches its height on the screen.
    TChartSeries* top = lines.back();
    int spikes = 0;
    for (int i = 997; i < kPoints; i += 997) {
        const double x = chart->XValueToScreen(top->XValue(i)), y = chart->YValueToScreen(top->YValue(i));
        EXPECT_TRUE(DrawnNear(shot, x, y, top->Color())) << "spike at point " << i << " not drawn";
        ++spikes;
    }
    EXPECT_EQ(spikes, kPoints / 997);
}
