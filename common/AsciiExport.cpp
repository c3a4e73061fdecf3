#include "common/AsciiExport.h"

#include <cstdio>
#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string_view>
#include <unordered_set>

#include "common/FileUtils.h"
#include "common/Q5File.h"

#include "common/ScnType.h"

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

// One period file while an export adds to it. New lines go in date order, each before the lines of the
// same date-time already there (so before earlier new ones of that date too); a line the file already
// holds is skipped (equal lines have equal date-times, so only those are compared). When the file's lines
// are in date order (the usual case) the new lines are sorted and merged once at the end; otherwise each
// is inserted by a walk from the end.
struct TPeriodFile {
    std::vector<std::string> lines;
    std::vector<double> dates;   // LineDateTime of each line
    bool sorted = true;
    bool changed = false;
    std::deque<std::pair<double, std::string>> pending;   // in arrival order (stable addresses)
    std::unordered_set<std::string_view> pendingText;

    void Load(const std::string& fileName)
    {
        if (FileExists(fileName))
            ReadAsciiLines(fileName, lines);
        dates.reserve(lines.size());
        for (const std::string& line : lines) {
            const double d = LineDateTime(line);
            if (!dates.empty() && d < dates.back())
                sorted = false;
            dates.push_back(d);
        }
    }

    bool Holds(const std::string& line, double d) const
    {
        if (sorted) {
            const auto range = std::equal_range(dates.begin(), dates.end(), d);
            for (auto it = range.first; it != range.second; ++it)
                if (lines[static_cast<size_t>(it - dates.begin())] == line)
                    return true;
            return pendingText.count(line) != 0;
        }
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    void Insert(const std::string& line)
    {
        const double d = LineDateTime(line);
        if (Holds(line, d))
            return;
        if (sorted) {
            pending.emplace_back(d, line);
            pendingText.insert(pending.back().second);
            return;
        }
        size_t at = lines.size();
        while (at > 0 && dates[at - 1] >= d)
            --at;
        lines.insert(lines.begin() + static_cast<long>(at), line);
        dates.insert(dates.begin() + static_cast<long>(at), d);
        changed = true;
    }

    // Writes the file when it has new lines; false when that failed.
    bool Flush(const std::string& name)
    {
        if (!pending.empty()) {
            // Later arrivals of one date-time come first, as the walk would put them.
            std::vector<size_t> order(pending.size());
            for (size_t i = 0; i < order.size(); ++i)
                order[i] = i;
            std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
                return pending[a].first < pending[b].first || (pending[a].first == pending[b].first && a > b);
            });
            std::vector<std::string> merged;
            merged.reserve(lines.size() + pending.size());
            size_t i = 0;
            for (size_t k : order) {
                while (i < lines.size() && dates[i] < pending[k].first)
                    merged.push_back(std::move(lines[i++]));
                merged.push_back(std::move(pending[k].second));
            }
            while (i < lines.size())
                merged.push_back(std::move(lines[i++]));
            lines = std::move(merged);
            pendingText.clear();
            pending.clear();
            changed = true;
        }
        const bool ok = !changed || WriteAsciiLines(name, lines);
        changed = false;
        return ok;
    }
};

// One fresh ASCII file being written: lines gather in a buffer that goes to the temporary file whenever it
// is full, and the file replaces its target once complete.
struct TFreshFile {
    static constexpr size_t kBufferSize = 1 << 18;
    std::string name;
    TAtomicFile file;
    std::string buffer;
    bool ok = true;

    void Flush()
    {
        ok = file.Write(buffer.data(), buffer.size()) && ok;
        buffer.clear();
    }
    void EndLine()
    {
        buffer += "\r\n";
        if (buffer.size() >= kBufferSize)
            Flush();
    }
};

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

namespace {

std::string AsciiFileName(const std::string& name, const TScnType& type)
{
    return ChangeFileExt(name, "." + type.Extension);
}

}   // namespace

std::vector<std::string> TQ5File::AsciiFileNames(const std::string& name) const
{
    std::vector<std::string> names;
    std::set<const TScnType*> types;
    for (int i = 0; i < Events.Count(); ++i) {
        const TScnType* type = Events.ScnType(i);
        if (type == nullptr || !Events.Valid(i) || !types.insert(type).second)
            continue;
        std::string out = AsciiFileName(name, *type);
        if (std::find(names.begin(), names.end(), out) == names.end())
            names.push_back(std::move(out));
    }
    return names;
}

bool TQ5File::ExportAsciiFiles(const std::string& name, bool withHeader)
{
    // One output per extension, opened when its first event comes; each event's line is written straight
    // from its record, and no event object is made for it.
    std::vector<std::unique_ptr<TFreshFile>> outputs;
    std::map<const TScnType*, TFreshFile*> byType;
    for (int i = 0; i < Events.Count(); ++i) {
        const TScnType* type = Events.ScnType(i);
        if (type == nullptr || !Events.Valid(i))
            continue;
        auto it = byType.find(type);
        if (it == byType.end()) {
            const std::string out = AsciiFileName(name, *type);
            TFreshFile* output = nullptr;
            for (const auto& o : outputs)
                if (o->name == out)
                    output = o.get();
            if (output == nullptr) {
                outputs.push_back(std::make_unique<TFreshFile>());
                output = outputs.back().get();
                output->name = out;
                output->ok = output->file.Open(out);
                output->buffer.reserve(TFreshFile::kBufferSize + 4096);
                if (withHeader) {
                    output->buffer += Events.AsciiHeader(i);
                    output->EndLine();
                }
            }
            it = byType.emplace(type, output).first;
        }
        Events.AppendAsciiString(i, it->second->buffer);
        it->second->EndLine();
    }
    bool ok = true;
    for (const auto& output : outputs) {
        output->Flush();
        ok = output->ok && output->file.Commit() && ok;
    }
    return ok;
}

bool TQ5File::ExportAscii(const std::string& base, int periodMode, bool withHeader)
{
    if (periodMode < ASCII_FRESH || periodMode > ASCII_ALL)
        return false;
    if (periodMode == ASCII_FRESH)
        return ExportAsciiFiles(base + FormatDateTime("mmddhhnn", NowLocal()), withHeader);
    if (gListScn == nullptr)
        return true;
    bool ok = true;
    for (int t = 0; t < gListScn->Count(); ++t) {
        const TScnType* type = (*gListScn)[t];
        // The files of this type, each loaded when its first event comes, written after the type.
        std::map<std::string, TPeriodFile> files;
        std::string line;
        for (int i = 0; i < Events.Count(); ++i) {
            if (Events.ScnType(i) != type || !Events.Valid(i))
                continue;
            const std::string name = AsciiPeriodFileName(base, periodMode, Events.Date(i), type->Extension);
            auto it = files.find(name);
            if (it == files.end()) {
                it = files.emplace(name, TPeriodFile()).first;
                it->second.Load(name);
            }
            line.clear();
            Events.AppendAsciiString(i, line);
            it->second.Insert(line);
        }
        for (auto& [name, file] : files) {
            ok = file.Flush(name) && ok;
            file = TPeriodFile();
        }
    }
    return ok;
}
