#pragma once
// The AOT plug-in run as the station runs it: a data file of q5gen's sun days in memory, its station
// parameters decoded for the run, the plug-in loaded from the plug-ins folder and run through the
// plug-in host, Morvane found on PATH; the window driven through its controls' object names.
#include <QAbstractButton>
#include <QAction>
#include <QChart>
#include <QChartView>
#include <QTableWidget>
#include <QXYSeries>
#include <QApplication>
#include <QMenu>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/AsciiExport.h"
#include "common/DataPaths.h"
#include "common/FileUtils.h"
#include "common/Instrument.h"
#include "common/Q5File.h"
#include "common/StaParametre.h"
#include "common/analysis/CalibFile.h"
#include "common/tests/DescTestEnv.h"
#include "common/tests/PlatformTestEnv.h"
#include "station/plugins/PlugInsList.h"
#include "tools/q5gen/Q5Gen.h"

namespace aot_test {

inline QApplication& App() {
  static int argc = 1;
  static char name[] = "aot_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

inline std::string BinDir() { return std::filesystem::path(ZELT_MORVANE).parent_path().string(); }

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
  void ReloadCurrentDataFile() override {}

  QWidget form;
  QMenu processing;
  QAction button;
  TQ5File* file = nullptr;
};

// A fresh user (empty XDG folders), the description lists, the plug-in host, Morvane on PATH.
class Station {
 public:
  Station() {
    lists.LoadFolder(InstalledDataDir());
    home.Set("PATH", BinDir() + ":/usr/bin:/bin");
    plugIns = std::make_unique<TPlugInsList>(host, PathToBytes(std::filesystem::path(ZELT_AOT_PLUGIN).parent_path()));
    Refill();
  }
  // q5gen's sun days written under the test's folder and loaded as the current data file.
  void LoadSunDays(const std::string& name, const std::string& options) {
    path = (home.Root() / name).string();
    const std::string command = "'" + BinDir() + "/q5gen' " + options + " '" + path + "' >/dev/null";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("q5gen failed: " + command);
    LoadFile();
  }
  // The instrument simulator's memory image (the demo's download) written as a data file and loaded.
  void LoadSimulatorImage(const std::string& name, const std::string& options) {
    path = (home.Root() / name).string();
    const std::string command =
        "'" + BinDir() + "/zelt-simulator' --pty " + options + " --write-image '" + path + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("simulator failed: " + command);
    LoadFile();
  }
  void LoadFile() {
    file = std::make_unique<TQ5File>(path);
    file->AttachInstrument(lists.Ins().FindByID(file->InstrumentId));
    host.file = file.get();
    Refill();
  }
  void Refill() {
    current = file.get();
    plugIns->FillContext(false, nullptr, &current, &lists.Scn(), &lists.Ins(), false);
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

  // Runs the plug-in; `drive` gets its window once it is shown (and it is closed after).
  int Run(const std::function<void(QWidget&)>& drive) {
    auto* timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, drive] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == "AotFrm" && w->isVisible()) {
          timer->stop();
          drive(*w);
          if (w->isVisible()) w->close();
          return;
        }
    });
    timer->start();
    const int result = plugIns->RunByName("aot");
    delete timer;
    return result;
  }

  QApplication& app = App();
  ScopedTestHome home;
  ScopedDescLists lists;
  Host host;
  std::unique_ptr<TPlugInsList> plugIns;
  std::unique_ptr<TQ5File> file;
  TQ5File* current = nullptr;
  std::string path;
};

// Runs `action` once a top-level widget named `name` is visible (inside a nested event loop).
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

// The series of a chart as Qt Charts holds them, in chart order.
inline std::vector<QXYSeries*> SeriesOf(QWidget& window, const char* chart) {
  std::vector<QXYSeries*> out;
  for (QAbstractSeries* s : window.findChild<QChartView*>(chart)->chart()->series())
    if (auto* xy = qobject_cast<QXYSeries*>(s)) out.push_back(xy);
  return out;
}

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

}  // namespace aot_test
