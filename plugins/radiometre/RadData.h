#pragma once
// The radiometre plug-in's data set: the radiometer data set with the instrument's dated calibrations,
// the substitutes taken from the acquisition nearest in time, and the radiance and brightness
// temperature of each count. Cautions (a substitute older than five minutes) go to OnCaution.
#include "common/analysis/RadioDataSet.h"
#include "plugins/radiometre/RadCalibration.h"

#include <functional>
#include <string>
#include <vector>

namespace radio {

// A value from another acquisition and that acquisition's date (value kMissing, date 0: none).
struct TNearest {
    double Value = kMissing;
    double Date = 0;
};

class TRadiometreData : public TRadData {
public:
    TCalibrations Calibrations;
    std::function<void(const std::string&)> OnCaution;
    // The section older stores give the instrument (a site's ids joined without separator, "007" for
    // "0/0/7"); empty when there is none.
    std::string JoinedSection;

    // Frees filters, series and calibrations and forgets the instrument identifier, so that the
    // calibrations of the next data never land in the section of the previous instrument.
    void Clear();

    // The store section of the calibrations: the instrument identifier, or the joined section when
    // the store had only that one at the last load.
    const std::string& StoreSection() const { return FStoreSection.empty() ? InstrumentId : FStoreSection; }

    // Empties the calibrations and reads the instrument's section of the store (`path`). False, with
    // the reason, when the file exists but cannot be read.
    bool LoadCalibrations(const std::filesystem::path& path, std::vector<std::string>& warnings, std::string& error);
    // Writes one calibration into the store (`path`); false with the reason when the file cannot be saved.
    bool SaveCalibrations(const std::filesystem::path& path, const TCalibr& calibration, std::string& error);

    TCalibr* GetCalibration(double date) { return Calibrations.GetCalibration(date); }
    TCalibr* GetCalibrationInForce(double date) const { return Calibrations.GetCalibrationInForce(date); }

    TNearest FindNearestMirror(const TCNSerie& serie, int filter) const;
    TNearest FindNearestHeadTemp(const TCNSerie& serie) const;
    TNearest FindNearestBlackTemp(const TCNSerie& serie) const;

    bool GetRadiance(const TCN& cn, double& radiance);
    bool GetTemperature(const TCN& cn, double& celsius);

private:
    std::string FStoreSection;
    TNearest FindNearest(const TCNSerie& serie, const std::function<bool(const TCNSerie&, double&)>& value) const;
    void Caution(TCNSerie& serie, const std::string& text);
};

// The k-th (from 1) count of that filter number in the series, or null.
TCN* FindCN(const TCNSerie& serie, int filter, int k = 1);

}  // namespace radio
