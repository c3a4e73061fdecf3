#pragma once
// The Level 1 (.tao) and cloud-screened (.ta2) result files: header, fixed-width rows, names.

#include <string>
#include <vector>

namespace morvane {

struct InstrumentDesc;

constexpr int kHeaderLength = 500;
constexpr double kMarker = 1e-05; // written where no optical depth could be computed

// Header line (exactly 500 characters, blank padded) for the selected positions (1-based) and the
// number of combinations.
std::string BuildHeader(const InstrumentDesc &inst, const std::vector<int> &selected, int ncomb, bool vapour);

// One result row: the ten leading fields and the value columns.
struct ResultRow {
  long year = 0, month = 0, day = 0, hour = 0, minute = 0;
  double second = 0, n = 0, mass = 0, temperature = 0;
  long cloud = 0;
};

// (I5,4(1X,I3),1X,F6.3,1X,F12.5,1X,F11.5,1X,F7.2,1X,I2,120(1X,E14.6)); the .ta2 rows have one more
// blank in front. No line end.
void AppendResultRow(std::string &out, const ResultRow &row, const double *values, int count, bool screened);

// The screened file's name: a three-letter extension replaced by "ta2", else ".ta2" appended; never the
// input name itself.
std::string ScreenedName(const std::string &output);

// Writes the whole file through a temporary file in the same folder; throws Failure(Output) on error.
void WriteFileAtomically(const std::string &path, const std::string &content);

} // namespace morvane
