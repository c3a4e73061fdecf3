#include "tools/simulator/SimImage.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>

namespace zsim {

namespace {
constexpr char kStx = 0x02;
constexpr char kEtb = 0x17;

uint8_t DecimalAsHex(int value) {  // 25 -> 0x25, as the instrument writes its dates
  value = ((value % 100) + 100) % 100;
  return static_cast<uint8_t>((value / 10) * 16 + value % 10);
}

int HexDigitValue(uint8_t nibble) { return nibble <= 9 ? nibble : -1000; }
}  // namespace

std::string ToHex(const Bytes& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

std::string FrameCheck(const std::string& text) {
  uint8_t x = 0;
  for (char c : text) x ^= static_cast<uint8_t>(c);
  return ToHex(Bytes{x});
}

std::string EventFrame(const Bytes& record) {
  std::string frame;
  frame += kStx;
  frame += '1';
  frame += ToHex(record);
  frame += kEtb;
  return frame + FrameCheck(frame);
}

std::string ReplyFrame(const std::string& letterAndPayload) {
  std::string frame;
  frame += kStx;
  frame += letterAndPayload;
  frame += kEtb;
  return frame + FrameCheck(frame);
}

Bytes MakeRecord(uint8_t code, const RecordDate& d, const Bytes& payload, uint8_t variant, uint8_t sequence) {
  Bytes r;
  const size_t length = 10 + payload.size() + 2;
  r.reserve(length);
  r.push_back(code);
  r.push_back(static_cast<uint8_t>(length));
  r.push_back(variant);
  r.push_back(sequence);
  for (int v : {d.year % 100, d.month, d.day, d.hour, d.minute, d.second}) r.push_back(DecimalAsHex(v));
  r.insert(r.end(), payload.begin(), payload.end());
  r.push_back(0xFE);
  r.push_back(static_cast<uint8_t>(length));
  return r;
}

Bytes EmptyRecord() { return Bytes(16, 0xFF); }

Bytes MakeParamBlock(uint8_t type, const std::string& identifier) {
  Bytes p(256, 0);
  p[0] = type;
  for (size_t i = 0; i < identifier.size() && i < 8; ++i) p[128 + i] = static_cast<uint8_t>(identifier[i]);
  return p;
}

bool ParseDataFile(const Bytes& file, Image& out) {
  out = Image{};
  if (file.size() < 256) return false;
  out.param.assign(file.begin(), file.begin() + 256);
  size_t p = 256;
  while (p + 1 < file.size()) {
    const size_t length = file[p + 1];
    if (length == 0) { ++p; continue; }
    if (p + length > file.size()) break;
    if (file[p + length - 1] != length) { ++p; continue; }
    out.records.emplace_back(file.begin() + p, file.begin() + p + length);
    p += length;
  }
  return true;
}

Bytes BuildDataFile(const Image& image) {
  Bytes out = image.param;
  out.resize(256, 0);
  for (const Bytes& r : image.records) out.insert(out.end(), r.begin(), r.end());
  return out;
}

bool ReadFile(const std::string& path, Bytes& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

int64_t RecordSortKey(const Bytes& record) {
  if (record.size() < 10 || record[0] == 0xFF) return 0;
  int64_t key = 0;
  for (size_t i = 4; i < 10; ++i) {
    const int hi = HexDigitValue(record[i] >> 4), lo = HexDigitValue(record[i] & 15);
    if (hi < 0 || lo < 0) return 0;
    key = key * 100 + hi * 10 + lo;
  }
  // Years 81-99 are the last century: keep them before 00-80.
  if (key / 10000000000LL >= 81) key -= 100 * 10000000000LL;
  return key;
}

void SortNewestFirst(Image& image) {
  std::stable_sort(image.records.begin(), image.records.end(),
                   [](const Bytes& a, const Bytes& b) { return RecordSortKey(a) > RecordSortKey(b); });
}

Image DefaultImage(int64_t now, int count) {
  Image image;
  // A Q5 sun photometer of type 0A at site 0x0123.
  image.param = MakeParamBlock(0x0A, "SP0A0123");
  // Site 291 at 62.58 N, 20.00 E, 300 m; the same site again as station number, latitude in minutes
  // and longitude in time (bytes 20-28: 1 h 20 min 0 s east).
  const uint8_t site[] = {0x0A, 0x2A, 0x01, 0x23, 0x3B, 0x9A, 0x4E, 0x20, 0x01, 0x2C,
                          0x34, 0x80, 0x0D, 0x0F, 0x00, 0x40, 0x14, 0x94, 0xC8, 0x00,
                          0x01, 0x23, 0x00, 0x00, 0x01, 0x65, 0x9C, 0x14, 0x00};
  for (size_t i = 0; i < sizeof site; ++i) image.param[i] = site[i];
  // Measurements every 10 minutes, the newest 5 minutes before now: a direct-sun triplet, an
  // almucantar and a temperature record in turn.
  for (int i = 0; i < count; ++i) {
    const time_t t = static_cast<time_t>(now - 300 - 600 * i);
    std::tm tm{};
    gmtime_r(&t, &tm);
    RecordDate d{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
    Bytes payload;
    const uint8_t seq = static_cast<uint8_t>(count - i);
    auto put16 = [&payload](int v) {
      payload.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
      payload.push_back(static_cast<uint8_t>(v & 0xFF));
    };
    switch (i % 3) {
    case 0:  // direct sun: nine filters, head temperature
      for (int k = 0; k < 9; ++k) put16(4000 + 2500 * k + 13 * (i % 50));
      put16(231 + i % 7);
      image.records.push_back(MakeRecord(0x10, d, payload, 0, seq));
      break;
    case 1:  // almucantar of filter 4: eight angles, head temperature
      payload.push_back(4);
      payload.push_back(0);
      for (int k = 0; k < 8; ++k) put16(30000 - 3000 * k + 11 * (i % 50));
      put16(229 + i % 5);
      image.records.push_back(MakeRecord(0x20, d, payload, 1, seq));
      break;
    default:  // temperatures, batteries, humidity, rain, status
      put16(228 + i % 9);
      put16(1510);
      put16(1275);
      payload.push_back(180);
      payload.push_back(45);
      payload.push_back(0);
      payload.push_back(0x01);
      image.records.push_back(MakeRecord(0x30, d, payload, 0, seq));
      break;
    }
  }
  return image;
}

}  // namespace zsim
