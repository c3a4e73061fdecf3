#include "sockets/NetSocketApi.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <netdb.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

struct ErrorText {
    int code;
    const char* text;
};

const ErrorText kErrorTexts[] = {
    {0, "No Error"},
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Protocol wrong type for socket"},
    {10042, "Protocol not available"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Address not available"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection on reset"},
    {10053, "Connection aborted"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references: can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network sub-system is unusable"},
    {10092, "WinSock DLL cannot support this application"},
    {10093, "WinSock not initialized"},
    {11001, "Host not found"},
    {11002, "Non-authoritative host not found"},
    {11003, "Non-recoverable error"},
    {11004, "No Data"},
};

thread_local int tLastError = 0;

// Loader state: the library counts as loaded between the first user and the last.
std::recursive_mutex& LoaderLock()
{
    static std::recursive_mutex m;
    return m;
}
bool gLoaded = false;
bool gLoaded2 = false;
bool gForced = false;
int gCount = 0;
uint8_t gReqVerLow = 1;
uint8_t gReqVerHigh = 1;
TWSAData gInfo;
std::map<std::string, void*> gSlots;

const char* const kLib1 = "wsock32.dll";
const char* const kLib2 = "ws2_32.dll";

// Exported entry points of the first library, by name.
const std::map<std::string, void*>& Exports1()
{
    static const std::map<std::string, void*> m = {
        {"WSAStartup", reinterpret_cast<void*>(&NetSocket_WSAStartup)},
        {"WSACleanup", reinterpret_cast<void*>(&NetSocket_WSACleanup)},
        {"WSASetLastError", reinterpret_cast<void*>(&NetSocket_WSASetLastError)},
        {"WSAGetLastError", reinterpret_cast<void*>(&NetSocket_WSAGetLastError)},
        {"socket", reinterpret_cast<void*>(&NetSocket_socket)},
        {"shutdown", reinterpret_cast<void*>(&NetSocket_shutdown)},
        {"setsockopt", reinterpret_cast<void*>(&NetSocket_setsockopt)},
        {"getsockopt", reinterpret_cast<void*>(&NetSocket_getsockopt)},
        {"sendto", reinterpret_cast<void*>(&NetSocket_sendto)},
        {"send", reinterpret_cast<void*>(&NetSocket_send)},
        {"recv", reinterpret_cast<void*>(&NetSocket_recv)},
        {"recvfrom", reinterpret_cast<void*>(&NetSocket_recvfrom)},
        {"listen", reinterpret_cast<void*>(&NetSocket_listen)},
        {"bind", reinterpret_cast<void*>(&NetSocket_bind)},
        {"connect", reinterpret_cast<void*>(&NetSocket_connect)},
        {"accept", reinterpret_cast<void*>(&NetSocket_accept)},
        {"closesocket", reinterpret_cast<void*>(&NetSocket_closesocket)},
        {"getsockname", reinterpret_cast<void*>(&NetSocket_getsockname)},
        {"getpeername", reinterpret_cast<void*>(&NetSocket_getpeername)},
        {"ioctlsocket", reinterpret_cast<void*>(&NetSocket_ioctlsocket)},
        {"gethostname", reinterpret_cast<void*>(&NetSocket_gethostname)},
        {"htons", reinterpret_cast<void*>(&NetSocket_htons)},
        {"ntohs", reinterpret_cast<void*>(&NetSocket_ntohs)},
        {"htonl", reinterpret_cast<void*>(&NetSocket_htonl)},
        {"ntohl", reinterpret_cast<void*>(&NetSocket_ntohl)},
    };
    return m;
}

const std::map<std::string, void*>& Exports2()
{
    static const std::map<std::string, void*> m = {
        {"WSAIoctl", reinterpret_cast<void*>(&NetSocket_WSAIoctlKeepAlive)},
    };
    return m;
}

void LoadLocked()
{
    if (gLoaded)
        return;
    TWSAData data;
    const int rc = NetSocket_WSAStartup(static_cast<uint16_t>((gReqVerHigh << 8) | gReqVerLow), &data);
    if (rc != 0)
        throw ESocketException(std::string("Winsock startup error ") + kLib1 + " - " + GetWindowsErr(rc));
    gInfo = data;
    gLoaded = true;
}

void UnloadLocked()
{
    if (gLoaded && gCount <= 0) {
        NetSocket_WSACleanup();
        gLoaded2 = false;
        gLoaded = false;
        gSlots.clear();
    }
    gForced = false;
}

int Fail()
{
    return NetSocketSetLastErrorFromErrno(), SOCKET_ERROR;
}

} // namespace

std::string NetSocketErrorDesc(int code)
{
    for (const auto& e : kErrorTexts)
        if (e.code == code)
            return e.text;
    return "Not a WinSock error";
}

std::string GetWinsockErr(int code)
{
    return NetSocketErrorDesc(code) + " (#" + std::to_string(code) + ")";
}

std::string GetWindowsErr(int code)
{
    return std::string(std::strerror(code)) + " (#" + std::to_string(code) + ")";
}

int ErrnoToWinsock(int err)
{
    switch (err) {
    case 0: return 0;
    case EINTR: return WSAEINTR;
    case EBADF: return WSAENOTSOCK;
    case EACCES: case EPERM: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE: case ENFILE: return WSAEMFILE;
#if EAGAIN != EWOULDBLOCK
    case EAGAIN:
#endif
    case EWOULDBLOCK: return WSAEWOULDBLOCK;
    case EINPROGRESS: return WSAEWOULDBLOCK; // a started connect reads "would block" as the caller expects
    case EALREADY: return WSAEALREADY;
    case ENOTSOCK: return WSAENOTSOCK;
    case EDESTADDRREQ: return WSAEDESTADDRREQ;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EPROTOTYPE: return WSAEPROTOTYPE;
    case ENOPROTOOPT: return WSAENOPROTOOPT;
    case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT: return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP: return WSAEOPNOTSUPP;
    case EPFNOSUPPORT: return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ENETRESET: return WSAENETRESET;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET: return WSAECONNRESET;
    case EPIPE: return WSAECONNRESET; // the peer is gone: what a broken connection reads as
    case ENOBUFS: case ENOMEM: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case ESHUTDOWN: return WSAESHUTDOWN;
    case ETOOMANYREFS: return WSAETOOMANYREFS;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case ELOOP: return WSAELOOP;
    case ENAMETOOLONG: return WSAENAMETOOLONG;
    case EHOSTDOWN: return WSAEHOSTDOWN;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    case ENOTEMPTY: return WSAENOTEMPTY;
    case EUSERS: return WSAEUSERS;
    case EDQUOT: return WSAEDQUOT;
    case ESTALE: return WSAESTALE;
    case EREMOTE: return WSAEREMOTE;
    default: return WSAEINVAL;
    }
}

int ResolverErrorToWinsock(int eaiError)
{
    switch (eaiError) {
    case 0: return 0;
    case EAI_NONAME: return WSAHOST_NOT_FOUND;
#ifdef EAI_NODATA
    case EAI_NODATA: return WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return WSANO_DATA;
#endif
    case EAI_AGAIN: return WSATRY_AGAIN;
    case EAI_SERVICE: return WSANO_DATA;
    case EAI_SYSTEM: return ErrnoToWinsock(errno);
    default: return WSANO_RECOVERY;
    }
}

int NetSocket_WSAGetLastError() { return tLastError; }
void NetSocket_WSASetLastError(int code) { tLastError = code; }
int NetSocketSetLastErrorFromErrno()
{
    tLastError = ErrnoToWinsock(errno);
    return tLastError;
}

void* NetSocketGetProc(const std::string& name)
{
    std::lock_guard<std::recursive_mutex> lock(LoaderLock());
    LoadLocked();
    if (name.empty())
        return nullptr;
    auto slot = gSlots.find(name);
    if (slot != gSlots.end())
        return slot->second;
    const auto& ex = Exports1();
    auto it = ex.find(name);
    if (it == ex.end())
        throw ESocketException("Procedure " + name + " not found in " + kLib1 + " - " + GetWindowsErr(ENOSYS));
    gSlots[name] = it->second;
    return it->second;
}

void* NetSocket2GetProc(const std::string& name)
{
    std::lock_guard<std::recursive_mutex> lock(LoaderLock());
    LoadLocked();
    gLoaded2 = true;
    if (name.empty())
        return nullptr;
    const auto& ex = Exports2();
    auto it = ex.find(name);
    if (it == ex.end())
        throw ESocketException("Procedure " + name + " not found in " + kLib2 + " - " + GetWindowsErr(ENOSYS));
    gSlots[std::string(kLib2) + ":" + name] = it->second;
    return it->second;
}

void NetSocketForceLoadWinsock()
{
    std::lock_guard<std::recursive_mutex> lock(LoaderLock());
    if (!gForced) {
        gForced = true;
        ++gCount;
        NetSocketGetProc("");
    }
}

void NetSocketCancelForceLoadWinsock()
{
    std::lock_guard<std::recursive_mutex> lock(LoaderLock());
    if (gForced) {
        gForced = false;
        --gCount;
        if (gCount <= 0)
            NetSocketUnloadWinsock();
    }
}

void NetSocketUnloadWinsock()
{
    std::lock_guard<std::recursive_mutex> lock(LoaderLock());
    UnloadLocked();
}

TWSAData WinsockInfo()
{
    std::lock_guard<std::recursive_mutex> lock(LoaderLock());
    NetSocketGetProc("");
    TWSAData copy = gInfo;
    if (gCount < 1)
        UnloadLocked();
    return copy;
}

int SafeNetSocketGCount()
{
    std::lock_guard<std::recursive_mutex> lock(LoaderLock());
    return gCount;
}

bool NetSocketLibraryLoaded()
{
    std::lock_guard<std::recursive_mutex> lock(LoaderLock());
    return gLoaded;
}

uint8_t NetSocketReqVerLow() { return gReqVerLow; }
uint8_t NetSocketReqVerHigh() { return gReqVerHigh; }

bool NetSocketSetReqVerLow(uint8_t v)
{
    std::lock_guard<std::recursive_mutex> lock(LoaderLock());
    if (gLoaded)
        return false;
    gReqVerLow = v;
    return true;
}

bool NetSocketSetReqVerHigh(uint8_t v)
{
    std::lock_guard<std::recursive_mutex> lock(LoaderLock());
    if (gLoaded)
        return false;
    gReqVerHigh = v;
    return true;
}

// A socket call binds its entry point, so the library counts as loaded from the first call on.
TNetSocketUse::TNetSocketUse()
{
    std::lock_guard<std::recursive_mutex> lock(LoaderLock());
    ++gCount;
    try {
        LoadLocked();
    } catch (...) {
        --gCount;
        throw;
    }
}
TNetSocketUse::~TNetSocketUse()
{
    std::lock_guard<std::recursive_mutex> lock(LoaderLock());
    --gCount;
}

// A new component starts the library: its requested version is fixed from then on.
void NetSocketAddUser()
{
    std::lock_guard<std::recursive_mutex> lock(LoaderLock());
    ++gCount;
    try {
        LoadLocked();
    } catch (...) {
        --gCount;
        throw;
    }
}

void NetSocketReleaseUser()
{
    std::lock_guard<std::recursive_mutex> lock(LoaderLock());
    --gCount;
    if (gCount <= 0)
        UnloadLocked();
}

int NetSocket_WSAStartup(uint16_t version, TWSAData* data)
{
    // Versions 1.1 up to 2.2 are served.
    const int major = version & 0xFF;
    const int minor = (version >> 8) & 0xFF;
    if (major < 1 || (major == 1 && minor < 1))
        return WSAVERNOTSUPPORTED;
    if (data) {
        *data = TWSAData();
        data->wVersion = version;
        data->wHighVersion = 0x0202;
        std::strncpy(data->szDescription, "POSIX sockets", sizeof(data->szDescription) - 1);
        std::strncpy(data->szSystemStatus, "Running", sizeof(data->szSystemStatus) - 1);
        data->iMaxSockets = 0xFFFF;
        data->iMaxUdpDg = 65467;
    }
    return 0;
}

int NetSocket_WSACleanup() { return 0; }

TSocket NetSocket_socket(int af, int type, int protocol)
{
    TNetSocketUse use;
    const int s = ::socket(af, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
    if (s < 0)
        return NetSocketSetLastErrorFromErrno(), INVALID_SOCKET;
    return s;
}

int NetSocket_shutdown(TSocket s, int how)
{
    TNetSocketUse use;
    return ::shutdown(s, how) == 0 ? 0 : Fail();
}

int NetSocket_setsockopt(TSocket s, int level, int optname, const void* optval, socklen_t optlen)
{
    TNetSocketUse use;
    return ::setsockopt(s, level, optname, optval, optlen) == 0 ? 0 : Fail();
}

int NetSocket_getsockopt(TSocket s, int level, int optname, void* optval, socklen_t* optlen)
{
    TNetSocketUse use;
    return ::getsockopt(s, level, optname, optval, optlen) == 0 ? 0 : Fail();
}

int NetSocket_sendto(TSocket s, const void* buf, int len, int flags, const sockaddr* to, socklen_t tolen)
{
    TNetSocketUse use;
    const ssize_t n = ::sendto(s, buf, len, flags | MSG_NOSIGNAL, to, tolen);
    return n < 0 ? Fail() : static_cast<int>(n);
}

int NetSocket_send(TSocket s, const void* buf, int len, int flags)
{
    TNetSocketUse use;
    const ssize_t n = ::send(s, buf, len, flags | MSG_NOSIGNAL);
    return n < 0 ? Fail() : static_cast<int>(n);
}

int NetSocket_recv(TSocket s, void* buf, int len, int flags)
{
    TNetSocketUse use;
    const ssize_t n = ::recv(s, buf, len, flags);
    return n < 0 ? Fail() : static_cast<int>(n);
}

int NetSocket_recvfrom(TSocket s, void* buf, int len, int flags, sockaddr* from, socklen_t* fromlen)
{
    TNetSocketUse use;
    const ssize_t n = ::recvfrom(s, buf, len, flags, from, fromlen);
    return n < 0 ? Fail() : static_cast<int>(n);
}

int NetSocket_listen(TSocket s, int backlog)
{
    TNetSocketUse use;
    return ::listen(s, backlog) == 0 ? 0 : Fail();
}

int NetSocket_bind(TSocket s, const sockaddr* addr, socklen_t len)
{
    TNetSocketUse use;
    return ::bind(s, addr, len) == 0 ? 0 : Fail();
}

int NetSocket_connect(TSocket s, const sockaddr* addr, socklen_t len)
{
    TNetSocketUse use;
    return ::connect(s, addr, len) == 0 ? 0 : Fail();
}

TSocket NetSocket_accept(TSocket s, sockaddr* addr, socklen_t* len)
{
    TNetSocketUse use;
    const int r = ::accept4(s, addr, len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (r < 0)
        return NetSocketSetLastErrorFromErrno(), INVALID_SOCKET;
    return r;
}

int NetSocket_closesocket(TSocket s)
{
    TNetSocketUse use;
    return ::close(s) == 0 ? 0 : Fail();
}

int NetSocket_getsockname(TSocket s, sockaddr* addr, socklen_t* len)
{
    TNetSocketUse use;
    return ::getsockname(s, addr, len) == 0 ? 0 : Fail();
}

int NetSocket_getpeername(TSocket s, sockaddr* addr, socklen_t* len)
{
    TNetSocketUse use;
    return ::getpeername(s, addr, len) == 0 ? 0 : Fail();
}

int NetSocket_ioctlsocket(TSocket s, long cmd, unsigned long* arg)
{
    TNetSocketUse use;
    if (cmd == static_cast<long>(FIONREAD)) {
        int n = 0;
        if (::ioctl(s, FIONREAD, &n) != 0)
            return Fail();
        *arg = static_cast<unsigned long>(n < 0 ? 0 : n);
        return 0;
    }
    if (cmd == static_cast<long>(FIONBIO)) {
        int flags = ::fcntl(s, F_GETFL);
        if (flags < 0)
            return Fail();
        flags = *arg ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
        return ::fcntl(s, F_SETFL, flags) == 0 ? 0 : Fail();
    }
    errno = EINVAL;
    return Fail();
}

int NetSocket_WSAIoctlKeepAlive(TSocket s, bool on, unsigned timeMs, unsigned intervalMs)
{
    TNetSocketUse use;
    const int enable = on ? 1 : 0;
    if (::setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, &enable, sizeof enable) != 0)
        return Fail();
    if (!on)
        return 0;
    // The kernel counts in whole seconds.
    const int idle = static_cast<int>(timeMs < 1000 ? 1 : timeMs / 1000);
    const int intvl = static_cast<int>(intervalMs < 1000 ? 1 : intervalMs / 1000);
    if (::setsockopt(s, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle) != 0)
        return Fail();
    if (::setsockopt(s, IPPROTO_TCP, TCP_KEEPINTVL, &intvl, sizeof intvl) != 0)
        return Fail();
    return 0;
}

int NetSocket_gethostname(char* name, int len)
{
    TNetSocketUse use;
    return ::gethostname(name, static_cast<size_t>(len)) == 0 ? 0 : Fail();
}

uint16_t NetSocket_htons(uint16_t v) { return htons(v); }
uint16_t NetSocket_ntohs(uint16_t v) { return ntohs(v); }
uint32_t NetSocket_htonl(uint32_t v) { return htonl(v); }
uint32_t NetSocket_ntohl(uint32_t v) { return ntohl(v); }

std::string NetSocket_inet_ntoa(in_addr a)
{
    char buf[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &a, buf, sizeof buf);
    return buf;
}

uint32_t NetSocket_inet_addr(const std::string& text)
{
    in_addr a{};
    if (::inet_pton(AF_INET, text.c_str(), &a) != 1)
        return INADDR_NONE;
    return a.s_addr;
}
