#include "sockets/SslLayer.h"

#include <sys/ioctl.h>

#include <cstdio>
#include <cstring>

#include "sockets/ssl/NetLibeay.h"
#include "sockets/ssl/NetSsleay.h"

using namespace Netlibeay;
using namespace Netssleay;

namespace {

// The layer's mode bits: partial writes, a write buffer that may move between retries, and
// automatic retry of reads interrupted by handshake records.
constexpr long kSslModeBits =
    SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER | SSL_MODE_AUTO_RETRY;

constexpr int kSslBufSize = 4096;   // plaintext chunks and each half of the BIO pair
constexpr int kRecvBufSize = 8192;  // encrypted bytes read from the socket at once

int GSslLineCounter = 0;

unsigned EventBit(TSslEvent e) {
  switch (e) {
    case sslFdRead: return FD_READ;
    case sslFdWrite: return FD_WRITE;
    case sslFdClose: return FD_CLOSE;
  }
  return 0;
}

const char* EventName(TSslEvent e) {
  switch (e) {
    case sslFdRead: return "sslFdRead ";
    case sslFdWrite: return "sslFdWrite ";
    case sslFdClose: return "sslFdClose ";
  }
  return "";
}

std::string Hex8Ptr(const void* p) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.8lX", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(p)));
  return buf;
}

std::string DataDump(const void* data, int len) {
  std::string out;
  const unsigned char* p = static_cast<const unsigned char*>(data);
  for (int i = 0; i < len; ++i) {
    if (p[i] >= 0x20 && p[i] <= 0x7E) {
      out += static_cast<char>(p[i]);
    } else {
      char b[8];
      std::snprintf(b, sizeof b, "$%02X ", p[i]);
      out += b;
    }
  }
  return out;
}

}  // namespace

TCustomSslNetSocket::TCustomSslNetSocket()
    : X509Class([](::X509* cert) { return std::make_unique<TX509Base>(cert); }) {}

TCustomSslNetSocket::~TCustomSslNetSocket() {
  if (FSslContext) FSslContext->RemoveUser(this);
  // Nothing goes out on the wire for TLS from here: the connection is closed by the core.
  FInCallback = 0;
  FSslState = 0;
  ResetSSL();
  SslEnable = false;
  FSslBufList.clear();
  if (FSslInitialized) {
    UnloadSsl();
    FSslInitialized = false;
  }
}

void TCustomSslNetSocket::SetSslContext(TSslContext* ctx) {
  if (ctx == FSslContext) return;
  if (FSslContext) FSslContext->RemoveUser(this);
  FSslContext = ctx;
  if (FSslContext) FSslContext->AddUser(this);
}

void TCustomSslNetSocket::SslContextFreed(TSslContext* ctx) {
  if (FSslContext == ctx) FSslContext = nullptr;
}

std::string TCustomSslNetSocket::Addr8() const { return Hex8Ptr(this); }

void TCustomSslNetSocket::SetAcceptableHostsList(const std::string& list) {
  SslAcceptableHosts.clear();
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(';', start);
    if (end == std::string::npos) end = list.size();
    std::string piece = list.substr(start, end - start);
    size_t a = piece.find_first_not_of(" \t\r\n");
    size_t b = piece.find_last_not_of(" \t\r\n");
    if (a != std::string::npos) SslAcceptableHosts.push_back(piece.substr(a, b - a + 1));
    start = end + 1;
  }
}

void TCustomSslNetSocket::InitializeSsl() {
  if (!FSslInitialized) {
    LoadSsl();
    FSslInitialized = true;
  }
}

void TCustomSslNetSocket::FinalizeSsl() {
  ResetSSL();
  if (FSslInitialized) {
    UnloadSsl();
    FSslInitialized = false;
  }
}

bool TCustomSslNetSocket::SslSessionReused() {
  return SslEnable && FSsl && SessionReused(FSsl);
}

bool TCustomSslNetSocket::SslRenegotiatePending() {
  return SslEnable && FSsl && f_SSL_renegotiate_pending(FSsl) == 1;
}

// --- diagnostics of BIO calls ----------------------------------------------------------------------------

std::string TCustomSslNetSocket::BioName(BIO* b) const {
  if (!b) return "bio";
  if (b == FSslbio) return "sslbio";
  if (b == FIBio) return "ibio";
  if (b == FNBio) return "nbio";
  return "bio";
}

int TCustomSslNetSocket::LoggedBioIo(BIO* b, void* data, int len, bool write) {
  if (!b) return 0;
  HandleSslError();
  int r = write ? f_BIO_write(b, data, len) : f_BIO_read(b, data, len);
  const char* name = write ? "BIO_write" : "BIO_read";
  if (CheckLogOptions(loSslInfo)) {
    char buf[160];
    std::snprintf(buf, sizeof buf, " %s(%s, 0x%lx, %d) = %d   [%d]", name, BioName(b).c_str(),
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(data)), len, r, ++GSslLineCounter);
    DebugLog(loSslInfo, Addr8() + buf);
  } else if (CheckLogOptions(loSslDump) && r > 0) {
    DebugLog(loSslDump, Addr8() + " " + name + "(" + BioName(b) + ") Data:" + DataDump(data, r));
  }
  return r;
}

int TCustomSslNetSocket::my_BIO_read(BIO* b, void* data, int len) { return LoggedBioIo(b, data, len, false); }

int TCustomSslNetSocket::my_BIO_write(BIO* b, const void* data, int len) {
  return LoggedBioIo(b, const_cast<void*>(data), len, true);
}

long TCustomSslNetSocket::my_BIO_ctrl(BIO* b, int cmd, long larg, void* parg) {
  if (!b) return 0;
  long r = f_BIO_ctrl(b, cmd, larg, parg);
  if (CheckLogOptions(loSslInfo)) {
    std::string c = cmd == BIO_CTRL_PENDING ? "BIO_CTRL_PENDING"
                    : cmd == BIO_CTRL_FLUSH ? "BIO_CTRL_FLUSH"
                    : cmd == BIO_C_DO_STATE_MACHINE ? "BIO_C_DO_STATE_MACHINE"
                    : cmd == BIO_C_SET_SSL ? "BIO_C_SET_SSL"
                                           : std::to_string(cmd);
    std::string l = (cmd == BIO_C_SET_SSL && larg == BIO_NOCLOSE) ? "BIO_NOCLOSE" : std::to_string(larg);
    char buf[200];
    std::snprintf(buf, sizeof buf, " BIO_ctrl(%s, %s, %s, 0x%lx) = %ld   [%d]", BioName(b).c_str(), c.c_str(),
                  l.c_str(), static_cast<unsigned long>(reinterpret_cast<uintptr_t>(parg)), r, ++GSslLineCounter);
    DebugLog(loSslInfo, Addr8() + buf);
  }
  return r;
}

int TCustomSslNetSocket::LoggedBioQuery(BIO* b, size_t (*query)(BIO*), const char* name) {
  if (!b) return 0;
  int r = static_cast<int>(query(b));
  if (CheckLogOptions(loSslInfo)) {
    char buf[120];
    std::snprintf(buf, sizeof buf, " %s(%s) = %d   [%d]", name, BioName(b).c_str(), r, ++GSslLineCounter);
    DebugLog(loSslInfo, Addr8() + buf);
  }
  return r;
}

int TCustomSslNetSocket::my_BIO_ctrl_pending(BIO* b) {
  return LoggedBioQuery(b, f_BIO_ctrl_pending, "BIO_ctrl_pending");
}

int TCustomSslNetSocket::my_BIO_ctrl_get_write_guarantee(BIO* b) {
  return LoggedBioQuery(b, f_BIO_ctrl_get_write_guarantee, "BIO_ctrl_get_write_guarantee");
}

int TCustomSslNetSocket::my_BIO_ctrl_get_read_request(BIO* b) {
  return LoggedBioQuery(b, f_BIO_ctrl_get_read_request, "BIO_ctrl_get_read_request");
}

bool TCustomSslNetSocket::my_BIO_should_retry(BIO* b) {
  if (!b) return false;
  bool r = BIO_should_retry(b);
  if (CheckLogOptions(loSslInfo)) {
    char buf[120];
    std::snprintf(buf, sizeof buf, " BIO_should_retry(%s) = %d   [%d]", BioName(b).c_str(), r ? 1 : 0,
                  ++GSslLineCounter);
    DebugLog(loSslInfo, Addr8() + buf);
  }
  return r;
}

void TCustomSslNetSocket::HandleSslError() {
  if (!f_ERR_peek_error) return;
  FLastSslError = static_cast<std::uint32_t>(f_ERR_peek_error());
  if (FLastSslError == 0) return;
  if (CheckLogOptions(loSslErr)) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "  %d  [%d] ", static_cast<int>(FHSocket), ++GSslLineCounter);
    DebugLog(loSslErr, Addr8() + buf + LastOpenSslErrMsg(true));
  } else {
    f_ERR_clear_error();
  }
}

void TCustomSslNetSocket::SetNetworkError(int error) {
  FNetworkError = error;
  LastError = error;
  NetSocket_WSASetLastError(error);
  // A peer that sent its close notification may close at once, without waiting for ours (TLS allows
  // it to the side that closes first): the reset or broken pipe our next write meets then ends a
  // session the peer had ended well, unless data of ours was still on its way: the peer dropped it
  // unread, and the owner must not take that for a whole delivery.
  if (error == WSAECONNRESET && !FPeerEndedFirst && !FOwnerDataLost) {
    FOwnerDataLost = OwnerDataUnsent();
    if (!FOwnerDataLost) FPeerEndedFirst = PeerCloseNotifyReceived();
  }
}

bool TCustomSslNetSocket::OwnerDataUnsent() {
  if (!FSslBufList.empty()) return true;
  if (FOwnerCipherEnd == 0) return false;
  const int64_t acknowledged = AcknowledgedByteCount();
  return acknowledged < 0 || FTlsStreamStart + FOwnerCipherEnd > acknowledged;
}

bool TCustomSslNetSocket::PullWaitingBytes() {
  // After a reset the kernel still gives what came before it.
  char buf[kRecvBufSize];
  bool pulled = false;
  while (FSsl && FHSocket != INVALID_SOCKET) {
    int room = my_BIO_ctrl_get_write_guarantee(FNBio);
    if (room > kRecvBufSize) room = kRecvBufSize;
    if (room <= 0) break;
    const int n = TCustomSocksNetSocket::DoRecv(buf, room, 0);
    if (n <= 0) break;
    my_BIO_write(FNBio, buf, n);
    pulled = true;
  }
  return pulled;
}

bool TCustomSslNetSocket::DeliverWhatTheBrokenConnectionHolds() {
  // A shutdown under way reads no more for the owner.
  if (FShutDownHow != 0 || !FSsl) return true;
  auto alive = AliveToken();
  const uint64_t gen = Generation();
  auto gone = [&] { return alive.expired() || gen != Generation(); };
  for (;;) {
    const bool pulled = PullWaitingBytes();
    char dummy[1];
    my_BIO_read(FSslbio, dummy, 0);  // decrypts the next record
    f_ERR_clear_error();
    RaisePendingCallbackException();
    if (gone()) return false;
    if (!FSsl) return true;
    const int waiting = my_BIO_ctrl_pending(FSslbio);
    if (waiting <= 0) {
      if (pulled) continue;  // a record only part of which the pair could take
      break;
    }
    if (!TriggerDataAvailable(0)) break;  // nobody reads: it goes with the close
    if (gone()) return false;
    if (!FSsl || FShutDownHow != 0) return true;
    if (my_BIO_ctrl_pending(FSslbio) >= waiting) break;  // the owner takes no more
  }
  NetSocket_WSASetLastError(FNetworkError);
  return true;
}

bool TCustomSslNetSocket::PeerCloseNotifyReceived() {
  auto received = [this] { return FSsl && (f_SSL_get_shutdown(FSsl) & SSL_RECEIVED_SHUTDOWN) != 0; };
  // The notification may still wait in the socket when a write meets the reset. Decrypted data
  // before it stops the engine until the owner has read it (see DeliverWhatTheBrokenConnectionHolds).
  while (FSsl && !received()) {
    const bool pulled = PullWaitingBytes();
    char dummy[1];
    my_BIO_read(FSslbio, dummy, 0);
    f_ERR_clear_error();
    if (!pulled) break;
  }
  NetSocket_WSASetLastError(FNetworkError);
  if (!received()) return false;
  if (FSslState < sslStatePeerClosed) FSslState = sslStatePeerClosed;
  return true;
}

// --- event engine ----------------------------------------------------------------------------------------

std::string TCustomSslNetSocket::SslEngineState() {
  unsigned long waiting = 0;
  if (FHSocket != INVALID_SOCKET) NetSocket_ioctlsocket(FHSocket, FIONREAD, &waiting);
  return "SslState=" + std::to_string(FSsl ? f_SSL_state(FSsl) : -1) + " TlsState=" + std::to_string(FSslState) +
         " MayFD_Read=" + std::to_string(FMayFD_Read) + " MayDoRecv=" + std::to_string(FMayDoRecv) +
         " MayFD_Write=" + std::to_string(FMayFD_Write) + " MaySslTryToSend=" + std::to_string(FMaySslTryToSend) +
         " ReadHeld=" + std::to_string(FSocketReadHeld) + " bSslAllSent=" + std::to_string(bSslAllSent) +
         " bAllSent=" + std::to_string(FAllSent) + " Pending=" + std::to_string(FPendingSslEvents) +
         " WritePending=" + std::to_string(FSslBioWritePendingBytes) + " Shutdown=" + std::to_string(FShutDownHow) +
         " NetErr=" + std::to_string(FNetworkError) + " nbio=" + std::to_string(FNBio ? f_BIO_ctrl_pending(FNBio) : 0) +
         " sslbio=" + std::to_string(FSslbio ? f_BIO_ctrl_pending(FSslbio) : 0) + " socket=" + std::to_string(waiting) +
         " queued=" + std::to_string(FSslBufList.size()) + " core=" + std::to_string(BufferedByteCount()) +
         " paused=" + std::to_string(FPaused);
}

bool TCustomSslNetSocket::TriggerEvent(TSslEvent event, uint16_t error) {
  if (!SslEnable) return false;
  unsigned bit = 1u << event;
  if (FPendingSslEvents & bit) return false;
  if (!PostMessageToSelf(WM_SSL_ASYNCSELECT, FHSocket,
                         static_cast<intptr_t>(EventBit(event)) | (static_cast<intptr_t>(error) << 16)))
    return false;
  FPendingSslEvents |= bit;
  if (CheckLogOptions(loSslInfo))
    DebugLog(loSslInfo, Addr8() + " TriggerEvent " + EventName(event) + std::to_string(FHSocket));
  return true;
}

void TCustomSslNetSocket::TriggerEvents() {
  if (!SslEnable || !FSsl) return;
  const int state = f_SSL_state(FSsl);
  if (CheckLogOptions(loSslInfo)) {
    std::string st = (state & (SSL_ST_CONNECT_OLD | SSL_ST_ACCEPT_OLD)) ? "SSL_ST_INIT "
                     : state == SSL_ST_OK_OLD                            ? "SSL_ST_OK "
                                                                         : Hex8Ptr(reinterpret_cast<void*>(static_cast<uintptr_t>(state))) + " ";
    DebugLog(loSslInfo, Addr8() + " TriggerEvents " + std::to_string(FHSocket) + " SslState: " + st +
                            " // MayFD_Read=" + std::to_string(FMayFD_Read) + " MayDoRecv=" +
                            std::to_string(FMayDoRecv) + " MayFD_Write=" + std::to_string(FMayFD_Write) +
                            " MaySslTryToSend=" + std::to_string(FMaySslTryToSend) + " bSslAllSent=" +
                            std::to_string(bSslAllSent) + " bAllSent=" + std::to_string(FAllSent));
  }
  auto alive = AliveToken();
  if (FHandshakeDone) {
    FHandshakeDone = false;
    TriggerSslHandshakeDone(0);
    if (alive.expired()) return;
    FInRenegotiation = false;
    if (!FSsl) return;
  }
  const bool ok = f_SSL_state(FSsl) == SSL_ST_OK_OLD;
  if (my_BIO_ctrl_pending(FNBio) <= 0) {
    if (!FAllSent && ok && my_BIO_ctrl_get_write_guarantee(FSslbio) > 0 && FMayFD_Write) {
      if (TriggerEvent(sslFdWrite, 0)) FMayFD_Write = false;
    } else if (!FSslBufList.empty() && ok && FMaySslTryToSend) {
      FMaySslTryToSend = false;
      TryToSend();
      if (alive.expired() || !FSsl) return;
    } else if (FAllSent && FSslBufList.empty() && FSendPending && ok) {
      FSendPending = false;
      TriggerDataSent(0);
      if (alive.expired() || !FSsl) return;
    } else if (FShutdownAfterSend && FSslBufList.empty() && ok && !FInHandshake) {
      // The handshake a close waited for is done, and nothing is queued: the notification goes now.
      FShutdownAfterSend = false;
      InternalShutdown(FSslShutDownDirection);
      return;
    }
  } else if (FMayFD_Write) {
    if (TriggerEvent(sslFdWrite, 0)) FMayFD_Write = false;
  }
  const bool okNow = FSsl && f_SSL_state(FSsl) == SSL_ST_OK_OLD;
  const int decrypted = FSsl ? my_BIO_ctrl_pending(FSslbio) : 0;
  if (!okNow || decrypted <= 0) {
    if (FNBio && my_BIO_ctrl_get_write_guarantee(FNBio) > 0 && (FMayFD_Read || FSocketReadHeld)) {
      if (TriggerEvent(sslFdRead, 0)) FMayFD_Read = false;
    }
  } else if (FMayDoRecv) {
    if (TriggerEvent(sslFdRead, 0)) FMayDoRecv = false;
  }
  if (((FCloseCalled && FShutDownHow == 0 && !FShutdownAfterSend) || (FShutDownHow == 2 && !FSslBiShutdownFlag)) &&
      okNow && decrypted <= 0)
    TriggerEvent(sslFdClose, 0);
}

void TCustomSslNetSocket::WndProc(TNetMessage& msg) {
  switch (msg.Msg) {
    case WM_SSL_ASYNCSELECT: {
      if (msg.WParam != FHSocket || msg.Generation != Generation()) {
        // A stale event of an earlier connection: only its pending mark goes.
        return;
      }
      const uint16_t bits = static_cast<uint16_t>(msg.LParam & 0xFFFF);
      const uint16_t error = static_cast<uint16_t>((msg.LParam >> 16) & 0xFFFF);
      if (CheckLogOptions(loSslInfo)) {
        std::string line = "SslAsyncSelect " + std::to_string(FHSocket) + ", " + std::to_string(error);
        if (bits & FD_READ) line += " FD_READ";
        if (bits & FD_WRITE) line += " FD_WRITE";
        if (bits & FD_CLOSE) line += " FD_CLOSE";
        DebugLog(loSslInfo, line);
      }
      // The owner may delete the component in an event raised from here: the mark goes only while
      // the component lives.
      struct TPosted {
        bool& F;
        std::weak_ptr<int> Alive;
        TPosted(bool& f, std::weak_ptr<int> alive) : F(f), Alive(std::move(alive)) { F = true; }
        ~TPosted() {
          if (!Alive.expired()) F = false;
        }
      } posted(FInPostedEvent, AliveToken());
      if (bits & FD_READ) {
        FPendingSslEvents &= ~(1u << sslFdRead);
        Do_SSL_FD_READ(error);
      } else if (bits & FD_WRITE) {
        FPendingSslEvents &= ~(1u << sslFdWrite);
        Do_FD_WRITE(error);
      } else if (bits & FD_CLOSE) {
        FPendingSslEvents &= ~(1u << sslFdClose);
        Do_FD_CLOSE(error);
      }
      return;
    }
    case WM_RESET_SSL:
      ResetSSL();
      return;
    case WM_BI_SSL_SHUTDOWN:
      if (SslEnable && FSsl && FShutDownHow == 0) {
        FSslBiShutdownFlag = true;
        InternalShutdown(0);
      }
      return;
    case WM_TRIGGER_SSLSHUTDOWNCOMPLETED:
      TriggerSslShutDownComplete(static_cast<int>(msg.LParam));
      return;
    case WM_TRIGGER_DATASENT:
      TriggerDataSent(0);
      return;
    default:
      TCustomSocksNetSocket::WndProc(msg);
      return;
  }
}

void TCustomSslNetSocket::ThreadAttach() {
  TCustomSocksNetSocket::ThreadAttach();
  unsigned pending = FPendingSslEvents;
  FPendingSslEvents = 0;
  for (TSslEvent e : {sslFdRead, sslFdWrite, sslFdClose})
    if (pending & (1u << e)) TriggerEvent(e, 0);
}

void TCustomSslNetSocket::Do_SSL_FD_READ(uint16_t error) {
  // The socket's own read notice stays off until this layer reads the socket (the core re-arms it
  // on each recv), so read, connect and close notices need no masking here.
  Do_FD_READ(error);
}

// --- handshake start -------------------------------------------------------------------------------------

void TCustomSslNetSocket::HandshakeStartFailed(const std::exception& e) {
  SslEnable = false;
  ResetSSL();
  TCustomSocksNetSocket::InternalClose(false, WSAECONNABORTED);
  HandleBackGroundException(e);
}

void TCustomSslNetSocket::TriggerSessionConnected(uint16_t error) {
  auto alive = AliveToken();
  TCustomSocksNetSocket::TriggerSessionConnected(error);
  if (alive.expired()) return;
  if (SslEnable && error == 0 && !FSsl) {
    try {
      if (SslMode == sslModeServer) AcceptSslHandshake();
      else StartSslHandshake();
    } catch (const std::exception& e) {
      HandshakeStartFailed(e);
    }
  }
}

void TCustomSslNetSocket::Dup(TSocket newHSocket) {
  if (CheckLogOptions(loSslInfo))
    DebugLog(loSslInfo, Addr8() + " Dup accepting accepted socket = " + std::to_string(newHSocket));
  TCustomSocksNetSocket::Dup(newHSocket);
  ChangeState(wsConnected);
  if (!SslEnable) return;
  try {
    if (SslMode == sslModeClient) StartSslHandshake();
    else if (SslMode == sslModeServer) AcceptSslHandshake();
    else throw std::runtime_error("Invalid SslMode");
  } catch (const std::exception& e) {
    HandshakeStartFailed(e);
  }
}

void TCustomSslNetSocket::DupConnected() {
  if (CheckLogOptions(loSslInfo)) DebugLog(loSslInfo, Addr8() + " DupConnected");
}

void TCustomSslNetSocket::Do_FD_ACCEPT(uint16_t error) {
  if (CheckLogOptions(loSslInfo)) DebugLog(loSslInfo, Addr8() + " Do_FD_ACCEPT " + std::to_string(FHSocket));
  TCustomSocksNetSocket::Do_FD_ACCEPT(error);
}

TSocket TCustomSslNetSocket::Accept() {
  if (CheckLogOptions(loSslInfo)) DebugLog(loSslInfo, Addr8() + " Accept " + std::to_string(FHSocket));
  return TCustomSocksNetSocket::Accept();
}

void TCustomSslNetSocket::Listen() {
  if (CheckLogOptions(loSslInfo)) DebugLog(loSslInfo, Addr8() + " Listening");
  TCustomSocksNetSocket::Listen();
}

void TCustomSslNetSocket::Do_FD_CONNECT(uint16_t error) {
  FCloseCalled = false;
  FShutdownAfterSend = false;
  FShutDownHow = 0;
  TCustomSocksNetSocket::Do_FD_CONNECT(error);
}

void TCustomSslNetSocket::StartSslHandshake() { BeginSslHandshake(true); }

void TCustomSslNetSocket::AcceptSslHandshake() { BeginSslHandshake(false); }

void TCustomSslNetSocket::BeginSslHandshake(bool client) {
  if (CheckLogOptions(loSslInfo))
    DebugLog(loSslInfo, Addr8() + (client ? " StartSslHandshake " : " AcceptSslHandshake ") + std::to_string(FHSocket));
  if (!SslEnable) return;
  if (!FSslContext) throw std::runtime_error("SSL requires a context object");
  if (FSsl) ResetSSL();
  FSslState = sslStateStarting;
  SslMode = client ? sslModeClient : sslModeServer;
  try {
    if (!FSslContext->GetIsCtxInitialized()) FSslContext->InitContext();
    InitSSLConnection(client, FSslContext->SslCtx());
  } catch (const std::exception& e) {
    FSslState = sslStateNone;
    if (CheckLogOptions(loSslInfo))
      DebugLog(loSslInfo, Addr8() + " Fatal error SSL handshake " + std::to_string(FHSocket) + " " + e.what());
    throw;
  }
}

void TCustomSslNetSocket::InitSSLConnection(bool clientMode, SSL_CTX* ctx) {
  if (!SslEnable) return;
  if (CheckLogOptions(loSslInfo)) DebugLog(loSslInfo, Addr8() + " InitSSLConnection " + std::to_string(FHSocket));
  FSslCertChain.Clear();
  FSslShutDownDirection = 1;
  FShutDownHow = 0;
  FNetworkError = 0;
  FLastSslError = 0;
  FSslBiShutdownFlag = false;
  FCloseCalled = false;
  FShutdownAfterSend = false;
  FCloseNotifyOwed = false;
  FPeerEndedFirst = false;
  FOwnerDataLost = false;
  FTlsStreamStart = SentByteCount() + BufferedByteCount();
  FCipherTaken = 0;
  FOwnerCipherEnd = 0;
  FPendingSslEvents = 0;
  FMayFD_Read = FMayFD_Write = FMayDoRecv = FMaySslTryToSend = true;
  FSocketReadHeld = false;
  FSocketCloseSeen = false;
  try {
    InitializeSsl();
    {
      std::lock_guard<std::recursive_mutex> guard(SslCritSect());
      FSsl = f_SSL_new(ctx);
    }
    if (!FSsl) {
      FLastSslError = static_cast<std::uint32_t>(f_ERR_peek_error());
      throw std::runtime_error("\r\nError on creating the Ssl object\r\n" + LastOpenSslErrMsg(true) + "\r\n");
    }
    FSslbio = f_BIO_new(f_BIO_f_ssl());
    if (f_BIO_new_bio_pair(&FIBio, kSslBufSize, &FNBio, kSslBufSize) != 1) FIBio = FNBio = nullptr;
    if (!FSslbio || !FIBio || !FNBio) {
      FLastSslError = static_cast<std::uint32_t>(f_ERR_peek_error());
      throw std::runtime_error("\r\nCreating BIOs failed\r\n" + LastOpenSslErrMsg(true) + "\r\n");
    }
    f_SSL_set_mode(FSsl, f_SSL_get_mode(FSsl) | kSslModeBits);
    if (!SslSetCallbackTarget(FSsl, this)) {
      FLastSslError = static_cast<std::uint32_t>(f_ERR_peek_error());
      throw std::runtime_error("\r\nSSL_set_ex_data failed\r\n" + LastOpenSslErrMsg(true) + "\r\n");
    }
    if (clientMode) {
      if (FSslContext && FSslContext->SslCertFile().empty() && OnSslCliCertRequest &&
          !f_SSL_CTX_get_client_cert_cb(ctx))
        f_SSL_CTX_set_client_cert_cb(ctx, &SslClientCertCallBack);
      SSL_SESSION* session = nullptr;
      bool freeSession = true;
      if (OnSslCliGetSession) OnSslCliGetSession(this, session, freeSession);
      if (session && f_SSL_set_session(FSsl, session) == 1) {
        if (CheckLogOptions(loSslInfo)) DebugLog(loSslInfo, Addr8() + " Reuse session [" + Hex8Ptr(session) + "]");
        if (freeSession) f_SSL_SESSION_free(session);
      } else {
        f_SSL_set_session(FSsl, nullptr);
      }
      f_SSL_set_connect_state(FSsl);
    } else {
      if (OnSslSetSessionIDContext) {
        std::string sid;
        OnSslSetSessionIDContext(this, sid);
        if (!sid.empty()) {
          sid = sid.substr(0, SSL_MAX_SID_CTX_LENGTH);
          if (f_SSL_set_session_id_context(FSsl, reinterpret_cast<const unsigned char*>(sid.data()),
                                           static_cast<unsigned>(sid.size())) == 1) {
            if (CheckLogOptions(loSslInfo)) DebugLog(loSslInfo, Addr8() + " SessionIDContext: " + sid);
          } else if (CheckLogOptions(loSslErr)) {
            DebugLog(loSslErr, Addr8() + " ssl_set_session_id_context failed");
          }
        }
      }
      f_SSL_set_accept_state(FSsl);
    }
    f_SSL_set_bio(FSsl, FIBio, FIBio);
    FIBioOwnedBySsl = true;
    f_SSL_set_info_callback(FSsl, &SslInfoCallBack);
    f_ERR_clear_error();
    my_BIO_ctrl(FSslbio, BIO_C_SET_SSL, BIO_NOCLOSE, FSsl);
    char dummy[1];
    if (my_BIO_read(FSslbio, dummy, 0) < 0 && !my_BIO_should_retry(FSslbio)) HandleSslError();
    RaisePendingCallbackException();
    if (FState == wsConnected) {
      TriggerEvent(sslFdRead, 0);
      TriggerEvent(sslFdWrite, 0);
    }
    LastError = -1;
    FSslState = sslStateSetUp;
  } catch (...) {
    FSslState = sslStateFailed;
    int saved = FInCallback;
    FInCallback = 0;
    ResetSSL();
    FInCallback = saved;
    FSslState = sslStateFailed;
    throw;
  }
}

void TCustomSslNetSocket::ResetSSL() {
  if (FInCallback > 0) {
    FResetAfterCallback = true;
    return;
  }
  if (FSslState == sslStateStarting) return;
  if (FSsl && CheckLogOptions(loSslInfo)) DebugLog(loSslInfo, Addr8() + " ResetSslSession " + std::to_string(FHSocket));
  DeleteBufferedSslData();
  FSslVersion = "Unknown";
  FSslCipher = "Unknown";
  FSslTotalBits = FSslSecretBits = FSslVersNum = 0;
  FInHandshake = FHandshakeDone = FInRenegotiation = false;
  FNetworkError = 0;
  FSslState = 0;
  FHandshakeCount = 0;
  FSslBioWritePendingBytes = -1;
  FCloseNotifyOwed = false;
  FPeerEndedFirst = false;
  FOwnerDataLost = false;
  if (FSsl) f_SSL_set_shutdown(FSsl, SSL_SENT_SHUTDOWN);
  // The filter BIO holds a reference on the internal half (its next BIO): both go with it.
  if (FSslbio) f_BIO_free_all(FSslbio);
  FSslbio = nullptr;
  if (FNBio) f_BIO_free(FNBio);
  FNBio = nullptr;
  if (FSsl) {
    SslSetCallbackTarget(FSsl, nullptr);
    f_SSL_free(FSsl);  // frees the internal half once it was given to it
  }
  if (FIBio && !FIBioOwnedBySsl) f_BIO_free(FIBio);
  FIBioOwnedBySsl = false;
  FIBio = nullptr;
  FSsl = nullptr;
}

void TCustomSslNetSocket::ResetSslDelayed() { PostMessageToSelf(WM_RESET_SSL); }

void TCustomSslNetSocket::DeleteBufferedSslData() {
  FSslBufList.clear();
  bSslAllSent = true;
}

void TCustomSslNetSocket::AssignDefaultValue() {
  ResetSSL();
  TCustomSocksNetSocket::AssignDefaultValue();
}

// --- receiving -------------------------------------------------------------------------------------------

void TCustomSslNetSocket::Do_FD_READ(uint16_t error) {
  if (!SslActive()) {
    TCustomSocksNetSocket::Do_FD_READ(error);
    return;
  }
  if (CheckLogOptions(loSslInfo)) DebugLog(loSslInfo, Addr8() + " TCustomSslNetSocket.Do_FD_READ " + std::to_string(FHSocket));
  if (FNetworkError != 0 || !FSsl) return;
  auto alive = AliveToken();
  // Reading goes on while a write waits for its retry: OpenSSL allows it, and a peer that answers
  // while we send would otherwise wait for us forever.
  if (f_SSL_state(FSsl) == SSL_ST_OK_OLD && my_BIO_ctrl_pending(FSslbio) > 0) {
    if (CheckLogOptions(loSslInfo)) DebugLog(loSslInfo, Addr8() + " TriggerDataAvailable (Do_FD_READ_1) ");
    // A read notice of the socket taken without reading: the notice stays off until the next recv,
    // which the engine now owes it.
    if (!FInPostedEvent) FSocketReadHeld = true;
    TriggerDataAvailable(0);
    return;
  }
  FMayFD_Read = false;
  if (FInPostedEvent && !FSocketReadHeld) {
    // The socket's read notice is armed: it reports the data itself. Reading here would leave a
    // stale notice behind.
    FinishIoEvent();
    return;
  }
  // What OpenSSL asks for, but never more than the pair can take: bytes read from the socket
  // and refused by the pair would be lost.
  int room = my_BIO_ctrl_get_read_request(FNBio);
  const int guarantee = my_BIO_ctrl_get_write_guarantee(FNBio);
  if (room == 0 || room > guarantee) room = guarantee;
  if (room > kRecvBufSize) room = kRecvBufSize;
  if (room <= 0) {
    FMayFD_Read = true;
    if (!FInPostedEvent) FSocketReadHeld = true;
    TriggerEvents();
    return;
  }
  // After it reported the peer's close the socket gives no more read notices.
  FSocketReadHeld = FSocketCloseSeen;
  char buf[kRecvBufSize];
  int n = TCustomSocksNetSocket::DoRecv(buf, room, 0);
  int lastErr = n < 0 ? NetSocket_WSAGetLastError() : 0;
  if (CheckLogOptions(loSslInfo)) {
    char line[160];
    std::snprintf(line, sizeof line, " Winsock recv( %d, 0x%lx, %d, %d) = %d   [%d]", static_cast<int>(FHSocket),
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(buf)), room, 0, n, ++GSslLineCounter);
    DebugLog(loSslInfo, Addr8() + line);
  }
  if (n == 0) {
    if (FState == wsConnected) TriggerEvent(sslFdClose, error);
  } else if (n < 0) {
    if (lastErr > 10000 && lastErr != WSAEWOULDBLOCK && lastErr != WSAENOTCONN) {
      SetNetworkError(lastErr);
      TriggerEvent(sslFdClose, 0);
      if (CheckLogOptions(loSslErr)) DebugLog(loSslErr, Addr8() + " NetworkError #" + std::to_string(lastErr));
      return;
    }
  } else {
    my_BIO_write(FNBio, buf, n);
    my_BIO_ctrl(FNBio, BIO_CTRL_FLUSH, 0, nullptr);
    {
      char dummy[1];
      int r = my_BIO_read(FSslbio, dummy, 0);
      RaisePendingCallbackException();
      if (alive.expired() || !FSsl) return;
      if (r < 0) {
        if (!my_BIO_should_retry(FSslbio)) {
          HandleSslError();
          SetNetworkError(WSAECONNABORTED);
          TriggerEvent(sslFdClose, 0);
          if (CheckLogOptions(loSslErr))
            DebugLog(loSslErr, Addr8() + " NetworkError #" + std::to_string(FNetworkError));
          return;
        }
        FMayDoRecv = true;
        LastError = WSAEWOULDBLOCK;
      } else {
        if (FSslVersNum >= SSL3_VERSION && f_SSL_get_error(FSsl, r) == SSL_ERROR_ZERO_RETURN) {
          if (FSslState < sslStatePeerClosed) FSslState = sslStatePeerClosed;
          if (!FSslBiShutdownFlag && FShutDownHow == 2) TriggerEvent(sslFdClose, static_cast<uint16_t>(FNetworkError));
        }
        LastError = WSAEWOULDBLOCK;
        FMayDoRecv = true;
      }
      if (FSslBioWritePendingBytes >= 0 && CheckLogOptions(loSslInfo))
        DebugLog(loSslInfo, Addr8() + "SslBio write operation pending: " + std::to_string(FSslBioWritePendingBytes));
    }
  }
  if (!FSsl) return;
  if (f_SSL_state(FSsl) == SSL_ST_OK_OLD && my_BIO_ctrl_pending(FSslbio) > 0) {
    if (CheckLogOptions(loSslInfo)) DebugLog(loSslInfo, Addr8() + " TriggerDataAvailable (Do_FD_READ_2) ");
    TriggerDataAvailable(0);
    if (alive.expired() || !FSsl) return;
  }
  FinishIoEvent();
}

int TCustomSslNetSocket::DoRecv(void* buffer, int len, int flags) {
  if (!SslActive()) return TCustomSocksNetSocket::DoRecv(buffer, len, flags);
  if (CheckLogOptions(loSslInfo)) DebugLog(loSslInfo, Addr8() + " TCustomSslNetSocket.DoRecv " + std::to_string(FHSocket));
  if (FNetworkError > 0) {
    if (FSsl && my_BIO_ctrl_pending(FSslbio) > 0 && FShutDownHow == 0) {
      int n = my_BIO_read(FSslbio, buffer, len);
      if (n > 0) return n;
    }
    NetSocket_WSASetLastError(FNetworkError);
    LastError = FNetworkError;
    return -1;
  }
  if (FShutDownHow == 1) {
    NetSocket_WSASetLastError(WSAESHUTDOWN);
    return -1;
  }
  if (len == 0) return 0;
  if (FSsl && f_SSL_state(FSsl) == SSL_ST_OK_OLD && my_BIO_ctrl_pending(FSslbio) > 0) {
    int n = my_BIO_read(FSslbio, buffer, len);
    if (n > 0) {
      FMayDoRecv = true;
      TriggerEvents();
      return n;
    }
    if (n == 0 || my_BIO_should_retry(FSslbio)) {
      if (n == 0 && FSsl && f_SSL_get_error(FSsl, n) == SSL_ERROR_ZERO_RETURN && FSslState < sslStatePeerClosed)
        FSslState = sslStatePeerClosed;
      FMayDoRecv = true;
      TriggerEvents();
      NetSocket_WSASetLastError(WSAEWOULDBLOCK);
      return -1;
    }
    HandleSslError();
    SetNetworkError(WSAECONNABORTED);
    TriggerEvent(sslFdClose, 0);
    if (CheckLogOptions(loSslErr)) DebugLog(loSslErr, Addr8() + " NetworkError #" + std::to_string(FNetworkError));
    return -1;
  }
  if (FState == wsClosed) return 0;
  if (FCloseCalled) {
    TriggerEvent(sslFdClose, 0);
    return 0;
  }
  if (FState == wsConnected) {
    FMayDoRecv = true;
    TriggerEvents();
    NetSocket_WSASetLastError(WSAEWOULDBLOCK);
    return -1;
  }
  NetSocket_WSASetLastError(FNetworkError);
  return -1;
}

int TCustomSslNetSocket::GetRcvdCount() {
  if (!SslActive() || !FSsl) return TCustomSocksNetSocket::GetRcvdCount();
  return my_BIO_ctrl_pending(FSslbio);
}

// --- sending ---------------------------------------------------------------------------------------------

void TCustomSslNetSocket::PutDataInSendBuffer(const void* data, int len) {
  if (!SslActive()) {
    TCustomSocksNetSocket::PutDataInSendBuffer(data, len);
    return;
  }
  if (len <= 0 || !data) return;
  bSslAllSent = false;
  FSendPending = true;
  if (CheckLogOptions(loSslDump))
    DebugLog(loSslDump, Addr8() + " PutDataInSslBuffer " + std::to_string(FHSocket) + " len " + std::to_string(len) +
                            " Data:" + DataDump(data, len));
  if (FSslBufList.empty()) FSslBufList.push_back(std::make_unique<TBuffer>(kSslBufSize));
  const char* p = static_cast<const char*>(data);
  int n = FSslBufList.back()->Write(p, len);
  while (n < len) {
    FSslBufList.push_back(std::make_unique<TBuffer>(kSslBufSize));
    n += FSslBufList.back()->Write(p + n, len - n);
  }
}

void TCustomSslNetSocket::TryToSend() {
  if (!SslActive()) {
    if (CheckLogOptions(loSslInfo)) DebugLog(loSslInfo, Addr8() + " TryToSend " + std::to_string(FHSocket));
    TCustomSocksNetSocket::TryToSend();
    return;
  }
  if (CheckLogOptions(loSslInfo)) DebugLog(loSslInfo, Addr8() + " SslTryToSend " + std::to_string(FHSocket));
  if (FSslBufList.empty()) bSslAllSent = true;
  auto alive = AliveToken();
  bool stop = false;
  while (!stop) {
    if (FHSocket == INVALID_SOCKET || FSslBufList.empty()) break;
    TBuffer* first = FSslBufList.front().get();
    int count = 0;
    const char* p = first->Peek(count);
    if (count > 0) {
      if (FNetworkError > 0) {
        LastError = FNetworkError;
        TriggerEvent(sslFdClose, 0);
        return;
      }
      if (FCloseCalled && !FShutdownAfterSend) {
        TriggerEvent(sslFdClose, 0);
        return;
      }
      if (FShutDownHow > 0) {
        LastError = WSAESHUTDOWN;
        if (!FSslBiShutdownFlag) TriggerEvent(sslFdClose, 0);
        return;
      }
      // A renegotiation asked for but not yet begun holds nothing back: OpenSSL begins it only once
      // the record it is writing has gone out, and that record goes out with the next write. Held
      // here, the record and the renegotiation would wait for each other for ever.
      if (!FSsl || f_SSL_state(FSsl) != SSL_ST_OK_OLD) {
        // Not ready: the event engine tries again once the handshake is done.
        FMaySslTryToSend = true;
        LastError = WSAEWOULDBLOCK;
        return;
      }
      int len = FSslBioWritePendingBytes >= 0 ? FSslBioWritePendingBytes : count;
      int n = my_BIO_write(FSslbio, p, len);
      RaisePendingCallbackException();
      if (alive.expired()) return;
      if (n > 0) {
        my_BIO_ctrl(FSslbio, BIO_CTRL_FLUSH, 0, nullptr);
        FSslBioWritePendingBytes = -1;
        // The records of these bytes are all in the engine's output now.
        FOwnerCipherEnd = FCipherTaken + static_cast<int64_t>(f_BIO_ctrl_pending(FNBio));
        first->Remove(n);
        if (n < len) stop = true;
      } else if (n == 0) {
        FSslBioWritePendingBytes = -1;
        my_BIO_ctrl(FSslbio, BIO_CTRL_FLUSH, 0, nullptr);
        LastError = WSAECONNABORTED;
        stop = true;
      } else if (my_BIO_should_retry(FSslbio)) {
        FSslBioWritePendingBytes = len;
        if (FState == wsClosed) return;
        if (FState == wsConnected) {
          FMaySslTryToSend = true;
          TriggerEvents();
          LastError = WSAEWOULDBLOCK;
          return;
        }
        LastError = FNetworkError;
        return;
      } else {
        HandleSslError();
        if (FState == wsClosed) return;
        if (FState == wsConnected) {
          LastError = WSAECONNABORTED;
          TriggerEvent(sslFdClose, 0);
        } else {
          LastError = FNetworkError;
        }
        return;
      }
    } else {
      // Drained chunks go at once, so that a non-empty queue always holds data to send.
      FSslBufList.pop_front();
      if (FSslBufList.empty()) {
        bSslAllSent = true;
        stop = true;
      }
    }
  }
  FMaySslTryToSend = true;
  if (FShutdownAfterSend && FSslBufList.empty()) {
    // Every byte is in the TLS engine: the close notification follows it.
    FShutdownAfterSend = false;
    InternalShutdown(FSslShutDownDirection);
    return;
  }
  TriggerEvents();
}

void TCustomSslNetSocket::Do_FD_WRITE(uint16_t error) {
  if (!SslActive()) {
    TCustomSocksNetSocket::Do_FD_WRITE(error);
    return;
  }
  if (CheckLogOptions(loSslInfo)) DebugLog(loSslInfo, Addr8() + " TCustomSslNetSocket.Do_FD_WRITE " + std::to_string(FHSocket));
  if (FNetworkError > 0) return;
  auto alive = AliveToken();
  FMayFD_Write = false;
  TCustomSocksNetSocket::TryToSend();
  if (alive.expired() || FNetworkError > 0) return;
  if (FHSocket == INVALID_SOCKET) {
    if (CheckLogOptions(loSslInfo)) DebugLog(loSslInfo, Addr8() + " INVALID_SOCKET");
    return;
  }
  if (!FAllSent) {
    if (CheckLogOptions(loSslInfo)) DebugLog(loSslInfo, Addr8() + " * Not bAllSent ");
    FMayFD_Write = true;
    return;
  }
  if (!FSsl) return;
  char buf[kSslBufSize];
  int got = my_BIO_ctrl_pending(FNBio) > 0 ? my_BIO_read(FNBio, buf, sizeof buf) : 0;
  if (got < 1) FMayFD_Write = true;
  else FCipherTaken += got;
  while (got > 0) {
    int sent;
    if (!FAllSent) {
      // Something already waits in the socket's queue: later records go behind it, never before.
      sent = 0;
    } else {
      sent = RealSend(buf, got);
      if (alive.expired()) return;
      if (CheckLogOptions(loSslInfo)) {
        char line[160];
        std::snprintf(line, sizeof line, " my_RealSend (0x%lx, %d, %d) = %d   [%d]",
                      static_cast<unsigned long>(reinterpret_cast<uintptr_t>(buf)), got, 0, sent, ++GSslLineCounter);
        DebugLog(loSslInfo, Addr8() + line);
      }
      if (sent == 0 && FState == wsConnected) TriggerEvent(sslFdClose, 0);
      if (sent < 0) {
        int e = NetSocket_WSAGetLastError();
        if (e > 10000 && e != WSAEWOULDBLOCK && e != WSAENOTCONN) {
          SetNetworkError(e);
          TriggerEvent(sslFdClose, 0);
          if (CheckLogOptions(loSslErr)) DebugLog(loSslErr, Addr8() + " Winsock Error " + GetWinsockErr(e));
          return;
        }
        sent = 0;
      }
    }
    if (sent < got) {
      FAllSent = false;
      TCustomSocksNetSocket::PutDataInSendBuffer(buf + sent, got - sent);
      // Arms the write notice when the socket cannot take it now.
      TCustomSocksNetSocket::TryToSend();
      if (alive.expired() || FNetworkError > 0) return;
    }
    if (!FSsl) return;
    if (my_BIO_ctrl_pending(FNBio) <= 0) {
      FMayFD_Write = true;
      break;
    }
    got = my_BIO_read(FNBio, buf, sizeof buf);
    if (got < 1) FMayFD_Write = true;
    else FCipherTaken += got;
  }
  if (!FSsl) return;
  if (FInHandshake && FShutDownHow == 0 && my_BIO_ctrl_pending(FNBio) <= 0 && !DriveHandshake()) return;
  if (f_SSL_state(FSsl) == SSL_ST_OK_OLD) {
    if (!FSslBufList.empty()) {
      TryToSend();
      if (alive.expired() || !FSsl) return;
    } else if (FAllSent && my_BIO_ctrl_pending(FNBio) <= 0 && FSendPending) {
      FSendPending = false;
      TriggerDataSent(0);
      if (alive.expired() || !FSsl) return;
    }
  }
  FinishIoEvent();
}

bool TCustomSslNetSocket::DriveHandshake() {
  auto alive = AliveToken();
  char dummy[1];
  const int r = my_BIO_read(FSslbio, dummy, 0);
  RaisePendingCallbackException();
  if (alive.expired() || !FSsl) return false;
  if (r < 0 && !my_BIO_should_retry(FSslbio)) {
    HandleSslError();
    SetNetworkError(WSAECONNABORTED);
    TriggerEvent(sslFdClose, 0);
    if (CheckLogOptions(loSslErr)) DebugLog(loSslErr, Addr8() + " NetworkError #" + std::to_string(FNetworkError));
    return false;
  }
  return true;
}

void TCustomSslNetSocket::SendBroken(int error) {
  if (!SslActive() || !FSsl) {
    TCustomSocksNetSocket::SendBroken(error);
    return;
  }
  // The close event ends the connection, and a shutdown under way, with this error.
  if (CheckLogOptions(loSslErr)) DebugLog(loSslErr, Addr8() + " Winsock Error " + GetWinsockErr(error));
  SetNetworkError(error);
  TriggerEvent(sslFdClose, 0);
}

// Ends a read or write event: a shutdown under way may have completed with it.
void TCustomSslNetSocket::FinishIoEvent() {
  auto alive = AliveToken();
  if (FShutDownHow == 1 && SslShutdownCompleted(FSslShutDownDirection)) {
    if (alive.expired()) return;
    if (FSslBiShutdownFlag) TriggerEvents();
    else TriggerEvent(sslFdClose, 0);
  } else {
    TriggerEvents();
  }
}

// --- close, shutdown and renegotiation --------------------------------------------------------------------

void TCustomSslNetSocket::Close() {
  if (!FCloseCalled) {
    FCloseCalled = true;
    FSslBiShutdownFlag = false;
    if (CheckLogOptions(loSslInfo)) DebugLog(loSslInfo, Addr8() + " *CloseCalled " + std::to_string(FHSocket));
  }
  if (SslEnable && FSsl && f_SSL_state(FSsl) == SSL_ST_OK_OLD && my_BIO_ctrl_pending(FSslbio) > 0) {
    // The owner reads what is decrypted first; the close follows from the event engine.
    TriggerEvents();
    return;
  }
  TCustomSocksNetSocket::Close();
}

void TCustomSslNetSocket::InternalClose(bool bShut, uint16_t error) {
  if (!SslEnable || !FSsl) {
    TCustomSocksNetSocket::InternalClose(bShut, error);
    return;
  }
  if (CheckLogOptions(loSslInfo)) DebugLog(loSslInfo, Addr8() + " SslInternalClose " + std::to_string(FHSocket));
  if (FHSocket == INVALID_SOCKET) {
    if (FState != wsClosed) {
      ChangeState(wsClosed);
      AssignDefaultValue();
    }
    return;
  }
  if (FState == wsClosed) return;
  if (!bShut) {
    TCustomSocksNetSocket::InternalClose(false, error);
    return;
  }
  if (!IsDestroying() && FShutDownHow == 0) {
    Shutdown(1);
    return;
  }
  if (FShutDownHow == 0) TCustomSocksNetSocket::Shutdown(1);
  TCustomSocksNetSocket::InternalClose(false, error);
}

void TCustomSslNetSocket::InternalAbort(uint16_t error) {
  SslEnable = false;
  ResetSSL();
  CancelDnsLookup();
  DeleteBufferedData();
  if (FHSocket != INVALID_SOCKET && FState == wsConnected && FType == SOCK_STREAM) {
    LingerOnOff = wsLingerOff;
    SetLingerOption();
  }
  TCustomSocksNetSocket::InternalClose(false, error);
}

void TCustomSslNetSocket::Shutdown(int how) {
  if (FHSocket != INVALID_SOCKET && SslEnable && FSsl) {
    if (CheckLogOptions(loSslInfo))
      DebugLog(loSslInfo, Addr8() + " TCustomSslNetSocket.ShutDown " + std::to_string(how) + " " + std::to_string(FHSocket));
    FSslShutDownDirection = how;
    FSslBiShutdownFlag = false;
    InternalShutdown(how);
    return;
  }
  TCustomSocksNetSocket::Shutdown(how);
}

void TCustomSslNetSocket::SslBiShutDownAsync() { PostMessageToSelf(WM_BI_SSL_SHUTDOWN); }

void TCustomSslNetSocket::InternalShutdown(int how) {
  if (FHSocket == INVALID_SOCKET || !SslEnable || !FSsl || FSslState == sslStateShutdown) return;
  if (CheckLogOptions(loSslInfo)) DebugLog(loSslInfo, Addr8() + " SslInternalShutdown " + std::to_string(FHSocket));
  auto wait = [&] {
    TriggerEvents();
    LastError = WSAEWOULDBLOCK;
  };
  if (FShutDownHow == 0 && !FSslBiShutdownFlag && (!FSslBufList.empty() || FInHandshake) && FNetworkError == 0 &&
      FState == wsConnected) {
    // A graceful close sends what the owner queued before the close notification, and lets a
    // handshake under way (a renegotiation) end first: OpenSSL sends no notification in its middle.
    FShutdownAfterSend = true;
    wait();
    return;
  }
  if (FShutDownHow == 0) {
    FShutdownAfterSend = false;
    FShutDownHow = 1;
    int r;
    // The peer's notification having come first does not send ours: each side owes its own, and
    // a strict peer takes a connection ended without it for a truncation.
    const int both = SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN;
    if (!FSslBiShutdownFlag && (f_SSL_get_shutdown(FSsl) & both) == both) r = 1;
    else r = f_SSL_shutdown(FSsl);
    RaisePendingCallbackException();
    if (!FSsl) return;
    if (r < 0) {
      int e = f_SSL_get_error(FSsl, r);
      f_ERR_clear_error();
      // The engine's output was full: the close notification is still to be written, and the
      // shutdown goes on only once it is (see SendOwedCloseNotify).
      FCloseNotifyOwed = e == SSL_ERROR_WANT_WRITE;
      if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) wait();
      else if (!SslShutdownCompleted(how)) wait();
    } else {
      if (r == 0) {
        FSslState = sslStatePeerClosed;
        f_SSL_shutdown(FSsl);
        f_ERR_clear_error();
      }
      if (!SslShutdownCompleted(how)) {
        FMayFD_Write = true;
        wait();
      }
    }
  } else if (!SslShutdownCompleted(how)) {
    wait();
  }
}

// Writes the close notification that found the engine's output full at the first attempt; true once
// it is written (or nothing was owed). A failure other than a full output breaks the connection: the
// notification can never go, and the owner learns it from the error of the shutdown.
bool TCustomSslNetSocket::SendOwedCloseNotify() {
  if (!FCloseNotifyOwed || FNetworkError != 0 || !FSsl) return true;
  const int r = f_SSL_shutdown(FSsl);
  RaisePendingCallbackException();
  if (!FSsl) return true;
  if (r >= 0) {
    FCloseNotifyOwed = false;
    return true;
  }
  const int e = f_SSL_get_error(FSsl, r);
  f_ERR_clear_error();
  if (e == SSL_ERROR_WANT_WRITE) return false;
  FCloseNotifyOwed = false;
  if (e == SSL_ERROR_WANT_READ) return true;  // written; a two-way shutdown now waits for the peer's
  if (CheckLogOptions(loSslErr)) DebugLog(loSslErr, Addr8() + " ! Close notification not sent, error " + std::to_string(e));
  SetNetworkError(WSAECONNABORTED);
  return true;
}

bool TCustomSslNetSocket::SslShutdownCompleted(int how) {
  auto alive = AliveToken();
  if (SslEnable && FSsl) {
    bool result = false;
    const bool notifyWritten = FShutDownHow != 1 || SendOwedCloseNotify();
    if (!FSsl) return true;
    if (FNetworkError != 0 || (FShutDownHow > 0 && FAllSent && notifyWritten)) {
      bool bothFlags = true;
      if (FSslBiShutdownFlag && FNetworkError == 0)
        bothFlags = (f_SSL_get_shutdown(FSsl) & (SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN)) ==
                    (SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN);
      if (bothFlags) {
        char buf[1024];
        while (my_BIO_read(FSslbio, buf, sizeof buf) > 0) {
        }
        f_ERR_clear_error();
        if (my_BIO_ctrl_pending(FNBio) <= 0 || FNetworkError != 0) {
          result = true;
          if (FShutDownHow < 2) {
            FShutDownHow = 2;
            FSslState = sslStateShutdown;
            const bool bi = FSslBiShutdownFlag;
            if (bi) {
              SslEnable = false;
              ResetSSL();
            }
            TriggerSslShutDownComplete(OwnerError(FNetworkError));
            if (alive.expired()) return true;
            // The peer closed the connection meanwhile: now a plain socket, it hears of it again.
            if (bi && FCloseCalled && FHSocket != INVALID_SOCKET)
              PostMessageToSelf(WM_ASYNCSELECT, FHSocket, FD_CLOSE);
            if (!bi) {
              TCustomSocksNetSocket::Shutdown(FSslShutDownDirection);
              TriggerEvent(sslFdClose, 0);
            }
          }
        }
      }
    }
    if (CheckLogOptions(loSslInfo))
      DebugLog(loSslInfo, Addr8() + " SslShutdownCompleted *" + std::to_string(result) + "* " + std::to_string(FHSocket));
    return result;
  }
  if (FShutDownHow < 2) {
    FSslBiShutdownFlag = false;
    FShutDownHow = 2;
    if (FSsl) ResetSSL();
    TriggerSslShutDownComplete(OwnerError(FNetworkError));
    if (alive.expired()) return true;
  }
  if (FState != wsClosed) {
    TCustomSocksNetSocket::Shutdown(how);
    TCustomSocksNetSocket::InternalClose(false, 0);
  }
  return true;
}

void TCustomSslNetSocket::TriggerSslShutDownComplete(int error) {
  if (CheckLogOptions(loSslInfo))
    DebugLog(loSslInfo, Addr8() + " TriggerSslShutDownComplete(" + std::to_string(error) + ") " + std::to_string(FHSocket));
  if (OnSslShutDownComplete) OnSslShutDownComplete(this, FSslBiShutdownFlag, error);
}

void TCustomSslNetSocket::Do_FD_CLOSE(uint16_t error) {
  if (!SslActive() || !FSsl) {
    TCustomSocksNetSocket::Do_FD_CLOSE(error);
    return;
  }
  if (CheckLogOptions(loSslInfo))
    DebugLog(loSslInfo, Addr8() + " TCustomSslNetSocket.Do_FD_CLOSE error #" + std::to_string(error) + " " +
                            std::to_string(FHSocket));
  if (FState == wsConnecting || FHSocket == INVALID_SOCKET) return;
  if (!FInPostedEvent) FSocketCloseSeen = true;
  // The socket reports the connection broken: no TLS exchange can follow.
  if (error > 10000 && error != WSAEWOULDBLOCK && FNetworkError == 0) SetNetworkError(error);
  auto alive = AliveToken();
  const bool handshakeDone = f_SSL_state(FSsl) == SSL_ST_OK_OLD;
  if (!FCloseCalled) {
    FCloseCalled = true;
    if (CheckLogOptions(loSslInfo)) DebugLog(loSslInfo, Addr8() + " *CloseCalled " + std::to_string(FHSocket));
  }
  if (FNetworkError == 0) {
    if (handshakeDone && my_BIO_ctrl_pending(FSslbio) > 0) {
      TriggerEvents();
      return;
    }
    unsigned long waiting = 0;
    if (NetSocket_ioctlsocket(FHSocket, FIONREAD, &waiting) != 0) {
      int e = NetSocket_WSAGetLastError();
      if (e > 10000 && e != WSAEWOULDBLOCK && e != WSAENOTCONN) LastError = e;
    } else if (waiting > 0 && (LastError == 0 || LastError == WSAEWOULDBLOCK)) {
      // What the peer sent before closing is read first; the socket reports no further read
      // event after its close, so the layer reads by itself. The close comes back from the
      // event engine once the data is in.
      FSocketReadHeld = true;
      TriggerEvent(sslFdRead, 0);
      return;
    }
    // The layer's own "would block" is no network error.
    if (LastError > 10000 && LastError != WSAEWOULDBLOCK && LastError != WSAENOTCONN) FNetworkError = LastError;
    if (FNetworkError == 0 && handshakeDone && FShutDownHow < 2) {
      if (!(FShutDownHow == 1 && FSslBiShutdownFlag)) {
        FSslBiShutdownFlag = false;
        InternalShutdown(1);
        return;
      }
      // A two-way shutdown under way: complete when the peer answered before closing (the close
      // then comes back as a plain one); otherwise the connection ends here.
      if (SslShutdownCompleted(FSslShutDownDirection)) return;
    }
  }
  if (FNetworkError != 0 && handshakeDone) {
    // What the peer sent before the connection broke reaches the owner before the close.
    if (!DeliverWhatTheBrokenConnectionHolds()) return;
    if (FSsl && (f_SSL_get_shutdown(FSsl) & SSL_RECEIVED_SHUTDOWN)) {
      // The peer's notification among it: its direction ended well, the session too when nothing of
      // ours was lost with the reset.
      if (FSslState < sslStatePeerClosed) FSslState = sslStatePeerClosed;
      if (FNetworkError == WSAECONNRESET && !FOwnerDataLost) FPeerEndedFirst = true;
    }
  }
  if (error == 0 && FNetworkError != 0) error = static_cast<uint16_t>(FNetworkError);
  if (FNetworkError != 0 && (FShutDownHow == 1 || FShutdownAfterSend || (FPeerEndedFirst && FShutDownHow == 0))) {
    // A broken connection ends the shutdown under way at once, with its error; one the peer broke
    // after its close notification ends the session as that notification did.
    FShutdownAfterSend = false;
    FShutDownHow = 1;
    SslShutdownCompleted(FSslShutDownDirection);
    if (alive.expired()) return;
  }
  // Only a handshake that never ended is reported failed: after a shutdown the engine no
  // longer reads as set up, yet its handshake was reported done.
  if (!handshakeDone && FSslState < sslStateFailed && !IsDestroying()) {
    TriggerSslHandshakeDone(1);
    if (alive.expired()) return;
    if (FState == wsConnected && FShutDownHow < 2 && error == 0) TCustomSocksNetSocket::Shutdown(1);
  }
  if (CheckLogOptions(loSslInfo))
    DebugLog(loSslInfo, Addr8() + " FCloseInvoked=" + std::to_string(FCloseInvoked) + " " + std::to_string(FHSocket));
  if (FHSocket != INVALID_SOCKET && !FCloseInvoked && !IsDestroying()) {
    FCloseInvoked = true;
    TriggerSessionClosed(static_cast<uint16_t>(OwnerError(error)));
    if (alive.expired()) return;
  }
  SslEnable = false;
  ResetSSL();
  // A connection that ends well closes in the background: what the peer still sends (a TLS 1.3
  // session ticket, its own close notification) is read until it closes. A socket closed at once
  // would answer such bytes with a reset and drop the end of our data still in the kernel.
  if (FState != wsClosed) TCustomSocksNetSocket::InternalClose(error == 0, error);
}

bool TCustomSslNetSocket::SslStartRenegotiation() {
  if (!SslEnable || !FSsl) return false;
  const int state = f_SSL_state(FSsl);
  const int version = f_SSL_version(FSsl);
  const int pending = f_SSL_renegotiate_pending(FSsl);
  // TLS 1.3 has no renegotiation: OpenSSL refuses it, and so does this layer up front.
  if (ICS_SSL_NO_RENEGOTIATION || state != SSL_ST_OK_OLD || version < SSL3_VERSION || version >= TLS1_3_VERSION ||
      pending == 1) {
    if (CheckLogOptions(loSslErr)) {
      char line[200];
      std::snprintf(line, sizeof line,
                    " ! Cannot start re-negotiation  State %d Version (0x%x) RenegotiatePending %d NO_RENEGOTIATION %d %d",
                    state, version, pending, ICS_SSL_NO_RENEGOTIATION ? 1 : 0, static_cast<int>(FHSocket));
      DebugLog(loSslErr, Addr8() + line);
    }
    return false;
  }
  if (f_SSL_renegotiate(FSsl) == 0) {
    HandleSslError();
    if (CheckLogOptions(loSslErr)) DebugLog(loSslErr, Addr8() + " ! SSL_renegotiate() failed");
    return false;
  }
  long r = my_BIO_ctrl(FSslbio, BIO_C_DO_STATE_MACHINE, 0, nullptr);
  RaisePendingCallbackException();
  if (!FSsl) return false;
  FSslBioWritePendingBytes = -1;
  if (r != -1 || my_BIO_should_retry(FSslbio)) {
    if (CheckLogOptions(loSslInfo)) DebugLog(loSslInfo, Addr8() + " ! Re-negotiation started ");
    if (FMayFD_Write && TriggerEvent(sslFdWrite, 0)) FMayFD_Write = false;
    return true;
  }
  HandleSslError();
  if (CheckLogOptions(loSslErr)) DebugLog(loSslErr, Addr8() + " ! Re-negotiation failed");
  SetNetworkError(WSAECONNABORTED);
  TriggerEvent(sslFdClose, 0);
  return false;
}

// --- callbacks, handshake completion and sessions ----------------------------------------------------------

void TCustomSslNetSocket::SslLeaveCallback() noexcept {
  if (--FInCallback == 0 && FResetAfterCallback) {
    FResetAfterCallback = false;
    if (FHSocket == INVALID_SOCKET || FState == wsClosed) PostMessageToSelf(WM_RESET_SSL);
  }
}

void TCustomSslNetSocket::SslCallbackException(std::exception_ptr e) noexcept {
  if (!FCallbackException) FCallbackException = e;
}

void TCustomSslNetSocket::RaisePendingCallbackException() {
  if (!FCallbackException) return;
  std::exception_ptr e = FCallbackException;
  FCallbackException = nullptr;
  f_ERR_clear_error();
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& ex) {
    // The handler's failure takes the background-exception path, as any event handler's does.
    HandleBackGroundException(ex);
  } catch (...) {
    HandleBackGroundException(std::runtime_error("Unknown exception in a TLS callback"));
  }
}

int TCustomSslNetSocket::SslVerifyPeerCallback(int ok, X509_STORE_CTX* store) {
  Pause();
  struct TResume {
    TCustomSslNetSocket* S;
    ~TResume() { S->Resume(); }
  } resume{this};
  X509* cert = f_X509_STORE_CTX_get_current_cert(store);
  TX509Base* item = FSslCertChain.GetByPX509(cert);
  const int err = f_X509_STORE_CTX_get_error(store);
  if (item) {
    item->SetVerifyResult(err);
  } else {
    FSslCertChain.X509Class = X509Class;
    item = FSslCertChain.Add(cert);
    item->SetVerifyResult(err);
    item->SetFirstVerifyResult(err);
  }
  item->SetVerifyDepth(f_X509_STORE_CTX_get_error_depth(store));
  FSslCertChain.LastVerifyResult = item->VerifyResult();
  if (CheckLogOptions(loSslInfo)) {
    DebugLog(loSslInfo, "VCB> VerifyPeer: Subject = " + item->GetSubjectOneLine());
    DebugLog(loSslInfo, "VCB> VerifyPeer: Serial  = $" + item->GetSerialNumHex());
    DebugLog(loSslInfo, "VCB> VerifyPeer: Error   = " + item->GetVerifyErrorMsg());
  }
  FSslVerifyResult = item->VerifyResult();
  TriggerSslVerifyPeer(ok, item);
  if (ok != 0) FSslVerifyResult = 0;
  return ok;
}

void TCustomSslNetSocket::TriggerSslVerifyPeer(int& ok, TX509Base* cert) {
  if (CheckLogOptions(loSslInfo)) DebugLog(loSslInfo, Addr8() + " TriggerSslVerifyPeer " + std::to_string(FHSocket));
  if (OnSslVerifyPeer) OnSslVerifyPeer(this, ok, cert);
}

void TCustomSslNetSocket::SslInfoCallback(const SSL* ssl, int where, int ret) {
  if (CheckLogOptions(loSslErr) || CheckLogOptions(loSslInfo)) {
    std::string prefix = (where & SSL_ST_CONNECT_OLD) ? "SSL_connect: "
                         : (where & SSL_ST_ACCEPT_OLD) ? "SSL_accept: "
                                                       : "undefined: ";
    const char* st = f_SSL_state_string_long(ssl);
    std::string state = st ? st : "";
    if (where & SSL_CB_LOOP) {
      DebugLog(loSslInfo, "ICB> " + prefix + state);
    } else if (where & SSL_CB_ALERT) {
      const char* t = f_SSL_alert_type_string_long(ret);
      const char* d = f_SSL_alert_desc_string_long(ret);
      DebugLog(loSslInfo, std::string("ICB> SSL3 alert ") + ((where & SSL_CB_READ) ? "read " : "write ") +
                              (t ? t : "") + " " + (d ? d : ""));
    } else if (where & SSL_CB_EXIT) {
      if (ret == 0) {
        DebugLog(loSslInfo, "ICB> " + prefix + "failed in " + state);
      } else if (ret < 0) {
        int e = f_SSL_get_error(ssl, ret);
        if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE)
          DebugLog(loSslInfo, "ICB> " + prefix + "error in " + state);
      }
    }
  }
  if (where & SSL_CB_HANDSHAKE_START) {
    FInHandshake = true;
    ++FHandshakeCount;
    if (ICS_SSL_NO_RENEGOTIATION && FHandshakeCount > 1) CloseDelayed();
    if (FHandshakeCount > 1) FInRenegotiation = true;
    if (CheckLogOptions(loSslInfo)) DebugLog(loSslInfo, "ICB> SSL_CB_HANDSHAKE_START");
  }
  if (where & SSL_CB_HANDSHAKE_DONE) {
    FInHandshake = false;
    // A hello request read or written ends as a handshake of its own in OpenSSL, with the
    // renegotiation it asks for still to come: no handshake was made, the owner hears of the next.
    if (f_SSL_renegotiate_pending(ssl) == 1) {
      --FHandshakeCount;
      if (CheckLogOptions(loSslInfo)) DebugLog(loSslInfo, "ICB> Hello request: a renegotiation follows");
      return;
    }
    FHandshakeDone = true;
    if (CheckLogOptions(loSslErr) || CheckLogOptions(loSslInfo)) {
      long v = f_SSL_get_verify_result(ssl);
      if (CheckLogOptions(loSslInfo) || v != 0) {
        TLogOption o = CheckLogOptions(loSslInfo) ? loSslInfo : loSslErr;
        DebugLog(o, "ICB> SSL_CB_HANDSHAKE_DONE Error: " + std::to_string(v));
      }
    }
  }
}

int TCustomSslNetSocket::SslClientCertCallback(SSL*, X509** x509, EVP_PKEY** pkey) {
  if (!OnSslCliCertRequest) return 0;
  Pause();
  struct TResume {
    TCustomSslNetSocket* S;
    ~TResume() { S->Resume(); }
  } resume{this};
  TX509Base* cert = nullptr;
  try {
    OnSslCliCertRequest(this, cert);
  } catch (...) {
    // The connection goes on without a client certificate.
    return 0;
  }
  if (cert && cert->X509() && cert->PrivateKey()) {
    *x509 = f_X509_dup(cert->X509());
    std::lock_guard<std::recursive_mutex> guard(SslCritSect());
    f_EVP_PKEY_up_ref(cert->PrivateKey());
    *pkey = cert->PrivateKey();
    return 1;
  }
  return 0;
}

int TCustomSslNetSocket::SslNewSessionCallback(SSL*, SSL_SESSION* session) {
  if (CheckLogOptions(loSslInfo)) DebugLog(loSslInfo, "NSCB> New session created");
  unsigned int len = 0;
  const unsigned char* id = f_SSL_SESSION_get_id(session, &len);
  bool addToCache = false;
  if (OnSslSvrNewSession) OnSslSvrNewSession(this, session, id, static_cast<int>(len), addToCache);
  return addToCache ? 1 : 0;
}

SSL_SESSION* TCustomSslNetSocket::SslGetSessionCallback(SSL*, const unsigned char* id, int len, int* copy) {
  if (CheckLogOptions(loSslInfo)) DebugLog(loSslInfo, "GSCB> Get session");
  SSL_SESSION* session = nullptr;
  bool increment = copy && *copy != 0;
  if (OnSslSvrGetSession) OnSslSvrGetSession(this, session, id, len, increment);
  if (copy) *copy = increment ? 1 : 0;
  return session;
}

void TCustomSslNetSocket::TriggerSslHandshakeDone(uint16_t error) {
  if (FHSocket == INVALID_SOCKET) error = 1;
  FSslState = (error != 0 || !FSsl) ? sslStateFailed : sslStateDone;
  FSslCertChain.X509Class = X509Class;
  std::unique_ptr<TX509Base> temporary;
  TX509Base* peer = nullptr;
  bool reused = false;
  if (error == 0 && FSsl) {
    const char* v = f_SSL_get_version(FSsl);
    FSslVersion = v ? v : "Unknown";
    FSslVersNum = f_SSL_version(FSsl);
    if (const SSL_CIPHER* c = f_SSL_get_current_cipher(FSsl)) {
      const char* n = f_SSL_CIPHER_get_name(c);
      FSslCipher = n ? n : "Unknown";
      FSslSecretBits = f_SSL_CIPHER_get_bits(c, &FSslTotalBits);
    }
    reused = SessionReused(FSsl);
    if (FSslContext && FSslContext->SslVerifyPeer() && !reused) {
      if (X509* cert = f_SSL_get1_peer_certificate(FSsl)) {
        peer = FSslCertChain.GetByPX509(cert);
        if (!peer) {
          temporary = X509Class(cert);
          temporary->SetVerifyResult(static_cast<int>(f_SSL_get_verify_result(FSsl)));
          peer = temporary.get();
        }
        f_X509_free(cert);
      }
    }
    if (CheckLogOptions(loSslInfo)) {
      char line[400];
      std::snprintf(line, sizeof line,
                    " SslHandshakeDone(%d) %d. Secure connection with %s, cipher %s, %d secret bits (%d total), "
                    "session reused=%s",
                    error, static_cast<int>(FHSocket), FSslVersion.c_str(), FSslCipher.c_str(), FSslSecretBits,
                    FSslTotalBits, reused ? "TRUE" : "FALSE");
      DebugLog(loSslInfo, Addr8() + line);
    }
  }
  if (!peer) {
    temporary = X509Class(nullptr);
    peer = temporary.get();
  }
  bool disconnect = false;
  auto alive = AliveToken();
  if (OnSslHandshakeDone) OnSslHandshakeDone(this, error, peer, disconnect);
  if (alive.expired()) return;
  if (error == 0) {
    if (disconnect) Close();
    else TriggerSslCliNewSession();
  }
}

void TCustomSslNetSocket::TriggerSslCliNewSession() {
  if (SslMode != sslModeClient || !OnSslCliNewSession || !FSsl) return;
  SSL_SESSION* session = FSslState == sslStateDone ? f_SSL_get_session(FSsl) : nullptr;
  const bool reused = SessionReused(FSsl);
  if (CheckLogOptions(loSslInfo))
    DebugLog(loSslInfo, Addr8() + " CliNewSession [" + Hex8Ptr(session) + "] Reused: " + (reused ? "1" : "0"));
  bool increment = false;
  std::lock_guard<std::recursive_mutex> guard(SslCritSect());
  OnSslCliNewSession(this, session, reused, increment);
  if (increment && session) f_SSL_get1_session(FSsl);
}
