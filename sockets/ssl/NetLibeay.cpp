#include "sockets/ssl/NetLibeay.h"

#include "sockets/ssl/EntryPoints.h"

#include <dlfcn.h>

#include <iterator>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace Netlibeay {

#define NETLIBEAY_DEFINE(name) decltype(&::name) f_##name = nullptr;
NETLIBEAY_ENTRY_POINTS(NETLIBEAY_DEFINE)
#undef NETLIBEAY_DEFINE

std::string GLIBEAY_DLL_Name = "libcrypto.so.3";
std::string GLIBEAY_DLL_FileName = "*NOT LOADED*";
void* GLIBEAY_DLL_Handle = nullptr;
unsigned long GLIBEAY_DLL_FileVersion = 0;

namespace {

#define NETLIBEAY_ENTRY(name) TEntryPoint{#name, reinterpret_cast<void**>(&f_##name)},
const TEntryPoint kEntries[] = {NETLIBEAY_ENTRY_POINTS(NETLIBEAY_ENTRY)};
#undef NETLIBEAY_ENTRY

std::string Hex8(unsigned long v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%.8lX", v);
  return buf;
}

void* DlsymLookup(void* handle, const char* name) { return dlsym(handle, name); }

std::string ModulePath(void* handle, const char* symbol, const std::string& fallback) {
  Dl_info info{};
  void* addr = dlsym(handle, symbol);
  if (addr && dladdr(addr, &info) && info.dli_fname) return info.dli_fname;
  return fallback;
}

std::string VersionText(int selector) {
  if (!f_OpenSSL_version) return {};
  const char* s = f_OpenSSL_version(selector);
  return s ? s : "";
}

}  // namespace

bool BindEntryPoints(void* (*lookup)(void*, const char*), void* context) {
  return BindEntryPointTable(kEntries, std::size(kEntries), lookup, context);
}

std::string WhichFailedToLoad() { return UnboundEntryPoints(kEntries, std::size(kEntries)); }

void Unload() {
  ClearEntryPointTable(kEntries, std::size(kEntries));
  if (GLIBEAY_DLL_Handle) dlclose(GLIBEAY_DLL_Handle);
  GLIBEAY_DLL_Handle = nullptr;
  GLIBEAY_DLL_FileName = "*NOT LOADED*";
  GLIBEAY_DLL_FileVersion = 0;
}

void CheckVersion(unsigned long version, const std::string& fileName) {
  if (version < kMinVersion || version > kMaxVersion)
    throw ENetLibeayException("Unsupported OpenSSL version (0x" + Hex8(version) + ") !\r\n" +
                              "Supported versions are 0x" + Hex8(kMinVersion) + " - 0x" +
                              Hex8(kMaxVersion) + "\r\n" + "FileName: " + fileName);
}

bool Load() {
  if (GLIBEAY_DLL_Handle) return true;
  dlerror();
  void* handle = dlopen(GLIBEAY_DLL_Name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* err = dlerror();
    throw ENetLibeayException("Unable to load " + GLIBEAY_DLL_Name + ". Error #0\r\n" +
                              (err ? err : "unknown error"));
  }
  std::string path = ModulePath(handle, "OpenSSL_version_num", GLIBEAY_DLL_Name);
  auto versionNum = reinterpret_cast<decltype(&::OpenSSL_version_num)>(dlsym(handle, "OpenSSL_version_num"));
  if (!versionNum) {
    // Not an OpenSSL 3 crypto library: nothing else is bound.
    GLIBEAY_DLL_Handle = handle;
    GLIBEAY_DLL_FileName = path;
    return false;
  }
  unsigned long version = versionNum();
  try {
    CheckVersion(version, path);
  } catch (...) {
    dlclose(handle);
    throw;
  }
  GLIBEAY_DLL_Handle = handle;
  GLIBEAY_DLL_FileName = path;
  GLIBEAY_DLL_FileVersion = version;
  return BindEntryPoints(DlsymLookup, handle);
}

// OpenSSL_version selectors; the old interface numbered them 0, 2, 3, 4, 5.
std::string OpenSslVersion() { return VersionText(OPENSSL_VERSION); }
std::string OpenSslCompilerFlags() { return VersionText(OPENSSL_CFLAGS); }
std::string OpenSslBuiltOn() { return VersionText(OPENSSL_BUILT_ON); }
std::string OpenSslPlatForm() { return VersionText(OPENSSL_PLATFORM); }
std::string OpenSslDir() { return VersionText(OPENSSL_DIR); }

int BIO_get_flags(BIO* b) { return f_BIO_test_flags(b, ~0); }
bool BIO_should_read(BIO* b) { return (BIO_get_flags(b) & BIO_FLAGS_READ) != 0; }
bool BIO_should_write(BIO* b) { return (BIO_get_flags(b) & BIO_FLAGS_WRITE) != 0; }
bool BIO_should_io_special(BIO* b) { return (BIO_get_flags(b) & BIO_FLAGS_IO_SPECIAL) != 0; }
int BIO_retry_type(BIO* b) { return BIO_get_flags(b) & BIO_FLAGS_RWS; }
bool BIO_should_retry(BIO* b) { return (BIO_get_flags(b) & BIO_FLAGS_SHOULD_RETRY) != 0; }

const ASN1_TIME* f_Net_X509_get_notBefore(X509* cert) {
  return cert ? f_X509_get0_notBefore(cert) : nullptr;
}
const ASN1_TIME* f_Net_X509_get_notAfter(X509* cert) {
  return cert ? f_X509_get0_notAfter(cert) : nullptr;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second) {
  // Days from civil date (proleptic Gregorian), then shifted to the 1899-12-30 epoch.
  int y = year - (month <= 2 ? 1 : 0);
  int era = (y >= 0 ? y : y - 399) / 400;
  int yoe = y - era * 400;
  int mp = (month + 9) % 12;
  int doy = (153 * mp + 2) / 5 + day - 1;
  int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  long days = static_cast<long>(era) * 146097 + doe - 719468;  // since 1970-01-01
  return static_cast<double>(days + 25569) + (hour * 3600 + minute * 60 + second) / 86400.0;
}

TDateTime NowUTC() {
  using namespace std::chrono;
  double secs = duration<double>(system_clock::now().time_since_epoch()).count();
  return 25569.0 + secs / 86400.0;
}

namespace {

bool Digits(const std::string& s, size_t from, size_t count) {
  if (s.size() < from + count) return false;
  for (size_t i = from; i < from + count; ++i)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

int Num(const std::string& s, size_t from, size_t count) {
  int v = 0;
  for (size_t i = from; i < from + count; ++i) v = v * 10 + (s[i] - '0');
  return v;
}

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

bool Asn1TextToUTDateTime(int type, const std::string& text, int currentYear, TDateTime& result) {
  result = kMinDateTime;
  if (text.size() <= 9) return false;
  int year, month, day, hour, minute, second = 0;
  if (type == V_ASN1_UTCTIME) {
    if (!Digits(text, 0, 10)) return false;
    year = Num(text, 0, 2);
    int century = currentYear / 100 * 100;
    year += year > 49 ? century - 100 : century;
    month = Num(text, 2, 2);
    day = Num(text, 4, 2);
    hour = Num(text, 6, 2);
    minute = Num(text, 8, 2);
    if (Digits(text, 10, 2)) second = Num(text, 10, 2);
  } else if (type == V_ASN1_GENERALIZEDTIME) {
    if (!Digits(text, 0, 12)) return false;
    year = Num(text, 0, 4);
    month = Num(text, 4, 2);
    day = Num(text, 6, 2);
    hour = Num(text, 8, 2);
    minute = Num(text, 10, 2);
    if (Digits(text, 12, 2)) second = Num(text, 12, 2);
  } else {
    return false;
  }
  if (month < 1 || month > 12) return false;
  if (day < 1 || day > DaysInMonth(year, month) || hour > 23 || minute > 59 || second > 60) return false;
  TDateTime value = EncodeDateTime(year, month, day, hour, minute, second);
  if (text.back() != 'Z') {
    // A local time with an explicit offset +hhmm / -hhmm: turn it into UTC.
    size_t i = text.size();
    while (i > 0 && text[i - 1] >= '0' && text[i - 1] <= '9') --i;
    if (i == 0 || (text[i - 1] != '+' && text[i - 1] != '-')) return false;
    size_t n = text.size() - i;
    if (n != 4) return false;
    int hh = Num(text, i, 2);
    int mm = Num(text, i + 2, 2);
    if (mm >= 60) return false;  // not a time offset
    int offset = hh * 60 + mm;
    if (text[i - 1] == '-') offset = -offset;
    if (offset < -12 * 60 || offset > 13 * 60) return false;
    value -= offset / 1440.0;
  }
  result = value;
  return true;
}

bool Asn1ToUTDateTime(const ASN1_TIME* tm, TDateTime& result) {
  result = kMinDateTime;
  if (!tm) return false;
  int type = f_ASN1_STRING_type(tm);
  int len = f_ASN1_STRING_length(tm);
  const unsigned char* data = f_ASN1_STRING_get0_data(tm);
  if (!data || len <= 0) return false;
  std::time_t now = std::time(nullptr);
  std::tm parts{};
  gmtime_r(&now, &parts);
  return Asn1TextToUTDateTime(type, std::string(reinterpret_cast<const char*>(data), len),
                              parts.tm_year + 1900, result);
}

namespace {

// Windows-1252 bytes for the code points 0x80..0x9F of that code page.
const char16_t kCp1252High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                  0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char ToCp1252(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
  for (int i = 0; i < 32; ++i)
    if (kCp1252High[i] && kCp1252High[i] == cp) return static_cast<char>(0x80 + i);
  return '?';
}

std::string Utf8ToCp1252(const unsigned char* p, int len) {
  std::string out;
  int i = 0;
  while (i < len) {
    unsigned char c = p[i];
    char32_t cp;
    int extra;
    if (c < 0x80) { cp = c; extra = 0; }
    else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; extra = 1; }
    else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; extra = 2; }
    else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; extra = 3; }
    else { out += '?'; ++i; continue; }
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      if (i + k >= len || (p[i + k] & 0xC0) != 0x80) { ok = false; break; }
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if (!ok) { out += '?'; ++i; continue; }
    out += ToCp1252(cp);
    i += extra + 1;
  }
  return out;
}

}  // namespace

std::string Asn1ToString(const ASN1_STRING* s) {
  if (!s) return {};
  int len = f_ASN1_STRING_length(s);
  const unsigned char* data = f_ASN1_STRING_get0_data(s);
  if (!data || len <= 0) return {};
  switch (f_ASN1_STRING_type(s)) {
    case V_ASN1_UTF8STRING:
      return Utf8ToCp1252(data, len);
    case V_ASN1_BMPSTRING: {
      std::string out;
      for (int i = 0; i + 1 < len; i += 2) {
        char32_t cp = (static_cast<char32_t>(data[i]) << 8) | data[i + 1];
        out += ToCp1252(cp);
      }
      return out;
    }
    default:
      return std::string(reinterpret_cast<const char*>(data), len);
  }
}

}  // namespace Netlibeay
