#include "common/AsciiExport.h"

#include <cstdio>
#include <algorithm>
#include <unordered_set>

#include "common/FileUtils.h"
#include "common/Q5File.h"

#if __has_include("common/ScnType.h")
#include "common/ScnType.h"
#define ZELT_HAVE_SCN 1
#endif

namespace {

std::string Two(int v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d", v);
    return buf;
}

// Reads a decimal number (optional sign) at pos; false when there is none.
bool ReadInt(const std::string& s, size_t& pos, int& out)
{
    while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t'))
        ++pos;
    size_t p = pos;
    bool neg = false;
    if (p < s.size() && (s[p] == '+' || s[p] == '-'))
        neg = s[p++] == '-';
    const size_t digits = p;
    long long v = 0;
    while (p < s.size() && s[p] >= '0' && s[p] <= '9' && p - digits < 9)
        v = v * 10 + (s[p++] - '0');
    if (p == digits)
        return false;
    while (p < s.size() && s[p] >= '0' && s[p] <= '9')
        ++p;   // more digits than fit: the value is out of any date range anyway
    out = static_cast<int>(neg ? -v : v);
    pos = p;
    return true;
}

// One character as it stands (a blank is a separator too).
bool ReadChar(const std::string& s, size_t& pos, char& out)
{
    if (pos >= s.size())
        return false;
    out = s[pos++];
    return true;
}

bool Expect(const std::string& s, size_t& pos, char c)
{
    if (pos < s.size() && s[pos] == c) {
        ++pos;
        return true;
    }
    return false;
}

struct TLineList {
    std::string name;
    std::vector<std::string> lines;
    std::vector<double> dates;              // LineDateTime of each line
    std::unordered_set<std::string> known;  // every line, for the exact-repeat test
    bool changed = false;

    void Load(const std::string& fileName)
    {
        name = fileName;
        lines.clear();
        dates.clear();
        known.clear();
        changed = false;
        if (FileExists(fileName))
            ReadAsciiLines(fileName, lines);
        dates.reserve(lines.size());
        for (const std::string& line : lines) {
            dates.push_back(LineDateTime(line));
            known.insert(line);
        }
    }

    // Inserts in date order, before the lines of the same date-time; an exact repeat is skipped.
    void Insert(const std::string& line)
    {
        if (known.count(line) != 0)
            return;
        const double d = LineDateTime(line);
        size_t at = lines.size();
        while (at > 0 && dates[at - 1] >= d)
            --at;
        lines.insert(lines.begin() + static_cast<long>(at), line);
        dates.insert(dates.begin() + static_cast<long>(at), d);
        known.insert(line);
        changed = true;
    }

    // Writes the list when it has new lines; false when that failed.
    bool Flush()
    {
        const bool ok = !changed || name.empty() || WriteAsciiLines(name, lines);
        changed = false;
        return ok;
    }
};

#ifdef ZELT_HAVE_SCN
// The line of an event; elements decoded only for it are freed again, so that an export keeps the memory
// of the file as it was.
std::string LineOf(TEvenement* event)
{
    const bool built = event->ElementsBuilt();
    std::string line = event->AsciiString();
    if (!built)
        event->ReleaseElements();
    return line;
}
#endif

}   // namespace

double LineDateTime(const std::string& line)
{
    const bool quoted = !line.empty() && line[0] == '"';
    size_t pos = 0;
    int v[6];
    char sep;
    for (int part = 0; part < 2; ++part) {
        if (quoted && !Expect(line, pos, '"'))
            return 0;
        for (int k = 0; k < 3; ++k) {
            if (!ReadInt(line, pos, v[part * 3 + k]))
                return 0;
            if (k < 2 && !ReadChar(line, pos, sep))
                return 0;
        }
        if (quoted && !Expect(line, pos, '"'))
            return 0;
        if (part == 0 && !ReadChar(line, pos, sep))
            return 0;
    }
    double value = 0;
    if (!TryEncodeDateTime(ExpandYear(v[2]), v[1], v[0], v[3], v[4], v[5], 0, value))
        return 0;
    return value;
}

std::string AsciiPeriodFileName(const std::string& base, int periodMode, double date, const std::string& extension)
{
    int y, mo, d, h, mi, s, ms;
    DecodeDateTime(date, y, mo, d, h, mi, s, ms);
    const std::string year = Two(y);
    switch (periodMode) {
    case ASCII_HOUR: return base + Two(h) + Two(d) + Two(mo) + year + "." + extension;
    case ASCII_DAY: return base + Two(d) + Two(mo) + year + "." + extension;
    case ASCII_MONTH: return base + Two(mo) + year + "." + extension;
    case ASCII_YEAR: return base + year + "." + extension;
    case ASCII_ALL: return base + "." + extension;
    default: return "";
    }
}

bool ReadAsciiLines(const std::string& path, std::vector<std::string>& lines)
{
    lines.clear();
    std::string bytes;
    if (!ReadFileBytes(path, bytes))
        return false;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        const size_t stop = end == std::string::npos ? bytes.size() : end;
        size_t len = stop - start;
        if (len > 0 && bytes[start + len - 1] == '\r')
            --len;
        lines.emplace_back(bytes, start, len);
        start = stop + 1;
    }
    return true;
}

bool WriteAsciiLines(const std::string& path, const std::vector<std::string>& lines, std::string* error)
{
    std::string text;
    size_t size = 0;
    for (const std::string& line : lines)
        size += line.size() + 2;
    text.reserve(size);
    for (const std::string& line : lines) {
        text += line;
        text += "\r\n";
    }
    return WriteFileAtomically(path, text, error);
}

bool TQ5File::ExportAsciiFiles(const std::string& name, bool withHeader)
{
#ifdef ZELT_HAVE_SCN
    // One line list per output name, written in order of first appearance.
    std::vector<std::pair<std::string, std::vector<std::string>>> outputs;
    for (TEvenement* event : Events) {
        if (!event->Valid || event->ScnType == nullptr)
            continue;
        const std::string out = ChangeFileExt(name, "." + event->ScnType->Extension);
        auto it = std::find_if(outputs.begin(), outputs.end(), [&](const auto& o) { return o.first == out; });
        if (it == outputs.end()) {
            outputs.emplace_back(out, std::vector<std::string>());
            it = outputs.end() - 1;
            if (withHeader)
                it->second.push_back(event->AsciiHeader());
        }
        it->second.push_back(LineOf(event));
    }
    bool ok = true;
    for (const auto& [out, lines] : outputs)
        if (!WriteAsciiLines(out, lines))
            ok = false;
    return ok;
#else
    (void)name;
    (void)withHeader;
    return true;
#endif
}

bool TQ5File::ExportAscii(const std::string& base, int periodMode, bool withHeader)
{
    if (periodMode < ASCII_FRESH || periodMode > ASCII_ALL)
        return false;
    if (periodMode == ASCII_FRESH)
        return ExportAsciiFiles(base + FormatDateTime("mmddhhnn", NowLocal()), withHeader);
#ifdef ZELT_HAVE_SCN
    if (gListScn == nullptr)
        return true;
    bool ok = true;
    TLineList list;
    for (int t = 0; t < gListScn->Count(); ++t) {
        const TScnType* type = (*gListScn)[t];
        for (TEvenement* event : Events) {
            if (!event->Valid || event->ScnType != type)
                continue;
            const std::string name = AsciiPeriodFileName(base, periodMode, event->Date, type->Extension);
            if (name != list.name) {
                ok = list.Flush() && ok;
                list.Load(name);
            }
            list.Insert(LineOf(event));
        }
        ok = list.Flush() && ok;
    }
    return ok;
#else
    return true;
#endif
}
