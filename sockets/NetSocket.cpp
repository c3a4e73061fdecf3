#include "sockets/NetSocket.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include <QCoreApplication>
#include <QThread>

TCustomLineNetSocket::TCustomLineNetSocket()
{
    FLineEnd = "\r\n";
    FLineMode = false;
    LineLimit = 65536;
}

void TCustomLineNetSocket::TriggerLineLimitExceeded(int cnt, bool& clearData)
{
    if (OnLineLimitExceeded)
        OnLineLimitExceeded(this, cnt, clearData);
}

void TCustomLineNetSocket::SetLineMode(bool value)
{
    if (value == FLineMode)
        return;
    FLineMode = value;
    if (!FRcvd.empty() || FLineLength > 0)
        PostMessageToSelf(WM_TRIGGER_DATA_AVAILABLE);
}

int TCustomLineNetSocket::SendLine(const std::string& line)
{
    if (line.empty())
        return 0;
    PutDataInSendBuffer(line.data(), static_cast<int>(line.size()));
    SendStr(FLineEnd);
    return static_cast<int>(line.size() + FLineEnd.size());
}

int TCustomLineNetSocket::GetRcvdCount()
{
    if (FLineMode)
        return FLineLength;
    const int lower = TCustomSslNetSocket::GetRcvdCount();
    if (FRcvd.empty())
        return lower;
    return static_cast<int>(FRcvd.size()) + std::max(lower, 0);
}

int TCustomLineNetSocket::DoRecv(void* buffer, int len, int flags)
{
    if (len < 0)
        len = 0;
    if (FLineMode && FLineLength > 0) {
        const int n = std::min(len, FLineLength);
        std::memcpy(buffer, FRcvd.data(), static_cast<size_t>(n));
        if (!(flags & MSG_PEEK)) {
            FRcvd.erase(0, static_cast<size_t>(n));
            FLineLength -= n;
        }
        return n;
    }
    if (!FLineMode && !FRcvd.empty()) {
        const int n = std::min(len, static_cast<int>(FRcvd.size()));
        std::memcpy(buffer, FRcvd.data(), static_cast<size_t>(n));
        if (!(flags & MSG_PEEK))
            FRcvd.erase(0, static_cast<size_t>(n));
        return n;
    }
    return TCustomSslNetSocket::DoRecv(buffer, len, flags);
}

size_t TCustomLineNetSocket::EditLine(size_t held)
{
    std::string out = FRcvd.substr(0, held);
    std::string echo;
    size_t lowest = held;
    for (size_t i = held; i < FRcvd.size(); ++i) {
        const char c = FRcvd[i];
        if (c == 8) {
            if (!out.empty()) {
                out.pop_back();
                lowest = std::min(lowest, out.size());
                if (LineEcho)
                    echo += "\b \b";
            }
        } else if (c == 9) {
            do {
                out += ' ';
                if (LineEcho)
                    echo += ' ';
            } while (out.size() % 8 != 0);
        } else {
            out += c;
            if (LineEcho)
                echo += c;
        }
    }
    FRcvd = out;
    if (!echo.empty())
        SendStr(echo);
    return lowest;
}

bool TCustomLineNetSocket::OfferLine()
{
    auto alive = AliveToken();
    while (FLineMode && FLineLength > 0) {
        const int before = FLineLength;
        const size_t held = FRcvd.size();
        const bool handled = TCustomSslNetSocket::TriggerDataAvailable(0);
        if (alive.expired())
            return false;
        if (!handled) {
            // Nobody takes lines: drop it.
            FRcvd.erase(0, static_cast<size_t>(std::min<size_t>(FLineLength, FRcvd.size())));
            FLineLength = 0;
            break;
        }
        if (FLineLength == before && FRcvd.size() == held)
            break;  // the handler took nothing: keep the line on offer for later
    }
    return true;
}

bool TCustomLineNetSocket::DeliverHeldAsData()
{
    auto alive = AliveToken();
    while (!FLineMode && !FRcvd.empty()) {
        const size_t held = FRcvd.size();
        if (!TCustomSslNetSocket::TriggerDataAvailable(0)) {
            FRcvd.clear();
            break;
        }
        if (alive.expired())
            return false;
        if (FRcvd.size() == held)
            break;
    }
    return true;
}

bool TCustomLineNetSocket::TriggerDataAvailable(uint16_t error)
{
    if (!FLineMode || FLineEnd.empty() || SocksNegotiating())
        return TCustomSslNetSocket::TriggerDataAvailable(error);
    auto alive = AliveToken();
    int cnt = TCustomSslNetSocket::GetRcvdCount();
    if (cnt < 0)
        return true;
    if (cnt == 0)
        cnt = 255;
    const size_t held = FRcvd.size();
    FRcvd.resize(held + static_cast<size_t>(cnt));
    int n = TCustomSslNetSocket::DoRecv(FRcvd.data() + held, cnt, 0);
    if (n <= 0) {
        FRcvd.resize(held);
        if (held == 0)
            return true;
        n = 0;
    } else {
        FRcvd.resize(held + static_cast<size_t>(n));
        FReadCount += n;
    }
    size_t searchFrom = held > FLineEnd.size() ? held - FLineEnd.size() : 0;
    if (n > 0) {
        if (LineEdit) {
            const size_t lowest = EditLine(held);
            searchFrom = std::min(searchFrom, lowest > FLineEnd.size() ? lowest - FLineEnd.size() : 0);
        } else if (LineEcho) {
            SendStr(FRcvd.substr(held));
        }
        if (alive.expired())
            return true;
    }
    while (FLineMode) {
        const size_t p = FRcvd.find(FLineEnd, searchFrom);
        if (p == std::string::npos) {
            if (LineLimit > 0 && static_cast<int>(FRcvd.size()) > LineLimit) {
                FLineClearData = true;
                bool clear = true;
                TriggerLineLimitExceeded(static_cast<int>(FRcvd.size()), clear);
                if (alive.expired())
                    return true;
                if (clear) {
                    FRcvd.clear();
                    FLineLength = 0;
                }
                FLineClearData = false;
            }
            break;
        }
        FLineLength = static_cast<int>(p + FLineEnd.size());
        FLineReceivedFlag = true;
        FLineFound = true;
        const size_t heldBefore = FRcvd.size();
        if (!OfferLine())
            return true;
        if (FLineLength > 0 && FLineMode && FRcvd.size() == heldBefore)
            break;  // not taken: wait for the owner
        searchFrom = 0;
        if (!FLineMode) {
            FLineLength = 0;
            DeliverHeldAsData();
            break;
        }
    }
    return true;
}

void TCustomLineNetSocket::TriggerSessionClosed(uint16_t error)
{
    FLineReceivedFlag = true;
    auto alive = AliveToken();
    if (FLineMode && !FRcvd.empty() && !FLineClearData) {
        FLineLength = static_cast<int>(FRcvd.size());
        if (!OfferLine())
            return;
    }
    FRcvd.clear();
    FRcvd.shrink_to_fit();
    FLineLength = 0;
    TCustomSslNetSocket::TriggerSessionClosed(error);
}

void TCustomLineNetSocket::Redeliver()
{
    auto alive = AliveToken();
    int passes = 0;
    while (!FRcvd.empty()) {
        FLineFound = false;
        const size_t held = FRcvd.size();
        TriggerDataAvailable(0);
        if (alive.expired() || FRcvd.empty())
            return;
        if (FRcvd.size() == held)
            return;  // nothing taken: the next read event or mode change goes on
        ++passes;
        if (FLineMode && passes > 3 && !FLineFound)
            return;
    }
}

void TCustomLineNetSocket::WndProc(TNetMessage& msg)
{
    if (msg.Msg == WM_TRIGGER_DATA_AVAILABLE) {
        Redeliver();
        return;
    }
    TCustomSslNetSocket::WndProc(msg);
}

// --- synchronous layer -----------------------------------------------------------------------------------

int TCustomSyncNetSocket::Synchronize(const std::function<void()>& proc, bool& done)
{
    done = false;
    if (proc)
        proc();
    return WaitUntilReady(done);
}

int TCustomSyncNetSocket::WaitUntilReady(bool& done)
{
    // Monotonic: a wall-clock step or a tick-count wrap never ends or stretches a wait.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(FTimeout);
    while (!done) {
        if (FTimeout > 0 && std::chrono::steady_clock::now() > deadline)
            return 12001;
        if (QCoreApplication::closingDown() || Terminated())
            return 12001;
        MessagePump();
        if (done)
            break;
        QThread::msleep(1);
    }
    return 0;
}

void TCustomSyncNetSocket::ReadLine(int timeout, std::string& text)
{
    text.clear();
    if (FState != wsConnected) {
        RaiseException("ReadLine failed: not connected");
        return;
    }
    if (timeout == 0)
        FTimeout = 60000;
    else if (timeout < 0)
        FTimeout = -timeout;
    else
        FTimeout = timeout * 1000;
    FLineReceivedFlag = false;
    FLinePointer = &text;
    const TDataAvailable savedHandler = OnDataAvailable;
    const bool savedMode = FLineMode;
    bool got = false;
    OnDataAvailable = [this, &got](TCustomNetSocket*, uint16_t) {
        if (got || !FLinePointer)
            return;  // one line per call: the rest stays for later
        got = true;
        const int n = RcvdCount();
        std::string buf(static_cast<size_t>(std::max(n, 0)), '\0');
        const int r = n > 0 ? Receive(buf.data(), n) : 0;
        *FLinePointer = r > 0 ? buf.substr(0, static_cast<size_t>(r)) : std::string();
    };
    auto alive = AliveToken();
    SetLineMode(true);
    int rc = 0;
    try {
        rc = Synchronize(nullptr, FLineReceivedFlag);
    } catch (...) {
        if (!alive.expired()) {
            OnDataAvailable = savedHandler;
            FLinePointer = nullptr;
            SetLineMode(savedMode);
        }
        throw;
    }
    if (alive.expired())
        return;
    if (rc == 12001 && !got && !FRcvd.empty()) {
        text = FRcvd;
        FRcvd.clear();
        FLineLength = 0;
    }
    OnDataAvailable = savedHandler;
    FLinePointer = nullptr;
    SetLineMode(savedMode);
}
