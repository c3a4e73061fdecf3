#include "plugins/radiometre/RadData.h"

#include "common/IniFile.h"
#include "common/analysis/Q5xReader.h"

#include <cmath>

namespace radio {

namespace {
constexpr double kFiveMinutes = 5.0 / (24 * 60);
}

TCN* FindCN(const TCNSerie& serie, int filter, int k)
{
    for (TCN* cn : serie)
        if (cn->FilterNumber == filter && --k == 0) return cn;
    return nullptr;
}

void TRadiometreData::Clear()
{
    TRadData::Clear();
    Calibrations.Clear();
    InstrumentId.clear();
    JoinedSection.clear();
    FStoreSection.clear();
}

bool TRadiometreData::LoadCalibrations(const std::filesystem::path& path, std::vector<std::string>& warnings,
                                       std::string& error)
{
    Calibrations.Clear();
    FStoreSection.clear();
    TIniFile ini(path);
    if (!ini.LoadedOk()) {
        error = ini.LastError();
        return false;
    }
    if (!JoinedSection.empty() && !ini.SectionExists(InstrumentId) && ini.SectionExists(JoinedSection))
        FStoreSection = JoinedSection;
    Calibrations.Load(ini, StoreSection(), warnings);
    return true;
}

bool TRadiometreData::SaveCalibrations(const std::filesystem::path& path, const TCalibr& calibration,
                                       std::string& error)
{
    TIniFile ini(path);
    TCalibrations::Save(ini, StoreSection(), calibration);
    if (ini.UpdateFile()) return true;
    error = ini.LastError();
    ini.DiscardChanges();
    return false;
}

TNearest TRadiometreData::FindNearest(const TCNSerie& serie,
                                      const std::function<bool(const TCNSerie&, double&)>& value) const
{
    TNearest best;
    double bestDistance = 9E99;
    for (const TCNSerie* other : SerieList) {
        if (other == &serie) continue;
        const double distance = std::fabs(other->DateTime - serie.DateTime);
        double v = kMissing;
        if (distance < bestDistance && value(*other, v)) {
            bestDistance = distance;
            best = {v, other->DateTime};
        }
    }
    return best;
}

TNearest TRadiometreData::FindNearestMirror(const TCNSerie& serie, int filter) const
{
    return FindNearest(serie, [filter](const TCNSerie& other, double& v) {
        const TCN* cn = FindCN(other, filter);
        if (!cn || cn->MirrorCount == kMissing) return false;
        v = cn->MirrorCount;
        return true;
    });
}

TNearest TRadiometreData::FindNearestHeadTemp(const TCNSerie& serie) const
{
    return FindNearest(serie, [](const TCNSerie& other, double& v) {
        v = other.HeadTemp;
        return true;
    });
}

TNearest TRadiometreData::FindNearestBlackTemp(const TCNSerie& serie) const
{
    return FindNearest(serie, [](const TCNSerie& other, double& v) {
        v = other.BlackTemp;
        return true;
    });
}

void TRadiometreData::Caution(TCNSerie& serie, const std::string& text)
{
    serie.Caution = true;
    if (OnCaution) OnCaution(text + Q5xDateTimeText(serie.DateTime));
}

bool TRadiometreData::GetRadiance(const TCN& cn, double& radiance)
{
    TCNSerie& serie = *cn.Serie;
    const TCalibr* calibration = GetCalibrationInForce(serie.DateTime);
    const TCoef* coef = calibration ? calibration->FindCoef(cn.FilterNumber) : nullptr;
    if (!coef) return false;
    double mirror = cn.MirrorCount;
    if (mirror == kMissing) {
        const TNearest nearest = FindNearestMirror(serie, cn.FilterNumber);
        mirror = nearest.Value;
        if (mirror != kMissing && serie.DateTime - nearest.Date > kFiveMinutes && !serie.Caution)
            Caution(serie, "Caution : mirror reference value older than 5 minutes for acquisition of ");
    }
    double head = serie.HeadTemp;
    if (head == kMissing) {
        const TNearest nearest = FindNearestHeadTemp(serie);
        head = nearest.Value;
        if (head != kMissing && serie.DateTime - nearest.Date > kFiveMinutes && !serie.Caution)
            Caution(serie, "Caution : head temperature reference older than 5 minutes for acquisition of");
    }
    if (mirror == kMissing || head == kMissing) return false;
    return RadianceOf(*coef, *calibration, cn.Count, mirror, head, radiance);
}

bool TRadiometreData::GetTemperature(const TCN& cn, double& celsius)
{
    const TCalibr* calibration = GetCalibrationInForce(cn.Serie->DateTime);
    const TCoef* coef = calibration ? calibration->FindCoef(cn.FilterNumber) : nullptr;
    double radiance = 0;
    if (!coef || !GetRadiance(cn, radiance)) return false;
    return TemperatureOf(*coef, radiance, celsius);
}

}  // namespace radio
