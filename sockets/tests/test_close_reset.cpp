// A plain socket whose peer sends its last bytes and resets the connection while our large send is
// under way, against a python peer on loopback: what the peer sent before the reset reaches the owner
// before the close, which carries the reset.
#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>

#include <string>

#include "sockets/NetSocket.h"
#include "sockets/tests/SocketTestPattern.h"
#include "sockets/tests/SocketTestSupport.h"

namespace {

// Serves the given number of connections one after the other. For each it reads the next of the
// comma-separated byte counts of our data, sends that many bytes of the pattern, waits until our
// kernel has acknowledged it (a reset drops what the sender still holds) and more of our data has
// come, and closes with that unread, so that its kernel resets the connection; then prints
// "CLOSED <connection> AFTER <bytes read>".
const std::string kSendThenResetPeer = std::string(kPythonPattern) + R"PY(
import fcntl, select, socket, struct, sys, termios, time
count, firsts, size = int(sys.argv[1]), [int(x) for x in sys.argv[2].split(",")], int(sys.argv[3])
payload = pattern(size)
ls = socket.socket()
ls.bind(("127.0.0.1", 0))
ls.listen(1)
print("ACCEPT 127.0.0.1:%d" % ls.getsockname()[1], flush=True)
for i in range(count):
    conn, _ = ls.accept()
    first, n = firsts[i % len(firsts)], 0
    while n < first:
        b = conn.recv(min(65536, first - n))
        if not b:
            break
        n += len(b)
    conn.sendall(payload)
    deadline = time.time() + 30
    while struct.unpack("i", fcntl.ioctl(conn, termios.TIOCOUTQ, b"\0\0\0\0"))[0] > 0 and time.time() < deadline:
        time.sleep(0.005)
    select.select([conn], [], [], 30)
    conn.close()
    print("CLOSED %d AFTER %d" % (i, n), flush=True)
)PY";

class PeerProcess {
public:
    explicit PeerProcess(const QStringList& args)
    {
        FProcess.setProcessChannelMode(QProcess::MergedChannels);
        FProcess.start("python3", args);
        FProcess.waitForStarted(kTestDeadlineMs);
    }
    ~PeerProcess() { StopProcess(FProcess); }
    std::string Output()
    {
        FOutput += FProcess.readAll().toStdString();
        return FOutput;
    }
    // The first whole line that begins with the text, waited for; empty when none came.
    std::string WaitForLine(const std::string& start)
    {
        std::string line;
        WaitUntil([&] {
            const std::string out = Output();
            const size_t at = out.find(start);
            const size_t eol = at == std::string::npos ? at : out.find('\n', at);
            if (eol == std::string::npos)
                return false;
            line = out.substr(at, eol - at);
            return true;
        });
        return line;
    }

private:
    QProcess FProcess;
    std::string FOutput;
};

// One connection of the owner: sends a large block at once and reads everything in OnDataAvailable.
struct Owner {
    TNetSocket S;
    std::string Received;
    std::string ReceivedAtClose;
    int Closed = 0;
    int ClosedError = -1;
    bool Connected = false;

    Owner()
    {
        S.OnSessionConnected = [this](TCustomNetSocket*, uint16_t e) { Connected = e == 0; };
        S.OnDataAvailable = [this](TCustomNetSocket* s, uint16_t) {
            char buf[4096];
            int n;
            while ((n = s->Receive(buf, sizeof buf)) > 0)
                Received.append(buf, static_cast<size_t>(n));
        };
        S.OnSessionClosed = [this](TCustomNetSocket*, uint16_t e) {
            ++Closed;
            ClosedError = e;
            ReceivedAtClose = Received;
        };
    }
};

class CloseResetTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureApp(); }
};

} // namespace

TEST_F(CloseResetTest, PeersLastBytesBeforeItsResetReachTheOwner)
{
    // The peer sends 16 KB and closes with our data unread while our 8 MB send goes on: its kernel
    // resets the connection. The bytes are in our kernel before the reset; the owner must get them
    // all before it hears of the close, whether the reset is met by a read or by our next send.
    const std::string payload = PatternBytes(16384);
    const std::string data(8u << 20, 's');
    const std::vector<const char*> firsts = {"0", "4096", "65536", "262144", "1048576", "131072",
                                             "0", "16384", "524288"};
    std::string list;
    for (const char* f : firsts)
        list += std::string(list.empty() ? "" : ",") + f;
    const int count = static_cast<int>(firsts.size());
    PeerProcess peer({"-c", QString::fromStdString(kSendThenResetPeer), QString::number(count),
                      QString::fromStdString(list), QString::number(payload.size())});
    const std::string accept = peer.WaitForLine("ACCEPT ");
    ASSERT_FALSE(accept.empty()) << peer.Output();
    const std::string port = accept.substr(accept.rfind(':') + 1);
    int whole = 0;
    for (int i = 0; i < count; ++i) {
        SCOPED_TRACE("connection " + std::to_string(i) + ", the peer answers after " + firsts[i] + " bytes");
        Owner o;
        o.S.SetAddr("127.0.0.1");
        o.S.SetPort(port);
        o.S.Connect();
        ASSERT_TRUE(WaitUntil([&] { return o.Connected || o.Closed > 0; })) << "no connection";
        ASSERT_TRUE(o.Connected);
        EXPECT_EQ(o.S.Send(data.data(), static_cast<int>(data.size())), static_cast<int>(data.size()));
        ASSERT_TRUE(WaitUntil([&] { return o.Closed > 0; })) << "no close reported\n" << peer.Output();
        EXPECT_FALSE(peer.WaitForLine("CLOSED " + std::to_string(i) + " ").empty()) << peer.Output();
        EXPECT_EQ(o.ReceivedAtClose.size(), payload.size());
        EXPECT_TRUE(o.ReceivedAtClose == payload);
        EXPECT_EQ(o.ClosedError, 10054);
        EXPECT_EQ(o.Closed, 1);
        EXPECT_EQ(o.S.State(), wsClosed);
        whole += o.ReceivedAtClose == payload;
    }
    std::printf("peer's bytes whole before the close in %d of %d connections\n", whole, count);
}
