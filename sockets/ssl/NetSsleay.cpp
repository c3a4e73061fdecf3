#include "sockets/ssl/NetSsleay.h"

#include "sockets/ssl/NetLibeay.h"

#include "sockets/ssl/EntryPoints.h"

#include <dlfcn.h>

#include <iterator>

#include <cstring>

namespace Netssleay {

#define NETSSLEAY_DEFINE(name) decltype(&::name) f_##name = nullptr;
NETSSLEAY_ENTRY_POINTS(NETSSLEAY_DEFINE)
#undef NETSSLEAY_DEFINE

std::string GSSLEAY_DLL_Name = "libssl.so.3";
std::string GSSLEAY_DLL_FileName = "*NOT_LOADED*";
void* GSSLEAY_DLL_Handle = nullptr;
std::string GSSLEAY_DLL_FileVersion;
std::string GSSLEAY_DLL_FileDescription;
bool ICS_SSL_NO_RENEGOTIATION = false;

namespace {

#define NETSSLEAY_ENTRY(name) TEntryPoint{#name, reinterpret_cast<void**>(&f_##name)},
const TEntryPoint kEntries[] = {NETSSLEAY_ENTRY_POINTS(NETSSLEAY_ENTRY)};
#undef NETSSLEAY_ENTRY

void* DlsymLookup(void* handle, const char* name) { return dlsym(handle, name); }

}  // namespace

bool BindEntryPoints(void* (*lookup)(void*, const char*), void* context) {
  return BindEntryPointTable(kEntries, std::size(kEntries), lookup, context);
}

std::string WhichFailedToLoad() { return UnboundEntryPoints(kEntries, std::size(kEntries)); }

void Unload() {
  ClearEntryPointTable(kEntries, std::size(kEntries));
  if (GSSLEAY_DLL_Handle) dlclose(GSSLEAY_DLL_Handle);
  GSSLEAY_DLL_Handle = nullptr;
  GSSLEAY_DLL_FileName = "*NOT_LOADED*";
}

bool Load() {
  if (GSSLEAY_DLL_Handle) return true;
  dlerror();
  void* handle = dlopen(GSSLEAY_DLL_Name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* err = dlerror();
    std::string text = err ? err : "unknown error";
    if (text.find("No such file") != std::string::npos)
      throw ENetSsleayException("File not found: " + GSSLEAY_DLL_Name);
    throw ENetSsleayException("Unable to load " + GSSLEAY_DLL_Name + ". Error: " + text);
  }
  GSSLEAY_DLL_Handle = handle;
  Dl_info info{};
  void* addr = dlsym(handle, "SSL_new");
  GSSLEAY_DLL_FileName = addr && dladdr(addr, &info) && info.dli_fname ? info.dli_fname : GSSLEAY_DLL_Name;
  // No version resource here: the crypto library's version text stands for it.
  GSSLEAY_DLL_FileVersion = Netlibeay::OpenSslVersion();
  GSSLEAY_DLL_FileDescription = "OpenSSL ssl library";
  return BindEntryPoints(DlsymLookup, handle);
}

int f_SSL_state(const SSL* ssl) {
  if (f_SSL_is_init_finished(ssl)) return SSL_ST_OK_OLD;
  int low = static_cast<int>(f_SSL_get_state(ssl)) & 0xFFF;
  return (f_SSL_is_server(ssl) ? SSL_ST_ACCEPT_OLD : SSL_ST_CONNECT_OLD) | low;
}

long f_SSL_CTX_set_session_cache_mode(SSL_CTX* ctx, long mode) {
  return f_SSL_CTX_ctrl(ctx, SSL_CTRL_SET_SESS_CACHE_MODE, mode, nullptr);
}
long f_SSL_CTX_sess_set_cache_size(SSL_CTX* ctx, long size) {
  return f_SSL_CTX_ctrl(ctx, SSL_CTRL_SET_SESS_CACHE_SIZE, size, nullptr);
}
long f_SSL_CTX_add_extra_chain_cert(SSL_CTX* ctx, X509* cert) {
  return f_SSL_CTX_ctrl(ctx, SSL_CTRL_EXTRA_CHAIN_CERT, 0, cert);
}
long f_SSL_get_mode(SSL* ssl) { return f_SSL_ctrl(ssl, SSL_CTRL_MODE, 0, nullptr); }
long f_SSL_set_mode(SSL* ssl, long mode) { return f_SSL_ctrl(ssl, SSL_CTRL_MODE, mode, nullptr); }
bool SessionReused(SSL* ssl) { return f_SSL_session_reused(ssl) == 1; }
bool f_SSL_want_nothing(const SSL* ssl) { return f_SSL_want(ssl) == SSL_NOTHING; }
bool f_SSL_want_write(const SSL* ssl) { return f_SSL_want(ssl) == SSL_WRITING; }
bool f_SSL_want_read(const SSL* ssl) { return f_SSL_want(ssl) == SSL_READING; }
bool f_SSL_want_x509_lookup(const SSL* ssl) { return f_SSL_want(ssl) == SSL_X509_LOOKUP; }

}  // namespace Netssleay
