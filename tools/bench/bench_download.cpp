// Benchmark: the station downloads N records (default 5000) from the simulator over an unthrottled
// pseudo-terminal and reports its own processor time per record, next to the wall time.
#include <QCoreApplication>
#include <QElapsedTimer>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/Q5File.h"
#include "station/StationCore.h"
#include "station/link/Transmission.h"
#include "tools/simulator/SimProcess.h"

namespace {
double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}
}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int records = argc > 1 ? std::atoi(argv[1]) : 5000;
    char tmpl[] = "/tmp/zelt-bench-XXXXXX";
    const std::filesystem::path dir = mkdtemp(tmpl);
    zsim::SimProcess sim;
    if (!sim.Start(zsim::SimProcess::DefaultProgram(),
                   {"--pty", "--link", (dir / "tty").string(), "--records", std::to_string(records)},
                   (dir / "report.txt").string())) {
        std::fprintf(stderr, "cannot start the simulator\n");
        return 1;
    }
    TStationCore core;
    core.LogFolder = dir.string();
    core.Settings.PortNum = (dir / "tty").string();
    core.Settings.AutoRecord = true;
    core.Settings.AutoRecordPath = dir.string() + "/";
    core.ConfigureMedia();
    core.StartTimers();
    QElapsedTimer wall;
    const double cpu0 = CpuSeconds();
    wall.start();
    core.ConnectButton(true);
    while (core.Transmissions().Count() == 0 && wall.elapsed() < 600000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const double seconds = wall.elapsed() / 1000.0;
    const double cpu = CpuSeconds() - cpu0;
    const int got = core.Q5File ? core.Q5File->NbEvt() : 0;
    core.ConnectButton(false);
    sim.Stop();
    std::filesystem::remove_all(dir);
    if (got != records) {
        std::fprintf(stderr, "downloaded %d of %d records\n", got, records);
        return 1;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%d records in %.2f s: station time %.3f ms per record, wall %.3f ms per record (ratio %.2f), "
                "peak memory %.1f MB\n",
                got, seconds, cpu * 1000 / got, seconds * 1000 / got, cpu / seconds, usage.ru_maxrss / 1024.0);
    return 0;
}
