// Any bytes as the radiometer plug-in's calibration store: every section loads as a calibration list
// without crashing, and what a list saves reads back as the same numbers (to the 15 digits the store keeps).
#include "common/IniFile.h"
#include "plugins/radiometre/RadCalibration.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  TIniFile ini = TIniFile::FromBytes(bytes);
  for (const std::string& section : ini.ReadSections()) {
    radio::TCalibrations calibrations;
    std::vector<std::string> warnings;
    calibrations.Load(ini, section, warnings);
    for (const radio::TCalibr* c : calibrations) {
      for (const radio::TCoef* coef : *c)
        for (int i = 0; i < radio::kCoefCount; ++i)
          if (!std::isfinite(coef->Value(i))) __builtin_trap();
      if (!std::isfinite(c->Tcal)) __builtin_trap();
    }
    if (calibrations.Count() == 0) continue;
    // A calibration written to a fresh section reads back the same.
    TIniFile out = TIniFile::FromBytes("");
    const radio::TCalibr& first = *calibrations[0];
    radio::TCalibrations::Save(out, "S", first);
    radio::TCalibrations again;
    again.Load(out, "S", warnings);
    const radio::TCalibr* back = again.Count() ? again[0] : nullptr;
    if (!back || back->DayNumber() != first.DayNumber() || back->Tcal != first.Tcal ||
        back->UseTemp != first.UseTemp)
      __builtin_trap();
    for (const radio::TCoef* coef : first) {
      const radio::TCoef* other = back->FindCoef(coef->Filter);
      if (!other) __builtin_trap();
      const radio::TCoef* source = coef;
      for (int i = 0; i < radio::kCoefCount; ++i)
        // The store keeps 15 significant digits.
        if (std::fabs(other->Value(i) - source->Value(i)) > 1e-14 * std::fabs(source->Value(i))) __builtin_trap();
    }
  }
  return 0;
}
