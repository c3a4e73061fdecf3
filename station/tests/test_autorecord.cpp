// Downloads as a scheduled station runs them: the program itself started with a port on its command
// line (no screen), against the instrument simulator on a pseudo-terminal, saving each download and
// its ASCII files; a fresh user account whose store the program fills itself.
#include <gtest/gtest.h>

#include <QProcess>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>
#include <regex>
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

const std::string kZelt = std::string(ZELT_TEST_BIN_DIR) + "/zelt";

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
    ZeltRun Download(const std::string& options = "", int limitSeconds = 60)
    {
        return RunAsCron(kZelt, options + " -COM=" + tty.string(), account, limitSeconds);
    }
    // As a scheduler's user runs it, without the privileges that write into any folder.
    ZeltRun DownloadWithoutPrivileges(const std::string& options)
    {
        return RunAsCron("/usr/bin/setpriv", "--bounding-set=-all --inh-caps=-all '" + kZelt + "' " + options +
                                                 " -COM=" + tty.string(), account);
    }
    // The download started and left running, its log read as it comes.
    std::unique_ptr<CronProcess> StartDownload(const std::vector<std::string>& options = {},
                                               const std::string& program = kZelt)
    {
        std::vector<std::string> args = options;
        if (program != kZelt) args.push_back(kZelt);
        args.push_back("-COM=" + tty.string());
        return std::make_unique<CronProcess>(program, args, account);
    }
    // Waits until the run's log says it received `records` records; false when it ended before.
    static bool ReceivesRecords(CronProcess& zelt, size_t records)
    {
        return zelt.WaitForLog([&](const std::string& log) { return Count(log, " : ") >= records; }) &&
               zelt.Process.state() == QProcess::Running;
    }
    std::string SettingsFile() const { return (home.Root() / "zelt.ini").string(); }
    // What the program keeps between runs besides the settings: the last record received among them.
    std::string StatusStore() const { return ScopedTestHome::Read(account / ".config" / "DORAX Quenlith" / "ZELT Win.ini"); }
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
    // The lines of the run's own log: the window system's notices (the offscreen platform's, at any
    // moment a window changes) are not the program's.
    static std::vector<std::string> LogLines(const std::string& text)
    {
        std::vector<std::string> lines;
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            const std::string line = text.substr(start, end - start);
            if (!line.empty() && line.find("propagateSizeHints") == std::string::npos &&
                line.rfind("QStandardPaths:", 0) != 0)
                lines.push_back(line);
            start = end + 1;
        }
        return lines;
    }
    static std::string LastLine(const std::string& text)
    {
        const auto lines = LogLines(text);
        return lines.empty() ? std::string() : lines.back();
    }
    static size_t Count(const std::string& text, const std::string& part)
    {
        size_t n = 0;
        for (size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size()) ++n;
        return n;
    }
    // The run's log closes with its outcome: the date and time, the status and what was kept where.
    static void ExpectClosingLine(const std::string& err, const std::string& outcome)
    {
        static const std::regex stamp("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d [+-]\\d{4} End, status .*");
        const std::string last = LastLine(err);
        EXPECT_TRUE(std::regex_match(last, stamp)) << err;
        EXPECT_NE(last.find("End, " + outcome), std::string::npos) << err;
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
    ExpectClosingLine(r.err, "status 4 (kept with errors): 6 records kept in " + q5[0].string() + "; not in " +
                                 (home.Root() / "afile" / "rec").string() + "/ as the settings say");
}

// A recording folder with room for the data file but not for its ASCII files. A limit on the size of
// a file stands in for the full disk, as any user and any root shell (a chroot, a container) can set
// one: a write past it fails as a write to a full disk does, with SIGXFSZ ignored as a daemon's
// caller may leave it. The data file is kept, the ASCII files that did not fit are said, and the run
// does not end as a success.
TEST_F(ScheduledDownload, FullRecordingFolderKeepsTheDataFileAndEndsWithAnError)
{
    const fs::path rec = home.Root() / "rec";
    fs::create_directories(rec);
    ScopedTestHome::Write(home.Root() / "zelt.ini", "[General]\r\nAutoRecord=1\r\nAutoRecordPath=" + rec.string() +
                                                        "/\r\nCreateASCIIFiles=1\r\nASCIIPeriod=0\r\n");
    // Two days of triplets: a data file of about 4 KB whose direct-sun ASCII file takes about 9 KB.
    StartSim({"--sun-days", "2"});
    const std::string script = "trap '' XFSZ\nexec prlimit --fsize=6144 '" + std::string(ZELT_TEST_BIN_DIR) +
                               "/zelt' -CONFIG='" + (home.Root() / "zelt.ini").string() + "' -COM='" +
                               tty.string() + "'\n";
    ScopedTestHome::Write(home.Root() / "run.sh", script);
    const ZeltRun r = RunAsCron("/bin/sh", "'" + (home.Root() / "run.sh").string() + "'", account);
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_NE(r.err.find("ERROR: Unable to write the ASCII files in " + rec.string() + "/"), std::string::npos) << r.err;
    const auto q5 = Files(rec, ".Q5");
    ASSERT_EQ(q5.size(), 1u) << r.err;
    EXPECT_LT(fs::file_size(q5[0]), 6144u);
    EXPECT_GT(Measurements(q5[0]), 6u) << "the direct-sun triplets are in the data file";
    EXPECT_EQ(Count(r.err, "The download is kept in " + q5[0].string()), 1u) << r.err;
    ExpectClosingLine(r.err, "status 4 (kept with errors): ");
    EXPECT_NE(LastLine(r.err).find(" records kept in " + q5[0].string() + "; no ASCII files"), std::string::npos)
        << r.err;
}

// A stop asked of the run in the middle of a slow download (a shutdown, a service stop, `timeout`):
// the records that came are kept in a data file that converts, the run says the download is incomplete
// and why, ends with the status of data kept but incomplete, and leaves no lock on the line.
TEST_F(ScheduledDownload, TermInTheMiddleOfADownloadKeepsWhatCame)
{
    StartSim({"--records", "300", "--baud", "1200"});
    const auto zelt = StartDownload();
    const std::string& err = zelt->Err;
    ASSERT_TRUE(zelt->WaitForLog([](const std::string& log) { return Count(log, " : ") >= 3; })) << err;
    const qint64 pid = zelt->Process.processId();
    zelt->Signal(SIGTERM);
    EXPECT_EQ(zelt->Wait(), 3) << err;

    const fs::path folder = account / ".local" / "share" / "zelt";
    const auto q5 = Files(folder, ".Q5");
    ASSERT_EQ(q5.size(), 1u) << err;
    const size_t kept = Measurements(q5[0]);
    EXPECT_GE(kept, 3u);
    EXPECT_LT(kept, 300u);
    EXPECT_NE(err.find("\nERROR: Incomplete download: " + q5[0].string() + " holds " + std::to_string(kept) +
                       " records, stopped by signal 15"),
              std::string::npos)
        << err;
    ExpectClosingLine(err, "status 3 (incomplete): " + std::to_string(kept) + " records kept in " + q5[0].string());
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
    EXPECT_NE(r.err.find("\nERROR: Incomplete download: " + q5[0].string() + " holds 3 records"), std::string::npos)
        << r.err;
    ExpectClosingLine(r.err, "status 3 (incomplete): 3 records kept in " + q5[0].string());
}

// A month of hourly runs appended to one file can be read back: each run opens its log with one line (the
// date, the time, the program and what it was asked) and closes it with one (what was kept where, how
// many records, the status); where the download went is said once.
TEST_F(ScheduledDownload, LogOpensAndClosesWithOneLineEach)
{
    StartSim({});
    const ZeltRun r = Download();
    ASSERT_EQ(r.status, 0) << r.err;
    const auto q5 = Files(account / ".local" / "share" / "zelt", ".Q5");
    ASSERT_EQ(q5.size(), 1u) << r.err;
    const auto lines = LogLines(r.err);
    ASSERT_FALSE(lines.empty());
    const std::regex opening("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d [+-]\\d{4} Start: (.*)");
    std::smatch asked;
    ASSERT_TRUE(std::regex_match(lines.front(), asked, opening)) << r.err;
    EXPECT_EQ(asked[1].str(), kZelt + " -COM=" + tty.string() + " (a download from " + tty.string() + ")") << r.err;
    ExpectClosingLine(r.err, "status 0 (done): 6 records kept in " + q5[0].string());
    EXPECT_EQ(Count(r.err, "The download is kept in"), 1u) << r.err;
    EXPECT_EQ(Count(r.err, " Start: "), 1u) << r.err;
    EXPECT_EQ(Count(r.err, " End, status "), 1u) << r.err;
}

// A download that no folder takes (the recording folder and the per-user data folder both closed to the
// run's user) ends with 1 and is not taken for received: the next run with "Optimize transmissions", the
// folders open again, fetches every record of it instead of stopping at the first.
TEST_F(ScheduledDownload, DownloadKeptNowhereIsNotTakenForReceived)
{
    const fs::path rec = home.Root() / "rec", own = account / ".local" / "share" / "zelt";
    fs::create_directories(rec);
    fs::create_directories(own);
    ScopedTestHome::Write(SettingsFile(), "[General]\r\nAutoRecord=1\r\nAutoRecordPath=" + rec.string() +
                                              "/\r\nOptimizeTransmission=1\r\nWriteTransReport=0\r\n");
    const auto closed = fs::perms::owner_read | fs::perms::owner_exec;
    fs::permissions(rec, closed);
    fs::permissions(own, closed);
    // The same memory in both sessions, as an instrument holds it between two runs.
    const std::string imageTime = std::to_string(std::time(nullptr));
    StartSim({"--records", "12", "--image-time", imageTime});
    const ZeltRun lost = DownloadWithoutPrivileges("-CONFIG=" + SettingsFile());
    EXPECT_EQ(lost.status, 1) << lost.err;
    EXPECT_NE(lost.err.find("ERROR: Unable to save the Q5 file " + rec.string() + "/"), std::string::npos) << lost.err;
    ExpectClosingLine(lost.err, "status 1 (failed): 12 records received, kept in no file");
    EXPECT_EQ(StatusStore().find("LastTransScnStr"), std::string::npos) << StatusStore();
    EXPECT_EQ(ScopedTestHome::Read(SettingsFile()).find("LastTransScnStr"), std::string::npos);

    fs::permissions(rec, fs::perms::owner_all);
    fs::permissions(own, fs::perms::owner_all);
    sim.Stop();
    StartSim({"--records", "12", "--image-time", imageTime});
    const ZeltRun again = DownloadWithoutPrivileges("-CONFIG=" + SettingsFile());
    EXPECT_EQ(again.status, 0) << again.err;
    const auto q5 = Files(rec, ".Q5");
    ASSERT_EQ(q5.size(), 1u) << again.err;
    EXPECT_EQ(Measurements(q5[0]), 12u) << again.err;
    EXPECT_EQ(again.err.find("already received"), std::string::npos) << again.err;
    // Now kept, the download counts as received.
    EXPECT_NE(StatusStore().find("LastTransScnStr="), std::string::npos) << StatusStore();
}

// TERM (a scheduler's `timeout`, a service stop) once the whole download is kept, as the run is about to
// end: the run ends as that download ends, with 0, and nothing is said to have failed.
TEST_F(ScheduledDownload, TermOnceTheDownloadIsKeptEndsAsAWholeDownload)
{
    StartSim({});
    const auto zelt = StartDownload();
    ASSERT_TRUE(zelt->WaitForLog("The download is kept in")) << zelt->Err;
    zelt->Signal(SIGTERM);
    EXPECT_EQ(zelt->Wait(), 0) << zelt->Err;
    const auto q5 = Files(account / ".local" / "share" / "zelt", ".Q5");
    ASSERT_EQ(q5.size(), 1u) << zelt->Err;
    EXPECT_EQ(Measurements(q5[0]), 6u);
    EXPECT_EQ(zelt->Err.find("ERROR:"), std::string::npos) << zelt->Err;
    ExpectClosingLine(zelt->Err, "status 0 (done): 6 records kept in " + q5[0].string());
    // A whole download, kept: taken for received.
    EXPECT_NE(StatusStore().find("LastTransScnStr="), std::string::npos) << StatusStore();
}

// TERM as the run's last line is written, while the program takes itself down: the status stays the one
// that line gives, never a run killed by the signal.
TEST_F(ScheduledDownload, TermAfterTheClosingLineKeepsItsStatus)
{
    StartSim({});
    const auto zelt = StartDownload();
    ASSERT_TRUE(zelt->WaitForLog(" End, status 0 (done)")) << zelt->Err;
    zelt->Signal(SIGTERM);
    EXPECT_EQ(zelt->Wait(), 0) << zelt->Err;
}

// TERM after the memory's end, while the instrument's clock is being set (ten minutes off): every record
// has come, so the download is whole and kept as one, status 0, not "incomplete"; that the clock was left
// as the stop found it is said in a line of its own.
TEST_F(ScheduledDownload, TermAfterTheLastRecordKeepsAWholeDownload)
{
    ScopedTestHome::Write(SettingsFile(), "[General]\r\nHardSetTime=1\r\nSmartSetTime=0\r\n");
    StartSim({"--clock-offset", "600"});
    const auto zelt = StartDownload({"-CONFIG=" + SettingsFile()});
    ASSERT_TRUE(zelt->WaitForLog("Update instrument's time at")) << zelt->Err;
    zelt->Signal(SIGTERM);
    EXPECT_EQ(zelt->Wait(), 0) << zelt->Err;
    const auto q5 = Files(account / ".local" / "share" / "zelt", ".Q5");
    ASSERT_EQ(q5.size(), 1u) << zelt->Err;
    EXPECT_EQ(Measurements(q5[0]), 6u);
    EXPECT_EQ(zelt->Err.find("Incomplete"), std::string::npos) << zelt->Err;
    EXPECT_EQ(zelt->Err.find("ERROR:"), std::string::npos) << zelt->Err;
    const std::regex clockLine("\nThe (instrument's clock|correction of the instrument's clock) [^\n]*: the download "
                               "was stopped after its last record\n");
    EXPECT_TRUE(std::regex_search(zelt->Err, clockLine)) << zelt->Err;
    ExpectClosingLine(zelt->Err, "status 0 (done): 6 records kept in " + q5[0].string());
}

// The port busy for a moment (another program held it as the run began): the automatic reconnection
// overcomes it and the whole download is kept where the settings say. The error of that first try,
// made good, does not turn the run's status into 4.
TEST_F(ScheduledDownload, ErrorOvercomeByAReconnectionLeavesTheStatusAlone)
{
    StartSim({});
    // Another program holds the line for itself; a run without the system's privileges cannot open it.
    const int other = ::open(tty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::ioctl(other, TIOCEXCL), 0);
    const auto zelt = StartDownload({"--bounding-set=-all", "--inh-caps=-all"}, "/usr/bin/setpriv");
    const bool refused = zelt->WaitForLog("ERROR: Unable to open port");
    // It lets the line go as a program does that closes it properly.
    ::ioctl(other, TIOCNXCL);
    ::close(other);
    ASSERT_TRUE(refused) << zelt->Err;
    EXPECT_EQ(zelt->Wait(), 0) << zelt->Err;
    const auto q5 = Files(account / ".local" / "share" / "zelt", ".Q5");
    ASSERT_EQ(q5.size(), 1u) << zelt->Err;
    EXPECT_EQ(Measurements(q5[0]), 6u);
    ExpectClosingLine(zelt->Err, "status 0 (done): 6 records kept in " + q5[0].string());
}

// Signals the caller ignores (HUP under nohup, INT in a background job of a non-interactive shell) are
// not the run's to obey: the download goes on. TERM, which the caller left alone, still stops it.
TEST_F(ScheduledDownload, SignalsIgnoredByTheCallerStayIgnored)
{
    StartSim({"--records", "300", "--baud", "1200"});
    const auto zelt = StartDownload({"/bin/sh", "-c", "trap '' INT; exec \"$0\" \"$@\""}, "/usr/bin/nohup");
    ASSERT_TRUE(ReceivesRecords(*zelt, 3)) << zelt->Err;
    zelt->Signal(SIGHUP);
    zelt->Signal(SIGINT);
    ASSERT_TRUE(ReceivesRecords(*zelt, 6)) << "an ignored signal stopped the download\n" << zelt->Err;

    zelt->Signal(SIGTERM);
    EXPECT_EQ(zelt->Wait(), 3) << zelt->Err;
    EXPECT_NE(zelt->Err.find("stopped by signal 15"), std::string::npos) << zelt->Err;
}

// A run killed outright in the middle of a download (kill -9, a crash, a second stop signal) leaves the
// line to the next run, one without root's privileges, while the far end (the simulator) keeps the
// pseudo-terminal open all along; what the killed run left unread is not taken for the next session's.
TEST_F(ScheduledDownload, KilledRunLeavesTheLineToTheNextUnprivilegedRun)
{
    StartSim({"--records", "300", "--baud", "1200"});
    const std::vector<std::string> unprivileged = {"ZELT_UNATTENDED_LIMIT=20", "/usr/bin/setpriv",
                                                   "--bounding-set=-all", "--inh-caps=-all"};
    {
        const auto killed = StartDownload(unprivileged, "/usr/bin/env");
        ASSERT_TRUE(ReceivesRecords(*killed, 3)) << killed->Err;
        killed->Signal(SIGKILL);
        EXPECT_EQ(killed->Wait(), -1) << killed->Err;
    }
    const auto next = StartDownload(unprivileged, "/usr/bin/env");
    ASSERT_TRUE(ReceivesRecords(*next, 3)) << "the next run did not get the line\n" << next->Err;
    EXPECT_EQ(next->Err.find("busy"), std::string::npos) << next->Err;
    next->Signal(SIGTERM);
    EXPECT_EQ(next->Wait(), 3) << next->Err;
}
