#pragma once
// SOCKS client layer: with SocksServer set, Connect reaches the proxy, runs the SOCKS 4, 4A or 5
// negotiation (user name and password for 5) and only then reports the session connected.
#include <functional>
#include <string>

#include "sockets/NetSocketCore.h"

enum TSocksState { socksData, socksNegociateMethods, socksAuthenticate, socksConnect };
enum TSocksAuthentication { socksNoAuthentication, socksAuthenticateUsercode };
enum TSocksAuthState { socksAuthStart, socksAuthSuccess, socksAuthFailure, socksAuthNotRequired };

using TSocksErrorEvent = std::function<void(TCustomNetSocket* Sender, int Error, const std::string& Msg)>;
using TSocksAuthStateEvent = std::function<void(TCustomNetSocket* Sender, TSocksAuthState AuthState)>;

class TCustomSocksNetSocket : public TCustomNetSocket {
public:
    const std::string& SocksLevel() const { return FSocksLevel; }
    void SetSocksLevel(const std::string& v);
    const std::string& SocksServer() const { return FSocksServer; }
    virtual void SetSocksServer(const std::string& v);
    const std::string& SocksPort() const { return FSocksPortStr; }
    virtual void SetSocksPort(const std::string& v);
    std::string SocksUsercode;
    std::string SocksPassword;
    TSocksAuthentication SocksAuthentication = socksNoAuthentication;
    TSessionConnected OnSocksConnected;
    TSocksErrorEvent OnSocksError;
    TSocksAuthStateEvent OnSocksAuthState;
    // Bound address and port the version-5 server reported.
    const std::string& BoundAddr() const { return FBoundAddr; }
    const std::string& BoundPort() const { return FBoundPort; }

    // True while a SOCKS negotiation is running (the layers above leave the data alone).
    bool SocksNegotiating() const { return FSocksState != socksData; }

    void AssignDefaultValue() override;
    int GetRcvdCount() override;
    bool TriggerDataAvailable(uint16_t error) override;
    void TriggerSessionConnectedSpecial(uint16_t error) override;
    void TriggerSessionClosed(uint16_t error) override;
    int DoRecv(void* buffer, int len, int flags) override;
    void Connect() override;
    void Listen() override;

    virtual void TriggerSocksConnected(uint16_t error);
    virtual void TriggerSocksError(int error, const std::string& msg);
    virtual void TriggerSocksAuthState(TSocksAuthState state);

protected:
    void SocksDoConnect();
    void SocksDoAuthenticate();
    void SendNegotiation(const std::string& bytes);
    void DataAvailableError(int code, const std::string& text);
    // Ends the negotiation: the session is connected, bytes behind the reply are application data.
    void NegotiationDone(size_t replyLength);
    // Handles what the reply buffer holds; false once the negotiation ended or failed.
    void ProcessReply();

    TSocksState FSocksState = socksData;
    std::string FSocksLevel = "5";
    std::string FSocksServer;
    std::string FSocksPortStr;
    bool FSocksServerAssigned = false;
    bool FSocksPortAssigned = false;
    uint16_t FSocksDestPort = 0;  // host order
    uint8_t FSocksAuthNumber = 0;
    std::string FRcvBuf;   // reply bytes received so far (any length)
    std::string FRcvdData; // application bytes that came behind the final reply
    std::string FBoundAddr;
    std::string FBoundPort;
};
