#pragma once
// Shared set-up of the fuzzers: silent prompts, and the description lists of the installed data
// folder, so that the fuzzers reach the decoding of records by measurement type, not only the framing.
#include <cstddef>
#include <cstdint>
#include <string>

// Once per process: prompts answer their defaults without output; the global instrument, value
// description and measurement-type lists are loaded from the data folder.
void LoadFuzzDescriptions();
// Prompts only (for loaders that build their own lists).
void SilenceFuzzPrompts();
inline std::string FuzzBytes(const uint8_t* data, size_t size)
{
  return std::string(reinterpret_cast<const char*>(data), size);
}
