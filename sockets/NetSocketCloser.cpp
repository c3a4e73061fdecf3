#include "sockets/NetSocketCloser.h"

#include <cerrno>
#include <set>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

namespace {

class Closer;
std::set<Closer*>& Live()
{
    static auto* s = new std::set<Closer*>();  // never freed: closers may outlive static destruction order
    return *s;
}

class Closer : public QObject {
public:
    Closer(int fd, TSendChunks pending, int timeoutSeconds) : FFd(fd), FPending(std::move(pending))
    {
        Live().insert(this);
        FTimerId = startTimer(timeoutSeconds * 1000);
        FRead = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        FWrite = new QSocketNotifier(fd, QSocketNotifier::Write, this);
        QObject::connect(FRead, &QSocketNotifier::activated, this, &Closer::Drain);
        QObject::connect(FWrite, &QSocketNotifier::activated, this, &Closer::SendRest);
        FRead->setEnabled(false);
        SendRest();  // what the socket takes at once; the rest from the event loop
    }
    ~Closer() override { Live().erase(this); }

protected:
    void timerEvent(QTimerEvent*) override { Finish(true); }

private:
    void SendRest()
    {
        while (!FPending.empty()) {
            int len = 0;
            const char* p = FPending.front()->Peek(len);
            if (!p) {
                FPending.pop_front();
                continue;
            }
            const ssize_t n = ::send(FFd, p, static_cast<size_t>(len), MSG_NOSIGNAL);
            if (n > 0) {
                FPending.front()->Remove(static_cast<int>(n));
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
                FWrite->setEnabled(true);
                return;
            }
            Finish(true);
            return;
        }
        FWrite->setEnabled(false);
        if (::shutdown(FFd, SHUT_WR) != 0) {
            Finish(false);
            return;
        }
        FRead->setEnabled(true);
        Drain();
    }

    void Drain()
    {
        char scratch[4096];
        for (;;) {
            const ssize_t n = ::recv(FFd, scratch, sizeof scratch, 0);
            if (n > 0)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
                return;
            Finish(false);  // end of stream or error: the peer is done
            return;
        }
    }

    void Finish(bool reset)
    {
        if (FFd < 0)
            return;
        FRead->setEnabled(false);
        FWrite->setEnabled(false);
        if (reset) {
            linger l{1, 0};
            ::setsockopt(FFd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        }
        ::close(FFd);
        FFd = -1;
        if (FTimerId)
            killTimer(FTimerId);
        FTimerId = 0;
        deleteLater();
    }

    int FFd;
    TSendChunks FPending;
    int FTimerId = 0;
    QSocketNotifier* FRead = nullptr;
    QSocketNotifier* FWrite = nullptr;
};

} // namespace

void TNetSocketCloser::Start(int fd, TSendChunks pending, int timeoutSeconds)
{
    if (!QCoreApplication::instance()) {
        // No event loop to finish in: send what the socket takes, shut down, close.
        for (auto& b : pending) {
            int len = 0;
            const char* p = b->Peek(len);
            if (p && ::send(fd, p, static_cast<size_t>(len), MSG_NOSIGNAL) != len)
                break;
        }
        ::shutdown(fd, SHUT_WR);
        ::close(fd);
        return;
    }
    new Closer(fd, std::move(pending), timeoutSeconds < 1 ? 1 : timeoutSeconds);
}

int TNetSocketCloser::Count()
{
    return static_cast<int>(Live().size());
}
