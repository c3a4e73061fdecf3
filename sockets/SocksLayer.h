#pragma once
// SOCKS client layer of the socket chain.
#include "sockets/NetSocketCore.h"

class TCustomSocksNetSocket : public TCustomNetSocket {
public:
    // True while a SOCKS negotiation is running (the layers above leave the data alone).
    bool SocksNegotiating() const { return false; }
};
