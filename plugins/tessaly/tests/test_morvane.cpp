// The calibration file Tessaly writes, read by the project's Morvane on the same data: the station's
// ASCII export of the sun triplets with the AOT plug-in's settings, Morvane's parameter file, and
// every optical depth on its own channel.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QDialog>
#include <QProcess>
#include <QTableWidget>
#include <cmath>
#include <sstream>

#include "common/Prompt.h"
#include "plugins/tessaly/tests/TessalyTestEnv.h"
#include "common/tests/support/TestWait.h"

using namespace tessaly_test;

namespace {
int RunProgram(const std::string& program, const QStringList& args, const std::filesystem::path& folder, std::string& out) {
  QProcess p;
  p.setProgram(QString::fromStdString(BinDir() + "/" + program));
  p.setArguments(args);
  p.setWorkingDirectory(QString::fromStdString(folder.string()));
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start();
  if (!p.waitForFinished(kTestDeadlineMs)) return -1;
  out = p.readAll().toStdString();
  return p.exitCode();
}
}  // namespace

TEST(TessalyMorvane, CalibrationFileReadWithEveryConstantOnItsChannel) {
  Station station;
  station.LoadSunDays("days.Q5", "--sun-days 1 --start 2025-06-20 --interval 600 --param SITE=7 --param LAT=28.31 "
                                 "--param LON=-16.50 --param ALT=0");
  ScopedPromptScript prompts({PromptYes, PromptYes});
  station.Run([](QWidget& w) {
    WhenShown("ChoixDateFrm", [](QWidget& dialog) {
      dialog.findChild<QDateTimeEdit*>("DateTimePicker1")->setDate(QDate(2025, 6, 20));
      static_cast<QDialog&>(dialog).accept();
    });
    w.findChild<QAbstractButton*>("Button1")->click();
    w.findChild<QAbstractButton*>("BgrLinesViewBtn")->click();
    w.findChild<QCheckBox*>("FitToLineOnChkBx")->click();
    w.findChild<QAbstractButton*>("SaveBgrResultBtn")->click();
  });
  const std::filesystem::path calib = station.home.Root() / "data" / "zelt" / "Calibration" / "calibr7.cal";
  ASSERT_TRUE(std::filesystem::exists(calib));

  // The station's export of the data file with the AOT plug-in's settings (list separators that
  // Morvane's list-directed reading takes).
  const std::filesystem::path work = station.home.Root() / "work";
  std::filesystem::create_directories(work / "ascii");
  ScopedTestHome::Write(work / "aot.ini", "[General]\r\nYear4Digits=1\r\nQuotedDateTime=0\r\nShowZeroDate=0\r\n"
                                          "ForceDisplayDecimalValue=1\r\nSepDec=.\r\nSepTime=,\r\nSepDate=,\r\nSepList=,\r\n");
  std::string out;
  ASSERT_EQ(RunProgram("zelt", {"-CONFIG=" + QString::fromStdString((work / "aot.ini").string()), "-ASCII",
                                QString::fromStdString(station.path), QString::fromStdString((work / "ascii").string())},
                       work, out),
            0)
      << out;
  const std::filesystem::path nsu = work / "ascii" / "days.NSU";
  ASSERT_TRUE(std::filesystem::exists(nsu)) << out;

  ScopedTestHome::Write(work / "inputpar.dat", "1\n" + calib.string() + "\n" + (work / "days.tao").string() +
                                                   "\n0\n28.31\n-16.5\n0\n-2\n300\n1\n4\n2 3 4 5\n-1\n" + nsu.string() + "\n");
  ASSERT_EQ(RunProgram("morvane", {QString::fromStdString((work / "inputpar.dat").string()), "/G0"}, work, out), 0) << out;
  std::istringstream tao(ScopedTestHome::Read(work / "days.tao"));
  std::string header;
  std::getline(tao, header);
  std::istringstream names(header);
  std::vector<std::string> columns;
  for (std::string c; names >> c;) columns.push_back(c);
  // The sun days' aerosol: Angstrom beta 0.08, alpha 1.3. Morvane also removes ozone and NO2, which
  // the sun days do not hold: a few hundredths at most. A constant on a wrong channel is off by
  // tenths.
  const std::map<std::string, double> channels = {{"Ta1020", 1020}, {"Ta0870", 870}, {"Ta0675", 675}, {"Ta0440", 440},
                                                  {"Ta0500", 500},  {"Ta1640", 1640}};
  int rows = 0;
  for (std::string line; std::getline(tao, line);) {
    std::istringstream fields(line);
    std::map<std::string, double> row;
    for (const std::string& c : columns) fields >> row[c];
    if (!fields || row["Mass"] > 3) continue;
    ++rows;
    for (const auto& [name, nm] : channels)
      EXPECT_NEAR(row[name], 0.08 * std::pow(nm / 1000, -1.3), 0.03) << name << " at " << line.substr(0, 40);
  }
  EXPECT_GT(rows, 20);
}
