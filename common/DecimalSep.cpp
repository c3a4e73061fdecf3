#include "common/DecimalSep.h"

#include <atomic>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>

namespace {
std::atomic<char> gDecimalSeparator{'.'};

std::string FormatWith(double value, int decimals, char separator)
{
    return FormatFixedSignificant(value, decimals, 6, separator);
}
}   // namespace

std::string FormatFixedSignificant(double value, int decimals, int significant, char separator)
{
    if (decimals < 0)
        decimals = 0;
    if (decimals > 30)
        decimals = 30;
    if (!std::isfinite(value))
        return std::isnan(value) ? "NAN" : (value > 0 ? "INF" : "-INF");
    int kept = decimals;
    if (value != 0 && significant > 0) {
        // Digits before the point (negative for 0.00x): `significant` digits at most.
        const int intDigits = static_cast<int>(std::floor(std::log10(std::fabs(value)))) + 1;
        kept = std::min(decimals, std::max(0, significant - intDigits));
    }
    // A value exactly half-way between two texts rounds away from zero, as fixed-notation displays do
    // (to_chars would round it to even): one step further from zero decides it. Exactly half-way at
    // `kept` decimals means |value| x 2^(kept+1) is an odd integer.
    const double scaled = std::ldexp(std::fabs(value), kept + 1);
    if (scaled < 0x1p53 && scaled == std::floor(scaled) && std::fmod(scaled, 2.0) == 1.0)
        value = std::nextafter(value, value > 0 ? HUGE_VAL : -HUGE_VAL);
    // to_chars ignores the C locale, which Qt sets from the environment.
    char buf[400];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, kept);
    if (res.ec != std::errc())
        return "";
    std::string text(buf, res.ptr);
    if (text == "-0" || text.rfind("-0.", 0) == 0) {
        // A value that rounds to zero is shown without a sign.
        bool allZero = true;
        for (char c : text)
            if (c >= '1' && c <= '9')
                allZero = false;
        if (allZero)
            text.erase(0, 1);
    }
    if (decimals > kept) {
        if (kept == 0)
            text += '.';
        text.append(static_cast<size_t>(decimals - kept), '0');
    }
    if (separator != '.') {
        const size_t dot = text.find('.');
        if (dot != std::string::npos)
            text[dot] = separator;
    }
    return text;
}

char DecimalSeparator()
{
    return gDecimalSeparator.load();
}

void SetDecimalSeparator(char separator)
{
    if (separator != '\0')
        gDecimalSeparator.store(separator);
}

std::string FormatFixed(double value, int decimals)
{
    return FormatWith(value, decimals, DecimalSeparator());
}

std::string FormatFixedDot(double value, int decimals)
{
    return FormatWith(value, decimals, '.');
}

bool TryStrToFloat(const std::string& text, double& out)
{
    size_t b = 0, e = text.size();
    while (b < e && (text[b] == ' ' || text[b] == '\t'))
        ++b;
    while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t'))
        --e;
    if (b == e)
        return false;
    std::string s = text.substr(b, e - b);
    const char sep = DecimalSeparator();
    // Only the process separator is a decimal point; a '.' is foreign when another separator is in use.
    for (char& c : s) {
        if (c == sep)
            c = '.';
        else if (c == '.' || c == ',')
            return false;
    }
    for (char c : s)
        if (!((c >= '0' && c <= '9') || c == '.' || c == '+' || c == '-' || c == 'e' || c == 'E'))
            return false;
    const char* first = s.c_str();
    if (*first == '+')
        ++first;
    double v = 0;
    const auto res = std::from_chars(first, s.c_str() + s.size(), v);
    if (res.ec != std::errc() || res.ptr != s.c_str() + s.size())
        return false;
    out = v;
    return true;
}

double StrToFloat(const std::string& text)
{
    double v = 0;
    if (!TryStrToFloat(text, v))
        throw std::invalid_argument("'" + text + "' is not a valid floating point value");
    return v;
}
