#include "station/link/LinkText.h"

#include <cctype>
#include <climits>

namespace linktext {

static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string Trim(const std::string& s)
{
    // Control characters count as blanks, as the class library's trimming does.
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
    return s.substr(b, e - b);
}

std::string Upper(std::string s)
{
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return s;
}

bool SameText(const std::string& a, const std::string& b) { return Upper(a) == Upper(b); }

bool ReadInt(const std::string& s, size_t& pos, int& value, bool skipBlanks)
{
    size_t p = pos;
    if (skipBlanks)
        while (p < s.size() && IsBlank(s[p])) ++p;
    bool negative = false;
    if (p < s.size() && (s[p] == '+' || s[p] == '-')) negative = s[p++] == '-';
    size_t digits = p;
    long long v = 0;
    while (p < s.size() && std::isdigit(static_cast<unsigned char>(s[p]))) {
        v = v * 10 + (s[p++] - '0');
        if (v > static_cast<long long>(INT_MAX) + 1) return false;
    }
    if (p == digits) return false;
    if (negative) v = -v;
    if (v > INT_MAX || v < INT_MIN) return false;
    value = int(v);
    pos = p;
    return true;
}

int ToIntDef(const std::string& s, int def)
{
    size_t pos = 0;
    int v = 0;
    if (!ReadInt(s, pos, v, false) || pos != s.size()) return def;
    return v;
}

std::string XorHex(const std::string& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    unsigned char x = 0;
    for (char c : bytes) x ^= static_cast<unsigned char>(c);
    return std::string{digits[x >> 4], digits[x & 15]};
}

}  // namespace linktext
