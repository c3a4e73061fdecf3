// The station program started as its users start it, with no screen (offscreen platform) and a fresh
// user account: a plug-in named by -RUN= runs and the program stays until its window is closed.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>


#include <filesystem>
#include <map>
#include <string>

#include "common/tests/PlatformTestEnv.h"
#include "station/tests/ZeltProcess.h"
#include "common/tests/support/TestWait.h"

namespace fs = std::filesystem;

namespace {

class Program : public ::testing::Test {
protected:
    void SetUp() override
    {
        ini = home.Root() / "zelt.ini";
        ScopedTestHome::Write(ini, "[General]\r\nPlugInsDirectory=" + std::string(ZELT_TEST_PLUGIN_DIR) + "\r\n");
        report = home.Root() / "report.txt";
    }
    void Start(const QStringList& args, const std::map<QString, QString>& extra = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.insert("ZELT_DATA_DIR", ZELT_TEST_DATA_DIR);
        env.insert("ZELT_TEST_PLUGIN_REPORT", QString::fromStdString(report.string()));
        for (const auto& [name, value] : extra) env.insert(name, value);
        zelt.setProcessEnvironment(env);
        zelt.setProgram(QString(ZELT_TEST_BIN_DIR) + "/zelt");
        zelt.setArguments(QStringList{"-CONFIG=" + QString::fromStdString(ini.string())} + args);
        zelt.start();
        ASSERT_TRUE(zelt.waitForStarted(kTestDeadlineMs));
    }
    // Waits until the report holds `text` (the plug-in wrote it), or the program has ended without it.
    bool WaitForReport(const std::string& text)
    {
        auto reported = [&] { return ScopedTestHome::Read(report).find(text) != std::string::npos; };
        WaitUntilReading(zelt, [&] { return reported() || zelt.state() == QProcess::NotRunning; });
        return reported();
    }
    void TearDown() override
    {
        if (zelt.state() != QProcess::NotRunning) {
            zelt.kill();
            zelt.waitForFinished(kTestDeadlineMs);
        }
    }

    ScopedTestHome home;
    fs::path ini, report;
    QProcess zelt;
};

}  // namespace

TEST_F(Program, PlugInRunWithoutAScreenClosesTheWindowAndEndsTheProgram)
{
    Start({"-RUN=extended"}, {{"ZELT_TEST_CLOSE", "1"}});
    ASSERT_TRUE(zelt.waitForFinished(kTestDeadlineMs)) << ScopedTestHome::Read(report);
    EXPECT_EQ(zelt.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(zelt.exitCode(), 0) << zelt.readAllStandardError().toStdString();
    const std::string seen = ScopedTestHome::Read(report);
    EXPECT_NE(seen.find("extended execute 0"), std::string::npos) << seen;
    // Only the plug-in named ran.
    EXPECT_EQ(seen.find("plain"), std::string::npos) << seen;
}

// A plug-in that refuses to run (here its initialisation says no) leaves nothing to wait for: without a
// screen the run ends with status 1.
TEST_F(Program, PlugInThatRefusesToRunEndsTheRunWithStatusOne)
{
    Start({"-RUN=refusing"});
    ASSERT_TRUE(zelt.waitForFinished(kTestDeadlineMs)) << "still running\n" << ScopedTestHome::Read(report);
    EXPECT_EQ(zelt.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(zelt.exitCode(), 1) << zelt.readAllStandardError().toStdString();
    EXPECT_NE(ScopedTestHome::Read(report).find("refusing init"), std::string::npos) << ScopedTestHome::Read(report);
}

TEST_F(Program, PlugInThatLeavesTheWindowOpenKeepsTheProgramGoing)
{
    Start({"-run=PLAIN.so"});
    ASSERT_TRUE(WaitForReport("plain execute 0")) << zelt.readAllStandardError().toStdString();
    // The window stays up after the plug-in returned, as it does on a screen.
    EXPECT_FALSE(zelt.waitForFinished(600));
    EXPECT_EQ(zelt.state(), QProcess::Running);
    zelt.terminate();
    EXPECT_TRUE(zelt.waitForFinished(kTestDeadlineMs));
}

TEST_F(Program, StartThatAsksForNothingEndsAtOnce)
{
    Start({"-NOSPLASH"});
    ASSERT_TRUE(zelt.waitForFinished(kTestDeadlineMs));
    EXPECT_EQ(zelt.exitCode(), 0);
    EXPECT_EQ(ScopedTestHome::Read(report).find("execute"), std::string::npos);
}

// From cron: no display, no platform named, a home that nobody prepared. The program starts without a
// screen by itself instead of aborting in the window system.
TEST(ProgramFromCron, StartsWithoutADisplayAndEndsWithItsStatus)
{
    ScopedTestHome home;
    const std::string zelt = std::string(ZELT_TEST_BIN_DIR) + "/zelt";

    const ZeltRun idle = RunAsCron(zelt, "-NOSPLASH", home.Root() / "idle");
    EXPECT_EQ(idle.status, 0) << idle.err;
    EXPECT_EQ(idle.err.find("display"), std::string::npos) << idle.err;

    const ZeltRun missing = RunAsCron(zelt, "-RUN=nosuchplugin", home.Root() / "missing");
    EXPECT_EQ(missing.status, 1) << missing.err;
    // The run's own opening line comes first (no notice of the platform before it), then why it fails.
    const size_t firstEnd = missing.err.find('\n');
    EXPECT_NE(missing.err.substr(0, firstEnd).find(" Start: " + zelt + " -RUN=nosuchplugin"), std::string::npos)
        << "the platform's notices come before the program's own lines:\n" << missing.err;
    EXPECT_EQ(missing.err.find("ERROR: No plug-in named nosuchplugin"), firstEnd + 1) << missing.err;
}

// A first start in a fresh account writes the desktop entry for data files and brings the desktop's
// database of applications up to date, so that file managers offer the program for them at once.
TEST(ProgramFromCron, FirstStartMakesFileManagersOfferTheProgramForDataFiles)
{
    ScopedTestHome home;
    const fs::path account = home.Root() / "account";
    const ZeltRun r = RunAsCron(std::string(ZELT_TEST_BIN_DIR) + "/zelt", "-NOSPLASH", account);
    ASSERT_EQ(r.status, 0) << r.err;
    const fs::path applications = account / ".local" / "share" / "applications";
    ASSERT_TRUE(fs::exists(applications / "zelt-q5.desktop"));
    // The database is made by a tool the program starts and does not wait for.
    const fs::path cache = applications / "mimeinfo.cache";
    std::string listed;
    WaitUntil([&] {
        listed = ScopedTestHome::Read(cache);
        return listed.find("application/x-zelt-q5=zelt-q5.desktop;") != std::string::npos;
    });
    EXPECT_NE(listed.find("application/x-zelt-q5=zelt-q5.desktop;"), std::string::npos)
        << "the desktop database of " << applications << " does not list the entry:\n" << listed;
}
