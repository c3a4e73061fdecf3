#pragma once
// The OpenSSL ssl library, loaded by name at run time and bound entry point by entry point.
// Helpers below stand for what the old interface offered as macros or removed functions.
#include "sockets/ssl/OpenSslTypes.h"

#include <stdexcept>
#include <string>

#define NETSSLEAY_ENTRY_POINTS(X)                                                                      \
  X(SSL_do_handshake) X(SSL_renegotiate) X(SSL_renegotiate_pending) X(OPENSSL_init_ssl) X(TLS_method)  \
  X(TLS_client_method) X(TLS_server_method) X(SSL_CTX_new) X(SSL_new) X(SSL_set_bio) X(SSL_set_session) \
  X(SSL_get_session) X(SSL_get_rbio) X(SSL_get_wbio) X(SSL_get1_session) X(SSL_SESSION_free)           \
  X(SSL_SESSION_set_timeout) X(SSL_SESSION_get_timeout) X(SSL_SESSION_set_time) X(SSL_SESSION_get_time) \
  X(d2i_SSL_SESSION) X(i2d_SSL_SESSION) X(SSL_CTX_set_session_id_context) X(SSL_set_session_id_context) \
  X(SSL_accept) X(SSL_connect) X(SSL_ctrl) X(SSL_read) X(SSL_want) X(SSL_write) X(SSL_get_error)       \
  X(SSL_get_shutdown) X(SSL_shutdown) X(SSL_clear) X(SSL_free) X(SSL_set_ex_data) X(SSL_get_ex_data)    \
  X(SSL_get1_peer_certificate) X(SSL_get_verify_result) X(SSL_set_verify_result)                       \
  X(SSL_set_info_callback) X(SSL_set_connect_state) X(SSL_set_shutdown) X(SSL_set_accept_state)        \
  X(SSL_get_version) X(SSL_version) X(SSL_get_current_cipher) X(SSL_get_state) X(SSL_in_init)          \
  X(SSL_is_init_finished) X(SSL_is_server) X(SSL_state_string_long) X(SSL_alert_type_string_long)             \
  X(SSL_alert_desc_string_long) X(SSL_CIPHER_get_bits) X(SSL_CIPHER_get_name) X(SSL_CIPHER_description) \
  X(SSL_CTX_free) X(SSL_CTX_set_timeout) X(SSL_CTX_use_certificate_chain_file)                         \
  X(SSL_CTX_use_certificate_file) X(SSL_CTX_set_default_passwd_cb)                                     \
  X(SSL_CTX_set_default_passwd_cb_userdata) X(SSL_CTX_use_PrivateKey_file)                             \
  X(SSL_CTX_load_verify_locations) X(SSL_CTX_set_default_verify_paths) X(SSL_CTX_set_verify)           \
  X(SSL_set_verify) X(SSL_CTX_get_verify_mode) X(SSL_CTX_set_verify_depth) X(SSL_CTX_ctrl)             \
  X(SSL_CTX_set_options) X(SSL_CTX_get_options) X(SSL_CTX_set_cipher_list) X(SSL_CTX_set_ex_data) X(SSL_CTX_get_ex_data)      \
  X(SSL_CTX_get_cert_store) X(SSL_CTX_set_trust) X(SSL_CTX_set_client_cert_cb)                         \
  X(SSL_CTX_get_client_cert_cb) X(SSL_CTX_sess_set_remove_cb) X(SSL_CTX_sess_get_remove_cb)            \
  X(SSL_CTX_sess_set_get_cb) X(SSL_CTX_sess_get_get_cb) X(SSL_CTX_sess_set_new_cb)                     \
  X(SSL_CTX_sess_get_new_cb) X(SSL_SESSION_get_id) X(SSL_session_reused) X(SSL_CTX_add_client_CA)      \
  X(SSL_CTX_set_client_CA_list) X(SSL_load_client_CA_file) X(SSL_get_ex_data_X509_STORE_CTX_idx)       \
  X(BIO_f_ssl) X(SSL_set_fd) X(SSL_set_rfd) X(SSL_set_wfd) X(SSL_get_fd) X(SSL_get_rfd) X(SSL_get_wfd)

namespace Netssleay {

class ENetSsleayException : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

#define NETSSLEAY_DECLARE(name) extern decltype(&::name) f_##name;
NETSSLEAY_ENTRY_POINTS(NETSSLEAY_DECLARE)
#undef NETSSLEAY_DECLARE

extern std::string GSSLEAY_DLL_Name;
extern std::string GSSLEAY_DLL_FileName;
extern void* GSSLEAY_DLL_Handle;
extern std::string GSSLEAY_DLL_FileVersion;
extern std::string GSSLEAY_DLL_FileDescription;

// Process-wide switch: when set, the TLS layer refuses renegotiation, its own and the peer's.
extern bool ICS_SSL_NO_RENEGOTIATION;

bool Load();
// Releases the library and forgets its entry points, so that the next Load starts afresh.
void Unload();
std::string WhichFailedToLoad();
bool BindEntryPoints(void* (*lookup)(void* context, const char* name), void* context);

// Handshake state in the old numbering: 3 when the handshake is complete, else 0x1000 (connect)
// or 0x2000 (accept) with the low bits of OpenSSL's own state.
constexpr int SSL_ST_CONNECT_OLD = 0x1000;
constexpr int SSL_ST_ACCEPT_OLD = 0x2000;
constexpr int SSL_ST_OK_OLD = 0x03;
int f_SSL_state(const SSL* ssl);

// Control-call helpers.
long f_SSL_CTX_set_session_cache_mode(SSL_CTX* ctx, long mode);
long f_SSL_CTX_sess_set_cache_size(SSL_CTX* ctx, long size);
long f_SSL_CTX_add_extra_chain_cert(SSL_CTX* ctx, X509* cert);
long f_SSL_get_mode(SSL* ssl);
long f_SSL_set_mode(SSL* ssl, long mode);
bool SessionReused(SSL* ssl);
bool f_SSL_want_nothing(const SSL* ssl);
bool f_SSL_want_write(const SSL* ssl);
bool f_SSL_want_read(const SSL* ssl);
bool f_SSL_want_x509_lookup(const SSL* ssl);

}  // namespace Netssleay
