#include "common/DecimalSep.h"

#include <atomic>
#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <stdexcept>

namespace {
std::atomic<char> gDecimalSeparator{'.'};

std::string FormatWith(double value, int decimals, char separator)
{
    return FormatFixedSignificant(value, decimals, 6, separator);
}
}   // namespace

namespace {

// Digits before the point of |value| > 0 (negative for 0.00x), as floor(log10) + 1 gives them; the
// logarithm is taken only for values below 1, very large ones and those a hair below a power of ten,
// where its rounding decides.
int IntegerDigits(double magnitude)
{
    if (magnitude >= 1 && magnitude < 1e15) {
        const auto whole = static_cast<uint64_t>(magnitude);
        int digits = 1;
        uint64_t next = 10;
        while (digits < 16 && whole >= next) {
            ++digits;
            next *= 10;
        }
        if (magnitude < static_cast<double>(next) * 0.999999999)
            return digits;
    }
    return static_cast<int>(std::floor(std::log10(magnitude))) + 1;
}

// |value| x 10^decimals rounded half away from zero, exactly, when it fits the integer arithmetic.
bool ScaledRounded(double magnitude, int decimals, unsigned __int128& out)
{
    if (decimals > 19)
        return false;
    // magnitude = mantissa / 2^shift; a normal double gives both from its bits (frexp and ldexp are
    // library calls, and every exported value comes here).
    uint64_t mantissa = 0;
    int shift = 0;
    const auto bits = std::bit_cast<uint64_t>(magnitude);
    const int biased = static_cast<int>(bits >> 52) & 0x7FF;
    if (biased != 0 && biased != 0x7FF) {
        mantissa = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
        shift = 1075 - biased;
    } else {
        int exponent = 0;
        const double fraction = std::frexp(magnitude, &exponent);   // magnitude = fraction x 2^exponent
        mantissa = static_cast<uint64_t>(std::ldexp(fraction, 53));
        shift = 53 - exponent;
    }
    if (shift <= 0 || shift >= 127)
        return false;
    unsigned __int128 scaled = mantissa;
    for (int i = 0; i < decimals; ++i)
        scaled *= 10;
    const unsigned __int128 one = 1;
    const unsigned __int128 rest = scaled & ((one << shift) - 1);
    out = (scaled >> shift) + (rest >= (one << (shift - 1)) ? 1 : 0);
    return true;
}

// Fixed notation from the exact decimal expansion of the value, for what the integer arithmetic does not
// hold (very large or very small values, many decimals): rounded half away from zero by hand.
void AppendFixedSlow(std::string& out, double value, int kept)
{
    // to_chars ignores the C locale, which Qt sets from the environment; 1100 decimals hold any double.
    static thread_local char buf[1500];
    const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::fixed, 1100);
    if (res.ec != std::errc())
        return;
    std::string digits(buf, static_cast<size_t>(std::find(buf, res.ptr, '.') - buf));
    const char* fraction = buf + digits.size() + 1;
    digits.append(fraction, static_cast<size_t>(kept));
    if (fraction[kept] >= '5') {
        size_t i = digits.size();
        while (i > 0 && digits[i - 1] == '9')
            digits[--i] = '0';
        if (i == 0)
            digits.insert(digits.begin(), '1');
        else
            ++digits[i - 1];
    }
    // A value that rounds to zero is shown without a sign.
    if (value < 0 && digits.find_first_not_of('0') != std::string::npos)
        out += '-';
    out.append(digits, 0, digits.size() - static_cast<size_t>(kept));
    if (kept > 0) {
        out += '.';
        out.append(digits, digits.size() - static_cast<size_t>(kept), std::string::npos);
    }
}

}   // namespace

void AppendFixedSignificant(std::string& out, double value, int decimals, int significant, char separator)
{
    if (decimals < 0)
        decimals = 0;
    if (decimals > 30)
        decimals = 30;
    if (!std::isfinite(value)) {
        out += std::isnan(value) ? "NAN" : (value > 0 ? "INF" : "-INF");
        return;
    }
    int kept = decimals;
    if (value != 0 && significant > 0)
        kept = std::min(decimals, std::max(0, significant - IntegerDigits(std::fabs(value))));
    unsigned __int128 rounded = 0;
    if (value == 0 || ScaledRounded(std::fabs(value), kept, rounded)) {
        // Digits of the rounded integer, the point `kept` digits from the right.
        char digits[48];
        char* end = digits + sizeof digits;
        char* p = end;
        if (rounded <= UINT64_MAX) {
            // The usual case, in 64 bits: 128-bit divisions are library calls.
            auto small = static_cast<uint64_t>(rounded);
            do {
                *--p = static_cast<char>('0' + static_cast<int>(small % 10));
                small /= 10;
            } while (small != 0);
        } else {
            do {
                *--p = static_cast<char>('0' + static_cast<int>(rounded % 10));
                rounded /= 10;
            } while (rounded != 0);
        }
        while (end - p < kept + 1)
            *--p = '0';
        bool nonZero = false;
        for (const char* c = p; c != end; ++c)
            nonZero = nonZero || *c != '0';
        // Written in place at once: every exported value with decimals comes this way.
        AppendInPlace(out, sizeof digits + 32, [&](char* t) {
            if (value < 0 && nonZero)
                *t++ = '-';
            t = std::copy(p, end - kept, t);
            if (decimals > 0)
                *t++ = separator;
            t = std::copy(end - kept, end, t);
            return std::fill_n(t, decimals - kept, '0');
        });
        return;
    }
    const size_t start = out.size();
    AppendFixedSlow(out, value, kept);
    if (decimals > kept) {
        if (kept == 0)
            out += '.';
        out.append(static_cast<size_t>(decimals - kept), '0');
    }
    if (separator != '.') {
        const size_t dot = out.find('.', start);
        if (dot != std::string::npos)
            out[dot] = separator;
    }
}

std::string FormatFixedSignificant(double value, int decimals, int significant, char separator)
{
    std::string text;
    AppendFixedSignificant(text, value, decimals, significant, separator);
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
