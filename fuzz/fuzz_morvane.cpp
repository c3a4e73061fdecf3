// Any bytes as one of the optical-depth program's input files, chosen at build time by FUZZ_MORVANE:
// 1 the parameter file "inputpar.dat", 2 a calibration file, 3 one of its tables (the first byte picks
// which), 4 a data file of sun measurements or a daily ozone file, run through the whole computation.
// Reading must not crash or hang; a bad file ends in the program's own failure.
#include "fuzz/FuzzSupport.h"
#include "morvane/core/Calibration.h"
#include "morvane/core/Compute.h"
#include "morvane/core/RunParams.h"
#include "morvane/core/Tables.h"

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

using namespace morvane;

namespace {

// The first instrument of the installed table: nine channels, the water vapour on the sixth.
const InstrumentDesc& Instrument()
{
  static const InstrumentDesc inst = ReadInstrument(TablePath("instruments.dat"), 1);
  return inst;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  FuzzScratchDir();
  Instrument();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size < 1) return 0;
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::ostringstream diag;
  try {
#if FUZZ_MORVANE == 1
    RunParams params;
    std::string why;
    ReadParameterFile(FuzzWriteFile("inputpar.dat", FuzzBytes(data, size)), params, why);
    if (params.dataFiles.size() > size_t(kMaxDataFiles) || params.combinations.size() > size_t(kMaxCombinations))
      __builtin_trap();
#elif FUZZ_MORVANE == 2
    Calibration cal;
    const int nwl = 1 + data[0] % kMaxWavelengths;
    cal.Load(FuzzWriteFile("calibr.cal", bytes), nwl);
    double out[kMaxWavelengths];
    for (double n : {-1e6, 0.0, 9000.0, 1e6}) cal.ConstantsAt(n, out);
#elif FUZZ_MORVANE == 3
    SpectralTables tables;
    switch (data[0] % 5) {
    case 0: ReadInstrument(FuzzWriteFile("instruments.dat", bytes), 1 + data[0] / 5 % 4); break;
    case 1: CalTrans(FuzzWriteFile("espectro.dat", bytes), Instrument(), tables); break;
    case 2: KOzono(FuzzWriteFile("ozono.dat", bytes), Instrument(), tables); break;
    case 3: KNo2(FuzzWriteFile("no2.dat", bytes), Instrument(), tables); break;
    default: {
      const VapourTable tw = ReadVapourTable(FuzzWriteFile("tw.dat", bytes));
      Vapor(tw, 0.5, 2.0, 0.9);
      break;
    }
    }
#else
    static const std::string calibration = FuzzWriteFile(
        "calibr1.cal", "2024 1 1 9000 9100 9200 9300 9400 9500 9600 9700 9800\n"
                       "2026 1 1 9010 9110 9210 9310 9410 9510 9610 9710 9810\n");
    RunParams params;
    params.instrumentCode = 1;
    params.calibrationFile = calibration;
    params.outputFile = FuzzScratchDir() + "/result";
    params.cloudScreening = data[0] & 1;
    params.latitude = 48.8f;
    params.longitude = 2.3f;
    params.altitude = 100;
    for (int w : {0, 1, 2, 3, 4, 6}) params.useWavelength[size_t(w)] = true;
    params.combinations = {{1, 2}, {3, 4}};
    if (data[0] & 2) {
      // The daily ozone amounts from a file; the measurements from a fixed small file.
      params.ozoneMode = -1;
      params.ozoneFile = FuzzWriteFile("ozone.dat", bytes);
      std::string line = "21 6 2025 10 0 0";
      for (int k = 0; k < 27; ++k) line += " " + std::to_string(9000 - 50 * k);
      params.dataFiles = {FuzzWriteFile("fixed.nsu", line + " 25.00\n")};
    } else {
      params.dataFiles = {FuzzWriteFile((data[0] & 4) ? "data.ssk" : "data.nsu", bytes)};
    }
    RunMorvane(params, diag);
#endif
  } catch (const Failure&) {
  }
  return 0;
}
