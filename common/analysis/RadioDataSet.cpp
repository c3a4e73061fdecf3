#include "common/analysis/RadioDataSet.h"

#include "common/SettingsStore.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

namespace radio {

namespace {
// The calibration plug-in's settings key, which holds the current site.
const char* const kSiteKey = "SOFTWARE\\DORAX Quenlith\\ZELT Win\\Tessaly";

constexpr uint32_t Rgb(uint32_t r, uint32_t g, uint32_t b) { return r | (g << 8) | (b << 16); }
constexpr uint32_t kFilterColors[kMaxFilters] = {
    Rgb(255, 0, 0), Rgb(0, 255, 0), Rgb(0, 0, 255),   Rgb(128, 0, 255), Rgb(0, 128, 0),
    Rgb(255, 128, 0), Rgb(0, 0, 128), Rgb(255, 255, 0), Rgb(0, 0, 0)};
}  // namespace

uint32_t FilterColor(int order)
{
    return order >= 0 && order < kMaxFilters ? kFilterColors[order] : 0;
}

void TSite::ReadFromRegistry(int number)
{
    TRegistryIniFile key(kSiteKey);
    Alt = key.ReadFloat("", "SiteAlt", 0);
    CountryId = DistrictId = 0;
    if (number < 0) {
        Name = key.ReadString("", "SiteName", "No name");
        Lat = key.ReadFloat("", "SiteLat", 0);
        Lon = key.ReadFloat("", "SiteLon", 0);
        SiteNumber = key.ReadInteger("", "SiteNumber", 0);
    } else {
        Name = "Site " + std::to_string(number);
        Lat = Lon = 0;
        SiteNumber = number;
    }
}

TRadData::TRadData() { Site.ReadFromRegistry(-1); }

void TRadData::Clear()
{
    FilterList.Clear();
    SerieList.Clear();
}

TFilter* TRadData::FindFilter(int number) const
{
    for (TFilter* f : FilterList)
        if (f->Number() == number) return f;
    return nullptr;
}

int TRadData::GetNbTotalCN() const
{
    int total = 0;
    for (const TCNSerie* s : SerieList) total += s->Count();
    return total;
}

namespace {
// Every item of an owning list, in order, the list left empty without freeing them.
template <class T>
std::vector<T*> TakeAll(TObjList<T>& list)
{
    std::vector<T*> items;
    while (list.Count()) items.push_back(list.Extract(list.Count() - 1));
    std::reverse(items.begin(), items.end());
    return items;
}
}  // namespace

void TRadData::Swap(TRadData& other)
{
    std::vector<TFilter*> filters = TakeAll(FilterList), otherFilters = TakeAll(other.FilterList);
    std::vector<TCNSerie*> series = TakeAll(SerieList), otherSeries = TakeAll(other.SerieList);
    for (TFilter* f : otherFilters) FilterList.Add(f);
    for (TCNSerie* s : otherSeries) SerieList.Add(s);
    for (TFilter* f : filters) other.FilterList.Add(f);
    for (TCNSerie* s : series) other.SerieList.Add(s);
    std::swap(InstrumentId, other.InstrumentId);
}

void TRadData::DeleteSerie(TCNSerie* serie)
{
    const int index = SerieList.IndexOf(serie);
    if (index >= 0) SerieList.Delete(index);
}

void TRadData::DeleteSeries(const std::vector<TCNSerie*>& series)
{
    const std::unordered_set<const TCNSerie*> doomed(series.begin(), series.end());
    for (TCNSerie* s : TakeAll(SerieList)) {
        if (doomed.count(s))
            delete s;
        else
            SerieList.Add(s);
    }
}

}  // namespace radio
