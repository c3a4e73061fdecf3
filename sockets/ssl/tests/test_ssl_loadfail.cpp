// Loading failures, in a process where the OpenSSL libraries were never loaded.
#include "sockets/ssl/NetLibeay.h"
#include "sockets/ssl/NetSsleay.h"
#include "sockets/ssl/SslContext.h"

#include <gtest/gtest.h>

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
