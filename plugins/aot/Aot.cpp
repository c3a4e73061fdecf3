// aot.so: the aerosol optical thickness plug-in of the station program.
#include <QApplication>
#include <memory>
#include <string>

#include "common/FileUtils.h"
#include "common/PlugInterface.h"
#include "common/Prompt.h"
#include "common/Q5File.h"
#include "common/ScnType.h"
#include "common/StaParametre.h"
#include "common/analysis/BgrData.h"
#include "common/analysis/ImportData.h"
#include "common/analysis/PlugInEntry.h"
#include "common/analysis/SmallDialogs.h"
#include "plugins/aot/AotFrm.h"
#include "plugins/aot/AotRun.h"

namespace {
TPlugInContext* gContext = nullptr;
TListScn* gScnList = nullptr;

TQ5File* CurrentFile() {
  if (!gContext || !gContext->CurrentDataFile) return nullptr;
  return *static_cast<TQ5File* const*>(gContext->CurrentDataFile);
}

// The data set of the run, known to the shared units while it lives.
struct TRunData {
  TRunData() { gBgrData = &data; }
  ~TRunData() { gBgrData = nullptr; }
  TBgrData data;
};

int32_t Execute() {
  TQ5File* file = CurrentFile();
  if (!file) {
    ShowWarningBox("No data in memory.");
    return -1;
  }
  // Results and exports are named after the data file: only a ".q5" name gives a base of its own.
  std::string base;
  if (!AotBaseName(file->FileName, base)) {
    ShowWarningBox("The data file must be saved under a name ending in .q5 before the AOT computation.");
    return -1;
  }
  SetLegacyDataFolder(file->FileName);
  TRunData run;
  {
    TImportData import(run.data, file, static_cast<const TParamsList*>(gContext->StationParams), false);
    if (import.Status == TImportData::NoSunFilter) {
      ShowWarningBox("Unknown instrument or can't be used to compute AOT");
      return -1;
    }
  }
  TAotHost host;
  host.Morvane = FindMorvane();
  if (host.Morvane.empty()) {
    ShowWarningBox("Please install AOT binaries");
    return -3;
  }
  if (!AotCalibrationFound(run.data.Site->SiteNumber)) return -4;
  host.DataFile = file;
  host.ScnList = gScnList;
  host.ConfirmWrite = gContext->ConfirmWrite != 0;
  if (gContext->PlugInFileName) host.PlugInFileName = *static_cast<const std::string*>(gContext->PlugInFileName);
  TAotFrm window(run.data, host, base, QApplication::activeWindow());
  window.exec();
  return 0;
}
}  // namespace

extern "C" {

__attribute__((visibility("default"))) const unsigned char* _GetZELTPlugMenuCaption(unsigned char* buffer) {
  return CopyToShortString("Aot", buffer);
}

__attribute__((visibility("default"))) uint8_t _Initialize(TPlugInContext* context) {
  if (!AcceptPlugInContext(context)) return 0;
  gContext = context;
  gScnList = static_cast<TListScn*>(context->ScnList);
  return 1;
}

__attribute__((visibility("default"))) int32_t _Execute(int32_t) { return Execute(); }

}  // extern "C"
