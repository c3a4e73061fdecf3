// Any bytes as the script list "Scripts.lst" (first byte even) or as one exported ".sca" script (odd):
// loading must not crash or hang, whatever counts the file claims, and a list written back loads
// with as many scripts (and commands).
#include "common/IniFile.h"
#include "fuzz/FuzzSupport.h"
#include "station/link/Scripts.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  SilenceFuzzPrompts();
  FuzzScratchDir();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size < 1) return 0;
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] & 1) {
    TIniFile ini = TIniFile::FromBytes(bytes);
    TScript script;
    script.LoadFromIniFile(ini, "Def");
    for (int i = 0; i < script.Count(); ++i) script.Item(i)->GetDescription();
    TIniFile out = TIniFile::FromBytes(std::string());
    script.SaveToIniFile(out, "Def");
    TScript again;
    TIniFile back = TIniFile::FromBytes(out.Bytes());
    again.LoadFromIniFile(back, "Def");
    if (again.Count() != script.Count()) __builtin_trap();
    return 0;
  }
  const std::string path = FuzzWriteFile("Scripts.lst", bytes);
  std::string image;
  int count = 0;
  {
    TScriptsList list;
    list.LoadFromFile(path);
    image = list.Image();
    count = list.Count();
    list.FileName.clear();  // nothing is written back
  }
  if (image.empty()) return 0;
  TScriptsList again;
  again.LoadFromFile(FuzzWriteFile("Scripts.lst", image));
  again.FileName.clear();
  if (again.Count() != count) __builtin_trap();
  return 0;
}
