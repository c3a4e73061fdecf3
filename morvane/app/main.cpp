// Optical-depth program. With a parameter file it runs one computation in batch, without any window;
// without one (or with only the graph option) it shows its dialog.
//
// Exit status: 0 success; 2 parameter file (or the dialog asked for without a screen), 3 unknown
// instrument, 4 table, 5 calibration, 6 data file, 7 result file.

#include "morvane/app/GraphProgram.h"
#include "morvane/app/MorvaneDialog.h"
#include "morvane/core/RunDriver.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <sys/stat.h>

namespace {

// An option is "/G0"-like: it begins with '/' or '-', fits the program's 5-character option field and
// names no existing file (so that absolute paths stay paths).
bool IsOption(const std::string &arg) {
  if (arg.empty() || (arg[0] != '/' && arg[0] != '-') || arg.size() > 5)
    return false;
  struct stat st;
  return ::stat(arg.c_str(), &st) != 0;
}

// Characters 2 and 3 of the option: "G0"/"g0" graph off, "G1"/"g1" on, anything else on.
bool GraphOption(const std::string &option) {
  const std::string c = option.size() >= 3 ? option.substr(1, 2) : std::string();
  return !(c == "G0" || c == "g0");
}

// Without a screen nobody can answer the dialog: say how to call the program instead.
int NoScreen() {
  std::cerr << "Error initializing application morvane\n"
               "Usage: morvane PARAMETER_FILE [/G0|/G1]  one computation, without any window\n"
               "       morvane [/G0|/G1]                 the dialog \"Cálculo de AOD\" (needs a screen)\n"
               "/G0: without the graph program; /G1 (the default): the graph program after the run\n";
  return 2;
}

} // namespace

int main(int argc, char **argv) {
  const std::string arg1 = argc > 1 ? argv[1] : "";
  const std::string arg2 = argc > 2 ? argv[2] : "";
  const bool dialog = argc < 2 || IsOption(arg1);
  const bool graph = GraphOption(dialog ? arg1 : arg2);

  if (!dialog) {
    morvane::RunParams params;
    const morvane::RunResult r = morvane::ProcesoCalculo(params, morvane::InputMode::ParameterFile, arg1, std::cerr);
    if (r.status != 0) {
      std::cerr << "morvane: " << r.message << '\n';
      return r.exitCode != 0 ? r.exitCode : 1;
    }
    std::cout << r.message << '\n';
    if (graph)
      morvane::StartGraphProgram();
    return 0;
  }

  // Without any display the window system would abort; an offscreen or minimal platform has no screen
  // either, and the dialog would wait for ever.
  const char *platform = std::getenv("QT_QPA_PLATFORM");
  if (!(platform && *platform) && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
    return NoScreen();
  QApplication app(argc, argv);
  const QString used = QGuiApplication::platformName();
  if (used == QLatin1String("offscreen") || used == QLatin1String("minimal"))
    return NoScreen();
  morvane::MorvaneDialog window(graph);
  window.show();
  return app.exec();
}
