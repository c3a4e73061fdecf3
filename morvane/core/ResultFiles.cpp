#include "morvane/core/ResultFiles.h"

#include "morvane/core/FortranIO.h"
#include "morvane/core/Tables.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <filesystem>
#include <unistd.h>

namespace morvane {

std::string BuildHeader(const InstrumentDesc &inst, const std::vector<int> &selected, int ncomb, bool vapour) {
  std::string h = "Year Month Day Hour Min Sec Julian Mass Temp Cloud ";
  for (int w : selected)
    h += " Ta" + inst.Label(w);
  for (int w : selected)
    h += " TT" + inst.Label(w);
  auto digit = [](int c) {
    std::string s;
    AppendI(s, c, 1);
    return s;
  };
  for (int c = 1; c <= ncomb; ++c)
    h += " Beta" + digit(c) + " Alpha" + digit(c) + " SD" + digit(c) + " R";
  for (int c = 1; c <= ncomb; ++c)
    h += " BetaT" + digit(c) + " AlphaT" + digit(c) + " SDT";
  if (vapour)
    h += " RT Vapor VaporT";
  h.resize(kHeaderLength, ' ');
  return h;
}

void AppendResultRow(std::string &out, const ResultRow &r, const double *values, int count, bool screened) {
  if (screened)
    AppendX(out, 1);
  AppendI(out, r.year, 5);
  for (long v : {r.month, r.day, r.hour, r.minute}) {
    AppendX(out, 1);
    AppendI(out, v, 3);
  }
  AppendX(out, 1);
  AppendF(out, r.second, 6, 3);
  AppendX(out, 1);
  AppendF(out, r.n, 12, 5);
  AppendX(out, 1);
  AppendF(out, r.mass, 11, 5);
  AppendX(out, 1);
  AppendF(out, r.temperature, 7, 2);
  AppendX(out, 1);
  AppendI(out, r.cloud, 2);
  // The value columns go through a small buffer, one append per batch.
  char batch[16 * 15];
  char *p = batch;
  for (int i = 0; i < count; ++i) {
    if (p + 15 > batch + sizeof batch) {
      out.append(batch, static_cast<size_t>(p - batch));
      p = batch;
    }
    *p++ = ' ';
    if (char *end = PutE(p, values[i], 14, 6)) {
      p = end;
    } else {
      out.append(batch, static_cast<size_t>(p - batch));
      p = batch;
      AppendE(out, values[i], 14, 6);
    }
  }
  out.append(batch, static_cast<size_t>(p - batch));
}

std::string ScreenedName(const std::string &output) {
  const std::string name = TrimRight(output);
  const size_t slash = name.find_last_of('/');
  const size_t base = slash == std::string::npos ? 0 : slash + 1;
  std::string result;
  if (name.size() >= base + 5 && name[name.size() - 4] == '.' && name.find('.', name.size() - 3) == std::string::npos)
    result = name.substr(0, name.size() - 3) + "ta2";
  if (result.empty() || result == name)
    result = name + ".ta2";
  return result;
}

AtomicFile::AtomicFile(const std::string &path) : path_(path) {
  namespace fs = std::filesystem;
  const fs::path target(path);
  const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
  temp_ = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
  fd_ = mkstemp(temp_.data());
  if (fd_ < 0)
    throw Fail(errno);
  buffer.reserve(kChunk + 4096);
}

AtomicFile::~AtomicFile() {
  if (fd_ >= 0) {
    ::close(fd_);
    ::unlink(temp_.c_str());
  }
}

Failure AtomicFile::Fail(int err) const {
  return Failure(FailureKind::Output, "No se puede escribir " + path_ + ": " + std::strerror(err));
}

void AtomicFile::Flush() {
  size_t done = 0;
  while (done < buffer.size()) {
    const ssize_t n = ::write(fd_, buffer.data() + done, buffer.size() - done);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      throw Fail(errno);
    }
    done += static_cast<size_t>(n);
  }
  buffer.clear();
}

void AtomicFile::Commit() {
  Flush();
  // Result files are plain user files: the usual permissions, not mkstemp's private ones.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd_, 0666 & ~mask);
  const int synced = ::fsync(fd_);
  const int err = errno;
  const int closed = ::close(fd_);
  fd_ = -1;
  if (synced != 0 || closed != 0 || std::rename(temp_.c_str(), path_.c_str()) != 0) {
    const int why = synced != 0 ? err : errno;
    ::unlink(temp_.c_str());
    throw Fail(why);
  }
}

void WriteFileAtomically(const std::string &path, const std::string &content) {
  AtomicFile file(path);
  file.buffer = content;
  file.Commit();
}

} // namespace morvane
