#include "station/windows/AngleConversion.h"

#include "common/DecimalSep.h"

#include <cmath>
#include <cstdlib>
#include <cerrno>
#include <climits>

namespace {

bool ToInt(const std::string& text, long& value)
{
    // Whole numbers only, blanks around allowed: "12", " -3 "; "", "1.5", "x" are errors.
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    value = std::strtol(begin, &end, 10);
    if (end == begin || errno == ERANGE || value > INT_MAX || value < INT_MIN) return false;
    while (*end == ' ') ++end;
    return *end == '\0';
}

bool WithinRange(double degrees) { return degrees >= -180.0 && degrees <= 180.0; }

}  // namespace

void TAngleConversion::Accept(bool valid, double degrees)
{
    if (valid) {
        Value = degrees;
        Error = false;
    } else {
        Error = true;
    }
}

void TAngleConversion::ReadDecimal(const std::string& text)
{
    double degrees = 0;
    bool valid = TryStrToFloat(text, degrees) && std::isfinite(degrees) && WithinRange(degrees);
    Accept(valid, degrees);
}

void TAngleConversion::ReadHourly(const THourlyAngle& hourly)
{
    long hh = 0, mm = 0, ss = 0;
    if (!ToInt(hourly.HH, hh) || !ToInt(hourly.MM, mm) || !ToInt(hourly.SS, ss)) return Accept(false, 0);
    double seconds = hh * 3600.0 + mm * 60.0 + ss;
    double degrees = seconds / 240.0;  // 15 degrees per hour
    if (hourly.West) degrees = -degrees;
    bool valid = WithinRange(degrees) && ss >= 0 && ss < 60 && mm >= 0 && mm < 60 && hh >= 0 && hh <= 12;
    Accept(valid, degrees);
}

void TAngleConversion::ReadDegreesMinutes(const TDegMinAngle& degMin)
{
    long dd = 0, mm = 0;
    if (!ToInt(degMin.DD, dd) || !ToInt(degMin.MM, mm)) return Accept(false, 0);
    double degrees = std::labs(dd) + mm / 60.0;
    if (dd < 0) degrees = -degrees;
    Accept(WithinRange(degrees) && mm >= 0 && mm < 60, degrees);
}

void TAngleConversion::ReadMinutes(const std::string& text)
{
    long mm = 0;
    if (!ToInt(text, mm)) return Accept(false, 0);
    double degrees = mm / 60.0;
    Accept(WithinRange(degrees), degrees);
}

THourlyAngle TAngleConversion::HourlyText() const
{
    THourlyAngle hourly;
    hourly.West = Value < 0;
    double a = std::fabs(Value);
    long hh = static_cast<long>(std::trunc(a / 15.0));
    double rest = (a - 15.0 * hh) * 4.0;  // minutes
    long mm = static_cast<long>(std::trunc(rest));
    long ss = static_cast<long>(std::trunc((rest - mm) * 60.0));
    hourly.HH = std::to_string(hh);
    hourly.MM = std::to_string(mm);
    hourly.SS = std::to_string(ss);
    return hourly;
}

std::string TAngleConversion::DecimalText() const { return FormatFixed(Value, 2); }

TDegMinAngle TAngleConversion::DegreesMinutesText() const
{
    long dd = static_cast<long>(std::trunc(Value));
    long mm = static_cast<long>(std::trunc(std::fabs(Value - dd) * 60.0));
    return {std::to_string(dd), std::to_string(mm)};
}

std::string TAngleConversion::MinutesText() const
{
    return std::to_string(static_cast<long>(std::trunc(Value * 60.0)));
}
