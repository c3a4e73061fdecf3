// Data-file benchmark: each figure against the baseline (zelt-bench-baseline) measured in the same run,
// runs alternating between the two, the median of each side kept; peak memory from getrusage.
//
//   zelt-databench [--mb N] [--file F] [--runs N] [--check-memory]
//     --mb N           size of the q5gen file generated (default 50)
//     --file F         an existing data file instead
//     --runs N         runs of each side (default 3)
//     --check-memory   fail (status 1) when a figure's memory passes its target; times are never judged
//
// Figures: "zelt -ASCII" of the file; the main window opening it ("zelt FILE" without a screen: start,
// open, show the list, end), its memory counted beyond that of the window alone; opening the file and
// decoding every value of every event (zelt-bench-decode).
//
// Memory growth: each figure's peak beyond the same command on a data file of one record (the program's
// own memory: libraries, description lists), over the file size. It is what the targets hold on any file
// size, so that a small file in a quick check shows a regression as a large one would.
#include "tools/bench/ChildRun.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Figure {
    std::string name;
    std::vector<double> seconds, baseline, peakMB;
    double memoryBase = 0;     // memory not counted in "x file" (the window's own)
    double ownMB = 0;          // the same command on a data file of one record
    double growthTarget = 0;   // the most memory growth allowed, x file
};

}  // namespace

int main(int argc, char** argv)
{
    double megabytes = 50;
    std::string given;
    int runs = 3;
    bool checkMemory = false;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--check-memory") {
            checkMemory = true;
            continue;
        }
        if (i + 1 < argc && option == "--mb") megabytes = std::atof(argv[++i]);
        else if (i + 1 < argc && option == "--file") given = argv[++i];
        else if (i + 1 < argc && option == "--runs") runs = std::max(1, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr, "usage: zelt-databench [--mb N] [--file F] [--runs N] [--check-memory]\n");
            return 2;
        }
    }
    const fs::path bin = ZELT_BENCH_BIN_DIR;
    const fs::path work = FreshBenchUser("/tmp/zelt-databench-XXXXXX");
    if (work.empty()) return 1;
    fs::path file = given;
    if (given.empty()) {
        file = work / "bench.q5";
        const long long size = static_cast<long long>(megabytes * 1e6);
        if (!RunChild({(bin / "q5gen").string(), "--size", std::to_string(size), "--damaged",
                      std::to_string(size / 100000), "--erased", "4096", file.string()}).ok)
            return 1;
    }
    const fs::path single = work / "single.q5";
    if (!RunChild({(bin / "q5gen").string(), "--records", "1", single.string()}).ok) return 1;
    const double fileMB = static_cast<double>(fs::file_size(file)) / (1024.0 * 1024.0);
    std::printf("data file %s: %.1f MB, %d runs each side\n", file.c_str(), fileMB * 1.048576, runs);

    fs::create_directories(work / "ascii");
    const std::vector<std::string> baseline = {(bin / "zelt-bench-baseline").string(), file.string(),
                                               (work / "baseline.txt").string()};
    const std::string zelt = (bin / "zelt").string();
    std::vector<Figure> figures(3);
    figures[0].name = "zelt -ASCII";
    figures[0].growthTarget = 2;
    figures[1].name = "window open";
    figures[1].growthTarget = 3;
    figures[2].name = "open + decode";
    figures[2].growthTarget = 3;
    auto commandsOn = [&](const fs::path& data) {
        return std::vector<std::vector<std::string>>{{zelt, "-ASCII", data.string(), (work / "ascii").string()},
                                                     {zelt, data.string()},
                                                     {(bin / "zelt-bench-decode").string(), data.string()}};
    };
    const auto commands = commandsOn(file);
    // The window alone (start, show, end) is Qt's own memory, not counted against the file.
    std::vector<double> alone;
    bool ok = true;
    for (int r = 0; r < runs; ++r) alone.push_back(RunChild({zelt}).peakMB);
    figures[1].memoryBase = Median(alone);
    const auto ownCommands = commandsOn(single);
    for (size_t f = 0; f < figures.size(); ++f) {
        std::vector<double> own;
        for (int r = 0; r < runs; ++r) {
            const TChildRun run = RunChild(ownCommands[f]);
            ok = ok && run.ok;
            own.push_back(run.peakMB);
        }
        figures[f].ownMB = Median(own);
    }
    for (size_t f = 0; f < figures.size(); ++f)
        for (int r = 0; r < runs; ++r) {
            const TChildRun base = RunChild(baseline);
            const TChildRun run = RunChild(commands[f]);
            ok = ok && base.ok && run.ok;
            figures[f].baseline.push_back(base.seconds);
            figures[f].seconds.push_back(run.seconds);
            figures[f].peakMB.push_back(run.peakMB);
        }
    std::printf("%-14s %9s %9s %7s %10s %9s %9s\n", "figure", "time s", "base s", "ratio", "peak MB", "x file",
                "growth");
    bool memoryHeld = true;
    for (const Figure& f : figures) {
        const double t = Median(f.seconds), b = Median(f.baseline), peak = Median(f.peakMB);
        const double growth = (peak - f.ownMB) / fileMB;
        const bool held = growth <= f.growthTarget;
        memoryHeld = memoryHeld && held;
        std::printf("%-14s %9.3f %9.3f %7.2f %10.1f %9.2f %9.2f%s%s\n", f.name.c_str(), t, b, b > 0 ? t / b : 0,
                    peak, (peak - f.memoryBase) / fileMB, growth,
                    checkMemory ? (held ? " (held)" : " (OVER TARGET)") : "",
                    f.memoryBase > 0 ? " (x file beyond the window alone)" : "");
    }
    std::printf("window alone: %.1f MB; one-record file: %.1f, %.1f, %.1f MB\n", figures[1].memoryBase,
                figures[0].ownMB, figures[1].ownMB, figures[2].ownMB);
    if (checkMemory)
        std::printf("memory growth targets (x file): %.0f, %.0f, %.0f: %s\n", figures[0].growthTarget,
                    figures[1].growthTarget, figures[2].growthTarget, memoryHeld ? "held" : "NOT HELD");
    std::error_code ec;
    fs::remove_all(work, ec);
    return ok && (memoryHeld || !checkMemory) ? 0 : 1;
}
