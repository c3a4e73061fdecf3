#include "sockets/SocksLayer.h"

#include <arpa/inet.h>
#include <cctype>
#include <cstring>
#include <typeinfo>

namespace {

std::string TrimText(const std::string& s)
{
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return {};
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

std::string Upper(std::string s)
{
    for (auto& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string Port16(uint16_t port)
{
    return {static_cast<char>(port >> 8), static_cast<char>(port & 0xFF)};
}

unsigned char U(const std::string& s, size_t i)
{
    return static_cast<unsigned char>(s[i]);
}

} // namespace

void TCustomSocksNetSocket::SetSocksLevel(const std::string& v)
{
    if (FState != wsClosed) {
        RaiseException("Can't change socks level if not closed");
        return;
    }
    const std::string level = Upper(TrimText(v));
    if (level != "4" && level != "4A" && level != "5") {
        RaiseException("Invalid socks level. Must be 4, 4A or 5.");
        return;
    }
    FSocksLevel = level;
}

void TCustomSocksNetSocket::SetSocksServer(const std::string& v)
{
    if (FState != wsClosed) {
        RaiseException("Can't change socks server if not closed");
        return;
    }
    FSocksServer = TrimText(v);
    FSocksServerAssigned = !FSocksServer.empty();
}

void TCustomSocksNetSocket::SetSocksPort(const std::string& v)
{
    if (FState != wsClosed) {
        RaiseException("Can't change socks port if not closed");
        return;
    }
    FSocksPortStr = TrimText(v);
    FSocksPortAssigned = !FSocksPortStr.empty();
}

void TCustomSocksNetSocket::AssignDefaultValue()
{
    TCustomNetSocket::AssignDefaultValue();
    FSocksState = socksData;
    FSocksServer.clear();
    FSocksServerAssigned = false;
    FSocksPortStr.clear();
    FSocksPortAssigned = false;
    FSocksLevel = "5";
    FRcvdData.clear();
    FRcvBuf.clear();
}

void TCustomSocksNetSocket::Connect()
{
    if (!FSocksServerAssigned) {
        TCustomNetSocket::Connect();
        return;
    }
    const std::string proto = Upper(TrimText(FProtoStr));
    if (proto != "TCP" && proto != "6") {
        RaiseException("TCP is the only protocol supported thru socks server");
        return;
    }
    // Every length goes out in one byte: longer texts cannot be sent and would corrupt the request.
    if (SocksAuthentication == socksAuthenticateUsercode &&
        (SocksUsercode.size() > 255 || SocksPassword.size() > 255)) {
        RaiseException("Connect: SOCKS user code and password are limited to 255 bytes");
        return;
    }
    if (FSocksLevel == "5" && FAddrStr.size() > 255) {
        RaiseException("Connect: SOCKS host name is limited to 255 bytes");
        return;
    }
    try {
        if (!FSocksPortAssigned)
            throw ESocketException("Winsock Resolve Port: Invalid Port.");
        Fsin.sin_port = htons(NetSocketResolvePort(FSocksPortStr, "tcp"));
        FPortResolved = true;
        Fsin.sin_addr.s_addr = NetSocketResolveHost(FSocksServer);
        FAddrResolved = true;
        if (!FPortAssigned)
            throw ESocketException("Winsock Resolve Port: Invalid Port.");
        FSocksDestPort = NetSocketResolvePort(FPortStr, "tcp");
    } catch (const std::exception& e) {
        RaiseException(std::string("Connect: ") + e.what());
        return;
    }
    FSocksState = socksNegociateMethods;
    FRcvBuf.clear();
    FRcvdData.clear();
    FBoundAddr.clear();
    FBoundPort.clear();
    TCustomNetSocket::Connect();
}

void TCustomSocksNetSocket::Listen()
{
    if (FSocksServerAssigned) {
        RaiseException("Listening is not supported thru socks server");
        return;
    }
    TCustomNetSocket::Listen();
}

void TCustomSocksNetSocket::TriggerSocksConnected(uint16_t error)
{
    if (OnSocksConnected)
        OnSocksConnected(this, error);
}

void TCustomSocksNetSocket::TriggerSocksError(int error, const std::string& msg)
{
    if (OnSocksError)
        OnSocksError(this, error, msg);
}

void TCustomSocksNetSocket::TriggerSocksAuthState(TSocksAuthState state)
{
    if (OnSocksAuthState)
        OnSocksAuthState(this, state);
}

void TCustomSocksNetSocket::SendNegotiation(const std::string& bytes)
{
    try {
        Send(bytes.data(), static_cast<int>(bytes.size()));
    } catch (...) {
        // The negotiation reports its failures through the replies.
    }
}

void TCustomSocksNetSocket::TriggerSessionConnectedSpecial(uint16_t error)
{
    if (FSocksState != socksNegociateMethods) {
        TCustomNetSocket::TriggerSessionConnectedSpecial(error);
        return;
    }
    auto alive = AliveToken();
    TriggerSocksConnected(error);
    if (alive.expired())
        return;
    if (error != 0) {
        FSocksState = socksData;
        TCustomNetSocket::TriggerSessionConnectedSpecial(error);
        return;
    }
    if (FSocksLevel[0] == '4') {
        SocksDoConnect();
    } else {
        FSocksAuthNumber = SocksAuthentication == socksAuthenticateUsercode ? 2 : 0;
        SendNegotiation({5, 1, static_cast<char>(FSocksAuthNumber)});
    }
}

void TCustomSocksNetSocket::SocksDoConnect()
{
    FSocksState = socksConnect;
    FRcvBuf.clear();
    if (FSocksLevel[0] == '4') {
        uint32_t ip = 0;
        if (FSocksLevel == "4A") {
            ip = htonl(1);  // 0.0.0.1: the proxy resolves the name
        } else {
            try {
                ip = NetSocketResolveHost(FAddrStr);
            } catch (const std::exception& e) {
                LastError = 20017;
                TriggerSocksError(20017, std::string("ESocketException ") + e.what());
                InternalClose(true, 20017);
                return;
            }
        }
        std::string req = {4, 1};
        req += Port16(FSocksDestPort);
        req.append(reinterpret_cast<const char*>(&ip), 4);
        req += SocksUsercode;
        req += '\0';
        if (FSocksLevel == "4A") {
            req += FAddrStr;
            req += '\0';
        }
        SendNegotiation(req);
        return;
    }
    std::string req = {5, 1, 0, 3, static_cast<char>(FAddrStr.size())};
    req += FAddrStr;
    req += Port16(FSocksDestPort);
    SendNegotiation(req);
}

void TCustomSocksNetSocket::SocksDoAuthenticate()
{
    FSocksState = socksAuthenticate;
    FRcvBuf.clear();
    auto alive = AliveToken();
    TriggerSocksAuthState(socksAuthStart);
    if (alive.expired())
        return;
    std::string req = {1, static_cast<char>(SocksUsercode.size())};
    req += SocksUsercode;
    req += static_cast<char>(SocksPassword.size());
    req += SocksPassword;
    SendNegotiation(req);
}

void TCustomSocksNetSocket::DataAvailableError(int code, const std::string& text)
{
    auto alive = AliveToken();
    TriggerSocksError(code, text);
    if (alive.expired())
        return;
    FSocksState = socksData;
    TCustomNetSocket::TriggerSessionConnectedSpecial(static_cast<uint16_t>(code));
    if (alive.expired())
        return;
    InternalClose(true, static_cast<uint16_t>(code));
}

void TCustomSocksNetSocket::NegotiationDone(size_t replyLength)
{
    FRcvdData = FRcvBuf.substr(replyLength);
    FRcvBuf.clear();
    FSocksState = socksData;
    auto alive = AliveToken();
    TCustomNetSocket::TriggerSessionConnectedSpecial(0);
    if (alive.expired() || FHSocket == INVALID_SOCKET)
        return;
    // The data path once: bytes that came with the reply are not left waiting for the next read.
    if (!FRcvdData.empty() || TCustomNetSocket::GetRcvdCount() > 0)
        TriggerDataAvailable(0);
}

bool TCustomSocksNetSocket::TriggerDataAvailable(uint16_t error)
{
    if (FSocksState == socksData)
        return TCustomNetSocket::TriggerDataAvailable(error);
    if (error != 0) {
        DataAvailableError(error, "data receive error");
        return true;
    }
    int waiting = TCustomNetSocket::GetRcvdCount();
    if (waiting <= 0)
        waiting = 1;
    std::string chunk(static_cast<size_t>(waiting), '\0');
    const int n = TCustomNetSocket::DoRecv(chunk.data(), waiting, 0);
    if (n <= 0)
        return true;
    FRcvBuf.append(chunk.data(), static_cast<size_t>(n));
    ProcessReply();
    return true;
}

void TCustomSocksNetSocket::ProcessReply()
{
    switch (FSocksState) {
    case socksNegociateMethods: {
        if (FSocksLevel[0] == '4') {
            DataAvailableError(20001, "TNetSocket logic error");
            return;
        }
        if (FRcvBuf.size() < 2)
            return;
        if (U(FRcvBuf, 0) != 5) {
            DataAvailableError(20002, "socks version error");
            return;
        }
        const unsigned char method = U(FRcvBuf, 1);
        if (method == 0) {
            if (FSocksAuthNumber == 2) {
                auto alive = AliveToken();
                TriggerSocksAuthState(socksAuthNotRequired);
                if (alive.expired())
                    return;
            }
            SocksDoConnect();
        } else if (method == 2) {
            SocksDoAuthenticate();
        } else {
            DataAvailableError(20003, "authentification method not acceptable");
        }
        return;
    }
    case socksAuthenticate: {
        if (U(FRcvBuf, 0) != 1) {
            DataAvailableError(20002, "socks version error");
            return;
        }
        if (FRcvBuf.size() < 2)
            return;  // the status byte is still on its way
        if (FRcvBuf.size() > 2) {
            DataAvailableError(20001, "too much data availaible");
            return;
        }
        if (U(FRcvBuf, 1) != 0) {
            DataAvailableError(20015, "socks authentication failed");
            return;
        }
        FRcvBuf.clear();
        auto alive = AliveToken();
        TriggerSocksAuthState(socksAuthSuccess);
        if (alive.expired())
            return;
        SocksDoConnect();
        return;
    }
    case socksConnect: {
        if (FSocksLevel[0] == '4') {
            if (FRcvBuf.size() < 8)
                return;
            if (U(FRcvBuf, 0) != 0) {
                DataAvailableError(20002, "socks version error");
                return;
            }
            switch (U(FRcvBuf, 1)) {
            case 90: NegotiationDone(8); return;
            case 91: DataAvailableError(20016, "request rejected or failed"); return;
            case 92: DataAvailableError(20008, "connection refused"); return;
            case 93: DataAvailableError(20015, "authentification failed"); return;
            default: DataAvailableError(20012, "unassigned error #" + std::to_string(U(FRcvBuf, 1))); return;
            }
        }
        if (U(FRcvBuf, 0) != 5) {
            DataAvailableError(20002, "socks version error");
            return;
        }
        if (FRcvBuf.size() < 2)
            return;
        static const char* const kTexts[] = {"general SOCKS server failure", "connection not allowed by ruleset",
                                             "network unreachable", "host unreachable", "connection refused",
                                             "time to live expired", "command not supported",
                                             "address type not supported"};
        const unsigned char rep = U(FRcvBuf, 1);
        if (rep != 0) {
            if (rep >= 1 && rep <= 8)
                DataAvailableError(20003 + rep, kTexts[rep - 1]);
            else
                DataAvailableError(20012, "unassigned error #" + std::to_string(rep));
            return;
        }
        if (FRcvBuf.size() < 5)
            return;
        const unsigned char atyp = U(FRcvBuf, 3);
        size_t len;
        if (atyp == 1)
            len = 10;
        else if (atyp == 3)
            len = 7 + U(FRcvBuf, 4);
        else if (atyp == 4)
            len = 22;  // IPv6 bound address
        else {
            DataAvailableError(20011, "address type not supported");
            return;
        }
        if (FRcvBuf.size() < len)
            return;
        char text[INET6_ADDRSTRLEN] = {};
        if (atyp == 1)
            ::inet_ntop(AF_INET, FRcvBuf.data() + 4, text, sizeof text);
        else if (atyp == 4)
            ::inet_ntop(AF_INET6, FRcvBuf.data() + 4, text, sizeof text);
        FBoundAddr = atyp == 3 ? FRcvBuf.substr(5, U(FRcvBuf, 4)) : std::string(text);
        FBoundPort = std::to_string((U(FRcvBuf, len - 2) << 8) | U(FRcvBuf, len - 1));
        NegotiationDone(len);
        return;
    }
    default:
        DataAvailableError(20013, "internal error");
        return;
    }
}

void TCustomSocksNetSocket::TriggerSessionClosed(uint16_t error)
{
    if (FSocksState == socksAuthenticate) {
        auto alive = AliveToken();
        TriggerSocksAuthState(socksAuthFailure);
        if (alive.expired())
            return;
    }
    TCustomNetSocket::TriggerSessionClosed(error);
}

int TCustomSocksNetSocket::GetRcvdCount()
{
    if (!FRcvdData.empty())
        return static_cast<int>(FRcvdData.size());
    return TCustomNetSocket::GetRcvdCount();
}

int TCustomSocksNetSocket::DoRecv(void* buffer, int len, int flags)
{
    if (FRcvdData.empty())
        return TCustomNetSocket::DoRecv(buffer, len, flags);
    const int n = std::min(len, static_cast<int>(FRcvdData.size()));
    std::memcpy(buffer, FRcvdData.data(), static_cast<size_t>(n));
    if (!(flags & MSG_PEEK))
        FRcvdData.erase(0, static_cast<size_t>(n));
    return n;
}
