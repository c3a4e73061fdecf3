#include "common/analysis/ImportData.h"

#include <cmath>
#include <memory>
#include <string>

#include "common/Evenement.h"
#include "common/Instrument.h"
#include "common/Q5File.h"
#include "common/ScnElement.h"
#include "common/ScnType.h"
#include "common/StaParametre.h"
#include "common/analysis/BgrData.h"
#include "common/analysis/ZeltUtils.h"

namespace {

const uint32_t kColors[] = {0x0000FF, 0xFF0000, 0x000000, 0x00FF00, 0xFF0080, 0x008000,
                            0x0080FF, 0x800000, 0x00FFFF, 0x00FF80, 0xFF0080};
const int kTenFilters[] = {1020, 1640, 870, 670, 440, 500, 1021, 936, 380, 340};
const int kPolarised[] = {1020, 871, 670, 440, 872, 870, 936, 873};
const int kPlain[] = {1020, 870, 670, 440, 500, 936, 380, 340};

bool IsSunGroup(const std::string& group) { return group == "SUN" || group == "SUNI"; }

// The wavelength a code stands for with this filter, 0 when the filter is not of that kind.
int ResolveCode(int code, const TFilterDef& f) {
  switch (code) {
    case 870: return f.PolarChannel == 0 ? 870 : 0;
    case 871:
    case 872:
    case 873: return f.PolarChannel == code - 870 ? 870 : 0;
    case 1020: return f.Group != "SUNI" ? 1020 : 0;
    case 1021: return f.Group == "SUNI" ? 1020 : 0;
    default: return code;
  }
}

}  // namespace

uint32_t FilterColor(int k) {
  const int n = static_cast<int>(sizeof kColors / sizeof kColors[0]);
  return k < n ? kColors[k] : kColors[1 + (k - n) % (n - 1)];
}

TImportData::TImportData(TBgrData& data, const TQ5File* file, const TParamsList* stationParams, bool countsToo)
    : data_(data) {
  Status = ImportOk;
  if (!file || !file->Instrument) {
    Status = NoSunFilter;
    return;
  }
  int k = 0;
  for (const auto& def : file->Instrument->Filters)
    if (IsSunGroup(def->Group)) AddFilter(def.get(), FilterColor(k++));
  if (data_.FilterList.empty()) {
    Status = NoSunFilter;
    return;
  }
  const std::vector<int> order = OrderTable(data_);
  SortFilters(order.data(), static_cast<int>(order.size()), !countsToo);
  if (countsToo) {
    ImportCounts(*file);
    if (data_.GetNbTotalCN() == 0) Status = NoSunCount;
  }
  if (stationParams) ApplySite(*stationParams);
}

std::vector<int> TImportData::OrderTable(const TBgrData& data) {
  if (data.FilterList.size() == 10) return {std::begin(kTenFilters), std::end(kTenFilters)};
  for (const auto& f : data.FilterList)
    if (f->FilterDef && f->FilterDef->Polarised) return {std::begin(kPolarised), std::end(kPolarised)};
  return {std::begin(kPlain), std::end(kPlain)};
}

TFilter* TImportData::AddFilter(const TFilterDef* filterDef, uint32_t color) {
  data_.FilterList.push_back(std::make_unique<TFilter>(filterDef, color));
  return data_.FilterList.back().get();
}

void TImportData::SortFilters(const int* codes, int count, bool scanToEnd) {
  auto& list = data_.FilterList;
  const int size = static_cast<int>(list.size());
  const int end = scanToEnd ? size : std::min(count, size);
  for (int k = 0; k < count && k < size; ++k) {
    for (int i = k; i < end; ++i) {
      const TFilterDef* f = list[static_cast<size_t>(i)]->FilterDef;
      if (!f) continue;
      const int resolved = ResolveCode(codes[k], *f);
      const int w = static_cast<int>(std::trunc(f->Wavelength));
      if (resolved - 10 < w && w < resolved + 10) {
        auto moved = std::move(list[static_cast<size_t>(i)]);
        list.erase(list.begin() + i);
        list.insert(list.begin() + k, std::move(moved));
        break;
      }
    }
  }
}

void TImportData::ImportCounts(const TQ5File& file) {
  for (int e = 0; e < file.Events.Count(); ++e) {
    const TEvenement* event = file.Events[e];
    if (!event->Valid || event->Count() == 0) continue;
    double temperature = 10.0;
    for (const TScnElement* el : *event) {
      const TValueDesc* desc = el->Item ? el->Item->ValueDesc : nullptr;
      if (desc && desc->Name == "EL_TEMP") {
        if (const auto* mes = dynamic_cast<const TScnElement_Mes*>(el)) temperature = mes->Value;
        break;
      }
    }
    if (!event->ScnType || (event->ScnType->Extension != "NSU" && event->ScnType->Extension != "SSK")) continue;
    for (const TScnElement* el : *event) {
      const TValueDesc* desc = el->Item ? el->Item->ValueDesc : nullptr;
      if (!desc || (desc->Name != "EL_SUN" && desc->Name != "EL_SUNI")) continue;
      const auto* mes = dynamic_cast<const TScnElement_MesFilter*>(el);
      if (!mes || !mes->Filter) continue;
      // Absent, saturated and error markers are no counts: they never enter a fit.
      if (mes->SpecialCode != SPECIAL_NONE) continue;
      TCNSerie* serie = data_.GetSerie(mes->Filter->Number);
      if (!serie) continue;
      double count = mes->Value;
      if (mes->Filter->Wavelength == 1020.0 && mes->Filter->Group == "SUN")
        count = count * ((25 - temperature) * 0.0025 + 1);
      serie->Add(count, temperature, event->Date);
    }
  }
}

void TImportData::ApplySite(const TParamsList& params) {
  TSite& site = *data_.Site;
  ApplySiteParams(site, params, 0);
  site.ReadFromInfos();
}
