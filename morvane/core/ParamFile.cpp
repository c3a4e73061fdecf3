#include "morvane/core/FortranIO.h"
#include "morvane/core/RunParams.h"

#include <cmath>
#include <fstream>
#include <limits>

namespace morvane {

const char *SiteOutOfRange(const RunParams &p) {
  if (!(p.latitude >= -kMaxLatitude && p.latitude <= kMaxLatitude))
    return "la latitud";
  if (!(p.longitude >= -kMaxLongitude && p.longitude <= kMaxLongitude))
    return "la longitud";
  if (!(p.altitude >= kMinAltitude && p.altitude <= kMaxAltitude))
    return "la altura";
  return nullptr;
}

bool ReadParameterFile(const std::string &path, RunParams &p, std::string &why) {
  std::ifstream in;
  std::string reason;
  if (!OpenInput(in, path, reason)) {
    why = "no se puede leer " + path + ": " + reason;
    return false;
  }
  ListReader r(in);
  auto bad = [&](ReadStatus s, const char *item) {
    if (s == ReadStatus::Ok)
      return false;
    why = std::string(s == ReadStatus::End ? "el fichero termina antes de " : "valor erróneo en ") + item +
          " (línea " + std::to_string(r.LineNumber()) + ")";
    return true;
  };
  long v = 0;
  double x = 0;
  // A single-precision parameter: a real beyond the single range has no value to hold.
  auto single = [&](const char *item, float &out) {
    if (bad(r.ReadReal(x), item))
      return false;
    if (!(std::fabs(x) <= std::numeric_limits<float>::max())) {
      why = std::string(item) + " fuera de rango (línea " + std::to_string(r.LineNumber()) + ")";
      return false;
    }
    out = static_cast<float>(x);
    return true;
  };
  if (bad(r.ReadInt(v), "el código de instrumento"))
    return false;
  if (v < 0 || v > 255) {
    why = "código de instrumento fuera de rango";
    return false;
  }
  p.instrumentCode = static_cast<int>(v);
  if (bad(r.ReadText(p.calibrationFile), "el fichero de calibrado") || bad(r.ReadText(p.outputFile), "el fichero de salida"))
    return false;
  if (bad(r.ReadInt(v), "el filtrado de nubes"))
    return false;
  p.cloudScreening = v != 0;
  // A value out of its range is refused on its own line.
  auto within = [&](const char *item, bool ok) {
    if (!ok)
      why = std::string(item) + " fuera de rango (línea " + std::to_string(r.LineNumber()) + ")";
    return ok;
  };
  if (!single("la latitud", p.latitude) ||
      !within("la latitud", std::fabs(p.latitude) <= kMaxLatitude) ||
      !single("la longitud", p.longitude) ||
      !within("la longitud", std::fabs(p.longitude) <= kMaxLongitude) ||
      !single("la altura", p.altitude) ||
      !within("la altura", p.altitude >= kMinAltitude && p.altitude <= kMaxAltitude))
    return false;

  if (!single("el NO2", p.no2))
    return false;
  p.no2Mode = 0;
  if (x == -1) {
    p.no2Mode = -1;
    if (bad(r.ReadText(p.no2File), "el fichero de NO2"))
      return false;
  } else if (x == -2) {
    p.no2Mode = -2;
  }
  if (!single("el ozono", p.ozone))
    return false;
  p.ozoneMode = 0;
  if (x == -1) {
    p.ozoneMode = -1;
    if (bad(r.ReadText(p.ozoneFile), "el fichero de ozono"))
      return false;
  }

  if (bad(r.ReadInt(v), "el número de combinaciones"))
    return false;
  if (v < 0 || v > kMaxCombinations) {
    why = "número de combinaciones de alfa fuera de 0.." + std::to_string(kMaxCombinations);
    return false;
  }
  p.combinations.assign(static_cast<size_t>(v), {});
  for (auto &comb : p.combinations) {
    if (bad(r.ReadInt(v), "el número de longitudes de onda de una combinación"))
      return false;
    if (v < 2 || v > 10) {
      why = "una combinación de alfa necesita de 2 a 10 longitudes de onda";
      return false;
    }
    std::vector<long> pos(static_cast<size_t>(v));
    if (bad(r.ReadInts(pos.data(), static_cast<int>(v)), "las posiciones de una combinación"))
      return false;
    for (long q : pos) {
      if (q < 1 || q > 10) {
        why = "posición de longitud de onda fuera de 1..10 en una combinación";
        return false;
      }
      comb.push_back(static_cast<int>(q));
    }
  }
  // A pressure is a positive value, none at all (0: no Rayleigh term) or -1 (from the altitude).
  if (!single("la presión", p.pressure) ||
      !within("la presión", p.pressure >= 0 || p.pressure == -1))
    return false;

  // Data files: one per line to the end of the file, at most 31; a blank line counts as a name.
  p.dataFiles.clear();
  std::string name;
  while (static_cast<int>(p.dataFiles.size()) < kMaxDataFiles && r.ReadText(name) == ReadStatus::Ok)
    p.dataFiles.push_back(name);
  p.useWavelength.fill(true);
  return true;
}

} // namespace morvane
