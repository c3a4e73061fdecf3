#include "morvane/core/FortranIO.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace morvane {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

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
  if (i == text.size())
    return false;
  long v = 0;
  auto r = std::from_chars(text.data() + i, text.data() + text.size(), v);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size())
    return false;
  value = negative ? -v : v;
  return true;
}

bool ParseFortranReal(std::string_view text, double &value) {
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
    while (i < line.size() && !IsBlank(line[i]) && line[i] != ',' && line[i] != '/')
      ++i;
    std::string_view item = line.substr(start, i - start);
    valueSinceComma = true;
    // "r*c": r copies of c, or r null values when c is empty.
    size_t star = item.find('*');
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

void AppendF(std::string &out, double value, int width, int decimals) {
  if (!std::isfinite(value)) {
    out.append(static_cast<size_t>(width), '*');
    return;
  }
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof buf - 1, value, std::chars_format::fixed, decimals);
  if (r.ec != std::errc()) {
    out.append(static_cast<size_t>(width), '*');
    return;
  }
  std::string text(buf, r.ptr);
  if (decimals == 0)
    text += '.';
  // The zero before the point is optional: dropped only when the field would overflow without it.
  const bool negative = text[0] == '-';
  const size_t body = negative ? 1 : 0;
  if (static_cast<int>(text.size()) > width && text.compare(body, 2, "0.") == 0)
    text.erase(body, 1);
  AppendField(out, text, width);
}

void AppendE(std::string &out, double value, int width, int decimals) {
  if (!std::isfinite(value) || decimals < 1) {
    out.append(static_cast<size_t>(width), '*');
    return;
  }
  std::string digits;
  int exponent = 0;
  bool negative = std::signbit(value) && value != 0.0;
  if (value == 0.0) {
    digits.assign(static_cast<size_t>(decimals), '0');
  } else {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, decimals - 1);
    std::string_view s(buf, static_cast<size_t>(r.ptr - buf));
    if (s[0] == '-')
      s.remove_prefix(1);
    size_t e = s.find('e');
    for (size_t k = 0; k < e; ++k)
      if (s[k] != '.')
        digits += s[k];
    long exp10 = 0;
    ParseFortranInt(s.substr(e + 1), exp10);
    exponent = static_cast<int>(exp10) + 1;
  }
  std::string text;
  if (negative)
    text += '-';
  text += "0.";
  text += digits;
  const int magnitude = exponent < 0 ? -exponent : exponent;
  char expBuf[8];
  if (magnitude <= 99) {
    std::snprintf(expBuf, sizeof expBuf, "E%c%02d", exponent < 0 ? '-' : '+', magnitude);
  } else if (magnitude <= 999) {
    std::snprintf(expBuf, sizeof expBuf, "%c%03d", exponent < 0 ? '-' : '+', magnitude);
  } else {
    out.append(static_cast<size_t>(width), '*');
    return;
  }
  text += expBuf;
  if (static_cast<int>(text.size()) > width)
    text.erase(negative ? 1 : 0, 1);
  AppendField(out, text, width);
}

std::string ListDirectedInt(long value) {
  std::string out = " ";
  AppendI(out, value, 11);
  return out;
}

std::string ListDirectedLogical(bool value) { return value ? " T" : " F"; }

} // namespace morvane
