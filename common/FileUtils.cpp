#include "common/FileUtils.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

void SetError(std::string* error, const std::string& text)
{
  if (error) *error = text;
}

std::string ErrnoText(const std::string& what, const fs::path& path, int err)
{
  return what + " \"" + path.string() + "\": " + std::strerror(err);
}

// Writes all of `size` bytes, retrying on short writes and interruptions.
bool WriteAll(int fd, const char* data, size_t size)
{
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

char Lower(char c)
{
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool ReadFileBytes(const fs::path& path, std::string& bytes, std::string* error)
{
  bytes.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    SetError(error, ErrnoText("Cannot open", path, errno));
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    SetError(error, ErrnoText("Cannot read", path, EISDIR));
    return false;
  }
  if (st.st_size > 0) bytes.reserve(static_cast<size_t>(st.st_size));
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd);
      bytes.clear();
      SetError(error, ErrnoText("Cannot read", path, err));
      return false;
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

bool WriteFileAtomically(const fs::path& path, const std::string& bytes, std::string* error)
{
  return WriteFileAtomically(path, bytes.data(), bytes.size(), error);
}

bool WriteFileAtomically(const fs::path& requested, const void* data, size_t size, std::string* error)
{
  TAtomicFile file;
  if (!file.Open(requested, error)) return false;
  file.Write(data, size);
  return file.Commit(error);   // reports a failed write too
}

TAtomicFile::~TAtomicFile() { Abort(); }

void TAtomicFile::Abort()
{
  if (FFd >= 0) ::close(FFd);
  FFd = -1;
  if (!FTempName.empty()) ::unlink(FTempName.c_str());
  FTempName.clear();
}

bool TAtomicFile::Fail(const std::string& what, int err, std::string* error)
{
  Abort();
  SetError(error, ErrnoText(what, FPath, err));
  return false;
}

bool TAtomicFile::Open(const fs::path& requested, std::string* error)
{
  Abort();
  FFailed = false;
  if (requested.empty() || !requested.has_filename()) {
    SetError(error, "Cannot write \"" + requested.string() + "\": no file name");
    return false;
  }
  // A link is kept: the file it points to is the one replaced.
  FPath = requested;
  std::error_code ec;
  if (fs::is_symlink(fs::symlink_status(requested, ec))) {
    fs::path resolved = fs::weakly_canonical(requested, ec);
    if (!ec) FPath = resolved;
  }
  FFolder = FPath.parent_path();
  if (FFolder.empty()) FFolder = ".";
  // The temporary file lives beside the target so that the rename stays on one file system.
  std::string pattern = (FFolder / ("." + FPath.filename().string() + ".XXXXXX")).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  FFd = ::mkstemp(name.data());
  if (FFd < 0) {
    SetError(error, ErrnoText("Cannot create a temporary file for", FPath, errno));
    return false;
  }
  FTempName = name.data();
  // Keep the permissions of the file being replaced; a new file gets the usual 0666 & ~umask.
  struct stat st {};
  mode_t mode;
  if (::stat(FPath.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return Fail("Cannot write", EISDIR, error);
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  if (::fchmod(FFd, mode) != 0) return Fail("Cannot set the permissions of", errno, error);
  return true;
}

bool TAtomicFile::Write(const void* data, size_t size)
{
  if (FFd < 0 || FFailed) return false;
  if (!WriteAll(FFd, static_cast<const char*>(data), size)) {
    FWriteErrno = errno;
    FFailed = true;
  }
  return !FFailed;
}

bool TAtomicFile::Commit(std::string* error)
{
  if (FFd < 0) {
    SetError(error, "Cannot write \"" + FPath.string() + "\"");
    return false;
  }
  if (FFailed) return Fail("Cannot write", FWriteErrno, error);
  if (::fsync(FFd) != 0) return Fail("Cannot flush", errno, error);
  const int fd = FFd;
  FFd = -1;
  if (::close(fd) != 0) return Fail("Cannot write", errno, error);
  if (::rename(FTempName.c_str(), FPath.c_str()) != 0) return Fail("Cannot replace", errno, error);
  FTempName.clear();
  // Make the rename itself durable.
  int dirfd = ::open(FFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirfd >= 0) {
    ::fsync(dirfd);
    ::close(dirfd);
  }
  return true;
}

bool AppendFileBytes(const fs::path& path, const std::string& bytes, std::string* error)
{
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) {
    SetError(error, ErrnoText("Cannot open", path, errno));
    return false;
  }
  bool ok = WriteAll(fd, bytes.data(), bytes.size());
  int err = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (!ok) SetError(error, ErrnoText("Cannot write", path, err));
  return ok;
}

bool FileExists(const fs::path& path)
{
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

bool DirectoryExists(const fs::path& path)
{
  std::error_code ec;
  return fs::is_directory(path, ec);
}

bool ForceDirectories(const fs::path& path, std::string* error)
{
  if (path.empty()) {
    SetError(error, "Cannot create a folder with no name");
    return false;
  }
  std::error_code ec;
  fs::create_directories(path, ec);
  if (DirectoryExists(path)) return true;
  SetError(error, "Cannot create the folder \"" + path.string() + "\": " +
                      (ec ? ec.message() : std::string("a file has that name")));
  return false;
}

bool DeleteFileIfExists(const fs::path& path)
{
  std::error_code ec;
  fs::remove(path, ec);
  return !ec;
}

bool RenameFile(const fs::path& from, const fs::path& to, std::string* error)
{
  std::error_code ec;
  fs::rename(from, to, ec);
  if (!ec) return true;
  SetError(error, "Cannot rename \"" + from.string() + "\" to \"" + to.string() + "\": " + ec.message());
  return false;
}

bool CopyFileAtomically(const fs::path& from, const fs::path& to, std::string* error)
{
  std::string bytes;
  if (!ReadFileBytes(from, bytes, error)) return false;
  return WriteFileAtomically(to, bytes, error);
}

long long FileSize(const fs::path& path)
{
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return -1;
  auto size = fs::file_size(path, ec);
  return ec ? -1 : static_cast<long long>(size);
}

bool IsFolderWritable(const fs::path& folder)
{
  if (!DirectoryExists(folder)) return false;
  std::string pattern = (folder / ".zelt-write-test.XXXXXX").string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int fd = ::mkstemp(name.data());
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(name.data());
  return true;
}

bool MatchesFileMask(const std::string& name, const std::string& pattern)
{
  // Iterative match with one back-tracking point: linear in practice, never recursive.
  size_t n = 0, p = 0, starP = std::string::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || Lower(pattern[p]) == Lower(name[n]))) {
      ++n;
      ++p;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (starP != std::string::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::vector<fs::path> ListFiles(const fs::path& folder, const std::string& pattern)
{
  std::vector<fs::path> result;
  std::error_code ec;
  fs::directory_iterator it(folder, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    if (!it->is_regular_file(typeError)) continue;
    if (MatchesFileMask(it->path().filename().string(), pattern)) result.push_back(it->path());
  }
  std::sort(result.begin(), result.end());
  return result;
}

std::string ExtractFileName(const std::string& path)
{
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExtractFileDir(const std::string& path)
{
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return std::string();
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string ExtractFileExt(const std::string& path)
{
  std::string name = ExtractFileName(path);
  size_t dot = name.find_last_of('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string ChangeFileExt(const std::string& path, const std::string& ext)
{
  size_t slash = path.find_last_of('/');
  size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + ext;
  return path.substr(0, dot) + ext;
}

std::string IncludeTrailingSlash(const std::string& folder)
{
  if (!folder.empty() && folder.back() == '/') return folder;
  return folder + "/";
}
