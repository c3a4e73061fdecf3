#pragma once
// The OpenSSL callbacks of the TLS layer. Each OpenSSL connection carries, as its extra data at index 0,
// the TSslCallbackTarget (the TLS socket) it runs for; the trampolines below find it, serialise each kind
// of callback under its own process-wide lock, and keep every C++ exception on this side of OpenSSL:
// a throwing handler makes the callback fail and the exception is handed to the target's
// background-exception path.
#include "sockets/ssl/OpenSslTypes.h"

#include <exception>

class TSslCallbackTarget {
public:
  virtual ~TSslCallbackTarget() = default;
  virtual int SslVerifyPeerCallback(int ok, X509_STORE_CTX* store) = 0;
  virtual void SslInfoCallback(const SSL* ssl, int where, int ret) = 0;
  virtual int SslClientCertCallback(SSL* ssl, X509** x509, EVP_PKEY** pkey) = 0;
  virtual int SslNewSessionCallback(SSL* ssl, SSL_SESSION* session) = 0;
  virtual SSL_SESSION* SslGetSessionCallback(SSL* ssl, const unsigned char* id, int len, int* copy) = 0;
  // Receives an exception that a callback caught; it must not throw.
  virtual void SslCallbackException(std::exception_ptr e) noexcept = 0;
  // Marks the target as inside an OpenSSL callback (callbacks may nest).
  virtual void SslEnterCallback() noexcept = 0;
  virtual void SslLeaveCallback() noexcept = 0;
};

// Stores / finds the target of a connection.
bool SslSetCallbackTarget(SSL* ssl, TSslCallbackTarget* target);
TSslCallbackTarget* SslGetCallbackTarget(const SSL* ssl);

int SslPeerVerifyCallBack(int ok, X509_STORE_CTX* store);
void SslInfoCallBack(const SSL* ssl, int where, int ret);
int SslClientCertCallBack(SSL* ssl, X509** x509, EVP_PKEY** pkey);
int SslNewSessionCallBack(SSL* ssl, SSL_SESSION* session);
SSL_SESSION* SslGetSessionCallBack(SSL* ssl, const unsigned char* id, int len, int* copy);
