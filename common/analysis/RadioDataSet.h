#pragma once
// The radiometer data set: the infrared filters of one instrument, its acquisitions (one TCNSerie
// each, with the mirror position, head and black-body temperatures, head humidity and date) and their
// infrared counts. Filled from a ".q5x" file by TImportDataXml (Q5xReader.h). No window code here:
// the chart series a filter draws into are only referred to.
//
// The classes live in namespace radio so that they do not meet the sun-photometer data set of the
// other plug-ins, whose classes carry the same names.
#include "common/Instrument.h"
#include "common/Utils.h"

#include <cstdint>
#include <string>
#include <vector>

class TChartSeries;

namespace radio {

// Value of a count, mirror count, temperature or humidity that the file does not give.
constexpr double kMissing = -9999.0;

// Filters beyond this number in a file are not taken.
constexpr int kMaxFilters = 9;
// Display colour (0x00BBGGRR) of the filter of this order (0-based, below kMaxFilters).
uint32_t FilterColor(int order);

// The measurement site. The radiometer plug-ins only read it: the name, position and numbers of the
// current site of the calibration plug-in's settings key.
struct TSite {
    std::string Name;
    double Lat = 0, Lon = 0, Alt = 0;
    int32_t CountryId = 0, DistrictId = 0, SiteNumber = 0;

    // number < 0: the current site of the settings key ("No name" when it names none); otherwise
    // "Site <number>" at latitude and longitude 0 with the key's altitude.
    void ReadFromRegistry(int number);
};

class TFilter {
public:
    TFilter(const TFilterDef& def, uint32_t color) : FilterDef(def), Color(color) {}

    TFilterDef FilterDef;        // its position is the filter number used everywhere
    uint32_t Color;              // 0x00BBGGRR
    // Chart series of the window, owned by the chart: the point series, and one infrared and one
    // mirror curve per mirror position.
    TChartSeries* PointSeries = nullptr;
    std::vector<TChartSeries*> IrCurves;
    std::vector<TChartSeries*> MirCurves;

    int Number() const { return FilterDef.Position; }
    // "10800 nm", or "Large" for a wide band.
    std::string GetName() const { return FilterDef.GetWavelengthText(); }
};

class TCNSerie;

struct TCN {
    TCNSerie* Serie = nullptr;
    TFilter* Filter = nullptr;   // null when the data set has no filter of that number
    int32_t FilterNumber = 0;
    double Count = 0;
    double MirrorCount = kMissing;
};

// One acquisition and its counts (owned).
class TCNSerie : public TObjList<TCN> {
public:
    int32_t Position = 0;
    float HeadTemp = static_cast<float>(kMissing);
    float BlackTemp = static_cast<float>(kMissing);
    float Humidity = static_cast<float>(kMissing);
    double DateTime = 0;
    double DateTime2 = 0;        // kept for the layout the radiometer plug-in shares; not used
    bool Caution = false;
};

class TRadData {
public:
    TRadData();
    TRadData(const TRadData&) = delete;
    TRadData& operator=(const TRadData&) = delete;

    TObjList<TFilter> FilterList;
    TObjList<TCNSerie> SerieList;
    TSite Site;
    std::string InstrumentId;
    uint8_t Flag = 0;

    // Frees every filter and series.
    void Clear();
    // The first filter whose number is `number`, or null.
    TFilter* FindFilter(int number) const;
    int GetNbTotalCN() const;
    // Takes the filters, series and instrument identifier of `other` (which gets these of this one):
    // a file is read into a fresh data set and swapped in only when it loaded.
    void Swap(TRadData& other);
    // Removes one series from the list and frees it with its counts.
    void DeleteSerie(TCNSerie* serie);
    // The same for several, in one pass over the list.
    void DeleteSeries(const std::vector<TCNSerie*>& series);
};

}  // namespace radio
