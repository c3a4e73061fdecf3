// ".q5x" benchmark: the viewer (merrow.so run by the station's plug-in host, zelt-q5x-window) against
// the reader alone (zelt-q5x-read) measured in the same run, runs alternating between the two, the
// median of each side kept; peak memory from getrusage of the children.
//
//   zelt-q5x-bench [--mb N] [--runs N] [--memory-only] [--check-reader-memory R] [--check-window-memory R]
//     --mb N                    size of the zelt-q5xgen series generated (default 50)
//     --runs N                  runs of each side (default 3)
//     --memory-only             the reader and the window opening only, for their memory
//     --check-reader-memory R   end with status 1 when the reader's memory beyond what it takes for a
//                               file of ten acquisitions exceeds R times the file
//     --check-window-memory R   the same for the window beyond its own (the memory ctest); times are
//                               never judged
//
// Figures: the window opening the file (open dialog answered, window drawn, closed) against the
// reader alone; its peak memory beyond that of the window on a file of ten acquisitions; each view
// change (through the window's controls, until drawn again); and the reader on one acquisition of
// 50,000 measures against the reader on a file of the same size made of ordinary acquisitions.
#include "tools/bench/ChildRun.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A child run with its standard output kept in `outputFile`.
TChildRun Measure(const std::vector<std::string>& args, const fs::path& outputFile)
{
    return RunChild(args, outputFile.string());
}

double MB(const fs::path& file) { return static_cast<double>(fs::file_size(file)) / (1024.0 * 1024.0); }

}  // namespace

int main(int argc, char** argv)
{
    double megabytes = 50;
    int runs = 3;
    double readerLimit = 0, windowLimit = 0;
    bool memoryOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const double value = i + 1 < argc ? std::atof(argv[i + 1]) : 0;
        if (option == "--memory-only") {
            memoryOnly = true;
            continue;
        }
        if (option == "--mb") megabytes = value;
        else if (option == "--runs") runs = std::max(1, static_cast<int>(value));
        else if (option == "--check-reader-memory") readerLimit = value;
        else if (option == "--check-window-memory") windowLimit = value;
        else {
            std::fprintf(stderr, "usage: zelt-q5x-bench [--mb N] [--runs N] [--memory-only] "
                                 "[--check-reader-memory R] [--check-window-memory R]\n");
            return 2;
        }
        ++i;
    }
    const fs::path bin = ZELT_BENCH_BIN_DIR;
    const fs::path work = FreshBenchUser("/tmp/zelt-q5x-bench-XXXXXX");
    if (work.empty()) return 1;
    const fs::path out = work / "out.txt";
    const std::string gen = (bin / "zelt-q5xgen").string();
    const fs::path file = work / "series.q5x", tiny = work / "tiny.q5x", wide = work / "wide.q5x",
                   narrow = work / "narrow.q5x";
    const long long size = static_cast<long long>(megabytes * 1e6);
    // 25,000 infrared counts with their mirror counts in one acquisition, and a file of the same size
    // of ordinary acquisitions.
    const int counts = std::max(1, static_cast<int>(std::min(25000.0, megabytes * 1e6 / 100)));
    bool ok = Measure({gen, "series", "--size", std::to_string(size), file.string()}, out).ok &&
              Measure({gen, "series", "--acquisitions", "10", tiny.string()}, out).ok &&
              Measure({gen, "series", "--acquisitions", "1", "--counts", std::to_string(counts), wide.string()}, out).ok;
    if (!ok) return 1;
    ok = Measure({gen, "series", "--size", std::to_string(fs::file_size(wide)), narrow.string()}, out).ok;
    const double fileMB = MB(file);
    const std::string reader = (bin / "zelt-q5x-read").string(), window = (bin / "zelt-q5x-window").string();
    std::string read = Measure({reader, file.string()}, out).output;
    while (!read.empty() && read.back() == '\n') read.pop_back();
    std::printf("series %.1f MB (%s), %d runs each side\n", fileMB * 1.048576, read.c_str(), runs);

    // The window on ten acquisitions is Qt's and the viewer's own memory, not counted against the file.
    std::vector<double> own, readerOwn;
    for (int r = 0; r < runs; ++r) {
        own.push_back(Measure({window, tiny.string()}, out).peakMB);
        readerOwn.push_back(Measure({reader, tiny.string()}, out).peakMB);
    }
    std::vector<double> readTime, readPeak, openTime, openPeak, openInside, wideTime, narrowTime;
    std::map<std::string, std::vector<double>> changes;
    std::vector<std::string> changeOrder;
    for (int r = 0; r < runs; ++r) {
        const TChildRun base = Measure({reader, file.string()}, out);
        const TChildRun open = Measure({window, file.string()}, out);
        TChildRun viewed, w, n;
        viewed.ok = w.ok = n.ok = true;
        if (!memoryOnly) {
            viewed = Measure({window, file.string(), "--changes"}, out);
            w = Measure({reader, wide.string()}, out);
            n = Measure({reader, narrow.string()}, out);
        }
        ok = ok && base.ok && open.ok && viewed.ok && w.ok && n.ok;
        readTime.push_back(base.seconds);
        readPeak.push_back(base.peakMB);
        openTime.push_back(open.seconds);
        openPeak.push_back(open.peakMB);
        wideTime.push_back(w.seconds);
        narrowTime.push_back(n.seconds);
        std::istringstream lines(open.output + viewed.output);
        std::string line;
        while (std::getline(lines, line)) {
            const size_t last = line.rfind(' ');
            if (line.rfind("open ", 0) == 0) openInside.push_back(std::atof(line.c_str() + 5));
            if (line.rfind("change ", 0) != 0 || last == std::string::npos) continue;
            const std::string name = line.substr(7, last - 7);
            if (!changes.count(name)) changeOrder.push_back(name);
            changes[name].push_back(std::atof(line.c_str() + last));
        }
    }
    const double ownMB = Median(own), beyond = (Median(openPeak) - ownMB) / fileMB;
    const double readerBeyond = (Median(readPeak) - Median(readerOwn)) / fileMB;
    std::printf("%-34s %9s %9s %7s %10s %9s\n", "figure", "time s", "base s", "ratio", "peak MB", "x file");
    std::printf("%-34s %9.3f %9s %7s %10.1f %9.2f (beyond ten acquisitions)\n", "reader alone", Median(readTime), "",
                "", Median(readPeak), readerBeyond);
    std::printf("%-34s %9.3f %9.3f %7.2f %10.1f %9.2f (beyond the window's own)\n", "window open", Median(openTime),
                Median(readTime), Median(openTime) / Median(readTime), Median(openPeak), beyond);
    std::printf("%-34s %9.3f %9s %7s\n", "  of which answer to drawn window", Median(openInside), "", "");
    if (!memoryOnly)
        std::printf("%-34s %9.3f %9.3f %7.2f\n", "reader, 50,000 measures in one acq.", Median(wideTime),
                    Median(narrowTime), Median(wideTime) / Median(narrowTime));
    double slowest = 0;
    for (const std::string& name : changeOrder) {
        const double t = Median(changes[name]);
        slowest = std::max(slowest, t);
        std::printf("  view change %-22s %9.3f\n", name.c_str(), t);
    }
    if (!memoryOnly) std::printf("slowest view change: %.3f s\n", slowest);
    std::printf("window's own memory: %.1f MB, the reader's on ten acquisitions: %.1f MB\n", ownMB, Median(readerOwn));
    std::error_code ec;
    fs::remove_all(work, ec);
    if (!ok) return 1;
    if (readerLimit > 0 && readerBeyond > readerLimit) {
        std::printf("FAILED: the reader holds %.2f times the file (limit %.2f)\n", readerBeyond, readerLimit);
        ok = false;
    }
    if (windowLimit > 0 && beyond > windowLimit) {
        std::printf("FAILED: the window holds %.2f times the file beyond its own (limit %.2f)\n", beyond, windowLimit);
        ok = false;
    }
    return ok ? 0 : 1;
}
