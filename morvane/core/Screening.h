#pragma once
// Cloud screening of the Level 1 file into the .ta2 file.

#include "morvane/core/ResultFiles.h"

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

struct ScreeningSummary {
  long read = 0, written = 0, malformed = 0;
};

// The screened file built record by record, in the .tao file's order. valueColumns: value columns of
// every row; place440: place of the 440 nm channel among the selected wavelengths (0 = none: only the
// cloud flag is tested). taoPath names the Level 1 file in notes.
class CloudScreen {
public:
  CloudScreen(const std::string &taoPath, const std::string &ta2Path, const std::string &header, int valueColumns,
              int place440, std::ostream &diag);
  CloudScreen(const CloudScreen &) = delete;
  CloudScreen &operator=(const CloudScreen &) = delete;

  // A record read back from a .tao line: 10 + valueColumns values.
  void AddValues(const double *row);
  // A line as this program writes it into the .tao file (AppendResultRow): the values it reads back as
  // are those of its own text, and the .ta2 line it gives is that text one column to the right.
  void AddLine(std::string_view line);
  // A line that does not read back as a record: counted, and said in Finish.
  void SkipMalformed() { ++sum_.malformed; }
  // Screens the last day and renames the file into place; throws Failure(Output) when it cannot.
  ScreeningSummary Finish();

private:
  struct Kept {
    double n = 0, tau = 0;
    std::string line; // the .ta2 line
  };
  // The next entry of the day, its line empty.
  Kept &NextKept(double n, double tau);
  // Starts a new day when the record's day differs; false when the record stays out of every day.
  bool Admit(double n, double cloud, double tau);
  void FlushDay();

  std::string taoPath_;
  AtomicFile out_;
  int valueColumns_;
  size_t c440_; // 0-based column of the 440 nm depth, 0 = none
  std::ostream &diag_;
  ScreeningSummary sum_;
  bool haveDay_ = false;
  long dayNumber_ = 0;
  std::vector<Kept> day_; // the first dayCount_ entries are the day's
  size_t dayCount_ = 0;
  std::vector<double> tau_, time_;
};

// Screens taoPath into ta2Path (reads the .tao file back).
// Throws Failure on an unreadable input or an unwritable output.
ScreeningSummary ScreenClouds(const std::string &taoPath, const std::string &ta2Path, int valueColumns, int place440,
                              std::ostream &diag);

// The day screening alone: taus and times of one day's clear records in time order; returns the indices
// kept (empty when the day is dropped).
std::vector<size_t> ScreenDay(const std::vector<double> &tau440, const std::vector<double> &time);

} // namespace morvane
