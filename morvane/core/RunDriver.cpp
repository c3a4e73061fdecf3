#include "morvane/core/RunDriver.h"

#include "morvane/core/FortranIO.h"
#include "morvane/core/ResultFiles.h"
#include "morvane/core/Screening.h"
#include "morvane/core/Tables.h"

#include <filesystem>
#include <utility>
#include <vector>

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

void RefuseOutputOverInput(const RunParams &params, const std::string &parameterFile) {
  std::vector<std::pair<std::string, std::string>> inputs; // name, what it is
  if (!parameterFile.empty())
    inputs.emplace_back(parameterFile, "parámetros");
  inputs.emplace_back(params.calibrationFile, "calibrado");
  if (params.ozoneMode == -1)
    inputs.emplace_back(params.ozoneFile, "ozono");
  if (params.no2Mode == -1)
    inputs.emplace_back(params.no2File, "NO2");
  for (const auto &name : params.dataFiles)
    inputs.emplace_back(name, "datos");
  for (const char *table : {"instruments.dat", "espectro.dat", "ozono.dat", "no2.dat", "tw.dat"})
    inputs.emplace_back(TablePath(table), "tablas");
  std::vector<std::string> results = {TrimRight(params.outputFile)};
  if (params.cloudScreening)
    results.push_back(ScreenedName(params.outputFile));
  // Nor are the results written over the run's own working files in the working folder: the scratch
  // file and the graph hand-off (which does not exist yet in a fresh folder).
  namespace fs = std::filesystem;
  const auto normal = [](const std::string &name) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(name, ec);
    const fs::path real = fs::weakly_canonical(absolute, ec);
    return ec ? absolute.lexically_normal() : real;
  };
  for (const auto &out : results)
    for (const char *work : {"temporal", "temporalg"})
      if (normal(out) == normal(work))
        throw Failure(FailureKind::Output,
                      "El fichero de salida " + out + " es el fichero de trabajo " + work + ": no se sobrescribe");
  std::vector<std::string> outputs = results;
  outputs.push_back("temporalg");
  for (const auto &out : outputs)
    for (const auto &[name, what] : inputs) {
      std::error_code ec; // a file that does not exist is no input of anything
      if (!TrimRight(name).empty() && std::filesystem::equivalent(out, TrimRight(name), ec))
        throw Failure(FailureKind::Output, "El fichero de salida " + out + " es el fichero de " + what + " " + name +
                                               ": no se sobrescribe");
    }
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
    RefuseOutputOverInput(params, parameterFile);
    result.resultFile = params.cloudScreening ? ScreenedName(params.outputFile) : TrimRight(params.outputFile);
    result.summary = RunMorvane(params, diag, params.cloudScreening ? result.resultFile : std::string());
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
