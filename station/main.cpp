// zelt: the station program. Batch conversions (-ASCII, -PAR) run before any window exists and end
// with status 1 on a failure; otherwise the main window runs until it is closed. With no screen
// (an offscreen or minimal platform) a start that asks for something (an automatic connection, a
// plug-in run) is an unattended run that ends by itself (station/UnattendedRun.h), a plug-in run
// keeping it going until the window is closed (a plug-in may close it); a start that asks for
// neither ends at once. With no display at all (cron) the program picks the offscreen platform itself,
// and then a plug-in run ends as soon as the plug-in returns or opens a window nobody could see.
// Without a screen a command line the program cannot follow does nothing: an unknown argument, a
// settings file that can be neither read nor created, a conversion without its file and folder end the
// run with the usage (status 2), a data file that cannot be loaded with its reason (status 1). Qt's
// own options are Qt's: the program looks at the arguments Qt leaves.
#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/Prompt.h"
#include "common/Utils.h"
#include "common/Zelt.h"
#include "station/AboutBox.h"
#include "station/BatchConvert.h"
#include "station/CommandLine.h"
#include "station/StationSettings.h"
#include "station/UnattendedRun.h"
#include "station/ZELTFrm.h"
#include "station/link/Scripts.h"

namespace {

bool HasArgument(const std::vector<std::string>& args, TArgumentKind kind)
{
    for (const std::string& a : args)
        if (ArgumentKind(a) == kind) return true;
    return false;
}

bool HasBatchOption(const std::vector<std::string>& args)
{
    return HasArgument(args, TArgumentKind::Ascii) || HasArgument(args, TArgumentKind::Par);
}

std::vector<std::string> ArgumentsOf(int argc, char** argv)
{
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return args;
}

// A command line that names a settings file the run can neither read nor create: said, with the
// options the program takes. Going on with other settings would keep the data where nobody asked.
bool RefusedSettingsFile(const std::vector<std::string>& args)
{
    for (const std::string& arg : args) {
        if (ArgumentKind(arg) != TArgumentKind::Config) continue;
        const std::filesystem::path file = TZELT::AlternateFileOf(arg);
        const std::string problem = TZELT::AlternateFileProblem(file);
        if (problem.empty()) continue;
        std::fprintf(stderr, "ERROR: Unable to use the settings file %s: %s\n%s",
                     file.empty() ? arg.c_str() : file.string().c_str(), problem.c_str(), kCommandLineUsage);
        return true;
    }
    return false;
}

int RunBatch(int argc, char** argv, const std::vector<std::string>& args)
{
    if (RefusedSettingsFile(args)) return kBadCommandLine;
    QCoreApplication app(argc, argv);
    TZELT zelt(argc, argv);
    TBatchOptions options;
    options.ParDirectory = zelt.PARDirectory();
    TStationSettings settings;
    if (auto ini = zelt.OpenSettings()) {
        const std::string section = zelt.RegBaseSecName();
        TSettingsSection main;
        main.Get = [&](const std::string& key, std::string& value) { return ini->TryReadString(section, key, value); };
        LoadStationSettings(settings, main);
    }
    // The files come out as the main window's export writes them with the same settings.
    ApplyAsciiFormat(settings);
    options.AddASCIIHeader = settings.AddASCIIHeader;
    const TBatchResult result = ParseCommandLine(args, options);
    if (result.BadCommandLine) std::fprintf(stderr, "%s", kCommandLineUsage);
    return result.ExitStatus();
}

}  // namespace

int main(int argc, char** argv)
{
    if (HasBatchOption(ArgumentsOf(argc, argv))) return RunBatch(argc, argv, ArgumentsOf(argc, argv));

    ChooseOffscreenWithoutDisplay();
    QApplication app(argc, argv);
    QApplication::setApplicationName("ZELT Win");
    // The arguments the program takes are those Qt left: its own (-platform, -style, ...) are taken out.
    const std::vector<std::string> args = ArgumentsOf(argc, argv);
    // With a screen an argument the program does not know is ignored. Without one nobody would see
    // that the run does something else than asked (a typo in a scheduler's line): it does nothing.
    const std::string unknown = FirstUnknownArgument(args);
    if (!unknown.empty() && !PromptHasScreen()) {
        std::fprintf(stderr, "ERROR: Unknown argument %s\n%s", unknown.c_str(), kCommandLineUsage);
        return kBadCommandLine;
    }
    if (!PromptHasScreen() && RefusedSettingsFile(args)) return kBadCommandLine;
    // The settings object loads the script list of the parameter folder; the program keeps it.
    static std::unique_ptr<TScriptsList> scripts;
    TZELT::SetScriptsListHooks(
        [](const std::string& fileName) {
            scripts = std::make_unique<TScriptsList>();
            scripts->LoadFromFile(fileName);
        },
        [] { scripts.reset(); });
    TZELT zelt(argc, argv);
    if (!HasArgument(args, TArgumentKind::NoSplash) && PromptHasScreen()) {
        auto* splash = new TSplashScreenFrm();
        splash->show();
        QCoreApplication::processEvents();
    }
    int status = 0;
    {
        TZELTFrm frm(zelt, args);
        frm.Scripts = scripts.get();
        std::unique_ptr<TUnattendedRun> unattended;
        const bool asked = frm.Settings().AutoConnect || !frm.PlugInName().empty();
        if (!PromptHasScreen()) {
            frm.EchoMemoToStderr = true;
            if (asked) unattended = std::make_unique<TUnattendedRun>(frm);
        }
        frm.show();
        frm.Start(PromptHasScreen());
        if (TSplashScreenFrm::Current) TSplashScreenFrm::Current->close();
        if (!PromptHasScreen() && !frm.StartFileProblem().empty()) {
            // Nobody could choose another file: the run asked for cannot be made.
            frm.MemoLine("ERROR: Unable to load " + frm.StartFileName() + ": " + frm.StartFileProblem());
            return unattended ? unattended->LogEnd(kUnattendedFailed) : kUnattendedFailed;
        }
        if (!PromptHasScreen() && !asked) {
            // Nothing would ever happen: the window shows what it opened once, then the program ends.
            QCoreApplication::processEvents();
            return kUnattendedDone;
        }
        status = app.exec();
    }
    return status;
}
