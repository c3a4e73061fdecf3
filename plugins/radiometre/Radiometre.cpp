// radiometre.so: the infrared radiometer plug-in of the station program.
#include <QApplication>
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "common/DecimalSep.h"
#include "common/PlugInterface.h"
#include "common/Q5File.h"
#include "common/ScnType.h"
#include "plugins/radiometre/CalibrationFrm.h"
#include "plugins/radiometre/ErreurFrm.h"
#include "plugins/radiometre/RadiometreFrm.h"

namespace {
TPlugInContext* gContext = nullptr;
const TListScn* gScnList = nullptr;
}  // namespace

extern "C" {

// The run's windows, exported for the host's symbol table; the host does not use them.
__attribute__((visibility("default"))) radio::TRadiometreFrm* _RadiometreFrm = nullptr;
__attribute__((visibility("default"))) radio::TfCalibration* _fCalibration = nullptr;
__attribute__((visibility("default"))) radio::TErreurFrm* _ErreurFrm = nullptr;

__attribute__((visibility("default"))) const unsigned char* _GetZELTPlugMenuCaption(unsigned char* buffer)
{
    static const char caption[] = "Radiometer";
    const size_t n = std::min<size_t>(std::strlen(caption), 255);
    buffer[0] = static_cast<unsigned char>(n);
    std::memcpy(buffer + 1, caption, n);
    return buffer;
}

__attribute__((visibility("default"))) uint8_t _Initialize(TPlugInContext* context)
{
    uint32_t abi = 0;
    std::memcpy(&abi, context->Reserved, sizeof abi);
    if (abi != ZELT_PLUGIN_ABI) return 0;
    gContext = context;
    gScnList = static_cast<const TListScn*>(context->ScnList);
    if (gScnList && !gScnList->SepDec.empty()) SetDecimalSeparator(gScnList->SepDec[0]);
    return 1;
}

__attribute__((visibility("default"))) int32_t _Execute(int32_t)
{
    radio::TRadiometreHost host;
    host.CurrentDataFile = static_cast<const TQ5File* const*>(gContext->CurrentDataFile);
    host.StationParams = static_cast<const TParamsList*>(gContext->StationParams);
    host.ConfirmWrite = gContext->ConfirmWrite != 0;
    if (gScnList && !gScnList->SepList.empty()) host.ListSeparator = gScnList->SepList;
    if (gContext->PlugInFileName) host.PlugInFileName = *static_cast<const std::string*>(gContext->PlugInFileName);

    auto data = std::make_unique<radio::TRadiometreData>();
    auto errors = std::make_unique<radio::TErreurFrm>(QApplication::activeWindow());
    _ErreurFrm = errors.get();
    auto window = std::make_unique<radio::TRadiometreFrm>(*data, *errors, host, QApplication::activeWindow());
    _RadiometreFrm = window.get();
    if (window->Loaded) window->exec();
    _RadiometreFrm = nullptr;
    window.reset();
    _ErreurFrm = nullptr;
    errors.reset();
    data.reset();
    return 0;
}

}  // extern "C"
