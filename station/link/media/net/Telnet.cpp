#include "station/link/media/net/Telnet.h"

#include <QTimer>

#include <poll.h>

#include <algorithm>

using namespace Telnet;

void TReplyBacklog::Reset()
{
    FTotal = 0;
    FSpans.clear();
    FBytes = 0;
}

void TReplyBacklog::Queued(size_t count, bool reply)
{
    const uint64_t start = FTotal;
    FTotal += count;
    if (!reply || count == 0)
        return;
    FBytes += count;
    if (!FSpans.empty() && FSpans.back().End == start) {
        FSpans.back().End = FTotal;
        FSpans.back().Size += count;
    } else {
        FSpans.push_back({FTotal, count});
    }
}

size_t TReplyBacklog::Unsent(size_t unsent)
{
    const uint64_t sent = FTotal - std::min<uint64_t>(unsent, FTotal);
    while (!FSpans.empty() && FSpans.front().End <= sent) {
        FBytes -= FSpans.front().Size;
        FSpans.pop_front();
    }
    if (FSpans.empty())
        return 0;
    const uint64_t frontStart = FSpans.front().End - FSpans.front().Size;
    return FBytes - static_cast<size_t>(sent > frontStart ? sent - frontStart : 0);
}

TTelnetClient::TTelnetClient() = default;

bool TTelnetClient::SocketConnected() const
{
    return Socket && Socket->State() == wsConnected;
}

bool TTelnetClient::Connect()
{
    ErrorCode = 0;
    ErrorText.clear();
    OurEnabled.reset();
    PeerEnabled.reset();
    OurRefused.reset();
    PeerRefused.reset();
    FAfterIAC = FAwaitOption = FInSub = FSubIAC = false;
    SubText.clear();
    Pending.clear();
    FEarly.clear();
    FReadingHeld = false;
    FDeliveringTheRest = false;
    FReplies.Reset();
    const bool ok = TIPClient::Connect();
    if (ok) {
        State = tsConnecting;
        Socket->OnSendData = [this](TCustomNetSocket*, int) {
            SendPending();
            if (FReadingHeld)
                RetryReadingLater();
        };
        Socket->OnDataSent = [this](TCustomNetSocket*, uint16_t e) { DataSent(e); };
    }
    return ok;
}

bool TTelnetClient::Close()
{
    if (!Socket) {
        State = tsClosed;
        return true;
    }
    if (SocketConnected() && !Pending.empty()) {
        SendRaw(nullptr, 0, true);
        State = tsClosingPending;
        return true;
    }
    State = tsClosing;
    TIPClient::Close();
    return true;
}

bool TTelnetClient::Abort()
{
    Pending.clear();
    if (Socket) {
        TIPClient::Abort();
        State = tsClosing;
    } else {
        State = tsClosed;
    }
    return true;
}

int TTelnetClient::Send(const char* data, int count)
{
    if (!Connected())
        return -1;
    std::string buf;
    buf.reserve(static_cast<size_t>(count) * 2);
    for (int i = 0; i < count; ++i) {
        buf += data[i];
        if (static_cast<unsigned char>(data[i]) == IAC)
            buf += data[i];
    }
    return QueueRaw(buf.data(), static_cast<int>(buf.size()), true, false) >= 0 ? count : -1;
}

bool TTelnetClient::Connected()
{
    return SocketConnected() && State == tsReady;
}

bool TTelnetClient::Connecting()
{
    if (SocketConnected())
        return State == tsConnecting || State == tsNegotiating;
    return TIPClient::Connecting();
}

int TTelnetClient::SendRaw(const char* data, int count, bool immediate)
{
    // Bytes queued while a received chunk is parsed are the answers to it.
    return QueueRaw(data, count, immediate, FBatchReplies);
}

int TTelnetClient::QueueRaw(const char* data, int count, bool immediate, bool reply)
{
    if (!SocketConnected() || FDeliveringTheRest)
        return 0;
    if (immediate && FBatchReplies) {
        immediate = false;
        FRepliesQueued = true;
    }
    int taken = count;
    try {
        if (immediate)
            taken = Socket->Send(data, count);
        else
            Socket->PutDataInSendBuffer(data, count);
    } catch (...) {
        return 0;
    }
    FReplies.Queued(static_cast<size_t>(std::max(count, 0)), reply);
    if (taken >= 0 && taken < count) {
        Pending.append(data + taken, static_cast<size_t>(count - taken));
        Socket->Send(nullptr, 0);
    }
    return count;
}

void TTelnetClient::SendOptionCommand(unsigned char command, unsigned char option, bool immediate)
{
    if (!SocketConnected())
        return;
    const char cmd[3] = {static_cast<char>(IAC), static_cast<char>(command), static_cast<char>(option)};
    SendRaw(cmd, 3, immediate);
}

int TTelnetClient::SendSubOption(unsigned char option, const std::string& bytes, bool immediate)
{
    std::string msg = {static_cast<char>(IAC), static_cast<char>(SB), static_cast<char>(option)};
    for (char c : bytes) {
        msg += c;
        if (static_cast<unsigned char>(c) == IAC)
            msg += c;  // a value byte 255 must not end the sub-negotiation
    }
    msg += static_cast<char>(IAC);
    msg += static_cast<char>(SE);
    return SendRaw(msg.data(), static_cast<int>(msg.size()), immediate);
}

void TTelnetClient::QueueNegotiation()
{
    SendOptionCommand(DO, TELOPT_BINARY, false);
    SendOptionCommand(DO, TELOPT_SGA, false);
    SendOptionCommand(DONT, TELOPT_ECHO, false);
}

void TTelnetClient::SessionConnected(uint16_t error)
{
    if (error != 0 && ErrorCode == 0) {
        ErrorCode = error;
        ErrorText = NetSocketErrorDesc(error);
        State = tsError;
    }
    FConnectError = error;
    if (State == tsConnecting) {
        QueueNegotiation();
        SendRaw(nullptr, 0, true);
        State = tsNegotiating;
    }
}

void TTelnetClient::DataSent(uint16_t)
{
    if (State == tsNegotiating) {
        State = tsReady;
        auto alive = AliveToken();
        TNetSocket* sock = Socket;
        if (OnConnected)
            OnConnected(this, 0);
        if (alive.expired())
            return;
        // What the server sent during the negotiation follows the report, in order.
        if (!FEarly.empty() && State == tsReady && Socket == sock) {
            std::string early;
            early.swap(FEarly);
            if (OnData)
                OnData(this, early.data(), static_cast<int>(early.size()));
            if (alive.expired())
                return;
        }
    }
    if (!Pending.empty())
        SendPending();
    else if (State == tsClosingPending)
        Close();
    // The queue has drained: the read that was held back comes now, and its recv re-arms the socket's
    // read notice for the rest.
    if (FReadingHeld && SocketConnected() && (State == tsReady || State == tsNegotiating))
        ReadPass();
}

void TTelnetClient::FlushReplies()
{
    FBatchReplies = false;
    if (FRepliesQueued) {
        FRepliesQueued = false;
        SendRaw(nullptr, 0, true);
    }
}

void TTelnetClient::SendPending()
{
    if (Pending.empty())
        return;
    // Also while closing with text pending: that text is what the close waits for.
    if (!SocketConnected() || (State != tsReady && State != tsClosingPending)) {
        Pending.clear();
        return;
    }
    std::string text;
    text.swap(Pending);
    const int n = Socket->Send(text.data(), static_cast<int>(text.size()));
    if (n >= 0 && n < static_cast<int>(text.size()))
        Pending = text.substr(static_cast<size_t>(n)) + Pending;
}

void TTelnetClient::SessionClosed(uint16_t error)
{
    // What the server sent before it closed still reaches the owner, in order.
    if (FReadingHeld && Socket) {
        auto alive = AliveToken();
        DeliverTheRest();
        if (alive.expired())
            return;
    }
    FReadingHeld = false;
    if (State != tsError)
        State = tsClosed;
    TIPClient::SessionClosed(error);
}

void TTelnetClient::AcceptOption(unsigned char command, unsigned char option)
{
    if (command == WILL) {
        if (!PeerEnabled[option]) {
            PeerEnabled.set(option);
            PeerRefused.reset(option);
            SendOptionCommand(DO, option, true);
        }
    } else if (!OurEnabled[option]) {
        OurEnabled.set(option);
        OurRefused.reset(option);
        SendOptionCommand(WILL, option, true);
    }
}

void TTelnetClient::RefuseOption(unsigned char command, unsigned char option)
{
    if (command == WILL || command == WONT) {
        if (!PeerRefused[option]) {
            PeerRefused.set(option);
            PeerEnabled.reset(option);
            SendOptionCommand(DONT, option, true);
        }
    } else if (!OurRefused[option]) {
        OurRefused.set(option);
        OurEnabled.reset(option);
        SendOptionCommand(WONT, option, true);
    }
}

void TTelnetClient::OptionReceived(unsigned char command, unsigned char option)
{
    const bool known = option == TELOPT_BINARY || option == TELOPT_SGA || option == TELOPT_EOR;
    if (known && (command == WILL || command == DO))
        AcceptOption(command, option);
    else
        RefuseOption(command, option);
}

void TTelnetClient::SubOptionReceived(unsigned char) {}

void TTelnetClient::CommandAO()
{
    Pending.clear();
    if (Socket)
        Socket->DeleteBufferedData();
}

void TTelnetClient::Deliver(const std::string& bytes)
{
    if (bytes.empty())
        return;
    if (State == tsNegotiating) {
        FEarly += bytes;  // held until the link is reported ready
        return;
    }
    if (OnData)
        OnData(this, bytes.data(), static_cast<int>(bytes.size()));
}

size_t TTelnetClient::QueuedBytes() const
{
    const int queued = Socket ? Socket->BufferedByteCount() : 0;
    return static_cast<size_t>(queued > 0 ? queued : 0) + Pending.size();
}

void TTelnetClient::DataAvailable(uint16_t)
{
    ReadPass();
}

size_t TTelnetClient::QueuedReplyBytes()
{
    return FReplies.Unsent(QueuedBytes());
}

bool TTelnetClient::ReadingHeldOnALiveLink() const
{
    return FReadingHeld && SocketConnected() && (State == tsReady || State == tsNegotiating);
}

void TTelnetClient::PostWhileHeld(bool& posted, int ms, std::function<void()> step)
{
    if (posted)
        return;
    posted = true;
    QTimer::singleShot(ms, [this, &posted, step = std::move(step), alive = AliveToken()] {
        if (alive.expired())
            return;
        posted = false;
        if (ReadingHeldOnALiveLink())
            step();
    });
}

void TTelnetClient::RetryReadingLater()
{
    PostWhileHeld(FReadRetryPosted, 0, [this] { ReadPass(); });
}

void TTelnetClient::DeliverTheRest()
{
    auto alive = AliveToken();
    TNetSocket* sock = Socket;
    std::string buf;
    int n;
    FReadingHeld = false;
    FDeliveringTheRest = true;
    while (Socket == sock && (n = ReadAvailable(buf, kReadPass)) > 0) {
        Received(buf.data(), n);
        if (alive.expired())
            return;
    }
    FDeliveringTheRest = false;
}

void TTelnetClient::WatchForHangUp()
{
    PostWhileHeld(FHangUpWatchPosted, 100, [this] {
        pollfd p{static_cast<int>(Socket->HSocket()), POLLRDHUP, 0};
        if (::poll(&p, 1, 0) <= 0 || !(p.revents & (POLLRDHUP | POLLHUP | POLLERR))) {
            WatchForHangUp();
            return;
        }
        // Every byte read, the socket's read notice is armed again and reports the close.
        DeliverTheRest();
    });
}

void TTelnetClient::ReadPass()
{
    // Not reading leaves the socket's read notice off: the bytes wait in the socket, and the server's
    // sending stalls once its window is full. Sending the replies reads again.
    FReadingHeld = QueuedReplyBytes() > kQueuedLimit;
    if (FReadingHeld) {
        WatchForHangUp();
        return;
    }
    std::string buf;
    const int n = ReadAvailable(buf, kReadPass);
    if (n > 0)
        Received(buf.data(), n);
}

void TTelnetClient::Received(const char* buf, int n)
{
    TNetSocket* sock = Socket;
    auto alive = AliveToken();
    std::string run;
    FBatchReplies = true;
    FRepliesQueued = false;
    for (int i = 0; i < n; ++i) {
        // Handlers may close the link or free the client: the rest of this read goes nowhere then.
        if (alive.expired() || Socket != sock || (State != tsReady && State != tsNegotiating)) {
            if (!alive.expired())
                FlushReplies();
            return;
        }
        const unsigned char c = static_cast<unsigned char>(buf[i]);
        if (FInSub) {
            if (FSubIAC) {
                FSubIAC = false;
                if (c == SE) {
                    FInSub = false;
                    if (!SubText.empty())
                        SubOptionReceived(static_cast<unsigned char>(SubText[0]));
                } else if (SubText.size() < kSubTextKept) {
                    SubText += static_cast<char>(c);  // IAC IAC is one 255; anything else is kept as sent
                }
            } else if (c == IAC) {
                FSubIAC = true;
            } else if (SubText.size() < kSubTextKept) {
                SubText += static_cast<char>(c);
            }
        } else if (FAwaitOption) {
            FAwaitOption = false;
            OptionReceived(static_cast<unsigned char>(SubText[0]), c);
        } else if (FAfterIAC) {
            FAfterIAC = false;
            switch (c) {
            case BRK: CommandBRK(); break;
            case IP: CommandIP(); break;
            case AO: CommandAO(); break;
            case AYT: CommandAYT(); break;
            case EC: CommandEC(); break;
            case EL: CommandEL(); break;
            case GA: CommandGA(); break;
            case SB:
                FInSub = true;
                FSubIAC = false;
                SubText.clear();
                break;
            case IAC:
                Deliver(std::string(1, static_cast<char>(IAC)));
                break;
            case WILL: case WONT: case DO: case DONT:
                SubText.assign(1, static_cast<char>(c));
                FAwaitOption = true;
                break;
            default:
                break;  // NOP, DM and the like
            }
        } else if (c == IAC) {
            FAfterIAC = true;
            Deliver(run);
            run.clear();
        } else {
            run += static_cast<char>(c);
        }
    }
    if (alive.expired())
        return;
    FlushReplies();
    if (!alive.expired() && Socket == sock && (State == tsReady || State == tsNegotiating))
        Deliver(run);
}

// ---------------------------------------------------------------------------------------------------------

TMediaTelnet::TMediaTelnet(QObject* owner) : TMediaIP(owner)
{
    TypeName = "Telnet";
    Caption = "Port Telnet";
}

int TMediaTelnet::CreateClient()
{
    DestroyClient(false);
    Device = std::make_unique<TTelnetClient>();
    return 0;
}
