// The station program started as cron starts it (no display, no platform named, a fresh home, default
// settings): whatever it was asked, it ends by itself with a status and says why. Reconnection is
// bounded (the bound shortened by ZELT_UNATTENDED_LIMIT), a port held by a running station program ends
// the run at once, a lock left by a killed run does not, and a plug-in that opens a window ends it.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <filesystem>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>

#include "common/tests/PlatformTestEnv.h"
#include "station/link/PortLock.h"
#include "station/UnattendedRun.h"
#include "station/link/tests/LinkTestSupport.h"
#include "station/tests/ZeltProcess.h"

namespace fs = std::filesystem;

namespace {

const std::string kZelt = std::string(ZELT_TEST_BIN_DIR) + "/zelt";

// A run as cron starts it, with its duration.
struct TimedRun : ZeltRun {
    double seconds = 0;
};

TimedRun Cron(const std::string& args, const fs::path& home, int limitSeconds = kTestProcessSeconds,
              const std::string& env = {}, const std::string& program = kZelt)
{
    QElapsedTimer clock;
    clock.start();
    TimedRun run;
    static_cast<ZeltRun&>(run) = RunAsCron(program, args, home, limitSeconds, env);
    run.seconds = clock.elapsed() / 1000.0;
    return run;
}

// The program run without the privileges of root (those that override a line's exclusive mode or read
// any file), as a scheduler's user runs it; the account stays root's, so that the pseudo-terminals the
// test makes are the run's to open.
const char* const kUnprivileged = "/usr/bin/setpriv";
const std::string kNoCapabilities = "--bounding-set=-all --inh-caps=-all";

TimedRun UnprivilegedCron(const std::string& args, const fs::path& home, int limitSeconds = kTestProcessSeconds,
                          const std::string& env = {})
{
    return Cron(kNoCapabilities + " '" + kZelt + "' " + args, home, limitSeconds, env, kUnprivileged);
}

// A first station program left running on a port, started as cron starts it, without root's privileges.
class FirstRun {
public:
    FirstRun(const fs::path& home, const std::string& port)
    {
        fs::create_directories(home);
        QProcessEnvironment env;
        env.insert("PATH", "/usr/bin:/bin");
        env.insert("HOME", QString::fromStdString(home.string()));
        env.insert("ZELT_UNATTENDED_LIMIT", "60");
        Process.setProcessEnvironment(env);
        Process.setStandardInputFile(QProcess::nullDevice());
        QStringList args = QString::fromStdString(kNoCapabilities).split(' ');
        args << QString::fromStdString(kZelt) << QString::fromStdString("-COM=" + port);
        Process.start(kUnprivileged, args);
    }
    ~FirstRun()
    {
        if (Process.state() == QProcess::NotRunning) return;
        Process.kill();
        Process.waitForFinished(kTestDeadlineMs);
    }
    // True once the port is open (the program says so on standard error).
    bool WaitPortOpen()
    {
        return WaitUntilReading(Process, [&] {
            Err += Process.readAllStandardError().toStdString();
            return Err.find("active communication port") != std::string::npos ||
                   Process.state() == QProcess::NotRunning;
        }) && Err.find("active communication port") != std::string::npos;
    }
    QProcess Process;
    std::string Err;
};

// A second run asked for `port`, held by the running station program `pid`: refused, never opened.
void ExpectRefusedWhileHeld(const std::string& port, const std::string& pid, const fs::path& home)
{
    const TimedRun second = UnprivilegedCron("-COM=" + port, home);
    EXPECT_EQ(second.status, 1) << second.err;
    EXPECT_NE(second.err.find("ERROR: Port " + port + " is in use by another station program (process " + pid + ")"),
              std::string::npos)
        << second.err;
    EXPECT_EQ(second.err.find("active communication port"), std::string::npos) << second.err;
}

// A lock file named after the port lies in one of the usual lock folders.
bool LockFileLeft(const std::string& port)
{
    const std::string name = PortLockFileName(port);
    for (const char* folder : {"/var/lock", "/run/lock", "/tmp", "/var/tmp"})
        if (fs::exists(fs::path(folder) / name)) return true;
    return false;
}

}  // namespace

class ProgramFromCronOnAPort : public ::testing::Test {
protected:
    void SetUp() override { linktest::EnsureApp(); }
    ScopedTestHome home;
};

// With the default settings (automatic reconnection on) a port that does not exist, or one on which
// nothing ever answers, is tried for the bound and then given up with status 1.
TEST_F(ProgramFromCronOnAPort, MissingOrSilentPortIsGivenUpAfterTheBound)
{
    const std::string missing = (home.Root() / "no-such-tty").string();
    const TimedRun gone = Cron("-COM=" + missing, home.Root() / "missing", kTestProcessSeconds, "ZELT_UNATTENDED_LIMIT=3");
    EXPECT_EQ(gone.status, 1) << gone.err;
    EXPECT_NE(gone.err.find("ERROR: No connection on " + missing + " after 3 s: giving up"), std::string::npos)
        << gone.err;
    EXPECT_GE(gone.seconds, 2.5);

    linktest::Pty line;  // held open by the test and never written: a silent instrument
    const TimedRun silent = Cron("-COM=" + line.SlaveName, home.Root() / "silent", kTestProcessSeconds, "ZELT_UNATTENDED_LIMIT=3");
    EXPECT_EQ(silent.status, 1) << silent.err;
    EXPECT_NE(silent.err.find("active communication port"), std::string::npos) << silent.err;
    EXPECT_NE(silent.err.find("ERROR: No answer on " + line.SlaveName + " for 3 s: giving up"), std::string::npos)
        << silent.err;
    EXPECT_GE(silent.seconds, 2.5);
}

// A second run on a port that a running station program holds ends at once, naming the port and the
// process; once that program is killed, its lock left behind does not keep the next run off the port.
// Every run is without root's privileges, which would open a line whatever state it was left in.
TEST_F(ProgramFromCronOnAPort, PortHeldByARunningProgramEndsAtOnceAStaleLockDoesNot)
{
    linktest::Pty line;
    line.CloseSlave();  // the far end alone keeps the line: as a simulator or a network bridge does
    {
        FirstRun first(home.Root() / "first", line.SlaveName);
        ASSERT_TRUE(first.WaitPortOpen()) << "the first run never opened the port\n" << first.Err;
        const std::string pid = std::to_string(first.Process.processId());

        ExpectRefusedWhileHeld(line.SlaveName, pid, home.Root() / "second");  // at once: not after the bound
        EXPECT_EQ(first.Process.state(), QProcess::Running) << "the second run must leave the first alone";

        first.Process.kill();
        ASSERT_TRUE(WaitForProcessEnd(first.Process));
    }
    ASSERT_TRUE(LockFileLeft(line.SlaveName)) << "the killed run left no lock: nothing stale to take over";

    const TimedRun third =
        UnprivilegedCron("-COM=" + line.SlaveName, home.Root() / "third", kTestProcessSeconds, "ZELT_UNATTENDED_LIMIT=2");
    EXPECT_NE(third.err.find("active communication port"), std::string::npos) << third.err;
    EXPECT_EQ(third.err.find("in use"), std::string::npos) << third.err;
    EXPECT_EQ(third.status, 1) << third.err;  // nothing answers on the port: given up after the bound
}

// A line left in exclusive mode by a program that is gone (a run of an older version killed, a program
// that takes no lock) cannot be opened without root's privileges: the run says why and what frees it.
TEST_F(ProgramFromCronOnAPort, LineLeftReservedByAProgramGoneSaysWhatFreesIt)
{
    linktest::Pty line;
    ASSERT_EQ(::ioctl(line.Slave, TIOCEXCL), 0);
    line.CloseSlave();
    const TimedRun run =
        UnprivilegedCron("-COM=" + line.SlaveName, home.Root() / "run", kTestProcessSeconds, "ZELT_UNATTENDED_LIMIT=2");
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("ERROR: Unable to open port " + line.SlaveName +
                           ": Device or resource busy, and no running program holds its lock"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("Reconnecting the device, or restarting the program that offers the line, frees it"),
              std::string::npos)
        << run.err;
}

// One line under two names (a link to the device, and the device itself): a second run is refused
// whatever name it was given, and while a run holds the line no other program that locks the lines it
// uses (flock, as terminal programs do) can take it, even one started by the same user.
TEST_F(ProgramFromCronOnAPort, OneLineUnderTwoNamesIsOpenedByOneRunOnly)
{
    linktest::Pty line;
    const fs::path link = home.Root() / "instrument-tty";
    fs::create_symlink(line.SlaveName, link);
    // Another program, without root's privileges, that locks the line it opens: it takes the free line.
    const std::string opener = std::string(kUnprivileged) + " " + kNoCapabilities + " flock --nonblock '" +
                               line.SlaveName + "' true 2>/dev/null";
    ASSERT_EQ(std::system(opener.c_str()), 0) << "the free line cannot be taken: the check below would prove nothing";
    FirstRun first(home.Root() / "first", link.string());
    ASSERT_TRUE(first.WaitPortOpen()) << "the first run never opened the port\n" << first.Err;
    const std::string pid = std::to_string(first.Process.processId());

    ExpectRefusedWhileHeld(line.SlaveName, pid, home.Root() / "second");

    EXPECT_NE(std::system(opener.c_str()), 0) << "another program opened the line the station holds";
    EXPECT_EQ(first.Process.state(), QProcess::Running) << "the refused openers must leave the first run alone";
}

// A command line the program cannot follow, from a scheduler, does nothing and says why: an argument it
// does not know, a settings file it cannot have, a conversion without its folder end the run at once
// with the options it takes; a data file that cannot be loaded, or is no file at all (a FIFO, which
// would hold the run for ever), with the reason. Qt's own options are followed.
TEST(ProgramFromCronWithAWrongCommandLine, EndsAtOnceSayingWhy)
{
    ScopedTestHome home;
    struct Case {
        std::string args, said;
        int status;
    };
    const fs::path junk = home.Root() / "junk.q5", locked = home.Root() / "locked.q5";
    ScopedTestHome::Write(junk, std::string(300, 'x'));
    const std::string q5gen = std::string(ZELT_TEST_BIN_DIR) + "/q5gen";
    ASSERT_EQ(std::system(("'" + q5gen + "' --records 4 '" + locked.string() + "' >/dev/null").c_str()), 0);
    fs::permissions(locked, fs::perms::none);
    const std::string missing = (home.Root() / "missing.q5").string();
    const fs::path good = home.Root() / "good.q5", fifo = home.Root() / "fifo.q5", out = home.Root() / "out";
    ASSERT_EQ(std::system(("'" + q5gen + "' --records 4 '" + good.string() + "' >/dev/null").c_str()), 0);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);  // no writer ever comes
    fs::create_directories(out);
    const std::string noFolder = (home.Root() / "no-folder" / "zelt.ini").string();
    const Case cases[] = {
        {"-COM /dev/ttyUSB0", "ERROR: Unknown argument -COM\n", kBadCommandLine},
        {"--COM=/dev/ttyUSB0", "ERROR: Unknown argument --COM=/dev/ttyUSB0\n", kBadCommandLine},
        {"-BOGUS", "ERROR: Unknown argument -BOGUS\n", kBadCommandLine},
        {"--help", "ERROR: Unknown argument --help\n", kBadCommandLine},
        {"'" + missing + "'", "ERROR: Unable to load " + missing + ": No such file or directory", kUnattendedFailed},
        {"'" + home.Root().string() + "'", "ERROR: Unable to load " + home.Root().string() + ": Is a directory",
         kUnattendedFailed},
        {"'" + locked.string() + "'", "ERROR: Unable to load " + locked.string() + ": Permission denied",
         kUnattendedFailed},
        {"'" + junk.string() + "'", "ERROR: Unable to load " + junk.string() + ": not a data file", kUnattendedFailed},
        {"'" + fifo.string() + "'", "ERROR: Unable to load " + fifo.string() + ": not a regular file (a FIFO)",
         kUnattendedFailed},
        {"-ASCII '" + fifo.string() + "' '" + out.string() + "'",
         "ERROR: Unable to load " + fifo.string() + ": not a regular file (a FIFO)", kUnattendedFailed},
        // Settings that cannot be had: the run would keep its data where nobody asked.
        {"'-CONFIG=" + noFolder + "' -COM=/dev/ttyUSB0",
         "ERROR: Unable to use the settings file " + noFolder + ": No such file or directory", kBadCommandLine},
        {"-CONFIG", "ERROR: Unknown argument -CONFIG\n", kBadCommandLine},
        {"-CONFIGURE", "ERROR: Unknown argument -CONFIGURE\n", kBadCommandLine},
        {"-ASCII '" + good.string() + "'", "Incorrect number of parameters!", kBadCommandLine},
        {"-ASCII '" + missing + "' '" + out.string() + "'",
         "ERROR: Unable to load " + missing + ": No such file or directory", kUnattendedFailed},
        // Qt's own options are taken as in any Qt program.
        {"-platform offscreen '" + good.string() + "'", "", kUnattendedDone},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const fs::path account = home.Root() / ("account" + std::to_string(++n));
        // Without the privileges that read any file, as a scheduler's user runs it.
        const TimedRun run = Cron("--bounding-set=-all --inh-caps=-all '" + kZelt + "' -NOSPLASH " + c.args, account,
                                  kTestProcessSeconds, "", "/usr/bin/setpriv");
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
        if (c.status == kBadCommandLine) {
            EXPECT_NE(run.err.find("Usage: zelt [-COM=<port>"), std::string::npos) << run.err;
            // Nothing was done: not even the program's registration for data files.
            EXPECT_FALSE(fs::exists(account / ".local" / "share" / "applications")) << run.err;
        }
    }
}

// A plug-in window waits for a user; from cron there is none. The run ends as soon as the plug-in opens
// one; a plug-in that only warns and returns ends it too.
TEST(ProgramFromCronRunningAPlugIn, PlugInThatOpensAWindowEndsAtOnce)
{
    ScopedTestHome home;
    const fs::path days = home.Root() / "days.Q5", plain = home.Root() / "plain.Q5";
    const std::string q5gen = std::string(ZELT_TEST_BIN_DIR) + "/q5gen";
    ASSERT_EQ(std::system(("'" + q5gen + "' --sun-days 1 --start 2025-06-20 --interval 900 '" + days.string() +
                           "' >/dev/null").c_str()), 0);
    ASSERT_EQ(std::system(("'" + q5gen + "' --records 12 '" + plain.string() + "' >/dev/null").c_str()), 0);

    struct Case {
        std::string name, args;
    };
    for (const Case& c : {Case{"tessaly", "'" + days.string() + "'"}, Case{"merrow", ""}, Case{"radiometre", ""}}) {
        const TimedRun run = Cron("-NOSPLASH -RUN=" + c.name + " " + c.args, home.Root() / c.name);
        EXPECT_EQ(run.status, 1) << c.name << "\n" << run.err;
        EXPECT_NE(run.err.find("ERROR: The plug-in " + c.name + " needs a screen"), std::string::npos)
            << c.name << "\n" << run.err;
    }

    // The radiometer finds no instrument it knows in the file, says so and returns without a window.
    const TimedRun warned = Cron("-NOSPLASH -RUN=radiometre '" + plain.string() + "'", home.Root() / "warned");
    EXPECT_EQ(warned.status, 0) << warned.err;
    EXPECT_NE(warned.err.find("Unknown instrument"), std::string::npos) << warned.err;
    EXPECT_EQ(warned.err.find("needs a screen"), std::string::npos) << warned.err;
}
