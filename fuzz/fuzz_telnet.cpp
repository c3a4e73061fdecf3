// Any bytes from a telnet server, in the chunks a socket delivers them, as the telnet medium (or, built
// with FUZZ_TELCOM, the remote serial port with its COM-PORT option) parses them: negotiation,
// sub-negotiation and commands must not crash, hang or hold more than a sub-negotiation's head, and
// the data bytes come out in order with IAC IAC as one 255.
#include "fuzz/FuzzSupport.h"
#include "station/link/media/net/TelCom.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

#ifdef FUZZ_TELCOM
using TClient = TTelComClient;
#else
using TClient = TTelnetClient;
#endif

// Exposes the parser state that must stay bounded.
class TProbe : public TClient {
public:
  size_t SubTextSize() const { return SubText.size(); }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  EnsureFuzzApplication();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  TProbe client;
  std::string delivered;
  client.OnData = [&](TIPClient*, const char* d, int n) { delivered.append(d, static_cast<size_t>(n)); };
  // Negotiating first (data held until the link is ready), then ready, as a connection goes.
  client.State = (size > 0 && (data[0] & 1)) ? TTelnetClient::tsNegotiating : TTelnetClient::tsReady;
  size_t fed = 0;
  for (const std::string& chunk : FuzzChunks(data, size)) {
    client.Received(chunk.data(), static_cast<int>(chunk.size()));
    fed += chunk.size();
    if (client.SubTextSize() > 64) __builtin_trap();
  }
  if (delivered.size() > fed) __builtin_trap();
  RunFuzzEvents();
  return 0;
}
