#include "sockets/ssl/SslCallbacks.h"

#include "sockets/ssl/NetLibeay.h"
#include "sockets/ssl/NetSsleay.h"
#include "sockets/ssl/SslContext.h"

using namespace Netlibeay;
using namespace Netssleay;

namespace {

// Runs body for the target under lock; an exception ends the callback with `failed`.
template <class R, class Body>
R Guarded(std::recursive_mutex& lock, TSslCallbackTarget* target, R failed, Body body) {
  if (!target) return failed;
  std::lock_guard<std::recursive_mutex> guard(lock);
  target->SslEnterCallback();
  R result = failed;
  try {
    result = body(target);
  } catch (...) {
    target->SslCallbackException(std::current_exception());
    result = failed;
  }
  target->SslLeaveCallback();
  return result;
}

}  // namespace

bool SslSetCallbackTarget(SSL* ssl, TSslCallbackTarget* target) {
  return f_SSL_set_ex_data(ssl, 0, target) == 1;
}

TSslCallbackTarget* SslGetCallbackTarget(const SSL* ssl) {
  return ssl ? static_cast<TSslCallbackTarget*>(f_SSL_get_ex_data(ssl, 0)) : nullptr;
}

int SslPeerVerifyCallBack(int ok, X509_STORE_CTX* store) {
  SSL* ssl = static_cast<SSL*>(f_X509_STORE_CTX_get_ex_data(store, f_SSL_get_ex_data_X509_STORE_CTX_idx()));
  TSslCallbackTarget* target = SslGetCallbackTarget(ssl);
  if (!target) return ok;
  // A handler that throws fails the verification.
  return Guarded<int>(LockVerifyCB(), target, 0,
                      [&](TSslCallbackTarget* t) { return t->SslVerifyPeerCallback(ok, store); });
}

void SslInfoCallBack(const SSL* ssl, int where, int ret) {
  Guarded<int>(LockInfoCB(), SslGetCallbackTarget(ssl), 0, [&](TSslCallbackTarget* t) {
    t->SslInfoCallback(ssl, where, ret);
    return 0;
  });
}

int SslClientCertCallBack(SSL* ssl, X509** x509, EVP_PKEY** pkey) {
  return Guarded<int>(LockClientCertCB(), SslGetCallbackTarget(ssl), 0,
                      [&](TSslCallbackTarget* t) { return t->SslClientCertCallback(ssl, x509, pkey); });
}

int SslNewSessionCallBack(SSL* ssl, SSL_SESSION* session) {
  return Guarded<int>(LockNewSessCB(), SslGetCallbackTarget(ssl), 0,
                      [&](TSslCallbackTarget* t) { return t->SslNewSessionCallback(ssl, session); });
}

SSL_SESSION* SslGetSessionCallBack(SSL* ssl, const unsigned char* id, int len, int* copy) {
  return Guarded<SSL_SESSION*>(LockGetSessCB(), SslGetCallbackTarget(ssl), nullptr, [&](TSslCallbackTarget* t) {
    return t->SslGetSessionCallback(ssl, id, len, copy);
  });
}
