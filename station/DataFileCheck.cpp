#include "station/DataFileCheck.h"

#include "common/Q5File.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Why a file of this kind is not taken for a data file, or empty for a regular file.
std::string KindReason(mode_t mode)
{
    if (S_ISREG(mode)) return {};
    if (S_ISDIR(mode)) return std::strerror(EISDIR);
    if (S_ISFIFO(mode)) return "not a regular file (a FIFO)";
    if (S_ISSOCK(mode)) return "not a regular file (a socket)";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "not a regular file (a device)";
    return "not a regular file";
}

}  // namespace

std::string UnreadableFileReason(const std::string& path)
{
    // Judged before it is opened: opening a FIFO waits for a writer, opening a device may act on it.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::strerror(errno);
    if (std::string kind = KindReason(st.st_mode); !kind.empty()) return kind;
    // Never waits, even for a file that became something else in the meantime.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return std::strerror(errno);
    std::string reason = ::fstat(fd, &st) == 0 ? KindReason(st.st_mode) : std::strerror(errno);
    ::close(fd);
    return reason;
}

bool NoRecordReadable(const TQ5File& file)
{
    for (int i = 0; i < file.Events.Count(); ++i)
        if (file.Events.Valid(i)) return false;
    for (int32_t p = Q5ParamBlockSize; p < file.ImageLength; ++p)
        if (file.Image[p] != 0xFF && file.Image[p] != 0x00) return true;
    return false;
}

bool NotADataFile(const TQ5File& file)
{
    return file.TooShort || file.ImageLength == 0 || NoRecordReadable(file);
}
