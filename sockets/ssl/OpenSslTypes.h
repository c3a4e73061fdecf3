#pragma once
// OpenSSL 3 headers, for types and constants only: nothing of them is linked, every
// entry point is bound by name at run time (NetLibeay / NetSsleay).
#ifndef OPENSSL_API_COMPAT
#define OPENSSL_API_COMPAT 30000
#endif
#ifndef OPENSSL_NO_DEPRECATED
#define OPENSSL_NO_DEPRECATED
#endif
#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/conf.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
