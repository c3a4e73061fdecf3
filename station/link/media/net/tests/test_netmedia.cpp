// The network media against loopback peers: a raw TCP peer, small telnet peers in the test for the
// negotiation details, and the serial server ser2net in front of a pseudo-terminal.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <poll.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <linux/sockios.h>
#include <memory>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include "station/link/Media.h"
#include "station/link/media/net/IPClient.h"
#include "station/link/media/net/TelCom.h"
#include "station/link/media/net/Telnet.h"
#include "sockets/tests/SocketTestSupport.h"

namespace {

const std::string kTelnetNegotiation = B({255, 253, 0, 255, 253, 3, 255, 254, 1});

// Records what a medium reports.
struct MediaProbe {
    int opened = 0;
    int closed = 0;
    bool openAtOpened = false;
    std::string data;
    std::vector<std::string> chunks;

    void Hook(TMedia* m)
    {
        m->OnOpened = [this](TMedia* x) {
            ++opened;
            openAtOpened = x->IsOpen();
        };
        m->OnClosed = [this](TMedia*) { ++closed; };
        m->OnData = [this](TMedia*, const char* d, int n) {
            data.append(d, static_cast<size_t>(n));
            chunks.emplace_back(d, static_cast<size_t>(n));
        };
    }
};

class NetMediaTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureApp(); }
};

TEST_F(NetMediaTest, CreatedByTypeName)
{
    for (const char* name : {"IP", "ip", "Telnet", "TELNET", "TelCom", "telcom"}) {
        std::unique_ptr<TMedia> m(CreateMedia(name, nullptr));
        ASSERT_TRUE(m) << name;
    }
    std::unique_ptr<TMedia> ip(CreateMedia("ip", nullptr));
    EXPECT_EQ(ip->TypeName, "IP");
    EXPECT_EQ(ip->Caption, "Port Tcp");
    std::unique_ptr<TMedia> tc(CreateMedia("TelCom", nullptr));
    EXPECT_EQ(tc->Caption, "Port TelCom");
    EXPECT_EQ(tc->GetLine("dtr"), 1);
    EXPECT_EQ(tc->GetLine("CTS"), -1);
    EXPECT_TRUE(ip->Purge());
    EXPECT_EQ(ip->Write("x", 1), -1);  // no client yet
}

TEST_F(NetMediaTest, ClientAddressParsing)
{
    TIPClient c;
    EXPECT_TRUE(c.SetAddress("192.168.1.20:10001"));
    EXPECT_EQ(c.Host, "192.168.1.20");
    EXPECT_EQ(c.Port, "10001");
    EXPECT_FALSE(c.SetAddress("MyHost"));
    EXPECT_EQ(c.Host, "myhost");
    TTelnetClient t;
    EXPECT_TRUE(t.SetAddress(" Server "));
    EXPECT_EQ(t.Port, "22");
    TTelComClient r;
    EXPECT_TRUE(r.SetAddress("server"));
    EXPECT_EQ(r.Port, "1470");
    EXPECT_EQ(r.SetDataBits(9), 8);
    EXPECT_EQ(r.SetStopBits(0), 1);
}

TEST_F(NetMediaTest, IpMediumCarriesRawBytes)
{
    TestListener l;
    TMediaIP m;
    MediaProbe p;
    p.Hook(&m);
    m.SetName("127.0.0.1:" + l.PortText());
    ASSERT_TRUE(m.Open());
    EXPECT_TRUE(m.IsOpening());
    const int peer = l.Accept();
    ASSERT_GE(peer, 0);
    ASSERT_TRUE(WaitUntil([&] { return p.opened == 1; }));
    EXPECT_TRUE(p.openAtOpened);
    // ApplyPort while connected keeps the address.
    m.SetName("10.9.9.9:1");
    EXPECT_EQ(m.Client()->Host, "127.0.0.1");
    const std::string bytes = B({2, 0, 255, 3, 'a'});
    EXPECT_EQ(m.Write(bytes.data(), static_cast<int>(bytes.size())), 5);
    EXPECT_EQ(ReadNPumping(peer, 5), bytes);
    ASSERT_TRUE(WriteAll(peer, B({2, 'x', 255})));
    ASSERT_TRUE(WaitUntil([&] { return p.data.size() == 3; }));
    EXPECT_EQ(p.data, B({2, 'x', 255}));
    ::close(peer);
    ASSERT_TRUE(WaitUntil([&] { return p.closed == 1; }));
    EXPECT_FALSE(m.IsOpen());
    EXPECT_EQ(m.Write("x", 1), -2);
}

TEST_F(NetMediaTest, RefusedConnectionIsNeverAnActivePort)
{
    TMediaIP m;
    MediaProbe p;
    p.Hook(&m);
    m.SetName("127.0.0.1:" + std::to_string(UnusedPort()));
    ASSERT_TRUE(m.Open());
    ASSERT_TRUE(WaitUntil([&] { return p.opened == 1; }));
    EXPECT_FALSE(p.openAtOpened);
    ASSERT_TRUE(WaitUntil([&] { return p.closed == 1; }));
    EXPECT_FALSE(m.IsOpen());
    EXPECT_FALSE(m.IsOpening());
}

TEST_F(NetMediaTest, OpenFailsAtOnceForAnAddressThatCannotStart)
{
    TMediaIP m;
    m.SetName("no.such.host.invalid:23");
    EXPECT_FALSE(m.Open());
    EXPECT_TRUE(m.ErrorFlag);
    EXPECT_FALSE(m.LastError.empty());
    TMediaIP n;
    n.SetName("hostonly");
    EXPECT_FALSE(n.Open());
}

TEST_F(NetMediaTest, CloseSendsQueuedBytesFirst)
{
    TestListener l;
    TMediaIP m;
    MediaProbe p;
    p.Hook(&m);
    m.SetName("127.0.0.1:" + l.PortText());
    ASSERT_TRUE(m.Open());
    const int peer = l.Accept();
    ASSERT_TRUE(WaitUntil([&] { return m.IsOpen(); }));
    const std::string big(8 * 1024 * 1024, 'z');
    EXPECT_EQ(m.Write(big.data(), static_cast<int>(big.size())), static_cast<int>(big.size()));
    EXPECT_TRUE(m.Close());
    EXPECT_EQ(p.closed, 1);
    bool eof = false;
    const std::string got = ReadToEofPumping(peer, 15000, &eof);
    EXPECT_TRUE(eof);
    EXPECT_EQ(got.size(), big.size());
    ::close(peer);
}

// --- telnet against a fake peer --------------------------------------------------------------------------

class TelnetPeerTest : public NetMediaTest {
protected:
    // Opens the medium against the listener and returns the peer's descriptor once the client's
    // negotiation bytes have arrived (checked against `expected`).
    int OpenAndNegotiate(TMediaIP& m, TestListener& l, const std::string& expected, const std::string& greeting = {})
    {
        m.SetName("127.0.0.1:" + l.PortText());
        EXPECT_TRUE(m.Open());
        const int peer = l.Accept();
        if (!greeting.empty())
            WriteAll(peer, greeting);
        const std::string got = ReadNPumping(peer, expected.size());
        EXPECT_EQ(got, expected);
        return peer;
    }
};

// A telnet or remote serial port medium (1200 8N1) opened against a listener of its own: once made,
// the medium is open and our negotiation and settings were read; Peer is -1 when it did not open.
struct TReadyMedium {
    TestListener Listener;
    MediaProbe Probe;  // outlives the medium, which may report its close as it goes
    std::unique_ptr<TMediaTelnet> Medium;
    int Peer = -1;

    explicit TReadyMedium(bool telCom)
        : Medium(telCom ? std::make_unique<TMediaTelCom>() : std::make_unique<TMediaTelnet>())
    {
        Probe.Hook(Medium.get());
        if (telCom)
            Medium->SetMode("1200 8N1");
        Medium->SetName("127.0.0.1:" + Listener.PortText());
        if (!Medium->Open())
            return;
        const int peer = Listener.Accept();
        if (peer < 0)
            return;
        if (!WaitUntil([&] { return Probe.opened == 1; })) {
            ::close(peer);
            return;
        }
        ReadNPumping(peer, 1000, 500);
        Peer = peer;
    }
    TTelnetClient* Client() const { return static_cast<TTelnetClient*>(Medium->Client()); }
};

TEST_F(TelnetPeerTest, NegotiatesDoublesAndStrips)
{
    TestListener l;
    TMediaTelnet m;
    MediaProbe p;
    p.Hook(&m);
    const int peer = OpenAndNegotiate(m, l, kTelnetNegotiation);
    ASSERT_TRUE(WaitUntil([&] { return p.opened == 1; }));
    EXPECT_TRUE(p.openAtOpened);

    const std::string out = B({1, 255, 2});
    EXPECT_EQ(m.Write(out.data(), 3), 3);
    EXPECT_EQ(ReadNPumping(peer, 4), B({1, 255, 255, 2}));

    // WILL ECHO twice: one DONT ECHO; DO 24: WONT 24; WILL SGA: DO SGA.
    ASSERT_TRUE(WriteAll(peer, B({255, 251, 1, 255, 251, 1, 255, 253, 24, 255, 251, 3})));
    EXPECT_EQ(ReadNPumping(peer, 9, 2000), B({255, 254, 1, 255, 252, 24, 255, 253, 3}));
    EXPECT_EQ(ReadNPumping(peer, 1, 200), "");

    ASSERT_TRUE(WriteAll(peer, B({0x41, 255, 255, 0x42})));
    ASSERT_TRUE(WaitUntil([&] { return p.data.size() == 3; }));
    const std::vector<std::string> want = {"A", B({255}), "B"};
    EXPECT_EQ(p.chunks, want);

    // A sub-negotiation ends only at IAC SE; IAC IAC and SE inside it are its own bytes.
    p.chunks.clear();
    p.data.clear();
    ASSERT_TRUE(WriteAll(peer, B({255, 250, 24, 1, 255, 255, 240, 7, 255, 240, 'o', 'k'})));
    ASSERT_TRUE(WaitUntil([&] { return p.data == "ok"; }));
    ::close(peer);
    ASSERT_TRUE(WaitUntil([&] { return p.closed == 1; }));
}

namespace {

long StatusKb(const char* key)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0)
            return std::atol(line.c_str() + std::strlen(key));
    return -1;
}

// Starts a fresh peak of the resident memory; returns the resident size now (kB).
long StartMemoryPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
    return StatusKb("VmRSS:");
}

long MemoryPeakKb() { return StatusKb("VmHWM:"); }

// The address sanitizer keeps freed blocks in quarantine: resident memory then says nothing of what
// the code under test holds.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMemoryMeasured = false;
#else
constexpr bool kMemoryMeasured = true;
#endif

} // namespace

TEST_F(TelnetPeerTest, HostileNegotiationKeepsMemoryBounded)
{
    for (const bool telCom : {false, true}) {
        SCOPED_TRACE(telCom ? "TelCom" : "Telnet");
        TReadyMedium ready(telCom);
        ASSERT_GE(ready.Peer, 0);
        auto& m = ready.Medium;
        MediaProbe& p = ready.Probe;
        const int peer = ready.Peer;

        // A sub-negotiation of 64 MB that only ends at the last IAC SE, then data. Kept whole it
        // costs twice its size at least; the bounds leave room for the socket's read buffers.
        const long base = StartMemoryPeak();
        std::thread subWriter([peer] {
            WriteAll(peer, B({255, 250, 24}));
            const std::string junk(1 << 20, 'x');
            for (int i = 0; i < 64; ++i)
                WriteAll(peer, junk);
            WriteAll(peer, B({255, 240}) + "ok");
        });
        EXPECT_TRUE(WaitUntil([&] { return p.data == "ok"; }));
        subWriter.join();
        if (kMemoryMeasured) {
            EXPECT_LT(MemoryPeakKb() - base, 48 * 1024) << "peak " << MemoryPeakKb() << " kB from " << base << " kB";
        }

        // An option storm: WILL BINARY, WONT BINARY a million times. Each pair is answered with
        // DO BINARY, DONT BINARY, while the peer reads the answers as they come.
        constexpr int pairs = 1000000;
        const std::string pair = B({255, 251, 0, 255, 252, 0});
        const std::string answer = B({255, 253, 0, 255, 254, 0});
        ReadNPumping(peer, 1 << 20, 200);  // nothing else waits
        const long base2 = StartMemoryPeak();
        std::thread stormWriter([peer, pair] {
            std::string block;
            for (int i = 0; i < 10000; ++i)
                block += pair;
            for (int i = 0; i < pairs / 10000; ++i)
                WriteAll(peer, block);
        });
        const std::string answers = ReadNPumping(peer, answer.size() * pairs, 60000);
        stormWriter.join();
        EXPECT_EQ(answers.size(), answer.size() * pairs);
        EXPECT_EQ(answers.substr(0, 12), answer + answer);
        EXPECT_EQ(answers.substr(answers.size() - 6), answer);
        if (kMemoryMeasured) {
            EXPECT_LT(MemoryPeakKb() - base2, 64 * 1024) << "peak " << MemoryPeakKb() << " kB from " << base2 << " kB";
        }
        EXPECT_TRUE(m->IsOpen());
        ::close(peer);
        ASSERT_TRUE(WaitUntil([&] { return p.closed == 1; }));
    }
}

TEST_F(TelnetPeerTest, PeerThatNeverReadsHoldsTheRepliesBounded)
{
    const std::string pair = B({255, 251, 0, 255, 252, 0});     // WILL BINARY, WONT BINARY
    const std::string answer = B({255, 253, 0, 255, 254, 0});   // DO BINARY, DONT BINARY
    std::string block;
    for (int i = 0; i < 10000; ++i)
        block += pair;
    // The third time a large write of the owner is queued before the replies: it does not count
    // against their bound, and it does not lift it either.
    const std::string written4(4u << 20, 'w');
    for (const auto& [telCom, ownerData] : {std::pair{false, std::string()}, std::pair{true, std::string()},
                                            std::pair{false, written4}}) {
        SCOPED_TRACE(telCom ? "TelCom" : "Telnet");
        SCOPED_TRACE(ownerData.size());
        TReadyMedium ready(telCom);
        ASSERT_GE(ready.Peer, 0);
        ASSERT_EQ(ready.Medium->Write(ownerData.data(), static_cast<int>(ownerData.size())),
                  static_cast<int>(ownerData.size()));

        // The server sends option pairs and reads nothing. The client must stop reading once its
        // replies pile up: then the server's writes stall.
        constexpr size_t kFlood = 32u << 20;
        std::atomic<size_t> written{0};
        std::atomic<bool> stalled{false}, flooding{true};
        const long base = StartMemoryPeak();
        std::thread flooder([&] {
            ::fcntl(ready.Peer, F_SETFL, ::fcntl(ready.Peer, F_GETFL) | O_NONBLOCK);
            auto progress = std::chrono::steady_clock::now();
            while (written < kFlood) {
                pollfd pf{ready.Peer, POLLOUT, 0};
                if (::poll(&pf, 1, 50) > 0) {
                    const size_t at = written % block.size();
                    const ssize_t n = ::send(ready.Peer, block.data() + at, block.size() - at, MSG_NOSIGNAL);
                    if (n > 0) {
                        written += static_cast<size_t>(n);
                        progress = std::chrono::steady_clock::now();
                        continue;
                    }
                    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                        break;
                }
                if (std::chrono::steady_clock::now() - progress > std::chrono::milliseconds(1500)) {
                    stalled = true;
                    break;
                }
            }
            flooding = false;
        });
        size_t maxQueued = 0, maxReplies = 0;
        const bool ended = WaitUntil([&] {
            maxQueued = std::max(maxQueued, ready.Client()->QueuedBytes());
            maxReplies = std::max(maxReplies, ready.Client()->QueuedReplyBytes());
            return !flooding;
        }, 10 * kTestDeadlineMs);
        flooder.join();
        ASSERT_TRUE(ended);
        EXPECT_TRUE(stalled) << "the client read all " << written << " bytes, its replies unread";
        EXPECT_LE(maxReplies, TTelnetClient::kQueuedLimit + TTelnetClient::kReadPass);
        EXPECT_LE(maxQueued, ownerData.size() + TTelnetClient::kQueuedLimit + TTelnetClient::kReadPass);
        EXPECT_TRUE(ready.Client()->ReadingHeld());
        if (kMemoryMeasured) {
            EXPECT_LT(MemoryPeakKb() - base, 24 * 1024) << "peak " << MemoryPeakKb() << " kB from " << base << " kB";
        }
        EXPECT_TRUE(ready.Medium->IsOpen());

        // Once the server reads, every pair is answered and the data after them arrives.
        const std::string rest = pair.substr(written % pair.size()) + "ok";
        const size_t answers = (written / pair.size() + (written % pair.size() ? 1 : 0)) * answer.size();
        std::thread finisher([&] {
            ::fcntl(ready.Peer, F_SETFL, ::fcntl(ready.Peer, F_GETFL) & ~O_NONBLOCK);
            WriteAll(ready.Peer, rest);
        });
        std::string got = ReadNPumping(ready.Peer, ownerData.size() + answers, 90000);
        finisher.join();
        EXPECT_TRUE(got.compare(0, ownerData.size(), ownerData) == 0) << "the owner's data first";
        got.erase(0, ownerData.size());
        EXPECT_EQ(got.size(), answers);
        EXPECT_EQ(got.substr(0, 12), answer + answer);
        if (got.size() >= answer.size()) {
            EXPECT_EQ(got.substr(got.size() - answer.size()), answer);
        }
        EXPECT_TRUE(WaitUntil([&] { return ready.Probe.data == "ok"; })) << ready.Probe.data.size();
        EXPECT_FALSE(ready.Client()->ReadingHeld());
        EXPECT_TRUE(ready.Medium->IsOpen());
        ::close(ready.Peer);
        ASSERT_TRUE(WaitUntil([&] { return ready.Probe.closed == 1; }));
    }
}

TEST_F(TelnetPeerTest, DataBeforeTheServerClosesArrivesDuringALargeWrite)
{
    // A large write the server does not read is queued when the server sends its last bytes and
    // closes: they still reach the owner before the close.
    const std::string big(16 << 20, 'x');
    for (const bool telCom : {false, true}) {
        SCOPED_TRACE(telCom ? "TelCom" : "Telnet");
        TReadyMedium ready(telCom);
        ASSERT_GE(ready.Peer, 0);
        EXPECT_EQ(ready.Medium->Write(big.data(), static_cast<int>(big.size())), static_cast<int>(big.size()));
        ASSERT_GT(ready.Client()->QueuedBytes(), TTelnetClient::kQueuedLimit);
        ASSERT_TRUE(WriteAll(ready.Peer, "last bytes"));
        ::shutdown(ready.Peer, SHUT_WR);
        EXPECT_TRUE(WaitUntil([&] { return ready.Probe.closed == 1; }));
        EXPECT_EQ(ready.Probe.data, "last bytes");
        ::close(ready.Peer);
    }
}

TEST_F(TelnetPeerTest, LastBytesOfAServerThatClosesWhileReadingIsHeldArrive)
{
    // A server floods option requests and never reads the replies, until the client holds reading;
    // then it sends its last data bytes and closes, by a half close (its end of the stream) or by a
    // full close (a reset, its replies unread). The owner gets every data byte, then the close.
    const std::string pair = B({255, 251, 0, 255, 252, 0});  // WILL BINARY, WONT BINARY
    std::string block;
    while (block.size() < 6000)
        block += pair;
    const std::string last = "the server's last bytes\r\n";
    for (const bool telCom : {false, true}) {
        for (const bool halfClose : {true, false}) {
            SCOPED_TRACE(telCom ? "TelCom" : "Telnet");
            SCOPED_TRACE(halfClose ? "half close" : "full close");
            TReadyMedium ready(telCom);
            ASSERT_GE(ready.Peer, 0);
            std::string dataAtClose;
            ready.Medium->OnClosed = [&](TMedia*) {
                ++ready.Probe.closed;
                dataAtClose = ready.Probe.data;
            };
            // One block at a time, the next once the client has read the last: when it holds reading,
            // the connection still has room for the last bytes.
            const int client = ready.Client()->Socket->HSocket();
            std::atomic<bool> stop{false}, flooding{true};
            std::atomic<size_t> written{0};
            std::thread flooder([&] {
                while (!stop) {
                    int unacked = 0, unread = 0;
                    ::ioctl(ready.Peer, SIOCOUTQ, &unacked);
                    ::ioctl(client, FIONREAD, &unread);
                    if (unacked > 0 || unread > 0) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                        continue;
                    }
                    if (!WriteAll(ready.Peer, block))
                        break;
                    written += block.size();
                }
                flooding = false;
            });
            const bool held = WaitUntil([&] { return ready.Client()->ReadingHeld() || !flooding; });
            stop = true;
            flooder.join();
            ASSERT_TRUE(held) << "the client never held reading after " << written << " bytes of requests";
            ASSERT_TRUE(ready.Client()->ReadingHeld()) << "the flood ended after " << written << " bytes";
            ASSERT_TRUE(WriteAll(ready.Peer, last));
            // A reset drops what the server's socket still holds: the close waits until the client's
            // socket has taken every byte.
            ASSERT_TRUE(WaitUntil([&] {
                int unacked = 0;
                ::ioctl(ready.Peer, SIOCOUTQ, &unacked);
                return unacked == 0;
            })) << "the last bytes never reached the client's socket";
            if (halfClose)
                ::shutdown(ready.Peer, SHUT_WR);
            else
                ::close(ready.Peer);
            EXPECT_TRUE(WaitUntil([&] { return ready.Probe.closed == 1; }))
                << "no close reported; data: " << ready.Probe.data.size() << " bytes, reading held "
                << ready.Client()->ReadingHeld();
            EXPECT_EQ(dataAtClose, last);
            EXPECT_EQ(ready.Probe.data, last);
            if (halfClose)
                ::close(ready.Peer);
        }
    }
}

// A single-threaded echo server on its own thread: it reads at most 64 KB, sends them back, and only
// then reads again, with socket buffers of 64 KB. It gives up once `stop` is set.
class TEchoServer {
public:
    explicit TEchoServer(int fd) : FFd(fd)
    {
        const int size = 64 * 1024;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        FThread = std::thread([this] { Run(); });
    }
    ~TEchoServer()
    {
        FStop = true;
        FThread.join();
    }
    size_t Echoed() const { return FEchoed; }

private:
    int FFd;
    std::atomic<bool> FStop{false};
    std::atomic<size_t> FEchoed{0};
    std::thread FThread;

    bool WaitReady(short events)
    {
        while (!FStop) {
            pollfd pf{FFd, events, 0};
            if (::poll(&pf, 1, 50) > 0)
                return true;
        }
        return false;
    }
    void Run()
    {
        std::string buf(64 * 1024, '\0');
        while (WaitReady(POLLIN)) {
            const ssize_t n = ::recv(FFd, buf.data(), buf.size(), 0);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK))
                return;
            for (ssize_t at = 0; n > 0 && at < n;) {
                if (!WaitReady(POLLOUT))
                    return;
                const ssize_t m = ::send(FFd, buf.data() + at, static_cast<size_t>(n - at), MSG_NOSIGNAL);
                if (m < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                    return;
                if (m > 0) {
                    at += m;
                    FEchoed += static_cast<size_t>(m);
                }
            }
        }
    }
};

TEST_F(TelnetPeerTest, LargeWriteComesBackFromAnEchoingServer)
{
    // The server answers before it reads more: the client must read while its own data is still
    // queued, or both wait for each other for ever.
    std::string data;
    for (int i = 0; data.size() < (16u << 20); ++i)
        data += "echo line " + std::to_string(i) + "\n";
    data.resize(16u << 20);
    for (const bool telCom : {false, true}) {
        SCOPED_TRACE(telCom ? "TelCom" : "Telnet");
        TReadyMedium ready(telCom);
        ASSERT_GE(ready.Peer, 0);
        TEchoServer echo(ready.Peer);
        ASSERT_EQ(ready.Medium->Write(data.data(), static_cast<int>(data.size())), static_cast<int>(data.size()));
        // Waits for the whole echo, giving up once nothing has come back for half a minute.
        size_t queuedAtFirstData = 0, seen = 0;
        auto progress = std::chrono::steady_clock::now();
        WaitUntil([&] {
            if (queuedAtFirstData == 0 && !ready.Probe.data.empty())
                queuedAtFirstData = ready.Client()->QueuedBytes();
            if (ready.Probe.data.size() != seen) {
                seen = ready.Probe.data.size();
                progress = std::chrono::steady_clock::now();
            }
            return seen >= data.size() || std::chrono::steady_clock::now() - progress > std::chrono::seconds(30);
        }, 10 * kTestDeadlineMs);
        EXPECT_EQ(ready.Probe.data.size(), data.size())
            << "no progress: echoed " << echo.Echoed() << ", still queued " << ready.Client()->QueuedBytes();
        EXPECT_TRUE(ready.Probe.data == data) << "the echo differs from what was written";
        // Received bytes are delivered while a large write is still under way.
        EXPECT_GT(queuedAtFirstData, TTelnetClient::kQueuedLimit);
        EXPECT_TRUE(ready.Medium->IsOpen());
        ready.Medium->Close();
        ::close(ready.Peer);
    }
}

TEST_F(TelnetPeerTest, BytesBeforeReadyAreAnsweredAndHeldUntilOpened)
{
    TestListener l;
    TMediaTelnet m;
    MediaProbe p;
    int dataAtOpened = -1;
    p.Hook(&m);
    m.OnOpened = [&](TMedia*) {
        ++p.opened;
        dataAtOpened = static_cast<int>(p.data.size());
    };
    m.SetName("127.0.0.1:" + l.PortText());
    ASSERT_TRUE(m.Open());
    const int peer = l.Accept();
    // The greeting and data come at once, before the client has sent its own negotiation.
    ASSERT_TRUE(WriteAll(peer, B({255, 251, 3, 255, 253, 1, 'h', 'i'})));
    ASSERT_TRUE(WaitUntil([&] { return p.data == "hi"; }));
    EXPECT_EQ(dataAtOpened, 0);
    EXPECT_EQ(p.opened, 1);
    // Our negotiation, then DO SGA and WONT ECHO as answers.
    EXPECT_EQ(ReadNPumping(peer, 15), kTelnetNegotiation + B({255, 253, 3, 255, 252, 1}));
    ::close(peer);
}

TEST_F(TelnetPeerTest, CloseSendsPendingTextFirst)
{
    TestListener l;
    TMediaTelnet m;
    MediaProbe p;
    p.Hook(&m);
    const int peer = OpenAndNegotiate(m, l, kTelnetNegotiation);
    ASSERT_TRUE(WaitUntil([&] { return p.opened == 1; }));
    std::string text(4 * 1024 * 1024, 'a');
    text[1000] = static_cast<char>(255);  // doubled on the wire
    EXPECT_EQ(m.Write(text.data(), static_cast<int>(text.size())), static_cast<int>(text.size()));
    m.Close();
    bool eof = false;
    const std::string got = ReadToEofPumping(peer, 15000, &eof);
    EXPECT_TRUE(eof);
    EXPECT_EQ(got.size(), text.size() + 1);
    EXPECT_EQ(got.substr(999, 4), std::string("a") + B({255, 255}) + "a");
    ::close(peer);
}

TEST_F(TelnetPeerTest, ConnectionErrorKeepsTheMediumClosed)
{
    TMediaTelnet m;
    MediaProbe p;
    p.Hook(&m);
    m.SetName("127.0.0.1:" + std::to_string(UnusedPort()));
    ASSERT_TRUE(m.Open());
    ASSERT_TRUE(WaitUntil([&] { return p.closed == 1; }));
    EXPECT_EQ(p.opened, 0);
    auto* c = static_cast<TTelnetClient*>(m.Client());
    EXPECT_EQ(c->State, TTelnetClient::tsError);
    EXPECT_EQ(c->ErrorCode, 10061);
    EXPECT_EQ(c->ErrorText, "Connection refused");
}

TEST_F(TelnetPeerTest, TelComSendsSettingsAfterNegotiation)
{
    TestListener l;
    TMediaTelCom m;
    MediaProbe p;
    p.Hook(&m);
    m.SetMode("1200 8N1");
    const std::string negotiation = B({255, 253, 44}) + kTelnetNegotiation;
    const std::string settings =
        B({255, 250, 44, 1, 0, 0, 4, 0xB0, 255, 240, 255, 250, 44, 2, 8, 255, 240, 255, 250, 44, 3, 1, 255, 240,
           255, 250, 44, 4, 1, 255, 240, 255, 250, 44, 5, 1, 255, 240, 255, 250, 44, 5, 8, 255, 240,
           255, 250, 44, 5, 11, 255, 240, 255, 250, 44, 5, 6, 255, 240});
    const int peer = OpenAndNegotiate(m, l, negotiation + settings);
    ASSERT_TRUE(WaitUntil([&] { return p.opened == 1; }));
    // WILL 44 gets DO 44 once; WONT 44 later gets DONT 44.
    ASSERT_TRUE(WriteAll(peer, B({255, 251, 44, 255, 251, 44})));
    EXPECT_EQ(ReadNPumping(peer, 3, 2000), B({255, 253, 44}));
    EXPECT_EQ(ReadNPumping(peer, 1, 200), "");
    // A speed whose bytes hold 255 is doubled inside the sub-negotiation.
    m.SetMode("65535 7E2");
    const std::string expect = B({255, 250, 44, 4, 2, 255, 240, 255, 250, 44, 3, 3, 255, 240, 255, 250, 44, 2, 7,
                                  255, 240, 255, 250, 44, 1, 0, 0, 255, 255, 255, 255, 255, 240});
    EXPECT_EQ(ReadNPumping(peer, expect.size()), expect);
    // Closing switches DTR and RTS off first.
    m.Close();
    bool eof = false;
    EXPECT_EQ(ReadToEofPumping(peer, 3000, &eof), B({255, 250, 44, 5, 9, 255, 240, 255, 250, 44, 5, 12, 255, 240}));
    EXPECT_TRUE(eof);
    ::close(peer);
}

// --- ser2net in front of a pseudo-terminal ---------------------------------------------------------------

class Ser2NetTest : public NetMediaTest {
protected:
    void SetUp() override
    {
        NetMediaTest::SetUp();
        FBinary = FindProgram("ser2net");
        ASSERT_FALSE(FBinary.empty()) << "ser2net is not installed (tools/setup.sh installs it)";
        FMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(FMaster, 0);
        ASSERT_EQ(::grantpt(FMaster), 0);
        ASSERT_EQ(::unlockpt(FMaster), 0);
        FSlave = ::ptsname(FMaster);
        termios t{};
        ::tcgetattr(FMaster, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(FMaster, TCSANOW, &t);
        FTelnetPort = UnusedPort();
        FRfcPort = UnusedPort();
        const std::string cfg = FDir.path().toStdString() + "/ser2net.yaml";
        std::ofstream(cfg) << "connection: &plain\n  accepter: telnet,tcp,127.0.0.1," << FTelnetPort
                           << "\n  connector: serialdev," << FSlave << ",9600n81,local\n"
                           << "connection: &rfc\n  accepter: telnet(rfc2217),tcp,127.0.0.1," << FRfcPort
                           << "\n  connector: serialdev," << FSlave << ",9600n81,local\n";
        FProc.start(QString::fromStdString(FBinary),
                    {"-n", "-u", "-P", FDir.path() + "/ser2net.pid", "-c", QString::fromStdString(cfg)});
        ASSERT_TRUE(FProc.waitForStarted(kTestDeadlineMs));
        // Ready once it accepts connections.
        ASSERT_TRUE(WaitUntil([&] { return IsListening(FTelnetPort) && IsListening(FRfcPort); }));
    }

    void TearDown() override
    {
        StopProcess(FProc);
        if (FMaster >= 0)
            ::close(FMaster);
    }

    std::string ReadPty(size_t n, int timeoutMs = 3000) { return ReadNPumping(FMaster, n, timeoutMs); }

    termios PtySettings()
    {
        termios t{};
        ::tcgetattr(FMaster, &t);
        return t;
    }

    std::string FBinary;
    QTemporaryDir FDir;
    QProcess FProc;
    int FMaster = -1;
    std::string FSlave;
    uint16_t FTelnetPort = 0;
    uint16_t FRfcPort = 0;
};

TEST_F(Ser2NetTest, GreetingAsTheServerSendsIt)
{
    TestListener unused;
    (void)unused;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(FRfcPort);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    const std::string greeting = ReadN(fd, 21, 3000);
    EXPECT_EQ(greeting, B({255, 251, 3, 255, 253, 3, 255, 251, 1, 255, 254, 1, 255, 253, 0, 255, 251, 0, 255,
                           253, 44}));
    ::close(fd);
}

TEST_F(Ser2NetTest, TelnetCarriesBytesBothWays)
{
    TMediaTelnet m;
    MediaProbe p;
    p.Hook(&m);
    m.SetName("127.0.0.1:" + std::to_string(FTelnetPort));
    ASSERT_TRUE(m.Open());
    ASSERT_TRUE(WaitUntil([&] { return p.opened == 1; }));
    EXPECT_TRUE(m.IsOpen());
    const std::string out = B({2, 'R', 'C', 255, 0, 3});
    EXPECT_EQ(m.Write(out.data(), static_cast<int>(out.size())), static_cast<int>(out.size()));
    EXPECT_EQ(ReadPty(out.size()), out);
    const std::string in = B({2, 'O', 'K', 255, 13, 10});
    ASSERT_TRUE(WriteAll(FMaster, in) || ::write(FMaster, in.data(), in.size()) == static_cast<ssize_t>(in.size()));
    ASSERT_TRUE(WaitUntil([&] { return p.data.size() >= in.size(); }));
    EXPECT_EQ(p.data, in);
    m.Close();
    EXPECT_EQ(p.closed, 1);
}

TEST_F(Ser2NetTest, RemoteSerialPortSetsSpeedAndStopBits)
{
    TMediaTelCom m;
    MediaProbe p;
    p.Hook(&m);
    m.SetName("127.0.0.1:" + std::to_string(FRfcPort));
    m.SetMode("19200 8N2");
    ASSERT_TRUE(m.Open());
    ASSERT_TRUE(WaitUntil([&] { return p.opened == 1; }));
    ASSERT_TRUE(WaitUntil([&] {
        const termios t = PtySettings();
        return cfgetospeed(&t) == B19200 && (t.c_cflag & CSTOPB);
    }));
    m.SetMode("4800 8N1");
    ASSERT_TRUE(WaitUntil([&] {
        const termios t = PtySettings();
        return cfgetospeed(&t) == B4800 && !(t.c_cflag & CSTOPB);
    }));
    const std::string out = "DATA";
    m.WriteText(out);
    EXPECT_EQ(ReadPty(4), out);
    m.Close();
}

} // namespace
