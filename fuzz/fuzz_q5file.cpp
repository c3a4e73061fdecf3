// Any bytes as a Q5 data file: parsing, decoding every value of every event, their texts, the ASCII
// export and a rebuild must not crash, hang or read outside the image; a rebuilt image parses to the
// same rebuilt image.
#include "common/Q5File.h"
#include "common/ScnElement.h"
#include "fuzz/FuzzSupport.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  LoadFuzzDescriptions();
  FuzzScratchDir();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  TQ5File file;
  file.LoadFromBytes(data, size);
  for (int i = 0; i < file.Events.Count(); ++i) {
    TEvenement* ev = file.Events[i];
    ev->DescString();
    ev->SymbolString();
    ev->AsciiString();
    ev->AsciiHeader();
    for (int j = 0; j < ev->Count(); ++j) {
      TScnElement* element = ev->Items(j);
      element->GetASCIIString();
      element->GetTitle();
    }
  }
  file.ExportAsciiFiles(FuzzScratchDir() + "/q5file", true);
  file.NbEvt();
  file.DataSize();
  if (!file.Rebuild()) return 0;
  const std::string first(reinterpret_cast<const char*>(file.Image.get()), static_cast<size_t>(file.ImageLength));
  TQ5File again;
  again.LoadFromBytes(reinterpret_cast<const uint8_t*>(first.data()), first.size());
  if (!again.Rebuild()) __builtin_trap();
  if (again.ImageLength != file.ImageLength ||
      std::memcmp(again.Image.get(), first.data(), first.size()) != 0)
    __builtin_trap();
  return 0;
}
