#include "common/ScnElement.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "common/DecimalSep.h"
#include "common/Evenement.h"
#include "common/Instrument.h"
#include "common/RecordView.h"
#include "common/ScnType.h"

TListElScn* gListElScn = nullptr;

// ---- value descriptions ----------------------------------------------------------------------------

bool TListElScn::LoadFromFile(const std::string& path) { return desc::LoadListFile(*this, path); }

void TListElScn::LoadFromText(const std::string& text) {
  for (const std::string& line : desc::SplitLines(text)) {
    std::vector<std::string> f = desc::SplitFields(line, ",");
    if (f.size() < 5) continue;
    auto valueDesc = std::make_unique<TValueDesc>();
    valueDesc->Name = f[0];
    int32_t number = 0;
    valueDesc->ValueClass = desc::ParseDecimal(f[1], number) ? number : 0;
    valueDesc->Description = desc::RemoveQuotes(f[2]);
    valueDesc->Icon = desc::ParseDecimal(f[3], number) ? number : 3;
    valueDesc->Title = desc::RemoveQuotes(f[4]);
    Items.push_back(std::move(valueDesc));
  }
}

TValueDesc* TListElScn::Find(const std::string& name) const {
  for (const auto& valueDesc : Items)
    if (valueDesc->Name == name) return valueDesc.get();
  return nullptr;
}

// ---- number texts ------------------------------------------------------------------------------------

std::string FormatFixedDigits(double value, int decimals, int significant, char separator) {
  if (!std::isfinite(value)) return "???";
  return FormatFixedSignificant(value, decimals, significant, separator);
}

std::string FormatValue(double value, int decimals) {
  return FormatFixedDigits(value, decimals, 6, DecimalSeparator());
}


// ---- elements ------------------------------------------------------------------------------------------

uint8_t SpecialCodeOf(uint32_t raw, int bits) {
  uint32_t first = bits == 8 ? 0xF8u : 0xFFF8u;
  uint32_t last = bits == 8 ? 0xFFu : 0xFFFFu;
  if (raw < first || raw > last) return SPECIAL_NONE;
  switch (raw & 0xFFu) {
    case 0xF9: return SPECIAL_FILTER;
    case 0xFB: return SPECIAL_ABSENT;
    case 0xFC: return SPECIAL_UNDER;
    case 0xFD: return SPECIAL_OVER;
    case 0xFE: return SPECIAL_HARDWARE;
    case 0xFF: return SPECIAL_NOVALUE;
    case 0xF8:
    case 0xFA: return SPECIAL_ERROR;
    default: return SPECIAL_NONE;
  }
}

namespace {

const TListScn kDefaultDisplay;

// Display options: the global list's, or the defaults before it exists.
const TListScn& Display() { return gListScn ? *gListScn : kDefaultDisplay; }

bool Forced() { return Display().ForceDisplayDecimalValue != 0; }

// Raw value of `digits` hex digits at the item's byte offset; false when it lies outside the record.
template <class Record>
bool ReadRaw(const TScnTypeItem* item, const Record& record, size_t digits, uint32_t& raw) {
  if (!item || item->Offset < 0) return false;
  return record.Raw(static_cast<size_t>(item->Offset), digits, raw);
}

// Three bytes from the item's offset, each byte's two hex characters read as a decimal number. `out` is
// written only when all three are decimal: one bad pair leaves the whole date or time at zero.
template <class Record>
bool ReadDecimalTriplet(const TScnTypeItem* item, const Record& record, int32_t out[3]) {
  if (!item || item->Offset < 0) return false;
  const size_t start = static_cast<size_t>(item->Offset);
  if (!record.Holds(start, 3)) return false;
  int32_t parts[3];
  for (size_t i = 0; i < 3; ++i)
    if (!record.DecimalByte(start + i, parts[i])) return false;
  std::copy(parts, parts + 3, out);
  return true;
}

int32_t ExpandCenturyYear(int32_t year) {
  if (year >= 0 && year <= 80) return 2000 + year;
  if (year >= 81 && year <= 99) return 1900 + year;
  return year;
}

// Text of the special code, or null for a code shown as a number.
const char* SpecialText(uint8_t code, bool filterMeasurement) {
  switch (code) {
    case SPECIAL_ABSENT: return "Abs.";
    case SPECIAL_UNDER: return "<<<<";
    case SPECIAL_FILTER: return filterMeasurement ? "!!!!" : nullptr;
    case SPECIAL_NOVALUE: return "----";
    case SPECIAL_OVER: return ">>>>";
    case SPECIAL_HARDWARE: return "HErr";
    case SPECIAL_ERROR: return "****";
    default: return nullptr;
  }
}

// Writes the number at `p` (with a leading zero below 10 when padded) and returns the end; 12 characters
// at the most.
char* WriteNumber(char* p, int32_t value, bool padded) {
  if (padded && value >= 0 && value < 10) *p++ = '0';
  return std::to_chars(p, p + 11, value).ptr;
}

// Three numbers joined by a separator (a date or a time), quoted when the display asks for it, written
// in place: a date and a time begin every exported line.
void AppendTriplet(std::string& out, const int32_t parts[3], const std::string& separator) {
  const TListScn& display = Display();
  const bool padded = display.ShowZeroDate != 0;
  const bool quoted = display.QuotedDateTime != 0;
  const size_t most = 3 * 12 + 2 + 2 * separator.size();   // the numbers, the quotes, the separators
  AppendInPlace(out, most, [&](char* p) {
    if (quoted) *p++ = '"';
    for (int i = 0; i < 3; ++i) {
      if (i > 0) p = std::copy(separator.begin(), separator.end(), p);
      p = WriteNumber(p, parts[i], padded);
    }
    if (quoted) *p++ = '"';
    return p;
  });
}

// The value truncated towards zero, kept within 32 bits.
int64_t Truncated(float value) {
  // Most values fit 32 bits, where the conversion itself truncates (std::trunc may be a library call).
  if (std::fabs(value) < 2147483648.0f) return static_cast<int64_t>(value);
  double v = std::trunc(static_cast<double>(value));
  return static_cast<int64_t>(std::clamp(v, -2147483648.0, 4294967295.0));
}

}  // namespace

// ---- values decoded without objects ---------------------------------------------------------------------

namespace {

template <class Record>
void DecodeDate(const TScnTypeItem* item, const Record& hex, TScnValue& value) {
  int32_t parts[3];
  if (item && item->ValueKind == VAL_DATE && ReadDecimalTriplet(item, hex, parts)) {
    value.Parts[0] = ExpandCenturyYear(parts[0]);
    value.Parts[1] = parts[1];
    value.Parts[2] = parts[2];
  }
}

template <class Record>
void DecodeTime(const TScnTypeItem* item, const Record& hex, TScnValue& value) {
  if (item && item->ValueKind == VAL_TIME) ReadDecimalTriplet(item, hex, value.Parts);
}

template <class Record>
void DecodeMesFilter(const TScnTypeItem* item, const Record& hex, TScnValue& value) {
  if (!item || (item->ValueKind != VAL_CN && item->ValueKind != VAL_SCN)) return;
  uint32_t raw = 0;
  if (!ReadRaw(item, hex, 4, raw)) {
    value.SpecialCode = SPECIAL_NOVALUE;
    return;
  }
  value.SpecialCode = SpecialCodeOf(raw, 16);
  if (item->ValueKind == VAL_SCN && (raw & 0x8000u))
    value.Value = -static_cast<float>(raw & 0x7FFFu);
  else
    value.Value = static_cast<float>(raw);
}

template <class Record>
void DecodeMes(const TScnTypeItem* item, const Record& hex, TScnValue& value) {
  size_t digits = 0;
  bool special = true;
  double scale = 1.0;
  double offset = 0.0;
  switch (item ? item->ValueKind : 0) {
    case VAL_CN: digits = 4; break;
    case VAL_TEMP: digits = 4; offset = 400; scale = 0.1; break;
    case VAL_TEMP2: digits = 4; offset = 3200; scale = 0.0125; break;
    case VAL_BAT2: digits = 4; scale = 0.01; break;
    case VAL_BYTECN: digits = 2; special = false; break;
    case VAL_BAT: digits = 2; scale = 0.04; break;
    case VAL_HUM: digits = 2; scale = 0.5; break;
    case VAL_CN3BYTES: digits = 6; special = false; break;
    default: break;
  }
  uint32_t raw = 0;
  if (digits == 0 || !ReadRaw(item, hex, digits, raw)) {
    value.SpecialCode = SPECIAL_NOVALUE;
    return;
  }
  if (special) value.SpecialCode = SpecialCodeOf(raw, digits == 2 ? 8 : 16);
  value.Value = static_cast<float>((static_cast<double>(raw) - offset) * scale);
}

void AppendDateText(const TScnValue& value, std::string& out) {
  const TListScn& display = Display();
  const int32_t parts[3] = {value.Parts[2], value.Parts[1], display.Year4Digits ? value.Parts[0] : value.Parts[0] % 100};
  AppendTriplet(out, parts, display.SepDate);
}

void AppendMesFilterText(const TScnValue& value, std::string& out) {
  if (!Forced())
    if (const char* text = SpecialText(value.SpecialCode, true)) {
      out += text;
      return;
    }
  const int64_t number = Truncated(value.Value);
  AppendInPlace(out, 24, [number](char* p) { return std::to_chars(p, p + 24, number).ptr; });
}

void AppendMesText(const TScnTypeItem* item, const TScnValue& value, std::string& out) {
  if (!Forced()) {
    if (const char* text = SpecialText(value.SpecialCode, false)) {
      out += text;
      return;
    }
    if (item)
      if (const TScnLabel* label = item->FindLabel(static_cast<int32_t>(Truncated(value.Value)))) {
        out += label->Text;
        return;
      }
  }
  switch (item ? item->DisplayMode : static_cast<uint8_t>(DISPLAY_NUMBER)) {
    case DISPLAY_NUMBER:
      if (!std::isfinite(value.Value))
        out += "???";
      else
        AppendFixedSignificant(out, value.Value, item ? item->Decimals : 0, 6, DecimalSeparator());
      return;
    case DISPLAY_CHAR: out += static_cast<char>(Truncated(value.Value)); return;
    case DISPLAY_HEX: {
      char text[32];
      std::snprintf(text, sizeof text, "0x%0*X", item->ValueKind == VAL_BYTECN ? 2 : 4,
                    static_cast<unsigned>(static_cast<uint32_t>(Truncated(value.Value))));
      out += text;
      return;
    }
    default: out += "???"; return;
  }
}

int32_t ValueClassOf(const TScnTypeItem* item) {
  return item && item->ValueDesc ? item->ValueDesc->ValueClass : 0;
}

template <class Record>
void DecodeValue(const TScnTypeItem* item, const Record& recordHex, TScnValue& value) {
  value = TScnValue();
  switch (ValueClassOf(item)) {
    case VCLASS_DATE: DecodeDate(item, recordHex, value); break;
    case VCLASS_TIME: DecodeTime(item, recordHex, value); break;
    case VCLASS_MESFILTER: DecodeMesFilter(item, recordHex, value); break;
    case VCLASS_MES: DecodeMes(item, recordHex, value); break;
    default: break;
  }
}

}  // namespace

void DecodeScnValue(const TScnTypeItem* item, const std::string& recordHex, TScnValue& value) {
  DecodeValue(item, THexRecord(recordHex), value);
}

void AppendScnValueText(const TScnTypeItem* item, const TScnValue& value, std::string& out) {
  switch (ValueClassOf(item)) {
    case VCLASS_DATE: AppendDateText(value, out); return;
    case VCLASS_TIME: AppendTriplet(out, value.Parts, Display().SepTime); return;
    case VCLASS_MESFILTER: AppendMesFilterText(value, out); return;
    case VCLASS_MES: AppendMesText(item, value, out); return;
    default: out += "???"; return;
  }
}

namespace {

template <class Record>
void AppendValuesText(const TScnType& type, const Record& record, std::string& out) {
  const std::string& separator = Display().SepList;
  TScnValue value;
  for (int i = 0; i < type.Count(); ++i) {
    if (i > 0) out += separator;
    DecodeValue(type[i], record, value);
    AppendScnValueText(type[i], value, out);
  }
}

}  // namespace

void AppendRecordValuesText(const TScnType& type, const std::string& recordHex, std::string& out) {
  AppendValuesText(type, THexRecord(recordHex), out);
}

void AppendRecordValuesText(const TScnType& type, const uint8_t* record, size_t size, std::string& out) {
  AppendValuesText(type, TByteRecord(record, size), out);
}

// ---- elements ------------------------------------------------------------------------------------------

namespace {
TScnValue AsValue(float number, uint8_t specialCode) {
  TScnValue value;
  value.Value = number;
  value.SpecialCode = specialCode;
  return value;
}
}  // namespace

std::string TScnElement::GetASCIIString() const { return "???"; }

void TScnElement::ResolveFilter(const TInstrument*) {}

std::string TScnElement::GetTitle() const { return Item ? Item->GetTitle() : std::string(); }

TScnElement_Dat::TScnElement_Dat(TScnTypeItem* item, TEvenement* event, const std::string& recordHex)
    : TScnElement(item, event) {
  TScnValue value;
  DecodeDate(item, THexRecord(recordHex), value);
  Year = value.Parts[0];
  Month = value.Parts[1];
  Day = value.Parts[2];
}

std::string TScnElement_Dat::GetASCIIString() const {
  TScnValue value;
  value.Parts[0] = Year;
  value.Parts[1] = Month;
  value.Parts[2] = Day;
  std::string text;
  AppendDateText(value, text);
  return text;
}

TScnElement_Time::TScnElement_Time(TScnTypeItem* item, TEvenement* event, const std::string& recordHex)
    : TScnElement(item, event) {
  TScnValue value;
  DecodeTime(item, THexRecord(recordHex), value);
  Hour = value.Parts[0];
  Minute = value.Parts[1];
  Second = value.Parts[2];
}

std::string TScnElement_Time::GetASCIIString() const {
  const int32_t parts[3] = {Hour, Minute, Second};
  std::string text;
  AppendTriplet(text, parts, Display().SepTime);
  return text;
}

TScnElement_MesFilter::TScnElement_MesFilter(TScnTypeItem* item, TEvenement* event,
                                             const std::string& recordHex)
    : TScnElement(item, event) {
  TScnValue value;
  DecodeMesFilter(item, THexRecord(recordHex), value);
  Value = value.Value;
  SpecialCode = value.SpecialCode;
}

std::string TScnElement_MesFilter::GetASCIIString() const {
  std::string text;
  AppendMesFilterText(AsValue(Value, SpecialCode), text);
  return text;
}

TScnElement_Mes::TScnElement_Mes(TScnTypeItem* item, TEvenement* event, const std::string& recordHex)
    : TScnElement(item, event) {
  TScnValue value;
  DecodeMes(item, THexRecord(recordHex), value);
  Value = value.Value;
  SpecialCode = value.SpecialCode;
}

std::string TScnElement_Mes::GetASCIIString() const {
  std::string text;
  AppendMesText(Item, AsValue(Value, SpecialCode), text);
  return text;
}

namespace {

// The whole number a value shows as its text, read from the value itself; false when its text is not a
// decimal integer (a marker, a label word, decimals, a hex or date text).
bool ShownInteger(const TScnElement* element, int32_t& number) {
  const int32_t valueClass = element->Item && element->Item->ValueDesc ? element->Item->ValueDesc->ValueClass : 0;
  auto fits = [&number](double v) {
    if (!(v >= -2147483648.0 && v <= 2147483647.0)) return false;
    number = static_cast<int32_t>(v);
    return true;
  };
  if (valueClass == VCLASS_MESFILTER) {
    const auto* mes = static_cast<const TScnElement_MesFilter*>(element);
    if (!Forced() && SpecialText(mes->SpecialCode, true)) return false;
    return fits(static_cast<double>(Truncated(mes->Value)));
  }
  if (valueClass != VCLASS_MES) return desc::ParseDecimal(element->GetASCIIString(), number);
  const auto* mes = static_cast<const TScnElement_Mes*>(element);
  const TScnTypeItem* item = mes->Item;
  if (!Forced()) {
    if (SpecialText(mes->SpecialCode, false)) return false;
    if (const TScnLabel* label = item->FindLabel(static_cast<int32_t>(Truncated(mes->Value))))
      return desc::ParseDecimal(label->Text, number);
  }
  switch (item->DisplayMode) {
    case DISPLAY_NUMBER:
      // Without decimals the text is the value rounded half away from zero; with them it has a point.
      return item->Decimals <= 0 && std::isfinite(mes->Value) && fits(std::round(static_cast<double>(mes->Value)));
    case DISPLAY_CHAR: {
      const char c = static_cast<char>(Truncated(mes->Value));
      if (c < '0' || c > '9') return false;
      number = c - '0';
      return true;
    }
    default: return false;
  }
}

}  // namespace

void TScnElement_MesFilter::ResolveFilter(const TInstrument* instrument) {
  if (!instrument || !Item) return;
  if (Item->FilterPosition > 0) {
    Filter = instrument->FindFilter(Item->FilterPosition, Item->FilterGroup);
    return;
  }
  if (Item->FilterPosition != -1 || !Event) return;
  // The event resolves filters once all its values exist, so the sibling may stand anywhere in it.
  for (int i = 0; i < Event->Count(); ++i) {
    const TScnElement* sibling = Event->Items(i);
    if (!sibling || !sibling->Item || !sibling->Item->ValueDesc ||
        sibling->Item->ValueDesc->Name != Item->FilterSibling)
      continue;
    int32_t position = -1;
    if (!ShownInteger(sibling, position)) position = -1;
    if (position != -1) Filter = instrument->FindFilter(position, Item->FilterGroup);
    return;
  }
}

std::string TScnElement_MesFilter::GetTitle() const {
  if (!Filter) return TScnElement::GetTitle();
  std::string title;
  if (Item && Item->AngleGiven) title = FormatValue(Item->Angle, 1) + "\xB0 ";
  return title + Filter->GetLabel();
}

TScnElement* CreateScnElement(TScnTypeItem* item, TEvenement* event, const std::string& recordHex) {
  int32_t valueClass = item && item->ValueDesc ? item->ValueDesc->ValueClass : 0;
  switch (valueClass) {
    case VCLASS_DATE: return new TScnElement_Dat(item, event, recordHex);
    case VCLASS_TIME: return new TScnElement_Time(item, event, recordHex);
    case VCLASS_MESFILTER: return new TScnElement_MesFilter(item, event, recordHex);
    case VCLASS_MES: return new TScnElement_Mes(item, event, recordHex);
    default: return new TScnElement(item, event);
  }
}
