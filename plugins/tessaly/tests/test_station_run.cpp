// The station program started as a user starts it, with no screen and a fresh account, running the
// plug-in by -RUN= on a data file named on its command line.
#include <gtest/gtest.h>


#include "common/tests/StationProcess.h"
#include "plugins/tessaly/tests/TessalyTestEnv.h"
#include "common/tests/support/TestWait.h"

using namespace tessaly_test;

namespace {

class StationRun : public ::testing::Test {
 protected:
  void Start(const std::string& dataFile) {
    zelt.setProcessEnvironment(FreshAccountEnvironment(home));
    zelt.setProgram(QString::fromStdString(BinDir() + "/zelt"));
    zelt.setArguments({"-NOSPLASH", "-RUN=Tessaly", QString::fromStdString(dataFile)});
    zelt.start();
    ASSERT_TRUE(zelt.waitForStarted(kTestDeadlineMs));
  }
  std::string Q5gen(const std::string& name, const std::string& options) {
    const std::string path = (home.Root() / name).string();
    EXPECT_EQ(std::system(("'" + BinDir() + "/q5gen' " + options + " '" + path + "'").c_str()), 0);
    return path;
  }
  // Standard error gathered until it holds `text`, the program has ended or the time is up.
  bool WaitForError(const std::string& text, int ms = kTestDeadlineMs) {
    WaitUntilReading(zelt, [&] {
      errors += zelt.readAllStandardError().toStdString();
      return errors.find(text) != std::string::npos || zelt.state() == QProcess::NotRunning;
    }, ms);
    errors += zelt.readAllStandardError().toStdString();
    return errors.find(text) != std::string::npos;
  }
  void TearDown() override { StopProcess(zelt); }

  ScopedTestHome home;
  QProcess zelt;
  std::string errors;
};

}  // namespace

TEST_F(StationRun, ADataFileWithoutSunCountsIsRefused) {
  const std::string path = Q5gen("sky.Q5", "--records 4 --start 2025-06-20T12:00:00");  // one record of each of the first types
  Start(path);
  EXPECT_TRUE(WaitForError("doesn't contain SUN digital count")) << errors;
}

TEST_F(StationRun, SunDaysOpenTheCalibrationWindow) {
  const std::string path = Q5gen("days.Q5", "--sun-days 1 --start 2025-06-20 --interval 900");
  Start(path);
  // The window is modal and stays: no refusal comes, the program keeps running.
  EXPECT_FALSE(WaitForError("WARNING", 3000)) << errors;
  EXPECT_EQ(errors.find("SUN digital count"), std::string::npos) << errors;
  EXPECT_EQ(errors.find("No data in memory"), std::string::npos) << errors;
  EXPECT_EQ(zelt.state(), QProcess::Running) << errors;
}
