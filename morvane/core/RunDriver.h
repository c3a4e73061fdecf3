#pragma once
// One run from start to end: the parameters, the computation, the screening and the graph hand-off file.

#include "morvane/core/Compute.h"
#include "morvane/core/RunParams.h"

#include <ostream>
#include <string>

namespace morvane {

enum class InputMode { Manual = 1, ParameterFile = 2 };

struct RunResult {
  int status = 0;      // 0 computed, -1 parameter file unreadable, -2 any other failure
  std::string message; // "Terminated " or the failure's message
  int exitCode = 0;    // 0 success; the failure kind otherwise
  std::string resultFile;
  ComputeSummary summary;
};

// Runs one computation. In parameter-file mode the file is read first (all ten wavelength flags set).
// Manual runs compute the pressure from the altitude. Writes "temporalg" in the working folder after a
// successful run. Notes go to diag.
RunResult ProcesoCalculo(RunParams &params, InputMode mode, const std::string &parameterFile, std::ostream &diag);

// Throws Failure(Output) when a file the run writes (the result files, "temporalg") is one of its
// inputs, before anything is computed.
void RefuseOutputOverInput(const RunParams &params, const std::string &parameterFile);

// The graph hand-off file's content.
std::string GraphHandOff(const std::string &resultFile, bool screened, int totalColumns, int nsel, int ncomb,
                         bool vapour);

} // namespace morvane
