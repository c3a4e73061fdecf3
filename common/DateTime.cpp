#include "common/DateTime.h"

#include <chrono>
#include <cmath>
#include <ctime>

namespace {

// Day number of a civil date, counted from 01/01/1970 (proleptic Gregorian calendar).
long long DaysFromCivil(long long y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& year, int& month, int& day)
{
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long y = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

// Splits a value into whole days since 1970 and milliseconds of the day, rounded to the millisecond.
void SplitValue(double value, long long& days, long long& msOfDay)
{
    if (!std::isfinite(value) || std::fabs(value) > 1e8)
        value = 0;
    const long long total = std::llround(value * MSecsPerDay);
    long long d = total / 86400000LL;
    long long ms = total % 86400000LL;
    if (ms < 0) {   // before 1899: the fraction still counts forwards within its day
        ms = -ms;
    }
    days = d - static_cast<long long>(UnixDateDelta);
    msOfDay = ms;
}

void Append2(std::string& out, int v)
{
    out += static_cast<char>('0' + (v / 10) % 10);
    out += static_cast<char>('0' + v % 10);
}

}   // namespace

bool IsLeapYear(int year)
{
    return (year % 4 == 0) && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month)
{
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12)
        return 0;
    return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

bool TryEncodeDate(int year, int month, int day, double& out)
{
    if (year < 1 || year > 9999 || day < 1 || day > DaysInMonth(year, month))
        return false;
    out = static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)))
          + UnixDateDelta;
    return true;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, double& out)
{
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0
        || msec > 999)
        return false;
    out = ((hour * 3600.0 + minute * 60.0 + second) * 1000.0 + msec) / MSecsPerDay;
    return true;
}

bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec, double& out)
{
    double d = 0, t = 0;
    if (!TryEncodeDate(year, month, day, d) || !TryEncodeTime(hour, minute, second, msec, t))
        return false;
    // Before 30/12/1899 the whole part counts days backwards while the fraction still counts the time of
    // day forwards: 29/12/1899 06:00 is -1.25, as the decoders read it.
    out = d < 0 ? d - t : d + t;
    return true;
}

void DecodeDate(double value, int& year, int& month, int& day)
{
    long long days = 0, ms = 0;
    SplitValue(value, days, ms);
    CivilFromDays(days, year, month, day);
}

void DecodeTime(double value, int& hour, int& minute, int& second, int& msec)
{
    long long days = 0, ms = 0;
    SplitValue(value, days, ms);
    msec = static_cast<int>(ms % 1000);
    ms /= 1000;
    second = static_cast<int>(ms % 60);
    ms /= 60;
    minute = static_cast<int>(ms % 60);
    hour = static_cast<int>(ms / 60);
}

void DecodeDateTime(double value, int& year, int& month, int& day, int& hour, int& minute, int& second,
                    int& msec)
{
    DecodeDate(value, year, month, day);
    DecodeTime(value, hour, minute, second, msec);
}

int ExpandYear(int year)
{
    if (year >= 0 && year <= 80)
        return 2000 + year;
    if (year >= 81 && year <= 99)
        return 1900 + year;
    return year;
}

double UnixMsToDateTime(long long msSinceEpoch)
{
    return static_cast<double>(msSinceEpoch) / MSecsPerDay + UnixDateDelta;
}

long long DateTimeToUnixMs(double value)
{
    return std::llround((value - UnixDateDelta) * MSecsPerDay);
}

double NowUTC()
{
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    return UnixMsToDateTime(ms);
}

double NowLocal()
{
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    const std::time_t secs = static_cast<std::time_t>(ms / 1000);
    std::tm local{};
    localtime_r(&secs, &local);
    return UnixMsToDateTime(ms + static_cast<long long>(local.tm_gmtoff) * 1000);
}

std::string FormatDateTime(const std::string& format, double value)
{
    int y, mo, d, h, mi, s, ms;
    DecodeDateTime(value, y, mo, d, h, mi, s, ms);
    std::string out;
    size_t i = 0;
    auto starts = [&](const char* tok) { return format.compare(i, std::char_traits<char>::length(tok), tok) == 0; };
    while (i < format.size()) {
        const char c = format[i];
        if (c == '"') {
            const size_t end = format.find('"', i + 1);
            const size_t stop = end == std::string::npos ? format.size() : end;
            out.append(format, i + 1, stop - i - 1);
            i = stop + 1;
        } else if (starts("yyyy")) {
            out += std::to_string(y);
            i += 4;
        } else if (starts("yy")) {
            Append2(out, y % 100);
            i += 2;
        } else if (starts("zzz")) {
            out += static_cast<char>('0' + ms / 100);
            Append2(out, ms % 100);
            i += 3;
        } else if (c == 'z') {
            out += std::to_string(ms);
            i += 1;
        } else if (c == 'm' || c == 'd' || c == 'h' || c == 'n' || c == 's') {
            const int v = c == 'm' ? mo : c == 'd' ? d : c == 'h' ? h : c == 'n' ? mi : s;
            if (i + 1 < format.size() && format[i + 1] == c) {
                Append2(out, v);
                i += 2;
            } else {
                out += std::to_string(v);
                i += 1;
            }
        } else {
            out += c;
            i += 1;
        }
    }
    return out;
}

std::string ShortDateText(double value)
{
    return FormatDateTime("dd/mm/yyyy", value);
}

std::string TimeText(double value)
{
    return FormatDateTime("hh:nn:ss", value);
}
