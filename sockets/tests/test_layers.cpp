// Line mode, the synchronous ReadLine, the logger and name resolution, against loopback peers.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>
#include <sstream>
#include <arpa/inet.h>
#include <unistd.h>

#include "sockets/NetSocket.h"
#include "sockets/tests/SocketTestSupport.h"

namespace {

class LayerTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureApp(); }

    static int ConnectTo(TNetSocket& s, TestListener& l) { return ConnectToListener(s, l); }
};

TEST_F(LayerTest, LinesArriveOneAtATime)
{
    TestListener l;
    TNetSocket s;
    s.SetLineMode(true);
    std::vector<std::string> lines;
    std::vector<int> counts;
    s.OnDataAvailable = [&](TCustomNetSocket* x, uint16_t) {
        counts.push_back(x->RcvdCount());
        lines.push_back(x->ReceiveStr());
    };
    const int peer = ConnectTo(s, l);
    ASSERT_TRUE(WriteAll(peer, "AB\r\nCD\r\n"));
    ASSERT_TRUE(WaitUntil([&] { return lines.size() == 2; }));
    EXPECT_EQ(lines[0], "AB\r\n");
    EXPECT_EQ(lines[1], "CD\r\n");
    EXPECT_EQ(counts, (std::vector<int>{4, 4}));
    // A terminator split across reads is found.
    ASSERT_TRUE(WriteAll(peer, "EF\r"));
    LetTimePass(50);
    EXPECT_EQ(lines.size(), 2u);
    ASSERT_TRUE(WriteAll(peer, "\nGH"));
    ASSERT_TRUE(WaitUntil([&] { return lines.size() == 3; }));
    EXPECT_EQ(lines[2], "EF\r\n");
    // The peer closes: the rest comes as a last line before the close.
    std::vector<std::string> order;
    s.OnSessionClosed = [&](TCustomNetSocket*, uint16_t) { order.push_back("closed"); };
    ::close(peer);
    ASSERT_TRUE(WaitUntil([&] { return !order.empty(); }));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[3], "GH");
}

TEST_F(LayerTest, LineLimitAndModeSwitch)
{
    TestListener l;
    TNetSocket s;
    s.SetLineMode(true);
    int limitLen = 0;
    s.OnLineLimitExceeded = [&](TCustomNetSocket*, int len, bool& clear) {
        limitLen = len;
        EXPECT_TRUE(clear);
    };
    std::string plain;
    int events = 0;
    s.OnDataAvailable = [&](TCustomNetSocket* x, uint16_t) {
        ++events;
        plain += x->ReceiveStr();
    };
    const int peer = ConnectTo(s, l);
    ASSERT_TRUE(WriteAll(peer, std::string(70000, 'x')));
    ASSERT_TRUE(WaitUntil([&] { return limitLen >= 70000; }));
    EXPECT_EQ(s.HeldCount(), 0);
    // Two bytes held, then line mode off: one event delivers both.
    ASSERT_TRUE(WriteAll(peer, "ab"));
    ASSERT_TRUE(WaitUntil([&] { return s.HeldCount() == 2; }));
    EXPECT_EQ(events, 0);
    s.SetLineMode(false);
    ASSERT_TRUE(WaitUntil([&] { return plain == "ab"; }));
    EXPECT_EQ(events, 1);
    ::close(peer);
}

TEST_F(LayerTest, EditAndEcho)
{
    TestListener l;
    TNetSocket s;
    s.SetLineMode(true);
    s.LineEdit = true;
    s.LineEcho = true;
    std::string line;
    s.OnDataAvailable = [&](TCustomNetSocket* x, uint16_t) { line = x->ReceiveStr(); };
    const int peer = ConnectTo(s, l);
    ASSERT_TRUE(WriteAll(peer, "ab\bc\r\n"));
    ASSERT_TRUE(WaitUntil([&] { return !line.empty(); }));
    EXPECT_EQ(line, "ac\r\n");
    EXPECT_EQ(ReadNPumping(peer, 8), "ab\b \bc\r\n");
    ::close(peer);
}

TEST_F(LayerTest, ReadLineWaitsWithItsTimeOut)
{
    TestListener l;
    TNetSocket s;
    const int peer = ConnectTo(s, l);
    std::string text;
    const auto t0 = std::chrono::steady_clock::now();
    s.ReadLine(-300, text);
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(took, std::chrono::milliseconds(290));
    EXPECT_LT(took, std::chrono::seconds(60));  // its time-out, not for ever
    EXPECT_EQ(text, "");
    ASSERT_TRUE(WriteAll(peer, "partial"));
    s.ReadLine(-300, text);
    EXPECT_EQ(text, "partial");  // the incomplete line on time-out
    ASSERT_TRUE(WriteAll(peer, "one\r\ntwo\r\n"));
    s.ReadLine(2, text);
    EXPECT_EQ(text, "one\r\n");
    s.ReadLine(2, text);
    EXPECT_EQ(text, "two\r\n");
    EXPECT_FALSE(s.LineMode());
    ::close(peer);
    TNetSocket closed;
    EXPECT_THROW(closed.ReadLine(1, text), ESocketException);
}

TEST_F(LayerTest, LoggerWritesToFile)
{
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/net.log";
    auto* logger = new TNetLogger;
    logger->SetLogOptions({loDestFile, loAddStamp, loNetSockInfo});
    TNetSocket s;
    s.SetNetLogger(logger);
    EXPECT_TRUE(s.CheckLogOptions(loNetSockInfo));
    EXPECT_FALSE(s.CheckLogOptions(loNetSockDump));
    try {
        s.DebugLog(loNetSockInfo, "x");
        FAIL();
    } catch (const ELoggerException& e) {
        EXPECT_STREQ(e.what(), "File name empty");
    }
    logger->SetLogFileName(path);
    TestListener l;
    const int peer = ConnectTo(s, l);
    s.Close();
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string text = ss.str();
    EXPECT_NE(text.find(" TNetSocket will connect to 127.0.0.1:" + l.PortText() + "\r\n"), std::string::npos);
    EXPECT_EQ(text.substr(2, 1), ":");  // hh:nn:ss:zzz first
    delete logger;
    EXPECT_FALSE(s.CheckLogOptions(loNetSockInfo));  // a freed logger is simply gone
    ::close(peer);
}

TEST(Resolution, NamesPortsAndDottedAddresses)
{
    EnsureApp();
    EXPECT_TRUE(NetSocketIsDottedIP(" 1.2.3.4 "));
    EXPECT_FALSE(NetSocketIsDottedIP("1.2.3"));
    EXPECT_FALSE(NetSocketIsDottedIP("1.2.3.4.5"));
    EXPECT_FALSE(NetSocketIsDottedIP(".1.2.3"));
    EXPECT_FALSE(NetSocketIsDottedIP("1.2.3.256"));
    EXPECT_EQ(NetSocketResolveHost("255.255.255.255"), 0xFFFFFFFFu);
    EXPECT_EQ(NetSocketResolveHost("localhost"), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(NetSocketResolvePort("80x", "tcp"), 80);
    EXPECT_EQ(NetSocketResolvePort("telnet", "tcp"), 23);
    EXPECT_THROW(NetSocketResolvePort(std::string(32, '1'), "tcp"), ESocketException);
    EXPECT_THROW(NetSocketResolvePort("70000", "tcp"), ESocketException);
    EXPECT_EQ(NetSocketResolveProto("UDP"), 17);
    try {
        NetSocketResolveHost("no.such.host.invalid");
        FAIL();
    } catch (const ESocketException& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Winsock Resolve Host: Cannot convert host address 'no.such.host.invalid' - ", 0), 0u);
    }
    // Asynchronous look-ups: a dotted address answers before DnsLookup returns.
    TNetSocket s;
    int done = -1;
    s.OnDnsLookupDone = [&](TCustomNetSocket*, uint16_t e) { done = e; };
    s.DnsLookup("10.0.0.1");
    EXPECT_EQ(done, 0);
    EXPECT_EQ(s.DnsResult(), "10.0.0.1");
    done = -1;
    s.DnsLookup("localhost");
    ASSERT_TRUE(WaitUntil([&] { return done >= 0; }));
    EXPECT_EQ(done, 0);
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");
    done = -1;
    s.DnsLookup("no.such.host.invalid");
    ASSERT_TRUE(WaitUntil([&] { return done >= 0; }));
    EXPECT_NE(done, 0);
}

} // namespace
