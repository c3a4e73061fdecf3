#include "station/DataFileCheck.h"

#include "common/Q5File.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::string UnreadableFileReason(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::strerror(errno);
    struct stat st {};
    const bool folder = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    ::close(fd);
    return folder ? std::strerror(EISDIR) : std::string();
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
