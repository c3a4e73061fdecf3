#include "station/StopSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};
constexpr int kSignalCount = int(sizeof kStopSignals / sizeof kStopSignals[0]);
int gPipe[2] = {-1, -1};  // the handler's end is written from the signal handler only
// What each signal did before: put back after the first stop, and when the program no longer listens.
struct sigaction gInherited[kSignalCount];
bool gCaught[kSignalCount] = {};  // a handler of ours is installed for the signal
volatile sig_atomic_t gDecidedStatus = -1;  // the run's status once its outcome is said

void RestoreInherited()
{
    for (int i = 0; i < kSignalCount; ++i) {
        if (!gCaught[i]) continue;
        gCaught[i] = false;
        ::sigaction(kStopSignals[i], &gInherited[i], nullptr);
    }
}

}  // namespace

TStopSignals::TStopSignals(std::function<void(int)> stop) : FStop(std::move(stop))
{
    if (::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;  // then the system's action stays
    FNotifier = new QSocketNotifier(gPipe[0], QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, [this] { Deliver(); });
    for (int i = 0; i < kSignalCount; ++i) {
        struct sigaction action {};
        action.sa_handler = &TStopSignals::Caught;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        // A signal the caller chose to ignore (HUP under nohup, INT for a background job) stays
        // ignored: it was never meant to stop this program.
        if (::sigaction(kStopSignals[i], nullptr, &gInherited[i]) != 0 || gInherited[i].sa_handler == SIG_IGN)
            continue;
        gCaught[i] = ::sigaction(kStopSignals[i], &action, nullptr) == 0;
    }
}

void TStopSignals::EndWithOnStop(int status) { gDecidedStatus = status; }

TStopSignals::~TStopSignals()
{
    // Once the outcome is said the handlers stay to the end: the program's own teardown is no moment
    // for a stop to turn a kept download into a killed run.
    if (gDecidedStatus < 0) RestoreInherited();
    delete FNotifier;
    for (int& fd : gPipe) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

void TStopSignals::Caught(int signal)
{
    // Only what is safe in a signal handler, and errno as the interrupted code left it: the next
    // signal gets what the program inherited, the number goes to the event loop.
    if (gDecidedStatus >= 0) ::_exit(gDecidedStatus);
    const int savedErrno = errno;
    RestoreInherited();
    const unsigned char number = static_cast<unsigned char>(signal);
    const ssize_t written = ::write(gPipe[1], &number, 1);
    (void)written;
    errno = savedErrno;
}

void TStopSignals::Deliver()
{
    unsigned char number = 0;
    if (::read(gPipe[0], &number, 1) != 1 || !FStop) return;
    FNotifier->setEnabled(false);
    auto stop = std::move(FStop);
    FStop = nullptr;
    stop(number);
}
