// Downloads as a scheduled station runs them: the program itself started with a port on its command
// line (no screen), against the instrument simulator on a pseudo-terminal, saving each download and
// its ASCII files; a fresh user account whose store the program fills itself.
#include <gtest/gtest.h>

#include <QProcess>

#include <algorithm>
#include <csignal>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/tests/PlatformTestEnv.h"
#include "station/link/PortLock.h"
#include "station/tests/ZeltProcess.h"
#include "tools/simulator/SimImage.h"
#include "tools/simulator/SimProcess.h"

namespace fs = std::filesystem;

namespace {

class AutoRecord : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(rec);  // the folder the user chose for the recordings
        fs::create_directories(home.Root() / "ascii");
    }
    void TearDown() override { sim.Stop(); }

    void WriteSettings(const std::string& extra)
    {
        ScopedTestHome::Write(home.Root() / "zelt.ini",
                              "[General]\r\nAutoRecord=1\r\nAutoRecordPath=" + rec.string() +
                                  "/\r\nCreateASCIIFiles=1\r\nASCIIPeriod=0\r\nAddASCIIHeader=1\r\n"
                                  "SmartSetTime=0\r\nHardSetTime=0\r\n" + extra);
    }
    // The simulated instrument plays the same memory in every session, 0.3 s after the last one.
    void StartSim(const char* again = "0.3")
    {
        ASSERT_TRUE(sim.Start(zsim::SimProcess::DefaultProgram(),
                              {"--pty", "--link", (home.Root() / "tty").string(), "--records", "6", "--again", again},
                              (home.Root() / "report.txt").string()));
    }
    ZeltRun Zelt(const std::string& args) { return RunZelt(home.Root(), args, true); }
    ZeltRun Download() { return Zelt("-COM=" + (home.Root() / "tty").string()); }

    std::vector<std::string> Recorded(const std::string& extension)
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(rec))
            if (e.path().extension() == extension) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    // Automatic names carry the minute: start where two downloads surely share one.
    static void AwaitFreshMinute()
    {
        const std::time_t now = std::time(nullptr);
        std::tm tm{};
        localtime_r(&now, &tm);
        // Two downloads take a few seconds, many more on a loaded machine: half a minute is left for them.
        if (tm.tm_sec > 30) std::this_thread::sleep_for(std::chrono::seconds(61 - tm.tm_sec));
    }

    ScopedTestHome home;
    fs::path rec = home.Root() / "rec";
    zsim::SimProcess sim;
};

}  // namespace

TEST_F(AutoRecord, AsciiFilesOfTwoDownloadsInOneMinuteAreKeptAndNamedLikeTheirDataFile)
{
    // Format settings other than the defaults: the automatic files and a later batch conversion of
    // the same data file must both follow them.
    WriteSettings("SepList=;\r\nSepDec=,\r\nSepDate=-\r\nYear4Digits=0\r\nQuotedDateTime=1\r\n");
    StartSim();
    AwaitFreshMinute();
    ZeltRun r = Download();
    ASSERT_EQ(r.status, 0) << r.err;
    r = Download();
    ASSERT_EQ(r.status, 0) << r.err;

    const auto q5 = Recorded(".Q5");
    ASSERT_EQ(q5.size(), 2u);
    const std::string stem = fs::path(q5[0]).stem().string();
    EXPECT_EQ(q5[1], stem + "_1.Q5");
    // Each data file has its own ASCII files, the second one's with the same suffix.
    EXPECT_EQ(Recorded(".SUN"), (std::vector<std::string>{stem + ".SUN", stem + "_1.SUN"}));

    // The automatic files name their columns after the instrument's filters, as the same data file
    // converted afterwards does.
    const std::string automatic = ScopedTestHome::Read(rec / (stem + ".SUN"));
    const std::string header = automatic.substr(0, automatic.find("\r\n"));
    EXPECT_NE(header.find("340"), std::string::npos) << header;
    EXPECT_EQ(header.find("n\xB0"), std::string::npos) << header;
    r = Zelt("-ASCII '" + (rec / q5[0]).string() + "' '" + (home.Root() / "ascii").string() + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(automatic, ScopedTestHome::Read(home.Root() / "ascii" / (stem + ".SUN")));
    EXPECT_NE(automatic.find("\r\n\""), std::string::npos) << automatic;  // quoted dates
    EXPECT_NE(automatic.find(";-16,9\r\n"), std::string::npos) << automatic;
}

// A scheduled run takes one download, even when the instrument starts its next session at once.
TEST_F(AutoRecord, RunTakesOneDownloadThoughTheInstrumentStartsAnotherAtOnce)
{
    WriteSettings("");
    StartSim("0");
    const ZeltRun r = Download();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Recorded(".Q5").size(), 1u) << r.err;
    size_t established = 0;
    for (size_t at = 0; (at = r.err.find("Communication established.", at)) != std::string::npos; ++at) ++established;
    EXPECT_EQ(established, 1u) << r.err;
}

TEST_F(AutoRecord, OptimisedDownloadStopsAtTheFirstRecordAlreadyHeld)
{
    WriteSettings("OptimizeTransmission=1\r\n");
    StartSim();
    ZeltRun r = Download();
    ASSERT_EQ(r.status, 0) << r.err;
    const size_t firstSession = sim.Report().size();
    // A new run of the program, as a scheduler starts it: what it knows comes from the user's store.
    r = Download();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Optimization : The last scenario was already received."), std::string::npos) << r.err;

    const auto report = sim.Report();
    ASSERT_GT(report.size(), firstSession);
    const std::vector<std::string> second(report.begin() + long(firstSession), report.end());
    EXPECT_EQ(std::count(second.begin(), second.end(), "ASK aT"), 1);
    EXPECT_EQ(std::count(second.begin(), second.end(), "ASK jT"), 0);  // nothing asked after the first record
    EXPECT_GE(std::count(report.begin(), report.begin() + long(firstSession), "ASK jT"), 5);  // the first took all
}

// From a scheduler (cron): the built program with only PATH and HOME, no display, a fresh account, the
// simulator on a pseudo-terminal. Whatever the settings, a download is never lost without a word.
class ScheduledDownload : public ::testing::Test {
protected:
    void TearDown() override { sim.Stop(); }

    void StartSim(const std::vector<std::string>& extra)
    {
        std::vector<std::string> args = {"--pty", "--link", tty.string(), "--records", "6"};
        args.insert(args.end(), extra.begin(), extra.end());
        ASSERT_TRUE(sim.Start(zsim::SimProcess::DefaultProgram(), args, (home.Root() / "report.txt").string()));
    }
    // A run started as cron starts it and left going; `launcher` (a program and its words) starts it.
    void StartRun(QProcess& zelt, QStringList launcher = {}, const QString& extraEnvironment = {})
    {
        fs::create_directories(account);
        QProcessEnvironment env;
        env.insert("PATH", "/usr/bin:/bin");
        env.insert("HOME", QString::fromStdString(account.string()));
        if (!extraEnvironment.isEmpty()) env.insert(extraEnvironment.section('=', 0, 0), extraEnvironment.section('=', 1));
        zelt.setProcessEnvironment(env);
        zelt.setStandardInputFile(QProcess::nullDevice());
        launcher << QString(ZELT_TEST_BIN_DIR) + "/zelt" << QString::fromStdString("-COM=" + tty.string());
        const QString program = launcher.takeFirst();
        zelt.start(program, launcher);
        ASSERT_TRUE(zelt.waitForStarted(kTestDeadlineMs));
    }
    // Records the run's log says it received.
    static size_t ReceivedRecords(const std::string& err)
    {
        size_t n = 0;
        for (size_t at = 0; (at = err.find(" : ", at)) != std::string::npos; ++at) ++n;
        return n;
    }
    // Waits until the run has received `records` records (its log gathered in `err`); false when it
    // ended before.
    static bool ReceivesRecords(QProcess& zelt, std::string& err, size_t records)
    {
        WaitUntilReading(zelt, [&] {
            err += zelt.readAllStandardError().toStdString();
            return ReceivedRecords(err) >= records || zelt.state() == QProcess::NotRunning;
        });
        return ReceivedRecords(err) >= records && zelt.state() == QProcess::Running;
    }
    ZeltRun Download(const std::string& options = "", int limitSeconds = 60)
    {
        return RunAsCron(std::string(ZELT_TEST_BIN_DIR) + "/zelt", options + " -COM=" + tty.string(), account,
                         limitSeconds);
    }
    static std::vector<fs::path> Files(const fs::path& folder, const std::string& extension)
    {
        std::vector<fs::path> found;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(folder, ec))
            if (e.path().extension() == extension) found.push_back(e.path());
        return found;
    }
    // Records of a data file that hold measurements (erased-memory records left out).
    static size_t Measurements(const fs::path& file)
    {
        zsim::Bytes bytes;
        zsim::Image image;
        EXPECT_TRUE(zsim::ReadFile(file.string(), bytes)) << file;
        EXPECT_TRUE(zsim::ParseDataFile(bytes, image)) << file;
        return size_t(std::count_if(image.records.begin(), image.records.end(),
                                    [](const zsim::Bytes& r) { return r[0] != 0xFF; }));
    }
    // The last line of the run's own log: the window system's notices (the offscreen platform's, at any
    // moment a window changes) are not the program's.
    static std::string LastLine(const std::string& text)
    {
        std::string last;
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            const std::string line = text.substr(start, end - start);
            if (!line.empty() && line.find("propagateSizeHints") == std::string::npos &&
                line.rfind("QStandardPaths:", 0) != 0)
                last = line;
            start = end + 1;
        }
        return last;
    }

    ScopedTestHome home;
    fs::path tty = home.Root() / "tty";
    fs::path account = home.Root() / "account";
    zsim::SimProcess sim;
};

// The default settings record nothing automatically: without a screen the download is kept all the
// same, in the per-user data folder, and the run says where.
TEST_F(ScheduledDownload, DefaultSettingsKeepTheDownloadInTheUserDataFolder)
{
    StartSim({});
    const ZeltRun r = Download();
    ASSERT_EQ(r.status, 0) << r.err;
    const fs::path folder = account / ".local" / "share" / "zelt";
    const auto q5 = Files(folder, ".Q5");
    ASSERT_EQ(q5.size(), 1u) << r.err;
    EXPECT_EQ(Measurements(q5[0]), 6u);
    EXPECT_NE(r.err.find("The download is kept in " + q5[0].string()), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("automatic recording is off"), std::string::npos) << r.err;
}

// Recording off but a recording folder chosen, and ASCII files asked for: both go to that folder.
TEST_F(ScheduledDownload, RecordingFolderAndAsciiFilesOfTheSettingsAreUsed)
{
    const fs::path rec = home.Root() / "rec";
    fs::create_directories(rec);
    ScopedTestHome::Write(home.Root() / "zelt.ini", "[General]\r\nAutoRecord=0\r\nAutoRecordPath=" + rec.string() +
                                                        "/\r\nCreateASCIIFiles=1\r\nASCIIPeriod=0\r\n");
    StartSim({});
    const ZeltRun r = Download("-CONFIG=" + (home.Root() / "zelt.ini").string());
    ASSERT_EQ(r.status, 0) << r.err;
    const auto q5 = Files(rec, ".Q5");
    ASSERT_EQ(q5.size(), 1u) << r.err;
    EXPECT_EQ(Files(rec, ".SUN").size(), 1u) << r.err;
    EXPECT_NE(r.err.find("The download is kept in " + q5[0].string()), std::string::npos) << r.err;
}

// A recording folder that cannot be made (a file stands in its path) loses nothing: the download is
// kept in the per-user data folder instead, and the run says so, with the status of a download kept
// with an error on the way (the files are not where the settings put them).
TEST_F(ScheduledDownload, UnwritableRecordingFolderFallsBackToTheUserDataFolder)
{
    ScopedTestHome::Write(home.Root() / "afile", "not a folder");
    ScopedTestHome::Write(home.Root() / "zelt.ini", "[General]\r\nAutoRecord=1\r\nAutoRecordPath=" +
                                                        (home.Root() / "afile" / "rec").string() +
                                                        "/\r\nCreateASCIIFiles=1\r\nASCIIPeriod=0\r\n");
    StartSim({});
    const ZeltRun r = Download("-CONFIG=" + (home.Root() / "zelt.ini").string());
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_NE(r.err.find("ERROR: Unable to save the Q5 file " + (home.Root() / "afile" / "rec").string()),
              std::string::npos)
        << r.err;
    const fs::path folder = account / ".local" / "share" / "zelt";
    const auto q5 = Files(folder, ".Q5");
    ASSERT_EQ(q5.size(), 1u) << r.err;
    EXPECT_EQ(Measurements(q5[0]), 6u);
    EXPECT_EQ(Files(folder, ".SUN").size(), 1u) << r.err;
    EXPECT_NE(r.err.find("The download is kept in " + q5[0].string()), std::string::npos) << r.err;
}

// A recording folder with room for the data file but not for its ASCII files (a small file system of
// its own, in a mount namespace of the run): the data file is kept, the ASCII files that did not fit
// are said, and the run does not end as a success.
TEST_F(ScheduledDownload, FullRecordingFolderKeepsTheDataFileAndEndsWithAnError)
{
    const fs::path rec = home.Root() / "rec", listing = home.Root() / "listing.txt";
    fs::create_directories(rec);
    ScopedTestHome::Write(home.Root() / "zelt.ini", "[General]\r\nAutoRecord=1\r\nAutoRecordPath=" + rec.string() +
                                                        "/\r\nCreateASCIIFiles=1\r\nASCIIPeriod=0\r\n");
    StartSim({});
    // Two pages: the data file takes one, the first of its three ASCII files the other.
    const std::string script = "mount -t tmpfs -o size=8k tmpfs '" + rec.string() + "' || exit 99\n'" +
                               std::string(ZELT_TEST_BIN_DIR) + "/zelt' -CONFIG='" +
                               (home.Root() / "zelt.ini").string() + "' -COM='" + tty.string() +
                               "'\nstatus=$?\nls '" + rec.string() + "' > '" + listing.string() + "'\nexit $status\n";
    ScopedTestHome::Write(home.Root() / "run.sh", script);
    const ZeltRun r = RunAsCron("/usr/bin/unshare", "--map-root-user --mount /bin/sh '" +
                                (home.Root() / "run.sh").string() + "'", account);
    ASSERT_NE(r.status, 99) << "no small file system for the test\n" << r.err;
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_NE(r.err.find("ERROR: Unable to write the ASCII files in " + rec.string() + "/"), std::string::npos) << r.err;
    const std::string kept = ScopedTestHome::Read(listing);
    EXPECT_NE(kept.find(".Q5\n"), std::string::npos) << kept;
    EXPECT_NE(r.err.find("The download is kept in " + rec.string() + "/"), std::string::npos) << r.err;
}

// A stop asked of the run in the middle of a slow download (a shutdown, a service stop, `timeout`):
// the records that came are kept in a data file that converts, the run says the download is incomplete
// and why, ends with the status of data kept but incomplete, and leaves no lock on the line.
TEST_F(ScheduledDownload, TermInTheMiddleOfADownloadKeepsWhatCame)
{
    StartSim({"--records", "300", "--baud", "1200"});
    QProcess zelt;
    StartRun(zelt);
    std::string err;
    ASSERT_TRUE(ReceivesRecords(zelt, err, 3)) << err;
    ::kill(pid_t(zelt.processId()), SIGTERM);
    const qint64 pid = zelt.processId();
    ASSERT_TRUE(WaitForProcessEnd(zelt)) << err;
    err += zelt.readAllStandardError().toStdString();
    EXPECT_EQ(zelt.exitStatus(), QProcess::NormalExit) << err;
    EXPECT_EQ(zelt.exitCode(), 3) << err;

    const fs::path folder = account / ".local" / "share" / "zelt";
    const auto q5 = Files(folder, ".Q5");
    ASSERT_EQ(q5.size(), 1u) << err;
    const size_t kept = Measurements(q5[0]);
    EXPECT_GE(kept, 3u);
    EXPECT_LT(kept, 300u);
    EXPECT_EQ(LastLine(err).rfind("ERROR: Incomplete download: " + q5[0].string() + " holds " + std::to_string(kept) +
                                      " records, stopped by signal 15",
                                  0),
              0u)
        << err;
    // What was kept converts whole.
    const fs::path ascii = home.Root() / "ascii";
    fs::create_directories(ascii);
    const ZeltRun converted = RunAsCron(std::string(ZELT_TEST_BIN_DIR) + "/zelt",
                                        "-ASCII '" + q5[0].string() + "' '" + ascii.string() + "'", account);
    EXPECT_EQ(converted.status, 0) << converted.err;
    EXPECT_FALSE(Files(ascii, ".SUN").empty()) << converted.err;
    // The line is free: no lock of the stopped run is left.
    const std::string lock = PortLockFileName(fs::canonical(tty).string());
    for (const char* lockFolder : {"/var/lock", "/run/lock", "/tmp", "/var/tmp"}) {
        const std::string text = ScopedTestHome::Read(fs::path(lockFolder) / lock);
        EXPECT_NE(text.substr(0, text.find('\n')), std::to_string(pid)) << "the stopped run left its lock in " << lockFolder;
    }
}

// The instrument falls silent after three records of six: the three are kept with their ASCII files,
// the run ends saying the download is incomplete and how much it holds, with the status of data kept but
// incomplete.
TEST_F(ScheduledDownload, StalledDownloadKeepsItsRecordsAndEndsIncomplete)
{
    ScopedTestHome::Write(home.Root() / "zelt.ini", "[General]\r\nCreateASCIIFiles=1\r\nASCIIPeriod=0\r\n");
    StartSim({"--stall-after", "3"});
    const ZeltRun r = Download("-CONFIG=" + (home.Root() / "zelt.ini").string());
    EXPECT_EQ(r.status, 3) << r.err;
    const fs::path folder = account / ".local" / "share" / "zelt";
    const auto q5 = Files(folder, ".Q5");
    ASSERT_EQ(q5.size(), 1u) << r.err;
    EXPECT_EQ(Measurements(q5[0]), 3u);
    EXPECT_EQ(Files(folder, ".SUN").size(), 1u) << r.err;
    const std::string last = LastLine(r.err);
    EXPECT_EQ(last.rfind("ERROR: Incomplete download: " + q5[0].string() + " holds 3 records", 0), 0u) << r.err;
}

// Signals the caller ignores (HUP under nohup, INT in a background job of a non-interactive shell) are
// not the run's to obey: the download goes on. TERM, which the caller left alone, still stops it.
TEST_F(ScheduledDownload, SignalsIgnoredByTheCallerStayIgnored)
{
    StartSim({"--records", "300", "--baud", "1200"});
    QProcess zelt;
    StartRun(zelt, {"/usr/bin/nohup", "/bin/sh", "-c", "trap '' INT; exec \"$0\" \"$@\""});
    std::string err;
    ASSERT_TRUE(ReceivesRecords(zelt, err, 3)) << err;
    ::kill(pid_t(zelt.processId()), SIGHUP);
    ::kill(pid_t(zelt.processId()), SIGINT);
    ASSERT_TRUE(ReceivesRecords(zelt, err, 6)) << "an ignored signal stopped the download\n" << err;

    ::kill(pid_t(zelt.processId()), SIGTERM);
    ASSERT_TRUE(WaitForProcessEnd(zelt)) << err;
    err += zelt.readAllStandardError().toStdString();
    EXPECT_EQ(zelt.exitStatus(), QProcess::NormalExit) << err;
    EXPECT_EQ(zelt.exitCode(), 3) << err;
    EXPECT_NE(LastLine(err).find("stopped by signal 15"), std::string::npos) << err;
}

// A run killed outright in the middle of a download (kill -9, a crash, a second stop signal) leaves the
// line to the next run, one without root's privileges, while the far end (the simulator) keeps the
// pseudo-terminal open all along; what the killed run left unread is not taken for the next session's.
TEST_F(ScheduledDownload, KilledRunLeavesTheLineToTheNextUnprivilegedRun)
{
    StartSim({"--records", "300", "--baud", "1200"});
    const QStringList unprivileged = {"/usr/bin/setpriv", "--bounding-set=-all", "--inh-caps=-all"};
    {
        QProcess killed;
        StartRun(killed, unprivileged);
        std::string err;
        ASSERT_TRUE(ReceivesRecords(killed, err, 3)) << err;
        ::kill(pid_t(killed.processId()), SIGKILL);
        ASSERT_TRUE(WaitForProcessEnd(killed)) << err;
    }
    QProcess next;
    StartRun(next, unprivileged, "ZELT_UNATTENDED_LIMIT=20");
    std::string err;
    ASSERT_TRUE(ReceivesRecords(next, err, 3)) << "the next run did not get the line\n" << err;
    EXPECT_EQ(err.find("busy"), std::string::npos) << err;
    ::kill(pid_t(next.processId()), SIGTERM);
    ASSERT_TRUE(WaitForProcessEnd(next)) << err;
    EXPECT_EQ(next.exitCode(), 3) << err;
}
