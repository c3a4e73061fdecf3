// Downloads of every stored record from the instrument simulator through each network medium: raw TCP,
// telnet through ser2net, and the remote serial port through ser2net, the simulator at the pty's far end.
#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>
#include <memory>

#include <QProcess>
#include <QTemporaryDir>

#include "station/link/media/net/IPClient.h"
#include "station/link/media/net/TelCom.h"
#include "station/link/media/net/Telnet.h"
#include "sockets/tests/SocketTestSupport.h"
#include "tools/simulator/SimImage.h"
#include "tools/simulator/SimProcess.h"

namespace {

constexpr char kStx = 0x02;
constexpr char kEtb = 0x17;

// Collects the simulator's frames (STX ... ETB + two check characters) from a medium.
class FrameCollector {
public:
    explicit FrameCollector(TMedia& m)
    {
        m.OnData = [this](TMedia*, const char* d, int n) { FBuffer.append(d, static_cast<size_t>(n)); };
        m.OnOpened = [this](TMedia*) { ++Opened; };
    }

    // Next complete frame of the given letter (other frames, such as the repeated announce, are skipped).
    bool Next(char letter, std::string& frame, int timeoutMs = 5000)
    {
        return WaitUntil([&] {
            for (;;) {
                const size_t s = FBuffer.find(kStx);
                if (s == std::string::npos)
                    return false;
                const size_t e = FBuffer.find(kEtb, s);
                if (e == std::string::npos || FBuffer.size() < e + 3)
                    return false;
                const std::string f = FBuffer.substr(s, e + 3 - s);
                FBuffer.erase(0, e + 3);
                if (f.size() > 1 && f[1] == letter) {
                    frame = f;
                    return true;
                }
            }
        }, timeoutMs);
    }

    int Opened = 0;

private:
    std::string FBuffer;
};

bool FrameIntact(const std::string& frame)
{
    return frame.size() > 4 && zsim::FrameCheck(frame.substr(0, frame.size() - 2)) == frame.substr(frame.size() - 2);
}

// Asks for the first record and walks on until the instrument sends erased memory; the records read.
int WalkRecords(TMedia& m, FrameCollector& c, std::vector<std::string>& frames)
{
    m.WriteText("aT");
    std::string frame;
    while (c.Next('1', frame)) {
        EXPECT_TRUE(FrameIntact(frame)) << frame;
        if (frame.compare(2, 2, "FF") == 0)
            break;  // erased memory: the end of the stored records
        frames.push_back(frame);
        m.WriteText("jT");
    }
    return static_cast<int>(frames.size());
}

class DownloadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureApp();
        FSimulator = zsim::SimProcess::DefaultProgram();
        ASSERT_EQ(::access(FSimulator.c_str(), X_OK), 0) << "the instrument simulator is not built: " << FSimulator;
    }

    void TearDown() override { StopProcess(FSer2Net); }

    // The simulator on a pty and ser2net in front of it with both accepters; false when ser2net is absent.
    bool StartSer2Net()
    {
        const std::string bin = FindProgram("ser2net");
        if (bin.empty()) {
            ADD_FAILURE() << "ser2net is not installed (tools/setup.sh installs it)";
            return false;
        }
        EXPECT_TRUE(FSim.Start(FSimulator, {"--pty", "--records", "40"}, FDir.path().toStdString() + "/sim.log"));
        FTelnetPort = UnusedPort();
        FRfcPort = UnusedPort();
        const std::string cfg = FDir.path().toStdString() + "/ser2net.yaml";
        std::ofstream(cfg) << "connection: &plain\n  accepter: telnet,tcp,127.0.0.1," << FTelnetPort
                           << "\n  connector: serialdev," << FSim.Link() << ",9600n81,local\n"
                           << "connection: &rfc\n  accepter: telnet(rfc2217),tcp,127.0.0.1," << FRfcPort
                           << "\n  connector: serialdev," << FSim.Link() << ",9600n81,local\n";
        FSer2Net.start(QString::fromStdString(bin),
                       {"-n", "-u", "-P", FDir.path() + "/ser2net.pid", "-c", QString::fromStdString(cfg)});
        EXPECT_TRUE(FSer2Net.waitForStarted(kTestDeadlineMs));
        return WaitUntil([&] { return IsListening(FTelnetPort) && IsListening(FRfcPort); });
    }

    int SendLines() const
    {
        int n = 0;
        for (const auto& line : FSim.Report())
            n += line.rfind("SEND record", 0) == 0;
        return n;
    }

    std::string FSimulator;
    zsim::SimProcess FSim;
    QTemporaryDir FDir;
    QProcess FSer2Net;
    uint16_t FTelnetPort = 0;
    uint16_t FRfcPort = 0;
};

TEST_F(DownloadTest, OverTcp)
{
    ASSERT_TRUE(FSim.Start(FSimulator, {"--tcp", "0", "--records", "60"}, FDir.path().toStdString() + "/sim.log"));
    TMediaIP m;
    FrameCollector c(m);
    m.SetName("127.0.0.1:" + FSim.Link());
    ASSERT_TRUE(m.Open());
    ASSERT_TRUE(WaitUntil([&] { return m.IsOpen(); }));
    std::string announce;
    ASSERT_TRUE(c.Next('S', announce));  // the parameter block comes first
    EXPECT_TRUE(FrameIntact(announce));
    std::vector<std::string> frames;
    EXPECT_EQ(WalkRecords(m, c, frames), 60);
    EXPECT_EQ(SendLines(), 60);
    m.Close();
}

TEST_F(DownloadTest, TelnetThroughSer2Net)
{
    ASSERT_TRUE(StartSer2Net()) << "ser2net is not listening";
    TMediaTelnet m;
    FrameCollector c(m);
    m.SetName("127.0.0.1:" + std::to_string(FTelnetPort));
    ASSERT_TRUE(m.Open());
    ASSERT_TRUE(WaitUntil([&] { return c.Opened == 1 && m.IsOpen(); }));
    std::vector<std::string> frames;
    EXPECT_EQ(WalkRecords(m, c, frames), 40);
    EXPECT_EQ(SendLines(), 40);
    m.Close();
}

TEST_F(DownloadTest, RemoteSerialPortThroughSer2Net)
{
    ASSERT_TRUE(StartSer2Net()) << "ser2net is not listening";
    TMediaTelCom m;
    FrameCollector c(m);
    m.SetName("127.0.0.1:" + std::to_string(FRfcPort));
    m.SetMode("1200 8N1");
    ASSERT_TRUE(m.Open());
    ASSERT_TRUE(WaitUntil([&] { return c.Opened == 1 && m.IsOpen(); }));
    std::vector<std::string> frames;
    EXPECT_EQ(WalkRecords(m, c, frames), 40);
    EXPECT_EQ(SendLines(), 40);
    m.Close();
}

} // namespace
