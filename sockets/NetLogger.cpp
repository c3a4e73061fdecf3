#include "sockets/NetLogger.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QTime>

TNetLogger::TNetLogger(QObject* owner) : QObject(owner) {}

TNetLogger::~TNetLogger()
{
    std::lock_guard<std::recursive_mutex> lock(FLock);
    FDestroying = true;
    CloseLocked();
}

std::string NetLoggerAddTimeStamp()
{
    return QTime::currentTime().toString(QStringLiteral("hh:mm:ss:zzz")).toStdString();
}

void TNetLogger::DoDebugLog(void* Sender, TLogOption LogOption, const std::string& Msg)
{
    std::lock_guard<std::recursive_mutex> lock(FLock);
    if (FDestroying)
        return;
    const std::string line = FLogOptions.Contains(loAddStamp) ? NetLoggerAddTimeStamp() + " " + Msg : Msg;
    if (FLogOptions.Contains(loDestEvent) && FOnNetLogEvent)
        FOnNetLogEvent(Sender, LogOption, line);
    if (FLogOptions.Contains(loDestOutDebug))
        std::fprintf(stderr, "%s\n", line.c_str());
    if (FLogOptions.Contains(loDestFile)) {
        if (!FFile)
            OpenLocked();
        const std::string out = line + "\r\n";
        if (std::fwrite(out.data(), 1, out.size(), FFile) != out.size() || std::fflush(FFile) != 0)
            throw ELoggerException(std::strerror(errno));
    }
}

void TNetLogger::OpenLogFile()
{
    std::lock_guard<std::recursive_mutex> lock(FLock);
    OpenLocked();
}

void TNetLogger::CloseLogFile()
{
    std::lock_guard<std::recursive_mutex> lock(FLock);
    CloseLocked();
}

void TNetLogger::OpenLocked()
{
    CloseLocked();
    if (FLogFileName.empty())
        throw ELoggerException("File name empty");
    const int fd = ::open(FLogFileName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        throw ELoggerException(std::strerror(errno));
    // Others may read but not write while we hold the file.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        throw ELoggerException(std::strerror(err));
    }
    if (FLogFileOption == lfoOverwrite && ::ftruncate(fd, 0) != 0) {
        const int err = errno;
        ::close(fd);
        throw ELoggerException(std::strerror(err));
    }
    FFile = ::fdopen(fd, "r+");
    if (!FFile) {
        const int err = errno;
        ::close(fd);
        throw ELoggerException(std::strerror(err));
    }
    std::fseek(FFile, 0, SEEK_END);
}

void TNetLogger::CloseLocked()
{
    if (FFile) {
        std::fclose(FFile);
        FFile = nullptr;
    }
}

void TNetLogger::SetLogFileOption(TLogFileOption v)
{
    std::lock_guard<std::recursive_mutex> lock(FLock);
    FLogFileOption = v;
}

void TNetLogger::SetLogFileName(const std::string& v)
{
    std::lock_guard<std::recursive_mutex> lock(FLock);
    if (v == FLogFileName)
        return;
    FLogFileName = v;
    CloseLocked();
}

void TNetLogger::SetLogOptions(TLogOptions v)
{
    std::lock_guard<std::recursive_mutex> lock(FLock);
    FLogOptions = v;
}

void TNetLogger::SetOnNetLogEvent(TNetLogEvent v)
{
    std::lock_guard<std::recursive_mutex> lock(FLock);
    FOnNetLogEvent = std::move(v);
}
