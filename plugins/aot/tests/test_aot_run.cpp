// Morvane's runs that go wrong: a failure keeps the earlier results, Cancel ends a slow run, and the
// result columns are read as Morvane writes them whatever a record holds.
#include <gtest/gtest.h>

#include <QChart>
#include <QChartView>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <chrono>
#include <csignal>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>
#include <unistd.h>

#include "common/AsciiExport.h"
#include "common/Prompt.h"
#include "plugins/aot/AotRun.h"
#include "plugins/aot/tests/AotTestEnv.h"

using namespace aot_test;

namespace {

const char kDay[] = "--sun-days 1 --start 2025-06-20 --interval 1800 --param SITE=12 --param LAT=28.31 "
                    "--param LON=-16.50";
const char kNotComputed[] = "AOT no computed. Please check instrument calibration";

// A record of a result file: the time fields, then the value fields of 15 characters.
std::string Record(const std::vector<std::string>& fields, int hour) {
  char head[80];
  std::snprintf(head, sizeof head, "%5d %3d %3d %3d %3d %6.3f %12.5f %11.5f %7.2f %2d", 2025, 6, 20, hour, 30, 0.0,
                9302.0 + (hour + 0.5) / 24.0, 1.5, 25.0, 0);
  std::string line = head;
  for (const std::string& f : fields) line += std::string(15 - f.size(), ' ') + f;
  return line;
}

std::string E(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%.6E", v * 10);  // 0.123456E-01 style: mantissa below one
  std::string s = b;                           // d.ddddddE±xx of v*10
  return "0." + s.substr(0, 1) + s.substr(2, 5) + "E" + s.substr(s.find('E') + 1);
}

// A stand-in for Morvane, the shell script `script`, put first on the station's PATH.
void UseStandIn(Station& station, const std::string& script) {
  const auto folder = station.home.Root() / "standin";
  std::filesystem::create_directories(folder);
  ScopedTestHome::Write(folder / "morvane", "#!/bin/sh\n" + script);
  std::filesystem::permissions(folder / "morvane", std::filesystem::perms::owner_all);
  station.home.Set("PATH", folder.string() + ":/usr/bin:/bin");
}

}  // namespace

// A calibration that Morvane cannot read: its message is shown and the earlier results stay on show
// and on disk.
TEST(AotRun, MorvaneFailureKeepsTheEarlierResults) {
  Station station;
  station.LoadSunDays("SITE0601.q5", kDay);
  Station::WriteCalibration(12);
  const auto tao = station.ResultFolder() / "SITE0601.tao";
  {
    ScopedPromptScript prompts;
    station.Run([](QWidget&) {});
    ASSERT_TRUE(prompts.Texts().empty());
  }
  ASSERT_TRUE(std::filesystem::exists(tao));
  const std::string before = ScopedTestHome::Read(tao);

  ScopedTestHome::Write(station.home.Root() / "data/zelt/Calibration/calibr12.cal", "2025 6 1 not numbers\r\n");
  ScopedPromptScript prompts;
  bool driven = false;
  station.Run([&](QWidget& w) {
    driven = true;
    // The earlier results are shown without running Morvane.
    EXPECT_TRUE(w.findChild<QLabel*>("Label2")->isVisible());
    const int points = SeriesOf(w, "GfxChart")[0]->Count();
    ASSERT_GT(points, 0);
    Trigger(w, "Restartcalculation1");
    EXPECT_EQ(SeriesOf(w, "GfxChart")[0]->Count(), points);
    // They still come from the earlier computation.
    EXPECT_TRUE(w.findChild<QLabel*>("Label2")->isVisible());
  });
  EXPECT_TRUE(driven);
  const auto texts = prompts.Texts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].rfind("Morvane failed: morvane:", 0), 0u) << texts[0];
  EXPECT_NE(texts[0].find("calibr12.cal"), std::string::npos) << texts[0];
  // Morvane's own words, in its UTF-8.
  const std::string shown = prompts.Asked()[0].shown;
  EXPECT_NE(shown.find("l\xC3\xADnea 1 de calibrado rechazada"), std::string::npos) << shown;
  EXPECT_EQ(ScopedTestHome::Read(tao), before);
  EXPECT_FALSE(std::filesystem::exists(station.AotFolder() / "run/SITE0601.tao"));
}

// Cancel ends a run that does not end by itself: the process is gone and no result appears.
TEST(AotRun, CancelEndsASlowRun) {
  Station station;
  station.LoadSunDays("SITE0601.q5", kDay);
  Station::WriteCalibration(12);
  const auto pidFile = station.home.Root() / "pid";
  UseStandIn(station, "echo $$ > '" + pidFile.string() + "'\nexec sleep 3600\n");

  ScopedPromptScript prompts;
  WhenShown("MorvaneProgress", [&](QWidget& progress) {
    // Wait until the stand-in runs, then cancel as the user does.
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, &progress, pidFile] {
      if (!std::filesystem::exists(pidFile) || ScopedTestHome::Read(pidFile).empty()) return;
      poll->stop();
      poll->deleteLater();
      progress.findChild<QPushButton*>()->click();  // "Cancel"
    });
    poll->start(20);
  });
  const auto start = std::chrono::steady_clock::now();
  bool driven = false;
  station.Run([&](QWidget& w) {
    driven = true;
    EXPECT_EQ(SeriesOf(w, "GfxChart")[0]->Count(), 0);
    w.findChild<QRadioButton*>("RBLvl15")->setChecked(true);  // nothing more to say
  });
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kTestDeadlineMs));  // not the hour
  EXPECT_TRUE(driven);
  const pid_t pid = std::stoi(ScopedTestHome::Read(pidFile));
  EXPECT_NE(::kill(pid, 0), 0) << "the stand-in still runs";
  // Said as it happened: nothing about the calibration.
  EXPECT_EQ(prompts.Texts(), std::vector<std::string>{"The AOT computation was cancelled."});
  EXPECT_FALSE(std::filesystem::exists(station.ResultFolder() / "SITE0601.tao"));
}

namespace {

// The process id of this process's child running `program`; 0 when there is none.
pid_t ChildRunning(const std::string& program) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(entry.path() / "stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // "pid (comm) state ppid ..."
    const size_t close = stat.rfind(')');
    if (close == std::string::npos || stat.find("(" + program + ")") == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 1));
    char state = 0;
    pid_t parent = 0;
    if (rest >> state >> parent && parent == ::getpid()) return static_cast<pid_t>(std::stoi(name));
  }
  return 0;
}

// The names in `folder` that begin with `prefix`.
std::vector<std::string> NamesStarting(const std::filesystem::path& folder, const std::string& prefix) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
    if (entry.path().filename().string().rfind(prefix, 0) == 0) names.push_back(entry.path().filename().string());
  return names;
}

}  // namespace

// Morvane cancelled on a year of data while it writes its results: the half-written files it had
// made beside them are gone with it, and so is everything else of the run.
TEST(AotRun, ACancelledRunLeavesNothingBehind) {
  Station station;
  station.LoadSunDays("year.q5", "--sun-days 365 --interval 900");
  Station::WriteCalibration(1);
  const auto run = station.AotFolder() / "run";
  const auto writing = [&] {
    return !NamesStarting(run, ".year.tao.").empty() && !NamesStarting(run, ".year.ta2.").empty();
  };

  ScopedPromptScript prompts;
  bool caught = false;
  WhenShown("MorvaneProgress", [&](QWidget& progress) {
    // Morvane takes a fraction of a second over a year: it is held (stopped) from the moment it runs,
    // and let go a millisecond at a time until it has both result files under way, then cancelled
    // as the user does.
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [&, poll] {
      const pid_t morvane = ChildRunning("morvane");
      if (morvane == 0) return;
      poll->stop();
      poll->deleteLater();
      ::kill(morvane, SIGSTOP);
      for (int slice = 0; slice < kTestDeadlineMs && !writing() && !std::filesystem::exists(run / "year.ta2"); ++slice) {
        ::kill(morvane, SIGCONT);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ::kill(morvane, SIGSTOP);
      }
      caught = writing();
      progress.findChild<QPushButton*>()->click();  // "Cancel"
    });
    poll->start(0);
  });
  bool driven = false;
  station.Run([&](QWidget& w) {
    driven = true;
    EXPECT_EQ(SeriesOf(w, "GfxChart")[0]->Count(), 0);
  });
  EXPECT_TRUE(driven);
  ASSERT_TRUE(caught) << "Morvane was not caught writing its results";
  EXPECT_EQ(prompts.Texts(), std::vector<std::string>{"The AOT computation was cancelled."});
  EXPECT_EQ(NamesStarting(run, ".year."), std::vector<std::string>{});
  EXPECT_EQ(NamesStarting(run, "year."), std::vector<std::string>{});
  EXPECT_FALSE(std::filesystem::exists(station.ResultFolder() / "year.tao"));
}

// A program that crashes, or that ends well without writing its results, is a failure too.
TEST(AotRun, CrashOrMissingResultIsAFailure) {
  Station station;
  station.LoadSunDays("SITE0601.q5", kDay);
  Station::WriteCalibration(12);
  const std::pair<const char*, const char*> cases[] = {
      {"echo 'about to fail' >&2\nkill -SEGV $$\n", "Morvane failed: Morvane stopped abnormally.\nabout to fail"},
      {"exit 0\n", "Morvane failed: Morvane wrote no result file."},
      {"echo 'morvane: fallo' >&2\nexit 6\n", "Morvane failed: morvane: fallo"}};
  for (const auto& [script, message] : cases) {
    UseStandIn(station, script);
    ScopedPromptScript prompts;
    station.Run([](QWidget&) {});
    EXPECT_EQ(prompts.Texts(), std::vector<std::string>{message});  // said once
    EXPECT_FALSE(std::filesystem::exists(station.ResultFolder() / "SITE0601.tao"));
  }
}

// Results of this data file whose screened file is gone: Level 1 shows, Level 1.5 says once that there
// is nothing, and the next changes of level say nothing more.
TEST(AotRun, AMissingResultFileIsSaidOnce) {
  Station station;
  station.LoadSunDays("SITE0601.q5", kDay);
  Station::WriteCalibration(12);
  {
    ScopedPromptScript prompts;
    station.Run([](QWidget&) {});
    ASSERT_TRUE(prompts.Texts().empty());
  }
  std::filesystem::remove(station.ResultFolder() / "SITE0601.ta2");
  ScopedPromptScript prompts;
  bool driven = false;
  station.Run([&](QWidget& w) {
    driven = true;
    EXPECT_GT(SeriesOf(w, "GfxChart")[0]->Count(), 0);
    for (const char* level : {"RBLvl15", "RBLvl1", "RBLvl15"}) w.findChild<QRadioButton*>(level)->setChecked(true);
    EXPECT_EQ(SeriesOf(w, "ChartRatio")[0]->Count(), 0);
  });
  EXPECT_TRUE(driven);
  EXPECT_EQ(prompts.Texts(), std::vector<std::string>{kNotComputed});
}

// Rows without the water-vapour layout (optical thickness and one combination only) and fields that
// hold no number: every value is read at its own column, a bad or missing field is a missing value.
TEST(AotRun, ReadsColumnsAsMorvaneWritesThem) {
  Station station;
  station.LoadSunDays("SITE0601.q5", kDay);
  Station::WriteCalibration(12);
  std::filesystem::create_directories(station.ResultFolder());
  // Eight optical thicknesses (M = 8: 940 nm is the vapour channel), then beta, alpha, SD, r2.
  std::vector<std::string> full, odd;
  for (int i = 1; i <= 8; ++i) full.push_back(E(0.1 * i));
  for (double v : {0.08, 1.3, 0.01, 0.99}) full.push_back(E(v));
  odd = {E(0.5), "NaN", "***************", "0.123456-100", E(0.7), E(0.6), E(0.6), E(0.6)};
  for (double v : {0.08, 1.3, 0.01, 0.99}) odd.push_back(E(v));
  const std::vector<std::string> cut = {E(0.5), E(0.5), E(0.5)};  // a line that ends early
  const std::string header = "Year Month Day Hour Min Sec Julian Mass Temp Cloud ";
  ScopedTestHome::Write(station.ResultFolder() / "SITE0601.tao",
                        header + "\r\n" + Record(full, 9) + "\r\n" + Record(odd, 10) + "\r\n\r\n" + Record(cut, 11) + "\r\n");
  ScopedTestHome::Write(station.ResultFolder() / "SITE0601.ta2", header + "\r\n " + Record(full, 9) + "\r\n");
  // Results of this very data file.
  ScopedTestHome::Write(station.ResultFolder() / (std::string("SITE0601") + kResultSourceExtension), AotDataIdentity(*station.file));

  ScopedPromptScript prompts;
  station.Run([&](QWidget& w) {
    EXPECT_TRUE(w.findChild<QLabel*>("Label2")->isVisible());
    EXPECT_FALSE(std::filesystem::exists(station.AotFolder() / "inputpar.dat"));  // nothing computed
    auto series = SeriesOf(w, "GfxChart");
    ASSERT_EQ(series.size(), 8u);
    ASSERT_EQ(series[0]->Count(), 2);
    EXPECT_DOUBLE_EQ(series[0]->YValue(0), 0.1);
    EXPECT_DOUBLE_EQ(series[0]->YValue(1), 0.5);
    EXPECT_DOUBLE_EQ(series[7]->YValue(0), 0.8);
    for (int k : {1, 2, 3}) EXPECT_EQ(series[static_cast<size_t>(k)]->Count(), 1) << k;
    EXPECT_EQ(series[4]->Count(), 2);
    EXPECT_EQ(series[5]->Count(), 2);
    EXPECT_EQ(w.findChild<QTableWidget*>("StringGrid1")->rowCount(), 4);
    for (int c = 1; c <= 8; ++c) EXPECT_EQ(Cell(w, 3, c), "") << c;  // nothing past the end of its line
    EXPECT_EQ(Cell(w, 2, 2), "");
    EXPECT_EQ(Cell(w, 2, 5), "0.7");
    EXPECT_EQ(Cell(w, 1, 3), "0.3");

    w.findChild<QRadioButton*>("RBLvl15")->setChecked(true);
    auto ratio = SeriesOf(w, "ChartRatio");
    ASSERT_EQ(ratio[0]->Count(), 1);
    EXPECT_DOUBLE_EQ(ratio[0]->YValue(0), 1.3);
    EXPECT_DOUBLE_EQ(SeriesOf(w, "GfxChart")[2]->YValue(0), 0.3);

    // These rows carry no water vapour.
    w.findChild<QRadioButton*>("RbLvlWv")->setChecked(true);
    EXPECT_EQ(SeriesOf(w, "GfxChart")[0]->Count(), 0);
  });
  EXPECT_TRUE(prompts.Texts().empty());
}

// A count of 0 at 500 nm, one of the fit's wavelengths, leaves a record with the placeholder for its
// optical thickness. An earlier Morvane fitted alpha through it (near -5); this one writes the
// placeholder for that alpha. Neither is an alpha: no point, an empty cell. The record measured at
// every wavelength keeps its own.
TEST(AotRun, NoAlphaWhereAWavelengthOfTheFitHasNoOpticalThickness) {
  Station station;
  station.LoadSunDays("SITE0601.q5", kDay);
  Station::WriteCalibration(12);
  std::filesystem::create_directories(station.ResultFolder());
  // Eight optical thicknesses of each pass (500 nm the fifth), beta, alpha, SD, r2 of each, the vapour.
  const std::string placeholder = E(1e-05);
  auto fields = [&](const std::string& tau500, const std::vector<std::string>& fit) {
    std::vector<std::string> f;
    for (int pass = 0; pass < 2; ++pass)
      for (int i = 1; i <= 8; ++i) f.push_back(i == 5 ? tau500 : E(0.1 * i));
    for (int pass = 0; pass < 2; ++pass) f.insert(f.end(), fit.begin(), fit.end());
    f.push_back(E(1.2));
    f.push_back(E(1.2));
    return f;
  };
  const std::vector<std::string> earlier = fields(placeholder, {"0.177314E+00", "-0.509422E+01", "0.453737E+01", "0.105723E+00"});
  const std::vector<std::string> now = fields(placeholder, {placeholder, placeholder, placeholder, placeholder});
  const std::vector<std::string> measured = fields(E(0.5), {E(0.08), E(1.3), E(0.01), E(0.99)});
  const std::string header = "Year Month Day Hour Min Sec Julian Mass Temp Cloud ";
  for (const char* extension : {".tao", ".ta2"}) {
    const std::string blank = std::string(extension) == ".ta2" ? " " : "";
    ScopedTestHome::Write(station.ResultFolder() / (std::string("SITE0601") + extension),
                          header + "\r\n" + blank + Record(earlier, 9) + "\r\n" + blank + Record(now, 10) + "\r\n" +
                              blank + Record(measured, 11) + "\r\n");
  }
  ScopedTestHome::Write(station.ResultFolder() / (std::string("SITE0601") + kResultSourceExtension), AotDataIdentity(*station.file));

  ScopedPromptScript prompts;
  bool driven = false;
  station.Run([&](QWidget& w) {
    driven = true;
    w.findChild<QRadioButton*>("RBLvl15")->setChecked(true);
    ASSERT_EQ(w.findChild<QTableWidget*>("StringGrid1")->rowCount(), 4);
    EXPECT_EQ(Cell(w, 0, 9), "Alpha");
    EXPECT_EQ(Cell(w, 1, 9), "");
    EXPECT_EQ(Cell(w, 2, 9), "");
    EXPECT_EQ(Cell(w, 3, 9), "1.3");
    const auto ratio = SeriesOf(w, "ChartRatio");
    ASSERT_EQ(ratio.size(), 1u);
    ASSERT_EQ(ratio[0]->Count(), 1);
    EXPECT_DOUBLE_EQ(ratio[0]->YValue(0), 1.3);
  });
  EXPECT_TRUE(driven);
  EXPECT_TRUE(prompts.Texts().empty()) << prompts.Texts().front();
}
