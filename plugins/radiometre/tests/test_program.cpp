// The station program as a user runs it, with no screen and a fresh account: a download of the
// radiometer model from the instrument simulator, recorded automatically, then the station started
// on that recorded file with "-RUN=radiometre": the plug-in is found in the program's plug-ins folder
// and shows its window over the data in memory.
#include <gtest/gtest.h>

#include <QProcess>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/tests/StationProcess.h"
#include "station/tests/ZeltProcess.h"
#include "tools/simulator/SimProcess.h"
#include "common/tests/support/TestWait.h"

namespace fs = std::filesystem;

namespace {

std::string BinDir()
{
    const char* value = std::getenv("ZELT_BIN_DIR");
    return value ? value : ".";
}

}  // namespace

TEST(StationProgram, RunsTheRadiometerOnADownloadOfTheRadiometerModel)
{
    ScopedTestHome home;
    const fs::path memory = home.Root() / "memory.q5";
    const std::string q5gen = "'" + BinDir() + "/q5gen' --id SP0B0001 --records 12 '" + memory.string() + "'";
    ASSERT_EQ(std::system(q5gen.c_str()), 0);

    // The instrument's memory downloaded and recorded where the user asked for recordings.
    const fs::path rec = home.Root() / "rec";
    fs::create_directories(rec);
    ScopedTestHome::Write(home.Root() / "zelt.ini", "[General]\r\nAutoRecord=1\r\nAutoRecordPath=" + rec.string() +
                                                        "/\r\nSmartSetTime=0\r\nHardSetTime=0\r\n");
    zsim::SimProcess sim;
    ASSERT_TRUE(sim.Start(zsim::SimProcess::DefaultProgram(),
                          {"--pty", "--link", (home.Root() / "tty").string(), "--q5", memory.string()},
                          (home.Root() / "report.txt").string()));
    const ZeltRun download = RunZelt(home.Root(), "-COM=" + (home.Root() / "tty").string(), true);
    sim.Stop();
    ASSERT_EQ(download.status, 0) << download.err;
    fs::path recorded;
    for (const auto& e : fs::directory_iterator(rec))
        if (e.path().extension() == ".Q5") recorded = e.path();
    ASSERT_FALSE(recorded.empty());

    QProcess zelt;
    zelt.setProcessEnvironment(FreshAccountEnvironment(home));
    zelt.setProgram(QString::fromStdString(BinDir() + "/zelt"));
    zelt.setArguments({"-NOSPLASH", QString::fromStdString(recorded.string()), "-RUN=radiometre"});
    zelt.start();
    ASSERT_TRUE(zelt.waitForStarted(kTestDeadlineMs));
    // Without a screen the plug-in's messages go to standard error: the first one a run on this
    // (uncalibrated) download gives is the missing calibration.
    std::string err;
    WaitUntilReading(zelt, [&] {
        err += zelt.readAllStandardError().toStdString();
        return err.find("Calibration missing") != std::string::npos || zelt.state() != QProcess::Running;
    });
    EXPECT_NE(err.find("Calibration missing, only source data could be display"), std::string::npos) << err;
    EXPECT_EQ(err.find("Unknown instrument"), std::string::npos) << err;
    EXPECT_EQ(err.find("No data in memory"), std::string::npos) << err;
    // The window is modal and stays until closed: the test ends the program.
    EXPECT_EQ(zelt.state(), QProcess::Running);
    StopProcess(zelt);
}
