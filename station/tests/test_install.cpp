// The system installed by `cmake --install` into a temporary prefix, its programs then run from there
// as a new user runs them: from another folder, without any environment variable that points at the
// build or the data, and with the installed files (not the build tree's) doing the work.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/tests/PlatformTestEnv.h"
#include "common/tests/StationProcess.h"
#include "station/tests/ZeltProcess.h"
#include "tools/simulator/SimProcess.h"
#include "common/tests/support/TestWait.h"

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status = -1;
    std::string out, err;
};

class Installed : public ::testing::Test {
protected:
    void SetUp() override
    {
        prefix = home.Root() / "installed";
        const Outcome install = RunCommand(ZELT_CMAKE_COMMAND, {"--install", ZELT_BUILD_DIR, "--prefix", prefix.string()},
                                       QProcessEnvironment::systemEnvironment());
        ASSERT_EQ(install.status, 0) << install.out << install.err;
        work = home.Root() / "work";
        fs::create_directories(work);
    }

    // A new user's environment with nothing that points at the build or its data.
    QProcessEnvironment UserEnvironment() const
    {
        QProcessEnvironment env = FreshAccountEnvironment(home);
        for (const char* name : {"ZELT_DATA_DIR", "ZELT_BIN_DIR", "ZELT_SOURCE_DIR", "LD_LIBRARY_PATH"})
            env.remove(name);
        return env;
    }

    Outcome RunCommand(const std::string& program, const std::vector<std::string>& args, const QProcessEnvironment& env,
                   int ms = kTestProcessSeconds * 1000) const
    {
        QProcess process;
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(QString::fromStdString(work.empty() ? home.Root().string() : work.string()));
        QStringList list;
        for (const std::string& a : args) list << QString::fromStdString(a);
        process.start(QString::fromStdString(program), list);
        Outcome r;
        if (!process.waitForStarted(kTestDeadlineMs)) {
            r.err = "not started: " + program;
            return r;
        }
        if (!process.waitForFinished(ms)) {
            StopProcess(process);
            r.err = "still running after " + std::to_string(ms / 1000) + " s: " + program;
        } else if (process.exitStatus() == QProcess::NormalExit) {
            r.status = process.exitCode();
        }
        r.out += process.readAllStandardOutput().toStdString();
        r.err += process.readAllStandardError().toStdString();
        return r;
    }
    Outcome RunInstalled(const std::string& program, const std::vector<std::string>& args) const
    {
        return RunCommand((prefix / "bin" / program).string(), args, UserEnvironment());
    }

    ScopedTestHome home;
    fs::path prefix, work;
};

}  // namespace

TEST_F(Installed, LaysOutProgramsLibrariesPlugInsAndData)
{
    for (const char* file : {"bin/zelt", "bin/morvane", "lib/libzeltcore.so", "lib/libzeltanalysis.so",
                             "lib/libzeltchart.so", "lib/zelt/PlugIns/tessaly.so", "lib/zelt/PlugIns/aot.so",
                             "lib/zelt/PlugIns/merrow.so", "lib/zelt/PlugIns/radiometre.so",
                             "lib/zelt/PlugIns/radiometre.ini", "share/zelt/InsList.dat", "share/zelt/ScnList.dat",
                             "share/zelt/SP0A0000.PAR", "share/zelt/morvane/instruments.dat",
                             "share/zelt/help/index.html", "share/zelt/help/radiometre.html",
                             "share/zelt/q5x/cold-night.q5x", "share/zelt/zelt.svg"})
        EXPECT_TRUE(fs::is_regular_file(prefix / file)) << file;
    // Nothing installed points into the build tree.
    const Outcome elf = RunCommand("readelf", {"-d", (prefix / "bin" / "zelt").string(),
                                           (prefix / "lib" / "zelt" / "PlugIns" / "radiometre.so").string()},
                               QProcessEnvironment::systemEnvironment());
    EXPECT_EQ(elf.out.find(ZELT_BUILD_DIR), std::string::npos) << elf.out;
    EXPECT_NE(elf.out.find("$ORIGIN"), std::string::npos) << elf.out;
}

// A batch conversion by the installed program reads the installed description files: a parameter name
// changed there shows in the parameter dump.
TEST_F(Installed, BatchConversionUsesTheInstalledDescriptionFiles)
{
    const fs::path par = prefix / "share" / "zelt" / "SP0A0000.PAR";
    std::string text = ScopedTestHome::Read(par);
    const size_t at = text.find("Instrument_type");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, 15, "Instrument_kind");
    ScopedTestHome::Write(par, text);

    const std::string sample = std::string(ZELT_TEST_SOURCE_DIR) + "/station/tests/golden/sample.Q5";
    fs::copy_file(sample, work / "sample.Q5");
    fs::create_directories(work / "out");
    const Outcome run = RunInstalled("zelt", {"-PAR", "sample.Q5", "out"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ScopedTestHome::Read(work / "out" / "sample_PAR.TXT").rfind("Instrument_kind = 0A", 0), 0u)
        << ScopedTestHome::Read(work / "out" / "sample_PAR.TXT").substr(0, 80);
    const Outcome ascii = RunInstalled("zelt", {"-ASCII", "sample.Q5", "out"});
    ASSERT_EQ(ascii.status, 0) << ascii.err;
    EXPECT_FALSE(fs::is_empty(work / "out"));
}

// The installed Morvane finds its tables in the installed data folder: it computes, and a table taken
// away from there is missed by its installed path.
TEST_F(Installed, MorvaneReadsTheInstalledTables)
{
    const Outcome usage = RunInstalled("morvane", {});
    EXPECT_EQ(usage.status, 2) << usage.err;

    // A run whose folder holds no table of its own.
    const fs::path golden = fs::path(ZELT_TEST_SOURCE_DIR) / "morvane" / "tests" / "golden" / "vapour_screened";
    for (const auto& e : fs::directory_iterator(golden / "input")) fs::copy_file(e.path(), work / e.path().filename());
    ASSERT_FALSE(fs::exists(work / "instruments.dat"));
    const Outcome run = RunInstalled("morvane", {"inputpar.dat", "/G0"});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(ScopedTestHome::Read(work / "result.tao"), ScopedTestHome::Read(golden / "expected" / "result.tao"));

    const fs::path instruments = prefix / "share" / "zelt" / "morvane" / "instruments.dat";
    fs::remove(instruments);
    const Outcome missing = RunInstalled("morvane", {"inputpar.dat", "/G0"});
    EXPECT_NE(missing.status, 0);
    EXPECT_NE((missing.out + missing.err).find(instruments.string()), std::string::npos) << missing.out << missing.err;
}

// The installed station program loads the installed plug-ins with the installed libraries, writes a
// desktop entry that names itself and an icon that exists (and passes desktop-file-validate), and the
// radiometer plug-in finds its default calibrations beside itself.
TEST_F(Installed, PlugInRunsFromTheInstalledTree)
{
    const std::string q5gen = std::string(ZELT_TEST_BIN_DIR) + "/q5gen";
    const Outcome made = RunCommand(q5gen, {"--id", "SP0B0001", "--records", "36", "--interval", "300", "--start",
                                        "2025-06-21T04:00:00", (work / "ird.q5").string()},
                                QProcessEnvironment::systemEnvironment());
    ASSERT_EQ(made.status, 0) << made.err;

    QProcess zelt;
    zelt.setProcessEnvironment(UserEnvironment());
    zelt.setWorkingDirectory(QString::fromStdString(work.string()));
    zelt.start(QString::fromStdString((prefix / "bin" / "zelt").string()), {"-NOSPLASH", "-RUN=radiometre", "ird.q5"});
    ASSERT_TRUE(zelt.waitForStarted(kTestDeadlineMs));
    const std::string maps = "/proc/" + std::to_string(zelt.processId()) + "/maps";
    const std::string plugIn = (prefix / "lib" / "zelt" / "PlugIns" / "radiometre.so").string();
    std::string mapped;
    WaitUntilReading(zelt, [&] {
        mapped = ScopedTestHome::Read(maps);
        return mapped.find(plugIn) != std::string::npos || zelt.state() != QProcess::Running;
    });
    EXPECT_EQ(zelt.state(), QProcess::Running) << zelt.readAllStandardError().toStdString();
    StopProcess(zelt);
    ASSERT_NE(mapped.find(plugIn), std::string::npos) << "the installed plug-in was never loaded\n"
                                                      << zelt.readAllStandardError().toStdString();
    for (const char* library : {"libzeltcore.so", "libzeltanalysis.so", "libzeltchart.so"})
        EXPECT_NE(mapped.find((prefix / "lib" / library).string()), std::string::npos) << library;
    EXPECT_EQ(mapped.find(ZELT_BUILD_DIR), std::string::npos) << "a file of the build tree is loaded";

    // Without any display the run ends as the plug-in's window opens: by then the plug-in has said on
    // standard error all it says on the way, and found its calibrations.
    QProcessEnvironment noDisplay = UserEnvironment();
    noDisplay.remove("QT_QPA_PLATFORM");
    const Outcome windowReached =
        RunCommand((prefix / "bin" / "zelt").string(), {"-NOSPLASH", "-RUN=radiometre", "ird.q5"}, noDisplay);
    EXPECT_NE(windowReached.err.find("ERROR: The plug-in radiometre needs a screen"), std::string::npos)
        << windowReached.err;
    EXPECT_EQ(windowReached.err.find("Calibration missing"), std::string::npos) << windowReached.err;

    const fs::path entry = home.Root() / "data" / "applications" / "zelt-q5.desktop";
    const std::string text = ScopedTestHome::Read(entry);
    EXPECT_NE(text.find("Exec=\"" + (prefix / "bin" / "zelt").string() + "\" %F\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Icon=" + (prefix / "share" / "zelt" / "zelt.svg").string() + "\n"), std::string::npos) << text;
    const Outcome valid = RunCommand("desktop-file-validate", {entry.string()}, QProcessEnvironment::systemEnvironment());
    EXPECT_EQ(valid.status, 0) << valid.out << valid.err;
    EXPECT_EQ(valid.out + valid.err, "");
}

// The README's crontab line, with the installed program's prefix and the simulator's pseudo-terminal in
// place of the example's, run as cron runs it: a new account with only PATH and HOME, through the shell.
// The download is kept in the per-user data folder and the run ends with status 0.
TEST_F(Installed, ReadmeCrontabLineDownloadsAsCronRunsIt)
{
    const std::string readme = ScopedTestHome::Read(fs::path(ZELT_TEST_SOURCE_DIR) / "README.md");
    const size_t at = readme.find("\n    5 * * * * ");
    ASSERT_NE(at, std::string::npos) << "no crontab line in the README";
    std::string command = readme.substr(at + 14, readme.find('\n', at + 1) - at - 14);
    const auto replace = [&](const std::string& from, const std::string& to) {
        const size_t where = command.find(from);
        ASSERT_NE(where, std::string::npos) << from << " not in: " << command;
        command.replace(where, from.size(), to);
    };
    const fs::path tty = home.Root() / "tty";
    replace("/opt/zelt", prefix.string());
    replace("/dev/ttyUSB0", tty.string());

    zsim::SimProcess sim;
    ASSERT_TRUE(sim.Start(zsim::SimProcess::DefaultProgram(), {"--pty", "--link", tty.string(), "--records", "6"},
                          (home.Root() / "report.txt").string()));
    const fs::path account = home.Root() / "cron-account";
    fs::create_directories(account);
    ScopedTestHome::Write(home.Root() / "cron.sh", command + "\n");
    const ZeltRun run = RunAsCron("/bin/sh", "'" + (home.Root() / "cron.sh").string() + "'", account);
    sim.Stop();
    const std::string log = ScopedTestHome::Read(account / "zelt-cron.log");
    EXPECT_EQ(run.status, 0) << command << "\n" << log << run.err;
    std::vector<fs::path> kept;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(account / ".local" / "share" / "zelt", ec))
        if (e.path().extension() == ".Q5") kept.push_back(e.path());
    ASSERT_EQ(kept.size(), 1u) << log;
    EXPECT_NE(log.find("The download is kept in " + kept.front().string()), std::string::npos) << log;
}
