// The station program as a user runs it on a link: `zelt` as a child process without a screen, for a
// new user (XDG folders that nobody prepared), against a modem, the instrument simulator or an
// instrument played by the test on a pseudo-terminal.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QProcess>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "common/tests/PlatformTestEnv.h"
#include "station/link/tests/FakeModem.h"
#include "station/link/tests/LinkTestSupport.h"
#include "tools/simulator/SimImage.h"
#include "tools/simulator/SimInstrument.h"
#include "tools/simulator/SimProcess.h"

namespace fs = std::filesystem;

namespace {

std::string BinDir()
{
    const char* dir = std::getenv("ZELT_BIN_DIR");
    return dir && *dir ? dir : QCoreApplication::applicationDirPath().toStdString();
}

// One run of the station program; its communication log comes on standard error.
class ZeltProcess {
public:
    // A fresh user: HOME and the XDG folders inside `home`, none of them made here.
    void Start(const fs::path& home, const std::vector<std::string>& args)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", QString::fromStdString((home / "home").string()));
        env.insert("XDG_CONFIG_HOME", QString::fromStdString((home / "config").string()));
        env.insert("XDG_DATA_HOME", QString::fromStdString((home / "data").string()));
        Process.setProcessEnvironment(env);
        QStringList list;
        for (const std::string& a : args) list << QString::fromStdString(a);
        Process.start(QString::fromStdString(BinDir() + "/zelt"), list);
        ASSERT_TRUE(Process.waitForStarted(kTestDeadlineMs));
    }
    ~ZeltProcess()
    {
        if (Process.state() != QProcess::NotRunning) {
            Process.kill();
            Process.waitForFinished(kTestDeadlineMs);
        }
    }
    const std::string& Err()
    {
        Err_ += Process.readAllStandardError().toStdString();
        return Err_;
    }
    bool WaitErr(const std::string& text, int ms = kTestDeadlineMs)
    {
        return WaitUntil([&] { return Err().find(text) != std::string::npos; }, ms);
    }
    // Runs `meanwhile` until the program ends; false when it still runs after ms.
    bool WaitExit(int ms = kTestDeadlineMs, const std::function<void()>& meanwhile = {})
    {
        const bool ended = WaitUntil([&] {
            if (meanwhile) meanwhile();
            return Process.state() == QProcess::NotRunning;
        }, ms);
        Err();
        return ended;
    }
    bool Crashed() const { return Process.exitStatus() == QProcess::CrashExit; }
    int Status() const { return Process.exitCode(); }
    QProcess Process;

private:
    std::string Err_;
};

class Session : public ::testing::Test {
protected:
    void SetUp() override
    {
        linktest::EnsureApp();
        root = home.Root();
        ini = root / "zelt.ini";
    }
    // The per-user data folder of the run (not made by the test).
    fs::path UserData() const { return root / "data" / "zelt"; }

    // The instrument played here announces its parameter block once, as soon as the station holds
    // the line, and never again: the station must take it although it came before any timer ran.
    void DownloadFromAnInstrumentThatSpeaksAtOnce(const std::vector<std::string>& options, int status = 0)
    {
        linktest::Pty line;
        line.CloseSlave();  // the master now sees a hang-up until the station opens the port
        const double now = QDateTime::currentMSecsSinceEpoch() / 1000.0;
        std::vector<std::string> report;
        zsim::Instrument instrument(zsim::DefaultImage(int64_t(now) - 60, 5), zsim::Behaviour{},
                                    [&](const std::string& text) { report.push_back(text); });
        ScopedTestHome::Write(ini, "[General]\r\nAutoRecord=1\r\nWriteTransReport=1\r\n");
        ZeltProcess zelt;
        std::vector<std::string> args{"-CONFIG=" + ini.string(), "-COM=" + line.SlaveName, "-NOSPLASH"};
        args.insert(args.end(), options.begin(), options.end());
        zelt.Start(root, args);
        const auto portOpen = [&] {
            pollfd p{line.Master, POLLIN, 0};
            ::poll(&p, 1, 0);
            return !(p.revents & POLLHUP);
        };
        ASSERT_TRUE(WaitUntil(portOpen)) << zelt.Err();
        instrument.Announce();
        line.Write(instrument.TakeOutput());

        const auto playInstrument = [&] {
            const double t = QDateTime::currentMSecsSinceEpoch() / 1000.0;
            const std::string asked = line.ReadNow();
            if (!asked.empty()) instrument.Receive(asked, t);
            instrument.Poll(t);
            const std::string reply = instrument.TakeOutput();
            if (!reply.empty()) line.Write(reply);
        };
        auto all = [&] {
            std::string text;
            for (const std::string& r : report) text += r + "\n";
            return text + zelt.Err();
        };
        ASSERT_TRUE(WaitUntil([&] {
            playInstrument();
            return instrument.SessionStarted();
        })) << "the station never answered the announcement\n" << all();
        ASSERT_TRUE(zelt.WaitExit(kTestDeadlineMs, playInstrument)) << all();
        EXPECT_EQ(zelt.Status(), status) << all();
        EXPECT_EQ(instrument.SessionsEnded(), 1) << all();
        for (int i = 0; i < 5; ++i) {
            const std::string sent = "SEND record " + std::to_string(i);
            EXPECT_NE(std::find(report.begin(), report.end(), sent), report.end()) << all();
        }
        EXPECT_NE(ScopedTestHome::Read(UserData() / "Transmission.log").find(",End:Ok,"), std::string::npos);
        int recorded = 0;
        for (const auto& e : fs::directory_iterator(UserData())) recorded += e.path().extension() == ".Q5";
        EXPECT_EQ(recorded, 1);
    }
    ScopedTestHome home;
    fs::path root, ini;
};

}  // namespace

TEST_F(Session, ModemStationQuitsDuringTheHangUp)
{
    linktest::FakeModem modem(50);
    ScopedTestHome::Write(ini, "[General]\r\nTypeCom=0\r\nPortNum=" + modem.Slave +
                                   "\r\nAutoConnect=1\r\nWriteTransReport=1\r\n");
    ZeltProcess zelt;
    zelt.Start(root, {"-CONFIG=" + ini.string(), "-NOSPLASH"});
    ASSERT_TRUE(zelt.WaitErr("Initialized MODEM")) << zelt.Err();
    // A failed call: recorded, the modem is hung up, and the unattended run ends while it is.
    modem.Control("nocarrier");
    ASSERT_TRUE(zelt.WaitExit()) << zelt.Err();
    EXPECT_FALSE(zelt.Crashed()) << zelt.Err();
    EXPECT_EQ(zelt.Status(), 1) << zelt.Err();
    EXPECT_NE(zelt.Err().find("No carrier ("), std::string::npos) << zelt.Err();
    EXPECT_NE(ScopedTestHome::Read(UserData() / "Transmission.log").find(",End:Ring without carrier,"),
              std::string::npos);
}

TEST_F(Session, NewUserGetsTheLogTheHistoryAndTheRecording)
{
    zsim::SimProcess sim;
    ASSERT_TRUE(sim.Start(zsim::SimProcess::DefaultProgram(),
                          {"--pty", "--link", (root / "tty").string(), "--sessions", "1"},
                          (root / "sim.txt").string()));
    ScopedTestHome::Write(ini, "[General]\r\nAutoRecord=1\r\nWriteTransReport=1\r\n"
                               "[Debug]\r\nDebugModemEchoOn=0\r\nMakeTransLogFile=1\r\nMakeCnxErrors=0\r\n"
                               "SeeRS232DebugPanel=0\r\n");
    ZeltProcess zelt;
    zelt.Start(root, {"-CONFIG=" + ini.string(), "-COM=" + (root / "tty").string(), "-NOSPLASH", "-DEBUG"});
    ASSERT_TRUE(zelt.WaitExit()) << zelt.Err();
    EXPECT_EQ(zelt.Status(), 0) << zelt.Err();
    EXPECT_EQ(zelt.Err().find("cannot be written"), std::string::npos) << zelt.Err();
    const std::string log = ScopedTestHome::Read(UserData() / "ZELTWIN.LOG");
    EXPECT_NE(log.find(",-SND-,aT\r\n"), std::string::npos) << log.substr(0, 300);
    EXPECT_NE(log.find(",-REC-,"), std::string::npos);
    EXPECT_NE(ScopedTestHome::Read(UserData() / "Transmission.log").find(",End:Ok,"), std::string::npos);
    int recorded = 0;
    for (const auto& e : fs::directory_iterator(UserData())) recorded += e.path().extension() == ".Q5";
    EXPECT_EQ(recorded, 1);
}

TEST_F(Session, InstrumentThatNeverEndsItsReplyIsLetGo)
{
    linktest::Pty line;
    ScopedTestHome::Write(ini, "[General]\r\n");
    ZeltProcess zelt;
    zelt.Start(root, {"-CONFIG=" + ini.string(), "-COM=" + line.SlaveName, "-NOSPLASH", "-DEBUG"});
    ASSERT_TRUE(zelt.WaitErr("active communication port")) << zelt.Err();
    const std::string start = "\x02S";
    ASSERT_EQ(::write(line.Master, start.data(), start.size()), ssize_t(start.size()));
    // Parameter-block digits for ever, never the end of the frame.
    const std::string digits(64, '0');
    const bool ended = zelt.WaitExit(kTestDeadlineMs, [&] {
        line.ReadNow();
        if (::write(line.Master, digits.data(), digits.size()) < 0 && errno != EAGAIN) return;
        usleep(10000);
    });
    ASSERT_TRUE(ended) << zelt.Err();
    EXPECT_FALSE(zelt.Crashed());
    EXPECT_NE(zelt.Err().find("ERROR: Reply without end of frame after "), std::string::npos) << zelt.Err();
}

TEST_F(Session, InstrumentThatSpeaksTheMomentThePortOpensIsDownloaded)
{
    DownloadFromAnInstrumentThatSpeaksAtOnce({});
}

TEST_F(Session, InstrumentThatSpeaksBeforeAQueuedPlugInStartIsDownloaded)
{
    // The plug-in start waits in the task queue for the timer; the instrument does not. The plug-in
    // asked for is not there: the download is still done, and the run says it failed.
    DownloadFromAnInstrumentThatSpeaksAtOnce({"-RUN=none"}, 1);
}

// Runs without a screen end by themselves, with a status that says how they went and the reason on
// standard error: a port that cannot be opened, a port on which nothing answers, an instrument that
// never ends a record. With automatic reconnection the station keeps trying, as it was asked.
TEST_F(Session, PortThatCannotBeOpenedEndsTheRun)
{
    ScopedTestHome::Write(ini, "[General]\r\nAutoReconnect=0\r\n");
    const std::string port = (root / "ttyNOPE").string();
    ZeltProcess zelt;
    zelt.Start(root, {"-CONFIG=" + ini.string(), "-COM=" + port, "-NOSPLASH"});
    ASSERT_TRUE(zelt.WaitExit()) << "still waiting\n" << zelt.Err();
    EXPECT_EQ(zelt.Status(), 1) << zelt.Err();
    EXPECT_NE(zelt.Err().find("ERROR: Unable to open port " + port), std::string::npos) << zelt.Err();
}

TEST_F(Session, WithAutomaticReconnectionAPortThatCannotBeOpenedIsTriedEverySevenSeconds)
{
    ScopedTestHome::Write(ini, "[General]\r\nAutoReconnect=1\r\n");
    const std::string port = (root / "ttyNOPE").string();
    ZeltProcess zelt;
    zelt.Start(root, {"-CONFIG=" + ini.string(), "-COM=" + port, "-NOSPLASH"});
    // At once, then seven seconds later, each attempt told once, and the run goes on.
    const std::string unable = "ERROR: Unable to open port " + port;
    auto told = [&] {
        const std::string& err = zelt.Err();
        size_t n = 0;
        for (size_t at = 0; (at = err.find(unable, at)) != std::string::npos; ++at) ++n;
        return n;
    };
    ASSERT_TRUE(WaitUntil([&] { return told() >= 1; })) << zelt.Err();
    QElapsedTimer sinceFirst;
    sinceFirst.start();
    ASSERT_TRUE(WaitUntil([&] { return told() >= 2; })) << zelt.Err();
    EXPECT_GE(sinceFirst.elapsed(), 5000) << "tried again too soon\n" << zelt.Err();  // seven seconds, seen late
    EXPECT_EQ(told(), 2u) << zelt.Err();
    EXPECT_EQ(zelt.Process.state(), QProcess::Running) << zelt.Err();
}

TEST_F(Session, PortOnWhichNothingAnswersIsGivenUpAfterTheTimeOuts)
{
    ScopedTestHome::Write(ini, "[General]\r\nAutoReconnect=0\r\n");
    linktest::Pty line;  // open, but no instrument behind it
    ZeltProcess zelt;
    QElapsedTimer took;
    took.start();
    zelt.Start(root, {"-CONFIG=" + ini.string(), "-COM=" + line.SlaveName, "-NOSPLASH"});
    ASSERT_TRUE(zelt.WaitExit(20000 + kTestDeadlineMs, [&] { line.ReadNow(); })) << "still waiting\n" << zelt.Err();
    EXPECT_EQ(zelt.Status(), 1) << zelt.Err();
    EXPECT_GE(took.elapsed(), 19000);  // four silences of five seconds, as for a connected link
    EXPECT_NE(zelt.Err().find("ERROR: No answer on " + line.SlaveName + " for 20 s"), std::string::npos)
        << zelt.Err();
}

TEST_F(Session, InstrumentThatNeverEndsARecordIsLetGoAfterTheRetries)
{
    ScopedTestHome::Write(ini, "[General]\r\nAutoRecord=1\r\nWriteTransReport=1\r\n");
    linktest::Pty line;
    ZeltProcess zelt;
    zelt.Start(root, {"-CONFIG=" + ini.string(), "-COM=" + line.SlaveName, "-NOSPLASH"});
    ASSERT_TRUE(zelt.WaitErr("active communication port")) << zelt.Err();
    // The parameter block and the clock as an instrument gives them; then every record asked for is
    // a frame that never ends.
    line.Write(zsim::ReplyFrame("SSIM1000000" + zsim::ToHex(zsim::MakeParamBlock(0x14, "SP140042"))) + "\r");
    const std::string endless(64, 'A');
    bool recordAsked = false;
    const bool ended = zelt.WaitExit(kTestDeadlineMs, [&] {
        const std::string asked = line.ReadNow();
        if (asked.find("HT") != std::string::npos) line.Write(zsim::ReplyFrame("h120000010326") + "\r");
        if (!recordAsked && asked.find("aT") != std::string::npos) {
            recordAsked = true;
            line.Write("\x02" "1");
        }
        // Offered once a poll, never waited for: the station may stop reading at any time.
        if (recordAsked && ::write(line.Master, endless.data(), endless.size()) < 0 && errno != EAGAIN) return;
        usleep(5000);
    });
    ASSERT_TRUE(ended) << "still connected\n" << zelt.Err();
    EXPECT_EQ(zelt.Status(), 1) << zelt.Err();
    const std::string err = zelt.Err();
    size_t overlong = 0;
    for (size_t at = 0; (at = err.find("ERROR: Event frame without end after ", at)) != std::string::npos; ++at)
        ++overlong;
    EXPECT_EQ(overlong, 4u) << err;  // asked again three times, then let go
    EXPECT_NE(err.find("End of the transmission."), std::string::npos) << err;
    EXPECT_NE(ScopedTestHome::Read(UserData() / "Transmission.log").find(",End:Timeout,"), std::string::npos);
}
