#include "common/SettingsStore.h"

#include "common/DataPaths.h"
#include "common/FileUtils.h"

#include <cstdio>

namespace {

const char* const kRootSection = "General";

// Registry path components, without empty ones; '/' and names made only of dots cannot be folder
// or file names and are replaced.
std::vector<std::string> KeyParts(const std::string& key)
{
  std::vector<std::string> parts;
  std::string part;
  auto flush = [&] {
    size_t b = part.find_first_not_of(' '), e = part.find_last_not_of(' ');
    part = b == std::string::npos ? std::string() : part.substr(b, e - b + 1);
    if (!part.empty()) parts.push_back(part);
    part.clear();
  };
  for (char c : key) {
    if (c == '\\') flush();
    else part.push_back(c == '/' || c == '\0' ? '_' : c);
  }
  flush();
  if (!parts.empty() && IniNameEquals(parts[0], "SOFTWARE")) parts.erase(parts.begin());
  return parts;
}

std::string FileSafe(const std::string& name)
{
  return name.find_first_not_of('.') == std::string::npos ? std::string(name.size(), '_') : name;
}

std::string JoinKey(const std::vector<std::string>& parts, size_t from)
{
  std::string out;
  for (size_t i = from; i < parts.size(); ++i) out += (out.empty() ? "" : "\\") + parts[i];
  return out;
}

// "a\b" + "c" -> "a\b\c"; an empty path is the key itself, kept in the root section.
std::string SectionOf(const std::string& subKey, const std::string& section)
{
  std::string sub;
  for (const auto& p : KeyParts(section)) sub += (sub.empty() ? "" : "\\") + p;
  std::string full = subKey.empty() ? sub : sub.empty() ? subKey : subKey + "\\" + sub;
  return full.empty() ? std::string(kRootSection) : full;
}

bool StartsWithNoCase(const std::string& s, const std::string& prefix)
{
  return s.size() >= prefix.size() && IniNameEquals(s.substr(0, prefix.size()), prefix);
}

}  // namespace

std::filesystem::path SettingsStoreFile(const std::string& registryKey)
{
  std::vector<std::string> parts = KeyParts(registryKey);
  std::filesystem::path dir = UserConfigDir();
  if (parts.empty()) return dir / "zelt.ini";
  if (parts.size() == 1) return dir / (FileSafe(parts[0]) + ".ini");
  return dir / FileSafe(parts[0]) / (FileSafe(parts[1]) + ".ini");
}

std::string SettingsStoreSection(const std::string& registryKey, const std::string& section)
{
  std::vector<std::string> parts = KeyParts(registryKey);
  return SectionOf(JoinKey(parts, parts.size() < 2 ? parts.size() : 2), section);
}

TRegistryIniFile::TRegistryIniFile(const std::string& registryKey)
    : key_(registryKey), ini_(SettingsStoreFile(registryKey))
{
  std::vector<std::string> parts = KeyParts(registryKey);
  subKey_ = JoinKey(parts, parts.size() < 2 ? parts.size() : 2);
}

TRegistryIniFile::~TRegistryIniFile()
{
  if (ini_.Modified() && !UpdateFile()) {
    std::fprintf(stderr, "%s\n", LastError().c_str());
    ini_.DiscardChanges();  // said once
  }
}

std::string TRegistryIniFile::Section(const std::string& section) const
{
  return SectionOf(subKey_, section);
}

bool TRegistryIniFile::TryReadString(const std::string& section, const std::string& ident, std::string& value)
{
  return ini_.TryReadString(Section(section), ident, value);
}

bool TRegistryIniFile::WriteString(const std::string& section, const std::string& ident, const std::string& value)
{
  return ini_.WriteString(Section(section), ident, value);
}

std::vector<std::string> TRegistryIniFile::ReadSections()
{
  const std::string prefix = subKey_.empty() ? std::string() : subKey_ + "\\";
  std::vector<std::string> result;
  for (const auto& name : ini_.ReadSections()) {
    if (subKey_.empty() && IniNameEquals(name, kRootSection)) continue;
    if (!StartsWithNoCase(name, prefix) || name.size() == prefix.size()) continue;
    std::string child = name.substr(prefix.size());
    child = child.substr(0, child.find('\\'));
    bool seen = false;
    for (const auto& r : result) seen = seen || IniNameEquals(r, child);
    if (!seen && !child.empty()) result.push_back(child);
  }
  return result;
}

std::vector<std::string> TRegistryIniFile::ReadSection(const std::string& section)
{
  return ini_.ReadSection(Section(section));
}

bool TRegistryIniFile::EraseSection(const std::string& section)
{
  const std::string target = Section(section);
  for (const auto& name : ini_.ReadSections())
    if (IniNameEquals(name, target) || StartsWithNoCase(name, target + "\\")) ini_.EraseSection(name);
  return true;
}

bool TRegistryIniFile::DeleteKey(const std::string& section, const std::string& ident)
{
  return ini_.DeleteKey(Section(section), ident);
}

bool TRegistryIniFile::UpdateFile()
{
  lastError_.clear();
  if (!ini_.Modified()) return true;
  std::filesystem::path dir = std::filesystem::path(ini_.FileName()).parent_path();
  if (!ForceDirectories(dir, &lastError_)) return false;
  return ini_.UpdateFile();
}
