// Any bytes as a received event frame: the frame check and the decoding must not crash, hang or
// read outside the frame; a frame built from the decoded record reads back as the same record.
#include "common/Evenement.h"
#include "fuzz/FuzzSupport.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  LoadFuzzDescriptions();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  const std::string frame(reinterpret_cast<const char*>(data), size);
  TEvenement ev(nullptr);
  ev.SetEvt(frame);
  ev.DescString();
  ev.SymbolString();
  ev.AsciiString();
  ev.AsciiHeader();
  if (!ev.Valid) return 0;
  TEvenement copy(nullptr);
  copy.SetEvt(TEvenement::BuildFrame(ev.Evt()));
  if (!copy.Valid || copy.Evt() != ev.Evt()) __builtin_trap();
  return 0;
}
