#pragma once
// TLS context: one OpenSSL SSL_CTX with the certificates, keys, trusted authorities, revocation lists,
// verification policy, ciphers, options and session cache that TLS sockets take from it.
#include "sockets/ssl/NetLibeay.h"
#include "sockets/ssl/OpenSslTypes.h"
#include "sockets/ssl/SslLog.h"

#include <QPointer>

#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>

class ESslContextException : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class EX509Exception : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

enum TSslVersionMethod : int {
  sslV2, sslV2_CLIENT, sslV2_SERVER, sslV3, sslV3_CLIENT, sslV3_SERVER, sslTLS_V1, sslTLS_V1_CLIENT,
  sslTLS_V1_SERVER, sslV23, sslV23_CLIENT, sslV23_SERVER
};

enum TSslVerifyPeerMode {
  SslVerifyMode_NONE, SslVerifyMode_PEER, SslVerifyMode_FAIL_IF_NO_PEER_CERT, SslVerifyMode_CLIENT_ONCE
};
using TSslVerifyPeerModes = std::set<TSslVerifyPeerMode>;

enum TSslSessCacheMode {
  sslSESS_CACHE_CLIENT, sslSESS_CACHE_SERVER, sslSESS_CACHE_NO_AUTO_CLEAR, sslSESS_CACHE_NO_INTERNAL_LOOKUP,
  sslSESS_CACHE_NO_INTERNAL_STORE
};
using TSslSessCacheModes = std::set<TSslSessCacheMode>;

enum TSslOption {
  sslOpt_CIPHER_SERVER_PREFERENCE, sslOpt_MICROSOFT_SESS_ID_BUG, sslOpt_NETSCAPE_CHALLENGE_BUG,
  sslOpt_NETSCAPE_REUSE_CIPHER_CHANGE_BUG, sslOpt_SSLREF2_REUSE_CERT_TYPE_BUG,
  sslOpt_MICROSOFT_BIG_SSLV3_BUFFER, sslOpt_MSIE_SSLV2_RSA_PADDING, sslOpt_SSLEAY_080_CLIENT_DH_BUG,
  sslOpt_TLS_D5_BUG, sslOpt_TLS_BLOCK_PADDING_BUG, sslOpt_TLS_ROLLBACK_BUG,
  sslOpt_DONT_INSERT_EMPTY_FRAGMENTS, sslOpt_SINGLE_DH_USE, sslOpt_EPHEMERAL_RSA, sslOpt_NO_SSLv2,
  sslOpt_NO_SSLv3, sslOpt_NO_TLSv1, sslOpt_PKCS1_CHECK_1, sslOpt_PKCS1_CHECK_2, sslOpt_NETSCAPE_CA_DN_BUG,
  sslOpt_NO_SESSION_RESUMPTION_ON_RENEGOTIATION, sslOpt_NETSCAPE_DEMO_CIPHER_CHANGE_BUG
};
using TSslOptions = std::set<TSslOption>;

enum TBioOpenMethode { bomRead, bomWrite };
enum TInfoExtractMode { emCert, emCRL };

// The option bits as the published set stores them, and as OpenSSL 3 understands them (0 where
// OpenSSL 3 has no such option any more: the workaround is built in or the protocol is gone).
std::uint32_t SslOptionBit(TSslOption option);
std::uint64_t SslOptionBitOpenSsl3(TSslOption option);
std::uint32_t SslOptionsToBits(const TSslOptions& options);
TSslOptions SslOptionsFromBits(std::uint32_t bits);
std::uint64_t SslOptionBitsToOpenSsl3(std::uint32_t bits);

// Process-wide use of the OpenSSL libraries. LoadSsl binds them on first use and counts one user more;
// a failure raises and counts nothing. UnloadSsl counts one user less; the libraries stay loaded for
// the life of the process.
void LoadSsl();
void UnloadSsl();
int SslUserCount();

// Process-wide locks of the TLS layer (re-entrant).
std::recursive_mutex& SslCritSect();
std::recursive_mutex& LockPwdCB();
std::recursive_mutex& LockVerifyCB();
std::recursive_mutex& LockInfoCB();
std::recursive_mutex& LockRemSessCB();
std::recursive_mutex& LockNewSessCB();
std::recursive_mutex& LockGetSessCB();
std::recursive_mutex& LockClientCertCB();

bool SslFileExists(const std::string& name);
std::string SslQuoted(const std::string& s);

// Takes every queued OpenSSL error (the oldest only, unless dump) as text; empties the queue.
std::string LastOpenSslErrMsg(bool dump);

class TSslBaseComponent {
public:
  TSslBaseComponent();
  virtual ~TSslBaseComponent();
  TSslBaseComponent(const TSslBaseComponent&) = delete;
  TSslBaseComponent& operator=(const TSslBaseComponent&) = delete;

  void InitializeSsl();
  void FinalizeSsl();
  bool SslInitialized() const { return FSslInitialized; }

  TNetLogger* NetLogger() const { return FNetLogger.data(); }
  virtual void SetNetLogger(TNetLogger* logger);
  virtual bool CheckLogOptions(TLogOption option) const;
  virtual void DebugLog(TLogOption option, const std::string& msg);

  std::uint32_t LastSslError() const { return FLastSslError; }

  // Records the oldest queued OpenSSL error and raises E with the queued error text.
  template <class E>
  [[noreturn]] void RaiseLastOpenSslError(bool dump, const std::string& customMsg = {}) {
    throw E(LastOpenSslErrorMessage(dump, customMsg));
  }

protected:
  // Opens a file BIO; reading never asks for write access, so read-only files load.
  template <class E>
  BIO* OpenFileBioAs(const std::string& fileName, TBioOpenMethode how, bool dump) {
    if (fileName.empty()) throw E("File name not specified");
    if (how == bomRead && !SslFileExists(fileName)) throw E("File not found " + SslQuoted(fileName));
    BIO* bio = Netlibeay::f_BIO_new_file(fileName.c_str(), how == bomRead ? "r" : "w");
    if (!bio) RaiseLastOpenSslError<E>(dump, "Error on opening file " + SslQuoted(fileName));
    return bio;
  }
  std::string LastOpenSslErrorMessage(bool dump, const std::string& customMsg);

  std::uint32_t FLastSslError = 0;
  bool FSslInitialized = false;
  QPointer<TNetLogger> FNetLogger;  // cleared when the logger is freed
};

using TSslContextRemoveSession = std::function<void(class TSslContext* sender, SSL_SESSION* session)>;

// An object that points to a context (a TLS socket): told when the context is freed, so that it
// forgets the pointer instead of using a freed object.
class TSslContextUser {
public:
  virtual void SslContextFreed(class TSslContext* ctx) = 0;

protected:
  ~TSslContextUser() = default;
};

class TSslContext : public TSslBaseComponent {
public:
  TSslContext();
  ~TSslContext() override;

  void InitContext();
  void DeInitContext();
  bool GetIsCtxInitialized() const { return FSslCtx != nullptr; }
  SSL_CTX* SslCtx() const { return FSslCtx; }

  void Lock() { FLock.lock(); }
  void Unlock() { FLock.unlock(); }

  bool TrustCert(class TX509Base* cert);
  void LoadVerifyLocations(const std::string& caFile, const std::string& caPath);
  void LoadCertFromChainFile(const std::string& fileName);
  void LoadPKeyFromFile(const std::string& fileName);
  void LoadCrlFromFile(const std::string& fileName);
  void LoadCrlFromPath(const std::string& path);
  void AddClientCAFromFile(const std::string& fileName);
  void SetClientCAListFromFile(const std::string& fileName);
  // A new stack of certificates or revocation lists read from a PEM file, or null; the caller frees it.
  OPENSSL_STACK* LoadStackFromInfoFile(const std::string& fileName, TInfoExtractMode mode);
  BIO* OpenFileBio(const std::string& fileName, TBioOpenMethode how);

  const std::string& SslCertFile() const { return FSslCertFile; }
  void SetSslCertFile(const std::string& v);
  const std::string& SslPassPhrase() const { return FSslPassPhrase; }
  void SetSslPassPhrase(const std::string& v);
  const std::string& SslPrivKeyFile() const { return FSslPrivKeyFile; }
  void SetSslPrivKeyFile(const std::string& v);
  const std::string& SslCAFile() const { return FSslCAFile; }
  void SetSslCAFile(const std::string& v);
  const std::string& SslCAPath() const { return FSslCAPath; }
  void SetSslCAPath(const std::string& v);
  const std::string& SslCRLFile() const { return FSslCRLFile; }
  void SetSslCRLFile(const std::string& v);
  const std::string& SslCRLPath() const { return FSslCRLPath; }
  void SetSslCRLPath(const std::string& v);
  bool SslVerifyPeer() const { return FSslVerifyPeer; }
  void SetSslVerifyPeer(bool v);
  int SslVerifyDepth() const { return FSslVerifyDepth; }
  void SetSslVerifyDepth(int v) { FSslVerifyDepth = v; }
  TSslOptions SslOptions() const { return SslOptionsFromBits(FSslOptionsValue); }
  void SetSslOptions(const TSslOptions& v);
  std::uint32_t SslOptionsValue() const { return FSslOptionsValue; }
  const TSslVerifyPeerModes& SslVerifyPeerModes() const { return FSslVerifyPeerModes; }
  void SetSslVerifyPeerModes(const TSslVerifyPeerModes& v);
  int SslVerifyFlags() const { return FSslVerifyFlags; }
  TSslSessCacheModes SslSessionCacheModes() const;
  void SetSslSessionCacheModes(const TSslSessCacheModes& v);
  long SslSessionCacheModeValue() const { return FSslCacheModeValue; }
  const std::string& SslCipherList() const { return FSslCipherList; }
  void SetSslCipherList(const std::string& v);
  TSslVersionMethod SslVersionMethod() const { return FSslVersionMethod; }
  void SetSslVersionMethod(TSslVersionMethod v);
  std::uint32_t SslSessionTimeout() const { return FSslSessionTimeout; }
  void SetSslSessionTimeout(std::uint32_t v);
  int SslSessionCacheSize() const { return FSslSessionCacheSize; }
  void SetSslSessionCacheSize(int v);
  const std::string& SslDefaultSessionIDContext() const { return FSslDefaultSessionIDContext; }
  void SetSslDefaultSessionIDContext(const std::string& v);

  TSslContextRemoveSession OnRemoveSession;

  // The objects that point to this context; each hears of its end.
  void AddUser(TSslContextUser* user);
  void RemoveUser(TSslContextUser* user);

  // Callbacks given to OpenSSL.
  static int PasswordCallBack(char* buf, int size, int rwflag, void* userdata);
  static void RemoveSessionCallBack(SSL_CTX* ctx, SSL_SESSION* session);

private:
  void ApplyVerifyModes(const TSslVerifyPeerModes& modes);
  void RequireContext() const;
  bool AddCrlsToStore(OPENSSL_STACK* crls);

  SSL_CTX* FSslCtx = nullptr;
  std::recursive_mutex FLock;
  std::set<TSslContextUser*> FUsers;
  std::string FSslCertFile, FSslPassPhrase, FSslPrivKeyFile, FSslCAFile, FSslCAPath, FSslCRLFile, FSslCRLPath;
  bool FSslVerifyPeer = false;
  int FSslVerifyDepth = 9;
  std::uint32_t FSslOptionsValue = 0;
  TSslVerifyPeerModes FSslVerifyPeerModes{SslVerifyMode_PEER};
  int FSslVerifyFlags = SSL_VERIFY_PEER;
  long FSslCacheModeValue = 0;
  std::string FSslCipherList = "ALL:!ADH:RC4+RSA:+SSLv2:@STRENGTH";
  TSslVersionMethod FSslVersionMethod = sslV23;
  std::uint32_t FSslSessionTimeout = 0;
  int FSslSessionCacheSize = 20480;
  std::string FSslDefaultSessionIDContext;
};
