#pragma once
// Measurement-type descriptions ("ScnList.dat", "ExtraScn.dat"): which type a record is and which
// values it holds at which byte offsets. The plug-ins read these objects in place, so the field order
// of each class is fixed.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TValueDesc;

// Value kinds of an item ("VAL_" names of the description files).
enum TValueKind : int32_t {
  VAL_CN = 1,
  VAL_TEMP = 2,
  VAL_DATE = 3,
  VAL_TIME = 4,
  VAL_BYTECN = 5,
  VAL_BYTEHEX = 6,
  VAL_BYTEREAL = 7,
  VAL_TEMP2 = 8,
  VAL_BAT = 9,
  VAL_CN3BYTES = 10,
  VAL_SCN = 11,
  VAL_BAT2 = 12,
  VAL_HUM = 13,
};

// The value kind of a "VAL_" name (exact, case-sensitive), 0 when unknown.
int32_t ValueKindFromName(const std::string& name);

// Display modes of an item.
enum TDisplayMode : uint8_t { DISPLAY_NUMBER = 0, DISPLAY_CHAR = 1, DISPLAY_HEX = 2 };

// One label of an item: the value it stands for, shown as the text.
struct TScnLabel {
  std::string Text;
  int32_t Value = 0;
};

// One value of a measurement type.
class TScnTypeItem {
public:
  int32_t Decimals = 0;
  uint8_t DisplayMode = DISPLAY_NUMBER;
  std::string FilterSibling;   // name of the value that gives the filter position
  int32_t FilterPosition = 0;  // 0 none, -1 taken from FilterSibling
  std::string FilterGroup;
  uint8_t AngleGiven = 0;
  float Angle = 0.0f;
  std::unique_ptr<std::vector<TScnLabel>> Labels;  // null when none
  TValueDesc* ValueDesc = nullptr;                 // not owned
  int32_t ValueKind = 0;
  int32_t Offset = 0;

  // Column title of the item.
  std::string GetTitle() const;
  // The label for a value, or null.
  const TScnLabel* FindLabel(int32_t value) const;
};

// A test on the record's bytes that selects among types of the same code.
struct TScnCondition {
  int32_t Kind = 0;  // 1 byte-equals test, anything else never true
  int32_t Position = 0;
  uint8_t Mandatory = 0;
  uint8_t Value = 0;

  bool IsTrue(const std::string& recordHex) const;
};

class TScnType {
public:
  std::vector<std::unique_ptr<TScnTypeItem>> Items;
  std::vector<std::string> IdRanges;  // pairs min, max
  std::vector<TScnCondition> Conditions;
  std::string Extension;
  std::string Description;
  uint8_t Code = 0;
  int32_t Number = -1;
  int32_t Length = 0;  // 0 = any length

  int Count() const { return static_cast<int>(Items.size()); }
  TScnTypeItem* operator[](int i) const { return Items[static_cast<size_t>(i)].get(); }

  // Whether the type describes this record of an instrument.
  bool Matches(const std::string& recordHex, const std::string& instrumentId) const;
};

class TListScn {
public:
  std::vector<std::unique_ptr<TScnType>> Items;
  uint8_t Year4Digits = 1;
  uint8_t QuotedDateTime = 0;
  uint8_t ShowZeroDate = 0;
  uint8_t ForceDisplayDecimalValue = 0;
  std::string SepDec = ".";
  std::string SepTime = ":";
  std::string SepDate = "/";
  std::string SepList = ",";

  TListScn() = default;
  TListScn(const TListScn&) = delete;
  TListScn& operator=(const TListScn&) = delete;

  int Count() const { return static_cast<int>(Items.size()); }
  TScnType* operator[](int i) const { return Items[static_cast<size_t>(i)].get(); }

  // Appends the types of a description file; false when the file does not exist.
  bool LoadFromFile(const std::string& path);
  // Parses description text (the content of a file) and appends its types.
  void LoadFromText(const std::string& text);
  // The first type that describes the record, or null.
  TScnType* FindType(const std::string& recordHex, const std::string& instrumentId) const;
  // Its position in the list, -1 when none.
  int FindTypeIndex(const std::string& recordHex, const std::string& instrumentId) const;
  // The same for the record's bytes (`size` of them), without its hex text.
  int FindTypeIndex(const uint8_t* record, size_t size, const std::string& instrumentId) const;
};

// The process-wide list, created at start-up by the settings object; null before.
extern TListScn* gListScn;

// Text helpers shared by the description-file loaders (any bytes in, never a read past the end).
namespace desc {
// The whole file; false when it is missing, not a regular file or unreadable.
bool ReadFile(const std::string& path, std::string& out);
// Reads a file and hands its text to `list.LoadFromText`; false when the file cannot be read.
template <class List>
bool LoadListFile(List& list, const std::string& path) {
  std::string text;
  if (!ReadFile(path, text)) return false;
  list.LoadFromText(text);
  return true;
}
// Lines without their CR/LF ends.
std::vector<std::string> SplitLines(const std::string& text);
// Fields between separators; with collapse a run of separators counts as one and a leading
// separator gives no field; a trailing separator adds no empty field; fields trimmed of blanks.
std::vector<std::string> SplitFields(const std::string& text, const std::string& separators,
                                     bool collapse = false);
std::string RemoveQuotes(const std::string& text);
// Decimal integer (blanks around allowed); false when it is not one or does not fit.
bool ParseDecimal(const std::string& text, int32_t& value);
// Integer as the platform reads it: decimal, or hex after "$" (or "0x").
bool ParseInteger(const std::string& text, int32_t& value);
// Number with "." as decimal separator; false when it is not a finite number.
bool ParseFloatDot(const std::string& text, double& value);
// Byte of the two hex digits at byte offset `offset` of a hex text; false when outside or not hex.
bool HexByteAt(const std::string& hex, size_t offset, uint8_t& value);
// Value of `digits` hex digits from character `start`; false when outside or not hex.
bool HexValueAt(const std::string& hex, size_t start, size_t digits, uint64_t& value);
}  // namespace desc
