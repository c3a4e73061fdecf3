#pragma once
// Dated calibrations of the infrared radiometer and the two computations they serve: the sky
// radiance of a count and the brightness temperature of a radiance. The calibration store
// "radiometre.ini" holds one section per instrument identifier; a calibration date is a group of
// keys named after its day number (whole days since 30 December 1899):
//   <D>-TEMP=<Tcal>   <D>-USETEMP=1|0   <D>-<filter>=a;b;n;d;S;&
// No window code here: the fuzz build reads the store without Qt Widgets.
#include "common/Utils.h"

#include <filesystem>
#include <string>
#include <vector>

class TCustomIniFile;

namespace radio {

class TCalibr;

// The six coefficients of one filter in one calibration.
struct TCoef {
    TCalibr* Owner = nullptr;
    int32_t Filter = 0;
    double a = 0, b = 0, n = 0, d = 0, S = 0, Amp = 0;  // Amp is the store's "&"

    double& Value(int index);  // 0..5: a, b, n, d, S, &
    double Value(int index) const { return const_cast<TCoef*>(this)->Value(index); }
};
constexpr int kCoefCount = 6;

class TCalibr : public TObjList<TCoef> {
public:
    explicit TCalibr(double date) : Date(date) {}
    double Date;           // a whole day
    double Tcal = 0;       // calibration temperature, degrees Celsius
    bool UseTemp = false;  // correct the gain for the head temperature

    int DayNumber() const;
    TCoef* FindCoef(int filter) const;
    TCoef* AddCoef(int filter);
    // Date, Tcal, USETEMP and a copy of every coefficient record of `other`.
    void Assign(const TCalibr& other);
};

// What a store key names: "<day>-TEMP", "<day>-USETEMP" or "<day>-<filter>". Day and filter are
// decimal integers, so "39083-1", "039083-1" and "39083-01" name one coefficient record.
struct TCalibrationKey {
    enum Status { Ignored, BadDay, BadFilter, Ok } Status = Ignored;  // Ignored: no "-" in the name
    enum Kind { Temp, UseTemp, Coef } Kind = Coef;
    int32_t Day = 0;
    int32_t Filter = 0;

    static TCalibrationKey Parse(const std::string& name);
    // True when both name the same value of the same day.
    bool SameSlot(const TCalibrationKey& other) const;
};

// The calibrations of one instrument, in the order the store names them.
class TCalibrations : public TObjList<TCalibr> {
public:
    // The first calibration dated exactly `date`; a new one (Tcal 0, USETEMP clear) is appended when
    // there is none.
    TCalibr* GetCalibration(double date);
    // Among calibrations dated after 0 and not later than `date`, the latest (the first of equals).
    TCalibr* GetCalibrationInForce(double date) const;
    void Remove(TCalibr* calibration);

    // Reads `section` key by key, replacing what the list held. A key or value that cannot be read
    // is left out (or its field read as the default) and named in `warnings`; the rest loads. Time
    // and memory grow with the number of keys only.
    void Load(TCustomIniFile& ini, const std::string& section, std::vector<std::string>& warnings);
    // Writes the keys of one calibration (coefficients with '.', Tcal with the process separator).
    // Keys the loader would read before them (the same values under other spellings) are deleted.
    static void Save(TCustomIniFile& ini, const std::string& section, const TCalibr& calibration);
    // Deletes every key the loader reads into the calibration's day, whatever its spelling.
    static void EraseKeys(TCustomIniFile& ini, const std::string& section, const TCalibr& calibration);
    // "<day>-<filter>"
    static std::string CoefKey(int day, int filter) { return std::to_string(day) + "-" + std::to_string(filter); }
};

// Where the store lives: the per-user data folder, with the copy beside the plug-in read while the
// user has none of their own. The first write copies that fallback to the user's folder.
class TCalibrationStore {
public:
    explicit TCalibrationStore(std::filesystem::path pluginFolder);
    std::filesystem::path UserPath() const;
    std::filesystem::path FallbackPath() const { return FFallback; }
    // The file reads come from.
    std::filesystem::path ReadPath() const;
    // The file writes go to (the fallback's bytes copied there first when the user has none).
    std::filesystem::path PrepareWrite() const;

    static constexpr const char* kFileName = "radiometre.ini";

private:
    std::filesystem::path FFallback;
};

// L = a / (exp(b / (Th + 273.15)^n) - d) + (CN - CNm) / G, G = S, or S * exp((Th - Tcal) * &) with
// USETEMP. False when any step leaves the finite reals (division by zero, domain, overflow).
bool RadianceOf(const TCoef& coef, const TCalibr& calibration, double count, double mirror, double headTemp,
                double& radiance);
// The inverse of the law L = a / (exp(b / T^n) - d): T = (b / ln(d + a / L))^(1/n) - 273.15 (°C).
// False for L <= 0 and whenever a step leaves the finite reals or the logarithm's domain.
bool TemperatureOf(const TCoef& coef, double radiance, double& celsius);

// Text of a real for the store: the shortest text with up to 15 significant digits and '.'.
std::string CoefText(double value);
// A number typed in the editor, cleaned: a leading '-' kept ('+' dropped), digits kept, the first
// other character becomes `separator`, an exponent ("E", a sign, digits) after a digit is kept, and
// the text ends at the next other character. "12,5" gives "12.5" (with '.'), "1.2.3" gives "1.2",
// "1.5E-5" stays "1.5E-5".
std::string CleanNumberText(const std::string& text, char separator);
// A real written with '.' or ',' (sign and exponent allowed); false when it is not a number.
bool ReadCalibrationReal(const std::string& text, double& value);

}  // namespace radio
