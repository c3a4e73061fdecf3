#pragma once
// Runs the station program as the user does, as a child process: no display, the description files
// of the source tree, the settings of an alternate ini file, standard error kept for the test.
#include <QProcess>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "common/tests/PlatformTestEnv.h"
#include "common/tests/support/TestWait.h"

struct ZeltRun {
    int status = -1;
    std::string err;
};

#ifdef ZELT_TEST_DATA_DIR
// `root` holds "zelt.ini" and receives "stderr.txt". Batch conversions run without any windowing
// platform; a download run gets the offscreen one (there is no screen). Killed when it hangs.
inline ZeltRun RunZelt(const std::filesystem::path& root, const std::string& args, bool offscreen = false)
{
    const std::filesystem::path err = root / "stderr.txt";
    const std::string cmd = std::string("env -u DISPLAY -u WAYLAND_DISPLAY ") +
                            (offscreen ? "QT_QPA_PLATFORM=offscreen" : "-u QT_QPA_PLATFORM") + " ZELT_DATA_DIR='" +
                            ZELT_TEST_DATA_DIR + "' timeout " + std::to_string(kTestProcessSeconds) + " '" + ZELT_TEST_BIN_DIR + "/zelt' -CONFIG=" +
                            (root / "zelt.ini").string() + " " + args + " 2>'" + err.string() + "' >/dev/null";
    ZeltRun r;
    const int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.err = ScopedTestHome::Read(err);
    return r;
}
#endif

// Runs an installed or built program as cron runs it: an environment of PATH and HOME only (no DISPLAY,
// no QT_QPA_PLATFORM, no XDG folder: the program makes what it needs under `home`), standard input from
// /dev/null. Killed after `limitSeconds`; standard error kept. `environment` adds "NAME=value" words.
inline ZeltRun RunAsCron(const std::string& program, const std::string& args, const std::filesystem::path& home,
                         int limitSeconds = kTestProcessSeconds, const std::string& environment = {})
{
    std::filesystem::create_directories(home);
    const std::filesystem::path err = home.parent_path() / (home.filename().string() + "-stderr.txt");
    const std::string cmd = "env -i PATH=/usr/bin:/bin HOME='" + home.string() + "' " + environment + " timeout " +
                            std::to_string(limitSeconds) + " '" + program + "' " + args + " </dev/null 2>'" +
                            err.string() + "' >/dev/null";
    ZeltRun r;
    const int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.err = ScopedTestHome::Read(err);
    return r;
}

// A program started as RunAsCron starts it, left running: the test reads its standard error as it comes,
// may send it a signal at a chosen line, and waits for its end. Killed if it outlives the test.
class CronProcess {
public:
    CronProcess(const std::string& program, const std::vector<std::string>& args, const std::filesystem::path& home)
    {
        std::filesystem::create_directories(home);
        QProcessEnvironment env;
        env.insert("PATH", "/usr/bin:/bin");
        env.insert("HOME", QString::fromStdString(home.string()));
        Process.setProcessEnvironment(env);
        Process.setStandardInputFile(QProcess::nullDevice());
        QStringList arguments;
        for (const std::string& a : args) arguments << QString::fromStdString(a);
        Process.start(QString::fromStdString(program), arguments);
        Process.waitForStarted(kTestDeadlineMs);
    }
    ~CronProcess()
    {
        if (Process.state() == QProcess::NotRunning) return;
        Process.kill();
        Process.waitForFinished(kTestDeadlineMs);
    }
    CronProcess(const CronProcess&) = delete;
    CronProcess& operator=(const CronProcess&) = delete;

    // True once what it has written satisfies `seen`; false when it ended before.
    bool WaitForLog(const std::function<bool(const std::string&)>& seen)
    {
        WaitUntilReading(Process, [&] {
            Err += Process.readAllStandardError().toStdString();
            return seen(Err) || Process.state() == QProcess::NotRunning;
        });
        return seen(Err);
    }
    bool WaitForLog(const std::string& text)
    {
        return WaitForLog([&](const std::string& err) { return err.find(text) != std::string::npos; });
    }
    // Sent only while it runs: the id of a program that has ended is 0, and kill(0) would stop the test.
    void Signal(int signal)
    {
        if (const qint64 pid = Process.processId(); pid > 0) ::kill(pid_t(pid), signal);
    }
    // Its exit status once it has ended, -1 when a signal ended it or it did not end.
    int Wait()
    {
        const bool ended = WaitForProcessEnd(Process);
        Err += Process.readAllStandardError().toStdString();
        return ended && Process.exitStatus() == QProcess::NormalExit ? Process.exitCode() : -1;
    }

    QProcess Process;
    std::string Err;
};
