// Any bytes as a station parameter file followed by a parameter block: "<PAR text>\0<block bytes>".
// Loading the file and decoding and encoding every parameter of the block must not crash, hang or
// read outside the block; a field that lies outside a short block reads as absent.
#include "common/StaParametre.h"
#include "common/Utils.h"
#include "fuzz/FuzzSupport.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  SilenceFuzzPrompts();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  const std::string bytes = FuzzBytes(data, size);
  const size_t split = bytes.find('\0');
  TParFile par;
  par.LoadFromText(bytes.substr(0, split));
  std::string block;
  if (split != std::string::npos) {
    const std::string raw = bytes.substr(split + 1, PARAM_BLOCK_HEX_LENGTH / 2);
    block = BytesToHex(reinterpret_cast<const uint8_t*>(raw.data()), raw.size());
  }
  std::string buffer(PARAM_BLOCK_HEX_LENGTH, '0');
  for (const auto& line : par.Lines) {
    double value = 0;
    if (line->DecodeValue(block, value)) {
      line->EncodeValue(buffer, value);
      double again = 0;
      line->DecodeValue(buffer, again);
    }
    line->RawToValue(static_cast<double>(line->Max));
    line->EncodeValue(block, line->MaxValue);
  }
  if (buffer.size() != PARAM_BLOCK_HEX_LENGTH) __builtin_trap();
  return 0;
}
