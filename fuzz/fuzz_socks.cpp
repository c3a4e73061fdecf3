// Any bytes from a SOCKS proxy as the replies of a SOCKS 4, 4A or 5 negotiation (with or without
// user-name authentication), in the chunks a socket delivers them: the reply parser must not crash,
// hang or read past what came, and must end in the data state or an error.
#include "fuzz/FuzzSupport.h"
#include "sockets/NetSocket.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

// Feeds reply bytes to the negotiation as if the proxy had sent them.
class TProbe : public TCustomSocksNetSocket {
public:
  void Start(int kind)
  {
    static const char* const levels[] = {"4", "4A", "5", "5"};
    SetAddr("127.0.0.1");
    SetPort("7");
    FSocksLevel = levels[kind & 3];
    SocksAuthentication = (kind & 3) == 3 ? socksAuthenticateUsercode : socksNoAuthentication;
    SocksUsercode = "user";
    SocksPassword = "pass";
    FSocksAuthNumber = (kind & 3) == 3 ? 2 : 0;
    FSocksState = FSocksLevel[0] == '4' ? socksConnect : socksNegociateMethods;
    if (kind & 4) FSocksState = socksAuthenticate;
  }
  bool Feed(const std::string& bytes)
  {
    if (FSocksState == socksData) return false;
    FRcvBuf += bytes;
    ProcessReply();
    return true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  EnsureFuzzApplication();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size < 1) return 0;
  {
    TProbe socket;
    // Sends on the unconnected socket fail through the error handler, never as an exception.
    socket.OnError = [](TCustomNetSocket*) {};
    socket.Start(data[0]);
    for (const std::string& chunk : FuzzChunks(data + 1, size - 1))
      if (!socket.Feed(chunk)) break;
  }
  RunFuzzEvents();
  return 0;
}
