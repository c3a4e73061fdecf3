// Certificates: names, serials, fingerprints, extensions, validity, host checks, PEM files and lists.
#include "sockets/ssl/NetLibeay.h"
#include "sockets/ssl/X509.h"
#include "support/TestPki.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <ctime>

using namespace Netlibeay;
using namespace ssltest;

namespace {

class X509Test : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    Pki = new TTestPki();
    Server = Pki->Issue("server", "/CN=localhost", "DNS:localhost,IP:127.0.0.1");
  }
  static void TearDownTestSuite() {
    delete Pki;
    Pki = nullptr;
  }
  static std::unique_ptr<TX509Base> LoadNew(const std::string& file) {
    auto x = std::make_unique<TX509Base>();
    x->LoadFromPemFile(file, false, "");
    return x;
  }
  static std::unique_ptr<TX509Base> Load(const std::string& file) { return LoadNew(file); }
  static TTestPki* Pki;
  static TCertFiles Server;
};
TTestPki* X509Test::Pki = nullptr;
TCertFiles X509Test::Server;


std::string UtcDate(int dayOffset) {
  std::time_t t = std::time(nullptr) + dayOffset * 86400L;
  std::tm parts{};
  gmtime_r(&t, &parts);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y%m%d", &parts);
  return buf;
}

}  // namespace

TEST(X509Empty, ObjectWithoutCertificate) {
  TX509Base x;
  EXPECT_EQ(x.GetSerialNum(), -1);
  EXPECT_EQ(x.GetSerialNumHex(), "");
  EXPECT_EQ(x.GetSubjectOneLine(), "");
  EXPECT_EQ(x.GetIssuerOneLine(), "");
  EXPECT_EQ(x.GetSubjectCName(), "");
  EXPECT_EQ(x.GetSha1Hash(), "");
  EXPECT_EQ(x.GetExtensionCount(), 0);
  EXPECT_TRUE(x.GetHasExpired());
  EXPECT_EQ(x.GetSubjectAltName().Value, "");
  EXPECT_FALSE(x.PostConnectionCheck("localhost"));
  EXPECT_EQ(x.GetVerifyErrorMsg(), "");
  EXPECT_EQ(x.GetRawText(), "");
  EXPECT_EQ(x.VerifyResult(), 50);
  EXPECT_EQ(x.FirstVerifyResult(), 50);
  EXPECT_EQ(What([&] { x.SaveToPemFile("/tmp/never", false); }), "X509 not assigned");
  EXPECT_EQ(What([&] { x.PrivateKeySaveToPemFile("/tmp/never"); }), "Private key not assigned");
  EXPECT_EQ(What([&] { x.LoadFromPemFile("", false, ""); }), "File name not specified");
}

TEST_F(X509Test, NamesSerialFingerprintAndText) {
  auto x = LoadNew(Server.Cert);
  EXPECT_EQ(x->GetSubjectOneLine(), "/CN=localhost");
  EXPECT_EQ(x->GetIssuerOneLine(), "/CN=Zelt Test CA");
  EXPECT_EQ(x->GetSubjectCName(), "localhost");
  EXPECT_EQ(x->GetSerialNum(), 0x1000);
  EXPECT_EQ(x->GetSerialNumHex(), "1000");
  // The fingerprint is the one the openssl tool reports.
  std::string out = Pki->File("fp.txt");
  ASSERT_EQ(RunProgram({ZELT_OPENSSL_TOOL, "x509", "-in", Server.Cert, "-noout", "-fingerprint", "-sha1"}, out), 0);
  std::string tool = ReadFile(out);
  std::string hex;
  for (unsigned char c : x->GetSha1Hash()) {
    char b[4];
    std::snprintf(b, sizeof b, "%02X:", c);
    hex += b;
  }
  hex.pop_back();
  EXPECT_EQ(x->GetSha1Hash().size(), 20u);
  EXPECT_NE(tool.find(hex), std::string::npos) << tool << " vs " << hex;
  EXPECT_NE(x->GetRawText().find("Certificate:"), std::string::npos);
  EXPECT_EQ(x->GetVerifyErrorMsg(), "application verification failure");

  TCertFiles two = Pki->Issue("twocn", "/CN=one.test/CN=two.test");
  EXPECT_EQ(Load(two.Cert)->GetSubjectCName(), "one.test\r\ntwo.test");

  // Serial numbers beyond 64 bits come whole as hex text.
  TCertFiles big = Pki->Issue("big", "/CN=big.test", "", "0x0123456789ABCDEF0123456789");
  auto b = Load(big.Cert);
  EXPECT_EQ(b->GetSerialNum(), -1);
  EXPECT_EQ(b->GetSerialNumHex(), "0123456789ABCDEF0123456789");
}

TEST_F(X509Test, Extensions) {
  auto x = LoadNew(Server.Cert);
  int n = x->GetExtensionCount();
  ASSERT_GE(n, 4);
  EXPECT_EQ(What([&] { x->GetExtension(-1); }), "Extension index out of bounds");
  EXPECT_EQ(What([&] { x->GetExtension(n); }), "Extension index out of bounds");
  int san = x->ExtByName("SUBJECTALTNAME");
  ASSERT_GE(san, 0);
  EXPECT_EQ(x->GetExtension(san).ShortName, "subjectAltName");
  EXPECT_EQ(x->GetSubjectAltName().Value, "DNS=localhost\r\nIP Address=127.0.0.1");
  EXPECT_FALSE(x->GetSubjectAltName().Critical);
  EXPECT_EQ(x->ExtByName("nothing"), -1);

  auto ca = LoadNew(Pki->Ca().Cert);
  TExtension bc = ca->GetExtension(ca->ExtByName("basicConstraints"));
  EXPECT_TRUE(bc.Critical);
  EXPECT_EQ(bc.Value, "CA=TRUE");
  TExtension ku = ca->GetExtension(ca->ExtByName("keyUsage"));
  EXPECT_NE(ku.Value.find("Certificate Sign"), std::string::npos) << ku.Value;
  TExtension ski = ca->GetExtension(ca->ExtByName("subjectKeyIdentifier"));
  EXPECT_EQ(ski.Value.size(), 59u) << ski.Value;  // 20 bytes as XX:XX:...
}

TEST_F(X509Test, HostChecksFollowOpenSslRules) {
  auto x = LoadNew(Server.Cert);
  EXPECT_TRUE(x->PostConnectionCheck("localhost"));
  EXPECT_TRUE(x->PostConnectionCheck("LOCALHOST"));
  EXPECT_TRUE(x->PostConnectionCheck("127.0.0.1"));
  EXPECT_FALSE(x->PostConnectionCheck("127.0.0.2"));
  EXPECT_FALSE(x->PostConnectionCheck("localhost.evil"));
  EXPECT_FALSE(x->PostConnectionCheck(""));

  TCertFiles wild = Pki->Issue("wild", "/CN=*.example.test");
  auto w = Load(wild.Cert);
  EXPECT_TRUE(w->PostConnectionCheck("www.example.test"));
  EXPECT_TRUE(w->PostConnectionCheck("Mail.Example.Test"));
  EXPECT_FALSE(w->PostConnectionCheck("a.b.example.test"));
  EXPECT_FALSE(w->PostConnectionCheck("example.test"));

  // File-name masks are no wildcards for peer names.
  TCertFiles mask = Pki->Issue("mask", "/CN=w?w.example.test");
  EXPECT_FALSE(Load(mask.Cert)->PostConnectionCheck("www.example.test"));
  TCertFiles star = Pki->Issue("star", "/CN=*");
  EXPECT_FALSE(Load(star.Cert)->PostConnectionCheck("anything"));

  // Subject alternative names first: with DNS names present, the common name is not used.
  TCertFiles two = Pki->Issue("twosan", "/CN=cn.test", "DNS:first.test,DNS:second.test");
  auto t = Load(two.Cert);
  EXPECT_TRUE(t->PostConnectionCheck("second.test"));
  EXPECT_TRUE(t->PostConnectionCheck("first.test"));
  EXPECT_FALSE(t->PostConnectionCheck("cn.test"));
}

TEST_F(X509Test, ValidityIsJudgedByUtcDay) {
  auto x = LoadNew(Server.Cert);
  EXPECT_FALSE(x->GetHasExpired());
  EXPECT_LT(x->GetValidNotBefore(), NowUTC());
  EXPECT_GT(x->GetValidNotAfter(), NowUTC() + 20);

  TCertFiles old = Pki->Issue("old", "/CN=old.test", "", "", "20200101000000Z", "20200102000000Z");
  auto o = Load(old.Cert);
  EXPECT_TRUE(o->GetHasExpired());
  EXPECT_DOUBLE_EQ(o->GetValidNotAfter(), EncodeDateTime(2020, 1, 2, 0, 0, 0));

  TCertFiles today = Pki->Issue("today", "/CN=today.test", "", "", "20200101000000Z", UtcDate(0) + "000001Z");
  EXPECT_FALSE(Load(today.Cert)->GetHasExpired());
  TCertFiles yesterday =
      Pki->Issue("yesterday", "/CN=yesterday.test", "", "", "20200101000000Z", UtcDate(-1) + "235959Z");
  EXPECT_TRUE(Load(yesterday.Cert)->GetHasExpired());
  TCertFiles future = Pki->Issue("future", "/CN=future.test", "", "", UtcDate(2) + "000000Z", UtcDate(9) + "000000Z");
  EXPECT_TRUE(Load(future.Cert)->GetHasExpired());
}

TEST_F(X509Test, PemFilesWithKeys) {
  TX509Base x;
  std::string bundle = Pki->Bundle(Server, "server-bundle.pem");
  x.LoadFromPemFile(bundle, true, "");
  ASSERT_NE(x.PrivateKey(), nullptr);
  std::string hash = x.GetSha1Hash();

  // A key of another certificate is refused and leaves the object as it was.
  TCertFiles other = Pki->Issue("other", "/CN=other.test");
  std::string mixed = Pki->File("mixed.pem");
  WriteFile(mixed, ReadFile(other.Cert) + ReadFile(Server.Key));
  EXPECT_EQ(What([&] { x.LoadFromPemFile(mixed, true, ""); }), "Certificate and private key do not match");
  EXPECT_EQ(What([&] { x.LoadFromPemFile(other.Cert, false, ""); }), "Certificate and private key do not match");
  EXPECT_EQ(What([&] { x.PrivateKeyLoadFromPemFile(other.Key, ""); }), "Certificate and private key do not match");
  EXPECT_EQ(x.GetSha1Hash(), hash);

  // Encrypted keys need their pass phrase.
  std::string encrypted = Pki->EncryptKey(Server.Key, "pass word");
  TX509Base k;
  std::string msg = What([&] { k.PrivateKeyLoadFromPemFile(encrypted, "bad"); });
  EXPECT_EQ(msg.rfind("\r\nError reading private key file \"" + encrypted + "\"\r\n", 0), 0u) << msg;
  EXPECT_NO_THROW(k.PrivateKeyLoadFromPemFile(encrypted, "pass word"));
  EXPECT_NE(k.PrivateKey(), nullptr);

  // Saved with its key: owner-only file, and it loads back the same.
  std::string saved = Pki->File("saved.pem");
  x.SaveToPemFile(saved, true);
  struct stat st{};
  ASSERT_EQ(stat(saved.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  TX509Base y;
  y.LoadFromPemFile(saved, true, "");
  EXPECT_EQ(y.GetSha1Hash(), hash);
  std::string keyOnly = Pki->File("saved.key");
  x.PrivateKeySaveToPemFile(keyOnly);
  EXPECT_NE(ReadFile(keyOnly).find("PRIVATE KEY"), std::string::npos);
  std::string certOnly = Pki->File("saved-cert.pem");
  x.SaveToPemFile(certOnly, false);
  EXPECT_EQ(ReadFile(certOnly).find("PRIVATE KEY"), std::string::npos);
  EXPECT_EQ(What([&] { x.LoadFromPemFile(Pki->File("none.pem"), false, ""); }),
            "File not found \"" + Pki->File("none.pem") + "\"");
}

TEST_F(X509Test, ListFindsByFingerprint) {
  auto a = Load(Server.Cert);
  auto b = Load(Pki->Ca().Cert);
  TX509List list;
  TX509Base* ia = list.Add(a->X509());
  TX509Base* ib = list.Add(b->X509());
  EXPECT_EQ(list.GetCount(), 2);
  EXPECT_NE(ia->X509(), a->X509());  // a private copy
  EXPECT_EQ(list.GetByPX509(b->X509()), ib);
  EXPECT_EQ(list.GetByHash(a->GetSha1Hash()), ia);
  std::string zeroed = a->GetSha1Hash();
  zeroed[5] = '\0';
  EXPECT_EQ(list.GetByHash(zeroed), zeroed == a->GetSha1Hash() ? ia : nullptr);
  EXPECT_EQ(list.GetByPX509(nullptr), nullptr);
  EXPECT_EQ(list.IndexOf(ib), 1);
  list.Delete(0);
  EXPECT_EQ(list.GetCount(), 1);
  EXPECT_EQ(list.GetByPX509(a->X509()), nullptr);
  list.Clear();
  EXPECT_EQ(list.GetCount(), 0);
}
