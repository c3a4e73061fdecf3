#include "plugins/merrow/MerrowChart.h"

#include "common/chart/ChartServices.h"

#include <QColor>

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
    chart.SetBottomDateTime(true, "dd/mm hh:nn");
    chart.SetValueFormat(TChart::Left, "#,##0.#");
    chart.SetAxisAutomatic(TChart::Bottom);
    // The right button moves along the time axis only.
    chart.SetPanning(TChart::PanHorizontal);
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

QString CurveName(const QString& filter, const char* kind, const QString& position)
{
    return QStringLiteral("%1 %2 pos. %3").arg(filter, QLatin1String(kind), position);
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

}  // namespace merrow
