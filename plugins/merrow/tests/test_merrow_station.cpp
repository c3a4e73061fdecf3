// The station program started as a user starts it, with no screen and a fresh account, running the
// viewer by -RUN=merrow: the plug-in is loaded from the plug-ins folder and its open dialog comes up
// and waits (a file dialog lists folders on threads of its own), with no warning.
#include "common/tests/StationProcess.h"


#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include "common/tests/support/TestWait.h"

namespace {

std::string ReadProcFile(qint64 pid, const std::string& name)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + name);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Names of the process's threads.
std::string ThreadNames(qint64 pid)
{
    std::string names;
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec))
        names += ReadProcFile(pid, "task/" + task.path().filename().string() + "/comm");
    return names;
}

class StationRunsMerrow : public ::testing::Test {
protected:
    void Start(const QString& plugIn)
    {
        zelt.setProcessEnvironment(FreshAccountEnvironment(home));
        const char* bin = std::getenv("ZELT_BIN_DIR");
        zelt.setProgram(QString(bin ? bin : ".") + "/zelt");
        zelt.setArguments({"-NOSPLASH", "-RUN=" + plugIn});
        zelt.start();
        ASSERT_TRUE(zelt.waitForStarted(kTestDeadlineMs));
    }
    // Waits, while the program runs, until the condition holds or the time is up, gathering standard
    // error meanwhile.
    bool WaitWhileRunning(const std::function<bool()>& condition, int ms = kTestDeadlineMs)
    {
        WaitUntilReading(zelt, [&] {
            errors += zelt.readAllStandardError().toStdString();
            return condition() || zelt.state() != QProcess::Running;
        }, ms);
        return condition();
    }
    void TearDown() override { StopProcess(zelt); }

    ScopedTestHome home;
    QProcess zelt;
    std::string errors;
};

}  // namespace

TEST_F(StationRunsMerrow, OpenDialogComesUpAndWaits)
{
    Start("merrow");
    const qint64 pid = zelt.processId();
    EXPECT_TRUE(WaitWhileRunning([&] { return ReadProcFile(pid, "maps").find("/PlugIns/merrow.so") != std::string::npos; }));
    EXPECT_TRUE(WaitWhileRunning([&] { return ThreadNames(pid).find("QFileInfoGather") != std::string::npos; }))
        << ThreadNames(pid) << errors;
    EXPECT_FALSE(WaitWhileRunning([&] { return errors.find("No data in memory") != std::string::npos; }, 1000)) << errors;
    EXPECT_EQ(zelt.state(), QProcess::Running) << errors;
}

// A name that no plug-in has opens no viewer; without a screen nobody would see that nothing happened,
// so the run says so and ends with status 1.
TEST_F(StationRunsMerrow, AnotherPlugInNameOpensNoViewerAndEndsTheRun)
{
    Start("nosuch");
    const qint64 pid = zelt.processId();
    EXPECT_FALSE(WaitWhileRunning([&] { return ThreadNames(pid).find("QFileInfoGather") != std::string::npos; }, 3000));
    ASSERT_TRUE(zelt.state() == QProcess::NotRunning || zelt.waitForFinished(kTestDeadlineMs)) << "still running\n" << errors;
    errors += zelt.readAllStandardError().toStdString();
    EXPECT_EQ(zelt.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(zelt.exitCode(), 1) << errors;
    EXPECT_NE(errors.find("ERROR: No plug-in named nosuch in "), std::string::npos) << errors;
}
