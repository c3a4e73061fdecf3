#pragma once
// The one way a test waits for something it expects: a peer's line, a handshake, a child process, a
// window, a thread. Every wait has the same deadline, far above what a loaded machine needs (a slow peer
// is no fault), so that only a hang fails, and a failed wait says what it waited for.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <sys/types.h>
#include <sys/wait.h>

#include <functional>
#include <string>
#include <thread>
#include <utility>

// How long a test waits for anything it expects to happen.
constexpr int kTestDeadlineMs = 60000;
// How long a child process that a test runs to its end may take (a whole download, a conversion).
constexpr int kTestProcessSeconds = 120;

// Lets `done` become true within `deadlineMs`; returns whether it did. While waiting, the Qt event loop
// of this thread runs when the process has an application (the component under test lives on this
// thread and must keep answering), else the thread sleeps a little between looks.
inline bool WaitUntil(const std::function<bool()>& done, int deadlineMs = kTestDeadlineMs)
{
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
        if (waited.elapsed() >= deadlineMs) return done();
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::usleep(QCoreApplication::instance() ? 200 : 2000);
    }
    return true;
}

// WaitUntil as an assertion whose failure names what was waited for:
//     ASSERT_TRUE(WaitFor("the handshake", [&] { return c.HandshakesDone == 1; }));
inline ::testing::AssertionResult WaitFor(const std::string& what, const std::function<bool()>& done,
                                          int deadlineMs = kTestDeadlineMs)
{
    if (WaitUntil(done, deadlineMs)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "waited " << deadlineMs / 1000.0 << " s for " << what;
}

// Lets `ms` pass with the event loop running: for a test that checks that nothing more comes.
inline void LetTimePass(int ms)
{
    WaitUntil([] { return false; }, ms);
}

// WaitUntil for a condition on a child process, its output and its state kept up to date: a QProcess
// learns of them in the event loop, or, in a test program without an application, in its own waits.
inline bool WaitUntilReading(QProcess& process, const std::function<bool()>& done, int deadlineMs = kTestDeadlineMs)
{
    return WaitUntil(
        [&] {
            if (!QCoreApplication::instance() && process.state() != QProcess::NotRunning)
                process.waitForReadyRead(20);
            return done();
        },
        deadlineMs);
}

// Waits for a child process to end; one that does not end is killed, so that it never outlives the
// test. Returns whether it ended by itself.
inline bool WaitForProcessEnd(QProcess& process, int deadlineMs = kTestDeadlineMs)
{
    if (WaitUntilReading(process, [&] { return process.state() == QProcess::NotRunning; }, deadlineMs)) return true;
    process.kill();
    process.waitForFinished(kTestDeadlineMs);
    return false;
}

// Waits for a forked or spawned child: its raw wait status once it has ended, -1 when it could not be
// waited for (not our child) or did not end within `deadlineMs` (then it is killed and reaped).
inline int WaitForChild(pid_t pid, int deadlineMs = kTestDeadlineMs)
{
    int status = 0;
    bool lost = false;
    const bool ended = WaitUntil(
        [&] {
            const pid_t r = ::waitpid(pid, &status, WNOHANG);
            if (r < 0 && errno != EINTR) lost = true;
            return r == pid || lost;
        },
        deadlineMs);
    if (ended && !lost) return status;
    if (!lost) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    return -1;
}

// A helper thread that never outlives its test. Join() waits for its work to end (the work needs a
// deadline of its own). When an assertion returns early instead, the destructor first calls `unblock`,
// which must make the work end at once (shut down the descriptor it reads, set its stop flag), then
// joins: a std::thread left joinable would end the whole test program with std::terminate.
class TestThread {
public:
    explicit TestThread(std::function<void()> work, std::function<void()> unblock = {})
        : FUnblock(std::move(unblock)), FThread(std::move(work))
    {
    }
    TestThread(const TestThread&) = delete;
    TestThread& operator=(const TestThread&) = delete;
    ~TestThread() { StopAndJoin(); }

    void Join()
    {
        if (FThread.joinable()) FThread.join();
    }
    // Makes the work end now, then joins.
    void StopAndJoin()
    {
        if (!FThread.joinable()) return;
        if (FUnblock) FUnblock();
        FThread.join();
    }

private:
    std::function<void()> FUnblock;
    std::thread FThread;
};
