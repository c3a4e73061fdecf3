// Langley and AOT windows on a year of sun triplets: each window run as the station runs it (the plug-in
// loaded through the plug-in host, a fresh user) on a virtual screen (an Xvfb the benchmark starts, Qt's
// xcb platform), in a child process of its own, against a baseline child that imports the same file and
// fits every Langley line without a window. Runs alternate between the two sides; medians are kept; peak
// memory comes from getrusage of the children.
//
//   zelt-langley-bench [--days N] [--runs N] [--aot] [--max-peak-mb M]
//     --days N         days of quarter-hour triplets made by q5gen (default 365)
//     --runs N         runs of each side (default 1)
//     --aot            the AOT window too (it runs Morvane when it opens)
//     --max-peak-mb M  fails when a window's peak memory beyond the baseline's exceeds M (the memory check)
//
// The station's own window is on the screen before the plug-in starts, as it is for a user. Every step
// is timed until the chart is painted on the screen: the events the step left are handled until a round
// of them paints nothing more, then the X server has answered a round trip.
// Langley figures: "open" (import, window shown with the counts drawn), the view changes "langley" (the
// Bouguer button), "fit on" ("Compute plots" ticked on a new date), "counts", "triplets", "langley fits"
// (back to the Langley plots with their lines), "zoom", "undo zoom", "fit off" ("Compute plots"
// unticked), and "open to saved" (from the start to "Save coefficients" done: open, Langley view, a new
// date, "Compute plots", the save). AOT: "open" (Morvane's run and its results drawn), "reload" (level
// 1.5 drawn again from the results), and "recompute" ("Restart calculation": Morvane again, then the
// results): Morvane's own share is recompute - reload.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QSize>
#include <QWindow>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/Prompt.h"
#include "common/analysis/BgrData.h"
#include "common/analysis/CalibFile.h"
#include "common/analysis/ImportData.h"
#include "common/analysis/tests/support/PlugInTestHost.h"
#include "common/chart/ChartServices.h"
#include "tools/q5gen/Q5Gen.h"

extern char** environ;
namespace fs = std::filesystem;

namespace {

// ---- the worker: one side of one run, figures printed as "name seconds" lines

double Seconds(QElapsedTimer& t) { return static_cast<double>(t.nsecsElapsed()) / 1e9; }

// The chart of a window as painted on the screen: its viewport's paints are counted from the start.
class ScreenChart : public QObject {
 public:
  ScreenChart(QWidget& window, const char* name) : chart_(window.findChild<TChart*>(name)) {
    if (chart_) chart_->viewport()->installEventFilter(this);
  }
  TChart* Chart() const { return chart_; }
  int Paints() const { return paints_; }

  // The chart on the screen as the user sees it after a step that started at `paintsBefore`: the
  // events the step left (layouts, the chart's updates, the paints they ask for) handled round after
  // round until the chart has been painted and a round paints nothing more; a chart that no round
  // painted is painted at once. Then a round trip to the window system, so that the pixels are there.
  void Drawn(int paintsBefore) {
    for (int round = 0; round < 50; ++round) {
      const int painted = paints_;
      QApplication::processEvents();
      if (paints_ == painted && paints_ != paintsBefore) break;
      if (round == 3 && paints_ == paintsBefore && chart_) chart_->viewport()->repaint();
    }
    QGuiApplication::sync();
  }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints_;
    return false;
  }

 private:
  TChart* chart_;
  int paints_ = 0;
};

void Click(QWidget& window, const char* name) {
  if (auto* b = window.findChild<QAbstractButton*>(name)) b->click();
  else std::fprintf(stderr, "no control %s\n", name);
}

void Trigger(QWidget& window, const char* name) {
  if (auto* a = window.findChild<QAction*>(name)) a->trigger();
  else std::fprintf(stderr, "no action %s\n", name);
}

void Figure(const std::string& name, double seconds) { std::printf("%s\t%.6f\n", name.c_str(), seconds); }

// The plug-ins' windows as large as a user makes them on a 1920 x 1200 screen: the drawing grows with
// the area.
const QSize kWindowSize(1900, 1150);

// The window shown and exposed on the screen (or the deadline passed).
void Exposed(QWidget& window) {
  QElapsedTimer waited;
  waited.start();
  while (!(window.windowHandle() && window.windowHandle()->isExposed()) && waited.elapsed() < 10000)
    QApplication::processEvents(QEventLoop::AllEvents, 20);
}

// The station's own window on the screen before a plug-in starts, as a user has it: the first window
// of a program sets up the window system's side (locale, atoms) once, which is not the plug-in's.
void StationWindowShown(plugin_test::PlugInStation& station) {
  station.host.form.resize(400, 300);
  station.host.form.show();
  Exposed(station.host.form);
}

int LangleyWorker(const std::string& file) {
  plugin_test::PlugInStation station("zelt-langley-bench", ZELT_TESSALY_PLUGIN, "tessaly", "TessalyFrm");
  station.path = file;
  station.LoadFile();
  ScopedPromptScript prompts({}, false);
  for (int i = 0; i < 8; ++i) prompts.Queue(PromptYes);
  bool shown = false;
  StationWindowShown(station);
  // From the plug-in's start, the data file being in the station's memory already.
  QElapsedTimer total, clock;
  total.start();
  clock.start();
  station.Run([&](QWidget& w) {
    ScreenChart screen(w, "GfxChart");
    w.resize(kWindowSize);
    Exposed(w);
    screen.Drawn(0);
    Figure("open", Seconds(clock));
    shown = true;
    auto step = [&](const char* name, const std::function<void()>& act) {
      clock.restart();
      const int paints = screen.Paints();
      act();
      screen.Drawn(paints);
      Figure(name, Seconds(clock));
    };
    step("langley", [&] { Click(w, "BgrLinesViewBtn"); });
    // A new calibration date (its dialog answered), counted in the way to a saved calibration only.
    plugin_test::WhenShown("ChoixDateFrm", [](QWidget& dialog) { static_cast<QDialog&>(dialog).accept(); });
    Click(w, "Button1");
    step("fit on", [&] { Click(w, "FitToLineOnChkBx"); });
    Click(w, "SaveBgrResultBtn");
    QApplication::processEvents();
    Figure("open to saved", Seconds(total));
    TChart* chart = screen.Chart();
    step("counts", [&] { Click(w, "CNViewBtn"); });
    step("triplets", [&] { Click(w, "BgrTripletViewBtn"); });
    step("langley fits", [&] { Click(w, "BgrLinesViewBtn"); });
    step("zoom", [&] {
      const QRectF area = chart->PlotArea();
      chart->ZoomRect(area.adjusted(area.width() / 4, area.height() / 4, -area.width() / 4, -area.height() / 4));
    });
    step("undo zoom", [&] { chart->UndoZoom(); });
    step("fit off", [&] { Click(w, "FitToLineOnChkBx"); });
  });
  return shown ? 0 : 1;
}

int AotWorker(const std::string& file) {
  plugin_test::PlugInStation station("zelt-langley-bench", ZELT_AOT_PLUGIN, "aot", "AotFrm");
  station.home.Set("PATH", std::string(ZELT_BENCH_BIN_DIR) + ":/usr/bin:/bin");
  station.path = file;
  station.LoadFile();
  // The calibration of the site, with q5gen's extraterrestrial counts in the canonical filter order.
  TCalibFile cal;
  cal.FileName = TCalibFile::FileNameFor(1);
  std::string coefficients;
  for (double nm : {1020.0, 870.0, 675.0, 440.0, 500.0, 940.0, 380.0, 340.0, 1640.0})
    coefficients += std::to_string(q5gen::SunV0(nm)) + " ";
  cal.Dates.push_back({"2025 1 1", coefficients});
  if (!cal.Save()) return 1;
  ScopedPromptScript prompts({}, false);
  QElapsedTimer clock;
  bool shown = false;
  StationWindowShown(station);
  clock.start();
  station.Run([&](QWidget& w) {
    ScreenChart screen(w, "GfxChart");
    w.resize(kWindowSize);
    Exposed(w);
    screen.Drawn(0);
    Figure("open", Seconds(clock));
    shown = true;
    clock.restart();
    int paints = screen.Paints();
    Click(w, "RBLvl15");
    screen.Drawn(paints);
    Figure("reload", Seconds(clock));
    clock.restart();
    paints = screen.Paints();
    Trigger(w, "Restartcalculation1");
    screen.Drawn(paints);
    Figure("recompute", Seconds(clock));
  });
  return shown ? 0 : 1;
}

// The baseline: the same import and every Langley fit, without a window.
int BaselineWorker(const std::string& file) {
  plugin_test::TestApplication("zelt-langley-bench");
  ScopedDescLists lists;
  lists.LoadFolder(InstalledDataDir());
  QElapsedTimer clock;
  clock.start();
  TQ5File q5(file);
  q5.AttachInstrument(lists.Ins().FindByID(q5.InstrumentId));
  TDecodDorax decoder;
  std::unique_ptr<TParamsList> params(decoder.Decode(q5.ParamBloc(), q5.InstrumentId, PathToBytes(InstalledDataDir())));
  TBgrData data;
  gBgrData = &data;
  { TImportData import(data, &q5, params.get()); }
  double sum = 0;
  for (const auto& serie : data.SerieList) {
    double slope = 0, intercept = 0, r2 = 0;
    if (serie->ComputeLangley(slope, intercept, r2)) sum += intercept;
  }
  const double seconds = Seconds(clock);
  Figure("sun counts", data.GetNbTotalCN());
  gBgrData = nullptr;
  Figure("baseline", seconds);
  return sum != 0 ? 0 : 1;
}

// ---- the parent

struct Run {
  std::vector<std::pair<std::string, double>> figures;  // in the worker's order
  double peakMB = 0;
  bool ok = false;
  double Figure(const std::string& name) const {
    for (const auto& [n, seconds] : figures)
      if (n == name) return seconds;
    return 0;
  }
};

Run Measure(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int out[2];
  Run run;
  if (pipe(out) != 0) return run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const bool spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t n; spawned && (n = read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
  close(out[0]);
  if (!spawned) return run;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) < 0) return run;
  run.peakMB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  // "name<TAB>seconds" lines.
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const size_t tab = line.find('\t');
    if (tab != std::string::npos) run.figures.emplace_back(line.substr(0, tab), std::atof(line.c_str() + tab + 1));
  }
  if (!run.ok) std::fprintf(stderr, "failed: %s %s\n", args[1].c_str(), args.back().c_str());
  return run;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// The virtual screen the windows are shown on: an Xvfb of its own on a display number it picks, for
// the benchmark's children (DISPLAY set, Qt's xcb platform); stopped with the benchmark.
class VirtualScreen {
 public:
  VirtualScreen() {
    int ready[2];
    if (pipe(ready) != 0) return;
    const std::string fd = std::to_string(ready[1]);
    std::vector<std::string> args = {"/usr/bin/Xvfb", "-displayfd", fd, "-screen", "0", "1920x1200x24",
                                     "-nolisten", "tcp", "-noreset"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    pid_ = fork();
    if (pid_ == 0) {
      // The screen ends with the benchmark, even one stopped by a signal or a test's time limit.
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      close(ready[0]);
      if (devNull >= 0) {
        dup2(devNull, 1);
        dup2(devNull, 2);
      }
      execv(argv[0], argv.data());
      _exit(127);
    }
    if (devNull >= 0) close(devNull);
    close(ready[1]);
    if (pid_ < 0) {
      pid_ = 0;
      close(ready[0]);
      return;
    }
    // Xvfb writes its display number once it takes connections; 20 s at most.
    std::string number;
    pollfd wait{ready[0], POLLIN, 0};
    char c = 0;
    while (poll(&wait, 1, 20000) > 0 && read(ready[0], &c, 1) == 1 && c != '\n') number += c;
    close(ready[0]);
    if (number.empty()) return;
    display_ = ":" + number;
    setenv("DISPLAY", display_.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
  }
  ~VirtualScreen() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  VirtualScreen(const VirtualScreen&) = delete;
  VirtualScreen& operator=(const VirtualScreen&) = delete;
  bool Ready() const { return !display_.empty(); }
  const std::string& Display() const { return display_; }

 private:
  pid_t pid_ = 0;
  std::string display_;
};

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

// The steps a user sees as a change of view (each to be drawn within a second), as the workers name
// them: every Langley step but the opening ones, and the AOT window's change of level.
bool IsViewChange(const std::string& side, const std::string& name) {
  if (side == "aot") return name == "reload";
  return name != "open" && name != "open to saved";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--worker") {
    const std::string side = argv[2], file = argv[3];
    if (side == "langley") return LangleyWorker(file);
    if (side == "aot") return AotWorker(file);
    return BaselineWorker(file);
  }
  int days = 365, runs = 1;
  bool aot = false;
  double maxPeak = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--aot") aot = true;
    else if (option == "--days" && i + 1 < argc) days = std::max(1, std::atoi(argv[++i]));
    else if (option == "--runs" && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
    else if (option == "--max-peak-mb" && i + 1 < argc) maxPeak = std::atof(argv[++i]);
    else {
      std::fprintf(stderr, "usage: zelt-langley-bench [--days N] [--runs N] [--aot] [--max-peak-mb M]\n");
      return 2;
    }
  }
  const fs::path bin = ZELT_BENCH_BIN_DIR;
  const std::string self = (bin / "zelt-langley-bench").string();
  char pattern[] = "/tmp/zelt-langley-bench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const fs::path work = pattern;
  VirtualScreen screen;
  if (!screen.Ready()) {
    std::fprintf(stderr, "zelt-langley-bench: no virtual screen (/usr/bin/Xvfb did not start)\n");
    fs::remove_all(work);
    return 1;
  }
  // AOT names its results after a ".q5" data file.
  const fs::path file = work / "YEAR.q5";
  if (!Measure({(bin / "q5gen").string(), "--sun-days", std::to_string(days), "--interval", "900", file.string()}).ok &&
      !fs::exists(file))
    return 1;
  std::printf("%d days of quarter-hour triplets: %.1f MB, %d runs each side, on Xvfb %s (xcb), load average %s\n",
              days, static_cast<double>(fs::file_size(file)) / 1e6, runs, screen.Display().c_str(),
              LoadAverage().c_str());
  std::vector<std::string> sides = {"langley"};
  if (aot) sides.push_back("aot");
  bool ok = true;
  for (const std::string& side : sides) {
    std::vector<std::string> order;
    std::map<std::string, std::vector<double>> figures;
    std::vector<double> base, peak, basePeak;
    double counts = 0;
    for (int r = 0; r < runs; ++r) {
      const Run b = Measure({self, "--worker", "baseline", file.string()});
      const Run w = Measure({self, "--worker", side, file.string()});
      ok = ok && b.ok && w.ok;
      counts = b.Figure("sun counts");
      base.push_back(b.Figure("baseline"));
      basePeak.push_back(b.peakMB);
      peak.push_back(w.peakMB);
      for (const auto& [name, seconds] : w.figures) {
        if (!figures.count(name)) order.push_back(name);
        figures[name].push_back(seconds);
      }
    }
    const double b = Median(base);
    std::printf("%s window (baseline: import of %.0f sun counts and fits without a window, %.3f s, %.0f MB)\n",
                side.c_str(), counts, b, Median(basePeak));
    std::string slowestName;
    double slowest = 0;
    for (const std::string& name : order) {
      const double t = Median(figures[name]);
      const char* target = "";
      if (side == "langley" && name == "open to saved") target = "(target 2 s)";
      else if (IsViewChange(side, name)) target = "(target 1 s)";
      std::printf("  %-16s %8.3f s %8.2f x baseline %6.2f us a count  %s\n", name.c_str(), t, b > 0 ? t / b : 0,
                  counts > 0 ? t * 1e6 / counts : 0, target);
      if (side == "langley" && IsViewChange(side, name) && t > slowest) {
        slowest = t;
        slowestName = name;
      }
    }
    if (!slowestName.empty())
      std::printf("  %-16s %8.3f s %8.2f x baseline %6.2f us a count  (%s)\n", "slowest change", slowest,
                  b > 0 ? slowest / b : 0, counts > 0 ? slowest * 1e6 / counts : 0, slowestName.c_str());
    if (side == "aot" && figures.count("recompute") && figures.count("reload"))
      std::printf("  %-16s %8.3f s (recompute - reload)\n", "morvane", Median(figures["recompute"]) - Median(figures["reload"]));
    const double beyond = Median(peak) - Median(basePeak);
    std::printf("  peak memory %.0f MB, %.0f MB beyond the baseline's\n", Median(peak), beyond);
    if (maxPeak > 0 && beyond > maxPeak) {
      std::printf("  FAILED: more than %.0f MB beyond the baseline\n", maxPeak);
      ok = false;
    }
  }
  std::printf("load average after the runs %s\n", LoadAverage().c_str());
  std::error_code ec;
  fs::remove_all(work, ec);
  return ok ? 0 : 1;
}
