#pragma once
// A program of the build run as a child process the way a user starts it: no screen, and a fresh
// account whose home and XDG folders lie in the test's temporary folder.
#include "common/tests/PlatformTestEnv.h"
#include "common/tests/support/TestWait.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

inline QProcessEnvironment FreshAccountEnvironment(const ScopedTestHome& home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.insert("HOME", QString::fromStdString((home.Root() / "home").string()));
    env.insert("XDG_CONFIG_HOME", QString::fromStdString((home.Root() / "config").string()));
    env.insert("XDG_DATA_HOME", QString::fromStdString((home.Root() / "data").string()));
    return env;
}

// Ends a child that is still running: asked first, then killed.
inline void StopProcess(QProcess& process)
{
    if (process.state() == QProcess::NotRunning) return;
    process.terminate();
    if (!process.waitForFinished(kTestDeadlineMs)) process.kill();
    process.waitForFinished(kTestDeadlineMs);
}
