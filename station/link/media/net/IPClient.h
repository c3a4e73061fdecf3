#pragma once
// Raw TCP link to the instrument: TIPClient wraps one asynchronous socket behind a few virtual operations
// and three closures; TMediaIP is the medium that carries raw bytes over it.
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>

#include "sockets/NetSocket.h"
#include "station/link/Media.h"

class TIPClient;
using TIPDataEvent = std::function<void(TIPClient* sender, const char* data, int count)>;
using TIPConnectedEvent = std::function<void(TIPClient* sender, uint16_t error)>;
using TIPNotifyEvent = std::function<void(TIPClient* sender)>;

class TIPClient {
public:
    TIPClient();
    virtual ~TIPClient();
    TIPClient(const TIPClient&) = delete;
    TIPClient& operator=(const TIPClient&) = delete;

    TNetSocket* Socket = nullptr;
    std::string Host;
    std::string Port;
    TIPDataEvent OnData;
    TIPConnectedEvent OnConnected;
    TIPNotifyEvent OnClosed;

    // Socket events.
    virtual void DataAvailable(uint16_t error);
    virtual void ChangeState(TSocketState oldState, TSocketState newState);
    virtual void SessionConnected(uint16_t error);
    virtual void SessionClosed(uint16_t error);

    virtual std::string GetDefaultPort() { return std::string(); }
    virtual bool SetHostPort(const std::string& host, const std::string& port);
    virtual bool SetAddress(const std::string& text);
    virtual bool Connect();
    virtual bool Close();
    virtual bool Abort();
    virtual int Send(const char* data, int count);
    virtual bool SendText(const std::string& text);
    virtual bool Connected();
    virtual bool Connecting();

    // Error of the last connection attempt (0 = none) and the text of a failure to start one.
    uint16_t ConnectError() const { return FConnectError; }
    const std::string& StartError() const { return FStartError; }

protected:
    // Reads what the socket holds (its count + 16 bytes, at most maxBytes); the byte count, or -1.
    int ReadAvailable(std::string& buffer, int maxBytes = std::numeric_limits<int>::max());
    void HookSocket();
    // Unhooks the socket's events and frees it after the current event handler.
    void DropSocket();

    // Expired once the client is freed (an event handler may free it).
    std::weak_ptr<int> AliveToken() const { return FAlive; }

    uint16_t FConnectError = 0;
    std::string FStartError;

private:
    std::shared_ptr<int> FAlive = std::make_shared<int>(0);
};

class TMediaIP : public TMedia {
public:
    explicit TMediaIP(QObject* owner = nullptr);
    ~TMediaIP() override;

    int ApplyPort() override;
    bool IsOpen() override;
    bool IsOpening() override;
    bool Open() override;
    bool Close() override;
    bool Abort() override;
    int Write(const char* data, int count) override;
    int WriteText(const std::string& text) override;
    bool Purge() override { return true; }

    virtual int HookClientEvents();
    virtual int CreateClient();
    virtual int DestroyClient(bool graceful);

    TIPClient* Client() const { return Device.get(); }

protected:
    std::unique_ptr<TIPClient> Device;
};
