#include "sockets/ssl/X509.h"

#include "sockets/ssl/NetSsleay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

using namespace Netlibeay;

namespace {


// Everything a memory BIO holds, as text.
std::string ReadAllBio(BIO* bio) {
  std::string out;
  char buf[1024];
  int n;
  while ((n = f_BIO_read(bio, buf, sizeof buf)) > 0) out.append(buf, n);
  return out;
}

struct TBioGuard {
  BIO* B;
  ~TBioGuard() {
    if (B) f_BIO_free(B);
  }
};

void FreeConfValue(void* p) { f_X509V3_conf_free(static_cast<CONF_VALUE*>(p)); }

void* PasswordArg(const std::string& password) { return const_cast<char*>(password.c_str()); }

std::string LowerCase(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string ObjectText(const ASN1_OBJECT* obj) {
  BIO* bio = f_BIO_new(f_BIO_s_mem());
  if (!bio) return {};
  TBioGuard guard{bio};
  f_i2a_ASN1_OBJECT(bio, obj);
  return ReadAllBio(bio);
}

std::string ExtShortName(X509_EXTENSION* ext) {
  ASN1_OBJECT* obj = f_X509_EXTENSION_get_object(ext);
  int nid = f_OBJ_obj2nid(obj);
  if (nid == NID_undef) return ObjectText(obj);
  const char* sn = f_OBJ_nid2sn(nid);
  return sn ? sn : "";
}

bool IsIpAddress(const std::string& host) {
  unsigned char buf[16];
  return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

}  // namespace

std::string X509Sha1Hash(::X509* cert) {
  if (!cert) return {};
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (f_X509_digest(cert, f_EVP_sha1(), md, &len) != 1) return {};
  return std::string(reinterpret_cast<const char*>(md), len);
}

// ---------------------------------------------------------------------------------------------------------

TX509Base::TX509Base(::X509* cert) {
  if (cert) {
    InitializeSsl();
    TakeX509(cert);
  }
}

TX509Base::~TX509Base() {
  if (FX509) f_X509_free(FX509);
  if (FPrivateKey) f_EVP_PKEY_free(FPrivateKey);
}

void TX509Base::AssignDefaults() {
  FVerifyDepth = 0;
  FSha1Hash.clear();
  FVerifyResult = 50;
  FFirstVerifyResult = 50;
}

void TX509Base::TakeX509(::X509* cert) {
  AssignDefaults();
  if (cert) {
    FX509 = f_X509_dup(cert);
    FSha1Hash = X509Sha1Hash(FX509);
  }
}

void TX509Base::SetX509(::X509* cert) {
  InitializeSsl();
  FreeAndNilX509();
  TakeX509(cert);
}

void TX509Base::FreeAndNilX509() {
  if (FX509) {
    f_X509_free(FX509);
    FX509 = nullptr;
  }
}

void TX509Base::SetPrivateKey(EVP_PKEY* key) {
  InitializeSsl();
  if (FPrivateKey) {
    f_EVP_PKEY_free(FPrivateKey);
    FPrivateKey = nullptr;
  }
  if (key) {
    std::lock_guard<std::recursive_mutex> guard(SslCritSect());
    f_EVP_PKEY_up_ref(key);
    FPrivateKey = key;
  }
}

std::int64_t TX509Base::GetSerialNum() const {
  if (!FX509) return -1;
  int64_t value = 0;
  if (f_ASN1_INTEGER_get_int64(&value, f_X509_get_serialNumber(FX509)) != 1) {
    f_ERR_clear_error();
    return -1;
  }
  return value;
}

std::string TX509Base::GetSerialNumHex() const {
  if (!FX509) return {};
  BIGNUM* bn = f_ASN1_INTEGER_to_BN(f_X509_get_serialNumber(FX509), nullptr);
  if (!bn) return {};
  char* hex = f_BN_bn2hex(bn);
  std::string result = hex ? hex : "";
  if (hex) f_CRYPTO_free(hex, OPENSSL_FILE, OPENSSL_LINE);
  f_BN_free(bn);
  return result;
}

std::string TX509Base::GetIssuerOneLine() const {
  if (!FX509) return {};
  char buf[512];
  buf[0] = 0;
  f_X509_NAME_oneline(f_X509_get_issuer_name(FX509), buf, sizeof buf);
  return buf;
}

std::string TX509Base::GetSubjectOneLine() const {
  if (!FX509) return {};
  char buf[512];
  buf[0] = 0;
  f_X509_NAME_oneline(f_X509_get_subject_name(FX509), buf, sizeof buf);
  return buf;
}

std::string TX509Base::GetSubjectCName() const {
  if (!FX509) return {};
  const X509_NAME* name = f_X509_get_subject_name(FX509);
  std::string result;
  int pos = -1;
  while ((pos = f_X509_NAME_get_index_by_NID(name, NID_commonName, pos)) >= 0) {
    X509_NAME_ENTRY* entry = f_X509_NAME_get_entry(name, pos);
    if (!result.empty()) result += "\r\n";
    result += Asn1ToString(f_X509_NAME_ENTRY_get_data(entry));
  }
  while (!result.empty() && (result.back() == '\r' || result.back() == '\n')) result.pop_back();
  return result;
}

int TX509Base::GetExtensionCount() const { return FX509 ? f_X509_get_ext_count(FX509) : 0; }

std::string TX509Base::UnknownExtDataToStr(X509_EXTENSION* ext) const {
  return Asn1ToString(f_X509_EXTENSION_get_data(ext));
}

TExtension TX509Base::GetExtension(int index) {
  TExtension result;
  if (!FX509) return result;
  if (index < 0 || index > GetExtensionCount() - 1) throw EX509Exception("Extension index out of bounds");
  X509_EXTENSION* ext = f_X509_get_ext(FX509, index);
  if (!ext) throw EX509Exception("Extension not assigned");
  result.Critical = f_X509_EXTENSION_get_critical(ext) > 0;
  result.ShortName = ExtShortName(ext);
  const X509V3_EXT_METHOD* meth = f_X509V3_EXT_get(ext);
  if (!meth) {
    result.Value = UnknownExtDataToStr(ext);
    return result;
  }
  const ASN1_OCTET_STRING* data = f_X509_EXTENSION_get_data(ext);
  const unsigned char* p = f_ASN1_STRING_get0_data(data);
  long len = f_ASN1_STRING_length(data);
  void* decoded = nullptr;
  if (meth->it)
    decoded = f_ASN1_item_d2i(nullptr, &p, len, meth->it());
  else if (meth->d2i)
    decoded = meth->d2i(nullptr, &p, len);
  if (!decoded) {
    f_ERR_clear_error();
    result.Value = UnknownExtDataToStr(ext);
    return result;
  }
  char* text = nullptr;
  STACK_OF(CONF_VALUE)* values = nullptr;
  struct TCleanup {
    const X509V3_EXT_METHOD* Meth;
    void* Decoded;
    char*& Text;
    STACK_OF(CONF_VALUE)*& Values;
    ~TCleanup() {
      if (Values) f_OPENSSL_sk_pop_free(reinterpret_cast<OPENSSL_STACK*>(Values), FreeConfValue);
      if (Text) f_CRYPTO_free(Text, OPENSSL_FILE, OPENSSL_LINE);
      if (Meth->it) f_ASN1_item_free(static_cast<ASN1_VALUE*>(Decoded), Meth->it());
      else if (Meth->ext_free) Meth->ext_free(Decoded);
    }
  } cleanup{meth, decoded, text, values};
  if (meth->i2s) {
    text = meth->i2s(meth, decoded);
    if (text) result.Value = text;
  } else if (meth->i2v) {
    values = meth->i2v(meth, decoded, nullptr);
    OPENSSL_STACK* st = reinterpret_cast<OPENSSL_STACK*>(values);
    int n = values ? f_OPENSSL_sk_num(st) : 0;
    for (int i = 0; i < n; ++i) {
      auto* v = static_cast<CONF_VALUE*>(f_OPENSSL_sk_value(st, i));
      std::string name = v->name ? v->name : "";
      std::string value = v->value ? v->value : "";
      if (i > 0) result.Value += "\r\n";
      result.Value += name;
      if (!name.empty() && !value.empty()) result.Value += "=";
      result.Value += value;
    }
  } else if (meth->i2r) {
    BIO* bio = f_BIO_new(f_BIO_s_mem());
    if (bio) {
      TBioGuard guard{bio};
      meth->i2r(meth, decoded, bio, 0);
      std::string s = ReadAllBio(bio);
      while (!s.empty() && s.back() == '\n') s.pop_back();
      for (char c : s) {
        if (c == '\n') result.Value += "\r\n";
        else result.Value += c;
      }
    }
  }
  return result;
}

int TX509Base::ExtByName(const std::string& name) const {
  if (!FX509) return -1;
  std::string wanted = LowerCase(name.substr(0, 255));
  int n = GetExtensionCount();
  for (int i = 0; i < n; ++i) {
    X509_EXTENSION* ext = f_X509_get_ext(FX509, i);
    if (ext && LowerCase(ExtShortName(ext).substr(0, 255)) == wanted) return i;
  }
  return -1;
}

TExtension TX509Base::GetSubjectAltName() {
  int index = ExtByName("subjectAltName");
  if (index < 0) return {};
  return GetExtension(index);
}

TDateTime TX509Base::GetValidNotBefore() const {
  TDateTime result;
  if (!FX509 || !Asn1ToUTDateTime(f_Net_X509_get_notBefore(FX509), result)) return kMaxDateTime;
  return result;
}

TDateTime TX509Base::GetValidNotAfter() const {
  TDateTime result;
  if (!FX509 || !Asn1ToUTDateTime(f_Net_X509_get_notAfter(FX509), result)) return kMinDateTime;
  return result;
}

bool TX509Base::GetHasExpired() const {
  // Valid through the whole UTC day on which it ends (and from the day on which it starts).
  double today = std::floor(NowUTC());
  return today > std::floor(GetValidNotAfter()) || today < std::floor(GetValidNotBefore());
}

std::string TX509Base::GetVerifyErrorMsg() const {
  if (!FX509) return {};
  const char* s = f_X509_verify_cert_error_string(FVerifyResult);
  return s ? s : "";
}

std::string TX509Base::GetFirstVerifyErrorMsg() const {
  if (!FX509) return {};
  const char* s = f_X509_verify_cert_error_string(FFirstVerifyResult);
  return s ? s : "";
}

std::string TX509Base::GetRawText() const {
  if (!FX509) return {};
  BIO* bio = f_BIO_new(f_BIO_s_mem());
  if (!bio) return {};
  TBioGuard guard{bio};
  f_X509_print(bio, FX509);
  std::string s = ReadAllBio(bio);
  return s.substr(0, s.find('\0'));
}

EVP_PKEY* TX509Base::GetPublicKey() const { return FX509 ? f_X509_get_pubkey(FX509) : nullptr; }

bool TX509Base::PostConnectionCheck(const std::string& host) const {
  if (!FX509 || host.empty()) return false;
  int r;
  if (IsIpAddress(host))
    r = f_X509_check_ip_asc(FX509, host.c_str(), 0);
  else
    r = f_X509_check_host(FX509, host.c_str(), host.size(), 0, nullptr);
  if (r < 0) f_ERR_clear_error();
  return r == 1;
}

BIO* TX509Base::OpenFileBio(const std::string& fileName, TBioOpenMethode how) {
  return OpenFileBioAs<EX509Exception>(fileName, how, true);
}

EVP_PKEY* TX509Base::ReadPrivateKey(BIO* bio, const std::string& fileName, const std::string& password) {
  EVP_PKEY* key = f_PEM_read_bio_PrivateKey(bio, nullptr, nullptr, PasswordArg(password));
  if (!key) RaiseLastOpenSslError<EX509Exception>(true, "Error reading private key file " + SslQuoted(fileName));
  return key;
}

void TX509Base::LoadFromPemFile(const std::string& fileName, bool includePrivateKey, const std::string& password) {
  InitializeSsl();
  BIO* bio = OpenFileBio(fileName, bomRead);
  TBioGuard bioGuard{bio};
  ::X509* cert = f_PEM_read_bio_X509(bio, nullptr, nullptr, PasswordArg(password));
  if (!cert) RaiseLastOpenSslError<EX509Exception>(true, "Error reading certificate file " + SslQuoted(fileName));
  std::unique_ptr<::X509, void (*)(::X509*)> certGuard(cert, [](::X509* c) { f_X509_free(c); });
  if (!includePrivateKey) {
    if (FPrivateKey && f_X509_check_private_key(cert, FPrivateKey) <= 0) {
      f_ERR_clear_error();
      throw EX509Exception("Certificate and private key do not match");
    }
    SetX509(cert);
    return;
  }
  f_BIO_ctrl(bio, BIO_CTRL_RESET, 0, nullptr);
  EVP_PKEY* key = ReadPrivateKey(bio, fileName, password);
  std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> keyGuard(key, [](EVP_PKEY* k) { f_EVP_PKEY_free(k); });
  if (f_X509_check_private_key(cert, key) <= 0) {
    f_ERR_clear_error();
    throw EX509Exception("Certificate and private key do not match");
  }
  SetX509(cert);
  SetPrivateKey(key);
}

void TX509Base::PrivateKeyLoadFromPemFile(const std::string& fileName, const std::string& password) {
  InitializeSsl();
  BIO* bio = OpenFileBio(fileName, bomRead);
  TBioGuard bioGuard{bio};
  EVP_PKEY* key = ReadPrivateKey(bio, fileName, password);
  std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> keyGuard(key, [](EVP_PKEY* k) { f_EVP_PKEY_free(k); });
  if (FX509 && f_X509_check_private_key(FX509, key) <= 0) {
    f_ERR_clear_error();
    throw EX509Exception("Certificate and private key do not match");
  }
  SetPrivateKey(key);
}

namespace {

// A file that will hold a private key is readable by its owner only.
BIO* OpenPrivateFileBio(const std::string& fileName) {
  int fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  BIO* bio = f_BIO_new_fd(fd, BIO_CLOSE);
  if (!bio) ::close(fd);
  return bio;
}

}  // namespace

void TX509Base::SaveToPemFile(const std::string& fileName, bool includePrivateKey) {
  InitializeSsl();
  if (!FX509) throw EX509Exception("X509 not assigned");
  if (includePrivateKey && !FPrivateKey) throw EX509Exception("Private key not assigned");
  BIO* bio;
  if (includePrivateKey) {
    if (fileName.empty()) throw EX509Exception("File name not specified");
    bio = OpenPrivateFileBio(fileName);
    if (!bio) RaiseLastOpenSslError<EX509Exception>(true, "Error on opening file " + SslQuoted(fileName));
  } else {
    bio = OpenFileBio(fileName, bomWrite);
  }
  TBioGuard bioGuard{bio};
  if (includePrivateKey &&
      f_PEM_write_bio_PrivateKey(bio, FPrivateKey, nullptr, nullptr, 0, nullptr, nullptr) == 0)
    RaiseLastOpenSslError<EX509Exception>(true, "Error writing private key to file");
  if (f_PEM_write_bio_X509(bio, FX509) == 0)
    RaiseLastOpenSslError<EX509Exception>(true, "Error writing certificate to file");
}

void TX509Base::PrivateKeySaveToPemFile(const std::string& fileName) {
  InitializeSsl();
  if (!FPrivateKey) throw EX509Exception("Private key not assigned");
  if (fileName.empty()) throw EX509Exception("File name not specified");
  BIO* bio = OpenPrivateFileBio(fileName);
  if (!bio) RaiseLastOpenSslError<EX509Exception>(true, "Error on opening file " + SslQuoted(fileName));
  TBioGuard bioGuard{bio};
  if (f_PEM_write_bio_PrivateKey(bio, FPrivateKey, nullptr, nullptr, 0, nullptr, nullptr) == 0)
    RaiseLastOpenSslError<EX509Exception>(true, "Error writing private key to file");
}

// ---------------------------------------------------------------------------------------------------------

TX509List::TX509List() : X509Class([](::X509* cert) { return std::make_unique<TX509Base>(cert); }) {}

TX509List::~TX509List() = default;

void TX509List::Clear() { FItems.clear(); }

void TX509List::Delete(int index) {
  if (index >= 0 && index < GetCount()) FItems.erase(FItems.begin() + index);
}

TX509Base* TX509List::GetX509Base(int index) const {
  return index >= 0 && index < GetCount() ? FItems[index].get() : nullptr;
}

void TX509List::SetX509Base(int index, std::unique_ptr<TX509Base> item) {
  if (index >= 0 && index < GetCount()) FItems[index] = std::move(item);
}

int TX509List::IndexOf(const TX509Base* item) const {
  for (int i = 0; i < GetCount(); ++i)
    if (FItems[i].get() == item) return i;
  return -1;
}

TX509Base* TX509List::Add(::X509* cert) {
  FItems.push_back(X509Class(cert));
  return FItems.back().get();
}

TX509Base* TX509List::GetByHash(const std::string& sha1Hash) const {
  for (const auto& item : FItems)
    if (item && !item->GetSha1Hash().empty() && item->GetSha1Hash() == sha1Hash) return item.get();
  return nullptr;
}

TX509Base* TX509List::GetByPX509(::X509* cert) const {
  if (!cert) return nullptr;
  return GetByHash(X509Sha1Hash(cert));
}
