#pragma once
// The Level 1 (.tao) and cloud-screened (.ta2) result files: header, fixed-width rows, names.

#include "morvane/core/Tables.h"

#include <string>
#include <vector>

namespace morvane {

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

// A file written through a temporary file in the same folder and renamed over the target on Commit, so
// that a fault never leaves a half-written file; text goes to buffer and out in chunks (MaybeFlush).
// Throws Failure(Output) on error; without Commit the temporary file is removed.
class AtomicFile {
public:
  explicit AtomicFile(const std::string &path);
  ~AtomicFile();
  AtomicFile(const AtomicFile &) = delete;
  AtomicFile &operator=(const AtomicFile &) = delete;
  void MaybeFlush() {
    if (buffer.size() >= kChunk)
      Flush();
  }
  void Commit();
  std::string buffer;

private:
  static constexpr size_t kChunk = 1 << 20;
  void Flush();
  Failure Fail(int err) const;
  std::string path_, temp_;
  int fd_ = -1;
};

// The whole file at once, through AtomicFile.
void WriteFileAtomically(const std::string &path, const std::string &content);

} // namespace morvane
