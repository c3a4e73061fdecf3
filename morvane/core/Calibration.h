#pragma once
// Calibration constants (extraterrestrial counts) per date, interpolated in time.

#include <string>
#include <vector>

namespace morvane {

struct ListRecord;

// A "year month day v1 .. vn" record: the day count of the date at 0 h and the n values. False when
// malformed; exact also refuses extra fields.
bool ParseDatedRecord(const ListRecord &rec, size_t values, bool exact, double &n, double *out);

class Calibration {
public:
  // Reads "year month day c1 .. c_nwl" lines; blank lines are skipped. Throws Failure(Calibration) naming
  // the file and line when a line has another field count (decimal commas among them), an impossible
  // date or a negative constant, and when the file cannot be read or has no line.
  void Load(const std::string &path, int nwl);

  // Constants at time n (days since 2000-01-01 0 h): before the first date the first line, after the
  // last the last line, otherwise linear in time between the dates around n. A filter not calibrated
  // at either of those dates gets 0 there: a blend with its placeholder would pass for a constant.
  // zeroLine, when given, receives for each constant the file line (from 1) whose 0 leaves it at 0
  // there, else 0.
  void ConstantsAt(double n, double *out, long *zeroLine = nullptr) const;

  size_t size() const { return lines_.size(); }
  // A constant of 0: a filter not calibrated at that date.
  struct Uncalibrated {
    long line;    // of the file, from 1
    int position; // of the constant, from 1
  };
  // Every such constant, in the file's order.
  const std::vector<Uncalibrated> &Zeros() const { return zeros_; }
  const std::string &path() const { return path_; }

private:
  struct Line {
    double n;
    std::vector<double> c;
    long fileLine;
  };
  std::vector<Line> lines_;
  std::vector<Uncalibrated> zeros_;
  std::string path_;
  int nwl_ = 0;
};

} // namespace morvane
