#pragma once
// A record as the description code reads it: from its hex text (an event's record, which may be
// damaged: odd lengths and characters that are not hex read as absent), or from its bytes (a record of
// a file's image, read without making its hex). Both give the same answers for the same record.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/ScnType.h"

class THexRecord {
public:
  explicit THexRecord(const std::string& hex) : FHex(hex) {}
  size_t Size() const { return FHex.size() / 2; }
  bool Holds(size_t offset, size_t bytes) const {
    const size_t start = offset * 2;
    return start <= FHex.size() && FHex.size() - start >= bytes * 2;
  }
  // `digits` hex digits from byte `offset`; false when they lie outside the record or are not hex.
  bool Raw(size_t offset, size_t digits, uint32_t& raw) const {
    uint64_t value = 0;
    if (!desc::HexValueAt(FHex, offset * 2, digits, value)) return false;
    raw = static_cast<uint32_t>(value);
    return true;
  }
  bool ByteAt(size_t offset, uint8_t& value) const { return desc::HexByteAt(FHex, offset, value); }
  // The two hex digits of byte `offset` (within the record) read as a decimal number ("12" is 12);
  // false when either is not a decimal digit.
  bool DecimalByte(size_t offset, int32_t& out) const {
    const char high = FHex[offset * 2];
    const char low = FHex[offset * 2 + 1];
    if (high < '0' || high > '9' || low < '0' || low > '9') return false;
    out = (high - '0') * 10 + (low - '0');
    return true;
  }

private:
  const std::string& FHex;
};

class TByteRecord {
public:
  TByteRecord(const uint8_t* bytes, size_t size) : FBytes(bytes), FSize(size) {}
  size_t Size() const { return FSize; }
  bool Holds(size_t offset, size_t bytes) const { return offset <= FSize && FSize - offset >= bytes; }
  bool Raw(size_t offset, size_t digits, uint32_t& raw) const {
    const size_t bytes = digits / 2;
    if (digits % 2 != 0 || bytes > 4 || !Holds(offset, bytes)) return false;
    uint32_t value = 0;
    for (size_t i = 0; i < bytes; ++i) value = value << 8 | FBytes[offset + i];
    raw = value;
    return true;
  }
  bool ByteAt(size_t offset, uint8_t& value) const {
    if (offset >= FSize) return false;
    value = FBytes[offset];
    return true;
  }
  bool DecimalByte(size_t offset, int32_t& out) const {
    const int high = FBytes[offset] >> 4;
    const int low = FBytes[offset] & 0x0F;
    if (high > 9 || low > 9) return false;
    out = high * 10 + low;
    return true;
  }

private:
  const uint8_t* FBytes;
  size_t FSize;
};
