#pragma once
// Every use the calibration window makes of the station's chart services, in one place: the
// temperature on a right axis, the date-time bottom axis labelled in UT, printing. The services
// grow these operations; until the running build has one, the nearest operation it has stands in.
#include <QString>

#include "common/chart/ChartServices.h"

namespace tessaly_chart {

// A point series on the right axis where the chart has one; else it is kept (for the exports) but
// not drawn, so that it does not squeeze the counts on the left axis.
template <class Chart>
TChartSeries* AddRightPointSeries(Chart& chart, const QString& title) {
  if constexpr (requires { chart.AddSeries(TSeriesKind::Point, title, Chart::Right); }) {
    return chart.AddSeries(TSeriesKind::Point, title, Chart::Right);
  } else {
    TChartSeries* series = chart.AddSeries(TSeriesKind::Point, title);
    series->SetVisible(false);
    return series;
  }
}

template <class Chart>
void SetRightAxisTitle(Chart& chart, const QString& title) {
  if constexpr (requires { chart.SetAxisTitle(Chart::Right, title); }) chart.SetAxisTitle(Chart::Right, title);
}

template <class Chart>
void SetRightAxisAutomatic(Chart& chart) {
  if constexpr (requires { chart.SetAxisAutomatic(Chart::Right); }) chart.SetAxisAutomatic(Chart::Right);
}

// Hours and minutes (UT) on the bottom axis, where the chart labels day numbers in UT; else the day
// numbers stay plain values (a local-time axis would show other hours than the instrument's).
template <class Chart>
void SetBottomHoursMinutes(Chart& chart, bool on) {
  if constexpr (requires { chart.BottomDateTimeLabels(); })
    chart.SetBottomDateTime(on, QStringLiteral("hh:nn"));
  else
    chart.SetValueFormat(Chart::Bottom, on ? QStringLiteral("0.00") : QStringLiteral("#,##0.###"));
}

// The print dialog, then the chart; false when it cannot print or was cancelled.
template <class Chart>
bool PrintChart(Chart& chart, QWidget* parent) {
  if constexpr (requires { chart.PrintWithDialog(parent); })
    return chart.PrintWithDialog(parent);
  else
    return false;
}

template <class Chart>
void SetBackground(Chart& chart, const QColor& color) {
  if constexpr (requires { chart.SetColor(color); }) chart.SetColor(color);
}

template <class Chart>
QColor Background(Chart& chart) {
  if constexpr (requires { chart.Color(); })
    return chart.Color();
  else
    return QColor(Qt::white);
}

}  // namespace tessaly_chart
