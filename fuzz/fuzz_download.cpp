// Any bytes from an instrument, in the chunks a link delivers them, through the download engine of the
// station program: identification, clock and parameter replies and event frames on a direct link
// (first byte even) or a modem link (odd). The engine must not crash, hang or grow without bound.
#include "fuzz/FuzzSupport.h"
#include "station/StationCore.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

class TQuietView : public TStationView {};

// The engine waits on the clock (a second before a clock command, a tenth at the end, until a
// target time to set the clock): here waiting only moves the engine's clock on.
double gWaitedDays = 0;

}  // namespace

// Linked with --wrap for Delay, NowUTC and NowLocal.
extern "C" double __real__Z6NowUTCv();
extern "C" double __real__Z8NowLocalv();
extern "C" void __wrap__Z5Delayjb(unsigned ms, bool) { gWaitedDays += ms / 86400000.0; }
extern "C" double __wrap__Z6NowUTCv() { return __real__Z6NowUTCv() + gWaitedDays; }
extern "C" double __wrap__Z8NowLocalv() { return __real__Z8NowLocalv() + gWaitedDays; }

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  FuzzScratchDir();
  LoadFuzzDescriptions();
  EnsureFuzzApplication();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size < 1) return 0;
  {
    TQuietView view;
    TStationCore core(&view);
    core.Settings.TypeCom = (data[0] & 1) ? TypeComModem : TypeComSerial;
    core.Settings.AutoRecord = false;
    int n = 0;
    for (const std::string& chunk : FuzzChunks(data + 1, size - 1)) {
      core.ProcessReceivedData(nullptr, chunk.data(), static_cast<int>(chunk.size()));
      // The task timer runs between chunks now and then, as time passes on a slow link.
      if (++n % 8 == 0) core.ComTasksTimerTimer();
    }
    core.ProcessReceivedData(nullptr, nullptr, 0);
  }
  RunFuzzEvents();
  return 0;
}
