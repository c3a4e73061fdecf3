#pragma once
// The per-user settings store that stands for the product's registry key: one ini file per user
// under $XDG_CONFIG_HOME, named after the key ("SOFTWARE\Maker\Product" -> "<config>/Maker/Product.ini"),
// one section per key: the values of the key itself in "General", those of a sub-key in a section
// named by the sub-key path ("Status", "Tessaly", "Tessaly\Status").
#include "common/IniFile.h"

#include <filesystem>
#include <string>

// The store file of a registry key (the leading "SOFTWARE\" is optional, names match without case).
std::filesystem::path SettingsStoreFile(const std::string& registryKey);
// The section that holds `section` of `registryKey` (an empty section is the key itself).
std::string SettingsStoreSection(const std::string& registryKey, const std::string& section);

// A settings reader on a registry key, as the registry-as-ini-file reader: section "" reads the
// values of the key itself, any other section the sub-key of that name. Changes are saved by
// UpdateFile() or by the destructor; the store's folder is created when first saved.
class TRegistryIniFile : public TCustomIniFile {
 public:
  explicit TRegistryIniFile(const std::string& registryKey);
  ~TRegistryIniFile() override;
  TRegistryIniFile(const TRegistryIniFile&) = delete;
  TRegistryIniFile& operator=(const TRegistryIniFile&) = delete;

  const std::string& RegistryKey() const { return key_; }

  std::string FileName() const override { return ini_.FileName(); }
  bool TryReadString(const std::string& section, const std::string& ident, std::string& value) override;
  bool WriteString(const std::string& section, const std::string& ident, const std::string& value) override;
  // The sub-keys of the key (one level), in order.
  std::vector<std::string> ReadSections() override;
  std::vector<std::string> ReadSection(const std::string& section) override;
  // Removes the sub-key with everything below it (the key's own values for section "").
  bool EraseSection(const std::string& section) override;
  bool DeleteKey(const std::string& section, const std::string& ident) override;
  bool UpdateFile() override;
  std::string LastError() const override { return lastError_.empty() ? ini_.LastError() : lastError_; }

 private:
  std::string Section(const std::string& section) const;

  std::string key_;
  std::string subKey_;  // path below the product key, "" for the key itself
  TIniFile ini_;
  std::string lastError_;
};
