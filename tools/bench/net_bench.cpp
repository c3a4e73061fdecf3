// Benchmark of the socket library and the IP medium:
//  1. throughput of one loopback connection, send queue to receive handler, against a plain blocking
//     socket pair in the same run;
//  2. a download of many records from the instrument simulator over TCP: time per record.
// Usage: zelt-netbench [--megabytes N] [--records N]
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include "sockets/NetSocket.h"
#include "station/link/media/net/IPClient.h"
#include "tools/simulator/SimImage.h"
#include "tools/simulator/SimProcess.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

int ListenLoopback(uint16_t& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd, 4);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

// Plain blocking sockets: one thread writes, this one reads.
double PlainPair(size_t bytes)
{
    uint16_t port = 0;
    const int l = ListenLoopback(port);
    const int c = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
    const int s = ::accept(l, nullptr, nullptr);
    const std::string block(64 * 1024, 'p');
    const auto t0 = Clock::now();
    std::thread writer([&] {
        size_t sent = 0;
        while (sent < bytes) {
            const ssize_t n = ::send(c, block.data(), std::min(block.size(), bytes - sent), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += static_cast<size_t>(n);
        }
    });
    std::string buf(64 * 1024, '\0');
    size_t got = 0;
    while (got < bytes) {
        const ssize_t n = ::recv(s, buf.data(), buf.size(), 0);
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    const auto t1 = Clock::now();
    writer.join();
    ::close(c);
    ::close(s);
    ::close(l);
    return bytes / 1e6 / Seconds(t0, t1);
}

// Two components on the event loop: Send queues on one, OnDataAvailable receives on the other.
double ComponentPair(size_t bytes)
{
    TNetSocket server, receiver, sender;
    size_t got = 0;
    receiver.OnDataAvailable = [&](TCustomNetSocket* x, uint16_t) {
        char buf[65536];
        const int n = x->Receive(buf, sizeof buf);
        if (n > 0)
            got += static_cast<size_t>(n);
    };
    server.OnSessionAvailable = [&](TCustomNetSocket* x, uint16_t) { receiver.Dup(x->Accept()); };
    server.SetAddr("127.0.0.1");
    server.SetPort("0");
    server.Listen();
    sender.SetAddr("127.0.0.1");
    sender.SetPort(server.GetXPort());
    sender.Connect();
    while (sender.State() != wsConnected || receiver.State() != wsConnected)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const std::string block(64 * 1024, 'c');
    size_t queued = 0;
    const auto t0 = Clock::now();
    while (got < bytes) {
        // Keep about 1 MB queued, as a program feeding the socket from its own data would.
        while (queued < bytes && sender.BufferedByteCount() < 1024 * 1024) {
            const size_t n = std::min(block.size(), bytes - queued);
            sender.Send(block.data(), static_cast<int>(n));
            queued += n;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    const auto t1 = Clock::now();
    return bytes / 1e6 / Seconds(t0, t1);
}

// Walks every record of the simulator through the IP medium; seconds per record.
double Download(int records, int& read)
{
    QTemporaryDir dir;
    zsim::SimProcess sim;
    if (!sim.Start(zsim::SimProcess::DefaultProgram(), {"--tcp", "0", "--records", std::to_string(records)},
                   dir.path().toStdString() + "/sim.log"))
        return -1;
    TMediaIP m;
    std::string buffer;
    m.OnData = [&](TMedia*, const char* d, int n) { buffer.append(d, static_cast<size_t>(n)); };
    m.SetName("127.0.0.1:" + sim.Link());
    m.Open();
    while (!m.IsOpen())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    read = 0;
    const auto t0 = Clock::now();
    m.WriteText("aT");
    for (;;) {
        const size_t s = buffer.find('\x02');
        const size_t e = s == std::string::npos ? s : buffer.find('\x17', s);
        if (e == std::string::npos || buffer.size() < e + 3) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            continue;
        }
        const std::string frame = buffer.substr(s, e + 3 - s);
        buffer.erase(0, e + 3);
        if (frame[1] != '1')
            continue;  // the announce
        if (frame.compare(2, 2, "FF") == 0)
            break;
        ++read;
        m.WriteText("jT");
    }
    const auto t1 = Clock::now();
    m.Close();
    return read ? Seconds(t0, t1) / read : -1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    size_t megabytes = 256;
    int records = 5000;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--megabytes") == 0)
            megabytes = static_cast<size_t>(std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--records") == 0)
            records = std::atoi(argv[++i]);
    }
    const size_t bytes = megabytes * 1000 * 1000;
    const double plain = PlainPair(bytes);
    const double component = ComponentPair(bytes);
    std::printf("loopback throughput: plain blocking pair %.0f MB/s, component pair %.0f MB/s (%.0f%%)\n", plain,
                component, 100.0 * component / plain);
    int read = 0;
    const double perRecord = Download(records, read);
    if (perRecord < 0) {
        std::printf("download: the simulator could not be started\n");
        return 1;
    }
    std::printf("download over TCP: %d records, %.3f ms per record\n", read, perRecord * 1000);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak memory %.1f MB\n", usage.ru_maxrss / 1024.0);
    // Times are reported, not judged: a loaded machine must not fail a run.
    return read == records ? 0 : 1;
}
