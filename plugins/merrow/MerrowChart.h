#pragma once
// What the viewer asks of the chart, in one place: series of each kind, the left axis rule and the
// conversion of the zone's corners.
#include <QString>

#include <cstdint>

class TChart;
class TChartSeries;

namespace merrow {

// Pointer styles as the windows number them.
constexpr int kTrianglePointer = 2;
constexpr int kCrossPointer = 4;

// Title "Data" shown, legend, flat, date-time bottom axis without exact steps, every series freed.
void ResetChart(TChart& chart);
// A curve (solid line with triangle markers) or a point series with cross markers.
TChartSeries* AddSeries(TChart& chart, bool curves, const QString& title, uint32_t color);
// The name of a curve of a filter, of its infrared ("IR") or mirror ("MIR") counts at a mirror
// position: "8700 nm MIR pos. 1".
QString CurveName(const QString& filter, const char* kind, const QString& position);
// The grey series of the black-body and head temperatures and the humidity.
TChartSeries* AddGreySeries(TChart& chart, bool curves, const QString& title);

// The left axis around the values shown: lowest and highest start at the largest and the lowest
// possible value; untouched they become 0 and 10; the range is at least 2, widened by 10 percent.
struct TAxisRange {
    double Minimum, Maximum;
};
double InitialLowest();
double InitialHighest();
TAxisRange LeftAxisRange(double lowest, double highest);
void SetLeftAxis(TChart& chart, double lowest, double highest);

// Pixels of the chart to values through the axes of its first series; false without a series.
bool ScreenToValues(const TChart& chart, int px, int py, double& x, double& y);

}  // namespace merrow
