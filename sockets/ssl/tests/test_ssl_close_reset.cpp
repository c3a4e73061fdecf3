// A TLS peer that sends its close notification and resets the connection while our large send is
// under way, against python peers on 127.0.0.1 (TLS 1.2 and 1.3): what it sent before the reset
// reaches the owner, and a close that dropped data of ours is not reported as a clean one.
#include "sockets/NetSocket.h"
#include "sockets/tests/SocketTestPattern.h"
#include "support/PythonTlsServer.h"
#include "support/SslPeer.h"
#include "support/TestPki.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace ssltest;

namespace {

TTestPki* Pki = nullptr;
TCertFiles ServerFiles;

// A TLS server over memory BIOs (so that it can notify while our data still comes) at the TLS version
// given, for the given number of connections one after the other. For each it reads at least the next
// of the comma-separated byte counts of our data, sends that many bytes of the pattern and its close
// notification, and closes the connection: with "wait" once our kernel has acknowledged what it sent
// and more of our data has come (it stays unread and the kernel resets the connection), with "now" at
// once. Then it prints "CLOSED <connection> AFTER <bytes read>".
const std::string kNotifyThenClosePeer =
    std::string(kPythonTlsServer) + kPythonMemoryBioTls + kPythonPattern + R"PY(
import select, time
count, firsts, size, wait = int(sys.argv[4]), [int(x) for x in sys.argv[5].split(",")], int(sys.argv[6]), sys.argv[7] == "wait"
payload = pattern(size)

def serve(conn, first):
    peer = MemoryBioTls(conn)
    tls = peer.tls
    peer.handshake()
    n = 0
    while n < first:
        try:
            n += len(tls.read(262144))
            continue
        except ssl.SSLWantReadError:
            pass
        except ssl.SSLError:
            break
        peer.flush()
        if not peer.feed():
            break
    # What came is read first: the engine then sends its notification without meeting our data.
    while True:
        try:
            b = tls.read(262144)
        except ssl.SSLError:
            break
        if not b:
            break
        n += len(b)
    if payload:
        tls.write(payload)
    try:
        tls.unwrap()
    except ssl.SSLWantReadError:
        pass
    peer.flush()
    if wait:
        # A reset drops what our kernel still holds unsent: what we sent must be in the peer's kernel.
        deadline = time.time() + 30
        while peer.unacknowledged() > 0 and time.time() < deadline:
            time.sleep(0.005)
        select.select([conn], [], [], 30)
    conn.close()
    return n

for i in range(count):
    conn, _ = ls.accept()
    n = serve(conn, firsts[i % len(firsts)])
    print("CLOSED %d AFTER %d" % (i, n), flush=True)
)PY";

// Where an owner deletes its socket: in its close event, in the end of its shutdown, or in the data
// event once it has read the given number of bytes in all.
struct TDeleteIn {
  std::string Event;  // "closed", "shutdown" or "data"
  size_t AfterBytes = 0;
};

// One connection of the owner, with its events in order. An owner may delete its socket in an event.
struct TOwner {
  TSslContext Ctx;
  std::unique_ptr<TSslNetSocket> Socket = std::make_unique<TSslNetSocket>();
  TSslNetSocket& S = *Socket;  // not to be used once the owner deleted the socket
  std::vector<std::string> Events;
  std::string Received;
  std::string ReceivedAtClose;
  int HandshakesDone = 0;
  int ClosedError = -1;
  int TlsStateAtClose = -1;
  TDeleteIn DeleteIn;
  bool Deleted = false;

  TOwner() {
    S.SetSslContext(&Ctx);
    S.SslEnable = true;
    S.SetAddr("127.0.0.1");
    S.OnSslHandshakeDone = [this](TCustomNetSocket*, uint16_t e, TX509Base*, bool&) {
      Events.push_back("handshake:" + std::to_string(e));
      HandshakesDone += e == 0;
    };
    S.OnDataAvailable = [this](TCustomNetSocket* s, uint16_t) {
      char buf[4096];
      int n;
      while ((n = s->Receive(buf, sizeof buf)) > 0) Received.append(buf, static_cast<size_t>(n));
      if (DeleteIn.Event == "data" && Received.size() >= DeleteIn.AfterBytes) Delete();
    };
    S.OnSslShutDownComplete = [this](TCustomNetSocket*, bool bi, int e) {
      Events.push_back(std::string("shutdown:") + (bi ? "bi:" : "one:") + std::to_string(e));
      if (DeleteIn.Event == "shutdown") Delete();
    };
    S.OnSessionClosed = [this](TCustomNetSocket*, uint16_t e) {
      Events.push_back("closed:" + std::to_string(e));
      ClosedError = e;
      TlsStateAtClose = S.SslState();
      ReceivedAtClose = Received;
      if (DeleteIn.Event == "closed") Delete();
    };
  }
  // As an owner does in an event: nothing of the socket is touched afterwards.
  void Delete() {
    Deleted = true;
    Socket.reset();
  }
  ::testing::AssertionResult Connect(const std::string& port) {
    S.SetPort(port);
    S.Connect();
    if (!WaitUntil([&] { return HandshakesDone > 0 || ClosedError >= 0; }) || HandshakesDone != 1)
      return ::testing::AssertionFailure() << "no handshake: " << Joined();
    return ::testing::AssertionSuccess();
  }
  bool WaitForClose() { return WaitUntil([&] { return ClosedError >= 0; }); }
  std::string Joined() const {
    std::string t;
    for (const auto& e : Events) t += e + " ";
    return t;
  }
};

// The peer process with its port, serving one connection after the other.
struct TPeer {
  std::unique_ptr<TSslPeer> P;
  std::string Port;
  TPeer(const char* version, const std::vector<std::string>& firsts, size_t payload, const char* when) {
    std::string list;
    for (const auto& f : firsts) list += (list.empty() ? "" : ",") + f;
    P = std::make_unique<TSslPeer>(
        "python3", std::vector<std::string>{"-c", kNotifyThenClosePeer, ServerFiles.Cert, ServerFiles.Key, version,
                                            std::to_string(firsts.size()), list, std::to_string(payload), when});
    Port = P->WaitForAcceptPort();
  }
  // Waits for the peer's line saying it closed the given connection.
  ::testing::AssertionResult Closed(size_t i) {
    const std::string want = "CLOSED " + std::to_string(i) + " AFTER ";
    return P->WaitForOutput(want);
  }
};

class SslCloseResetTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    EnsureApp();
    Pki = new TTestPki();
    ServerFiles = Pki->Issue("server", "/CN=localhost", "DNS:localhost,IP:127.0.0.1");
  }
  static void TearDownTestSuite() {
    delete Pki;
    Pki = nullptr;
  }
};

const std::string& LargeData() {
  static const std::string data(8u << 20, 'o');
  return data;
}

}  // namespace

TEST_F(SslCloseResetTest, PeersLastBytesAndNotificationBeforeItsResetReachTheOwner) {
  // The peer sends 16 KB and its close notification and closes while our 8 MB send goes on, our data
  // unread: its kernel resets the connection. What it sent is in our kernel before the reset; the
  // owner must get all of it before it hears of the close, and the peer's notification among it ends
  // the peer's direction cleanly. Our own data was cut: the close carries the reset.
  const std::string payload = PatternBytes(16384);
  const std::vector<std::string> firsts = {"0", "4096", "65536", "262144", "1048576", "0", "16384", "524288"};
  for (const char* version : {"1.2", "1.3"}) {
    SCOPED_TRACE(version);
    TPeer peer(version, firsts, payload.size(), "wait");
    ASSERT_FALSE(peer.Port.empty()) << peer.P->Output();
    int whole = 0;
    for (size_t i = 0; i < firsts.size(); ++i) {
      SCOPED_TRACE("connection " + std::to_string(i) + ", the peer answers after " + firsts[i] + " bytes");
      TOwner o;
      ASSERT_TRUE(o.Connect(peer.Port)) << peer.P->Output();
      EXPECT_EQ(o.S.Send(LargeData().data(), static_cast<int>(LargeData().size())),
                static_cast<int>(LargeData().size()));
      ASSERT_TRUE(o.WaitForClose()) << "no close reported\n" << o.S.SslEngineState() << "\n" << peer.P->Output();
      EXPECT_TRUE(peer.Closed(i)) << peer.P->Output();
      EXPECT_EQ(o.ReceivedAtClose.size(), payload.size()) << o.Joined();
      EXPECT_TRUE(o.ReceivedAtClose == payload);
      EXPECT_EQ(o.TlsStateAtClose, sslStatePeerClosed) << "the peer's close notification was not taken";
      EXPECT_EQ(o.ClosedError, 10054) << o.Joined();
      EXPECT_EQ(o.Events.back(), "closed:10054");
      whole += o.ReceivedAtClose == payload;
    }
    std::printf("TLS %s: peer's bytes whole before the close in %d of %zu connections\n", version, whole,
                firsts.size());
  }
}

TEST_F(SslCloseResetTest, CloseAfterDataThePeerDroppedCarriesTheReset) {
  // The owner sends 8 MB and closes; the peer reads a part, sends its close notification and closes
  // with the rest unread, so that its kernel resets the connection. TLS lets the side that closes
  // first drop what it has not read, but the owner must be able to tell that from a whole delivery:
  // the shutdown and the close carry the reset. So does the close of an owner that had not closed.
  const std::vector<std::string> firsts = {"204800", "65536", "1048576", "204800", "0", "2097152"};
  const std::vector<std::string> dropped = {"shutdown:one:10054", "closed:10054"};
  for (const char* version : {"1.2", "1.3"}) {
    SCOPED_TRACE(version);
    TPeer peer(version, firsts, 0, "wait");
    ASSERT_FALSE(peer.Port.empty()) << peer.P->Output();
    int reported = 0;
    for (size_t i = 0; i < firsts.size(); ++i) {
      const bool closing = i % 3 != 2;
      SCOPED_TRACE("connection " + std::to_string(i) + ", the peer reads " + firsts[i] + " bytes, the owner " +
                   (closing ? "closes" : "does not close"));
      TOwner o;
      ASSERT_TRUE(o.Connect(peer.Port)) << peer.P->Output();
      EXPECT_EQ(o.S.Send(LargeData().data(), static_cast<int>(LargeData().size())),
                static_cast<int>(LargeData().size()));
      if (closing) o.S.Close();
      ASSERT_TRUE(o.WaitForClose()) << "no close reported\n" << o.S.SslEngineState() << "\n" << peer.P->Output();
      EXPECT_TRUE(peer.Closed(i)) << peer.P->Output();
      EXPECT_EQ(o.ClosedError, 10054) << o.Joined();
      if (closing) {
        ASSERT_GE(o.Events.size(), 2u);
        EXPECT_EQ(std::vector<std::string>(o.Events.end() - 2, o.Events.end()), dropped) << o.Joined();
      } else {
        EXPECT_EQ(o.Events.back(), "closed:10054") << o.Joined();
      }
      reported += o.ClosedError == 10054;
    }
    std::printf("TLS %s: dropped data reported in %d of %zu connections\n", version, reported, firsts.size());
  }
}

TEST_F(SslCloseResetTest, WholeDeliveryBeforeThePeersCloseStaysClean) {
  // The peer reads everything we sent, notifies and closes at once; our notification then meets a
  // reset. Nothing of ours was lost: the session ended well.
  const std::string small(300 << 10, 'w');
  const std::vector<std::string> firsts(4, std::to_string(small.size()));
  const std::vector<std::string> clean = {"handshake:0", "shutdown:one:0", "closed:0"};
  for (const char* version : {"1.2", "1.3"}) {
    SCOPED_TRACE(version);
    TPeer peer(version, firsts, 0, "now");
    ASSERT_FALSE(peer.Port.empty()) << peer.P->Output();
    for (size_t i = 0; i < firsts.size(); ++i) {
      SCOPED_TRACE("connection " + std::to_string(i));
      TOwner o;
      ASSERT_TRUE(o.Connect(peer.Port)) << peer.P->Output();
      EXPECT_EQ(o.S.Send(small.data(), static_cast<int>(small.size())), static_cast<int>(small.size()));
      ASSERT_TRUE(o.WaitForClose()) << "no close reported\n" << o.S.SslEngineState() << "\n" << peer.P->Output();
      EXPECT_TRUE(peer.Closed(i)) << peer.P->Output();
      EXPECT_EQ(o.Events, clean);
    }
  }
}

TEST_F(SslCloseResetTest, OwnerMayDeleteTheSocketInItsEvents) {
  // The peer sends 16 KB, its close notification and a reset while our 8 MB send goes on; the owner
  // deletes the socket in its close event, or in its data event at the first bytes or at the last, or,
  // having closed after its send, at the end of the shutdown: what the socket does after the event
  // must not touch the freed component (the sanitizer build reports any use).
  const std::string payload = PatternBytes(16384);
  const std::vector<TDeleteIn> places = {{"closed"}, {"data", 1}, {"data", payload.size()}, {"shutdown"}};
  std::vector<std::string> firsts;
  for (size_t i = 0; i < places.size(); ++i) firsts.insert(firsts.end(), {"0", "65536", "1048576"});
  for (const char* version : {"1.2", "1.3"}) {
    SCOPED_TRACE(version);
    TPeer peer(version, firsts, payload.size(), "wait");
    ASSERT_FALSE(peer.Port.empty()) << peer.P->Output();
    for (size_t i = 0; i < firsts.size(); ++i) {
      const TDeleteIn& place = places[i * places.size() / firsts.size()];
      SCOPED_TRACE("connection " + std::to_string(i) + ", the peer answers after " + firsts[i] +
                   " bytes, the owner deletes the socket in its " + place.Event + " event after " +
                   std::to_string(place.AfterBytes) + " bytes");
      TOwner o;
      o.DeleteIn = place;
      ASSERT_TRUE(o.Connect(peer.Port)) << peer.P->Output();
      EXPECT_EQ(o.S.Send(LargeData().data(), static_cast<int>(LargeData().size())),
                static_cast<int>(LargeData().size()));
      if (place.Event == "shutdown") o.S.Close();
      ASSERT_TRUE(WaitFor("the owner's deletion of its socket in an event", [&] { return o.Deleted; }))
          << o.Joined() << "\n" << o.S.SslEngineState() << "\n" << peer.P->Output();
      EXPECT_TRUE(peer.Closed(i)) << peer.P->Output();
      if (place.Event == "closed") EXPECT_EQ(o.ReceivedAtClose, payload) << o.Joined();
      else EXPECT_TRUE(payload.compare(0, o.Received.size(), o.Received) == 0);
    }
  }
}
