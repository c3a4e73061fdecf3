#include "morvane/app/GraphProgram.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <unistd.h>

namespace morvane {

namespace {
QString OwnFolder() {
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0)
    return {};
  return QFileInfo(QString::fromLocal8Bit(buf, static_cast<int>(n))).absolutePath();
}
} // namespace

bool StartGraphProgram() {
  QString program;
  const QString beside = QDir(OwnFolder()).filePath("graf");
  if (QFileInfo(beside).isExecutable())
    program = beside;
  else
    program = QStandardPaths::findExecutable("graf");
  if (program.isEmpty())
    return false;
  return QProcess::startDetached(program, {}, QDir::currentPath());
}

} // namespace morvane
