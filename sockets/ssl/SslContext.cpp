#include "sockets/ssl/SslContext.h"

#include "sockets/ssl/NetLibeay.h"
#include "sockets/ssl/NetSsleay.h"
#include "sockets/ssl/SslCallbacks.h"
#include "sockets/ssl/X509.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

using namespace Netlibeay;
using namespace Netssleay;

namespace {

int GSslUserCount = 0;

struct TOptionBits {
  std::uint32_t Old;
  std::uint64_t Now;
};

// Old bit of each member, in the declared order of TSslOption, with its OpenSSL 3 counterpart.
const TOptionBits kOptionBits[] = {
    {0x00400000, SSL_OP_CIPHER_SERVER_PREFERENCE},
    {0x00000001, 0},  // MICROSOFT_SESS_ID_BUG: workaround built in
    {0x00000002, 0},  // NETSCAPE_CHALLENGE_BUG: SSL 2 only
    {0x00000008, 0},  // NETSCAPE_REUSE_CIPHER_CHANGE_BUG: removed
    {0x00000010, 0},  // SSLREF2_REUSE_CERT_TYPE_BUG
    {0x00000020, 0},  // MICROSOFT_BIG_SSLV3_BUFFER
    {0x00000040, 0},  // MSIE_SSLV2_RSA_PADDING
    {0x00000080, 0},  // SSLEAY_080_CLIENT_DH_BUG
    {0x00000100, 0},  // TLS_D5_BUG
    {0x00000200, 0},  // TLS_BLOCK_PADDING_BUG
    {0x00800000, SSL_OP_TLS_ROLLBACK_BUG},
    {0x00000800, SSL_OP_DONT_INSERT_EMPTY_FRAGMENTS},
    {0x00100000, 0},  // SINGLE_DH_USE: always so
    {0x00200000, 0},  // EPHEMERAL_RSA: removed
    {0x01000000, 0},  // NO_SSLv2: SSL 2 is gone
    {0x02000000, SSL_OP_NO_SSLv3},
    {0x04000000, SSL_OP_NO_TLSv1},
    {0x08000000, 0},  // PKCS1_CHECK_1
    {0x10000000, 0},  // PKCS1_CHECK_2
    {0x20000000, 0},  // NETSCAPE_CA_DN_BUG
    {0x00010000, SSL_OP_NO_SESSION_RESUMPTION_ON_RENEGOTIATION},
    {0x40000000, 0},  // NETSCAPE_DEMO_CIPHER_CHANGE_BUG
};
constexpr int kOptionCount = sizeof(kOptionBits) / sizeof(kOptionBits[0]);
static_assert(kOptionCount == 22);

const TSslSessCacheMode kCacheModes[] = {sslSESS_CACHE_CLIENT, sslSESS_CACHE_SERVER,
                                         sslSESS_CACHE_NO_AUTO_CLEAR, sslSESS_CACHE_NO_INTERNAL_LOOKUP,
                                         sslSESS_CACHE_NO_INTERNAL_STORE};
long CacheModeBit(TSslSessCacheMode m) {
  switch (m) {
    case sslSESS_CACHE_CLIENT: return SSL_SESS_CACHE_CLIENT;
    case sslSESS_CACHE_SERVER: return SSL_SESS_CACHE_SERVER;
    case sslSESS_CACHE_NO_AUTO_CLEAR: return SSL_SESS_CACHE_NO_AUTO_CLEAR;
    case sslSESS_CACHE_NO_INTERNAL_LOOKUP: return SSL_SESS_CACHE_NO_INTERNAL_LOOKUP;
    case sslSESS_CACHE_NO_INTERNAL_STORE: return SSL_SESS_CACHE_NO_INTERNAL_STORE;
  }
  return 0;
}

int VerifyModeBit(TSslVerifyPeerMode m) {
  switch (m) {
    case SslVerifyMode_NONE: return SSL_VERIFY_NONE;
    case SslVerifyMode_PEER: return SSL_VERIFY_PEER;
    case SslVerifyMode_FAIL_IF_NO_PEER_CERT: return SSL_VERIFY_FAIL_IF_NO_PEER_CERT;
    case SslVerifyMode_CLIENT_ONCE: return SSL_VERIFY_CLIENT_ONCE;
  }
  return 0;
}


bool DirectoryExists(const std::string& name) {
  struct stat st{};
  return stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}


struct TStackPopFree {
  void (*FreeItem)(void*);
  void operator()(OPENSSL_STACK* st) const { f_OPENSSL_sk_pop_free(st, FreeItem); }
};

void FreeX509Info(void* p) { f_X509_INFO_free(static_cast<X509_INFO*>(p)); }
void FreeX509Crl(void* p) { f_X509_CRL_free(static_cast<X509_CRL*>(p)); }

}  // namespace

bool SslFileExists(const std::string& name) {
  struct stat st{};
  return stat(name.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::string SslQuoted(const std::string& s) { return "\"" + s + "\""; }

std::uint32_t SslOptionBit(TSslOption option) { return kOptionBits[option].Old; }
std::uint64_t SslOptionBitOpenSsl3(TSslOption option) { return kOptionBits[option].Now; }

std::uint32_t SslOptionsToBits(const TSslOptions& options) {
  std::uint32_t bits = 0;
  for (TSslOption o : options) bits |= kOptionBits[o].Old;
  return bits;
}

TSslOptions SslOptionsFromBits(std::uint32_t bits) {
  TSslOptions result;
  for (int i = 0; i < kOptionCount; ++i)
    if (bits & kOptionBits[i].Old) result.insert(static_cast<TSslOption>(i));
  return result;
}

std::uint64_t SslOptionBitsToOpenSsl3(std::uint32_t bits) {
  std::uint64_t result = 0;
  for (int i = 0; i < kOptionCount; ++i)
    if (bits & kOptionBits[i].Old) result |= kOptionBits[i].Now;
  return result;
}

std::recursive_mutex& SslCritSect() { static std::recursive_mutex m; return m; }
std::recursive_mutex& LockPwdCB() { static std::recursive_mutex m; return m; }
std::recursive_mutex& LockVerifyCB() { static std::recursive_mutex m; return m; }
std::recursive_mutex& LockInfoCB() { static std::recursive_mutex m; return m; }
std::recursive_mutex& LockRemSessCB() { static std::recursive_mutex m; return m; }
std::recursive_mutex& LockNewSessCB() { static std::recursive_mutex m; return m; }
std::recursive_mutex& LockGetSessCB() { static std::recursive_mutex m; return m; }
std::recursive_mutex& LockClientCertCB() { static std::recursive_mutex m; return m; }

void LoadSsl() {
  std::lock_guard<std::recursive_mutex> guard(SslCritSect());
  if (GSslUserCount == 0) {
    // A half-bound library is released at once: kept, the next start-up would take it as
    // loaded and call through an unbound entry point.
    if (!Netlibeay::Load()) {
      const std::string missing = Netlibeay::WhichFailedToLoad();
      Netlibeay::Unload();
      throw std::runtime_error("Unable to load LIBEAY DLL. Can't find " + missing);
    }
    bool sslBound = false;
    try {
      sslBound = Netssleay::Load();
    } catch (...) {
      Netlibeay::Unload();
      throw;
    }
    if (!sslBound) {
      const std::string missing = Netssleay::WhichFailedToLoad();
      Netssleay::Unload();
      Netlibeay::Unload();
      throw std::runtime_error("Unable to load SSLEAY DLL. Can't find " + missing);
    }
    if (f_OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr) != 1) {
      Netssleay::Unload();
      Netlibeay::Unload();
      throw std::runtime_error("Unable to initialize the OpenSSL library");
    }
    auto ms = static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                             std::chrono::steady_clock::now().time_since_epoch())
                                             .count());
    f_RAND_seed(&ms, sizeof ms);
  }
  ++GSslUserCount;
}

void UnloadSsl() {
  std::lock_guard<std::recursive_mutex> guard(SslCritSect());
  if (GSslUserCount > 0) --GSslUserCount;
}

int SslUserCount() {
  std::lock_guard<std::recursive_mutex> guard(SslCritSect());
  return GSslUserCount;
}

std::string LastOpenSslErrMsg(bool dump) {
  char buf[120];
  std::string result;
  unsigned long code = f_ERR_get_error();
  if (code == 0) return result;
  f_ERR_error_string_n(code, buf, sizeof buf);
  result = buf;
  if (dump) {
    while ((code = f_ERR_get_error()) != 0) {
      f_ERR_error_string_n(code, buf, sizeof buf);
      result += "\r\n";
      result += buf;
    }
  }
  return result;
}

// ---------------------------------------------------------------------------------------------------------

TSslBaseComponent::TSslBaseComponent() = default;

TSslBaseComponent::~TSslBaseComponent() { FinalizeSsl(); }

void TSslBaseComponent::InitializeSsl() {
  if (!FSslInitialized) {
    LoadSsl();
    FSslInitialized = true;
  }
}

void TSslBaseComponent::FinalizeSsl() {
  if (FSslInitialized) {
    UnloadSsl();
    FSslInitialized = false;
  }
}

void TSslBaseComponent::SetNetLogger(TNetLogger* logger) { FNetLogger = logger; }

bool TSslBaseComponent::CheckLogOptions(TLogOption option) const { return SslLogWanted(FNetLogger.data(), option); }

void TSslBaseComponent::DebugLog(TLogOption option, const std::string& msg) {
  SslLogLine(FNetLogger.data(), this, option, msg);
}

std::string TSslBaseComponent::LastOpenSslErrorMessage(bool dump, const std::string& customMsg) {
  FLastSslError = f_ERR_peek_error ? static_cast<std::uint32_t>(f_ERR_peek_error()) : 0;
  std::string errText = f_ERR_get_error ? LastOpenSslErrMsg(dump) : std::string();
  if (customMsg.empty()) return "\r\n" + errText + "\r\n";
  return "\r\n" + customMsg + "\r\n" + errText + "\r\n";
}

// ---------------------------------------------------------------------------------------------------------

TSslContext::TSslContext() = default;

TSslContext::~TSslContext() {
  const std::set<TSslContextUser*> users = std::move(FUsers);
  FUsers.clear();
  for (TSslContextUser* user : users) user->SslContextFreed(this);
  try {
    DeInitContext();
  } catch (...) {
  }
}

void TSslContext::AddUser(TSslContextUser* user) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  FUsers.insert(user);
}

void TSslContext::RemoveUser(TSslContextUser* user) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  FUsers.erase(user);
}

void TSslContext::RequireContext() const {
  if (!FSslCtx) throw ESslContextException("SSL context not initialized");
}

void TSslContext::InitContext() {
  InitializeSsl();
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (!FSslCtx) {
    const SSL_METHOD* method = nullptr;
    int pinned = 0;
    switch (FSslVersionMethod) {
      case sslV2: case sslV2_CLIENT: case sslV2_SERVER:
        throw ESslContextException("SSL 2 is not supported: use sslV23 (TLS)");
      case sslV3: case sslV3_CLIENT: case sslV3_SERVER:
        throw ESslContextException("SSL 3 is not supported: use sslV23 (TLS)");
      case sslTLS_V1: method = f_TLS_method(); pinned = TLS1_VERSION; break;
      case sslTLS_V1_CLIENT: method = f_TLS_client_method(); pinned = TLS1_VERSION; break;
      case sslTLS_V1_SERVER: method = f_TLS_server_method(); pinned = TLS1_VERSION; break;
      case sslV23: method = f_TLS_method(); break;
      case sslV23_CLIENT: method = f_TLS_client_method(); break;
      case sslV23_SERVER: method = f_TLS_server_method(); break;
      default: throw ESslContextException("Unknown SslVersionMethod");
    }
    FSslCtx = f_SSL_CTX_new(method);
    if (!FSslCtx) throw ESslContextException("Failed to initialize context");
    if (pinned) {
      f_SSL_CTX_ctrl(FSslCtx, SSL_CTRL_SET_MIN_PROTO_VERSION, pinned, nullptr);
      f_SSL_CTX_ctrl(FSslCtx, SSL_CTRL_SET_MAX_PROTO_VERSION, pinned, nullptr);
    }
  }
  try {
    f_SSL_CTX_set_default_passwd_cb(FSslCtx, &TSslContext::PasswordCallBack);
    f_SSL_CTX_set_default_passwd_cb_userdata(FSslCtx, this);
    LoadPKeyFromFile(FSslPrivKeyFile);
    LoadCertFromChainFile(FSslCertFile);
    LoadVerifyLocations(FSslCAFile, FSslCAPath);
    LoadCrlFromFile(FSslCRLFile);
    LoadCrlFromPath(FSslCRLPath);
    ApplyVerifyModes(FSslVerifyPeerModes);
    if (FSslOptionsValue != 0) f_SSL_CTX_set_options(FSslCtx, SslOptionBitsToOpenSsl3(FSslOptionsValue));
    if (FSslCipherList.empty()) throw ESslContextException("Cipher list empty");
    if (f_SSL_CTX_set_cipher_list(FSslCtx, FSslCipherList.c_str()) == 0)
      RaiseLastOpenSslError<ESslContextException>(true, "Error loading cipher list");
    f_SSL_CTX_set_session_cache_mode(FSslCtx, FSslCacheModeValue);
    if (!(FSslCacheModeValue & SSL_SESS_CACHE_NO_INTERNAL_STORE)) {
      if (f_SSL_CTX_set_ex_data(FSslCtx, 0, this) == 0)
        RaiseLastOpenSslError<ESslContextException>(true, "SSL_CTX_set_ex_data failed");
      f_SSL_CTX_sess_set_remove_cb(FSslCtx, &TSslContext::RemoveSessionCallBack);
      if (FSslSessionCacheSize != 20480) f_SSL_CTX_sess_set_cache_size(FSslCtx, FSslSessionCacheSize);
    }
    if (FSslCacheModeValue & SSL_SESS_CACHE_SERVER) {
      if (FSslSessionTimeout != 0) f_SSL_CTX_set_timeout(FSslCtx, FSslSessionTimeout);
      f_SSL_CTX_sess_set_new_cb(FSslCtx, &SslNewSessionCallBack);
      f_SSL_CTX_sess_set_get_cb(FSslCtx, &SslGetSessionCallBack);
      if (!FSslDefaultSessionIDContext.empty() &&
          f_SSL_CTX_set_session_id_context(
              FSslCtx, reinterpret_cast<const unsigned char*>(FSslDefaultSessionIDContext.data()),
              static_cast<unsigned>(FSslDefaultSessionIDContext.size())) == 0)
        RaiseLastOpenSslError<ESslContextException>(true, "ssl_ctx_set_session_id_context failed");
    }
  } catch (...) {
    f_SSL_CTX_free(FSslCtx);
    FSslCtx = nullptr;
    throw;
  }
}

void TSslContext::DeInitContext() {
  {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    if (FSslCtx) {
      f_SSL_CTX_set_ex_data(FSslCtx, 0, nullptr);
      f_SSL_CTX_sess_set_remove_cb(FSslCtx, nullptr);
      f_SSL_CTX_sess_set_new_cb(FSslCtx, nullptr);
      f_SSL_CTX_sess_set_get_cb(FSslCtx, nullptr);
      f_SSL_CTX_set_default_passwd_cb(FSslCtx, nullptr);
      f_SSL_CTX_set_default_passwd_cb_userdata(FSslCtx, nullptr);
      f_SSL_CTX_free(FSslCtx);
      FSslCtx = nullptr;
    }
  }
  FinalizeSsl();
}

void TSslContext::ApplyVerifyModes(const TSslVerifyPeerModes& modes) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (modes != FSslVerifyPeerModes) {
    int flags = 0;
    for (TSslVerifyPeerMode m : modes) flags |= VerifyModeBit(m);
    FSslVerifyFlags = flags;
    FSslVerifyPeerModes = modes;
  }
  if (!FSslCtx) return;
  if (FSslVerifyPeer) {
    if (f_SSL_CTX_get_verify_mode(FSslCtx) != FSslVerifyFlags) {
      f_SSL_CTX_set_verify(FSslCtx, FSslVerifyFlags, &SslPeerVerifyCallBack);
      f_SSL_CTX_set_verify_depth(FSslCtx, FSslVerifyDepth);
    }
  } else {
    f_SSL_CTX_set_verify(FSslCtx, SSL_VERIFY_NONE, nullptr);
    f_SSL_CTX_set_verify_depth(FSslCtx, 0);
  }
}

void TSslContext::SetSslVerifyPeerModes(const TSslVerifyPeerModes& v) { ApplyVerifyModes(v); }

void TSslContext::SetSslVerifyPeer(bool v) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (v != FSslVerifyPeer) {
    FSslVerifyPeer = v;
    ApplyVerifyModes(FSslVerifyPeerModes);
  }
}

void TSslContext::LoadPKeyFromFile(const std::string& fileName) {
  if (fileName.empty()) return;
  RequireContext();
  if (!SslFileExists(fileName)) throw ESslContextException("File not found " + SslQuoted(fileName));
  if (f_SSL_CTX_use_PrivateKey_file(FSslCtx, fileName.c_str(), SSL_FILETYPE_PEM) == 0) {
    if (CheckLogOptions(loSslInfo)) {
      // The queue is read without emptying it: the exception below carries the text.
      char buf[120];
      f_ERR_error_string_n(f_ERR_peek_error(), buf, sizeof buf);
      DebugLog(loSslInfo, buf);
    }
    RaiseLastOpenSslError<ESslContextException>(true, "Can't load private key file " + SslQuoted(fileName));
  }
}

void TSslContext::LoadCertFromChainFile(const std::string& fileName) {
  if (fileName.empty()) return;
  RequireContext();
  if (!SslFileExists(fileName)) throw ESslContextException("File not found " + SslQuoted(fileName));
  if (f_SSL_CTX_use_certificate_chain_file(FSslCtx, fileName.c_str()) == 0) {
    if (CheckLogOptions(loSslErr)) {
      char buf[120];
      f_ERR_error_string_n(f_ERR_peek_error(), buf, sizeof buf);
      DebugLog(loSslErr, buf);
    }
    RaiseLastOpenSslError<ESslContextException>(true, "Can't read certificate file " + SslQuoted(fileName));
  }
}

void TSslContext::LoadVerifyLocations(const std::string& caFile, const std::string& caPath) {
  RequireContext();
  if (!caFile.empty() && !SslFileExists(caFile)) throw ESslContextException("File not found " + SslQuoted(caFile));
  if (!caPath.empty() && !DirectoryExists(caPath))
    throw ESslContextException("Directory not found " + SslQuoted(caPath));
  if (!caFile.empty() || !caPath.empty()) {
    if (f_SSL_CTX_load_verify_locations(FSslCtx, caFile.empty() ? nullptr : caFile.c_str(),
                                        caPath.empty() ? nullptr : caPath.c_str()) == 0)
      RaiseLastOpenSslError<ESslContextException>(
          true, "Can't read CA File " + SslQuoted(FSslCAFile) + " or " + "CA Path " + SslQuoted(caPath));
  } else if (f_SSL_CTX_set_default_verify_paths(FSslCtx) != 1) {
    RaiseLastOpenSslError<ESslContextException>(true, "Error loading default CA file and/or directory");
  }
}

bool TSslContext::AddCrlsToStore(OPENSSL_STACK* crls) {
  X509_STORE* store = f_SSL_CTX_get_cert_store(FSslCtx);
  if (!store) throw ESslContextException("Error on opening store");
  bool added = false;
  while (f_OPENSSL_sk_num(crls) > 0) {
    X509_CRL* crl = static_cast<X509_CRL*>(f_OPENSSL_sk_shift(crls));
    if (f_X509_STORE_add_crl(store, crl) == 1) {
      added = true;
    } else if (CheckLogOptions(loSslErr)) {
      DebugLog(loSslErr, LastOpenSslErrMsg(true));
    } else {
      f_ERR_clear_error();
    }
    f_X509_CRL_free(crl);
  }
  return added;
}

void TSslContext::LoadCrlFromFile(const std::string& fileName) {
  if (fileName.empty()) return;
  std::lock_guard<std::recursive_mutex> guard(FLock);
  RequireContext();
  if (!SslFileExists(fileName)) throw ESslContextException("CRL file not found " + SslQuoted(fileName));
  std::unique_ptr<OPENSSL_STACK, TStackPopFree> crls(LoadStackFromInfoFile(fileName, emCRL),
                                                     TStackPopFree{FreeX509Crl});
  if (!crls) throw ESslContextException("Error on reading CRL file " + SslQuoted(fileName));
  // A revocation list only counts when the store checks revocation: turn that on with the first list.
  if (AddCrlsToStore(crls.get()))
    f_X509_STORE_set_flags(f_SSL_CTX_get_cert_store(FSslCtx), X509_V_FLAG_CRL_CHECK);
}

void TSslContext::LoadCrlFromPath(const std::string& path) {
  if (path.empty()) return;
  RequireContext();
  if (!DirectoryExists(path)) throw ESslContextException("CRL directory not found " + SslQuoted(path));
  std::string dir = path;
  if (dir.back() != '/') dir += '/';
  DIR* d = opendir(dir.c_str());
  if (!d) throw ESslContextException("CRL directory not found " + SslQuoted(path));
  std::vector<std::string> names;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    if (SslFileExists(dir + name)) names.push_back(dir + name);
  }
  closedir(d);
  for (const std::string& name : names) LoadCrlFromFile(name);
}

BIO* TSslContext::OpenFileBio(const std::string& fileName, TBioOpenMethode how) {
  return OpenFileBioAs<ESslContextException>(fileName, how, false);
}

OPENSSL_STACK* TSslContext::LoadStackFromInfoFile(const std::string& fileName, TInfoExtractMode mode) {
  if (fileName.empty()) return nullptr;
  BIO* bio = OpenFileBio(fileName, bomRead);
  STACK_OF(X509_INFO)* infos = f_PEM_X509_INFO_read_bio(bio, nullptr, nullptr, nullptr);
  std::unique_ptr<OPENSSL_STACK, TStackPopFree> guardInfos(reinterpret_cast<OPENSSL_STACK*>(infos),
                                                           TStackPopFree{FreeX509Info});
  struct TBioFree {
    BIO* B;
    ~TBioFree() { f_BIO_free(B); }
  } guardBio{bio};
  if (!infos) throw ESslContextException("Error reading info file " + SslQuoted(fileName));
  OPENSSL_STACK* raw = guardInfos.get();
  if (f_OPENSSL_sk_num(raw) <= 0) return nullptr;
  OPENSSL_STACK* result = f_OPENSSL_sk_new_null();
  if (!result) throw ESslContextException("Error creating Stack");
  while (f_OPENSSL_sk_num(raw) > 0) {
    X509_INFO* info = static_cast<X509_INFO*>(f_OPENSSL_sk_shift(raw));
    if (mode == emCert && info->x509) f_OPENSSL_sk_push(result, f_X509_dup(info->x509));
    else if (mode == emCRL && info->crl) f_OPENSSL_sk_push(result, f_X509_CRL_dup(info->crl));
    f_X509_INFO_free(info);
  }
  // A file without anything of the asked kind gives nothing, as an empty file does.
  if (f_OPENSSL_sk_num(result) == 0) {
    f_OPENSSL_sk_free(result);
    return nullptr;
  }
  return result;
}

void TSslContext::AddClientCAFromFile(const std::string& fileName) {
  if (fileName.empty()) return;
  RequireContext();
  if (!SslFileExists(fileName)) throw ESslContextException("Certificate file not found " + SslQuoted(fileName));
  TX509Base cert;
  cert.LoadFromPemFile(fileName, false, "");
  if (f_SSL_CTX_add_client_CA(FSslCtx, cert.X509()) != 1)
    RaiseLastOpenSslError<ESslContextException>(true, "Can't load client CA file " + SslQuoted(fileName));
}

void TSslContext::SetClientCAListFromFile(const std::string& fileName) {
  if (fileName.empty()) return;
  RequireContext();
  if (!SslFileExists(fileName)) throw ESslContextException("Certificate file not found " + SslQuoted(fileName));
  STACK_OF(X509_NAME)* names = f_SSL_load_client_CA_file(fileName.c_str());
  if (!names) throw ESslContextException("Error on reading certificate file " + SslQuoted(fileName));
  f_SSL_CTX_set_client_CA_list(FSslCtx, names);
}

bool TSslContext::TrustCert(TX509Base* cert) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  RequireContext();
  if (!cert || !cert->X509()) return false;
  if (f_X509_STORE_add_cert(f_SSL_CTX_get_cert_store(FSslCtx), cert->X509()) == 1) return true;
  if (CheckLogOptions(loSslErr)) DebugLog(loSslErr, LastOpenSslErrMsg(true));
  else f_ERR_clear_error();
  return false;
}

void TSslContext::SetSslCertFile(const std::string& v) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (v == FSslCertFile) return;
  FSslCertFile = v;
  if (FSslCtx) LoadCertFromChainFile(FSslCertFile);
}

void TSslContext::SetSslPrivKeyFile(const std::string& v) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (v == FSslPrivKeyFile) return;
  FSslPrivKeyFile = v;
  if (FSslCtx) LoadPKeyFromFile(FSslPrivKeyFile);
}

void TSslContext::SetSslCAFile(const std::string& v) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (v == FSslCAFile) return;
  FSslCAFile = v;
  if (FSslCtx) LoadVerifyLocations(FSslCAFile, FSslCAPath);
}

void TSslContext::SetSslCAPath(const std::string& v) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (v == FSslCAPath) return;
  FSslCAPath = v;
  if (FSslCtx) LoadVerifyLocations(FSslCAFile, FSslCAPath);
}

void TSslContext::SetSslPassPhrase(const std::string& v) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  FSslPassPhrase = v;
}

void TSslContext::SetSslCRLFile(const std::string& v) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  FSslCRLFile = v;
}

void TSslContext::SetSslCRLPath(const std::string& v) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  FSslCRLPath = v;
}

void TSslContext::SetSslOptions(const TSslOptions& v) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  FSslOptionsValue = SslOptionsToBits(v);
}

TSslSessCacheModes TSslContext::SslSessionCacheModes() const {
  TSslSessCacheModes result;
  for (TSslSessCacheMode m : kCacheModes)
    if (FSslCacheModeValue & CacheModeBit(m)) result.insert(m);
  return result;
}

void TSslContext::SetSslSessionCacheModes(const TSslSessCacheModes& v) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  long bits = 0;
  for (TSslSessCacheMode m : v) bits |= CacheModeBit(m);
  FSslCacheModeValue = bits;
}

void TSslContext::SetSslCipherList(const std::string& v) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  FSslCipherList = v;
}

void TSslContext::SetSslVersionMethod(TSslVersionMethod v) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  FSslVersionMethod = v;
}

void TSslContext::SetSslSessionTimeout(std::uint32_t v) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  FSslSessionTimeout = v;
}

void TSslContext::SetSslSessionCacheSize(int v) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  FSslSessionCacheSize = v;
}

void TSslContext::SetSslDefaultSessionIDContext(const std::string& value) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  std::string v = value.substr(0, SSL_MAX_SID_CTX_LENGTH);
  if (v == FSslDefaultSessionIDContext) return;
  FSslDefaultSessionIDContext = v;
  if (FSslCtx)
    f_SSL_CTX_set_session_id_context(
        FSslCtx, v.empty() ? nullptr : reinterpret_cast<const unsigned char*>(v.data()),
        static_cast<unsigned>(v.size()));
}

int TSslContext::PasswordCallBack(char* buf, int size, int, void* userdata) {
  std::lock_guard<std::recursive_mutex> guard(LockPwdCB());
  auto* ctx = static_cast<TSslContext*>(userdata);
  if (!ctx || !buf) return 0;
  const std::string& pass = ctx->FSslPassPhrase;
  if (pass.empty() || static_cast<int>(pass.size()) + 1 > size) return 0;
  std::memcpy(buf, pass.c_str(), pass.size() + 1);
  return static_cast<int>(pass.size());
}

void TSslContext::RemoveSessionCallBack(SSL_CTX* sslCtx, SSL_SESSION* session) {
  std::lock_guard<std::recursive_mutex> guard(LockRemSessCB());
  auto* ctx = static_cast<TSslContext*>(f_SSL_CTX_get_ex_data(sslCtx, 0));
  if (!ctx) return;
  try {
    if (ctx->CheckLogOptions(loSslInfo)) ctx->DebugLog(loSslInfo, "RSCB> Session removed");
    if (ctx->OnRemoveSession) ctx->OnRemoveSession(ctx, session);
  } catch (const std::exception& e) {
    // Nothing may unwind through OpenSSL; the handler's failure is only logged.
    if (ctx->CheckLogOptions(loSslErr)) ctx->DebugLog(loSslErr, std::string("RSCB> ") + e.what());
  } catch (...) {
  }
}
