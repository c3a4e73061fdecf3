#pragma once
// Window placement, list column widths and small view states kept between runs in the "Status"
// sub-key of a registry key (the per-user settings store), whatever store the settings use.
#include "common/SettingsStore.h"

#include <memory>
#include <string>

class QAbstractItemView;
class QWidget;

// Window states as stored under name + "_WindowState".
enum TWindowState { wsNormal = 0, wsMinimized = 1, wsMaximized = 2 };

class TStatusConfig {
 public:
  // Opens the store on key + "\Status".
  explicit TStatusConfig(const std::string& registryKey);
  virtual ~TStatusConfig();
  TStatusConfig(const TStatusConfig&) = delete;
  TStatusConfig& operator=(const TStatusConfig&) = delete;

  // False and `out` untouched when the value is missing (or stored as the marker ":-(").
  bool ReadString(const std::string& name, std::string& out);
  void WriteString(const std::string& name, const std::string& value);
  int ReadInteger(const std::string& name, int defaultValue);
  void WriteInteger(const std::string& name, int value);
  bool ReadBool(const std::string& name, bool defaultValue);
  void WriteBool(const std::string& name, bool value);

  // Column widths of a list (a tree, table or list widget with a header) stored as "120,80,...".
  // Load: false when the value is missing or empty; fields that are not numbers leave their column.
  bool LoadListViewColumns(QAbstractItemView* view, const std::string& name);
  void SaveListViewColumns(QAbstractItemView* view, const std::string& name);
  // name_Left/_Top/_Height/_Width unless maximized, and always name_WindowState.
  void SaveFormPlacement(QWidget* form, const std::string& name);
  // Reads name_Left (default -1); -1: false, nothing changed. Else moves the control to
  // name_Left/_Top and sizes it by name_Width/_Height (a missing size keeps the current one).
  bool LoadControlPlacement(QWidget* control, const std::string& name);

  // Pending changes are saved after every write operation; false when the last save failed.
  bool LastSaveOk() const { return lastSaveOk_; }

 private:
  void Save();

  std::unique_ptr<TRegistryIniFile> reader_;
  bool lastSaveOk_ = true;
};
