#pragma once
// Value descriptions ("ScnElList.dat") and the decoded values of one event. The plug-ins read these
// objects in place, so the field order and the order of the virtual operations are fixed.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TScnTypeItem;
class TEvenement;
class TInstrument;
class TFilterDef;

// Value classes of a value description: which element class decodes it.
enum TValueClass : int32_t { VCLASS_DATE = 1, VCLASS_TIME = 2, VCLASS_MESFILTER = 3, VCLASS_MES = 4 };

class TValueDesc {
public:
  int32_t Icon = 3;
  int32_t ValueClass = 0;
  std::string Name;
  std::string Title;
  std::string Description;
};

class TListElScn {
public:
  std::vector<std::unique_ptr<TValueDesc>> Items;

  TListElScn() = default;
  TListElScn(const TListElScn&) = delete;
  TListElScn& operator=(const TListElScn&) = delete;

  int Count() const { return static_cast<int>(Items.size()); }
  TValueDesc* operator[](int i) const { return Items[static_cast<size_t>(i)].get(); }

  // Appends the descriptions of "ScnElList.dat"; false when the file does not exist.
  bool LoadFromFile(const std::string& path);
  void LoadFromText(const std::string& text);
  // The first description with exactly this name, or null.
  TValueDesc* Find(const std::string& name) const;
};

// The process-wide list, created at start-up by the settings object; null before.
extern TListElScn* gListElScn;

// Special codes of a value (instrument markers in place of a measurement).
enum TSpecialCode : uint8_t {
  SPECIAL_NONE = 0,
  SPECIAL_ABSENT = 1,     // "Abs."
  SPECIAL_UNDER = 2,      // "<<<<"
  SPECIAL_FILTER = 3,     // "!!!!" for a filter measurement
  SPECIAL_NOVALUE = 4,    // "----"
  SPECIAL_OVER = 5,       // ">>>>"
  SPECIAL_HARDWARE = 6,   // "HErr"
  SPECIAL_ERROR = 7,      // "****"
};

// The special code of a raw value of `bits` (16 or 8) bits; 0 for an ordinary value.
uint8_t SpecialCodeOf(uint32_t raw, int bits);

// One decoded value of an event.
class TScnElement {
public:
  TScnTypeItem* Item = nullptr;  // not owned
  TEvenement* Event = nullptr;   // not owned
  uint8_t SpecialCode = SPECIAL_NONE;

  TScnElement(TScnTypeItem* item, TEvenement* event) : Item(item), Event(event) {}
  TScnElement(const TScnElement&) = delete;
  TScnElement& operator=(const TScnElement&) = delete;
  virtual ~TScnElement() = default;

  virtual std::string GetASCIIString() const;
  virtual void ResolveFilter(const TInstrument* instrument);
  virtual std::string GetTitle() const;

  std::string ASCIIString() const { return GetASCIIString(); }
};

class TScnElement_Dat : public TScnElement {
public:
  int32_t Year = 0;
  int32_t Month = 0;
  int32_t Day = 0;

  TScnElement_Dat(TScnTypeItem* item, TEvenement* event, const std::string& recordHex);
  std::string GetASCIIString() const override;
};

class TScnElement_Time : public TScnElement {
public:
  int32_t Hour = 0;
  int32_t Minute = 0;
  int32_t Second = 0;

  TScnElement_Time(TScnTypeItem* item, TEvenement* event, const std::string& recordHex);
  std::string GetASCIIString() const override;
};

class TScnElement_MesFilter : public TScnElement {
public:
  float Value = 0.0f;
  const TFilterDef* Filter = nullptr;  // not owned

  TScnElement_MesFilter(TScnTypeItem* item, TEvenement* event, const std::string& recordHex);
  std::string GetASCIIString() const override;
  void ResolveFilter(const TInstrument* instrument) override;
  std::string GetTitle() const override;
};

class TScnElement_Mes : public TScnElement {
public:
  float Value = 0.0f;

  TScnElement_Mes(TScnTypeItem* item, TEvenement* event, const std::string& recordHex);
  std::string GetASCIIString() const override;
};

// One value decoded without an object: what the element of its item holds (Parts: year, month, day of a
// date; hour, minute, second of a time).
struct TScnValue {
  float Value = 0.0f;
  uint8_t SpecialCode = SPECIAL_NONE;
  int32_t Parts[3] = {0, 0, 0};
};
class TScnType;
// Decodes an item's value from the record hex as its element would (by the value class of the item).
void DecodeScnValue(const TScnTypeItem* item, const std::string& recordHex, TScnValue& value);
// Appends the value's text, as the element's GetASCIIString gives it.
void AppendScnValueText(const TScnTypeItem* item, const TScnValue& value, std::string& out);
// Appends the texts of every value of a record of this type, joined by the list separator: an event's
// AsciiString without building its elements.
void AppendRecordValuesText(const TScnType& type, const std::string& recordHex, std::string& out);
// The same from the record's bytes (`size` of them), without its hex text.
void AppendRecordValuesText(const TScnType& type, const uint8_t* record, size_t size, std::string& out);

// The element of an item for one event, decoded from the record hex (the class follows the value
// class of the item's description). Reads never go past the hex: what lies outside reads as absent.
TScnElement* CreateScnElement(TScnTypeItem* item, TEvenement* event, const std::string& recordHex);

// Fixed notation rounded to the lesser of `significant` digits and `decimals`, padded with zeros to
// `decimals`, with `separator` as decimal point. Integer digits are never dropped (no exponent form).
std::string FormatFixedDigits(double value, int decimals, int significant, char separator);
// A value as the element texts show it: six significant digits at most, the process separator.
std::string FormatValue(double value, int decimals);
