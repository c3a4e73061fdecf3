// Langley and AOT windows on a year of sun triplets: each window run as the station runs it (the plug-in
// loaded through the plug-in host, a fresh user, no screen) in a child process of its own, against a
// baseline child that imports the same file and fits every Langley line without a window. Runs alternate
// between the two sides; medians are kept; peak memory comes from getrusage of the children.
//
//   zelt-langley-bench [--days N] [--runs N] [--aot] [--max-peak-mb M]
//     --days N         days of quarter-hour triplets made by q5gen (default 365)
//     --runs N         runs of each side (default 1)
//     --aot            the AOT window too (it runs Morvane when it opens)
//     --max-peak-mb M  fails when a window's peak memory beyond the baseline's exceeds M (the memory check)
//
// Langley figures: "open" (import, window shown with the counts drawn), "Langley view" (the Bouguer button,
// drawn), "fit and save" (a new date, "Compute plots", "Save coefficients"), and the slowest of the view
// changes (digital counts, triplets, Langley plots, a zoom and its undo), each timed until drawn. AOT:
// "open" (Morvane's run and its results drawn), "reload" (level 1.5 drawn again from the results), and
// "recompute" ("Restart calculation": Morvane again, then the results): Morvane's own share is recompute -
// reload.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
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

// The chart drawn as the user sees it: laid out and painted into an image.
void Drawn(QWidget& window, const char* chart) {
  QApplication::processEvents();
  if (auto* c = window.findChild<TChart*>(chart)) c->Grab();
}

void Click(QWidget& window, const char* name) {
  if (auto* b = window.findChild<QAbstractButton*>(name)) b->click();
  else std::fprintf(stderr, "no control %s\n", name);
}

void Trigger(QWidget& window, const char* name) {
  if (auto* a = window.findChild<QAction*>(name)) a->trigger();
  else std::fprintf(stderr, "no action %s\n", name);
}

void Figure(const char* name, double seconds) { std::printf("%s %.6f\n", name, seconds); }

int LangleyWorker(const std::string& file) {
  plugin_test::PlugInStation station("zelt-langley-bench", ZELT_TESSALY_PLUGIN, "tessaly", "TessalyFrm");
  station.path = file;
  station.LoadFile();
  ScopedPromptScript prompts({}, false);
  for (int i = 0; i < 8; ++i) prompts.Queue(PromptYes);
  QElapsedTimer clock;
  bool shown = false;
  clock.start();
  station.Run([&](QWidget& w) {
    w.resize(1000, 640);
    Drawn(w, "GfxChart");
    Figure("open", Seconds(clock));
    shown = true;
    clock.restart();
    Click(w, "BgrLinesViewBtn");
    Drawn(w, "GfxChart");
    Figure("langley", Seconds(clock));
    clock.restart();
    plugin_test::WhenShown("ChoixDateFrm", [](QWidget& dialog) { static_cast<QDialog&>(dialog).accept(); });
    Click(w, "Button1");
    Click(w, "FitToLineOnChkBx");
    Drawn(w, "GfxChart");
    Click(w, "SaveBgrResultBtn");
    Figure("fitsave", Seconds(clock));
    double slowest = 0;
    auto change = [&](const std::function<void()>& act) {
      clock.restart();
      act();
      Drawn(w, "GfxChart");
      slowest = std::max(slowest, Seconds(clock));
    };
    auto* chart = w.findChild<TChart*>("GfxChart");
    change([&] { Click(w, "CNViewBtn"); });
    change([&] { Click(w, "BgrTripletViewBtn"); });
    change([&] { Click(w, "BgrLinesViewBtn"); });
    change([&] {
      const QRectF area = chart->PlotArea();
      chart->ZoomRect(area.adjusted(area.width() / 4, area.height() / 4, -area.width() / 4, -area.height() / 4));
    });
    change([&] { chart->UndoZoom(); });
    Figure("viewchange", slowest);
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
  clock.start();
  station.Run([&](QWidget& w) {
    w.resize(1000, 700);
    Drawn(w, "GfxChart");
    Figure("open", Seconds(clock));
    shown = true;
    clock.restart();
    Click(w, "RBLvl15");
    Drawn(w, "GfxChart");
    Figure("reload", Seconds(clock));
    clock.restart();
    Trigger(w, "Restartcalculation1");
    Drawn(w, "GfxChart");
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
  gBgrData = nullptr;
  Figure("baseline", Seconds(clock));
  return sum != 0 ? 0 : 1;
}

// ---- the parent

struct Run {
  std::map<std::string, double> figures;
  double peakMB = 0;
  bool ok = false;
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
  char name[64];
  double seconds = 0;
  for (const char* p = text.c_str(); std::sscanf(p, "%63s %lf", name, &seconds) == 2;) {
    run.figures[name] = seconds;
    p = std::strchr(p, '\n');
    if (!p) break;
    ++p;
  }
  if (!run.ok) std::fprintf(stderr, "failed: %s %s\n", args[1].c_str(), args.back().c_str());
  return run;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
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
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // AOT names its results after a ".q5" data file.
  const fs::path file = work / "YEAR.q5";
  if (!Measure({(bin / "q5gen").string(), "--sun-days", std::to_string(days), "--interval", "900", file.string()}).ok &&
      !fs::exists(file))
    return 1;
  std::printf("%d days of quarter-hour triplets: %.1f MB, %d runs each side\n", days,
              static_cast<double>(fs::file_size(file)) / 1e6, runs);
  std::vector<std::string> sides = {"langley"};
  if (aot) sides.push_back("aot");
  bool ok = true;
  for (const std::string& side : sides) {
    std::map<std::string, std::vector<double>> figures;
    std::vector<double> base, peak, basePeak;
    for (int r = 0; r < runs; ++r) {
      const Run b = Measure({self, "--worker", "baseline", file.string()});
      const Run w = Measure({self, "--worker", side, file.string()});
      ok = ok && b.ok && w.ok;
      base.push_back(b.figures.count("baseline") ? b.figures.at("baseline") : 0);
      basePeak.push_back(b.peakMB);
      peak.push_back(w.peakMB);
      for (const auto& [name, seconds] : w.figures) figures[name].push_back(seconds);
    }
    const double b = Median(base);
    std::printf("%s window (baseline: import and fits without a window, %.3f s, %.0f MB)\n", side.c_str(), b,
                Median(basePeak));
    double total = 0;
    for (const auto& [name, values] : figures) {
      const double t = Median(values);
      if (name != "viewchange" && name != "reload" && name != "recompute") total += t;
      std::printf("  %-12s %9.3f s %9.2f x baseline\n", name.c_str(), t, b > 0 ? t / b : 0);
    }
    if (side == "langley") std::printf("  %-12s %9.3f s %9.2f x baseline\n", "total", total, b > 0 ? total / b : 0);
    if (side == "aot" && figures.count("recompute") && figures.count("reload"))
      std::printf("  %-12s %9.3f s (recompute - reload)\n", "morvane", Median(figures["recompute"]) - Median(figures["reload"]));
    const double beyond = Median(peak) - Median(basePeak);
    std::printf("  peak memory %.0f MB, %.0f MB beyond the baseline's\n", Median(peak), beyond);
    if (maxPeak > 0 && beyond > maxPeak) {
      std::printf("  FAILED: more than %.0f MB beyond the baseline\n", maxPeak);
      ok = false;
    }
  }
  std::error_code ec;
  fs::remove_all(work, ec);
  return ok ? 0 : 1;
}
