#include "station/StopSignals.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};
int gPipe[2] = {-1, -1};  // the handler's end is written from the signal handler only

void Restore(int signal)
{
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
}

}  // namespace

TStopSignals::TStopSignals(std::function<void(int)> stop) : FStop(std::move(stop))
{
    if (::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;  // then the system's action stays
    FNotifier = new QSocketNotifier(gPipe[0], QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, [this] { Deliver(); });
    for (int signal : kStopSignals) {
        struct sigaction action {};
        action.sa_handler = &TStopSignals::Caught;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(signal, &action, nullptr);
    }
}

TStopSignals::~TStopSignals()
{
    for (int signal : kStopSignals) Restore(signal);
    delete FNotifier;
    for (int& fd : gPipe) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

void TStopSignals::Caught(int signal)
{
    // Only what is safe in a signal handler: the next signal gets the system's action, the number goes
    // to the event loop.
    for (int s : kStopSignals) Restore(s);
    const unsigned char number = static_cast<unsigned char>(signal);
    const ssize_t written = ::write(gPipe[1], &number, 1);
    (void)written;
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
