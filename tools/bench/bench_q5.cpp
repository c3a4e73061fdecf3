// Data-file throughput: a generated data file of ZELT_BENCH_MB megabytes (default 50) is opened
// (read, parse, decode), rebuilt and saved, and exported to ASCII files. Each benchmark reports MB/s
// of data file and its peak resident memory, also as a multiple of the file size.
//
//   bin/zelt-bench                       the three benchmarks on a 50 MB file
//   ZELT_BENCH_MB=5 bin/zelt-bench       a smaller file
//   ZELT_BENCH_FILE=x.q5 bin/zelt-bench  an existing data file
#include "common/DataPaths.h"
#include "common/FileUtils.h"
#include "common/Q5File.h"
#include "common/Zelt.h"

#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

fs::path gWork;       // temporary folder of the run
fs::path gDataFile;   // the data file measured
double gFileMB = 0;

// Peak resident memory since the last reset, in bytes (VmHWM).
double PeakRss()
{
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) * 1024.0;
  return 0;
}

// Starts a new peak measurement (writing 5 to clear_refs resets VmHWM).
void ResetPeakRss()
{
  std::ofstream("/proc/self/clear_refs") << "5";
}

void ReportMemory(benchmark::State& state)
{
  const double peak = PeakRss();
  state.counters["peak_MB"] = peak / 1e6;
  state.counters["peak_x_file"] = gFileMB > 0 ? peak / (gFileMB * 1e6) : 0;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(gFileMB * 1e6));
}

int Run(const std::vector<std::string>& args)
{
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Generates the data file with q5gen in a child process, so that the generator's memory is not
// counted: records of every measurement type of the data folder's instrument, a few damaged ones
// and an erased tail, as a download would leave them.
bool Generate(const fs::path& file, double megabytes)
{
  const fs::path q5gen = fs::path(ZELT_BENCH_BIN_DIR) / "q5gen";
  if (!FileExists(q5gen)) {
    std::fprintf(stderr, "q5gen not found in %s\n", ZELT_BENCH_BIN_DIR);
    return false;
  }
  const long long size = static_cast<long long>(megabytes * 1e6);
  return Run({q5gen.string(), "--data", InstalledDataDir().string(), "--size", std::to_string(size),
              "--damaged", std::to_string(size / 100000), "--erased", "4096", file.string()}) == 0;
}

void BM_Open(benchmark::State& state)
{
  ResetPeakRss();
  for (auto _ : state) {
    TQ5File file(gDataFile.string());
    benchmark::DoNotOptimize(file.Events.Count());
  }
  ReportMemory(state);
}

void BM_RebuildSave(benchmark::State& state)
{
  TQ5File file(gDataFile.string());
  ResetPeakRss();
  const std::string out = (gWork / "rebuilt.q5").string();
  for (auto _ : state) {
    if (!file.Rebuild() || !file.SaveToFile(out)) state.SkipWithError("rebuild or save failed");
  }
  ReportMemory(state);
}

void BM_ExportAscii(benchmark::State& state)
{
  TQ5File file(gDataFile.string());
  ResetPeakRss();
  const std::string base = (gWork / "export").string();
  for (auto _ : state) {
    if (!file.ExportAsciiFiles(base, true)) state.SkipWithError("export failed");
  }
  ReportMemory(state);
}

BENCHMARK(BM_Open)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RebuildSave)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ExportAscii)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
  benchmark::Initialize(&argc, argv);
  char pattern[] = "/tmp/zelt-bench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  gWork = pattern;
  // Settings of the run stay in the temporary folder.
  setenv("XDG_CONFIG_HOME", (gWork / "config").c_str(), 1);
  setenv("XDG_DATA_HOME", (gWork / "data").c_str(), 1);

  const char* given = std::getenv("ZELT_BENCH_FILE");
  const char* mb = std::getenv("ZELT_BENCH_MB");
  if (given && *given) {
    gDataFile = given;
  } else {
    gDataFile = gWork / "bench.q5";
    if (!Generate(gDataFile, mb && *mb ? std::atof(mb) : 50.0)) return 1;
  }
  gFileMB = static_cast<double>(FileSize(gDataFile)) / 1e6;
  std::fprintf(stderr, "data file %s: %.1f MB\n", gDataFile.string().c_str(), gFileMB);

  // The description lists of the data folder decode the records.
  TZELT::LoadDescriptionLists(InstalledDataDir().string());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  fs::remove_all(gWork, ec);
  return 0;
}
