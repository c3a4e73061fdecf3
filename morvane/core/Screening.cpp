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

ScreeningSummary ScreenClouds(const std::string &taoPath, const std::string &ta2Path, int valueColumns, int place440,
                              std::ostream &diag) {
  ScreeningSummary sum;
  std::ifstream in;
  std::string reason;
  if (!OpenInput(in, taoPath, reason))
    throw Failure(FailureKind::Output, "No se puede leer " + taoPath + ": " + reason);
  ListReader reader(in);
  std::string header;
  if (!reader.NextLine(header))
    throw Failure(FailureKind::Output, "Fichero vacío " + taoPath);
  AtomicFile out(ta2Path);
  out.buffer = header + '\n';

  const size_t columns = static_cast<size_t>(10 + valueColumns);
  const size_t c440 = place440 > 0 ? static_cast<size_t>(9 + place440) : 0; // 0-based column
  if (place440 <= 0)
    diag << "morvane: sin canal de 440 nm seleccionado: el filtrado sólo descarta los registros nubosos\n";

  struct Day {
    long number = 0;
    std::vector<std::vector<double>> rows;
  } day;
  auto flush = [&]() {
    std::vector<size_t> keep;
    if (c440) {
      std::vector<double> tau, time;
      for (const auto &r : day.rows) {
        tau.push_back(r[c440]);
        time.push_back(r[6]);
      }
      keep = ScreenDay(tau, time);
    } else {
      for (size_t i = 0; i < day.rows.size(); ++i)
        keep.push_back(i);
    }
    for (size_t i : keep) {
      const auto &v = day.rows[i];
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
      AppendResultRow(out.buffer, r, v.data() + 10, valueColumns, true);
      out.buffer += '\n';
      out.MaybeFlush();
      ++sum.written;
    }
    day.rows.clear();
  };

  std::string line;
  ListRecord rec;
  bool haveDay = false;
  std::vector<double> row(columns);
  while (reader.NextLine(line)) {
    SplitListRecord(line, rec);
    if (rec.items.empty())
      continue;
    bool ok = rec.items.size() >= columns;
    for (size_t k = 0; ok && k < columns; ++k)
      ok = !rec.nulls[k] && ParseFortranReal(rec.items[k], row[k]);
    if (!ok) {
      ++sum.malformed;
      continue;
    }
    ++sum.read;
    const long number = static_cast<long>(std::floor(row[6]));
    if (!haveDay || number != day.number) {
      if (haveDay)
        flush();
      day.number = number;
      haveDay = true;
    }
    // Cloudy records and records without a positive 440 nm optical depth never enter a day.
    if (row[9] == 1 || (c440 && !(row[c440] > 0)))
      continue;
    day.rows.push_back(row);
  }
  if (haveDay)
    flush();
  if (sum.malformed)
    diag << "morvane: " << taoPath << ": " << sum.malformed << " líneas mal formadas ignoradas en el filtrado\n";
  out.Commit();
  return sum;
}

} // namespace morvane
