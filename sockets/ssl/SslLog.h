#pragma once
// Bridge from the TLS layer to the socket logger.
#include <string>

#if __has_include("sockets/NetLogger.h")
#include "sockets/NetLogger.h"
#define ZELT_SSL_HAVE_NETLOGGER 1
#else
enum TLogOption {
  loDestEvent, loDestFile, loDestOutDebug, loAddStamp, loNetSockErr, loNetSockInfo, loNetSockDump,
  loSslErr, loSslInfo, loSslDump, loProtSpecErr, loProtSpecInfo, loProtSpecDump
};
class TNetLogger;
#endif

// True when the logger is present and wants lines of this category.
bool SslLogWanted(const TNetLogger* logger, TLogOption option);
void SslLogLine(TNetLogger* logger, void* sender, TLogOption option, const std::string& line);
