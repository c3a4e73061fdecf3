#include "station/CommandLine.h"

#include "common/Utils.h"
#include "common/Zelt.h"

const char* const kCommandLineUsage =
    "Usage: zelt [-COM=<port> | -IP=<address> | -USB] [-RUN=<plug-in>] [-CONFIG=<settings file>] [-DEBUG]\n"
    "            [-NOSPLASH] [<data file>]\n"
    "       zelt -ASCII <data file> <folder>\n"
    "       zelt -PAR <data file> <folder>\n";

TArgumentKind ArgumentKind(const std::string& arg)
{
    if (arg.empty()) return TArgumentKind::Unknown;
    if (UpperCase(arg) == "/NOSPLASH") return TArgumentKind::NoSplash;
    if (arg[0] != '-') return TArgumentKind::DataFile;
    const std::string option = UpperCase(arg.substr(1));
    auto starts = [&option](const char* prefix) { return option.rfind(prefix, 0) == 0; };
    if (option == "DEBUG") return TArgumentKind::Debug;
    if (starts("COM=")) return TArgumentKind::Com;
    if (starts("IP=")) return TArgumentKind::Ip;
    if (starts("USB")) return TArgumentKind::Usb;
    if (starts("RUN=")) return TArgumentKind::Run;
    if (option == "NOSPLASH") return TArgumentKind::NoSplash;
    if (TZELT::IsAlternateFileOption(arg)) return TArgumentKind::Config;
    if (option == "ASCII") return TArgumentKind::Ascii;
    if (option == "PAR") return TArgumentKind::Par;
    return TArgumentKind::Unknown;
}

std::string FirstUnknownArgument(const std::vector<std::string>& args)
{
    for (const std::string& arg : args)
        if (ArgumentKind(arg) == TArgumentKind::Unknown) return arg.empty() ? std::string("\"\"") : arg;
    return {};
}
