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

#include <gtest/gtest.h>
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
      : app(TestApplication(program)),
        plugInsFolder_(plugInFile.parent_path().string()),
        plugInName_(std::move(plugInName)),
        windowName_(std::move(windowName)) {
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
  // What Run and RunWithoutWindow return when the plug-in is not in the plug-ins folder.
  static constexpr int kNotLoaded = -1000;

  // Runs the plug-in; `drive` gets its window once it is shown (and it is closed after). A plug-in that
  // is not in the plug-ins folder, or whose window never shows, fails the test: its checks did not run.
  int Run(const std::function<void(QWidget&)>& drive) {
    if (!Loaded()) return kNotLoaded;
    bool shown = false;
    QPointer<QTimer> watch = WhenShown(windowName_, [&shown, drive](QWidget& w) {
      shown = true;
      drive(w);
      if (w.isVisible()) w.close();
    });
    const int result = plugIns->RunByName(plugInName_);
    delete watch.data();  // a window that never came leaves no watch for a later run
    if (!shown)
      ADD_FAILURE() << "the plug-in " << plugInName_ << " returned " << result << " without showing its window '"
                    << windowName_.toStdString() << "'";
    return result;
  }
  // Runs the plug-in where it must not show its window (it refuses, or has nothing to show); a window
  // that shows fails the test, and so does a plug-in that is not there.
  int RunWithoutWindow() {
    if (!Loaded()) return kNotLoaded;
    QPointer<QTimer> watch = WhenShown(windowName_, [this](QWidget& w) {
      ADD_FAILURE() << "the plug-in " << plugInName_ << " showed its window, where none was expected";
      w.close();
    });
    const int result = plugIns->RunByName(plugInName_);
    delete watch.data();
    return result;
  }
  // Whether the plug-in was found and loaded from the plug-ins folder; a test fails when it was not.
  bool Loaded() {
    const TPlugIns* plugIn = plugIns->FindByName(plugInName_);
    if (plugIn && plugIn->Library) return true;
    ADD_FAILURE() << "the plug-in " << plugInName_ << " is not loaded from the plug-ins folder " << plugInsFolder_;
    return false;
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
  std::string plugInsFolder_;
  std::string plugInName_;
  QString windowName_;
};

}  // namespace plugin_test
