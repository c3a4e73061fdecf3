#include "morvane/core/Screening.h"

#include "morvane/core/FortranIO.h"
#include "morvane/core/ResultFiles.h"
#include "morvane/core/Tables.h"

#include <cmath>
#include <fstream>

namespace morvane {

namespace {
constexpr double kStability = 0.015; // standard deviation of tau440 within a day
constexpr double kSmoothness = 16.0;

double StdDev(const std::vector<double> &tau, const std::vector<size_t> &rows) {
  double mean = 0;
  for (size_t i : rows)
    mean += tau[i];
  mean /= static_cast<double>(rows.size());
  double ss = 0;
  for (size_t i : rows)
    ss += (tau[i] - mean) * (tau[i] - mean);
  return std::sqrt(ss / static_cast<double>(rows.size() - 1));
}
} // namespace

std::vector<size_t> ScreenDay(const std::vector<double> &tau, const std::vector<double> &t) {
  std::vector<size_t> rows(tau.size());
  for (size_t i = 0; i < rows.size(); ++i)
    rows[i] = i;
  if (rows.size() < 3)
    return rows;
  while (StdDev(tau, rows) > kStability) {
    // Second differences of ln tau in time; a pair with no time between its points is left out.
    const size_t n = rows.size();
    std::vector<double> d(n - 2, 0.0);
    std::vector<bool> valid(n - 2, false);
    double ss = 0;
    int count = 0;
    for (size_t i = 0; i + 2 < n; ++i) {
      const size_t a = rows[i], b = rows[i + 1], c = rows[i + 2];
      const double dt1 = t[a] - t[b], dt2 = t[b] - t[c];
      if (dt1 == 0 || dt2 == 0)
        continue;
      d[i] = (std::log(tau[a]) - std::log(tau[b])) / dt1 - (std::log(tau[b]) - std::log(tau[c])) / dt2;
      valid[i] = true;
      ss += d[i] * d[i];
      ++count;
    }
    if (count == 0 || std::sqrt(ss / count) <= kSmoothness)
      break;
    size_t worst = 0;
    bool any = false;
    for (size_t i = 0; i + 2 < n; ++i)
      if (valid[i] && (!any || d[i] * d[i] > d[worst] * d[worst])) {
        worst = i;
        any = true;
      }
    size_t drop = worst;
    for (size_t k = worst + 1; k <= worst + 2; ++k)
      if (tau[rows[k]] > tau[rows[drop]])
        drop = k;
    rows.erase(rows.begin() + static_cast<long>(drop));
    if (rows.size() < 3)
      return {};
  }
  return rows;
}

CloudScreen::CloudScreen(const std::string &taoPath, const std::string &ta2Path, const std::string &header,
                         int valueColumns, int place440, std::ostream &diag)
    : taoPath_(taoPath), out_(ta2Path), valueColumns_(valueColumns),
      c440_(place440 > 0 ? static_cast<size_t>(9 + place440) : 0), diag_(diag) {
  out_.buffer = header + '\n';
  if (place440 <= 0)
    diag << "morvane: sin canal de 440 nm seleccionado: el filtrado sólo descarta los registros nubosos\n";
}

bool CloudScreen::Admit(double n, double cloud, double tau) {
  ++sum_.read;
  const long number = static_cast<long>(std::floor(n));
  if (!haveDay_ || number != dayNumber_) {
    if (haveDay_)
      FlushDay();
    dayNumber_ = number;
    haveDay_ = true;
  }
  // Cloudy records and records without a positive 440 nm optical depth never enter a day; nor those
  // whose 440 nm depth is the placeholder of one not computed (a filter not calibrated).
  return !(cloud == 1 || (c440_ && (!(tau > 0) || tau == kMarker)));
}

void CloudScreen::AddValues(const double *v) {
  if (!Admit(v[6], v[9], c440_ ? v[c440_] : 0))
    return;
  ResultRow r;
  r.year = static_cast<long>(v[0]);
  r.month = static_cast<long>(v[1]);
  r.day = static_cast<long>(v[2]);
  r.hour = static_cast<long>(v[3]);
  r.minute = static_cast<long>(v[4]);
  r.second = v[5];
  r.n = v[6];
  r.mass = v[7];
  r.temperature = v[8];
  r.cloud = static_cast<long>(v[9]);
  Kept &k = NextKept(v[6], c440_ ? v[c440_] : 0);
  AppendResultRow(k.line, r, v + 10, valueColumns_, true);
}

void CloudScreen::AddLine(std::string_view line) {
  // Such a line fails to read back only where a field overflowed into asterisks. Re-writing the values
  // it reads as gives its own text again, so the .ta2 line is the text shifted by one blank.
  auto field = [&](size_t from, size_t width, double &value) {
    std::string_view f = line.substr(from, width);
    while (!f.empty() && f.front() == ' ')
      f.remove_prefix(1);
    return ParseFortranReal(f, value);
  };
  double n = 0, cloud = 0, tau = 0;
  const size_t columns = static_cast<size_t>(10 + valueColumns_);
  if (line.size() != 64 + 15 * static_cast<size_t>(valueColumns_) || line.find('*') != std::string_view::npos ||
      !field(28, 13, n) || !field(61, 3, cloud) || (c440_ && c440_ < columns && !field(64 + 15 * (c440_ - 10), 15, tau))) {
    ++sum_.malformed;
    return;
  }
  if (!Admit(n, cloud, tau))
    return;
  Kept &k = NextKept(n, tau);
  k.line += ' ';
  k.line += line;
}

CloudScreen::Kept &CloudScreen::NextKept(double n, double tau) {
  // Entries stay allocated from day to day: their lines keep their room.
  if (dayCount_ == day_.size())
    day_.emplace_back();
  Kept &k = day_[dayCount_++];
  k.n = n;
  k.tau = tau;
  k.line.clear();
  return k;
}

void CloudScreen::FlushDay() {
  std::vector<size_t> keep;
  if (c440_) {
    tau_.clear();
    time_.clear();
    for (size_t i = 0; i < dayCount_; ++i) {
      tau_.push_back(day_[i].tau);
      time_.push_back(day_[i].n);
    }
    keep = ScreenDay(tau_, time_);
  } else {
    for (size_t i = 0; i < dayCount_; ++i)
      keep.push_back(i);
  }
  for (size_t i : keep) {
    out_.buffer += day_[i].line;
    out_.buffer += '\n';
    out_.MaybeFlush();
    ++sum_.written;
  }
  dayCount_ = 0;
}

ScreeningSummary CloudScreen::Finish() {
  if (haveDay_)
    FlushDay();
  haveDay_ = false;
  if (sum_.malformed)
    diag_ << "morvane: " << taoPath_ << ": " << sum_.malformed << " líneas mal formadas ignoradas en el filtrado\n";
  out_.Commit();
  return sum_;
}

ScreeningSummary ScreenClouds(const std::string &taoPath, const std::string &ta2Path, int valueColumns, int place440,
                              std::ostream &diag) {
  std::ifstream in;
  std::string reason;
  if (!OpenInput(in, taoPath, reason))
    throw Failure(FailureKind::Output, "No se puede leer " + taoPath + ": " + reason);
  ListReader reader(in);
  std::string header;
  if (!reader.NextLine(header))
    throw Failure(FailureKind::Output, "Fichero vacío " + taoPath);
  CloudScreen screen(taoPath, ta2Path, header, valueColumns, place440, diag);
  const size_t columns = static_cast<size_t>(10 + valueColumns);
  std::string line;
  ListRecord rec;
  std::vector<double> row(columns);
  while (reader.NextLine(line)) {
    SplitListRecord(line, rec);
    if (rec.items.empty())
      continue;
    bool ok = rec.items.size() >= columns;
    for (size_t k = 0; ok && k < columns; ++k)
      ok = !rec.nulls[k] && ParseFortranReal(rec.items[k], row[k]);
    if (ok)
      screen.AddValues(row.data());
    else
      screen.SkipMalformed();
  }
  return screen.Finish();
}

} // namespace morvane
