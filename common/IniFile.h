#pragma once
// Windows-profile style ini files: "[Section]" lines and "Key=Value" lines. Section and key names
// match without case (ASCII); values are raw bytes after the first '=' (no quoting, no trimming:
// ',', ';', a blank or a tab are values). Every other line (comments, blank lines, text before the
// first section) is kept byte for byte, and so are the line ends. Saving writes a temporary file
// and renames it over the target, so a failed save leaves the old file whole.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The reader/writer interface the settings users see (an ini file, or the per-user settings store).
// Writes are held in memory until UpdateFile() or the destructor of the concrete class.
class TCustomIniFile {
 public:
  virtual ~TCustomIniFile() = default;

  virtual std::string FileName() const = 0;
  // Found: true and `value` set; missing: false and `value` untouched.
  virtual bool TryReadString(const std::string& section, const std::string& ident, std::string& value) = 0;
  // False when the name cannot be stored (empty, or holds '=' or a line end in the key, ']' or a
  // line end in the section). A value is cut at its first line end.
  virtual bool WriteString(const std::string& section, const std::string& ident, const std::string& value) = 0;
  virtual std::vector<std::string> ReadSections() = 0;                       // names as written
  virtual std::vector<std::string> ReadSection(const std::string& section) = 0;  // key names, in order
  virtual bool EraseSection(const std::string& section) = 0;
  virtual bool DeleteKey(const std::string& section, const std::string& ident) = 0;
  // Writes pending changes to disk. False (and the file as it was) on failure; LastError() says why.
  virtual bool UpdateFile() = 0;
  virtual std::string LastError() const = 0;

  std::string ReadString(const std::string& section, const std::string& ident, const std::string& defaultValue);
  // Integers: decimal with an optional sign, or hex as "$1F" / "0x1F", blanks around ignored; any
  // other text, or a number outside 32 bits, gives the default.
  int32_t ReadInteger(const std::string& section, const std::string& ident, int32_t defaultValue);
  bool WriteInteger(const std::string& section, const std::string& ident, int32_t value);
  // Booleans are stored as "1"/"0"; any non-zero integer reads as true.
  bool ReadBool(const std::string& section, const std::string& ident, bool defaultValue);
  bool WriteBool(const std::string& section, const std::string& ident, bool value);
  // Floats use the process-wide decimal separator (a '.' is accepted too); bad text gives the default.
  double ReadFloat(const std::string& section, const std::string& ident, double defaultValue);
  bool WriteFloat(const std::string& section, const std::string& ident, double value);
  bool SectionExists(const std::string& section);
  bool ValueExists(const std::string& section, const std::string& ident);
  // Each name of a section once, in order, with the value ReadString gives.
  using ValueVisitor = std::function<void(std::string_view name, std::string_view value)>;
  virtual void ForEachValue(const std::string& section, const ValueVisitor& visit);
  // "Key=Value" texts of a section, in order, as ForEachValue gives them.
  std::vector<std::string> ReadSectionValues(const std::string& section);
};

// An ini file read whole into memory. Changes are written by UpdateFile() or, when still pending, by
// the destructor. Before a save the file on disk is read again and the pending changes are replayed
// onto it, so that two objects on the same file (two settings readers) do not undo each other.
// Reads see changes other writers saved since (the file is read again when it changed on disk).
class TIniFile : public TCustomIniFile {
 public:
  explicit TIniFile(std::filesystem::path path);
  ~TIniFile() override;
  TIniFile(const TIniFile&) = delete;
  TIniFile& operator=(const TIniFile&) = delete;

  // An ini image in memory only (no file): UpdateFile() fails, Bytes() gives the text.
  static TIniFile FromBytes(const std::string& bytes);

  std::string FileName() const override { return path_.string(); }
  bool TryReadString(const std::string& section, const std::string& ident, std::string& value) override;
  bool WriteString(const std::string& section, const std::string& ident, const std::string& value) override;
  std::vector<std::string> ReadSections() override;
  std::vector<std::string> ReadSection(const std::string& section) override;
  void ForEachValue(const std::string& section, const ValueVisitor& visit) override;  // in one pass
  bool EraseSection(const std::string& section) override;
  bool DeleteKey(const std::string& section, const std::string& ident) override;
  bool UpdateFile() override;
  std::string LastError() const override { return lastError_; }

  // The text as it would be saved.
  std::string Bytes() const;
  // True when changes are waiting for UpdateFile().
  bool Modified() const { return !journal_.empty(); }
  // Drops the changes waiting for UpdateFile() (after a save that failed for good).
  void DiscardChanges();
  // Line end of lines this object adds to a file that has none yet (default CR LF; a file that has
  // lines keeps its own).
  void SetNewLineEnd(const std::string& eol) { newEol_ = eol == "\n" ? Line::Lf : Line::CrLf; }
  // False when the file existed but could not be read at construction or at a later reload.
  bool LoadedOk() const { return loadedOk_; }

  TIniFile(TIniFile&&) noexcept;

 private:
  TIniFile() = default;
  // One line of the file: its text and where its name and value lie in it (48 bytes and the text,
  // so that a file of a few megabytes stays about twice its size in memory).
  struct Line {
    std::string text;            // without its line end
    uint32_t nameBegin = 0;      // section or key name, blanks trimmed
    uint32_t nameLength = 0;
    uint32_t valuePos = 0;       // for keys: first byte after '='
    enum Eol : uint8_t { NoEol, Lf, CrLf } eol = NoEol;
    enum Kind : uint8_t { Other, Section, Key } kind = Other;
    std::string_view name() const { return std::string_view(text).substr(nameBegin, nameLength); }
  };
  struct Change {
    enum Op : uint8_t { Write, Delete, Erase } op;
    std::string section, ident, value;
  };
  struct FileStamp {
    bool exists = false;
    uintmax_t size = 0;
    int64_t mtimeNs = 0;
    uint64_t inode = 0;
    bool operator==(const FileStamp&) const = default;
  };

  void Parse(const std::string& bytes);
  static Line ParseLine(std::string text, Line::Eol eol, size_t from = 0);
  static const char* EolText(Line::Eol eol);
  FileStamp Stamp() const;
  bool LoadFromDisk();
  void Refresh();
  void Apply(const Change& change);
  void ApplyWrite(const std::string& section, const std::string& ident, const std::string& value);
  void ApplyDelete(const std::string& section, const std::string& ident);
  void ApplyErase(const std::string& section);
  Line::Eol LineEnd() const;
  // Index of the key line in the first section of that name that holds it, or npos.
  size_t FindKey(const std::string& section, const std::string& ident) const;
  // Lookups by name cost the same whatever the size of the file: the first section line of each name
  // and the first key line of each section and key name, built on demand and dropped by any change
  // that moves lines (appending at the end keeps them).
  void BuildIndex() const;
  void DropIndex() { indexed_ = false; }
  void IndexLine(size_t i) const;
  // After lines were inserted or removed: every indexed line number through `moved`.
  void ShiftIndex(const std::function<size_t(size_t)>& moved);
  // The first key line of each name in the section's blocks, in file order.
  void ForEachKey(const std::string& section, const std::function<void(const Line&)>& visit);

  std::filesystem::path path_;
  bool hasFile_ = false;
  bool loadedOk_ = true;
  std::vector<Line> lines_;
  mutable bool indexed_ = false;
  mutable std::unordered_map<std::string, size_t> sectionIndex_, keyIndex_;
  mutable std::string indexSection_;  // folded name of the last section line indexed
  std::vector<Change> journal_;
  FileStamp stamp_;
  Line::Eol newEol_ = Line::CrLf;
  std::string lastError_;
};

// Helpers shared with the settings store.
bool IniNameEquals(std::string_view a, std::string_view b);
// A value as ReadInteger reads it (decimal or hex, blanks around); false for any other text.
bool IniTextToInt(const std::string& text, int32_t& value);
