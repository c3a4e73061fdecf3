// TLS context: defaults, files, pass phrases, trusted authorities, revocation and verification,
// checked by handshakes between two OpenSSL connections over a memory BIO pair.
#include "sockets/NetLogger.h"
#include "sockets/ssl/NetLibeay.h"
#include "sockets/ssl/NetSsleay.h"
#include "sockets/ssl/SslContext.h"
#include "sockets/ssl/X509.h"
#include "common/tests/support/AsUser.h"
#include "support/TestPki.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

using namespace Netlibeay;
using namespace Netssleay;
using namespace ssltest;

namespace {

// Runs a handshake between a client and a server connection of the two contexts; returns the
// client's verify result, or -1 when the handshake did not complete.
long MemoryHandshake(TSslContext& client, TSslContext& server, const char* host = nullptr) {
  SSL* c = f_SSL_new(client.SslCtx());
  SSL* s = f_SSL_new(server.SslCtx());
  BIO *cb = nullptr, *sb = nullptr;
  f_BIO_new_bio_pair(&cb, 0, &sb, 0);
  f_SSL_set_bio(c, cb, cb);
  f_SSL_set_bio(s, sb, sb);
  f_SSL_set_connect_state(c);
  f_SSL_set_accept_state(s);
  if (host) f_SSL_ctrl(c, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name, const_cast<char*>(host));
  bool cDone = false, sDone = false, failed = false;
  for (int i = 0; i < 50 && !(cDone && sDone) && !failed; ++i) {
    if (!cDone) {
      int r = f_SSL_do_handshake(c);
      if (r == 1) cDone = true;
      else if (int e = f_SSL_get_error(c, r); e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) failed = true;
    }
    if (!sDone) {
      int r = f_SSL_do_handshake(s);
      if (r == 1) sDone = true;
      else if (int e = f_SSL_get_error(s, r); e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) failed = true;
    }
  }
  long result = (cDone && sDone) ? f_SSL_get_verify_result(c) : -1;
  if (result == -1) {
    // The reason the client gave up, when verification made it.
    long v = f_SSL_get_verify_result(c);
    if (v != X509_V_OK) result = -v - 1000;
  }
  f_ERR_clear_error();
  f_SSL_free(c);
  f_SSL_free(s);
  return result;
}

class SslContextTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    Pki = new TTestPki();
    Server = Pki->Issue("server", "/CN=localhost", "DNS:localhost,IP:127.0.0.1");
    Revoked = Pki->Issue("revoked", "/CN=revoked.test", "DNS:revoked.test");
    Crl = Pki->Revoke(Revoked.Cert);
  }
  static void TearDownTestSuite() {
    delete Pki;
    Pki = nullptr;
  }
  static TTestPki* Pki;
  static TCertFiles Server, Revoked;
  static std::string Crl;
};
TTestPki* SslContextTest::Pki = nullptr;
TCertFiles SslContextTest::Server, SslContextTest::Revoked;
std::string SslContextTest::Crl;


}  // namespace

TEST(SslContextDefaults, FreshContext) {
  TSslContext ctx;
  EXPECT_EQ(ctx.SslCipherList(), "ALL:!ADH:RC4+RSA:+SSLv2:@STRENGTH");
  EXPECT_EQ(ctx.SslVersionMethod(), sslV23);
  EXPECT_EQ(ctx.SslVerifyDepth(), 9);
  EXPECT_EQ(ctx.SslVerifyPeerModes(), TSslVerifyPeerModes{SslVerifyMode_PEER});
  EXPECT_EQ(ctx.SslSessionCacheSize(), 20480);
  EXPECT_EQ(ctx.SslSessionTimeout(), 0u);
  EXPECT_TRUE(ctx.SslOptions().empty());
  EXPECT_TRUE(ctx.SslSessionCacheModes().empty());
  EXPECT_FALSE(ctx.SslVerifyPeer());
  EXPECT_FALSE(ctx.GetIsCtxInitialized());
  ctx.SetSslDefaultSessionIDContext(std::string(40, 'x') + "yz");
  EXPECT_EQ(ctx.SslDefaultSessionIDContext(), std::string(32, 'x'));
  ctx.SetSslSessionCacheModes({sslSESS_CACHE_SERVER, sslSESS_CACHE_NO_INTERNAL_STORE});
  EXPECT_EQ(ctx.SslSessionCacheModeValue(), 0x202);
  EXPECT_EQ(ctx.SslSessionCacheModes(), (TSslSessCacheModes{sslSESS_CACHE_SERVER, sslSESS_CACHE_NO_INTERNAL_STORE}));
  EXPECT_EQ(What([&] { ctx.TrustCert(nullptr); }), "SSL context not initialized");
  EXPECT_EQ(What([&] { ctx.LoadCrlFromFile("x"); }), "SSL context not initialized");
}

TEST(SslContextDefaults, RefusedSettingsLeaveNoContext) {
  TSslContext ctx;
  ctx.SetSslCipherList("");
  EXPECT_EQ(What([&] { ctx.InitContext(); }), "Cipher list empty");
  EXPECT_FALSE(ctx.GetIsCtxInitialized());
  ctx.SetSslCipherList("NO-SUCH-CIPHER");
  std::string msg = What([&] { ctx.InitContext(); });
  EXPECT_EQ(msg.rfind("\r\nError loading cipher list\r\n", 0), 0u) << msg;
  EXPECT_NE(msg.find("no cipher match"), std::string::npos) << msg;
  EXPECT_NE(ctx.LastSslError(), 0u);
  EXPECT_FALSE(ctx.GetIsCtxInitialized());
  ctx.SetSslCipherList("ALL");
  for (TSslVersionMethod m : {sslV2, sslV2_CLIENT, sslV3_SERVER}) {
    ctx.SetSslVersionMethod(m);
    msg = What([&] { ctx.InitContext(); });
    EXPECT_NE(msg.find("is not supported"), std::string::npos) << msg;
    EXPECT_FALSE(ctx.GetIsCtxInitialized());
  }
  ctx.SetSslVersionMethod(static_cast<TSslVersionMethod>(99));
  EXPECT_EQ(What([&] { ctx.InitContext(); }), "Unknown SslVersionMethod");
  ctx.SetSslVersionMethod(sslV23_CLIENT);
  ctx.InitContext();
  EXPECT_TRUE(ctx.GetIsCtxInitialized());
  ctx.DeInitContext();
  EXPECT_FALSE(ctx.GetIsCtxInitialized());
  EXPECT_FALSE(ctx.SslInitialized());
}

TEST_F(SslContextTest, MissingFilesAreNamed) {
  TSslContext ctx;
  ctx.SetSslCertFile(Pki->File("nothere.pem"));
  EXPECT_EQ(What([&] { ctx.InitContext(); }), "File not found \"" + Pki->File("nothere.pem") + "\"");
  TSslContext ctx2;
  ctx2.SetSslCAPath(Pki->File("nodir"));
  EXPECT_EQ(What([&] { ctx2.InitContext(); }), "Directory not found \"" + Pki->File("nodir") + "\"");
  TSslContext ctx3;
  ctx3.SetSslCRLFile(Pki->File("no.crl"));
  EXPECT_EQ(What([&] { ctx3.InitContext(); }), "CRL file not found \"" + Pki->File("no.crl") + "\"");
  TSslContext ctx4;
  ctx4.SetSslCRLPath(Pki->File("nodir"));
  EXPECT_EQ(What([&] { ctx4.InitContext(); }), "CRL directory not found \"" + Pki->File("nodir") + "\"");
  TSslContext ctx5;
  ctx5.SetSslCertFile(Server.Key);  // a key is no certificate
  std::string msg = What([&] { ctx5.InitContext(); });
  EXPECT_EQ(msg.rfind("\r\nCan't read certificate file \"" + Server.Key + "\"\r\n", 0), 0u) << msg;
  EXPECT_FALSE(ctx5.GetIsCtxInitialized());
}

TEST_F(SslContextTest, PrivateKeyWithAndWithoutPassPhrase) {
  std::string encrypted = Pki->EncryptKey(Server.Key, "s3cret phrase");
  TSslContext plain;
  plain.SetSslCertFile(Server.Cert);
  plain.SetSslPrivKeyFile(Server.Key);
  EXPECT_NO_THROW(plain.InitContext());

  TSslContext noPhrase;
  noPhrase.SetSslPrivKeyFile(encrypted);
  std::string msg = What([&] { noPhrase.InitContext(); });
  EXPECT_EQ(msg.rfind("\r\nCan't load private key file \"" + encrypted + "\"\r\n", 0), 0u) << msg;

  TSslContext wrong;
  wrong.SetSslPassPhrase("wrong");
  wrong.SetSslPrivKeyFile(encrypted);
  EXPECT_NE(What([&] { wrong.InitContext(); }).find("Can't load private key file"), std::string::npos);

  TSslContext right;
  right.SetSslPassPhrase("s3cret phrase");
  right.SetSslCertFile(Server.Cert);
  right.SetSslPrivKeyFile(encrypted);
  EXPECT_NO_THROW(right.InitContext());
  // A live context reloads a changed key at once.
  EXPECT_NO_THROW(right.SetSslPrivKeyFile(Server.Key));
  EXPECT_THROW(right.SetSslPrivKeyFile(Pki->File("gone.key")), ESslContextException);
}

TEST_F(SslContextTest, VerificationAgainstCaAndRevocationList) {
  TSslContext server;
  server.SetSslCertFile(Server.Cert);
  server.SetSslPrivKeyFile(Server.Key);
  server.InitContext();

  TSslContext trusting;
  trusting.SetSslCAFile(Pki->Ca().Cert);
  trusting.SetSslVerifyPeer(true);
  trusting.InitContext();
  EXPECT_EQ(f_SSL_CTX_get_verify_mode(trusting.SslCtx()), SSL_VERIFY_PEER);
  EXPECT_EQ(MemoryHandshake(trusting, server), X509_V_OK);

  // Without the CA, the server's chain cannot be verified.
  TSslContext stranger;
  stranger.SetSslVerifyPeer(true);
  stranger.SetSslCAFile(Revoked.Cert);
  stranger.InitContext();
  long r = MemoryHandshake(stranger, server);
  EXPECT_EQ(r, -X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY - 1000);

  // Not verifying: no verify callback, depth 0, handshake completes whatever the modes say.
  TSslContext lax;
  lax.SetSslVerifyPeerModes({SslVerifyMode_PEER, SslVerifyMode_FAIL_IF_NO_PEER_CERT});
  EXPECT_EQ(lax.SslVerifyFlags(), 3);
  lax.InitContext();
  EXPECT_EQ(f_SSL_CTX_get_verify_mode(lax.SslCtx()), SSL_VERIFY_NONE);
  EXPECT_NE(MemoryHandshake(lax, server), -1);

  // A revoked server certificate is refused once the CRL is loaded, and accepted without it.
  TSslContext revokedServer;
  revokedServer.SetSslCertFile(Revoked.Cert);
  revokedServer.SetSslPrivKeyFile(Revoked.Key);
  revokedServer.InitContext();
  EXPECT_EQ(MemoryHandshake(trusting, revokedServer), X509_V_OK);
  TSslContext withCrl;
  withCrl.SetSslCAFile(Pki->Ca().Cert);
  withCrl.SetSslCRLFile(Crl);
  withCrl.SetSslVerifyPeer(true);
  withCrl.InitContext();
  EXPECT_EQ(MemoryHandshake(withCrl, revokedServer), -X509_V_ERR_CERT_REVOKED - 1000);
  EXPECT_EQ(MemoryHandshake(withCrl, server), X509_V_OK);

  // The same from a folder of CRLs and a CA folder.
  std::string crlDir = Pki->File("crls");
  mkdir(crlDir.c_str(), 0700);
  WriteFile(crlDir + "/one.crl", ReadFile(Crl));
  TSslContext fromPath;
  fromPath.SetSslCAFile(Pki->Ca().Cert);
  fromPath.SetSslCRLPath(crlDir);
  fromPath.SetSslVerifyPeer(true);
  fromPath.InitContext();
  EXPECT_EQ(MemoryHandshake(fromPath, revokedServer), -X509_V_ERR_CERT_REVOKED - 1000);
}

TEST_F(SslContextTest, TrustCertAndClientCaLists) {
  TSslContext server;
  server.SetSslCertFile(Server.Cert);
  server.SetSslPrivKeyFile(Server.Key);
  server.InitContext();
  TSslContext client;
  client.SetSslVerifyPeer(true);
  client.SetSslCAFile(Server.Cert);  // something, so that the default paths are not used
  client.InitContext();
  EXPECT_NE(MemoryHandshake(client, server), X509_V_OK);
  TX509Base ca;
  ca.LoadFromPemFile(Pki->Ca().Cert, false, "");
  EXPECT_TRUE(client.TrustCert(&ca));
  EXPECT_EQ(MemoryHandshake(client, server), X509_V_OK);
  TX509Base empty;
  EXPECT_FALSE(client.TrustCert(&empty));

  EXPECT_NO_THROW(server.AddClientCAFromFile(Pki->Ca().Cert));
  EXPECT_NO_THROW(server.SetClientCAListFromFile(Pki->Ca().Cert));
  EXPECT_EQ(What([&] { server.AddClientCAFromFile(Pki->File("x.pem")); }),
            "Certificate file not found \"" + Pki->File("x.pem") + "\"");

  OPENSSL_STACK* certs = server.LoadStackFromInfoFile(Pki->Bundle(Server, "bundle.pem"), emCert);
  ASSERT_NE(certs, nullptr);
  EXPECT_EQ(f_OPENSSL_sk_num(certs), 1);
  f_OPENSSL_sk_pop_free(certs, [](void* p) { f_X509_free(static_cast<X509*>(p)); });
  EXPECT_EQ(server.LoadStackFromInfoFile(Server.Key, emCRL), nullptr);
}

TEST_F(SslContextTest, ReadOnlyFilesLoad) {
  std::string dir = Pki->File("ro");
  mkdir(dir.c_str(), 0755);
  chmod(Pki->Dir().c_str(), 0755);
  std::string cert = dir + "/cert.pem", key = dir + "/key.pem", ca = dir + "/ca.pem", crl = dir + "/ca.crl";
  std::string encrypted = dir + "/key.enc";
  WriteFile(cert, ReadFile(Server.Cert));
  WriteFile(key, ReadFile(Server.Key));
  WriteFile(ca, ReadFile(Pki->Ca().Cert));
  WriteFile(crl, ReadFile(Crl));
  WriteFile(encrypted, ReadFile(Pki->EncryptKey(Server.Key, "pw")));
  for (const std::string& f : {cert, key, ca, crl, encrypted}) chmod(f.c_str(), 0444);
  bool ok = test_user::RunUnprivileged([&] {
    TSslContext ctx;
    ctx.SetSslCertFile(cert);
    ctx.SetSslPrivKeyFile(encrypted);
    ctx.SetSslPassPhrase("pw");
    ctx.SetSslCAFile(ca);
    ctx.SetSslCRLFile(crl);
    ctx.InitContext();
    TX509Base x;
    x.LoadFromPemFile(cert, false, "");
    x.PrivateKeyLoadFromPemFile(key, "");
    return ctx.GetIsCtxInitialized() && x.PrivateKey() != nullptr;
  });
  EXPECT_TRUE(ok);
}

TEST_F(SslContextTest, LoggerIsForgottenWhenFreed) {
  auto logger = std::make_unique<TNetLogger>();
  std::vector<std::string> lines;
  logger->SetLogOptions({loDestEvent, loSslErr, loSslInfo});
  logger->SetOnNetLogEvent([&](void*, TLogOption, const std::string& line) { lines.push_back(line); });
  TSslContext ctx;
  ctx.SetNetLogger(logger.get());
  ctx.SetSslPrivKeyFile(Server.Cert);  // a certificate is no key
  EXPECT_THROW(ctx.InitContext(), ESslContextException);
  EXPECT_EQ(lines.size(), 1u);
  logger.reset();
  EXPECT_EQ(ctx.NetLogger(), nullptr);
  EXPECT_THROW(ctx.InitContext(), ESslContextException);
  EXPECT_EQ(lines.size(), 1u);
}
