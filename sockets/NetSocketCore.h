#pragma once
// Asynchronous, never-blocking TCP/UDP socket component. Everything that happens on the connection later
// (connected, data arrived, all sent, closed, name resolved) is reported as an event on the thread that
// created the component, from that thread's Qt event loop.
//
// Each component owns one small QObject that stands for its notification window: readiness of the
// descriptor comes from one QSocketNotifier per direction, switched off once it has fired and switched on
// again by the next recv/send, so each notification comes once as the socket-library semantics expect;
// requests to itself (write event after a send, delayed close, release, look-up results) are posted to it
// and tagged with the connection's generation, because descriptor numbers are reused at once.
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QObject>
#include <QPointer>
#include <netinet/in.h>

#include "sockets/NetLogger.h"
#include "sockets/NetSocketCloser.h"
#include "sockets/NetSocketApi.h"

class QSocketNotifier;

enum TSocketState {
    wsInvalidState, wsOpened, wsBound, wsConnecting, wsSocksConnected, wsConnected, wsAccepting, wsListening,
    wsClosed
};
enum TSocketSendFlags { wsSendNormal, wsSendUrgent };
enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };
enum TSocketKeepAliveOnOff { wsKeepAliveOff, wsKeepAliveOnCustom, wsKeepAliveOnSystem };
enum TNetSocketOption { nsoNoReceiveLoop, nsoTcpNoDelay, nsoSIO_RCVALL };

class TNetSocketOptions {
public:
    TNetSocketOptions() = default;
    TNetSocketOptions(std::initializer_list<TNetSocketOption> l) { for (auto o : l) Include(o); }
    bool Contains(TNetSocketOption o) const { return (FBits >> o) & 1u; }
    void Include(TNetSocketOption o) { FBits |= 1u << o; }
    void Exclude(TNetSocketOption o) { FBits &= ~(1u << o); }
    TNetSocketOptions Without(TNetSocketOption o) const { TNetSocketOptions r = *this; r.Exclude(o); return r; }
    bool operator==(const TNetSocketOptions&) const = default;

private:
    unsigned FBits = 0;
};

// Event bits of the asynchronous select.
constexpr uint16_t FD_READ = 0x01;
constexpr uint16_t FD_WRITE = 0x02;
constexpr uint16_t FD_OOB = 0x04;
constexpr uint16_t FD_ACCEPT = 0x08;
constexpr uint16_t FD_CONNECT = 0x10;
constexpr uint16_t FD_CLOSE = 0x20;

// Messages of the notification object.
constexpr unsigned WM_USER = 0x0400;
constexpr unsigned WM_ASYNCSELECT = WM_USER + 1;
constexpr unsigned WM_ASYNCGETHOSTBYNAME = WM_USER + 2;
constexpr unsigned WM_ASYNCGETHOSTBYADDR = WM_USER + 3;
constexpr unsigned WM_CLOSE_DELAYED = WM_USER + 4;
constexpr unsigned WM_NETSOCKET_RELEASE = WM_USER + 5;
constexpr unsigned WM_TRIGGER_EXCEPTION = WM_USER + 6;
constexpr unsigned WM_TRIGGER_DATA_AVAILABLE = WM_USER + 20;

// One message to a component. For WM_ASYNCSELECT: WParam = descriptor, LParam low 16 bits = event bits,
// high 16 bits = error number. Generation identifies the connection the message belongs to.
struct TNetMessage {
    unsigned Msg = 0;
    intptr_t WParam = 0;
    intptr_t LParam = 0;
    uint64_t Generation = 0;
};

class TCustomNetSocket;
using TDataAvailable = std::function<void(TCustomNetSocket* Sender, uint16_t ErrCode)>;
using TDataSent = std::function<void(TCustomNetSocket* Sender, uint16_t ErrCode)>;
using TSendData = std::function<void(TCustomNetSocket* Sender, int BytesSent)>;
using TSessionClosed = std::function<void(TCustomNetSocket* Sender, uint16_t ErrCode)>;
using TSessionAvailable = std::function<void(TCustomNetSocket* Sender, uint16_t ErrCode)>;
using TSessionConnected = std::function<void(TCustomNetSocket* Sender, uint16_t ErrCode)>;
using TChangeState = std::function<void(TCustomNetSocket* Sender, TSocketState OldState, TSocketState NewState)>;
using TDnsLookupDone = std::function<void(TCustomNetSocket* Sender, uint16_t ErrCode)>;
using TNotifyEvent = std::function<void(TCustomNetSocket* Sender)>;
using TBgExceptionEvent = std::function<void(TCustomNetSocket* Sender, const std::exception& E, bool& CanClose)>;
using TDebugDisplay = std::function<void(TCustomNetSocket* Sender, const std::string& Msg)>;

class TNetSocketWindow;

class TCustomNetSocket {
    friend class TNetSocketWindow;

public:
    TCustomNetSocket();
    virtual ~TCustomNetSocket();
    TCustomNetSocket(const TCustomNetSocket&) = delete;
    TCustomNetSocket& operator=(const TCustomNetSocket&) = delete;

    // Component name, used in log lines.
    std::string Name;

    // Events (closures, called only when assigned).
    TDataAvailable OnDataAvailable;
    TDataSent OnDataSent;
    TSendData OnSendData;
    TSessionClosed OnSessionClosed;
    TSessionAvailable OnSessionAvailable;
    TSessionConnected OnSessionConnected;
    TChangeState OnChangeState;
    TDnsLookupDone OnDnsLookupDone;
    TNotifyEvent OnError;
    TBgExceptionEvent OnBgException;
    TDebugDisplay OnDebugDisplay;

    // Properties.
    const std::string& Addr() const { return FAddrStr; }
    void SetAddr(const std::string& v);
    const std::string& Port() const { return FPortStr; }
    void SetPort(const std::string& v) { SetRemotePort(v); }
    const std::string& Proto() const { return FProtoStr; }
    const std::string& LocalAddr() const { return FLocalAddr; }
    void SetLocalAddr(const std::string& v);
    const std::string& LocalPort() const { return FLocalPortStr; }
    void SetLocalPort(const std::string& v);
    std::string PeerAddr();
    std::string PeerPort();
    const std::string& DnsResult() const { return FDnsResult; }
    const std::vector<std::string>& DnsResultList() const { return FDnsResultList; }
    TSocketState State() const { return FState; }
    int64_t ReadCount() const { return FReadCount; }
    int RcvdCount() { return GetRcvdCount(); }
    int LastError = 0;
    bool MultiThreaded = false;
    bool MultiCast = false;
    std::string MultiCastAddrStr;
    int MultiCastIpTTL = 1;
    bool ReuseAddr = false;
    TNetSocketOptions ComponentOptions;
    int ListenBacklog = 5;
    uint8_t ReqVerLow() const { return NetSocketReqVerLow(); }
    uint8_t ReqVerHigh() const { return NetSocketReqVerHigh(); }
    void SetReqVerLow(uint8_t v);
    void SetReqVerHigh(uint8_t v);
    int FlushTimeout = 60;
    TSocketSendFlags SendFlags() const { return FSendFlags; }
    void SetSendFlags(TSocketSendFlags v);
    TSocketLingerOnOff LingerOnOff = wsLingerOn;
    int LingerTimeout = 0;
    TSocketKeepAliveOnOff KeepAliveOnOff = wsKeepAliveOnSystem;
    int KeepAliveTime = 30000;
    int KeepAliveInterval = 1000;
    TNetLogger* NetLogger() const { return FNetLogger.data(); }
    TSocket HSocket() const { return FHSocket; }
    // Bytes queued and not yet written to the socket.
    int BufferedByteCount() const { return FBufferedByteCount; }
    bool AllSent() const { return FAllSent; }

    // Virtual operations, in the order of the class chain's slots.
    virtual void SetNetLogger(TNetLogger* logger);
    virtual void DebugLog(TLogOption option, const std::string& msg);
    virtual bool CheckLogOptions(TLogOption option);
    virtual void WndProc(TNetMessage& msg);
    virtual void AllocateSocketHWnd();
    virtual void DeallocateSocketHWnd();
    virtual void TryToSend();
    virtual void AssignDefaultValue();
    virtual void InternalClose(bool bShut, uint16_t error);
    virtual void InternalAbort(uint16_t error);
    virtual void SetRemotePort(const std::string& sPort);
    virtual void SetProto(const std::string& sProto);
    virtual int GetRcvdCount();
    virtual void BindSocket();
    virtual int RealSend(const void* data, int len);
    virtual void RaiseExceptionFmt(const std::string& msg) { RaiseException(msg); }
    virtual void RaiseException(const std::string& msg);
    virtual void HandleBackGroundException(const std::exception& e);
    virtual bool TriggerDataAvailable(uint16_t error);
    virtual void TriggerSessionAvailable(uint16_t error);
    virtual void TriggerSessionConnectedSpecial(uint16_t error);
    virtual void TriggerSessionConnected(uint16_t error);
    virtual void TriggerSessionClosed(uint16_t error);
    virtual void TriggerDataSent(uint16_t error);
    virtual void TriggerChangeState(TSocketState oldState, TSocketState newState);
    virtual void TriggerDNSLookupDone(uint16_t error);
    virtual void TriggerError();
    virtual int DoRecv(void* buffer, int len, int flags);
    virtual int DoRecvFrom(void* buffer, int len, int flags, sockaddr* from, socklen_t* fromLen);
    virtual void Do_FD_CONNECT(uint16_t error);
    virtual void Do_FD_READ(uint16_t error);
    virtual void Do_FD_WRITE(uint16_t error);
    virtual void Do_FD_ACCEPT(uint16_t error);
    virtual void Do_FD_CLOSE(uint16_t error);
    virtual void DupConnected();
    virtual void Connect();
    virtual void Close();
    virtual void CloseDelayed();
    virtual void Release();
    virtual void Abort();
    virtual void Flush();
    virtual void WaitForClose();
    virtual void Listen();
    virtual TSocket Accept();
    virtual int Receive(void* buffer, int len);
    virtual std::string ReceiveStr();
    virtual int ReceiveFrom(void* buffer, int len, sockaddr* from, socklen_t* fromLen);
    virtual int Send(const void* data, int len);
    virtual int SendTo(const sockaddr* dest, socklen_t destLen, const void* data, int len);
    virtual int SendStr(const std::string& text);
    virtual void DnsLookup(const std::string& hostName);
    virtual void ReverseDnsLookup(const std::string& hostAddr);
    virtual void ReverseDnsLookupSync(const std::string& hostAddr);
    virtual void CancelDnsLookup();
    virtual std::string GetPeerAddr();
    virtual std::string GetPeerPort();
    virtual int GetPeerName(sockaddr_in& name, socklen_t& nameLen);
    virtual std::string GetXPort();
    virtual std::string GetXAddr();
    virtual bool TimerIsSet(const timeval& tvp) const { return tvp.tv_sec != 0 || tvp.tv_usec != 0; }
    virtual void TimerClear(timeval& tvp) const { tvp.tv_sec = 0; tvp.tv_usec = 0; }
    virtual bool TimerCmp(const timeval& a, const timeval& b, bool equal) const;
    virtual int GetSockName(sockaddr_in& name, socklen_t& nameLen);
    virtual void Dup(TSocket newHSocket);
    virtual void Shutdown(int how);
    virtual void Pause();
    virtual void Resume();
    virtual void PutDataInSendBuffer(const void* data, int len);
    virtual void MessagePump();
    virtual void ThreadAttach();
    virtual void ThreadDetach();

    void SendText(const std::string& text) { SendStr(text); }
    void PutStringInSendBuffer(const std::string& text) { PutDataInSendBuffer(text.data(), static_cast<int>(text.size())); }
    void DeleteBufferedData();
    int PeekData(void* buffer, int len);
    void ProcessMessages();
    void MessageLoop();
    // Raises WM_TRIGGER_EXCEPTION through the posted-message path (background exception test).
    void PostTestException();
    bool Terminated() const { return FTerminated; }
    void TriggerDebugDisplay(const std::string& msg);

protected:
    void ChangeState(TSocketState newState);
    // Setter of Addr, Port, Proto: only while closed; blanks leave the value unassigned.
    bool SetRemoteText(std::string& field, bool& assigned, bool& resolved, const std::string& v, const char* what);
    // Takes the last socket error, closes on reset/not connected, stores it and reports it.
    void SocketError(const std::string& operation);
    void SetLingerOption();
    void ResolvePortAndAddr(const std::string& portProto);
    // New descriptor for Connect/Listen (queue emptied, new generation); false after reporting.
    bool CreateHandle(const char* operation);
    bool ReadBufferSizes();
    // A pending look-up is dropped silently and the results cleared.
    void ClearLookup();
    void SetKeepAliveOption();
    // A send found the connection broken (reset, aborted, gone): closes and reports it, after the
    // owner has read what the peer sent before the break. A layer that must end its own protocol
    // first (TLS) takes the error instead.
    virtual void SendBroken(int error);
    // Bytes the kernel holds for reading (0 when it cannot tell).
    int WaitingByteCount() const;
    // Bytes of this connection the peer's kernel has acknowledged, counted from the first byte sent
    // on it; -1 when the kernel cannot tell.
    int64_t AcknowledgedByteCount() const;
    // Bytes of this connection the kernel has taken so far (the acknowledged ones and the others).
    int64_t SentByteCount() const { return FSentCount; }
    // Runs the receive loop (read event, or close event without nsoNoReceiveLoop).
    void ASyncReceive(uint16_t error, TNetSocketOptions options);
    // Posts a message to the component's own notification object.
    bool PostMessageToSelf(unsigned msg, intptr_t wParam = 0, intptr_t lParam = 0);
    // Posts a write event for the current connection.
    void PostWriteEvent();
    // (Re)arms the notifiers for the selected events of the current descriptor.
    void SelectEvents(uint16_t mask);
    void DeselectEvents();
    // The descriptor is forgotten: notifiers gone, the generation moves on.
    void ForgetHandle();
    bool IsDestroying() const { return FDestroying; }
    // Weak token: expired once the component is destroyed (handlers may free it).
    std::weak_ptr<int> AliveToken() const { return FAlive; }
    int ConsumeSerial() const { return FRecvSerial; }
    uint64_t Generation() const { return FGeneration; }
    bool HasWindow() const { return FWindow != nullptr; }

    TSocket FHSocket = INVALID_SOCKET;
    TSocketState FState = wsClosed;
    std::string FAddrStr;
    std::string FPortStr;
    std::string FProtoStr;
    std::string FLocalAddr;
    std::string FLocalPortStr;
    bool FAddrAssigned = false;
    bool FPortAssigned = false;
    bool FProtoAssigned = false;
    bool FAddrResolved = false;
    bool FPortResolved = false;
    bool FProtoResolved = false;
    bool FLocalPortResolved = false;
    int FLocalPortNum = 0;
    sockaddr_in Fsin{};
    int FProto = IPPROTO_TCP;
    int FType = SOCK_STREAM;
    bool FCloseInvoked = false;
    bool FPaused = false;
    bool FTerminated = false;
    uint16_t FSelectEvent = 0;
    bool FAllSent = true;
    int FSocketSndBufSize = 0;
    int FSocketRcvBufSize = 0;
    TSendChunks FBufList;
    static constexpr int kGatherSize = 64 * 1024;
    std::vector<char> FGather;  // queued chunks joined for one write
    int FBufSize = 1460;
    int FBufferedByteCount = 0;
    int64_t FSentCount = 0;   // bytes the kernel took on this connection
    int FBrokenError = 0;     // a send met this break; the owner reads what waits before it hears of it
    int64_t FReadCount = 0;
    std::string FDnsResult;
    std::vector<std::string> FDnsResultList;
    int FDnsLookupHandle = 0;

private:
    friend class TNetSocketCloser;
    void OnReadReady();
    void OnWriteReady();
    void UpdateNotifiers();
    void DispatchMessage(TNetMessage& msg);
    void DeliverSelect(uint16_t bits, uint16_t error);
    void HostLookupDone(int id, bool reverse, int error, const std::vector<std::string>& results);

    TSocketSendFlags FSendFlags = wsSendNormal;
    QPointer<TNetLogger> FNetLogger;
    TNetSocketWindow* FWindow = nullptr;
    QSocketNotifier* FReadNotifier = nullptr;
    QSocketNotifier* FWriteNotifier = nullptr;
    uint64_t FGeneration = 1;
    bool FReadHeld = false;
    bool FCloseReported = false;
    bool FConnectPending = false;
    bool FWritePending = false;
    bool FDestroying = false;
    int FRecvSerial = 0;
    std::shared_ptr<int> FAlive = std::make_shared<int>(0);
};

// Resolution functions (blocking). All raise ESocketException on failure.
bool NetSocketIsDottedIP(const std::string& s);
// IPv4 address in network order.
uint32_t NetSocketResolveHost(const std::string& host);
// Port number in host order.
uint16_t NetSocketResolvePort(const std::string& port, const std::string& proto);
int NetSocketResolveProto(const std::string& proto);
// Host name of a dotted address, or empty text.
std::string NetSocketResolveIp(const std::string& address);
// Every IPv4 address of a name, in order (empty when none; throws on an invalid name).
std::vector<std::string> NetSocketGetHostByName(const std::string& name);
// Host name followed by its aliases (empty when unknown).
std::vector<std::string> NetSocketGetHostByAddr(const std::string& address);
std::string LocalHostName();
const std::vector<std::string>& LocalIPList();
