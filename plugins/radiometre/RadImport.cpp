#include "plugins/radiometre/RadImport.h"

#include "common/Evenement.h"
#include "common/Instrument.h"
#include "common/Q5File.h"
#include "common/ScnElement.h"
#include "common/ScnType.h"
#include "common/analysis/ZeltUtils.h"

#include <cmath>

namespace radio {

namespace {

const std::string& NameOf(const TScnElement* el)
{
    static const std::string none;
    return el->Item && el->Item->ValueDesc ? el->Item->ValueDesc->Name : none;
}

// The element's value; false for an instrument code in place of one (over range, no value, ...),
// which is no measurement.
bool ValueOf(const TScnElement* el, double& value)
{
    if (el->SpecialCode != SPECIAL_NONE) return false;
    if (const auto* m = dynamic_cast<const TScnElement_Mes*>(el)) value = m->Value;
    else if (const auto* f = dynamic_cast<const TScnElement_MesFilter*>(el)) value = f->Value;
    else return false;
    return true;
}

// The first element of that value-type name, its value; kMissing without one.
double FirstValue(const TEvenement& event, const char* name)
{
    for (const TScnElement* el : event) {
        double v = 0;
        if (NameOf(el) == name && ValueOf(el, v)) return v;
    }
    return kMissing;
}

// An infrared count of the group ("IR" or "MIR"); an instrument code is none.
const TScnElement_MesFilter* InfraredElement(const TScnElement* el, const char* group)
{
    if (NameOf(el) != "EL_RAD" || el->SpecialCode != SPECIAL_NONE) return nullptr;
    const auto* m = dynamic_cast<const TScnElement_MesFilter*>(el);
    return m && m->Filter && m->Filter->Group == group ? m : nullptr;
}

// One acquisition of an event and the infrared counts it holds.
void AddSerie(TRadiometreData& data, const TEvenement& event)
{
    auto* serie = new TCNSerie;
    serie->HeadTemp = static_cast<float>(FirstValue(event, "EL_TEMPHEAD"));
    serie->BlackTemp = static_cast<float>(FirstValue(event, "EL_TEMPBLACK"));
    const double position = FirstValue(event, "EL_POSITION");
    serie->Position = position == kMissing ? 0 : static_cast<int32_t>(std::trunc(position));
    serie->DateTime = event.Date;
    data.SerieList.Add(serie);
    for (const TScnElement* el : event) {
        const TScnElement_MesFilter* ir = InfraredElement(el, "IR");
        if (!ir) continue;
        auto* cn = new TCN;
        cn->Serie = serie;
        cn->FilterNumber = ir->Filter->Position;
        cn->Filter = data.FindFilter(cn->FilterNumber);
        cn->Count = ir->Value;
        for (const TScnElement* other : event)
            if (const TScnElement_MesFilter* mir = InfraredElement(other, "MIR"))
                if (mir->Filter->Position == cn->FilterNumber) {
                    cn->MirrorCount = std::trunc(mir->Value);
                    break;
                }
        serie->Add(cn);
    }
}

}  // namespace

std::string SiteSection(const TSite& site)
{
    return std::to_string(site.CountryId) + "/" + std::to_string(site.DistrictId) + "/" +
           std::to_string(site.SiteNumber);
}

TImportHostData::TImportHostData(TRadiometreData& data, const TQ5File* file, const TParamsList* stationParams)
{
    if (!file || !file->Instrument) {
        Status = StatusNoInstrument;
        return;
    }
    for (int position = 0; position < 20 && data.FilterList.Count() < kMaxFilters; ++position)
        if (const TFilterDef* def = file->Instrument->FindFilter(position, "IR"))
            data.FilterList.Add(new TFilter(*def, FilterColor(data.FilterList.Count())));
    if (data.FilterList.Count() == 0) {
        Status = StatusNoInstrument;
        return;
    }
    for (int e = file->Events.Count() - 1; e >= 0; --e) {
        TEvenement& event = *file->Events[e];
        // Elements decoded for this import only are freed once read: a year of records would
        // otherwise keep them all, several hundred megabytes.
        const bool decodedBefore = event.ElementsBuilt();
        if (event.Valid && event.Count() > 0) AddSerie(data, event);
        if (!decodedBefore) event.ReleaseElements();
    }
    if (data.GetNbTotalCN() == 0) Status = StatusNoCounts;
    if (stationParams) ApplySiteParams(data.Site, *stationParams, -100);
    data.InstrumentId = SiteSection(data.Site);
    data.JoinedSection = std::to_string(data.Site.CountryId) + std::to_string(data.Site.DistrictId) +
                         std::to_string(data.Site.SiteNumber);
}

}  // namespace radio
