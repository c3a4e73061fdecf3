#pragma once
// File and folder helpers on std::filesystem. Text and file contents are bytes (std::string).
// None of these throw: failures come back by result, with a readable reason where one is asked for.
#include <filesystem>
#include <string>
#include <vector>

// Reads a whole file. False (and `bytes` emptied) when it cannot be opened or read.
bool ReadFileBytes(const std::filesystem::path& path, std::string& bytes, std::string* error = nullptr);

// Writes `bytes` to a temporary file in the target's folder, flushes it to disk and renames it over
// the target. On any failure the target is left as it was, the temporary file is removed and false
// is returned with the reason in `error`. An existing target keeps its permission bits.
bool WriteFileAtomically(const std::filesystem::path& path, const std::string& bytes, std::string* error = nullptr);
bool WriteFileAtomically(const std::filesystem::path& path, const void* data, size_t size, std::string* error = nullptr);

// A file written through a temporary file in the target's folder and renamed over the target by Commit
// (flushed to disk first), so that it can be written piece by piece and never left half-written: a
// failure, or destruction without Commit, removes the temporary file and leaves the target as it was.
class TAtomicFile {
public:
  TAtomicFile() = default;
  TAtomicFile(const TAtomicFile&) = delete;
  TAtomicFile& operator=(const TAtomicFile&) = delete;
  ~TAtomicFile();
  bool Open(const std::filesystem::path& path, std::string* error = nullptr);
  // False once a write failed; Commit then reports it.
  bool Write(const void* data, size_t size);
  bool Commit(std::string* error = nullptr);

private:
  void Abort();
  bool Fail(const std::string& what, int err, std::string* error);
  std::filesystem::path FPath, FFolder;
  std::string FTempName;
  int FFd = -1;
  bool FFailed = false;
  int FWriteErrno = 0;
};

// Appends bytes at the end of a file (created when missing). For logs, where a torn tail is acceptable.
bool AppendFileBytes(const std::filesystem::path& path, const std::string& bytes, std::string* error = nullptr);

bool FileExists(const std::filesystem::path& path);       // a regular file (or a link to one)
bool DirectoryExists(const std::filesystem::path& path);  // a folder (or a link to one)
// Creates the folder and its parents; true when it exists afterwards.
bool ForceDirectories(const std::filesystem::path& path, std::string* error = nullptr);
bool DeleteFileIfExists(const std::filesystem::path& path);
// Renames (replacing an existing target); false on failure.
bool RenameFile(const std::filesystem::path& from, const std::filesystem::path& to, std::string* error = nullptr);
// Copies a file atomically (the copy is written as WriteFileAtomically does).
bool CopyFileAtomically(const std::filesystem::path& from, const std::filesystem::path& to, std::string* error = nullptr);
// Size of a regular file, -1 when it cannot be read.
long long FileSize(const std::filesystem::path& path);
// True when a file can be created in the folder (tries it; nothing is left behind).
bool IsFolderWritable(const std::filesystem::path& folder);

// Regular files of `folder` whose name matches the pattern ('*' and '?' wildcards, without case, as
// the station's file masks are typed). Sorted by name. Empty when the folder cannot be read.
std::vector<std::filesystem::path> ListFiles(const std::filesystem::path& folder, const std::string& pattern = "*");
// Wildcard match of a file name, without case ('*' any run, '?' one byte).
bool MatchesFileMask(const std::string& name, const std::string& pattern);

// Name helpers on byte strings, for callers that keep names as std::string.
std::string ExtractFileName(const std::string& path);   // "a/b.q5" -> "b.q5"
std::string ExtractFileDir(const std::string& path);    // "a/b.q5" -> "a" ("" when there is no folder)
std::string ExtractFileExt(const std::string& path);    // "a/b.q5" -> ".q5" ("" when none)
std::string ChangeFileExt(const std::string& path, const std::string& ext);  // ext with its dot
std::string IncludeTrailingSlash(const std::string& folder);

// Turns a path into/out of the byte string the data model keeps (no conversion: Linux names are bytes).
inline std::string PathToBytes(const std::filesystem::path& p) { return p.string(); }
inline std::filesystem::path BytesToPath(const std::string& s) { return std::filesystem::path(s); }
