// The plug-in's C exports: the "Q5x Viewer" entry of the station program's "Processing" menu.
#include "common/PlugInterface.h"
#include "common/Prompt.h"
#include "common/ScnType.h"
#include "common/analysis/ErreurFrm.h"
#include "common/analysis/PlugInEntry.h"
#include "common/analysis/RadioDataSet.h"
#include "plugins/merrow/MerrowFrm.h"

#include <exception>
#include <string>

#define MERROW_EXPORT extern "C" __attribute__((visibility("default")))

// The windows of a run, for whoever looks for them; the host does not.
extern "C" {
__attribute__((visibility("default"))) merrow::TMerrowFrm* _MerrowFrm = nullptr;
__attribute__((visibility("default"))) radio::TErreurFrm* _ErreurFrm = nullptr;
}

namespace {
TPlugInContext* gContext = nullptr;
TListScn* gScnList = nullptr;
radio::TRadData* gRadData = nullptr;

const char* const kCaption = "Q5x Viewer";

void Run()
{
    merrow::TMerrowOptions options;
    options.ConfirmWrite = gContext->ConfirmWrite != 0;
    if (gScnList && !gScnList->SepList.empty()) options.ListSeparator = gScnList->SepList;
    options.FileVersion = ZELT_PLUGIN_FILE_VERSION;

    gRadData = new radio::TRadData;
    _ErreurFrm = new radio::TErreurFrm(nullptr);
    _MerrowFrm = new merrow::TMerrowFrm(*gRadData, *_ErreurFrm, options);
    if (_MerrowFrm->Loaded()) _MerrowFrm->exec();
}

// Frees what a run made, in the order data set, window, caution window; also after a failure.
void FreeRun()
{
    delete gRadData;
    gRadData = nullptr;
    delete _MerrowFrm;
    _MerrowFrm = nullptr;
    delete _ErreurFrm;
    _ErreurFrm = nullptr;
}
}  // namespace

MERROW_EXPORT const unsigned char* _GetZELTPlugMenuCaption(unsigned char* buffer)
{
    return CopyToShortString(kCaption, buffer);
}

MERROW_EXPORT uint8_t _Initialize(TPlugInContext* context)
{
    if (!context || !AcceptPlugInContext(context)) return 0;   // built for another host
    gContext = context;
    gScnList = static_cast<TListScn*>(context->ScnList);
    return 1;
}

MERROW_EXPORT int32_t _Execute(int32_t)
{
    if (!gContext) return 0;
    // Nothing thrown here may cross into the host.
    try {
        Run();
    } catch (const std::exception& e) {
        ShowWarning(std::string("Q5x Viewer stopped: ") + e.what());
    } catch (...) {
        ShowWarning("Q5x Viewer stopped on an unexpected error.");
    }
    try {
        FreeRun();
    } catch (...) {
    }
    return 0;
}
