// The program as a child process: batch runs without any display, exit statuses, the graph program.

#include "MorvaneFixture.h"
#include "common/tests/support/AsUser.h"
#include "common/tests/support/TestWait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sstream>
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

// Runs the program in dir with no display; extraEnv entries are "NAME=value". A program that has not
// ended after `limit` is killed and reported with status -2.
Outcome RunProgram(const std::string &dir, const std::vector<std::string> &args, const std::vector<std::string> &extraEnv = {},
                   std::chrono::seconds limit = std::chrono::seconds(kTestProcessSeconds)) {
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
  const int status = WaitForChild(pid, static_cast<int>(limit.count()) * 1000);
  if (status < 0) {
    o.status = -2;
    o.err = "the program did not end within " + std::to_string(limit.count()) + " s";
    return o;
  }
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
  // Root writes past the folder's mode: the program runs as the user whom the mode binds.
  EXPECT_TRUE(test_user::AsUnprivileged([&]() -> ::testing::AssertionResult {
    const Outcome refused = RunProgram(dir.path(), {"inputpar.dat", "/G0"});
    if (refused.status == 7 && refused.err.find("ro/result.tao") != std::string::npos)
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "status " << refused.status << ": " << refused.err;
  }));
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

// The parameter file's lines with line `number` (1-based) replaced.
std::string WithLine(const std::string &text, size_t number, const std::string &line) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  lines.at(number - 1) = line;
  std::string out;
  for (const auto &l : lines)
    out += l + '\n';
  return out;
}

TEST_F(ProgramTest, AnOutputOverAnInputOrAWorkingFileIsRefusedAndTheInputKept) {
  WriteFile(dir.file("res.ta2"), ReadFile(dir.file("site.nsu")));
  struct Case {
    std::string output, calibration;
    std::vector<std::string> data;
    int cloud;
  };
  const Case cases[] = {{"inputpar.dat", "cal.cal", {"site.nsu"}, 0},
                        {"./cal.cal", "cal.cal", {"site.nsu"}, 0},
                        {"site.nsu", "cal.cal", {"site.nsu"}, 0},
                        {dir.file("site.nsu"), "cal.cal", {"site.nsu"}, 1},
                        {"res.tao", "cal.cal", {"res.ta2"}, 1}, // the screened file would replace the data
                        // the run's own working files: the scratch file and the graph hand-off
                        {"temporalg", "cal.cal", {"site.nsu"}, 1},
                        {"temporal", "cal.cal", {"site.nsu"}, 0},
                        {dir.file("temporalg"), "cal.cal", {"site.nsu"}, 0}};
  for (const Case &c : cases) {
    const std::string param = ParameterFile(7, c.calibration, c.output, c.cloud, kLat, kLon, kAlt, "-2\n", "300\n",
                                            {{1, 2, 3, 4}}, -1, c.data);
    WriteFile(dir.file("inputpar.dat"), param);
    const std::string cal = ReadFile(dir.file("cal.cal")), data = ReadFile(dir.file(c.data[0]));
    const Outcome o = RunProgram(dir.path(), {"inputpar.dat", "/G0"});
    EXPECT_EQ(o.status, 7) << c.output;
    EXPECT_NE(o.err.find("no se sobrescribe"), std::string::npos) << o.err;
    EXPECT_EQ(ReadFile(dir.file("inputpar.dat")), param);
    EXPECT_EQ(ReadFile(dir.file("cal.cal")), cal);
    EXPECT_EQ(ReadFile(dir.file(c.data[0])), data);
    EXPECT_FALSE(Exists("res.tao"));
    EXPECT_FALSE(Exists("temporal"));
    EXPECT_FALSE(Exists("temporalg"));
  }
}

TEST_F(ProgramTest, AFolderIsAnUnreadableInput) {
  std::filesystem::create_directory(dir.file("folder.nsu"));
  Param(7, "cal.cal", {"site.nsu", "folder.nsu"});
  Outcome o = RunProgram(dir.path(), {"inputpar.dat", "/G0"});
  EXPECT_EQ(o.status, 6);
  EXPECT_NE(o.err.find("folder.nsu: es una carpeta"), std::string::npos) << o.err;
  EXPECT_FALSE(Exists("result.tao"));

  Param(7, "folder.nsu", {"site.nsu"});
  o = RunProgram(dir.path(), {"inputpar.dat", "/G0"});
  EXPECT_EQ(o.status, 5);
  EXPECT_NE(o.err.find("folder.nsu: es una carpeta"), std::string::npos) << o.err;

  o = RunProgram(dir.path(), {dir.file("folder.nsu"), "/G0"});
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("es una carpeta"), std::string::npos) << o.err;
  EXPECT_EQ(o.err.find("termina antes"), std::string::npos) << o.err;
  EXPECT_FALSE(Exists("result.tao"));
}

TEST_F(ProgramTest, SiteIntegersAndCalibrationLinesAreChecked) {
  const auto param = [](double lat, double lon, double alt) {
    return ParameterFile(7, "cal.cal", "result.tao", 1, lat, lon, alt, "-2\n", "300\n", {{1, 2, 3, 4}}, -1,
                         {"site.nsu"});
  };
  struct Case {
    std::string param, says;
  };
  // Each value out of its range is named with its own line.
  const Case refused[] = {{param(90.5, kLon, kAlt), "la latitud fuera de rango (línea 5)"},
                          {param(-91, kLon, kAlt), "la latitud fuera de rango (línea 5)"},
                          {param(kLat, 180.01, kAlt), "la longitud fuera de rango (línea 6)"},
                          {param(kLat, -200, kAlt), "la longitud fuera de rango (línea 6)"},
                          {param(kLat, kLon, 2e12), "la altura fuera de rango (línea 7)"},
                          {param(kLat, kLon, -501), "la altura fuera de rango (línea 7)"},
                          {param(kLat, kLon, 1e300), "la altura fuera de rango"},
                          {WithLine(param(kLat, kLon, kAlt), 13, "-1850"), "la presión fuera de rango (línea 13)"},
                          {WithLine(param(kLat, kLon, kAlt), 13, "-0.5"), "la presión fuera de rango (línea 13)"},
                          {WithLine(param(kLat, kLon, kAlt), 4, "--1"), "el filtrado de nubes"},
                          {WithLine(param(kLat, kLon, kAlt), 1, "+-7"), "el código de instrumento"}};
  for (const Case &c : refused) {
    WriteFile(dir.file("inputpar.dat"), c.param);
    const Outcome o = RunProgram(dir.path(), {"inputpar.dat", "/G0"});
    EXPECT_EQ(o.status, 2) << c.says;
    EXPECT_NE(o.err.find(c.says), std::string::npos) << o.err;
    EXPECT_FALSE(Exists("result.tao"));
  }
  // The ends of each range are sites; a pressure of 0 or a positive one is a pressure.
  WriteFile(dir.file("inputpar.dat"), param(kLat, 180, 9000));
  EXPECT_EQ(RunProgram(dir.path(), {"inputpar.dat", "/G0"}).status, 0);
  for (const char *pressure : {"0", "850"}) {
    WriteFile(dir.file("inputpar.dat"), WithLine(param(kLat, kLon, kAlt), 13, pressure));
    EXPECT_EQ(RunProgram(dir.path(), {"inputpar.dat", "/G0"}).status, 0) << pressure;
  }

  // A calibration line with another field count, with decimal commas, with a negative constant (no
  // extraterrestrial count is) or with a 0 (a filter not calibrated yet) that an Angstrom fit takes stops
  // the run; blank lines do not.
  WriteFile(dir.file("inputpar.dat"), param(kLat, kLon, kAlt));
  const std::string good = "2020 1 1 1e6 1e6 1e6 1e6 \n";
  const std::pair<std::string, std::string> badLines[] = {
      {"2020 6 1 2e6 2e6 2e6\n", "se esperan"},
      {"2020 6 1 2e6 2e6 2e6 2e6 2e6\n", "se esperan"},
      {"2020 6 1 2000000,5 2000000,5 2000000,5 2000000,5\n", "¿coma decimal?"},
      {"2020 6 1 2e6 2e6 2e6 -5 \n", "la constante 4 es -5"},
      // 870 nm not calibrated, and the Angstrom fit takes it.
      {"2020 6 1 2e6 0 2e6 2e6 \n", "la constante de 870 nm es 0"}};
  for (const auto &[bad, why] : badLines) {
    std::filesystem::remove(dir.file("result.tao"));
    WriteFile(dir.file("cal.cal"), good + bad);
    const Outcome o = RunProgram(dir.path(), {"inputpar.dat", "/G0"});
    EXPECT_EQ(o.status, 5) << bad;
    EXPECT_NE(o.err.find("cal.cal: línea 2 de calibrado rechazada"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find(why), std::string::npos) << o.err;
    EXPECT_FALSE(Exists("result.tao"));
  }
  WriteFile(dir.file("cal.cal"), "\n" + good + "  \n\n");
  const Outcome blank = RunProgram(dir.path(), {"inputpar.dat", "/G0"});
  EXPECT_EQ(blank.status, 0) << blank.err;
  EXPECT_EQ(ReadLines(dir.file("result.tao")).size(), 12u);
}

// The station's nine-filter photometer (instrument 1 of the installed tables) as the AOT plug-in runs
// it: the Angstrom fit over 870, 675, 440 and 500 nm, the water vapour at 940 nm from 870 and 1020 nm.
class NineFilterRun : public ::testing::Test {
protected:
  static constexpr int k440 = 4, k1020 = 1;
  void SetUp() override {
    const std::vector<double> nine = {1020, 870, 675, 440, 500, 940, 380, 340, 1640};
    std::string data;
    for (int k = 0; k <= 12; ++k)
      data += SunLine({2020, 6, 15, 8 + k / 2, (k % 2) * 30, 0}, nine, 1.3, 0.08, 1e6, kLat, kLon, 3);
    WriteFile(dir.file("site.nsu"), data);
    WriteFile(dir.file("inputpar.dat"), ParameterFile(1, "cal.cal", "result.tao", 1, kLat, kLon, kAlt, "-2\n",
                                                      "300\n", {{2, 3, 4, 5}}, -1, {"site.nsu"}));
  }
  // A calibration line of that date: every constant 1e6 but the one at `zero` (from 1), 0.
  static std::string CalLine(const std::string &date, int zero = 0) {
    std::string line = date;
    for (int position = 1; position <= 9; ++position)
      line += position == zero ? " 0" : " 1e6";
    return line + " \n";
  }
  Outcome Run(const std::string &calibration) {
    WriteFile(dir.file("cal.cal"), calibration);
    for (const char *name : {"result.tao", "result.ta2"})
      std::filesystem::remove(dir.file(name));
    return RunProgram(dir.path(), {"inputpar.dat", "/G0"});
  }
  // The value column named `label` by the header (" TT1020", " AlphaT1", " VaporT") of every record.
  std::vector<std::string> Column(const std::string &file, const std::string &label) {
    const std::vector<std::string> lines = ReadLines(dir.file(file));
    std::vector<std::string> values;
    if (lines.empty())
      return values;
    std::istringstream header(lines[0]);
    std::vector<std::string> labels;
    for (std::string name; header >> name;)
      labels.push_back(name);
    const auto at = std::find(labels.begin(), labels.end(), label);
    if (at == labels.end())
      return values;
    const size_t start = (file.ends_with(".ta2") ? 65 : 64) + 15 * static_cast<size_t>(at - labels.begin() - 10);
    for (size_t r = 1; r < lines.size(); ++r)
      values.push_back(lines[r].substr(start, 15));
    return values;
  }
  TempDir dir;
};

// 440 nm not calibrated at the date of every record: the Angstrom fit through it would take ln(1e-05)
// for its optical depth (alpha near -9.7 where the aerosol's is 1.3), and no record has a fit. The run
// is refused as a calibration, naming the wavelength, the line and the records, and writes nothing.
TEST_F(NineFilterRun, AFilterNotCalibratedInTheAngstromFitIsRefused) {
  const std::pair<std::string, std::string> calibrations[] = {
      {CalLine("2020 6 1", k440), "cal.cal: línea 1 de calibrado rechazada (la constante de 440 nm es 0"},
      {CalLine("2019 6 1") + CalLine("2021 6 1", k440), "cal.cal: línea 2 de calibrado rechazada (la constante de 440 nm es 0"}};
  for (const auto &[calibration, says] : calibrations) {
    SCOPED_TRACE(calibration);
    const Outcome o = Run(calibration);
    EXPECT_EQ(o.status, 5) << o.err;
    EXPECT_NE(o.err.find(says), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("la combinación de Ångström 1 la usa en 13 registros): ningún registro queda con ajuste"),
              std::string::npos)
        << o.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("result.tao")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("result.ta2")));
  }
}

// 1020 nm not calibrated is outside the fit: the run computes, says which wavelength (in nm) of which
// line, writes the placeholder for its optical depth and fits alpha as with it calibrated.
TEST_F(NineFilterRun, AFilterNotCalibratedOutsideTheFitIsComputedAndNamed) {
  const Outcome calibrated = Run(CalLine("2020 6 1"));
  ASSERT_EQ(calibrated.status, 0) << calibrated.err;
  const std::vector<std::string> alpha = Column("result.tao", "AlphaT1");
  ASSERT_EQ(alpha.size(), 13u);

  const Outcome o = Run(CalLine("2020 6 1", k1020));
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.err.find("cal.cal: línea 1: la constante de 1020 nm es 0 (filtro sin calibrar)"), std::string::npos)
      << o.err;
  EXPECT_EQ(o.err.find("la constante 1 "), std::string::npos) << o.err;
  EXPECT_EQ(Column("result.tao", "AlphaT1"), alpha);
  for (const char *label : {"Ta1020", "TT1020"})
    EXPECT_EQ(Column("result.tao", label), std::vector<std::string>(13, "   0.100000E-04")) << label;
}

// The water vapour compares the 940 nm channel with the aerosol transmittance extrapolated from 870 and
// 1020 nm: with 1020 nm not calibrated there is none, and the vapour is the placeholder too.
TEST_F(NineFilterRun, WaterVapourNeedsItsReferencesCalibrated) {
  const Outcome calibrated = Run(CalLine("2020 6 1"));
  ASSERT_EQ(calibrated.status, 0) << calibrated.err;
  ASSERT_EQ(Column("result.tao", "VaporT").size(), 13u);
  EXPECT_NE(Column("result.tao", "VaporT")[6], "   0.100000E-04");

  const Outcome o = Run(CalLine("2020 6 1", k1020));
  ASSERT_EQ(o.status, 0) << o.err;
  for (const char *label : {"Vapor", "VaporT"})
    EXPECT_EQ(Column("result.tao", label), std::vector<std::string>(13, "   0.100000E-04")) << label;
}

// The cloud screening judges each day by its 440 nm optical depths: with 440 nm not calibrated (and out
// of the fits) there are none, and no record passes for screened.
TEST_F(NineFilterRun, NoRecordIsScreenedWithout440nm) {
  WriteFile(dir.file("inputpar.dat"), ParameterFile(1, "cal.cal", "result.tao", 1, kLat, kLon, kAlt, "-2\n", "300\n",
                                                    {{2, 3, 5}}, -1, {"site.nsu"}));
  const Outcome calibrated = Run(CalLine("2020 6 1"));
  ASSERT_EQ(calibrated.status, 0) << calibrated.err;
  ASSERT_GT(ReadLines(dir.file("result.ta2")).size(), 5u);

  const Outcome o = Run(CalLine("2020 6 1", k440));
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.err.find("la constante de 440 nm es 0"), std::string::npos) << o.err;
  EXPECT_EQ(ReadLines(dir.file("result.tao")).size(), 14u);
  EXPECT_EQ(ReadLines(dir.file("result.ta2")).size(), 1u);  // the header alone
}

// Between a date where a filter is calibrated and one where it is not, its constant is no blend of the
// two (half the true count half-way, an optical depth made up): its results are the placeholder.
TEST_F(NineFilterRun, NoConstantIsBlendedWithAFilterNotCalibrated) {
  for (const std::string &calibration :
       {CalLine("2020 1 1") + CalLine("2020 12 1", k1020), CalLine("2019 12 1", k1020) + CalLine("2020 12 1")}) {
    SCOPED_TRACE(calibration);
    const Outcome o = Run(calibration);
    ASSERT_EQ(o.status, 0) << o.err;
    for (const char *label : {"Ta1020", "TT1020"})
      EXPECT_EQ(Column("result.tao", label), std::vector<std::string>(13, "   0.100000E-04")) << label;
    EXPECT_NE(Column("result.tao", "TT0870")[0], "   0.100000E-04");
  }
}

// A result row cut into its ten leading fields (one text) and its value columns (15 characters each).
std::vector<std::string> Fields(const std::string &row) {
  std::vector<std::string> fields{row.substr(0, 64)};
  for (size_t at = 64; at + 15 <= row.size(); at += 15)
    fields.push_back(row.substr(at, 15));
  return fields;
}

// A data line with every reading of the wavelength at `position` (from 1) counted 0, as a "nsu" line
// of `nwl` wavelengths holds them: date, three blocks of nwl counts, temperature.
std::string WithZeroCount(const std::string &line, int position, int nwl) {
  std::istringstream in(line);
  std::vector<std::string> items;
  for (std::string item; in >> item;)
    items.push_back(item);
  for (int j = 0; j < 3; ++j)
    items.at(static_cast<size_t>(6 + j * nwl + position - 1)) = "0";
  std::string out;
  for (const std::string &item : items)
    out += (out.empty() ? "" : " ") + item;
  return out + "\n";
}

// A count of 0 (the sun too low for the channel, a reading lost) leaves a record without an optical
// depth at that wavelength, only the placeholder. A fit through it would take ln(1e-05) for it: alpha
// near -5 where the aerosol's is 1.3. Such a record has no fit of that combination, in either pass;
// everything else it holds, the other combination's fit and the screening are as without the 0.
TEST_F(NineFilterRun, ARecordWithoutAnOpticalDepthInTheFitHasNoAlpha) {
  constexpr int k500 = 5;
  // No gas to take away (pressure 0, no ozone): the optical depths are the aerosol's.
  WriteFile(dir.file("inputpar.dat"), ParameterFile(1, "cal.cal", "result.tao", 1, kLat, kLon, kAlt, "-2\n", "0\n",
                                                    {{2, 3, 4, 5}, {1, 2}}, 0, {"site.nsu"}));
  const Outcome calibrated = Run(CalLine("2020 6 1"));
  ASSERT_EQ(calibrated.status, 0) << calibrated.err;
  const std::vector<std::string> tao = ReadLines(dir.file("result.tao")), ta2 = ReadLines(dir.file("result.ta2"));
  ASSERT_EQ(tao.size(), 14u);
  ASSERT_GT(ta2.size(), 10u);

  // Every third record reads 0 at 500 nm.
  const std::vector<double> nine = {1020, 870, 675, 440, 500, 940, 380, 340, 1640};
  std::string data;
  std::vector<bool> zero;
  for (int k = 0; k <= 12; ++k) {
    const std::string line = SunLine({2020, 6, 15, 8 + k / 2, (k % 2) * 30, 0}, nine, 1.3, 0.08, 1e6, kLat, kLon, 3);
    zero.push_back(k % 3 == 1);
    data += zero.back() ? WithZeroCount(line, k500, 9) : line;
  }
  WriteFile(dir.file("site.nsu"), data);
  const Outcome o = Run(CalLine("2020 6 1"));
  ASSERT_EQ(o.status, 0) << o.err;
  const std::vector<std::string> zeroTao = ReadLines(dir.file("result.tao")), zeroTa2 = ReadLines(dir.file("result.ta2"));
  ASSERT_EQ(zeroTao.size(), tao.size());
  EXPECT_EQ(zeroTao[0], tao[0]);

  // Value columns (from 1) of the eight wavelengths 1020 870 675 440 500 380 340 1640 nm: the optical
  // depths of pass 1 and 2, then beta, alpha, SD and r2 of each combination in pass 1, then in pass 2.
  const std::string placeholder = "   0.100000E-04";
  const std::vector<size_t> tau500 = {5, 8 + 5}, firstFit = {17, 18, 19, 20, 25, 26, 27, 28};
  const std::vector<size_t> alphas = {18, 26}, secondAlphas = {22, 30};
  for (size_t r = 1; r < tao.size(); ++r) {
    SCOPED_TRACE("record " + std::to_string(r));
    const std::vector<std::string> before = Fields(tao[r]), after = Fields(zeroTao[r]);
    ASSERT_EQ(after.size(), 1u + 2 * 8 + 8 * 2 + 2);
    ASSERT_EQ(before.size(), after.size());
    for (size_t a : alphas)
      EXPECT_NEAR(std::stod(before[a]), 1.3, 0.05) << a;
    for (size_t a : secondAlphas)
      EXPECT_NEAR(std::stod(before[a]), 1.3, 0.05) << a;
    if (!zero[r - 1]) {
      EXPECT_EQ(zeroTao[r], tao[r]);
      continue;
    }
    for (size_t c = 0; c < after.size(); ++c) {
      const bool gone = std::find(tau500.begin(), tau500.end(), c) != tau500.end() ||
                        std::find(firstFit.begin(), firstFit.end(), c) != firstFit.end();
      EXPECT_EQ(after[c], gone ? placeholder : before[c]) << "column " << c;
    }
  }
  EXPECT_NE(o.err.find("sin ajuste de Ångström"), std::string::npos) << o.err;

  // 500 nm is no screening channel: the screening keeps the records it kept, its own judgement of
  // 440 nm untouched, and none of them carries an alpha made up.
  ASSERT_EQ(zeroTa2.size(), ta2.size());
  int withoutAlpha = 0;
  for (size_t r = 1; r < ta2.size(); ++r) {
    EXPECT_EQ(zeroTa2[r].substr(0, 65), ta2[r].substr(0, 65)) << r;
    const std::vector<std::string> fields = Fields(zeroTa2[r].substr(1));
    for (size_t a : alphas) {
      if (fields[a] == placeholder) {
        ++withoutAlpha;
        continue;
      }
      EXPECT_NEAR(std::stod(fields[a]), 1.3, 0.05) << r;
    }
  }
  EXPECT_GT(withoutAlpha, 0);
}

// The water vapour compares the 940 nm channel with the transmittance extrapolated from 870 and
// 1020 nm. A record whose reference reads 0 has no transmittance there: an extrapolation through 0
// gave -0.19 cm (870 nm) or 0.38 cm (1020 nm) where the air holds 0.79 cm. Its vapour is the
// placeholder, in both passes; every other value of the run stays.
TEST_F(NineFilterRun, NoWaterVapourWhereAReferenceReadsZero) {
  constexpr int k870 = 2;
  const std::string data = ReadFile(dir.file("site.nsu"));
  const Outcome calibrated = Run(CalLine("2020 6 1"));
  ASSERT_EQ(calibrated.status, 0) << calibrated.err;
  const std::vector<std::string> tao = ReadLines(dir.file("result.tao"));
  ASSERT_EQ(tao.size(), 14u);
  const std::vector<std::string> vapour = Column("result.tao", "Vapor");
  ASSERT_EQ(vapour.size(), 13u);
  EXPECT_NE(vapour[6], "   0.100000E-04");

  for (int reference : {k870, k1020}) {
    SCOPED_TRACE("reference at position " + std::to_string(reference));
    std::istringstream lines(data);
    std::string zeroed;
    int k = 0;
    for (std::string line; std::getline(lines, line); ++k)
      zeroed += k == 6 ? WithZeroCount(line, reference, 9) : line + "\n";
    WriteFile(dir.file("site.nsu"), zeroed);
    const Outcome o = Run(CalLine("2020 6 1"));
    ASSERT_EQ(o.status, 0) << o.err;
    const std::vector<std::string> after = ReadLines(dir.file("result.tao"));
    ASSERT_EQ(after.size(), tao.size());
    for (const char *label : {"Vapor", "VaporT"})
      EXPECT_EQ(Column("result.tao", label)[6], "   0.100000E-04") << label;
    for (size_t r = 1; r < tao.size(); ++r)
      EXPECT_TRUE(r == 7 || after[r] == tao[r]) << r << ":\n" << after[r] << "\n" << tao[r];
  }
}

// An optical depth of 0 or less has no logarithm: the fit took ln(1e-05) for it, and a 1020 nm
// constant 10 % low (depths down to -0.02 at noon) gave the 1020/870 nm fit an alpha made up. Such a
// record has no fit of that combination, as one without an optical depth there: the placeholder in
// beta, alpha, SD and r2, counted in the note. The records with a positive depth keep their fit, and
// the other combination is untouched.
TEST_F(NineFilterRun, AnOpticalDepthOfZeroOrLessIsNotFitted) {
  // No gas to take away (pressure 0, no ozone): the optical depths are the aerosol's.
  WriteFile(dir.file("inputpar.dat"), ParameterFile(1, "cal.cal", "result.tao", 1, kLat, kLon, kAlt, "-2\n", "0\n",
                                                    {{2, 3, 4, 5}, {1, 2}}, 0, {"site.nsu"}));
  const Outcome calibrated = Run(CalLine("2020 6 1"));
  ASSERT_EQ(calibrated.status, 0) << calibrated.err;
  const std::vector<std::string> alpha1 = Column("result.tao", "Alpha1");
  ASSERT_EQ(alpha1.size(), 13u);

  std::string low = CalLine("2020 6 1");
  low.replace(low.find(" 1e6"), 4, " 0.9e6");
  const Outcome o = Run(low);
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(Column("result.tao", "Alpha1"), alpha1);
  // Value columns (from 1): the eight depths of each pass, then beta, alpha, SD, r2 of combination 1
  // and 2 in pass 1 (17..24), then in pass 2 (25..32).
  const std::string placeholder = "   0.100000E-04";
  const std::vector<std::string> tao = ReadLines(dir.file("result.tao"));
  ASSERT_EQ(tao.size(), 14u);
  int unfitted = 0, fitted = 0;
  for (size_t r = 1; r < tao.size(); ++r) {
    SCOPED_TRACE("record " + std::to_string(r));
    const std::vector<std::string> f = Fields(tao[r]);
    ASSERT_EQ(f.size(), 1u + 2 * 8 + 8 * 2 + 2);
    for (const size_t pass : {0, 1}) {
      const double depth1020 = std::stod(f[1 + 8 * pass]);
      const size_t fit = 21 + 8 * pass;
      if (depth1020 <= 0) {
        ++unfitted;
        for (size_t c = fit; c < fit + 4; ++c)
          EXPECT_EQ(f[c], placeholder) << "column " << c;
      } else {
        ++fitted;
        EXPECT_NE(f[fit + 1], placeholder);
      }
    }
  }
  EXPECT_GT(unfitted, 0);
  EXPECT_GT(fitted, 0);
  EXPECT_NE(o.err.find("morvane: " + std::to_string(unfitted / 2) + " registros sin ajuste de Ångström en la combinación 2"),
            std::string::npos)
      << o.err;
}

// A calibration file is the station's history: a filter not calibrated at its first deployment,
// years before the data, refused every run of the station. The constants in force decide: a file
// whose first line, of 2015, has a 0 at 440 nm gives the results of the file without that line.
TEST_F(NineFilterRun, AnOldCalibrationLineWithAFilterNotCalibratedChangesNothing) {
  const std::pair<std::string, std::string> withAndWithout[] = {
      {CalLine("2015 3 1", k440) + CalLine("2020 6 1"), CalLine("2020 6 1")},
      {CalLine("2015 3 1", k440) + CalLine("2019 6 1") + CalLine("2021 6 1"), CalLine("2019 6 1") + CalLine("2021 6 1")}};
  for (const auto &[with, without] : withAndWithout) {
    SCOPED_TRACE(with);
    const Outcome reference = Run(without);
    ASSERT_EQ(reference.status, 0) << reference.err;
    const std::string tao = ReadFile(dir.file("result.tao")), ta2 = ReadFile(dir.file("result.ta2"));
    ASSERT_EQ(ReadLines(dir.file("result.tao")).size(), 14u);
    ASSERT_GT(ReadLines(dir.file("result.ta2")).size(), 5u);

    const Outcome o = Run(with);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(ReadFile(dir.file("result.tao")) == tao);
    EXPECT_TRUE(ReadFile(dir.file("result.ta2")) == ta2);
    EXPECT_EQ(o.err.find("sin ajuste"), std::string::npos) << o.err;
  }
}

// Data of two days around a calibration date before which 440 nm was not calibrated: the records of
// the first day have no fit through 440 nm (the placeholder), said with the line and their number;
// those of the second are fitted as with the calibration of that date alone.
TEST_F(NineFilterRun, OnlyTheRecordsUnderAConstantOf0HaveNoFit) {
  const std::vector<double> nine = {1020, 870, 675, 440, 500, 940, 380, 340, 1640};
  std::string data;
  for (int day : {14, 16})
    for (int k = 0; k <= 12; ++k)
      data += SunLine({2020, 6, day, 8 + k / 2, (k % 2) * 30, 0}, nine, 1.3, 0.08, 1e6, kLat, kLon, 3);
  WriteFile(dir.file("site.nsu"), data);
  const Outcome calibrated = Run(CalLine("2020 6 15"));
  ASSERT_EQ(calibrated.status, 0) << calibrated.err;
  const std::vector<std::string> tao = ReadLines(dir.file("result.tao"));
  ASSERT_EQ(tao.size(), 27u);

  const Outcome o = Run(CalLine("2020 6 1", k440) + CalLine("2020 6 15"));
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.err.find("cal.cal: línea 1: 13 registros sin ajuste de Ångström en la combinación 1 (la constante de "
                       "440 nm en vigor es 0, un filtro sin calibrar)"),
            std::string::npos)
      << o.err;
  const std::vector<std::string> after = ReadLines(dir.file("result.tao"));
  ASSERT_EQ(after.size(), tao.size());
  for (const char *label : {"Beta1", "Alpha1", "SD1", "BetaT1", "AlphaT1", "SDT"}) {
    const std::vector<std::string> values = Column("result.tao", label);
    ASSERT_EQ(values.size(), 26u) << label;
    for (size_t r = 0; r < 13; ++r)
      EXPECT_EQ(values[r], "   0.100000E-04") << label << " " << r;
  }
  for (size_t r = 14; r < tao.size(); ++r)
    EXPECT_EQ(after[r], tao[r]) << r;
}

// Result files written before the output path was made faster: every byte must stay. Each case folder
// holds the run's inputs (its own tables where the installed ones do not serve) and the files it wrote.
TEST(GoldenRuns, ResultFilesAreUnchangedByteForByte) {
  namespace fs = std::filesystem;
  int cases = 0;
  for (const auto &entry : fs::directory_iterator(MORVANE_GOLDEN_DIR)) {
    SCOPED_TRACE(entry.path().filename().string());
    TempDir run;
    for (const auto &input : fs::directory_iterator(entry.path() / "input"))
      fs::copy_file(input.path(), fs::path(run.path()) / input.path().filename());
    const Outcome o = RunProgram(run.path(), {"inputpar.dat", "/G0"});
    ASSERT_EQ(o.status, 0) << o.err;
    int files = 0;
    for (const auto &expected : fs::directory_iterator(entry.path() / "expected")) {
      const std::string name = expected.path().filename().string();
      EXPECT_TRUE(ReadFile(expected.path().string()) == ReadFile(run.file(name))) << name << " differs";
      ++files;
    }
    EXPECT_GE(files, 2);
    ++cases;
  }
  EXPECT_EQ(cases, 3);
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
  EXPECT_TRUE(WaitFor("the chart program to run", [&] { return Exists("graf-ran"); }));

  std::filesystem::remove(dir.file("graf-ran"));
  EXPECT_EQ(RunProgram(dir.path(), {"inputpar.dat", "-g0"}, {"PATH=" + bin.path() + ":/usr/bin:/bin"}).status, 0);
  LetTimePass(200);  // time for a chart program, had one been started, to leave its mark
  EXPECT_FALSE(Exists("graf-ran"));
}

// Without a display, or on a platform without a screen, nobody could answer the dialog: the program
// says how to call it and ends at once.
TEST_F(ProgramTest, DialogModeWithoutAScreenSaysHowToCallIt) {
  for (const std::vector<std::string> &env :
       {std::vector<std::string>{}, std::vector<std::string>{"QT_QPA_PLATFORM=offscreen"},
        std::vector<std::string>{"QT_QPA_PLATFORM=minimal"}})
    for (const std::vector<std::string> &args : {std::vector<std::string>{}, std::vector<std::string>{"/G0"}}) {
      const Outcome o = RunProgram(dir.path(), args, env);
      SCOPED_TRACE(env.empty() ? "no display" : env[0]);
      EXPECT_EQ(o.status, 2) << o.err;
      EXPECT_NE(o.err.find("Error initializing application morvane"), std::string::npos) << o.err;
      EXPECT_NE(o.err.find("Usage: morvane PARAMETER_FILE [/G0|/G1]"), std::string::npos) << o.err;
    }
}

} // namespace
