#include "common/StatusStore.h"

#include <QAbstractItemView>
#include <QHeaderView>
#include <QTableView>
#include <QTreeView>
#include <QWidget>
#include <charconv>

namespace {

const char* const kMissing = ":-(";

QHeaderView* ColumnHeader(QAbstractItemView* view)
{
  if (auto* tree = qobject_cast<QTreeView*>(view)) return tree->header();
  if (auto* table = qobject_cast<QTableView*>(view)) return table->horizontalHeader();
  return nullptr;
}

bool ParseWidth(const std::string& field, int& out)
{
  size_t b = field.find_first_not_of(' '), e = field.find_last_not_of(' ');
  if (b == std::string::npos) return false;
  const char* first = field.data() + b;
  const char* last = field.data() + e + 1;
  auto [ptr, ec] = std::from_chars(first, last, out);
  return ec == std::errc() && ptr == last;
}

}  // namespace

TStatusConfig::TStatusConfig(const std::string& registryKey)
    : reader_(std::make_unique<TRegistryIniFile>(registryKey + "\\Status"))
{
}

TStatusConfig::~TStatusConfig() = default;

void TStatusConfig::Save()
{
  lastSaveOk_ = reader_->UpdateFile();
}

bool TStatusConfig::ReadString(const std::string& name, std::string& out)
{
  std::string value = reader_->ReadString("", name, kMissing);
  if (value == kMissing) return false;
  out = value;
  return true;
}

void TStatusConfig::WriteString(const std::string& name, const std::string& value)
{
  reader_->WriteString("", name, value);
  Save();
}

int TStatusConfig::ReadInteger(const std::string& name, int defaultValue)
{
  return reader_->ReadInteger("", name, defaultValue);
}

void TStatusConfig::WriteInteger(const std::string& name, int value)
{
  reader_->WriteInteger("", name, value);
  Save();
}

bool TStatusConfig::ReadBool(const std::string& name, bool defaultValue)
{
  return reader_->ReadBool("", name, defaultValue);
}

void TStatusConfig::WriteBool(const std::string& name, bool value)
{
  reader_->WriteBool("", name, value);
  Save();
}

bool TStatusConfig::LoadListViewColumns(QAbstractItemView* view, const std::string& name)
{
  std::string text;
  if (!ReadString(name, text) || text.empty()) return false;
  std::vector<std::string> fields;
  size_t pos = 0;
  for (;;) {
    size_t comma = text.find(',', pos);
    fields.push_back(text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos));
    if (comma == std::string::npos) break;
    pos = comma + 1;
  }
  QHeaderView* header = ColumnHeader(view);
  int columns = header ? header->count() : 0;
  for (int i = 0; i < columns && i < static_cast<int>(fields.size()); ++i) {
    int width = 0;
    if (ParseWidth(fields[static_cast<size_t>(i)], width) && width >= 0) header->resizeSection(i, width);
  }
  return true;
}

void TStatusConfig::SaveListViewColumns(QAbstractItemView* view, const std::string& name)
{
  std::string text;
  if (QHeaderView* header = ColumnHeader(view)) {
    for (int i = 0; i < header->count(); ++i) {
      if (i > 0) text += ",";
      text += std::to_string(header->sectionSize(i));
    }
  }
  WriteString(name, text);
}

void TStatusConfig::SaveFormPlacement(QWidget* form, const std::string& name)
{
  const Qt::WindowStates states = form->windowState();
  const TWindowState state = states.testFlag(Qt::WindowMaximized)   ? wsMaximized
                             : states.testFlag(Qt::WindowMinimized) ? wsMinimized
                                                                    : wsNormal;
  if (state != wsMaximized) {
    reader_->WriteInteger("", name + "_Left", form->x());
    reader_->WriteInteger("", name + "_Top", form->y());
    reader_->WriteInteger("", name + "_Height", form->height());
    reader_->WriteInteger("", name + "_Width", form->width());
  }
  reader_->WriteInteger("", name + "_WindowState", state);
  Save();
}

bool TStatusConfig::LoadControlPlacement(QWidget* control, const std::string& name)
{
  int left = ReadInteger(name + "_Left", -1);
  if (left == -1) return false;
  int top = ReadInteger(name + "_Top", -1);
  int width = ReadInteger(name + "_Width", -1);
  int height = ReadInteger(name + "_Height", -1);
  control->move(left, top);
  // A missing or negative size would make the control vanish: keep its current size then.
  control->resize(width >= 0 ? width : control->width(), height >= 0 ? height : control->height());
  return true;
}
