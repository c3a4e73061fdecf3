// The download engine against the instrument simulator on a real pseudo-terminal: full downloads with
// the clock corrections, the end conditions, line faults, a cut link with reconnection, and the
// faults the engine must survive. No window: the engine reports through a recording view.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/DateTime.h"
#include "common/Evenement.h"
#include "common/Q5File.h"
#include "common/tests/PlatformTestEnv.h"
#include "common/tests/support/TestWait.h"
#include "station/StationCore.h"
#include "station/link/ComTask.h"
#include "station/link/Transmission.h"
#include "tools/simulator/SimImage.h"
#include "tools/simulator/SimProcess.h"

namespace fs = std::filesystem;

namespace {

QCoreApplication* App()
{
    static int argc = 1;
    static char name[] = "station_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = QCoreApplication::instance() ? QCoreApplication::instance()
                                                                 : new QCoreApplication(argc, argv);
    return app;
}

class RecordingView : public TStationView {
public:
    std::vector<std::string> Memo;
    int Connects = 0, Disconnects = 0;
    void MemoLine(const std::string& text) override { Memo.push_back(text); }
    void ConnectedChanged(bool on) override { (on ? Connects : Disconnects)++; }
    bool Has(const std::string& text) const { return std::find(Memo.begin(), Memo.end(), text) != Memo.end(); }
    bool HasPrefix(const std::string& prefix) const
    {
        for (const auto& m : Memo)
            if (m.rfind(prefix, 0) == 0) return true;
        return false;
    }
    std::string All() const
    {
        std::string s;
        for (const auto& m : Memo) s += m + "\n";
        return s;
    }
};

zsim::Image TestImage(int count)
{
    zsim::Image image;
    image.param = zsim::MakeParamBlock(0x14, "SP140042");
    for (int i = 0; i < count; ++i) {
        // Newest first: 12:00, 11:50, ...
        const int minutes = 12 * 60 - 10 * i;
        image.records.push_back(zsim::MakeRecord(0x20, {2026, 3, 1, minutes / 60, minutes % 60, 0},
                                                 {uint8_t(i), 0x10, 0x20, 0x30}));
    }
    return image;
}

class Download : public ::testing::Test {
protected:
    void SetUp() override
    {
        App();
        root = home.Root();
        fs::create_directories(root / "rec");
        core = std::make_unique<TStationCore>(&view);
        core->LogFolder = (root / "logs").string();
        fs::create_directories(core->LogFolder);
        TStationSettings& s = core->Settings;
        s.TypeCom = TypeComSerial;
        s.PortNum = (root / "tty").string();
        s.AutoRecord = true;
        s.AutoRecordPath = (root / "rec").string() + "/";
        s.WriteTransReport = true;
    }
    void TearDown() override
    {
        core.reset();
        sim.Stop();
    }

    void StartSim(const zsim::Image& image, std::vector<std::string> extra)
    {
        ASSERT_TRUE(zsim::WriteFile((root / "mem.q5").string(), zsim::BuildDataFile(image)));
        std::vector<std::string> args{"--pty", "--link", (root / "tty").string(), "--q5", (root / "mem.q5").string()};
        args.insert(args.end(), extra.begin(), extra.end());
        ASSERT_TRUE(sim.Start(zsim::SimProcess::DefaultProgram(), args, (root / "report.txt").string()));
    }

    // Runs the event loop until the condition holds; with fastTicks the supervision runs every 40 ms
    // (one "second" of the engine), else on its own one-second timer.
    bool RunUntil(const std::function<bool()>& done, bool fastTicks = false)
    {
        QElapsedTimer sinceTick;
        sinceTick.start();
        return WaitUntil([&] {
            if (fastTicks && sinceTick.elapsed() >= 40) {
                sinceTick.restart();
                core->DefaultTimerTimer();
            }
            return done();
        });
    }

    void Connect(bool fastTicks = false)
    {
        core->ConfigureMedia();
        if (fastTicks) {
            // The task timer only; the test plays the supervision timer faster.
            QObject::connect(&taskTimer, &QTimer::timeout, [this] { core->ComTasksTimerTimer(); });
            taskTimer.start(100);
        } else {
            core->StartTimers();
        }
        core->ConnectButton(true);
        ASSERT_TRUE(core->ConnectButtonDown()) << view.All();
    }

    int Downloads() { return core->Transmissions().Count(); }

    std::vector<fs::path> Recorded()
    {
        std::vector<fs::path> files;
        for (auto& e : fs::directory_iterator(root / "rec"))
            if (e.path().extension() == ".Q5") files.push_back(e.path());
        std::sort(files.begin(), files.end());
        return files;
    }

    zsim::Image ReadRecorded(const fs::path& p)
    {
        zsim::Bytes bytes;
        zsim::Image image;
        EXPECT_TRUE(zsim::ReadFile(p.string(), bytes));
        EXPECT_TRUE(zsim::ParseDataFile(bytes, image));
        // Erased-memory records that ended the download are not part of the measurements.
        image.records.erase(std::remove_if(image.records.begin(), image.records.end(),
                                           [](const zsim::Bytes& r) { return r[0] == 0xFF; }),
                            image.records.end());
        return image;
    }

    bool Reported(const std::string& prefix) { return sim.WaitReport(prefix, 0); }

    // A download ended by the user in the middle of its records: recorded as cancelled, the
    // instrument told, and what came saved.
    void EndedByTheUserInTheMiddle(const std::function<void()>& press)
    {
        const zsim::Image image = TestImage(40);
        // At 9600 baud a record takes a few milliseconds: time enough to press in the middle.
        StartSim(image, {"--baud", "9600"});
        Connect();
        ASSERT_TRUE(RunUntil([&] { return core->Q5File && core->Q5File->NbEvt() >= 3; })) << view.All();
        press();
        ASSERT_TRUE(RunUntil([&] { return Downloads() == 1; })) << view.All();
        EXPECT_EQ(core->Transmissions().Item(0)->EndStatus, 1);
        EXPECT_TRUE(sim.WaitReport("ASK ZT", kTestDeadlineMs / 1000.0));
        const auto files = Recorded();
        ASSERT_EQ(files.size(), 1u);
        const zsim::Image saved = ReadRecorded(files[0]);
        EXPECT_GE(saved.records.size(), 3u);
        EXPECT_LT(saved.records.size(), image.records.size());
        EXPECT_TRUE(std::equal(saved.records.begin(), saved.records.end(), image.records.begin()));
        const std::string history = ScopedTestHome::Read(fs::path(core->LogFolder) / "Transmission.log");
        EXPECT_NE(history.find(",End:Canceled,"), std::string::npos) << history;
    }

    ScopedTestHome home;
    fs::path root;
    RecordingView view;
    std::unique_ptr<TStationCore> core;
    zsim::SimProcess sim;
    QTimer taskTimer;
};

}  // namespace

TEST_F(Download, FullDownloadWithSmallClockCorrectionIsRecorded)
{
    const zsim::Image image = TestImage(5);
    StartSim(image, {"--clock-offset", "-500"});
    Connect();
    ASSERT_TRUE(RunUntil([&] { return Downloads() == 1; })) << view.All();

    EXPECT_TRUE(view.Has("Communication established.")) << view.All();
    EXPECT_TRUE(view.Has("Parameters OK."));
    EXPECT_TRUE(view.Has("The instrument time error is 500\xB7seconds ")) << view.All();
    EXPECT_TRUE(view.Has("Smart correction intrument time of 63\xB7seconds "));
    EXPECT_TRUE(view.Has("Q5 file creation"));
    EXPECT_TRUE(view.HasPrefix("New instrument date : "));
    // Asked in order; the offset went to the instrument and the session was closed.
    EXPECT_TRUE(Reported("ASK J3F000000010100T"));
    EXPECT_TRUE(Reported("CLOCK shift 63 offset -437.000"));
    EXPECT_TRUE(sim.WaitReport("ASK Z", kTestDeadlineMs / 1000.0));

    const TTransmission* t = core->Transmissions().Item(0);
    EXPECT_EQ(t->EndStatus, 0);
    EXPECT_EQ(t->Errors, 0);
    EXPECT_FALSE(core->Connected());
    EXPECT_FALSE(core->Modified);

    const auto files = Recorded();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(core->Q5FileName(), files[0].string());
    const zsim::Image saved = ReadRecorded(files[0]);
    EXPECT_EQ(saved.records, image.records);  // every record, in the order received
    EXPECT_EQ(zsim::ToHex(saved.param).substr(0, 256), zsim::ToHex(image.param).substr(0, 256));
    // The header holds the instrument's clock at the download, 500 s behind the PC's.
    zsim::Bytes bytes;
    zsim::ReadFile(files[0].string(), bytes);
    ASSERT_GE(bytes.size(), 256u);
    double clock = 0, pc = 0;
    ASSERT_TRUE(TryEncodeDateTime(1900 + bytes[144], bytes[145], bytes[146], bytes[147], bytes[148], bytes[149], 0, clock));
    ASSERT_TRUE(TryEncodeDateTime(1900 + bytes[150], bytes[151], bytes[152], bytes[153], bytes[154], bytes[155], 0, pc));
    EXPECT_NEAR((pc - clock) * 86400, 500, 2);
    // The history has the download.
    const std::string history = ScopedTestHome::Read(fs::path(core->LogFolder) / "Transmission.log");
    EXPECT_NE(history.find(",End:Ok,"), std::string::npos) << history;
}

TEST_F(Download, HardClockSetLandsOnTheWholeSecond)
{
    core->Settings.HardSetTime = true;
    StartSim(TestImage(2), {"--clock-offset", "3600"});
    Connect();
    ASSERT_TRUE(RunUntil([&] { return Downloads() == 1; })) << view.All();
    EXPECT_TRUE(view.HasPrefix("The instrument time error is -3")) << view.All();
    EXPECT_TRUE(view.HasPrefix("Update instrument's time at : "));
    EXPECT_TRUE(view.HasPrefix("Waiting for synchronization "));
    ASSERT_TRUE(Reported("CLOCK set offset "));
    // The clock was set when the station read it at the target instant: the instrument is right to
    // a few tens of milliseconds, not late by the part of a second the digits cannot carry.
    for (const std::string& line : sim.Report()) {
        if (line.rfind("CLOCK set offset ", 0) == 0) {
            EXPECT_LT(std::fabs(std::stod(line.substr(17))), 0.25) << line;
        }
    }
    EXPECT_EQ(core->Transmissions().Item(0)->EndStatus, 0);
}

TEST_F(Download, WrappedMemoryEndsOnARecordAlreadyReceived)
{
    core->Settings.SmartSetTime = false;
    const zsim::Image image = TestImage(3);
    StartSim(image, {"--wrap"});
    Connect();
    ASSERT_TRUE(RunUntil([&] { return Downloads() == 1; })) << view.All();
    // The newest record came again after the oldest: the download ends there, without it.
    const auto files = Recorded();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(ReadRecorded(files[0]).records, image.records);
    const auto report = sim.Report();
    EXPECT_EQ(std::count(report.begin(), report.end(), "SEND record 0"), 2);
    EXPECT_EQ(std::count(report.begin(), report.end(), "ASK jT"), 3);
}

TEST_F(Download, LineNoiseAndLostBytesAreAskedAgain)
{
    const zsim::Image image = TestImage(8);
    StartSim(image, {"--noise", "0.3", "--drop", "0.1", "--seed", "7"});
    Connect();
    ASSERT_TRUE(RunUntil([&] { return Downloads() == 1; })) << view.All();
    const auto files = Recorded();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(ReadRecorded(files[0]).records, image.records) << view.All();
    EXPECT_GT(core->Transmissions().Item(0)->Errors1, 0);
    EXPECT_TRUE(Reported("ASK uT"));
}

TEST_F(Download, StalledInstrumentIsAskedAgainAfterTheTimeOut)
{
    const zsim::Image image = TestImage(4);
    StartSim(image, {"--stall-after", "2", "--stall-for", "0.5"});
    Connect(true);
    ASSERT_TRUE(RunUntil([&] { return Downloads() == 1; }, true)) << view.All();
    EXPECT_TRUE(view.Has("TimrOut Error #1")) << view.All();
    EXPECT_EQ(core->Transmissions().Item(0)->EndStatus, 0);
    EXPECT_GE(core->Transmissions().Item(0)->Errors2, 1);
    const auto files = Recorded();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(ReadRecorded(files[0]).records, image.records);
}

TEST_F(Download, CutLinkKeepsWhatCameAndEndsOnTheTimeOut)
{
    core->Settings.AutoReconnect = false;
    const zsim::Image image = TestImage(6);
    StartSim(image, {"--cut-after", "3"});
    Connect(true);
    ASSERT_TRUE(RunUntil([&] { return Downloads() >= 1; }, true)) << view.All();
    EXPECT_EQ(core->Transmissions().Item(0)->EndStatus, 2);
    EXPECT_TRUE(view.Has("TimrOut Error #3")) << view.All();
    EXPECT_TRUE(view.Has("End of the transmission.")) << view.All();
    const auto files = Recorded();
    ASSERT_EQ(files.size(), 1u);
    const zsim::Image first = ReadRecorded(files[0]);
    ASSERT_EQ(first.records.size(), 3u);
    EXPECT_TRUE(std::equal(first.records.begin(), first.records.end(), image.records.begin()));
    const std::string history = ScopedTestHome::Read(fs::path(core->LogFolder) / "Transmission.log");
    EXPECT_NE(history.find(",End:Timeout,"), std::string::npos) << history;
}

TEST_F(Download, CutLinkIsOpenedAgainAndTheNextSessionBringsEverything)
{
    const zsim::Image image = TestImage(6);
    StartSim(image, {"--cut-after", "3", "--reopen", "--again", "0.3"});
    Connect(true);
    // The port comes back by itself (every 7 s); the session that follows brings every record.
    ASSERT_TRUE(RunUntil(
        [&] {
            for (const auto& f : Recorded())
                if (ReadRecorded(f).records == image.records) return true;
            return false;
        },
        true))
        << view.All();
    EXPECT_TRUE(view.Has("TimrOut Error #1")) << view.All();
    EXPECT_GE(std::count(view.Memo.begin(), view.Memo.end(), "Port COM " + (root / "tty").string() + ": active communication port"), 2);
    // Nothing was lost: the first file holds the three records that came before the cut.
    const auto files = Recorded();
    ASSERT_GE(files.size(), 2u);
    EXPECT_EQ(ReadRecorded(files[0]).records.size(), 3u);
}

TEST_F(Download, StopEndsAfterTheCurrentRecordAndKeepsIt)
{
    EndedByTheUserInTheMiddle([this] { core->StopTransmission(); });
}

TEST_F(Download, DisconnectDuringADownloadIsCancelledAndKeepsWhatCame)
{
    // "Connect / Disconnect" ends the download as Stop does, then closes the port.
    EndedByTheUserInTheMiddle([this] { core->ConnectButton(false); });
    EXPECT_FALSE(core->Connected());
}

TEST_F(Download, ADownloadIsANewUnnamedFileNotTheOneThatWasOpen)
{
    // A file the user had open; the download must never be saved over it.
    const fs::path open = root / "open.Q5";
    ASSERT_TRUE(zsim::WriteFile(open.string(), zsim::BuildDataFile(TestImage(1))));
    core->ReplaceDataFile(new TQ5File(open.string()));
    core->SetQ5FileName(open.string());
    core->Modified = false;
    core->Settings.AutoRecord = false;
    core->Settings.SmartSetTime = false;
    StartSim(TestImage(3), {});
    Connect();
    ASSERT_TRUE(RunUntil([&] { return Downloads() == 1; })) << view.All();
    EXPECT_EQ(core->Q5FileName(), "");
    EXPECT_EQ(core->Q5File->FileName, "");
    EXPECT_TRUE(core->Modified);  // not saved anywhere yet
    EXPECT_EQ(core->Q5File->NbEvt(), 3);
}

// ---- the engine fed by hand (no medium) ----

class Engine : public ::testing::Test {
protected:
    void SetUp() override
    {
        App();
        core = std::make_unique<TStationCore>(&view);
        core->LogFolder = home.Root().string();
        core->Settings.TypeCom = TypeComSerial;
        core->InstallDefaultHandler();
    }
    void Feed(const std::string& bytes) { core->RS232ReceiveData(core.get(), bytes.data(), int(bytes.size())); }
    ScopedTestHome home;
    RecordingView view;
    std::unique_ptr<TStationCore> core;
};

TEST_F(Engine, DirectLinkConnectsOnTheFirstStxAnywhereInAChunk)
{
    const zsim::Bytes param = zsim::MakeParamBlock(0x14, "SP140042");
    Feed("noise\r" + zsim::ReplyFrame("SSIM1000000" + zsim::ToHex(param)) + "\r");
    EXPECT_TRUE(core->Connected());
    EXPECT_TRUE(view.Has("Communication established."));
    ASSERT_NE(core->Q5File, nullptr);
    EXPECT_EQ(core->Q5File->ParamBloc(), zsim::ToHex(param));
    EXPECT_EQ(core->phase(), 8);  // the clock was asked
}

TEST_F(Engine, ImpossibleClockRepliesAreBadFormat)
{
    bool secondsKnown = true;
    EXPECT_EQ(core->ParseInstrumentDate("h120000011326", secondsKnown), 0);  // month 13
    EXPECT_EQ(core->ParseInstrumentDate("h250000010126", secondsKnown), 0);  // hour 25
    EXPECT_EQ(core->ParseInstrumentDate("h1200600101", secondsKnown), 0);    // fields missing
    EXPECT_EQ(core->ParseInstrumentDate("x120000010126", secondsKnown), 0);
    EXPECT_FALSE(secondsKnown);
    EXPECT_TRUE(view.Has("ERROR: Date 'h120000011326' has bad format !"));
    double expected = 0;
    ASSERT_TRUE(TryEncodeDateTime(2026, 1, 2, 12, 30, 15, 0, expected));
    EXPECT_DOUBLE_EQ(core->ParseInstrumentDate("h123015020126", secondsKnown), expected);
    EXPECT_TRUE(secondsKnown);
    ASSERT_TRUE(TryEncodeDateTime(1995, 1, 2, 12, 30, 0, 0, expected));
    EXPECT_DOUBLE_EQ(core->ParseInstrumentDate("H1230020195", secondsKnown), expected);
    EXPECT_FALSE(secondsKnown);
}

TEST_F(Engine, UnwritableTransactionLogIsReportedOnceAndSwitchedOff)
{
    core->Settings.MakeTransLogFile = true;
    // A folder that cannot be made: its parent is a file.
    ScopedTestHome::Write(home.Root() / "file", "x");
    core->LogFolder = (home.Root() / "file" / "deeper").string();
    Feed("abc");
    Feed("def");
    int reported = 0;
    for (const auto& m : view.Memo) reported += m.find("ZELTWIN.LOG") != std::string::npos;
    EXPECT_EQ(reported, 1);
    EXPECT_FALSE(core->Settings.MakeTransLogFile);
    // The receive path still reaches the download: a frame still opens the connection.
    Feed(zsim::ReplyFrame("SSIM1000000" + zsim::ToHex(zsim::MakeParamBlock(1, "SP010001"))) + "\r");
    EXPECT_TRUE(core->Connected());
}

TEST_F(Engine, MissingLogFolderIsMadeForTheLogAndTheHistory)
{
    core->Settings.MakeTransLogFile = true;
    core->Settings.WriteTransReport = true;
    core->LogFolder = (home.Root() / "new" / "zelt").string();
    Feed(zsim::ReplyFrame("SSIM1000000" + zsim::ToHex(zsim::MakeParamBlock(1, "SP010001"))) + "\r");
    core->StopTransmission();
    EXPECT_FALSE(core->Connected());
    EXPECT_NE(ScopedTestHome::Read(home.Root() / "new" / "zelt" / "ZELTWIN.LOG").find("-REC-"), std::string::npos);
    EXPECT_NE(ScopedTestHome::Read(home.Root() / "new" / "zelt" / "Transmission.log").find("End:"), std::string::npos);
    EXPECT_FALSE(view.HasPrefix("ERROR: ")) << view.All();
}

TEST_F(Engine, UnwritableHistoryIsReportedOnce)
{
    core->Settings.WriteTransReport = true;
    ScopedTestHome::Write(home.Root() / "file", "x");
    core->LogFolder = (home.Root() / "file" / "deeper").string();
    const std::string params = zsim::ReplyFrame("SSIM1000000" + zsim::ToHex(zsim::MakeParamBlock(1, "SP010001"))) + "\r";
    for (int session = 0; session < 2; ++session) {
        Feed(params);
        ASSERT_TRUE(core->Connected());
        core->StopTransmission();
        ASSERT_FALSE(core->Connected());
    }
    int reported = 0;
    for (const auto& m : view.Memo) reported += m.find("Transmission.log cannot be written") != std::string::npos;
    EXPECT_EQ(reported, 1) << view.All();
}

TEST_F(Engine, EveryModemSessionStartsWithAllItsTimeOutRetries)
{
    core->Settings.TypeCom = TypeComModem;
    core->Settings.DebugModemEchoOn = true;  // no medium here: nothing to hang up
    const zsim::Image image = TestImage(3);
    Feed("\r\nCONNECT 9600\r\n");
    ASSERT_TRUE(core->Connected()) << view.All();
    EXPECT_EQ(core->TimeOutRetries, 3);
    Feed(zsim::ReplyFrame("SSIM1000000" + zsim::ToHex(image.param)) + "\r");
    Feed(zsim::ReplyFrame("h120000010326") + "\r");
    Feed(zsim::EventFrame(image.records[0]) + "\r");
    Feed(zsim::EventFrame(image.records[1]) + "\r");
    Feed(zsim::EventFrame(image.records[0]) + "\r");  // wrapped memory: the records are finished
    ASSERT_EQ(core->TimeOutRetries, 0) << view.All();
    core->StopTransmission();
    ASSERT_FALSE(core->Connected());
    Feed("\r\nCONNECT 9600\r\n");
    ASSERT_TRUE(core->Connected());
    EXPECT_EQ(core->TimeOutRetries, 3);
}

TEST_F(Engine, ReplyWithoutEndOfFrameEndsTheTransfer)
{
    Feed(std::string(1, '\x02') + "S");
    const std::string noise(100, '0');
    for (int i = 0; i < 8 && core->Connected(); ++i) Feed(noise);
    EXPECT_FALSE(core->Connected()) << view.All();
    EXPECT_TRUE(view.HasPrefix("ERROR: Reply without end of frame after ")) << view.All();
}

TEST_F(Engine, EventFrameWithoutEndIsABadFrame)
{
    const zsim::Image image = TestImage(1);
    Feed(zsim::ReplyFrame("SSIM1000000" + zsim::ToHex(image.param)) + "\r");
    Feed(zsim::ReplyFrame("h120000010326") + "\r");
    ASSERT_EQ(core->phase(), 3) << view.All();
    core->MemoView = true;  // shows what is sent
    Feed("\x02" "1");
    const std::string hex(100, 'A');
    auto badFrames = [&] { return core->CurrentTransmission() ? core->CurrentTransmission()->Errors1 : -1; };
    int fed = 0;
    while (badFrames() == 0 && fed < 20) Feed(hex), ++fed;
    EXPECT_EQ(fed, 6);  // 2 + 600 characters: past the longest frame
    EXPECT_EQ(badFrames(), 1);
    EXPECT_TRUE(view.HasPrefix("ERROR: Event frame without end after ")) << view.All();
    EXPECT_TRUE(view.Has("-SND- uT")) << view.All();  // asked again
    EXPECT_EQ(core->phase(), 3);
    // The frame asked again is received whole.
    Feed(zsim::EventFrame(image.records[0]) + "\r");
    EXPECT_EQ(core->Q5File->Events.Count(), 1);
}

TEST_F(Engine, TransactionLogLinesShowControlBytesInHex)
{
    core->Settings.MakeTransLogFile = true;
    Feed(std::string("A \x02\xB7", 4));
    const std::string log = ScopedTestHome::Read(home.Root() / "ZELTWIN.LOG");
    EXPECT_NE(log.find(",-REC-,A <02><b7>\r\n"), std::string::npos) << log;
}

TEST_F(Engine, DuplicateOfTheEventJustAddedIsNeverReadAfterRemoval)
{
    // Optimisation on: the engine looks at the event it added last; when that event was the
    // duplicate that got removed, it must not be looked at (this runs clean under the sanitizers).
    core->Settings.OptimizeTransmission = true;
    const zsim::Bytes param = zsim::MakeParamBlock(0x14, "SP140042");
    Feed(zsim::ReplyFrame("SSIM1000000" + zsim::ToHex(param)) + "\r");
    Feed(zsim::ReplyFrame("h120000010326") + "\r");
    ASSERT_EQ(core->phase(), 3) << view.All();
    const zsim::Image image = TestImage(3);
    Feed(zsim::EventFrame(image.records[0]) + "\r");
    Feed(zsim::EventFrame(image.records[1]) + "\r");
    Feed(zsim::EventFrame(image.records[0]) + "\r");  // wrapped memory
    EXPECT_EQ(core->Q5File->Events.Count(), 2);
    EXPECT_EQ(core->phase(), 10);
}
