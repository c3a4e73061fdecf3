// Data-file benchmark: each figure against the baseline (zelt-bench-baseline) measured in the same run,
// runs alternating between the two, the median of each side kept; peak memory from getrusage.
//
//   zelt-databench [--mb N] [--file F] [--runs N]
//     --mb N     size of the q5gen file generated (default 50)
//     --file F   an existing data file instead
//     --runs N   runs of each side (default 3)
//
// Figures: "zelt -ASCII" of the file; the main window opening it ("zelt FILE" without a screen: start,
// open, show the list, end), its memory counted beyond that of the window alone; opening the file and
// decoding every value of every event (zelt-bench-decode).
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

struct Run {
    double seconds = 0;
    double peakMB = 0;
    bool ok = false;
};

// Runs a program to its end: wall time and its own peak resident memory.
Run Measure(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    Run run;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) return run;
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) < 0) return run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakMB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!run.ok) std::fprintf(stderr, "failed: %s\n", args[0].c_str());
    return run;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct Figure {
    std::string name;
    std::vector<double> seconds, baseline, peakMB;
    double memoryBase = 0;   // memory not counted (the window's own)
};

}  // namespace

int main(int argc, char** argv)
{
    double megabytes = 50;
    std::string given;
    int runs = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--mb") megabytes = std::atof(argv[i + 1]);
        else if (option == "--file") given = argv[i + 1];
        else if (option == "--runs") runs = std::max(1, std::atoi(argv[i + 1]));
        else {
            std::fprintf(stderr, "usage: zelt-databench [--mb N] [--file F] [--runs N]\n");
            return 2;
        }
    }
    const fs::path bin = ZELT_BENCH_BIN_DIR;
    char pattern[] = "/tmp/zelt-databench-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const fs::path work = pattern;
    // A fresh user: settings and logs of the runs stay in the temporary folder; windows without a screen.
    setenv("XDG_CONFIG_HOME", (work / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (work / "data").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    fs::path file = given;
    if (given.empty()) {
        file = work / "bench.q5";
        const long long size = static_cast<long long>(megabytes * 1e6);
        if (!Measure({(bin / "q5gen").string(), "--size", std::to_string(size), "--damaged",
                      std::to_string(size / 100000), "--erased", "4096", file.string()}).ok)
            return 1;
    }
    const double fileMB = static_cast<double>(fs::file_size(file)) / (1024.0 * 1024.0);
    std::printf("data file %s: %.1f MB, %d runs each side\n", file.c_str(), fileMB * 1.048576, runs);

    fs::create_directories(work / "ascii");
    const std::vector<std::string> baseline = {(bin / "zelt-bench-baseline").string(), file.string(),
                                               (work / "baseline.txt").string()};
    const std::string zelt = (bin / "zelt").string();
    std::vector<Figure> figures = {{"zelt -ASCII", {}, {}, {}}, {"window open", {}, {}, {}}, {"open + decode", {}, {}, {}}};
    const std::vector<std::vector<std::string>> commands = {
        {zelt, "-ASCII", file.string(), (work / "ascii").string()},
        {zelt, file.string()},
        {(bin / "zelt-bench-decode").string(), file.string()}};
    // The window alone (start, show, end) is Qt's own memory, not counted against the file.
    std::vector<double> alone;
    bool ok = true;
    for (int r = 0; r < runs; ++r) alone.push_back(Measure({zelt}).peakMB);
    figures[1].memoryBase = Median(alone);
    for (size_t f = 0; f < figures.size(); ++f)
        for (int r = 0; r < runs; ++r) {
            const Run base = Measure(baseline);
            const Run run = Measure(commands[f]);
            ok = ok && base.ok && run.ok;
            figures[f].baseline.push_back(base.seconds);
            figures[f].seconds.push_back(run.seconds);
            figures[f].peakMB.push_back(run.peakMB);
        }
    std::printf("%-14s %9s %9s %7s %10s %9s\n", "figure", "time s", "base s", "ratio", "peak MB", "x file");
    for (const Figure& f : figures) {
        const double t = Median(f.seconds), b = Median(f.baseline), peak = Median(f.peakMB);
        std::printf("%-14s %9.3f %9.3f %7.2f %10.1f %9.2f%s\n", f.name.c_str(), t, b, b > 0 ? t / b : 0, peak,
                    (peak - f.memoryBase) / fileMB, f.memoryBase > 0 ? " (beyond the window alone)" : "");
    }
    std::printf("window alone: %.1f MB\n", figures[1].memoryBase);
    std::error_code ec;
    fs::remove_all(work, ec);
    return ok ? 0 : 1;
}
