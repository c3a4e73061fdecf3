#pragma once
// TLS layer of the socket chain. Until TLS is built it passes everything through to the SOCKS layer
// below; the virtuals of TCustomNetSocket it will override are listed in the core header.
#include "sockets/SocksLayer.h"

class TCustomSslNetSocket : public TCustomSocksNetSocket {
public:
    TCustomSslNetSocket();
    ~TCustomSslNetSocket() override;
};
