// Any bytes from the handheld as replies of the framed link, in the chunks a serial port delivers them,
// the owner sending its next command from inside each result as the import does: the frame parser must
// not crash or hang, and a reply holds only bytes that came.
#include "fuzz/FuzzSupport.h"
#include "station/link/ComControl.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  EnsureFuzzApplication();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  TComControl link(nullptr);
  size_t fed = 0;
  int results = 0;
  // What a command sent on an open port arms.
  auto arm = [&link] {
    link.Waiting = true;
    link.InFrame = true;
    link.InChecksum = false;
    link.Data.clear();
    link.Checksum.clear();
  };
  link.OnResult = [&](int code) {
    if (code != 0 && code != -1) __builtin_trap();
    if (link.Data.size() > fed) __builtin_trap();
    if (code == 0 && link.Data.find('\x02') != std::string::npos) __builtin_trap();
    if (++results % 2) arm();  // every other reply ends the exchange: later bytes wait for no command
  };
  arm();
  for (const std::string& chunk : FuzzChunks(data, size)) {
    fed += chunk.size();
    if (!link.Waiting && (fed & 7) == 0) arm();
    link.DataReceived(chunk.data(), static_cast<int>(chunk.size()));
    if (link.Data.size() > fed || link.Checksum.size() > 2) __builtin_trap();
  }
  RunFuzzEvents();
  return 0;
}
