#include "morvane/core/FortranIO.h"
#include "morvane/core/RunParams.h"

#include <fstream>

namespace morvane {

bool ReadParameterFile(const std::string &path, RunParams &p, std::string &why) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    why = "no se puede abrir " + path;
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
  if (bad(r.ReadReal(x), "la latitud"))
    return false;
  p.latitude = static_cast<float>(x);
  if (bad(r.ReadReal(x), "la longitud"))
    return false;
  p.longitude = static_cast<float>(x);
  if (bad(r.ReadReal(x), "la altura"))
    return false;
  p.altitude = static_cast<float>(x);

  if (bad(r.ReadReal(x), "el NO2"))
    return false;
  p.no2Mode = 0;
  p.no2 = static_cast<float>(x);
  if (x == -1) {
    p.no2Mode = -1;
    if (bad(r.ReadText(p.no2File), "el fichero de NO2"))
      return false;
  } else if (x == -2) {
    p.no2Mode = -2;
  }
  if (bad(r.ReadReal(x), "el ozono"))
    return false;
  p.ozoneMode = 0;
  p.ozone = static_cast<float>(x);
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
  if (bad(r.ReadReal(x), "la presión"))
    return false;
  p.pressure = static_cast<float>(x);

  // Data files: one per line to the end of the file, at most 31; a blank line counts as a name.
  p.dataFiles.clear();
  std::string name;
  while (static_cast<int>(p.dataFiles.size()) < kMaxDataFiles && r.ReadText(name) == ReadStatus::Ok)
    p.dataFiles.push_back(name);
  p.useWavelength.fill(true);
  return true;
}

} // namespace morvane
