#include "station/link/ComPort.h"

#include "station/link/LinkText.h"
#include "station/link/PortLock.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSerialPort>
#include <QSerialPortInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <pthread.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

// Counts the port's own event handlers that run, so that a handler may end the link safely.
struct EventScope {
    explicit EventScope(int& depth) : Depth(depth) { ++Depth; }
    ~EventScope() { --Depth; }
    int& Depth;
};

}  // namespace

TComPort::TComPort(QObject* owner) : QObject(owner), Serial(new QSerialPort(this))
{
    QObject::connect(Serial, &QSerialPort::readyRead, this, [this] { DataArrived(); });
    QObject::connect(Serial, &QSerialPort::errorOccurred, this,
                     [this](QSerialPort::SerialPortError e) { DeviceError(int(e)); });
}

TComPort::~TComPort()
{
    OnRxBuf = nullptr;
    OnRxChar = nullptr;
    OnAfterOpen = nullptr;
    OnAfterClose = nullptr;
    if (Serial->isOpen()) Serial->close();
    ReleaseLine();
}

void TComPort::Destroy(TComPort* port)
{
    if (!port) return;
    if (port->EventDepth > 0) {
        // The running handler keeps its closure; nothing more is reported from this port.
        port->Dead = true;
        port->setParent(nullptr);
        port->deleteLater();
    } else {
        delete port;
    }
}

std::string TComPort::DevicePath(const std::string& portName)
{
    const std::string upper = linktext::Upper(portName);
    if (upper.size() > 3 && upper.compare(0, 3, "COM") == 0) {
        const int n = linktext::ToIntDef(upper.substr(3), 0);
        if (n > 0) return "/dev/ttyS" + std::to_string(n - 1);
    }
    if (portName.find('/') != std::string::npos) return portName;
    return "/dev/" + portName;
}

std::string TComPort::ResolvedDevicePath(const std::string& portName)
{
    const std::string path = DevicePath(portName);
    std::error_code ec;
    const std::filesystem::path device = std::filesystem::canonical(path, ec);
    return ec ? path : device.string();  // a device that is not there fails to open under its own name
}

void TComPort::EndUpdate()
{
    if (UpdateDepth > 0) --UpdateDepth;
    if (UpdateDepth == 0 && Serial->isOpen()) ApplySettings();
}

void TComPort::ApplySettings()
{
    if (!Serial->setBaudRate(BaudRate))
        throw EComPort("Unable to set the baud rate " + std::to_string(BaudRate) + " on " + Port);
    Serial->setDataBits(QSerialPort::DataBits(std::clamp(DataBits, 5, 8)));
    Serial->setStopBits(StopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
    static const QSerialPort::Parity parities[] = {QSerialPort::NoParity, QSerialPort::OddParity,
                                                   QSerialPort::EvenParity, QSerialPort::MarkParity,
                                                   QSerialPort::SpaceParity};
    Serial->setParity(parities[int(Parity.Bits)]);
    if (FlowControl.OutCTSFlow)
        Serial->setFlowControl(QSerialPort::HardwareControl);
    else if (FlowControl.XonXoffIn || FlowControl.XonXoffOut)
        Serial->setFlowControl(QSerialPort::SoftwareControl);
    else
        Serial->setFlowControl(QSerialPort::NoFlowControl);
    // A pseudo-terminal has no modem lines: these requests may fail and are ignored.
    if (!FlowControl.OutCTSFlow) SetRTS(FlowControl.ControlRTS);
    SetDTR(FlowControl.ControlDTR);
    ApplyParityCheck();
}

void TComPort::ApplyParityCheck()
{
    // Checked only where there is a parity bit to check; without one the line stays fully raw.
    const bool check = Parity.Check && Parity.Bits != TParityBits::None;
    termios tio{};
    const int fd = int(Serial->handle());
    Marking = false;
    if (fd < 0 || tcgetattr(fd, &tio) != 0) return;
    if (check) {
        tio.c_iflag |= INPCK | PARMRK;
        tio.c_iflag &= ~(IGNPAR | ISTRIP);
    } else {
        tio.c_iflag &= ~(INPCK | PARMRK);
    }
    if (tcsetattr(fd, TCSANOW, &tio) != 0) return;
    Marking = check;
    Marks.Replace = Parity.Replace;
    Marks.ReplaceChar = Parity.ReplaceChar;
}

std::string TComPort::Input(const char* data, size_t count)
{
    return Marking ? Marks.Decode(data, count) : std::string(data, count);
}

std::string TParityMarks::Decode(const char* data, size_t count)
{
    std::string in = Pending;
    Pending.clear();
    in.append(data, count);
    std::string out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        const char c = in[i];
        if (c != '\xFF') {
            out += c;
        } else if (i + 1 >= in.size() || (in[i + 1] == '\0' && i + 2 >= in.size())) {
            Pending = in.substr(i);  // the rest of the mark comes with the next read
            break;
        } else if (in[i + 1] == '\xFF') {
            out += c;
            ++i;
        } else if (in[i + 1] == '\0') {
            out += Replace ? ReplaceChar : in[i + 2];
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

std::string TComPort::RefusalText(const std::string& device, const std::string& reason, bool busy)
{
    const TPortLockHolder holder = FindPortLockHolder(device);
    if (holder.Pid) {
        HeldBy = holder.Pid;
        const std::string self = QFileInfo(QCoreApplication::applicationFilePath()).fileName().toStdString();
        const std::string who = holder.Program == self      ? "another station program"
                                : holder.Program.empty() ? "another program"
                                                         : holder.Program;
        return "Port " + Port + " is in use by " + who + " (process " + std::to_string(holder.Pid) + ")";
    }
    if (!busy) return "Unable to open port " + Port + ": " + reason;
    return "Unable to open port " + Port + ": " + reason +
           ", and no running program holds its lock: a program that ended without closing it left the line "
           "reserved for itself. Reconnecting the device, or restarting the program that offers the line, frees it "
           "(so does a run as root)";
}

void TComPort::Open()
{
    if (Serial->isOpen()) return;
    if (Port.empty()) throw EComPort("No port name given");
    // The lock is named after the device, and the line is this process's alone while it is open: no
    // other program that locks its lines reads a byte of the instrument's answers meant for this one.
    const std::string device = ResolvedDevicePath(Port);
    Serial->setPortName(QString::fromStdString(device));
    Marks.Reset();
    HeldBy = 0;
    ClaimLine(device);
    // The line is never left in exclusive mode (TIOCEXCL): a pseudo-terminal whose far end stays open keeps
    // that mode after its holder is killed, and then only root may open it. QSerialPort sets the mode as
    // it opens; it is cleared at once, the stop signals held back meanwhile, so that only the lock file
    // and the lock on the device keep other programs off, and both end with the process.
    sigset_t stops, previous;
    sigemptyset(&stops);
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) sigaddset(&stops, signal);
    pthread_sigmask(SIG_BLOCK, &stops, &previous);
    const bool opened = Serial->open(QIODevice::ReadWrite);
    if (opened) ::ioctl(int(Serial->handle()), TIOCNXCL);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (!opened) {
        ReleaseLine();
        throw EComPort(RefusalText(device, Serial->errorString().toStdString(), false));
    }
    try {
        ApplySettings();
    } catch (...) {
        Serial->close();
        ReleaseLine();
        throw;
    }
    Serial->clearError();
    EventScope scope(EventDepth);
    if (OnAfterOpen && !Dead) OnAfterOpen();
}

void TComPort::ClaimLine(const std::string& device)
{
    // Opened without waiting (no carrier needed) and without becoming the controlling terminal.
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        throw EComPort(RefusalText(device, std::strerror(error), error == EBUSY));
    }
    // What waited on the line before it was opened is nobody's answer (the unread end of a killed run's
    // session, when the far end of a pseudo-terminal stayed open). Dropped at once: an instrument that
    // speaks when the line opens does so after this, and the line stays open from here on.
    ::tcflush(fd, TCIFLUSH);
    // Held until the port closes or the process ends, whatever way it ends.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        const std::string refusal = RefusalText(device, {}, false);
        throw EComPort(HeldBy ? refusal : "Port " + Port + " is in use by another program (it holds the line's lock)");
    }
    Claim = fd;
}

void TComPort::ReleaseLine()
{
    if (Claim >= 0) ::close(Claim);
    Claim = -1;
}

void TComPort::Close()
{
    if (!Serial->isOpen()) {
        ReleaseLine();
        return;
    }
    // A line left in exclusive mode by an older run is given back too.
    ::ioctl(int(Serial->handle()), TIOCNXCL);
    Serial->close();
    ReleaseLine();
    EventScope scope(EventDepth);
    if (OnAfterClose && !Dead) OnAfterClose();
}

bool TComPort::Connected() const { return Serial->isOpen(); }

int TComPort::Write(const char* data, int count)
{
    if (!Serial->isOpen() || count <= 0) return 0;
    const qint64 n = Serial->write(data, count);
    // Out at once, so that the time-outs that follow a command count from the moment it left.
    Serial->flush();
    return n < 0 ? 0 : int(n);
}

int TComPort::Read(char* data, int count)
{
    if (!Serial->isOpen() || count <= 0) return 0;
    const qint64 n = Serial->read(data, count);
    if (n <= 0) return 0;
    // Decoding only shortens the bytes: they fit where they were read.
    const std::string in = Input(data, size_t(n));
    std::copy(in.begin(), in.end(), data);
    return int(in.size());
}

void TComPort::ClearBuffer(bool input, bool output)
{
    if (!Serial->isOpen()) return;
    if (input && output)
        Serial->clear(QSerialPort::AllDirections);
    else if (input)
        Serial->clear(QSerialPort::Input);
    else if (output)
        Serial->clear(QSerialPort::Output);
    if (input) Marks.Reset();
    Serial->clearError();
}

void TComPort::AbortAllAsync()
{
    // Nothing runs in the background: reception is event-driven on this thread.
}

void TComPort::SetBreak(bool on)
{
    if (Serial->isOpen() && Serial->isBreakEnabled() != on) Serial->setBreakEnabled(on);
    Serial->clearError();
}

void TComPort::SetDTR(bool on)
{
    if (Serial->isOpen()) Serial->setDataTerminalReady(on);
    Serial->clearError();
}

void TComPort::SetRTS(bool on)
{
    if (Serial->isOpen() && Serial->flowControl() != QSerialPort::HardwareControl)
        Serial->setRequestToSend(on);
    Serial->clearError();
}

void TComPort::DataArrived()
{
    if (Dead) return;
    EventScope scope(EventDepth);
    const qint64 available = Serial->bytesAvailable();
    if (available <= 0) return;
    if (OnRxBuf) {
        const QByteArray raw = Serial->readAll();
        const std::string data = Input(raw.constData(), size_t(raw.size()));
        if (!data.empty()) OnRxBuf(data.data(), int(data.size()));
    } else if (TriggerRxChar && OnRxChar) {
        OnRxChar(int(available));
    }
}

void TComPort::DeviceError(int error)
{
    const auto e = QSerialPort::SerialPortError(error);
    if (e != QSerialPort::ReadError && e != QSerialPort::ResourceError) return;
    // The device is gone (unplugged, far end of a pseudo-terminal closed): close once and report it.
    if (Serial->isOpen()) Close();
}

void EnumComPorts(std::vector<std::string>& list)
{
    list.clear();
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        list.push_back(info.portName().toStdString());
    std::sort(list.begin(), list.end());
}
