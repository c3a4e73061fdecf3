#pragma once
// The calibration plug-in run as the station runs it: a data file in memory, its station parameters
// decoded for the run, the plug-in found in the plug-ins folder and run through the plug-in host;
// the window driven by its controls' object names while it is modal.
#include <QAction>
#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QMenu>
#include <QTimer>
#include <QWidget>
#include <QXYSeries>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "common/DataPaths.h"
#include "common/FileUtils.h"
#include "common/Instrument.h"
#include "common/Q5File.h"
#include "common/StaParametre.h"
#include "common/tests/DescTestEnv.h"
#include "common/tests/PlatformTestEnv.h"
#include "station/plugins/PlugInsList.h"

namespace tessaly_test {

inline QApplication& App() {
  static int argc = 1;
  static char name[] = "tessaly_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

inline std::string BinDir() {
  const char* dir = std::getenv("ZELT_BIN_DIR");
  return dir ? dir : "";
}

// The host side of a run: the main window's data-file slot and the parameter decoding.
class Host : public TPlugInHostWindow {
 public:
  QWidget* HostForm() override { return &form; }
  QMenu* ProcessingMenu() override { return &processing; }
  QAction* ProcessingButton() override { return &button; }
  bool TransferInProgress() override { return false; }
  void* DecodeStationParams() override {
    if (!file) return nullptr;
    TDecodDorax decoder;
    return decoder.Decode(file->ParamBloc(), file->InstrumentId, PathToBytes(InstalledDataDir()));
  }
  void FreeStationParams(void* p) override { delete static_cast<TParamsList*>(p); }
  void ReloadCurrentDataFile() override { ++reloads; }

  QWidget form;
  QMenu processing;
  QAction button;
  TQ5File* file = nullptr;
  int reloads = 0;
};

class Station {
 public:
  Station() {
    lists.LoadFolder(InstalledDataDir());
    plugIns = std::make_unique<TPlugInsList>(host, PathToBytes(std::filesystem::path(ZELT_TESSALY_PLUGIN).parent_path()));
    Refill();
  }
  // A data file of q5gen's sun days (written under the test's folder), loaded as the current file.
  void LoadSunDays(const std::string& name, const std::string& options) {
    path = (home.Root() / name).string();
    const std::string command = "'" + BinDir() + "/q5gen' " + options + " '" + path + "'";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("q5gen failed: " + command);
    file = std::make_unique<TQ5File>(path);
    file->AttachInstrument(lists.Ins().FindByID(file->InstrumentId));
    host.file = file.get();
    Refill();
  }
  // A data file written from bytes, loaded as the current file.
  void LoadBytes(const std::string& name, const std::string& bytes) {
    path = (home.Root() / name).string();
    ScopedTestHome::Write(path, bytes);
    file = std::make_unique<TQ5File>(path);
    file->AttachInstrument(lists.Ins().FindByID(file->InstrumentId));
    host.file = file.get();
    Refill();
  }
  void Refill() {
    current = file.get();
    plugIns->FillContext(false, nullptr, &current, &lists.Scn(), &lists.Ins(), false);
  }
  // Runs the plug-in; `drive` gets its window once it is shown and should close it.
  int Run(const std::function<void(QWidget&)>& drive) {
    auto* timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, drive] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == "TessalyFrm" && w->isVisible()) {
          timer->stop();
          drive(*w);
          if (w->isVisible()) w->close();
          return;
        }
    });
    timer->start();
    const int result = plugIns->RunByName("tessaly");
    delete timer;
    return result;
  }

  QApplication& app = App();  // before any widget
  ScopedTestHome home;
  ScopedDescLists lists;
  Host host;
  std::unique_ptr<TPlugInsList> plugIns;
  std::unique_ptr<TQ5File> file;
  TQ5File* current = nullptr;
  std::string path;
};

// Runs `action` once the modal dialog named `name` is shown (a nested event loop is running then).
inline void WhenShown(const QString& name, const std::function<void(QWidget&)>& action) {
  auto* timer = new QTimer;
  timer->setInterval(20);
  QObject::connect(timer, &QTimer::timeout, [timer, name, action] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->objectName() == name && w->isVisible()) {
        timer->stop();
        timer->deleteLater();
        action(*w);
        return;
      }
  });
  timer->start();
}

// The chart's series as Qt Charts holds them, in chart order.
inline std::vector<QXYSeries*> ChartSeries(QWidget& window) {
  std::vector<QXYSeries*> out;
  auto* view = window.findChild<QChartView*>("GfxChart");
  if (!view) return out;
  for (QAbstractSeries* s : view->chart()->series())
    if (auto* xy = qobject_cast<QXYSeries*>(s)) out.push_back(xy);
  return out;
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
