#include "common/ScnType.h"

#include <array>
#include <charconv>
#include <climits>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/RecordView.h"
#include "common/ScnElement.h"
#include "common/Utils.h"

TListScn* gListScn = nullptr;

namespace desc {

bool ReadFile(const std::string& path, std::string& out) {
  std::error_code ec;
  if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad()) return false;
  out = buffer.str();
  return true;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    size_t stop = end;
    while (stop > start && text[stop - 1] == '\r') --stop;
    lines.push_back(text.substr(start, stop - start));
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> SplitFields(const std::string& text, const std::string& separators,
                                     bool collapse) {
  std::vector<std::string> fields;
  std::string field;
  for (char c : text) {
    if (separators.find(c) != std::string::npos) {
      if (!collapse || !field.empty()) fields.push_back(Trim(field));
      field.clear();
      continue;
    }
    field += c;
  }
  if (!field.empty()) fields.push_back(Trim(field));
  return fields;
}

std::string RemoveQuotes(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c != '"') out += c;
  return out;
}

static bool ParseWithBase(const std::string& digits, int base, bool negative, int32_t& value) {
  if (digits.empty()) return false;
  long long result = 0;
  for (char c : digits) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return false;
    result = result * base + d;
    if (result > 0xFFFFFFFFLL) return false;
  }
  if (base == 10) {
    if (negative ? result > 2147483648LL : result > INT32_MAX) return false;
    value = static_cast<int32_t>(negative ? -result : result);
  } else {
    // Hex reads as the 32-bit pattern it writes, as the platform conversion does.
    uint32_t bits = static_cast<uint32_t>(result);
    if (negative) bits = 0u - bits;
    value = static_cast<int32_t>(bits);
  }
  return true;
}

bool ParseDecimal(const std::string& text, int32_t& value) {
  std::string t = Trim(text);
  bool negative = false;
  size_t i = 0;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
  return ParseWithBase(t.substr(i), 10, negative, value);
}

bool ParseInteger(const std::string& text, int32_t& value) {
  std::string t = Trim(text);
  bool negative = false;
  size_t i = 0;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
  if (i < t.size() && t[i] == '$') return ParseWithBase(t.substr(i + 1), 16, negative, value);
  if (i + 1 < t.size() && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X'))
    return ParseWithBase(t.substr(i + 2), 16, negative, value);
  return ParseWithBase(t.substr(i), 10, negative, value);
}

bool ParseFloatDot(const std::string& text, double& value) {
  std::string t = Trim(text);
  if (!t.empty() && t[0] == '+') t.erase(0, 1);
  if (t.empty()) return false;
  for (char c : t)
    if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == 'e' || c == 'E'))
      return false;  // no "nan", "inf" or hex floats
  // from_chars ignores the C locale, which Qt sets from the environment.
  double v = 0.0;
  auto result = std::from_chars(t.data(), t.data() + t.size(), v);
  if (result.ec != std::errc() || result.ptr != t.data() + t.size() || !std::isfinite(v)) return false;
  value = v;
  return true;
}

bool HexValueAt(const std::string& hex, size_t start, size_t digits, uint64_t& value) {
  if (digits > 16 || start > hex.size() || hex.size() - start < digits) return false;
  // Every value of every record passes here: one table look-up a digit.
  static constexpr auto kNibbles = [] {
    std::array<int8_t, 256> table{};
    table.fill(-1);
    for (int c = '0'; c <= '9'; ++c) table[static_cast<size_t>(c)] = static_cast<int8_t>(c - '0');
    for (int c = 'A'; c <= 'F'; ++c) table[static_cast<size_t>(c)] = static_cast<int8_t>(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; ++c) table[static_cast<size_t>(c)] = static_cast<int8_t>(c - 'a' + 10);
    return table;
  }();
  const char* text = hex.data() + start;
  uint64_t v = 0;
  for (size_t i = 0; i < digits; ++i) {
    const int d = kNibbles[static_cast<unsigned char>(text[i])];
    if (d < 0) return false;
    v = (v << 4) | static_cast<uint64_t>(d);
  }
  value = v;
  return true;
}

bool HexByteAt(const std::string& hex, size_t offset, uint8_t& value) {
  if (offset > hex.size() / 2) return false;
  uint64_t v = 0;
  if (!HexValueAt(hex, offset * 2, 2, v)) return false;
  value = static_cast<uint8_t>(v);
  return true;
}

}  // namespace desc

int32_t ValueKindFromName(const std::string& name) {
  static const char* const names[] = {"VAL_CN",       "VAL_TEMP", "VAL_DATE",  "VAL_TIME",   "VAL_BYTECN",
                                      "VAL_BYTEHEX",  "VAL_BYTEREAL", "VAL_TEMP2", "VAL_BAT", "VAL_CN3BYTES",
                                      "VAL_SCN",      "VAL_BAT2", "VAL_HUM"};
  for (int32_t i = 0; i < 13; ++i)
    if (name == names[i]) return i + 1;
  return 0;
}

std::string TScnTypeItem::GetTitle() const {
  std::string title = ValueDesc ? ValueDesc->Title : std::string();
  if (FilterPosition > 0) {
    title += " Filter";
    if (!FilterGroup.empty()) title += " " + FilterGroup;
    title += " n\xB0" + std::to_string(FilterPosition);
  }
  if (AngleGiven) {
    title += " Angle " + FormatValue(Angle, 1);
  }
  return title;
}

const TScnLabel* TScnTypeItem::FindLabel(int32_t value) const {
  if (!Labels) return nullptr;
  for (const TScnLabel& label : *Labels)
    if (label.Value == value) return &label;
  return nullptr;
}

namespace {

template <class Record>
bool ConditionHolds(const TScnCondition& condition, const Record& record) {
  if (condition.Kind != 1 || condition.Position < 0) return false;
  uint8_t byte = 0;
  if (!record.ByteAt(static_cast<size_t>(condition.Position), byte)) return false;
  return byte == condition.Value;
}

template <class Record>
bool TypeMatches(const TScnType& type, const Record& record, const std::string& instrumentId) {
  uint8_t code = 0;
  if (!record.ByteAt(0, code) || code != type.Code) return false;
  if (type.Length != 0 && static_cast<size_t>(type.Length) != record.Size()) return false;
  if (!type.IdRanges.empty()) {
    bool inRange = false;
    for (size_t i = 0; i + 1 < type.IdRanges.size(); i += 2)
      if (type.IdRanges[i] <= instrumentId && instrumentId <= type.IdRanges[i + 1]) inRange = true;
    if (!inRange) return false;
  }
  if (type.Conditions.empty()) return true;
  bool anyTrue = false;
  for (const TScnCondition& condition : type.Conditions) {
    bool isTrue = ConditionHolds(condition, record);
    if (!isTrue && condition.Mandatory) return false;
    anyTrue = anyTrue || isTrue;
  }
  return anyTrue;
}

// Every record of a file is typed when it is read: types of another code are passed over at once.
template <class Record>
int TypeIndexOf(const std::vector<std::unique_ptr<TScnType>>& types, const Record& record,
                const std::string& instrumentId) {
  uint8_t code = 0;
  if (!record.ByteAt(0, code)) return -1;
  for (size_t i = 0; i < types.size(); ++i)
    if (types[i]->Code == code && TypeMatches(*types[i], record, instrumentId)) return static_cast<int>(i);
  return -1;
}

}  // namespace

bool TScnCondition::IsTrue(const std::string& recordHex) const { return ConditionHolds(*this, THexRecord(recordHex)); }

bool TScnType::Matches(const std::string& recordHex, const std::string& instrumentId) const {
  return TypeMatches(*this, THexRecord(recordHex), instrumentId);
}

TScnType* TListScn::FindType(const std::string& recordHex, const std::string& instrumentId) const {
  const int index = FindTypeIndex(recordHex, instrumentId);
  return index < 0 ? nullptr : Items[static_cast<size_t>(index)].get();
}

int TListScn::FindTypeIndex(const std::string& recordHex, const std::string& instrumentId) const {
  return TypeIndexOf(Items, THexRecord(recordHex), instrumentId);
}

int TListScn::FindTypeIndex(const uint8_t* record, size_t size, const std::string& instrumentId) const {
  return TypeIndexOf(Items, TByteRecord(record, size), instrumentId);
}

namespace {

// "S number,code,extension,description,length": the new type, or null when the line starts none.
std::unique_ptr<TScnType> ParseTypeLine(const std::string& rest) {
  std::vector<std::string> f = desc::SplitFields(rest, ",");
  if (f.size() <= 4) return nullptr;
  const std::string& code = f[1];
  if (code.size() != 4 || code[0] != '0' || (code[1] != 'x' && code[1] != 'X')) return nullptr;
  uint64_t value = 0;
  if (!desc::HexValueAt(code, 2, 2, value) || value == 0) return nullptr;
  auto type = std::make_unique<TScnType>();
  type->Code = static_cast<uint8_t>(value);
  int32_t number = -1;
  type->Number = desc::ParseDecimal(f[0], number) ? number : -1;
  type->Extension = f[2];
  type->Description = desc::RemoveQuotes(f[3]);
  int32_t length = 0;
  type->Length = desc::ParseDecimal(f[4], length) ? length : 0;
  return type;
}

// "C BEQ,position,value" or "C &BEQ,...". False when the position or the value is not an integer
// (or the value is not a byte): the line is skipped.
bool ParseConditionLine(const std::string& rest, TScnCondition& condition) {
  std::vector<std::string> f = desc::SplitFields(rest, ",");
  condition = TScnCondition();
  if (f.empty() || (f[0] != "BEQ" && f[0] != "&BEQ")) return true;  // never true
  int32_t position = 0;
  int32_t value = 0;
  if (f.size() < 3 || !desc::ParseInteger(f[1], position) || !desc::ParseInteger(f[2], value))
    return false;
  if (value < 0 || value > 255) return false;
  condition.Kind = 1;
  condition.Position = position;
  condition.Value = static_cast<uint8_t>(value);
  condition.Mandatory = f[0] == "&BEQ";
  return true;
}

void ApplyItemOption(TScnTypeItem& item, const std::string& option) {
  size_t eq = option.find('=');
  std::string name = Trim(option.substr(0, eq));
  std::string value = eq == std::string::npos ? std::string() : Trim(option.substr(eq + 1));
  if (name == "F") {
    int32_t position = 0;
    if (desc::ParseDecimal(value, position)) {
      item.FilterPosition = position;
    } else {
      item.FilterPosition = -1;
      item.FilterSibling = value;
    }
  } else if (name == "T") {
    item.FilterGroup = value;
  } else if (name.compare(0, 4, "SIG_") == 0) {
    int32_t number = 0;
    if (!desc::ParseDecimal(name.substr(4), number)) number = 0;
    if (!item.Labels) item.Labels = std::make_unique<std::vector<TScnLabel>>();
    item.Labels->push_back(TScnLabel{desc::RemoveQuotes(value), number});
  } else if (name == "D") {
    std::string mode = UpperCase(value);
    int32_t decimals = 0;
    if (mode == "CHAR") item.DisplayMode = DISPLAY_CHAR;
    else if (mode == "HEX") item.DisplayMode = DISPLAY_HEX;
    else if (desc::ParseDecimal(value, decimals)) item.Decimals = decimals;
  } else if (name == "ANG") {
    double angle = 0;
    if (desc::ParseFloatDot(value, angle)) {
      item.Angle = static_cast<float>(angle);
      item.AngleGiven = 1;
    }
  }
}

// "E kind,offset,value name,options...": the item, or null when it is dropped.
std::unique_ptr<TScnTypeItem> ParseItemLine(const std::string& rest) {
  std::vector<std::string> f = desc::SplitFields(rest, ",");
  if (f.size() <= 2) return nullptr;
  int32_t kind = ValueKindFromName(f[0]);
  if (kind == 0 || !gListElScn) return nullptr;
  TValueDesc* valueDesc = gListElScn->Find(f[2]);
  if (!valueDesc) return nullptr;
  auto item = std::make_unique<TScnTypeItem>();
  item->ValueKind = kind;
  item->ValueDesc = valueDesc;
  int32_t offset = 0;
  item->Offset = desc::ParseDecimal(f[1], offset) ? offset : 0;
  for (size_t i = 3; i < f.size(); ++i) ApplyItemOption(*item, f[i]);
  return item;
}

}  // namespace

bool TListScn::LoadFromFile(const std::string& path) { return desc::LoadListFile(*this, path); }

void TListScn::LoadFromText(const std::string& text) {
  TScnType* current = nullptr;
  for (const std::string& line : desc::SplitLines(text)) {
    if (line.size() < 2) continue;
    std::string rest = line.substr(2);
    switch (line[0]) {
      case 'S': {
        std::unique_ptr<TScnType> type = ParseTypeLine(rest);
        current = type.get();
        if (type) Items.push_back(std::move(type));
        break;
      }
      case 'I': {
        if (!current) break;
        std::vector<std::string> f = desc::SplitFields(rest, "-");
        if (f.size() != 2) break;
        current->IdRanges.push_back(f[0]);
        current->IdRanges.push_back(f[1]);
        break;
      }
      case 'C': {
        TScnCondition condition;
        if (current && ParseConditionLine(rest, condition)) current->Conditions.push_back(condition);
        break;
      }
      case 'E': {
        if (!current) break;
        if (auto item = ParseItemLine(rest)) current->Items.push_back(std::move(item));
        break;
      }
      default:
        break;
    }
  }
}
