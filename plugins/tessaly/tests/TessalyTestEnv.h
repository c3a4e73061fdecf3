#pragma once
// The calibration plug-in run as the station runs it (the shared plug-in test host); the window driven
// by its controls' object names while it is modal.
#include <QApplication>
#include <QPoint>
#include <QWidget>
#include <functional>
#include <vector>

#include "common/analysis/tests/support/PlugInTestHost.h"

namespace tessaly_test {

using namespace plugin_test;

class Station : public PlugInStation {
 public:
  Station() : PlugInStation("tessaly_tests", ZELT_TESSALY_PLUGIN, "tessaly", "TessalyFrm") {}
};

// The main chart's series, in chart order.
inline std::vector<TChartSeries*> ChartSeries(QWidget& window) { return SeriesOf(window, "GfxChart"); }

// Where a point of a series is drawn, in pixels of the chart's viewport.
inline QPoint PixelOf(QWidget& window, const TChartSeries* series, QPointF point) {
  auto* chart = window.findChild<TChart*>("GfxChart");
  return QPoint(qRound(chart->XValueToScreen(point.x())), qRound(chart->YValueToScreen(point.y(), series)));
}

// Delete mode, then a rubber band dragged with the left button from centre - half to centre + half.
void DeleteByBox(QWidget& window, QPoint centre, int half);

// Runs the plug-in with its window at a fixed size and its chart laid out.
inline void RunLaidOut(Station& station, const std::function<void(QWidget&)>& drive) {
  station.Run([&drive](QWidget& w) {
    w.resize(900, 600);
    QApplication::processEvents();
    drive(w);
  });
}

}  // namespace tessaly_test

#include <QAbstractButton>
#include <QTest>

inline void tessaly_test::DeleteByBox(QWidget& window, QPoint centre, int half) {
  window.findChild<QAbstractButton*>("SupprValuesBtn")->click();
  QWidget* viewport = window.findChild<QChartView*>("GfxChart")->viewport();
  QTest::mousePress(viewport, Qt::LeftButton, {}, centre - QPoint(half, half));
  QTest::mouseMove(viewport, centre);
  QTest::mouseMove(viewport, centre + QPoint(half, half));
  QTest::mouseRelease(viewport, Qt::LeftButton, {}, centre + QPoint(half, half));
}
