#pragma once
// An analysis plug-in run as the station runs it: a fresh user (empty XDG folders), the description lists,
// a data file in memory with its station parameters decoded for the run, the plug-in loaded from the
// plug-ins folder and run through the plug-in host; its windows found by their object names while they
// are modal.
#include <QAction>
#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QMenu>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <QXYSeries>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "common/DataPaths.h"
#include "common/FileUtils.h"
#include "common/Instrument.h"
#include "common/Q5File.h"
#include "common/chart/ChartServices.h"
#include "common/StaParametre.h"
#include "common/tests/DescTestEnv.h"
#include "common/tests/PlatformTestEnv.h"
#include "common/tests/support/WindowTestDriver.h"
#include "station/plugins/PlugInsList.h"

namespace plugin_test {

using window_test::AnswerFileDialog;
using window_test::TestApplication;
using window_test::WhenFileDialogShown;
using window_test::WhenShown;

// The build's programs (q5gen, zelt, morvane, ...).
inline std::string BinDir() {
  const char* dir = std::getenv("ZELT_BIN_DIR");
  return dir ? dir : "";
}

// The host side of a run: the main window's data-file slot and the parameter decoding.
class TestHost : public TPlugInHostWindow {
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

// The series of the chart named `chart`, in chart order, with their points as the chart services keep
// them (Qt Charts' own series carry only names, colours and visibility).
inline std::vector<TChartSeries*> SeriesOf(QWidget& window, const char* chart) {
  std::vector<TChartSeries*> out;
  auto* view = window.findChild<TChart*>(chart);
  if (!view) return out;
  for (int i = 0; i < view->SeriesCount(); ++i) out.push_back(view->Series(i));
  return out;
}

// The station side of one plug-in: `plugInFile` is the built plug-in (its folder is the plug-ins folder),
// `plugInName` the name it is run by and `windowName` its main window's object name.
class PlugInStation {
 public:
  PlugInStation(const char* program, const std::filesystem::path& plugInFile, std::string plugInName,
                QString windowName)
      : app(TestApplication(program)), plugInName_(std::move(plugInName)), windowName_(std::move(windowName)) {
    lists.LoadFolder(InstalledDataDir());
    plugIns = std::make_unique<TPlugInsList>(host, PathToBytes(plugInFile.parent_path()));
    Refill();
  }
  PlugInStation(const PlugInStation&) = delete;
  PlugInStation& operator=(const PlugInStation&) = delete;

  // q5gen's sun days written under the test's folder and loaded as the current data file.
  void LoadSunDays(const std::string& name, const std::string& options) {
    path = (home.Root() / name).string();
    const std::string command = "'" + BinDir() + "/q5gen' " + options + " '" + path + "' >/dev/null";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("q5gen failed: " + command);
    LoadFile();
  }
  // A data file written from bytes, loaded as the current data file.
  void LoadBytes(const std::string& name, const std::string& bytes) {
    path = (home.Root() / name).string();
    ScopedTestHome::Write(path, bytes);
    LoadFile();
  }
  // The file at `path` loaded as the current data file, as the station opens one.
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
  // Runs the plug-in; `drive` gets its window once it is shown (and it is closed after).
  int Run(const std::function<void(QWidget&)>& drive) {
    QPointer<QTimer> watch = WhenShown(windowName_, [drive](QWidget& w) {
      drive(w);
      if (w.isVisible()) w.close();
    });
    const int result = plugIns->RunByName(plugInName_);
    delete watch.data();  // a window that never came leaves no watch for a later run
    return result;
  }

  QApplication& app;  // before any widget
  ScopedTestHome home;
  ScopedDescLists lists;
  TestHost host;
  std::unique_ptr<TPlugInsList> plugIns;
  std::unique_ptr<TQ5File> file;
  TQ5File* current = nullptr;
  std::string path;

 private:
  std::string plugInName_;
  QString windowName_;
};

}  // namespace plugin_test
