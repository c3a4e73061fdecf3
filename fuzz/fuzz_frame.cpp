// Any bytes as a received event frame of an instrument whose data file is open, as a download stores
// it: the frame check, the decoding of every value by the record's measurement type, the texts and the
// ASCII export must not crash, hang or read outside the frame; a frame built from the decoded record
// reads back as the same record.
#include "common/Evenement.h"
#include "common/Q5File.h"
#include "common/ScnElement.h"
#include "common/Utils.h"
#include "fuzz/FuzzSupport.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

// The parameter block of the instrument the simulator plays (SP0A0123), as its data file starts.
const std::string& Header()
{
  static const std::string header = [] {
    const std::string hex =
      "0a170001362f472d009c34c00c0f01000a99c30000000000000000000000000000000000000000000000000000000000"
      "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
      "000000000000000000000000000000000000000000000000000000000000000053503041303132330000000000000000"
      "7d06150517007d0615051702000000000000000000000000000000000000000000000000000000000000000000000000"
      "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
      "00000000000000000000000000000000"
      ;
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(HexToByte(hex.substr(i, 2)));
    return bytes;
  }();
  return header;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  LoadFuzzDescriptions();
  FuzzScratchDir();
  Header();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  const std::string frame(reinterpret_cast<const char*>(data), size);
  TQ5File file;
  file.LoadFromBytes(reinterpret_cast<const uint8_t*>(Header().data()), Header().size());
  auto* ev = new TEvenement(&file);
  file.Events.Add(ev);
  ev->SetEvt(frame);
  ev->DescString();
  ev->SymbolString();
  ev->AsciiString();
  ev->AsciiHeader();
  for (int i = 0; i < ev->Count(); ++i) {
    TScnElement* element = ev->Items(i);
    element->GetASCIIString();
    element->GetTitle();
  }
  if (!ev->Valid) return 0;
  file.ExportAsciiFiles(FuzzScratchDir() + "/frame", true);
  TEvenement copy(&file);
  copy.SetEvt(TEvenement::BuildFrame(ev->Evt()));
  if (!copy.Valid || copy.Evt() != ev->Evt() || copy.Count() != ev->Count()) __builtin_trap();
  return 0;
}
