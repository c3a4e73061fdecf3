#include "sockets/ssl/SslLog.h"

#ifdef ZELT_SSL_HAVE_NETLOGGER
bool SslLogWanted(const TNetLogger* logger, TLogOption option) {
  return logger && logger->LogOptions().Contains(option);
}
void SslLogLine(TNetLogger* logger, void* sender, TLogOption option, const std::string& line) {
  if (logger) logger->DoDebugLog(sender, option, line);
}
#else
// Without the socket logger nothing asks for diagnostics.
bool SslLogWanted(const TNetLogger*, TLogOption) { return false; }
void SslLogLine(TNetLogger*, void*, TLogOption, const std::string&) {}
#endif
