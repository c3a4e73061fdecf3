#include "plugins/aot/MorvaneSunData.h"

#include <set>
#include <tuple>
#include <vector>

#include "common/AsciiExport.h"
#include "common/Q5File.h"
#include "common/ScnElement.h"
#include "common/ScnType.h"
#include "common/Utils.h"

namespace {

// The readings of one filter in a record share their item's filter (a position, or the value that gives
// it) and group.
using TFilterKey = std::tuple<int32_t, std::string, std::string>;
TFilterKey KeyOf(const TScnTypeItem& item) { return {item.FilterPosition, item.FilterSibling, item.FilterGroup}; }

bool IsFilterReading(const TScnTypeItem& item) {
  return item.ValueDesc && item.ValueDesc->ValueClass == VCLASS_MESFILTER;
}

// The ASCII export's file of a type: the sun triplets' extension.
bool IsSunTriplets(const TScnType* type) { return type && type->Extension == "NSU"; }

}  // namespace

bool WithoutInstrumentCodes(const TQ5File& file, const std::string& nsuFile, TMorvaneSunData& found,
                            std::string& error) {
  found = {};
  const std::string& separator = gListScn ? gListScn->SepList : std::string(" ");
  std::vector<std::string> lines;
  std::string hex;
  std::vector<TScnValue> values;
  std::set<TFilterKey> coded;
  for (int i = 0; i < file.Events.Count(); ++i) {
    const TScnType* type = file.Events.ScnType(i);
    if (!IsSunTriplets(type) || !file.Events.Valid(i)) continue;
    file.Events.RecordHex(i, hex);
    values.resize(static_cast<size_t>(type->Count()));
    coded.clear();
    for (int k = 0; k < type->Count(); ++k) {
      TScnValue& value = values[static_cast<size_t>(k)];
      DecodeScnValue((*type)[k], hex, value);
      if (!IsFilterReading(*(*type)[k]) || value.SpecialCode == SPECIAL_NONE) continue;
      coded.insert(KeyOf(*(*type)[k]));
      ++found.CodedReadings;
    }
    if (!coded.empty()) ++found.Records;
    std::string line;
    for (int k = 0; k < type->Count(); ++k) {
      if (k > 0) line += separator;
      const TScnTypeItem& item = *(*type)[k];
      if (IsFilterReading(item) && coded.count(KeyOf(item)))
        line += "0";
      else
        AppendScnValueText(&item, values[static_cast<size_t>(k)], line);
    }
    lines.push_back(std::move(line));
  }
  if (found.CodedReadings == 0) return true;
  return WriteAsciiLines(nsuFile, lines, &error);
}
