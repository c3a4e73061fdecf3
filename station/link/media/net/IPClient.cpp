#include "station/link/media/net/IPClient.h"

#include <algorithm>
#include <cctype>

namespace {

std::string TrimLower(const std::string& s)
{
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return {};
    std::string t = s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
    for (auto& c : t)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return t;
}

void Unhook(TNetSocket* s)
{
    s->OnDataAvailable = nullptr;
    s->OnChangeState = nullptr;
    s->OnSessionConnected = nullptr;
    s->OnSessionClosed = nullptr;
    s->OnSendData = nullptr;
    s->OnDataSent = nullptr;
    s->OnError = nullptr;
}

} // namespace

TIPClient::TIPClient() = default;

TIPClient::~TIPClient()
{
    if (!Socket)
        return;
    TNetSocket* s = Socket;
    Unhook(s);
    Socket = nullptr;
    const TSocketState st = s->State();
    if (st == wsConnected || st == wsAccepting || st == wsListening) {
        if (OnClosed)
            OnClosed(this);
    }
    // Always after the current event handler: the socket may be the one raising it.
    s->Release();
}

void TIPClient::HookSocket()
{
    Socket->OnDataAvailable = [this](TCustomNetSocket*, uint16_t e) { DataAvailable(e); };
    Socket->OnChangeState = [this](TCustomNetSocket*, TSocketState a, TSocketState b) { ChangeState(a, b); };
    Socket->OnSessionConnected = [this](TCustomNetSocket*, uint16_t e) { SessionConnected(e); };
    Socket->OnSessionClosed = [this](TCustomNetSocket*, uint16_t e) { SessionClosed(e); };
    // Failures become results and events here, never exceptions.
    Socket->OnError = [](TCustomNetSocket*) {};
}

void TIPClient::DropSocket()
{
    if (!Socket)
        return;
    TNetSocket* s = Socket;
    Socket = nullptr;
    Unhook(s);
    s->Release();
}

int TIPClient::ReadAvailable(std::string& buffer, int maxBytes)
{
    if (!Socket)
        return -1;
    const int waiting = Socket->RcvdCount();
    buffer.resize(static_cast<size_t>(std::min(std::max(waiting, 0), maxBytes - 16) + 16));
    return Socket->Receive(buffer.data(), static_cast<int>(buffer.size()));
}

void TIPClient::DataAvailable(uint16_t)
{
    std::string buf;
    const int n = ReadAvailable(buf);
    if (n >= 0 && OnData)
        OnData(this, buf.data(), n);
}

void TIPClient::ChangeState(TSocketState, TSocketState) {}

void TIPClient::SessionConnected(uint16_t error)
{
    FConnectError = error;
    if (OnConnected)
        OnConnected(this, error);
}

void TIPClient::SessionClosed(uint16_t)
{
    if (Socket) {
        const TSocketState st = Socket->State();
        if (st >= wsConnected && st <= wsListening) {
            TNetSocket* s = Socket;
            Socket = nullptr;
            Unhook(s);
            s->CloseDelayed();
            s->Release();
        }
    }
    if (OnClosed)
        OnClosed(this);
}

bool TIPClient::SetHostPort(const std::string& host, const std::string& port)
{
    Host = TrimLower(host);
    Port = TrimLower(port);
    if (Port.empty())
        Port = GetDefaultPort();
    return !Host.empty() && !Port.empty();
}

bool TIPClient::SetAddress(const std::string& text)
{
    const auto colon = text.find(':');
    if (colon == std::string::npos)
        return SetHostPort(text, std::string());
    return SetHostPort(text.substr(0, colon), text.substr(colon + 1));
}

bool TIPClient::Connect()
{
    DropSocket();
    FConnectError = 0;
    FStartError.clear();
    if (Host.empty() || Port.empty())
        return false;
    Socket = new TNetSocket();
    try {
        Socket->OnError = nullptr;  // failures to start raise here and are caught below
        Socket->SetAddr(Host);
        Socket->SetPort(Port);
        Socket->ComponentOptions.Include(nsoTcpNoDelay);
        Socket->SetLineMode(false);
        Socket->LingerOnOff = wsLingerOn;
        Socket->LingerTimeout = 20;
        Socket->KeepAliveOnOff = wsKeepAliveOnCustom;
        HookSocket();
        Socket->OnError = nullptr;
        Socket->Connect();
    } catch (const std::exception& e) {
        FStartError = e.what();
    }
    if (!Socket)
        return false;
    Socket->OnError = [](TCustomNetSocket*) {};
    return Socket->State() != wsInvalidState && Socket->State() != wsClosed;
}

bool TIPClient::Close()
{
    if (Socket)
        Socket->CloseDelayed();
    return true;
}

bool TIPClient::Abort()
{
    if (Socket) {
        try {
            Socket->Abort();
        } catch (...) {
        }
    }
    return true;
}

int TIPClient::Send(const char* data, int count)
{
    if (!Connected())
        return -1;
    try {
        return Socket->Send(data, count);
    } catch (...) {
        return -1;
    }
}

bool TIPClient::SendText(const std::string& text)
{
    return Send(text.data(), static_cast<int>(text.size())) == static_cast<int>(text.size());
}

bool TIPClient::Connected()
{
    // A refused attempt also passes through the connected state on its way to closed: it never counts.
    return Socket && Socket->State() == wsConnected && FConnectError == 0;
}

bool TIPClient::Connecting()
{
    if (!Socket)
        return false;
    const TSocketState st = Socket->State();
    return st >= wsOpened && st <= wsSocksConnected;
}

// ---------------------------------------------------------------------------------------------------------

TMediaIP::TMediaIP(QObject* owner) : TMedia(owner)
{
    TypeName = "IP";
    Caption = "Port Tcp";
}

TMediaIP::~TMediaIP()
{
    DestroyClient(false);
}

int TMediaIP::ApplyPort()
{
    if (Device && !Device->Connected() && !Device->Connecting())
        return Device->SetAddress(Name) ? 0 : -2;
    return 0;
}

bool TMediaIP::IsOpen()
{
    return Device && Device->Connected();
}

bool TMediaIP::IsOpening()
{
    return Device && Device->Connecting();
}

bool TMediaIP::Open()
{
    if (!Device && CreateClient() < 0)
        return false;
    if (ApplyPort() < 0 || HookClientEvents() < 0)
        return false;
    // A connection that could not even start is never reported later: say so now.
    if (!Device->Connect()) {
        LastError = Device->StartError().empty() ? "Invalid address: " + Name : Device->StartError();
        ErrorFlag = true;
        return false;
    }
    return true;
}

bool TMediaIP::Close()
{
    DestroyClient(true);
    return true;
}

bool TMediaIP::Abort()
{
    DestroyClient(false);
    return true;
}

int TMediaIP::Write(const char* data, int count)
{
    if (!Device)
        return -1;
    if (!IsOpen())
        return -2;
    return Device->Send(data, count);
}

int TMediaIP::WriteText(const std::string& text)
{
    if (!Device)
        return -1;
    if (!IsOpen())
        return -2;
    return Device->SendText(text) ? 1 : 0;
}

int TMediaIP::HookClientEvents()
{
    if (!Device)
        return -1;
    Device->OnData = [this](TIPClient*, const char* data, int count) { FireData(data, count); };
    Device->OnConnected = [this](TIPClient*, uint16_t) { FireOpened(); };
    Device->OnClosed = [this](TIPClient*) { FireClosed(); };
    return 0;
}

int TMediaIP::CreateClient()
{
    DestroyClient(false);
    Device = std::make_unique<TIPClient>();
    return 0;
}

int TMediaIP::DestroyClient(bool graceful)
{
    if (!Device)
        return 0;
    Closing = true;
    try {
        if (graceful)
            Device->Close();
        else
            Device->Abort();
    } catch (...) {
    }
    Device.reset();
    Closing = false;
    return 0;
}
