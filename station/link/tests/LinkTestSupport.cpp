#include "station/link/tests/LinkTestSupport.h"

#include "station/link/Media.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace linktest {

void EnsureApp()
{
    if (QCoreApplication::instance()) return;
    // Nothing of the user's own folders is read or written by the tests.
    static QTemporaryDir home;
    for (const char* var : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        setenv(var, (home.path().toStdString() + "/" + var).c_str(), 1);
    static int argc = 1;
    static char name[] = "link_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    (void)app;
}

Pty::Pty()
{
    EnsureApp();
    char name[256] = {0};
    if (openpty(&Master, &Slave, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
    SlaveName = name;
    // Raw on both sides: the bytes pass untouched.
    termios tio{};
    tcgetattr(Slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(Slave, TCSANOW, &tio);
    fcntl(Master, F_SETFL, fcntl(Master, F_GETFL) | O_NONBLOCK);
}

Pty::~Pty()
{
    CloseSlave();
    CloseMaster();
}

void Pty::CloseSlave()
{
    if (Slave >= 0) ::close(Slave);
    Slave = -1;
}

void Pty::CloseMaster()
{
    if (Master >= 0) ::close(Master);
    Master = -1;
}

void Pty::Write(const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(Master, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno != EAGAIN && errno != EINTR) throw std::runtime_error("pty write failed");
        if (n > 0) done += size_t(n);
    }
}

std::string Pty::ReadNow()
{
    std::string out;
    char buf[512];
    for (;;) {
        const ssize_t n = ::read(Master, buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, size_t(n));
    }
    return out;
}

std::string Pty::ReadBytes(size_t n, int ms)
{
    std::string out;
    WaitUntil([&] {
        out += ReadNow();
        return out.size() >= n;
    }, ms);
    return out;
}

static termios SlaveTermios(int master, const std::string& slaveName)
{
    termios tio{};
    // The master reports the slave's settings on Linux; open the slave by name when it does not.
    if (tcgetattr(master, &tio) != 0) {
        const int fd = ::open(slaveName.c_str(), O_RDWR | O_NOCTTY);
        if (fd >= 0) {
            tcgetattr(fd, &tio);
            ::close(fd);
        }
    }
    return tio;
}

int Pty::Speed() const
{
    const termios tio = SlaveTermios(Master, SlaveName);
    switch (cfgetospeed(&tio)) {
    case B300: return 300;
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    default: return -1;
    }
}

int Pty::StopBits() const { return (SlaveTermios(Master, SlaveName).c_cflag & CSTOPB) ? 2 : 1; }

void RecordingHost::SendToInstrument(const char* data, int count)
{
    Sent.append(data, size_t(count));
    if (Media) Media->Write(data, count);
    if (OnSend) OnSend(data, count);
}

bool RecordingHost::Logged(const std::string& line) const { return CountLogged(line) > 0; }

int RecordingHost::CountLogged(const std::string& line) const
{
    return int(std::count(Log.begin(), Log.end(), line));
}

std::string TempDir()
{
    static QTemporaryDir dir;
    static int n = 0;
    const std::string path = dir.path().toStdString() + "/t" + std::to_string(++n);
    ::mkdir(path.c_str(), 0700);
    return path;
}

}  // namespace linktest
