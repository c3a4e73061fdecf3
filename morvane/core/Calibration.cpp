#include "morvane/core/Calibration.h"

#include "morvane/core/FortranIO.h"
#include "morvane/core/Physics.h"
#include "morvane/core/Tables.h"

#include <algorithm>
#include <fstream>

namespace morvane {

bool ParseDatedRecord(const ListRecord &rec, size_t values, bool exact, double &n, double *out) {
  if (rec.items.size() < 3 + values || (exact && rec.items.size() != 3 + values))
    return false;
  long date[3];
  for (size_t k = 0; k < 3 + values; ++k) {
    if (rec.nulls[k])
      return false;
    if (k < 3 ? !ParseFortranInt(rec.items[k], date[k]) : !ParseFortranReal(rec.items[k], out[k - 3]))
      return false;
  }
  if (date[1] < 1 || date[1] > 12 || date[2] < 1 || date[2] > 31)
    return false;
  n = DayNumber(static_cast<int>(date[0]), static_cast<int>(date[1]), static_cast<int>(date[2]), 0, 0, 0).n;
  return true;
}

void Calibration::Load(const std::string &path, int nwl) {
  lines_.clear();
  zeros_.clear();
  path_ = path;
  nwl_ = nwl;
  std::ifstream in;
  std::string reason;
  if (!OpenInput(in, path, reason))
    throw Failure(FailureKind::Calibration, "No se puede leer el fichero de calibrado " + path + ": " + reason);
  ListReader r(in);
  std::string text;
  ListRecord rec;
  while (r.NextLine(text)) {
    SplitListRecord(text, rec);
    if (rec.items.empty() && !rec.slash)
      continue;
    Line line{0, std::vector<double>(static_cast<size_t>(nwl)), r.LineNumber()};
    const bool ok = !rec.slash && ParseDatedRecord(rec, static_cast<size_t>(nwl), true, line.n, line.c.data());
    auto refused = [&](const std::string &why) {
      return Failure(FailureKind::Calibration,
                     path + ": línea " + std::to_string(r.LineNumber()) + " de calibrado rechazada (" + why + ")");
    };
    // Any other date's constants would stand in for this line's without a word: the run stops.
    if (!ok)
      throw refused("se esperan año, mes, día y " + std::to_string(nwl) + " constantes separadas por blancos" +
                    (text.find(',') != std::string::npos ? "; ¿coma decimal?" : ""));
    // An extraterrestrial count is positive: a negative one would pass for a transmittance of 0 on every
    // record. A 0 stands for a filter not calibrated yet, as a new calibration date starts.
    const size_t k = static_cast<size_t>(std::find_if(line.c.begin(), line.c.end(), [](double c) { return c < 0; }) -
                                         line.c.begin());
    if (k < line.c.size())
      throw refused("la constante " + std::to_string(k + 1) + " es " + std::string(rec.items[3 + k]) +
                    ", y un recuento extraterrestre no es negativo");
    for (size_t c = 0; c < line.c.size(); ++c)
      if (line.c[c] == 0)
        zeros_.push_back({r.LineNumber(), static_cast<int>(c) + 1});
    lines_.push_back(std::move(line));
  }
  if (lines_.empty())
    throw Failure(FailureKind::Calibration, "Fichero de calibrado vacío o sin líneas válidas: " + path);
  std::stable_sort(lines_.begin(), lines_.end(), [](const Line &a, const Line &b) { return a.n < b.n; });
}

void Calibration::ConstantsAt(double n, double *out, long *zeroLine) const {
  auto it = std::lower_bound(lines_.begin(), lines_.end(), n, [](const Line &l, double v) { return l.n < v; });
  const Line *use = nullptr;
  if (it == lines_.end())
    use = &lines_.back();
  else if (it == lines_.begin() || it->n == (it - 1)->n)
    use = &*it;
  if (use) {
    std::copy(use->c.begin(), use->c.end(), out);
    if (zeroLine)
      for (size_t k = 0; k < static_cast<size_t>(nwl_); ++k)
        zeroLine[k] = use->c[k] == 0 ? use->fileLine : 0;
    return;
  }
  const Line &prev = *(it - 1), &cur = *it;
  const double f = (n - prev.n) / (cur.n - prev.n);
  for (size_t k = 0; k < static_cast<size_t>(nwl_); ++k) {
    const bool uncalibrated = prev.c[k] == 0 || cur.c[k] == 0;
    out[k] = uncalibrated ? (cur.n == n ? cur.c[k] : 0) : prev.c[k] + (cur.c[k] - prev.c[k]) * f;
    // The line that leaves it at 0: the earlier one when its filter was not calibrated yet.
    if (zeroLine)
      zeroLine[k] = out[k] != 0 ? 0 : prev.c[k] == 0 && cur.n != n ? prev.fileLine : cur.fileLine;
  }
}

} // namespace morvane
