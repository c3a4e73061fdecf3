#pragma once
// The calibration file: per site, one line per calibration date with the extraterrestrial count (CN0)
// of every sun filter in the canonical filter order. Morvane reads it, so it is written with '.'.
#include <string>
#include <vector>

struct TCalibDate {
  std::string DateText;  // "yyyy m d"
  std::string CoefText;  // the coefficients, each followed by one blank
};

// Field n of a text split on a separator (field 0 is the text before the first separator).
std::string ExtractBlankField(const std::string& text, int n, char separator = ' ');

// A grid cell as a number text with `decimalMark`: an optional sign, digits, one decimal mark ('.' or
// ','), an exponent with its sign; a second decimal mark ends the number (1.2.3 -> 1.2). Empty when
// no number can be read.
std::string NormaliseRealText(const std::string& text, char decimalMark);

class TCalibFile {
 public:
  // "calibr" + site number + ".cal" in the calibration folder.
  static std::string FileNameFor(int siteNumber);

  // Reads every line of the file (a missing file gives an empty list), from the per-user calibration
  // folder, or from the legacy folder beside the data files when only that one has it.
  void Load(int siteNumber);
  // Writes every date, creating the folder; the file is replaced whole. False when it cannot.
  bool Save(std::string* error = nullptr) const;
  // The first date with that text, or null.
  TCalibDate* Find(const std::string& dateText);
  bool Remove(const std::string& dateText);  // the first such date

  std::string FileName;
  std::vector<TCalibDate> Dates;
};
