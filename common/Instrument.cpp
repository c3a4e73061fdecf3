#include "common/Instrument.h"


#include "common/ScnElement.h"
#include "common/ScnType.h"
#include "common/Utils.h"

TInstrumentList* gInstrumentList = nullptr;

std::string TFilterDef::GetWavelengthText() const {
  if (Wavelength == 0.0) return "Large";
  std::string result = FormatFixedDigits(Wavelength, 0, 0, '.');
  if (Polarised) return result + " P" + std::to_string(PolarChannel);
  return result + " nm";
}

std::string TFilterDef::GetLabel() const {
  std::string label = Group + " " + GetWavelengthText();
  if (!Detector.empty()) label += " " + Detector;
  return label;
}

bool TInstrument::HasID(const std::string& id) const {
  for (const std::string& own : Ids)
    if (own == id) return true;
  return false;
}

TFilterDef* TInstrument::FindFilter(int32_t position, const std::string& group) const {
  for (const auto& filter : Filters)
    if (filter->Position == position && filter->Group == group) return filter.get();
  return nullptr;
}

namespace {

// Wavelength field: a number with "." or "," as decimal point, or a band ("1020-1640", wide: 0).
// False when it is neither.
bool ParseWavelength(const std::string& text, double& wavelength) {
  if (text.find('-') != std::string::npos) {
    wavelength = 0.0;
    return true;
  }
  std::string dotted = text;
  for (char& c : dotted)
    if (c == ',') c = '.';
  return desc::ParseFloatDot(dotted, wavelength) && wavelength >= 0.0 && wavelength < 1e9;
}

// "F number,wavelength,group,position,options...": the filter, or null when the line is skipped.
std::unique_ptr<TFilterDef> ParseFilterLine(const std::string& rest) {
  std::vector<std::string> f = desc::SplitFields(rest, ",");
  auto filter = std::make_unique<TFilterDef>();
  if (f.size() < 4) return filter;
  if (!ParseWavelength(f[1], filter->Wavelength)) return nullptr;
  int32_t number = 0;
  filter->Number = desc::ParseDecimal(f[0], number) ? number : 0;
  filter->Group = f[2];
  filter->Position = desc::ParseDecimal(f[3], number) ? number : 0;
  for (size_t i = 4; i < f.size(); ++i) {
    size_t eq = f[i].find('=');
    if (eq == std::string::npos) continue;
    std::string name = UpperCase(Trim(f[i].substr(0, eq)));
    std::string value = Trim(f[i].substr(eq + 1));
    if (name == "POLAR") {
      filter->Polarised = 1;
      filter->PolarChannel = desc::ParseDecimal(value, number) ? number : 0;
    } else if (name == "DETECT") {
      filter->Detector = value;
    }
  }
  return filter;
}

}  // namespace

bool TInstrumentList::LoadFromFile(const std::string& path) { return desc::LoadListFile(*this, path); }

void TInstrumentList::LoadFromText(const std::string& text) {
  std::unique_ptr<TInstrument> current;
  for (const std::string& line : desc::SplitLines(text)) {
    if (line.size() < 2) continue;
    std::string rest = line.substr(2);
    switch (line[0]) {
      case 'T':
        if (current) Items.push_back(std::move(current));
        current = std::make_unique<TInstrument>();
        current->Ids = desc::SplitFields(rest, ",");
        break;
      case 'N':
        if (current) current->InstruName = Trim(desc::RemoveQuotes(rest));
        break;
      case 'F':
        if (current)
          if (auto filter = ParseFilterLine(rest)) current->Filters.push_back(std::move(filter));
        break;
      default:
        break;
    }
  }
  if (current) Items.push_back(std::move(current));
}

TInstrument* TInstrumentList::FindByID(const std::string& id) const {
  for (const auto& instrument : Items)
    if (instrument->HasID(id)) return instrument.get();
  return nullptr;
}

std::string TInstrumentList::GetInstrumentName(const std::string& id) const {
  if (const TInstrument* instrument = FindByID(id)) return instrument->InstruName;
  return "Inconnu (" + id + ")";
}
