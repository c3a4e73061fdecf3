#pragma once
// A table of entry points bound by name from a library loaded at run time.
#include <cstddef>
#include <string>

struct TEntryPoint {
  const char* Name;
  void** Slot;
};

// Binds each slot through lookup; true when every name was found (missing slots stay null).
inline bool BindEntryPointTable(const TEntryPoint* table, std::size_t count,
                                void* (*lookup)(void* context, const char* name), void* context) {
  bool all = true;
  for (std::size_t i = 0; i < count; ++i) {
    *table[i].Slot = lookup(context, table[i].Name);
    if (!*table[i].Slot) all = false;
  }
  return all;
}

// Forgets every entry point (the library they came from is about to be released).
inline void ClearEntryPointTable(const TEntryPoint* table, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) *table[i].Slot = nullptr;
}

// A blank and the name of each unbound entry point, in table order.
inline std::string UnboundEntryPoints(const TEntryPoint* table, std::size_t count) {
  std::string result;
  for (std::size_t i = 0; i < count; ++i)
    if (!*table[i].Slot) result += std::string(" ") + table[i].Name;
  return result;
}
