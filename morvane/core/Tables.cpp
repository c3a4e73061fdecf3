#include "morvane/core/Tables.h"

#include "common/InstallLayout.h"
#include "morvane/core/FortranIO.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#ifndef MORVANE_DEFAULT_DATA_DIR
#define MORVANE_DEFAULT_DATA_DIR "data"
#endif

namespace morvane {

std::string InstrumentDesc::Label(int position) const {
  long v = static_cast<long>(lambda[static_cast<size_t>(position - 1)]);
  if (v < 0)
    v = 0;
  std::string s(4, '0');
  for (int k = 3; k >= 0; --k, v /= 10)
    s[static_cast<size_t>(k)] = static_cast<char>('0' + v % 10);
  return s;
}

std::string TablePath(const std::string &name) {
  std::error_code ec;
  if (std::filesystem::exists(name, ec))
    return name;
  const char *env = std::getenv("ZELT_DATA_DIR");
  std::filesystem::path dir = zelt_install::InstalledDataFolder();
  if (env && *env)
    dir = env;
  else if (dir.empty())
    dir = MORVANE_DEFAULT_DATA_DIR;
  return (dir / "morvane" / name).string();
}

InstrumentDesc ReadInstrument(const std::string &path, int code) {
  std::ifstream in;
  std::string reason;
  if (!OpenInput(in, path, reason))
    throw Failure(FailureKind::Table, "No se puede leer el fichero de instrumentos " + path + ": " + reason);
  ListReader r(in);
  std::string text;
  const Failure unknown(FailureKind::Instrument, "Instrument unknown ");
  if (r.ReadText(text) != ReadStatus::Ok)
    throw unknown;
  for (;;) {
    InstrumentDesc d;
    long v = 0;
    std::vector<long> refs;
    if (r.ReadText(d.name) != ReadStatus::Ok || r.ReadText(text) != ReadStatus::Ok)
      throw unknown;
    if (r.ReadInt(v) != ReadStatus::Ok)
      throw unknown;
    d.code = static_cast<int>(v);
    if (r.ReadInt(v) != ReadStatus::Ok || v < 1 || v > kMaxWavelengths)
      throw unknown;
    d.nwl = static_cast<int>(v);
    if (r.ReadReals(d.lambda.data(), d.nwl) != ReadStatus::Ok || r.ReadReals(d.fwhm.data(), d.nwl) != ReadStatus::Ok)
      throw unknown;
    if (r.ReadInt(v) != ReadStatus::Ok || v < 0 || v > d.nwl)
      throw unknown;
    d.vapour = static_cast<int>(v);
    if (d.vapour >= 1) {
      if (r.ReadCountedInts(refs, 2) != ReadStatus::Ok || refs.empty())
        throw unknown;
      for (long p : refs) {
        if (p < 1 || p > d.nwl || p == d.vapour)
          throw unknown;
        d.references.push_back(static_cast<int>(p));
      }
    }
    if (r.ReadInt(v) != ReadStatus::Ok || v < 0)
      throw unknown;
    d.extraValues = static_cast<int>(v);
    if (d.code == code)
      return d;
  }
}

namespace {

// The numeric lines of a spectral table. Title lines before the first numeric line are skipped; blank
// lines are skipped; a malformed line after the first numeric line marks the table as faulty there.
struct NumericTable {
  std::vector<std::vector<double>> rows;
  bool faulty = false; // rows end at a malformed line
};

NumericTable LoadNumericTable(const std::string &path, size_t columns, bool &opened) {
  NumericTable t;
  std::ifstream in;
  std::string reason;
  opened = OpenInput(in, path, reason);
  if (!opened)
    return t;
  ListReader r(in);
  std::string line;
  ListRecord rec;
  std::vector<double> row(columns);
  while (r.NextLine(line)) {
    SplitListRecord(line, rec);
    if (rec.items.empty())
      continue;
    bool ok = rec.items.size() >= columns;
    for (size_t c = 0; ok && c < columns; ++c)
      ok = !rec.nulls[c] && ParseFortranReal(rec.items[c], row[c]);
    if (!ok) {
      if (t.rows.empty())
        continue; // title line
      t.faulty = true;
      break;
    }
    t.rows.push_back(row);
  }
  return t;
}

// Index of the row whose wavelength is exactly lambda - 31, or -1.
long FindBandStart(const NumericTable &t, double lambda) {
  for (size_t i = 0; i < t.rows.size(); ++i)
    if (t.rows[i][0] == lambda - 31)
      return static_cast<long>(i);
  return -1;
}

} // namespace

void CalTrans(const std::string &path, const InstrumentDesc &inst, SpectralTables &t) {
  const Failure fault(FailureKind::Table, "--- Fallo en el fichero del espectro solar ---");
  bool opened = false;
  NumericTable table = LoadNumericTable(path, 2, opened);
  if (!opened)
    throw fault;
  for (int w = 0; w < inst.nwl; ++w) {
    const double sigma = inst.fwhm[static_cast<size_t>(w)] / 2.3548200450309493;
    long start = FindBandStart(table, inst.lambda[static_cast<size_t>(w)]);
    // A malformed line inside the scanned part, or too few lines, is a fault of the table.
    if (start < 0 || static_cast<size_t>(start) + kBandSize >= table.rows.size())
      throw fault;
    if (!(sigma > 0))
      throw fault;
    auto &f = t.weight[static_cast<size_t>(w)];
    double sum = 0;
    for (int k = -kBandHalf; k <= kBandHalf; ++k) {
      const double e = table.rows[static_cast<size_t>(start + 1 + k + kBandHalf)][1];
      f[static_cast<size_t>(k + kBandHalf)] =
          std::exp(-(k * k) / (2 * sigma * sigma)) / (sigma * 2.5066282746310002) * e;
      sum += f[static_cast<size_t>(k + kBandHalf)];
    }
    if (!(sum > 0) || !std::isfinite(sum))
      throw fault;
    for (double &x : f)
      x /= sum;
  }
}

namespace {

// Ozone and NO2: a missing band leaves zero coefficients; a malformed line is a fault.
template <class Store>
void ReadCoefficients(const std::string &path, const InstrumentDesc &inst, size_t columns, const std::string &message,
                      Store store) {
  const Failure fault(FailureKind::Table, message);
  bool opened = false;
  NumericTable table = LoadNumericTable(path, columns, opened);
  if (!opened)
    throw fault;
  for (int w = 0; w < inst.nwl; ++w) {
    long start = FindBandStart(table, inst.lambda[static_cast<size_t>(w)]);
    if (start < 0) {
      if (table.faulty)
        throw fault;
      continue;
    }
    for (int k = 0; k < kBandSize; ++k) {
      size_t row = static_cast<size_t>(start + 1 + k);
      if (row >= table.rows.size()) {
        if (table.faulty)
          throw fault;
        break;
      }
      store(w, k, table.rows[row]);
    }
  }
}

} // namespace

void KOzono(const std::string &path, const InstrumentDesc &inst, SpectralTables &t) {
  ReadCoefficients(path, inst, 4, "--- Fallo en el fichero de coeficientes de ozono ---",
                   [&](int w, int k, const std::vector<double> &row) {
                     t.k1[static_cast<size_t>(w)][static_cast<size_t>(k)] = static_cast<float>(row[1]);
                     t.k2[static_cast<size_t>(w)][static_cast<size_t>(k)] = static_cast<float>(row[2]);
                     t.k3[static_cast<size_t>(w)][static_cast<size_t>(k)] = static_cast<float>(row[3]);
                   });
}

void KNo2(const std::string &path, const InstrumentDesc &inst, SpectralTables &t) {
  ReadCoefficients(path, inst, 3, "--- Fallo en el fichero de coeficientes de NO2 ---",
                   [&](int w, int k, const std::vector<double> &row) {
                     t.n1[static_cast<size_t>(w)][static_cast<size_t>(k)] = static_cast<float>(row[1]);
                     t.n2[static_cast<size_t>(w)][static_cast<size_t>(k)] = static_cast<float>(row[2]);
                   });
}

VapourTable ReadVapourTable(const std::string &path) {
  auto fail = [&](const std::string &why) {
    return Failure(FailureKind::Table, "Fallo en la tabla de vapor de agua " + path + ": " + why);
  };
  std::ifstream in;
  std::string reason;
  if (!OpenInput(in, path, reason))
    throw fail(reason);
  unsigned char head[2];
  if (!in.read(reinterpret_cast<char *>(head), 2))
    throw fail("fichero vacío");
  const int count = static_cast<int16_t>(static_cast<uint16_t>(head[0] | (head[1] << 8)));
  if (count != VapourTable::kRows)
    throw fail("se esperaban 10000 filas");
  VapourTable t;
  t.rows.resize(VapourTable::kRows);
  std::vector<unsigned char> raw(static_cast<size_t>(VapourTable::kRows) * 16);
  if (!in.read(reinterpret_cast<char *>(raw.data()), static_cast<std::streamsize>(raw.size())))
    throw fail("fichero truncado");
  for (size_t i = 0; i < t.rows.size(); ++i)
    for (size_t c = 0; c < 4; ++c) {
      const unsigned char *p = &raw[i * 16 + c * 4];
      uint32_t bits = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                      (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
      float f;
      std::memcpy(&f, &bits, 4);
      if (!std::isfinite(f))
        throw fail("valor no finito");
      t.rows[i][c] = f;
    }
  // Axes: air mass constant per block of 400 and ascending; pressure constant per sub-block of 20 and
  // ascending, the same in every block; the 20 amounts ascending and the same in every sub-block.
  for (size_t i = 0; i < t.rows.size(); ++i) {
    const size_t block = i / 400, sub = (i % 400) / 20, row = i % 20;
    if (t.rows[i][0] != t.rows[block * 400][0])
      throw fail("masa de aire no constante en un bloque");
    if (t.rows[i][1] != t.rows[sub * 20][1])
      throw fail("presión no constante en un sub-bloque");
    if (t.rows[i][2] != t.rows[row][2])
      throw fail("cantidades de agua distintas entre sub-bloques");
    if (block > 0 && i % 400 == 0 && !(t.rows[i][0] > t.rows[i - 400][0]))
      throw fail("masa de aire no creciente");
    if (sub > 0 && i % 20 == 0 && i < 400 && !(t.rows[i][1] > t.rows[i - 20][1]))
      throw fail("presión no creciente");
    if (row > 0 && i < 20 && !(t.rows[i][2] > t.rows[i - 1][2]))
      throw fail("cantidad de agua no creciente");
  }
  return t;
}

double Vapor(const VapourTable &table, double t, double m, double p) {
  const auto &r = table.rows;
  auto c = [&](int row1, int col1) { return static_cast<double>(r[static_cast<size_t>(row1 - 1)][static_cast<size_t>(col1 - 1)]); };
  int i = 9601;
  for (int cand = 401; cand <= 9601; cand += 400)
    if (m <= c(cand, 1)) {
      i = cand;
      break;
    }
  int j = 381;
  for (int cand = 21; cand <= 381; cand += 20)
    if (p <= c(cand, 2)) {
      j = cand;
      break;
    }
  // Of the 400 values interpolated in air mass, only the two pressure sub-blocks around j are used.
  double v[401];
  for (int k = j - 21; k <= j + 18; ++k)
    v[k + 1] = (m - c(i, 1)) * (c(i + k, 4) - c(i - 400 + k, 4)) / (c(i, 1) - c(i - 400, 1)) + c(i + k, 4);
  double u[21];
  for (int k = 0; k <= 19; ++k)
    u[k + 1] = (p - c(j, 2)) * (v[j + k] - v[j - 20 + k]) / (c(j, 2) - c(j - 20, 2)) + v[j + k];
  int l = 20;
  for (int cand = 2; cand <= 20; ++cand)
    if (u[cand] <= t) {
      l = cand;
      break;
    }
  return (t - u[l]) * (c(l, 3) - c(l - 1, 3)) / (u[l] - u[l - 1]) + c(l, 3);
}

} // namespace morvane
