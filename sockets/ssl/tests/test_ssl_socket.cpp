// The TLS socket layer against openssl s_server / s_client peers on 127.0.0.1.
#include "sockets/NetSocket.h"
#include "sockets/ssl/NetSsleay.h"
#include "support/PythonTlsServer.h"
#include "support/SslPeer.h"
#include "support/TestPki.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>

#include <algorithm>
#include <deque>
#include <cstdlib>
#include <memory>

using namespace ssltest;

namespace {

struct TPkiFiles {
  TTestPki Pki;
  TCertFiles Server, Expired, Revoked;
  std::string Crl;
  TPkiFiles() {
    Server = Pki.Issue("server", "/CN=localhost", "DNS:localhost,IP:127.0.0.1");
    Expired = Pki.Issue("expired", "/CN=localhost", "DNS:localhost", "", "20200101000000Z", "20200102000000Z");
    Revoked = Pki.Issue("revoked", "/CN=localhost", "DNS:localhost");
    Crl = Pki.Revoke(Revoked.Cert);
  }
};

TPkiFiles* Files = nullptr;

// A client socket with its event record.
struct TClient {
  TSslContext Ctx;
  TSslNetSocket S;
  std::vector<std::string> Events;
  std::string Received;
  std::string PeerSubject;
  bool PeerNamesLocalhost = false, PeerNamesOther = true;
  int HandshakesDone = 0, HandshakeErrors = 0, DataSent = 0;
  int ClosedError = -1;
  int ShutdownError = -1;
  bool ShutdownBi = false;
  std::vector<int> VerifyErrors;
  std::string BgException;

  TNetLogger Logger;
  std::deque<std::string> Tail;
  std::string TailText() const {
    std::string t;
    for (const auto& l : Tail) t += l + "\n";
    return t;
  }

  TClient() {
    EnsureApp();
    // ZELT_SSL_TEST_LOG=1 shows the layer's diagnostics on standard error.
    if (const char* how = std::getenv("ZELT_SSL_TEST_LOG")) {
      if (std::string(how) == "tail") {
        // Keeps the last lines only, shown when a wait fails.
        Logger.SetLogOptions({loDestEvent, loSslErr, loSslInfo, loNetSockErr});
        Logger.SetOnNetLogEvent([this](void*, TLogOption, const std::string& line) {
          Tail.push_back(line);
          if (Tail.size() > 80) Tail.pop_front();
        });
      } else {
        Logger.SetLogOptions({loDestOutDebug, loSslErr, loSslInfo, loNetSockErr});
      }
      S.SetNetLogger(&Logger);
    }
    S.SetSslContext(&Ctx);
    S.SslEnable = true;
    S.SetAddr("127.0.0.1");
    S.OnSessionConnected = [this](TCustomNetSocket*, uint16_t e) { Events.push_back("connected:" + std::to_string(e)); };
    S.OnSslHandshakeDone = [this](TCustomNetSocket*, uint16_t e, TX509Base* peer, bool&) {
      Events.push_back("handshake:" + std::to_string(e));
      (e == 0 ? HandshakesDone : HandshakeErrors)++;
      if (peer && peer->X509()) {
        PeerSubject = peer->GetSubjectOneLine();
        PeerNamesLocalhost = peer->PostConnectionCheck("localhost") && peer->PostConnectionCheck("127.0.0.1");
        PeerNamesOther = peer->PostConnectionCheck("other.test");
      }
    };
    S.OnSslVerifyPeer = [this](TCustomNetSocket*, int&, TX509Base* cert) { VerifyErrors.push_back(cert->VerifyResult()); };
    S.OnDataAvailable = [this](TCustomNetSocket* s, uint16_t) {
      char buf[4096];
      int n;
      while ((n = s->Receive(buf, sizeof buf)) > 0) Received.append(buf, n);
    };
    S.OnDataSent = [this](TCustomNetSocket*, uint16_t) { ++DataSent; };
    S.OnSessionClosed = [this](TCustomNetSocket*, uint16_t e) {
      Events.push_back("closed:" + std::to_string(e));
      ClosedError = e;
    };
    S.OnSslShutDownComplete = [this](TCustomNetSocket*, bool bi, int e) {
      Events.push_back(std::string("shutdown:") + (bi ? "bi:" : "one:") + std::to_string(e));
      ShutdownBi = bi;
      ShutdownError = e;
    };
    S.OnBgException = [this](TCustomNetSocket*, const std::exception& e, bool&) { BgException = e.what(); };
  }
  void TrustCa() {
    Ctx.SetSslCAFile(Files->Pki.Ca().Cert);
    Ctx.SetSslVerifyPeer(true);
  }
  // Sends the bytes and closes at once, then waits for the close to be reported.
  ::testing::AssertionResult SendAndClose(const char* data, size_t size, int timeoutMs = kTestDeadlineMs) {
    const int taken = S.Send(data, static_cast<int>(size));
    if (taken != static_cast<int>(size)) return ::testing::AssertionFailure() << "Send took " << taken;
    S.Close();
    if (!WaitUntil([&] { return ClosedError >= 0; }, timeoutMs))
      return ::testing::AssertionFailure() << "no close reported\n" << S.SslEngineState() << "\n" << TailText();
    return ::testing::AssertionSuccess();
  }
  // Connects to a peer process that prints its port as "ACCEPT ...": true once the handshake is done.
  ::testing::AssertionResult ConnectTo(TSslPeer& peer) {
    const std::string port = peer.WaitForAcceptPort();
    if (port.empty()) return ::testing::AssertionFailure() << "no port from the peer\n" << peer.Output();
    if (!Connect(port) || HandshakesDone != 1)
      return ::testing::AssertionFailure() << "no handshake: " << HandshakesDone << "\n" << peer.Output();
    return ::testing::AssertionSuccess();
  }
  bool Connect(const std::string& port) {
    S.SetPort(port);
    S.Connect();
    return WaitUntil([&] { return HandshakesDone + HandshakeErrors > 0 || ClosedError >= 0; });
  }
};

std::vector<std::string> Server(const TCertFiles& cert, std::vector<std::string> extra = {}) {
  std::vector<std::string> args = {"s_server", "-accept", "127.0.0.1:0", "-cert", cert.Cert, "-key", cert.Key,
                                   "-rev", "-naccept", "1"};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

// A TLS server in python at the given TLS version for the given number of connections (1 when not
// given), one after the other; for each it reads to the peer's close and prints
// "RECEIVED <bytes> <sha256> notify" when the close notification came, "... eof" when the connection
// ended without it, "... reset" when it was reset. With "late" after the count it reads nothing
// until a line comes on its standard input, then sends "late reply" before it reads.
const std::string kCountingServer = std::string(kPythonTlsServer) + R"PY(
import hashlib
count = int(sys.argv[4]) if len(sys.argv) > 4 else 1
late = len(sys.argv) > 5 and sys.argv[5] == "late"
for _ in range(count):
    conn, _ = ls.accept()
    tls = ctx.wrap_socket(conn, server_side=True, suppress_ragged_eofs=False)
    if late:
        sys.stdin.readline()
        tls.sendall(b"late reply\n")
    h, n, how = hashlib.sha256(), 0, "notify"
    while True:
        try:
            b = tls.recv(262144)
        except ssl.SSLEOFError:
            how = "eof"
            break
        except ConnectionResetError:
            how = "reset"
            break
        if not b:
            break
        n += len(b)
        h.update(b)
    print("RECEIVED %d %s %s" % (n, h.hexdigest(), how), flush=True)
    tls.close()
)PY";

// A TLS server in python for one connection at the given TLS version: it reads the given number of
// bytes, then resets the connection (linger 0) with the rest unread and prints "RESET AFTER <bytes>".
const std::string kResettingServer = std::string(kPythonTlsServer) + R"PY(
import struct
limit = int(sys.argv[4])
conn, _ = ls.accept()
tls = ctx.wrap_socket(conn, server_side=True)
n = 0
while n < limit:
    b = tls.recv(65536)
    if not b:
        break
    n += len(b)
tls.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
tls.close()
print("RESET AFTER %d" % n, flush=True)
)PY";

// A TLS server in python for one connection at the given TLS version, over memory BIOs so that it
// can send its close notification and still read: it reads at least the given number of bytes, sends
// its close notification, prints "NOTIFY SENT AFTER <bytes>", reads on to the end and prints the
// counting server's "RECEIVED ..." line. With "close" after the count it closes the connection right
// after its notification instead, what it has not read unread, and prints "CLOSED AFTER <bytes>".
const std::string kFirstNotifyingServer = std::string(kPythonTlsServer) + kPythonMemoryBioTls + R"PY(
import hashlib
first = int(sys.argv[4])
close_at_once = len(sys.argv) > 5 and sys.argv[5] == "close"
conn, _ = ls.accept()
peer = MemoryBioTls(conn)
tls = peer.tls
peer.handshake()
h, n, how, notified = hashlib.sha256(), 0, None, False
while how is None:
    try:
        b = tls.read(262144)
        n += len(b)
        h.update(b)
        continue
    except ssl.SSLWantReadError:
        pass
    except ssl.SSLZeroReturnError:
        how = "notify"
        break
    except ssl.SSLEOFError:
        how = "eof"
        break
    # Everything received is read: the engine sends its notification without meeting our data.
    if not notified and n >= first:
        try:
            tls.unwrap()
        except ssl.SSLWantReadError:
            pass
        notified = True
        peer.flush()
        print("NOTIFY SENT AFTER %d" % n, flush=True)
        if close_at_once:
            conn.close()
            print("CLOSED AFTER %d" % n, flush=True)
            sys.exit(0)
    peer.flush()
    try:
        peer.feed()
    except ConnectionResetError:
        how = "reset"
print("RECEIVED %d %s %s" % (n, h.hexdigest(), how), flush=True)
conn.close()
)PY";

std::string Sha256Hex(const std::string& data) {
  return QCryptographicHash::hash(QByteArray::fromRawData(data.data(), static_cast<qsizetype>(data.size())),
                                  QCryptographicHash::Sha256)
      .toHex()
      .toStdString();
}

// The n-th "RECEIVED ..." line of the counting server's output, or empty.
std::string ReceivedLine(const std::string& output, size_t n) {
  size_t at = 0;
  for (size_t i = 0;; ++i) {
    at = output.find("RECEIVED ", at);
    if (at == std::string::npos) return {};
    const size_t eol = output.find('\n', at);
    if (eol == std::string::npos) return {};
    if (i == n) return output.substr(at, eol - at);
    at = eol;
  }
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string t;
  for (const auto& l : lines) t += l + " ";
  return t;
}

std::string Reversed(std::string s) {
  std::reverse(s.begin(), s.end());
  return s;
}

// An openssl server for one TLS 1.2 connection that prints what it receives and takes commands on its
// standard input ("r" asks for a new handshake).
std::vector<std::string> RenegotiatingServer() {
  return {"s_server", "-accept", "127.0.0.1:0", "-cert", Files->Server.Cert, "-key", Files->Server.Key,
          "-tls1_2", "-naccept", "1"};
}

// What the server printed besides our lines, and the last of them.
std::string ServerNotes(const std::string& output) {
  std::string notes, last;
  size_t at = 0;
  while (at < output.size()) {
    size_t eol = output.find('\n', at);
    if (eol == std::string::npos) eol = output.size();
    const std::string line = output.substr(at, eol - at);
    if (line.rfind("line ", 0) == 0) last = line;
    else notes += line + "\n";
    at = eol + 1;
  }
  return notes + "the last of our lines it printed: " + last;
}

const char* const kRenegotiatedLastLine = "the last line of our data\n";

// Our side of a transfer that goes on while the test waits: numbered lines ("line <n> ..."), a block
// at once and another each time the last one has gone, and kRenegotiatedLastLine at the end. The
// server begins a handshake it asks for only between records of ours: its request must not meet the
// end of our data.
class TSteadySend {
public:
  explicit TSteadySend(TClient& c) : FClient(c) { Next(); }
  // For a wait: keeps the transfer going until done() holds.
  std::function<bool()> Until(std::function<bool()> done) {
    return [this, done] {
      if (FClient.DataSent > FBlocksSeen) {
        FBlocksSeen = FClient.DataSent;
        Next();
      }
      return done();
    };
  }
  void Finish() { FClient.S.SendStr(kRenegotiatedLastLine); }

private:
  void Next() {
    std::string block;
    while (block.size() < (1u << 20)) block += "line " + std::to_string(FLine++) + " of a renegotiated send\n";
    FClient.S.SendStr(block);
  }
  TClient& FClient;
  int FBlocksSeen = 0;
  int FLine = 0;
};

// True once the peer printed the text (no failure: for a wait that goes on).
bool Printed(TSslPeer& peer, const std::string& text) { return peer.Output().find(text) != std::string::npos; }

class SslSocketTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    EnsureApp();
    Files = new TPkiFiles();
  }
  static void TearDownTestSuite() {
    delete Files;
    Files = nullptr;
  }
  void TearDown() override { Netssleay::ICS_SSL_NO_RENEGOTIATION = false; }
};

}  // namespace

TEST_F(SslSocketTest, ClientHandshakeVerifiesAndCarriesData) {
  TSslPeer peer(Server(Files->Server));
  std::string port = peer.WaitForAcceptPort();
  ASSERT_FALSE(port.empty()) << peer.Output();
  TClient c;
  c.TrustCa();
  // Sent before the handshake is complete: queued, and it goes out after it.
  c.S.SetPort(port);
  c.S.Connect();
  ASSERT_TRUE(WaitUntil([&] { return c.S.State() == wsConnected; }));
  c.S.SendStr("early line\n");
  ASSERT_TRUE(WaitUntil([&] { return c.HandshakesDone == 1; })) << peer.Output();
  ASSERT_GE(c.Events.size(), 2u);
  EXPECT_EQ(c.Events[0], "connected:0");
  EXPECT_EQ(c.Events[1], "handshake:0");
  EXPECT_EQ(c.PeerSubject, "/CN=localhost");
  EXPECT_TRUE(c.PeerNamesLocalhost);
  EXPECT_FALSE(c.PeerNamesOther);
  EXPECT_EQ(c.S.SslPeerVerifyResult(), 0);
  EXPECT_EQ(c.S.SslState(), sslStateDone);
  EXPECT_NE(c.S.SslVersion(), "Unknown");
  EXPECT_GT(c.S.SslSecretBits(), 0);
  ASSERT_FALSE(c.VerifyErrors.empty());
  EXPECT_EQ(c.S.SslCertChain().GetCount(), 2);  // the server's certificate and the CA
  ASSERT_TRUE(WaitUntil([&] { return c.Received.find("enil ylrae\n") != std::string::npos; })) << c.Received;
  EXPECT_TRUE(WaitUntil([&] { return c.DataSent >= 1; }));

  // Nothing decrypted waits: Receive would block.
  char b[8];
  EXPECT_EQ(c.S.Receive(b, sizeof b), -1);
  EXPECT_EQ(c.S.LastError, WSAEWOULDBLOCK);

  // A one-way close sends the close notification first.
  c.S.Close();
  ASSERT_TRUE(WaitUntil([&] { return c.ClosedError >= 0; }));
  EXPECT_EQ(c.Events[c.Events.size() - 2], "shutdown:one:0");
  EXPECT_EQ(c.Events.back(), "closed:0");
  EXPECT_FALSE(c.ShutdownBi);
  EXPECT_TRUE(peer.WaitForExit());
}

TEST_F(SslSocketTest, LargeTransferBothWays) {
  TSslPeer peer(Server(Files->Server));
  std::string port = peer.WaitForAcceptPort();
  TClient c;
  ASSERT_TRUE(c.Connect(port));
  ASSERT_EQ(c.HandshakesDone, 1);
  std::string data, expected;
  for (int i = 0; i < 3000; ++i) {
    std::string line = "line " + std::to_string(i) + " " + std::string(80 + i % 37, static_cast<char>('a' + i % 26));
    data += line + "\n";
    expected += Reversed(line) + "\n";
  }
  // One Send of ~380 KB: queued in 4096-byte chunks, all of it accepted at once.
  EXPECT_EQ(c.S.SendStr(data), static_cast<int>(data.size()));
  ASSERT_TRUE(WaitUntil([&] { return c.Received.size() >= expected.size(); }))
      << c.Received.size() << " of " << expected.size() << "\n" << c.S.SslEngineState() << "\n" << c.TailText();
  EXPECT_EQ(c.Received, expected);
  EXPECT_TRUE(WaitUntil([&] { return c.DataSent >= 1; }));
  c.S.Close();
  EXPECT_TRUE(WaitUntil([&] { return c.ClosedError >= 0; }));
}

TEST_F(SslSocketTest, VerificationFailuresAreReported) {
  struct TCase {
    const TCertFiles* Cert;
    bool WithCa, WithCrl;
    int Expected;
  };
  const TCase cases[] = {{&Files->Server, false, false, X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY},
                         {&Files->Expired, true, false, X509_V_ERR_CERT_HAS_EXPIRED},
                         {&Files->Revoked, true, true, X509_V_ERR_CERT_REVOKED}};
  for (const TCase& tc : cases) {
    TSslPeer peer(Server(*tc.Cert));
    std::string port = peer.WaitForAcceptPort();
    TClient c;
    c.Ctx.SetSslVerifyPeer(true);
    c.Ctx.SetSslCAFile(tc.WithCa ? Files->Pki.Ca().Cert : Files->Server.Cert);
    if (tc.WithCrl) c.Ctx.SetSslCRLFile(Files->Crl);
    ASSERT_TRUE(c.Connect(port));
    EXPECT_TRUE(WaitUntil([&] { return c.ClosedError >= 0; }));
    EXPECT_EQ(c.HandshakesDone, 0) << tc.Expected;
    EXPECT_EQ(c.HandshakeErrors, 1) << tc.Expected;
    EXPECT_EQ(c.S.SslPeerVerifyResult(), tc.Expected);
    EXPECT_NE(std::find(c.VerifyErrors.begin(), c.VerifyErrors.end(), tc.Expected), c.VerifyErrors.end());
    EXPECT_EQ(c.S.State(), wsClosed);
  }
}

TEST_F(SslSocketTest, VerifyHandlerMayAcceptAndMayFail) {
  {
    TSslPeer peer(Server(Files->Expired));
    std::string port = peer.WaitForAcceptPort();
    TClient c;
    c.TrustCa();
    c.S.OnSslVerifyPeer = [&](TCustomNetSocket*, int& ok, TX509Base*) { ok = 1; };
    ASSERT_TRUE(c.Connect(port));
    EXPECT_EQ(c.HandshakesDone, 1);
    EXPECT_EQ(c.S.SslPeerVerifyResult(), 0);
  }
  {
    // A throwing handler never unwinds through OpenSSL: the verification fails and the exception
    // reaches the background-exception handler.
    TSslPeer peer(Server(Files->Server));
    std::string port = peer.WaitForAcceptPort();
    TClient c;
    c.TrustCa();
    c.S.OnSslVerifyPeer = [&](TCustomNetSocket*, int&, TX509Base*) { throw std::runtime_error("handler failed"); };
    c.S.SetPort(port);
    c.S.Connect();
    EXPECT_TRUE(WaitUntil([&] { return !c.BgException.empty() && c.S.State() == wsClosed; }));
    EXPECT_EQ(c.BgException, "handler failed");
    EXPECT_EQ(c.HandshakesDone, 0);
  }
}

TEST_F(SslSocketTest, ClientSessionIsReused) {
  TSslPeer peer(Server(Files->Server, {"-naccept", "2", "-tls1_2"}));
  std::string port = peer.WaitForAcceptPort();
  SSL_SESSION* saved = nullptr;
  {
    TClient c;
    c.S.OnSslCliNewSession = [&](TCustomNetSocket*, SSL_SESSION* s, bool reused, bool& inc) {
      EXPECT_FALSE(reused);
      saved = s;
      inc = true;
    };
    ASSERT_TRUE(c.Connect(port));
    ASSERT_EQ(c.HandshakesDone, 1);
    EXPECT_FALSE(c.S.SslSessionReused());
    c.S.Close();
    ASSERT_TRUE(WaitUntil([&] { return c.ClosedError >= 0; }));
  }
  ASSERT_NE(saved, nullptr);
  TClient c2;
  c2.S.OnSslCliGetSession = [&](TCustomNetSocket*, SSL_SESSION*& s, bool& freeIt) {
    s = saved;
    freeIt = true;
  };
  bool reusedSeen = false;
  c2.S.OnSslCliNewSession = [&](TCustomNetSocket*, SSL_SESSION*, bool reused, bool&) { reusedSeen = reused; };
  ASSERT_TRUE(c2.Connect(port));
  ASSERT_EQ(c2.HandshakesDone, 1);
  EXPECT_TRUE(c2.S.SslSessionReused());
  EXPECT_TRUE(reusedSeen);
  c2.S.Close();
  EXPECT_TRUE(WaitUntil([&] { return c2.ClosedError >= 0; }));
}

TEST_F(SslSocketTest, BidirectionalShutdownLeavesPlainConnection) {
  TSslPeer peer(Server(Files->Server));
  std::string port = peer.WaitForAcceptPort();
  TClient c;
  ASSERT_TRUE(c.Connect(port));
  ASSERT_EQ(c.HandshakesDone, 1);
  // When the shutdown completes TLS is off and the TCP connection still open (the peer, a
  // one-connection server, closes it afterwards).
  bool tlsOff = false;
  TSocketState stateThen = wsInvalidState;
  c.S.OnSslShutDownComplete = [&](TCustomNetSocket*, bool bi, int e) {
    c.ShutdownBi = bi;
    c.ShutdownError = e;
    tlsOff = !c.S.SslEnable;
    stateThen = c.S.State();
  };
  c.S.SslBiShutDownAsync();
  ASSERT_TRUE(WaitUntil([&] { return c.ShutdownError >= 0; }))
      << peer.Output() << "\n" << c.S.SslEngineState() << "\n" << c.TailText();
  EXPECT_TRUE(c.ShutdownBi);
  EXPECT_EQ(c.ShutdownError, 0);
  EXPECT_TRUE(tlsOff);
  EXPECT_EQ(stateThen, wsConnected);
  EXPECT_TRUE(WaitUntil([&] { return c.ClosedError >= 0; }));
  EXPECT_EQ(c.ClosedError, 0);
}

TEST_F(SslSocketTest, RenegotiationOnTls12Only) {
  {
    TSslPeer peer(Server(Files->Server, {"-tls1_2", "-client_renegotiation"}));
    std::string port = peer.WaitForAcceptPort();
    TClient c;
    ASSERT_TRUE(c.Connect(port));
    ASSERT_EQ(c.HandshakesDone, 1);
    Netssleay::ICS_SSL_NO_RENEGOTIATION = true;
    EXPECT_FALSE(c.S.SslStartRenegotiation());
    Netssleay::ICS_SSL_NO_RENEGOTIATION = false;
    EXPECT_TRUE(c.S.SslStartRenegotiation());
    // Data sent meanwhile waits for the new handshake, then goes out.
    c.S.SendStr("after renegotiation\n");
    ASSERT_TRUE(WaitUntil([&] { return c.HandshakesDone == 2; })) << peer.Output();
    EXPECT_EQ(c.S.SslHandshakeCount(), 2);
    EXPECT_FALSE(c.S.SslInRenegotiation());
    ASSERT_TRUE(WaitUntil([&] { return c.Received.find("noitaitogener retfa\n") != std::string::npos; }));
    c.S.Close();
    EXPECT_TRUE(WaitUntil([&] { return c.ClosedError >= 0; }));
  }
  {
    TSslPeer peer(Server(Files->Server, {"-tls1_3"}));
    std::string port = peer.WaitForAcceptPort();
    TClient c;
    ASSERT_TRUE(c.Connect(port));
    ASSERT_EQ(c.HandshakesDone, 1);
    EXPECT_EQ(c.S.SslVersion(), "TLSv1.3");
    EXPECT_FALSE(c.S.SslStartRenegotiation());
  }
}

TEST_F(SslSocketTest, ServerHandshakeWithClientPeer) {
  EnsureApp();
  TSslContext ctx;
  ctx.SetSslCertFile(Files->Server.Cert);
  ctx.SetSslPrivKeyFile(Files->Server.Key);
  TNetSocket listener;
  listener.SetAddr("127.0.0.1");
  listener.SetPort("0");
  std::unique_ptr<TSslNetSocket> server;
  std::string received;
  int handshakes = 0, closed = -1;
  listener.OnSessionAvailable = [&](TCustomNetSocket*, uint16_t) {
    TSocket h = listener.Accept();
    server = std::make_unique<TSslNetSocket>();
    server->SetSslContext(&ctx);
    server->SslEnable = true;
    server->SslMode = sslModeServer;
    server->OnSslHandshakeDone = [&](TCustomNetSocket*, uint16_t e, TX509Base*, bool&) { handshakes += e == 0; };
    server->OnDataAvailable = [&](TCustomNetSocket* s, uint16_t) {
      char buf[1024];
      int n;
      while ((n = s->Receive(buf, sizeof buf)) > 0) received.append(buf, n);
    };
    server->OnSessionClosed = [&](TCustomNetSocket*, uint16_t e) { closed = e; };
    server->Dup(h);
  };
  listener.Listen();
  std::string port = listener.GetXPort();
  ASSERT_NE(port, "0");
  TSslPeer client({"s_client", "-connect", "127.0.0.1:" + port, "-CAfile", Files->Pki.Ca().Cert,
                   "-verify_return_error", "-verify_hostname", "localhost", "-quiet"});
  ASSERT_TRUE(WaitUntil([&] { return handshakes == 1; })) << client.Output();
  client.Write("ping from client\n");
  ASSERT_TRUE(WaitUntil([&] { return received == "ping from client\n"; })) << received;
  server->SendStr("pong from server\n");
  ASSERT_TRUE(client.WaitForOutput("pong from server"));
  // Our server starts a renegotiation (TLS 1.2) ... only when the peer negotiated TLS 1.2; here 1.3.
  EXPECT_FALSE(server->SslStartRenegotiation());
  server->Close();
  EXPECT_TRUE(WaitUntil([&] { return closed >= 0; }));
  EXPECT_TRUE(client.WaitForExit());
  listener.Close();
}

TEST_F(SslSocketTest, GracefulCloseDeliversEveryQueuedByteFirst) {
  std::string data;
  data.reserve(3 << 20);
  for (int i = 0; data.size() < (3u << 20); ++i) data += "record " + std::to_string(i) + " of the closing test\n";
  data.resize(3 << 20);
  for (const char* version : {"1.2", "1.3"}) {
    SCOPED_TRACE(version);
    TSslPeer peer("python3", {"-c", kCountingServer, Files->Server.Cert, Files->Server.Key, version});
    TClient c;
    ASSERT_TRUE(c.ConnectTo(peer));
    // Sent and closed at once: the close waits for every byte, then sends the close notification.
    ASSERT_TRUE(c.SendAndClose(data.data(), data.size()));
    EXPECT_EQ(c.ClosedError, 0);
    EXPECT_EQ(c.ShutdownError, 0);
    ASSERT_TRUE(peer.WaitForExit()) << peer.Output();
    EXPECT_NE(peer.Output().find("RECEIVED " + std::to_string(data.size()) + " " + Sha256Hex(data) + " notify"),
              std::string::npos)
        << peer.Output();
    // One handshake event only: the good one.
    EXPECT_EQ(c.HandshakesDone, 1);
    EXPECT_EQ(c.HandshakeErrors, 0);
  }
}

TEST_F(SslSocketTest, SocketOutlivesItsContext) {
  TSslPeer peer(Server(Files->Server));
  std::string port = peer.WaitForAcceptPort();
  auto ctx = std::make_unique<TSslContext>();
  TClient c;
  c.S.SetSslContext(ctx.get());
  ctx.reset();
  // The freed context is forgotten: a handshake now fails cleanly for want of a context.
  EXPECT_EQ(c.S.SslContext(), nullptr);
  c.S.SetPort(port);
  c.S.Connect();
  ASSERT_TRUE(WaitUntil([&] { return c.S.State() == wsClosed && !c.BgException.empty(); }));
  EXPECT_EQ(c.BgException, "SSL requires a context object");
  EXPECT_EQ(c.HandshakesDone, 0);

  // A context freed while its socket is connected: the socket goes on and closes on its own.
  TSslPeer peer2(Server(Files->Server));
  port = peer2.WaitForAcceptPort();
  TClient d;
  ctx = std::make_unique<TSslContext>();
  d.S.SetSslContext(ctx.get());
  ASSERT_TRUE(d.Connect(port));
  ASSERT_EQ(d.HandshakesDone, 1);
  ctx.reset();
  EXPECT_EQ(d.S.SslContext(), nullptr);
  d.S.SendStr("still here\n");
  ASSERT_TRUE(WaitUntil([&] { return d.Received.find("ereh llits\n") != std::string::npos; })) << d.Received;
  d.S.Close();
  EXPECT_TRUE(WaitUntil([&] { return d.ClosedError >= 0; }));
}

TEST_F(SslSocketTest, CloseNotificationFollowsTheLastByteOfLargeSends) {
  // Sizes around those after which the engine's output was still full when the close began (1, 8 and
  // 16 MB here): its close notification must follow the last byte all the same.
  const std::vector<size_t> sizes = {1u << 20, 4u << 20, (8u << 20) - 1, 8u << 20, (16u << 20) - 4096, 16u << 20};
  const size_t largest = *std::max_element(sizes.begin(), sizes.end());
  std::string data;
  data.reserve(largest + 64);
  for (int i = 0; data.size() < largest; ++i) data += "block " + std::to_string(i) + " of a large send\n";
  for (const char* version : {"1.2", "1.3"}) {
    SCOPED_TRACE(version);
    TSslPeer peer("python3", {"-c", kCountingServer, Files->Server.Cert, Files->Server.Key, version,
                              std::to_string(sizes.size())});
    const std::string port = peer.WaitForAcceptPort();
    ASSERT_FALSE(port.empty()) << peer.Output();
    for (size_t i = 0; i < sizes.size(); ++i) {
      const size_t size = sizes[i];
      SCOPED_TRACE(size);
      TClient c;
      ASSERT_TRUE(c.Connect(port)) << peer.Output();
      ASSERT_EQ(c.HandshakesDone, 1);
      ASSERT_TRUE(c.SendAndClose(data.data(), size)) << peer.Output();
      ASSERT_TRUE(WaitUntil([&] { return !ReceivedLine(peer.Output(), i).empty(); })) << peer.Output();
      const std::string expected =
          "RECEIVED " + std::to_string(size) + " " + Sha256Hex(data.substr(0, size)) + " notify";
      EXPECT_EQ(ReceivedLine(peer.Output(), i), expected) << c.TailText();
      EXPECT_EQ(c.ShutdownError, 0);
      EXPECT_EQ(c.ClosedError, 0);
      ASSERT_GE(c.Events.size(), 2u);
      const std::vector<std::string> tail(c.Events.end() - 2, c.Events.end());
      EXPECT_EQ(tail, (std::vector<std::string>{"shutdown:one:0", "closed:0"}));
    }
    EXPECT_TRUE(peer.WaitForExit()) << peer.Output();
  }
}

TEST_F(SslSocketTest, PeerResetDuringGracefulCloseEndsTheShutdownOnce) {
  const std::string data(8 << 20, 'r');
  for (const char* version : {"1.2", "1.3"}) {
    SCOPED_TRACE(version);
    TSslPeer peer("python3", {"-c", kResettingServer, Files->Server.Cert, Files->Server.Key, version, "204800"});
    TClient c;
    ASSERT_TRUE(c.ConnectTo(peer));
    EXPECT_EQ(c.S.SendStr(data), static_cast<int>(data.size()));
    c.S.Close();
    ASSERT_TRUE(WaitUntil([&] { return c.ClosedError >= 0 && c.ShutdownError >= 0; }))
        << c.S.SslEngineState() << "\n" << c.TailText() << "\n" << peer.Output() << "\n" << Joined(c.Events);
    EXPECT_TRUE(peer.WaitForOutput("RESET AFTER"));
    // Late events of the broken connection would come now.
    LetTimePass(500);
    const std::vector<std::string> want = {"connected:0", "handshake:0", "shutdown:one:10054", "closed:10054"};
    EXPECT_EQ(c.Events, want);
    EXPECT_EQ(c.S.State(), wsClosed);
    EXPECT_TRUE(peer.WaitForExit()) << peer.Output();
  }
}

TEST_F(SslSocketTest, BytesThePeerSendsAfterOurCloseLoseNothing) {
  // The peer reads nothing until we have closed, then sends before it reads (as a TLS 1.3 server may
  // send its session tickets late): our socket, closed while the end of our data still waits in the
  // kernel, must not answer with a reset that drops that data. The send fits in the kernel's buffers.
  std::string data;
  for (int i = 0; data.size() < (1u << 20); ++i) data += "line " + std::to_string(i) + " sent before the close\n";
  for (const char* version : {"1.2", "1.3"}) {
    SCOPED_TRACE(version);
    TSslPeer peer("python3", {"-c", kCountingServer, Files->Server.Cert, Files->Server.Key, version, "1", "late"});
    TClient c;
    ASSERT_TRUE(c.ConnectTo(peer));
    // The kernel's buffers take the whole send: the close completes before the peer reads.
    EXPECT_TRUE(c.SendAndClose(data.data(), data.size()));
    EXPECT_EQ(c.ClosedError, 0);
    EXPECT_EQ(c.ShutdownError, 0);
    peer.Write("go\n");
    ASSERT_TRUE(WaitUntil([&] { return !ReceivedLine(peer.Output(), 0).empty(); })) << peer.Output();
    EXPECT_EQ(ReceivedLine(peer.Output(), 0),
              "RECEIVED " + std::to_string(data.size()) + " " + Sha256Hex(data) + " notify");
    EXPECT_TRUE(peer.WaitForExit()) << peer.Output();
  }
}

TEST_F(SslSocketTest, OurCloseNotificationFollowsThePeersOwn) {
  // The peer's close notification comes first; ours must still follow our last byte, or the owner
  // must hear of an error. Once in the middle of a large send that is being closed, once before the
  // owner closes.
  std::string data;
  for (int i = 0; data.size() < (8u << 20); ++i) data += "chunk " + std::to_string(i) + " after the peer's close\n";
  data.resize(8u << 20);
  const std::string small = data.substr(0, 300 << 10);
  for (const char* version : {"1.2", "1.3"}) {
    SCOPED_TRACE(version);
    {
      SCOPED_TRACE("peer notifies during a closing send");
      TSslPeer peer("python3", {"-c", kFirstNotifyingServer, Files->Server.Cert, Files->Server.Key, version, "204800"});
      TClient c;
      ASSERT_TRUE(c.ConnectTo(peer));
      ASSERT_TRUE(c.SendAndClose(data.data(), data.size())) << peer.Output();
      ASSERT_TRUE(WaitUntil([&] { return !ReceivedLine(peer.Output(), 0).empty(); })) << peer.Output();
      EXPECT_TRUE(peer.WaitForOutput("NOTIFY SENT AFTER"));
      EXPECT_EQ(ReceivedLine(peer.Output(), 0), "RECEIVED " + std::to_string(data.size()) + " " + Sha256Hex(data) + " notify")
          << Joined(c.Events) << "\n" << c.TailText();
      EXPECT_EQ(c.ShutdownError, 0);
      EXPECT_EQ(c.ClosedError, 0);
      EXPECT_TRUE(peer.WaitForExit()) << peer.Output();
    }
    {
      SCOPED_TRACE("peer notifies before the owner closes");
      TSslPeer peer("python3", {"-c", kFirstNotifyingServer, Files->Server.Cert, Files->Server.Key, version,
                                std::to_string(small.size())});
      TClient c;
      ASSERT_TRUE(c.ConnectTo(peer));
      EXPECT_EQ(c.S.SendStr(small), static_cast<int>(small.size()));
      ASSERT_TRUE(peer.WaitForOutput("NOTIFY SENT AFTER"));
      ASSERT_TRUE(WaitUntil([&] { return c.S.SslState() == sslStatePeerClosed; }))
          << "the peer's close notification never reached the engine\n" << c.S.SslEngineState();
      c.S.Close();
      ASSERT_TRUE(WaitUntil([&] { return c.ClosedError >= 0; })) << c.S.SslEngineState() << "\n" << c.TailText();
      ASSERT_TRUE(WaitUntil([&] { return !ReceivedLine(peer.Output(), 0).empty(); })) << peer.Output();
      EXPECT_EQ(ReceivedLine(peer.Output(), 0),
                "RECEIVED " + std::to_string(small.size()) + " " + Sha256Hex(small) + " notify")
          << Joined(c.Events) << "\n" << c.TailText();
      const std::vector<std::string> want = {"connected:0", "handshake:0", "shutdown:one:0", "closed:0"};
      EXPECT_EQ(c.Events, want);
      EXPECT_TRUE(peer.WaitForExit()) << peer.Output();
    }
  }
}

TEST_F(SslSocketTest, PeerThatNotifiesAndClosesAtOnceEndsTheSessionCleanly) {
  // The peer sends its close notification and closes the connection without waiting for ours, as
  // TLS allows the side that closes first. Ours can then no longer be written; the session still ended
  // well when the peer had read all we sent: shutdown complete 0, session closed 0. When it dropped data
  // of ours unread, the reset is reported. Once in the middle of a large send being closed (the peer's
  // close with our data unread resets the connection), once with the owner idle after a send the peer
  // read whole, once with the owner idle after a send the peer read only in part.
  std::string data;
  for (int i = 0; data.size() < (8u << 20); ++i) data += "chunk " + std::to_string(i) + " to a peer that leaves\n";
  data.resize(8u << 20);
  const std::string small = data.substr(0, 300 << 10);
  const std::vector<std::string> clean = {"connected:0", "handshake:0", "shutdown:one:0", "closed:0"};
  const std::vector<std::string> droppedClosing = {"connected:0", "handshake:0", "shutdown:one:10054", "closed:10054"};
  const std::vector<std::string> droppedIdle = {"connected:0", "handshake:0", "closed:10054"};
  for (const char* version : {"1.2", "1.3"}) {
    SCOPED_TRACE(version);
    {
      SCOPED_TRACE("peer notifies and closes during a closing send");
      TSslPeer peer("python3",
                    {"-c", kFirstNotifyingServer, Files->Server.Cert, Files->Server.Key, version, "204800", "close"});
      TClient c;
      ASSERT_TRUE(c.ConnectTo(peer));
      ASSERT_TRUE(c.SendAndClose(data.data(), data.size())) << peer.Output();
      EXPECT_TRUE(peer.WaitForOutput("CLOSED AFTER"));  // printed after it closed: we may hear of it first
      EXPECT_EQ(c.Events, droppedClosing) << c.TailText();
      EXPECT_TRUE(peer.WaitForExit()) << peer.Output();
    }
    for (const size_t sent : {small.size(), data.size()}) {
      SCOPED_TRACE("peer notifies and closes after reading 300 KB of " + std::to_string(sent) + ", the owner idle");
      TSslPeer peer("python3", {"-c", kFirstNotifyingServer, Files->Server.Cert, Files->Server.Key, version,
                                std::to_string(small.size()), "close"});
      TClient c;
      ASSERT_TRUE(c.ConnectTo(peer));
      EXPECT_EQ(c.S.Send(data.data(), static_cast<int>(sent)), static_cast<int>(sent));
      ASSERT_TRUE(WaitUntil([&] { return c.ClosedError >= 0; }))
          << "no close reported after the peer's\n" << peer.Output() << "\n" << c.S.SslEngineState() << "\n" << c.TailText();
      EXPECT_TRUE(peer.WaitForOutput("CLOSED AFTER"));  // printed after it closed: we may hear of it first
      EXPECT_EQ(c.Events, sent == small.size() ? clean : droppedIdle) << c.TailText();
      EXPECT_TRUE(peer.WaitForExit()) << peer.Output();
    }
  }
}

TEST_F(SslSocketTest, RenegotiationsTheServerAsksForWhileWeSendComplete) {
  // A TLS 1.2 server asks three times for a new handshake while our send goes on (s_server's "r"
  // command; it prints our lines). Each handshake completes, once, our data goes on to its last byte,
  // the server's reaches us, and a close ends the session with our close notification.
  TSslPeer peer(RenegotiatingServer());
  TClient c;
  ASSERT_TRUE(c.ConnectTo(peer));
  TSteadySend send(c);
  ASSERT_TRUE(WaitFor("the server's first lines of ours", send.Until([&] { return Printed(peer, "line 1000 "); })));
  for (int asked = 1; asked <= 3; ++asked) {
    SCOPED_TRACE("renegotiation " + std::to_string(asked));
    peer.Write("r\n");
    ASSERT_TRUE(WaitFor("the handshake the server asked for", send.Until([&] { return c.HandshakesDone > asked; })))
        << c.S.SslEngineState() << "\n" << c.TailText() << "\n" << ServerNotes(peer.Output());
  }
  send.Finish();
  EXPECT_TRUE(peer.WaitForOutput(kRenegotiatedLastLine)) << c.S.SslEngineState() << "\n" << ServerNotes(peer.Output());
  EXPECT_EQ(c.HandshakesDone, 4) << "one handshake event for each handshake";
  EXPECT_EQ(c.HandshakeErrors, 0);
  EXPECT_EQ(c.S.SslHandshakeCount(), 4);
  EXPECT_FALSE(c.S.SslInRenegotiation());
  peer.Write("from the server after the new handshakes\n");
  EXPECT_TRUE(WaitFor("the server's line",
                      [&] { return c.Received.find("from the server after the new handshakes\n") != std::string::npos; }))
      << c.S.SslEngineState();
  c.S.Close();
  ASSERT_TRUE(WaitFor("the close", [&] { return c.ClosedError >= 0; })) << c.S.SslEngineState() << "\n" << c.TailText();
  EXPECT_EQ(c.ClosedError, 0);
  EXPECT_EQ(c.HandshakesDone, 4);
  EXPECT_TRUE(peer.WaitForOutput("DONE")) << "no close notification came to the server\n" << ServerNotes(peer.Output());
}

TEST_F(SslSocketTest, CloseOnceTheServerAskedForARenegotiationEndsTheSession) {
  // The owner closes as soon as the server's request for a new handshake has come in the middle of
  // our send: what it queued goes, and the session ends with our close notification and the closed
  // event.
  TSslPeer peer(RenegotiatingServer());
  TClient c;
  ASSERT_TRUE(c.ConnectTo(peer));
  TSteadySend send(c);
  ASSERT_TRUE(WaitFor("the server's first lines of ours", send.Until([&] { return Printed(peer, "line 1000 "); })));
  peer.Write("r\n");
  // On a loaded machine the whole new handshake may come and go between two looks: either will do.
  ASSERT_TRUE(WaitFor("the server's request for a new handshake",
                      send.Until([&] { return c.S.SslInRenegotiation() || c.HandshakesDone > 1; })))
      << c.S.SslEngineState() << "\n" << c.TailText() << "\n" << ServerNotes(peer.Output());
  send.Finish();
  c.S.Close();
  ASSERT_TRUE(WaitFor("the close", [&] { return c.ClosedError >= 0; }))
      << c.S.SslEngineState() << "\n" << c.TailText() << "\n" << ServerNotes(peer.Output());
  EXPECT_EQ(c.ClosedError, 0);
  EXPECT_EQ(c.HandshakeErrors, 0);
  EXPECT_TRUE(peer.WaitForOutput(kRenegotiatedLastLine)) << c.S.SslEngineState();
  EXPECT_TRUE(peer.WaitForOutput("DONE")) << "no close notification came to the server\n" << ServerNotes(peer.Output());
}

TEST_F(SslSocketTest, CloseInTheMiddleOfOurRenegotiationWaitsForItsEnd) {
  // Closed right after it began a new handshake, nothing queued: the close notification cannot go in
  // the middle of the handshake; it follows its end, and the session ends well.
  TSslPeer peer({"s_server", "-accept", "127.0.0.1:0", "-cert", Files->Server.Cert, "-key", Files->Server.Key,
                 "-tls1_2", "-client_renegotiation", "-naccept", "1"});
  TClient c;
  ASSERT_TRUE(c.ConnectTo(peer));
  c.S.SendStr("before the new handshake\n");
  ASSERT_TRUE(peer.WaitForOutput("before the new handshake"));
  ASSERT_TRUE(c.S.SslStartRenegotiation());
  c.S.Close();
  ASSERT_TRUE(WaitFor("the close", [&] { return c.ClosedError >= 0; })) << c.S.SslEngineState() << "\n" << c.TailText();
  EXPECT_EQ(c.HandshakesDone, 2);
  EXPECT_EQ(c.ShutdownError, 0);
  EXPECT_EQ(c.ClosedError, 0);
  EXPECT_TRUE(peer.WaitForOutput("DONE")) << "no close notification came to the server\n" << peer.Output();
}
