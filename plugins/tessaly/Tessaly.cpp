// tessaly.so: the Bouguer-Langley calibration plug-in of the station program.
#include <QApplication>
#include <memory>
#include <string>

#include "common/PlugInterface.h"
#include "common/Q5File.h"
#include "common/ScnType.h"
#include "common/StaParametre.h"
#include "common/analysis/BgrData.h"
#include "common/analysis/ImportData.h"
#include "common/analysis/PlugInEntry.h"
#include "common/analysis/SmallDialogs.h"
#include "plugins/tessaly/TessalyFrm.h"

namespace {
TPlugInContext* gContext = nullptr;
const TListScn* gScnList = nullptr;

const TQ5File* CurrentFile() {
  if (!gContext || !gContext->CurrentDataFile) return nullptr;
  return *static_cast<TQ5File* const*>(gContext->CurrentDataFile);
}
}  // namespace

extern "C" {

__attribute__((visibility("default"))) const unsigned char* _GetZELTPlugMenuCaption(unsigned char* buffer) {
  return CopyToShortString("Bouguer-Langley calibration", buffer);
}

__attribute__((visibility("default"))) uint8_t _Initialize(TPlugInContext* context) {
  if (!AcceptPlugInContext(context)) return 0;
  gContext = context;
  gScnList = static_cast<const TListScn*>(context->ScnList);
  return 1;
}

__attribute__((visibility("default"))) int32_t _Execute(int32_t) {
  const TQ5File* file = CurrentFile();
  if (!file) {
    ShowWarningBox("No data in memory.");
    return -1;
  }
  SetLegacyDataFolder(file->FileName);
  auto data = std::make_unique<TBgrData>();
  gBgrData = data.get();
  auto import = std::make_unique<TImportData>(*data, file, static_cast<const TParamsList*>(gContext->StationParams));
  const int status = import->Status;
  import.reset();
  if (status == TImportData::NoSunFilter) {
    ShowWarningBox("The instrument isn't recognized by the software or is unable to compute optical thickness.");
    gBgrData = nullptr;
    return -1;
  }
  if (status == TImportData::NoSunCount) {
    ShowWarningBox("The Q5 file data  doesn't contain SUN digital count.");
    gBgrData = nullptr;
    return -2;
  }
  TTessalyHost host;
  host.ScnList = gScnList;
  host.ConfirmWrite = gContext->ConfirmWrite != 0;
  host.ExpertMode = gContext->ExpertMode != 0;
  if (gContext->PlugInFileName) host.PlugInFileName = *static_cast<const std::string*>(gContext->PlugInFileName);
  {
    TTessalyFrm window(*data, host, QApplication::activeWindow());
    window.exec();
  }
  gBgrData = nullptr;
  return 0;
}

}  // extern "C"
