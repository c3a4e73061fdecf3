#pragma once
// The OpenSSL crypto library, loaded by name at run time and bound entry point by entry point.
// Each entry point is a pointer f_<name> of the OpenSSL 3 function's own type; functions that OpenSSL 3
// removed or turned into macros are reached through their OpenSSL 3 equivalents or the helpers below.
#include "sockets/ssl/OpenSslTypes.h"

#include <stdexcept>
#include <string>

// X(name): bound from the crypto library under that name, in this order.
#define NETLIBEAY_ENTRY_POINTS(X)                                                                      \
  X(OpenSSL_version_num) X(OpenSSL_version) X(ERR_get_error_all) X(ERR_peek_error) X(ERR_get_error)    \
  X(ERR_error_string) X(ERR_error_string_n) X(ERR_clear_error) X(RAND_seed) X(BIO_new)                 \
  X(BIO_new_socket) X(BIO_new_fd) X(BIO_new_file) X(BIO_new_mem_buf) X(BIO_new_bio_pair) X(BIO_ctrl)   \
  X(BIO_ctrl_pending) X(BIO_ctrl_get_write_guarantee) X(BIO_ctrl_get_read_request) X(d2i_X509_bio)     \
  X(d2i_X509) X(BIO_read) X(BIO_nread) X(BIO_nread0) X(BIO_nwrite) X(BIO_nwrite0) X(BIO_write)         \
  X(BIO_free) X(BIO_free_all) X(BIO_gets) X(BIO_puts) X(BIO_push) X(BIO_s_mem) X(BIO_get_retry_BIO)                    \
  X(BIO_get_retry_reason) X(BIO_test_flags) X(X509_dup) X(X509_STORE_add_cert)                         \
  X(X509_STORE_CTX_get_ex_data) X(X509_STORE_CTX_get_current_cert) X(X509_STORE_CTX_get_error)        \
  X(X509_STORE_CTX_get_error_depth) X(X509_STORE_CTX_get0_chain) X(X509_STORE_CTX_set0_trusted_stack) \
  X(X509_STORE_add_crl) X(X509_STORE_free) X(X509_verify_cert_error_string) X(X509_get_issuer_name)    \
  X(X509_get_subject_name) X(X509_get_serialNumber) X(X509_NAME_oneline) X(X509_NAME_get_text_by_NID)  \
  X(X509_NAME_get_index_by_NID) X(ASN1_STRING_free) X(X509_NAME_free) X(X509_get_ext)                  \
  X(X509_get_ext_count) X(X509_free) X(X509_CRL_free) X(X509V3_EXT_get) X(X509V3_EXT_print)            \
  X(X509V3_EXT_d2i) X(X509V3_conf_free) X(X509_EXTENSION_get_object) X(X509_EXTENSION_get_data)        \
  X(X509_EXTENSION_get_critical) X(X509_subject_name_hash) X(X509_print) X(X509_digest)                \
  X(X509_check_private_key) X(EVP_sha1) X(EVP_PKEY_new) X(EVP_PKEY_free) X(EVP_PKEY_Q_keygen) X(OBJ_nid2sn) X(OBJ_obj2nid) X(OPENSSL_sk_num) X(OPENSSL_sk_value)              \
  X(OPENSSL_sk_new_null) X(OPENSSL_sk_free) X(OPENSSL_sk_pop_free) X(OPENSSL_sk_push)                  \
  X(OPENSSL_sk_delete) X(OPENSSL_sk_pop) X(OPENSSL_sk_find) X(OPENSSL_sk_insert) X(OPENSSL_sk_dup)     \
  X(OPENSSL_sk_shift) X(PEM_write_bio_X509) X(PEM_write_bio_X509_REQ) X(PEM_write_bio_X509_CRL)        \
  X(PEM_read_bio_X509_CRL) X(PEM_read_bio_X509) X(PEM_X509_INFO_read_bio) X(CRYPTO_free)               \
  X(X509_NAME_ENTRY_get_object) X(X509_NAME_get_entry) X(X509_NAME_entry_count)                        \
  X(X509_NAME_ENTRY_get_data) X(X509_set_version) X(ASN1_STRING_to_UTF8) X(ASN1_INTEGER_set)           \
  X(ASN1_INTEGER_get) X(ASN1_STRING_print) X(ASN1_item_d2i) X(ASN1_item_free) X(i2a_ASN1_OBJECT)       \
  X(X509_gmtime_adj) X(X509_set_pubkey) X(X509_new) X(X509_NAME_add_entry_by_txt)                      \
  X(X509_NAME_add_entry_by_NID) X(X509_NAME_new) X(X509_set_issuer_name) X(X509_sign)                  \
  X(X509_INFO_free) X(X509_CRL_dup) X(X509_PKEY_free) X(i2d_X509) X(i2d_PrivateKey)                    \
  X(PEM_write_bio_PrivateKey) X(PEM_read_bio_PrivateKey) X(X509_get_pubkey) X(X509_PUBKEY_free)        \
  X(CONF_modules_unload) X(X509_get0_notBefore) X(X509_get0_notAfter) X(ASN1_STRING_type)              \
  X(ASN1_STRING_length) X(ASN1_STRING_get0_data) X(ASN1_INTEGER_get_int64) X(ASN1_INTEGER_to_BN)       \
  X(X509_STORE_set_flags) X(BN_bn2hex) X(BN_free) X(EVP_PKEY_up_ref) X(X509_check_host) X(X509_check_ip_asc)    \
  X(ASN1_STRING_type_new) X(ASN1_STRING_set)

namespace Netlibeay {

class ENetLibeayException : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

#define NETLIBEAY_DECLARE(name) extern decltype(&::name) f_##name;
NETLIBEAY_ENTRY_POINTS(NETLIBEAY_DECLARE)
#undef NETLIBEAY_DECLARE

// The file loaded by name, and the full path of the module once loaded.
extern std::string GLIBEAY_DLL_Name;
extern std::string GLIBEAY_DLL_FileName;
extern void* GLIBEAY_DLL_Handle;
// The library's version number, as OpenSSL_version_num gives it.
extern unsigned long GLIBEAY_DLL_FileVersion;

// The supported version range: OpenSSL 3.x.
constexpr unsigned long kMinVersion = 0x30000000UL;
constexpr unsigned long kMaxVersion = 0x3FFFFFFFUL;

// Loads and binds the library (once per process; it stays loaded). False when entry points are
// missing (they stay unbound and WhichFailedToLoad names them); throws ENetLibeayException when
// the file cannot be loaded or its version is out of range.
bool Load();
// Releases the library and forgets its entry points, so that the next Load starts afresh.
void Unload();
// For each unbound entry point, a blank and its name, in binding order.
std::string WhichFailedToLoad();
// Binds every entry point through lookup; true when all were found.
bool BindEntryPoints(void* (*lookup)(void* context, const char* name), void* context);
// Throws the "Unsupported OpenSSL version" error when version lies outside the supported range.
void CheckVersion(unsigned long version, const std::string& fileName);

std::string OpenSslVersion();
std::string OpenSslCompilerFlags();
std::string OpenSslBuiltOn();
std::string OpenSslPlatForm();
std::string OpenSslDir();

// Helpers standing for OpenSSL macros (the macros would call functions that are not linked).
#undef BIO_get_flags
#undef BIO_should_read
#undef BIO_should_write
#undef BIO_should_io_special
#undef BIO_retry_type
#undef BIO_should_retry
int BIO_get_flags(BIO* b);
bool BIO_should_read(BIO* b);
bool BIO_should_write(BIO* b);
bool BIO_should_io_special(BIO* b);
int BIO_retry_type(BIO* b);
bool BIO_should_retry(BIO* b);

const ASN1_TIME* f_Net_X509_get_notBefore(X509* cert);
const ASN1_TIME* f_Net_X509_get_notAfter(X509* cert);

// Date-time values: days since 1899-12-30 with the time as fraction, UTC.
using TDateTime = double;
constexpr TDateTime kMinDateTime = -693593.0;           // 0001-01-01
constexpr TDateTime kMaxDateTime = 2958465.99999999;    // 9999-12-31 23:59:59.999
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second);
TDateTime NowUTC();
// Converts an ASN.1 UTC or generalized time to UTC; false (result = kMinDateTime) on any fault.
bool Asn1ToUTDateTime(const ASN1_TIME* tm, TDateTime& result);
// The same on the raw parts of the time (type 23 UTC time, 24 generalized time); `currentYear`
// puts two-digit years in their century.
bool Asn1TextToUTDateTime(int type, const std::string& text, int currentYear, TDateTime& result);
std::string Asn1ToString(const ASN1_STRING* s);

}  // namespace Netlibeay
