// The asynchronous socket core against real loopback peers: connect, send queue, receive, close, errors.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <sys/socket.h>
#include <unistd.h>

#include "sockets/NetSocket.h"
#include "sockets/NetSocketCloser.h"
#include "sockets/tests/SocketTestPattern.h"
#include "sockets/tests/SocketTestSupport.h"

namespace {

class CoreTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureApp(); }

    static int ConnectTo(TNetSocket& s, TestListener& l) { return ConnectToListener(s, l); }
};

TEST(ErrorTexts, TableAndForms)
{
    EXPECT_EQ(NetSocketErrorDesc(10061), "Connection refused");
    EXPECT_EQ(NetSocketErrorDesc(0), "No Error");
    EXPECT_EQ(NetSocketErrorDesc(12345), "Not a WinSock error");
    EXPECT_EQ(NetSocketErrorDesc(11001), "Host not found");
    EXPECT_EQ(NetSocketErrorDesc(10058), "Can't send after socket shutdown");
    EXPECT_EQ(GetWinsockErr(10060), "Connection timed out (#10060)");
    EXPECT_EQ(ErrnoToWinsock(ECONNREFUSED), 10061);
    EXPECT_EQ(ErrnoToWinsock(EWOULDBLOCK), 10035);
    EXPECT_EQ(ErrnoToWinsock(ECONNRESET), 10054);
    EXPECT_EQ(ErrnoToWinsock(ENOTCONN), 10057);
}

TEST(Loader, CountsUsersAndGuardsVersion)
{
    EnsureApp();
    ASSERT_EQ(SafeNetSocketGCount(), 0);
    EXPECT_FALSE(NetSocketLibraryLoaded());
    EXPECT_THROW(NetSocket2GetProc("NoSuchCall"), ESocketException);
    try {
        NetSocketGetProc("NoSuchCall");
        FAIL();
    } catch (const ESocketException& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Procedure NoSuchCall not found in wsock32.dll - ", 0), 0u);
        EXPECT_NE(std::string(e.what()).find(" (#"), std::string::npos);
    }
    NetSocketUnloadWinsock();
    {
        auto s = std::make_unique<TNetSocket>();
        EXPECT_EQ(SafeNetSocketGCount(), 1);
        NetSocketGetProc("");  // first use loads
        EXPECT_TRUE(NetSocketLibraryLoaded());
        try {
            s->SetReqVerHigh(2);
            FAIL();
        } catch (const ESocketException& e) {
            EXPECT_NE(std::string(e.what()).find("SetReqVerHigh: WinSock version can't be changed now"),
                      std::string::npos);
        }
    }
    EXPECT_EQ(SafeNetSocketGCount(), 0);
    EXPECT_FALSE(NetSocketLibraryLoaded());  // the last component unloaded it
    EXPECT_TRUE(NetSocketSetReqVerHigh(2));
    EXPECT_EQ(WinsockInfo().wVersion, 0x0201);
    EXPECT_TRUE(NetSocketSetReqVerHigh(1));
}

TEST(Loader, FirstSocketCallLoadsAndFixesVersion)
{
    EnsureApp();
    ASSERT_FALSE(NetSocketLibraryLoaded());
    {
        // A listening socket made its socket calls: the library is in use, its version fixed.
        TNetSocket s;
        s.SetAddr("127.0.0.1");
        s.SetPort("0");
        s.Listen();
        EXPECT_TRUE(NetSocketLibraryLoaded());
        EXPECT_FALSE(NetSocketSetReqVerHigh(2));
        EXPECT_THROW(s.SetReqVerHigh(2), ESocketException);
        EXPECT_THROW(s.SetReqVerLow(2), ESocketException);
        EXPECT_EQ(NetSocketReqVerHigh(), 1);
        s.Close();
    }
    EXPECT_FALSE(NetSocketLibraryLoaded());
    EXPECT_TRUE(NetSocketSetReqVerHigh(1));
}

TEST(Loader, VersionIsFixedOnceASocketExists)
{
    EnsureApp();
    ASSERT_FALSE(NetSocketLibraryLoaded());
    {
        // Made, not yet connected: the version it was made with is the one it connects with.
        TNetSocket s;
        EXPECT_TRUE(NetSocketLibraryLoaded());
        EXPECT_FALSE(NetSocketSetReqVerHigh(2));
        EXPECT_FALSE(NetSocketSetReqVerLow(2));
        try {
            s.SetReqVerLow(2);
            FAIL() << "the version changed";
        } catch (const ESocketException& e) {
            EXPECT_NE(std::string(e.what()).find("SetReqVerLow: WinSock version can't be changed now"),
                      std::string::npos);
        }
        EXPECT_THROW(s.SetReqVerHigh(2), ESocketException);
        EXPECT_EQ(NetSocketReqVerLow(), 1);
        EXPECT_EQ(NetSocketReqVerHigh(), 1);
        TestListener l;
        const int peer = ConnectToListener(s, l);
        ASSERT_GE(peer, 0);
        EXPECT_EQ(WinsockInfo().wVersion, 0x0101);
        s.Close();
        ::close(peer);
    }
    EXPECT_FALSE(NetSocketLibraryLoaded());

    // A version the library cannot serve fails the making of the first socket, and nothing stays in use.
    ASSERT_TRUE(NetSocketSetReqVerLow(0));
    try {
        TNetSocket s;
        ADD_FAILURE() << "a socket was made with version 0";
    } catch (const ESocketException& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Winsock startup error wsock32.dll - ", 0), 0u) << e.what();
    }
    EXPECT_EQ(SafeNetSocketGCount(), 0);
    EXPECT_FALSE(NetSocketLibraryLoaded());
    EXPECT_TRUE(NetSocketSetReqVerLow(1));
}

TEST(Buffer, ChunkArithmetic)
{
    TBuffer zero(0);
    EXPECT_EQ(zero.BufSize(), 1514);
    TBuffer b(1460);
    std::string big(2000, 'x');
    EXPECT_EQ(b.Write(big.data(), 2000), 1460);
    EXPECT_EQ(b.Write("y", 1), 0);
    char out[100];
    EXPECT_EQ(b.Read(out, 100), 100);
    EXPECT_EQ(b.GetBufUsed(), 1360);
    EXPECT_EQ(b.Write("y", 1), 0);  // not circular: no room until drained
    EXPECT_EQ(b.Remove(5000), 1360);
    EXPECT_EQ(b.GetBufUsed(), 0);
    EXPECT_EQ(b.Write("abc", 3), 3);
    int len = 0;
    const char* p = b.Peek(len);
    ASSERT_EQ(len, 3);
    EXPECT_EQ(std::string(p, 3), "abc");
}

TEST_F(CoreTest, ConnectEventsInOrder)
{
    TestListener l;
    std::vector<std::string> log;
    TNetSocket s;
    s.OnChangeState = [&](TCustomNetSocket*, TSocketState a, TSocketState b) {
        log.push_back("state " + std::to_string(a) + ">" + std::to_string(b));
    };
    s.OnSessionConnected = [&](TCustomNetSocket*, uint16_t e) { log.push_back("connected " + std::to_string(e)); };
    s.OnDataSent = [&](TCustomNetSocket*, uint16_t) { log.push_back("sent"); };
    const int peer = ConnectTo(s, l);
    ASSERT_GE(peer, 0);
    ASSERT_TRUE(WaitUntil([&] { return log.size() >= 5; }));
    const std::vector<std::string> want = {"state 8>1", "state 1>3", "state 3>5", "connected 0", "sent"};
    EXPECT_EQ(log, want);
    EXPECT_EQ(s.PeerAddr(), "127.0.0.1");
    EXPECT_EQ(s.PeerPort(), l.PortText());
    EXPECT_EQ(s.GetXAddr(), "127.0.0.1");
    ::close(peer);
}

TEST_F(CoreTest, RefusedConnectionIsReportedThenClosed)
{
    std::vector<std::string> log;
    TSocketState stateAtConnected = wsInvalidState, stateAtClosed = wsInvalidState;
    TNetSocket s;
    s.OnChangeState = [&](TCustomNetSocket*, TSocketState a, TSocketState b) {
        log.push_back("state " + std::to_string(a) + ">" + std::to_string(b));
    };
    s.OnSessionConnected = [&](TCustomNetSocket* x, uint16_t e) {
        stateAtConnected = x->State();
        log.push_back("connected " + std::to_string(e));
    };
    s.OnSessionClosed = [&](TCustomNetSocket* x, uint16_t e) {
        stateAtClosed = x->State();
        log.push_back("closed " + std::to_string(e));
    };
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(UnusedPort()));
    s.Connect();
    ASSERT_TRUE(WaitUntil([&] { return s.State() == wsClosed && log.size() >= 6; }));
    const std::vector<std::string> want = {"state 8>1", "state 1>3", "state 3>5", "connected 10061",
                                           "state 5>8", "closed 0"};
    EXPECT_EQ(log, want);
    EXPECT_EQ(stateAtConnected, wsConnected);
    EXPECT_EQ(stateAtClosed, wsClosed);
    // The reset to defaults forgets the address: a new Connect needs it again.
    try {
        s.Connect();
        FAIL();
    } catch (const ESocketException& e) {
        EXPECT_STREQ(e.what(), "Connect: No Port Specified");
    }
}

TEST_F(CoreTest, PropertyMisuseAndOnError)
{
    TestListener l;
    TNetSocket s;
    s.SetAddr("   ");
    s.SetPort("1");
    try {
        s.Connect();
        FAIL();
    } catch (const ESocketException& e) {
        EXPECT_STREQ(e.what(), "Connect: No IP Address Specified");
    }
    const int peer = ConnectTo(s, l);
    EXPECT_THROW(s.SetAddr("10.0.0.1"), ESocketException);
    EXPECT_NO_THROW(s.SetAddr("127.0.0.1"));  // the same value does nothing
    EXPECT_THROW(s.SetLocalPort("5"), ESocketException);
    ::close(peer);

    // With OnError assigned nothing is thrown; LastError holds the number.
    TNetSocket u;
    int errors = 0;
    u.OnError = [&](TCustomNetSocket*) { ++errors; };
    u.SetAddr("no.such.host.invalid");
    u.SetPort("80");
    EXPECT_NO_THROW(u.Connect());
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(u.State(), wsClosed);
    EXPECT_EQ(u.Send("x", 1), -1);  // not connected
    EXPECT_EQ(errors, 2);
    EXPECT_EQ(u.LastError, 10057);
}

TEST_F(CoreTest, SendWhileConnectingFails)
{
    TestListener l;
    TNetSocket s;
    s.OnError = [](TCustomNetSocket*) {};
    s.SetAddr("127.0.0.1");
    s.SetPort(l.PortText());
    s.Connect();
    EXPECT_EQ(s.State(), wsConnecting);
    EXPECT_EQ(s.Send("abc", 3), -1);
}

TEST_F(CoreTest, LargeSendQueuesAndArrivesWhole)
{
    TestListener l;
    TNetSocket s;
    int dataSent = 0;
    int64_t sendData = 0;
    s.OnDataSent = [&](TCustomNetSocket*, uint16_t) { ++dataSent; };
    s.OnSendData = [&](TCustomNetSocket*, int n) { sendData += n; };
    const int peer = ConnectTo(s, l);
    ASSERT_TRUE(WaitUntil([&] { return dataSent == 1; }));  // the write event after the connect
    const std::string data = PatternBytes(32 * 1024 * 1024 + 17);
    EXPECT_EQ(s.Send(data.data(), static_cast<int>(data.size())), static_cast<int>(data.size()));
    std::string got;
    TestThread reader([&] { got = ReadN(peer, data.size()); }, [peer] { ::shutdown(peer, SHUT_RDWR); });
    EXPECT_GT(s.BufferedByteCount(), 0);  // the kernel did not take 4 MB at once
    EXPECT_EQ(dataSent, 1);               // never from inside Send
    ASSERT_TRUE(WaitUntil([&] { return dataSent == 2; }));
    reader.Join();
    EXPECT_EQ(got.size(), data.size());
    EXPECT_TRUE(got == data);
    EXPECT_EQ(sendData, static_cast<int64_t>(data.size()));
    EXPECT_EQ(s.BufferedByteCount(), 0);
    LetTimePass(50);
    EXPECT_EQ(dataSent, 2);
    ::close(peer);
}

TEST_F(CoreTest, ZeroByteSendGivesOneDataSent)
{
    TestListener l;
    TNetSocket s;
    int dataSent = 0;
    s.OnDataSent = [&](TCustomNetSocket*, uint16_t) { ++dataSent; };
    const int peer = ConnectTo(s, l);
    ASSERT_TRUE(WaitUntil([&] { return dataSent == 1; }));
    EXPECT_EQ(s.Send(nullptr, 0), 0);
    EXPECT_EQ(dataSent, 1);
    ASSERT_TRUE(WaitUntil([&] { return dataSent == 2; }));
    LetTimePass(50);
    EXPECT_EQ(dataSent, 2);
    ::close(peer);
}

TEST_F(CoreTest, ReceiveThenPeerCloseReportedOnce)
{
    TestListener l;
    TNetSocket s;
    std::string got;
    int closed = 0;
    uint16_t closeError = 99;
    s.OnDataAvailable = [&](TCustomNetSocket* x, uint16_t) {
        char buf[700];
        const int n = x->Receive(buf, sizeof buf);
        if (n > 0)
            got.append(buf, static_cast<size_t>(n));
    };
    s.OnSessionClosed = [&](TCustomNetSocket*, uint16_t e) {
        ++closed;
        closeError = e;
    };
    const int peer = ConnectTo(s, l);
    const std::string data = PatternBytes(300000);
    ASSERT_TRUE(WriteAll(peer, data));
    ::close(peer);
    ASSERT_TRUE(WaitUntil([&] { return closed > 0; }));
    LetTimePass(50);
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(closeError, 0);
    EXPECT_TRUE(got == data);
    EXPECT_EQ(s.ReadCount(), 0);  // reset to defaults after the close
    EXPECT_EQ(s.State(), wsClosed);
}

TEST_F(CoreTest, ResetByPeer)
{
    TestListener l;
    TNetSocket s;
    int closed = 0;
    uint16_t closeError = 0;
    s.OnDataAvailable = [&](TCustomNetSocket* x, uint16_t) { x->ReceiveStr(); };
    s.OnSessionClosed = [&](TCustomNetSocket*, uint16_t e) {
        ++closed;
        closeError = e;
    };
    const int peer = ConnectTo(s, l);
    ResetClose(peer);
    ASSERT_TRUE(WaitUntil([&] { return closed > 0; }));
    EXPECT_EQ(closeError, 10054);
    EXPECT_EQ(s.State(), wsClosed);
    // The owner's Close afterwards raises nothing more.
    s.Close();
    EXPECT_EQ(closed, 1);
}

TEST_F(CoreTest, DataWithoutHandlerIsDiscarded)
{
    TestListener l;
    TNetSocket s;
    int closed = 0;
    s.OnSessionClosed = [&](TCustomNetSocket*, uint16_t) { ++closed; };
    const int peer = ConnectTo(s, l);
    ASSERT_TRUE(WriteAll(peer, PatternBytes(5000)));
    ::close(peer);
    ASSERT_TRUE(WaitUntil([&] { return closed == 1; }));
}

TEST_F(CoreTest, HandlerThatReadsNothingDoesNotFreezeTheLoop)
{
    TestListener l;
    TNetSocket s;
    int calls = 0;
    s.OnDataAvailable = [&](TCustomNetSocket*, uint16_t) { ++calls; };
    const int peer = ConnectTo(s, l);
    ASSERT_TRUE(WriteAll(peer, "abc"));
    ASSERT_TRUE(WaitUntil([&] { return calls > 0; }));
    LetTimePass(100);  // returns: the loop ended on the pass that took nothing
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(s.RcvdCount(), 3);
    // Reading later brings the next notification again.
    EXPECT_EQ(s.ReceiveStr(), "abc");
    ASSERT_TRUE(WriteAll(peer, "d"));
    ASSERT_TRUE(WaitUntil([&] { return calls == 2; }));
    ::close(peer);
}

TEST_F(CoreTest, GracefulCloseSendsQueuedDataWithoutBlocking)
{
    TestListener l;
    auto s = std::make_unique<TNetSocket>();
    int closed = 0;
    s->OnSessionClosed = [&](TCustomNetSocket*, uint16_t) { ++closed; };
    const int peer = ConnectTo(*s, l);
    s->LingerOnOff = wsLingerOn;
    s->LingerTimeout = 600;
    const std::string data = PatternBytes(32 * 1024 * 1024);
    s->Send(data.data(), static_cast<int>(data.size()));
    ASSERT_GT(s->BufferedByteCount(), 0);
    const int closersBefore = TNetSocketCloser::Count();
    const auto t0 = std::chrono::steady_clock::now();
    s->Close();
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_LT(took, std::chrono::seconds(60));  // not the ten minutes of the linger
    EXPECT_EQ(s->State(), wsClosed);
    EXPECT_EQ(closed, 1);
    s.reset();
    std::string got;
    bool eof = false;
    std::atomic<bool> done{false};
    TestThread reader(
        [&] {
            got = ReadToEof(peer, kTestDeadlineMs, &eof);
            done = true;
        },
        [peer] { ::shutdown(peer, SHUT_RDWR); });
    ASSERT_TRUE(WaitUntil([&] { return done.load(); }));
    reader.Join();
    EXPECT_TRUE(eof);
    EXPECT_EQ(got.size(), data.size());
    EXPECT_TRUE(got == data);
    ::close(peer);
    EXPECT_TRUE(WaitUntil([&] { return TNetSocketCloser::Count() <= closersBefore; }));
}

TEST_F(CoreTest, AbortDropsQueuedData)
{
    TestListener l;
    TNetSocket s;
    const int peer = ConnectTo(s, l);
    const std::string data = PatternBytes(8 * 1024 * 1024);
    s.Send(data.data(), static_cast<int>(data.size()));
    s.Abort();
    EXPECT_EQ(s.BufferedByteCount(), 0);
    EXPECT_EQ(s.State(), wsClosed);
    const std::string got = ReadToEof(peer);
    EXPECT_LT(got.size(), data.size());
    ::close(peer);
}

TEST_F(CoreTest, CloseDelayedAndReleaseActAfterTheHandler)
{
    TestListener l;
    auto* s = new TNetSocket;
    TSocketState inHandlerAfter = wsInvalidState;
    bool released = false;
    s->OnDataAvailable = [&](TCustomNetSocket* x, uint16_t) {
        x->ReceiveStr();
        x->CloseDelayed();
        inHandlerAfter = x->State();
    };
    s->OnSessionClosed = [&](TCustomNetSocket* x, uint16_t) {
        released = true;
        x->Release();
    };
    s->SetAddr("127.0.0.1");
    s->SetPort(l.PortText());
    s->Connect();
    const int peer = l.Accept();
    ASSERT_TRUE(WriteAll(peer, "hello"));
    ASSERT_TRUE(WaitUntil([&] { return released; }));
    EXPECT_EQ(inHandlerAfter, wsConnected);
    ASSERT_TRUE(WaitUntil([&] { return SafeNetSocketGCount() == 0; }));  // freed by the posted release
    ::close(peer);
}

TEST_F(CoreTest, BackgroundExceptionAborts)
{
    TestListener l;
    TNetSocket s;
    std::string seen;
    s.OnBgException = [&](TCustomNetSocket*, const std::exception& e, bool& canClose) {
        seen = e.what();
        canClose = true;
    };
    const int peer = ConnectTo(s, l);
    s.PostTestException();
    ASSERT_TRUE(WaitUntil([&] { return !seen.empty(); }));
    EXPECT_EQ(seen, "Test exception in NetSocket");
    EXPECT_EQ(s.State(), wsClosed);
    // An exception of a data handler is dropped by the receive loop: the connection stays.
    TNetSocket t;
    int calls = 0;
    t.OnDataAvailable = [&](TCustomNetSocket* x, uint16_t) {
        ++calls;
        x->ReceiveStr();
        throw std::runtime_error("handler");
    };
    const int peer2 = ConnectTo(t, l);
    ASSERT_TRUE(WriteAll(peer2, "x"));
    ASSERT_TRUE(WaitUntil([&] { return calls == 1; }));
    LetTimePass(30);
    EXPECT_EQ(t.State(), wsConnected);
    ::close(peer);
    ::close(peer2);
}

TEST_F(CoreTest, DescriptorReuseIgnoresStaleEvents)
{
    TestListener l;
    TNetSocket s;
    int dataSent = 0;
    s.OnDataSent = [&](TCustomNetSocket*, uint16_t) { ++dataSent; };
    int peer = ConnectTo(s, l);
    ASSERT_TRUE(WaitUntil([&] { return dataSent == 1; }));
    s.Send("a", 1);  // posts a write event for this connection
    s.Abort();
    ::close(peer);
    s.SetAddr("127.0.0.1");
    s.SetPort(l.PortText());
    s.Connect();  // very likely the same descriptor number
    peer = l.Accept();
    ASSERT_TRUE(WaitUntil([&] { return s.State() == wsConnected; }));
    LetTimePass(50);
    EXPECT_EQ(dataSent, 2);  // the connect's write event only, not the stale one
    ::close(peer);
}

TEST_F(CoreTest, PauseHoldsEventsUntilResume)
{
    TestListener l;
    TNetSocket s;
    std::string got;
    s.OnDataAvailable = [&](TCustomNetSocket* x, uint16_t) { got += x->ReceiveStr(); };
    const int peer = ConnectTo(s, l);
    s.Pause();
    ASSERT_TRUE(WriteAll(peer, "held"));
    LetTimePass(100);
    EXPECT_EQ(got, "");
    s.Resume();
    ASSERT_TRUE(WaitUntil([&] { return got == "held"; }));
    ::close(peer);
}

TEST_F(CoreTest, ListenAcceptAndDup)
{
    std::vector<std::string> log;
    std::string got;
    TNetSocket server;
    TNetSocket adopted;
    adopted.OnChangeState = [&](TCustomNetSocket*, TSocketState a, TSocketState b) {
        log.push_back(std::to_string(a) + ">" + std::to_string(b));
    };
    adopted.OnDataAvailable = [&](TCustomNetSocket* x, uint16_t) { got += x->ReceiveStr(); };
    server.OnSessionAvailable = [&](TCustomNetSocket* x, uint16_t) { adopted.Dup(x->Accept()); };
    server.SetAddr("127.0.0.1");
    server.SetPort("0");
    server.Listen();
    EXPECT_EQ(server.State(), wsListening);
    const std::string port = server.GetXPort();
    ASSERT_NE(port, "error");

    auto dial = [&] {
        TNetSocket c;  // a second component as the client
        return port;
    };
    (void)dial;
    TNetSocket client;
    client.SetAddr("localhost");
    client.SetPort(port);
    client.Connect();
    ASSERT_TRUE(WaitUntil([&] { return adopted.State() == wsConnected && client.State() == wsConnected; }));
    client.SendStr("ping");
    ASSERT_TRUE(WaitUntil([&] { return got == "ping"; }));
    std::string back;
    client.OnDataAvailable = [&](TCustomNetSocket* x, uint16_t) { back += x->ReceiveStr(); };
    adopted.SendStr("pong");
    ASSERT_TRUE(WaitUntil([&] { return back == "pong"; }));

    // A second connection adopted by the connected component closes the first one before.
    TNetSocket client2;
    client2.SetAddr("127.0.0.1");
    client2.SetPort(port);
    client2.Connect();
    int closed1 = 0;
    client.OnSessionClosed = [&](TCustomNetSocket*, uint16_t) { ++closed1; };
    ASSERT_TRUE(WaitUntil([&] { return closed1 == 1 && client2.State() == wsConnected; }));
    const std::vector<std::string> want = {"8>5", "5>8", "8>5"};
    EXPECT_EQ(log, want);

    TNetSocket idle;
    idle.OnError = [](TCustomNetSocket*) {};
    EXPECT_EQ(idle.Accept(), INVALID_SOCKET);
    EXPECT_EQ(idle.LastError, 10022);
}

} // namespace
