#pragma once
// The socket component applications create (TNetSocket), with its line layer (whole lines through
// OnDataAvailable, echo and editing) and its synchronous layer (ReadLine with a time-out).
#include <functional>
#include <string>

#include "sockets/SslLayer.h"

using TLineLimitEvent = std::function<void(TCustomNetSocket* Sender, int RcvdLength, bool& ClearData)>;

class TCustomLineNetSocket : public TCustomSslNetSocket {
public:
    TCustomLineNetSocket();

    const std::string& LineEnd() const { return FLineEnd; }
    void SetLineEnd(const std::string& v) { FLineEnd = v; }
    bool LineMode() const { return FLineMode; }
    int LineLimit = 65536;
    bool LineEcho = false;
    bool LineEdit = false;
    TLineLimitEvent OnLineLimitExceeded;

    virtual void TriggerLineLimitExceeded(int cnt, bool& clearData);
    virtual void SetLineMode(bool value);
    virtual int SendLine(const std::string& line);

    void WndProc(TNetMessage& msg) override;
    int GetRcvdCount() override;
    bool TriggerDataAvailable(uint16_t error) override;
    void TriggerSessionClosed(uint16_t error) override;
    int DoRecv(void* buffer, int len, int flags) override;

    // Bytes held by the line buffer (tests, ReadLine).
    int HeldCount() const { return static_cast<int>(FRcvd.size()); }

protected:
    // Edits the bytes just received behind the first `held` bytes; returns where the line search restarts.
    virtual size_t EditLine(size_t held);
    // Offers the current line (FLineLength bytes) to the owner until it is taken; false when the
    // component went away inside a handler.
    bool OfferLine();
    // Delivers held bytes as plain data until none remain or a pass takes nothing.
    bool DeliverHeldAsData();
    void Redeliver();

    std::string FRcvd;
    std::string FLineEnd = "\r\n";
    bool FLineMode = false;
    int FLineLength = 0;
    bool FLineReceivedFlag = false;
    bool FLineFound = false;
    bool FLineClearData = false;
    int FTimeout = 0;
};

class TCustomSyncNetSocket : public TCustomLineNetSocket {
public:
    virtual int Synchronize(const std::function<void()>& proc, bool& done);
    virtual int WaitUntilReady(bool& done);
    // Waits for one line: timeout 0 = 60 s, negative = that many ms, positive = that many seconds.
    void ReadLine(int timeout, std::string& text);

private:
    std::string* FLinePointer = nullptr;
};

class TNetSocket : public TCustomSyncNetSocket {};
class TSocksNetSocket : public TNetSocket {};
class TSslNetSocket : public TNetSocket {};
