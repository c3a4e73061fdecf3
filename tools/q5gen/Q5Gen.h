#pragma once
// Generator of Q5 data files from the description files: a parameter block encoded through the
// station's PAR file, then records of every measurement type of the instrument, filled with plausible
// values (sun counts follow the sun's air mass over the site), some of them damaged on request, and an
// optional tail of erased memory. The same options and seed give the same bytes.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace q5gen {

enum DamageKind : unsigned {
  DAMAGE_END_MARKER = 1,   // 0xFE replaced: kept by the reader, flagged invalid
  DAMAGE_FRAME = 2,        // length copy destroyed: the reader skips byte by byte (and may meet
                           // chance frames inside, which swallow the records they span)
  DAMAGE_DATE = 4,         // month 13: valid, not dated
  DAMAGE_CODE = 8,         // a code no measurement type has: valid, unknown type
  DAMAGE_MARKERS = 16,     // every count an instrument marker: valid
  DAMAGE_ALL = 31,
};

struct Options {
  std::string dataDir;                 // description files; empty = the installed data folder
  std::string identifier = "SP0A0123";
  long records = 100;                  // measurement records, damaged ones included
  long long targetSize = 0;            // when > 0: records until the file reaches this many bytes
  long damaged = 0;
  unsigned damageKinds = DAMAGE_ALL;   // which damages the damaged records get, in turn at random
  long long erasedTail = 0;            // bytes of 0xFF after the records
  uint64_t seed = 1;
  int64_t start = 1750478400;          // first record, seconds since 1970 UTC (21/06/2025 04:00:00)
  int interval = 120;                  // seconds between records
  std::vector<std::pair<std::string, std::string>> params;  // station parameters: code, value text
  // Sun days: instead of the records above, direct-sun triplets every `interval` seconds over this many
  // whole days (UTC) from the start date, while the sun is above 5 degrees. Each filter's counts are
  // SunV0 x distance factor x exp(-air mass x SunTau), the air mass and distance of the Langley
  // calibration's own formulas at the site of the station parameters, the readings of a triplet 30 s
  // apart; the 1020 nm channel is written as the instrument's uncorrected count at sunTemperature.
  int sunDays = 0;
  bool sunExtras = false;        // the "SSK" type (with dark counts) instead of "NSU"
  double sunTemperature = 25.0;  // instrument temperature, degrees C
  double sunNoise = 0.0;         // relative noise of each count (0.01 = 1 %)
};

// Extraterrestrial count and optical depth of a sun filter of that wavelength in the sun days.
double SunV0(double nm);
double SunTau(double nm);

// What the file holds, as the station will read it.
struct Report {
  long typed = 0;       // valid records of a known measurement type
  long endCorrupted = 0;  // kept, flagged invalid (end marker)
  long brokenFrame = 0;   // length copy destroyed: the reader skips them byte by byte
  long undated = 0;       // valid, date bytes impossible
  long unknownCode = 0;   // valid, no measurement type
  long markers = 0;       // valid, every count an instrument marker (0xFFFF, 0xFFFB, ...)
  long long bytes = 0;
  int64_t first = 0;      // date of the first and last record, seconds since 1970 UTC
  int64_t last = 0;
};

// Builds the file's bytes; false with a message when the descriptions do not allow it.
bool Generate(const Options& options, std::string& bytes, Report& report, std::string& error);

// "YYYY-MM-DDTHH:MM:SS" (or with a blank) as seconds since 1970 UTC.
bool ParseDateTime(const std::string& text, int64_t& seconds);

}  // namespace q5gen
