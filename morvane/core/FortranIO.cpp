#include "morvane/core/FortranIO.h"

#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace morvane {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Powers of ten that doubles hold exactly.
constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int kMaxExactPow10 = 22;
constexpr uint64_t kMaxExactInteger = uint64_t{1} << 53;

// The common real texts (counts, "0.123456E-01"): a mantissa below 2^53 and a power of ten up to 1e22
// are exact, so one multiplication or division rounds correctly and gives from_chars' value. False
// leaves the text to the general path, which also decides whether it is a real at all.
bool ParseExactReal(std::string_view t, double &value) {
  const size_t n = t.size();
  size_t i = 0;
  bool negative = false;
  if (i < n && (t[i] == '+' || t[i] == '-'))
    negative = t[i++] == '-';
  uint64_t mantissa = 0;
  int digits = 0, scale = 0;
  for (; i < n && IsDigit(t[i]); ++i, ++digits)
    mantissa = mantissa * 10 + static_cast<uint64_t>(t[i] - '0');
  if (i < n && t[i] == '.')
    for (++i; i < n && IsDigit(t[i]); ++i, ++digits, --scale)
      mantissa = mantissa * 10 + static_cast<uint64_t>(t[i] - '0');
  if (digits == 0 || digits > 19 || mantissa > kMaxExactInteger)
    return false;
  int exponent = 0;
  if (i < n) {
    const char c = t[i];
    if (c == 'e' || c == 'E' || c == 'd' || c == 'D' || c == 'q' || c == 'Q')
      ++i;
    else if (c != '+' && c != '-')
      return false;
    bool negativeExponent = false;
    if (i < n && (t[i] == '+' || t[i] == '-'))
      negativeExponent = t[i++] == '-';
    const size_t start = i;
    for (; i < n && IsDigit(t[i]) && i - start < 4; ++i)
      exponent = exponent * 10 + (t[i] - '0');
    if (i == start || i != n)
      return false;
    if (negativeExponent)
      exponent = -exponent;
  }
  const int e10 = scale + exponent;
  if (e10 < -kMaxExactPow10 || e10 > kMaxExactPow10)
    return false;
  const double m = static_cast<double>(mantissa);
  const double v = e10 >= 0 ? m * kPow10[e10] : m / kPow10[-e10];
  value = negative ? -v : v;
  return true;
}

// The integer nearest to r >= 0, where r is a correctly rounded product or quotient (off by at most half
// a unit in its last place). False when r lies so close to a half that the true value's side of it is
// not known, or too high for an exact integer: the caller then takes the exact conversion.
bool RoundScaled(double r, uint64_t &rounded) {
  if (!(r < 4.5e15))
    return false;
  const int64_t whole = static_cast<int64_t>(r); // r >= 0: truncation is the floor
  const double fraction = r - static_cast<double>(whole); // exact below 2^52
  if (std::fabs(fraction - 0.5) <= r * 4.5e-16 + 1e-300)
    return false;
  rounded = static_cast<uint64_t>(whole) + (fraction > 0.5 ? 1 : 0);
  return true;
}

// Writes the `count` last decimal digits of v before end (leading zeros kept).
void WriteDigits(uint64_t v, char *end, int count) {
  for (int k = 0; k < count; ++k, v /= 10)
    *--end = static_cast<char>('0' + v % 10);
}

} // namespace

bool ParseFortranInt(std::string_view text, long &value) {
  if (text.empty())
    return false;
  size_t i = 0;
  bool negative = false;
  if (text[0] == '+' || text[0] == '-') {
    negative = text[0] == '-';
    i = 1;
  }
  // One sign at most: from_chars would take a second one ("--5", "+-5").
  if (i == text.size() || !IsDigit(text[i]))
    return false;
  long v = 0;
  auto r = std::from_chars(text.data() + i, text.data() + text.size(), v);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size())
    return false;
  value = negative ? -v : v;
  return true;
}

bool ParseFortranReal(std::string_view text, double &value) {
  if (ParseExactReal(text, value))
    return true;
  // Normalised into "[-]digits[.digits][e[-]digits]" for from_chars, which is locale independent.
  char buf[128];
  size_t n = 0;
  size_t i = 0;
  if (text.empty() || text.size() > 100)
    return false;
  if (text[i] == '+' || text[i] == '-') {
    if (text[i] == '-')
      buf[n++] = '-';
    ++i;
  }
  int mantissaDigits = 0;
  while (i < text.size() && IsDigit(text[i])) {
    buf[n++] = text[i++];
    ++mantissaDigits;
  }
  if (i < text.size() && text[i] == '.') {
    buf[n++] = text[i++];
    while (i < text.size() && IsDigit(text[i])) {
      buf[n++] = text[i++];
      ++mantissaDigits;
    }
  }
  if (mantissaDigits == 0)
    return false;
  if (i < text.size()) {
    char c = text[i];
    if (c == 'e' || c == 'E' || c == 'd' || c == 'D' || c == 'q' || c == 'Q') {
      ++i;
    } else if (c != '+' && c != '-') {
      return false;
    }
    buf[n++] = 'e';
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
      if (text[i] == '-')
        buf[n++] = '-';
      ++i;
    }
    int expDigits = 0;
    while (i < text.size() && IsDigit(text[i])) {
      buf[n++] = text[i++];
      ++expDigits;
    }
    if (expDigits == 0 || i != text.size())
      return false;
  }
  double v = 0;
  auto r = std::from_chars(buf, buf + n, v);
  if (r.ec != std::errc() || r.ptr != buf + n || !std::isfinite(v))
    return false;
  value = v;
  return true;
}

void SplitListRecord(std::string_view line, ListRecord &out) {
  out.items.clear();
  out.nulls.clear();
  out.slash = false;
  size_t i = 0;
  bool valueSinceComma = false;
  auto push = [&](std::string_view item, bool isNull) {
    out.items.push_back(item);
    out.nulls.push_back(isNull);
  };
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i]))
      ++i;
    if (i == line.size())
      break;
    char c = line[i];
    if (c == ',') {
      if (!valueSinceComma)
        push({}, true);
      valueSinceComma = false;
      ++i;
      continue;
    }
    if (c == '/') {
      out.slash = true;
      break;
    }
    size_t start = i;
    size_t star = std::string_view::npos;
    for (; i < line.size(); ++i) {
      const char d = line[i];
      if (IsBlank(d) || d == ',' || d == '/')
        break;
      if (d == '*' && star == std::string_view::npos)
        star = i - start;
    }
    std::string_view item = line.substr(start, i - start);
    valueSinceComma = true;
    // "r*c": r copies of c, or r null values when c is empty.
    long repeat = 0;
    if (star != std::string_view::npos && star > 0 && ParseFortranInt(item.substr(0, star), repeat) &&
        repeat > 0 && repeat <= 100000 && IsDigit(item[0])) {
      std::string_view rest = item.substr(star + 1);
      for (long k = 0; k < repeat; ++k)
        push(rest, rest.empty());
    } else {
      push(item, false);
    }
  }
}

template <class T, class Parse>
ReadStatus ListReader::ReadValues(T *values, int count, Parse parse) {
  int filled = 0;
  while (filled < count) {
    if (!NextLine(line_))
      return ReadStatus::End;
    SplitListRecord(line_, record_);
    for (size_t k = 0; k < record_.items.size() && filled < count; ++k) {
      // A null value would leave the variable as it was; nothing here may rely on stale values.
      if (record_.nulls[k] || !parse(record_.items[k], values[filled]))
        return ReadStatus::Error;
      ++filled;
    }
    if (record_.slash && filled < count)
      return ReadStatus::Error;
  }
  return ReadStatus::Ok;
}

ReadStatus ListReader::ReadInts(long *values, int count) {
  return ReadValues(values, count, [](std::string_view t, long &v) { return ParseFortranInt(t, v); });
}

ReadStatus ListReader::ReadReals(double *values, int count) {
  return ReadValues(values, count, [](std::string_view t, double &v) { return ParseFortranReal(t, v); });
}

ReadStatus ListReader::ReadCountedInts(std::vector<long> &values, int maxCount) {
  values.clear();
  long count = -1;
  for (;;) {
    if (!NextLine(line_))
      return ReadStatus::End;
    SplitListRecord(line_, record_);
    for (size_t k = 0; k < record_.items.size(); ++k) {
      long v = 0;
      if (record_.nulls[k] || !ParseFortranInt(record_.items[k], v))
        return ReadStatus::Error;
      if (count < 0) {
        if (v < 0 || v > maxCount)
          return ReadStatus::Error;
        count = v;
      } else {
        values.push_back(v);
      }
      if (count >= 0 && static_cast<long>(values.size()) == count)
        return ReadStatus::Ok;
    }
    if (record_.slash)
      return ReadStatus::Error;
  }
}

bool ListReader::NextLine(std::string &line) {
  if (!std::getline(in_, line))
    return false;
  ++lineNo_;
  if (!line.empty() && line.back() == '\r')
    line.pop_back();
  return true;
}

ReadStatus ListReader::ReadText(std::string &text) {
  if (!NextLine(line_))
    return ReadStatus::End;
  size_t start = 0;
  while (start < line_.size() && (line_[start] == ' ' || line_[start] == '\t'))
    ++start;
  text = TrimRight(std::string_view(line_).substr(start));
  return ReadStatus::Ok;
}

bool OpenInput(std::ifstream &in, const std::string &path, std::string &why) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    why = "es una carpeta";
    return false;
  }
  in.open(path, std::ios::binary);
  if (!in) {
    why = std::strerror(errno);
    return false;
  }
  return true;
}

std::string TrimRight(std::string_view text) {
  size_t end = text.size();
  while (end > 0 && IsBlank(text[end - 1]))
    --end;
  return std::string(text.substr(0, end));
}

namespace {

void AppendField(std::string &out, std::string_view text, int width) {
  if (static_cast<int>(text.size()) > width) {
    out.append(static_cast<size_t>(width), '*');
    return;
  }
  out.append(static_cast<size_t>(width) - text.size(), ' ');
  out.append(text);
}

} // namespace

void AppendI(std::string &out, long value, int width) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  AppendField(out, std::string_view(buf, static_cast<size_t>(r.ptr - buf)), width);
}

namespace {

// "[-]ddd.ddd" with `decimals` decimals when the scaled value settles its rounding; null otherwise.
char *FastFixed(double value, int decimals, char *buf) {
  if (decimals < 0 || decimals > 15)
    return nullptr;
  uint64_t scaled = 0;
  if (!RoundScaled(std::fabs(value) * kPow10[decimals], scaled))
    return nullptr;
  const uint64_t unit = static_cast<uint64_t>(kPow10[decimals]);
  uint64_t whole = scaled / unit;
  char *p = buf;
  if (std::signbit(value))
    *p++ = '-';
  char digits[24];
  int nd = 0;
  do {
    digits[nd++] = static_cast<char>('0' + whole % 10);
    whole /= 10;
  } while (whole);
  while (nd)
    *p++ = digits[--nd];
  if (decimals > 0) {
    *p++ = '.';
    WriteDigits(scaled % unit, p + decimals, decimals);
    p += decimals;
  }
  return p;
}

} // namespace

void AppendF(std::string &out, double value, int width, int decimals) {
  char buf[400];
  if (!std::isfinite(value) || width <= 0 || width > 300) {
    out.append(static_cast<size_t>(width > 0 ? width : 0), '*');
    return;
  }
  char *end = FastFixed(value, decimals, buf);
  if (!end) {
    auto r = std::to_chars(buf, buf + sizeof buf - 1, value, std::chars_format::fixed, decimals);
    if (r.ec != std::errc()) {
      out.append(static_cast<size_t>(width), '*');
      return;
    }
    end = r.ptr;
  }
  char *begin = buf;
  if (decimals == 0)
    *end++ = '.';
  // The zero before the point is optional: dropped only when the field would overflow without it.
  const bool negative = *begin == '-';
  char *body = begin + (negative ? 1 : 0);
  if (end - begin > width && body[0] == '0' && body[1] == '.') {
    std::memmove(body, body + 1, static_cast<size_t>(end - body - 1));
    --end;
  }
  AppendField(out, std::string_view(begin, static_cast<size_t>(end - begin)), width);
}

namespace {

// The first `count` significant digits of v > 0, correctly rounded (ties to even on the exact binary
// value, as printf), into out; returns the decimal exponent of the first digit. The shortest round-trip
// form decides every case but an exact tie in it, which the slower exact conversion settles.
int SignificantDigits(double v, int count, char *out) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  char digits[32];
  int nd = 0;
  const char *p = buf;
  for (; p < r.ptr && *p != 'e'; ++p)
    if (*p != '.')
      digits[nd++] = *p;
  long exp10 = 0;
  ParseFortranInt(std::string_view(p + 1, static_cast<size_t>(r.ptr - p - 1)), exp10);
  if (nd <= count) {
    std::memcpy(out, digits, static_cast<size_t>(nd));
    std::memset(out + nd, '0', static_cast<size_t>(count - nd));
    return static_cast<int>(exp10);
  }
  if (nd == count + 1 && digits[count] == '5') {
    r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, count - 1);
    int k = 0;
    for (p = buf; p < r.ptr && *p != 'e'; ++p)
      if (*p != '.')
        out[k++] = *p;
    ParseFortranInt(std::string_view(p + 1, static_cast<size_t>(r.ptr - p - 1)), exp10);
    return static_cast<int>(exp10);
  }
  std::memcpy(out, digits, static_cast<size_t>(count));
  if (digits[count] >= '5') {
    int k = count - 1;
    while (k >= 0 && out[k] == '9')
      out[k--] = '0';
    if (k >= 0) {
      ++out[k];
    } else {
      out[0] = '1';
      ++exp10;
    }
  }
  return static_cast<int>(exp10);
}

} // namespace

char *PutE(char *out, double value, int width, int decimals) {
  const double a = std::fabs(value);
  if (decimals < 1 || decimals > 15 || !(a >= 1e-16 && a <= 1e26))
    return nullptr;
  uint64_t bits;
  std::memcpy(&bits, &a, sizeof bits);
  const int binaryExponent = static_cast<int>(bits >> 52) - 1022; // as frexp gives it, a being normal
  // The decimal exponent of the first digit is floor((binaryExponent - 1) log10 2) or one more.
  int e10 = ((binaryExponent - 1) * 78913) >> 18;
  const double low = kPow10[decimals - 1], high = kPow10[decimals];
  double r = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int k = decimals - 1 - e10;
    if (k < -kMaxExactPow10 || k > kMaxExactPow10)
      return nullptr;
    r = k >= 0 ? a * kPow10[k] : a / kPow10[-k];
    if (r < high)
      break;
    ++e10;
  }
  if (!(r >= low && r < high))
    return nullptr;
  uint64_t digits = 0;
  if (!RoundScaled(r, digits))
    return nullptr;
  if (digits == static_cast<uint64_t>(high)) { // 0.9999996E+01 -> 0.100000E+02
    digits /= 10;
    ++e10;
  }
  const int exponent = e10 + 1;
  const bool negative = std::signbit(value);
  const int length = (negative ? 1 : 0) + 2 + decimals + 4;
  if (length > width)
    return nullptr;
  char *p = out;
  for (int k = length; k < width; ++k)
    *p++ = ' ';
  if (negative)
    *p++ = '-';
  *p++ = '0';
  *p++ = '.';
  WriteDigits(digits, p + decimals, decimals);
  p += decimals;
  *p++ = 'E';
  *p++ = exponent < 0 ? '-' : '+';
  const int magnitude = exponent < 0 ? -exponent : exponent;
  *p++ = static_cast<char>('0' + magnitude / 10);
  *p++ = static_cast<char>('0' + magnitude % 10);
  return p;
}

void AppendE(std::string &out, double value, int width, int decimals) {
  if (!std::isfinite(value) || decimals < 1 || decimals > 40) {
    out.append(static_cast<size_t>(width), '*');
    return;
  }
  char fast[64];
  if (width < static_cast<int>(sizeof fast)) {
    if (const char *end = PutE(fast, value, width, decimals)) {
      out.append(fast, static_cast<size_t>(end - fast));
      return;
    }
  }
  // "[-]0.<decimals digits>E+ee", or "[-]0.<digits>+eee" for three-digit exponents.
  char text[64];
  size_t n = 0;
  int exponent = 0;
  const bool negative = std::signbit(value) && value != 0.0;
  if (negative)
    text[n++] = '-';
  text[n++] = '0';
  text[n++] = '.';
  if (value == 0.0) {
    for (int k = 0; k < decimals; ++k)
      text[n++] = '0';
  } else {
    exponent = SignificantDigits(std::fabs(value), decimals, text + n) + 1;
    n += static_cast<size_t>(decimals);
  }
  const int magnitude = exponent < 0 ? -exponent : exponent;
  if (magnitude > 999) {
    out.append(static_cast<size_t>(width), '*');
    return;
  }
  if (magnitude <= 99)
    text[n++] = 'E';
  text[n++] = exponent < 0 ? '-' : '+';
  if (magnitude > 99)
    text[n++] = static_cast<char>('0' + magnitude / 100);
  text[n++] = static_cast<char>('0' + magnitude / 10 % 10);
  text[n++] = static_cast<char>('0' + magnitude % 10);
  std::string_view field(text, n);
  std::string dropped;
  if (static_cast<int>(n) > width) {
    dropped.assign(field);
    dropped.erase(negative ? 1 : 0, 1);
    field = dropped;
  }
  AppendField(out, field, width);
}

std::string ListDirectedInt(long value) {
  std::string out = " ";
  AppendI(out, value, 11);
  return out;
}

std::string ListDirectedLogical(bool value) { return value ? " T" : " F"; }

} // namespace morvane
