#pragma once
// A map from doubles to doubles by open addressing on the keys' bits, for hundreds of thousands of
// entries where a standard map would allocate a node for each. Equal keys are one (0 and -0 too); a
// key that is not a number equals none, as in a standard map, and is never kept.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

class TValueMap {
 public:
  // The value kept for key, or null.
  const double* Find(double key) const {
    if (count_ == 0 || key != key) return nullptr;
    const uint64_t bits = Bits(key);
    for (size_t i = Slot(bits);; i = Next(i)) {
      if (slots_[i].key == bits) return &slots_[i].value;
      if (slots_[i].key == kEmpty) return nullptr;
    }
  }
  // Keeps value for key unless the key is there already (or is not a number); true when kept.
  bool Insert(double key, double value) {
    if (key != key) return false;
    if ((count_ + 1) * 2 > slots_.size()) Grow();
    const uint64_t bits = Bits(key);
    for (size_t i = Slot(bits);; i = Next(i)) {
      if (slots_[i].key == bits) return false;
      if (slots_[i].key == kEmpty) {
        slots_[i] = {bits, value};
        ++count_;
        return true;
      }
    }
  }
  size_t Size() const { return count_; }
  void Clear() {
    slots_.clear();
    count_ = 0;
  }

 private:
  static constexpr uint64_t kEmpty = 0x7ff8000000000000ULL;  // a NaN's bits: never a key
  struct Entry {
    uint64_t key;
    double value;
  };
  static uint64_t Bits(double key) { return std::bit_cast<uint64_t>(key == 0 ? 0.0 : key); }
  size_t Slot(uint64_t bits) const {
    bits ^= bits >> 33;
    bits *= 0xff51afd7ed558ccdULL;
    bits ^= bits >> 33;
    return static_cast<size_t>(bits) & (slots_.size() - 1);
  }
  size_t Next(size_t i) const { return (i + 1) & (slots_.size() - 1); }
  void Grow() {
    std::vector<Entry> old = std::move(slots_);
    slots_.assign(std::max<size_t>(1024, old.size() * 2), Entry{kEmpty, 0});
    count_ = 0;
    for (const Entry& e : old)
      if (e.key != kEmpty) Insert(std::bit_cast<double>(e.key), e.value);
  }
  std::vector<Entry> slots_;
  size_t count_ = 0;
};
