// The station program started as a user starts it, with no screen and a fresh user account, on a
// download of the radiometer model and "-RUN=radiometre": the plug-in is found in the program's
// plug-ins folder and shows its window over the data file in memory.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>

#include <cstdlib>
#include <string>

#include "common/tests/PlatformTestEnv.h"

namespace {

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace

TEST(StationProgram, RunsTheRadiometerOnTheDataFileItOpened)
{
    ScopedTestHome home;
    const std::string data = (home.Root() / "IR250621.q5").string();
    const std::string q5gen = "'" + Env("ZELT_BIN_DIR") + "/q5gen' --id SP0B0001 --records 12 '" + data + "'";
    ASSERT_EQ(std::system(q5gen.c_str()), 0);

    QProcess zelt;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    zelt.setProcessEnvironment(env);
    zelt.setProgram(QString::fromStdString(Env("ZELT_BIN_DIR") + "/zelt"));
    zelt.setArguments({QString::fromStdString(data), "-RUN=radiometre"});
    zelt.setProcessChannelMode(QProcess::SeparateChannels);
    zelt.start();
    ASSERT_TRUE(zelt.waitForStarted(5000));
    // Without a screen the plug-in's messages go to standard error: the first one a run on this
    // (uncalibrated) download gives is the missing calibration.
    std::string err;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 20000 && err.find("Calibration missing") == std::string::npos &&
           zelt.state() == QProcess::Running) {
        zelt.waitForReadyRead(100);
        err += zelt.readAllStandardError().toStdString();
    }
    EXPECT_NE(err.find("Calibration missing, only source data could be display"), std::string::npos) << err;
    EXPECT_EQ(err.find("Unknown instrument"), std::string::npos) << err;
    EXPECT_EQ(err.find("No data in memory"), std::string::npos) << err;
    // The window is modal and stays until closed: the test ends the program.
    EXPECT_EQ(zelt.state(), QProcess::Running);
    zelt.kill();
    zelt.waitForFinished(5000);
}
