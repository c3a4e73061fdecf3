#include "morvane/core/Compute.h"

#include "morvane/core/Calibration.h"
#include "morvane/core/FortranIO.h"
#include "morvane/core/Physics.h"
#include "morvane/core/ResultFiles.h"
#include "morvane/core/Screening.h"
#include "morvane/core/Tables.h"
#include "morvane/core/VecExp.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <memory>
#include <numeric>
#include <optional>
#include <sstream>

namespace morvane {

namespace {

constexpr double kLoschmidt = 2.68719e19;

// Daily ozone or NO2 amounts from a "year month day value" file, in file order.
class DailyAmounts {
public:
  void Load(const std::string &path, const char *what, std::ostream &diag) {
    path_ = path;
    std::ifstream in;
    std::string reason;
    if (!OpenInput(in, path, reason))
      throw Failure(FailureKind::Table, std::string("No se puede leer el fichero de ") + what + " " + path + ": " + reason);
    ListReader r(in);
    std::string text;
    ListRecord rec;
    long bad = 0;
    while (r.NextLine(text)) {
      SplitListRecord(text, rec);
      if (rec.items.empty())
        continue;
      double n = 0, v = 0;
      if (!ParseDatedRecord(rec, 1, false, n, &v)) {
        ++bad;
        continue;
      }
      days_.emplace_back(static_cast<long>(std::floor(n)), v);
    }
    if (bad)
      diag << "morvane: " << path << ": " << bad << " líneas mal formadas ignoradas\n";
  }
  // The first line of that day.
  bool Find(long day, double &value) const {
    for (const auto &[d, v] : days_)
      if (d == day) {
        value = v;
        return true;
      }
    return false;
  }
  const std::string &path() const { return path_; }

private:
  std::string path_;
  std::vector<std::pair<long, double>> days_;
};

enum class Layout { Sun, Triplet };

// Records kept until they are written in time order: fixed-size chunks, so that a year of records is
// never copied on growth nor cleared twice.
template <class T> class RecordStore {
public:
  explicit RecordStore(size_t perRecord) : perRecord_(perRecord > 0 ? perRecord : 1) {}
  // Room for one more record, zeroed.
  T *Add() {
    if (count_ % kPerChunk == 0)
      chunks_.push_back(std::make_unique_for_overwrite<T[]>(kPerChunk * perRecord_));
    T *slot = &chunks_.back()[(count_ % kPerChunk) * perRecord_];
    std::fill_n(slot, perRecord_, T{});
    ++count_;
    return slot;
  }
  const T *operator[](size_t i) const { return &chunks_[i / kPerChunk][(i % kPerChunk) * perRecord_]; }
  size_t size() const { return count_; }

private:
  static constexpr size_t kPerChunk = 4096;
  size_t perRecord_, count_ = 0;
  std::vector<std::unique_ptr<T[]>> chunks_;
};

// A wavelength as the user knows it: its centre in nm, with its position when the instrument has that
// centre twice (the polarised and the second 1020 nm filters).
std::string WavelengthName(const InstrumentDesc &inst, int position) {
  const double nm = inst.lambda[static_cast<size_t>(position - 1)];
  std::ostringstream name;
  name << nm << " nm";
  if (std::count(inst.lambda.begin(), inst.lambda.begin() + inst.nwl, nm) > 1)
    name << " (constante " << position << ")";
  return name.str();
}

// A filter not calibrated (a constant of 0) has no optical depth, only the placeholder, and neither
// has what depends on it: said once per constant.
void SayUncalibrated(const Calibration &cal, const InstrumentDesc &inst, std::ostream &notes) {
  for (const Calibration::Uncalibrated &zero : cal.Zeros())
    notes << "morvane: " << cal.path() << ": línea " << zero.line << ": la constante de "
         << WavelengthName(inst, zero.position)
         << " es 0 (filtro sin calibrar): sus resultados en torno a esa fecha se escriben como 1.000000E-05\n";
}

// Records left without an Angstrom fit by a constant of 0 in force at one of the combination's
// wavelengths, per combination and per calibration line and position that gave the 0. A calibration
// file is the station's history: a filter not calibrated at some date only leaves the records of that
// date without a fit. A combination that no record could be fitted through is refused.
class UncalibratedFits {
public:
  explicit UncalibratedFits(int combinations) : records_(static_cast<size_t>(combinations), 0) {}
  void Count(int combination, long line, int position) { ++byZero_[{combination, line, position}]; }
  void CountRecord(int combination) { ++records_[static_cast<size_t>(combination)]; }
  void Note(const Calibration &cal, const InstrumentDesc &inst, std::ostream &notes) const {
    for (const auto &[key, n] : byZero_)
      notes << "morvane: " << cal.path() << ": línea " << key.line << ": " << n
            << " registros sin ajuste de Ångström en la combinación " << key.combination + 1 << " (la constante de "
            << WavelengthName(inst, key.position)
            << " en vigor es 0, un filtro sin calibrar): beta, alfa, SD y R escritos como 1.000000E-05\n";
  }
  // Throws Failure(Calibration) when every record of the run lacks a fit of some combination for that
  // reason; records is the number of records computed.
  void RefuseWhenNoneFitted(const Calibration &cal, const InstrumentDesc &inst, long records) const {
    for (size_t c = 0; c < records_.size(); ++c) {
      if (records == 0 || records_[c] < records)
        continue;
      std::string why;
      for (const auto &[key, n] : byZero_)
        if (key.combination == static_cast<int>(c))
          why += (why.empty() ? "" : "; ") + std::string("línea ") + std::to_string(key.line) +
                 " de calibrado rechazada (la constante de " + WavelengthName(inst, key.position) +
                 " es 0, un filtro sin calibrar, y la combinación de Ångström " + std::to_string(c + 1) +
                 " la usa en " + std::to_string(n) + " registros)";
      throw Failure(FailureKind::Calibration, cal.path() + ": " + why + ": ningún registro queda con ajuste");
    }
  }

private:
  struct Key {
    int combination;
    long line;
    int position;
    auto operator<=>(const Key &) const = default;
  };
  std::map<Key, long> byZero_;
  std::vector<long> records_; // per combination
};

std::string LastThreeLower(const std::string &name) {
  std::string t = TrimRight(name);
  std::string s = t.size() >= 3 ? t.substr(t.size() - 3) : t;
  for (char &c : s)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  return s;
}

} // namespace

ComputeSummary RunMorvane(const RunParams &prm, std::ostream &diag, const std::string &screenedFile) {
  ComputeSummary sum;
  if (const char *field = SiteOutOfRange(prm))
    throw Failure(FailureKind::ParameterFile, std::string("Valor fuera de rango: ") + field);
  const InstrumentDesc inst = ReadInstrument(TablePath("instruments.dat"), prm.instrumentCode);
  const int nwl = inst.nwl;

  // The water-vapour channel gets no optical depth of its own.
  std::array<bool, 10> use = prm.useWavelength;
  const bool vapourOn = inst.vapour >= 1 && use[static_cast<size_t>(inst.vapour - 1)];
  if (inst.vapour >= 1)
    use[static_cast<size_t>(inst.vapour - 1)] = false;
  VapourTable tw;
  if (vapourOn)
    tw = ReadVapourTable(TablePath("tw.dat"));

  std::vector<int> selected;
  for (int w = 1; w <= nwl; ++w)
    if (use[static_cast<size_t>(w - 1)])
      selected.push_back(w);
  if (selected.empty())
    throw Failure(FailureKind::ParameterFile, "ERROR: No se ha marcado ninguna longitud de onda para calcular ");
  const int nsel = static_cast<int>(selected.size());

  // Every combination must name computed wavelengths, at least two of them distinct.
  const int ncomb = static_cast<int>(prm.combinations.size());
  for (const auto &comb : prm.combinations) {
    std::vector<double> lambdas;
    for (int q : comb) {
      if (q < 1 || q > nwl || !use[static_cast<size_t>(q - 1)])
        throw Failure(FailureKind::ParameterFile,
                      "Combinación de longitudes de onda no aceptadas: la posición " + std::to_string(q) +
                          " no es una longitud de onda calculada");
      lambdas.push_back(inst.lambda[static_cast<size_t>(q - 1)]);
    }
    std::sort(lambdas.begin(), lambdas.end());
    if (std::unique(lambdas.begin(), lambdas.end()) - lambdas.begin() < 2)
      throw Failure(FailureKind::ParameterFile,
                    "Combinación de longitudes de onda no aceptadas: se necesitan dos longitudes de onda distintas");
  }

  // Screening channels, 1020, 870, 670, 440 nm: the lower position wins.
  int screen[4] = {0, 0, 0, 0};
  const double screenNm[4] = {1020, 870, 670, 440};
  for (int w = nwl; w >= 1; --w)
    for (int s = 0; s < 4; ++s)
      if (std::fabs(inst.lambda[static_cast<size_t>(w - 1)] - screenNm[s]) <= 10)
        screen[s] = w;
  for (int i = 0; i < nsel; ++i)
    if (selected[static_cast<size_t>(i)] == screen[3])
      sum.place440 = i + 1;

  SpectralTables tab;
  CalTrans(TablePath("espectro.dat"), inst, tab);
  KOzono(TablePath("ozono.dat"), inst, tab);
  KNo2(TablePath("no2.dat"), inst, tab);

  Calibration cal;
  cal.Load(prm.calibrationFile, nwl);

  DailyAmounts ozoneFile, no2File;
  if (prm.ozoneMode == -1)
    ozoneFile.Load(prm.ozoneFile, "ozono", diag);
  if (prm.no2Mode == -1)
    no2File.Load(prm.no2File, "NO2", diag);

  // Every listed data file must be readable before anything is computed.
  std::vector<std::string> files;
  for (const auto &name : prm.dataFiles) {
    if (TrimRight(name).empty()) {
      diag << "morvane: nombre de fichero de datos vacío ignorado\n";
      continue;
    }
    std::ifstream probe;
    std::string reason;
    if (!OpenInput(probe, name, reason))
      throw Failure(FailureKind::DataFile, "No se puede leer el fichero de datos " + name + ": " + reason);
    files.push_back(name);
  }

  // Per-run constants over each pass band.
  const double alt = prm.altitude;
  const double lat = prm.latitude, lon = prm.longitude;
  const double pressure = prm.pressure == -1.0f ? PressureFromAltitude(lat, alt) : static_cast<double>(prm.pressure);
  const double p = pressure / 1013.25;
  const double teff[2] = {EffectiveTemperature(false, alt), EffectiveTemperature(true, alt)};
  struct Band {
    std::array<double, kBandSize> weight, q, sigmaO3[2], sigmaNo2[2];
  };
  std::vector<Band> band(static_cast<size_t>(nwl));
  for (int w = 0; w < nwl; ++w) {
    Band &b = band[static_cast<size_t>(w)];
    const size_t ws = static_cast<size_t>(w);
    for (int k = 0; k < kBandSize; ++k) {
      const size_t ks = static_cast<size_t>(k);
      const double lk = inst.lambda[ws] + (k - kBandHalf);
      b.weight[ks] = tab.weight[ws][ks];
      b.q[ks] = RayleighQ(lk);
      for (int s = 0; s < 2; ++s) {
        const double c = lk < 345 ? 1 - teff[s] / 228 : 1 - teff[s] / 223;
        b.sigmaO3[s][ks] = tab.k1[ws][ks] * (1 + c * tab.k2[ws][ks]) / (1 + c * tab.k3[ws][ks]);
        b.sigmaNo2[s][ks] = tab.n1[ws][ks] + (teff[s] - 220) * tab.n2[ws][ks];
      }
    }
  }
  // Per combination: ln(lambda/1000) and the place among the selected wavelengths of each member.
  std::vector<double> combX(static_cast<size_t>(ncomb) * 10);
  std::vector<int> combPlace(static_cast<size_t>(ncomb) * 10);
  for (int c = 0; c < ncomb; ++c)
    for (size_t i = 0; i < prm.combinations[static_cast<size_t>(c)].size(); ++i) {
      const int q = prm.combinations[static_cast<size_t>(c)][i];
      combX[static_cast<size_t>(c) * 10 + i] = std::log(inst.lambda[static_cast<size_t>(q - 1)] / 1000);
      combPlace[static_cast<size_t>(c) * 10 + i] =
          static_cast<int>(std::find(selected.begin(), selected.end(), q) - selected.begin());
    }
  // Rayleigh optical depth of each screening channel at the site's pressure.
  double screenTauR[4] = {0, 0, 0, 0};
  for (int s = 0; s < 4; ++s)
    if (screen[s] > 0)
      screenTauR[s] = 0.008553 * std::pow(inst.lambda[static_cast<size_t>(screen[s] - 1)] / 1000, -4.07) * p;

  const int valueColumns = 2 * nsel + 8 * ncomb + (vapourOn ? 2 : 0);
  const std::string header = BuildHeader(inst, selected, ncomb, vapourOn);
  // Rows go out in ascending time, equal times in reading order. Data files come in time order as a rule:
  // the rows are then written as they are computed. Only when a record comes earlier than the one before
  // is the pass given up for one that keeps every record and sorts them.
  std::optional<AtomicFile> out;
  std::optional<CloudScreen> screening;
  std::ostringstream notes, screenNotes; // said once, for the pass that counts
  long written = 0;
  double lastWritten = 0;
  auto writeRow = [&](const ResultRow &row, const double *v) {
    const size_t start = out->buffer.size();
    AppendResultRow(out->buffer, row, v, valueColumns, false);
    // The screening takes each row as it is written: the same text it would read back from the file.
    if (screening)
      screening->AddLine(std::string_view(out->buffer).substr(start));
    out->buffer += '\n';
    out->MaybeFlush();
    lastWritten = row.n;
    ++written;
  };
  auto pass = [&](bool streaming) -> bool {
    notes.str("");
    screenNotes.str("");
    SayUncalibrated(cal, inst, notes);
    written = 0;
    screening.reset();
    out.reset();
    out.emplace(prm.outputFile);
    out->buffer = header + '\n';
    if (!screenedFile.empty())
      screening.emplace(TrimRight(prm.outputFile), screenedFile, header, valueColumns, sum.place440, screenNotes);
    RecordStore<ResultRow> rows(1);
    RecordStore<double> values(streaming ? 1 : static_cast<size_t>(valueColumns));
    std::vector<double> current(static_cast<size_t>(valueColumns));
    ResultRow currentRow;
    bool inOrder = true;
    std::map<long, std::pair<double, double>> gasOfDay; // key: day * 2 + summer
    auto lastGas = gasOfDay.end();
    long lastGasKey = 0;
    long ozoneMissingDays = 0, no2MissingDays = 0, nonFinite = 0;
    std::vector<long> unfittedRecords(static_cast<size_t>(ncomb), 0); // per combination
    UncalibratedFits uncalibratedFits(ncomb);
    long records = 0;

    std::string line;
    ListRecord rec;
    std::vector<double> counts;
    for (const auto &name : files) {
      std::ifstream in(name, std::ios::binary);
      ListReader reader(in);
      const std::string ext = LastThreeLower(name);
      const Layout layout = ext == "sun" ? Layout::Sun : Layout::Triplet;
      const int extra = ext == "ssk" ? inst.extraValues : 0;
      const int perBlock = nwl + extra;
      const int nCounts = layout == Layout::Sun ? nwl : 3 * perBlock;
      long malformed = 0, belowHorizon = 0;
      counts.resize(static_cast<size_t>(nCounts));
      for (;;) {
        if (!reader.NextLine(line))
          break;
        SplitListRecord(line, rec);
        if (rec.items.empty() && !rec.slash)
          continue;
        long date[6];
        double temp = 0;
        bool ok = rec.items.size() >= static_cast<size_t>(6 + nCounts + 1);
        for (size_t k = 0; ok && k < static_cast<size_t>(6 + nCounts + 1); ++k)
          ok = !rec.nulls[k];
        for (size_t k = 0; ok && k < 6; ++k)
          ok = ParseFortranInt(rec.items[k], date[k]);
        for (size_t k = 0; ok && k < static_cast<size_t>(nCounts); ++k)
          ok = ParseFortranReal(rec.items[6 + k], counts[k]);
        ok = ok && ParseFortranReal(rec.items[static_cast<size_t>(6 + nCounts)], temp);
        const long day = date[0], month = date[1], year = date[2], hour = date[3], minute = date[4], second = date[5];
        ok = ok && month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour >= 0 && hour <= 24 && minute >= 0 &&
             minute <= 59 && second >= 0 && second <= 60;
        if (!ok) {
          ++malformed;
          continue;
        }
        const float tinst = static_cast<float>(temp);

        const DayCount dc = DayNumber(static_cast<int>(year), static_cast<int>(month), static_cast<int>(day),
                                      static_cast<int>(hour), static_cast<int>(minute), static_cast<double>(second));
        const SunPosition sun = SunPsa(dc.hours, lat, lon, dc.n - 0.5);
        if (!(sun.elevation > 0)) {
          ++belowHorizon;
          continue;
        }
        const double r2 = sun.distance * sun.distance;
        const AirMasses am = ComputeAirMasses(sun.elevation);
        const bool summer = IsSummer(static_cast<int>(month), lat);
        const int season = summer ? 1 : 0;

        // Triplet statistics; the first channel alone is corrected to 25 degrees.
        double mx[10], mn[10], m1[10], m2[10];
        for (int w = 0; w < nwl; ++w) {
          double r[3];
          for (int j = 0; j < 3; ++j)
            r[j] = layout == Layout::Sun ? counts[static_cast<size_t>(w)] : counts[static_cast<size_t>(j * perBlock + w)];
          mx[w] = std::max({r[0], r[1], r[2]});
          mn[w] = std::min({r[0], r[1], r[2]});
          m1[w] = (r[0] + r[1] + r[2]) / 3;
          m2[w] = r[0];
        }
        const double tcorr = 1 - (static_cast<double>(tinst) - 25) * 0.0025;
        m1[0] *= tcorr;
        m2[0] *= tcorr;

        double v0[10];
        long zeroLine[10];
        cal.ConstantsAt(dc.n, v0, zeroLine);
        double t1[10], t2[10];
        for (int w = 0; w < nwl; ++w) {
          t1[w] = v0[w] > 0 ? r2 * m1[w] / v0[w] : 0;
          t2[w] = v0[w] > 0 ? r2 * m2[w] / v0[w] : 0;
        }

        int cloud = 0;
        for (int s = 0; s < 4 && !cloud; ++s) {
          const int w = screen[s] - 1;
          if (w < 0)
            continue;
          if (mn[w] == 0) {
            cloud = 1;
            break;
          }
          const double tauS = -std::log(t1[w]) / am.rayleigh + screenTauR[s];
          const double x = std::max(0.03 * tauS, 0.02);
          if (x <= std::log(mx[w] / mn[w]) / am.rayleigh)
            cloud = 1;
        }

        // Ozone and NO2 of the day, scaled once to the site altitude.
        const long dayNumber = static_cast<long>(std::floor(dc.n));
        const long gasKey = dayNumber * 2 + season;
        auto found = lastGas != gasOfDay.end() && lastGasKey == gasKey ? lastGas : gasOfDay.find(gasKey);
        if (found == gasOfDay.end()) {
          double o3 = prm.ozone, no2 = prm.no2;
          if (prm.ozoneMode == -1 && !ozoneFile.Find(dayNumber, o3)) {
            o3 = 300;
            ++ozoneMissingDays;
          }
          const double midLatitude = summer ? 2.1841e-4 : 1.9867e-4;
          if (prm.no2Mode == -2) {
            no2 = midLatitude;
          } else if (prm.no2Mode == -1 && !no2File.Find(dayNumber, no2)) {
            no2 = midLatitude;
            ++no2MissingDays;
          }
          const double scale = 1 - alt * 8.98e-6;
          found = gasOfDay.emplace(gasKey, std::make_pair(o3 * scale, no2 * scale)).first;
        }
        lastGas = found;
        lastGasKey = gasKey;
        const double o3 = found->second.first, no2 = found->second.second;

        // Aerosol optical depth of each selected wavelength.
        double *const record = streaming ? current.data() : values.Add();
        if (streaming)
          std::fill(current.begin(), current.end(), 0.0);
        double *tau1 = record;
        double *tau2 = tau1 + nsel;
        // Whether each optical depth was computed; one that was not holds the placeholder.
        bool computed[2][10] = {};
        for (int i = 0; i < nsel; ++i) {
          const int w = selected[static_cast<size_t>(i)] - 1;
          if (!(t2[w] > 0)) {
            tau1[i] = tau2[i] = kMarker;
            continue;
          }
          const Band &b = band[static_cast<size_t>(w)];
          double tr = 0, to3 = 0, tno2 = 0;
          const double ko3 = am.ozone * (o3 / 1000);
          const double kno2 = am.no2 * no2;
          double arg[3 * kBandSize], tr3[3 * kBandSize];
          BandExponents(-am.rayleigh * p, b.q.data(), -ko3, b.sigmaO3[season].data(), -kno2,
                        b.sigmaNo2[season].data(), kLoschmidt, arg, kBandSize);
          ExpArray(arg, tr3, 3 * kBandSize);
          for (size_t k = 0; k < static_cast<size_t>(kBandSize); ++k) {
            tr += b.weight[k] * tr3[k];
            to3 += b.weight[k] * tr3[kBandSize + k];
            tno2 += b.weight[k] * tr3[2 * kBandSize + k];
          }
          const double tgas = tr * to3 * tno2;
          tau1[i] = t1[w] > 0 ? std::log(tgas / t1[w]) / am.rayleigh : kMarker;
          tau2[i] = std::log(tgas / t2[w]) / am.rayleigh;
          computed[0][i] = t1[w] > 0 && std::isfinite(tau1[i]);
          computed[1][i] = std::isfinite(tau2[i]);
        }

        // Angstrom fit of each combination, pass 1 on the mean, pass 2 on the first reading. A
        // wavelength without a positive optical depth leaves the combination without a fit: its
        // logarithm does not exist, and one through a made-up value would be made up from it. A
        // constant of 0 in force at one of its wavelengths is counted apart, by the line that gave it.
        ++records;
        double *fits = tau2 + nsel;
        for (int c = 0; c < ncomb; ++c) {
          const auto &comb = prm.combinations[static_cast<size_t>(c)];
          bool uncalibrated = false;
          for (auto q = comb.begin(); q != comb.end(); ++q)
            if (const long line = zeroLine[*q - 1]; line && std::find(comb.begin(), q, *q) == q) {
              uncalibratedFits.Count(c, line, *q);
              uncalibrated = true;
            }
          if (uncalibrated)
            uncalibratedFits.CountRecord(c);
          bool counted = uncalibrated;
          for (int pass = 0; pass < 2; ++pass) {
            const double *tau = pass == 0 ? tau1 : tau2;
            double *out = fits + (pass * ncomb + c) * 4;
            double y[10];
            bool fitted = !uncalibrated;
            for (size_t i = 0; fitted && i < comb.size(); ++i) {
              const int place = combPlace[static_cast<size_t>(c) * 10 + i];
              fitted = computed[pass][place] && tau[place] > 0;
              if (fitted)
                y[i] = std::log(tau[place]);
            }
            if (!fitted) {
              std::fill_n(out, 4, kMarker);
              if (!counted)
                ++unfittedRecords[static_cast<size_t>(c)];
              counted = true;
              continue;
            }
            const FitResult f = Fit(&combX[static_cast<size_t>(c) * 10], y, static_cast<int>(comb.size()));
            out[0] = std::exp(f.a);
            out[1] = -f.b;
            out[2] = f.sd;
            out[3] = f.r2;
          }
        }

        // Precipitable water from the vapour channel against the aerosol transmittance at its wavelength.
        if (vapourOn) {
          double *water = fits + 8 * ncomb;
          const int v = inst.vapour - 1;
          const int ra = inst.references[0] - 1;
          // Without a transmittance of the vapour channel and of each reference (a constant of 0, a
          // count of 0) there is nothing to compare: an extrapolation through a missing one would pass
          // for a value.
          for (int j = 0; j < 2; ++j) {
            const double *t = j == 0 ? t1 : t2;
            bool measured = t[v] > 0;
            for (int ref : inst.references)
              measured = measured && t[ref - 1] > 0;
            double x = t[ra];
            if (inst.references.size() == 2) {
              const int rb = inst.references[1] - 1;
              x = t[rb] + (t[rb] - t[ra]) / (inst.lambda[static_cast<size_t>(rb)] - inst.lambda[static_cast<size_t>(ra)]) *
                              (inst.lambda[static_cast<size_t>(v)] - inst.lambda[static_cast<size_t>(rb)]);
            }
            water[j] = measured && x > 0 ? Vapor(tw, t[v] / x, am.water, p) : kMarker;
          }
        }
        for (double *v = record; v < record + valueColumns; ++v)
          if (!std::isfinite(*v)) {
            *v = kMarker;
            ++nonFinite;
          }

        ResultRow &row = streaming ? currentRow : *rows.Add();
        row.year = year;
        row.month = month;
        row.day = day;
        row.hour = hour;
        row.minute = minute;
        row.second = static_cast<double>(second);
        row.n = dc.n;
        row.mass = am.rayleigh;
        row.temperature = tinst;
        row.cloud = cloud;
        if (streaming) {
          if (written > 0 && row.n < lastWritten) {
            inOrder = false;
            break;
          }
          writeRow(row, record);
        }
      }
      if (!inOrder)
        return false;
      if (malformed)
        notes << "morvane: " << name << ": " << malformed << " líneas mal formadas ignoradas\n";
      if (belowHorizon)
        notes << "morvane: " << name << ": " << belowHorizon << " registros con el sol bajo el horizonte ignorados\n";
    }
    if (ozoneMissingDays)
      notes << "morvane: " << ozoneMissingDays << " días sin valor en " << ozoneFile.path() << ": se usa 300 DU\n";
    if (no2MissingDays)
      notes << "morvane: " << no2MissingDays << " días sin valor en " << no2File.path()
           << ": se usa el valor de latitudes medias de la estación\n";
    if (nonFinite)
      notes << "morvane: " << nonFinite << " valores no calculables escritos como 1.000000E-05\n";
    for (int c = 0; c < ncomb; ++c)
      if (const long n = unfittedRecords[static_cast<size_t>(c)])
        notes << "morvane: " << n << " registros sin ajuste de Ångström en la combinación " << c + 1
              << " (una de sus longitudes de onda sin espesor óptico positivo): beta, alfa, SD y R escritos como "
                 "1.000000E-05\n";
    uncalibratedFits.Note(cal, inst, notes);
    uncalibratedFits.RefuseWhenNoneFitted(cal, inst, records);

    if (!streaming) {
      // Rows in ascending time; equal times keep their reading order.
      std::vector<size_t> order(rows.size());
      std::iota(order.begin(), order.end(), size_t{0});
      std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return rows[a]->n < rows[b]->n; });
      for (size_t i : order)
        writeRow(*rows[i], values[i]);
    }
    return true;

  };
  if (!pass(true))
    pass(false);
  out->Commit();
  if (screening)
    screening->Finish();
  diag << notes.str() << screenNotes.str();

  sum.nsel = nsel;
  sum.ncomb = ncomb;
  sum.vapour = vapourOn;
  sum.valueColumns = valueColumns;
  sum.records = written;
  return sum;
}

} // namespace morvane
