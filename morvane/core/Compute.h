#pragma once
// One optical-depth run: instrument, tables, calibration and data files in; the Level 1 file out.

#include "morvane/core/RunParams.h"

#include <ostream>
#include <string>
#include <vector>

namespace morvane {

struct ComputeSummary {
  int nsel = 0;           // selected wavelengths
  int ncomb = 0;          // alpha combinations
  bool vapour = false;    // water-vapour columns written
  int place440 = 0;       // place of the 440 nm channel among the selected wavelengths (1-based), 0 = none
  int valueColumns = 0;   // value columns of every row
  long records = 0;       // rows written
};

// Runs the computation on params and writes params.outputFile, and, when screenedFile is not empty, the
// cloud-screened file from the rows as written. Skipped records and fallbacks are said on diag. Throws
// Failure on any fault, before the output files are written.
ComputeSummary RunMorvane(const RunParams &params, std::ostream &diag, const std::string &screenedFile = {});

} // namespace morvane
