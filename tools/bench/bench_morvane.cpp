// Morvane on a year of two-minute triplets (the station's instrument, nine wavelengths, water vapour, cloud
// screening), as the program runs in batch, against its baseline: reading the same data file and converting
// every number on it with strtod. Both run as child processes, alternately; each figure is the median of the
// runs, with its ratio to the baseline's median and its peak memory.
//
//   morvane-bench                   a year (365 days, 262,800 lines), 3 runs of each
//   morvane-bench --days 2 --runs 1 a small file (CI: runs everything, judges nothing)
//   morvane-bench --keep 1          keeps the work folder (data, parameter and result files) for profiling
//
// Exit status 0 unless a run fails or writes no result.

#include "morvane/core/Physics.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace morvane;

namespace {

constexpr double kLat = 37.18, kLon = -3.6;

struct Measure {
  double seconds = 0;
  double peakMB = 0;
  int status = -1;
};

// Runs a program in dir with its output going to out/err files there; wall time and peak memory.
Measure Run(const fs::path &dir, const std::vector<std::string> &args) {
  Measure m;
  timespec t0{}, t1{};
  clock_gettime(CLOCK_MONOTONIC, &t0);
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0)
      _exit(127);
    const int out = open("child.out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open("child.err", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char *> argv;
    for (const auto &a : args)
      argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) < 0)
    return m;
  clock_gettime(CLOCK_MONOTONIC, &t1);
  m.seconds = static_cast<double>(t1.tv_sec - t0.tv_sec) + static_cast<double>(t1.tv_nsec - t0.tv_nsec) * 1e-9;
  m.peakMB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  m.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return m;
}

// The counts a clear sky gives: aerosol (beta, alpha), Rayleigh and some water at 940 nm, with the
// first channel's temperature response; dark counts at night.
std::string DataFile(int days, long &lines) {
  const std::vector<double> lambda = {1020, 870, 675, 440, 500, 940, 380, 340, 1640};
  const double v0 = 20000;
  std::string out;
  out.reserve(static_cast<size_t>(days) * 720 * 150);
  unsigned long state = 12345;
  auto noise = [&] { // repeatable, within +-0.5
    state = state * 6364136223846793005ul + 1442695040888963407ul;
    return static_cast<double>(state >> 11) / 9007199254740992.0 - 0.5;
  };
  char buf[64];
  lines = 0;
  const DayCount first = DayNumber(2021, 1, 1, 0, 0, 0);
  for (int d = 0; d < days; ++d) {
    // Calendar date of day d of 2021.
    int month = 1, day = 1 + d;
    static const int kLength[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    while (day > kLength[month - 1]) {
      day -= kLength[month - 1];
      ++month;
    }
    const double beta = 0.05 + 0.04 * (1 + std::sin(d * 0.3));
    for (int minute = 0; minute < 24 * 60; minute += 2) {
      const int hour = minute / 60, min = minute % 60, sec = (minute * 7) % 60;
      const DayCount dc = DayNumber(2021, month, day, hour, min, sec);
      const SunPosition sun = SunPsa(dc.hours, kLat, kLon, dc.n - 0.5);
      const double temperature = 22 + 8 * std::sin((dc.n - first.n) * 6.28) + noise();
      std::snprintf(buf, sizeof buf, "%d %d %d %d %d %d", day, month, 2021, hour, min, sec);
      out += buf;
      const double mass = sun.elevation > 0 ? ComputeAirMasses(sun.elevation).rayleigh : 0;
      const bool cloudy = (minute / 30 + d) % 17 == 0;
      for (int j = 0; j < 3; ++j)
        for (size_t w = 0; w < lambda.size(); ++w) {
          double count = 3 + std::fabs(noise()) * 4; // dark
          if (mass > 0) {
            double tau = beta * std::pow(lambda[w] / 1000, -1.3) + 0.008553 * std::pow(lambda[w] / 1000, -4.07) * 0.92;
            if (lambda[w] == 940)
              tau += 0.25;
            if (cloudy)
              tau += 0.2 + 0.1 * j;
            count = v0 * std::exp(-tau * mass) / (sun.distance * sun.distance) * (1 + 0.002 * noise());
            if (w == 0)
              count /= 1 - (temperature - 25) * 0.0025;
          }
          std::snprintf(buf, sizeof buf, " %.0f", count);
          out += buf;
        }
      std::snprintf(buf, sizeof buf, " %.2f\n", temperature);
      out += buf;
      ++lines;
    }
  }
  return out;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

long CountLines(const fs::path &file) {
  std::ifstream in(file, std::ios::binary);
  return std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n');
}

} // namespace

int main(int argc, char **argv) {
  int days = 365, runs = 3;
  bool keep = false;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--days") == 0)
      days = std::max(1, std::min(365, std::atoi(argv[i + 1])));
    else if (std::strcmp(argv[i], "--runs") == 0)
      runs = std::max(1, std::atoi(argv[i + 1]));
    else if (std::strcmp(argv[i], "--keep") == 0)
      keep = std::atoi(argv[i + 1]) != 0;
  }
  const fs::path bin = MORVANE_BENCH_BIN_DIR;
  const std::string morvane = (bin / "morvane").string(), baseline = (bin / "morvane-baseline").string();

  char pattern[] = "/tmp/morvane-bench-XXXXXX";
  if (!mkdtemp(pattern))
    return 1;
  const fs::path work = pattern;
  long lines = 0;
  {
    std::ofstream(work / "year.nsu", std::ios::binary) << DataFile(days, lines);
    std::ofstream(work / "cal.cal", std::ios::binary) << "2020 1 1 20000 20000 20000 20000 20000 20000 20000 20000 20000 \n"
                                                         "2022 1 1 20400 20300 20200 20100 20000 20000 19900 19800 20500 \n";
    std::ofstream(work / "inputpar.dat", std::ios::binary) << "1\ncal.cal\nyear.tao\n1\n37.18\n-3.6\n680\n-2\n300\n2\n"
                                                              "4\n2 3 4 5\n6\n1 2 3 4 5 7\n-1\nyear.nsu\n";
  }
  const double fileMB = static_cast<double>(fs::file_size(work / "year.nsu")) / 1e6;
  std::printf("data file: %d days of two-minute triplets, %ld lines, %.1f MB\n", days, lines, fileMB);

  std::vector<double> base, prog;
  Measure lastBase, lastProg;
  bool ok = true;
  for (int r = 0; r < runs && ok; ++r) {
    lastBase = Run(work, {baseline, "year.nsu"});
    lastProg = Run(work, {morvane, "inputpar.dat", "/G0"});
    ok = lastBase.status == 0 && lastProg.status == 0;
    base.push_back(lastBase.seconds);
    prog.push_back(lastProg.seconds);
    std::printf("run %d: baseline %.3f s, morvane %.3f s\n", r + 1, lastBase.seconds, lastProg.seconds);
  }
  const long rows = ok ? CountLines(work / "year.tao") - 1 : 0;
  if (!ok || rows <= 0) {
    std::fprintf(stderr, "morvane-bench: a run failed (baseline %d, morvane %d); work folder %s kept\n",
                 lastBase.status, lastProg.status, work.c_str());
    return 1;
  }
  const double b = Median(base), p = Median(prog);
  std::printf("%-44s %9s %9s %7s %s\n", "figure (median)", "time", "baseline", "ratio", "peak memory");
  std::printf("%-44s %7.3f s %7.3f s %6.2fx %.1f MB (%.2fx the file)\n", "morvane: year of triplets, screened",
              p, b, p / b, lastProg.peakMB, lastProg.peakMB / fileMB);
  std::printf("%-44s %7.3f s %9s %7s %.1f MB (%.2fx the file)\n", "baseline: read, strtod every number", b, "", "",
              lastBase.peakMB, lastBase.peakMB / fileMB);
  std::printf("rows written: %ld of %ld lines (the others are night)\n", rows, lines);
  if (keep)
    std::printf("work folder kept: %s\n", work.c_str());
  else
    fs::remove_all(work);
  return 0;
}
