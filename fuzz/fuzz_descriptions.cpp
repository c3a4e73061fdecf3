// Any bytes as one of the description files: the loader must not crash, hang or read outside the
// text, and what it built must be usable. FUZZ_LIST picks the loader at build time.
#include "common/Instrument.h"
#include "common/ScnElement.h"
#include "common/ScnType.h"
#include "fuzz/FuzzSupport.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  // ScnList.dat refers to the value descriptions; the others stand alone.
  LoadFuzzDescriptions();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  const std::string text = FuzzBytes(data, size);
#if FUZZ_LIST == 1
  TListScn list;
  list.LoadFromText(text);
  // Records of the sample instrument against the fuzzed types.
  static const char* const records[] = {"101D000026120905330207D00AAB0D861061133C161718F21BCD14FE1D",
                                        "20", "", "301000002612090533021BFE10"};
  for (const char* record : records) {
    list.FindType(record, "SP0A0000");
    list.FindType(record, "");
  }
  for (int t = 0; t < list.Count(); ++t)
    for (int i = 0; i < list[t]->Count(); ++i) (*list[t])[i]->GetTitle();
#elif FUZZ_LIST == 2
  TListElScn list;
  list.LoadFromText(text);
  list.Find("COUNT");
#else
  TInstrumentList list;
  list.LoadFromText(text);
  for (int i = 0; i < list.Count(); ++i)
    for (const auto& filter : list[i]->Filters) {
      filter->GetWavelengthText();
      filter->GetLabel();
    }
  list.FindByID("SP0A0000");
  list.GetInstrumentName("SP0A0000");
#endif
  return 0;
}
