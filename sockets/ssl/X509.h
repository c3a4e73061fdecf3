#pragma once
// One X.509 certificate, optionally with its private key, in readable form; and the owning list in
// which a TLS socket keeps the certificates of its peer's chain.
#include "sockets/ssl/NetLibeay.h"
#include "sockets/ssl/SslContext.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct TExtension {
  bool Critical = false;
  std::string ShortName;
  std::string Value;
};

class TX509Base : public TSslBaseComponent {
public:
  explicit TX509Base(::X509* cert = nullptr);
  ~TX509Base() override;

  ::X509* X509() const { return FX509; }
  EVP_PKEY* PrivateKey() const { return FPrivateKey; }
  void SetX509(::X509* cert);
  void SetPrivateKey(EVP_PKEY* key);
  void FreeAndNilX509();
  virtual void AssignDefaults();

  std::string GetSha1Hash() const { return FSha1Hash; }
  // The serial number when it fits in 64 bits; -1 without certificate or when it does not fit.
  virtual std::int64_t GetSerialNum() const;
  // The whole serial number as upper-case hex text; empty without certificate.
  std::string GetSerialNumHex() const;
  std::string GetIssuerOneLine() const;
  std::string GetSubjectOneLine() const;
  std::string GetSubjectCName() const;
  virtual TExtension GetSubjectAltName();
  int GetExtensionCount() const;
  virtual TExtension GetExtension(int index);
  int ExtByName(const std::string& name) const;
  Netlibeay::TDateTime GetValidNotBefore() const;
  Netlibeay::TDateTime GetValidNotAfter() const;
  bool GetHasExpired() const;
  std::string GetVerifyErrorMsg() const;
  std::string GetFirstVerifyErrorMsg() const;
  std::string GetRawText() const;
  EVP_PKEY* GetPublicKey() const;
  std::string UnknownExtDataToStr(X509_EXTENSION* ext) const;

  // True when the certificate names the host: OpenSSL's host name checks (subject alternative names
  // first, the common name only without them; wildcards only as a whole left-most label) or, for an
  // address, its IP address checks.
  virtual bool PostConnectionCheck(const std::string& host) const;

  void LoadFromPemFile(const std::string& fileName, bool includePrivateKey, const std::string& password);
  void SaveToPemFile(const std::string& fileName, bool includePrivateKey);
  void PrivateKeyLoadFromPemFile(const std::string& fileName, const std::string& password);
  void PrivateKeySaveToPemFile(const std::string& fileName);
  BIO* OpenFileBio(const std::string& fileName, TBioOpenMethode how);

  int VerifyResult() const { return FVerifyResult; }
  void SetVerifyResult(int v) { FVerifyResult = v; }
  int FirstVerifyResult() const { return FFirstVerifyResult; }
  void SetFirstVerifyResult(int v) { FFirstVerifyResult = v; }
  int VerifyDepth() const { return FVerifyDepth; }
  void SetVerifyDepth(int v) { FVerifyDepth = v; }

protected:
  ::X509* FX509 = nullptr;
  EVP_PKEY* FPrivateKey = nullptr;
  int FVerifyResult = 50;
  std::string FSha1Hash;
  int FVerifyDepth = 0;
  int FFirstVerifyResult = 50;

private:
  EVP_PKEY* ReadPrivateKey(BIO* bio, const std::string& fileName, const std::string& password);
  void TakeX509(::X509* cert);
};

// Makes the objects of a certificate list (TX509Base unless a socket chooses its own class).
using TX509Class = std::function<std::unique_ptr<TX509Base>(::X509* cert)>;

class TX509List {
public:
  TX509List();
  ~TX509List();

  void Clear();
  void Delete(int index);
  int GetCount() const { return static_cast<int>(FItems.size()); }
  TX509Base* GetX509Base(int index) const;
  void SetX509Base(int index, std::unique_ptr<TX509Base> item);
  int IndexOf(const TX509Base* item) const;
  TX509Base* Add(::X509* cert);
  TX509Base* GetByHash(const std::string& sha1Hash) const;
  TX509Base* GetByPX509(::X509* cert) const;

  TX509Class X509Class;
  int LastVerifyResult = 0;

private:
  std::vector<std::unique_ptr<TX509Base>> FItems;
};

// The 20 raw bytes of the certificate's SHA-1 digest; empty on failure.
std::string X509Sha1Hash(::X509* cert);
