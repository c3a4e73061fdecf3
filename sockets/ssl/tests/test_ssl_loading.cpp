// Binding of the OpenSSL libraries, version check, option translation and the ASN.1 helpers.
#include "sockets/ssl/NetLibeay.h"
#include "sockets/ssl/NetSsleay.h"
#include "sockets/ssl/SslContext.h"
#include "sockets/ssl/X509.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace Netlibeay;
using namespace Netssleay;

namespace {

void* LookupWithout(void* context, const char* name) {
  if (std::strcmp(name, "BIO_nwrite0") == 0) return nullptr;
  return dlsym(context, name);
}

void* Lookup(void* context, const char* name) { return dlsym(context, name); }

std::string DateText(TDateTime d) {
  // Back to y-m-d h:n:s for readable expectations.
  long days = static_cast<long>(std::floor(d)) - 25569 + 719468;
  long era = (days >= 0 ? days : days - 146096) / 146097;
  long doe = days - era * 146097;
  long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long y = yoe + era * 400;
  long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  long mp = (5 * doy + 2) / 153;
  long day = doy - (153 * mp + 2) / 5 + 1;
  long month = mp < 10 ? mp + 3 : mp - 9;
  if (month <= 2) ++y;
  long secs = std::lround((d - std::floor(d)) * 86400);
  char buf[128];
  std::snprintf(buf, sizeof buf, "%04ld-%02ld-%02ld %02ld:%02ld:%02ld", y, month, day, secs / 3600,
                secs / 60 % 60, secs % 60);
  return buf;
}

}  // namespace

TEST(SslLoading, BindsOpenSsl3ByNameAndCountsUsers) {
  int before = SslUserCount();
  LoadSsl();
  EXPECT_EQ(SslUserCount(), before + 1);
  EXPECT_EQ(Netlibeay::WhichFailedToLoad(), "");
  EXPECT_EQ(Netssleay::WhichFailedToLoad(), "");
  EXPECT_EQ(OpenSslVersion().rfind("OpenSSL 3.", 0), 0u) << OpenSslVersion();
  EXPECT_NE(OpenSslDir(), "");
  EXPECT_NE(GLIBEAY_DLL_FileName.find("libcrypto.so.3"), std::string::npos) << GLIBEAY_DLL_FileName;
  EXPECT_NE(GSSLEAY_DLL_FileName.find("libssl.so.3"), std::string::npos) << GSSLEAY_DLL_FileName;
  EXPECT_GE(GLIBEAY_DLL_FileVersion, kMinVersion);
  {
    // Two contexts and a certificate object each count once, however often they initialise.
    TSslContext a, b;
    TX509Base c;
    a.InitializeSsl();
    a.InitializeSsl();
    b.InitializeSsl();
    c.InitializeSsl();
    EXPECT_EQ(SslUserCount(), before + 4);
  }
  EXPECT_EQ(SslUserCount(), before + 1);
  UnloadSsl();
  EXPECT_EQ(SslUserCount(), before);
  // The libraries stay bound for the life of the process.
  EXPECT_NE(GLIBEAY_DLL_Handle, nullptr);
  EXPECT_NE(f_SSL_CTX_new, nullptr);
}

TEST(SslLoading, MissingEntryPointIsNamed) {
  LoadSsl();
  EXPECT_FALSE(Netlibeay::BindEntryPoints(LookupWithout, GLIBEAY_DLL_Handle));
  EXPECT_EQ(Netlibeay::WhichFailedToLoad(), " BIO_nwrite0");
  EXPECT_TRUE(Netlibeay::BindEntryPoints(Lookup, GLIBEAY_DLL_Handle));
  EXPECT_EQ(Netlibeay::WhichFailedToLoad(), "");
  UnloadSsl();
}

TEST(SslLoading, VersionOutsideOpenSsl3IsRefused) {
  EXPECT_NO_THROW(CheckVersion(0x30000130UL, "x"));
  EXPECT_NO_THROW(CheckVersion(0x30500010UL, "x"));
  for (unsigned long bad : {0x0090807FUL, 0x1010107FUL, 0x40000000UL}) {
    try {
      CheckVersion(bad, "/lib/libcrypto.so.3");
      ADD_FAILURE() << std::hex << bad;
    } catch (const ENetLibeayException& e) {
      char expected[200];
      std::snprintf(expected, sizeof expected,
                    "Unsupported OpenSSL version (0x%.8lX) !\r\nSupported versions are 0x30000000 - "
                    "0x3FFFFFFF\r\nFileName: /lib/libcrypto.so.3",
                    bad);
      EXPECT_STREQ(e.what(), expected);
    }
  }
}

TEST(SslLoading, OptionBitsAreTranslatedMemberByMember) {
  TSslOptions opts{sslOpt_CIPHER_SERVER_PREFERENCE, sslOpt_NO_SSLv2};
  EXPECT_EQ(SslOptionsToBits(opts), 0x01400000u);
  EXPECT_EQ(SslOptionsFromBits(0x01400000u), opts);
  // Old bits with no meaning in OpenSSL 3 never reach it; the others become OpenSSL 3's bits.
  EXPECT_EQ(SslOptionBitsToOpenSsl3(0x01000000u | 0x00200000u | 0x00100000u), 0u);
  EXPECT_EQ(SslOptionBitsToOpenSsl3(0x04000000u), static_cast<std::uint64_t>(SSL_OP_NO_TLSv1));
  EXPECT_EQ(SslOptionBitsToOpenSsl3(0x00010000u),
            static_cast<std::uint64_t>(SSL_OP_NO_SESSION_RESUMPTION_ON_RENEGOTIATION));

  TSslContext plain, ctx;
  plain.InitContext();
  ctx.SetSslOptions({sslOpt_CIPHER_SERVER_PREFERENCE, sslOpt_NO_SSLv2, sslOpt_EPHEMERAL_RSA,
                     sslOpt_SINGLE_DH_USE});
  EXPECT_EQ(ctx.SslOptionsValue(), 0x01700000u);
  ctx.InitContext();
  EXPECT_EQ(f_SSL_CTX_get_options(ctx.SslCtx()),
            f_SSL_CTX_get_options(plain.SslCtx()) | SSL_OP_CIPHER_SERVER_PREFERENCE);
}

TEST(SslLoading, Asn1TimesBecomeUtc) {
  TDateTime d;
  ASSERT_TRUE(Asn1TextToUTDateTime(V_ASN1_UTCTIME, "991231235959Z", 2026, d));
  EXPECT_EQ(DateText(d), "1999-12-31 23:59:59");
  ASSERT_TRUE(Asn1TextToUTDateTime(V_ASN1_UTCTIME, "491231235959Z", 2026, d));
  EXPECT_EQ(DateText(d), "2049-12-31 23:59:59");
  ASSERT_TRUE(Asn1TextToUTDateTime(V_ASN1_UTCTIME, "0402291200Z", 2026, d));
  EXPECT_EQ(DateText(d), "2004-02-29 12:00:00");
  ASSERT_TRUE(Asn1TextToUTDateTime(V_ASN1_GENERALIZEDTIME, "20240229120000Z", 2026, d));
  EXPECT_EQ(DateText(d), "2024-02-29 12:00:00");
  // Local times with an offset are turned into UTC.
  ASSERT_TRUE(Asn1TextToUTDateTime(V_ASN1_UTCTIME, "240101120000+0130", 2026, d));
  EXPECT_EQ(DateText(d), "2024-01-01 10:30:00");
  ASSERT_TRUE(Asn1TextToUTDateTime(V_ASN1_GENERALIZEDTIME, "20240101003000-0100", 2026, d));
  EXPECT_EQ(DateText(d), "2024-01-01 01:30:00");
  // Offsets with 60 minutes or more, or beyond -12/+13 hours, are no offsets.
  EXPECT_FALSE(Asn1TextToUTDateTime(V_ASN1_UTCTIME, "240101120000+0160", 2026, d));
  EXPECT_EQ(d, kMinDateTime);
  EXPECT_FALSE(Asn1TextToUTDateTime(V_ASN1_UTCTIME, "240101120000+0099", 2026, d));
  EXPECT_FALSE(Asn1TextToUTDateTime(V_ASN1_UTCTIME, "240101120000+1400", 2026, d));
  EXPECT_FALSE(Asn1TextToUTDateTime(V_ASN1_UTCTIME, "241301120000Z", 2026, d));
  EXPECT_FALSE(Asn1TextToUTDateTime(V_ASN1_UTCTIME, "240001120000Z", 2026, d));
  EXPECT_FALSE(Asn1TextToUTDateTime(V_ASN1_UTCTIME, "24010112Z", 2026, d));
  EXPECT_FALSE(Asn1TextToUTDateTime(V_ASN1_UTCTIME, "24a1011200Z", 2026, d));
  EXPECT_FALSE(Asn1TextToUTDateTime(V_ASN1_GENERALIZEDTIME, "2024010112Z", 2026, d));
  EXPECT_FALSE(Asn1TextToUTDateTime(V_ASN1_OCTET_STRING, "20240101120000Z", 2026, d));
}

TEST(SslLoading, Asn1StringsBecomeText) {
  LoadSsl();
  auto make = [](int type, const std::string& bytes) {
    ASN1_STRING* s = f_ASN1_STRING_type_new(type);
    f_ASN1_STRING_set(s, bytes.data(), static_cast<int>(bytes.size()));
    return s;
  };
  ASN1_STRING* bmp = make(V_ASN1_BMPSTRING, std::string("\0A\0B", 4));
  EXPECT_EQ(Asn1ToString(bmp), "AB");
  ASN1_STRING* utf8 = make(V_ASN1_UTF8STRING, "Zo\xC3\xAB \xE2\x82\xAC \xE4\xB8\xAD");
  EXPECT_EQ(Asn1ToString(utf8), "Zo\xEB \x80 ?");
  ASN1_STRING* ia5 = make(V_ASN1_IA5STRING, "raw\xFF");
  EXPECT_EQ(Asn1ToString(ia5), "raw\xFF");
  EXPECT_EQ(Asn1ToString(nullptr), "");
  f_ASN1_STRING_free(bmp);
  f_ASN1_STRING_free(utf8);
  f_ASN1_STRING_free(ia5);
  UnloadSsl();
}
