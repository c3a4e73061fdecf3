// A plug-in for the host's tests. Built several times with one of TEST_PLUGIN_PLAIN, _EXTENDED,
// _REFUSING, _THROWING or _NONE; each appends what it saw to the file named by
// ZELT_TEST_PLUGIN_REPORT, one line per call.
#include "common/PlugInterface.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

namespace {

#if defined(TEST_PLUGIN_PLAIN)
const char* kName = "plain";
#elif defined(TEST_PLUGIN_EXTENDED)
const char* kName = "extended";
#elif defined(TEST_PLUGIN_REFUSING)
const char* kName = "refusing";
#elif defined(TEST_PLUGIN_THROWING)
const char* kName = "throwing";
#else
const char* kName = "none";
#endif

[[maybe_unused]] void Report(const std::string& line)
{
    const char* path = std::getenv("ZELT_TEST_PLUGIN_REPORT");
    if (!path) return;
    if (FILE* f = std::fopen(path, "a")) {
        std::fprintf(f, "%s %s\n", kName, line.c_str());
        std::fclose(f);
    }
}

[[maybe_unused]] int EnvInt(const char* name, int fallback)
{
    const char* value = std::getenv(name);
    return value ? std::atoi(value) : fallback;
}

}  // namespace

extern "C" {

#if !defined(TEST_PLUGIN_NONE)
__attribute__((visibility("default"))) const unsigned char* _GetZELTPlugMenuCaption(unsigned char* buffer)
{
    std::string caption = std::string("Test ") + kName;
    if (const char* longCaption = std::getenv("ZELT_TEST_LONG_CAPTION"); longCaption && *longCaption == '1')
        caption.assign(300, 'x');
    size_t length = caption.size() > 255 ? 255 : caption.size();
    buffer[0] = static_cast<unsigned char>(length);
    std::memcpy(buffer + 1, caption.data(), length);
    return buffer;
}

__attribute__((visibility("default"))) uint8_t _Initialize(TPlugInContext* context)
{
    uint32_t abi = 0;
    std::memcpy(&abi, context->Reserved, sizeof abi);
    bool restZero = true;
    for (size_t i = sizeof abi; i < sizeof context->Reserved; ++i) restZero = restZero && context->Reserved[i] == 0;
    const auto* fileName = static_cast<const std::string*>(context->PlugInFileName);
    char line[1024];
    std::snprintf(line, sizeof line,
                  "init version=%d expert=%d confirm=%d abi=%s reserved=%s file=%s app=%s params=%s slot=%s",
                  context->Version, context->ExpertMode, context->ConfirmWrite,
                  abi == ZELT_PLUGIN_ABI ? "ok" : "bad", restZero ? "zero" : "dirty",
                  fileName ? fileName->c_str() : "(null)", context->Application ? "set" : "null",
                  context->StationParams ? "set" : "null", context->CurrentDataFile ? "set" : "null");
    Report(line);
    if (abi != ZELT_PLUGIN_ABI) return 0;
#if defined(TEST_PLUGIN_REFUSING)
    return 0;
#else
    return 1;
#endif
}

__attribute__((visibility("default"))) int32_t _Execute(int32_t reserved)
{
    Report("execute " + std::to_string(reserved));
#if defined(TEST_PLUGIN_THROWING)
    throw std::runtime_error("the test plug-in failed");
#endif
    return EnvInt("ZELT_TEST_EXECUTE_RESULT", 0);
}
#endif

#if defined(TEST_PLUGIN_EXTENDED)
__attribute__((visibility("default"))) void _ExtendedPlugInsFunc(int32_t code, void* record)
{
    if (code == ZELT_EXT_INFO) {
        auto* info = static_cast<TPlugInExtInfo*>(record);
        bool zeroed = true;
        for (size_t i = 0; i < sizeof *info; ++i) zeroed = zeroed && static_cast<uint8_t*>(record)[i] == 0;
        Report(zeroed ? "info zeroed" : "info dirty");
        info->HideMainForm = 1;
        info->ReloadData = static_cast<uint8_t>(EnvInt("ZELT_TEST_RELOAD", 1));
        info->CloseMainForm = static_cast<uint8_t>(EnvInt("ZELT_TEST_CLOSE", 0));
        info->MenuCount = EnvInt("ZELT_TEST_MENU_COUNT", 4);
        return;
    }
    auto* def = static_cast<TPlugInMenuDef*>(record);
    def->FormName = "TestForm";
    def->ControlName = "ToolsButton";
    switch (def->Index) {
    case 0: def->Caption = "Appended entry"; break;
    case 1: def->Caption = "Skipped entry"; def->Skip = 1; break;
    case 2: def->Caption = "Inserted entry"; def->InsertBefore = "FirstAction"; break;
    case 3: def->Caption = "Lost entry"; def->InsertBefore = "NoSuchAction"; break;
    default: def->Caption = "More"; def->ControlName = "NoSuchButton"; break;
    }
}
#endif

}  // extern "C"
