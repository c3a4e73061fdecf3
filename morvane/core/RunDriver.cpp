#include "morvane/core/RunDriver.h"

#include "morvane/core/FortranIO.h"
#include "morvane/core/ResultFiles.h"
#include "morvane/core/Screening.h"
#include "morvane/core/Tables.h"

namespace morvane {

std::string GraphHandOff(const std::string &resultFile, bool screened, int totalColumns, int nsel, int ncomb,
                         bool vapour) {
  std::string name = resultFile;
  // The unscreened name goes out as the fixed 256-character field it is held in.
  if (!screened && name.size() < 256)
    name.resize(256, ' ');
  return name + '\n' + ListDirectedInt(totalColumns) + '\n' + ListDirectedInt(nsel) + '\n' + ListDirectedInt(ncomb) +
         '\n' + ListDirectedLogical(vapour) + '\n';
}

RunResult ProcesoCalculo(RunParams &params, InputMode mode, const std::string &parameterFile, std::ostream &diag) {
  RunResult result;
  if (mode == InputMode::ParameterFile) {
    std::string why;
    params.useWavelength.fill(true);
    if (!ReadParameterFile(parameterFile, params, why)) {
      result.status = -1;
      result.message = "Fallo en el fichero de datos de entrada";
      result.message.resize(40, ' ');
      result.exitCode = static_cast<int>(FailureKind::ParameterFile);
      diag << "morvane: " << parameterFile << ": " << why << '\n';
      return result;
    }
  } else {
    params.pressure = -1;
  }
  try {
    result.summary = RunMorvane(params, diag);
    result.resultFile = TrimRight(params.outputFile);
    if (params.cloudScreening) {
      result.resultFile = ScreenedName(params.outputFile);
      ScreenClouds(params.outputFile, result.resultFile, result.summary.valueColumns, result.summary.place440, diag);
    }
  } catch (const Failure &f) {
    result.status = -2;
    result.message = f.what();
    result.exitCode = static_cast<int>(f.kind());
    return result;
  }
  // The hand-off only serves the chart program: the results stand without it.
  try {
    WriteFileAtomically("temporalg", GraphHandOff(result.resultFile, params.cloudScreening,
                                                  result.summary.valueColumns + 10, result.summary.nsel,
                                                  result.summary.ncomb, result.summary.vapour));
  } catch (const Failure &f) {
    diag << "morvane: " << f.what() << '\n';
  }
  result.message = "Terminated ";
  return result;
}

} // namespace morvane
