#pragma once
// Socket API binding of the socket library: error numbers and texts, the counted "loading" of the socket
// library and thin wrappers over the POSIX calls.
//
// Errors are reported with the classic socket-library numbers (10035 would block, 10061 refused, ...):
// every wrapper maps errno to that number and keeps it as the last socket error of the thread, so the
// numbers and texts users see are the same whatever the platform's errno values are.
#include <cstdint>
#include <stdexcept>
#include <string>

#include <netinet/in.h>
#include <sys/socket.h>

class ESocketException : public std::runtime_error {
public:
    explicit ESocketException(const std::string& msg) : std::runtime_error(msg) {}
};

using TSocket = int;
constexpr TSocket INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;

// Socket-library error numbers used by the component.
enum : int {
    WSAEINTR = 10004, WSAEBADF = 10009, WSAEACCES = 10013, WSAEFAULT = 10014, WSAEINVAL = 10022,
    WSAEMFILE = 10024, WSAEWOULDBLOCK = 10035, WSAEINPROGRESS = 10036, WSAEALREADY = 10037,
    WSAENOTSOCK = 10038, WSAEDESTADDRREQ = 10039, WSAEMSGSIZE = 10040, WSAEPROTOTYPE = 10041,
    WSAENOPROTOOPT = 10042, WSAEPROTONOSUPPORT = 10043, WSAESOCKTNOSUPPORT = 10044, WSAEOPNOTSUPP = 10045,
    WSAEPFNOSUPPORT = 10046, WSAEAFNOSUPPORT = 10047, WSAEADDRINUSE = 10048, WSAEADDRNOTAVAIL = 10049,
    WSAENETDOWN = 10050, WSAENETUNREACH = 10051, WSAENETRESET = 10052, WSAECONNABORTED = 10053,
    WSAECONNRESET = 10054, WSAENOBUFS = 10055, WSAEISCONN = 10056, WSAENOTCONN = 10057, WSAESHUTDOWN = 10058,
    WSAETOOMANYREFS = 10059, WSAETIMEDOUT = 10060, WSAECONNREFUSED = 10061, WSAELOOP = 10062,
    WSAENAMETOOLONG = 10063, WSAEHOSTDOWN = 10064, WSAEHOSTUNREACH = 10065, WSAENOTEMPTY = 10066,
    WSAEPROCLIM = 10067, WSAEUSERS = 10068, WSAEDQUOT = 10069, WSAESTALE = 10070, WSAEREMOTE = 10071,
    WSASYSNOTREADY = 10091, WSAVERNOTSUPPORTED = 10092, WSANOTINITIALISED = 10093,
    WSAHOST_NOT_FOUND = 11001, WSATRY_AGAIN = 11002, WSANO_RECOVERY = 11003, WSANO_DATA = 11004,
};

// Text of a socket error number ("Connection refused"; "No Error" for 0; "Not a WinSock error").
std::string NetSocketErrorDesc(int code);
// NetSocketErrorDesc(code) + " (#" + code + ")".
std::string GetWinsockErr(int code);
// The operating system's text for an errno value + " (#" + code + ")".
std::string GetWindowsErr(int code);

// errno (or a getaddrinfo EAI_ value through ResolverErrorToWinsock) to a socket-library number.
int ErrnoToWinsock(int err);
int ResolverErrorToWinsock(int eaiError);

// Last socket error of the calling thread, set by every wrapper that fails.
int NetSocket_WSAGetLastError();
void NetSocket_WSASetLastError(int code);
// Sets the thread's last socket error from errno and returns it.
int NetSocketSetLastErrorFromErrno();

// Start-up information record filled when the library is "loaded".
struct TWSAData {
    uint16_t wVersion = 0;
    uint16_t wHighVersion = 0;
    char szDescription[257] = {};
    char szSystemStatus[129] = {};
    uint16_t iMaxSockets = 0;
    uint16_t iMaxUdpDg = 0;
};

// Loading layer: the first user "loads and starts" the library with the requested version, the last one
// unloads it. Entry points are looked up by their export names; an unknown name fails as a missing
// procedure would.
void* NetSocketGetProc(const std::string& name);
void* NetSocket2GetProc(const std::string& name);
void NetSocketForceLoadWinsock();
void NetSocketCancelForceLoadWinsock();
void NetSocketUnloadWinsock();
TWSAData WinsockInfo();
int SafeNetSocketGCount();
bool NetSocketLibraryLoaded();
// Requested version; changing it while loaded throws (the caller reports it).
uint8_t NetSocketReqVerLow();
uint8_t NetSocketReqVerHigh();
bool NetSocketSetReqVerLow(uint8_t v);   // false when loaded
bool NetSocketSetReqVerHigh(uint8_t v);  // false when loaded

// Holds the user count for the length of a scope (wrappers, resolution functions).
class TNetSocketUse {
public:
    TNetSocketUse();
    ~TNetSocketUse();
    TNetSocketUse(const TNetSocketUse&) = delete;
    TNetSocketUse& operator=(const TNetSocketUse&) = delete;
};
// Component constructor/destructor side of the count; the release unloads at 0.
void NetSocketAddUser();
void NetSocketReleaseUser();

// Wrappers: POSIX semantics underneath, -1 / INVALID_SOCKET on failure with the last socket error set.
int NetSocket_WSAStartup(uint16_t version, TWSAData* data);
int NetSocket_WSACleanup();
TSocket NetSocket_socket(int af, int type, int protocol);
int NetSocket_shutdown(TSocket s, int how);
int NetSocket_setsockopt(TSocket s, int level, int optname, const void* optval, socklen_t optlen);
int NetSocket_getsockopt(TSocket s, int level, int optname, void* optval, socklen_t* optlen);
int NetSocket_sendto(TSocket s, const void* buf, int len, int flags, const sockaddr* to, socklen_t tolen);
int NetSocket_send(TSocket s, const void* buf, int len, int flags);
int NetSocket_recv(TSocket s, void* buf, int len, int flags);
int NetSocket_recvfrom(TSocket s, void* buf, int len, int flags, sockaddr* from, socklen_t* fromlen);
int NetSocket_listen(TSocket s, int backlog);
int NetSocket_bind(TSocket s, const sockaddr* addr, socklen_t len);
int NetSocket_connect(TSocket s, const sockaddr* addr, socklen_t len);
TSocket NetSocket_accept(TSocket s, sockaddr* addr, socklen_t* len);
int NetSocket_closesocket(TSocket s);
int NetSocket_getsockname(TSocket s, sockaddr* addr, socklen_t* len);
int NetSocket_getpeername(TSocket s, sockaddr* addr, socklen_t* len);
// FIONREAD / FIONBIO.
int NetSocket_ioctlsocket(TSocket s, long cmd, unsigned long* arg);
// Keep-alive values (on, time ms, interval ms) in place of the SIO_KEEPALIVE_VALS control request.
int NetSocket_WSAIoctlKeepAlive(TSocket s, bool on, unsigned timeMs, unsigned intervalMs);
int NetSocket_gethostname(char* name, int len);
uint16_t NetSocket_htons(uint16_t v);
uint16_t NetSocket_ntohs(uint16_t v);
uint32_t NetSocket_htonl(uint32_t v);
uint32_t NetSocket_ntohl(uint32_t v);
// Dotted text of an IPv4 address in network order.
std::string NetSocket_inet_ntoa(in_addr a);
// Network-order address of a dotted text; INADDR_NONE when invalid.
uint32_t NetSocket_inet_addr(const std::string& text);
