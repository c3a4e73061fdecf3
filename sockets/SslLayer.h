#pragma once
// TLS layer of the socket chain. With SslEnable false every operation passes straight to the SOCKS
// layer below. With SslEnable true OpenSSL runs over a memory BIO pair: the layer itself moves the
// encrypted bytes between the socket and the pair, and the owner keeps the same asynchronous
// interface (Send, Receive, OnDataAvailable, OnDataSent, OnSessionClosed) on plaintext.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sockets/NetSockBuf.h"
#include "sockets/SocksLayer.h"
#include "sockets/ssl/SslCallbacks.h"
#include "sockets/ssl/SslContext.h"
#include "sockets/ssl/X509.h"

enum TSslMode { sslModeClient, sslModeServer };
enum TSslEvent { sslFdRead, sslFdWrite, sslFdClose };

using TSslSvrNewSession = std::function<void(TCustomNetSocket* Sender, SSL_SESSION* SslSession,
                                             const void* SessId, int Idlen, bool& AddToInternalCache)>;
using TSslSvrGetSession = std::function<void(TCustomNetSocket* Sender, SSL_SESSION*& SslSession,
                                             const void* SessId, int Idlen, bool& IncRefCount)>;
using TSslCliGetSession = std::function<void(TCustomNetSocket* Sender, SSL_SESSION*& SslSession, bool& FreeSession)>;
using TSslCliNewSession =
    std::function<void(TCustomNetSocket* Sender, SSL_SESSION* SslSession, bool WasReused, bool& IncRefCount)>;
using TSslSetSessionIDContext = std::function<void(TCustomNetSocket* Sender, std::string& SessionIDContext)>;
using TSslCliCertRequest = std::function<void(TCustomNetSocket* Sender, TX509Base*& Cert)>;
using TSslShutDownComplete = std::function<void(TCustomNetSocket* Sender, bool Bidirectional, int ErrCode)>;
using TSslVerifyPeerEvent = std::function<void(TCustomNetSocket* Sender, int& Ok, TX509Base* Cert)>;
using TSslHandshakeDoneEvent =
    std::function<void(TCustomNetSocket* Sender, uint16_t ErrCode, TX509Base* PeerCert, bool& Disconnect)>;

// Messages of the TLS layer.
constexpr unsigned WM_TRIGGER_DATASENT = WM_USER + 15;
constexpr unsigned WM_SSL_ASYNCSELECT = WM_USER + 21;
constexpr unsigned WM_RESET_SSL = WM_USER + 22;
constexpr unsigned WM_BI_SSL_SHUTDOWN = WM_USER + 23;
constexpr unsigned WM_TRIGGER_SSLSHUTDOWNCOMPLETED = WM_USER + 24;

// TLS states of a connection.
enum : int {
  sslStateNone = 0, sslStateStarting = 1, sslStateSetUp = 2, sslStateFailed = 3, sslStateDone = 4,
  sslStatePeerClosed = 5, sslStateShutdown = 6
};

class TCustomSslNetSocket : public TCustomSocksNetSocket, public TSslCallbackTarget, private TSslContextUser {
public:
  TCustomSslNetSocket();
  ~TCustomSslNetSocket() override;

  // Properties.
  bool SslEnable = false;
  TSslMode SslMode = sslModeClient;
  TSslContext* SslContext() const { return FSslContext; }
  void SetSslContext(TSslContext* ctx);
  std::vector<std::string> SslAcceptableHosts;
  void SetAcceptableHostsList(const std::string& list);
  // Objects made for the peer's chain (TX509Base unless set).
  TX509Class X509Class;
  TX509List& SslCertChain() { return FSslCertChain; }

  TSslSvrNewSession OnSslSvrNewSession;
  TSslSvrGetSession OnSslSvrGetSession;
  TSslCliGetSession OnSslCliGetSession;
  TSslCliNewSession OnSslCliNewSession;
  TSslSetSessionIDContext OnSslSetSessionIDContext;
  TSslCliCertRequest OnSslCliCertRequest;
  TSslShutDownComplete OnSslShutDownComplete;
  TSslVerifyPeerEvent OnSslVerifyPeer;
  TSslHandshakeDoneEvent OnSslHandshakeDone;

  // Read-only values of the connection.
  SSL* Ssl() const { return FSsl; }
  int SslState() const { return FSslState; }
  const std::string& SslVersion() const { return FSslVersion; }
  const std::string& SslCipher() const { return FSslCipher; }
  int SslTotalBits() const { return FSslTotalBits; }
  int SslSecretBits() const { return FSslSecretBits; }
  int SslVersNum() const { return FSslVersNum; }
  int SslPeerVerifyResult() const { return FSslVerifyResult; }
  int SslHandshakeCount() const { return FHandshakeCount; }
  bool SslInRenegotiation() const { return FInRenegotiation; }
  std::uint32_t LastSslError() const { return FLastSslError; }
  int SslShutdownStage() const { return FShutDownHow; }
  bool SslSessionReused();
  bool SslRenegotiatePending();

  // The engine's flags and buffer levels in one line (diagnostics).
  std::string SslEngineState();

  void StartSslHandshake();
  void AcceptSslHandshake();
  void InitSSLConnection(bool clientMode, SSL_CTX* ctx);
  void ResetSSL();
  void ResetSslDelayed();
  void DeleteBufferedSslData();
  bool TriggerEvent(TSslEvent event, uint16_t error);
  void TriggerEvents();
  bool SslStartRenegotiation();
  void SslBiShutDownAsync();

  // Overrides of the chain.
  void WndProc(TNetMessage& msg) override;
  void TryToSend() override;
  void AssignDefaultValue() override;
  void InternalClose(bool bShut, uint16_t error) override;
  void InternalAbort(uint16_t error) override;
  int GetRcvdCount() override;
  void TriggerSessionConnected(uint16_t error) override;
  int DoRecv(void* buffer, int len, int flags) override;
  void Do_FD_CONNECT(uint16_t error) override;
  void Do_FD_READ(uint16_t error) override;
  void Do_FD_WRITE(uint16_t error) override;
  void Do_FD_ACCEPT(uint16_t error) override;
  void Do_FD_CLOSE(uint16_t error) override;
  void DupConnected() override;
  void Close() override;
  void Listen() override;
  TSocket Accept() override;
  void Dup(TSocket newHSocket) override;
  void Shutdown(int how) override;
  void PutDataInSendBuffer(const void* data, int len) override;
  void ThreadAttach() override;

  virtual void TriggerSslHandshakeDone(uint16_t error);
  virtual void TriggerSslVerifyPeer(int& ok, TX509Base* cert);
  virtual void TriggerSslCliNewSession();
  virtual void TriggerSslShutDownComplete(int error);

  // OpenSSL callbacks (see SslCallbacks.h).
  int SslVerifyPeerCallback(int ok, X509_STORE_CTX* store) override;
  void SslInfoCallback(const SSL* ssl, int where, int ret) override;
  int SslClientCertCallback(SSL* ssl, X509** x509, EVP_PKEY** pkey) override;
  int SslNewSessionCallback(SSL* ssl, SSL_SESSION* session) override;
  SSL_SESSION* SslGetSessionCallback(SSL* ssl, const unsigned char* id, int len, int* copy) override;
  void SslCallbackException(std::exception_ptr e) noexcept override;
  void SslEnterCallback() noexcept override { ++FInCallback; }
  void SslLeaveCallback() noexcept override;

protected:
  void SslContextFreed(TSslContext* ctx) override;
  bool SslActive() const { return SslEnable && !SocksNegotiating(); }
  void InitializeSsl();
  void FinalizeSsl();
  void BeginSslHandshake(bool client);
  void FinishIoEvent();
  void HandleSslError();
  void InternalShutdown(int how);
  bool SslShutdownCompleted(int how);
  bool SendOwedCloseNotify();
  void Do_SSL_FD_READ(uint16_t error);
  // A handshake message that found the pair full is written only when OpenSSL is called again, and
  // nothing else calls it while the handshake waits for the peer: called once the pair has room.
  // False when the component, the engine or the connection went away meanwhile.
  bool DriveHandshake();
  void SetNetworkError(int error);
  // True once the peer's close notification has come, taking what the socket still holds first.
  bool PeerCloseNotifyReceived();
  // Moves what the socket holds into the engine, as far as the pair takes it; true when bytes came.
  bool PullWaitingBytes();
  // True while data of the owner is queued, in the engine, or not yet acknowledged by the peer's kernel.
  bool OwnerDataUnsent();
  // Hands the owner what a broken connection still holds: the socket's bytes decrypted, until the
  // owner takes no more. False when the component or the connection went away meanwhile.
  bool DeliverWhatTheBrokenConnectionHolds();
  // The error the owner hears of: none when the peer ended the session before the connection broke
  // and nothing of ours was lost with it.
  int OwnerError(int error) const { return FPeerEndedFirst ? 0 : error; }
  void SendBroken(int error) override;
  // A handshake start failed after connect or accept: close without shutdown.
  void HandshakeStartFailed(const std::exception& e);
  // Rethrows, outside OpenSSL, what a callback caught.
  void RaisePendingCallbackException();

  // Logged BIO operations.
  int LoggedBioIo(BIO* b, void* data, int len, bool write);
  int my_BIO_read(BIO* b, void* data, int len);
  int my_BIO_write(BIO* b, const void* data, int len);
  long my_BIO_ctrl(BIO* b, int cmd, long larg, void* parg);
  int LoggedBioQuery(BIO* b, size_t (*query)(BIO*), const char* name);
  int my_BIO_ctrl_pending(BIO* b);
  int my_BIO_ctrl_get_write_guarantee(BIO* b);
  int my_BIO_ctrl_get_read_request(BIO* b);
  bool my_BIO_should_retry(BIO* b);
  std::string BioName(BIO* b) const;
  std::string Addr8() const;

  TSslContext* FSslContext = nullptr;
  TX509List FSslCertChain;
  std::deque<std::unique_ptr<TBuffer>> FSslBufList;
  bool FSslBioWritePendingBytesFlag = false;
  bool bSslAllSent = true;
  bool FMayFD_Read = true;
  bool FMayFD_Write = true;
  bool FMayDoRecv = true;
  bool FMaySslTryToSend = true;
  bool FSocketReadHeld = false;  // the socket's read notice is off until this layer reads the socket
  bool FSocketCloseSeen = false; // the socket reported the peer's close
  bool FInPostedEvent = false;   // a handler runs for the layer's own posted event
  bool FCloseCalled = false;
  bool FShutdownAfterSend = false;  // a one-way shutdown waits for the queued plaintext to go first
  bool FCloseNotifyOwed = false;    // the close notification found the engine's output full
  bool FPeerEndedFirst = false;     // the connection broke after the peer's close notification
  bool FOwnerDataLost = false;      // the reset came while data of the owner was still unsent
  int64_t FTlsStreamStart = 0;      // where the TLS bytes begin among those the kernel took
  int64_t FCipherTaken = 0;         // TLS bytes taken from the engine for the wire
  int64_t FOwnerCipherEnd = 0;      // end of the TLS bytes that carry the owner's data (0: none yet)
  unsigned FPendingSslEvents = 0;
  int FShutDownHow = 0;        // shutdown stage 0, 1, 2
  int FSslShutDownDirection = 1;
  std::uint32_t FLastSslError = 0;
  bool FInRenegotiation = false;
  int FSslBioWritePendingBytes = -1;
  bool FSendPending = false;   // OnDataSent owed for queued plaintext
  bool FSslBiShutdownFlag = false;
  int FNetworkError = 0;
  bool FSslInitialized = false;
  bool FInHandshake = false;
  bool FHandshakeDone = false;
  int FSslVersNum = 0;
  int FSslState = 0;
  int FInCallback = 0;
  bool FResetAfterCallback = false;
  std::exception_ptr FCallbackException;
  SSL* FSsl = nullptr;
  BIO* FSslbio = nullptr;
  BIO* FIBio = nullptr;
  BIO* FNBio = nullptr;
  bool FIBioOwnedBySsl = false;
  int FSslVerifyResult = 0;
  std::string FSslVersion = "Unknown";
  std::string FSslCipher = "Unknown";
  int FSslTotalBits = 0;
  int FSslSecretBits = 0;
  int FHandshakeCount = 0;
};
