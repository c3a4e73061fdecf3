#include "station/link/MediaSerial.h"
#include "station/link/Modem.h"
#include "station/link/tests/FakeModem.h"
#include "station/link/tests/LinkTestSupport.h"

#include <gtest/gtest.h>

#include <QTimer>

using namespace linktest;

namespace {

// The station's side of a modem link: host, medium on the fake modem's line, task queue, modem driver.
struct ModemRig {
    FakeModem Fake;
    RecordingHost Host;
    TMediaCOM Media;
    TComTaskList Tasks{Host};
    TModem Modem{Host, Tasks};
    std::string DefaultText;

    explicit ModemRig(int guardMs = 50)
        : Fake(guardMs)
    {
        Host.Media = &Media;
        Media.OnData = [this](TMedia*, const char* d, int n) { Host.CallReceiveHandler(&Host, d, n); };
        Media.SetName(Fake.Slave);
        Media.SetMode("9600 8N1");
        if (!Media.Open()) throw std::runtime_error(Media.LastError);
        Modem.WaitMs = 100;
        Tasks.StartNext();
    }
    bool Idle() const { return Tasks.Current == nullptr; }
    std::string Received() const
    {
        std::string all;
        for (const std::string& s : Host.DefaultCalls) all += s;
        return all;
    }
};

}  // namespace

TEST(Modem, InitStrSplitsAtSemicolons)
{
    EnsureApp();
    RecordingHost host;
    TComTaskList tasks(host);
    TModem m(host, tasks);
    m.SetInitStr("AT&C1;;ATX3;");
    EXPECT_EQ(m.GetInitCommands(), (std::vector<std::string>{"AT&C1", "", "ATX3"}));
    m.SetInitStr("");
    EXPECT_TRUE(m.GetInitCommands().empty());
    EXPECT_EQ(m.Rings, 2);
}

TEST(Modem, InitialisesStepByStepOnEachOk)
{
    ModemRig rig;
    rig.Modem.SetInitStr("AT&C1;ATX3");
    rig.Modem.Initialize();
    ASSERT_TRUE(WaitUntil([&] { return rig.Idle(); }));
    EXPECT_EQ(rig.Fake.Lines("CMD "),
              (std::vector<std::string>{"ATZ", "AT&F0", "ATE0", "ATS0=2", "AT&C1", "ATX3"}));
    EXPECT_TRUE(rig.Host.Logged("Initialized MODEM"));
    EXPECT_TRUE(rig.Host.Logged("Send ATS0=2"));
    EXPECT_EQ(rig.Host.CountLogged("OK Received"), 6);
    EXPECT_EQ(rig.Modem.OkCount, 6);
    EXPECT_EQ(rig.Host.Sent, "ATZ\rAT&F0\rATE0\rATS0=2\rAT&C1\rATX3\r");
    EXPECT_TRUE(rig.Host.IsDefaultHandlerInstalled());
}

TEST(Modem, RepliesSplitByteByByteAreStillSeen)
{
    ModemRig rig;
    rig.Fake.Control("bytewise on");
    rig.Host.Expert = false;
    rig.Host.Log.clear();
    rig.Modem.Initialize();
    ASSERT_TRUE(WaitUntil([&] { return rig.Idle(); }));
    EXPECT_EQ(rig.Fake.Lines("CMD ").size(), 4u);
    EXPECT_EQ(rig.Host.Log, (std::vector<std::string>{"Initialized MODEM"}));
}

TEST(Modem, SilentModemTimesOutStepByStep)
{
    ModemRig rig;
    rig.Fake.Control("mute on");
    rig.Host.ManualPickUp = true;
    rig.Modem.Initialize();
    auto commands = [&] { return rig.Fake.Lines("CMD ").size(); };
    ASSERT_TRUE(WaitUntil([&] { return commands() == 1; }));
    for (size_t step = 2; step <= 4; ++step) {
        for (int i = 0; i < 29; ++i) rig.Tasks.Tick();
        LetTimePass(50);
        EXPECT_EQ(commands(), step - 1);
        rig.Tasks.Tick();  // the 30th tick: 3 s after the command
        ASSERT_TRUE(WaitUntil([&] { return commands() == step; }));
    }
    EXPECT_EQ(rig.Fake.Lines("CMD ").back(), "ATS0=0");  // the user picks up
    EXPECT_FALSE(rig.Host.Logged("Unable to initialize the MODEM!"));
    for (int i = 0; i < 30; ++i) rig.Tasks.Tick();
    EXPECT_TRUE(rig.Idle());
    EXPECT_TRUE(rig.Host.Logged("Unable to initialize the MODEM!"));
    EXPECT_EQ(rig.Host.CountLogged("Timeout!"), 4);
}

TEST(Modem, AnswersAfterRingsAndSplitsReplyLines)
{
    ModemRig rig;
    rig.Modem.Initialize();
    ASSERT_TRUE(WaitUntil([&] { return rig.Idle(); }));
    rig.Host.DefaultCalls.clear();
    rig.Fake.Control("ring");
    rig.Fake.Control("ring");  // S0=2: the modem answers by itself
    ASSERT_TRUE(rig.Fake.WaitFor("CONNECTED"));
    ASSERT_TRUE(WaitUntil([&] { return rig.Received().find("CONNECT 9600\r\n") != std::string::npos; }));
    std::vector<std::string> lines;
    for (const std::string& chunk : rig.Host.DefaultCalls)
        for (const std::string& l : rig.Modem.SplitReplyLines(chunk)) lines.push_back(l);
    EXPECT_EQ(lines, (std::vector<std::string>{"\r", "RING\r", "\r", "RING\r", "\r", "CONNECT 9600\r"}));

    // Online data reaches the far end untouched.
    rig.Host.SendText("\x02" "DATA\x17");
    ASSERT_TRUE(WaitUntil([&] { return rig.Fake.Lines("DATA ").size() == 6; }));
}

TEST(Modem, SplitReplyLinesKeepsAnUnfinishedLine)
{
    EnsureApp();
    RecordingHost host;
    TComTaskList tasks(host);
    TModem m(host, tasks);
    EXPECT_TRUE(m.SplitReplyLines("RI").empty());
    EXPECT_EQ(m.PartialLine, "RI");
    EXPECT_EQ(m.SplitReplyLines("NG\r\n"), (std::vector<std::string>{"RING\r"}));
    EXPECT_EQ(m.PartialLine, "");
    EXPECT_EQ(m.SplitReplyLines("A\rB\r\nOK\r\nNO"), (std::vector<std::string>{"A\rB\r", "OK\r"}));
    EXPECT_EQ(m.PartialLine, "NO");
    EXPECT_TRUE(m.SplitReplyLines("\n\n").empty());
    EXPECT_EQ(m.PartialLine, "");
}

TEST(Modem, HangsUpWithEscapeAndAth)
{
    ModemRig rig;
    rig.Fake.Control("connect");
    rig.Modem.Disconnect();
    ASSERT_TRUE(WaitUntil([&] { return rig.Idle(); }));
    EXPECT_TRUE(rig.Fake.WaitFor("ESCAPE"));
    EXPECT_TRUE(rig.Fake.WaitFor("HUNGUP"));
    EXPECT_TRUE(rig.Host.Logged("Deconnected MODEM"));
    // The "OK" of the escape is acted upon once "ATH" is out: one more hang-up step, then the end
    // (a slow machine may see that "OK" only after the "ATH": one step more, never beyond three).
    const std::string step = "+++ATH\r";
    EXPECT_TRUE(rig.Host.Sent == step + step || rig.Host.Sent == step + step + step) << rig.Host.Sent;
    EXPECT_TRUE(rig.Host.Logged("Send +++"));
    EXPECT_TRUE(rig.Host.Logged("Send ATH"));
}

TEST(Modem, SilentHangUpGivesUpAfterThreeSteps)
{
    ModemRig rig;
    rig.Fake.Control("mute on");
    rig.Modem.Disconnect();
    auto sent = [&] { return rig.Host.Sent; };
    ASSERT_TRUE(WaitUntil([&] { return sent() == "+++ATH\r"; }));
    std::string steps = "+++ATH\r";
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 15; ++i) rig.Tasks.Tick();
        if (round == 2) break;  // the third silence ends it
        steps += "+++ATH\r";
        ASSERT_TRUE(WaitUntil([&] { return sent() == steps; })) << sent();  // "ATH" after the guard time
    }
    ASSERT_TRUE(WaitUntil([&] { return rig.Idle(); }));
    EXPECT_EQ(sent(), "+++ATH\r+++ATH\r+++ATH\r");
    EXPECT_TRUE(rig.Host.Logged("Unable to disconnect the MODEM!"));
    EXPECT_EQ(rig.Media.GetLine("DTR"), 1);  // the pulse ends with DTR on
}

TEST(Modem, PortCloseCancelsTheRunningStep)
{
    ModemRig rig;
    rig.Fake.Control("connect");
    rig.Modem.Disconnect();
    EXPECT_NE(rig.Tasks.Current, nullptr);
    EXPECT_EQ(rig.Tasks.EndPortTasks(), nullptr);  // before the guard time is over
    LetTimePass(350);
    EXPECT_EQ(rig.Host.Sent, "");
    EXPECT_FALSE(rig.Host.Logged("Deconnected MODEM"));
}

TEST(Modem, DriverFreedBeforeItsTasksLeavesNothingBehind)
{
    EnsureApp();
    RecordingHost host;
    TComTaskList tasks(host);
    tasks.StartNext();
    auto modem = std::make_unique<TModem>(host, tasks);
    modem->Initialize();
    modem->Disconnect();
    auto other = std::make_unique<TComTask>();
    other->Name = "script";
    tasks.Add(std::move(other));
    EXPECT_EQ(tasks.Current->Name, "Modem initialize");
    modem.reset();
    ASSERT_NE(tasks.Current, nullptr);
    EXPECT_EQ(tasks.Current->Name, "script");
    host.Receive("OK\r\n");  // reaches no freed driver
    tasks.Tick();
}

// The hang-up as the station runs it: the task queue driven by its real 100 ms timer, the one-second
// guard time of the driver, and modems whose own guard time is short or the usual second.
class ModemHangUpUnderTheTaskTimer : public ::testing::TestWithParam<int> {};

TEST_P(ModemHangUpUnderTheTaskTimer, EndsDisconnectedWithNothingSentAsData)
{
    ModemRig rig(GetParam());
    rig.Modem.WaitMs = 1000;
    QTimer taskTimer;
    QObject::connect(&taskTimer, &QTimer::timeout, [&] {
        rig.Tasks.Tick();
        rig.Tasks.StartNext();
    });
    taskTimer.start(100);
    rig.Fake.Control("connect");
    rig.Modem.Disconnect();
    ASSERT_TRUE(WaitUntil([&] { return rig.Idle(); }));
    EXPECT_TRUE(rig.Host.Logged("Deconnected MODEM"));
    EXPECT_FALSE(rig.Host.Logged("Unable to disconnect the MODEM!"));
    EXPECT_FALSE(rig.Host.Logged("Timeout!"));
    EXPECT_TRUE(rig.Fake.WaitFor("ESCAPE"));
    EXPECT_TRUE(rig.Fake.WaitFor("HUNGUP"));
    // Only the escape itself went down the line while the call was up.
    EXPECT_EQ(rig.Fake.Lines("DATA "), (std::vector<std::string>{"2B", "2B", "2B"}));
}

INSTANTIATE_TEST_SUITE_P(GuardTimes, ModemHangUpUnderTheTaskTimer, ::testing::Values(50, 1000));
