#include "plugins/radiometre/RadCalibration.h"

#include "common/DataPaths.h"
#include "common/DecimalSep.h"
#include "common/IniFile.h"
#include "common/analysis/Q5xReader.h"

#include <cmath>
#include <limits>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

namespace radio {

double& TCoef::Value(int index)
{
    switch (index) {
    case 0: return a;
    case 1: return b;
    case 2: return n;
    case 3: return d;
    case 4: return S;
    default: return Amp;
    }
}

int TCalibr::DayNumber() const { return static_cast<int>(std::floor(Date)); }

TCoef* TCalibr::FindCoef(int filter) const
{
    for (TCoef* c : *this)
        if (c->Filter == filter) return c;
    return nullptr;
}

TCoef* TCalibr::AddCoef(int filter)
{
    auto* coef = new TCoef;
    coef->Owner = this;
    coef->Filter = filter;
    Add(coef);
    return coef;
}

void TCalibr::Assign(const TCalibr& other)
{
    Date = other.Date;
    Tcal = other.Tcal;
    UseTemp = other.UseTemp;
    Clear();
    for (const TCoef* coef : other) {
        TCoef* copy = AddCoef(coef->Filter);
        for (int i = 0; i < kCoefCount; ++i) copy->Value(i) = coef->Value(i);
    }
}

TCalibrationKey TCalibrationKey::Parse(const std::string& name)
{
    TCalibrationKey key;
    const size_t dash = name.find('-');
    if (dash == std::string::npos) return key;
    if (!Q5xInteger(name.substr(0, dash), key.Day)) {
        key.Status = BadDay;
        return key;
    }
    const std::string suffix = UpperCase(name.substr(dash + 1, 10));
    if (suffix == "TEMP") key.Kind = Temp;
    else if (suffix == "USETEMP") key.Kind = UseTemp;
    else if (!Q5xInteger(name.substr(dash + 1), key.Filter)) {
        key.Status = BadFilter;
        return key;
    }
    key.Status = Ok;
    return key;
}

bool TCalibrationKey::SameSlot(const TCalibrationKey& other) const
{
    return Status == Ok && other.Status == Ok && Day == other.Day && Kind == other.Kind &&
           (Kind != Coef || Filter == other.Filter);
}

TCalibr* TCalibrations::GetCalibration(double date)
{
    for (TCalibr* c : *this)
        if (c->Date == date) return c;
    auto* c = new TCalibr(date);
    Add(c);
    return c;
}

TCalibr* TCalibrations::GetCalibrationInForce(double date) const
{
    TCalibr* best = nullptr;
    for (TCalibr* c : *this)
        if (c->Date > 0 && c->Date <= date && (!best || c->Date > best->Date)) best = c;
    return best;
}

void TCalibrations::Remove(TCalibr* calibration)
{
    const int i = IndexOf(calibration);
    if (i >= 0) Delete(i);
}

bool ReadCalibrationReal(const std::string& text, double& value)
{
    const double v = Q5xNumber(text, std::numeric_limits<double>::quiet_NaN());
    if (std::isnan(v)) return false;
    value = v;
    return true;
}

std::string CleanNumberText(const std::string& text, char separator)
{
    std::string out;
    size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        if (text[i] == '-') out += '-';
        ++i;
    }
    bool digits = false, point = false;
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (isDigit(c)) {
            out += c;
            digits = true;
        } else if ((c == 'E' || c == 'e') && digits) {
            size_t j = i + 1;
            std::string exponent = "E";
            if (j < text.size() && (text[j] == '-' || text[j] == '+')) exponent += text[j++];
            const size_t start = j;
            while (j < text.size() && isDigit(text[j])) exponent += text[j++];
            if (j > start) out += exponent;
            break;
        } else if (!point && c != '-' && c != '+') {
            out += separator;
            point = true;
        } else {
            break;
        }
    }
    return out;
}

std::string CoefText(double value)
{
    std::string text = ShortestRealText(value);
    ReplaceChar(text, DecimalSeparator(), '.');
    return text;
}

namespace {

// The fields of a value between ';', empty ones included ("1;2;3;4;5;" has six, the last empty).
std::vector<std::string> CoefFields(const std::string& value)
{
    std::vector<std::string> fields;
    size_t from = 0;
    for (size_t semicolon; (semicolon = value.find(';', from)) != std::string::npos; from = semicolon + 1)
        fields.push_back(value.substr(from, semicolon - from));
    fields.push_back(value.substr(from));
    return fields;
}

// The section's key names, each with what it names.
std::vector<std::pair<std::string, TCalibrationKey>> SectionKeys(TCustomIniFile& ini, const std::string& section)
{
    std::vector<std::pair<std::string, TCalibrationKey>> keys;
    for (std::string& name : ini.ReadSection(section)) {
        const TCalibrationKey key = TCalibrationKey::Parse(name);
        keys.emplace_back(std::move(name), key);
    }
    return keys;
}

}  // namespace

void TCalibrations::Load(TCustomIniFile& ini, const std::string& section, std::vector<std::string>& warnings)
{
    Clear();
    auto warn = [&](const std::string& key, const std::string& why) {
        warnings.push_back("Calibration key \"" + key + "\" of [" + section + "]: " + why);
    };
    // The calibration of each day and the coefficient records already read, by day and filter.
    std::unordered_map<int32_t, TCalibr*> byDay;
    std::unordered_set<int64_t> coefsRead;
    ini.ForEachValue(section, [&](std::string_view name, std::string_view text) {
        const std::string key(name), value(text);
        const TCalibrationKey parsed = TCalibrationKey::Parse(key);
        if (parsed.Status == TCalibrationKey::Ignored) return;
        if (parsed.Status == TCalibrationKey::BadDay) {
            warn(key, "the day number is not an integer; key ignored");
            return;
        }
        if (parsed.Status == TCalibrationKey::BadFilter) {
            warn(key, "the filter number is not an integer; key ignored");
            return;
        }
        TCalibr*& calibration = byDay[parsed.Day];
        if (!calibration) {
            calibration = new TCalibr(parsed.Day);
            Add(calibration);
        }
        if (parsed.Kind == TCalibrationKey::Temp) {
            if (!ReadCalibrationReal(value, calibration->Tcal)) {
                calibration->Tcal = 29;
                warn(key, "\"" + value + "\" is not a number; 29 taken");
            }
        } else if (parsed.Kind == TCalibrationKey::UseTemp) {
            int32_t flag = 0;
            calibration->UseTemp = IniTextToInt(value, flag) && flag != 0;
        } else if (!coefsRead.insert((int64_t{parsed.Day} << 32) | static_cast<uint32_t>(parsed.Filter)).second) {
            // "39083-1" and "39083-01" name one filter: the first key holds, as the save writes one.
            warn(key, "a second key for filter " + std::to_string(parsed.Filter) + "; key ignored");
        } else {
            TCoef* coef = calibration->AddCoef(parsed.Filter);
            const std::vector<std::string> fields = CoefFields(value);
            if (fields.size() <= 5) {
                warn(key, "fewer than six coefficients; all taken as 0");
                return;
            }
            // An empty field (a value ending in ';') is 0.
            for (int i = 0; i < kCoefCount; ++i) {
                const std::string& field = fields[static_cast<size_t>(i)];
                if (!field.empty() && !ReadCalibrationReal(field, coef->Value(i))) {
                    coef->Value(i) = 0;
                    warn(key, "coefficient " + std::to_string(i + 1) + " is not a number; 0 taken");
                }
            }
        }
    });
}

void TCalibrations::Save(TCustomIniFile& ini, const std::string& section, const TCalibr& calibration)
{
    const int day = calibration.DayNumber();
    const std::string temp = std::to_string(day) + "-TEMP", useTemp = std::to_string(day) + "-USETEMP";
    std::vector<std::pair<std::string, TCalibrationKey>> written;
    for (const TCoef* coef : calibration) written.emplace_back(CoefKey(day, coef->Filter), TCalibrationKey{});
    written.emplace_back(temp, TCalibrationKey{});
    written.emplace_back(useTemp, TCalibrationKey{});
    for (auto& [name, key] : written) key = TCalibrationKey::Parse(name);
    // Another spelling of a key written here would be read first, and its old value with it.
    for (const auto& [name, key] : SectionKeys(ini, section)) {
        if (key.Status != TCalibrationKey::Ok || key.Day != day) continue;
        for (const auto& [mine, slot] : written)
            if (key.SameSlot(slot) && !IniNameEquals(name, mine)) {
                ini.DeleteKey(section, name);
                break;
            }
    }
    for (const TCoef* coef : calibration) {
        std::string value;
        for (int i = 0; i < kCoefCount; ++i) value += (i ? ";" : "") + CoefText(coef->Value(i));
        ini.WriteString(section, CoefKey(day, coef->Filter), value);
    }
    ini.WriteFloat(section, temp, calibration.Tcal);
    ini.WriteString(section, useTemp, calibration.UseTemp ? "1" : "0");
}

void TCalibrations::EraseKeys(TCustomIniFile& ini, const std::string& section, const TCalibr& calibration)
{
    const int day = calibration.DayNumber();
    for (const auto& [name, key] : SectionKeys(ini, section))
        if (key.Status == TCalibrationKey::Ok && key.Day == day) ini.DeleteKey(section, name);
}

TCalibrationStore::TCalibrationStore(std::filesystem::path pluginFolder)
    : FFallback(std::move(pluginFolder) / kFileName)
{
}

std::filesystem::path TCalibrationStore::UserPath() const { return UserDataDir(false) / kFileName; }

std::filesystem::path TCalibrationStore::ReadPath() const
{
    std::error_code ec;
    const std::filesystem::path user = UserPath();
    if (std::filesystem::exists(user, ec) || !std::filesystem::exists(FFallback, ec)) return user;
    return FFallback;
}

std::filesystem::path TCalibrationStore::PrepareWrite() const
{
    std::error_code ec;
    const std::filesystem::path user = UserDataDir(true) / kFileName;
    if (!std::filesystem::exists(user, ec) && std::filesystem::exists(FFallback, ec))
        std::filesystem::copy_file(FFallback, user, ec);
    return user;
}

namespace {
bool Finite(double v) { return std::isfinite(v); }
}  // namespace

bool RadianceOf(const TCoef& coef, const TCalibr& calibration, double count, double mirror, double headTemp,
                double& radiance)
{
    double gain = coef.S;
    if (calibration.UseTemp) gain = coef.S * std::exp((headTemp - calibration.Tcal) * coef.Amp);
    if (!Finite(gain) || gain == 0) return false;
    const double kelvin = headTemp + 273.15;
    const double power = std::pow(kelvin, coef.n);
    if (!Finite(power) || power == 0) return false;
    const double exponent = coef.b / power;
    if (!Finite(exponent)) return false;
    const double denominator = std::exp(exponent) - coef.d;
    if (!Finite(denominator) || denominator == 0) return false;
    const double body = coef.a / denominator;
    const double offset = (count - mirror) / gain;
    const double value = body + offset;
    if (!Finite(body) || !Finite(offset) || !Finite(value)) return false;
    radiance = value;
    return true;
}

bool TemperatureOf(const TCoef& coef, double radiance, double& celsius)
{
    if (!Finite(radiance) || radiance <= 0) return false;
    const double ratio = coef.a / radiance;
    if (!Finite(ratio)) return false;
    const double argument = coef.d + ratio;
    // The logarithm actually taken is ln(d + a / L): its argument and the quotient must be positive.
    if (!Finite(argument) || argument <= 0) return false;
    const double logarithm = std::log(argument);
    if (!Finite(logarithm) || logarithm == 0) return false;
    const double base = coef.b / logarithm;
    if (!Finite(base) || base <= 0 || coef.n == 0) return false;
    const double kelvin = std::pow(base, 1.0 / coef.n);
    if (!Finite(kelvin)) return false;
    celsius = kelvin - 273.15;
    return Finite(celsius);
}

}  // namespace radio
