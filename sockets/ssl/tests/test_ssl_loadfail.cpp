// Loading failures, in a process where the OpenSSL libraries were never loaded.
#include "sockets/ssl/NetLibeay.h"
#include "sockets/ssl/NetSsleay.h"
#include "sockets/ssl/SslContext.h"
#include "support/TestPki.h"

#include <gtest/gtest.h>

using ssltest::What;

// Runs first: the libraries must never have been loaded in this process.
TEST(SslLoadFailure, LibraryLackingEntryPointsFailsEveryStartUpAlike) {
  const std::string cryptoName = Netlibeay::GLIBEAY_DLL_Name;
  const std::string sslName = Netssleay::GSSLEAY_DLL_Name;
  auto startUpError = [] { return What([] { LoadSsl(); }); };
  // A crypto library without entry points, then an ssl library without entry points: each start-up
  // fails the same clean way, and nothing stays loaded or bound.
  Netlibeay::GLIBEAY_DLL_Name = ZELT_STANDIN_LIBRARY;
  const std::string first = startUpError();
  EXPECT_EQ(first.rfind("Unable to load LIBEAY DLL. Can't find  OpenSSL_version ERR_get_error_all", 0), 0u) << first;
  EXPECT_EQ(startUpError(), first);
  EXPECT_EQ(Netlibeay::GLIBEAY_DLL_Handle, nullptr);
  EXPECT_EQ(Netlibeay::f_OpenSSL_version_num, nullptr);
  EXPECT_EQ(SslUserCount(), 0);

  Netlibeay::GLIBEAY_DLL_Name = cryptoName;
  Netssleay::GSSLEAY_DLL_Name = ZELT_STANDIN_LIBRARY;
  const std::string second = startUpError();
  EXPECT_EQ(second.rfind("Unable to load SSLEAY DLL. Can't find  SSL_do_handshake", 0), 0u) << second;
  EXPECT_EQ(startUpError(), second);
  {
    TSslContext ctx;
    EXPECT_EQ(What([&] { ctx.InitContext(); }), second);
    EXPECT_FALSE(ctx.GetIsCtxInitialized());
  }
  EXPECT_EQ(Netlibeay::GLIBEAY_DLL_Handle, nullptr);
  EXPECT_EQ(Netssleay::GSSLEAY_DLL_Handle, nullptr);
  EXPECT_EQ(Netlibeay::f_RAND_seed, nullptr);
  EXPECT_EQ(SslUserCount(), 0);

  // The real libraries load afterwards.
  Netssleay::GSSLEAY_DLL_Name = sslName;
  EXPECT_EQ(startUpError(), "no exception");
  EXPECT_EQ(SslUserCount(), 1);
  UnloadSsl();
  // Released again, so that the next test starts from a process that never loaded them.
  Netssleay::Unload();
  Netlibeay::Unload();
}

TEST(SslLoadFailure, MissingLibrariesRaiseAndCountNoUser) {
  const std::string cryptoName = Netlibeay::GLIBEAY_DLL_Name;
  Netlibeay::GLIBEAY_DLL_Name = "libzelt-no-such-crypto.so.3";
  try {
    LoadSsl();
    FAIL() << "no exception";
  } catch (const Netlibeay::ENetLibeayException& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Unable to load libzelt-no-such-crypto.so.3. Error #0\r\n", 0), 0u)
        << e.what();
  }
  EXPECT_EQ(SslUserCount(), 0);
  {
    TSslContext ctx;
    EXPECT_THROW(ctx.InitContext(), Netlibeay::ENetLibeayException);
    EXPECT_FALSE(ctx.SslInitialized());
    EXPECT_FALSE(ctx.GetIsCtxInitialized());
  }
  EXPECT_EQ(SslUserCount(), 0);

  Netlibeay::GLIBEAY_DLL_Name = cryptoName;
  Netssleay::GSSLEAY_DLL_Name = "libzelt-no-such-ssl.so.3";
  try {
    LoadSsl();
    FAIL() << "no exception";
  } catch (const Netssleay::ENetSsleayException& e) {
    EXPECT_STREQ(e.what(), "File not found: libzelt-no-such-ssl.so.3");
  }
  EXPECT_EQ(SslUserCount(), 0);

  // Once the right file is named, start-up succeeds and counts one user.
  Netssleay::GSSLEAY_DLL_Name = "libssl.so.3";
  LoadSsl();
  EXPECT_EQ(SslUserCount(), 1);
  UnloadSsl();
  EXPECT_EQ(SslUserCount(), 0);
}
