#include "station/link/PortLock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>

namespace {

// The folders QSerialPort may put its lock files in, in the order it tries them.
QStringList LockFolders()
{
    return {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp", "/tmp", "/var/tmp",
            "/var/lock/lockdev", "/run/lock", QStandardPaths::writableLocation(QStandardPaths::TempLocation)};
}

bool ProcessRuns(int64_t pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

}  // namespace

std::string PortLockFileName(const std::string& devicePath)
{
    std::string name = devicePath.rfind("/dev/", 0) == 0 ? devicePath.substr(5) : devicePath;
    for (char& c : name)
        if (c == '/') c = '_';
    return "LCK.." + name;
}

TPortLockHolder FindPortLockHolder(const std::string& devicePath)
{
    const QString fileName = QString::fromStdString(PortLockFileName(devicePath));
    for (const QString& folder : LockFolders()) {
        const QString path = QDir(folder).filePath(fileName);
        if (folder.isEmpty() || !QFileInfo::exists(path)) continue;
        qint64 pid = 0;
        QString host, program;
        if (!QLockFile(path).getLockInfo(&pid, &host, &program)) continue;
        if (pid == QCoreApplication::applicationPid() || !ProcessRuns(pid)) continue;
        return {pid, QFileInfo(program).fileName().toStdString()};
    }
    return {};
}
