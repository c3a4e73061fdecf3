#include "sockets/SslLayer.h"

TCustomSslNetSocket::TCustomSslNetSocket() = default;
TCustomSslNetSocket::~TCustomSslNetSocket() = default;
