// The program as a child process: batch runs without any display, exit statuses, the graph program.

#include "MorvaneFixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace morvane::test;

namespace {

const std::vector<double> kFour = {1020, 870, 670, 440};
constexpr double kLat = 37.18, kLon = -3.6, kAlt = 680;

struct Outcome {
  int status = -1;
  std::string out, err;
};

std::string Program() { return BinDir() + "/morvane"; }

// Runs the program in dir with no display; extraEnv entries are "NAME=value".
Outcome RunProgram(const std::string &dir, const std::vector<std::string> &args, const std::vector<std::string> &extraEnv = {}) {
  Outcome o;
  const std::string outPath = dir + "/.stdout", errPath = dir + "/.stderr";
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0)
      _exit(127);
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(err, 2);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("QT_QPA_PLATFORM");
    for (const auto &e : extraEnv)
      putenv(const_cast<char *>(e.c_str()));
    std::vector<char *> argv;
    const std::string program = Program();
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const auto &a : args)
      argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  o.out = ReadFile(outPath);
  o.err = ReadFile(errPath);
  return o;
}

class ProgramTest : public ::testing::Test {
protected:
  void SetUp() override {
    WriteSyntheticTables(dir.path());
    WriteFile(dir.file("cal.cal"), "2020 1 1 1e6 1e6 1e6 1e6 \n");
    std::string data;
    for (int k = 0; k <= 10; ++k)
      data += SunLine({2020, 6, 15, 8 + k / 2, (k % 2) * 30, 0}, kFour, 1.3, 0.08, 1e6, kLat, kLon, 3);
    WriteFile(dir.file("site.nsu"), data);
  }
  void Param(int code, const std::string &cal, const std::vector<std::string> &files, int cloud = 1) {
    WriteFile(dir.file("inputpar.dat"),
              ParameterFile(code, cal, "result.tao", cloud, kLat, kLon, kAlt, "-2\n", "300\n", {{1, 2, 3, 4}}, -1, files));
  }
  bool Exists(const std::string &name) { return std::filesystem::exists(dir.file(name)); }
  TempDir dir;
};

TEST_F(ProgramTest, BatchRunWritesResultsWithoutAnyDisplay) {
  Param(7, "cal.cal", {"site.nsu"});
  const Outcome o = RunProgram(dir.path(), {"inputpar.dat", "/G0"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "Terminated \n");
  EXPECT_EQ(ReadLines(dir.file("result.tao")).size(), 12u);
  EXPECT_TRUE(Exists("result.ta2"));
  EXPECT_EQ(ReadLines(dir.file("temporalg"))[0], "result.ta2");
}

TEST_F(ProgramTest, InstalledTablesAreFoundInTheDataFolder) {
  TempDir run;
  std::string data;
  const std::vector<double> q5 = {1020, 870, 675, 440, 500, 940, 380, 340, 1640};
  for (int k = 0; k <= 6; ++k)
    data += SunLine({2020, 6, 15, 9 + k, 0, 0}, q5, 1.3, 0.08, 1e6, kLat, kLon, 3);
  WriteFile(run.file("site.nsu"), data);
  WriteFile(run.file("cal.cal"), "2020 1 1 1e6 1e6 1e6 1e6 1e6 1e6 1e6 1e6 1e6 \n");
  WriteFile(run.file("inputpar.dat"), ParameterFile(1, "cal.cal", "result.tao", 1, kLat, kLon, kAlt, "-2\n",
                                                    "300\n", {{2, 3, 4, 5}}, -1, {"site.nsu"}));
  const Outcome o = RunProgram(run.path(), {"inputpar.dat", "/g0"});
  ASSERT_EQ(o.status, 0) << o.err;
  const auto rows = ReadLines(run.file("result.tao"));
  ASSERT_EQ(rows.size(), 8u);
  // 8 aerosol wavelengths (940 nm is the water channel), both passes, one combination, the water.
  EXPECT_EQ(rows[1].size(), 64u + 15 * (2 * 8 + 8 + 2));
}

TEST_F(ProgramTest, EveryFailureExitsNonZeroWithItsMessageAndNoResult) {
  Outcome o = RunProgram(dir.path(), {"absent.dat", "/G0"});
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("Fallo en el fichero de datos de entrada"), std::string::npos) << o.err;

  Param(99, "cal.cal", {"site.nsu"});
  o = RunProgram(dir.path(), {"inputpar.dat", "/G0"});
  EXPECT_EQ(o.status, 3);
  EXPECT_NE(o.err.find("Instrument unknown"), std::string::npos);

  Param(7, "missing.cal", {"site.nsu"});
  o = RunProgram(dir.path(), {"inputpar.dat", "/G0"});
  EXPECT_EQ(o.status, 5);
  EXPECT_NE(o.err.find("missing.cal"), std::string::npos);

  Param(7, "cal.cal", {"site.nsu", "gone.nsu"});
  o = RunProgram(dir.path(), {"inputpar.dat", "/G0"});
  EXPECT_EQ(o.status, 6);
  EXPECT_NE(o.err.find("gone.nsu"), std::string::npos);

  // A result file that cannot be written: its own status, no temporary file left behind.
  WriteFile(dir.file("inputpar.dat"), ParameterFile(7, "cal.cal", "nodir/result.tao", 1, kLat, kLon, kAlt, "-2\n",
                                                    "300\n", {}, -1, {"site.nsu"}));
  o = RunProgram(dir.path(), {"inputpar.dat", "/G0"});
  EXPECT_EQ(o.status, 7);
  EXPECT_NE(o.err.find("nodir/result.tao"), std::string::npos) << o.err;
  std::filesystem::create_directory(dir.file("ro"));
  std::filesystem::permissions(dir.file("ro"), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  WriteFile(dir.file("inputpar.dat"), ParameterFile(7, "cal.cal", "ro/result.tao", 1, kLat, kLon, kAlt, "-2\n",
                                                    "300\n", {}, -1, {"site.nsu"}));
  if (geteuid() != 0) { // root writes anywhere
    o = RunProgram(dir.path(), {"inputpar.dat", "/G0"});
    EXPECT_EQ(o.status, 7);
  }
  std::filesystem::permissions(dir.file("ro"), std::filesystem::perms::owner_all);
  EXPECT_TRUE(std::filesystem::is_empty(dir.file("ro")));

  Param(7, "cal.cal", {"site.nsu"});
  std::filesystem::remove(dir.file("no2.dat"));
  o = RunProgram(dir.path(), {"inputpar.dat", "/G0"}, {"ZELT_DATA_DIR=" + dir.file("nowhere")});
  EXPECT_EQ(o.status, 4);
  EXPECT_NE(o.err.find("--- Fallo en el fichero de coeficientes de NO2 ---"), std::string::npos) << o.err;
  EXPECT_FALSE(Exists("result.tao"));
  EXPECT_FALSE(Exists("temporalg"));
}

TEST_F(ProgramTest, GraphProgramStartsWhenPresentAndItsAbsenceIsNoError) {
  Param(7, "cal.cal", {"site.nsu"}, 0);
  TempDir bin;
  const Outcome without = RunProgram(dir.path(), {"inputpar.dat", "/G1"}, {"PATH=" + bin.path()});
  EXPECT_EQ(without.status, 0) << without.err;

  WriteFile(bin.file("graf"), "#!/bin/sh\necho started > graf-ran\n");
  std::filesystem::permissions(bin.file("graf"), std::filesystem::perms::owner_all);
  const Outcome with = RunProgram(dir.path(), {"inputpar.dat"}, {"PATH=" + bin.path() + ":/usr/bin:/bin"});
  EXPECT_EQ(with.status, 0) << with.err;
  for (int i = 0; i < 100 && !Exists("graf-ran"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(Exists("graf-ran"));

  std::filesystem::remove(dir.file("graf-ran"));
  EXPECT_EQ(RunProgram(dir.path(), {"inputpar.dat", "-g0"}, {"PATH=" + bin.path() + ":/usr/bin:/bin"}).status, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(Exists("graf-ran"));
}

TEST_F(ProgramTest, DialogModeWithoutAScreenSaysSo) {
  for (const std::vector<std::string> &args : {std::vector<std::string>{}, std::vector<std::string>{"/G0"}}) {
    const Outcome o = RunProgram(dir.path(), args);
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("Error initializing application morvane"), std::string::npos) << o.err;
  }
}

} // namespace
