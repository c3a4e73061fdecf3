#include "sockets/NetSocketCore.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <linux/sockios.h>
#include <mutex>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEvent>
#include <QHostInfo>
#include <QSocketNotifier>
#include <QThread>

#include "sockets/NetSocketCloser.h"

namespace {

const QEvent::Type kNetSocketEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// Guards every component's send queue; a handler that sends again re-enters it on the same thread.
std::recursive_mutex& SendBufferLock()
{
    static std::recursive_mutex m;
    return m;
}

// Depth of message handling in progress: objects are only deleted at once when nothing of ours is on
// the stack, otherwise later from the event loop.
int gDispatchDepth = 0;

struct DispatchScope {
    DispatchScope() { ++gDispatchDepth; }
    ~DispatchScope() { --gDispatchDepth; }
};

void DisposeObject(QObject* o)
{
    if (!o)
        return;
    if (gDispatchDepth > 0 && QCoreApplication::instance())
        o->deleteLater();
    else
        delete o;
}

std::string Trim(const std::string& s)
{
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return {};
    const auto e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::string Lower(std::string s)
{
    for (auto& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Hex8(const void* p)
{
    char buf[20];
    std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)));
    return buf;
}

} // namespace

class TNetSocketEvent : public QEvent {
public:
    explicit TNetSocketEvent(const TNetMessage& m) : QEvent(kNetSocketEvent), Msg(m) {}
    TNetMessage Msg;
};

// Stands for the component's hidden notification window.
class TNetSocketWindow : public QObject {
public:
    explicit TNetSocketWindow(TCustomNetSocket* s) : FSocket(s) {}
    TCustomNetSocket* FSocket;

protected:
    bool event(QEvent* e) override
    {
        if (e->type() != kNetSocketEvent)
            return QObject::event(e);
        TCustomNetSocket* s = FSocket;
        if (!s)
            return true;
        auto& msg = static_cast<TNetSocketEvent*>(e)->Msg;
        if (msg.Msg == WM_NETSOCKET_RELEASE) {
            DispatchScope scope;
            delete s;
            return true;
        }
        s->DispatchMessage(msg);
        return true;
    }
};

// ---------------------------------------------------------------------------------------------------------

TCustomNetSocket::TCustomNetSocket()
{
    FHSocket = INVALID_SOCKET;
    AllocateSocketHWnd();
    if (!FWindow)
        throw ESocketException("Cannot create a hidden window for TNetSocket");
    MultiCastIpTTL = 1;
    ListenBacklog = 5;
    FBufferedByteCount = 0;
    AssignDefaultValue();
    KeepAliveOnOff = wsKeepAliveOnSystem;
    KeepAliveTime = 30000;
    KeepAliveInterval = 1000;
    try {
        NetSocketAddUser();
    } catch (...) {
        DeallocateSocketHWnd();
        throw;
    }
}

TCustomNetSocket::~TCustomNetSocket()
{
    FDestroying = true;
    try {
        CancelDnsLookup();
    } catch (...) {
    }
    if (FState != wsClosed) {
        try {
            InternalClose(true, 0);
        } catch (...) {
        }
    }
    ForgetHandle();
    NetSocketReleaseUser();
    DeleteBufferedData();
    DeallocateSocketHWnd();
}

// --- properties ------------------------------------------------------------------------------------------

bool TCustomNetSocket::SetRemoteText(std::string& field, bool& assigned, bool& resolved, const std::string& v,
                                     const char* what)
{
    if (v == field && assigned)
        return true;
    if (FState != wsClosed) {
        RaiseException(std::string("Cannot change ") + what + " if not closed");
        return false;
    }
    field = Trim(v);
    resolved = false;
    assigned = !field.empty();
    return true;
}

void TCustomNetSocket::SetAddr(const std::string& v)
{
    SetRemoteText(FAddrStr, FAddrAssigned, FAddrResolved, v, "Addr");
}

void TCustomNetSocket::SetRemotePort(const std::string& sPort)
{
    SetRemoteText(FPortStr, FPortAssigned, FPortResolved, sPort, "Port");
}

void TCustomNetSocket::SetProto(const std::string& sProto)
{
    SetRemoteText(FProtoStr, FProtoAssigned, FProtoResolved, sProto, "Proto");
}

void TCustomNetSocket::SetLocalAddr(const std::string& v)
{
    if (FState != wsClosed) {
        RaiseException("Cannot change LocalAddr if not closed");
        return;
    }
    FLocalAddr = v.empty() ? "0.0.0.0" : v;
}

void TCustomNetSocket::SetLocalPort(const std::string& v)
{
    if (FState != wsClosed) {
        RaiseException("Cannot change LocalPort if not closed");
        return;
    }
    FLocalPortStr = v;
    FLocalPortResolved = false;
}

void TCustomNetSocket::SetReqVerLow(uint8_t v)
{
    if (!NetSocketSetReqVerLow(v)) {
        NetSocket_WSASetLastError(WSAEINVAL);
        SocketError("SetReqVerLow: WinSock version can't be changed now");
    }
}

void TCustomNetSocket::SetReqVerHigh(uint8_t v)
{
    if (!NetSocketSetReqVerHigh(v)) {
        NetSocket_WSASetLastError(WSAEINVAL);
        SocketError("SetReqVerHigh: WinSock version can't be changed now");
    }
}

void TCustomNetSocket::SetSendFlags(TSocketSendFlags v)
{
    if (v != wsSendNormal && v != wsSendUrgent) {
        RaiseException("Invalid SendFlags");
        return;
    }
    FSendFlags = v;
}

std::string TCustomNetSocket::PeerAddr() { return GetPeerAddr(); }
std::string TCustomNetSocket::PeerPort() { return GetPeerPort(); }

// --- logging ---------------------------------------------------------------------------------------------

void TCustomNetSocket::SetNetLogger(TNetLogger* logger) { FNetLogger = logger; }

void TCustomNetSocket::DebugLog(TLogOption option, const std::string& msg)
{
    if (FNetLogger)
        FNetLogger->DoDebugLog(this, option, msg);
}

bool TCustomNetSocket::CheckLogOptions(TLogOption option)
{
    return FNetLogger && FNetLogger->LogOptions().Contains(option);
}

void TCustomNetSocket::TriggerDebugDisplay(const std::string& msg)
{
    if (OnDebugDisplay)
        OnDebugDisplay(this, msg);
}

// --- notification object ---------------------------------------------------------------------------------

void TCustomNetSocket::AllocateSocketHWnd()
{
    FWindow = new TNetSocketWindow(this);
}

void TCustomNetSocket::DeallocateSocketHWnd()
{
    if (!FWindow)
        return;
    FWindow->FSocket = nullptr;
    DisposeObject(FWindow);
    FWindow = nullptr;
}

bool TCustomNetSocket::PostMessageToSelf(unsigned msg, intptr_t wParam, intptr_t lParam)
{
    if (!FWindow)
        return false;
    TNetMessage m;
    m.Msg = msg;
    m.WParam = wParam;
    m.LParam = lParam;
    m.Generation = FGeneration;
    QCoreApplication::postEvent(FWindow, new TNetSocketEvent(m));
    return true;
}

void TCustomNetSocket::PostWriteEvent()
{
    PostMessageToSelf(WM_ASYNCSELECT, FHSocket, FD_WRITE);
}

void TCustomNetSocket::PostTestException()
{
    PostMessageToSelf(WM_TRIGGER_EXCEPTION);
}

void TCustomNetSocket::SelectEvents(uint16_t mask)
{
    FSelectEvent = mask;
    FReadHeld = false;
    if (FHSocket == INVALID_SOCKET || !FWindow)
        return;
    if (!FReadNotifier) {
        FReadNotifier = new QSocketNotifier(FHSocket, QSocketNotifier::Read, FWindow);
        QObject::connect(FReadNotifier, &QSocketNotifier::activated, FWindow, [this] { OnReadReady(); });
    }
    if (!FWriteNotifier) {
        FWriteNotifier = new QSocketNotifier(FHSocket, QSocketNotifier::Write, FWindow);
        QObject::connect(FWriteNotifier, &QSocketNotifier::activated, FWindow, [this] { OnWriteReady(); });
    }
    UpdateNotifiers();
}

void TCustomNetSocket::DeselectEvents()
{
    if (FReadNotifier)
        FReadNotifier->setEnabled(false);
    if (FWriteNotifier)
        FWriteNotifier->setEnabled(false);
}

void TCustomNetSocket::UpdateNotifiers()
{
    if (FHSocket == INVALID_SOCKET)
        return;
    const bool active = !FPaused;
    if (FReadNotifier) {
        const bool want = active && !FConnectPending && !FReadHeld && !FCloseReported &&
                          (FSelectEvent & (FD_READ | FD_ACCEPT | FD_CLOSE));
        if (FReadNotifier->isEnabled() != want)
            FReadNotifier->setEnabled(want);
    }
    if (FWriteNotifier) {
        const bool want = active && (FConnectPending || (FWritePending && (FSelectEvent & FD_WRITE)));
        if (FWriteNotifier->isEnabled() != want)
            FWriteNotifier->setEnabled(want);
    }
}

void TCustomNetSocket::ForgetHandle()
{
    if (FReadNotifier) {
        FReadNotifier->setEnabled(false);
        DisposeObject(FReadNotifier);
        FReadNotifier = nullptr;
    }
    if (FWriteNotifier) {
        FWriteNotifier->setEnabled(false);
        DisposeObject(FWriteNotifier);
        FWriteNotifier = nullptr;
    }
    FHSocket = INVALID_SOCKET;
    ++FGeneration;
    FBrokenError = 0;
    FReadHeld = false;
    FCloseReported = false;
    FConnectPending = false;
    FWritePending = false;
}

void TCustomNetSocket::OnReadReady()
{
    if (FHSocket == INVALID_SOCKET)
        return;
    if (FState == wsListening && FType == SOCK_STREAM) {
        FReadHeld = true;  // until Accept
        UpdateNotifiers();
        DeliverSelect(FD_ACCEPT, 0);
        return;
    }
    int avail = 0;
    ::ioctl(FHSocket, FIONREAD, &avail);
    pollfd p{FHSocket, static_cast<short>(POLLIN | POLLRDHUP), 0};
    ::poll(&p, 1, 0);
    const bool hup = (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0 && FType == SOCK_STREAM;
    uint16_t error = 0;
    if (p.revents & POLLERR) {
        int soerr = 0;
        socklen_t len = sizeof soerr;
        ::getsockopt(FHSocket, SOL_SOCKET, SO_ERROR, &soerr, &len);
        error = static_cast<uint16_t>(ErrnoToWinsock(soerr));
    }
    uint16_t bits = 0;
    if ((avail > 0 || (FType != SOCK_STREAM && (p.revents & POLLIN))) && (FSelectEvent & FD_READ))
        bits |= FD_READ;
    if (hup && (FSelectEvent & FD_CLOSE)) {
        bits |= FD_CLOSE;
        FCloseReported = true;
    }
    // A wake-up queued before someone else read the data finds nothing: stay armed, or the socket
    // would never report data again.
    if (!bits && avail == 0 && p.revents == 0)
        return;
    // Nothing to report until the next recv re-arms us.
    FReadHeld = true;
    UpdateNotifiers();
    if (bits)
        DeliverSelect(bits, (bits & FD_CLOSE) ? error : 0);
}

void TCustomNetSocket::OnWriteReady()
{
    if (FHSocket == INVALID_SOCKET)
        return;
    if (FConnectPending) {
        FConnectPending = false;
        int soerr = 0;
        socklen_t len = sizeof soerr;
        ::getsockopt(FHSocket, SOL_SOCKET, SO_ERROR, &soerr, &len);
        const uint16_t error = static_cast<uint16_t>(ErrnoToWinsock(soerr));
        UpdateNotifiers();
        // A connected socket can take data at once: the write event comes with the connect event.
        DeliverSelect(error ? FD_CONNECT : FD_CONNECT | FD_WRITE, error);
        return;
    }
    FWritePending = false;
    UpdateNotifiers();
    DeliverSelect(FD_WRITE, 0);
}

void TCustomNetSocket::DeliverSelect(uint16_t bits, uint16_t error)
{
    TNetMessage m;
    m.Msg = WM_ASYNCSELECT;
    m.WParam = FHSocket;
    m.LParam = static_cast<intptr_t>(bits) | (static_cast<intptr_t>(error) << 16);
    m.Generation = FGeneration;
    DispatchMessage(m);
}

void TCustomNetSocket::DispatchMessage(TNetMessage& msg)
{
    DispatchScope scope;
    auto alive = AliveToken();
    try {
        WndProc(msg);
    } catch (const std::exception& e) {
        if (!alive.expired())
            HandleBackGroundException(e);
    }
}

void TCustomNetSocket::WndProc(TNetMessage& msg)
{
    switch (msg.Msg) {
    case WM_ASYNCSELECT: {
        if (msg.WParam != FHSocket || msg.Generation != FGeneration || FPaused)
            return;
        const uint16_t bits = static_cast<uint16_t>(msg.LParam & 0xFFFF);
        const uint16_t error = static_cast<uint16_t>((msg.LParam >> 16) & 0xFFFF);
        if (CheckLogOptions(loNetSockDump)) {
            std::string line = "AsyncSelect CtrlSocket" + std::to_string(FHSocket) + ", " + std::to_string(bits);
            if (bits & FD_CONNECT) line += " FD_CONNECT";
            if (bits & FD_READ) line += " FD_READ";
            if (bits & FD_WRITE) line += " FD_WRITE";
            if (bits & FD_CLOSE) line += " FD_CLOSE";
            if (bits & FD_ACCEPT) line += " FD_ACCEPT";
            DebugLog(loNetSockDump, line);
        }
        auto alive = AliveToken();
        const uint64_t gen = FGeneration;
        // Later bits belong to the same connection only while it lasts.
        auto same = [&] { return !alive.expired() && FGeneration == gen; };
        if (bits & FD_CONNECT) Do_FD_CONNECT(error);
        if ((bits & FD_READ) && same()) Do_FD_READ(error);
        if ((bits & FD_WRITE) && same()) Do_FD_WRITE(error);
        if ((bits & FD_ACCEPT) && same()) Do_FD_ACCEPT(error);
        if ((bits & FD_CLOSE) && same()) Do_FD_CLOSE(error);
        return;
    }
    case WM_CLOSE_DELAYED:
        Close();
        return;
    case WM_TRIGGER_EXCEPTION:
        throw ESocketException("Test exception in NetSocket");
    default:
        return;
    }
}

// --- events ----------------------------------------------------------------------------------------------

void TCustomNetSocket::ChangeState(TSocketState newState)
{
    const TSocketState old = FState;
    FState = newState;
    if (old != newState)
        TriggerChangeState(old, newState);
}

void TCustomNetSocket::TriggerChangeState(TSocketState oldState, TSocketState newState)
{
    if (OnChangeState)
        OnChangeState(this, oldState, newState);
}

bool TCustomNetSocket::TriggerDataAvailable(uint16_t error)
{
    if (!OnDataAvailable)
        return false;
    OnDataAvailable(this, error);
    return true;
}

void TCustomNetSocket::TriggerSessionAvailable(uint16_t error)
{
    if (OnSessionAvailable)
        OnSessionAvailable(this, error);
}

void TCustomNetSocket::TriggerSessionConnectedSpecial(uint16_t error)
{
    TriggerSessionConnected(error);
}

void TCustomNetSocket::TriggerSessionConnected(uint16_t error)
{
    if (OnSessionConnected)
        OnSessionConnected(this, error);
}

void TCustomNetSocket::TriggerSessionClosed(uint16_t error)
{
    if (OnSessionClosed)
        OnSessionClosed(this, error);
}

void TCustomNetSocket::TriggerDataSent(uint16_t error)
{
    if (CheckLogOptions(loNetSockDump))
        DebugLog(loNetSockDump, Hex8(this) + " TriggerDataSent " + std::to_string(FHSocket));
    if (OnDataSent)
        OnDataSent(this, error);
}

void TCustomNetSocket::TriggerDNSLookupDone(uint16_t error)
{
    if (OnDnsLookupDone)
        OnDnsLookupDone(this, error);
}

void TCustomNetSocket::TriggerError()
{
    if (OnError)
        OnError(this);
}

void TCustomNetSocket::HandleBackGroundException(const std::exception& e)
{
    bool canClose = true;
    auto alive = AliveToken();
    if (OnBgException) {
        try {
            OnBgException(this, e, canClose);
        } catch (...) {
        }
    }
    if (canClose && !alive.expired()) {
        try {
            Abort();
        } catch (...) {
        }
    }
}

void TCustomNetSocket::RaiseException(const std::string& msg)
{
    if (OnError)
        TriggerError();
    else
        throw ESocketException(msg);
}

void TCustomNetSocket::SocketError(const std::string& operation)
{
    const int e = NetSocket_WSAGetLastError();
    const std::string line = NetSocketErrorDesc(e) + " (#" + std::to_string(e) + " in " + operation + ")";
    if (e == WSAECONNRESET || e == WSAENOTCONN) {
        if (FHSocket != INVALID_SOCKET) {
            const int fd = FHSocket;
            ForgetHandle();
            ::close(fd);
        }
        if (FState != wsClosed && !FCloseInvoked) {
            FCloseInvoked = true;
            TriggerSessionClosed(static_cast<uint16_t>(e));
        }
        ChangeState(wsClosed);
    }
    LastError = e;
    RaiseException(line);
}

// --- select events ---------------------------------------------------------------------------------------

void TCustomNetSocket::Do_FD_CONNECT(uint16_t error)
{
    if (FState == wsConnected)
        return;
    ChangeState(wsConnected);
    auto alive = AliveToken();
    TriggerSessionConnectedSpecial(error);
    if (alive.expired())
        return;
    if (error != 0 && FState != wsClosed)
        Close();
}

void TCustomNetSocket::Do_FD_READ(uint16_t error)
{
    auto alive = AliveToken();
    if (FState != wsConnected) {
        ChangeState(wsConnected);
        TriggerSessionConnectedSpecial(error);
        if (alive.expired() || FHSocket == INVALID_SOCKET)
            return;
    }
    ASyncReceive(error, ComponentOptions);
}

void TCustomNetSocket::Do_FD_WRITE(uint16_t error)
{
    TryToSend();
    if (FAllSent && FHSocket != INVALID_SOCKET)
        TriggerDataSent(error);
}

void TCustomNetSocket::Do_FD_ACCEPT(uint16_t error)
{
    TriggerSessionAvailable(error);
}

void TCustomNetSocket::Do_FD_CLOSE(uint16_t error)
{
    if (FState == wsConnecting || FHSocket == INVALID_SOCKET)
        return;
    // A break met by a send: the kernel gave its error to the send, not to this event.
    if (error == 0)
        error = static_cast<uint16_t>(FBrokenError);
    auto alive = AliveToken();
    const uint64_t gen = FGeneration;
    ASyncReceive(error, ComponentOptions.Without(nsoNoReceiveLoop));
    if (alive.expired() || gen != FGeneration)
        return;
    if (!FCloseInvoked) {
        FCloseInvoked = true;
        TriggerSessionClosed(error);
        if (alive.expired() || gen != FGeneration)
            return;
    }
    if (FState != wsClosed)
        Close();
}

void TCustomNetSocket::ASyncReceive(uint16_t error, TNetSocketOptions options)
{
    auto alive = AliveToken();
    const uint64_t gen = FGeneration;
    try {
        for (;;) {
            LastError = 0;
            const int before = FRecvSerial;
            const bool handled = TriggerDataAvailable(error);
            if (alive.expired() || gen != FGeneration)
                return;
            if (!handled) {
                char scratch[1024];
                const int n = DoRecv(scratch, sizeof scratch, 0);
                if (n < 0) {
                    const int e = NetSocket_WSAGetLastError();
                    LastError = e == WSAEWOULDBLOCK ? 0 : e;
                    if (e == WSAEWOULDBLOCK)
                        break;
                }
            }
            if (options.Contains(nsoNoReceiveLoop))
                break;
            if (LastError != 0) {
                if (LastError == -1)
                    LastError = 0;
                break;
            }
            // A pass that took nothing would only turn forever.
            if (FRecvSerial == before)
                break;
            if (FHSocket == INVALID_SOCKET)
                break;
            unsigned long waiting = 0;
            if (NetSocket_ioctlsocket(FHSocket, FIONREAD, &waiting) != 0) {
                LastError = NetSocket_WSAGetLastError();
                break;
            }
            if (waiting == 0)
                break;
        }
    } catch (...) {
        // Exceptions of a receive pass go nowhere: the loop just ends.
    }
}

// --- connect ---------------------------------------------------------------------------------------------

void TCustomNetSocket::AssignDefaultValue()
{
    std::memset(&Fsin, 0, sizeof Fsin);
    Fsin.sin_family = AF_INET;
    FProtoStr = std::string("tcp");
    FProtoAssigned = true;
    FProtoResolved = false;
    FProto = IPPROTO_TCP;
    FType = SOCK_STREAM;
    FAddrAssigned = false;
    FAddrResolved = false;
    FPortAssigned = false;
    FPortResolved = false;
    FLocalPortResolved = false;
    FLocalPortStr = std::string("0");  // (a literal assignment trips a GCC 12 -Wrestrict false alarm)
    FLocalAddr = std::string("0.0.0.0");
    LingerOnOff = wsLingerOn;
    LingerTimeout = 0;
    FHSocket = INVALID_SOCKET;
    FSelectEvent = 0;
    FState = wsClosed;
    FAllSent = true;
    FPaused = false;
    FReadCount = 0;
    FCloseInvoked = false;
    FlushTimeout = 60;
}

void TCustomNetSocket::Connect()
{
    if (FHSocket != INVALID_SOCKET && FState != wsClosed) {
        RaiseException("Connect: Socket already in use");
        return;
    }
    if (!FPortAssigned) {
        RaiseException("Connect: No Port Specified");
        return;
    }
    if (!FAddrAssigned) {
        RaiseException("Connect: No IP Address Specified");
        return;
    }
    if (!FProtoAssigned) {
        RaiseException("Connect: No Protocol Specified");
        return;
    }
    try {
        if (!FProtoResolved) {
            FProto = NetSocketResolveProto(FProtoStr);
            FType = FProto == IPPROTO_UDP ? SOCK_DGRAM : FProto == IPPROTO_TCP ? SOCK_STREAM : SOCK_RAW;
            FProtoResolved = true;
        }
        if (!FLocalPortResolved) {
            FLocalPortNum = NetSocketResolvePort(FLocalPortStr, FProtoStr);
            FLocalPortResolved = true;
        }
        ResolvePortAndAddr(FProtoStr);
    } catch (const std::exception& e) {
        RaiseException(std::string("connect: ") + e.what());
        return;
    }
    if (!CreateHandle("Connect (socket)") || !ReadBufferSizes())
        return;
    ChangeState(wsOpened);
    if (FState != wsOpened) {
        NetSocket_WSASetLastError(WSAEINVAL);
        SocketError("Connect (Invalid operation in OnChangeState)");
        return;
    }
    if (FType == SOCK_DGRAM) {
        BindSocket();
        if (MultiCast) {
            if (MultiCastIpTTL != 1) {
                const unsigned char ttl = static_cast<unsigned char>(MultiCastIpTTL);
                if (NetSocket_setsockopt(FHSocket, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) != 0) {
                    SocketError("setsockopt(IP_MULTICAST_TTL)");
                    return;
                }
            }
            if (FLocalAddr != "0.0.0.0") {
                in_addr ifaddr{};
                ifaddr.s_addr = NetSocketResolveHost(FLocalAddr);
                if (NetSocket_setsockopt(FHSocket, IPPROTO_IP, IP_MULTICAST_IF, &ifaddr, sizeof ifaddr) != 0) {
                    SocketError("setsockopt(IP_MULTICAST_IF)");
                    return;
                }
            }
        }
        if (Fsin.sin_addr.s_addr == INADDR_BROADCAST) {
            const int on = 1;
            if (NetSocket_setsockopt(FHSocket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
                SocketError("setsockopt(SO_BROADCAST)");
                return;
            }
        }
    } else {
        const int on = 1;
        if (NetSocket_setsockopt(FHSocket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
            SocketError("setsockopt(SO_REUSEADDR)");
            return;
        }
        if (ComponentOptions.Contains(nsoTcpNoDelay) &&
            NetSocket_setsockopt(FHSocket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) {
            SocketError("setsockopt(IPPROTO_TCP, TCP_NODELAY)");
            return;
        }
        SetLingerOption();
        SetKeepAliveOption();
        if (FLocalPortNum != 0 || FLocalAddr != "0.0.0.0")
            BindSocket();
    }
    if (FHSocket == INVALID_SOCKET)
        return;
    if (FType == SOCK_DGRAM) {
        SelectEvents(FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE);
        ChangeState(wsConnected);
        TriggerSessionConnectedSpecial(0);
        return;
    }
    if (CheckLogOptions(loNetSockInfo))
        DebugLog(loNetSockInfo, "TNetSocket will connect to " + NetSocket_inet_ntoa(Fsin.sin_addr) + ":" +
                                    std::to_string(ntohs(Fsin.sin_port)));
    const int rc = NetSocket_connect(FHSocket, reinterpret_cast<sockaddr*>(&Fsin), sizeof Fsin);
    const int e = rc == 0 ? 0 : NetSocket_WSAGetLastError();
    if (rc == 0 || e == WSAEWOULDBLOCK) {
        FConnectPending = true;
        SelectEvents(FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE);
        ChangeState(wsConnecting);
        return;
    }
    if (e == WSAECONNREFUSED || e == WSAENETUNREACH || e == WSAEHOSTUNREACH || e == WSAETIMEDOUT) {
        // Outcomes the kernel may know at once still arrive as the connect event, as with any other peer.
        SelectEvents(FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE);
        DeselectEvents();
        ChangeState(wsConnecting);
        PostMessageToSelf(WM_ASYNCSELECT, FHSocket, FD_CONNECT | (static_cast<intptr_t>(e) << 16));
        return;
    }
    LastError = e;
    SocketError("Connect");
}

void TCustomNetSocket::ResolvePortAndAddr(const std::string& portProto)
{
    if (!FPortResolved) {
        Fsin.sin_port = htons(NetSocketResolvePort(FPortStr, portProto));
        FPortResolved = true;
    }
    if (!FAddrResolved) {
        Fsin.sin_addr.s_addr = NetSocketResolveHost(FAddrStr);
        FAddrResolved = true;
    }
}

bool TCustomNetSocket::CreateHandle(const char* operation)
{
    DeleteBufferedData();
    FHSocket = NetSocket_socket(AF_INET, FType, FProto);
    if (FHSocket == INVALID_SOCKET) {
        SocketError(operation);
        return false;
    }
    ++FGeneration;
    FSentCount = 0;
    return true;
}

bool TCustomNetSocket::ReadBufferSizes()
{
    socklen_t optlen = sizeof FSocketSndBufSize;
    if (NetSocket_getsockopt(FHSocket, SOL_SOCKET, SO_SNDBUF, &FSocketSndBufSize, &optlen) != 0) {
        SocketError("getsockopt(SO_SNDBUF)");
        return false;
    }
    optlen = sizeof FSocketRcvBufSize;
    if (NetSocket_getsockopt(FHSocket, SOL_SOCKET, SO_RCVBUF, &FSocketRcvBufSize, &optlen) != 0) {
        SocketError("getsockopt(SO_RCVBUF)");
        return false;
    }
    return true;
}

void TCustomNetSocket::BindSocket()
{
    sockaddr_in local{};
    local.sin_family = AF_INET;
    try {
        local.sin_addr.s_addr = NetSocketResolveHost(FLocalAddr);
    } catch (const std::exception& e) {
        RaiseException(std::string("Bind socket failed - ") + e.what());
        return;
    }
    local.sin_port = htons(static_cast<uint16_t>(FLocalPortNum));
    if (NetSocket_bind(FHSocket, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        RaiseException("Bind socket failed - " + GetWinsockErr(NetSocket_WSAGetLastError()));
        return;
    }
    socklen_t len = sizeof local;
    if (NetSocket_getsockname(FHSocket, reinterpret_cast<sockaddr*>(&local), &len) != 0) {
        RaiseException("Winsock get socket name failed - " + GetWinsockErr(NetSocket_WSAGetLastError()));
        return;
    }
    FLocalPortNum = ntohs(local.sin_port);
    FLocalPortStr = std::to_string(FLocalPortNum);
}

void TCustomNetSocket::SetLingerOption()
{
    if (LingerOnOff == wsLingerNoSet)
        return;
    if (FHSocket == INVALID_SOCKET) {
        RaiseException("Cannot set linger option at this time");
        return;
    }
    // The kernel's linger is never switched on with a time: close() would then block the UI thread. The
    // component's own close sends what is queued and shuts down in the background (TNetSocketCloser),
    // which is what a linger time stands for.
    linger l{};
    l.l_onoff = 0;
    l.l_linger = 0;
    if (NetSocket_setsockopt(FHSocket, SOL_SOCKET, SO_LINGER, &l, sizeof l) != 0)
        SocketError("setsockopt(SO_LINGER)");
}

void TCustomNetSocket::SetKeepAliveOption()
{
    if (KeepAliveOnOff == wsKeepAliveOff)
        return;
    if (KeepAliveOnOff == wsKeepAliveOnSystem) {
        const int on = 1;
        if (NetSocket_setsockopt(FHSocket, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0)
            SocketError("setsockopt(SO_KEEPALIVE)");
        return;
    }
    if (NetSocket_WSAIoctlKeepAlive(FHSocket, true, static_cast<unsigned>(KeepAliveTime),
                                    static_cast<unsigned>(KeepAliveInterval)) != 0)
        SocketError("NetSocket_WSAIoctl(SIO_KEEPALIVE_VALS)");
}

// --- close -----------------------------------------------------------------------------------------------

void TCustomNetSocket::Close()
{
    InternalClose(true, 0);
}

void TCustomNetSocket::InternalClose(bool bShut, uint16_t error)
{
    if (FHSocket != INVALID_SOCKET && FState != wsClosed) {
        const int fd = FHSocket;
        const TSocketState was = FState;
        const int broken = FBrokenError;
        ForgetHandle();
        // A broken connection has nothing more to send, and the owner hears of the break.
        const bool graceful = bShut && FType == SOCK_STREAM && broken == 0 &&
                              (was == wsConnected || was == wsSocksConnected);
        if (error == 0)
            error = static_cast<uint16_t>(broken);
        if (graceful) {
            // Sends what is still queued, then shuts down and closes, all in the background.
            TSendChunks rest;
            {
                std::lock_guard<std::recursive_mutex> lock(SendBufferLock());
                rest.swap(FBufList);
                FBufferedByteCount = 0;
            }
            const int seconds = (LingerOnOff == wsLingerOn && LingerTimeout > 0) ? LingerTimeout : 30;
            TNetSocketCloser::Start(fd, std::move(rest), seconds);
        } else if (NetSocket_closesocket(fd) != 0) {
            const int e = NetSocket_WSAGetLastError();
            if (e != WSANOTINITIALISED) {
                SocketError("Disconnect (closesocket)");
                return;
            }
        }
        auto alive = AliveToken();
        ChangeState(wsClosed);
        if (alive.expired())
            return;
        if (!FDestroying && !FCloseInvoked) {
            FCloseInvoked = true;
            TriggerSessionClosed(error);
            if (alive.expired())
                return;
        }
        // A handler that connected again keeps its new settings.
        if (FState == wsClosed && FHSocket == INVALID_SOCKET) {
            try {
                AssignDefaultValue();
            } catch (...) {
            }
        }
    } else if (FState != wsClosed) {
        ChangeState(wsClosed);
        try {
            AssignDefaultValue();
        } catch (...) {
        }
    }
}

void TCustomNetSocket::Abort()
{
    InternalAbort(0);
}

void TCustomNetSocket::InternalAbort(uint16_t error)
{
    CancelDnsLookup();
    DeleteBufferedData();
    if (FHSocket != INVALID_SOCKET && FState == wsConnected && FProto == IPPROTO_TCP) {
        LingerOnOff = wsLingerOff;
        SetLingerOption();
    }
    InternalClose(false, error);
}

void TCustomNetSocket::CloseDelayed()
{
    PostMessageToSelf(WM_CLOSE_DELAYED);
}

void TCustomNetSocket::Release()
{
    if (!PostMessageToSelf(WM_NETSOCKET_RELEASE))
        delete this;
}

void TCustomNetSocket::Shutdown(int how)
{
    if (CheckLogOptions(loNetSockInfo))
        DebugLog(loNetSockInfo, Hex8(this) + " TCustomNetSocket.Shutdown " + std::to_string(how) + " " +
                                    std::to_string(FHSocket));
    if (FHSocket != INVALID_SOCKET)
        NetSocket_shutdown(FHSocket, how);
}

void TCustomNetSocket::Pause()
{
    FPaused = true;
    DeselectEvents();
}

void TCustomNetSocket::Resume()
{
    FPaused = false;
    UpdateNotifiers();
}

// --- send ------------------------------------------------------------------------------------------------

void TCustomNetSocket::PutDataInSendBuffer(const void* data, int len)
{
    if (len <= 0 || !data)
        return;
    std::lock_guard<std::recursive_mutex> lock(SendBufferLock());
    if (FBufList.empty())
        FBufList.push_back(std::make_unique<TBuffer>(FBufSize));
    FBufferedByteCount += len;
    const char* p = static_cast<const char*>(data);
    int n = FBufList.back()->Write(p, len);
    while (n < len) {
        FBufList.push_back(std::make_unique<TBuffer>(FBufSize));
        n += FBufList.back()->Write(p + n, len - n);
    }
    FAllSent = false;
}

void TCustomNetSocket::DeleteBufferedData()
{
    std::lock_guard<std::recursive_mutex> lock(SendBufferLock());
    FBufList.clear();
    FBufferedByteCount = 0;
}

int TCustomNetSocket::Send(const void* data, int len)
{
    if (FState != wsConnected && FState != wsSocksConnected) {
        NetSocket_WSASetLastError(WSAENOTCONN);
        SocketError("Send");
        return -1;
    }
    {
        std::lock_guard<std::recursive_mutex> lock(SendBufferLock());
        FAllSent = false;
        if (len <= 0)
            len = 0;
        else
            PutDataInSendBuffer(data, len);
    }
    auto alive = AliveToken();
    TryToSend();
    if (alive.expired())
        return len;
    if (FAllSent)
        PostWriteEvent();
    return len;
}

int TCustomNetSocket::SendStr(const std::string& text)
{
    if (text.empty())
        return 0;
    return Send(text.data(), static_cast<int>(text.size()));
}

void TCustomNetSocket::TryToSend()
{
    std::lock_guard<std::recursive_mutex> lock(SendBufferLock());
    if (FHSocket == INVALID_SOCKET || FBufList.empty()) {
        FAllSent = true;
        return;
    }
    if (FBrokenError != 0)
        return;  // nothing more goes out; the close event is on its way
    auto alive = AliveToken();
    for (;;) {
        if (FBufList.empty()) {
            FAllSent = true;
            return;
        }
        TBuffer* first = FBufList.front().get();
        int len = 0;
        const char* p = first->Peek(len);
        if (len > 0) {
            // A stream takes several queued chunks in one write: one system call per chunk would cost
            // most of the throughput of a fast link.
            if (FType == SOCK_STREAM && FBufList.size() > 1 && len < kGatherSize) {
                size_t total = static_cast<size_t>(len);
                for (size_t i = 1; i < FBufList.size() && total < static_cast<size_t>(kGatherSize); ++i)
                    total += static_cast<size_t>(FBufList[i]->GetBufUsed());
                FGather.resize(total);
                size_t at = 0;
                for (size_t i = 0; i < FBufList.size() && at < total; ++i) {
                    int n = 0;
                    const char* q = FBufList[i]->Peek(n);
                    if (q) {
                        std::memcpy(FGather.data() + at, q, static_cast<size_t>(n));
                        at += static_cast<size_t>(n);
                    }
                }
                p = FGather.data();
                len = static_cast<int>(total);
            }
            const int count = RealSend(p, len);
            if (alive.expired())
                return;
            if (count > 0) {
                FBufferedByteCount -= count;
                if (FBufferedByteCount < 0)
                    FBufferedByteCount = 0;
                // Take what went from the front chunks; the last chunk stays for reuse.
                int rest = count;
                while (rest > 0 && !FBufList.empty()) {
                    rest -= FBufList.front()->Remove(rest);
                    if (FBufList.front()->GetBufUsed() == 0 && FBufList.size() > 1)
                        FBufList.pop_front();
                    else if (rest > 0 && FBufList.front()->GetBufUsed() == 0)
                        break;
                }
                if (count < len) {
                    // The socket is full: the kernel says when it can take more.
                    FWritePending = true;
                    UpdateNotifiers();
                    return;
                }
                continue;
            }
            if (count == 0)
                return;
            const int e = NetSocket_WSAGetLastError();
            if (e == WSAECONNRESET || e == WSAENOTSOCK || e == WSAENOTCONN || e == WSAEINVAL ||
                e == WSAECONNABORTED) {
                if (CheckLogOptions(loNetSockErr))
                    DebugLog(loNetSockErr, Name + " Winsock Send failed - " + GetWinsockErr(e));
                SendBroken(e);
                return;
            }
            if (e == WSAEWOULDBLOCK) {
                FWritePending = true;
                UpdateNotifiers();
                return;
            }
            SocketError("TryToSend failed");
            return;
        }
        if (FBufList.size() > 1) {
            FBufList.pop_front();
            continue;
        }
        FAllSent = true;
        return;
    }
}

void TCustomNetSocket::SendBroken(int error)
{
    // What the peer sent before it broke the connection is still in our kernel, readable until the
    // socket is closed. The owner reads it first, from the message loop (never from inside its own
    // Send), as from a close event; that event reports the break.
    if (FBrokenError == 0 && FType == SOCK_STREAM && WaitingByteCount() > 0) {
        FBrokenError = error;
        PostMessageToSelf(WM_ASYNCSELECT, FHSocket, FD_CLOSE | (static_cast<intptr_t>(error) << 16));
        return;
    }
    auto alive = AliveToken();
    const bool report = !FCloseInvoked;
    FCloseInvoked = true;
    // The owner hears of the break before the socket is closed: what the peer sent before it broke
    // the connection is still readable until then.
    if (report) {
        TriggerSessionClosed(static_cast<uint16_t>(error));
        if (alive.expired())
            return;
    }
    if (FState != wsClosed)
        Close();
}

int TCustomNetSocket::RealSend(const void* data, int len)
{
    int result;
    if (FType == SOCK_DGRAM)
        result = NetSocket_sendto(FHSocket, data, len, 0, reinterpret_cast<sockaddr*>(&Fsin), sizeof Fsin);
    else
        result = NetSocket_send(FHSocket, data, len, FSendFlags == wsSendUrgent ? MSG_OOB : 0);
    if (result > 0)
        FSentCount += result;
    if (result > 0 && OnSendData)
        OnSendData(this, result);
    return result;
}

int TCustomNetSocket::WaitingByteCount() const
{
    int n = 0;
    if (FHSocket == INVALID_SOCKET || ::ioctl(FHSocket, FIONREAD, &n) != 0)
        return 0;
    return n;
}

int64_t TCustomNetSocket::AcknowledgedByteCount() const
{
    // The kernel's count of bytes not yet acknowledged still holds after a reset has emptied its queue.
    int unacknowledged = 0;
    if (FHSocket == INVALID_SOCKET || FType != SOCK_STREAM || ::ioctl(FHSocket, SIOCOUTQ, &unacknowledged) != 0)
        return -1;
    return FSentCount - unacknowledged;
}

int TCustomNetSocket::SendTo(const sockaddr* dest, socklen_t destLen, const void* data, int len)
{
    const int result = NetSocket_sendto(FHSocket, data, len, FSendFlags == wsSendUrgent ? MSG_OOB : 0, dest,
                                        destLen);
    if (result > 0) {
        if (OnSendData)
            OnSendData(this, result);
        if (FType == SOCK_DGRAM && FBufList.empty())
            PostWriteEvent();
    }
    return result;
}

void TCustomNetSocket::Flush()
{
    while (FHSocket != INVALID_SOCKET && !FAllSent) {
        TryToSend();
        MessagePump();
    }
}

// --- receive ---------------------------------------------------------------------------------------------

int TCustomNetSocket::DoRecv(void* buffer, int len, int flags)
{
    if (FHSocket == INVALID_SOCKET) {
        NetSocket_WSASetLastError(WSAENOTSOCK);
        return -1;
    }
    const int n = NetSocket_recv(FHSocket, buffer, len, flags);
    if (!(flags & MSG_PEEK)) {
        ++FRecvSerial;
        FReadHeld = false;
        UpdateNotifiers();
    }
    return n;
}

int TCustomNetSocket::DoRecvFrom(void* buffer, int len, int flags, sockaddr* from, socklen_t* fromLen)
{
    if (FHSocket == INVALID_SOCKET) {
        NetSocket_WSASetLastError(WSAENOTSOCK);
        return -1;
    }
    const int n = NetSocket_recvfrom(FHSocket, buffer, len, flags, from, fromLen);
    ++FRecvSerial;
    FReadHeld = false;
    UpdateNotifiers();
    return n;
}

int TCustomNetSocket::Receive(void* buffer, int len)
{
    const int n = DoRecv(buffer, len, 0);
    ++FRecvSerial;
    if (n < 0)
        LastError = NetSocket_WSAGetLastError();
    else
        FReadCount += n;
    return n;
}

std::string TCustomNetSocket::ReceiveStr()
{
    int size = GetRcvdCount();
    if (size < 0)
        return {};
    if (size == 0)
        size = 255;
    std::string s(static_cast<size_t>(size), '\0');
    const int n = Receive(s.data(), size);
    if (n <= 0)
        return {};
    s.resize(static_cast<size_t>(n));
    return s;
}

int TCustomNetSocket::ReceiveFrom(void* buffer, int len, sockaddr* from, socklen_t* fromLen)
{
    const int n = DoRecvFrom(buffer, len, 0, from, fromLen);
    if (n < 0)
        LastError = NetSocket_WSAGetLastError();
    else
        FReadCount += n;
    return n;
}

int TCustomNetSocket::PeekData(void* buffer, int len)
{
    const int n = DoRecv(buffer, len, MSG_PEEK);
    if (n < 0)
        LastError = NetSocket_WSAGetLastError();
    return n;
}

int TCustomNetSocket::GetRcvdCount()
{
    if (FHSocket == INVALID_SOCKET)
        return 0;
    unsigned long n = 0;
    if (NetSocket_ioctlsocket(FHSocket, FIONREAD, &n) != 0) {
        SocketError("ioctlSocket");
        return -1;
    }
    return static_cast<int>(n);
}

// --- names -----------------------------------------------------------------------------------------------

std::string TCustomNetSocket::GetPeerAddr()
{
    if (FState != wsConnected)
        return "error";
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (NetSocket_getpeername(FHSocket, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        SocketError("GetPeerAddr");
        return "error";
    }
    return NetSocket_inet_ntoa(a.sin_addr);
}

std::string TCustomNetSocket::GetPeerPort()
{
    if (FState != wsConnected)
        return "error";
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (NetSocket_getpeername(FHSocket, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        SocketError("GetPeerPort");
        return "error";
    }
    return std::to_string(ntohs(a.sin_port));
}

int TCustomNetSocket::GetPeerName(sockaddr_in& name, socklen_t& nameLen)
{
    if (FState != wsConnected)
        return -1;
    nameLen = sizeof name;
    return NetSocket_getpeername(FHSocket, reinterpret_cast<sockaddr*>(&name), &nameLen);
}

int TCustomNetSocket::GetSockName(sockaddr_in& name, socklen_t& nameLen)
{
    nameLen = sizeof name;
    return NetSocket_getsockname(FHSocket, reinterpret_cast<sockaddr*>(&name), &nameLen);
}

std::string TCustomNetSocket::GetXPort()
{
    if (FState != wsBound && FState != wsConnected && FState != wsListening)
        return "error";
    sockaddr_in a{};
    socklen_t len = 0;
    if (GetSockName(a, len) != 0)
        return "error";
    return std::to_string(ntohs(a.sin_port));
}

std::string TCustomNetSocket::GetXAddr()
{
    if (FState != wsBound && FState != wsConnected && FState != wsListening)
        return "error";
    sockaddr_in a{};
    socklen_t len = 0;
    if (GetSockName(a, len) != 0)
        return "error";
    return NetSocket_inet_ntoa(a.sin_addr);
}

bool TCustomNetSocket::TimerCmp(const timeval& a, const timeval& b, bool equal) const
{
    const bool same = a.tv_sec == b.tv_sec && a.tv_usec == b.tv_usec;
    return equal ? same : !same;
}

// --- message pump ----------------------------------------------------------------------------------------

void TCustomNetSocket::MessagePump()
{
    if (MultiThreaded)
        ProcessMessages();
    else
        QCoreApplication::processEvents();
}

void TCustomNetSocket::ProcessMessages()
{
    QCoreApplication::processEvents();
    if (QThread::currentThread()->isInterruptionRequested())
        FTerminated = true;
}

void TCustomNetSocket::MessageLoop()
{
    while (!FTerminated && !QThread::currentThread()->isInterruptionRequested())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    FTerminated = true;
}

void TCustomNetSocket::WaitForClose()
{
    while (FHSocket != INVALID_SOCKET && FState != wsClosed) {
        MessagePump();
        if (FHSocket == INVALID_SOCKET)
            break;
        unsigned long waiting = 0;
        if (NetSocket_ioctlsocket(FHSocket, FIONREAD, &waiting) != 0)
            break;
        if (waiting > 0)
            TriggerDataAvailable(0);
        if (FHSocket == INVALID_SOCKET)
            break;
        char c;
        if (NetSocket_recv(FHSocket, &c, 0, 0) < 0 && NetSocket_WSAGetLastError() != WSAEWOULDBLOCK)
            break;
        QThread::msleep(1);
    }
}

void TCustomNetSocket::ThreadDetach()
{
    if (FWindow && FWindow->thread() != QThread::currentThread())
        throw ESocketException("Cannot detach from other thread");
    DeselectEvents();
    if (FReadNotifier) {
        DisposeObject(FReadNotifier);
        FReadNotifier = nullptr;
    }
    if (FWriteNotifier) {
        DisposeObject(FWriteNotifier);
        FWriteNotifier = nullptr;
    }
    DeallocateSocketHWnd();
}

void TCustomNetSocket::ThreadAttach()
{
    if (FWindow)
        throw ESocketException("Cannot attach when not detached");
    AllocateSocketHWnd();
    if (FHSocket != INVALID_SOCKET)
        SelectEvents(FSelectEvent);
}

// --- listen, accept, adopt -------------------------------------------------------------------------------

void TCustomNetSocket::Listen()
{
    if (!FPortAssigned) {
        NetSocket_WSASetLastError(WSAEINVAL);
        SocketError("listen: port not assigned");
        return;
    }
    if (!FProtoAssigned) {
        NetSocket_WSASetLastError(WSAEINVAL);
        SocketError("listen: protocol not assigned");
        return;
    }
    if (!FAddrAssigned) {
        NetSocket_WSASetLastError(WSAEINVAL);
        SocketError("listen: address not assigned");
        return;
    }
    try {
        if (!FProtoResolved) {
            if (Lower(FProtoStr.substr(0, 4)) == "raw_") {
                FType = SOCK_RAW;
                FProto = NetSocketResolveProto(FProtoStr.substr(4, 10));
            } else {
                FProto = NetSocketResolveProto(FProtoStr);
                FType = FProto == IPPROTO_UDP ? SOCK_DGRAM : SOCK_STREAM;
            }
            FProtoResolved = true;
        }
        ResolvePortAndAddr(FType == SOCK_RAW ? "" : FProtoStr);
    } catch (const std::exception& e) {
        RaiseException(std::string("Listen: ") + e.what());
        return;
    }
    if (!CreateHandle("socket"))
        return;
    auto failAndClose = [this](const char* op) {
        const int e = NetSocket_WSAGetLastError();
        const int fd = FHSocket;
        ForgetHandle();
        ::close(fd);
        NetSocket_WSASetLastError(e);
        SocketError(op);
    };
    const int on = 1;
    if (FType == SOCK_DGRAM && ReuseAddr &&
        NetSocket_setsockopt(FHSocket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
        failAndClose("setsockopt(SO_REUSEADDR)");
        return;
    }
    if (FType == SOCK_STREAM)  // a restarted server may bind again at once
        NetSocket_setsockopt(FHSocket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (NetSocket_bind(FHSocket, reinterpret_cast<sockaddr*>(&Fsin), sizeof Fsin) != 0) {
        failAndClose("Bind");
        return;
    }
    ChangeState(wsBound);
    if (FType == SOCK_STREAM) {
        if (NetSocket_listen(FHSocket, ListenBacklog) != 0) {
            failAndClose("Listen");
            return;
        }
        SelectEvents(FD_ACCEPT | FD_CLOSE);
        ChangeState(wsListening);
        return;
    }
    if (FType == SOCK_RAW && ComponentOptions.Contains(nsoSIO_RCVALL)) {
        // No receive-all switch on this platform: a raw socket already sees every packet of its protocol.
    }
    if (MultiCast) {
        ip_mreq mreq{};
        mreq.imr_multiaddr.s_addr = NetSocket_inet_addr(MultiCastAddrStr);
        mreq.imr_interface.s_addr = Fsin.sin_addr.s_addr;
        if (NetSocket_setsockopt(FHSocket, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof mreq) != 0) {
            SocketError("setsockopt(IP_ADD_MEMBERSHIP)");
            return;
        }
    }
    SelectEvents(FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE);
    ChangeState(wsListening);
    ChangeState(wsConnected);
    TriggerSessionConnectedSpecial(0);
}

TSocket TCustomNetSocket::Accept()
{
    if (FState != wsListening) {
        NetSocket_WSASetLastError(WSAEINVAL);
        SocketError("not a listening socket");
        return INVALID_SOCKET;
    }
    socklen_t len = sizeof Fsin;
    const TSocket s = NetSocket_accept(FHSocket, reinterpret_cast<sockaddr*>(&Fsin), &len);
    FReadHeld = false;
    UpdateNotifiers();
    if (s == INVALID_SOCKET) {
        SocketError("Accept");
        return INVALID_SOCKET;
    }
    return s;
}

void TCustomNetSocket::Dup(TSocket newHSocket)
{
    if (newHSocket == 0 || newHSocket == INVALID_SOCKET) {
        NetSocket_WSASetLastError(WSAEINVAL);
        SocketError("Dup");
        return;
    }
    if (FState != wsClosed) {
        const int fd = FHSocket;
        ForgetHandle();
        if (fd != INVALID_SOCKET && NetSocket_closesocket(fd) != 0) {
            SocketError("Dup (closesocket)");
            return;
        }
        ChangeState(wsClosed);
    }
    FHSocket = newHSocket;
    ++FGeneration;
    FSentCount = 0;
    FCloseInvoked = false;
    unsigned long nb = 1;
    NetSocket_ioctlsocket(FHSocket, FIONBIO, &nb);
    if (!ReadBufferSizes())
        return;
    SetLingerOption();
    SelectEvents(FD_READ | FD_WRITE | FD_CLOSE);
    DupConnected();
}

void TCustomNetSocket::DupConnected()
{
    ChangeState(wsConnected);
}

// --- asynchronous look-ups -------------------------------------------------------------------------------

void TCustomNetSocket::ClearLookup()
{
    if (FDnsLookupHandle != 0) {
        QHostInfo::abortHostLookup(FDnsLookupHandle);
        FDnsLookupHandle = 0;
    }
    FDnsResult.clear();
    FDnsResultList.clear();
}

void TCustomNetSocket::DnsLookup(const std::string& hostName)
{
    if (hostName.empty()) {
        RaiseException("DNS lookup: invalid host name.");
        TriggerDNSLookupDone(WSAEINVAL);
        return;
    }
    ClearLookup();
    if (NetSocketIsDottedIP(hostName)) {
        in_addr a{};
        a.s_addr = NetSocket_inet_addr(Trim(hostName));
        FDnsResult = NetSocket_inet_ntoa(a);
        FDnsResultList.push_back(FDnsResult);
        TriggerDNSLookupDone(0);
        return;
    }
    if (!FWindow) {
        RaiseException("DNS Lookup: Window not assigned");
        return;
    }
    TNetSocketWindow* w = FWindow;
    FDnsLookupHandle = QHostInfo::lookupHost(QString::fromStdString(hostName), w, [w](const QHostInfo& info) {
        if (!w->FSocket)
            return;
        std::vector<std::string> list;
        int error = 0;
        if (info.error() != QHostInfo::NoError) {
            error = WSAHOST_NOT_FOUND;
        } else {
            for (const auto& a : info.addresses())
                if (a.protocol() == QAbstractSocket::IPv4Protocol)
                    list.push_back(a.toString().toStdString());
            if (list.empty())
                error = WSANO_DATA;
        }
        w->FSocket->HostLookupDone(info.lookupId(), false, error, list);
    });
}

void TCustomNetSocket::ReverseDnsLookup(const std::string& hostAddr)
{
    if (hostAddr.empty() || hostAddr.size() > 256) {
        RaiseException("Reverse DNS Lookup: Invalid host name.");
        TriggerDNSLookupDone(WSAEINVAL);
        return;
    }
    ClearLookup();
    if (!FWindow) {
        RaiseException("Reverse DNS Lookup: Window not assigned");
        return;
    }
    TNetSocketWindow* w = FWindow;
    const std::string addr = Trim(hostAddr);
    FDnsLookupHandle = QHostInfo::lookupHost(QString::fromStdString(addr), w, [w, addr](const QHostInfo& info) {
        if (!w->FSocket)
            return;
        std::vector<std::string> list;
        int error = 0;
        const std::string name = info.hostName().toStdString();
        if (info.error() != QHostInfo::NoError || name.empty() || name == addr)
            error = WSAHOST_NOT_FOUND;
        else
            list.push_back(name);
        w->FSocket->HostLookupDone(info.lookupId(), true, error, list);
    });
}

void TCustomNetSocket::HostLookupDone(int id, bool, int error, const std::vector<std::string>& results)
{
    if (id != FDnsLookupHandle)
        return;
    FDnsLookupHandle = 0;
    if (error == 0) {
        FDnsResultList = results;
        FDnsResult = results.empty() ? std::string() : results.front();
    }
    DispatchScope scope;
    auto alive = AliveToken();
    try {
        TriggerDNSLookupDone(static_cast<uint16_t>(error));
    } catch (const std::exception& e) {
        if (!alive.expired())
            HandleBackGroundException(e);
    }
}

void TCustomNetSocket::ReverseDnsLookupSync(const std::string& hostAddr)
{
    if (hostAddr.empty() || hostAddr.size() > 256) {
        RaiseException("Reverse DNS Lookup: Invalid host name.");
        TriggerDNSLookupDone(WSAEINVAL);
        return;
    }
    ClearLookup();
    std::vector<std::string> list;
    int error = 0;
    try {
        list = NetSocketGetHostByAddr(hostAddr);
        if (list.empty())
            error = WSAHOST_NOT_FOUND;
    } catch (const std::exception&) {
        error = WSAHOST_NOT_FOUND;
    }
    if (error == 0) {
        FDnsResultList = list;
        FDnsResult = list.front();
    }
    TriggerDNSLookupDone(static_cast<uint16_t>(error));
}

void TCustomNetSocket::CancelDnsLookup()
{
    if (FDnsLookupHandle == 0)
        return;
    QHostInfo::abortHostLookup(FDnsLookupHandle);
    FDnsLookupHandle = 0;
    if (!FDestroying)
        TriggerDNSLookupDone(WSAEINTR);
}
