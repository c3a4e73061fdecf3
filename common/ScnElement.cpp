#include "common/ScnElement.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "common/DecimalSep.h"
#include "common/Evenement.h"
#include "common/Instrument.h"
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
bool ReadRaw(const TScnTypeItem* item, const std::string& hex, size_t digits, uint32_t& raw) {
  if (!item || item->Offset < 0) return false;
  uint64_t value = 0;
  if (!desc::HexValueAt(hex, static_cast<size_t>(item->Offset) * 2, digits, value)) return false;
  raw = static_cast<uint32_t>(value);
  return true;
}

// Three bytes from the item's offset, each byte's two hex characters read as a decimal number.
bool ReadDecimalTriplet(const TScnTypeItem* item, const std::string& hex, int32_t out[3]) {
  if (!item || item->Offset < 0) return false;
  size_t start = static_cast<size_t>(item->Offset) * 2;
  if (start > hex.size() || hex.size() - start < 6) return false;
  for (int i = 0; i < 3; ++i) {
    char high = hex[start + 2 * i];
    char low = hex[start + 2 * i + 1];
    if (high < '0' || high > '9' || low < '0' || low > '9') return false;
    out[i] = (high - '0') * 10 + (low - '0');
  }
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

std::string Number(int32_t value, bool padded) {
  char text[16];
  char* start = text + 1;
  auto result = std::to_chars(start, text + sizeof text, value);
  if (padded && result.ptr - start == 1 && value >= 0) *--start = '0';
  return std::string(start, result.ptr);
}

std::string Quoted(const std::string& text) {
  return Display().QuotedDateTime ? "\"" + text + "\"" : text;
}

// The value truncated towards zero, kept within 32 bits.
int64_t Truncated(float value) {
  double v = std::trunc(static_cast<double>(value));
  return static_cast<int64_t>(std::clamp(v, -2147483648.0, 4294967295.0));
}

}  // namespace

std::string TScnElement::GetASCIIString() const { return "???"; }

void TScnElement::ResolveFilter(const TInstrument*) {}

std::string TScnElement::GetTitle() const { return Item ? Item->GetTitle() : std::string(); }

TScnElement_Dat::TScnElement_Dat(TScnTypeItem* item, TEvenement* event, const std::string& recordHex)
    : TScnElement(item, event) {
  int32_t parts[3];
  if (item && item->ValueKind == VAL_DATE && ReadDecimalTriplet(item, recordHex, parts)) {
    Year = ExpandCenturyYear(parts[0]);
    Month = parts[1];
    Day = parts[2];
  }
}

std::string TScnElement_Dat::GetASCIIString() const {
  const TListScn& display = Display();
  bool padded = display.ShowZeroDate != 0;
  int32_t year = display.Year4Digits ? Year : Year % 100;
  return Quoted(Number(Day, padded) + display.SepDate + Number(Month, padded) + display.SepDate +
                Number(year, padded));
}

TScnElement_Time::TScnElement_Time(TScnTypeItem* item, TEvenement* event, const std::string& recordHex)
    : TScnElement(item, event) {
  int32_t parts[3];
  if (item && item->ValueKind == VAL_TIME && ReadDecimalTriplet(item, recordHex, parts)) {
    Hour = parts[0];
    Minute = parts[1];
    Second = parts[2];
  }
}

std::string TScnElement_Time::GetASCIIString() const {
  const TListScn& display = Display();
  bool padded = display.ShowZeroDate != 0;
  return Quoted(Number(Hour, padded) + display.SepTime + Number(Minute, padded) + display.SepTime +
                Number(Second, padded));
}

TScnElement_MesFilter::TScnElement_MesFilter(TScnTypeItem* item, TEvenement* event,
                                             const std::string& recordHex)
    : TScnElement(item, event) {
  if (!item || (item->ValueKind != VAL_CN && item->ValueKind != VAL_SCN)) return;
  uint32_t raw = 0;
  if (!ReadRaw(item, recordHex, 4, raw)) {
    SpecialCode = SPECIAL_NOVALUE;
    return;
  }
  SpecialCode = SpecialCodeOf(raw, 16);
  if (item->ValueKind == VAL_SCN && (raw & 0x8000u))
    Value = -static_cast<float>(raw & 0x7FFFu);
  else
    Value = static_cast<float>(raw);
}

std::string TScnElement_MesFilter::GetASCIIString() const {
  if (!Forced())
    if (const char* text = SpecialText(SpecialCode, true)) return text;
  return std::to_string(Truncated(Value));
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

TScnElement_Mes::TScnElement_Mes(TScnTypeItem* item, TEvenement* event, const std::string& recordHex)
    : TScnElement(item, event) {
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
  if (digits == 0 || !ReadRaw(item, recordHex, digits, raw)) {
    SpecialCode = SPECIAL_NOVALUE;
    return;
  }
  if (special) SpecialCode = SpecialCodeOf(raw, digits == 2 ? 8 : 16);
  Value = static_cast<float>((static_cast<double>(raw) - offset) * scale);
}

std::string TScnElement_Mes::GetASCIIString() const {
  bool forced = Forced();
  if (!forced) {
    if (const char* text = SpecialText(SpecialCode, false)) return text;
    if (Item)
      if (const TScnLabel* label = Item->FindLabel(static_cast<int32_t>(Truncated(Value)))) return label->Text;
  }
  switch (Item ? Item->DisplayMode : static_cast<uint8_t>(DISPLAY_NUMBER)) {
    case DISPLAY_NUMBER: return FormatValue(Value, Item ? Item->Decimals : 0);
    case DISPLAY_CHAR: return std::string(1, static_cast<char>(Truncated(Value)));
    case DISPLAY_HEX: {
      char text[32];
      std::snprintf(text, sizeof text, "0x%0*X", Item->ValueKind == VAL_BYTECN ? 2 : 4,
                    static_cast<unsigned>(static_cast<uint32_t>(Truncated(Value))));
      return text;
    }
    default: return "???";
  }
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
