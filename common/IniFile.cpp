#include "common/IniFile.h"

#include "common/DecimalSep.h"
#include "common/FileUtils.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <functional>
#include <sys/stat.h>
#include <unordered_set>


namespace {

char Lower(char c)
{
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// A name folded to its lookup form (names match without case).
std::string Fold(std::string_view name)
{
  std::string folded(name);
  for (char& c : folded) c = Lower(c);
  return folded;
}

std::string KeyOf(const std::string& foldedSection, std::string_view ident)
{
  return foldedSection + '\n' + Fold(ident);  // a section name holds no line end
}

bool IsBlank(char c)
{
  return c == ' ' || c == '\t';
}

std::string_view TrimmedView(std::string_view s)
{
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

std::string TrimBlanks(const std::string& s)
{
  return std::string(TrimmedView(s));
}

bool HasLineEnd(const std::string& s)
{
  return s.find_first_of("\r\n") != std::string::npos;
}

// Names as they are stored: blanks trimmed; empty when the name cannot be stored.
std::string CleanSection(const std::string& section)
{
  std::string s = TrimBlanks(section);
  if (s.find(']') != std::string::npos || HasLineEnd(s)) return std::string();
  return s;
}

std::string CleanIdent(const std::string& ident)
{
  std::string s = TrimBlanks(ident);
  if (s.empty() || s.find('=') != std::string::npos || HasLineEnd(s) || s[0] == '[' || s[0] == ';' ||
      s[0] == '#')
    return std::string();
  return s;
}

bool ParseInt32(const std::string& text, int32_t& out)
{
  std::string s = TrimBlanks(text);
  if (s.empty()) return false;
  bool negative = false;
  size_t i = 0;
  if (s[i] == '+' || s[i] == '-') negative = s[i++] == '-';
  int base = 10;
  if (i < s.size() && s[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= s.size()) return false;
  uint64_t value = 0;
  const char* first = s.data() + i;
  const char* last = s.data() + s.size();
  auto [ptr, ec] = std::from_chars(first, last, value, base);
  if (ec != std::errc() || ptr != last) return false;
  if (base == 16) {
    // Hex is read as a 32-bit pattern: "$FFFFFFFF" is -1.
    if (value > 0xFFFFFFFFull) return false;
    int32_t v = static_cast<int32_t>(static_cast<uint32_t>(value));
    out = negative ? static_cast<int32_t>(0u - static_cast<uint32_t>(v)) : v;
    return true;
  }
  if (negative ? value > 2147483648ull : value > 2147483647ull) return false;
  out = negative ? static_cast<int32_t>(-static_cast<int64_t>(value)) : static_cast<int32_t>(value);
  return true;
}

}  // namespace

bool IniNameEquals(std::string_view a, std::string_view b)
{
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

bool IniTextToInt(const std::string& text, int32_t& value)
{
  return ParseInt32(text, value);
}

// ---------------------------------------------------------------- TCustomIniFile

std::string TCustomIniFile::ReadString(const std::string& section, const std::string& ident,
                                       const std::string& defaultValue)
{
  std::string value = defaultValue;
  TryReadString(section, ident, value);
  return value;
}

int32_t TCustomIniFile::ReadInteger(const std::string& section, const std::string& ident, int32_t defaultValue)
{
  std::string text;
  int32_t value = defaultValue;
  if (TryReadString(section, ident, text) && ParseInt32(text, value)) return value;
  return defaultValue;
}

bool TCustomIniFile::WriteInteger(const std::string& section, const std::string& ident, int32_t value)
{
  return WriteString(section, ident, std::to_string(value));
}

bool TCustomIniFile::ReadBool(const std::string& section, const std::string& ident, bool defaultValue)
{
  return ReadInteger(section, ident, defaultValue ? 1 : 0) != 0;
}

bool TCustomIniFile::WriteBool(const std::string& section, const std::string& ident, bool value)
{
  return WriteString(section, ident, value ? "1" : "0");
}

double TCustomIniFile::ReadFloat(const std::string& section, const std::string& ident, double defaultValue)
{
  std::string text;
  if (!TryReadString(section, ident, text)) return defaultValue;
  text = TrimBlanks(text);
  char sep = DecimalSeparator();
  for (char& c : text)
    if (c == sep) c = '.';
  if (!text.empty() && text[0] == '+') text.erase(0, 1);
  double value = 0;
  const char* last = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), last, value);
  if (text.empty() || ec != std::errc() || ptr != last) return defaultValue;
  return value;
}

bool TCustomIniFile::WriteFloat(const std::string& section, const std::string& ident, double value)
{
  char buffer[64];
  auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  std::string text(buffer, ec == std::errc() ? ptr : buffer);
  char sep = DecimalSeparator();
  for (char& c : text)
    if (c == '.') c = sep;
  return WriteString(section, ident, text);
}

bool TCustomIniFile::SectionExists(const std::string& section)
{
  for (const auto& name : ReadSections())
    if (IniNameEquals(name, TrimBlanks(section))) return true;
  return false;
}

bool TCustomIniFile::ValueExists(const std::string& section, const std::string& ident)
{
  std::string value;
  return TryReadString(section, ident, value);
}

void TCustomIniFile::ForEachValue(const std::string& section, const ValueVisitor& visit)
{
  for (const auto& key : ReadSection(section)) visit(key, ReadString(section, key, ""));
}

std::vector<std::string> TCustomIniFile::ReadSectionValues(const std::string& section)
{
  std::vector<std::string> result;
  ForEachValue(section, [&result](std::string_view name, std::string_view value) {
    result.push_back(std::string(name) + "=" + std::string(value));
  });
  return result;
}

// ---------------------------------------------------------------- TIniFile

TIniFile::TIniFile(std::filesystem::path path) : path_(std::move(path)), hasFile_(true)
{
  LoadFromDisk();
}

TIniFile::TIniFile(TIniFile&&) noexcept = default;

TIniFile::~TIniFile()
{
  if (hasFile_ && !journal_.empty() && !UpdateFile())
    std::fprintf(stderr, "%s\n", lastError_.c_str());
}

TIniFile TIniFile::FromBytes(const std::string& bytes)
{
  TIniFile ini;
  ini.Parse(bytes);
  return ini;
}

const char* TIniFile::EolText(Line::Eol eol)
{
  return eol == Line::CrLf ? "\r\n" : eol == Line::Lf ? "\n" : "";
}

TIniFile::Line TIniFile::ParseLine(std::string text, Line::Eol eol, size_t from)
{
  Line line;
  line.text = std::move(text);
  line.eol = eol;
  const std::string& t = line.text;
  size_t b = std::min(from, t.size());
  while (b < t.size() && IsBlank(t[b])) ++b;
  if (b >= t.size() || t[b] == ';' || t[b] == '#') return line;
  auto setName = [&line](size_t begin, size_t end) {
    const std::string_view all(line.text);
    const std::string_view name = TrimmedView(all.substr(begin, end - begin));
    line.nameBegin = static_cast<uint32_t>(name.data() - all.data());
    line.nameLength = static_cast<uint32_t>(name.size());
  };
  if (t[b] == '[') {
    size_t close = t.find(']', b + 1);
    line.kind = Line::Section;
    setName(b + 1, close == std::string::npos ? t.size() : close);
    return line;
  }
  size_t eq = t.find('=', b);
  if (eq == std::string::npos) return line;
  setName(b, eq);
  if (line.nameLength == 0) return line;
  line.kind = Line::Key;
  line.valuePos = static_cast<uint32_t>(eq + 1);
  return line;
}

void TIniFile::Parse(const std::string& bytes)
{
  DropIndex();
  lines_.clear();
  lines_.reserve(static_cast<size_t>(std::count(bytes.begin(), bytes.end(), '\n')) + 1);
  // A byte-order mark written by some editors is kept but not read as part of the first line.
  const size_t bom = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t nl = bytes.find('\n', pos);
    if (nl == std::string::npos) {
      lines_.push_back(ParseLine(bytes.substr(pos), Line::NoEol, pos == 0 ? bom : 0));
      break;
    }
    size_t end = nl;
    Line::Eol eol = Line::Lf;
    if (end > pos && bytes[end - 1] == '\r') {
      --end;
      eol = Line::CrLf;
    }
    lines_.push_back(ParseLine(bytes.substr(pos, end - pos), eol, pos == 0 ? bom : 0));
    pos = nl + 1;
  }
  lines_.shrink_to_fit();
}

std::string TIniFile::Bytes() const
{
  std::string out;
  for (const auto& line : lines_) {
    out += line.text;
    out += EolText(line.eol);
  }
  return out;
}

TIniFile::FileStamp TIniFile::Stamp() const
{
  FileStamp s;
  struct stat st {};
  if (::stat(path_.c_str(), &st) != 0) return s;
  s.exists = true;
  s.size = static_cast<uintmax_t>(st.st_size);
  s.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  s.inode = static_cast<uint64_t>(st.st_ino);
  return s;
}

bool TIniFile::LoadFromDisk()
{
  stamp_ = Stamp();
  std::string bytes;
  DropIndex();
  if (!stamp_.exists) {
    lines_.clear();
    loadedOk_ = true;
    return true;
  }
  if (!ReadFileBytes(path_, bytes, &lastError_)) {
    lines_.clear();
    loadedOk_ = false;
    return false;
  }
  Parse(bytes);
  loadedOk_ = true;
  return true;
}

void TIniFile::Refresh()
{
  if (!hasFile_ || Stamp() == stamp_) return;
  LoadFromDisk();
  for (const auto& change : journal_) Apply(change);
}

TIniFile::Line::Eol TIniFile::LineEnd() const
{
  for (const auto& line : lines_)
    if (line.eol != Line::NoEol) return line.eol;
  return newEol_;
}

void TIniFile::IndexLine(size_t i) const
{
  const Line& line = lines_[i];
  if (line.kind == Line::Section) {
    indexSection_ = Fold(line.name());
    sectionIndex_.emplace(indexSection_, i);  // the first of that name stays
  } else if (line.kind == Line::Key && !sectionIndex_.empty()) {  // keys before any section are not read
    keyIndex_.emplace(KeyOf(indexSection_, line.name()), i);
  }
}

void TIniFile::BuildIndex() const
{
  if (indexed_) return;
  sectionIndex_.clear();
  keyIndex_.clear();
  indexSection_.clear();
  for (size_t i = 0; i < lines_.size(); ++i) IndexLine(i);
  indexed_ = true;
}

size_t TIniFile::FindKey(const std::string& section, const std::string& ident) const
{
  BuildIndex();
  const auto it = keyIndex_.find(KeyOf(Fold(section), ident));
  return it == keyIndex_.end() ? std::string::npos : it->second;
}

void TIniFile::Apply(const Change& change)
{
  switch (change.op) {
    case Change::Write: ApplyWrite(change.section, change.ident, change.value); break;
    case Change::Delete: ApplyDelete(change.section, change.ident); break;
    case Change::Erase: ApplyErase(change.section); break;
  }
}

void TIniFile::ApplyWrite(const std::string& section, const std::string& ident, const std::string& value)
{
  size_t at = FindKey(section, ident);
  if (at != std::string::npos) {
    Line& line = lines_[at];
    line.text = line.text.substr(0, line.valuePos) + value;
    return;
  }
  const Line::Eol eol = LineEnd();
  Line keyLine = ParseLine(ident + "=" + value, eol);
  // After the last key of the first section of that name, else a new section at the end.
  size_t insertAt = std::string::npos;
  if (const auto first = sectionIndex_.find(Fold(section)); first != sectionIndex_.end()) {
    insertAt = first->second + 1;
    for (size_t j = first->second + 1; j < lines_.size() && lines_[j].kind != Line::Section; ++j)
      if (lines_[j].kind == Line::Key) insertAt = j + 1;
  }
  if (insertAt == std::string::npos) {
    if (!lines_.empty() && lines_.back().eol == Line::NoEol) lines_.back().eol = eol;
    lines_.push_back(ParseLine("[" + section + "]", eol));
    IndexLine(lines_.size() - 1);
    lines_.push_back(std::move(keyLine));
    IndexLine(lines_.size() - 1);
    return;
  }
  if (lines_[insertAt - 1].eol == Line::NoEol) lines_[insertAt - 1].eol = eol;
  const bool atEnd = insertAt == lines_.size();
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(keyLine));
  if (atEnd) {
    IndexLine(insertAt);  // the last section is the one written: the indexes still hold
    return;
  }
  // The lines after it moved down by one; the new key is the first of its name (none was found).
  ShiftIndex([insertAt](size_t i) { return i >= insertAt ? i + 1 : i; });
  keyIndex_.emplace(KeyOf(Fold(section), ident), insertAt);
}

void TIniFile::ShiftIndex(const std::function<size_t(size_t)>& moved)
{
  for (auto* index : {&sectionIndex_, &keyIndex_})
    for (auto& entry : *index) entry.second = moved(entry.second);
}

void TIniFile::ApplyDelete(const std::string& section, const std::string& ident)
{
  BuildIndex();
  const auto first = sectionIndex_.find(Fold(section));
  if (first == sectionIndex_.end()) return;
  // Every line of that name in every block of the section, from its first block on.
  std::vector<size_t> removed;
  bool inSection = false;
  for (size_t i = first->second; i < lines_.size(); ++i) {
    const Line& line = lines_[i];
    if (line.kind == Line::Section) inSection = IniNameEquals(line.name(), section);
    else if (inSection && line.kind == Line::Key && IniNameEquals(line.name(), ident)) removed.push_back(i);
  }
  if (removed.empty()) return;
  size_t to = removed.front();
  for (size_t from = removed.front(), r = 0; from < lines_.size(); ++from) {
    if (r < removed.size() && removed[r] == from) {
      ++r;
      continue;
    }
    lines_[to++] = std::move(lines_[from]);
  }
  lines_.resize(to);
  // No line of that name is left in the section; the others moved up by the lines removed before them.
  keyIndex_.erase(KeyOf(Fold(section), ident));
  ShiftIndex([&removed](size_t i) {
    return i - static_cast<size_t>(std::lower_bound(removed.begin(), removed.end(), i) - removed.begin());
  });
}

void TIniFile::ApplyErase(const std::string& section)
{
  bool inSection = false;
  std::vector<Line> kept;
  kept.reserve(lines_.size());
  for (auto& line : lines_) {
    if (line.kind == Line::Section) inSection = IniNameEquals(line.name(), section);
    if (!inSection) kept.push_back(std::move(line));
  }
  lines_ = std::move(kept);
  DropIndex();
}

bool TIniFile::TryReadString(const std::string& section, const std::string& ident, std::string& value)
{
  Refresh();
  size_t at = FindKey(TrimBlanks(section), TrimBlanks(ident));
  if (at == std::string::npos) return false;
  value = lines_[at].text.substr(lines_[at].valuePos);
  return true;
}

bool TIniFile::WriteString(const std::string& section, const std::string& ident, const std::string& value)
{
  std::string s = CleanSection(section), k = CleanIdent(ident);
  if (s.empty() || k.empty()) {
    lastError_ = "Cannot store the value \"" + ident + "\" of section \"" + section + "\"";
    return false;
  }
  Refresh();
  Change change{Change::Write, s, k, value.substr(0, value.find_first_of("\r\n"))};
  Apply(change);
  journal_.push_back(std::move(change));
  return true;
}

std::vector<std::string> TIniFile::ReadSections()
{
  Refresh();
  std::vector<std::string> names;
  std::unordered_set<std::string> seen;
  for (const auto& line : lines_)
    if (line.kind == Line::Section && seen.insert(Fold(line.name())).second) names.emplace_back(line.name());
  return names;
}

namespace {

// FNV-1a of a name folded to lower case.
uint64_t FoldedHash(std::string_view name)
{
  uint64_t hash = 14695981039346656037ull;
  for (char c : name) hash = (hash ^ static_cast<unsigned char>(Lower(c))) * 1099511628211ull;
  return hash;
}

}  // namespace

void TIniFile::ForEachKey(const std::string& section, const std::function<void(const Line&)>& visit)
{
  Refresh();
  const std::string s = TrimBlanks(section);
  std::vector<uint32_t> keys;  // the section's key lines, in file order
  bool inSection = false;
  for (size_t i = 0; i < lines_.size(); ++i) {
    const Line& line = lines_[i];
    if (line.kind == Line::Section) inSection = IniNameEquals(line.name(), s);
    else if (inSection && line.kind == Line::Key) keys.push_back(static_cast<uint32_t>(i));
  }
  // A name met before is skipped. Found by sorting (hash, line) pairs rather than by a set of names,
  // which would take several times the file's size for a large section.
  std::vector<std::pair<uint64_t, uint32_t>> byHash;
  byHash.reserve(keys.size());
  for (uint32_t i : keys) byHash.emplace_back(FoldedHash(lines_[i].name()), i);
  std::sort(byHash.begin(), byHash.end());
  std::vector<uint32_t> repeated;
  for (size_t run = 0; run < byHash.size();) {
    size_t end = run + 1;
    while (end < byHash.size() && byHash[end].first == byHash[run].first) ++end;
    for (size_t j = run + 1; j < end; ++j)
      for (size_t k = run; k < j; ++k)
        if (IniNameEquals(lines_[byHash[k].second].name(), lines_[byHash[j].second].name())) {
          repeated.push_back(byHash[j].second);
          break;
        }
    run = end;
  }
  std::sort(repeated.begin(), repeated.end());
  for (uint32_t i : keys)
    if (!std::binary_search(repeated.begin(), repeated.end(), i)) visit(lines_[i]);
}

std::vector<std::string> TIniFile::ReadSection(const std::string& section)
{
  std::vector<std::string> keys;
  ForEachKey(section, [&keys](const Line& line) { keys.emplace_back(line.name()); });
  return keys;
}

void TIniFile::ForEachValue(const std::string& section, const ValueVisitor& visit)
{
  ForEachKey(section, [&visit](const Line& line) {
    visit(line.name(), std::string_view(line.text).substr(line.valuePos));
  });
}

bool TIniFile::EraseSection(const std::string& section)
{
  Refresh();
  Change change{Change::Erase, TrimBlanks(section), {}, {}};
  Apply(change);
  journal_.push_back(std::move(change));
  return true;
}

bool TIniFile::DeleteKey(const std::string& section, const std::string& ident)
{
  Refresh();
  Change change{Change::Delete, TrimBlanks(section), TrimBlanks(ident), {}};
  Apply(change);
  journal_.push_back(std::move(change));
  return true;
}

void TIniFile::DiscardChanges()
{
  journal_.clear();
  if (hasFile_) LoadFromDisk();
}

bool TIniFile::UpdateFile()
{
  if (!hasFile_) {
    lastError_ = "The ini text has no file";
    return false;
  }
  if (journal_.empty()) return true;
  // Replay onto what is on disk now, so that changes saved meanwhile by others are kept. A file
  // that exists but cannot be read is not overwritten.
  if (!LoadFromDisk()) return false;
  for (const auto& change : journal_) Apply(change);
  if (!WriteFileAtomically(path_, Bytes(), &lastError_)) return false;
  journal_.clear();
  stamp_ = Stamp();
  return true;
}
