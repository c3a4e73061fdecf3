#include "sockets/tests/SocketTestSupport.h"

#include "sockets/NetSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QProcess>
#include <cstdio>
#include <fstream>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QThread>

#include <atomic>
#include <thread>

std::string B(std::initializer_list<int> bytes)
{
    std::string s;
    for (int b : bytes)
        s += static_cast<char>(b);
    return s;
}

void EnsureApp()
{
    static int argc = 1;
    static char name[] = "sockets_tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);  // lives for the whole run
}

TestListener::TestListener()
{
    FFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(FFd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(FFd, 8);
    socklen_t len = sizeof a;
    ::getsockname(FFd, reinterpret_cast<sockaddr*>(&a), &len);
    FPort = ntohs(a.sin_port);
}

TestListener::~TestListener()
{
    if (FFd >= 0)
        ::close(FFd);
}

int TestListener::Accept(int timeoutMs)
{
    pollfd p{FFd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0)
        return -1;
    return ::accept4(FFd, nullptr, nullptr, SOCK_CLOEXEC);
}

uint16_t UnusedPort()
{
    TestListener l;
    return l.Port();  // closed again at once: nothing listens there now
}

std::string ReadN(int fd, size_t n, int timeoutMs)
{
    std::string out;
    QElapsedTimer t;
    t.start();
    char buf[65536];
    while (out.size() < n && t.elapsed() < timeoutMs) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const ssize_t r = ::read(fd, buf, std::min(sizeof buf, n - out.size()));
        if (r < 0 && errno == EIO) {  // a pseudo-terminal whose far end is not open (yet)
            QThread::msleep(10);
            continue;
        }
        if (r <= 0)
            break;
        out.append(buf, static_cast<size_t>(r));
    }
    return out;
}

std::string ReadToEof(int fd, int timeoutMs, bool* eof)
{
    std::string out;
    QElapsedTimer t;
    t.start();
    char buf[65536];
    if (eof)
        *eof = false;
    while (t.elapsed() < timeoutMs) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const ssize_t r = ::read(fd, buf, sizeof buf);
        if (r == 0) {
            if (eof)
                *eof = true;
            break;
        }
        if (r < 0)
            break;
        out.append(buf, static_cast<size_t>(r));
    }
    return out;
}

bool WriteAll(int fd, const std::string& data)
{
    size_t off = 0;
    while (off < data.size()) {
        const ssize_t n = ::send(fd, data.data() + off, data.size() - off, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        off += static_cast<size_t>(n);
    }
    return true;
}

void ResetClose(int fd)
{
    linger l{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::close(fd);
}

std::string FindProgram(const std::string& name)
{
    for (const char* dir : {"/usr/bin/", "/usr/sbin/", "/bin/", "/sbin/", "/usr/local/bin/"}) {
        const std::string p = std::string(dir) + name;
        if (::access(p.c_str(), X_OK) == 0)
            return p;
    }
    return {};
}

namespace {
std::string Pumping(const std::function<std::string()>& read)
{
    // The read has its own deadline: the thread always ends, and the loop runs until it has.
    std::string out;
    std::atomic<bool> done{false};
    TestThread reader([&] {
        out = read();
        done = true;
    });
    WaitUntil([&] { return done.load(); }, 10 * kTestDeadlineMs);
    reader.Join();
    return out;
}
} // namespace

std::string ReadNPumping(int fd, size_t n, int timeoutMs)
{
    return Pumping([=] { return ReadN(fd, n, timeoutMs); });
}

std::string ReadToEofPumping(int fd, int timeoutMs, bool* eof)
{
    return Pumping([=] { return ReadToEof(fd, timeoutMs, eof); });
}

int ConnectToListener(TNetSocket& s, TestListener& l)
{
    s.SetAddr("127.0.0.1");
    s.SetPort(l.PortText());
    s.Connect();
    const int peer = l.Accept();
    WaitUntil([&] { return s.State() == wsConnected; });
    return peer;
}

bool IsListening(uint16_t port)
{
    char want[32];
    std::snprintf(want, sizeof want, "0100007F:%04X", port);
    std::ifstream in("/proc/net/tcp");
    std::string line;
    while (std::getline(in, line))
        if (line.find(want) != std::string::npos && line.find(" 0A ") != std::string::npos)
            return true;
    return false;
}

void StopProcess(QProcess& p)
{
    if (p.state() == QProcess::NotRunning)
        return;
    p.terminate();
    if (!p.waitForFinished(kTestDeadlineMs))
        p.kill();
    p.waitForFinished(kTestDeadlineMs);
}
