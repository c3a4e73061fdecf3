#pragma once
// Shared set-up of the fuzzers: silent prompts, and the description lists of the installed data
// folder, so that the fuzzers reach the decoding of records by measurement type, not only the framing.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Once per process: prompts answer their defaults without output; the global instrument, value
// description and measurement-type lists are loaded from the data folder.
void LoadFuzzDescriptions();
// Prompts only (for loaders that build their own lists).
void SilenceFuzzPrompts();
inline std::string FuzzBytes(const uint8_t* data, size_t size)
{
  return std::string(reinterpret_cast<const char*>(data), size);
}

// The input as chunks the way a link delivers them: the first byte seeds the cut points, the rest is
// the byte stream, cut into pieces of 1 to 64 bytes (a first byte of 0 gives one piece).
std::vector<std::string> FuzzChunks(const uint8_t* data, size_t size);

// A scratch folder of this process (under /dev/shm when it exists) for loaders that read files.
const std::string& FuzzScratchDir();
// Writes the bytes to a file of the scratch folder and returns its path.
std::string FuzzWriteFile(const std::string& name, const std::string& bytes);

// Once per process: a Qt core application, for the objects that post events to themselves.
void EnsureFuzzApplication();
// Runs the posted events of this input, so that they never pile up from one input to the next.
void RunFuzzEvents();
