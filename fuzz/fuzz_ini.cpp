// Any bytes as an ini file: parsing must not crash, hang or read outside the input, and the
// text must come back byte for byte; lookups and edits must keep the file readable.
#include "common/IniFile.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  TIniFile ini = TIniFile::FromBytes(bytes);
  if (ini.Bytes() != bytes) __builtin_trap();

  const auto sections = ini.ReadSections();
  for (const auto& section : sections) {
    for (const auto& key : ini.ReadSection(section)) {
      std::string value;
      if (!ini.TryReadString(section, key, value)) __builtin_trap();
      ini.ReadInteger(section, key, 0);
      ini.ReadFloat(section, key, 0);
    }
  }
  // Edits: a written value reads back as written (up to its first line end).
  if (!sections.empty()) {
    const std::string& section = sections.front();
    const std::string value = bytes.substr(0, 16);
    if (ini.WriteString(section, "FuzzKey", value)) {
      const std::string expected = value.substr(0, value.find_first_of("\r\n"));
      if (ini.ReadString(section, "FuzzKey", "") != expected) __builtin_trap();
      TIniFile again = TIniFile::FromBytes(ini.Bytes());
      if (again.ReadString(section, "FuzzKey", "") != expected) __builtin_trap();
    }
    ini.DeleteKey(section, "FuzzKey");
    ini.EraseSection(section);
    if (ini.SectionExists(section)) __builtin_trap();
  }
  return 0;
}
