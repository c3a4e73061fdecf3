// Blocking name, port and protocol resolution of the socket library.
#include "sockets/NetSocketCore.h"

#include <arpa/inet.h>
#include <cctype>
#include <cstring>
#include <utility>
#include <netdb.h>
#include <unistd.h>

namespace {

std::string TrimBlanks(const std::string& s)
{
    const auto b = s.find_first_not_of(' ');
    if (b == std::string::npos)
        return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

std::vector<std::string> LookupIPv4(const std::string& name, int& error)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &res);
    std::vector<std::string> out;
    if (rc != 0) {
        error = ResolverErrorToWinsock(rc);
        return out;
    }
    for (addrinfo* p = res; p; p = p->ai_next) {
        const auto* sin = reinterpret_cast<const sockaddr_in*>(p->ai_addr);
        const std::string a = NetSocket_inet_ntoa(sin->sin_addr);
        bool seen = false;
        for (const auto& x : out)
            seen = seen || x == a;
        if (!seen)
            out.push_back(a);
    }
    ::freeaddrinfo(res);
    error = out.empty() ? WSANO_DATA : 0;
    return out;
}

} // namespace

bool NetSocketIsDottedIP(const std::string& s)
{
    const std::string t = TrimBlanks(s);
    if (t.empty())
        return false;
    int groups = 0;
    int value = -1;
    for (char c : t) {
        if (c == '.') {
            if (value < 0)
                return false;
            ++groups;
            if (groups > 3)
                return false;
            value = -1;
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            value = (value < 0 ? 0 : value) * 10 + (c - '0');
            if (value > 255)
                return false;
        } else {
            return false;
        }
    }
    return groups == 3 && value >= 0;
}

uint32_t NetSocketResolveHost(const std::string& host)
{
    TNetSocketUse use;
    if (host.empty() || host.size() > 256)
        throw ESocketException("Winsock Resolve Host: '" + host + "' Invalid Hostname.");
    if (NetSocketIsDottedIP(host)) {
        const std::string t = TrimBlanks(host);
        // Leading zeros are decimal here, as the dotted test read them.
        uint32_t parts[4] = {};
        std::sscanf(t.c_str(), "%u.%u.%u.%u", &parts[0], &parts[1], &parts[2], &parts[3]);
        const uint32_t a = htonl((parts[0] << 24) | (parts[1] << 16) | (parts[2] << 8) | parts[3]);
        if (a == INADDR_NONE && t != "255.255.255.255")
            throw ESocketException("Winsock Resolve Host: '" + host + "' Invalid IP address.");
        return a;
    }
    int error = 0;
    const auto list = LookupIPv4(host, error);
    if (list.empty())
        throw ESocketException("Winsock Resolve Host: Cannot convert host address '" + host + "' - " +
                               GetWinsockErr(error ? error : WSANO_DATA));
    return NetSocket_inet_addr(list.front());
}

namespace {
// The services a station's user names in an address ("host:telnet"), for a system without a services
// database (a container image or a minimal install has no /etc/services): the system's own table is
// asked first, this one only when it knows nothing.
uint16_t WellKnownTcpPort(const std::string& name, const std::string& proto)
{
    std::string lower = proto;
    for (auto& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!lower.empty() && lower != "tcp")
        return 0;
    static const std::pair<const char*, uint16_t> kServices[] = {
        {"ftp", 21}, {"ssh", 22},   {"telnet", 23},   {"smtp", 25},  {"http", 80},
        {"pop3", 110}, {"https", 443}, {"socks", 1080}, {"telnets", 992},
    };
    for (const auto& [service, number] : kServices)
        if (name == service)
            return number;
    return 0;
}
} // namespace

uint16_t NetSocketResolvePort(const std::string& port, const std::string& proto)
{
    TNetSocketUse use;
    if (port.empty() || port.size() >= 32)
        throw ESocketException("Winsock Resolve Port: Invalid Port.");
    if (proto.size() >= 32)
        throw ESocketException("Winsock Resolve Port: Invalid Proto.");
    size_t i = 0;
    while (i < port.size() && port[i] == ' ')
        ++i;
    if (i < port.size() && std::isdigit(static_cast<unsigned char>(port[i]))) {
        long v = 0;
        while (i < port.size() && std::isdigit(static_cast<unsigned char>(port[i]))) {
            v = v * 10 + (port[i] - '0');
            if (v > 65535)
                throw ESocketException("Winsock Resolve Port: Cannot convert port '" + port + "' - " +
                                       GetWinsockErr(WSAEINVAL));
            ++i;
        }
        return static_cast<uint16_t>(v);
    }
    const std::string name = TrimBlanks(port);
    const std::string p = TrimBlanks(proto);
    servent se{};
    servent* result = nullptr;
    char buf[1024];
    ::getservbyname_r(name.c_str(), p.empty() ? nullptr : p.c_str(), &se, buf, sizeof buf, &result);
    if (result)
        return ntohs(static_cast<uint16_t>(result->s_port));
    if (const uint16_t known = WellKnownTcpPort(name, p))
        return known;
    throw ESocketException("Winsock Resolve Port: Cannot convert port '" + port + "' - " +
                           GetWinsockErr(WSANO_DATA));
}

int NetSocketResolveProto(const std::string& proto)
{
    TNetSocketUse use;
    if (proto.empty() || proto.size() >= 32)
        throw ESocketException("Winsock Resolve Proto: Invalid Protocol.");
    if (std::isdigit(static_cast<unsigned char>(proto[0])))
        return std::atoi(proto.c_str());
    std::string name = TrimBlanks(proto);
    for (auto& c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name == "tcp")
        return IPPROTO_TCP;
    if (name == "udp")
        return IPPROTO_UDP;
    if (name == "raw")
        return IPPROTO_RAW;
    protoent pe{};
    protoent* result = nullptr;
    char buf[1024];
    ::getprotobyname_r(name.c_str(), &pe, buf, sizeof buf, &result);
    if (!result)
        throw ESocketException("Winsock Resolve Proto: Cannot convert protocol '" + name + "' - " +
                               GetWinsockErr(WSANO_DATA));
    return result->p_proto;
}

std::vector<std::string> NetSocketGetHostByName(const std::string& name)
{
    TNetSocketUse use;
    if (name.empty() || name.size() > 256)
        throw ESocketException("Winsock Get Host Name: Invalid Hostname.");
    int error = 0;
    auto list = LookupIPv4(name, error);
    NetSocket_WSASetLastError(error);
    return list;
}

std::vector<std::string> NetSocketGetHostByAddr(const std::string& address)
{
    TNetSocketUse use;
    if (address.empty() || address.size() > 256)
        throw ESocketException("Winsock Get Host Addr: Invalid address.");
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = NetSocket_inet_addr(TrimBlanks(address));
    char host[NI_MAXHOST] = {};
    const int rc = ::getnameinfo(reinterpret_cast<sockaddr*>(&sin), sizeof sin, host, sizeof host, nullptr, 0,
                                 NI_NAMEREQD);
    if (rc != 0) {
        NetSocket_WSASetLastError(ResolverErrorToWinsock(rc));
        return {};
    }
    return {host};
}

std::string NetSocketResolveIp(const std::string& address)
{
    const auto list = NetSocketGetHostByAddr(address);
    return list.empty() ? std::string() : list.front();
}

std::string LocalHostName()
{
    char name[64] = {};
    if (NetSocket_gethostname(name, sizeof name - 1) != 0)
        throw ESocketException("Winsock Get Host Name failed");
    return name;
}

const std::vector<std::string>& LocalIPList()
{
    static std::vector<std::string> list;
    list.clear();
    int error = 0;
    list = LookupIPv4(LocalHostName(), error);
    return list;
}
