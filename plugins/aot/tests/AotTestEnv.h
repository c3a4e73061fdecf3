#pragma once
// The AOT plug-in run as the station runs it (the shared plug-in test host), with q5gen's sun days or
// the simulator's download as the data file, Morvane found on PATH; the window driven through its
// controls' object names.
#include <QAbstractButton>
#include <QAction>
#include <QChart>
#include <QChartView>
#include <QTest>
#include <QTableWidget>
#include <QWidget>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/AsciiExport.h"
#include "common/analysis/CalibFile.h"
#include "common/analysis/tests/support/PlugInTestHost.h"
#include "tools/q5gen/Q5Gen.h"

namespace aot_test {

using namespace plugin_test;

// The plug-in's station, with Morvane on PATH.
class Station : public PlugInStation {
 public:
  Station() : PlugInStation("aot_tests", ZELT_AOT_PLUGIN, "aot", "AotFrm") {
    home.Set("PATH", BinDir() + ":/usr/bin:/bin");
  }
  // The instrument simulator's memory image (the demo's download) written as a data file and loaded.
  void LoadSimulatorImage(const std::string& name, const std::string& options) {
    path = (home.Root() / name).string();
    const std::string command =
        "'" + BinDir() + "/zelt-simulator' --pty " + options + " --write-image '" + path + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("simulator failed: " + command);
    LoadFile();
  }
  // The calibration file of a site, written by the shared calibration-file code: q5gen's V0 of every
  // sun filter of the station's instrument, in the canonical order.
  static void WriteCalibration(int site) {
    TCalibFile cal;
    cal.FileName = TCalibFile::FileNameFor(site);
    std::string coefficients;
    for (double nm : {1020.0, 870.0, 675.0, 440.0, 500.0, 940.0, 380.0, 340.0, 1640.0})
      coefficients += std::to_string(q5gen::SunV0(nm)) + " ";
    cal.Dates.push_back({"2025 6 1", coefficients});
    if (!cal.Save()) throw std::runtime_error("calibration file not written");
  }
  std::filesystem::path AotFolder() const { return home.Root() / "data" / "zelt" / "Aot"; }
  // Where the results of the current data file's folder are kept.
  std::filesystem::path ResultFolder() const {
    return AotFolder() / "Results" / std::filesystem::weakly_canonical(std::filesystem::path(path).parent_path()).relative_path();
  }
};

inline QString Cell(QWidget& w, int row, int column) {
  const QTableWidgetItem* item = w.findChild<QTableWidget*>("StringGrid1")->item(row, column);
  return item ? item->text() : QString();
}

inline std::vector<std::string> Lines(const std::filesystem::path& p) {
  std::vector<std::string> lines;
  ReadAsciiLines(p.string(), lines);
  return lines;
}

inline void Trigger(QWidget& w, const char* actionName) {
  QAction* a = w.findChild<QAction*>(actionName);
  if (!a) throw std::runtime_error(std::string("no action ") + actionName);
  a->trigger();
}

inline void Click(QWidget& w, const char* name) {
  auto* b = w.findChild<QAbstractButton*>(name);
  if (!b) throw std::runtime_error(std::string("no button ") + name);
  b->click();
}

// Drags with the left button across a chart's plot area, from one fraction of it to another.
inline void Drag(QWidget& w, const char* chart, QPointF from, QPointF to) {
  auto* view = w.findChild<QChartView*>(chart);
  const QRectF plot = view->chart()->plotArea();
  auto at = [&](QPointF f) {
    return view->mapFromScene(QPointF(plot.left() + f.x() * plot.width(), plot.top() + f.y() * plot.height()));
  };
  QTest::mousePress(view->viewport(), Qt::LeftButton, {}, at(from));
  QTest::mouseMove(view->viewport(), at((from + to) / 2));
  QTest::mouseMove(view->viewport(), at(to));
  QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at(to));
}

}  // namespace aot_test
