#pragma once
// The input tables of the optical-depth program: instrument descriptions, the filter weights over the
// solar spectrum, ozone and NO2 coefficients over each pass band, and the water-vapour transmittance table.

#include <array>
#include <stdexcept>
#include <string>
#include <vector>

namespace morvane {

constexpr int kMaxWavelengths = 10;
constexpr int kBandHalf = 30;                 // pass band: -30..30 nm around the centre
constexpr int kBandSize = 2 * kBandHalf + 1;  // 61 points

// Failure of one run; the kind chooses the program's exit status.
enum class FailureKind { ParameterFile = 2, Instrument = 3, Table = 4, Calibration = 5, DataFile = 6, Output = 7 };

class Failure : public std::runtime_error {
public:
  Failure(FailureKind kind, const std::string &message) : std::runtime_error(message), kind_(kind) {}
  FailureKind kind() const { return kind_; }

private:
  FailureKind kind_;
};

struct InstrumentDesc {
  std::string name; // first title line of the block
  int code = 0;
  int nwl = 0;
  std::array<double, kMaxWavelengths> lambda{}; // nm, position order
  std::array<double, kMaxWavelengths> fwhm{};
  int vapour = 0;                               // 1-based position of the water-vapour channel, 0 = none
  std::vector<int> references;                  // 1 or 2 positions (1-based)
  int extraValues = 0;                          // extra values per reading block of "ssk" files
  std::string Label(int position) const;        // 4-digit wavelength label, e.g. "0440"
};

// Finds the instrument block of this code in "instruments.dat". Throws Failure(Instrument,
// "Instrument unknown ") when there is none, Failure(Table, ...) when the file is missing.
InstrumentDesc ReadInstrument(const std::string &path, int code);

// Where a table is looked for: the working folder first, then the installed data folder's "morvane"
// sub-folder ($ZELT_DATA_DIR, else the folder compiled in).
std::string TablePath(const std::string &name);

struct SpectralTables {
  // [w][k + 30]
  std::array<std::array<double, kBandSize>, kMaxWavelengths> weight{};
  std::array<std::array<float, kBandSize>, kMaxWavelengths> k1{}, k2{}, k3{};
  std::array<std::array<float, kBandSize>, kMaxWavelengths> n1{}, n2{};
};

// Filter weights from the solar spectrum; throws Failure(Table, "--- Fallo en el fichero del espectro
// solar ---") on any fault.
void CalTrans(const std::string &path, const InstrumentDesc &inst, SpectralTables &t);
void KOzono(const std::string &path, const InstrumentDesc &inst, SpectralTables &t);
void KNo2(const std::string &path, const InstrumentDesc &inst, SpectralTables &t);

// Water-vapour transmittance table: 25 air-mass blocks of 20 pressure sub-blocks of 20 amounts.
struct VapourTable {
  static constexpr int kRows = 10000;
  std::vector<std::array<float, 4>> rows; // air mass, relative pressure, water (cm), transmittance
};

// Reads "tw.dat" and checks its size and axes; throws Failure(Table, ...) naming the fault.
VapourTable ReadVapourTable(const std::string &path);

// Precipitable water (cm) for transmittance t at air mass m and relative pressure p.
double Vapor(const VapourTable &table, double t, double m, double p);

} // namespace morvane
