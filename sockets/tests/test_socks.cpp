// The SOCKS layer: against microsocks and dante-server on 127.0.0.1, and against small fake proxies in the
// test for SOCKS 4A and for split, long or malformed replies.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <mutex>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QProcess>
#include <QTemporaryDir>

#include "sockets/NetSocket.h"
#include "sockets/tests/SocketTestSupport.h"

namespace {

// What a SOCKS client socket reports.
struct SocksProbe {
    std::vector<std::string> events;
    std::string data;
    int socksError = 0;
    std::string socksErrorText;

    void Hook(TNetSocket& s)
    {
        s.OnSessionConnected = [this](TCustomNetSocket*, uint16_t e) { events.push_back("connected " + std::to_string(e)); };
        s.OnSessionClosed = [this](TCustomNetSocket*, uint16_t e) { events.push_back("closed " + std::to_string(e)); };
        s.OnSocksConnected = [this](TCustomNetSocket*, uint16_t e) { events.push_back("proxy " + std::to_string(e)); };
        s.OnSocksError = [this](TCustomNetSocket*, int e, const std::string& t) {
            socksError = e;
            socksErrorText = t;
            events.push_back("error " + std::to_string(e));
        };
        s.OnSocksAuthState = [this](TCustomNetSocket*, TSocksAuthState a) { events.push_back("auth " + std::to_string(a)); };
        s.OnDataAvailable = [this](TCustomNetSocket* x, uint16_t) { data += x->ReceiveStr(); };
    }
};

// The accepted connection of a peer thread, which the test can shut down to make the thread end: it is
// closed under the same lock, so that a shutdown never reaches a number the system gave out again.
class PeerConnection {
public:
    void Set(int fd)
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FFd = fd;
    }
    void Close()
    {
        std::lock_guard<std::mutex> lock(FMutex);
        if (FFd >= 0)
            ::close(FFd);
        FFd = -1;
    }
    void Shutdown()
    {
        std::lock_guard<std::mutex> lock(FMutex);
        if (FFd >= 0)
            ::shutdown(FFd, SHUT_RDWR);
    }

private:
    std::mutex FMutex;
    int FFd = -1;
};

// A fake proxy: runs `script` with the accepted connection on its own thread, then closes it. The
// test's socket, made after the proxy, is gone when the proxy goes: the script then ends, or is made to.
// Waits until the client has taken in every byte the proxy sent it (none in flight, none unread), so
// that what the proxy writes next comes to the client in a read of its own.
::testing::AssertionResult ClientHasReadAll(int proxyFd, const std::atomic<int>& clientFd)
{
    return WaitFor("the client to read what the proxy sent", [&] {
        int inFlight = 0, unread = 0;
        const int client = clientFd.load();
        return client >= 0 && ::ioctl(proxyFd, SIOCOUTQ, &inFlight) == 0 && ::ioctl(client, FIONREAD, &unread) == 0 &&
               inFlight == 0 && unread == 0;
    });
}

class FakeProxy {
public:
    explicit FakeProxy(std::function<void(int)> script)
        : FThread([this, script] {
              const int fd = FListener.Accept();
              if (fd >= 0) {
                  FConnection.Set(fd);
                  script(fd);
                  FConnection.Close();
              }
              FDone = true;
          },
          [this] {
              ::shutdown(FListener.Fd(), SHUT_RDWR);
              FConnection.Shutdown();
          })
    {
    }
    ~FakeProxy()
    {
        WaitUntil([this] { return FDone.load(); });
        FThread.StopAndJoin();
        FConnection.Close();
    }
    std::string Port() const { return FListener.PortText(); }
    bool Done() const { return FDone; }

private:
    TestListener FListener;
    PeerConnection FConnection;
    std::atomic<bool> FDone{false};
    TestThread FThread;  // last: what it uses exists before it starts
};

class SocksTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureApp(); }

    static void Through(TNetSocket& s, const std::string& proxyPort, const std::string& level, const std::string& host,
                        const std::string& port)
    {
        s.SetSocksServer("127.0.0.1");
        s.SetSocksPort(proxyPort);
        s.SetSocksLevel(level);
        s.SetAddr(host);
        s.SetPort(port);
        s.Connect();
    }
};

TEST_F(SocksTest, LevelAndServerProperties)
{
    TNetSocket s;
    s.SetSocksLevel("4a");
    EXPECT_EQ(s.SocksLevel(), "4A");
    try {
        s.SetSocksLevel("6");
        FAIL();
    } catch (const ESocketException& e) {
        EXPECT_STREQ(e.what(), "Invalid socks level. Must be 4, 4A or 5.");
    }
    s.SetSocksServer("127.0.0.1");
    try {
        s.Listen();
        FAIL();
    } catch (const ESocketException& e) {
        EXPECT_STREQ(e.what(), "Listening is not supported thru socks server");
    }
    s.SetProto("udp");
    s.SetAddr("x");
    s.SetPort("1");
    s.SetSocksPort("1");
    EXPECT_THROW(s.Connect(), ESocketException);
    // Names, users and passwords that do not fit their length byte are refused.
    TNetSocket t;
    t.SetSocksServer("127.0.0.1");
    t.SetSocksPort("1080");
    t.SetAddr(std::string(256, 'h'));
    t.SetPort("80");
    EXPECT_THROW(t.Connect(), ESocketException);
    TNetSocket u;
    u.SetSocksServer("127.0.0.1");
    u.SetSocksPort("1080");
    u.SocksAuthentication = socksAuthenticateUsercode;
    u.SocksUsercode = std::string(300, 'u');
    u.SetAddr("host");
    u.SetPort("80");
    EXPECT_THROW(u.Connect(), ESocketException);
    u.SetPort("70000");
    u.SocksUsercode = "user";
    EXPECT_THROW(u.Connect(), ESocketException);
}

TEST_F(SocksTest, Version5ReplyInPiecesWithDataBehindIt)
{
    std::atomic<int> client{-1};
    FakeProxy proxy([&client](int fd) {
        EXPECT_EQ(ReadN(fd, 3), B({5, 1, 0}));
        WriteAll(fd, B({5, 0}));
        EXPECT_EQ(ReadN(fd, 5 + 9 + 2), B({5, 1, 0, 3, 9}) + "localhost" + B({0, 80}));
        WriteAll(fd, B({5, 0}));
        EXPECT_TRUE(ClientHasReadAll(fd, client));
        WriteAll(fd, B({0, 1, 10, 1, 2, 3, 0x1F, 0x90}) + "hello");
        ReadToEof(fd);
    });
    TNetSocket s;
    SocksProbe p;
    p.Hook(s);
    Through(s, proxy.Port(), "5", "localhost", "80");
    client = static_cast<int>(s.HSocket());
    ASSERT_TRUE(WaitUntil([&] { return p.data == "hello"; }));
    const std::vector<std::string> want = {"proxy 0", "connected 0"};
    EXPECT_EQ(p.events, want);
    EXPECT_EQ(s.BoundAddr(), "10.1.2.3");
    EXPECT_EQ(s.BoundPort(), "8080");
    s.Close();
    // After the close the proxy is forgotten.
    EXPECT_EQ(s.SocksServer(), "");
}

TEST_F(SocksTest, Version5LongAndIPv6Replies)
{
    const std::string name(255, 'n');
    FakeProxy proxy([&](int fd) {
        ReadN(fd, 3);
        WriteAll(fd, B({5, 0}));
        ReadN(fd, 5 + 4 + 2);
        WriteAll(fd, B({5, 0, 0, 3, 255}) + name + B({0, 21}));  // 262 bytes
        ReadToEof(fd);
    });
    TNetSocket s;
    SocksProbe p;
    p.Hook(s);
    Through(s, proxy.Port(), "5", "host", "21");
    ASSERT_TRUE(WaitUntil([&] { return p.events.size() == 2; }));
    EXPECT_EQ(p.events.back(), "connected 0");
    EXPECT_EQ(s.BoundAddr(), name);
    EXPECT_EQ(s.BoundPort(), "21");
    s.Close();

    FakeProxy proxy6([&](int fd) {
        ReadN(fd, 3);
        WriteAll(fd, B({5, 0}));
        ReadN(fd, 5 + 4 + 2);
        WriteAll(fd, B({5, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 22}) + "x");
        ReadToEof(fd);
    });
    TNetSocket t;
    SocksProbe q;
    q.Hook(t);
    Through(t, proxy6.Port(), "5", "host", "22");
    ASSERT_TRUE(WaitUntil([&] { return q.data == "x"; }));
    EXPECT_EQ(t.BoundAddr(), "::1");
    EXPECT_EQ(t.BoundPort(), "22");
}

TEST_F(SocksTest, MethodRefusedAndReplyErrors)
{
    FakeProxy proxy([](int fd) {
        ReadN(fd, 3);
        WriteAll(fd, B({5, 255}));
        ReadToEof(fd);
    });
    TNetSocket s;
    SocksProbe p;
    p.Hook(s);
    Through(s, proxy.Port(), "5", "host", "80");
    ASSERT_TRUE(WaitUntil([&] { return p.events.size() == 4; }));
    const std::vector<std::string> want = {"proxy 0", "error 20003", "connected 20003", "closed 20003"};
    EXPECT_EQ(p.events, want);
    EXPECT_EQ(p.socksErrorText, "authentification method not acceptable");

    FakeProxy refused([](int fd) {
        ReadN(fd, 3);
        WriteAll(fd, B({5, 0}));
        ReadN(fd, 11);
        WriteAll(fd, B({5, 5, 0, 1, 0, 0, 0, 0, 0, 0}));
        ReadToEof(fd);
    });
    TNetSocket t;
    SocksProbe q;
    q.Hook(t);
    Through(t, refused.Port(), "5", "host", "80");
    ASSERT_TRUE(WaitUntil([&] { return q.events.size() == 4; }));
    EXPECT_EQ(q.socksError, 20008);
    EXPECT_EQ(q.socksErrorText, "connection refused");
    EXPECT_EQ(t.State(), wsClosed);
}

TEST_F(SocksTest, AuthenticationReplyInTwoReads)
{
    std::atomic<int> client{-1};
    FakeProxy proxy([&client](int fd) {
        EXPECT_EQ(ReadN(fd, 3), B({5, 1, 2}));
        WriteAll(fd, B({5, 2}));
        EXPECT_EQ(ReadN(fd, 1 + 1 + 4 + 1 + 6), B({1, 4}) + "user" + B({6}) + "secret");
        WriteAll(fd, B({1}));
        EXPECT_TRUE(ClientHasReadAll(fd, client));
        WriteAll(fd, B({0}));
        EXPECT_EQ(ReadN(fd, 11), B({5, 1, 0, 3, 4}) + "host" + B({0, 80}));
        WriteAll(fd, B({5, 0, 0, 1, 1, 2, 3, 4, 0, 80}));
        ReadToEof(fd);
    });
    TNetSocket s;
    SocksProbe p;
    p.Hook(s);
    s.SocksAuthentication = socksAuthenticateUsercode;
    s.SocksUsercode = "user";
    s.SocksPassword = "secret";
    Through(s, proxy.Port(), "5", "host", "80");
    client = static_cast<int>(s.HSocket());
    ASSERT_TRUE(WaitUntil([&] { return p.events.size() == 4; }));
    const std::vector<std::string> want = {"proxy 0", "auth 0", "auth 1", "connected 0"};
    EXPECT_EQ(p.events, want);
}

TEST_F(SocksTest, Version4AKeepsBytesBehindTheReply)
{
    FakeProxy proxy([](int fd) {
        const std::string want = B({4, 1, 0, 80, 0, 0, 0, 1}) + "me" + B({0}) + "far.example" + B({0});
        EXPECT_EQ(ReadN(fd, want.size()), want);
        WriteAll(fd, B({0, 90, 0, 0, 0, 0, 0, 0}) + "early");
        ReadToEof(fd);
    });
    TNetSocket s;
    SocksProbe p;
    p.Hook(s);
    s.SocksUsercode = "me";
    Through(s, proxy.Port(), "4a", "far.example", "80");
    ASSERT_TRUE(WaitUntil([&] { return p.data == "early"; }));
    EXPECT_EQ(p.events.back(), "connected 0");

    FakeProxy rejected([](int fd) {
        ReadN(fd, 9);
        WriteAll(fd, B({0, 91, 0, 0, 0, 0, 0, 0}));
        ReadToEof(fd);
    });
    TNetSocket t;
    SocksProbe q;
    q.Hook(t);
    Through(t, rejected.Port(), "4", "127.0.0.1", "80");
    ASSERT_TRUE(WaitUntil([&] { return q.events.size() == 4; }));
    EXPECT_EQ(q.socksError, 20016);
    EXPECT_EQ(q.socksErrorText, "request rejected or failed");
}

// --- real proxies ----------------------------------------------------------------------------------------

// An echo peer behind the proxy, until the connection ends or the peer goes.
class EchoPeer {
public:
    EchoPeer()
        : FThread([this] {
              const int fd = FListener.Accept();
              if (fd < 0)
                  return;
              FConnection.Set(fd);
              char buf[4096];
              for (;;) {
                  const ssize_t n = ::read(fd, buf, sizeof buf);
                  if (n <= 0)
                      break;
                  WriteAll(fd, std::string(buf, static_cast<size_t>(n)));
              }
              FConnection.Close();
          },
          [this] {
              ::shutdown(FListener.Fd(), SHUT_RDWR);
              FConnection.Shutdown();
          })
    {
    }
    ~EchoPeer() { FThread.StopAndJoin(); }
    std::string Port() const { return FListener.PortText(); }

private:
    TestListener FListener;
    PeerConnection FConnection;
    TestThread FThread;
};

class RealProxyTest : public SocksTest {
protected:
    void TearDown() override { StopProcess(FProc); }

    bool Start(const std::string& program, const QStringList& args, uint16_t port)
    {
        FProc.start(QString::fromStdString(program), args);
        if (!FProc.waitForStarted(kTestDeadlineMs))
            return false;
        return WaitUntil([&] { return IsListening(port); });
    }

    // Connects through the proxy to an echo peer and checks the round trip.
    void RoundTrip(uint16_t proxyPort, const std::string& level, const std::string& user = {},
                   const std::string& password = {})
    {
        EchoPeer echo;
        TNetSocket s;
        SocksProbe p;
        p.Hook(s);
        if (!user.empty()) {
            s.SocksAuthentication = socksAuthenticateUsercode;
            s.SocksUsercode = user;
            s.SocksPassword = password;
        }
        Through(s, std::to_string(proxyPort), level, "127.0.0.1", echo.Port());
        ASSERT_TRUE(WaitUntil([&] { return !p.events.empty() && p.events.back().rfind("connected", 0) == 0; }));
        EXPECT_EQ(p.events.back(), "connected 0");
        s.SendStr("through the proxy");
        EXPECT_TRUE(WaitUntil([&] { return p.data == "through the proxy"; }));
        s.Close();
    }

    QProcess FProc;
    QTemporaryDir FDir;
};

TEST_F(RealProxyTest, Microsocks)
{
    const std::string bin = FindProgram("microsocks");
    ASSERT_FALSE(bin.empty()) << "microsocks is not installed (tools/setup.sh installs it)";
    const uint16_t port = UnusedPort();
    ASSERT_TRUE(Start(bin, {"-i", "127.0.0.1", "-p", QString::number(port)}, port));
    RoundTrip(port, "5");
}

TEST_F(RealProxyTest, MicrosocksWithPassword)
{
    const std::string bin = FindProgram("microsocks");
    ASSERT_FALSE(bin.empty()) << "microsocks is not installed (tools/setup.sh installs it)";
    const uint16_t port = UnusedPort();
    ASSERT_TRUE(Start(bin, {"-i", "127.0.0.1", "-p", QString::number(port), "-u", "zelt", "-P", "pw"}, port));
    RoundTrip(port, "5", "zelt", "pw");
    // A wrong password fails the authentication.
    TNetSocket s;
    SocksProbe p;
    p.Hook(s);
    s.SocksAuthentication = socksAuthenticateUsercode;
    s.SocksUsercode = "zelt";
    s.SocksPassword = "wrong";
    Through(s, std::to_string(port), "5", "127.0.0.1", "9");
    ASSERT_TRUE(WaitUntil([&] { return s.State() == wsClosed && !p.events.empty(); }));
    EXPECT_NE(p.socksError, 0);
}

TEST_F(RealProxyTest, DanteVersions4And5)
{
    const std::string bin = FindProgram("danted");
    ASSERT_FALSE(bin.empty()) << "dante-server is not installed (tools/setup.sh installs it)";
    const uint16_t port = UnusedPort();
    const std::string conf = FDir.path().toStdString() + "/danted.conf";
    std::ofstream(conf) << "logoutput: stderr\ninternal: 127.0.0.1 port = " << port
                        << "\nexternal: 127.0.0.1\nsocksmethod: none\nclientmethod: none\n"
                        << "user.privileged: root\nuser.unprivileged: nobody\n"
                        << "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
                        << "socks pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n";
    ASSERT_TRUE(Start(bin, {"-f", QString::fromStdString(conf), "-p", FDir.path() + "/danted.pid", "-N", "1"}, port));
    RoundTrip(port, "5");
    RoundTrip(port, "4");
}

} // namespace
