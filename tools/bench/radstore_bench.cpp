// Calibration-store benchmark of the radiometer plug-in: the plug-in run through the station's plug-in
// host (offscreen) over a download of the radiometer model, with a generated "radiometre.ini" of N keys.
// Each run is a child process of this program (its peak memory from getrusage); sides alternate, the
// median of each is kept.
//
//   zelt-radstore-bench [--keys N,N,...] [--records N] [--runs N] [--max-memory X] [--max-download-mb M]
//     --keys        store sizes in keys (default 20000,200000): 5 keys a date (3 filters, TEMP, USETEMP)
//     --records     records of the download shown alone, one every 2 minutes (default 262800: a year;
//                   0: none)
//     --runs        runs of each side (default 3)
//     --max-memory  fail (exit status 1) when the largest store's peak memory beyond the window alone
//                   exceeds X times the store's size
//     --max-download-mb  fail when the window over the long download peaks above M megabytes
//
// Figures per store: the window shown (plug-in started, data and store loaded, window on screen) and the
// calibration editor shown (menu "Calibration" to the editor on screen, every date listed), each beside
// the baseline measured in the same run: reading the store whole and splitting it into names and values.
// The window alone (no store) gives the memory and time not counted against the store. The ratio of the
// largest store's times to the smallest's, against the ratio of their sizes, shows whether time grows
// with the number of keys only. Last, the window over a long download of the model (a year by default),
// calibrated, from start to closed.
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "common/analysis/tests/support/PlugInTestHost.h"
#include "tools/bench/ChildRun.h"

namespace fs = std::filesystem;

namespace {

// ------------------------------------------------------------------ child: one run of the plug-in

// Calls `action` (queued) once a widget named `name` is shown, and keeps the time it took.
class ShowWatch : public QObject {
public:
    ShowWatch(QString name, std::function<void()> action) : FName(std::move(name)), FAction(std::move(action))
    {
        qApp->installEventFilter(this);
    }
    void Start() { FClock.start(); }
    double Seconds() const { return FSeconds; }
    bool Seen() const { return FSeen; }

protected:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (!FSeen && event->type() == QEvent::Show && object->isWidgetType() && object->objectName() == FName) {
            FSeen = true;
            FSeconds = static_cast<double>(FClock.nsecsElapsed()) / 1e9;
            QTimer::singleShot(0, FAction);
        }
        return false;
    }

private:
    QString FName;
    std::function<void()> FAction;
    QElapsedTimer FClock;
    double FSeconds = 0;
    bool FSeen = false;
};

// Runs the plug-in over `dataFile` with `store` as the user's calibration store (none when empty); prints
// "window S" and "editor S".
int RunPlugIn(const std::string& dataFile, const std::string& store)
{
    plugin_test::PlugInStation station("zelt-radstore-bench", ZELT_RADIOMETRE_PLUGIN, "radiometre", "RadiometreFrm");
    if (!store.empty()) {
        const fs::path folder = station.home.Root() / "data" / "zelt";
        fs::create_directories(folder);
        fs::copy_file(store, folder / "radiometre.ini");
    }
    station.path = dataFile;
    station.LoadFile();
    QWidget* window = nullptr;
    ShowWatch* editorWatch = nullptr;
    ShowWatch editorShown("fCalibration", [] {
        if (QWidget* editor = QApplication::activeModalWidget()) editor->close();
    });
    editorWatch = &editorShown;
    ShowWatch windowShown("RadiometreFrm", [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == "RadiometreFrm") window = w;
        if (!window) return;
        editorWatch->Start();
        if (auto* calibration = window->findChild<QAction*>("Calibration1")) calibration->trigger();
        window->close();
    });
    windowShown.Start();
    station.plugIns->RunByName("radiometre");
    if (!windowShown.Seen() || !editorShown.Seen()) {
        std::fprintf(stderr, "the %s never showed\n", windowShown.Seen() ? "editor" : "window");
        return 1;
    }
    std::printf("window %.6f\neditor %.6f\n", windowShown.Seconds(), editorShown.Seconds());
    return 0;
}

// The least any reader of the store does: the file read whole, each line split into name and value.
int Baseline(const std::string& store)
{
    QElapsedTimer clock;
    clock.start();
    std::ifstream in(store, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::pair<std::string, std::string>> pairs;
    size_t from = 0;
    while (from < bytes.size()) {
        size_t end = bytes.find('\n', from);
        if (end == std::string::npos) end = bytes.size();
        const std::string line = bytes.substr(from, end - from);
        if (const size_t eq = line.find('='); eq != std::string::npos) pairs.emplace_back(line.substr(0, eq), line.substr(eq + 1));
        from = end + 1;
    }
    std::printf("baseline %.6f\nkeys %zu\n", static_cast<double>(clock.nsecsElapsed()) / 1e9, pairs.size());
    return pairs.empty() ? 1 : 0;
}

// ------------------------------------------------------------------ parent: the figures

// A figure the child printed as "name value".
double Value(const TChildRun& run, const std::string& name)
{
    std::istringstream lines(run.output);
    std::string key;
    double value = 0;
    while (lines >> key >> value)
        if (key == name) return value;
    return 0;
}

// A store of `keys` keys in the section of site 0/0/12: one date every 5 keys, filters 1 to 3.
void WriteStore(const fs::path& path, int keys)
{
    std::ofstream out(path, std::ios::binary);
    out << "; calibrations\r\n[0/0/12]\r\n";
    for (int k = 0, day = 20000; k < keys; ++day) {
        for (int filter = 1; filter <= 3 && k < keys; ++filter, ++k)
            out << day << '-' << filter << "=810.57" << filter << ";1332.22;1;1;2500;0\r\n";
        if (k++ < keys) out << day << "-TEMP=21.5\r\n";
        if (k++ < keys) out << day << "-USETEMP=0\r\n";
    }
}

struct Figure {
    int keys = 0;
    double storeMB = 0;
    std::vector<double> window, editor, baseline, peakMB;
};

int Parent(const char* self, std::vector<int> sizes, long records, int runs, double maxMemory, double maxDownloadMB)
{
    const fs::path bin = fs::path(self).parent_path();  // self: this program's absolute path
    char pattern[] = "/tmp/zelt-radstore-bench-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const fs::path work = pattern;
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const fs::path data = work / "IR250621.q5";
    const std::string q5gen = "'" + (bin / "q5gen").string() +
                              "' --id SP0B0001 --records 36 --interval 300 --start 2025-06-21T04:00:00 --param SITE=12 '" +
                              data.string() + "' >/dev/null";
    if (std::system(q5gen.c_str()) != 0) return 1;
    std::vector<Figure> figures;
    for (int keys : sizes) {
        Figure f;
        f.keys = keys;
        WriteStore(work / ("store" + std::to_string(keys) + ".ini"), keys);
        f.storeMB = static_cast<double>(fs::file_size(work / ("store" + std::to_string(keys) + ".ini"))) / 1e6;
        figures.push_back(f);
    }
    std::vector<double> aloneWindow, aloneEditor, aloneMB;
    bool ok = true;
    const fs::path out = work / "out.txt";
    for (int r = 0; r < runs; ++r) {
        const TChildRun alone = RunChild({self, "--child", data.string()}, out.string());
        ok = ok && alone.ok;
        aloneWindow.push_back(Value(alone, "window"));
        aloneEditor.push_back(Value(alone, "editor"));
        aloneMB.push_back(alone.peakMB);
        for (Figure& f : figures) {
            const std::string store = (work / ("store" + std::to_string(f.keys) + ".ini")).string();
            const TChildRun base = RunChild({self, "--baseline", store}, out.string());
            const TChildRun run = RunChild({self, "--child", data.string(), store}, out.string());
            ok = ok && base.ok && run.ok;
            f.baseline.push_back(Value(base, "baseline"));
            f.window.push_back(Value(run, "window"));
            f.editor.push_back(Value(run, "editor"));
            f.peakMB.push_back(run.peakMB);
        }
    }
    const double alonePeak = Median(aloneMB);
    std::printf("radiometer window over a download of the radiometer model, %d runs each side\n", runs);
    std::printf("window alone (no store): shown %.3f s, editor %.3f s, peak %.1f MB\n", Median(aloneWindow),
                Median(aloneEditor), alonePeak);
    std::printf("%8s %8s %9s %9s %10s %9s %9s %9s\n", "keys", "store MB", "window s", "editor s", "baseline s",
                "peak MB", "beyond MB", "x store");
    for (const Figure& f : figures) {
        const double peak = Median(f.peakMB);
        std::printf("%8d %8.2f %9.3f %9.3f %10.4f %9.1f %9.1f %9.2f\n", f.keys, f.storeMB, Median(f.window),
                    Median(f.editor), Median(f.baseline), peak, peak - alonePeak, (peak - alonePeak) / f.storeMB);
    }
    int status = ok ? 0 : 1;
    if (figures.size() >= 2) {
        const Figure &small = figures.front(), &large = figures.back();
        // Time the store costs: beyond the window (or editor) alone.
        auto grown = [](double t, double alone) { return std::max(t - alone, 1e-6); };
        std::printf("growth from %d to %d keys (x%.1f): window %.1f, editor %.1f, baseline %.1f\n", small.keys, large.keys,
                    static_cast<double>(large.keys) / small.keys,
                    grown(Median(large.window), Median(aloneWindow)) / grown(Median(small.window), Median(aloneWindow)),
                    grown(Median(large.editor), Median(aloneEditor)) / grown(Median(small.editor), Median(aloneEditor)),
                    Median(large.baseline) / std::max(Median(small.baseline), 1e-6));
    }
    if (maxMemory > 0 && !figures.empty()) {
        const Figure& large = figures.back();
        const double ratio = (Median(large.peakMB) - alonePeak) / large.storeMB;
        std::printf("peak memory beyond the window alone: %.2f x the store (at most %.2f)\n", ratio, maxMemory);
        if (ratio > maxMemory) status = 1;
    }
    if (records > 0) {
        const fs::path longData = work / "long.q5";
        const std::string command = "'" + (bin / "q5gen").string() + "' --id SP0B0001 --records " + std::to_string(records) +
                                    " --interval 120 --start 2025-01-01T00:00:00 --param SITE=12 '" + longData.string() +
                                    "' >/dev/null";
        const fs::path store = work / "one.ini";
        std::ofstream(store, std::ios::binary) << "[0/0/12]\r\n45658-1=810.57;1332.22;1;1;2500;0\r\n45658-TEMP=21.5\r\n";
        if (std::system(command.c_str()) != 0) return 1;
        const TChildRun run = RunChild({self, "--child", longData.string(), store.string()}, out.string());
        const double total = run.seconds;
        if (!run.ok) status = 1;
        std::printf("download of %ld records (%.1f MB): window shown %.2f s, start to closed %.2f s, peak %.1f MB\n",
                    records, static_cast<double>(fs::file_size(longData)) / 1e6, Value(run, "window"), total, run.peakMB);
        if (maxDownloadMB > 0) {
            std::printf("peak memory over the download: %.1f MB (at most %.1f)\n", run.peakMB, maxDownloadMB);
            if (run.peakMB > maxDownloadMB) status = 1;
        }
    }
    std::error_code ec;
    fs::remove_all(work, ec);
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::string(argv[1]) == "--child") return RunPlugIn(argv[2], argc >= 4 ? argv[3] : "");
    if (argc == 3 && std::string(argv[1]) == "--baseline") return Baseline(argv[2]);
    std::vector<int> sizes = {20000, 200000};
    int runs = 3;
    long records = 262800;
    double maxMemory = 0, maxDownloadMB = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--keys") {
            sizes.clear();
            std::stringstream list(argv[i + 1]);
            for (std::string n; std::getline(list, n, ',');) sizes.push_back(std::max(1, std::atoi(n.c_str())));
        } else if (option == "--records") {
            records = std::max(0L, std::atol(argv[i + 1]));
        } else if (option == "--runs") {
            runs = std::max(1, std::atoi(argv[i + 1]));
        } else if (option == "--max-memory") {
            maxMemory = std::atof(argv[i + 1]);
        } else if (option == "--max-download-mb") {
            maxDownloadMB = std::atof(argv[i + 1]);
        } else {
            std::fprintf(stderr, "usage: zelt-radstore-bench [--keys N,N,...] [--records N] [--runs N] [--max-memory X] "
                         "[--max-download-mb M]\n");
            return 2;
        }
    }
    std::sort(sizes.begin(), sizes.end());
    std::error_code ec;
    const std::string self = fs::read_symlink("/proc/self/exe", ec).string();
    return Parent(self.c_str(), sizes, records, runs, maxMemory, maxDownloadMB);
}
