#include "plugins/merrow/MerrowChart.h"

#include "station/ChartServices.h"

#include <QColor>
#include <QPainter>

#include <algorithm>
#include <limits>

namespace merrow {

namespace {
QColor FromBgr(uint32_t color) { return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF); }
}  // namespace

void ResetChart(TChart& chart)
{
    chart.SetTitle("Data");
    chart.SetView3D(false);
    chart.SetLegendVisible(true);
    chart.SetExactDateTime(false);
    chart.SetBottomDateTime(true, "dd/MM hh:mm");
    chart.SetAxisAutomatic(TChart::Bottom);
    chart.FreeAllSeries();
}

TChartSeries* AddSeries(TChart& chart, bool curves, const QString& title, uint32_t color)
{
    TChartSeries* s = chart.AddSeries(curves ? TSeriesKind::Line : TSeriesKind::Point, title);
    s->SetColor(FromBgr(color));
    s->SetPointerStyle(curves ? kTrianglePointer : kCrossPointer);
    s->SetPointerVisible(true);
    if (curves) s->SetLineVisible(true);
    return s;
}

TChartSeries* AddGreySeries(TChart& chart, bool curves, const QString& title)
{
    TChartSeries* s = chart.AddSeries(curves ? TSeriesKind::Line : TSeriesKind::Point, title);
    s->SetColor(QColor(102, 102, 102));
    if (!curves) s->SetPointerStyle(kCrossPointer);
    return s;
}

double InitialLowest() { return std::numeric_limits<double>::max(); }
double InitialHighest() { return std::numeric_limits<double>::lowest(); }

TAxisRange LeftAxisRange(double lowest, double highest)
{
    if (lowest == InitialLowest()) lowest = 0;
    if (highest == InitialHighest()) highest = 10;
    const double range = std::max(highest - lowest, 2.0);
    const double middle = (highest + lowest) / 2;
    return {middle - range * 1.1 / 2, middle + range * 1.1 / 2};
}

void SetLeftAxis(TChart& chart, double lowest, double highest)
{
    const TAxisRange r = LeftAxisRange(lowest, highest);
    chart.SetAxisRange(TChart::Left, r.Minimum, r.Maximum);
}

bool ScreenToValues(const TChart& chart, int px, int py, double& x, double& y)
{
    if (chart.SeriesCount() == 0) return false;
    // Every series of the chart is drawn against the same two axes.
    x = chart.XScreenToValue(px);
    y = chart.YScreenToValue(py);
    return true;
}

void TZoneBox::SavePixelLine(int x1, int y1, int x2, int y2)
{
    if (x1 > x2) std::swap(x1, x2);
    if (y1 > y2) std::swap(y1, y2);
    auto save = [this](int x, int y) {
        const QRgb color = FCanvas.valid(x, y) ? FCanvas.pixel(x, y) : 0;
        FSaved.push_back({x, y, color});
    };
    if (x1 == x2) {
        for (int y = y1; y <= y2; ++y) save(x1, y);
    } else if (y1 == y2) {
        for (int x = x1; x <= x2; ++x) save(x, y1);
    }
}

void TZoneBox::SaveBackground()
{
    SavePixelLine(X1, Y1, X2, Y1);
    SavePixelLine(X2, Y1, X2, Y2);
    SavePixelLine(X2, Y2, X1, Y2);
    SavePixelLine(X1, Y2, X1, Y1);
}

void TZoneBox::Draw()
{
    QPainter p(&FCanvas);
    p.setPen(QPen(Qt::black, 1));
    p.drawLine(X1, Y1, X2, Y1);
    p.drawLine(X2, Y1, X2, Y2);
    p.drawLine(X2, Y2, X1, Y2);
    p.drawLine(X1, Y2, X1, Y1);
}

void TZoneBox::Restore()
{
    for (const SavedPixel& s : FSaved)
        if (FCanvas.valid(s.x, s.y)) FCanvas.setPixel(s.x, s.y, s.color);
}

}  // namespace merrow
